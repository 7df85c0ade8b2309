// MMS over TLS (IEC 62351-3/-4) against iedsim serving TLS, with
// certificates the openssl command makes for this run: sessions with client
// certificates in TLS 1.2 and 1.3; devices whose certificate must not be
// trusted, refused with the reason in the log once and retried until the
// device mends; failover between A and B and a buffered block resumed over
// TLS with nothing lost; a capture that tshark decrypts with the key log.
#include "sim.h"
#include "zvt/capture.h"

#include <sys/stat.h>

using namespace zvt;

namespace {

const char *kTmp = "CMIEDMON/STMP1$MX$Tmp";
const char *kTmpMag = "CMIEDMON/STMP1$MX$Tmp$mag$f";
const char *kBrcb = "CMIEDMON/LLN0$BR$brcbTemp01";
constexpr int kOptFlds = 0x79 | (0x80 << 8);  // seqNum, timeStamp, reasonCode, dataSet, entryID, confRev
constexpr int kTrgOps = 0x4C;                 // dchg, integrity, GI

// The certificates of the run (scripts/make-certs.sh), made once.
const std::string &certs() {
    static const std::string dir = [] {
        const std::string d = temp_dir("certs");
        const std::string out = run("bash '" ZV_SOURCE_ROOT "/scripts/make-certs.sh' '" + d + "' 2>&1 && echo MADE");
        return out.find("MADE") != std::string::npos ? d : std::string();
    }();
    return dir;
}
std::string cert(const std::string &name) { return certs() + "/" + name; }

// iedsim's options for a device presenting NAME.pem; with `demand`, it
// wants a client certificate of the station CA.
std::vector<std::string> device(const std::string &name, bool demand = true, const char *version = nullptr) {
    std::vector<std::string> o = {"--tls-cert", cert(name + ".pem"), "--tls-key", cert(name + ".key"), "--verbose"};
    if (demand) o.insert(o.end(), {"--tls-ca", cert("ca.pem")});
    if (version) o.insert(o.end(), {"--tls-version", version});
    return o;
}
// Station keys of a TLS server (addresses are the rig's own).
std::string keys(bool client_cert = true, const std::string &pin = {}) {
    std::string k = "tls = 1\ntls_ca = " + cert("ca.pem") + "\n";
    if (client_cert) k += "tls_cert = " + cert("client.pem") + "\ntls_key = " + cert("client.key") + "\n";
    if (!pin.empty()) k += "tls_peer_fingerprint = " + pin + "\n";
    return k;
}
std::string device_pin() {
    std::string p = file_text(cert("device.sha256"));
    while (!p.empty() && (p.back() == '\n' || p.back() == '\r')) p.pop_back();
    return p;
}

int enable(Stack &st, const char *rcb) {
    Done::get().clear();
    AC_ENAREPORT_INFO e{st.id(rcb), kOptFlds, kTrgOps, 300000, 1, done_plain};
    if (ac_rpt_enable(0, &e, 30, nullptr) != 0) return -1;
    if (!eventually([] { return Done::get().size() == 1; })) return -2;
    return Done::get().results[0].second;
}

class TlsRig {
protected:
    void make_dirs(const char *tag) {
        ASSERT_FALSE(certs().empty()) << "scripts/make-certs.sh failed (the openssl command, Debian package openssl)";
        dir = TempDir(tag);
        files = dir.sub("files");
    }
    void remove_dirs() {
        sim.reset();
        dir.remove();
    }
    TempDir dir;
    std::string files;
    std::unique_ptr<Sim> sim;
};

// ---- sessions -----------------------------------------------------------------

struct VersionRow {
    const char *name;
    const char *version;  // iedsim --tls-version
    const char *seen;     // what iedsim logs of the session
};
void PrintTo(const VersionRow &r, std::ostream *os) { *os << r.name; }

class TlsSession : public TlsRig, public ::testing::TestWithParam<VersionRow> {
protected:
    void SetUp() override { make_dirs("tls"); }
    void TearDown() override { remove_dirs(); }
};

TEST_P(TlsSession, MutuallyAuthenticatedSessionReadsReportsAndListsFiles) {
    const VersionRow &row = GetParam();
    sim = std::make_unique<Sim>("CMIED", 0, 0, files, device("device", true, row.version));
    ASSERT_NE(sim->control_port, 0);
    ASSERT_EQ(sim->ask("record").substr(0, 3), "OK ") << "a recording to list";
    const std::string stack_log = dir + "/stack.log";
    {
        StackLog log(stack_log);
        Stack st(dir, {{"CMIED", sim->port_a, sim->port_b, keys(true, device_pin())}});
        ASSERT_TRUE(st.ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; })) << log.text();
        EXPECT_EQ(read_and_wait(st.id(kTmp)), 0);
        ASSERT_EQ(enable(st, kBrcb), 0);
        ASSERT_EQ(sim->ask(std::string("set ") + kTmpMag + " 47.5"), "OK");
        ASSERT_TRUE(eventually([&] { return st.value(kTmpMag) == "47.5"; })) << "report over TLS";
        Done::get().clear();
        AC_GETFAV_REQ_INFO d{"COMTRADE", done_plain};
        ASSERT_EQ(ac_get_file_attr(0, &d, 30, nullptr), 0);
        ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }));
        EXPECT_EQ(Done::get().results[0].second, 0);
        ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
    }
    const std::string sim_log = file_text(dir + "/CMIED_sim.log");
    EXPECT_NE(sim_log.find(std::string(row.seen)), std::string::npos) << sim_log;
    EXPECT_NE(sim_log.find("client certificate CN=tarnmon station computer"), std::string::npos) << sim_log;
    EXPECT_NE(sim_log.find("released by the client"), std::string::npos) << sim_log;
    // The private key never reaches a log: its base64 body is nowhere.
    const std::string key = file_text(cert("client.key"));
    const std::string body = key.substr(key.find('\n') + 1, 40);
    EXPECT_EQ(file_text(stack_log).find(body), std::string::npos);
    EXPECT_EQ(file_text(stack_log).find("PRIVATE KEY"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Versions, TlsSession,
                         ::testing::Values(VersionRow{"Tls12", "1.2", "TLSv1.2 ECDHE-ECDSA-AES256-GCM-SHA384"},
                                           VersionRow{"Tls13", "1.3", "TLSv1.3 TLS_AES_256_GCM_SHA384"}),
                         [](const auto &i) { return std::string(i.param.name); });

// ---- refusals -----------------------------------------------------------------------

struct RefusalRow {
    const char *name;
    std::vector<std::string> device;  // iedsim's TLS options
    std::string keys;                 // station keys
    const char *refusal;              // the stack's log line, before " (channel A, ...)"
    const char *device_saw;           // iedsim's log, or null
    bool mends = true;                // a device with the right certificate is then reached
};
void PrintTo(const RefusalRow &r, std::ostream *os) { *os << r.name; }

class TlsRefusal : public TlsRig, public ::testing::TestWithParam<RefusalRow> {
protected:
    void SetUp() override { make_dirs("tlsno"); }
    void TearDown() override { remove_dirs(); }
};

// A device that must not be trusted (or that does not trust us) gets no
// association: the reason is logged once, the channel retries with the
// back-off of a lost connection, and the device that mends is reached.
TEST_P(TlsRefusal, IsLoggedOnceWithTheReasonAndRetriedUntilTheDeviceMends) {
    const RefusalRow &row = GetParam();
    sim = std::make_unique<Sim>("CMIED", 0, 0, files, row.device);
    ASSERT_NE(sim->control_port, 0);
    StackLog log(dir + "/stack.log");
    Stack st(dir, {{"CMIED", sim->port_a, sim->port_b, row.keys}});
    ASSERT_TRUE(st.ok);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    const std::string line = std::string(row.refusal);
    const std::string where = " (channel A, 127.0.0.1:" + std::to_string(sim->port_a) + ")";
    ASSERT_TRUE(eventually([&] { return log.text().find(where) != std::string::npos; })) << log.text();
    const std::string first = log.text();
    EXPECT_NE(first.find(line), std::string::npos) << first << file_text(dir + "/CMIED_sim.log");
    // Retried: the device sees a third connection, and the reason stays one line.
    const std::string sim_log = dir + "/CMIED_sim.log";
    ASSERT_TRUE(eventually([&] { return count(file_text(sim_log), " on network A from ") >= 3; }))
        << file_text(sim_log);
    EXPECT_EQ(count(log.text(), where), 1u) << log.text();
    EXPECT_EQ(Events::get().count("up 0 A"), 0u);
    if (row.device_saw) {
        EXPECT_NE(file_text(sim_log).find(row.device_saw), std::string::npos) << file_text(sim_log);
    }

    if (!row.mends) return;
    sim->kill(SIGTERM);
    sim->start("CMIED", sim->port_a, sim->port_b, files,
               device("device", row.keys.find("tls_cert") != std::string::npos));
    ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; })) << log.text();
    EXPECT_EQ(read_and_wait(st.id(kTmp)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, TlsRefusal,
    ::testing::Values(
        RefusalRow{
            "UnknownCa", device("other"), keys(),
            "TLS handshake with CMIED failed: unknown CA: the device's certificate CN=IED of another CA is issued "
            "by CN=some other CA, which is not a trusted CA",
            "handshake alert received: unknown CA"},
        RefusalRow{
            "ExpiredCertificate", device("expired"), keys(),
            "TLS handshake with CMIED failed: certificate expired: the device's certificate CN=IED expired device "
            "was valid until Jan  1 00:00:00 2021 GMT",
            "handshake alert received: certificate expired"},
        RefusalRow{
            "WrongPinnedFingerprint", device("device"),
            keys(true,
                 "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF"),
            "TLS handshake with CMIED failed: fingerprint mismatch: the device's certificate CN=IED test device has "
            "SHA-256 ",
            "handshake alert received: bad certificate", false},
        RefusalRow{"NoClientCertificate", device("device"), keys(false),
                   "association with CMIED failed: TLS: handshake alert received: certificate required",
                   "TLS handshake failed: the peer sent no certificate"}),
    [](const auto &i) { return std::string(i.param.name); });

// ---- failover and resumption ----------------------------------------------------------

class TlsStation : public TlsRig, public ::testing::Test {
protected:
    void SetUp() override { make_dirs("tlsab"); }
    void TearDown() override { remove_dirs(); }
};

// Guards against entries lost or repeated while A is down and B carries the
// requests, then when A's buffered block resumes, all over TLS.
TEST_F(TlsStation, FailoverToBAndBufferedBlockResumptionLoseNothing) {
    sim = std::make_unique<Sim>("CMIED", 0, 0, files, device("device"));
    ASSERT_NE(sim->control_port, 0);
    Stack st(dir, {{"CMIED", sim->port_a, sim->port_b, keys()}});
    ASSERT_TRUE(st.ok);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_B);
    ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1 && Events::get().count("up 0 B") == 1; }));
    ASSERT_EQ(enable(st, kBrcb), 0);
    const int n = 30;
    for (int v = 1; v <= n; ++v) {
        ASSERT_EQ(sim->ask(std::string("set ") + kTmpMag + " " + std::to_string(v)), "OK");
        if (v == 10) {
            EXPECT_EQ(sim->ask("refuse A"), "OK");
            EXPECT_EQ(sim->ask("drop A"), "OK 1");
            ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
        }
        if (v == 15) {
            CHNL_STATE a, b;
            AC_CHANNEL active;
            ac_get_srvm_chnlState(0, &a, &b, &active);
            EXPECT_EQ(active, AC_CHANNEL_B);
            EXPECT_EQ(read_and_wait(st.id(kTmp)), 0) << "read over B while A is down";
        }
        if (v == 20) {
            EXPECT_EQ(sim->ask("accept A"), "OK");
            ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 2; }));
            ASSERT_EQ(enable(st, kBrcb), 0);
        }
    }
    expect_each_value_once(st.id(kTmp), n);
}

