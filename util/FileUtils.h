#pragma once
// Path and file helpers shared by the scanner, the dialogs and the commands. Paths are byte
// strings exactly as the file system gives them.

#include <QString>
#include <string>
#include <string_view>

namespace purgala {

// The extension of the last path component, without its dot; empty when that component has none.
std::string FileExtOf(std::string_view path);

// A folder's display name: its last component cut at the first dot, or for the root of a mounted
// file system its volume label (the path itself when the volume has none).
std::string FolderDisplayName(std::string_view path);

// The label of the file system mounted at `path`; empty when it has none or cannot be read.
std::string VolumeLabel(std::string_view path);

}  // namespace purgala
