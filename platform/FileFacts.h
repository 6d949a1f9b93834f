#pragma once
// What the file system says of one entry: its times, size and identity, as the directory reader
// gives them and as a row keeps them to tell the reviewed file from anything found there later.

#include <cstdint>
#include <limits>

namespace purgala {

// Seconds since the Unix epoch (UTC) and the nanoseconds into that second. The texts never show
// fractions of a second; the nanoseconds tell a file rewritten within the same second from the
// one that was listed. A file system that records no birth time gives an unknown time.
struct TFileTime {
    static constexpr std::int64_t kUnknown = std::numeric_limits<std::int64_t>::min();
    std::int64_t seconds = kUnknown;
    std::int32_t nanoseconds = 0;

    bool Known() const { return seconds != kUnknown; }
    friend bool operator==(TFileTime, TFileTime) = default;
};

// A time as one 64-bit count of nanoseconds since the epoch, and back. 64 bits reach from 1678 to
// 2262; a time beyond that is kept at the nearest end. An unknown time has a count of its own.
inline constexpr std::int64_t kUnknownNanos = std::numeric_limits<std::int64_t>::min();
std::int64_t NanosOf(TFileTime t);
TFileTime TimeOfNanos(std::int64_t nanos);

// Device and inode: which file it is on this machine.
struct TFileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend auto operator<=>(const TFileIdentity&, const TFileIdentity&) = default;
};

// What the scanner learns about one directory entry.
struct TFileEntryInfo {
    std::int64_t size = 0;
    TFileTime createTime;  // birth time, unknown where the file system records none
    TFileTime accessTime;
    TFileTime writeTime;
    // Where there is no birth time, what tells a file from an earlier one on the same inode:
    // the status-change time and a digest of the file's handle (zero when there is none).
    TFileTime changeTime;
    std::uint64_t handle = 0;
    std::uint64_t device = 0;  // with `inode`, the identity of the file that was listed
    std::uint64_t inode = 0;
    std::uint32_t owner = 0;  // user id
};

// What tells the file the user reviewed from anything found at its path later: the same inode
// on the same device may be a new file, and the same file may have been rewritten.
struct TFileStamp {
    TFileIdentity identity;
    std::int64_t size = 0;
    std::int64_t writeTime = 0;  // nanoseconds since the epoch
    // The birth time where the file system records one, otherwise the status-change time mixed
    // with the handle's digest: compared, never shown.
    std::int64_t bornOrChanged = 0;
    bool birthKnown = false;
    friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};

// The stamp of `info` as a row keeps it: times as 64-bit nanosecond counts.
TFileStamp StampOf(const TFileEntryInfo& info);

}  // namespace purgala
