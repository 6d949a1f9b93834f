#include "scan/ResultRows.h"

#include <string>

#include "util/FileUtils.h"

namespace purgala {

TResultRows::~TResultRows() {
    EndFolder();
}

void TResultRows::FolderBegun(const TFolderSpec& setup) {
    EndFolder();
    tree_.BeginUpdate();
    inBracket_ = true;
    expanded_ = false;
    shown_ = Clock::now();
    folderRow_ = tree_.AddChild(nullptr);
    TFileNodeData& data = tree_.GetNodeData(folderRow_);
    data.SetText(TFieldKind::FileName, FolderDisplayName(setup.path));
    data.SetText(TFieldKind::FullPath, setup.path);
    data.SetText(TFieldKind::FileType, kFolderType);
    data.SetText(TFieldKind::FileExt, {});
    rules_.SetFolder(folderRow_, setup);
}

void TResultRows::FileListed(const TListedEntry& file) {
    const PVirtualNode row = tree_.AddChild(folderRow_);
    tree_.GetNodeData(row).AssignFile(file.folder, file.name, file.info);
    if (file.reason == TKeepReason::None) {
        tree_.SetCheckState(row, TCheckState::Checked);
    } else {
        tree_.GetNodeData(row).SetKeptBy(file.reason);
    }
    if (++sinceClock_ % 256 == 0 && Clock::now() - shown_ >= kShowEvery) {
        Show();
    }
}

void TResultRows::FolderDone(const TFolderSpec&) {
    EndFolder();
}

// The rows made so far: once expanded here, the folder row stays as the user leaves it.
void TResultRows::Show() {
    if (!std::exchange(expanded_, true)) {
        tree_.SetExpanded(folderRow_, true);
    }
    tree_.EndUpdate();
    tree_.BeginUpdate();
    shown_ = Clock::now();
}

void TResultRows::EndFolder() {
    if (!std::exchange(inBracket_, false)) {
        return;
    }
    if (!expanded_) {
        expanded_ = true;
        tree_.SetExpanded(folderRow_, true);
    }
    tree_.EndUpdate();
}

TFileCount TResultRows::KeepInUse(const TOpenFiles& files) {
    TFileCount kept;
    if (files.Empty()) {
        return kept;
    }
    TRowsBracket bracket(tree_);
    for (PVirtualNode folder = tree_.GetFirstChild(nullptr); folder;
         folder = tree_.GetNextSibling(folder)) {
        for (PVirtualNode row = tree_.GetFirstChild(folder); row; row = tree_.GetNextSibling(row)) {
            TFileNodeData& data = tree_.GetNodeData(row);
            // Another user's file says so first: the user could not remove it anyway.
            if (!data.IsScannedFile() || data.KeptBy() == TKeepReason::NotYours ||
                !files.Contains(data.Stamp().identity)) {
                continue;
            }
            if (tree_.CheckState(row) == TCheckState::Checked) {
                tree_.SetCheckState(row, TCheckState::Unchecked);
                kept.Add(data.Size());
            }
            data.SetKeptBy(TKeepReason::InUse);
        }
    }
    return kept;
}

void ScanFolder(TResultTree& tree, std::string_view folderPath, std::string_view ext,
                std::string_view ageText, unsigned readers, std::string_view keep) {
    TRowRules rules;
    TResultRows rows(tree, rules);
    TCheckTempsOptions options;
    options.readers = readers;
    options.procRoot = "/nonexistent";  // no process holds a file
    TCheckTemps run({TFolderSpec(std::string(folderPath), std::string(ext), std::string(ageText),
                                 std::string(keep))},
                    rows, options);
    run.Run();
}

}  // namespace purgala
