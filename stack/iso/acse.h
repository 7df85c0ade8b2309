// ISO 8650-1 ACSE APDUs (kernel and authentication), BER.
//
//   AARQ [APPLICATION 0] 60 { [0] protocol-version BIT STRING 80, [1] application-context-name a1 { OID },
//        [2] called-AP-title a2 { OID }, [3] called-AE-qualifier a3 { INTEGER },
//        [4]/[5] called invocation ids a4/a5 { INTEGER }, [6] calling-AP-title a6,
//        [7] calling-AE-qualifier a7, [8]/[9] calling invocation ids,
//        [10] sender-acse-requirements 8a, [11] mechanism-name 8b,
//        [12] calling-authentication-value ac { [0] charstring 80 }, [30] user-information be }
//   AARE [APPLICATION 1] 61 { [0], [1] a1, [2] result a2 { INTEGER },
//        [3] result-source-diagnostic a3 { [1] service-user a1 { INTEGER } | [2] service-provider a2 { INTEGER } },
//        [4] responding-AP-title a4, [5] responding-AE-qualifier a5, ..., [30] user-information }
//   RLRQ [APPLICATION 2] 62 { [0] reason 80, [30] }   RLRE [APPLICATION 3] 63 { [0] reason 80, [30] }
//   ABRT [APPLICATION 4] 64 { [0] abort-source 80, [1] abort-diagnostic 81, [30] }
//   user-information: SEQUENCE OF EXTERNAL 28 { [direct-reference OID], indirect-reference INTEGER,
//        encoding: single-ASN1-type [0] a0 | octet-aligned [1] 81 }
//   AP titles and AE qualifiers in form 2 (OID, INTEGER) as IEC 61850-8-1 uses them.
#pragma once

#include "iso/presentation.h"

namespace zv::iso {

const ber::Oid& mmsApplicationContext();  // 1.0.9506.2.3
const ber::Oid& passwordMechanism();      // 2.2.3.1

// Bounds on what a peer may send us.
constexpr std::size_t kMaxExternals = 4;
constexpr std::size_t kMaxPasswordLength = 256;

struct External {
    std::optional<int64_t> indirectReference;  // the presentation context id (3 = MMS)
    std::optional<ber::Oid> directReference;
    ByteView data;  // the inner encoding, a view into the input
};

struct AeTitle {
    std::optional<ber::Oid> apTitle;     // form 2
    std::optional<int64_t> aeQualifier;  // form 2
    std::optional<int64_t> apInvocationId;
    std::optional<int64_t> aeInvocationId;
    friend bool operator==(const AeTitle& a, const AeTitle& b) {
        return a.apTitle == b.apTitle && a.aeQualifier == b.aeQualifier && a.apInvocationId == b.apInvocationId &&
               a.aeInvocationId == b.aeInvocationId;
    }
};

struct Aarq {
    ber::Oid applicationContext;
    AeTitle called;
    AeTitle calling;
    std::optional<std::string> password;  // mechanism 2.2.3.1, charstring
    std::optional<ber::Oid> mechanism;    // as received
    std::vector<External> userInformation;
};

enum AssociateResult : int64_t { kAccepted = 0, kRejectedPermanent = 1, kRejectedTransient = 2 };
enum DiagnosticSource : int { kDiagUser = 1, kDiagProvider = 2 };
// ACSE service-user diagnostics (ISO 8650-1 Associate-source-diagnostic).
enum UserDiagnostic : int64_t {
    kDiagNull = 0,
    kDiagNoReason = 1,
    kDiagContextNotSupported = 2,
    kDiagCallingApTitleNotRecognized = 3,
    kDiagCallingApInvocationNotRecognized = 4,
    kDiagCallingAeQualifierNotRecognized = 5,
    kDiagCallingAeInvocationNotRecognized = 6,
    kDiagCalledApTitleNotRecognized = 7,
    kDiagCalledApInvocationNotRecognized = 8,
    kDiagCalledAeQualifierNotRecognized = 9,
    kDiagCalledAeInvocationNotRecognized = 10,
    kDiagAuthenticationMechanismNotRecognized = 11,
    kDiagAuthenticationMechanismRequired = 12,
    kDiagAuthenticationFailure = 13,
    kDiagAuthenticationRequired = 14,
};

struct Aare {
    ber::Oid applicationContext;
    int64_t result = kAccepted;
    int diagnosticSource = kDiagUser;
    int64_t diagnostic = kDiagNull;
    AeTitle responding;
    std::vector<External> userInformation;
};

enum ReleaseReason : int64_t { kReleaseNormal = 0, kReleaseUrgent = 1, kReleaseUserDefined = 30 };
enum ReleaseResponseReason : int64_t { kReleaseRespNormal = 0, kReleaseRespNotFinished = 1 };

struct Rlrq {
    std::optional<int64_t> reason;
    std::vector<External> userInformation;
};
struct Rlre {
    std::optional<int64_t> reason;
    std::vector<External> userInformation;
};
enum AbortSource : int64_t { kAbortUser = 0, kAbortProvider = 1 };
struct Abrt {
    int64_t source = kAbortUser;
    std::optional<int64_t> diagnostic;
    std::vector<External> userInformation;
};

enum class AcseKind { Aarq, Aare, Rlrq, Rlre, Abrt };
const char* acseKindName(AcseKind k);
// Kind of the APDU at the start of `in` (application tags 0..4).
Result<AcseKind> acsePeek(ByteView in);

void acseAppendAarq(Bytes& out, const Aarq& a);
void acseAppendAare(Bytes& out, const Aare& a);
void acseAppendRlrq(Bytes& out, const Rlrq& r);
void acseAppendRlre(Bytes& out, const Rlre& r);
void acseAppendAbrt(Bytes& out, const Abrt& a);

Result<Aarq> acseDecodeAarq(ByteView in);
Result<Aare> acseDecodeAare(ByteView in);
Result<Rlrq> acseDecodeRlrq(ByteView in);
Result<Rlre> acseDecodeRlre(ByteView in);
Result<Abrt> acseDecodeAbrt(ByteView in);

// "rejected-permanent, calling-AP-title-not-recognized" (a service-user
// diagnostic); "rejected-transient, service-provider no-common-acse-version".
std::string acseResultText(int64_t result, int source, int64_t diagnostic);

}  // namespace zv::iso
