#include "platform/DirReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <utility>

namespace purgala {

TUniqueFd& TUniqueFd::operator=(TUniqueFd&& other) noexcept {
    if (this != &other) {
        TUniqueFd old(std::exchange(fd_, other.Release()));
    }
    return *this;
}

TUniqueFd::~TUniqueFd() {
    if (fd_ >= 0) {
        // Nothing was written through a folder descriptor, so a failing close loses nothing.
        ::close(fd_);
    }
}

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
    }
    return t;
}

}  // namespace

std::optional<TEntryStat> StatEntry(int folderFd, const char* name) {
    struct statx stx {};
    constexpr unsigned kWanted =
        STATX_TYPE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME | STATX_INO;
    if (::statx(folderFd, name, AT_SYMLINK_NOFOLLOW, kWanted, &stx) != 0) {
        return std::nullopt;
    }
    TEntryStat result;
    result.isFolder = (stx.stx_mask & STATX_TYPE) != 0 && S_ISDIR(stx.stx_mode);
    TFileEntryInfo& info = result.info;
    info.size = static_cast<std::int64_t>(stx.stx_size);
    // Not every file system records a birth time; then the creation time stays unknown.
    info.createTime = TimeOf(stx, STATX_BTIME, stx.stx_btime);
    info.accessTime = TimeOf(stx, STATX_ATIME, stx.stx_atime);
    info.writeTime = TimeOf(stx, STATX_MTIME, stx.stx_mtime);
    // The same numbers stat() gives as st_dev and st_ino, so a later check can compare them.
    info.device = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    info.inode = stx.stx_ino;
    return result;
}

std::optional<TFileIdentity> IdentityOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    return TFileIdentity{static_cast<std::uint64_t>(st.st_dev),
                         static_cast<std::uint64_t>(st.st_ino)};
}

TDirReader::TDirReader(TUniqueFd folder) {
    if (!folder.Valid()) {
        return;
    }
    dir_ = ::fdopendir(folder.Get());
    if (dir_ != nullptr) {
        folder.Release();  // the DIR owns it now
    }
}

TDirReader::TDirReader(TDirReader&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}

TDirReader& TDirReader::operator=(TDirReader&& other) noexcept {
    if (this != &other) {
        TDirReader old(std::move(*this));
        dir_ = std::exchange(other.dir_, nullptr);
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
        const struct dirent* d = ::readdir(dir_);
        if (d == nullptr) {
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
