#include "platform/DirReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

namespace purgala {

TUniqueFd OpenFolder(const char* path) {
    return TUniqueFd(::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

TUniqueFd OpenSubFolder(int parentFd, const char* name) {
    return TUniqueFd(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

namespace {

TFileTime TimeOf(const struct statx& stx, unsigned mask, const struct statx_timestamp& ts) {
    TFileTime t;
    if ((stx.stx_mask & mask) != 0) {
        t.seconds = ts.tv_sec;
        t.nanoseconds = static_cast<std::int32_t>(ts.tv_nsec);
    }
    return t;
}

TEntryType TypeOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return TEntryType::Folder;
    }
    if (S_ISREG(mode)) {
        return TEntryType::Regular;
    }
    return S_ISLNK(mode) ? TEntryType::Link : TEntryType::Other;
}

bool IsMountRoot(const struct statx& stx) {
    return (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// The same numbers stat() gives as st_dev and st_ino, so that checks can compare either.
TFileIdentity IdentityIn(const struct statx& stx) {
    return {makedev(stx.stx_dev_major, stx.stx_dev_minor), stx.stx_ino};
}

// A digest of the file's handle, which on most file systems holds a generation number that
// changes each time the inode number is handed out again. Where there is no birth time, and
// the other times have whole seconds only, it is what tells a new file on a reused inode number
// from the old one. Zero where the file system gives no handles.
std::uint64_t HandleOf(int folderFd, const char* name) {
    alignas(file_handle) unsigned char buffer[sizeof(file_handle) + MAX_HANDLE_SZ] = {};
    file_handle* handle = new (buffer) file_handle{};  // trivial: nothing to destroy
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mountId = 0;
    if (::name_to_handle_at(folderFd, name, handle, &mountId, 0) != 0) {
        return 0;
    }
    std::uint64_t digest = 14695981039346656037ull;  // FNV-1a
    const auto mix = [&digest](unsigned char byte) { digest = (digest ^ byte) * 1099511628211ull; };
    const unsigned char* bytes = buffer + offsetof(file_handle, f_handle);
    for (unsigned i = 0; i < handle->handle_bytes && i < MAX_HANDLE_SZ; ++i) {
        mix(bytes[i]);
    }
    for (int shift = 0; shift < 32; shift += 8) {
        mix(static_cast<unsigned char>(static_cast<unsigned>(handle->handle_type) >> shift));
    }
    return digest;
}

}  // namespace

std::optional<TEntryStat> StatEntry(int folderFd, const char* name) {
    struct statx stx {};
    constexpr unsigned kWanted = STATX_TYPE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_CTIME |
                                 STATX_BTIME | STATX_INO | STATX_UID;
    if (::statx(folderFd, name, AT_SYMLINK_NOFOLLOW, kWanted, &stx) != 0) {
        return std::nullopt;
    }
    TEntryStat result;
    result.type = (stx.stx_mask & STATX_TYPE) != 0 ? TypeOf(stx.stx_mode) : TEntryType::Other;
    result.isMountRoot = IsMountRoot(stx);
    TFileEntryInfo& info = result.info;
    info.size = static_cast<std::int64_t>(stx.stx_size);
    // Not every file system records a birth time; then the creation time stays unknown.
    info.createTime = TimeOf(stx, STATX_BTIME, stx.stx_btime);
    info.accessTime = TimeOf(stx, STATX_ATIME, stx.stx_atime);
    info.writeTime = TimeOf(stx, STATX_MTIME, stx.stx_mtime);
    info.changeTime = TimeOf(stx, STATX_CTIME, stx.stx_ctime);
    const TFileIdentity identity = IdentityIn(stx);
    info.device = identity.device;
    info.inode = identity.inode;
    info.owner = stx.stx_uid;
    if (!info.createTime.Known()) {
        info.handle = HandleOf(folderFd, name);
    }
    return result;
}

std::optional<TFolderIdentity> FolderIdentityOf(int fd) {
    struct statx stx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_MODE | STATX_UID, &stx) != 0) {
        return std::nullopt;
    }
    return TFolderIdentity{IdentityIn(stx), IsMountRoot(stx), (stx.stx_mode & S_ISVTX) != 0,
                           stx.stx_uid};
}

namespace {
constexpr std::size_t kDirBuffer = 32 * 1024;  // what a DIR stream reads at once
}  // namespace

TDirReader::TDirReader(TUniqueFd folder) : fd_(std::move(folder)) {
    if (fd_.Valid()) {
        buffer_ = std::make_unique_for_overwrite<char[]>(kDirBuffer);
    }
}

bool TDirReader::Next(TDirEntry& entry) {
    if (!fd_.Valid()) {
        return false;
    }
    for (;;) {
        if (next_ >= used_) {
            const ssize_t got = ::getdents64(fd_.Get(), buffer_.get(), kDirBuffer);
            if (got <= 0) {
                error_ = got < 0 ? errno : 0;
                return false;
            }
            used_ = static_cast<std::size_t>(got);
            next_ = 0;
        }
        // The kernel aligns each record for its own type; the copy keeps the compiler honest.
        dirent64 d;
        std::memcpy(&d, buffer_.get() + next_, offsetof(dirent64, d_name));
        const char* name = buffer_.get() + next_ + offsetof(dirent64, d_name);
        next_ += d.d_reclen;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        entry.name = name;
        switch (d.d_type) {
            case DT_DIR:
                entry.type = TEntryType::Folder;
                break;
            case DT_LNK:
                entry.type = TEntryType::Link;
                break;
            case DT_REG:
                entry.type = TEntryType::Regular;
                break;
            case DT_UNKNOWN:
                entry.type = TEntryType::Unknown;
                break;
            default:
                entry.type = TEntryType::Other;
                break;
        }
        return true;
    }
}

}  // namespace purgala
