// MMS PDUs (ISO 9506-2) as IEC 61850-8-1 uses them: structures plus
// encode(pdu) -> bytes and decode(bytes) -> Result<Pdu>. Pure codec: no
// transport; the bytes are the presentation layer's MMS user data.
//
// Include as "mms/pdu.h" (target zv_mms).
//
// MMSpdu ::= CHOICE {
//   [0] confirmed-RequestPDU   SEQUENCE { invokeID Unsigned32, ConfirmedServiceRequest }
//   [1] confirmed-ResponsePDU  SEQUENCE { invokeID Unsigned32, ConfirmedServiceResponse }
//   [2] confirmed-ErrorPDU     SEQUENCE { [0] invokeID, [1] modifierPosition OPT, [2] ServiceError }
//   [3] unconfirmed-PDU        SEQUENCE { [0] informationReport }
//   [4] rejectPDU              SEQUENCE { [0] originalInvokeID OPT, [1..11] reason code }
//   [8] initiate-RequestPDU  [9] initiate-ResponsePDU  [10] initiate-ErrorPDU (ServiceError)
//   [11] conclude-RequestPDU NULL   [12] conclude-ResponsePDU NULL  [13] conclude-ErrorPDU }
//
// Service tags inside confirmed request/response (both directions alike):
//   [1] getNameList  [2] identify  [4] read  [5] write  [6] getVariableAccessAttributes
//   [12] getNamedVariableListAttributes  [46] obtainFile  [72] fileOpen  [73] fileRead
//   [74] fileClose  [76] fileDelete  [77] fileDirectory  [65] readJournal
// Other services decode as OtherService (raw bytes kept) so that a server can
// still answer the invoke id with a reject.
//
// Use:
//   // client: a request, then its response
//   ReadRequest rd;
//   rd.access = VariableAccess::list({{ObjectName::dom("IED1LD0", "MMXU1$MX$TotW"), {}}});
//   std::vector<uint8_t> out = encode(ConfirmedRequest{invokeId, rd});
//   auto pdu = decode(userData);                       // Result<Pdu>
//   if (!pdu) log(pdu.error().text());
//   else if (auto* rsp = std::get_if<ConfirmedResponse>(&*pdu))
//       if (auto* rr = std::get_if<ReadResponse>(&rsp->service)) ... rr->results[0].data ...
//   // server: reports
//   encode(InformationReport{VariableAccess::named(ObjectName::vmd("RPT")), {AccessResult::ok(...)}});
#pragma once

#include "mms/data.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace zv::mms {

// ---- variable access ------------------------------------------------------------
//
// VariableAccessSpec ::= CHOICE {
//   listOfVariable [0] SEQUENCE OF SEQUENCE {
//       variableSpec CHOICE { name [0] ObjectName, ... },
//       alternateAccess [5] AlternateAccess OPTIONAL },
//   variableListName [1] ObjectName }
//
// AlternateAccess ::= SEQUENCE OF CHOICE {
//   unnamed AlternateAccessSelection, named [5] { [0] componentName, AlternateAccessSelection } }
// AlternateAccessSelection ::= CHOICE {
//   selectAlternateAccess [0] { selector [0] component|[1] index|[2] indexRange|[3] allElements,
//                               AlternateAccess (SEQUENCE OF) },
//   selectAccess [1] component | [2] index | [3] indexRange {[0] low,[1] count} | [4] allElements }
struct AlternateAccessItem {
    enum class Selector : uint8_t { Component, Index, IndexRange, AllElements };
    std::string componentName;  // non-empty: the "named" form
    Selector selector = Selector::Component;
    std::string component;         // Selector::Component
    uint32_t index = 0;            // Index, IndexRange (low index)
    uint32_t count = 0;            // IndexRange (number of elements)
    bool selectAlternate = false;  // selectAlternateAccess: `nested` applies below the selection
    std::vector<AlternateAccessItem> nested;
};
using AlternateAccess = std::vector<AlternateAccessItem>;
bool operator==(const AlternateAccessItem& a, const AlternateAccessItem& b);

