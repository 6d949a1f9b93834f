// "&Delete": the files of the checked file rows go from disk, or to the trash when the user chose
// so, and their rows from the tree.
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/Progress.h"
#include "app/uMain.h"
#include "config/Config.h"
#include "platform/Dialogs.h"
#include "platform/FileNames.h"
#include "scan/FACtrl.h"
#include "util/FileRemover.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

// How many failed files the closing message names; its details list them all.
constexpr std::size_t kNamedFailures = 5;

// One entry per file, however many rows listed it: the same file met under two configured
// folders fails twice for the same reason.
struct TFailures {
    std::vector<std::pair<std::string, std::string>> all;  // path, reason, in the order tried
    std::set<std::pair<TFileIdentity, std::string>> seen;  // file, and its path if unscanned

    void Add(const TFileNodeData& data, std::string reason) {
        std::string path = data.FullPath();
        const bool fresh = data.IsScannedFile()
                               ? seen.emplace(data.Stamp().identity, std::string()).second
                               : seen.emplace(TFileIdentity{}, path).second;
        if (fresh) {
            all.emplace_back(std::move(path), std::move(reason));
        }
    }
};

// The configured folder of the last folder row asked for: consecutive rows share it.
class TFolderPaths {
public:
    const std::string& Of(TVirtualStringTree& tree, PVirtualNode folderRow) {
        if (folderRow != row_) {
            row_ = folderRow;
            path_ = tree.GetNodeData(folderRow).FullPath();
        }
        return path_;
    }
    const std::string& Last() const { return path_; }

private:
    PVirtualNode row_ = nullptr;
    std::string path_;
};

PVirtualNode FolderRowOf(const TVirtualStringTree& tree, PVirtualNode row) {
    while (PVirtualNode parent = tree.NodeParent(row)) {
        row = parent;
    }
    return row;
}

// "path: reason", appended to `text`.
void AppendFailure(QString& text, const std::pair<std::string, std::string>& failure) {
    text += DecodeFileName(failure.first);
    text += QLatin1String(": ");
    text += QString::fromStdString(failure.second);
}

// The first few failures in the text, every one of them in the details, where they can be read
// and copied however many there are.
void ReportFailures(QWidget* parent, const TFailures& failures, bool toTrash) {
    const std::size_t count = failures.all.size();
    QString text;
    if (toTrash) {
        text = count == 1 ? TFMMain::tr("1 file could not be moved to the trash:")
                          : TFMMain::tr("%1 files could not be moved to the trash:").arg(count);
    } else {
        text = count == 1 ? TFMMain::tr("1 file could not be deleted:")
                          : TFMMain::tr("%1 files could not be deleted:").arg(count);
    }
    text += '\n';
    for (std::size_t i = 0; i < std::min(count, kNamedFailures); ++i) {
        text += '\n';
        AppendFailure(text, failures.all[i]);
    }
    if (count > kNamedFailures) {
        text += '\n' + TFMMain::tr("and %1 more.").arg(count - kNamedFailures);
    }
    QString details;
    // One growing text, not a list of lines joined later: 100,000 failures stay quick.
    std::size_t guess = 0;
    for (const auto& [path, reason] : failures.all) {
        guess += path.size() + reason.size() + 3;
    }
    details.reserve(static_cast<qsizetype>(guess));
    for (const auto& failure : failures.all) {
        if (!details.isEmpty()) {
            details += '\n';
        }
        AppendFailure(details, failure);
    }
    TMessageRequest message;
    message.parent = parent;
    message.text = text;
    message.detailedText = details;
    message.caption = TFMMain::tr("Warning");
    message.icon = QMessageBox::Warning;
    message.buttons = QMessageBox::Ok;
    ShowMessage(message);
}

// The checked file rows, from the last up, handed to a remover in batches: while one batch is
// removed on its thread, the next is gathered here, and the outcomes of the last are applied to
// the rows. Each step ends by its deadline, so that the window's events have their turn. The rows
// of removed files leave the view when the run ends: every removal of rows lays out the whole
// view again, which a million rows would pay for at every step.
class TDeleteRun {
public:
    using Clock = std::chrono::steady_clock;

    TDeleteRun(TVirtualStringTree& tree, bool toTrash)
        : tree_(tree), bracket_(std::in_place, tree), remover_(toTrash), next_(tree.GetLast()) {}

    // Called for each row tried, before a row whose file went is deleted.
    std::function<void(PVirtualNode row, const std::string& folder, TDeleteResult)> onOutcome;

    // True once every checked row was tried, or the rows tried when stopped are applied.
    bool Step(Clock::time_point deadline);
    void Stop() { remover_.Stop(); }
    // The view shows what is left.
    void EndUpdate() { bracket_.reset(); }
    const TFailures& Failures() const { return failures_; }
    // The configured folder of the row tried last.
    const std::string& LastFolder() const { return appliedPaths_.Last(); }

private:
    struct TBatch {
        std::vector<PVirtualNode> rows;
        std::vector<TRemoval> removals;
    };
    // Small at first, so that the first rows go at once; larger later, for fewer hand-overs.
    static constexpr std::size_t kFirstBatch = 64;
    static constexpr std::size_t kLargestBatch = 4096;

    void StartGathered();
    bool Gather(Clock::time_point deadline);
    bool Apply(Clock::time_point deadline);

