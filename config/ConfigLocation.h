#pragma once
// Where the configuration file lives. Beside the program when that is the user's own copy: a file
// already there, or a program folder the user may write to that is not where the program was
// installed (a portable copy, a build folder). An installed program never writes beside itself,
// whoever runs it, root included: its file lives in the user's configuration folder.

#include <span>
#include <string>
#include <string_view>

namespace purgala {

// The folders this build installs the program into: the install prefix's and the Debian
// package's (the same unless the build was configured for another prefix).
std::span<const std::string_view> InstalledProgramDirs();

// `programDir` + "/" + `fileName` when a regular file stands there, or when the user may write to
// `programDir` and it is none of `installedDirs` (compared by their real paths); otherwise
// `fileName` in UserConfigDir(). File-system bytes in and out, decided afresh on every call.
std::string ChooseConfigFile(const std::string& programDir,
                             std::span<const std::string_view> installedDirs,
                             std::string_view fileName);

// $XDG_CONFIG_HOME/purgala (~/.config/purgala when the variable is not set).
std::string UserConfigDir();

// Creates the missing folders above `file`, each open to its owner only as the XDG folders are;
// InOutError names the folder that could not be made.
void MakeParentFolders(const std::string& file);

}  // namespace purgala
