#pragma once

#include <QStyledItemDelegate>

namespace purgala {

// Cells painted as usual, with a horizontal and a vertical grid line; per visible cell only.
class TGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace purgala
