// ISO 8823 presentation PPDUs in normal mode with BER and fully encoded user
// data, as IEC 61850-8-1 uses them.
//
//   CP-type  SET {                                        31
//     [0] mode-selector SET { [0] mode-value 1 }            a0 03 80 01 01
//     [2] normal-mode-parameters SEQUENCE {                 a2
//       [1] calling-presentation-selector OCTET STRING        81
//       [2] called-presentation-selector OCTET STRING         82
//       [4] presentation-context-definition-list              a4
//             SEQUENCE OF SEQUENCE { id INTEGER, abstract-syntax OID,
//                                    transfer-syntaxes SEQUENCE OF OID }
//       user-data }}
//   CPA-PPDU SET { [0] mode-selector, [2] SEQUENCE {        31
//       [3] responding-presentation-selector                  83
//       [5] presentation-context-definition-result-list       a5
//             SEQUENCE OF SEQUENCE { [0] result, [1] transfer-syntax OID, [2] provider-reason }
//       user-data }}
//   CPR-PPDU SEQUENCE { [3] responding-ps, [5] results, [10] provider-reason, user-data }   30
//   user-data: fully-encoded-data [APPLICATION 1] SEQUENCE OF PDV-list                      61
//   PDV-list SEQUENCE { [transfer-syntax OID], context-id INTEGER,                          30
//                       single-ASN1-type [0] ANY | octet-aligned [1] OCTET STRING }         a0 | 81
//   Abort: ARU-PPDU [0] SEQUENCE { [0] context-id list, user-data }                         a0
//          ARP-PPDU SEQUENCE { [0] provider-reason, [1] event-identifier }                 30
#pragma once

#include "iso/result.h"

#include "ber/ber.h"

#include <optional>

namespace zv::iso {

// Context identifiers and names IEC 61850-8-1 uses.
constexpr int64_t kAcseContextId = 1;
constexpr int64_t kMmsContextId = 3;
const ber::Oid& acseAbstractSyntax();  // 2.2.1.0.1
const ber::Oid& mmsAbstractSyntax();   // 1.0.9506.2.1
const ber::Oid& berTransferSyntax();   // 2.1.1

// Bounds on what a peer may send us (named so tests can hit them exactly).
constexpr std::size_t kMaxPresentationContexts = 16;
constexpr std::size_t kMaxTransferSyntaxes = 8;
constexpr std::size_t kMaxPdvs = 8;
constexpr std::size_t kMaxPselLength = 16;

struct PresentationContext {
    int64_t id = 0;
    ber::Oid abstractSyntax;
    std::vector<ber::Oid> transferSyntaxes;
};

// Result codes of a context (ISO 8823 Result).
enum ContextResultCode : int64_t { kCtxAcceptance = 0, kCtxUserRejection = 1, kCtxProviderRejection = 2 };
// Provider reasons for a rejected context.
enum ContextRejectReason : int64_t {
    kCtxReasonNotSpecified = 0,
    kCtxAbstractSyntaxNotSupported = 1,
    kCtxTransferSyntaxesNotSupported = 2,
    kCtxLocalLimitExceeded = 3,
};

struct ContextResult {
    int64_t result = kCtxAcceptance;
    std::optional<ber::Oid> transferSyntax;
    std::optional<int64_t> providerReason;
};

// One presentation data value. `data` views the decoded input: for
// single-ASN1-type the complete inner encoding (e.g. an AARQ or MMS PDU).
struct Pdv {
    int64_t contextId = 0;
    ByteView data;
};

struct ConnectPpdu {
    Bytes callingPsel;
    Bytes calledPsel;
    std::vector<PresentationContext> contexts;
    std::vector<Pdv> userData;
};

struct AcceptPpdu {
    Bytes respondingPsel;
    std::vector<ContextResult> results;
    std::vector<Pdv> userData;
};

// CPR provider reasons (ISO 8823 Provider-reason).
enum PresentationRefuseReason : int64_t {
    kPrNotSpecified = 0,
    kPrTemporaryCongestion = 1,
    kPrLocalLimitExceeded = 2,
    kPrCalledAddressUnknown = 3,
    kPrProtocolVersionNotSupported = 4,
    kPrDefaultContextNotSupported = 5,
    kPrUserDataNotReadable = 6,
    kPrNoPsapAvailable = 7,
};

struct RefusePpdu {
    Bytes respondingPsel;
    std::vector<ContextResult> results;
    std::optional<int64_t> providerReason;  // absent: refused by the user (see user data)
    std::vector<Pdv> userData;
};

struct AbortPpdu {
    bool userAbort = true;                   // ARU; false: ARP (provider)
    std::vector<Pdv> userData;               // ARU only
    std::optional<int64_t> providerReason;   // ARP only
    std::optional<int64_t> eventIdentifier;  // ARP only
};

// Encoders append one PPDU to `out`. The PDV data is an already encoded
// ASN.1 value sent as single-ASN1-type. They fail on selectors beyond
// kMaxPselLength.
Status presentationAppendConnect(Bytes& out, const ConnectPpdu& cp);
Status presentationAppendAccept(Bytes& out, const AcceptPpdu& cpa);
Status presentationAppendRefuse(Bytes& out, const RefusePpdu& cpr);
void presentationAppendUserData(Bytes& out, const std::vector<Pdv>& pdvs);
void presentationAppendUserData(Bytes& out, int64_t contextId, ByteView data);
void presentationAppendAbort(Bytes& out, const AbortPpdu& ab);
// The octets that precede `size` octets of one PDV of context `contextId`
// sent as user data (what presentationAppendUserData(out, contextId, data)
// writes in front of data): written to `out`, which holds at least
// kMaxUserDataHeaderSize octets; returns their count. Lets a sender frame
// a PDU without copying it.
//   61 L1  30 L2  02 01 ctx  a0 L3  <size octets>
constexpr std::size_t kMaxUserDataHeaderSize = 2 * (1 + 9) + (2 + 8) + (1 + 9);
std::size_t presentationUserDataHeader(uint8_t* out, int64_t contextId, std::size_t size);

// Decoders: the ByteViews in the result point into `in`.
Result<ConnectPpdu> presentationDecodeConnect(ByteView in);
Result<AcceptPpdu> presentationDecodeAccept(ByteView in);
Result<RefusePpdu> presentationDecodeRefuse(ByteView in);
Result<std::vector<Pdv>> presentationDecodeUserData(ByteView in);
Result<AbortPpdu> presentationDecodeAbort(ByteView in);

// The single-ASN1-type [0] choice of a PDV list or an EXTERNAL holds exactly
// one encoded value; fails otherwise.
ber::Status checkSingleAsn1Type(const ber::Tlv& t);

// A BER failure as an error of an upper layer ("<what>: at offset ...").
Error berError(const char* what, const ber::Error& e);

// Errors of the upper layers name the layer and the PDU: "<layer> <what>:
// <reason>" ("ACSE AARE: ...", "presentation CP: ..."). A BER result passes
// through with its error rewritten so.
Error layerError(const char* layer, const char* what, const std::string& reason);
template <class T>
Result<T> layerResult(const char* layer, const char* what, ber::Result<T>&& r) {
    if (!r.ok()) return berError((std::string(layer) + " " + what).c_str(), r.error());
    return std::move(r).value();
}
Status layerResult(const char* layer, const char* what, const ber::Status& s);

}  // namespace zv::iso
