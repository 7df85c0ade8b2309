#include "iso/tpkt.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace zv::iso {
namespace {

using test::hex;

TEST(Tpkt, EncodeWritesVersionReservedAndTotalLength) {
    auto r = tpktEncode(hex("02 f0 80"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, hex("03 00 00 07 02 f0 80"));
}

TEST(Tpkt, EncodeRejectsTpduBeyondSixteenBitLength) {
    Bytes big(kTpktMaxLength - kTpktHeaderSize + 1, 0);
    EXPECT_FALSE(tpktEncode(big).ok());
    big.pop_back();
    auto r = tpktEncode(big);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->size(), kTpktMaxLength);
}

// Every split of a two-packet stream yields the same two TPDUs.
TEST(TpktReader, ReassemblesPacketsFromEveryChunking) {
    const Bytes stream = hex("03 00 00 07 02 f0 80  03 00 00 0a 02 f0 80 01 02 03");
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
            TpktReader r;
            std::vector<Bytes> out;
            ASSERT_TRUE(r.feed(ByteView(stream.data(), a), out).ok());
            ASSERT_TRUE(r.feed(ByteView(stream.data() + a, b - a), out).ok());
            ASSERT_TRUE(r.feed(ByteView(stream.data() + b, stream.size() - b), out).ok());
            ASSERT_EQ(out.size(), 2u) << "split " << a << "/" << b;
            EXPECT_EQ(out[0], hex("02 f0 80"));
            EXPECT_EQ(out[1], hex("02 f0 80 01 02 03"));
            EXPECT_EQ(r.buffered(), 0u);
        }
    }
}

TEST(TpktReader, ByteByByteFeedingHoldsBackIncompletePacket) {
    const Bytes stream = hex("03 00 00 08 02 f0 80 aa");
    TpktReader r;
    std::vector<Bytes> out;
    for (std::size_t i = 0; i + 1 < stream.size(); ++i) {
        ASSERT_TRUE(r.feed(ByteView(&stream[i], 1), out).ok());
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(r.buffered(), i + 1);
    }
    ASSERT_TRUE(r.feed(ByteView(&stream.back(), 1), out).ok());
    ASSERT_EQ(out.size(), 1u);
}

TEST(TpktReader, AcceptsPacketOfExactlyTheConfiguredMaximum) {
    TpktReader r(100);
    Bytes pkt = *tpktEncode(Bytes(96, 0x11));
    std::vector<Bytes> out;
    ASSERT_TRUE(r.feed(pkt, out).ok());
    EXPECT_EQ(out.size(), 1u);
}

struct BadHeaderRow {
    const char* name;
    const char* bytes;
    std::size_t max;
    const char* reason;
    std::size_t framesBefore = 0;  // good packets ahead of the bad header
};
void PrintTo(const BadHeaderRow& row, std::ostream* os) { *os << row.name; }

class TpktReaderRejects : public ::testing::TestWithParam<BadHeaderRow> {};

TEST_P(TpktReaderRejects, HeaderAndStaysFailed) {
    const auto& row = GetParam();
    TpktReader r(row.max);
    std::vector<Bytes> out;
    auto st = r.feed(hex(row.bytes), out);
    ASSERT_FALSE(st.ok());
    EXPECT_NE(st.error().reason.find(row.reason), std::string::npos) << st.error().reason;
    EXPECT_EQ(out.size(), row.framesBefore);
    EXPECT_TRUE(r.failed());
    out.clear();
    // A poisoned stream never yields frames again, even valid ones.
    EXPECT_FALSE(r.feed(hex("03 00 00 07 02 f0 80"), out).ok());
    EXPECT_TRUE(out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TpktReaderRejects,
    ::testing::Values(BadHeaderRow{"Version2", "02 00 00 07 02 f0 80", kTpktDefaultMaxLength, "version 2, expected 3"},
                      BadHeaderRow{"LengthBelowMinimum", "03 00 00 06 02 f0", kTpktDefaultMaxLength,
                                   "below the minimum 7"},
                      BadHeaderRow{"LengthZero", "03 00 00 00", kTpktDefaultMaxLength, "length 0"},
                      BadHeaderRow{"LengthOneAboveMaximum", "03 00 00 65", 100, "length 101 exceeds the maximum 100"},
                      BadHeaderRow{"HugeLengthWithDefaultMaximum", "03 00 ff ff", kTpktDefaultMaxLength,
                                   "length 65535 exceeds the maximum 8196"},
                      BadHeaderRow{"BadSecondPacketAfterGoodOne", "03 00 00 07 02 f0 80 04 00 00 07",
                                   kTpktDefaultMaxLength, "version 4", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TpktReader, RejectsOversizedLengthBeforeBufferingTheBody) {
    TpktReader r(100);
    std::vector<Bytes> out;
    // The header alone is enough to refuse; nothing of the body is awaited.
    EXPECT_TRUE(r.feed(hex("03 00"), out).ok());
    EXPECT_FALSE(r.feed(hex("10 00"), out).ok());
    EXPECT_EQ(r.buffered(), 0u);
}

}  // namespace
}  // namespace zv::iso
