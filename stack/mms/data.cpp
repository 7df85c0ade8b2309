#include "mms/data.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zv::mms {

using ber::ctx;
using ber::ctxC;
using ber::makeError;
using ber::Reader;
using ber::Tlv;
using ber::Writer;

// ---- identifiers and object names -------------------------------------------

Result<std::string> decodeIdentifier(const Tlv& tlv) {
    ZV_TRY(std::string s, ber::decodeVisibleString(tlv));
    if (s.empty()) return makeError(tlv.offset, "empty Identifier");
    if (s.size() > kMaxIdentifierLength)
        return makeError(tlv.offset, "Identifier of " + std::to_string(s.size()) + " characters exceeds " +
                                         std::to_string(kMaxIdentifierLength));
    return s;
}

void encodeObjectName(Writer& w, const ObjectName& n) {
    switch (n.scope) {
    case ObjectName::Scope::Vmd: w.string(ctx(0), n.item); break;
    case ObjectName::Scope::Domain:
        w.begin(ctxC(1));
        w.string(ber::tags::kVisibleString, n.domain);
        w.string(ber::tags::kVisibleString, n.item);
        w.end();
        break;
    case ObjectName::Scope::Aa: w.string(ctx(2), n.item); break;
    }
}

Result<ObjectName> decodeObjectName(const Tlv& tlv) {
    ObjectName n;
    if (tlv.tag == ctx(0) || tlv.tag == ctx(2)) {
        n.scope = tlv.tag.number == 0 ? ObjectName::Scope::Vmd : ObjectName::Scope::Aa;
        ZV_TRY(n.item, decodeIdentifier(tlv));
        return n;
    }
    if (tlv.tag != ctxC(1)) return makeError(tlv.offset, "ObjectName: unexpected tag " + tlv.tag.text());
    n.scope = ObjectName::Scope::Domain;
    ZV_TRY(Reader r, Reader().enter(tlv));
    ZV_TRY(Tlv d, r.read(ber::tags::kVisibleString));
    ZV_TRY(n.domain, decodeIdentifier(d));
    ZV_TRY(Tlv i, r.read(ber::tags::kVisibleString));
    ZV_TRY(n.item, decodeIdentifier(i));
    ZV_CHECK(r.expectEnd("domain-specific ObjectName"));
    return n;
}

// ---- times -------------------------------------------------------------------------

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kDays1970To1984 = 5113;  // 14 years, 3 of them leap years

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

}  // namespace

BinaryTime BinaryTime::fromUnixMs(int64_t ms) {
    int64_t day = ms >= 0 ? ms / kMsPerDay : (ms - kMsPerDay + 1) / kMsPerDay;
    BinaryTime t;
    t.msOfDay = static_cast<uint32_t>(ms - day * kMsPerDay);
    day -= kDays1970To1984;
    if (day < 0) {
        day = 0;
        t.msOfDay = 0;
    }
    t.days = static_cast<uint16_t>(day > 0xFFFF ? 0xFFFF : day);
    return t;
}

int64_t BinaryTime::toUnixMs() const { return (days ? (kDays1970To1984 + *days) * kMsPerDay : 0) + msOfDay; }

UtcTime UtcTime::fromUnixNs(int64_t ns, uint8_t quality) {
    UtcTime t;
    if (ns < 0) ns = 0;
    t.seconds = static_cast<uint32_t>(ns / 1000000000);
    // IEC 61850-8-1 FractionOfSecond: 24 bits, value = fraction * 2^24.
    t.fraction = static_cast<uint32_t>(((ns % 1000000000) << 24) / 1000000000);
    t.quality = quality;
    return t;
}

int64_t UtcTime::toUnixNs() const {
    return int64_t{seconds} * 1000000000 + ((int64_t{fraction & 0xFFFFFF} * 1000000000) >> 24);
}

