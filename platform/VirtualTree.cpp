#include "platform/VirtualTree.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <future>

#include "platform/Failures.h"
#include "platform/GridDelegate.h"
#include "platform/SiblingSort.h"
#include "platform/TreeModel.h"

namespace purgala {

TVirtualStringTree::TVirtualStringTree(QWidget* parent)
    : TVirtualStringTree(std::make_shared<TResultTree>(), parent) {}

TVirtualStringTree::TVirtualStringTree(std::shared_ptr<TResultTree> rows, QWidget* parent)
    : QTreeView(parent),
      keptRows_(std::move(rows)),
      rows_(*keptRows_),
      model_(std::make_unique<TVTModel>(*this, rows_)),
      header_(*this) {
    Connect();
}

void TVirtualStringTree::Connect() {
    rows_.SetObserver(this);
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
        if (const PVirtualNode node = NodeAt(index)) {
            rows_.NoteExpanded(node, true);
        }
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (const PVirtualNode node = NodeAt(index)) {
            rows_.NoteExpanded(node, false);
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
    rows_.SetObserver(nullptr);
    // The view must let go of the model before the model goes.
    setModel(nullptr);
}

// ---- what the rows tell
// --------------------------------------------------------------------------

void TVirtualStringTree::RowsAboutToBeInserted(PVirtualNode parent, std::size_t first,
                                               std::size_t last) {
    model_->RowsAboutToBeInserted(parent, first, last);
}

void TVirtualStringTree::RowsInserted() {
    model_->RowsInserted();
}

void TVirtualStringTree::RowsAboutToBeRemoved(PVirtualNode parent, std::size_t first,
                                              std::size_t last) {
    model_->RowsAboutToBeRemoved(parent, first, last);
}

void TVirtualStringTree::RowDeleting(PVirtualNode node) {
    // The view would move the focus to a neighbour, and a following "open the focused row"
    // would act on a row the user never picked.
    const PVirtualNode focused = FocusedNode();
    if (focused && (focused == node || NodeParent(focused) == node)) {
        selectionModel()->clearCurrentIndex();
    }
}

void TVirtualStringTree::RowsRemoved() {
    model_->RowsRemoved();
}

void TVirtualStringTree::AboutToReset() {
    model_->AboutToReset();
}

void TVirtualStringTree::Reset() {
    model_->Reset();
}

void TVirtualStringTree::LayoutAboutToChange() {
    model_->LayoutAboutToChange();
}

void TVirtualStringTree::LayoutChanged(const TMoves& moves) {
    model_->LayoutChanged(moves);
    RowsInPlace();
}

void TVirtualStringTree::RowsChanged(PVirtualNode parent, std::size_t first, std::size_t last) {
    model_->RowsChanged(parent, first, last);
}

void TVirtualStringTree::AllRowsChanged() {
    // The view asks for what it paints: a repaint shows every change.
    model_->TopRowsChanged();
    viewport()->update();
}

void TVirtualStringTree::ChildrenAboutToMove(PVirtualNode parent,
                                             const std::vector<std::uint64_t>& order) {
    model_->ChildrenAboutToMove(parent, order);
    // The rows on their way are not shown: the view paints again once they are in place.
    if (!std::exchange(rowsMoving_, true)) {
        viewport()->setUpdatesEnabled(false);
    }
}

void TVirtualStringTree::ChildrenReordered() {
    model_->FollowMoves({});
    RowsInPlace();
}

void TVirtualStringTree::RowsInPlace() {
    if (std::exchange(rowsMoving_, false)) {
        viewport()->setUpdatesEnabled(true);
    }
    viewport()->update();
}

void TVirtualStringTree::ExpandRow(PVirtualNode row, bool expanded) {
    if (const QModelIndex index = IndexOf(row, 0); index.isValid()) {
        QTreeView::setExpanded(index, expanded);
    }
}

void TVirtualStringTree::UpdateFlushing(bool removes) {
    // Rows that stay keep their place on screen: the top one stays at the top. A file row is
    // known by its place, which the rows going before it change.
    topBeforeFlush_ = {};
    const PVirtualNode top = removes ? TopNode() : nullptr;
    if (top && !rows_.IsMarkedDeleted(top)) {
        topBeforeFlush_ = {NodeParent(top), top, rows_.LivePosition(top)};
    }
}

void TVirtualStringTree::UpdateFlushed() {
    const TTopBeforeFlush top = std::exchange(topBeforeFlush_, {});
    const PVirtualNode node = top.parent ? rows_.ChildAt(top.parent, top.livePosition) : top.node;
    if (const QModelIndex index = model_->IndexOf(node, 0); index.isValid()) {
        const int x = horizontalScrollBar()->value();
        scrollTo(index, PositionAtTop);
        horizontalScrollBar()->setValue(x);
    }
    viewport()->update();
}

PVirtualNode TVirtualStringTree::FocusedNode() const {
    return NodeAt(currentIndex());
}

void TVirtualStringTree::SetFocusedNode(PVirtualNode node) {
    setCurrentIndex(model_->IndexOf(node, 0));
}

void TVirtualStringTree::SortTree(int column, TSortDirection direction) {
    const bool ascending = direction == TSortDirection::Ascending;
    if (!OnPrepareSort) {
        rows_.Sort(
            [this, column](const TSiblingRows& siblings) -> TResultTree::TComparer {
                if (!OnCompareNodes) {
                    return {};
                }
                return [this, siblings, column](std::size_t a, std::size_t b) {
                    int result = 0;
                    OnCompareNodes(*this, siblings[a], siblings[b], column, result);
                    return result;
                };
            },
            ascending);
        return;
    }
    // What the order needs is copied out of the rows here; the order is made aside, and the
    // rows are put in it here, a slice at a time.
    struct TJob {
        PVirtualNode parent;
        TResultTree::TOrderMaker makeOrder;
    };
    std::vector<TJob> jobs;
    const auto add = [&](PVirtualNode parent) {
        const TSiblingRows siblings = rows_.Siblings(parent);
        if (siblings.size() > 1) {
            if (TResultTree::TOrderMaker maker = OnPrepareSort(*this, siblings, column)) {
                jobs.push_back({parent, std::move(maker)});
            }
        }
    };
    add(nullptr);
    for (PVirtualNode top = rows_.GetFirstChild(nullptr); top; top = rows_.GetNextSibling(top)) {
        add(top);
    }
    const auto run =
        [this](const std::function<bool(std::chrono::steady_clock::time_point)>& slice) {
            if (RunLong) {
                RunLong(slice);
            } else {
                while (!slice(std::chrono::steady_clock::time_point::max())) {
                }
            }
        };
    std::future<std::vector<TResultTree::TParentOrder>> aside =
        std::async(std::launch::async, [jobs = std::move(jobs)]() mutable {
            std::vector<TResultTree::TParentOrder> orders;
            for (TJob& job : jobs) {
                orders.push_back({job.parent, std::exchange(job.makeOrder, {})()});
            }
            return orders;
        });
    run([&aside](std::chrono::steady_clock::time_point deadline) {
        return aside.wait_until(deadline) == std::future_status::ready;
    });
    TResultTree::TReordering reordering(rows_, aside.get());
    run([&reordering](std::chrono::steady_clock::time_point deadline) {
        return reordering.Step(deadline);
    });
}

QModelIndex TVirtualStringTree::IndexOf(PVirtualNode node, int column) const {
    return model_->IndexOf(node, column);
}

PVirtualNode TVirtualStringTree::NodeAt(const QModelIndex& index) const {
    return model_->NodeAt(index);
}

void TVirtualStringTree::EnsureInitialized(PVirtualNode node) const {
    if (rows_.Initialized(node)) {
        return;
    }
    rows_.SetInitialized(node);
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

void TVirtualStringTree::SetEmptyText(const QString& text) {
    if (text != emptyText_) {
        emptyText_ = text;
        viewport()->update();
    }
}

void TVirtualStringTree::paintEvent(QPaintEvent* event) {
    QTreeView::paintEvent(event);
    if (emptyText_.isEmpty() || model_->rowCount() > 0) {
        return;
    }
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const QRect area = viewport()->rect().adjusted(24, 24, -24, -24);
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, emptyText_);
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