// ---- capture ----------------------------------------------------------------------------

// The key log (for tests only) lets tshark decrypt the session: under TLS
// the same TPKT/COTP/session/presentation/ACSE/MMS frames, none malformed.
TEST_F(TlsStation, CaptureDecryptedWithTheKeyLogDecodesCleanlyInTshark) {
    ASSERT_FALSE(run("command -v tshark").empty()) << "tshark is not installed (Debian package tshark)";
    sim = std::make_unique<Sim>("CMIED", 0, 0, files, device("device"));
    ASSERT_NE(sim->control_port, 0);
    const std::string keylog = dir + "/keys.log";
    const std::string port = std::to_string(sim->port_a);
    Capture cap(dir, "tls", {sim->port_a});
    ASSERT_TRUE(cap.started) << "no capture on lo is possible here (needs root): " << file_text(cap.log());
    ::setenv("ZORVAN_TLS_KEYLOG", keylog.c_str(), 1);
    {
        Stack st(dir, {{"CMIED", sim->port_a, sim->port_b, keys()}});
        ASSERT_TRUE(st.ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));
        EXPECT_EQ(read_and_wait(st.id(kTmp)), 0);
        ASSERT_EQ(enable(st, kBrcb), 0);
        ASSERT_TRUE(eventually([] { return Events::get().report_count() >= 1; }));
        ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
    }
    ::unsetenv("ZORVAN_TLS_KEYLOG");
    cap.stop();
    EXPECT_NE(file_text(keylog).find("CLIENT_TRAFFIC_SECRET_0"), std::string::npos) << file_text(keylog);
    cap.decode = " -o tls.keylog_file:'" + keylog + "' -d tcp.port==" + port + ",tls -d tls.port==" + port + ",tpkt";
    const std::string decoded = cap.decoded();
    EXPECT_NE(decoded.find("initiate-RequestPDU"), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("conclude-RequestPDU"), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("Release-Request"), std::string::npos) << decoded;
    EXPECT_EQ(decoded.find("Malformed"), std::string::npos) << decoded;
    EXPECT_EQ(cap.expert_errors(), "");
}

}  // namespace
