// Character sets of the configuration, header and information texts.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "comtrade/comtrade.h"

namespace zv::comtrade {

namespace {

bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    while (i < s.size()) {
        const unsigned c = p[i];
        std::size_t n;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size() || (p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        // No overlong forms, no surrogates, nothing past U+10FFFF.
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 4);
    for (unsigned char c : s) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// GB18030 to UTF-8 through iconv; false on a byte sequence GB18030 does not have.
bool gb18030ToUtf8(std::string_view s, std::string& out, std::string* why) {
    iconv_t cd = ::iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (why) *why = std::string("iconv cannot convert GB18030: ") + std::strerror(errno);
        return false;
    }
    out.clear();
    std::string in(s);  // iconv takes a non-const pointer
    char* src = in.data();
    std::size_t left = in.size();
    char buf[4096];
    bool ok = true;
    while (left > 0) {
        char* dst = buf;
        std::size_t room = sizeof buf;
        const std::size_t r = ::iconv(cd, &src, &left, &dst, &room);
        out.append(buf, std::size_t(dst - buf));
        if (r == std::size_t(-1) && errno != E2BIG) {
            if (why) *why = "byte " + std::to_string(in.size() - left + 1) + " is not GB18030 text";
            ok = false;
            break;
        }
    }
    ::iconv_close(cd);
    return ok;
}

// Whether text that is not UTF-8 reads as Chinese in GB18030: every byte
// above 0x7F pairs up as GB2312 (both bytes 0xA1..0xFE, the common Hanzi)
// for at least half of the pairs. Latin-1 text has lone accented letters
// between ASCII ones, which pair up as GB2312 only by rare chance.
bool looksGb(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t pairs = 0, gb2312 = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (p[i] < 0x80) continue;
        if (i + 1 >= s.size()) return false;
        const unsigned a = p[i], b = p[i + 1];
        if (a < 0x81 || a > 0xFE) return false;
        if (b >= 0x30 && b <= 0x39) {  // four-byte sequence
            if (i + 3 >= s.size()) return false;
            i += 3;
        } else {
            if (b < 0x40 || b == 0x7F || b == 0xFF) return false;
            ++i;
        }
        ++pairs;
        if (a >= 0xA1 && b >= 0xA1) ++gb2312;
    }
    return pairs > 0 && gb2312 * 2 >= pairs;
}

}  // namespace

const char* encodingName(Encoding e) {
    switch (e) {
    case Encoding::Auto: return "auto";
    case Encoding::Utf8: return "UTF-8";
    case Encoding::Latin1: return "Latin-1";
    case Encoding::Gb18030: return "GB18030";
    }
    return "?";
}

bool decodeText(std::string_view bytes, Encoding encoding, std::string& out, Encoding* used, std::string* why) {
    static constexpr std::string_view kBom = "\xEF\xBB\xBF";
    const bool bom = bytes.substr(0, 3) == kBom;
    if (bom && (encoding == Encoding::Auto || encoding == Encoding::Utf8)) bytes.remove_prefix(3);
    Encoding e = encoding;
    if (e == Encoding::Auto) {
        if (bom || validUtf8(bytes))
            e = Encoding::Utf8;
        else
            e = looksGb(bytes) ? Encoding::Gb18030 : Encoding::Latin1;
    }
    if (used) *used = e;
    switch (e) {
    case Encoding::Utf8:
        if (!validUtf8(bytes)) {
            if (why) *why = "text is not valid UTF-8";
            return false;
        }
        out.assign(bytes);
        return true;
    case Encoding::Latin1: out = latin1ToUtf8(bytes); return true;
    case Encoding::Gb18030: return gb18030ToUtf8(bytes, out, why);
    case Encoding::Auto: break;
    }
    return false;
}

}  // namespace zv::comtrade
