// Channels, requests and reports of the client stack against iedsim.
#include "sim.h"

#include <fstream>
#include <iterator>
#include <set>

using namespace zvt;

namespace {

const char *kTmp = "CMIEDMON/STMP1$MX$Tmp";
const char *kTmpMag = "CMIEDMON/STMP1$MX$Tmp$mag$f";
const char *kBrcb = "CMIEDMON/LLN0$BR$brcbTemp01";
// seqNum, timeStamp, reasonCode, dataSet, entryID (first octet), confRev (second)
constexpr int kOptFlds = 0x79 | (0x80 << 8);
constexpr int kTrgOps = 0x4C;  // dchg, integrity, GI

// A port on 127.0.0.x that refuses connections (bound, never listening).
struct DeadPort {
    int fd = -1;
    uint16_t port = 0;
    explicit DeadPort(const char *host) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, host, &a.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~DeadPort() { ::close(fd); }
};

std::vector<AC_CHANNEL> g_chnls;
std::mutex g_chnl_mutex;
void done_chnl(AC_REQ_CTRL *c) {
    {
        std::lock_guard<std::mutex> l(g_chnl_mutex);
        g_chnls.push_back(c->chnl);
    }
    Done::get().add(c);
}

AC_CHANNEL read_channel(Stack &st) {
    {
        std::lock_guard<std::mutex> l(g_chnl_mutex);
        g_chnls.clear();
    }
    Done::get().clear();
    AI_OBJ_ID ids[1] = {st.id(kTmp)};
    AC_READ_REQ_INFO r{ids, 1, done_chnl};
    if (ac_read_obj_value(0, &r, 15, nullptr) != 0) return AC_CHANNEL_UNKNOWN;
    if (!eventually([] { return Done::get().size() == 1; }) || Done::get().results[0].second != 0)
        return AC_CHANNEL_UNKNOWN;
    std::lock_guard<std::mutex> l(g_chnl_mutex);
    return g_chnls[0];
}

int enable(Stack &st, const char *rcb, int ena = 1) {
    Done::get().clear();
    AC_ENAREPORT_INFO e{st.id(rcb), kOptFlds, kTrgOps, 300000, ST_UCHAR(ena), done_plain};
    if (ac_rpt_enable(0, &e, 30, nullptr) != 0) return -1;
    if (!eventually([] { return Done::get().size() == 1; })) return -2;
    return Done::get().results[0].second;
}

class ClientTest : public OneDevice, public ::testing::Test {
protected:
    void SetUp() override {
        make_dir("c");
        start_device("CMIED");
    }
    void keep(AC_CHANNEL ch, bool on = true) { ac_set_srvm_chnlKeepCon(0, on ? 1 : 0, ch); }
    bool up(const char *what, size_t n = 1) {
        return eventually([&] { return Events::get().count(what) >= n; });
    }
};

TEST_F(ClientTest, BothChannelsConnectAndRequestsMoveToBWhileAIsDown) {
    keep(AC_CHANNEL_A);
    keep(AC_CHANNEL_B);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_TRUE(up("up 0 B"));
    CHNL_STATE a, b;
    AC_CHANNEL active;
    ASSERT_EQ(ac_get_srvm_chnlState(0, &a, &b, &active), 0);
    EXPECT_EQ(a, CHNL_STATE_CONNECTED);
    EXPECT_EQ(b, CHNL_STATE_CONNECTED);
    EXPECT_EQ(active, AC_CHANNEL_A);
    EXPECT_EQ(read_channel(*stack), AC_CHANNEL_A);

    EXPECT_EQ(sim->ask("refuse A"), "OK");
    EXPECT_EQ(sim->ask("drop A"), "OK 1");
    ASSERT_TRUE(up("down 0 A"));
    ac_get_srvm_chnlState(0, &a, &b, &active);
    EXPECT_EQ(active, AC_CHANNEL_B);
    EXPECT_EQ(read_channel(*stack), AC_CHANNEL_B);

    EXPECT_EQ(sim->ask("accept A"), "OK");
    ASSERT_TRUE(up("up 0 A", 2));
    EXPECT_TRUE(eventually([&] {
        ac_get_srvm_chnlState(0, &a, &b, &active);
        return active == AC_CHANNEL_A;
    }));
    EXPECT_EQ(read_channel(*stack), AC_CHANNEL_A);
}

TEST_F(ClientTest, KeepFlagReleasesAndReconnectsOnlyWhenAsked) {
    EXPECT_EQ(ac_get_srvm_chnlKeepCon(0, AC_CHANNEL_A), 0);
    keep(AC_CHANNEL_A);
    EXPECT_EQ(ac_get_srvm_chnlKeepCon(0, AC_CHANNEL_A), 1);
    ASSERT_TRUE(up("up 0 A"));
    keep(AC_CHANNEL_A, false);
    ASSERT_TRUE(up("down 0 A"));
    // Released: the server sees no connection and none comes back.
    EXPECT_TRUE(eventually([&] { return sim->ask("conns A") == "OK 0"; }));
    EXPECT_TRUE(stays([&] { return Events::get().count("up 0 A") == 1u; }, 600)) << "the channel came back";
    keep(AC_CHANNEL_A);
    EXPECT_TRUE(up("up 0 A", 2));
}

// The application registers its functions after asking for the channels.
TEST_F(ClientTest, ConnectionMadeBeforeTheCallbackIsRegisteredIsStillReported) {
    u_chnl_connect_app(nullptr);
    keep(AC_CHANNEL_A);
    CHNL_STATE a, b;
    AC_CHANNEL active;
    ASSERT_TRUE(eventually([&] {
        ac_get_srvm_chnlState(0, &a, &b, &active);
        return a == CHNL_STATE_CONNECTED;
    }));
    EXPECT_TRUE(stays([] { return Events::get().channels().empty(); }, 100));
    u_chnl_connect_app(on_up);
    EXPECT_TRUE(up("up 0 A"));
    EXPECT_EQ(Events::get().channels(), std::vector<std::string>{"up 0 A"});
}

TEST_F(ClientTest, KilledServerIsReportedLostThenReconnectedInOrder) {
    keep(AC_CHANNEL_A);
    keep(AC_CHANNEL_B);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_TRUE(up("up 0 B"));
    sim->kill(SIGKILL);
    ASSERT_TRUE(up("down 0 A"));
    ASSERT_TRUE(up("down 0 B"));
    CHNL_STATE a, b;
    AC_CHANNEL active;
    ac_get_srvm_chnlState(0, &a, &b, &active);
    EXPECT_EQ(active, AC_CHANNEL_UNKNOWN);
    sim->restart();
    ASSERT_TRUE(up("up 0 A", 2));
    ASSERT_TRUE(up("up 0 B", 2));
    for (const char *ch : {"A", "B"}) {
        std::vector<std::string> seq;
        for (auto &e : Events::get().channels())
            if (e.back() == ch[0]) seq.push_back(e.substr(0, e.find(' ')));
        EXPECT_EQ(seq, (std::vector<std::string>{"up", "down", "up"})) << "channel " << ch;
    }
}

TEST_F(ClientTest, ReadUpdatesTheModelAndCompletesOffTheCallingThread) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_EQ(sim->ask(std::string("set ") + kTmpMag + " 42.5"), "OK");
    EXPECT_EQ(read_and_wait(stack->id(kTmp)), 0);
    EXPECT_EQ(stack->value(kTmpMag), "42.5");
    EXPECT_NE(Done::get().threads[0], std::this_thread::get_id());
}

