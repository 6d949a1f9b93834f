#include "scan/RowCompare.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/SiblingSort.h"
#include "util/FileTime.h"

namespace purgala {

namespace {

QString ToQString(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// ---- numbers ----------------------------------------------------------------------------------

// Reads numbers as the user writes them, without thousands separators.
class TNumberReader {
public:
    TNumberReader() {
        locale_.setNumberOptions(locale_.numberOptions() | QLocale::RejectGroupSeparator);
    }

    std::optional<double> Read(std::string_view s) const {
        if (s.empty()) {
            return std::nullopt;
        }
        bool ok = false;
        const double value = locale_.toDouble(ToQString(s), &ok);
        // Qt reads "inf" and "nan" too; no size is ever written so, and a NaN has no order.
        if (!ok || !std::isfinite(value)) {
            return std::nullopt;
        }
        return value;
    }

private:
    QLocale locale_;
};

int CompareNumbers(double n1, double n2) {
    return n1 > n2 ? 1 : -1;
}

// ---- times ------------------------------------------------------------------------------------

constexpr std::int64_t kMsPerDay = 86'400'000;

// A time text reduced to what comparing needs: local wall-clock milliseconds, no time zone.
struct TTimeKey {
    enum class State : std::uint8_t { Empty, Invalid, Valid };
    State state = State::Empty;
    std::int64_t ms = 0;

    static TTimeKey Valid(std::int64_t ms) { return {State::Valid, ms}; }
    static TTimeKey Invalid() { return {State::Invalid, 0}; }
    friend bool operator==(const TTimeKey&, const TTimeKey&) = default;
};

int CompareTimeKeys(const TTimeKey& a, const TTimeKey& b) {
    if (a.state == TTimeKey::State::Empty) {
        return -1;
    }
    if (b.state == TTimeKey::State::Empty) {
        return 1;
    }
    if (a.state == TTimeKey::State::Invalid || b.state == TTimeKey::State::Invalid) {
        return 1;
    }
    // The texts carry whole seconds, so "less than a millisecond apart" means equal.
    return a.ms < b.ms ? -1 : (a.ms > b.ms ? 1 : 0);
}

// Whether a date format writes the year with two digits only.
bool HasTwoDigitYear(const QString& format) {
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        if (format[i] == u'\'') {
            quoted = !quoted;
            ++i;
            continue;
        }
        if (quoted || format[i] != u'y') {
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < format.size() && format[j] == u'y') {
            ++j;
        }
        if (j - i == 2) {
            return true;
        }
        i = j;
    }
    return false;
}

// Reads back what FileTimeToText writes: the date alone, or the date, a blank and the time.
class TTimeReader {
public:
    TTimeReader()
        : formats_(FileTimeFormats()),
          twoDigitYear_(HasTwoDigitYear(formats_.date)),
          centuryStart_(QDate::currentDate().year() - 79) {}

    const QLocale& Locale() const { return locale_; }
    const TFileTimeFormats& Formats() const { return formats_; }

    std::optional<std::int64_t> Read(const QString& text) const {
        if (const std::optional<QDate> date = ReadDate(text)) {
            return DayStart(*date);
        }
        // The date format may hold blanks itself: the time starts after the blank where both
        // sides read.
        for (qsizetype blank = text.indexOf(u' '); blank >= 0;
             blank = text.indexOf(u' ', blank + 1)) {
            const std::optional<QDate> date = ReadDate(text.left(blank));
            if (!date) {
                continue;
            }
            const QTime time = locale_.toTime(text.mid(blank + 1), formats_.time);
            if (time.isValid()) {
                return DayStart(*date) + time.msecsSinceStartOfDay();
            }
        }
        return std::nullopt;
    }

    TTimeKey KeyOf(std::string_view text) const {
        if (text.empty()) {
            return {};
        }
        const std::optional<std::int64_t> ms = Read(ToQString(text));
        return ms ? TTimeKey::Valid(*ms) : TTimeKey::Invalid();
    }

