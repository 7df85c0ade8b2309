// MMS PDUs taken byte for byte from a session between an independent client
// and server: each decodes and re-encodes to the same bytes, and the decoded
// structures carry what the capture's dissection shows.
#include "mms/pdu.h"
#include "zvt/bytes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

using namespace zv::mms;
using zvt::hex;
using zvt::toHex;

namespace {

struct RefPdu {
    std::string name;
    std::vector<uint8_t> bytes;
};

void PrintTo(const RefPdu& r, std::ostream* os) { *os << r.name; }

std::vector<RefPdu> loadReference() {
    std::vector<RefPdu> rows;
    std::ifstream in(ZV_PROTO_DATA_DIR "/reference_mms.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        RefPdu r;
        std::string h;
        ls >> r.name >> h;
        r.bytes = hex(h);
        for (char& c : r.name)
            if (c == '-') c = '_';
        rows.push_back(std::move(r));
    }
    return rows;
}

const std::map<std::string, std::vector<uint8_t>>& reference() {
    static const auto m = [] {
        std::map<std::string, std::vector<uint8_t>> out;
        for (auto& r : loadReference()) out[r.name] = r.bytes;
        return out;
    }();
    return m;
}

// Decoded once and kept, so that tests may hold references into it.
const Pdu& decodeRef(const std::string& name) {
    static std::map<std::string, Pdu> cache;
    static const Pdu none = ConcludeRequest{};
    if (auto c = cache.find(name); c != cache.end()) return c->second;
    auto it = reference().find(name);
    if (it == reference().end()) {
        ADD_FAILURE() << "no reference PDU " << name;
        return none;
    }
    auto r = decode(it->second);
    if (!r) {
        ADD_FAILURE() << name << ": " << r.error().text();
        return none;
    }
    return cache.emplace(name, std::move(*r)).first->second;
}

template <class S, class P>
const S& service(const Pdu& pdu) {
    static const S empty{};
    auto* p = std::get_if<P>(&pdu);
    if (!p) {
        ADD_FAILURE() << "unexpected PDU " << describe(pdu);
        return empty;
    }
    auto* s = std::get_if<S>(&p->service);
    if (!s) {
        ADD_FAILURE() << "unexpected service in " << describe(pdu);
        return empty;
    }
    return *s;
}
template <class S>
const S& request(const Pdu& pdu) {
    return service<S, ConfirmedRequest>(pdu);
}
template <class S>
const S& response(const Pdu& pdu) {
    return service<S, ConfirmedResponse>(pdu);
}

class ReferencePdu : public ::testing::TestWithParam<RefPdu> {};

TEST_P(ReferencePdu, DecodesAndReencodesToSameBytes) {
    auto pdu = decode(GetParam().bytes);
    ASSERT_TRUE(pdu.ok()) << pdu.error().text();
    EXPECT_EQ(toHex(encode(*pdu)), toHex(GetParam().bytes)) << describe(*pdu);
}

INSTANTIATE_TEST_SUITE_P(Capture, ReferencePdu, ::testing::ValuesIn(loadReference()),
                         [](const auto& info) { return info.param.name; });

TEST(ReferenceSession, CaptureFileHoldsAllExchanges) {
    EXPECT_EQ(reference().size(), 50u);  // guards against a silently empty parameter table
}

TEST(ReferenceSession, InitiateRequestCarriesNegotiationParameters) {
    const Pdu& pdu = decodeRef("session_8");
    auto* q = std::get_if<InitiateRequest>(&pdu);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->localDetail, 65000);
    EXPECT_EQ(q->maxOutstandingCalling, 5);
    EXPECT_EQ(q->maxOutstandingCalled, 5);
    EXPECT_EQ(q->nestingLevel, 10);
    EXPECT_EQ(q->version, 1);
    EXPECT_EQ(q->parameterCbb.toText(), "11110001000");
    EXPECT_EQ(q->servicesSupported.bitCount, svc::kCount);
    for (auto bit : {svc::kGetNameList, svc::kIdentify, svc::kRead, svc::kWrite, svc::kGetVariableAccessAttributes,
                     svc::kGetNamedVariableListAttributes, svc::kFileOpen, svc::kFileRead, svc::kFileClose,
                     svc::kFileDelete, svc::kFileDirectory, svc::kInformationReport, svc::kConclude})
        EXPECT_TRUE(q->servicesSupported.test(bit)) << bit;
    EXPECT_FALSE(q->servicesSupported.test(svc::kObtainFile));
    // Our defaults offer what the reference client offers for the services we model.
    const InitiateParams ours = iec61850InitiateParams();
    EXPECT_EQ(ours.parameterCbb, q->parameterCbb);
    for (std::size_t bit : {svc::kGetNameList, svc::kIdentify, svc::kRead, svc::kWrite, svc::kFileDirectory,
                            svc::kInformationReport, svc::kConclude})
        EXPECT_TRUE(ours.servicesSupported.test(bit)) << bit;
    EXPECT_TRUE(std::holds_alternative<InitiateResponse>(decodeRef("session_9")));
}