struct ReadCheck {
    static std::vector<std::string> texts;
    static std::vector<int> results;
    static void done(AC_REQ_CTRL *c) {
        texts.clear();
        results.clear();
        for (int i = 0; i < c->u.rdCtrl.num_obj; ++i) {
            results.push_back(c->u.rdCtrl.results[i]);
            const AI_OBJ_VAL &v = c->u.rdCtrl.obj_vals[i];
            texts.push_back(v.prim_num > 0 ? prim_text(v.prim_vals[0]) : "");
        }
        Done::get().add(c);
    }
};
std::vector<std::string> ReadCheck::texts;
std::vector<int> ReadCheck::results;

TEST_F(ClientTest, ReadOfSeveralObjectsAndADataSetFillsValuesAndResults) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_EQ(sim->ask("set CMIEDMON/STMP2$MX$Tmp$mag$f 7"), "OK");
    ASSERT_EQ(sim->ask("set CMIEDMON/STMP3$MX$Tmp$mag$f 8"), "OK");
    Done::get().clear();
    AI_OBJ_ID ids[3] = {stack->id("CMIEDMON/STMP2$MX$Tmp$mag$f"), stack->id("CMIEDMON/LLN0$dsTemp"), 0};
    AC_READ_REQ_INFO r{ids, 3, ReadCheck::done};
    ASSERT_EQ(ac_read_obj_value(0, &r, 15, nullptr), 0);
    ids[0] = ids[1] = -7;  // the caller's array may go away at once
    ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }));
    EXPECT_EQ(Done::get().results[0].second, 1) << "the IED object itself is no MMS variable";
    EXPECT_EQ(ReadCheck::results, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(ReadCheck::texts[0], "7");
    EXPECT_EQ(stack->value("CMIEDMON/STMP3$MX$Tmp$mag$f"), "8");
}

