// The result tree's controller: columns from the configuration document, cell texts, hints,
// icons, header clicks and the order the sort gives.
#include "scan/FACtrl.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLocale>
#include <QTest>
#include <QToolTip>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "config/Config.h"
#include "platform/Errors.h"
#include "platform/IconList.h"
#include "tests/TestSupport.h"
#include "util/FileTime.h"

namespace purgala {
namespace {

using test::TempDir;
using test::WriteFile;

std::string Node(const std::string& name, const std::string& width = "100",
                 const std::string& index = "0", const std::string& visible = "True",
                 const std::string& readOnly = "True", const std::string& align = "left") {
    return "<node Name=\"" + name + "\" Visible=\"" + visible + "\" Index=\"" + index +
           "\" DefaultExport=\"True\" Width=\"" + width + "\" ReadOnly=\"" + readOnly +
           "\" Align=\"" + align + "\"/>";
}

// Seconds since the epoch of a UTC calendar time.
TFileTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return TFileTime{static_cast<std::int64_t>(::timegm(&tm))};
}

// Sets the default locale for one test and puts the tests' own back afterwards.
class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;
};

// Sets the time zone for one test and puts UTC back afterwards.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;
};

class FACtrlTest : public ::testing::Test {
protected:
    FACtrlTest() {
        SetProgramDirForTesting(temp_.Path());
        ResetConfigForTesting();
    }
    ~FACtrlTest() override {
        ResetConfigForTesting();
        SetProgramDirForTesting({});
    }

    // A configuration file with these column elements and no folder.
    void UseColumns(const std::string& nodes) {
        WriteFile(temp_ / "PurgalaConfig.xml", std::string(ConfigHeader) +
                                                   "<config versionNo=\"2\"><nodes>" + nodes +
                                                   "</nodes><folders/></config>");
    }
    void Build() { ctrl_->BuildColumns(tree_, GetConfig().GetRoot()->GetNodes()); }

    PVirtualNode AddFolder(const std::string& path) {
        PVirtualNode row = tree_.AddChild(nullptr);
        TFileNodeData& data = tree_.GetNodeData(row);
        data.SetText(TFieldKind::FileName, path.substr(path.rfind('/') + 1));
        data.SetText(TFieldKind::FullPath, path);
        data.SetText(TFieldKind::FileType, "folder");
        return row;
    }
    // A row as the scanner makes it.
    PVirtualNode AddFile(PVirtualNode folder, const std::string& path, std::int64_t size,
                         TFileTime write = {}) {
        PVirtualNode row = tree_.AddChild(folder);
        TFileEntryInfo info;
        info.size = size;
        info.writeTime = write;
        tree_.GetNodeData(row).AssignFile(path, path.rfind('/') + 1, info);
        return row;
    }

    std::string Text(PVirtualNode row, int column) {
        std::string text;
        tree_.OnGetText(tree_, row, column, TVSTTextType::Normal, text);
        return text;
    }
    std::string Hint(PVirtualNode row, int column) {
        std::string hint;
        tree_.OnGetHint(tree_, row, column, hint);
        return hint;
    }
    int Icon(PVirtualNode row, int column) {
        int index = -1;
        bool ghosted = false;
        tree_.OnGetImageIndex(tree_, row, TImageKind::Normal, column, ghosted, index);
        return index;
    }
    void Click(int column, Qt::MouseButton button = Qt::LeftButton) {
        tree_.OnHeaderClick(tree_, column, button);
    }
    std::vector<std::string> Names(PVirtualNode parent) {
        std::vector<std::string> names;
        for (PVirtualNode r = tree_.GetFirstChild(parent); r; r = tree_.GetNextSibling(r)) {
            names.push_back(tree_.GetNodeData(r).FileName());
        }
        return names;
    }

    TempDir temp_;
    QWidget owner_;
    TVirtualStringTree tree_;
    std::unique_ptr<TFACtrl> ctrl_ = std::make_unique<TFACtrl>(owner_, tree_);
};

// ---- cell texts -------------------------------------------------------------------------------

