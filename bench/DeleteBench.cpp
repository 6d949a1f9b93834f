// "&Delete" on a scanned tree against GNU find deleting the same files, each on a fresh copy of
// the synthetic tree; then the tree side alone, to show that removing rows grows linearly.
// "&Delete" with the trash chosen against gio trash moving the same files.
#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "bench/BenchCommands.h"
#include "config/Config.h"
#include "config/PurgalaConfig.h"
#include "platform/Dialogs.h"
#include "platform/DirReader.h"
#include "scan/ResultRows.h"

namespace purgala::bench {

namespace {

std::size_t TmpFilesLeft(const std::string& dir) {
    TResultTree tree;
    ScanFolder(tree, dir, "tmp");
    return FileRows(tree);
}

// The program's own command: scan (not timed), then "&Delete" answered Yes (timed).
double TimedProgramDelete(TFMMain& window, const std::string& dir, std::size_t expected) {
    window.VT->Clear();
    ScanFolder(window.VT->Rows(), dir, "tmp");
    if (FileRows(*window.VT) != expected) {
        throw std::runtime_error("the scan listed " + std::to_string(FileRows(*window.VT)) +
                                 " files, expected " + std::to_string(expected));
    }
    QApplication::processEvents();
    const double seconds = Seconds([&] { window.btnOpenFolderClick(); });
    if (FileRows(*window.VT) != 0 || TmpFilesLeft(dir) != 0) {
        throw std::runtime_error("\"&Delete\" left files behind in " + dir);
    }
    return seconds;
}

std::size_t EntriesIn(const std::string& dir) {
    std::error_code ec;
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != decltype(it)();
         it.increment(ec)) {
        ++count;
    }
    return count;
}

// gio trash on every *.tmp file, the list made beforehand: xargs hands gio as many names per run
// as a command line holds.
double TimedGioTrash(const std::string& dir, const std::string& trash, std::size_t expected) {
    TResultTree tree;
    ScanFolder(tree, dir, "tmp");
    const std::string list = dir + ".list";
    {
        std::ofstream out(list, std::ios::binary);
        for (PVirtualNode n = tree.GetFirst(); n != nullptr; n = tree.GetNext(n)) {
            if (tree.GetNodeLevel(n) > 0) {
                out << tree.GetNodeData(n).FullPath() << '\0';
            }
        }
    }
    const double seconds = Seconds([&] {
        RunQuiet({"xargs", "-0", "-a", list, "gio", "trash"}, kFindEnv);
    });
    std::filesystem::remove(list);
    if (TmpFilesLeft(dir) != 0 || EntriesIn(trash + "/files") != expected) {
        throw std::runtime_error("gio trash left files behind in " + dir);
    }
    return seconds;
}

double TimedFindDelete(const std::string& dir) {
    const double seconds = Seconds([&] {
        RunQuiet({"find", dir, "-type", "f", "-iname", "*.tmp", "-delete"}, kFindEnv);
    });
    if (TmpFilesLeft(dir) != 0) {
        throw std::runtime_error("find left files behind in " + dir);
    }
    return seconds;
}

// `rows` checked rows, all or every other one, in a sub-folder that is not there (of an empty
// folder that is): each file has vanished, so the disk costs next to nothing and the tree's own
// work is what is timed.
double TimedRowDelete(TFMMain& window, const std::string& parent, std::size_t rows,
                      bool everyOther) {
    const ScratchDir scratch(parent);
    const std::string& folder = scratch.Path();
    const TUniqueFd folderFd = OpenFolder(folder.c_str());
    const std::optional<TFolderIdentity> identity =
        folderFd.Valid() ? FolderIdentityOf(folderFd.Get()) : std::nullopt;
    if (!identity) {
        throw std::runtime_error("cannot open " + folder);
    }
    const TScanFolderRef sub =
        TScanFolder::Sub(TScanFolder::Root(folder + "/", identity->identity), "sub");
    TVirtualStringTree& tree = *window.VT;
    tree.Clear();
    tree.BeginUpdate();
    PVirtualNode folderRow = tree.AddChild(nullptr);
    tree.GetNodeData(folderRow).SetText(TFieldKind::FullPath, folder);
    tree.GetNodeData(folderRow).SetText(TFieldKind::FileType, "folder");
    TFileEntryInfo info;
    info.device = identity->identity.device;
    for (std::size_t i = 0; i < rows; ++i) {
        PVirtualNode row = tree.AddChild(folderRow);
        info.inode = i + 1;
        tree.GetNodeData(row).AssignFile(sub, "file" + std::to_string(i) + ".tmp", info);
        const bool checked = !everyOther || i % 2 == 0;
        tree.SetCheckState(row, checked ? TCheckState::Checked : TCheckState::Unchecked);
    }
    tree.SetExpanded(folderRow, true);
    tree.EndUpdate();
    QApplication::processEvents();
    const double seconds = Seconds([&] { window.btnOpenFolderClick(); });
    const std::size_t left = everyOther ? rows / 2 : 0;
    if (FileRows(tree) != left) {
        throw std::runtime_error("rows left: " + std::to_string(FileRows(tree)));
    }
    return seconds;
}

}  // namespace

