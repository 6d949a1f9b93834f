// A long folder list: loading the document, "&Check Temps" over every folder (each one empty, so
// the list itself is what costs), and the settings dialog reading the list and saving it.
#include <sys/stat.h>

#include <QApplication>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "app/uMain.h"
#include "bench/BenchCommands.h"
#include "config/Config.h"
#include "config/uOptions.h"
#include "platform/Dialogs.h"

namespace purgala::bench {

int RunFolders(const Options& options) {
    const ScratchDir root(options.parent);
    const ProgramDir program(options.parent);
    std::string elements;
    for (std::size_t i = 0; i < options.folders; ++i) {
        const std::string path = root.Path() + "/f" + std::to_string(i);
        if (::mkdir(path.c_str(), 0755) != 0) {
            throw std::runtime_error("cannot make " + path);
        }
        elements +=
            "<folder name=\"f" + std::to_string(i) + "\" fullpath=\"" + path + "\" ext=\"tmp\"/>";
    }
    std::string text(DefaultConfigText);
    const std::string empty = "\t<folders>\t</folders>";
    text.replace(text.find(empty), empty.size(), "<folders>" + elements + "</folders>");
    std::FILE* file = std::fopen((program.Path() + "/PurgalaConfig.xml").c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        std::fclose(file) != 0) {
        throw std::runtime_error("cannot write the configuration");
    }
    std::printf("%zu configured folders, each empty; best of %d\n", options.folders, options.runs);

    const double load = BestOf(options.runs, [] {
        ResetConfigForTesting();
        return Seconds([] { GetConfig(); });
    });
    std::printf("  %-28s %8.3f s\n", "load the document", load);

    int messages = 0;
    const auto oldHook = SetMessageHook([&messages](const TMessageRequest&) {
        ++messages;
        return QMessageBox::Ok;
    });
    {
        TFMMain window;
        window.show();
        QApplication::processEvents();
        const double check = BestOf(options.runs, [&window] {
            return Seconds([&window] {
                window.btnOpenFileClick();
                QApplication::processEvents();
            });
        });
        if (window.VT->RootNodeCount() != options.folders) {
            throw std::runtime_error("listed " + std::to_string(window.VT->RootNodeCount()) +
                                     " folders");
        }
        std::printf("  %-28s %8.3f s\n", "Check Temps", check);
    }
    double show = 0;
    const double close = BestOf(options.runs, [&show] {
        TfmSetting dialog;
        show = Seconds([&dialog] {
            dialog.show();
            QApplication::processEvents();
        });
        return Seconds([&dialog] { dialog.btnExitClick(); });
    });
    std::printf("  %-28s %8.3f s\n", "Setting: show the list", show);
    std::printf("  %-28s %8.3f s\n", "Setting: close and save", close);
    SetMessageHook(oldHook);
    if (messages != 0 ||
        GetConfig().GetRoot()->GetFolders()->GetCount() != static_cast<int>(options.folders)) {
        throw std::runtime_error("the folder list did not survive the settings dialog");
    }
    return 0;
}

}  // namespace purgala::bench
