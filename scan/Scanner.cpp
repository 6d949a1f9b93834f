#include "scan/Scanner.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "platform/DirReader.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Only a-z are folded: other bytes, UTF-8 letters included, must match exactly.
class TExtFilter {
public:
    explicit TExtFilter(std::string_view ext) : upper_(ext) {
        for (char& c : upper_) {
            c = AsciiUpper(c);
        }
    }

    bool Matches(std::string_view name) const {
        if (upper_.empty()) {
            return true;
        }
        const std::size_t dot = name.rfind('.');
        if (dot == std::string_view::npos || name.size() - dot - 1 != upper_.size()) {
            return false;
        }
        const char* e = name.data() + dot + 1;
        for (std::size_t i = 0; i < upper_.size(); ++i) {
            if (AsciiUpper(e[i]) != upper_[i]) {
                return false;
            }
        }
        return true;
    }

private:
    std::string upper_;
};

// The files no scan may list, by identity: the program file and the configuration file in use
// (and a link standing for it), whose loss would take the folder list with it.
class TOwnFiles {
public:
    TOwnFiles() {
        Add("/proc/self/exe", true);
        try {
            const std::string config = TConfig::GetConfigFileName();
            Add(config.c_str(), true);
            Add(config.c_str(), false);
        } catch (const std::exception&) {
            // Without a configuration path there is no configuration file to keep.
        }
    }

    bool Contains(const TFileEntryInfo& info) const {
        return std::find(files_.begin(), files_.end(), TFileIdentity{info.device, info.inode}) !=
               files_.end();
    }

private:
    void Add(const char* path, bool followLink) {
        struct stat st {};
        if ((followLink ? ::stat(path, &st) : ::lstat(path, &st)) == 0) {
            files_.push_back(
                {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
        }
    }

    std::vector<TFileIdentity> files_;
};

// Readers this far ahead of the rows (entries of folders read whose rows are not being made yet)
// take no new folder, except the one the rows wait for: about 100 bytes each, a few megabytes.
constexpr std::size_t kLookAhead = 1 << 16;
// Sub-folders met are handed to the readers in groups, so that a wide folder is shared early.
constexpr std::size_t kHandOver = 64;

struct TJob;

}  // namespace

struct TScanPool::TState {
    std::mutex mutex;
    std::condition_variable work;  // readers: a job came, or the look-ahead shrank
    std::condition_variable done;  // the rows and the drain: a job was read
    std::deque<TJob*> queue;       // guarded by mutex, as are the fields up to `stop`
    TJob* wanted = nullptr;  // the job the rows wait for: taken first, whatever the look-ahead
    std::size_t lookAhead = 0;
    unsigned reading = 0;
    bool quit = false;
    std::atomic<bool> stop{false};
    std::atomic<bool> abandon{false};  // the folder's scan ends early: leave its jobs
    std::atomic<int> heldFds{0};       // sub-folders opened ahead, waiting in the queue
    int fdBudget = 0;
    TScanPool::TDisturb disturb;
    std::vector<std::thread> threads;

    bool Leaving() const { return stop.load(std::memory_order_relaxed) || abandon.load(); }
};

namespace {

// One folder to read. Its reader fills the records; the rows read them once it is Done.
struct TJob {
    enum class State : std::uint8_t { Queued, Reading, Done };
    struct File {
        std::uint32_t nameOffset;
        std::uint16_t nameLength;
        TFileEntryInfo info;
    };
    struct Sub {
        std::size_t filesBefore;  // where in the folder's files the sub-folder's entry was met
        std::unique_ptr<TJob> job;
    };

    TJob(TScanPool::TState& pool, TFolderScan::TWalk& walk, const TJob* parent,
         std::string_view name)
        : pool(pool), walk(walk), parent(parent), name(name) {}
    ~TJob() { TakeFd(); }
    TJob(const TJob&) = delete;
    TJob& operator=(const TJob&) = delete;

    void HoldFd(TUniqueFd held) {
        TakeFd();
        fd = std::move(held);
        if (fd.Valid()) {
            ++pool.heldFds;
        }
    }
    TUniqueFd TakeFd() {
        if (fd.Valid()) {
            --pool.heldFds;
        }
        return std::move(fd);
    }
    std::size_t Items() const { return files.size() + subs.size(); }
    std::string_view FileName(const File& file) const {
        return std::string_view(names).substr(file.nameOffset, file.nameLength);
    }

    TScanPool::TState& pool;
    TFolderScan::TWalk& walk;
    const TJob* const parent;     // nullptr for the configured folder
    const std::string name;       // its entry in the parent
    TUniqueFd fd;                 // opened ahead by the parent's reader, while the budget allows
    State state = State::Queued;  // guarded by the pool's mutex
    // Written by the reader, read by the rows once Done.
    bool valid = false;  // opened and readable: it gets a folder record
    TFileIdentity identity;
    std::string names;
    std::vector<File> files;
    std::vector<Sub> subs;
};

}  // namespace

struct TFolderScan::TWalk {
    TWalk(TScanPool::TState& pool, std::string_view dir, std::string_view ext)
        : pool(pool), dir(dir), filter(ext) {}

    struct Frame {
        explicit Frame(TJob* job) : job(job) {}
        TJob* job;
        bool ready = false;
        std::size_t nextFile = 0;
        std::size_t nextSub = 0;
        TScanFolderRef folder;
    };

