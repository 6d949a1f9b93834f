#include "platform/VirtualTree.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace purgala {
namespace {

// A tree of folder rows with file rows under them, named "f<i>" and "f<i>/<j>".
class VirtualTreeTest : public ::testing::Test {
protected:
    PVirtualNode Add(PVirtualNode parent, const std::string& name) {
        PVirtualNode node = tree_.AddChild(parent);
        tree_.GetNodeData(node).SetText(TFieldKind::FileName, name);
        return node;
    }
    void Fill(int folders, int files) {
        for (int i = 0; i < folders; ++i) {
            // 'f', not "f": GCC 12 warns falsely (-Wrestrict) on a literal + a temporary string.
            const std::string name = 'f' + std::to_string(i);
            PVirtualNode folder = Add(nullptr, name);
            for (int j = 0; j < files; ++j) {
                Add(folder, name + '/' + std::to_string(j));
            }
        }
    }
    std::string Name(PVirtualNode node) { return tree_.GetNodeData(node).FileName(); }
    std::vector<std::string> Forward() {
        std::vector<std::string> names;
        for (PVirtualNode n = tree_.GetFirst(); n != nullptr; n = tree_.GetNext(n)) {
            names.push_back(Name(n));
        }
        return names;
    }
    std::vector<std::string> Backward() {
        std::vector<std::string> names;
        for (PVirtualNode n = tree_.GetLast(); n != nullptr; n = tree_.GetPrevious(n)) {
            names.insert(names.begin(), Name(n));
        }
        return names;
    }

