#include "iso/association.h"

#include <cstring>

namespace zv::iso {

namespace {

// AB SPDU transport-disconnect flags: release the transport, user abort, no
// reason (what peers in the field send on a user abort).
constexpr uint8_t kTdUserAbortFlags = kTdReleaseTransport | kTdUserAbort | kTdNoReason;
constexpr uint8_t kTdProtocolErrorFlags = kTdReleaseTransport | kTdProtocolError;

// Reasons by their names in ISO 8327-1 (RF reason code), ISO 8073 (DR
// reason) and ISO 8823 (Provider-reason, Result), so that a log line says
// which layer refused and why.
std::string refuseReasonName(int r) {
    switch (r) {
    case kRfUserNoReason: return "rejection-by-called-SS-user";
    case kRfUserCongestion: return "rejection-by-called-SS-user-temporary-congestion";
    case kRfUserData: return "rejection-by-called-SS-user-with-data";
    case kRfSselUnknown: return "session-selector-unknown";
    case kRfUserNotAttached: return "SS-user-not-attached-to-SSAP";
    case kRfSpmCongestion: return "SPM-congestion-at-connect-time";
    case kRfVersionNotSupported: return "proposed-protocol-versions-not-supported";
    case kRfSpmNoReason: return "rejection-by-SPM-no-reason";
    case kRfSpmRestriction: return "rejection-by-SPM-implementation-restriction";
    case -1: return "no reason code";
    default: return "reason code " + std::to_string(r);
    }
}

std::string disconnectReasonName(uint8_t r) {
    switch (r) {
    case kDrNotSpecified: return "reason-not-specified";
    case kDrCongestion: return "congestion-at-TSAP";
    case kDrSessionNotAttached: return "session-entity-not-attached-to-TSAP";
    case kDrAddressUnknown: return "address-unknown";
    case kDrNormal: return "normal";
    case 129: return "remote-congestion-at-connect";
    case 130: return "connection-negotiation-failed";
    case 131: return "duplicate-source-reference";
    case 132: return "mismatched-references";
    case kDrProtocolError: return "protocol-error";
    case kDrReferenceOverflow: return "reference-overflow";
    case kDrConnectionRefused: return "connection-request-refused";
    case kDrHeaderOrParameterLength: return "header-or-parameter-length-invalid";
    default: return "reason " + std::to_string(r);
    }
}

std::string presentationReasonName(int64_t r) {
    static const char* const kNames[] = {"reason-not-specified",           "temporary-congestion",
                                         "local-limit-exceeded",           "called-presentation-address-unknown",
                                         "protocol-version-not-supported", "default-context-not-supported",
                                         "user-data-not-readable",         "no-PSAP-available"};
    return r >= 0 && r <= 7 ? kNames[r] : "provider-reason " + std::to_string(r);
}

// "context 3 provider-rejection, abstract-syntax-not-supported"
std::string contextResultText(int64_t contextId, const ContextResult& r) {
    static const char* const kResults[] = {"acceptance", "user-rejection", "provider-rejection"};
    static const char* const kReasons[] = {"reason-not-specified", "abstract-syntax-not-supported",
                                           "proposed-transfer-syntaxes-not-supported", "local-limit-on-DCS-exceeded"};
    std::string s = "context " + std::to_string(contextId) + " " +
                    (r.result >= 0 && r.result <= 2 ? kResults[r.result] : "result " + std::to_string(r.result));
    if (r.providerReason)
        s += std::string(", ") + (*r.providerReason >= 0 && *r.providerReason <= 3
                                      ? kReasons[*r.providerReason]
                                      : "provider-reason " + std::to_string(*r.providerReason));
    return s;
}

bool offersBer(const PresentationContext& c) {
    for (const auto& t : c.transferSyntaxes)
        if (t == berTransferSyntax()) return true;
    return false;
}

Status checkSelectors(const Selectors& s, const char* who) {
    if (s.tsap.size() > kMaxTsapLength)
        return makeError(std::string(who) + " TSAP of " + std::to_string(s.tsap.size()) + " octets exceeds " +
                         std::to_string(kMaxTsapLength));
    if (s.ssel.size() > kMaxSselLength)
        return makeError(std::string(who) + " session selector of " + std::to_string(s.ssel.size()) +
                         " octets exceeds " + std::to_string(kMaxSselLength));
    if (s.psel.size() > kMaxPselLength)
        return makeError(std::string(who) + " presentation selector of " + std::to_string(s.psel.size()) +
                         " octets exceeds " + std::to_string(kMaxPselLength));
    return {};
}

}  // namespace

const ber::Oid& defaultClientApTitle() {
    static const ber::Oid o{{1, 1, 1, 999}};
    return o;
}
const ber::Oid& defaultServerApTitle() {
    static const ber::Oid o{{1, 1, 1, 999, 1}};
    return o;
}

const char* eventKindName(EventKind k) {
    switch (k) {
    case EventKind::AssociateIndication: return "AssociateIndication";
    case EventKind::AssociateConfirm: return "AssociateConfirm";
    case EventKind::AssociateRefused: return "AssociateRefused";
    case EventKind::ConnectRefused: return "ConnectRefused";
    case EventKind::Data: return "Data";
    case EventKind::ReleaseIndication: return "ReleaseIndication";
    case EventKind::ReleaseConfirm: return "ReleaseConfirm";
    case EventKind::ReleaseRefused: return "ReleaseRefused";
    case EventKind::Aborted: return "Aborted";
    case EventKind::ProtocolError: return "ProtocolError";
    }
    return "?";
}

const char* stateName(AssociationState s) {
    switch (s) {
    case AssociationState::Idle: return "Idle";
    case AssociationState::AwaitCc: return "AwaitCc";
    case AssociationState::AwaitCr: return "AwaitCr";
    case AssociationState::AwaitConnect: return "AwaitConnect";
    case AssociationState::AwaitResponse: return "AwaitResponse";
    case AssociationState::Associated: return "Associated";
    case AssociationState::AwaitRelease: return "AwaitRelease";
    case AssociationState::Closed: return "Closed";
    }
    return "?";
}

// ---- shared machinery ----------------------------------------------------------

AssociationBase::AssociationBase(std::size_t maxTpkt, std::size_t maxTsdu)
    : state_(AssociationState::Idle), reader_(maxTpkt), tsdu_(maxTsdu) {}

void AssociationBase::consumeOutput(std::size_t n) {
    outPos_ += n < out_.size() - outPos_ ? n : out_.size() - outPos_;
    if (outPos_ == out_.size()) {
        out_.clear();
        outPos_ = 0;
    }
}

Bytes AssociationBase::takeOutput() {
    Bytes b(out_.begin() + static_cast<std::ptrdiff_t>(outPos_), out_.end());
    out_.clear();
    outPos_ = 0;
    return b;
}

void AssociationBase::compactOutput() {
    // A caller that drains with consumeOutput() while more is queued would
    // otherwise keep every sent byte; drop them once they are half the queue.
    if (outPos_ > 0 && outPos_ >= out_.size() / 2) {
        out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outPos_));
        outPos_ = 0;
    }
}

