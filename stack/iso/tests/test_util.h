// Helpers shared by the ISO layer tests.
#pragma once

#include "iso/result.h"

#include <cctype>
#include <string>

namespace zv::iso::test {

// "03 00 00 16 11 e0" -> bytes; spaces, newlines ignored.
inline Bytes hex(const std::string& text) {
    Bytes out;
    int hi = -1;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
        if (hi < 0) hi = v;
        else {
            out.push_back(static_cast<uint8_t>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

inline std::string toHex(ByteView b) { return hexText(b, b.size); }

inline Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

}  // namespace zv::iso::test
