// Stored forms of primitive values and their text (see zorvan/ai_values.h).
#include "model/values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <type_traits>

namespace zv::model {

namespace {

struct TypeInfo {
    const char *name;
    size_t size;
    size_t align;
    int bits;      // usual bits of a bit string
    int bits_cap;  // capacity in bits
};

// Indexed by AI_VAL_TYPE.
const TypeInfo kTypes[] = {
    {"UNKNOWN", 0, 1, 0, 0},
    {"BOOLEAN", AI_SIZE_BOOLEAN, 1, 0, 0},
    {"INT8", AI_SIZE_INT8, 1, 0, 0},
    {"INT16", AI_SIZE_INT16, 2, 0, 0},
    {"INT32", AI_SIZE_INT32, 4, 0, 0},
    {"INT128", AI_SIZE_INT128, 8, 0, 0},
    {"INT8U", AI_SIZE_INT8U, 1, 0, 0},
    {"INT16U", AI_SIZE_INT16U, 2, 0, 0},
    {"INT32U", AI_SIZE_INT32U, 4, 0, 0},
    {"FLOAT32", AI_SIZE_FLOAT32, 4, 0, 0},
    {"FLOAT64", AI_SIZE_FLOAT64, 8, 0, 0},
    {"CODEDENUM", AI_SIZE_CODEDENUM, 2, AI_BITS_CODEDENUM, AI_BITS_CAP_CODEDENUM},
    {"TCMD", AI_SIZE_TCMD, 2, AI_BITS_TCMD, AI_BITS_CAP_TCMD},
    {"OSTRING8", AI_SIZE_OSTRING8, 2, 0, 0},
    {"OSTRING64", AI_SIZE_OSTRING64, 2, 0, 0},
    {"VSTRING64", AI_SIZE_VSTRING64, 1, 0, 0},
    {"VSTRING65", AI_SIZE_VSTRING65, 1, 0, 0},
    {"VSTRING129", AI_SIZE_VSTRING129, 1, 0, 0},
    {"VSTRING255", AI_SIZE_VSTRING255, 1, 0, 0},
    {"UNISTRING255", AI_SIZE_UNISTRING255, 1, 0, 0},
    {"QUALITY", AI_SIZE_QUALITY, 2, AI_BITS_QUALITY, AI_BITS_CAP_QUALITY},
    {"TIMESTAMP", AI_SIZE_TIMESTAMP, 4, 0, 0},
    {"ENTRYTIME", AI_SIZE_ENTRYTIME, 4, 0, 0},
    {"OPTFLDS", AI_SIZE_OPTFLDS, 2, AI_BITS_OPTFLDS, AI_BITS_CAP_OPTFLDS},
    {"TRGC", AI_SIZE_TRGC, 2, AI_BITS_TRGC, AI_BITS_CAP_TRGC},
    {"CHECK", AI_SIZE_CHECK, 2, AI_BITS_CHECK, AI_BITS_CAP_CHECK},
    {"ENTRYID", AI_SIZE_ENTRYID, 1, 0, 0},
    {"STRUCT", 0, 1, 0, 0},
};
constexpr int kNumTypes = int(sizeof(kTypes) / sizeof(kTypes[0]));

const TypeInfo *info(AI_VAL_TYPE t) {
    int i = int(t);
    return (i >= 0 && i < kNumTypes) ? &kTypes[i] : nullptr;
}

size_t vstring_max(AI_VAL_TYPE t) {
    switch (t) {
    case VAL_TYPE_VSTRING64: return 64;
    case VAL_TYPE_VSTRING65: return 65;
    case VAL_TYPE_VSTRING129: return 129;
    case VAL_TYPE_VSTRING255: return 255;
    default: return 0;
    }
}

bool put(char *out, size_t cap, std::string_view s) {
    if (s.size() + 1 > cap) return false;
    std::memcpy(out, s.data(), s.size());
    out[s.size()] = '\0';
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// A number of type T: blanks around it and a leading '+' are taken, anything
// else after the digits is not.
template <typename T>
bool parse_number(std::string_view s, T &out) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    T v{};
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size()) return false;
    out = v;
    return true;
}

// Shortest text of a stored number that reads back the same.
template <typename T>
bool number_text(const void *data, char *out, size_t cap) {
    T v;
    std::memcpy(&v, data, sizeof v);
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    if (r.ec != std::errc()) return false;
    return put(out, cap, std::string_view(buf, size_t(r.ptr - buf)));
}

int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool hex_text(const uint8_t *p, size_t n, char *out, size_t cap) {
    static const char digits[] = "0123456789ABCDEF";
    if (2 * n + 1 > cap) return false;
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[p[i] >> 4];
        out[2 * i + 1] = digits[p[i] & 15];
    }
    out[2 * n] = '\0';
    return true;
}

