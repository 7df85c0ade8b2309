// Report control blocks of iedsim seen from clients: enabling, reservation,
// GI, data and quality changes, integrity, buffered entries with EntryID
// resumption, purge and segmentation.
#include "fixture.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace zv::iedsim::test {
namespace {

using mms::Data;

// One report split into its IEC 61850-8-1 fields.
struct Report {
    std::string rptId;
    mms::BitString opt;
    std::optional<uint64_t> sqNum, confRev, subSeq;
    std::optional<mms::BinaryTime> time;
    std::optional<std::string> datSet;
    std::optional<bool> bufOvfl, more;
    std::optional<std::vector<uint8_t>> entryId;
    mms::BitString inclusion;
    std::vector<Data> values;
    std::vector<mms::BitString> reasons;
};

bool parse(const mms::InformationReport& rep, Report& out) {
    if (!rep.access.isListName || rep.access.listName.item != "RPT") return false;
    size_t i = 0;
    auto next = [&](Data::Kind k) -> const Data* {
        if (i >= rep.results.size() || !rep.results[i].success || rep.results[i].data.kind() != k) return nullptr;
        return &rep.results[i++].data;
    };
    const Data* d;
    if (!(d = next(Data::Kind::VisibleString))) return false;
    out.rptId = d->asString();
    if (!(d = next(Data::Kind::BitString))) return false;
    out.opt = d->asBits();
    if (out.opt.test(1)) {
        if (!(d = next(Data::Kind::Unsigned))) return false;
        out.sqNum = d->asUnsigned();
    }
    if (out.opt.test(2)) {
        if (!(d = next(Data::Kind::BinaryTime))) return false;
        out.time = d->asBinaryTime();
    }
    if (out.opt.test(4)) {
        if (!(d = next(Data::Kind::VisibleString))) return false;
        out.datSet = d->asString();
    }
    if (out.opt.test(6)) {
        if (!(d = next(Data::Kind::Boolean))) return false;
        out.bufOvfl = d->asBool();
    }
    if (out.opt.test(7)) {
        if (!(d = next(Data::Kind::OctetString))) return false;
        out.entryId = d->asOctets();
    }
    if (out.opt.test(8)) {
        if (!(d = next(Data::Kind::Unsigned))) return false;
        out.confRev = d->asUnsigned();
    }
    if (out.opt.test(9)) {
        if (!(d = next(Data::Kind::Unsigned))) return false;
        out.subSeq = d->asUnsigned();
        if (!(d = next(Data::Kind::Boolean))) return false;
        out.more = d->asBool();
    }
    if (!(d = next(Data::Kind::BitString))) return false;
    out.inclusion = d->asBits();
    size_t n = 0;
    for (size_t k = 0; k < out.inclusion.bitCount; ++k) n += out.inclusion.test(k);
    if (out.opt.test(5)) i += n;
    for (size_t k = 0; k < n; ++k) {
        if (i >= rep.results.size()) return false;
        out.values.push_back(rep.results[i++].data);
    }
    if (out.opt.test(3))
        for (size_t k = 0; k < n; ++k) {
            if (!(d = next(Data::Kind::BitString))) return false;
            out.reasons.push_back(d->asBits());
        }
    return i == rep.results.size();
}

std::optional<Report> nextReport(TestClient& c, int timeoutMs = 3000) {
    auto rep = c.waitReport(timeoutMs);
    if (!rep) return std::nullopt;
    Report r;
    if (!parse(*rep, r)) {
        ADD_FAILURE() << "report does not follow IEC 61850-8-1";
        return std::nullopt;
    }
    return r;
}

mms::BitString bits(const char* text) { return mms::BitString::fromText(text); }

class Reports : public ::testing::Test {
protected:
    SimServer sim;
    TestClient a;
    void SetUp() override { ASSERT_TRUE(a.associate(sim.host(), sim.port())); }
    std::string enable(TestClient& c, const std::string& rcb, const char* trgOps = "011111") {
        return writeResults(c.call(
            writeOf({{rcb + "$TrgOps", Data::bitString(bits(trgOps))}, {rcb + "$RptEna", Data::boolean(true)}})));
    }
    std::string gi(TestClient& c, const std::string& rcb) {
        return writeResults(c.call(writeOf({{rcb + "$GI", Data::boolean(true)}})));
    }
};

TEST_F(Reports, GeneralInterrogationReportsEveryMemberWithReasonGi) {
    ASSERT_EQ(enable(a, "LLN0$RP$urcbAlarm01"), "ok,ok");
    ASSERT_EQ(gi(a, "LLN0$RP$urcbAlarm01"), "ok");
    auto r = nextReport(a);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->rptId, "CMIED_Alarm");
    EXPECT_EQ(r->datSet, "CMIEDMON/LLN0$dsAlarm");
    EXPECT_EQ(r->inclusion, bits("1111"));
    ASSERT_EQ(r->reasons.size(), 4u);
    for (auto& why : r->reasons) EXPECT_EQ(why, bits("000001"));
    ASSERT_EQ(r->values.size(), 4u);
    EXPECT_EQ(r->values[0].kind(), Data::Kind::Structure);  // Health: stVal, q, t
    EXPECT_FALSE(r->entryId);                               // unbuffered: no EntryID
    EXPECT_TRUE(r->time);
}

