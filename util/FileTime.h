#pragma once
// File times as the file system reports them, and their display texts.

#include <QDate>
#include <QString>
#include <QTime>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/FileFacts.h"

namespace purgala {

// The local date and time of `t` in the user's locale (QLocale()): the short date, then, unless
// it is exactly midnight, a blank and the time with seconds. Local time uses the offset in force
// at that moment, not today's. An unknown time gives an empty text.
std::string FileTimeToText(TFileTime t);

// The local calendar date and time that FileTimeToText shows for `t`; nothing when it shows an
// empty text. Sorting by time keys on these rather than making and reading back a text per row.
struct TLocalFileTime {
    QDate date;
    QTime time;  // whole seconds; midnight is the time of a text without time part
};
std::optional<TLocalFileTime> FileTimeToLocal(TFileTime t);
// The text FileTimeToText shows for a time whose local date and time are `local`.
std::string LocalFileTimeToText(const TLocalFileTime& local);

// The formats FileTimeToText writes with in the default locale, for reading its texts back: the
// date, then, unless the time is midnight, a blank and the time.
struct TFileTimeFormats {
    QString date;
    QString time;
};
TFileTimeFormats FileTimeFormats();

}  // namespace purgala
