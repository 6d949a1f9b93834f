#include "platform/VirtualTree.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <exception>

#include "platform/Colors.h"
#include "platform/Errors.h"
#include "platform/Failures.h"
#include "platform/FileNames.h"
#include "platform/IconList.h"

namespace purgala {

namespace {

enum NodeFlag : std::uint8_t {
    kExpanded = 1,
    kInitialized = 2,
    kDeleted = 4,
    kHasDeletedChildren = 8,  // listed for closing its gaps at the end of the bracket
};

// Rows come and go by the million, each the same size. The general heap would put each in a
// block of its own with a header and rounding (a 96-byte block for an 80-byte row); slabs of
// rows without either keep a million rows 16 MB smaller. Freed rows are reused, never returned.
// Under AddressSanitizer rows take the general heap, so that a row used after it was freed is
// still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoolRows = false;
#else
constexpr bool kPoolRows = true;
#endif

template <std::size_t Size, std::size_t Align>
class TSlabPool {
public:
    void* Allocate() {
        if (free_ == nullptr) {
            Grow();
        }
        Slot* slot = free_;
        free_ = slot->next;
        ++inUse_;
        return slot;
    }

    void Free(void* p) noexcept {
        auto* slot = static_cast<Slot*>(p);
        slot->next = free_;
        free_ = slot;
        --inUse_;
    }

    TRowPoolUsage Usage() const {
        return {inUse_ * sizeof(Slot), slabs_.size() * kSlabRows * sizeof(Slot)};
    }

private:
    union Slot {
        Slot* next;
        alignas(Align) std::byte bytes[Size];
    };
    static constexpr std::size_t kSlabRows = 4096;

    void Grow() {
        slabs_.push_back(std::make_unique<Slot[]>(kSlabRows));
        Slot* slab = slabs_.back().get();
        for (std::size_t i = kSlabRows; i-- > 0;) {
            slab[i].next = free_;
            free_ = &slab[i];
        }
    }

    std::vector<std::unique_ptr<Slot[]>> slabs_;
    Slot* free_ = nullptr;
    std::size_t inUse_ = 0;
};

}  // namespace

struct TVirtualNode {
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size) noexcept;

    struct Children {
        std::vector<std::unique_ptr<TVirtualNode>> rows;
        // Rows the view has been told about; rows appended inside an update bracket are
        // announced in one go when it ends.
        std::uint32_t committed = 0;
    };

    TVirtualNode* parent = nullptr;  // the hidden root for a top-level row
    std::unique_ptr<Children> children;
    std::uint32_t index = 0;
    TCheckType checkType = TCheckType::None;
    TCheckState checkState = TCheckState::Unchecked;
    std::uint8_t flags = 0;
    TFileNodeData data;

    bool Has(NodeFlag flag) const { return (flags & flag) != 0; }
    void Set(NodeFlag flag, bool on) {
        flags =
            on ? static_cast<std::uint8_t>(flags | flag) : static_cast<std::uint8_t>(flags & ~flag);
    }
    std::size_t RowCount() const { return children ? children->rows.size() : 0; }
    TVirtualNode* Child(std::size_t i) const { return children->rows[i].get(); }
};

namespace {

TSlabPool<sizeof(TVirtualNode), alignof(TVirtualNode)>& RowPool() {
    static TSlabPool<sizeof(TVirtualNode), alignof(TVirtualNode)> pool;
    return pool;
}

}  // namespace

TRowPoolUsage RowPoolUsage() {
    return RowPool().Usage();
}

void* TVirtualNode::operator new(std::size_t size) {
    return kPoolRows ? RowPool().Allocate() : ::operator new(size);
}

void TVirtualNode::operator delete(void* p, std::size_t size) noexcept {
    if (kPoolRows) {
        RowPool().Free(p);
    } else {
        ::operator delete(p, size);
    }
}

namespace {

// Top-down merge sort of positions. Taking the second run's row first only on a strict answer
// keeps rows that compare equal in their order when ascending and reverses them when descending.
// Only the first run of a merge is set aside, so the spare room is half the positions.
class SiblingSorter {
public:
    SiblingSorter(const std::function<int(std::size_t, std::size_t)>& compare, bool ascending)
        : compare_(compare), ascending_(ascending) {}

    std::vector<std::uint32_t> Sort(std::size_t count) {
        std::vector<std::uint32_t> order(count);
        for (std::size_t i = 0; i < count; ++i) {
            order[i] = static_cast<std::uint32_t>(i);
        }
        buffer_.resize((count + 1) / 2);
        SortRange(order, 0, count);
        return order;
    }

private:
    void SortRange(std::vector<std::uint32_t>& order, std::size_t lo, std::size_t hi) {
        if (hi - lo < 2) {
            return;
        }
        const std::size_t mid = lo + (hi - lo) / 2;
        SortRange(order, lo, mid);
        SortRange(order, mid, hi);
        const auto at = [](auto& v, std::size_t i) {
            return v.begin() + static_cast<std::ptrdiff_t>(i);
        };
        std::copy(at(order, lo), at(order, mid), buffer_.begin());
        std::size_t i = 0;
        const std::size_t firstEnd = mid - lo;
        std::size_t j = mid;
        std::size_t out = lo;
        while (i < firstEnd && j < hi) {
            const int result = compare_(buffer_[i], order[j]);
            const bool secondFirst = ascending_ ? result > 0 : result < 0;
            order[out++] = secondFirst ? order[j++] : buffer_[i++];
        }
        while (i < firstEnd) {
            order[out++] = buffer_[i++];
        }
        // What is left of the second run is in place already.
    }