TEST_F(FACtrlTest, SizesShowInUnitsWithTwoDecimalsAndTheLocaleSeparators) {
    TFileNodeData row;
    const auto size = [&row](const char* text) {
        row.SetText(TFieldKind::FileSize, text);
        return TFACtrl::FormatCellText(TFieldKind::FileSize, &row);
    };
    EXPECT_EQ(size("0"), "0.00 B");
    EXPECT_EQ(size("1023"), "1,023.00 B");
    EXPECT_EQ(size("1024"), "1.00 KB");
    EXPECT_EQ(size("1536"), "1.50 KB");
    EXPECT_EQ(size("1048575"), "1,024.00 KB");
    EXPECT_EQ(size("1048576"), "1.00 MB");
    EXPECT_EQ(size("1073741824"), "1.00 GB");
    EXPECT_EQ(size("5497558138880"), "5,120.00 GB");  // 5 TiB: no larger unit
    EXPECT_EQ(size(" 12 "), "12.00 B");
    // Not numbers: empty cells.
    for (const char* text : {"", "12a", "1,024", "inf", "nan", "0x10"}) {
        EXPECT_EQ(size(text), "") << text;
    }
    EXPECT_EQ(TFACtrl::FormatCellText(TFieldKind::FileSize, nullptr), "");
    EXPECT_EQ(TFACtrl::FormatCellText(TFieldKind::SizePercentage, &row), "");
    row.SetText(TFieldKind::SizePercentage, "12.5");
    EXPECT_EQ(TFACtrl::FormatCellText(TFieldKind::SizePercentage, &row), "12.5%");

    const LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(size("1536"), "1,50 KB");
    EXPECT_EQ(size("1048575"), "1.024,00 KB");
    EXPECT_EQ(size("1.5"), "");  // a thousands separator there, not a decimal one
}

TEST_F(FACtrlTest, HintsAreTheCellTextsAndReachTheView) {
    Build();
    PVirtualNode folder = AddFolder(temp_.Path());
    PVirtualNode file = AddFile(folder, temp_ / "a.tmp", 1536, At(2024, 3, 15, 13, 5, 7));
    for (PVirtualNode row : {folder, file}) {
        for (int column = 0; column < 6; ++column) {
            EXPECT_EQ(Hint(row, column), Text(row, column)) << column;
        }
    }
    EXPECT_EQ(Text(file, 0), "a.tmp");
    EXPECT_EQ(Text(file, 2), "1.50 KB");
    EXPECT_EQ(Text(file, 5), "3/15/24 1:05:07 PM");
    EXPECT_EQ(Text(folder, 2), "");
    const QModelIndex cell = tree_.IndexOf(file, 2);
    EXPECT_EQ(cell.data(Qt::DisplayRole).toString(), "1.50 KB");
    EXPECT_EQ(cell.data(Qt::ToolTipRole).toString(), "1.50 KB");
}

// ---- columns ----------------------------------------------------------------------------------

TEST_F(FACtrlTest, DefaultDocumentGivesSixReadOnlyColumns) {
    Build();
    TVirtualTreeColumns& columns = tree_.Header().Columns();
    ASSERT_EQ(columns.Count(), 6);
    const std::vector<QString> captions = {"File Name",   "Full Path",   "File Size",
                                           "Create Time", "Access Time", "Write Time"};
    const std::vector<int> widths = {172, 173, 84, 120, 120, 120};
    for (int i = 0; i < 6; ++i) {
        TVirtualTreeColumn column = columns.Items(i);
        EXPECT_EQ(column.Text(), captions[static_cast<std::size_t>(i)]);
        EXPECT_EQ(column.Width(), widths[static_cast<std::size_t>(i)]);
        EXPECT_EQ(tree_.header()->sectionSize(i), widths[static_cast<std::size_t>(i)]);
        EXPECT_EQ(column.Alignment(), i < 2 ? TAlignment::Left : TAlignment::Right);
        EXPECT_EQ(column.Color(), QColor(0xEF, 0xF3, 0xFF));
        EXPECT_EQ(column.Position(), i);
        EXPECT_TRUE(column.Visible());
    }
    EXPECT_EQ(tree_.Header().SortColumn(), kNoColumn);
    EXPECT_TRUE(tree_.header()->updatesEnabled());
}

