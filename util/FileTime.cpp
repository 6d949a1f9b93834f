#include "util/FileTime.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <algorithm>
#include <ctime>
#include <optional>

namespace purgala {

namespace {

bool IsFormatLetter(QChar c) {
    return c.isLetter() && c.unicode() < 128;
}

// The time part of the texts, in the locale's own conventions but always with seconds: the
// hour as the locale writes it (leading zero or not, 12- or 24-hour), the locale's separator,
// two-digit minutes and seconds, and the AM/PM designator on the side the locale puts it.
// Everything is read off the locale's short time format, which every locale has.
QString TimeFormatOf(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    QString hourToken;
    QString designator;
    QString separator;
    bool designatorFirst = false;
    bool afterHour = false;  // collecting the literal text between hour and minutes
    bool separatorDone = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == u'\'') {
            // Quoted literal text; two quotes stand for one, inside quotes or not.
            QString literal;
            qsizetype j = i + 1;
            if (j < format.size() && format[j] == u'\'') {
                literal = QStringLiteral("'");
                ++j;
            } else {
                for (; j < format.size(); ++j) {
                    if (format[j] == u'\'') {
                        if (j + 1 < format.size() && format[j + 1] == u'\'') {
                            literal += u'\'';
                            ++j;
                            continue;
                        }
                        ++j;
                        break;
                    }
                    literal += format[j];
                }
            }
            if (afterHour && !separatorDone) {
                separator += literal;
            }
            i = j;
            continue;
        }
        if (!IsFormatLetter(c)) {
            if (afterHour && !separatorDone) {
                separator += c;
            }
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < format.size() && format[j] == c) {
            ++j;
        }
        const QString token = format.mid(i, j - i);
        if ((c == u'h' || c == u'H') && hourToken.isEmpty()) {
            hourToken = token;
            afterHour = true;
        } else if ((c == u'a' || c == u'A') && designator.isEmpty()) {
            designator = token;
            // "AP", "ap", "Ap", "aP": the designator with its case rule.
            if (j < format.size() && (format[j] == u'p' || format[j] == u'P')) {
                designator += format[j++];
            }
            designatorFirst = hourToken.isEmpty();
        } else if (afterHour) {
            separatorDone = true;
        }
        i = j;
    }
    if (!separatorDone || separator.isEmpty()) {
        separator = QStringLiteral(":");
    }
    const bool twelveHour = !designator.isEmpty();
    const bool leadingZero = hourToken.size() >= 2;
    QString hour = twelveHour ? QStringLiteral("h") : QStringLiteral("H");
    if (leadingZero) {
        hour += hour;
    }
    QString quotedSeparator = separator;
    quotedSeparator.replace(u'\'', QStringLiteral("''"));
    quotedSeparator = u'\'' + quotedSeparator + u'\'';
    const QString time =
        hour + quotedSeparator + QStringLiteral("mm") + quotedSeparator + QStringLiteral("ss");
    if (!twelveHour) {
        return time;
    }
    return designatorFirst ? designator + u' ' + time : time + u' ' + designator;
}

// Reading the formats off a locale costs more than the formatting itself, and the texts are
// made per painted cell: keep them until the default locale changes.
struct TFormats {
    QLocale locale;
    QString date;
    QString time;
};

const TFormats& FormatsFor(const QLocale& locale) {
    thread_local std::optional<TFormats> cached;
    if (!cached || !(cached->locale == locale)) {
        cached = TFormats{locale, locale.dateFormat(QLocale::ShortFormat), TimeFormatOf(locale)};
    }
    return *cached;
}

}  // namespace

std::optional<TLocalFileTime> FileTimeToLocal(TFileTime t) {
    if (!t.Known()) {
        return std::nullopt;
    }
    // The C library applies the offset in force at that moment, summer time included. It is
    // asked directly because a local QDateTime re-reads the zone on every call, which makes up
    // most of the cost of a text.
    const auto seconds = static_cast<std::time_t>(t.seconds);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) {
        return std::nullopt;
    }
    const QDate date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    if (!date.isValid()) {
        return std::nullopt;
    }
    // A leap second shows as the second before it.
    return TLocalFileTime{date, QTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59))};
}

TFileTimeFormats FileTimeFormats() {
    const TFormats& formats = FormatsFor(QLocale());
    return {formats.date, formats.time};
}

std::string FileTimeToText(TFileTime t) {
    const std::optional<TLocalFileTime> local = FileTimeToLocal(t);
    return local ? LocalFileTimeToText(*local) : std::string();
}

std::string LocalFileTimeToText(const TLocalFileTime& local) {
    const QLocale locale;
    const TFormats& formats = FormatsFor(locale);
    QString text = locale.toString(local.date, formats.date);
    if (local.time != QTime(0, 0)) {
        text += u' ';
        text += locale.toString(local.time, formats.time);
    }
    return text.toStdString();
}

}  // namespace purgala