    static std::int64_t DayStart(const QDate& date) { return date.toJulianDay() * kMsPerDay; }

private:
    std::optional<QDate> ReadDate(const QString& text) const {
        QDate date = locale_.toDate(text, formats_.date);
        if (!date.isValid() && twoDigitYear_) {
            date = ReadLeapDayOfAnotherCentury(text);
        }
        if (!date.isValid()) {
            return std::nullopt;
        }
        return twoDigitYear_ ? InCenturyWindow(date) : date;
    }

    // Qt reads "2/29/00" as 29 February 1900, which does not exist. Each two-digit number of
    // the text is tried as a year of 2000 to 2099 with the four-digit form of the format.
    QDate ReadLeapDayOfAnotherCentury(const QString& text) const {
        QString format = formats_.date;
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            const bool twoDigits = text[i].isDigit() && text[i + 1].isDigit() &&
                                   (i == 0 || !text[i - 1].isDigit()) &&
                                   (i + 2 == text.size() || !text[i + 2].isDigit());
            if (!twoDigits) {
                continue;
            }
            QString candidate = text;
            candidate.insert(i, QLatin1String("20"));
            const QDate date = locale_.toDate(candidate, format);
            if (date.isValid() && date.month() == 2 && date.day() == 29) {
                return date;
            }
        }
        return {};
    }

    // Qt reads a two-digit year as 19xx, which would put this year's files before those of
    // 1999. The century is chosen so that the year falls within the 80 years before this one
    // or the 20 after it: file times lie in the past, and 1970 is a common one.
    QDate InCenturyWindow(const QDate& date) const {
        const int twoDigits = date.year() - 1900;
        if (twoDigits < 0 || twoDigits > 99) {
            return date;
        }
        const int offset = ((twoDigits - centuryStart_) % 100 + 100) % 100;
        return {centuryStart_ + offset, date.month(), date.day()};
    }

    QLocale locale_;
    TFileTimeFormats formats_;
    bool twoDigitYear_;
    int centuryStart_;
};

// The keys of scanned files' time texts without making and reading a text per row: each local
// day is read once, and the time of day is added. The texts are still made and read where the
// shortcut must prove itself: for the first row of every day and for a spread of times of day.
// Should any of them disagree, every row goes the long way. The times are converted in place: a
// million of them take their own eight bytes each, and no more.
class TFileTimeKeys {
public:
    explicit TFileTimeKeys(const TTimeReader& reader) : reader_(reader) {}

    // Turns each count of nanoseconds into a packed key (see TSiblingKeys::Packed); `texts`,
    // where not empty, hold the time texts of the rows that are no scanned file.
    // `times` holds the bits of signed counts, in and out: whole seconds since the epoch in
    // (TFileTime::kUnknown for none), packed keys out.
    template <typename Pack>
    void Convert(std::vector<std::uint64_t>& times, const std::vector<std::string>& texts,
                 Pack&& pack) {
        const auto get = [&](std::size_t i) { return static_cast<std::int64_t>(times[i]); };
        const auto set = [&](std::size_t i, std::int64_t t) {
            times[i] = static_cast<std::uint64_t>(t);
        };
        // First the local date and time of each, as one number: the costly part, done once.
        for (std::size_t i = 0; i < times.size(); ++i) {
            if (get(i) == TFileTime::kUnknown) {
                continue;
            }
            const std::optional<TLocalFileTime> local = FileTimeToLocal({get(i), 0});
            set(i, local ? local->date.toJulianDay() * kSecondsPerDay +
                               local->time.msecsSinceStartOfDay() / 1000
                         : TFileTime::kUnknown);
        }
        const bool shortcut = TimesOfDayReadBack() && DaysReadBack(times);
        for (std::size_t i = 0; i < times.size(); ++i) {
            const std::int64_t t = get(i);
            if (t == TFileTime::kUnknown) {
                set(i,
                    pack(texts.empty() || texts[i].empty() ? TTimeKey{} : reader_.KeyOf(texts[i])));
            } else if (shortcut) {
                const std::optional<std::int64_t>& day = days_[t / kSecondsPerDay];
                set(i, pack(day ? TTimeKey::Valid(*day + (t % kSecondsPerDay) * 1000)
                                : TTimeKey::Invalid()));
            } else {
                set(i, pack(reader_.KeyOf(LocalFileTimeToText(LocalOf(t)))));
            }
        }
    }

private:
    static constexpr std::int64_t kSecondsPerDay = 86400;

