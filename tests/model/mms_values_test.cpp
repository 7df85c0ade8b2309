// Stored values <-> MMS Data as the client stack and iedsim both convert them:
// each type's round trip, the checks where a device's value and a client's
// write are taken differently, stored forms that claim more than they hold,
// and whole objects of the sample station.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/ied_model.h"
#include "model/mms_values.h"
#include "model/values.h"

using namespace zv::model;
namespace mms = zv::mms;
using mms::BitString;
using mms::Data;

// Readable Data in gtest messages.
namespace zv::mms {
inline void PrintTo(const Data &d, std::ostream *os) { *os << toText(d); }
}  // namespace zv::mms

namespace {

std::vector<uint8_t> stored(AI_VAL_TYPE t) { return std::vector<uint8_t>(stored_size(t), 0xEE); }

struct RoundTrip {
    const char *name;
    AI_VAL_TYPE type;
    Data value;
};
class RoundTrips : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTrips, AWrittenValueComesBackAsTheSameData) {
    const RoundTrip &r = GetParam();
    for (ValueSource from : {ValueSource::Device, ValueSource::Write}) {
        std::vector<uint8_t> buf = stored(r.type);
        ASSERT_EQ(stored_from_data(r.type, 0, r.value, buf.data(), from), 0);
        EXPECT_EQ(primitive_data(r.type, buf.data()), r.value);
    }
}

BitString bits(const char *text) { return BitString::fromText(text); }

INSTANTIATE_TEST_SUITE_P(
    Types, RoundTrips,
    ::testing::Values(
        RoundTrip{"Boolean", VAL_TYPE_BOOLEAN, Data::boolean(true)},
        RoundTrip{"Int8Lowest", VAL_TYPE_INT8, Data::integer(-128)},
        RoundTrip{"Int16", VAL_TYPE_INT16, Data::integer(-3000)},
        RoundTrip{"Int32Lowest", VAL_TYPE_INT32, Data::integer(INT32_MIN)},
        RoundTrip{"Int64Lowest", VAL_TYPE_INT128, Data::integer(INT64_MIN)},
        RoundTrip{"Int64Highest", VAL_TYPE_INT128, Data::integer(INT64_MAX)},
        RoundTrip{"Int8UHighest", VAL_TYPE_INT8U, Data::unsignedInt(255)},
        RoundTrip{"Int16U", VAL_TYPE_INT16U, Data::unsignedInt(65535)},
        RoundTrip{"Int32UHighest", VAL_TYPE_INT32U, Data::unsignedInt(0xFFFFFFFFu)},
        RoundTrip{"Float32", VAL_TYPE_FLOAT32, Data::float32(-1.5f)},
        RoundTrip{"Float64", VAL_TYPE_FLOAT64, Data::float64(1e300)},
        RoundTrip{"Quality", VAL_TYPE_QUALITY, Data::bitString(bits("0100000000011"))},
        RoundTrip{"OptFlds", VAL_TYPE_OPTFLDS, Data::bitString(bits("0111111110"))},
        RoundTrip{"TrgOpsFullCapacity", VAL_TYPE_TRGC, Data::bitString(bits("11111111"))},
        RoundTrip{"CodedEnum", VAL_TYPE_CODEDENUM, Data::bitString(bits("10"))},
        RoundTrip{"OctetString8Full", VAL_TYPE_OSTRING8, Data::octetString({1, 2, 3, 4, 5, 6, 7, 8})},
        RoundTrip{"OctetString64Empty", VAL_TYPE_OSTRING64, Data::octetString({})},
        RoundTrip{"EntryId", VAL_TYPE_ENTRYID, Data::octetString({0, 0, 0, 0, 0, 0, 1, 0x2A})},
        RoundTrip{"VisibleString255Full", VAL_TYPE_VSTRING255, Data::visibleString(std::string(255, 'v'))},
        RoundTrip{"UnicodeString", VAL_TYPE_UNISTRING255, Data::mmsString("环境温度")},
        RoundTrip{"TimeStamp", VAL_TYPE_TIMESTAMP, Data::utcTime(mms::UtcTime{1700000000, 0xABCDEF, 0x0A})},
        RoundTrip{"EntryTime", VAL_TYPE_ENTRYTIME, Data::binaryTime(mms::BinaryTime{86399999, uint16_t(14000)})}),
    [](const auto &i) { return std::string(i.param.name); });

