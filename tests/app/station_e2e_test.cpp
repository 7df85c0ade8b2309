// The main window against a running station: two iedsim processes on
// loopback, the real stack. Channels connect, the receive checker and the
// channel slots keep the registered report control blocks enabled, a lost
// server's blocks are reset and come back with it; the enable requests of a
// connection are counted where they arrive, on the devices.
#include <QDir>
#include <QIcon>
#include <QMap>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "zvt/iedsim.h"
#include "zvt/qt_wait.h"
#include "station_fixture.h"
#include "zv_ops.h"

namespace {

using zvt::waitFor;

QImage iconImage(const QIcon &icon) { return icon.pixmap(16, 16).toImage(); }
QImage resourceImage(const char *name) {
    return iconImage(QIcon(QStringLiteral(":/gui_srv/ResourceFiles/") + QLatin1String(name)));
}

// Every registered block of server `srv` is in state `state`.
bool blocksOf(int srv, const char *state) {
    QMutexLocker lock(&rptlst_mutex);
    int n = 0;
    for (const QString &e : rptlst) {
        const QStringList f = e.split('_');
        if (f.value(0).toInt() != srv) continue;
        ++n;
        if (f.value(3) != QLatin1String(state)) return false;
    }
    return n > 0;
}

class Station : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string files = dir.path().toStdString();
        QDir(dir.path()).mkpath("cm");
        QDir(dir.path()).mkpath("bay");
        // The devices and the client share the station's SCL.
        const QString scl = stationScl();
        const std::vector<std::string> extra = {"--scl", scl.toStdString()};
        cm = std::make_unique<zvt::Sim>("CMIED", 0, 0, files + "/cm", extra);
        bay = std::make_unique<zvt::Sim>("BAYIED", 0, 0, files + "/bay", extra);
        QFile::copy(QStringLiteral(ZV_LIB_PATH), dir.file("libzorvan_ld.so"));
        QFile ini(dir.file("station.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        QTextStream out(&ini);
        if (!modelKeys()) out << "[station]\nscl = " << scl << "\n";
        for (auto [name, sim] : {std::pair<const char *, zvt::Sim *>{"CMIED", cm.get()}, {"BAYIED", bay.get()}})
            out << "\n[ied " << name << "]\naddr_a = 127.0.0.1:" << sim->port_a
                << "\naddr_b = 127.0.0.2:" << sim->port_b << "\nchnlA_NO = 1\nchnlB_NO = 2\n"
                << (modelKeys() ? modelKeys() : "");
        ini.close();
        qunsetenv("ZORVAN_STATION");
        qputenv("TARNMON_CHECK_PASS_US", checkPassUs());
        freshWindowState();
        win = new gui_srv();
        w = win;
        set_callback_function();
        ASSERT_EQ(win->model->rowCount(), 2);
    }
    void TearDown() override {
        delete win;  // stops the checker and the stack
        cm.reset();
        bay.reset();
        qunsetenv("TARNMON_CHECK_PASS_US");
    }
    // A checker cycle of 2001 passes takes 2 s instead of 40.
    virtual const char *checkPassUs() const { return "1000"; }
    virtual QString stationScl() { return QStringLiteral(ZV_SAMPLE_STATION "/sample.scd"); }
    // More keys of every [ied] section; with them the station names no SCL.
    virtual const char *modelKeys() const { return nullptr; }
    bool iconIs(int srv, const char *name) { return iconImage(win->model->item(srv)->icon()) == resourceImage(name); }
    CHNL_STATE stateOf(int srv, AC_CHANNEL ch) {
        CHNL_STATE a = CHNL_STATE_UNCONNECTED, b = CHNL_STATE_UNCONNECTED;
        AC_CHANNEL active = AC_CHANNEL_UNKNOWN;
        ac_get_srvm_chnlState_ad(srv, &a, &b, &active);
        return ch == AC_CHANNEL_A ? a : b;
    }

    ScopedWorkDir dir;
    std::unique_ptr<zvt::Sim> cm, bay;
    gui_srv *win = nullptr;
};

TEST_F(Station, BlocksAreEnabledOnConnectResetOnLossAndBackAfterRestart) {
    ASSERT_TRUE(waitFor([&] { return iconIs(0, "srv1.gif") && iconIs(1, "srv1.gif"); }));
    ASSERT_TRUE(waitFor([] { return blocksOf(0, "true") && blocksOf(1, "true"); }))
        << QStringList(rptlst).join(' ').toStdString();
    EXPECT_TRUE(waitFor([&] { return win->ui.textEdit->toPlainText().contains("connected to srv:1, chnl:"); }));

    bay->kill(SIGTERM);
    ASSERT_TRUE(waitFor([&] { return iconIs(1, "srv.bmp") && blocksOf(1, "false"); }));
    EXPECT_TRUE(blocksOf(0, "true"));  // the other server keeps its blocks
    EXPECT_TRUE(waitFor([&] { return win->ui.textEdit->toPlainText().contains("disconnected to srv:1, chnl:"); }));

    bay->restart();
    ASSERT_TRUE(waitFor([&] { return iconIs(1, "srv1.gif") && blocksOf(1, "true"); }));
}

TEST_F(Station, MenuCaptionsFollowTheChannelStates) {
    win->show();
    ASSERT_TRUE(waitFor([&] {
        return stateOf(0, AC_CHANNEL_A) == CHNL_STATE_CONNECTED && stateOf(0, AC_CHANNEL_B) == CHNL_STATE_CONNECTED;
    }));
    cm->ask("refuse B");
    cm->ask("drop B");
    ASSERT_TRUE(waitFor([&] { return stateOf(0, AC_CHANNEL_B) != CHNL_STATE_CONNECTED; }));
    const QStringList enabled = menuFor(win, win->model->item(0));
    EXPECT_EQ(enabled, QStringList({"目录服务", "断开A网", "连接B网", "导出SCL模型"}));
    EXPECT_EQ(win->act_connA->text(), QString::fromUtf8("断开A网"));
    EXPECT_EQ(win->act_connB->text(), QString::fromUtf8("连接B网"));
}

// dsTemp with a second member that names nothing, on the devices and in the
// client alike: the devices answer a read of the set with a failure for that
// member.
class BrokenDataSet : public Station {
protected:
    QString stationScl() override {
        QFile in(QStringLiteral(ZV_SAMPLE_STATION "/sample.scd"));
        EXPECT_TRUE(in.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(in.readAll());
        const QString second = QStringLiteral(R"(<FCDA ldInst="MON" lnClass="STMP" lnInst="2" doName="Tmp" fc="MX"/>)");
        EXPECT_TRUE(text.contains(second));
        text.replace(second,
                     QStringLiteral(R"(<FCDA ldInst="MON" lnClass="STMP" lnInst="1" doName="NoSuchDO" fc="MX"/>)") +
                         second);
        QFile out(dir.file("broken.scd"));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text.toUtf8());
        return out.fileName();
    }
    // The pane without the channel events, which come when they come.
    QStringList pane() {
        QStringList lines = win->ui.textEdit->toPlainText().split('\n');
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const QString &l) { return l.contains(QLatin1String("connected to srv:")); }),
                    lines.end());
        return lines;
    }
    // Runs the context menu's read service on `ref` of server 0; the lines the
    // pane gets from the moment of the request until `done` holds for them.
    QStringList readService(const char *ref, const std::function<bool(const QStringList &)> &done) {
        const int from = pane().size();
        win->srv_id_s = 0;
        win->obj_id_s = ai_obj_ref_to_id_ad(ac_get_srvm_ied_ad(0), ref);
        EXPECT_GE(win->obj_id_s, 0) << ref;
        win->act_read->trigger();
        QStringList lines;
        EXPECT_TRUE(waitFor([&] {
            lines = pane().mid(from);
            return done(lines);
        })) << lines.join('\n').toStdString();
        return lines;
    }
};

