// Bytes written as hex in tests: "a0 05 02" or "a00502" and back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvt {

// Hex digits to bytes; anything that is not a hex digit is skipped, and a
// last lone digit is dropped.
inline std::vector<uint8_t> hex(const std::string &s) {
    std::vector<uint8_t> out;
    int hi = -1;
    for (char ch : s) {
        int v;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi << 4 | v));
            hi = -1;
        }
    }
    return out;
}

// Bytes as lower-case hex digits without separators.
inline std::string toHex(const std::vector<uint8_t> &b) {
    static const char *d = "0123456789abcdef";
    std::string s;
    for (uint8_t x : b) {
        s += d[x >> 4];
        s += d[x & 15];
    }
    return s;
}

}  // namespace zvt
