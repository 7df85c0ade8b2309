// BER reader/writer: tags, lengths, limits and contents rules.
#include "ber/ber.h"

#include <gtest/gtest.h>

#include "zvt/bytes.h"

using namespace zv::ber;

namespace {

using zvt::hex;

// ---- header parsing: rejected inputs ---------------------------------------

struct BadHeader {
    const char* name;
    const char* bytes;
    const char* reason;  // substring of the error reason
    std::size_t offset;
};

class ReaderRejects : public ::testing::TestWithParam<BadHeader> {};

TEST_P(ReaderRejects, WithPreciseReason) {
    const auto bytes = hex(GetParam().bytes);
    Reader r(bytes);
    auto t = r.read();
    ASSERT_FALSE(t.ok());
    EXPECT_NE(t.error().reason.find(GetParam().reason), std::string::npos) << t.error().text();
    EXPECT_EQ(t.error().offset, GetParam().offset) << t.error().text();
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ReaderRejects,
    ::testing::Values(BadHeader{"Empty", "", "end of data", 0}, BadHeader{"LengthMissing", "30", "length missing", 1},
                      BadHeader{"ShortLengthBeyondBuffer", "04 05 01 02", "length 5 exceeds remaining 2", 0},
                      BadHeader{"LongLengthBeyondBuffer", "04 83 01 11 70 00 00", "length 70000 exceeds remaining 2",
                                0},
                      BadHeader{"LengthBytesTruncated", "04 82 01", "length bytes truncated", 1},
                      BadHeader{"IndefiniteLength", "30 80 00 00", "indefinite length not supported", 1},
                      BadHeader{"ReservedLengthOctet", "04 FF", "reserved length octet", 1},
                      BadHeader{"FiveLengthBytes", "04 85 00 00 00 00 01 00", "length of 5 bytes exceeds 4", 1},
                      BadHeader{"HighTagTruncated", "BF 81", "tag number truncated", 2},
                      BadHeader{"HighTagLeading80", "BF 80 01 00", "leading 0x80", 1},
                      BadHeader{"HighTagTooLong", "BF 81 81 81 81 01 00", "longer than 28 bits", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BerReader, ReadsHighTagNumberAndLongLength) {
    std::vector<uint8_t> bytes = hex("BF 81 00 81 80");
    bytes.resize(bytes.size() + 128, 0x55);
    Reader r(bytes);
    auto t = r.read();
    ASSERT_TRUE(t.ok()) << t.error().text();
    EXPECT_EQ(t->tag, ctxC(128));
    EXPECT_EQ(t->value.size, 128u);
    EXPECT_EQ(t->valueOffset, 5u);
    EXPECT_TRUE(r.atEnd());
}

TEST(BerReader, AcceptsLengthUsingAllRemainingBytesExactly) {
    const auto bytes = hex("04 82 00 02 AA BB");  // non-minimal long form is legal BER
    Reader r(bytes);
    auto t = r.read(tags::kOctetString);
    ASSERT_TRUE(t.ok()) << t.error().text();
    EXPECT_EQ(t->value.size, 2u);
}

TEST(BerReader, ReadWithWrongTagDoesNotAdvance) {
    const auto bytes = hex("02 01 05");
    Reader r(bytes);
    auto bad = r.read(tags::kBoolean);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().reason, "expected [universal 1] but found [universal 2]");
    EXPECT_EQ(*r.readInt64(tags::kInteger), 5);
}

TEST(BerReader, ChildErrorsCarryAbsoluteOffsets) {
    const auto bytes = hex("30 06 02 01 01 04 05 00");
    Reader r(bytes);
    auto seq = r.enter(tags::kSequence);
    ASSERT_TRUE(seq.ok());
    ASSERT_TRUE(seq->readInt64(tags::kInteger).ok());
    auto bad = seq->read();
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().offset, 5u);
    EXPECT_EQ(bad.error().reason, "length 5 exceeds remaining 1");
}

TEST(BerReader, ExpectEndReportsTrailingBytes) {
    const auto bytes = hex("05 00 05 00");
    Reader r(bytes);
    ASSERT_TRUE(r.readNull(tags::kNull).ok());
    auto s = r.expectEnd("Conclude");
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().reason, "2 trailing bytes in Conclude");
}

