// Test entry point: a QApplication for the main window and the SQL driver
// plugins, offscreen.
#include <QApplication>

#include <gtest/gtest.h>

#include <ctime>

#include "zvt/archive.h"

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The fixture's server (ctest fixture "mariadb"), also when run by hand.
    if (!qEnvironmentVariableIsSet("TARNMON_DB_DIR")) qputenv("TARNMON_DB_DIR", ARCHIVE_DB_DIR);
    if (!qEnvironmentVariableIsSet("TARNMON_MARIADB_SH")) qputenv("TARNMON_MARIADB_SH", ARCHIVE_MARIADB_SH);
    // Slot times are checked on a whole-hour zone away from UTC.
    qputenv("TZ", "Asia/Shanghai");
    tzset();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    archtest::unloadStation();
    return rc;
}
