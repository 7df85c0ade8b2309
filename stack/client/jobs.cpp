// The request jobs: read, write, report enabling, file services (controls
// and log queries: control_jobs.cpp).
#include "codec.h"
#include "engine.h"
#include "client/file_names.h"

#include "mms/data.h"
#include "model/values.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace zv::client {

namespace {

using mms::Data;

const mms::ConfirmedResponse *response_of(const mms::Pdu &p) { return std::get_if<mms::ConfirmedResponse>(&p); }
template <class T>
const T *service_of(const mms::Pdu &p) {
    const mms::ConfirmedResponse *r = response_of(p);
    return r ? std::get_if<T>(&r->service) : nullptr;
}

std::string describe_failure(const mms::Pdu &p) { return mms::failureText(p); }

// Bounded copy of a caller's text: false when null or without a NUL within
// the 256-byte field the request control keeps it in.
bool take_name(const char *src, std::string &out) {
    if (src == nullptr) return false;
    const size_t n = strnlen(src, AC_FILE_NAME_LEN);
    if (n == 0 || n >= AC_FILE_NAME_LEN) return false;
    out.assign(src, n);
    return true;
}

std::string join_name(const mms::FileName &n) {
    std::string s;
    for (const auto &part : n) s += part;
    return s;
}

mms::VariableRef spec_of(const model::IedModel &m, AI_OBJ_ID id, bool &ok) {
    mms::VariableRef v;
    ok = variable_of(m.reference(id), v);  // array elements by alternate access
    return v;
}

// Stored value of a one-primitive object.
bool stored_value(const model::IedModel &m, AI_OBJ_ID id, AI_VAL_TYPE &type, std::vector<uint8_t> &out) {
    std::vector<model::Primitive> prims;
    if (!m.primitives(id, prims) || prims.size() != 1) return false;
    std::shared_lock<std::shared_mutex> lock(m.value_mutex());
    type = prims[0].type;
    out.assign(prims[0].data, prims[0].data + prims[0].size);
    return true;
}

// Data of an object from the values the model holds.
bool model_data(const model::IedModel &m, AI_OBJ_ID id, Data &out) {
    std::shared_lock<std::shared_mutex> lock(m.value_mutex());
    return model::object_data(m, id, out);
}

// True when the object is a control block or holds one (an LN, an FC of
// one): its layout on the device may differ from the SCL's.
bool holds_cb(const model::IedModel &m, AI_OBJ_ID id) {
    const AI_OBJ_TYPE t = m.type(id);
    if (t == OBJECT_TYPE_CB) return true;
    if (t != OBJECT_TYPE_LN && t != OBJECT_TYPE_FCN) return false;
    const model::LnType *lt = m.ln_type(m.ln_of(id));
    const RUNTIME_TYPE *first = nullptr;
    int32_t num = 0;
    if (lt == nullptr || !m.type_of(id, first, num)) return false;
    const size_t from = size_t(first - lt->rt.data());
    for (size_t i = from; i < from + size_t(num) && i < lt->elems.size(); ++i)
        if (lt->elems[i].kind == model::ElemKind::Cb) return true;
    return false;
}

// Names of a structure type's components, or of an object's children.
std::vector<std::string> component_names(const mms::TypeDescription &t) {
    std::vector<std::string> out;
    for (const auto &c : t.components) out.push_back(c.name);
    return out;
}
std::vector<std::string> child_names(const model::IedModel &m, AI_OBJ_ID id) {
    std::vector<std::string> out;
    const AI_OBJ_ID *kids = nullptr;
    int32_t n = 0;
    if (m.children(id, kids, n))
        for (int32_t k = 0; k < n; ++k) out.push_back(m.name(kids[k]));
    return out;
}
std::string joined(const std::vector<std::string> &v) {
    std::string s;
    for (const std::string &x : v) s += (s.empty() ? "" : ", ") + x;
    return s;
}

// A job that first learns, once per association, how the device lays out
// the objects it works on (GetVariableAccessAttributes). Devices differ by
// edition and optional attributes; values are then read, written and stored
// by component name.
class TypedJob : public Job {
public:
    model::IedModel *model = nullptr;

protected:
    std::vector<AI_OBJ_ID> need_types;
    size_t type_next = 0;
    bool asking_type = false;

    // Asks for the next type this association does not know yet; true while
    // a question is out.
    bool ask_types(JobCtx &c) {
        while (type_next < need_types.size()) {
            const AI_OBJ_ID id = need_types[type_next];
            mms::ObjectName n;
            if (c.channel.types.count(id) || !object_name(model->reference(id), n)) {
                ++type_next;
                continue;
            }
            asking_type = true;
            send(c, mms::GetVariableAccessAttributesRequest{n});
            return true;
        }
        asking_type = false;
        return false;
    }

    // Takes the answer to a type question; false when `p` answers something else.
    bool take_type(JobCtx &c, const mms::Pdu &p) {
        if (!asking_type) return false;
        asking_type = false;
        const AI_OBJ_ID id = need_types[type_next++];
        const std::string ref = model->reference(id);
        const auto *r = service_of<mms::GetVariableAccessAttributesResponse>(p);
        if (r == nullptr) {
            log_line(c.server.label() + ": the type of " + ref + " was not given (" + describe_failure(p) +
                     "); its SCL layout is used");
            c.channel.types[id] = nullptr;
            return true;
        }
        c.channel.types[id] = std::make_shared<const mms::TypeDescription>(r->type);
        if (model->type(id) == OBJECT_TYPE_CB && r->type.kind == mms::TypeDescription::Kind::Structure) {
            const std::vector<std::string> device = component_names(r->type), scl = child_names(*model, id);
            if (device != scl && c.server.layout_warned.insert(id).second)
                log_line("warning: " + c.server.label() + ": " + ref + " on the device has " + joined(device) +
                         "; the SCL says " + joined(scl) + ". Components are taken by name.");
        }
        return true;
    }

    const mms::TypeDescription *device_type(JobCtx &c, AI_OBJ_ID id) const {
        auto it = c.channel.types.find(id);
        return it == c.channel.types.end() ? nullptr : it->second.get();
    }

    // Stores a value the device sent for `id`, by its own type when known.
    int32_t store(JobCtx &c, AI_OBJ_ID id, const Data &d) const {
        if (const mms::TypeDescription *t = device_type(c, id)) return model::store_described(*model, id, *t, d);
        return store_object(*model, id, d);
    }