// The depth limit holds at exactly kMaxDepth nested constructed values.
std::vector<uint8_t> nested(unsigned levels) {
    Writer w;
    for (unsigned i = 0; i < levels; ++i) w.begin(tags::kSequence);
    for (unsigned i = 0; i < levels; ++i) w.end();
    return w.take();
}

Status walk(Reader r) {
    while (!r.atEnd()) {
        ZV_TRY(Tlv t, r.read());
        if (t.tag.constructed) {
            ZV_TRY(Reader c, r.enter(t));
            ZV_CHECK(walk(c));
        }
    }
    return {};
}

TEST(BerReader, NestingUpToMaxDepthIsAccepted) {
    const auto bytes = nested(kMaxDepth);
    EXPECT_TRUE(walk(Reader(bytes)).ok());
}

TEST(BerReader, NestingBeyondMaxDepthIsRejected) {
    const auto bytes = nested(kMaxDepth + 1);
    auto s = walk(Reader(bytes));
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().reason, "nesting depth exceeds " + std::to_string(kMaxDepth));
}

// ---- contents -------------------------------------------------------------

struct IntRow {
    const char* name;
    int64_t value;
    const char* encoding;
};

class BerInteger : public ::testing::TestWithParam<IntRow> {};

TEST_P(BerInteger, EncodesMinimallyAndDecodesBack) {
    Writer w;
    w.integer(tags::kInteger, GetParam().value);
    EXPECT_EQ(w.bytes(), hex(GetParam().encoding));
    Reader r(w.bytes());
    auto v = r.readInt64(tags::kInteger);
    ASSERT_TRUE(v.ok()) << v.error().text();
    EXPECT_EQ(*v, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Values, BerInteger,
                         ::testing::Values(IntRow{"Zero", 0, "02 01 00"}, IntRow{"Max1Byte", 127, "02 01 7F"},
                                           IntRow{"NeedsSignPad", 128, "02 02 00 80"},
                                           IntRow{"MinusOne", -1, "02 01 FF"}, IntRow{"Min1Byte", -128, "02 01 80"},
                                           IntRow{"Minus129", -129, "02 02 FF 7F"},
                                           IntRow{"Int64Max", INT64_MAX, "02 08 7F FF FF FF FF FF FF FF"},
                                           IntRow{"Int64Min", INT64_MIN, "02 08 80 00 00 00 00 00 00 00"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BerIntegerLimits, UnsignedMaxUsesNineBytesAndDecodes) {
    Writer w;
    w.unsignedInteger(tags::kInteger, UINT64_MAX);
    EXPECT_EQ(w.bytes(), hex("02 09 00 FF FF FF FF FF FF FF FF"));
    Reader r(w.bytes());
    EXPECT_EQ(*r.readUint64(tags::kInteger), UINT64_MAX);
}

struct BadContents {
    const char* name;
    const char* bytes;
    const char* reason;
};

class ContentsRejected : public ::testing::TestWithParam<BadContents> {};

template <class R>
Status statusOf(const R& r) {
    return r ? Status{} : Status{r.error()};
}

// Decodes by the tag number of the TLV; context class = unsigned INTEGER,
// private class = INTEGER narrowed to uint16_t.
Status decodeByTag(const Tlv& t) {
    switch (t.tag.number) {
    case 1: return statusOf(decodeBoolean(t));
    case 2:
        if (t.tag.cls == TagClass::Private) return statusOf(decodeIntegerAs<uint16_t>(t));
        if (t.tag.cls == TagClass::Context) return statusOf(decodeUint64(t));
        return statusOf(decodeInt64(t));
    case 3: return statusOf(decodeBitString(t));
    case 4: return statusOf(decodeOctetString(t));
    case 5: return decodeNull(t);
    case 6: return statusOf(decodeOid(t));
    case 12: return statusOf(decodeUtf8String(t));
    case 26: return statusOf(decodeVisibleString(t));
    }
    return makeError(0, "no decoder");
}

TEST_P(ContentsRejected, WithPreciseReason) {
    const auto bytes = hex(GetParam().bytes);
    Reader r(bytes);
    auto t = r.read();
    ASSERT_TRUE(t.ok()) << t.error().text();
    auto s = decodeByTag(*t);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().reason.find(GetParam().reason), std::string::npos) << s.error().text();
}

INSTANTIATE_TEST_SUITE_P(
    Values, ContentsRejected,
    ::testing::Values(BadContents{"EmptyInteger", "02 00", "empty contents"},
                      BadContents{"IntegerOverflows64Bits", "02 09 01 00 00 00 00 00 00 00 00",
                                  "9 bytes overflows 64 bits"},
                      BadContents{"NegativeAsUnsigned", "82 01 FF", "negative INTEGER"},
                      BadContents{"UnsignedOverflow", "82 0A 00 01 00 00 00 00 00 00 00 00", "overflows 64 bits"},
                      BadContents{"Uint16OutOfRange", "C2 03 01 00 00", "value 65536 out of range 0..65535"},
                      BadContents{"ConstructedInteger", "22 03 02 01 00", "constructed encoding of INTEGER"},
                      BadContents{"BooleanTwoBytes", "01 02 00 00", "BOOLEAN of 2 bytes"},
                      BadContents{"NullWithContents", "05 01 00", "NULL with 1 content bytes"},
                      BadContents{"BitStringNoUnusedOctet", "03 00", "without its unused-bits octet"},
                      BadContents{"BitStringEightUnused", "03 02 08 00", "8 unused bits"},
                      BadContents{"EmptyBitStringWithUnused", "03 01 03", "empty BIT STRING with 3 unused"},
                      BadContents{"ConstructedOctetString", "24 03 04 01 00", "constructed encoding of OCTET STRING"},
                      BadContents{"VisibleStringControlChar", "1A 02 41 0A", "byte 10 not allowed"},
                      BadContents{"Utf8Truncated", "0C 02 41 E2", "truncated UTF-8"},
                      BadContents{"Utf8Overlong", "0C 02 C0 80", "invalid UTF-8"},
                      BadContents{"Utf8Surrogate", "0C 03 ED A0 80", "invalid UTF-8 code point"},
                      BadContents{"OidEmpty", "06 00", "empty contents"},
                      BadContents{"OidEndsInArc", "06 02 28 81", "ends inside an arc"},
                      BadContents{"OidLeading80", "06 03 28 80 01", "leading 0x80"},
                      BadContents{"OidArcTooBig", "06 07 28 90 80 80 80 80 00", "exceeds 32 bits"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BerContents, BitStringKeepsBitCountAndClearsPadding) {
    const auto bytes = hex("03 03 06 81 FF");  // 10 bits, padding bits set by the sender
    Reader r(bytes);
    auto b = r.readBitString(tags::kBitString);
    ASSERT_TRUE(b.ok());
    EXPECT_EQ(b->bitCount, 10u);
    EXPECT_EQ(b->toText(), "1000000111");
    Writer w;
    w.bitString(tags::kBitString, *b);
    EXPECT_EQ(w.bytes(), hex("03 03 06 81 C0"));
}

TEST(BerContents, OidRoundTripsMmsAbstractSyntax) {
    Oid oid{{1, 0, 9506, 2, 1}};
    Writer w;
    ASSERT_TRUE(w.oid(tags::kOid, oid));
    EXPECT_EQ(w.bytes(), hex("06 05 28 CA 22 02 01"));
    Reader r(w.bytes());
    EXPECT_EQ(*r.readOid(tags::kOid), oid);
    Oid joint{{2, 999, 3}};
    Writer w2;
    ASSERT_TRUE(w2.oid(tags::kOid, joint));
    EXPECT_EQ(w2.bytes(), hex("06 03 88 37 03"));
    EXPECT_EQ(Reader(w2.bytes()).readOid(tags::kOid)->text(), "2.999.3");
}

TEST(BerContents, WriterRefusesInvalidOid) {
    Writer w;
    EXPECT_FALSE(w.oid(tags::kOid, Oid{{1}}));
    EXPECT_FALSE(w.oid(tags::kOid, Oid{{3, 1}}));
    EXPECT_FALSE(w.oid(tags::kOid, Oid{{1, 40}}));
    EXPECT_EQ(w.size(), 0u);
}

// ---- writer lengths -------------------------------------------------------

struct LengthRow {
    const char* name;
    std::size_t contents;
    const char* header;
};

class WriterLength : public ::testing::TestWithParam<LengthRow> {};

TEST_P(WriterLength, BackPatchesMinimalLengthAroundNestedContent) {
    Writer w;
    w.begin(ctxC(1));
    w.begin(tags::kSequence);
    w.primitive(tags::kOctetString, std::vector<uint8_t>(GetParam().contents, 0xA5));
    w.end();
    w.end();
    EXPECT_EQ(w.openCount(), 0u);
    const auto header = hex(GetParam().header);
    ASSERT_GE(w.size(), header.size());
    EXPECT_EQ(std::vector<uint8_t>(w.bytes().begin(), w.bytes().begin() + header.size()), header);
    // Reading back finds the octet string intact.
    Reader r(w.bytes());
    auto outer = r.enter(ctxC(1));
    ASSERT_TRUE(outer.ok());
    auto seq = outer->enter(tags::kSequence);
    ASSERT_TRUE(seq.ok());
    auto os = seq->readOctetString(tags::kOctetString);
    ASSERT_TRUE(os.ok()) << os.error().text();
    EXPECT_EQ(os->size(), GetParam().contents);
    EXPECT_TRUE(r.atEnd());
}

INSTANTIATE_TEST_SUITE_P(Sizes, WriterLength,
                         ::testing::Values(LengthRow{"Short", 10, "A1 0E 30 0C 04 0A"},
                                           LengthRow{"OuterCrosses127", 124, "A1 81 80 30 7E 04 7C"},
                                           LengthRow{"InnerLong1", 200, "A1 81 CE 30 81 CB 04 81 C8"},
                                           LengthRow{"TwoByteLength", 300, "A1 82 01 34 30 82 01 30 04 82 01 2C"},
                                           LengthRow{"ThreeByteLength", 70000,
                                                     "A1 83 01 11 7A 30 83 01 11 75 04 83 01 11 70"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BerWriter, BooleanTrueIsOneAndAnyNonZeroReadsTrue) {
    Writer w;
    w.boolean(tags::kBoolean, true);
    w.boolean(tags::kBoolean, false);
    EXPECT_EQ(w.bytes(), hex("01 01 01 01 01 00"));
    const auto ff = hex("01 01 FF");
    EXPECT_TRUE(*Reader(ff).readBoolean(tags::kBoolean));
}

TEST(BerWriter, HighTagNumbersRoundTrip) {
    for (uint32_t n : {30u, 31u, 127u, 128u, 16383u, 16384u, kMaxTagNumber}) {
        Writer w;
        w.null(Tag{TagClass::Private, false, n});
        Reader r(w.bytes());
        auto t = r.read();
        ASSERT_TRUE(t.ok()) << n << ": " << t.error().text();
        EXPECT_EQ(t->tag.number, n);
        EXPECT_EQ(t->tag.cls, TagClass::Private);
    }
}

}  // namespace
