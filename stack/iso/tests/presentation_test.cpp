#include "iso/presentation.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace zv::iso {
namespace {

using test::hex;

// CP-type of the reference AARQ frame with the ACSE APDU replaced by a
// placeholder value 05 00 (NULL); only the enclosing lengths differ.
const char* kRefCpShape =
    "31 43 a0 03 80 01 01 a2 3c 81 04 00 00 00 01 82 04 00 00 00 01 a4 23 30 0f 02 01 01 06 04 52 01 00 01 30 04 "
    "06 02 51 01 30 10 02 01 03 06 05 28 ca 22 02 01 30 04 06 02 51 01 61 09 30 07 02 01 01 a0 02 05 00";

ConnectPpdu referenceCp(const Bytes& acse) {
    ConnectPpdu cp;
    cp.callingPsel = hex("00 00 00 01");
    cp.calledPsel = hex("00 00 00 01");
    cp.contexts.push_back(PresentationContext{kAcseContextId, acseAbstractSyntax(), {berTransferSyntax()}});
    cp.contexts.push_back(PresentationContext{kMmsContextId, mmsAbstractSyntax(), {berTransferSyntax()}});
    cp.userData.push_back(Pdv{kAcseContextId, acse});
    return cp;
}

TEST(Presentation, ConnectEncodesLikeTheReferenceAndRoundTrips) {
    const Bytes acse = hex("05 00");
    Bytes out;
    ASSERT_TRUE(presentationAppendConnect(out, referenceCp(acse)).ok());
    const Bytes expected = hex(kRefCpShape);
    EXPECT_EQ(test::toHex(out), test::toHex(expected));
    auto cp = presentationDecodeConnect(out);
    ASSERT_TRUE(cp.ok()) << cp.error().reason;
    EXPECT_EQ(cp->callingPsel, hex("00 00 00 01"));
    ASSERT_EQ(cp->contexts.size(), 2u);
    EXPECT_EQ(cp->contexts[1].id, 3);
    EXPECT_EQ(cp->contexts[1].abstractSyntax.text(), "1.0.9506.2.1");
    EXPECT_EQ(cp->contexts[0].transferSyntaxes[0].text(), "2.1.1");
    ASSERT_EQ(cp->userData.size(), 1u);
    EXPECT_EQ(cp->userData[0].data.toVector(), acse);
}

TEST(Presentation, AcceptRoundTripsResultsAndUserData) {
    AcceptPpdu cpa;
    cpa.respondingPsel = hex("00 00 00 01");
    cpa.results.push_back(ContextResult{kCtxAcceptance, berTransferSyntax(), std::nullopt});
    cpa.results.push_back(ContextResult{kCtxProviderRejection, std::nullopt, kCtxAbstractSyntaxNotSupported});
    const Bytes aare = hex("61 00");
    cpa.userData.push_back(Pdv{1, aare});
    Bytes out;
    ASSERT_TRUE(presentationAppendAccept(out, cpa).ok());
    auto d = presentationDecodeAccept(out);
    ASSERT_TRUE(d.ok()) << d.error().reason;
    EXPECT_EQ(d->respondingPsel, cpa.respondingPsel);
    ASSERT_EQ(d->results.size(), 2u);
    EXPECT_EQ(d->results[0].transferSyntax, std::optional<ber::Oid>(berTransferSyntax()));
    EXPECT_EQ(d->results[1].result, kCtxProviderRejection);
    EXPECT_EQ(d->results[1].providerReason, std::optional<int64_t>(kCtxAbstractSyntaxNotSupported));
    EXPECT_EQ(d->userData[0].data.toVector(), aare);
}

TEST(Presentation, RefuseRoundTripsProviderReason) {
    RefusePpdu cpr;
    cpr.providerReason = kPrLocalLimitExceeded;
    Bytes out;
    ASSERT_TRUE(presentationAppendRefuse(out, cpr).ok());
    auto d = presentationDecodeRefuse(out);
    ASSERT_TRUE(d.ok()) << d.error().reason;
    EXPECT_EQ(d->providerReason, std::optional<int64_t>(kPrLocalLimitExceeded));
    EXPECT_TRUE(d->userData.empty());
}

// The header written in front of a PDU that is not copied matches the
// general encoder at every length form of each field.
TEST(Presentation, UserDataHeaderMatchesTheEncoderAtEveryLengthForm) {
    for (int64_t ctx : {int64_t(1), int64_t(3), int64_t(127), int64_t(128), int64_t(300)}) {
        for (std::size_t size : {0u, 1u, 117u, 118u, 127u, 128u, 245u, 255u, 256u, 65535u, 65536u}) {
            Bytes data(size);
            for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i);
            Bytes general;
            presentationAppendUserData(general, std::vector<Pdv>{Pdv{ctx, data}});
            uint8_t head[kMaxUserDataHeaderSize];
            const std::size_t n = presentationUserDataHeader(head, ctx, size);
            Bytes framed(head, head + n);
            framed.insert(framed.end(), data.begin(), data.end());
            EXPECT_EQ(framed, general) << "context " << ctx << ", " << size << " octets";
            Bytes single;
            presentationAppendUserData(single, ctx, data);
            EXPECT_EQ(single, general) << "context " << ctx << ", " << size << " octets";
        }
    }
}