    static TLocalFileTime LocalOf(std::int64_t packed) {
        return {QDate::fromJulianDay(packed / kSecondsPerDay),
                QTime::fromMSecsSinceStartOfDay(static_cast<int>(packed % kSecondsPerDay) * 1000)};
    }

    bool TimesOfDayReadBack() const {
        const QLocale& locale = reader_.Locale();
        const QString& format = reader_.Formats().time;
        for (int hour = 0; hour < 24; ++hour) {
            for (const auto& [minute, second] : {std::pair{0, 1}, {7, 30}, {30, 0}, {59, 59}}) {
                const QTime time(hour, minute, second);
                if (locale.toTime(locale.toString(time, format), format) != time) {
                    return false;
                }
            }
        }
        return true;
    }

    // Reads each day once, and checks the shortcut against the long way on its first row.
    bool DaysReadBack(const std::vector<std::uint64_t>& times) {
        for (const std::uint64_t bits : times) {
            const auto t = static_cast<std::int64_t>(bits);
            if (t == TFileTime::kUnknown) {
                continue;
            }
            const auto [day, fresh] = days_.try_emplace(t / kSecondsPerDay);
            if (!fresh) {
                continue;
            }
            const TLocalFileTime local = LocalOf(t);
            day->second =
                reader_.Read(reader_.Locale().toString(local.date, reader_.Formats().date));
            const TTimeKey shortcut =
                day->second ? TTimeKey::Valid(*day->second + local.time.msecsSinceStartOfDay())
                            : TTimeKey::Invalid();
            if (reader_.KeyOf(LocalFileTimeToText(local)) != shortcut) {
                return false;
            }
        }
        return true;
    }

    const TTimeReader& reader_;
    std::unordered_map<qint64, std::optional<std::int64_t>> days_;
};

// ---- texts ------------------------------------------------------------------------------------

// a-z folded to A-Z, every other byte by value; on a common prefix the shorter text first.
int CompareTextsNoCase(std::string_view a, std::string_view b) {
    const auto fold = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'a' && u <= 'z' ? u - ('a' - 'A') : u;
    };
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int fa = fold(a[i]);
        const int fb = fold(b[i]);
        if (fa != fb) {
            return fa - fb;
        }
    }
    const auto difference =
        static_cast<std::ptrdiff_t>(a.size()) - static_cast<std::ptrdiff_t>(b.size());
    return static_cast<int>(std::clamp<std::ptrdiff_t>(difference, -1'000'000, 1'000'000));
}

// ---- sorting ----------------------------------------------------------------------------------

enum class TSortRule : std::uint8_t { Number, Time, AlwaysGreater, Text };

TSortRule SortRuleOf(TFieldKind kind) {
    switch (kind) {
        case TFieldKind::FileSize:
        case TFieldKind::FileNameLength:
        case TFieldKind::PathNameLength:
        case TFieldKind::SizePercentage:
        case TFieldKind::FileCount:
            return TSortRule::Number;
        case TFieldKind::FileType:
            return TSortRule::AlwaysGreater;
        case TFieldKind::CreateTime:
        case TFieldKind::AccessTime:
        case TFieldKind::WriteTime:
            return TSortRule::Time;
        default:
            return TSortRule::Text;
    }
}

// Rows of different types: a folder row goes first in both directions.
int CompareTypes(bool firstIsFolder, bool ascending) {
    return firstIsFolder == ascending ? -1 : 1;
}

