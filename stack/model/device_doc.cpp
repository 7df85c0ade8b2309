#include "model/device_doc.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "model/values.h"

namespace zv::model {

namespace {

struct BasicMap {
    const char *btype;
    AI_VAL_TYPE type;
    int16_t el_len;
};

// The builder's table read backwards: the first row of a stored type wins.
const BasicMap kBasic[] = {
    {"BOOLEAN", VAL_TYPE_BOOLEAN, 1},
    {"INT8", VAL_TYPE_INT8, 1},
    {"INT16", VAL_TYPE_INT16, 2},
    {"INT24", VAL_TYPE_INT32, 3},
    {"INT32", VAL_TYPE_INT32, 4},
    {"INT64", VAL_TYPE_INT128, 8},
    {"INT8U", VAL_TYPE_INT8U, 1},
    {"INT16U", VAL_TYPE_INT16U, 2},
    {"INT24U", VAL_TYPE_INT32U, 3},
    {"INT32U", VAL_TYPE_INT32U, 4},
    {"FLOAT32", VAL_TYPE_FLOAT32, 4},
    {"FLOAT64", VAL_TYPE_FLOAT64, 8},
    {"Dbpos", VAL_TYPE_CODEDENUM, 2},
    {"Tcmd", VAL_TYPE_TCMD, 2},
    {"Check", VAL_TYPE_CHECK, 2},
    {"Quality", VAL_TYPE_QUALITY, 13},
    {"Timestamp", VAL_TYPE_TIMESTAMP, 8},
    {"VisString32", VAL_TYPE_VSTRING64, 32},
    {"VisString64", VAL_TYPE_VSTRING64, 64},
    {"Currency", VAL_TYPE_VSTRING64, 3},
    {"VisString65", VAL_TYPE_VSTRING65, 65},
    {"VisString129", VAL_TYPE_VSTRING129, 129},
    {"VisString255", VAL_TYPE_VSTRING255, 255},
    {"Unicode255", VAL_TYPE_UNISTRING255, 255},
    {"Octet64", VAL_TYPE_OSTRING64, 64},
    {"Octet16", VAL_TYPE_OSTRING64, 16},
    {"Octet6", VAL_TYPE_OSTRING8, 6},
    {"EntryTime", VAL_TYPE_ENTRYTIME, 6},
    {"EntryID", VAL_TYPE_ENTRYID, 8},
    {"OptFlds", VAL_TYPE_OPTFLDS, 10},
    {"TrgOps", VAL_TYPE_TRGC, 6},
};

// ---- to_document --------------------------------------------------------------

// Ids of the templates, one per distinct shape; `sig` is the shape as text.
class TypeIds {
public:
    std::string id(const std::string &base, const std::string &sig, bool &fresh) {
        auto it = by_sig_.find(sig);
        if (it != by_sig_.end()) {
            fresh = false;
            return it->second;
        }
        const std::string id = base + "_" + std::to_string(++count_[base]);
        by_sig_[sig] = id;
        fresh = true;
        return id;
    }

private:
    std::map<std::string, std::string> by_sig_;
    std::map<std::string, int> count_;
};

// The order of names that several sequences each keep (the data objects of
// an LN under each FC): every sequence's order holds, ties go by first
// appearance. A device lists each FC in its type's order, so the type's own
// order comes back; a contradiction falls back to first appearance.
std::vector<std::string> merged_order(const std::vector<std::vector<std::string>> &sequences) {
    std::vector<std::string> first;
    std::map<std::string, size_t> index;
    for (const auto &seq : sequences)
        for (const std::string &n : seq)
            if (index.emplace(n, first.size()).second) first.push_back(n);
    std::vector<std::set<size_t>> next(first.size());
    std::vector<size_t> preds(first.size(), 0);
    for (const auto &seq : sequences)
        for (size_t k = 1; k < seq.size(); ++k) {
            const size_t a = index[seq[k - 1]], b = index[seq[k]];
            if (a != b && next[a].insert(b).second) ++preds[b];
        }
    std::vector<std::string> out;
    std::set<size_t> ready;
    for (size_t i = 0; i < first.size(); ++i)
        if (preds[i] == 0) ready.insert(i);
    while (!ready.empty()) {
        const size_t i = *ready.begin();
        ready.erase(ready.begin());
        out.push_back(first[i]);
        for (size_t j : next[i])
            if (--preds[j] == 0) ready.insert(j);
    }
    return out.size() == first.size() ? out : first;
}

class DocBuilder {
public:
    DocBuilder(scl::Document &doc, const std::string &origin, scl::Diagnostics &diag)
        : doc_(doc), t_(doc.templates), origin_(origin), diag_(diag) {}

    // DAType id of a structured attribute; empty when it cannot be expressed.
    std::string da_type(const DevNode &n, int depth) {
        if (depth > scl::kMaxTypeDepth) return warn("attribute '" + n.name + "' nested too deep; skipped"), "";
        scl::DaType at;
        std::string sig = "DA";
        for (const DevNode &k : n.kids) {
            scl::AttrDef a;
            if (!attr(k, depth + 1, a)) continue;
            sig += "|" + a.name + ":" + a.btype + ":" + a.type + ":" + std::to_string(a.count);
            at.bdas.push_back(std::move(a));
        }
        if (at.bdas.empty()) return "";
        bool fresh = false;
        at.id = ids_.id(n.name.empty() ? std::string("DA") : n.name, sig, fresh);
        if (fresh) t_.da_types.emplace(at.id, at);
        return at.id;
    }

