// The browse of a device that describes its own model (station key model =
// device or check), run as one job on the network thread, one confirmed
// request at a time:
//   GetNameList domains -> per domain GetNameList named variables (the LNs)
//   and named variable lists -> per LN GetVariableAccessAttributes -> per
//   control block Read -> per data set GetNamedVariableListAttributes
// then DeviceDesc -> SCL document -> IedModel, installed (device) or
// compared with the SCL model (check).
#include "browse.h"

#include "codec.h"
#include "engine.h"

#include "base/log.h"
#include "model/ied_model.h"

#include "callbacks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <map>
#include <mutex>
#include <set>
#include <unordered_set>

namespace zv::client {

namespace {

using TD = mms::TypeDescription;
using TK = mms::TypeDescription::Kind;

// Data objects of the CDCs whose parts are data objects themselves (WYE,
// DEL, SEQ, HMV...); any other structure inside a data object is one unless
// it is an attribute, which never carries both q and t.
const std::set<std::string> kSdoNames = {"phsA",  "phsB",  "phsC",  "neut", "net", "res",
                                         "phsAB", "phsBC", "phsCA", "c1",   "c2",  "c3"};

bool is_sdo(const std::string &name, const TD &t) {
    if (t.kind != TK::Structure) return false;
    if (kSdoNames.count(name)) return true;
    bool q = false, ts = false;
    for (const auto &c : t.components) q = q || c.name == "q", ts = ts || c.name == "t";
    return q && ts;
}

// SCL basic type of an MMS primitive type; empty when SCL has none.
std::string btype_of(const TD &t, const std::string &name) {
    const int32_t n = t.size < 0 ? -t.size : t.size;
    switch (t.kind) {
    case TK::Boolean: return "BOOLEAN";
    case TK::Integer:
        return n == 8 ? "INT8" : n == 16 ? "INT16" : n == 24 ? "INT24" : n == 32 ? "INT32" : n == 64 ? "INT64" : "";
    case TK::Unsigned: return n == 8 ? "INT8U" : n == 16 ? "INT16U" : n == 24 ? "INT24U" : n == 32 ? "INT32U" : "";
    case TK::FloatingPoint: return t.formatWidth == 32 ? "FLOAT32" : t.formatWidth == 64 ? "FLOAT64" : "";
    case TK::BitString:
        if (n == 2) return name == "Check" ? "Check" : name == "ctlVal" ? "Tcmd" : "Dbpos";
        return n == 13 ? "Quality" : n == 10 ? "OptFlds" : n == 6 ? "TrgOps" : "";
    case TK::OctetString:
        return n == 6 ? "Octet6" : n == 8 ? "EntryID" : n == 16 ? "Octet16" : n == 64 ? "Octet64" : "";
    case TK::VisibleString:
        return n == 32    ? "VisString32"
               : n == 64  ? "VisString64"
               : n == 65  ? "VisString65"
               : n == 129 ? "VisString129"
               : n == 255 ? "VisString255"
               : n == 3   ? "Currency"
                          : "";
    case TK::MmsString: return n == 255 ? "Unicode255" : "";
    case TK::UtcTime: return "Timestamp";
    case TK::BinaryTime: return t.binaryTimeWithDate ? "EntryTime" : "";
    default: return "";
    }
}

std::string kind_text(const TD &t) {
    static const char *const names[] = {"type name",
                                        "array",
                                        "structure",
                                        "boolean",
                                        "bit-string",
                                        "integer",
                                        "unsigned",
                                        "floating-point",
                                        "?",
                                        "octet-string",
                                        "visible-string",
                                        "generalized-time",
                                        "binary-time",
                                        "bcd",
                                        "?",
                                        "objId",
                                        "mMSString",
                                        "utc-time"};
    const size_t k = size_t(t.kind);
    std::string s = k < sizeof names / sizeof names[0] ? names[k] : "?";
    if (t.kind != TK::Structure && t.kind != TK::Array && t.kind != TK::Boolean && t.kind != TK::UtcTime)
        s += " " + std::to_string(t.kind == TK::FloatingPoint ? t.formatWidth : t.size);
    return s;
}

// A node from a type; false (with a warning) when SCL cannot hold it.
bool node_from_type(const std::string &name, const TD &t, bool is_do, int depth, const std::string &path,
                    model::DevNode &out, std::vector<std::string> &warnings) {
    out = model::DevNode();
    out.name = name;
    out.is_do = is_do;
    if (!scl::valid_name(name)) {
        warnings.push_back(path + ": component '" + name.substr(0, 80) + "' is no valid name; left out");
        return false;
    }
    if (depth > scl::kMaxTypeDepth) {
        warnings.push_back(path + ": nested deeper than " + std::to_string(scl::kMaxTypeDepth) + "; left out");
        return false;
    }
    const TD *body = &t;
    if (t.kind == TK::Array) {
        if (t.element.size() != 1 || t.elementCount == 0 || t.elementCount > scl::kMaxArrayCount) {
            warnings.push_back(path + ": array of " + std::to_string(t.elementCount) +
                               " elements (1 to 1024 supported); left out");
            return false;
        }
        out.count = t.elementCount;
        body = &t.element.front();
        if (body->kind == TK::Array) {
            warnings.push_back(path + ": array of arrays; left out");
            return false;
        }
    }
    if (body->kind == TK::Structure) {
        for (const auto &c : body->components) {
            model::DevNode k;
            const bool sdo = is_do && out.count == 0 && is_sdo(c.name, c.type);
            if (node_from_type(c.name, c.type, sdo, depth + 1, path + "$" + c.name, k, warnings))
                out.kids.push_back(std::move(k));
        }
        if (out.kids.empty()) {
            warnings.push_back(path + ": structure without usable components; left out");
            return false;
        }
        return true;
    }
    out.btype = btype_of(*body, name);
    if (out.btype.empty()) {
        warnings.push_back(path + ": " + kind_text(*body) + " has no SCL basic type; left out");
        return false;
    }
    return true;
}

bool layout_from_type(const TD &t, model::CbLayout &out, int depth) {
    if (t.kind != TK::Structure || depth > 4) return false;
    for (const auto &c : t.components) {
        model::CbComponent k;
        k.name = c.name;
        if (c.type.kind == TK::Structure) {
            if (!layout_from_type(c.type, k.members, depth + 1)) return false;
        } else if (!model::stored_type_of(btype_of(c.type, c.name), k.type, k.el_len)) {
            return false;
        }
        out.push_back(std::move(k));
    }
    return !out.empty();
}

uint32_t bit_mask(const mms::BitString &b) {
    uint32_t m = 0;
    for (size_t i = 0; i < b.bitCount && i < 32; ++i)
        if (b.test(i)) m |= 1u << i;
    return m;
}

}  // namespace

bool listed_name_ok(const std::string &name) {
    if (name.empty() || name.size() > scl::kMaxRefLen) return false;
    size_t part = 0;
    for (char c : name) {
        if (c == '$') {
            if (part == 0) return false;
            part = 0;
            continue;
        }
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_') || ++part > scl::kMaxNameLen) return false;
    }
    return part > 0;
}

bool ln_from_type(const std::string &name, const TD &t, model::DevLn &out, std::vector<std::string> &warnings,
                  std::string &why) {
    out = model::DevLn();
    out.name = name;
    if (t.kind != TK::Structure) {
        why = "the type of " + name + " is " + kind_text(t) + ", not a structure of functional constraints";
        return false;
    }
    std::set<std::string> fcs;
    for (const auto &f : t.components) {
        const int fc = model::fc_from_name(f.name);
        if (fc == model::FC_NONE || f.type.kind != TK::Structure || !fcs.insert(f.name).second) {
            warnings.push_back(name + "$" + f.name + ": no functional constraint of a structure; left out");
            continue;
        }
        model::DevFc part;
        part.fc = f.name;
        for (const auto &c : f.type.components) {
            const std::string path = name + "$" + f.name + "$" + c.name;
            const bool rcb = fc == model::FC_BR || fc == model::FC_RP;
            const bool cb = rcb || fc == model::FC_LG || fc == model::FC_GO || (fc == model::FC_SP && c.name == "SGCB");
            if (fc == model::FC_MS || fc == model::FC_US || fc == model::FC_SV || fc == model::FC_GS) {
                warnings.push_back(path + ": control blocks under " + f.name + " are not held by the model; left out");
                continue;
            }
            if (cb) {
                model::DevCb b;
                b.name = c.name;
                b.kind = rcb                  ? scl::CbKind::Report
                         : fc == model::FC_LG ? scl::CbKind::Log
                         : fc == model::FC_GO ? scl::CbKind::Goose
                                              : scl::CbKind::SettingGroup;
                b.buffered = fc == model::FC_BR;
                if (!scl::valid_name(c.name) || !layout_from_type(c.type, b.layout, 0)) {
                    warnings.push_back(path + ": control block of a type the model cannot hold (" + kind_text(c.type) +
                                       "); left out");
                    continue;
                }
                out.cbs.push_back(std::move(b));
                continue;
            }
            model::DevNode n;
            if (c.type.kind != TK::Structure) {
                warnings.push_back(path + ": a " + kind_text(c.type) + " directly under " + f.name +
                                   " is no data object; left out");
                continue;
            }
            if (node_from_type(c.name, c.type, true, 1, path, n, warnings)) part.dos.push_back(std::move(n));
        }
        if (!part.dos.empty()) out.fcs.push_back(std::move(part));
    }
    return true;
}

bool cb_from_data(const mms::Data &d, model::DevCb &cb) {
    using K = mms::Data::Kind;
    if (d.kind() != K::Structure || d.items().size() != cb.layout.size()) return false;
    for (size_t i = 0; i < cb.layout.size(); ++i) {
        const std::string &n = cb.layout[i].name;
        const mms::Data &v = d.items()[i];
        const bool str = v.kind() == K::VisibleString || v.kind() == K::MmsString;
        const bool num = v.kind() == K::Unsigned || v.kind() == K::Integer;
        const uint32_t u = v.kind() == K::Unsigned  ? uint32_t(std::min<uint64_t>(v.asUnsigned(), 0xFFFFFFFFu))
                           : v.kind() == K::Integer ? uint32_t(std::max<int64_t>(0, v.asInt()))
                                                    : 0;
        if (n == "RptID" && str)
            cb.rpt_id = v.asString();
        else if (n == "DatSet" && str)
            cb.dat_set = v.asString();
        else if (n == "LogRef" && str)
            cb.log_ref = v.asString();
        else if (n == "GoID" && str)
            cb.go_id = v.asString();
        else if (n == "ConfRev" && num)
            cb.conf_rev = u;
        else if (n == "IntgPd" && num)
            cb.intg_pd = u;
        else if (n == "BufTm" && num)
            cb.buf_time = u;
        else if (n == "NumOfSG" && num)
            cb.num_of_sgs = u;
        else if (n == "ActSG" && num)
            cb.act_sg = u;
        else if (n == "OptFlds" && v.kind() == K::BitString)
            cb.opt_flds = uint16_t(bit_mask(v.asBits()));
        else if (n == "TrgOps" && v.kind() == K::BitString)
            cb.trg_ops = uint8_t(bit_mask(v.asBits()));
    }
    cb.has_values = true;
    return true;
}

// ---- check summaries --------------------------------------------------------------

namespace {

std::mutex g_summary_mutex;
std::map<const model::IedModel *, const char *> g_summaries;  // guarded by g_summary_mutex
std::set<std::string> g_summary_texts;                        // guarded; never shrinks
constexpr size_t kMaxSummaryTexts = 4096;                     // distinct texts kept (they repeat across associations)

void set_summary(const model::IedModel *m, const std::string &text) {
    std::lock_guard<std::mutex> lock(g_summary_mutex);
    if (g_summary_texts.size() >= kMaxSummaryTexts && !g_summary_texts.count(text)) return;
    g_summaries[m] = g_summary_texts.insert(text).first->c_str();
}

}  // namespace

const char *check_summary(const model::IedModel *m) {
    std::lock_guard<std::mutex> lock(g_summary_mutex);
    auto it = g_summaries.find(m);
    return it == g_summaries.end() ? nullptr : it->second;
}

// ---- the job ---------------------------------------------------------------------

namespace {

template <class T>
const T *answer_of(const mms::Pdu &p) {
    const auto *r = std::get_if<mms::ConfirmedResponse>(&p);
    return r ? std::get_if<T>(&r->service) : nullptr;
}

class BrowseJob : public Job {
public:
    explicit BrowseJob(ServerCtx &s) : server_(s), began_(mono_ms()) {}

