// MMS Data and TypeDescription (ISO 9506-2 clause 14, as IEC 61850-8-1 uses them).
//
// Include as "mms/data.h" (target zv_mms).
//
// Data ::= CHOICE (all IMPLICIT context tags)
//   [1] array  SEQUENCE OF Data        [2] structure SEQUENCE OF Data
//   [3] boolean BOOLEAN                [4] bit-string BIT STRING
//   [5] integer INTEGER                [6] unsigned INTEGER (>= 0)
//   [7] floating-point OCTET STRING:   +----+-------------------+
//                                      | ew | IEEE 754 big end. |   ew 8: 4 bytes (float32)
//                                      +----+-------------------+   ew 11: 8 bytes (float64)
//   [9] octet-string                   [10] visible-string
//   [12] binary-time (TimeOfDay):      +--------------+--------------+
//                                      | ms of day u32| [days u16]   |  days since 1984-01-01
//                                      +--------------+--------------+
//   [16] mMSString (UTF-8)
//   [17] utc-time:                     +-----------+-------------+---------+
//                                      | seconds 4 | fraction 3  | quality |  seconds since 1970
//                                      +-----------+-------------+---------+
#pragma once

#include "ber/ber.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zv::mms {

using ber::BitString;
using ber::ByteView;
using ber::Error;
using ber::Result;
using ber::Status;

// Nesting of array/structure inside Data (and of TypeDescription). IEC 61850
// models nest a few levels; the initiate service proposes 10 and we accept
// some more from devices that understate it.
constexpr unsigned kMaxDataDepth = 16;

struct BinaryTime {
    uint32_t msOfDay = 0;
    std::optional<uint16_t> days;  // absent: 4-byte form
    // 6-byte form from/to milliseconds since 1970-01-01 UTC (dates before
    // 1984 clamp to day 0; the 4-byte form converts as a time of day only).
    static BinaryTime fromUnixMs(int64_t ms);
    int64_t toUnixMs() const;
    friend bool operator==(const BinaryTime& a, const BinaryTime& b) {
        return a.msOfDay == b.msOfDay && a.days == b.days;
    }
};

struct UtcTime {
    uint32_t seconds = 0;
    uint32_t fraction = 0;  // 24 bits: fraction of a second * 2^24
    uint8_t quality = 0;    // leap-second-known, clock failure, not synchronized, accuracy bits
    static UtcTime fromUnixNs(int64_t ns, uint8_t quality = 0);  // ns >= 0
    int64_t toUnixNs() const;
    friend bool operator==(const UtcTime& a, const UtcTime& b) {
        return a.seconds == b.seconds && a.fraction == b.fraction && a.quality == b.quality;
    }
};

class Data {
public:
    enum class Kind : uint8_t {
        Array,
        Structure,
        Boolean,
        BitString,
        Integer,
        Unsigned,
        Float32,
        Float64,
        OctetString,
        VisibleString,
        BinaryTime,
        MmsString,
        UtcTime
    };
    struct Array {
        std::vector<Data> items;
    };
    struct Structure {
        std::vector<Data> items;
    };
    struct Float32 {
        float v;
    };
    struct Float64 {
        double v;
    };
    struct Octets {
        std::vector<uint8_t> v;
    };
    struct Visible {
        std::string v;
    };
    struct Mms {
        std::string v;
    };