void AssociationBase::queueTpdu(const Bytes& tpdu) {
    compactOutput();
    // Our own TPDUs are far below the TPKT limit.
    (void)tpktAppend(out_, tpdu);
}

void AssociationBase::queueTsdu(const Bytes& tsdu) {
    compactOutput();
    // tpduSize() is 128..8192, always room for data.
    (void)cotpAppendTsdu(out_, tsdu, tpduSize());
}

Status AssociationBase::sendData(ByteView mmsPdu) {
    if (state_ != AssociationState::Associated)
        return makeError(std::string("cannot send data in state ") + stateName(state_));
    // Session GIVE TOKENS + DATA TRANSFER and the presentation user data
    // header go in front of the PDU as the TSDU is framed: no copies of it.
    uint8_t head[kSessionDataHeaderSize + kMaxUserDataHeaderSize];
    std::memcpy(head, kSessionDataHeader, kSessionDataHeaderSize);
    const std::size_t n = kSessionDataHeaderSize +
                          presentationUserDataHeader(head + kSessionDataHeaderSize, mmsContextId_, mmsPdu.size);
    compactOutput();
    // tpduSize() is 128..8192, always room for data.
    (void)cotpAppendTsdu(out_, ByteView(head, n), mmsPdu, tpduSize());
    return {};
}

void AssociationBase::abort() {
    switch (state_) {
    case AssociationState::AwaitConnect:
    case AssociationState::AwaitResponse:
    case AssociationState::Associated:
    case AssociationState::AwaitRelease: {
        Bytes abrt;
        acseAppendAbrt(abrt, Abrt{kAbortUser, std::nullopt, {}});
        AbortPpdu aru;
        aru.userData.push_back(Pdv{acseContextId_, abrt});
        Bytes ppdu;
        presentationAppendAbort(ppdu, aru);
        Bytes tsdu;
        (void)sessionAppendAbort(tsdu, kTdUserAbortFlags, ppdu);
        queueTsdu(tsdu);
        break;
    }
    default: break;  // no transport connection yet, or already closed
    }
    state_ = AssociationState::Closed;
}

std::vector<Event> AssociationBase::onTransportClosed() {
    std::vector<Event> ev;
    if (state_ != AssociationState::Closed && state_ != AssociationState::Idle)
        ev.push_back(Event{EventKind::Aborted,
                           {},
                           std::string("transport connection closed by the peer in state ") + stateName(state_)});
    state_ = AssociationState::Closed;
    return ev;
}

