// Controls through the stack against iedsim serving BAYIED of the sample
// station: each control model, the select it needs, the refusals with their
// AddCause, command terminations and their absence.
#include "sim.h"

#include <sys/stat.h>

#include <cstring>

using namespace zvt;

namespace {

// IEC 61850-7-2 AddCause values the rows expect.
constexpr int kNotSupported = 1, kInvalidPosition = 4, kBlockedByMode = 8, kObjectNotSelected = 18,
              kInconsistentParameters = 26;

struct CtlOutcome {
    std::mutex m;
    std::vector<std::pair<int, int>> done;  // (result, AddCause or -1)
    std::vector<int> ops;
    static CtlOutcome &get() {
        static CtlOutcome o;
        return o;
    }
    static void on_done(AC_REQ_CTRL *c) {
        std::lock_guard<std::mutex> l(get().m);
        get().done.emplace_back(c->result, c->u.ctrlCtrl.result);
        get().ops.push_back(int(c->op));
    }
    size_t size() {
        std::lock_guard<std::mutex> l(m);
        return done.size();
    }
};

// The value of a request: ctlVal in the member of its type, the origin, ctlNum.
AC_CTRL_VALUE value_of(const std::function<void(AC_CTRL_VALUE &)> &set, uint8_t ctl_num) {
    AC_CTRL_VALUE v;
    std::memset(&v, 0, sizeof v);
    set(v);
    v.origin.orCat = 2;  // station-control
    v.origin.orIdent.len_1 = 7;
    std::memcpy(v.origin.orIdent.data_1, "tarnmon", 7);
    v.ctlNum = ctl_num;
    return v;
}

class Controls : public OneDevice, public ::testing::Test {
protected:
    void SetUp() override {
        make_dir("ctl");
        connect_device("BAYIED", {"--ctl-exec-ms", "20"});
    }

