// A station session captured on the loopback interface decodes in tshark's
// ISO/MMS dissectors without malformed frames or expert errors.
#include "sim.h"
#include "zvt/capture.h"

#include <atomic>
#include <functional>

using namespace zvt;

namespace {

TEST(CaptureTest, StationSessionDecodesCleanlyInTshark) {
    ASSERT_FALSE(run("command -v tshark").empty()) << "tshark is not installed (Debian package tshark)";
    const TempDir dir("cap");
    const std::string files = dir.sub("files");
    auto sim = std::make_unique<Sim>("CMIED", 0, 0, files, std::vector<std::string>{"--recordings", "3"});
    Capture cap(dir, "session", {sim->port_a});
    ASSERT_TRUE(cap.started) << "no capture on lo is possible here (needs root)";
    {
        Stack st(dir, {{"CMIED", sim->port_a, sim->port_b}});
        ASSERT_TRUE(st.ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));
        EXPECT_EQ(read_and_wait(st.id("CMIEDMON/STMP1$MX$Tmp")), 0);
        Done::get().clear();
        AC_ENAREPORT_INFO e{st.id("CMIEDMON/LLN0$BR$brcbTemp01"), 0x79 | (0x80 << 8), 0x4C, 300000, 1, done_plain};
        ASSERT_EQ(ac_rpt_enable(0, &e, 30, nullptr), 0);
        ASSERT_TRUE(eventually([] { return Done::get().size() == 1 && Events::get().report_count() >= 1; }));
        EXPECT_EQ(sim->ask("set CMIEDMON/STMP1$MX$Tmp$mag$f 12.5"), "OK");
        ASSERT_TRUE(eventually([] { return Events::get().report_count() >= 2; }));
        Done::get().clear();
        AC_GETFAV_REQ_INFO d{"COMTRADE", done_plain};
        ASSERT_EQ(ac_get_file_attr(0, &d, 30, nullptr), 0);
        ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }));
        ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
    }
    cap.stop();
    const std::string decoded = cap.decoded();
    EXPECT_NE(decoded.find("MMS"), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("conclude-RequestPDU"), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("Release-Request"), std::string::npos) << decoded;
    EXPECT_EQ(decoded.find("Malformed"), std::string::npos) << decoded;
    EXPECT_EQ(cap.expert_errors(), "");
    sim.reset();
}

// Frames of an authenticated association (selectors, AP title, password)
// and of one refused for its password decode cleanly too.
TEST(CaptureTest, AuthenticatedAndRefusedAssociationsDecodeCleanlyInTshark) {
    ASSERT_FALSE(run("command -v tshark").empty()) << "tshark is not installed (Debian package tshark)";
    const TempDir dir("capauth");
    const std::string files = dir.sub("files");
    const std::string pw = "Cap-9vL!pw";
    Sim cm("CMIED", 0, 0, files,
           {"--password", pw, "--tsel", "0002", "--ssel", "0003", "--psel", "00000004", "--ap-title", "1.3.9999.33",
            "--ae-qualifier", "33"});
    Sim bay("BAYIED", 0, 0, files, {"--password", pw});
    ASSERT_NE(cm.control_port, 0);
    ASSERT_NE(bay.control_port, 0);
    Capture cap(dir, "auth", {cm.port_a, bay.port_a});
    ASSERT_TRUE(cap.started) << "no capture on lo is possible here (needs root)";
    {
        Stack st(dir, {{"CMIED", cm.port_a, cm.port_b,
                        "tsel = 0002\nssel = 0003\npsel = 00000004\nap_title = 1.3.9999.33\nae_qualifier = 33\n"
                        "password = " +
                            pw + "\n"},
                       {"BAYIED", bay.port_a, bay.port_b, "password = not-" + pw + "\n"}});
        ASSERT_TRUE(st.ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ac_set_srvm_chnlKeepCon(1, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));
        EXPECT_EQ(read_and_wait(st.id("CMIEDMON/STMP1$MX$Tmp")), 0);
        // Two refusals of BAYIED: the retry goes out as the first did.
        ASSERT_TRUE(eventually([&] {
            std::ifstream f(files + "/../BAYIED_sim.log");
            std::stringstream s;
            s << f.rdbuf();
            const std::string t = s.str();
            return t.find("wrong password") != t.rfind("wrong password");
        }));
        ac_set_srvm_chnlKeepCon(1, 0, AC_CHANNEL_A);
        ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
        EXPECT_EQ(Events::get().count("up 1 A"), 0u);
    }
    cap.stop();
    const std::string decoded = cap.decoded("-V");
    EXPECT_NE(decoded.find("mechanism-name: 2.2.3.1"), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("ap-title-form2: 1.3.9999.33"), std::string::npos);
    EXPECT_NE(decoded.find("result: accepted (0)"), std::string::npos);
    EXPECT_NE(decoded.find("service-user: authentication-failure (13)"), std::string::npos);
    EXPECT_NE(decoded.find("rlrq"), std::string::npos);
    EXPECT_EQ(decoded.find("Malformed"), std::string::npos) << decoded.substr(0, 20000);
    EXPECT_EQ(cap.expert_errors(), "");
}

