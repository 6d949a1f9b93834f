#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "config/Config.h"
#include "platform/DirReader.h"
#include "platform/ResultTree.h"
#include "platform/VirtualTree.h"

extern char** environ;

namespace purgala::bench {

namespace {

constexpr std::size_t kFilesPerFolder = 100;
constexpr std::size_t kFanOut = 8;

std::string FolderName(std::size_t k) {
    char buffer[64];
    if (k % 13 == 5) {
        std::snprintf(buffer, sizeof buffer, "dir with blank %zu", k);
    } else if (k % 17 == 7) {
        std::snprintf(buffer, sizeof buffer, ".hid%zu", k);
    } else {
        std::snprintf(buffer, sizeof buffer, "d%04zu", k);
    }
    return buffer;
}

// File i's name; every tenth is a *.tmp, the others come close without matching.
std::string FileName(std::size_t i, bool& isTmp) {
    static const char* const kTmpSuffix[] = {".tmp", ".TMP", ".Tmp"};
    char buffer[96];
    isTmp = i % 10 == 0;
    if (isTmp) {
        const char* suffix = kTmpSuffix[(i / 10) % 3];
        if (i % 70 == 0) {
            std::snprintf(buffer, sizeof buffer, "bad\xFF\xFE %zu%s", i, suffix);
        } else if (i % 110 == 0) {
            std::snprintf(buffer, sizeof buffer, ".~lock%zu%s", i, suffix);
        } else {
            std::snprintf(buffer, sizeof buffer, "tmpfile_%06zu%s", i, suffix);
        }
        return buffer;
    }
    switch (i % 10) {
        case 1:
            std::snprintf(buffer, sizeof buffer, "report_%zu.tmp.bak", i);
            break;
        case 2:
            std::snprintf(buffer, sizeof buffer, "x%zu.tmpx", i);
            break;
        case 3:
            std::snprintf(buffer, sizeof buffer, "file with blank %zu.txt", i);
            break;
        case 4:
            std::snprintf(buffer, sizeof buffer, ".hidden_%zu", i);
            break;
        case 5:
            std::snprintf(buffer, sizeof buffer, "n\xE9\xFF_%zu.dat", i);
            break;
        default:
            std::snprintf(buffer, sizeof buffer, "data_%06zu.bin", i);
            break;
    }
    return buffer;
}

}  // namespace

SyntheticTree::SyntheticTree(const Options& options) : keep_(options.keep) {
    std::string pattern = options.parent + "/purgala-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder under " + options.parent);
    }
    path_ = pattern;
    try {
        // Folder k hangs below folder (k - 1) / kFanOut: a few levels deep, like real caches.
        folders_ = std::max<std::size_t>(1, options.files / kFilesPerFolder);
        std::vector<std::string> paths(folders_);
        paths[0] = path_;
        for (std::size_t k = 1; k < folders_; ++k) {
            paths[k] = paths[(k - 1) / kFanOut] + "/" + FolderName(k);
            if (::mkdir(paths[k].c_str(), 0755) != 0) {
                throw std::runtime_error("cannot make " + paths[k]);
            }
        }
        for (std::size_t k = 0; k < folders_; ++k) {
            const TUniqueFd folder = OpenFolder(paths[k].c_str());
            if (!folder.Valid()) {
                throw std::runtime_error("cannot open " + paths[k]);
            }
            for (std::size_t i = k; i < options.files; i += folders_) {
                bool isTmp = false;
                const std::string name = FileName(i, isTmp);
                const TUniqueFd file(
                    ::openat(folder.Get(), name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
                if (!file.Valid()) {
                    throw std::runtime_error("cannot make " + paths[k] + "/" + name);
                }
                ++files_;
                tmpFiles_ += isTmp ? 1 : 0;
            }
        }
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
        throw;
    }
}

SyntheticTree::~SyntheticTree() {
    if (keep_) {
        std::fprintf(stderr, "tree kept at %s\n", path_.c_str());
        return;
    }
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScratchDir::ScratchDir(const std::string& parent) {
    std::string pattern = parent + "/purgala-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder under " + parent);
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ProgramDir::ProgramDir(const std::string& parent) : dir_(parent) {
    SetProgramDirForTesting(dir_.Path());
    ResetConfigForTesting();
}

ProgramDir::~ProgramDir() {
    SetProgramDirForTesting({});
    ResetConfigForTesting();
}

std::size_t FileRows(const TResultTree& tree) {
    std::size_t rows = 0;
    for (PVirtualNode folder = tree.GetFirstChild(nullptr); folder;
         folder = tree.GetNextSibling(folder)) {
        rows += tree.ChildCount(folder);
    }
    return rows;
}

std::size_t FileRows(const TVirtualStringTree& tree) {
    return FileRows(tree.Rows());
}

double Seconds(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count();
}

double BestOf(int runs, const std::function<double()>& run) {
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < runs; ++i) {
        best = std::min(best, run());
    }
    return best;
}

void RunQuiet(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& var : env) {
        envp.push_back(const_cast<char*>(var.c_str()));
    }
    for (char** var = environ; *var != nullptr; ++var) {
        const std::string_view name(*var, std::strcspn(*var, "="));
        bool overridden = false;
        for (const std::string& mine : env) {
            overridden = overridden || (mine.size() > name.size() && mine.starts_with(name) &&
                                        mine[name.size()] == '=');
        }
        if (!overridden) {
            envp.push_back(*var);
        }
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(argv[0] + " failed");
    }
}

bool HasProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) {
            return true;
        }
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return false;
}

std::size_t HeapInUse() {
    // Large blocks are mapped on their own and counted apart.
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void WriteFolderConfig(const ProgramDir& program, const std::string& folder) {
    std::string text(DefaultConfigText);
    const std::string empty = "\t<folders>\t</folders>";
    text.replace(
        text.find(empty), empty.size(),
        "\t<folders><folder name=\"bench\" fullpath=\"" + folder + "\" ext=\"\"/>\t</folders>");
    std::FILE* file = std::fopen((program.Path() + "/PurgalaConfig.xml").c_str(), "wb");
    const bool written =
        file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!written) {
        throw std::runtime_error("cannot write the configuration");
    }
}

}  // namespace purgala::bench
