#include "scl/scl_writer.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace zv::scl {

namespace {

void set(pugi::xml_node n, const char *name, const std::string &v) {
    if (!v.empty()) n.append_attribute(name) = v.c_str();
}
void set_bool(pugi::xml_node n, const char *name, bool v) { n.append_attribute(name) = v ? "true" : "false"; }
void set_num(pugi::xml_node n, const char *name, uint32_t v) { n.append_attribute(name) = std::to_string(v).c_str(); }

const char *mode_name(SettingMode m) {
    switch (m) {
    case SettingMode::Dyn: return "Dyn";
    case SettingMode::Conf: return "Conf";
    case SettingMode::Fix: return "Fix";
    }
    return "Fix";
}

// The template ids an IED needs, each kind closed over its references.
struct Used {
    std::set<std::string> ln, dot, dat, en;
};

void use_attr(const Templates &t, const AttrDef &a, Used &u, int depth);

void use_da_type(const Templates &t, const std::string &id, Used &u, int depth) {
    if (depth > kMaxTypeDepth || !u.dat.insert(id).second) return;
    auto it = t.da_types.find(id);
    if (it == t.da_types.end()) return;
    for (const AttrDef &b : it->second.bdas) use_attr(t, b, u, depth + 1);
}

void use_attr(const Templates &t, const AttrDef &a, Used &u, int depth) {
    if (a.btype == "Struct")
        use_da_type(t, a.type, u, depth);
    else if (a.btype == "Enum")
        u.en.insert(a.type);
}

void use_do_type(const Templates &t, const std::string &id, Used &u, int depth) {
    if (depth > kMaxTypeDepth || !u.dot.insert(id).second) return;
    auto it = t.do_types.find(id);
    if (it == t.do_types.end()) return;
    for (const DoChild &c : it->second.children) {
        if (c.is_sdo)
            use_do_type(t, c.type, u, depth + 1);
        else
            use_attr(t, c.da, u, depth + 1);
    }
}

void write_attr(pugi::xml_node n, const AttrDef &a, bool is_da) {
    set(n, "name", a.name);
    if (is_da) set(n, "fc", a.fc);
    set(n, "bType", a.btype);
    set(n, "type", a.type);
    if (a.count > 0) set_num(n, "count", a.count);
    if (is_da) {
        if (a.dchg) set_bool(n, "dchg", true);
        if (a.qchg) set_bool(n, "qchg", true);
        if (a.dupd) set_bool(n, "dupd", true);
    }
    if (a.has_val) n.append_child("Val").text() = a.val.c_str();
}

void write_trg(pugi::xml_node n, uint8_t trg) {
    pugi::xml_node t = n.append_child("TrgOps");
    set_bool(t, "dchg", trg & (1u << kTrgDchg));
    set_bool(t, "qchg", trg & (1u << kTrgQchg));
    set_bool(t, "dupd", trg & (1u << kTrgDupd));
    set_bool(t, "period", trg & (1u << kTrgIntegrity));
    set_bool(t, "gi", trg & (1u << kTrgGi));
}

void write_cb(pugi::xml_node ln, const ControlBlock &cb) {
    switch (cb.kind) {
    case CbKind::Report: {
        pugi::xml_node r = ln.append_child("ReportControl");
        set(r, "name", cb.name);
        set(r, "desc", cb.desc);
        set(r, "datSet", cb.dat_set);
        set(r, "rptID", cb.rpt_id);
        set_num(r, "confRev", cb.conf_rev);
        set_bool(r, "buffered", cb.buffered);
        set_num(r, "bufTime", cb.buf_time);
        set_num(r, "intgPd", cb.intg_pd);
        set_bool(r, "indexed", cb.indexed);
        write_trg(r, cb.trg_ops);
        pugi::xml_node o = r.append_child("OptFields");
        const std::pair<const char *, int> bits[] = {
            {"seqNum", kOptSeqNum},   {"timeStamp", kOptTimeStamp}, {"reasonCode", kOptReason},
            {"dataSet", kOptDataSet}, {"dataRef", kOptDataRef},     {"bufOvfl", kOptBufOvfl},
            {"entryID", kOptEntryId}, {"configRef", kOptConfRev},   {"segmentation", kOptSegmentation}};
        for (const auto &b : bits) set_bool(o, b.first, cb.opt_flds & (1u << b.second));
        set_num(r.append_child("RptEnabled"), "max", cb.max);
        break;
    }
    case CbKind::Log: {
        pugi::xml_node l = ln.append_child("LogControl");
        set(l, "name", cb.name);
        set(l, "desc", cb.desc);
        set(l, "datSet", cb.dat_set);
        set(l, "logName", cb.log_name);
        set_num(l, "intgPd", cb.intg_pd);
        write_trg(l, cb.trg_ops);
        break;
    }
    case CbKind::SettingGroup: {
        pugi::xml_node s = ln.append_child("SettingControl");
        set(s, "desc", cb.desc);
        set_num(s, "numOfSGs", cb.num_of_sgs);
        set_num(s, "actSG", cb.act_sg);
        break;
    }
    case CbKind::Goose: {
        pugi::xml_node g = ln.append_child("GSEControl");
        set(g, "name", cb.name);
        set(g, "desc", cb.desc);
        set(g, "datSet", cb.dat_set);
        set_num(g, "confRev", cb.conf_rev);
        set(g, "appID", cb.go_id);
        break;
    }
    case CbKind::SampledValue: {
        pugi::xml_node v = ln.append_child("SampledValueControl");
        set(v, "name", cb.name);
        set(v, "desc", cb.desc);
        set(v, "datSet", cb.dat_set);
        set(v, "smvID", cb.smv_id);
        set_num(v, "confRev", cb.conf_rev);
        set_num(v, "smpRate", cb.smp_rate);
        set_num(v, "nofASDU", cb.nof_asdu);
        set_bool(v, "multicast", cb.multicast);
        static const char *const kModes[] = {"SmpPerPeriod", "SmpPerSec", "SecPerSmp"};
        if (cb.smp_mod < 3) set(v, "smpMod", kModes[cb.smp_mod]);
        pugi::xml_node o = v.append_child("SmvOpts");
        const std::pair<const char *, int> bits[] = {{"refreshTime", kSvRefreshTime},
                                                     {"sampleSynchronized", kSvSampleSync},
                                                     {"sampleRate", kSvSampleRate},
                                                     {"dataSet", kSvDataSet},
                                                     {"security", kSvSecurity}};
        for (const auto &b : bits) set_bool(o, b.first, cb.sv_opts & (1u << b.second));
        break;
    }
    }
}

// DOI/SDI/DAI of the instance entries, nested by their '$' paths.
void write_entries(pugi::xml_node ln, const Ln &l) {
    for (const InstEntry &e : l.entries) {
        std::vector<std::string> parts;
        std::stringstream ss(e.path);
        for (std::string p; std::getline(ss, p, '$');) parts.push_back(p);
        if (parts.empty()) continue;
        pugi::xml_node cur = ln;
        for (size_t i = 0; i < parts.size(); ++i) {
            const bool last = i + 1 == parts.size();
            const char *kind = i == 0 ? "DOI" : (last && e.is_dai) ? "DAI" : "SDI";
            pugi::xml_node found;
            for (pugi::xml_node c : cur.children(kind))
                if (parts[i] == c.attribute("name").value()) found = c;
            if (!found) {
                found = cur.append_child(kind);
                found.append_attribute("name") = parts[i].c_str();
            }
            cur = found;
        }
        if (!e.desc.empty() && !cur.attribute("desc")) cur.append_attribute("desc") = e.desc.c_str();
        if (e.is_dai && e.has_val) cur.append_child("Val").text() = e.val.c_str();
    }
}

void write_ln(pugi::xml_node ld, const Ln &l) {
    pugi::xml_node n = ld.append_child(l.is_ln0 ? "LN0" : "LN");
    set(n, "desc", l.desc);
    if (!l.is_ln0) set(n, "prefix", l.prefix);
    n.append_attribute("lnClass") = l.is_ln0 ? "LLN0" : l.ln_class.c_str();
    n.append_attribute("inst") = l.is_ln0 ? "" : l.inst.c_str();
    set(n, "lnType", l.ln_type);
    for (const DataSet &ds : l.data_sets) {
        pugi::xml_node d = n.append_child("DataSet");
        set(d, "name", ds.name);
        set(d, "desc", ds.desc);
        for (const Fcda &f : ds.members) {
            pugi::xml_node m = d.append_child("FCDA");
            set(m, "ldInst", f.ld_inst);
            set(m, "prefix", f.prefix);
            set(m, "lnClass", f.ln_class);
            set(m, "lnInst", f.ln_inst);
            set(m, "doName", f.do_name);
            set(m, "daName", f.da_name);
            set(m, "fc", f.fc);
        }
    }
    for (const ControlBlock &cb : l.cbs) write_cb(n, cb);
    write_entries(n, l);
}

template <class Map>
std::vector<std::string> sorted_ids(const Map &m, const std::set<std::string> &used) {
    std::vector<std::string> out;
    for (const auto &kv : m)
        if (used.count(kv.first)) out.push_back(kv.first);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

std::string write_icd(const Document &doc, const Ied &ied) {
    pugi::xml_document x;
    pugi::xml_node decl = x.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node scl = x.append_child("SCL");
    scl.append_attribute("xmlns") = "http://www.iec.ch/61850/2003/SCL";
    set(scl, "version", doc.version);
    set(scl, "revision", doc.revision);
    pugi::xml_node hdr = scl.append_child("Header");
    hdr.append_attribute("id") = ied.name.c_str();
    hdr.append_attribute("nameStructure") = "IEDName";

    pugi::xml_node in = scl.append_child("IED");
    set(in, "name", ied.name);
    set(in, "desc", ied.desc);
    set(in, "manufacturer", ied.manufacturer);
    set(in, "type", ied.type);
    const ReportSettings &rs = ied.services.report;
    if (rs.present) {
        pugi::xml_node r = in.append_child("Services").append_child("ReportSettings");
        const std::pair<const char *, SettingMode> modes[] = {{"cbName", rs.cb_name},   {"datSet", rs.dat_set},
                                                              {"rptID", rs.rpt_id},     {"optFields", rs.opt_fields},
                                                              {"bufTime", rs.buf_time}, {"trgOps", rs.trg_ops},
                                                              {"intgPd", rs.intg_pd}};
        for (const auto &m : modes) r.append_attribute(m.first) = mode_name(m.second);
        if (rs.owner) set_bool(r, "owner", true);
        if (rs.resv_tms) set_bool(r, "resvTms", true);
    }
    pugi::xml_node ap = in.append_child("AccessPoint");
    ap.append_attribute("name") = "S1";
    pugi::xml_node srv = ap.append_child("Server");
    srv.append_child("Authentication");
    Used used;
    for (const LDevice &ld : ied.lds) {
        pugi::xml_node l = srv.append_child("LDevice");
        set(l, "inst", ld.inst);
        set(l, "ldName", ld.ld_name);
        set(l, "desc", ld.desc);
        for (const Ln &ln : ld.lns) {
            write_ln(l, ln);
            used.ln.insert(ln.ln_type);
        }
    }

    const Templates &t = doc.templates;
    for (const std::string &id : used.ln) {
        auto it = t.ln_types.find(id);
        if (it == t.ln_types.end()) continue;
        for (const DoDef &d : it->second.dos) use_do_type(t, d.type, used, 1);
    }
    pugi::xml_node dtt = scl.append_child("DataTypeTemplates");
    for (const std::string &id : sorted_ids(t.ln_types, used.ln)) {
        const LNodeType &lt = t.ln_types.at(id);
        pugi::xml_node n = dtt.append_child("LNodeType");
        set(n, "id", lt.id);
        set(n, "lnClass", lt.ln_class);
        for (const DoDef &d : lt.dos) {
            pugi::xml_node c = n.append_child("DO");
            set(c, "name", d.name);
            set(c, "type", d.type);
        }
    }
    for (const std::string &id : sorted_ids(t.do_types, used.dot)) {
        const DoType &dt = t.do_types.at(id);
        pugi::xml_node n = dtt.append_child("DOType");
        set(n, "id", dt.id);
        set(n, "cdc", dt.cdc);
        for (const DoChild &c : dt.children) {
            if (c.is_sdo) {
                pugi::xml_node s = n.append_child("SDO");
                set(s, "name", c.name);
                set(s, "type", c.type);
            } else {
                write_attr(n.append_child("DA"), c.da, true);
            }
        }
    }
    for (const std::string &id : sorted_ids(t.da_types, used.dat)) {
        const DaType &at = t.da_types.at(id);
        pugi::xml_node n = dtt.append_child("DAType");
        set(n, "id", at.id);
        for (const AttrDef &b : at.bdas) write_attr(n.append_child("BDA"), b, false);
    }
    for (const std::string &id : sorted_ids(t.enum_types, used.en)) {
        const EnumType &et = t.enum_types.at(id);
        pugi::xml_node n = dtt.append_child("EnumType");
        set(n, "id", et.id);
        for (const auto &v : et.vals) {
            pugi::xml_node e = n.append_child("EnumVal");
            e.append_attribute("ord") = v.first;
            e.text() = v.second.c_str();
        }
    }
    std::ostringstream out;
    x.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

bool write_icd_file(const Document &doc, const Ied &ied, const std::string &path, std::string &why) {
    const std::string text = write_icd(doc, ied);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) {
        why = "cannot create '" + path + "': " + std::strerror(errno);
        return false;
    }
    f.write(text.data(), std::streamsize(text.size()));
    f.close();
    if (!f) {
        why = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace zv::scl
