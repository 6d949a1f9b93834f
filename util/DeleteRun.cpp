#include "util/DeleteRun.h"

namespace purgala {

void TFailures::Add(const TFileNodeData& data, std::string reason) {
    std::string path = data.FullPath();
    const bool fresh = data.IsScannedFile()
                           ? seen.emplace(data.Stamp().identity, std::string()).second
                           : seen.emplace(TFileIdentity{}, path).second;
    if (fresh) {
        all.emplace_back(std::move(path), std::move(reason));
    }
}

const std::string& TDeleteRun::TFolderPaths::Of(const TResultTree& tree, PVirtualNode folderRow) {
    if (folderRow != row_) {
        row_ = folderRow;
        path_ = tree.GetNodeData(folderRow).FullPath();
    }
    return path_;
}

TDeleteRun::TDeleteRun(TResultTree& tree, bool toTrash)
    : tree_(tree), bracket_(std::in_place, tree), remover_(toTrash), next_(tree.GetLast()) {}

PVirtualNode TDeleteRun::FolderRowOf(PVirtualNode row) const {
    return row.IsTopLevel() ? row : tree_.NodeParent(row);
}

void TDeleteRun::Run() {
    while (!Step(Clock::now() + std::chrono::seconds(1))) {
    }
    EndUpdate();
}

bool TDeleteRun::Step(Clock::time_point deadline) {
    for (;;) {
        if (applied_ < outcomes_.size()) {
            if (!Apply(deadline)) {
                return false;
            }
            continue;
        }
        if (remover_.Running()) {
            // Gathering goes on while the remover works; waiting only once there is no more.
            const bool full =
                gathering_.rows.size() >= batchSize_ || next_ == nullptr || remover_.Stopped();
            if (auto outcomes = remover_.Take(full ? deadline : Clock::time_point::min())) {
                outcomes_ = std::move(*outcomes);
                applied_ = 0;
                applying_ = std::move(removing_);
                // The remover goes on with the next batch while this one is applied.
                if (full && !remover_.Stopped() && !gathering_.rows.empty()) {
                    StartGathered();
                }
                continue;
            }
            if (full) {
                return false;
            }
        }
        if (remover_.Stopped()) {
            return !remover_.Running();
        }
        if (!remover_.Running() && !gathering_.rows.empty() &&
            (gathering_.rows.size() >= batchSize_ || next_ == nullptr)) {
            StartGathered();
            continue;
        }
        if (next_ == nullptr) {
            return !remover_.Running() && gathering_.rows.empty();
        }
        if (!Gather(deadline)) {
            return false;
        }
    }
}

void TDeleteRun::StartGathered() {
    removing_ = std::move(gathering_.rows);
    remover_.Start(std::move(gathering_.files));
    gathering_ = {};
    batchSize_ = std::min(batchSize_ * 2, kLargestBatch);
}

bool TDeleteRun::Gather(Clock::time_point deadline) {
    for (std::size_t n = 1; next_ != nullptr && gathering_.rows.size() < batchSize_; ++n) {
        if (n % 64 == 0 && Clock::now() >= deadline) {
            return false;
        }
        const PVirtualNode row = next_;
        // Taken before the row may go; rows above it are not deleted before they are tried.
        next_ = tree_.GetPrevious(row);
        if (row.IsTopLevel() || tree_.CheckState(row) != TCheckState::Checked) {
            continue;
        }
        const TFileNodeData& data = tree_.GetNodeData(row);
        gathering_.rows.push_back(row);
        gathering_.files.push_back({folderPaths_.Of(tree_, FolderRowOf(row)), data.FullPath(),
                                    data.FolderIdentity(), data.Stamp()});
    }
    return true;
}

bool TDeleteRun::Apply(Clock::time_point deadline) {
    while (applied_ < outcomes_.size()) {
        const PVirtualNode row = applying_[applied_];
        TDeleteOutcome& outcome = outcomes_[applied_];
        ++applied_;
        if (outcome.result == TDeleteResult::Untried) {
            continue;  // stopped before it: the row stays as it is
        }
        const std::string& folder = appliedPaths_.Of(tree_, FolderRowOf(row));
        if (onOutcome) {
            onOutcome(row, folder, outcome.result);
        }
        if (outcome.result == TDeleteResult::Failed) {
            // Still on disk, so the row stays, checked, for another try.
            failures_.Add(tree_.GetNodeData(row), std::move(outcome.reason));
        } else {
            tree_.DeleteNode(row);
        }
        if (applied_ % 64 == 0 && Clock::now() >= deadline) {
            return false;
        }
    }
    return true;
}

}  // namespace purgala
