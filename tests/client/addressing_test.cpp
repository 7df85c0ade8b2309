// Devices that insist on their own ISO addressing or a password, played by
// iedsim: the station keys reach them; wrong keys are refused at the right
// layer, logged once with the device's reason, and retried with the back-off
// of a lost connection until the device accepts. No password reaches a log.
#include "sim.h"

#include <fcntl.h>
#include <sys/stat.h>

using namespace zvt;

namespace {

struct DeviceRow {
    const char *name;
    std::vector<std::string> device;     // iedsim options of the device
    std::string reaching;                // station keys that reach it
    std::string missing;                 // station keys that it refuses
    std::vector<std::string> accepting;  // the device's options after it changed to accept `missing`
    const char *refusal;                 // what the stack logs
};
void PrintTo(const DeviceRow &row, std::ostream *os) { *os << row.name; }

const char *kTmp = "CMIEDMON/STMP1$MX$Tmp";
const char *kRight = "Rt-7xQ!pw", *kWrong = "Wr-3zK!pw";  // never in a log

class DeviceAddressing : public ::testing::TestWithParam<DeviceRow> {
protected:
    void SetUp() override {
        dir = TempDir("iso");
        files = dir.sub("files");
    }
    void TearDown() override { sim.reset(); }
    TempDir dir;
    std::string files;
    std::unique_ptr<Sim> sim;
};

TEST_P(DeviceAddressing, RightKeysAssociateWrongOnesAreRefusedLoggedAndRetried) {
    const DeviceRow &row = GetParam();
    std::vector<std::string> opts = row.device;
    opts.push_back("--verbose");
    sim = std::make_unique<Sim>("CMIED", 0, 0, files, opts);
    ASSERT_NE(sim->control_port, 0);
    const std::string sim_log = dir + "/CMIED_sim.log";
    const std::string stack_log = dir + "/stack.log";
    {
        StackLog log(stack_log);
        {
            Stack st(dir, {{"CMIED", sim->port_a, sim->port_b, row.reaching}});
            ASSERT_TRUE(st.ok);
            ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
            ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; })) << log.text();
            EXPECT_EQ(read_and_wait(st.id(kTmp)), 0);
        }
        Stack st(dir, {{"CMIED", sim->port_a, sim->port_b, row.missing}});
        ASSERT_TRUE(st.ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        const std::string line = std::string(row.refusal) + " (channel A, 127.0.0.1:" + std::to_string(sim->port_a) +
                                 ")";
        ASSERT_TRUE(eventually([&] { return log.text().find(line) != std::string::npos; })) << log.text();
        EXPECT_EQ(Events::get().count("up 0 A"), 0u);
        // The device changes its mind: the retry reaches it.
        sim->kill(SIGTERM);
        std::vector<std::string> accepting = row.accepting;
        accepting.push_back("--verbose");
        sim->start("CMIED", sim->port_a, sim->port_b, files, accepting);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; })) << log.text();
        EXPECT_EQ(read_and_wait(st.id(kTmp)), 0);
        EXPECT_EQ(count(log.text(), line), 1u) << log.text();
    }
    for (const std::string &text : {file_text(stack_log), file_text(sim_log)}) {  // both runs of the device
        EXPECT_EQ(text.find(kRight), std::string::npos) << text;
        EXPECT_EQ(text.find(kWrong), std::string::npos) << text;
    }
}

const std::string kPwRight = std::string("password = ") + kRight + "\n";
const std::string kPwWrong = std::string("password = ") + kWrong + "\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceAddressing,
    ::testing::Values(
        DeviceRow{"Tsel",
                  {"--tsel", "0002"},
                  "tsel = 0002\n",
                  "",
                  {"--tsel", "0001"},
                  "association refused by CMIED: COTP DR, address-unknown"},
        DeviceRow{"Ssel",
                  {"--ssel", "00000003"},
                  "ssel = 00000003\n",
                  "ssel = 0003\n",
                  {"--ssel", "0003"},
                  "association refused by CMIED: session RF, session-selector-unknown"},
        DeviceRow{"Psel",
                  {"--psel", "0004"},
                  "psel = 0004\nlocal_psel = 0009\n",
                  "",
                  {"--psel", "00000001"},
                  "association refused by CMIED: presentation CPR, called-presentation-address-unknown"},
        DeviceRow{"ApTitle",
                  {"--ap-title", "1.3.9999.33", "--ae-qualifier", "33"},
                  "ap_title = 1.3.9999.33\nae_qualifier = 33\nlocal_ap_title = 1.3.9999.34\n",
                  "ae_qualifier = 33\n",
                  {"--ae-qualifier", "33"},
                  "association refused by CMIED: ACSE rejected-permanent, called-AP-title-not-recognized"},
        DeviceRow{"WrongPassword",
                  {"--password", kRight},
                  kPwRight,
                  kPwWrong,
                  {"--password", kWrong},
                  "association refused by CMIED: ACSE rejected-permanent, authentication-failure"},
        DeviceRow{"NoPassword",
                  {"--password", kRight},
                  kPwRight,
                  "",
                  {},
                  "association refused by CMIED: ACSE rejected-permanent, authentication-failure"}),
    [](const auto &info) { return std::string(info.param.name); });

// A device that keeps refusing is asked again after 250, 250, 500, 1000 ms
// and so on, as after a lost connection, and its refusal is logged once.
TEST(DeviceRefusal, IsRetriedWithTheBackOffOfALostConnection) {
    const TempDir dir("backoff");
    const std::string files = dir.sub("files");
    Sim sim("CMIED", 0, 0, files, {"--password", kRight});
    ASSERT_NE(sim.control_port, 0);
    const std::string sim_log = dir + "/CMIED_sim.log";
    StackLog log(dir + "/stack.log");
    Stack st(dir, {{"CMIED", sim.port_a, sim.port_b, kPwWrong}});
    ASSERT_TRUE(st.ok);
    const std::string accepted = "on network A from";
    std::vector<int64_t> at;
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually(
        [&] {
            const size_t n = count(file_text(sim_log), accepted);
            while (at.size() < n) at.push_back(now_ms());
            return at.size() >= 5;
        },
        30000));
    ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
    // Lower bounds only: a loaded machine makes the gaps longer, never shorter.
    const int64_t minimum[] = {250, 250, 500, 1000};
    for (size_t k = 0; k < 4; ++k) EXPECT_GE(at[k + 1] - at[k], minimum[k] - 30) << "gap " << k;
    // Every attempt was refused for its password (the last one may still be on its way).
    EXPECT_TRUE(eventually([&] {
        const std::string text = file_text(sim_log);
        return count(text, "wrong password (authentication-failure)") == count(text, accepted);
    }));
    EXPECT_EQ(count(log.text(), "authentication-failure"), 1u) << log.text();
    EXPECT_EQ(Events::get().count("up 0 A"), 0u);
}

}  // namespace
