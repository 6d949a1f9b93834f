#include "scan/FACtrl.h"

#include <sys/stat.h>

#include <QFile>
#include <QFileIconProvider>
#include <QIcon>
#include <QLocale>
#include <QMimeDatabase>
#include <QScopeGuard>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "platform/IconList.h"
#include "util/FileTime.h"

namespace purgala {

namespace {

constexpr std::string_view kFolderType = "folder";
constexpr std::string_view kFileType = "file";

// Blanks and control characters around a text, as typed paths and types may carry them.
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
        const QDate date = locale_.toDate(text, formats_.date);
        if (!date.isValid()) {
            return std::nullopt;
        }
        return twoDigitYear_ ? InCenturyWindow(date) : date;
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

// The key of a scanned file's time text without making and reading a text per row: each local
// day is read once, and the time of day is added. The texts are still made and read where the
// shortcut must prove itself: for the first row of every day and for a spread of times of day.
// Should any of them disagree, every row goes the long way.
class TFileTimeKeys {
public:
    explicit TFileTimeKeys(const TTimeReader& reader) : reader_(reader) {}

    bool Failed() const { return failed_; }

    TTimeKey KeyOf(TFileTime t) {
        if (failed_) {
            return reader_.KeyOf(FileTimeToText(t));
        }
        const std::optional<TLocalFileTime> local = FileTimeToLocal(t);
        if (!local) {
            return {};  // the text is empty
        }
        if (!timesChecked_) {
            timesChecked_ = true;
            failed_ = !TimesOfDayReadBack();
        }
        const auto [day, fresh] = days_.try_emplace(local->date.toJulianDay());
        if (fresh) {
            day->second =
                reader_.Read(reader_.Locale().toString(local->date, reader_.Formats().date));
        }
        TTimeKey key = TTimeKey::Invalid();
        if (day->second) {
            key = TTimeKey::Valid(*day->second + local->time.msecsSinceStartOfDay());
        }
        if (fresh && !failed_ && reader_.KeyOf(FileTimeToText(t)) != key) {
            failed_ = true;
        }
        return failed_ ? reader_.KeyOf(FileTimeToText(t)) : key;
    }

private:
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

    const TTimeReader& reader_;
    std::unordered_map<qint64, std::optional<std::int64_t>> days_;
    bool timesChecked_ = false;
    bool failed_ = false;
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
// TreeCompareNodes compares the rows.
class TSiblingKeys {
public:
    TSiblingKeys(TSortRule rule, bool ascending, std::size_t count)
        : rule_(rule), ascending_(ascending) {
        types_.resize(count);
        switch (rule) {
            case TSortRule::Number:
                numbers_.resize(count);
                break;
            case TSortRule::Time:
                times_.resize(count);
                break;
            case TSortRule::Text:
                texts_.resize(count);
                break;
            case TSortRule::AlwaysGreater:
                break;
        }
    }

