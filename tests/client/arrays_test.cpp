// The client stack on a model with array elements (tests/model/features.scd)
// against iedsim serving the same file: an element is read as its array with
// alternate access, data set members and reports that name elements fill
// the element objects.
#include "sim.h"

using namespace zvt;

namespace {

const char *kHarm2 = "F1LD0/MHAI1$MX$Harm$phsAHar(2)$cVal$mag$f";
const char *kHarm1 = "F1LD0/MHAI1$MX$Harm$phsAHar(1)";

class ClientArrayElements : public OneDevice, public ::testing::Test {
protected:
    void SetUp() override {
        make_dir("arr");
        connect_device("F1", {"--scl", ZV_FEATURES_SCD}, ZV_FEATURES_SCD);
    }
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
    AC_ENAREPORT_INFO e{
        stack->id("F1LD0/LLN0$RP$urcbHarm"), 0x30, 0x44, 0, 1, done_plain};  // dataSet, reasonCode; dchg, GI
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
