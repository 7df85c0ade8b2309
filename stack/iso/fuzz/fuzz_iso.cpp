// Fuzz entry for every decoder of the ISO layers. The first input octet picks
// the decoder; the rest is the untrusted input. What decodes is re-encoded
// and decoded again, and both decodes must agree.
#include "iso/cotp.h"
#include "iso/session.h"
#include "iso/tpkt.h"
#ifdef ZV_ISO_FUZZ_UPPER
#include "iso/acse.h"
#include "iso/association.h"
#include "iso/presentation.h"
#endif

#include <cstdlib>

namespace zv::iso {
namespace {

#define FUZZ_ASSERT(c)     \
    do {                   \
        if (!(c)) abort(); \
    } while (0)

void fuzzTpkt(ByteView in) {
    TpktReader r(512);
    std::vector<Bytes> out;
    // Feed in two pieces to exercise the held-back path.
    const std::size_t half = in.size / 2;
    if (r.feed(in.sub(0, half), out).ok()) (void)r.feed(in.from(half), out);
    for (const Bytes& t : out) FUZZ_ASSERT(t.size() + kTpktHeaderSize <= 512);
}

void fuzzCotp(ByteView in) {
    auto t = cotpDecode(in);
    if (!t.ok()) return;
    if (t->kind == TpduKind::ConnectRequest || t->kind == TpduKind::ConnectConfirm) {
        Bytes again;
        cotpAppendConnect(again, t->kind == TpduKind::ConnectConfirm, t->connect);
        auto t2 = cotpDecode(again);
        FUZZ_ASSERT(t2.ok() && t2->connect == t->connect);
    } else if (t->kind == TpduKind::Data) {
        Bytes again;
        cotpAppendDtHeader(again, t->eot);
        again.insert(again.end(), t->data.begin(), t->data.end());
        FUZZ_ASSERT(again == in.toVector());
    }
}

void fuzzSession(ByteView in) {
    auto s = sessionDecode(in);
    if (!s.ok()) return;
    Bytes again;
    Status st;
    switch (s->kind) {
    case SpduKind::Connect: st = sessionAppendConnect(again, s->callingSsel, s->calledSsel, s->userData); break;
    case SpduKind::Accept: st = sessionAppendAccept(again, s->calledSsel, s->userData); break;
    case SpduKind::Finish: st = sessionAppendFinish(again, s->userData); break;
    case SpduKind::Disconnect: st = sessionAppendDisconnect(again, s->userData); break;
    case SpduKind::Data: sessionAppendData(again, s->userData); break;
    default: return;
    }
    if (!st.ok()) return;
    auto s2 = sessionDecode(again);
    FUZZ_ASSERT(s2.ok() && s2->kind == s->kind && s2->userData.toVector() == s->userData.toVector() &&
                s2->callingSsel == s->callingSsel && s2->calledSsel == s->calledSsel);
}

}  // namespace
}  // namespace zv::iso

#ifdef ZV_ISO_FUZZ_UPPER
#include "fuzz_upper.inc"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zv::iso;
    if (size < 1) return 0;
    ByteView in(data + 1, size - 1);
    switch (data[0] % 6) {
    case 0: fuzzTpkt(in); break;
    case 1: fuzzCotp(in); break;
    case 2: fuzzSession(in); break;
#ifdef ZV_ISO_FUZZ_UPPER
    case 3: fuzzPresentation(in); break;
    case 4: fuzzAcse(in); break;
    case 5: fuzzAssociation(in); break;
#endif
    default: break;
    }
    return 0;
}
