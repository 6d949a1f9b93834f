#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "app/Application.h"
#include "app/uMain.h"

namespace {

constexpr const char* kUsage =
    "Usage: purgala [--help | --version]\n"
    "Lists the files of the folders you keep (each with one extension, or every file) and\n"
    "deletes the ones you leave checked. Without arguments it opens its window.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n";

// Writes `text` to standard output; 0 when it got there, 1 otherwise (a closed pipe, a full disk).
int Print(const char* text) {
    if (std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "purgala: cannot write to standard output: %s\n",
                     std::strerror(errno));
        return 1;
    }
    return 0;
}

// The exit status when the arguments ask for something other than the window. Decided before
// the toolkit starts, so that it needs no display and none of its own options are taken.
std::optional<int> HandleArguments(int argc, char** argv) {
    if (argc <= 1) {
        return std::nullopt;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") != 0 && std::strcmp(argv[i], "--version") != 0) {
            std::fprintf(stderr, "purgala: unknown argument \"%s\" (see purgala --help)\n",
                         argv[i]);
            return 2;
        }
    }
    return Print(std::strcmp(argv[1], "--help") == 0 ? kUsage : "Purgala " PURGALA_VERSION "\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = HandleArguments(argc, argv)) {
        return *status;
    }
    purgala::TApplication app(argc, argv);
    QApplication::setApplicationName("Purgala");
    purgala::TFMMain window;
    window.showMaximized();
    return QApplication::exec();
}