struct VariableRef {
    ObjectName name;
    AlternateAccess alternateAccess;  // empty = absent
};
bool operator==(const VariableRef& a, const VariableRef& b);

struct VariableAccess {
    bool isListName = false;
    ObjectName listName;                 // when isListName
    std::vector<VariableRef> variables;  // otherwise

    static VariableAccess named(ObjectName n) { return {true, std::move(n), {}}; }
    static VariableAccess list(std::vector<VariableRef> v) { return {false, {}, std::move(v)}; }
};
bool operator==(const VariableAccess& a, const VariableAccess& b);

// DataAccessError ::= INTEGER (ISO 9506-2 14.4.1)
enum DataAccessError : int32_t {
    kObjectInvalidated = 0,
    kHardwareFault = 1,
    kTemporarilyUnavailable = 2,
    kObjectAccessDenied = 3,
    kObjectUndefined = 4,
    kInvalidAddress = 5,
    kTypeUnsupported = 6,
    kTypeInconsistent = 7,
    kObjectAttributeInconsistent = 8,
    kObjectAccessUnsupported = 9,
    kObjectNonExistent = 10,
    kObjectValueInvalid = 11
};

// AccessResult ::= CHOICE { failure [0] DataAccessError, success Data }
struct AccessResult {
    bool success = true;
    Data data;            // when success
    int32_t failure = 0;  // DataAccessError when !success
    static AccessResult ok(Data d) { return {true, std::move(d), 0}; }
    static AccessResult fail(int32_t e) { return {false, Data(), e}; }
};
bool operator==(const AccessResult& a, const AccessResult& b);

// FileName ::= SEQUENCE OF GraphicString (devices send one element; its
// octets are in the device's character set and kept as they are)
using FileName = std::vector<std::string>;
// FileAttributes ::= SEQUENCE { [0] sizeOfFile Unsigned32, [1] lastModified GeneralizedTime OPT }
struct FileAttributes {
    uint32_t sizeOfFile = 0;
    std::optional<std::string> lastModified;  // e.g. "20261207071635.000Z", as received
};

// ---- confirmed services -----------------------------------------------------------

struct IdentifyRequest {};
struct IdentifyResponse {  // [0] vendorName [1] modelName [2] revision
    std::string vendor, model, revision;
};

// GetNameList-Request ::= SEQUENCE { [0] objectClass { [0] basicObjectClass },
//   [1] objectScope { [0] vmdSpecific NULL | [1] domainSpecific Identifier | [2] aaSpecific NULL },
//   [2] continueAfter Identifier OPT }
enum ObjectClass : int32_t { kNamedVariable = 0, kNamedVariableList = 2, kDomain = 9 };
struct GetNameListRequest {
    int32_t objectClass = kNamedVariable;
    ObjectName::Scope scope = ObjectName::Scope::Vmd;
    std::string domain;  // Scope::Domain
    std::optional<std::string> continueAfter;
};
// GetNameList-Response ::= SEQUENCE { [0] listOfIdentifier, [1] moreFollows DEFAULT TRUE }
struct GetNameListResponse {
    std::vector<std::string> identifiers;
    bool moreFollows = true;
};

// Read-Request ::= SEQUENCE { [0] specWithResult DEFAULT FALSE, [1] VariableAccessSpec }
struct ReadRequest {
    bool specWithResult = false;
    VariableAccess access;
};
// Read-Response ::= SEQUENCE { [0] VariableAccessSpec OPT, [1] listOfAccessResult }
struct ReadResponse {
    std::optional<VariableAccess> access;
    std::vector<AccessResult> results;
};

// Write-Request ::= SEQUENCE { VariableAccessSpec, [0] listOfData }
struct WriteRequest {
    VariableAccess access;
    std::vector<Data> data;
};
// Write-Response ::= SEQUENCE OF CHOICE { [0] failure DataAccessError, [1] success NULL }
struct WriteResult {
    bool success = true;
    int32_t failure = 0;
};
struct WriteResponse {
    std::vector<WriteResult> results;
};