TEST_F(Reports, ADataChangeReportsOnlyThatMemberWithReasonDataChange) {
    ASSERT_EQ(enable(a, "LLN0$RP$urcbAlarm02"), "ok,ok");
    EXPECT_EQ(sim.ask("set CMIEDMON/STMP1$ST$TmpAlm$stVal true"), "OK");
    auto r = nextReport(a);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->inclusion, bits("0100"));
    ASSERT_EQ(r->values.size(), 1u);
    EXPECT_TRUE(r->values[0].items()[0].asBool());
    EXPECT_EQ(r->reasons[0], bits("010000"));
    // Sequence numbers count up report by report.
    EXPECT_EQ(sim.ask("set CMIEDMON/STMP1$ST$TmpAlm$stVal false"), "OK");
    auto r2 = nextReport(a);
    ASSERT_TRUE(r2);
    EXPECT_EQ(*r2->sqNum, *r->sqNum + 1);
}

TEST_F(Reports, AQualityChangeReportsWithReasonQualityChange) {
    ASSERT_EQ(enable(a, "LLN0$RP$urcbAlarm01"), "ok,ok");
    EXPECT_EQ(sim.ask("set CMIEDMON/SIMG1$ST$InsAlm$q 0000000000001"), "OK");
    auto r = nextReport(a);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->inclusion, bits("0010"));
    EXPECT_EQ(r->reasons[0], bits("001000"));
}

TEST_F(Reports, TriggerOptionsFilterWhatIsReported) {
    ASSERT_EQ(enable(a, "LLN0$RP$urcbAlarm01", "001001"), "ok,ok");  // quality change and GI only
    EXPECT_EQ(sim.ask("set CMIEDMON/STMP1$ST$TmpAlm$stVal true"), "OK");
    EXPECT_FALSE(a.waitReport(300));
}

TEST_F(Reports, AReservedUnbufferedBlockBelongsToItsClient) {
    TestClient b;
    ASSERT_TRUE(b.associate(sim.host(1), sim.port(1)));
    ASSERT_EQ(writeResults(a.call(writeOf({{"LLN0$RP$urcbAlarm03$Resv", Data::boolean(true)}}))), "ok");
    EXPECT_EQ(writeResults(b.call(writeOf({{"LLN0$RP$urcbAlarm03$RptEna", Data::boolean(true)}}))), "3");
    EXPECT_EQ(writeResults(b.call(writeOf({{"LLN0$RP$urcbAlarm03$IntgPd", Data::unsignedInt(1000)}}))), "3");
    auto* rd = responseOf<mms::ReadResponse>(b.call(readOf({"LLN0$RP$urcbAlarm03$Resv", "LLN0$RP$urcbAlarm03$Owner"})));
    ASSERT_NE(rd, nullptr);
    EXPECT_TRUE(rd->results[0].data.asBool());
    EXPECT_EQ(rd->results[1].data.asOctets(), (std::vector<uint8_t>{127, 0, 0, 1}));
    // The owner leaves: the block is free again.
    ASSERT_TRUE(a.release());
    TestClient c;
    for (int k = 0;
         k < 50 && writeResults(b.call(writeOf({{"LLN0$RP$urcbAlarm03$RptEna", Data::boolean(true)}}))) != "ok"; ++k)
        b.idle(20);
    EXPECT_EQ(writeResults(b.call(writeOf({{"LLN0$RP$urcbAlarm03$RptEna", Data::boolean(true)}}))), "ok");
}

