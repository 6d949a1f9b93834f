// The tests of the work (configuration, scan, rules, rows, deletion) run with a QCoreApplication
// and link no widget: the command line runs the same code without a display.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocale>
#include <cstdlib>

// Qt keeps a few objects of its own until exit; leaks anywhere else still fail the run under
// LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6Core.so\n";
}

int main(int argc, char** argv) {
    // A fixed locale and time zone make the formatted texts predictable; tests that need another
    // one set it themselves.
    ::setenv("TZ", "UTC", 0);
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