void AssociationBase::protocolError(std::vector<Event>& ev, const std::string& reason) {
    switch (state_) {
    case AssociationState::AwaitConnect:
    case AssociationState::AwaitResponse:
    case AssociationState::Associated:
    case AssociationState::AwaitRelease: {
        Bytes tsdu;
        (void)sessionAppendAbort(tsdu, kTdProtocolErrorFlags, ByteView());
        queueTsdu(tsdu);
        break;
    }
    default: break;
    }
    state_ = AssociationState::Closed;
    ev.push_back(Event{EventKind::ProtocolError, {}, reason});
}

Result<ByteView> AssociationBase::acseFromUserData(ByteView ppdu, const char* what) {
    ZV_TRY(std::vector<Pdv> pdvs, presentationDecodeUserData(ppdu));
    if (pdvs.size() != 1 || pdvs[0].contextId != acseContextId_)
        return makeError(std::string(what) + ": expected one ACSE presentation data value (context " +
                         std::to_string(acseContextId_) + ")");
    return pdvs[0].data;
}

void AssociationBase::peerAborted(const Spdu& s, std::vector<Event>& ev) {
    std::string reason = "aborted by the peer (session AB";
    if (s.transportDisconnect >= 0) reason += ", flags " + std::to_string(s.transportDisconnect);
    reason += ")";
    if (!s.userData.empty()) {
        auto ab = presentationDecodeAbort(s.userData);
        if (!ab.ok()) {
            reason += "; " + ab.error().reason;
        } else if (!ab->userAbort) {
            reason += "; presentation provider abort, reason " +
                      (ab->providerReason ? std::to_string(*ab->providerReason) : std::string("not given"));
        } else {
            for (const Pdv& p : ab->userData) {
                if (p.contextId != acseContextId_) continue;
                auto abrt = acseDecodeAbrt(p.data);
                if (!abrt.ok()) {
                    reason += "; " + abrt.error().reason;
                } else {
                    reason += std::string("; ABRT source ") +
                              (abrt->source == kAbortUser ? "service-user" : "service-provider");
                    if (abrt->diagnostic) reason += ", diagnostic " + std::to_string(*abrt->diagnostic);
                }
            }
        }
    }
    state_ = AssociationState::Closed;
    ev.push_back(Event{EventKind::Aborted, {}, reason});
}

void AssociationBase::onDisconnectTpdu(const Tpdu& t, std::vector<Event>& ev) {
    state_ = AssociationState::Closed;
    ev.push_back(
        Event{EventKind::Aborted, {}, "transport disconnect by the peer: COTP DR, " + disconnectReasonName(t.reason)});
}

void AssociationBase::handleData(const Spdu& s, std::vector<Event>& ev) {
    auto pdvs = presentationDecodeUserData(s.userData);
    if (!pdvs.ok()) return protocolError(ev, pdvs.error().reason);
    for (const Pdv& p : *pdvs) {
        if (p.contextId != mmsContextId_)
            return protocolError(ev, "data on presentation context " + std::to_string(p.contextId) +
                                         ", expected the MMS context " + std::to_string(mmsContextId_));
    }
    for (const Pdv& p : *pdvs) ev.push_back(Event{EventKind::Data, p.data.toVector(), {}});
}

std::vector<Event> AssociationBase::onBytes(ByteView bytes) {
    std::vector<Event> ev;
    std::size_t pos = 0;
    ByteView raw;
    while (state_ != AssociationState::Closed && reader_.next(bytes, pos, raw)) {
        auto t = cotpDecode(raw);
        if (!t.ok()) {
            // ISO 8073 6.22: an invalid TPDU is answered with ER where a
            // transport connection exists.
            if (state_ != AssociationState::AwaitCr && state_ != AssociationState::AwaitCc) {
                Bytes er;
                cotpAppendError(er, remoteRef_, kErNotSpecified, ByteView(raw.data, raw.size < 8 ? raw.size : 8));
                queueTpdu(er);
            }
            state_ = AssociationState::Closed;
            ev.push_back(Event{EventKind::ProtocolError, {}, t.error().reason});
            break;
        }
        switch (t->kind) {
        case TpduKind::ConnectRequest:
        case TpduKind::ConnectConfirm: onConnectTpdu(*t, ev); break;
        case TpduKind::DisconnectRequest: onDisconnectTpdu(*t, ev); break;
        case TpduKind::DisconnectConfirm: break;
        case TpduKind::Error:
            state_ = AssociationState::Closed;
            ev.push_back(Event{EventKind::ProtocolError,
                               {},
                               "the peer rejected a TPDU (ER cause " + std::to_string(t->reason) + ")"});
            break;
        case TpduKind::Data: {
            if (state_ == AssociationState::AwaitCc || state_ == AssociationState::AwaitCr ||
                state_ == AssociationState::Idle) {
                protocolError(ev,
                              std::string("COTP DT before the transport connection (state ") + stateName(state_) + ")");
                break;
            }
            // A TSDU in one DT (the usual case) is decoded where it
            // lies; segments are joined by the assembler first.
            ByteView tsdu = t->data;
            Bytes joined;
            if (!t->eot || tsdu_.pending() != 0 || t->data.size > tsdu_.maxTsdu()) {
                auto done = tsdu_.add(t->data, t->eot);
                if (!done.ok()) {
                    protocolError(ev, done.error().reason);
                    break;
                }
                if (!*done) break;
                joined = tsdu_.take();
                tsdu = joined;
            }
            auto spdu = sessionDecode(tsdu);
            if (!spdu.ok()) {
                protocolError(ev, spdu.error().reason);
                break;
            }
            onSpdu(*spdu, ev);
            break;
        }
        }
    }
    if (reader_.failed() && state_ != AssociationState::Closed) {
        // The stream cannot be resynchronised: nothing more can be sent.
        state_ = AssociationState::Closed;
        ev.push_back(Event{EventKind::ProtocolError, {}, reader_.error().reason});
    }
    return ev;
}

