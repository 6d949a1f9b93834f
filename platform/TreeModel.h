#pragma once
// The tree grid's rows as Qt sees them: an item model over the rows the tree owns. Each cell's
// text, hint and icon is asked of the tree's events when the view paints it, never stored. Rows
// appended or deleted inside an update bracket reach the view in one go when the bracket ends:
// appended rows as one insertion per parent, deleted ones as one removal per run of adjacent
// rows, so the view keeps its scroll position, focus and selection.

#include <QAbstractItemModel>
#include <QColor>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/TreeRows.h"
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

    explicit TVTModel(TVirtualStringTree& tree);

    // ---- Qt's side ----
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // ---- the tree's side ----
    TVirtualNode* Root() { return &root_; }
    const TVirtualNode* Root() const { return &root_; }
    static TVirtualNode* Node(const QModelIndex& index) {
        return static_cast<TVirtualNode*>(index.internalPointer());
    }
    QModelIndex IndexOf(const TVirtualNode* node, int column) const;
    // Whether the view knows this row: it and all its ancestors are committed and alive.
    bool IsAnnounced(const TVirtualNode* node) const;

    TVirtualNode* Append(TVirtualNode* parent);
    void Delete(TVirtualNode* node);
    void ClearRows();
    void MarkDataChanged() { dataDirty_ = true; }
    void DeferExpand(TVirtualNode* node) { pendingExpand_.push_back(node); }
    // Ends the outermost update bracket: tells the view everything that changed, in one go.
    void FlushUpdate();
    bool HasDeletedRows() const { return !dirtyParents_.empty(); }
    // Sorts every set of siblings by `column`.
    void Sort(int column, TSortDirection direction);

    // ---- columns ----
    std::vector<ColumnInfo>& Columns() { return columns_; }
    void AddColumn();
    void ClearColumns();
    void ColumnChanged(int column);

private:
    const TVirtualNode* NodeOrRoot(const QModelIndex& index) const {
        return index.isValid() ? Node(index) : &root_;
    }
    int RowOf(const TVirtualNode* node) const;
    TVirtualNode* ChildAt(const TVirtualNode* parent, int row) const;

    QVariant CellText(TVirtualNode* node, int column) const;
    QVariant CellHint(TVirtualNode* node, int column) const;
    QVariant CellIcon(TVirtualNode* node, int column) const;

    // The deferred work of an update bracket.
    void BeginResetOnce();
    void RemoveDeletedRows();
    void CompactChildren(TVirtualNode* parent);
    void RestoreExpansion(TVirtualNode* node);
    void EmitAllChanged(TVirtualNode* node);

    void SortChildren(TVirtualNode* parent, int column, bool ascending);

    TVirtualStringTree& tree_;
    TVirtualNode root_;
    std::vector<ColumnInfo> columns_;
    std::vector<TVirtualNode*> pendingParents_;
    std::vector<TVirtualNode*> pendingExpand_;
    std::vector<TVirtualNode*> dirtyParents_;
    // While the deleted rows of one parent are being taken out run by run, the rows not yet
    // reached sit `read - write` places further on than the view has been told.
    struct Compaction {
        const TVirtualNode* parent = nullptr;
        std::size_t read = 0;   // the next row to look at
        std::size_t write = 0;  // where the next survivor goes
    } compaction_;
    bool resetting_ = false;
    bool dataDirty_ = false;
};

}  // namespace purgala
