// ConnectionPool: syscfg.ini settings (no server needed) and the pool of
// connections against the fixture's MariaDB server.

#include "ConnectionPool.h"
#include "zvt/db.h"
#include "zvt/threads.h"
#include "zvt/wait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <utility>
#include <unistd.h>
#include <vector>

using dbtest::LogCapture;
using dbtest::WorkDir;

namespace {

// ---------------------------------------------------------------------------
// Settings

class ConnectionPoolSettings : public ::testing::Test {
protected:
    void SetUp() override { ConnectionPool::release(); }
    void TearDown() override { ConnectionPool::release(); }
    WorkDir work;
};

// Runs `body` with standard output redirected and returns what it printed.
template <typename Body>
std::string captureStdout(Body body) {
    std::fflush(stdout);
    QTemporaryFile file;
    if (!file.open()) return {};
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    body();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll().toStdString();
}

TEST_F(ConnectionPoolSettings, OnlyAccountKeysGiveZeroPortEmptyPathsAndZeroIntervals) {
    work.write("syscfg.ini", "[mysqlcfg]\nhostname=127.0.0.1\ndbname=d\nusrname=u\npsw=p\n");

    EXPECT_EQ(ConnectionPool::getlfp(), QString());
    EXPECT_EQ(ConnectionPool::getrfp(), QString());
    EXPECT_EQ(ConnectionPool::getcomtradftpip(), QString());
    EXPECT_EQ(ConnectionPool::getcomtradftpuid(), QString());
    EXPECT_EQ(ConnectionPool::getcomtradftppsw(), QString());
    EXPECT_EQ(ConnectionPool::getcomtradfilepath(), QString());
    EXPECT_EQ(ConnectionPool::getcomtradftpport(), 0);
    for (int value :
         {ConnectionPool::gettempmeasureinterval(), ConnectionPool::getsf6interval(), ConnectionPool::getpdinterval(),
          ConnectionPool::getmicroweatherinterval(), ConnectionPool::getironcoreinterval(),
          ConnectionPool::getmoainterval(), ConnectionPool::getyspinterval(), ConnectionPool::getyspinterval1(),
          ConnectionPool::getyspinterval2(), ConnectionPool::getjyinterval(), ConnectionPool::getscurinterval(),
          ConnectionPool::getdlginterval(), ConnectionPool::getjdwinterval()})
        EXPECT_EQ(value, 0);
}

TEST_F(ConnectionPoolSettings, MissingFileGivesEmptyTextsAndZeroNumbers) {
    EXPECT_EQ(ConnectionPool::getcomtradftpip(), QString());
    EXPECT_EQ(ConnectionPool::getsf6interval(), 0);
}

TEST_F(ConnectionPoolSettings, EveryKeyReachesItsOwnGetterAndTheAccountIsTraced) {
    work.write("syscfg.ini", "[mysqlcfg]\n"
                             "hostname=db.example\ndbname=station\nusrname=archiver\npsw=secret\nport=3307\n"
                             "localfilepath=/var/rec\nremotefilepath=/COMTRADE\n"
                             "comtradftpip=127.0.0.9\ncomtradftpuid=ftpuser\ncomtradftppsw=ftppass\n"
                             "comtradfilepath=/upload/\ncomtradftpport=2121\n"
                             "tempmeasureinterval=1\nsf6interval=2\npdinterval=3\nmicroweatherinterval=4\n"
                             "ironcoreinterval=5\nmoainterval=6\nyspinterval=7\nyspinterval1=8\n"
                             "yspinterval2=9\njyinterval=10\nscurinterval=11\ndlginterval=12\njdwinterval=13\n"
                             "[databasecfg]\ndatafilepath=/data\n");

    const std::string printed = captureStdout([] { ConnectionPool::getInstance(); });
    EXPECT_NE(printed.find("DB Parameter: archiver/secret@db.example station\n"), std::string::npos) << printed;

    EXPECT_EQ(ConnectionPool::getlfp(), "/var/rec");
    EXPECT_EQ(ConnectionPool::getrfp(), "/COMTRADE");
    EXPECT_EQ(ConnectionPool::getcomtradftpip(), "127.0.0.9");
    EXPECT_EQ(ConnectionPool::getcomtradftpuid(), "ftpuser");
    EXPECT_EQ(ConnectionPool::getcomtradftppsw(), "ftppass");
    EXPECT_EQ(ConnectionPool::getcomtradfilepath(), "/upload/");
    EXPECT_EQ(ConnectionPool::getcomtradftpport(), 2121);
    EXPECT_EQ(ConnectionPool::gettempmeasureinterval(), 1);
    EXPECT_EQ(ConnectionPool::getsf6interval(), 2);
    EXPECT_EQ(ConnectionPool::getpdinterval(), 3);
    EXPECT_EQ(ConnectionPool::getmicroweatherinterval(), 4);
    EXPECT_EQ(ConnectionPool::getironcoreinterval(), 5);
    EXPECT_EQ(ConnectionPool::getmoainterval(), 6);
    EXPECT_EQ(ConnectionPool::getyspinterval(), 7);
    EXPECT_EQ(ConnectionPool::getyspinterval1(), 8);
    EXPECT_EQ(ConnectionPool::getyspinterval2(), 9);
    EXPECT_EQ(ConnectionPool::getjyinterval(), 10);
    EXPECT_EQ(ConnectionPool::getscurinterval(), 11);
    EXPECT_EQ(ConnectionPool::getdlginterval(), 12);
    EXPECT_EQ(ConnectionPool::getjdwinterval(), 13);
}

TEST_F(ConnectionPoolSettings, NumbersAreDecimalThirtyTwoBitIntegersAndAnythingElseIsZero) {
    struct Row {
        const char* text;
        int expected;
    };
    const Row rows[] = {
        {"15", 15},
        {"-5", -5},
        {"+7", 7},
        {"  42  ", 42},
        {"12abc", 0},
        {"0x10", 0},
        {"1.5", 0},
        {"", 0},
        {"2147483647", 2147483647},
        {"2147483648", 0},
        {"99999999999999999999", 0},
        {"a,b", 0},
    };
    for (const Row& row : rows) {
        ConnectionPool::release();
        WorkDir own;  // a file of its own: QSettings caches what it read per path
        own.write("syscfg.ini", QStringLiteral("[mysqlcfg]\nsf6interval=%1\n").arg(QLatin1String(row.text)));
        EXPECT_EQ(ConnectionPool::getsf6interval(), row.expected) << "sf6interval=" << row.text;
    }
}

TEST_F(ConnectionPoolSettings, TextWithCommasOrQuotesIsReadWhole) {
    work.write("syscfg.ini", "[mysqlcfg]\ncomtradftppsw=a,b,c\ncomtradftpuid=\"x y\"\n");
    EXPECT_EQ(ConnectionPool::getcomtradftppsw(), "a,b,c");
    EXPECT_EQ(ConnectionPool::getcomtradftpuid(), "x y");
}

TEST_F(ConnectionPoolSettings, FileBeyondOneMebibyteIsNotRead) {
    LogCapture log;
    work.write("syscfg.ini", "[mysqlcfg]\nsf6interval=15\n;" + QString(1024 * 1024, 'x') + "\n");
    EXPECT_EQ(ConnectionPool::getsf6interval(), 0);
    EXPECT_EQ(log.count("exceed the limit"), 1);
}

TEST_F(ConnectionPoolSettings, FileIsReadOnceAndAgainOnlyAfterRelease) {
    work.write("syscfg.ini", "[mysqlcfg]\nsf6interval=15\n");
    EXPECT_EQ(ConnectionPool::getsf6interval(), 15);
    work.write("syscfg.ini", "[mysqlcfg]\nsf6interval=120\n");
    EXPECT_EQ(ConnectionPool::getsf6interval(), 15);
    ConnectionPool::release();
    EXPECT_EQ(ConnectionPool::getsf6interval(), 120);
}

TEST_F(ConnectionPoolSettings, SampleStationFileGivesEveryKeyAndPositiveIntervals) {
    QFile sample(QStringLiteral(ZV_SOURCE_ROOT "/station/syscfg.ini"));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    work.write("syscfg.ini", QString::fromUtf8(sample.readAll()));

    EXPECT_EQ(ConnectionPool::getcomtradftpip(), "127.0.0.1");
    EXPECT_GT(ConnectionPool::getcomtradftpport(), 0);
    EXPECT_FALSE(ConnectionPool::getcomtradftpuid().isEmpty());
    EXPECT_TRUE(ConnectionPool::getcomtradfilepath().endsWith('/'));
    EXPECT_FALSE(ConnectionPool::getrfp().isEmpty());
    for (int value :
         {ConnectionPool::gettempmeasureinterval(), ConnectionPool::getsf6interval(), ConnectionPool::getpdinterval(),
          ConnectionPool::getmicroweatherinterval(), ConnectionPool::getironcoreinterval(),
          ConnectionPool::getmoainterval(), ConnectionPool::getyspinterval(), ConnectionPool::getyspinterval1(),
          ConnectionPool::getyspinterval2(), ConnectionPool::getjyinterval(), ConnectionPool::getscurinterval(),
          ConnectionPool::getdlginterval(), ConnectionPool::getjdwinterval()})
        EXPECT_GT(value, 0);
    const QSettings settings("syscfg.ini", QSettings::IniFormat);
    EXPECT_EQ(settings.value("databasecfg/datafilepath").toString(), ".");
}

TEST_F(ConnectionPoolSettings, ConcurrentFirstUseBuildsOnePool) {
    std::atomic<bool> go{false};
    std::vector<ConnectionPool*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            seen[i] = &ConnectionPool::getInstance();
        });
    go = true;
    for (std::thread& t : threads) t.join();
    for (ConnectionPool* pool : seen) EXPECT_EQ(pool, seen.front());
}

