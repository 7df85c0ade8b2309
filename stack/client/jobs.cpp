// The request jobs: read, write, report enabling, file services.
#include "codec.h"
#include "engine.h"

#include "mms/data.h"
#include "model/values.h"

#include <sys/stat.h>

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

std::string describe_failure(const mms::Pdu &p) {
    if (auto *e = std::get_if<mms::ConfirmedError>(&p))
        return "error class " + std::to_string(e->error.errorClass) + " code " + std::to_string(e->error.code);
    if (auto *r = std::get_if<mms::RejectPdu>(&p))
        return "reject " + std::to_string(r->reasonKind) + "/" + std::to_string(r->code);
    return mms::describe(p);
}

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
    ok = variable_of(m.reference(id), v);   // array elements by alternate access
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

// ---- read ---------------------------------------------------------------------

class ReadJob : public Job {
public:
    model::IedModel *model = nullptr;
    std::vector<AI_OBJ_ID> ids;
    std::vector<int32_t> results;
    std::vector<AI_OBJ_VAL> vals;
    std::vector<bool> filled;
    std::vector<std::vector<size_t>> steps;   // objects per read request
    std::vector<bool> step_is_list;           // a data set read by its list name
    size_t step = 0;

    void prepare() {
        results.assign(ids.size(), 1);
        vals.assign(ids.size(), AI_OBJ_VAL{});
        filled.assign(ids.size(), false);
        ctrl.op = IEC61850_OP_READ;
        ctrl.u.rdCtrl.obj_ids = ids.data();
        ctrl.u.rdCtrl.obj_type = model->type(ids[0]);
        ctrl.u.rdCtrl.num_obj = int32_t(ids.size());
        ctrl.u.rdCtrl.obj_vals = vals.data();
        ctrl.u.rdCtrl.results = results.data();
    }

    void start(JobCtx &c) override {
        std::vector<size_t> vars;
        for (size_t i = 0; i < ids.size(); ++i) {
            const AI_OBJ_TYPE t = model->type(ids[i]);
            if (t == OBJECT_TYPE_DS) {
                steps.push_back({i});
                step_is_list.push_back(true);
            } else if (t == OBJECT_TYPE_LN || t == OBJECT_TYPE_FCN || t == OBJECT_TYPE_FCD ||
                       t == OBJECT_TYPE_FCDA || t == OBJECT_TYPE_CB) {
                vars.push_back(i);
            }   // IED, LD, unknown: no MMS variable, stays a failure
        }
        if (!vars.empty()) {
            steps.insert(steps.begin(), vars);
            step_is_list.insert(step_is_list.begin(), false);
        }
        next(c);
    }

