// tarnmon as it starts in the field, against a CMIED played as devices of
// every kind meet it (edition 1, edition 2 with or without Owner and ResvTms,
// fixed report settings, GI refused, a block held by another client, a small
// PDU), while the SCL says edition 2 with both: the receive checker enables
// every block of this client's instances (or the stack logs the device's
// refusal), the enabled state in rptlst is the device's, reports arrive and
// the archiving worker stores their values.
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QStandardItem>
#include <QTextStream>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

#include "zvt/archive.h"
#include "gui_srv.h"
#include "zvt/iedsim.h"
#include "zvt/qt_wait.h"
#include "zv_ops.h"

namespace {

bool waitFor(const std::function<bool()> &cond) { return zvt::waitFor(cond, 30000, 20); }

struct Kind {
    const char *name;
    std::vector<std::string> options;
    const char *held;      // a block another client holds (null: none)
    const char *log_text;  // what the stack's log must say (null: nothing particular)
};
void PrintTo(const Kind &k, std::ostream *os) { *os << k.name; }

// rptlst entries of server 0: block reference -> "true"/"false".
QMap<QString, QString> registered() {
    QMap<QString, QString> out;
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad(0);
    QMutexLocker lock(&rptlst_mutex);
    for (const QString &e : rptlst) {
        const QStringList f = e.split('_');
        if (f.value(0).toInt() != 0) continue;
        char ref[AI_OBJ_REF_LEN] = {0};
        ai_obj_id_to_ref_ad(ied, f.value(1).toInt(), ref);
        out[QString::fromUtf8(ref)] = f.value(3);
    }
    return out;
}

class TarnmonOnDevice : public ::testing::Test {
protected:
    virtual std::vector<std::string> options() const { return {}; }
    virtual QString scl() { return QStringLiteral(ZV_SAMPLE_STATION_DIR "/sample.scd"); }
    // The station file names no SCL: the stack learns the model from the device.
    virtual bool deviceModel() const { return false; }
    void SetUp() override {
        db = std::make_unique<archtest::OwnDatabase>(archtest::dbNameForCurrentTest());
        ASSERT_TRUE(db->ok()) << db->error().toStdString();
        QDir(db->path()).mkpath("files");
        const QString scl_file = scl();
        std::vector<std::string> opts = {"--scl", scl_file.toStdString()};
        for (const std::string &o : options()) opts.push_back(o);
        sim = std::make_unique<zvt::Sim>("CMIED", 0, 0, db->path().toStdString() + "/files", opts);
        ASSERT_NE(sim->control_port, 0);
        QFile ini(QDir(db->path()).filePath("station.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        if (!deviceModel()) QTextStream(&ini) << "[station]\nscl = " << scl_file << "\n";
        QTextStream(&ini) << "[ied CMIED]\naddr_a = 127.0.0.1:" << sim->port_a << "\naddr_b = 127.0.0.2:" << sim->port_b
                          << "\nchnlA_NO = 1\nchnlB_NO = 2\n"
                          << (deviceModel() ? "model = device\n" : "");
        ini.close();
        qputenv("ZORVAN_STATION", QDir(db->path()).filePath("station.ini").toLocal8Bit());
        qputenv("TARNMON_CHECK_PASS_US", "1000");
        qputenv("TARNMON_ARCHIVE_CYCLE_S", "2");
        doIt = true;
        {
            QMutexLocker lock(&rptlst_mutex);
            rptlst.clear();
        }
        win = new gui_srv();
        w = win;
        set_callback_function();
    }
    void TearDown() override {
        delete win;
        w = nullptr;
        sim.reset();
        qunsetenv("TARNMON_CHECK_PASS_US");
        qunsetenv("TARNMON_ARCHIVE_CYCLE_S");
        qunsetenv("ZORVAN_STATION");
    }
    static QString text(const QString &path) {
        QFile in(path);
        return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
    }
    QString stackLog() {
        QString all;
        for (const QString &f : QDir(db->path()).entryList({"zorvan*.log"})) {
            QFile in(QDir(db->path()).filePath(f));
            if (in.open(QIODevice::ReadOnly)) all += QString::fromUtf8(in.readAll());
        }
        return all;
    }

    std::unique_ptr<archtest::OwnDatabase> db;
    std::unique_ptr<zvt::Sim> sim;
    gui_srv *win = nullptr;
};

class DeviceKinds : public TarnmonOnDevice, public ::testing::WithParamInterface<Kind> {
protected:
    std::vector<std::string> options() const override { return GetParam().options; }
};

TEST_P(DeviceKinds, BlocksAreEnabledAsTheDeviceAllowsAndReportedValuesAreArchived) {
    const Kind &k = GetParam();
    const QString held = k.held ? QString::fromLatin1(k.held) : QString();
    // Every registered block settles: enabled, or (the held one) refused.
    ASSERT_TRUE(waitFor([&] {
        const QMap<QString, QString> r = registered();
        if (r.isEmpty()) return false;
        for (auto it = r.cbegin(); it != r.cend(); ++it)
            if (it.value() != (it.key() == held ? QLatin1String("false") : QLatin1String("true"))) return false;
        return true;
    })) << QStringList(rptlst).join(' ').toStdString()
        << "\n"
        << stackLog().toStdString();

    // What rptlst says is what the device says.
    const QMap<QString, QString> r = registered();
    EXPECT_EQ(r.size(), 8);  // channel A's instance (01) of the seven BRCBs and the URCB
    for (auto it = r.cbegin(); it != r.cend(); ++it) {
        const std::string ans = sim->ask("rcb " + it.key().toStdString());
        int ena = -1, owner = -9;
        ASSERT_EQ(std::sscanf(ans.c_str(), "OK ena=%d owner=%d", &ena, &owner), 2) << ans;
        if (it.key() == held) {
            EXPECT_EQ(owner, -2) << "held by the other client still";
        } else {
            EXPECT_EQ(ena, 1) << it.key().toStdString();
            EXPECT_GE(owner, 0) << it.key().toStdString();
        }
    }

    // A changed temperature comes in a report and lands in its table.
    ASSERT_EQ(sim->ask("set CMIEDMON/STMP1$MX$Tmp$mag$f 61.25"), "OK");
    EXPECT_TRUE(waitFor([&] { return db->rows("select toptmp from data_etp_h where toptmp = 61.25").size() == 1; }))
        << db->rows("select d_time, toptmp from data_etp_h").join(' ').toStdString() << "\n"
        << text(QDir(db->path()).filePath("CMIED_sim.log")).toStdString() << stackLog().toStdString();

    if (k.log_text) {
        EXPECT_TRUE(stackLog().contains(QString::fromUtf8(k.log_text))) << stackLog().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Device, DeviceKinds,
    ::testing::Values(
        Kind{"Edition2Full", {}, nullptr, nullptr},
        Kind{"Edition1",
             {"--profile", "ed1"},
             nullptr,
             "CMIEDMON/LLN0$BR$brcbTemp01 on the device has RptID, RptEna, DatSet, ConfRev, OptFlds, BufTm, SqNum, "
             "TrgOps, IntgPd, GI, PurgeBuf, EntryID, TimeofEntry; the SCL says"},
        Kind{"Edition2WithoutOwner", {"--profile", "ed2"}, nullptr, nullptr},
        Kind{"Edition2Owner", {"--profile", "ed2-owner"}, nullptr, nullptr},
        Kind{"Edition2ResvTms", {"--profile", "ed2-resvtms"}, nullptr, nullptr},
        Kind{"FixedSettings",
             {"--profile", "fixed"},
             nullptr,
             "report enable CMIEDMON/LLN0$BR$brcbTemp01: IntgPd not taken (object-access-denied); continuing"},
        Kind{"GiRefused", {"--refuse-gi"}, nullptr, "GI not taken (object-access-denied); continuing"},
        Kind{"BlockHeldByAnotherClient",
             {"--held", "CMIEDMON/LLN0$BR$brcbSF601"},
             "CMIEDMON/LLN0$BR$brcbSF601",
             "report enable CMIEDMON/LLN0$BR$brcbSF601: held by another client (Owner 192.0.2.77)"},
        Kind{"UrcbReservedByAnotherClientWithoutOwner",
             {"--profile", "ed1", "--held", "CMIEDMON/LLN0$RP$urcbAlarm01"},
             "CMIEDMON/LLN0$RP$urcbAlarm01",
             "report enable CMIEDMON/LLN0$RP$urcbAlarm01: reserved by another client (Resv refused: "
             "object-access-denied)"},
        Kind{"BrcbEnabledByAnotherClientWithoutOwner",
             {"--profile", "ed2", "--held", "CMIEDMON/LLN0$BR$brcbPD01"},
             "CMIEDMON/LLN0$BR$brcbPD01",
             "report enable CMIEDMON/LLN0$BR$brcbPD01: enabled by another client"},
        Kind{"SmallPdu", {"--pdu-size", "600"}, nullptr, nullptr}),
    [](const ::testing::TestParamInfo<Kind> &info) { return std::string(info.param.name); });

// CMIED's logical device with a functional name (Edition 2 ldName): the
// tree shows it, reads and reports use it, and the archiving worker finds the
// server that holds the LD although no server's name is in it.
class FunctionalLdName : public TarnmonOnDevice {
protected:
    QString scl() override {
        QFile in(QStringLiteral(ZV_SAMPLE_STATION_DIR "/sample.scd"));
        EXPECT_TRUE(in.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(in.readAll());
        const QString ld = QStringLiteral(R"(<LDevice inst="MON" )");
        EXPECT_TRUE(text.contains(ld));
        text.replace(ld, QStringLiteral(R"(<LDevice inst="MON" ldName="T1Monitoring" )"));
        QFile out(QDir(db->path()).filePath("ldname.scd"));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text.toUtf8());
        return out.fileName();
    }
};

// The same, with no SCL in the station file: the model comes from the device.
class FunctionalLdNameFromTheDevice : public FunctionalLdName {
protected:
    bool deviceModel() const override { return true; }
};

void treeReadsReportsAndArchivingUseIt(archtest::OwnDatabase &db, zvt::Sim &sim, gui_srv *win,
                                       const std::function<QString()> &log) {
    ASSERT_TRUE(db.rootSql(QStringLiteral("insert into rptparamindex (paramindex, eqmid, tablename, colname) values "
                                          "('T1Monitoring/STMP1$MX$Tmp$mag$f', 1, 'data_etp_h', 'toptmp')")));
    ASSERT_TRUE(waitFor([&] {
        const QMap<QString, QString> r = registered();
        return r.size() == 8 && !r.values().contains(QStringLiteral("false"));
    })) << QStringList(rptlst).join(' ').toStdString()
        << "\n"
        << log().toStdString();
    EXPECT_TRUE(registered().contains(QStringLiteral("T1Monitoring/LLN0$BR$brcbTemp01")));
    QStandardItem *server = win->model->item(0);
    ASSERT_NE(server, nullptr);
    ASSERT_GE(server->rowCount(), 1);
    EXPECT_EQ(server->child(0)->text(), QStringLiteral("T1Monitoring"));
    EXPECT_EQ(sim.ask("get T1Monitoring/LLN0$BR$brcbTemp01$RptEna"), "OK true");

    ASSERT_EQ(sim.ask("set T1Monitoring/STMP1$MX$Tmp$mag$f 47.75"), "OK");
    EXPECT_TRUE(waitFor([&] { return db.rows("select toptmp from data_etp_h where toptmp = 47.75").size() == 1; }))
        << db.rows("select d_time, toptmp from data_etp_h").join(' ').toStdString();
}

TEST_F(FunctionalLdName, TreeReadsReportsAndArchivingUseIt) {
    treeReadsReportsAndArchivingUseIt(*db, *sim, win, [&] { return stackLog(); });
}

TEST_F(FunctionalLdNameFromTheDevice, TreeReadsReportsAndArchivingUseIt) {
    treeReadsReportsAndArchivingUseIt(*db, *sim, win, [&] { return stackLog(); });
}

}  // namespace
