// Helpers shared by the ISO layer tests.
#pragma once

#include "iso/result.h"

#include <string>

#include "zvt/bytes.h"

namespace zv::iso::test {

using zvt::hex;

inline std::string toHex(ByteView b) { return hexText(b, b.size); }

inline Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

}  // namespace zv::iso::test
