// Fuzz entry: decodes any bytes as one Data value and as one TypeSpec;
// what decodes must re-encode to bytes that decode to an equal value.
#include "mms/data.h"

#include <cstdio>
#include <cstdlib>

using namespace zv::mms;

namespace {

template <class T, class Dec, class Enc>
void check(const zv::ber::Tlv& tlv, Dec dec, Enc enc, const char* what) {
    auto first = dec(tlv, 0u);
    if (!first) return;
    zv::ber::Writer w;
    enc(w, *first);
    zv::ber::Reader r(w.bytes());
    auto t = r.read();
    auto second = t ? dec(*t, 0u) : Result<T>(t.error());
    if (!second || !(*second == *first) || !r.atEnd()) {
        std::fprintf(stderr, "%s does not survive re-encoding\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zv::ber::Reader r(ByteView(data, size));
    auto tlv = r.read();
    if (!tlv) return 0;
    check<Data>(*tlv, decodeData, encodeData, "Data");
    check<TypeDescription>(*tlv, decodeTypeSpec, encodeTypeSpec, "TypeDescription");
    return 0;
}