// kind of check -> expected result for a device's value and for a write
struct CheckRow {
    const char *name;
    AI_VAL_TYPE type;
    int16_t el_len;
    Data value;
    int32_t device;
    int32_t write;
};
class Checks : public ::testing::TestWithParam<CheckRow> {};

TEST_P(Checks, EachSourceTakesOrRefusesTheValue) {
    const CheckRow &r = GetParam();
    for (ValueSource from : {ValueSource::Device, ValueSource::Write}) {
        std::vector<uint8_t> buf = stored(r.type);
        const std::vector<uint8_t> before = buf;
        const int32_t e = stored_from_data(r.type, r.el_len, r.value, buf.data(), from);
        EXPECT_EQ(e, from == ValueSource::Device ? r.device : r.write)
            << (from == ValueSource::Device ? "device" : "write");
        if (e != 0) {
            EXPECT_EQ(buf, before) << "a refused value must leave the stored form alone";
        }
    }
}

constexpr int32_t kOk = 0;
constexpr int32_t kKind = mms::kTypeInconsistent;
constexpr int32_t kRange = mms::kObjectValueInvalid;

BitString short_of_bytes() {
    BitString b = bits("0100000000011");  // 13 bits in 2 bytes
    b.bytes.pop_back();
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Checks,
    ::testing::Values(
        CheckRow{"BooleanFromInteger", VAL_TYPE_BOOLEAN, 1, Data::integer(1), kKind, kKind},
        CheckRow{"Int8AboveRange", VAL_TYPE_INT8, 1, Data::integer(128), kRange, kRange},
        CheckRow{"Int8FromUnsigned", VAL_TYPE_INT8, 1, Data::unsignedInt(127), kOk, kOk},
        CheckRow{"NegativeIntoUnsigned", VAL_TYPE_INT16U, 2, Data::integer(-1), kRange, kRange},
        CheckRow{"Int64FromHugeUnsigned", VAL_TYPE_INT128, 8, Data::unsignedInt(uint64_t(INT64_MAX) + 1), kRange,
                 kRange},
        CheckRow{"Int32UFromInteger", VAL_TYPE_INT32U, 4, Data::integer(0xFFFFFFFFll), kOk, kOk},
        // 24-bit integers are a write's bound; the client keeps a device's value in 32 bits.
        CheckRow{"Int24AboveRange", VAL_TYPE_INT32, 3, Data::integer(0x800000), kOk, kRange},
        CheckRow{"Int24Lowest", VAL_TYPE_INT32, 3, Data::integer(-0x800000), kOk, kOk},
        CheckRow{"Int24UAboveRange", VAL_TYPE_INT32U, 3, Data::unsignedInt(0x1000000), kOk, kRange},
        CheckRow{"Float32FromFloat64", VAL_TYPE_FLOAT32, 4, Data::float64(2.5), kOk, kOk},
        CheckRow{"BitsBeyondCapacity", VAL_TYPE_QUALITY, 13, Data::bitString(BitString(17)), kKind, kKind},
        CheckRow{"NoBits", VAL_TYPE_QUALITY, 13, Data::bitString(BitString(0)), kOk, kKind},
        CheckRow{"FewerBytesThanBits", VAL_TYPE_QUALITY, 13, Data::bitString(short_of_bytes()), kRange, kRange},
        CheckRow{"OctetsBeyondDeclaredLength", VAL_TYPE_OSTRING64, 4, Data::octetString({1, 2, 3, 4, 5}), kOk, kRange},
        CheckRow{"OctetsBeyondStoredForm", VAL_TYPE_OSTRING8, 0, Data::octetString(std::vector<uint8_t>(9)), kRange,
                 kRange},
        CheckRow{"EntryIdOfSevenBytes", VAL_TYPE_ENTRYID, 8, Data::octetString(std::vector<uint8_t>(7)), kRange,
                 kRange},
        CheckRow{"MmsStringIntoVisibleString", VAL_TYPE_VSTRING64, 64, Data::mmsString("oil"), kOk, kKind},
        CheckRow{"VisibleStringIntoUnicode", VAL_TYPE_UNISTRING255, 255, Data::visibleString("oil"), kOk, kOk},
        CheckRow{"TextBeyondDeclaredLength", VAL_TYPE_VSTRING255, 10, Data::visibleString("12345678901"), kOk, kRange},
        CheckRow{"TextBeyondStoredForm", VAL_TYPE_VSTRING64, 0, Data::visibleString(std::string(65, 'x')), kRange,
                 kRange},
        // Kept, the NUL would cut the text short when it is read back.
        CheckRow{"UnicodeTextWithNul", VAL_TYPE_UNISTRING255, 255, Data::mmsString(std::string("oil\0x", 5)), kRange,
                 kRange},
        CheckRow{"TimeStampFromBinaryTime", VAL_TYPE_TIMESTAMP, 8, Data::binaryTime(mms::BinaryTime{0, {}}), kKind,
                 kKind},
        CheckRow{"EntryTimePastMidnight", VAL_TYPE_ENTRYTIME, 6,
                 Data::binaryTime(mms::BinaryTime{86400000u, uint16_t(1)}), kRange, kRange},
        CheckRow{"NoStoredForm", VAL_TYPE_STRUCT, 0, Data::boolean(true), mms::kTypeUnsupported,
                 mms::kTypeUnsupported}),
    [](const auto &i) { return std::string(i.param.name); });

