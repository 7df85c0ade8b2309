// Stored forms of values and their text: round trips, refusals, layouts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "model/values.h"

using namespace zv::model;

namespace {

struct TextCase {
    const char *name;
    AI_VAL_TYPE type;
    std::string text;
};

std::ostream &operator<<(std::ostream &os, const TextCase &c) { return os << c.name; }

class ValueTextRoundTrip : public ::testing::TestWithParam<TextCase> {};

// The canonical text of every type reads back to a value that prints as the same text.
TEST_P(ValueTextRoundTrip, TextToValueToTextIsIdentity) {
    const TextCase &c = GetParam();
    std::vector<uint8_t> v(stored_size(c.type) + 16, 0xAA);
    ASSERT_EQ(text_to_value(c.type, c.text, v.data()), 0) << c.text;
    // Nothing written beyond the stored size.
    for (size_t i = stored_size(c.type); i < v.size(); ++i) ASSERT_EQ(v[i], 0xAA);
    char out[AI_SIZE_UNISTRING255];
    ASSERT_EQ(value_to_text(c.type, v.data(), out, sizeof out), 0);
    EXPECT_EQ(std::string(out), c.text);
    std::vector<uint8_t> again(stored_size(c.type), 0);
    ASSERT_EQ(text_to_value(c.type, out, again.data()), 0);
    EXPECT_EQ(0, std::memcmp(again.data(), v.data(), again.size()));
}

const TextCase kRoundTrips[] = {
    {"BooleanTrue", VAL_TYPE_BOOLEAN, "true"},
    {"BooleanFalse", VAL_TYPE_BOOLEAN, "false"},
    {"Int8Min", VAL_TYPE_INT8, "-128"},
    {"Int8Max", VAL_TYPE_INT8, "127"},
    {"Int16Min", VAL_TYPE_INT16, "-32768"},
    {"Int32Min", VAL_TYPE_INT32, "-2147483648"},
    {"Int128HoldsInt64Min", VAL_TYPE_INT128, "-9223372036854775808"},
    {"Int8uMax", VAL_TYPE_INT8U, "255"},
    {"Int16uMax", VAL_TYPE_INT16U, "65535"},
    {"Int32uMax", VAL_TYPE_INT32U, "4294967295"},
    {"Float32Tenth", VAL_TYPE_FLOAT32, "0.1"},
    {"Float32Max", VAL_TYPE_FLOAT32, "3.4028235e+38"},
    {"Float32NegativeZero", VAL_TYPE_FLOAT32, "-0"},
    {"Float64Tenth", VAL_TYPE_FLOAT64, "0.1"},
    {"Float64Tiny", VAL_TYPE_FLOAT64, "1e-300"},
    {"Float64Infinity", VAL_TYPE_FLOAT64, "-inf"},
    {"CodedEnumOn", VAL_TYPE_CODEDENUM, "10"},
    {"TcmdHigher", VAL_TYPE_TCMD, "10"},
    {"Ostring8", VAL_TYPE_OSTRING8, "0102A0FF"},
    {"Ostring8Empty", VAL_TYPE_OSTRING8, ""},
    {"Ostring64Full", VAL_TYPE_OSTRING64, std::string(128, 'E')},
    {"Vstring64Full", VAL_TYPE_VSTRING64, std::string(64, 'x')},
    {"Vstring65Full", VAL_TYPE_VSTRING65, std::string(65, 'y')},
    {"Vstring129Reference", VAL_TYPE_VSTRING129, "CMIEDMON/LLN0$dsTemp"},
    {"Vstring255Full", VAL_TYPE_VSTRING255, std::string(255, 'z')},
    {"Unistring255Chinese", VAL_TYPE_UNISTRING255, "主变油温 °C"},
    {"Unistring255LongestInBytes", VAL_TYPE_UNISTRING255,
     std::string(170, 'a') +
         [] {
             std::string s;
             for (int i = 0; i < 85; ++i) s += "温";  // 170 + 255 bytes, 255 characters
             return s;
         }()},
    {"Quality", VAL_TYPE_QUALITY, "0100000000001"},
    {"TimestampWithQuality", VAL_TYPE_TIMESTAMP, "2026-12-07T07:45:40.500000000Z q=0x0A"},
    {"TimestampEpoch", VAL_TYPE_TIMESTAMP, "1970-01-01T00:00:00.000000000Z"},
    {"TimestampLast", VAL_TYPE_TIMESTAMP, "2106-02-07T06:28:15.000000000Z"},
    {"EntryTime", VAL_TYPE_ENTRYTIME, "2026-12-07T07:45:40.123Z"},
    {"EntryTimeBase", VAL_TYPE_ENTRYTIME, "1984-01-01T00:00:00.000Z"},
    {"OptFlds", VAL_TYPE_OPTFLDS, "0111100110"},
    {"TrgOps", VAL_TYPE_TRGC, "011011"},
    {"Check", VAL_TYPE_CHECK, "10"},
    {"EntryId", VAL_TYPE_ENTRYID, "0123456789ABCDEF"},
};

INSTANTIATE_TEST_SUITE_P(EveryType, ValueTextRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto &info) { return std::string(info.param.name); });