    void start(JobCtx &c) override {
        log_line(c.server.label() + ": asking the device for its model (" +
                 model::model_source_name(c.server.server->source) + ") on channel " +
                 char('A' + int(c.channel.which)));
        ask_names(c);
    }

    void on_answer(JobCtx &c, const mms::Pdu &p) override {
        switch (step_) {
        case Step::Domains:
        case Step::Variables:
        case Step::Lists: return take_names(c, p);
        case Step::Types: return take_type(c, p);
        case Step::Blocks: return take_block(c, p);
        case Step::Sets: return take_set(c, p);
        }
    }

    void on_end() override { server_.describing = false; }

private:
    enum class Step { Domains, Variables, Lists, Types, Blocks, Sets };
    struct Pos {
        size_t ld, ln, cb;
    };

    void fail(JobCtx &c, const std::string &why) {
        log_line(c.server.label() + ": the device's model could not be taken: " + why +
                 "; asked again at the next association");
        finish(c, 1);
    }

    // ---- name lists (paged by continueAfter while moreFollows) ----
    void ask_names(JobCtx &c) {
        mms::GetNameListRequest r;
        r.objectClass = step_ == Step::Domains     ? mms::kDomain
                        : step_ == Step::Variables ? mms::kNamedVariable
                                                   : mms::kNamedVariableList;
        r.scope = step_ == Step::Domains ? mms::ObjectName::Scope::Vmd : mms::ObjectName::Scope::Domain;
        if (step_ != Step::Domains) r.domain = desc_.lds[ld_].name;
        r.continueAfter = after_;
        send(c, std::move(r));
    }

