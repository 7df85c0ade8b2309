// Builds the object model of one IED from its SCL (or from what the device
// says of itself, as SCL), and keeps the process-wide registries of live
// models and their LN types. The questions asked of a built model are in
// ied_model_query.cpp.
#include "model/ied_model.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <map>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <unordered_set>

#include "model/ied_model_internal.h"
#include "model/values.h"

namespace zv::model {

namespace {

constexpr uint32_t kMagic = 0x5A564D44;  // "ZVMD"

const char *const kFcNames[FC_COUNT] = {"MX", "ST", "CO", "CF", "DC", "SP", "SG", "RP", "LG", "BR",
                                        "GO", "GS", "SV", "SE", "EX", "SR", "OR", "BL", "MS", "US"};

// ---- process-wide LN type registry (mvl_type_ctrl_find) --------------------
std::mutex g_type_mutex;
std::unordered_map<int32_t, MVL_TYPE_CTRL *> g_types;  // guarded by g_type_mutex
std::atomic<int32_t> g_next_type_id{1};

// Live models, so that a pointer the application hands back can be checked
// without reading through it.
std::shared_mutex g_model_mutex;
std::unordered_set<const AI_IED_CTRL *> g_models;  // guarded by g_model_mutex

struct BasicType {
    const char *btype;
    AI_VAL_TYPE type;
    int16_t el_len;  // bytes of numbers, bits of bit strings, characters of strings
};

const BasicType kBasicTypes[] = {
    {"BOOLEAN", VAL_TYPE_BOOLEAN, 1},
    {"INT8", VAL_TYPE_INT8, 1},
    {"INT16", VAL_TYPE_INT16, 2},
    {"INT24", VAL_TYPE_INT32, 3},
    {"INT32", VAL_TYPE_INT32, 4},
    {"INT64", VAL_TYPE_INT128, 8},
    {"INT128", VAL_TYPE_INT128, 8},
    {"INT8U", VAL_TYPE_INT8U, 1},
    {"INT16U", VAL_TYPE_INT16U, 2},
    {"INT24U", VAL_TYPE_INT32U, 3},
    {"INT32U", VAL_TYPE_INT32U, 4},
    {"FLOAT32", VAL_TYPE_FLOAT32, 4},
    {"FLOAT64", VAL_TYPE_FLOAT64, 8},
    {"Dbpos", VAL_TYPE_CODEDENUM, 2},
    {"Tcmd", VAL_TYPE_TCMD, 2},
    {"Quality", VAL_TYPE_QUALITY, 13},
    {"Timestamp", VAL_TYPE_TIMESTAMP, 8},
    {"VisString32", VAL_TYPE_VSTRING64, 32},
    {"VisString64", VAL_TYPE_VSTRING64, 64},
    {"VisString65", VAL_TYPE_VSTRING65, 65},
    {"VisString129", VAL_TYPE_VSTRING129, 129},
    {"VisString255", VAL_TYPE_VSTRING255, 255},
    {"ObjRef", VAL_TYPE_VSTRING129, 129},
    {"Currency", VAL_TYPE_VSTRING64, 3},
    {"Unicode255", VAL_TYPE_UNISTRING255, 255},
    {"Octet64", VAL_TYPE_OSTRING64, 64},
    {"Octet16", VAL_TYPE_OSTRING64, 16},
    {"Octet6", VAL_TYPE_OSTRING8, 6},
    {"EntryTime", VAL_TYPE_ENTRYTIME, 6},
    {"EntryID", VAL_TYPE_ENTRYID, 8},
    {"Check", VAL_TYPE_CHECK, 2},
    {"OptFlds", VAL_TYPE_OPTFLDS, 10},
    {"TrgOps", VAL_TYPE_TRGC, 6},
    // Sampled value option fields: a bit string of 5 (IEC 61850-9-2 OptFlds
    // of the MSVCB/USVCB), kept like the report OptFlds with fewer bits.
    {"SvOptFlds", VAL_TYPE_OPTFLDS, 5},
};

// PhyComAddr (IEC 61850-8-1: the destination address of GOOSE and sampled
// values) is a structure; as a bType it is laid out like DstAddress.
struct PhyComAddrMember {
    const char *name;
    AI_VAL_TYPE type;
    int16_t el_len;
};
const PhyComAddrMember kPhyComAddr[] = {{"Addr", VAL_TYPE_OSTRING8, 6},
                                        {"PRIORITY", VAL_TYPE_INT8U, 1},
                                        {"VID", VAL_TYPE_INT16U, 2},
                                        {"APPID", VAL_TYPE_INT16U, 2}};

// Settings in the edit group (FC SE) are also the active group's values (FC
// SG, read only): IEC 61850-7-2 setting groups, so an SE attribute has an SG view.
bool in_fc(const std::string &da_fc, const std::string &fc) { return da_fc == fc || (fc == "SG" && da_fc == "SE"); }

AI_OBJ_TYPE object_type(ElemKind kind) {
    switch (kind) {
    case ElemKind::Fc: return OBJECT_TYPE_FCN;
    case ElemKind::Do: return OBJECT_TYPE_FCD;
    case ElemKind::Cb: return OBJECT_TYPE_CB;
    default: return OBJECT_TYPE_FCDA;
    }
}

size_t decimal_digits(uint32_t v) {
    size_t d = 1;
    while (v >= 10) v /= 10, ++d;
    return d;
}

const BasicType *basic_type(const std::string &b) {
    for (const BasicType &t : kBasicTypes)
        if (b == t.btype) return &t;
    return nullptr;
}

// Objects element i of a laid-out type stands for, with and without array
// element objects (LnType::span, span_flat), and the longest path with
// element indexes; `len` is the length of the path up to and with element i.
struct Spans {
    uint64_t full, flat;
};
Spans measure(LnType &lt, size_t i, size_t len) {
    const RUNTIME_TYPE &r = lt.rt[i];
    lt.max_path_ix = std::max(lt.max_path_ix, len);
    Spans s{1, 1};
    if (r.el_tag == RT_STR_START) {
        for (const RUNTIME_TYPE *c = &r + 1; c < &r + r.offset_to_last; c = next_elem(c)) {
            size_t ci = size_t(c - lt.rt.data());
            Spans cs = measure(lt, ci, len + 1 + std::strlen(c->comp_name_ptr));
            s.full += cs.full;
            s.flat += cs.flat;
        }
    } else if (r.el_tag == RT_ARR_START && r.u.arr.num_elmnts > 0) {
        // Element k is named "(k)" after the array's name. The values of all
        // elements fit kMaxLnDataBytes, so the product of the counts stays small.
        uint32_t n = uint32_t(r.u.arr.num_elmnts);
        lt.max_element_name = std::max(lt.max_element_name, std::strlen(r.comp_name_ptr) + 2 + decimal_digits(n - 1));
        Spans cs = measure(lt, i + 1, len + 2 + decimal_digits(n - 1));
        s.full += uint64_t(n) * cs.full;
    }
    lt.span[i] = uint32_t(std::min<uint64_t>(s.full, UINT32_MAX));
    lt.span_flat[i] = uint32_t(std::min<uint64_t>(s.flat, UINT32_MAX));
    return s;
}

// One element while a type is being laid out.
struct Elem {
    uint8_t tag;
    ElemKind kind;
    int8_t fc;
    AI_VAL_TYPE vt = VAL_TYPE_UNKNOWN;
    int16_t el_len = 0;
    std::string name;
    uint32_t count = 0;  // arrays
    const scl::EnumType *en = nullptr;
    const scl::AttrDef *tmpl = nullptr;
};

int cb_fc(const scl::ControlBlock &cb) {
    switch (cb.kind) {
    case scl::CbKind::Report: return cb.buffered ? FC_BR : FC_RP;
    case scl::CbKind::Log: return FC_LG;
    case scl::CbKind::SettingGroup: return FC_SP;
    case scl::CbKind::Goose: return FC_GO;
    case scl::CbKind::SampledValue: return cb.multicast ? FC_MS : FC_US;
    }
    return FC_NONE;
}

// Instance names of a control block: indexed report blocks get 01..max.
std::vector<std::string> cb_instances(const scl::ControlBlock &cb) {
    std::vector<std::string> out;
    if (cb.kind == scl::CbKind::Report && cb.indexed) {
        for (uint32_t i = 1; i <= cb.max; ++i) {
            char suffix[8];
            std::snprintf(suffix, sizeof suffix, "%02u", unsigned(i));
            out.push_back(cb.name + suffix);
        }
    } else {
        out.push_back(cb.name);
    }
    return out;
}

// Bit string stored form from a mask (bit i of the mask = bit i of the string).
void make_bits(uint8_t *dst, uint32_t mask, int nbits) {
    int16_t n = int16_t(nbits);
    std::memcpy(dst, &n, 2);
    for (int i = 0; i < nbits; ++i)
        if (mask & (1u << i)) dst[2 + i / 8] |= uint8_t(0x80 >> (i % 8));
}

}  // namespace

const char *fc_name(int fc) { return fc >= 0 && fc < FC_COUNT ? kFcNames[fc] : nullptr; }

int fc_from_name(std::string_view name) {
    for (int i = 0; i < FC_COUNT; ++i)
        if (name == kFcNames[i]) return i;
    return FC_NONE;
}

MVL_TYPE_CTRL *find_type(int32_t type_id) {
    std::lock_guard<std::mutex> lock(g_type_mutex);
    auto it = g_types.find(type_id);
    return it == g_types.end() ? nullptr : it->second;
}

void copy_field(char *dst, size_t cap, std::string_view src) {
    size_t n = std::min(src.size(), cap - 1);
    // Do not cut a UTF-8 sequence: back up over continuation bytes.
    if (n < src.size())
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;
    std::memcpy(dst, src.data(), n);
    std::memset(dst + n, 0, cap - n);
}

// ============================================================================
// Builder
// ============================================================================

class ModelBuilder {
public:
    ModelBuilder(IedModel &m, const scl::Document &doc, const scl::Ied &ied, scl::Diagnostics &diag)
        : m_(m), doc_(doc), t_(doc.templates), ied_(ied), diag_(diag) {}

