#pragma once
// The folder scan behind "&Check Temps": one folder row per configured folder and under it one
// checked row per matching file found anywhere below that folder.

#include <cstddef>
#include <functional>
#include <string_view>

#include "platform/VirtualTree.h"
#include "scan/FileNodeData.h"
#include "scan/KeepRules.h"

namespace purgala {

// Appends a folder row for `folderPath` at the end of the tree's top level, then a checked child
// row for every file below the folder whose extension equals `ext` in any ASCII letter case
// (every file, hidden ones too, when `ext` is empty), and expands the folder row. Display
// updates stay suspended for the whole folder. Reports nothing: a folder that cannot be read
// simply gets no file rows.
// `progress`, when given, hears of every entry read: the folder being read (its PathWith({}) ends
// with "/") and how many files this call has listed so far. It is called often and must be cheap,
// so the folder's path is built only by a listener that shows it.
// `keep`, when given, is the folder's age rule: a file it keeps is listed unchecked, with the
// reason in its row.
using TScanProgress = std::function<void(const TScanFolder& folder, std::size_t listed)>;
void ScanFolder(TVirtualStringTree& tree, std::string_view folderPath, std::string_view ext,
                const TScanProgress& progress = {}, const TFolderKeep* keep = nullptr);

// Appends under `parentRow` a checked row for every matching file below `dir`, which ends with
// "/". A sub-folder's files are inserted where the sub-folder's entry is met. `dir` itself is
// opened as given; below it no symbolic link is followed. Entries that fail are skipped.
void ScanFolderFiles(TVirtualStringTree& tree, std::string_view dir, PVirtualNode parentRow,
                     std::string_view ext, const TScanProgress& progress = {},
                     const TFolderKeep* keep = nullptr);

}  // namespace purgala