TEST_F(BrokenDataSet, ReadServiceShowsValuesOrOneFailureAndTheTableKeepsTheModelsValues) {
    ASSERT_TRUE(waitFor([&] { return stateOf(0, AC_CHANNEL_A) == CHNL_STATE_CONNECTED && blocksOf(0, "true"); }));
    ASSERT_EQ(cm->ask("set CMIEDMON/STMP1$MX$Tmp$mag$f 61.5"), "OK");

    // The "queued" line is written once the request is queued; the outcome
    // comes from the stack's thread and may show before it.
    const QString queued = QString::fromUtf8("读服务加入队列成功");
    const QString failed = QString::fromUtf8("读服务返回失败！");
    auto sorted = [](QStringList l) {
        l.sort();
        return l;
    };

    // An attribute the device serves: one line for its primitive.
    const QString mag1 = QString::fromUtf8("CMIEDMON/STMP1$MX$Tmp$mag$f, val = 61.5, type = FLOAT32, len = 4！");
    const QStringList ok = readService("CMIEDMON/STMP1$MX$Tmp$mag$f",
                                       [&](const QStringList &l) { return l.contains(mag1); });
    EXPECT_EQ(sorted(ok), sorted({queued, mag1}));

    // The data set: the device answers the member that names nothing with a
    // failure (and the client has nowhere to keep it). The pane says so once,
    // with no value lines for the members it did deliver; a read of an
    // attribute afterwards shows that nothing more came of the set's read.
    const int from = pane().size();
    readService("CMIEDMON/LLN0$dsTemp", [&](const QStringList &l) { return l.contains(failed); });
    const QString mag2 = QStringLiteral("CMIEDMON/STMP2$MX$Tmp$mag$f, val = ");
    readService("CMIEDMON/STMP2$MX$Tmp$mag$f", [&](const QStringList &l) { return !l.filter(mag2).isEmpty(); });
    const QStringList lines = pane().mid(from);
    ASSERT_EQ(lines.size(), 4) << lines.join('\n').toStdString();
    EXPECT_EQ(sorted(lines.mid(0, 2)), sorted({queued, failed}));
    const QStringList last = lines.mid(2, 2);
    EXPECT_TRUE(last.contains(queued));
    const QString value = last.value(last.indexOf(queued) == 0 ? 1 : 0);
    EXPECT_TRUE(
        QRegularExpression(
            QString::fromUtf8("^CMIEDMON/STMP2\\$MX\\$Tmp\\$mag\\$f, val = -?[0-9.]+, type = FLOAT32, len = 4！$"))
            .match(value)
            .hasMatch())
        << value.toStdString();

    // The value table is drawn from the client's model, not from the device:
    // the failed read leaves it with the three members it can show and the
    // value the device has had since the set command.
    QStandardItem *ds = nullptr;
    QStandardItem *ld = win->model->item(0)->child(0);
    for (int r = 0; r < ld->rowCount(); ++r)
        if (ld->child(r)->text() == QLatin1String("dsTemp")) ds = ld->child(r);
    ASSERT_NE(ds, nullptr);
    win->ui.treeView->clicked(ds->index());
    QStringList members;
    QString mag;
    for (int r = 0; r < win->tbmodel->rowCount(); ++r) {
        const QString path = win->tbmodel->item(r, 1) ? win->tbmodel->item(r, 1)->text() : QString();
        if (win->tbmodel->item(r, 3) && win->tbmodel->item(r, 3)->text() == QLatin1String("complex")) members << path;
        if (path == QLatin1String("CMIEDMON/STMP1$MX$Tmp$mag$f")) mag = win->tbmodel->item(r, 4)->text();
    }
    EXPECT_EQ(members, QStringList({"CMIEDMON/STMP1$MX$Tmp", "CMIEDMON/STMP2$MX$Tmp", "CMIEDMON/STMP3$MX$Tmp"}));
    EXPECT_EQ(mag, QStringLiteral("61.5"));
}