    // One attribute per write: IEC 61850-8-1 servers refuse a control block
    // written as one value. False when the job ended instead.
    bool write_one(JobCtx &c, AI_OBJ_ID attr, const Data &value) {
        bool ok = false;
        mms::VariableRef v = spec_of(*model, attr, ok);
        if (!ok) {
            finish(c, 1);
            return false;
        }
        writing = attr;
        writing_value = value;
        mms::WriteRequest w;
        w.access = mms::VariableAccess::list({v});
        w.data.push_back(value);
        return send(c, std::move(w));
    }
    // Outcome of the write in flight: empty when taken (the model then holds
    // the value), else the device's reason; last_write_error keeps the
    // DataAccessError (-1 for other failures).
    std::string write_outcome(const mms::Pdu &p) {
        last_write_error = -1;
        const auto *wr = service_of<mms::WriteResponse>(p);
        if (!wr) return describe_failure(p);
        if (wr->results.size() != 1) return "an answer with " + std::to_string(wr->results.size()) + " results";
        if (!wr->results[0].success) {
            last_write_error = wr->results[0].failure;
            return mms::dataAccessErrorName(wr->results[0].failure);
        }
        store_object(*model, writing, writing_value);
        return std::string();
    }
    AI_OBJ_ID writing = -1;
    Data writing_value;
    int32_t last_write_error = -1;

    // Whether the device has component `name` of control block `cb`.
    bool device_has(JobCtx &c, AI_OBJ_ID cb, const std::string &name) const {
        if (model->child(cb, name) < 0) return false;
        const mms::TypeDescription *t = device_type(c, cb);
        if (t == nullptr || t->kind != mms::TypeDescription::Kind::Structure) return true;
        for (const auto &comp : t->components)
            if (comp.name == name) return true;
        return false;
    }
};

// ---- read ---------------------------------------------------------------------

class ReadJob : public TypedJob {
public:
    std::vector<AI_OBJ_ID> ids;
    std::vector<int32_t> results;
    std::vector<AI_OBJ_VAL> vals;  // filled at the end (zero: nothing to release)
    // The read requests, in order: the objects that are variables in one
    // request (`vars`, when there are any), then each data set by its list
    // name (`lists`). Indexes into ids.
    std::vector<size_t> vars, lists;
    size_t step = 0;

    void prepare() {
        results.assign(ids.size(), 1);
        vals.assign(ids.size(), AI_OBJ_VAL{});
        ctrl.op = IEC61850_OP_READ;
        ctrl.u.rdCtrl.obj_ids = ids.data();
        ctrl.u.rdCtrl.obj_type = model->type(ids[0]);
        ctrl.u.rdCtrl.num_obj = int32_t(ids.size());
        ctrl.u.rdCtrl.obj_vals = vals.data();
        ctrl.u.rdCtrl.results = results.data();
    }

    void start(JobCtx &c) override {
        for (size_t i = 0; i < ids.size(); ++i) {
            const AI_OBJ_TYPE t = model->type(ids[i]);
            if (t == OBJECT_TYPE_DS) {
                lists.push_back(i);
            } else if (t == OBJECT_TYPE_LN || t == OBJECT_TYPE_FCN || t == OBJECT_TYPE_FCD || t == OBJECT_TYPE_FCDA ||
                       t == OBJECT_TYPE_CB) {
                vars.push_back(i);
                if (holds_cb(*model, ids[i])) need_types.push_back(ids[i]);
            }  // IED, LD, unknown: no MMS variable, stays a failure
        }
        if (ask_types(c)) return;
        next(c);
    }

    static constexpr size_t kVariables = ~size_t(0);
    size_t steps() const { return (vars.empty() ? 0 : 1) + lists.size(); }
    // The data set that step `s` reads (an index into ids), or kVariables.
    size_t list_of(size_t s) const { return vars.empty() ? lists[s] : s == 0 ? kVariables : lists[s - 1]; }

    void next(JobCtx &c) {
        while (step < steps()) {
            mms::ReadRequest r;
            bool ok = true;
            const size_t list = list_of(step);
            if (list != kVariables) {
                mms::ObjectName n;
                ok = object_name(model->reference(ids[list]), n);
                r.access = mms::VariableAccess::named(n);
            } else {
                r.access.variables.reserve(vars.size());
                for (size_t i : vars) r.access.variables.push_back(spec_of(*model, ids[i], ok));
            }
            if (ok) {
                send(c, std::move(r));
                return;
            }
            ++step;
        }
        bool all = true;
        for (int32_t r : results) all = all && r == 0;
        finish(c, all ? 0 : 1);
    }

    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        if (take_type(c, p)) {
            if (!ask_types(c)) next(c);
            return;
        }
        const auto *rr = service_of<mms::ReadResponse>(p);
        const size_t list = list_of(step);
        const size_t first = list != kVariables ? list : vars[0];
        if (!rr) {
            log_line(c.server.label() + ": read of " + model->reference(ids[first]) +
                     " failed: " + describe_failure(p));
        } else if (list != kVariables) {
            AI_DS_CTRL *ds = model->data_set(ids[list]);
            if (ds && rr->results.size() == size_t(ds->mb_num)) {
                // A member that failed does not keep the ones after it from
                // being stored.
                bool all = true;
                for (size_t k = 0; k < rr->results.size(); ++k) {
                    const bool stored = rr->results[k].success &&
                                        store_object(*model, ds->mb_ids[k], rr->results[k].data) == 0;
                    all = all && stored;
                }
                results[list] = all ? 0 : 1;
            }
        } else if (rr->results.size() == vars.size()) {
            for (size_t k = 0; k < vars.size(); ++k) {
                const mms::AccessResult &a = rr->results[k];
                const AI_OBJ_ID id = ids[vars[k]];
                int32_t e = a.success ? store(c, id, a.data) : a.failure;
                results[vars[k]] = e == 0 ? 0 : 1;
                if (e != 0)
                    log_line(c.server.label() + ": read of " + model->reference(id) + " failed: " +
                             (a.success ? "the value does not fit the model (" + mms::dataAccessErrorName(e) + ")"
                                        : mms::dataAccessErrorName(e)));
            }
        } else {
            log_line(c.server.label() + ": read of " + model->reference(ids[first]) + " answered " +
                     std::to_string(rr->results.size()) + " results for " + std::to_string(vars.size()) + " objects");
        }
        ++step;
        next(c);
    }

