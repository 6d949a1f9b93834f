#pragma once
// Inside the scan: the jobs that readers fill, one per folder, and the walk that hands them to
// the consumer in the order of a one-thread walk. Only the scan's own files include this.

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "platform/FileFacts.h"
#include "platform/UniqueFd.h"
#include "scan/FolderSpec.h"
#include "scan/Scanner.h"

namespace purgala {

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
// take no new folder, except the one the rows wait for: about 100 bytes each, under 2 MB. More
// buys no speed at a million files and costs memory.
constexpr std::size_t kLookAhead = 1 << 14;
// Sub-folders met are handed to the readers in groups, so that a wide folder is shared early.
constexpr std::size_t kHandOver = 64;
// The rows are woken when the folder they wait for is read and this much more is ready, or when
// no reader is busy: a wake-up per small folder would cost more than reading it. A deadline
// passing wakes them too.
constexpr std::size_t kWakeBatch = 2048;

struct TJob;

struct TScanPool::TState {
    std::mutex mutex;
    std::condition_variable work;  // readers: a job came, or the look-ahead shrank
    std::condition_variable done;  // the rows and the drain: a job was read
    // Folders to read, the first in the rows' order on top (see TJob::order); guarded by mutex,
    // as are the fields up to `stop`.
    std::vector<TJob*> queue;
    // The job the rows wait for, while they wait: taken first, whatever the look-ahead.
    TJob* wanted = nullptr;
    std::atomic<std::size_t> lookAhead{0};  // grows with the mutex held; the rows take from it
    unsigned reading = 0;
    std::atomic<unsigned> idle{0};  // readers waiting for work; changed with the mutex held
    bool quit = false;
    std::atomic<bool> stop{false};
    std::atomic<bool> abandon{false};  // the folder's scan ends early: leave its jobs
    std::atomic<int> heldFds{0};       // sub-folders opened ahead, waiting in the queue
    int fdBudget = 0;
    TScanPool::TDisturb disturb;
    std::vector<std::thread> threads;

    bool Leaving() const { return stop.load(std::memory_order_relaxed) || abandon.load(); }
    // With the mutex held: whether the rows, waiting for `job`, should go on now.
    bool WorthWaking(const TJob& job) const;
    void Queue(TJob* job);
    TJob* Unqueue();
};

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
    const TJob* const parent;  // nullptr for the configured folder
    const std::string name;    // its entry in the parent
    TUniqueFd fd;              // opened ahead by the parent's reader, while the budget allows
    // Changed with the pool's mutex held; the rows may look without it, to pass a folder that
    // is Done without taking the mutex.
    std::atomic<State> state{State::Queued};
    // Written by the reader, read by the rows once Done.
    bool valid = false;  // opened and readable: it gets a folder record
    // Left out on purpose (a mount, another file system, a loop): no failure to report.
    bool skipped = false;
    TFileIdentity identity;
    bool sticky = false;  // only a file's owner, the folder's or root may remove a file here
    std::uint32_t owner = 0;
    // Why it could not be opened, or was not read to its end; 0 when it was.
    int error = 0;
    // Where the folder's keep patterns stand here; set before it is queued.
    TKeepPatterns::TState keepAt;
    // Its place in the rows' order: the index among its parent's sub-folders of each folder on
    // the way down. Readers take the first queued folder in this order, which is the one the
    // rows wait for or the next they will, so that what they read ahead is what comes next.
    std::vector<std::uint32_t> order;
    std::string names;
    std::vector<File> files;
    std::vector<Sub> subs;
};

inline bool TScanPool::TState::WorthWaking(const TJob& job) const {
    return job.state == TJob::State::Done && (lookAhead >= kWakeBatch || reading == 0);
}

namespace scan_order {
// A heap's "less": the folder later in the rows' order. A folder and one of its own sub-folders
// are never queued together.
inline bool Later(const TJob* a, const TJob* b) {
    return a->order > b->order;
}
}  // namespace scan_order

inline void TScanPool::TState::Queue(TJob* job) {
    queue.push_back(job);
    std::push_heap(queue.begin(), queue.end(), scan_order::Later);
}

inline TJob* TScanPool::TState::Unqueue() {
    std::pop_heap(queue.begin(), queue.end(), scan_order::Later);
    TJob* job = queue.back();
    queue.pop_back();
    return job;
}

struct TFolderScan::TWalk {
    TWalk(TScanPool::TState& pool, const TFolderSpec& setup)
        : pool(pool), setup(setup), dir(DirOf(setup.path)) {}

    static std::string DirOf(const std::string& path) {
        return path.empty() || path.back() == '/' ? path : path + '/';
    }

    struct Frame {
        explicit Frame(TJob* job) : job(job) {}
        TJob* job;
        bool ready = false;
        std::size_t nextFile = 0;
        std::size_t nextSub = 0;
        TScanFolderRef folder;
    };

    TScanPool::TState& pool;
    const TFolderSpec& setup;
    const std::string dir;  // as configured, "/" appended
    const TOwnFiles ownFiles;
    // Written by the root's reader before any other job exists.
    TUniqueFd anchor;  // the configured folder, for reaching folders that were not opened ahead
    std::uint64_t device = 0;
    std::unique_ptr<TJob> root;
    // The consumer's side only.
    std::vector<Frame> stack;
    std::size_t listed = 0;
};

}  // namespace purgala
