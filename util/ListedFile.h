#pragma once
// Finding a listed file again, and only it: what removing it from disk and moving it to the
// trash share.
//
// The configured folder is opened as the user typed it and must still be the folder the scan
// opened; below it no symbolic link is followed and no mount is crossed (the folders are opened
// with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV, or one by one with O_NOFOLLOW
// and a mount check where the kernel lacks openat2 or the path is too long for one call), and
// the entry found there counts only while it still is the regular file or link the scan saw:
// same device, inode, size, write time and birth time (status-change time where there is no
// birth time), to the nanosecond.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/DirReader.h"
#include "platform/FileFacts.h"
#include "platform/UniqueFd.h"

namespace purgala {

enum class TDeleteResult : std::uint8_t {
    Deleted,   // the listed file is gone from disk
    Trashed,   // the listed file is in the trash
    Vanished,  // it was gone already: there was nothing to delete
    Failed,    // it was not removed; `reason` says why
    Untried,   // the removal was stopped before this file: it is as it was
};

struct TDeleteOutcome {
    TDeleteResult result = TDeleteResult::Failed;
    std::string reason;  // for Failed: a short text for the user
};

// A file as the scan listed it: what the deletion or the move to the trash is given, with its
// own copy of its paths, so that it can go to another thread.
struct TListedFile {
    std::string folder;  // the configured folder, as typed
    // The folder, "/", the sub-folders and the name, as the scan joined them.
    std::string fullPath;
    // Of the configured folder when it was scanned; an inode of zero for a file no scan listed,
    // which could be anything and is never removed.
    TFileIdentity folderIdentity;
    TFileStamp stamp;  // of the file when it was listed
};

// The reasons a listed file is kept although it is still there.
inline constexpr std::string_view kChangedSinceScan = "changed since the scan";
inline constexpr std::string_view kFolderChangedSinceScan = "the folder changed since the scan";

// The listed file, found again.
struct TFoundFile {
    int folder = -1;           // its folder, open; owned by the finder and good until its next call
    std::string name;          // its name in that folder
    TEntryStat now;            // what the file system says of it now, which matches the listing
    std::uint64_t device = 0;  // of the configured folder, so of every folder below it
};

// Finds listed files one after the other. Consecutive files of one folder, the usual case when a
// whole result tree is walked, reuse that folder's open descriptor.
class TListedFileFinder {
public:
    // `useOpenat2` false opens the folders below the configured one a component at a time, as
    // on kernels without openat2.
    explicit TListedFileFinder(bool useOpenat2 = true) : useOpenat2_(useOpenat2) {}

    // True with `found` filled when the entry at the listed path is the listed file; otherwise
    // false with `outcome` saying why (Vanished when it is gone, Failed with a reason when it
    // may still be on disk).
    bool Find(const TListedFile& file, TFoundFile& found, TDeleteOutcome& outcome);

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

// A system error number as a short text for the user.
std::string SystemMessage(int error);

}  // namespace purgala
