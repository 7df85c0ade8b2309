// The main window against a running station: two iedsim processes on
// loopback, the real stack. Channels connect, the receive checker and the
// channel slots keep the registered report control blocks enabled, a lost
// server's blocks are reset and come back with it; the enable requests of a
// connection are counted where they arrive, on the devices.
#include <QDir>
#include <QIcon>
#include <QMap>
#include <QMutexLocker>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "sim.h"
#include "station_fixture.h"
#include "zv_ops.h"

namespace {

bool waitFor(const std::function<bool()> &cond, int ms = 30000) {
    const int64_t end = zvt::now_ms() + ms;
    while (zvt::now_ms() < end) {
        QCoreApplication::processEvents();
        if (cond()) return true;
        QThread::msleep(10);
    }
    return cond();
}

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
        cm = std::make_unique<zvt::Sim>("CMIED", 0, 0, files + "/cm");
        bay = std::make_unique<zvt::Sim>("BAYIED", 0, 0, files + "/bay");
        QFile::copy(QStringLiteral(ZV_LIB_PATH), dir.file("libzorvan_ld.so"));
        QFile ini(dir.file("station.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        QTextStream out(&ini);
        out << "[station]\nscl = " << ZV_SAMPLE_STATION << "/sample.scd\n";
        for (auto [name, sim] : {std::pair<const char *, zvt::Sim *>{"CMIED", cm.get()}, {"BAYIED", bay.get()}})
            out << "\n[ied " << name << "]\naddr_a = 127.0.0.1:" << sim->port_a << "\naddr_b = 127.0.0.2:"
                << sim->port_b << "\nchnlA_NO = 1\nchnlB_NO = 2\n";
        ini.close();
        qunsetenv("ZORVAN_STATION");
        qputenv("TARNMON_CHECK_PASS_US", checkPassUs());
        forgetBlocks();
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
    EXPECT_EQ(enabled, QStringList({"目录服务", "断开A网", "连接B网"}));
    EXPECT_EQ(win->act_connA->text(), QString::fromUtf8("断开A网"));
    EXPECT_EQ(win->act_connB->text(), QString::fromUtf8("连接B网"));
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
                if (stateOf(s, AC_CHANNEL_A) != CHNL_STATE_CONNECTED || stateOf(s, AC_CHANNEL_B) != CHNL_STATE_CONNECTED ||
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