    // One control request, waited for: (result, AddCause or -1); (-1, -1)
    // when it could not be queued, (-2, -2) when no completion came.
    std::pair<int, int> control(const std::string &co, const AC_CTRL_VALUE &v, bool select, int timeout = 15) {
        {
            std::lock_guard<std::mutex> l(CtlOutcome::get().m);
            CtlOutcome::get().done.clear();
        }
        AC_CTRL_REQ_INFO r;
        r.ctrl_obj = stack->id(co);
        r.ctrl_val = v;
        r.u_ctrl_done = CtlOutcome::on_done;
        if ((select ? ac_select_with_val(0, &r, timeout, nullptr) : ac_operate(0, &r, timeout, nullptr)) != 0)
            return {-1, -1};
        if (!eventually([] { return CtlOutcome::get().size() == 1; }, (timeout + 10) * 1000)) return {-2, -2};
        std::lock_guard<std::mutex> l(CtlOutcome::get().m);
        return CtlOutcome::get().done[0];
    }
    // Select of sbo-with-normal-security: a read of SBO; the device's answer.
    std::string select(const std::string &co) {
        if (read_and_wait(stack->id(co + "$SBO")) != 0) return "<read failed>";
        return stack->value(co + "$SBO");
    }
    std::string device(const std::string &ref) { return sim->ask("get " + ref); }
    std::string ctl(const std::string &co) { return sim->ask("ctl " + co); }
};

// ---- each control model ------------------------------------------------------------------

enum class Select { None, Sbo, SboWithValue };

struct ModelRow {
    const char *name;
    const char *co;      // the controllable object
    const char *status;  // what an operation changes, and its value afterwards
    std::function<void(AC_CTRL_VALUE &)> set;
    const char *after;
    Select select;
};
void PrintTo(const ModelRow &r, std::ostream *os) { *os << r.name; }

class ControlModels : public Controls, public ::testing::WithParamInterface<ModelRow> {};

TEST_P(ControlModels, OperateChangesTheStatusOnlyWithTheSelectTheModelNeeds) {
    const ModelRow &row = GetParam();
    const std::string before = device(row.status);
    if (row.select != Select::None) {
        EXPECT_EQ(control(row.co, value_of(row.set, 1), false), std::make_pair(1, kObjectNotSelected))
            << "operate without a select";
        EXPECT_EQ(device(row.status), before);
    }
    if (row.select == Select::Sbo) {
        EXPECT_EQ(select(row.co), row.co);
    }
    if (row.select == Select::SboWithValue) {
        ASSERT_EQ(control(row.co, value_of(row.set, 2), true), std::make_pair(0, 0));
    }
    EXPECT_EQ(control(row.co, value_of(row.set, 2), false), std::make_pair(0, 0));
    EXPECT_TRUE(eventually([&] { return device(row.status) == std::string("OK ") + row.after; })) << device(row.status);
    if (row.select != Select::None) {
        EXPECT_NE(ctl(row.co).find("selected=-1"), std::string::npos) << "the operation ends the selection";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sample, ControlModels,
    ::testing::Values(ModelRow{"DirectNormalSpc", "BAYIEDCTRL/GGIO1$CO$SPCSO1", "BAYIEDCTRL/GGIO1$ST$SPCSO1$stVal",
                               [](AC_CTRL_VALUE &v) { v.val.bVal = 1; }, "true", Select::None},
                      ModelRow{"SboNormalInc", "BAYIEDCTRL/GGIO1$CO$ISCSO1", "BAYIEDCTRL/GGIO1$ST$ISCSO1$stVal",
                               [](AC_CTRL_VALUE &v) { v.val.iVal32 = -7; }, "-7", Select::Sbo},
                      ModelRow{"DirectEnhancedApc", "BAYIEDCTRL/GGIO1$CO$AnOut1", "BAYIEDCTRL/GGIO1$MX$AnOut1$mxVal$f",
                               [](AC_CTRL_VALUE &v) { v.val.setMag.fVal = 12.5f; }, "12.5", Select::None},
                      ModelRow{"SboEnhancedDpc", "BAYIEDCTRL/CSWI1$CO$Pos", "BAYIEDCTRL/CSWI1$ST$Pos$stVal",
                               [](AC_CTRL_VALUE &v) { v.val.bVal = 1; }, "10", Select::SboWithValue},
                      ModelRow{"SboEnhancedDpcOpen", "BAYIEDCTRL/CSWI1$CO$Pos", "BAYIEDCTRL/CSWI1$ST$Pos$stVal",
                               [](AC_CTRL_VALUE &v) { v.val.bVal = 0; }, "01", Select::SboWithValue}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Controls, StatusOnlyObjectIsNeverOperated) {
    const std::string before = device("BAYIEDCTRL/XCBR1$ST$Pos$stVal");
    auto v = value_of([](AC_CTRL_VALUE &x) { x.val.bVal = 1; }, 1);
    EXPECT_EQ(control("BAYIEDCTRL/XCBR1$CO$Pos", v, false), std::make_pair(1, -1)) << "refused by the stack itself";
    EXPECT_EQ(control("BAYIEDCTRL/XCBR1$CO$Pos", v, true), std::make_pair(1, -1));
    EXPECT_NE(ctl("BAYIEDCTRL/XCBR1$CO$Pos").find("operated=0 refused=0"), std::string::npos) << "nothing was sent";
    EXPECT_EQ(device("BAYIEDCTRL/XCBR1$ST$Pos$stVal"), before);
    // The model the device holds counts, not the SCL's: made direct there, it operates.
    ASSERT_EQ(sim->ask("set BAYIEDCTRL/XCBR1$CF$Pos$ctlModel direct-with-normal-security"), "OK");
    EXPECT_EQ(control("BAYIEDCTRL/XCBR1$CO$Pos", v, false), std::make_pair(0, 0));
    EXPECT_TRUE(eventually([&] { return device("BAYIEDCTRL/XCBR1$ST$Pos$stVal") == "OK 10"; }));
}

TEST_F(Controls, ObjectsWithoutOperOrSbowAreRefusedAtTheCall) {
    AC_CTRL_REQ_INFO r{};
    r.u_ctrl_done = CtlOutcome::on_done;
    r.ctrl_obj = stack->id("BAYIEDCTRL/GGIO1$CO$SPCSO1");
    EXPECT_NE(ac_select_with_val(0, &r, 5, nullptr), 0) << "an SPC without SBOw";
    r.ctrl_obj = stack->id("BAYIEDCTRL/GGIO1$ST$SPCSO1");
    EXPECT_NE(ac_operate(0, &r, 5, nullptr), 0) << "not the CO object";
    r.ctrl_obj = stack->id("BAYIEDCTRL/LLN0$CO");
    EXPECT_NE(ac_operate(0, &r, 5, nullptr), 0);
    r.ctrl_obj = -1;
    EXPECT_NE(ac_operate(0, &r, 5, nullptr), 0);
    EXPECT_NE(ac_operate(0, nullptr, 5, nullptr), 0);
}

// ---- refusals --------------------------------------------------------------------------

TEST_F(Controls, OperWithAnotherCtlNumThanItsSelectIsInconsistent) {
    const std::string co = "BAYIEDCTRL/CSWI1$CO$Pos";
    auto on = [](AC_CTRL_VALUE &v) { v.val.bVal = 1; };
    ASSERT_EQ(control(co, value_of(on, 5), true), std::make_pair(0, 0));
    EXPECT_EQ(control(co, value_of(on, 6), false), std::make_pair(1, kInconsistentParameters));
    EXPECT_EQ(device("BAYIEDCTRL/CSWI1$ST$Pos$stVal"), "OK 00") << "unchanged";
    EXPECT_EQ(control(co, value_of(on, 5), false), std::make_pair(0, 0)) << "the selection still stands";
}

TEST_F(Controls, SelectionTimesOutAndTheOperIsThenNotSelected) {
    const std::string co = "BAYIEDCTRL/CSWI1$CO$Pos";
    ASSERT_EQ(sim->ask("set BAYIEDCTRL/CSWI1$CF$Pos$sboTimeout 300"), "OK");
    auto on = [](AC_CTRL_VALUE &v) { v.val.bVal = 1; };
    ASSERT_EQ(control(co, value_of(on, 9), true), std::make_pair(0, 0));
    ASSERT_TRUE(eventually([&] { return ctl(co).find("selected=-1") != std::string::npos; }));
    EXPECT_EQ(control(co, value_of(on, 9), false), std::make_pair(1, kObjectNotSelected));
}

TEST_F(Controls, BlockedModeRefusesWithBlockedByMode) {
    ASSERT_EQ(sim->ask("set BAYIEDCTRL/GGIO1$ST$Beh$stVal blocked"), "OK");
    auto on = [](AC_CTRL_VALUE &v) { v.val.bVal = 1; };
    EXPECT_EQ(control("BAYIEDCTRL/GGIO1$CO$SPCSO1", value_of(on, 1), false), std::make_pair(1, kBlockedByMode));
    EXPECT_EQ(device("BAYIEDCTRL/GGIO1$ST$SPCSO1$stVal"), "OK false");
    EXPECT_EQ(select("BAYIEDCTRL/GGIO1$CO$ISCSO1"), "") << "a blocked object is not selected either";
    ASSERT_EQ(sim->ask("set BAYIEDCTRL/GGIO1$ST$Beh$stVal on"), "OK");
    EXPECT_EQ(control("BAYIEDCTRL/GGIO1$CO$SPCSO1", value_of(on, 2), false), std::make_pair(0, 0));
}

TEST_F(Controls, NegativeCommandTerminationIsAFailureWithItsAddCause) {
    const std::string co = "BAYIEDCTRL/CSWI1$CO$Pos";
    ASSERT_EQ(sim->ask("ctlnext " + co + " Invalid-position"), "OK");
    auto on = [](AC_CTRL_VALUE &v) { v.val.bVal = 1; };
    ASSERT_EQ(control(co, value_of(on, 3), true), std::make_pair(0, 0));
    EXPECT_EQ(control(co, value_of(on, 3), false), std::make_pair(1, kInvalidPosition));
    EXPECT_EQ(device("BAYIEDCTRL/CSWI1$ST$Pos$stVal"), "OK 00");
}

TEST_F(Controls, EnhancedOperateWithoutTerminationTimesOutAsAFailure) {
    const std::string co = "BAYIEDCTRL/GGIO1$CO$AnOut1";
    ASSERT_EQ(sim->ask("ctlnext " + co + " silent"), "OK");
    const int64_t t0 = now_ms();
    EXPECT_EQ(control(co, value_of([](AC_CTRL_VALUE &v) { v.val.setMag.fVal = 3.0f; }, 4), false, 2),
              std::make_pair(1, -1));
    EXPECT_GE(now_ms() - t0, 1900) << "the completion waited for the termination";
    // The channel stays up: the device answered the write itself.
    EXPECT_EQ(read_and_wait(stack->id("BAYIEDCTRL/GGIO1$MX$AnOut1")), 0);
}

TEST_F(Controls, NormalSecurityRefusalCarriesTheDevicesCause) {
    const std::string co = "BAYIEDCTRL/GGIO1$CO$SPCSO1";
    ASSERT_EQ(sim->ask("ctlnext " + co + " 1"), "OK");
    EXPECT_EQ(control(co, value_of([](AC_CTRL_VALUE &v) { v.val.bVal = 1; }, 1), false),
              std::make_pair(1, kNotSupported));
}

// Cancel is a write of Cancel: it ends a selection, and a time activated
// operation before its time.
TEST_F(Controls, CancelEndsTheSelectionAndATimeActivatedOperation) {
    const std::string co = "BAYIEDCTRL/GGIO1$CO$ISCSO1";
    auto cancel = [&](int32_t val, uint8_t num) {
        AI_OBJ_VAL v{};
        const AI_OBJ_ID id = stack->id(co + "$Cancel");
        EXPECT_EQ(ai_read_obj_primVals(id, stack->model(), &v), 0);
        for (int k = 0; k < v.prim_num; ++k) {
            char name[AI_OBJ_NAME_LEN] = {};
            ai_obj_id_to_name(stack->model(), v.prim_ids[k], name);
            if (std::strcmp(name, "ctlVal") == 0) std::memcpy(v.prim_vals[k].data, &val, 4);
            if (std::strcmp(name, "ctlNum") == 0) std::memcpy(v.prim_vals[k].data, &num, 1);
        }
        Done::get().clear();
        AC_WRITE_REQ_INFO w{&v, 1, done_plain};
        EXPECT_EQ(ac_write_obj_value(0, &w, 15, nullptr), 0);
        ai_cleanup_objVals(&v);
        EXPECT_TRUE(eventually([] { return Done::get().size() == 1; }));
        return Done::get().results[0].second;
    };
    ASSERT_EQ(select(co), co);
    EXPECT_EQ(cancel(4, 1), 0);
    EXPECT_NE(ctl(co).find("selected=-1"), std::string::npos);
    auto four = [](AC_CTRL_VALUE &v) { v.val.iVal32 = 4; };
    EXPECT_EQ(control(co, value_of(four, 1), false), std::make_pair(1, kObjectNotSelected));
    EXPECT_EQ(cancel(4, 1), 1) << "nothing left to cancel";

    // operTm a minute ahead: taken now, executed then, unless cancelled.
    ASSERT_EQ(select(co), co);
    AC_CTRL_VALUE v = value_of(four, 2);
    get_system_curtime(&v.operTm);
    v.operTm.secs += 60;
    EXPECT_EQ(control(co, v, false), std::make_pair(0, 0));
    EXPECT_NE(ctl(co).find("pending=1"), std::string::npos);
    EXPECT_EQ(cancel(4, 2), 0);
    EXPECT_NE(ctl(co).find("pending=0"), std::string::npos);
    EXPECT_EQ(device("BAYIEDCTRL/GGIO1$ST$ISCSO1$stVal"), "OK 3") << "never executed";
}

TEST_F(Controls, TimeActivatedOperationExecutesAtOperTm) {
    const std::string co = "BAYIEDCTRL/GGIO1$CO$ISCSO1";
    ASSERT_EQ(select(co), co);
    AC_CTRL_VALUE v = value_of([](AC_CTRL_VALUE &x) { x.val.iVal32 = 11; }, 1);
    get_system_curtime(&v.operTm);
    v.operTm.secs += 3;
    EXPECT_EQ(control(co, v, false), std::make_pair(0, 0));
    EXPECT_EQ(device("BAYIEDCTRL/GGIO1$ST$ISCSO1$stVal"), "OK 3") << "not before its time";
    EXPECT_TRUE(eventually([&] { return device("BAYIEDCTRL/GGIO1$ST$ISCSO1$stVal") == "OK 11"; }, 10000));
    TimeStamp_TDEF now;
    get_system_curtime(&now);
    EXPECT_GE(now.secs, v.operTm.secs);
}

}  // namespace
