#pragma once
// A tree grid in which every row carries one TFileNodeData and the owner supplies, through
// events, what each visible cell shows: text, hint and icon are asked for per painted cell, never
// stored. The rows themselves live in a TResultTree, the grid's own or one its owner keeps (the
// main window's, which a scan fills); the row operations below are the tree's, so that the
// grid's users read as before. Rows are appended at the top level or as the last child of a
// top-level row, deleted, walked in pre-order both ways, checked, and sorted level by level.

#include <QColor>
#include <QTreeView>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ResultTree.h"
#include "platform/TreeHeader.h"
#include "platform/TreeTypes.h"
#include "scan/FileNodeData.h"

namespace purgala {

class TVTModel;

class TVirtualStringTree : public QTreeView, private IRowObserver {
    Q_OBJECT
public:
    // With rows of its own.
    explicit TVirtualStringTree(QWidget* parent = nullptr);
    // Showing the rows its owner keeps.
    explicit TVirtualStringTree(std::shared_ptr<TResultTree> rows, QWidget* parent = nullptr);
    ~TVirtualStringTree() override;

    TResultTree& Rows() { return rows_; }
    const TResultTree& Rows() const { return rows_; }
    // Rows are being put in a new order, a slice at a time: none may be read meanwhile.
    bool RowsMoving() const { return rowsMoving_; }

    // ---- events, connected by the tree's owner ----
    std::function<void(TVirtualStringTree& sender, PVirtualNode node, int column, TVSTTextType type,
                       std::string& cellText)>
        OnGetText;
    std::function<void(TVirtualStringTree& sender, PVirtualNode node, int column,
                       std::string& hintText)>
        OnGetHint;
    std::function<void(TVirtualStringTree& sender, PVirtualNode node, TImageKind kind, int column,
                       bool& ghosted, int& imageIndex)>
        OnGetImageIndex;
    std::function<void(TVirtualStringTree& sender, PVirtualNode node1, PVirtualNode node2,
                       int column, int& result)>
        OnCompareNodes;
    // Optional and faster: copies what sorting one set of siblings needs out of the rows (for
    // example each row's time) and returns what makes, from that copy alone, the order of
    // `siblings` that OnCompareNodes would give. The maker may run on another thread.
    std::function<TResultTree::TOrderMaker(TVirtualStringTree& sender, const TSiblingRows& siblings,
                                           int column)>
        OnPrepareSort;
    // Optional: runs `slice` until it says it is done, the window's events handled between
    // slices (see TLongWork); the rows must not change meanwhile. A sort prepared by
    // OnPrepareSort is ordered on another thread and its rows moved in slices so, and the
    // window stays alive however many rows it orders. Without it, all runs at once.
    std::function<void(const std::function<bool(std::chrono::steady_clock::time_point)>& slice)>
        RunLong;
    std::function<void(TVirtualStringTree& sender, int column, Qt::MouseButton button)>
        OnHeaderClick;
    std::function<void(TVirtualStringTree& sender, int column, Qt::MouseButton button)>
        OnHeaderMouseDown;
    std::function<void(TVirtualStringTree& sender, PVirtualNode node)> OnChange;
    std::function<void(TVirtualStringTree& sender, PVirtualNode parent, PVirtualNode node)>
        OnInitNode;
    std::function<void(TVirtualStringTree& sender)> OnDblClick;
    // The user toggled a row's box (mouse or space key); direct writes do not fire it.
    std::function<void(TVirtualStringTree& sender, PVirtualNode node)> OnChecked;
    // Optional: asked before the user's toggle of a row's box takes effect; false refuses it.
    std::function<bool(TVirtualStringTree& sender, PVirtualNode node)> OnChecking;
    // Optional: sets `muted` for a cell whose text is drawn paler (still readable), to tell a
    // row apart without hiding it.
    std::function<void(TVirtualStringTree& sender, PVirtualNode node, int column, bool& muted)>
        OnPaintText;
    // Optional: sets `allowed` for a cell the user may edit (F2, or a click on the selected
    // row); the text the user leaves there goes to OnNewText.
    std::function<void(TVirtualStringTree& sender, PVirtualNode node, int column, bool& allowed)>
        OnEditing;
    std::function<void(TVirtualStringTree& sender, PVirtualNode node, int column,
                       const std::string& newText)>
        OnNewText;

    // ---- rows: the tree's ----
    void Clear() { rows_.Clear(); }
    // A bulk change: the display is refreshed once, when the outermost EndUpdate runs.
    void BeginUpdate() { rows_.BeginUpdate(); }
    void EndUpdate() { rows_.EndUpdate(); }
    bool InUpdate() const { return rows_.InUpdate(); }

