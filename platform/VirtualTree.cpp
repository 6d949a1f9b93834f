#include "platform/VirtualTree.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

#include "platform/Failures.h"
#include "platform/GridDelegate.h"
#include "platform/TreeModel.h"
#include "platform/TreeRows.h"

namespace purgala {

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
