// Client and server association state machines over TPKT, COTP class 0,
// session, presentation and ACSE. Bytes in, bytes out: the owner moves bytes
// between the socket and these objects and reacts to the events.
//
// Driving one from a non-blocking socket loop:
//
//   ClientAssociation a(cfg);
//   a.connect(initiateRequest);              // queues the CR
//   loop:
//     if (a.hasOutput()) want POLLOUT;  on POLLOUT: n = send(fd, a.output().data, a.output().size)
//                                                   a.consumeOutput(n)
//     on POLLIN: n = recv(fd, buf) ; for (Event& e : a.onBytes({buf, n})) handle(e)
//                (n == 0: a.onTransportClosed())
//     a.sendData(mmsPdu) whenever an MMS PDU is to go out
//     when a.wantsClose() and !a.hasOutput(): close(fd)
//
// The MMS PDUs (initiate request/response, confirmed PDUs, conclude) are
// opaque bytes to this layer.
#pragma once

#include "iso/acse.h"
#include "iso/cotp.h"
#include "iso/presentation.h"
#include "iso/session.h"
#include "iso/tpkt.h"

#include <optional>
#include <string>

namespace zv::iso {

// Defaults used by IEC 61850 clients and servers in the field.
const ber::Oid& defaultClientApTitle();  // 1.1.1.999
const ber::Oid& defaultServerApTitle();  // 1.1.1.999.1
constexpr int64_t kDefaultAeQualifier = 12;

struct Selectors {
    Bytes tsap{0x00, 0x01};
    Bytes ssel{0x00, 0x01};
    Bytes psel{0x00, 0x00, 0x00, 0x01};
};

struct ClientConfig {
    Selectors local;   // calling selectors
    Selectors remote;  // called selectors
    AeTitle calling{defaultClientApTitle(), kDefaultAeQualifier, {}, {}};
    AeTitle called{defaultServerApTitle(), kDefaultAeQualifier, {}, {}};
    std::optional<std::string> password;  // ACSE password authentication when set
    uint8_t tpduSizeCode = 13;            // proposed: 8192 octets
    uint16_t localReference = 1;          // COTP SRC-REF
    std::size_t maxTsdu = kDefaultMaxTsduSize;
    std::size_t maxTpkt = kTpktDefaultMaxLength;
};

struct ServerConfig {
    Selectors local;  // responding selectors
    // Called selectors this server answers to. A connect naming another one
    // is refused at that layer: COTP DR (address unknown), session RF
    // (selector unknown), presentation CPR (called address unknown). Unset:
    // any selector is taken.
    std::optional<Bytes> calledTsap, calledSsel, calledPsel;
    AeTitle responding;            // sent in the AARE when set (none by default)
    uint8_t maxTpduSizeCode = 13;  // the largest TPDU size we accept (clamped to 7..13)
    uint16_t localReference = 1;
    std::size_t maxTsdu = kDefaultMaxTsduSize;
    std::size_t maxTpkt = kTpktDefaultMaxLength;
};

// What the calling side proposed, kept by the server for its decision.
struct AssociateRequest {
    Bytes callingTsap, calledTsap;
    Bytes callingSsel, calledSsel;
    Bytes callingPsel, calledPsel;
    AeTitle calling, called;
    std::optional<std::string> password;
    std::optional<ber::Oid> mechanism;  // authentication mechanism name, as sent
    int64_t mmsContextId = kMmsContextId;
};

enum class EventKind {
    AssociateIndication,  // server: data = MMS initiate request; answer with accept() or refuse()
    AssociateConfirm,     // client: accepted; data = MMS initiate response
    AssociateRefused,     // client: reason names the refusing layer and its reason ("ACSE
                          // rejected-permanent, authentication-failure", "COTP DR,
                          // address-unknown"); data = MMS PDU if the peer sent one
    ConnectRefused,       // server: a connect for another selector was refused at its layer; reason says which
    Data,                 // data = one MMS PDU
    ReleaseIndication,    // server: the peer released (already answered with DN + RLRE)
    ReleaseConfirm,       // client: the release completed (DN + RLRE received)
    ReleaseRefused,       // client: the peer answered NF; still associated
    Aborted,              // the peer aborted or disconnected; reason says how
    ProtocolError,        // malformed or unexpected input; an abort was queued if possible
};
const char* eventKindName(EventKind k);

struct Event {
    EventKind kind;
    Bytes data;
    std::string reason;
};

enum class AssociationState {
    Idle,           // client before connect()
    AwaitCc,        // client: CR sent
    AwaitCr,        // server: waiting for the CR
    AwaitConnect,   // client: CN sent / server: CC sent, waiting for CN
    AwaitResponse,  // server: indication given, waiting for accept()/refuse()
    Associated,
    AwaitRelease,  // client: FN + RLRQ sent
    Closed,        // nothing more goes in or out; close the socket after output
};
const char* stateName(AssociationState s);

// Shared machinery: the output queue and the receive path up to TSDUs.
class AssociationBase {
public:
    AssociationState state() const { return state_; }
    bool hasOutput() const { return outPos_ < out_.size(); }
    // Bytes waiting to be sent, valid until the next call on this object.
    ByteView output() const { return ByteView(out_.data() + outPos_, out_.size() - outPos_); }
    void consumeOutput(std::size_t n);
    Bytes takeOutput();
    // True once the association is over: send what is queued, then close.
    bool wantsClose() const { return state_ == AssociationState::Closed; }
    // Negotiated TPDU size in octets (header included).
    std::size_t tpduSize() const { return tpduSizeFromCode(tpduSizeCode_); }

