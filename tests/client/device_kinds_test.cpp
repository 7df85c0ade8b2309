// The stack against devices of every kind (iedsim profiles) while the SCL
// says Edition 2 with Owner and ResvTms: blocks read by component name,
// single components read, whole-block writes split into attribute writes,
// enables that the device takes or refuses with its reason, and a capture of
// all of it that tshark decodes without a malformed frame.
#include "sim.h"
#include "zvt/capture.h"

using namespace zvt;

namespace {

int enable_and_wait(Stack &st, const std::string &ref, bool on = true) {
    Done::get().clear();
    AC_ENAREPORT_INFO e{st.id(ref), 0x79 | (0x80 << 8), 0x4C, 300000, uint8_t(on ? 1 : 0), done_plain};
    if (ac_rpt_enable(0, &e, 30, nullptr) != 0) return -1;
    if (!eventually([] { return Done::get().size() == 1; }, 40000)) return -2;
    return Done::get().results[0].second;
}

// Writes the block's values as the model holds them, with one attribute
// changed (the report dialog's SetRcbValues).
int write_block_and_wait(Stack &st, const std::string &ref, int component, const std::string &text) {
    AI_OBJ_VAL v{};
    if (ai_read_obj_primVals(st.id(ref), st.model(), &v) != 0) return -3;
    if (ai_prim_str_to_value(v.prim_vals[component].type, text.c_str(), v.prim_vals[component].data) != 0) return -4;
    Done::get().clear();
    AC_WRITE_REQ_INFO w{&v, 1, done_plain};
    const int queued = ac_write_obj_value(0, &w, 30, nullptr);
    ai_cleanup_objVals(&v);
    if (queued != 0) return -1;
    if (!eventually([] { return Done::get().size() == 1; }, 40000)) return -2;
    return Done::get().results[0].second;
}

struct Kind {
    const char *name;
    std::vector<std::string> options;
    bool settings_fixed;
};
void PrintTo(const Kind &k, std::ostream *os) { *os << k.name; }

const Kind kKinds[] = {
    {"Edition1", {"--profile", "ed1"}, false},
    {"Edition2WithoutOwner", {"--profile", "ed2"}, false},
    {"Edition2Owner", {"--profile", "ed2-owner"}, false},
    {"Edition2ResvTms", {"--profile", "ed2-resvtms"}, false},
    {"Edition2Full", {"--profile", "ed2-full"}, false},
    {"FixedSettings", {"--profile", "fixed"}, true},
};

class DeviceKind : public ::testing::TestWithParam<Kind> {};

TEST_P(DeviceKind, BlocksAreReadWrittenAndEnabledByComponentName) {
    const Kind &k = GetParam();
    const TempDir dir("kind");
    const std::string files = dir.sub("files");
    Sim sim("CMIED", 0, 0, files, k.options);
    ASSERT_NE(sim.control_port, 0);
    ::setenv("ZORVAN_QUIET", "1", 1);
    Stack st(dir, {{"CMIED", sim.port_a, sim.port_b}});
    ASSERT_TRUE(st.ok);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));

    const std::string br = "CMIEDMON/LLN0$BR$brcbTemp03", rp = "CMIEDMON/LLN0$RP$urcbAlarm03";
    ASSERT_EQ(sim.ask("set " + br + "$IntgPd 4321"), "OK");
    // A whole block, and single components, whatever the device's layout.
    EXPECT_EQ(read_and_wait(st.id(br)), 0);
    EXPECT_EQ(st.value(br + "$IntgPd"), "4321");
    EXPECT_EQ(read_and_wait(st.id(br + "$TimeofEntry")), 0);
    EXPECT_EQ(read_and_wait(st.id(rp)), 0);
    EXPECT_EQ(read_and_wait(st.id(rp + "$Resv")), 0);

    // The block written as one value goes out as the attributes that changed.
    EXPECT_EQ(write_block_and_wait(st, br, 8, "2500"), k.settings_fixed ? 1 : 0);
    EXPECT_EQ(sim.ask("get " + br + "$IntgPd"), k.settings_fixed ? "OK 4321" : "OK 2500");

    // Enabled by the device's own account, reports flowing.
    for (const std::string &ref : {br, rp}) {
        SCOPED_TRACE(ref);
        EXPECT_EQ(enable_and_wait(st, ref), 0);
        EXPECT_EQ(sim.ask("rcb " + ref).substr(0, 8), "OK ena=1");
    }
    // Enabled again, as the application does when the other channel comes
    // up: a setting the device refused is not asked for again, so the block
    // is not turned off and on for it (reports lost meanwhile).
    {
        StackLog log(dir + "/again.log");
        EXPECT_EQ(enable_and_wait(st, br), 0);
        EXPECT_EQ(sim.ask("rcb " + br).substr(0, 8), "OK ena=1");
        EXPECT_EQ(log.text().find("not taken"), std::string::npos) << log.text();
    }
    const size_t before = Events::get().report_count();
    ASSERT_EQ(sim.ask("set CMIEDMON/STMP1$MX$Tmp$mag$f 23.5"), "OK");
    EXPECT_TRUE(eventually([&] { return Events::get().report_count() > before; }));
    EXPECT_EQ(enable_and_wait(st, rp, false), 0);
    EXPECT_EQ(sim.ask("rcb " + rp).substr(0, 8), "OK ena=0");
    ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
}

