// Byte-exact checks against the reference session between an independent
// client and server: our encoders, given the same parameters and MMS bytes,
// produce the same frames, and our decoders accept theirs.
#include "iso/association.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace zv::iso {
namespace {

using test::hex;
using test::toHex;

// TCP payloads of the reference capture (TPKT onwards).
const Bytes kCr = hex("03 00 00 16 11 e0 00 00 00 01 00 c0 01 0d c2 02 00 01 c1 02 00 01");
const Bytes kCc = hex("03 00 00 16 11 d0 00 01 00 01 00 c0 01 0d c2 02 00 01 c1 02 00 01");
const Bytes kAarqFrame = hex(
    "03 00 00 bb 02 f0 80 0d b2 05 06 13 01 00 16 01 02 14 02 00 02 33 02 00 01 34 02 00 01 c1 9c 31 81 99 a0 03 "
    "80 01 01 a2 81 91 81 04 00 00 00 01 82 04 00 00 00 01 a4 23 30 0f 02 01 01 06 04 52 01 00 01 30 04 06 02 51 "
    "01 30 10 02 01 03 06 05 28 ca 22 02 01 30 04 06 02 51 01 61 5e 30 5c 02 01 01 a0 57 60 55 a1 07 06 05 28 ca "
    "22 02 03 a2 07 06 05 29 01 87 67 01 a3 03 02 01 0c a6 06 06 04 29 01 87 67 a7 03 02 01 0c be 2f 28 2d 02 01 "
    "03 a0 28 a8 26 80 03 00 fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 "
    "04 08 00 00 79 ef 18");
const Bytes kAareFrame = hex(
    "03 00 00 8f 02 f0 80 0e 86 05 06 13 01 00 16 01 02 14 02 00 02 34 02 00 01 c1 74 31 72 a0 03 80 01 01 a2 6b "
    "83 04 00 00 00 01 a5 12 30 07 80 01 00 81 02 51 01 30 07 80 01 00 81 02 51 01 61 4f 30 4d 02 01 01 a0 48 61 "
    "46 a1 07 06 05 28 ca 22 02 03 a2 03 02 01 00 a3 05 a1 03 02 01 00 be 2f 28 2d 02 01 03 a0 28 a9 26 80 03 00 "
    "fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 00 02 00 00 40 ed 18");
// The MMS initiate PDUs those frames carry.
const Bytes kInitiateRequest = hex(
    "a8 26 80 03 00 fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 04 08 00 "
    "00 79 ef 18");
const Bytes kInitiateResponse = hex(
    "a9 26 80 03 00 fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 00 02 00 "
    "00 40 ed 18");
const Bytes kIdentifyFrame = hex("03 00 00 1b 02 f0 80 01 00 01 00 61 0e 30 0c 02 01 03 a0 07 a0 05 02 01 01 82 00");
const Bytes kIdentifyRequest = hex("a0 05 02 01 01 82 00");
const Bytes kConcludeRequestFrame = hex("03 00 00 16 02 f0 80 01 00 01 00 61 09 30 07 02 01 03 a0 02 8b 00");
const Bytes kConcludeResponseFrame = hex("03 00 00 16 02 f0 80 01 00 01 00 61 09 30 07 02 01 03 a0 02 8c 00");
const Bytes kReleaseRequestFrame = hex("03 00 00 19 02 f0 80 09 10 c1 0e 61 0c 30 0a 02 01 01 a0 05 62 03 80 01 00");
const Bytes kReleaseResponseFrame = hex("03 00 00 16 02 f0 80 0a 0d c1 0b 61 09 30 07 02 01 01 a0 02 63 00");
// A user abort from the second reference capture.
const Bytes kAbortFrame = hex(
    "03 00 00 1e 02 f0 80 19 15 11 01 0b c1 10 a0 0e 61 0c 30 0a 02 01 01 a0 05 64 03 80 01 00");

Event only(const std::vector<Event>& ev) {
    EXPECT_EQ(ev.size(), 1u);
    return ev.empty() ? Event{EventKind::ProtocolError, {}, "no event"} : ev[0];
}

// Runs the reference exchange through both of our state machines with the
// IEC 61850 defaults; every frame either side sends equals the reference.
class ReferenceSession : public ::testing::Test {
protected:
    ClientAssociation client{ClientConfig{}};
    ServerAssociation server{ServerConfig{}};