    bool attr(const DevNode &n, int depth, scl::AttrDef &a) {
        if (!scl::valid_name(n.name))
            return warn("component '" + n.name.substr(0, 80) + "' is no valid name; skipped"), false;
        if (n.is_do) return warn("data object '" + n.name + "' inside an attribute; skipped"), false;
        a.name = n.name;
        a.count = n.count;
        if (n.count > scl::kMaxArrayCount) return warn("array '" + n.name + "' longer than 1024; skipped"), false;
        if (n.btype.empty()) {
            a.btype = "Struct";
            a.type = da_type(n, depth);
            return !a.type.empty();
        }
        AI_VAL_TYPE vt;
        int16_t len;
        if (!stored_type_of(n.btype, vt, len))
            return warn("attribute '" + n.name + "' of unknown type; skipped"), false;
        a.btype = n.btype;
        return true;
    }

    // One data object (or SDO) from its parts under each FC.
    std::string do_type(const std::string &name, const std::vector<std::pair<std::string, const DevNode *>> &parts,
                        int depth) {
        if (depth > scl::kMaxTypeDepth) return warn("data object '" + name + "' nested too deep; skipped"), "";
        scl::DoType dt;
        std::string sig = "DO";
        std::set<std::string> names;
        // SDOs keep the place they are first seen at; their parts are merged.
        std::vector<std::string> sdo_order;
        std::map<std::string, std::vector<std::pair<std::string, const DevNode *>>> sdo_parts;
        std::vector<std::pair<std::string, scl::DoChild>> order;  // "" key: DA in place
        // A setting under both SG and SE is one attribute of the edit group:
        // the model gives every SE attribute its SG view.
        std::set<std::string> in_se;
        for (const auto &p : parts)
            if (p.first == "SE")
                for (const DevNode &k : p.second->kids)
                    if (!k.is_do) in_se.insert(k.name);
        std::vector<std::vector<std::string>> sdo_sequences;
        for (const auto &p : parts) {
            sdo_sequences.emplace_back();
            for (const DevNode &k : p.second->kids) {
                if (k.is_do) {
                    sdo_sequences.back().push_back(k.name);
                    if (!sdo_parts.count(k.name)) {
                        sdo_order.push_back(k.name);
                        order.push_back({k.name, scl::DoChild{}});
                    }
                    sdo_parts[k.name].push_back({p.first, &k});
                    continue;
                }
                if (p.first == "SG" && in_se.count(k.name)) continue;
                scl::DoChild c;
                if (!attr(k, depth + 1, c.da)) continue;
                c.da.fc = p.first;
                c.name = c.da.name;
                order.push_back({std::string(), std::move(c)});
            }
        }
        // SDOs in the order every FC keeps.
        const std::vector<std::string> sdo_merged = merged_order(sdo_sequences);
        size_t sdo_k = 0;
        for (auto &o : order)
            if (!o.first.empty() && sdo_k < sdo_merged.size()) o.first = sdo_merged[sdo_k++];
        for (auto &o : order) {
            scl::DoChild c = std::move(o.second);
            if (!o.first.empty()) {
                c.is_sdo = true;
                c.name = o.first;
                if (!scl::valid_name(c.name)) {
                    warn("SDO '" + c.name.substr(0, 80) + "' is no valid name; skipped");
                    continue;
                }
                c.type = do_type(c.name, sdo_parts[c.name], depth + 1);
                if (c.type.empty()) continue;
                sig += "|S:" + c.name + ":" + c.type;
            } else {
                sig += "|" + c.da.fc + ":" + c.name + ":" + c.da.btype + ":" + c.da.type + ":" +
                       std::to_string(c.da.count);
            }
            if (!names.insert(c.name).second) {
                warn("'" + c.name + "' appears twice in data object '" + name +
                     "' (under two FCs); the second is left out");
                continue;
            }
            dt.children.push_back(std::move(c));
        }
        if (dt.children.empty()) return "";
        bool fresh = false;
        dt.id = ids_.id(name, sig, fresh);
        if (fresh) t_.do_types.emplace(dt.id, dt);
        return dt.id;
    }

    std::string ln_type(const DevLn &ln, const std::string &ln_class) {
        std::vector<std::vector<std::string>> sequences;
        std::map<std::string, std::vector<std::pair<std::string, const DevNode *>>> parts;
        for (const DevFc &f : ln.fcs) {
            sequences.emplace_back();
            for (const DevNode &d : f.dos) {
                if (!d.is_do || d.count > 0 || !d.btype.empty()) {
                    warn("'" + d.name + "' under " + ln.name + "$" + f.fc + " is no data object; skipped");
                    continue;
                }
                sequences.back().push_back(d.name);
                parts[d.name].push_back({f.fc, &d});
            }
        }
        const std::vector<std::string> order = merged_order(sequences);
        scl::LNodeType lt;
        lt.ln_class = ln_class;
        std::string sig = "LN:" + ln_class;
        for (const std::string &n : order) {
            if (!scl::valid_name(n)) {
                warn("data object '" + n.substr(0, 80) + "' is no valid name; skipped");
                continue;
            }
            std::string id = do_type(n, parts[n], 1);
            if (id.empty()) continue;
            lt.dos.push_back(scl::DoDef{n, id, 0});
            sig += "|" + n + ":" + id;
        }
        bool fresh = false;
        lt.id = ids_.id(ln_class, sig, fresh);
        if (fresh) t_.ln_types.emplace(lt.id, lt);
        return lt.id;
    }

