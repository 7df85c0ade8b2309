// The control channel, the command line and the program as a process.
#include "fixture.h"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace zv::iedsim::test {
namespace {

struct CommandRow {
    const char* name;
    std::string line;
    std::string answerStart;
};
class Commands : public ::testing::TestWithParam<CommandRow> {
protected:
    static SimServer* sim;
    static void SetUpTestSuite() { sim = new SimServer(); }
    static void TearDownTestSuite() {
        delete sim;
        sim = nullptr;
    }
};
SimServer* Commands::sim = nullptr;

TEST_P(Commands, ControlChannelAnswersEachLine) {
    const std::string ans = sim->ask(GetParam().line);
    EXPECT_EQ(ans.rfind(GetParam().answerStart, 0), 0u) << ans;
}
INSTANTIATE_TEST_SUITE_P(
    Rows, Commands,
    ::testing::Values(CommandRow{"Ping", "ping", "OK pong"}, CommandRow{"Unknown", "fly", "ERR unknown command 'fly'"},
                      CommandRow{"Empty", "", "ERR empty command"},
                      CommandRow{"SetFloat", "set CMIEDMON/STMP1$MX$Tmp$mag$f 61.5", "OK"},
                      CommandRow{"SetEnumByName", "set CMIEDMON/LLN0$ST$Health$stVal Alarm", "OK"},
                      CommandRow{"SetQuality", "set CMIEDMON/STMP1$MX$Tmp$q 0000000000000", "OK"},
                      CommandRow{"SetUnknownObject", "set CMIEDMON/STMP9$MX$Tmp$mag$f 1", "ERR no object"},
                      CommandRow{"SetStructure", "set CMIEDMON/STMP1$MX$Tmp 1",
                                 "ERR 'CMIEDMON/STMP1$MX$Tmp' is not a primitive"},
                      CommandRow{"SetBadValue", "set CMIEDMON/STMP1$MX$Tmp$mag$f warm", "ERR 'warm' is not a value"},
                      CommandRow{"SetWithoutValue", "set", "ERR usage"},
                      CommandRow{"GetCounter", "get CMIEDMON/ZSAR1$ST$StrkCnt$stVal", "OK 3"},
                      CommandRow{"GetUnknown", "get CMIEDMON/X", "ERR no object"},
                      CommandRow{"StepBadCount", "step many", "ERR usage"},
                      CommandRow{"DropUnknownNetwork", "drop C", "ERR unknown network 'C'"},
                      CommandRow{"ConnectionsOfB", "conns B", "OK 0"},
                      CommandRow{"Status", "status", "OK ied=CMIED A=0 B=0"},
                      CommandRow{"BurstNeedsANumber", "burst CMIEDMON/STMP1$ST$TmpAlm$stVal x", "ERR usage"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(Control, SetValuesReadBackWithTheirTimeStampMoved) {
    SimServer sim;
    ASSERT_EQ(sim.ask("get CMIEDMON/STMP1$MX$Tmp$t").substr(0, 3), "OK ");
    const std::string before = sim.ask("get CMIEDMON/STMP1$MX$Tmp$t");
    // The stamp can move only once the clock has: past the next millisecond.
    const auto read_at = std::chrono::system_clock::now();
    while (std::chrono::system_clock::now() < read_at + std::chrono::milliseconds(2)) std::this_thread::yield();
    ASSERT_EQ(sim.ask("set CMIEDMON/STMP1$MX$Tmp$mag$f 61.5"), "OK");
    EXPECT_EQ(sim.ask("get CMIEDMON/STMP1$MX$Tmp$mag$f"), "OK 61.5");
    EXPECT_NE(sim.ask("get CMIEDMON/STMP1$MX$Tmp$t"), before);
    ASSERT_EQ(sim.ask("set CMIEDMON/LLN0$ST$Health$stVal Warning"), "OK");
    EXPECT_EQ(sim.ask("get CMIEDMON/LLN0$ST$Health$stVal"), "OK 2");
}

TEST(Control, AnOverlongLineIsRefusedAndTheChannelCarriesOn) {
    SimServer sim;
    sim.control->raw(std::string(5000, 'x'));
    EXPECT_EQ(sim.ask("more").rfind("ERR line longer than", 0), 0u);
    EXPECT_EQ(sim.ask("ping"), "OK pong");
}

TEST(Control, DropClosesOnlyTheConnectionsOfThatNetwork) {
    SimServer sim;
    TestClient a, b;
    ASSERT_TRUE(a.associate(sim.host(0), sim.port(0)));
    ASSERT_TRUE(b.associate(sim.host(1), sim.port(1)));
    EXPECT_EQ(sim.ask("conns A"), "OK 1");
    EXPECT_EQ(sim.ask("drop A"), "OK 1");
    EXPECT_TRUE(a.waitClosed());
    EXPECT_NE(responseOf<mms::IdentifyResponse>(b.call(mms::IdentifyRequest{})), nullptr);
    EXPECT_EQ(sim.ask("conns A"), "OK 0");
    EXPECT_EQ(sim.ask("conns B"), "OK 1");
}

TEST(Control, ARefusingNetworkTakesNoConnectionsUntilAcceptedAgain) {
    SimServer sim;
    EXPECT_EQ(sim.ask("refuse B"), "OK");
    TestClient refused;
    EXPECT_FALSE(refused.open(sim.host(1), sim.port(1)));
    TestClient onA;
    EXPECT_TRUE(onA.associate(sim.host(0), sim.port(0)));  // the other network is unaffected
    EXPECT_EQ(sim.ask("status").find("B=0/refusing") != std::string::npos, true);
    EXPECT_EQ(sim.ask("accept B"), "OK");
    TestClient again;
    EXPECT_TRUE(again.associate(sim.host(1), sim.port(1)));
}

TEST(Control, StopEndsTheServer) {
    SimServer sim;
    EXPECT_EQ(sim.ask("stop"), "OK stopping");
    sim.thread.join();
    sim.server.reset();
}

struct ArgRow {
    const char* name;
    std::vector<std::string> args;
    std::string error;  // empty: accepted
};
class Arguments : public ::testing::TestWithParam<ArgRow> {};

TEST_P(Arguments, CommandLineIsCheckedAndNonLoopbackAddressesAreRefused) {
    Config cfg;
    std::string why;
    bool help = false;
    const bool ok = parseArgs(GetParam().args, cfg, why, help);
    if (GetParam().error.empty()) {
        EXPECT_TRUE(ok) << why;
    } else {
        EXPECT_FALSE(ok);
        EXPECT_NE(why.find(GetParam().error), std::string::npos) << why;
    }
}
INSTANTIATE_TEST_SUITE_P(
    Rows, Arguments,
    ::testing::Values(
        ArgRow{"Minimal", {"--scl", "a.scd", "--ied", "X", "--listen", "127.0.0.1:102"}, ""},
        ArgRow{"TwoNetworks", {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:0", "--listen", "127.0.0.2:0"}, ""},
        ArgRow{"Localhost", {"--scl", "a", "--ied", "X", "--listen", "localhost:10102"}, ""},
        ArgRow{"OtherAddress", {"--scl", "a", "--ied", "X", "--listen", "10.0.0.1:102"}, "not a loopback address"},
        ArgRow{"AnyAddress", {"--scl", "a", "--ied", "X", "--listen", "0.0.0.0:102"}, "not a loopback address"},
        ArgRow{"HostName", {"--scl", "a", "--ied", "X", "--listen", "example.org:102"}, "not a dotted IPv4"},
        ArgRow{"ControlElsewhere",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--control", "192.168.1.1:5"},
               "not a loopback address"},
        ArgRow{"PortTooLarge", {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:70000"}, "not a number"},
        ArgRow{"NoListener", {"--scl", "a", "--ied", "X"}, "--listen"},
        ArgRow{"NoScl", {"--ied", "X", "--listen", "127.0.0.1:1"}, "--scl and --ied"},
        ArgRow{"TinyPdu", {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--pdu-size", "10"}, "at least 256"},
        ArgRow{"RecordDirEscapes",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--record-dir", "../x"},
               "relative folder"},
        ArgRow{"UnknownOption",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--frobnicate", "1"},
               "unknown option"},
        ArgRow{"MissingValue", {"--scl", "a", "--ied", "X", "--listen"}, "needs a value"},
        ArgRow{"IsoAddressingAndPassword",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--tsel", "0002", "--ssel", "00aB", "--psel",
                "00000002", "--ap-title", "2.999.1", "--ae-qualifier", "-5", "--password", "pw"},
               ""},
        ArgRow{"TselOddDigits",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--tsel", "002"},
               "is not 1 to 32 octets"},
        ArgRow{"SselNotHex",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--ssel", "0x01"},
               "is not 1 to 16 octets"},
        ArgRow{"PselBeyond16Octets",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--psel", std::string(34, '0')},
               "is not 1 to 16 octets"},
        ArgRow{"ApTitleFirstArcThree",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--ap-title", "3.1"},
               "not an object identifier"},
        ArgRow{"ApTitleTrailingDot",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--ap-title", "1.2."},
               "not an object identifier"},
        ArgRow{"DeviceFileTimesAndNames",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--file-times", "offset-0130",
                "--gb18030-names"},
               ""},
        ArgRow{"FileTimesUnknown",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--file-times", "local"},
               "is not millis, fraction"},
        ArgRow{"FileTimesOffsetBeyondADay",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--file-times", "offset+2400"},
               "is not millis, fraction"},
        ArgRow{"AeQualifierWord",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--ae-qualifier", "x"},
               "not a 32-bit integer"},
        ArgRow{"PasswordEmpty",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--password", ""},
               "1 to 256 characters"},
        ArgRow{"TlsWithClientCertificates",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--tls-cert", "d.pem", "--tls-key", "d.key",
                "--tls-ca", "ca.pem", "--tls-version", "1.3"},
               ""},
        ArgRow{"TlsCertWithoutKey",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--tls-cert", "d.pem"},
               "both --tls-cert and --tls-key"},
        ArgRow{"TlsCaWithoutCert",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--tls-ca", "ca.pem"},
               "only with them"},
        ArgRow{"TlsVersionOne",
               {"--scl", "a", "--ied", "X", "--listen", "127.0.0.1:1", "--tls-cert", "d.pem", "--tls-key", "d.key",
                "--tls-version", "1.1"},
               "is not 1.2 or 1.3"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(Program, StartsFromTheSampleStationWritesItsPortsAndExitsCleanlyOnSigterm) {
    const zvt::TempDir dir("proc");
    const std::string portFile = dir + "/ports";
    zvt::Child sim;
    ASSERT_TRUE(sim.start(ZV_IEDSIM_EXE, {"--scl", std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd", "--ied",
                                          "BAYIED", "--listen", "127.0.0.1:0", "--listen", "127.0.0.2:0", "--files",
                                          dir, "--control", "unix:" + dir.path() + "/ctl", "--port-file", portFile,
                                          "--log", dir + "/log", "--sim-period", "50"}));
    std::string ports;
    for (int k = 0; k < 200 && ports.empty(); ++k) {
        usleep(25000);
        std::ifstream f(portFile);
        std::stringstream s;
        s << f.rdbuf();
        ports = s.str();
    }
    ASSERT_FALSE(ports.empty());
    std::istringstream lines(ports);
    std::string net, addr;
    lines >> net >> addr;
    EXPECT_EQ(net, "A");
    const uint16_t port = uint16_t(std::stoi(addr.substr(addr.rfind(':') + 1)));
    TestClient client;
    EXPECT_TRUE(client.associate("127.0.0.1", port));
    lines >> net >> addr;
    EXPECT_EQ(net, "B");
    EXPECT_EQ(addr.rfind("127.0.0.2:", 0), 0u);
    lines >> net >> addr;
    EXPECT_EQ(net + " " + addr, "CONTROL unix:" + dir + "/ctl");
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(), 0) << "exit status, or minus the signal";
    EXPECT_NE(::access((dir + "/ctl").c_str(), F_OK), 0);  // the control socket is removed
}

TEST(Program, RefusesToStartOnANonLoopbackAddress) {
    const std::string cmd = std::string(ZV_IEDSIM_EXE) + " --scl x --ied X --listen 192.0.2.1:102 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[512] = {};
    const size_t n = fread(buf, 1, sizeof buf - 1, p);
    const int status = pclose(p);
    EXPECT_NE(std::string(buf, n).find("not a loopback address"), std::string::npos);
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

TEST(Program, RefusesToStartWithATlsKeyThatCannotBeLoaded) {
    const zvt::TempDir dir("tlskey");
    std::ofstream(dir + "/cert.pem") << "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n";
    const std::string cmd = std::string(ZV_IEDSIM_EXE) + " --scl " + ZV_SAMPLE_STATION_DIR + "/sample.scd --ied CMIED" +
                            " --listen 127.0.0.1:0 --tls-cert " + dir + "/cert.pem --tls-key " + dir + "/none.key 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[1024] = {};
    const size_t n = fread(buf, 1, sizeof buf - 1, p);
    const int status = pclose(p);
    EXPECT_NE(std::string(buf, n).find("certificate '" + dir + "/cert.pem' cannot be loaded"), std::string::npos)
        << std::string(buf, n);
    EXPECT_NE(WEXITSTATUS(status), 0);
}

TEST(Simulation, TheSameSeedMovesValuesTheSameWay) {
    scl::Diagnostics diag(true);
    const std::string scl = std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd";
    auto m1 = model::IedModel::load(scl, "CMIED", diag);
    auto m2 = model::IedModel::load(scl, "CMIED", diag);
    auto m3 = model::IedModel::load(scl, "CMIED", diag);
    ASSERT_TRUE(m1 && m2 && m3);
    Simulator s1(*m1, 42), s2(*m2, 42), s3(*m3, 43);
    EXPECT_GT(s1.analogueCount(), 15u);
    EXPECT_GT(s1.statusCount(), 3u);
    for (int k = 0; k < 200; ++k) {
        s1.step();
        s2.step();
        s3.step();
    }
    std::string a, b, c;
    for (const char* ref : {"CMIEDMON/STMP1$MX$Tmp$mag$f", "CMIEDMON/MMET1$MX$EnvHum$mag$f",
                            "CMIEDMON/ShthGGIO1$MX$ShthA$phsA$cVal$mag$f", "CMIEDMON/SPDC1$ST$OpCnt$stVal"}) {
        std::string t1, t2, t3;
        ASSERT_EQ(m1->read_text(m1->find(ref), t1), 0) << ref;
        m2->read_text(m2->find(ref), t2);
        m3->read_text(m3->find(ref), t3);
        a += t1 + ";";
        b += t2 + ";";
        c += t3 + ";";
    }
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    // Drifting values stay near their level (the oil temperature starts at 45).
    std::string tmp;
    m1->read_text(m1->find("CMIEDMON/STMP1$MX$Tmp$mag$f"), tmp);
    EXPECT_NEAR(std::stod(tmp), 45.0, 45.0 * 0.06);
}

}  // namespace
}  // namespace zv::iedsim::test
