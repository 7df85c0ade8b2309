// Association, browsing, read and write against iedsim over loopback TCP.
#include "fixture.h"

namespace zv::iedsim::test {
namespace {

using mms::Data;
using TK = mms::TypeDescription::Kind;

class Services : public ::testing::Test {
protected:
    SimServer sim;
    TestClient client;
    void SetUp() override { ASSERT_TRUE(client.associate(sim.host(), sim.port())); }
};

struct PduSizeRow {
    const char* name;
    int32_t proposed;
    int32_t expected;
};
class Negotiation : public ::testing::TestWithParam<PduSizeRow> {};

TEST_P(Negotiation, InitiateResponseOffersTheSmallerPduSize) {
    SimServer sim;
    TestClient client(GetParam().proposed);
    ASSERT_TRUE(client.associate(sim.host(1), sim.port(1)));
    ASSERT_TRUE(client.initiateResponse().localDetail);
    EXPECT_EQ(*client.initiateResponse().localDetail, GetParam().expected);
    EXPECT_TRUE(client.initiateResponse().servicesSupported.test(mms::svc::kObtainFile));
    EXPECT_TRUE(client.initiateResponse().servicesSupported.test(mms::svc::kFileDirectory));
    EXPECT_TRUE(client.initiateResponse().parameterCbb.test(mms::cbb::kVlis));
}
INSTANTIATE_TEST_SUITE_P(Rows, Negotiation,
                         ::testing::Values(PduSizeRow{"ClientSmaller", 1000, 1000},
                                           PduSizeRow{"ServerSmaller", 1000000, 65000},
                                           PduSizeRow{"Equal", 65000, 65000}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(Services, GetNameListListsTheLogicalDeviceAsDomain) {
    auto p = client.call(mms::GetNameListRequest{mms::kDomain, mms::ObjectName::Scope::Vmd, {}, {}});
    auto* r = responseOf<mms::GetNameListResponse>(p);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->identifiers, std::vector<std::string>{"CMIEDMON"});
    EXPECT_FALSE(r->moreFollows);
}

TEST_F(Services, GetNameListOfVariablesIsSortedAndHoldsControlBlockAttributes) {
    auto p = client.call(mms::GetNameListRequest{mms::kNamedVariable, mms::ObjectName::Scope::Domain, "CMIEDMON", {}});
    auto* r = responseOf<mms::GetNameListResponse>(p);
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->moreFollows);
    EXPECT_TRUE(std::is_sorted(r->identifiers.begin(), r->identifiers.end()));
    auto has = [&](const char* n) {
        return std::find(r->identifiers.begin(), r->identifiers.end(), n) != r->identifiers.end();
    };
    EXPECT_TRUE(has("LLN0"));
    EXPECT_TRUE(has("LLN0$BR$brcbTemp01$EntryID"));
    EXPECT_TRUE(has("LLN0$RP$urcbAlarm04$Resv"));
    EXPECT_TRUE(has("STMP1$MX$Tmp$mag$f"));
    EXPECT_FALSE(has("LLN0$dsTemp"));  // data sets are named variable lists
}

TEST(ServicesSmallPdu, ContinueAfterWalksTheWholeVariableListInPieces) {
    SimServer sim;
    TestClient big, small(700);
    ASSERT_TRUE(big.associate(sim.host(), sim.port()));
    ASSERT_TRUE(small.associate(sim.host(), sim.port()));
    auto whole = big.call(mms::GetNameListRequest{mms::kNamedVariable, mms::ObjectName::Scope::Domain, "CMIEDMON", {}});
    ASSERT_NE(responseOf<mms::GetNameListResponse>(whole), nullptr);
    std::vector<std::string> pieces;
    std::optional<std::string> after;
    int calls = 0;
    for (; calls < 1000; ++calls) {
        auto p = small.call(
            mms::GetNameListRequest{mms::kNamedVariable, mms::ObjectName::Scope::Domain, "CMIEDMON", after});
        auto* r = responseOf<mms::GetNameListResponse>(p);
        ASSERT_NE(r, nullptr);
        ASSERT_FALSE(r->identifiers.empty());
        pieces.insert(pieces.end(), r->identifiers.begin(), r->identifiers.end());
        if (!r->moreFollows) break;
        after = r->identifiers.back();
    }
    EXPECT_GT(calls, 3);
    EXPECT_EQ(pieces, responseOf<mms::GetNameListResponse>(whole)->identifiers);
}

TEST_F(Services, GetNameListOfVariableListsNamesEveryDataSet) {
    auto p = client.call(
        mms::GetNameListRequest{mms::kNamedVariableList, mms::ObjectName::Scope::Domain, "CMIEDMON", {}});
    auto* r = responseOf<mms::GetNameListResponse>(p);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->identifiers, (std::vector<std::string>{"LLN0$dsAlarm", "LLN0$dsArr", "LLN0$dsIns", "LLN0$dsMet",
                                                        "LLN0$dsPD", "LLN0$dsSF6", "LLN0$dsShth", "LLN0$dsTemp"}));
}

TEST_F(Services, GetNameListOfAnUnknownDomainIsObjectUndefined) {
    auto p = client.call(mms::GetNameListRequest{mms::kNamedVariable, mms::ObjectName::Scope::Domain, "NOPE", {}});
    auto* e = errorOf(p);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->error.errorClass, mms::kDefinition);
    EXPECT_EQ(e->error.code, 1);
}

