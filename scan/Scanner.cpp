#include "scan/Scanner.h"

#include <algorithm>

#include "scan/ScanJobs.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

// A row for one file the readers found, with the folder record's help: exactly what a one-thread
// walk makes.
void MakeRow(TVirtualStringTree& tree, PVirtualNode parentRow, const TFolderKeep* keep,
             TFolderScan::TWalk& walk, TFolderScan::TWalk::Frame& frame, const TJob::File& file,
             TFolderScan::TTotals& totals) {
    const TJob& job = *frame.job;
    const std::string_view name = job.FileName(file);
    PVirtualNode row = tree.AddChild(parentRow);
    TFileNodeData& data = tree.GetNodeData(row);
    // A folder whose names fill one record goes on in another: no row without its identity.
    if (!data.AssignFile(frame.folder, name, file.info)) {
        frame.folder->Seal();
        frame.folder = TScanFolder::Continuation(frame.folder);
        data.AssignFile(frame.folder, name, file.info);
    }
    const TKeepReason reason = keep != nullptr ? KeepReasonOf(*keep, file.info) : TKeepReason::None;
    const auto bytes = static_cast<std::uint64_t>(std::max<std::int64_t>(file.info.size, 0));
    if (reason == TKeepReason::None) {
        tree.SetCheckState(row, TCheckState::Checked);
        ++totals.checked;
        totals.checkedBytes += bytes;
    } else {
        data.SetKeptBy(reason);
        ++totals.kept;
        totals.keptBytes += bytes;
    }
    ++totals.listed;
    totals.listedBytes += bytes;
    ++walk.listed;
}

}  // namespace

TFolderScan::TFolderScan(TScanPool& pool, TVirtualStringTree& tree, std::string_view folderPath,
                         std::string_view ext, const TFolderKeep* keep)
    : pool_(pool), tree_(tree), keep_(keep) {
    tree_.BeginUpdate();
    try {
        row_ = tree_.AddChild(nullptr);
        TFileNodeData& data = tree_.GetNodeData(row_);
        data.SetText(TFieldKind::FileName, FolderDisplayName(folderPath));
        data.SetText(TFieldKind::FullPath, folderPath);
        data.SetText(TFieldKind::FileType, kFolderType);
        data.SetText(TFieldKind::FileExt, {});
        // An empty path would otherwise become "/" and list the whole system for deletion.
        if (folderPath.empty()) {
            return;
        }
        std::string dir(folderPath);
        if (dir.back() != '/') {
            dir.push_back('/');
        }
        TScanPool::TState& state = *pool_.state_;
        walk_ = std::make_unique<TWalk>(state, dir, ext);
        walk_->root = std::make_unique<TJob>(state, *walk_, nullptr, std::string_view());
        walk_->stack.push_back(TWalk::Frame{walk_->root.get()});
        {
            const std::lock_guard lock(state.mutex);
            state.queue.push_front(walk_->root.get());
        }
        state.work.notify_all();
    } catch (const std::exception&) {
        Finish();
    }
}

TFolderScan::~TFolderScan() {
    if (walk_) {
        // No reader may be left with this folder's jobs once they go.
        TScanPool::TState& state = *pool_.state_;
        std::unique_lock lock(state.mutex);
        state.abandon = true;
        state.queue.clear();
        state.wanted = nullptr;
        state.done.wait(lock, [&] { return state.reading == 0; });
        state.lookAhead = 0;
        state.abandon = false;
        lock.unlock();
        walk_.reset();
    }
    Finish();
}

// The rows made so far: once expanded here, the folder row stays as the user leaves it.
void TFolderScan::Show() {
    if (!expanded_) {
        expanded_ = true;
        try {
            tree_.SetExpanded(row_, true);
        } catch (const std::exception&) {
            // The rows stay; only the folder row stays collapsed.
        }
    }
    tree_.EndUpdate();
    shown_ = Clock::now();
}

void TFolderScan::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    Show();
}

std::string TFolderScan::CurrentFolder() const {
    if (walk_) {
        for (auto it = walk_->stack.rbegin(); it != walk_->stack.rend(); ++it) {
            if (it->folder) {
                return it->folder->PathWith({});
            }
        }
    }
    return {};
}

bool TFolderScan::Step(Clock::time_point deadline, const TScanProgress& progress) {
    if (finished_) {
        return true;
    }
    if (!walk_) {
        Finish();
        return true;
    }
    if (Clock::now() - shown_ >= kShowEvery) {
        Show();
        tree_.BeginUpdate();
    }
    TScanPool::TState& state = *pool_.state_;
    std::vector<TWalk::Frame>& stack = walk_->stack;
    unsigned made = 0;
    while (!stack.empty() && !state.stop) {
        TWalk::Frame& frame = stack.back();
        TJob& job = *frame.job;
        if (!frame.ready) {
            std::unique_lock lock(state.mutex);
            if (job.state != TJob::State::Done) {
                state.wanted = &job;
                state.work.notify_all();
                if (!state.done.wait_until(lock, deadline, [&] {
                        return job.state == TJob::State::Done || state.stop.load();
                    })) {
                    return false;
                }
                if (job.state != TJob::State::Done) {
                    break;  // stopped
                }
            }
            // In the rows' hands now: no longer ahead of them, and no reader may look at it
            // again, since it is freed once its rows are made.
            state.lookAhead -= std::min(state.lookAhead, job.Items());
            if (state.wanted == &job) {
                state.wanted = nullptr;
            }
            lock.unlock();
            state.work.notify_all();
            if (!job.valid) {
                stack.pop_back();
                continue;
            }
            frame.folder = stack.size() == 1
                               ? TScanFolder::Root(walk_->dir, job.identity)
                               : TScanFolder::Sub(stack[stack.size() - 2].folder, job.name);
            frame.ready = true;
        }
        const std::size_t until = frame.nextSub < job.subs.size()
                                      ? job.subs[frame.nextSub].filesBefore
                                      : job.files.size();
        if (frame.nextFile < until) {
            try {
                MakeRow(tree_, row_, keep_, *walk_, frame, job.files[frame.nextFile], totals_);
            } catch (const std::exception&) {
                // One file's failure costs that file only.
            }
            ++frame.nextFile;
            if (progress) {
                progress(*frame.folder.get(), walk_->listed);
            }
            if (++made % 256 == 0 && Clock::now() >= deadline) {
                return false;
            }
            continue;
        }
        if (frame.nextSub < job.subs.size()) {
            TJob* sub = job.subs[frame.nextSub++].job.get();
            if (progress) {
                progress(*frame.folder.get(), walk_->listed);
            }
            stack.push_back(TWalk::Frame{sub});
            continue;
        }
        frame.folder->Seal();
        // Every sub-folder of it is read and made into rows: none is in a reader's hands.
        std::vector<TJob::File>().swap(job.files);
        std::vector<TJob::Sub>().swap(job.subs);
        std::string().swap(job.names);
        stack.pop_back();
    }
    Finish();
    return true;
}

void ScanFolder(TVirtualStringTree& tree, std::string_view folderPath, std::string_view ext,
                const TScanProgress& progress, const TFolderKeep* keep) {
    TScanPool pool;
    ScanFolder(pool, tree, folderPath, ext, progress, keep);
}

void ScanFolder(TScanPool& pool, TVirtualStringTree& tree, std::string_view folderPath,
                std::string_view ext, const TScanProgress& progress, const TFolderKeep* keep) {
    TFolderScan scan(pool, tree, folderPath, ext, keep);
    while (!scan.Step(TFolderScan::Clock::now() + std::chrono::seconds(1), progress)) {
    }
}

}  // namespace purgala