    void warn(const std::string &why) { diag_.warn(origin_, 0, why); }

private:
    scl::Document &doc_;
    scl::Templates &t_;
    std::string origin_;
    scl::Diagnostics &diag_;
    TypeIds ids_;
};

// LN name -> prefix, class, inst: the trailing digits are the instance, the
// four letters before them the class (IEC 61850-7-2 LN names).
void split_ln(const std::string &name, scl::Ln &ln) {
    if (name == "LLN0") {
        ln.is_ln0 = true;
        ln.ln_class = "LLN0";
        return;
    }
    size_t d = name.size();
    while (d > 0 && std::isdigit(static_cast<unsigned char>(name[d - 1]))) --d;
    const size_t c = d >= 4 ? d - 4 : 0;
    ln.prefix = name.substr(0, c);
    ln.ln_class = name.substr(c, d - c);
    ln.inst = name.substr(d);
}

bool same_layout(const CbLayout &a, const CbLayout &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].el_len != b[i].el_len ||
            !same_layout(a[i].members, b[i].members))
            return false;
    return true;
}

// Two-digit instance suffix of an indexed report block name, or -1.
int instance_no(const std::string &name) {
    if (name.size() < 3) return -1;
    const char a = name[name.size() - 2], b = name[name.size() - 1];
    if (!std::isdigit(static_cast<unsigned char>(a)) || !std::isdigit(static_cast<unsigned char>(b))) return -1;
    return (a - '0') * 10 + (b - '0');
}

}  // namespace

std::string btype_of(AI_VAL_TYPE type, int16_t el_len) {
    for (const BasicMap &b : kBasic)
        if (b.type == type && b.el_len == el_len) return b.btype;
    for (const BasicMap &b : kBasic)
        if (b.type == type) return b.btype;
    return std::string();
}

bool stored_type_of(const std::string &btype, AI_VAL_TYPE &type, int16_t &el_len) {
    for (const BasicMap &b : kBasic)
        if (btype == b.btype) {
            type = b.type;
            el_len = b.el_len;
            return true;
        }
    return false;
}