TEST_F(Services, VariableAccessAttributesDescribeAMeasuredValue) {
    auto p = client.call(mms::GetVariableAccessAttributesRequest{dom("STMP1$MX$Tmp")});
    auto* r = responseOf<mms::GetVariableAccessAttributesResponse>(p);
    ASSERT_NE(r, nullptr);
    const mms::TypeDescription& t = r->type;
    ASSERT_EQ(t.kind, TK::Structure);
    ASSERT_EQ(t.components.size(), 3u);
    EXPECT_EQ(t.components[0].name, "mag");
    ASSERT_EQ(t.components[0].type.components.size(), 1u);
    EXPECT_EQ(t.components[0].type.components[0].type, mms::TypeDescription::floating(32, 8));
    EXPECT_EQ(t.components[1].name, "q");
    EXPECT_EQ(t.components[1].type, mms::TypeDescription::simple(TK::BitString, 13));
    EXPECT_EQ(t.components[2].type, mms::TypeDescription::simple(TK::UtcTime));
}

TEST_F(Services, VariableAccessAttributesOfABufferedBlockFollowIec61850_8_1) {
    auto p = client.call(mms::GetVariableAccessAttributesRequest{dom("LLN0$BR$brcbTemp01")});
    auto* r = responseOf<mms::GetVariableAccessAttributesResponse>(p);
    ASSERT_NE(r, nullptr);
    std::vector<std::string> names;
    for (auto& c : r->type.components) names.push_back(c.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"RptID", "RptEna", "DatSet", "ConfRev", "OptFlds", "BufTm", "SqNum", "TrgOps",
                                        "IntgPd", "GI", "PurgeBuf", "EntryID", "TimeofEntry", "ResvTms", "Owner"}));
    EXPECT_EQ(r->type.components[11].type, mms::TypeDescription::simple(TK::OctetString, 8));
    EXPECT_EQ(r->type.components[0].type, mms::TypeDescription::simple(TK::VisibleString, -129));
}

TEST_F(Services, VariableAccessAttributesOfAnUnknownNameIsObjectUndefined) {
    for (const mms::ObjectName& n : {dom("STMP9$MX$Tmp"), dom("LLN0$dsTemp"), mms::ObjectName::vmd("STMP1")}) {
        auto* e = errorOf(client.call(mms::GetVariableAccessAttributesRequest{n}));
        ASSERT_NE(e, nullptr) << n.item;
        EXPECT_EQ(e->error.errorClass, mms::kDefinition);
    }
}

struct ReadRow {
    const char* name;
    std::string item;
    Data::Kind kind;
    size_t items;  // components, for structures
};
class ReadRows : public Services, public ::testing::WithParamInterface<ReadRow> {};