    TScanPool::TState& pool;
    const std::string dir;  // as configured, "/" appended
    const TExtFilter filter;
    const TOwnFiles ownFiles;
    // Written by the root's reader before any other job exists.
    TUniqueFd anchor;  // the configured folder, for reaching folders that were not opened ahead
    std::uint64_t device = 0;
    std::unique_ptr<TJob> root;
    // The rows' side only.
    std::vector<Frame> stack;
    std::size_t listed = 0;
};

namespace {

// The checks every sub-folder passes before it is read: not another file system, not a mount,
// not one of its own ancestors (where the kernel does not say what is a mount, a bind mount can
// still show a folder inside itself).
bool Admit(const TJob& parent, int fd, TFileIdentity& identity) {
    const std::optional<TFolderIdentity> found = FolderIdentityOf(fd);
    if (!found || found->isMountRoot || found->identity.device != parent.walk.device) {
        return false;
    }
    for (const TJob* job = &parent; job != nullptr; job = job->parent) {
        if (job->identity == found->identity) {
            return false;
        }
    }
    identity = found->identity;
    return true;
}

// A folder not opened ahead: reached from the configured folder one name at a time, each step
// never through a link and still the folder it was, so that any depth works without a path.
TUniqueFd OpenByChain(const TJob& job, TFileIdentity& identity) {
    std::vector<const TJob*> chain;
    for (const TJob* j = job.parent; j != nullptr && j->parent != nullptr; j = j->parent) {
        chain.push_back(j);
    }
    TUniqueFd at;
    int atFd = job.walk.anchor.Get();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        TUniqueFd next = OpenSubFolder(atFd, (*it)->name.c_str());
        const std::optional<TFolderIdentity> identity =
            next.Valid() ? FolderIdentityOf(next.Get()) : std::nullopt;
        if (!identity || identity->identity != (*it)->identity) {
            return {};
        }
        at = std::move(next);
        atFd = at.Get();
    }
    TUniqueFd folder = OpenSubFolder(atFd, job.name.c_str());
    if (!folder.Valid() || !Admit(*job.parent, folder.Get(), identity)) {
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
        HandOver();
    }

private:
    TUniqueFd Open() {
        if (job_.parent == nullptr) {
            // The system would read such a path only up to the NUL: another folder altogether.
            if (walk_.dir.find('\0') != std::string::npos) {
                return {};
            }
            TUniqueFd root = OpenFolder(walk_.dir.c_str());
            // The configured folder itself may be a mount root; nothing below it that is one is
            // entered.
            const std::optional<TFolderIdentity> identity =
                root.Valid() ? FolderIdentityOf(root.Get()) : std::nullopt;
            if (!identity) {
                return {};
            }
            job_.identity = identity->identity;
            walk_.device = identity->identity.device;
            walk_.anchor = TUniqueFd(::fcntl(root.Get(), F_DUPFD_CLOEXEC, 0));
            return walk_.anchor.Valid() ? std::move(root) : TUniqueFd();
        }
        TUniqueFd fd = job_.TakeFd();
        return fd.Valid() ? std::move(fd) : OpenByChain(job_, job_.identity);
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
        if (type == TEntryType::Folder) {
            Enter(folderFd, entry.name);
            return;
        }
        // Regular files and links only: a FIFO, socket or device node belongs to a live program
        // or to the system. A link is an entry of its own, matched by its own name and never
        // followed.
        if ((type != TEntryType::Regular && type != TEntryType::Link) ||
            !walk_.filter.Matches(entry.name)) {
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
        const std::string_view name(entry.name);
        const auto offset = static_cast<std::uint32_t>(job_.names.size());
        job_.names.append(name);
        job_.files.push_back({offset, static_cast<std::uint16_t>(name.size()), stat->info});
    }

    void Enter(int parentFd, const char* name) {
        auto child = std::make_unique<TJob>(pool_, walk_, &job_, name);
        // Opened ahead while the parent is open, as long as the budget of open files allows;
        // beyond it the reader of the sub-folder reaches it by its names.
        if (pool_.heldFds.load() < pool_.fdBudget) {
            TUniqueFd folder = OpenSubFolder(parentFd, name);
            if (!folder.Valid() || !Admit(job_, folder.Get(), child->identity)) {
                return;
            }
            child->HoldFd(std::move(folder));
        }
        pending_.push_back(child.get());
        job_.subs.push_back({job_.files.size(), std::move(child)});
        if (pending_.size() >= kHandOver) {
            HandOver();
        }
    }

    // Next in line for the readers: a folder's sub-folders in their order, ahead of the folders
    // met before, so that the readers go depth first as the rows do.
    void HandOver() {
        if (pending_.empty()) {
            return;
        }
        {
            const std::lock_guard lock(pool_.mutex);
            if (!pool_.Leaving()) {
                pool_.queue.insert(pool_.queue.begin(), pending_.begin(), pending_.end());
            }
        }
        pending_.clear();
        pool_.work.notify_all();
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
        if (!pool.stop && !pool.queue.empty()) {
            if (pool.wanted != nullptr && pool.wanted->state == TJob::State::Queued) {
                const auto it = std::find(pool.queue.begin(), pool.queue.end(), pool.wanted);
                if (it != pool.queue.end()) {
                    job = *it;
                    pool.queue.erase(it);
                }
            }
            if (job == nullptr && pool.lookAhead < kLookAhead) {
                job = pool.queue.front();
                pool.queue.pop_front();
            }
        }
        if (job == nullptr) {
            pool.work.wait(lock);
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
        job->state = TJob::State::Done;
        --pool.reading;
        pool.lookAhead += job->Items();
        pool.done.notify_all();
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

void TFolderScan::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    try {
        tree_.SetExpanded(row_, true);
    } catch (const std::exception&) {
        // The rows stay; only the folder row stays collapsed.
    }
    tree_.EndUpdate();
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
