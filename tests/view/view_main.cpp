// Test entry point: a QApplication for the windows, offscreen unless a
// platform is asked for (screenshots.sh runs on xcb), in a fixed time zone.
#include <gtest/gtest.h>

#include <QApplication>
#include <ctime>

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef VIEW_DB_DIR
    // The private MariaDB of the build tree (ctest fixture "mariadb").
    if (qEnvironmentVariableIsEmpty("TARNMON_DB_DIR")) qputenv("TARNMON_DB_DIR", VIEW_DB_DIR);
    if (qEnvironmentVariableIsEmpty("TARNMON_MARIADB_SH")) qputenv("TARNMON_MARIADB_SH", VIEW_MARIADB_SH);
#endif
    qputenv("TZ", "Asia/Shanghai");
    tzset();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