Result<GeneralizedTime> decodeGeneralizedTime(std::string_view s) {
    auto refuse = [&](std::size_t at, const std::string& why) -> Error { return Error{at, "GeneralizedTime: " + why}; };
    auto shown = [&](std::size_t at) {
        const auto c = static_cast<unsigned char>(s[at]);
        return c >= 0x20 && c < 0x7F ? "'" + std::string(1, char(c)) + "'" : "byte " + std::to_string(c);
    };
    if (s.size() > kMaxGeneralizedTimeLength)
        return refuse(kMaxGeneralizedTimeLength,
                      std::to_string(s.size()) + " characters, more than " + std::to_string(kMaxGeneralizedTimeLength));
    std::size_t i = 0;
    // `len` digits at i, or the offset of the first character that is not one.
    auto digits = [&](std::size_t len, int& v) -> std::optional<std::size_t> {
        v = 0;
        for (std::size_t k = 0; k < len; ++k, ++i) {
            if (i >= s.size() || s[i] < '0' || s[i] > '9') return i;
            v = v * 10 + (s[i] - '0');
        }
        return std::nullopt;
    };
    int y, mo, d, h, mi, sec;
    for (int* field : {&y, &mo, &d, &h, &mi, &sec}) {
        if (auto bad = digits(field == &y ? 4 : 2, *field))
            return refuse(*bad, (*bad < s.size()
                                     ? shown(*bad) + " where a digit of YYYYMMDDhhmmss belongs"
                                     : "ends after " + std::to_string(*bad) + " of the 14 digits of YYYYMMDDhhmmss"));
    }
    static const unsigned kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12) return refuse(4, "month " + std::to_string(mo) + " is not 1..12");
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int monthDays = int(kMonthDays[mo - 1]) + (mo == 2 && leap ? 1 : 0);
    if (d < 1 || d > monthDays)
        return refuse(6, "day " + std::to_string(d) + " is not 1.." + std::to_string(monthDays) + " in " +
                             std::to_string(y) + "-" + std::to_string(mo));
    if (h > 23) return refuse(8, "hour " + std::to_string(h) + " is not 0..23");
    if (mi > 59) return refuse(10, "minute " + std::to_string(mi) + " is not 0..59");
    if (sec > 60) return refuse(12, "second " + std::to_string(sec) + " is not 0..60");

    GeneralizedTime t;
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
        const std::size_t first = ++i;
        uint32_t scale = 100000000;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            if (i - first == 9) return refuse(i, "fraction of more than 9 digits");
            t.nanoseconds += uint32_t(s[i] - '0') * scale;
            scale /= 10;
            ++i;
        }
        if (i == first) return refuse(i, "no digit after the decimal mark");
    }
    int offsetMinutes = 0;
    if (i < s.size() && s[i] == 'Z') {
        ++i;
    } else if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        const int sign = s[i] == '-' ? -1 : 1;
        const std::size_t at = i++;
        int oh = 0, om = 0;
        if (auto bad = digits(2, oh))
            return refuse(*bad, "offset " + std::string(s.substr(at)) + " is not +hh or +hhmm");
        if (i < s.size()) {
            if (auto bad = digits(2, om))
                return refuse(*bad, "offset " + std::string(s.substr(at)) + " is not +hh or +hhmm");
        }
        if (oh > 23 || om > 59)
            return refuse(at, "offset " + std::string(s.substr(at, i - at)) + " is not a time zone offset");
        offsetMinutes = sign * (oh * 60 + om);
    }
    if (i != s.size()) return refuse(i, shown(i) + " after the time");
    t.seconds = daysFromCivil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + sec -
                int64_t(offsetMinutes) * 60;
    return t;
}

std::optional<int64_t> parseGeneralizedTime(std::string_view s) {
    auto t = decodeGeneralizedTime(s);
    if (!t) return std::nullopt;
    return t->seconds;
}

std::string formatGeneralizedTime(int64_t unixSeconds) {
    int64_t day = unixSeconds >= 0 ? unixSeconds / 86400 : (unixSeconds - 86399) / 86400;
    const int64_t rest = unixSeconds - day * 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(day, y, m, d);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld%02u%02u%02lld%02lld%02lld.000Z", static_cast<long long>(y), m, d,
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return buf;
}

// ---- Data -----------------------------------------------------------------------

namespace {

enum DataTag : uint32_t {
    kArray = 1,
    kStructure = 2,
    kBoolean = 3,
    kBitString = 4,
    kInteger = 5,
    kUnsigned = 6,
    kFloat = 7,
    kOctetString = 9,
    kVisibleString = 10,
    kBinaryTime = 12,
    kMmsString = 16,
    kUtcTime = 17
};

void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
uint32_t get32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

}  // namespace

