// The readers of a scan: threads that read folders ahead of the rows, each folder whole, and
// the pool that holds them.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/DirReader.h"
#include "scan/ScanJobs.h"

namespace purgala {

namespace {

// The checks every sub-folder passes before it is read: not another file system, not a mount,
// not one of its own ancestors (where the kernel does not say what is a mount, a bind mount can
// still show a folder inside itself). A folder that fails them is left out on purpose; one whose
// identity cannot be read is a failure.
bool Admit(const TJob& parent, int fd, TJob& child) {
    const std::optional<TFolderIdentity> found = FolderIdentityOf(fd);
    if (!found) {
        child.error = errno;
        return false;
    }
    if (found->isMountRoot || found->identity.device != parent.walk.device) {
        child.skipped = true;
        return false;
    }
    for (const TJob* job = &parent; job != nullptr; job = job->parent) {
        if (job->identity == found->identity) {
            child.skipped = true;
            return false;
        }
    }
    child.identity = found->identity;
    child.sticky = found->sticky;
    child.owner = found->owner;
    return true;
}

// A folder not opened ahead: reached from the configured folder one name at a time, each step
// never through a link and still the folder it was, so that any depth works without a path. A
// folder on the way that is gone or another one now makes this one vanished too.
TUniqueFd OpenByChain(TJob& job) {
    std::vector<const TJob*> chain;
    for (const TJob* j = job.parent; j != nullptr && j->parent != nullptr; j = j->parent) {
        chain.push_back(j);
    }
    TUniqueFd at;
    int atFd = job.walk.anchor.Get();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        TUniqueFd next = OpenSubFolder(atFd, (*it)->name.c_str());
        if (!next.Valid()) {
            job.error = errno;
            return {};
        }
        const std::optional<TFolderIdentity> identity = FolderIdentityOf(next.Get());
        if (!identity || identity->identity != (*it)->identity) {
            job.error = identity ? ENOENT : errno;
            return {};
        }
        at = std::move(next);
        atFd = at.Get();
    }
    TUniqueFd folder = OpenSubFolder(atFd, job.name.c_str());
    if (!folder.Valid()) {
        job.error = errno;
        return {};
    }
    if (!Admit(*job.parent, folder.Get(), job)) {
        return {};
    }
    return folder;
}

class TReader {
public:
    TReader(TScanPool::TState& pool, TJob& job) : pool_(pool), job_(job), walk_(job.walk) {}

    void Run() {
        TUniqueFd fd = Open();
        if (!fd.Valid()) {
            return;
        }
        TDirReader reader(std::move(fd));
        if (!reader.Valid()) {
            job_.error = reader.Error();
            return;
        }
        job_.valid = true;
        TDirEntry entry;
        while (!pool_.Leaving() && reader.Next(entry)) {
            if (pool_.disturb) {
                pool_.disturb(entry.name);
            }
            try {
                Handle(reader.Fd(), entry);
            } catch (const std::exception&) {
                // One entry's failure costs that entry only.
            }
        }
        job_.error = reader.Error();
        HandOver();
    }

private:
    TUniqueFd Open() {
        if (job_.parent != nullptr) {
            TUniqueFd fd = job_.TakeFd();
            return fd.Valid() ? std::move(fd) : OpenByChain(job_);
        }
        // The system would read such a path only up to the NUL: another folder altogether.
        if (walk_.dir.find('\0') != std::string::npos) {
            job_.error = EINVAL;
            return {};
        }
        // An empty path would otherwise become "/" and list the whole system for deletion.
        TUniqueFd root = walk_.dir.empty() ? TUniqueFd() : OpenFolder(walk_.dir.c_str());
        if (!root.Valid()) {
            job_.error = walk_.dir.empty() ? ENOENT : errno;
            return {};
        }
        // The configured folder itself may be a mount root; nothing below it that is one is
        // entered.
        const std::optional<TFolderIdentity> identity = FolderIdentityOf(root.Get());
        if (!identity) {
            job_.error = errno;
            return {};
        }
        job_.identity = identity->identity;
        job_.sticky = identity->sticky;
        job_.owner = identity->owner;
        walk_.device = identity->identity.device;
        walk_.anchor = TUniqueFd(::fcntl(root.Get(), F_DUPFD_CLOEXEC, 0));
        if (!walk_.anchor.Valid()) {
            job_.error = errno;
            return {};
        }
        return root;
    }

    void Handle(int folderFd, const TDirEntry& entry) {
        TEntryType type = entry.type;
        std::optional<TEntryStat> stat;
        if (type == TEntryType::Unknown) {
            stat = StatEntry(folderFd, entry.name);
            if (!stat) {
                return;
            }
            type = stat->type;
        }
        const TKeepPatterns& keep = walk_.setup.keepPatterns;
        const std::string_view name(entry.name);
        if (type == TEntryType::Folder) {
            // A kept folder is not even opened.
            TKeepPatterns::TState inner;
            if (!keep.Empty() && keep.KeepsFolder(job_.keepAt, name, inner)) {
                return;
            }
            Enter(folderFd, entry.name, std::move(inner));
            return;
        }
        // Regular files and links only: a FIFO, socket or device node belongs to a live program
        // or to the system. A link is an entry of its own, matched by its own name and never
        // followed. The patterns are asked only about the few names the extension lets through.
        if ((type != TEntryType::Regular && type != TEntryType::Link) ||
            !walk_.setup.filter.Matches(name) ||
            (!keep.Empty() && keep.KeepsFile(job_.keepAt, name))) {
            return;
        }
        if (!stat) {
            stat = StatEntry(folderFd, entry.name);
            if (!stat) {
                return;  // gone since it was listed
            }
        }
        // Replaced since it was listed, a file mounted over this entry, or one of our own.
        if ((stat->type != TEntryType::Regular && stat->type != TEntryType::Link) ||
            stat->isMountRoot || stat->info.device != walk_.device ||
            walk_.ownFiles.Contains(stat->info)) {
            return;
        }
        const auto offset = static_cast<std::uint32_t>(job_.names.size());
        job_.names.append(name);
        job_.files.push_back({offset, static_cast<std::uint16_t>(name.size()), stat->info});
    }