    void on_end() override {
        for (size_t i = 0; i < ids.size(); ++i) model->read(ids[i], &vals[i]);
    }
    void release() override {
        for (AI_OBJ_VAL &v : vals) model::IedModel::release_values(&v);
    }
};

// ---- write --------------------------------------------------------------------

class WriteJob : public TypedJob {
public:
    std::vector<AI_OBJ_VAL> vals;
    std::vector<std::vector<AI_OBJ_ID>> prim_ids;
    std::vector<std::vector<AI_PRIM_VAL>> prims;
    std::vector<std::vector<std::vector<uint8_t>>> bytes;
    std::vector<int32_t> results;
    std::vector<size_t> sent;
    std::vector<Data> sent_data;
    // Control blocks are written one attribute at a time, only what differs
    // from the values last read, in the order an enable takes.
    std::vector<size_t> blocks;
    struct AttrWrite {
        size_t obj;
        AI_OBJ_ID attr;
        Data value;
    };
    std::vector<AttrWrite> attr_writes;
    size_t attr_next = 0;
    bool plain_out = false;

    void take(const AI_OBJ_VAL *src, int32_t n) {
        vals.resize(size_t(n));
        prim_ids.resize(size_t(n));
        prims.resize(size_t(n));
        bytes.resize(size_t(n));
        results.assign(size_t(n), 1);
        for (int32_t i = 0; i < n; ++i) {
            const AI_OBJ_VAL &v = src[i];
            const int32_t pn = v.prim_vals && v.prim_num > 0 && v.prim_num <= 100000 ? v.prim_num : 0;
            for (int32_t k = 0; k < pn; ++k) {
                const AI_PRIM_VAL &pv = v.prim_vals[k];
                const size_t size = model::stored_size(pv.type);
                bytes[size_t(i)].emplace_back(size);
                if (pv.data && size && size_t(pv.size) == size)
                    std::memcpy(bytes[size_t(i)].back().data(), pv.data, size);
                prims[size_t(i)].push_back(
                    AI_PRIM_VAL{pv.type, pv.data && size_t(pv.size) == size ? pv.size : -1, nullptr});
                prim_ids[size_t(i)].push_back(v.prim_ids ? v.prim_ids[k] : AI_OBJ_ID_NONE);
            }
            for (int32_t k = 0; k < pn; ++k) prims[size_t(i)][size_t(k)].data = bytes[size_t(i)][size_t(k)].data();
            vals[size_t(i)] = AI_OBJ_VAL{v.obj_id, prim_ids[size_t(i)].empty() ? nullptr : prim_ids[size_t(i)].data(),
                                         prims[size_t(i)].empty() ? nullptr : prims[size_t(i)].data(), pn};
        }
        ctrl.op = IEC61850_OP_WRITE;
        ctrl.u.wrCtrl.obj_vals = vals.data();
        ctrl.u.wrCtrl.num_obj = n;
        ctrl.u.wrCtrl.results = results.data();
    }

    void start(JobCtx &c) override {
        for (size_t i = 0; i < vals.size(); ++i)
            if (model->type(vals[i].obj_id) == OBJECT_TYPE_CB) {
                blocks.push_back(i);
                need_types.push_back(vals[i].obj_id);
            }
        if (ask_types(c)) return;
        begin(c);
    }

    void begin(JobCtx &c) {
        for (size_t i : blocks) plan_block(c, i);
        mms::WriteRequest w;
        std::vector<mms::VariableRef> specs;
        for (size_t i = 0; i < vals.size(); ++i) {
            if (std::find(blocks.begin(), blocks.end(), i) != blocks.end()) continue;
            Data d;
            bool ok = false;
            mms::VariableRef v = spec_of(*model, vals[i].obj_id, ok);
            if (!ok || !object_data(*model, vals[i].obj_id, vals[i].prim_vals, vals[i].prim_num, d)) {
                log_line(c.server.label() + ": write of object " + std::to_string(vals[i].obj_id) +
                         ": no value of its type; not sent");
                continue;
            }
            specs.push_back(std::move(v));
            w.data.push_back(d);
            sent.push_back(i);
            sent_data.push_back(std::move(d));
        }
        if (!sent.empty()) {
            plain_out = true;
            w.access = mms::VariableAccess::list(std::move(specs));
            send(c, std::move(w));
            return;
        }
        next_attr(c);
    }

    // Rank of an attribute in the sequence: reservation, configuration,
    // resumption, enable, general interrogation.
    static int rank(const std::string &n) {
        static const char *const kOrder[] = {"Resv",  "ResvTms", "RptID",  "DatSet",   "OptFlds",
                                             "BufTm", "TrgOps",  "IntgPd", "PurgeBuf", "EntryID"};
        for (size_t k = 0; k < std::size(kOrder); ++k)
            if (n == kOrder[k]) return int(k) * 10;
        if (n == "RptEna" || n == "LogEna" || n == "GoEna" || n == "SvEna") return 200;
        if (n == "GI") return 210;
        return 150;
    }
    static bool read_only(const std::string &n) {
        static const char *const kDevices[] = {"ConfRev", "SqNum",   "TimeofEntry", "Owner",  "OldEntrTm", "NewEntrTm",
                                               "OldEntr", "NewEntr", "NumOfSG",     "LActTm", "NdsCom"};
        return std::find_if(std::begin(kDevices), std::end(kDevices), [&](const char *d) { return n == d; }) !=
               std::end(kDevices);
    }