// ---------------------------------------------------------------------------
// Connections (fixture server, database of this test group)

QString g_syscfg;  // syscfg.ini text for this group's database

class ConnectionPoolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!g_syscfg.isEmpty()) return;
        QTemporaryDir out;
        QString error;
        if (!dbtest::createOwnDatabase("tarnmon_pool", out.path(), &error)) {
            setupError = error;
            return;
        }
        QFile file(out.filePath("syscfg.ini"));
        if (file.open(QIODevice::ReadOnly)) g_syscfg = QString::fromUtf8(file.readAll());
    }

    void SetUp() override {
        ASSERT_FALSE(g_syscfg.isEmpty()) << "no test database: " << setupError.toStdString();
        ConnectionPool::release();
        work.write("syscfg.ini", g_syscfg);
    }

    void TearDown() override { ConnectionPool::release(); }

    static qlonglong connectionId(const QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.exec("SELECT CONNECTION_ID()") || !query.next()) return -1;
        return query.value(0).toLongLong();
    }

    static QString setupError;
    WorkDir work;
};

QString ConnectionPoolTest::setupError;

}  // namespace

#define POOL_TEST(name) TEST_F(ConnectionPoolTest, name)

POOL_TEST(BorrowReturnBorrowGivesConnection1AgainWithoutNewLogin) {
    QSqlDatabase first = ConnectionPool::openConnection();
    ASSERT_TRUE(first.isOpen()) << first.lastError().text().toStdString();
    EXPECT_EQ(first.connectionName(), "Connection-1");
    const qlonglong id = connectionId(first);
    ASSERT_GT(id, 0);
    ConnectionPool::closeConnection(first);
    EXPECT_TRUE(first.isOpen()) << "giving back must not close";

    QSqlDatabase second = ConnectionPool::openConnection();
    ASSERT_TRUE(second.isOpen());
    EXPECT_EQ(second.connectionName(), "Connection-1");
    EXPECT_EQ(connectionId(second), id);
    ConnectionPool::closeConnection(second);
}