INSTANTIATE_TEST_SUITE_P(Device, DeviceKind, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind> &info) { return std::string(info.param.name); });

// One capture of a session with a device of each kind (refusals included)
// decodes in tshark without malformed frames or expert errors.
TEST(DeviceKindCapture, SessionsWithEveryKindDecodeCleanlyInTshark) {
    ASSERT_FALSE(run("command -v tshark").empty()) << "tshark is not installed (Debian package tshark)";
    const TempDir dir("kindcap");
    std::vector<std::unique_ptr<Sim>> sims;
    std::vector<uint16_t> ports;
    std::vector<std::vector<std::string>> options;
    for (const Kind &k : kKinds) options.push_back(k.options);
    options.push_back({"--refuse-gi", "--held", "CMIEDMON/LLN0$RP$urcbAlarm03", "--pdu-size", "600"});
    for (size_t i = 0; i < options.size(); ++i) {
        const std::string files = dir + "/files" + std::to_string(i);
        ::mkdir(files.c_str(), 0755);
        sims.push_back(std::make_unique<Sim>("CMIED", 0, 0, files, options[i]));
        ASSERT_NE(sims.back()->control_port, 0);
        ports.push_back(sims.back()->port_a);
    }
    Capture cap(dir, "kinds", ports);
    ASSERT_TRUE(cap.started) << "no capture on lo is possible here (needs root)";
    ::setenv("ZORVAN_QUIET", "1", 1);
    for (size_t i = 0; i < sims.size(); ++i) {
        SCOPED_TRACE(i);
        Stack st(dir, {{"CMIED", sims[i]->port_a, sims[i]->port_b}});
        ASSERT_TRUE(st.ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));
        write_block_and_wait(st, "CMIEDMON/LLN0$BR$brcbTemp01", 8, "2500");
        enable_and_wait(st, "CMIEDMON/LLN0$BR$brcbTemp01");
        enable_and_wait(st, "CMIEDMON/LLN0$RP$urcbAlarm03");
        read_and_wait(st.id("CMIEDMON/LLN0$BR$brcbTemp01$TimeofEntry"));
        const size_t before = Events::get().report_count();
        EXPECT_EQ(sims[i]->ask("set CMIEDMON/STMP1$MX$Tmp$mag$f " + std::to_string(30 + i)), "OK");
        EXPECT_TRUE(eventually([&] { return Events::get().report_count() > before; }));
        ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
    }
    cap.stop();
    const std::string decoded = cap.decoded();
    EXPECT_NE(decoded.find("confirmed-RequestPDU CMIEDMON LLN0$BR$brcbTemp01$TimeofEntry"), std::string::npos)
        << decoded;
    EXPECT_NE(decoded.find("unconfirmed-PDU"), std::string::npos);
    EXPECT_EQ(decoded.find("Malformed"), std::string::npos) << decoded;
    EXPECT_EQ(cap.expert_errors(), "");
}

}  // namespace
