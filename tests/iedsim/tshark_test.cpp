// Independent check: a whole session against iedsim on loopback, captured
// live with tshark and dissected by it, must decode in every layer (TPKT,
// COTP, session, presentation, ACSE, MMS) without a malformed frame or an
// expert error. Needs root (live capture) and tshark; skipped otherwise.
#include "fixture.h"
#include "zvt/capture.h"

#include <unistd.h>

namespace zv::iedsim::test {
namespace {

TEST(Tshark, AWholeSessionAgainstIedsimDecodesWithoutMalformedFrames) {
    ASSERT_FALSE(zvt::run("command -v tshark").empty()) << "tshark not installed (Debian package tshark)";
    ASSERT_EQ(geteuid(), 0u) << "a live capture on lo needs root";
    SimServer sim([](Config& c) { c.initialRecordings = 1; });
    ASSERT_TRUE(sim.server);
    const uint16_t port = sim.port();
    zvt::Capture cap(sim.dir + "/..", "iedsim_session_" + std::to_string(port), {port});
    ASSERT_TRUE(cap.started && cap.sees([&] { TestClient().open("127.0.0.1", port); })) << zvt::file_text(cap.log());

    {
        TestClient c;
        ASSERT_TRUE(c.associate(sim.host(), port));
        // Browse.
        ASSERT_TRUE(responseOf<mms::IdentifyResponse>(c.call(mms::IdentifyRequest{})));
        ASSERT_TRUE(responseOf<mms::GetNameListResponse>(
            c.call(mms::GetNameListRequest{mms::kDomain, mms::ObjectName::Scope::Vmd, {}, {}})));
        ASSERT_TRUE(responseOf<mms::GetNameListResponse>(
            c.call(mms::GetNameListRequest{mms::kNamedVariable, mms::ObjectName::Scope::Domain, "CMIEDMON", {}})));
        ASSERT_TRUE(responseOf<mms::GetNameListResponse>(
            c.call(mms::GetNameListRequest{mms::kNamedVariable, mms::ObjectName::Scope::Domain, "CMIEDMON",
                                           std::string("SIMG1")})));
        ASSERT_TRUE(responseOf<mms::GetNameListResponse>(
            c.call(mms::GetNameListRequest{mms::kNamedVariableList, mms::ObjectName::Scope::Domain, "CMIEDMON", {}})));
        ASSERT_TRUE(responseOf<mms::GetVariableAccessAttributesResponse>(
            c.call(mms::GetVariableAccessAttributesRequest{dom("LLN0")})));
        ASSERT_TRUE(responseOf<mms::GetVariableAccessAttributesResponse>(
            c.call(mms::GetVariableAccessAttributesRequest{dom("LLN0$BR$brcbTemp01")})));
        ASSERT_TRUE(responseOf<mms::GetNamedVariableListAttributesResponse>(
            c.call(mms::GetNamedVariableListAttributesRequest{dom("LLN0$dsIns")})));
        ASSERT_TRUE(errorOf(c.call(mms::GetVariableAccessAttributesRequest{dom("NOPE")})));
        // Read, write.
        ASSERT_TRUE(responseOf<mms::ReadResponse>(
            c.call(readOf({"LLN0$BR$brcbTemp01", "LLN0$RP$urcbAlarm01", "ZSAR1$ST", "STMP3$DC"}))));
        ASSERT_TRUE(responseOf<mms::ReadResponse>(
            c.call(mms::ReadRequest{true, mms::VariableAccess::named(dom("LLN0$dsTemp"))})));
        EXPECT_EQ(writeResults(c.call(writeOf({{"STMP1$CF$Tmp$db", mms::Data::unsignedInt(200)},
                                               {"STMP1$MX$Tmp$q", mms::Data::boolean(false)}}))),
                  "ok,3");
        // Reports: unbuffered and buffered, data change and GI.
        const auto trg = mms::Data::bitString(mms::BitString::fromText("011111"));
        EXPECT_EQ(writeResults(c.call(writeOf({{"LLN0$RP$urcbAlarm01$TrgOps", trg},
                                               {"LLN0$RP$urcbAlarm01$RptEna", mms::Data::boolean(true)}}))),
                  "ok,ok");
        EXPECT_EQ(writeResults(c.call(writeOf(
                      {{"LLN0$BR$brcbIns01$OptFlds", mms::Data::bitString(mms::BitString::fromText("0111111110"))},
                       {"LLN0$BR$brcbIns01$TrgOps", trg},
                       {"LLN0$BR$brcbIns01$RptEna", mms::Data::boolean(true)}}))),
                  "ok,ok,ok");
        EXPECT_EQ(writeResults(c.call(writeOf({{"LLN0$RP$urcbAlarm01$GI", mms::Data::boolean(true)}}))), "ok");
        EXPECT_EQ(writeResults(c.call(writeOf({{"LLN0$BR$brcbIns01$GI", mms::Data::boolean(true)}}))), "ok");
        EXPECT_EQ(sim.ask("set CMIEDMON/STMP1$ST$TmpAlm$stVal true"), "OK");
        EXPECT_EQ(sim.ask("step 2"), "OK");
        c.idle(300);
        EXPECT_GE(c.reportCount, 3u);
        // Files.
        auto* dir = responseOf<mms::FileDirectoryResponse>(c.call(mms::FileDirectoryRequest{}));
        ASSERT_TRUE(dir);
        ASSERT_EQ(dir->entries.size(), 2u);
        const mms::FileName cfgName = dir->entries[0].name;
        ASSERT_TRUE(
            responseOf<mms::FileDirectoryResponse>(c.call(mms::FileDirectoryRequest{mms::FileName{"/COMTRADE"}, {}})));
        auto* open = responseOf<mms::FileOpenResponse>(c.call(mms::FileOpenRequest{cfgName, 0}));
        ASSERT_TRUE(open);
        const int32_t frsm = open->frsmId;
        ASSERT_TRUE(responseOf<mms::FileReadResponse>(c.call(mms::FileReadRequest{frsm})));
        ASSERT_TRUE(responseOf<mms::FileCloseResponse>(c.call(mms::FileCloseRequest{frsm})));
        c.files["upload.txt"] = std::vector<uint8_t>(250, 'u');
        ASSERT_TRUE(
            responseOf<mms::ObtainFileResponse>(c.call(mms::ObtainFileRequest{{"upload.txt"}, {"upload.txt"}})));
        ASSERT_TRUE(responseOf<mms::FileDeleteResponse>(c.call(mms::FileDeleteRequest{{"upload.txt"}})));
        ASSERT_TRUE(errorOf(c.call(mms::FileDeleteRequest{{"upload.txt"}})));
        ASSERT_TRUE(c.call(mms::OtherService{11, {0xab, 0x00}}));  // rejected
        EXPECT_TRUE(c.conclude());
        EXPECT_TRUE(c.release());
    }
    {
        // A small PDU size: segmented reports and several file reads.
        TestClient s(300);
        ASSERT_TRUE(s.associate(sim.host(), port));
        EXPECT_EQ(writeResults(s.call(writeOf(
                      {{"LLN0$BR$brcbIns02$OptFlds", mms::Data::bitString(mms::BitString::fromText("0111111110"))},
                       {"LLN0$BR$brcbIns02$RptEna", mms::Data::boolean(true)},
                       {"LLN0$BR$brcbIns02$GI", mms::Data::boolean(true)}}))),
                  "ok,ok,ok");
        s.idle(200);
        EXPECT_GE(s.reportCount, 2u);
        EXPECT_TRUE(s.release());
    }
    cap.stop();
    const std::string out = cap.decoded("-V");
    EXPECT_EQ(zvt::count(out, "Malformed"), 0u);
    EXPECT_EQ(zvt::count(out, "Expert Info (Error"), 0u);
    EXPECT_EQ(zvt::count(out, "Expert Info (Warning"), 0u);
    for (const char* what : {"CR Connect Request",
                             "CC Connect Confirm",
                             "CP-type",
                             "CPA-PPDU",
                             "aarq",
                             "aare",
                             "initiate-RequestPDU",
                             "initiate-ResponsePDU",
                             "getNameList",
                             "getVariableAccessAttributes",
                             "getNamedVariableListAttributes",
                             "informationReport",
                             "fileDirectory",
                             "fileOpen",
                             "fileRead",
                             "fileClose",
                             "obtainFile",
                             "fileDelete",
                             "confirmed-ErrorPDU",
                             "rejectPDU",
                             "conclude-RequestPDU",
                             "conclude-ResponsePDU",
                             "rlrq",
                             "rlre"})
        EXPECT_GE(zvt::count(out, what), 1u) << what;
    if (HasFailure()) {
        std::fprintf(stderr, "%s\n", out.substr(0, 20000).c_str());
        // Keep the capture for a look: print where it is.
        std::fprintf(stderr, "capture kept in %s\n", cap.file().c_str());
    } else if (!std::getenv("ZV_KEEP_PCAP")) {
        std::remove(cap.file().c_str());
        std::remove(cap.log().c_str());
    }
}

}  // namespace
}  // namespace zv::iedsim::test