    const std::function<int(std::size_t, std::size_t)>& compare_;
    bool ascending_;
    std::vector<std::uint32_t> buffer_;
};

}  // namespace

std::size_t TSiblingRows::size() const {
    return parent_->RowCount();
}

PVirtualNode TSiblingRows::operator[](std::size_t i) const {
    return parent_->Child(i);
}

// Cells painted as usual, with a horizontal and a vertical grid line; per visible cell only.
class TGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Midlight));
        const QRect r = option.rect;
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->restore();
    }
};

// ---------------------------------------------------------------------------------------------
// The model: rows owned by nodes, cells answered by the tree's events.

class TVTModel : public QAbstractItemModel {
public:
    struct ColumnInfo {
        QString text;
        QColor color;
        TAlignment alignment = TAlignment::Left;
        int width = 100;
    };

    explicit TVTModel(TVirtualStringTree& tree) : tree_(tree) {
        root_.children = std::make_unique<TVirtualNode::Children>();
    }

    // ---- Qt's side ----
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override {
        if (!hasIndex(row, column, parent)) {
            return {};
        }
        return createIndex(row, column, ChildAt(NodeOrRoot(parent), row));
    }

    QModelIndex parent(const QModelIndex& child) const override {
        if (!child.isValid()) {
            return {};
        }
        const TVirtualNode* p = Node(child)->parent;
        if (p == &root_) {
            return {};
        }
        return createIndex(RowOf(p), 0, const_cast<TVirtualNode*>(p));
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        if (parent.column() > 0) {
            return 0;
        }
        const TVirtualNode* p = NodeOrRoot(parent);
        return p->children ? static_cast<int>(p->children->committed) : 0;
    }

