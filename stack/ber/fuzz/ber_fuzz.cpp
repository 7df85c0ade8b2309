// Fuzz entry: walks any BER input as a TLV tree (bounded by kMaxDepth), runs
// the contents decoders on primitives, re-encodes the tree with the Writer and
// requires that re-reading and re-encoding gives the same bytes.
#include "ber/ber.h"

#include <cstdio>
#include <cstdlib>

using namespace zv::ber;

namespace {

struct Node {
    Tag tag;
    std::vector<uint8_t> value;  // primitive contents
    std::vector<Node> children;
};

Status parse(Reader r, std::vector<Node>& out) {
    while (!r.atEnd()) {
        ZV_TRY(Tlv t, r.read());
        Node n;
        n.tag = t.tag;
        if (t.tag.constructed) {
            ZV_TRY(Reader c, r.enter(t));
            ZV_CHECK(parse(c, n.children));
        } else {
            n.value = t.value.toVector();
            // Contents decoders must not crash on anything.
            (void)decodeInt64(t);
            (void)decodeUint64(t);
            (void)decodeBoolean(t);
            (void)decodeBitString(t);
            (void)decodeVisibleString(t);
            (void)decodeUtf8String(t);
            (void)decodeOid(t);
            (void)decodeIntegerAs<int16_t>(t);
        }
        out.push_back(std::move(n));
    }
    return {};
}

void write(Writer& w, const std::vector<Node>& nodes) {
    for (const auto& n : nodes) {
        if (n.tag.constructed) {
            w.begin(n.tag);
            write(w, n.children);
            w.end();
        } else {
            w.primitive(n.tag, n.value);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<Node> tree;
    if (!parse(Reader(ByteView(data, size)), tree)) return 0;
    Writer w1;
    write(w1, tree);
    std::vector<Node> again;
    auto s = parse(Reader(w1.bytes()), again);
    if (!s) {
        std::fprintf(stderr, "re-encoded tree does not parse: %s\n", s.error().text().c_str());
        std::abort();
    }
    Writer w2;
    write(w2, again);
    if (w1.bytes() != w2.bytes()) {
        std::fprintf(stderr, "re-encoding is not stable\n");
        std::abort();
    }
    return 0;
}