// dsTemp with a member that names nothing before STMP2, on the device and in
// the client alike: the device answers that member with a failure.
TEST(ClientDataSet, FailedMemberDoesNotKeepTheFollowingMembersFromTheModel) {
    const TempDir dir("ds");
    std::ifstream in(std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd");
    std::string scl((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string second = R"(<FCDA ldInst="MON" lnClass="STMP" lnInst="2" doName="Tmp" fc="MX"/>)";
    const size_t at = scl.find(second);
    ASSERT_NE(at, std::string::npos);
    scl.insert(at, R"(<FCDA ldInst="MON" lnClass="STMP" lnInst="1" doName="NoSuchDO" fc="MX"/>)");
    const std::string broken = dir + "/broken.scd";
    std::ofstream(broken) << scl;
    ::mkdir((dir + "/files").c_str(), 0755);
    {
        Sim sim("CMIED", 0, 0, dir + "/files", {"--scl", broken});
        Stack stack(dir, {{"CMIED", sim.port_a, sim.port_b}}, broken);
        ASSERT_TRUE(stack.ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") >= 1; }));
        ASSERT_EQ(sim.ask("set CMIEDMON/STMP1$MX$Tmp$mag$f 6"), "OK");
        ASSERT_EQ(sim.ask("set CMIEDMON/STMP3$MX$Tmp$mag$f 8"), "OK");
        Done::get().clear();
        AI_OBJ_ID ids[1] = {stack.id("CMIEDMON/LLN0$dsTemp")};
        AC_READ_REQ_INFO r{ids, 1, done_plain};
        ASSERT_EQ(ac_read_obj_value(0, &r, 15, nullptr), 0);
        ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }));
        EXPECT_EQ(Done::get().results[0].second, 1) << "one member failed";
        EXPECT_EQ(stack.value("CMIEDMON/STMP1$MX$Tmp$mag$f"), "6");
        EXPECT_EQ(stack.value("CMIEDMON/STMP3$MX$Tmp$mag$f"), "8");
    }
}

TEST_F(ClientTest, WriteSendsTheStoredValueAndUpdatesTheModel) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    const char *ref = "CMIEDMON/LLN0$BR$brcbTemp03$IntgPd";
    uint32_t v = 12345;
    AI_OBJ_ID pid = stack->id(ref);
    AI_PRIM_VAL pv{VAL_TYPE_INT32U, 4, &v};
    AI_OBJ_VAL ov{pid, &pid, &pv, 1};
    Done::get().clear();
    AC_WRITE_REQ_INFO w{&ov, 1, done_plain};
    ASSERT_EQ(ac_write_obj_value(0, &w, 15, nullptr), 0);
    v = 1;  // copied at the call
    ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }));
    EXPECT_EQ(Done::get().results[0], std::make_pair(int(IEC61850_OP_WRITE), 0));
    EXPECT_EQ(sim->ask(std::string("get ") + ref), "OK 12345");
    EXPECT_EQ(stack->value(ref), "12345");
}