// One set of siblings with each row's sort text converted once; compares positions exactly as
// TreeCompareNodes compares the rows. A million rows are sorted at once, so a key takes eight
// bytes and the types are kept only where rows of other types than a scanned file's are among
// them.
class TSiblingKeys {
public:
    // `typedRows`: how many rows have a type of their own to compare first, 0 where all are
    // scanned files.
    TSiblingKeys(TSortRule rule, bool ascending, std::size_t typedRows)
        : rule_(rule), ascending_(ascending), types_(typedRows) {}

    // The rows' types, trimmed, as small numbers: equal numbers for equal texts.
    void SetType(std::size_t row, std::string_view type) {
        if (types_.empty()) {
            return;
        }
        type = TrimBlanks(type);
        const auto known = std::find(typeNames_.begin(), typeNames_.end(), type);
        types_[row] = static_cast<std::uint32_t>(known - typeNames_.begin());
        if (known == typeNames_.end()) {
            typeNames_.emplace_back(type);
            if (type == kFolderType) {
                folderType_ = types_[row];
            }
        }
    }
    // The keys themselves, made elsewhere: a million of them are taken over, not copied.
    void AdoptNumbers(std::vector<double> numbers) { numbers_ = std::move(numbers); }
    // Packed time keys (see Packed), as the bits of the signed values.
    void AdoptTimes(std::vector<std::uint64_t> packed) { times_ = std::move(packed); }
    void AdoptTexts(std::vector<std::string> texts) { texts_ = std::move(texts); }

    int operator()(std::size_t a, std::size_t b) const {
        if (!types_.empty() && types_[a] != types_[b]) {
            return CompareTypes(types_[a] == folderType_, ascending_);
        }
        switch (rule_) {
            case TSortRule::Number:
                return CompareNumbers(numbers_[a], numbers_[b]);
            case TSortRule::Time:
                return CompareTimeKeys(Unpacked(static_cast<std::int64_t>(times_[a])),
                                       Unpacked(static_cast<std::int64_t>(times_[b])));
            case TSortRule::AlwaysGreater:
                return 1;
            case TSortRule::Text:
                return CompareTextsNoCase(texts_[a], texts_[b]);
        }
        return 0;
    }

    // Valid keys are milliseconds from the start of the Julian calendar, far from these two.
    static constexpr std::int64_t kEmpty = std::numeric_limits<std::int64_t>::min();
    static constexpr std::int64_t kInvalid = kEmpty + 1;

    static std::int64_t Packed(TTimeKey key) {
        switch (key.state) {
            case TTimeKey::State::Empty:
                return kEmpty;
            case TTimeKey::State::Invalid:
                return kInvalid;
            case TTimeKey::State::Valid:
                break;
        }
        return std::max(key.ms, kInvalid + 1);
    }

private:
    static constexpr std::uint32_t kNoType = ~std::uint32_t{0};

    static TTimeKey Unpacked(std::int64_t packed) {
        if (packed == kEmpty) {
            return {};
        }
        return packed == kInvalid ? TTimeKey::Invalid() : TTimeKey::Valid(packed);
    }

    TSortRule rule_;
    bool ascending_;
    std::vector<std::uint32_t> types_;
    std::vector<std::string> typeNames_;
    std::uint32_t folderType_ = kNoType;
    std::vector<double> numbers_;
    std::vector<std::uint64_t> times_;
    std::vector<std::string> texts_;
};

}  // namespace

