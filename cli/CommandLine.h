#pragma once
// The program without its window: --list prints what "&Check Temps" would leave checked (or
// every row as CSV), --clean deletes it as "&Delete" would, both streaming, holding nothing per
// file. Needs no display and no session bus, and only ever reads the configuration.

#include <atomic>
#include <optional>
#include <string>

#include "scan/CheckTemps.h"

namespace purgala::cli {

enum class TMode : std::uint8_t { Window, Help, Version, List, Clean };

struct TCommand {
    TMode mode = TMode::Window;
    bool null = false;    // --list: paths end with NUL
    bool csv = false;     // --list: every row as CSV
    bool dryRun = false;  // --clean: touch nothing
    std::optional<std::string> config;
};

// The command the arguments ask for, or the one line that says why they make none.
struct TParsed {
    TCommand command;
    std::string error;  // empty when the arguments are good
};
TParsed ParseArguments(int argc, char** argv);

// Where a command runs: its output and error descriptors, a flag that stops it after the file
// in hand (a signal handler sets it), and, for tests, the scan's options.
struct TRunContext {
    int out = 1;
    int err = 2;
    const std::atomic<bool>* stop = nullptr;
    TCheckTempsOptions scan;
};

// Runs --list or --clean; the exit status: 0 done, 1 a file or folder failed, the output could
// not be written or the work was stopped, 2 the configuration could not be read.
int Run(const TCommand& command, const TRunContext& context);

// What main() calls first: the exit status, or nothing when the window is to open. Installs
// the signal handlers of a command that works on files.
std::optional<int> Main(int argc, char** argv, const char* version);

}  // namespace purgala::cli