TEST(ReferenceSession, IdentifyResponseNamesVendorModelRevision) {
    EXPECT_TRUE(std::holds_alternative<IdentifyRequest>(std::get<ConfirmedRequest>(decodeRef("session_10")).service));
    const auto& id = response<IdentifyResponse>(decodeRef("session_11"));
    EXPECT_EQ(id.vendor, "libiec61850.com");
    EXPECT_EQ(id.model, "LIBIEC61850");
    EXPECT_EQ(id.revision, "1.5.3");
}

TEST(ReferenceSession, GetNameListRequestsAndResponse) {
    const auto& domains = request<GetNameListRequest>(decodeRef("session_12"));
    EXPECT_EQ(domains.objectClass, kDomain);
    EXPECT_EQ(domains.scope, ObjectName::Scope::Vmd);
    EXPECT_FALSE(domains.continueAfter);
    const auto& list = response<GetNameListResponse>(decodeRef("session_13"));
    EXPECT_EQ(list.identifiers, std::vector<std::string>{"simpleIOGenericIO"});
    EXPECT_FALSE(list.moreFollows);
    const auto& vars = request<GetNameListRequest>(decodeRef("session_14"));
    EXPECT_EQ(vars.objectClass, kNamedVariable);
    EXPECT_EQ(vars.scope, ObjectName::Scope::Domain);
    EXPECT_EQ(vars.domain, "simpleIOGenericIO");
    const Pdu& big = decodeRef("session_15");
    const auto& names = response<GetNameListResponse>(big);
    ASSERT_FALSE(names.identifiers.empty());
    EXPECT_EQ(names.identifiers.front(), "GGIO1");
    EXPECT_EQ(std::get<ConfirmedResponse>(big).invokeId, 3u);
}

TEST(ReferenceSession, ReadOfOneVariableAndItsFloatResult) {
    const Pdu& q = decodeRef("session_16");
    EXPECT_EQ(std::get<ConfirmedRequest>(q).invokeId, 4u);
    const auto& read = request<ReadRequest>(q);
    EXPECT_FALSE(read.specWithResult);
    ASSERT_FALSE(read.access.isListName);
    ASSERT_EQ(read.access.variables.size(), 1u);
    EXPECT_EQ(read.access.variables[0].name, ObjectName::dom("simpleIOGenericIO", "GGIO1$MX$AnIn1$mag$f"));
    const auto& res = response<ReadResponse>(decodeRef("session_17"));
    ASSERT_EQ(res.results.size(), 1u);
    ASSERT_TRUE(res.results[0].success);
    EXPECT_EQ(res.results[0].data, Data::float32(0.0f));
}

TEST(ReferenceSession, NamedVariableListAttributesListMembers) {
    EXPECT_EQ(request<GetNamedVariableListAttributesRequest>(decodeRef("session_18")).name,
              ObjectName::dom("simpleIOGenericIO", "LLN0$Events"));
    const auto& a = response<GetNamedVariableListAttributesResponse>(decodeRef("session_19"));
    EXPECT_FALSE(a.mmsDeletable);
    ASSERT_EQ(a.variables.size(), 4u);
    EXPECT_EQ(a.variables[3].name, ObjectName::dom("simpleIOGenericIO", "GGIO1$ST$SPCSO4$stVal"));
}