    void next(JobCtx &c) {
        while (step < steps.size()) {
            mms::ReadRequest r;
            bool ok = true;
            if (step_is_list[step]) {
                mms::ObjectName n;
                ok = object_name(model->reference(ids[steps[step][0]]), n);
                r.access = mms::VariableAccess::named(n);
            } else {
                std::vector<mms::VariableRef> v;
                for (size_t i : steps[step]) v.push_back(spec_of(*model, ids[i], ok));
                r.access = mms::VariableAccess::list(std::move(v));
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
        const auto *rr = service_of<mms::ReadResponse>(p);
        const std::vector<size_t> &objs = steps[step];
        if (!rr) {
            log_line("read of " + model->reference(ids[objs[0]]) + " failed: " + describe_failure(p));
        } else if (step_is_list[step]) {
            const size_t i = objs[0];
            AI_DS_CTRL *ds = model->data_set(ids[i]);
            if (ds && rr->results.size() == size_t(ds->mb_num)) {
                // A member that failed does not keep the ones after it from
                // being stored.
                bool all = true;
                for (size_t k = 0; k < rr->results.size(); ++k) {
                    const bool stored =
                        rr->results[k].success && store_object(*model, ds->mb_ids[k], rr->results[k].data) == 0;
                    all = all && stored;
                }
                results[i] = all ? 0 : 1;
            }
        } else if (rr->results.size() == objs.size()) {
            for (size_t k = 0; k < objs.size(); ++k) {
                const mms::AccessResult &a = rr->results[k];
                results[objs[k]] = a.success && store_object(*model, ids[objs[k]], a.data) == 0 ? 0 : 1;
            }
        }
        ++step;
        next(c);
    }

    void on_end() override {
        for (size_t i = 0; i < ids.size(); ++i) filled[i] = model->read(ids[i], &vals[i]) == 0;
    }
    void release() override {
        for (size_t i = 0; i < vals.size(); ++i)
            if (filled[i]) model::IedModel::release_values(&vals[i]);
    }
};

// ---- write --------------------------------------------------------------------

class WriteJob : public Job {
public:
    model::IedModel *model = nullptr;
    std::vector<AI_OBJ_VAL> vals;
    std::vector<std::vector<AI_OBJ_ID>> prim_ids;
    std::vector<std::vector<AI_PRIM_VAL>> prims;
    std::vector<std::vector<std::vector<uint8_t>>> bytes;
    std::vector<int32_t> results;
    std::vector<size_t> sent;
    std::vector<Data> sent_data;


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
                if (pv.data && size && size_t(pv.size) == size) std::memcpy(bytes[size_t(i)].back().data(), pv.data, size);
                prims[size_t(i)].push_back(AI_PRIM_VAL{pv.type, pv.data && size_t(pv.size) == size ? pv.size : -1, nullptr});
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
        mms::WriteRequest w;
        std::vector<mms::VariableRef> specs;
        for (size_t i = 0; i < vals.size(); ++i) {
            Data d;
            bool ok = false;
            mms::VariableRef v = spec_of(*model, vals[i].obj_id, ok);
            if (!ok || !object_data(*model, vals[i].obj_id, vals[i].prim_vals, vals[i].prim_num, d)) {
                log_line("write: object " + std::to_string(vals[i].obj_id) + " has no value of its type; not sent");
                continue;
            }
            specs.push_back(std::move(v));
            w.data.push_back(d);
            sent.push_back(i);
            sent_data.push_back(std::move(d));
        }
        if (sent.empty()) {
            finish(c, 1);
            return;
        }
        w.access = mms::VariableAccess::list(std::move(specs));
        send(c, std::move(w));
    }

    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        const auto *wr = service_of<mms::WriteResponse>(p);
        if (wr && wr->results.size() == sent.size()) {
            for (size_t k = 0; k < sent.size(); ++k)
                if (wr->results[k].success) {
                    results[sent[k]] = 0;
                    store_object(*model, vals[sent[k]].obj_id, sent_data[k]);
                }
        } else {
            log_line("write failed: " + describe_failure(p));
        }
        bool all = true;
        for (int32_t r : results) all = all && r == 0;
        finish(c, all ? 0 : 1);
    }
};

// ---- report enabling ---------------------------------------------------------------

// IEC 61850-8-1 17.2.2/17.3.2 with 7-2 17.2/17.3: read the block; disable it
// first when it must change; write what differs of OptFlds, TrgOps and
// IntgPd (a BRCB purges its buffer on such writes, so nothing is written
// needlessly); a BRCB resumes after the last EntryID received; enable; GI.
class RptEnableJob : public Job {
public:
    model::IedModel *model = nullptr;
    AC_ENAREPORT_INFO req{};
    bool buffered = false;
    enum class Step { Read, Disable, Config, EntryId, Enable, Gi } step = Step::Read;
    std::vector<std::pair<AI_OBJ_ID, Data>> pending;   // the write in flight
    std::vector<std::pair<AI_OBJ_ID, Data>> config;

    AI_OBJ_ID attr(const char *name) const { return model->child(req.rcb_id, name); }

    void start(JobCtx &c) override {
        bool ok = false;
        mms::VariableRef v = spec_of(*model, req.rcb_id, ok);
        if (!ok || model->type(req.rcb_id) != OBJECT_TYPE_CB || attr("RptEna") < 0) {
            finish(c, 1);
            return;
        }
        buffered = model->fc(req.rcb_id) == model::FC_BR;
        step = Step::Read;
        send(c, mms::ReadRequest{false, mms::VariableAccess::list({v})});
    }

    bool write(JobCtx &c, std::vector<std::pair<AI_OBJ_ID, Data>> items) {
        mms::WriteRequest w;
        std::vector<mms::VariableRef> specs;
        for (auto &it : items) {
            bool ok = false;
            specs.push_back(spec_of(*model, it.first, ok));
            if (!ok) return false;
            w.data.push_back(it.second);
        }
        w.access = mms::VariableAccess::list(std::move(specs));
        pending = std::move(items);
        return send(c, std::move(w));
    }

    Data current(const char *name) const {
        AI_VAL_TYPE t;
        std::vector<uint8_t> b;
        const AI_OBJ_ID id = attr(name);
        if (id < 0 || !stored_value(*model, id, t, b)) return Data();
        return primitive_data(t, b.data());
    }

