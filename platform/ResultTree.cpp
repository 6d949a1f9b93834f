#include "platform/ResultTree.h"

#include <algorithm>
#include <utility>

#include "platform/Errors.h"
#include "platform/SiblingSort.h"

namespace purgala {

namespace {

// One byte per row: its box, and what the tree and the view know of it.
enum TRowState : std::uint8_t {
    kCheckStateMask = 3,  // TCheckState
    kCheckBox = 4,
    kInitialized = 8,
    kDeleted = 16,
    kExpanded = 32,
};

bool Has(std::uint8_t state, TRowState flag) {
    return (state & flag) != 0;
}

void Set(std::uint8_t& state, TRowState flag, bool on) {
    state = on ? static_cast<std::uint8_t>(state | flag) : static_cast<std::uint8_t>(state & ~flag);
}

void SetCheck(std::uint8_t& state, TCheckState check) {
    state =
        static_cast<std::uint8_t>((state & ~kCheckStateMask) | static_cast<std::uint8_t>(check));
}

}  // namespace

PVirtualNode TSiblingRows::operator[](std::size_t i) const {
    return tree_->ChildAt(parent_, i);
}

TResultTree::TResultTree() = default;

TResultTree::~TResultTree() = default;

// ---- what a handle stands for ------------------------------------------------------------------

PVirtualNode TResultTree::ChildAt(PVirtualNode parent, std::size_t i) const {
    return parent ? PVirtualNode(parent.top_, static_cast<std::uint32_t>(i))
                  : PVirtualNode(tops_[i].get(), PVirtualNode::kNoChild);
}

std::uint8_t& TResultTree::StateOf(PVirtualNode node) {
    return node.IsTopLevel() ? node.top_->state : node.top_->childStates[node.child_];
}

std::uint8_t TResultTree::StateOf(PVirtualNode node) const {
    return node.IsTopLevel() ? node.top_->state : node.top_->childStates[node.child_];
}

bool TResultTree::IsDeleted(PVirtualNode node) const {
    return Has(StateOf(node), kDeleted) || (!node.IsTopLevel() && Has(node.top_->state, kDeleted));
}

TFileNodeData& TResultTree::GetNodeData(PVirtualNode node) {
    return node.IsTopLevel() ? node.top_->data : node.top_->children[node.child_];
}

const TFileNodeData& TResultTree::GetNodeData(PVirtualNode node) const {
    return node.IsTopLevel() ? node.top_->data : node.top_->children[node.child_];
}

std::size_t TResultTree::RowCount(PVirtualNode parent) const {
    if (!parent) {
        return tops_.size();
    }
    return parent.IsTopLevel() ? parent.top_->children.size() : 0;
}

void TResultTree::Notify(const std::function<void(IRowObserver&)>& tell) const {
    if (observer_ != nullptr) {
        tell(*observer_);
    }
}

// ---- walks -------------------------------------------------------------------------------------

PVirtualNode TResultTree::LiveChildFrom(PVirtualNode parent, std::size_t from) const {
    const std::size_t count = RowCount(parent);
    for (std::size_t i = from; i < count; ++i) {
        const PVirtualNode child = ChildAt(parent, i);
        if (!Has(StateOf(child), kDeleted)) {
            return child;
        }
    }
    return nullptr;
}

PVirtualNode TResultTree::LiveChildBefore(PVirtualNode parent, std::size_t before) const {
    for (std::size_t i = std::min(before, RowCount(parent)); i-- > 0;) {
        const PVirtualNode child = ChildAt(parent, i);
        if (!Has(StateOf(child), kDeleted)) {
            return child;
        }
    }
    return nullptr;
}

PVirtualNode TResultTree::GetFirst() const {
    return LiveChildFrom(nullptr, 0);
}

PVirtualNode TResultTree::GetNext(PVirtualNode node) const {
    if (!node) {
        return nullptr;
    }
    if (node.IsTopLevel()) {
        if (const PVirtualNode child = LiveChildFrom(node, 0)) {
            return child;
        }
    } else if (const PVirtualNode sibling = LiveChildFrom(NodeParent(node), node.child_ + 1)) {
        return sibling;
    }
    return LiveChildFrom(nullptr, node.top_->index + 1);
}

PVirtualNode TResultTree::GetLast() const {
    const PVirtualNode top = LiveChildBefore(nullptr, tops_.size());
    if (!top) {
        return nullptr;
    }
    const PVirtualNode child = LiveChildBefore(top, top.top_->children.size());
    return child ? child : top;
}

PVirtualNode TResultTree::GetPrevious(PVirtualNode node) const {
    if (!node) {
        return nullptr;
    }
    if (!node.IsTopLevel()) {
        const PVirtualNode sibling = LiveChildBefore(NodeParent(node), node.child_);
        return sibling ? sibling : NodeParent(node);
    }
    const PVirtualNode top = LiveChildBefore(nullptr, node.top_->index);
    if (!top) {
        return nullptr;
    }
    const PVirtualNode child = LiveChildBefore(top, top.top_->children.size());
    return child ? child : top;
}

PVirtualNode TResultTree::GetFirstChild(PVirtualNode parent) const {
    return LiveChildFrom(parent, 0);
}

PVirtualNode TResultTree::GetNextSibling(PVirtualNode node) const {
    if (!node) {
        return nullptr;
    }
    return LiveChildFrom(NodeParent(node), NodeIndex(node) + 1);
}

PVirtualNode TResultTree::NodeParent(PVirtualNode node) const {
    return node && !node.IsTopLevel() ? PVirtualNode(node.top_, PVirtualNode::kNoChild) : nullptr;
}

unsigned TResultTree::GetNodeLevel(PVirtualNode node) const {
    return node.IsTopLevel() ? 0 : 1;
}

unsigned TResultTree::NodeIndex(PVirtualNode node) const {
    return node.IsTopLevel() ? node.top_->index : node.child_;
}

unsigned TResultTree::ChildCount(PVirtualNode parent) const {
    const std::size_t count = RowCount(parent);
    // Only rows deleted inside an open bracket still stand in the list; a count costs a walk
    // only then, so that appending folder after folder stays linear.
    const bool marked = parent ? parent.top_->hasDeletedChildren : topsHaveDeleted_;
    if (!marked) {
        return static_cast<unsigned>(count);
    }
    unsigned live = 0;
    for (std::size_t i = 0; i < count; ++i) {
        live += Has(StateOf(ChildAt(parent, i)), kDeleted) ? 0 : 1;
    }
    return live;
}

std::size_t TResultTree::TotalCount() const {
    std::size_t count = 0;
    for (PVirtualNode top = GetFirst(); top; top = LiveChildFrom(nullptr, top.top_->index + 1)) {
        count += 1 + ChildCount(top);
    }
    return count;
}

// ---- boxes and flags ---------------------------------------------------------------------------

TCheckType TResultTree::CheckType(PVirtualNode node) const {
    return Has(StateOf(node), kCheckBox) ? TCheckType::CheckBox : TCheckType::None;
}

void TResultTree::SetCheckType(PVirtualNode node, TCheckType type) {
    Set(StateOf(node), kCheckBox, type == TCheckType::CheckBox);
}

TCheckState TResultTree::CheckState(PVirtualNode node) const {
    return static_cast<TCheckState>(StateOf(node) & kCheckStateMask);
}

void TResultTree::SetCheckState(PVirtualNode node, TCheckState state) {
    SetCheck(StateOf(node), state);
    if (InUpdate()) {
        dataChanged_ = true;
    } else if (const int row = AnnouncedRow(node); row >= 0) {
        Notify([&](IRowObserver& o) {
            o.RowsChanged(NodeParent(node), static_cast<std::size_t>(row),
                          static_cast<std::size_t>(row));
        });
    }
}

void TResultTree::SetAllCheckStates(TCheckState state,
                                    const std::function<void(TFileNodeData&)>& touch) {
    for (const auto& top : tops_) {
        SetCheck(top->state, state);
        if (touch) {
            touch(top->data);
        }
        for (std::uint8_t& child : top->childStates) {
            SetCheck(child, state);
        }
        if (touch) {
            for (std::size_t i = 0; i < top->children.size(); ++i) {
                touch(top->children[i]);
            }
        }
    }
    dataChanged_ = true;
    if (!InUpdate()) {
        TellAllChanged();
    }
}

void TResultTree::TellAllChanged() {
    dataChanged_ = false;
    Notify([](IRowObserver& o) { o.AllRowsChanged(); });
}

bool TResultTree::Expanded(PVirtualNode node) const {
    return Has(StateOf(node), kExpanded);
}

void TResultTree::SetExpanded(PVirtualNode node, bool expanded) {
    Set(StateOf(node), kExpanded, expanded);
    if (!InUpdate() && AnnouncedRow(node) >= 0) {
        Notify([&](IRowObserver& o) { o.ExpandRow(node, expanded); });
    } else if (expanded && node.IsTopLevel()) {
        pendingExpand_.push_back(node.top_);
    }
}

void TResultTree::NoteExpanded(PVirtualNode node, bool expanded) {
    Set(StateOf(node), kExpanded, expanded);
}

bool TResultTree::Initialized(PVirtualNode node) const {
    return Has(StateOf(node), kInitialized);
}

void TResultTree::SetInitialized(PVirtualNode node) {
    Set(StateOf(node), kInitialized, true);
}

// ---- appending and deleting --------------------------------------------------------------------

void TResultTree::Clear() {
    if (InUpdate()) {
        if (!resetting_) {
            Notify([](IRowObserver& o) { o.AboutToReset(); });
            resetting_ = true;
        }
        tops_.clear();
        topsAnnounced_ = 0;
        topsHaveDeleted_ = false;
        topsPending_ = false;
        pendingParents_.clear();
        pendingExpand_.clear();
        dirtyParents_.clear();
        return;
    }
    Notify([](IRowObserver& o) { o.AboutToReset(); });
    tops_.clear();
    topsAnnounced_ = 0;
    topsHaveDeleted_ = false;
    Notify([](IRowObserver& o) { o.Reset(); });
}

PVirtualNode TResultTree::AddChild(PVirtualNode parent) {
    if (!parent) {
        tops_.push_back(std::make_unique<TTopRow>());
        TTopRow* top = tops_.back().get();
        top->index = static_cast<std::uint32_t>(tops_.size() - 1);
        const PVirtualNode node(top, PVirtualNode::kNoChild);
        if (InUpdate()) {
            topsPending_ = true;
        } else if (!resetting_) {
            Notify(
                [&](IRowObserver& o) { o.RowsAboutToBeInserted(nullptr, top->index, top->index); });
            topsAnnounced_ = static_cast<std::uint32_t>(tops_.size());
            Notify([](IRowObserver& o) { o.RowsInserted(); });
        }
        return node;
    }
    if (!parent.IsTopLevel()) {
        throw InterfaceError("a file row has no rows below it");
    }
    TTopRow& top = *parent.top_;
    top.children.emplace_back();
    top.childStates.push_back(0);
    const std::size_t position = top.children.size() - 1;
    if (InUpdate()) {
        if (position == top.announced) {
            pendingParents_.push_back(&top);
        }
    } else if (AnnouncedRow(parent) >= 0) {
        Notify([&](IRowObserver& o) { o.RowsAboutToBeInserted(parent, position, position); });
        top.announced = static_cast<std::uint32_t>(top.children.size());
        Notify([](IRowObserver& o) { o.RowsInserted(); });
    } else {
        // The view learns of the parent with all its rows.
        top.announced = static_cast<std::uint32_t>(top.children.size());
    }
    return PVirtualNode(&top, static_cast<std::uint32_t>(position));
}

void TResultTree::DeleteNode(PVirtualNode node) {
    if (!node) {
        return;
    }
    Notify([&](IRowObserver& o) { o.RowDeleting(node); });
    if (InUpdate()) {
        // Deleting many rows of one folder must not shift the rest each time: mark now, close
        // the gaps once when the bracket ends.
        Set(StateOf(node), kDeleted, true);
        if (node.IsTopLevel()) {
            topsHaveDeleted_ = true;
        } else if (!std::exchange(node.top_->hasDeletedChildren, true)) {
            dirtyParents_.push_back(node.top_);
        }
        return;
    }
    const int row = AnnouncedRow(node);
    const PVirtualNode parent = NodeParent(node);
    if (row >= 0) {
        Notify([&](IRowObserver& o) {
            o.RowsAboutToBeRemoved(parent, static_cast<std::size_t>(row),
                                   static_cast<std::size_t>(row));
        });
    }
    if (node.IsTopLevel()) {
        const std::size_t at = node.top_->index;
        if (at < topsAnnounced_) {
            --topsAnnounced_;
        }
        tops_.erase(tops_.begin() + static_cast<std::ptrdiff_t>(at));  // `node` is gone
        RenumberTops(at);
    } else {
        TTopRow& top = *node.top_;
        const std::size_t at = node.child_;
        top.children.RemoveIf([at](std::size_t i) { return i == at; });
        top.childStates.erase(top.childStates.begin() + static_cast<std::ptrdiff_t>(at));
        if (at < top.announced) {
            --top.announced;
        }
    }
    if (row >= 0) {
        Notify([](IRowObserver& o) { o.RowsRemoved(); });
    }
}

void TResultTree::RenumberTops(std::size_t from) {
    for (std::size_t i = from; i < tops_.size(); ++i) {
        tops_[i]->index = static_cast<std::uint32_t>(i);
    }
}

// ---- the end of a bracket ----------------------------------------------------------------------

void TResultTree::EndUpdate() {
    if (updateCount_ == 0) {
        return;
    }
    if (--updateCount_ == 0) {
        Flush();
    }
}

void TResultTree::Flush() {
    const bool removes = !resetting_ && (topsHaveDeleted_ || !dirtyParents_.empty());
    Notify([&](IRowObserver& o) { o.UpdateFlushing(removes); });
    if (resetting_) {
        // The view forgot everything: the rows as they are now are what it learns.
        for (TTopRow* parent : std::exchange(dirtyParents_, {})) {
            CompactChildren(*parent, /*tell=*/false);
        }
        if (std::exchange(topsHaveDeleted_, false)) {
            CompactTops(/*tell=*/false);
        }
        for (const auto& top : tops_) {
            top->announced = static_cast<std::uint32_t>(top->children.size());
        }
        topsAnnounced_ = static_cast<std::uint32_t>(tops_.size());
        topsPending_ = false;
        pendingParents_.clear();
        pendingExpand_.clear();
        dataChanged_ = false;
        resetting_ = false;
        Notify([](IRowObserver& o) { o.Reset(); });
        for (const auto& top : tops_) {
            if (Has(top->state, kExpanded)) {
                Notify([&](IRowObserver& o) { o.ExpandRow(ChildAt(nullptr, top->index), true); });
            }
        }
        Notify([](IRowObserver& o) { o.UpdateFlushed(); });
        return;
    }
    AnnounceAppended();
    for (TTopRow* top : std::exchange(pendingExpand_, {})) {
        const PVirtualNode node(top, PVirtualNode::kNoChild);
        if (Has(top->state, kExpanded) && AnnouncedRow(node) >= 0) {
            Notify([&](IRowObserver& o) { o.ExpandRow(node, true); });
        }
    }
    // Children first: a top-level row that goes takes its children with it.
    for (TTopRow* parent : std::exchange(dirtyParents_, {})) {
        if (!Has(parent->state, kDeleted)) {
            CompactChildren(*parent, /*tell=*/true);
        }
    }
    if (std::exchange(topsHaveDeleted_, false)) {
        CompactTops(/*tell=*/true);
    }
    if (dataChanged_) {
        TellAllChanged();
    }
    Notify([](IRowObserver& o) { o.UpdateFlushed(); });
}

void TResultTree::AnnounceAppended() {
    if (std::exchange(topsPending_, false) && tops_.size() > topsAnnounced_) {
        Notify([&](IRowObserver& o) {
            o.RowsAboutToBeInserted(nullptr, topsAnnounced_, tops_.size() - 1);
        });
        for (std::size_t i = topsAnnounced_; i < tops_.size(); ++i) {
            tops_[i]->announced = static_cast<std::uint32_t>(tops_[i]->children.size());
        }
        topsAnnounced_ = static_cast<std::uint32_t>(tops_.size());
        Notify([](IRowObserver& o) { o.RowsInserted(); });
    }
    for (TTopRow* top : std::exchange(pendingParents_, {})) {
        const PVirtualNode parent(top, PVirtualNode::kNoChild);
        if (top->children.size() > top->announced && AnnouncedRow(parent) >= 0) {
            Notify([&](IRowObserver& o) {
                o.RowsAboutToBeInserted(parent, top->announced, top->children.size() - 1);
            });
            top->announced = static_cast<std::uint32_t>(top->children.size());
            Notify([](IRowObserver& o) { o.RowsInserted(); });
        }
    }
}

// One pass: survivors slide down over the gaps as each run of deleted rows is announced, so the
// view keeps its scroll position, focus, selection and expanded rows. Rows appended inside the
// bracket were never shown: they go without a word.
template <typename Deleted, typename Move>
std::size_t TResultTree::Compact(PVirtualNode parent, std::size_t count, std::uint32_t& announced,
                                 bool tell, Deleted&& deleted, Move&& move) {
    const bool known = tell && (!parent || AnnouncedRow(parent) >= 0);
    const std::size_t committed = announced;
    compaction_ = {parent ? parent.top_ : &rootMarker_, 0, 0};
    std::size_t& read = compaction_.read;
    std::size_t& write = compaction_.write;
    while (read < count) {
        if (!deleted(read)) {
            if (write != read) {
                move(write, read);
            }
            ++write;
            ++read;
            continue;
        }
        std::size_t end = read + 1;
        while (end < count && deleted(end)) {
            ++end;
        }
        const std::size_t shown = read < committed ? std::min(end, committed) - read : 0;
        if (shown > 0) {
            if (known) {
                Notify([&](IRowObserver& o) {
                    o.RowsAboutToBeRemoved(parent, write, write + shown - 1);
                });
            }
            announced -= static_cast<std::uint32_t>(shown);
            read += shown;
            if (known) {
                Notify([](IRowObserver& o) { o.RowsRemoved(); });
            }
        }
        read = end;
    }
    const std::size_t kept = write;
    compaction_ = {};
    return kept;
}

void TResultTree::CompactChildren(TTopRow& parent, bool tell) {
    parent.hasDeletedChildren = false;
    auto& states = parent.childStates;
    const std::size_t kept = Compact(
        PVirtualNode(&parent, PVirtualNode::kNoChild), parent.children.size(), parent.announced,
        tell, [&](std::size_t i) { return Has(states[i], kDeleted); },
        [&](std::size_t to, std::size_t from) {
            parent.children[to] = std::move(parent.children[from]);
            states[to] = states[from];
        });
    parent.children.Truncate(kept);
    states.resize(kept);
    if (states.capacity() / 2 > states.size()) {
        states.shrink_to_fit();
    }
}

void TResultTree::CompactTops(bool tell) {
    const std::size_t kept = Compact(
        nullptr, tops_.size(), topsAnnounced_, tell,
        [&](std::size_t i) { return Has(tops_[i]->state, kDeleted); },
        [&](std::size_t to, std::size_t from) {
            tops_[to] = std::move(tops_[from]);
            tops_[to]->index = static_cast<std::uint32_t>(to);
        });
    tops_.resize(kept);
}

// ---- what the observer knows -------------------------------------------------------------------

std::size_t TResultTree::AnnouncedCount(PVirtualNode parent) const {
    if (!parent) {
        return topsAnnounced_;
    }
    return parent.IsTopLevel() ? parent.top_->announced : 0;
}

// While the deleted rows of one parent are being taken out run by run, the rows not yet reached
// sit `read - write` places further on than the observer has been told.
PVirtualNode TResultTree::AnnouncedChild(PVirtualNode parent, std::size_t row) const {
    const TTopRow* key = parent ? parent.top_ : &rootMarker_;
    if (key == compaction_.parent && row >= compaction_.write) {
        row += compaction_.read - compaction_.write;
    }
    return row < RowCount(parent) ? ChildAt(parent, row) : PVirtualNode();
}

int TResultTree::AnnouncedRow(PVirtualNode node) const {
    if (!node || resetting_) {
        return -1;
    }
    const auto positionOf = [this](const TTopRow* key, std::size_t row) {
        if (key == compaction_.parent && row >= compaction_.read) {
            row -= compaction_.read - compaction_.write;
        }
        return row;
    };
    // A row marked deleted inside a bracket is still the observer's until the bracket ends.
    const TTopRow& top = *node.top_;
    if (positionOf(&rootMarker_, top.index) >= topsAnnounced_) {
        return -1;
    }
    if (node.IsTopLevel()) {
        return static_cast<int>(positionOf(&rootMarker_, top.index));
    }
    const std::size_t row = positionOf(&top, node.child_);
    return row < top.announced ? static_cast<int>(row) : -1;
}

std::size_t TResultTree::LivePosition(PVirtualNode node) const {
    const PVirtualNode parent = NodeParent(node);
    std::size_t live = 0;
    for (std::size_t i = 0; i < NodeIndex(node); ++i) {
        live += Has(StateOf(ChildAt(parent, i)), kDeleted) ? 0 : 1;
    }
    return live;
}

// ---- sorting -----------------------------------------------------------------------------------

TSiblingRows TResultTree::Siblings(PVirtualNode parent) const {
    return TSiblingRows(*this, parent, RowCount(parent));
}

void TResultTree::Sort(const std::function<TComparer(const TSiblingRows&)>& prepare,
                       bool ascending) {
    std::vector<TParentOrder> orders;
    const auto add = [&](PVirtualNode parent) {
        const std::size_t count = RowCount(parent);
        if (count < 2) {
            return;
        }
        if (const TComparer compare = prepare(Siblings(parent))) {
            orders.push_back({parent, SortedOrder(count, compare, ascending)});
        }
    };
    add(nullptr);
    for (const auto& top : tops_) {
        add(ChildAt(nullptr, top->index));
    }
    Reorder(std::move(orders));
}

void TResultTree::Reorder(std::vector<TParentOrder> orders) {
    TReordering reordering(*this, std::move(orders));
    while (!reordering.Step(std::chrono::steady_clock::time_point::max())) {
    }
}

namespace {

constexpr std::uint64_t kPosition = 0xFFFF'FFFFu;
constexpr std::uint64_t kPlaced = std::uint64_t{1} << 63;

}  // namespace

TResultTree::TReordering::TReordering(TResultTree& tree, std::vector<TParentOrder> orders)
    : tree_(tree), orders_(std::move(orders)) {
    // An order of another count of rows is no order of these rows; one that moves nothing
    // costs nothing.
    std::erase_if(orders_, [this](TParentOrder& entry) {
        if (entry.order.size() != tree_.RowCount(entry.parent)) {
            return true;
        }
        bool moves = false;
        for (std::size_t i = 0; i < entry.order.size(); ++i) {
            entry.order[i] &= kPosition;  // the high bits are free for the walk's marks now
            moves = moves || entry.order[i] != i;
        }
        return !moves;
    });
    topsMove_ = std::any_of(orders_.begin(), orders_.end(),
                            [](const TParentOrder& entry) { return !entry.parent; });
    if (tree_.observer_ != nullptr) {
        moves_.oldTopOrder.reserve(tree_.tops_.size());
        for (const auto& top : tree_.tops_) {
            moves_.oldTopOrder.push_back(top.get());
        }
    }
    if (topsMove_) {
        tree_.Notify([](IRowObserver& o) { o.LayoutAboutToChange(); });
    }
    for (const TParentOrder& entry : orders_) {
        if (entry.parent) {
            tree_.Notify(
                [&](IRowObserver& o) { o.ChildrenAboutToMove(entry.parent, entry.order); });
        }
    }
}

TResultTree::TReordering::~TReordering() {
    while (!Step(std::chrono::steady_clock::time_point::max())) {
    }
}

// One cycle of the permutation after the other, row i swapped with the row that goes there: at
// every moment each place holds a whole row, only not yet the right one.
bool TResultTree::TReordering::Step(std::chrono::steady_clock::time_point deadline) {
    if (done_) {
        return true;
    }
    unsigned moved = 0;
    for (; entry_ < orders_.size(); ++entry_, start_ = 0, inCycle_ = false) {
        TParentOrder& entry = orders_[entry_];
        TOrder& order = entry.order;
        if (!entry.parent) {
            std::vector<std::unique_ptr<TTopRow>> sorted;
            sorted.reserve(order.size());
            for (const std::uint64_t from : order) {
                sorted.push_back(std::move(tree_.tops_[from & kPosition]));
            }
            tree_.tops_ = std::move(sorted);
            tree_.RenumberTops(0);
            continue;
        }
        TTopRow& top = *entry.parent.top_;
        for (; start_ < order.size(); ++start_) {
            if (!inCycle_) {
                if ((order[start_] & kPlaced) != 0) {
                    continue;
                }
                inCycle_ = true;
                at_ = start_;
            }
            for (;;) {
                const std::size_t from = order[at_] & kPosition;
                order[at_] |= kPlaced;
                if (from == start_) {
                    break;
                }
                std::swap(top.children[at_], top.children[from]);
                std::swap(top.childStates[at_], top.childStates[from]);
                at_ = from;
                if (++moved % 1024 == 0 && std::chrono::steady_clock::now() >= deadline) {
                    return false;
                }
            }
            inCycle_ = false;
        }
        TOrder().swap(order);
    }
    done_ = true;
    if (topsMove_) {
        tree_.Notify([&](IRowObserver& o) { o.LayoutChanged(moves_); });
    } else if (!orders_.empty()) {
        tree_.Notify([](IRowObserver& o) { o.ChildrenReordered(); });
    }
    return true;
}

}  // namespace purgala