TEST_F(ClientTest, WriteOfAValueOfTheWrongTypeIsAFailure) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    float f = 1.5f;
    AI_OBJ_ID pid = stack->id("CMIEDMON/LLN0$BR$brcbTemp03$IntgPd");
    AI_PRIM_VAL pv{VAL_TYPE_FLOAT32, 4, &f};
    AI_OBJ_VAL ov{pid, &pid, &pv, 1};
    Done::get().clear();
    AC_WRITE_REQ_INFO w{&ov, 1, done_plain};
    ASSERT_EQ(ac_write_obj_value(0, &w, 15, nullptr), 0);
    ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }));
    EXPECT_EQ(Done::get().results[0].second, 1);
}

TEST_F(ClientTest, EnabledBlockReportsGoIntoTheModelAndToTheCallback) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_EQ(enable(*stack, kBrcb), 0);
    EXPECT_EQ(stack->value(std::string(kBrcb) + "$RptEna"), "true");
    EXPECT_EQ(sim->ask(std::string("get ") + kBrcb + "$TrgOps"), "OK 010011");
    ASSERT_TRUE(eventually([] { return Events::get().report_count() >= 1; })) << "GI report";
    ASSERT_EQ(sim->ask(std::string("set ") + kTmpMag + " 61.25"), "OK");
    ASSERT_TRUE(eventually([&] { return Events::get().report_count() >= 2; }));
    EXPECT_EQ(stack->value(kTmpMag), "61.25");
    std::lock_guard<std::mutex> l(Events::get().m);
    const auto &gi = Events::get().reports.front();
    EXPECT_EQ(gi.rpt_id, "CMIED_Temp");
    EXPECT_EQ(gi.ids.size(), 3u);
    EXPECT_EQ(gi.reasons[0], RPT_REASON_GI);
    const auto &last = Events::get().reports.back();
    ASSERT_EQ(last.ids.size(), 1u);
    EXPECT_EQ(last.ids[0], stack->id(kTmp));
    EXPECT_EQ(last.reasons[0], RPT_REASON_DCHG);
    EXPECT_EQ(last.values[0], "61.25");
}

TEST_F(ClientTest, DisableTurnsTheBlockOff) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_EQ(enable(*stack, kBrcb), 0);
    ASSERT_EQ(enable(*stack, kBrcb, 0), 0);
    EXPECT_EQ(sim->ask(std::string("get ") + kBrcb + "$RptEna"), "OK false");
}

// Guards against lost or repeated entries across a reconnection.
TEST_F(ClientTest, BufferedBlockResumesWithoutLosingOrRepeatingEntries) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_EQ(enable(*stack, kBrcb), 0);
    const int n = 30;
    for (int v = 1; v <= n; ++v) {
        ASSERT_EQ(sim->ask(std::string("set ") + kTmpMag + " " + std::to_string(v)), "OK");
        if (v == 10) {
            EXPECT_EQ(sim->ask("drop A"), "OK 1");
            ASSERT_TRUE(up("down 0 A"));
        }
        if (v == 20) {
            ASSERT_TRUE(up("up 0 A", 2));
            ASSERT_EQ(enable(*stack, kBrcb), 0);
        }
    }
    expect_each_value_once(stack->id(kTmp), n);
}

