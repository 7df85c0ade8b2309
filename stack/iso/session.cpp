#include "iso/session.h"

namespace zv::iso {

namespace {

constexpr uint8_t kPgiConnectAccept = 5;
constexpr uint8_t kPiTransportDisconnect = 17;
constexpr uint8_t kPiProtocolOptions = 19;
constexpr uint8_t kPiSessionRequirements = 20;
constexpr uint8_t kPiTsduMaxSize = 21;
constexpr uint8_t kPiVersionNumber = 22;
constexpr uint8_t kPiReasonCode = 50;
constexpr uint8_t kPiCallingSsel = 51;
constexpr uint8_t kPiCalledSsel = 52;
constexpr uint8_t kPiUserData = 193;
constexpr uint8_t kPiExtendedUserData = 194;

constexpr std::size_t kMaxLi = 65535;

void putLi(Bytes& out, std::size_t len) {
    if (len < 255) {
        out.push_back(static_cast<uint8_t>(len));
    } else {
        out.push_back(0xFF);
        out.push_back(static_cast<uint8_t>(len >> 8));
        out.push_back(static_cast<uint8_t>(len));
    }
}
std::size_t liSize(std::size_t len) { return len < 255 ? 1 : 3; }

void putParam(Bytes& out, uint8_t pi, ByteView v) {
    out.push_back(pi);
    putLi(out, v.size);
    out.insert(out.end(), v.begin(), v.end());
}
std::size_t paramSize(std::size_t len) { return 1 + liSize(len) + len; }

// Reads a length indicator at `pos`; advances past it.
Result<std::size_t> readLi(ByteView in, std::size_t& pos, const char* what) {
    if (pos >= in.size) return makeError(std::string("session ") + what + ": length indicator missing");
    if (in[pos] != 0xFF) return std::size_t(in[pos++]);
    if (in.size - pos < 3) return makeError(std::string("session ") + what + ": 3-octet length indicator truncated");
    std::size_t len = (std::size_t(in[pos + 1]) << 8) | in[pos + 2];
    pos += 3;
    return len;
}

struct Param {
    uint8_t code;
    ByteView value;
};

// Iterates the parameters of `body`, all bounds-checked.
template <class F>
Status forEachParam(ByteView body, const char* what, F&& f) {
    std::size_t pos = 0;
    while (pos < body.size) {
        const uint8_t code = body[pos++];
        ZV_TRY(std::size_t len, readLi(body, pos, what));
        if (len > body.size - pos)
            return makeError(std::string("session ") + what + ": parameter " + std::to_string(code) + " length " +
                             std::to_string(len) + " exceeds remaining " + std::to_string(body.size - pos));
        ZV_CHECK(f(Param{code, body.sub(pos, len)}));
        pos += len;
    }
    return {};
}

Status expectLen(const Param& p, std::size_t n, const char* what) {
    if (p.value.size != n)
        return makeError(std::string("session ") + what + ": parameter " + std::to_string(p.code) + " length " +
                         std::to_string(p.value.size) + ", expected " + std::to_string(n));
    return {};
}

Status readSsel(const Param& p, const char* what, Bytes& out) {
    if (p.value.size > kMaxSselLength)
        return makeError(std::string("session ") + what + ": session selector of " + std::to_string(p.value.size) +
                         " octets exceeds " + std::to_string(kMaxSselLength));
    out = p.value.toVector();
    return {};
}

Status decodeCategory1(SpduKind kind, ByteView body, Spdu& s) {
    const char* what = spduKindName(kind);
    bool haveUserData = false;
    return forEachParam(body, what, [&](const Param& p) -> Status {
        switch (p.code) {
        case kPgiConnectAccept:
            if (kind != SpduKind::Connect && kind != SpduKind::Accept) return {};
            return forEachParam(p.value, what, [&](const Param& q) -> Status {
                if (q.code == kPiProtocolOptions) {
                    ZV_CHECK(expectLen(q, 1, what));
                    s.protocolOptions = q.value[0];
                } else if (q.code == kPiVersionNumber) {
                    ZV_CHECK(expectLen(q, 1, what));
                    s.versionNumber = q.value[0];
                    if ((s.versionNumber & kSessionVersion2) == 0)
                        return makeError(std::string("session ") + what + ": version number " +
                                         std::to_string(s.versionNumber) + " does not offer version 2");
                } else if (q.code == kPiTsduMaxSize) {
                    ZV_CHECK(expectLen(q, 4, what));
                }
                return {};
            });
        case kPiSessionRequirements:
            ZV_CHECK(expectLen(p, 2, what));
            s.sessionRequirements = static_cast<uint16_t>((p.value[0] << 8) | p.value[1]);
            return {};
        case kPiCallingSsel: return readSsel(p, what, s.callingSsel);
        case kPiCalledSsel: return readSsel(p, what, s.calledSsel);
        case kPiTransportDisconnect:
            ZV_CHECK(expectLen(p, 1, what));
            s.transportDisconnect = p.value[0];
            return {};
        case kPiReasonCode:
            if (kind != SpduKind::Refuse) return {};
            if (p.value.size < 1) return makeError("session RF: empty reason code");
            s.refuseReason = p.value[0];
            // ISO 8327-1: reason 2 carries the user's data behind it.
            s.userData = p.value.from(1);
            return {};
        case kPiUserData:
        case kPiExtendedUserData:
            if (haveUserData) return makeError(std::string("session ") + what + ": user data given twice");
            haveUserData = true;
            if (p.code == kPiExtendedUserData && kind != SpduKind::Connect)
                return makeError(std::string("session ") + what + ": extended user data only allowed in CN");
            if (kind == SpduKind::Connect) {
                const std::size_t limit = p.code == kPiUserData ? kMaxSessionUserData : kMaxSessionExtendedUserData;
                if (p.value.size > limit)
                    return makeError("session CN: user data of " + std::to_string(p.value.size) + " octets exceeds " +
                                     std::to_string(limit));
            }
            s.userData = p.value;
            return {};
        default:
            // Parameters of functional units we do not negotiate are ignored.
            return {};
        }
    });
}

Status appendCategory1(Bytes& out, SpduKind kind, const Bytes* calling, const Bytes* called, int td, int reason,
                       ByteView userData, bool connectItems) {
    const char* what = spduKindName(kind);
    for (const Bytes* ssel : {calling, called})
        if (ssel && ssel->size() > kMaxSselLength)
            return makeError(std::string("session ") + what + ": session selector of " + std::to_string(ssel->size()) +
                             " octets exceeds " + std::to_string(kMaxSselLength));
    uint8_t udPi = kPiUserData;
    if (kind == SpduKind::Connect && userData.size > kMaxSessionUserData) {
        if (userData.size > kMaxSessionExtendedUserData)
            return makeError("session CN: user data of " + std::to_string(userData.size) + " octets exceeds " +
                             std::to_string(kMaxSessionExtendedUserData));
        udPi = kPiExtendedUserData;
    }
    std::size_t body = 0;
    if (td >= 0) body += paramSize(1);
    if (connectItems) body += paramSize(6) + paramSize(2);
    if (calling && !calling->empty()) body += paramSize(calling->size());
    if (called && !called->empty()) body += paramSize(called->size());
    if (reason >= 0)
        body += paramSize(1 + userData.size);
    else if (!userData.empty())
        body += paramSize(userData.size);
    if (body > kMaxLi)
        return makeError(std::string("session ") + what + ": SPDU of " + std::to_string(body) +
                         " octets exceeds the length indicator range");
    out.push_back(static_cast<uint8_t>(kind));
    putLi(out, body);
    if (td >= 0) {
        const uint8_t v = static_cast<uint8_t>(td);
        putParam(out, kPiTransportDisconnect, ByteView(&v, 1));
    }
    if (connectItems) {
        const uint8_t item[6] = {kPiProtocolOptions, 1, 0, kPiVersionNumber, 1, kSessionVersion2};
        putParam(out, kPgiConnectAccept, ByteView(item, 6));
        const uint8_t req[2] = {0, kSessionRequirementsDuplex};
        putParam(out, kPiSessionRequirements, ByteView(req, 2));
    }
    if (calling && !calling->empty()) putParam(out, kPiCallingSsel, *calling);
    if (called && !called->empty()) putParam(out, kPiCalledSsel, *called);
    if (reason >= 0) {
        out.push_back(kPiReasonCode);
        putLi(out, 1 + userData.size);
        out.push_back(static_cast<uint8_t>(reason));
        out.insert(out.end(), userData.begin(), userData.end());
    } else if (!userData.empty()) {
        putParam(out, udPi, userData);
    }
    return {};
}

}  // namespace

const char* spduKindName(SpduKind k) {
    switch (k) {
    case SpduKind::Connect: return "CN";
    case SpduKind::Accept: return "AC";
    case SpduKind::Refuse: return "RF";
    case SpduKind::Finish: return "FN";
    case SpduKind::Disconnect: return "DN";
    case SpduKind::NotFinished: return "NF";
    case SpduKind::Abort: return "AB";
    case SpduKind::AbortAccept: return "AA";
    case SpduKind::Data: return "DT";
    case SpduKind::GiveTokens: return "GT";
    }
    return "?";
}

Result<Spdu> sessionDecode(ByteView in) {
    if (in.empty()) return makeError("session: empty TSDU");
    std::size_t pos = 1;
    const uint8_t si = in[0];
    const char* what = "SPDU";
    ZV_TRY(std::size_t li, readLi(in, pos, what));
    if (li > in.size - pos)
        return makeError("session: SPDU " + std::to_string(si) + " length " + std::to_string(li) +
                         " exceeds remaining " + std::to_string(in.size - pos));
    Spdu s;
    if (si == 1 || si == 2) {
        // Category 0 (GT 1 / PT 2); its parameters (token items) do not
        // matter without the token functional units.
        pos += li;
        if (pos == in.size) {
            s.kind = SpduKind::GiveTokens;
            return s;
        }
        if (in[pos] != 1) return makeError("session: SPDU " + std::to_string(in[pos]) + " after GT, expected DT (1)");
        ++pos;
        ZV_TRY(std::size_t dli, readLi(in, pos, "DT"));
        if (dli > in.size - pos)
            return makeError("session DT: length " + std::to_string(dli) + " exceeds remaining " +
                             std::to_string(in.size - pos));
        // DT parameters (enclosure item) are not used in the kernel; the user
        // information follows them.
        pos += dli;
        s.kind = SpduKind::Data;
        s.userData = in.from(pos);
        return s;
    }
    switch (si) {
    case 13: s.kind = SpduKind::Connect; break;
    case 14: s.kind = SpduKind::Accept; break;
    case 12: s.kind = SpduKind::Refuse; break;
    case 9: s.kind = SpduKind::Finish; break;
    case 10: s.kind = SpduKind::Disconnect; break;
    case 8: s.kind = SpduKind::NotFinished; break;
    case 25: s.kind = SpduKind::Abort; break;
    case 26: s.kind = SpduKind::AbortAccept; break;
    default: return makeError("session: SPDU type " + std::to_string(si) + " is not supported");
    }
    if (pos + li != in.size)
        return makeError(std::string("session ") + spduKindName(s.kind) + ": " + std::to_string(in.size - pos - li) +
                         " octets follow the SPDU");
    ZV_CHECK(decodeCategory1(s.kind, in.sub(pos, li), s));
    return s;
}

Status sessionAppendConnect(Bytes& out, const Bytes& callingSsel, const Bytes& calledSsel, ByteView userData) {
    return appendCategory1(out, SpduKind::Connect, &callingSsel, &calledSsel, -1, -1, userData, true);
}
Status sessionAppendAccept(Bytes& out, const Bytes& respondingSsel, ByteView userData) {
    return appendCategory1(out, SpduKind::Accept, nullptr, &respondingSsel, -1, -1, userData, true);
}
Status sessionAppendRefuse(Bytes& out, uint8_t reason, ByteView userData) {
    return appendCategory1(out, SpduKind::Refuse, nullptr, nullptr, kTdReleaseTransport, reason, userData, false);
}
Status sessionAppendFinish(Bytes& out, ByteView userData) {
    return appendCategory1(out, SpduKind::Finish, nullptr, nullptr, -1, -1, userData, false);
}
Status sessionAppendDisconnect(Bytes& out, ByteView userData) {
    return appendCategory1(out, SpduKind::Disconnect, nullptr, nullptr, -1, -1, userData, false);
}
Status sessionAppendAbort(Bytes& out, uint8_t transportDisconnect, ByteView userData) {
    return appendCategory1(out, SpduKind::Abort, nullptr, nullptr, transportDisconnect, -1, userData, false);
}

void sessionAppendData(Bytes& out, ByteView userData) {
    out.insert(out.end(), kSessionDataHeader, kSessionDataHeader + kSessionDataHeaderSize);
    out.insert(out.end(), userData.begin(), userData.end());
}

}  // namespace zv::iso