    bool run();

private:
    void warn_once(int line, const std::string &why) {
        if (warned_.insert({line, why}).second) diag_.warn(doc_.file, line, why);
    }
    AI_OBJ_ID new_obj(AI_OBJ_TYPE type, AI_OBJ_ID parent, const char *name) {
        AI_OBJ_ID id = AI_OBJ_ID(m_.objs_.size());
        IedModel::ObjInfo oi;
        oi.parent = parent;
        oi.name = name;
        m_.objs_.push_back(oi);
        AI_OBJ_IDCTRL ic{};
        ic.obj_type = type;
        m_.idctrl_.push_back(ic);
        return id;
    }
    const char *pool(std::string s) {
        m_.text_pool_.push_back(std::move(s));
        return m_.text_pool_.back().c_str();
    }

    const LnType *ln_type(const scl::Ln &ln);
    bool do_has_fc(const scl::DoType &dt, const std::string &fc, int depth);
    bool emit_do(const std::string &name, const scl::DoType &dt, const std::string &fc, int depth,
                 std::vector<Elem> &out, ElemKind kind = ElemKind::Do);
    bool emit_do_array(const scl::DoChild &sdo, const scl::DoType &dt, const std::string &fc, int depth,
                       std::vector<Elem> &out);
    bool emit_attr(const scl::AttrDef &a, ElemKind kind, int8_t fc, int depth, std::vector<Elem> &out);
    bool emit_attr_body(const scl::AttrDef &a, const std::string &name, ElemKind kind, int8_t fc, int depth,
                        std::vector<Elem> &out);
    void emit_cb(const std::string &name, const scl::ControlBlock &cb, int8_t fc, std::vector<Elem> &out);
    void emit_components(const CbLayout &layout, int8_t fc, std::vector<Elem> &out);
    const CbLayout &layout_of(const scl::ControlBlock &cb) const;
    std::unique_ptr<LnType> finish_type(const std::string &type_name, std::vector<Elem> &elems);

    void add_ld(const scl::LDevice &ld);
    void add_ln(const scl::Ln &ln, AI_OBJ_ID ld_id, IedModel::LdData &ldd);
    void set_initial(const IedModel::LnData &L, int32_t i, uint8_t *dst, const std::string &text, int line, bool once);
    AI_OBJ_ID make_objects(IedModel::LnData &L, AI_OBJ_ID ln_id, int32_t i, uint32_t base, AI_OBJ_ID parent,
                           const char *name, AI_OBJ_TYPE type, bool in_array);
    AI_OBJ_ID child_in_ln(const IedModel::LnData &L, AI_OBJ_ID parent, std::string_view comp) const;
    void apply_entries(const scl::Ln &ln, IedModel::LnData &L, AI_OBJ_ID ln_id);
    void apply_cbs(const scl::Ln &ln, IedModel::LnData &L, AI_OBJ_ID ln_id, const std::string &ld_name);
    void add_data_sets(const scl::LDevice &ld, AI_OBJ_ID ld_id, IedModel::LdData &ldd);
    void resolve_members();
    std::string with_index(std::string &ref, const std::string &ix) const;
    void finish();

    uint8_t *storage(AI_OBJ_ID id) { return m_.value_of(m_.objs_[size_t(id)]); }

