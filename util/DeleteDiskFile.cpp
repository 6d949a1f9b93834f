#include "util/DeleteDiskFile.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <system_error>

namespace purgala {

namespace {

constexpr std::string_view::size_type npos = std::string_view::npos;

// Cleared the first time the kernel (older than 5.6, or a sandbox that filters the call) turns
// openat2 down; from then on folders are opened one at a time.
std::atomic<bool> openat2Offered{true};

TDeleteOutcome Failed(std::string reason) {
    return {TDeleteResult::Failed, std::move(reason)};
}

std::string SystemMessage(int error) {
    return std::generic_category().message(error);
}

bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != "..";
}

// The folder part below the configured folder and the file's name, as the scan joined them.
// Anything else (a path outside the folder, an empty, "." or ".." component, a NUL that would cut
// the path short for the system) is refused: such a path was not made by the scan.
bool SplitBelowFolder(const TListedFile& file, std::string_view& dir, std::string_view& name) {
    const std::string_view folder = file.folder;
    const std::string_view path = file.fullPath;
    if (folder.empty() || folder.find('\0') != npos || path.find('\0') != npos ||
        !path.starts_with(folder)) {
        return false;
    }
    std::size_t start = folder.size();
    if (folder.back() != '/') {
        if (path.size() <= start || path[start] != '/') {
            return false;
        }
        ++start;
    }
    const std::string_view relative = path.substr(start);
    const std::size_t lastSlash = relative.rfind('/');
    if (lastSlash == npos) {
        dir = {};
        name = relative;
        return IsPlainName(name);
    }
    dir = relative.substr(0, lastSlash);
    name = relative.substr(lastSlash + 1);
    if (!IsPlainName(name)) {
        return false;
    }
    for (std::size_t from = 0;;) {
        const std::size_t slash = dir.find('/', from);
        if (!IsPlainName(dir.substr(from, slash == npos ? npos : slash - from))) {
            return false;
        }
        if (slash == npos) {
            return true;
        }
        from = slash + 1;
    }
}

TUniqueFd OpenStepwise(int rootFd, std::string_view relative, int& error) {
    TUniqueFd current;
    std::string component;
    for (std::size_t from = 0;;) {
        const std::size_t slash = relative.find('/', from);
        component.assign(relative.substr(from, slash == npos ? npos : slash - from));
        TUniqueFd next = OpenSubFolder(current.Valid() ? current.Get() : rootFd, component.c_str());
        if (!next.Valid()) {
            error = errno;
            return {};
        }
        current = std::move(next);
        if (slash == npos) {
            return current;
        }
        from = slash + 1;
    }
}

// The whole relative path in one call, or nothing when the kernel does not offer openat2 (then
// `offered` is false and the caller goes one folder at a time).
TUniqueFd OpenAtOnce(int rootFd, const std::string& relative, int& error, bool& offered) {
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, rootFd, relative.c_str(), &how, sizeof how);
    if (fd >= 0) {
        offered = true;
        return TUniqueFd(static_cast<int>(fd));
    }
    error = errno;
    // EAGAIN: a rename raced the lookup; the stepwise walk does not mind.
    offered = error != ENOSYS && error != EPERM && error != EAGAIN;
    if (error == ENOSYS || error == EPERM) {
        openat2Offered.store(false, std::memory_order_relaxed);
    }
    return {};
}

TDeleteOutcome FromOpenError(int error) {
    switch (error) {
        case ENOENT:
            return {TDeleteResult::Vanished, {}};
        case ELOOP:
        case ENOTDIR:
        case EXDEV:
            return Failed("a folder on its path has been replaced by a link or a file");
        default:
            return Failed(SystemMessage(error));
    }
}

}  // namespace

int TDiskFileDeleter::ParentFolder(std::string_view relativeDir, int& error) {
    if (relativeDir.empty()) {
        return rootFd_.Get();
    }
    if (!dirCached_ || dirPath_ != relativeDir) {
        dirPath_.assign(relativeDir);
        dirCached_ = true;
        dirError_ = 0;
        dirFd_ = TUniqueFd();
        bool offered = false;
        if (useOpenat2_ && openat2Offered.load(std::memory_order_relaxed)) {
            dirFd_ = OpenAtOnce(rootFd_.Get(), dirPath_, dirError_, offered);
        }
        if (!offered) {
            dirFd_ = OpenStepwise(rootFd_.Get(), dirPath_, dirError_);
        }
    }
    error = dirError_;
    return dirFd_.Valid() ? dirFd_.Get() : -1;
}

TDeleteOutcome TDiskFileDeleter::DeleteDiskFile(const TListedFile& file) {
    std::string_view dir;
    std::string_view name;
    if (!SplitBelowFolder(file, dir, name)) {
        return Failed("its path does not lie inside its configured folder");
    }
    if (!rootCached_ || rootPath_ != file.folder) {
        rootPath_.assign(file.folder);
        rootCached_ = true;
        dirCached_ = false;
        dirFd_ = TUniqueFd();
        rootFd_ = OpenFolder(rootPath_.c_str());
        rootError_ = rootFd_.Valid() ? 0 : errno;
    }
    if (!rootFd_.Valid()) {
        return FromOpenError(rootError_);
    }
    int error = 0;
    const int parent = ParentFolder(dir, error);
    if (parent < 0) {
        return FromOpenError(error);
    }

    const std::string entry(name);
    const std::optional<TEntryStat> now = StatEntry(parent, entry.c_str());
    if (!now) {
        const int statError = errno;
        return statError == ENOENT ? TDeleteOutcome{TDeleteResult::Vanished, {}}
                                   : Failed(SystemMessage(statError));
    }
    if (now->isFolder) {
        return Failed("a folder now stands at its path");
    }
    const TFileEntryInfo& info = now->info;
    const bool bornElsewhen =
        file.birthTime.Known() && info.createTime.Known() && file.birthTime != info.createTime;
    if (info.device != file.identity.device || info.inode != file.identity.inode || bornElsewhen) {
        return Failed("another file now stands at its path");
    }
    // Without AT_REMOVEDIR this never removes a folder, even one swapped in since the check.
    if (::unlinkat(parent, entry.c_str(), 0) != 0) {
        const int unlinkError = errno;
        return unlinkError == ENOENT ? TDeleteOutcome{TDeleteResult::Vanished, {}}
                                     : Failed(SystemMessage(unlinkError));
    }
    return {TDeleteResult::Deleted, {}};
}

TDeleteOutcome DeleteDiskFile(const TListedFile& file) {
    return TDiskFileDeleter().DeleteDiskFile(file);
}

}  // namespace purgala
