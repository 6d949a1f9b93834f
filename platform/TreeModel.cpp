#include "platform/TreeModel.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>

#include "platform/Colors.h"
#include "platform/Failures.h"
#include "platform/FileNames.h"
#include "platform/IconList.h"
#include "platform/SiblingSort.h"
#include "platform/VirtualTree.h"

namespace purgala {

namespace {

Qt::Alignment Alignment(TAlignment alignment) {
    switch (alignment) {
        case TAlignment::Right:
            return Qt::AlignRight | Qt::AlignVCenter;
        case TAlignment::Center:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        default:
            return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

QVariant CellCheck(const TVirtualNode* node, int column) {
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

void CommitAll(TVirtualNode* node) {
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

}  // namespace

TVTModel::TVTModel(TVirtualStringTree& tree) : tree_(tree) {
    root_.children = std::make_unique<TVirtualNode::Children>();
}

QModelIndex TVTModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) {
        return {};
    }
    return createIndex(row, column, ChildAt(NodeOrRoot(parent), row));
}

QModelIndex TVTModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) {
        return {};
    }
    const TVirtualNode* p = Node(child)->parent;
    if (p == &root_) {
        return {};
    }
    return createIndex(RowOf(p), 0, const_cast<TVirtualNode*>(p));
}

int TVTModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) {
        return 0;
    }
    const TVirtualNode* p = NodeOrRoot(parent);
    return p->children ? static_cast<int>(p->children->committed) : 0;
}

int TVTModel::columnCount(const QModelIndex&) const {
    return static_cast<int>(columns_.size());
}

Qt::ItemFlags TVTModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    TVirtualNode* node = Node(index);
    tree_.EnsureInitialized(node);
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0 && node->checkType == TCheckType::CheckBox) {
        f |= Qt::ItemIsUserCheckable;
    }
    if (tree_.OnEditing) {
        bool allowed = false;
        RunGuarded([&] { tree_.OnEditing(tree_, node, index.column(), allowed); });
        if (allowed) {
            f |= Qt::ItemIsEditable;
        }
    }
    return f;
}

QVariant TVTModel::data(const QModelIndex& index, int role) const {
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
            case Qt::EditRole:
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
                const QColor text = tree_.palette().color(QPalette::Text);
                bool muted = false;
                if (tree_.OnPaintText) {
                    tree_.OnPaintText(tree_, node, column, muted);
                }
                if (muted) {
                    return MutedTextColor(
                        color.isValid() ? color : tree_.palette().color(QPalette::Base), text);
                }
                return color.isValid() ? QVariant(ReadableTextColor(color, {text})) : QVariant();
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

bool TVTModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (index.isValid() && role == Qt::EditRole && tree_.OnNewText) {
        TVirtualNode* node = Node(index);
        const std::string text = EncodeFileName(value.toString());
        RunGuarded([&] { tree_.OnNewText(tree_, node, index.column(), text); });
        emit dataChanged(index, index);
        return true;
    }
    if (!index.isValid() || role != Qt::CheckStateRole) {
        return false;
    }
    TVirtualNode* node = Node(index);
    if (node->checkType != TCheckType::CheckBox ||
        (tree_.OnChecking && !tree_.OnChecking(tree_, node))) {
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

QVariant TVTModel::headerData(int section, Qt::Orientation orientation, int role) const {
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

QModelIndex TVTModel::IndexOf(const TVirtualNode* node, int column) const {
    if (node == nullptr || node == &root_ || !IsAnnounced(node)) {
        return {};
    }
    return createIndex(RowOf(node), column, const_cast<TVirtualNode*>(node));
}

// Whether the view knows this row: it and all its ancestors are committed and alive.
bool TVTModel::IsAnnounced(const TVirtualNode* node) const {
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

TVirtualNode* TVTModel::Append(TVirtualNode* parent) {
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

void TVTModel::Delete(TVirtualNode* node) {
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

void TVTModel::ClearRows() {
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

// Ends the outermost update bracket: tells the view everything that changed, in one go.
void TVTModel::FlushUpdate() {
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

void TVTModel::Sort(int column, TSortDirection direction) {
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

void TVTModel::AddColumn() {
    const int n = static_cast<int>(columns_.size());
    beginInsertColumns({}, n, n);
    columns_.emplace_back();
    endInsertColumns();
}

void TVTModel::ClearColumns() {
    if (columns_.empty()) {
        return;
    }
    beginRemoveColumns({}, 0, static_cast<int>(columns_.size()) - 1);
    columns_.clear();
    endRemoveColumns();
}

void TVTModel::ColumnChanged(int column) {
    emit headerDataChanged(Qt::Horizontal, column, column);
    EmitAllChanged(&root_);
}

// While the deleted rows of one parent are being taken out run by run, the rows not yet
// reached sit `read - write` places further on than the view has been told.
int TVTModel::RowOf(const TVirtualNode* node) const {
    std::size_t row = node->index;
    if (node->parent == compaction_.parent && row >= compaction_.read) {
        row -= compaction_.read - compaction_.write;
    }
    return static_cast<int>(row);
}

TVirtualNode* TVTModel::ChildAt(const TVirtualNode* parent, int row) const {
    auto i = static_cast<std::size_t>(row);
    if (parent == compaction_.parent && i >= compaction_.write) {
        i += compaction_.read - compaction_.write;
    }
    return parent->Child(i);
}

// The rows deleted inside the bracket leave as row removals, one per run of adjacent rows,
// so the view keeps its scroll position, focus, selection and expanded rows. Deepest parents
// first: a parent's rows are freed with it, so its own list is not looked at afterwards.
void TVTModel::RemoveDeletedRows() {
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
void TVTModel::CompactChildren(TVirtualNode* parent) {
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

QVariant TVTModel::CellText(TVirtualNode* node, int column) const {
    std::string text;
    if (tree_.OnGetText) {
        tree_.OnGetText(tree_, node, column, TVSTTextType::Normal, text);
    }
    return DecodeFileName(text);
}

QVariant TVTModel::CellHint(TVirtualNode* node, int column) const {
    std::string hint;
    if (tree_.OnGetHint) {
        tree_.OnGetHint(tree_, node, column, hint);
    }
    if (hint.empty()) {
        return {};
    }
    return DecodeFileName(hint);
}

QVariant TVTModel::CellIcon(TVirtualNode* node, int column) const {
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

void TVTModel::BeginResetOnce() {
    if (!resetting_) {
        beginResetModel();
        resetting_ = true;
    }
}

void TVTModel::RestoreExpansion(TVirtualNode* node) {
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

void TVTModel::EmitAllChanged(TVirtualNode* node) {
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

void TVTModel::SortChildren(TVirtualNode* parent, int column, bool ascending) {
    if (!parent->children) {
        return;
    }
    auto& rows = parent->children->rows;
    if (rows.size() > 1) {
        std::function<int(std::size_t, std::size_t)> compare;
        if (tree_.OnPrepareSort) {
            compare = tree_.OnPrepareSort(tree_, TSiblingRows(parent), column);
        }
        if (!compare) {
            compare = [this, parent, column](std::size_t a, std::size_t b) {
                int result = 0;
                if (tree_.OnCompareNodes) {
                    tree_.OnCompareNodes(tree_, parent->Child(a), parent->Child(b), column, result);
                }
                return result;
            };
        }
        SortSiblings(parent, std::move(compare), ascending);
    }
    for (const auto& child : rows) {
        if (child->children) {
            SortChildren(child.get(), column, ascending);
        }
    }
}

}  // namespace purgala
