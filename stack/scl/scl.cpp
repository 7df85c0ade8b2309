// SCL reader (pugixml DOM, then a walk that copies what the model needs).
#include "scl/scl.h"

#include <pugixml.hpp>

#include "base/log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace zv::scl {

// ---- diagnostics ----------------------------------------------------------

void Diagnostics::add(Diag d) {
    if (!quiet_)
        zv::log::line(d.file + ":" + std::to_string(d.line) + ": " + (d.error ? "error" : "warning") + ": " + d.reason);
    if (d.error) ++errors_;
    items_.push_back(std::move(d));
}

void Diagnostics::warn(const std::string &file, int line, const std::string &reason) {
    add(Diag{file, line, reason, false});
}

void Diagnostics::error(const std::string &file, int line, const std::string &reason) {
    add(Diag{file, line, reason, true});
}

bool Diagnostics::mentions(std::string_view text) const {
    for (const Diag &d : items_)
        if (d.reason.find(text) != std::string::npos) return true;
    return false;
}

bool valid_name(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLen) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

namespace {

// Local name of an element, without a namespace prefix.
std::string_view lname(const pugi::xml_node &n) {
    std::string_view s = n.name();
    size_t colon = s.find(':');
    return colon == std::string_view::npos ? s : s.substr(colon + 1);
}

bool is(const pugi::xml_node &n, std::string_view local) { return n.type() == pugi::node_element && lname(n) == local; }

std::string attr(const pugi::xml_node &n, const char *name) { return n.attribute(name).value(); }

// Maps byte offsets of the buffer to 1-based line numbers.
class LineIndex {
public:
    explicit LineIndex(std::string_view text) {
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n') nl_.push_back(i);
    }
    int line(ptrdiff_t offset) const {
        if (offset < 0) return 0;
        return int(std::upper_bound(nl_.begin(), nl_.end(), size_t(offset)) - nl_.begin()) + 1;
    }

private:
    std::vector<size_t> nl_;
};

bool parse_uint(const std::string &s, uint32_t &out) {
    if (s.empty() || s.size() > 10) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    out = uint32_t(v);
    return true;
}

bool truthy(const pugi::xml_node &n, const char *name, bool dflt) {
    pugi::xml_attribute a = n.attribute(name);
    if (!a) return dflt;
    std::string_view v = a.value();
    return v == "true" || v == "1";
}

class Reader {
public:
    Reader(const std::string &file, std::string_view text, Document &doc, Diagnostics &diag)
        : file_(file), lines_(text), doc_(doc), diag_(diag) {}

    void run(const pugi::xml_node &root);

private:
    int line(const pugi::xml_node &n) const { return lines_.line(n.offset_debug()); }
    void warn(const pugi::xml_node &n, const std::string &why) { diag_.warn(file_, line(n), why); }
    void error(const pugi::xml_node &n, const std::string &why) { diag_.error(file_, line(n), why); }

    // A name attribute that must be a valid identifier; warns and returns false otherwise.
    bool check_name(const pugi::xml_node &n, const std::string &what, const std::string &value) {
        if (value.size() > kMaxNameLen) {
            warn(n, what + " '" + value.substr(0, 80) + "...' is longer than 64 characters; skipped");
            return false;
        }
        if (!valid_name(value)) {
            warn(n, what + " '" + value + "' is not a valid name; skipped");
            return false;
        }
        return true;
    }

    // The first <Val> of an element. An empty one (<Val/>, <Val></Val>, as
    // tools write for time stamps and the like) configures no value.
    bool read_val(const pugi::xml_node &owner, std::string &out) {
        for (pugi::xml_node v : owner.children()) {
            if (!is(v, "Val")) continue;
            std::string text = v.child_value();
            if (text.empty()) return false;
            if (text.size() > kMaxValueText) {
                warn(v, "value text longer than " + std::to_string(kMaxValueText) + " bytes; ignored");
                return false;
            }
            out = text;
            return true;
        }
        return false;
    }

