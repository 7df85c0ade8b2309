// What a device says about itself, taken apart without a network: names it
// lists, LN types it gives, control block values, the document made of them,
// and the station keys that ask for it. Devices are untrusted: every
// malformed answer is refused or left out with a reason, never taken wrongly.
#include "client/browse.h"
#include "client/callbacks.h"
#include "model/station.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <unistd.h>

namespace {

using zv::client::listed_name_ok;
using TD = zv::mms::TypeDescription;
using TK = TD::Kind;

struct NameRow {
    const char *name;
    std::string text;
    bool ok;
};

class ListedName : public ::testing::TestWithParam<NameRow> {};
TEST_P(ListedName, IsTakenOnlyWhenItIsAnMmsNameWithinTheReferenceLimit) {
    EXPECT_EQ(listed_name_ok(GetParam().text), GetParam().ok);
}
INSTANTIATE_TEST_SUITE_P(
    Rows, ListedName,
    ::testing::Values(NameRow{"Ln", "LLN0", true}, NameRow{"Path", "LLN0$ST$Mod$stVal", true},
                      NameRow{"Empty", "", false}, NameRow{"EmptyPart", "LLN0$$Mod", false},
                      NameRow{"LeadingDollar", "$LLN0", false}, NameRow{"TrailingDollar", "LLN0$", false},
                      NameRow{"Blank", "LL N0", false}, NameRow{"Slash", "LD/LLN0", false},
                      NameRow{"Exactly129", std::string(64, 'A') + "$" + std::string(64, 'B'), true},
                      NameRow{"Over129", std::string(64, 'A') + "$" + std::string(64, 'B') + "C", false},
                      NameRow{"PartOver64", std::string(65, 'A'), false}),
    [](const auto &i) { return std::string(i.param.name); });

TD prim(TK k, int32_t size = 0) { return TD::simple(k, size); }
TD st(std::vector<TD::Component> c) { return TD::structure(std::move(c)); }
TD mv() {
    return st({{"mag", st({{"f", TD::floating(32, 8)}})}, {"q", prim(TK::BitString, 13)}, {"t", prim(TK::UtcTime)}});
}
TD nested(int depth) { return depth == 0 ? prim(TK::Boolean) : st({{"x", nested(depth - 1)}}); }

struct TypeRow {
    const char *name;
    TD mx;                // the data object "D" under MX
    bool kept;            // D is in the LN
    std::string warning;  // part of the warning, empty when none
};

class LnType : public ::testing::TestWithParam<TypeRow> {};
TEST_P(LnType, KeepsWhatSclCanHoldAndSaysWhatItLeavesOut) {
    const TypeRow &row = GetParam();
    zv::model::DevLn ln;
    std::vector<std::string> warnings;
    std::string why;
    ASSERT_TRUE(zv::client::ln_from_type("MMXU1", st({{"MX", st({{"D", row.mx}})}}), ln, warnings, why)) << why;
    EXPECT_EQ(!ln.fcs.empty() && !ln.fcs[0].dos.empty(), row.kept);
    if (row.warning.empty()) {
        EXPECT_TRUE(warnings.empty()) << warnings.front();
    } else {
        ASSERT_FALSE(warnings.empty());
        EXPECT_NE(warnings.front().find(row.warning), std::string::npos) << warnings.front();
    }
}
INSTANTIATE_TEST_SUITE_P(
    Rows, LnType,
    ::testing::Values(
        TypeRow{"MeasuredValue", mv(), true, ""},
        TypeRow{"OddBitString", st({{"q", prim(TK::BitString, 7)}}), false,
                "MMXU1$MX$D$q: bit-string 7 has no SCL basic type"},
        TypeRow{"OddIntegerWidth", st({{"v", prim(TK::Integer, 12)}}), false, "integer 12 has no SCL basic type"},
        TypeRow{"HugeArray", st({{"a", TD::arrayOf(2000, prim(TK::Boolean))}}), false, "array of 2000 elements"},
        TypeRow{"EmptyArray", st({{"a", TD::arrayOf(0, prim(TK::Boolean))}}), false, "array of 0 elements"},
        TypeRow{"ArrayOfArrays", st({{"a", TD::arrayOf(2, TD::arrayOf(2, prim(TK::Boolean)))}}), false,
                "array of arrays"},
        TypeRow{"TooDeep", nested(20), false, "nested deeper than 16"},
        TypeRow{"BadName", st({{"a b", prim(TK::Boolean)}}), false, "is no valid name"},
        TypeRow{"PrimitiveDataObject", prim(TK::Boolean), false, "is no data object"},
        TypeRow{"PartlyUsable", st({{"ok", prim(TK::Boolean)}, {"bad", prim(TK::BitString, 3)}}), true,
                "bad: bit-string 3"}),
    [](const auto &i) { return std::string(i.param.name); });

TEST(LnTypeShape, AnythingButAStructureOfFunctionalConstraintsIsRefused) {
    zv::model::DevLn ln;
    std::vector<std::string> warnings;
    std::string why;
    EXPECT_FALSE(zv::client::ln_from_type("MMXU1", prim(TK::Boolean), ln, warnings, why));
    EXPECT_EQ(why, "the type of MMXU1 is boolean, not a structure of functional constraints");
    EXPECT_TRUE(zv::client::ln_from_type("MMXU1", st({{"ZZ", st({{"D", mv()}})}, {"MX", st({{"D", mv()}})}}), ln,
                                         warnings, why));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "MMXU1$ZZ: no functional constraint of a structure; left out");
    ASSERT_EQ(ln.fcs.size(), 1u);
    EXPECT_EQ(ln.fcs[0].fc, "MX");
}