// GetVariableAccessAttributes-Request ::= CHOICE { [0] name ObjectName }
struct GetVariableAccessAttributesRequest {
    ObjectName name;
};
// -Response ::= SEQUENCE { [0] mmsDeletable, [2] typeDescription }
struct GetVariableAccessAttributesResponse {
    bool mmsDeletable = false;
    TypeDescription type;
};

// GetNamedVariableListAttributes-Request ::= ObjectName
struct GetNamedVariableListAttributesRequest {
    ObjectName name;
};
// -Response ::= SEQUENCE { [0] mmsDeletable, [1] listOfVariable }
struct GetNamedVariableListAttributesResponse {
    bool mmsDeletable = false;
    std::vector<VariableRef> variables;
};

// FileDirectory-Request ::= SEQUENCE { [0] fileSpec OPT, [1] continueAfter OPT }
struct FileDirectoryRequest {
    std::optional<FileName> fileSpec;
    std::optional<FileName> continueAfter;
};
// FileDirectory-Response ::= SEQUENCE { [0] EXPLICIT SEQUENCE OF DirectoryEntry,
//   [1] moreFollows DEFAULT FALSE };  DirectoryEntry ::= SEQUENCE { [0] fileName, [1] FileAttributes }
struct DirectoryEntry {
    FileName name;
    FileAttributes attributes;
};
struct FileDirectoryResponse {
    std::vector<DirectoryEntry> entries;
    bool moreFollows = false;
};

// FileOpen-Request ::= SEQUENCE { [0] fileName, [1] initialPosition Unsigned32 }
struct FileOpenRequest {
    FileName name;
    uint32_t initialPosition = 0;
};
// FileOpen-Response ::= SEQUENCE { [0] frsmID Integer32, [1] FileAttributes }
struct FileOpenResponse {
    int32_t frsmId = 0;
    FileAttributes attributes;
};
struct FileReadRequest {
    int32_t frsmId = 0;
};  // [73] Integer32
// FileRead-Response ::= SEQUENCE { [0] fileData, [1] moreFollows DEFAULT TRUE }
struct FileReadResponse {
    std::vector<uint8_t> data;
    bool moreFollows = true;
};
struct FileCloseRequest {
    int32_t frsmId = 0;
};                            // [74] Integer32
struct FileCloseResponse {};  // [74] NULL
struct FileDeleteRequest {
    FileName name;
};                             // [76] FileName
struct FileDeleteResponse {};  // [76] NULL
// ObtainFile-Request ::= SEQUENCE { [1] sourceFile, [2] destinationFile }
struct ObtainFileRequest {
    FileName source;
    FileName destination;
};
struct ObtainFileResponse {};  // [46] NULL

// ---- journals (ISO 9506-2 clause 17; IEC 61850-8-1 17.3.3 maps logs onto them) ----
//
// TimeOfDay ::= OCTET STRING (SIZE (4 | 6)), the binary-time of Data:
//   +--------------+------------+
//   | ms of day u32| [days u16] |   days since 1984-01-01
//   +--------------+------------+
//
// ReadJournal-Request ::= SEQUENCE {
//   [0] journalName ObjectName,
//   [1] rangeStartSpec CHOICE { [0] startingTime TimeOfDay, [1] startingEntry OCTET STRING } OPT,
//   [2] rangeStopSpec  CHOICE { [0] endingTime TimeOfDay, [1] numberOfEntries Integer32 } OPT,
//   [4] listOfVariables SEQUENCE OF VisibleString OPT,
//   [5] entryToStartAfter SEQUENCE { [0] timeSpec TimeOfDay,
//                                    [1] entrySpec OCTET STRING } OPT }
struct JournalRangeStart {
    bool byEntry = false;  // startingEntry, else startingTime
    BinaryTime time;
    std::vector<uint8_t> entry;
};
struct JournalRangeStop {
    bool byCount = false;  // numberOfEntries, else endingTime
    BinaryTime time;
    int32_t count = 0;
};
struct JournalStartAfter {
    BinaryTime time;
    std::vector<uint8_t> entry;
};
struct ReadJournalRequest {
    ObjectName journal;
    std::optional<JournalRangeStart> rangeStart;
    std::optional<JournalRangeStop> rangeStop;
    std::vector<std::string> listOfVariables;  // empty: absent
    std::optional<JournalStartAfter> startAfter;
};