    void plan_block(JobCtx &c, size_t i) {
        const AI_OBJ_ID cb = vals[i].obj_id;
        const std::string ref = model->reference(cb);
        const AI_OBJ_ID *kids = nullptr;
        int32_t nk = 0;
        model->children(cb, kids, nk);
        struct Planned {
            int rank;
            int pos;
            AI_OBJ_ID attr;
            Data value;
        };
        std::vector<Planned> plan;
        int32_t off = 0;
        bool enabled_now = false, enable_wanted = false, config = false;
        for (int32_t k = 0; k < nk; ++k) {
            std::vector<model::Primitive> ps;
            model->primitives(kids[k], ps);
            const int32_t n = int32_t(ps.size());
            Data want, have;
            if (off + n > vals[i].prim_num || !object_data(*model, kids[k], vals[i].prim_vals + off, n, want) ||
                !model_data(*model, kids[k], have)) {
                log_line(c.server.label() + ": write of " + ref + ": the values do not fit its attributes; not sent");
                return;
            }
            off += n;
            const std::string name = model->name(kids[k]);
            const bool is_ena = rank(name) == 200;
            if (is_ena) {
                enabled_now = have.kind() == Data::Kind::Boolean && have.asBool();
                enable_wanted = want.kind() == Data::Kind::Boolean && want.asBool();
            }
            if (want == have || read_only(name) || !device_has(c, cb, name)) continue;
            if (!is_ena && name != "GI" && name != "Resv" && name != "ResvTms") config = true;
            plan.push_back(Planned{rank(name), int(k), kids[k], std::move(want)});
        }
        // An enabled block takes no configuration: disable it first and
        // enable it again at the end when it is to stay enabled.
        // The block's enable: RptEna, LogEna, GoEna or SvEna.
        AI_OBJ_ID ena = -1;
        for (int32_t k = 0; k < nk && ena < 0; ++k)
            if (rank(model->name(kids[k])) == 200) ena = kids[k];
        if (ena >= 0 && enabled_now && config) {
            plan.erase(std::remove_if(plan.begin(), plan.end(), [&](const Planned &p) { return p.attr == ena; }),
                       plan.end());
            plan.push_back(Planned{-10, -1, ena, Data::boolean(false)});
            if (enable_wanted) plan.push_back(Planned{200, -1, ena, Data::boolean(true)});
        }
        std::stable_sort(plan.begin(), plan.end(), [](const Planned &a, const Planned &b) {
            return a.rank != b.rank ? a.rank < b.rank : a.pos < b.pos;
        });
        for (Planned &p : plan) attr_writes.push_back(AttrWrite{i, p.attr, std::move(p.value)});
        results[i] = 0;  // until one of its writes is refused
    }

    void next_attr(JobCtx &c) {
        if (attr_next < attr_writes.size()) {
            const AttrWrite &a = attr_writes[attr_next];
            write_one(c, a.attr, a.value);
            return;
        }
        bool all = true;
        for (int32_t r : results) all = all && r == 0;
        finish(c, all ? 0 : 1);
    }

    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        if (take_type(c, p)) {
            if (!ask_types(c)) begin(c);
            return;
        }
        if (plain_out) {
            plain_out = false;
            const auto *wr = service_of<mms::WriteResponse>(p);
            if (wr && wr->results.size() == sent.size()) {
                for (size_t k = 0; k < sent.size(); ++k)
                    if (wr->results[k].success) {
                        results[sent[k]] = 0;
                        store_object(*model, vals[sent[k]].obj_id, sent_data[k]);
                    } else {
                        log_line(c.server.label() + ": write of " + model->reference(vals[sent[k]].obj_id) +
                                 " refused: " + mms::dataAccessErrorName(wr->results[k].failure));
                    }
            } else {
                log_line(c.server.label() + ": write failed: " + describe_failure(p));
            }
            return next_attr(c);
        }
        const AttrWrite &a = attr_writes[attr_next++];
        const std::string why = write_outcome(p);
        if (!why.empty()) {
            results[a.obj] = 1;
            log_line(c.server.label() + ": write of " + model->reference(a.attr) + " refused: " + why);
        } else if (model->fc(vals[a.obj].obj_id) == model::FC_RP) {
            // IEC 61850-7-2 17.3: a URCB written by a client is reserved for it.
            if (model->name(a.attr) == std::string("Resv") &&
                !(a.value.kind() == Data::Kind::Boolean && a.value.asBool()))
                c.channel.reserved.erase(vals[a.obj].obj_id);
            else
                c.channel.reserved.insert(vals[a.obj].obj_id);
        }
        next_attr(c);
    }
};

// ---- report enabling ---------------------------------------------------------------

// IEC 61850-8-1 17.2.2/17.3.2 with 7-2 17.2/17.3, as standard servers take
// it: learn the block's layout, read it, then one attribute per write:
// reserve a URCB; write OptFlds, TrgOps, IntgPd where they differ and the
// SCL lets them change (a BRCB purges its buffer on such writes, so nothing
// is written needlessly); resume a BRCB after the last EntryID received;
// enable; confirm RptEna by reading it back; GI. A refused setting is logged
// and does not stop the enable; a refused enable does.
class RptEnableJob : public TypedJob {
public:
    AC_ENAREPORT_INFO req{};
    bool buffered = false;
    std::string ref;
    enum class Kind { Write, ReadBack, Register };
    struct Action {
        Kind kind;
        AI_OBJ_ID attr = -1;
        Data value;
        bool required = false;
    };
    std::vector<Action> plan;
    size_t next_action = 0;
    bool reading = false;
    bool registered = false;  // this job put the block's RptID into enabled

    AI_OBJ_ID attr(const char *name) const { return model->child(req.rcb_id, name); }

    void start(JobCtx &c) override {
        ref = model->reference(req.rcb_id);
        mms::ObjectName n;
        if (!object_name(ref, n) || model->type(req.rcb_id) != OBJECT_TYPE_CB || attr("RptEna") < 0) {
            log_line(c.server.label() + ": report enable " + ref + ": not a report control block of the model");
            finish(c, 1);
            return;
        }
        buffered = model->fc(req.rcb_id) == model::FC_BR;
        need_types.push_back(req.rcb_id);
        if (ask_types(c)) return;
        read_block(c);
    }

    void fail(JobCtx &c, const std::string &why) {
        log_line(c.server.label() + ": report enable " + ref + ": " + why);
        if (registered) {  // not enabled after all: its reports are not ours
            for (auto it = c.server.enabled.begin(); it != c.server.enabled.end();)
                it = it->first.first == int(c.channel.which) && it->second == req.rcb_id ? c.server.enabled.erase(it)
                                                                                         : std::next(it);
        }
        finish(c, 1);
    }

    void read_block(JobCtx &c) {
        bool ok = false;
        mms::VariableRef v = spec_of(*model, req.rcb_id, ok);
        reading = true;
        send(c, mms::ReadRequest{false, mms::VariableAccess::list({v})});
    }

    Data current(const char *name) const {
        AI_VAL_TYPE t;
        std::vector<uint8_t> b;
        const AI_OBJ_ID id = attr(name);
        if (id < 0 || !stored_value(*model, id, t, b)) return Data();
        return primitive_data(t, b.data());
    }
    bool current_true(const char *name) const {
        const Data d = current(name);
        return d.kind() == Data::Kind::Boolean && d.asBool();
    }