class EnabledBlock : public Reports, public ::testing::WithParamInterface<std::pair<const char*, Data>> {};

TEST_P(EnabledBlock, AnEnabledBlockRefusesConfigurationWrites) {
    ASSERT_EQ(enable(a, "LLN0$BR$brcbTemp01"), "ok,ok");
    EXPECT_EQ(writeResults(
                  a.call(writeOf({{std::string("LLN0$BR$brcbTemp01$") + GetParam().first, GetParam().second}}))),
              "2");  // temporarily-unavailable
    // Disabled again, the same write is taken.
    ASSERT_EQ(writeResults(a.call(writeOf({{"LLN0$BR$brcbTemp01$RptEna", Data::boolean(false)}}))), "ok");
    EXPECT_EQ(writeResults(
                  a.call(writeOf({{std::string("LLN0$BR$brcbTemp01$") + GetParam().first, GetParam().second}}))),
              "ok");
}
INSTANTIATE_TEST_SUITE_P(
    Attributes, EnabledBlock,
    ::testing::Values(std::make_pair("RptID", Data::visibleString("other")),
                      std::make_pair("DatSet", Data::visibleString("CMIEDMON/LLN0$dsSF6")),
                      std::make_pair("OptFlds", Data::bitString(mms::BitString::fromText("0111100010"))),
                      std::make_pair("BufTm", Data::unsignedInt(10)),
                      std::make_pair("TrgOps", Data::bitString(mms::BitString::fromText("010001"))),
                      std::make_pair("IntgPd", Data::unsignedInt(5000)),
                      std::make_pair("PurgeBuf", Data::boolean(true))),
    [](const auto& i) { return std::string(i.param.first); });

TEST_F(Reports, DatSetMustNameADataSetAndChangingItRaisesConfRev) {
    EXPECT_EQ(writeResults(a.call(writeOf({{"LLN0$BR$brcbPD01$DatSet", Data::visibleString("CMIEDMON/LLN0$dsNope")}}))),
              "11");
    EXPECT_EQ(writeResults(a.call(writeOf({{"LLN0$BR$brcbPD01$DatSet", Data::visibleString("CMIEDMON/LLN0$dsArr")}}))),
              "ok");
    auto* rd = responseOf<mms::ReadResponse>(a.call(readOf({"LLN0$BR$brcbPD01$ConfRev"})));
    ASSERT_NE(rd, nullptr);
    EXPECT_EQ(rd->results[0].data.asUnsigned(), 2u);
}

// A written RptID or DatSet is what a read of the block gives, whatever the
// string width of the edition (VisString129 in edition 2, 65 in edition 1).
struct WidthRow {
    const char* profile;
    const char* attr;
    const char* value;
};
class WrittenStrings : public ::testing::TestWithParam<WidthRow> {};
TEST_P(WrittenStrings, AreReadBack) {
    const WidthRow& w = GetParam();
    SimServer sim([&](Config& c) { ASSERT_TRUE(applyProfile(w.profile, c.device)); });
    TestClient a;
    ASSERT_TRUE(a.associate(sim.host(), sim.port()));
    const std::string ref = std::string("LLN0$BR$brcbPD01$") + w.attr;
    ASSERT_EQ(writeResults(a.call(writeOf({{ref, Data::visibleString(w.value)}}))), "ok");
    auto* rd = responseOf<mms::ReadResponse>(a.call(readOf({ref})));
    ASSERT_NE(rd, nullptr);
    ASSERT_TRUE(rd->results[0].success);
    EXPECT_EQ(rd->results[0].data.asString(), w.value);
}
INSTANTIATE_TEST_SUITE_P(Rows, WrittenStrings,
                         ::testing::Values(WidthRow{"ed2", "RptID", "other"},
                                           WidthRow{"ed2", "DatSet", "CMIEDMON/LLN0$dsArr"},
                                           WidthRow{"ed1", "RptID", "other"},
                                           WidthRow{"ed1", "DatSet", "CMIEDMON/LLN0$dsArr"}),
                         [](const auto& i) { return std::string(i.param.profile) + i.param.attr; });

