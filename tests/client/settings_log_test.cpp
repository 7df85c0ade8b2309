// Setting groups and logs through the stack against iedsim serving BAYIED:
// the SGCB's switch, edit and confirm seen in the values read back, and log
// queries that return exactly the changes the device logged, across several
// ReadJournal answers.
#include "sim.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

using namespace zvt;

namespace {

class Device : public OneDevice, public ::testing::Test {
protected:
    void start(std::vector<std::string> extra = {}) {
        make_dir("sglog");
        connect_device("BAYIED", std::move(extra));
    }
    // Writes one primitive attribute from its text form; the completion's result.
    int write(const std::string &ref, const std::string &text) {
        AI_OBJ_VAL v{};
        if (ai_read_obj_primVals(stack->id(ref), stack->model(), &v) != 0 || v.prim_num != 1) return -1;
        const bool converted = ai_prim_str_to_value(v.prim_vals[0].type, text.c_str(), v.prim_vals[0].data) == 0;
        Done::get().clear();
        AC_WRITE_REQ_INFO w{&v, 1, done_plain};
        const int queued = converted ? ac_write_obj_value(0, &w, 15, nullptr) : -1;
        ai_cleanup_objVals(&v);
        if (queued != 0) return -1;
        if (!eventually([] { return Done::get().size() == 1; })) return -2;
        return Done::get().results[0].second;
    }
    // Reads an object from the device; its first primitive's text.
    std::string read(const std::string &ref) {
        if (read_and_wait(stack->id(ref)) != 0) return "<read failed>";
        return stack->value(ref);
    }
};

// ---- setting groups --------------------------------------------------------------------

const std::string kSgcb = "BAYIEDCTRL/LLN0$SP$SGCB";
const std::string kStrValSg = "BAYIEDCTRL/PTOC1$SG$StrVal$setMag$f", kStrValSe = "BAYIEDCTRL/PTOC1$SE$StrVal$setMag$f";
const std::string kDelaySg = "BAYIEDCTRL/PTOC1$SG$OpDlTmms$setVal", kDelaySe = "BAYIEDCTRL/PTOC1$SE$OpDlTmms$setVal";

double number(const std::string &text) { return std::strtod(text.c_str(), nullptr); }

class SettingGroups : public Device {
protected:
    void SetUp() override { start(); }
};

TEST_F(SettingGroups, SwitchEditAndConfirmAreSeenInTheValuesReadBack) {
    ASSERT_EQ(read_and_wait(stack->id(kSgcb)), 0);
    EXPECT_EQ(stack->value(kSgcb + "$NumOfSG"), "4");
    EXPECT_EQ(stack->value(kSgcb + "$ActSG"), "1");
    EXPECT_EQ(stack->value(kSgcb + "$EditSG"), "0");
    ASSERT_EQ(read_and_wait(stack->id("BAYIEDCTRL/PTOC1$SG")), 0);
    EXPECT_NEAR(number(stack->value(kStrValSg)), 1.2, 1e-6);
    EXPECT_EQ(stack->value(kDelaySg), "300");

    // SelectActiveSG: the active values are group 3's.
    ASSERT_EQ(write(kSgcb + "$ActSG", "3"), 0);
    ASSERT_EQ(read_and_wait(stack->id("BAYIEDCTRL/PTOC1$SG")), 0);
    EXPECT_NEAR(number(stack->value(kStrValSg)), 3.6, 1e-5);
    EXPECT_EQ(stack->value(kDelaySg), "900");
    ASSERT_EQ(read_and_wait(stack->id(kSgcb)), 0);
    EXPECT_EQ(stack->value(kSgcb + "$ActSG"), "3");
    EXPECT_NE(stack->value(kSgcb + "$LActTm").rfind("1970", 0), 0u) << stack->value(kSgcb + "$LActTm");

    // SelectEditSG, SetEditSGValue, ConfirmEditSGValues on group 2.
    ASSERT_EQ(write(kSgcb + "$EditSG", "2"), 0);
    EXPECT_EQ(read(kDelaySe), "600");
    ASSERT_EQ(write(kDelaySe, "650"), 0);
    ASSERT_EQ(write(kStrValSe, "2.75"), 0);
    EXPECT_EQ(read(kDelaySg), "900") << "an edit is not active";
    ASSERT_EQ(write(kSgcb + "$CnfEdit", "true"), 0);
    EXPECT_EQ(read(kDelaySg), "900") << "group 2 is not the active one";
    ASSERT_EQ(write(kSgcb + "$ActSG", "2"), 0);
    EXPECT_EQ(read(kDelaySg), "650");
    EXPECT_EQ(read(kStrValSg), "2.75");

    // Confirming the active group changes the active values at once.
    ASSERT_EQ(write(kDelaySe, "700"), 0);
    ASSERT_EQ(write(kSgcb + "$CnfEdit", "true"), 0);
    EXPECT_EQ(read(kDelaySg), "700");
    ASSERT_EQ(write(kSgcb + "$EditSG", "0"), 0);
    EXPECT_EQ(sim->ask("get " + kSgcb + "$EditSG"), "OK 0");
}

struct Refusal {
    const char *name;
    const char *edit_group;  // written to EditSG first, or null
    std::string ref;
    const char *text;
};
void PrintTo(const Refusal &r, std::ostream *os) { *os << r.name; }

class SettingRefusals : public SettingGroups, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SettingRefusals, AreFailuresAndChangeNothing) {
    if (GetParam().edit_group) {
        ASSERT_EQ(write(kSgcb + "$EditSG", GetParam().edit_group), 0);
    }
    EXPECT_EQ(write(GetParam().ref, GetParam().text), 1);
    EXPECT_EQ(sim->ask("get " + kSgcb + "$ActSG"), "OK 1");
    EXPECT_EQ(sim->ask("get " + kDelaySg), "OK 300");
}