    std::string what() const {
        return step_ == Step::Domains     ? std::string("the logical devices")
               : step_ == Step::Variables ? "the named variables of " + desc_.lds[ld_].name
                                          : "the data sets of " + desc_.lds[ld_].name;
    }

    void take_names(JobCtx &c, const mms::Pdu &p) {
        const auto *r = answer_of<mms::GetNameListResponse>(p);
        if (!r) return fail(c, "GetNameList of " + what() + " failed: " + mms::failureText(p));
        for (const std::string &id : r->identifiers) {
            if (!listed_name_ok(id))
                return fail(c, "GetNameList of " + what() + " gave the name '" + id.substr(0, 80) +
                                   "', which is no MMS name of at most 129 characters");
            if (after_ && id <= *after_)
                return fail(c, "GetNameList of " + what() + " repeated or reordered names after '" + *after_ + "'");
            after_ = id;
            if (++names_ > kMaxBrowseNames)
                return fail(c, "the device lists more than " + std::to_string(kMaxBrowseNames) + " names");
            if (step_ == Step::Domains) {
                if (id.find('$') != std::string::npos) return fail(c, "domain name '" + id + "' holds a '$'");
                if (desc_.lds.size() >= kMaxBrowseDomains)
                    return fail(c,
                                "the device has more than " + std::to_string(kMaxBrowseDomains) + " logical devices");
                model::DevLd ld;
                ld.name = id;
                desc_.lds.push_back(std::move(ld));
            } else if (step_ == Step::Variables) {
                if (id.find('$') != std::string::npos) continue;  // below an LN: its type says it all
                if (++lns_ > kMaxBrowseLns)
                    return fail(c, "the device has more than " + std::to_string(kMaxBrowseLns) + " LNs");
                model::DevLn ln;
                ln.name = id;
                // LLN0 first, as SCL has it.
                auto &lns = desc_.lds[ld_].lns;
                if (id == "LLN0")
                    lns.insert(lns.begin(), std::move(ln));
                else
                    lns.push_back(std::move(ln));
            } else {
                const size_t d = id.find('$');
                if (d == std::string::npos || id.find('$', d + 1) != std::string::npos) {
                    warn(c, "data set '" + desc_.lds[ld_].name + "/" + id + "' is not named LN$NAME; left out");
                    continue;
                }
                if (++sets_ > kMaxBrowseDataSets)
                    return fail(c, "the device has more than " + std::to_string(kMaxBrowseDataSets) + " data sets");
                set_names_.push_back({ld_, id});
            }
        }
        // moreFollows with nothing listed would ask the same page for ever.
        if (r->moreFollows && !r->identifiers.empty()) return ask_names(c);
        if (r->moreFollows) return fail(c, "GetNameList of " + what() + " says more follow but lists nothing");
        after_.reset();
        if (step_ == Step::Domains) {
            if (desc_.lds.empty()) return fail(c, "the device lists no logical device");
            step_ = Step::Variables;
            ld_ = 0;
        } else if (step_ == Step::Variables) {
            step_ = Step::Lists;
        } else if (++ld_ < desc_.lds.size()) {
            step_ = Step::Variables;
        } else {
            step_ = Step::Types;
            ld_ = 0;
            ln_ = 0;
            return next_type(c);
        }
        ask_names(c);
    }

