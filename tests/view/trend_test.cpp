// The archived trend and the recordings list against the private MariaDB
// (the fixture of tests/db), each test on a database of its own: rows put in
// by the test, read back through the windows' widgets.
#include <gtest/gtest.h>

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>

#include <QDateTime>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTableWidget>

#include <map>

#include "ConnectionPool.h"
#include "zvt/db.h"
#include "dialog_recordings.h"
#include "dialog_trend.h"
#include "dialog_wave.h"
#include "view_support.h"

namespace {

// A working directory whose syscfg.ini names a fresh database `name`.
class OwnDatabase : public ::testing::Test {
protected:
    void useDatabase(const char *name) {
        db = QString::fromLatin1(name);
        QString error;
        ASSERT_TRUE(dbtest::createOwnDatabase(db, work.path(), &error)) << error.toStdString();
        ConnectionPool::release();  // the next use reads this syscfg.ini
    }
    void sql(const QString &text) {
        QString error;
        ASSERT_TRUE(dbtest::runRootSql(db, text, &error)) << error.toStdString();
    }
    void TearDown() override { ConnectionPool::release(); }

    dbtest::WorkDir work;
    QString db;
};

// Lines of the chart by name: the number of runs and their points.
std::map<QString, std::vector<QList<QPointF>>> lines(dialog_trend &t) {
    std::map<QString, std::vector<QList<QPointF>>> out;
    for (QAbstractSeries *s : t.ui.view_trend->chart()->series())
        if (auto *l = qobject_cast<QLineSeries *>(s)) out[l->name()].push_back(l->points());
    return out;
}

void check(dialog_trend &t, const QString &name, bool on) {
    for (int i = 0; i < t.ui.list_columns->count(); ++i)
        if (t.ui.list_columns->item(i)->text() == name)
            t.ui.list_columns->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

using TrendWindow = OwnDatabase;

TEST_F(TrendWindow, DrawsOneLinePerColumnOfOneEquipmentWithNullsAsGaps) {
    useDatabase("view_trend_lines");
    // 30 one-minute rows of equipment 1 from 10:00: toptmp 20 + i/2, wdgtmp 40 - i
    // but NULL for i = 10..14; equipment 2 has rows of its own at the same times.
    QString rows;
    for (int i = 0; i < 30; ++i) {
        const QString t = QStringLiteral("'2024-05-03 10:%1:00'").arg(i, 2, 10, QLatin1Char('0'));
        rows += QStringLiteral("%1(1,%2,%3,%4,5),(2,%2,99,99,99)")
                    .arg(i ? "," : "")
                    .arg(t)
                    .arg(20 + i * 0.5)
                    .arg(i >= 10 && i < 15 ? QStringLiteral("NULL") : QString::number(40 - i));
    }
    sql(QStringLiteral("INSERT INTO data_etp_h (eqmid, d_time, toptmp, wdgtmp, envtmp) VALUES ") + rows);

    dialog_trend t;
    t.show();
    EXPECT_GE(t.ui.combo_table->findText(QStringLiteral("data_sf6_h")), 0);
    t.ui.combo_table->setCurrentIndex(t.ui.combo_table->findText(QStringLiteral("data_etp_h")));
    ASSERT_EQ(t.ui.combo_eqmid->count(), 2);
    EXPECT_EQ(t.ui.list_columns->count(), 3);  // toptmp, wdgtmp, envtmp: no id, eqmid or time
    t.ui.combo_eqmid->setCurrentText(QStringLiteral("1"));
    check(t, QStringLiteral("envtmp"), false);
    t.ui.time_from->setDateTime(QDateTime(QDate(2024, 5, 3), QTime(10, 0)));
    t.ui.time_to->setDateTime(QDateTime(QDate(2024, 5, 3), QTime(10, 29)));
    QSignalSpy done(&t, &dialog_trend::queryFinished);
    t.ui.btn_query->click();
    ASSERT_TRUE(viewtest::waitFor([&] { return done.count() == 1; }));
    EXPECT_TRUE(done.at(0).at(0).toBool()) << t.ui.label_status->text().toStdString();
    EXPECT_EQ(t.ui.label_status->text(), QStringLiteral("30 行"));

    const auto l = lines(t);
    ASSERT_EQ(l.count(QStringLiteral("envtmp")), 0u);
    ASSERT_EQ(l.at(QStringLiteral("toptmp")).size(), 1u);
    const QList<QPointF> &top = l.at(QStringLiteral("toptmp"))[0];
    ASSERT_EQ(top.size(), 30);
    const qint64 ten = QDateTime(QDate(2024, 5, 3), QTime(10, 0)).toMSecsSinceEpoch();
    EXPECT_EQ(qint64(top.first().x()), ten);
    EXPECT_DOUBLE_EQ(top.first().y(), 20);
    EXPECT_EQ(qint64(top.last().x()), ten + 29 * 60000);
    EXPECT_DOUBLE_EQ(top.last().y(), 34.5);
    // wdgtmp: 10 values, the gap, 15 values.
    ASSERT_EQ(l.at(QStringLiteral("wdgtmp")).size(), 2u);
    EXPECT_EQ(l.at(QStringLiteral("wdgtmp"))[0].size(), 10);
    EXPECT_EQ(l.at(QStringLiteral("wdgtmp"))[1].size(), 15);
    EXPECT_DOUBLE_EQ(l.at(QStringLiteral("wdgtmp"))[1].first().y(), 25);

    // Rows missing for ten minutes split the line as NULL values do.
    sql(QStringLiteral("DELETE FROM data_etp_h WHERE eqmid = 1 AND d_time >= '2024-05-03 10:15:00' AND d_time < "
                       "'2024-05-03 10:25:00'"));
    t.ui.btn_query->click();
    ASSERT_TRUE(viewtest::waitFor([&] { return done.count() == 2; }));
    const auto m = lines(t);
    ASSERT_EQ(m.at(QStringLiteral("toptmp")).size(), 2u);
    EXPECT_EQ(m.at(QStringLiteral("toptmp"))[0].size(), 15);
    EXPECT_EQ(m.at(QStringLiteral("toptmp"))[1].size(), 5);
}

TEST_F(TrendWindow, OffersOnlyMeasurementTablesWithPlainNames) {
    useDatabase("view_trend_names");
    sql(QStringLiteral("CREATE TABLE `data_x-y_h` (id INT, eqmid INT, d_time DATETIME, v DOUBLE);"
                       "CREATE TABLE `data_Odd_h` (id INT, eqmid INT, d_time DATETIME, v DOUBLE);"
                       "CREATE TABLE notes_h (id INT)"));
    dialog_trend t;
    QStringList tables;
    for (int i = 0; i < t.ui.combo_table->count(); ++i) tables << t.ui.combo_table->itemText(i);
    EXPECT_EQ(tables.size(), 10) << tables.join(' ').toStdString();  // the schema's ten
    EXPECT_FALSE(tables.contains(QStringLiteral("data_x-y_h")));
    EXPECT_FALSE(tables.contains(QStringLiteral("data_Odd_h")));
    // A DATETIME column is no line.
    t.ui.combo_table->setCurrentIndex(t.ui.combo_table->findText(QStringLiteral("data_moa_h")));
    QStringList columns;
    for (int i = 0; i < t.ui.list_columns->count(); ++i) columns << t.ui.list_columns->item(i)->text();
    EXPECT_EQ(columns, (QStringList{QStringLiteral("leaka"), QStringLiteral("strkcnt")}));
}

TEST_F(TrendWindow, SaysWhenTheDatabaseCannotBeReached) {
    work.write(QStringLiteral("syscfg.ini"),
               QStringLiteral("[mysqlcfg]\nhostname=127.0.0.1\nport=1\ndbname=x\nusrname=x\npsw=x\n"));
    ConnectionPool::release();
    dialog_trend t;
    EXPECT_EQ(t.ui.label_status->text(), QStringLiteral("数据库不可用"));
    EXPECT_EQ(t.ui.combo_table->count(), 0);
    QSignalSpy done(&t, &dialog_trend::queryFinished);
    t.ui.btn_query->click();
    ASSERT_EQ(done.count(), 1);
    EXPECT_FALSE(done.at(0).at(0).toBool());
}

using RecordingsList = OwnDatabase;

TEST_F(RecordingsList, OpensTheFetchedFileOfARowAndRefusesNamesThatLeadElsewhere) {
    useDatabase("view_recordings");
    viewtest::writeSample(work.path(), QStringLiteral("CMIED_20240503120000000"));
    sql(QStringLiteral("INSERT INTO comtradrd (filename, srvid, filepreno, filetime, isupload) VALUES "
                       "('CMIED_20240503120000000.dat', 0, 'CMIED', '2024-05-03 12:00:00', 1),"
                       "('../CMIED_x.dat', 0, 'CMIED', '2024-05-03 11:00:00', 1),"
                       "('CMIED_gone.dat', 0, 'CMIED', '2024-05-03 10:00:00', 0)"));
    dialog_recordings r;
    ASSERT_EQ(r.ui.table_files->rowCount(), 3);
    EXPECT_EQ(r.ui.table_files->item(0, 0)->text(), QStringLiteral("2024-05-03 12:00:00"));  // newest first
    EXPECT_EQ(r.ui.table_files->item(2, 3)->text(), QStringLiteral("否"));

    r.ui.table_files->selectRow(0);
    dialog_wave *wave = r.openSelected();
    ASSERT_NE(wave, nullptr) << r.ui.label_status->text().toStdString();
    ASSERT_NE(wave->recording(), nullptr) << wave->errorText().toStdString();
    EXPECT_EQ(wave->recording()->samples(), 100u);
    wave->close();  // deletes itself

    r.ui.table_files->selectRow(1);
    EXPECT_EQ(r.openSelected(), nullptr);
    EXPECT_TRUE(r.ui.label_status->text().contains(QStringLiteral("无效"))) << r.ui.label_status->text().toStdString();
    r.ui.table_files->selectRow(2);
    EXPECT_EQ(r.openSelected(), nullptr);
    EXPECT_TRUE(r.ui.label_status->text().contains(QStringLiteral("本地没有文件")))
        << r.ui.label_status->text().toStdString();
}

}  // namespace
