#pragma once
// Removing the file of a result row from disk, and nothing else: never a folder, never anything
// outside the configured folder or on another file system, never another file that has taken
// the listed one's place.
//
// The configured folder is opened as the user typed it and must still be the folder the scan
// opened; below it no symbolic link is followed and no mount is crossed (the folders are opened
// with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV, or one by one with O_NOFOLLOW
// and a mount check where the kernel lacks openat2 or the path is too long for one call), and
// the entry is removed with unlinkat on its folder only while it still is the regular file or
// link the scan saw: same device, inode, size, write time and birth time (status-change time
// where there is no birth time), to the nanosecond. What is left is the moment between that
// check and the removal, which no system call closes.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileFacts.h"
#include "platform/UniqueFd.h"

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
    TFileIdentity folderIdentity;  // of the configured folder when it was scanned
    TFileStamp stamp;              // of the file when it was listed
};

// The reasons a listed file is kept although it is still there.
inline constexpr std::string_view kChangedSinceScan = "changed since the scan";
inline constexpr std::string_view kFolderChangedSinceScan = "the folder changed since the scan";

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
    // The same one folder at a time, starting from the deepest folder of the last such walk that
    // is still on the way, so that a deep tree is not walked from its top for every file.
    int OpenStepwise(std::string_view relativeDir, int& error);

    bool useOpenat2_;
    std::string rootPath_;
    bool rootCached_ = false;
    TUniqueFd rootFd_;
    int rootError_ = 0;
    TFileIdentity rootIdentity_;
    std::string dirPath_;
    bool dirCached_ = false;
    TUniqueFd dirFd_;
    int dirError_ = 0;
    // The last one-folder-at-a-time walk: its path and an open folder every few levels.
    std::string walkPath_;
    std::vector<std::pair<std::size_t, TUniqueFd>> walkMarks_;  // end of the path there, folder
};

// One file on its own.
TDeleteOutcome DeleteDiskFile(const TListedFile& file);

}  // namespace purgala
