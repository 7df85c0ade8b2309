// Independent check: a full client <-> server exchange produced by our two
// state machines, written as a pcap and dissected by tshark, must decode
// without a malformed frame or an error in COTP, session, presentation or
// ACSE. Skipped when tshark is not installed.
#include "iso/association.h"
#include "pcap_writer.h"
#include "pump.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace zv::iso {
namespace {

using test::hex;

constexpr uint16_t kServerPort = 10102;

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

// An MMS identify response with long texts: a valid PDU that needs several
// DT TPDUs at the 128-octet TPDU size.
Bytes longIdentifyResponse() {
    const std::string vendor(150, 'v'), model(60, 'm'), rev = "1.0";
    Bytes inner;
    auto vis = [&](uint8_t tag, const std::string& s) {
        inner.push_back(tag);
        inner.push_back(0x81);
        inner.push_back(static_cast<uint8_t>(s.size()));
        inner.insert(inner.end(), s.begin(), s.end());
    };
    vis(0x80, vendor);
    vis(0x81, model);
    vis(0x82, rev);
    Bytes service = {0xa2, 0x81, static_cast<uint8_t>(inner.size())};
    service.insert(service.end(), inner.begin(), inner.end());
    Bytes body = {0x02, 0x01, 0x07};
    body.insert(body.end(), service.begin(), service.end());
    Bytes pdu = {0xa1, 0x82, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
    pdu.insert(pdu.end(), body.begin(), body.end());
    return pdu;
}

TEST(Tshark, DissectsOurWholeExchangeWithoutMalformedFrames) {
    ASSERT_FALSE(run("command -v tshark").empty()) << "tshark not installed (Debian package tshark)";

    ClientConfig cc;
    cc.tpduSizeCode = 7;  // 128 octets: large PDUs travel segmented
    ClientAssociation client(cc);
    ServerAssociation server(ServerConfig{});
    test::PcapWriter pcap(47000, kServerPort);
    pcap.handshake();
    test::Pump pump{client, server};
    pump.tap = [&](bool fromClient, const Bytes& b) { pcap.data(fromClient, b); };

    const Bytes initReq = hex(
        "a8 26 80 03 00 fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 04 "
        "08 00 00 79 ef 18");
    const Bytes initResp = hex(
        "a9 26 80 03 00 fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 00 "
        "02 00 00 40 ed 18");
    ASSERT_TRUE(client.connect(initReq).ok());
    pump.run();
    ASSERT_EQ(pump.serverEvents.size(), 1u);
    ASSERT_TRUE(server.accept(initResp).ok());
    pump.run();
    ASSERT_EQ(client.state(), AssociationState::Associated);

    ASSERT_TRUE(client.sendData(hex("a0 05 02 01 07 82 00")).ok());  // identify request
    pump.run();
    ASSERT_TRUE(server.sendData(longIdentifyResponse()).ok());
    ASSERT_TRUE(client.sendData(hex("8b 00")).ok());  // conclude request
    pump.run();
    ASSERT_TRUE(server.sendData(hex("8c 00")).ok());  // conclude response
    pump.run();
    ASSERT_TRUE(client.release().ok());
    pump.run();
    ASSERT_EQ(client.state(), AssociationState::Closed);
    pcap.close();

    const std::string path = ::testing::TempDir() + "zv_iso_exchange_" + std::to_string(getpid()) + ".pcap";
    ASSERT_TRUE(pcap.save(path));
    const std::string out = run("tshark -r '" + path + "' -d tcp.port==" + std::to_string(kServerPort) +
                                ",tpkt -V 2>&1");
    if (!std::getenv("ZV_KEEP_PCAP")) std::remove(path.c_str());

    EXPECT_EQ(count(out, "Malformed"), 0u) << out;
    EXPECT_EQ(count(out, "Expert Info (Error"), 0u) << out;
    EXPECT_EQ(count(out, "Expert Info (Warning"), 0u) << out;
    // Every layer was recognised, not just skipped.
    EXPECT_EQ(count(out, "CR Connect Request"), 1u);
    EXPECT_EQ(count(out, "CC Connect Confirm"), 1u);
    EXPECT_GE(count(out, "CONNECT (CN) SPDU"), 1u);
    EXPECT_GE(count(out, "ACCEPT (AC) SPDU"), 1u);
    EXPECT_GE(count(out, "CP-type"), 1u);
    EXPECT_GE(count(out, "CPA-PPDU"), 1u);
    EXPECT_GE(count(out, "aarq"), 1u);
    EXPECT_GE(count(out, "aare"), 1u);
    EXPECT_GE(count(out, "initiate-RequestPDU"), 1u);
    EXPECT_GE(count(out, "initiate-ResponsePDU"), 1u);
    EXPECT_GE(count(out, "confirmed-ResponsePDU"), 1u);
    EXPECT_GE(count(out, "conclude-RequestPDU"), 1u);
    EXPECT_GE(count(out, "conclude-ResponsePDU"), 1u);
    EXPECT_GE(count(out, "rlrq"), 1u);
    EXPECT_GE(count(out, "rlre"), 1u);
    if (HasFailure()) std::fprintf(stderr, "%s\n", out.substr(0, 20000).c_str());
}

// Authenticated and refused associations: every refusal frame (DR, RF, CPR,
// a rejecting AARE) and the AARQ with a password decode cleanly.
struct ExchangeRow {
    const char* name;
    void (*change)(ClientConfig&);   // what the client gets wrong (null: nothing)
    int64_t aareDiagnostic;          // the server's answer to the AARQ (kDiagNull: accept)
    std::vector<const char*> shown;  // texts tshark must show
};
void PrintTo(const ExchangeRow& row, std::ostream* os) { *os << row.name; }
class TsharkExchange : public ::testing::TestWithParam<ExchangeRow> {};

TEST_P(TsharkExchange, DissectsWithoutMalformedFrames) {
    ASSERT_FALSE(run("command -v tshark").empty()) << "tshark not installed (Debian package tshark)";
    const ExchangeRow& row = GetParam();
    ClientConfig cc;
    cc.remote = Selectors{hex("00 05"), hex("00 06"), hex("00 00 00 07")};
    cc.called = AeTitle{ber::Oid{{1, 3, 9999, 33}}, 33, std::nullopt, std::nullopt};
    cc.password = "opensesame";
    if (row.change) row.change(cc);
    ServerConfig sc;
    sc.local = Selectors{hex("00 05"), hex("00 06"), hex("00 00 00 07")};
    sc.calledTsap = sc.local.tsap;
    sc.calledSsel = sc.local.ssel;
    sc.calledPsel = sc.local.psel;
    sc.responding = AeTitle{ber::Oid{{1, 3, 9999, 33}}, 33, std::nullopt, std::nullopt};
    ClientAssociation client(cc);
    ServerAssociation server(sc);
    test::PcapWriter pcap(47001, kServerPort);
    pcap.handshake();
    test::Pump pump{client, server};
    pump.tap = [&](bool fromClient, const Bytes& b) { pcap.data(fromClient, b); };
    const Bytes initReq = hex(
        "a8 26 80 03 00 fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 04 "
        "08 00 00 79 ef 18");
    const Bytes initResp = hex(
        "a9 26 80 03 00 fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 00 "
        "02 00 00 40 ed 18");
    ASSERT_TRUE(client.connect(initReq).ok());
    pump.run();
    if (server.state() == AssociationState::AwaitResponse) {
        if (row.aareDiagnostic == kDiagNull) {
            ASSERT_TRUE(server.accept(initResp).ok());
            pump.run();
            ASSERT_TRUE(client.release().ok());
        } else {
            ASSERT_TRUE(server.refuse(row.aareDiagnostic).ok());
        }
        pump.run();
    }
    EXPECT_TRUE(client.wantsClose());
    pcap.close();
    const std::string path = ::testing::TempDir() + "zv_iso_" + row.name + "_" + std::to_string(getpid()) + ".pcap";
    ASSERT_TRUE(pcap.save(path));
    const std::string out = run("tshark -r '" + path + "' -d tcp.port==" + std::to_string(kServerPort) +
                                ",tpkt -V 2>&1");
    if (!std::getenv("ZV_KEEP_PCAP")) std::remove(path.c_str());
    EXPECT_EQ(count(out, "Malformed"), 0u) << out;
    EXPECT_EQ(count(out, "Expert Info (Error"), 0u) << out;
    for (const char* text : row.shown) EXPECT_GE(count(out, text), 1u) << text;
    if (HasFailure()) std::fprintf(stderr, "%s\n", out.substr(0, 20000).c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TsharkExchange,
    ::testing::Values(ExchangeRow{"Authenticated",
                                  nullptr,
                                  kDiagNull,
                                  {"aarq", "authentication: True", "mechanism-name: 2.2.3.1", "charstring",
                                   "result: accepted (0)", "rlre"}},
                      ExchangeRow{"WrongTsap",
                                  [](ClientConfig& c) { c.remote.tsap = hex("00 01"); },
                                  kDiagNull,
                                  {"DR Disconnect Request", "Cause: Address unknown (3)"}},
                      ExchangeRow{"WrongSsel",
                                  [](ClientConfig& c) { c.remote.ssel = hex("00 01"); },
                                  kDiagNull,
                                  {"REFUSE (RF) SPDU", "Session Selector unknown (129)"}},
                      ExchangeRow{"WrongPsel",
                                  [](ClientConfig& c) { c.remote.psel = hex("00 00 00 01"); },
                                  kDiagNull,
                                  {"CPR-PPDU", "provider-reason: called-presentation-address-unknown (3)"}},
                      ExchangeRow{"WrongApTitle",
                                  nullptr,
                                  kDiagCalledApTitleNotRecognized,
                                  {"CPR-PPDU", "service-user: called-AP-title-not-recognized (7)"}},
                      ExchangeRow{"WrongPassword",
                                  nullptr,
                                  kDiagAuthenticationFailure,
                                  {"CPR-PPDU", "service-user: authentication-failure (13)"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zv::iso