std::string_view TrimBlanks(std::string_view s) {
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

int CompareRows(const TFileNodeData& row1, const TFileNodeData& row2, TFieldKind kind,
                bool ascending) {
    const std::string type1 = row1.FileType();
    const std::string type2 = row2.FileType();
    const std::string_view a = TrimBlanks(type1);
    const std::string_view b = TrimBlanks(type2);
    if (a != b) {
        return CompareTypes(a == kFolderType, ascending);
    }
    const std::string t1 = row1.Text(kind);
    const std::string t2 = row2.Text(kind);
    switch (SortRuleOf(kind)) {
        case TSortRule::Number:
            return CompareNumberTexts(t1, t2);
        case TSortRule::AlwaysGreater:
            return 1;
        case TSortRule::Time:
            return CompareTimeTexts(t1, t2);
        case TSortRule::Text:
            return CompareTextsNoCase(t1, t2);
    }
    return 0;
}

namespace {

// What the order of one set of siblings is made of, copied out of the rows: a scanned file's
// size or time as its number (a time as its count of nanoseconds), every other value as its
// text. Where every row is a scanned file and every key fits 32 bits, the keys and the
// positions go into one 64-bit number each and are sorted as numbers, in place: a million rows
// take eight bytes each, and the answer is the same as the general sort's.
struct TSortInput {
    TSortRule rule = TSortRule::Text;
    bool ascending = true;
    bool allScannedFiles = true;
    std::vector<std::string> types;     // only where rows other than scanned files are among them
    std::vector<double> numbers;        // numbers read from texts
    std::vector<std::uint64_t> values;  // scanned sizes, or the bits of scanned times' counts
    std::vector<std::string> texts;     // texts, and the time texts of rows that are no file
    std::size_t count = 0;

    // The order, made of this input, which it uses up.
    TResultTree::TOrder Order() && {
        if (rule == TSortRule::Time) {
            const TTimeReader reader;
            TFileTimeKeys(reader).Convert(values, texts, &TSiblingKeys::Packed);
            std::vector<std::string>().swap(texts);
        }
        if (allScannedFiles && (rule == TSortRule::Number || rule == TSortRule::Time) &&
            !values.empty() && Keyed()) {
            return std::move(values);
        }
        TSiblingKeys keys(rule, ascending, types.size());
        for (std::size_t i = 0; i < types.size(); ++i) {
            keys.SetType(i, types[i]);
        }
        std::vector<std::string>().swap(types);
        switch (rule) {
            case TSortRule::Number:
                if (!values.empty()) {
                    numbers.assign(values.begin(), values.end());
                    std::vector<std::uint64_t>().swap(values);
                }
                keys.AdoptNumbers(std::move(numbers));
                break;
            case TSortRule::Time:
                keys.AdoptTimes(std::move(values));
                break;
            case TSortRule::Text:
                keys.AdoptTexts(std::move(texts));
                break;
            case TSortRule::AlwaysGreater:
                break;
        }
        return SortedOrder(count, keys, ascending);
    }

    // Sorts `values` (sizes, or packed time keys) as key-and-position numbers, when every key
    // fits 32 bits; false, leaving them as they were, when one does not. Ties go as the general
    // sort takes them: equal sizes and files without a time (never "equal" to each other, but
    // first) reversed when descending, equal times kept in their order either way.
    bool Keyed() {
        constexpr std::uint64_t kMax32 = 0xFFFF'FFFFu;
        const bool times = rule == TSortRule::Time;
        std::int64_t least = std::numeric_limits<std::int64_t>::max();
        std::int64_t most = std::numeric_limits<std::int64_t>::min();
        for (const std::uint64_t bits : values) {
            if (!times) {
                most = std::max(most, static_cast<std::int64_t>(bits));
                continue;
            }
            const auto key = static_cast<std::int64_t>(bits);
            if (key == TSiblingKeys::kInvalid) {
                return false;  // no order of its own to keep
            }
            if (key != TSiblingKeys::kEmpty) {
                least = std::min(least, key);
                most = std::max(most, key);
            }
        }
        // Times are whole seconds; key 0 is "no time", 1.. the seconds from the earliest.
        if (times ? most > least && (most - least) / 1000 >= std::int64_t{kMax32} - 2
                  : most >= std::int64_t{kMax32}) {
            return false;
        }
        const std::size_t count = values.size();
        for (std::size_t i = 0; i < count; ++i) {
            const auto value = static_cast<std::int64_t>(values[i]);
            std::uint64_t key = 0;
            bool reversed = !ascending;  // ties reversed when descending
            if (times) {
                if (value != TSiblingKeys::kEmpty) {
                    key = 1 + static_cast<std::uint64_t>((value - least) / 1000);
                    reversed = false;
                    if (!ascending) {
                        key = kMax32 - 1 - key;  // latest first; "no time" (kMax32) last
                    }
                } else if (!ascending) {
                    key = kMax32;
                }
            } else {
                key = static_cast<std::uint64_t>(value);
                if (!ascending) {
                    key = kMax32 - key;
                }
            }
            values[i] = key << 32 | (reversed ? kMax32 - i : i);
        }
        std::sort(values.begin(), values.end());
        for (std::uint64_t& entry : values) {
            const std::uint64_t low = entry & kMax32;
            const bool reversed = !ascending && (!times || entry >> 32 == kMax32);
            entry = reversed ? kMax32 - low : low;
        }
        return true;
    }
};

}  // namespace

TResultTree::TOrderMaker SiblingOrder(const TResultTree& tree, const TSiblingRows& rows,
                                      TFieldKind kind, bool ascending) {
    auto input = std::make_shared<TSortInput>();
    input->rule = SortRuleOf(kind);
    input->ascending = ascending;
    for (std::size_t i = 0; i < rows.size() && input->allScannedFiles; ++i) {
        input->allScannedFiles = tree.GetNodeData(rows[i]).IsScannedFile();
    }
    const TNumberReader numbers;
    const std::size_t count = rows.size();
    input->count = count;
    const bool scannedSizes = input->allScannedFiles && kind == TFieldKind::FileSize;
    if (!input->allScannedFiles) {
        input->types.resize(count);
    }
    switch (input->rule) {
        case TSortRule::Number:
            if (scannedSizes) {
                input->values.resize(count);
            } else {
                input->numbers.resize(count);
            }
            break;
        case TSortRule::Time:
            input->values.resize(count, static_cast<std::uint64_t>(TFileTime::kUnknown));
            break;
        case TSortRule::Text:
            input->texts.resize(count);
            break;
        case TSortRule::AlwaysGreater:
            break;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const TFileNodeData& data = tree.GetNodeData(rows[i]);
        const bool scanned = data.IsScannedFile();
        if (!input->types.empty()) {
            input->types[i] = scanned ? std::string(kFileType) : data.FileType();
        }
        switch (input->rule) {
            case TSortRule::Number:
                // A scanned file's size text is its byte count written out: reading it back
                // gives the same double as converting the count.
                if (scannedSizes) {
                    input->values[i] = static_cast<std::uint64_t>(data.Size());
                } else {
                    input->numbers[i] = scanned && kind == TFieldKind::FileSize
                                            ? static_cast<double>(data.Size())
                                            : numbers.Read(data.Text(kind)).value_or(0.0);
                }
                break;
            case TSortRule::Time:
                if (scanned) {
                    // Whole seconds: what the texts show, and an access time may lie beyond
                    // what a count of nanoseconds reaches.
                    input->values[i] = static_cast<std::uint64_t>(data.Time(kind).seconds);
                } else {
                    input->texts.resize(count);
                    input->texts[i] = data.Text(kind);
                }
                break;
            case TSortRule::Text:
                input->texts[i] = data.Text(kind);
                break;
            case TSortRule::AlwaysGreater:
                break;
        }
    }
    return
        [input = std::move(input)]() -> TResultTree::TOrder { return std::move(*input).Order(); };
}

bool IsNumberText(std::string_view s) {
    return TNumberReader().Read(s).has_value();
}

int CompareNumberTexts(std::string_view s1, std::string_view s2) {
    const TNumberReader reader;
    return CompareNumbers(reader.Read(s1).value_or(0.0), reader.Read(s2).value_or(0.0));
}

int CompareTimeTexts(std::string_view s1, std::string_view s2) {
    if (s1.empty()) {
        return -1;
    }
    if (s2.empty()) {
        return 1;
    }
    const TTimeReader reader;
    return CompareTimeKeys(reader.KeyOf(s1), reader.KeyOf(s2));
}

std::optional<double> NumberOfText(std::string_view s) {
    return TNumberReader().Read(s);
}

}  // namespace purgala
