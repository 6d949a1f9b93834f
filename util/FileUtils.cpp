#include "util/FileUtils.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QStorageInfo>

#include "platform/FileNames.h"

namespace purgala {

std::string FileExtOf(std::string_view path) {
    const std::size_t last = path.find_last_of("./");
    if (last == std::string_view::npos || path[last] != '.') {
        return {};
    }
    return std::string(path.substr(last + 1));
}

namespace {

// Whether the kernel says for sure that `path` is no mount point. QStorageInfo reads the whole
// mount table on every call, far too slow for a list of many thousand folders.
bool SurelyNoMountPoint(std::string_view path) {
    struct statx stx {};
    return ::statx(AT_FDCWD, std::string(path).c_str(), 0, 0, &stx) == 0 &&
           (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) == 0;
}

}  // namespace

std::string FolderDisplayName(std::string_view path) {
    if (!path.empty() && !SurelyNoMountPoint(path)) {
        const QString decoded = DecodeFileName(path);
        const QStorageInfo storage(decoded);
        if (storage.isValid() && storage.rootPath() == QDir::cleanPath(decoded)) {
            std::string label = VolumeLabel(path);
            return label.empty() ? std::string(path) : label;
        }
    }
    std::string_view name = path;
    if (const std::size_t slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    // A leading dot marks a hidden folder here, not an extension: ".cache" keeps its name.
    const std::size_t start = name.find_first_not_of('.');
    if (start != std::string_view::npos) {
        if (const std::size_t dot = name.find('.', start); dot != std::string_view::npos) {
            name = name.substr(0, dot);
        }
    }
    return std::string(name);
}

std::string VolumeLabel(std::string_view path) {
    const QStorageInfo storage(DecodeFileName(path));
    if (!storage.isValid()) {
        return {};
    }
    return EncodeFileName(storage.name());
}

}  // namespace purgala