    // The rows' types, trimmed, as small numbers: equal numbers for equal texts.
    void SetType(std::size_t row, std::string_view type) {
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
    void SetNumber(std::size_t row, double value) { numbers_[row] = value; }
    void SetTime(std::size_t row, TTimeKey key) { times_[row] = key; }
    void SetText(std::size_t row, std::string text) { texts_[row] = std::move(text); }

    int operator()(std::size_t a, std::size_t b) const {
        if (types_[a] != types_[b]) {
            return CompareTypes(types_[a] == folderType_, ascending_);
        }
        switch (rule_) {
            case TSortRule::Number:
                return CompareNumbers(numbers_[a], numbers_[b]);
            case TSortRule::Time:
                return CompareTimeKeys(times_[a], times_[b]);
            case TSortRule::AlwaysGreater:
                return 1;
            case TSortRule::Text:
                return CompareTextsNoCase(texts_[a], texts_[b]);
        }
        return 0;
    }

private:
    static constexpr std::uint32_t kNoType = ~std::uint32_t{0};

    TSortRule rule_;
    bool ascending_;
    std::vector<std::uint32_t> types_;
    std::vector<std::string> typeNames_;
    std::uint32_t folderType_ = kNoType;
    std::vector<double> numbers_;
    std::vector<TTimeKey> times_;
    std::vector<std::string> texts_;
};

// ---- icons ------------------------------------------------------------------------------------

QFileIconProvider& IconProvider() {
    // Made once: the provider keeps its standard icons, so they keep their place in the list.
    static QFileIconProvider provider;
    return provider;
}

// The icon of a file's type, told by its name alone: reading the file to guess its type would
// cost a disk read per painted cell.
QIcon FileTypeIcon(std::string_view path) {
    static const QMimeDatabase mimeTypes;
    const std::string_view name = path.substr(path.rfind('/') + 1);
    const QMimeType type = mimeTypes.mimeTypeForFile(
        QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size()))),
        QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) {
        icon = QIcon::fromTheme(type.genericIconName());
    }
    if (icon.isNull()) {
        icon = IconProvider().icon(QAbstractFileIconProvider::File);
    }
    return icon;
}

TAlignment AlignmentOf(const QString& align) {
    if (align == QLatin1String("right")) {
        return TAlignment::Right;
    }
    if (align == QLatin1String("center")) {
        return TAlignment::Center;
    }
    return TAlignment::Left;
}

}  // namespace

// ---- the controller ---------------------------------------------------------------------------

TFACtrl::TFACtrl(QWidget& owner, TVirtualStringTree& tree) : owner_(owner), tree_(tree) {
    tree_.OnCompareNodes = [this](TVirtualStringTree& sender, PVirtualNode node1,
                                  PVirtualNode node2, int column, int& result) {
        TreeCompareNodes(sender, node1, node2, column, result);
    };
    tree_.OnPrepareSort = [this](TVirtualStringTree& sender, std::span<const PVirtualNode> rows,
                                 int) { return PrepareSort(sender, rows); };
    tree_.OnGetText = [this](TVirtualStringTree& sender, PVirtualNode node, int column,
                             TVSTTextType type,
                             std::string& text) { TreeGetText(sender, node, column, type, text); };
    tree_.OnGetHint = [this](TVirtualStringTree& sender, PVirtualNode node, int column,
                             std::string& hint) { TreeGetHint(sender, node, column, hint); };
    tree_.OnHeaderClick = [this](TVirtualStringTree& sender, int column, Qt::MouseButton button) {
        TreeHeaderClick(sender, column, button);
    };
    tree_.OnGetImageIndex = [this](TVirtualStringTree& sender, PVirtualNode node, TImageKind kind,
                                   int column, bool& ghosted, int& imageIndex) {
        TreeGetImageIndex(sender, node, kind, column, ghosted, imageIndex);
    };
    // A right-button press on the header and a change of the focused row mean nothing here.
    tree_.OnHeaderMouseDown = [](TVirtualStringTree&, int, Qt::MouseButton) {};
    tree_.OnChange = [](TVirtualStringTree&, PVirtualNode) {};
}

TFACtrl::~TFACtrl() {
    tree_.OnGetText = nullptr;
    tree_.OnGetHint = nullptr;
    tree_.OnGetImageIndex = nullptr;
    tree_.OnCompareNodes = nullptr;
    tree_.OnPrepareSort = nullptr;
    tree_.OnHeaderClick = nullptr;
    tree_.OnHeaderMouseDown = nullptr;
    tree_.OnChange = nullptr;
}

void TFACtrl::BuildColumns(TVirtualStringTree& tree, const std::shared_ptr<IXMLNodesType>& nodes) {
    TVirtualTreeColumns& columns = tree.Header().Columns();
    columns.Clear();
    {
        columns.BeginUpdate();
        // The header must come back to life also when an element cannot be read.
        const auto resume = qScopeGuard([&columns] { columns.EndUpdate(); });
        for (int i = 0; i < nodes->GetCount(); ++i) {
            const auto node = nodes->GetNode(i);
            TVirtualTreeColumn column = columns.Add();
            column.SetText(node->GetName());
            column.SetWidth(node->GetWidth());
            column.SetColor(node->GetReadOnly() ? QColor(kReadOnlyColumnColor)
                                                : QToolTip::palette().color(QPalette::Inactive,
                                                                            QPalette::ToolTipBase));
            column.SetAlignment(AlignmentOf(node->GetAlign()));
        }
    }
    for (int i = 0; i < nodes->GetCount(); ++i) {
        const auto node = nodes->GetNode(i);
        TVirtualTreeColumn column = columns.Items(i);
        column.SetPosition(node->GetIndex());
        column.SetVisible(node->GetVisible());
    }
}

