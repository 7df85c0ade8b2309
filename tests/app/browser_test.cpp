// The object browser on the sample station, with the real stack library:
// the tree against the stack's model, the report list, the value table fills,
// the context menu and the channel event slots.
#include <QAction>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QMutexLocker>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "gui_srv.h"
#include "station_fixture.h"
#include "zv_ops.h"

namespace {

QImage iconImage(const QIcon &icon) { return icon.pixmap(16, 16).toImage(); }
QImage resourceImage(const char *name) {
    return iconImage(QIcon(QStringLiteral(":/gui_srv/ResourceFiles/") + QLatin1String(name)));
}

QString nameOf(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    char name[AI_OBJ_NAME_LEN] = {0};
    if (ai_obj_id_to_name_ad(ied, id, name) != 0) return QString();
    return QString::fromUtf8(name);
}

QVector<AI_OBJ_ID> dir(AI_IED_CTRL *ied, AI_OBJ_ID id, int selector = 0) {
    AI_OBJ_ID *ids = nullptr;
    ST_INT num = 0;
    if (ai_get_obj_dir_ad(ied, id, static_cast<ST_UCHAR>(selector), &ids, &num) != 0) return {};
    return QVector<AI_OBJ_ID>(ids, ids + num);
}

class Browser : public ::testing::Test {
protected:
    // `edit` may change the station's SCL text before the window loads it.
    void start(int chnlA_NO = 1, const std::function<void(QString &)> &edit = {}) {
        station = std::make_unique<StationDir>(chnlA_NO);
        if (edit) {
            QFile f(station->path() + "/sample.scd");
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            QString text = QString::fromUtf8(f.readAll());
            f.close();
            edit(text);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(text.toUtf8());
        }
        freshWindowState();
        win = new gui_srv();
        w = win;
        settle();
        ASSERT_EQ(win->model->rowCount(), 2) << win->ui.textEdit->toPlainText().toStdString();
    }
    void TearDown() override { delete win; }
    QStandardItem *serverItem(int i) { return win->model->item(i, 0); }
    AI_IED_CTRL *ied(int i) { return ac_get_srvm_ied_ad(i); }
    QStandardItem *findItem(QStandardItem *from, const QStringList &path) {
        QStandardItem *item = from;
        for (const QString &name : path) {
            QStandardItem *next = nullptr;
            for (int r = 0; r < item->rowCount() && !next; ++r)
                if (item->child(r) && item->child(r)->text() == name) next = item->child(r);
            if (!next) return nullptr;
            item = next;
        }
        return item;
    }
    QString cell(int row, int col) {
        QStandardItem *it = win->tbmodel->item(row, col);
        return it ? it->text() : QString();
    }