POOL_TEST(SixthBorrowerWaitsAboutOneSecondThenGetsInvalidConnection) {
    std::vector<QSqlDatabase> lent;
    QSet<QString> names;
    for (int i = 0; i < 5; ++i) {
        lent.push_back(ConnectionPool::openConnection());
        ASSERT_TRUE(lent.back().isOpen());
        names.insert(lent.back().connectionName());
    }
    EXPECT_EQ(names, (QSet<QString>{"Connection-1", "Connection-2", "Connection-3", "Connection-4", "Connection-5"}));

    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    QSqlDatabase sixth = ConnectionPool::openConnection();
    const qint64 waited = timer.elapsed();
    EXPECT_FALSE(sixth.isValid());
    EXPECT_GE(waited, 800);
    EXPECT_EQ(log.count("Cannot create more connections."), 1);

    for (QSqlDatabase& db : lent) ConnectionPool::closeConnection(db);
}

POOL_TEST(ReturnedConnectionWakesExactlyOneWaiterWhoTakesItsName) {
    std::vector<QSqlDatabase> lent;
    for (int i = 0; i < 5; ++i) {
        lent.push_back(ConnectionPool::openConnection());
        ASSERT_TRUE(lent.back().isOpen());
    }

    struct Outcome {
        QString name;
        bool open = false;
        bool queryWorks = false;
    };
    Outcome outcome[2];
    std::atomic<pid_t> tids[2] = {0, 0};
    std::atomic<int> answered{0};
    std::atomic<bool> finish{false};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&out = outcome[i], &tid = tids[i], &answered, &finish] {
            tid = zvt::thread_id();
            QSqlDatabase db = ConnectionPool::openConnection();
            out.name = db.connectionName();
            out.open = db.isOpen();
            out.queryWorks = db.isOpen() && QSqlQuery(db).exec("SELECT 1");
            ++answered;
            while (!finish.load())  // hold it, so the other waiter cannot have it
                QThread::msleep(5);
        });
    // Both wait inside the pool before a connection comes back.
    EXPECT_TRUE(zvt::eventually(
        [&] { return tids[0] != 0 && tids[1] != 0 && zvt::in_timed_wait(tids[0]) && zvt::in_timed_wait(tids[1]); },
        5000))
        << "the borrowers never waited for the full pool";

    const QString returned = lent[2].connectionName();
    ConnectionPool::closeConnection(lent[2]);
    lent.erase(lent.begin() + 2);

    // The winner gets it at once, the loser gives up after about one second.
    EXPECT_TRUE(zvt::eventually([&] { return answered == 2; }, 10000));
    finish = true;
    for (std::thread& t : waiters) t.join();

    const int winners = int(outcome[0].open) + int(outcome[1].open);
    EXPECT_EQ(winners, 1);
    const Outcome& winner = outcome[0].open ? outcome[0] : outcome[1];
    EXPECT_EQ(winner.name, returned);
    EXPECT_TRUE(winner.queryWorks);

    for (QSqlDatabase& db : lent) ConnectionPool::closeConnection(db);
}