    // ---- LN types ----
    void next_type(JobCtx &c) {
        while (ld_ < desc_.lds.size() && ln_ >= desc_.lds[ld_].lns.size()) ++ld_, ln_ = 0;
        if (ld_ >= desc_.lds.size()) {
            step_ = Step::Blocks;
            return next_block(c);
        }
        send(c, mms::GetVariableAccessAttributesRequest{
                    mms::ObjectName::dom(desc_.lds[ld_].name, desc_.lds[ld_].lns[ln_].name)});
    }

    void take_type(JobCtx &c, const mms::Pdu &p) {
        model::DevLd &ld = desc_.lds[ld_];
        const std::string ref = ld.name + "/" + ld.lns[ln_].name;
        const auto *r = answer_of<mms::GetVariableAccessAttributesResponse>(p);
        if (!r) return fail(c, "GetVariableAccessAttributes of " + ref + " failed: " + mms::failureText(p));
        std::vector<std::string> warnings;
        std::string why;
        model::DevLn ln;
        if (!ln_from_type(ld.lns[ln_].name, r->type, ln, warnings, why)) return fail(c, why);
        for (const std::string &w : warnings) warn(c, ld.name + "/" + w);
        for (size_t k = 0; k < ln.cbs.size(); ++k) {
            if (++cbs_ > kMaxBrowseControlBlocks)
                return fail(c,
                            "the device has more than " + std::to_string(kMaxBrowseControlBlocks) + " control blocks");
            blocks_.push_back({ld_, ln_, k});
        }
        ld.lns[ln_] = std::move(ln);
        ++ln_;
        next_type(c);
    }