    std::unique_ptr<StationDir> station;
    gui_srv *win = nullptr;
};

// Walks a tree item and the model directory below it together.
void expectSubtree(AI_IED_CTRL *ied, QStandardItem *item, AI_OBJ_ID id, int srv, int depth, int *items) {
    const QVector<AI_OBJ_ID> kids = dir(ied, id);
    const int lns = kids.size();
    // Children sit at their directory positions.
    for (int i = 0; i < lns; ++i) {
        QStandardItem *child = item->child(i);
        ASSERT_NE(child, nullptr) << item->text().toStdString() << " row " << i;
        EXPECT_EQ(child->text(), nameOf(ied, kids[i]));
        EXPECT_EQ(child->data(ROLE_SRV_ID).toInt(), srv);
        EXPECT_EQ(child->data(ROLE_OBJ_ID).toInt(), kids[i]);
        EXPECT_FALSE(child->isEditable());
        ++*items;
        expectSubtree(ied, child, kids[i], srv, depth + 1, items);
    }
    if (depth == 1) {  // a logical device: its data sets follow its nodes
        const QVector<AI_OBJ_ID> ds = dir(ied, id, 1);
        ASSERT_EQ(item->rowCount(), lns + ds.size());
        for (int i = 0; i < ds.size(); ++i) {
            QStandardItem *child = item->child(lns + i);
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(child->text(), nameOf(ied, ds[i]));
            EXPECT_EQ(child->data(ROLE_OBJ_ID).toInt(), ds[i]);
            EXPECT_EQ(child->rowCount(), 0);
            EXPECT_EQ(iconImage(child->icon()), resourceImage("ds.bmp"));
            ++*items;
        }
    } else {
        EXPECT_EQ(item->rowCount(), lns);
    }
}

TEST_F(Browser, TreeMatchesTheStationModel) {
    start();
    for (int s = 0; s < 2; ++s) {
        QStandardItem *srv = serverItem(s);
        ASSERT_NE(srv, nullptr);
        EXPECT_EQ(srv->text(), QString::fromUtf8(ac_get_srvm_name_ad(s)));
        EXPECT_EQ(srv->data(ROLE_SRV_ID).toInt(), s);
        EXPECT_FALSE(srv->data(ROLE_OBJ_ID).isValid());
        EXPECT_EQ(iconImage(srv->icon()), resourceImage("srv.bmp"));
        int items = 0;
        expectSubtree(ied(s), srv, ied(s)->cobj.id, s, 0, &items);
        EXPECT_GT(items, 100);
    }
}

TEST_F(Browser, LevelsCarryTheirIcons) {
    start();
    QStandardItem *ld = findItem(serverItem(0), {"CMIEDMON"});
    ASSERT_NE(ld, nullptr);
    EXPECT_EQ(iconImage(ld->icon()), resourceImage("ld.bmp"));
    QStandardItem *ln = findItem(ld, {"STMP1"});
    ASSERT_NE(ln, nullptr);
    EXPECT_EQ(iconImage(ln->icon()), resourceImage("ln.bmp"));
    QStandardItem *fc = findItem(ln, {"MX"});
    ASSERT_NE(fc, nullptr);
    EXPECT_EQ(iconImage(fc->icon()), resourceImage("fc.bmp"));
    QStandardItem *mag = findItem(fc, {"Tmp", "mag", "f"});
    ASSERT_NE(mag, nullptr);
    EXPECT_EQ(iconImage(mag->icon()), resourceImage("va.bmp"));
    QStandardItem *ds = findItem(ld, {"dsTemp"});
    ASSERT_NE(ds, nullptr);
    EXPECT_GT(ds->row(), ln->row());
}

// Which report control blocks the tree registers, by the servers' channel A number.
struct InstanceCase {
    const char *name;
    int chnlA_NO;
    const char *suffix;  // null: nothing registered
};
void PrintTo(const InstanceCase &c, std::ostream *os) { *os << c.name; }

class RegisteredBlocks : public Browser, public ::testing::WithParamInterface<InstanceCase> {};

TEST_P(RegisteredBlocks, OnlyBlocksOfTheInstanceAreListed) {
    start(GetParam().chnlA_NO);
    QStringList list;
    {
        QMutexLocker lock(&rptlst_mutex);
        list = rptlst;
    }
    if (GetParam().suffix == nullptr) {
        EXPECT_TRUE(list.isEmpty()) << list.join(' ').toStdString();
        return;
    }
    // CMIED: seven buffered blocks and one unbuffered; BAYIED: two of each.
    ASSERT_EQ(list.size(), 12) << list.join(' ').toStdString();
    int buffered = 0;
    for (const QString &entry : list) {
        const QStringList f = entry.split('_');
        ASSERT_EQ(f.size(), 4) << entry.toStdString();
        EXPECT_EQ(f[3], QStringLiteral("false"));
        const int srv = f[0].toInt();
        const QString block = nameOf(ied(srv), f[1].toInt());
        EXPECT_TRUE(block.endsWith(QLatin1String(GetParam().suffix))) << block.toStdString();
        // 1 for a block under BR, 0 under RP.
        const AI_OBJ_ID fc = ai_find_obj_parent_ad(ied(srv), f[1].toInt());
        EXPECT_EQ(f[2], nameOf(ied(srv), fc) == QLatin1String("BR") ? QStringLiteral("1") : QStringLiteral("0"));
        buffered += f[2] == QLatin1String("1");
    }
    EXPECT_EQ(buffered, 9);
}

INSTANTIATE_TEST_SUITE_P(Instances, RegisteredBlocks,
                         ::testing::Values(InstanceCase{"One", 1, "01"}, InstanceCase{"Two", 2, "02"},
                                           InstanceCase{"TwelveMatchesNoSampleBlock", 12, nullptr}),
                         [](const ::testing::TestParamInfo<InstanceCase> &i) { return std::string(i.param.name); });

TEST_F(Browser, ServerClickListsDevicesThenStatistics) {
    start();
    win->ui.treeView->clicked(serverItem(0)->index());
    AI_IED_CTRL *m = ied(0);
    const int lds = m->num_ld;
    ASSERT_EQ(win->tbmodel->columnCount(), 4);
    EXPECT_EQ(cell(0, 2), QStringLiteral("CMIEDMON"));
    EXPECT_EQ(cell(0, 1), QStringLiteral("CMIEDMON"));
    EXPECT_EQ(cell(0, 3), QString::fromUtf8("在线监测"));
    EXPECT_EQ(cell(lds, 0), QString());
    EXPECT_EQ(cell(lds + 1, 0), QString::fromUtf8("CMIED内对象数目统计"));
    EXPECT_EQ(cell(lds + 2, 0), QString::fromUtf8("LD对象数："));
    EXPECT_EQ(cell(lds + 2, 1), QString::number(ai_get_ld_num_ad(m)));
    EXPECT_EQ(cell(lds + 3, 1), QString::number(ai_get_ln_num_ad(m)));
    EXPECT_EQ(cell(lds + 4, 1), QString::number(ai_get_ds_num_ad(m)));
    EXPECT_EQ(cell(lds + 5, 0), QString::fromUtf8("VMD内对象总数："));
    EXPECT_EQ(cell(lds + 5, 1), QString::number(ai_get_ied_obj_num_ad(m)));
    EXPECT_EQ(win->tbmodel->rowCount(), lds + 6);
}

TEST_F(Browser, DeviceClickListsItsNodesWithDescriptions) {
    start();
    QStandardItem *ld = findItem(serverItem(0), {"CMIEDMON"});
    win->ui.treeView->clicked(ld->index());
    const AI_LD_CTRL *rec = ai_get_obj_id_ctrl_ad(ied(0), ld->data(ROLE_OBJ_ID).toInt())->u.ld_idctrl.ld;
    EXPECT_EQ(win->tbmodel->rowCount(), rec->num_ln);
    EXPECT_EQ(cell(0, 2), QStringLiteral("LLN0"));
    int stmp1 = -1;
    for (int r = 0; r < win->tbmodel->rowCount(); ++r)
        if (cell(r, 2) == QLatin1String("STMP1")) stmp1 = r;
    ASSERT_GE(stmp1, 0);
    EXPECT_EQ(cell(stmp1, 1), QStringLiteral("CMIEDMON/STMP1"));
    EXPECT_EQ(cell(stmp1, 3), QString::fromUtf8("1号主变顶层油温"));
}

TEST_F(Browser, LeafAttributeClickShowsOneRowWithTypeAndValue) {
    start();
    QStandardItem *f = findItem(serverItem(0), {"CMIEDMON", "STMP1", "MX", "Tmp", "mag", "f"});
    ASSERT_NE(f, nullptr);
    win->ui.treeView->clicked(f->index());
    ASSERT_EQ(win->tbmodel->columnCount(), 6);
    ASSERT_EQ(win->tbmodel->rowCount(), 1);
    EXPECT_EQ(cell(0, 0), QString::number(f->data(ROLE_OBJ_ID).toInt()));
    EXPECT_EQ(cell(0, 1), QStringLiteral("CMIEDMON/STMP1$MX$Tmp$mag$f"));
    EXPECT_EQ(cell(0, 2), QStringLiteral("f"));
    EXPECT_FALSE(cell(0, 3).isEmpty());
    EXPECT_FALSE(cell(0, 4).isEmpty());
    EXPECT_TRUE(cell(0, 5).isEmpty());
}

TEST_F(Browser, DataSetSpreadsStructuredMembersOverRows) {
    start();
    QStandardItem *ds = findItem(serverItem(0), {"CMIEDMON", "dsTemp"});
    ASSERT_NE(ds, nullptr);
    win->ui.treeView->clicked(ds->index());
    // Three members Tmp (mag.f, q, t): each a "complex" row then its primitives.
    ASSERT_GE(win->tbmodel->rowCount(), 6);
    EXPECT_EQ(cell(0, 1), QStringLiteral("CMIEDMON/STMP1$MX$Tmp"));
    EXPECT_EQ(cell(0, 3), QStringLiteral("complex"));
    int row = 1;
    while (row < win->tbmodel->rowCount() && cell(row, 3) != QLatin1String("complex")) {
        EXPECT_TRUE(cell(row, 1).startsWith(QLatin1String("CMIEDMON/STMP1$MX$Tmp$"))) << cell(row, 1).toStdString();
        ++row;
    }
    EXPECT_GE(row, 3);
    ASSERT_LT(row, win->tbmodel->rowCount());
    EXPECT_EQ(cell(row, 1), QStringLiteral("CMIEDMON/STMP2$MX$Tmp"));
}

// A member the model cannot resolve keeps its place in the model's data set
// (identifier -1) but has nothing to read: the table gives it no row, and the
// members after it follow on without a gap.
TEST_F(Browser, DataSetMemberThatDoesNotResolveTakesNoRow) {
    start(1, [](QString &scl) {
        const QString second = QStringLiteral(R"(<FCDA ldInst="MON" lnClass="STMP" lnInst="2" doName="Tmp" fc="MX"/>)");
        ASSERT_TRUE(scl.contains(second));
        scl.replace(second,
                    QStringLiteral(R"(<FCDA ldInst="MON" lnClass="STMP" lnInst="1" doName="NoSuchDO" fc="MX"/>)") +
                        second);
    });
    QStandardItem *ds = findItem(serverItem(0), {"CMIEDMON", "dsTemp"});
    ASSERT_NE(ds, nullptr);
    const AI_DS_CTRL *rec = ai_get_obj_id_ctrl_ad(ied(0), ds->data(ROLE_OBJ_ID).toInt())->u.ds_idctrl.ds;
    ASSERT_EQ(rec->mb_num, 4);
    ASSERT_EQ(rec->mb_ids[1], -1);
    EXPECT_EQ(ai_get_obj_id_ctrl_ad(ied(0), rec->mb_ids[1]), nullptr);

    win->ui.treeView->clicked(ds->index());
    QStringList members;
    for (int r = 0; r < win->tbmodel->rowCount(); ++r) {
        // Every row is filled: ID, path and name.
        EXPECT_FALSE(cell(r, 0).isEmpty()) << r;
        EXPECT_FALSE(cell(r, 1).isEmpty()) << r;
        EXPECT_FALSE(cell(r, 2).isEmpty()) << r;
        if (cell(r, 3) == QLatin1String("complex")) members << cell(r, 1);
        EXPECT_FALSE(cell(r, 1).contains(QLatin1String("NoSuchDO"))) << r;
    }
    EXPECT_EQ(members, QStringList({"CMIEDMON/STMP1$MX$Tmp", "CMIEDMON/STMP2$MX$Tmp", "CMIEDMON/STMP3$MX$Tmp"}));
    ASSERT_EQ(win->tbmodel->rowCount() % 3, 0);
    const int per = win->tbmodel->rowCount() / 3;  // the member's row, then its primitives
    EXPECT_EQ(cell(per, 1), QStringLiteral("CMIEDMON/STMP2$MX$Tmp"));
    EXPECT_TRUE(cell(per + 1, 1).startsWith(QLatin1String("CMIEDMON/STMP2$MX$Tmp$")));
}

TEST_F(Browser, IedAndUnknownClicksKeepTheTable) {
    start();
    QStandardItem *ld = findItem(serverItem(0), {"CMIEDMON"});
    win->ui.treeView->clicked(ld->index());
    const int rows = win->tbmodel->rowCount();
    auto *fake = new QStandardItem(QStringLiteral("x"));
    fake->setData(0, ROLE_SRV_ID);
    fake->setData(999999, ROLE_OBJ_ID);  // no such object
    win->model->appendRow(fake);
    win->ui.treeView->clicked(fake->index());
    EXPECT_EQ(win->tbmodel->rowCount(), rows);
    fake->setData(0, ROLE_OBJ_ID);  // the IED object itself
    win->ui.treeView->clicked(fake->index());
    EXPECT_EQ(win->tbmodel->rowCount(), rows);
}

TEST_F(Browser, MenuEnablesEntriesByObjectType) {
    start();
    win->show();
    win->ui.treeView->expandAll();
    settle();
    QStandardItem *srv = serverItem(0);
    EXPECT_EQ(menuFor(win, srv), QStringList({"目录服务", "连接A网", "连接B网", "导出SCL模型"}));
    EXPECT_EQ(win->srv_id_s, 0);
    EXPECT_EQ(win->obj_id_s, 0);
    QStandardItem *ld = findItem(srv, {"CMIEDMON"});
    EXPECT_EQ(menuFor(win, ld), QStringList({"目录服务", "定值服务"}));
    EXPECT_EQ(win->obj_id_s, ld->data(ROLE_OBJ_ID).toInt());
    EXPECT_EQ(menuFor(win, findItem(ld, {"STMP1"})), QStringList({"读服务", "写服务", "目录服务"}));
    EXPECT_EQ(menuFor(win, findItem(ld, {"STMP1", "MX"})), QStringList({"读服务", "写服务", "目录服务"}));
    EXPECT_EQ(menuFor(win, findItem(ld, {"LLN0", "BR"})), QStringList({"读服务", "写服务", "目录服务", "报告服务"}));
    EXPECT_EQ(menuFor(win, findItem(ld, {"dsTemp"})), QStringList({"读服务", "目录服务"}));
    EXPECT_EQ(menuFor(win, findItem(ld, {"STMP1", "MX", "Tmp", "mag"})), QStringList({"读服务", "写服务", "目录服务"}));
    // The bay: logs, setting groups and controls where the device has them.
    QStandardItem *bay = findItem(serverItem(1), {"BAYIEDCTRL"});
    ASSERT_NE(bay, nullptr);
    EXPECT_EQ(menuFor(win, bay), QStringList({"目录服务", "日志服务", "定值服务"}));
    EXPECT_EQ(menuFor(win, findItem(serverItem(1), {"BAYIEDMEAS"})), QStringList({"目录服务", "定值服务"}));
    EXPECT_EQ(menuFor(win, findItem(bay, {"LLN0", "LG"})), QStringList({"读服务", "写服务", "目录服务", "日志服务"}));
    EXPECT_EQ(menuFor(win, findItem(bay, {"LLN0", "LG", "lcbStatus"})),
              QStringList({"读服务", "写服务", "目录服务", "日志服务"}));
    EXPECT_EQ(menuFor(win, findItem(bay, {"CSWI1", "ST", "Pos"})),
              QStringList({"读服务", "写服务", "目录服务", "控制服务"}));
    EXPECT_EQ(menuFor(win, findItem(bay, {"CSWI1", "CF", "Pos"})),
              QStringList({"读服务", "写服务", "目录服务", "控制服务"}));
    EXPECT_EQ(menuFor(win, findItem(bay, {"XCBR1", "ST", "OpCnt"})), QStringList({"读服务", "写服务", "目录服务"}));
    EXPECT_EQ(menuFor(win, findItem(bay, {"CSWI1", "ST", "Pos", "stVal"})),
              QStringList({"读服务", "写服务", "目录服务"}));
    // Nothing connected: both network entries offer to connect.
    EXPECT_EQ(win->act_connA->text(), QString::fromUtf8("连接A网"));
    EXPECT_EQ(win->act_connB->text(), QString::fromUtf8("连接B网"));
}

TEST_F(Browser, ConnectEventTurnsIconAndLossResetsOnlyThatServersBlocks) {
    start();
    stopChecker();
    {
        QMutexLocker lock(&rptlst_mutex);
        for (QString &e : rptlst) e.replace(QLatin1String("_false"), QLatin1String("_true"));
    }
    win->_on_connectedToChnl(1, AC_CHANNEL_A);
    settle();
    EXPECT_EQ(iconImage(serverItem(1)->icon()), resourceImage("srv1.gif"));
    EXPECT_TRUE(win->ui.textEdit->toPlainText().contains("connected to srv:1, chnl:0"));
    win->_on_disconnectedToChnl(1, AC_CHANNEL_B);
    settle();
    EXPECT_EQ(iconImage(serverItem(1)->icon()), resourceImage("srv.bmp"));
    EXPECT_TRUE(win->ui.textEdit->toPlainText().contains("disconnected to srv:1, chnl:1"));
    QMutexLocker lock(&rptlst_mutex);
    for (const QString &e : rptlst) {
        if (e.startsWith(QLatin1String("1_")))
            EXPECT_TRUE(e.endsWith(QLatin1String("_false"))) << e.toStdString();
        else
            EXPECT_TRUE(e.endsWith(QLatin1String("_true"))) << e.toStdString();
    }
}

}  // namespace
