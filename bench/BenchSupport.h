#pragma once
// What the measurements share: options, a synthetic folder tree, wall-clock timing, running an
// outside program, and the heap in use.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace purgala {
class TResultTree;
class TVirtualStringTree;
}  // namespace purgala

namespace purgala::bench {

struct Options {
    std::size_t files = 200'000;
    int runs = 5;
    std::string parent = "/tmp";    // where the synthetic tree is made
    bool keep = false;              // leave the tree on disk for a look afterwards
    std::size_t folders = 100'000;  // configured folders, for the folder-list measurement
    unsigned threads = 0;           // the scan's reader threads; 0: one per core
};

// A tree of `files` files over nested folders, about a tenth of them named *.tmp in mixed case,
// with odd names among the rest (blanks, bytes that are not UTF-8, leading dots, near misses such
// as x.tmp.bak). Made in a fresh folder under the parent and removed with the object.
class SyntheticTree {
public:
    explicit SyntheticTree(const Options& options);
    ~SyntheticTree();
    SyntheticTree(const SyntheticTree&) = delete;
    SyntheticTree& operator=(const SyntheticTree&) = delete;

    const std::string& Path() const { return path_; }
    std::size_t Files() const { return files_; }
    std::size_t TmpFiles() const { return tmpFiles_; }
    std::size_t Folders() const { return folders_; }

private:
    std::string path_;
    bool keep_;
    std::size_t files_ = 0;
    std::size_t tmpFiles_ = 0;
    std::size_t folders_ = 0;
};

// A fresh empty folder under `parent`, removed with everything in it when the object goes.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& parent);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A scratch folder that stands in for the program's folder while the object lives, so that the
// configuration file of a run is never written beside the benchmark program.
class ProgramDir {
public:
    explicit ProgramDir(const std::string& parent);
    ~ProgramDir();
    ProgramDir(const ProgramDir&) = delete;
    ProgramDir& operator=(const ProgramDir&) = delete;
    const std::string& Path() const { return dir_.Path(); }

private:
    ScratchDir dir_;
};

// Writes the default document with `folder` as its one folder, every file listed, into the
// program folder.
void WriteFolderConfig(const ProgramDir& program, const std::string& folder);

// GNU find in the C locale: its fastest, and names that are not UTF-8 still match.
inline const std::vector<std::string> kFindEnv = {"LC_ALL=C"};

// The rows of a result tree below its folder rows.
std::size_t FileRows(const TResultTree& tree);
std::size_t FileRows(const TVirtualStringTree& tree);

// The wall-clock time of one call, in seconds.
double Seconds(const std::function<void()>& run);

// The smallest of `runs` results of `run`, which measures one run itself and returns its
// seconds, so that it can leave setting up and tearing down out of the figure.
double BestOf(int runs, const std::function<double()>& run);

// Runs a program (looked up in PATH) with its output thrown away and `env` ("NAME=value")
// added to the environment, and waits for it; throws when it cannot start or fails.
void RunQuiet(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

// Whether a program is found in PATH.
bool HasProgram(const std::string& name);

// Bytes the allocator has handed out and not yet taken back, mapped blocks included.
std::size_t HeapInUse();

}  // namespace purgala::bench