// ---- client ----------------------------------------------------------------------

ClientAssociation::ClientAssociation(ClientConfig cfg)
    : AssociationBase(cfg.maxTpkt, cfg.maxTsdu), cfg_(std::move(cfg)) {
    localRef_ = cfg_.localReference;
}

Status ClientAssociation::connect(ByteView mmsInitiateRequest) {
    if (state_ != AssociationState::Idle) return makeError(std::string("connect in state ") + stateName(state_));
    ZV_CHECK(checkSelectors(cfg_.local, "calling"));
    ZV_CHECK(checkSelectors(cfg_.remote, "called"));
    if (cfg_.tpduSizeCode < kTpduSizeCodeMin || cfg_.tpduSizeCode > kTpduSizeCodeMax)
        return makeError("TPDU size code " + std::to_string(cfg_.tpduSizeCode) + " outside 7..13");
    if (cfg_.password && cfg_.password->size() > kMaxPasswordLength)
        return makeError("password exceeds " + std::to_string(kMaxPasswordLength) + " octets");
    initiate_ = mmsInitiateRequest.toVector();
    CotpConnect cr;
    cr.srcRef = localRef_;
    cr.tpduSizeCode = cfg_.tpduSizeCode;
    cr.callingTsap = cfg_.local.tsap;
    cr.calledTsap = cfg_.remote.tsap;
    Bytes tpdu;
    cotpAppendConnect(tpdu, false, cr);
    queueTpdu(tpdu);
    state_ = AssociationState::AwaitCc;
    return {};
}

void ClientAssociation::onConnectTpdu(const Tpdu& t, std::vector<Event>& ev) {
    if (t.kind != TpduKind::ConnectConfirm || state_ != AssociationState::AwaitCc)
        return protocolError(ev,
                             std::string("unexpected COTP ") + tpduKindName(t.kind) + " in state " + stateName(state_));
    if (t.connect.dstRef != localRef_)
        return protocolError(ev, "COTP CC: DST-REF " + std::to_string(t.connect.dstRef) + ", expected " +
                                     std::to_string(localRef_));
    const uint8_t size = t.connect.tpduSizeCode.value_or(kTpduSizeCodeDefault);
    if (size > cfg_.tpduSizeCode)
        return protocolError(ev, "COTP CC: TPDU size " + std::to_string(tpduSizeFromCode(size)) +
                                     " exceeds the proposed " + std::to_string(tpduSizeFromCode(cfg_.tpduSizeCode)));
    tpduSizeCode_ = size;
    remoteRef_ = t.connect.srcRef;

    // ISO 8650 AARQ -> P-CONNECT user data (ACSE context) -> S-CONNECT user data.
    Aarq aarq;
    aarq.applicationContext = mmsApplicationContext();
    aarq.called = cfg_.called;
    aarq.calling = cfg_.calling;
    aarq.password = cfg_.password;
    aarq.userInformation.push_back(External{mmsContextId_, std::nullopt, initiate_});
    Bytes acse;
    acseAppendAarq(acse, aarq);
    ConnectPpdu cp;
    cp.callingPsel = cfg_.local.psel;
    cp.calledPsel = cfg_.remote.psel;
    cp.contexts.push_back(PresentationContext{acseContextId_, acseAbstractSyntax(), {berTransferSyntax()}});
    cp.contexts.push_back(PresentationContext{mmsContextId_, mmsAbstractSyntax(), {berTransferSyntax()}});
    cp.userData.push_back(Pdv{acseContextId_, acse});
    Bytes ppdu;
    (void)presentationAppendConnect(ppdu, cp);  // selectors checked in connect()
    Bytes tsdu;
    auto st = sessionAppendConnect(tsdu, cfg_.local.ssel, cfg_.remote.ssel, ppdu);
    if (!st.ok()) {
        // Only an MMS initiate beyond the CN user data limit gets here.
        abort();
        ev.push_back(Event{EventKind::ProtocolError, {}, st.error().reason});
        return;
    }
    queueTsdu(tsdu);
    state_ = AssociationState::AwaitConnect;
}

