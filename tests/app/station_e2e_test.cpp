// The main window against a running station: two iedsim processes on
// loopback, the real stack. Channels connect, the receive checker and the
// channel slots keep the registered report control blocks enabled, a lost
// server's blocks are reset and come back with it.
#include <QDir>
#include <QIcon>
#include <QMutexLocker>
#include <QThread>

#include <gtest/gtest.h>

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
        // A checker cycle of 2001 passes takes 2 s instead of 40.
        qputenv("TARNMON_CHECK_PASS_US", "1000");
        win = new gui_srv();
        w = win;
        set_callback_function();
        ASSERT_EQ(win->model->rowCount(), 2);
    }
    void TearDown() override {
        delete win;  // stops the checker and the stack
        cm.reset();
        bay.reset();
    }
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

}  // namespace