// Hex digits into at most `cap` octets; returns the number of octets or -1.
int parse_hex(std::string_view s, uint8_t *out, size_t cap) {
    if (s.size() % 2 != 0 || s.size() / 2 > cap) return -1;
    for (size_t i = 0; i < s.size(); i += 2) {
        int hi = hexval(s[i]), lo = hexval(s[i + 1]);
        if (hi < 0 || lo < 0) return -1;
        out[i / 2] = uint8_t(hi << 4 | lo);
    }
    return int(s.size() / 2);
}

// Number of code points of valid UTF-8, or -1.
long utf8_chars(std::string_view s) {
    long n = 0;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return -1;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return -1;
        i += len;
        ++n;
    }
    return n;
}

// ---- calendar (proleptic Gregorian, days relative to 1970-01-01) -----------

int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t &y, unsigned &m, unsigned &d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

constexpr int64_t kDays1984 = 5113;  // 1984-01-01 in days since 1970-01-01

// Parses "YYYY-MM-DD[T ]HH:MM:SS[.digits][Z]"; returns the rest of the text.
bool parse_datetime(std::string_view &s, int64_t &epoch_secs, uint64_t &nanos) {
    auto num = [&](size_t n, int &out) {
        if (s.size() < n) return false;
        int v = 0;
        for (size_t i = 0; i < n; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            v = v * 10 + (s[i] - '0');
        }
        out = v;
        s.remove_prefix(n);
        return true;
    };
    auto lit = [&](char c) {
        if (s.empty() || s.front() != c) return false;
        s.remove_prefix(1);
        return true;
    };
    int Y, M, D, h, mi, sec;
    if (!num(4, Y) || !lit('-') || !num(2, M) || !lit('-') || !num(2, D)) return false;
    if (s.empty() || (s.front() != 'T' && s.front() != ' ')) return false;
    s.remove_prefix(1);
    if (!num(2, h) || !lit(':') || !num(2, mi) || !lit(':') || !num(2, sec)) return false;
    if (M < 1 || M > 12 || D < 1 || h > 23 || mi > 59 || sec > 59) return false;
    static const int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0;
    if (D > mdays[M - 1] || (M == 2 && D == 29 && !leap)) return false;
    nanos = 0;
    if (!s.empty() && s.front() == '.') {
        s.remove_prefix(1);
        int digits = 0;
        while (!s.empty() && s.front() >= '0' && s.front() <= '9') {
            if (digits < 9) nanos = nanos * 10 + uint64_t(s.front() - '0');
            ++digits;
            s.remove_prefix(1);
        }
        if (digits == 0) return false;
        for (int i = digits; i < 9; ++i) nanos *= 10;
    }
    if (!s.empty() && s.front() == 'Z') s.remove_prefix(1);
    epoch_secs = days_from_civil(Y, unsigned(M), unsigned(D)) * 86400 + h * 3600 + mi * 60 + sec;
    return true;
}

bool format_datetime(int64_t epoch_secs, char *buf, size_t cap) {
    int64_t days = epoch_secs >= 0 ? epoch_secs / 86400 : -((-epoch_secs + 86399) / 86400);
    int64_t rem = epoch_secs - days * 86400;
    int64_t y;
    unsigned m, d;
    civil_from_days(days, y, m, d);
    if (y < 1 || y > 9999) return false;
    int n = std::snprintf(buf, cap, "%04d-%02u-%02uT%02d:%02d:%02d", int(y), m, d, int(rem / 3600), int(rem / 60 % 60),
                          int(rem % 60));
    return n > 0 && size_t(n) < cap;
}

