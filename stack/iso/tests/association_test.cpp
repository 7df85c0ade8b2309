#include "iso/association.h"
#include "pump.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace zv::iso {
namespace {

using test::hex;

const Bytes kInitReq = hex("a8 03 80 01 01");
const Bytes kInitResp = hex("a9 03 80 01 01");

// TPKT + DT framing of one TSDU.
Bytes frame(const Bytes& tsdu) {
    Bytes out;
    EXPECT_TRUE(cotpAppendTsdu(out, tsdu, 8192).ok());
    return out;
}
Bytes dataTsdu(int64_t ctx, const Bytes& pdu) {
    Bytes ppdu, tsdu;
    presentationAppendUserData(ppdu, ctx, pdu);
    sessionAppendData(tsdu, ppdu);
    return tsdu;
}

const Event* find(const std::vector<Event>& ev, EventKind k) {
    for (const Event& e : ev)
        if (e.kind == k) return &e;
    return nullptr;
}

// Both sides from CR to an accepted association.
struct Associated {
    ClientAssociation client;
    ServerAssociation server;
    test::Pump pump{client, server};
    explicit Associated(ClientConfig c = {}, ServerConfig s = {}, std::size_t chunk = 0)
        : client(std::move(c)), server(std::move(s)) {
        pump.chunk = chunk;
        EXPECT_TRUE(client.connect(kInitReq).ok());
        pump.run();
        EXPECT_NE(find(pump.serverEvents, EventKind::AssociateIndication), nullptr);
        EXPECT_TRUE(server.accept(kInitResp).ok());
        pump.run();
        EXPECT_EQ(client.state(), AssociationState::Associated);
    }
};

TEST(Association, ByteByByteDeliveryAssociatesExchangesAndReleases) {
    Associated a({}, {}, 1);
    const Event* conf = find(a.pump.clientEvents, EventKind::AssociateConfirm);
    ASSERT_NE(conf, nullptr);
    EXPECT_EQ(conf->data, kInitResp);
    ASSERT_TRUE(a.client.sendData(hex("8b 00")).ok());
    a.pump.run();
    ASSERT_TRUE(a.server.sendData(hex("8c 00")).ok());
    a.pump.run();
    ASSERT_TRUE(a.client.release().ok());
    a.pump.run();
    EXPECT_EQ(a.pump.serverEvents.back().kind, EventKind::ReleaseIndication);
    EXPECT_EQ(a.pump.clientEvents.back().kind, EventKind::ReleaseConfirm);
    EXPECT_EQ(a.pump.serverEvents[1].data, hex("8b 00"));
    EXPECT_EQ(a.pump.clientEvents[1].data, hex("8c 00"));
    EXPECT_TRUE(a.client.wantsClose());
    EXPECT_TRUE(a.server.wantsClose());
}

TEST(Association, LargePduTravelsSegmentedAtSmallTpduSize) {
    ClientConfig c;
    c.tpduSizeCode = 7;
    Associated a(c);
    EXPECT_EQ(a.server.tpduSize(), 128u);
    Bytes big(100000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
    // An MMS-looking envelope around it: the ISO layers do not care.
    Bytes pdu = {0xa0, 0x83, 0x01, 0x86, 0xa0};
    pdu.insert(pdu.end(), big.begin(), big.end());
    ASSERT_TRUE(a.server.sendData(pdu).ok());
    const std::size_t tpdus = a.server.output().size / 128 + 1;
    EXPECT_GT(tpdus, 700u);
    a.pump.run();
    ASSERT_EQ(a.pump.clientEvents.back().kind, EventKind::Data);
    EXPECT_EQ(a.pump.clientEvents.back().data, pdu);
}

struct SizeRow {
    const char* name;
    uint8_t proposed;
    uint8_t serverMax;
    std::size_t agreed;
};
void PrintTo(const SizeRow& row, std::ostream* os) { *os << row.name; }
class TpduSizeNegotiation : public ::testing::TestWithParam<SizeRow> {};

TEST_P(TpduSizeNegotiation, BothSidesUseTheSmallerSize) {
    ClientConfig c;
    c.tpduSizeCode = GetParam().proposed;
    ServerConfig s;
    s.maxTpduSizeCode = GetParam().serverMax;
    Associated a(c, s);
    EXPECT_EQ(a.client.tpduSize(), GetParam().agreed);
    EXPECT_EQ(a.server.tpduSize(), GetParam().agreed);
}

INSTANTIATE_TEST_SUITE_P(Rows, TpduSizeNegotiation,
                         ::testing::Values(SizeRow{"ServerAcceptsProposal", 13, 13, 8192},
                                           SizeRow{"ServerLowersTo1024", 13, 10, 1024},
                                           SizeRow{"ClientProposesSmallest", 7, 13, 128}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Association, ConfiguredSelectorsTitlesAndPasswordReachTheServer) {
    ClientConfig c;
    c.local = Selectors{hex("00 02"), hex("00 03"), hex("00 00 00 04")};
    c.remote = Selectors{hex("00 05"), hex("00 06"), hex("00 00 00 07")};
    c.calling = AeTitle{ber::Oid{{1, 3, 9999, 33}}, 33, std::nullopt, std::nullopt};
    c.called = AeTitle{ber::Oid{{1, 3, 9999, 44}}, 44, 5, 6};
    c.password = "secret";
    Associated a(c);
    const AssociateRequest& r = a.server.request();
    EXPECT_EQ(r.callingTsap, hex("00 02"));
    EXPECT_EQ(r.calledTsap, hex("00 05"));
    EXPECT_EQ(r.callingSsel, hex("00 03"));
    EXPECT_EQ(r.calledSsel, hex("00 06"));
    EXPECT_EQ(r.callingPsel, hex("00 00 00 04"));
    EXPECT_EQ(r.calledPsel, hex("00 00 00 07"));
    EXPECT_TRUE(r.calling == c.calling);
    EXPECT_TRUE(r.called == c.called);
    EXPECT_EQ(r.password, std::optional<std::string>("secret"));
}

TEST(Association, ServerRefusalReachesClientWithDiagnosticAndMmsError) {
    ClientAssociation client{ClientConfig{}};
    ServerAssociation server{ServerConfig{}};
    test::Pump pump(client, server);
    ASSERT_TRUE(client.connect(kInitReq).ok());
    pump.run();
    const Bytes initiateError = hex("aa 06 80 01 08 81 01 00");
    ASSERT_TRUE(server.refuse(kDiagAuthenticationFailure, kRejectedPermanent, initiateError).ok());
    EXPECT_TRUE(server.wantsClose());
    pump.run();
    const Event* ref = find(pump.clientEvents, EventKind::AssociateRefused);
    ASSERT_NE(ref, nullptr);
    EXPECT_NE(ref->reason.find("ACSE rejected-permanent, authentication-failure"), std::string::npos) << ref->reason;
    EXPECT_EQ(ref->data, initiateError);
    EXPECT_TRUE(client.wantsClose());
}

TEST(Association, OperationsOutOfStateFailWithoutOutput) {
    ClientAssociation client{ClientConfig{}};
    EXPECT_FALSE(client.sendData(hex("8b 00")).ok());
    EXPECT_FALSE(client.release().ok());
    ASSERT_TRUE(client.connect(kInitReq).ok());
    client.takeOutput();
    EXPECT_FALSE(client.connect(kInitReq).ok());
    EXPECT_FALSE(client.sendData(hex("8b 00")).ok());
    EXPECT_FALSE(client.hasOutput());
    ServerAssociation server{ServerConfig{}};
    EXPECT_FALSE(server.accept(kInitResp).ok());
    EXPECT_FALSE(server.refuse().ok());
}

TEST(Association, ClientRejectsCcRaisingTheProposedTpduSize) {
    ClientConfig c;
    c.tpduSizeCode = 10;
    ClientAssociation client(c);
    ASSERT_TRUE(client.connect(kInitReq).ok());
    client.takeOutput();
    CotpConnect cc;
    cc.dstRef = 1;
    cc.tpduSizeCode = 11;
    Bytes t;
    cotpAppendConnect(t, true, cc);
    auto ev = client.onBytes(*tpktEncode(t));
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, EventKind::ProtocolError);
    EXPECT_NE(ev[0].reason.find("TPDU size 2048 exceeds the proposed 1024"), std::string::npos) << ev[0].reason;
}

TEST(Association, CcWithoutTpduSizeMeans128Octets) {
    ClientAssociation client{ClientConfig{}};
    ASSERT_TRUE(client.connect(kInitReq).ok());
    client.takeOutput();
    CotpConnect cc;
    cc.dstRef = 1;
    Bytes t;
    cotpAppendConnect(t, true, cc);
    EXPECT_TRUE(client.onBytes(*tpktEncode(t)).empty());
    EXPECT_EQ(client.tpduSize(), 128u);
    // The CN that follows is cut into 128-octet TPDUs.
    TpktReader r;
    std::vector<Bytes> tpdus;
    ASSERT_TRUE(r.feed(client.output(), tpdus).ok());
    EXPECT_GT(tpdus.size(), 1u);
    for (const Bytes& b : tpdus) EXPECT_LE(b.size(), 128u);
}

TEST(Association, ConnectRejectsOverlongConfiguredSelectors) {
    ClientConfig c;
    c.local.ssel = Bytes(17, 1);
    ClientAssociation client(c);
    auto st = client.connect(kInitReq);
    ASSERT_FALSE(st.ok());
    EXPECT_NE(st.error().reason.find("17 octets exceeds 16"), std::string::npos);
    EXPECT_FALSE(client.hasOutput());
}

// A server that insists on its selectors refuses a connect naming another
// one at the layer of that selector; ACSE refusals travel in the AARE.
struct AddressRow {
    const char* name;
    void (*change)(ClientConfig&);  // what the client gets wrong (null: nothing)
    int64_t aareDiagnostic;         // the server refuses the AARQ with this (kDiagNull: accepts)
    const char* clientReason;       // empty: associated
    const char* serverReason;
};
void PrintTo(const AddressRow& row, std::ostream* os) { *os << row.name; }
class ServerSelectors : public ::testing::TestWithParam<AddressRow> {};

TEST_P(ServerSelectors, DecideAtTheirLayer) {
    const AddressRow& row = GetParam();
    ClientConfig c;
    c.remote = Selectors{hex("00 05"), hex("00 06"), hex("00 00 00 07")};
    c.password = "opensesame";
    if (row.change) row.change(c);
    ServerConfig sc;
    sc.local = Selectors{hex("00 05"), hex("00 06"), hex("00 00 00 07")};
    sc.calledTsap = sc.local.tsap;
    sc.calledSsel = sc.local.ssel;
    sc.calledPsel = sc.local.psel;
    ClientAssociation client(c);
    ServerAssociation server(sc);
    test::Pump pump(client, server);
    ASSERT_TRUE(client.connect(kInitReq).ok());
    pump.run();
    if (find(pump.serverEvents, EventKind::AssociateIndication)) {
        EXPECT_EQ(server.request().password, c.password);
        if (row.aareDiagnostic == kDiagNull) {
            ASSERT_TRUE(server.accept(kInitResp).ok());
        } else {
            ASSERT_TRUE(server.refuse(row.aareDiagnostic).ok());
        }
        pump.run();
    }
    if (*row.clientReason == 0) {
        EXPECT_EQ(client.state(), AssociationState::Associated);
        ASSERT_NE(find(pump.clientEvents, EventKind::AssociateConfirm), nullptr);
        return;
    }
    const Event* ref = find(pump.clientEvents, EventKind::AssociateRefused);
    ASSERT_NE(ref, nullptr) << (pump.clientEvents.empty() ? "" : pump.clientEvents.back().reason);
    EXPECT_EQ(ref->reason, row.clientReason);
    EXPECT_TRUE(client.wantsClose());
    EXPECT_TRUE(server.wantsClose());
    if (*row.serverReason) {
        const Event* srv = find(pump.serverEvents, EventKind::ConnectRefused);
        ASSERT_NE(srv, nullptr);
        EXPECT_NE(srv->reason.find(row.serverReason), std::string::npos) << srv->reason;
        EXPECT_EQ(find(pump.serverEvents, EventKind::AssociateIndication), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerSelectors,
    ::testing::Values(AddressRow{"MatchingSelectorsAssociate", nullptr, kDiagNull, "", ""},
                      AddressRow{"WrongTsapGetsDr", [](ClientConfig& c) { c.remote.tsap = hex("00 01"); }, kDiagNull,
                                 "COTP DR, address-unknown", "called TSAP '00 01', this server is '00 05'"},
                      AddressRow{"MissingTsapGetsDr", [](ClientConfig& c) { c.remote.tsap.clear(); }, kDiagNull,
                                 "COTP DR, address-unknown", "called TSAP ''"},
                      AddressRow{"WrongSselGetsRf", [](ClientConfig& c) { c.remote.ssel = hex("00 01"); }, kDiagNull,
                                 "session RF, session-selector-unknown", "called SSEL '00 01'"},
                      AddressRow{"WrongPselGetsCpr", [](ClientConfig& c) { c.remote.psel = hex("00 00 00 01"); },
                                 kDiagNull, "presentation CPR, called-presentation-address-unknown",
                                 "called PSEL '00 00 00 01'"},
                      AddressRow{"WrongApTitleGetsAareRejection", nullptr, kDiagCalledApTitleNotRecognized,
                                 "ACSE rejected-permanent, called-AP-title-not-recognized", ""},
                      AddressRow{"WrongPasswordGetsAareRejection", nullptr, kDiagAuthenticationFailure,
                                 "ACSE rejected-permanent, authentication-failure", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A socket loop that sends part of the queue and queues more meanwhile
// must see the exact byte stream, in order.
TEST(Association, PartialSendsInterleavedWithNewDataKeepTheStreamIntact) {
    Associated a;
    Bytes expected, sent;
    for (int i = 0; i < 50; ++i) {
        Bytes pdu(100 + i, static_cast<uint8_t>(i));
        pdu[0] = 0x04;  // one BER value, as single-ASN1-type requires
        pdu[1] = 0x81;
        pdu[2] = static_cast<uint8_t>(pdu.size() - 3);
        Bytes framed = frame(dataTsdu(3, pdu));
        expected.insert(expected.end(), framed.begin(), framed.end());
        ASSERT_TRUE(a.server.sendData(pdu).ok());
        ByteView out = a.server.output();
        const std::size_t n = out.size / 3 + 1;
        sent.insert(sent.end(), out.data, out.data + n);
        a.server.consumeOutput(n);
    }
    const Bytes rest = a.server.takeOutput();
    sent.insert(sent.end(), rest.begin(), rest.end());
    EXPECT_EQ(sent, expected);
    auto ev = a.client.onBytes(sent);
    ASSERT_EQ(ev.size(), 50u);
    EXPECT_EQ(ev[49].data.size(), 149u);
    EXPECT_EQ(ev[49].data.back(), 49);
}

// Splits `pdu` as user data into DT TPDUs of `piece` octets of TSDU each.
Bytes segmented(const Bytes& tsdu, std::size_t piece) {
    Bytes out;
    for (std::size_t pos = 0; pos < tsdu.size(); pos += piece) {
        const std::size_t n = std::min(piece, tsdu.size() - pos);
        Bytes dt = hex(pos + n == tsdu.size() ? "02 f0 80" : "02 f0 00");
        dt.insert(dt.end(), tsdu.begin() + pos, tsdu.begin() + pos + n);
        EXPECT_TRUE(tpktAppend(out, dt).ok());
    }
    return out;
}

TEST(Association, ReassembledTsduOfExactlyTheLimitIsAcceptedOneMoreIsNot) {
    Bytes pdu(1000 - 4 - 15, 0x33);  // TSDU = GT+DT (4) + PPDU envelope (15) + PDU
    pdu[0] = 0x04;
    pdu[1] = 0x82;
    pdu[2] = static_cast<uint8_t>((pdu.size() - 4) >> 8);
    pdu[3] = static_cast<uint8_t>(pdu.size() - 4);
    const Bytes tsdu = dataTsdu(3, pdu);
    ASSERT_EQ(tsdu.size(), 1000u);
    ServerConfig s;
    s.maxTsdu = 1000;
    Associated at({}, s);
    auto ev = at.server.onBytes(segmented(tsdu, 300));
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, EventKind::Data);
    EXPECT_EQ(ev[0].data, pdu);

    s.maxTsdu = 999;
    Associated over({}, s);
    ev = over.server.onBytes(segmented(tsdu, 300));
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, EventKind::ProtocolError);
    EXPECT_NE(ev[0].reason.find("1000 octets exceeds the maximum 999"), std::string::npos) << ev[0].reason;
    EXPECT_TRUE(over.server.wantsClose());
}

TEST(Association, TransportLossWhileAssociatedIsReportedOnce) {
    Associated a;
    auto ev = a.client.onTransportClosed();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, EventKind::Aborted);
    EXPECT_TRUE(a.client.onTransportClosed().empty());
    EXPECT_TRUE(a.client.onBytes(frame(dataTsdu(3, hex("8c 00")))).empty());
}

TEST(Association, AbortReachesThePeer) {
    Associated a;
    a.server.abort();
    a.pump.run();
    const Event* ab = find(a.pump.clientEvents, EventKind::Aborted);
    ASSERT_NE(ab, nullptr);
    EXPECT_NE(ab->reason.find("ABRT source service-user"), std::string::npos) << ab->reason;
    EXPECT_TRUE(a.client.wantsClose());
}

// Faulty or unexpected input in a given state: the named event, the state
// machine closes, and the reason says what was wrong.
enum class Stage {
    ClientAwaitCc,
    ClientAwaitConnect,
    ClientAssociated,
    ServerAwaitCr,
    ServerAwaitConnect,
    ServerAssociated
};

struct BadInputRow {
    const char* name;
    Stage stage;
    Bytes input;
    EventKind expected;
    const char* reason;
};
void PrintTo(const BadInputRow& row, std::ostream* os) { *os << row.name; }

class AssociationRejects : public ::testing::TestWithParam<BadInputRow> {};

TEST_P(AssociationRejects, InputWithNamedEventAndCloses) {
    const BadInputRow& row = GetParam();
    ClientAssociation client{ClientConfig{}};
    ServerAssociation server{ServerConfig{}};
    test::Pump pump(client, server);
    AssociationBase* target = nullptr;
    switch (row.stage) {
    case Stage::ClientAwaitCc:
        ASSERT_TRUE(client.connect(kInitReq).ok());
        client.takeOutput();
        target = &client;
        break;
    case Stage::ServerAwaitCr: target = &server; break;
    case Stage::ClientAwaitConnect:
    case Stage::ServerAwaitConnect:
        ASSERT_TRUE(client.connect(kInitReq).ok());
        pump.deliverClient();
        pump.deliverServer();  // CC
        client.takeOutput();   // the CN never reaches the server
        target = row.stage == Stage::ClientAwaitConnect ? static_cast<AssociationBase*>(&client) : &server;
        break;
    case Stage::ClientAssociated:
    case Stage::ServerAssociated:
        ASSERT_TRUE(client.connect(kInitReq).ok());
        pump.run();
        ASSERT_TRUE(server.accept(kInitResp).ok());
        pump.run();
        ASSERT_EQ(client.state(), AssociationState::Associated);
        target = row.stage == Stage::ClientAssociated ? static_cast<AssociationBase*>(&client) : &server;
        break;
    }
    auto ev = target->onBytes(row.input);
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(ev.back().kind, row.expected) << eventKindName(ev.back().kind) << ": " << ev.back().reason;
    EXPECT_NE(ev.back().reason.find(row.reason), std::string::npos) << ev.back().reason;
    EXPECT_TRUE(target->wantsClose());
    // Nothing after the fault is taken in.
    EXPECT_TRUE(target->onBytes(frame(dataTsdu(3, hex("8b 00")))).empty());
}

Bytes connectTpdu(bool confirm, uint16_t dst, uint16_t src, std::optional<uint8_t> size) {
    CotpConnect c;
    c.dstRef = dst;
    c.srcRef = src;
    c.tpduSizeCode = size;
    Bytes t;
    cotpAppendConnect(t, confirm, c);
    return *tpktEncode(t);
}

Bytes sessionOnly(void (*build)(Bytes&)) {
    Bytes tsdu;
    build(tsdu);
    return frame(tsdu);
}

Bytes cpWithoutMms() {
    ConnectPpdu cp;
    cp.contexts.push_back(PresentationContext{1, acseAbstractSyntax(), {berTransferSyntax()}});
    Bytes aarq;
    acseAppendAarq(aarq, Aarq{mmsApplicationContext(), {}, {}, std::nullopt, std::nullopt, {}});
    cp.userData.push_back(Pdv{1, aarq});
    Bytes ppdu, tsdu;
    (void)presentationAppendConnect(ppdu, cp);
    (void)sessionAppendConnect(tsdu, {}, {}, ppdu);
    return frame(tsdu);
}

Bytes aarqWithContext(const ber::Oid& context) {
    ConnectPpdu cp;
    cp.contexts.push_back(PresentationContext{1, acseAbstractSyntax(), {berTransferSyntax()}});
    cp.contexts.push_back(PresentationContext{3, mmsAbstractSyntax(), {berTransferSyntax()}});
    Bytes aarq;
    Aarq a;
    a.applicationContext = context;
    a.userInformation.push_back(External{3, std::nullopt, kInitReq});
    acseAppendAarq(aarq, a);
    cp.userData.push_back(Pdv{1, aarq});
    Bytes ppdu, tsdu;
    (void)presentationAppendConnect(ppdu, cp);
    (void)sessionAppendConnect(tsdu, {}, {}, ppdu);
    return frame(tsdu);
}

// A session RF carrying a CPR (with an AARE when `aare` is set), as a
// refusing server sends it.
Bytes refusal(std::optional<int64_t> providerReason, std::vector<ContextResult> results,
              std::optional<Aare> aare = std::nullopt) {
    RefusePpdu cpr;
    cpr.providerReason = providerReason;
    cpr.results = std::move(results);
    Bytes acse;
    if (aare) {
        acseAppendAare(acse, *aare);
        cpr.userData.push_back(Pdv{1, acse});
    }
    Bytes ppdu, tsdu;
    EXPECT_TRUE(presentationAppendRefuse(ppdu, cpr).ok());
    EXPECT_TRUE(sessionAppendRefuse(tsdu, kRfUserData, ppdu).ok());
    return frame(tsdu);
}

Aare rejected(int64_t result, int source, int64_t diagnostic) {
    Aare a;
    a.applicationContext = mmsApplicationContext();
    a.result = result;
    a.diagnosticSource = source;
    a.diagnostic = diagnostic;
    return a;
}

const std::vector<ContextResult> kBothAccepted = {ContextResult{kCtxAcceptance, berTransferSyntax(), std::nullopt},
                                                  ContextResult{kCtxAcceptance, berTransferSyntax(), std::nullopt}};

INSTANTIATE_TEST_SUITE_P(
    Refusals, AssociationRejects,
    ::testing::Values(
        BadInputRow{"DrReasonWithoutName", Stage::ClientAwaitCc, *tpktEncode(hex("06 80 00 01 00 00 c8")),
                    EventKind::AssociateRefused, "COTP DR, reason 200"},
        BadInputRow{"DrAfterCc", Stage::ClientAwaitConnect, *tpktEncode(hex("06 80 00 01 00 01 02")),
                    EventKind::AssociateRefused, "COTP DR, session-entity-not-attached-to-TSAP"},
        BadInputRow{"DrWhileAssociatedIsALoss", Stage::ClientAssociated, *tpktEncode(hex("06 80 00 01 00 01 80")),
                    EventKind::Aborted, "transport disconnect by the peer: COTP DR, normal"},
        BadInputRow{"RfVersionsNotSupported", Stage::ClientAwaitConnect,
                    sessionOnly([](Bytes& t) { (void)sessionAppendRefuse(t, kRfVersionNotSupported, ByteView()); }),
                    EventKind::AssociateRefused, "session RF, proposed-protocol-versions-not-supported"},
        BadInputRow{"RfReasonWithoutName", Stage::ClientAwaitConnect,
                    sessionOnly([](Bytes& t) { (void)sessionAppendRefuse(t, 0x99, ByteView()); }),
                    EventKind::AssociateRefused, "session RF, reason code 153"},
        BadInputRow{"CprNoPsap", Stage::ClientAwaitConnect, refusal(kPrNoPsapAvailable, {}),
                    EventKind::AssociateRefused, "presentation CPR, no-PSAP-available"},
        BadInputRow{"CprProviderReasonWithoutName", Stage::ClientAwaitConnect, refusal(12, {}),
                    EventKind::AssociateRefused, "presentation CPR, provider-reason 12"},
        BadInputRow{"CprMmsContextRejected", Stage::ClientAwaitConnect,
                    refusal(std::nullopt,
                            {ContextResult{kCtxAcceptance, berTransferSyntax(), std::nullopt},
                             ContextResult{kCtxProviderRejection, std::nullopt, kCtxAbstractSyntaxNotSupported}}),
                    EventKind::AssociateRefused,
                    "presentation CPR, context 3 provider-rejection, abstract-syntax-not-supported"},
        BadInputRow{"AareUnknownUserDiagnostic", Stage::ClientAwaitConnect,
                    refusal(std::nullopt, kBothAccepted, rejected(kRejectedTransient, kDiagUser, 42)),
                    EventKind::AssociateRefused, "ACSE rejected-transient, service-user diagnostic 42"},
        BadInputRow{"AareProviderDiagnostic", Stage::ClientAwaitConnect,
                    refusal(std::nullopt, kBothAccepted, rejected(kRejectedPermanent, kDiagProvider, 2)),
                    EventKind::AssociateRefused, "ACSE rejected-permanent, service-provider no-common-acse-version"},
        BadInputRow{"AareUndecodable", Stage::ClientAwaitConnect,
                    [] {
                        RefusePpdu cpr;
                        const Bytes junk = hex("61 03 02 01 00");
                        cpr.userData.push_back(Pdv{1, junk});
                        Bytes ppdu, tsdu;
                        (void)presentationAppendRefuse(ppdu, cpr);
                        (void)sessionAppendRefuse(tsdu, kRfUserData, ppdu);
                        return frame(tsdu);
                    }(),
                    EventKind::AssociateRefused, "session RF, rejection-by-called-SS-user-with-data; ACSE AARE"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Rows, AssociationRejects,
    ::testing::Values(
        BadInputRow{"TpktVersionTwo", Stage::ClientAwaitCc, hex("02 00 00 07 02 f0 80"), EventKind::ProtocolError,
                    "TPKT: version 2"},
        BadInputRow{"CcForAnotherReference", Stage::ClientAwaitCc, connectTpdu(true, 9, 1, 13),
                    EventKind::ProtocolError, "DST-REF 9, expected 1"},
        BadInputRow{"CcWithTpduSizeBeyondClassZero", Stage::ClientAwaitCc, connectTpdu(true, 1, 1, 14),
                    EventKind::ProtocolError, "TPDU size code 14 outside 7..13"},
        BadInputRow{"DataBeforeCc", Stage::ClientAwaitCc, frame(dataTsdu(3, hex("8c 00"))), EventKind::ProtocolError,
                    "before the transport connection"},
        BadInputRow{"DisconnectRequestInsteadOfCc", Stage::ClientAwaitCc, *tpktEncode(hex("06 80 00 01 00 00 88")),
                    EventKind::AssociateRefused, "COTP DR, connection-request-refused"},
        BadInputRow{"CrToTheClient", Stage::ClientAwaitCc, connectTpdu(false, 0, 1, 13), EventKind::ProtocolError,
                    "unexpected COTP CR"},
        BadInputRow{"SessionRefusedBySelector", Stage::ClientAwaitConnect,
                    sessionOnly([](Bytes& t) { (void)sessionAppendRefuse(t, kRfSselUnknown, ByteView()); }),
                    EventKind::AssociateRefused, "session RF, session-selector-unknown"},
        BadInputRow{"DataBeforeAccept", Stage::ClientAwaitConnect, frame(dataTsdu(3, hex("8c 00"))),
                    EventKind::ProtocolError, "unexpected session DT in state AwaitConnect"},
        BadInputRow{"AcceptWithGarbagePresentation", Stage::ClientAwaitConnect,
                    sessionOnly([](Bytes& t) { (void)sessionAppendAccept(t, {}, hex("31 02 05 00")); }),
                    EventKind::ProtocolError, "presentation CPA"},
        BadInputRow{"DataOnAcseContext", Stage::ClientAssociated, frame(dataTsdu(1, hex("8c 00"))),
                    EventKind::ProtocolError, "data on presentation context 1"},
        BadInputRow{"DataNotFullyEncoded", Stage::ClientAssociated,
                    frame(test::concat(hex("01 00 01 00"), hex("40 02 8c 00"))), EventKind::ProtocolError,
                    "simply encoded user data is not supported"},
        BadInputRow{"TransportErrorTpdu", Stage::ClientAssociated, *tpktEncode(hex("04 70 00 01 02")),
                    EventKind::ProtocolError, "ER cause 2"},
        BadInputRow{"SecondCr", Stage::ServerAwaitConnect, connectTpdu(false, 0, 2, 13), EventKind::ProtocolError,
                    "unexpected COTP CR in state AwaitConnect"},
        BadInputRow{"ConnectWithoutMmsContext", Stage::ServerAwaitConnect, cpWithoutMms(), EventKind::ProtocolError,
                    "no usable MMS presentation context"},
        BadInputRow{"AarqForAnotherApplication", Stage::ServerAwaitConnect, aarqWithContext(ber::Oid{{1, 2, 3}}),
                    EventKind::ProtocolError, "application context 1.2.3 is not MMS"},
        BadInputRow{"TpduCodeUnknown", Stage::ServerAwaitConnect, *tpktEncode(hex("02 10 80")),
                    EventKind::ProtocolError, "code 0x10"},
        BadInputRow{"DataBeforeCr", Stage::ServerAwaitCr, frame(dataTsdu(3, hex("8b 00"))), EventKind::ProtocolError,
                    "before the transport connection"},
        BadInputRow{"FinishBeforeAssociation", Stage::ServerAwaitConnect,
                    sessionOnly([](Bytes& t) { (void)sessionAppendFinish(t, ByteView()); }), EventKind::ProtocolError,
                    "unexpected session FN in state AwaitConnect"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zv::iso