    int columnCount(const QModelIndex& = {}) const override {
        return static_cast<int>(columns_.size());
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) {
            return Qt::NoItemFlags;
        }
        TVirtualNode* node = Node(index);
        tree_.EnsureInitialized(node);
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (index.column() == 0 && node->checkType == TCheckType::CheckBox) {
            f |= Qt::ItemIsUserCheckable;
        }
        return f;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) {
            return {};
        }
        TVirtualNode* node = Node(index);
        const int column = index.column();
        // An event handler's failure must not leave the painting half done.
        try {
            tree_.EnsureInitialized(node);
            switch (role) {
                case Qt::DisplayRole:
                    return CellText(node, column);
                case Qt::ToolTipRole:
                    return CellHint(node, column);
                case Qt::DecorationRole:
                    return CellIcon(node, column);
                case Qt::CheckStateRole:
                    return CellCheck(node, column);
                case Qt::BackgroundRole: {
                    const QColor& color = columns_[static_cast<std::size_t>(column)].color;
                    return color.isValid() ? QVariant(color) : QVariant();
                }
                case Qt::ForegroundRole: {
                    // A column's own colour brings the text colour that reads on it.
                    const QColor& color = columns_[static_cast<std::size_t>(column)].color;
                    return color.isValid() ? QVariant(ReadableTextColor(
                                                 color, {tree_.palette().color(QPalette::Text)}))
                                           : QVariant();
                }
                case Qt::TextAlignmentRole:
                    return QVariant::fromValue(
                        Alignment(columns_[static_cast<std::size_t>(column)].alignment));
                default:
                    return {};
            }
        } catch (const std::exception&) {
            return {};
        }
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (!index.isValid() || role != Qt::CheckStateRole) {
            return false;
        }
        TVirtualNode* node = Node(index);
        if (node->checkType != TCheckType::CheckBox) {
            return false;
        }
        const auto state = static_cast<Qt::CheckState>(value.toInt());
        const TCheckState old = node->checkState;
        node->checkState = state == Qt::Checked ? TCheckState::Checked : TCheckState::Unchecked;
        emit dataChanged(index, index, {Qt::CheckStateRole});
        if (node->checkState != old && tree_.OnChecked) {
            RunGuarded([&] { tree_.OnChecked(tree_, node); });
        }
        return true;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 ||
            section >= static_cast<int>(columns_.size())) {
            return {};
        }
        const ColumnInfo& column = columns_[static_cast<std::size_t>(section)];
        if (role == Qt::DisplayRole) {
            return column.text;
        }
        if (role == Qt::TextAlignmentRole) {
            return QVariant::fromValue(Alignment(column.alignment));
        }
        return {};
    }

    // ---- the tree's side ----
    TVirtualNode* Root() { return &root_; }
    const TVirtualNode* Root() const { return &root_; }

    static TVirtualNode* Node(const QModelIndex& index) {
        return static_cast<TVirtualNode*>(index.internalPointer());
    }

    QModelIndex IndexOf(const TVirtualNode* node, int column) const {
        if (node == nullptr || node == &root_ || !IsAnnounced(node)) {
            return {};
        }
        return createIndex(RowOf(node), column, const_cast<TVirtualNode*>(node));
    }

    // Whether the view knows this row: it and all its ancestors are committed and alive.
    bool IsAnnounced(const TVirtualNode* node) const {
        if (resetting_) {
            return false;
        }
        for (; node != &root_; node = node->parent) {
            if (node->Has(kDeleted) ||
                static_cast<std::uint32_t>(RowOf(node)) >= node->parent->children->committed) {
                return false;
            }
        }
        return true;
    }

    TVirtualNode* Append(TVirtualNode* parent) {
        if (!parent->children) {
            parent->children = std::make_unique<TVirtualNode::Children>();
        }
        auto& kids = *parent->children;
        auto node = std::make_unique<TVirtualNode>();
        node->parent = parent;
        node->index = static_cast<std::uint32_t>(kids.rows.size());
        TVirtualNode* raw = node.get();
        if (tree_.InUpdate()) {
            if (kids.rows.size() == kids.committed) {
                pendingParents_.push_back(parent);
            }
            kids.rows.push_back(std::move(node));
        } else if (IsAnnounced(parent) || parent == &root_) {
            const QModelIndex parentIndex = IndexOf(parent, 0);
            const int row = static_cast<int>(kids.rows.size());
            beginInsertRows(parentIndex, row, row);
            kids.rows.push_back(std::move(node));
            kids.committed = static_cast<std::uint32_t>(kids.rows.size());
            endInsertRows();
        } else {
            kids.rows.push_back(std::move(node));
        }
        return raw;
    }

    void Delete(TVirtualNode* node) {
        TVirtualNode* parent = node->parent;
        auto& kids = *parent->children;
        if (tree_.InUpdate()) {
            // Deleting many rows of one folder must not shift the rest each time: mark now,
            // close the gaps once when the bracket ends.
            node->Set(kDeleted, true);
            if (!parent->Has(kHasDeletedChildren)) {
                parent->Set(kHasDeletedChildren, true);
                dirtyParents_.push_back(parent);
            }
            return;
        }
        const bool announced = IsAnnounced(node);
        const int row = static_cast<int>(node->index);
        const bool committed = node->index < kids.committed;
        if (announced) {
            beginRemoveRows(IndexOf(parent, 0), row, row);
        }
        kids.rows.erase(kids.rows.begin() + row);  // `node` is gone from here on
        for (std::size_t i = static_cast<std::size_t>(row); i < kids.rows.size(); ++i) {
            kids.rows[i]->index = static_cast<std::uint32_t>(i);
        }
        if (committed) {
            --kids.committed;
        }
        if (announced) {
            endRemoveRows();
        }
    }

    void ClearRows() {
        if (tree_.InUpdate()) {
            BeginResetOnce();
            root_.children = std::make_unique<TVirtualNode::Children>();
            pendingParents_.clear();
            pendingExpand_.clear();
            dirtyParents_.clear();
            return;
        }
        beginResetModel();
        root_.children = std::make_unique<TVirtualNode::Children>();
        endResetModel();
    }

    void MarkDataChanged() { dataDirty_ = true; }

    void DeferExpand(TVirtualNode* node) { pendingExpand_.push_back(node); }

    // Ends the outermost update bracket: tells the view everything that changed, in one go.
    void FlushUpdate() {
        if (resetting_) {
            // Deepest first: closing the gaps of a parent frees the deleted rows below it, which
            // may themselves be on the list.
            std::stable_sort(
                dirtyParents_.begin(), dirtyParents_.end(),
                [](const TVirtualNode* a, const TVirtualNode* b) { return Depth(a) > Depth(b); });
            for (TVirtualNode* parent : dirtyParents_) {
                parent->Set(kHasDeletedChildren, false);
                auto& rows = parent->children->rows;
                std::erase_if(rows, [](const auto& n) { return n->Has(kDeleted); });
                Renumber(parent);
            }
            dirtyParents_.clear();
            CommitAll(&root_);
            pendingParents_.clear();
            pendingExpand_.clear();
            dataDirty_ = false;
            resetting_ = false;
            endResetModel();
            RestoreExpansion(&root_);
            return;
        }
        for (TVirtualNode* parent : pendingParents_) {
            auto& kids = *parent->children;
            // A scan appends a folder's rows in one bracket; the spare room of a vector that
            // grew by doubling would cost a million-row tree megabytes. The top level grows by
            // one folder row per bracket: shrinking it each time would copy it each time.
            if (parent != &root_) {
                kids.rows.shrink_to_fit();
            }
            if (kids.committed < kids.rows.size() && (parent == &root_ || IsAnnounced(parent))) {
                beginInsertRows(IndexOf(parent, 0), static_cast<int>(kids.committed),
                                static_cast<int>(kids.rows.size()) - 1);
                kids.committed = static_cast<std::uint32_t>(kids.rows.size());
                endInsertRows();
            }
        }
        pendingParents_.clear();
        for (TVirtualNode* node : pendingExpand_) {
            if (node->Has(kExpanded) && IsAnnounced(node)) {
                tree_.QTreeView::setExpanded(IndexOf(node, 0), true);
            }
        }
        pendingExpand_.clear();
        RemoveDeletedRows();
        if (dataDirty_) {
            dataDirty_ = false;
            EmitAllChanged(&root_);
        }
    }

    bool HasDeletedRows() const { return !dirtyParents_.empty(); }

    static unsigned Depth(const TVirtualNode* node) {
        unsigned depth = 0;
        for (; node->parent != nullptr; node = node->parent) {
            ++depth;
        }
        return depth;
    }

    static void Renumber(TVirtualNode* parent) {
        auto& rows = parent->children->rows;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            rows[i]->index = static_cast<std::uint32_t>(i);
        }
    }

    void Sort(int column, TSortDirection direction) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        SortChildren(&root_, column, direction == TSortDirection::Ascending);
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from) {
            TVirtualNode* node = Node(index);
            to.append(createIndex(static_cast<int>(node->index), index.column(), node));
        }
        changePersistentIndexList(from, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    // ---- columns ----
    std::vector<ColumnInfo>& Columns() { return columns_; }

    void AddColumn() {
        const int n = static_cast<int>(columns_.size());
        beginInsertColumns({}, n, n);
        columns_.emplace_back();
        endInsertColumns();
    }

    void ClearColumns() {
        if (columns_.empty()) {
            return;
        }
        beginRemoveColumns({}, 0, static_cast<int>(columns_.size()) - 1);
        columns_.clear();
        endRemoveColumns();
    }

    void ColumnChanged(int column) {
        emit headerDataChanged(Qt::Horizontal, column, column);
        EmitAllChanged(&root_);
    }

private:
    static Qt::Alignment Alignment(TAlignment alignment) {
        switch (alignment) {
            case TAlignment::Right:
                return Qt::AlignRight | Qt::AlignVCenter;
            case TAlignment::Center:
                return Qt::AlignHCenter | Qt::AlignVCenter;
            default:
                return Qt::AlignLeft | Qt::AlignVCenter;
        }
    }

    const TVirtualNode* NodeOrRoot(const QModelIndex& index) const {
        return index.isValid() ? Node(index) : &root_;
    }

    // While the deleted rows of one parent are being taken out run by run, the rows not yet
    // reached sit `read - write` places further on than the view has been told.
    int RowOf(const TVirtualNode* node) const {
        std::size_t row = node->index;
        if (node->parent == compaction_.parent && row >= compaction_.read) {
            row -= compaction_.read - compaction_.write;
        }
        return static_cast<int>(row);
    }

    TVirtualNode* ChildAt(const TVirtualNode* parent, int row) const {
        auto i = static_cast<std::size_t>(row);
        if (parent == compaction_.parent && i >= compaction_.write) {
            i += compaction_.read - compaction_.write;
        }
        return parent->Child(i);
    }

    static bool IsLive(const TVirtualNode* node) {
        for (; node != nullptr; node = node->parent) {
            if (node->Has(kDeleted)) {
                return false;
            }
        }
        return true;
    }

    // The rows deleted inside the bracket leave as row removals, one per run of adjacent rows,
    // so the view keeps its scroll position, focus, selection and expanded rows. Deepest parents
    // first: a parent's rows are freed with it, so its own list is not looked at afterwards.
    void RemoveDeletedRows() {
        std::stable_sort(
            dirtyParents_.begin(), dirtyParents_.end(),
            [](const TVirtualNode* a, const TVirtualNode* b) { return Depth(a) > Depth(b); });
        for (TVirtualNode* parent : dirtyParents_) {
            parent->Set(kHasDeletedChildren, false);
            if (IsLive(parent)) {
                CompactChildren(parent);
            }
        }
        dirtyParents_.clear();
    }

    // One pass: survivors slide down over the gaps as each run of deleted rows is announced.
    void CompactChildren(TVirtualNode* parent) {
        auto& kids = *parent->children;
        auto& rows = kids.rows;
        const QModelIndex parentIndex = IndexOf(parent, 0);
        const bool announced = parent == &root_ || IsAnnounced(parent);
        const std::size_t committed = kids.committed;
        compaction_ = {parent, 0, 0};
        std::size_t& read = compaction_.read;
        std::size_t& write = compaction_.write;
        while (read < rows.size()) {
            if (!rows[read]->Has(kDeleted)) {
                if (write != read) {
                    rows[write] = std::move(rows[read]);
                    rows[write]->index = static_cast<std::uint32_t>(write);
                }
                ++write;
                ++read;
                continue;
            }
            std::size_t end = read + 1;
            while (end < rows.size() && rows[end]->Has(kDeleted)) {
                ++end;
            }
            // Rows appended inside the bracket were never shown: they go without a word.
            const std::size_t shown = read < committed ? std::min(end, committed) - read : 0;
            if (shown > 0) {
                if (announced) {
                    beginRemoveRows(parentIndex, static_cast<int>(write),
                                    static_cast<int>(write + shown - 1));
                }
                kids.committed -= static_cast<std::uint32_t>(shown);
                read += shown;
                if (announced) {
                    endRemoveRows();
                }
            }
            read = end;
        }
        rows.resize(write);
        if (rows.capacity() / 2 > rows.size()) {
            rows.shrink_to_fit();
        }
        compaction_ = {};
    }

    QVariant CellText(TVirtualNode* node, int column) const {
        std::string text;
        if (tree_.OnGetText) {
            tree_.OnGetText(tree_, node, column, TVSTTextType::Normal, text);
        }
        return DecodeFileName(text);
    }

    QVariant CellHint(TVirtualNode* node, int column) const {
        std::string hint;
        if (tree_.OnGetHint) {
            tree_.OnGetHint(tree_, node, column, hint);
        }
        if (hint.empty()) {
            return {};
        }
        return DecodeFileName(hint);
    }

    QVariant CellIcon(TVirtualNode* node, int column) const {
        int imageIndex = -1;
        bool ghosted = false;
        if (tree_.OnGetImageIndex) {
            tree_.OnGetImageIndex(tree_, node, TImageKind::Normal, column, ghosted, imageIndex);
        }
        if (imageIndex < 0) {
            return {};
        }
        return TIconList::Instance().Icon(imageIndex);
    }

    static QVariant CellCheck(const TVirtualNode* node, int column) {
        if (column != 0 || node->checkType != TCheckType::CheckBox) {
            return {};
        }
        switch (node->checkState) {
            case TCheckState::Checked:
            case TCheckState::CheckedPressed:
                return Qt::Checked;
            case TCheckState::Mixed:
                return Qt::PartiallyChecked;
            default:
                return Qt::Unchecked;
        }
    }

    void BeginResetOnce() {
        if (!resetting_) {
            beginResetModel();
            resetting_ = true;
        }
    }

    static void CommitAll(TVirtualNode* node) {
        if (!node->children) {
            return;
        }
        node->children->committed = static_cast<std::uint32_t>(node->children->rows.size());
        for (const auto& child : node->children->rows) {
            if (child->children) {
                CommitAll(child.get());
            }
        }
    }

    void RestoreExpansion(TVirtualNode* node) {
        if (!node->children) {
            return;
        }
        for (const auto& child : node->children->rows) {
            if (child->children) {
                if (child->Has(kExpanded)) {
                    tree_.QTreeView::setExpanded(IndexOf(child.get(), 0), true);
                }
                RestoreExpansion(child.get());
            }
        }
    }

    void EmitAllChanged(TVirtualNode* node) {
        if (!node->children || node->children->committed == 0 || columns_.empty()) {
            return;
        }
        const int last = static_cast<int>(node->children->committed) - 1;
        const QModelIndex parentIndex = IndexOf(node, 0);
        emit dataChanged(index(0, 0, parentIndex),
                         index(last, static_cast<int>(columns_.size()) - 1, parentIndex));
        for (std::uint32_t i = 0; i < node->children->committed; ++i) {
            TVirtualNode* child = node->Child(i);
            if (child->children) {
                EmitAllChanged(child);
            }
        }
    }

    void SortChildren(TVirtualNode* parent, int column, bool ascending) {
        if (!parent->children) {
            return;
        }
        auto& rows = parent->children->rows;
        if (rows.size() > 1) {
            std::function<int(std::size_t, std::size_t)> compare;
            if (tree_.OnPrepareSort) {
                compare = tree_.OnPrepareSort(tree_, TSiblingRows(parent), column);
            }
            std::vector<PVirtualNode> siblings;
            if (!compare) {
                siblings.resize(rows.size());
                for (std::size_t i = 0; i < rows.size(); ++i) {
                    siblings[i] = rows[i].get();
                }
                compare = [this, &siblings, column](std::size_t a, std::size_t b) {
                    int result = 0;
                    if (tree_.OnCompareNodes) {
                        tree_.OnCompareNodes(tree_, siblings[a], siblings[b], column, result);
                    }
                    return result;
                };
            }
            std::vector<std::uint32_t> order = SiblingSorter(compare, ascending).Sort(rows.size());
            compare = nullptr;  // the keys go before the rows are put in order
            // In place, one cycle of the permutation after the other: row i becomes the row at
            // order[i]. A million owners are not copied into a second list.
            constexpr std::uint32_t kPlaced = 0x80000000u;
            for (std::size_t start = 0; start < order.size(); ++start) {
                if ((order[start] & kPlaced) != 0) {
                    continue;
                }
                std::unique_ptr<TVirtualNode> first = std::move(rows[start]);
                for (std::size_t i = start;;) {
                    const std::size_t from = order[i];
                    order[i] |= kPlaced;
                    if (from == start) {
                        rows[i] = std::move(first);
                        break;
                    }
                    rows[i] = std::move(rows[from]);
                    i = from;
                }
            }
            Renumber(parent);
        }
        for (const auto& child : rows) {
            if (child->children) {
                SortChildren(child.get(), column, ascending);
            }
        }
    }

    TVirtualStringTree& tree_;
    TVirtualNode root_;
    std::vector<ColumnInfo> columns_;
    std::vector<TVirtualNode*> pendingParents_;
    std::vector<TVirtualNode*> pendingExpand_;
    std::vector<TVirtualNode*> dirtyParents_;
    struct Compaction {
        const TVirtualNode* parent = nullptr;
        std::size_t read = 0;   // the next row to look at
        std::size_t write = 0;  // where the next survivor goes
    } compaction_;
    bool resetting_ = false;
    bool dataDirty_ = false;
};