TEST_F(ClientTest, FloodOfRequestsDoesNotHoldBackReports) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_EQ(enable(*stack, kBrcb), 0);
    ASSERT_TRUE(eventually([] { return Events::get().report_count() >= 1; }));
    Done::get().clear();
    g_submitted = 0;
    std::atomic<bool> flooding{true};
    AI_OBJ_ID ids[1] = {stack->id("CMIEDMON/SIMG1$MX$Pres")};
    // Keeps a thousand reads queued until told to stop.
    std::thread feeder([&] {
        AC_READ_REQ_INFO r{ids, 1, done_plain};
        while (flooding) {
            while (g_submitted - Done::get().size() < 1000)
                if (ac_read_obj_value(0, &r, 60, nullptr) == 0) ++g_submitted;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    ASSERT_TRUE(eventually([] { return g_submitted >= 1000; }));
    EXPECT_EQ(sim->ask(std::string("set ") + kTmpMag + " 99"), "OK");
    const bool reported = eventually([&] { return Events::get().report_count() >= 2; });
    flooding = false;
    feeder.join();
    ASSERT_TRUE(reported);
    {
        std::lock_guard<std::mutex> l(Events::get().m);
        const auto &r = Events::get().reports[1];
        EXPECT_LT(r.completions_before, r.submitted_before) << "the report came while reads were still queued";
        EXPECT_EQ(r.values[0], "99");
    }
    EXPECT_TRUE(eventually([&] { return Done::get().size() == g_submitted; }, 60000));
}

TEST_F(ClientTest, UnansweredRequestMarksThePeerDeadThenReconnects) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    sim->freeze(true);
    EXPECT_EQ(read_and_wait(stack->id(kTmp), 1), 1);
    EXPECT_TRUE(up("down 0 A"));
    sim->freeze(false);
    EXPECT_TRUE(up("up 0 A", 2));
    EXPECT_EQ(read_and_wait(stack->id(kTmp)), 0);
}

AI_OBJ_ID g_chain_id = -1;
void chained_done(AC_REQ_CTRL *c) {
    Done::get().add(c, "first");
    AI_OBJ_ID ids[1] = {g_chain_id};
    AC_READ_REQ_INFO r{ids, 1, done_plain};
    if (ac_read_obj_value(c->srv_id, &r, 15, nullptr) != 0) Done::get().add(c, "refused");
}

TEST_F(ClientTest, CompletionFunctionMayIssueTheNextRequest) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    Done::get().clear();
    g_chain_id = stack->id(kTmp);
    AI_OBJ_ID ids[1] = {g_chain_id};
    AC_READ_REQ_INFO r{ids, 1, chained_done};
    ASSERT_EQ(ac_read_obj_value(0, &r, 15, nullptr), 0);
    ASSERT_TRUE(eventually([] { return Done::get().size() == 2; }));
    EXPECT_EQ(Done::get().notes, (std::vector<std::string>{"first", ""}));
    EXPECT_EQ(Done::get().results[1].second, 0);
}

std::atomic<bool> g_second_queued{false};
void stopping_done(AC_REQ_CTRL *c) {
    const int64_t until = now_ms() + 10000;  // both requests queued before the shutdown
    while (!g_second_queued && now_ms() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Done::get().add(c, "stopping");
    ai_uninit_envir();
    Done::get().add(c, "stopped");
}

TEST_F(ClientTest, CompletionMayShutTheClientDown) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    Done::get().clear();
    AI_OBJ_ID ids[1] = {stack->id(kTmp)};
    AC_READ_REQ_INFO first{ids, 1, stopping_done};
    AC_READ_REQ_INFO second{ids, 1, done_plain};
    g_second_queued = false;
    ASSERT_EQ(ac_read_obj_value(0, &first, 15, nullptr), 0);
    const int queued = ac_read_obj_value(0, &second, 15, nullptr);
    g_second_queued = true;
    ASSERT_EQ(queued, 0);
    ASSERT_TRUE(eventually([] { return Done::get().size() == 3; }));
    // The second completion (answered or failed by the shutdown) runs after
    // the completion that shut down has returned, not inside it.
    EXPECT_EQ(Done::get().notes, (std::vector<std::string>{"stopping", "stopped", ""}));
    EXPECT_EQ(Done::get().results[0].second, 0);
    EXPECT_EQ(ac_read_obj_value(0, &second, 15, nullptr), 1) << "no client after shutdown";
    // Channel A was let go: the simulator takes a new association at once.
    Stack again(dir, {{"CMIED", sim->port_a, sim->port_b}});
    ASSERT_TRUE(again.ok);
    keep(AC_CHANNEL_A);
    EXPECT_TRUE(up("up 0 A"));
    EXPECT_EQ(read_and_wait(again.id(kTmp)), 0);
}

