// Controls and log queries.
//
// Control (IEC 61850-7-2 clause 20, IEC 61850-8-1 clause 20): the job reads
// the object's CF$ctlModel from the device, then writes SBOw or Oper, built
// by component name from the AC_CTRL_VALUE:
//   Oper/SBOw { ctlVal, [operTm], origin { orCat, orIdent }, ctlNum, T, Test, Check }
// A refusal is a write failure; the device sends LastApplError first:
//   LastApplError { CntrlObj, Error, Origin, ctlNum, AddCause }
// With enhanced security a taken Oper ends with the CommandTermination, an
// InformationReport of LD/LN$CO$DO$Oper (positive) or of LastApplError and
// the Oper (negative).
//
// Log query (IEC 61850-8-1 17.3.3): ReadJournal on the journal the LCB's
// LogRef names; by time with rangeStart/rangeStop times, after an entry with
// entryToStartAfter; while moreFollows, again after the last entry received.
#include "codec.h"
#include "engine.h"

#include "model/values.h"

#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <shared_mutex>

namespace zv::client {

namespace {

using mms::Data;

// IEC 61850-7-3 ctlModel.
enum CtlModel : int32_t { kStatusOnly = 0, kDirectNormal = 1, kSboNormal = 2, kDirectEnhanced = 3, kSboEnhanced = 4 };

const char *const kAddCauses[] = {"Unknown",
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

std::string add_cause_text(int64_t cause) {
    const std::string n = std::to_string(cause);
    return cause >= 0 && size_t(cause) < std::size(kAddCauses) ? std::string(kAddCauses[cause]) + " (" + n + ")" : n;
}

const char *model_name(int32_t m) {
    static const char *const kNames[] = {"status-only", "direct-with-normal-security", "sbo-with-normal-security",
                                         "direct-with-enhanced-security", "sbo-with-enhanced-security"};
    return m >= 0 && m <= 4 ? kNames[m] : "unknown";
}

model::IedModel *model_of(Engine &e, int srv) {
    ServerCtx *s = e.server(srv);
    return s && s->server && s->server->model ? s->server->model.get() : nullptr;
}

const mms::ConfirmedResponse *response_of(const mms::Pdu &p) { return std::get_if<mms::ConfirmedResponse>(&p); }
template <class T>
const T *service_of(const mms::Pdu &p) {
    const mms::ConfirmedResponse *r = response_of(p);
    return r ? std::get_if<T>(&r->service) : nullptr;
}

bool integer_of(const Data &d, int64_t &out) {
    if (d.kind() == Data::Kind::Integer)
        out = d.asInt();
    else if (d.kind() == Data::Kind::Unsigned && d.asUnsigned() <= uint64_t(INT64_MAX))
        out = int64_t(d.asUnsigned());
    else
        return false;
    return true;
}

// LastApplError as a device sends it; false with the reason when it has
// another shape.
struct ApplError {
    std::string cntrl_obj;
    int64_t error = 0;
    int64_t ctl_num = -1;
    int64_t cause = 0;
};
bool decode_appl_error(const Data &d, ApplError &out, std::string &why) {
    if (d.kind() != Data::Kind::Structure || d.items().size() != 5) {
        why = d.kind() == Data::Kind::Structure ? "a structure of " + std::to_string(d.items().size()) + " components"
                                                : "not a structure";
        return false;
    }
    const std::vector<Data> &c = d.items();
    if (c[0].kind() != Data::Kind::VisibleString && c[0].kind() != Data::Kind::MmsString) {
        why = "CntrlObj is not a string";
        return false;
    }
    if (c[0].asString().size() >= AI_OBJ_REF_LEN) {
        why = "CntrlObj of " + std::to_string(c[0].asString().size()) + " characters";
        return false;
    }
    out.cntrl_obj = c[0].asString();
    if (!integer_of(c[1], out.error) || !integer_of(c[4], out.cause)) {
        why = "Error or AddCause is not an integer";
        return false;
    }
    if (!integer_of(c[3], out.ctl_num)) out.ctl_num = -1;
    return true;
}

// Index of the variable named vmd-specific "LastApplError" in a report, or -1.
int appl_error_index(const mms::InformationReport &rep) {
    if (rep.access.isListName) return -1;
    for (size_t i = 0; i < rep.access.variables.size(); ++i) {
        const mms::ObjectName &n = rep.access.variables[i].name;
        if (n.scope == mms::ObjectName::Scope::Vmd && n.item == "LastApplError") return int(i);
    }
    return -1;
}

// Stored form of one primitive of a control value, chosen by the names of
// the primitive and its parent.
bool control_primitive(const std::string &name, const std::string &parent, AI_VAL_TYPE type, const AC_CTRL_VALUE &v,
                       uint8_t *out, std::string &why) {
    const size_t size = model::stored_size(type);
    std::memset(out, 0, size);
    if (int16_t bits = int16_t(model::bitstring_bits(type)); bits > 0) std::memcpy(out, &bits, 2);
    auto put = [&](const void *p, size_t n) {
        if (n != size) {
            why = name + " is " + model::type_name(type) + ", not a " + std::to_string(n) + "-byte value";
            return false;
        }
        std::memcpy(out, p, n);
        return true;
    };
    if (parent == "ctlVal" && (name == "f" || name == "i")) {  // AnalogueValue
        if (name == "f" && type == VAL_TYPE_FLOAT32) return put(&v.val.setMag.fVal, 4);
        if (name == "i" && type == VAL_TYPE_INT32) return put(&v.val.setMag.iVal, 4);
        why = "ctlVal$" + name + " of type " + model::type_name(type) + " is not supported";
        return false;
    }
    if (name == "ctlVal") {
        switch (type) {
        case VAL_TYPE_BOOLEAN: {
            const uint8_t b = v.val.bVal ? 1 : 0;
            return put(&b, 1);
        }
        case VAL_TYPE_INT8: return put(&v.val.iVal8, 1);
        case VAL_TYPE_INT8U: return put(&v.val.iUVal8, 1);
        case VAL_TYPE_INT32: return put(&v.val.iVal32, 4);
        case VAL_TYPE_CODEDENUM:
        case VAL_TYPE_TCMD:
            // Two bits, bit 0 first: 0 stop/intermediate, 1 lower/off, 2 higher/on, 3 reserved/bad.
            if (v.val.cdVal > 3) {
                why = "ctlVal " + std::to_string(v.val.cdVal) + " does not fit two bits";
                return false;
            }
            out[2] = uint8_t(v.val.cdVal << 6);
            return true;
        default: why = std::string("ctlVal of type ") + model::type_name(type) + " is not supported"; return false;
        }
    }
    if (name == "operTm" && type == VAL_TYPE_TIMESTAMP) return put(&v.operTm, sizeof v.operTm);
    if (name == "T" && type == VAL_TYPE_TIMESTAMP) {
        TimeStamp_TDEF t = v.T;
        if (t.secs == 0 && t.fraction == 0) model::current_time(t);
        return put(&t, sizeof t);
    }
    if (name == "orCat" && type == VAL_TYPE_INT8) return put(&v.origin.orCat, 1);
    if (name == "orIdent" && type == VAL_TYPE_OSTRING64) {
        OCTET_STRING64_TDEF o = v.origin.orIdent;
        if (o.len_1 < 0 || o.len_1 > 64) {
            why = "orIdent of " + std::to_string(o.len_1) + " octets";
            return false;
        }
        return put(&o, sizeof o);
    }
    if (name == "ctlNum" && type == VAL_TYPE_INT8U) return put(&v.ctlNum, 1);
    if (name == "Test" && type == VAL_TYPE_BOOLEAN) {
        const uint8_t b = v.Test ? 1 : 0;
        return put(&b, 1);
    }
    if (name == "Check" && type == VAL_TYPE_CHECK) {
        Check_TDEF c = v.check;
        if (c.len_1 <= 0 || c.len_1 > AI_BITS_CAP_CHECK) c.len_1 = AI_BITS_CHECK;
        std::memcpy(out, &c, sizeof c);
        return true;
    }
    return true;  // another component keeps its zero value
}

// ---- control -------------------------------------------------------------------------

class ControlJob : public Job {
public:
    model::IedModel *model = nullptr;
    AI_OBJ_ID co = -1;         // LD/LN$CO$DO
    AI_OBJ_ID target = -1;     // its Oper or SBOw
    AI_OBJ_ID ctl_model = -1;  // LD/LN$CF$DO$ctlModel
    std::string co_ref, target_ref;
    Data value;
    enum class Step { Model, Write, Termination } step = Step::Model;
    int32_t model_value = -1;
    bool have_error = false;
    ApplError error;
    int early = 0;          // a command termination ahead of the write response: 1 positive, -1 negative
    bool reported = false;  // the outcome was logged

    bool selecting() const { return ctrl.op == IEC61850_OP_SELVAL; }
    const char *what() const { return selecting() ? "select with value" : "operate"; }

    void fail(JobCtx &c, const std::string &why, int32_t cause = -1) {
        log_line(c.server.label() + ": " + what() + " of " + co_ref + " failed: " + why);
        reported = true;
        ctrl.u.ctrlCtrl.result = cause;
        finish(c, 1);
    }

    // The value of Oper or SBOw from the request, by component name.
    bool build(std::string &why) {
        std::vector<model::Primitive> prims;
        if (!model->primitives(target, prims) || prims.empty()) {
            why = target_ref + " has no primitives";
            return false;
        }
        std::vector<std::vector<uint8_t>> bytes(prims.size());
        std::vector<AI_PRIM_VAL> vals(prims.size());
        for (size_t k = 0; k < prims.size(); ++k) {
            const AI_OBJ_ID parent = model->parent(prims[k].id);
            const std::string parent_name = parent >= 0 && model->name(parent) ? model->name(parent) : "";
            bytes[k].resize(model::stored_size(prims[k].type));
            if (!control_primitive(model->name(prims[k].id), parent_name, prims[k].type, ctrl.u.ctrlCtrl.ctrl_val,
                                   bytes[k].data(), why))
                return false;
            vals[k] = AI_PRIM_VAL{prims[k].type, int32_t(bytes[k].size()), bytes[k].data()};
        }
        if (!object_data(*model, target, vals.data(), int32_t(vals.size()), value)) {
            why = "the value does not fit " + target_ref;
            return false;
        }
        return true;
    }

    void start(JobCtx &c) override {
        std::string why;
        if (!build(why)) return fail(c, why);
        mms::ObjectName n;
        if (ctl_model < 0 || !object_name(model->reference(ctl_model), n)) {
            log_line(c.server.label() + ": " + co_ref + " has no CF ctlModel; taken as direct-with-normal-security");
            return decide(c, kDirectNormal);
        }
        send(c, mms::ReadRequest{false, mms::VariableAccess::list({mms::VariableRef{n, {}}})});
    }

    void decide(JobCtx &c, int32_t m) {
        model_value = m;
        if (m == kStatusOnly) return fail(c, "its ctlModel is status-only");
        if (m < 0 || m > kSboEnhanced) return fail(c, "ctlModel " + std::to_string(m) + " is unknown");
        if (selecting() && m != kSboEnhanced && m != kSboNormal)
            return fail(c, std::string("its ctlModel is ") + model_name(m) + ", which has no select");
        step = Step::Write;
        mms::ObjectName n;
        object_name(target_ref, n);
        mms::WriteRequest w;
        w.access = mms::VariableAccess::list({mms::VariableRef{n, {}}});
        w.data.push_back(value);
        send(c, std::move(w));
    }

    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        if (step == Step::Model) {
            const auto *rr = service_of<mms::ReadResponse>(p);
            int64_t m = -1;
            if (!rr || rr->results.size() != 1 || !rr->results[0].success || !integer_of(rr->results[0].data, m)) {
                // The model's value stands in for a device that does not say.
                std::string text;
                m = kDirectNormal;
                std::vector<model::Primitive> prims;
                if (model->primitives(ctl_model, prims) && prims.size() == 1 && prims[0].type == VAL_TYPE_INT8) {
                    std::shared_lock<std::shared_mutex> lock(model->value_mutex());
                    m = int8_t(prims[0].data[0]);
                }
                log_line(c.server.label() + ": ctlModel of " + co_ref + " not read (" +
                         (rr ? std::string("no integer answered") : mms::failureText(p)) + "); " +
                         model_name(int32_t(m)) + " from the model is used");
            } else {
                store_object(*model, ctl_model, rr->results[0].data);
            }
            return decide(c, int32_t(m));
        }
        if (step != Step::Write) return;
        const auto *wr = service_of<mms::WriteResponse>(p);
        if (!wr || wr->results.size() != 1 || !wr->results[0].success) {
            std::string why = !wr ? mms::failureText(p)
                              : wr->results.size() != 1
                                  ? "an answer with " + std::to_string(wr->results.size()) + " results"
                                  : mms::dataAccessErrorName(wr->results[0].failure);
            if (have_error) why += ", AddCause " + add_cause_text(error.cause);
            return fail(c, "refused: " + why, have_error ? int32_t(error.cause) : -1);
        }
        const bool enhanced = model_value == kDirectEnhanced || model_value == kSboEnhanced;
        if (!selecting() && enhanced && early != 0) {
            terminated(c, early > 0, error);
            return;
        }
        if (selecting() || !enhanced) {
            ctrl.u.ctrlCtrl.result = 0;
            reported = true;
            return finish(c, 0);
        }
        step = Step::Termination;  // 7-2 20.5: the operation completes with its CommandTermination
    }

    // LastApplError names the object written; devices write it with or
    // without the LD part.
    bool names_us(const std::string &cntrl, const std::string &ref) const {
        if (cntrl == ref) return true;
        const size_t slash = ref.find('/');
        return slash != std::string::npos && cntrl == ref.substr(slash + 1);
    }

    bool on_information(JobCtx &c, const mms::InformationReport &rep) override {
        if (step == Step::Model || rep.access.isListName) return false;
        const int at = appl_error_index(rep);
        const std::string oper_ref = co_ref + "$Oper";
        if (at >= 0) {
            if (size_t(at) >= rep.results.size() || !rep.results[size_t(at)].success) return false;
            ApplError e;
            std::string why;
            if (!decode_appl_error(rep.results[size_t(at)].data, e, why)) {
                log_line(c.server.label() + ": LastApplError during " + what() + " of " + co_ref +
                         " has another form (" + why + "); ignored");
                return false;
            }
            const bool termination = rep.access.variables.size() == 2;  // LastApplError and the Oper
            if (!names_us(e.cntrl_obj, termination ? oper_ref : target_ref)) return false;
            if (e.ctl_num >= 0 && e.ctl_num != ctrl.u.ctrlCtrl.ctrl_val.ctlNum) return false;
            if (step == Step::Write) {  // ahead of the refusal of our write, or of its response
                have_error = true;
                error = e;
                if (termination) early = -1;
                return true;
            }
            return terminated(c, false, e);
        }
        // Positive CommandTermination: the Oper alone.
        if (rep.access.variables.size() != 1) return false;
        const mms::ObjectName &n = rep.access.variables[0].name;
        if (n.scope != mms::ObjectName::Scope::Domain || n.domain + "/" + n.item != oper_ref) return false;
        if (step == Step::Write) {
            early = 1;
            return true;
        }
        return terminated(c, true, ApplError{});
    }

    bool terminated(JobCtx &c, bool positive, const ApplError &e) {
        if (positive) {
            ctrl.u.ctrlCtrl.result = 0;
            reported = true;
            finish(c, 0);
        } else {
            fail(c, "negative command termination, AddCause " + add_cause_text(e.cause), int32_t(e.cause));
        }
        return true;
    }

    void on_end() override {
        if (reported) return;
        const char *awaited = step == Step::Termination ? "its command termination" : "the device's answer";
        log_line("server " + std::to_string(ctrl.srv_id) + ": " + what() + " of " + co_ref + " failed: " + awaited +
                 " did not come within " + std::to_string(int(ctrl.timeout)) + " s, or the connection ended");
    }
};

// ---- log query -----------------------------------------------------------------------

// One logged value handed over: its record and the storage it points to.
struct LogRow {
    AC_QLOGENTRY_CTRL rec{};
    AI_OBJ_VAL vals[2]{};
    std::vector<AI_OBJ_ID> ids[2];
    std::vector<AI_PRIM_VAL> prims[2];
    std::vector<uint8_t> bytes[2];
};

void leaves(const Data &d, std::vector<const Data *> &out, unsigned depth) {
    if (depth > mms::kMaxDataDepth) return;
    if (d.kind() == Data::Kind::Structure || d.kind() == Data::Kind::Array) {
        for (const Data &x : d.items()) leaves(x, out, depth + 1);
        return;
    }
    out.push_back(&d);
}

// A value of the device in the primitives of object `id`, without touching
// the model's values (a logged value is history).
bool convert(const model::IedModel &m, AI_OBJ_ID id, const Data &d, LogRow &row, int slot, std::string &why) {
    std::vector<model::Primitive> prims;
    if (!m.primitives(id, prims) || prims.empty()) {
        why = "the object has no primitives";
        return false;
    }
    std::vector<const Data *> ls;
    leaves(d, ls, 0);
    if (ls.size() != prims.size()) {
        why = std::to_string(ls.size()) + " values for " + std::to_string(prims.size()) + " primitives";
        return false;
    }
    size_t total = 0;
    for (const model::Primitive &p : prims) total += size_t(p.size);
    row.bytes[slot].assign(total, 0);
    size_t off = 0;
    for (size_t k = 0; k < prims.size(); ++k) {
        const int16_t el_len = prims[k].rt ? prims[k].rt->u.p.el_len : 0;
        if (int32_t e = model::stored_from_data(prims[k].type, el_len, *ls[k], row.bytes[slot].data() + off,
                                                model::ValueSource::Device)) {
            why = "component " + std::to_string(k) + ": " + mms::dataAccessErrorName(e);
            return false;
        }
        row.ids[slot].push_back(prims[k].id);
        row.prims[slot].push_back(AI_PRIM_VAL{prims[k].type, prims[k].size, nullptr});
        off += size_t(prims[k].size);
    }
    off = 0;
    for (AI_PRIM_VAL &p : row.prims[slot]) {
        p.data = row.bytes[slot].data() + off;
        off += size_t(p.size);
    }
    row.vals[slot] = AI_OBJ_VAL{id, row.ids[slot].data(), row.prims[slot].data(), int32_t(prims.size())};
    return true;
}

class QueryLogJob : public Job {
public:
    model::IedModel *model = nullptr;
    AC_QLOG_REQ_INFO req{};
    std::string lcb_ref;
    mms::ObjectName journal;
    std::optional<mms::JournalRangeStop> stop;
    std::deque<LogRow> rows;
    std::vector<AC_QLOGENTRY_CTRL> recs;
    size_t pages = 0;
    std::vector<uint8_t> last_entry;  // the last entry of the previous answer
    bool complete = true;             // every entry could be handed over
    bool annotated = false;           // annotation entries seen (they carry no values)