TEST_F(Reports, IntegrityPeriodSendsEveryMemberPeriodically) {
    ASSERT_EQ(writeResults(a.call(writeOf({{"LLN0$RP$urcbAlarm04$IntgPd", Data::unsignedInt(100)}}))), "ok");
    ASSERT_EQ(enable(a, "LLN0$RP$urcbAlarm04", "010011"), "ok,ok");
    for (int k = 0; k < 2; ++k) {
        auto r = nextReport(a);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->inclusion, bits("1111"));
        EXPECT_EQ(r->reasons[0], bits("000010"));
    }
}

TEST_F(Reports, BufferedReportsCarryEntryIdsAndResumeAfterTheLastOneReceived) {
    const std::string rcb = "LLN0$BR$brcbArr01";
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$BufTm", Data::unsignedInt(0)}}))), "ok");
    ASSERT_EQ(enable(a, rcb), "ok,ok");
    EXPECT_EQ(sim.ask("set CMIEDMON/ZSAR1$ST$StrkCnt$stVal 4"), "OK");
    auto first = nextReport(a);
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->entryId);
    EXPECT_EQ(first->entryId->size(), 8u);
    // The client goes away; changes meanwhile are kept in the buffer.
    a.association().abort();
    a.idle(50);
    for (int v = 5; v <= 7; ++v) {
        EXPECT_EQ(sim.ask("set CMIEDMON/ZSAR1$ST$StrkCnt$stVal " + std::to_string(v)), "OK");
    }
    TestClient b;
    ASSERT_TRUE(b.associate(sim.host(1), sim.port(1)));
    ASSERT_EQ(writeResults(b.call(writeOf({{rcb + "$EntryID", Data::octetString(*first->entryId)}}))), "ok");
    ASSERT_EQ(writeResults(b.call(writeOf({{rcb + "$RptEna", Data::boolean(true)}}))), "ok");
    std::vector<int64_t> counts;
    std::vector<std::vector<uint8_t>> ids{*first->entryId};
    for (int k = 0; k < 3; ++k) {
        auto r = nextReport(b);
        ASSERT_TRUE(r);
        counts.push_back(r->values[0].items()[0].asInt());
        EXPECT_GT(*r->entryId, ids.back());  // entry ids grow
        ids.push_back(*r->entryId);
    }
    EXPECT_EQ(counts, (std::vector<int64_t>{5, 6, 7}));
    EXPECT_FALSE(b.waitReport(200));
    // The block's EntryID names the last entry sent.
    auto* rd = responseOf<mms::ReadResponse>(b.call(readOf({rcb + "$EntryID"})));
    ASSERT_NE(rd, nullptr);
    EXPECT_EQ(rd->results[0].data.asOctets(), ids.back());
}