TEST(ControlBlockValue, OfAnotherShapeThanItsLayoutIsNotTaken) {
    zv::model::DevCb cb;
    cb.layout = {{"RptID", VAL_TYPE_VSTRING65, 65, {}}, {"ConfRev", VAL_TYPE_INT32U, 4, {}}};
    using D = zv::mms::Data;
    EXPECT_FALSE(zv::client::cb_from_data(D::structure({D::visibleString("x")}), cb));
    EXPECT_FALSE(zv::client::cb_from_data(D::visibleString("x"), cb));
    EXPECT_FALSE(cb.has_values);
    // A component of the wrong kind stays unknown rather than taken wrongly.
    EXPECT_TRUE(zv::client::cb_from_data(D::structure({D::visibleString("r"), D::visibleString("7")}), cb));
    EXPECT_EQ(cb.rpt_id, "r");
    EXPECT_EQ(cb.conf_rev, 0u);
}

// Indexed report blocks: the device lists instances; those that make one
// SCL ReportControl (01..nn, one data set, one ConfRev) become one.
struct GroupRow {
    const char *name;
    std::vector<std::pair<std::string, uint32_t>> instances;  // name, ConfRev
    std::vector<std::string> blocks;                          // name/max
};
class IndexedBlocks : public ::testing::TestWithParam<GroupRow> {};
TEST_P(IndexedBlocks, BecomeOneReportControlOnlyWhenTheyNumberFromOneAlike) {
    zv::model::DeviceDesc d;
    d.ied = "IED";
    zv::model::DevLd ld;
    ld.name = "IEDLD0";
    zv::model::DevLn ln;
    ln.name = "LLN0";
    ln.fcs.push_back(
        {"ST", {zv::model::DevNode{"Beh", true, "", 0, {zv::model::DevNode{"stVal", false, "INT8", 0, {}}}}}});
    for (const auto &i : GetParam().instances) {
        zv::model::DevCb cb;
        cb.name = i.first;
        cb.buffered = true;
        cb.conf_rev = i.second;
        cb.has_values = true;
        cb.dat_set = "IEDLD0/LLN0$ds";
        cb.layout = {{"RptID", VAL_TYPE_VSTRING65, 65, {}}};
        ln.cbs.push_back(cb);
    }
    ld.lns.push_back(ln);
    d.lds.push_back(ld);
    zv::scl::Diagnostics diag(true);
    zv::model::CbLayouts layouts;
    auto doc = zv::model::to_document(d, "test", layouts, diag);
    std::vector<std::string> got;
    for (const auto &cb : doc->ieds.at(0).lds.at(0).lns.at(0).cbs)
        got.push_back(cb.name + "/" + (cb.indexed ? std::to_string(cb.max) : "-"));
    EXPECT_EQ(got, GetParam().blocks);
}
INSTANTIATE_TEST_SUITE_P(
    Rows, IndexedBlocks,
    ::testing::Values(
        GroupRow{"FourAlike", {{"brcbA01", 1}, {"brcbA02", 1}, {"brcbA03", 1}, {"brcbA04", 1}}, {"brcbA/4"}},
        GroupRow{"Gap", {{"brcbA01", 1}, {"brcbA02", 1}, {"brcbA04", 1}}, {"brcbA/2", "brcbA04/-"}},
        GroupRow{"OtherConfRev", {{"brcbA01", 1}, {"brcbA02", 3}}, {"brcbA/1", "brcbA02/-"}},
        GroupRow{"NoNumber", {{"brcb", 1}}, {"brcb/-"}},
        GroupRow{"NotFromOne", {{"brcbA02", 1}, {"brcbA03", 1}}, {"brcbA02/-", "brcbA03/-"}}),
    [](const auto &i) { return std::string(i.param.name); });