    // The `count` of an array DA, BDA or SDO: false (with a warning) when it
    // cannot be used, out = 0 when absent.
    bool read_count(const pugi::xml_node &n, const std::string &what, uint32_t &out) {
        out = 0;
        pugi::xml_attribute c = n.attribute("count");
        if (!c) return true;
        uint32_t cnt = 0;
        std::string cs = c.value();
        if (!parse_uint(cs, cnt)) {
            // count may name another attribute (IEC 61850-6 Ed2); not supported here.
            warn(n, what + " has count '" + cs.substr(0, 80) + "' that is no number; skipped");
            return false;
        }
        if (cnt > kMaxArrayCount) {
            warn(n, what + " count " + cs + " exceeds " + std::to_string(kMaxArrayCount) + "; skipped");
            return false;
        }
        out = cnt;
        return true;
    }

    void read_templates(const pugi::xml_node &dtt);
    bool read_attr(const pugi::xml_node &n, bool is_da, AttrDef &a);
    void read_communication(const pugi::xml_node &comm);
    void read_ied(const pugi::xml_node &n);
    void read_ln(const pugi::xml_node &n, bool ln0, LDevice &ld);
    void read_doi(const pugi::xml_node &n, const std::string &prefix, Ln &ln, int depth);
    void read_data_set(const pugi::xml_node &n, Ln &ln);
    void read_cb(const pugi::xml_node &n, CbKind kind, Ln &ln);
    void read_services(const pugi::xml_node &n, Services &out);