class ValueTextRefused : public ::testing::TestWithParam<TextCase> {};

// Text that does not fit the type is refused and the output left alone.
TEST_P(ValueTextRefused, LeavesOutputUntouched) {
    const TextCase &c = GetParam();
    std::vector<uint8_t> v(AI_SIZE_UNISTRING255 + 8, 0xAA);
    EXPECT_NE(text_to_value(c.type, c.text, v.data()), 0);
    for (uint8_t b : v) ASSERT_EQ(b, 0xAA);
}

const TextCase kRefusals[] = {
    {"Int8Above", VAL_TYPE_INT8, "128"},
    {"Int8uNegative", VAL_TYPE_INT8U, "-1"},
    {"Int16TrailingText", VAL_TYPE_INT16, "12x"},
    {"Int32Empty", VAL_TYPE_INT32, ""},
    {"Int32uAbove", VAL_TYPE_INT32U, "4294967296"},
    {"Float32Word", VAL_TYPE_FLOAT32, "abc"},
    {"BooleanOtherWord", VAL_TYPE_BOOLEAN, "yes"},
    {"Vstring64TooLong", VAL_TYPE_VSTRING64, std::string(65, 'x')},
    {"Vstring65TooLong", VAL_TYPE_VSTRING65, std::string(66, 'x')},
    {"Vstring129TooLong", VAL_TYPE_VSTRING129, std::string(130, 'x')},
    {"Vstring255TooLong", VAL_TYPE_VSTRING255, std::string(256, 'x')},
    {"Unistring256Characters", VAL_TYPE_UNISTRING255, std::string(256, 'x')},
    {"UnistringOver512Bytes", VAL_TYPE_UNISTRING255,
     [] {
         std::string s;
         for (int i = 0; i < 200; ++i) s += "温";  // 200 characters, 600 bytes
         return s;
     }()},
    {"UnistringInvalidUtf8", VAL_TYPE_UNISTRING255, "\xff\xfe"},
    {"Ostring8OddDigits", VAL_TYPE_OSTRING8, "123"},
    {"Ostring8TooLong", VAL_TYPE_OSTRING8, "010203040506070809"},
    {"OstringNotHex", VAL_TYPE_OSTRING64, "zz"},
    {"EntryIdTooLong", VAL_TYPE_ENTRYID, "0123456789ABCDEF00"},
    {"OptFldsOver16Bits", VAL_TYPE_OPTFLDS, std::string(17, '1')},
    {"TrgOpsNotBits", VAL_TYPE_TRGC, "012"},
    {"QualityNotBits", VAL_TYPE_QUALITY, "true"},
    {"TimestampNoSuchDay", VAL_TYPE_TIMESTAMP, "2026-02-29T00:00:00Z"},
    {"TimestampBeyond2106", VAL_TYPE_TIMESTAMP, "2200-01-01T00:00:00Z"},
    {"TimestampBefore1970", VAL_TYPE_TIMESTAMP, "1969-12-31T23:59:59Z"},
    {"TimestampGarbageAfter", VAL_TYPE_TIMESTAMP, "2026-01-01T00:00:00Z later"},
    {"EntryTimeNoTime", VAL_TYPE_ENTRYTIME, "2026-01-01"},
    {"Struct", VAL_TYPE_STRUCT, "1"},
    {"Unknown", VAL_TYPE_UNKNOWN, "1"},
    {"OutsideEnumeration", AI_VAL_TYPE(31), "1"},
};