    IedModel &m_;
    const scl::Document &doc_;
    const scl::Templates &t_;
    const scl::Ied &ied_;
    scl::Diagnostics &diag_;
    std::set<std::pair<int, std::string>> warned_;
    std::unordered_map<std::string, const LnType *> type_cache_;
    std::vector<std::string> expanding_;  // DAType/DOType ids being expanded (cycle check)
    bool too_big_ = false;                // the type being built exceeds the limits
    struct PendingDs {
        IedModel::DsData *ds;
        const scl::DataSet *src;
    };
    std::vector<PendingDs> pending_ds_;
};

bool ModelBuilder::do_has_fc(const scl::DoType &dt, const std::string &fc, int depth) {
    if (depth > scl::kMaxTypeDepth) return false;
    for (const scl::DoChild &c : dt.children) {
        if (!c.is_sdo) {
            if (in_fc(c.da.fc, fc)) return true;
            continue;
        }
        auto it = t_.do_types.find(c.type);
        if (it == t_.do_types.end()) continue;
        if (std::find(expanding_.begin(), expanding_.end(), "DO:" + c.type) != expanding_.end()) continue;
        expanding_.push_back("DO:" + c.type);
        bool has = do_has_fc(it->second, fc, depth + 1);
        expanding_.pop_back();
        if (has) return true;
    }
    return false;
}

bool ModelBuilder::emit_do(const std::string &name, const scl::DoType &dt, const std::string &fc, int depth,
                           std::vector<Elem> &out, ElemKind kind) {
    if (out.size() > scl::kMaxTypeElements) {
        too_big_ = true;
        return false;
    }
    if (depth > scl::kMaxTypeDepth) {
        warn_once(dt.line, "DOType '" + dt.id + "' nested deeper than " + std::to_string(scl::kMaxTypeDepth));
        return false;
    }
    int8_t fci = int8_t(fc_from_name(fc));
    size_t mark = out.size();
    out.push_back(Elem{RT_STR_START, kind, fci, VAL_TYPE_UNKNOWN, 0, name});
    expanding_.push_back("DO:" + dt.id);
    for (const scl::DoChild &c : dt.children) {
        if (!c.is_sdo) {
            if (in_fc(c.da.fc, fc)) emit_attr(c.da, ElemKind::Da, fci, depth + 1, out);
            continue;
        }
        auto it = t_.do_types.find(c.type);
        if (it == t_.do_types.end()) {
            warn_once(c.line, "SDO '" + c.name + "' has unknown DOType '" + c.type + "'; skipped");
            continue;
        }
        if (std::find(expanding_.begin(), expanding_.end(), "DO:" + c.type) != expanding_.end()) {
            warn_once(c.line, "SDO '" + c.name + "' refers back to DOType '" + c.type + "'; skipped");
            continue;
        }
        if (!do_has_fc(it->second, fc, depth + 1)) continue;
        if (c.count == 0)
            emit_do(c.name, it->second, fc, depth + 1, out);
        else
            emit_do_array(c, it->second, fc, depth + 1, out);
    }
    expanding_.pop_back();
    if (out.size() == mark + 1) {
        out.resize(mark);
        return false;
    }
    out.push_back(Elem{RT_STR_END, ElemKind::End, fci, VAL_TYPE_UNKNOWN, 0, std::string()});
    return true;
}

// An SDO with `count`: an array of that data object (IEC 61850-8-1 maps it
// to an MMS array of the DO's structure in this FC).
bool ModelBuilder::emit_do_array(const scl::DoChild &sdo, const scl::DoType &dt, const std::string &fc, int depth,
                                 std::vector<Elem> &out) {
    int8_t fci = int8_t(fc_from_name(fc));
    size_t mark = out.size();
    Elem start{RT_ARR_START, ElemKind::Do, fci, VAL_TYPE_UNKNOWN, 0, sdo.name};
    start.count = sdo.count;
    out.push_back(start);
    if (!emit_do(std::string(), dt, fc, depth + 1, out, ElemKind::ArrayItem)) {
        out.resize(mark);
        return false;
    }
    out.push_back(Elem{RT_ARR_END, ElemKind::End, fci, VAL_TYPE_UNKNOWN, 0, std::string()});
    return true;
}

bool ModelBuilder::emit_attr(const scl::AttrDef &a, ElemKind kind, int8_t fc, int depth, std::vector<Elem> &out) {
    if (out.size() > scl::kMaxTypeElements) {
        too_big_ = true;
        return false;
    }
    if (depth > scl::kMaxTypeDepth) {
        warn_once(a.line,
                  "attribute '" + a.name + "' nested deeper than " + std::to_string(scl::kMaxTypeDepth) + "; skipped");
        return false;
    }
    if (a.count == 0) return emit_attr_body(a, a.name, kind, fc, depth, out);
    size_t mark = out.size();
    Elem start{RT_ARR_START, kind, fc, VAL_TYPE_UNKNOWN, 0, a.name};
    start.count = a.count;
    start.tmpl = &a;
    out.push_back(start);
    if (!emit_attr_body(a, std::string(), ElemKind::ArrayItem, fc, depth + 1, out)) {
        out.resize(mark);
        return false;
    }
    out.push_back(Elem{RT_ARR_END, ElemKind::End, fc, VAL_TYPE_UNKNOWN, 0, std::string()});
    return true;
}

bool ModelBuilder::emit_attr_body(const scl::AttrDef &a, const std::string &name, ElemKind kind, int8_t fc, int depth,
                                  std::vector<Elem> &out) {
    if (a.btype == "Struct") {
        auto it = t_.da_types.find(a.type);
        if (it == t_.da_types.end()) {
            warn_once(a.line, "attribute '" + a.name + "' has unknown DAType '" + a.type + "'; skipped");
            return false;
        }
        if (std::find(expanding_.begin(), expanding_.end(), "DA:" + a.type) != expanding_.end()) {
            warn_once(a.line, "attribute '" + a.name + "' refers back to DAType '" + a.type + "'; skipped");
            return false;
        }
        size_t mark = out.size();
        Elem start{RT_STR_START, kind, fc, VAL_TYPE_UNKNOWN, 0, name};
        start.tmpl = &a;
        out.push_back(start);
        expanding_.push_back("DA:" + a.type);
        for (const scl::AttrDef &b : it->second.bdas) emit_attr(b, ElemKind::Da, fc, depth + 1, out);
        expanding_.pop_back();
        if (out.size() == mark + 1) {
            out.resize(mark);
            return false;
        }
        out.push_back(Elem{RT_STR_END, ElemKind::End, fc, VAL_TYPE_UNKNOWN, 0, std::string()});
        return true;
    }
    if (a.btype == "PhyComAddr") {
        Elem start{RT_STR_START, kind, fc, VAL_TYPE_UNKNOWN, 0, name};
        start.tmpl = &a;
        out.push_back(start);
        for (const PhyComAddrMember &pm : kPhyComAddr)
            out.push_back(Elem{RT_PRIMITIVE, ElemKind::Da, fc, pm.type, pm.el_len, pm.name});
        out.push_back(Elem{RT_STR_END, ElemKind::End, fc, VAL_TYPE_UNKNOWN, 0, std::string()});
        return true;
    }
    Elem e{RT_PRIMITIVE, kind, fc, VAL_TYPE_UNKNOWN, 0, name};
    e.tmpl = &a;
    if (a.btype == "Enum") {
        auto it = t_.enum_types.find(a.type);
        if (it == t_.enum_types.end()) {
            warn_once(a.line, "attribute '" + a.name + "' has unknown EnumType '" + a.type + "'; skipped");
            return false;
        }
        e.vt = VAL_TYPE_INT8;  // IEC 61850-8-1: ENUMERATED travels as an 8-bit integer
        e.el_len = 1;
        e.en = &it->second;
    } else {
        const BasicType *bt = basic_type(a.btype);
        if (!bt) {
            warn_once(a.line, "attribute '" + a.name + "' has unsupported bType '" + a.btype + "'; skipped");
            return false;
        }
        e.vt = bt->type;
        e.el_len = bt->el_len;
    }
    out.push_back(std::move(e));
    return true;
}

const CbLayout &ModelBuilder::layout_of(const scl::ControlBlock &cb) const {
    const CbLayouts &l = m_.layouts_;
    switch (cb.kind) {
    case scl::CbKind::Report: return cb.buffered ? l.brcb : l.urcb;
    case scl::CbKind::Log: return l.lcb;
    case scl::CbKind::SettingGroup: return l.sgcb;
    case scl::CbKind::Goose: return l.gocb;
    case scl::CbKind::SampledValue: return cb.multicast ? l.msvcb : l.usvcb;
    }
    return l.brcb;
}

void ModelBuilder::emit_components(const CbLayout &layout, int8_t fc, std::vector<Elem> &out) {
    for (const CbComponent &c : layout) {
        if (c.members.empty()) {
            out.push_back(Elem{RT_PRIMITIVE, ElemKind::CbAttr, fc, c.type, c.el_len, c.name});
            continue;
        }
        out.push_back(Elem{RT_STR_START, ElemKind::CbAttr, fc, VAL_TYPE_UNKNOWN, 0, c.name});
        emit_components(c.members, fc, out);
        out.push_back(Elem{RT_STR_END, ElemKind::End, fc, VAL_TYPE_UNKNOWN, 0, std::string()});
    }
}

void ModelBuilder::emit_cb(const std::string &name, const scl::ControlBlock &cb, int8_t fc, std::vector<Elem> &out) {
    out.push_back(Elem{RT_STR_START, ElemKind::Cb, fc, VAL_TYPE_UNKNOWN, 0, name});
    emit_components(layout_of(cb), fc, out);
    out.push_back(Elem{RT_STR_END, ElemKind::End, fc, VAL_TYPE_UNKNOWN, 0, std::string()});
}

std::unique_ptr<LnType> ModelBuilder::finish_type(const std::string &type_name, std::vector<Elem> &elems) {
    auto lt = std::make_unique<LnType>();
    size_t n = elems.size();
    lt->rt.resize(n);
    lt->elems.resize(n);
    std::vector<size_t> starts;       // indexes of open structures/arrays
    std::vector<size_t> arr_offsets;  // offset where each open array began
    std::vector<size_t> path_len;     // length of "$a$b..." at each open level
    size_t off = 0;
    for (size_t i = 0; i < n; ++i) {
        Elem &e = elems[i];
        RUNTIME_TYPE &r = lt->rt[i];
        std::memset(&r, 0, sizeof r);
        r.el_tag = e.tag;
        lt->names.push_back(std::move(e.name));
        r.comp_name_ptr = lt->names.back().c_str();
        r.mvluTypeInfo.rdIndFunIndex = -1;
        r.mvluTypeInfo.wrIndFunIndex = -1;
        lt->elems[i] = ElemInfo{e.kind, e.fc, e.en != nullptr, e.en, e.tmpl, 0};
        size_t depth_len = path_len.empty() ? 0 : path_len.back();
        size_t my_len = (i == 0 || e.tag == RT_STR_END || e.tag == RT_ARR_END)
                            ? depth_len
                            : depth_len + 1 + lt->names.back().size();
        if (!starts.empty() && lt->rt[starts.back()].el_tag == RT_ARR_START) my_len = depth_len;
        lt->max_path = std::max(lt->max_path, my_len);
        switch (e.tag) {
        case RT_STR_START:
            r.mvluTypeInfo.offSet = int32_t(off);
            starts.push_back(i);
            path_len.push_back(my_len);
            break;
        case RT_ARR_START:
            off = align_up(off, 8);
            r.mvluTypeInfo.offSet = int32_t(off);
            r.u.arr.num_elmnts = int16_t(e.count);
            starts.push_back(i);
            arr_offsets.push_back(off);
            path_len.push_back(my_len);
            break;
        case RT_PRIMITIVE: {
            off = align_up(off, stored_align(e.vt));
            r.mvluTypeInfo.offSet = int32_t(off);
            r.el_size = int16_t(stored_size(e.vt));
            r.u.p.el_len = e.el_len;
            r.u.p.pad = int16_t(e.vt);
            off += stored_size(e.vt);
            break;
        }
        case RT_STR_END:
        case RT_ARR_END: {
            size_t s = starts.back();
            starts.pop_back();
            path_len.pop_back();
            RUNTIME_TYPE &start = lt->rt[s];
            start.offset_to_last = int32_t(i - s);
            if (e.tag == RT_STR_END) {
                start.u.str.num_rt_blks = int16_t(std::min<size_t>(i - s - 1, 32767));
            } else {
                size_t begin = arr_offsets.back();
                arr_offsets.pop_back();
                size_t stride = align_up(off - begin, 8);
                if (stride > scl::kMaxLnDataBytes) return nullptr;
                lt->elems[s].stride = uint32_t(stride);
                start.u.arr.num_rt_blks = int16_t(std::min<size_t>(i - s - 1, 32767));
                off = begin + stride * size_t(start.u.arr.num_elmnts);
            }
            r.mvluTypeInfo.offSet = int32_t(off);
            break;
        }
        }
        if (off > scl::kMaxLnDataBytes) return nullptr;
    }
    lt->span.assign(n, 0);
    lt->span_flat.assign(n, 0);
    if (n > 0) measure(*lt, 0, 0);
    if (lt->span == lt->span_flat) lt->span_flat = std::vector<uint32_t>();  // no arrays: one table serves
    lt->type_id = g_next_type_id.fetch_add(1);
    lt->rt_ctrl.rt_first = lt->rt.data();
    lt->rt_ctrl.rt_num = int32_t(n);
    lt->ctrl.rt_ctrl = &lt->rt_ctrl;
    lt->ctrl.num_rt = int32_t(n);
    lt->ctrl.rt = lt->rt.data();
    lt->ctrl.data_size = int32_t(align_up(off, 8));
    copy_field(lt->ctrl.type_name, sizeof lt->ctrl.type_name, type_name);
    return lt;
}

const LnType *ModelBuilder::ln_type(const scl::Ln &ln) {
    // Control blocks live in the LN's MMS structure, so they are part of the type.
    std::string sig = ln.ln_type;
    for (const scl::ControlBlock &cb : ln.cbs) {
        sig += '|';
        sig += std::to_string(cb_fc(cb));
        for (const std::string &n : cb_instances(cb)) sig += ':' + n;
    }
    auto cached = type_cache_.find(sig);
    if (cached != type_cache_.end()) return cached->second;

    auto it = t_.ln_types.find(ln.ln_type);
    if (it == t_.ln_types.end()) {
        diag_.warn(doc_.file, ln.line, "LN '" + ln.name() + "' has unknown lnType '" + ln.ln_type + "'; skipped");
        type_cache_[sig] = nullptr;
        return nullptr;
    }
    const scl::LNodeType &lnt = it->second;
    too_big_ = false;
    std::vector<Elem> elems;
    elems.push_back(Elem{RT_STR_START, ElemKind::Ln, FC_NONE, VAL_TYPE_UNKNOWN, 0, lnt.id});
    for (int fc = 0; fc < FC_COUNT; ++fc) {
        std::string fcn = kFcNames[fc];
        size_t mark = elems.size();
        elems.push_back(Elem{RT_STR_START, ElemKind::Fc, int8_t(fc), VAL_TYPE_UNKNOWN, 0, fcn});
        for (const scl::DoDef &d : lnt.dos) {
            auto dt = t_.do_types.find(d.type);
            if (dt == t_.do_types.end()) {
                warn_once(d.line, "DO '" + d.name + "' has unknown DOType '" + d.type + "'; skipped");
                continue;
            }
            if (do_has_fc(dt->second, fcn, 1)) emit_do(d.name, dt->second, fcn, 1, elems);
        }
        std::set<std::string> cb_names;
        for (const scl::ControlBlock &cb : ln.cbs) {
            if (cb_fc(cb) != fc) continue;
            for (const std::string &inst : cb_instances(cb)) {
                if (inst.size() > scl::kMaxNameLen) {
                    warn_once(cb.line, "control block name '" + inst + "' longer than 64 characters; skipped");
                    continue;
                }
                if (!cb_names.insert(inst).second) {
                    warn_once(cb.line, "duplicate control block '" + inst + "' in " + fcn + "; skipped");
                    continue;
                }
                emit_cb(inst, cb, int8_t(fc), elems);
            }
        }
        if (elems.size() == mark + 1)
            elems.resize(mark);
        else
            elems.push_back(Elem{RT_STR_END, ElemKind::End, int8_t(fc), VAL_TYPE_UNKNOWN, 0, std::string()});
    }
    elems.push_back(Elem{RT_STR_END, ElemKind::End, FC_NONE, VAL_TYPE_UNKNOWN, 0, std::string()});
    std::unique_ptr<LnType> lt;
    if (!too_big_) lt = finish_type(lnt.id, elems);
    if (!lt) {
        diag_.warn(doc_.file, lnt.line,
                   "LNodeType '" + lnt.id + "' expands beyond " + std::to_string(scl::kMaxTypeElements) +
                       " elements or " + std::to_string(scl::kMaxLnDataBytes >> 20) + " MiB of values; LN '" +
                       ln.name() + "' skipped");
        type_cache_[sig] = nullptr;
        return nullptr;
    }
    if (lt->span[0] > scl::kMaxLnObjects)
        diag_.warn(doc_.file, lnt.line,
                   "LNodeType '" + lnt.id + "' would have " + std::to_string(lt->span[0]) +
                       " objects with its array elements (over " + std::to_string(scl::kMaxLnObjects) +
                       "); its arrays are kept whole, their elements not addressable");
    else if (lt->max_element_name > scl::kMaxNameLen)
        diag_.warn(doc_.file, lnt.line,
                   "LNodeType '" + lnt.id + "' has array element names of " + std::to_string(lt->max_element_name) +
                       " characters (over " + std::to_string(scl::kMaxNameLen) +
                       "); its arrays are kept whole, their elements not addressable");
    const LnType *p = lt.get();
    m_.types_.push_back(std::move(lt));
    type_cache_[sig] = p;
    return p;
}

void ModelBuilder::set_initial(const IedModel::LnData &L, int32_t i, uint8_t *dst, const std::string &text, int line,
                               bool once) {
    const RUNTIME_TYPE &r = L.type->rt[size_t(i)];
    const ElemInfo &ei = L.type->elems[size_t(i)];
    AI_VAL_TYPE vt = AI_VAL_TYPE(r.u.p.pad);
    auto complain = [&](const std::string &why) {
        if (once)
            warn_once(line, why);
        else
            diag_.warn(doc_.file, line, why);
    };
    if (ei.is_enum) {
        std::string t = text;
        while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
        while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.erase(t.begin());
        for (const auto &ev : ei.enum_type->vals)
            if (ev.second == t) {
                if (ev.first < -128 || ev.first > 127) {
                    complain("enumeration value '" + t + "' (" + std::to_string(ev.first) +
                             ") outside 8 bits; ignored");
                    return;
                }
                int8_t v = int8_t(ev.first);
                std::memcpy(dst, &v, 1);
                return;
            }
        if (text_to_value(VAL_TYPE_INT8, t, dst) != 0)
            complain("value '" + t + "' is not in EnumType '" + ei.enum_type->id + "'; ignored");
        return;
    }
    if (scl_text_to_value(vt, text, dst) != 0)
        complain("value '" + text.substr(0, 80) + "' does not fit type " + type_name(vt) + " of '" + r.comp_name_ptr +
                 "'; ignored");
}

void ModelBuilder::add_ld(const scl::LDevice &ld) {
    std::string ld_name = ld.name(ied_.name);
    IedModel::LdData &ldd = m_.lds_.emplace_back();
    AI_OBJ_ID ld_id = new_obj(OBJECT_TYPE_LD, 0, nullptr);
    copy_field(ldd.ctrl.cobj.name, AI_OBJ_NAME_LEN, ld_name);
    copy_field(ldd.ctrl.cobj.desc, AI_OBJ_NAME_LEN, ld.desc);
    ldd.ctrl.cobj.type = OBJECT_TYPE_LD;
    ldd.ctrl.cobj.id = ld_id;
    ldd.ctrl.cobj.parent = &m_.ctrl_.cobj;
    m_.objs_[size_t(ld_id)].name = ldd.ctrl.cobj.name;
    if (!ld.desc.empty()) m_.objs_[size_t(ld_id)].desc = pool(ld.desc);
    m_.idctrl_[size_t(ld_id)].u.ld_idctrl.ld = &ldd.ctrl;
    m_.ld_by_name_[ld_name] = ld_id;
    m_.ld_by_id_[ld_id] = &ldd;
    m_.ld_tbl_.push_back(&ldd.ctrl);
    for (const scl::Ln &ln : ld.lns) add_ln(ln, ld_id, ldd);
    add_data_sets(ld, ld_id, ldd);
}

// Object of element i (at `base` inside array elements) and, depth first,
// everything below it; the element objects of an array follow it in index order.
AI_OBJ_ID ModelBuilder::make_objects(IedModel::LnData &L, AI_OBJ_ID ln_id, int32_t i, uint32_t base, AI_OBJ_ID parent,
                                     const char *name, AI_OBJ_TYPE type, bool in_array) {
    const LnType &T = *L.type;
    const RUNTIME_TYPE &r = T.rt[size_t(i)];
    AI_OBJ_ID id = new_obj(type, parent, name);
    {
        IedModel::ObjInfo &oi = m_.objs_[size_t(id)];
        oi.ln_id = ln_id;
        oi.rt_index = i;
        oi.base = base;
        AI_FCO_IDCTRL &fco = m_.idctrl_[size_t(id)].u.fco_idctrl;
        fco.type = T.elems[size_t(i)].fc;
        fco.rt = const_cast<RUNTIME_TYPE *>(&r);
        fco.ln = &L.ctrl;
    }
    if (!in_array) L.sub_ids[size_t(i)] = id;
    if (r.el_tag == RT_STR_START) {
        for (const RUNTIME_TYPE *c = &r + 1; c < &r + r.offset_to_last; c = next_elem(c)) {
            int32_t ci = int32_t(c - T.rt.data());
            make_objects(L, ln_id, ci, base, id, c->comp_name_ptr, object_type(T.elems[size_t(ci)].kind), in_array);
        }
    } else if (r.el_tag == RT_ARR_START && L.elements) {
        // An array of data objects (SDO with count) has data objects as elements.
        const AI_OBJ_TYPE et = T.elems[size_t(i)].kind == ElemKind::Do ? OBJECT_TYPE_FCD : OBJECT_TYPE_FCDA;
        const uint32_t stride = T.elems[size_t(i)].stride;
        for (int k = 0; k < r.u.arr.num_elmnts; ++k)
            make_objects(L, ln_id, i + 1, base + uint32_t(k) * stride, id,
                         pool(std::string(r.comp_name_ptr) + "(" + std::to_string(k) + ")"), et, true);
    }
    return id;
}

// The child named `comp` ("name" or "name(k)") of an object of L while the
// children pool is not laid out yet.
AI_OBJ_ID ModelBuilder::child_in_ln(const IedModel::LnData &L, AI_OBJ_ID parent, std::string_view comp) const {
    std::string_view name = comp;
    uint32_t k = 0;
    const bool indexed = parse_element(comp, name, k);
    const LnType &T = *L.type;
    const RUNTIME_TYPE &pr = T.rt[size_t(m_.objs_[size_t(parent)].rt_index)];
    if (pr.el_tag != RT_STR_START) return -1;
    AI_OBJ_ID c = parent + 1;
    for (const RUNTIME_TYPE *cr = &pr + 1; cr < &pr + pr.offset_to_last; cr = next_elem(cr)) {
        const size_t ci = size_t(cr - T.rt.data());
        if (name == cr->comp_name_ptr) {
            if (!indexed) return c;
            if (cr->el_tag != RT_ARR_START || !L.elements || k >= uint32_t(cr->u.arr.num_elmnts)) return -1;
            return c + 1 + AI_OBJ_ID(k * L.span[ci + 1]);
        }
        c += AI_OBJ_ID(L.span[ci]);
    }
    return -1;
}

void ModelBuilder::add_ln(const scl::Ln &ln, AI_OBJ_ID ld_id, IedModel::LdData &ldd) {
    const LnType *lt = ln_type(ln);
    if (!lt) return;
    std::string ln_name = ln.name();
    if (m_.objs_.size() + lt->rt.size() > scl::kMaxObjectsPerIed) {
        diag_.warn(doc_.file, ln.line,
                   "IED '" + ied_.name + "' exceeds " + std::to_string(scl::kMaxObjectsPerIed) + " objects; LN '" +
                       ln_name + "' skipped");
        return;
    }
    size_t ref_len = std::strlen(ldd.ctrl.cobj.name) + 1 + ln_name.size() + lt->max_path;
    if (ref_len > scl::kMaxRefLen) {
        diag_.warn(doc_.file, ln.line,
                   "LN '" + ln_name + "' has references of " + std::to_string(ref_len) + " characters (over " +
                       std::to_string(scl::kMaxRefLen) + "); skipped");
        return;
    }
    // Array elements become objects unless that would make too many objects
    // or references too long for the interface; the LN then keeps its arrays
    // whole, as a model without element objects has them.
    bool elements = !lt->span_flat.empty();  // the type has arrays
    if (elements) {
        size_t ref_len_ix = std::strlen(ldd.ctrl.cobj.name) + 1 + ln_name.size() + lt->max_path_ix;
        if (lt->span[0] > scl::kMaxLnObjects || lt->max_element_name > scl::kMaxNameLen) {
            elements = false;  // said once for the LNodeType
        } else if (ref_len_ix > scl::kMaxRefLen) {
            diag_.warn(doc_.file, ln.line,
                       "LN '" + ln_name + "' has array element references of " + std::to_string(ref_len_ix) +
                           " characters (over " + std::to_string(scl::kMaxRefLen) +
                           "); its arrays are kept whole, their elements not addressable");
            elements = false;
        } else if (m_.objs_.size() + lt->span[0] > scl::kMaxObjectsPerIed) {
            diag_.warn(doc_.file, ln.line,
                       "IED '" + ied_.name + "' would exceed " + std::to_string(scl::kMaxObjectsPerIed) +
                           " objects with the array elements of LN '" + ln_name + "'; its arrays are kept whole");
            elements = false;
        }
    }
    IedModel::LnData &L = m_.lns_.emplace_back();
    L.type = lt;
    L.ld_id = ld_id;
    AI_OBJ_ID ln_id = new_obj(OBJECT_TYPE_LN, ld_id, nullptr);
    copy_field(L.ctrl.cobj.name, AI_OBJ_NAME_LEN, ln_name);
    copy_field(L.ctrl.cobj.desc, AI_OBJ_NAME_LEN, ln.desc);
    L.ctrl.cobj.type = OBJECT_TYPE_LN;
    L.ctrl.cobj.id = ln_id;
    L.ctrl.cobj.parent = &ldd.ctrl.cobj;
    L.ctrl.type_id = lt->type_id;
    m_.objs_[size_t(ln_id)].name = L.ctrl.cobj.name;
    m_.objs_[size_t(ln_id)].ln_id = ln_id;
    m_.objs_[size_t(ln_id)].rt_index = 0;
    if (!ln.desc.empty()) m_.objs_[size_t(ln_id)].desc = pool(ln.desc);
    m_.idctrl_[size_t(ln_id)].u.ln_idctrl.type = 0;
    m_.idctrl_[size_t(ln_id)].u.ln_idctrl.ln = &L.ctrl;
    m_.ln_by_id_[ln_id] = &L;
    ldd.ln_tbl.push_back(&L.ctrl);
    ++m_.ln_total_;

    size_t n = lt->rt.size();
    L.values.reset(new uint8_t[size_t(lt->ctrl.data_size) + 1]());
    L.sub_ids.assign(n, -1);
    L.sub_ids[0] = ln_id;
    L.elements = elements;
    L.span = elements || lt->span_flat.empty() ? lt->span.data() : lt->span_flat.data();
    // The objects below the LN, depth first in the type's order (span relies on it).
    const RUNTIME_TYPE &root = lt->rt[0];
    for (const RUNTIME_TYPE *c = &root + 1; c < &root + root.offset_to_last; c = next_elem(c)) {
        int32_t ci = int32_t(c - lt->rt.data());
        make_objects(L, ln_id, ci, 0, ln_id, c->comp_name_ptr, object_type(lt->elems[size_t(ci)].kind), false);
    }
    std::vector<Primitive> prims;
    m_.collect(ln_id, prims);
    // Bit strings start with their declared length, all bits clear.
    for (const Primitive &p : prims) {
        const int cap = bitstring_capacity(p.type);
        if (cap <= 0) continue;
        const int16_t el_len = p.rt->u.p.el_len;
        const int16_t bits = el_len > 0 && el_len <= cap ? el_len : int16_t(bitstring_bits(p.type));
        std::memcpy(p.data, &bits, 2);
    }
    // Template defaults (every element of an array too), then the instance's
    // values and texts, then control blocks.
    for (const Primitive &p : prims) {
        const int32_t i = int32_t(p.rt - lt->rt.data());
        const ElemInfo &ei = lt->elems[size_t(i)];
        if (ei.tmpl && ei.tmpl->has_val && ei.kind != ElemKind::CbAttr)
            set_initial(L, i, p.data, ei.tmpl->val, ei.tmpl->line, true);
    }
    apply_entries(ln, L, ln_id);
    apply_cbs(ln, L, ln_id, ldd.ctrl.cobj.name);
}

void ModelBuilder::apply_entries(const scl::Ln &ln, IedModel::LnData &L, AI_OBJ_ID ln_id) {
    const AI_OBJ_ID *fcs = nullptr;
    int32_t nfc = 0;
    // Children are not pooled yet: find the FCNs through the runtime table.
    std::vector<AI_OBJ_ID> fc_ids;
    for (size_t i = 1; i + 1 < L.type->rt.size();) {
        fc_ids.push_back(L.sub_ids[i]);
        i += size_t(L.type->rt[i].offset_to_last) + 1;
    }
    fcs = fc_ids.data();
    nfc = int32_t(fc_ids.size());
    auto child_by_rt = [&](AI_OBJ_ID parent, std::string_view name) { return child_in_ln(L, parent, name); };
    std::map<std::string, std::string> do_desc;  // DO name -> text, for do_descs
    std::map<std::string, std::string> du_text;  // DO name -> dU value
    for (const scl::InstEntry &e : ln.entries) {
        std::vector<std::string_view> comps = split(e.path, '$');
        std::vector<AI_OBJ_ID> matches;
        for (int32_t f = 0; f < nfc; ++f) {
            AI_OBJ_ID cur = fcs[f];
            for (std::string_view c : comps) {
                cur = child_by_rt(cur, c);
                if (cur < 0) break;
            }
            if (cur >= 0) matches.push_back(cur);
        }
        if (matches.empty()) {
            diag_.warn(doc_.file, e.line,
                       "instance element '" + e.path + "' of LN '" + L.ctrl.cobj.name +
                           "' is not in its type; skipped");
            continue;
        }
        if (!e.desc.empty()) {
            const char *d = pool(e.desc);
            for (AI_OBJ_ID id : matches) m_.objs_[size_t(id)].desc = d;
            if (comps.size() == 1) do_desc[e.path] = e.desc;
        }
        if (e.is_dai && e.has_val) {
            // Every FC that has the attribute takes the value: an SE setting
            // and its SG view start alike.
            bool stored = false;
            for (AI_OBJ_ID id : matches) {
                const IedModel::ObjInfo &oi = m_.objs_[size_t(id)];
                if (L.type->rt[size_t(oi.rt_index)].el_tag != RT_PRIMITIVE) continue;
                set_initial(L, oi.rt_index, storage(id), e.val, e.line, true);
                stored = true;
            }
            if (!stored) {
                diag_.warn(doc_.file, e.line, "DAI '" + e.path + "' is not a primitive attribute; value ignored");
                continue;
            }
            if (comps.size() == 2 && comps[1] == "dU") du_text[std::string(comps[0])] = e.val;
        }
    }
    // A data object without its own desc is described by its dU text.
    for (auto &du : du_text) {
        if (do_desc.count(du.first) || du.second.empty()) continue;
        do_desc[du.first] = du.second;
        const char *d = pool(du.second);
        for (int32_t f = 0; f < nfc; ++f) {
            AI_OBJ_ID id = child_by_rt(fcs[f], du.first);
            if (id >= 0 && !m_.objs_[size_t(id)].desc) m_.objs_[size_t(id)].desc = d;
        }
    }
    // do_descs in the order of the LN's data objects.
    std::set<std::string> seen;
    for (size_t i = 1; i < L.type->rt.size(); ++i) {
        if (L.type->elems[i].kind != ElemKind::Do || L.sub_ids[i] < 0) continue;  // not inside arrays
        const IedModel::ObjInfo &oi = m_.objs_[size_t(L.sub_ids[i])];
        if (m_.objs_[size_t(oi.parent)].rt_index < 0 ||
            L.type->elems[size_t(m_.objs_[size_t(oi.parent)].rt_index)].kind != ElemKind::Fc)
            continue;
        auto it = do_desc.find(oi.name);
        if (it == do_desc.end() || !seen.insert(it->first).second) continue;
        AI_DO_DESC dd{};
        copy_field(dd.do_name, AI_OBJ_NAME_LEN, it->first);
        copy_field(dd.desc, AI_OBJ_NAME_LEN, it->second);
        L.do_descs.push_back(dd);
    }
    (void)ln_id;
}

void ModelBuilder::apply_cbs(const scl::Ln &ln, IedModel::LnData &L, AI_OBJ_ID ln_id, const std::string &ld_name) {
    std::string ln_name = L.ctrl.cobj.name;
    auto find_child = [&](AI_OBJ_ID parent, std::string_view name) -> AI_OBJ_ID {
        const IedModel::ObjInfo &po = m_.objs_[size_t(parent)];
        const RUNTIME_TYPE &pr = L.type->rt[size_t(po.rt_index)];
        size_t end = size_t(po.rt_index + pr.offset_to_last);
        for (size_t j = size_t(po.rt_index) + 1; j < end;) {
            const RUNTIME_TYPE &cr = L.type->rt[j];
            if (name == cr.comp_name_ptr) return L.sub_ids[j];
            j += (cr.el_tag == RT_STR_START || cr.el_tag == RT_ARR_START) ? size_t(cr.offset_to_last) + 1 : 1;
        }
        return -1;
    };
    auto set_text = [&](AI_OBJ_ID cb, const char *attr, const std::string &text, int line) {
        AI_OBJ_ID a = find_child(cb, attr);
        if (a < 0) return;
        const RUNTIME_TYPE &r = L.type->rt[size_t(m_.objs_[size_t(a)].rt_index)];
        if (text_to_value(AI_VAL_TYPE(r.u.p.pad), text, storage(a)) != 0)
            diag_.warn(doc_.file, line, std::string(attr) + " '" + text.substr(0, 80) + "' does not fit; left empty");
    };
    auto set_raw = [&](AI_OBJ_ID cb, const char *attr, const void *v, size_t n) {
        AI_OBJ_ID a = find_child(cb, attr);
        if (a >= 0) std::memcpy(storage(a), v, n);
    };
    for (const scl::ControlBlock &cb : ln.cbs) {
        int fc = cb_fc(cb);
        AI_OBJ_ID fc_id = -1;
        for (size_t i = 1; i + 1 < L.type->rt.size();) {
            if (L.type->elems[i].fc == fc) fc_id = L.sub_ids[i];
            i += size_t(L.type->rt[i].offset_to_last) + 1;
        }
        if (fc_id < 0) continue;
        std::string dat_set;
        if (!cb.dat_set.empty()) {
            bool found = false;
            for (const scl::DataSet &ds : ln.data_sets) found = found || ds.name == cb.dat_set;
            if (!found)
                diag_.warn(doc_.file, cb.line,
                           "control block '" + cb.name + "' names data set '" + cb.dat_set + "' not defined in " +
                               ln_name);
            dat_set = ld_name + "/" + ln_name + "$" + cb.dat_set;
        }
        for (const std::string &inst : cb_instances(cb)) {
            AI_OBJ_ID id = find_child(fc_id, inst);
            if (id < 0) continue;
            std::string ref = ld_name + "/" + ln_name + "$" + fc_name(fc) + "$" + inst;
            switch (cb.kind) {
            case scl::CbKind::Report: {
                std::string rpt_id = cb.rpt_id.empty() ? ref : cb.rpt_id;
                const size_t rpt_max = m_.layouts_.brcb.empty() ? 65 : size_t(m_.layouts_.brcb[0].el_len);
                if (rpt_id.size() > rpt_max) {
                    diag_.warn(doc_.file, cb.line,
                               "RptID of '" + inst + "' longer than " + std::to_string(rpt_max) +
                                   " characters; left empty");
                    rpt_id.clear();
                }
                set_text(id, "RptID", rpt_id, cb.line);
                set_text(id, "DatSet", dat_set, cb.line);
                set_raw(id, "ConfRev", &cb.conf_rev, 4);
                uint8_t bits[4] = {};
                make_bits(bits, cb.opt_flds, AI_BITS_OPTFLDS);
                set_raw(id, "OptFlds", bits, AI_SIZE_OPTFLDS);
                set_raw(id, "BufTm", &cb.buf_time, 4);
                uint8_t trg[3] = {};
                make_bits(trg, cb.trg_ops, AI_BITS_TRGC);
                set_raw(id, "TrgOps", trg, AI_SIZE_TRGC);
                set_raw(id, "IntgPd", &cb.intg_pd, 4);
                break;
            }
            case scl::CbKind::Log: {
                set_text(id, "LogRef", cb.log_name.empty() ? std::string() : ld_name + "/" + cb.log_name, cb.line);
                set_text(id, "DatSet", dat_set, cb.line);
                uint8_t trg[3] = {};
                make_bits(trg, cb.trg_ops, AI_BITS_TRGC);
                set_raw(id, "TrgOps", trg, AI_SIZE_TRGC);
                set_raw(id, "IntgPd", &cb.intg_pd, 4);
                break;
            }
            case scl::CbKind::SettingGroup: {
                uint8_t num = uint8_t(std::min<uint32_t>(cb.num_of_sgs, 255));
                uint8_t act = uint8_t(std::min<uint32_t>(cb.act_sg, 255));
                set_raw(id, "NumOfSG", &num, 1);
                set_raw(id, "ActSG", &act, 1);
                break;
            }
            case scl::CbKind::Goose:
                set_text(id, "GoID", cb.go_id.empty() ? ref : cb.go_id, cb.line);
                set_text(id, "DatSet", dat_set, cb.line);
                set_raw(id, "ConfRev", &cb.conf_rev, 4);
                break;
            case scl::CbKind::SampledValue: {
                set_text(id, cb.multicast ? "MsvID" : "UsvID", cb.smv_id.empty() ? ref : cb.smv_id, cb.line);
                set_text(id, "DatSet", dat_set, cb.line);
                set_raw(id, "ConfRev", &cb.conf_rev, 4);
                auto u16 = [&](const char *attr, const char *scl_attr, uint32_t v) {
                    if (v > 0xFFFF) {
                        diag_.warn(doc_.file, cb.line,
                                   std::string(scl_attr) + " " + std::to_string(v) + " of '" + inst +
                                       "' does not fit INT16U; left 0");
                        return;
                    }
                    uint16_t x = uint16_t(v);
                    set_raw(id, attr, &x, 2);
                };
                u16("SmpRate", "smpRate", cb.smp_rate);
                u16("noASDU", "nofASDU", cb.nof_asdu);
                uint8_t bits[4] = {};
                make_bits(bits, cb.sv_opts, scl::kSvOptBits);
                set_raw(id, "OptFlds", bits, AI_SIZE_OPTFLDS);
                const int8_t mod = int8_t(cb.smp_mod);
                set_raw(id, "SmpMod", &mod, 1);
                break;
            }
            }
        }
    }
    (void)ln_id;
}

void ModelBuilder::add_data_sets(const scl::LDevice &ld, AI_OBJ_ID ld_id, IedModel::LdData &ldd) {
    for (const scl::Ln &ln : ld.lns) {
        // Data sets of an LN that was skipped have no home in the model.
        bool ln_present = false;
        for (AI_LN_CTRL *l : ldd.ln_tbl) ln_present = ln_present || ln.name() == l->cobj.name;
        for (const scl::DataSet &ds : ln.data_sets) {
            if (!ln_present) {
                diag_.warn(doc_.file, ds.line, "data set '" + ds.name + "' belongs to a skipped LN; skipped");
                continue;
            }
            size_t ref_len = std::strlen(ldd.ctrl.cobj.name) + 1 + ln.name().size() + 1 + ds.name.size();
            if (ref_len > scl::kMaxRefLen) {
                diag_.warn(doc_.file, ds.line, "reference of data set '" + ds.name + "' longer than 129; skipped");
                continue;
            }
            IedModel::DsData &D = m_.dss_.emplace_back();
            AI_OBJ_ID id = new_obj(OBJECT_TYPE_DS, ld_id, nullptr);
            copy_field(D.ctrl.cobj.name, AI_OBJ_NAME_LEN, ds.name);
            copy_field(D.ctrl.cobj.desc, AI_OBJ_NAME_LEN, ds.desc);
            D.ctrl.cobj.type = OBJECT_TYPE_DS;
            D.ctrl.cobj.id = id;
            D.ctrl.cobj.parent = &ldd.ctrl.cobj;
            D.ctrl.deletable = 0;
            D.ln_name = ln.name();
            D.ld_id = ld_id;
            m_.objs_[size_t(id)].name = D.ctrl.cobj.name;
            if (!ds.desc.empty()) m_.objs_[size_t(id)].desc = pool(ds.desc);
            m_.idctrl_[size_t(id)].u.ds_idctrl.ds = &D.ctrl;
            m_.ds_by_id_[id] = &D;
            ldd.ds_tbl.push_back(&D.ctrl);
            ldd.ds_ids.push_back(id);
            ++m_.ds_total_;
            pending_ds_.push_back(PendingDs{&D, &ds});
        }
    }
}

// IEC 61850-6 FCDA ix: the member is an element of the array its path names;
// the reference names it as name(ix) ("...$Harm$phsAHar(3)", also with a
// daName below the element). Empty on success, else why it does not resolve.
std::string ModelBuilder::with_index(std::string &ref, const std::string &ix) const {
    uint32_t k = 0;
    std::string_view unused;
    if (!parse_element("x(" + ix + ")", unused, k)) return "FCDA ix '" + ix.substr(0, 20) + "' is no array index";
    size_t slash = ref.find('/');
    std::vector<std::string_view> comps = split(std::string_view(ref).substr(slash + 1), '$');
    std::string out = ref.substr(0, slash + 1) + std::string(comps[0]);
    bool placed = false;
    AI_OBJ_ID cur = m_.find(out);
    for (size_t c = 1; c < comps.size(); ++c) {
        out += '$';
        out += comps[c];
        if (cur < 0) continue;  // names nothing: said when the member is looked up
        cur = m_.find(out);
        const RUNTIME_TYPE *rt = nullptr;
        int32_t n = 0;
        if (!placed && cur >= 0 && m_.type_of(cur, rt, n) && rt->el_tag == RT_ARR_START) {
            out += "(" + std::to_string(k) + ")";
            placed = true;
            cur = m_.find(out);
        }
    }
    if (cur >= 0 && !placed) return "FCDA '" + ref + "' has ix " + ix + " but names no array";
    ref = out;
    return std::string();
}

void ModelBuilder::resolve_members() {
    for (PendingDs &p : pending_ds_) {
        for (const scl::Fcda &f : p.src->members) {
            std::string ref;
            std::string why;
            if (f.ld_inst.empty() || f.ln_class.empty() || f.do_name.empty() || f.fc.empty()) {
                why = "FCDA lacks ldInst, lnClass, doName or fc";
            } else {
                std::string ln = f.ln_class == "LLN0" ? std::string("LLN0") : f.prefix + f.ln_class + f.ln_inst;
                // ldInst names the LDevice; its domain may be a functional ldName.
                std::string ld_name = ied_.name + f.ld_inst;
                for (const scl::LDevice &d : ied_.lds)
                    if (d.inst == f.ld_inst) ld_name = d.name(ied_.name);
                ref = ld_name + "/" + ln + "$" + f.fc + "$" + f.do_name;
                if (!f.da_name.empty()) ref += "$" + f.da_name;
                std::replace(ref.begin(), ref.end(), '.', '$');
                if (!f.ix.empty()) why = with_index(ref, f.ix);
                if (why.empty() && ref.size() > scl::kMaxRefLen) why = "FCDA reference longer than 129 characters";
            }
            AI_OBJ_ID id = -1;
            if (why.empty()) {
                id = m_.find(ref);
                if (id < 0)
                    why = "FCDA '" + ref + "' names no object of the model";
                else if (m_.type(id) != OBJECT_TYPE_FCD && m_.type(id) != OBJECT_TYPE_FCDA)
                    why = "FCDA '" + ref + "' is not a data object or attribute", id = -1;
            }
            if (!why.empty())
                diag_.warn(doc_.file, f.line,
                           why + "; member of data set '" + std::string(p.ds->ctrl.cobj.name) + "' left unresolved");
            // An unresolved member keeps its place (identifier -1) so that the
            // values of a report stay aligned with the device's data set.
            p.ds->mb_ids.push_back(id);
            std::array<char, AI_OBJ_REF_LEN> r{};
            if (ref.size() <= scl::kMaxRefLen) copy_field(r.data(), AI_OBJ_REF_LEN, ref);
            p.ds->mb_refs.push_back(r);
        }
        p.ds->ctrl.mb_num = int32_t(p.ds->mb_ids.size());
        p.ds->ctrl.mb_ids = p.ds->mb_ids.data();
        static_assert(sizeof(std::array<char, AI_OBJ_REF_LEN>) == sizeof(AI_OBJ_REF), "reference layout");
        p.ds->ctrl.mb_refs = reinterpret_cast<AI_OBJ_REF *>(p.ds->mb_refs.data());
    }
}

void ModelBuilder::finish() {
    IedModel &m = m_;
    // Children pool: IED -> LDs, LD -> LNs, LN and structures -> components.
    m.child_pool_.reserve(m.objs_.size());
    for (size_t id = 0; id < m.objs_.size(); ++id) {
        IedModel::ObjInfo &oi = m.objs_[id];
        oi.child_off = uint32_t(m.child_pool_.size());
        AI_OBJ_TYPE t = m.idctrl_[id].obj_type;
        if (t == OBJECT_TYPE_IED) {
            for (AI_LD_CTRL *ld : m.ld_tbl_) m.child_pool_.push_back(ld->cobj.id);
        } else if (t == OBJECT_TYPE_LD) {
            for (AI_LN_CTRL *ln : m.ld_by_id_.at(AI_OBJ_ID(id))->ln_tbl) m.child_pool_.push_back(ln->cobj.id);
        } else if (oi.ln_id >= 0) {
            // Identifiers follow the type depth first: a child is its
            // predecessor's identifier plus the predecessor's span.
            const IedModel::LnData *L = m.ln_by_id_.at(oi.ln_id);
            const RUNTIME_TYPE *rt = L->type->rt.data();
            const RUNTIME_TYPE &r = rt[oi.rt_index];
            if (r.el_tag == RT_STR_START) {
                AI_OBJ_ID c = AI_OBJ_ID(id) + 1;
                for (const RUNTIME_TYPE *cr = &r + 1; cr < &r + r.offset_to_last; cr = next_elem(cr)) {
                    m.child_pool_.push_back(c);
                    c += AI_OBJ_ID(L->span[cr - rt]);
                }
            } else if (r.el_tag == RT_ARR_START && L->elements) {
                const AI_OBJ_ID step = AI_OBJ_ID(L->span[oi.rt_index + 1]);
                for (int k = 0; k < r.u.arr.num_elmnts; ++k) m.child_pool_.push_back(AI_OBJ_ID(id) + 1 + k * step);
            }
        }
        oi.child_num = uint32_t(m.child_pool_.size() - oi.child_off);
    }
    for (IedModel::LdData &ld : m.lds_) {
        ld.ctrl.num_ln = ld.ctrl.max_num_ln = int32_t(ld.ln_tbl.size());
        ld.ctrl.ln_tbl = ld.ln_tbl.data();
        ld.ctrl.num_ds = ld.ctrl.max_num_ds = int32_t(ld.ds_tbl.size());
        ld.ctrl.ds_tbl = ld.ds_tbl.data();
    }
    for (IedModel::LnData &L : m.lns_) {
        L.ctrl.data = L.values.get();
        L.ctrl.sub_obj_num = int32_t(L.sub_ids.size());
        L.ctrl.sub_ids = L.sub_ids.data();
        L.ctrl.do_desc_num = int32_t(L.do_descs.size());
        L.ctrl.do_descs = L.do_descs.data();
    }
    m.ctrl_.num_ld = m.ctrl_.max_num_ld = int32_t(m.ld_tbl_.size());
    m.ctrl_.ld_tbl = m.ld_tbl_.data();
    m.ctrl_.obj_num = int32_t(m.objs_.size());
    m.ctrl_.max_dyn_num = 0;
    m.ctrl_.id_ctrl = m.idctrl_.data();
    std::lock_guard<std::mutex> lock(g_type_mutex);
    for (auto &t : m.types_) g_types[t->type_id] = &t->ctrl;
}

bool ModelBuilder::run() {
    m_.name_ = ied_.name;
    copy_field(m_.ctrl_.cobj.name, AI_OBJ_NAME_LEN, ied_.name);
    copy_field(m_.ctrl_.cobj.desc, AI_OBJ_NAME_LEN, ied_.desc);
    m_.ctrl_.cobj.type = OBJECT_TYPE_IED;
    m_.ctrl_.cobj.id = 0;
    m_.ctrl_.cobj.parent = nullptr;
    AI_OBJ_ID ied_id = new_obj(OBJECT_TYPE_IED, -1, m_.ctrl_.cobj.name);
    if (!ied_.desc.empty()) m_.objs_[size_t(ied_id)].desc = pool(ied_.desc);
    m_.idctrl_[size_t(ied_id)].u.ied_idctrl.ied = &m_.ctrl_;
    for (const scl::LDevice &ld : ied_.lds) add_ld(ld);
    finish();
    resolve_members();  // needs the children pool that finish() lays out
    if (m_.ld_tbl_.empty()) diag_.warn(doc_.file, ied_.line, "IED '" + ied_.name + "' has no logical device");
    return true;
}

// ============================================================================
// IedModel
// ============================================================================

IedModel::IedModel() : magic_(kMagic) {}

IedModel::~IedModel() {
    {
        std::unique_lock<std::shared_mutex> lock(g_model_mutex);
        g_models.erase(&ctrl_);
    }
    magic_ = 0;
    std::lock_guard<std::mutex> lock(g_type_mutex);
    for (auto &t : types_) g_types.erase(t->type_id);
}

std::unique_ptr<IedModel> IedModel::build(std::shared_ptr<const scl::Document> doc, const scl::Ied &ied,
                                          scl::Diagnostics &diag, const CbLayouts *layouts) {
    if (!doc) return nullptr;
    std::unique_ptr<IedModel> m(new IedModel());
    m->doc_ = doc;
    m->ied_ = &ied;
    m->layouts_ = layouts ? *layouts : scl_layouts(*doc, ied);
    ModelBuilder b(*m, *doc, ied, diag);
    if (!b.run()) return nullptr;
    std::unique_lock<std::shared_mutex> lock(g_model_mutex);
    g_models.insert(&m->ctrl_);
    return m;
}

std::unique_ptr<IedModel> IedModel::load(const std::string &scl_file, const std::string &ied_name,
                                         scl::Diagnostics &diag, const CbLayouts *layouts) {
    auto doc = std::make_shared<scl::Document>();
    if (!scl::parse_file(scl_file, *doc, diag)) return nullptr;
    for (const scl::Ied &ied : doc->ieds)
        if (ied.name == ied_name) return build(doc, ied, diag, layouts);
    diag.error(scl_file, 0, "no IED named '" + ied_name + "'");
    return nullptr;
}

IedModel *IedModel::from_ctrl(const AI_IED_CTRL *ctrl) {
    if (!ctrl) return nullptr;
    {
        std::shared_lock<std::shared_mutex> lock(g_model_mutex);
        if (!g_models.count(ctrl)) return nullptr;
    }
    // ctrl_ is the first member: the record's address is the model's.
    auto *m = reinterpret_cast<IedModel *>(const_cast<AI_IED_CTRL *>(ctrl));
    return m->magic_ == kMagic ? m : nullptr;
}

}  // namespace zv::model
