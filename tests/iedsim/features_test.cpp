// iedsim serving the SCL features of tests/model/features.scd: setting group
// views (SG read only beside SE), sampled value control blocks by edition,
// arrays of data objects and attributes (by alternate access, as data set
// members and in reports).
#include "fixture.h"

namespace zv::iedsim::test {
namespace {

using mms::Data;
using TK = mms::TypeDescription::Kind;
using Sel = mms::AlternateAccessItem::Selector;

const char* const kLd = "F1LD0";

class Features : public ::testing::Test {
protected:
    SimServer sim{[](Config& c) {
        c.scl = ZV_FEATURES_SCD;
        c.ied = "F1";
    }};
    TestClient client;
    void SetUp() override {
        ASSERT_TRUE(sim.server);
        ASSERT_TRUE(client.associate(sim.host(), sim.port()));
    }
    const mms::ReadResponse* read(std::vector<mms::VariableRef> vars) {
        return responseOf<mms::ReadResponse>(
            client.call(mms::ReadRequest{false, mms::VariableAccess::list(std::move(vars))}));
    }
    mms::VariableRef var(const std::string& item, mms::AlternateAccess aa = {}) {
        return {dom(item, kLd), std::move(aa)};
    }
};

mms::AlternateAccessItem index(uint32_t i, std::vector<std::string> below = {}) {
    mms::AlternateAccessItem top;
    top.selector = Sel::Index;
    top.index = i;
    mms::AlternateAccessItem* level = &top;
    for (const std::string& c : below) {
        mms::AlternateAccessItem n;
        n.selector = Sel::Component;
        n.component = c;
        level->selectAlternate = true;
        level->nested.push_back(n);
        level = &level->nested.back();
    }
    return top;
}

TEST_F(Features, NamesAndTypesOfSettingGroupsSampledValueBlocksAndArrays) {
    auto* r = responseOf<mms::GetNameListResponse>(
        client.call(mms::GetNameListRequest{mms::kNamedVariable, mms::ObjectName::Scope::Domain, kLd, {}}));
    ASSERT_NE(r, nullptr);
    auto has = [&](const char* n) {
        return std::find(r->identifiers.begin(), r->identifiers.end(), n) != r->identifiers.end();
    };
    for (const char* n : {"MHAI1$SG$Set$setMag$f", "MHAI1$SE$Set$setMag$f", "LLN0$MS$msv$SmpRate", "LLN0$US$usv$Resv",
                          "MHAI1$MX$Harm$phsAHar", "MHAI1$CF$Dst$addr$APPID"})
        EXPECT_TRUE(has(n)) << n;
    for (const std::string& n : r->identifiers) EXPECT_EQ(n.find('('), std::string::npos) << n;

    auto attr = [&](const char* item) {
        auto* a = responseOf<mms::GetVariableAccessAttributesResponse>(
            client.call(mms::GetVariableAccessAttributesRequest{dom(item, kLd)}));
        return a ? a->type : mms::TypeDescription::simple(TK::ObjId);
    };
    const mms::TypeDescription msv = attr("LLN0$MS$msv");
    std::vector<std::string> names;
    for (auto& c : msv.components) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"SvEna", "MsvID", "DatSet", "ConfRev", "SmpRate", "OptFlds", "SmpMod",
                                               "DstAddress", "noASDU"}));
    EXPECT_EQ(attr("LLN0$MS$msv$OptFlds"), mms::TypeDescription::simple(TK::BitString, 5));
    EXPECT_EQ(attr("MHAI1$SG$Set$setMag$f"), mms::TypeDescription::floating(32, 8));
    const mms::TypeDescription harm = attr("MHAI1$MX$Harm$phsAHar");
    EXPECT_EQ(harm.kind, TK::Array);
    EXPECT_EQ(harm.elementCount, 3u);
    // An element has no name of its own.
    EXPECT_NE(errorOf(client.call(mms::GetVariableAccessAttributesRequest{dom("MHAI1$MX$Harm$phsAHar(1)", kLd)})),
              nullptr);
}

