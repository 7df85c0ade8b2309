#include "iso/acse.h"

namespace zv::iso {

namespace {

using ber::ctx;
using ber::ctxC;
using ber::Reader;
using ber::Tag;
using ber::Tlv;
using ber::Writer;
namespace tags = ber::tags;

constexpr Tag kUserInformation = ctxC(30);

#define A_TRY(decl, what, expr) ZV_TRY(decl, layerResult("ACSE", what, (expr)))
#define A_CHECK(what, expr) ZV_CHECK(layerResult("ACSE", what, (expr)))

Error fail(const char* what, const std::string& reason) { return layerError("ACSE", what, reason); }

void append(Bytes& out, const Writer& w) { out.insert(out.end(), w.bytes().begin(), w.bytes().end()); }

void writeExplicitInt(Writer& w, uint32_t n, int64_t v) {
    w.constructed(ctxC(n), [&] { w.integer(tags::kInteger, v); });
}

void writeUserInformation(Writer& w, const std::vector<External>& ui) {
    if (ui.empty()) return;
    w.constructed(kUserInformation, [&] {
        for (const External& e : ui) {
            w.constructed(tags::kExternal, [&] {
                if (e.directReference) w.oid(tags::kOid, *e.directReference);
                if (e.indirectReference) w.integer(tags::kInteger, *e.indirectReference);
                w.constructed(ctxC(0), [&] { w.raw(e.data); });
            });
        }
    });
}

Result<std::vector<External>> readUserInformation(const char* what, const Reader& parent, const Tlv& t) {
    A_TRY(Reader list, what, parent.enter(t));
    std::vector<External> out;
    while (!list.atEnd()) {
        if (out.size() == kMaxExternals)
            return fail(what, "more than " + std::to_string(kMaxExternals) + " EXTERNALs in user information");
        A_TRY(Reader ext, what, list.enter(tags::kExternal));
        External e;
        if (ext.nextIs(tags::kOid)) {
            A_TRY(ber::Oid o, what, ext.readOid(tags::kOid));
            e.directReference = std::move(o);
        }
        if (ext.nextIs(tags::kInteger)) {
            A_TRY(int64_t ir, what, ext.readInt64(tags::kInteger));
            e.indirectReference = ir;
        }
        if (ext.nextIs(tags::kGraphicString) || ext.nextIs(ber::uni(7))) {
            A_TRY(Tlv descriptor, what, ext.read());  // data-value-descriptor, unused
            (void)descriptor;
        }
        A_TRY(Tlv enc, what, ext.read());
        if (enc.tag == ctxC(0)) {
            A_CHECK(what, checkSingleAsn1Type(enc));
        } else if (enc.tag != ctx(1)) {
            return fail(what, "EXTERNAL encoding " + enc.tag.text() +
                                  " not supported, expected single-ASN1-type [0] or octet-aligned [1]");
        }
        e.data = enc.value;
        A_CHECK(what, ext.expectEnd("EXTERNAL"));
        out.push_back(e);
    }
    return out;
}

Result<ber::Oid> readExplicitOid(const char* what, const Reader& parent, const Tlv& t) {
    A_TRY(Reader r, what, parent.enter(t));
    A_TRY(ber::Oid o, what, r.readOid(tags::kOid));
    A_CHECK(what, r.expectEnd(t.tag.text().c_str()));
    return o;
}

Result<int64_t> readExplicitInt(const char* what, const Reader& parent, const Tlv& t) {
    A_TRY(Reader r, what, parent.enter(t));
    A_TRY(int64_t v, what, r.readInt64(tags::kInteger));
    A_CHECK(what, r.expectEnd(t.tag.text().c_str()));
    return v;
}

// AP title: only form 2 (OID) is kept; form 1 (a Name) is skipped.
Result<std::optional<ber::Oid>> readApTitle(const char* what, const Reader& parent, const Tlv& t) {
    A_TRY(Reader r, what, parent.enter(t));
    if (!r.nextIs(tags::kOid)) return std::optional<ber::Oid>();
    A_TRY(ber::Oid o, what, r.readOid(tags::kOid));
    A_CHECK(what, r.expectEnd("AP-title"));
    return std::optional<ber::Oid>(std::move(o));
}

Result<std::optional<int64_t>> readAeQualifier(const char* what, const Reader& parent, const Tlv& t) {
    A_TRY(Reader r, what, parent.enter(t));
    if (!r.nextIs(tags::kInteger)) return std::optional<int64_t>();
    A_TRY(int64_t v, what, r.readInt64(tags::kInteger));
    A_CHECK(what, r.expectEnd("AE-qualifier"));
    return std::optional<int64_t>(v);
}

void writeAeTitle(Writer& w, const AeTitle& t, uint32_t apTag) {
    // AP title, AE qualifier, AP invocation, AE invocation: consecutive tags.
    if (t.apTitle) w.constructed(ctxC(apTag), [&] { w.oid(tags::kOid, *t.apTitle); });
    if (t.aeQualifier) writeExplicitInt(w, apTag + 1, *t.aeQualifier);
    if (t.apInvocationId) writeExplicitInt(w, apTag + 2, *t.apInvocationId);
    if (t.aeInvocationId) writeExplicitInt(w, apTag + 3, *t.aeInvocationId);
}

// Reads one of the four AE title fields if `t` is one of them.
Result<bool> readAeTitleField(const char* what, const Reader& r, const Tlv& t, uint32_t apTag, AeTitle& out) {
    if (t.tag == ctxC(apTag)) {
        ZV_TRY(out.apTitle, readApTitle(what, r, t));
    } else if (t.tag == ctxC(apTag + 1)) {
        ZV_TRY(out.aeQualifier, readAeQualifier(what, r, t));
    } else if (t.tag == ctxC(apTag + 2)) {
        ZV_TRY(int64_t v, readExplicitInt(what, r, t));
        out.apInvocationId = v;
    } else if (t.tag == ctxC(apTag + 3)) {
        ZV_TRY(int64_t v, readExplicitInt(what, r, t));
        out.aeInvocationId = v;
    } else {
        return false;
    }
    return true;
}

Status checkProtocolVersion(const char* what, const Tlv& t) {
    A_TRY(ber::BitString v, what, ber::decodeBitString(t));
    if (!v.test(0)) return fail(what, "protocol version " + v.toText() + " does not include version 1");
    return {};
}

Result<Reader> openApdu(const char* what, ByteView in, uint32_t appTag) {
    Reader top(in);
    A_TRY(Reader r, what, top.enter(ber::appC(appTag)));
    A_CHECK(what, top.expectEnd(what));
    return r;
}

// RLRQ and RLRE differ only in their tag.
template <class Pdu>
void appendRelease(Bytes& out, const Pdu& r, uint32_t appTag) {
    Writer w;
    w.constructed(ber::appC(appTag), [&] {
        if (r.reason) w.integer(ctx(0), *r.reason);
        writeUserInformation(w, r.userInformation);
    });
    append(out, w);
}

template <class Pdu>
Result<Pdu> decodeRelease(const char* what, ByteView in, uint32_t appTag) {
    ZV_TRY(Reader r, openApdu(what, in, appTag));
    Pdu p;
    while (!r.atEnd()) {
        A_TRY(Tlv t, what, r.read());
        if (t.tag == ctx(0)) {
            A_TRY(int64_t v, what, ber::decodeInt64(t));
            p.reason = v;
        } else if (t.tag == kUserInformation) {
            ZV_TRY(p.userInformation, readUserInformation(what, r, t));
        } else {
            return fail(what, "unexpected " + t.tag.text());
        }
    }
    return p;
}

const char* userDiagnosticName(int64_t d) {
    static const char* const kNames[] = {"null",
                                         "no-reason-given",
                                         "application-context-name-not-supported",
                                         "calling-AP-title-not-recognized",
                                         "calling-AP-invocation-identifier-not-recognized",
                                         "calling-AE-qualifier-not-recognized",
                                         "calling-AE-invocation-identifier-not-recognized",
                                         "called-AP-title-not-recognized",
                                         "called-AP-invocation-identifier-not-recognized",
                                         "called-AE-qualifier-not-recognized",
                                         "called-AE-invocation-identifier-not-recognized",
                                         "authentication-mechanism-name-not-recognized",
                                         "authentication-mechanism-name-required",
                                         "authentication-failure",
                                         "authentication-required"};
    return d >= 0 && d <= 14 ? kNames[d] : nullptr;
}

}  // namespace

const ber::Oid& mmsApplicationContext() {
    static const ber::Oid o{{1, 0, 9506, 2, 3}};
    return o;
}
const ber::Oid& passwordMechanism() {
    static const ber::Oid o{{2, 2, 3, 1}};
    return o;
}

const char* acseKindName(AcseKind k) {
    switch (k) {
    case AcseKind::Aarq: return "AARQ";
    case AcseKind::Aare: return "AARE";
    case AcseKind::Rlrq: return "RLRQ";
    case AcseKind::Rlre: return "RLRE";
    case AcseKind::Abrt: return "ABRT";
    }
    return "?";
}

Result<AcseKind> acsePeek(ByteView in) {
    Reader r(in);
    A_TRY(Tag t, "ACSE", r.peekTag());
    if (t.cls != ber::TagClass::Application || !t.constructed || t.number > 4)
        return fail("APDU", "tag " + t.text() + " is not an ACSE APDU");
    return static_cast<AcseKind>(t.number);
}

void acseAppendAarq(Bytes& out, const Aarq& a) {
    Writer w;
    w.constructed(ber::appC(0), [&] {
        w.constructed(ctxC(1), [&] { w.oid(tags::kOid, a.applicationContext); });
        writeAeTitle(w, a.called, 2);
        writeAeTitle(w, a.calling, 6);
        if (a.password) {
            // sender-acse-requirements: authentication (bit 0).
            ber::BitString req;
            req.set(0);
            w.bitString(ctx(10), req);
            w.oid(ctx(11), passwordMechanism());
            w.constructed(ctxC(12), [&] { w.string(ctx(0), *a.password); });
        }
        writeUserInformation(w, a.userInformation);
    });
    append(out, w);
}

void acseAppendAare(Bytes& out, const Aare& a) {
    Writer w;
    w.constructed(ber::appC(1), [&] {
        w.constructed(ctxC(1), [&] { w.oid(tags::kOid, a.applicationContext); });
        writeExplicitInt(w, 2, a.result);
        w.constructed(ctxC(3), [&] { writeExplicitInt(w, static_cast<uint32_t>(a.diagnosticSource), a.diagnostic); });
        writeAeTitle(w, a.responding, 4);
        writeUserInformation(w, a.userInformation);
    });
    append(out, w);
}

void acseAppendRlrq(Bytes& out, const Rlrq& r) { appendRelease(out, r, 2); }
void acseAppendRlre(Bytes& out, const Rlre& r) { appendRelease(out, r, 3); }

void acseAppendAbrt(Bytes& out, const Abrt& a) {
    Writer w;
    w.constructed(ber::appC(4), [&] {
        w.integer(ctx(0), a.source);
        if (a.diagnostic) w.integer(ctx(1), *a.diagnostic);
        writeUserInformation(w, a.userInformation);
    });
    append(out, w);
}

Result<Aarq> acseDecodeAarq(ByteView in) {
    const char* what = "AARQ";
    ZV_TRY(Reader r, openApdu(what, in, 0));
    Aarq a;
    bool haveContext = false;
    std::optional<ber::Oid> mechanism;
    while (!r.atEnd()) {
        A_TRY(Tlv t, what, r.read());
        if (t.tag == ctx(0)) {
            ZV_CHECK(checkProtocolVersion(what, t));
        } else if (t.tag == ctxC(1)) {
            ZV_TRY(a.applicationContext, readExplicitOid(what, r, t));
            haveContext = true;
        } else if (t.tag == ctx(10)) {
            A_TRY(ber::BitString req, what, ber::decodeBitString(t));
            (void)req;
        } else if (t.tag == ctx(11)) {
            A_TRY(ber::Oid m, what, ber::decodeOid(t));
            a.mechanism = std::move(m);
        } else if (t.tag == ctxC(12)) {
            A_TRY(Reader av, what, r.enter(t));
            A_TRY(Tlv v, what, av.read());
            if (v.tag != ctx(0))
                return fail(what, "authentication value " + v.tag.text() + " not supported, expected charstring [0]");
            if (v.value.size > kMaxPasswordLength)
                return fail(what, "password of " + std::to_string(v.value.size) + " octets exceeds " +
                                      std::to_string(kMaxPasswordLength));
            a.password = std::string(v.value.begin(), v.value.end());
            A_CHECK(what, av.expectEnd("authentication value"));
        } else if (t.tag == kUserInformation) {
            ZV_TRY(a.userInformation, readUserInformation(what, r, t));
        } else if (t.tag == ctxC(13) || t.tag == ctx(29)) {
            // application context name list, implementation information
        } else {
            ZV_TRY(bool called, readAeTitleField(what, r, t, 2, a.called));
            if (called) continue;
            ZV_TRY(bool calling, readAeTitleField(what, r, t, 6, a.calling));
            if (!calling) return fail(what, "unexpected " + t.tag.text());
        }
    }
    if (!haveContext) return fail(what, "application context name missing");
    return a;
}

Result<Aare> acseDecodeAare(ByteView in) {
    const char* what = "AARE";
    ZV_TRY(Reader r, openApdu(what, in, 1));
    Aare a;
    bool haveContext = false, haveResult = false, haveDiagnostic = false;
    while (!r.atEnd()) {
        A_TRY(Tlv t, what, r.read());
        if (t.tag == ctx(0)) {
            ZV_CHECK(checkProtocolVersion(what, t));
        } else if (t.tag == ctxC(1)) {
            ZV_TRY(a.applicationContext, readExplicitOid(what, r, t));
            haveContext = true;
        } else if (t.tag == ctxC(2)) {
            ZV_TRY(a.result, readExplicitInt(what, r, t));
            if (a.result < kAccepted || a.result > kRejectedTransient)
                return fail(what, "result " + std::to_string(a.result) + " outside 0..2");
            haveResult = true;
        } else if (t.tag == ctxC(3)) {
            A_TRY(Reader d, what, r.enter(t));
            A_TRY(Tlv choice, what, d.read());
            if (choice.tag != ctxC(1) && choice.tag != ctxC(2))
                return fail(what, "result-source-diagnostic " + choice.tag.text() +
                                      ", expected service-user [1] or service-provider [2]");
            a.diagnosticSource = static_cast<int>(choice.tag.number);
            ZV_TRY(a.diagnostic, readExplicitInt(what, d, choice));
            A_CHECK(what, d.expectEnd("result-source-diagnostic"));
            haveDiagnostic = true;
        } else if (t.tag == kUserInformation) {
            ZV_TRY(a.userInformation, readUserInformation(what, r, t));
        } else if (t.tag == ctx(8) || t.tag == ctx(9) || t.tag == ctxC(10) || t.tag == ctxC(11) || t.tag == ctx(29)) {
            // responder requirements, mechanism, authentication value, context list, implementation info
        } else {
            ZV_TRY(bool responding, readAeTitleField(what, r, t, 4, a.responding));
            if (!responding) return fail(what, "unexpected " + t.tag.text());
        }
    }
    if (!haveContext) return fail(what, "application context name missing");
    if (!haveResult) return fail(what, "result missing");
    if (!haveDiagnostic) return fail(what, "result-source-diagnostic missing");
    return a;
}

Result<Rlrq> acseDecodeRlrq(ByteView in) { return decodeRelease<Rlrq>("RLRQ", in, 2); }
Result<Rlre> acseDecodeRlre(ByteView in) { return decodeRelease<Rlre>("RLRE", in, 3); }

Result<Abrt> acseDecodeAbrt(ByteView in) {
    const char* what = "ABRT";
    ZV_TRY(Reader r, openApdu(what, in, 4));
    Abrt a;
    bool haveSource = false;
    while (!r.atEnd()) {
        A_TRY(Tlv t, what, r.read());
        if (t.tag == ctx(0)) {
            A_TRY(a.source, what, ber::decodeInt64(t));
            haveSource = true;
        } else if (t.tag == ctx(1)) {
            A_TRY(int64_t d, what, ber::decodeInt64(t));
            a.diagnostic = d;
        } else if (t.tag == kUserInformation) {
            ZV_TRY(a.userInformation, readUserInformation(what, r, t));
        } else if (t.tag == ctx(29)) {
        } else {
            return fail(what, "unexpected " + t.tag.text());
        }
    }
    if (!haveSource) return fail(what, "abort-source missing");
    return a;
}

std::string acseResultText(int64_t result, int source, int64_t diagnostic) {
    std::string s = result == kAccepted            ? "accepted"
                    : result == kRejectedPermanent ? "rejected-permanent"
                    : result == kRejectedTransient ? "rejected-transient"
                                                   : "result " + std::to_string(result);
    if (source == kDiagProvider) {
        static const char* const kNames[] = {"null", "no-reason-given", "no-common-acse-version"};
        s += ", service-provider ";
        s += diagnostic >= 0 && diagnostic <= 2 ? kNames[diagnostic] : "diagnostic " + std::to_string(diagnostic);
    } else if (const char* name = userDiagnosticName(diagnostic)) {
        s += ", ";
        s += name;
    } else {
        s += ", service-user diagnostic " + std::to_string(diagnostic);
    }
    return s;
}

}  // namespace zv::iso