void ClientAssociation::onDisconnectTpdu(const Tpdu& t, std::vector<Event>& ev) {
    // ISO 8073: a DR answering our CR (or our CN, before any accept)
    // refuses the connection rather than ending one.
    if (state_ != AssociationState::AwaitCc && state_ != AssociationState::AwaitConnect)
        return AssociationBase::onDisconnectTpdu(t, ev);
    state_ = AssociationState::Closed;
    ev.push_back(Event{EventKind::AssociateRefused, {}, "COTP DR, " + disconnectReasonName(t.reason)});
}

void ClientAssociation::onSpdu(const Spdu& s, std::vector<Event>& ev) {
    if (s.kind == SpduKind::Abort) return peerAborted(s, ev);
    if (s.kind == SpduKind::GiveTokens || s.kind == SpduKind::AbortAccept) return;
    switch (state_) {
    case AssociationState::AwaitConnect:
        if (s.kind == SpduKind::Accept) return onAccept(s, ev);
        if (s.kind == SpduKind::Refuse) return onRefuse(s, ev);
        break;
    case AssociationState::Associated:
        if (s.kind == SpduKind::Data) return handleData(s, ev);
        break;
    case AssociationState::AwaitRelease:
        // Data the server sent before it saw our FN still counts.
        if (s.kind == SpduKind::Data) return handleData(s, ev);
        if (s.kind == SpduKind::Disconnect) return onDisconnect(s, ev);
        if (s.kind == SpduKind::NotFinished) {
            state_ = AssociationState::Associated;
            ev.push_back(Event{EventKind::ReleaseRefused, {}, "the peer refused the release (NF)"});
            return;
        }
        break;
    default: break;
    }
    protocolError(ev, std::string("unexpected session ") + spduKindName(s.kind) + " in state " + stateName(state_));
}

void ClientAssociation::onAccept(const Spdu& s, std::vector<Event>& ev) {
    auto cpa = presentationDecodeAccept(s.userData);
    if (!cpa.ok()) return protocolError(ev, cpa.error().reason);
    for (std::size_t i = 0; i < cpa->results.size(); ++i) {
        const ContextResult& r = cpa->results[i];
        if (r.result != kCtxAcceptance) {
            abort();
            ev.push_back(Event{EventKind::AssociateRefused,
                               {},
                               "presentation CPA, " + contextResultText(i == 0 ? acseContextId_ : mmsContextId_, r)});
            return;
        }
    }
    if (cpa->userData.size() != 1 || cpa->userData[0].contextId != acseContextId_)
        return protocolError(ev, "CPA: expected one ACSE presentation data value");
    auto aare = acseDecodeAare(cpa->userData[0].data);
    if (!aare.ok()) return protocolError(ev, aare.error().reason);
    Bytes mms;
    for (const External& e : aare->userInformation)
        if (!e.indirectReference || *e.indirectReference == mmsContextId_) {
            mms = e.data.toVector();
            break;
        }
    if (aare->result != kAccepted) {
        abort();
        ev.push_back(Event{EventKind::AssociateRefused, std::move(mms),
                           "ACSE " + acseResultText(aare->result, aare->diagnosticSource, aare->diagnostic)});
        return;
    }
    if (aare->applicationContext != mmsApplicationContext())
        return protocolError(ev, "AARE: application context " + aare->applicationContext.text() + ", expected " +
                                     mmsApplicationContext().text());
    if (mms.empty()) return protocolError(ev, "AARE: no MMS initiate response in the user information");
    state_ = AssociationState::Associated;
    ev.push_back(Event{EventKind::AssociateConfirm, std::move(mms), {}});
}

