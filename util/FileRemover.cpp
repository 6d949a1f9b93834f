#include "util/FileRemover.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <string_view>
#include <thread>
#include <utility>

namespace purgala {

TFileRemover::TFileRemover(bool toTrash, unsigned workers) {
    if (toTrash) {
        mover_.emplace();
    } else {
        deleters_.resize(std::max(1u, workers));
    }
}

TFileRemover::~TFileRemover() {
    Stop();
    if (running_.valid()) {
        running_.wait();
    }
}

void TFileRemover::Start(std::vector<TListedFile> batch) {
    batch_ = std::move(batch);
    running_ = std::async(std::launch::async, [this] { return Remove(batch_); });
}

std::optional<std::vector<TDeleteOutcome>> TFileRemover::Take(Clock::time_point deadline) {
    if (!running_.valid() || running_.wait_until(deadline) != std::future_status::ready) {
        return std::nullopt;
    }
    return running_.get();
}

TDeleteOutcome TFileRemover::RemoveOne(const TListedFile& file, TDiskFileDeleter* deleter) {
    if (file.folderIdentity.inode == 0) {
        return {TDeleteResult::Failed, "it was not listed by a scan"};
    }
    return deleter != nullptr ? deleter->DeleteDiskFile(file) : mover_->MoveToTrash(file);
}

std::vector<TDeleteOutcome> TFileRemover::Remove(const std::vector<TListedFile>& batch) {
    if (deleters_.size() > 1 && batch.size() > 1) {
        return RemoveShared(batch);
    }
    TDiskFileDeleter* deleter = deleters_.empty() ? nullptr : &deleters_.front();
    std::vector<TDeleteOutcome> outcomes;
    outcomes.reserve(batch.size());
    for (const TListedFile& file : batch) {
        if (Stopped()) {
            break;
        }
        outcomes.push_back(RemoveOne(file, deleter));
    }
    return outcomes;
}

namespace {

// At most this many files of one folder go to a worker at once.
constexpr std::size_t kShare = 64;

std::string_view FolderPart(const std::string& fullPath) {
    const std::size_t slash = fullPath.rfind('/');
    return std::string_view(fullPath).substr(0, slash == std::string::npos ? 0 : slash);
}

}  // namespace

std::vector<TDeleteOutcome> TFileRemover::RemoveShared(const std::vector<TListedFile>& batch) {
    // The batch in shares: consecutive files of one folder, which a worker finds through one
    // open folder.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (starts.empty() || i - starts.back() >= kShare ||
            FolderPart(batch[i].fullPath) != FolderPart(batch[i - 1].fullPath)) {
            starts.push_back(i);
        }
    }
    starts.push_back(batch.size());
    const std::size_t shares = starts.size() - 1;
    std::vector<TDeleteOutcome> outcomes(batch.size(), TDeleteOutcome{TDeleteResult::Untried, {}});
    // Each worker starts on a stretch of shares of its own, far from the others, since two
    // removing in one folder wait for each other; then it helps with the stretches left.
    const std::size_t workers = std::min(deleters_.size(), shares);
    struct TStretch {
        std::atomic<std::size_t> next;
        std::size_t end;
    };
    std::vector<TStretch> stretches(workers);
    for (std::size_t w = 0; w < workers; ++w) {
        stretches[w].next = shares * w / workers;
        stretches[w].end = shares * (w + 1) / workers;
    }
    const auto work = [&](std::size_t first) {
        TDiskFileDeleter& deleter = deleters_[first];
        for (std::size_t k = 0; k < workers; ++k) {
            TStretch& stretch = stretches[(first + k) % workers];
            for (std::size_t share; (share = stretch.next++) < stretch.end;) {
                for (std::size_t i = starts[share]; i < starts[share + 1]; ++i) {
                    if (Stopped()) {
                        return;
                    }
                    // Each slot is written by the one worker that took its share.
                    try {
                        outcomes[i] = RemoveOne(batch[i], &deleter);
                    } catch (const std::exception& e) {
                        outcomes[i] = {TDeleteResult::Failed, e.what()};
                    }
                }
            }
        }
    };
    {
        std::vector<std::jthread> helpers;
        try {
            for (std::size_t w = 1; w < workers; ++w) {
                helpers.emplace_back(work, w);
            }
        } catch (const std::exception&) {
            // Fewer threads than asked for: the first worker still goes through every stretch.
        }
        work(0);
    }  // joined
    while (!outcomes.empty() && outcomes.back().result == TDeleteResult::Untried) {
        outcomes.pop_back();
    }
    return outcomes;
}

}  // namespace purgala