TEST_F(FACtrlTest, ColumnPropertiesFollowTheirElements) {
    UseColumns(Node("File Name", "50", "2", "True", "False", "Right") +
               Node("File Size", "60", "0", "False", "1", "center") +
               Node("Write Time", "70", "1", "1", "0", "right"));
    Build();
    TVirtualTreeColumns& columns = tree_.Header().Columns();
    ASSERT_EQ(columns.Count(), 3);
    // The alignment words are exact: "Right" is no right alignment.
    EXPECT_EQ(columns.Items(0).Alignment(), TAlignment::Left);
    EXPECT_EQ(columns.Items(1).Alignment(), TAlignment::Center);
    EXPECT_EQ(columns.Items(2).Alignment(), TAlignment::Right);
    const QColor tooltip = QToolTip::palette().color(QPalette::Inactive, QPalette::ToolTipBase);
    EXPECT_EQ(columns.Items(0).Color(), tooltip);
    EXPECT_EQ(columns.Items(1).Color(), QColor(0xEF, 0xF3, 0xFF));
    EXPECT_EQ(columns.Items(2).Color(), tooltip);
    EXPECT_EQ(columns.Items(0).Position(), 2);
    EXPECT_EQ(columns.Items(1).Position(), 0);
    EXPECT_EQ(columns.Items(2).Position(), 1);
    EXPECT_TRUE(columns.Items(0).Visible());
    EXPECT_FALSE(columns.Items(1).Visible());
    EXPECT_EQ(columns.Items(2).Width(), 70);

    // Building again replaces the columns and forgets the sort column.
    Click(2);
    EXPECT_EQ(tree_.Header().SortColumn(), 2);
    UseColumns(Node("Full Path"));
    ResetConfigForTesting();
    Build();
    EXPECT_EQ(columns.Count(), 1);
    EXPECT_EQ(columns.Items(0).Text(), "Full Path");
    EXPECT_EQ(tree_.Header().SortColumn(), kNoColumn);
}

TEST_F(FACtrlTest, EveryOrderOfIndexValuesGivesThatDisplayOrder) {
    std::vector<int> order = {0, 1, 2, 3, 4, 5};
    auto nodes = GetConfig().GetRoot()->GetNodes();
    do {
        for (int i = 0; i < 6; ++i) {
            nodes->GetNode(i)->SetIndex(order[static_cast<std::size_t>(i)]);
        }
        Build();
        for (int i = 0; i < 6; ++i) {
            ASSERT_EQ(tree_.Header().Columns().Items(i).Position(),
                      order[static_cast<std::size_t>(i)])
                << "column " << i << " of " << ::testing::PrintToString(order);
        }
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(FACtrlTest, AnUnreadableElementStopsTheColumnsThere) {
    // First pass: the second element has no usable width.
    UseColumns(Node("File Name", "50", "1", "False") + Node("Full Path", "wide", "0") +
               Node("File Size"));
    EXPECT_THROW(Build(), ConvertError);
    TVirtualTreeColumns& columns = tree_.Header().Columns();
    ASSERT_EQ(columns.Count(), 2);
    EXPECT_EQ(columns.Items(0).Width(), 50);
    EXPECT_EQ(columns.Items(1).Text(), "Full Path");
    // No position or visibility was applied.
    EXPECT_EQ(columns.Items(0).Position(), 0);
    EXPECT_TRUE(columns.Items(0).Visible());
    EXPECT_TRUE(tree_.header()->updatesEnabled());

    // Second pass: the first element's position and visibility are set, the rest are not.
    UseColumns(Node("File Name", "50", "1", "False") + Node("Full Path", "60", "x") +
               Node("File Size", "70", "0", "False"));
    ResetConfigForTesting();
    EXPECT_THROW(Build(), ConvertError);
    ASSERT_EQ(columns.Count(), 3);
    EXPECT_EQ(columns.Items(2).Width(), 70);
    EXPECT_EQ(columns.Items(0).Position(), 1);
    EXPECT_FALSE(columns.Items(0).Visible());
    EXPECT_TRUE(columns.Items(2).Visible());
}

TEST_F(FACtrlTest, AnUnknownColumnNameActsAsFileName) {
    UseColumns(Node("Colour") + Node("File Size", "100", "1"));
    Build();
    PVirtualNode folder = AddFolder(temp_.Path());
    WriteFile(temp_ / "b.tmp", "1");
    AddFile(folder, temp_ / "b.tmp", 1);
    AddFile(folder, temp_ / "A.tmp", 2);  // never written: no icon
    PVirtualNode b = tree_.GetFirstChild(folder);
    EXPECT_EQ(Text(b, 0), "b.tmp");
    EXPECT_GE(Icon(b, 0), 0);
    EXPECT_EQ(Icon(b, 1), -1);
    Click(0);
    EXPECT_EQ(ctrl_->SortKind, TFieldKind::FileName);
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"A.tmp", "b.tmp"}));
}