    // ---- control block settings ----
    std::string block_item(const Pos &b) const {
        const model::DevCb &cb = desc_.lds[b.ld].lns[b.ln].cbs[b.cb];
        const char *fc = cb.kind == scl::CbKind::Report  ? (cb.buffered ? "BR" : "RP")
                         : cb.kind == scl::CbKind::Log   ? "LG"
                         : cb.kind == scl::CbKind::Goose ? "GO"
                                                         : "SP";
        return desc_.lds[b.ld].lns[b.ln].name + "$" + fc + "$" + cb.name;
    }

    void next_block(JobCtx &c) {
        if (block_ >= blocks_.size()) {
            step_ = Step::Sets;
            return next_set(c);
        }
        const Pos &b = blocks_[block_];
        mms::ReadRequest rd;
        rd.access = mms::VariableAccess::list(
            {mms::VariableRef{mms::ObjectName::dom(desc_.lds[b.ld].name, block_item(b)), {}}});
        send(c, std::move(rd));
    }

    void take_block(JobCtx &c, const mms::Pdu &p) {
        const Pos &b = blocks_[block_];
        const std::string ref = desc_.lds[b.ld].name + "/" + block_item(b);
        const auto *r = answer_of<mms::ReadResponse>(p);
        model::DevCb &cb = desc_.lds[b.ld].lns[b.ln].cbs[b.cb];
        if (!r || r->results.size() != 1 || !r->results[0].success)
            warn(c, "the settings of " + ref + " could not be read (" +
                        (!r                       ? mms::failureText(p)
                         : r->results.size() != 1 ? std::to_string(r->results.size()) + " results"
                                                  : mms::dataAccessErrorName(r->results[0].failure)) +
                        "); its data set and ConfRev stay unknown");
        else if (!cb_from_data(r->results[0].data, cb))
            warn(c, "the value of " + ref + " does not have the block's own layout; its settings stay unknown");
        ++block_;
        next_block(c);
    }