std::shared_ptr<scl::Document> to_document(const DeviceDesc &d, const std::string &origin, CbLayouts &layouts,
                                           scl::Diagnostics &diag) {
    auto doc = std::make_shared<scl::Document>();
    doc->file = origin;
    doc->has_templates = true;
    DocBuilder b(*doc, origin, diag);
    scl::Ied ied;
    ied.name = d.ied;
    ied.desc = d.desc;
    ied.has_server = true;

    // The device's own layout of each kind of block: the first block's.
    const CbLayout *seen[6] = {};  // brcb, urcb, lcb, sgcb, gocb
    auto slot = [](const DevCb &cb) {
        switch (cb.kind) {
        case scl::CbKind::Report: return cb.buffered ? 0 : 1;
        case scl::CbKind::Log: return 2;
        case scl::CbKind::SettingGroup: return 3;
        case scl::CbKind::Goose: return 4;
        case scl::CbKind::SampledValue: return 5;
        }
        return 5;
    };
    // A logical device's inst: what follows the IED name, or, for a
    // functional name (Edition 2 ldName), the whole name, which is then its
    // ldName too.
    std::map<std::string, std::string> inst_of;
    for (const DevLd &ld : d.lds)
        inst_of[ld.name] = ld.name.size() > d.ied.size() && ld.name.compare(0, d.ied.size(), d.ied) == 0
                               ? ld.name.substr(d.ied.size())
                               : ld.name;

    for (const DevLd &ld : d.lds) {
        scl::LDevice sld;
        sld.inst = inst_of[ld.name];
        if (sld.inst == ld.name) sld.ld_name = ld.name;
        sld.desc = ld.desc;
        for (const DevLn &ln : ld.lns) {
            if (!scl::valid_name(ln.name)) {
                diag.warn(origin, 0,
                          "LN '" + ln.name.substr(0, 80) + "' of " + ld.name + " is no valid name; left out");
                continue;
            }
            scl::Ln sln;
            split_ln(ln.name, sln);
            sln.desc = ln.desc;
            sln.ln_type = b.ln_type(ln, sln.ln_class);
            for (const DevDataSet &ds : ln.data_sets) {
                scl::DataSet sds;
                sds.name = ds.name;
                for (const std::string &m : ds.members) {
                    // LD/LN$FC$DO[$DA...]
                    const size_t slash = m.find('/');
                    const size_t d1 = m.find('$', slash == std::string::npos ? 0 : slash);
                    const size_t d2 = d1 == std::string::npos ? d1 : m.find('$', d1 + 1);
                    scl::Fcda f;
                    const auto member_ld = slash == std::string::npos ? inst_of.end()
                                                                      : inst_of.find(m.substr(0, slash));
                    if (slash == std::string::npos || d2 == std::string::npos || member_ld == inst_of.end()) {
                        diag.warn(origin, 0,
                                  "member '" + m.substr(0, 140) + "' of data set " + ld.name + "/" + ln.name + "$" +
                                      ds.name + " is no reference of this IED; kept unresolved");
                        sds.members.push_back(f);
                        continue;
                    }
                    f.ld_inst = member_ld->second;
                    scl::Ln parts;
                    split_ln(m.substr(slash + 1, d1 - slash - 1), parts);
                    f.prefix = parts.prefix;
                    f.ln_class = parts.ln_class;
                    f.ln_inst = parts.inst;
                    f.fc = m.substr(d1 + 1, d2 - d1 - 1);
                    std::string rest = m.substr(d2 + 1);
                    std::replace(rest.begin(), rest.end(), '$', '.');
                    const size_t dot = rest.find('.');
                    f.do_name = rest.substr(0, dot);
                    if (dot != std::string::npos) f.da_name = rest.substr(dot + 1);
                    // The builder cannot tell an SDO from an attribute by the
                    // name alone; "doName" holds the data object path up to
                    // the first attribute.
                    sds.members.push_back(f);
                }
                sln.data_sets.push_back(std::move(sds));
            }
            // Control blocks, indexed report instances grouped.
            const std::string own = ld.name + "/" + ln.name + "$";
            auto dat_set_name = [&](const DevCb &cb) {
                if (cb.dat_set.empty()) return std::string();
                if (cb.dat_set.compare(0, own.size(), own) == 0) return cb.dat_set.substr(own.size());
                diag.warn(origin, 0,
                          "control block " + own + cb.name + " names data set '" + cb.dat_set +
                              "' of another LN, which SCL cannot say; left empty");
                return std::string();
            };
            std::vector<bool> done(ln.cbs.size(), false);
            for (size_t i = 0; i < ln.cbs.size(); ++i) {
                if (done[i]) continue;
                const DevCb &cb = ln.cbs[i];
                const int s = slot(cb);
                if (s < 5) {
                    if (!seen[s])
                        seen[s] = &cb.layout;
                    else if (!same_layout(*seen[s], cb.layout))
                        diag.warn(origin, 0,
                                  "control block " + own + cb.name +
                                      " has another layout than the device's first block of its kind; the "
                                      "first one's is used");
                }
                scl::ControlBlock c;
                c.kind = cb.kind;
                c.buffered = cb.buffered;
                c.name = cb.name;
                c.dat_set = dat_set_name(cb);
                c.conf_rev = cb.conf_rev;
                c.intg_pd = cb.intg_pd;
                c.buf_time = cb.buf_time;
                c.opt_flds = cb.opt_flds;
                c.trg_ops = cb.trg_ops;
                c.num_of_sgs = cb.num_of_sgs;
                c.act_sg = cb.act_sg;
                c.go_id = cb.go_id;
                c.indexed = false;
                c.max = 1;
                if (cb.kind == scl::CbKind::Log) {
                    const size_t sl = cb.log_ref.find('/');
                    c.log_name = sl == std::string::npos ? cb.log_ref : cb.log_ref.substr(sl + 1);
                }
                const std::string fc = cb.kind == scl::CbKind::Report  ? (cb.buffered ? "BR" : "RP")
                                       : cb.kind == scl::CbKind::Log   ? "LG"
                                       : cb.kind == scl::CbKind::Goose ? "GO"
                                                                       : "SP";
                if (cb.kind == scl::CbKind::Goose && cb.go_id == own + "GO$" + cb.name) c.go_id.clear();
                c.rpt_id = cb.rpt_id == own + fc + "$" + cb.name ? std::string() : cb.rpt_id;
                done[i] = true;
                if (cb.kind == scl::CbKind::Report && instance_no(cb.name) == 1) {
                    // BASE01, BASE02, ... with one data set and ConfRev: one indexed block.
                    const std::string base = cb.name.substr(0, cb.name.size() - 2);
                    std::vector<size_t> members{i};
                    for (int no = 2; no <= 99; ++no) {
                        char want[8];
                        std::snprintf(want, sizeof want, "%02d", no);
                        size_t hit = ln.cbs.size();
                        for (size_t k = 0; k < ln.cbs.size(); ++k)
                            if (!done[k] && ln.cbs[k].kind == cb.kind && ln.cbs[k].buffered == cb.buffered &&
                                ln.cbs[k].name == base + want)
                                hit = k;
                        if (hit == ln.cbs.size()) break;
                        const DevCb &o = ln.cbs[hit];
                        const std::string o_rpt = o.rpt_id == own + fc + "$" + o.name ? std::string() : o.rpt_id;
                        if (o.dat_set != cb.dat_set || o.conf_rev != cb.conf_rev || o_rpt != c.rpt_id) break;
                        members.push_back(hit);
                    }
                    if (scl::valid_name(base)) {
                        for (size_t k : members) done[k] = true;
                        c.name = base;
                        c.indexed = true;
                        c.max = uint32_t(members.size());
                    }
                }
                sln.cbs.push_back(std::move(c));
            }
            sld.lns.push_back(std::move(sln));
        }
        ied.lds.push_back(std::move(sld));
    }
    // Edition and ReportSettings as the layouts show them, so that a reader
    // of the document (scl_layouts) arrives at the same layouts.
    auto has = [](const CbLayout *l, const char *name) {
        if (!l) return false;
        for (const CbComponent &c : *l)
            if (c.name == name) return true;
        return false;
    };
    auto el_len_of = [](const CbLayout *l, const char *name) -> int {
        if (!l) return 0;
        for (const CbComponent &c : *l)
            if (c.name == name) return c.el_len;
        return 0;
    };
    const bool ed2 = el_len_of(seen[0], "RptID") == 129 || el_len_of(seen[1], "RptID") == 129 ||
                     el_len_of(seen[2], "LogRef") == 129 || el_len_of(seen[4], "GoID") == 129;
    if (ed2) doc->version = "2007", doc->revision = "B";
    scl::ReportSettings &rs = ied.services.report;
    rs.owner = has(seen[0], "Owner") || has(seen[1], "Owner");
    rs.resv_tms = has(seen[0], "ResvTms");
    rs.present = rs.owner || rs.resv_tms;
    doc->ieds.push_back(std::move(ied));
    layouts = scl_layouts(*doc, doc->ieds.front());
    CbLayout *dst[5] = {&layouts.brcb, &layouts.urcb, &layouts.lcb, &layouts.sgcb, &layouts.gocb};
    for (int k = 0; k < 5; ++k) {
        if (!seen[k]) continue;
        if (!same_layout(*seen[k], *dst[k]))
            diag.warn(origin, 0,
                      std::string("the device's ") +
                          (k == 0   ? "BRCB"
                           : k == 1 ? "URCB"
                           : k == 2 ? "LCB"
                           : k == 3 ? "SGCB"
                                    : "GoCB") +
                          " layout is none of SCL's editions; an SCL file of it gives the edition's layout");
        *dst[k] = *seen[k];
    }
    return doc;
}