TEST_F(FACtrlTest, AnEmptyColumnListLeavesRowsBlank) {
    UseColumns("");
    Build();
    EXPECT_EQ(tree_.Header().Columns().Count(), 0);
    PVirtualNode folder = AddFolder(temp_.Path());
    EXPECT_EQ(Text(folder, 0), "");
    EXPECT_EQ(Hint(folder, 0), "");
    EXPECT_EQ(Icon(folder, 0), -1);
}

// ---- icons ------------------------------------------------------------------------------------

TEST_F(FACtrlTest, IconsShowInTheNameColumnForWhatIsOnDisk) {
    Build();
    WriteFile(temp_ / "sub/here.txt", "x");
    WriteFile(temp_ / "gone.tmp", "x");
    PVirtualNode folder = AddFolder(temp_.Path());
    PVirtualNode here = AddFile(folder, temp_ / "sub/here.txt", 1);
    PVirtualNode gone = AddFile(folder, temp_ / "gone.tmp", 1);

    const int folderIcon = Icon(folder, 0);
    ASSERT_GE(folderIcon, 0);
    EXPECT_FALSE(TIconList::Instance().Icon(folderIcon).isNull());
    tree_.SetExpanded(folder, false);
    EXPECT_EQ(Icon(folder, 0), folderIcon);

    const int fileIcon = Icon(here, 0);
    EXPECT_GE(fileIcon, 0);
    EXPECT_EQ(Icon(here, 0), fileIcon);  // the list does not grow with each request
    EXPECT_EQ(Icon(here, 1), -1);
    EXPECT_EQ(Icon(here, 5), -1);

    EXPECT_GE(Icon(gone, 0), 0);
    std::filesystem::remove(temp_ / "gone.tmp");
    EXPECT_EQ(Icon(gone, 0), -1);
    EXPECT_TRUE(tree_.IndexOf(gone, 0).data(Qt::DecorationRole).isNull());
}

TEST_F(FACtrlTest, IconPathsAreTrimmedAndNeverCutShort) {
    EXPECT_GE(ShellIconIndex(temp_.Path()), 0);
    EXPECT_GE(RowIconIndex(" " + temp_.Path() + "\t\n", true), 0);
    // An embedded NUL must not make the path name its first part.
    EXPECT_EQ(ShellIconIndex(temp_.Path() + std::string(1, '\0') + "x"), -1);
    EXPECT_EQ(ShellIconIndex(""), -1);
    // A dangling link below the folder is an entry of its own; the configured folder may be a
    // link to a folder and shows as one.
    std::filesystem::create_symlink(temp_ / "nowhere", temp_ / "dangling");
    EXPECT_GE(ShellIconIndex(temp_ / "dangling"), 0);
    std::filesystem::create_directory_symlink(temp_.Path(), temp_ / "link");
    EXPECT_EQ(ShellIconIndex(temp_ / "link", true), ShellIconIndex(temp_.Path()));
}

// ---- header clicks ----------------------------------------------------------------------------

TEST_F(FACtrlTest, HeaderClicksSetAndFlipTheDirection) {
    Build();
    PVirtualNode folder = AddFolder(temp_.Path());
    AddFile(folder, temp_ / "b", 10);
    AddFile(folder, temp_ / "a", 9);
    AddFile(folder, temp_ / "c", 100);
    const auto glyph = [this] {
        return std::pair(tree_.header()->sortIndicatorSection(),
                         tree_.header()->sortIndicatorOrder());
    };

    Click(2);
    EXPECT_EQ(tree_.Header().SortColumn(), 2);
    EXPECT_EQ(tree_.Header().SortDirection(), TSortDirection::Ascending);
    EXPECT_EQ(ctrl_->SortKind, TFieldKind::FileSize);
    EXPECT_EQ(glyph(), std::pair(2, Qt::AscendingOrder));
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"a", "b", "c"}));  // 9 before 10

    Click(2);
    EXPECT_EQ(tree_.Header().SortDirection(), TSortDirection::Descending);
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"c", "b", "a"}));

    // Another column flips again, back to ascending.
    Click(0);
    EXPECT_EQ(tree_.Header().SortColumn(), 0);
    EXPECT_EQ(tree_.Header().SortDirection(), TSortDirection::Ascending);
    EXPECT_EQ(ctrl_->SortKind, TFieldKind::FileName);
    EXPECT_EQ(glyph(), std::pair(0, Qt::AscendingOrder));
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"a", "b", "c"}));

    Click(2, Qt::RightButton);
    Click(2, Qt::MiddleButton);
    EXPECT_EQ(tree_.Header().SortColumn(), 0);
    EXPECT_EQ(tree_.Header().SortDirection(), TSortDirection::Ascending);
    EXPECT_EQ(ctrl_->SortKind, TFieldKind::FileName);
    EXPECT_EQ(glyph(), std::pair(0, Qt::AscendingOrder));
}

