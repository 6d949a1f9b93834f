#pragma once
// "&Check Temps" as an operation that needs no window: the configured folders walked one after
// another in the one-thread order, every file judged by the rules, the totals kept, and each
// event handed to a consumer. The window's result tree is one consumer; the command line prints
// or cleans as it reads, holding nothing per file. The caller drives it in slices (the window
// between its events) or all at once.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/OpenFiles.h"
#include "scan/FolderSpec.h"
#include "scan/KeepRules.h"
#include "scan/Scanner.h"

namespace purgala {

// A number of files and their size in bytes.
struct TFileCount {
    std::size_t count = 0;
    std::uint64_t bytes = 0;

    void Add(std::int64_t size) {
        ++count;
        bytes += Bytes(size);
    }
    void Remove(std::int64_t size) {
        --count;
        bytes -= Bytes(size);
    }
    TFileCount& operator+=(const TFileCount& other) {
        count += other.count;
        bytes += other.bytes;
        return *this;
    }
    TFileCount& operator-=(const TFileCount& other) {
        count -= other.count;
        bytes -= other.bytes;
        return *this;
    }
    friend bool operator==(const TFileCount&, const TFileCount&) = default;
    static std::uint64_t Bytes(std::int64_t size) {
        return size > 0 ? static_cast<std::uint64_t>(size) : 0;
    }
};

// Every file listed, the ones that start checked, and the ones the rules left unchecked.
struct TCheckTotals {
    TFileCount listed, checked, kept;
};

// A consumer that keeps what it was handed can leave the files in use to the end, so that the
// processes are read while the folders are.
class IKeepingConsumer : public IScanConsumer {
public:
    // Every file handed over that a program in `files` holds is to be kept now (its reason set
    // to InUse). Returns the files that this unchecked.
    virtual TFileCount KeepInUse(const TOpenFiles& files) = 0;
};

struct TCheckTempsOptions {
    unsigned readers = 0;         // 0: one per core
    std::int64_t startNanos = 0;  // what "recent" is measured from; 0: now
    // Who would remove the files; the process's own user when empty.
    std::optional<std::uint32_t> user;
    const char* procRoot = "/proc";
    TScanPool::TDisturb disturb;  // for tests
    // Hears the files listed so far by the whole operation.
    TScanProgress progress;
};

struct TCheckTempsResult {
    TCheckTotals totals;
    std::vector<TUnreadableFolder> unreadable;  // in the order they were met
    std::vector<std::size_t> badAges;           // the setups whose age is no whole number
    bool stopped = false;
    std::string stoppedIn;  // the folder being listed when it stopped
    std::shared_ptr<const TOpenFiles> openFiles;
};

class TCheckTemps {
public:
    using Clock = std::chrono::steady_clock;

    // A plain consumer hears of each file once the processes are read, so that a file in use is
    // handed over as such; a keeping consumer hears of files at once and keeps those in use at
    // the end. `consumer` must outlive the operation.
    TCheckTemps(std::vector<TFolderSpec> setups, IScanConsumer& consumer,
                TCheckTempsOptions options = {});
    TCheckTemps(std::vector<TFolderSpec> setups, IKeepingConsumer& consumer,
                TCheckTempsOptions options = {});
    ~TCheckTemps();
    TCheckTemps(const TCheckTemps&) = delete;
    TCheckTemps& operator=(const TCheckTemps&) = delete;

    // Works until every folder is done (true), or `deadline` passed (false; call again). A
    // stopped operation soon says it is done.
    bool Step(Clock::time_point deadline);
    void Run();
    // From any thread: the walk ends after the entry in hand; what was handed over stays.
    void Stop();

    const std::vector<TFolderSpec>& Setups() const { return setups_; }
    // Complete once Step said done.
    const TCheckTempsResult& Result() const { return result_; }
    std::int64_t StartNanos() const { return startNanos_; }
    // Files listed so far, and the folder being listed ("/" ended; empty between folders).
    std::size_t Listed() const;
    std::string CurrentFolder() const;

private:
    class TJudge;

    TCheckTemps(std::vector<TFolderSpec> setups, IScanConsumer& consumer, IKeepingConsumer* keeping,
                TCheckTempsOptions options);
    bool KnowOpenFiles(Clock::time_point deadline);
    void FinishFolder();

    std::vector<TFolderSpec> setups_;
    IKeepingConsumer* keeping_;
    TCheckTempsOptions options_;
    TScanProgress progress_;
    std::int64_t startNanos_;
    TCheckTempsResult result_;
    std::unique_ptr<TJudge> judge_;
    TOpenFilesCollector collector_;
    bool openFilesKnown_ = false;
    TScanPool pool_;  // after what the readers may reach: it joins them first
    std::size_t next_ = 0;
    std::size_t listedBefore_ = 0;  // by the folders done
    std::unique_ptr<TFolderScan> scan_;
    bool done_ = false;
};

}  // namespace purgala
