// MMS codec: round trips of every PDU kind, Data and TypeDescription wire
// forms, limits, and the rejection of truncated or inconsistent input.
#include "mms/pdu.h"
#include "mms_samples.h"
#include "zvt/bytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace zv::mms;
using zv::test::confirmedRequest;
using zv::test::confirmedResponse;
using zv::test::fileError;
using zv::test::measurementType;
using zv::test::PduRow;
using zv::test::twoVariables;
using zvt::hex;
using zvt::toHex;

namespace zv::test {
void PrintTo(const PduRow& r, std::ostream* os) { *os << r.name; }
}  // namespace zv::test

namespace {

// ---- round trips of every PDU kind -----------------------------------------------

class PduRoundTrip : public ::testing::TestWithParam<PduRow> {};

TEST_P(PduRoundTrip, DecodesWhatWasEncodedAndReencodesIdentically) {
    const Pdu original = GetParam().make();
    const auto bytes = encode(original);
    auto decoded = decode(bytes);
    ASSERT_TRUE(decoded.ok()) << decoded.error().text() << "\n" << toHex(bytes);
    EXPECT_EQ(decoded->index(), original.index());
    EXPECT_EQ(describe(*decoded), describe(original));
    EXPECT_EQ(toHex(encode(*decoded)), toHex(bytes));
}

INSTANTIATE_TEST_SUITE_P(Kinds, PduRoundTrip, ::testing::ValuesIn(zv::test::pduSamples()),
                         [](const auto& info) { return std::string(info.param.name); });

// Field-level checks where a symmetric encoder/decoder fault would survive the
// byte comparison above.
TEST(PduFields, AlternateAccessSurvivesRoundTrip) {
    auto d = decode(encode(confirmedRequest(ReadRequest{true, twoVariables()})));
    ASSERT_TRUE(d.ok()) << d.error().text();
    const auto& read = std::get<ReadRequest>(std::get<ConfirmedRequest>(*d).service);
    EXPECT_TRUE(read.specWithResult);
    EXPECT_EQ(read.access, twoVariables());
    EXPECT_EQ(std::get<ConfirmedRequest>(*d).invokeId, 0x12345u);
}

TEST(PduFields, TypeDescriptionSurvivesRoundTrip) {
    auto d = decode(encode(confirmedResponse(GetVariableAccessAttributesResponse{true, measurementType()})));
    ASSERT_TRUE(d.ok()) << d.error().text();
    const auto& a = std::get<GetVariableAccessAttributesResponse>(std::get<ConfirmedResponse>(*d).service);
    EXPECT_TRUE(a.mmsDeletable);
    EXPECT_EQ(a.type, measurementType());
}

TEST(PduFields, ServiceErrorKeepsClassCodesAndText) {
    auto d = decode(encode(ConfirmedError{9, 2u, fileError()}));
    ASSERT_TRUE(d.ok()) << d.error().text();
    const auto& e = std::get<ConfirmedError>(*d);
    EXPECT_EQ(e.invokeId, 9u);
    EXPECT_EQ(e.modifierPosition, 2u);
    EXPECT_EQ(e.error.errorClass, kFile);
    EXPECT_EQ(e.error.code, 7);
    EXPECT_EQ(e.error.additionalCode, -3);
    EXPECT_EQ(e.error.additionalDescription, std::string("file busy"));
}

TEST(PduFields, DefaultsAreLeftOutOnTheWire) {
    // moreFollows TRUE (GetNameList, FileRead) and FALSE (FileDirectory) are defaults.
    EXPECT_EQ(toHex(encode(ConfirmedResponse{1, GetNameListResponse{{"A"}, true}})), "a10a020101a105a0031a0141");
    EXPECT_EQ(toHex(encode(ConfirmedResponse{1, FileReadResponse{{0x41}, true}})), "a109020101bf4903800141");
    EXPECT_EQ(toHex(encode(ConfirmedResponse{1, FileDirectoryResponse{}})), "a10a020101bf4d04a0023000");
}

TEST(PduFields, UnmodelledServiceKeepsInvokeIdAndBytes) {
    // defineNamedVariableList [11]: a server still learns the invoke id to reject it.
    const auto bytes = hex("a0 0a 02 01 2a ab 05 a0 03 80 01 58");
    auto d = decode(bytes);
    ASSERT_TRUE(d.ok()) << d.error().text();
    const auto& q = std::get<ConfirmedRequest>(*d);
    EXPECT_EQ(q.invokeId, 42u);
    const auto* other = std::get_if<OtherService>(&q.service);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->tag, 11u);
    EXPECT_EQ(encode(*d), bytes);
}