TEST_F(FACtrlTest, MouseOnTheHeaderSortsWithTheLeftButtonOnly) {
    Build();
    PVirtualNode folder = AddFolder(temp_.Path());
    AddFile(folder, temp_ / "b", 1);
    AddFile(folder, temp_ / "a", 2);
    tree_.resize(900, 300);
    tree_.show();
    QHeaderView* header = tree_.header();
    const QPoint sizeSection(header->sectionViewportPosition(2) + 10, header->height() / 2);

    QTest::mouseClick(header->viewport(), Qt::RightButton, {}, sizeSection);
    EXPECT_EQ(tree_.Header().SortColumn(), kNoColumn);
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"b", "a"}));

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeSection);
    EXPECT_EQ(tree_.Header().SortColumn(), 2);
    EXPECT_EQ(header->sortIndicatorSection(), 2);
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"b", "a"}));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeSection);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"a", "b"}));
}

// ---- the order of rows ------------------------------------------------------------------------

TEST_F(FACtrlTest, EqualSizesKeepTheirOrderAscendingAndReverseDescending) {
    Build();
    PVirtualNode first = AddFolder(temp_ / "one");
    AddFolder(temp_ / "two");
    for (const char* name : {"x1", "y", "x2", "x3"}) {
        AddFile(first, temp_ / name, name[0] == 'y' ? 5 : 7);
    }
    Click(2);
    EXPECT_EQ(Names(first), (std::vector<std::string>{"y", "x1", "x2", "x3"}));
    // Folder rows have no size: they count as equal, which compares as -1.
    EXPECT_EQ(Names(nullptr), (std::vector<std::string>{"one", "two"}));
    Click(2);
    EXPECT_EQ(Names(first), (std::vector<std::string>{"x3", "x2", "x1", "y"}));
    EXPECT_EQ(Names(nullptr), (std::vector<std::string>{"two", "one"}));
}

TEST_F(FACtrlTest, EmptyTimesComeFirstAscending) {
    Build();
    PVirtualNode folder = AddFolder(temp_.Path());
    AddFile(folder, temp_ / "2024", 0, At(2024, 3, 15, 13, 5, 7));
    AddFile(folder, temp_ / "none", 0);
    AddFile(folder, temp_ / "1970", 0, At(1970, 1, 1, 12));
    AddFile(folder, temp_ / "2024-morning", 0, At(2024, 3, 15, 11));
    Click(5);
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"none", "1970", "2024-morning", "2024"}));
    Click(5);
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"2024", "2024-morning", "1970", "none"}));
}

TEST_F(FACtrlTest, AFolderRowGoesBeforeAFileRowEitherWay) {
    Build();
    PVirtualNode file = tree_.AddChild(nullptr);
    tree_.GetNodeData(file).SetText(TFieldKind::FileName, "a");
    tree_.GetNodeData(file).SetText(TFieldKind::FileType, "file");
    AddFolder(temp_ / "z");
    tree_.GetNodeData(tree_.GetNextSibling(file)).SetText(TFieldKind::FileType, " folder\t");
    Click(0);
    EXPECT_EQ(Names(nullptr), (std::vector<std::string>{"z", "a"}));
    Click(0);
    EXPECT_EQ(Names(nullptr), (std::vector<std::string>{"z", "a"}));
}