    // The address in Owner when it is one (4 octets, or 16 with the IPv4 in
    // the last 4 as ::ffff:a.b.c.d); empty when unset or not an address.
    std::vector<uint8_t> owner_address(JobCtx &c) const {
        if (!device_has(c, req.rcb_id, "Owner")) return {};
        const Data d = current("Owner");
        if (d.kind() != Data::Kind::OctetString) return {};
        std::vector<uint8_t> o = d.asOctets();
        if (std::all_of(o.begin(), o.end(), [](uint8_t b) { return b == 0; })) return {};
        if (o.size() == 16) o.erase(o.begin(), o.begin() + 12);
        return o.size() == 4 ? o : std::vector<uint8_t>{};
    }
    static std::string dotted(const std::vector<uint8_t> &a) {
        std::string s;
        for (uint8_t b : a) s += (s.empty() ? "" : ".") + std::to_string(b);
        return s;
    }

    bool enabled_by_us(JobCtx &c) const {
        for (const auto &e : c.server.enabled)
            if (e.first.first == int(c.channel.which) && e.second == req.rcb_id) return true;
        return false;
    }

    bool may_change(const char *name) const {
        const scl::ReportSettings &rs = model->scl_ied().services.report;
        if (!rs.present) return true;  // nothing declared: the device decides
        const scl::SettingMode m = std::string(name) == "OptFlds"  ? rs.opt_fields
                                   : std::string(name) == "TrgOps" ? rs.trg_ops
                                   : std::string(name) == "IntgPd" ? rs.intg_pd
                                                                   : rs.buf_time;
        return m == scl::SettingMode::Dyn;
    }

    std::vector<Action> config_writes(JobCtx &c) const {
        std::vector<Action> out;
        uint8_t opt[AI_SIZE_OPTFLDS] = {};
        const int16_t ob = AI_BITS_OPTFLDS;
        std::memcpy(opt, &ob, 2);
        opt[2] = uint8_t(req.OptFlds & 0xFF);
        opt[3] = uint8_t((req.OptFlds >> 8) & 0xC0);
        uint8_t trg[AI_SIZE_TRGC + 1] = {};
        const int16_t tb = AI_BITS_TRGC;
        std::memcpy(trg, &tb, 2);
        trg[2] = uint8_t(req.TrgOps & 0xFC);
        const std::pair<const char *, Data> want[] = {{"OptFlds", primitive_data(VAL_TYPE_OPTFLDS, opt)},
                                                      {"TrgOps", primitive_data(VAL_TYPE_TRGC, trg)},
                                                      {"IntgPd", Data::unsignedInt(uint32_t(req.IntgPd))}};
        for (const auto &w : want) {
            const AI_OBJ_ID id = attr(w.first);
            if (id < 0 || !device_has(c, req.rcb_id, w.first)) continue;
            Data cur = current(w.first);
            if (cur.kind() == Data::Kind::Integer && w.second.kind() == Data::Kind::Unsigned && cur.asInt() >= 0)
                cur = Data::unsignedInt(uint64_t(cur.asInt()));
            if (cur == w.second) continue;
            auto refused = c.channel.refused_settings.find(req.rcb_id);
            if (refused != c.channel.refused_settings.end() && refused->second.count(w.first)) continue;
            if (!may_change(w.first)) {
                log_line(c.server.label() + ": report enable " + ref + ": " + w.first +
                         " differs but the SCL makes it fixed; not written");
                continue;
            }
            out.push_back(Action{Kind::Write, id, w.second, false});
        }
        return out;
    }

    // After the block was read: who holds it, and what to write.
    void make_plan(JobCtx &c) {
        const bool ena = current_true("RptEna");
        const bool ours = enabled_by_us(c);
        const std::vector<uint8_t> owner = owner_address(c);
        if (!owner.empty() && owner != c.channel.local_ip && (req.rptEna || ena))
            return fail(c, "held by another client (Owner " + dotted(owner) + ")");
        if (ena && !ours && owner.empty()) return fail(c, "enabled by another client");
        if (!req.rptEna) {
            plan.push_back(Action{Kind::Write, attr("RptEna"), Data::boolean(false), true});
            return run(c);
        }
        std::vector<Action> config = config_writes(c);
        if (ena && config.empty()) {  // enabled as asked already (by us): only the GI
            plan.push_back(Action{Kind::Register, -1, Data(), false});
        } else {
            if (ena) plan.push_back(Action{Kind::Write, attr("RptEna"), Data::boolean(false), true});
            // A device takes Resv only from the client holding the block or
            // when it is free: a refusal tells that another client holds it.
            if (!buffered && attr("Resv") >= 0 && device_has(c, req.rcb_id, "Resv") &&
                !(c.channel.reserved.count(req.rcb_id) && current_true("Resv")))
                plan.push_back(Action{Kind::Write, attr("Resv"), Data::boolean(true), true});
            plan.insert(plan.end(), config.begin(), config.end());
            auto t = c.server.tracks.find(req.rcb_id);
            if (buffered && attr("EntryID") >= 0 && t != c.server.tracks.end() && t->second.last_entry.size() == 8)
                plan.push_back(Action{Kind::Write, attr("EntryID"), Data::octetString(t->second.last_entry), false});
            // Known before the enable: a device sends the entries it kept
            // as soon as it takes RptEna, ahead of its answer to the write.
            plan.push_back(Action{Kind::Register, -1, Data(), false});
            plan.push_back(Action{Kind::Write, attr("RptEna"), Data::boolean(true), true});
            plan.push_back(Action{Kind::ReadBack, attr("RptEna"), Data(), true});
        }
        if (attr("GI") >= 0 && device_has(c, req.rcb_id, "GI"))
            plan.push_back(Action{Kind::Write, attr("GI"), Data::boolean(true), false});
        run(c);
    }

    void run(JobCtx &c) {
        while (next_action < plan.size()) {
            const Action &a = plan[next_action];
            if (a.kind == Kind::Register) {
                register_block(c);
                ++next_action;
                continue;
            }
            if (a.kind == Kind::ReadBack) {
                bool ok = false;
                mms::VariableRef v = spec_of(*model, a.attr, ok);
                send(c, mms::ReadRequest{false, mms::VariableAccess::list({v})});
                return;
            }
            write_one(c, a.attr, a.value);
            return;
        }
        if (!req.rptEna) {
            for (auto it = c.server.enabled.begin(); it != c.server.enabled.end();)
                it = it->second == req.rcb_id ? c.server.enabled.erase(it) : std::next(it);
        }
        finish(c, 0);
    }