// ---- Data wire forms --------------------------------------------------------------

struct DataRow {
    const char* name;
    Data data;
    const char* encoding;
};
void PrintTo(const DataRow& r, std::ostream* os) { *os << r.name; }

class DataWireForm : public ::testing::TestWithParam<DataRow> {};

TEST_P(DataWireForm, EncodesToKnownBytesAndDecodesBack) {
    zv::ber::Writer w;
    encodeData(w, GetParam().data);
    EXPECT_EQ(toHex(w.bytes()), toHex(hex(GetParam().encoding)));
    zv::ber::Reader r(w.bytes());
    auto tlv = r.read();
    ASSERT_TRUE(tlv.ok());
    auto d = decodeData(*tlv);
    ASSERT_TRUE(d.ok()) << d.error().text();
    EXPECT_EQ(*d, GetParam().data) << toText(*d);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DataWireForm,
    ::testing::Values(
        DataRow{"BooleanTrue", Data::boolean(true), "83 01 01"},
        DataRow{"BitStringQuality13", Data::bitString(zv::ber::BitString::fromText("0000000000001")), "84 03 03 00 08"},
        DataRow{"IntegerNegative", Data::integer(-200), "85 02 ff 38"},
        DataRow{"UnsignedNeedsSignOctet", Data::unsignedInt(0xFFFFFFFFu), "86 05 00 ff ff ff ff"},
        DataRow{"Float32One", Data::float32(1.0f), "87 05 08 3f 80 00 00"},
        DataRow{"Float64MinusTwo", Data::float64(-2.0), "87 09 0b c0 00 00 00 00 00 00 00"},
        DataRow{"Float32NaNKeepsBits", Data::float32(std::numeric_limits<float>::quiet_NaN()), "87 05 08 7f c0 00 00"},
        DataRow{"OctetString", Data::octetString({0, 1, 0xa2}), "89 03 00 01 a2"},
        DataRow{"VisibleString", Data::visibleString("RPT"), "8a 03 52 50 54"},
        DataRow{"BinaryTimeShort", Data::binaryTime(BinaryTime{1000, std::nullopt}), "8c 04 00 00 03 e8"},
        DataRow{"BinaryTimeWithDays", Data::binaryTime(BinaryTime{26388144, 15681}), "8c 06 01 92 a6 b0 3d 41"},
        DataRow{"MmsStringUtf8", Data::mmsString("\xc3\x9c"), "90 02 c3 9c"},
        DataRow{"UtcTime", Data::utcTime(UtcTime{0x6b1e3a14, 0x123456, 0x0a}), "91 08 6b 1e 3a 14 12 34 56 0a"},
        DataRow{"EmptyStructure", Data::structure({}), "a2 00"},
        DataRow{"ArrayOfStructures", Data::array({Data::structure({Data::boolean(false)}), Data::structure({})}),
                "a1 07 a2 03 83 01 00 a2 00"}),
    [](const auto& info) { return std::string(info.param.name); });

Data nestedStructures(unsigned levels) {
    Data d = Data::boolean(true);
    for (unsigned i = 0; i < levels; ++i) d = Data::structure({d});
    return d;
}

Result<Data> encodeThenDecode(const Data& d) {
    zv::ber::Writer w;
    encodeData(w, d);
    const auto bytes = w.take();
    zv::ber::Reader r(bytes);
    ZV_TRY(zv::ber::Tlv t, r.read());
    return decodeData(t);
}

TEST(DataLimits, NestingUpToMaxDataDepthDecodes) {
    auto d = encodeThenDecode(nestedStructures(kMaxDataDepth));
    ASSERT_TRUE(d.ok()) << d.error().text();
    EXPECT_EQ(*d, nestedStructures(kMaxDataDepth));
}