TEST(FACtrlCompare, NumberTexts) {
    for (const char* text : {"0", " 12 ", "-5", "+5", "1e3", "1.5", ".5"}) {
        EXPECT_TRUE(IsNumberText(text)) << text;
    }
    for (const char* text : {"", " ", "1,024", "12a", "0x10", "inf", "nan", "1e999"}) {
        EXPECT_FALSE(IsNumberText(text)) << text;
    }
    EXPECT_EQ(CompareNumberTexts("9", "10"), -1);
    EXPECT_EQ(CompareNumberTexts("10", "9"), 1);
    EXPECT_EQ(CompareNumberTexts("5", "5"), -1);
    EXPECT_EQ(CompareNumberTexts("", ""), -1);
    EXPECT_EQ(CompareNumberTexts("abc", "-1"), 1);  // not a number: 0
    EXPECT_EQ(CompareNumberTexts("1e3", "999"), 1);

    const LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_TRUE(IsNumberText("1,5"));
    EXPECT_FALSE(IsNumberText("1.500"));
    EXPECT_EQ(CompareNumberTexts("1,5", "1,25"), 1);
}

TEST(FACtrlCompare, TimeTexts) {
    const std::string afternoon = "3/15/24 1:05:07 PM";
    EXPECT_EQ(FileTimeToText(At(2024, 3, 15, 13, 5, 7)), afternoon);
    EXPECT_EQ(CompareTimeTexts("", afternoon), -1);
    EXPECT_EQ(CompareTimeTexts("", ""), -1);
    EXPECT_EQ(CompareTimeTexts(afternoon, ""), 1);
    EXPECT_EQ(CompareTimeTexts("soon", afternoon), 1);
    EXPECT_EQ(CompareTimeTexts(afternoon, "soon"), 1);
    EXPECT_EQ(CompareTimeTexts(afternoon, afternoon), 0);
    EXPECT_EQ(CompareTimeTexts("3/15/24 11:00:00 AM", afternoon), -1);  // not by text
    EXPECT_EQ(CompareTimeTexts(afternoon, "3/15/24"), 1);               // midnight: date alone
    EXPECT_EQ(CompareTimeTexts("3/15/24", "3/14/24 11:59:59 PM"), 1);
    // Two-digit years: 1970 and 1999 are earlier than 2024.
    EXPECT_EQ(CompareTimeTexts(FileTimeToText(At(1970, 1, 1, 12)), afternoon), -1);
    EXPECT_EQ(CompareTimeTexts(FileTimeToText(At(1999, 12, 31, 23)), "1/1/00"), -1);
    // 29 February 2000 exists, though 1900 had no such day.
    EXPECT_EQ(FileTimeToText(At(2000, 2, 29, 12)), "2/29/00 12:00:00 PM");
    EXPECT_EQ(CompareTimeTexts("2/28/00 11:00:00 PM", "2/29/00 12:00:00 PM"), -1);
    EXPECT_EQ(CompareTimeTexts("2/29/00 12:00:00 PM", "3/1/00"), -1);
    EXPECT_EQ(CompareTimeTexts("2/29/00", "2/29/00"), 0);

    const LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FileTimeToText(At(2024, 3, 15, 13, 5, 7)), "15.03.24 13:05:07");
    EXPECT_EQ(CompareTimeTexts("15.03.24 09:00:00", "15.03.24 13:05:07"), -1);
    EXPECT_EQ(CompareTimeTexts("15.03.24 09:00:00", afternoon), 1);  // another locale's text
    EXPECT_EQ(CompareTimeTexts("29.02.00 08:00:00", "01.03.00"), -1);
}