bool bits_text(const uint8_t *data, int cap_bits, char *out, size_t cap) {
    int16_t n;
    std::memcpy(&n, data, 2);
    if (n < 0 || n > cap_bits || size_t(n) + 1 > cap) return false;
    for (int i = 0; i < n; ++i) out[i] = (data[2 + i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
    out[n] = '\0';
    return true;
}

}  // namespace

size_t stored_size(AI_VAL_TYPE t) {
    const TypeInfo *ti = info(t);
    return ti ? ti->size : 0;
}

size_t stored_align(AI_VAL_TYPE t) {
    const TypeInfo *ti = info(t);
    return ti ? ti->align : 1;
}

int bitstring_bits(AI_VAL_TYPE t) {
    const TypeInfo *ti = info(t);
    return ti ? ti->bits : 0;
}

int bitstring_capacity(AI_VAL_TYPE t) {
    const TypeInfo *ti = info(t);
    return ti ? ti->bits_cap : 0;
}

const char *type_name(AI_VAL_TYPE t) {
    const TypeInfo *ti = info(t);
    return ti ? ti->name : nullptr;
}

int utc_to_text(uint32_t secs, uint32_t fraction, uint32_t qflags, char *out, size_t cap) {
    if (!out || fraction > 0xFFFFFFu) return 1;
    char date[40];
    if (!format_datetime(int64_t(secs), date, sizeof date)) return 1;
    // 24-bit fraction -> nanoseconds, rounded; text_to_utc rounds back exactly.
    uint64_t ns = (uint64_t(fraction) * 1000000000ull + (1ull << 23)) >> 24;
    char buf[80];
    int n = qflags ? std::snprintf(buf, sizeof buf, "%s.%09uZ q=0x%02X", date, unsigned(ns), unsigned(qflags))
                   : std::snprintf(buf, sizeof buf, "%s.%09uZ", date, unsigned(ns));
    if (n <= 0 || size_t(n) >= sizeof buf) return 1;
    return put(out, cap, std::string_view(buf, size_t(n))) ? 0 : 1;
}

int text_to_utc(std::string_view s, uint32_t &secs, uint32_t &fraction, uint32_t &qflags) {
    s = trim(s);
    int64_t es;
    uint64_t ns;
    if (!parse_datetime(s, es, ns)) return 1;
    if (es < 0 || es > int64_t(0xFFFFFFFFll)) return 1;
    uint32_t q = 0;
    s = trim(s);
    if (!s.empty()) {
        if (s.substr(0, 4) != "q=0x" && s.substr(0, 4) != "q=0X") return 1;
        s.remove_prefix(4);
        if (s.empty() || s.size() > 8) return 1;
        for (char c : s) {
            int v = hexval(c);
            if (v < 0) return 1;
            q = q << 4 | uint32_t(v);
        }
    }
    secs = uint32_t(es);
    fraction = uint32_t(((ns << 24) + 500000000ull) / 1000000000ull);
    if (fraction > 0xFFFFFFu) fraction = 0xFFFFFFu;
    qflags = q;
    return 0;
}

void current_time(TimeStamp_TDEF &ts) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    ts.secs = uint32_t(now.tv_sec);
    ts.fraction = uint32_t((uint64_t(now.tv_nsec) << 24) / 1000000000ull);
    ts.qflags = 0x0A;
}

