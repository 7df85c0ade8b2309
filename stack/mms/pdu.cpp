#include "mms/pdu.h"

namespace zv::mms {

using ber::ctx;
using ber::ctxC;
using ber::makeError;
using ber::Reader;
using ber::Tag;
using ber::Tlv;
using ber::Writer;
namespace tags = ber::tags;

// ---- equality ---------------------------------------------------------------------

bool operator==(const AlternateAccessItem& a, const AlternateAccessItem& b) {
    return a.componentName == b.componentName && a.selector == b.selector && a.component == b.component &&
           a.index == b.index && a.count == b.count && a.selectAlternate == b.selectAlternate && a.nested == b.nested;
}
bool operator==(const VariableRef& a, const VariableRef& b) {
    return a.name == b.name && a.alternateAccess == b.alternateAccess;
}
bool operator==(const VariableAccess& a, const VariableAccess& b) {
    return a.isListName == b.isListName && (a.isListName ? a.listName == b.listName : a.variables == b.variables);
}
bool operator==(const AccessResult& a, const AccessResult& b) {
    return a.success == b.success && (a.success ? a.data == b.data : a.failure == b.failure);
}

namespace {

// Confirmed service tags (ISO 9506-2 ConfirmedServiceRequest/-Response).
enum ServiceTag : uint32_t {
    kGetNameList = 1,
    kIdentify = 2,
    kRead = 4,
    kWrite = 5,
    kGetVarAttr = 6,
    kGetNvlAttr = 12,
    kObtainFile = 46,
    kReadJournal = 65,
    kFileOpen = 72,
    kFileRead = 73,
    kFileClose = 74,
    kFileDelete = 76,
    kFileDirectory = 77
};

// ---- encoders ---------------------------------------------------------------------

void putAlternateAccess(Writer& w, const AlternateAccess& aa);

void putSelector(Writer& w, const AlternateAccessItem& it, uint32_t base) {
    switch (it.selector) {
    case AlternateAccessItem::Selector::Component: w.string(ctx(base), it.component); break;
    case AlternateAccessItem::Selector::Index: w.unsignedInteger(ctx(base + 1), it.index); break;
    case AlternateAccessItem::Selector::IndexRange:
        w.begin(ctxC(base + 2));
        w.unsignedInteger(ctx(0), it.index);
        w.unsignedInteger(ctx(1), it.count);
        w.end();
        break;
    case AlternateAccessItem::Selector::AllElements: w.null(ctx(base + 3)); break;
    }
}

void putAccessSelection(Writer& w, const AlternateAccessItem& it) {
    if (it.selectAlternate) {
        w.begin(ctxC(0));
        putSelector(w, it, 0);
        w.begin(tags::kSequence);
        putAlternateAccess(w, it.nested);
        w.end();
        w.end();
    } else {
        putSelector(w, it, 1);
    }
}

void putAlternateAccess(Writer& w, const AlternateAccess& aa) {
    for (const auto& it : aa) {
        if (!it.componentName.empty()) {
            w.begin(ctxC(5));
            w.string(ctx(0), it.componentName);
            putAccessSelection(w, it);
            w.end();
        } else {
            putAccessSelection(w, it);
        }
    }
}

void putVariableList(Writer& w, const std::vector<VariableRef>& vars) {
    for (const auto& v : vars) {
        w.begin(tags::kSequence);
        w.begin(ctxC(0));
        encodeObjectName(w, v.name);
        w.end();
        if (!v.alternateAccess.empty()) {
            w.begin(ctxC(5));
            putAlternateAccess(w, v.alternateAccess);
            w.end();
        }
        w.end();
    }
}

void putVariableAccess(Writer& w, const VariableAccess& s) {
    if (s.isListName) {
        w.begin(ctxC(1));
        encodeObjectName(w, s.listName);
        w.end();
    } else {
        w.begin(ctxC(0));
        putVariableList(w, s.variables);
        w.end();
    }
}

void putAccessResults(Writer& w, const std::vector<AccessResult>& results) {
    for (const auto& r : results) {
        if (r.success)
            encodeData(w, r.data);
        else
            w.integer(ctx(0), r.failure);
    }
}

void putFileName(Writer& w, Tag tag, const FileName& name) {
    w.begin(tag);
    for (const auto& part : name) w.string(tags::kGraphicString, part);
    w.end();
}

void putFileAttributes(Writer& w, Tag tag, const FileAttributes& a) {
    w.begin(tag);
    w.unsignedInteger(ctx(0), a.sizeOfFile);
    if (a.lastModified) w.string(ctx(1), *a.lastModified);
    w.end();
}

void putServiceError(Writer& w, const ServiceError& e) {
    w.begin(ctxC(0));
    w.integer(ctx(e.errorClass), e.code);
    w.end();
    if (e.additionalCode) w.integer(ctx(1), *e.additionalCode);
    if (e.additionalDescription) w.string(ctx(2), *e.additionalDescription);
}

// TimeOfDay: the octets of a binary-time (4, or 6 with the day).
void putTimeOfDay(Writer& w, Tag tag, const BinaryTime& t) {
    uint8_t b[6] = {
        uint8_t(t.msOfDay >> 24), uint8_t(t.msOfDay >> 16), uint8_t(t.msOfDay >> 8), uint8_t(t.msOfDay), 0, 0};
    if (t.days) {
        b[4] = uint8_t(*t.days >> 8);
        b[5] = uint8_t(*t.days);
    }
    w.primitive(tag, ByteView(b, t.days ? 6 : 4));
}

void putJournalEntry(Writer& w, const JournalEntry& e) {
    w.begin(tags::kSequence);
    w.octetString(ctx(0), e.entryId);
    w.begin(ctxC(1));
    w.begin(tags::kSequence);  // ApplicationReference
    w.raw(e.originatingApplication);
    w.end();
    w.end();
    w.begin(ctxC(2));
    putTimeOfDay(w, ctx(0), e.occurrenceTime);
    if (e.annotation) {
        w.string(ctx(3), *e.annotation);
    } else {
        w.begin(ctxC(2));
        if (!e.variables.empty()) {
            w.begin(ctxC(1));
            for (const JournalVariable& v : e.variables) {
                w.begin(tags::kSequence);
                w.string(ctx(0), v.tag);
                w.begin(ctxC(1));
                encodeData(w, v.value);
                w.end();
                w.end();
            }
            w.end();
        }
        w.end();
    }
    w.end();
    w.end();
}

struct RequestEncoder {
    Writer& w;
    void operator()(const IdentifyRequest&) { w.null(ctx(kIdentify)); }
    void operator()(const GetNameListRequest& r) {
        w.begin(ctxC(kGetNameList));
        w.begin(ctxC(0));
        w.integer(ctx(0), r.objectClass);
        w.end();
        w.begin(ctxC(1));
        if (r.scope == ObjectName::Scope::Domain)
            w.string(ctx(1), r.domain);
        else
            w.null(ctx(r.scope == ObjectName::Scope::Vmd ? 0 : 2));
        w.end();
        if (r.continueAfter) w.string(ctx(2), *r.continueAfter);
        w.end();
    }
    void operator()(const ReadRequest& r) {
        w.begin(ctxC(kRead));
        if (r.specWithResult) w.boolean(ctx(0), true);
        w.begin(ctxC(1));
        putVariableAccess(w, r.access);
        w.end();
        w.end();
    }
    void operator()(const WriteRequest& r) {
        w.begin(ctxC(kWrite));
        putVariableAccess(w, r.access);
        w.begin(ctxC(0));
        for (const auto& d : r.data) encodeData(w, d);
        w.end();
        w.end();
    }
    void operator()(const GetVariableAccessAttributesRequest& r) {
        w.begin(ctxC(kGetVarAttr));
        w.begin(ctxC(0));
        encodeObjectName(w, r.name);
        w.end();
        w.end();
    }
    void operator()(const GetNamedVariableListAttributesRequest& r) {
        w.begin(ctxC(kGetNvlAttr));
        encodeObjectName(w, r.name);
        w.end();
    }
    void operator()(const FileDirectoryRequest& r) {
        w.begin(ctxC(kFileDirectory));
        if (r.fileSpec) putFileName(w, ctxC(0), *r.fileSpec);
        if (r.continueAfter) putFileName(w, ctxC(1), *r.continueAfter);
        w.end();
    }
    void operator()(const FileOpenRequest& r) {
        w.begin(ctxC(kFileOpen));
        putFileName(w, ctxC(0), r.name);
        w.unsignedInteger(ctx(1), r.initialPosition);
        w.end();
    }
    void operator()(const FileReadRequest& r) { w.integer(ctx(kFileRead), r.frsmId); }
    void operator()(const FileCloseRequest& r) { w.integer(ctx(kFileClose), r.frsmId); }
    void operator()(const FileDeleteRequest& r) { putFileName(w, ctxC(kFileDelete), r.name); }
    void operator()(const ObtainFileRequest& r) {
        w.begin(ctxC(kObtainFile));
        putFileName(w, ctxC(1), r.source);
        putFileName(w, ctxC(2), r.destination);
        w.end();
    }
    void operator()(const ReadJournalRequest& r) {
        w.begin(ctxC(kReadJournal));
        w.begin(ctxC(0));
        encodeObjectName(w, r.journal);
        w.end();
        if (r.rangeStart) {
            w.begin(ctxC(1));
            if (r.rangeStart->byEntry)
                w.octetString(ctx(1), r.rangeStart->entry);
            else
                putTimeOfDay(w, ctx(0), r.rangeStart->time);
            w.end();
        }
        if (r.rangeStop) {
            w.begin(ctxC(2));
            if (r.rangeStop->byCount)
                w.integer(ctx(1), r.rangeStop->count);
            else
                putTimeOfDay(w, ctx(0), r.rangeStop->time);
            w.end();
        }
        if (!r.listOfVariables.empty()) {
            w.begin(ctxC(4));
            for (const std::string& v : r.listOfVariables) w.string(tags::kVisibleString, v);
            w.end();
        }
        if (r.startAfter) {
            w.begin(ctxC(5));
            putTimeOfDay(w, ctx(0), r.startAfter->time);
            w.octetString(ctx(1), r.startAfter->entry);
            w.end();
        }
        w.end();
    }
    void operator()(const OtherService& s) { w.raw(s.encoded); }
};

struct ResponseEncoder {
    Writer& w;
    void operator()(const IdentifyResponse& r) {
        w.begin(ctxC(kIdentify));
        w.string(ctx(0), r.vendor);
        w.string(ctx(1), r.model);
        w.string(ctx(2), r.revision);
        w.end();
    }
    void operator()(const GetNameListResponse& r) {
        w.begin(ctxC(kGetNameList));
        w.begin(ctxC(0));
        for (const auto& id : r.identifiers) w.string(tags::kVisibleString, id);
        w.end();
        if (!r.moreFollows) w.boolean(ctx(1), false);
        w.end();
    }
    void operator()(const ReadResponse& r) {
        w.begin(ctxC(kRead));
        if (r.access) {
            w.begin(ctxC(0));
            putVariableAccess(w, *r.access);
            w.end();
        }
        w.begin(ctxC(1));
        putAccessResults(w, r.results);
        w.end();
        w.end();
    }
    void operator()(const WriteResponse& r) {
        w.begin(ctxC(kWrite));
        for (const auto& x : r.results) {
            if (x.success)
                w.null(ctx(1));
            else
                w.integer(ctx(0), x.failure);
        }
        w.end();
    }
    void operator()(const GetVariableAccessAttributesResponse& r) {
        w.begin(ctxC(kGetVarAttr));
        w.boolean(ctx(0), r.mmsDeletable);
        w.begin(ctxC(2));
        encodeTypeSpec(w, r.type);
        w.end();
        w.end();
    }
    void operator()(const GetNamedVariableListAttributesResponse& r) {
        w.begin(ctxC(kGetNvlAttr));
        w.boolean(ctx(0), r.mmsDeletable);
        w.begin(ctxC(1));
        putVariableList(w, r.variables);
        w.end();
        w.end();
    }
    void operator()(const FileDirectoryResponse& r) {
        w.begin(ctxC(kFileDirectory));
        w.begin(ctxC(0));
        w.begin(tags::kSequence);
        for (const auto& e : r.entries) {
            w.begin(tags::kSequence);
            putFileName(w, ctxC(0), e.name);
            putFileAttributes(w, ctxC(1), e.attributes);
            w.end();
        }
        w.end();
        w.end();
        if (r.moreFollows) w.boolean(ctx(1), true);
        w.end();
    }
    void operator()(const FileOpenResponse& r) {
        w.begin(ctxC(kFileOpen));
        w.integer(ctx(0), r.frsmId);
        putFileAttributes(w, ctxC(1), r.attributes);
        w.end();
    }
    void operator()(const FileReadResponse& r) {
        w.begin(ctxC(kFileRead));
        w.octetString(ctx(0), r.data);
        if (!r.moreFollows) w.boolean(ctx(1), false);
        w.end();
    }
    void operator()(const FileCloseResponse&) { w.null(ctx(kFileClose)); }
    void operator()(const FileDeleteResponse&) { w.null(ctx(kFileDelete)); }
    void operator()(const ObtainFileResponse&) { w.null(ctx(kObtainFile)); }
    void operator()(const ReadJournalResponse& r) {
        w.begin(ctxC(kReadJournal));
        w.begin(ctxC(0));
        for (const JournalEntry& e : r.entries) putJournalEntry(w, e);
        w.end();
        if (r.moreFollows) w.boolean(ctx(1), true);
        w.end();
    }
    void operator()(const OtherService& s) { w.raw(s.encoded); }
};

void putInitiate(Writer& w, uint32_t tag, const InitiateParams& p) {
    w.begin(ctxC(tag));
    if (p.localDetail) w.integer(ctx(0), *p.localDetail);
    w.integer(ctx(1), p.maxOutstandingCalling);
    w.integer(ctx(2), p.maxOutstandingCalled);
    if (p.nestingLevel) w.integer(ctx(3), *p.nestingLevel);
    w.begin(ctxC(4));
    w.integer(ctx(0), p.version);
    w.bitString(ctx(1), p.parameterCbb);
    w.bitString(ctx(2), p.servicesSupported);
    w.end();
    w.end();
}

struct PduEncoder {
    Writer& w;
    void operator()(const ConfirmedRequest& p) {
        w.begin(ctxC(0));
        w.unsignedInteger(tags::kInteger, p.invokeId);
        std::visit(RequestEncoder{w}, p.service);
        w.end();
    }
    void operator()(const ConfirmedResponse& p) {
        w.begin(ctxC(1));
        w.unsignedInteger(tags::kInteger, p.invokeId);
        std::visit(ResponseEncoder{w}, p.service);
        w.end();
    }
    void operator()(const ConfirmedError& p) {
        w.begin(ctxC(2));
        w.unsignedInteger(ctx(0), p.invokeId);
        if (p.modifierPosition) w.unsignedInteger(ctx(1), *p.modifierPosition);
        w.begin(ctxC(2));
        putServiceError(w, p.error);
        w.end();
        w.end();
    }
    void operator()(const InformationReport& p) {
        w.begin(ctxC(3));
        w.begin(ctxC(0));
        putVariableAccess(w, p.access);
        w.begin(ctxC(0));
        putAccessResults(w, p.results);
        w.end();
        w.end();
        w.end();
    }
    void operator()(const RejectPdu& p) {
        w.begin(ctxC(4));
        if (p.invokeId) w.unsignedInteger(ctx(0), *p.invokeId);
        w.integer(ctx(p.reasonKind), p.code);
        w.end();
    }
    void operator()(const InitiateRequest& p) { putInitiate(w, 8, p); }
    void operator()(const InitiateResponse& p) { putInitiate(w, 9, p); }
    void operator()(const InitiateError& p) {
        w.begin(ctxC(10));
        putServiceError(w, p.error);
        w.end();
    }
    void operator()(const ConcludeRequest&) { w.null(ctx(11)); }
    void operator()(const ConcludeResponse&) { w.null(ctx(12)); }
    void operator()(const ConcludeError& p) {
        w.begin(ctxC(13));
        putServiceError(w, p.error);
        w.end();
    }
};

// ---- decoders ----------------------------------------------------------------------

Result<std::string> readIdentifier(Reader& r, Tag tag) {
    ZV_TRY(Tlv t, r.read(tag));
    return decodeIdentifier(t);
}

Result<ObjectName> readObjectName(Reader& r) {
    ZV_TRY(Tlv t, r.read());
    return decodeObjectName(t);
}

// The explicit wrapper [n] around an ObjectName.
Result<ObjectName> readWrappedObjectName(Reader& r, Tag tag, const char* what) {
    ZV_TRY(Reader in, r.enter(tag));
    ZV_TRY(ObjectName n, readObjectName(in));
    ZV_CHECK(in.expectEnd(what));
    return n;
}

Result<AlternateAccess> readAlternateAccess(Reader r, unsigned depth);

Status readSelector(const Tlv& t, uint32_t base, AlternateAccessItem& it) {
    using S = AlternateAccessItem::Selector;
    if (t.tag.cls != ber::TagClass::Context || t.tag.number < base || t.tag.number > base + 3)
        return makeError(t.offset, "alternate access: unexpected tag " + t.tag.text());
    switch (t.tag.number - base) {
    case 0: {
        it.selector = S::Component;
        ZV_TRY(it.component, decodeIdentifier(t));
        return {};
    }
    case 1: {
        it.selector = S::Index;
        ZV_TRY(it.index, ber::decodeIntegerAs<uint32_t>(t));
        return {};
    }
    case 2: {
        it.selector = S::IndexRange;
        ZV_TRY(Reader r, Reader().enter(t));
        ZV_TRY(it.index, r.readIntegerAs<uint32_t>(ctx(0)));
        ZV_TRY(it.count, r.readIntegerAs<uint32_t>(ctx(1)));
        return r.expectEnd("indexRange");
    }
    default: it.selector = S::AllElements; return ber::decodeNull(t);
    }
}

Status readAccessSelection(const Tlv& t, AlternateAccessItem& it, unsigned depth) {
    if (t.tag == ctxC(0)) {
        it.selectAlternate = true;
        ZV_TRY(Reader r, Reader().enter(t));
        ZV_TRY(Tlv sel, r.read());
        ZV_CHECK(readSelector(sel, 0, it));
        ZV_TRY(Reader nested, r.enter(tags::kSequence));
        ZV_TRY(it.nested, readAlternateAccess(nested, depth + 1));
        return r.expectEnd("selectAlternateAccess");
    }
    return readSelector(t, 1, it);
}

Result<AlternateAccess> readAlternateAccess(Reader r, unsigned depth) {
    if (depth >= kMaxDataDepth)
        return makeError(r.offset(), "alternate access nesting exceeds " + std::to_string(kMaxDataDepth));
    AlternateAccess aa;
    while (!r.atEnd()) {
        ZV_TRY(Tlv t, r.read());
        AlternateAccessItem it;
        if (t.tag == ctxC(5)) {
            ZV_TRY(Reader named, r.enter(t));
            ZV_TRY(it.componentName, readIdentifier(named, ctx(0)));
            ZV_TRY(Tlv sel, named.read());
            ZV_CHECK(readAccessSelection(sel, it, depth));
            ZV_CHECK(named.expectEnd("named alternate access"));
        } else {
            ZV_CHECK(readAccessSelection(t, it, depth));
        }
        aa.push_back(std::move(it));
    }
    return aa;
}

Result<std::vector<VariableRef>> readVariableList(Reader list) {
    std::vector<VariableRef> vars;
    while (!list.atEnd()) {
        ZV_TRY(Reader item, list.enter(tags::kSequence));
        ZV_TRY(Tlv vs, item.read());
        if (vs.tag != ctxC(0))
            return makeError(vs.offset, "variableSpec " + vs.tag.text() + " not supported (only name)");
        VariableRef v;
        ZV_TRY(Reader nameR, item.enter(vs));
        ZV_TRY(v.name, readObjectName(nameR));
        ZV_CHECK(nameR.expectEnd("variableSpec name"));
        if (item.nextIs(ctxC(5))) {
            ZV_TRY(Reader aa, item.enter(ctxC(5)));
            ZV_TRY(v.alternateAccess, readAlternateAccess(aa, 0));
        }
        ZV_CHECK(item.expectEnd("listOfVariable element"));
        vars.push_back(std::move(v));
    }
    return vars;
}

Result<VariableAccess> decodeVariableAccess(const Tlv& t) {
    VariableAccess s;
    if (t.tag == ctxC(1)) {
        s.isListName = true;
        ZV_TRY(Reader r, Reader().enter(t));
        ZV_TRY(s.listName, readObjectName(r));
        ZV_CHECK(r.expectEnd("variableListName"));
        return s;
    }
    if (t.tag != ctxC(0)) return makeError(t.offset, "VariableAccessSpec: unexpected tag " + t.tag.text());
    ZV_TRY(Reader r, Reader().enter(t));
    ZV_TRY(s.variables, readVariableList(r));
    return s;
}

Result<VariableAccess> readVariableAccess(Reader& r) {
    ZV_TRY(Tlv t, r.read());
    return decodeVariableAccess(t);
}

Result<std::vector<AccessResult>> readAccessResults(Reader r) {
    std::vector<AccessResult> out;
    while (!r.atEnd()) {
        ZV_TRY(Tlv t, r.read());
        if (t.tag == ctx(0)) {
            ZV_TRY(int32_t e, ber::decodeIntegerAs<int32_t>(t));
            out.push_back(AccessResult::fail(e));
        } else {
            ZV_TRY(Data d, decodeData(t));
            out.push_back(AccessResult::ok(std::move(d)));
        }
    }
    return out;
}

Result<FileName> decodeFileName(const Tlv& t) {
    ZV_TRY(Reader r, Reader().enter(t));
    FileName name;
    while (!r.atEnd()) {
        // GraphicString in the device's character set (GB18030 on many
        // devices): the bytes as given; the client judges the characters.
        ZV_TRY(std::string part, r.readStringOctets(tags::kGraphicString));
        name.push_back(std::move(part));
    }
    return name;
}

Result<FileName> readFileName(Reader& r, Tag tag) {
    ZV_TRY(Tlv t, r.read(tag));
    return decodeFileName(t);
}

Result<FileAttributes> readFileAttributes(Reader& outer, Tag tag) {
    ZV_TRY(Reader r, outer.enter(tag));
    FileAttributes a;
    ZV_TRY(a.sizeOfFile, r.readIntegerAs<uint32_t>(ctx(0)));
    if (r.nextIs(ctx(1))) {
        // Judged by decodeGeneralizedTime: a malformed time costs only its
        // entry's time, not the whole directory answer.
        ZV_TRY(a.lastModified, r.readStringOctets(ctx(1)));
    }
    ZV_CHECK(r.expectEnd("FileAttributes"));
    return a;
}

Status readServiceError(Reader& r, ServiceError& e) {
    ZV_TRY(Reader cls, r.enter(ctxC(0)));
    ZV_TRY(Tlv c, cls.read());
    if (c.tag.cls != ber::TagClass::Context || c.tag.constructed || c.tag.number > kOthers)
        return makeError(c.offset, "errorClass: unexpected tag " + c.tag.text());
    e.errorClass = static_cast<uint8_t>(c.tag.number);
    ZV_TRY(e.code, ber::decodeIntegerAs<int32_t>(c));
    ZV_CHECK(cls.expectEnd("errorClass"));
    if (r.nextIs(ctx(1))) {
        ZV_TRY(e.additionalCode, r.readIntegerAs<int32_t>(ctx(1)));
    }
    if (r.nextIs(ctx(2))) {
        ZV_TRY(e.additionalDescription, r.readVisibleString(ctx(2)));
    }
    if (r.nextIs(ctxC(3))) {
        ZV_TRY(Tlv ignored, r.read());  // serviceSpecificInfo: not modelled
        (void)ignored;
    }
    return {};
}

Result<BinaryTime> decodeTimeOfDay(const Tlv& t, const char* what) {
    if (t.tag.constructed) return makeError(t.offset, std::string(what) + ": constructed TimeOfDay");
    const ByteView& v = t.value;
    if (v.size != 4 && v.size != 6)
        return makeError(t.offset,
                         std::string(what) + ": TimeOfDay of " + std::to_string(v.size) + " bytes, expected 4 or 6");
    BinaryTime b;
    b.msOfDay = uint32_t(v[0]) << 24 | uint32_t(v[1]) << 16 | uint32_t(v[2]) << 8 | v[3];
    if (v.size == 6) b.days = static_cast<uint16_t>(v[4] << 8 | v[5]);
    return b;
}

Result<ReadJournalRequest> readJournalRequest(Reader& r) {
    ReadJournalRequest q;
    ZV_TRY(q.journal, readWrappedObjectName(r, ctxC(0), "journalName"));
    if (r.nextIs(ctxC(1))) {
        ZV_TRY(Reader c, r.enter(ctxC(1)));
        ZV_TRY(Tlv t, c.read());
        JournalRangeStart s;
        if (t.tag == ctx(0)) {
            ZV_TRY(s.time, decodeTimeOfDay(t, "startingTime"));
        } else if (t.tag == ctx(1)) {
            s.byEntry = true;
            ZV_TRY(s.entry, ber::decodeOctetString(t));
        } else {
            return makeError(t.offset, "rangeStartSpec: unexpected tag " + t.tag.text());
        }
        ZV_CHECK(c.expectEnd("rangeStartSpec"));
        q.rangeStart = std::move(s);
    }
    if (r.nextIs(ctxC(2))) {
        ZV_TRY(Reader c, r.enter(ctxC(2)));
        ZV_TRY(Tlv t, c.read());
        JournalRangeStop s;
        if (t.tag == ctx(0)) {
            ZV_TRY(s.time, decodeTimeOfDay(t, "endingTime"));
        } else if (t.tag == ctx(1)) {
            s.byCount = true;
            ZV_TRY(s.count, ber::decodeIntegerAs<int32_t>(t));
        } else {
            return makeError(t.offset, "rangeStopSpec: unexpected tag " + t.tag.text());
        }
        ZV_CHECK(c.expectEnd("rangeStopSpec"));
        q.rangeStop = s;
    }
    if (r.nextIs(ctxC(4))) {
        ZV_TRY(Reader list, r.enter(ctxC(4)));
        while (!list.atEnd()) {
            ZV_TRY(std::string v, list.readVisibleString(tags::kVisibleString));
            q.listOfVariables.push_back(std::move(v));
        }
        if (q.listOfVariables.empty()) return makeError(r.offset(), "ReadJournal: empty listOfVariables");
    }
    if (r.nextIs(ctxC(5))) {
        ZV_TRY(Reader a, r.enter(ctxC(5)));
        JournalStartAfter s;
        ZV_TRY(Tlv t, a.read(ctx(0)));
        ZV_TRY(s.time, decodeTimeOfDay(t, "timeSpec"));
        ZV_TRY(s.entry, a.readOctetString(ctx(1)));
        ZV_CHECK(a.expectEnd("entryToStartAfter"));
        q.startAfter = std::move(s);
    }
    ZV_CHECK(r.expectEnd("ReadJournal request"));
    return q;
}

Result<JournalEntry> readJournalEntry(Reader& list) {
    JournalEntry e;
    ZV_TRY(Reader r, list.enter(tags::kSequence));
    ZV_TRY(e.entryId, r.readOctetString(ctx(0)));
    {
        ZV_TRY(Reader app, r.enter(ctxC(1)));
        ZV_TRY(Tlv ref, app.read(tags::kSequence));
        ZV_CHECK(app.expectEnd("originatingApplication"));
        e.originatingApplication.assign(ref.value.data, ref.value.data + ref.value.size);
        ZV_TRY(Reader fields, app.enter(ref));
        int last = -1;
        while (!fields.atEnd()) {  // ApplicationReference: [0]..[3], each at most once, in order
            ZV_TRY(Tlv f, fields.read());
            if (f.tag.cls != ber::TagClass::Context || f.tag.number > 3 || int(f.tag.number) <= last)
                return makeError(f.offset, "ApplicationReference: unexpected tag " + f.tag.text());
            last = int(f.tag.number);
        }
    }
    ZV_TRY(Reader content, r.enter(ctxC(2)));
    ZV_TRY(Tlv when, content.read(ctx(0)));
    ZV_TRY(e.occurrenceTime, decodeTimeOfDay(when, "occurrenceTime"));
    if (content.nextIs(ctxC(1)) || content.nextIs(ctx(1)))
        return makeError(content.offset(), "EntryContent additionalDetail not supported");
    ZV_TRY(Tlv form, content.read());
    if (form.tag == ctx(3)) {
        ZV_TRY(e.annotation, ber::decodeUtf8String(form));
    } else if (form.tag == ctxC(2)) {
        ZV_TRY(Reader data, content.enter(form));
        if (data.nextIs(ctxC(0))) return makeError(data.offset(), "JournalEntry event not supported");
        if (data.nextIs(ctxC(1))) {
            ZV_TRY(Reader vars, data.enter(ctxC(1)));
            while (!vars.atEnd()) {
                ZV_TRY(Reader v, vars.enter(tags::kSequence));
                JournalVariable jv;
                ZV_TRY(Tlv tag, v.read(ctx(0)));
                ZV_TRY(jv.tag, ber::decodeUtf8String(tag));
                if (jv.tag.size() > kMaxJournalTagLength)
                    return makeError(tag.offset, "variableTag of " + std::to_string(jv.tag.size()) + " bytes exceeds " +
                                                     std::to_string(kMaxJournalTagLength));
                ZV_TRY(Reader value, v.enter(ctxC(1)));
                ZV_TRY(Tlv d, value.read());
                ZV_TRY(jv.value, decodeData(d));
                ZV_CHECK(value.expectEnd("valueSpec"));
                ZV_CHECK(v.expectEnd("Journal-Variable"));
                e.variables.push_back(std::move(jv));
            }
        }
        ZV_CHECK(data.expectEnd("entryForm data"));
    } else {
        return makeError(form.offset, "entryForm: unexpected tag " + form.tag.text());
    }
    ZV_CHECK(content.expectEnd("EntryContent"));
    ZV_CHECK(r.expectEnd("JournalEntry"));
    return e;
}

// A [n] service TLV opens the same way in requests and responses: context
// class, and a reader over its contents when it is constructed.
Status openService(const Tlv& t, Reader& r) {
    if (t.tag.cls != ber::TagClass::Context) return makeError(t.offset, "service: unexpected tag " + t.tag.text());
    if (t.tag.constructed) {
        ZV_TRY(r, Reader().enter(t));
    }
    return {};
}

// Fails unless the service TLV has the form (primitive or constructed) its service needs.
Status serviceForm(const Tlv& t, bool constructed) {
    if (t.tag.constructed != constructed)
        return makeError(t.offset,
                         std::string(t.tag.constructed ? "constructed" : "primitive") + " service " + t.tag.text());
    return {};
}

// The value of a [n] primitive or constructed service TLV.
Result<ConfirmedRequestService> decodeRequestService(const Tlv& t) {
    Reader r;
    ZV_CHECK(openService(t, r));
    auto form = [&](bool constructed) { return serviceForm(t, constructed); };
    switch (t.tag.number) {
    case kIdentify: ZV_CHECK(ber::decodeNull(t)); return ConfirmedRequestService(IdentifyRequest{});
    case kGetNameList: {
        ZV_CHECK(form(true));
        GetNameListRequest q;
        ZV_TRY(Reader oc, r.enter(ctxC(0)));
        ZV_TRY(Tlv basic, oc.read());
        if (basic.tag != ctx(0)) return makeError(basic.offset, "objectClass " + basic.tag.text() + " not supported");
        ZV_TRY(q.objectClass, ber::decodeIntegerAs<int32_t>(basic));
        ZV_CHECK(oc.expectEnd("objectClass"));
        ZV_TRY(Reader sc, r.enter(ctxC(1)));
        ZV_TRY(Tlv s, sc.read());
        if (s.tag == ctx(1)) {
            q.scope = ObjectName::Scope::Domain;
            ZV_TRY(q.domain, decodeIdentifier(s));
        } else if (s.tag == ctx(0) || s.tag == ctx(2)) {
            ZV_CHECK(ber::decodeNull(s));
            q.scope = s.tag.number == 0 ? ObjectName::Scope::Vmd : ObjectName::Scope::Aa;
        } else {
            return makeError(s.offset, "objectScope: unexpected tag " + s.tag.text());
        }
        ZV_CHECK(sc.expectEnd("objectScope"));
        if (r.nextIs(ctx(2))) {
            ZV_TRY(q.continueAfter, readIdentifier(r, ctx(2)));
        }
        ZV_CHECK(r.expectEnd("GetNameList request"));
        return ConfirmedRequestService(std::move(q));
    }
    case kRead: {
        ZV_CHECK(form(true));
        ReadRequest q;
        if (r.nextIs(ctx(0))) {
            ZV_TRY(q.specWithResult, r.readBoolean(ctx(0)));
        }
        ZV_TRY(Reader access, r.enter(ctxC(1)));
        ZV_TRY(q.access, readVariableAccess(access));
        ZV_CHECK(access.expectEnd("variableAccessSpec"));
        ZV_CHECK(r.expectEnd("Read request"));
        return ConfirmedRequestService(std::move(q));
    }
    case kWrite: {
        ZV_CHECK(form(true));
        WriteRequest q;
        ZV_TRY(q.access, readVariableAccess(r));
        ZV_TRY(Reader list, r.enter(ctxC(0)));
        while (!list.atEnd()) {
            ZV_TRY(Tlv d, list.read());
            ZV_TRY(Data data, decodeData(d));
            q.data.push_back(std::move(data));
        }
        ZV_CHECK(r.expectEnd("Write request"));
        return ConfirmedRequestService(std::move(q));
    }
    case kGetVarAttr: {
        ZV_CHECK(form(true));
        GetVariableAccessAttributesRequest q;
        ZV_TRY(q.name, readWrappedObjectName(r, ctxC(0), "GetVariableAccessAttributes name"));
        ZV_CHECK(r.expectEnd("GetVariableAccessAttributes request"));
        return ConfirmedRequestService(std::move(q));
    }
    case kGetNvlAttr: {
        ZV_CHECK(form(true));
        GetNamedVariableListAttributesRequest q;
        ZV_TRY(q.name, readObjectName(r));
        ZV_CHECK(r.expectEnd("GetNamedVariableListAttributes request"));
        return ConfirmedRequestService(std::move(q));
    }
    case kFileDirectory: {
        ZV_CHECK(form(true));
        FileDirectoryRequest q;
        if (r.nextIs(ctxC(0))) {
            ZV_TRY(q.fileSpec, readFileName(r, ctxC(0)));
        }
        if (r.nextIs(ctxC(1))) {
            ZV_TRY(q.continueAfter, readFileName(r, ctxC(1)));
        }
        ZV_CHECK(r.expectEnd("FileDirectory request"));
        return ConfirmedRequestService(std::move(q));
    }
    case kFileOpen: {
        ZV_CHECK(form(true));
        FileOpenRequest q;
        ZV_TRY(q.name, readFileName(r, ctxC(0)));
        ZV_TRY(q.initialPosition, r.readIntegerAs<uint32_t>(ctx(1)));
        ZV_CHECK(r.expectEnd("FileOpen request"));
        return ConfirmedRequestService(std::move(q));
    }
    case kFileRead: {
        ZV_TRY(int32_t id, ber::decodeIntegerAs<int32_t>(t));
        return ConfirmedRequestService(FileReadRequest{id});
    }
    case kFileClose: {
        ZV_TRY(int32_t id, ber::decodeIntegerAs<int32_t>(t));
        return ConfirmedRequestService(FileCloseRequest{id});
    }
    case kFileDelete: {
        ZV_CHECK(form(true));
        ZV_TRY(FileName n, decodeFileName(t));
        return ConfirmedRequestService(FileDeleteRequest{std::move(n)});
    }
    case kObtainFile: {
        ZV_CHECK(form(true));
        ObtainFileRequest q;
        if (r.nextIs(ctxC(0))) return makeError(r.offset(), "ObtainFile sourceFileServer not supported");
        ZV_TRY(q.source, readFileName(r, ctxC(1)));
        ZV_TRY(q.destination, readFileName(r, ctxC(2)));
        ZV_CHECK(r.expectEnd("ObtainFile request"));
        return ConfirmedRequestService(std::move(q));
    }
    case kReadJournal: {
        ZV_CHECK(form(true));
        ZV_TRY(ReadJournalRequest q, readJournalRequest(r));
        return ConfirmedRequestService(std::move(q));
    }
    }
    return ConfirmedRequestService(OtherService{t.tag.number, {}});
}

Result<ConfirmedResponseService> decodeResponseService(const Tlv& t) {
    Reader r;
    ZV_CHECK(openService(t, r));
    auto form = [&](bool constructed) { return serviceForm(t, constructed); };
    switch (t.tag.number) {
    case kIdentify: {
        ZV_CHECK(form(true));
        IdentifyResponse a;
        ZV_TRY(a.vendor, r.readVisibleString(ctx(0)));
        ZV_TRY(a.model, r.readVisibleString(ctx(1)));
        ZV_TRY(a.revision, r.readVisibleString(ctx(2)));
        if (r.nextIs(ctxC(3))) {
            ZV_TRY(Tlv ignored, r.read());  // listOfAbstractSyntaxes: not modelled
            (void)ignored;
        }
        ZV_CHECK(r.expectEnd("Identify response"));
        return ConfirmedResponseService(std::move(a));
    }
    case kGetNameList: {
        ZV_CHECK(form(true));
        GetNameListResponse a;
        ZV_TRY(Reader list, r.enter(ctxC(0)));
        while (!list.atEnd()) {
            ZV_TRY(std::string id, readIdentifier(list, tags::kVisibleString));
            a.identifiers.push_back(std::move(id));
        }
        if (r.nextIs(ctx(1))) {
            ZV_TRY(a.moreFollows, r.readBoolean(ctx(1)));
        }
        ZV_CHECK(r.expectEnd("GetNameList response"));
        return ConfirmedResponseService(std::move(a));
    }
    case kRead: {
        ZV_CHECK(form(true));
        ReadResponse a;
        if (r.nextIs(ctxC(0))) {
            ZV_TRY(Reader access, r.enter(ctxC(0)));
            ZV_TRY(a.access, readVariableAccess(access));
            ZV_CHECK(access.expectEnd("variableAccessSpec"));
        }
        ZV_TRY(Reader list, r.enter(ctxC(1)));
        ZV_TRY(a.results, readAccessResults(list));
        ZV_CHECK(r.expectEnd("Read response"));
        return ConfirmedResponseService(std::move(a));
    }
    case kWrite: {
        ZV_CHECK(form(true));
        WriteResponse a;
        while (!r.atEnd()) {
            ZV_TRY(Tlv x, r.read());
            if (x.tag == ctx(1)) {
                ZV_CHECK(ber::decodeNull(x));
                a.results.push_back(WriteResult{});
            } else if (x.tag == ctx(0)) {
                ZV_TRY(int32_t e, ber::decodeIntegerAs<int32_t>(x));
                a.results.push_back(WriteResult{false, e});
            } else {
                return makeError(x.offset, "Write response: unexpected tag " + x.tag.text());
            }
        }
        return ConfirmedResponseService(std::move(a));
    }
    case kGetVarAttr: {
        ZV_CHECK(form(true));
        GetVariableAccessAttributesResponse a;
        ZV_TRY(a.mmsDeletable, r.readBoolean(ctx(0)));
        if (r.nextIs(ctxC(1)) || r.nextIs(ctx(1)))
            return makeError(r.offset(), "GetVariableAccessAttributes address not supported");
        ZV_TRY(Reader td, r.enter(ctxC(2)));
        ZV_TRY(Tlv tt, td.read());
        ZV_TRY(a.type, decodeTypeSpec(tt));
        ZV_CHECK(td.expectEnd("typeDescription"));
        ZV_CHECK(r.expectEnd("GetVariableAccessAttributes response"));
        return ConfirmedResponseService(std::move(a));
    }
    case kGetNvlAttr: {
        ZV_CHECK(form(true));
        GetNamedVariableListAttributesResponse a;
        ZV_TRY(a.mmsDeletable, r.readBoolean(ctx(0)));
        ZV_TRY(Reader list, r.enter(ctxC(1)));
        ZV_TRY(a.variables, readVariableList(list));
        ZV_CHECK(r.expectEnd("GetNamedVariableListAttributes response"));
        return ConfirmedResponseService(std::move(a));
    }
    case kFileDirectory: {
        ZV_CHECK(form(true));
        FileDirectoryResponse a;
        ZV_TRY(Reader wrap, r.enter(ctxC(0)));
        ZV_TRY(Reader list, wrap.enter(tags::kSequence));
        ZV_CHECK(wrap.expectEnd("listOfDirectoryEntry"));
        while (!list.atEnd()) {
            ZV_TRY(Reader e, list.enter(tags::kSequence));
            DirectoryEntry de;
            ZV_TRY(de.name, readFileName(e, ctxC(0)));
            ZV_TRY(de.attributes, readFileAttributes(e, ctxC(1)));
            ZV_CHECK(e.expectEnd("DirectoryEntry"));
            a.entries.push_back(std::move(de));
        }
        if (r.nextIs(ctx(1))) {
            ZV_TRY(a.moreFollows, r.readBoolean(ctx(1)));
        }
        ZV_CHECK(r.expectEnd("FileDirectory response"));
        return ConfirmedResponseService(std::move(a));
    }
    case kFileOpen: {
        ZV_CHECK(form(true));
        FileOpenResponse a;
        ZV_TRY(a.frsmId, r.readIntegerAs<int32_t>(ctx(0)));
        ZV_TRY(a.attributes, readFileAttributes(r, ctxC(1)));
        ZV_CHECK(r.expectEnd("FileOpen response"));
        return ConfirmedResponseService(std::move(a));
    }
    case kFileRead: {
        ZV_CHECK(form(true));
        FileReadResponse a;
        ZV_TRY(a.data, r.readOctetString(ctx(0)));
        if (r.nextIs(ctx(1))) {
            ZV_TRY(a.moreFollows, r.readBoolean(ctx(1)));
        }
        ZV_CHECK(r.expectEnd("FileRead response"));
        return ConfirmedResponseService(std::move(a));
    }
    case kFileClose: ZV_CHECK(ber::decodeNull(t)); return ConfirmedResponseService(FileCloseResponse{});
    case kFileDelete: ZV_CHECK(ber::decodeNull(t)); return ConfirmedResponseService(FileDeleteResponse{});
    case kObtainFile: ZV_CHECK(ber::decodeNull(t)); return ConfirmedResponseService(ObtainFileResponse{});
    case kReadJournal: {
        ZV_CHECK(form(true));
        ReadJournalResponse a;
        ZV_TRY(Reader list, r.enter(ctxC(0)));
        while (!list.atEnd()) {
            ZV_TRY(JournalEntry e, readJournalEntry(list));
            a.entries.push_back(std::move(e));
        }
        if (r.nextIs(ctx(1))) {
            ZV_TRY(a.moreFollows, r.readBoolean(ctx(1)));
        }
        ZV_CHECK(r.expectEnd("ReadJournal response"));
        return ConfirmedResponseService(std::move(a));
    }
    }
    return ConfirmedResponseService(OtherService{t.tag.number, {}});
}

template <class Service, class Decoder>
Result<Service> readService(Reader& r, Decoder decodeService, const char* what) {
    if (r.atEnd()) return makeError(r.offset(), std::string("missing service in ") + what);
    ZV_TRY(Tlv t, r.read());
    if (t.tag == tags::kSequence) return makeError(t.offset, std::string("listOfModifier not supported in ") + what);
    ZV_TRY(Service s, decodeService(t));
    if (auto* other = std::get_if<OtherService>(&s)) {
        // Keep the whole TLV so that it can be re-encoded unchanged.
        const std::size_t headerLen = t.valueOffset - t.offset;
        other->encoded.assign(t.value.data - headerLen, t.value.data + t.value.size);
    }
    ZV_CHECK(r.expectEnd(what));
    return s;
}

Result<InitiateParams> readInitiate(Reader& r, const char* what) {
    InitiateParams p;
    p.localDetail.reset();
    p.nestingLevel.reset();
    if (r.nextIs(ctx(0))) {
        ZV_TRY(p.localDetail, r.readIntegerAs<int32_t>(ctx(0)));
    }
    ZV_TRY(p.maxOutstandingCalling, r.readIntegerAs<int16_t>(ctx(1)));
    ZV_TRY(p.maxOutstandingCalled, r.readIntegerAs<int16_t>(ctx(2)));
    if (r.nextIs(ctx(3))) {
        ZV_TRY(p.nestingLevel, r.readIntegerAs<int8_t>(ctx(3)));
    }
    ZV_TRY(Reader d, r.enter(ctxC(4)));
    ZV_TRY(p.version, d.readIntegerAs<int16_t>(ctx(0)));
    ZV_TRY(p.parameterCbb, d.readBitString(ctx(1)));
    ZV_TRY(p.servicesSupported, d.readBitString(ctx(2)));
    ZV_CHECK(d.expectEnd("init detail"));
    ZV_CHECK(r.expectEnd(what));
    return p;
}

Result<ServiceError> readServiceErrorPdu(const Tlv& t, const char* what) {
    ZV_TRY(Reader r, Reader().enter(t));
    ServiceError e;
    ZV_CHECK(readServiceError(r, e));
    ZV_CHECK(r.expectEnd(what));
    return e;
}

}  // namespace

InitiateParams iec61850InitiateParams() {
    InitiateParams p;
    for (auto bit : {cbb::kStr1, cbb::kStr2, cbb::kVnam, cbb::kValt, cbb::kVlis}) p.parameterCbb.set(bit);
    for (auto bit : {svc::kGetNameList, svc::kIdentify, svc::kRead, svc::kWrite, svc::kGetVariableAccessAttributes,
                     svc::kGetNamedVariableListAttributes, svc::kObtainFile, svc::kFileOpen, svc::kFileRead,
                     svc::kFileClose, svc::kFileDelete, svc::kFileDirectory, svc::kInformationReport, svc::kConclude})
        p.servicesSupported.set(bit);
    return p;
}

void encode(Writer& w, const Pdu& pdu) { std::visit(PduEncoder{w}, pdu); }

std::vector<uint8_t> encode(const Pdu& pdu) {
    Writer w;
    encode(w, pdu);
    return w.take();
}

Result<Pdu> decode(ByteView bytes) {
    Reader top(bytes);
    ZV_TRY(Tlv t, top.read());
    ZV_CHECK(top.expectEnd("MMS PDU"));
    if (t.tag.cls != ber::TagClass::Context) return makeError(t.offset, "MMS PDU: unexpected tag " + t.tag.text());
    const bool c = t.tag.constructed;
    switch (t.tag.number) {
    case 0:
    case 1: {
        if (!c) break;
        ZV_TRY(Reader r, top.enter(t));
        ZV_TRY(uint32_t id, r.readIntegerAs<uint32_t>(tags::kInteger));
        if (t.tag.number == 0) {
            ZV_TRY(ConfirmedRequestService s,
                   readService<ConfirmedRequestService>(r, decodeRequestService, "confirmed-RequestPDU"));
            return Pdu(ConfirmedRequest{id, std::move(s)});
        }
        ZV_TRY(ConfirmedResponseService s,
               readService<ConfirmedResponseService>(r, decodeResponseService, "confirmed-ResponsePDU"));
        return Pdu(ConfirmedResponse{id, std::move(s)});
    }
    case 2: {
        if (!c) break;
        ZV_TRY(Reader r, top.enter(t));
        ConfirmedError e;
        ZV_TRY(e.invokeId, r.readIntegerAs<uint32_t>(ctx(0)));
        if (r.nextIs(ctx(1))) {
            ZV_TRY(e.modifierPosition, r.readIntegerAs<uint32_t>(ctx(1)));
        }
        ZV_TRY(Reader se, r.enter(ctxC(2)));
        ZV_CHECK(readServiceError(se, e.error));
        ZV_CHECK(se.expectEnd("serviceError"));
        ZV_CHECK(r.expectEnd("confirmed-ErrorPDU"));
        return Pdu(std::move(e));
    }
    case 3: {
        if (!c) break;
        ZV_TRY(Reader r, top.enter(t));
        ZV_TRY(Tlv s, r.read());
        if (s.tag != ctxC(0)) return makeError(s.offset, "unconfirmed service " + s.tag.text() + " not supported");
        ZV_CHECK(r.expectEnd("unconfirmed-PDU"));
        ZV_TRY(Reader ir, r.enter(s));
        InformationReport rep;
        ZV_TRY(rep.access, readVariableAccess(ir));
        ZV_TRY(Reader list, ir.enter(ctxC(0)));
        ZV_TRY(rep.results, readAccessResults(list));
        ZV_CHECK(ir.expectEnd("InformationReport"));
        return Pdu(std::move(rep));
    }
    case 4: {
        if (!c) break;
        ZV_TRY(Reader r, top.enter(t));
        RejectPdu rj;
        if (r.nextIs(ctx(0))) {
            ZV_TRY(rj.invokeId, r.readIntegerAs<uint32_t>(ctx(0)));
        }
        ZV_TRY(Tlv reason, r.read());
        if (reason.tag.cls != ber::TagClass::Context || reason.tag.constructed || reason.tag.number < 1 ||
            reason.tag.number > 11)
            return makeError(reason.offset, "rejectReason: unexpected tag " + reason.tag.text());
        rj.reasonKind = static_cast<uint8_t>(reason.tag.number);
        ZV_TRY(rj.code, ber::decodeIntegerAs<int32_t>(reason));
        ZV_CHECK(r.expectEnd("rejectPDU"));
        return Pdu(rj);
    }
    case 8:
    case 9: {
        if (!c) break;
        ZV_TRY(Reader r, top.enter(t));
        if (t.tag.number == 8) {
            ZV_TRY(InitiateParams p, readInitiate(r, "initiate-RequestPDU"));
            return Pdu(InitiateRequest{std::move(p)});
        }
        ZV_TRY(InitiateParams p, readInitiate(r, "initiate-ResponsePDU"));
        return Pdu(InitiateResponse{std::move(p)});
    }
    case 10: {
        if (!c) break;
        ZV_TRY(ServiceError e, readServiceErrorPdu(t, "initiate-ErrorPDU"));
        return Pdu(InitiateError{std::move(e)});
    }
    case 13: {
        if (!c) break;
        ZV_TRY(ServiceError e, readServiceErrorPdu(t, "conclude-ErrorPDU"));
        return Pdu(ConcludeError{std::move(e)});
    }
    case 11: ZV_CHECK(ber::decodeNull(t)); return Pdu(ConcludeRequest{});
    case 12: ZV_CHECK(ber::decodeNull(t)); return Pdu(ConcludeResponse{});
    default: return makeError(t.offset, "MMS PDU " + t.tag.text() + " not supported");
    }
    return makeError(t.offset, "MMS PDU " + t.tag.text() + " must be constructed");
}

namespace {
const char* const kRequestNames[] = {"identify",
                                     "getNameList",
                                     "read",
                                     "write",
                                     "getVariableAccessAttributes",
                                     "getNamedVariableListAttributes",
                                     "fileDirectory",
                                     "fileOpen",
                                     "fileRead",
                                     "fileClose",
                                     "fileDelete",
                                     "obtainFile",
                                     "readJournal",
                                     "other"};
}

std::string describe(const Pdu& pdu) {
    switch (pdu.index()) {
    case 0: return std::string("confirmed-RequestPDU ") + kRequestNames[std::get<0>(pdu).service.index()];
    case 1: return std::string("confirmed-ResponsePDU ") + kRequestNames[std::get<1>(pdu).service.index()];
    case 2: return "confirmed-ErrorPDU";
    case 3: return "informationReport";
    case 4: return "rejectPDU";
    case 5: return "initiate-RequestPDU";
    case 6: return "initiate-ResponsePDU";
    case 7: return "initiate-ErrorPDU";
    case 8: return "conclude-RequestPDU";
    case 9: return "conclude-ResponsePDU";
    case 10: return "conclude-ErrorPDU";
    }
    return "?";
}

namespace {

std::string name_or_number(const char* const* names, size_t n, int32_t v) {
    if (v >= 0 && size_t(v) < n && names[v] != nullptr) return names[v];
    return std::to_string(v);
}

}  // namespace

std::string dataAccessErrorName(int32_t error) {
    static const char* const kNames[] = {
        "object-invalidated",        "hardware-fault",      "temporarily-unavailable",
        "object-access-denied",      "object-undefined",    "invalid-address",
        "type-unsupported",          "type-inconsistent",   "object-attribute-inconsistent",
        "object-access-unsupported", "object-non-existent", "object-value-invalid"};
    return name_or_number(kNames, std::size(kNames), error);
}

std::string serviceErrorText(const ServiceError& e) {
    // ISO 9506-2 7.4 ServiceError: the class, then the code within it.
    static const char* const kClasses[] = {"vmd-state",       "application-reference",
                                           "definition",      "resource",
                                           "service",         "service-preempt",
                                           "time-resolution", "access",
                                           "initiate",        "conclude",
                                           "cancel",          "file",
                                           "others"};
    static const char* const kDefCodes[] = {"other",
                                            "object-undefined",
                                            "invalid-address",
                                            "type-unsupported",
                                            "type-inconsistent",
                                            "object-exists",
                                            "object-attribute-inconsistent"};
    static const char* const kResCodes[] = {"other",
                                            "memory-unavailable",
                                            "processor-resource-unavailable",
                                            "mass-storage-unavailable",
                                            "capability-unavailable",
                                            "capability-unknown"};
    static const char* const kSvcCodes[] = {"other",    "primitives-out-of-sequence", "object-state-conflict",
                                            "pdu-size", "continuation-invalid",       "object-constraint-conflict"};
    static const char* const kAccCodes[] = {"other", "object-access-unsupported", "object-non-existent",
                                            "object-access-denied", "object-invalidated"};
    static const char* const kFileCodes[] = {"other",
                                             "filename-ambiguous",
                                             "file-busy",
                                             "filename-syntax-error",
                                             "content-type-invalid",
                                             "position-invalid",
                                             "file-access-denied",
                                             "file-non-existent",
                                             "duplicate-filename",
                                             "insufficient-space-in-filestore"};
    std::string code;
    switch (e.errorClass) {
    case kDefinition: code = name_or_number(kDefCodes, std::size(kDefCodes), e.code); break;
    case kResource: code = name_or_number(kResCodes, std::size(kResCodes), e.code); break;
    case kService: code = name_or_number(kSvcCodes, std::size(kSvcCodes), e.code); break;
    case kAccess: code = name_or_number(kAccCodes, std::size(kAccCodes), e.code); break;
    case kFile: code = name_or_number(kFileCodes, std::size(kFileCodes), e.code); break;
    default: code = e.code == 0 ? "other" : std::to_string(e.code); break;
    }
    std::string s = name_or_number(kClasses, std::size(kClasses), e.errorClass) + " " + code;
    if (e.additionalDescription && !e.additionalDescription->empty())
        s += " (" + e.additionalDescription->substr(0, 200) + ")";
    return s;
}

std::string rejectText(const RejectPdu& r) {
    static const char* const kKinds[] = {nullptr,
                                         "confirmed-requestPDU",
                                         "confirmed-responsePDU",
                                         "confirmed-errorPDU",
                                         "unconfirmedPDU",
                                         "pdu-error",
                                         "cancel-requestPDU",
                                         "cancel-responsePDU",
                                         "cancel-errorPDU",
                                         "conclude-requestPDU",
                                         "conclude-responsePDU",
                                         "conclude-errorPDU"};
    static const char* const kRequest[] = {"other",
                                           "unrecognized-service",
                                           "unrecognized-modifier",
                                           "invalid-invokeID",
                                           "invalid-argument",
                                           "invalid-modifier",
                                           "max-serv-outstanding-exceeded",
                                           nullptr,
                                           "max-recursion-exceeded",
                                           "value-out-of-range"};
    static const char* const kPduError[] = {"unknown-pdu-type", "invalid-pdu", "illegal-acse-mapping"};
    std::string code = r.reasonKind == 1   ? name_or_number(kRequest, std::size(kRequest), r.code)
                       : r.reasonKind == 5 ? name_or_number(kPduError, std::size(kPduError), r.code)
                                           : std::to_string(r.code);
    return "reject " + name_or_number(kKinds, std::size(kKinds), r.reasonKind) + " " + code;
}

std::string failureText(const Pdu& pdu) {
    if (auto* e = std::get_if<ConfirmedError>(&pdu)) return serviceErrorText(e->error);
    if (auto* r = std::get_if<RejectPdu>(&pdu)) return rejectText(*r);
    return "unexpected " + describe(pdu);
}

}  // namespace zv::mms