TEST_P(ReadRows, ReadAnswersWithTheModelsShape) {
    auto p = client.call(readOf({GetParam().item}));
    auto* r = responseOf<mms::ReadResponse>(p);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->results.size(), 1u);
    ASSERT_TRUE(r->results[0].success);
    EXPECT_EQ(r->results[0].data.kind(), GetParam().kind);
    if (GetParam().kind == Data::Kind::Structure) {
        EXPECT_EQ(r->results[0].data.items().size(), GetParam().items);
    }
}
INSTANTIATE_TEST_SUITE_P(Rows, ReadRows,
                         ::testing::Values(ReadRow{"FloatAttribute", "ZSAR1$MX$LeakA$mag$f", Data::Kind::Float32, 0},
                                           ReadRow{"Quality", "ZSAR1$MX$LeakA$q", Data::Kind::BitString, 0},
                                           ReadRow{"MeasuredValue", "ZSAR1$MX$LeakA", Data::Kind::Structure, 3},
                                           ReadRow{"Counter", "ZSAR1$ST$StrkCnt$stVal", Data::Kind::Integer, 0},
                                           ReadRow{"Enumeration", "LLN0$ST$Health$stVal", Data::Kind::Integer, 0},
                                           ReadRow{"UnicodeText", "STMP3$DC$Tmp$dU", Data::Kind::MmsString, 0},
                                           ReadRow{"UnbufferedBlock", "LLN0$RP$urcbAlarm01", Data::Kind::Structure, 12},
                                           ReadRow{"BufferedBlock", "LLN0$BR$brcbSF602", Data::Kind::Structure, 15},
                                           ReadRow{"FcGroup", "SIMG1$MX", Data::Kind::Structure, 3}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(Services, ReadGivesConfiguredValuesAndControlBlockSettings) {
    auto p = client.call(readOf({"ZSAR1$MX$LeakA$mag$f", "ZSAR1$ST$StrkCnt$stVal", "LLN0$BR$brcbTemp01$RptID",
                                 "LLN0$BR$brcbTemp01$DatSet", "LLN0$BR$brcbTemp01$IntgPd", "LLN0$DC$NamPlt$vendor"}));
    auto* r = responseOf<mms::ReadResponse>(p);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->results.size(), 6u);
    EXPECT_FLOAT_EQ(r->results[0].data.asFloat32(), 0.35f);
    EXPECT_EQ(r->results[1].data.asInt(), 3);
    EXPECT_EQ(r->results[2].data.asString(), "CMIED_Temp");
    EXPECT_EQ(r->results[3].data.asString(), "CMIEDMON/LLN0$dsTemp");
    EXPECT_EQ(r->results[4].data.asUnsigned(), 60000u);
    EXPECT_EQ(r->results[5].data.asString(), "tarnmon");
}

TEST_F(Services, ReadOfUnknownVariablesFailsEachWithObjectNonExistent) {
    auto p = client.call(readOf({"STMP1$MX$Nope", "ZSAR1$MX$LeakA$mag$f", "LLN0$dsTemp"}));
    auto* r = responseOf<mms::ReadResponse>(p);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->results.size(), 3u);
    EXPECT_FALSE(r->results[0].success);
    EXPECT_EQ(r->results[0].failure, mms::kObjectNonExistent);
    EXPECT_TRUE(r->results[1].success);
    EXPECT_EQ(r->results[2].failure, mms::kObjectNonExistent);
}

TEST_F(Services, ReadWithAlternateAccessSelectsAComponent) {
    mms::AlternateAccessItem inner;
    inner.selector = mms::AlternateAccessItem::Selector::Component;
    inner.component = "f";
    mms::AlternateAccessItem outer;
    outer.selector = mms::AlternateAccessItem::Selector::Component;
    outer.component = "mag";
    outer.selectAlternate = true;
    outer.nested = {inner};
    mms::ReadRequest req{false, mms::VariableAccess::list({mms::VariableRef{dom("ZSAR1$MX$LeakA"), {outer}}})};
    auto* r = responseOf<mms::ReadResponse>(client.call(req));
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(r->results[0].success);
    EXPECT_FLOAT_EQ(r->results[0].data.asFloat32(), 0.35f);
    outer.component = "nope";
    req.access = mms::VariableAccess::list({mms::VariableRef{dom("ZSAR1$MX$LeakA"), {outer}}});
    r = responseOf<mms::ReadResponse>(client.call(req));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->results[0].failure, mms::kObjectNonExistent);
}

TEST_F(Services, ReadOfADataSetAnswersEveryMember) {
    mms::ReadRequest req{true, mms::VariableAccess::named(dom("LLN0$dsIns"))};
    auto* r = responseOf<mms::ReadResponse>(client.call(req));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->results.size(), 5u);
    EXPECT_EQ(r->results[0].data.kind(), Data::Kind::Float32);    // DieLoss$mag$f
    EXPECT_EQ(r->results[1].data.kind(), Data::Kind::BitString);  // DieLoss$q
    EXPECT_EQ(r->results[3].data.kind(), Data::Kind::Structure);  // CapVal
    ASSERT_TRUE(r->access);
    EXPECT_TRUE(r->access->isListName);
    auto* e = errorOf(client.call(mms::ReadRequest{false, mms::VariableAccess::named(dom("LLN0$dsNope"))}));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->error.errorClass, mms::kDefinition);
}

TEST_F(Services, NamedVariableListAttributesNameEveryMember) {
    auto* r = responseOf<mms::GetNamedVariableListAttributesResponse>(
        client.call(mms::GetNamedVariableListAttributesRequest{dom("LLN0$dsIns")}));
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->mmsDeletable);
    ASSERT_EQ(r->variables.size(), 5u);
    EXPECT_EQ(r->variables[0].name, dom("InsGGIO1$MX$DieLoss$mag$f"));
    EXPECT_EQ(r->variables[4].name, dom("InsGGIO1$MX$LeakA"));
}

struct WriteRow {
    const char* name;
    std::string item;
    Data value;
    std::string expected;  // "ok" or the DataAccessError
};
class WriteRows : public Services, public ::testing::WithParamInterface<WriteRow> {};

