// Loading the stack library by bare name.
#include <QFile>

#include <gtest/gtest.h>

#include "dlunix.h"
#include "testdir.h"
#include "zv_ops.h"

namespace {

TEST(Loader, LoadsBareNameFromTheWorkingDirectory) {
    ScopedWorkDir dir;
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZV_LIB_PATH), dir.file("libzorvan_ld.so")));
    void *handle = open_zorvan_dl();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(dp, handle);
    EXPECT_NE(get_fun_ad(handle, "ai_init_envir"), nullptr);
    EXPECT_EQ(get_fun_ad(handle, "no_such_operation"), nullptr);
    EXPECT_EQ(get_fun_ad(nullptr, "ai_init_envir"), nullptr);
}

TEST(Loader, LookupFillsEveryOperationPointer) {
    ScopedWorkDir dir;
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZV_LIB_PATH), dir.file("libzorvan_ld.so")));
    ASSERT_NE(open_zorvan_dl(), nullptr);
    zv_lookup_operations(dp);
    int missing = 0;
#define ZV_COUNT_MISSING(name) missing += name##_ad == nullptr;
    ZORVAN_OPERATIONS(ZV_COUNT_MISSING)
#undef ZV_COUNT_MISSING
    EXPECT_EQ(missing, 0);
    zv_lookup_operations(nullptr);
    EXPECT_EQ(ai_init_envir_ad, nullptr);
}

TEST(Loader, MissingLibraryGivesNullAndLeavesHandleUnset) {
    ScopedWorkDir dir;
    testing::internal::CaptureStdout();
    EXPECT_EQ(open_zorvan_dl(), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(dp, nullptr);
    EXPECT_NE(out.find("error:"), std::string::npos) << out;
    EXPECT_NE(out.find("libzorvan_ld.so"), std::string::npos) << out;
}

}  // namespace
