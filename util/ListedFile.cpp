#include "util/ListedFile.h"

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

std::string SystemMessage(int error) {
    return std::generic_category().message(error);
}

namespace {

constexpr std::string_view::size_type npos = std::string_view::npos;

// Cleared the first time the kernel (older than 5.6, or a sandbox that filters the call) turns
// openat2 down; from then on folders are opened one at a time.
std::atomic<bool> openat2Offered{true};

TDeleteOutcome Failed(std::string reason) {
    return {TDeleteResult::Failed, std::move(reason)};
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

// How often the one-folder-at-a-time walk keeps a folder open for the next file's walk.
constexpr std::size_t kMarkEvery = 64;

constexpr std::uint64_t kResolve =
    RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;

bool Openat2Unusable(int error) {
    return error == ENOSYS || error == EPERM;
}

long Openat2(int dirFd, const char* path) {
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = kResolve;
    return ::syscall(SYS_openat2, dirFd, path, &how, sizeof how);
}

// The whole relative path in one call, or nothing when that cannot tell (the kernel lacks
// openat2, a rename raced the lookup, or the path is longer than one call takes): then `offered`
// is false and the caller goes one folder at a time.
TUniqueFd OpenAtOnce(int rootFd, const std::string& relative, int& error, bool& offered) {
    const long fd = Openat2(rootFd, relative.c_str());
    if (fd >= 0) {
        offered = true;
        return TUniqueFd(static_cast<int>(fd));
    }
    error = errno;
    offered = !Openat2Unusable(error) && error != EAGAIN && error != ENAMETOOLONG;
    if (Openat2Unusable(error)) {
        openat2Offered.store(false, std::memory_order_relaxed);
    }
    return {};
}

// The sub-folder `name` of `parentFd`, never through a link and never onto another mount.
TUniqueFd OpenBelow(int parentFd, const std::string& name, std::uint64_t device, bool useOpenat2,
                    int& error) {
    if (useOpenat2 && openat2Offered.load(std::memory_order_relaxed)) {
        const long fd = Openat2(parentFd, name.c_str());
        if (fd >= 0) {
            return TUniqueFd(static_cast<int>(fd));
        }
        error = errno;
        if (!Openat2Unusable(error)) {
            return {};
        }
        openat2Offered.store(false, std::memory_order_relaxed);
    }
    TUniqueFd folder = OpenSubFolder(parentFd, name.c_str());
    if (!folder.Valid()) {
        error = errno;
        return {};
    }
    const std::optional<TFolderIdentity> identity = FolderIdentityOf(folder.Get());
    if (!identity) {
        error = errno;
        return {};
    }
    if (identity->isMountRoot || identity->identity.device != device) {
        error = EXDEV;
        return {};
    }
    return folder;
}

TDeleteOutcome FromOpenError(int error) {
    switch (error) {
        case ENOENT:
            return {TDeleteResult::Vanished, {}};
        case ELOOP:
        case ENOTDIR:
        case EXDEV:
            return Failed("a folder on its path is now a link, a file or another file system");
        default:
            return Failed(SystemMessage(error));
    }
}

bool IsListable(const TEntryStat& entry) {
    return (entry.type == TEntryType::Regular || entry.type == TEntryType::Link) &&
           !entry.isMountRoot;
}

}  // namespace

int TListedFileFinder::OpenStepwise(std::string_view relative, int& error) {
    // The marks of the last walk that lie on the way to this folder stay.
    while (!walkMarks_.empty()) {
        const std::size_t end = walkMarks_.back().first;
        if (end <= relative.size() && relative.substr(0, end) == walkPath_.substr(0, end) &&
            (end == relative.size() || relative[end] == '/')) {
            break;
        }
        walkMarks_.pop_back();
    }
    walkPath_.assign(relative);
    if (!walkMarks_.empty() && walkMarks_.back().first == relative.size()) {
        dirFd_ = TUniqueFd(::fcntl(walkMarks_.back().second.Get(), F_DUPFD_CLOEXEC, 0));
        error = errno;
        return dirFd_.Get();
    }
    std::size_t from = walkMarks_.empty() ? 0 : walkMarks_.back().first + 1;
    std::size_t levels = 0;
    TUniqueFd current;
    std::string component;
    for (;;) {
        const std::size_t slash = relative.find('/', from);
        component.assign(relative.substr(from, slash == npos ? npos : slash - from));
        const int at = current.Valid()      ? current.Get()
                       : walkMarks_.empty() ? rootFd_.Get()
                                            : walkMarks_.back().second.Get();
        TUniqueFd next = OpenBelow(at, component, rootIdentity_.device, useOpenat2_, error);
        if (!next.Valid()) {
            return -1;
        }
        if (slash == npos) {
            dirFd_ = std::move(next);
            return dirFd_.Get();
        }
        current = std::move(next);
        if (++levels % kMarkEvery == 0) {
            walkMarks_.emplace_back(slash, std::move(current));
        }
        from = slash + 1;
    }
}

int TListedFileFinder::ParentFolder(std::string_view relativeDir, int& error) {
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
            OpenStepwise(dirPath_, dirError_);
        }
    }
    error = dirError_;
    return dirFd_.Valid() ? dirFd_.Get() : -1;
}

