// "&Delete" where every checked row fails: the time until the failure message is ready, and the
// time the real message box takes to show with its details open, every failure listed.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "app/uMain.h"
#include "bench/BenchCommands.h"
#include "platform/Dialogs.h"

namespace purgala::bench {

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Shows the request in a real box, opens its details, and closes it once drawn; the seconds.
double ShowWithDetails(const TMessageRequest& request) {
    const MessageHook hook = SetMessageHook({});
    const Clock::time_point start = Clock::now();
    double seconds = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        for (QPushButton* button : box->findChildren<QPushButton*>()) {
            if (button->text().startsWith("Show Details")) {
                button->click();
            }
        }
        box->repaint();
        QApplication::processEvents();
        seconds = Since(start);
        box->accept();
    });
    ShowMessage(request);
    SetMessageHook(hook);
    return seconds;
}

}  // namespace

int RunFailures(const Options& options) {
    const ProgramDir program(options.parent);
    std::printf("%zu checked rows that all fail; best of %d\n", options.files, options.runs);
    double show = 1e9;
    const double command = BestOf(options.runs, [&] {
        TFMMain window;
        window.show();
        TVirtualStringTree& tree = *window.VT;
        PVirtualNode folder = tree.AddChild(nullptr);
        tree.GetNodeData(folder).SetText(TFieldKind::FullPath, program.Path());
        for (std::size_t i = 0; i < options.files; ++i) {
            PVirtualNode row = tree.AddChild(folder);
            // Never scanned, so never deleted: each fails with its reason.
            tree.GetNodeData(row).SetText(TFieldKind::FullPath,
                                          program.Path() + "/file" + std::to_string(i) + ".tmp");
            tree.SetCheckState(row, TCheckState::Checked);
        }
        QApplication::processEvents();
        Clock::time_point start;
        double ready = 0;
        TMessageRequest failure;
        const MessageHook old = SetMessageHook([&](const TMessageRequest& request) {
            if (request.buttons.testFlag(QMessageBox::Yes)) {
                start = Clock::now();
                return QMessageBox::Yes;
            }
            ready = Since(start);
            failure = request;
            return QMessageBox::Ok;
        });
        window.btnOpenFolderClick();
        SetMessageHook(old);
        if (failure.detailedText.count('\n') + 1 != static_cast<qsizetype>(options.files)) {
            throw std::runtime_error("the details do not list every failure");
        }
        show = std::min(show, ShowWithDetails(failure));
        return ready;
    });
    std::printf("  %-36s %8.3f s\n", "Delete until the message is ready", command);
    std::printf("  %-36s %8.3f s\n", "message box shown with its details", show);
    return 0;
}

}  // namespace purgala::bench