std::string TFACtrl::FormatCellText(TFieldKind kind, const TFileNodeData* data) {
    if (data == nullptr) {
        return {};
    }
    switch (kind) {
        case TFieldKind::FileSize: {
            const std::string size = data->FileSize();
            const std::optional<double> x = TNumberReader().Read(size);
            if (!x) {
                return {};
            }
            // "%n": two decimals with the user's separators, thousands included.
            QLocale locale;
            locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
            const auto format = [&locale](double value, const char* unit) {
                return (locale.toString(value, 'f', 2) + QLatin1String(unit)).toStdString();
            };
            if (*x < 1024.0) {
                return format(*x, " B");
            }
            if (*x < 1048576.0) {
                return format(*x / 1024.0, " KB");
            }
            if (*x < 1073741824.0) {
                return format(*x / 1048576.0, " MB");
            }
            return format(*x / 1073741824.0, " GB");
        }
        case TFieldKind::SizePercentage: {
            std::string percentage = data->Text(kind);
            if (!percentage.empty()) {
                percentage += '%';
            }
            return percentage;
        }
        default:
            return data->Text(kind);
    }
}

TFieldKind TFACtrl::ColumnKind(int column) {
    const auto nodes = GetConfig().GetRoot()->GetNodes();
    return FieldKindOfName(nodes->GetNode(column)->GetName().toStdString());
}

void TFACtrl::TreeGetText(TVirtualStringTree& sender, PVirtualNode node, int column, TVSTTextType,
                          std::string& cellText) {
    try {
        cellText = FormatCellText(ColumnKind(column), &sender.GetNodeData(node));
    } catch (const std::exception&) {
        // The cell keeps the empty text the tree gave it.
    }
}

void TFACtrl::TreeGetHint(TVirtualStringTree& sender, PVirtualNode node, int column,
                          std::string& hintText) {
    try {
        hintText = FormatCellText(ColumnKind(column), &sender.GetNodeData(node));
    } catch (const std::exception&) {
        // No hint rather than a message.
    }
}

void TFACtrl::TreeGetImageIndex(TVirtualStringTree& sender, PVirtualNode node, TImageKind,
                                int column, bool&, int& imageIndex) {
    try {
        if (ColumnKind(column) != TFieldKind::FileName) {
            return;
        }
    } catch (const std::exception&) {
        return;
    }
    try {
        TFileNodeData& data = sender.GetNodeData(node);
        FillIconIndexes(data.FullPath(), data.FileType() == kFolderType, data);
        imageIndex = sender.Expanded(node) ? data.ExpandedImageIndex : data.ImageIndex;
    } catch (const std::exception&) {
        imageIndex = -1;
    }
}

void TFACtrl::TreeHeaderClick(TVirtualStringTree& sender, int column, Qt::MouseButton button) {
    if (button != Qt::LeftButton) {
        return;
    }
    TVTHeader& header = sender.Header();
    if (header.SortColumn() == kNoColumn) {
        header.SetSortColumn(column);
        header.SetSortDirection(TSortDirection::Ascending);
    } else {
        // A click on another column flips the direction too, as a second click on the same one.
        header.SetSortColumn(column);
        header.SetSortDirection(header.SortDirection() == TSortDirection::Ascending
                                    ? TSortDirection::Descending
                                    : TSortDirection::Ascending);
    }
    SortKind = ColumnKind(column);
    sender.SortTree(header.SortColumn(), header.SortDirection());
}