// ---------------------------------------------------------------------------------------------
// Columns and header

QString TVirtualTreeColumn::Text() const {
    return tree_->model_->Columns()[static_cast<std::size_t>(index_)].text;
}

void TVirtualTreeColumn::SetText(const QString& text) {
    tree_->model_->Columns()[static_cast<std::size_t>(index_)].text = text;
    emit tree_->model_->headerDataChanged(Qt::Horizontal, index_, index_);
}

int TVirtualTreeColumn::Width() const {
    return tree_->model_->Columns()[static_cast<std::size_t>(index_)].width;
}

void TVirtualTreeColumn::SetWidth(int width) {
    tree_->model_->Columns()[static_cast<std::size_t>(index_)].width = width;
    tree_->header()->resizeSection(index_, width);
}

QColor TVirtualTreeColumn::Color() const {
    return tree_->model_->Columns()[static_cast<std::size_t>(index_)].color;
}

void TVirtualTreeColumn::SetColor(const QColor& color) {
    tree_->model_->Columns()[static_cast<std::size_t>(index_)].color = color;
    tree_->model_->ColumnChanged(index_);
}

TAlignment TVirtualTreeColumn::Alignment() const {
    return tree_->model_->Columns()[static_cast<std::size_t>(index_)].alignment;
}