POOL_TEST(ReturningAnUnlentConnectionOrOneTwiceChangesNothing) {
    QSqlDatabase a = ConnectionPool::openConnection();
    ASSERT_TRUE(a.isOpen());
    ConnectionPool::closeConnection(a);
    ConnectionPool::closeConnection(a);
    ConnectionPool::closeConnection(QSqlDatabase());
    {
        QSqlDatabase foreign = QSqlDatabase::addDatabase("QMYSQL", "foreign");
        ConnectionPool::closeConnection(foreign);
    }
    QSqlDatabase::removeDatabase("foreign");

    // A doubled return would lend Connection-1 twice.
    std::vector<QSqlDatabase> lent;
    QSet<QString> names;
    for (int i = 0; i < 5; ++i) {
        lent.push_back(ConnectionPool::openConnection());
        ASSERT_TRUE(lent.back().isOpen());
        names.insert(lent.back().connectionName());
    }
    EXPECT_EQ(names.size(), 5);
    for (QSqlDatabase& db : lent) ConnectionPool::closeConnection(db);
}

POOL_TEST(ConnectionReturnedByAnotherThreadIsNotLentToThisThread) {
    LogCapture log;
    QString otherName;
    qlonglong otherId = -1;
    std::thread other([&] {
        QSqlDatabase db = ConnectionPool::openConnection();
        otherName = db.connectionName();
        otherId = connectionId(db);
        ConnectionPool::closeConnection(db);
    });
    other.join();
    ASSERT_GT(otherId, 0);

    QSqlDatabase mine = ConnectionPool::openConnection();
    ASSERT_TRUE(mine.isOpen());
    EXPECT_NE(mine.connectionName(), otherName);
    const qlonglong id = connectionId(mine);
    EXPECT_GT(id, 0);
    EXPECT_NE(id, otherId);
    ConnectionPool::closeConnection(mine);
    EXPECT_EQ(log.count("does not belong to the calling thread"), 0);
}

