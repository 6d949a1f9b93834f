// "&Delete": the files of the checked file rows go from disk, or to the trash when the user chose
// so, and their rows from the tree.
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
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
#include "scan/ShownTexts.h"
#include "util/DeleteRun.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

// How many failed files the closing message names; its details list them all.
constexpr std::size_t kNamedFailures = 5;

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
    TFileCount checked;
    std::size_t folders = 0;
    for (PVirtualNode folder = VT->GetFirstChild(nullptr); folder != nullptr;
         folder = VT->GetNextSibling(folder)) {
        const std::size_t before = checked.count;
        for (PVirtualNode row = VT->GetFirstChild(folder); row != nullptr;
             row = VT->GetNextSibling(row)) {
            if (VT->CheckState(row) == TCheckState::Checked) {
                checked.Add(VT->GetNodeData(row).Size());
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

    TDeleteRun run(VT->Rows(), toTrash);
    TProgressReporter progress(*SBPanel0);
    const std::size_t toDelete = totals_.checked.count;
    std::size_t done = 0;
    TFileCount freed;
    TFileCount trashed;
    run.onOutcome = [&](PVirtualNode row, const std::string& folder, TDeleteResult result) {
        const std::int64_t size = VT->GetNodeData(row).Size();
        if (result == TDeleteResult::Deleted) {
            freed.Add(size);
        } else if (result == TDeleteResult::Trashed) {
            trashed.Add(size);
        }
        if (result != TDeleteResult::Failed) {
            totals_.listed.Remove(size);
            totals_.checked.Remove(size);
        }
        ++done;
        progress.Step([&] {
            return (toTrash ? tr("Moving to the trash from %1: %2 of %3 done")
                            : tr("Deleting in %1: %2 of %3 done"))
                .arg(DecodeFileName(folder), CountText(done), CountText(toDelete));
        });
    };
    const bool stopped = RunLong(
        btnOpenFolder, [&](TDeleteRun::Clock::time_point deadline) { return run.Step(deadline); },
        [&run] { run.Stop(); });
    run.EndUpdate();
    QString lead = RemovedText(toTrash ? trashed : freed, toTrash);
    if (stopped) {
        lead = StoppedRemovingText(run.LastFolder(), toTrash, lead);
    }
    ShowTotals(lead);
    if (!run.Failures().all.empty()) {
        ReportFailures(this, run.Failures(), toTrash);
    }
}

}  // namespace purgala
