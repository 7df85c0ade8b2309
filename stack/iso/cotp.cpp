#include "iso/cotp.h"

#include "iso/tpkt.h"

namespace zv::iso {

namespace {

std::string hex2(unsigned v) {
    static const char* d = "0123456789abcdef";
    std::string s = "0x";
    s += d[(v >> 4) & 15];
    s += d[v & 15];
    return s;
}

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
void put16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

// Parses the variable part (code, length, value triples) of a CR/CC.
Status parseConnectParameters(ByteView vp, const char* what, CotpConnect& c) {
    bool seenSize = false, seenCalling = false, seenCalled = false;
    std::size_t i = 0;
    while (i < vp.size) {
        if (vp.size - i < 2)
            return makeError(std::string("COTP ") + what + ": parameter header truncated at octet " +
                             std::to_string(i));
        const uint8_t code = vp[i];
        const std::size_t len = vp[i + 1];
        if (len > vp.size - i - 2)
            return makeError(std::string("COTP ") + what + ": parameter " + hex2(code) + " length " +
                             std::to_string(len) + " exceeds remaining " + std::to_string(vp.size - i - 2));
        ByteView val = vp.sub(i + 2, len);
        switch (code) {
        case 0xC0:
            if (seenSize) return makeError(std::string("COTP ") + what + ": duplicate parameter 0xc0");
            if (len != 1)
                return makeError(std::string("COTP ") + what + ": parameter 0xc0 length " + std::to_string(len) +
                                 ", expected 1");
            if (val[0] < kTpduSizeCodeMin || val[0] > kTpduSizeCodeMax)
                return makeError(std::string("COTP ") + what + ": TPDU size code " + std::to_string(val[0]) +
                                 " outside 7..13");
            c.tpduSizeCode = val[0];
            seenSize = true;
            break;
        case 0xC1:
        case 0xC2: {
            bool& seen = code == 0xC1 ? seenCalling : seenCalled;
            if (seen) return makeError(std::string("COTP ") + what + ": duplicate parameter " + hex2(code));
            if (len > kMaxTsapLength)
                return makeError(std::string("COTP ") + what + ": TSAP of " + std::to_string(len) + " octets exceeds " +
                                 std::to_string(kMaxTsapLength));
            (code == 0xC1 ? c.callingTsap : c.calledTsap) = val.toVector();
            seen = true;
            break;
        }
        default:
            // ISO 8073: parameters a class 0 entity does not use
            // (checksum, preferred TPDU size, options) are ignored.
            break;
        }
        i += 2 + len;
    }
    return {};
}

}  // namespace

const char* tpduKindName(TpduKind k) {
    switch (k) {
    case TpduKind::ConnectRequest: return "CR";
    case TpduKind::ConnectConfirm: return "CC";
    case TpduKind::DisconnectRequest: return "DR";
    case TpduKind::DisconnectConfirm: return "DC";
    case TpduKind::Error: return "ER";
    case TpduKind::Data: return "DT";
    }
    return "?";
}

Result<Tpdu> cotpDecode(ByteView in) {
    if (in.size < 2) return makeError("COTP: TPDU of " + std::to_string(in.size) + " octets is truncated");
    const std::size_t li = in[0];
    if (li == 255) return makeError("COTP: length indicator 255 is reserved");
    if (li + 1 > in.size)
        return makeError("COTP: length indicator " + std::to_string(li) + " exceeds the TPDU (" +
                         std::to_string(in.size - 1) + " octets follow)");
    if (li < 1) return makeError("COTP: length indicator 0 leaves no TPDU code");
    const uint8_t code = in[1];
    Tpdu t;
    ByteView userData = in.from(li + 1);
    auto need = [&](std::size_t fixed, const char* what) -> Status {
        if (li < fixed)
            return makeError(std::string("COTP ") + what + ": length indicator " + std::to_string(li) +
                             " below the fixed part of " + std::to_string(fixed));
        return {};
    };
    switch (code & 0xF0) {
    case kCotpCr:
    case kCotpCc: {
        const bool cr = (code & 0xF0) == kCotpCr;
        const char* what = cr ? "CR" : "CC";
        ZV_CHECK(need(6, what));
        t.kind = cr ? TpduKind::ConnectRequest : TpduKind::ConnectConfirm;
        t.connect.dstRef = be16(in.data + 2);
        t.connect.srcRef = be16(in.data + 4);
        t.connect.classOption = in[6];
        if ((in[6] >> 4) != 0)
            return makeError(std::string("COTP ") + what + ": class " + std::to_string(in[6] >> 4) +
                             " requested, only class 0 is supported");
        if (cr && t.connect.dstRef != 0)
            return makeError("COTP CR: DST-REF " + std::to_string(t.connect.dstRef) + ", expected 0");
        ZV_CHECK(parseConnectParameters(in.sub(7, li - 6), what, t.connect));
        // ISO 8073: class 0 CR/CC carry no user data.
        if (!userData.empty())
            return makeError(std::string("COTP ") + what + ": " + std::to_string(userData.size) +
                             " octets of user data not allowed in class 0");
        return t;
    }
    case kCotpDr: {
        ZV_CHECK(need(6, "DR"));
        t.kind = TpduKind::DisconnectRequest;
        t.connect.dstRef = be16(in.data + 2);
        t.connect.srcRef = be16(in.data + 4);
        t.reason = in[6];
        t.data = userData;
        return t;
    }
    case kCotpDc: {
        ZV_CHECK(need(5, "DC"));
        t.kind = TpduKind::DisconnectConfirm;
        t.connect.dstRef = be16(in.data + 2);
        t.connect.srcRef = be16(in.data + 4);
        return t;
    }
    case kCotpEr: {
        ZV_CHECK(need(4, "ER"));
        t.kind = TpduKind::Error;
        t.connect.dstRef = be16(in.data + 2);
        t.reason = in[4];
        // Optional parameter 0xC1: the rejected TPDU's header.
        ByteView vp = in.sub(5, li - 4);
        std::size_t i = 0;
        while (i < vp.size) {
            if (vp.size - i < 2 || vp[i + 1] > vp.size - i - 2)
                return makeError("COTP ER: parameter at octet " + std::to_string(i) + " is truncated");
            if (vp[i] == 0xC1) t.data = vp.sub(i + 2, vp[i + 1]);
            i += 2 + vp[i + 1];
        }
        return t;
    }
    case kCotpDt: {
        if (code != kCotpDt)
            return makeError("COTP DT: code " + hex2(code) + " carries a flow-control bit not used in class 0");
        if (li != 2) return makeError("COTP DT: length indicator " + std::to_string(li) + ", expected 2 in class 0");
        t.kind = TpduKind::Data;
        t.eot = (in[2] & kCotpEot) != 0;
        if ((in[2] & 0x7F) != 0)
            return makeError("COTP DT: TPDU-NR " + std::to_string(in[2] & 0x7F) + ", expected 0 in class 0");
        t.data = userData;
        return t;
    }
    default: return makeError("COTP: TPDU code " + hex2(code) + " is not used in class 0");
    }
}

void cotpAppendConnect(Bytes& out, bool confirm, const CotpConnect& c) {
    const std::size_t li0 = out.size();
    out.push_back(0);  // LI, patched below
    out.push_back(confirm ? kCotpCc : kCotpCr);
    put16(out, c.dstRef);
    put16(out, c.srcRef);
    out.push_back(c.classOption);
    if (c.tpduSizeCode) {
        out.push_back(0xC0);
        out.push_back(1);
        out.push_back(*c.tpduSizeCode);
    }
    // Called before calling, the order peers in the field send them.
    auto tsap = [&](uint8_t code, const Bytes& v) {
        if (v.empty()) return;
        out.push_back(code);
        out.push_back(static_cast<uint8_t>(v.size()));
        out.insert(out.end(), v.begin(), v.end());
    };
    tsap(0xC2, c.calledTsap);
    tsap(0xC1, c.callingTsap);
    out[li0] = static_cast<uint8_t>(out.size() - li0 - 1);
}

void cotpAppendDtHeader(Bytes& out, bool eot) {
    out.push_back(2);
    out.push_back(kCotpDt);
    out.push_back(eot ? kCotpEot : 0);
}

void cotpAppendDisconnect(Bytes& out, uint16_t dstRef, uint16_t srcRef, uint8_t reason) {
    out.push_back(6);
    out.push_back(kCotpDr);
    put16(out, dstRef);
    put16(out, srcRef);
    out.push_back(reason);
}

void cotpAppendError(Bytes& out, uint16_t dstRef, uint8_t cause, ByteView invalidTpdu) {
    // The invalid-TPDU parameter carries at most the rejected header; keep
    // LI within one octet.
    const std::size_t n = invalidTpdu.size > 64 ? 64 : invalidTpdu.size;
    out.push_back(static_cast<uint8_t>(4 + (n ? n + 2 : 0)));
    out.push_back(kCotpEr);
    put16(out, dstRef);
    out.push_back(cause);
    if (n) {
        out.push_back(0xC1);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), invalidTpdu.begin(), invalidTpdu.begin() + n);
    }
}

