// "&Check Temps" on a whole synthetic tree while many processes hold many files open, against the
// same with none: what gathering the files in use adds. The holders are child processes, each
// with its share of the files open, sleeping until the measurement ends.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "bench/BenchCommands.h"
#include "platform/Dialogs.h"
#include "platform/OpenFiles.h"
#include "platform/UniqueFd.h"

namespace purgala::bench {

namespace {

constexpr int kHolders = 1000;
constexpr int kFilesEach = 20;

// Child processes that each hold `kFilesEach` of the files in `dir` open until the object goes.
class Holders {
public:
    explicit Holders(const std::string& dir) {
        std::vector<std::string> paths;
        for (int i = 0; i < kHolders * kFilesEach; ++i) {
            paths.push_back(dir + "/held-" + std::to_string(i));
            const TUniqueFd fd(::open(paths.back().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
            if (!fd.Valid()) {
                throw std::runtime_error("cannot make " + paths.back());
            }
        }
        int ready[2];
        if (::pipe(ready) != 0) {
            throw std::runtime_error("cannot make a pipe");
        }
        for (int child = 0; child < kHolders; ++child) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                // Only async-signal-safe calls from here: the parent has threads.
                ::close(ready[0]);
                for (int i = 0; i < kFilesEach; ++i) {
                    ::open(paths[static_cast<std::size_t>(child * kFilesEach + i)].c_str(),
                           O_RDONLY);
                }
                const char byte = 1;
                (void)!::write(ready[1], &byte, 1);
                ::close(ready[1]);
                // A small program keeps the files: a holder's own maps cost what a daemon's do,
                // not what this benchmark's would.
                ::execl("/bin/sleep", "sleep", "100000", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            if (pid < 0) {
                throw std::runtime_error("cannot start a holder");
            }
            pids_.push_back(pid);
        }
        ::close(ready[1]);
        char byte = 0;
        for (int child = 0; child < kHolders && ::read(ready[0], &byte, 1) == 1; ++child) {
        }
        ::close(ready[0]);
    }
    ~Holders() {
        for (const pid_t pid : pids_) {
            ::kill(pid, SIGKILL);
        }
        for (const pid_t pid : pids_) {
            ::waitpid(pid, nullptr, 0);
        }
    }
    Holders(const Holders&) = delete;
    Holders& operator=(const Holders&) = delete;

private:
    std::vector<pid_t> pids_;
};

double CheckTemps(const Options& options, const SyntheticTree& synthetic) {
    return BestOf(options.runs, [&] {
        TFMMain window;
        window.resize(1280, 800);
        window.show();
        QApplication::processEvents();
        const double seconds = Seconds([&] {
            window.btnOpenFileClick();
            QApplication::processEvents();
        });
        if (FileRows(*window.VT) != synthetic.Files()) {
            throw std::runtime_error("not every file was listed");
        }
        return seconds;
    });
}

}  // namespace

int RunInUse(const Options& options) {
    const SyntheticTree synthetic(options);
    const ProgramDir program(options.parent);
    const ScratchDir held(options.parent);
    WriteFolderConfig(program, synthetic.Path());
    RunQuiet({"find", synthetic.Path(), "-type", "f", "-printf", ""});  // a warm cache
    std::printf("tree: %zu files in %zu folders; best of %d\n", synthetic.Files(),
                synthetic.Folders(), options.runs);

    const double alone = CheckTemps(options, synthetic);
    std::printf("  %-44s %8.3f s\n", "Check Temps, no holders", alone);
    const Holders holders(held.Path());
    const double collect = BestOf(options.runs, [] {
        TOpenFiles files;
        const double seconds = Seconds([&] { files = CollectOpenFiles(); });
        std::printf("    (%zu files in use)\n", files.Size());
        return seconds;
    });
    std::printf("  %-44s %8.3f s\n", "gathering the files in use alone", collect);
    const double loaded = CheckTemps(options, synthetic);
    std::printf("  %-44s %8.3f s   %+.1f %%\n", "Check Temps, 1,000 holders of 20,000 files",
                loaded, (loaded / alone - 1.0) * 100.0);
    return 0;
}

}  // namespace purgala::bench