void TVirtualTreeColumn::SetAlignment(TAlignment alignment) {
    tree_->model_->Columns()[static_cast<std::size_t>(index_)].alignment = alignment;
    tree_->model_->ColumnChanged(index_);
}

int TVirtualTreeColumn::Position() const {
    return tree_->header()->visualIndex(index_);
}

void TVirtualTreeColumn::SetPosition(int position) {
    QHeaderView* header = tree_->header();
    const int target = std::clamp(position, 0, header->count() - 1);
    header->moveSection(header->visualIndex(index_), target);
}

bool TVirtualTreeColumn::Visible() const {
    return !tree_->header()->isSectionHidden(index_);
}

void TVirtualTreeColumn::SetVisible(bool visible) {
    tree_->header()->setSectionHidden(index_, !visible);
}

void TVirtualTreeColumns::Clear() {
    tree_.model_->ClearColumns();
    tree_.header_.SetSortColumn(kNoColumn);
}

void TVirtualTreeColumns::BeginUpdate() {
    tree_.header()->setUpdatesEnabled(false);
}

void TVirtualTreeColumns::EndUpdate() {
    tree_.header()->setUpdatesEnabled(true);
}

TVirtualTreeColumn TVirtualTreeColumns::Add() {
    tree_.model_->AddColumn();
    const int index = Count() - 1;
    tree_.header()->resizeSection(index, tree_.model_->Columns().back().width);
    return TVirtualTreeColumn(tree_, index);
}