// The entry log is what a soak counts deliveries against: every entry that
// enters a block's buffer, leaves it for a client, or falls out of it full.
TEST(EntryLog, FollowsEachBufferedEntryIntoTheBufferToTheClientOrOverTheEdge) {
    std::string path;
    SimServer sim([&](Config& c) { c.entryLog = path = c.files + "/entries.log"; });
    TestClient a;
    ASSERT_TRUE(a.associate(sim.host(), sim.port()));
    const std::string rcb = "LLN0$BR$brcbTemp01", ref = "CMIEDMON/" + rcb;
    // The sample block's options with BufOvfl.
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$BufTm", Data::unsignedInt(0)},
                                           {rcb + "$OptFlds", Data::bitString(bits("0111101110"))},
                                           {rcb + "$RptEna", Data::boolean(true)}}))),
              "ok,ok,ok");
    ASSERT_EQ(sim.ask("set CMIEDMON/STMP1$MX$Tmp$mag$f 50"), "OK");
    auto first = nextReport(a);
    ASSERT_TRUE(first && first->entryId);
    char hex[17];
    uint64_t id = 0;
    for (uint8_t b : *first->entryId) id = id << 8 | b;
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(id));
    // Away, then more changes than the buffer holds.
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$RptEna", Data::boolean(false)}}))), "ok");
    ASSERT_EQ(sim.ask("burst CMIEDMON/STMP1$MX$Tmp$mag$f 1005"), "OK 1005");
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$RptEna", Data::boolean(true)}}))), "ok");
    auto resumed = nextReport(a);
    ASSERT_TRUE(resumed && resumed->bufOvfl);
    EXPECT_TRUE(*resumed->bufOvfl);
    for (int k = 1; k < 1000; ++k) ASSERT_TRUE(a.waitReport()) << k;

    std::map<std::string, int> kinds;
    std::ifstream in(path);
    std::string line, stamp, kind, block, entry;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(line.find(" start "), std::string::npos) << line;
    std::string first_sent;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        ASSERT_TRUE(f >> stamp >> kind >> block >> entry) << line;
        EXPECT_EQ(block, ref);
        EXPECT_EQ(entry.size(), 16u);
        ++kinds[kind];
        if (kind == "sent" && first_sent.empty()) first_sent = entry;
    }
    EXPECT_EQ(first_sent, hex);
    EXPECT_EQ(kinds["gen"], 1006);
    EXPECT_EQ(kinds["ovfl"], 6);
    EXPECT_EQ(kinds["sent"], 1001);
}

TEST_F(Reports, AnEntryIdOutsideTheBufferIsRefused) {
    EXPECT_EQ(writeResults(
                  a.call(writeOf({{"LLN0$BR$brcbArr02$EntryID", Data::octetString({1, 2, 3, 4, 5, 6, 7, 8})}}))),
              "11");
}

TEST_F(Reports, PurgeBufDiscardsBufferedEntries) {
    const std::string rcb = "LLN0$BR$brcbArr03";
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$BufTm", Data::unsignedInt(0)}}))), "ok");
    ASSERT_EQ(enable(a, rcb), "ok,ok");
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$RptEna", Data::boolean(false)}}))), "ok");
    EXPECT_EQ(sim.ask("set CMIEDMON/ZSAR1$ST$StrkCnt$stVal 11"), "OK");
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$PurgeBuf", Data::boolean(true)}}))), "ok");
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$RptEna", Data::boolean(true)}}))), "ok");
    EXPECT_FALSE(a.waitReport(300));
}

TEST_F(Reports, BufferTimeGathersChangesIntoOneReport) {
    const std::string rcb = "LLN0$RP$urcbAlarm01";
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$BufTm", Data::unsignedInt(300)}}))), "ok");
    ASSERT_EQ(enable(a, rcb), "ok,ok");
    EXPECT_EQ(sim.ask("set CMIEDMON/STMP1$ST$TmpAlm$stVal true"), "OK");
    EXPECT_EQ(sim.ask("set CMIEDMON/SPDC1$ST$PaDschAlm$stVal true"), "OK");
    auto r = nextReport(a);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->inclusion, bits("0101"));
}

TEST(ReportsSegmented, AReportOverThePduSizeIsSentInSegments) {
    SimServer sim;
    TestClient a(300);
    ASSERT_TRUE(a.associate(sim.host(), sim.port()));
    const std::string rcb = "LLN0$BR$brcbIns01";
    // Data references make the GI report of dsIns longer than 300 octets.
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$OptFlds", Data::bitString(bits("0111111110"))}}))), "ok");
    ASSERT_EQ(writeResults(a.call(writeOf(
                  {{rcb + "$TrgOps", Data::bitString(bits("011111"))}, {rcb + "$RptEna", Data::boolean(true)}}))),
              "ok,ok");
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$GI", Data::boolean(true)}}))), "ok");
    std::vector<Report> parts;
    for (;;) {
        auto r = nextReport(a);
        ASSERT_TRUE(r);
        parts.push_back(*r);
        ASSERT_TRUE(r->subSeq);
        if (!*r->more) break;
        ASSERT_LT(parts.size(), 10u);
    }
    ASSERT_GE(parts.size(), 2u);
    mms::BitString all(5);
    for (size_t k = 0; k < parts.size(); ++k) {
        EXPECT_EQ(*parts[k].subSeq, k);
        EXPECT_EQ(parts[k].sqNum, parts[0].sqNum);  // one report, several segments
        EXPECT_EQ(parts[k].entryId, parts[0].entryId);
        for (size_t b = 0; b < 5; ++b)
            if (parts[k].inclusion.test(b)) {
                EXPECT_FALSE(all.test(b)) << "member " << b << " sent twice";
                all.set(b);
            }
    }
    EXPECT_EQ(all, bits("11111"));
}