// The refusing layer speaks last: an AARE inside the CPR names the ACSE
// reason, else the CPR's provider reason or rejected contexts, else the
// session's reason code.
void ClientAssociation::onRefuse(const Spdu& s, std::vector<Event>& ev) {
    std::string reason = "session RF, " + refuseReasonName(s.refuseReason);
    Bytes mms;
    if (!s.userData.empty()) {
        auto cpr = presentationDecodeRefuse(s.userData);
        if (!cpr.ok()) {
            reason += "; " + cpr.error().reason;
        } else {
            std::string why;
            if (cpr->providerReason) why = presentationReasonName(*cpr->providerReason);
            for (std::size_t i = 0; i < cpr->results.size(); ++i)
                if (cpr->results[i].result != kCtxAcceptance)
                    why += (why.empty() ? "" : "; ") +
                           contextResultText(i == 0 ? acseContextId_ : mmsContextId_, cpr->results[i]);
            if (!why.empty()) reason = "presentation CPR, " + why;
            for (const Pdv& p : cpr->userData) {
                if (p.contextId != acseContextId_) continue;
                auto aare = acseDecodeAare(p.data);
                if (!aare.ok()) {
                    reason += "; " + aare.error().reason;
                    continue;
                }
                reason = "ACSE " + acseResultText(aare->result, aare->diagnosticSource, aare->diagnostic);
                for (const External& e : aare->userInformation)
                    if (!e.indirectReference || *e.indirectReference == mmsContextId_) mms = e.data.toVector();
            }
        }
    }
    state_ = AssociationState::Closed;
    ev.push_back(Event{EventKind::AssociateRefused, std::move(mms), reason});
}

void ClientAssociation::onDisconnect(const Spdu& s, std::vector<Event>& ev) {
    std::string reason;
    if (!s.userData.empty()) {
        auto acse = acseFromUserData(s.userData, "DN");
        if (!acse.ok()) return protocolError(ev, acse.error().reason);
        auto rlre = acseDecodeRlre(*acse);
        if (!rlre.ok()) return protocolError(ev, rlre.error().reason);
        if (rlre->reason && *rlre->reason != kReleaseRespNormal)
            reason = "RLRE reason " + std::to_string(*rlre->reason);
    }
    state_ = AssociationState::Closed;
    ev.push_back(Event{EventKind::ReleaseConfirm, {}, reason});
}

Status ClientAssociation::release() {
    if (state_ != AssociationState::Associated) return makeError(std::string("release in state ") + stateName(state_));
    Bytes rlrq;
    acseAppendRlrq(rlrq, Rlrq{kReleaseNormal, {}});
    Bytes ppdu;
    presentationAppendUserData(ppdu, acseContextId_, rlrq);
    Bytes tsdu;
    ZV_CHECK(sessionAppendFinish(tsdu, ppdu));
    queueTsdu(tsdu);
    state_ = AssociationState::AwaitRelease;
    return {};
}

// ---- server ----------------------------------------------------------------------

ServerAssociation::ServerAssociation(ServerConfig cfg)
    : AssociationBase(cfg.maxTpkt, cfg.maxTsdu), cfg_(std::move(cfg)) {
    localRef_ = cfg_.localReference;
    if (cfg_.maxTpduSizeCode < kTpduSizeCodeMin) cfg_.maxTpduSizeCode = kTpduSizeCodeMin;
    if (cfg_.maxTpduSizeCode > kTpduSizeCodeMax) cfg_.maxTpduSizeCode = kTpduSizeCodeMax;
    state_ = AssociationState::AwaitCr;
}

void ServerAssociation::onConnectTpdu(const Tpdu& t, std::vector<Event>& ev) {
    if (t.kind != TpduKind::ConnectRequest || state_ != AssociationState::AwaitCr)
        return protocolError(ev,
                             std::string("unexpected COTP ") + tpduKindName(t.kind) + " in state " + stateName(state_));
    remoteRef_ = t.connect.srcRef;
    request_.callingTsap = t.connect.callingTsap;
    request_.calledTsap = t.connect.calledTsap;
    if (cfg_.calledTsap && t.connect.calledTsap != *cfg_.calledTsap) {
        // ISO 8073: a CR the transport entity cannot accept is answered with DR;
        // SRC-REF is zero as no connection was made.
        Bytes dr;
        cotpAppendDisconnect(dr, remoteRef_, 0, kDrAddressUnknown);
        queueTpdu(dr);
        state_ = AssociationState::Closed;
        ev.push_back(Event{EventKind::ConnectRefused,
                           {},
                           "COTP CR for called TSAP '" + hexText(t.connect.calledTsap, kMaxTsapLength) +
                               "', this server is '" + hexText(*cfg_.calledTsap, kMaxTsapLength) +
                               "': refused with DR address-unknown"});
        return;
    }
    // ISO 8073: the responder may lower the proposed TPDU size, never raise it.
    const uint8_t proposed = t.connect.tpduSizeCode.value_or(kTpduSizeCodeDefault);
    tpduSizeCode_ = proposed < cfg_.maxTpduSizeCode ? proposed : cfg_.maxTpduSizeCode;
    CotpConnect cc;
    cc.dstRef = remoteRef_;
    cc.srcRef = localRef_;
    if (t.connect.tpduSizeCode || tpduSizeCode_ != proposed) cc.tpduSizeCode = tpduSizeCode_;
    cc.callingTsap = t.connect.callingTsap;
    cc.calledTsap = t.connect.calledTsap;
    Bytes tpdu;
    cotpAppendConnect(tpdu, true, cc);
    queueTpdu(tpdu);
    state_ = AssociationState::AwaitConnect;
}