int TVirtualTreeColumns::Count() const {
    return tree_.model_->columnCount();
}

TVirtualTreeColumn TVirtualTreeColumns::Items(int index) {
    if (index < 0 || index >= Count()) {
        throw ListIndexError("column index out of bounds (" + std::to_string(index) + ")");
    }
    return TVirtualTreeColumn(tree_, index);
}

void TVTHeader::SetSortColumn(int column) {
    sortColumn_ = column;
    ShowSortGlyph();
}

void TVTHeader::SetSortDirection(TSortDirection direction) {
    sortDirection_ = direction;
    ShowSortGlyph();
}

void TVTHeader::ShowSortGlyph() {
    tree_.inHeaderSync_ = true;
    tree_.header()->setSortIndicator(sortColumn_, sortDirection_ == TSortDirection::Ascending
                                                      ? Qt::AscendingOrder
                                                      : Qt::DescendingOrder);
    tree_.inHeaderSync_ = false;
}

// ---------------------------------------------------------------------------------------------
// The tree

TVirtualStringTree::TVirtualStringTree(QWidget* parent)
    : QTreeView(parent), model_(std::make_unique<TVTModel>(*this)), header_(*this) {
    setModel(model_.get());
    setItemDelegate(new TGridDelegate(this));
    // A million rows scroll smoothly only when the view need not measure each one.
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAllColumnsShowFocus(true);
    // The view toggles a row on a double click in its first column only; ours does it in all.
    setExpandsOnDoubleClick(false);
    QHeaderView* h = header();
    h->setSectionsMovable(true);
    h->setSectionsClickable(true);
    h->setSortIndicatorShown(true);
    h->setSortIndicator(kNoColumn, Qt::AscendingOrder);
    h->setStretchLastSection(false);
    h->viewport()->installEventFilter(this);
    // The header flips its own glyph on a click; the sort state is ours.
    connect(h, &QHeaderView::sortIndicatorChanged, this, [this](int, Qt::SortOrder) {
        if (!inHeaderSync_) {
            header_.ShowSortGlyph();
        }
    });
    connect(h, &QHeaderView::sectionClicked, this, [this](int column) {
        if (OnHeaderClick) {
            RunGuarded([&] { OnHeaderClick(*this, column, Qt::LeftButton); });
        }
    });
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (PVirtualNode node = NodeAt(index)) {
            node->Set(kExpanded, true);
        }
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (PVirtualNode node = NodeAt(index)) {
            node->Set(kExpanded, false);
        }
    });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (OnChange) {
                    RunGuarded([&] { OnChange(*this, NodeAt(current)); });
                }
            });
}

