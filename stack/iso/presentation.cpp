#include "iso/presentation.h"

namespace zv::iso {

namespace {

using ber::ctx;
using ber::ctxC;
using ber::Reader;
using ber::Tag;
using ber::Tlv;
using ber::Writer;
namespace tags = ber::tags;

constexpr Tag kFullyEncodedData = ber::appC(1);
constexpr Tag kSimplyEncodedData = ber::app(0);
constexpr int64_t kNormalMode = 1;

#define P_TRY(decl, what, expr) ZV_TRY(decl, layerResult("presentation", what, (expr)))
#define P_CHECK(what, expr) ZV_CHECK(layerResult("presentation", what, (expr)))

Error fail(const char* what, const std::string& reason) { return layerError("presentation", what, reason); }

Status checkPsel(const char* what, const Bytes& psel) {
    if (psel.size() > kMaxPselLength)
        return fail(what, "presentation selector of " + std::to_string(psel.size()) + " octets exceeds " +
                              std::to_string(kMaxPselLength));
    return {};
}

Result<Bytes> readPsel(const char* what, const Tlv& t) {
    P_TRY(Bytes psel, what, ber::decodeOctetString(t));
    ZV_CHECK(checkPsel(what, psel));
    return psel;
}

void writeModeSelector(Writer& w) {
    w.constructed(ctxC(0), [&] { w.integer(ctx(0), kNormalMode); });
}

Status readModeSelector(const char* what, Reader& set) {
    P_TRY(Reader ms, what, set.enter(ctxC(0)));
    P_TRY(int64_t mode, what, ms.readInt64(ctx(0)));
    if (mode != kNormalMode) return fail(what, "mode " + std::to_string(mode) + ", only normal mode (1) is supported");
    return {};
}

void writePdvs(Writer& w, const std::vector<Pdv>& pdvs) {
    w.constructed(kFullyEncodedData, [&] {
        for (const Pdv& p : pdvs) {
            w.constructed(tags::kSequence, [&] {
                w.integer(tags::kInteger, p.contextId);
                w.constructed(ctxC(0), [&] { w.raw(p.data); });
            });
        }
    });
}

Result<std::vector<Pdv>> readPdvs(const char* what, const Tlv& ud) {
    if (ud.tag == kSimplyEncodedData) return fail(what, "simply encoded user data is not supported");
    if (ud.tag != kFullyEncodedData)
        return fail(what, "user data tag " + ud.tag.text() + ", expected fully encoded data");
    // The reader of the enclosing PPDU produced `ud`; a fresh one over its
    // contents keeps offsets relative to the user data.
    Reader list(ud.value, ud.valueOffset, ud.depth + 1);
    std::vector<Pdv> pdvs;
    while (!list.atEnd()) {
        if (pdvs.size() == kMaxPdvs) return fail(what, "more than " + std::to_string(kMaxPdvs) + " PDV lists");
        P_TRY(Reader pdv, what, list.enter(tags::kSequence));
        if (pdv.nextIs(tags::kOid)) {
            P_TRY(ber::Oid ts, what, pdv.readOid(tags::kOid));
            if (ts != berTransferSyntax()) return fail(what, "PDV transfer syntax " + ts.text() + " is not BER");
        }
        Pdv p;
        P_TRY(p.contextId, what, pdv.readInt64(tags::kInteger));
        P_TRY(Tlv value, what, pdv.read());
        if (value.tag == ctxC(0)) {
            P_CHECK(what, checkSingleAsn1Type(value));
        } else if (value.tag != ctx(1)) {
            return fail(what, "presentation data values " + value.tag.text() +
                                  ", expected single-ASN1-type [0] or octet-aligned [1]");
        }
        p.data = value.value;
        P_CHECK(what, pdv.expectEnd("PDV-list"));
        pdvs.push_back(p);
    }
    if (pdvs.empty()) return fail(what, "fully encoded data without a PDV list");
    return pdvs;
}

void writeResults(Writer& w, const std::vector<ContextResult>& results) {
    w.constructed(ctxC(5), [&] {
        for (const ContextResult& r : results) {
            w.constructed(tags::kSequence, [&] {
                w.integer(ctx(0), r.result);
                if (r.transferSyntax) w.oid(ctx(1), *r.transferSyntax);
                if (r.providerReason) w.integer(ctx(2), *r.providerReason);
            });
        }
    });
}

Result<std::vector<ContextResult>> readResults(const char* what, Reader& list) {
    std::vector<ContextResult> out;
    while (!list.atEnd()) {
        if (out.size() == kMaxPresentationContexts)
            return fail(what, "more than " + std::to_string(kMaxPresentationContexts) + " context results");
        P_TRY(Reader item, what, list.enter(tags::kSequence));
        ContextResult r;
        P_TRY(r.result, what, item.readInt64(ctx(0)));
        if (r.result < kCtxAcceptance || r.result > kCtxProviderRejection)
            return fail(what, "context result " + std::to_string(r.result) + " outside 0..2");
        if (item.nextIs(ctx(1))) {
            P_TRY(ber::Oid ts, what, item.readOid(ctx(1)));
            r.transferSyntax = std::move(ts);
        }
        if (item.nextIs(ctx(2))) {
            P_TRY(int64_t reason, what, item.readInt64(ctx(2)));
            r.providerReason = reason;
        }
        P_CHECK(what, item.expectEnd("context result"));
        out.push_back(std::move(r));
    }
    return out;
}

Result<std::vector<PresentationContext>> readContexts(const char* what, Reader& list) {
    std::vector<PresentationContext> out;
    while (!list.atEnd()) {
        if (out.size() == kMaxPresentationContexts)
            return fail(what, "more than " + std::to_string(kMaxPresentationContexts) + " presentation contexts");
        P_TRY(Reader item, what, list.enter(tags::kSequence));
        PresentationContext c;
        P_TRY(c.id, what, item.readInt64(tags::kInteger));
        // ISO 8823: context identifiers are odd for the initiator.
        if (c.id < 1 || c.id % 2 == 0)
            return fail(what, "context identifier " + std::to_string(c.id) + " is not a positive odd number");
        for (const auto& other : out)
            if (other.id == c.id) return fail(what, "context identifier " + std::to_string(c.id) + " given twice");
        P_TRY(c.abstractSyntax, what, item.readOid(tags::kOid));
        P_TRY(Reader ts, what, item.enter(tags::kSequence));
        while (!ts.atEnd()) {
            if (c.transferSyntaxes.size() == kMaxTransferSyntaxes)
                return fail(what, "more than " + std::to_string(kMaxTransferSyntaxes) + " transfer syntaxes");
            P_TRY(ber::Oid o, what, ts.readOid(tags::kOid));
            c.transferSyntaxes.push_back(std::move(o));
        }
        if (c.transferSyntaxes.empty())
            return fail(what, "context " + std::to_string(c.id) + " names no transfer syntax");
        P_CHECK(what, item.expectEnd("context definition"));
        out.push_back(std::move(c));
    }
    return out;
}

}  // namespace

const ber::Oid& acseAbstractSyntax() {
    static const ber::Oid o{{2, 2, 1, 0, 1}};
    return o;
}
const ber::Oid& mmsAbstractSyntax() {
    static const ber::Oid o{{1, 0, 9506, 2, 1}};
    return o;
}
const ber::Oid& berTransferSyntax() {
    static const ber::Oid o{{2, 1, 1}};
    return o;
}

Error berError(const char* what, const ber::Error& e) { return makeError(std::string(what) + ": " + e.text()); }

ber::Status checkSingleAsn1Type(const ber::Tlv& t) {
    Reader inner(t.value, t.valueOffset, t.depth + 1);
    ZV_TRY(Tlv one, inner.read());
    (void)one;
    return inner.expectEnd("single-ASN1-type");
}

Error layerError(const char* layer, const char* what, const std::string& reason) {
    return makeError(std::string(layer) + " " + what + ": " + reason);
}

Status layerResult(const char* layer, const char* what, const ber::Status& s) {
    if (!s.ok()) return berError((std::string(layer) + " " + what).c_str(), s.error());
    return {};
}

Status presentationAppendConnect(Bytes& out, const ConnectPpdu& cp) {
    ZV_CHECK(checkPsel("CP", cp.callingPsel));
    ZV_CHECK(checkPsel("CP", cp.calledPsel));
    Writer w;
    w.constructed(tags::kSet, [&] {
        writeModeSelector(w);
        w.constructed(ctxC(2), [&] {
            if (!cp.callingPsel.empty()) w.octetString(ctx(1), cp.callingPsel);
            if (!cp.calledPsel.empty()) w.octetString(ctx(2), cp.calledPsel);
            w.constructed(ctxC(4), [&] {
                for (const auto& c : cp.contexts) {
                    w.constructed(tags::kSequence, [&] {
                        w.integer(tags::kInteger, c.id);
                        w.oid(tags::kOid, c.abstractSyntax);
                        w.constructed(tags::kSequence, [&] {
                            for (const auto& t : c.transferSyntaxes) w.oid(tags::kOid, t);
                        });
                    });
                }
            });
            if (!cp.userData.empty()) writePdvs(w, cp.userData);
        });
    });
    const Bytes& b = w.bytes();
    out.insert(out.end(), b.begin(), b.end());
    return {};
}

Status presentationAppendAccept(Bytes& out, const AcceptPpdu& cpa) {
    ZV_CHECK(checkPsel("CPA", cpa.respondingPsel));
    Writer w;
    w.constructed(tags::kSet, [&] {
        writeModeSelector(w);
        w.constructed(ctxC(2), [&] {
            if (!cpa.respondingPsel.empty()) w.octetString(ctx(3), cpa.respondingPsel);
            writeResults(w, cpa.results);
            if (!cpa.userData.empty()) writePdvs(w, cpa.userData);
        });
    });
    const Bytes& b = w.bytes();
    out.insert(out.end(), b.begin(), b.end());
    return {};
}

Status presentationAppendRefuse(Bytes& out, const RefusePpdu& cpr) {
    ZV_CHECK(checkPsel("CPR", cpr.respondingPsel));
    Writer w;
    w.constructed(tags::kSequence, [&] {
        if (!cpr.respondingPsel.empty()) w.octetString(ctx(3), cpr.respondingPsel);
        if (!cpr.results.empty()) writeResults(w, cpr.results);
        if (cpr.providerReason) w.integer(ctx(10), *cpr.providerReason);
        if (!cpr.userData.empty()) writePdvs(w, cpr.userData);
    });
    const Bytes& b = w.bytes();
    out.insert(out.end(), b.begin(), b.end());
    return {};
}

void presentationAppendUserData(Bytes& out, const std::vector<Pdv>& pdvs) {
    Writer w;
    writePdvs(w, pdvs);
    const Bytes& b = w.bytes();
    out.insert(out.end(), b.begin(), b.end());
}

void presentationAppendUserData(Bytes& out, int64_t contextId, ByteView data) {
    uint8_t head[kMaxUserDataHeaderSize];
    const std::size_t n = presentationUserDataHeader(head, contextId, data.size);
    out.reserve(out.size() + n + data.size);
    out.insert(out.end(), head, head + n);
    out.insert(out.end(), data.begin(), data.end());
}

namespace {

// Minimal BER length (X.690 8.1.3.3-5) of `len` at `out`; returns its size.
std::size_t putLength(uint8_t* out, std::size_t len) {
    if (len < 0x80) {
        out[0] = static_cast<uint8_t>(len);
        return 1;
    }
    std::size_t nb = 0;
    for (std::size_t l = len; l; l >>= 8) ++nb;
    out[0] = static_cast<uint8_t>(0x80 | nb);
    for (std::size_t k = 0; k < nb; ++k) out[1 + k] = static_cast<uint8_t>(len >> (8 * (nb - 1 - k)));
    return 1 + nb;
}

std::size_t lengthSize(std::size_t len) {
    uint8_t tmp[9];
    return putLength(tmp, len);
}

}  // namespace

std::size_t presentationUserDataHeader(uint8_t* out, int64_t contextId, std::size_t size) {
    // The same octets as writePdvs for one PDV, written from the sizes
    // inwards: fully-encoded-data { PDV-list { context-id, [0] data } }.
    uint8_t id[8];
    const std::size_t idSize = ber::encodeIntegerContents(contextId, id);
    const std::size_t value = 1 + lengthSize(size) + size;  // [0] single-ASN1-type
    const std::size_t pdv = 2 + idSize + value;             // INTEGER context-id, then the value
    const std::size_t list = 1 + lengthSize(pdv) + pdv;     // PDV-list SEQUENCE
    std::size_t n = 0;
    out[n++] = 0x61;  // [APPLICATION 1] constructed
    n += putLength(out + n, list);
    out[n++] = 0x30;  // SEQUENCE
    n += putLength(out + n, pdv);
    out[n++] = 0x02;  // INTEGER
    out[n++] = static_cast<uint8_t>(idSize);
    for (std::size_t k = 0; k < idSize; ++k) out[n++] = id[k];
    out[n++] = 0xA0;  // [0] constructed
    n += putLength(out + n, size);
    return n;
}

void presentationAppendAbort(Bytes& out, const AbortPpdu& ab) {
    Writer w;
    if (ab.userAbort) {
        w.constructed(ctxC(0), [&] {
            if (!ab.userData.empty()) writePdvs(w, ab.userData);
        });
    } else {
        w.constructed(tags::kSequence, [&] {
            if (ab.providerReason) w.integer(ctx(0), *ab.providerReason);
            if (ab.eventIdentifier) w.integer(ctx(1), *ab.eventIdentifier);
        });
    }
    const Bytes& b = w.bytes();
    out.insert(out.end(), b.begin(), b.end());
}

Result<ConnectPpdu> presentationDecodeConnect(ByteView in) {
    const char* what = "CP";
    Reader top(in);
    P_TRY(Reader set, what, top.enter(tags::kSet));
    P_CHECK(what, top.expectEnd("CP-type"));
    ZV_CHECK(readModeSelector(what, set));
    if (!set.nextIs(ctxC(2))) return fail(what, "normal-mode parameters missing");
    P_TRY(Reader nm, what, set.enter(ctxC(2)));
    P_CHECK(what, set.expectEnd("CP-type"));
    ConnectPpdu cp;
    bool haveContexts = false;
    while (!nm.atEnd()) {
        P_TRY(Tlv t, what, nm.read());
        if (t.tag == ctx(1)) {
            ZV_TRY(cp.callingPsel, readPsel(what, t));
        } else if (t.tag == ctx(2)) {
            ZV_TRY(cp.calledPsel, readPsel(what, t));
        } else if (t.tag == ctxC(4)) {
            P_TRY(Reader list, what, nm.enter(t));
            ZV_TRY(cp.contexts, readContexts(what, list));
            haveContexts = true;
        } else if (t.tag == kFullyEncodedData || t.tag == kSimplyEncodedData) {
            ZV_TRY(cp.userData, readPdvs(what, t));
        } else if (t.tag == ctx(0) || t.tag == ctxC(6) || t.tag == ctx(8) || t.tag == ctx(9) || t.tag == ctxC(0)) {
            // protocol version, default context, presentation and session
            // requirements: nothing of them changes the kernel we run.
        } else {
            return fail(what, "unexpected " + t.tag.text() + " in normal-mode parameters");
        }
    }
    if (!haveContexts) return fail(what, "presentation context definition list missing");
    return cp;
}

Result<AcceptPpdu> presentationDecodeAccept(ByteView in) {
    const char* what = "CPA";
    Reader top(in);
    P_TRY(Reader set, what, top.enter(tags::kSet));
    P_CHECK(what, top.expectEnd("CPA-PPDU"));
    ZV_CHECK(readModeSelector(what, set));
    if (!set.nextIs(ctxC(2))) return fail(what, "normal-mode parameters missing");
    P_TRY(Reader nm, what, set.enter(ctxC(2)));
    P_CHECK(what, set.expectEnd("CPA-PPDU"));
    AcceptPpdu cpa;
    while (!nm.atEnd()) {
        P_TRY(Tlv t, what, nm.read());
        if (t.tag == ctx(3)) {
            ZV_TRY(cpa.respondingPsel, readPsel(what, t));
        } else if (t.tag == ctxC(5)) {
            P_TRY(Reader list, what, nm.enter(t));
            ZV_TRY(cpa.results, readResults(what, list));
        } else if (t.tag == kFullyEncodedData || t.tag == kSimplyEncodedData) {
            ZV_TRY(cpa.userData, readPdvs(what, t));
        } else if (t.tag == ctx(0) || t.tag == ctx(8) || t.tag == ctx(9)) {
        } else {
            return fail(what, "unexpected " + t.tag.text() + " in normal-mode parameters");
        }
    }
    return cpa;
}

Result<RefusePpdu> presentationDecodeRefuse(ByteView in) {
    const char* what = "CPR";
    Reader top(in);
    P_TRY(Reader seq, what, top.enter(tags::kSequence));
    P_CHECK(what, top.expectEnd("CPR-PPDU"));
    RefusePpdu cpr;
    while (!seq.atEnd()) {
        P_TRY(Tlv t, what, seq.read());
        if (t.tag == ctx(3)) {
            ZV_TRY(cpr.respondingPsel, readPsel(what, t));
        } else if (t.tag == ctxC(5)) {
            P_TRY(Reader list, what, seq.enter(t));
            ZV_TRY(cpr.results, readResults(what, list));
        } else if (t.tag == ctx(10)) {
            P_TRY(int64_t r, what, ber::decodeInt64(t));
            cpr.providerReason = r;
        } else if (t.tag == kFullyEncodedData || t.tag == kSimplyEncodedData) {
            ZV_TRY(cpr.userData, readPdvs(what, t));
        } else if (t.tag == ctx(0) || t.tag == ctx(7)) {
        } else {
            return fail(what, "unexpected " + t.tag.text());
        }
    }
    return cpr;
}

Result<std::vector<Pdv>> presentationDecodeUserData(ByteView in) {
    const char* what = "user data";
    Reader top(in);
    P_TRY(Tlv t, what, top.read());
    P_CHECK(what, top.expectEnd("presentation user data"));
    return readPdvs(what, t);
}

Result<AbortPpdu> presentationDecodeAbort(ByteView in) {
    const char* what = "abort";
    Reader top(in);
    P_TRY(Tlv t, what, top.read());
    P_CHECK(what, top.expectEnd("abort PPDU"));
    AbortPpdu ab;
    if (t.tag == ctxC(0)) {
        ab.userAbort = true;
        P_TRY(Reader nm, what, top.enter(t));
        while (!nm.atEnd()) {
            P_TRY(Tlv f, what, nm.read());
            if (f.tag == kFullyEncodedData || f.tag == kSimplyEncodedData) {
                ZV_TRY(ab.userData, readPdvs(what, f));
            } else if (f.tag != ctxC(0)) {
                return fail(what, "unexpected " + f.tag.text() + " in ARU-PPDU");
            }
        }
    } else if (t.tag == tags::kSequence) {
        ab.userAbort = false;
        P_TRY(Reader seq, what, top.enter(t));
        if (seq.nextIs(ctx(0))) {
            P_TRY(int64_t r, what, seq.readInt64(ctx(0)));
            ab.providerReason = r;
        }
        if (seq.nextIs(ctx(1))) {
            P_TRY(int64_t e, what, seq.readInt64(ctx(1)));
            ab.eventIdentifier = e;
        }
        P_CHECK(what, seq.expectEnd("ARP-PPDU"));
    } else {
        return fail(what, "tag " + t.tag.text() + " is neither ARU-PPDU nor ARP-PPDU");
    }
    return ab;
}

}  // namespace zv::iso
