// "&Delete": the files of the checked file rows go from disk, or to the trash when the user chose
// so, and their rows from the tree.
#include <algorithm>
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
#include "util/DeleteDiskFile.h"
#include "util/FileUtils.h"
#include "util/TrashFile.h"

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

    TFailures failures;
    TFileTotals freed;
    TFileTotals trashed;
    {
        TUpdateBracket bracket(*VT);
        std::optional<TDiskFileDeleter> deleter;
        std::optional<TTrashMover> mover;
        if (toTrash) {
            mover.emplace();
        } else {
            deleter.emplace();
        }
        TFolderPaths folderPaths;
        TProgressReporter progress(*SBPanel0);
        const std::size_t toDelete = checked_.count;
        std::size_t done = 0;
        // From the last row up, taking the previous row before this one may go.
        for (PVirtualNode row = VT->GetLast(); row != nullptr;) {
            const PVirtualNode previous = VT->GetPrevious(row);
            if (VT->GetNodeLevel(row) > 0 && VT->CheckState(row) == TCheckState::Checked) {
                const TFileNodeData& data = VT->GetNodeData(row);
                const std::string& folder = folderPaths.Of(*VT, FolderRowOf(*VT, row));
                TDeleteOutcome outcome;
                if (data.IsScannedFile()) {
                    const std::string path = data.FullPath();
                    const TListedFile listed{folder, path, data.FolderIdentity(), data.Stamp()};
                    outcome =
                        toTrash ? mover->MoveToTrash(listed) : deleter->DeleteDiskFile(listed);
                } else {
                    // Without the identity the scan records, the entry could be anything.
                    outcome.reason = "it was not listed by a scan";
                }
                const std::uint64_t bytes = RowBytes(*VT, row);
                if (outcome.result == TDeleteResult::Failed) {
                    // Still on disk, so the row stays, checked, for another try.
                    failures.Add(data, std::move(outcome.reason));
                } else {
                    if (outcome.result == TDeleteResult::Deleted) {
                        freed.Add(bytes);
                    } else if (outcome.result == TDeleteResult::Trashed) {
                        trashed.Add(bytes);
                    }
                    listed_.Remove(bytes);
                    checked_.Remove(bytes);
                    VT->DeleteNode(row);
                }
                ++done;
                progress.Step([&] {
                    return (toTrash ? tr("Moving to the trash from %1: %2 of %3 done")
                                    : tr("Deleting in %1: %2 of %3 done"))
                        .arg(DecodeFileName(folder), CountText(done), CountText(toDelete));
                });
            }
            row = previous;
        }
    }
    if (toTrash) {
        // The space is freed only when the trash is emptied.
        ShowTotals(tr("%1 moved to the trash (%2), no space freed yet")
                       .arg(FilesText(trashed.count),
                            TFACtrl::SizeText(static_cast<double>(trashed.bytes))));
    } else {
        ShowTotals(
            tr("%1 deleted, %2 freed")
                .arg(FilesText(freed.count), TFACtrl::SizeText(static_cast<double>(freed.bytes))));
    }
    if (!failures.all.empty()) {
        ReportFailures(this, failures, toTrash);
    }
}

}  // namespace purgala
