#include "iso/cotp.h"
#include "iso/tpkt.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace zv::iso {
namespace {

using test::hex;

// CR and CC TPDUs of the reference session (TPKT header removed).
const char* kRefCr = "11 e0 00 00 00 01 00 c0 01 0d c2 02 00 01 c1 02 00 01";
const char* kRefCc = "11 d0 00 01 00 01 00 c0 01 0d c2 02 00 01 c1 02 00 01";

TEST(Cotp, DecodesReferenceConnectRequest) {
    Bytes in = hex(kRefCr);
    auto t = cotpDecode(in);
    ASSERT_TRUE(t.ok()) << t.error().reason;
    EXPECT_EQ(t->kind, TpduKind::ConnectRequest);
    EXPECT_EQ(t->connect.dstRef, 0);
    EXPECT_EQ(t->connect.srcRef, 1);
    EXPECT_EQ(t->connect.tpduSizeCode, std::optional<uint8_t>(13));
    EXPECT_EQ(t->connect.callingTsap, hex("00 01"));
    EXPECT_EQ(t->connect.calledTsap, hex("00 01"));
}

TEST(Cotp, EncodesConnectRequestAndConfirmLikeTheReference) {
    CotpConnect c;
    c.srcRef = 1;
    c.tpduSizeCode = 13;
    c.callingTsap = hex("00 01");
    c.calledTsap = hex("00 01");
    Bytes cr;
    cotpAppendConnect(cr, false, c);
    EXPECT_EQ(test::toHex(cr), test::toHex(hex(kRefCr)));
    c.dstRef = 1;
    Bytes cc;
    cotpAppendConnect(cc, true, c);
    EXPECT_EQ(test::toHex(cc), test::toHex(hex(kRefCc)));
}

TEST(Cotp, ConnectRoundTripsWithoutOptionalParameters) {
    CotpConnect c;
    c.srcRef = 0x1234;
    Bytes b;
    cotpAppendConnect(b, false, c);
    EXPECT_EQ(b, hex("06 e0 00 00 12 34 00"));
    auto t = cotpDecode(b);
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(t->connect, c);
}

TEST(Cotp, IgnoresParametersClassZeroDoesNotUse) {
    // 0xC6 additional options and 0xF0 preferred TPDU size are skipped.
    const Bytes in = hex("10 e0 00 00 00 07 00 c6 01 00 f0 02 00 20 c0 01 0a");
    auto t = cotpDecode(in);
    ASSERT_TRUE(t.ok()) << t.error().reason;
    EXPECT_EQ(t->connect.tpduSizeCode, std::optional<uint8_t>(10));
}

TEST(Cotp, DataHeaderCarriesEndOfTsduFlag) {
    const Bytes a = hex("02 f0 80 aa bb"), b = hex("02 f0 00 aa");
    auto last = cotpDecode(a);
    ASSERT_TRUE(last.ok());
    EXPECT_TRUE(last->eot);
    EXPECT_EQ(last->data.toVector(), hex("aa bb"));
    auto more = cotpDecode(b);
    ASSERT_TRUE(more.ok());
    EXPECT_FALSE(more->eot);
}

TEST(Cotp, DisconnectAndErrorRoundTrip) {
    Bytes dr;
    cotpAppendDisconnect(dr, 7, 9, kDrNormal);
    auto d = cotpDecode(dr);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d->kind, TpduKind::DisconnectRequest);
    EXPECT_EQ(d->connect.dstRef, 7);
    EXPECT_EQ(d->connect.srcRef, 9);
    EXPECT_EQ(d->reason, kDrNormal);

    Bytes er;
    const Bytes bad = hex("02 f1 80");
    cotpAppendError(er, 7, kErInvalidTpduType, bad);
    auto e = cotpDecode(er);
    ASSERT_TRUE(e.ok()) << e.error().reason;
    EXPECT_EQ(e->kind, TpduKind::Error);
    EXPECT_EQ(e->reason, kErInvalidTpduType);
    EXPECT_EQ(e->data.toVector(), bad);
}

struct BadTpduRow {
    const char* name;
    const char* bytes;
    const char* reason;
};
void PrintTo(const BadTpduRow& row, std::ostream* os) { *os << row.name; }
class CotpDecodeRejects : public ::testing::TestWithParam<BadTpduRow> {};