TEST_F(Reports, ControlChannelCountsBlockReadsAndEnableAndGiWrites) {
    const std::string rcb = "LLN0$BR$brcbTemp01";
    const std::string ref = "rcb CMIEDMON/" + rcb;
    EXPECT_EQ(sim.ask(ref), "OK ena=0 owner=-1 reads=0 ena-writes=0 gi-writes=0");
    // Whole-block reads count; reads of one attribute, and of another block, do not.
    ASSERT_NE(responseOf<mms::ReadResponse>(a.call(readOf({rcb}))), nullptr);
    ASSERT_NE(responseOf<mms::ReadResponse>(a.call(readOf({rcb, "LLN0$BR$brcbTemp02"}))), nullptr);
    ASSERT_NE(responseOf<mms::ReadResponse>(a.call(readOf({rcb + "$RptEna", rcb + "$OptFlds"}))), nullptr);
    ASSERT_EQ(enable(a, rcb), "ok,ok");
    ASSERT_EQ(gi(a, rcb), "ok");
    const std::string owned = sim.ask(ref);
    EXPECT_EQ(owned.rfind("OK ena=1 owner=", 0), 0u) << owned;
    EXPECT_NE(owned.find(" reads=2 ena-writes=1 gi-writes=1"), std::string::npos) << owned;
    // Refused writes are counted too; writes of false are not.
    TestClient b;
    ASSERT_TRUE(b.associate(sim.host(1), sim.port(1)));
    EXPECT_EQ(writeResults(b.call(writeOf({{rcb + "$RptEna", Data::boolean(true)}}))), "3");
    EXPECT_EQ(writeResults(a.call(writeOf({{rcb + "$GI", Data::boolean(false)}}))), "ok");
    EXPECT_EQ(writeResults(a.call(writeOf({{rcb + "$RptEna", Data::boolean(false)}}))), "ok");
    EXPECT_EQ(sim.ask(ref), "OK ena=0 owner=-1 reads=2 ena-writes=2 gi-writes=1");
    EXPECT_EQ(sim.ask("rcb CMIEDMON/LLN0$BR$brcbTemp02"), "OK ena=0 owner=-1 reads=1 ena-writes=0 gi-writes=0");
    EXPECT_EQ(sim.ask("rcb CMIEDMON/STMP1$MX$Tmp"), "ERR no report control block 'CMIEDMON/STMP1$MX$Tmp'");
    EXPECT_EQ(sim.ask("rcb"), "ERR usage: rcb REF");
}

TEST(ReportsSimulated, SimulatedValuesProduceReports) {
    SimServer sim([](Config& c) { c.simPeriodMs = 0; });
    TestClient a;
    ASSERT_TRUE(a.associate(sim.host(), sim.port()));
    const std::string rcb = "LLN0$BR$brcbMet01";
    ASSERT_EQ(writeResults(a.call(writeOf({{rcb + "$BufTm", Data::unsignedInt(0)},
                                           {rcb + "$TrgOps", Data::bitString(bits("010000"))},
                                           {rcb + "$RptEna", Data::boolean(true)}}))),
              "ok,ok,ok");
    EXPECT_EQ(sim.ask("step 3"), "OK");
    auto r = nextReport(a);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->reasons[0], bits("010000"));
}

}  // namespace
}  // namespace zv::iedsim::test
