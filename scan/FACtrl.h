#pragma once
// The controller that makes the result tree show its rows in the columns of the configuration
// document: column set-up, cell texts, hints, icons and sorting.

#include <QWidget>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "config/PurgalaConfig.h"
#include "platform/VirtualTree.h"
#include "scan/FieldKind.h"
#include "scan/FileNodeData.h"
#include "scan/KeepRules.h"
#include "scan/RowCompare.h"

namespace purgala {

// The background of a read-only column: the pale blue of the tree itself.
inline constexpr QRgb kReadOnlyColumnColor = qRgb(0xEF, 0xF3, 0xFF);

class TFACtrl {
public:
    // Connects the tree's text, hint, icon, compare, header and change events to this controller.
    TFACtrl(QWidget& owner, TVirtualStringTree& tree);
    // Detaches the handlers it installed, so that nothing calls into a released controller.
    ~TFACtrl();
    TFACtrl(const TFACtrl&) = delete;
    TFACtrl& operator=(const TFACtrl&) = delete;

    // Replaces the tree's columns by one column per element of `nodes`. A column element whose
    // attributes cannot be read ends the set-up there, with the error.
    void BuildColumns(TVirtualStringTree& tree, const std::shared_ptr<IXMLNodesType>& nodes);

    // What a cell of `kind` shows for `data` (nullptr: no row): sizes in B, KB, MB or GB, every
    // other kind as stored. A size that is not a number shows as an empty text.
    static std::string FormatCellText(TFieldKind kind, const TFileNodeData* data);
    // A number of bytes as the "File Size" column shows it: two decimals in the user's locale,
    // in B, KB, MB or GB.
    static QString SizeText(double bytes);

    void TreeGetText(TVirtualStringTree& sender, PVirtualNode node, int column, TVSTTextType type,
                     std::string& cellText);
    void TreeGetHint(TVirtualStringTree& sender, PVirtualNode node, int column,
                     std::string& hintText);
    void TreeGetImageIndex(TVirtualStringTree& sender, PVirtualNode node, TImageKind kind,
                           int column, bool& ghosted, int& imageIndex);
    void TreeHeaderClick(TVirtualStringTree& sender, int column, Qt::MouseButton button);
    void TreeCompareNodes(TVirtualStringTree& sender, PVirtualNode node1, PVirtualNode node2,
                          int column, int& result);

    // The kind rows are compared by; set by each left click on a header.
    TFieldKind SortKind = TFieldKind::FileName;
    // What the last "&Check Temps" knew of the rules that left rows unchecked, for the hints;
    // kept by the tree's owner.
    const TRowRules* Keep = nullptr;

private:
    // The field kind of a grid column, read from the document at each request.
    static TFieldKind ColumnKind(int column);
    // TreeCompareNodes over one set of siblings, with each row's text converted once.
    TResultTree::TOrderMaker PrepareSort(TVirtualStringTree& sender, const TSiblingRows& rows);

    QWidget& owner_;
    TVirtualStringTree& tree_;
};

// The icon of a row: the icon of the file or folder at `path` (blanks and control characters
// around it removed), the same whether the row is expanded or not; -1 for none.
int RowIconIndex(std::string_view path, bool isFolder);
// The index in the process-wide icon list of the icon of the existing file or folder at `path`,
// -1 when nothing exists there. Only the name is looked at, never the file's contents. A link is
// shown as the link itself unless `followLink`.
int ShellIconIndex(std::string_view path, bool followLink = false);

// The controller of the main window, from its first show to its close.
inline std::unique_ptr<TFACtrl> FACtrl;

}  // namespace purgala