    void Enter(int parentFd, const char* name, TKeepPatterns::TState keepAt) {
        auto child = std::make_unique<TJob>(pool_, walk_, &job_, name);
        child->keepAt = std::move(keepAt);
        child->order.reserve(job_.order.size() + 1);
        child->order = job_.order;
        child->order.push_back(static_cast<std::uint32_t>(job_.subs.size()));
        // Opened ahead while the parent is open, as long as the budget of open files allows;
        // beyond it the reader of the sub-folder reaches it by its names.
        if (pool_.heldFds.load() < pool_.fdBudget) {
            TUniqueFd folder = OpenSubFolder(parentFd, name);
            if (!folder.Valid()) {
                child->error = errno;
            } else if (Admit(job_, folder.Get(), *child)) {
                child->HoldFd(std::move(folder));
            }
            if (child->skipped) {
                return;
            }
            if (child->error != 0) {
                // Told where its entry was met, as a folder that was read would be; nothing
                // for a reader to do.
                child->state = TJob::State::Done;
                job_.subs.push_back({job_.files.size(), std::move(child)});
                return;
            }
        }
        pending_.push_back(child.get());
        job_.subs.push_back({job_.files.size(), std::move(child)});
        // A reader with nothing to do gets it at once: trees of small folders are otherwise read
        // one folder at a time.
        if (pending_.size() >= kHandOver || pool_.idle.load(std::memory_order_relaxed) > 0) {
            HandOver();
        }
    }

    // The sub-folders met so far, for the readers.
    void HandOver() {
        if (pending_.empty()) {
            return;
        }
        bool wake = false;
        {
            const std::lock_guard lock(pool_.mutex);
            if (!pool_.Leaving()) {
                for (TJob* job : pending_) {
                    pool_.Queue(job);
                }
            }
            wake = pool_.idle > 0;
        }
        pending_.clear();
        if (wake) {
            pool_.work.notify_all();
        }
    }

    TScanPool::TState& pool_;
    TJob& job_;
    TFolderScan::TWalk& walk_;
    std::vector<TJob*> pending_;
};

void ReaderLoop(TScanPool::TState& pool) {
    std::unique_lock lock(pool.mutex);
    for (;;) {
        if (pool.quit) {
            return;
        }
        TJob* job = nullptr;
        // The first in order is the folder the rows wait for or will wait for next: taken
        // whatever the look-ahead when they wait for it.
        if (!pool.stop && !pool.queue.empty() &&
            (pool.queue.front() == pool.wanted || pool.lookAhead < kLookAhead)) {
            job = pool.Unqueue();
        }
        if (job == nullptr) {
            ++pool.idle;
            pool.work.wait(lock);
            --pool.idle;
            continue;
        }
        job->state = TJob::State::Reading;
        ++pool.reading;
        lock.unlock();
        try {
            TReader(pool, *job).Run();
        } catch (const std::exception&) {
            // What was read stays; the rest of the folder is left out.
        }
        lock.lock();
        // Counted before it is Done: the rows, seeing it Done, take its entries off at once.
        pool.lookAhead += job->Items();
        job->state.store(TJob::State::Done, std::memory_order_release);
        --pool.reading;
        if (pool.wanted != nullptr ? pool.WorthWaking(*pool.wanted) : pool.reading == 0) {
            pool.done.notify_all();
        }
    }
}

unsigned OpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 1024;
    }
    return static_cast<unsigned>(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
}

}  // namespace

unsigned DefaultScanReaders() {
    return std::max(1u, std::thread::hardware_concurrency());
}

TScanPool::TScanPool(unsigned readers, TDisturb disturb) : state_(std::make_unique<TState>()) {
    // Each reader holds a few files open at once; the rest of the limit is the program's and
    // the budget of folders opened ahead.
    const unsigned limit = OpenFileLimit();
    const unsigned room = limit > 64 ? limit - 64 : 0;
    readers = std::clamp(readers == 0 ? DefaultScanReaders() : readers, 1u, std::max(1u, room / 8));
    state_->fdBudget =
        std::clamp(static_cast<int>(room / 2) - 4 * static_cast<int>(readers), 8, 4096);
    state_->disturb = std::move(disturb);
    for (unsigned i = 0; i < readers; ++i) {
        state_->threads.emplace_back([state = state_.get()] { ReaderLoop(*state); });
    }
}

TScanPool::~TScanPool() {
    {
        const std::lock_guard lock(state_->mutex);
        state_->quit = true;
        state_->stop = true;
    }
    state_->work.notify_all();
    for (std::thread& thread : state_->threads) {
        thread.join();
    }
}

unsigned TScanPool::Readers() const {
    return static_cast<unsigned>(state_->threads.size());
}

void TScanPool::Stop() {
    {
        const std::lock_guard lock(state_->mutex);
        state_->stop = true;
    }
    state_->work.notify_all();
    state_->done.notify_all();
}

bool TScanPool::Stopped() const {
    return state_->stop.load();
}

}  // namespace purgala