    void register_block(JobCtx &c) {
        AI_VAL_TYPE t;
        std::vector<uint8_t> b;
        const AI_OBJ_ID id = attr("RptID");
        std::string rpt;
        if (id >= 0 && stored_value(*model, id, t, b))
            rpt.assign(reinterpret_cast<const char *>(b.data()),
                       strnlen(reinterpret_cast<const char *>(b.data()), b.size()));
        if (rpt.empty()) rpt = model->reference(req.rcb_id);  // 7-2 17.2.2.1: empty RptID is the block's reference
        c.server.enabled[{int(c.channel.which), rpt}] = req.rcb_id;
        c.server.tracks[req.rcb_id];
        registered = true;
    }

    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        if (take_type(c, p)) {
            if (!ask_types(c)) read_block(c);
            return;
        }
        if (reading) {
            reading = false;
            const auto *rr = service_of<mms::ReadResponse>(p);
            if (!rr || rr->results.size() != 1) return fail(c, "reading the block failed: " + describe_failure(p));
            if (!rr->results[0].success)
                return fail(c, "reading the block failed: " + mms::dataAccessErrorName(rr->results[0].failure));
            if (int32_t e = store(c, req.rcb_id, rr->results[0].data))
                return fail(c,
                            "reading the block failed: its value does not fit (" + mms::dataAccessErrorName(e) + ")");
            return make_plan(c);
        }
        const Action &a = plan[next_action++];
        const std::string name = model->name(a.attr);
        if (a.kind == Kind::ReadBack) {
            const auto *rr = service_of<mms::ReadResponse>(p);
            if (!rr || rr->results.size() != 1 || !rr->results[0].success ||
                store_object(*model, a.attr, rr->results[0].data) != 0)
                return fail(c, "reading RptEna back failed: " + describe_failure(p));
            if (!current_true("RptEna")) return fail(c, "RptEna reads false after the device took the enable");
            return run(c);
        }
        const std::string why = write_outcome(p);
        if (why.empty()) {
            if (name == "Resv") c.channel.reserved.insert(req.rcb_id);
            return run(c);
        }
        const bool taken_by_other = last_write_error == mms::kObjectAccessDenied ||
                                    last_write_error == mms::kTemporarilyUnavailable;
        if (!a.required) {
            log_line(c.server.label() + ": report enable " + ref + ": " + name + " not taken (" + why +
                     "); continuing");
            if (name == "OptFlds" || name == "TrgOps" || name == "IntgPd")
                c.channel.refused_settings[req.rcb_id].insert(name);
            return run(c);
        }
        if (name == "Resv" && taken_by_other) return fail(c, "reserved by another client (Resv refused: " + why + ")");
        if (name == "RptEna" && a.value.kind() == Data::Kind::Boolean && a.value.asBool() && taken_by_other)
            return fail(c, "held by another client (RptEna refused: " + why + ")");
        fail(c, name + " refused: " + why);
    }
};

// ---- files -------------------------------------------------------------------------

// The last-modified time of a listed file as AC_FILE_ATTR carries it. secs 0
// says "no time": the device gave none, or one that is malformed or outside
// what the record holds (1970-01-01 00:00:01 .. 2106-02-07), which is logged.
TimeStamp_TDEF listed_time(JobCtx &c, const std::string &dir, const std::string &file,
                           const std::optional<std::string> &text) {
    TimeStamp_TDEF t{};
    if (!text) return t;
    auto v = mms::decodeGeneralizedTime(*text);
    std::string why;
    if (!v)
        why = v.error().reason + " at character " + std::to_string(v.error().offset);
    else if (v->seconds < 1 || v->seconds > int64_t(UINT32_MAX))
        why = "outside 1970-01-01 00:00:01 .. 2106-02-07";
    if (!why.empty()) {
        log_line(c.server.label() + ": file directory of '" + shown_file_name(dir) + "': last-modified time '" +
                 shown_file_name(*text) + "' of '" + shown_file_name(file) + "' refused (" + why +
                 "); listed without a time");
        return t;
    }
    t.secs = uint32_t(v->seconds);
    t.fraction = uint32_t((uint64_t(v->nanoseconds) << 24) / 1000000000u);
    return t;
}

bool has_control(const std::string &name) {
    return std::any_of(name.begin(), name.end(), [](char ch) {
        const auto u = static_cast<unsigned char>(ch);
        return u < 0x20 || u == 0x7F;
    });
}

class DirJob : public Job {
public:
    std::string name;
    std::vector<AC_FILE_ATTR> attrs;
    std::optional<mms::FileName> after;
    size_t pages = 0;

    void start(JobCtx &c) override {
        ctrl.op = IEC61850_OP_GETFAV;
        copy_name(ctrl.u.getfavCtrl.file_name, AC_FILE_NAME_LEN, name);
        request(c);
    }
    void request(JobCtx &c) {
        mms::FileDirectoryRequest r;
        // ISO 9506-2 11.5: without a fileSpec the server lists its root.
        if (!name.empty()) r.fileSpec = mms::FileName{name};
        r.continueAfter = after;
        send(c, std::move(r));
    }
    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        const auto *d = service_of<mms::FileDirectoryResponse>(p);
        if (!d) {
            log_line(c.server.label() + ": file directory of '" + shown_file_name(name) +
                     "' failed: " + describe_failure(p));
            return finish(c, 1);
        }
        for (const mms::DirectoryEntry &e : d->entries) {
            const std::string n = join_name(e.name);
            // A name that does not fit the 256-byte field could not be asked
            // for again unchanged: leave it out rather than cut it.
            if (n.empty() || n.size() >= AC_FILE_NAME_LEN || n.find('\0') != std::string::npos) {
                log_line(c.server.label() + ": file directory of '" + shown_file_name(name) +
                         "': entry with an empty or over-long name left out");
                continue;
            }
            // Control characters make no GraphicString, and no name to show or store.
            if (has_control(n)) {
                log_line(c.server.label() + ": file directory of '" + shown_file_name(name) + "': entry '" +
                         shown_file_name(n) + "' left out (control characters in the name)");
                continue;
            }
            if (attrs.size() >= kMaxDirectoryEntries) return finish(c, 1);
            AC_FILE_ATTR a{};
            copy_name(a.file_name, AC_FILE_NAME_LEN, n);
            a.file_size = int32_t(std::min<uint64_t>(e.attributes.sizeOfFile, INT32_MAX));
            a.last_modified = listed_time(c, name, n, e.attributes.lastModified);
            attrs.push_back(a);
        }
        // ISO 9506-2 11.5: continue after the last name of this answer.
        if (d->moreFollows && !d->entries.empty() && ++pages < 100000) {
            after = d->entries.back().name;
            return request(c);
        }
        finish(c, 0);
    }
    void on_end() override {
        ctrl.u.getfavCtrl.file_num = ctrl.result == 0 ? int32_t(attrs.size()) : 0;
        ctrl.u.getfavCtrl.file_attrs = ctrl.result == 0 && !attrs.empty() ? attrs.data() : nullptr;
    }
};