// A completion that takes long: the network goes on meanwhile (the model
// takes the reported value), the callbacks stay in order behind it.
std::atomic<int> g_slow_state{0};  // 1: the slow completion runs, 2: let it return
void slow_done(AC_REQ_CTRL *c) {
    g_slow_state = 1;
    const int64_t until = now_ms() + 10000;
    while (g_slow_state != 2 && now_ms() < until) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Done::get().add(c, "slow");
}

TEST_F(ClientTest, SlowCompletionDoesNotHoldTheNetworkBack) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_EQ(enable(*stack, kBrcb), 0);
    ASSERT_TRUE(eventually([] { return Events::get().report_count() >= 1; }));
    const size_t reports = Events::get().report_count();
    Done::get().clear();
    g_slow_state = 0;
    AI_OBJ_ID ids[1] = {stack->id(kTmp)};
    AC_READ_REQ_INFO r{ids, 1, slow_done};
    ASSERT_EQ(ac_read_obj_value(0, &r, 15, nullptr), 0);
    ASSERT_TRUE(eventually([] { return g_slow_state == 1; }));
    ASSERT_EQ(sim->ask(std::string("set ") + kTmpMag + " 77.5"), "OK");
    const bool stored = eventually([&] { return stack->value(kTmpMag) == "77.5"; }, 5000);
    const size_t reports_meanwhile = Events::get().report_count();
    // A read submitted meanwhile is answered too; its completion waits.
    AC_READ_REQ_INFO plain{ids, 1, done_plain};
    ASSERT_EQ(ac_read_obj_value(0, &plain, 15, nullptr), 0);
    const bool none_meanwhile = stays([] { return Done::get().size() == 0; }, 100);
    g_slow_state = 2;
    EXPECT_TRUE(stored) << "the report waited for the slow completion";
    EXPECT_EQ(reports_meanwhile, reports) << "a report callback ran beside the slow completion";
    EXPECT_TRUE(none_meanwhile) << "a completion ran beside the slow one";
    ASSERT_TRUE(eventually([&] { return Events::get().report_count() > reports && Done::get().size() == 2; }));
    EXPECT_EQ(Done::get().notes, (std::vector<std::string>{"slow", ""}));
    EXPECT_EQ(Done::get().results[1].second, 0);
}

// Callers on several threads at once, some of their requests sent by
// themselves, some queued for the worker: every one completes once.
TEST_F(ClientTest, ConcurrentCallersEachGetEveryCompletion) {
    keep(AC_CHANNEL_A);
    ASSERT_TRUE(up("up 0 A"));
    ASSERT_EQ(enable(*stack, kBrcb), 0);
    Done::get().clear();
    const std::vector<std::string> refs = {kTmp, "CMIEDMON/SIMG1$MX$Pres", "CMIEDMON/STMP2$MX$Tmp", kTmp};
    constexpr int kPerThread = 150;
    std::atomic<int> refused{0};
    std::vector<std::thread> callers;
    for (const std::string &ref : refs) {
        const AI_OBJ_ID id = stack->id(ref);
        callers.emplace_back([id, &refused] {
            AI_OBJ_ID ids[1] = {id};
            AC_READ_REQ_INFO r{ids, 1, done_plain};
            for (int k = 0; k < kPerThread; ++k) {
                if (ac_read_obj_value(0, &r, 30, nullptr) != 0) ++refused;
                if (k % 16 == 0) std::this_thread::yield();
            }
        });
    }
    for (auto &t : callers) t.join();
    EXPECT_EQ(refused, 0);
    const size_t want = refs.size() * kPerThread;
    ASSERT_TRUE(eventually([&] { return Done::get().size() >= want; }, 60000));
    EXPECT_TRUE(stays([&] { return Done::get().size() == want; }, 100)) << "a completion came twice";
    std::lock_guard<std::mutex> l(Done::get().m);
    EXPECT_EQ(Done::get().results.size(), want);
    for (auto &r : Done::get().results) EXPECT_EQ(r.second, 0);
}

