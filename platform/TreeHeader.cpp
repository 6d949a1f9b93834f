#include "platform/TreeHeader.h"

#include <QHeaderView>
#include <algorithm>
#include <string>

#include "platform/Errors.h"
#include "platform/TreeModel.h"
#include "platform/VirtualTree.h"

namespace purgala {

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

}  // namespace purgala