bool operator==(const Data& a, const Data& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
    case Data::Kind::Array:
    case Data::Kind::Structure: return a.items() == b.items();
    case Data::Kind::Boolean: return a.asBool() == b.asBool();
    case Data::Kind::BitString: return a.asBits() == b.asBits();
    case Data::Kind::Integer: return a.asInt() == b.asInt();
    case Data::Kind::Unsigned: return a.asUnsigned() == b.asUnsigned();
    case Data::Kind::Float32: {
        const float x = a.asFloat32(), y = b.asFloat32();
        return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case Data::Kind::Float64: {
        const double x = a.asFloat64(), y = b.asFloat64();
        return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case Data::Kind::OctetString: return a.asOctets() == b.asOctets();
    case Data::Kind::VisibleString:
    case Data::Kind::MmsString: return a.asString() == b.asString();
    case Data::Kind::BinaryTime: return a.asBinaryTime() == b.asBinaryTime();
    case Data::Kind::UtcTime: return a.asUtcTime() == b.asUtcTime();
    }
    return false;
}

std::string toText(const Data& d) {
    switch (d.kind()) {
    case Data::Kind::Array:
    case Data::Kind::Structure: {
        std::string s = d.kind() == Data::Kind::Array ? "[" : "{";
        for (std::size_t i = 0; i < d.items().size(); ++i) {
            if (i) s += ", ";
            s += toText(d.items()[i]);
        }
        return s + (d.kind() == Data::Kind::Array ? "]" : "}");
    }
    case Data::Kind::Boolean: return d.asBool() ? "bool true" : "bool false";
    case Data::Kind::BitString: return "bits " + d.asBits().toText();
    case Data::Kind::Integer: return "int " + std::to_string(d.asInt());
    case Data::Kind::Unsigned: return "uint " + std::to_string(d.asUnsigned());
    case Data::Kind::Float32: return "float " + std::to_string(d.asFloat32());
    case Data::Kind::Float64: return "double " + std::to_string(d.asFloat64());
    case Data::Kind::OctetString: {
        static const char* hex = "0123456789abcdef";
        std::string s = "octets ";
        for (uint8_t b : d.asOctets()) {
            s += hex[b >> 4];
            s += hex[b & 15];
        }
        return s;
    }
    case Data::Kind::VisibleString: return "str '" + d.asString() + "'";
    case Data::Kind::MmsString: return "mms '" + d.asString() + "'";
    case Data::Kind::BinaryTime:
        return "btime " + std::to_string(d.asBinaryTime().msOfDay) +
               (d.asBinaryTime().days ? "/" + std::to_string(*d.asBinaryTime().days) : std::string());
    case Data::Kind::UtcTime:
        return "utc " + std::to_string(d.asUtcTime().seconds) + "." + std::to_string(d.asUtcTime().fraction) + " q" +
               std::to_string(d.asUtcTime().quality);
    }
    return "?";
}

void encodeData(Writer& w, const Data& d) {
    switch (d.kind()) {
    case Data::Kind::Array:
    case Data::Kind::Structure:
        w.begin(ctxC(d.kind() == Data::Kind::Array ? kArray : kStructure));
        for (const Data& c : d.items()) encodeData(w, c);
        w.end();
        return;
    case Data::Kind::Boolean: w.boolean(ctx(kBoolean), d.asBool()); return;
    case Data::Kind::BitString: w.bitString(ctx(kBitString), d.asBits()); return;
    case Data::Kind::Integer: w.integer(ctx(kInteger), d.asInt()); return;
    case Data::Kind::Unsigned: w.unsignedInteger(ctx(kUnsigned), d.asUnsigned()); return;
    case Data::Kind::Float32: {
        // IEC 61850-8-1: exponent width octet, then the IEEE 754 value big-endian.
        uint8_t b[5] = {8};
        const float f = d.asFloat32();
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put32(b + 1, bits);
        w.primitive(ctx(kFloat), ByteView(b, 5));
        return;
    }
    case Data::Kind::Float64: {
        uint8_t b[9] = {11};
        const double f = d.asFloat64();
        uint64_t bits;
        std::memcpy(&bits, &f, 8);
        put32(b + 1, static_cast<uint32_t>(bits >> 32));
        put32(b + 5, static_cast<uint32_t>(bits));
        w.primitive(ctx(kFloat), ByteView(b, 9));
        return;
    }
    case Data::Kind::OctetString: w.octetString(ctx(kOctetString), d.asOctets()); return;
    case Data::Kind::VisibleString: w.string(ctx(kVisibleString), d.asString()); return;
    case Data::Kind::MmsString: w.string(ctx(kMmsString), d.asString()); return;
    case Data::Kind::BinaryTime: {
        const BinaryTime& t = d.asBinaryTime();
        uint8_t b[6];
        put32(b, t.msOfDay);
        if (t.days) {
            b[4] = static_cast<uint8_t>(*t.days >> 8);
            b[5] = static_cast<uint8_t>(*t.days);
        }
        w.primitive(ctx(kBinaryTime), ByteView(b, t.days ? 6 : 4));
        return;
    }
    case Data::Kind::UtcTime: {
        const UtcTime& t = d.asUtcTime();
        uint8_t b[8];
        put32(b, t.seconds);
        b[4] = static_cast<uint8_t>(t.fraction >> 16);
        b[5] = static_cast<uint8_t>(t.fraction >> 8);
        b[6] = static_cast<uint8_t>(t.fraction);
        b[7] = t.quality;
        w.primitive(ctx(kUtcTime), ByteView(b, 8));
        return;
    }
    }
}

Result<Data> decodeData(const Tlv& tlv, unsigned depth) {
    if (tlv.tag.cls != ber::TagClass::Context) return makeError(tlv.offset, "Data: unexpected tag " + tlv.tag.text());
    const uint32_t n = tlv.tag.number;
    if (n == kArray || n == kStructure) {
        if (!tlv.tag.constructed) return makeError(tlv.offset, "Data: primitive " + tlv.tag.text());
        if (depth >= kMaxDataDepth)
            return makeError(tlv.offset, "Data nesting exceeds " + std::to_string(kMaxDataDepth));
        ZV_TRY(Reader r, Reader().enter(tlv));
        // Each component takes two octets at least: room for a small
        // structure at once, larger ones grow as they are read.
        std::vector<Data> items;
        items.reserve(std::min<std::size_t>(tlv.value.size / 2, 8));
        while (!r.atEnd()) {
            ZV_TRY(Tlv c, r.read());
            ZV_TRY(Data item, decodeData(c, depth + 1));
            items.push_back(std::move(item));
        }
        return n == kArray ? Data::array(std::move(items)) : Data::structure(std::move(items));
    }
    const ByteView v = tlv.value;
    switch (n) {
    case kBoolean: {
        ZV_TRY(bool b, ber::decodeBoolean(tlv));
        return Data::boolean(b);
    }
    case kBitString: {
        ZV_TRY(BitString b, ber::decodeBitString(tlv));
        return Data::bitString(std::move(b));
    }
    case kInteger: {
        ZV_TRY(int64_t i, ber::decodeInt64(tlv));
        return Data::integer(i);
    }
    case kUnsigned: {
        ZV_TRY(uint64_t u, ber::decodeUint64(tlv));
        return Data::unsignedInt(u);
    }
    case kFloat: {
        if (tlv.tag.constructed) return makeError(tlv.offset, "Data: constructed floating-point");
        if (v.size == 5 && v[0] == 8) {
            const uint32_t bits = get32(v.data + 1);
            float f;
            std::memcpy(&f, &bits, 4);
            return Data::float32(f);
        }
        if (v.size == 9 && v[0] == 11) {
            const uint64_t bits = uint64_t{get32(v.data + 1)} << 32 | get32(v.data + 5);
            double f;
            std::memcpy(&f, &bits, 8);
            return Data::float64(f);
        }
        return makeError(tlv.offset, "floating-point of " + std::to_string(v.size) + " bytes" +
                                         (v.empty() ? std::string() : " with exponent width " + std::to_string(v[0])) +
                                         " not supported (5 bytes/8 or 9 bytes/11)");
    }
    case kOctetString: {
        ZV_TRY(std::vector<uint8_t> b, ber::decodeOctetString(tlv));
        return Data::octetString(std::move(b));
    }
    case kVisibleString: {
        ZV_TRY(std::string s, ber::decodeVisibleString(tlv));
        return Data::visibleString(std::move(s));
    }
    case kMmsString: {
        ZV_TRY(std::string s, ber::decodeUtf8String(tlv));
        return Data::mmsString(std::move(s));
    }
    case kBinaryTime: {
        if (tlv.tag.constructed) return makeError(tlv.offset, "Data: constructed binary-time");
        if (v.size != 4 && v.size != 6)
            return makeError(tlv.offset, "binary-time of " + std::to_string(v.size) + " bytes, expected 4 or 6");
        BinaryTime t;
        t.msOfDay = get32(v.data);
        if (v.size == 6) t.days = static_cast<uint16_t>(v[4] << 8 | v[5]);
        return Data::binaryTime(t);
    }
    case kUtcTime: {
        if (tlv.tag.constructed) return makeError(tlv.offset, "Data: constructed utc-time");
        if (v.size != 8) return makeError(tlv.offset, "utc-time of " + std::to_string(v.size) + " bytes, expected 8");
        UtcTime t;
        t.seconds = get32(v.data);
        t.fraction = uint32_t{v[4]} << 16 | uint32_t{v[5]} << 8 | v[6];
        t.quality = v[7];
        return Data::utcTime(t);
    }
    }
    return makeError(tlv.offset, "Data alternative " + tlv.tag.text() + " not supported");
}

// ---- TypeDescription ------------------------------------------------------------

bool operator==(const TypeDescription::Component& a, const TypeDescription::Component& b) {
    return a.name == b.name && a.type == b.type;
}

bool operator==(const TypeDescription& a, const TypeDescription& b) {
    return a.kind == b.kind && a.size == b.size && a.formatWidth == b.formatWidth &&
           a.exponentWidth == b.exponentWidth && a.binaryTimeWithDate == b.binaryTimeWithDate && a.packed == b.packed &&
           a.elementCount == b.elementCount && a.element == b.element && a.components == b.components &&
           a.typeName == b.typeName;
}

void encodeTypeSpec(Writer& w, const TypeDescription& t) {
    using K = TypeDescription::Kind;
    const uint32_t tag = static_cast<uint32_t>(t.kind);
    switch (t.kind) {
    case K::TypeName:
        w.begin(ctxC(0));
        encodeObjectName(w, t.typeName);
        w.end();
        return;
    case K::Array:
        w.begin(ctxC(tag));
        if (t.packed) w.boolean(ctx(0), true);
        w.unsignedInteger(ctx(1), t.elementCount);
        w.begin(ctxC(2));
        if (!t.element.empty()) encodeTypeSpec(w, t.element.front());
        w.end();
        w.end();
        return;
    case K::Structure:
        w.begin(ctxC(tag));
        if (t.packed) w.boolean(ctx(0), true);
        w.begin(ctxC(1));
        for (const auto& c : t.components) {
            w.begin(ber::tags::kSequence);
            if (!c.name.empty()) w.string(ctx(0), c.name);
            w.begin(ctxC(1));
            encodeTypeSpec(w, c.type);
            w.end();
            w.end();
        }
        w.end();
        w.end();
        return;
    case K::Boolean:
    case K::GeneralizedTime:
    case K::ObjId:
    case K::UtcTime: w.null(ctx(tag)); return;
    case K::BinaryTime: w.boolean(ctx(tag), t.binaryTimeWithDate); return;
    case K::FloatingPoint:
        w.begin(ctxC(tag));
        w.unsignedInteger(ber::tags::kInteger, t.formatWidth);
        w.unsignedInteger(ber::tags::kInteger, t.exponentWidth);
        w.end();
        return;
    case K::Integer:
    case K::Unsigned:
    case K::Bcd:
    case K::BitString:
    case K::OctetString:
    case K::VisibleString:
    case K::MmsString: w.integer(ctx(tag), t.size); return;
    }
}

Result<TypeDescription> decodeTypeSpec(const Tlv& tlv, unsigned depth) {
    using K = TypeDescription::Kind;
    if (tlv.tag.cls != ber::TagClass::Context)
        return makeError(tlv.offset, "TypeSpec: unexpected tag " + tlv.tag.text());
    TypeDescription t;
    const uint32_t n = tlv.tag.number;
    if ((n == 1 || n == 2) && depth >= kMaxDataDepth)
        return makeError(tlv.offset, "TypeDescription nesting exceeds " + std::to_string(kMaxDataDepth));
    auto expectForm = [&](bool constructed) -> Status {
        if (tlv.tag.constructed != constructed)
            return makeError(tlv.offset, "TypeDescription: wrong form of " + tlv.tag.text());
        return {};
    };
    switch (n) {
    case 0: {
        ZV_CHECK(expectForm(true));
        t.kind = K::TypeName;
        ZV_TRY(Reader r, Reader().enter(tlv));
        ZV_TRY(Tlv on, r.read());
        ZV_TRY(t.typeName, decodeObjectName(on));
        ZV_CHECK(r.expectEnd("typeName"));
        return t;
    }
    case 1: {
        ZV_CHECK(expectForm(true));
        t.kind = K::Array;
        ZV_TRY(Reader r, Reader().enter(tlv));
        if (r.nextIs(ctx(0))) {
            ZV_TRY(t.packed, r.readBoolean(ctx(0)));
        }
        ZV_TRY(t.elementCount, r.readIntegerAs<uint32_t>(ctx(1)));
        ZV_TRY(Reader e, r.enter(ctxC(2)));
        ZV_TRY(Tlv et, e.read());
        ZV_TRY(TypeDescription elem, decodeTypeSpec(et, depth + 1));
        t.element.push_back(std::move(elem));
        ZV_CHECK(e.expectEnd("elementType"));
        ZV_CHECK(r.expectEnd("array type"));
        return t;
    }
    case 2: {
        ZV_CHECK(expectForm(true));
        t.kind = K::Structure;
        ZV_TRY(Reader r, Reader().enter(tlv));
        if (r.nextIs(ctx(0))) {
            ZV_TRY(t.packed, r.readBoolean(ctx(0)));
        }
        ZV_TRY(Reader list, r.enter(ctxC(1)));
        while (!list.atEnd()) {
            ZV_TRY(Reader c, list.enter(ber::tags::kSequence));
            TypeDescription::Component comp;
            if (c.nextIs(ctx(0))) {
                ZV_TRY(Tlv nt, c.read(ctx(0)));
                ZV_TRY(comp.name, decodeIdentifier(nt));
            }
            ZV_TRY(Reader ct, c.enter(ctxC(1)));
            ZV_TRY(Tlv tt, ct.read());
            ZV_TRY(comp.type, decodeTypeSpec(tt, depth + 1));
            ZV_CHECK(ct.expectEnd("componentType"));
            ZV_CHECK(c.expectEnd("component"));
            t.components.push_back(std::move(comp));
        }
        ZV_CHECK(r.expectEnd("structure type"));
        return t;
    }
    case 3:
    case 11:
    case 15:
    case 17:
        ZV_CHECK(ber::decodeNull(tlv));
        t.kind = static_cast<K>(n);
        return t;
    case 12: {
        t.kind = K::BinaryTime;
        ZV_TRY(t.binaryTimeWithDate, ber::decodeBoolean(tlv));
        return t;
    }
    case 7: {
        ZV_CHECK(expectForm(true));
        t.kind = K::FloatingPoint;
        ZV_TRY(Reader r, Reader().enter(tlv));
        ZV_TRY(t.formatWidth, r.readIntegerAs<uint8_t>(ber::tags::kInteger));
        ZV_TRY(t.exponentWidth, r.readIntegerAs<uint8_t>(ber::tags::kInteger));
        ZV_CHECK(r.expectEnd("floating-point type"));
        return t;
    }
    case 5:
    case 6:
    case 13: {
        t.kind = static_cast<K>(n);
        ZV_TRY(uint8_t width, ber::decodeIntegerAs<uint8_t>(tlv));
        t.size = width;
        return t;
    }
    case 4:
    case 9:
    case 10:
    case 16: {
        t.kind = static_cast<K>(n);
        ZV_TRY(t.size, ber::decodeIntegerAs<int32_t>(tlv));
        return t;
    }
    }
    return makeError(tlv.offset, "TypeDescription alternative " + tlv.tag.text() + " not supported");
}

}  // namespace zv::mms