    const std::string &file_;
    LineIndex lines_;
    Document &doc_;
    Diagnostics &diag_;
};

void Reader::run(const pugi::xml_node &root) {
    doc_.version = attr(root, "version");
    doc_.revision = attr(root, "revision");
    for (pugi::xml_node n : root.children()) {
        if (is(n, "DataTypeTemplates")) {
            if (doc_.has_templates) {
                warn(n, "second DataTypeTemplates section; ignored");
                continue;
            }
            doc_.has_templates = true;
            read_templates(n);
        }
    }
    for (pugi::xml_node n : root.children())
        if (is(n, "Communication")) read_communication(n);
    std::set<std::string> names;
    for (pugi::xml_node n : root.children()) {
        if (!is(n, "IED")) continue;
        std::string name = attr(n, "name");
        if (!check_name(n, "IED name", name)) continue;
        if (!names.insert(name).second) {
            error(n, "duplicate IED name '" + name + "'");
            continue;
        }
        read_ied(n);
    }
}

bool Reader::read_attr(const pugi::xml_node &n, bool is_da, AttrDef &a) {
    a.name = attr(n, "name");
    a.line = line(n);
    if (!check_name(n, is_da ? "DA name" : "BDA name", a.name)) return false;
    a.btype = attr(n, "bType");
    a.type = attr(n, "type");
    if (is_da) {
        a.fc = attr(n, "fc");
        if (a.fc.size() != 2) {
            warn(n, "DA '" + a.name + "' has no valid functional constraint; skipped");
            return false;
        }
        a.dchg = truthy(n, "dchg", false);
        a.qchg = truthy(n, "qchg", false);
        a.dupd = truthy(n, "dupd", false);
    }
    if (a.btype.empty()) {
        warn(n, "attribute '" + a.name + "' has no bType; skipped");
        return false;
    }
    if ((a.btype == "Struct" || a.btype == "Enum") && a.type.empty()) {
        warn(n, "attribute '" + a.name + "' of bType " + a.btype + " names no type; skipped");
        return false;
    }
    if (!read_count(n, "attribute '" + a.name + "'", a.count)) return false;
    a.has_val = read_val(n, a.val);
    return true;
}

void Reader::read_templates(const pugi::xml_node &dtt) {
    Templates &t = doc_.templates;
    for (pugi::xml_node n : dtt.children()) {
        if (n.type() != pugi::node_element) continue;
        std::string id = attr(n, "id");
        if (is(n, "LNodeType") || is(n, "DOType") || is(n, "DAType") || is(n, "EnumType")) {
            if (id.empty()) {
                warn(n, std::string(lname(n)) + " without id; skipped");
                continue;
            }
            if (id.size() > 255) {
                warn(n, std::string(lname(n)) + " id longer than 255 characters; skipped");
                continue;
            }
        }
        if (is(n, "LNodeType")) {
            LNodeType lt;
            lt.id = id;
            lt.ln_class = attr(n, "lnClass");
            lt.line = line(n);
            std::set<std::string> seen;
            for (pugi::xml_node d : n.children()) {
                if (!is(d, "DO")) continue;
                DoDef dd{attr(d, "name"), attr(d, "type"), line(d)};
                if (!check_name(d, "DO name", dd.name)) continue;
                if (!seen.insert(dd.name).second) {
                    warn(d, "duplicate DO '" + dd.name + "' in LNodeType '" + id + "'; skipped");
                    continue;
                }
                lt.dos.push_back(std::move(dd));
            }
            if (!t.ln_types.emplace(id, std::move(lt)).second) warn(n, "duplicate LNodeType id '" + id + "'; skipped");
        } else if (is(n, "DOType")) {
            DoType dt;
            dt.id = id;
            dt.cdc = attr(n, "cdc");
            dt.line = line(n);
            std::set<std::string> seen;
            for (pugi::xml_node c : n.children()) {
                DoChild ch;
                ch.line = line(c);
                if (is(c, "SDO")) {
                    ch.is_sdo = true;
                    ch.name = attr(c, "name");
                    ch.type = attr(c, "type");
                    if (!check_name(c, "SDO name", ch.name)) continue;
                    if (!read_count(c, "SDO '" + ch.name + "'", ch.count)) continue;
                } else if (is(c, "DA")) {
                    if (!read_attr(c, true, ch.da)) continue;
                    ch.name = ch.da.name;
                } else {
                    continue;
                }
                if (!seen.insert(ch.name).second) {
                    warn(c, "duplicate '" + ch.name + "' in DOType '" + id + "'; skipped");
                    continue;
                }
                dt.children.push_back(std::move(ch));
            }
            if (!t.do_types.emplace(id, std::move(dt)).second) warn(n, "duplicate DOType id '" + id + "'; skipped");
        } else if (is(n, "DAType")) {
            DaType at;
            at.id = id;
            at.line = line(n);
            std::set<std::string> seen;
            for (pugi::xml_node c : n.children()) {
                if (!is(c, "BDA")) continue;
                AttrDef a;
                if (!read_attr(c, false, a)) continue;
                if (!seen.insert(a.name).second) {
                    warn(c, "duplicate BDA '" + a.name + "' in DAType '" + id + "'; skipped");
                    continue;
                }
                at.bdas.push_back(std::move(a));
            }
            if (!t.da_types.emplace(id, std::move(at)).second) warn(n, "duplicate DAType id '" + id + "'; skipped");
        } else if (is(n, "EnumType")) {
            EnumType et;
            et.id = id;
            et.line = line(n);
            for (pugi::xml_node c : n.children()) {
                if (!is(c, "EnumVal")) continue;
                std::string ord = attr(c, "ord");
                char *end = nullptr;
                errno = 0;
                long v = std::strtol(ord.c_str(), &end, 10);
                if (ord.empty() || *end != '\0' || errno != 0 || v < -32768 || v > 32767) {
                    warn(c, "EnumVal ord '" + ord + "' is no number; skipped");
                    continue;
                }
                et.vals.emplace_back(int(v), c.child_value());
            }
            if (!t.enum_types.emplace(id, std::move(et)).second) warn(n, "duplicate EnumType id '" + id + "'; skipped");
        }
    }
}

void Reader::read_communication(const pugi::xml_node &comm) {
    for (pugi::xml_node sn : comm.children()) {
        if (!is(sn, "SubNetwork")) continue;
        std::string sub = attr(sn, "name");
        for (pugi::xml_node cap : sn.children()) {
            if (!is(cap, "ConnectedAP")) continue;
            Address a;
            a.subnetwork = sub;
            a.access_point = attr(cap, "apName");
            a.line = line(cap);
            for (pugi::xml_node ad : cap.children()) {
                if (!is(ad, "Address")) continue;
                for (pugi::xml_node p : ad.children()) {
                    if (!is(p, "P")) continue;
                    const std::string type = attr(p, "type");
                    if (type == "IP") a.ip = p.child_value();
                    static const std::pair<const char *, AddressParam Address::*> kOsi[] = {
                        {"OSI-TSEL", &Address::osi_tsel},
                        {"OSI-SSEL", &Address::osi_ssel},
                        {"OSI-PSEL", &Address::osi_psel},
                        {"OSI-AP-Title", &Address::osi_ap_title},
                        {"OSI-AE-Qualifier", &Address::osi_ae_qualifier},
                        {"OSI-AP-Invoke", &Address::osi_ap_invoke},
                        {"OSI-AE-Invoke", &Address::osi_ae_invoke}};
                    for (const auto &k : kOsi)
                        if (type == k.first) a.*k.second = AddressParam{p.child_value(), line(p)};
                }
            }
            if (a.ip.empty()) continue;  // GSE/SMV-only access points carry no IP
            if (a.ip.size() > 255) {
                warn(cap, "IP address text too long; ignored");
                continue;
            }
            doc_.addresses[attr(cap, "iedName")].push_back(std::move(a));
        }
    }
}

void Reader::read_ied(const pugi::xml_node &n) {
    Ied ied;
    ied.name = attr(n, "name");
    ied.desc = attr(n, "desc");
    ied.manufacturer = attr(n, "manufacturer");
    ied.type = attr(n, "type");
    ied.line = line(n);
    for (pugi::xml_node c : n.children())
        if (is(c, "Services")) read_services(c, ied.services);
    std::set<std::string> insts, ld_names;
    for (pugi::xml_node ap : n.children()) {
        if (!is(ap, "AccessPoint")) continue;
        // The schema requires the name; the model does not use it.
        if (attr(ap, "name").empty()) warn(ap, "AccessPoint of IED '" + ied.name + "' has no name; read anyway");
        for (pugi::xml_node srv : ap.children()) {
            if (!is(srv, "Server")) continue;
            ied.has_server = true;
            // Edition 2.1 may declare the services of the server's access point.
            if (!ied.services.report.present)
                for (pugi::xml_node c : ap.children())
                    if (is(c, "Services")) read_services(c, ied.services);
            for (pugi::xml_node ldn : srv.children()) {
                if (!is(ldn, "LDevice")) continue;
                LDevice ld;
                ld.inst = attr(ldn, "inst");
                ld.desc = attr(ldn, "desc");
                ld.line = line(ldn);
                ld.ld_name = attr(ldn, "ldName");
                const std::string ld_name = ld.name(ied.name);
                if (ld.inst.empty()) {
                    warn(ldn, "LDevice without inst; skipped");
                    continue;
                }
                if (!check_name(ldn, "logical device name", ld_name)) continue;
                if (!insts.insert(ld.inst).second) {
                    warn(ldn, "duplicate LDevice inst '" + ld.inst + "'; skipped");
                    continue;
                }
                if (!ld_names.insert(ld_name).second) {
                    warn(ldn, "logical device name '" + ld_name + "' given twice; LDevice '" + ld.inst + "' skipped");
                    continue;
                }
                for (pugi::xml_node c : ldn.children())
                    if (is(c, "LN0")) {
                        read_ln(c, true, ld);
                        break;
                    }
                for (pugi::xml_node c : ldn.children())
                    if (is(c, "LN")) read_ln(c, false, ld);
                ied.lds.push_back(std::move(ld));
            }
        }
    }
    doc_.ieds.push_back(std::move(ied));
}

void Reader::read_ln(const pugi::xml_node &n, bool ln0, LDevice &ld) {
    Ln ln;
    ln.is_ln0 = ln0;
    ln.prefix = attr(n, "prefix");
    ln.ln_class = attr(n, "lnClass");
    ln.inst = attr(n, "inst");
    ln.ln_type = attr(n, "lnType");
    ln.desc = attr(n, "desc");
    ln.line = line(n);
    if (ln0 && ln.ln_class.empty()) ln.ln_class = "LLN0";
    std::string name = ln.name();
    if (!check_name(n, "LN name", name)) return;
    if (ln.ln_type.empty()) {
        warn(n, "LN '" + name + "' names no lnType; skipped");
        return;
    }
    for (const Ln &other : ld.lns)
        if (other.name() == name) {
            warn(n, "duplicate LN '" + name + "' in LDevice '" + ld.inst + "'; skipped");
            return;
        }
    std::set<std::string> ds_names;
    for (pugi::xml_node c : n.children()) {
        if (is(c, "DOI")) {
            read_doi(c, std::string(), ln, 0);
        } else if (is(c, "DataSet")) {
            std::string dsn = attr(c, "name");
            if (!ds_names.insert(dsn).second) {
                warn(c, "duplicate DataSet '" + dsn + "' in LN '" + name + "'; skipped");
                continue;
            }
            read_data_set(c, ln);
        } else if (is(c, "ReportControl")) {
            read_cb(c, CbKind::Report, ln);
        } else if (is(c, "LogControl")) {
            read_cb(c, CbKind::Log, ln);
        } else if (is(c, "SettingControl")) {
            read_cb(c, CbKind::SettingGroup, ln);
        } else if (is(c, "GSEControl")) {
            read_cb(c, CbKind::Goose, ln);
        } else if (is(c, "SampledValueControl")) {
            read_cb(c, CbKind::SampledValue, ln);
        }
    }
    ld.lns.push_back(std::move(ln));
}

void Reader::read_doi(const pugi::xml_node &n, const std::string &prefix, Ln &ln, int depth) {
    if (depth > kMaxTypeDepth) {
        warn(n, "DOI/SDI nesting deeper than " + std::to_string(kMaxTypeDepth) + "; skipped");
        return;
    }
    std::string name = attr(n, "name");
    if (!check_name(n, std::string(lname(n)) + " name", name)) return;
    if (pugi::xml_attribute ix = n.attribute("ix")) {
        // An element of an array: the path names it as the reference does, name(ix).
        uint32_t k = 0;
        if (!parse_uint(ix.value(), k) || k >= kMaxArrayCount) {
            warn(n, "ix '" + std::string(ix.value()).substr(0, 80) + "' of '" + name + "' is no index below " +
                        std::to_string(kMaxArrayCount) + "; skipped");
            return;
        }
        name += "(" + std::to_string(k) + ")";
    }
    InstEntry e;
    e.path = prefix.empty() ? name : prefix + "$" + name;
    if (e.path.size() > kMaxRefLen) {
        warn(n, "instance path '" + e.path.substr(0, 80) + "...' too long; skipped");
        return;
    }
    e.desc = attr(n, "desc");
    e.line = line(n);
    if (is(n, "DAI")) {
        e.is_dai = true;
        e.has_val = read_val(n, e.val);
        if (e.has_val || !e.desc.empty()) ln.entries.push_back(std::move(e));
        return;
    }
    std::string path = e.path;
    if (!e.desc.empty()) ln.entries.push_back(std::move(e));
    for (pugi::xml_node c : n.children())
        if (is(c, "SDI") || is(c, "DAI")) read_doi(c, path, ln, depth + 1);
}

void Reader::read_data_set(const pugi::xml_node &n, Ln &ln) {
    DataSet ds;
    ds.name = attr(n, "name");
    ds.desc = attr(n, "desc");
    ds.line = line(n);
    if (!check_name(n, "DataSet name", ds.name)) return;
    for (pugi::xml_node f : n.children()) {
        if (!is(f, "FCDA")) continue;
        Fcda m;
        m.ld_inst = attr(f, "ldInst");
        m.prefix = attr(f, "prefix");
        m.ln_class = attr(f, "lnClass");
        m.ln_inst = attr(f, "lnInst");
        m.do_name = attr(f, "doName");
        m.da_name = attr(f, "daName");
        m.fc = attr(f, "fc");
        m.ix = attr(f, "ix");
        m.line = line(f);
        // Kept even when broken: the model keeps the member's position so that
        // report values stay aligned with the device's data set.
        ds.members.push_back(std::move(m));
    }
    ln.data_sets.push_back(std::move(ds));
}

void Reader::read_services(const pugi::xml_node &n, Services &out) {
    for (pugi::xml_node c : n.children()) {
        if (!is(c, "ReportSettings")) continue;
        ReportSettings &r = out.report;
        r.present = true;
        r.line = line(c);
        r.owner = truthy(c, "owner", false);
        r.resv_tms = truthy(c, "resvTms", false);
        auto mode = [&](const char *name, SettingMode &m) {
            pugi::xml_attribute a = c.attribute(name);
            if (!a) return;  // the schema's default: Fix
            std::string_view v = a.value();
            if (v == "Dyn")
                m = SettingMode::Dyn;
            else if (v == "Conf")
                m = SettingMode::Conf;
            else if (v == "Fix")
                m = SettingMode::Fix;
            else
                warn(c,
                     std::string("ReportSettings ") + name + "='" + a.value() + "' is not Dyn, Conf or Fix; Fix taken");
        };
        mode("cbName", r.cb_name);
        mode("datSet", r.dat_set);
        mode("rptID", r.rpt_id);
        mode("optFields", r.opt_fields);
        mode("bufTime", r.buf_time);
        mode("trgOps", r.trg_ops);
        mode("intgPd", r.intg_pd);
    }
}

void Reader::read_cb(const pugi::xml_node &n, CbKind kind, Ln &ln) {
    ControlBlock cb;
    cb.kind = kind;
    cb.line = line(n);
    cb.name = kind == CbKind::SettingGroup ? std::string("SGCB") : attr(n, "name");
    if (!check_name(n, "control block name", cb.name)) return;
    cb.desc = attr(n, "desc");
    cb.dat_set = attr(n, "datSet");
    uint32_t v = 0;
    auto num = [&](const char *a, uint32_t &out) {
        pugi::xml_attribute x = n.attribute(a);
        if (!x) return;
        if (parse_uint(x.value(), v))
            out = v;
        else
            warn(n, std::string("attribute ") + a + "='" + x.value() + "' is no number; default kept");
    };
    num("confRev", cb.conf_rev);
    num("intgPd", cb.intg_pd);
    num("bufTime", cb.buf_time);
    if (kind == CbKind::Report) {
        cb.buffered = truthy(n, "buffered", false);
        cb.indexed = truthy(n, "indexed", true);
        cb.rpt_id = attr(n, "rptID");
        for (pugi::xml_node c : n.children()) {
            if (is(c, "TrgOps")) {
                cb.trg_ops = uint8_t((truthy(c, "dchg", false) << kTrgDchg) | (truthy(c, "qchg", false) << kTrgQchg) |
                                     (truthy(c, "dupd", false) << kTrgDupd) |
                                     (truthy(c, "period", false) << kTrgIntegrity) | (truthy(c, "gi", true) << kTrgGi));
            } else if (is(c, "OptFields")) {
                cb.opt_flds = uint16_t(
                    (truthy(c, "seqNum", false) << kOptSeqNum) | (truthy(c, "timeStamp", false) << kOptTimeStamp) |
                    (truthy(c, "reasonCode", false) << kOptReason) | (truthy(c, "dataSet", false) << kOptDataSet) |
                    (truthy(c, "dataRef", false) << kOptDataRef) | (truthy(c, "bufOvfl", false) << kOptBufOvfl) |
                    (truthy(c, "entryID", false) << kOptEntryId) | (truthy(c, "configRef", false) << kOptConfRev) |
                    (truthy(c, "segmentation", false) << kOptSegmentation));
            } else if (is(c, "RptEnabled")) {
                pugi::xml_attribute m = c.attribute("max");
                if (m) {
                    uint32_t mx = 0;
                    if (!parse_uint(m.value(), mx) || mx < 1 || mx > 99) {
                        warn(c, std::string("RptEnabled max '") + m.value() + "' outside 1..99; control block skipped");
                        return;
                    }
                    cb.max = mx;
                }
            }
        }
    } else if (kind == CbKind::Log) {
        cb.log_name = attr(n, "logName");
        for (pugi::xml_node c : n.children())
            if (is(c, "TrgOps"))
                cb.trg_ops = uint8_t((truthy(c, "dchg", false) << kTrgDchg) | (truthy(c, "qchg", false) << kTrgQchg) |
                                     (truthy(c, "dupd", false) << kTrgDupd) |
                                     (truthy(c, "period", false) << kTrgIntegrity) | (truthy(c, "gi", true) << kTrgGi));
    } else if (kind == CbKind::SettingGroup) {
        num("numOfSGs", cb.num_of_sgs);
        num("actSG", cb.act_sg);
    } else if (kind == CbKind::SampledValue) {
        cb.smv_id = attr(n, "smvID");
        cb.multicast = truthy(n, "multicast", true);
        num("smpRate", cb.smp_rate);
        num("nofASDU", cb.nof_asdu);
        if (pugi::xml_attribute m = n.attribute("smpMod")) {
            std::string_view v = m.value();
            if (v == "SmpPerPeriod")
                cb.smp_mod = kSmpPerPeriod;
            else if (v == "SmpPerSec")
                cb.smp_mod = kSmpPerSec;
            else if (v == "SecPerSmp")
                cb.smp_mod = kSecPerSmp;
            else
                warn(n, std::string("smpMod '") + m.value() +
                            "' is not SmpPerPeriod, SmpPerSec or SecPerSmp; SmpPerPeriod taken");
        }
        for (pugi::xml_node c : n.children())
            if (is(c, "SmvOpts"))
                cb.sv_opts = uint8_t((truthy(c, "refreshTime", false) << kSvRefreshTime) |
                                     (truthy(c, "sampleSynchronized", false) << kSvSampleSync) |
                                     (truthy(c, "sampleRate", false) << kSvSampleRate) |
                                     (truthy(c, "dataSet", false) << kSvDataSet) |
                                     (truthy(c, "security", false) << kSvSecurity));
    } else {
        cb.go_id = attr(n, "appID");
    }
    ln.cbs.push_back(std::move(cb));
}

}  // namespace