// ReadJournal-Response ::= SEQUENCE { [0] listOfJournalEntry SEQUENCE OF JournalEntry,
//                                    [1] moreFollows BOOLEAN DEFAULT FALSE }
// JournalEntry ::= SEQUENCE { [0] entryIdentifier OCTET STRING,
//                             [1] originatingApplication ApplicationReference (a SEQUENCE),
//                             [2] entryContent EntryContent }
// EntryContent ::= SEQUENCE { [0] occurrenceTime TimeOfDay,
//                             [1] additionalDetail OPT (not modelled: refused),
//                             CHOICE { [2] data SEQUENCE { [0] event OPT (not modelled: refused),
//                                                          [1] listOfVariables SEQUENCE OF Journal-Variable OPT },
//                                      [3] annotation MMSString } }
// Journal-Variable ::= SEQUENCE { [0] variableTag MMS255String, [1] valueSpec Data }
constexpr std::size_t kMaxJournalTagLength = 255;  // MMS255String
struct JournalVariable {
    std::string tag;
    Data value;
};
struct JournalEntry {
    std::vector<uint8_t> entryId;
    // The contents of originatingApplication as received (the fields of an
    // ApplicationReference); empty: none given.
    std::vector<uint8_t> originatingApplication;
    BinaryTime occurrenceTime;
    std::optional<std::string> annotation;  // the annotation form; else `variables`
    std::vector<JournalVariable> variables;
};
struct ReadJournalResponse {
    std::vector<JournalEntry> entries;
    bool moreFollows = false;
};

// A service this codec does not model: its tag and its whole encoding.
struct OtherService {
    uint32_t tag = 0;
    std::vector<uint8_t> encoded;
};

using ConfirmedRequestService =
    std::variant<IdentifyRequest, GetNameListRequest, ReadRequest, WriteRequest, GetVariableAccessAttributesRequest,
                 GetNamedVariableListAttributesRequest, FileDirectoryRequest, FileOpenRequest, FileReadRequest,
                 FileCloseRequest, FileDeleteRequest, ObtainFileRequest, ReadJournalRequest, OtherService>;
using ConfirmedResponseService = std::variant<
    IdentifyResponse, GetNameListResponse, ReadResponse, WriteResponse, GetVariableAccessAttributesResponse,
    GetNamedVariableListAttributesResponse, FileDirectoryResponse, FileOpenResponse, FileReadResponse,
    FileCloseResponse, FileDeleteResponse, ObtainFileResponse, ReadJournalResponse, OtherService>;

struct ConfirmedRequest {
    uint32_t invokeId = 0;
    ConfirmedRequestService service;
};
struct ConfirmedResponse {
    uint32_t invokeId = 0;
    ConfirmedResponseService service;
};

// ServiceError ::= SEQUENCE { [0] errorClass CHOICE { [0] vmd-state ... [12] others: INTEGER },
//   [1] additionalCode INTEGER OPT, [2] additionalDescription VisibleString OPT,
//   [3] serviceSpecificInfo OPT (skipped on decode) }
enum ErrorClass : uint8_t {
    kVmdState = 0,
    kApplicationReference = 1,
    kDefinition = 2,
    kResource = 3,
    kService = 4,
    kServicePreempt = 5,
    kTimeResolution = 6,
    kAccess = 7,
    kInitiate = 8,
    kConclude = 9,
    kCancel = 10,
    kFile = 11,
    kOthers = 12
};
struct ServiceError {
    uint8_t errorClass = kOthers;
    int32_t code = 0;
    std::optional<int32_t> additionalCode;
    std::optional<std::string> additionalDescription;
};
struct ConfirmedError {
    uint32_t invokeId = 0;
    std::optional<uint32_t> modifierPosition;
    ServiceError error;
};

// InformationReport ::= SEQUENCE { VariableAccessSpec, [0] listOfAccessResult }
struct InformationReport {
    VariableAccess access;
    std::vector<AccessResult> results;
};

