#include "controls.h"

#include "simulate.h"

#include "model/mms_values.h"
#include "model/values.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <shared_mutex>

namespace zv::iedsim {

using mms::Data;

namespace {

// A positive number of milliseconds from an attribute's text, else `fallback`.
int64_t positiveMs(const model::IedModel& m, AI_OBJ_ID id, int64_t fallback) {
    std::string text;
    if (id < 0 || m.read_text(id, text) != 0) return fallback;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0' && v > 0 ? int64_t(v) : fallback;
}

// IEC 61850-7-3 ctlModel.
enum CtlModel : int32_t { kStatusOnly = 0, kDirectNormal = 1, kSboNormal = 2, kDirectEnhanced = 3, kSboEnhanced = 4 };
// LastApplError.Error (IEC 61850-8-1): 1 Unknown.
constexpr int64_t kErrorUnknown = 1;
// Select time-out when the object has no CF sboTimeout (or 0 there).
constexpr int64_t kDefaultSboTimeoutMs = 30000;
// An operTm further ahead than this is refused as inconsistent.
constexpr int64_t kMaxOperTmAheadMs = 24LL * 3600 * 1000;

const char* const kCauseNames[] = {"Unknown",
                                   "Not-supported",
                                   "Blocked-by-switching-hierarchy",
                                   "Select-failed",
                                   "Invalid-position",
                                   "Position-reached",
                                   "Parameter-change-in-execution",
                                   "Step-limit",
                                   "Blocked-by-Mode",
                                   "Blocked-by-process",
                                   "Blocked-by-interlocking",
                                   "Blocked-by-synchrocheck",
                                   "Command-already-in-execution",
                                   "Blocked-by-health",
                                   "1-of-n-control",
                                   "Abortion-by-cancel",
                                   "Time-limit-over",
                                   "Abortion-by-trip",
                                   "Object-not-selected",
                                   "Object-already-selected",
                                   "No-access-authority",
                                   "Ended-with-overshoot",
                                   "Abortion-due-to-deviation",
                                   "Abortion-by-communication-loss",
                                   "Blocked-by-command",
                                   "None",
                                   "Inconsistent-parameters",
                                   "Locked-by-other-client"};

std::string lower(std::string s) {
    for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

std::string causeName(int32_t cause) {
    return cause >= 0 && size_t(cause) < std::size(kCauseNames) ? kCauseNames[cause] : std::to_string(cause);
}

// The fields of an Oper, SBOw or Cancel value, by component name.
struct Params {
    Data ctlVal;
    std::optional<mms::UtcTime> operTm;
    Data origin = Data::structure({Data::integer(0), Data::octetString({})});
    uint64_t ctlNum = 0;
    bool test = false;
};

bool parseParams(const model::IedModel& m, AI_OBJ_ID obj, const Data& d, Params& p) {
    if (d.kind() != Data::Kind::Structure) return false;
    const AI_OBJ_ID* kids = nullptr;
    int32_t n = 0;
    if (!m.children(obj, kids, n) || size_t(n) != d.items().size()) return false;
    bool has_val = false;
    for (int32_t k = 0; k < n; ++k) {
        const std::string name = m.name(kids[k]);
        const Data& v = d.items()[size_t(k)];
        if (name == "ctlVal") {
            p.ctlVal = v;
            has_val = true;
        } else if (name == "operTm" && v.kind() == Data::Kind::UtcTime) {
            if (v.asUtcTime().seconds != 0) p.operTm = v.asUtcTime();
        } else if (name == "origin") {
            p.origin = v;
        } else if (name == "ctlNum" && v.kind() == Data::Kind::Unsigned) {
            p.ctlNum = v.asUnsigned();
        } else if (name == "ctlNum" && v.kind() == Data::Kind::Integer && v.asInt() >= 0) {
            p.ctlNum = uint64_t(v.asInt());
        } else if (name == "Test" && v.kind() == Data::Kind::Boolean) {
            p.test = v.asBool();
        }
    }
    return has_val;
}

int64_t wallMs() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

int32_t addCauseFromText(const std::string& text) {
    if (!text.empty() && text.size() <= 2 && std::all_of(text.begin(), text.end(), ::isdigit)) {
        const int v = std::stoi(text);
        return v < int(std::size(kCauseNames)) ? v : -1;
    }
    for (size_t i = 0; i < std::size(kCauseNames); ++i)
        if (lower(kCauseNames[i]) == lower(text)) return int32_t(i);
    return -1;
}

struct ControlEngine::Ctl {
    AI_OBJ_ID co = -1, oper = -1, sbow = -1, cancel = -1, sbo = -1;
    AI_OBJ_ID ctlModel = -1, sboTimeout = -1, beh = -1;
    AI_OBJ_ID status = -1, origin = -1, ctlNum = -1, t = -1;  // what an operation changes
    std::string ref;                                          // LD/LN$CO$DO
    std::string domain;                                       // LD
    std::string item;                                         // LN$CO$DO
    // Selection (sbo models): the connection holding it, until when, and for
    // sbo-with-enhanced-security the parameters the Oper has to repeat.
    int selectedBy = -1;
    int64_t selectUntil = 0;
    std::optional<Params> selected;
    // An Oper taken and not yet executed or terminated.
    struct Pending {
        int conn = -1;
        Params p;
        Data oper;
        int64_t due = 0;
        bool enhanced = false;
        std::string next;  // "ok", "silent" or an AddCause number
    };
    std::optional<Pending> pending;
    std::string next = "ok";
    uint64_t operated = 0, refused = 0, selects = 0;
};

ControlEngine::ControlEngine(model::IedModel& m, Log& log, ReportSink& sink, uint32_t execMs)
    : m_(m), log_(log), sink_(sink), execMs_(execMs) {
    for (AI_OBJ_ID id = 0; id < m_.object_count(); ++id) {
        if (m_.type(id) != OBJECT_TYPE_FCD || m_.fc(id) != model::FC_CO) continue;
        if (m_.type(m_.parent(id)) != OBJECT_TYPE_FCN) continue;  // data objects, not their SDOs
        const AI_OBJ_ID oper = m_.child(id, "Oper");
        if (oper < 0) continue;
        auto c = std::make_unique<Ctl>();
        c->co = id;
        c->oper = oper;
        c->sbow = m_.child(id, "SBOw");
        c->cancel = m_.child(id, "Cancel");
        c->sbo = m_.child(id, "SBO");
        c->ref = m_.reference(id);
        const size_t slash = c->ref.find('/');
        c->domain = c->ref.substr(0, slash);
        c->item = c->ref.substr(slash + 1);
        const std::string ln = c->ref.substr(0, c->ref.find('$'));
        const std::string dobj = m_.name(id);
        c->ctlModel = m_.find(ln + "$CF$" + dobj + "$ctlModel");
        c->sboTimeout = m_.find(ln + "$CF$" + dobj + "$sboTimeout");
        c->beh = m_.find(ln + "$ST$Beh$stVal");
        for (const char* fc : {"ST", "MX"}) {
            const AI_OBJ_ID st = m_.find(ln + "$" + fc + "$" + dobj);
            if (st < 0) continue;
            const AI_OBJ_ID status = m_.child(st, std::string(fc) == "ST" ? "stVal" : "mxVal");
            if (status < 0) continue;
            c->status = status;
            c->origin = m_.child(st, "origin");
            c->ctlNum = m_.child(st, "ctlNum");
            c->t = m_.child(st, "t");
            break;
        }
        if (c->status < 0) log_.line("control " + c->ref + ": no stVal or mxVal; operations change nothing");
        ctls_.push_back(std::move(c));
    }
}

ControlEngine::~ControlEngine() = default;

int64_t ControlEngine::now() const {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

ControlEngine::Ctl* ControlEngine::find(AI_OBJ_ID id) const {
    for (AI_OBJ_ID cur = id; cur >= 0; cur = m_.parent(cur)) {
        const AI_OBJ_TYPE t = m_.type(cur);
        if (t != OBJECT_TYPE_FCD && t != OBJECT_TYPE_FCDA) return nullptr;
        for (const auto& c : ctls_)
            if (c->oper == cur || c->sbow == cur || c->cancel == cur || c->sbo == cur) return c.get();
    }
    return nullptr;
}

ControlEngine::Ctl* ControlEngine::findRef(const std::string& ref) const {
    // LD/LN$FC$DO with any FC names the controllable object LD/LN$CO$DO.
    const size_t a = ref.find('$');
    const size_t b = a == std::string::npos ? a : ref.find('$', a + 1);
    if (b == std::string::npos) return nullptr;
    const std::string co = ref.substr(0, a) + "$CO" + ref.substr(b);
    for (const auto& c : ctls_)
        if (c->ref == co) return c.get();
    return nullptr;
}

bool ControlEngine::owns(AI_OBJ_ID id) const { return find(id) != nullptr; }

int32_t ControlEngine::ctlModel(const Ctl& c) const {
    int8_t v = kStatusOnly;
    std::vector<model::Primitive> p;
    if (c.ctlModel < 0 || !m_.primitives(c.ctlModel, p) || p.size() != 1 || p[0].size != 1) return kStatusOnly;
    std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
    std::memcpy(&v, p[0].data, 1);
    return v;
}

// IEC 61850-7-4 Beh: blocked (2), test/blocked (4) and off (5) take no
// commands. An unset Beh (0) counts as on.
bool ControlEngine::blocked(const Ctl& c) const {
    std::vector<model::Primitive> p;
    if (c.beh < 0 || !m_.primitives(c.beh, p) || p.size() != 1 || p[0].size != 1) return false;
    std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
    const int8_t v = int8_t(p[0].data[0]);
    return v == 2 || v == 4 || v == 5;
}

void ControlEngine::sendLastApplError(int conn, Ctl& c, const char* what, int32_t cause, const Data& value) {
    if (!sink_.connected(conn)) return;
    Params p;
    const std::string part = what;
    parseParams(m_, part == "SBOw" ? c.sbow : part == "Cancel" ? c.cancel : c.oper, value, p);
    mms::InformationReport rep;
    rep.access = mms::VariableAccess::list({mms::VariableRef{mms::ObjectName::vmd("LastApplError"), {}}});
    rep.results.push_back(
        mms::AccessResult::ok(Data::structure({Data::visibleString(c.ref + "$" + what), Data::integer(kErrorUnknown),
                                               p.origin, Data::unsignedInt(p.ctlNum), Data::integer(cause)})));
    sink_.sendReport(conn, mms::encode(mms::Pdu(rep)));
}

int32_t ControlEngine::refuse(int conn, Ctl& c, const char* what, int32_t cause, const Data& value, int32_t error) {
    ++c.refused;
    log_.line("connection " + std::to_string(conn) + ": " + what + " of " + c.ref + " refused: " + causeName(cause));
    sendLastApplError(conn, c, what, cause, value);
    return error;
}

int32_t ControlEngine::write(int conn, AI_OBJ_ID id, const Data& value) {
    Ctl* cp = find(id);
    if (cp == nullptr) return mms::kObjectNonExistent;
    Ctl& c = *cp;
    if (id != c.oper && id != c.sbow && id != c.cancel) return mms::kObjectAccessDenied;  // parts, and SBO
    const char* what = id == c.oper ? "Oper" : id == c.sbow ? "SBOw" : "Cancel";
    // The value must have the type of the structure; it is kept as the
    // object's last value (CO values are the clients').
    if (int32_t e = model::store_object(m_, id, value, model::ValueSource::Write)) return e;
    Params p;
    if (!parseParams(m_, id, value, p)) return mms::kTypeInconsistent;
    const int32_t model = ctlModel(c);
    const bool sbo = model == kSboNormal || model == kSboEnhanced;
    const bool enhanced = model == kDirectEnhanced || model == kSboEnhanced;
    const int64_t t = now();
    if (c.selectedBy >= 0 && t >= c.selectUntil && !c.pending) {
        log_.line("control " + c.ref + ": selection of connection " + std::to_string(c.selectedBy) + " timed out");
        c.selectedBy = -1;
        c.selected.reset();
    }
    if (model == kStatusOnly || model < 0 || model > kSboEnhanced)
        return refuse(conn, c, what, kCauseNotSupported, value, mms::kObjectAccessDenied);

    if (id == c.cancel) {
        if (c.pending && c.pending->conn == conn) {
            // A time activated operation not executed yet ends here.
            if (c.pending->enhanced) terminate(c, false, kCauseAbortionByCancel);
            c.pending.reset();
        } else if (c.selectedBy != conn) {
            return refuse(conn, c, what, kCauseObjectNotSelected, value, mms::kObjectAccessDenied);
        }
        c.selectedBy = -1;
        c.selected.reset();
        log_.line("connection " + std::to_string(conn) + ": " + c.ref + " cancelled");
        return 0;
    }
    if (blocked(c)) return refuse(conn, c, what, kCauseBlockedByMode, value, mms::kObjectAccessDenied);
    if (c.pending) return refuse(conn, c, what, kCauseCommandAlreadyInExecution, value, mms::kTemporarilyUnavailable);

    if (id == c.sbow) {
        if (model != kSboEnhanced) return refuse(conn, c, what, kCauseNotSupported, value, mms::kObjectAccessDenied);
        if (c.selectedBy >= 0 && c.selectedBy != conn)
            return refuse(conn, c, what, kCauseObjectAlreadySelected, value, mms::kTemporarilyUnavailable);
        const int64_t timeout = positiveMs(m_, c.sboTimeout, kDefaultSboTimeoutMs);
        c.selectedBy = conn;
        c.selectUntil = t + timeout;
        c.selected = p;
        ++c.selects;
        log_.line("connection " + std::to_string(conn) + ": " + c.ref + " selected with value for " +
                  std::to_string(timeout) + " ms");
        return 0;
    }

    // Oper.
    if (sbo) {
        if (c.selectedBy < 0) return refuse(conn, c, what, kCauseObjectNotSelected, value, mms::kObjectAccessDenied);
        if (c.selectedBy != conn)
            return refuse(conn, c, what, kCauseLockedByOtherClient, value, mms::kTemporarilyUnavailable);
        if (model == kSboEnhanced && c.selected &&
            (c.selected->ctlVal != p.ctlVal || c.selected->ctlNum != p.ctlNum || c.selected->origin != p.origin))
            return refuse(conn, c, what, kCauseInconsistentParameters, value, mms::kObjectAccessDenied);
    }
    int64_t due = t + execMs_;
    if (p.operTm) {
        const int64_t at = int64_t(p.operTm->toUnixNs() / 1000000);
        const int64_t ahead = at - wallMs();
        if (ahead > kMaxOperTmAheadMs)
            return refuse(conn, c, what, kCauseInconsistentParameters, value, mms::kObjectValueInvalid);
        if (ahead > 0) due = std::max(due, t + ahead);
    }
    std::string next = c.next;
    c.next = "ok";
    if (!enhanced && next != "ok" && next != "silent")
        return refuse(conn, c, what, std::stoi(next), value, mms::kObjectAccessDenied);
    c.pending = Ctl::Pending{conn, p, value, due, enhanced, next};
    ++c.operated;
    log_.line("connection " + std::to_string(conn) + ": " + c.ref + " operated" + (p.test ? " (test)" : "") +
              (p.operTm ? " for operTm" : ""));
    return 0;
}

bool ControlEngine::read(int conn, AI_OBJ_ID id, Data& out) {
    Ctl* cp = find(id);
    if (cp == nullptr) return false;
    Ctl& c = *cp;
    if (id != c.sbo) {
        std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
        return model::object_data(m_, id, out);
    }
    // IEC 61850-8-1: the select of sbo-with-normal-security reads SBO; the
    // reference of the object when it is selected, an empty string if not.
    const int64_t t = now();
    if (c.selectedBy >= 0 && c.selectedBy != conn && t >= c.selectUntil) c.selectedBy = -1;
    std::string why;
    if (ctlModel(c) != kSboNormal)
        why = "not sbo-with-normal-security";
    else if (blocked(c))
        why = "blocked by its mode";
    else if (c.pending)
        why = "an operation is in execution";
    else if (c.selectedBy >= 0 && c.selectedBy != conn)
        why = "selected by connection " + std::to_string(c.selectedBy);
    if (!why.empty()) {
        ++c.refused;
        log_.line("connection " + std::to_string(conn) + ": select of " + c.ref + " refused: " + why);
        out = Data::visibleString("");
        return true;
    }
    const int64_t timeout = positiveMs(m_, c.sboTimeout, kDefaultSboTimeoutMs);
    c.selectedBy = conn;
    c.selectUntil = t + timeout;
    c.selected.reset();
    ++c.selects;
    log_.line("connection " + std::to_string(conn) + ": " + c.ref + " selected for " + std::to_string(timeout) + " ms");
    out = Data::visibleString(c.ref);
    return true;
}

void ControlEngine::terminate(Ctl& c, bool positive, int32_t cause) {
    const Ctl::Pending& pd = *c.pending;
    if (!sink_.connected(pd.conn)) return;
    mms::InformationReport rep;
    const mms::VariableRef oper{mms::ObjectName::dom(c.domain, c.item + "$Oper"), {}};
    if (positive) {
        rep.access = mms::VariableAccess::list({oper});
        rep.results.push_back(mms::AccessResult::ok(pd.oper));
    } else {
        rep.access = mms::VariableAccess::list({mms::VariableRef{mms::ObjectName::vmd("LastApplError"), {}}, oper});
        rep.results.push_back(mms::AccessResult::ok(
            Data::structure({Data::visibleString(c.ref + "$Oper"), Data::integer(kErrorUnknown), pd.p.origin,
                             Data::unsignedInt(pd.p.ctlNum), Data::integer(cause)})));
        rep.results.push_back(mms::AccessResult::ok(pd.oper));
    }
    sink_.sendReport(pd.conn, mms::encode(mms::Pdu(rep)));
    log_.line("connection " + std::to_string(pd.conn) + ": " + c.ref + " command termination " +
              (positive ? std::string("positive") : "negative, " + causeName(cause)));
}

void ControlEngine::execute(Ctl& c) {
    const Params& p = c.pending->p;
    if (c.status < 0 || p.test) return;
    Data v = p.ctlVal;
    std::vector<model::Primitive> st;
    m_.primitives(c.status, st);
    // A Dbpos status follows a BOOLEAN ctlVal: true on (10), false off (01).
    if (st.size() == 1 && st[0].type == VAL_TYPE_CODEDENUM && v.kind() == Data::Kind::Boolean) {
        mms::BitString b(2);
        b.set(v.asBool() ? 0 : 1);
        v = Data::bitString(b);
    }
    if (int32_t e = model::store_object(m_, c.status, v, model::ValueSource::Device)) {
        log_.line("control " + c.ref + ": ctlVal does not fit " + m_.reference(c.status) + " (" +
                  mms::dataAccessErrorName(e) + ")");
        return;
    }
    if (c.origin >= 0) model::store_object(m_, c.origin, p.origin, model::ValueSource::Device);
    if (c.ctlNum >= 0) model::store_object(m_, c.ctlNum, Data::unsignedInt(p.ctlNum), model::ValueSource::Device);
    const AI_OBJ_ID t = c.t >= 0 ? c.t : Simulator::timeOf(m_, c.status);
    if (t >= 0) {
        TimeStamp_TDEF ts;
        model::current_time(ts);
        m_.write(t, &ts, sizeof ts);
    }
}

void ControlEngine::tick() {
    const int64_t t = now();
    for (auto& cp : ctls_) {
        Ctl& c = *cp;
        if (!c.pending && c.selectedBy >= 0 && t >= c.selectUntil) {
            log_.line("control " + c.ref + ": selection of connection " + std::to_string(c.selectedBy) + " timed out");
            c.selectedBy = -1;
            c.selected.reset();
        }
        if (!c.pending || t < c.pending->due) continue;
        const std::string next = c.pending->next;
        if (next == "silent") {
            log_.line("control " + c.ref + ": operation taken without effect or termination (ctlnext silent)");
        } else if (next != "ok") {
            if (c.pending->enhanced) terminate(c, false, std::stoi(next));
        } else {
            execute(c);
            if (c.pending->enhanced) terminate(c, true, 0);
        }
        c.pending.reset();
        c.selectedBy = -1;
        c.selected.reset();
    }
}

int64_t ControlEngine::nextDeadlineMs() const {
    const int64_t t = now();
    int64_t best = -1;
    for (const auto& c : ctls_) {
        int64_t due = c->pending ? c->pending->due : c->selectedBy >= 0 ? c->selectUntil : -1;
        if (due < 0) continue;
        due = std::max<int64_t>(0, due - t);
        best = best < 0 ? due : std::min(best, due);
    }
    return best;
}

void ControlEngine::connectionClosed(int conn) {
    for (auto& c : ctls_) {
        if (c->selectedBy == conn) {
            c->selectedBy = -1;
            c->selected.reset();
        }
        if (c->pending && c->pending->conn == conn) {
            log_.line("control " + c->ref + ": operation of closed connection " + std::to_string(conn) + " dropped");
            c->pending.reset();
        }
    }
}

bool ControlEngine::setNext(const std::string& ref, const std::string& what, std::string& why) {
    Ctl* c = findRef(ref);
    if (c == nullptr) {
        why = "no controllable object '" + ref + "'";
        return false;
    }
    if (what == "ok" || what == "silent") {
        c->next = what;
        return true;
    }
    const int32_t cause = addCauseFromText(what);
    if (cause < 0) {
        why = "'" + what + "' is neither ok, silent nor an AddCause";
        return false;
    }
    c->next = std::to_string(cause);
    return true;
}

bool ControlEngine::describe(const std::string& ref, std::string& out) const {
    const Ctl* c = findRef(ref);
    if (c == nullptr) return false;
    out = "model=" + std::to_string(ctlModel(*c)) + " selected=" + std::to_string(c->selectedBy) +
          " operated=" + std::to_string(c->operated) + " refused=" + std::to_string(c->refused) +
          " selects=" + std::to_string(c->selects) + " pending=" + (c->pending ? "1" : "0");
    return true;
}

}  // namespace zv::iedsim
