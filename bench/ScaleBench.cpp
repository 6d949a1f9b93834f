// The main window's commands on one whole synthetic tree, as a user meets them: scan every file,
// "Check All" off and on, sort by size and by write time, delete everything checked. Each is
// timed with the window showing the rows; the peak memory of the process comes last.
#include <stdlib.h>
#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "app/uMain.h"
#include "bench/BenchCommands.h"
#include "platform/Dialogs.h"

namespace purgala::bench {

namespace {

// Resident memory now, from /proc, beside the peak: what a command holds after it ran.
double ResidentMegabytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    char line[256];
    double kilobytes = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmRSS: %lf kB", &kilobytes) == 1) {
            break;
        }
    }
    std::fclose(status);
    return kilobytes / 1024.0;
}

double PeakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// Processor time of the whole process, every thread: steadier than the wall clock on a machine
// that is busy with other work.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The longest time the GUI thread handled no event while a command ran: a timer due every
// millisecond notes how late it comes.
class GapMeter {
public:
    GapMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    }
    void Start() {
        longest_ = {};
        last_ = Clock::now();
        timer_.start();
    }
    // The gap up to now counts too: a command that handles no event is one long gap.
    double Stop() {
        Tick();
        timer_.stop();
        return std::chrono::duration<double>(longest_).count();
    }

private:
    using Clock = std::chrono::steady_clock;
    void Tick() {
        const Clock::time_point now = Clock::now();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }
    QTimer timer_;
    Clock::time_point last_;
    Clock::duration longest_{};
};

// A command as the user runs it: the handler, then the repaint it leads to. The longest gap is
// shown for the handler alone and for the repaint (the view laying out its rows) after it.
double Command(const char* name, const std::function<void()>& run) {
    GapMeter gaps;
    double inHandler = 0;
    double inRepaint = 0;
    const double cpuBefore = CpuSeconds();
    const double seconds = Seconds([&] {
        gaps.Start();
        run();
        inHandler = gaps.Stop();
        gaps.Start();
        QApplication::processEvents();
        inRepaint = gaps.Stop();
    });
    std::printf(
        "  %-22s %8.2f s   cpu %6.2f s   now %6.0f MB   peak %6.0f MB   longest GUI gap %7.1f ms "
        "(repaint %6.1f ms)\n",
        name, seconds, CpuSeconds() - cpuBefore, ResidentMegabytes(), PeakMegabytes(),
        inHandler * 1e3, inRepaint * 1e3);
    return seconds;
}

}  // namespace

int RunScale(const Options& options) {
    const SyntheticTree synthetic(options);
    const ProgramDir program(options.parent);
    WriteFolderConfig(program, synthetic.Path());
    RunQuiet({"find", synthetic.Path(), "-type", "f", "-printf", ""});  // a warm cache
    std::printf("tree: %zu files in %zu folders; one run each, window showing; %s readers\n",
                synthetic.Files(), synthetic.Folders(),
                options.threads == 0 ? "default" : std::to_string(options.threads).c_str());

    const auto oldHook = SetMessageHook(
        [](const TMessageRequest&) { return QMessageBox::Yes; });  // the delete question
    {
        TFMMain window;
        window.ScanReaders = options.threads;
        window.resize(1280, 800);
        window.show();
        QApplication::processEvents();
        std::printf("  %-22s %8s                  peak %6.0f MB\n", "window shown", "",
                    PeakMegabytes());

        // The same scan with one reader first, for a figure of the same run to compare with.
        if (options.threads != 1) {
            window.ScanReaders = 1;
            Command("Check Temps, 1 reader", [&] { window.btnOpenFileClick(); });
            window.ScanReaders = options.threads;
        }
        Command("Check Temps", [&] { window.btnOpenFileClick(); });
        const std::size_t rows = FileRows(*window.VT);
        if (rows != synthetic.Files()) {
            throw std::runtime_error("listed " + std::to_string(rows) + " files");
        }
        Command("Check All off", [&] { window.cbCheckAll->click(); });
        Command("Check All on", [&] { window.cbCheckAll->click(); });
        auto headerClick = [&](int column) {
            if (window.VT->OnHeaderClick) {
                window.VT->OnHeaderClick(*window.VT, column, Qt::LeftButton);
            }
        };
        Command("sort by File Size", [&] { headerClick(2); });
        Command("sort by Write Time", [&] { headerClick(5); });
        Command("Delete", [&] { window.btnOpenFolderClick(); });
        const std::size_t left = FileRows(*window.VT);
        std::printf("  rows left after Delete: %zu\n", left);
    }
    SetMessageHook(oldHook);
    std::printf("peak memory of the process: %.0f MB\n", PeakMegabytes());
    return 0;
}

}  // namespace purgala::bench
