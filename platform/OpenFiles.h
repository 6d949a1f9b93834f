#pragma once
// The files that running programs hold open or have mapped, by identity, read from /proc. A file
// in use is left alone: deleting it frees no space until it is closed, and can break the program.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/FileFacts.h"

namespace purgala {

struct TFileIdentityHash {
    std::size_t operator()(const TFileIdentity& id) const noexcept {
        return static_cast<std::size_t>(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
    }
};

// A process that holds a file.
struct TFileHolder {
    std::int32_t pid = 0;
    std::string command;  // its name as the kernel keeps it (comm), empty when unreadable
};

class TOpenFiles {
public:
    // The first process found holding `file`, or nullptr when none does.
    const TFileHolder* HolderOf(const TFileIdentity& file) const;
    bool Contains(const TFileIdentity& file) const { return files_.contains(file); }
    bool Empty() const { return files_.empty(); }
    std::size_t Size() const { return files_.size(); }

    // The process `pid` holds `file`.
    void Add(const TFileIdentity& file, std::int32_t pid, const std::string& command);

private:
    std::vector<TFileHolder> holders_;
    std::unordered_map<TFileIdentity, std::uint32_t, TFileIdentityHash> files_;
};

// Every regular file that a process under `procRoot` holds open (its fd folder) or has mapped
// (its maps file). Processes this user may not read, and those that end meanwhile, are passed
// over without a word. Safe to run on any thread: it touches nothing but what it returns.
TOpenFiles CollectOpenFiles(const char* procRoot = "/proc");

}  // namespace purgala