    void plan_config() {
        config.clear();
        uint8_t opt[AI_SIZE_OPTFLDS] = {};
        const int16_t ob = AI_BITS_OPTFLDS;
        std::memcpy(opt, &ob, 2);
        opt[2] = uint8_t(req.OptFlds & 0xFF);
        opt[3] = uint8_t((req.OptFlds >> 8) & 0xC0);
        uint8_t trg[AI_SIZE_TRGC + 1] = {};
        const int16_t tb = AI_BITS_TRGC;
        std::memcpy(trg, &tb, 2);
        trg[2] = uint8_t(req.TrgOps & 0xFC);
        const uint32_t pd = uint32_t(req.IntgPd);
        const std::pair<const char *, Data> want[] = {
            {"OptFlds", primitive_data(VAL_TYPE_OPTFLDS, opt)},
            {"TrgOps", primitive_data(VAL_TYPE_TRGC, trg)},
            {"IntgPd", Data::unsignedInt(pd)}};
        for (const auto &w : want) {
            const AI_OBJ_ID id = attr(w.first);
            if (id < 0) continue;
            Data cur = current(w.first);
            if (cur.kind() == Data::Kind::Integer && w.second.kind() == Data::Kind::Unsigned && cur.asInt() >= 0)
                cur = Data::unsignedInt(uint64_t(cur.asInt()));
            if (cur != w.second) config.emplace_back(id, w.second);
        }
    }

    void advance(JobCtx &c) {
        for (;;) {
            switch (step) {
            case Step::Read: {
                if (!req.rptEna) {
                    step = Step::Gi;   // last step of a disable
                    write(c, {{attr("RptEna"), Data::boolean(false)}});
                    return;
                }
                plan_config();
                const Data ena = current("RptEna");
                const bool on = ena.kind() == Data::Kind::Boolean && ena.asBool();
                if (on && !config.empty()) {
                    step = Step::Disable;
                    write(c, {{attr("RptEna"), Data::boolean(false)}});
                    return;
                }
                if (on) {   // enabled as asked already (by us): only the GI
                    step = Step::Gi;
                    register_block(c);
                    if (attr("GI") < 0) return finish(c, 0);
                    write(c, {{attr("GI"), Data::boolean(true)}});
                    return;
                }
                step = Step::Disable;
                continue;
            }
            case Step::Disable:
                step = Step::Config;
                if (!config.empty()) {
                    write(c, config);
                    return;
                }
                continue;
            case Step::Config: {
                step = Step::EntryId;
                auto t = c.server.tracks.find(req.rcb_id);
                if (buffered && attr("EntryID") >= 0 && t != c.server.tracks.end() && t->second.last_entry.size() == 8) {
                    write(c, {{attr("EntryID"), Data::octetString(t->second.last_entry)}});
                    return;
                }
                continue;
            }
            case Step::EntryId:
                step = Step::Enable;
                write(c, {{attr("RptEna"), Data::boolean(true)}});
                return;
            case Step::Enable:
                step = Step::Gi;
                register_block(c);
                if (attr("GI") < 0) return finish(c, 0);
                write(c, {{attr("GI"), Data::boolean(true)}});
                return;
            case Step::Gi: finish(c, 0); return;
            }
        }
    }

    void register_block(JobCtx &c) {
        AI_VAL_TYPE t;
        std::vector<uint8_t> b;
        const AI_OBJ_ID id = attr("RptID");
        std::string rpt;
        if (id >= 0 && stored_value(*model, id, t, b)) rpt.assign(reinterpret_cast<const char *>(b.data()), strnlen(reinterpret_cast<const char *>(b.data()), b.size()));
        if (rpt.empty()) rpt = model->reference(req.rcb_id);   // 7-2 17.2.2.1: empty RptID is the block's reference
        c.server.enabled[{int(c.channel.which), rpt}] = req.rcb_id;
        c.server.tracks[req.rcb_id];
    }

    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        const std::string ref = model->reference(req.rcb_id);
        if (step == Step::Read) {
            const auto *rr = service_of<mms::ReadResponse>(p);
            if (!rr || rr->results.size() != 1 || !rr->results[0].success ||
                store_object(*model, req.rcb_id, rr->results[0].data) != 0) {
                log_line("report enable " + ref + ": reading the block failed: " + describe_failure(p));
                return finish(c, 1);
            }
            return advance(c);
        }
        const auto *wr = service_of<mms::WriteResponse>(p);
        bool all = wr && wr->results.size() == pending.size();
        for (size_t k = 0; all && k < pending.size(); ++k) all = wr->results[k].success;
        if (all)
            for (auto &it : pending) store_object(*model, it.first, it.second);
        const bool gi_or_entry = step == Step::EntryId || (step == Step::Gi && req.rptEna);
        if (!all && !gi_or_entry) {
            std::string what = wr ? "write refused" : describe_failure(p);
            if (wr)
                for (size_t k = 0; k < wr->results.size(); ++k)
                    if (!wr->results[k].success) what += " (" + model->reference(pending[std::min(k, pending.size() - 1)].first) +
                                                         ": " + std::to_string(wr->results[k].failure) + ")";
            log_line("report enable " + ref + ": " + what);
            return finish(c, 1);
        }
        if (!all) log_line("report enable " + ref + ": " + (step == Step::EntryId ? "resume EntryID" : "GI") + " not taken");
        if (step == Step::Gi && !req.rptEna) {
            for (auto it = c.server.enabled.begin(); it != c.server.enabled.end();)
                it = it->second == req.rcb_id ? c.server.enabled.erase(it) : std::next(it);
        }
        advance(c);
    }
};

