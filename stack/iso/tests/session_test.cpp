#include "iso/session.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace zv::iso {
namespace {

using test::hex;

// Session headers of the reference AARQ/AARE/release frames, user data cut.
const char* kRefCnHeader = "0d b2 05 06 13 01 00 16 01 02 14 02 00 02 33 02 00 01 34 02 00 01 c1 9c";
const char* kRefAcHeader = "0e 86 05 06 13 01 00 16 01 02 14 02 00 02 34 02 00 01 c1 74";

TEST(Session, EncodesConnectHeaderLikeTheReference) {
    Bytes ud(156, 0xAB);
    Bytes out;
    ASSERT_TRUE(sessionAppendConnect(out, hex("00 01"), hex("00 01"), ud).ok());
    EXPECT_EQ(test::toHex(out), test::toHex(test::concat(hex(kRefCnHeader), ud)));
    auto s = sessionDecode(out);
    ASSERT_TRUE(s.ok()) << s.error().reason;
    EXPECT_EQ(s->kind, SpduKind::Connect);
    EXPECT_EQ(s->callingSsel, hex("00 01"));
    EXPECT_EQ(s->calledSsel, hex("00 01"));
    EXPECT_EQ(s->versionNumber, 2);
    EXPECT_EQ(s->sessionRequirements, kSessionRequirementsDuplex);
    EXPECT_EQ(s->userData.toVector(), ud);
}

TEST(Session, EncodesAcceptHeaderLikeTheReference) {
    Bytes ud(116, 0x5A);
    Bytes out;
    ASSERT_TRUE(sessionAppendAccept(out, hex("00 01"), ud).ok());
    EXPECT_EQ(test::toHex(out), test::toHex(test::concat(hex(kRefAcHeader), ud)));
}

TEST(Session, EncodesReleaseAndAbortLikeTheReference) {
    const Bytes rlrq = hex("61 0c 30 0a 02 01 01 a0 05 62 03 80 01 00");
    Bytes fn;
    ASSERT_TRUE(sessionAppendFinish(fn, rlrq).ok());
    EXPECT_EQ(fn, test::concat(hex("09 10 c1 0e"), rlrq));
    const Bytes rlre = hex("61 09 30 07 02 01 01 a0 02 63 00");
    Bytes dn;
    ASSERT_TRUE(sessionAppendDisconnect(dn, rlre).ok());
    EXPECT_EQ(dn, test::concat(hex("0a 0d c1 0b"), rlre));
    const Bytes aru = hex("a0 0e 61 0c 30 0a 02 01 01 a0 05 64 03 80 01 00");
    Bytes ab;
    ASSERT_TRUE(sessionAppendAbort(ab, kTdReleaseTransport | kTdUserAbort | kTdNoReason, aru).ok());
    EXPECT_EQ(ab, test::concat(hex("19 15 11 01 0b c1 10"), aru));
    auto s = sessionDecode(ab);
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->kind, SpduKind::Abort);
    EXPECT_EQ(s->transportDisconnect, 0x0b);
    EXPECT_EQ(s->userData.toVector(), aru);
}

TEST(Session, DataIsPrecededByGiveTokens) {
    Bytes out;
    sessionAppendData(out, hex("61 09"));
    EXPECT_EQ(out, hex("01 00 01 00 61 09"));
    auto s = sessionDecode(out);
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->kind, SpduKind::Data);
    EXPECT_EQ(s->userData.toVector(), hex("61 09"));
}

TEST(Session, LoneGiveTokensCarriesNoData) {
    auto s = sessionDecode(hex("01 00"));
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->kind, SpduKind::GiveTokens);
}

TEST(Session, RefuseCarriesReasonAndUserData) {
    Bytes out;
    ASSERT_TRUE(sessionAppendRefuse(out, kRfUserData, hex("aa bb")).ok());
    auto s = sessionDecode(out);
    ASSERT_TRUE(s.ok()) << s.error().reason;
    EXPECT_EQ(s->kind, SpduKind::Refuse);
    EXPECT_EQ(s->refuseReason, kRfUserData);
    EXPECT_EQ(s->transportDisconnect, kTdReleaseTransport);
    EXPECT_EQ(s->userData.toVector(), hex("aa bb"));
}

