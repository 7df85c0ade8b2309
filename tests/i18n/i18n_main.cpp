// Test entry point: a QApplication for the forms, offscreen, in a fixed zone.
#include <gtest/gtest.h>

#include <QApplication>
#include <ctime>

#include "zvt/app_env.h"

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "Asia/Shanghai");
    tzset();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    dlgtest::unloadSampleStation();
    return result;
}
