#include "mms_samples.h"

namespace zv::test {

using namespace zv::mms;

VariableAccess twoVariables() {
    VariableRef plain{ObjectName::dom("IED1LD0", "MMXU1$MX$TotW$mag$f"), {}};
    AlternateAccessItem comp;
    comp.selector = AlternateAccessItem::Selector::Component;
    comp.component = "stVal";
    AlternateAccessItem range;
    range.componentName = "arr";
    range.selector = AlternateAccessItem::Selector::IndexRange;
    range.index = 2;
    range.count = 3;
    AlternateAccessItem nested;
    nested.selectAlternate = true;
    nested.selector = AlternateAccessItem::Selector::Index;
    nested.index = 7;
    AlternateAccessItem all;
    all.selector = AlternateAccessItem::Selector::AllElements;
    nested.nested.push_back(all);
    VariableRef alt{ObjectName::vmd("vmdVar"), {comp, range, nested}};
    return VariableAccess::list({plain, alt});
}

static Data reportMember(float mag) {
    return Data::structure({Data::structure({Data::float32(mag)}), Data::bitString(BitString(13)),
                            Data::utcTime(UtcTime{1796627988, 0x800000, 0x0A})});
}

ServiceError fileError() {
    ServiceError e;
    e.errorClass = kFile;
    e.code = 7;
    e.additionalCode = -3;
    e.additionalDescription = "file busy";
    return e;
}

TypeDescription measurementType() {
    using K = TypeDescription::Kind;
    auto mag = TypeDescription::structure({{"f", TypeDescription::floating(32, 8)}});
    return TypeDescription::structure({
        {"mag", mag},
        {"q", TypeDescription::simple(K::BitString, 13)},
        {"t", TypeDescription::simple(K::UtcTime)},
        {"hist", TypeDescription::arrayOf(4, TypeDescription::simple(K::Integer, 32))},
        {"name", TypeDescription::simple(K::VisibleString, -255)},
        {"txt", TypeDescription::simple(K::MmsString, -255)},
        {"raw", TypeDescription::simple(K::OctetString, 8)},
        {"cnt", TypeDescription::simple(K::Unsigned, 32)},
        {"bt",
         [] {
             auto t = TypeDescription::simple(K::BinaryTime);
             t.binaryTimeWithDate = true;
             return t;
         }()},
        {"gt", TypeDescription::simple(K::GeneralizedTime)},
        {"bcd", TypeDescription::simple(K::Bcd, 4)},
        {"oid", TypeDescription::simple(K::ObjId)},
        {"ok", TypeDescription::simple(K::Boolean)},
        {"",
         [] {
             TypeDescription t;
             t.kind = K::TypeName;
             t.typeName = ObjectName::dom("LD", "T1");
             return t;
         }()},
    });
}

Pdu confirmedRequest(ConfirmedRequestService s) { return ConfirmedRequest{0x12345, std::move(s)}; }
Pdu confirmedResponse(ConfirmedResponseService s) { return ConfirmedResponse{0xFFFFFFFFu, std::move(s)}; }

const std::vector<PduRow>& pduSamples() {
    static const std::vector<PduRow> rows = {
        {"InitiateRequest",
         [] {
             InitiateRequest q;
             q.parameterCbb.set(cbb::kStr1);
             q.parameterCbb.set(cbb::kVlis);
             q.servicesSupported.set(svc::kRead);
             q.servicesSupported.set(svc::kConclude);
             return Pdu(q);
         }},
        {"InitiateResponseWithoutOptionals",
         [] {
             InitiateResponse r;
             r.localDetail.reset();
             r.nestingLevel.reset();
             return Pdu(r);
         }},
        {"InitiateError", [] { return Pdu(InitiateError{fileError()}); }},
        {"ConcludeRequest", [] { return Pdu(ConcludeRequest{}); }},
        {"ConcludeResponse", [] { return Pdu(ConcludeResponse{}); }},
        {"ConcludeError", [] { return Pdu(ConcludeError{ServiceError{}}); }},
        {"RejectWithInvokeId",
         [] {
             return Pdu(RejectPdu{77u, 1, 4});
         }},
        {"RejectPduError",
         [] {
             return Pdu(RejectPdu{std::nullopt, 5, 1});
         }},
        {"ConfirmedError",
         [] {
             return Pdu(ConfirmedError{9, 2u, fileError()});
         }},
        {"IdentifyRequest", [] { return confirmedRequest(IdentifyRequest{}); }},
        {"IdentifyResponse",
         [] {
             return confirmedResponse(IdentifyResponse{"vendor", "model", "1.0"});
         }},
        {"GetNameListDomainsContinueAfter",
         [] {
             GetNameListRequest q;
             q.objectClass = kDomain;
             q.continueAfter = "LD0";
             return confirmedRequest(q);
         }},
        {"GetNameListVariablesInDomain",
         [] {
             GetNameListRequest q;
             q.scope = ObjectName::Scope::Domain;
             q.domain = "IED1LD0";
             return confirmedRequest(q);
         }},
        {"GetNameListAaScope",
         [] {
             GetNameListRequest q;
             q.objectClass = kNamedVariableList;
             q.scope = ObjectName::Scope::Aa;
             return confirmedRequest(q);
         }},
        {"GetNameListResponseMoreFollows",
         [] {
             return confirmedResponse(GetNameListResponse{{"LLN0", "LLN0$ST", "MMXU1"}, true});
         }},
        {"GetNameListResponseLast",
         [] {
             return confirmedResponse(GetNameListResponse{{}, false});
         }},
        {"ReadListOfVariablesWithAlternateAccess",
         [] {
             return confirmedRequest(ReadRequest{true, twoVariables()});
         }},
        {"ReadNamedVariableList",
         [] {
             return confirmedRequest(ReadRequest{false, VariableAccess::named(ObjectName::dom("LD0", "LLN0$DS1"))});
         }},
        {"ReadResponseMixedResults",
         [] {
             ReadResponse r;
             r.access = VariableAccess::named(ObjectName{ObjectName::Scope::Aa, "", "aaList"});
             r.results = {AccessResult::ok(reportMember(1.5f)), AccessResult::fail(kObjectNonExistent),
                          AccessResult::ok(Data::array({Data::integer(-1), Data::integer(1)}))};
             return confirmedResponse(r);
         }},
        {"WriteRequest",
         [] {
             return confirmedRequest(WriteRequest{twoVariables(), {Data::boolean(true), Data::visibleString("x")}});
         }},
        {"WriteResponse",
         [] {
             return confirmedResponse(WriteResponse{{WriteResult{}, WriteResult{false, kObjectAccessDenied}}});
         }},
        {"GetVariableAccessAttributesRequest",
         [] { return confirmedRequest(GetVariableAccessAttributesRequest{ObjectName::dom("LD0", "MMXU1$MX")}); }},
        {"GetVariableAccessAttributesResponse",
         [] {
             return confirmedResponse(GetVariableAccessAttributesResponse{true, measurementType()});
         }},
        {"GetNamedVariableListAttributesRequest",
         [] { return confirmedRequest(GetNamedVariableListAttributesRequest{ObjectName::dom("LD0", "LLN0$DS1")}); }},
        {"GetNamedVariableListAttributesResponse",
         [] {
             return confirmedResponse(GetNamedVariableListAttributesResponse{true, twoVariables().variables});
         }},
        {"FileDirectoryEmptyRequest", [] { return confirmedRequest(FileDirectoryRequest{}); }},
        {"FileDirectoryRequestWithContinue",
         [] {
             return confirmedRequest(FileDirectoryRequest{FileName{"COMTRADE/"}, FileName{"COMTRADE/a.cfg"}});
         }},
        {"FileDirectoryResponse",
         [] {
             FileDirectoryResponse r;
             r.entries = {{{"COMTRADE/rec.cfg"}, {1234, std::string("20261207071635.000Z")}},
                          {{"a", "b"}, {0, std::nullopt}}};
             r.moreFollows = true;
             return confirmedResponse(r);
         }},
        {"FileDirectoryResponseAsDevicesWriteIt",
         [] {
             // GB18030 names ("\xB9\xCA\xD5\xCF" is 故障) and the time forms devices use.
             FileDirectoryResponse r;
             r.entries = {{{"COMTRADE/CMIED\xB9\xCA\xD5\xCF_20261207123456789.dat"},
                           {9000, std::string("20261207123456.789Z")}},
                          {{"COMTRADE/\xC2\xBC\xB2\xA8_1.dat"}, {10, std::string("20261207203456+0800")}},
                          {{"COMTRADE/rec_2.dat"}, {10, std::string("20261207110456-0130")}},
                          {{"COMTRADE/rec_3.dat"}, {10, std::string("20261207123456")}},
                          {{"COMTRADE/rec_4.dat"}, {10, std::string("20261207123456Z")}},
                          {{"COMTRADE/\xC2\xBC\xB2\xA8_5.dat"}, {10, std::nullopt}}};
             return confirmedResponse(r);
         }},
        {"FileOpenRequest",
         [] {
             return confirmedRequest(FileOpenRequest{{"rec.dat"}, 100});
         }},
        {"FileOpenResponse",
         [] {
             return confirmedResponse(FileOpenResponse{-5, {70000, std::nullopt}});
         }},
        {"FileReadRequest", [] { return confirmedRequest(FileReadRequest{3}); }},
        {"FileReadResponseMoreFollows",
         [] {
             return confirmedResponse(FileReadResponse{std::vector<uint8_t>(300, 0x41), true});
         }},
        {"FileCloseRequest", [] { return confirmedRequest(FileCloseRequest{3}); }},
        {"FileCloseResponse", [] { return confirmedResponse(FileCloseResponse{}); }},
        {"FileDeleteRequest", [] { return confirmedRequest(FileDeleteRequest{{"COMTRADE/rec.cfg"}}); }},
        {"FileDeleteResponse", [] { return confirmedResponse(FileDeleteResponse{}); }},
        {"ObtainFileRequest",
         [] {
             return confirmedRequest(ObtainFileRequest{{"local.txt"}, {"remote.txt"}});
         }},
        {"ObtainFileResponse", [] { return confirmedResponse(ObtainFileResponse{}); }},
        {"ReadJournalByTime",
         [] {
             ReadJournalRequest q;
             q.journal = ObjectName::dom("BAYIEDCTRL", "BayLog");
             q.rangeStart = JournalRangeStart{false, BinaryTime{3600000, 15300}, {}};
             q.rangeStop = JournalRangeStop{false, BinaryTime{7200000, 15300}, 0};
             return confirmedRequest(q);
         }},
        {"ReadJournalAfterEntryWithCountAndVariables",
         [] {
             ReadJournalRequest q;
             q.journal = ObjectName::dom("BAYIEDCTRL", "BayLog");
             q.rangeStop = JournalRangeStop{true, {}, 50};
             q.listOfVariables = {"XCBR1$ST$Pos"};
             q.startAfter = JournalStartAfter{BinaryTime{3600000, 15300}, {0, 0, 0, 0, 0, 0, 0, 7}};
             return confirmedRequest(q);
         }},
        {"ReadJournalFromEntry",
         [] {
             ReadJournalRequest q;
             q.journal = ObjectName::dom("LD0", "Log");
             q.rangeStart = JournalRangeStart{true, {}, {1, 2, 3, 4, 5, 6, 7, 8}};
             return confirmedRequest(q);
         }},
        {"ReadJournalResponse",
         [] {
             ReadJournalResponse r;
             JournalEntry e;
             e.entryId = {0, 0, 0, 0, 0, 0, 0, 1};
             e.occurrenceTime = BinaryTime{43200000, 15300};
             e.variables.push_back({"BAYIEDCTRL/XCBR1$ST$Pos", reportMember(1.5f)});
             e.variables.push_back({"ReasonCode", Data::bitString(BitString::fromText("010000"))});
             r.entries.push_back(e);
             JournalEntry a;
             a.entryId = {0, 0, 0, 0, 0, 0, 0, 2};
             a.occurrenceTime = BinaryTime{43200500, 15300};
             a.annotation = "log overflow";
             r.entries.push_back(a);
             JournalEntry empty;
             empty.entryId = {0, 0, 0, 0, 0, 0, 0, 3};
             empty.originatingApplication = {0xa2, 0x03, 0x02, 0x01, 0x21};  // ae-qualifier 33
             empty.occurrenceTime = BinaryTime{43201000, std::nullopt};
             r.entries.push_back(empty);
             r.moreFollows = true;
             return confirmedResponse(r);
         }},
        {"ReadJournalResponseEmpty", [] { return confirmedResponse(ReadJournalResponse{}); }},
        {"InformationReportListOfVariables",
         [] {
             return Pdu(InformationReport{twoVariables(), {AccessResult::ok(Data::mmsString("Grüße"))}});
         }},
        {"InformationReportNamedList",
         [] {
             InformationReport r;
             r.access = VariableAccess::named(ObjectName::vmd("RPT"));
             for (int i = 0; i < 10; ++i) r.results.push_back(AccessResult::ok(reportMember(static_cast<float>(i))));
             return Pdu(r);
         }},
    };
    return rows;
}

}  // namespace zv::test