// ---- from_records -------------------------------------------------------------------

namespace {

class RecordReader {
public:
    RecordReader(AI_IED_CTRL *ied, const RecordOps &ops) : ied_(ied), ops_(ops) {}

    AI_OBJ_TYPE obj_type(AI_OBJ_ID id) const {
        return id >= 0 && id < ied_->obj_num && ied_->id_ctrl ? ied_->id_ctrl[id].obj_type : OBJECT_TYPE_UNKNOWN;
    }

    // Node of element i of an LN's runtime table; `next` gets the element after it.
    DevNode node(const RUNTIME_TYPE *rt, const ST_INT32 *sub_ids, int32_t n, int32_t i, int32_t &next, int depth) {
        DevNode out;
        const RUNTIME_TYPE &r = rt[i];
        out.name = r.comp_name_ptr ? r.comp_name_ptr : "";
        out.is_do = sub_ids && obj_type(sub_ids[i]) == OBJECT_TYPE_FCD;
        if (depth > scl::kMaxTypeDepth + 4) {
            next = n;
            return out;
        }
        if (r.el_tag == RT_PRIMITIVE) {
            out.btype = btype_of(AI_VAL_TYPE(r.u.p.pad), r.u.p.el_len);
            next = i + 1;
            return out;
        }
        const int32_t last = std::min(n - 1, i + std::max<int32_t>(1, r.offset_to_last));
        if (r.el_tag == RT_ARR_START) {
            int32_t ignored = 0;
            DevNode elem = node(rt, nullptr, n, i + 1, ignored, depth + 1);
            out.count = uint32_t(std::max<int16_t>(r.u.arr.num_elmnts, 0));
            out.btype = elem.btype;
            out.kids = std::move(elem.kids);
            next = last + 1;
            return out;
        }
        for (int32_t j = i + 1; j < last;) {
            int32_t after = j + 1;
            out.kids.push_back(node(rt, sub_ids, n, j, after, depth + 1));
            j = std::max(after, j + 1);
        }
        next = last + 1;
        return out;
    }

    CbLayout layout(const DevNode &n) {
        CbLayout l;
        for (const DevNode &k : n.kids) {
            CbComponent c;
            c.name = k.name;
            if (k.btype.empty())
                c.members = layout(k);
            else
                stored_type_of(k.btype, c.type, c.el_len);
            l.push_back(std::move(c));
        }
        return l;
    }

