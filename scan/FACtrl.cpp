#include "scan/FACtrl.h"

#include <sys/stat.h>

#include <QFile>
#include <QFileIconProvider>
#include <QIcon>
#include <QMimeDatabase>
#include <QScopeGuard>
#include <QToolTip>
#include <algorithm>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "platform/FileNames.h"
#include "platform/IconList.h"
#include "scan/RowCompare.h"
#include "scan/ShownTexts.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

// ---- icons ------------------------------------------------------------------------------------

QFileIconProvider& IconProvider() {
    // Made once: the provider keeps its standard icons, so they keep their place in the list.
    static QFileIconProvider provider;
    return provider;
}

// The icon of a file's type, told by its name alone: reading the file to guess its type would
// cost a disk read per painted cell.
QIcon FileTypeIcon(std::string_view path) {
    static const QMimeDatabase mimeTypes;
    const std::string_view name = path.substr(path.rfind('/') + 1);
    const QMimeType type =
        mimeTypes.mimeTypeForFile(DecodeFileName(name), QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) {
        icon = QIcon::fromTheme(type.genericIconName());
    }
    if (icon.isNull()) {
        icon = IconProvider().icon(QAbstractFileIconProvider::File);
    }
    return icon;
}

TAlignment AlignmentOf(const QString& align) {
    if (align == QLatin1String("right")) {
        return TAlignment::Right;
    }
    if (align == QLatin1String("center")) {
        return TAlignment::Center;
    }
    return TAlignment::Left;
}

}  // namespace

// ---- the controller ---------------------------------------------------------------------------

TFACtrl::TFACtrl(QWidget& owner, TVirtualStringTree& tree) : owner_(owner), tree_(tree) {
    tree_.OnCompareNodes = [this](TVirtualStringTree& sender, PVirtualNode node1,
                                  PVirtualNode node2, int column, int& result) {
        TreeCompareNodes(sender, node1, node2, column, result);
    };
    tree_.OnPrepareSort = [this](TVirtualStringTree& sender, const TSiblingRows& rows, int) {
        return PrepareSort(sender, rows);
    };
    tree_.OnGetText = [this](TVirtualStringTree& sender, PVirtualNode node, int column,
                             TVSTTextType type,
                             std::string& text) { TreeGetText(sender, node, column, type, text); };
    tree_.OnGetHint = [this](TVirtualStringTree& sender, PVirtualNode node, int column,
                             std::string& hint) { TreeGetHint(sender, node, column, hint); };
    tree_.OnHeaderClick = [this](TVirtualStringTree& sender, int column, Qt::MouseButton button) {
        TreeHeaderClick(sender, column, button);
    };
    tree_.OnGetImageIndex = [this](TVirtualStringTree& sender, PVirtualNode node, TImageKind kind,
                                   int column, bool& ghosted, int& imageIndex) {
        TreeGetImageIndex(sender, node, kind, column, ghosted, imageIndex);
    };
    // A right-button press on the header and a change of the focused row mean nothing here.
    tree_.OnHeaderMouseDown = [](TVirtualStringTree&, int, Qt::MouseButton) {};
    tree_.OnChange = [](TVirtualStringTree&, PVirtualNode) {};
    // A row a rule left unchecked reads paler until the user sets its box.
    tree_.OnPaintText = [](TVirtualStringTree& sender, PVirtualNode node, int, bool& muted) {
        muted = sender.GetNodeData(node).KeptBy() != TKeepReason::None &&
                sender.CheckState(node) != TCheckState::Checked;
    };
}

TFACtrl::~TFACtrl() {
    tree_.OnPaintText = nullptr;
    tree_.OnGetText = nullptr;
    tree_.OnGetHint = nullptr;
    tree_.OnGetImageIndex = nullptr;
    tree_.OnCompareNodes = nullptr;
    tree_.OnPrepareSort = nullptr;
    tree_.OnHeaderClick = nullptr;
    tree_.OnHeaderMouseDown = nullptr;
    tree_.OnChange = nullptr;
}

void TFACtrl::BuildColumns(TVirtualStringTree& tree, const std::shared_ptr<IXMLNodesType>& nodes) {
    TVirtualTreeColumns& columns = tree.Header().Columns();
    columns.Clear();
    {
        columns.BeginUpdate();
        // The header must come back to life also when an element cannot be read.
        const auto resume = qScopeGuard([&columns] { columns.EndUpdate(); });
        for (int i = 0; i < nodes->GetCount(); ++i) {
            const auto node = nodes->GetNode(i);
            TVirtualTreeColumn column = columns.Add();
            column.SetText(node->GetName());
            column.SetWidth(node->GetWidth());
            column.SetColor(node->GetReadOnly() ? QColor(kReadOnlyColumnColor)
                                                : QToolTip::palette().color(QPalette::Inactive,
                                                                            QPalette::ToolTipBase));
            column.SetAlignment(AlignmentOf(node->GetAlign()));
        }
    }
    // Moving a column shifts the ones between its old and new place, so moving them one after
    // another in column order undoes earlier moves. Placed in order of their target, each move
    // only shifts columns not placed yet. What was read before a failure is still applied.
    std::vector<std::pair<int, int>> targets;  // (Index, column)
    const auto place = qScopeGuard([&columns, &targets] {
        std::sort(targets.begin(), targets.end());  // ties keep column order
        for (const auto& [position, column] : targets) {
            columns.Items(column).SetPosition(position);
        }
    });
    for (int i = 0; i < nodes->GetCount(); ++i) {
        const auto node = nodes->GetNode(i);
        targets.emplace_back(node->GetIndex(), i);
        columns.Items(i).SetVisible(node->GetVisible());
    }
}