TVirtualStringTree::~TVirtualStringTree() {
    // The view must let go of the model before the model goes.
    setModel(nullptr);
}

void TVirtualStringTree::Clear() {
    model_->ClearRows();
}

void TVirtualStringTree::BeginUpdate() {
    ++updateCount_;
}

void TVirtualStringTree::EndUpdate() {
    if (updateCount_ == 0) {
        return;
    }
    if (--updateCount_ == 0) {
        // Rows that stay keep their place on screen: the top one stays at the top.
        const PVirtualNode top = model_->HasDeletedRows() ? TopNode() : nullptr;
        model_->FlushUpdate();
        if (const QModelIndex index = model_->IndexOf(top, 0); index.isValid()) {
            const int x = horizontalScrollBar()->value();
            scrollTo(index, PositionAtTop);
            horizontalScrollBar()->setValue(x);
        }
        viewport()->update();
    }
}

PVirtualNode TVirtualStringTree::AddChild(PVirtualNode parent) {
    return model_->Append(parent != nullptr ? parent : model_->Root());
}

void TVirtualStringTree::DeleteNode(PVirtualNode node) {
    if (node == nullptr || node == model_->Root()) {
        return;
    }
    // The view would move the focus to a neighbour, and a following "open the focused row"
    // would act on a row the user never picked.
    for (PVirtualNode n = FocusedNode(); n != nullptr; n = NodeParent(n)) {
        if (n == node) {
            selectionModel()->clearCurrentIndex();
            break;
        }
    }
    model_->Delete(node);
}

TFileNodeData& TVirtualStringTree::GetNodeData(PVirtualNode node) {
    return node->data;
}

namespace {

// Live rows only: rows deleted inside an update bracket wait there until it ends.
PVirtualNode LiveChildFrom(const TVirtualNode* parent, std::size_t from) {
    if (!parent->children) {
        return nullptr;
    }
    const auto& rows = parent->children->rows;
    for (std::size_t i = from; i < rows.size(); ++i) {
        if (!rows[i]->Has(kDeleted)) {
            return rows[i].get();
        }
    }
    return nullptr;
}

PVirtualNode LiveChildBefore(const TVirtualNode* parent, std::size_t before) {
    if (!parent->children) {
        return nullptr;
    }
    const auto& rows = parent->children->rows;
    for (std::size_t i = std::min(before, rows.size()); i-- > 0;) {
        if (!rows[i]->Has(kDeleted)) {
            return rows[i].get();
        }
    }
    return nullptr;
}

PVirtualNode LastDescendant(PVirtualNode node) {
    while (PVirtualNode last = LiveChildBefore(node, node->RowCount())) {
        node = last;
    }
    return node;
}

}  // namespace

PVirtualNode TVirtualStringTree::GetFirst() const {
    return LiveChildFrom(model_->Root(), 0);
}

PVirtualNode TVirtualStringTree::GetNext(PVirtualNode node) const {
    if (node == nullptr) {
        return nullptr;
    }
    if (PVirtualNode child = LiveChildFrom(node, 0)) {
        return child;
    }
    for (; node != model_->Root(); node = node->parent) {
        if (PVirtualNode sibling = LiveChildFrom(node->parent, node->index + 1)) {
            return sibling;
        }
    }
    return nullptr;
}

PVirtualNode TVirtualStringTree::GetLast() const {
    PVirtualNode last = LiveChildBefore(model_->Root(), model_->Root()->RowCount());
    return last != nullptr ? LastDescendant(last) : nullptr;
}

PVirtualNode TVirtualStringTree::GetPrevious(PVirtualNode node) const {
    if (node == nullptr) {
        return nullptr;
    }
    if (PVirtualNode sibling = LiveChildBefore(node->parent, node->index)) {
        return LastDescendant(sibling);
    }
    return node->parent != model_->Root() ? node->parent : nullptr;
}

PVirtualNode TVirtualStringTree::GetFirstChild(PVirtualNode parent) const {
    return LiveChildFrom(parent != nullptr ? parent : model_->Root(), 0);
}

PVirtualNode TVirtualStringTree::GetNextSibling(PVirtualNode node) const {
    return node != nullptr ? LiveChildFrom(node->parent, node->index + 1) : nullptr;
}

PVirtualNode TVirtualStringTree::NodeParent(PVirtualNode node) const {
    return node != nullptr && node->parent != model_->Root() ? node->parent : nullptr;
}

unsigned TVirtualStringTree::GetNodeLevel(PVirtualNode node) const {
    unsigned level = 0;
    for (const TVirtualNode* p = node->parent; p != model_->Root(); p = p->parent) {
        ++level;
    }
    return level;
}

unsigned TVirtualStringTree::NodeIndex(PVirtualNode node) const {
    return node->index;
}

unsigned TVirtualStringTree::ChildCount(PVirtualNode parent) const {
    const TVirtualNode* p = parent != nullptr ? parent : model_->Root();
    if (!p->children) {
        return 0;
    }
    const auto& rows = p->children->rows;
    // Only rows deleted inside an open bracket still stand in the list; a count costs a walk
    // only then, so that appending folder after folder stays linear.
    if (!p->Has(kHasDeletedChildren)) {
        return static_cast<unsigned>(rows.size());
    }
    return static_cast<unsigned>(
        std::count_if(rows.begin(), rows.end(), [](const auto& n) { return !n->Has(kDeleted); }));
}