// Guards against std::terminate from a running engine destroyed at exit.
TEST_F(ClientTest, ProcessEndingWithoutUninitialisingExitsCleanly) {
    stack.reset();
    const pid_t child = ::fork();
    if (child == 0) {
        Stack st(dir, {{"CMIED", sim->port_a, sim->port_b}});
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        const bool ok = st.ok && eventually([] {
                            CHNL_STATE a, b;
                            AC_CHANNEL act;
                            ac_get_srvm_chnlState(0, &a, &b, &act);
                            return a == CHNL_STATE_CONNECTED;
                        });
        std::exit(ok ? 0 : 3);  // no ai_uninit_envir
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

class UnreachableTest : public ::testing::Test {};

TEST_F(UnreachableTest, ShutdownAnswersPendingRequestsWithFailure) {
    DeadPort a("127.0.0.1"), b("127.0.0.2");
    const TempDir dir("u");
    auto st = std::make_unique<Stack>(dir, std::vector<Stack::Srv>{{"CMIED", a.port, b.port}});
    ASSERT_TRUE(st->ok);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    Done::get().clear();
    AI_OBJ_ID ids[1] = {st->id(kTmp)};
    AC_READ_REQ_INFO r{ids, 1, done_plain};
    ASSERT_EQ(ac_read_obj_value(0, &r, 600, nullptr), 0);
    st.reset();  // ai_uninit_envir
    ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }, 10000));
    EXPECT_EQ(Done::get().results[0].second, 1);
    EXPECT_EQ(ac_read_obj_value(0, &r, 1, nullptr), 1) << "no client after shutdown";
}

TEST_F(UnreachableTest, RequestsCompleteWithFailureAfterTheirTimeOut) {
    DeadPort a("127.0.0.1"), b("127.0.0.2");
    const TempDir dir("u");
    Stack st(dir, {{"CMIED", a.port, b.port}});
    ASSERT_TRUE(st.ok);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_B);
    const int64_t t0 = now_ms();
    EXPECT_EQ(read_and_wait(st.id(kTmp), 1), 1);
    EXPECT_GE(now_ms() - t0, 900);
    EXPECT_TRUE(Events::get().channels().empty());
    CHNL_STATE sa, sb;
    AC_CHANNEL active;
    ac_get_srvm_chnlState(0, &sa, &sb, &active);
    EXPECT_NE(sa, CHNL_STATE_CONNECTED);
    EXPECT_EQ(active, AC_CHANNEL_UNKNOWN);
}

TEST_F(UnreachableTest, RequestsForUnknownServersOrObjectsAreNotQueued) {
    DeadPort a("127.0.0.1"), b("127.0.0.2");
    const TempDir dir("u");
    Stack st(dir, {{"CMIED", a.port, b.port}});
    ASSERT_TRUE(st.ok);
    AI_OBJ_ID ids[1] = {st.id(kTmp)};
    AC_READ_REQ_INFO r{ids, 1, done_plain};
    EXPECT_EQ(ac_read_obj_value(1, &r, 1, nullptr), 1);
    EXPECT_EQ(ac_read_obj_value(-1, &r, 1, nullptr), 1);
    ids[0] = 1 << 30;
    EXPECT_EQ(ac_read_obj_value(0, &r, 1, nullptr), 1);
    AC_READ_REQ_INFO empty{ids, 0, done_plain};
    EXPECT_EQ(ac_read_obj_value(0, &empty, 1, nullptr), 1);
    EXPECT_EQ(ac_set_srvm_chnlKeepCon(5, 1, AC_CHANNEL_A), 1);
    EXPECT_EQ(ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_UNKNOWN), 1);
}

}  // namespace
