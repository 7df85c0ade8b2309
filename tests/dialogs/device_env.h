// Shared set-up of the dialog tests against a device: one iedsim process
// serving CMIED (or BAYIED) of the sample station on loopback, the stack library loaded
// by path on a station file naming it, channel A connected. The main window
// stays bare (no library in its working directory), so nothing but the
// dialogs talks to the device.
#pragma once

#include <QThread>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "zvt/app_env.h"
#include "zvt/iedsim.h"

namespace dlgtest {

using zvt::idle;
using zvt::waitFor;

// Reports the stack handed to the application, counted by RptID.
struct Reports {
    std::mutex m;
    std::map<std::string, int> by_id;  // guarded by m

    static Reports &get() {
        static Reports r;
        return r;
    }
    int count(const std::string &rpt_id) {
        std::lock_guard<std::mutex> l(m);
        auto it = by_id.find(rpt_id);
        return it == by_id.end() ? 0 : it->second;
    }
    static void onReport(ST_UCHAR *rpt_id, ST_INT, AI_OBJ_VAL *, ST_BOOLEAN *, AC_REPORT_REASON *, ST_INT) {
        const char *id = reinterpret_cast<const char *>(rpt_id);
        std::lock_guard<std::mutex> l(get().m);
        ++get().by_id[id != nullptr ? std::string(id, qstrnlen(id, AI_OBJ_NAME_LEN)) : std::string()];
    }
};

// One device, CMIED unless `ied` names BAYIED (server 1 of the station).
// Its file store is `files`; extra iedsim options go to `extra` (e.g.
// {"--recordings", "2"}).
class Device {
public:
    explicit Device(std::vector<std::string> extra = {}, const std::string &ied = "CMIED")
        : srv(ied == "BAYIED" ? 1 : 0) {
        if (qEnvironmentVariableIsSet("DLG_KEEP")) root.setAutoRemove(false);
        files = root.filePath(QStringLiteral("files"));
        QDir().mkpath(files);
        sim = std::make_unique<zvt::Sim>(ied, 0, 0, files.toStdString(), std::move(extra));
    }
    // The stack goes before the device, so that it sees no loss.
    ~Device() {
        unloadSampleStation();
        qunsetenv("ZORVAN_STATION");  // the next main window must not find it
        sim.reset();
    }

    // Starts the stack on a station file with the device's IED at its network
    // A (the other IED at an address nobody listens on) and waits for the channel.
    bool start() {
        if (sim->control_port == 0) return fail("iedsim did not start");
        if (!loadStack() || ai_init_envir_ad == nullptr || ac_init_srvm_ad == nullptr)
            return fail("the stack library cannot be loaded");
        const QString ini = root.filePath(QStringLiteral("station.ini"));
        QFile f(ini);
        if (!f.open(QIODevice::WriteOnly)) return fail("cannot write " + ini);
        QByteArray text = "[station]\nscl = " + QByteArray(ZV_SAMPLE_STATION) + "/sample.scd\n";
        const QByteArray here = "127.0.0.1:" + QByteArray::number(sim->port_a), nowhere = "127.0.0.1:9";
        text += "[ied CMIED]\naddr_a = " + (srv == 0 ? here : nowhere) + "\naddr_b = none\n";
        text += "[ied BAYIED]\naddr_a = " + (srv == 1 ? here : nowhere) + "\naddr_b = none\n";
        f.write(text);
        f.close();
        qputenv("ZORVAN_STATION", ini.toLocal8Bit());
        if (ai_init_envir_ad(nullptr) != 0) return fail("ai_init_envir failed on " + ini);
        stationState() = 1;  // ended by unloadSampleStation()
        if (ac_init_srvm_ad() != 0) return fail("ac_init_srvm failed");
        if (u_ai_c_rpt_app_ad != nullptr) u_ai_c_rpt_app_ad(Reports::onReport);
        // The application's receive checker asks for the channel; here we do.
        if (ac_set_srvm_chnlKeepCon_ad == nullptr) return fail("no ac_set_srvm_chnlKeepCon");
        ac_set_srvm_chnlKeepCon_ad(srv, 1, AC_CHANNEL_A);
        CHNL_STATE a = CHNL_STATE_UNCONNECTED, b = CHNL_STATE_UNCONNECTED;
        AC_CHANNEL active = AC_CHANNEL_UNKNOWN;
        if (!waitFor([&] {
                return ac_get_srvm_chnlState_ad != nullptr && ac_get_srvm_chnlState_ad(srv, &a, &b, &active) == 0 &&
                       a == CHNL_STATE_CONNECTED;
            }))
            return fail("channel A not connected (state " + QString::number(int(a)) + ")");
        return true;
    }
    // Why start() failed.
    QString error;

    // One control command; the answer without its "OK " (or the whole
    // answer when it is not OK, so that a comparison shows it).
    std::string ask(const std::string &line) {
        const std::string a = sim->ask(line);
        return a.rfind("OK ", 0) == 0 ? a.substr(3) : a == "OK" ? std::string() : a;
    }
    // The device's value of an attribute, in the stack's text form.
    QString get(const QString &ref) { return QString::fromStdString(ask("get " + ref.toStdString())); }
    bool set(const QString &ref, const QString &value) {
        return sim->ask("set " + ref.toStdString() + " " + value.toStdString()) == "OK";
    }
    // Reports the device has sent (iedsim's "status").
    int reportsSent() {
        const std::string s = ask("status");
        const size_t at = s.find("reports=");
        return at == std::string::npos ? -1 : std::atoi(s.c_str() + at + 8);
    }
    bool fail(const QString &why) {
        error = why;
        return false;
    }
    QString file(const QString &name) const { return QDir(files).filePath(name); }

    QTemporaryDir root;
    const int srv;  // the device's server index in the station
    QString files;
    std::unique_ptr<zvt::Sim> sim;
};

inline QByteArray contents(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable " + path.toLocal8Bit() + ">");
}

}  // namespace dlgtest
