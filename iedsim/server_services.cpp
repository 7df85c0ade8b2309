#include "server_private.h"

#include "codec.h"
#include "model/values.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <shared_mutex>

namespace zv::iedsim {

using mms::Data;
using mms::Pdu;

namespace {

constexpr size_t kMaxOpenFiles = 8;          // FRSMs per association
constexpr int64_t kObtainTimeoutMs = 30000;  // the client answers each step within this
constexpr size_t kPduOverhead = 48;          // room for the envelope of a response around its list

Pdu confirmedError(uint32_t id, uint8_t cls, int32_t code) {
    mms::ConfirmedError e;
    e.invokeId = id;
    e.error.errorClass = cls;
    e.error.code = code;
    return Pdu(e);
}

// The invoke id of a confirmed-RequestPDU that did not decode, if readable.
std::optional<uint32_t> invokeIdOf(const iso::Bytes& pdu) {
    ber::Reader top(ber::ByteView(pdu.data(), pdu.size()));
    auto t = top.read();
    if (!t || t->tag != ber::ctxC(0)) return std::nullopt;
    auto in = top.enter(*t);
    if (!in) return std::nullopt;
    auto id = in->readIntegerAs<uint32_t>(ber::tags::kInteger);
    if (!id) return std::nullopt;
    return *id;
}

std::string joinName(const mms::FileName& n) {
    std::string s;
    for (const std::string& p : n) {
        if (!s.empty() && s.back() != '/' && !p.empty() && p.front() != '/') s += '/';
        s += p;
    }
    return s;
}

size_t berSize(size_t len) { return 1 + (len < 128 ? 1 : len < 256 ? 2 : 3) + len; }

}  // namespace

// ---- association and MMS dispatch -----------------------------------------------

// ISO 8650-1: the called AE title and the authentication are the ACSE's to
// judge; a refusal is an AARE rejected-permanent with the diagnostic.
bool Server::admitAssociation(Conn& c) {
    const iso::AssociateRequest& rq = c.assoc->request();
    auto refuse = [&](int64_t diagnostic, const std::string& why) {
        log_.line("connection " + std::to_string(c.id) + ": association refused, " + why);
        (void)c.assoc->refuse(diagnostic, iso::kRejectedPermanent);
        return false;
    };
    if (cfg_.apTitle && (!rq.called.apTitle || rq.called.apTitle->arcs != *cfg_.apTitle))
        return refuse(iso::kDiagCalledApTitleNotRecognized,
                      "called AP title " + (rq.called.apTitle ? rq.called.apTitle->text() : std::string("absent")) +
                          " is not " + ber::Oid{*cfg_.apTitle}.text() + " (called-AP-title-not-recognized)");
    if (cfg_.aeQualifier && rq.called.aeQualifier != cfg_.aeQualifier)
        return refuse(iso::kDiagCalledAeQualifierNotRecognized,
                      "called AE qualifier " +
                          (rq.called.aeQualifier ? std::to_string(*rq.called.aeQualifier) : std::string("absent")) +
                          " is not " + std::to_string(*cfg_.aeQualifier) + " (called-AE-qualifier-not-recognized)");
    if (!cfg_.password) return true;
    if (!rq.password) return refuse(iso::kDiagAuthenticationFailure, "no password given (authentication-failure)");
    if (rq.mechanism && *rq.mechanism != iso::passwordMechanism())
        return refuse(iso::kDiagAuthenticationMechanismNotRecognized,
                      "authentication mechanism " + rq.mechanism->text() +
                          " is not 2.2.3.1 (authentication-mechanism-name-not-recognized)");
    if (*rq.password != *cfg_.password)
        return refuse(iso::kDiagAuthenticationFailure, "wrong password (authentication-failure)");
    return true;
}

void Server::onAssociate(Conn& c, const iso::Bytes& bytes) {
    if (!admitAssociation(c)) return;
    auto pdu = mms::decode(ber::ByteView(bytes.data(), bytes.size()));
    if (!pdu || !std::holds_alternative<mms::InitiateRequest>(*pdu)) {
        log_.line("connection " + std::to_string(c.id) + ": association refused, no MMS initiate request (" +
                  (pdu ? mms::describe(*pdu) : pdu.error().text()) + ")");
        mms::InitiateError ie;
        ie.error.errorClass = mms::kInitiate;
        ie.error.code = 0;
        std::vector<uint8_t> err = mms::encode(Pdu(ie));
        (void)c.assoc->refuse(iso::kDiagNoReason, iso::kRejectedPermanent, iso::ByteView(err.data(), err.size()));
        return;
    }
    const mms::InitiateRequest& req = std::get<mms::InitiateRequest>(*pdu);
    mms::InitiateResponse resp;
    const int32_t ours = int32_t(cfg_.pduSize);
    resp.localDetail = req.localDetail && *req.localDetail > 0 ? std::min(*req.localDetail, ours) : ours;
    resp.maxOutstandingCalling = int16_t(std::clamp<int>(req.maxOutstandingCalling, 1, 10));
    resp.maxOutstandingCalled = int16_t(std::clamp<int>(req.maxOutstandingCalled, 1, 10));
    resp.nestingLevel = req.nestingLevel ? std::optional<int8_t>(std::min<int8_t>(*req.nestingLevel, 10))
                                         : std::nullopt;
    resp.version = 1;
    for (size_t b : {mms::cbb::kStr1, mms::cbb::kStr2, mms::cbb::kVnam, mms::cbb::kValt, mms::cbb::kVlis})
        resp.parameterCbb.set(b);
    for (size_t b :
         {mms::svc::kGetNameList, mms::svc::kIdentify, mms::svc::kRead, mms::svc::kWrite,
          mms::svc::kGetVariableAccessAttributes, mms::svc::kGetNamedVariableListAttributes, mms::svc::kObtainFile,
          mms::svc::kFileOpen, mms::svc::kFileRead, mms::svc::kFileClose, mms::svc::kFileDelete,
          mms::svc::kFileDirectory, mms::svc::kInformationReport, mms::svc::kConclude, mms::svc::kReadJournal})
        resp.servicesSupported.set(b);
    std::vector<uint8_t> bytesOut = mms::encode(Pdu(resp));
    if (!c.assoc->accept(iso::ByteView(bytesOut.data(), bytesOut.size()))) {
        log_.line("connection " + std::to_string(c.id) + ": cannot accept the association");
        return;
    }
    c.associated = true;
    c.maxPdu = size_t(*resp.localDetail);
    log_.line("connection " + std::to_string(c.id) + " associated, max PDU " + std::to_string(c.maxPdu));
}

void Server::sendPdu(Conn& c, const Pdu& pdu) {
    std::vector<uint8_t> b = mms::encode(pdu);
    if (!c.assoc->sendData(iso::ByteView(b.data(), b.size())))
        log_.line("connection " + std::to_string(c.id) + ": cannot send " + mms::describe(pdu));
}

void Server::onMms(Conn& c, const iso::Bytes& bytes) {
    auto pdu = mms::decode(ber::ByteView(bytes.data(), bytes.size()));
    if (!pdu) {
        mms::RejectPdu rj;
        rj.invokeId = invokeIdOf(bytes);
        if (rj.invokeId) {
            rj.reasonKind = 1;  // confirmed-requestPDU
            rj.code = 4;        // invalid-argument
        } else {
            rj.reasonKind = 5;  // pdu-error
            rj.code = 1;        // invalid-pdu
        }
        log_.line("connection " + std::to_string(c.id) +
                  ": rejected a PDU that does not decode: " + pdu.error().text());
        sendPdu(c, Pdu(rj));
        return;
    }
    if (auto* req = std::get_if<mms::ConfirmedRequest>(&*pdu)) {
        answer(c, *req);
        return;
    }
    if (std::holds_alternative<mms::ConcludeRequest>(*pdu)) {
        if (c.obtain) {
            mms::ConcludeError ce;
            ce.error.errorClass = mms::kConclude;
            ce.error.code = 1;  // further-communication-required
            sendPdu(c, Pdu(ce));
            return;
        }
        log_.line("connection " + std::to_string(c.id) + " concluded");
        sendPdu(c, Pdu(mms::ConcludeResponse{}));
        return;
    }
    if (std::holds_alternative<mms::ConfirmedResponse>(*pdu) || std::holds_alternative<mms::ConfirmedError>(*pdu) ||
        std::holds_alternative<mms::RejectPdu>(*pdu)) {
        onClientResponse(c, *pdu);
        return;
    }
    mms::RejectPdu rj;
    rj.reasonKind = std::holds_alternative<mms::InformationReport>(*pdu) ? 4 : 5;  // unconfirmedPDU / pdu-error
    rj.code = rj.reasonKind == 4 ? 1 : 0;  // unrecognized-service / unknown-pdu-type
    log_.line("connection " + std::to_string(c.id) + ": rejected " + mms::describe(*pdu));
    sendPdu(c, Pdu(rj));
}

void Server::answer(Conn& c, const mms::ConfirmedRequest& req) {
    const uint32_t id = req.invokeId;
    log_.debug("connection " + std::to_string(c.id) + ": " + mms::describe(Pdu(req)) + " #" + std::to_string(id));
    Pdu out;
    struct Visitor {
        Server& s;
        Conn& c;
        uint32_t id;
        Pdu& out;
        bool& later;
        void operator()(const mms::IdentifyRequest&) {
            out = Pdu(mms::ConfirmedResponse{id, mms::IdentifyResponse{"tarnmon", "iedsim " + s.cfg_.ied, "1.0"}});
        }
        void operator()(const mms::GetNameListRequest& r) { out = s.getNameList(c, id, r); }
        void operator()(const mms::ReadRequest& r) { out = s.read(c, id, r); }
        void operator()(const mms::WriteRequest& r) { out = s.write(c, id, r); }
        void operator()(const mms::GetVariableAccessAttributesRequest& r) { out = s.getVarAttr(c, id, r); }
        void operator()(const mms::GetNamedVariableListAttributesRequest& r) { out = s.getNvlAttr(c, id, r); }
        void operator()(const mms::FileDirectoryRequest& r) { out = s.fileDirectory(c, id, r); }
        void operator()(const mms::FileOpenRequest& r) { out = s.fileOpen(c, id, r); }
        void operator()(const mms::FileReadRequest& r) { out = s.fileRead(c, id, r); }
        void operator()(const mms::FileCloseRequest& r) { out = s.fileClose(c, id, r); }
        void operator()(const mms::FileDeleteRequest& r) { out = s.fileDelete(c, id, r); }
        void operator()(const mms::ObtainFileRequest& r) { later = s.startObtain(c, id, r, out); }
        void operator()(const mms::ReadJournalRequest& r) { out = s.logs_->readJournal(id, r, c.maxPdu); }
        void operator()(const mms::OtherService& o) {
            mms::RejectPdu rj;
            rj.invokeId = id;
            rj.reasonKind = 1;  // confirmed-requestPDU
            rj.code = 1;        // unrecognized-service
            s.log_.line("connection " + std::to_string(c.id) + ": service [" + std::to_string(o.tag) +
                        "] not supported, rejected");
            out = Pdu(rj);
        }
    };
    bool later = false;
    std::visit(Visitor{*this, c, id, out, later}, req.service);
    if (later) return;
    std::vector<uint8_t> b = mms::encode(out);
    if (b.size() > c.maxPdu) {
        log_.line("connection " + std::to_string(c.id) + ": answer to #" + std::to_string(id) + " needs " +
                  std::to_string(b.size()) + " octets, over the PDU size " + std::to_string(c.maxPdu));
        b = mms::encode(confirmedError(id, mms::kService, kServicePduSize));
    }
    if (auto* e = std::get_if<mms::ConfirmedError>(&out))
        log_.line("connection " + std::to_string(c.id) + ": " + mms::describe(Pdu(req)) + " #" + std::to_string(id) +
                  " refused with error class " + std::to_string(e->error.errorClass) + " code " +
                  std::to_string(e->error.code));
    if (!c.assoc->sendData(iso::ByteView(b.data(), b.size())))
        log_.line("connection " + std::to_string(c.id) + ": cannot send the answer to #" + std::to_string(id));
}

AI_OBJ_ID Server::resolve(const mms::ObjectName& n) const {
    if (n.scope != mms::ObjectName::Scope::Domain) return -1;
    if (n.domain.find('/') != std::string::npos || n.item.find('/') != std::string::npos) return -1;
    // Array elements ("Arr(3)") are no MMS names: they are reached by alternate access.
    if (n.item.find('(') != std::string::npos) return -1;
    AI_OBJ_ID id = model_->find(n.domain + "/" + n.item);
    if (id < 0) return -1;
    const AI_OBJ_TYPE t = model_->type(id);
    if (t == OBJECT_TYPE_DS || t == OBJECT_TYPE_LD || t == OBJECT_TYPE_IED) return -1;
    return id;
}

// ---- browsing -------------------------------------------------------------------

Pdu Server::getNameList(Conn& c, uint32_t id, const mms::GetNameListRequest& r) {
    std::vector<std::string> names;
    const bool domainScope = r.scope == mms::ObjectName::Scope::Domain;
    AI_OBJ_ID ld = -1;
    if (domainScope) {
        ld = model_->find(r.domain);
        if (ld < 0 || model_->type(ld) != OBJECT_TYPE_LD)
            return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
    }
    if (r.objectClass == mms::kDomain && r.scope == mms::ObjectName::Scope::Vmd) {
        const AI_OBJ_ID* kids = nullptr;
        int32_t n = 0;
        model_->children(0, kids, n);
        for (int32_t k = 0; k < n; ++k) names.push_back(model_->name(kids[k]));
        std::sort(names.begin(), names.end());
    } else if (r.objectClass == mms::kNamedVariable && domainScope) {
        model_->variable_names(ld, names, true);
    } else if (r.objectClass == mms::kNamedVariableList && domainScope) {
        const AI_OBJ_ID* ds = nullptr;
        int32_t n = 0;
        model_->data_sets(ld, ds, n);
        for (int32_t k = 0; k < n; ++k) {
            std::string ref = model_->reference(ds[k]);
            names.push_back(ref.substr(ref.find('/') + 1));
        }
        std::sort(names.begin(), names.end());
    }
    // Other classes and scopes: this server has no such objects (empty list).
    auto from = names.begin();
    if (r.continueAfter) from = std::upper_bound(names.begin(), names.end(), *r.continueAfter);
    mms::GetNameListResponse resp;
    resp.moreFollows = false;
    size_t used = kPduOverhead;
    for (auto it = from; it != names.end(); ++it) {
        used += berSize(it->size());
        if (used > c.maxPdu) {
            resp.moreFollows = true;
            break;
        }
        resp.identifiers.push_back(*it);
    }
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

Pdu Server::getVarAttr(Conn&, uint32_t id, const mms::GetVariableAccessAttributesRequest& r) {
    const AI_OBJ_ID obj = resolve(r.name);
    const RUNTIME_TYPE* first = nullptr;
    int32_t num = 0;
    if (obj < 0 || !model_->type_of(obj, first, num)) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
    mms::GetVariableAccessAttributesResponse resp;
    resp.mmsDeletable = false;
    resp.type = typeDescription(first);
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

Pdu Server::getNvlAttr(Conn&, uint32_t id, const mms::GetNamedVariableListAttributesRequest& r) {
    if (r.name.scope != mms::ObjectName::Scope::Domain)
        return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
    const AI_OBJ_ID ds = model_->find(r.name.domain + "/" + r.name.item);
    const AI_DS_CTRL* d = ds >= 0 ? model_->data_set(ds) : nullptr;
    if (!d) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
    mms::GetNamedVariableListAttributesResponse resp;
    resp.mmsDeletable = d->deletable != 0;
    for (int32_t k = 0; k < d->mb_num; ++k) {
        const std::string ref = d->mb_refs[k];
        const size_t slash = ref.find('/');
        mms::VariableRef v;
        if (!variableOf(ref, v))  // array elements travel as the array with an index
            v.name = mms::ObjectName::dom(ref.substr(0, slash),
                                          slash == std::string::npos ? "" : ref.substr(slash + 1));
        resp.variables.push_back(std::move(v));
    }
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

// ---- read and write ----------------------------------------------------------------

Pdu Server::read(Conn& c, uint32_t id, const mms::ReadRequest& r) {
    mms::ReadResponse resp;
    std::shared_lock<std::shared_mutex> lock(model_->value_mutex());
    if (r.access.isListName) {
        const mms::ObjectName& n = r.access.listName;
        const AI_OBJ_ID ds = n.scope == mms::ObjectName::Scope::Domain ? model_->find(n.domain + "/" + n.item) : -1;
        const AI_DS_CTRL* d = ds >= 0 ? model_->data_set(ds) : nullptr;
        if (!d) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
        for (int32_t k = 0; k < d->mb_num; ++k) {
            Data v;
            if (d->mb_ids[k] >= 0 && model::object_data(*model_, d->mb_ids[k], v))
                resp.results.push_back(mms::AccessResult::ok(std::move(v)));
            else
                resp.results.push_back(mms::AccessResult::fail(mms::kObjectNonExistent));
        }
    } else {
        for (const mms::VariableRef& v : r.access.variables) {
            const AI_OBJ_ID obj = resolve(v.name);
            Data whole;
            if (obj >= 0 && v.alternateAccess.empty() && controls_->owns(obj)) {
                // SBO is a select (it takes the value lock itself).
                lock.unlock();
                const bool ok = controls_->read(c.id, obj, whole);
                lock.lock();
                resp.results.push_back(ok ? mms::AccessResult::ok(std::move(whole))
                                          : mms::AccessResult::fail(mms::kObjectNonExistent));
                continue;
            }
            if (obj < 0 || !model::object_data(*model_, obj, whole)) {
                resp.results.push_back(mms::AccessResult::fail(mms::kObjectNonExistent));
                continue;
            }
            if (v.alternateAccess.empty()) {
                reports_->noteRead(obj);
                resp.results.push_back(mms::AccessResult::ok(std::move(whole)));
                continue;
            }
            const RUNTIME_TYPE* first = nullptr;
            int32_t num = 0;
            model_->type_of(obj, first, num);
            Data part;
            int32_t e = selectAlternate(first, whole, v.alternateAccess, part);
            resp.results.push_back(e ? mms::AccessResult::fail(e) : mms::AccessResult::ok(std::move(part)));
        }
    }
    if (r.specWithResult) resp.access = r.access;
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

int32_t Server::writeVariable(Conn& c, AI_OBJ_ID obj, const Data& d) {
    if (reports_->owns(obj)) return reports_->write(c.id, obj, d);
    if (controls_->owns(obj)) return controls_->write(c.id, obj, d);
    if (settings_->owns(obj)) return settings_->write(c.id, obj, d);
    if (logs_->owns(obj)) return logs_->write(c.id, obj, d);
    const int fc = model_->fc(obj);
    const AI_OBJ_TYPE t = model_->type(obj);
    // Process values are the device's own (IEC 61850-8-1: MX, ST read only),
    // so are the active setting group's (SG; settings are edited under SE);
    // whole LNs and FC groups are not written at once.
    if (t == OBJECT_TYPE_LN || t == OBJECT_TYPE_FCN || t == OBJECT_TYPE_CB) return mms::kObjectAccessDenied;
    if (fc == model::FC_MX || fc == model::FC_ST || fc == model::FC_CO || fc == model::FC_BR || fc == model::FC_RP ||
        fc == model::FC_LG || fc == model::FC_GO || fc == model::FC_MS || fc == model::FC_SG)
        return mms::kObjectAccessDenied;
    return model::store_object(*model_, obj, d, model::ValueSource::Write);
}

Pdu Server::write(Conn& c, uint32_t id, const mms::WriteRequest& r) {
    mms::WriteResponse resp;
    std::vector<AI_OBJ_ID> targets;
    if (r.access.isListName) {
        const mms::ObjectName& n = r.access.listName;
        const AI_OBJ_ID ds = n.scope == mms::ObjectName::Scope::Domain ? model_->find(n.domain + "/" + n.item) : -1;
        const AI_DS_CTRL* d = ds >= 0 ? model_->data_set(ds) : nullptr;
        if (!d) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
        targets.assign(d->mb_ids, d->mb_ids + d->mb_num);
    } else {
        for (const mms::VariableRef& v : r.access.variables)
            targets.push_back(v.alternateAccess.empty() ? resolve(v.name) : -2);
    }
    if (targets.size() != r.data.size()) {
        mms::RejectPdu rj;
        rj.invokeId = id;
        rj.reasonKind = 1;
        rj.code = 4;  // invalid-argument: as many values as variables
        return Pdu(rj);
    }
    for (size_t k = 0; k < targets.size(); ++k) {
        int32_t e = targets[k] == -2 ? mms::kObjectAccessUnsupported
                    : targets[k] < 0 ? mms::kObjectNonExistent
                                     : writeVariable(c, targets[k], r.data[k]);
        if (e) {
            resp.results.push_back(mms::WriteResult{false, e});
            log_.line("connection " + std::to_string(c.id) + ": write of " +
                      (targets[k] >= 0 ? model_->reference(targets[k]) : std::string("an unknown variable")) +
                      " refused (DataAccessError " + std::to_string(e) + ")");
        } else {
            resp.results.push_back(mms::WriteResult{true, 0});
            log_.debug("connection " + std::to_string(c.id) + ": wrote " + model_->reference(targets[k]));
        }
        reports_->scan();  // a written value may be a data set member
    }
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

// ---- files -------------------------------------------------------------------------

Pdu Server::fileDirectory(Conn& c, uint32_t id, const mms::FileDirectoryRequest& r) {
    std::vector<FileEntry> all;
    const std::string what = r.fileSpec ? joinName(*r.fileSpec) : std::string();
    if (!store_.list(what, all)) return confirmedError(id, mms::kFile, kFileNonExistent);
    mms::FileDirectoryResponse resp;
    const std::string after = r.continueAfter ? joinName(*r.continueAfter) : std::string();
    size_t used = kPduOverhead;
    for (const FileEntry& e : all) {
        if (r.continueAfter && e.name <= after) continue;
        used += e.name.size() + 40;
        if (used > c.maxPdu || (cfg_.dirPage && resp.entries.size() >= cfg_.dirPage)) {
            resp.moreFollows = true;
            break;
        }
        mms::DirectoryEntry d;
        d.name = {e.name};
        d.attributes.sizeOfFile = uint32_t(std::min<uint64_t>(e.size, UINT32_MAX));
        d.attributes.lastModified = fileTimeText(e, cfg_.fileTimes);
        resp.entries.push_back(std::move(d));
    }
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

Pdu Server::fileOpen(Conn& c, uint32_t id, const mms::FileOpenRequest& r) {
    auto rel = FileStore::relativePath(r.name);
    if (!rel) return confirmedError(id, mms::kFile, kFileNameSyntax);
    FileEntry fe;
    if (!store_.stat(*rel, fe)) return confirmedError(id, mms::kFile, kFileNonExistent);
    if (c.files.size() >= kMaxOpenFiles) return confirmedError(id, mms::kResource, kResourceCapabilityUnavailable);
    if (r.initialPosition > fe.size) return confirmedError(id, mms::kFile, kFilePositionInvalid);
    UniqueFd fd(::open(store_.fullPath(*rel).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return confirmedError(id, mms::kFile, kFileAccessDenied);
    if (r.initialPosition && ::lseek(fd.get(), off_t(r.initialPosition), SEEK_SET) < 0) {
        return confirmedError(id, mms::kFile, kFilePositionInvalid);
    }
    const int32_t frsm = c.nextFrsm++;
    c.files[frsm] = Conn::Frsm{*rel, std::move(fd), fe.size, r.initialPosition};
    log_.line("connection " + std::to_string(c.id) + ": file " + *rel + " opened (FRSM " + std::to_string(frsm) + ")");
    mms::FileOpenResponse resp;
    resp.frsmId = frsm;
    resp.attributes.sizeOfFile = uint32_t(std::min<uint64_t>(fe.size, UINT32_MAX));
    resp.attributes.lastModified = fileTimeText(fe, cfg_.fileTimes);
    return Pdu(mms::ConfirmedResponse{id, resp});
}

Pdu Server::fileRead(Conn& c, uint32_t id, const mms::FileReadRequest& r) {
    auto it = c.files.find(r.frsmId);
    if (it == c.files.end()) return confirmedError(id, mms::kFile, kFileOther);
    const size_t chunk = c.maxPdu > kPduOverhead + 16 ? c.maxPdu - kPduOverhead : 16;
    mms::FileReadResponse resp;
    resp.data.resize(chunk);
    ssize_t n;
    do n = ::read(it->second.fd.get(), resp.data.data(), chunk);
    while (n < 0 && errno == EINTR);
    if (n < 0) return confirmedError(id, mms::kFile, kFileAccessDenied);
    resp.data.resize(size_t(n));
    it->second.read += uint64_t(n);
    // More follows unless this read reached the end of the file.
    struct stat st;
    const off_t pos = ::lseek(it->second.fd.get(), 0, SEEK_CUR);
    resp.moreFollows = ::fstat(it->second.fd.get(), &st) == 0 && pos < st.st_size && n > 0;
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

Pdu Server::fileClose(Conn& c, uint32_t id, const mms::FileCloseRequest& r) {
    auto it = c.files.find(r.frsmId);
    if (it == c.files.end()) return confirmedError(id, mms::kFile, kFileOther);
    log_.line("connection " + std::to_string(c.id) + ": file " + it->second.rel + " closed (" +
              std::to_string(it->second.read) + " of " + std::to_string(it->second.size) + " octets read)");
    c.files.erase(it);  // closes the file
    return Pdu(mms::ConfirmedResponse{id, mms::FileCloseResponse{}});
}

Pdu Server::fileDelete(Conn& c, uint32_t id, const mms::FileDeleteRequest& r) {
    auto rel = FileStore::relativePath(r.name);
    if (!rel) return confirmedError(id, mms::kFile, kFileNameSyntax);
    for (auto& other : conns_)
        for (auto& f : other.second->files)
            if (f.second.rel == *rel) return confirmedError(id, mms::kFile, kFileBusy);
    if (!store_.remove(*rel))
        return confirmedError(id, mms::kFile, errno == ENOENT ? kFileNonExistent : kFileAccessDenied);
    log_.line("connection " + std::to_string(c.id) + ": file " + *rel + " deleted");
    return Pdu(mms::ConfirmedResponse{id, mms::FileDeleteResponse{}});
}

// ObtainFile (ISO 9506-2 clause 11.2.3 as IEC 61850-8-1 SetFile uses it): we
// read the source file from the client with our own FileOpen, FileRead and
// FileClose requests, then store it and answer the client's request.
bool Server::startObtain(Conn& c, uint32_t id, const mms::ObtainFileRequest& r, Pdu& error) {
    auto dest = FileStore::relativePath(r.destination);
    FileEntry fe;
    if (c.obtain)
        error = confirmedError(id, mms::kService, kServiceObjectStateConflict);
    else if (!dest || r.source.empty())
        error = confirmedError(id, mms::kFile, kFileNameSyntax);
    else if (store_.stat(*dest, fe))
        error = confirmedError(id, mms::kFile, kFileDuplicate);
    else {
        c.obtain = std::make_unique<Conn::Obtain>();
        c.obtain->clientInvoke = id;
        c.obtain->source = r.source;
        c.obtain->dest = *dest;
        c.obtain->pending = c.nextInvoke++;
        c.obtain->due = nowMs() + kObtainTimeoutMs;
        log_.line("connection " + std::to_string(c.id) + ": obtaining " + joinName(r.source) + " from the client as " +
                  *dest);
        sendPdu(c, Pdu(mms::ConfirmedRequest{c.obtain->pending, mms::FileOpenRequest{r.source, 0}}));
        return true;
    }
    return false;
}

void Server::obtainFailed(Conn& c, int32_t fileCode, const std::string& why) {
    if (!c.obtain) return;
    log_.line("connection " + std::to_string(c.id) + ": obtaining " + c.obtain->dest + " failed: " + why);
    sendPdu(c, confirmedError(c.obtain->clientInvoke, mms::kFile, fileCode));
    c.obtain.reset();
}

void Server::onClientResponse(Conn& c, const Pdu& pdu) {
    Conn::Obtain* o = c.obtain.get();
    uint32_t invoke = 0;
    if (auto* r = std::get_if<mms::ConfirmedResponse>(&pdu))
        invoke = r->invokeId;
    else if (auto* e = std::get_if<mms::ConfirmedError>(&pdu))
        invoke = e->invokeId;
    else if (auto* j = std::get_if<mms::RejectPdu>(&pdu))
        invoke = j->invokeId.value_or(0);
    if (!o || invoke != o->pending) {
        log_.line("connection " + std::to_string(c.id) + ": unexpected " + mms::describe(pdu) + " ignored");
        return;
    }
    if (auto* e = std::get_if<mms::ConfirmedError>(&pdu)) {
        if (o->closing) {  // the file was read completely; a failed close does not spoil it
        } else {
            obtainFailed(c, e->error.errorClass == mms::kFile ? e->error.code : kFileAccessDenied,
                         "the client answered with error class " + std::to_string(e->error.errorClass));
            return;
        }
    } else if (std::holds_alternative<mms::RejectPdu>(pdu)) {
        obtainFailed(c, kFileAccessDenied, "the client rejected our request");
        return;
    }
    o->due = nowMs() + kObtainTimeoutMs;
    const auto* resp = std::get_if<mms::ConfirmedResponse>(&pdu);
    if (resp && std::holds_alternative<mms::FileOpenResponse>(resp->service)) {
        const auto& fo = std::get<mms::FileOpenResponse>(resp->service);
        if (fo.attributes.sizeOfFile > kMaxObtainedFile) {
            obtainFailed(c, kFileAccessDenied,
                         "file of " + std::to_string(fo.attributes.sizeOfFile) + " octets is too large");
            return;
        }
        o->frsm = fo.frsmId;
        o->pending = c.nextInvoke++;
        sendPdu(c, Pdu(mms::ConfirmedRequest{o->pending, mms::FileReadRequest{o->frsm}}));
        return;
    }
    if (resp && std::holds_alternative<mms::FileReadResponse>(resp->service)) {
        const auto& fr = std::get<mms::FileReadResponse>(resp->service);
        if (o->data.size() + fr.data.size() > kMaxObtainedFile) {
            obtainFailed(c, kFileAccessDenied, "file larger than " + std::to_string(kMaxObtainedFile) + " octets");
            return;
        }
        o->data.insert(o->data.end(), fr.data.begin(), fr.data.end());
        o->pending = c.nextInvoke++;
        if (fr.moreFollows) {
            sendPdu(c, Pdu(mms::ConfirmedRequest{o->pending, mms::FileReadRequest{o->frsm}}));
        } else {
            o->closing = true;
            sendPdu(c, Pdu(mms::ConfirmedRequest{o->pending, mms::FileCloseRequest{o->frsm}}));
        }
        return;
    }
    if (o->closing) {
        std::string why;
        FileEntry fe;
        if (store_.stat(o->dest, fe)) {
            obtainFailed(c, kFileDuplicate, "the destination appeared meanwhile");
            return;
        }
        if (!store_.write(o->dest, o->data, why)) {
            obtainFailed(c, kFileAccessDenied, why);
            return;
        }
        log_.line("connection " + std::to_string(c.id) + ": obtained " + o->dest + " (" +
                  std::to_string(o->data.size()) + " octets)");
        sendPdu(c, Pdu(mms::ConfirmedResponse{o->clientInvoke, mms::ObtainFileResponse{}}));
        c.obtain.reset();
        return;
    }
    obtainFailed(c, kFileOther, "the client answered with " + mms::describe(pdu));
}

}  // namespace zv::iedsim
