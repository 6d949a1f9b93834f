#include "platform/DirReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
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

TDirReader::TDirReader(TUniqueFd folder) {
    if (!folder.Valid()) {
        return;
    }
    dir_ = ::fdopendir(folder.Get());
    if (dir_ != nullptr) {
        folder.Release();  // the DIR owns it now
    } else {
        error_ = errno;
    }
}

TDirReader::TDirReader(TDirReader&& other) noexcept
    : dir_(std::exchange(other.dir_, nullptr)), error_(other.error_) {}

TDirReader& TDirReader::operator=(TDirReader&& other) noexcept {
    if (this != &other) {
        TDirReader old(std::move(*this));
        dir_ = std::exchange(other.dir_, nullptr);
        error_ = other.error_;
    }
    return *this;
}

TDirReader::~TDirReader() {
    if (dir_ != nullptr) {
        ::closedir(dir_);
    }
}

int TDirReader::Fd() const {
    return dir_ != nullptr ? ::dirfd(dir_) : -1;
}

bool TDirReader::Next(TDirEntry& entry) {
    if (dir_ == nullptr) {
        return false;
    }
    for (;;) {
        errno = 0;
        const struct dirent* d = ::readdir(dir_);
        if (d == nullptr) {
            error_ = errno;
            return false;
        }
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        entry.name = name;
        switch (d->d_type) {
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