bool TListedFileFinder::Find(const TListedFile& file, TFoundFile& found, TDeleteOutcome& outcome) {
    const auto fail = [&outcome](TDeleteOutcome why) {
        outcome = std::move(why);
        return false;
    };
    std::string_view dir;
    std::string_view name;
    if (!SplitBelowFolder(file, dir, name)) {
        return fail(Failed("its path does not lie inside its configured folder"));
    }
    if (!rootCached_ || rootPath_ != file.folder) {
        rootPath_.assign(file.folder);
        rootCached_ = true;
        dirCached_ = false;
        dirFd_ = TUniqueFd();
        walkMarks_.clear();
        rootFd_ = OpenFolder(rootPath_.c_str());
        rootError_ = rootFd_.Valid() ? 0 : errno;
        const std::optional<TFolderIdentity> identity =
            rootFd_.Valid() ? FolderIdentityOf(rootFd_.Get()) : std::nullopt;
        if (rootFd_.Valid() && !identity) {
            rootError_ = errno;
            rootFd_ = TUniqueFd();
        }
        rootIdentity_ = identity ? identity->identity : TFileIdentity{};
    }
    // A folder that is not there, or not the one scanned (replaced, or a relative path that now
    // leads elsewhere), says nothing about the listed files: they may well still be on disk.
    if (!rootFd_.Valid() && rootError_ != ENOENT && rootError_ != ENOTDIR) {
        return fail(Failed(SystemMessage(rootError_)));
    }
    if (!rootFd_.Valid() || rootIdentity_ != file.folderIdentity) {
        return fail(Failed(std::string(kFolderChangedSinceScan)));
    }
    int error = 0;
    const int parent = ParentFolder(dir, error);
    if (parent < 0) {
        return fail(FromOpenError(error));
    }

    found.name.assign(name);
    const std::optional<TEntryStat> now = StatEntry(parent, found.name.c_str());
    if (!now) {
        const int statError = errno;
        return fail(statError == ENOENT ? TDeleteOutcome{TDeleteResult::Vanished, {}}
                                        : Failed(SystemMessage(statError)));
    }
    // Only the very file the user reviewed: not a new one on a reused inode number, not the
    // same one rewritten, and never a folder, FIFO, socket or device node.
    if (!IsListable(*now) || StampOf(now->info) != file.stamp) {
        return fail(Failed(std::string(kChangedSinceScan)));
    }
    found.folder = parent;
    found.now = *now;
    found.device = rootIdentity_.device;
    return true;
}

}  // namespace purgala
