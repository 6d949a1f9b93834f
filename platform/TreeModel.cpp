#include "platform/TreeModel.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <unordered_map>

#include "platform/Colors.h"
#include "platform/Failures.h"
#include "platform/FileNames.h"
#include "platform/IconList.h"
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

QVariant CellCheck(TCheckType type, TCheckState state, int column) {
    if (column != 0 || type != TCheckType::CheckBox) {
        return {};
    }
    switch (state) {
        case TCheckState::Checked:
        case TCheckState::CheckedPressed:
            return Qt::Checked;
        case TCheckState::Mixed:
            return Qt::PartiallyChecked;
        default:
            return Qt::Unchecked;
    }
}

}  // namespace

TVTModel::TVTModel(TVirtualStringTree& view, TResultTree& rows) : view_(view), rows_(rows) {}

// A top-level row's index carries no pointer; a file row's carries its top-level row. A file
// row has no rows below it.
QModelIndex TVTModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= static_cast<int>(columns_.size()) ||
        parent.column() > 0) {
        return {};
    }
    if (!parent.isValid()) {
        return static_cast<std::size_t>(row) < rows_.AnnouncedChildCount(nullptr)
                   ? createIndex(row, column, nullptr)
                   : QModelIndex();
    }
    if (parent.internalPointer() != nullptr || parent.model() != this) {
        return {};
    }
    TTopRow* top = rows_.AnnouncedTop(static_cast<std::size_t>(parent.row()));
    if (top == nullptr || static_cast<std::size_t>(row) >= rows_.AnnouncedChildCount(top)) {
        return {};
    }
    return createIndex(row, column, top);
}

QModelIndex TVTModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalPointer() == nullptr) {
        return {};
    }
    const PVirtualNode parent(static_cast<TTopRow*>(child.internalPointer()),
                              PVirtualNode::kNoChild);
    return IndexOf(parent, 0);
}

int TVTModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return static_cast<int>(rows_.AnnouncedChildCount(nullptr));
    }
    if (parent.column() > 0 || parent.internalPointer() != nullptr) {
        return 0;
    }
    const TTopRow* top = rows_.AnnouncedTop(static_cast<std::size_t>(parent.row()));
    return top != nullptr ? static_cast<int>(rows_.AnnouncedChildCount(top)) : 0;
}

bool TVTModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

int TVTModel::columnCount(const QModelIndex&) const {
    return static_cast<int>(columns_.size());
}

PVirtualNode TVTModel::NodeAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) {
        return nullptr;
    }
    const auto row = static_cast<std::size_t>(index.row());
    if (index.internalPointer() == nullptr) {
        TTopRow* top = rows_.AnnouncedTop(row);
        return top != nullptr ? PVirtualNode(top, PVirtualNode::kNoChild) : PVirtualNode();
    }
    auto* top = static_cast<TTopRow*>(index.internalPointer());
    const std::size_t position = rows_.AnnouncedChildPosition(top, row);
    return position < top->children.size() ? PVirtualNode(top, static_cast<std::uint32_t>(position))
                                           : PVirtualNode();
}

QModelIndex TVTModel::IndexOf(PVirtualNode node, int column) const {
    const int row = rows_.AnnouncedRow(node);
    if (row < 0) {
        return {};
    }
    return createIndex(row, column, node.IsTopLevel() ? nullptr : node.top_);
}

QModelIndex TVTModel::ParentIndex(PVirtualNode parent) const {
    return parent ? IndexOf(parent, 0) : QModelIndex();
}

Qt::ItemFlags TVTModel::flags(const QModelIndex& index) const {
    const PVirtualNode node = NodeAt(index);
    if (!node) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // A file row has no rows below it: the view, which asks this of every row it lays out,
    // then looks no further.
    if (!node.IsTopLevel()) {
        f |= Qt::ItemNeverHasChildren;
    }
    if (view_.RowsMoving()) {
        return f;
    }
    view_.EnsureInitialized(node);
    if (index.column() == 0 && rows_.CheckType(node) == TCheckType::CheckBox) {
        f |= Qt::ItemIsUserCheckable;
    }
    if (view_.OnEditing) {
        bool allowed = false;
        RunGuarded([&] { view_.OnEditing(view_, node, index.column(), allowed); });
        if (allowed) {
            f |= Qt::ItemIsEditable;
        }
    }
    return f;
}