// Requests as the device saw them, from iedsim's "rcb" command.
struct DeviceBlock {
    int ena = -1;
    long reads = -1;
};
DeviceBlock deviceBlock(zvt::Sim &sim, const QString &ref) {
    const std::string ans = sim.ask("rcb " + ref.toStdString());
    DeviceBlock b;
    if (std::sscanf(ans.c_str(), "OK ena=%d owner=%*d reads=%ld", &b.ena, &b.reads) != 2) ADD_FAILURE() << ans;
    return b;
}

QString refOf(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    char ref[AI_OBJ_REF_LEN] = {0};
    if (ai_obj_id_to_ref_ad(ied, id, ref) != 0) return QString();
    return QString::fromUtf8(ref);
}

QVector<AI_OBJ_ID> childrenOf(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    AI_OBJ_ID *ids = nullptr;
    ST_INT num = 0;
    if (ai_get_obj_dir_ad(ied, id, 0, &ids, &num) != 0 || ids == nullptr) return {};
    return QVector<AI_OBJ_ID>(ids, ids + num);
}

// Every report control block of a server's model (BR and RP of each LLN0),
// registered for this client or not.
QVector<AI_OBJ_ID> allBlocks(AI_IED_CTRL *ied) {
    QVector<AI_OBJ_ID> out;
    for (int i = 0; i < ied->num_ld; ++i)
        for (AI_OBJ_ID ln : childrenOf(ied, ied->ld_tbl[i]->cobj.id)) {
            if (!refOf(ied, ln).endsWith(QLatin1String("/LLN0"))) continue;
            for (AI_OBJ_ID fc : childrenOf(ied, ln)) {
                const QString r = refOf(ied, fc);
                if (r.endsWith(QLatin1String("$BR")) || r.endsWith(QLatin1String("$RP"))) out += childrenOf(ied, fc);
            }
        }
    return out;
}

