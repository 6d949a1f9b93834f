// The rows apart from any view: appending, deleting inside and outside a bracket, sorting and
// reordering a slice at a time, against a plain model of what the rows should be, with an
// observer that keeps its own copy of what it was told.
#include "platform/ResultTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace purgala {
namespace {

// Keeps the rows as a view learns of them: which top-level row stands at each place, and how
// many rows it has below it.
class MirrorObserver : public IRowObserver {
public:
    explicit MirrorObserver(TResultTree& tree) : tree_(tree) { tree_.SetObserver(this); }
    ~MirrorObserver() override { tree_.SetObserver(nullptr); }

    struct Top {
        PVirtualNode row;
        std::size_t children = 0;
        bool operator==(const Top&) const = default;
    };
    std::vector<Top> rows;
    int resets = 0;
    int moving = 0;  // parents whose rows are on their way

    void RowsAboutToBeInserted(PVirtualNode parent, std::size_t first, std::size_t last) override {
        pending_ = {parent, first, last};
    }
    void RowsInserted() override {
        const auto [parent, first, last] = pending_;
        if (parent) {
            rows[Row(parent)].children += last - first + 1;
            return;
        }
        for (std::size_t i = first; i <= last; ++i) {
            const PVirtualNode top = tree_.AnnouncedChild(nullptr, i);
            rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(i),
                        Top{top, tree_.AnnouncedCount(top)});
        }
    }
    void RowsAboutToBeRemoved(PVirtualNode parent, std::size_t first, std::size_t last) override {
        if (parent) {
            rows[Row(parent)].children -= last - first + 1;
        } else {
            rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(first),
                       rows.begin() + static_cast<std::ptrdiff_t>(last + 1));
        }
    }
    void RowsRemoved() override {}
    void RowDeleting(PVirtualNode) override {}
    void AboutToReset() override {}
    void Reset() override {
        ++resets;
        Relearn();
    }
    void LayoutAboutToChange() override {}
    void ChildrenAboutToMove(PVirtualNode, const std::vector<std::uint64_t>&) override { ++moving; }
    // The same counts stand at every place after a reordering; the top-level rows may move.
    void LayoutChanged(const TMoves&) override { Relearn(); }
    void ChildrenReordered() override { moving = 0; }
    void RowsChanged(PVirtualNode, std::size_t, std::size_t) override {}
    void AllRowsChanged() override {}
    void ExpandRow(PVirtualNode, bool) override {}
    void UpdateFlushing(bool) override {}
    void UpdateFlushed() override {}

private:
    std::size_t Row(PVirtualNode parent) const {
        return static_cast<std::size_t>(tree_.AnnouncedRow(parent));
    }
    void Relearn() {
        moving = 0;
        rows.clear();
        for (std::size_t i = 0; i < tree_.AnnouncedCount(nullptr); ++i) {
            const PVirtualNode top = tree_.AnnouncedChild(nullptr, i);
            rows.push_back({top, tree_.AnnouncedCount(top)});
        }
    }

    TResultTree& tree_;
    struct {
        PVirtualNode parent;
        std::size_t first = 0, last = 0;
    } pending_;
};

// A top-level row's name and its rows' names.
struct Named {
    std::string name;
    std::vector<std::string> children;
    bool operator==(const Named&) const = default;
};

class ResultTreeTest : public ::testing::Test {
protected:
    ResultTreeTest() : mirror_(tree_) {}

    PVirtualNode Add(PVirtualNode parent, const std::string& name) {
        const PVirtualNode node = tree_.AddChild(parent);
        tree_.GetNodeData(node).SetText(TFieldKind::FileName, name);
        return node;
    }
    PVirtualNode LiveTop(std::size_t t) {
        PVirtualNode top = tree_.GetFirst();
        for (std::size_t i = 0; i < t; ++i) {
            top = tree_.GetNextSibling(top);
        }
        return top;
    }
    // The live rows, as the walks see them, both ways.
    std::vector<Named> Live() {
        std::vector<Named> rows;
        for (PVirtualNode n = tree_.GetFirst(); n; n = tree_.GetNext(n)) {
            if (n.IsTopLevel()) {
                rows.push_back({tree_.GetNodeData(n).FileName(), {}});
            } else {
                rows.back().children.push_back(tree_.GetNodeData(n).FileName());
            }
        }
        std::vector<std::string> backward;
        for (PVirtualNode n = tree_.GetLast(); n; n = tree_.GetPrevious(n)) {
            backward.insert(backward.begin(), tree_.GetNodeData(n).FileName());
        }
        std::vector<std::string> forward;
        for (const auto& top : rows) {
            forward.push_back(top.name);
            forward.insert(forward.end(), top.children.begin(), top.children.end());
        }
        EXPECT_EQ(backward, forward);
        EXPECT_EQ(tree_.TotalCount(), forward.size());
        return rows;
    }

    TResultTree tree_;
    MirrorObserver mirror_;
};

