// A picture of the archived trend for the README: one day of transformer
// temperatures as the archiving worker writes them (a row a minute), with
// half an hour missing. Saved to $TARNMON_SCREENSHOT_DIR when set.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QPixmap>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cmath>

#include "ConnectionPool.h"
#include "zvt/db.h"
#include "dialog_trend.h"
#include "view_support.h"

namespace {

TEST(Screenshot, TrendOfArchivedTemperatures) {
    dbtest::WorkDir work;
    QString error;
    ASSERT_TRUE(dbtest::createOwnDatabase(QStringLiteral("view_trend_shot"), work.path(), &error))
        << error.toStdString();
    ConnectionPool::release();
    const QDateTime start(QDate(2024, 7, 15), QTime(0, 0));
    QString rows;
    for (int m = 0; m < 1440; ++m) {
        if (m >= 800 && m < 830) continue;  // the worker was stopped for half an hour
        const double h = m / 60.0;
        const double env = 27 + 6 * std::sin(2 * M_PI * (h - 9) / 24);
        const double top = env + 28 + 7 * std::sin(2 * M_PI * (h - 12) / 24) +
                           0.6 * std::sin(m * 0.05) * std::sin(m * 0.011);
        rows += QStringLiteral("%1(1,'%2',%3,%4,%5)")
                    .arg(rows.isEmpty() ? "" : ",")
                    .arg(start.addSecs(m * 60).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                    .arg(top, 0, 'f', 2)
                    .arg(top + 9.5, 0, 'f', 2)
                    .arg(env, 0, 'f', 2);
    }
    ASSERT_TRUE(dbtest::runRootSql(
        QStringLiteral("view_trend_shot"),
        QStringLiteral("INSERT INTO data_etp_h (eqmid, d_time, toptmp, wdgtmp, envtmp) VALUES ") + rows, &error))
        << error.toStdString();
    {
        dialog_trend t;
        t.resize(1100, 620);
        t.show();
        t.ui.combo_table->setCurrentIndex(t.ui.combo_table->findText(QStringLiteral("data_etp_h")));
        t.ui.combo_eqmid->setCurrentText(QStringLiteral("1"));
        t.ui.time_from->setDateTime(start);
        t.ui.time_to->setDateTime(start.addDays(1));
        QSignalSpy done(&t, &dialog_trend::queryFinished);
        t.ui.btn_query->click();
        ASSERT_TRUE(viewtest::waitFor([&] { return done.count() == 1; }));
        ASSERT_TRUE(done.at(0).at(0).toBool()) << t.ui.label_status->text().toStdString();
        viewtest::waitFor([] { return false; }, 300);  // painted
        const QString dir = qEnvironmentVariable("TARNMON_SCREENSHOT_DIR");
        const QString path = QDir(dir.isEmpty() ? work.path() : dir).filePath(QStringLiteral("trend.png"));
        ASSERT_TRUE(t.grab().save(path, "PNG")) << path.toStdString();
    }
    ConnectionPool::release();
}

}  // namespace