// A logical device with a functional name (Edition 2 ldName) keeps it; a
// member naming an LD the device does not have stays unresolved in its place.
TEST(DeviceDocument, FunctionalLdNamesStayAndForeignMembersAreUnresolved) {
    zv::model::DeviceDesc d;
    d.ied = "IED";
    zv::model::DevLd other;
    other.name = "XYZLD0";  // a functional name, not IED + inst
    zv::model::DevLd ld;
    ld.name = "IEDLD0";
    zv::model::DevLn ln;
    ln.name = "LLN0";
    ln.fcs.push_back(
        {"ST", {zv::model::DevNode{"Beh", true, "", 0, {zv::model::DevNode{"stVal", false, "INT8", 0, {}}}}}});
    ln.data_sets.push_back({"ds", {"IEDLD0/LLN0$ST$Beh", "OTHERLD0/LLN0$ST$Beh"}});
    ld.lns.push_back(ln);
    d.lds = {other, ld};
    zv::scl::Diagnostics diag(true);
    zv::model::CbLayouts layouts;
    auto doc = zv::model::to_document(d, "device IED", layouts, diag);
    ASSERT_EQ(doc->ieds.at(0).lds.size(), 2u);
    EXPECT_EQ(doc->ieds[0].lds[0].name("IED"), "XYZLD0");
    EXPECT_EQ(doc->ieds[0].lds[0].ld_name, "XYZLD0");
    EXPECT_EQ(doc->ieds[0].lds[1].name("IED"), "IEDLD0");
    EXPECT_EQ(doc->ieds[0].lds[1].ld_name, "");
    EXPECT_TRUE(diag.mentions("member 'OTHERLD0/LLN0$ST$Beh' of data set IEDLD0/LLN0$ds is no reference of this IED"));
    // The member keeps its place, unresolved.
    EXPECT_EQ(doc->ieds[0].lds[1].lns[0].data_sets.at(0).members.size(), 2u);
}

struct StationRow {
    const char *name;
    std::string text;
    bool ok;
    std::string error;
};
class ModelKey : public ::testing::TestWithParam<StationRow> {};
TEST_P(ModelKey, StationFilesWithDeviceModelsNeedNoScl) {
    const std::string path = ::testing::TempDir() + "model_key_" + GetParam().name + "_" + std::to_string(getpid()) +
                             ".ini";
    std::ofstream(path) << GetParam().text;
    zv::model::StationFile sf;
    zv::scl::Diagnostics diag(true);
    bool ok = zv::model::read_station_file(path, sf, diag);
    std::unique_ptr<zv::model::Station> st;
    if (ok) ok = (st = zv::model::Station::load(sf, diag)) != nullptr;
    EXPECT_EQ(ok, GetParam().ok);
    if (!GetParam().error.empty()) {
        EXPECT_TRUE(diag.mentions(GetParam().error)) << GetParam().error;
    }
    if (ok) {
        EXPECT_EQ(st->server(0)->source, zv::model::ModelSource::Device);
        EXPECT_EQ(st->server(0)->model->ctrl()->num_ld, 0);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Rows, ModelKey,
    ::testing::Values(
        StationRow{"AllDevice", "[ied A]\nmodel = device\naddr_a = 127.0.0.1:102\n", true, ""},
        StationRow{"Unknown", "[ied A]\nmodel = guess\naddr_a = 127.0.0.1:102\n", false,
                   "'model' of IED 'A' must be scl, device or check"},
        StationRow{"DeviceWithoutAddress", "[ied A]\nmodel = device\n", false, "IED 'A' (model = device) needs addr_a"},
        StationRow{"CheckNeedsScl", "[ied A]\nmodel = check\naddr_a = 127.0.0.1:102\n", false, "no SCL file named"},
        StationRow{"MixedNeedsScl",
                   "[ied A]\nmodel = device\naddr_a = 127.0.0.1:102\n[ied B]\naddr_a = 127.0.0.1:103\n", false,
                   "no SCL file named"}),
    [](const auto &i) { return std::string(i.param.name); });

}  // namespace