TEST(ReferenceSession, ReportControlBlockReadReturnsStructure) {
    const auto& res = response<ReadResponse>(decodeRef("session_21"));
    ASSERT_EQ(res.results.size(), 1u);
    const Data& rcb = res.results[0].data;
    ASSERT_EQ(rcb.kind(), Data::Kind::Structure);
    ASSERT_GE(rcb.items().size(), 6u);
    EXPECT_EQ(rcb.items()[0], Data::visibleString("Events1"));
    EXPECT_EQ(rcb.items()[1], Data::boolean(false));
    EXPECT_EQ(rcb.items()[3], Data::visibleString("simpleIOGenericIO/LLN0$Events"));
    EXPECT_EQ(rcb.items()[4], Data::unsignedInt(0xFFFFFFFFu));
    EXPECT_EQ(rcb.items()[5].asBits().toText(), "0111101110");
}

TEST(ReferenceSession, WriteOfTwoAttributesAndTwoSuccesses) {
    const auto& w = request<WriteRequest>(decodeRef("session_22"));
    ASSERT_EQ(w.access.variables.size(), 2u);
    EXPECT_EQ(w.access.variables[1].name.item, "LLN0$RP$EventsRCB01$RptEna");
    ASSERT_EQ(w.data.size(), 2u);
    EXPECT_EQ(w.data[0].asBits().toText(), "011001");
    EXPECT_EQ(w.data[1], Data::boolean(true));
    const auto& r = response<WriteResponse>(decodeRef("session_23"));
    ASSERT_EQ(r.results.size(), 2u);
    EXPECT_TRUE(r.results[0].success && r.results[1].success);
}

TEST(ReferenceSession, BufferedReportCarriesEntryIdAndTimeOfEntry) {
    const Pdu& pdu = decodeRef("session_34");
    auto* rep = std::get_if<InformationReport>(&pdu);
    ASSERT_NE(rep, nullptr);
    ASSERT_TRUE(rep->access.isListName);
    EXPECT_EQ(rep->access.listName, ObjectName::vmd("RPT"));
    ASSERT_EQ(rep->results.size(), 25u);
    EXPECT_EQ(rep->results[0].data, Data::visibleString("Measurements"));
    EXPECT_EQ(rep->results[1].data.asBits().toText(), "0111101110");
    const BinaryTime& t = rep->results[3].data.asBinaryTime();
    EXPECT_EQ(t.msOfDay, (7 * 3600 + 19 * 60 + 48) * 1000u + 144u);
    EXPECT_EQ(t.days, 15681);  // 2026-12-07 counted from 1984-01-01
    EXPECT_EQ(rep->results[6].data, Data::octetString(hex("000001a24f5f7eb0")));
    EXPECT_EQ(rep->results[10].data.asBits().bitCount, 13u);
}

TEST(ReferenceSession, FileServicesCarryNamesSizesAndData) {
    const auto& dir = response<FileDirectoryResponse>(decodeRef("session_41"));
    ASSERT_EQ(dir.entries.size(), 4u);
    EXPECT_EQ(dir.entries[2].name, FileName{"COMTRADE/rec001.dat"});
    EXPECT_EQ(dir.entries[2].attributes.sizeOfFile, 70000u);
    EXPECT_EQ(dir.entries[2].attributes.lastModified, std::string("20261207071635.000Z"));
    EXPECT_FALSE(dir.moreFollows);
    EXPECT_EQ(request<FileOpenRequest>(decodeRef("session_42")).name, FileName{"test"});
    const auto& open = response<FileOpenResponse>(decodeRef("session_43"));
    EXPECT_EQ(open.frsmId, 0);
    EXPECT_EQ(open.attributes.sizeOfFile, 5u);
    const auto& read = response<FileReadResponse>(decodeRef("session_45"));
    EXPECT_EQ(std::string(read.data.begin(), read.data.end()), "test\n");
    EXPECT_FALSE(read.moreFollows);
    EXPECT_EQ(request<FileCloseRequest>(decodeRef("session_46")).frsmId, 0);
    EXPECT_TRUE(std::holds_alternative<ConcludeRequest>(decodeRef("session_48")));
    EXPECT_TRUE(std::holds_alternative<ConcludeResponse>(decodeRef("session_49")));
}

TEST(ReferenceObtainFile, RequestNamesSourceAndDestination) {
    const auto& q = request<ObtainFileRequest>(decodeRef("obtainfile_40"));
    EXPECT_EQ(q.source, FileName{"upload.txt"});
    EXPECT_EQ(q.destination, FileName{"upload.txt"});
    EXPECT_TRUE(
        std::holds_alternative<ObtainFileResponse>(std::get<ConfirmedResponse>(decodeRef("obtainfile_47")).service));
}

}  // namespace