    TVirtualStringTree tree_;
};

TEST_F(VirtualTreeTest, PreOrderWalksAgreeBothWaysAndSeeCollapsedRows) {
    Fill(3, 2);
    tree_.SetExpanded(tree_.GetFirst(), false);
    const std::vector<std::string> expected = {"f0",   "f0/0", "f0/1", "f1",  "f1/0",
                                               "f1/1", "f2",   "f2/0", "f2/1"};
    EXPECT_EQ(Forward(), expected);
    EXPECT_EQ(Backward(), expected);
    EXPECT_EQ(tree_.TotalCount(), 9u);
    EXPECT_EQ(tree_.RootNodeCount(), 3u);
    const PVirtualNode file = tree_.GetNext(tree_.GetFirst());
    EXPECT_EQ(tree_.GetNodeLevel(file), 1u);
    EXPECT_EQ(tree_.NodeParent(file), tree_.GetFirst());
    EXPECT_EQ(tree_.NodeParent(tree_.GetFirst()), nullptr);
}

TEST_F(VirtualTreeTest, DeletingKeepsSiblingPositionsRightInsideAndOutsideABracket) {
    Fill(2, 5);
    const PVirtualNode first = tree_.GetFirst();
    tree_.DeleteNode(tree_.GetNext(tree_.GetNext(first)));  // f0/1
    EXPECT_EQ(tree_.ChildCount(first), 4u);
    EXPECT_EQ(tree_.NodeIndex(tree_.GetNext(tree_.GetNext(first))), 1u);  // f0/2 moved up

    // Every other row of f1, walking backwards as the deletion does.
    tree_.BeginUpdate();
    bool drop = true;
    for (PVirtualNode n = tree_.GetLast(); tree_.GetNodeLevel(n) > 0;) {
        PVirtualNode previous = tree_.GetPrevious(n);
        if (drop) {
            tree_.DeleteNode(n);
        }
        drop = !drop;
        n = previous;
    }
    tree_.EndUpdate();
    EXPECT_EQ(Forward(), (std::vector<std::string>{"f0", "f0/0", "f0/2", "f0/3", "f0/4", "f1",
                                                   "f1/1", "f1/3"}));
    EXPECT_EQ(Backward(), Forward());
    const PVirtualNode f1 = tree_.GetNextSibling(first);
    EXPECT_EQ(tree_.NodeIndex(tree_.GetFirstChild(f1)), 0u);
    EXPECT_EQ(tree_.NodeIndex(tree_.GetNextSibling(tree_.GetFirstChild(f1))), 1u);
    EXPECT_EQ(tree_.model()->rowCount(tree_.IndexOf(f1)), 2);
}

TEST_F(VirtualTreeTest, DeletingAFolderAndThenOneOfItsRowsInOneBracket) {
    Fill(3, 3);
    const PVirtualNode f1 = tree_.GetNextSibling(tree_.GetFirst());
    const PVirtualNode f1Row = tree_.GetFirstChild(f1);
    tree_.BeginUpdate();
    tree_.DeleteNode(f1);
    tree_.DeleteNode(f1Row);
    tree_.DeleteNode(tree_.GetLast());
    tree_.EndUpdate();
    EXPECT_EQ(Forward(),
              (std::vector<std::string>{"f0", "f0/0", "f0/1", "f0/2", "f2", "f2/0", "f2/1"}));
    EXPECT_EQ(Backward(), Forward());
}

TEST_F(VirtualTreeTest, NestedBracketRefreshesOnceAtTheOutermostEnd) {
    QSignalSpy inserted(tree_.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(tree_.model(), &QAbstractItemModel::modelReset);
    tree_.BeginUpdate();
    tree_.BeginUpdate();
    Fill(2, 3);
    tree_.EndUpdate();
    EXPECT_TRUE(tree_.InUpdate());
    EXPECT_EQ(inserted.count() + reset.count(), 0);
    EXPECT_EQ(tree_.model()->rowCount(), 0);  // the view sees nothing yet
    tree_.EndUpdate();
    EXPECT_FALSE(tree_.InUpdate());
    EXPECT_EQ(tree_.model()->rowCount(), 2);
    EXPECT_EQ(tree_.model()->rowCount(tree_.IndexOf(tree_.GetFirst())), 3);
    EXPECT_LE(inserted.count() + reset.count(), 3);  // the top level and each folder, at most
    tree_.EndUpdate();                               // an unmatched end is harmless
    EXPECT_FALSE(tree_.InUpdate());
}

TEST_F(VirtualTreeTest, CheckStateWrittenDirectlyFiresNoNotification) {
    Fill(1, 1);
    const PVirtualNode file = tree_.GetNext(tree_.GetFirst());
    tree_.SetCheckType(file, TCheckType::CheckBox);
    int changes = 0;
    tree_.OnChange = [&](TVirtualStringTree&, PVirtualNode) { ++changes; };
    tree_.SetCheckState(file, TCheckState::Checked);
    EXPECT_EQ(tree_.CheckState(file), TCheckState::Checked);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(tree_.model()->data(tree_.IndexOf(file), Qt::CheckStateRole), Qt::Checked);
}

TEST_F(VirtualTreeTest, InitNodeRunsOnceBeforeARowIsFirstShown) {
    std::vector<PVirtualNode> initialised;
    tree_.OnInitNode = [&](TVirtualStringTree&, PVirtualNode, PVirtualNode node) {
        initialised.push_back(node);
    };
    Fill(1, 2);
    const PVirtualNode file = tree_.GetNext(tree_.GetFirst());
    tree_.model()->data(tree_.IndexOf(file), Qt::DisplayRole);
    tree_.model()->data(tree_.IndexOf(file), Qt::CheckStateRole);
    tree_.CheckType(file);
    EXPECT_EQ(std::count(initialised.begin(), initialised.end(), file), 1);
}

TEST_F(VirtualTreeTest, CellsAskTheEventsAndAFailingEventGivesAnEmptyCell) {
    tree_.Header().Columns().Add().SetText("Name");
    Fill(1, 1);
    tree_.OnGetText = [this](TVirtualStringTree&, PVirtualNode node, int, TVSTTextType,
                             std::string& text) {
        if (tree_.GetNodeLevel(node) > 0) {
            throw ConvertError("no text");
        }
        text = Name(node);
    };
    EXPECT_EQ(tree_.model()->data(tree_.IndexOf(tree_.GetFirst()), Qt::DisplayRole), "f0");
    EXPECT_EQ(tree_.model()->data(tree_.IndexOf(tree_.GetNext(tree_.GetFirst()))).toString(), "");
}

TEST_F(VirtualTreeTest, SortOrdersEverySetOfSiblingsAndKeepsEqualRowsStable) {
    for (const char* name : {"b", "a", "c"}) {
        PVirtualNode folder = Add(nullptr, name);
        for (const char* file : {"2", "1", "1", "3"}) {
            Add(folder, std::string(name) + file);
        }
    }
    // Rows "x1" compare equal; their order shows the stability.
    tree_.GetNodeData(tree_.GetNext(tree_.GetNext(tree_.GetFirst())))
        .SetText(TFieldKind::Description, "first");
    tree_.OnCompareNodes = [this](TVirtualStringTree&, PVirtualNode a, PVirtualNode b, int,
                                  int& result) { result = Name(a).compare(Name(b)); };
    tree_.SortTree(0, TSortDirection::Ascending);
    EXPECT_EQ(Forward(), (std::vector<std::string>{"a", "a1", "a1", "a2", "a3", "b", "b1", "b1",
                                                   "b2", "b3", "c", "c1", "c1", "c2", "c3"}));
    const PVirtualNode b = tree_.GetNextSibling(tree_.GetFirst());
    EXPECT_EQ(tree_.GetNodeData(tree_.GetFirstChild(b)).Text(TFieldKind::Description),
              "first");  // first of the equals
    tree_.SortTree(0, TSortDirection::Descending);
    EXPECT_EQ(Name(tree_.GetFirst()), "c");
    // Descending takes the second of two equal rows first: the pair swaps.
    EXPECT_EQ(tree_.GetNodeData(tree_.GetNext(tree_.GetNext(tree_.GetNext(b))))
                  .Text(TFieldKind::Description),
              "first");
}

TEST_F(VirtualTreeTest, ColumnsAreCheckedByIndexAndClearingResetsTheSortColumn) {
    auto& columns = tree_.Header().Columns();
    columns.Add().SetText("A");
    columns.Add().SetText("B");
    tree_.Header().SetSortColumn(1);
    EXPECT_EQ(columns.Items(1).Text(), "B");
    EXPECT_THROW(columns.Items(2), ListIndexError);
    EXPECT_THROW(columns.Items(-1), ListIndexError);
    columns.Clear();
    EXPECT_EQ(columns.Count(), 0);
    EXPECT_EQ(tree_.Header().SortColumn(), kNoColumn);
}

TEST_F(VirtualTreeTest, ModelStaysConsistentThroughEveryChange) {
    tree_.Header().Columns().Add();
    tree_.Header().Columns().Add();
    QAbstractItemModelTester tester(tree_.model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    Fill(3, 4);
    tree_.BeginUpdate();
    Fill(2, 3);
    tree_.DeleteNode(tree_.GetNext(tree_.GetFirst()));
    tree_.EndUpdate();
    // Runs of rows at the start, in the middle and at the end of a folder, a whole folder with
    // rows of its own marked too, and rows appended and deleted within one bracket.
    const PVirtualNode f1 = tree_.GetNextSibling(tree_.GetFirst());
    tree_.SetExpanded(f1, true);
    Fill(1, 12);
    PVirtualNode big = f1;
    while (tree_.GetNextSibling(big) != nullptr) {
        big = tree_.GetNextSibling(big);
    }
    tree_.SetExpanded(big, true);
    QSignalSpy reset(tree_.model(), &QAbstractItemModel::modelReset);
    QSignalSpy removed(tree_.model(), &QAbstractItemModel::rowsRemoved);
    tree_.BeginUpdate();
    const PVirtualNode added = Add(big, "new");
    int i = 0;
    for (PVirtualNode n = tree_.GetFirstChild(big); n != nullptr; n = tree_.GetNextSibling(n)) {
        if (i == 0 || i == 1 || i == 5 || i == 7 || i == 8 || i == 11) {
            tree_.DeleteNode(n);
        }
        ++i;
    }
    tree_.DeleteNode(added);
    tree_.DeleteNode(tree_.GetFirstChild(f1));
    tree_.DeleteNode(f1);
    tree_.EndUpdate();
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(removed.count(), 5);  // four runs in one folder, and the folder
    EXPECT_EQ(tree_.model()->rowCount(tree_.IndexOf(big)), 6);
    EXPECT_EQ(Name(tree_.GetFirstChild(big)), "f0/2");
    EXPECT_EQ(Backward(), Forward());
    tree_.DeleteNode(tree_.GetFirst());
    tree_.DeleteNode(tree_.GetLast());
    tree_.SetExpanded(tree_.GetFirst(), true);
    tree_.OnCompareNodes = [this](TVirtualStringTree&, PVirtualNode a, PVirtualNode b, int,
                                  int& result) { result = -Name(a).compare(Name(b)); };
    tree_.SortTree(0, TSortDirection::Ascending);
    tree_.model()->setData(tree_.IndexOf(tree_.GetLast()), Qt::Checked, Qt::CheckStateRole);
    tree_.Clear();
    Fill(1, 1);
    EXPECT_EQ(tree_.TotalCount(), 2u);
}

// The view is told of each run of deleted rows, not reset: what the user looked at stays put.
TEST_F(VirtualTreeTest, DeletingRowsKeepsFocusSelectionAndTopRowWhereTheyAre) {
    tree_.Header().Columns().Add().SetWidth(200);
    tree_.resize(240, 200);
    tree_.show();
    struct Case {
        const char* what;
        std::vector<std::pair<int, int>> runs;  // first and last row deleted
        bool focusStays;
    };
    const std::vector<Case> cases = {
        {"above the top row", {{10, 19}}, true},
        {"between the top and the focused row", {{103, 106}}, true},
        {"the focused row", {{110, 110}}, false},
        {"the focused row and its neighbours", {{108, 112}}, false},
        {"below the focused row", {{111, 150}}, true},
        {"scattered on every side", {{0, 0}, {50, 60}, {101, 101}, {109, 109}, {299, 299}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tree_.Clear();
        Fill(1, 300);
        const PVirtualNode folder = tree_.GetFirst();
        tree_.SetExpanded(folder, true);
        std::vector<PVirtualNode> rows;
        for (PVirtualNode n = tree_.GetFirstChild(folder); n; n = tree_.GetNextSibling(n)) {
            rows.push_back(n);
        }
        tree_.scrollTo(tree_.IndexOf(rows[100]), QAbstractItemView::PositionAtTop);
        tree_.SetFocusedNode(rows[110]);
        ASSERT_EQ(tree_.TopNode(), rows[100]);
        ASSERT_TRUE(tree_.selectionModel()->isRowSelected(110, tree_.IndexOf(folder)));

        QSignalSpy reset(tree_.model(), &QAbstractItemModel::modelReset);
        tree_.BeginUpdate();
        for (const auto& [first, last] : c.runs) {
            for (int i = last; i >= first; --i) {
                tree_.DeleteNode(rows[static_cast<std::size_t>(i)]);
            }
        }
        tree_.EndUpdate();

        // A file row's handle is its position, which the deletion changed: rows are told
        // apart by name.
        EXPECT_EQ(reset.count(), 0);
        EXPECT_EQ(Name(tree_.TopNode()), "f0/100");
        const QModelIndexList selected = tree_.selectionModel()->selectedRows();
        if (c.focusStays) {
            EXPECT_EQ(Name(tree_.FocusedNode()), "f0/110");
            ASSERT_EQ(selected.size(), 1);
            EXPECT_EQ(Name(tree_.NodeAt(selected[0])), "f0/110");
        } else {
            EXPECT_EQ(tree_.FocusedNode(), nullptr);
            EXPECT_TRUE(selected.isEmpty());
        }
    }
}

TEST_F(VirtualTreeTest, DoubleClickInAnyColumnTogglesTheRowAndFiresOnce) {
    for (int i = 0; i < 3; ++i) {
        tree_.Header().Columns().Add().SetWidth(80);
    }
    tree_.resize(300, 200);
    tree_.show();
    Fill(2, 2);
    const PVirtualNode folder = tree_.GetFirst();
    int doubleClicks = 0;
    tree_.OnDblClick = [&](TVirtualStringTree&) { ++doubleClicks; };
    for (int column = 0; column < 3; ++column) {
        SCOPED_TRACE(column);
        const bool wasExpanded = tree_.Expanded(folder);
        const QPoint at = tree_.visualRect(tree_.IndexOf(folder, column)).center();
        QTest::mouseDClick(tree_.viewport(), Qt::LeftButton, {}, at);
        EXPECT_EQ(tree_.Expanded(folder), !wasExpanded);
        EXPECT_EQ(tree_.isExpanded(tree_.IndexOf(folder)), !wasExpanded);
        EXPECT_EQ(doubleClicks, column + 1);
    }
}

}  // namespace
}  // namespace purgala