    // ---- data sets ----
    void next_set(JobCtx &c) {
        if (set_ >= set_names_.size()) return done(c);
        send(c, mms::GetNamedVariableListAttributesRequest{
                    mms::ObjectName::dom(desc_.lds[set_names_[set_].first].name, set_names_[set_].second)});
    }

    void take_set(JobCtx &c, const mms::Pdu &p) {
        model::DevLd &ld = desc_.lds[set_names_[set_].first];
        const std::string &item = set_names_[set_].second;
        const std::string ref = ld.name + "/" + item;
        const auto *r = answer_of<mms::GetNamedVariableListAttributesResponse>(p);
        ++set_;
        if (!r) {
            warn(c, "GetNamedVariableListAttributes of " + ref + " failed: " + mms::failureText(p) + "; left out");
            return next_set(c);
        }
        const size_t d = item.find('$');
        model::DevLn *ln = nullptr;
        for (model::DevLn &l : ld.lns)
            if (l.name == item.substr(0, d)) ln = &l;
        if (!ln) {
            warn(c, "data set " + ref + " belongs to no LN of the device; left out");
            return next_set(c);
        }
        model::DevDataSet ds;
        ds.name = item.substr(d + 1);
        for (const mms::VariableRef &v : r->variables) {
            std::string m = v.name.scope == mms::ObjectName::Scope::Domain ? v.name.domain + "/" + v.name.item : "";
            if (m.empty() || m.size() > scl::kMaxRefLen || !listed_name_ok(v.name.item) || !v.alternateAccess.empty()) {
                warn(c, "member " + std::to_string(ds.members.size() + 1) + " of data set " + ref +
                            " is no domain-specific variable of at most 129 characters; kept unresolved");
                m.clear();
            }
            ds.members.push_back(std::move(m));
        }
        ln->data_sets.push_back(std::move(ds));
        next_set(c);
    }

    // ---- the model ----
    void done(JobCtx &c) {
        desc_.ied = c.server.server->name;
        scl::Diagnostics diag(true);
        model::CbLayouts layouts;
        const std::string origin = "device " + desc_.ied;
        std::shared_ptr<scl::Document> doc = model::to_document(desc_, origin, layouts, diag);
        std::unique_ptr<model::IedModel> m = model::IedModel::build(doc, doc->ieds.front(), diag, &layouts);
        for (const scl::Diag &d : diag.items()) warn(c, d.reason);
        if (!m) return fail(c, "no model could be built from what it said");
        const int64_t ms = mono_ms() - began_;
        ServerCtx &s = c.server;
        const int srv = s.index;
        Engine &e = c.engine;
        if (s.server->source == model::ModelSource::Device) {
            log_line(s.label() + ": the device's model: " + std::to_string(m->ctrl()->num_ld) + " logical devices, " +
                     std::to_string(m->ln_count()) + " LNs, " + std::to_string(m->ds_count()) + " data sets, " +
                     std::to_string(cbs_) + " control blocks, " + std::to_string(m->object_count()) + " objects (" +
                     std::to_string(ms) + " ms, " + std::to_string(requests_) + " requests)");
            // Installed once, before the application hears of it; the empty
            // model stays alive for readers that still hold it.
            s.server->model = std::move(m);
            s.described = true;
        } else {
            check(c, *m);
        }
        finish(c, 0);
        e.post([&e, srv] { e.refreshed_event(srv); });
    }

