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

    // `workers` threads share a batch that goes from disk, each taking the files of one folder
    // at a time, so that they seldom wait for the same folder; the trash takes one.
    explicit TFileRemover(bool toTrash, unsigned workers = 1);
    ~TFileRemover();  // stops, and waits for the file in hand
    TFileRemover(const TFileRemover&) = delete;
    TFileRemover& operator=(const TFileRemover&) = delete;

    // Starts removing `batch` on another thread. The batch started before must have been taken.
    void Start(std::vector<TListedFile> batch);
    bool Running() const { return running_.valid(); }
    // The batch started last, for reading its files beside the outcomes once they are taken.
    const std::vector<TListedFile>& Batch() const { return batch_; }
    // Once the batch started last is done, or by `deadline`: the outcomes in the batch's order.
    // When it was stopped they end early, and with several workers files between those tried
    // may be Untried.
    std::optional<std::vector<TDeleteOutcome>> Take(Clock::time_point deadline);
    // The files in hand are finished; no other file is tried.
    void Stop() { stop_ = true; }
    // The same once `flag` is set, which a signal handler may set: no other thread need pass it
    // on. `flag` must outlive the remover.
    void StopWhen(const std::atomic<bool>& flag) { outsideStop_ = &flag; }
    bool Stopped() const { return stop_ || (outsideStop_ != nullptr && *outsideStop_); }

private:
    std::vector<TDeleteOutcome> Remove(const std::vector<TListedFile>& batch);
    std::vector<TDeleteOutcome> RemoveShared(const std::vector<TListedFile>& batch);
    TDeleteOutcome RemoveOne(const TListedFile& file, TDiskFileDeleter* deleter);

    // Used by one batch at a time; a deleter by one thread at a time.
    std::vector<TDiskFileDeleter> deleters_;
    std::optional<TTrashMover> mover_;
    std::vector<TListedFile> batch_;  // the remover's own while it runs
    std::atomic<bool> stop_{false};
    const std::atomic<bool>* outsideStop_ = nullptr;
    std::future<std::vector<TDeleteOutcome>> running_;
};

}  // namespace purgala