// Directories of devices that write every time form, none at all, and GB18030
// names, each answered by its own iedsim and listed by the stack.
TEST(CaptureTest, FileDirectoriesOfEveryTimeFormAndGb18030NamesDecodeCleanlyInTshark) {
    ASSERT_FALSE(run("command -v tshark").empty()) << "tshark is not installed (Debian package tshark)";
    const TempDir dir("capfiles");
    const std::vector<std::vector<std::string>> devices = {{"--gb18030-names", "--file-times", "fraction"},
                                                           {"--gb18030-names", "--file-times", "none"},
                                                           {"--file-times", "offset"},
                                                           {"--file-times", "offset-0130"},
                                                           {"--file-times", "zulu"},
                                                           {"--file-times", "nozone"}};
    std::vector<std::unique_ptr<Sim>> sims;
    std::vector<uint16_t> ports;
    for (size_t i = 0; i < devices.size(); ++i) {
        const std::string files = dir.sub("files" + std::to_string(i));
        std::vector<std::string> options = devices[i];
        options.insert(options.end(), {"--recordings", "2"});
        sims.push_back(std::make_unique<Sim>("CMIED", 0, 0, files, options));
        ASSERT_NE(sims.back()->control_port, 0);
        ports.push_back(sims.back()->port_a);
    }
    Capture cap(dir, "files", ports);
    ASSERT_TRUE(cap.started) << "no capture on lo is possible here (needs root)";
    for (auto &sim : sims) {
        Stack st(dir, {{"CMIED", sim->port_a, sim->port_b}});
        ASSERT_TRUE(st.ok);
        Events::get().clear();
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));
        Done::get().clear();
        AC_GETFAV_REQ_INFO d{"COMTRADE", done_plain};
        ASSERT_EQ(ac_get_file_attr(0, &d, 30, nullptr), 0);
        ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }));
        EXPECT_EQ(Done::get().results[0].second, 0);
        ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
    }
    cap.stop();
    const std::string decoded = cap.decoded("-V");
    // tshark reads every entry's name, and each time (in whatever form) as
    // the UTC time of day the recording's name carries (_yyyymmddhhmmssmmm).
    size_t entries = 0, times = 0;
    std::string stamp;
    std::istringstream lines(decoded);
    for (std::string line; std::getline(lines, line);) {
        const size_t name = line.find("FileName item: COMTRADE/CMIED");
        if (name != std::string::npos) {
            ++entries;
            stamp = line.substr(line.rfind('_') + 1, 17);
        } else if (line.find("lastModified: ") != std::string::npos) {
            ++times;
            const std::string utc = stamp.substr(8, 2) + ":" + stamp.substr(10, 2) + ":" + stamp.substr(12, 2);
            EXPECT_NE(line.find(utc + "."), std::string::npos) << line << " for the recording of " << stamp;
            EXPECT_NE(line.find(" UTC"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(entries, 4 * devices.size()) << decoded.substr(0, 20000);
    EXPECT_EQ(times, 4 * (devices.size() - 1));  // one device gives no times
    EXPECT_EQ(decoded.find("Malformed"), std::string::npos) << decoded.substr(0, 20000);
    EXPECT_EQ(cap.expert_errors(), "");
    sims.clear();
}

std::atomic<int> g_ctl_done{0}, g_ctl_result{-9}, g_ctl_cause{-9}, g_log_rows{-1};
void ctl_done(AC_REQ_CTRL *c) {
    g_ctl_result = c->result;
    g_ctl_cause = c->u.ctrlCtrl.result;
    ++g_ctl_done;
}
void log_done(AC_REQ_CTRL *c) { g_log_rows = c->result == 0 ? c->u.qlogCtrl.entry_num : -1; }

// Controls (select with value, operate with its command terminations, a
// refusal with LastApplError), setting group changes and log queries over
// several ReadJournal answers decode cleanly in tshark as well.
TEST(CaptureTest, ControlsSettingGroupsAndLogQueriesDecodeCleanlyInTshark) {
    ASSERT_FALSE(run("command -v tshark").empty()) << "tshark is not installed (Debian package tshark)";
    const TempDir dir("capctl");
    const std::string files = dir.sub("files");
    Sim bay("BAYIED", 0, 0, files, {"--journal-page", "2", "--ctl-exec-ms", "10"});
    ASSERT_NE(bay.control_port, 0);
    Capture cap(dir, "ctl", {bay.port_a});
    ASSERT_TRUE(cap.started) << "no capture on lo is possible here (needs root)";
    {
        Stack st(dir, {{"BAYIED", bay.port_a, bay.port_b}});
        ASSERT_TRUE(st.ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));
        auto control = [&](const char *co, bool select, const std::function<void(AC_CTRL_VALUE &)> &set) {
            AC_CTRL_REQ_INFO r{};
            r.ctrl_obj = st.id(co);
            set(r.ctrl_val);
            r.ctrl_val.ctlNum = 1;
            r.ctrl_val.origin.orCat = 2;
            r.u_ctrl_done = ctl_done;
            const int before = g_ctl_done;
            EXPECT_EQ(select ? ac_select_with_val(0, &r, 15, nullptr) : ac_operate(0, &r, 15, nullptr), 0);
            EXPECT_TRUE(eventually([&] { return g_ctl_done > before; }));
            return std::make_pair(int(g_ctl_result), int(g_ctl_cause));
        };
        auto on = [](AC_CTRL_VALUE &v) { v.val.bVal = 1; };
        EXPECT_EQ(control("BAYIEDCTRL/CSWI1$CO$Pos", true, on), std::make_pair(0, 0));
        EXPECT_EQ(control("BAYIEDCTRL/CSWI1$CO$Pos", false, on), std::make_pair(0, 0));
        EXPECT_EQ(control("BAYIEDCTRL/GGIO1$CO$ISCSO1", false, [](AC_CTRL_VALUE &v) { v.val.iVal32 = 2; }),
                  std::make_pair(1, 18))
            << "Object-not-selected";
        EXPECT_EQ(bay.ask("ctlnext BAYIEDCTRL/GGIO1$CO$AnOut1 Time-limit-over"), "OK");
        EXPECT_EQ(control("BAYIEDCTRL/GGIO1$CO$AnOut1", false, [](AC_CTRL_VALUE &v) { v.val.setMag.fVal = 1.5f; }),
                  std::make_pair(1, 16));
        auto write = [&](const char *ref, const char *text) {
            AI_OBJ_VAL v{};
            EXPECT_EQ(ai_read_obj_primVals(st.id(ref), st.model(), &v), 0);
            EXPECT_EQ(ai_prim_str_to_value(v.prim_vals[0].type, text, v.prim_vals[0].data), 0);
            Done::get().clear();
            AC_WRITE_REQ_INFO w{&v, 1, done_plain};
            EXPECT_EQ(ac_write_obj_value(0, &w, 15, nullptr), 0);
            ai_cleanup_objVals(&v);
            EXPECT_TRUE(eventually([] { return Done::get().size() == 1; }));
            return Done::get().results[0].second;
        };
        EXPECT_EQ(write("BAYIEDCTRL/LLN0$SP$SGCB$ActSG", "2"), 0);
        EXPECT_EQ(write("BAYIEDCTRL/LLN0$SP$SGCB$EditSG", "3"), 0);
        EXPECT_EQ(write("BAYIEDCTRL/PTOC1$SE$OpDlTmms$setVal", "450"), 0);
        EXPECT_EQ(write("BAYIEDCTRL/LLN0$SP$SGCB$CnfEdit", "true"), 0);
        EXPECT_EQ(read_and_wait(st.id("BAYIEDCTRL/PTOC1$SG")), 0);
        for (const char *v : {"10", "01", "10", "01"})
            EXPECT_EQ(bay.ask(std::string("set BAYIEDCTRL/XCBR1$ST$Pos$stVal ") + v), "OK");
        AC_QLOG_REQ_INFO q{};
        q.lcb_id = st.id("BAYIEDCTRL/LLN0$LG$lcbStatus");
        q.u_qlog_done = log_done;
        g_log_rows = -2;
        ASSERT_EQ(ac_query_log_by_time(0, &q, 15, nullptr), 0);
        EXPECT_TRUE(eventually([] { return g_log_rows != -2; }));
        EXPECT_GE(g_log_rows, 5) << "the breaker's four changes and the control of CSWI1";
        ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
    }
    cap.stop();
    const std::string decoded = cap.decoded("-V");
    EXPECT_NE(decoded.find("readJournal"), std::string::npos);
    EXPECT_NE(decoded.find("moreFollows: True"), std::string::npos) << "several ReadJournal answers";
    EXPECT_NE(decoded.find("LastApplError"), std::string::npos);
    EXPECT_NE(decoded.find("CSWI1$CO$Pos$SBOw"), std::string::npos);
    EXPECT_NE(decoded.find("entryToStartAfter"), std::string::npos);
    EXPECT_EQ(decoded.find("Malformed"), std::string::npos) << decoded.substr(0, 20000);
    EXPECT_EQ(cap.expert_errors(), "");
}

}  // namespace

namespace {
std::atomic<int> g_browsed{0};
void on_browsed(ST_INT) { ++g_browsed; }
}  // namespace

// The browse of a device without its SCL (model = device): every
// GetNameList, GetVariableAccessAttributes, Read and
// GetNamedVariableListAttributes and their answers decode cleanly.
TEST(CaptureTest, DeviceBrowseDecodesCleanlyInTshark) {
    ASSERT_FALSE(run("command -v tshark").empty()) << "tshark is not installed (Debian package tshark)";
    const TempDir dir("capbrowse");
    const std::string files = dir.sub("files");
    Sim sim("CMIED", 0, 0, files);
    ASSERT_NE(sim.control_port, 0);
    Capture cap(dir, "browse", {sim.port_a});
    ASSERT_TRUE(cap.started) << "no capture on lo is possible here (needs root)";
    {
        const std::string path = dir + "/station.ini";
        std::ofstream(path) << "[ied CMIED]\nmodel = device\naddr_a = 127.0.0.1:" << sim.port_a << "\naddr_b = none\n";
        Events::get().clear();
        u_chnl_connect_app(on_up);
        u_chnl_disconnect_app(on_down);
        u_srv_refreshed_app(on_browsed);
        ASSERT_EQ(ai_init_envir(path.c_str()), 0);
        ASSERT_EQ(ac_init_srvm(), 0);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        EXPECT_TRUE(eventually([] { return g_browsed == 1; }, 30000));
        ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
        EXPECT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
        ai_uninit_envir();
    }
    cap.stop();
    const std::string decoded = cap.decoded();
    const std::string services = cap.decoded("-V");
    for (const char *svc : {"getNameList", "getVariableAccessAttributes", "getNamedVariableListAttributes", "read"}) {
        EXPECT_NE(services.find(std::string("confirmedServiceRequest: ") + svc), std::string::npos) << svc;
        EXPECT_NE(services.find(std::string("confirmedServiceResponse: ") + svc), std::string::npos) << svc;
    }
    EXPECT_EQ(decoded.find("Malformed"), std::string::npos) << decoded;
    EXPECT_EQ(cap.expert_errors(), "");
}
