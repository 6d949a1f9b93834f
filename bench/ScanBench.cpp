// The scan of one configured folder into a real result tree, against GNU find doing the same
// walk and printing what a row holds (path, size, access and write time), and against fd (when
// installed as fdfind) reading folders on every core with a stat for every file; then the same
// scan with keep patterns that match nothing and with one that keeps a big folder.
#include <time.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BenchCommands.h"
#include "platform/VirtualTree.h"
#include "scan/ResultRows.h"
#include "scan/Scanner.h"
#include "util/FileTime.h"

namespace purgala::bench {

namespace {

std::vector<std::string> FindCommand(const std::string& dir, bool tmpOnly) {
    std::vector<std::string> argv = {"find", dir, "-type", "f"};
    if (tmpOnly) {
        argv.insert(argv.end(), {"-iname", "*.tmp"});
    }
    argv.insert(argv.end(), {"-printf", "%p\t%s\t%A@\t%T@\n"});
    return argv;
}

// Regular files and links, each one stat'ed for its time, everything hidden included.
std::vector<std::string> FdCommand(const std::string& dir, bool tmpOnly) {
    std::vector<std::string> argv = {"fdfind",           "-uu",       "-tf", "-tl",
                                     "--changed-before", "2100-01-01"};
    if (tmpOnly) {
        argv.insert(argv.end(), {"-e", "tmp"});
    }
    argv.insert(argv.end(), {".", dir});
    return argv;
}

// One scan into a fresh tree; the reader threads' start and the scan are timed, not the tree's
// teardown.
double TimedScan(const std::string& dir, std::string_view ext, std::size_t expectedRows,
                 unsigned threads, std::string_view keep = {}) {
    TResultTree tree;
    const double seconds = Seconds([&] { ScanFolder(tree, dir, ext, {}, threads, keep); });
    if (FileRows(tree) != expectedRows) {
        throw std::runtime_error("scan listed " + std::to_string(FileRows(tree)) +
                                 " files, expected " + std::to_string(expectedRows));
    }
    return seconds;
}

struct MemoryFigures {
    double perRow = 0;       // right after the scan
    double perRowShown = 0;  // once the view has laid the rows out
    double pathBytes = 0;    // the average full path, a part of perRow
};

MemoryFigures MeasureMemory(const std::string& dir, std::string_view ext) {
    // Shown before the scan, so that the window's own buffers are not counted as rows.
    TVirtualStringTree tree;
    for (int i = 0; i < 6; ++i) {
        tree.Header().Columns().Add();
    }
    tree.resize(1000, 700);
    tree.show();
    QApplication::processEvents();
    const std::size_t before = HeapInUse();
    ScanFolder(tree.Rows(), dir, ext);
    const std::size_t afterScan = HeapInUse();
    QApplication::processEvents();
    const std::size_t afterShow = HeapInUse();
    const auto rows = static_cast<double>(FileRows(tree));
    std::size_t pathBytes = 0;
    for (PVirtualNode row = tree.GetFirst(); row != nullptr; row = tree.GetNext(row)) {
        if (tree.GetNodeLevel(row) > 0) {
            pathBytes += tree.GetNodeData(row).FullPath().size();
        }
    }
    return {static_cast<double>(afterScan - before) / rows,
            static_cast<double>(afterShow - before) / rows, static_cast<double>(pathBytes) / rows};
}

void Case(const char* title, const SyntheticTree& synthetic, const Options& options,
          std::string_view ext, std::size_t expectedRows) {
    const std::string& dir = synthetic.Path();
    const bool tmpOnly = !ext.empty();
    // Warm the cache, and make sure both sides work, before anything is timed.
    RunQuiet(FindCommand(dir, tmpOnly), kFindEnv);
    TimedScan(dir, ext, expectedRows, options.threads);
    const bool hasFd = HasProgram("fdfind");
    if (hasFd) {
        RunQuiet(FdCommand(dir, tmpOnly));
    }

    const double ours =
        BestOf(options.runs, [&] { return TimedScan(dir, ext, expectedRows, options.threads); });
    const double find = BestOf(options.runs, [&] {
        return Seconds([&] { RunQuiet(FindCommand(dir, tmpOnly), kFindEnv); });
    });
    const double fd =
        hasFd ? BestOf(options.runs,
                       [&] { return Seconds([&] { RunQuiet(FdCommand(dir, tmpOnly)); }); })
              : 0;
    const MemoryFigures memory = MeasureMemory(dir, ext);
    std::printf(
        "%-10s rows %8zu  ScanFolder %8.1f ms  find %8.1f ms  ratio %.2f  "
        "bytes/row %.0f (path %.0f of them; after showing %.0f)\n",
        title, expectedRows, ours * 1e3, find * 1e3, ours / find, memory.perRow, memory.pathBytes,
        memory.perRowShown);
    if (hasFd) {
        std::printf("%-10s fdfind %8.1f ms  ScanFolder / fdfind %.2f\n", "", fd * 1e3, ours / fd);
    }
}

// Ten patterns of the kinds users write, none of which matches a name of the synthetic tree.
constexpr std::string_view kTenMissing =
    "mozilla/;*.lock;**/shader-cache/;/build/;node_modules/;*.swp;.git/;cache/*/index;*~;"
    "[Tt]humbs.db";
// The first folder below the top and everything in it: about an eighth of the tree.
constexpr std::string_view kOneBig = "/d0001/";

std::size_t RowsOf(const std::string& dir, std::string_view ext, std::string_view keep) {
    TResultTree tree;
    ScanFolder(tree, dir, ext, {}, 0, keep);
    return FileRows(tree);
}

// The processor time of every thread of the process, in seconds: unlike the wall clock it hardly
// moves when other programs share the machine.
double CpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The cost of keep patterns: none, ten that match nothing, one that keeps a big folder. They are
// timed in turns, each run in another order, so that a busy moment of the machine falls on each
// alike; the best wall time and the best processor time of each count.
void KeepCase(const char* title, const SyntheticTree& synthetic, const Options& options,
              std::string_view ext, std::size_t expectedRows) {
    const std::string& dir = synthetic.Path();
    const std::size_t bigRows = RowsOf(dir, ext, kOneBig);
    if (RowsOf(dir, ext, kTenMissing) != expectedRows || bigRows >= expectedRows) {
        throw std::runtime_error("the keep patterns do not match as planned");
    }
    const std::string_view keeps[] = {{}, kTenMissing, kOneBig};
    const std::size_t rows[] = {expectedRows, expectedRows, bigRows};
    double wall[3] = {1e9, 1e9, 1e9};
    double cpu[3] = {1e9, 1e9, 1e9};
    for (int run = 0; run < options.runs * 2; ++run) {
        for (int turn = 0; turn < 3; ++turn) {
            const int k = (run + turn) % 3;
            const double cpuBefore = CpuSeconds();
            wall[k] = std::min(wall[k], TimedScan(dir, ext, rows[k], options.threads, keeps[k]));
            cpu[k] = std::min(cpu[k], CpuSeconds() - cpuBefore);
        }
    }
    std::printf(
        "%-10s keep none       %8.1f ms  cpu %8.1f ms  (%zu rows)\n"
        "%-10s keep ten missing %7.1f ms  cpu %8.1f ms  (%+.1f%% wall, %+.1f%% cpu)\n"
        "%-10s keep one big     %7.1f ms  cpu %8.1f ms  (%zu rows)\n",
        title, wall[0] * 1e3, cpu[0] * 1e3, rows[0], "", wall[1] * 1e3, cpu[1] * 1e3,
        (wall[1] / wall[0] - 1) * 100, (cpu[1] / cpu[0] - 1) * 100, "", wall[2] * 1e3, cpu[2] * 1e3,
        rows[2]);
}

}  // namespace

int RunScan(const Options& options) {
    const SyntheticTree synthetic(options);
    std::printf(
        "tree: %zu files (%zu *.tmp) in %zu folders under %s; best of %d runs; %u readers\n",
        synthetic.Files(), synthetic.TmpFiles(), synthetic.Folders(), options.parent.c_str(),
        options.runs, TScanPool(options.threads).Readers());
    Case("ext tmp", synthetic, options, "tmp", synthetic.TmpFiles());
    Case("all files", synthetic, options, "", synthetic.Files());
    KeepCase("ext tmp", synthetic, options, "tmp", synthetic.TmpFiles());
    KeepCase("all files", synthetic, options, "", synthetic.Files());
    return 0;
}

int RunTexts(const Options& options) {
    constexpr int kCalls = 200'000;
    std::size_t bytes = 0;  // keeps the calls from being optimised away
    const double best = BestOf(options.runs, [&] {
        return Seconds([&] {
            for (int i = 0; i < kCalls; ++i) {
                // A spread of dates over twenty years, times of day included.
                bytes += FileTimeToText(TFileTime{1'000'000'000 + std::int64_t{i} * 3'163}).size();
            }
        });
    });
    std::printf("FileTimeToText: %.0f ns per call (%zu bytes made)\n", best / kCalls * 1e9, bytes);
    return 0;
}

}  // namespace purgala::bench