// A stored form whose count claims more than it holds gives what it holds;
// the buffers are exactly the stored size, so a read past them shows under ASan.
TEST(StoredForms, CountsBeyondTheStoredFormAreClampedOnTheWayOut) {
    std::vector<uint8_t> q = stored(VAL_TYPE_QUALITY);
    const int16_t many = 500;
    std::memcpy(q.data(), &many, 2);
    const Data dq = primitive_data(VAL_TYPE_QUALITY, q.data());
    ASSERT_EQ(dq.kind(), Data::Kind::BitString);
    EXPECT_EQ(dq.asBits().bitCount, size_t(bitstring_capacity(VAL_TYPE_QUALITY)));

    std::vector<uint8_t> o = stored(VAL_TYPE_OSTRING8);
    std::memcpy(o.data(), &many, 2);
    EXPECT_EQ(primitive_data(VAL_TYPE_OSTRING8, o.data()).asOctets().size(), 8u);

    const int16_t negative = -3;
    std::memcpy(o.data(), &negative, 2);
    EXPECT_TRUE(primitive_data(VAL_TYPE_OSTRING8, o.data()).asOctets().empty());
    std::memcpy(q.data(), &negative, 2);
    EXPECT_EQ(primitive_data(VAL_TYPE_QUALITY, q.data()), Data::bitString(BitString(0)));

    // Padding bits past the count are not sent.
    std::vector<uint8_t> c = stored(VAL_TYPE_CODEDENUM);
    const int16_t two = 2;
    std::memcpy(c.data(), &two, 2);
    c[2] = 0xFF;
    EXPECT_EQ(primitive_data(VAL_TYPE_CODEDENUM, c.data()), Data::bitString(bits("11")));
}

// Whole objects of the sample station: STMP1$MX$Tmp is {mag {f}, q, t}.
class Objects : public ::testing::Test {
protected:
    void SetUp() override {
        zv::scl::Diagnostics diag{true};
        m = IedModel::load(std::string(ZV_SAMPLE_STATION) + "/sample.scd", "CMIED", diag);
        ASSERT_NE(m, nullptr);
        tmp = m->find("CMIEDMON/STMP1$MX$Tmp");
        ASSERT_GE(tmp, 0);
    }
    Data current() {
        Data d;
        EXPECT_TRUE(object_data(*m, tmp, d));
        return d;
    }
    static Data shaped(float f, const char *q, uint32_t secs) {
        return Data::structure(
            {Data::structure({Data::float32(f)}), Data::bitString(bits(q)), Data::utcTime(mms::UtcTime{secs, 0, 0})});
    }
    std::unique_ptr<IedModel> m;
    AI_OBJ_ID tmp = -1;
};