TEST_F(Features, SampledValueBlocksAndSettingGroupsWithTheirSclValuesSgReadOnly) {
    EXPECT_EQ(writeResults(client.call(writeOf({{"MHAI1$SG$Set$setMag$f", Data::float32(3.0f)},
                                                {"MHAI1$SE$Set$setMag$f", Data::float32(3.0f)}},
                                               kLd))),
              std::to_string(mms::kObjectAccessDenied) + ",ok");
    auto* r = read(
        {var("LLN0$MS$msv"), var("LLN0$US$usv$UsvID"), var("MHAI1$SG$Set$setMag$f"), var("MHAI1$SE$Set$setMag$f")});
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->results.size(), 4u);
    for (auto& a : r->results) ASSERT_TRUE(a.success);
    const std::vector<Data>& msv = r->results[0].data.items();
    ASSERT_EQ(msv.size(), 9u);
    EXPECT_EQ(msv[1].asString(), "SV01");
    EXPECT_EQ(msv[2].asString(), "F1LD0/LLN0$dsHarm");
    EXPECT_EQ(msv[4].asUnsigned(), 80u);
    EXPECT_EQ(msv[5].asBits(), mms::BitString::fromText("10101"));
    EXPECT_EQ(msv[6].asInt(), 1);
    EXPECT_EQ(msv[8].asUnsigned(), 2u);
    EXPECT_EQ(r->results[1].data.asString(), "SV02");
    EXPECT_FLOAT_EQ(r->results[2].data.asFloat32(), 2.5f);
    EXPECT_FLOAT_EQ(r->results[3].data.asFloat32(), 3.0f);
}

// Elements by alternate access (not by a name with an index), and as data
// set members: the list names the array with the index.
TEST_F(Features, ArrayElementsReadByAlternateAccessAndAsDataSetMembers) {
    auto* r = read({var("MHAI1$MX$Harm$phsAHar", {index(2, {"cVal", "mag", "f"})}),
                    var("MHAI1$SP$Arr$vals", {index(1)}), var("MHAI1$SP$Arr$vals(1)")});
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->results.size(), 3u);
    ASSERT_TRUE(r->results[0].success && r->results[1].success);
    EXPECT_FLOAT_EQ(r->results[0].data.asFloat32(), 42.25f);
    EXPECT_EQ(r->results[1].data.asInt(), -9);
    EXPECT_EQ(r->results[2].failure, mms::kObjectNonExistent);
    auto* a = responseOf<mms::GetNamedVariableListAttributesResponse>(
        client.call(mms::GetNamedVariableListAttributesRequest{dom("LLN0$dsHarm", kLd)}));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->variables,
              (std::vector<mms::VariableRef>{var("MHAI1$MX$Harm$phsAHar", {index(1)}),
                                             var("MHAI1$MX$Harm$phsAHar", {index(2, {"cVal", "mag", "f"})}),
                                             var("MHAI1$SP$Arr$vals", {index(3)}), var("MHAI1$SG$Set$setMag$f")}));
    r = responseOf<mms::ReadResponse>(
        client.call(mms::ReadRequest{false, mms::VariableAccess::named(dom("LLN0$dsHarm", kLd))}));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->results.size(), 4u);
    for (auto& x : r->results) ASSERT_TRUE(x.success);
    ASSERT_EQ(r->results[0].data.items().size(), 3u);  // cVal, q, t of element 1
    EXPECT_FLOAT_EQ(r->results[1].data.asFloat32(), 42.25f);
    EXPECT_EQ(r->results[2].data.asInt(), 7);
}

TEST_F(Features, ReportOfADataSetCarriesTheChangedArrayElement) {
    ASSERT_EQ(writeResults(client.call(writeOf({{"LLN0$RP$urcbHarm$RptEna", Data::boolean(true)}}, kLd))), "ok");
    ASSERT_EQ(sim.ask("set F1LD0/MHAI1$MX$Harm$phsAHar(2)$cVal$mag$f 61.5"), "OK");
    auto rep = client.waitReport();
    ASSERT_TRUE(rep);
    // RptID, OptFlds, DatSet, inclusion, then the one value that changed.
    ASSERT_EQ(rep->results.size(), 5u);
    EXPECT_EQ(rep->results[0].data.asString(), "harm");
    EXPECT_EQ(rep->results[2].data.asString(), "F1LD0/LLN0$dsHarm");
    EXPECT_EQ(rep->results[3].data.asBits(), mms::BitString::fromText("0100"));
    EXPECT_FLOAT_EQ(rep->results[4].data.asFloat32(), 61.5f);
    // A change in another element of the same array is a change of member 1.
    ASSERT_EQ(sim.ask("set F1LD0/MHAI1$MX$Harm$phsAHar(1)$cVal$mag$f 7.25"), "OK");
    rep = client.waitReport();
    ASSERT_TRUE(rep);
    ASSERT_EQ(rep->results.size(), 5u);
    EXPECT_EQ(rep->results[3].data.asBits(), mms::BitString::fromText("1000"));
    EXPECT_FLOAT_EQ(rep->results[4].data.items()[0].items()[0].items()[0].asFloat32(), 7.25f);
}

}  // namespace
}  // namespace zv::iedsim::test