// The sort converts each row's text once; it must give exactly the order of comparing rows one
// pair at a time, for every kind, both directions, equal values, odd texts and both row shapes.
class FACtrlSortEquivalence : public FACtrlTest {
protected:
    // Fills `tree` with the same rows each time: folder rows with file rows below them, some
    // as the scanner makes them, some with texts set one by one.
    static void Fill(TVirtualStringTree& tree, const std::vector<TFileTime>& times) {
        std::mt19937 random(7);
        const auto pick = [&random](const auto& values) {
            return values[std::uniform_int_distribution<std::size_t>(0, values.size() - 1)(random)];
        };
        const std::vector<std::int64_t> sizes = {0, 9, 10, 1023, 1024, 5000, 5000, 1LL << 40};
        const std::vector<std::string> sizeTexts = {"",  "9",     " 10 ", "-1", "1e3",
                                                    "x", "1,024", "9.0",  "10"};
        const std::vector<std::string> types = {"file", "file", " file", "folder", "", "File"};
        const std::vector<std::string> names = {"a.tmp", "A.TMP", "b", "a", "", "\xC3\xA9", "Z"};
        std::vector<std::string> timeTexts = {"", " ", "garbage", "1/1/70", "3/15/24"};
        for (TFileTime t : times) {
            timeTexts.push_back(FileTimeToText(t));
        }
        int id = 0;
        for (int f = 0; f < 3; ++f) {
            PVirtualNode folder = tree.AddChild(nullptr);
            TFileNodeData& data = tree.GetNodeData(folder);
            data.SetText(TFieldKind::FileName, f == 1 ? "same" : "folder" + std::to_string(f));
            data.SetText(TFieldKind::FullPath, "/f" + std::to_string(f));
            data.SetText(TFieldKind::FileType, f == 2 ? "file" : "folder");
            for (int i = 0; i < 120; ++i, ++id) {
                PVirtualNode row = tree.AddChild(folder);
                TFileNodeData& r = tree.GetNodeData(row);
                const std::string path =
                    "/f" + std::to_string(f) + "/" + pick(names) + "#" + std::to_string(id);
                if (i % 3 != 0) {
                    TFileEntryInfo info;
                    info.size = pick(sizes);
                    info.createTime = pick(times);
                    info.accessTime = pick(times);
                    info.writeTime = pick(times);
                    r.AssignFile(path, path.rfind('/') + 1, info);
                    continue;
                }
                r.SetText(TFieldKind::FullPath, path);
                r.SetText(TFieldKind::FileName, pick(names));
                r.SetText(TFieldKind::FileSize, pick(sizeTexts));
                r.SetText(TFieldKind::FileType, pick(types));
                r.SetText(TFieldKind::FileNameLength, pick(sizeTexts));
                r.SetText(TFieldKind::CreateTime, pick(timeTexts));
                r.SetText(TFieldKind::AccessTime, pick(timeTexts));
                r.SetText(TFieldKind::WriteTime, pick(timeTexts));
            }
        }
    }

    static std::vector<std::string> Order(TVirtualStringTree& tree) {
        std::vector<std::string> paths;
        for (PVirtualNode n = tree.GetFirst(); n != nullptr; n = tree.GetNext(n)) {
            paths.emplace_back(tree.GetNodeData(n).FullPath());
        }
        return paths;
    }

    void ExpectSameOrders(const std::vector<TFileTime>& times) {
        TVirtualStringTree fast;
        TVirtualStringTree slow;
        TFACtrl fastCtrl(owner_, fast);
        TFACtrl slowCtrl(owner_, slow);
        slow.OnPrepareSort = nullptr;
        Fill(fast, times);
        Fill(slow, times);
        for (std::size_t k = 0; k < kFieldKindCount; ++k) {
            for (TSortDirection direction :
                 {TSortDirection::Ascending, TSortDirection::Descending}) {
                for (auto [tree, ctrl] : {std::pair(&fast, &fastCtrl), {&slow, &slowCtrl}}) {
                    ctrl->SortKind = static_cast<TFieldKind>(k);
                    tree->Header().SetSortDirection(direction);
                    tree->SortTree(0, direction);
                }
                ASSERT_EQ(Order(fast), Order(slow))
                    << "kind " << k << (direction == TSortDirection::Ascending ? " asc" : " desc");
            }
        }
    }
};

TEST_F(FACtrlSortEquivalence, SameOrderInTheTestLocale) {
    ExpectSameOrders({TFileTime{}, At(2024, 3, 15, 13, 5, 7), At(2024, 3, 15, 13, 5, 7),
                      At(2024, 3, 15), At(1970, 1, 1), At(1970, 1, 1, 0, 0, 1),
                      At(1999, 12, 31, 23, 59, 59), At(2000, 2, 29, 12), At(2040, 6, 1, 8)});
}

TEST_F(FACtrlSortEquivalence, SameOrderAcrossASummerTimeChange) {
    const ZoneScope zone("America/New_York");
    const LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    // 2023-11-05: 01:00-02:00 local happens twice; 05:30 UTC (01:30 EDT) shows as the same
    // text as 06:30 UTC (01:30 EST), and 05:45 UTC sorts after 06:15 UTC by its text.
    ExpectSameOrders({TFileTime{}, At(2023, 11, 5, 5, 30), At(2023, 11, 5, 6, 30),
                      At(2023, 11, 5, 5, 45), At(2023, 11, 5, 6, 15), At(2023, 11, 5, 4),
                      At(2023, 3, 12, 7), At(2024, 1, 1, 5), At(1970, 1, 1, 5)});
}

}  // namespace
}  // namespace purgala
