#pragma once
// Removing the file of a result row from disk, and nothing else: never a folder, never anything
// outside the configured folder or on another file system, never another file that has taken
// the listed one's place.
//
// The file is found again as ListedFile.h describes (the configured folder still the scanned
// one, no link followed, no mount crossed, the entry still the listed file to the nanosecond),
// and removed with unlinkat on its folder. What is left is the moment between that check and
// the removal, which no system call closes.
//
// A move to the trash closes it by checking after the move (TrashFile.h). The same could be done
// here: rename the file to a private name in its folder, check that, then unlink it or put it
// back. Measured with bench_purgala delete (Release, 20,000 files in a 200,000-file tree, best
// of 3, a shared and busy 2-core machine), that takes 1.17 and 1.67 times what find -delete
// takes, against 0.67 and 0.54 for check-then-unlink: the rename and the second check cost more
// than the removal itself. Beyond the 0.8 times find -delete the deletion must stay within, so
// the deletion checks and then unlinks.

#include "util/ListedFile.h"

namespace purgala {

// Deletes listed files one after the other, reusing the open folders between them.
class TDiskFileDeleter {
public:
    // `useOpenat2` false opens the folders below the configured one a component at a time, as
    // on kernels without openat2.
    explicit TDiskFileDeleter(bool useOpenat2 = true) : finder_(useOpenat2) {}

    // Per-file failures are outcomes, not exceptions: one file that cannot go must not stop the
    // others.
    TDeleteOutcome DeleteDiskFile(const TListedFile& file);

private:
    TListedFileFinder finder_;
};

// One file on its own.
TDeleteOutcome DeleteDiskFile(const TListedFile& file);

}  // namespace purgala