class GetJob : public Job {
public:
    std::string src, dest, part;
    FILE_READ_IDFP idfp{};
    FILE *fp = nullptr;
    uint64_t got = 0;
    bool open = false;
    enum class Step { Open, Read, Close } step = Step::Open;
    bool ok = false;

    void start(JobCtx &c) override {
        ctrl.op = IEC61850_OP_GETFILE;
        copy_name(ctrl.u.getfCtrl.src_fname, AC_FILE_NAME_LEN, src);
        copy_name(ctrl.u.getfCtrl.dest_fname, AC_FILE_NAME_LEN, dest);
        ctrl.u.getfCtrl.hp = &idfp;
        send(c, mms::FileOpenRequest{mms::FileName{src}, 0});
    }
    void close_remote(JobCtx &c, bool success) {
        ok = success;
        step = Step::Close;
        if (!send(c, mms::FileCloseRequest{idfp.frsmid})) return;
    }
    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        switch (step) {
        case Step::Open: {
            const auto *o = service_of<mms::FileOpenResponse>(p);
            if (!o) {
                log_line(c.server.label() + ": get file '" + shown_file_name(src) +
                         "': open failed: " + describe_failure(p));
                return finish(c, 1);
            }
            idfp.frsmid = o->frsmId;
            open = true;
            part = dest + ".part";
            fp = std::fopen(part.c_str(), "wb");
            if (!fp) {
                log_line(c.server.label() + ": get file '" + shown_file_name(src) + "': cannot write '" + part +
                         "': " + std::strerror(errno));
                return close_remote(c, false);
            }
            idfp.fp = fp;
            step = Step::Read;
            send(c, mms::FileReadRequest{idfp.frsmid});
            return;
        }
        case Step::Read: {
            const auto *r = service_of<mms::FileReadResponse>(p);
            if (!r) {
                log_line(c.server.label() + ": get file '" + shown_file_name(src) +
                         "': read failed: " + describe_failure(p));
                return close_remote(c, false);
            }
            got += r->data.size();
            if (got > kMaxFileBytes) {
                log_line(c.server.label() + ": get file '" + shown_file_name(src) + "': larger than " +
                         std::to_string(kMaxFileBytes) + " bytes, given up");
                return close_remote(c, false);
            }
            if (!r->data.empty() && std::fwrite(r->data.data(), 1, r->data.size(), fp) != r->data.size()) {
                log_line(c.server.label() + ": get file '" + shown_file_name(src) + "': writing '" + part + "' failed");
                return close_remote(c, false);
            }
            if (r->moreFollows) {
                // A device that keeps saying "more" without sending anything
                // is cut off by the request's time-out.
                send(c, mms::FileReadRequest{idfp.frsmid});
                return;
            }
            return close_remote(c, true);
        }
        case Step::Close: {
            open = false;
            if (!service_of<mms::FileCloseResponse>(p))
                log_line(c.server.label() + ": get file '" + shown_file_name(src) + "': close not confirmed");
            bool done = ok;
            if (fp) {
                done = std::fclose(fp) == 0 && done;
                fp = nullptr;
                idfp.fp = nullptr;
            }
            if (done && std::rename(part.c_str(), dest.c_str()) != 0) {
                log_line(c.server.label() + ": get file '" + shown_file_name(src) + "': cannot rename to '" + dest +
                         "': " + std::strerror(errno));
                done = false;
            }
            return finish(c, done ? 0 : 1);
        }
        }
    }
    void on_end() override {
        // A transfer that did not complete leaves no file behind.
        if (fp) {
            std::fclose(fp);
            fp = nullptr;
            idfp.fp = nullptr;
        }
        if (ctrl.result != 0 && !part.empty()) std::remove(part.c_str());
    }
};

std::atomic<int32_t> g_next_frsm{1};

class SetJob : public Job {
public:
    std::string src, dest;
    FILE *fp = nullptr;
    int32_t frsm = 0;

    void start(JobCtx &c) override {
        ctrl.op = IEC61850_OP_SETFILE;
        copy_name(ctrl.u.setfCtrl.src_fname, AC_FILE_NAME_LEN, src);
        copy_name(ctrl.u.setfCtrl.dest_fname, AC_FILE_NAME_LEN, dest);
        struct stat st {};
        if (::stat(src.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            log_line("set file: '" + src + "' is not a readable file");
            return finish(c, 1);
        }
        send(c, mms::ObtainFileRequest{mms::FileName{src}, mms::FileName{dest}});
    }
    // ISO 9506-2 11.2: the server pulls the file with FileOpen/FileRead/
    // FileClose. Only the file named in our ObtainFile is served.
    bool on_server_request(JobCtx &c, const mms::ConfirmedRequest &req) override {
        const uint32_t id = req.invokeId;
        auto error = [&](uint8_t cls, int32_t code) {
            mms::ConfirmedError e;
            e.invokeId = id;
            e.error.errorClass = cls;
            e.error.code = code;
            c.engine.send_pdu(c.channel, mms::Pdu(e));
        };
        if (auto *o = std::get_if<mms::FileOpenRequest>(&req.service)) {
            if (join_name(o->name) != src) return false;
            if (fp) std::fclose(fp);
            fp = std::fopen(src.c_str(), "rb");
            struct stat st {};
            if (!fp || ::fstat(fileno(fp), &st) != 0 ||
                (o->initialPosition && std::fseek(fp, long(o->initialPosition), SEEK_SET) != 0)) {
                error(mms::kFile, 3);  // file-access-denied
                return true;
            }
            frsm = g_next_frsm++;
            mms::FileOpenResponse r;
            r.frsmId = frsm;
            r.attributes.sizeOfFile = uint32_t(std::min<uint64_t>(uint64_t(st.st_size), UINT32_MAX));
            r.attributes.lastModified = mms::formatGeneralizedTime(st.st_mtime);
            c.engine.send_pdu(c.channel, mms::Pdu(mms::ConfirmedResponse{id, r}));
            return true;
        }
        if (auto *r = std::get_if<mms::FileReadRequest>(&req.service)) {
            if (!fp || r->frsmId != frsm) return false;
            const size_t chunk = std::min<size_t>(c.channel.max_pdu > 200 ? c.channel.max_pdu - 100 : 100, 32768);
            mms::FileReadResponse resp;
            resp.data.resize(chunk);
            const size_t n = std::fread(resp.data.data(), 1, chunk, fp);
            resp.data.resize(n);
            if (n < chunk && std::ferror(fp)) {
                error(mms::kFile, 8);  // other
                return true;
            }
            resp.moreFollows = n == chunk;
            c.engine.send_pdu(c.channel, mms::Pdu(mms::ConfirmedResponse{id, resp}));
            return true;
        }
        if (auto *cl = std::get_if<mms::FileCloseRequest>(&req.service)) {
            if (!fp || cl->frsmId != frsm) return false;
            std::fclose(fp);
            fp = nullptr;
            c.engine.send_pdu(c.channel, mms::Pdu(mms::ConfirmedResponse{id, mms::FileCloseResponse{}}));
            return true;
        }
        return false;
    }
    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        if (!service_of<mms::ObtainFileResponse>(p)) {
            log_line("set file '" + src + "' -> '" + dest + "' failed: " + describe_failure(p));
            return finish(c, 1);
        }
        finish(c, 0);
    }
    void on_end() override {
        if (fp) std::fclose(fp);
        fp = nullptr;
    }
};