    Data() : v_(std::in_place_type<bool>, false) {}
    static Data array(std::vector<Data> items) { return Data(Make{}, Array{std::move(items)}); }
    static Data structure(std::vector<Data> items) { return Data(Make{}, Structure{std::move(items)}); }
    static Data boolean(bool b) { return Data(Make{}, b); }
    static Data bitString(BitString b) { return Data(Make{}, std::move(b)); }
    static Data integer(int64_t i) { return Data(Make{}, i); }
    static Data unsignedInt(uint64_t u) { return Data(Make{}, u); }
    static Data float32(float f) { return Data(Make{}, Float32{f}); }
    static Data float64(double d) { return Data(Make{}, Float64{d}); }
    static Data octetString(std::vector<uint8_t> b) { return Data(Make{}, Octets{std::move(b)}); }
    static Data visibleString(std::string s) { return Data(Make{}, Visible{std::move(s)}); }
    static Data mmsString(std::string s) { return Data(Make{}, Mms{std::move(s)}); }
    static Data binaryTime(BinaryTime t) { return Data(Make{}, t); }
    static Data utcTime(UtcTime t) { return Data(Make{}, t); }

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    // Accessors: valid only for the matching kind (std::get throws otherwise).
    const std::vector<Data>& items() const {
        return kind() == Kind::Array ? std::get<Array>(v_).items : std::get<Structure>(v_).items;
    }
    std::vector<Data>& items() {
        return kind() == Kind::Array ? std::get<Array>(v_).items : std::get<Structure>(v_).items;
    }
    bool asBool() const { return std::get<bool>(v_); }
    const BitString& asBits() const { return std::get<BitString>(v_); }
    int64_t asInt() const { return std::get<int64_t>(v_); }
    uint64_t asUnsigned() const { return std::get<uint64_t>(v_); }
    float asFloat32() const { return std::get<Float32>(v_).v; }
    double asFloat64() const { return std::get<Float64>(v_).v; }
    const std::vector<uint8_t>& asOctets() const { return std::get<Octets>(v_).v; }
    const std::string& asString() const {  // visible-string or mMSString
        return kind() == Kind::VisibleString ? std::get<Visible>(v_).v : std::get<Mms>(v_).v;
    }
    const BinaryTime& asBinaryTime() const { return std::get<BinaryTime>(v_); }
    const UtcTime& asUtcTime() const { return std::get<UtcTime>(v_); }

    // Structural equality; floats compare by their bits (NaN == same NaN).
    friend bool operator==(const Data& a, const Data& b);
    friend bool operator!=(const Data& a, const Data& b) { return !(a == b); }

private:
    // Order matches Kind.
    using V = std::variant<Array, Structure, bool, BitString, int64_t, uint64_t, Float32, Float64, Octets, Visible,
                           BinaryTime, Mms, UtcTime>;
    struct Make {};
    template <class T>
    Data(Make, T&& v) : v_(std::in_place_type<std::decay_t<T>>, std::forward<T>(v)) {}
    V v_;
};

// GeneralizedTime of file attributes (ISO 9506-2 FileAttributes, ASN.1
// X.680 clause 46, the ISO 8601 basic form devices write):
//
//   YYYYMMDDhhmmss [ (.|,) f{1,9} ] [ Z | (+|-) hh [mm] ]
//   20261207123456.123Z   20261207203456+0800   20261207110456-0130
//
// A time without a zone is taken as UTC (devices write UTC without saying
// so). Calendar fields are checked (month days, leap years, a leap second
// :60 counts as the next second); anything else is refused with its offset
// and reason. The text is at most kMaxGeneralizedTimeLength characters.
constexpr std::size_t kMaxGeneralizedTimeLength = 14 + 1 + 9 + 5;
struct GeneralizedTime {
    int64_t seconds = 0;       // since 1970-01-01 UTC (negative before)
    uint32_t nanoseconds = 0;  // fraction of the second
};
Result<GeneralizedTime> decodeGeneralizedTime(std::string_view text);
// Whole seconds of decodeGeneralizedTime, nullopt when refused.
std::optional<int64_t> parseGeneralizedTime(std::string_view text);
std::string formatGeneralizedTime(int64_t unixSeconds);  // "20261207071635.000Z"

// Debug text, e.g. "{str 'abc', int 5, [bool true]}".
std::string toText(const Data& d);

// ObjectName ::= CHOICE { vmd-specific [0] Identifier,
//   domain-specific [1] SEQUENCE { domainId Identifier, itemId Identifier },
//   aa-specific [2] Identifier }
// Identifier: VisibleString of 1..kMaxIdentifierLength characters.
constexpr std::size_t kMaxIdentifierLength = 64;  // IEC 61850-8-1 (ISO 9506 says 32)

struct ObjectName {
    enum class Scope : uint8_t { Vmd = 0, Domain = 1, Aa = 2 };
    Scope scope = Scope::Domain;
    std::string domain;  // only for Scope::Domain
    std::string item;
    static ObjectName vmd(std::string item) { return ObjectName{Scope::Vmd, {}, std::move(item)}; }
    static ObjectName dom(std::string domain, std::string item) {
        return ObjectName{Scope::Domain, std::move(domain), std::move(item)};
    }
    friend bool operator==(const ObjectName& a, const ObjectName& b) {
        return a.scope == b.scope && a.domain == b.domain && a.item == b.item;
    }
    friend bool operator!=(const ObjectName& a, const ObjectName& b) { return !(a == b); }
};