// ---- files -------------------------------------------------------------------------

int64_t generalized_secs(const std::optional<std::string> &t) {
    if (!t) return 0;
    auto v = mms::parseGeneralizedTime(*t);
    return v ? *v : 0;
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
            log_line("file directory of '" + name + "' failed: " + describe_failure(p));
            return finish(c, 1);
        }
        for (const mms::DirectoryEntry &e : d->entries) {
            const std::string n = join_name(e.name);
            // A name that does not fit the 256-byte field could not be asked
            // for again unchanged: leave it out rather than cut it.
            if (n.empty() || n.size() >= AC_FILE_NAME_LEN || n.find('\0') != std::string::npos) {
                log_line("file directory of '" + name + "': entry with an empty or over-long name left out");
                continue;
            }
            if (attrs.size() >= kMaxDirectoryEntries) return finish(c, 1);
            AC_FILE_ATTR a{};
            copy_name(a.file_name, AC_FILE_NAME_LEN, n);
            a.file_size = int32_t(std::min<uint64_t>(e.attributes.sizeOfFile, INT32_MAX));
            const int64_t secs = generalized_secs(e.attributes.lastModified);
            a.last_modified.secs = uint32_t(std::max<int64_t>(0, std::min<int64_t>(secs, UINT32_MAX)));
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
                log_line("get file '" + src + "': open failed: " + describe_failure(p));
                return finish(c, 1);
            }
            idfp.frsmid = o->frsmId;
            open = true;
            part = dest + ".part";
            fp = std::fopen(part.c_str(), "wb");
            if (!fp) {
                log_line("get file '" + src + "': cannot write '" + part + "': " + std::strerror(errno));
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
                log_line("get file '" + src + "': read failed: " + describe_failure(p));
                return close_remote(c, false);
            }
            got += r->data.size();
            if (got > kMaxFileBytes) {
                log_line("get file '" + src + "': larger than " + std::to_string(kMaxFileBytes) + " bytes, given up");
                return close_remote(c, false);
            }
            if (!r->data.empty() && std::fwrite(r->data.data(), 1, r->data.size(), fp) != r->data.size()) {
                log_line("get file '" + src + "': writing '" + part + "' failed");
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
            if (!service_of<mms::FileCloseResponse>(p)) log_line("get file '" + src + "': close not confirmed");
            bool done = ok;
            if (fp) {
                done = std::fclose(fp) == 0 && done;
                fp = nullptr;
                idfp.fp = nullptr;
            }
            if (done && std::rename(part.c_str(), dest.c_str()) != 0) {
                log_line("get file '" + src + "': cannot rename to '" + dest + "': " + std::strerror(errno));
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
            if (!fp || ::fstat(fileno(fp), &st) != 0 || (o->initialPosition && std::fseek(fp, long(o->initialPosition), SEEK_SET) != 0)) {
                error(mms::kFile, 3);   // file-access-denied
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
                error(mms::kFile, 8);   // other
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
            log_line("delete file '" + name + "' failed: " + describe_failure(p));
            return finish(c, 1);
        }
        finish(c, 0);
    }
};

class ControlJob : public Job {
public:
    void start(JobCtx &c) override { finish(c, 1); }
    void on_answer(JobCtx &c, const mms::Pdu &) override { finish(c, 1); }
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
    j->ctrl.u.enaRptCtrl = AC_ENAREPORT_CTRL{info->rcb_id, info->OptFlds, info->TrgOps, info->IntgPd, info->rptEna, nullptr};
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

int control(int srv, const AC_CTRL_REQ_INFO *info, int timeout_s, AC_REQ_CTRL **out, IEC61850_OP op) {
    auto e = current_engine();
    if (!e || !info) return 1;
    auto j = std::make_unique<ControlJob>();
    j->ctrl.op = op;
    j->ctrl.u.ctrlCtrl.ctrl_obj = info->ctrl_obj;
    j->ctrl.u.ctrlCtrl.ctrl_val = info->ctrl_val;
    j->ctrl.u.ctrlCtrl.result = 1;
    j->ctrl.u_ac_req_done = info->u_ctrl_done;
    return e->submit(srv, std::move(j), timeout_s, out);
}

}  // namespace zv::client
