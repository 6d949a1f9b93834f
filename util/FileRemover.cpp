#include "util/FileRemover.h"

#include <utility>

namespace purgala {

TFileRemover::TFileRemover(bool toTrash) {
    if (toTrash) {
        mover_.emplace();
    } else {
        deleter_.emplace();
    }
}

TFileRemover::~TFileRemover() {
    Stop();
    if (running_.valid()) {
        running_.wait();
    }
}

void TFileRemover::Start(std::vector<TListedFile> batch) {
    running_ =
        std::async(std::launch::async, [this, batch = std::move(batch)] { return Remove(batch); });
}

std::optional<std::vector<TDeleteOutcome>> TFileRemover::Take(Clock::time_point deadline) {
    if (!running_.valid() || running_.wait_until(deadline) != std::future_status::ready) {
        return std::nullopt;
    }
    return running_.get();
}

std::vector<TDeleteOutcome> TFileRemover::Remove(const std::vector<TListedFile>& batch) {
    std::vector<TDeleteOutcome> outcomes;
    outcomes.reserve(batch.size());
    for (const TListedFile& file : batch) {
        if (Stopped()) {
            break;
        }
        if (file.folderIdentity.inode == 0) {
            outcomes.push_back({TDeleteResult::Failed, "it was not listed by a scan"});
            continue;
        }
        outcomes.push_back(mover_ ? mover_->MoveToTrash(file) : deleter_->DeleteDiskFile(file));
    }
    return outcomes;
}

}  // namespace purgala