QVariant TVTModel::data(const QModelIndex& index, int role) const {
    const PVirtualNode node = NodeAt(index);
    if (!node || view_.RowsMoving()) {
        return {};
    }
    const int column = index.column();
    // An event handler's failure must not leave the painting half done.
    try {
        view_.EnsureInitialized(node);
        switch (role) {
            case Qt::DisplayRole:
            case Qt::EditRole:
                return CellText(node, column);
            case Qt::ToolTipRole:
                return CellHint(node, column);
            case Qt::DecorationRole:
                return CellIcon(node, column);
            case Qt::CheckStateRole:
                return CellCheck(rows_.CheckType(node), rows_.CheckState(node), column);
            case Qt::BackgroundRole: {
                const QColor& color = columns_[static_cast<std::size_t>(column)].color;
                return color.isValid() ? QVariant(color) : QVariant();
            }
            case Qt::ForegroundRole: {
                // A column's own colour brings the text colour that reads on it.
                const QColor& color = columns_[static_cast<std::size_t>(column)].color;
                const QColor text = view_.palette().color(QPalette::Text);
                bool muted = false;
                if (view_.OnPaintText) {
                    view_.OnPaintText(view_, node, column, muted);
                }
                if (muted) {
                    return MutedTextColor(
                        color.isValid() ? color : view_.palette().color(QPalette::Base), text);
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
    const PVirtualNode node = NodeAt(index);
    if (node && role == Qt::EditRole && view_.OnNewText) {
        const std::string text = EncodeFileName(value.toString());
        RunGuarded([&] { view_.OnNewText(view_, node, index.column(), text); });
        emit dataChanged(index, index);
        return true;
    }
    if (!node || role != Qt::CheckStateRole) {
        return false;
    }
    if (rows_.CheckType(node) != TCheckType::CheckBox ||
        (view_.OnChecking && !view_.OnChecking(view_, node))) {
        return false;
    }
    const auto state = static_cast<Qt::CheckState>(value.toInt());
    const TCheckState old = rows_.CheckState(node);
    const TCheckState now = state == Qt::Checked ? TCheckState::Checked : TCheckState::Unchecked;
    rows_.SetCheckState(node, now);
    if (rows_.InUpdate()) {
        emit dataChanged(index, index, {Qt::CheckStateRole});
    }
    if (now != old && view_.OnChecked) {
        RunGuarded([&] { view_.OnChecked(view_, node); });
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

void TVTModel::RowsAboutToBeInserted(PVirtualNode parent, std::size_t first, std::size_t last) {
    beginInsertRows(ParentIndex(parent), static_cast<int>(first), static_cast<int>(last));
}

void TVTModel::RowsAboutToBeRemoved(PVirtualNode parent, std::size_t first, std::size_t last) {
    beginRemoveRows(ParentIndex(parent), static_cast<int>(first), static_cast<int>(last));
}

void TVTModel::LayoutAboutToChange() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TVTModel::LayoutChanged(const IRowObserver::TMoves& moves) {
    FollowMoves(moves);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TVTModel::ChildrenAboutToMove(PVirtualNode parent, const std::vector<std::uint64_t>& order) {
    // The few rows Qt keeps an eye on, found in one pass over the order.
    std::unordered_map<std::uint32_t, std::vector<QModelIndex>> watched;
    for (const QModelIndex& index : persistentIndexList()) {
        if (index.internalPointer() == parent.top_) {
            watched[static_cast<std::uint32_t>(index.row())].push_back(index);
        }
    }
    for (std::size_t i = 0; i < order.size() && !watched.empty(); ++i) {
        const auto found = watched.find(static_cast<std::uint32_t>(order[i]));
        if (found == watched.end()) {
            continue;
        }
        for (const QModelIndex& index : found->second) {
            movedFrom_.append(index);
            movedTo_.append(createIndex(static_cast<int>(i), index.column(), parent.top_));
        }
        watched.erase(found);
    }
}

void TVTModel::FollowMoves(const IRowObserver::TMoves& moves) {
    QModelIndexList from = std::exchange(movedFrom_, {});
    QModelIndexList to = std::exchange(movedTo_, {});
    for (const QModelIndex& index : persistentIndexList()) {
        const auto row = static_cast<std::size_t>(index.row());
        if (index.internalPointer() != nullptr || moves.oldTopOrder.empty()) {
            continue;
        }
        const TTopRow* top = row < moves.oldTopOrder.size() ? moves.oldTopOrder[row] : nullptr;
        from.append(index);
        to.append(top != nullptr
                      ? createIndex(static_cast<int>(top->index), index.column(), nullptr)
                      : QModelIndex());
    }
    changePersistentIndexList(from, to);
}

void TVTModel::RowsChanged(PVirtualNode parent, std::size_t first, std::size_t last) {
    if (columns_.empty() || rowCount(ParentIndex(parent)) == 0) {
        return;
    }
    const QModelIndex parentIndex = ParentIndex(parent);
    if (parent && !parentIndex.isValid()) {
        return;
    }
    emit dataChanged(
        index(static_cast<int>(first), 0, parentIndex),
        index(static_cast<int>(last), static_cast<int>(columns_.size()) - 1, parentIndex));
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
    const int tops = rowCount();
    if (tops == 0 || columns_.empty()) {
        return;
    }
    emit dataChanged(index(0, 0), index(tops - 1, static_cast<int>(columns_.size()) - 1));
    for (int i = 0; i < tops; ++i) {
        const QModelIndex parent = index(i, 0);
        if (const int rows = rowCount(parent); rows > 0) {
            emit dataChanged(index(0, 0, parent),
                             index(rows - 1, static_cast<int>(columns_.size()) - 1, parent));
        }
    }
}

QVariant TVTModel::CellText(PVirtualNode node, int column) const {
    std::string text;
    if (view_.OnGetText) {
        view_.OnGetText(view_, node, column, TVSTTextType::Normal, text);
    }
    return DecodeFileName(text);
}

QVariant TVTModel::CellHint(PVirtualNode node, int column) const {
    std::string hint;
    if (view_.OnGetHint) {
        view_.OnGetHint(view_, node, column, hint);
    }
    if (hint.empty()) {
        return {};
    }
    return DecodeFileName(hint);
}

QVariant TVTModel::CellIcon(PVirtualNode node, int column) const {
    int imageIndex = -1;
    bool ghosted = false;
    if (view_.OnGetImageIndex) {
        view_.OnGetImageIndex(view_, node, TImageKind::Normal, column, ghosted, imageIndex);
    }
    if (imageIndex < 0) {
        return {};
    }
    return TIconList::Instance().Icon(imageIndex);
}

}  // namespace purgala
