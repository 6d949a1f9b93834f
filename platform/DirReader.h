#pragma once
// Reading directories below a configured folder without ever passing through a symbolic link:
// every sub-folder is opened relative to its parent's descriptor with O_NOFOLLOW, so a link
// swapped in for a folder cannot lead the walk (or a delete) anywhere else.

#include <dirent.h>

#include <cstdint>
#include <optional>

#include "platform/FileFacts.h"
#include "platform/UniqueFd.h"

namespace purgala {

// The folder at `path`, opened as given: a link there is followed, because the user chose that
// path. Empty when it cannot be opened as a folder (errno tells why).
TUniqueFd OpenFolder(const char* path);

// The sub-folder `name` of the folder `parentFd`, never through a link. Empty when it cannot be
// opened, is no folder, or is a link.
TUniqueFd OpenSubFolder(int parentFd, const char* name);

// What a directory entry is, as far as the walk needs to know. Only regular files and links are
// ever listed; FIFOs, sockets and device nodes are Other.
enum class TEntryType : std::uint8_t { Unknown, Folder, Link, Regular, Other };

struct TDirEntry {
    const char* name = nullptr;  // raw bytes, valid until the next call of Next
    TEntryType type = TEntryType::Unknown;
};

// The entry `name` of the folder `folderFd` itself (a link is not followed): its type, size, times
// and identity, and whether another file system is mounted on it. Empty when it cannot be read
// (errno tells why).
struct TEntryStat {
    TFileEntryInfo info;
    TEntryType type = TEntryType::Other;
    bool isMountRoot = false;
};
std::optional<TEntryStat> StatEntry(int folderFd, const char* name);

// An open folder's identity, whether it is the root of a mount (another file system, or a bind
// mount of the same one), and who may remove what in it; empty when it cannot be read.
struct TFolderIdentity {
    TFileIdentity identity;
    bool isMountRoot = false;
    bool sticky = false;  // only a file's owner, the folder's owner or root may remove a file
    std::uint32_t owner = 0;
};
std::optional<TFolderIdentity> FolderIdentityOf(int fd);

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
    // Why the last Next gave false: 0 at the end, else the error that cut the listing short.
    int Error() const { return error_; }

private:
    DIR* dir_ = nullptr;
    int error_ = 0;
};

}  // namespace purgala