int value_to_text(AI_VAL_TYPE t, const void *data, char *out, size_t cap) {
    if (!data || !out || cap == 0) return 1;
    const auto *p = static_cast<const uint8_t *>(data);
    bool ok = false;
    switch (t) {
    case VAL_TYPE_BOOLEAN: ok = put(out, cap, p[0] ? "true" : "false"); break;
    case VAL_TYPE_INT8: ok = number_text<int8_t>(p, out, cap); break;
    case VAL_TYPE_INT16: ok = number_text<int16_t>(p, out, cap); break;
    case VAL_TYPE_INT32: ok = number_text<int32_t>(p, out, cap); break;
    case VAL_TYPE_INT128: ok = number_text<int64_t>(p, out, cap); break;
    case VAL_TYPE_INT8U: ok = number_text<uint8_t>(p, out, cap); break;
    case VAL_TYPE_INT16U: ok = number_text<uint16_t>(p, out, cap); break;
    case VAL_TYPE_INT32U: ok = number_text<uint32_t>(p, out, cap); break;
    case VAL_TYPE_FLOAT32: ok = number_text<float>(p, out, cap); break;
    case VAL_TYPE_FLOAT64: ok = number_text<double>(p, out, cap); break;
    case VAL_TYPE_CODEDENUM:
    case VAL_TYPE_TCMD:
    case VAL_TYPE_QUALITY:
    case VAL_TYPE_OPTFLDS:
    case VAL_TYPE_TRGC:
    case VAL_TYPE_CHECK: ok = bits_text(p, bitstring_capacity(t), out, cap); break;
    case VAL_TYPE_OSTRING8:
    case VAL_TYPE_OSTRING64: {
        int16_t n;
        std::memcpy(&n, p, 2);
        int max = t == VAL_TYPE_OSTRING8 ? 8 : 64;
        ok = n >= 0 && n <= max && hex_text(p + 2, size_t(n), out, cap);
        break;
    }
    case VAL_TYPE_ENTRYID: ok = hex_text(p, 8, out, cap); break;
    case VAL_TYPE_VSTRING64:
    case VAL_TYPE_VSTRING65:
    case VAL_TYPE_VSTRING129:
    case VAL_TYPE_VSTRING255:
    case VAL_TYPE_UNISTRING255: {
        size_t max = stored_size(t);
        const void *nul = std::memchr(p, 0, max);
        ok = nul &&
             put(out, cap,
                 std::string_view(reinterpret_cast<const char *>(p), size_t(static_cast<const uint8_t *>(nul) - p)));
        break;
    }
    case VAL_TYPE_TIMESTAMP: {
        TimeStamp_TDEF ts;
        std::memcpy(&ts, p, sizeof ts);
        return utc_to_text(ts.secs, ts.fraction, ts.qflags, out, cap);
    }
    case VAL_TYPE_ENTRYTIME: {
        EntryTime_TDEF et;
        std::memcpy(&et, p, sizeof et);
        if (et.btime6_ms < 0 || et.btime6_ms >= 86400000) return 1;
        char date[40];
        if (!format_datetime((kDays1984 + int64_t(et.btime6_days)) * 86400 + et.btime6_ms / 1000, date, sizeof date))
            return 1;
        char buf[64];
        int n = std::snprintf(buf, sizeof buf, "%s.%03dZ", date, int(et.btime6_ms % 1000));
        ok = n > 0 && size_t(n) < sizeof buf && put(out, cap, std::string_view(buf, size_t(n)));
        break;
    }
    default: return 1;
    }
    return ok ? 0 : 1;
}