    // Settings of a control block from its primitives, by component name.
    void values(AI_OBJ_ID id, const DevNode &n, DevCb &cb) {
        AI_OBJ_VAL v{};
        if (!ops_.read_prims || ops_.read_prims(id, ied_, &v) != 0) return;
        std::vector<std::string> names;
        for (const DevNode &k : n.kids) {
            if (k.btype.empty()) {
                for (const DevNode &m : k.kids) names.push_back(k.name + "$" + m.name);
            } else {
                names.push_back(k.name);
            }
        }
        if (size_t(v.prim_num) == names.size() && v.prim_vals) {
            cb.has_values = true;
            for (size_t k = 0; k < names.size(); ++k) take(names[k], v.prim_vals[k], cb);
        }
        if (ops_.cleanup) ops_.cleanup(&v);
    }

private:
    static std::string text(const AI_PRIM_VAL &p) {
        const char *s = static_cast<const char *>(p.data);
        return s ? std::string(s, strnlen(s, size_t(p.size))) : std::string();
    }
    static uint32_t number(const AI_PRIM_VAL &p) {
        if (!p.data) return 0;
        if (p.size == 1) return *static_cast<const uint8_t *>(p.data);
        if (p.size == 2) {
            uint16_t v;
            std::memcpy(&v, p.data, 2);
            return v;
        }
        uint32_t v = 0;
        if (p.size >= 4) std::memcpy(&v, p.data, 4);
        return v;
    }
    static uint32_t bits(const AI_PRIM_VAL &p) {
        if (!p.data || p.size < 3) return 0;
        const uint8_t *b = static_cast<const uint8_t *>(p.data);
        int16_t n;
        std::memcpy(&n, b, 2);
        uint32_t mask = 0;
        for (int i = 0; i < n && i < 16 && 2 + i / 8 < p.size; ++i)
            if (b[2 + i / 8] & (0x80 >> (i % 8))) mask |= 1u << i;
        return mask;
    }
    static void take(const std::string &name, const AI_PRIM_VAL &p, DevCb &cb) {
        if (name == "RptID")
            cb.rpt_id = text(p);
        else if (name == "DatSet")
            cb.dat_set = text(p);
        else if (name == "LogRef")
            cb.log_ref = text(p);
        else if (name == "GoID")
            cb.go_id = text(p);
        else if (name == "ConfRev")
            cb.conf_rev = number(p);
        else if (name == "IntgPd")
            cb.intg_pd = number(p);
        else if (name == "BufTm")
            cb.buf_time = number(p);
        else if (name == "NumOfSG")
            cb.num_of_sgs = number(p);
        else if (name == "ActSG")
            cb.act_sg = number(p);
        else if (name == "OptFlds")
            cb.opt_flds = uint16_t(bits(p));
        else if (name == "TrgOps")
            cb.trg_ops = uint8_t(bits(p));
    }

    AI_IED_CTRL *ied_;
    const RecordOps &ops_;
};

}  // namespace

bool from_records(AI_IED_CTRL *ied, const RecordOps &ops, DeviceDesc &out, std::string &why) {
    out = DeviceDesc();
    if (!ied || !ops.type_find || !ops.id_to_ref) {
        why = "no model";
        return false;
    }
    out.ied = std::string(ied->cobj.name, strnlen(ied->cobj.name, AI_OBJ_NAME_LEN));
    out.desc = std::string(ied->cobj.desc, strnlen(ied->cobj.desc, AI_OBJ_NAME_LEN));
    RecordReader rr(ied, ops);
    for (int32_t l = 0; l < ied->num_ld; ++l) {
        const AI_LD_CTRL *ld = ied->ld_tbl[l];
        DevLd dl;
        dl.name = std::string(ld->cobj.name, strnlen(ld->cobj.name, AI_OBJ_NAME_LEN));
        dl.desc = std::string(ld->cobj.desc, strnlen(ld->cobj.desc, AI_OBJ_NAME_LEN));
        std::map<std::string, size_t> ln_index;
        for (int32_t k = 0; k < ld->num_ln; ++k) {
            const AI_LN_CTRL *ln = ld->ln_tbl[k];
            DevLn dn;
            dn.name = std::string(ln->cobj.name, strnlen(ln->cobj.name, AI_OBJ_NAME_LEN));
            dn.desc = std::string(ln->cobj.desc, strnlen(ln->cobj.desc, AI_OBJ_NAME_LEN));
            const MVL_TYPE_CTRL *t = ops.type_find(ln->type_id);
            if (!t || !t->rt || t->num_rt < 2 || ln->sub_obj_num != t->num_rt) {
                why = "LN " + dl.name + "/" + dn.name + " has no runtime type";
                return false;
            }
            const int32_t n = t->num_rt;
            // Below the LN: FC structures, each holding data objects and control blocks.
            for (int32_t i = 1; i < n - 1;) {
                const RUNTIME_TYPE &fr = t->rt[i];
                const int32_t fc_end = i + std::max<int32_t>(1, fr.offset_to_last);
                DevFc fc;
                fc.fc = fr.comp_name_ptr ? fr.comp_name_ptr : "";
                for (int32_t j = i + 1; j < fc_end && j < n;) {
                    int32_t after = j + 1;
                    DevNode nd = rr.node(t->rt, ln->sub_ids, n, j, after, 1);
                    const AI_OBJ_ID id = ln->sub_ids[j];
                    if (rr.obj_type(id) == OBJECT_TYPE_CB) {
                        DevCb cb;
                        cb.name = nd.name;
                        cb.kind = fc.fc == "LG"   ? scl::CbKind::Log
                                  : fc.fc == "SP" ? scl::CbKind::SettingGroup
                                  : fc.fc == "GO" ? scl::CbKind::Goose
                                                  : scl::CbKind::Report;
                        cb.buffered = fc.fc == "BR";
                        cb.layout = rr.layout(nd);
                        rr.values(id, nd, cb);
                        dn.cbs.push_back(std::move(cb));
                    } else {
                        nd.is_do = true;
                        fc.dos.push_back(std::move(nd));
                    }
                    j = std::max(after, j + 1);
                }
                if (!fc.dos.empty()) dn.fcs.push_back(std::move(fc));
                i = fc_end + 1;
            }
            ln_index[dn.name] = dl.lns.size();
            dl.lns.push_back(std::move(dn));
        }
        for (int32_t k = 0; k < ld->num_ds; ++k) {
            const AI_DS_CTRL *ds = ld->ds_tbl[k];
            char ref[AI_OBJ_REF_LEN] = {};
            if (ops.id_to_ref(ied, ds->cobj.id, ref) != 0) continue;
            const std::string r(ref, strnlen(ref, sizeof ref));
            const size_t slash = r.find('/'), dollar = r.rfind('$');
            if (slash == std::string::npos || dollar == std::string::npos || dollar < slash) continue;
            auto it = ln_index.find(r.substr(slash + 1, dollar - slash - 1));
            if (it == ln_index.end()) continue;
            DevDataSet dd;
            dd.name = r.substr(dollar + 1);
            for (int32_t m = 0; m < ds->mb_num; ++m)
                dd.members.emplace_back(ds->mb_refs[m], strnlen(ds->mb_refs[m], AI_OBJ_REF_LEN));
            dl.lns[it->second].data_sets.push_back(std::move(dd));
        }
        out.lds.push_back(std::move(dl));
    }
    return true;
}

}  // namespace zv::model

