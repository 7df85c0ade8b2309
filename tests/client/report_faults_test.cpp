// Reports as devices get them wrong, and buffered entries across resumes:
// iedsim sends one malformed report of a kind (its "malform" command) to a
// block the client enabled; the report is refused with a line in the stack's
// log, nothing of it reaches the model or the application, the channel stays
// up and the next report is taken.
#include "sim.h"

#include <sys/stat.h>

#include <algorithm>

using namespace zvt;

namespace {

const char *kBrcb = "CMIEDMON/LLN0$BR$brcbTemp01";
const char *kUrcb = "CMIEDMON/LLN0$RP$urcbAlarm01";
const char *kTmpMag = "CMIEDMON/STMP1$MX$Tmp$mag$f";    // first member of dsTemp
const char *kTmp2Mag = "CMIEDMON/STMP2$MX$Tmp$mag$f";   // second member
const char *kHealth = "CMIEDMON/LLN0$ST$Health$stVal";  // first member of dsAlarm
const char *kAlarm = "CMIEDMON/STMP1$ST$TmpAlm$stVal";  // second member
// seqNum, timeStamp, reasonCode, dataSet, entryID; confRev
constexpr int kOptFlds = 0x79 | (0x80 << 8);
constexpr int kOptFldsNoDataSet = 0x71 | (0x80 << 8);
constexpr int kTrgOps = 0x4C;      // dchg, integrity, GI
constexpr int kTrgOpsNoGi = 0x48;  // dchg, integrity

int enable(Stack &st, const char *rcb, int opt = kOptFlds, int trg = kTrgOps) {
    Done::get().clear();
    AC_ENAREPORT_INFO e{st.id(rcb), opt, trg, 300000, 1, done_plain};
    if (ac_rpt_enable(0, &e, 30, nullptr) != 0) return -1;
    if (!eventually([] { return Done::get().size() == 1; })) return -2;
    return Done::get().results[0].second;
}

// Every value the callback got for one object, in order.
std::vector<std::string> values_of(AI_OBJ_ID id) {
    std::vector<std::string> out;
    std::lock_guard<std::mutex> l(Events::get().m);
    for (auto &r : Events::get().reports)
        for (size_t k = 0; k < r.ids.size(); ++k)
            if (r.ids[k] == id && r.reasons[k] != RPT_REASON_GI) out.push_back(r.values[k]);
    return out;
}

struct Fault {
    const char *name;
    const char *kind;  // iedsim's malform kind
    const char *block;
    const char *member;  // a value of the block's data set, set to see the next report
    const char *other;   // another value of it
    const char *logged;  // what the stack's log says
    // A PDV that is not one whole ASN.1 value is malformed presentation
    // data: the association ends and is made again (the block resumed).
    bool ends_association = false;
};
void PrintTo(const Fault &f, std::ostream *os) { *os << f.name; }

const Fault kFaults[] = {
    {"ValueOfAnotherType", "wrong-type", kBrcb, kTmpMag, kTmp2Mag, "does not fit it"},
    {"OptFldsNotABitString", "header-type", kBrcb, kTmpMag, kTmp2Mag, "': no OptFlds"},
    {"TruncatedPdu", "truncated", kBrcb, kTmpMag, kTmp2Mag, "channel A lost: ProtocolError: presentation user data",
     true},
    {"PduOverTheNegotiatedSize", "oversized", kBrcb, kTmpMag, kTmp2Mag, "over the negotiated size"},
    {"UnknownRptId", "unknown-rptid", kBrcb, kTmpMag, kTmp2Mag, "is no block this client enabled on channel A"},
    {"InclusionNamesAValueMore", "inclusion", kBrcb, kTmpMag, kTmp2Mag, "inclusion of 3 members wants"},
    {"EntryIdOfAnEarlierEntry", "entryid-back", kBrcb, kTmpMag, kTmp2Mag, "was delivered already"},
    {"UnbufferedValueOfAnotherType", "wrong-type", kUrcb, kAlarm, kHealth, "does not fit it"},
    {"UnbufferedUnknownRptId", "unknown-rptid", kUrcb, kAlarm, kHealth, "is no block this client enabled"},
    {"UnbufferedInclusionNamesAValueMore", "inclusion", kUrcb, kAlarm, kHealth, "inclusion of 4 members wants"},
};

class MalformedReport : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        dir = TempDir("malformed");
        files = dir.sub("files");
        sim = std::make_unique<Sim>("CMIED", 0, 0, files);
        ASSERT_NE(sim->control_port, 0);
        log = std::make_unique<StackLog>(dir + "/stack.log");
        stack = std::make_unique<Stack>(dir, std::vector<Stack::Srv>{{"CMIED", sim->port_a, sim->port_b}});
        ASSERT_TRUE(stack->ok);
    }
    void TearDown() override {
        stack.reset();
        log.reset();
        sim.reset();
    }
    TempDir dir;
    std::string files;
    std::unique_ptr<Sim> sim;
    std::unique_ptr<StackLog> log;
    std::unique_ptr<Stack> stack;
};