    bool after() const { return ctrl.op == IEC61850_OP_QUERYLOGA; }
    static bool zero(const EntryTime_TDEF &t) { return t.btime6_ms == 0 && t.btime6_days == 0; }
    static mms::BinaryTime btime(const EntryTime_TDEF &t) {
        return mms::BinaryTime{uint32_t(t.btime6_ms), uint16_t(t.btime6_days)};
    }

    void fail(JobCtx &c, const std::string &why) {
        log_line(c.server.label() + ": log query of " + lcb_ref + " failed: " + why);
        finish(c, 1);
    }

    void start(JobCtx &c) override {
        // The log is the journal LD/LogName that LogRef names.
        std::string log_ref;
        const AI_OBJ_ID attr = model->child(req.lcb_id, "LogRef");
        if (attr < 0 || model->read_text(attr, log_ref) != 0 || log_ref.empty())
            return fail(c, "its LogRef is empty; read the block first");
        const size_t slash = log_ref.find('/');
        journal = slash == std::string::npos
                      ? mms::ObjectName::dom(lcb_ref.substr(0, lcb_ref.find('/')), log_ref)
                      : mms::ObjectName::dom(log_ref.substr(0, slash), log_ref.substr(slash + 1));
        if (journal.domain.empty() || journal.item.empty() || journal.domain.size() > mms::kMaxIdentifierLength ||
            journal.item.size() > mms::kMaxIdentifierLength)
            return fail(c, "LogRef '" + log_ref + "' names no journal");
        mms::ReadJournalRequest r;
        r.journal = journal;
        if (after()) {
            r.startAfter = mms::JournalStartAfter{btime(req.start_time),
                                                  std::vector<uint8_t>(req.startEntryID, req.startEntryID + 8)};
        } else if (!zero(req.start_time)) {
            r.rangeStart = mms::JournalRangeStart{false, btime(req.start_time), {}};
        }
        if (!zero(req.stop_time)) stop = mms::JournalRangeStop{false, btime(req.stop_time), 0};
        r.rangeStop = stop;
        send(c, std::move(r));
    }

    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        const auto *r = service_of<mms::ReadJournalResponse>(p);
        if (!r) return fail(c, "ReadJournal of " + journal.domain + "/" + journal.item + ": " + mms::failureText(p));
        for (const mms::JournalEntry &e : r->entries) take(c, e);
        if (rows.size() > kMaxLogRows) {
            complete = false;
            log_line(c.server.label() + ": log query of " + lcb_ref + " stopped at " + std::to_string(kMaxLogRows) +
                     " values");
            return finish(c, 1);
        }
        if (!r->moreFollows) return finish(c, complete ? 0 : 1);
        if (r->entries.empty()) return fail(c, "the device says more entries follow but sent none");
        if (r->entries.back().entryId == last_entry)
            return fail(c, "the device answered the entries after the last one with that one again");
        last_entry = r->entries.back().entryId;
        if (++pages >= kMaxLogPages) return fail(c, "more than " + std::to_string(kMaxLogPages) + " answers");
        // ISO 9506-2: continue after the last entry of this answer.
        mms::ReadJournalRequest next;
        next.journal = journal;
        next.startAfter = mms::JournalStartAfter{r->entries.back().occurrenceTime, r->entries.back().entryId};
        next.rangeStop = stop;
        send(c, std::move(next));
    }