    PVirtualNode AddChild(PVirtualNode parent) { return rows_.AddChild(parent); }
    // Removes the row and its children; its later siblings move up. The other rows keep their
    // place on screen, the focus and the selection; when the focused row goes, none is focused.
    void DeleteNode(PVirtualNode node) { rows_.DeleteNode(node); }
    TFileNodeData& GetNodeData(PVirtualNode node) { return rows_.GetNodeData(node); }

    PVirtualNode GetFirst() const { return rows_.GetFirst(); }
    PVirtualNode GetNext(PVirtualNode node) const { return rows_.GetNext(node); }
    PVirtualNode GetLast() const { return rows_.GetLast(); }
    PVirtualNode GetPrevious(PVirtualNode node) const { return rows_.GetPrevious(node); }
    PVirtualNode GetFirstChild(PVirtualNode parent) const { return rows_.GetFirstChild(parent); }
    PVirtualNode GetNextSibling(PVirtualNode node) const { return rows_.GetNextSibling(node); }
    PVirtualNode NodeParent(PVirtualNode node) const { return rows_.NodeParent(node); }
    unsigned GetNodeLevel(PVirtualNode node) const { return rows_.GetNodeLevel(node); }
    unsigned NodeIndex(PVirtualNode node) const { return rows_.NodeIndex(node); }
    unsigned ChildCount(PVirtualNode parent) const { return rows_.ChildCount(parent); }
    unsigned RootNodeCount() const { return rows_.RootNodeCount(); }
    std::size_t TotalCount() const { return rows_.TotalCount(); }

    // Written directly: no check notification fires.
    TCheckType CheckType(PVirtualNode node) const { return rows_.CheckType(node); }
    void SetCheckType(PVirtualNode node, TCheckType type) { rows_.SetCheckType(node, type); }
    TCheckState CheckState(PVirtualNode node) const { return rows_.CheckState(node); }
    void SetCheckState(PVirtualNode node, TCheckState state) { rows_.SetCheckState(node, state); }

    bool Expanded(PVirtualNode node) const { return rows_.Expanded(node); }
    void SetExpanded(PVirtualNode node, bool expanded) { rows_.SetExpanded(node, expanded); }

    PVirtualNode FocusedNode() const;
    void SetFocusedNode(PVirtualNode node);

    TVTHeader& Header() { return header_; }
    // Sorts every set of siblings, the top level and the children of every row, by `column`.
    void SortTree(int column, TSortDirection direction);

    // The model index of a row's cell, for tests and for the view's own use.
    QModelIndex IndexOf(PVirtualNode node, int column = 0) const;
    PVirtualNode NodeAt(const QModelIndex& index) const;

    // The row at the top of the view, or nullptr.
    PVirtualNode TopNode() const;

    // A text shown in the middle of the grid while it has no rows (none: empty), saying what
    // would fill it; drawn in the grid's own colours.
    void SetEmptyText(const QString& text);
    const QString& EmptyText() const { return emptyText_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TVTModel;
    friend class TVirtualTreeColumn;
    friend class TVirtualTreeColumns;
    friend class TVTHeader;

    void Connect();
    void EnsureInitialized(PVirtualNode node) const;

    // ---- what the rows tell ----
    void RowsAboutToBeInserted(PVirtualNode parent, std::size_t first, std::size_t last) override;
    void RowsInserted() override;
    void RowsAboutToBeRemoved(PVirtualNode parent, std::size_t first, std::size_t last) override;
    void RowsRemoved() override;
    void RowDeleting(PVirtualNode node) override;
    void AboutToReset() override;
    void Reset() override;
    void LayoutAboutToChange() override;
    void LayoutChanged(const TMoves& moves) override;
    void RowsChanged(PVirtualNode parent, std::size_t first, std::size_t last) override;
    void AllRowsChanged() override;
    void ChildrenAboutToMove(PVirtualNode parent, const std::vector<std::uint64_t>& order) override;
    void ChildrenReordered() override;
    void RowsInPlace();
    void ExpandRow(PVirtualNode row, bool expanded) override;
    void UpdateFlushing(bool removes) override;
    void UpdateFlushed() override;

    std::shared_ptr<TResultTree> keptRows_;  // the grid's own, or its owner's
    TResultTree& rows_;
    std::unique_ptr<TVTModel> model_;
    TVTHeader header_;
    // The row at the top of the view when a bracket that deletes rows ends.
    struct TTopBeforeFlush {
        PVirtualNode parent;  // of a file row, whose place changes
        PVirtualNode node;    // a top-level row, whose handle stays good
        std::size_t livePosition = 0;
    } topBeforeFlush_;
    bool inHeaderSync_ = false;
    bool rowsMoving_ = false;  // a reordering moves rows: they are neither shown nor read
    QString emptyText_;
};

// Holds the tree's display updates for a scope; the last one to end refreshes it once.
class TUpdateBracket : public TRowsBracket {
public:
    explicit TUpdateBracket(TVirtualStringTree& tree) : TRowsBracket(tree.Rows()) {}
};

}  // namespace purgala
