// The worker thread: its cycle against the pool and the real model, the
// cycle period, stopping, and the recorder-collection schedule.
#include <QElapsedTimer>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include "ConnectionPool.h"
#include "DataDeal.h"
#include "zvt/archive.h"
#include "zvt/threads.h"
#include "zvt/wait.h"

using archtest::local;

namespace {

struct DueCase {
    const char *name;
    qint64 last_minus_now;  // seconds of the last collection relative to now
    bool due;
};

void PrintTo(const DueCase &c, std::ostream *os) { *os << c.name; }

class CollectionSchedule : public ::testing::TestWithParam<DueCase> {};

TEST_P(CollectionSchedule, IsDueMoreThan300SecondsAfterTheLastOrWhenTheClockWentBack) {
    DataDeal dd;
    const QDateTime now = local("2026-12-07 10:00:00");
    dd.lstRptEnaCKTime = now.addSecs(GetParam().last_minus_now);
    EXPECT_EQ(dd.collectionDue(now), GetParam().due);
}

INSTANTIATE_TEST_SUITE_P(Elapsed, CollectionSchedule,
                         ::testing::Values(DueCase{"JustCollected", 0, false}, DueCase{"After300s", -300, false},
                                           DueCase{"After301s", -301, true}, DueCase{"ClockSetBackAnHour", 3600, true},
                                           DueCase{"ClockSetBackASecond", 1, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// Waits up to `ms` for `sql` to give `expected` rows.
bool waitRows(archtest::OwnDatabase &db, const QString &sql, const QStringList &expected, int ms) {
    return zvt::eventually([&] { return db.rows(sql) == expected; }, ms);
}

class Worker : public ::testing::Test {
protected:
    void SetUp() override {
        db = std::make_unique<archtest::OwnDatabase>(archtest::dbNameForCurrentTest());
        ASSERT_TRUE(db->ok()) << db->error().toStdString();
        ASSERT_TRUE(db->connection().isOpen()) << db->error().toStdString();
    }
    void TearDown() override {
        if (dd.isRunning()) {
            dd.stop();
            dd.wait(10000);
        }
        qunsetenv("TARNMON_ARCHIVE_CYCLE_S");
        ConnectionPool::release();
    }
    std::unique_ptr<archtest::OwnDatabase> db;
    DataDeal dd;
};

TEST_F(Worker, StopWakesItFromItsSleepAndItEndsPromptly) {
    dd.setCycleSeconds(3600);
    dd.setObjectName("archiving");  // the name of its thread
    dd.start();
    // The first cycle is done: the worker sleeps in its timed wait.
    ASSERT_TRUE(zvt::eventually(
        [] {
            for (pid_t tid : zvt::threads_named("archiving"))
                if (zvt::in_timed_wait(tid)) return true;
            return false;
        },
        10000))
        << "the worker never went to sleep";
    ASSERT_TRUE(dd.isRunning());
    QElapsedTimer t;
    t.start();
    dd.stop();
    EXPECT_TRUE(dd.wait(5000));
    EXPECT_LT(t.elapsed(), 3000);
}

TEST_F(Worker, EachCycleArchivesTheMappedValuesAtTheEnvironmentsPeriod) {
    QString error;
    ASSERT_TRUE(archtest::loadStation(&error)) << error.toStdString();
    QSqlQuery q(db->connection());
    ASSERT_TRUE(q.exec("delete from rptparamindex"));
    ASSERT_TRUE(q.exec("insert into rptparamindex(paramindex,eqmid,tablename,colname) "
                       "values('CM2MON/STMP1$MX$Tmp$mag$f',5,'data_etp_h','tmp')"));
    // The environment shortens the period even when the program set another.
    qputenv("TARNMON_ARCHIVE_CYCLE_S", "1");
    dd.setCycleSeconds(3600);
    dd.start();
    const QString sql = "select eqmid,d_time,tmp from data_etp_h";
    const QStringList row({"5|2026-12-07 10:30:00|77.5"});
    // syscfg.ini of the fixture: tempmeasureinterval=30.
    ASSERT_TRUE(waitRows(*db, sql, row, 10000)) << db->rows(sql).join('\n').toStdString();
    ASSERT_TRUE(q.exec("delete from data_etp_h"));
    EXPECT_TRUE(waitRows(*db, sql, row, 10000)) << "no second cycle";
    dd.stop();
    EXPECT_TRUE(dd.wait(5000));
}

}  // namespace