TEST(Presentation, UserDataCarriesSeveralValuesAndOctetAligned) {
    const Bytes a = hex("8b 00"), b = hex("8c 00");
    Bytes out;
    presentationAppendUserData(out, {Pdv{3, a}, Pdv{3, b}});
    auto d = presentationDecodeUserData(out);
    ASSERT_TRUE(d.ok());
    ASSERT_EQ(d->size(), 2u);
    EXPECT_EQ((*d)[1].data.toVector(), b);
    // octet-aligned [1] with an explicit transfer syntax name.
    const Bytes oa = hex("61 0d 30 0b 06 02 51 01 02 01 03 81 02 8b 00");
    auto o = presentationDecodeUserData(oa);
    ASSERT_TRUE(o.ok()) << o.error().reason;
    EXPECT_EQ((*o)[0].data.toVector(), a);
}

TEST(Presentation, AbortUserAndProviderRoundTrip) {
    AbortPpdu aru;
    const Bytes abrt = hex("64 03 80 01 00");
    aru.userData.push_back(Pdv{1, abrt});
    Bytes out;
    presentationAppendAbort(out, aru);
    EXPECT_EQ(out, hex("a0 0e 61 0c 30 0a 02 01 01 a0 05 64 03 80 01 00"));
    auto d = presentationDecodeAbort(out);
    ASSERT_TRUE(d.ok());
    EXPECT_TRUE(d->userAbort);
    EXPECT_EQ(d->userData[0].data.toVector(), abrt);

    AbortPpdu arp;
    arp.userAbort = false;
    arp.providerReason = 1;
    arp.eventIdentifier = 7;
    Bytes p;
    presentationAppendAbort(p, arp);
    auto dp = presentationDecodeAbort(p);
    ASSERT_TRUE(dp.ok());
    EXPECT_FALSE(dp->userAbort);
    EXPECT_EQ(dp->providerReason, std::optional<int64_t>(1));
    EXPECT_EQ(dp->eventIdentifier, std::optional<int64_t>(7));
}

TEST(Presentation, ContextListOfExactlyTheLimitIsAcceptedOneMoreIsNot) {
    ConnectPpdu cp;
    for (std::size_t i = 0; i < kMaxPresentationContexts; ++i)
        cp.contexts.push_back(PresentationContext{int64_t(2 * i + 1), mmsAbstractSyntax(), {berTransferSyntax()}});
    Bytes at;
    ASSERT_TRUE(presentationAppendConnect(at, cp).ok());
    EXPECT_TRUE(presentationDecodeConnect(at).ok());
    cp.contexts.push_back(PresentationContext{99, mmsAbstractSyntax(), {berTransferSyntax()}});
    Bytes over;
    ASSERT_TRUE(presentationAppendConnect(over, cp).ok());
    auto d = presentationDecodeConnect(over);
    ASSERT_FALSE(d.ok());
    EXPECT_NE(d.error().reason.find("more than 16 presentation contexts"), std::string::npos) << d.error().reason;
}

TEST(Presentation, PdvCountOfExactlyTheLimitIsAcceptedOneMoreIsNot) {
    const Bytes v = hex("05 00");
    std::vector<Pdv> pdvs(kMaxPdvs, Pdv{3, v});
    Bytes at;
    presentationAppendUserData(at, pdvs);
    EXPECT_TRUE(presentationDecodeUserData(at).ok());
    pdvs.push_back(Pdv{3, v});
    Bytes over;
    presentationAppendUserData(over, pdvs);
    EXPECT_FALSE(presentationDecodeUserData(over).ok());
}

