// Every test program runs with one offscreen application object, as the program itself has one.
#include <gtest/gtest.h>

#include <QLocale>
#include <cstdlib>

#include "app/Application.h"

// Qt keeps a few objects of its own until exit (event points, shared-pointer counts); leaks
// anywhere else still fail the run under LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6Core.so\nleak:libQt6Gui.so\nleak:libQt6Widgets.so\nleak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A fixed locale and time zone make the formatted texts predictable; tests that need another
    // one set it themselves.
    ::setenv("TZ", "UTC", 0);
    purgala::TApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