    void check(JobCtx &c, const model::IedModel &device) {
        ServerCtx &s = c.server;
        const model::IedModel &now = *s.server->model;
        // The SCL's own settings: a fresh model of the same document (the
        // current one holds what the device sent since).
        std::shared_ptr<const scl::Document> doc(std::shared_ptr<const scl::Document>(), &now.document());
        scl::Diagnostics quiet(true);
        std::unique_ptr<model::IedModel> scl_model = model::IedModel::build(doc, now.scl_ied(), quiet,
                                                                            &now.cb_layouts());
        model::DeviceDesc a, b;
        std::string why;
        if (!scl_model || !model::from_records(scl_model->ctrl(), model::model_record_ops(), a, why) ||
            !model::from_records(const_cast<model::IedModel &>(device).ctrl(), model::model_record_ops(), b, why)) {
            log_line(s.label() + ": the check against the SCL could not be made: " + why);
            return;
        }
        const std::vector<std::string> diffs = model::compare(a, b);
        for (const std::string &d : diffs) log_line("check " + s.server->name + ": " + d);
        const std::string file = zv::log::daily_file_path();
        const std::string summary = diffs.empty() ? s.server->name + ": the device agrees with its SCL"
                                                  : s.server->name + ": " + std::to_string(diffs.size()) +
                                                        " differences between the device and its SCL" +
                                                        (file.empty() ? std::string() : " (" + file + ")");
        log_line(s.label() + ": " + summary);
        set_summary(&now, summary);
    }

    void warn(JobCtx &c, const std::string &text) {
        if (++warned_ <= kMaxWarnings)
            log_line("warning: " + c.server.label() + ": " + text);
        else if (warned_ == kMaxWarnings + 1)
            log_line("warning: " + c.server.label() + ": further remarks on the device's model left out");
    }

    bool send(JobCtx &c, mms::ConfirmedRequestService svc) {
        ++requests_;
        return Job::send(c, std::move(svc));
    }

    static constexpr int kMaxWarnings = 100;

    ServerCtx &server_;
    int64_t began_;
    Step step_ = Step::Domains;
    model::DeviceDesc desc_;
    std::optional<std::string> after_;
    size_t ld_ = 0, ln_ = 0;
    size_t names_ = 0, lns_ = 0, sets_ = 0, cbs_ = 0;
    std::vector<std::pair<size_t, std::string>> set_names_;  // (LD, LN$DS)
    size_t set_ = 0;
    std::vector<Pos> blocks_;
    size_t block_ = 0;
    int warned_ = 0;
    int requests_ = 0;
};

}  // namespace

void start_browse(Engine &e, ServerCtx &s, Channel &ch) {
    const model::ModelSource src = s.server->source;
    if (src == model::ModelSource::Scl || s.describing) return;
    if (src == model::ModelSource::Device && s.described) return;
    auto j = std::make_unique<BrowseJob>(s);
    j->forced = ch.which;
    j->ctrl.srv_id = s.index;
    j->ctrl.timeout = kBrowseTimeoutS;
    j->ctrl.chnl = ch.which;
    j->ctrl.result = 1;
    j->deadline = mono_ms() + int64_t(kBrowseTimeoutS) * 1000;
    s.describing = true;
    // Ahead of the application's requests: they wait for the model.
    s.waiting.push_front(std::move(j));
    (void)e;
}

}  // namespace zv::client