TEST_P(MalformedReport, IsRefusedLoggedAndTheNextReportIsTaken) {
    const Fault &f = GetParam();
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));
    ASSERT_EQ(enable(*stack, f.block), 0);
    ASSERT_TRUE(eventually([] { return Events::get().report_count() >= 1; })) << "GI report";
    const bool analogue = f.member == kTmpMag;
    const std::string first = analogue ? "41.5" : "true";
    const size_t gi = Events::get().report_count();
    ASSERT_EQ(sim->ask(std::string("set ") + f.member + " " + first), "OK");
    // The model takes the value before the report's callback runs: both.
    ASSERT_TRUE(eventually([&] { return stack->value(f.member) == first && Events::get().report_count() > gi; }));
    const std::string other = stack->value(f.other);
    const size_t before = Events::get().report_count();

    ASSERT_EQ(sim->ask(std::string("malform ") + f.block + " " + f.kind), "OK");
    // The refusal is logged; only then is the next value set, so that a
    // report taken wrongly would come first.
    ASSERT_TRUE(eventually([&] { return log->text().find(f.logged) != std::string::npos; }))
        << "stack log:\n"
        << log->text() << "\niedsim log:\n"
        << file_text(dir + "/CMIED_sim.log");
    // Which server and which block: the line names both.
    // (A PDU refused whole is refused before it is read as a report.)
    if (!f.ends_association && std::string(f.kind) != "oversized") {
        EXPECT_NE(log->text().find("server 0 (CMIED) report dropped: RptID '"), std::string::npos) << log->text();
    }
    EXPECT_EQ(Events::get().report_count(), before) << "the malformed report reached the application";
    EXPECT_EQ(stack->value(f.member), first) << "the malformed report changed the model";
    EXPECT_EQ(stack->value(f.other), other);
    if (f.ends_association) {
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 2; }));
        ASSERT_EQ(enable(*stack, f.block), 0);
        ASSERT_TRUE(eventually([&] { return Events::get().report_count() > before; })) << "GI report";
    }
    const size_t taken = Events::get().report_count();

    const std::string next = analogue ? "42.75" : "false";
    ASSERT_EQ(sim->ask(std::string("set ") + f.member + " " + next), "OK");
    ASSERT_TRUE(eventually([&] { return Events::get().report_count() == taken + 1; }));
    EXPECT_EQ(stack->value(f.member), next);
    EXPECT_EQ(Events::get().count("down 0 A"), f.ends_association ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MalformedReport, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault> &i) { return std::string(i.param.name); });

// Buffered entries across two reconnections in a row: what the device kept
// while the client was away arrives as soon as RptEna is written (ahead of
// the write's answer) and counts for the next resume like any other entry.
struct Resume {
    const char *name;
    int opt, trg;
};
void PrintTo(const Resume &r, std::ostream *os) { *os << r.name; }

class BufferedResume : public ::testing::TestWithParam<Resume> {};

// Guards against resumed entries being dropped (reports without DatSet
// whose block was not registered yet) or delivered twice (not remembered,
// so the next resume asked for them again).
TEST_P(BufferedResume, EveryEntryArrivesOnceAcrossTwoResumes) {
    const Resume &p = GetParam();
    const TempDir dir("resume");
    const std::string files = dir.sub("files");
    Sim sim("CMIED", 0, 0, files);
    ASSERT_NE(sim.control_port, 0);
    Stack st(dir, {{"CMIED", sim.port_a, sim.port_b}});
    ASSERT_TRUE(st.ok);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));
    ASSERT_EQ(enable(st, kBrcb, p.opt, p.trg), 0);
    const AI_OBJ_ID tmp = st.id("CMIEDMON/STMP1$MX$Tmp");
    int v = 0;
    auto set_next = [&](int n) {
        for (int k = 0; k < n; ++k) ASSERT_EQ(sim.ask(std::string("set ") + kTmpMag + " " + std::to_string(++v)), "OK");
    };
    set_next(3);
    ASSERT_TRUE(eventually([&] { return values_of(tmp).size() == 3; }));
    for (size_t round = 1; round <= 2; ++round) {
        ASSERT_EQ(sim.ask("drop A"), "OK 1");
        ASSERT_TRUE(eventually([&] { return Events::get().count("down 0 A") == round; }));
        set_next(4);  // kept by the device while the client is away
        ASSERT_TRUE(eventually([&] { return Events::get().count("up 0 A") == round + 1; }));
        ASSERT_EQ(enable(st, kBrcb, p.opt, p.trg), 0);
    }
    set_next(1);
    std::vector<std::string> want;
    for (int k = 1; k <= v; ++k) want.push_back(std::to_string(k));
    ASSERT_TRUE(eventually([&] { return values_of(tmp).size() >= want.size(); })) << values_of(tmp).size();
    EXPECT_EQ(values_of(tmp), want);
}