TEST(DataLimits, NestingBeyondMaxDataDepthIsRejected) {
    auto d = encodeThenDecode(nestedStructures(kMaxDataDepth + 1));
    ASSERT_FALSE(d.ok());
    EXPECT_EQ(d.error().reason, "Data nesting exceeds " + std::to_string(kMaxDataDepth));
}

TEST(DataLimits, DeepDataInsideReadResponseStaysWithinBerDepth) {
    ReadResponse r;
    r.results.push_back(AccessResult::ok(nestedStructures(kMaxDataDepth)));
    auto d = decode(encode(ConfirmedResponse{1, r}));
    EXPECT_TRUE(d.ok()) << d.error().text();
}

// MMS255String: a journal variable's tag of 255 bytes decodes, 256 does not.
TEST(JournalLimits, VariableTagOfMaxLengthIsAcceptedAndOneMoreRejected) {
    auto withTag = [](size_t n) {
        ReadJournalResponse r;
        JournalEntry e;
        e.entryId = {1, 2, 3, 4, 5, 6, 7, 8};
        e.variables.push_back({std::string(n, 'x'), Data::boolean(true)});
        r.entries.push_back(e);
        return decode(encode(ConfirmedResponse{5, r}));
    };
    auto ok = withTag(kMaxJournalTagLength);
    ASSERT_TRUE(ok.ok()) << ok.error().text();
    const auto& r = std::get<ReadJournalResponse>(std::get<ConfirmedResponse>(*ok).service);
    EXPECT_EQ(r.entries.at(0).variables.at(0).tag.size(), kMaxJournalTagLength);
    auto bad = withTag(kMaxJournalTagLength + 1);
    ASSERT_FALSE(bad.ok());
    EXPECT_NE(bad.error().reason.find("variableTag of 256 bytes exceeds 255"), std::string::npos) << bad.error().text();
}

TEST(IdentifierLimits, IdentifierOfMaxLengthIsAcceptedAndOneMoreRejected) {
    const std::string atLimit(kMaxIdentifierLength, 'A');
    auto ok = decode(encode(confirmedRequest(GetNamedVariableListAttributesRequest{ObjectName::vmd(atLimit)})));
    ASSERT_TRUE(ok.ok()) << ok.error().text();
    auto bad = decode(encode(confirmedRequest(GetNamedVariableListAttributesRequest{ObjectName::vmd(atLimit + "B")})));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().reason, "Identifier of " + std::to_string(kMaxIdentifierLength + 1) + " characters exceeds " +
                                      std::to_string(kMaxIdentifierLength));
}

// ---- time conversions ------------------------------------------------------------

// The buffered report of the reference session: TimeOfEntry 8c 06 0192a6b0 3d41
// was sent at 1796627988.144 s (2026-12-07 07:19:48.144 UTC).
TEST(Times, BinaryTimeMatchesReferenceReportTimestamp) {
    const BinaryTime t = BinaryTime::fromUnixMs(1796627988144);
    EXPECT_EQ(t.msOfDay, 26388144u);
    EXPECT_EQ(t.days, 15681);
    EXPECT_EQ(t.toUnixMs(), 1796627988144);
    EXPECT_EQ(BinaryTime::fromUnixMs(441763200000).days, 0);  // 1984-01-01
    EXPECT_EQ(BinaryTime::fromUnixMs(0).days, 0);             // before 1984 clamps
}

TEST(Times, UtcTimeFractionIsTwentyFourBitsOfASecond) {
    const UtcTime half = UtcTime::fromUnixNs(1796627988500000000, 0x0a);
    EXPECT_EQ(half.seconds, 1796627988u);
    EXPECT_EQ(half.fraction, 0x800000u);
    EXPECT_EQ(half.quality, 0x0a);
    EXPECT_EQ(half.toUnixNs(), 1796627988500000000);
    // One fraction step is about 60 ns; a round trip loses less than that.
    const int64_t ns = 1796627988123456789;
    EXPECT_LT(ns - UtcTime::fromUnixNs(ns).toUnixNs(), 60);
    EXPECT_GE(ns - UtcTime::fromUnixNs(ns).toUnixNs(), 0);
}

// ---- GeneralizedTime of file attributes ---------------------------------------------

struct GtRow {
    const char* name;
    std::string text;
    int64_t seconds;  // when accepted
    uint32_t nanoseconds;
    const char* refusal;  // part of the reason when refused, else nullptr
};
void PrintTo(const GtRow& r, std::ostream* os) { *os << r.text; }

