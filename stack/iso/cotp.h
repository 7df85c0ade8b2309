// ISO 8073 (X.224) class 0 transport TPDUs as RFC 1006 carries them.
//
//   CR / CC   LI | CR 0xE0 / CC 0xD0 | DST-REF (2) | SRC-REF (2) | class+options | parameters
//   DR        LI | 0x80              | DST-REF (2) | SRC-REF (2) | reason        | parameters
//   ER        LI | 0x70              | DST-REF (2) | reject cause  | parameters
//   DT        LI=2 | 0xF0            | EOT (bit 8) + TPDU-NR (always 0 in class 0) | user data
//   LI counts the header octets after itself. Parameters are
//   code | length | value: 0xC0 TPDU size (one octet, 2^code octets, code
//   7..13), 0xC1 calling TSAP, 0xC2 called TSAP, 0xC1 in ER: invalid TPDU.
#pragma once

#include "iso/result.h"

#include <optional>

namespace zv::iso {

constexpr uint8_t kCotpCr = 0xE0;
constexpr uint8_t kCotpCc = 0xD0;
constexpr uint8_t kCotpDr = 0x80;
constexpr uint8_t kCotpDc = 0xC0;
constexpr uint8_t kCotpEr = 0x70;
constexpr uint8_t kCotpDt = 0xF0;
constexpr uint8_t kCotpEot = 0x80;
constexpr std::size_t kCotpDtHeaderSize = 3;

// TPDU size codes allowed in class 0 (ISO 8073 13.3.4 b): 128 .. 8192 octets.
constexpr uint8_t kTpduSizeCodeMin = 7;
constexpr uint8_t kTpduSizeCodeMax = 13;
// Without a TPDU size parameter class 0 uses 128 octets.
constexpr uint8_t kTpduSizeCodeDefault = 7;
// TSAP selectors are at most 32 octets (ISO 8348 NSAP-style bound we apply).
constexpr std::size_t kMaxTsapLength = 32;
// Default bound for a reassembled TSDU (the whole MMS PDU through the
// session and presentation envelopes).
constexpr std::size_t kDefaultMaxTsduSize = 1 << 20;

constexpr std::size_t tpduSizeFromCode(uint8_t code) { return std::size_t(1) << code; }

enum class TpduKind { ConnectRequest, ConnectConfirm, DisconnectRequest, DisconnectConfirm, Error, Data };
const char* tpduKindName(TpduKind k);

struct CotpConnect {
    uint16_t dstRef = 0;
    uint16_t srcRef = 0;
    uint8_t classOption = 0;              // class (high nibble) and options; class 0 here
    std::optional<uint8_t> tpduSizeCode;  // 0xC0, absent -> 128 octets
    Bytes callingTsap;                    // 0xC1, empty -> absent
    Bytes calledTsap;                     // 0xC2, empty -> absent
    friend bool operator==(const CotpConnect& a, const CotpConnect& b) {
        return a.dstRef == b.dstRef && a.srcRef == b.srcRef && a.classOption == b.classOption &&
               a.tpduSizeCode == b.tpduSizeCode && a.callingTsap == b.callingTsap && a.calledTsap == b.calledTsap;
    }
};

// DR reasons we name; others pass through as numbers.
enum DisconnectReason : uint8_t {
    kDrNotSpecified = 0,
    kDrCongestion = 1,
    kDrSessionNotAttached = 2,
    kDrAddressUnknown = 3,
    kDrNormal = 128,
    kDrProtocolError = 133,
    kDrReferenceOverflow = 135,
    kDrConnectionRefused = 136,
    kDrHeaderOrParameterLength = 138,
};
// ER reject causes.
enum RejectCause : uint8_t {
    kErNotSpecified = 0,
    kErInvalidParameterCode = 1,
    kErInvalidTpduType = 2,
    kErInvalidParameterValue = 3,
};

struct Tpdu {
    TpduKind kind = TpduKind::Data;
    CotpConnect connect;  // CR, CC; DR/DC/ER use dstRef/srcRef
    uint8_t reason = 0;   // DR reason, ER reject cause
    bool eot = true;      // DT
    ByteView data;        // DT user data, CR/CC/DR user data, ER invalid TPDU (view into input)
};

// Decodes one TPDU (a TPKT payload). Rejects other classes than 0,
// inconsistent LI, malformed or duplicated parameters, and TPDU kinds that
// class 0 does not use.
Result<Tpdu> cotpDecode(ByteView tpdu);

// Encoders append one TPDU to `out` (no TPKT header).
void cotpAppendConnect(Bytes& out, bool confirm, const CotpConnect& c);
void cotpAppendDtHeader(Bytes& out, bool eot);
void cotpAppendDisconnect(Bytes& out, uint16_t dstRef, uint16_t srcRef, uint8_t reason);
void cotpAppendError(Bytes& out, uint16_t dstRef, uint8_t cause, ByteView invalidTpdu);

// Splits a TSDU into DT TPDUs of at most `tpduSize` octets (header included)
// and frames each in a TPKT, appending everything to `out`. An empty TSDU
// still yields one DT with EOT.
Status cotpAppendTsdu(Bytes& out, ByteView tsdu, std::size_t tpduSize);
// The same for the TSDU `head` followed by `body` (headers of the upper
// layers in front of a PDU that is not copied first).
Status cotpAppendTsdu(Bytes& out, ByteView head, ByteView body, std::size_t tpduSize);

// Rebuilds TSDUs from DT TPDUs. Bounded: a TSDU beyond maxTsdu octets fails.
class TsduAssembler {
public:
    explicit TsduAssembler(std::size_t maxTsdu = kDefaultMaxTsduSize) : max_(maxTsdu) {}
    // Adds one DT's user data; returns true when `eot` completed a TSDU,
    // which take() then hands over.
    Result<bool> add(ByteView data, bool eot);
    Bytes take();
    std::size_t pending() const { return buf_.size(); }
    std::size_t maxTsdu() const { return max_; }

private:
    std::size_t max_;
    Bytes buf_;
    bool complete_ = false;
};

}  // namespace zv::iso