TEST(Presentation, EncoderRefusesSelectorBeyondLimit) {
    ConnectPpdu cp;
    cp.callingPsel = Bytes(kMaxPselLength + 1, 1);
    Bytes out;
    EXPECT_FALSE(presentationAppendConnect(out, cp).ok());
}

struct BadPpduRow {
    const char* name;
    Result<int> (*decode)(ByteView);
    const char* bytes;
    const char* reason;
};
void PrintTo(const BadPpduRow& row, std::ostream* os) { *os << row.name; }

template <class F>
Result<int> status(F&& r) {
    if (!r.ok()) return r.error();
    return 0;
}
Result<int> cp(ByteView b) { return status(presentationDecodeConnect(b)); }
Result<int> cpa(ByteView b) { return status(presentationDecodeAccept(b)); }
Result<int> ud(ByteView b) { return status(presentationDecodeUserData(b)); }
Result<int> ab(ByteView b) { return status(presentationDecodeAbort(b)); }

class PresentationRejects : public ::testing::TestWithParam<BadPpduRow> {};

TEST_P(PresentationRejects, WithPreciseReason) {
    const Bytes in = hex(GetParam().bytes);
    auto r = GetParam().decode(in);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().reason.find(GetParam().reason), std::string::npos) << r.error().reason;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PresentationRejects,
    ::testing::Values(
        BadPpduRow{"ConnectEmpty", cp, "", "presentation CP"},
        BadPpduRow{"ConnectTruncated", cp, "31 10 a0 03 80 01 01", "exceeds"},
        BadPpduRow{"ConnectX410Mode", cp, "31 05 a0 03 80 01 00", "mode 0, only normal mode"},
        BadPpduRow{"ConnectWithoutNormalModeParameters", cp, "31 05 a0 03 80 01 01", "normal-mode parameters missing"},
        BadPpduRow{"ConnectWithoutContextList", cp, "31 09 a0 03 80 01 01 a2 02 81 00", "definition list missing"},
        BadPpduRow{"ConnectEvenContextId", cp, "31 15 a0 03 80 01 01 a2 0e a4 0c 30 0a 02 01 02 06 01 28 30 02 06 00",
                   "identifier 2 is not"},
        BadPpduRow{"ConnectDuplicateContextId", cp,
                   "31 23 a0 03 80 01 01 a2 1c a4 1a 30 0b 02 01 01 06 01 28 30 03 06 01 28 "
                   "30 0b 02 01 01 06 01 28 30 03 06 01 28",
                   "identifier 1 given twice"},
        BadPpduRow{"ConnectContextWithoutTransferSyntax", cp,
                   "31 13 a0 03 80 01 01 a2 0c a4 0a 30 08 02 01 01 06 01 28 30 00", "names no transfer syntax"},
        BadPpduRow{"ConnectSelectorBeyondLimit", cp,
                   "31 1a a0 03 80 01 01 a2 13 81 11 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                   "17 octets exceeds 16"},
        BadPpduRow{"ConnectTrailingBytes", cp, "31 03 a0 01 80 00", "trailing"},
        BadPpduRow{"AcceptResultOutOfRange", cpa, "31 0e a0 03 80 01 01 a2 07 a5 05 30 03 80 01 05",
                   "context result 5 outside 0..2"},
        BadPpduRow{"UserDataSimplyEncoded", ud, "40 02 8b 00", "simply encoded"},
        BadPpduRow{"UserDataEmptyList", ud, "61 00", "without a PDV list"},
        BadPpduRow{"UserDataArbitraryEncoding", ud, "61 08 30 06 02 01 03 82 01 00", "expected single-ASN1-type"},
        BadPpduRow{"UserDataTwoValuesInSingleAsn1Type", ud, "61 0b 30 09 02 01 03 a0 04 05 00 05 00", "trailing"},
        BadPpduRow{"UserDataForeignTransferSyntax", ud, "61 0d 30 0b 06 02 51 02 02 01 03 a0 02 05 00",
                   "transfer syntax 2.1.2 is not BER"},
        BadPpduRow{"UserDataLengthBeyondBuffer", ud, "61 84 7f ff ff ff 30", "exceeds"},
        BadPpduRow{"AbortNeitherUserNorProvider", ab, "05 00", "neither ARU-PPDU nor ARP-PPDU"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zv::iso