class DeleteJob : public Job {
public:
    std::string name;
    void start(JobCtx &c) override {
        ctrl.op = IEC61850_OP_DELFILE;
        copy_name(ctrl.u.delfCtrl.file_name, AC_FILE_NAME_LEN, name);
        send(c, mms::FileDeleteRequest{mms::FileName{name}});
    }
    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        if (!service_of<mms::FileDeleteResponse>(p)) {
            log_line(c.server.label() + ": delete file '" + shown_file_name(name) + "' failed: " + describe_failure(p));
            return finish(c, 1);
        }
        finish(c, 0);
    }
};

model::IedModel *model_of(Engine &e, int srv) {
    ServerCtx *s = e.server(srv);
    return s && s->server && s->server->model ? s->server->model.get() : nullptr;
}

}  // namespace

int read(int srv, const AC_READ_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out, AC_CHANNEL ch) {
    auto e = current_engine();
    model::IedModel *m = e ? model_of(*e, srv) : nullptr;
    if (!m || !info || !info->obj_ids || info->num_obj <= 0 || info->num_obj > kMaxObjectsPerRequest) return 1;
    auto j = std::make_unique<ReadJob>();
    j->model = m;
    j->ids.assign(info->obj_ids, info->obj_ids + info->num_obj);
    for (AI_OBJ_ID id : j->ids)
        if (!m->valid(id)) return 1;
    j->forced = ch;
    j->ctrl.u_ac_req_done = info->u_read_done;
    j->prepare();
    return e->submit(srv, std::move(j), timeout_s, out);
}

int write(int srv, const AC_WRITE_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out, AC_CHANNEL ch) {
    auto e = current_engine();
    model::IedModel *m = e ? model_of(*e, srv) : nullptr;
    if (!m || !info || !info->obj_vals || info->num_obj <= 0 || info->num_obj > kMaxObjectsPerRequest) return 1;
    auto j = std::make_unique<WriteJob>();
    j->model = m;
    j->forced = ch;
    j->take(info->obj_vals, info->num_obj);
    j->ctrl.u_ac_req_done = info->u_write_done;
    return e->submit(srv, std::move(j), timeout_s, out);
}

int rpt_enable(int srv, const AC_ENAREPORT_INFO *info, int timeout_s, AC_REQ_CTRL **out, AC_CHANNEL ch) {
    auto e = current_engine();
    model::IedModel *m = e ? model_of(*e, srv) : nullptr;
    if (!m || !info || !m->valid(info->rcb_id) || m->type(info->rcb_id) != OBJECT_TYPE_CB) return 1;
    auto j = std::make_unique<RptEnableJob>();
    j->model = m;
    j->req = *info;
    j->forced = ch;
    j->ctrl.op = IEC61850_OP_RPTENA;
    j->ctrl.u.enaRptCtrl = AC_ENAREPORT_CTRL{info->rcb_id, info->OptFlds, info->TrgOps,
                                             info->IntgPd, info->rptEna,  nullptr};
    j->ctrl.u_ac_req_done = info->u_rpt_done;
    return e->submit(srv, std::move(j), timeout_s, out);
}

int file_dir(int srv, const AC_GETFAV_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out) {
    auto e = current_engine();
    auto j = std::make_unique<DirJob>();
    if (!e || !info || info->file_name == nullptr) return 1;
    // An empty directory name asks for the root listing: the file dialog and
    // the recorder collection pass an empty path on as it is.
    if (info->file_name[0] != '\0' && !take_name(info->file_name, j->name)) return 1;
    j->ctrl.op = IEC61850_OP_GETFAV;
    j->ctrl.u_ac_req_done = info->u_getf_done;
    return e->submit(srv, std::move(j), timeout_s, out);
}

int file_get(int srv, const AC_GETF_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out) {
    auto e = current_engine();
    auto j = std::make_unique<GetJob>();
    if (!e || !info || !take_name(info->src_fname, j->src) || !take_name(info->dest_fname, j->dest)) return 1;
    j->ctrl.op = IEC61850_OP_GETFILE;
    j->ctrl.u_ac_req_done = info->u_getf_done;
    return e->submit(srv, std::move(j), timeout_s, out);
}

int file_set(int srv, const AC_SETF_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out) {
    auto e = current_engine();
    auto j = std::make_unique<SetJob>();
    if (!e || !info || !take_name(info->src_fname, j->src) || !take_name(info->dest_fname, j->dest)) return 1;
    j->ctrl.op = IEC61850_OP_SETFILE;
    j->ctrl.u_ac_req_done = info->u_setf_done;
    return e->submit(srv, std::move(j), timeout_s, out);
}

int file_delete(int srv, const AC_DELF_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out) {
    auto e = current_engine();
    auto j = std::make_unique<DeleteJob>();
    if (!e || !info || !take_name(info->file_name, j->name)) return 1;
    j->ctrl.op = IEC61850_OP_DELFILE;
    j->ctrl.u_ac_req_done = info->u_getf_done;
    return e->submit(srv, std::move(j), timeout_s, out);
}

}  // namespace zv::client
