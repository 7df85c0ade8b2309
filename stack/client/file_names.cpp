#include "client/file_names.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace zv::client {

namespace {

// GB18030 -> UTF-8 of the whole name, or false when some byte does not
// decode (a truncated sequence included).
bool from_gb18030(std::string_view in, std::string &out) {
    iconv_t cd = ::iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    // A GB18030 character of at most 4 bytes becomes at most 4 bytes of UTF-8.
    std::string buf(in.size() * 2 + 4, '\0');
    char *src = const_cast<char *>(in.data());
    size_t left = in.size();
    char *dst = buf.data();
    size_t room = buf.size();
    bool ok = ::iconv(cd, &src, &left, &dst, &room) != static_cast<size_t>(-1) && left == 0;
    if (ok) {
        // Flush any shift state; GB18030 has none, but the call is cheap.
        ok = ::iconv(cd, nullptr, nullptr, &dst, &room) != static_cast<size_t>(-1);
    }
    ::iconv_close(cd);
    if (!ok) return false;
    buf.resize(buf.size() - room);
    out = std::move(buf);
    return true;
}

void escape(std::string &out, unsigned char c) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += hex;
}

}  // namespace

bool is_utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 2, cp = c & 0x1Fu;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3, cp = c & 0x0Fu;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4, cp = c & 0x07u;
        } else {
            return false;
        }
        if (i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3Fu);
        }
        static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

std::string shown_file_name(std::string_view bytes) {
    std::string text;
    if (is_utf8(bytes)) {
        text.assign(bytes);
    } else if (!from_gb18030(bytes, text)) {
        std::string out;
        for (unsigned char c : bytes) {
            if (c >= 0x20 && c < 0x7F)
                out += char(c);
            else
                escape(out, c);
        }
        return out;
    }
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            escape(out, c);
        else
            out += char(c);
    }
    return out;
}

}  // namespace zv::client
