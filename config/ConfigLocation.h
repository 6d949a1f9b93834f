#pragma once
// Where the configuration file lives. Beside the program whenever that can work: a file already
// there, or a program folder the user may write to (a portable copy, a build folder). An
// installed program's folder is neither, so its file lives in the user's configuration folder.

#include <string>
#include <string_view>

namespace purgala {

// `programDir` + "/" + `fileName` when a regular file stands there or the user may write to
// `programDir`; otherwise `fileName` in UserConfigDir(). File-system bytes in and out, decided
// afresh on every call.
std::string ChooseConfigFile(const std::string& programDir, std::string_view fileName);

// $XDG_CONFIG_HOME/purgala (~/.config/purgala when the variable is not set).
std::string UserConfigDir();

// Creates the missing folders above `file`, each open to its owner only as the XDG folders are;
// InOutError names the folder that could not be made.
void MakeParentFolders(const std::string& file);

}  // namespace purgala