TEST_F(Objects, AWriteMustHaveTheObjectsShapeADevicesValueOnlyItsPrimitives) {
    const Data flat = Data::structure(
        {Data::float32(2.0f), Data::bitString(bits("0000000000000")), Data::utcTime(mms::UtcTime{5, 0, 0})});
    EXPECT_EQ(store_object(*m, tmp, flat, ValueSource::Write), mms::kTypeInconsistent);
    EXPECT_EQ(store_object(*m, tmp, flat, ValueSource::Device), 0);
    EXPECT_EQ(current(), shaped(2.0f, "0000000000000", 5));

    EXPECT_EQ(store_object(*m, tmp, shaped(3.5f, "0100000000000", 7), ValueSource::Write), 0);
    EXPECT_EQ(current(), shaped(3.5f, "0100000000000", 7));

    // One member too many, or one primitive too many, is refused by both.
    Data longer = Data::structure({Data::structure({Data::float32(1.0f)}), Data::bitString(bits("0")),
                                   Data::utcTime(mms::UtcTime{}), Data::boolean(true)});
    EXPECT_EQ(store_object(*m, tmp, longer, ValueSource::Write), mms::kTypeInconsistent);
    EXPECT_EQ(store_object(*m, tmp, longer, ValueSource::Device), mms::kTypeInconsistent);
    EXPECT_EQ(current(), shaped(3.5f, "0100000000000", 7));
}

TEST_F(Objects, AValueWithOneBadPrimitiveStoresNothing) {
    ASSERT_EQ(store_object(*m, tmp, shaped(3.5f, "0100000000000", 7), ValueSource::Write), 0);
    Data bad = Data::structure(
        {Data::structure({Data::float32(9.0f)}), Data::bitString(bits("1")), Data::boolean(true)});
    for (ValueSource from : {ValueSource::Device, ValueSource::Write})
        EXPECT_EQ(store_object(*m, tmp, bad, from), mms::kTypeInconsistent);
    EXPECT_EQ(current(), shaped(3.5f, "0100000000000", 7));
}

// A whole logical node is too large to convert in the small buffer an
// attribute's value uses: its value comes back all the same.
TEST_F(Objects, ALogicalNodesValueIsStoredWhole) {
    const AI_OBJ_ID ln = m->find("CMIEDMON/STMP1");
    ASSERT_GE(ln, 0);
    std::vector<zv::model::Primitive> prims;
    ASSERT_TRUE(m->primitives(ln, prims));
    size_t total = 0;
    for (const auto &p : prims) total += size_t(p.size);
    ASSERT_GT(total + AI_SIZE_UNISTRING255, 1024u) << "the node is not larger than the small buffer";

    ASSERT_EQ(store_object(*m, tmp, shaped(1.5f, "0000000000001", 11), ValueSource::Write), 0);
    Data whole;
    ASSERT_TRUE(object_data(*m, ln, whole));
    ASSERT_EQ(store_object(*m, tmp, shaped(8.25f, "0100000000000", 12), ValueSource::Write), 0);
    EXPECT_EQ(store_object(*m, ln, whole, ValueSource::Device), 0);
    EXPECT_EQ(current(), shaped(1.5f, "0000000000001", 11));
    Data again;
    ASSERT_TRUE(object_data(*m, ln, again));
    EXPECT_EQ(again, whole);
}

TEST_F(Objects, ObjectsWithoutValuesAreNotThere) {
    Data d;
    for (ValueSource from : {ValueSource::Device, ValueSource::Write})
        EXPECT_EQ(store_object(*m, 1 << 30, Data::boolean(true), from), mms::kObjectNonExistent);
    EXPECT_FALSE(object_data(*m, 1 << 30, d));
    EXPECT_FALSE(object_data(*m, m->find("CMIEDMON"), d));  // an LD has no runtime type
}

// element_data asks for the next primitive by the type the table names, and
// fails at once when it gets none.
TEST_F(Objects, ElementDataFailsWhenTheValuesRunOut) {
    const RUNTIME_TYPE *first = nullptr;
    int32_t num = 0;
    ASSERT_TRUE(m->type_of(tmp, first, num));
    std::vector<AI_VAL_TYPE> asked;
    const uint8_t f[4] = {};
    Data out;
    EXPECT_FALSE(element_data(
        first,
        [&](AI_VAL_TYPE t) -> const uint8_t * {
            asked.push_back(t);
            return asked.size() == 1 ? f : nullptr;
        },
        out));
    EXPECT_EQ(asked, (std::vector<AI_VAL_TYPE>{VAL_TYPE_FLOAT32, VAL_TYPE_QUALITY}));
}

}  // namespace