INSTANTIATE_TEST_SUITE_P(Sgcb, SettingRefusals,
                         ::testing::Values(Refusal{"EditValueWithoutEditGroup", nullptr, kDelaySe, "5"},
                                           Refusal{"ActiveValue", nullptr, kDelaySg, "5"},
                                           Refusal{"ActiveValueWhileEditing", "1", kDelaySg, "5"},
                                           Refusal{"EditGroupBeyondNumOfSG", nullptr, kSgcb + "$EditSG", "5"},
                                           Refusal{"ActiveGroupZero", nullptr, kSgcb + "$ActSG", "0"},
                                           Refusal{"ActiveGroupBeyondNumOfSG", nullptr, kSgcb + "$ActSG", "9"},
                                           Refusal{"ConfirmWithoutEditGroup", nullptr, kSgcb + "$CnfEdit", "true"},
                                           Refusal{"NumOfSGIsTheDevices", nullptr, kSgcb + "$NumOfSG", "6"}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- logs ------------------------------------------------------------------------------

const std::string kLcb = "BAYIEDCTRL/LLN0$LG$lcbStatus";
const std::string kPos = "BAYIEDCTRL/XCBR1$ST$Pos";

struct Row {
    std::string entry;  // EntryID, hex
    EntryTime_TDEF time{};
    AI_OBJ_ID obj = -1;
    std::string value;  // the stVal among the primitives
    std::string reason;
    int result = -1;
};
struct LogRows {
    std::mutex m;
    int result = -9;
    int calls = 0;
    std::vector<Row> rows;
    static LogRows &get() {
        static LogRows r;
        return r;
    }
    static void on_done(AC_REQ_CTRL *c) {
        std::lock_guard<std::mutex> l(get().m);
        ++get().calls;
        get().result = c->result;
        get().rows.clear();
        const AC_QLOG_CTRL &q = c->u.qlogCtrl;
        for (int i = 0; i < q.entry_num; ++i) {
            const AC_QLOGENTRY_CTRL &e = q.entry_info[i];
            Row r;
            char hex[AI_VALUE_TEXT_LEN] = {};
            ai_prim_value_to_str(VAL_TYPE_ENTRYID, const_cast<ST_UCHAR *>(e.EntryID), hex);
            r.entry = hex;
            r.time = e.TimeOfEntry;
            r.obj = e.obj_ref;
            r.result = e.result;
            AI_IED_CTRL *m = ac_get_srvm_ied(c->srv_id);
            for (int k = 0; e.obj_num > 0 && k < e.obj_vals[0].prim_num; ++k) {
                char name[AI_OBJ_NAME_LEN] = {};
                ai_obj_id_to_name(m, e.obj_vals[0].prim_ids[k], name);
                if (std::string(name) == "stVal") r.value = prim_text(e.obj_vals[0].prim_vals[k]);
            }
            if (e.obj_num == 2 && e.obj_vals[1].prim_num == 1) r.reason = prim_text(e.obj_vals[1].prim_vals[0]);
            get().rows.push_back(r);
        }
    }
};

class Logs : public Device {
protected:
    void SetUp() override { start({"--journal-page", "2", "--verbose"}); }

    // A query; false when it could not be queued or did not complete.
    bool query(bool after, EntryTime_TDEF from, EntryTime_TDEF to, const std::string &entry = "0000000000000000") {
        {
            std::lock_guard<std::mutex> l(LogRows::get().m);
            LogRows::get().calls = 0;
        }
        AC_QLOG_REQ_INFO q{};
        q.lcb_id = stack->id(kLcb);
        q.start_time = from;
        q.stop_time = to;
        if (ai_prim_str_to_value(VAL_TYPE_ENTRYID, entry.c_str(), q.startEntryID) != 0) return false;
        q.u_qlog_done = LogRows::on_done;
        if ((after ? ac_query_log_after(0, &q, 15, nullptr) : ac_query_log_by_time(0, &q, 15, nullptr)) != 0)
            return false;
        return eventually([] {
            std::lock_guard<std::mutex> l(LogRows::get().m);
            return LogRows::get().calls == 1;
        });
    }
    std::vector<Row> rows() {
        std::lock_guard<std::mutex> l(LogRows::get().m);
        EXPECT_EQ(LogRows::get().result, 0);
        return LogRows::get().rows;
    }
    // Changes of the breaker position, each in a millisecond of its own.
    std::vector<std::string> change(int n) {
        std::vector<std::string> set;
        for (int k = 0; k < n; ++k) {
            const std::string v = k % 2 == 0 ? "10" : "01";
            const int64_t t = wall_ms();
            EXPECT_TRUE(eventually([&] { return wall_ms() > t + 1; }));
            EXPECT_EQ(sim->ask("set " + kPos + "$stVal " + v), "OK");
            set.push_back(v);
        }
        return set;
    }
    static int64_t wall_ms() {
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }
    size_t journal_requests() {
        std::ifstream f(files + "/../BAYIED_sim.log");
        std::stringstream s;
        s << f.rdbuf();
        const std::string t = s.str();
        size_t n = 0;
        for (size_t at = t.find("confirmed-RequestPDU readJournal"); at != std::string::npos;
             at = t.find("confirmed-RequestPDU readJournal", at + 1))
            ++n;
        return n;
    }
};

TEST_F(Logs, QueriesReturnExactlyTheLoggedChangesAcrossSeveralAnswers) {
    ASSERT_EQ(sim->ask("journal BAYIEDCTRL/BayLog"), "OK 0");
    const std::vector<std::string> set = change(7);
    ASSERT_EQ(sim->ask("journal BAYIEDCTRL/BayLog"), "OK 7");

    // Everything: seven entries, in order, over four answers of two.
    const EntryTime_TDEF none{0, 0};
    ASSERT_TRUE(query(false, none, none));
    const std::vector<Row> all = rows();
    ASSERT_EQ(all.size(), set.size());
    EXPECT_EQ(journal_requests(), 4u);
    for (size_t k = 0; k < all.size(); ++k) {
        EXPECT_EQ(all[k].obj, stack->id(kPos)) << k;
        EXPECT_EQ(all[k].value, set[k]) << k;
        EXPECT_EQ(all[k].reason, "010000") << "dchg, entry " << k;
        EXPECT_EQ(all[k].result, 0);
        if (k) {
            EXPECT_LT(all[k - 1].entry, all[k].entry) << "EntryIDs grow";
        }
    }

    // By time: from the second entry's time to the fifth's.
    ASSERT_TRUE(query(false, all[1].time, all[4].time));
    std::vector<Row> window = rows();
    ASSERT_EQ(window.size(), 4u);
    for (size_t k = 0; k < window.size(); ++k) EXPECT_EQ(window[k].entry, all[k + 1].entry);

    // After the third entry: the four after it.
    ASSERT_TRUE(query(true, all[2].time, none, all[2].entry));
    std::vector<Row> tail = rows();
    ASSERT_EQ(tail.size(), 4u);
    for (size_t k = 0; k < tail.size(); ++k) EXPECT_EQ(tail[k].entry, all[k + 3].entry);

    // After the newest: nothing.
    ASSERT_TRUE(query(true, all.back().time, none, all.back().entry));
    EXPECT_TRUE(rows().empty());

    // The block's status names the oldest and newest entries.
    ASSERT_EQ(read_and_wait(stack->id(kLcb)), 0);
    EXPECT_EQ(stack->value(kLcb + "$OldEntr"), all.front().entry);
    EXPECT_EQ(stack->value(kLcb + "$NewEntr"), all.back().entry);
}

// The log dialog writes the whole block: an enabled log takes no new
// settings, so the stack disables it, writes IntgPd and enables it again.
TEST_F(Logs, WholeBlockWriteOfAnEnabledLogReconfiguresIt) {
    ASSERT_EQ(read_and_wait(stack->id(kLcb)), 0);
    ASSERT_EQ(stack->value(kLcb + "$LogEna"), "true");
    AI_OBJ_VAL v{};
    ASSERT_EQ(ai_read_obj_primVals(stack->id(kLcb), stack->model(), &v), 0);
    int intg = -1;
    for (int32_t k = 0; k < v.prim_num; ++k)
        if (v.prim_ids[k] == stack->id(kLcb + "$IntgPd")) intg = k;
    ASSERT_GE(intg, 0);
    ASSERT_EQ(ai_prim_str_to_value(v.prim_vals[intg].type, "4500", v.prim_vals[intg].data), 0);
    Done::get().clear();
    AC_WRITE_REQ_INFO w{&v, 1, done_plain};
    ASSERT_EQ(ac_write_obj_value(0, &w, 15, nullptr), 0);
    ai_cleanup_objVals(&v);
    ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }));
    EXPECT_EQ(Done::get().results[0].second, 0);
    EXPECT_EQ(read(kLcb + "$IntgPd"), "4500");
    EXPECT_EQ(read(kLcb + "$LogEna"), "true");
}

