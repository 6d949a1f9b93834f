#pragma once
// Reading directories below a configured folder without ever passing through a symbolic link:
// every sub-folder is opened relative to its parent's descriptor with O_NOFOLLOW, so a link
// swapped in for a folder cannot lead the walk (or a delete) anywhere else.

#include <cstddef>
#include <cstdint>
#include <memory>
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
// Read with getdents64 into a buffer of its own: a DIR stream would cost three more system calls
// a folder, which count in trees of small folders.
class TDirReader {
public:
    // Takes over `folder`, which must have been opened as a directory; Valid() is false when it
    // is empty.
    explicit TDirReader(TUniqueFd folder);
    TDirReader(TDirReader&& other) noexcept = default;
    TDirReader& operator=(TDirReader&& other) noexcept = default;
    TDirReader(const TDirReader&) = delete;
    TDirReader& operator=(const TDirReader&) = delete;
    ~TDirReader() = default;

    bool Valid() const { return fd_.Valid(); }
    // The descriptor the entries are relative to (for OpenSubFolder and StatEntry).
    int Fd() const { return fd_.Get(); }
    // The next entry; false at the end or on a read error.
    bool Next(TDirEntry& entry);
    // Why the last Next gave false: 0 at the end, else the error that cut the listing short.
    int Error() const { return error_; }

private:
    TUniqueFd fd_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;  // bytes the last read gave
    std::size_t next_ = 0;  // where the next record starts
    int error_ = 0;
};

}  // namespace purgala