Status cotpAppendTsdu(Bytes& out, ByteView tsdu, std::size_t tpduSize) {
    return cotpAppendTsdu(out, tsdu, ByteView(), tpduSize);
}

Status cotpAppendTsdu(Bytes& out, ByteView head, ByteView body, std::size_t tpduSize) {
    if (tpduSize <= kCotpDtHeaderSize || tpduSize > kTpktMaxLength - kTpktHeaderSize)
        return makeError("COTP DT: TPDU size " + std::to_string(tpduSize) + " cannot carry data");
    const std::size_t chunk = tpduSize - kCotpDtHeaderSize;
    const std::size_t total = head.size + body.size;
    out.reserve(out.size() + total + (total / chunk + 1) * (kTpktHeaderSize + kCotpDtHeaderSize));
    // Octets [from, to) of head + body.
    auto append = [&](std::size_t from, std::size_t to) {
        if (from < head.size) {
            const std::size_t end = to < head.size ? to : head.size;
            out.insert(out.end(), head.data + from, head.data + end);
            from = end;
        }
        if (from < to) out.insert(out.end(), body.data + (from - head.size), body.data + (to - head.size));
    };
    std::size_t pos = 0;
    do {
        const std::size_t n = total - pos < chunk ? total - pos : chunk;
        const bool eot = pos + n == total;
        const std::size_t len = kTpktHeaderSize + kCotpDtHeaderSize + n;
        out.push_back(kTpktVersion);
        out.push_back(0);
        out.push_back(static_cast<uint8_t>(len >> 8));
        out.push_back(static_cast<uint8_t>(len));
        cotpAppendDtHeader(out, eot);
        append(pos, pos + n);
        pos += n;
    } while (pos < total);
    return {};
}

Result<bool> TsduAssembler::add(ByteView data, bool eot) {
    if (complete_) {
        buf_.clear();
        complete_ = false;
    }
    if (data.size > max_ - buf_.size()) {
        const std::size_t total = buf_.size() + data.size;
        buf_.clear();
        return makeError("COTP DT: reassembled TSDU of " + std::to_string(total) + " octets exceeds the maximum " +
                         std::to_string(max_));
    }
    buf_.insert(buf_.end(), data.begin(), data.end());
    complete_ = eot;
    return eot;
}

Bytes TsduAssembler::take() {
    Bytes b = std::move(buf_);
    buf_.clear();
    complete_ = false;
    return b;
}

}  // namespace zv::iso