TEST(Session, ConnectUserDataUpTo512UsesPlainParameterThenExtended) {
    Bytes at(kMaxSessionUserData, 1), over(kMaxSessionUserData + 1, 1);
    Bytes a, b;
    ASSERT_TRUE(sessionAppendConnect(a, {}, {}, at).ok());
    ASSERT_TRUE(sessionAppendConnect(b, {}, {}, over).ok());
    // LI of 255 and more takes three octets: SI, FF, hi, lo, then the items.
    EXPECT_EQ(a[0], 13);
    EXPECT_EQ(a[1], 0xFF);
    auto sa = sessionDecode(a);
    auto sb = sessionDecode(b);
    ASSERT_TRUE(sa.ok()) << sa.error().reason;
    ASSERT_TRUE(sb.ok()) << sb.error().reason;
    EXPECT_EQ(sa->userData.size, kMaxSessionUserData);
    EXPECT_EQ(sb->userData.size, kMaxSessionUserData + 1);
    EXPECT_EQ(a[a.size() - at.size() - 4], 193);
    EXPECT_EQ(b[b.size() - over.size() - 4], 194);
}

TEST(Session, ConnectUserDataAboveExtendedLimitIsRefused) {
    Bytes out;
    EXPECT_TRUE(sessionAppendConnect(out, {}, {}, Bytes(kMaxSessionExtendedUserData, 0)).ok());
    out.clear();
    EXPECT_FALSE(sessionAppendConnect(out, {}, {}, Bytes(kMaxSessionExtendedUserData + 1, 0)).ok());
}

TEST(Session, SelectorsAreLimitedToSixteenOctets) {
    Bytes out;
    EXPECT_TRUE(sessionAppendConnect(out, Bytes(16, 1), {}, {}).ok());
    EXPECT_FALSE(sessionAppendConnect(out, Bytes(17, 1), {}, {}).ok());
}

struct BadSpduRow {
    const char* name;
    const char* bytes;
    const char* reason;
};
void PrintTo(const BadSpduRow& row, std::ostream* os) { *os << row.name; }
class SessionDecodeRejects : public ::testing::TestWithParam<BadSpduRow> {};

TEST_P(SessionDecodeRejects, WithPreciseReason) {
    Bytes in = hex(GetParam().bytes);
    auto s = sessionDecode(in);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().reason.find(GetParam().reason), std::string::npos) << s.error().reason;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SessionDecodeRejects,
    ::testing::Values(BadSpduRow{"Empty", "", "empty TSDU"},
                      BadSpduRow{"MissingLength", "0d", "length indicator missing"},
                      BadSpduRow{"ThreeOctetLengthCut", "0d ff 00", "truncated"},
                      BadSpduRow{"LengthBeyondTsdu", "0d 05 14 02 00", "length 5 exceeds remaining 3"},
                      BadSpduRow{"TrailingOctetsAfterConnect", "0d 00 aa", "1 octets follow"},
                      BadSpduRow{"ParameterBeyondSpdu", "0d 04 14 05 00 02",
                                 "parameter 20 length 5 exceeds remaining 2"},
                      BadSpduRow{"SessionRequirementsOfOneOctet", "0d 03 14 01 02", "length 1, expected 2"},
                      BadSpduRow{"VersionOneOnly", "0d 05 05 03 16 01 01", "does not offer version 2"},
                      BadSpduRow{"DataAfterGiveTokensMissing", "01 00 0d 00", "expected DT"},
                      BadSpduRow{"DataLengthBeyondTsdu", "01 00 01 04 aa", "DT: length 4"},
                      BadSpduRow{"UnknownSpduType", "07 00", "type 7 is not supported"},
                      BadSpduRow{"UserDataTwice", "0e 06 c1 01 aa c1 01 bb", "user data given twice"},
                      BadSpduRow{"ExtendedUserDataOutsideConnect", "0e 03 c2 01 aa", "only allowed in CN"},
                      BadSpduRow{"RefuseWithEmptyReason", "0c 02 32 00", "empty reason code"},
                      BadSpduRow{"SelectorTooLong", "0d 13 33 11 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                                 "17 octets exceeds 16"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Session, ConnectUserDataOver512InPlainParameterIsRejected) {
    Bytes in = {13, 0xFF, 0x02, 0x05, 193, 0xFF, 0x02, 0x01};
    in.resize(in.size() + 513, 0);
    auto s = sessionDecode(in);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().reason.find("513 octets exceeds 512"), std::string::npos) << s.error().reason;
}

}  // namespace
}  // namespace zv::iso