TEST_P(WriteRows, WriteFollowsAccessAndTypeRules) {
    EXPECT_EQ(writeResults(client.call(writeOf({{GetParam().item, GetParam().value}}))), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Rows, WriteRows,
    ::testing::Values(WriteRow{"DeadbandSetting", "STMP1$CF$Tmp$db", Data::unsignedInt(500), "ok"},
                      WriteRow{"DescriptionText", "STMP1$DC$Tmp$d", Data::visibleString("oil"), "ok"},
                      WriteRow{"MeasuredValueIsTheDevices", "STMP1$MX$Tmp$mag$f", Data::float32(1.0f), "3"},
                      WriteRow{"StatusIsTheDevices", "ZSAR1$ST$StrkCnt$stVal", Data::integer(9), "3"},
                      WriteRow{"WrongType", "STMP1$CF$Tmp$db", Data::boolean(true), "7"},
                      WriteRow{"OutOfRange", "STMP1$CF$Tmp$db", Data::integer(-1), "11"},
                      WriteRow{"TextTooLong", "STMP1$DC$Tmp$d", Data::visibleString(std::string(256, 'x')), "11"},
                      // Stored, the NUL would cut the text short when it is read back.
                      WriteRow{"UnicodeTextWithNul", "STMP1$DC$Tmp$dU", Data::mmsString(std::string("oil\0x", 5)),
                               "11"},
                      WriteRow{"UnknownVariable", "STMP1$CF$Nope", Data::integer(1), "10"},
                      WriteRow{"ReadOnlyBlockAttribute", "LLN0$BR$brcbTemp01$ConfRev", Data::unsignedInt(5), "3"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(Services, AWrittenSettingReadsBack) {
    ASSERT_EQ(writeResults(client.call(writeOf({{"STMP1$CF$Tmp$db", Data::unsignedInt(250)}}))), "ok");
    auto* r = responseOf<mms::ReadResponse>(client.call(readOf({"STMP1$CF$Tmp$db"})));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->results[0].data.asUnsigned(), 250u);
}

TEST_F(Services, IdentifyNamesTheSimulator) {
    auto* r = responseOf<mms::IdentifyResponse>(client.call(mms::IdentifyRequest{}));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->vendor, "tarnmon");
    EXPECT_NE(r->model.find("CMIED"), std::string::npos);
}

TEST_F(Services, AnUnsupportedServiceIsRejectedWithItsInvokeId) {
    // DefineNamedVariableList [11] is not offered.
    mms::OtherService other{11, {0xab, 0x00}};
    auto p = client.call(other);
    ASSERT_TRUE(p);
    auto* rj = std::get_if<mms::RejectPdu>(&*p);
    ASSERT_NE(rj, nullptr);
    EXPECT_EQ(rj->reasonKind, 1);  // confirmed-requestPDU
    EXPECT_EQ(rj->code, 1);        // unrecognized-service
}

TEST_F(Services, ARequestThatDoesNotDecodeIsRejectedAsInvalidArgument) {
    // confirmed-RequestPDU invoke 77, read [4] with a truncated body.
    const std::vector<uint8_t> bad = {0xa0, 0x07, 0x02, 0x01, 0x4d, 0xa4, 0x02, 0xa1, 0x05};
    auto p = client.callRaw(bad, 77);
    ASSERT_TRUE(p);
    auto* rj = std::get_if<mms::RejectPdu>(&*p);
    ASSERT_NE(rj, nullptr);
    EXPECT_EQ(rj->invokeId, 77u);
    EXPECT_EQ(rj->reasonKind, 1);
    EXPECT_EQ(rj->code, 4);
    // The association carries on.
    EXPECT_NE(responseOf<mms::IdentifyResponse>(client.call(mms::IdentifyRequest{})), nullptr);
}

TEST_F(Services, ConcludeThenReleaseEndsTheAssociation) {
    EXPECT_TRUE(client.conclude());
    EXPECT_TRUE(client.release());
}

TEST(ServicesBay, TheBayDeviceServesBothLogicalDevices) {
    SimServer sim([](Config&) {}, "BAYIED");
    TestClient client;
    ASSERT_TRUE(client.associate(sim.host(), sim.port()));
    auto* r = responseOf<mms::GetNameListResponse>(
        client.call(mms::GetNameListRequest{mms::kDomain, mms::ObjectName::Scope::Vmd, {}, {}}));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->identifiers, (std::vector<std::string>{"BAYIEDCTRL", "BAYIEDMEAS"}));
    auto* rd = responseOf<mms::ReadResponse>(client.call(readOf({"XCBR1$ST$Pos$stVal"}, "BAYIEDCTRL")));
    ASSERT_NE(rd, nullptr);
    ASSERT_TRUE(rd->results[0].success);
    EXPECT_EQ(rd->results[0].data.asBits().toText(), "01");  // off
}

}  // namespace
}  // namespace zv::iedsim::test
