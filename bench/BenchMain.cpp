// bench_purgala COMMAND [--files N] [--runs N] [--dir PARENT] [--keep] [--folders N] [--threads N]
//
// Plain timing runs of the program's heavy paths on a synthetic folder tree. Each command prints
// its figures; new measurements are added as commands to the table below.
#include <QApplication>
#include <QLocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "bench/BenchCommands.h"
#include "bench/BenchSupport.h"

namespace {

using purgala::bench::Options;

struct Command {
    const char* name;
    const char* help;
    int (*run)(const Options&);
};

const Command kCommands[] = {
    {"scan", "ScanFolder against GNU find, *.tmp and all files; memory per row; with keep patterns",
     purgala::bench::RunScan},
    {"texts", "FileTimeToText per call", purgala::bench::RunTexts},
    {"sort", "header sort of the file rows in memory, by size and by time",
     purgala::bench::RunSort},
    {"delete", "safe deletion of the *.tmp files against find -delete", purgala::bench::RunDelete},
    {"trash", "the *.tmp files (20,000 by default) to the trash, against gio trash",
     purgala::bench::RunTrash},
    {"scale", "the main window's commands on a whole tree, with peak memory",
     purgala::bench::RunScale},
    {"folders", "load, Check Temps and the settings dialog with many configured empty folders",
     purgala::bench::RunFolders},
    {"inuse", "Check Temps with 1,000 processes holding 20,000 files open, and without",
     purgala::bench::RunInUse},
    {"failures", "Delete where every checked row fails: the message and its details",
     purgala::bench::RunFailures},
};

void Usage() {
    std::fprintf(stderr,
                 "usage: bench_purgala COMMAND [--files N] [--runs N] [--dir PARENT] [--keep] "
                 "[--folders N] [--threads N]\n"
                 "  --files N     files in the synthetic tree (default 200000)\n"
                 "  --runs N      timed runs of each case; the best counts (default 5)\n"
                 "  --dir PARENT  folder in which the tree is made (default /tmp)\n"
                 "  --keep        leave the tree on disk\n"
                 "  --folders N   configured folders for 'folders' (default 100000)\n"
                 "  --threads N   reader threads of the scan (default: one per core)\n"
                 "commands:\n");
    for (const Command& command : kCommands) {
        std::fprintf(stderr, "  %-8s %s\n", command.name, command.help);
    }
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--files" && hasValue) {
            options.files = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--runs" && hasValue) {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--dir" && hasValue) {
            options.parent = argv[++i];
        } else if (arg == "--folders" && hasValue) {
            options.folders = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--threads" && hasValue) {
            options.threads = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--keep") {
            options.keep = true;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    Options options;
    if (argc < 2 || !ParseOptions(argc, argv, options)) {
        Usage();
        return 2;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0) {
            try {
                return command.run(options);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "bench_purgala %s: %s\n", command.name, e.what());
                return 1;
            }
        }
    }
    Usage();
    return 2;
}
