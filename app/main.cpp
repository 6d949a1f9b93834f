#include "app/Application.h"
#include "app/uMain.h"

int main(int argc, char** argv) {
    purgala::TApplication app(argc, argv);
    QApplication::setApplicationName("Purgala");
    purgala::TFMMain window;
    window.showMaximized();
    return QApplication::exec();
}