void encodeObjectName(ber::Writer& w, const ObjectName& n);
Result<ObjectName> decodeObjectName(const ber::Tlv& tlv);
Result<std::string> decodeIdentifier(const ber::Tlv& tlv);

// One Data TLV. `depth` counts enclosing array/structure levels.
void encodeData(ber::Writer& w, const Data& d);
Result<Data> decodeData(const ber::Tlv& tlv, unsigned depth = 0);

// ---- TypeDescription --------------------------------------------------------
//
// TypeSpec ::= CHOICE { typeName [0] ObjectName, TypeDescription }
// TypeDescription ::= CHOICE {
//   [1] array     { [0] packed BOOLEAN DEFAULT FALSE, [1] numberOfElements, [2] elementType }
//   [2] structure { [0] packed DEFAULT FALSE, [1] components SEQUENCE OF
//                   SEQUENCE { [0] componentName OPTIONAL, [1] componentType } }
//   [3] boolean NULL  [4] bit-string Integer32  [5] integer Unsigned8  [6] unsigned Unsigned8
//   [7] floating-point { format-width, exponent-width }  [9] octet-string Integer32
//   [10] visible-string Integer32  [11] generalized-time NULL  [12] binary-time BOOLEAN
//   [13] bcd Unsigned8  [15] objId NULL  [16] mMSString Integer32  [17] utc-time NULL }
// (Sizes of strings: negative = variable length up to |size|.)

struct TypeDescription {
    enum class Kind : uint8_t {
        TypeName = 0,
        Array = 1,
        Structure = 2,
        Boolean = 3,
        BitString = 4,
        Integer = 5,
        Unsigned = 6,
        FloatingPoint = 7,
        OctetString = 9,
        VisibleString = 10,
        GeneralizedTime = 11,
        BinaryTime = 12,
        Bcd = 13,
        ObjId = 15,
        MmsString = 16,
        UtcTime = 17
    };
    struct Component;

    Kind kind = Kind::Boolean;
    int32_t size = 0;                      // bit/octet/visible/mMS string size; integer/unsigned/bcd width
    uint8_t formatWidth = 0;               // floating-point
    uint8_t exponentWidth = 0;             // floating-point
    bool binaryTimeWithDate = false;       // binary-time: 6-byte form
    bool packed = false;                   // array/structure
    uint32_t elementCount = 0;             // array
    std::vector<TypeDescription> element;  // array: exactly one
    std::vector<Component> components;     // structure
    ObjectName typeName;                   // TypeName

    static TypeDescription simple(Kind k, int32_t size = 0) {
        TypeDescription t;
        t.kind = k;
        t.size = size;
        return t;
    }
    static TypeDescription floating(uint8_t format, uint8_t exponent) {
        TypeDescription t;
        t.kind = Kind::FloatingPoint;
        t.formatWidth = format;
        t.exponentWidth = exponent;
        return t;
    }
    static TypeDescription arrayOf(uint32_t count, TypeDescription elem) {
        TypeDescription t;
        t.kind = Kind::Array;
        t.elementCount = count;
        t.element.push_back(std::move(elem));
        return t;
    }
    static TypeDescription structure(std::vector<Component> comps);
};

struct TypeDescription::Component {
    std::string name;  // empty = absent
    TypeDescription type;
};

inline TypeDescription TypeDescription::structure(std::vector<Component> comps) {
    TypeDescription t;
    t.kind = Kind::Structure;
    t.components = std::move(comps);
    return t;
}

bool operator==(const TypeDescription& a, const TypeDescription& b);
inline bool operator!=(const TypeDescription& a, const TypeDescription& b) { return !(a == b); }
bool operator==(const TypeDescription::Component& a, const TypeDescription::Component& b);

void encodeTypeSpec(ber::Writer& w, const TypeDescription& t);
Result<TypeDescription> decodeTypeSpec(const ber::Tlv& tlv, unsigned depth = 0);

}  // namespace zv::mms
