// Test entry point: a QApplication for the widgets, offscreen by default.
#include <gtest/gtest.h>

#include <QApplication>
#include <ctime>

#include "zvt/app_env.h"

int main(int argc, char **argv) {
    // Offscreen unless a platform is asked for (screenshots.sh runs on xcb).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A fixed zone (UTC+8, no daylight saving), so that local dates are known.
    qputenv("TZ", "Asia/Shanghai");
    tzset();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    dlgtest::unloadSampleStation();
    return result;
}