    void take(JobCtx &c, const mms::JournalEntry &e) {
        if (e.annotation) {
            if (!annotated)
                log_line(c.server.label() + ": log of " + lcb_ref + " holds annotations; they carry no values");
            annotated = true;
            return;
        }
        if (e.entryId.size() != sizeof(EntryID_TDEF)) {
            log_line(c.server.label() + ": log of " + lcb_ref + ": an entry with an EntryID of " +
                     std::to_string(e.entryId.size()) + " octets left out (IEC 61850 uses 8)");
            complete = false;
            return;
        }
        LogRow *last = nullptr;
        for (const mms::JournalVariable &v : e.variables) {
            // IEC 61850-8-1: each value is followed by its ReasonCode.
            if (v.tag == "ReasonCode" && last != nullptr && last->rec.obj_num == 1) {
                last->bytes[1].assign(AI_SIZE_TRGC, 0);
                if (model::stored_from_data(VAL_TYPE_TRGC, 0, v.value, last->bytes[1].data(),
                                            model::ValueSource::Device) != 0) {
                    log_line(c.server.label() + ": log of " + lcb_ref +
                             ": a ReasonCode that is no bit string of up to " + std::to_string(AI_BITS_CAP_TRGC) +
                             " bits left out");
                    last->rec.result = 1;
                    continue;
                }
                last->prims[1].push_back(AI_PRIM_VAL{VAL_TYPE_TRGC, AI_SIZE_TRGC, last->bytes[1].data()});
                last->ids[1].push_back(AI_OBJ_ID_NONE);
                last->vals[1] = AI_OBJ_VAL{AI_OBJ_ID_NONE, last->ids[1].data(), last->prims[1].data(), 1};
                last->rec.obj_num = 2;
                continue;
            }
            rows.emplace_back();
            LogRow &row = rows.back();
            std::memcpy(row.rec.EntryID, e.entryId.data(), sizeof(EntryID_TDEF));
            row.rec.TimeOfEntry = EntryTime_TDEF{int32_t(e.occurrenceTime.msOfDay),
                                                 int32_t(e.occurrenceTime.days.value_or(0))};
            AI_OBJ_ID id = model->find(v.tag);
            if (id < 0 && v.tag.find('/') == std::string::npos) id = model->find(journal.domain + "/" + v.tag);
            row.rec.obj_ref = id;
            row.rec.obj_num = 1;
            row.vals[0] = AI_OBJ_VAL{id, nullptr, nullptr, 0};
            std::string why;
            if (id < 0) why = "the model has no such object";
            if (id >= 0 && !convert(*model, id, v.value, row, 0, why))
                row.vals[0] = AI_OBJ_VAL{id, nullptr, nullptr, 0};
            if (!why.empty()) {
                row.rec.result = 1;
                log_line(c.server.label() + ": log of " + lcb_ref + ": value of '" + v.tag.substr(0, 129) +
                         "' not taken: " + why);
            }
            last = &row;
        }
    }