std::size_t TVirtualStringTree::TotalCount() const {
    std::size_t count = 0;
    for (PVirtualNode n = GetFirst(); n != nullptr; n = GetNext(n)) {
        ++count;
    }
    return count;
}

TCheckType TVirtualStringTree::CheckType(PVirtualNode node) const {
    return node->checkType;
}

void TVirtualStringTree::SetCheckType(PVirtualNode node, TCheckType type) {
    node->checkType = type;
}

TCheckState TVirtualStringTree::CheckState(PVirtualNode node) const {
    return node->checkState;
}

void TVirtualStringTree::SetCheckState(PVirtualNode node, TCheckState state) {
    node->checkState = state;
    if (InUpdate()) {
        model_->MarkDataChanged();
    } else if (const QModelIndex index = model_->IndexOf(node, 0); index.isValid()) {
        emit model_->dataChanged(index, index, {Qt::CheckStateRole});
    }
}

bool TVirtualStringTree::Expanded(PVirtualNode node) const {
    return node->Has(kExpanded);
}

void TVirtualStringTree::SetExpanded(PVirtualNode node, bool expanded) {
    node->Set(kExpanded, expanded);
    if (const QModelIndex index = model_->IndexOf(node, 0); index.isValid() && !InUpdate()) {
        QTreeView::setExpanded(index, expanded);
    } else if (expanded) {
        model_->DeferExpand(node);
    }
}

PVirtualNode TVirtualStringTree::FocusedNode() const {
    return NodeAt(currentIndex());
}

void TVirtualStringTree::SetFocusedNode(PVirtualNode node) {
    setCurrentIndex(model_->IndexOf(node, 0));
}

void TVirtualStringTree::SortTree(int column, TSortDirection direction) {
    model_->Sort(column, direction);
}

QModelIndex TVirtualStringTree::IndexOf(PVirtualNode node, int column) const {
    return model_->IndexOf(node, column);
}

PVirtualNode TVirtualStringTree::NodeAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model_.get()) {
        return nullptr;
    }
    return TVTModel::Node(index);
}

void TVirtualStringTree::EnsureInitialized(PVirtualNode node) const {
    if (node->Has(kInitialized)) {
        return;
    }
    node->Set(kInitialized, true);
    if (OnInitNode) {
        OnInitNode(const_cast<TVirtualStringTree&>(*this), NodeParent(node), node);
    }
}

PVirtualNode TVirtualStringTree::TopNode() const {
    const QHeaderView* h = header();
    for (int visual = 0; visual < h->count(); ++visual) {
        const int column = h->logicalIndex(visual);
        if (h->isSectionHidden(column)) {
            continue;
        }
        // The right end of a cell: the first column's left part is the tree's indentation.
        const int x = h->sectionViewportPosition(column) + h->sectionSize(column) - 1;
        if (PVirtualNode node = NodeAt(indexAt(QPoint(x, 0)))) {
            return node;
        }
    }
    return nullptr;
}

void TVirtualStringTree::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QPersistentModelIndex cell(indexAt(at));
    QTreeView::mouseDoubleClickEvent(event);
    // Left of the first column's cell lie the expand buttons, which toggle on their own click.
    const QModelIndex first = QModelIndex(cell).siblingAtColumn(0);
    const bool onButtons =
        header()->logicalIndexAt(at.x()) == 0 && at.x() < visualRect(first).left();
    if (event->button() == Qt::LeftButton && first.isValid() && !onButtons &&
        model_->hasChildren(first)) {
        setExpanded(first, !isExpanded(first));
    }
    if (OnDblClick) {
        RunGuarded([this] { OnDblClick(*this); });
    }
}

void TVirtualStringTree::keyPressEvent(QKeyEvent* event) {
    // Space toggles the focused row's box whichever of its cells has the focus.
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        const PVirtualNode node = FocusedNode();
        if (node != nullptr && CheckType(node) == TCheckType::CheckBox) {
            const bool checked = CheckState(node) == TCheckState::Checked;
            model_->setData(IndexOf(node, 0), checked ? Qt::Unchecked : Qt::Checked,
                            Qt::CheckStateRole);
            event->accept();
            return;
        }
    }
    QTreeView::keyPressEvent(event);
}

bool TVirtualStringTree::eventFilter(QObject* watched, QEvent* event) {
    if (watched == header()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const int column = header()->logicalIndexAt(mouse->position().toPoint());
            if (event->type() == QEvent::MouseButtonPress && OnHeaderMouseDown) {
                RunGuarded([&] { OnHeaderMouseDown(*this, column, mouse->button()); });
            } else if (event->type() == QEvent::MouseButtonRelease &&
                       mouse->button() != Qt::LeftButton && column >= 0 && OnHeaderClick) {
                // Left clicks arrive through sectionClicked, which knows drags from clicks.
                RunGuarded([&] { OnHeaderClick(*this, column, mouse->button()); });
            }
        }
    }
    return QTreeView::eventFilter(watched, event);
}

}  // namespace purgala
