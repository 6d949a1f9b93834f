#pragma once
// The walk behind "&Check Temps": every matching file below one configured folder, handed to a
// consumer in the order a one-thread depth-first walk gives (a folder's entries in the order the
// folder gives them, a sub-folder's files where its entry is met), however many threads read.
//
// Folders are read by a pool of reader threads, which see nothing but the folder setup: they hand
// over plain records of what they read. The records reach the consumer on the calling thread, in
// slices, so the result never depends on which reader was quicker. No symbolic link is followed
// below the folder, no mount entered, and neither the program file nor the configuration is
// listed. A folder that cannot be opened or read costs only itself, and is named to the consumer.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/FileFacts.h"
#include "scan/FileNodeData.h"
#include "scan/FolderSpec.h"

namespace purgala {

// One matching file, as the walk found it. The references are good for the call only.
struct TListedEntry {
    const TFolderSpec& setup;
    const TScanFolderRef& folder;  // where it lies: the path is folder->PathWith(name)
    std::string_view name;         // raw bytes
    const TFileEntryInfo& info;
    // Its folder: who owns it, and whether only a file's owner, the folder's or root may
    // remove a file there.
    bool stickyFolder = false;
    std::uint32_t folderOwner = 0;
    // Set by the rules (see CheckTemps.h): why the file starts unchecked, None when it does not.
    TKeepReason reason = TKeepReason::None;
};

// A folder that could not be opened or read to its end (no permission, vanished, an I/O error).
struct TUnreadableFolder {
    std::string path;
    int error = 0;
};

// Who hears of the walk: the result tree that the window shows, or a printer or a cleaner that
// keeps nothing per file.
class IScanConsumer {
public:
    virtual ~IScanConsumer() = default;
    // Before anything of the folder is handed over, also when it cannot be read.
    virtual void FolderBegun(const TFolderSpec& setup) = 0;
    virtual void FileListed(const TListedEntry& file) = 0;
    virtual void FolderUnreadable(const TUnreadableFolder& folder) { (void)folder; }
    // After the last of its files, also when the walk was stopped.
    virtual void FolderDone(const TFolderSpec& setup) { (void)setup; }
};

// `progress`, when given, hears of every file handed over and every sub-folder entered: the
// folder being listed (its PathWith({}) ends with "/") and how many files this folder's walk has
// handed over so far. It is called often and must be cheap, so the folder's path is built only
// by a listener that shows it.
using TScanProgress = std::function<void(const TScanFolder& folder, std::size_t listed)>;

// As many readers as there are cores, at least one.
unsigned DefaultScanReaders();

// The reader threads of one command, shared by the folders it walks one after another. Stopping
// is final: every reader leaves what it reads, and the walks end with what they handed over.
class TScanPool {
public:
    // `readers` 0: DefaultScanReaders(). `disturb`, for tests, runs on a reader before it
    // handles an entry, with the entry's name (e.g. a short random sleep).
    using TDisturb = std::function<void(std::string_view name)>;
    explicit TScanPool(unsigned readers = 0, TDisturb disturb = {});
    ~TScanPool();  // stops and joins the readers
    TScanPool(const TScanPool&) = delete;
    TScanPool& operator=(const TScanPool&) = delete;

    unsigned Readers() const;
    // From any thread.
    void Stop();
    bool Stopped() const;

    struct TState;

private:
    friend class TFolderScan;
    std::unique_ptr<TState> state_;
};

struct TJob;

// The walk of one configured folder. The constructor tells the consumer the folder is begun and
// sets the readers going; Step hands over what they read. One walk per pool at a time.
class TFolderScan {
public:
    using Clock = std::chrono::steady_clock;

    // `setup` and `consumer` must outlive the walk.
    TFolderScan(TScanPool& pool, const TFolderSpec& setup, IScanConsumer& consumer);
    ~TFolderScan();  // waits until no reader works for this folder any more
    TFolderScan(const TFolderScan&) = delete;
    TFolderScan& operator=(const TFolderScan&) = delete;

    // Hands over files until the folder is done, or the pool stopped (true), or `deadline`
    // passed (false; call again). The consumer hears FolderDone before it says true.
    bool Step(Clock::time_point deadline, const TScanProgress& progress = {});

    // Files handed over so far.
    std::size_t Listed() const;
    // The folder whose files were being listed last, ending with "/"; empty before the first.
    std::string CurrentFolder() const;

    struct TWalk;

private:
    void Finish();
    // Until `job` is read and worth going on with (true), or `deadline` (false).
    bool WaitFor(TJob& job, Clock::time_point deadline);
    void WakeReaders();

    TScanPool& pool_;
    const TFolderSpec& setup_;
    IScanConsumer& consumer_;
    std::unique_ptr<TWalk> walk_;
    bool finished_ = false;
};

}  // namespace purgala
