#include <QCoreApplication>

#include <gtest/gtest.h>

// The SQL drivers are plugins; loading them needs an application object.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
