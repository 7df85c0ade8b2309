// Entry point of the Qt test programs (zv_add_gtest QT): a QApplication for
// widgets and SQL driver plugins, offscreen unless a platform is asked for
// (the screenshot scripts run on xcb), in a fixed zone so that local dates
// and archive slots are known; what the fixtures left open ends before the
// application object does.
#include <gtest/gtest.h>

#include <QApplication>
#include <ctime>

#include "zvt/qt_main.h"

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef ZVT_DB_DIR
    // The private MariaDB of the build tree (ctest fixture "mariadb"), also
    // when the program is run by hand.
    if (qEnvironmentVariableIsEmpty("TARNMON_DB_DIR")) qputenv("TARNMON_DB_DIR", ZVT_DB_DIR);
    if (qEnvironmentVariableIsEmpty("TARNMON_MARIADB_SH")) qputenv("TARNMON_MARIADB_SH", ZVT_MARIADB_SH);
#endif
    // UTC+8 without daylight saving: a whole-hour zone away from UTC.
    qputenv("TZ", "Asia/Shanghai");
    tzset();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    for (auto it = zvt::atTestExitHooks().rbegin(); it != zvt::atTestExitHooks().rend(); ++it) (*it)();
    return result;
}