int text_to_value(AI_VAL_TYPE t, std::string_view text, void *out) {
    if (!out) return 1;
    uint8_t buf[AI_SIZE_UNISTRING255] = {};
    size_t size = stored_size(t);
    if (size == 0) return 1;
    bool ok = false;
    switch (t) {
    case VAL_TYPE_BOOLEAN: {
        std::string_view s = trim(text);
        if (s == "true" || s == "TRUE" || s == "True" || s == "1") {
            buf[0] = 1;
            ok = true;
        } else if (s == "false" || s == "FALSE" || s == "False" || s == "0") {
            buf[0] = 0;
            ok = true;
        }
        break;
    }
#define ZV_NUMBER_CASE(TAG, T)                  \
    case TAG: {                                 \
        T v;                                    \
        ok = parse_number<T>(text, v);          \
        if (ok) std::memcpy(buf, &v, sizeof v); \
        break;                                  \
    }
        ZV_NUMBER_CASE(VAL_TYPE_INT8, int8_t)
        ZV_NUMBER_CASE(VAL_TYPE_INT16, int16_t)
        ZV_NUMBER_CASE(VAL_TYPE_INT32, int32_t)
        ZV_NUMBER_CASE(VAL_TYPE_INT128, int64_t)
        ZV_NUMBER_CASE(VAL_TYPE_INT8U, uint8_t)
        ZV_NUMBER_CASE(VAL_TYPE_INT16U, uint16_t)
        ZV_NUMBER_CASE(VAL_TYPE_INT32U, uint32_t)
        ZV_NUMBER_CASE(VAL_TYPE_FLOAT32, float)
        ZV_NUMBER_CASE(VAL_TYPE_FLOAT64, double)
#undef ZV_NUMBER_CASE
    case VAL_TYPE_CODEDENUM:
    case VAL_TYPE_TCMD:
    case VAL_TYPE_QUALITY:
    case VAL_TYPE_OPTFLDS:
    case VAL_TYPE_TRGC:
    case VAL_TYPE_CHECK: {
        std::string_view s = trim(text);
        if (s.size() > size_t(bitstring_capacity(t))) break;
        ok = true;
        for (size_t i = 0; i < s.size() && ok; ++i) {
            if (s[i] == '1')
                buf[2 + i / 8] |= uint8_t(0x80 >> (i % 8));
            else if (s[i] != '0')
                ok = false;
        }
        int16_t n = int16_t(s.size());
        std::memcpy(buf, &n, 2);
        break;
    }
    case VAL_TYPE_OSTRING8:
    case VAL_TYPE_OSTRING64: {
        int n = parse_hex(trim(text), buf + 2, t == VAL_TYPE_OSTRING8 ? 8 : 64);
        if (n >= 0) {
            int16_t len = int16_t(n);
            std::memcpy(buf, &len, 2);
            ok = true;
        }
        break;
    }
    case VAL_TYPE_ENTRYID: ok = parse_hex(trim(text), buf, 8) >= 0; break;
    case VAL_TYPE_VSTRING64:
    case VAL_TYPE_VSTRING65:
    case VAL_TYPE_VSTRING129:
    case VAL_TYPE_VSTRING255:
        if (text.size() <= vstring_max(t) && text.find('\0') == std::string_view::npos) {
            std::memcpy(buf, text.data(), text.size());
            ok = true;
        }
        break;
    case VAL_TYPE_UNISTRING255: {
        long chars = utf8_chars(text);
        if (chars >= 0 && chars <= AI_UNISTRING_MAX_CHARS && text.size() < AI_SIZE_UNISTRING255 &&
            text.find('\0') == std::string_view::npos) {
            std::memcpy(buf, text.data(), text.size());
            ok = true;
        }
        break;
    }
    case VAL_TYPE_TIMESTAMP: {
        TimeStamp_TDEF ts;
        if (text_to_utc(text, ts.secs, ts.fraction, ts.qflags) == 0) {
            std::memcpy(buf, &ts, sizeof ts);
            ok = true;
        }
        break;
    }
    case VAL_TYPE_ENTRYTIME: {
        std::string_view s = trim(text);
        int64_t es;
        uint64_t ns;
        if (parse_datetime(s, es, ns) && trim(s).empty()) {
            int64_t days = (es >= 0 ? es / 86400 : -((-es + 86399) / 86400));
            int64_t ms = (es - days * 86400) * 1000 + int64_t(ns / 1000000);
            int64_t d84 = days - kDays1984;
            if (d84 >= std::numeric_limits<int32_t>::min() && d84 <= std::numeric_limits<int32_t>::max()) {
                EntryTime_TDEF et{int32_t(ms), int32_t(d84)};
                std::memcpy(buf, &et, sizeof et);
                ok = true;
            }
        }
        break;
    }
    default: break;
    }
    if (!ok) return 1;
    std::memcpy(out, buf, size);
    return 0;
}

int scl_text_to_value(AI_VAL_TYPE t, std::string_view text, void *out) {
    if (t == VAL_TYPE_CODEDENUM) {
        // SCL writes double-point positions by name.
        std::string_view s = trim(text);
        const char *bits = s == "intermediate-state" ? "00"
                           : s == "off"              ? "01"
                           : s == "on"               ? "10"
                           : s == "bad-state"        ? "11"
                                                     : nullptr;
        if (bits) return text_to_value(t, bits, out);
    }
    switch (t) {
    case VAL_TYPE_VSTRING64:
    case VAL_TYPE_VSTRING65:
    case VAL_TYPE_VSTRING129:
    case VAL_TYPE_VSTRING255:
    case VAL_TYPE_UNISTRING255: return text_to_value(t, text, out);
    default: return text_to_value(t, trim(text), out);
    }
}

}  // namespace zv::model
