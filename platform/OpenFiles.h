#pragma once
// The files that running programs hold open or have mapped, by identity, read from /proc. A file
// in use is left alone: deleting it frees no space until it is closed, and can break the program.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/FileFacts.h"
#include "platform/UniqueFd.h"

namespace purgala {

struct TFileIdentityHash {
    std::size_t operator()(const TFileIdentity& id) const noexcept {
        return static_cast<std::size_t>(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
    }
};

// A process that holds a file.
struct TFileHolder {
    std::int32_t pid = 0;
    std::string command;  // its name as the kernel keeps it (comm), empty when unreadable
};

class TOpenFiles {
public:
    // The first process found holding `file`, or nullptr when none does.
    const TFileHolder* HolderOf(const TFileIdentity& file) const;
    bool Contains(const TFileIdentity& file) const { return files_.contains(file); }
    bool Empty() const { return files_.empty(); }
    std::size_t Size() const { return files_.size(); }

    // The process `pid` holds `file`. Where several do, the lowest pid is the one named, so
    // the result does not depend on the order processes were read in.
    void Add(const TFileIdentity& file, std::int32_t pid, const std::string& command);
    void Merge(const TOpenFiles& other);

private:
    std::vector<TFileHolder> holders_;
    std::unordered_map<TFileIdentity, std::uint32_t, TFileIdentityHash> files_;
};

// Gathers every regular file that a process under `procRoot` holds open (its fd folder) or has
// mapped (its maps file). Processes this user may not read, and those that end meanwhile, are
// passed over without a word. Several threads may work at once, each taking the next process, so
// whoever waits for the result can help rather than wait.
class TOpenFilesCollector {
public:
    using Clock = std::chrono::steady_clock;

    // Lists the processes; reads none of them yet.
    explicit TOpenFilesCollector(const char* procRoot = "/proc");
    ~TOpenFilesCollector();  // a helper still reading gives up and is waited for
    TOpenFilesCollector(const TOpenFilesCollector&) = delete;
    TOpenFilesCollector& operator=(const TOpenFilesCollector&) = delete;

    // Starts a helper thread that reads alongside other work; Finish then joins in.
    void StartHelper();
    // Reads processes until none is left to take (true) or `deadline` has passed (false). A
    // process taken is read whole, so the call may end a little past the deadline.
    bool Work(Clock::time_point deadline = Clock::time_point::max());
    // Works alongside the helper until every process is read and the helper has ended (true), or
    // until `deadline` (false).
    bool Finish(Clock::time_point deadline);
    // What every call of Work gathered. Only once Finish said so, or without a helper.
    TOpenFiles Take();

private:
    TUniqueFd proc_;  // shared by every thread that works: openat needs no lock
    std::vector<std::int32_t> pids_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> abandoned_{false};
    std::mutex mutex_;
    TOpenFiles files_;
    std::future<void> helper_;  // last, so that it ends before the rest goes
};

// Every file in use, gathered on the calling thread.
TOpenFiles CollectOpenFiles(const char* procRoot = "/proc");

}  // namespace purgala