    void associate() {
        ASSERT_TRUE(client.connect(kInitiateRequest).ok());
        ASSERT_EQ(toHex(client.takeOutput()), toHex(kCr));
        EXPECT_TRUE(server.onBytes(kCr).empty());
        ASSERT_EQ(toHex(server.takeOutput()), toHex(kCc));
        EXPECT_TRUE(client.onBytes(kCc).empty());
        ASSERT_EQ(toHex(client.takeOutput()), toHex(kAarqFrame));
        Event ind = only(server.onBytes(kAarqFrame));
        ASSERT_EQ(ind.kind, EventKind::AssociateIndication) << ind.reason;
        EXPECT_EQ(ind.data, kInitiateRequest);
        ASSERT_TRUE(server.accept(kInitiateResponse).ok());
        ASSERT_EQ(toHex(server.takeOutput()), toHex(kAareFrame));
        Event conf = only(client.onBytes(kAareFrame));
        ASSERT_EQ(conf.kind, EventKind::AssociateConfirm) << conf.reason;
        EXPECT_EQ(conf.data, kInitiateResponse);
    }
};

TEST_F(ReferenceSession, AssociationFramesMatchByteForByte) {
    associate();
    EXPECT_EQ(client.state(), AssociationState::Associated);
    EXPECT_EQ(server.state(), AssociationState::Associated);
    EXPECT_EQ(client.tpduSize(), 8192u);
    EXPECT_EQ(server.tpduSize(), 8192u);
}

TEST_F(ReferenceSession, ServerKeepsWhatTheReferenceClientProposed) {
    associate();
    const AssociateRequest& r = server.request();
    EXPECT_EQ(r.callingTsap, hex("00 01"));
    EXPECT_EQ(r.calledSsel, hex("00 01"));
    EXPECT_EQ(r.calledPsel, hex("00 00 00 01"));
    EXPECT_EQ(r.calling.apTitle->text(), "1.1.1.999");
    EXPECT_EQ(r.called.apTitle->text(), "1.1.1.999.1");
    EXPECT_EQ(r.calling.aeQualifier, std::optional<int64_t>(12));
    EXPECT_FALSE(r.password);
}

TEST_F(ReferenceSession, DataFramesMatchByteForByte) {
    associate();
    ASSERT_TRUE(client.sendData(kIdentifyRequest).ok());
    EXPECT_EQ(toHex(client.takeOutput()), toHex(kIdentifyFrame));
    Event d = only(server.onBytes(kIdentifyFrame));
    EXPECT_EQ(d.kind, EventKind::Data);
    EXPECT_EQ(d.data, kIdentifyRequest);

    ASSERT_TRUE(client.sendData(hex("8b 00")).ok());
    EXPECT_EQ(toHex(client.takeOutput()), toHex(kConcludeRequestFrame));
    ASSERT_TRUE(server.sendData(hex("8c 00")).ok());
    EXPECT_EQ(toHex(server.takeOutput()), toHex(kConcludeResponseFrame));
    Event c = only(client.onBytes(kConcludeResponseFrame));
    EXPECT_EQ(c.kind, EventKind::Data);
    EXPECT_EQ(c.data, hex("8c 00"));
}

TEST_F(ReferenceSession, ReleaseFramesMatchByteForByte) {
    associate();
    ASSERT_TRUE(client.release().ok());
    EXPECT_EQ(toHex(client.takeOutput()), toHex(kReleaseRequestFrame));
    Event ind = only(server.onBytes(kReleaseRequestFrame));
    EXPECT_EQ(ind.kind, EventKind::ReleaseIndication) << ind.reason;
    EXPECT_EQ(toHex(server.takeOutput()), toHex(kReleaseResponseFrame));
    EXPECT_TRUE(server.wantsClose());
    Event conf = only(client.onBytes(kReleaseResponseFrame));
    EXPECT_EQ(conf.kind, EventKind::ReleaseConfirm) << conf.reason;
    EXPECT_TRUE(client.wantsClose());
}

TEST_F(ReferenceSession, UserAbortFrameMatchesAndIsUnderstood) {
    associate();
    client.abort();
    EXPECT_EQ(toHex(client.takeOutput()), toHex(kAbortFrame));
    EXPECT_TRUE(client.wantsClose());
    Event ab = only(server.onBytes(kAbortFrame));
    EXPECT_EQ(ab.kind, EventKind::Aborted);
    EXPECT_NE(ab.reason.find("ABRT source service-user"), std::string::npos) << ab.reason;
}

// The reference frames fed in odd chunks still yield the same events.
TEST_F(ReferenceSession, ServerAcceptsAarqFrameSplitAcrossReads) {
    EXPECT_TRUE(server.onBytes(kCr).empty());
    server.takeOutput();
    std::vector<Event> ev;
    for (std::size_t i = 0; i < kAarqFrame.size(); i += 7) {
        const std::size_t n = std::min<std::size_t>(7, kAarqFrame.size() - i);
        for (Event& e : server.onBytes(ByteView(kAarqFrame.data() + i, n))) ev.push_back(std::move(e));
    }
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, EventKind::AssociateIndication);
    EXPECT_EQ(ev[0].data, kInitiateRequest);
}

}  // namespace
}  // namespace zv::iso