bool parse_text(std::string_view text, const std::string &name, Document &doc, Diagnostics &diag) {
    doc.file = name;
    if (text.size() > kMaxFileBytes) {
        diag.error(name, 0, "file larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB");
        return false;
    }
    pugi::xml_document xml;
    pugi::xml_parse_result r = xml.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!r) {
        LineIndex li(text);
        diag.error(name, li.line(r.offset), std::string("XML not well-formed: ") + r.description());
        return false;
    }
    pugi::xml_node root = xml.document_element();
    if (!is(root, "SCL")) {
        diag.error(name, 1, "root element is not SCL");
        return false;
    }
    size_t errors_before = 0;
    for (const Diag &d : diag.items()) errors_before += d.error ? 1 : 0;
    Reader rd(doc.file, text, doc, diag);
    rd.run(root);
    size_t errors_after = 0;
    for (const Diag &d : diag.items()) errors_after += d.error ? 1 : 0;
    if (!doc.ieds.empty() && !doc.has_templates) {
        diag.error(name, 1, "IEDs present but no DataTypeTemplates section");
        return false;
    }
    return errors_after == errors_before;
}

bool parse_file(const std::string &path, Document &doc, Diagnostics &diag) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        diag.error(path, 0, std::string("cannot open: ") + std::strerror(errno));
        return false;
    }
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0) {
        diag.error(path, 0, "cannot read");
        return false;
    }
    if (uint64_t(size) > kMaxFileBytes) {
        diag.error(path, 0, "file larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB");
        return false;
    }
    in.seekg(0);
    std::string text(size_t(size), '\0');
    if (!in.read(text.data(), size)) {
        diag.error(path, 0, "cannot read");
        return false;
    }
    return parse_text(text, path, doc, diag);
}

}  // namespace zv::scl