    void on_end() override {
        recs.clear();
        for (LogRow &r : rows) {
            r.rec.obj_vals = r.vals;
            recs.push_back(r.rec);
        }
        ctrl.u.qlogCtrl.entry_num = int32_t(recs.size());
        ctrl.u.qlogCtrl.entry_info = recs.empty() ? nullptr : recs.data();
        ctrl.u.qlogCtrl.result = ctrl.result;
    }
};

}  // namespace

int control(int srv, const AC_CTRL_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out, IEC61850_OP op) {
    auto e = current_engine();
    model::IedModel *m = e ? model_of(*e, srv) : nullptr;
    if (!m || !info || !m->valid(info->ctrl_obj) || m->fc(info->ctrl_obj) != model::FC_CO ||
        m->type(info->ctrl_obj) != OBJECT_TYPE_FCD)
        return 1;
    auto j = std::make_unique<ControlJob>();
    j->model = m;
    j->co = info->ctrl_obj;
    j->co_ref = m->reference(info->ctrl_obj);
    j->target = m->child(info->ctrl_obj, op == IEC61850_OP_SELVAL ? "SBOw" : "Oper");
    if (j->target < 0) return 1;  // not controllable (Oper), or no select with value (SBOw)
    j->target_ref = m->reference(j->target);
    // LD/LN$CO$DO -> LD/LN$CF$DO$ctlModel
    const size_t fc_at = j->co_ref.find("$CO$");
    if (fc_at != std::string::npos)
        j->ctl_model = m->find(j->co_ref.substr(0, fc_at) + "$CF$" + j->co_ref.substr(fc_at + 4) + "$ctlModel");
    j->ctrl.op = op;
    j->ctrl.u.ctrlCtrl.ctrl_obj = info->ctrl_obj;
    j->ctrl.u.ctrlCtrl.ctrl_val = info->ctrl_val;
    j->ctrl.u.ctrlCtrl.result = -1;
    j->ctrl.u_ac_req_done = info->u_ctrl_done;
    return e->submit(srv, std::move(j), timeout_s, out);
}

int query_log(int srv, const AC_QLOG_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out, IEC61850_OP op) {
    auto e = current_engine();
    model::IedModel *m = e ? model_of(*e, srv) : nullptr;
    if (!m || !info || !m->valid(info->lcb_id) || m->type(info->lcb_id) != OBJECT_TYPE_CB ||
        m->fc(info->lcb_id) != model::FC_LG)
        return 1;
    auto j = std::make_unique<QueryLogJob>();
    j->model = m;
    j->req = *info;
    j->lcb_ref = m->reference(info->lcb_id);
    j->ctrl.op = op;
    AC_QLOG_CTRL &q = j->ctrl.u.qlogCtrl;
    q.dom_id = info->lcb_id;
    q.start_time = info->start_time;
    q.stop_time = info->stop_time;
    std::memcpy(q.startEntryID, info->startEntryID, sizeof q.startEntryID);
    q.result = 1;
    j->ctrl.u_ac_req_done = info->u_qlog_done;
    return e->submit(srv, std::move(j), timeout_s, out);
}

}  // namespace zv::client
