// Measurement table update against a real MariaDB: slot lengths per table and
// column, the alarm rows of data_pd_h, lastligtm, refused names and failures.
#include <QMutex>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "DataDeal.h"
#include "zvt/archive.h"
#include "gui_srv.h"

using archtest::local;

namespace {

// Settings of the station the cases below assume.
void setIntervals(DataDeal &dd) {
    dd.tempmeasureinterval = 30;
    dd.sf6interval = 15;
    dd.pdinterval = 15;
    dd.microweatherinterval = 30;
    dd.moainterval = 30;
    dd.yspinterval = 60;    // data_epa_h, columns with "flatgas"
    dd.yspinterval1 = 10;   // data_epa_h, columns with "tmp"
    dd.yspinterval2 = 120;  // data_epa_h, other columns
    dd.jyinterval = 20;
    dd.scurinterval = 5;
    dd.dlginterval = 30;
    dd.jdwinterval = 30;
}

QMutex g_warnings_mutex;
QStringList g_warnings;
void captureWarnings(QtMsgType type, const QMessageLogContext &, const QString &text) {
    if (type != QtWarningMsg) return;
    QMutexLocker lock(&g_warnings_mutex);
    g_warnings << text;
}

class UpdateTable : public ::testing::Test {
protected:
    void SetUp() override {
        db = std::make_unique<archtest::OwnDatabase>(archtest::dbNameForCurrentTest());
        ASSERT_TRUE(db->ok()) << db->error().toStdString();
        ASSERT_TRUE(db->connection().isOpen()) << db->error().toStdString();
        setIntervals(dd);
    }
    bool put(const char *table, const char *column, const char *time, double value, int eqmid = 7) {
        return dd.UpdateInsertTable(QString::fromLatin1(table), QString::fromLatin1(column),
                                    local(QString::fromLatin1(time)), value, eqmid, db->connection());
    }
    QStringList column(const char *table, const char *col, int eqmid = 7) {
        return db->rows(QStringLiteral("select d_time,%1 from %2 where eqmid=%3 order by d_time")
                            .arg(QString::fromLatin1(col), QString::fromLatin1(table))
                            .arg(eqmid));
    }
    std::unique_ptr<archtest::OwnDatabase> db;
    DataDeal dd;
};

struct SlotCase {
    const char *name;
    const char *table;
    const char *column;
    std::vector<std::pair<const char *, double>> writes;  // local time, value
    QStringList expected;                                 // "d_time|value" by time
};

void PrintTo(const SlotCase &c, std::ostream *os) { *os << c.name; }

class Slots : public UpdateTable, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(Slots, ValuesLandInTheRowOfTheirSlotAndTheLastOneWins) {
    const SlotCase &c = GetParam();
    QString error;
    // Tables and columns the schema does not have, for the name rules.
    ASSERT_TRUE(db->rootSql(QStringLiteral("create table data_custom (id int auto_increment primary key, eqmid int, "
                                           "d_time datetime, val double, unique key (eqmid, d_time));"
                                           "create table data_pd_h_b like data_pd_h;"
                                           "alter table data_epa_h add column flatgastmp double null;"),
                            &error))
        << error.toStdString();
    for (const auto &[time, value] : c.writes) EXPECT_TRUE(put(c.table, c.column, time, value)) << time;
    EXPECT_EQ(column(c.table, c.column), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ByTableAndColumn, Slots,
    ::testing::Values(SlotCase{"Sf6FifteenMinutes",
                               "data_sf6_h",
                               "pres",
                               {{"2026-12-07 10:00:00", 1},
                                {"2026-12-07 10:07:30", 2},
                                {"2026-12-07 10:14:59", 3},
                                {"2026-12-07 10:15:00", 4}},
                               {"2026-12-07 10:00:00|3", "2026-12-07 10:15:00|4"}},
                      SlotCase{"UnknownTableThirtyMinutes",
                               "data_custom",
                               "val",
                               {{"2026-12-07 10:29:59", 1}, {"2026-12-07 10:30:00", 2}},
                               {"2026-12-07 10:00:00|1", "2026-12-07 10:30:00|2"}},
                      SlotCase{"SuffixedPdTableTakesPdSlots",
                               "data_pd_h_b",
                               "apppadsch",
                               {{"2026-12-07 10:20:00", 5}},
                               {"2026-12-07 10:15:00|5"}},
                      SlotCase{"EpaTmpColumnTakesYspinterval1",
                               "data_epa_h",
                               "oiltmp",
                               {{"2026-12-07 10:27:00", 40.5}},
                               {"2026-12-07 10:20:00|40.5"}},
                      SlotCase{"EpaFlatgasColumnTakesYspinterval",
                               "data_epa_h",
                               "flatgas",
                               {{"2026-12-07 10:27:00", 1.5}},
                               {"2026-12-07 10:00:00|1.5"}},
                      // 120-minute slots counted from the epoch in UTC: 11:27 (+08:00) is 03:27 UTC -> 02:00 UTC.
                      SlotCase{"EpaOtherColumnTakesYspinterval2",
                               "data_epa_h",
                               "h2",
                               {{"2026-12-07 11:27:00", 8}},
                               {"2026-12-07 10:00:00|8"}},
                      SlotCase{"EpaColumnWithTmpAndFlatgasTakesYspinterval1",
                               "data_epa_h",
                               "flatgastmp",
                               {{"2026-12-07 10:27:00", 2}},
                               {"2026-12-07 10:20:00|2"}},
                      SlotCase{"ScurFiveMinutes",
                               "data_scur_h",
                               "corecur",
                               {{"2026-12-07 10:07:31", 0.25}},
                               {"2026-12-07 10:05:00|0.25"}}),
    [](const ::testing::TestParamInfo<SlotCase> &info) { return std::string(info.param.name); });

TEST_F(UpdateTable, TwoColumnsOfOneSlotShareOneRow) {
    EXPECT_TRUE(put("data_sf6_h", "pres", "2026-12-07 10:01:00", 0.5));
    EXPECT_TRUE(put("data_sf6_h", "den", "2026-12-07 10:02:00", 30));
    EXPECT_EQ(db->rows(QStringLiteral("select d_time,pres,den from data_sf6_h where eqmid=7")),
              QStringList({"2026-12-07 10:00:00|0.5|30"}));
}

TEST_F(UpdateTable, ValuesAreStoredAsSinglePrecision) {
    EXPECT_TRUE(put("data_sf6_h", "pres", "2026-12-07 10:01:00", 0.1));
    QSqlQuery q(db->connection());
    ASSERT_TRUE(q.exec(QStringLiteral("select pres from data_sf6_h where eqmid=7")) && q.next());
    EXPECT_EQ(q.value(0).toDouble(), double(0.1f));
}

TEST_F(UpdateTable, PdAlarmKeepsItsExactTimeAndLaterSlotValuesJoinItsRow) {
    EXPECT_TRUE(put("data_pd_h", "padschalm", "2026-12-07 10:07:31", 2));
    EXPECT_TRUE(put("data_pd_h", "apppadsch", "2026-12-07 10:09:00", 5));
    // Another piece of equipment keeps its own slot row.
    EXPECT_TRUE(put("data_pd_h", "apppadsch", "2026-12-07 10:09:00", 6, 8));
    // After the slot of the alarm, values go to their own slot again.
    EXPECT_TRUE(put("data_pd_h", "apppadsch", "2026-12-07 10:16:00", 9));
    // An alarm of 0 is an ordinary value.
    EXPECT_TRUE(put("data_pd_h", "padschalm", "2026-12-07 10:31:00", 0));
    EXPECT_EQ(db->rows(QStringLiteral("select eqmid,d_time,padschalm,apppadsch,isupload from data_pd_h "
                                      "order by eqmid,d_time")),
              QStringList({"7|2026-12-07 10:07:31|2|5|0", "7|2026-12-07 10:15:00|NULL|9|1",
                           "7|2026-12-07 10:30:00|0|NULL|1", "8|2026-12-07 10:00:00|NULL|6|1"}));
}

TEST_F(UpdateTable, LastligtmIsStoredAsTheDateTimeOfItsWholeSeconds) {
    const qint64 strike = local("2026-12-07 09:58:17").toSecsSinceEpoch();
    EXPECT_TRUE(dd.UpdateInsertTable(QStringLiteral("data_moa_h"), QStringLiteral("lastligtm"),
                                     local("2026-12-07 10:04:00"), double(strike) + 0.75, 3, db->connection()));
    EXPECT_EQ(column("data_moa_h", "lastligtm", 3), QStringList({"2026-12-07 10:00:00|2026-12-07 09:58:17"}));
}

TEST_F(UpdateTable, NonPositiveIntervalUsesThirtyMinutesAndWarnsOnce) {
    dd.sf6interval = 0;
    dd.moainterval = -5;
    g_warnings.clear();
    QtMessageHandler previous = qInstallMessageHandler(captureWarnings);
    EXPECT_TRUE(put("data_sf6_h", "pres", "2026-12-07 10:29:00", 1));
    EXPECT_TRUE(put("data_sf6_h", "pres", "2026-12-07 10:31:00", 2));
    EXPECT_TRUE(put("data_moa_h", "totlcur", "2026-12-07 10:31:00", 3));
    qInstallMessageHandler(previous);
    EXPECT_EQ(column("data_sf6_h", "pres"), QStringList({"2026-12-07 10:00:00|1", "2026-12-07 10:30:00|2"}));
    EXPECT_EQ(column("data_moa_h", "totlcur"), QStringList({"2026-12-07 10:30:00|3"}));
    ASSERT_EQ(g_warnings.size(), 2) << g_warnings.join('\n').toStdString();
    EXPECT_TRUE(g_warnings[0].contains("sf6interval"));
    EXPECT_TRUE(g_warnings[1].contains("moainterval"));
}

struct Names {
    const char *table;
    const char *column;
};
void PrintTo(const Names &n, std::ostream *os) { *os << n.table << "." << n.column; }

std::string refusedName(const ::testing::TestParamInfo<Names> &info) {
    static const char *const names[] = {"StatementAfterTable", "StatementInColumn", "BacktickInColumn", "SpaceInTable",
                                        "EmptyColumn",         "EmptyTable",        "NonAsciiColumn"};
    return names[info.index];
}

class RefusedNames : public UpdateTable, public ::testing::WithParamInterface<Names> {};

TEST_P(RefusedNames, AreNeverPutIntoSql) {
    const auto &[table, col] = GetParam();
    EXPECT_FALSE(put(table, col, "2026-12-07 10:00:00", 1));
    EXPECT_EQ(db->rows(QStringLiteral("select count(*) from data_sf6_h")), QStringList({"0"}));
    EXPECT_FALSE(db->rows(QStringLiteral("select count(*) from rptparamindex")).value(0).startsWith("ERROR"));
}

INSTANTIATE_TEST_SUITE_P(TableOrColumn, RefusedNames,
                         ::testing::Values(Names{"data_sf6_h;drop table rptparamindex", "pres"},
                                           Names{"data_sf6_h", "pres)values(1,now(),7)#"}, Names{"data_sf6_h", "pr`es"},
                                           Names{"data sf6_h", "pres"}, Names{"data_sf6_h", ""}, Names{"", "pres"},
                                           Names{"data_sf6_h", "压力"}),
                         refusedName);

TEST_F(UpdateTable, FailedInsertReturnsFalseAndShowsOneLineInThePane) {
    gui_srv *win = archtest::makeWindow();
    const int before = archtest::paneLines(win).size();
    EXPECT_FALSE(put("data_sf6_h", "nosuchcol", "2026-12-07 10:00:00", 1));
    const QStringList lines = archtest::paneLines(win);
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_TRUE(lines.last().contains("nosuchcol")) << lines.last().toStdString();
    delete win;
    w = nullptr;
}

}  // namespace