// Random changes, each checked against the model and against what the observer was told.
TEST_F(ResultTreeTest, RandomChangesLeaveTheRowsTheObserverAndTheModelAgreed) {
    std::mt19937 random(20261210);
    std::vector<Named> model;
    int serial = 0;
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        const bool bracket = random() % 2 == 0;
        if (bracket) {
            tree_.BeginUpdate();
        }
        const int steps = 1 + static_cast<int>(random() % 8);
        for (int step = 0; step < steps; ++step) {
            const unsigned what = random() % 10;
            const std::size_t tops = tree_.RootNodeCount();
            if (what < 2 || tops == 0) {
                model.push_back({"t" + std::to_string(serial++), {}});
                Add(nullptr, model.back().name);
            } else if (what < 6) {
                const std::size_t t = random() % tops;
                for (unsigned n = random() % 12; n > 0; --n) {
                    model[t].children.push_back("c" + std::to_string(serial++));
                    Add(LiveTop(t), model[t].children.back());
                }
            } else if (what < 9) {
                // Rows deleted from the bottom up, as the deletion does; a top-level row now
                // and then, with all its rows.
                const std::size_t t = random() % tops;
                const PVirtualNode top = LiveTop(t);
                if (random() % 8 == 0) {
                    tree_.DeleteNode(top);
                    model.erase(model.begin() + static_cast<std::ptrdiff_t>(t));
                    continue;
                }
                std::vector<PVirtualNode> children;
                for (PVirtualNode c = tree_.GetFirstChild(top); c; c = tree_.GetNextSibling(c)) {
                    children.push_back(c);
                }
                auto& names = model[t].children;
                for (std::size_t i = children.size(); i-- > 0;) {
                    if (random() % 3 == 0) {
                        tree_.DeleteNode(children[i]);
                        names.erase(names.begin() + static_cast<std::ptrdiff_t>(i));
                    }
                }
            } else if (!bracket) {
                // Sorted by name, descending or ascending, a top-level row's children too.
                const bool ascending = random() % 2 == 0;
                tree_.Sort(
                    [this, ascending](const TSiblingRows& rows) -> TResultTree::TComparer {
                        return [this, rows](std::size_t a, std::size_t b) {
                            return tree_.GetNodeData(rows[a]).FileName().compare(
                                tree_.GetNodeData(rows[b]).FileName());
                        };
                    },
                    ascending);
                const auto order = [ascending](const std::string& a, const std::string& b) {
                    return ascending ? a < b : b < a;
                };
                std::sort(model.begin(), model.end(),
                          [&](const auto& a, const auto& b) { return order(a.name, b.name); });
                for (auto& top : model) {
                    std::sort(top.children.begin(), top.children.end(), order);
                }
            }
        }
        if (bracket) {
            tree_.EndUpdate();
        }
        ASSERT_EQ(Live(), model);
        std::vector<MirrorObserver::Top> live;
        for (PVirtualNode top = tree_.GetFirst(); top; top = tree_.GetNextSibling(top)) {
            live.push_back({top, tree_.ChildCount(top)});
        }
        ASSERT_EQ(mirror_.rows, live);
    }
    EXPECT_EQ(mirror_.resets, 0);
}

// A reordering moves rows a slice at a time; between slices every place holds a whole row, and
// the observer hears once that they are in place.
TEST_F(ResultTreeTest, AReorderingInSlicesEndsInTheOrderGiven) {
    const PVirtualNode top = Add(nullptr, "top");
    constexpr std::size_t kRows = 20'000;
    for (std::size_t i = 0; i < kRows; ++i) {
        Add(top, std::to_string(i));
    }
    std::mt19937 random(7);
    std::vector<std::uint64_t> order(kRows);
    for (std::size_t i = 0; i < kRows; ++i) {
        order[i] = i;
    }
    std::shuffle(order.begin(), order.end(), random);
    const std::vector<std::uint64_t> wanted = order;
    for (std::uint64_t& entry : order) {
        entry |= std::uint64_t{random()} << 32;  // a maker's own bits, to be ignored
    }
    TResultTree::TReordering reordering(tree_, {{top, order}});
    EXPECT_EQ(mirror_.moving, 1);
    int slices = 0;
    while (!reordering.Step(std::chrono::steady_clock::now())) {
        ++slices;
        std::size_t whole = 0;
        for (PVirtualNode c = tree_.GetFirstChild(top); c; c = tree_.GetNextSibling(c)) {
            whole += tree_.GetNodeData(c).FileName().empty() ? 0 : 1;
        }
        ASSERT_EQ(whole, kRows);
    }
    EXPECT_GT(slices, 0);
    EXPECT_EQ(mirror_.moving, 0);
    std::size_t i = 0;
    for (PVirtualNode c = tree_.GetFirstChild(top); c; c = tree_.GetNextSibling(c), ++i) {
        ASSERT_EQ(tree_.GetNodeData(c).FileName(), std::to_string(wanted[i])) << i;
    }
    // An order of another count of rows is passed over.
    tree_.Reorder({{top, {0, 1}}});
    EXPECT_EQ(tree_.GetNodeData(tree_.GetFirstChild(top)).FileName(), std::to_string(wanted[0]));
}

TEST_F(ResultTreeTest, EveryBoxAtOnceAndAChildRowHasNoRowsBelowIt) {
    const PVirtualNode top = Add(nullptr, "top");
    for (int i = 0; i < 3; ++i) {
        tree_.GetNodeData(Add(top, std::to_string(i))).SetKeptBy(TKeepReason::Recent);
    }
    tree_.SetAllCheckStates(TCheckState::Checked,
                            [](TFileNodeData& data) { data.SetKeptBy(TKeepReason::None); });
    for (PVirtualNode n = tree_.GetFirst(); n; n = tree_.GetNext(n)) {
        EXPECT_EQ(tree_.CheckState(n), TCheckState::Checked);
        EXPECT_EQ(tree_.GetNodeData(n).KeptBy(), TKeepReason::None);
    }
    EXPECT_THROW(tree_.AddChild(tree_.GetFirstChild(top)), InterfaceError);
}

}  // namespace
}  // namespace purgala