std::atomic<int> g_barriers{0};
void barrierDone(AC_REQ_CTRL *) { ++g_barriers; }

class QuietChecker : public Station {
protected:
    // One pass a second: the checker's read-backs (pass 1500) and re-enables
    // (pass 2000) lie beyond the test, so every read of a whole block that a
    // device sees is the first step of an enable request.
    const char *checkPassUs() const override { return "1000000"; }

    zvt::Sim &sim(int srv) { return srv == 0 ? *cm : *bay; }
    QSet<AI_OBJ_ID> registered(int srv) {
        QSet<AI_OBJ_ID> out;
        QMutexLocker lock(&rptlst_mutex);
        for (const QString &e : rptlst)
            if (e.section('_', 0, 0).toInt() == srv) out.insert(e.section('_', 1, 1).toInt());
        return out;
    }
    // Whole-block reads per block of server `srv`, once every request queued
    // for it so far has reached the device: requests start in order on the
    // active channel and the device answers them in order, so the answer to a
    // read queued now comes after theirs.
    QMap<AI_OBJ_ID, DeviceBlock> settledCounts(int srv) {
        AI_IED_CTRL *ied = ac_get_srvm_ied_ad(srv);
        const QVector<AI_OBJ_ID> blocks = allBlocks(ied);
        AI_OBJ_ID ids[1] = {ai_obj_ref_to_id_ad(ied, (refOf(ied, blocks.value(0)) + "$RptEna").toUtf8().constData())};
        const int before = g_barriers;
        AC_READ_REQ_INFO info{ids, 1, barrierDone};
        EXPECT_EQ(ac_read_obj_value_ad(srv, &info, 15, nullptr), 0);
        EXPECT_TRUE(waitFor([&] { return g_barriers > before; }));
        QMap<AI_OBJ_ID, DeviceBlock> out;
        for (AI_OBJ_ID b : blocks) out[b] = deviceBlock(sim(srv), refOf(ied, b));
        return out;
    }
    int connectLines(int srv) {
        const QString head = QStringLiteral("connected to srv:%1, chnl:").arg(srv);
        int n = 0;
        for (const QString &line : win->ui.textEdit->toPlainText().split('\n')) n += line.startsWith(head);
        return n;
    }
};

