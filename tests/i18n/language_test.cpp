// The language choice: the environment before syscfg.ini, locale names cut to
// their language, Chinese when nothing (or nothing known) is asked for.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "uilanguage.h"

namespace {

struct Choice {
    const char *name;
    const char *env;     // nullptr: TARNMON_LANG unset
    const char *syscfg;  // nullptr: no syscfg.ini
    const char *expected;
};

class LanguageChoice : public ::testing::TestWithParam<Choice> {
protected:
    void TearDown() override { qunsetenv("TARNMON_LANG"); }
};

TEST_P(LanguageChoice, FollowsTheEnvironmentThenSyscfg) {
    const Choice &c = GetParam();
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("syscfg.ini"));
    if (c.syscfg != nullptr) {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.syscfg);
    }
    if (c.env != nullptr)
        qputenv("TARNMON_LANG", c.env);
    else
        qunsetenv("TARNMON_LANG");
    EXPECT_EQ(uilang::requested(ini), QString::fromLatin1(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LanguageChoice,
    ::testing::Values(Choice{"Nothing", nullptr, nullptr, "zh"},
                      Choice{"SyscfgWithoutUiSection", nullptr, "[mysqlcfg]\nport=3306\n", "zh"},
                      Choice{"Syscfg", nullptr, "; comment\n[mysqlcfg]\nport=1\n[ui]\nlanguage = en\n", "en"},
                      Choice{"EnvironmentBeforeSyscfg", "en", "[ui]\nlanguage=zh\n", "en"},
                      Choice{"ChineseEnvironmentBeforeSyscfg", "zh_CN.UTF-8", "[ui]\nlanguage=en\n", "zh"},
                      Choice{"EmptyEnvironmentCountsAsUnset", "", "[ui]\nlanguage=en\n", "en"},
                      Choice{"LocaleNameGivesItsLanguage", "en_GB.UTF-8", nullptr, "en"},
                      Choice{"UpperCase", nullptr, "[ui]\nlanguage=EN-us\n", "en"}),
    [](const ::testing::TestParamInfo<Choice> &info) { return std::string(info.param.name); });

// The commented syscfg.ini of the sample station (the package installs it)
// asks for Chinese, and its [ui] line switches to English as it says.
TEST(LanguageChoice, ShippedSyscfgAsksForChineseAndItsUiLineSwitches) {
    qunsetenv("TARNMON_LANG");
    const QString shipped = QStringLiteral(ZV_SAMPLE_STATION "/syscfg.ini");
    EXPECT_EQ(uilang::requested(shipped), QStringLiteral("zh"));
    QFile in(shipped);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray text = in.readAll();
    ASSERT_TRUE(text.contains("\nlanguage=zh\n"));
    text.replace("\nlanguage=zh\n", "\nlanguage=en\n");
    QTemporaryDir dir;
    QFile out(dir.filePath(QStringLiteral("syscfg.ini")));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text);
    out.close();
    EXPECT_EQ(uilang::requested(out.fileName()), QStringLiteral("en"));
}

TEST(LanguageApply, EnglishTranslatesChineseRemovesAndUnknownKeepsChinese) {
    const char *ctx = "gui_srvClass";
    EXPECT_TRUE(uilang::apply(QStringLiteral("en")));
    EXPECT_EQ(QCoreApplication::translate(ctx, "文件"), QStringLiteral("File"));
    EXPECT_TRUE(uilang::apply(QStringLiteral("zh")));
    EXPECT_EQ(QCoreApplication::translate(ctx, "文件"), QStringLiteral("文件"));
    EXPECT_TRUE(uilang::apply(QStringLiteral("en")));
    EXPECT_FALSE(uilang::apply(QStringLiteral("xx")));
    EXPECT_EQ(QCoreApplication::translate(ctx, "文件"), QStringLiteral("文件"));
}

}  // namespace
