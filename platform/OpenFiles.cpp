#include "platform/OpenFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "platform/DirReader.h"

namespace purgala {

const TFileHolder* TOpenFiles::HolderOf(const TFileIdentity& file) const {
    const auto found = files_.find(file);
    return found != files_.end() ? &holders_[found->second] : nullptr;
}

void TOpenFiles::Add(const TFileIdentity& file, std::int32_t pid, const std::string& command) {
    const auto [found, added] = files_.try_emplace(file, 0);
    if (!added && holders_[found->second].pid <= pid) {
        return;
    }
    if (holders_.empty() || holders_.back().pid != pid) {
        holders_.push_back({pid, command});
    }
    found->second = static_cast<std::uint32_t>(holders_.size() - 1);
}

void TOpenFiles::Merge(const TOpenFiles& other) {
    for (const auto& [file, holder] : other.files_) {
        Add(file, other.holders_[holder].pid, other.holders_[holder].command);
    }
}

namespace {

// The whole of a small /proc file; empty when it cannot be read.
std::string ReadAll(int folderFd, const char* name) {
    std::string text;
    const TUniqueFd fd(::openat(folderFd, name, O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return text;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

bool IsPid(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}

template <typename T>
bool ParseNumber(std::string_view& text, T& value, int base) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc()) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

// One line of a maps file: "start-end perms offset major:minor inode  path". Anonymous memory
// has inode 0.
bool MappedFileOf(std::string_view line, TFileIdentity& file) {
    for (int field = 0; field < 3; ++field) {
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos) {
            return false;
        }
        line.remove_prefix(space + 1);
    }
    unsigned major = 0;
    unsigned minor = 0;
    std::uint64_t inode = 0;
    if (!ParseNumber(line, major, 16) || line.empty() || line.front() != ':') {
        return false;
    }
    line.remove_prefix(1);
    if (!ParseNumber(line, minor, 16) || line.empty() || line.front() != ' ') {
        return false;
    }
    line.remove_prefix(1);
    if (!ParseNumber(line, inode, 10) || inode == 0) {
        return false;
    }
    file = {static_cast<std::uint64_t>(makedev(major, minor)), inode};
    return true;
}

void CollectProcess(int processFd, std::int32_t pid, TOpenFiles& files) {
    std::string command;
    bool named = false;
    const auto add = [&](const TFileIdentity& file) {
        if (!named) {
            command = ReadAll(processFd, "comm");
            if (!command.empty() && command.back() == '\n') {
                command.pop_back();
            }
            named = true;
        }
        files.Add(file, pid, command);
    };
    // Each entry of fd/ leads to the open file itself, whatever its path is now.
    if (TDirReader fds(TUniqueFd(::openat(processFd, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
        fds.Valid()) {
        TDirEntry entry;
        while (fds.Next(entry)) {
            struct stat st {};
            if (::fstatat(fds.Fd(), entry.name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
                add({static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
            }
        }
    }
    const std::string maps = ReadAll(processFd, "maps");
    std::string_view rest(maps);
    TFileIdentity last{};
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        TFileIdentity file;
        // A mapped file takes several lines in a row: one look-up for them all.
        if (MappedFileOf(line, file) && file != last) {
            add(file);
            last = file;
        }
    }
}

}  // namespace

TOpenFilesCollector::TOpenFilesCollector(const char* procRoot)
    : proc_(::open(procRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    TDirReader processes(TUniqueFd(::openat(proc_.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!processes.Valid()) {
        return;
    }
    TDirEntry entry;
    while (processes.Next(entry)) {
        if (IsPid(entry.name)) {
            pids_.push_back(static_cast<std::int32_t>(std::atol(entry.name)));
        }
    }
}

TOpenFilesCollector::~TOpenFilesCollector() {
    abandoned_ = true;
}

void TOpenFilesCollector::StartHelper() {
    helper_ = std::async(std::launch::async, [this] { Work(); });
}

bool TOpenFilesCollector::Finish(Clock::time_point deadline) {
    return Work(deadline) &&
           (!helper_.valid() || helper_.wait_until(deadline) == std::future_status::ready);
}

bool TOpenFilesCollector::Work(Clock::time_point deadline) {
    TOpenFiles found;
    while (!abandoned_) {
        const std::size_t index = next_.fetch_add(1, std::memory_order_relaxed);
        if (index >= pids_.size()) {
            break;
        }
        const std::string name = std::to_string(pids_[index]);
        const TUniqueFd process(
            ::openat(proc_.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (process.Valid()) {
            CollectProcess(process.Get(), pids_[index], found);
        }
        if (Clock::now() >= deadline) {
            break;
        }
    }
    const std::lock_guard lock(mutex_);
    files_.Merge(found);
    return next_.load(std::memory_order_relaxed) >= pids_.size();
}

TOpenFiles TOpenFilesCollector::Take() {
    const std::lock_guard lock(mutex_);
    return std::move(files_);
}

TOpenFiles CollectOpenFiles(const char* procRoot) {
    TOpenFilesCollector collector(procRoot);
    collector.Work();
    return collector.Take();
}

}  // namespace purgala
