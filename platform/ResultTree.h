#pragma once
// The rows of a tree grid, apart from any view: top-level rows, each with its child rows, every
// row carrying one TFileNodeData, a check box and a few flags. A scan fills it with no widget in
// sight; a view shows it through its model, which hears of every change as an observer.
//
// The program's trees have two levels: a folder row and its file rows, or the settings dialog's
// flat list. A million file rows must fit, so child rows are kept by value, in blocks, with one
// byte of state beside each, rather than as nodes of their own; a child row's handle is its
// position (see PVirtualNode).
//
// Changes made inside an update bracket reach the observer in one go when the outermost bracket
// ends: appended rows as one insertion per parent, deleted rows (marked until then, and passed
// over by every walk) as one removal per run of adjacent rows, changed boxes as one change.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/RowBlocks.h"
#include "platform/TreeTypes.h"
#include "scan/FileNodeData.h"

namespace purgala {

// What the view hears. Between an "about to" call and its partner the rows are as they were,
// except that removed rows may already be gone from the walks.
class IRowObserver {
public:
    // Where the top-level rows were before they were sorted, in their old order.
    struct TMoves {
        std::vector<TTopRow*> oldTopOrder;
    };

    virtual ~IRowObserver() = default;
    virtual void RowsAboutToBeInserted(PVirtualNode parent, std::size_t first,
                                       std::size_t last) = 0;
    virtual void RowsInserted() = 0;
    virtual void RowsAboutToBeRemoved(PVirtualNode parent, std::size_t first, std::size_t last) = 0;
    virtual void RowsRemoved() = 0;
    // DeleteNode was called for `node`: it goes now, or when the bracket ends.
    virtual void RowDeleting(PVirtualNode node) = 0;
    virtual void AboutToReset() = 0;
    virtual void Reset() = 0;
    virtual void LayoutAboutToChange() = 0;
    // The children of `parent` are about to be put in `order` (see TResultTree::TOrder); until
    // ChildrenReordered or LayoutChanged they are on their way and must not be read. Between
    // LayoutAboutToChange (when top-level rows move too) and the change.
    virtual void ChildrenAboutToMove(PVirtualNode parent,
                                     const std::vector<std::uint64_t>& order) = 0;
    virtual void LayoutChanged(const TMoves& moves) = 0;
    // Only children moved, each within its parent, and no top-level row: every row the view has
    // laid out is still at a position that exists, with other data there.
    virtual void ChildrenReordered() = 0;
    // Rows first..last of `parent` (nullptr: the top level) show other data or boxes.
    virtual void RowsChanged(PVirtualNode parent, std::size_t first, std::size_t last) = 0;
    // Any row may show other data or boxes: a million rows are not told of one by one.
    virtual void AllRowsChanged() = 0;
    virtual void ExpandRow(PVirtualNode row, bool expanded) = 0;
    // The outermost bracket is about to tell what changed in it (`removes`: rows deleted in it
    // go now), and has told it.
    virtual void UpdateFlushing(bool removes) = 0;
    virtual void UpdateFlushed() = 0;
};

// A top-level row, with its children.
struct TTopRow {
    TFileNodeData data;
    std::uint32_t index = 0;  // its position among the top-level rows
    std::uint8_t state = 0;   // TRowState bits
    bool hasDeletedChildren = false;
    std::uint32_t announced = 0;  // children the observer knows of
    TRowBlocks<TFileNodeData> children;
    std::vector<std::uint8_t> childStates;  // one TRowState byte per child
};

class TResultTree {
public:
    TResultTree();
    ~TResultTree();
    TResultTree(const TResultTree&) = delete;
    TResultTree& operator=(const TResultTree&) = delete;

    // The one observer, or nullptr. It must be told of nothing while a change is half done.
    void SetObserver(IRowObserver* observer) { observer_ = observer; }

    // ---- rows ----
    void Clear();
    // A bulk change: the observer hears of it once, when the outermost EndUpdate runs.
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    bool InUpdate() const { return updateCount_ > 0; }