// RejectPDU ::= SEQUENCE { [0] originalInvokeID OPT, rejectReason CHOICE { [1] confirmed-requestPDU
//   [2] confirmed-responsePDU [3] confirmed-errorPDU [4] unconfirmedPDU [5] pdu-error
//   [6..8] cancel-* [9..11] conclude-* : INTEGER } }
struct RejectPdu {
    std::optional<uint32_t> invokeId;
    uint8_t reasonKind = 5;  // 1..11, the tag above
    int32_t code = 0;
};

// Initiate-RequestPDU/-ResponsePDU ::= SEQUENCE {
//   [0] localDetail Integer32 OPT, [1] maxServOutstandingCalling Integer16,
//   [2] maxServOutstandingCalled Integer16, [3] dataStructureNestingLevel Integer8 OPT,
//   [4] initRequestDetail/initResponseDetail { [0] versionNumber Integer16,
//       [1] parameterCBB BIT STRING (11), [2] servicesSupported BIT STRING (85) } }
namespace cbb {  // ParameterSupportOptions bits
constexpr std::size_t kStr1 = 0, kStr2 = 1, kVnam = 2, kValt = 3, kVadr = 4, kVsca = 5, kTpy = 6, kVlis = 7, kReal = 8,
                      kCei = 10, kCount = 11;
}
namespace svc {  // ServiceSupportOptions bits
constexpr std::size_t kStatus = 0, kGetNameList = 1, kIdentify = 2, kRead = 4, kWrite = 5,
                      kGetVariableAccessAttributes = 6, kDefineNamedVariableList = 11,
                      kGetNamedVariableListAttributes = 12, kDeleteNamedVariableList = 13, kObtainFile = 46,
                      kFileOpen = 72, kFileRead = 73, kFileClose = 74, kFileRename = 75, kFileDelete = 76,
                      kFileDirectory = 77, kUnsolicitedStatus = 78, kReadJournal = 65, kInformationReport = 79,
                      kConclude = 83, kCancel = 84, kCount = 85;
}
struct InitiateParams {
    std::optional<int32_t> localDetail = 65000;  // max PDU size
    int16_t maxOutstandingCalling = 5;
    int16_t maxOutstandingCalled = 5;
    std::optional<int8_t> nestingLevel = 10;
    int16_t version = 1;
    BitString parameterCbb = BitString(cbb::kCount);
    BitString servicesSupported = BitString(svc::kCount);
};
// The CBB bits (str1, str2, vnam, valt, vlis) and services (the ones listed at
// the top of this file plus informationReport, conclude) of an IEC 61850 client
// or server; the other fields keep their defaults above.
InitiateParams iec61850InitiateParams();

struct InitiateRequest : InitiateParams {};
struct InitiateResponse : InitiateParams {};
struct InitiateError {
    ServiceError error;
};
struct ConcludeRequest {};
struct ConcludeResponse {};
struct ConcludeError {
    ServiceError error;
};

using Pdu =
    std::variant<ConfirmedRequest, ConfirmedResponse, ConfirmedError, InformationReport, RejectPdu, InitiateRequest,
                 InitiateResponse, InitiateError, ConcludeRequest, ConcludeResponse, ConcludeError>;

// Encodes one PDU (minimal lengths, DEFAULT values left out).
std::vector<uint8_t> encode(const Pdu& pdu);
void encode(ber::Writer& w, const Pdu& pdu);

// Decodes exactly one PDU filling all of `bytes`; never reads outside them.
Result<Pdu> decode(ByteView bytes);

// "confirmed-RequestPDU read", "informationReport", ... for logs.
std::string describe(const Pdu& pdu);

// Names for logs, as ISO 9506-2 writes them: "object-access-denied"
// (DataAccessError), "access object-access-denied" (ServiceError class and
// code), "confirmed-requestPDU invalid-argument" (reject reason); numbers
// where a value has no name.
std::string dataAccessErrorName(int32_t error);
std::string serviceErrorText(const ServiceError& e);
std::string rejectText(const RejectPdu& r);
// A failed answer in words: a confirmed error or reject as above, else what
// kind of PDU came instead of the expected response.
std::string failureText(const Pdu& pdu);

}  // namespace zv::mms
