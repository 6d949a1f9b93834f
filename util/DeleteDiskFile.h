#pragma once
// Removing the file of a result row from disk, and nothing else: never a folder, never anything
// outside the configured folder, never another file that has taken the listed one's place.
//
// The configured folder is opened as the user typed it; below it no symbolic link is followed
// (the folders are opened with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS, or one by one with
// O_NOFOLLOW where the kernel lacks openat2), and the entry is removed with unlinkat on its
// folder only while it still is the file the scan saw (same device and inode, and the same birth
// time where the file system records one, so that a new file on a reused inode number is told
// apart). What is left is the moment between that check and the removal, which no system call
// closes.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DirReader.h"
#include "util/FileTime.h"

namespace purgala {

enum class TDeleteResult : std::uint8_t {
    Deleted,   // the listed file is gone from disk
    Vanished,  // it was gone already: there was nothing to delete
    Failed,    // it was not removed; `reason` says why
};

struct TDeleteOutcome {
    TDeleteResult result = TDeleteResult::Failed;
    std::string reason;  // for Failed: a short text for the user
};

// A file as the scan listed it.
struct TListedFile {
    std::string_view folder;  // the configured folder, as typed
    // The folder, "/", the sub-folders and the name, as the scan joined them.
    std::string_view fullPath;
    TFileIdentity identity;  // device and inode when it was listed
    TFileTime birthTime;     // its birth time then; unknown where the file system records none
};

// Deletes listed files one after the other. Consecutive files of one folder, the usual case
// when a whole result tree is walked, reuse that folder's open descriptor.
class TDiskFileDeleter {
public:
    // `useOpenat2` false opens the folders below the configured one a component at a time, as
    // on kernels without openat2.
    explicit TDiskFileDeleter(bool useOpenat2 = true) : useOpenat2_(useOpenat2) {}

    // Per-file failures are outcomes, not exceptions: one file that cannot go must not stop the
    // others.
    TDeleteOutcome DeleteDiskFile(const TListedFile& file);

private:
    // The folder `relativeDir` below the open configured folder (the configured folder itself for
    // the empty text); -1 with `error` set when it cannot be opened safely.
    int ParentFolder(std::string_view relativeDir, int& error);

    bool useOpenat2_;
    std::string rootPath_;
    bool rootCached_ = false;
    TUniqueFd rootFd_;
    int rootError_ = 0;
    std::string dirPath_;
    bool dirCached_ = false;
    TUniqueFd dirFd_;
    int dirError_ = 0;
};

// One file on its own.
TDeleteOutcome DeleteDiskFile(const TListedFile& file);

}  // namespace purgala
