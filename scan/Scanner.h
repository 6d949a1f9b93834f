#pragma once
// The folder scan behind "&Check Temps": one folder row per configured folder and under it one
// checked row per matching file found anywhere below that folder.
//
// Folders are read by a pool of reader threads, which see neither the tree nor its rows: they
// hand over plain records of what they read. The rows are made on the calling (GUI) thread, in
// slices, in the order a one-thread depth-first walk gives, so the result never depends on which
// reader was quicker.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/VirtualTree.h"
#include "scan/FileNodeData.h"
#include "scan/KeepRules.h"

namespace purgala {

// `progress`, when given, hears of every row made and every sub-folder entered: the folder being
// listed (its PathWith({}) ends with "/") and how many files this folder's scan has listed so far.
// It is called often and must be cheap, so the folder's path is built only by a listener that
// shows it.
using TScanProgress = std::function<void(const TScanFolder& folder, std::size_t listed)>;

// As many readers as there are cores, at least one.
unsigned DefaultScanReaders();

// The reader threads of one command, shared by the folders it scans one after another. Stopping
// is final: every reader leaves what it reads, and the scans end with the rows made so far.
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

// The scan of one configured folder. The constructor appends the folder row at the end of the
// tree's top level; Step adds a checked child row for every file below the folder whose
// extension equals `ext` in any ASCII letter case (every file, hidden ones too, when `ext` is
// empty), a sub-folder's files where the sub-folder's entry is met. No symbolic link is followed
// below the folder, no mount entered, and neither the program file nor the configuration is
// listed. A folder that cannot be read, or vanishes, simply gets no file rows. The rows reach the
// display about once a second, the folder row expanded the first time, and when the folder is
// done: each time, the view lays out all its rows again.
// `keep`, when given, is the folder's age rule: a file it keeps is listed unchecked, with the
// reason in its row. It must outlive the scan.
class TFolderScan {
public:
    using Clock = std::chrono::steady_clock;

    // The file rows made so far: all of them, the checked ones, the ones the age rule kept.
    struct TTotals {
        std::size_t listed = 0, checked = 0, kept = 0;
        std::uint64_t listedBytes = 0, checkedBytes = 0, keptBytes = 0;
    };

    TFolderScan(TScanPool& pool, TVirtualStringTree& tree, std::string_view folderPath,
                std::string_view ext, const TFolderKeep* keep = nullptr);
    ~TFolderScan();  // waits until no reader works for this folder any more
    TFolderScan(const TFolderScan&) = delete;
    TFolderScan& operator=(const TFolderScan&) = delete;

    // Makes rows until the folder is done, or the pool stopped (true), or `deadline` passed
    // (false; call again).
    bool Step(Clock::time_point deadline, const TScanProgress& progress = {});

    PVirtualNode FolderRow() const { return row_; }
    const TTotals& Totals() const { return totals_; }
    // The folder whose files were being listed last, ending with "/"; empty before the first.
    std::string CurrentFolder() const;

    struct TWalk;

private:
    static constexpr std::chrono::seconds kShowEvery{1};

    void Show();
    void Finish();

    TScanPool& pool_;
    TVirtualStringTree& tree_;
    const TFolderKeep* keep_;
    PVirtualNode row_ = nullptr;
    std::unique_ptr<TWalk> walk_;
    TTotals totals_;
    Clock::time_point shown_ = Clock::now();
    bool expanded_ = false;
    bool finished_ = false;
};

// The whole scan of one folder at once, on a pool of its own.
void ScanFolder(TVirtualStringTree& tree, std::string_view folderPath, std::string_view ext,
                const TScanProgress& progress = {}, const TFolderKeep* keep = nullptr);
// The same on a pool the caller made.
void ScanFolder(TScanPool& pool, TVirtualStringTree& tree, std::string_view folderPath,
                std::string_view ext, const TScanProgress& progress = {},
                const TFolderKeep* keep = nullptr);

}  // namespace purgala
