// Every test program runs with one offscreen application object, as the program itself has one.
#include <gtest/gtest.h>

#include <QLocale>
#include <cstdlib>

#include "app/Application.h"

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
