// A caller that waits for its own requests (ac_wait_completion): the
// completions run before the wait returns, on whichever thread took the
// answer, and the rest of the stack (reports, other callers, time-outs,
// shutdown) goes on as without waiting callers.
#include "sim.h"

#include <map>

using namespace zvt;

namespace {

const char *kTmp = "CMIEDMON/STMP1$MX$Tmp";
const char *kTmpMag = "CMIEDMON/STMP1$MX$Tmp$mag$f";
const char *kBrcb = "CMIEDMON/LLN0$BR$brcbTemp01";

// The objects of completed reads, in completion order.
struct ReadOrder {
    static inline std::mutex m;
    static inline std::vector<AI_OBJ_ID> ids;
    static void done(AC_REQ_CTRL *c) {
        {
            std::lock_guard<std::mutex> l(m);
            ids.push_back(c->result == 0 ? c->u.rdCtrl.obj_ids[0] : -1);
        }
    }
};

// What ac_wait_completion says from inside a completion.
struct WaitFromCallback {
    static inline std::atomic<int> result{-1};
    static void done(AC_REQ_CTRL *) { result = ac_wait_completion(1000); }
};

// Completed reads per object.
struct ByObject {
    static inline std::mutex m;
    static inline std::map<AI_OBJ_ID, int> done_count;
    static inline int failures = 0;
    static void clear() {
        std::lock_guard<std::mutex> l(m);
        done_count.clear();
        failures = 0;
    }
    static void done(AC_REQ_CTRL *c) {
        std::lock_guard<std::mutex> l(m);
        ++done_count[c->u.rdCtrl.obj_ids[0]];
        failures += c->result != 0;
    }
    static int count(AI_OBJ_ID id) {
        std::lock_guard<std::mutex> l(m);
        return done_count[id];
    }
    static int failed() {
        std::lock_guard<std::mutex> l(m);
        return failures;
    }
};

struct ShutDown {
    static inline std::atomic<bool> ran{false};
    static void done(AC_REQ_CTRL *) {
        ai_uninit_envir();
        ran = true;
    }
};

class WaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = temp_dir("w");
        files = dir + "/files";
        ::mkdir(files.c_str(), 0755);
        sim = std::make_unique<Sim>("CMIED", 0, 0, files);
        stack = std::make_unique<Stack>(dir, std::vector<Stack::Srv>{{"CMIED", sim->port_a, sim->port_b}});
        ASSERT_TRUE(stack->ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") >= 1; }));
        Done::get().clear();
    }
    void TearDown() override {
        stack.reset();
        sim.reset();
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    int read(AI_OBJ_ID id, U_AC_REQ_DONE done = done_plain, int timeout_s = 15) {
        ids_[0] = id;
        AC_READ_REQ_INFO r{ids_, 1, done};
        return ac_read_obj_value(0, &r, timeout_s, nullptr);
    }
    std::string dir, files;
    std::unique_ptr<Sim> sim;
    std::unique_ptr<Stack> stack;
    AI_OBJ_ID ids_[1] = {-1};
};

TEST_F(WaitTest, EachReadIsCompleteWhenTheWaitReturns) {
    const AI_OBJ_ID id = stack->id(kTmp);
    size_t on_caller = 0;
    for (int k = 0; k < 200; ++k) {
        if (k % 50 == 0) {
            ASSERT_EQ(sim->ask(std::string("set ") + kTmpMag + " " + std::to_string(k) + ".5"), "OK");
        }
        ASSERT_EQ(read(id), 0);
        ASSERT_EQ(ac_wait_completion(15000), 0) << "read " << k;
        std::lock_guard<std::mutex> l(Done::get().m);
        ASSERT_EQ(Done::get().results.size(), size_t(k + 1)) << "the wait returned before the completion ran";
        EXPECT_EQ(Done::get().results.back().second, 0);
        on_caller += Done::get().threads.back() == std::this_thread::get_id();
    }
    EXPECT_EQ(stack->value(kTmpMag), "150.5");
    // The point of waiting: the caller takes its answers itself.
    EXPECT_GT(on_caller, 0u);
}

TEST_F(WaitTest, ManyRequestsInFlightAreAllCompleteInOrderWhenTheWaitReturns) {
    const std::vector<std::string> refs = {kTmp, "CMIEDMON/SIMG1$MX$Pres", "CMIEDMON/STMP2$MX$Tmp"};
    std::vector<AI_OBJ_ID> order;
    {
        std::lock_guard<std::mutex> l(ReadOrder::m);
        ReadOrder::ids.clear();
    }
    for (int k = 0; k < 60; ++k) {
        const AI_OBJ_ID id = stack->id(refs[size_t(k) % refs.size()]);
        order.push_back(id);
        ASSERT_EQ(read(id, ReadOrder::done), 0);
    }
    ASSERT_EQ(ac_wait_completion(30000), 0);
    std::lock_guard<std::mutex> l(ReadOrder::m);
    EXPECT_EQ(ReadOrder::ids, order);
}

TEST_F(WaitTest, NothingPendingReturnsAtOnceAndACallbackMayNotWait) {
    WaitFromCallback::result = -1;
    EXPECT_EQ(ac_wait_completion(0), 0);
    ASSERT_EQ(read(stack->id(kTmp), WaitFromCallback::done), 0);
    ASSERT_EQ(ac_wait_completion(15000), 0);
    EXPECT_EQ(WaitFromCallback::result.load(), 1) << "a completion waited for itself";
}

TEST_F(WaitTest, SilentDeviceTimesTheWaitOutThenTheRequestFails) {
    sim->freeze(true);
    ASSERT_EQ(read(stack->id(kTmp), done_plain, 1), 0);
    EXPECT_NE(ac_wait_completion(200), 0);
    EXPECT_EQ(Done::get().size(), 0u);
    // The request's own time-out still ends it, with the waiter running the
    // network (the channel is lost and comes back).
    ASSERT_EQ(ac_wait_completion(15000), 0);
    ASSERT_EQ(Done::get().size(), 1u);
    EXPECT_EQ(Done::get().results[0].second, 1);
    sim->freeze(false);
    EXPECT_TRUE(eventually([] { return Events::get().count("up 0 A") >= 2; }));
    ASSERT_EQ(read(stack->id(kTmp)), 0);
    ASSERT_EQ(ac_wait_completion(15000), 0);
    EXPECT_EQ(Done::get().results.back().second, 0);
}

// Reports go on while a caller waits (it may run their callbacks) and after
// it left (the workers take the network back without being woken).
TEST_F(WaitTest, ReportsFlowWhileACallerWaitsAndAfterItLeft) {
    ASSERT_EQ(read(stack->id(kBrcb)), 0);  // warm: the block's values
    ASSERT_EQ(ac_wait_completion(15000), 0);
    AC_ENAREPORT_INFO e{stack->id(kBrcb), 0x79 | (0x80 << 8), 0x4C, 300000, 1, done_plain};
    ASSERT_EQ(ac_rpt_enable(0, &e, 30, nullptr), 0);
    ASSERT_EQ(ac_wait_completion(30000), 0);
    ASSERT_EQ(Done::get().results.back().second, 0);
    ASSERT_TRUE(eventually([] { return Events::get().report_count() >= 1; })) << "GI report";
    for (int k = 0; k < 5; ++k) {
        const size_t before = Events::get().report_count();
        ASSERT_EQ(sim->ask(std::string("set ") + kTmpMag + " 8" + std::to_string(k) + ".25"), "OK");
        if (k % 2 == 0) {  // this caller keeps the network busy meanwhile
            for (int r = 0; r < 20; ++r) {
                ASSERT_EQ(read(stack->id(kTmp)), 0);
                ASSERT_EQ(ac_wait_completion(15000), 0);
            }
        }
        ASSERT_TRUE(eventually([&] { return Events::get().report_count() > before; })) << "change " << k;
        EXPECT_EQ(stack->value(kTmpMag), "8" + std::to_string(k) + ".25");
    }
}

// Two waiting callers and one that does not wait, at once: every request
// completes once, each waiter's before its wait returns.
TEST_F(WaitTest, WaitingAndCallbackCallersTogether) {
    const std::vector<std::string> refs = {kTmp, "CMIEDMON/SIMG1$MX$Pres", "CMIEDMON/STMP2$MX$Tmp"};
    std::vector<AI_OBJ_ID> ids;
    for (auto &r : refs) ids.push_back(stack->id(r));
    ByObject::clear();
    constexpr int kReads = 120;
    std::atomic<int> failures{0};
    auto waiting = [&](AI_OBJ_ID id) {
        AI_OBJ_ID one[1] = {id};
        AC_READ_REQ_INFO r{one, 1, ByObject::done};
        for (int k = 0; k < kReads; ++k) {
            if (ac_read_obj_value(0, &r, 30, nullptr) != 0 || ac_wait_completion(30000) != 0 ||
                ByObject::count(id) != k + 1)
                ++failures;
        }
    };
    std::thread w1(waiting, ids[0]), w2(waiting, ids[1]);
    std::thread plain([&] {
        AI_OBJ_ID one[1] = {ids[2]};
        AC_READ_REQ_INFO r{one, 1, ByObject::done};
        for (int k = 0; k < kReads; ++k)
            if (ac_read_obj_value(0, &r, 30, nullptr) != 0) ++failures;
    });
    w1.join();
    w2.join();
    plain.join();
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(eventually([&] { return ByObject::count(ids[2]) == kReads; }, 30000));
    EXPECT_EQ(ByObject::failed(), 0);
}

TEST_F(WaitTest, CompletionRunOnTheWaiterMayShutTheClientDown) {
    ShutDown::ran = false;
    ASSERT_EQ(read(stack->id(kTmp), ShutDown::done), 0);
    EXPECT_EQ(ac_wait_completion(15000), 0);
    EXPECT_TRUE(ShutDown::ran);
    EXPECT_EQ(ac_wait_completion(0), 0) << "nothing left to wait for";
    EXPECT_NE(read(stack->id(kTmp)), 0) << "no client after shutdown";
    stack.reset();
    stack = std::make_unique<Stack>(dir, std::vector<Stack::Srv>{{"CMIED", sim->port_a, sim->port_b}});
    ASSERT_TRUE(stack->ok);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") >= 1; }));
    ASSERT_EQ(read_and_wait(stack->id(kTmp)), 0);
}

}  // namespace
