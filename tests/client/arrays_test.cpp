// The client stack on a model with array elements (tests/model/features.scd)
// against iedsim serving the same file: an element is read as its array with
// alternate access, data set members and reports that name elements fill
// the element objects.
#include "sim.h"

using namespace zvt;

namespace {

const char *kHarm2 = "F1LD0/MHAI1$MX$Harm$phsAHar(2)$cVal$mag$f";
const char *kHarm1 = "F1LD0/MHAI1$MX$Harm$phsAHar(1)";

class ClientArrayElements : public ::testing::Test {
protected:
    void SetUp() override {
        dir = TempDir("arr");
        const std::string files = dir.sub("files");
        sim = std::make_unique<Sim>("F1", 0, 0, files, std::vector<std::string>{"--scl", ZV_FEATURES_SCD});
        stack = std::make_unique<Stack>(dir, std::vector<Stack::Srv>{{"F1", sim->port_a, sim->port_b}}, ZV_FEATURES_SCD);
        ASSERT_TRUE(stack->ok);
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") >= 1; }));
    }
    void TearDown() override {
        stack.reset();
        sim.reset();
    }
    TempDir dir;
    std::unique_ptr<Sim> sim;
    std::unique_ptr<Stack> stack;
};

// Reads: an element by alternate access, a data set of elements; then a
// report whose changed member is an element goes into that element.
TEST_F(ClientArrayElements, ReadsAndReportsFillTheElementObjects) {
    ASSERT_EQ(sim->ask(std::string("set ") + kHarm2 + " 33.5"), "OK");
    ASSERT_EQ(sim->ask("set F1LD0/MHAI1$SP$Arr$vals(3) 11"), "OK");
    EXPECT_EQ(read_and_wait(stack->id(kHarm2)), 0);
    EXPECT_EQ(stack->value(kHarm2), "33.5");
    EXPECT_EQ(read_and_wait(stack->id("F1LD0/LLN0$dsHarm")), 0);
    EXPECT_EQ(stack->value("F1LD0/MHAI1$SP$Arr$vals(3)"), "11");
    EXPECT_EQ(stack->value("F1LD0/MHAI1$SP$Arr$vals(2)"), "7") << "only the member's element";

    Done::get().clear();
    AC_ENAREPORT_INFO e{stack->id("F1LD0/LLN0$RP$urcbHarm"), 0x30, 0x44, 0, 1, done_plain};   // dataSet, reasonCode; dchg, GI
    ASSERT_EQ(ac_rpt_enable(0, &e, 30, nullptr), 0);
    ASSERT_TRUE(eventually([] { return Done::get().size() == 1; }));
    ASSERT_EQ(Done::get().results[0].second, 0);
    ASSERT_TRUE(eventually([] { return Events::get().report_count() >= 1; })) << "GI report";
    ASSERT_EQ(sim->ask(std::string("set ") + kHarm2 + " 61.5"), "OK");
    ASSERT_TRUE(eventually([] { return Events::get().report_count() >= 2; }));
    EXPECT_EQ(stack->value(kHarm2), "61.5");
    std::lock_guard<std::mutex> l(Events::get().m);
    EXPECT_EQ(Events::get().reports.front().ids.at(0), stack->id(kHarm1));
    const auto &last = Events::get().reports.back();
    ASSERT_EQ(last.ids.size(), 1u);
    EXPECT_EQ(last.ids[0], stack->id(kHarm2));
    EXPECT_EQ(last.values[0], "61.5");
}

}  // namespace