    // Appends a row as the last child of `parent`, or as the last top-level row for nullptr.
    // A child row has no rows below it (InterfaceError).
    PVirtualNode AddChild(PVirtualNode parent);
    // Removes the row and its children; its later siblings move up.
    void DeleteNode(PVirtualNode node);
    TFileNodeData& GetNodeData(PVirtualNode node);
    const TFileNodeData& GetNodeData(PVirtualNode node) const;

    PVirtualNode GetFirst() const;                  // first row in pre-order
    PVirtualNode GetNext(PVirtualNode node) const;  // next row in pre-order
    PVirtualNode GetLast() const;                   // last row in pre-order
    PVirtualNode GetPrevious(PVirtualNode node) const;
    PVirtualNode GetFirstChild(PVirtualNode parent) const;  // nullptr = top level
    PVirtualNode GetNextSibling(PVirtualNode node) const;
    PVirtualNode NodeParent(PVirtualNode node) const;  // nullptr for a top-level row
    unsigned GetNodeLevel(PVirtualNode node) const;    // 0 at the top level
    unsigned NodeIndex(PVirtualNode node) const;       // position among its siblings
    unsigned ChildCount(PVirtualNode parent) const;    // nullptr = top level
    unsigned RootNodeCount() const { return ChildCount(nullptr); }
    std::size_t TotalCount() const;  // all rows

    // Written directly: no check notification fires.
    TCheckType CheckType(PVirtualNode node) const;
    void SetCheckType(PVirtualNode node, TCheckType type);
    TCheckState CheckState(PVirtualNode node) const;
    void SetCheckState(PVirtualNode node, TCheckState state);
    // Every row's box at once, and `touch` on every row's data: what a walk over the rows would
    // do, row after row in memory order, with one notification.
    void SetAllCheckStates(TCheckState state,
                           const std::function<void(TFileNodeData&)>& touch = {});

    bool Expanded(PVirtualNode node) const;
    // Expands or collapses the row, and the view with it.
    void SetExpanded(PVirtualNode node, bool expanded);
    // Only records what the view did on its own.
    void NoteExpanded(PVirtualNode node, bool expanded);
    // Whether the view's first look at the row (its OnInitNode) happened.
    bool Initialized(PVirtualNode node) const;
    void SetInitialized(PVirtualNode node);

    // The rows of one set of siblings, for a sort, and one of them by position (rows deleted
    // inside an open bracket included).
    TSiblingRows Siblings(PVirtualNode parent) const;
    PVirtualNode ChildAt(PVirtualNode parent, std::size_t position) const;
    // An order of one set of siblings: entry i says, in its low 32 bits, the old position of
    // the row that goes to position i. The high bits are the maker's to use (a sort's keys).
    using TOrder = std::vector<std::uint64_t>;
    struct TParentOrder {
        PVirtualNode parent;  // nullptr: the top level
        TOrder order;
    };
    // Sorts the top-level rows and the children of each by `compare` (made for each set of
    // siblings by `prepare`, see SortedOrder): rows that compare equal keep their order when
    // ascending and are reversed when descending.
    using TComparer = std::function<int(std::size_t, std::size_t)>;
    void Sort(const std::function<TComparer(const TSiblingRows&)>& prepare, bool ascending);
    // What makes, later and on any thread, the order of one set of siblings, from what was
    // copied out of the rows now.
    using TOrderMaker = std::function<TOrder()>;

    // Puts rows in orders made elsewhere (a sort on another thread, say), with one
    // notification, a slice at a time: a million rows take longer to move than a window may
    // wait. An order whose size is not the parent's row count is passed over. Until Step says
    // done, the children being moved must not be read, and the tree not changed.
    class TReordering {
    public:
        TReordering(TResultTree& tree, std::vector<TParentOrder> orders);
        ~TReordering();  // finishes what is left
        TReordering(const TReordering&) = delete;
        TReordering& operator=(const TReordering&) = delete;
        bool Step(std::chrono::steady_clock::time_point deadline);

    private:
        TResultTree& tree_;
        std::vector<TParentOrder> orders_;
        bool topsMove_ = false;
        IRowObserver::TMoves moves_;
        std::size_t entry_ = 0;  // the order being applied
        std::size_t start_ = 0;  // where its next cycle starts
        std::size_t at_ = 0;     // within a cycle begun at start_, or start_
        bool inCycle_ = false;
        bool done_ = false;
    };
    void Reorder(std::vector<TParentOrder> orders);