POOL_TEST(FullPoolHandsAnotherThreadsReturnedNameOverWithAFreshConnection) {
    std::vector<QSqlDatabase> lent;
    for (int i = 0; i < 5; ++i) {
        lent.push_back(ConnectionPool::openConnection());
        ASSERT_TRUE(lent.back().isOpen());
    }
    const QString returned = lent[0].connectionName();
    const qlonglong returnedId = connectionId(lent[0]);
    ConnectionPool::closeConnection(lent[0]);
    lent.erase(lent.begin());

    LogCapture log;
    QString name;
    qlonglong id = -1;
    std::thread other([&] {
        QSqlDatabase db = ConnectionPool::openConnection();
        name = db.connectionName();
        id = connectionId(db);
        ConnectionPool::closeConnection(db);
    });
    other.join();
    EXPECT_EQ(name, returned);
    EXPECT_GT(id, 0);
    EXPECT_NE(id, returnedId);
    EXPECT_EQ(log.count("does not belong to the calling thread"), 0);

    for (QSqlDatabase& db : lent) ConnectionPool::closeConnection(db);
}

POOL_TEST(ThreadsBorrowingAtOnceNeverShareAConnection) {
    constexpr int kThreads = 6;  // one more than the pool holds
    constexpr int kRounds = 20;
    QMutex heldMutex;
    QSet<QString> held;  // guarded by heldMutex
    std::atomic<int> shared{0}, failed{0}, queries{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                QSqlDatabase db = ConnectionPool::openConnection();
                if (!db.isOpen()) {
                    ++failed;
                    continue;
                }
                const QString name = db.connectionName();
                {
                    QMutexLocker locker(&heldMutex);
                    if (held.contains(name)) ++shared;
                    held.insert(name);
                }
                {
                    QSqlQuery query(db);
                    if (query.exec("SELECT 1") && query.next() && query.value(0).toInt() == 1) ++queries;
                }
                {
                    QMutexLocker locker(&heldMutex);
                    held.remove(name);
                }
                // Keep no copy after giving it back: another thread may take
                // the name over at once.
                ConnectionPool::closeConnection(std::exchange(db, QSqlDatabase()));
                QThread::msleep(1);
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(shared.load(), 0);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(queries.load(), kThreads * kRounds);
}

POOL_TEST(RefusedLoginLendsAnInvalidConnectionAndUsesUpNoName) {
    QString wrong = g_syscfg;
    wrong.replace(QRegularExpression("psw=[^\n]*"), "psw=not-the-password");
    work.write("syscfg.ini", wrong);
    ConnectionPool::release();
    {
        LogCapture log;
        QSqlDatabase refused = ConnectionPool::openConnection();
        EXPECT_FALSE(refused.isOpen());
        EXPECT_EQ(log.count("Open datatabase error:"), 1);
        QSqlDatabase again = ConnectionPool::openConnection();
        EXPECT_FALSE(again.isOpen());
        EXPECT_EQ(log.count("\"Connection-1\""), 2) << "the failed name is tried again";
    }

    // A new pool from a corrected file must not reuse the refused registration.
    work.write("syscfg.ini", g_syscfg);
    ConnectionPool::release();
    QSqlDatabase db = ConnectionPool::openConnection();
    EXPECT_TRUE(db.isOpen()) << db.lastError().text().toStdString();
    EXPECT_EQ(db.connectionName(), "Connection-1");
    ConnectionPool::closeConnection(db);
}

POOL_TEST(PortOutsideTheTcpRangeIsRefused) {
    QString bad = g_syscfg;
    bad.replace(QRegularExpression("port=[0-9]+\n"), "port=70000\n");
    work.write("syscfg.ini", bad);
    ConnectionPool::release();
    LogCapture log;
    EXPECT_FALSE(ConnectionPool::openConnection().isValid());
    EXPECT_EQ(log.count("out of range"), 1);
}

POOL_TEST(ReusedConnectionDroppedByTheServerWorksAgain) {
    QSqlDatabase idle = ConnectionPool::openConnection();
    QSqlDatabase other = ConnectionPool::openConnection();
    ASSERT_TRUE(idle.isOpen());
    ASSERT_TRUE(other.isOpen());
    const QString idleName = idle.connectionName();
    const qlonglong idleId = connectionId(idle);
    ConnectionPool::closeConnection(idle);

    // The server ends the idle pooled connection (as its wait_timeout would).
    ASSERT_TRUE(QSqlQuery(other).exec(QStringLiteral("KILL %1").arg(idleId)));
    ConnectionPool::closeConnection(other);

    QSqlDatabase reused = ConnectionPool::openConnection();
    ASSERT_TRUE(reused.isOpen());
    EXPECT_EQ(reused.connectionName(), idleName);
    QSqlQuery query(reused);
    EXPECT_TRUE(query.exec("SELECT 1")) << query.lastError().text().toStdString();
    ConnectionPool::closeConnection(reused);
}