void ServerAssociation::onSpdu(const Spdu& s, std::vector<Event>& ev) {
    if (s.kind == SpduKind::Abort) return peerAborted(s, ev);
    if (s.kind == SpduKind::GiveTokens || s.kind == SpduKind::AbortAccept) return;
    if (state_ == AssociationState::AwaitConnect && s.kind == SpduKind::Connect) return onConnect(s, ev);
    if (state_ == AssociationState::Associated && s.kind == SpduKind::Data) return handleData(s, ev);
    if (state_ == AssociationState::Associated && s.kind == SpduKind::Finish) return onFinish(s, ev);
    protocolError(ev, std::string("unexpected session ") + spduKindName(s.kind) + " in state " + stateName(state_));
}

void ServerAssociation::refuseSession(uint8_t reason) {
    Bytes tsdu;
    (void)sessionAppendRefuse(tsdu, reason, ByteView());
    queueTsdu(tsdu);
    state_ = AssociationState::Closed;
}

void ServerAssociation::refusePresentation(int64_t providerReason) {
    RefusePpdu cpr;
    cpr.respondingPsel = cfg_.local.psel;
    cpr.results = contextResults_;
    cpr.providerReason = providerReason;
    Bytes ppdu;
    (void)presentationAppendRefuse(ppdu, cpr);
    Bytes tsdu;
    (void)sessionAppendRefuse(tsdu, kRfUserData, ppdu);
    queueTsdu(tsdu);
    state_ = AssociationState::Closed;
}

void ServerAssociation::onConnect(const Spdu& s, std::vector<Event>& ev) {
    request_.callingSsel = s.callingSsel;
    request_.calledSsel = s.calledSsel;
    if (cfg_.calledSsel && s.calledSsel != *cfg_.calledSsel) {
        refuseSession(kRfSselUnknown);
        ev.push_back(Event{EventKind::ConnectRefused,
                           {},
                           "session CN for called SSEL '" + hexText(s.calledSsel, kMaxSselLength) +
                               "', this server is '" + hexText(*cfg_.calledSsel, kMaxSselLength) +
                               "': refused with RF session-selector-unknown"});
        return;
    }
    auto cp = presentationDecodeConnect(s.userData);
    if (!cp.ok()) {
        refuseSession(kRfSpmNoReason);
        ev.push_back(Event{EventKind::ProtocolError, {}, cp.error().reason});
        return;
    }
    request_.callingPsel = cp->callingPsel;
    request_.calledPsel = cp->calledPsel;

    // Accept the ACSE and MMS contexts with BER, reject anything else.
    contextResults_.clear();
    bool haveAcse = false, haveMms = false;
    for (const PresentationContext& c : cp->contexts) {
        ContextResult r;
        const bool acse = c.abstractSyntax == acseAbstractSyntax();
        const bool mms = c.abstractSyntax == mmsAbstractSyntax();
        if (!acse && !mms) {
            r.result = kCtxProviderRejection;
            r.providerReason = kCtxAbstractSyntaxNotSupported;
        } else if (!offersBer(c)) {
            r.result = kCtxProviderRejection;
            r.providerReason = kCtxTransferSyntaxesNotSupported;
        } else {
            r.transferSyntax = berTransferSyntax();
            if (acse) {
                haveAcse = true;
                acseContextId_ = c.id;
            } else {
                haveMms = true;
                mmsContextId_ = c.id;
            }
        }
        contextResults_.push_back(std::move(r));
    }
    if (cfg_.calledPsel && cp->calledPsel != *cfg_.calledPsel) {
        refusePresentation(kPrCalledAddressUnknown);
        ev.push_back(Event{EventKind::ConnectRefused,
                           {},
                           "presentation CP for called PSEL '" + hexText(cp->calledPsel, kMaxPselLength) +
                               "', this server is '" + hexText(*cfg_.calledPsel, kMaxPselLength) +
                               "': refused with CPR called-presentation-address-unknown"});
        return;
    }
    auto refuseUnusable = [&](const std::string& why) {
        refusePresentation(kPrNotSpecified);
        ev.push_back(Event{EventKind::ProtocolError, {}, why});
    };
    if (!haveAcse || !haveMms)
        return refuseUnusable(std::string("CP: no usable ") + (haveAcse ? "MMS" : "ACSE") +
                              " presentation context with BER");
    if (cp->userData.size() != 1 || cp->userData[0].contextId != acseContextId_)
        return refuseUnusable("CP: expected one ACSE presentation data value");
    auto aarq = acseDecodeAarq(cp->userData[0].data);
    if (!aarq.ok()) return refuseUnusable(aarq.error().reason);
    request_.calling = aarq->calling;
    request_.called = aarq->called;
    request_.password = aarq->password;
    request_.mechanism = aarq->mechanism;
    request_.mmsContextId = mmsContextId_;
    if (aarq->applicationContext != mmsApplicationContext()) {
        (void)respond(false, kRejectedPermanent, kDiagContextNotSupported, ByteView());
        ev.push_back(Event{EventKind::ProtocolError,
                           {},
                           "AARQ: application context " + aarq->applicationContext.text() + " is not MMS"});
        return;
    }
    const External* mms = nullptr;
    for (const External& e : aarq->userInformation)
        if (!e.indirectReference || *e.indirectReference == mmsContextId_) {
            mms = &e;
            break;
        }
    if (!mms) {
        (void)respond(false, kRejectedPermanent, kDiagNoReason, ByteView());
        ev.push_back(Event{EventKind::ProtocolError, {}, "AARQ: no MMS initiate request in the user information"});
        return;
    }
    state_ = AssociationState::AwaitResponse;
    ev.push_back(Event{EventKind::AssociateIndication, mms->data.toVector(), {}});
}