INSTANTIATE_TEST_SUITE_P(Blocks, BufferedResume,
                         ::testing::Values(Resume{"ReportsWithoutDataSet", kOptFldsNoDataSet, kTrgOps},
                                           Resume{"NoGeneralInterrogation", kOptFlds, kTrgOpsNoGi}),
                         [](const ::testing::TestParamInfo<Resume> &i) { return std::string(i.param.name); });

}  // namespace

namespace {

// A buffered entry too large for the negotiated PDU size comes in segments
// (8-1 17.2.3.3) sharing its EntryID: each segment's values are taken once,
// and the entry counts as delivered after its last one, so that a resume
// after it asks for nothing again.
TEST(SegmentedEntry, EverySegmentIsTakenOnceAndTheEntryOnceAcrossAResume) {
    const TempDir dir("segments");
    const std::string files = dir.sub("files");
    Sim sim("CMIED", 0, 0, files, {"--pdu-size", "256"});
    ASSERT_NE(sim.control_port, 0);
    Stack st(dir, {{"CMIED", sim.port_a, sim.port_b}});
    ASSERT_TRUE(st.ok);
    const std::string ins = "CMIEDMON/InsGGIO1$MX$", loss = ins + "DieLoss$mag$f", cap = ins + "CapVal$mag$f";
    ASSERT_EQ(sim.ask("set " + loss + " 11.5"), "OK");
    ASSERT_EQ(sim.ask("set " + cap + " 22.5"), "OK");
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 1; }));
    // With data references the general interrogation's entry of the five
    // members of dsIns does not fit 256 octets.
    const char *brcb = "CMIEDMON/LLN0$BR$brcbIns01";
    constexpr int kWithDataRef = kOptFlds | 0x04;
    ASSERT_EQ(enable(st, brcb, kWithDataRef), 0);
    auto gi_members = [] {
        std::vector<AI_OBJ_ID> ids;
        std::lock_guard<std::mutex> l(Events::get().m);
        for (auto &r : Events::get().reports)
            for (size_t k = 0; k < r.ids.size(); ++k)
                if (r.reasons[k] == RPT_REASON_GI) ids.push_back(r.ids[k]);
        return ids;
    };
    ASSERT_TRUE(eventually([&] { return gi_members().size() >= 5; }));
    EXPECT_GT(Events::get().report_count(), 1u) << "the entry was not segmented";
    std::vector<AI_OBJ_ID> got = gi_members();
    std::sort(got.begin(), got.end());
    std::vector<AI_OBJ_ID> want = {st.id(ins + "DieLoss$mag$f"), st.id(ins + "DieLoss$q"), st.id(ins + "DieLoss$t"),
                                   st.id(ins + "CapVal"), st.id(ins + "LeakA")};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(st.value(loss), "11.5");
    EXPECT_EQ(st.value(cap), "22.5");

    // Away and back: the block resumes after the segmented entry.
    const size_t before = Events::get().report_count();
    ASSERT_EQ(sim.ask("drop A"), "OK 1");
    ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 2; }));
    ASSERT_EQ(enable(st, brcb, kWithDataRef, kTrgOpsNoGi), 0);
    ASSERT_EQ(sim.ask("set " + loss + " 44.5"), "OK");
    ASSERT_TRUE(eventually([&] { return st.value(loss) == "44.5"; }));
    ASSERT_TRUE(eventually([&] { return Events::get().report_count() == before + 1; }))
        << Events::get().report_count() - before << " reports after the resume";
    EXPECT_EQ(gi_members().size(), 5u) << "the segmented entry came again";
}

}  // namespace
