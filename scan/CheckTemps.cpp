#include "scan/CheckTemps.h"

#include <unistd.h>

#include <utility>

namespace purgala {

namespace {

std::int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// Stands between the walk and the consumer: judges each file by the rules and keeps the totals.
class TCheckTemps::TJudge : public IScanConsumer {
public:
    TJudge(TCheckTemps& run, IScanConsumer& consumer, std::uint32_t user)
        : run_(run), consumer_(consumer), user_(user) {}

    void FolderBegun(const TFolderSpec& setup) override { consumer_.FolderBegun(setup); }

    void FileListed(const TListedEntry& file) override {
        TListedEntry judged = file;
        judged.reason = ReasonOf(file);
        TCheckTotals& totals = run_.result_.totals;
        totals.listed.Add(file.info.size);
        (judged.reason == TKeepReason::None ? totals.checked : totals.kept).Add(file.info.size);
        consumer_.FileListed(judged);
    }

    void FolderUnreadable(const TUnreadableFolder& folder) override {
        run_.result_.unreadable.push_back(folder);
        consumer_.FolderUnreadable(folder);
    }

    void FolderDone(const TFolderSpec& setup) override { consumer_.FolderDone(setup); }

private:
    // The first rule that holds, in the order of what the user can least change: another
    // user's file stays whatever the user checks, a program lets go of a file in its time, and
    // a file ages on its own.
    TKeepReason ReasonOf(const TListedEntry& file) const {
        if (MayNotRemove(file.stickyFolder, file.folderOwner, file.info.owner, user_)) {
            return TKeepReason::NotYours;
        }
        const TOpenFiles* open = run_.result_.openFiles.get();
        if (open != nullptr && open->Contains({file.info.device, file.info.inode})) {
            return TKeepReason::InUse;
        }
        return AgeReasonOf(file.setup, run_.startNanos_, file.info);
    }

    TCheckTemps& run_;
    IScanConsumer& consumer_;
    std::uint32_t user_;
};

TCheckTemps::TCheckTemps(std::vector<TFolderSpec> setups, IScanConsumer& consumer,
                         TCheckTempsOptions options)
    : TCheckTemps(std::move(setups), consumer, nullptr, std::move(options)) {}

TCheckTemps::TCheckTemps(std::vector<TFolderSpec> setups, IKeepingConsumer& consumer,
                         TCheckTempsOptions options)
    : TCheckTemps(std::move(setups), consumer, &consumer, std::move(options)) {}

TCheckTemps::TCheckTemps(std::vector<TFolderSpec> setups, IScanConsumer& consumer,
                         IKeepingConsumer* keeping, TCheckTempsOptions options)
    : setups_(std::move(setups)),
      keeping_(keeping),
      options_(std::move(options)),
      startNanos_(options_.startNanos != 0 ? options_.startNanos : NowNanos()),
      judge_(std::make_unique<TJudge>(
          *this, consumer, options_.user.value_or(static_cast<std::uint32_t>(::geteuid())))),
      collector_(options_.procRoot),
      pool_(options_.readers, options_.disturb) {
    if (options_.progress) {
        // The listener hears the count of the whole operation.
        progress_ = [this](const TScanFolder& folder, std::size_t listed) {
            options_.progress(folder, listedBefore_ + listed);
        };
    }
    // The processes are read while the folders are.
    collector_.StartHelper();
}

TCheckTemps::~TCheckTemps() {
    // No reader may outlive the folder it reads for.
    scan_.reset();
}

void TCheckTemps::Stop() {
    pool_.Stop();
}

std::size_t TCheckTemps::Listed() const {
    return listedBefore_ + (scan_ ? scan_->Listed() : 0);
}

std::string TCheckTemps::CurrentFolder() const {
    return scan_ ? scan_->CurrentFolder() : std::string();
}

bool TCheckTemps::KnowOpenFiles(Clock::time_point deadline) {
    if (openFilesKnown_) {
        return true;
    }
    if (!collector_.Finish(deadline)) {
        return false;
    }
    result_.openFiles = std::make_shared<const TOpenFiles>(collector_.Take());
    openFilesKnown_ = true;
    return true;
}

void TCheckTemps::FinishFolder() {
    if (pool_.Stopped()) {
        result_.stopped = true;
        result_.stoppedIn = scan_->CurrentFolder();
        if (result_.stoppedIn.empty()) {
            result_.stoppedIn = setups_[next_ - 1].path;
        }
    }
    listedBefore_ += scan_->Listed();
    scan_.reset();
}

bool TCheckTemps::Step(Clock::time_point deadline) {
    if (done_) {
        return true;
    }
    while (next_ < setups_.size() || scan_) {
        if (!scan_) {
            if (pool_.Stopped()) {
                result_.stopped = true;
                if (result_.stoppedIn.empty()) {
                    result_.stoppedIn = setups_[next_].path;
                }
                break;
            }
            if (setups_[next_].badAge) {
                result_.badAges.push_back(next_);
            }
            // The readers go at once; a plain consumer waits for the open files meanwhile.
            scan_ = std::make_unique<TFolderScan>(pool_, setups_[next_++], *judge_);
        }
        if (keeping_ == nullptr && !pool_.Stopped() && !KnowOpenFiles(deadline)) {
            return false;
        }
        if (!scan_->Step(deadline, progress_)) {
            return false;
        }
        FinishFolder();
        if (Clock::now() >= deadline) {
            return false;
        }
    }
    if (keeping_ != nullptr) {
        // Also after a stop: the rows made so far must not offer a file in use.
        if (!KnowOpenFiles(deadline)) {
            return false;
        }
        const TFileCount kept = keeping_->KeepInUse(*result_.openFiles);
        result_.totals.checked -= kept;
        result_.totals.kept += kept;
    }
    done_ = true;
    return true;
}

void TCheckTemps::Run() {
    while (!Step(Clock::time_point::max())) {
    }
}

}  // namespace purgala