Status ServerAssociation::accept(ByteView mmsInitiateResponse) {
    if (state_ != AssociationState::AwaitResponse)
        return makeError(std::string("accept in state ") + stateName(state_));
    return respond(true, kAccepted, kDiagNull, mmsInitiateResponse);
}

Status ServerAssociation::refuse(int64_t diagnostic, int64_t result, ByteView mmsPdu) {
    if (state_ != AssociationState::AwaitResponse)
        return makeError(std::string("refuse in state ") + stateName(state_));
    if (result == kAccepted) return makeError("refuse with result accepted");
    return respond(false, result, diagnostic, mmsPdu);
}

Status ServerAssociation::respond(bool accepted, int64_t result, int64_t diagnostic, ByteView mmsPdu) {
    ZV_CHECK(checkSelectors(cfg_.local, "responding"));
    Aare aare;
    aare.applicationContext = mmsApplicationContext();
    aare.result = result;
    aare.diagnosticSource = kDiagUser;
    aare.diagnostic = diagnostic;
    aare.responding = cfg_.responding;
    if (!mmsPdu.empty()) aare.userInformation.push_back(External{mmsContextId_, std::nullopt, mmsPdu});
    Bytes acse;
    acseAppendAare(acse, aare);
    Bytes ppdu, tsdu;
    if (accepted) {
        AcceptPpdu cpa;
        cpa.respondingPsel = cfg_.local.psel;
        cpa.results = contextResults_;
        cpa.userData.push_back(Pdv{acseContextId_, acse});
        ZV_CHECK(presentationAppendAccept(ppdu, cpa));
        ZV_CHECK(sessionAppendAccept(tsdu, cfg_.local.ssel, ppdu));
        state_ = AssociationState::Associated;
    } else {
        // ISO 8650-1: a rejecting A-ASSOCIATE response travels in a
        // negative P-CONNECT (CPR), i.e. a session refuse with user data.
        RefusePpdu cpr;
        cpr.respondingPsel = cfg_.local.psel;
        cpr.results = contextResults_;
        cpr.userData.push_back(Pdv{acseContextId_, acse});
        ZV_CHECK(presentationAppendRefuse(ppdu, cpr));
        ZV_CHECK(sessionAppendRefuse(tsdu, kRfUserData, ppdu));
        state_ = AssociationState::Closed;
    }
    queueTsdu(tsdu);
    return {};
}

void ServerAssociation::onFinish(const Spdu& s, std::vector<Event>& ev) {
    auto acse = acseFromUserData(s.userData, "FN");
    if (!acse.ok()) return protocolError(ev, acse.error().reason);
    auto rlrq = acseDecodeRlrq(*acse);
    if (!rlrq.ok()) return protocolError(ev, rlrq.error().reason);
    // RLRE without a reason, as peers in the field answer a normal release.
    Bytes rlre;
    acseAppendRlre(rlre, Rlre{});
    Bytes ppdu;
    presentationAppendUserData(ppdu, acseContextId_, rlre);
    Bytes tsdu;
    (void)sessionAppendDisconnect(tsdu, ppdu);
    queueTsdu(tsdu);
    state_ = AssociationState::Closed;
    ev.push_back(Event{EventKind::ReleaseIndication,
                       {},
                       rlrq->reason ? "RLRQ reason " + std::to_string(*rlrq->reason) : std::string()});
}

}  // namespace zv::iso