// ---- the stack's own models, and the comparison ---------------------------------------

#include "model/ied_model.h"

namespace zv::model {

namespace {

MVL_TYPE_CTRL *own_type(ST_INT id) { return find_type(id); }
ST_RET own_read(AI_OBJ_ID id, AI_IED_CTRL *ied, AI_OBJ_VAL *out) {
    const IedModel *m = IedModel::from_ctrl(ied);
    return m ? ST_RET(m->read(id, out)) : ST_RET(1);
}
void own_cleanup(AI_OBJ_VAL *v) { IedModel::release_values(v); }
ST_RET own_ref(AI_IED_CTRL *ied, AI_OBJ_ID id, char *out) {
    const IedModel *m = IedModel::from_ctrl(ied);
    return m && m->reference(id, out, AI_OBJ_REF_LEN) ? 0 : 1;
}

// The MMS type a basic type travels as: the two-bit strings are one type on the wire.
std::string wire(const std::string &btype) {
    if (btype == "Dbpos" || btype == "Tcmd" || btype == "Check") return "bit-string 2";
    return btype;
}

std::string shape(const DevNode &n) {
    std::string s = n.btype.empty() ? "{" : wire(n.btype);
    if (n.btype.empty()) {
        for (const DevNode &k : n.kids) s += k.name + ":" + shape(k) + ",";
        s += "}";
    }
    if (n.count) s = "array " + std::to_string(n.count) + " of " + s;
    return s;
}

// Where two shapes part first ("mag$f: FLOAT32 / INT32", "q: missing on the device").
std::string first_difference(const DevNode &a, const DevNode &b, const std::string &path) {
    const std::string here = path.empty() ? std::string() : path;
    if (a.count != b.count)
        return (here.empty() ? "" : here + ": ") + "array of " + std::to_string(a.count) + " in the SCL, " +
               std::to_string(b.count) + " on the device";
    if (!a.btype.empty() || !b.btype.empty()) {
        return (here.empty() ? "" : here + ": ") + (a.btype.empty() ? "structure" : wire(a.btype)) + " in the SCL, " +
               (b.btype.empty() ? "structure" : wire(b.btype)) + " on the device";
    }
    for (size_t i = 0; i < std::max(a.kids.size(), b.kids.size()); ++i) {
        if (i >= a.kids.size()) return path + (path.empty() ? "" : "$") + b.kids[i].name + ": only on the device";
        if (i >= b.kids.size()) return path + (path.empty() ? "" : "$") + a.kids[i].name + ": missing on the device";
        const std::string p = path + (path.empty() ? "" : "$") + a.kids[i].name;
        if (a.kids[i].name != b.kids[i].name) return p + ": the device has " + b.kids[i].name + " in its place";
        if (shape(a.kids[i]) != shape(b.kids[i])) return first_difference(a.kids[i], b.kids[i], p);
    }
    return "differs";
}

std::string layout_text(const CbLayout &l) {
    std::string s;
    for (const CbComponent &c : l) {
        if (!s.empty()) s += ", ";
        s += c.name;
        if (!c.members.empty())
            s += "{" + layout_text(c.members) + "}";
        else
            s += " " + wire(btype_of(c.type, c.el_len));
    }
    return s;
}

template <class T, class Key>
std::map<std::string, const T *> by_name(const std::vector<T> &v, Key key) {
    std::map<std::string, const T *> m;
    for (const T &x : v) m.emplace(key(x), &x);
    return m;
}

}  // namespace

const RecordOps &model_record_ops() {
    static const RecordOps ops{own_type, own_read, own_cleanup, own_ref};
    return ops;
}

std::vector<std::string> compare(const DeviceDesc &scl, const DeviceDesc &dev) {
    std::vector<std::string> out;
    auto name_of = [](const auto &x) { return x.name; };
    auto lds_s = by_name(scl.lds, name_of), lds_d = by_name(dev.lds, name_of);
    for (const auto &ld : lds_s)
        if (!lds_d.count(ld.first)) out.push_back("logical device " + ld.first + " is missing on the device");
    for (const auto &ld : lds_d)
        if (!lds_s.count(ld.first))
            out.push_back("logical device " + ld.first + " is on the device but not in the SCL");
    for (const auto &ld : lds_s) {
        auto dit = lds_d.find(ld.first);
        if (dit == lds_d.end()) continue;
        auto lns_s = by_name(ld.second->lns, name_of), lns_d = by_name(dit->second->lns, name_of);
        const std::string ldn = ld.first + "/";
        for (const auto &ln : lns_s)
            if (!lns_d.count(ln.first)) out.push_back("LN " + ldn + ln.first + " is missing on the device");
        for (const auto &ln : lns_d)
            if (!lns_s.count(ln.first)) out.push_back("LN " + ldn + ln.first + " is on the device but not in the SCL");
        for (const auto &ln : lns_s) {
            auto nit = lns_d.find(ln.first);
            if (nit == lns_d.end()) continue;
            const DevLn &a = *ln.second, &b = *nit->second;
            const std::string lnr = ldn + a.name + "$";
            // Data objects per FC.
            std::map<std::string, const DevNode *> dos_s, dos_d;
            for (const DevFc &f : a.fcs)
                for (const DevNode &d : f.dos) dos_s[f.fc + "$" + d.name] = &d;
            for (const DevFc &f : b.fcs)
                for (const DevNode &d : f.dos) dos_d[f.fc + "$" + d.name] = &d;
            for (const auto &d : dos_s) {
                auto it = dos_d.find(d.first);
                if (it == dos_d.end())
                    out.push_back("data object " + lnr + d.first + " is missing on the device");
                else if (shape(*d.second) != shape(*it->second))
                    out.push_back("data object " + lnr + d.first +
                                  " has another type on the device: " + first_difference(*d.second, *it->second, ""));
            }
            for (const auto &d : dos_d)
                if (!dos_s.count(d.first))
                    out.push_back("data object " + lnr + d.first + " is on the device but not in the SCL");
            // Data sets.
            auto ds_s = by_name(a.data_sets, name_of), ds_d = by_name(b.data_sets, name_of);
            for (const auto &d : ds_s) {
                auto it = ds_d.find(d.first);
                if (it == ds_d.end()) {
                    out.push_back("data set " + lnr + d.first + " is missing on the device");
                    continue;
                }
                const auto &ms = d.second->members, &md = it->second->members;
                if (ms == md) continue;
                std::string why = std::to_string(ms.size()) + " members in the SCL, " + std::to_string(md.size()) +
                                  " on the device";
                for (size_t i = 0; i < std::max(ms.size(), md.size()); ++i) {
                    if (i < ms.size() && i < md.size() && ms[i] == md[i]) continue;
                    why += "; first difference at member " + std::to_string(i + 1) + ": " +
                           (i < ms.size() ? ms[i] : std::string("(none)")) + " in the SCL, " +
                           (i < md.size() ? md[i] : std::string("(none)")) + " on the device";
                    break;
                }
                out.push_back("data set " + lnr + d.first + " has other members: " + why);
            }
            for (const auto &d : ds_d)
                if (!ds_s.count(d.first))
                    out.push_back("data set " + lnr + d.first + " is on the device but not in the SCL");
            // Control blocks.
            auto cb_key = [](const DevCb &c) {
                const char *fc = c.kind == scl::CbKind::Report  ? (c.buffered ? "BR" : "RP")
                                 : c.kind == scl::CbKind::Log   ? "LG"
                                 : c.kind == scl::CbKind::Goose ? "GO"
                                                                : "SP";
                return std::string(fc) + "$" + c.name;
            };
            auto cb_s = by_name(a.cbs, cb_key), cb_d = by_name(b.cbs, cb_key);
            for (const auto &c : cb_s) {
                auto it = cb_d.find(c.first);
                const std::string r = lnr + c.first;
                if (it == cb_d.end()) {
                    out.push_back("control block " + r + " is missing on the device");
                    continue;
                }
                const DevCb &x = *c.second, &y = *it->second;
                if (!same_layout(x.layout, y.layout))
                    out.push_back("control block " + r + " has another layout on the device: " + layout_text(y.layout) +
                                  "; the SCL says " + layout_text(x.layout));
                if (x.has_values && y.has_values && x.conf_rev != y.conf_rev)
                    out.push_back("control block " + r + " has ConfRev " + std::to_string(y.conf_rev) +
                                  " on the device, " + std::to_string(x.conf_rev) + " in the SCL");
                if (x.has_values && y.has_values && x.dat_set != y.dat_set)
                    out.push_back("control block " + r + " names data set '" + y.dat_set + "' on the device, '" +
                                  x.dat_set + "' in the SCL");
            }
            for (const auto &c : cb_d)
                if (!cb_s.count(c.first))
                    out.push_back("control block " + lnr + c.first + " is on the device but not in the SCL");
        }
    }
    return out;
}

}  // namespace zv::model