TEST_P(CotpDecodeRejects, WithPreciseReason) {
    Bytes in = hex(GetParam().bytes);
    auto t = cotpDecode(in);
    ASSERT_FALSE(t.ok());
    EXPECT_NE(t.error().reason.find(GetParam().reason), std::string::npos) << t.error().reason;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CotpDecodeRejects,
    ::testing::Values(
        BadTpduRow{"Empty", "", "truncated"}, BadTpduRow{"OnlyLengthIndicator", "02", "truncated"},
        BadTpduRow{"LengthIndicatorBeyondTpdu", "11 e0 00 00 00 01 00", "length indicator 17 exceeds"},
        BadTpduRow{"ReservedLengthIndicator", "ff e0", "reserved"},
        BadTpduRow{"ConnectShorterThanFixedPart", "04 e0 00 00 00", "below the fixed part of 6"},
        BadTpduRow{"ClassTwoRequested", "06 e0 00 00 00 01 20", "class 2"},
        BadTpduRow{"CrWithDestinationReference", "06 e0 00 05 00 01 00", "DST-REF 5"},
        BadTpduRow{"ParameterLengthBeyondVariablePart", "09 e0 00 00 00 01 00 c1 05 00",
                   "length 5 exceeds remaining 1"},
        BadTpduRow{"ParameterHeaderCutInHalf", "07 e0 00 00 00 01 00 c1", "truncated"},
        BadTpduRow{"TpduSizeOfTwoOctets", "0a e0 00 00 00 01 00 c0 02 00 0d", "length 2, expected 1"},
        BadTpduRow{"TpduSizeCodeAboveClassZero", "09 e0 00 00 00 01 00 c0 01 0e", "code 14 outside 7..13"},
        BadTpduRow{"TpduSizeCodeBelowClassZero", "09 e0 00 00 00 01 00 c0 01 06", "code 6 outside 7..13"},
        BadTpduRow{"DuplicateCalledTsap", "0c e0 00 00 00 01 00 c2 01 01 c2 01 02", "duplicate parameter 0xc2"},
        BadTpduRow{"TsapLongerThanLimit",
                   "29 e0 00 00 00 01 00 c1 21 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                   "TSAP of 33 octets exceeds 32"},
        BadTpduRow{"UserDataInClassZeroConnect", "06 e0 00 00 00 01 00 99", "user data not allowed"},
        BadTpduRow{"DataWithLongHeader", "03 f0 80 00", "expected 2"},
        BadTpduRow{"DataWithSequenceNumber", "02 f0 81", "TPDU-NR 1"},
        BadTpduRow{"DataWithRoaBit", "02 f1 80", "flow-control bit"},
        BadTpduRow{"ExpeditedData", "02 10 80", "code 0x10 is not used in class 0"},
        BadTpduRow{"AckTpdu", "02 60 80", "code 0x60"},
        BadTpduRow{"ShortDisconnect", "03 80 00 01", "DR: length indicator 3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Cotp, AcceptsTsapOfExactlyTheLimit) {
    Bytes in = hex("28 e0 00 00 00 01 00 c1 20");
    in.resize(in.size() + 32, 0x41);
    ASSERT_TRUE(cotpDecode(in).ok());
}

// Splits by the negotiated TPDU size and rebuilds the TSDU from the stream.
struct SegmentRow {
    const char* name;
    std::size_t tsduSize;
    std::size_t tpduSize;
    std::size_t expectedTpdus;
};
void PrintTo(const SegmentRow& row, std::ostream* os) { *os << row.name; }
class CotpSegmentation : public ::testing::TestWithParam<SegmentRow> {};

TEST_P(CotpSegmentation, SplitsByTpduSizeAndReassembles) {
    const auto& row = GetParam();
    Bytes tsdu(row.tsduSize);
    for (std::size_t i = 0; i < tsdu.size(); ++i) tsdu[i] = static_cast<uint8_t>(i * 7);
    Bytes stream;
    ASSERT_TRUE(cotpAppendTsdu(stream, tsdu, row.tpduSize).ok());
    TpktReader reader(row.tpduSize + kTpktHeaderSize);
    std::vector<Bytes> tpdus;
    ASSERT_TRUE(reader.feed(stream, tpdus).ok());
    ASSERT_EQ(tpdus.size(), row.expectedTpdus);
    TsduAssembler as;
    for (std::size_t i = 0; i < tpdus.size(); ++i) {
        EXPECT_LE(tpdus[i].size(), row.tpduSize);
        auto t = cotpDecode(tpdus[i]);
        ASSERT_TRUE(t.ok());
        EXPECT_EQ(t->eot, i + 1 == tpdus.size());
        auto done = as.add(t->data, t->eot);
        ASSERT_TRUE(done.ok());
        EXPECT_EQ(*done, i + 1 == tpdus.size());
    }
    EXPECT_EQ(as.take(), tsdu);
    // Headers framed in front of a PDU that stays where it is: the same stream
    // wherever the TSDU is split into head and body.
    for (std::size_t cut : {std::size_t(0), std::size_t(1), tsdu.size() / 2, tsdu.size()}) {
        if (cut > tsdu.size()) continue;
        Bytes split;
        ASSERT_TRUE(cotpAppendTsdu(split, ByteView(tsdu.data(), cut), ByteView(tsdu.data() + cut, tsdu.size() - cut),
                                   row.tpduSize)
                        .ok());
        EXPECT_EQ(split, stream) << "head of " << cut << " octets";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CotpSegmentation,
                         ::testing::Values(SegmentRow{"Empty", 0, 128, 1}, SegmentRow{"OneOctet", 1, 128, 1},
                                           SegmentRow{"ExactlyOneTpdu", 125, 128, 1},
                                           SegmentRow{"OneOctetOverOneTpdu", 126, 128, 2},
                                           SegmentRow{"ThreeFullTpdus", 375, 128, 3},
                                           SegmentRow{"LargeReportIn8kTpdus", 20000, 8192, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TsduAssembler, AcceptsExactlyTheMaximumAndRejectsOneMore) {
    TsduAssembler ok(10);
    ASSERT_TRUE(ok.add(Bytes(6, 1), false).ok());
    auto done = ok.add(Bytes(4, 1), true);
    ASSERT_TRUE(done.ok());
    EXPECT_TRUE(*done);
    EXPECT_EQ(ok.take().size(), 10u);

    TsduAssembler over(10);
    ASSERT_TRUE(over.add(Bytes(6, 1), false).ok());
    auto r = over.add(Bytes(5, 1), false);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().reason.find("11 octets exceeds the maximum 10"), std::string::npos) << r.error().reason;
    EXPECT_EQ(over.pending(), 0u);
}

TEST(Cotp, SegmentationRefusesTpduSizeWithoutRoomForData) {
    Bytes out;
    EXPECT_FALSE(cotpAppendTsdu(out, hex("01"), 3).ok());
}

}  // namespace
}  // namespace zv::iso
