#pragma once
// Reading directories below a configured folder without ever passing through a symbolic link:
// every sub-folder is opened relative to its parent's descriptor with O_NOFOLLOW, so a link
// swapped in for a folder cannot lead the walk (or a delete) anywhere else.

#include <dirent.h>

#include <cstdint>
#include <optional>

#include "scan/FileNodeData.h"

namespace purgala {

// An owned file descriptor.
class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : fd_(fd) {}
    TUniqueFd(TUniqueFd&& other) noexcept : fd_(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept;
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;
    ~TUniqueFd();

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// The folder at `path`, opened as given: a link there is followed, because the user chose that
// path. Empty when it cannot be opened as a folder (errno tells why).
TUniqueFd OpenFolder(const char* path);

// The sub-folder `name` of the folder `parentFd`, never through a link. Empty when it cannot be
// opened, is no folder, or is a link.
TUniqueFd OpenSubFolder(int parentFd, const char* name);

// What a directory entry is, as far as the walk needs to know.
enum class TEntryType : std::uint8_t { Unknown, Folder, Link, Other };

struct TDirEntry {
    const char* name = nullptr;  // raw bytes, valid until the next call of Next
    TEntryType type = TEntryType::Unknown;
};

// The entry `name` of the folder `folderFd` itself (a link is not followed): its size, times and
// identity, and whether it is a folder. Empty when it cannot be read.
struct TEntryStat {
    TFileEntryInfo info;
    bool isFolder = false;
};
std::optional<TEntryStat> StatEntry(int folderFd, const char* name);

// Device and inode of an open file or folder; empty when fstat fails.
struct TFileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};
std::optional<TFileIdentity> IdentityOf(int fd);

// The entries of one open folder in the order the file system gives them, without "." and "..".
class TDirReader {
public:
    // Takes over `folder`; Valid() is false when it cannot be read as a directory.
    explicit TDirReader(TUniqueFd folder);
    TDirReader(TDirReader&& other) noexcept;
    TDirReader& operator=(TDirReader&& other) noexcept;
    TDirReader(const TDirReader&) = delete;
    TDirReader& operator=(const TDirReader&) = delete;
    ~TDirReader();

    bool Valid() const { return dir_ != nullptr; }
    // The descriptor the entries are relative to (for OpenSubFolder and StatEntry).
    int Fd() const;
    // The next entry; false at the end or on a read error.
    bool Next(TDirEntry& entry);

private:
    DIR* dir_ = nullptr;
};

}  // namespace purgala
