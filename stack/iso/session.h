// ISO 8327-1 session SPDUs of the kernel functional unit, full duplex, as
// IEC 61850-8-1 uses them (protocol version 2).
//
//   SPDU       SI (1) | LI (1, or 0xFF + 2 octets BE) | parameters (LI octets) | [user information]
//   parameter  PI or PGI (1) | LI (1 or 0xFF + 2) | value
//
//   CN 13 / AC 14   PGI 5 connect/accept item { PI 19 protocol options, PI 21 TSDU maximum size,
//                                               PI 22 version number }
//                   PI 20 session requirements (2 octets), PI 51 calling SSEL,
//                   PI 52 called (CN) / responding (AC) SSEL, PI 193 user data (512 max),
//                   PI 194 extended user data (CN, 10240 max)
//   RF 12           PI 17 transport disconnect, PI 20, PI 50 reason code (+ user data)
//   FN 9 / DN 10    [PI 17 transport disconnect (FN)], PI 193 user data
//   AB 25           PI 17 transport disconnect, PI 193 user data;  AA 26 abort accept
//   GT 1 + DT 1     "01 00 01 00" then the user information (ISO 8327-1: a
//                   category 2 SPDU is always preceded by a category 0 SPDU)
#pragma once

#include "iso/result.h"

namespace zv::iso {

enum class SpduKind : uint8_t {
    Connect = 13,
    Accept = 14,
    Refuse = 12,
    Finish = 9,
    Disconnect = 10,
    NotFinished = 8,
    Abort = 25,
    AbortAccept = 26,
    Data = 1,        // GT followed by DT; userData = the user information
    GiveTokens = 2,  // a lone GT/PT without a DT behind it (no data); numbering is ours
};
const char* spduKindName(SpduKind k);

// Session requirements bits: full duplex only.
constexpr uint16_t kSessionRequirementsDuplex = 0x0002;
constexpr uint8_t kSessionVersion2 = 0x02;
// User data limits (ISO 8327-1, version 2 with extended user data).
constexpr std::size_t kMaxSessionUserData = 512;
constexpr std::size_t kMaxSessionExtendedUserData = 10240;
// Session selectors are at most 16 octets.
constexpr std::size_t kMaxSselLength = 16;

// PI 17 transport disconnect flags.
constexpr uint8_t kTdReleaseTransport = 0x01;
constexpr uint8_t kTdUserAbort = 0x02;
constexpr uint8_t kTdProtocolError = 0x04;
constexpr uint8_t kTdNoReason = 0x08;

// PI 50 reason codes of RF (ISO 8327-1).
enum RefuseReason : uint8_t {
    kRfUserNoReason = 0,
    kRfUserCongestion = 1,
    kRfUserData = 2,
    kRfSselUnknown = 0x81,
    kRfUserNotAttached = 0x82,
    kRfSpmCongestion = 0x83,
    kRfVersionNotSupported = 0x84,
    kRfSpmNoReason = 0x85,
    kRfSpmRestriction = 0x86,
};

struct Spdu {
    SpduKind kind = SpduKind::Data;
    uint8_t protocolOptions = 0;
    uint8_t versionNumber = kSessionVersion2;
    uint16_t sessionRequirements = kSessionRequirementsDuplex;
    Bytes callingSsel;             // PI 51
    Bytes calledSsel;              // PI 52 (AC: responding SSEL)
    int transportDisconnect = -1;  // PI 17, -1 when absent
    int refuseReason = -1;         // RF PI 50 first octet, -1 when absent
    ByteView userData;             // view into the decoded TSDU
};

// Decodes one session TSDU. Category 0 + 2 concatenation (GT then DT) gives
// kind Data with the user information; category 1 SPDUs must fill the TSDU.
Result<Spdu> sessionDecode(ByteView tsdu);

// Encoders append one TSDU to `out`. They fail when user data or selectors
// exceed the limits above.
Status sessionAppendConnect(Bytes& out, const Bytes& callingSsel, const Bytes& calledSsel, ByteView userData);
Status sessionAppendAccept(Bytes& out, const Bytes& respondingSsel, ByteView userData);
Status sessionAppendRefuse(Bytes& out, uint8_t reason, ByteView userData);
Status sessionAppendFinish(Bytes& out, ByteView userData);
Status sessionAppendDisconnect(Bytes& out, ByteView userData);
Status sessionAppendAbort(Bytes& out, uint8_t transportDisconnect, ByteView userData);
// "01 00 01 00" + user information.
void sessionAppendData(Bytes& out, ByteView userData);
// The octets sessionAppendData puts in front of the user information
// (GIVE TOKENS and DATA TRANSFER, both without parameters).
constexpr std::size_t kSessionDataHeaderSize = 4;
constexpr uint8_t kSessionDataHeader[kSessionDataHeaderSize] = {1, 0, 1, 0};

}  // namespace zv::iso
