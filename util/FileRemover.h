#pragma once
// Removing listed files off the calling thread: from disk or to the trash, a batch at a time, on
// a thread of its own. The batch owns its paths, and one outcome per file comes back by value;
// the rows stay with whoever keeps them.

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "util/DeleteDiskFile.h"
#include "util/TrashFile.h"

namespace purgala {

class TFileRemover {
public:
    using Clock = std::chrono::steady_clock;

    explicit TFileRemover(bool toTrash);
    ~TFileRemover();  // stops, and waits for the file in hand
    TFileRemover(const TFileRemover&) = delete;
    TFileRemover& operator=(const TFileRemover&) = delete;

    // Starts removing `batch` on another thread. The batch started before must have been taken.
    void Start(std::vector<TListedFile> batch);
    bool Running() const { return running_.valid(); }
    // Once the batch started last is done, or by `deadline`: one outcome for each file tried, in
    // the batch's order; fewer than the batch has when it was stopped.
    std::optional<std::vector<TDeleteOutcome>> Take(Clock::time_point deadline);
    // The file in hand is finished; no other file is tried.
    void Stop() { stop_ = true; }
    // The same once `flag` is set, which a signal handler may set: no other thread need pass it
    // on. `flag` must outlive the remover.
    void StopWhen(const std::atomic<bool>& flag) { outsideStop_ = &flag; }
    bool Stopped() const { return stop_ || (outsideStop_ != nullptr && *outsideStop_); }

private:
    std::vector<TDeleteOutcome> Remove(const std::vector<TListedFile>& batch);

    // Used by one batch at a time, so by one thread at a time.
    std::optional<TDiskFileDeleter> deleter_;
    std::optional<TTrashMover> mover_;
    std::atomic<bool> stop_{false};
    const std::atomic<bool>* outsideStop_ = nullptr;
    std::future<std::vector<TDeleteOutcome>> running_;
};

}  // namespace purgala
