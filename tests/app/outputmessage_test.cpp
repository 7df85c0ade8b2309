// The daily log file: one line per message, in the working directory.
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <vector>

#include "outputmessage.h"
#include "testdir.h"

namespace {

QDateTime g_fake;
QDateTime fakeClock() { return g_fake; }

QByteArray readAll(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return f.readAll();
}

void log(QtMsgType type, const QString &text) { outputMessage(type, QMessageLogContext(), text); }

class LogHandler : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = QDateTime(QDate(2026, 12, 6), QTime(9, 41, 7));
        setLogClock(fakeClock);
    }
    void TearDown() override { setLogClock(nullptr); }
    ScopedWorkDir dir;
};

struct PrefixCase {
    const char *name;
    QtMsgType type;
    const char *line;
};

void PrintTo(const PrefixCase &c, std::ostream *os) { *os << c.name; }

class LogPrefix : public LogHandler, public ::testing::WithParamInterface<PrefixCase> {};

TEST_P(LogPrefix, LineIsPrefixBlankTextBlankStampCrLf) {
    log(GetParam().type, QStringLiteral("abc"));
    EXPECT_EQ(readAll(dir.file("debug2026-12-06.log")), QByteArray(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LogPrefix,
    ::testing::Values(PrefixCase{"Debug", QtDebugMsg, "Debug: abc (2026-12-06 09:41:07)\r\n"},
                      PrefixCase{"Warning", QtWarningMsg, "Warning: abc (2026-12-06 09:41:07)\r\n"},
                      PrefixCase{"Critical", QtCriticalMsg, "Critical: abc (2026-12-06 09:41:07)\r\n"},
                      // Info is none of the four known kinds: the line begins with the blank.
                      PrefixCase{"UnknownKindHasEmptyPrefix", QtInfoMsg, " abc (2026-12-06 09:41:07)\r\n"}),
    [](const ::testing::TestParamInfo<PrefixCase> &info) { return std::string(info.param.name); });

TEST_F(LogHandler, EmptyMessageGivesPrefixTwoBlanksAndStamp) {
    log(QtDebugMsg, QString());
    EXPECT_EQ(readAll(dir.file("debug2026-12-06.log")), QByteArray("Debug:  (2026-12-06 09:41:07)\r\n"));
}

TEST_F(LogHandler, ChineseTextIsWrittenAsUtf8) {
    log(QtDebugMsg, QStringLiteral("报告控制块"));
    EXPECT_EQ(readAll(dir.file("debug2026-12-06.log")),
              QByteArray("Debug: ") + QStringLiteral("报告控制块").toUtf8() + " (2026-12-06 09:41:07)\r\n");
}

TEST_F(LogHandler, MessagesAcrossMidnightGoToTwoFiles) {
    g_fake = QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59));
    log(QtDebugMsg, QStringLiteral("before"));
    g_fake = QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0));
    log(QtDebugMsg, QStringLiteral("after"));
    EXPECT_EQ(readAll(dir.file("debug2026-12-06.log")), QByteArray("Debug: before (2026-12-06 23:59:59)\r\n"));
    EXPECT_EQ(readAll(dir.file("debug2026-12-07.log")), QByteArray("Debug: after (2026-12-07 00:00:00)\r\n"));
}

TEST_F(LogHandler, LinesAreAppendedToTheDaysFile) {
    log(QtDebugMsg, QStringLiteral("one"));
    log(QtWarningMsg, QStringLiteral("two"));
    EXPECT_EQ(readAll(dir.file("debug2026-12-06.log")),
              QByteArray("Debug: one (2026-12-06 09:41:07)\r\nWarning: two (2026-12-06 09:41:07)\r\n"));
}

TEST_F(LogHandler, FileThatCannotBeOpenedLosesTheLineQuietly) {
    // A folder in the file's place cannot be opened for writing, even by root.
    ASSERT_TRUE(QDir(dir.path()).mkdir("debug2026-12-06.log"));
    log(QtDebugMsg, QStringLiteral("lost"));  // must neither block nor crash
    ASSERT_TRUE(QDir(dir.path()).rmdir("debug2026-12-06.log"));
    log(QtDebugMsg, QStringLiteral("kept"));  // the mutex was released
    EXPECT_EQ(readAll(dir.file("debug2026-12-06.log")), QByteArray("Debug: kept (2026-12-06 09:41:07)\r\n"));
}

TEST_F(LogHandler, FourThreadsGiveWholeLines) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<QThread *> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.push_back(QThread::create([t] {
            for (int i = 0; i < kLines; ++i)
                log(QtDebugMsg, QStringLiteral("thread%1-line%2-xxxxxxxxxxxxxxxx").arg(t).arg(i));
        }));
        threads.back()->start();
    }
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    const QList<QByteArray> lines = readAll(dir.file("debug2026-12-06.log")).split('\n');
    ASSERT_EQ(lines.size(), kThreads * kLines + 1);  // the last split is empty
    for (int i = 0; i < kThreads * kLines; ++i) {
        ASSERT_TRUE(lines[i].startsWith("Debug: thread")) << lines[i].constData();
        ASSERT_TRUE(lines[i].endsWith("(2026-12-06 09:41:07)\r")) << lines[i].constData();
    }
}

}  // namespace