    TVirtualStringTree& tree_;
    std::optional<TUpdateBracket> bracket_;
    TFileRemover remover_;
    TFolderPaths folderPaths_;   // of the rows gathered
    TFolderPaths appliedPaths_;  // of the rows applied
    PVirtualNode next_;          // the row to look at next, going up; rows below it are gathered
    std::size_t batchSize_ = kFirstBatch;
    TBatch gathering_;
    std::vector<PVirtualNode> removing_;    // the rows of the batch the remover has
    std::vector<PVirtualNode> applying_;    // the rows of the batch it finished
    std::vector<TDeleteOutcome> outcomes_;  // of `applying_`, applied up to `applied_`
    std::size_t applied_ = 0;
    TFailures failures_;
};

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
    remover_.Start(std::move(gathering_.removals));
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
        if (tree_.GetNodeLevel(row) == 0 || tree_.CheckState(row) != TCheckState::Checked) {
            continue;
        }
        const TFileNodeData& data = tree_.GetNodeData(row);
        gathering_.rows.push_back(row);
        gathering_.removals.push_back({folderPaths_.Of(tree_, FolderRowOf(tree_, row)),
                                       data.FullPath(), data.FolderIdentity(), data.Stamp(),
                                       data.IsScannedFile()});
    }
    return true;
}

bool TDeleteRun::Apply(Clock::time_point deadline) {
    while (applied_ < outcomes_.size()) {
        const PVirtualNode row = applying_[applied_];
        TDeleteOutcome& outcome = outcomes_[applied_];
        ++applied_;
        const std::string& folder = appliedPaths_.Of(tree_, FolderRowOf(tree_, row));
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

}  // namespace

QString TFMMain::CheckedSummary() const {
    TFileTotals checked;
    std::size_t folders = 0;
    for (PVirtualNode folder = VT->GetFirstChild(nullptr); folder != nullptr;
         folder = VT->GetNextSibling(folder)) {
        const std::size_t before = checked.count;
        for (PVirtualNode row = VT->GetFirstChild(folder); row != nullptr;
             row = VT->GetNextSibling(row)) {
            if (VT->CheckState(row) == TCheckState::Checked) {
                checked.Add(RowBytes(*VT, row));
            }
        }
        folders += checked.count > before ? 1 : 0;
    }
    if (checked.count == 0) {
        return tr("No file is checked.");
    }
    return tr("%1 checked in %2, %3 in all.")
        .arg(FilesText(checked.count),
             folders == 1 ? tr("1 folder") : tr("%1 folders").arg(CountText(folders)),
             TFACtrl::SizeText(static_cast<double>(checked.bytes)));
}

void TFMMain::btnOpenFolderClick() {
    if (Busy()) {
        return;
    }
    BeginCommand();
    const bool toTrash = GetConfig().GetRoot()->GetTrash();
    TMessageRequest question;
    question.parent = this;
    question.text = tr("Are you sure to delete the files from disk?");
    question.caption = tr("Warning");
    question.icon = QMessageBox::Question;
    question.buttons = QMessageBox::Yes | QMessageBox::No;
    question.informativeText = CheckedSummary();
    if (toTrash) {
        question.informativeText += '\n' + tr("They will be moved to the trash.");
    }
    if (ShowMessage(question) == QMessageBox::No) {
        return;
    }
    RedrawAfterQuestion();

    TDeleteRun run(*VT, toTrash);
    TProgressReporter progress(*SBPanel0);
    const std::size_t toDelete = checked_.count;
    std::size_t done = 0;
    TFileTotals freed;
    TFileTotals trashed;
    run.onOutcome = [&](PVirtualNode row, const std::string& folder, TDeleteResult result) {
        const std::uint64_t bytes = RowBytes(*VT, row);
        if (result == TDeleteResult::Deleted) {
            freed.Add(bytes);
        } else if (result == TDeleteResult::Trashed) {
            trashed.Add(bytes);
        }
        if (result != TDeleteResult::Failed) {
            listed_.Remove(bytes);
            checked_.Remove(bytes);
        }
        ++done;
        progress.Step([&] {
            return (toTrash ? tr("Moving to the trash from %1: %2 of %3 done")
                            : tr("Deleting in %1: %2 of %3 done"))
                .arg(DecodeFileName(folder), CountText(done), CountText(toDelete));
        });
    };
    const bool stopped = RunLong(
        *btnOpenFolder, [&](TDeleteRun::Clock::time_point deadline) { return run.Step(deadline); },
        [&run] { run.Stop(); });
    run.EndUpdate();
    QString lead;
    if (toTrash) {
        // The space is freed only when the trash is emptied.
        lead = tr("%1 moved to the trash (%2), no space freed yet")
                   .arg(FilesText(trashed.count),
                        TFACtrl::SizeText(static_cast<double>(trashed.bytes)));
    } else {
        lead =
            tr("%1 deleted, %2 freed")
                .arg(FilesText(freed.count), TFACtrl::SizeText(static_cast<double>(freed.bytes)));
    }
    if (stopped) {
        lead = (toTrash ? tr("Stopped while moving to the trash from %1; %2")
                        : tr("Stopped while deleting in %1; %2"))
                   .arg(DecodeFileName(run.LastFolder()), lead);
    }
    ShowTotals(lead);
    if (!run.Failures().all.empty()) {
        ReportFailures(this, run.Failures(), toTrash);
    }
}

}  // namespace purgala
