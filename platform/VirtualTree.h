#pragma once
// A tree grid in which every row carries one TFileNodeData and the owner supplies, through
// events, what each visible cell shows: text, hint and icon are asked for per painted cell, never
// stored. Rows are appended at the top level or as the last child of a row, deleted, walked in
// pre-order both ways, checked, and sorted level by level.

#include <QColor>
#include <QTreeView>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/TreeHeader.h"
#include "platform/TreeTypes.h"
#include "scan/FileNodeData.h"

namespace purgala {

class TVTModel;

class TVirtualStringTree : public QTreeView {
    Q_OBJECT
public:
    explicit TVirtualStringTree(QWidget* parent = nullptr);
    ~TVirtualStringTree() override;

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
    // Optional and faster: prepares one set of siblings for sorting (for example by converting
    // each row's text once) and returns a comparison of positions in `siblings` that gives
    // exactly what OnCompareNodes gives for the same two rows.
    std::function<std::function<int(std::size_t, std::size_t)>(
        TVirtualStringTree& sender, const TSiblingRows& siblings, int column)>
        OnPrepareSort;
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

    // ---- rows ----
    void Clear();
    // A bulk change: the display is refreshed once, when the outermost EndUpdate runs.
    void BeginUpdate();
    void EndUpdate();
    bool InUpdate() const { return updateCount_ > 0; }

    // Appends a row as the last child of `parent`, or as the last top-level row for nullptr.
    PVirtualNode AddChild(PVirtualNode parent);
    // Removes the row and its children; its later siblings move up. The other rows keep their
    // place on screen, the focus and the selection; when the focused row goes, none is focused.
    void DeleteNode(PVirtualNode node);
    TFileNodeData& GetNodeData(PVirtualNode node);

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

    bool Expanded(PVirtualNode node) const;
    void SetExpanded(PVirtualNode node, bool expanded);

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

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TVTModel;
    friend class TVirtualTreeColumn;
    friend class TVirtualTreeColumns;
    friend class TVTHeader;

    void EnsureInitialized(PVirtualNode node) const;

    std::unique_ptr<TVTModel> model_;
    TVTHeader header_;
    int updateCount_ = 0;
    bool inHeaderSync_ = false;
};

// Holds the tree's display updates for a scope; the last one to end refreshes it once.
class TUpdateBracket {
public:
    explicit TUpdateBracket(TVirtualStringTree& tree) : tree_(tree) { tree_.BeginUpdate(); }
    ~TUpdateBracket() { tree_.EndUpdate(); }
    TUpdateBracket(const TUpdateBracket&) = delete;
    TUpdateBracket& operator=(const TUpdateBracket&) = delete;

private:
    TVirtualStringTree& tree_;
};

}  // namespace purgala
