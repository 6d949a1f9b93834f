#include "config/ConfigLocation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QStandardPaths>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

bool IsDirectory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The folder's path with every link resolved; empty when it does not exist.
std::string RealPath(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                           &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool IsInstalledDir(const std::string& programDir,
                    std::span<const std::string_view> installedDirs) {
    const std::string real = RealPath(programDir);
    for (std::string_view dir : installedDirs) {
        if (!real.empty() && RealPath(std::string(dir)) == real) {
            return true;
        }
    }
    return false;
}

// Set by the build (data/CMakeLists.txt).
constexpr std::array<std::string_view, 2> kInstalledProgramDirs = {PURGALA_INSTALL_BINDIR,
                                                                   PURGALA_PACKAGE_BINDIR};

}  // namespace

std::span<const std::string_view> InstalledProgramDirs() {
    return kInstalledProgramDirs;
}

std::string ChooseConfigFile(const std::string& programDir,
                             std::span<const std::string_view> installedDirs,
                             std::string_view fileName) {
    std::string beside = programDir + "/" + std::string(fileName);
    struct stat status {};
    const bool fileThere = ::stat(beside.c_str(), &status) == 0 && S_ISREG(status.st_mode);
    // access() also says no for a folder on a read-only mount, whatever its mode bits. Root may
    // write to the folder it installed into, but that folder belongs to the package.
    if (fileThere ||
        (::access(programDir.c_str(), W_OK) == 0 && !IsInstalledDir(programDir, installedDirs))) {
        return beside;
    }
    return UserConfigDir() + "/" + std::string(fileName);
}

std::string UserConfigDir() {
    // Not AppConfigLocation: that folder is named after the application name, "Purgala", and
    // configuration folders go by the program's lower-case name.
    return EncodeFileName(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) +
           "/purgala";
}

void MakeParentFolders(const std::string& file) {
    const std::size_t end = file.find_last_of('/');
    if (end == std::string::npos || end == 0 || IsDirectory(file.substr(0, end))) {
        return;
    }
    for (std::size_t slash = file.find('/', 1); slash != std::string::npos && slash <= end;
         slash = file.find('/', slash + 1)) {
        const std::string folder = file.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            throw InOutError(folder + ": " + std::strerror(errno));
        }
    }
}

}  // namespace purgala
