#include "scan/Scanner.h"

#include <algorithm>

#include "scan/ScanJobs.h"

namespace purgala {

TFolderScan::TFolderScan(TScanPool& pool, const TFolderSpec& setup, IScanConsumer& consumer)
    : pool_(pool), setup_(setup), consumer_(consumer) {
    consumer_.FolderBegun(setup_);
    TScanPool::TState& state = *pool_.state_;
    walk_ = std::make_unique<TWalk>(state, setup_);
    walk_->root = std::make_unique<TJob>(state, *walk_, nullptr, std::string_view());
    walk_->root->keepAt = setup_.keepPatterns.Start();
    walk_->stack.push_back(TWalk::Frame{walk_->root.get()});
    {
        const std::lock_guard lock(state.mutex);
        state.Queue(walk_->root.get());
    }
    state.work.notify_all();
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
}

void TFolderScan::Finish() {
    if (!std::exchange(finished_, true)) {
        consumer_.FolderDone(setup_);
    }
}

std::size_t TFolderScan::Listed() const {
    return walk_ ? walk_->listed : 0;
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

bool TFolderScan::WaitFor(TJob& job, Clock::time_point deadline) {
    TScanPool::TState& state = *pool_.state_;
    std::unique_lock lock(state.mutex);
    state.wanted = &job;
    if (state.idle > 0) {
        state.work.notify_all();
    }
    const bool ready = state.done.wait_until(
        lock, deadline, [&] { return state.WorthWaking(job) || state.stop.load(); });
    // Readers look at it only while the rows wait here: once they go on, the job may be freed.
    state.wanted = nullptr;
    return ready;
}

void TFolderScan::WakeReaders() {
    TScanPool::TState& state = *pool_.state_;
    {
        // Taken so that no reader is between its test and its wait.
        const std::lock_guard lock(state.mutex);
        if (state.idle == 0) {
            return;
        }
    }
    state.work.notify_all();
}

bool TFolderScan::Step(Clock::time_point deadline, const TScanProgress& progress) {
    if (finished_) {
        return true;
    }
    TScanPool::TState& state = *pool_.state_;
    std::vector<TWalk::Frame>& stack = walk_->stack;
    unsigned handed = 0;
    while (!stack.empty() && !state.stop) {
        TWalk::Frame& frame = stack.back();
        TJob& job = *frame.job;
        if (!frame.ready) {
            if (job.state.load(std::memory_order_acquire) != TJob::State::Done &&
                !WaitFor(job, deadline)) {
                return false;
            }
            if (job.state.load(std::memory_order_acquire) != TJob::State::Done) {
                break;  // stopped
            }
            // In the consumer's hands now: no longer ahead of it, and no reader may look at it
            // again, since it is freed once it is handed over.
            const std::size_t before = state.lookAhead.fetch_sub(job.Items());
            // Readers held back by the look-ahead go on once half of it is taken.
            if (before > kLookAhead / 2 && before - job.Items() <= kLookAhead / 2) {
                WakeReaders();
            }
            const TScanFolderRef* parent =
                stack.size() > 1 ? &stack[stack.size() - 2].folder : nullptr;
            if (job.error != 0) {
                consumer_.FolderUnreadable(
                    {parent != nullptr ? (*parent)->PathWith(job.name) : setup_.path, job.error});
            }
            if (!job.valid) {
                stack.pop_back();
                continue;
            }
            frame.folder = parent == nullptr ? TScanFolder::Root(walk_->dir, job.identity)
                                             : TScanFolder::Sub(*parent, job.name);
            frame.ready = true;
        }
        const std::size_t until = frame.nextSub < job.subs.size()
                                      ? job.subs[frame.nextSub].filesBefore
                                      : job.files.size();
        if (frame.nextFile < until) {
            const TJob::File& file = job.files[frame.nextFile++];
            ++walk_->listed;
            try {
                consumer_.FileListed(
                    {setup_, frame.folder, job.FileName(file), file.info, job.sticky, job.owner});
            } catch (const std::exception&) {
                // One file's failure costs that file only.
            }
            if (progress) {
                progress(*frame.folder.get(), walk_->listed);
            }
            if (++handed % 256 == 0 && Clock::now() >= deadline) {
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
        // Every sub-folder of it is read and handed over: none is in a reader's hands.
        std::vector<TJob::File>().swap(job.files);
        std::vector<TJob::Sub>().swap(job.subs);
        std::string().swap(job.names);
        stack.pop_back();
    }
    Finish();
    return true;
}

}  // namespace purgala