TEST_F(Logs, DisabledLogRecordsNothingAndItsDataSetCanChange) {
    ASSERT_EQ(write(kLcb + "$DatSet", "BAYIEDCTRL/LLN0$dsGoose"), 1) << "not while the log is enabled";
    ASSERT_EQ(write(kLcb + "$LogEna", "false"), 0);
    change(2);
    EXPECT_EQ(sim->ask("journal BAYIEDCTRL/BayLog"), "OK 0");
    ASSERT_EQ(write(kLcb + "$DatSet", "BAYIEDCTRL/LLN0$dsGoose"), 0);
    ASSERT_EQ(write(kLcb + "$LogEna", "true"), 0);
    change(1);
    ASSERT_EQ(sim->ask("journal BAYIEDCTRL/BayLog"), "OK 1");
    ASSERT_TRUE(query(false, {0, 0}, {0, 0}));
    const std::vector<Row> got = rows();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].obj, stack->id(kPos + "$stVal")) << "dsGoose logs the attribute itself";
}

TEST_F(Logs, QueryOfAnObjectThatIsNoLogControlBlockIsRefusedAtTheCall) {
    AC_QLOG_REQ_INFO q{};
    q.u_qlog_done = LogRows::on_done;
    q.lcb_id = stack->id("BAYIEDCTRL/LLN0$BR$brcbStatus01");
    EXPECT_NE(ac_query_log_by_time(0, &q, 5, nullptr), 0);
    q.lcb_id = stack->id(kLcb + "$LogEna");
    EXPECT_NE(ac_query_log_after(0, &q, 5, nullptr), 0);
    EXPECT_NE(ac_query_log_after(0, nullptr, 5, nullptr), 0);
}

}  // namespace
