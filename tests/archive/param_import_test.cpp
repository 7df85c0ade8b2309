// The two tool bar actions of the main window that fill and clear
// rptparamindex, with the real stack model of the test station and a real
// MariaDB.
#include <QAction>
#include <QFile>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include "ConnectionPool.h"
#include "zvt/archive.h"
#include "gui_srv.h"
#include "zv_ops.h"

namespace {

const QStringList kLeaves = {
    // dsA: whole data objects give their value leaf only (no q, no t)
    "CMMON/STMP1$MX$Tmp$mag$f", "CMMON/STMP1$ST$Alm$stVal", "CMMON/STMP2$ST$Alm$stVal",
    // dsB: single attributes as they are, time stamps included
    "CMMON/SIMG1$MX$Pres$mag$f", "CMMON/SIMG1$MX$Pres$t", "CMMON/SIMG1$MX$Den$mag$f", "CMMON/STMP2$MX$Tmp$mag$f",
    "CMMON/STMP1$ST$Txt$stVal",
    // dsC: STMP1.Tmp once more, and a single quality
    "CMMON/STMP1$ST$Alm$q",
    // server CM2
    "CM2MON/STMP1$MX$Tmp$mag$f"};

class ParamImport : public ::testing::Test {
protected:
    void SetUp() override {
        db = std::make_unique<archtest::OwnDatabase>(archtest::dbNameForCurrentTest());
        ASSERT_TRUE(db->ok()) << db->error().toStdString();
        QSqlQuery q(db->connection());
        ASSERT_TRUE(q.exec("delete from rptparamindex"));
        win = archtest::makeWindow();
        ASSERT_NE(ac_get_srvm_ied_ad, nullptr);
        ASSERT_NE(ac_get_srvm_ied_ad(0), nullptr) << archtest::paneLines(win).join('\n').toStdString();
        start = archtest::paneLines(win).size();
    }
    void TearDown() override {
        delete win;
        w = nullptr;
        ConnectionPool::release();
    }
    QStringList newLines() { return archtest::paneLines(win).mid(start); }
    QStringList references() {
        QStringList refs = db->rows("select paramindex from rptparamindex");
        refs.sort();
        return refs;
    }
    std::unique_ptr<archtest::OwnDatabase> db;
    gui_srv *win = nullptr;
    int start = 0;
};

QStringList sorted(QStringList l) {
    l.sort();
    return l;
}

TEST_F(ParamImport, StoresEveryValueLeafOfEveryDataSetWithItsObjectId) {
    win->ui.action_paramtodb->trigger();
    EXPECT_EQ(newLines(), QStringList({"connected!", "61850参引入库成功!"}));
    EXPECT_EQ(references(), sorted(kLeaves));
    // objid is the stack's identifier of that very leaf.
    for (const QString &row : db->rows("select paramindex,objid from rptparamindex")) {
        const QString ref = row.section('|', 0, 0);
        AI_IED_CTRL *ied = ac_get_srvm_ied_ad(ref.startsWith("CM2MON") ? 1 : 0);
        EXPECT_EQ(row.section('|', 1, 1).toInt(), ai_obj_ref_to_id_ad(ied, ref.toUtf8().constData()))
            << ref.toStdString();
    }
}

TEST_F(ParamImport, RepeatedImportKeepsTheMappingOfExistingRows) {
    QSqlQuery q(db->connection());
    ASSERT_TRUE(q.exec("insert into rptparamindex(objid,paramindex,eqmid,tablename,colname) "
                       "values(-5,'CMMON/STMP1$MX$Tmp$mag$f',1,'data_etp_h','tmp')"));
    win->ui.action_paramtodb->trigger();
    win->ui.action_paramtodb->trigger();
    EXPECT_EQ(references(), sorted(kLeaves));
    const QStringList row = db->rows("select objid<>-5,eqmid,tablename,colname from rptparamindex "
                                     "where paramindex='CMMON/STMP1$MX$Tmp$mag$f'");
    EXPECT_EQ(row, QStringList({"1|1|data_etp_h|tmp"}));
}

TEST_F(ParamImport, ClearEmptiesTheTableAndSucceedsOnAnEmptyTableToo) {
    win->ui.action_paramtodb->trigger();
    ASSERT_FALSE(references().isEmpty());
    win->ui.action_clearparam->trigger();
    EXPECT_TRUE(references().isEmpty());
    win->ui.action_clearparam->trigger();
    EXPECT_EQ(newLines(), QStringList({"connected!", "61850参引入库成功!", "connected!", "清除61850参引成功!",
                                       "connected!", "清除61850参引成功!"}));
}

TEST_F(ParamImport, ManyImportsDoNotExhaustThePool) {
    // Each command gives its connection back: more runs than the pool has connections.
    for (int i = 0; i < 7; ++i) win->ui.action_clearparam->trigger();
    const QStringList lines = newLines();
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines.count("清除61850参引成功!"), 7);
}

class ParamImportWithoutDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        // A port on loopback where nothing listens.
        QFile ini(dir.path() + "/syscfg.ini");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[mysqlcfg]\nhostname=127.0.0.1\ndbname=none\nusrname=none\npsw=none\nport=1\n");
        ini.close();
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        win = archtest::makeWindow();
        start = archtest::paneLines(win).size();
    }
    void TearDown() override {
        delete win;
        w = nullptr;
        ConnectionPool::release();
        QDir::setCurrent(previous);
    }
    QTemporaryDir dir;
    QString previous;
    gui_srv *win = nullptr;
    int start = 0;
};

TEST_F(ParamImportWithoutDatabase, ImportSaysDisconnectedThenFailsWithTheErrorText) {
    win->ui.action_paramtodb->trigger();
    const QStringList lines = archtest::paneLines(win).mid(start);
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "disconnected");
    EXPECT_EQ(lines[1], "61850参引入库失败!");
}

TEST_F(ParamImportWithoutDatabase, ClearSaysDisconnectedThenFails) {
    win->ui.action_clearparam->trigger();
    const QStringList lines = archtest::paneLines(win).mid(start);
    ASSERT_GE(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "disconnected");
    EXPECT_EQ(lines[1], "清除61850参引失败!");
}

}  // namespace