INSTANTIATE_TEST_SUITE_P(BadText, ValueTextRefused, ::testing::ValuesIn(kRefusals),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(StoredForm, OptFldsBitsReadAsLittleEndianNumberFromByteTwo) {
    uint8_t v[4] = {};
    // Bit 1 (sequence number) and bit 8 (configuration revision).
    ASSERT_EQ(text_to_value(VAL_TYPE_OPTFLDS, "0100000010", v), 0);
    int16_t nbits;
    std::memcpy(&nbits, v, 2);
    EXPECT_EQ(nbits, 10);
    EXPECT_EQ(v[2], 0x40);
    EXPECT_EQ(v[3], 0x80);
    EXPECT_EQ(unsigned(v[2] | v[3] << 8), 0x8040u);
}

TEST(StoredForm, TrgOpsOctetIsByteTwo) {
    uint8_t v[4] = {0, 0, 0, 0x55};
    ASSERT_EQ(text_to_value(VAL_TYPE_TRGC, "011001", v), 0);
    EXPECT_EQ(v[2], 0x64);
    EXPECT_EQ(v[3], 0x55) << "TRGC is 3 bytes; the fourth byte of a 4-byte area stays";
}

TEST(StoredForm, BooleanAcceptsUpperCaseAndDigits) {
    uint8_t v = 7;
    ASSERT_EQ(text_to_value(VAL_TYPE_BOOLEAN, "TRUE", &v), 0);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(text_to_value(VAL_TYPE_BOOLEAN, "0", &v), 0);
    EXPECT_EQ(v, 0);
}

TEST(StoredForm, TextOfBrokenStoredFormsIsRefused) {
    char out[AI_SIZE_UNISTRING255];
    uint8_t no_nul[AI_SIZE_VSTRING64];
    std::memset(no_nul, 'x', sizeof no_nul);
    EXPECT_NE(value_to_text(VAL_TYPE_VSTRING64, no_nul, out, sizeof out), 0);
    uint8_t bits[4] = {0x7F, 0x00, 0, 0};  // 127 bits claimed
    EXPECT_NE(value_to_text(VAL_TYPE_QUALITY, bits, out, sizeof out), 0);
    TimeStamp_TDEF ts{0, 0x1000000, 0};  // fraction beyond 24 bits
    EXPECT_NE(value_to_text(VAL_TYPE_TIMESTAMP, &ts, out, sizeof out), 0);
    EntryTime_TDEF et{86400000, 0};
    EXPECT_NE(value_to_text(VAL_TYPE_ENTRYTIME, &et, out, sizeof out), 0);
}

TEST(StoredForm, TextNeverOverrunsTheCallersBuffer) {
    uint8_t v[AI_SIZE_VSTRING255];
    ASSERT_EQ(text_to_value(VAL_TYPE_VSTRING255, std::string(255, 'q'), v), 0);
    char out[300];
    std::memset(out, '#', sizeof out);
    EXPECT_NE(value_to_text(VAL_TYPE_VSTRING255, v, out, 100), 0);
    for (size_t i = 100; i < sizeof out; ++i) ASSERT_EQ(out[i], '#');
}

// Every 24-bit fraction survives value -> text -> value (sampled densely).
TEST(TimestampText, FractionsReadBackExactly) {
    for (uint32_t f = 0; f <= 0xFFFFFF; f += 251) {
        char text[80];
        ASSERT_EQ(utc_to_text(1796629540u, f, 0, text, sizeof text), 0);
        uint32_t s, f2, q;
        ASSERT_EQ(text_to_utc(text, s, f2, q), 0) << text;
        ASSERT_EQ(f2, f) << text;
        ASSERT_EQ(s, 1796629540u);
    }
    char text[80];
    ASSERT_EQ(utc_to_text(0, 0xFFFFFF, 0, text, sizeof text), 0);
    uint32_t s, f, q;
    ASSERT_EQ(text_to_utc(text, s, f, q), 0);
    EXPECT_EQ(f, 0xFFFFFFu);
}

TEST(TimestampText, AcceptsShorterForms) {
    uint32_t s = 0, f = 1, q = 1;
    ASSERT_EQ(text_to_utc("2026-12-07 07:45:40", s, f, q), 0);
    EXPECT_EQ(s, 1796629540u);
    EXPECT_EQ(f, 0u);
    EXPECT_EQ(q, 0u);
    ASSERT_EQ(text_to_utc("2026-12-07T07:45:40.5Z", s, f, q), 0);
    EXPECT_EQ(f, 0x800000u);
}

TEST(TimestampText, CurrentTimeIsRecentAndPrintable) {
    TimeStamp_TDEF ts;
    current_time(ts);
    EXPECT_GT(ts.secs, 1700000000u);
    EXPECT_LE(ts.fraction, 0xFFFFFFu);
    char text[80];
    EXPECT_EQ(value_to_text(VAL_TYPE_TIMESTAMP, &ts, text, sizeof text), 0);
}

TEST(TypeNames, EveryTypeHasAShortName) {
    for (int t = VAL_TYPE_UNKNOWN; t <= VAL_TYPE_STRUCT; ++t) {
        const char *n = type_name(AI_VAL_TYPE(t));
        ASSERT_NE(n, nullptr);
        EXPECT_LT(std::strlen(n), 21u) << "the application's type cell holds 21 bytes";
    }
    EXPECT_EQ(type_name(AI_VAL_TYPE(28)), nullptr);
    EXPECT_STREQ(type_name(VAL_TYPE_FLOAT32), "FLOAT32");
}

TEST(SclValues, DoublePointPositionsByName) {
    uint8_t v[AI_SIZE_CODEDENUM] = {};
    ASSERT_EQ(scl_text_to_value(VAL_TYPE_CODEDENUM, " on ", v), 0);
    char out[16];
    ASSERT_EQ(value_to_text(VAL_TYPE_CODEDENUM, v, out, sizeof out), 0);
    EXPECT_STREQ(out, "10");
}

}  // namespace