int RunDelete(const Options& options) {
    const SyntheticTree synthetic(options);
    std::printf("tree: %zu files (%zu *.tmp) in %zu folders under %s; best of %d runs\n",
                synthetic.Files(), synthetic.TmpFiles(), synthetic.Folders(),
                options.parent.c_str(), options.runs);

    // The window as the user has it, shown, with its configuration kept out of the way.
    const ProgramDir programDir(options.parent);
    const MessageHook oldHook = SetMessageHook([](const TMessageRequest& request) {
        return request.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    double ours = 0;
    double find = 0;
    {
        TFMMain window;
        window.resize(1200, 800);
        window.show();
        QApplication::processEvents();

        std::vector<double> oursRuns;
        std::vector<double> findRuns;
        for (int run = 0; run < options.runs; ++run) {
            // Both copies are made before either is timed, so both start equally warm.
            const ScratchDir forUs(options.parent);
            const ScratchDir forFind(options.parent);
            RunQuiet({"cp", "-a", synthetic.Path() + "/.", forUs.Path()});
            RunQuiet({"cp", "-a", synthetic.Path() + "/.", forFind.Path()});
            if (run % 2 == 0) {
                oursRuns.push_back(TimedProgramDelete(window, forUs.Path(), synthetic.TmpFiles()));
                findRuns.push_back(TimedFindDelete(forFind.Path()));
            } else {
                findRuns.push_back(TimedFindDelete(forFind.Path()));
                oursRuns.push_back(TimedProgramDelete(window, forUs.Path(), synthetic.TmpFiles()));
            }
            std::printf("  run %d: Delete %8.1f ms  find -delete %8.1f ms\n", run + 1,
                        oursRuns.back() * 1e3, findRuns.back() * 1e3);
        }
        ours = *std::min_element(oursRuns.begin(), oursRuns.end());
        find = *std::min_element(findRuns.begin(), findRuns.end());
        std::printf("files %zu  Delete %8.1f ms  find -delete %8.1f ms  ratio %.2f\n",
                    synthetic.TmpFiles(), ours * 1e3, find * 1e3, ours / find);

        for (const bool everyOther : {false, true}) {
            for (const std::size_t rows : {std::size_t{50'000}, std::size_t{100'000},
                                           std::size_t{200'000}, std::size_t{400'000}}) {
                const double best = BestOf(options.runs, [&] {
                    return TimedRowDelete(window, options.parent, rows, everyOther);
                });
                std::printf("rows %7zu %-18s %8.1f ms  %6.3f us/row deleted\n", rows,
                            everyOther ? "(every other one)" : "(all checked)", best * 1e3,
                            best * 1e6 / double(everyOther ? rows / 2 : rows));
            }
        }
        window.VT->Clear();
    }
    SetMessageHook(oldHook);
    return 0;
}

int RunTrash(const Options& options) {
    const SyntheticTree synthetic(options);
    std::printf("tree: %zu files (%zu *.tmp) in %zu folders under %s; best of %d runs\n",
                synthetic.Files(), synthetic.TmpFiles(), synthetic.Folders(),
                options.parent.c_str(), options.runs);
    bool haveGio = true;
    try {
        RunQuiet({"gio", "version"});
    } catch (const std::exception&) {
        haveGio = false;
        std::printf("gio is not installed: Purgala's figure only\n");
    }

    const ProgramDir programDir(options.parent);
    const MessageHook oldHook = SetMessageHook([](const TMessageRequest& request) {
        return request.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    // Each run's trash is a fresh one in a scratch home on the tree's file system.
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    std::vector<double> oursRuns;
    std::vector<double> gioRuns;
    {
        TFMMain window;
        window.resize(1200, 800);
        window.show();
        QApplication::processEvents();
        GetConfig().GetRoot()->SetTrash(true);
        for (int run = 0; run < options.runs; ++run) {
            const ScratchDir forUs(options.parent);
            const ScratchDir forGio(options.parent);
            const ScratchDir home(options.parent);
            RunQuiet({"cp", "-a", synthetic.Path() + "/.", forUs.Path()});
            if (haveGio) {
                RunQuiet({"cp", "-a", synthetic.Path() + "/.", forGio.Path()});
            }
            ::setenv("HOME", home.Path().c_str(), 1);
            ::setenv("XDG_DATA_HOME", home.Path().c_str(), 1);
            // Each starts with the copies written out and a trash of its own, the order taking
            // turns between runs.
            const auto ours = [&] {
                const std::string trash = home.Path() + "/Trash";
                RunQuiet({"sync"});
                oursRuns.push_back(TimedProgramDelete(window, forUs.Path(), synthetic.TmpFiles()));
                if (EntriesIn(trash + "/files") != synthetic.TmpFiles() ||
                    EntriesIn(trash + "/info") != synthetic.TmpFiles()) {
                    throw std::runtime_error("the trash does not hold every file moved");
                }
                std::filesystem::rename(trash, home.Path() + "/Trash.ours");
            };
            const auto gio = [&] {
                RunQuiet({"sync"});
                gioRuns.push_back(
                    TimedGioTrash(forGio.Path(), home.Path() + "/Trash", synthetic.TmpFiles()));
                std::filesystem::rename(home.Path() + "/Trash", home.Path() + "/Trash.gio");
            };
            if (!haveGio) {
                ours();
            } else if (run % 2 == 0) {
                ours();
                gio();
            } else {
                gio();
                ours();
            }
            if (haveGio) {
                std::printf("  run %d: Delete to the trash %8.1f ms  gio trash %8.1f ms\n", run + 1,
                            oursRuns.back() * 1e3, gioRuns.back() * 1e3);
            } else {
                std::printf("  run %d: Delete to the trash %8.1f ms\n", run + 1,
                            oursRuns.back() * 1e3);
            }
        }
        window.VT->Clear();
    }
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    SetMessageHook(oldHook);
    const double ours = *std::min_element(oursRuns.begin(), oursRuns.end());
    if (haveGio) {
        const double gio = *std::min_element(gioRuns.begin(), gioRuns.end());
        std::printf("files %zu  Delete to the trash %8.1f ms  gio trash %8.1f ms  ratio %.2f\n",
                    synthetic.TmpFiles(), ours * 1e3, gio * 1e3, ours / gio);
    } else {
        std::printf("files %zu  Delete to the trash %8.1f ms\n", synthetic.TmpFiles(), ours * 1e3);
    }
    return 0;
}

}  // namespace purgala::bench