    // Queues an MMS PDU as presentation user data (Associated only).
    Status sendData(ByteView mmsPdu);
    // Queues AB + ARU(ABRT) and closes.
    void abort();
    // The TCP connection went away.
    std::vector<Event> onTransportClosed();
    // Feeds received bytes; returns what they meant.
    std::vector<Event> onBytes(ByteView bytes);

protected:
    AssociationBase(std::size_t maxTpkt, std::size_t maxTsdu);
    virtual ~AssociationBase() = default;
    virtual void onConnectTpdu(const Tpdu& t, std::vector<Event>& ev) = 0;
    virtual void onSpdu(const Spdu& s, std::vector<Event>& ev) = 0;
    // A DR from the peer: the transport connection is gone.
    virtual void onDisconnectTpdu(const Tpdu& t, std::vector<Event>& ev);

    void compactOutput();
    void queueTpdu(const Bytes& tpdu);
    void queueTsdu(const Bytes& tsdu);
    void protocolError(std::vector<Event>& ev, const std::string& reason);
    void peerAborted(const Spdu& s, std::vector<Event>& ev);
    void handleData(const Spdu& s, std::vector<Event>& ev);
    // Unwraps single presentation user data carrying an ACSE APDU.
    Result<ByteView> acseFromUserData(ByteView ppdu, const char* what);

    AssociationState state_;
    uint8_t tpduSizeCode_ = kTpduSizeCodeDefault;
    uint16_t localRef_ = 0;
    uint16_t remoteRef_ = 0;
    int64_t acseContextId_ = kAcseContextId;
    int64_t mmsContextId_ = kMmsContextId;

private:
    TpktReader reader_;
    TsduAssembler tsdu_;
    Bytes out_;
    std::size_t outPos_ = 0;
};

class ClientAssociation : public AssociationBase {
public:
    explicit ClientAssociation(ClientConfig cfg);
    // Starts the association: queues the CR; the CN/CP/AARQ carrying the
    // MMS initiate request follows when the CC arrives.
    Status connect(ByteView mmsInitiateRequest);
    // Queues FN + RLRQ (normal); ReleaseConfirm follows on DN + RLRE.
    Status release();

private:
    void onConnectTpdu(const Tpdu& t, std::vector<Event>& ev) override;
    void onSpdu(const Spdu& s, std::vector<Event>& ev) override;
    void onDisconnectTpdu(const Tpdu& t, std::vector<Event>& ev) override;
    void onAccept(const Spdu& s, std::vector<Event>& ev);
    void onRefuse(const Spdu& s, std::vector<Event>& ev);
    void onDisconnect(const Spdu& s, std::vector<Event>& ev);

    ClientConfig cfg_;
    Bytes initiate_;
};

class ServerAssociation : public AssociationBase {
public:
    explicit ServerAssociation(ServerConfig cfg);
    // What the peer proposed (valid after AssociateIndication).
    const AssociateRequest& request() const { return request_; }
    // Accepts with the MMS initiate response: queues AC + CPA + AARE.
    Status accept(ByteView mmsInitiateResponse);
    // Refuses: queues RF + CPR + AARE(result, diagnostic) and closes. The
    // MMS PDU (an initiate-Error) is optional.
    Status refuse(int64_t diagnostic = kDiagNoReason, int64_t result = kRejectedPermanent,
                  ByteView mmsPdu = ByteView());

private:
    void onConnectTpdu(const Tpdu& t, std::vector<Event>& ev) override;
    void onSpdu(const Spdu& s, std::vector<Event>& ev) override;
    void onConnect(const Spdu& s, std::vector<Event>& ev);
    void onFinish(const Spdu& s, std::vector<Event>& ev);
    void refuseSession(uint8_t reason);
    void refusePresentation(int64_t providerReason);
    Status respond(bool accepted, int64_t result, int64_t diagnostic, ByteView mmsPdu);

    ServerConfig cfg_;
    AssociateRequest request_;
    std::vector<ContextResult> contextResults_;
};

}  // namespace zv::iso