TEST_F(QuietChecker, EachConnectSendsOneEnableRequestPerRegisteredBlockOfThatServer) {
    // Both networks of both servers up, both connection events handled.
    ASSERT_TRUE(waitFor(
        [&] {
            const QString pane = win->ui.textEdit->toPlainText();
            for (int s = 0; s < 2; ++s)
                if (stateOf(s, AC_CHANNEL_A) != CHNL_STATE_CONNECTED ||
                    stateOf(s, AC_CHANNEL_B) != CHNL_STATE_CONNECTED ||
                    !pane.contains(QStringLiteral("connected to srv:%1, chnl:0").arg(s)) ||
                    !pane.contains(QStringLiteral("connected to srv:%1, chnl:1").arg(s)) || !blocksOf(s, "true"))
                    return false;
            return true;
        },
        60000))
        << win->ui.textEdit->toPlainText().toStdString();

    QMap<AI_OBJ_ID, DeviceBlock> before[2];
    for (int s = 0; s < 2; ++s) {
        before[s] = settledCounts(s);
        const int connects = connectLines(s);
        EXPECT_GE(connects, 2);
        const QSet<AI_OBJ_ID> mine = registered(s);
        ASSERT_FALSE(mine.isEmpty());
        AI_IED_CTRL *ied = ac_get_srvm_ied_ad(s);
        int seen = 0;
        for (auto it = before[s].cbegin(); it != before[s].cend(); ++it) {
            const std::string ref = refOf(ied, it.key()).toStdString();
            if (mine.contains(it.key())) {
                ++seen;
                EXPECT_EQ(it->reads, connects) << ref;  // one enable request per connection event
                EXPECT_EQ(it->ena, 1) << ref;
            } else {
                EXPECT_EQ(it->reads, 0) << ref;  // blocks of other clients are left alone
                EXPECT_EQ(it->ena, 0) << ref;
            }
        }
        EXPECT_EQ(seen, mine.size());
    }

    // A further event for server 1, whose blocks all count as enabled: one
    // request per block again, none for server 0.
    const int lines = connectLines(1);
    win->_on_connectedToChnl(1, AC_CHANNEL_A);
    // The slot shows its line after it has queued its requests.
    ASSERT_TRUE(waitFor([&] { return connectLines(1) > lines; }));
    for (int s = 0; s < 2; ++s) {
        const QMap<AI_OBJ_ID, DeviceBlock> after = settledCounts(s);
        const QSet<AI_OBJ_ID> mine = registered(s);
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            EXPECT_EQ(it->reads, before[s][it.key()].reads + (s == 1 && mine.contains(it.key()) ? 1 : 0))
                << refOf(ac_get_srvm_ied_ad(s), it.key()).toStdString();
    }
    EXPECT_TRUE(waitFor([] { return blocksOf(1, "true"); }));
}

}  // namespace

// Devices without their SCL (model = device): after the first association
// each server's branch holds the device's model, its blocks for this client
// are registered and enabled on the device, and the model can be exported.
class DeviceStation : public Station {
protected:
    const char *modelKeys() const override { return "model = device\n"; }
};

TEST_F(DeviceStation, TreeAndBlocksComeFromTheDevicesAndTheModelExports) {
    ASSERT_TRUE(
        waitFor([&] { return win->model->item(0)->rowCount() > 0 && win->model->item(1)->rowCount() > 0; }, 60000))
        << win->ui.textEdit->toPlainText().toStdString();
    EXPECT_TRUE(waitFor(
        [&] { return win->ui.textEdit->toPlainText().contains(QString::fromUtf8("已从装置取得服务器CMIED的模型")); }));
    ASSERT_TRUE(waitFor([] { return blocksOf(0, "true") && blocksOf(1, "true"); }, 60000))
        << QStringList(rptlst).join(' ').toStdString();
    // The blocks of channel A's instance, enabled on the device itself.
    EXPECT_EQ(deviceBlock(*cm, QStringLiteral("CMIEDMON/LLN0$BR$brcbTemp01")).ena, 1);
    EXPECT_EQ(deviceBlock(*cm, QStringLiteral("CMIEDMON/LLN0$BR$brcbTemp02")).ena, 0);
    QStandardItem *ld = win->model->item(0)->child(0);
    EXPECT_EQ(ld->text(), QStringLiteral("CMIEDMON"));

    QString why;
    const QString icd = dir.file("CMIED.icd");
    ASSERT_TRUE(win->ExportServerScl(0, icd, &why)) << why.toStdString();
    QFile f(icd);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("<ReportControl name=\"brcbTemp\"")));
    EXPECT_TRUE(text.contains(QStringLiteral("<RptEnabled max=\"4\"")));
}