    // ---- for the observer: what it knows of, and where ----
    // The model asks these for every cell it paints and every row it lays out: they stay
    // inline and cheap. The top-level row the observer knows at `row`, and how many children of
    // it, or of the top level (nullptr), it knows.
    TTopRow* AnnouncedTop(std::size_t row) const {
        if (compaction_.parent == &rootMarker_ && row >= compaction_.write) {
            row += compaction_.read - compaction_.write;
        }
        return row < tops_.size() ? tops_[row].get() : nullptr;
    }
    std::size_t AnnouncedChildCount(const TTopRow* top) const {
        return top != nullptr ? top->announced : topsAnnounced_;
    }
    // The position in `top`'s children of the child the observer knows at `row`.
    std::size_t AnnouncedChildPosition(const TTopRow* top, std::size_t row) const {
        if (compaction_.parent == top && row >= compaction_.write) {
            row += compaction_.read - compaction_.write;
        }
        return row;
    }

    // Whether DeleteNode marked the row (or its parent) inside the open bracket.
    bool IsMarkedDeleted(PVirtualNode node) const { return IsDeleted(node); }
    // The row's position once the rows marked deleted are gone.
    std::size_t LivePosition(PVirtualNode node) const;
    std::size_t AnnouncedCount(PVirtualNode parent) const;
    // The row the observer knows at position `row` below `parent`.
    PVirtualNode AnnouncedChild(PVirtualNode parent, std::size_t row) const;
    // The row's position as the observer knows it (a row marked deleted included, until the
    // bracket ends); -1 when it does not know the row.
    int AnnouncedRow(PVirtualNode node) const;

private:
    struct TCompaction {
        const TTopRow* parent = nullptr;  // or &rootMarker_ for the top level
        std::size_t read = 0;             // the next row to look at
        std::size_t write = 0;            // where the next survivor goes
    };

    std::uint8_t& StateOf(PVirtualNode node);
    std::uint8_t StateOf(PVirtualNode node) const;
    bool IsDeleted(PVirtualNode node) const;
    PVirtualNode LiveChildFrom(PVirtualNode parent, std::size_t from) const;
    PVirtualNode LiveChildBefore(PVirtualNode parent, std::size_t before) const;
    std::size_t RowCount(PVirtualNode parent) const;
    void Notify(const std::function<void(IRowObserver&)>& tell) const;

    void Flush();
    void AnnounceAppended();
    void TellAllChanged();
    template <typename Deleted, typename Move>
    std::size_t Compact(PVirtualNode parent, std::size_t count, std::uint32_t& announced, bool tell,
                        Deleted&& deleted, Move&& move);
    void CompactChildren(TTopRow& parent, bool tell);
    void CompactTops(bool tell);
    void RenumberTops(std::size_t from);

    std::vector<std::unique_ptr<TTopRow>> tops_;
    std::uint32_t topsAnnounced_ = 0;
    bool topsHaveDeleted_ = false;
    IRowObserver* observer_ = nullptr;
    int updateCount_ = 0;
    bool resetting_ = false;  // cleared inside the bracket: the observer hears one reset
    bool dataChanged_ = false;
    std::vector<TTopRow*> pendingParents_;  // parents with rows appended inside the bracket
    bool topsPending_ = false;
    std::vector<TTopRow*> pendingExpand_;
    std::vector<TTopRow*> dirtyParents_;  // parents with rows deleted inside the bracket
    TCompaction compaction_;
    TTopRow rootMarker_;  // stands for the top level in a compaction
};

// Holds a tree's notifications for a scope; the last one to end tells the observer once.
class TRowsBracket {
public:
    explicit TRowsBracket(TResultTree& tree) : tree_(tree) { tree_.BeginUpdate(); }
    ~TRowsBracket() { tree_.EndUpdate(); }
    TRowsBracket(const TRowsBracket&) = delete;
    TRowsBracket& operator=(const TRowsBracket&) = delete;

private:
    TResultTree& tree_;
};

}  // namespace purgala