class GeneralizedTimeText : public ::testing::TestWithParam<GtRow> {};

TEST_P(GeneralizedTimeText, TakesEveryDeviceFormAndRefusesMalformedTimesWithAReason) {
    const GtRow& r = GetParam();
    auto t = decodeGeneralizedTime(r.text);
    if (r.refusal) {
        ASSERT_FALSE(t.ok()) << "taken as " << t->seconds;
        EXPECT_NE(t.error().reason.find(r.refusal), std::string::npos) << t.error().reason;
        EXPECT_FALSE(parseGeneralizedTime(r.text).has_value());
    } else {
        ASSERT_TRUE(t.ok()) << t.error().reason << " at " << t.error().offset;
        EXPECT_EQ(t->seconds, r.seconds);
        EXPECT_EQ(t->nanoseconds, r.nanoseconds);
    }
}

// 1796646896 is 2026-12-07 12:34:56 UTC.
INSTANTIATE_TEST_SUITE_P(
    Texts, GeneralizedTimeText,
    ::testing::Values(GtRow{"MillisecondsZulu", "20261207123456.000Z", 1796646896, 0, nullptr},
                      GtRow{"FractionZulu", "20261207123456.123Z", 1796646896, 123000000, nullptr},
                      GtRow{"NineDigitFraction", "20261207123456.123456789Z", 1796646896, 123456789, nullptr},
                      GtRow{"CommaAsDecimalMark", "20261207123456,25Z", 1796646896, 250000000, nullptr},
                      GtRow{"Zulu", "20261207123456Z", 1796646896, 0, nullptr},
                      GtRow{"NoZoneIsUtc", "20261207123456", 1796646896, 0, nullptr},
                      GtRow{"PlusEightHours", "20261207203456+0800", 1796646896, 0, nullptr},
                      GtRow{"MinusHalfHours", "20261207110456-0130", 1796646896, 0, nullptr},
                      GtRow{"OffsetHoursOnly", "20261207203456+08", 1796646896, 0, nullptr},
                      GtRow{"FractionAndOffset", "20261207203456.75+0800", 1796646896, 750000000, nullptr},
                      GtRow{"OffsetAcrossNewYear", "20270101003456+1200", 1798720496, 0, nullptr},
                      GtRow{"LeapDay", "20240229235959.5Z", 1709251199, 500000000, nullptr},
                      GtRow{"LeapSecondIsTheNextSecond", "20161231235960Z", 1483228800, 0, nullptr},
                      GtRow{"TooShort", "2026120712345Z", 0, 0, "'Z' where a digit"},
                      GtRow{"DateOnly", "20261207", 0, 0, "ends after 8 of the 14 digits"},
                      GtRow{"Empty", "", 0, 0, "ends after 0 of the 14 digits"},
                      GtRow{"Month13", "20261307123456Z", 0, 0, "month 13 is not 1..12"},
                      GtRow{"February30", "20260230123456Z", 0, 0, "day 30 is not 1..28 in 2026-2"},
                      GtRow{"February29OfCommonYear", "21000229123456Z", 0, 0, "day 29 is not 1..28 in 2100-2"},
                      GtRow{"Hour24", "20261207243456Z", 0, 0, "hour 24 is not 0..23"},
                      GtRow{"Minute60", "20261207126056Z", 0, 0, "minute 60 is not 0..59"},
                      GtRow{"Second61", "20261207123461Z", 0, 0, "second 61 is not 0..60"},
                      GtRow{"MarkWithoutDigits", "20261207123456.Z", 0, 0, "no digit after the decimal mark"},
                      GtRow{"TenDigitFraction", "20261207123456.1234567890Z", 0, 0, "fraction of more than 9 digits"},
                      GtRow{"OffsetOfThreeDigits", "20261207123456+080", 0, 0, "is not +hh or +hhmm"},
                      GtRow{"OffsetOfFiveDigits", "20261207123456+08000", 0, 0, "'0' after the time"},
                      GtRow{"OffsetHour24", "20261207123456+2400", 0, 0, "+2400 is not a time zone offset"},
                      GtRow{"OffsetAfterZ", "20261207123456Z+0100", 0, 0, "'+' after the time"},
                      GtRow{"LowerCaseZ", "20261207123456z", 0, 0, "'z' after the time"},
                      GtRow{"SpaceInDigits", "2026 207123456Z", 0, 0, "' ' where a digit"},
                      GtRow{"HighByte", "20261207123456\xB5", 0, 0, "byte 181 after the time"},
                      GtRow{"EmbeddedNul", std::string("20261207123456\0Z", 16), 0, 0, "byte 0 after the time"},
                      GtRow{"OverLong", "20261207123456.123456789+0800000", 0, 0, "32 characters, more than 29"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Times, GeneralizedTimeFormatsWhatItParses) {
    EXPECT_EQ(formatGeneralizedTime(1796627795), "20261207071635.000Z");
    EXPECT_EQ(formatGeneralizedTime(951782400), "20000229000000.000Z");
    EXPECT_EQ(parseGeneralizedTime(formatGeneralizedTime(4102444799)), 4102444799);
}

// ---- rejected input ---------------------------------------------------------------

struct BadPdu {
    const char* name;
    const char* bytes;
    const char* reason;  // substring of the error reason
};
void PrintTo(const BadPdu& r, std::ostream* os) { *os << r.name; }

class DecodeRejects : public ::testing::TestWithParam<BadPdu> {};

TEST_P(DecodeRejects, WithPreciseReason) {
    auto d = decode(hex(GetParam().bytes));
    ASSERT_FALSE(d.ok()) << describe(*d);
    EXPECT_NE(d.error().reason.find(GetParam().reason), std::string::npos) << d.error().text();
}

INSTANTIATE_TEST_SUITE_P(
    Input, DecodeRejects,
    ::testing::Values(
        BadPdu{"Empty", "", "end of data"},
        BadPdu{"TruncatedConfirmedRequest", "a0 05 02 01 01", "length 5 exceeds remaining 3"},
        BadPdu{"TruncatedInsideService", "a0 07 02 01 01 a4 04 a1 08", "length 4 exceeds remaining 2"},
        BadPdu{"LengthBeyondInnerContainer", "a1 0a 02 01 01 a4 05 a1 03 87 05 08", "length 5 exceeds remaining 1"},
        BadPdu{"IndefiniteLength", "a0 80 02 01 01 82 00 00 00", "indefinite length"},
        BadPdu{"TrailingBytesAfterPdu", "8b 00 00", "1 trailing bytes in MMS PDU"},
        BadPdu{"ConcludeWithContents", "8b 01 00", "NULL with 1 content bytes"},
        BadPdu{"PrimitiveConfirmedRequest", "80 00", "must be constructed"},
        BadPdu{"UnknownPduKind", "a7 00", "MMS PDU [context 7 constructed] not supported"},
        BadPdu{"UniversalTopLevelTag", "30 00", "unexpected tag [universal 16 constructed]"},
        BadPdu{"MissingInvokeId", "a0 02 82 00", "expected [universal 2] but found [context 2]"},
        BadPdu{"NegativeInvokeId", "a0 05 02 01 ff 82 00", "negative INTEGER"},
        BadPdu{"InvokeIdBeyond32Bits", "a0 09 02 05 01 00 00 00 00 82 00", "value 4294967296 out of range"},
        BadPdu{"MissingService", "a0 03 02 01 01", "missing service in confirmed-RequestPDU"},
        BadPdu{"ListOfModifier", "a0 07 02 01 01 30 00 82 00", "listOfModifier not supported"},
        BadPdu{"TwoServices", "a0 07 02 01 01 82 00 82 00", "2 trailing bytes in confirmed-RequestPDU"},
        BadPdu{"ConstructedIdentify", "a0 05 02 01 01 a2 00", "constructed encoding of NULL"},
        BadPdu{"PrimitiveRead", "a0 05 02 01 01 84 00", "primitive service [context 4]"},
        BadPdu{"ReadWithoutVariableAccess", "a0 05 02 01 01 a4 00", "end of data"},
        BadPdu{"EmptyIdentifier", "a0 0b 02 01 01 a4 06 a1 04 a1 02 80 00", "empty Identifier"},
        BadPdu{"ControlCharInIdentifier", "a0 0c 02 01 01 ac 07 80 05 41 42 0a 43 44", "byte 10 not allowed"},
        BadPdu{"VariableByAddress", "a0 0f 02 01 01 a4 0a a1 08 a0 06 30 04 a1 02 80 00", "not supported (only name)"},
        BadPdu{"DomainNameWithoutItem", "a0 0e 02 01 01 ac 09 a1 07 1a 05 4c 44 30 41 42", "end of data"},
        BadPdu{"DomainNameWithThirdPart", "a0 10 02 01 01 ac 0b a1 09 1a 01 41 1a 01 42 1a 01 43",
               "3 trailing bytes in domain-specific ObjectName"},
        BadPdu{"FloatWrongExponentWidth", "a1 0e 02 01 01 a4 09 a1 07 87 05 0b 00 00 00 00",
               "floating-point of 5 bytes with exponent width 11 not supported"},
        BadPdu{"FloatTooShort", "a1 0a 02 01 01 a4 05 a1 03 87 01 08", "floating-point of 1 bytes"},
        BadPdu{"BinaryTimeFiveBytes", "a1 0e 02 01 01 a4 09 a1 07 8c 05 00 00 00 00 00",
               "binary-time of 5 bytes, expected 4 or 6"},
        BadPdu{"UtcTimeSevenBytes", "a1 10 02 01 01 a4 0b a1 09 91 07 00 00 00 00 00 00 00",
               "utc-time of 7 bytes, expected 8"},
        BadPdu{"UnsupportedDataAlternative", "a1 0a 02 01 01 a4 05 a1 03 8d 01 00",
               "Data alternative [context 13] not supported"},
        BadPdu{"PrimitiveStructure", "a1 09 02 01 01 a4 04 a1 02 82 00", "Data: primitive [context 2]"},
        BadPdu{"BitStringPaddingTooLarge", "a1 0b 02 01 01 a4 06 a1 04 84 02 09 00", "9 unused bits"},
        BadPdu{"MmsStringBadUtf8", "a1 0b 02 01 01 a4 06 a1 04 90 02 c0 80", "invalid UTF-8"},
        BadPdu{"UnknownUnconfirmedService", "a3 02 a1 00", "unconfirmed service [context 1 constructed] not supported"},
        BadPdu{"ReportWithoutResults", "a3 09 a0 07 a1 05 80 03 52 50 54", "end of data"},
        BadPdu{"InitiateWithoutDetail", "a8 06 81 01 05 82 01 05", "end of data"},
        BadPdu{"InitiateNestingBeyondInteger8", "a8 0c 81 01 05 82 01 05 83 02 01 00 a4 00",
               "value 256 out of range -128..127"},
        BadPdu{"RejectReasonOutOfRange", "a4 03 8c 01 00", "rejectReason: unexpected tag [context 12]"},
        BadPdu{"ErrorClassOutOfRange", "a2 09 80 01 01 a2 04 a0 02 8d 00", "errorClass: unexpected tag [context 13]"},
        BadPdu{"WriteResponseUnknownChoice", "a1 07 02 01 01 a5 02 82 00",
               "Write response: unexpected tag [context 2]"},
        BadPdu{"FileDirectoryEntriesNotWrapped", "a1 0a 02 01 01 bf 4d 04 a0 02 a0 00",
               "expected [universal 16 constructed] but found [context 0 constructed]"},
        BadPdu{"FileReadMoreFollowsTwoBytes", "a1 0d 02 01 01 bf 49 07 80 01 41 81 02 00 00", "BOOLEAN of 2 bytes"},
        BadPdu{"ObtainFileFromThirdServer", "a0 0b 02 01 01 bf 2e 05 a0 03 80 01 00", "sourceFileServer not supported"},
        BadPdu{"FileOpenPositionNegative", "a0 0f 02 01 01 bf 48 09 a0 04 19 02 41 42 81 01 ff", "negative INTEGER"},
        BadPdu{"TypeDescriptionUnknown", "a1 0c 02 01 01 a6 07 80 01 00 a2 02 88 00",
               "TypeDescription alternative [context 8] not supported"},
        BadPdu{"ArrayTypeWithoutElement", "a1 0f 02 01 01 a6 0a 80 01 00 a2 05 a1 03 81 01 01", "end of data"},
        BadPdu{"JournalRangeStartUnknownChoice",
               "a0 1b 02 01 01 bf 41 15 a0 09 a1 07 1a 02 4c 44 1a 01 4c a1 08 82 06 00 00 00 01 3b c4",
               "rangeStartSpec: unexpected tag [context 2]"},
        BadPdu{"JournalStartAfterWithoutEntry",
               "a0 1b 02 01 01 bf 41 15 a0 09 a1 07 1a 02 4c 44 1a 01 4c a5 08 80 06 00 00 00 01 3b c4", "end of data"},
        BadPdu{"JournalTimeOfFiveBytes",
               "a0 1a 02 01 01 bf 41 14 a0 09 a1 07 1a 02 4c 44 1a 01 4c a1 07 80 05 00 00 00 01 3b",
               "startingTime: TimeOfDay of 5 bytes, expected 4 or 6"},
        BadPdu{"JournalEntryEventForm",
               "a1 26 02 01 01 bf 41 20 a0 1e 30 1c 80 08 00 00 00 00 00 00 00 00 a1 02 30 00 a2 0c 80 06 00 00 00 01 "
               "3b c4 a2 02 a0 00",
               "JournalEntry event not supported"},
        BadPdu{"JournalEntryAdditionalDetail",
               "a1 26 02 01 01 bf 41 20 a0 1e 30 1c 80 08 00 00 00 00 00 00 00 00 a1 02 30 00 a2 0c 80 06 00 00 00 01 "
               "3b c4 a1 00 a2 00",
               "additionalDetail not supported"},
        BadPdu{"JournalEntryWithoutIdentifier",
               "a1 1a 02 01 01 bf 41 14 a0 12 30 10 a1 02 30 00 a2 0a 80 06 00 00 00 01 3b c4 a2 00",
               "expected [context 0] but found [context 1 constructed]"},
        BadPdu{"JournalApplicationReferenceOutOfOrder",
               "a1 2a 02 01 01 bf 41 24 a0 22 30 20 80 08 00 00 00 00 00 00 00 00 a1 08 30 06 82 01 01 80 01 01 a2 0a "
               "80 06 00 00 00 01 3b c4 a2 00",
               "ApplicationReference: unexpected tag [context 0]"},
        BadPdu{"JournalVariableWithTwoValues",
               "a1 33 02 01 01 bf 41 2d a0 2b 30 29 80 08 00 00 00 00 00 00 00 00 a1 02 30 00 a2 19 80 06 00 00 00 01 "
               "3b c4 a2 0f a1 0d 30 0b 80 01 58 a1 06 83 01 01 83 01 00",
               "3 trailing bytes in valueSpec"}),
    [](const auto& info) { return std::string(info.param.name); });

// A TypeDescription nested deeper than the limit is refused, not recursed into.
TypeDescription nestedArrays(unsigned levels) {
    auto t = TypeDescription::simple(TypeDescription::Kind::Boolean);
    for (unsigned i = 0; i < levels; ++i) t = TypeDescription::arrayOf(1, t);
    return t;
}

TEST(TypeDescriptionLimits, NestingUpToMaxDataDepthDecodes) {
    auto d = decode(encode(confirmedResponse(GetVariableAccessAttributesResponse{false, nestedArrays(kMaxDataDepth)})));
    ASSERT_TRUE(d.ok()) << d.error().text();
    // Structures spend four BER levels per level: the BER depth limit must not bite first.
    auto t = TypeDescription::simple(TypeDescription::Kind::Boolean);
    for (unsigned i = 0; i < kMaxDataDepth; ++i) t = TypeDescription::structure({{"c", t}});
    auto s = decode(encode(confirmedResponse(GetVariableAccessAttributesResponse{false, t})));
    ASSERT_TRUE(s.ok()) << s.error().text();
}

TEST(TypeDescriptionLimits, NestingBeyondMaxDataDepthIsRejected) {
    auto d = decode(
        encode(confirmedResponse(GetVariableAccessAttributesResponse{false, nestedArrays(kMaxDataDepth + 1)})));
    ASSERT_FALSE(d.ok());
    EXPECT_EQ(d.error().reason, "TypeDescription nesting exceeds " + std::to_string(kMaxDataDepth));
}

}  // namespace