void TFACtrl::TreeCompareNodes(TVirtualStringTree& sender, PVirtualNode node1, PVirtualNode node2,
                               int, int& result) {
    const TFileNodeData& row1 = sender.GetNodeData(node1);
    const TFileNodeData& row2 = sender.GetNodeData(node2);
    const std::string type1 = row1.FileType();
    const std::string type2 = row2.FileType();
    const std::string_view a = TrimBlanks(type1);
    const std::string_view b = TrimBlanks(type2);
    if (a != b) {
        result = CompareTypes(a == kFolderType,
                              sender.Header().SortDirection() == TSortDirection::Ascending);
        return;
    }
    const std::string t1 = row1.Text(SortKind);
    const std::string t2 = row2.Text(SortKind);
    switch (SortRuleOf(SortKind)) {
        case TSortRule::Number:
            result = CompareNumberTexts(t1, t2);
            break;
        case TSortRule::AlwaysGreater:
            result = 1;
            break;
        case TSortRule::Time:
            result = CompareTimeTexts(t1, t2);
            break;
        case TSortRule::Text:
            result = CompareTextsNoCase(t1, t2);
            break;
    }
}

std::function<int(std::size_t, std::size_t)> TFACtrl::PrepareSort(
    TVirtualStringTree& sender, std::span<const PVirtualNode> rows) {
    const TFieldKind kind = SortKind;
    const TSortRule rule = SortRuleOf(kind);
    const bool ascending = sender.Header().SortDirection() == TSortDirection::Ascending;
    TSiblingKeys keys(rule, ascending, rows.size());
    const TNumberReader numbers;
    const TTimeReader timeReader;
    TFileTimeKeys fileTimes(timeReader);

    const auto fill = [&] {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const TFileNodeData& data = sender.GetNodeData(rows[i]);
            const bool scanned = data.IsScannedFile();
            if (scanned) {
                keys.SetType(i, kFileType);
            } else {
                keys.SetType(i, data.FileType());
            }
            switch (rule) {
                case TSortRule::Number:
                    // A scanned file's size text is its byte count written out: reading it back
                    // gives the same double as converting the count.
                    keys.SetNumber(i, scanned && kind == TFieldKind::FileSize
                                          ? static_cast<double>(data.Size())
                                          : numbers.Read(data.Text(kind)).value_or(0.0));
                    break;
                case TSortRule::Time:
                    keys.SetTime(i, scanned ? fileTimes.KeyOf(data.Time(kind))
                                            : timeReader.KeyOf(data.Text(kind)));
                    break;
                case TSortRule::Text:
                    keys.SetText(i, data.Text(kind));
                    break;
                case TSortRule::AlwaysGreater:
                    break;
            }
        }
    };
    fill();
    if (fileTimes.Failed()) {
        // The rows keyed before the shortcut failed its check go the long way too.
        fill();
    }
    return keys;
}

// ---- icons ------------------------------------------------------------------------------------

void FillIconIndexes(std::string_view path, bool isFolder, TFileNodeData& data) {
    // A folder row is the configured folder, opened as typed, a link there included; below it
    // nothing is followed.
    const int index = ShellIconIndex(TrimBlanks(path), isFolder);
    data.ImageIndex = index;
    data.ExpandedImageIndex = index;
}

int ShellIconIndex(std::string_view path, bool followLink) {
    // The bytes go to the file system as they are; an embedded NUL would name another path.
    if (path.empty() || path.find('\0') != std::string_view::npos) {
        return -1;
    }
    const std::string bytes(path);
    struct stat st {};
    if ((followLink ? ::stat(bytes.c_str(), &st) : ::lstat(bytes.c_str(), &st)) != 0) {
        return -1;
    }
    const QIcon icon = S_ISDIR(st.st_mode) ? IconProvider().icon(QAbstractFileIconProvider::Folder)
                                           : FileTypeIcon(path);
    return icon.isNull() ? -1 : TIconList::Instance().IndexOf(icon);
}

// ---- comparisons ------------------------------------------------------------------------------

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

}  // namespace purgala