std::string TFACtrl::FormatCellText(TFieldKind kind, const TFileNodeData* data) {
    return purgala::FormatCellText(kind, data);
}

QString TFACtrl::SizeText(double bytes) {
    return purgala::SizeText(bytes);
}

TFieldKind TFACtrl::ColumnKind(int column) {
    const auto nodes = GetConfig().GetRoot()->GetNodes();
    return FieldKindOfName(nodes->GetNode(column)->GetName().toStdString());
}

void TFACtrl::TreeGetText(TVirtualStringTree& sender, PVirtualNode node, int column, TVSTTextType,
                          std::string& cellText) {
    try {
        cellText = FormatCellText(ColumnKind(column), &sender.GetNodeData(node));
    } catch (const std::exception&) {
        // The cell keeps the empty text the tree gave it.
    }
}

void TFACtrl::TreeGetHint(TVirtualStringTree& sender, PVirtualNode node, int column,
                          std::string& hintText) {
    try {
        const TFileNodeData& data = sender.GetNodeData(node);
        hintText = FormatCellText(ColumnKind(column), &data);
        if (data.KeptBy() != TKeepReason::None && Keep != nullptr) {
            hintText += '\n' + Keep->Why(sender.Rows(), node).toStdString();
        }
    } catch (const std::exception&) {
        // No hint rather than a message.
    }
}

void TFACtrl::TreeGetImageIndex(TVirtualStringTree& sender, PVirtualNode node, TImageKind,
                                int column, bool&, int& imageIndex) {
    try {
        if (ColumnKind(column) != TFieldKind::FileName) {
            return;
        }
    } catch (const std::exception&) {
        return;
    }
    try {
        const TFileNodeData& data = sender.GetNodeData(node);
        imageIndex = RowIconIndex(data.FullPath(), data.FileType() == kFolderType);
    } catch (const std::exception&) {
        imageIndex = -1;
    }
}

void TFACtrl::TreeHeaderClick(TVirtualStringTree& sender, int column, Qt::MouseButton button) {
    if (button != Qt::LeftButton) {
        return;
    }
    TVTHeader& header = sender.Header();
    if (header.SortColumn() == kNoColumn) {
        header.SetSortColumn(column);
        header.SetSortDirection(TSortDirection::Ascending);
    } else {
        // A click on another column flips the direction too, as a second click on the same one.
        header.SetSortColumn(column);
        header.SetSortDirection(header.SortDirection() == TSortDirection::Ascending
                                    ? TSortDirection::Descending
                                    : TSortDirection::Ascending);
    }
    SortKind = ColumnKind(column);
    sender.SortTree(header.SortColumn(), header.SortDirection());
}

void TFACtrl::TreeCompareNodes(TVirtualStringTree& sender, PVirtualNode node1, PVirtualNode node2,
                               int, int& result) {
    result = CompareRows(sender.GetNodeData(node1), sender.GetNodeData(node2), SortKind,
                         sender.Header().SortDirection() == TSortDirection::Ascending);
}

TResultTree::TOrderMaker TFACtrl::PrepareSort(TVirtualStringTree& sender,
                                              const TSiblingRows& rows) {
    return SiblingOrder(sender.Rows(), rows, SortKind,
                        sender.Header().SortDirection() == TSortDirection::Ascending);
}

// ---- icons ------------------------------------------------------------------------------------

int RowIconIndex(std::string_view path, bool isFolder) {
    // A folder row is the configured folder, opened as typed, a link there included; below it
    // nothing is followed.
    return ShellIconIndex(TrimBlanks(path), isFolder);
}

int ShellIconIndex(std::string_view path, bool followLink) {
    // The bytes go to the file system as they are; an embedded NUL would name another path.
    if (path.empty() || path.find('\0') != std::string_view::npos) {
        return -1;
    }
    const std::string bytes(path);
    struct stat st {};
    if ((followLink ? ::stat(bytes.c_str(), &st) : ::lstat(bytes.c_str(), &st)) != 0) {
        return -1;
    }
    const QIcon icon = S_ISDIR(st.st_mode) ? IconProvider().icon(QAbstractFileIconProvider::Folder)
                                           : FileTypeIcon(path);
    return icon.isNull() ? -1 : TIconList::Instance().IndexOf(icon);
}

}  // namespace purgala
