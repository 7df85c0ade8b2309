#include "iso/acse.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace zv::iso {
namespace {

using test::hex;

// The AARQ and AARE of the reference session.
const char* kRefAarq =
    "60 55 a1 07 06 05 28 ca 22 02 03 a2 07 06 05 29 01 87 67 01 a3 03 02 01 0c a6 06 06 04 29 01 87 67 a7 03 02 "
    "01 0c be 2f 28 2d 02 01 03 a0 28 a8 26 80 03 00 fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 "
    "00 82 0c 03 ee 1c 00 00 04 08 00 00 79 ef 18";
const char* kRefAare =
    "61 46 a1 07 06 05 28 ca 22 02 03 a2 03 02 01 00 a3 05 a1 03 02 01 00 be 2f 28 2d 02 01 03 a0 28 a9 26 80 03 "
    "00 fd e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 00 02 00 00 40 ed 18";

TEST(Acse, DecodesReferenceAarqAndReencodesItExactly) {
    const Bytes in = hex(kRefAarq);
    auto a = acseDecodeAarq(in);
    ASSERT_TRUE(a.ok()) << a.error().reason;
    EXPECT_EQ(a->applicationContext.text(), "1.0.9506.2.3");
    EXPECT_EQ(a->called.apTitle->text(), "1.1.1.999.1");
    EXPECT_EQ(a->calling.apTitle->text(), "1.1.1.999");
    EXPECT_EQ(a->called.aeQualifier, std::optional<int64_t>(12));
    ASSERT_EQ(a->userInformation.size(), 1u);
    EXPECT_EQ(a->userInformation[0].indirectReference, std::optional<int64_t>(3));
    EXPECT_EQ(a->userInformation[0].data[0], 0xa8);
    Bytes out;
    acseAppendAarq(out, *a);
    EXPECT_EQ(test::toHex(out), test::toHex(in));
}

TEST(Acse, DecodesReferenceAareAndReencodesItExactly) {
    const Bytes in = hex(kRefAare);
    auto a = acseDecodeAare(in);
    ASSERT_TRUE(a.ok()) << a.error().reason;
    EXPECT_EQ(a->result, kAccepted);
    EXPECT_EQ(a->diagnosticSource, kDiagUser);
    EXPECT_EQ(a->diagnostic, kDiagNull);
    Bytes out;
    acseAppendAare(out, *a);
    EXPECT_EQ(test::toHex(out), test::toHex(in));
}

TEST(Acse, PasswordAuthenticationRoundTrips) {
    Aarq a;
    a.applicationContext = mmsApplicationContext();
    a.password = "pw";
    Bytes out;
    acseAppendAarq(out, a);
    // sender-acse-requirements (authentication), mechanism 2.2.3.1, charstring.
    EXPECT_NE(test::toHex(out).find("8a 02 07 80 8b 03 52 03 01 ac 04 80 02 70 77"), std::string::npos)
        << test::toHex(out);
    auto d = acseDecodeAarq(out);
    ASSERT_TRUE(d.ok()) << d.error().reason;
    EXPECT_EQ(d->password, std::optional<std::string>("pw"));
    EXPECT_EQ(d->mechanism, std::optional<ber::Oid>(passwordMechanism()));
}

// The reference AARQ with ACSE password authentication (ISO 8650-1
// authentication functional unit): sender-acse-requirements with the
// authentication bit, mechanism 2.2.3.1, the password as charstring, between
// the calling AE qualifier and the user information.
TEST(Acse, AarqWithPasswordEncodesExactly) {
    const Bytes ref = hex(kRefAarq);  // the decoded user information views it
    auto a = acseDecodeAarq(ref);
    ASSERT_TRUE(a.ok()) << a.error().reason;
    a->password = "secret";
    Bytes out;
    acseAppendAarq(out, *a);
    const std::string expected =
        "60 68 a1 07 06 05 28 ca 22 02 03 a2 07 06 05 29 01 87 67 01 a3 03 02 01 0c a6 06 06 04 29 01 87 67 a7 03 02 "
        "01 0c 8a 02 07 80 8b 03 52 03 01 ac 08 80 06 73 65 63 72 65 74 be 2f 28 2d 02 01 03 a0 28 a8 26 80 03 00 fd "
        "e8 81 01 05 82 01 05 83 01 0a a4 16 80 01 01 81 03 05 f1 00 82 0c 03 ee 1c 00 00 04 08 00 00 79 ef 18";
    EXPECT_EQ(test::toHex(out), test::toHex(hex(expected)));
    auto d = acseDecodeAarq(out);
    ASSERT_TRUE(d.ok()) << d.error().reason;
    EXPECT_EQ(d->password, std::optional<std::string>("secret"));
    EXPECT_TRUE(d->calling == a->calling);
}

// What a device answers a wrong password with, and what it names.
TEST(Acse, AareRejectingAuthenticationEncodesExactlyAndIsNamed) {
    Aare a;
    a.applicationContext = mmsApplicationContext();
    a.result = kRejectedPermanent;
    a.diagnostic = kDiagAuthenticationFailure;
    a.responding.apTitle = ber::Oid{{1, 1, 1, 999, 1}};
    a.responding.aeQualifier = 12;
    Bytes out;
    acseAppendAare(out, a);
    EXPECT_EQ(test::toHex(out), test::toHex(hex("61 23 a1 07 06 05 28 ca 22 02 03 a2 03 02 01 01 a3 05 a1 03 02 01 0d "
                                                "a4 07 06 05 29 01 87 67 01 a5 03 02 01 0c")));
    auto d = acseDecodeAare(out);
    ASSERT_TRUE(d.ok()) << d.error().reason;
    EXPECT_EQ(acseResultText(d->result, d->diagnosticSource, d->diagnostic),
              "rejected-permanent, authentication-failure");
}

TEST(Acse, AareRejectionWithProviderDiagnosticRoundTrips) {
    Aare a;
    a.applicationContext = mmsApplicationContext();
    a.result = kRejectedTransient;
    a.diagnosticSource = kDiagProvider;
    a.diagnostic = 2;
    a.responding.apTitle = ber::Oid{{1, 1, 1, 999, 1}};
    a.responding.aeQualifier = 12;
    Bytes out;
    acseAppendAare(out, a);
    auto d = acseDecodeAare(out);
    ASSERT_TRUE(d.ok()) << d.error().reason;
    EXPECT_EQ(d->result, kRejectedTransient);
    EXPECT_EQ(d->diagnosticSource, kDiagProvider);
    EXPECT_TRUE(d->responding == a.responding);
    EXPECT_EQ(acseResultText(d->result, d->diagnosticSource, d->diagnostic),
              "rejected-transient, service-provider no-common-acse-version");
}

TEST(Acse, ReleaseAndAbortMatchTheReference) {
    Bytes rlrq, rlre, abrt;
    acseAppendRlrq(rlrq, Rlrq{kReleaseNormal, {}});
    acseAppendRlre(rlre, Rlre{});
    acseAppendAbrt(abrt, Abrt{kAbortUser, std::nullopt, {}});
    EXPECT_EQ(rlrq, hex("62 03 80 01 00"));
    EXPECT_EQ(rlre, hex("63 00"));
    EXPECT_EQ(abrt, hex("64 03 80 01 00"));
    EXPECT_EQ(acseDecodeRlrq(rlrq)->reason, std::optional<int64_t>(0));
    EXPECT_FALSE(acseDecodeRlre(rlre)->reason);
    EXPECT_EQ(acseDecodeAbrt(abrt)->source, kAbortUser);
    EXPECT_EQ(*acsePeek(abrt), AcseKind::Abrt);
}

TEST(Acse, FormOneApTitleIsSkippedNotRejected) {
    // called-AP-title as a Name (form 1): an empty RDNSequence.
    const Bytes in = hex("60 0d a1 07 06 05 28 ca 22 02 03 a2 02 30 00");
    auto a = acseDecodeAarq(in);
    ASSERT_TRUE(a.ok()) << a.error().reason;
    EXPECT_FALSE(a->called.apTitle);
}

TEST(Acse, UserInformationOfExactlyTheLimitIsAcceptedOneMoreIsNot) {
    Rlrq r;
    const Bytes v = hex("05 00");
    for (std::size_t i = 0; i < kMaxExternals; ++i) r.userInformation.push_back(External{3, std::nullopt, v});
    Bytes at;
    acseAppendRlrq(at, r);
    EXPECT_TRUE(acseDecodeRlrq(at).ok());
    r.userInformation.push_back(External{3, std::nullopt, v});
    Bytes over;
    acseAppendRlrq(over, r);
    auto d = acseDecodeRlrq(over);
    ASSERT_FALSE(d.ok());
    EXPECT_NE(d.error().reason.find("more than 4 EXTERNALs"), std::string::npos) << d.error().reason;
}

struct BadApduRow {
    const char* name;
    Result<int> (*decode)(ByteView);
    const char* bytes;
    const char* reason;
};
void PrintTo(const BadApduRow& row, std::ostream* os) { *os << row.name; }
template <class R>
Result<int> status(R&& r) {
    if (!r.ok()) return r.error();
    return 0;
}
Result<int> aarq(ByteView b) { return status(acseDecodeAarq(b)); }
Result<int> aare(ByteView b) { return status(acseDecodeAare(b)); }
Result<int> rlrq(ByteView b) { return status(acseDecodeRlrq(b)); }
Result<int> abrt(ByteView b) { return status(acseDecodeAbrt(b)); }
Result<int> peek(ByteView b) { return status(acsePeek(b)); }

class AcseRejects : public ::testing::TestWithParam<BadApduRow> {};

TEST_P(AcseRejects, WithPreciseReason) {
    const Bytes in = hex(GetParam().bytes);
    auto r = GetParam().decode(in);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().reason.find(GetParam().reason), std::string::npos) << r.error().reason;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AcseRejects,
    ::testing::Values(BadApduRow{"AarqWithoutApplicationContext", aarq, "60 00", "application context name missing"},
                      BadApduRow{"AarqTruncated", aarq, "60 55 a1 07 06 05 28 ca 22", "ACSE AARQ"},
                      BadApduRow{"AarqIsReallyAare", aarq, "61 00", "expected [application 0 constructed]"},
                      BadApduRow{"AarqWithoutVersionOne", aarq, "60 0d 80 02 07 00 a1 07 06 05 28 ca 22 02 03",
                                 "does not include version 1"},
                      BadApduRow{"AarqUnknownField", aarq, "60 0c a1 07 06 05 28 ca 22 02 03 9f 20 00", "unexpected"},
                      BadApduRow{"AarqExternalArbitrary", aarq,
                                 "60 13 a1 07 06 05 28 ca 22 02 03 be 08 28 06 02 01 03 82 01 00", "EXTERNAL encoding"},
                      BadApduRow{"AarqExternalTwoValues", aarq,
                                 "60 16 a1 07 06 05 28 ca 22 02 03 be 0b 28 09 02 01 03 a0 04 05 00 05 00", "trailing"},
                      BadApduRow{"AarqPasswordNotCharstring", aarq,
                                 "60 0f a1 07 06 05 28 ca 22 02 03 ac 04 81 02 70 77", "expected charstring"},
                      BadApduRow{"AareWithoutResult", aare, "61 10 a1 07 06 05 28 ca 22 02 03 a3 05 a1 03 02 01 00",
                                 "result missing"},
                      BadApduRow{"AareWithoutDiagnostic", aare, "61 0e a1 07 06 05 28 ca 22 02 03 a2 03 02 01 00",
                                 "result-source-diagnostic missing"},
                      BadApduRow{"AareResultOutOfRange", aare,
                                 "61 15 a1 07 06 05 28 ca 22 02 03 a2 03 02 01 03 a3 05 a1 03 02 01 00",
                                 "result 3 outside 0..2"},
                      BadApduRow{"AareDiagnosticBadChoice", aare,
                                 "61 15 a1 07 06 05 28 ca 22 02 03 a2 03 02 01 00 a3 05 a3 03 02 01 00",
                                 "expected service-user [1] or service-provider [2]"},
                      BadApduRow{"RlrqReasonConstructed", rlrq, "62 02 a0 00", "unexpected"},
                      BadApduRow{"AbrtWithoutSource", abrt, "64 00", "abort-source missing"},
                      BadApduRow{"PeekUniversalTag", peek, "30 00", "is not an ACSE APDU"},
                      BadApduRow{"PeekApplicationFive", peek, "65 00", "is not an ACSE APDU"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Acse, PasswordOfExactlyTheLimitIsAcceptedOneMoreIsNot) {
    Aarq a;
    a.applicationContext = mmsApplicationContext();
    a.password = std::string(kMaxPasswordLength, 'p');
    Bytes at;
    acseAppendAarq(at, a);
    EXPECT_TRUE(acseDecodeAarq(at).ok());
    a.password->push_back('p');
    Bytes over;
    acseAppendAarq(over, a);
    EXPECT_FALSE(acseDecodeAarq(over).ok());
}

}  // namespace
}  // namespace zv::iso
