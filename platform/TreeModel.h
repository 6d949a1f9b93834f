#pragma once
// The rows of a result tree as Qt sees them: an item model that adapts TResultTree and holds no
// row of its own. Each cell's text, hint and icon is asked of the tree grid's events when the
// view paints it, never stored. A top-level row's index carries no pointer; a child row's
// carries its top-level row, and its position is the index's row.

#include <QAbstractItemModel>
#include <QColor>
#include <QString>
#include <vector>

#include "platform/ResultTree.h"
#include "platform/TreeTypes.h"

namespace purgala {

class TVirtualStringTree;

class TVTModel : public QAbstractItemModel {
public:
    struct ColumnInfo {
        QString text;
        QColor color;
        TAlignment alignment = TAlignment::Left;
        int width = 100;
    };

    TVTModel(TVirtualStringTree& view, TResultTree& rows);

    // ---- Qt's side ----
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // ---- the rows' side ----
    QModelIndex IndexOf(PVirtualNode node, int column) const;
    PVirtualNode NodeAt(const QModelIndex& index) const;
    // What the rows tell, as Qt's signals.
    void RowsAboutToBeInserted(PVirtualNode parent, std::size_t first, std::size_t last);
    void RowsInserted() { endInsertRows(); }
    void RowsAboutToBeRemoved(PVirtualNode parent, std::size_t first, std::size_t last);
    void RowsRemoved() { endRemoveRows(); }
    void AboutToReset() { beginResetModel(); }
    void Reset() { endResetModel(); }
    void LayoutAboutToChange();
    void LayoutChanged(const IRowObserver::TMoves& moves);
    void RowsChanged(PVirtualNode parent, std::size_t first, std::size_t last);
    void TopRowsChanged() { RowsChanged(nullptr, 0, rowCount() > 0 ? rowCount() - 1 : 0); }
    // Notes where the view's current row, selection and the like among the children of
    // `parent` go; FollowMoves takes them there, and the top-level ones to where `moves` says.
    void ChildrenAboutToMove(PVirtualNode parent, const std::vector<std::uint64_t>& order);
    void FollowMoves(const IRowObserver::TMoves& moves);

    // ---- columns ----
    std::vector<ColumnInfo>& Columns() { return columns_; }
    void AddColumn();
    void ClearColumns();
    void ColumnChanged(int column);

private:
    QModelIndex ParentIndex(PVirtualNode parent) const;
    QVariant CellText(PVirtualNode node, int column) const;
    QVariant CellHint(PVirtualNode node, int column) const;
    QVariant CellIcon(PVirtualNode node, int column) const;

    TVirtualStringTree& view_;
    TResultTree& rows_;
    std::vector<ColumnInfo> columns_;
    QModelIndexList movedFrom_, movedTo_;  // children's persistent indexes, between the calls
};

}  // namespace purgala
