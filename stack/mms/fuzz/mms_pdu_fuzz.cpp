// Fuzz entry: decodes any bytes as an MMS PDU; what decodes must re-encode,
// decode again and re-encode to the same bytes (no field lost or changed).
#include "mms/pdu.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zv::mms;
    auto first = decode(ByteView(data, size));
    if (!first) return 0;
    const auto bytes = encode(*first);
    auto second = decode(bytes);
    if (!second) {
        std::fprintf(stderr, "%s re-encoded does not decode: %s\n", describe(*first).c_str(),
                     second.error().text().c_str());
        std::abort();
    }
    if (encode(*second) != bytes) {
        std::fprintf(stderr, "%s: re-encoding is not stable\n", describe(*first).c_str());
        std::abort();
    }
    return 0;
}
