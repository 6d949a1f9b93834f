#pragma once
// The tree grid's header: its columns by creation index (text, width, colour, alignment, place,
// visibility) and the sort column and direction it shows. Each is a view on the tree: the column
// settings live in the model, the places and visibility in Qt's header.

#include <QColor>
#include <QString>

#include "platform/TreeTypes.h"

namespace purgala {

class TVirtualStringTree;

// One column of the header, by its creation index.
class TVirtualTreeColumn {
public:
    QString Text() const;
    void SetText(const QString& text);
    int Width() const;
    void SetWidth(int width);
    QColor Color() const;
    void SetColor(const QColor& color);
    TAlignment Alignment() const;
    void SetAlignment(TAlignment alignment);
    int Position() const;  // display position
    void SetPosition(int position);
    bool Visible() const;
    void SetVisible(bool visible);
    int Index() const { return index_; }

private:
    friend class TVirtualTreeColumns;
    TVirtualTreeColumn(TVirtualStringTree& tree, int index) : tree_(&tree), index_(index) {}
    TVirtualStringTree* tree_;
    int index_;
};

class TVirtualTreeColumns {
public:
    explicit TVirtualTreeColumns(TVirtualStringTree& tree) : tree_(tree) {}
    void Clear();  // also resets the header's sort column to none
    void BeginUpdate();
    void EndUpdate();
    TVirtualTreeColumn Add();
    int Count() const;
    TVirtualTreeColumn Items(int index);  // throws ListIndexError outside 0..Count()-1

private:
    TVirtualStringTree& tree_;
};

class TVTHeader {
public:
    explicit TVTHeader(TVirtualStringTree& tree) : tree_(tree), columns_(tree) {}
    TVirtualTreeColumns& Columns() { return columns_; }
    int SortColumn() const { return sortColumn_; }
    void SetSortColumn(int column);
    TSortDirection SortDirection() const { return sortDirection_; }
    void SetSortDirection(TSortDirection direction);

private:
    friend class TVirtualTreeColumns;
    friend class TVirtualStringTree;
    void ShowSortGlyph();
    TVirtualStringTree& tree_;
    TVirtualTreeColumns columns_;
    int sortColumn_ = kNoColumn;
    TSortDirection sortDirection_ = TSortDirection::Ascending;
};

}  // namespace purgala
