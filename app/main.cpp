#include "app/Application.h"
#include "app/uMain.h"
#include "cli/CommandLine.h"

int main(int argc, char** argv) {
    // The command line is answered before the toolkit starts: it needs no display, and none of
    // the toolkit's own options are taken.
    if (const std::optional<int> status = purgala::cli::Main(argc, argv, PURGALA_VERSION)) {
        return *status;
    }
    purgala::TApplication app(argc, argv);
    QApplication::setApplicationName("Purgala");
    purgala::TFMMain window;
    window.showMaximized();
    return QApplication::exec();
}
