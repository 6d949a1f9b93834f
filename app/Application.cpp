#include "app/Application.h"

#include <QIcon>

#include "platform/Failures.h"

// The icon lives in purgala_core, a static library: nothing would pull its resources into the
// program unless they are named. Outside any namespace, as Q_INIT_RESOURCE requires.
static void InitPurgalaResources() {
    Q_INIT_RESOURCE(purgala);
}

namespace purgala {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    InitPurgalaResources();
    // Task bars and window switchers show this icon and group the windows with the menu entry
    // of this name; a copy that was never installed has its icon all the same.
    setDesktopFileName(QStringLiteral(PURGALA_APP_ID));
    setWindowIcon(QIcon(QStringLiteral(":/" PURGALA_APP_ID ".png")));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    RunGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

}  // namespace purgala
