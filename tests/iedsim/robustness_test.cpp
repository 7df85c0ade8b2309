// Untrusted bytes from clients: the server answers or drops that one
// connection, and keeps serving the others.
#include "fixture.h"

#include <random>

namespace zv::iedsim::test {
namespace {

TEST(Robustness, BytesThatAreNotIsoTransportCloseOnlyThatConnection) {
    SimServer sim;
    TestClient good;
    ASSERT_TRUE(good.associate(sim.host(), sim.port()));
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(sim.port());
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const char junk[] = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_GT(::send(fd, junk, sizeof junk - 1, MSG_NOSIGNAL), 0);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 3000), 1);
    char buf[64];
    EXPECT_LE(::recv(fd, buf, sizeof buf, 0), 0);  // closed by the server
    ::close(fd);
    EXPECT_NE(responseOf<mms::IdentifyResponse>(good.call(mms::IdentifyRequest{})), nullptr);
}

TEST(Robustness, MutatedRequestsAreAnsweredOrRejectedAndTheServerCarriesOn) {
    SimServer sim;
    mms::ReadRequest rd = readOf({"LLN0$BR$brcbTemp01", "ZSAR1$MX$LeakA"});
    mms::WriteRequest wr = writeOf(
        {{"LLN0$RP$urcbAlarm01$TrgOps", mms::Data::bitString(mms::BitString::fromText("011111"))}});
    const std::vector<std::vector<uint8_t>> seeds = {
        mms::encode(mms::Pdu(mms::ConfirmedRequest{5, rd})), mms::encode(mms::Pdu(mms::ConfirmedRequest{6, wr})),
        mms::encode(mms::Pdu(mms::ConfirmedRequest{7, mms::FileDirectoryRequest{mms::FileName{"COMTRADE"}, {}}})),
        mms::encode(mms::Pdu(
            mms::ConfirmedRequest{8, mms::GetNameListRequest{mms::kNamedVariable, mms::ObjectName::Scope::Domain,
                                                             "CMIEDMON", std::string("LLN0")}}))};
    std::mt19937 rng(20261207);
    int sent = 0;
    for (int round = 0; round < 4; ++round) {
        TestClient c;
        ASSERT_TRUE(c.associate(sim.host(), sim.port()));
        for (int k = 0; k < 100 && !c.closed(); ++k) {
            // Mutate inside the outer TLV and frame it again, so that the
            // presentation layer still carries one PDU and MMS has to judge it.
            const std::vector<uint8_t>& seed = seeds[rng() % seeds.size()];
            const size_t head = seed[1] < 0x80 ? 2 : 2 + (seed[1] & 0x7f);
            std::vector<uint8_t> in(seed.begin() + long(head), seed.end());
            const int edits = 1 + int(rng() % 4);
            for (int e = 0; e < edits && !in.empty(); ++e) {
                switch (rng() % 3) {
                case 0: in[rng() % in.size()] = uint8_t(rng()); break;
                case 1: in.resize(rng() % in.size()); break;
                default: in.insert(in.begin() + long(rng() % in.size()), uint8_t(rng())); break;
                }
            }
            ber::Writer w;
            w.primitive(ber::Tag{ber::TagClass::Context, true, 0}, ber::ByteView(in.data(), in.size()));
            std::vector<uint8_t> b = w.take();
            (void)c.association().sendData(iso::ByteView(b.data(), b.size()));
            c.idle(1);
            ++sent;
        }
    }
    EXPECT_EQ(sent, 400);  // MMS faults are answered, never the end of the association
    TestClient after;
    ASSERT_TRUE(after.associate(sim.host(1), sim.port(1)));
    EXPECT_NE(responseOf<mms::IdentifyResponse>(after.call(mms::IdentifyRequest{})), nullptr);
    EXPECT_EQ(sim.ask("ping"), "OK pong");
}

TEST(Robustness, AnAssociationWithoutInitiateIsRefused) {
    SimServer sim;
    TestClient c;
    ASSERT_TRUE(c.open(sim.host(), sim.port()));
    // An MMS conclude-request where the initiate-request belongs.
    const std::vector<uint8_t> notInitiate = {0x8b, 0x00};
    ASSERT_TRUE(c.association().connect(iso::ByteView(notInitiate.data(), notInitiate.size())));
    EXPECT_TRUE(c.waitClosed());
    TestClient good;
    EXPECT_TRUE(good.associate(sim.host(), sim.port()));
}

}  // namespace
}  // namespace zv::iedsim::test
