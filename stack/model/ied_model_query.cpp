// Questions asked of a built IedModel: its structure, types and references,
// and its values (read and written under value_mutex()).
#include "model/ied_model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "model/ied_model_internal.h"
#include "model/values.h"

namespace zv::model {

namespace {

bool is_element_name(const char *name) {
    if (!name) return false;
    size_t n = std::strlen(name);
    return n > 0 && name[n - 1] == ')';
}

}  // namespace

AI_OBJ_TYPE IedModel::type(AI_OBJ_ID id) const {
    return valid(id) ? idctrl_[size_t(id)].obj_type : OBJECT_TYPE_UNKNOWN;
}

AI_OBJ_ID IedModel::parent(AI_OBJ_ID id) const { return valid(id) ? objs_[size_t(id)].parent : -1; }

const char *IedModel::name(AI_OBJ_ID id) const { return valid(id) ? objs_[size_t(id)].name : nullptr; }

const char *IedModel::desc(AI_OBJ_ID id) const { return valid(id) ? objs_[size_t(id)].desc : nullptr; }

AI_OBJ_ID IedModel::child(AI_OBJ_ID id, std::string_view nm) const {
    if (!valid(id)) return -1;
    const ObjInfo &oi = objs_[size_t(id)];
    for (uint32_t k = 0; k < oi.child_num; ++k) {
        AI_OBJ_ID c = child_pool_[oi.child_off + k];
        if (c >= 0 && nm == objs_[size_t(c)].name) return c;
    }
    return -1;
}

const char *IedModel::desc(AI_OBJ_ID id, std::string_view sub) const {
    if (!valid(id)) return nullptr;
    std::vector<std::string_view> comps = split(sub, '$');
    for (std::string_view c : comps)
        if (c.empty()) return nullptr;
    auto walk = [&](AI_OBJ_ID from) -> AI_OBJ_ID {
        for (std::string_view c : comps) {
            from = child_or_element(from, c);
            if (from < 0) return -1;
        }
        return from;
    };
    if (type(id) == OBJECT_TYPE_LN) {
        const ObjInfo &oi = objs_[size_t(id)];
        AI_OBJ_ID found = -1;
        for (uint32_t k = 0; k < oi.child_num; ++k) {
            AI_OBJ_ID hit = walk(child_pool_[oi.child_off + k]);
            if (hit < 0) continue;
            if (objs_[size_t(hit)].desc) return objs_[size_t(hit)].desc;
            found = hit;
        }
        (void)found;
        return nullptr;
    }
    AI_OBJ_ID hit = walk(id);
    return hit >= 0 ? objs_[size_t(hit)].desc : nullptr;
}

bool IedModel::children(AI_OBJ_ID id, const AI_OBJ_ID *&ids, int32_t &num) const {
    ids = nullptr;
    num = 0;
    if (!valid(id)) return false;
    const ObjInfo &oi = objs_[size_t(id)];
    AI_OBJ_TYPE t = type(id);
    if (t == OBJECT_TYPE_DS) return false;
    if (oi.child_num == 0) {
        // An LD without LNs or an IED without LDs is still a container.
        return t == OBJECT_TYPE_IED || t == OBJECT_TYPE_LD || t == OBJECT_TYPE_LN;
    }
    ids = child_pool_.data() + oi.child_off;
    num = int32_t(oi.child_num);
    return true;
}

bool IedModel::data_sets(AI_OBJ_ID ld, const AI_OBJ_ID *&ids, int32_t &num) const {
    ids = nullptr;
    num = 0;
    auto it = ld_by_id_.find(ld);
    if (it == ld_by_id_.end()) return false;
    ids = it->second->ds_ids.data();
    num = int32_t(it->second->ds_ids.size());
    return true;
}

std::string IedModel::reference(AI_OBJ_ID id) const {
    if (!valid(id)) return std::string();
    AI_OBJ_TYPE t = type(id);
    if (t == OBJECT_TYPE_IED || t == OBJECT_TYPE_LD) return objs_[size_t(id)].name;
    if (t == OBJECT_TYPE_DS) {
        const DsData *d = ds_by_id_.at(id);
        return std::string(objs_[size_t(d->ld_id)].name) + "/" + d->ln_name + "$" + objs_[size_t(id)].name;
    }
    // Names from the object up to its LN, then the LD. An array element's
    // name "Arr(k)" stands for the array too.
    const char *parts[64];
    int n = 0;
    AI_OBJ_ID cur = id;
    while (cur >= 0 && type(cur) != OBJECT_TYPE_LD && n < 64) {
        const char *nm = objs_[size_t(cur)].name;
        parts[n++] = nm;
        cur = objs_[size_t(cur)].parent;
        if (is_element_name(nm) && cur >= 0) cur = objs_[size_t(cur)].parent;
    }
    std::string out = cur >= 0 ? objs_[size_t(cur)].name : "";
    out += '/';
    for (int k = n - 1; k >= 0; --k) {
        out += parts[k];
        if (k) out += '$';
    }
    return out;
}

bool IedModel::reference(AI_OBJ_ID id, char *out, size_t cap) const {
    if (!out || cap == 0 || !valid(id)) return false;
    std::string r = reference(id);
    if (r.size() + 1 > cap) return false;
    std::memcpy(out, r.c_str(), r.size() + 1);
    return true;
}

AI_OBJ_ID IedModel::find(std::string_view ref) const {
    if (ref.empty() || ref.size() > scl::kMaxRefLen) return -1;
    size_t slash = ref.find('/');
    if (slash == std::string_view::npos) {
        if (ref == name_) return 0;
        auto it = ld_by_name_.find(std::string(ref));
        return it == ld_by_name_.end() ? -1 : it->second;
    }
    auto ld = ld_by_name_.find(std::string(ref.substr(0, slash)));
    if (ld == ld_by_name_.end()) return -1;
    std::vector<std::string_view> comps = split(ref.substr(slash + 1), '$');
    AI_OBJ_ID cur = child(ld->second, comps[0]);
    if (cur < 0) return -1;
    for (size_t k = 1; k < comps.size(); ++k) {
        AI_OBJ_ID next = child_or_element(cur, comps[k]);
        if (next < 0 && k == 1 && comps.size() == 2) {
            // LD/LN$DataSet
            for (AI_OBJ_ID ds : ld_by_id_.at(ld->second)->ds_ids)
                if (comps[1] == objs_[size_t(ds)].name && ds_by_id_.at(ds)->ln_name == comps[0]) return ds;
        }
        if (next < 0) return -1;
        cur = next;
    }
    return cur;
}

AI_OBJ_ID IedModel::element(AI_OBJ_ID arr, uint32_t k) const {
    if (!valid(arr) || objs_[size_t(arr)].ln_id < 0) return -1;
    const ObjInfo &oi = objs_[size_t(arr)];
    if (ln_by_id_.at(oi.ln_id)->type->rt[size_t(oi.rt_index)].el_tag != RT_ARR_START || k >= oi.child_num) return -1;
    return child_pool_[oi.child_off + k];
}

AI_OBJ_ID IedModel::child_or_element(AI_OBJ_ID id, std::string_view comp) const {
    std::string_view name;
    uint32_t k = 0;
    if (!comp.empty() && comp.back() == ')') return parse_element(comp, name, k) ? element(child(id, name), k) : -1;
    return child(id, comp);
}

uint8_t *IedModel::value_of(const ObjInfo &oi) const {
    const LnData *L = ln_by_id_.at(oi.ln_id);
    return L->values.get() + oi.base + L->type->rt[size_t(oi.rt_index)].mvluTypeInfo.offSet;
}

int IedModel::fc(AI_OBJ_ID id) const {
    AI_OBJ_TYPE t = type(id);
    if (t == OBJECT_TYPE_FCN || t == OBJECT_TYPE_FCD || t == OBJECT_TYPE_FCDA || t == OBJECT_TYPE_CB)
        return idctrl_[size_t(id)].u.fco_idctrl.type;
    return FC_NONE;
}

AI_LN_CTRL *IedModel::ln_of(AI_OBJ_ID id) const {
    if (!valid(id) || objs_[size_t(id)].ln_id < 0) return nullptr;
    return &ln_by_id_.at(objs_[size_t(id)].ln_id)->ctrl;
}

AI_DS_CTRL *IedModel::data_set(AI_OBJ_ID id) const {
    auto it = ds_by_id_.find(id);
    return it == ds_by_id_.end() ? nullptr : &it->second->ctrl;
}

const LnType *IedModel::ln_type(const AI_LN_CTRL *ln) const {
    if (!ln) return nullptr;
    auto it = ln_by_id_.find(ln->cobj.id);
    return it == ln_by_id_.end() ? nullptr : it->second->type;
}

bool IedModel::type_of(AI_OBJ_ID id, const RUNTIME_TYPE *&first, int32_t &num) const {
    if (!valid(id) || objs_[size_t(id)].ln_id < 0) return false;
    const ObjInfo &oi = objs_[size_t(id)];
    const LnData *L = ln_by_id_.at(oi.ln_id);
    first = &L->type->rt[size_t(oi.rt_index)];
    num = first->el_tag == RT_PRIMITIVE ? 1 : first->offset_to_last + 1;
    return true;
}

const ElemInfo *IedModel::elem_info(AI_OBJ_ID id) const {
    if (!valid(id) || objs_[size_t(id)].ln_id < 0) return nullptr;
    const ObjInfo &oi = objs_[size_t(id)];
    return &ln_by_id_.at(oi.ln_id)->type->elems[size_t(oi.rt_index)];
}

void IedModel::variable_names(AI_OBJ_ID ld, std::vector<std::string> &out, bool sorted) const {
    auto it = ld_by_id_.find(ld);
    if (it == ld_by_id_.end()) return;
    size_t first = out.size();
    size_t prefix = std::strlen(objs_[size_t(ld)].name) + 1;
    for (AI_LN_CTRL *ln : it->second->ln_tbl) {
        AI_OBJ_ID ln_id = ln->cobj.id;
        const LnData *L = ln_by_id_.at(ln_id);
        for (AI_OBJ_ID id = ln_id; id < object_count() && objs_[size_t(id)].ln_id == ln_id; ++id) {
            // Array elements (and what lies in them) are not named variables:
            // MMS reaches them by alternate access.
            if (L->sub_ids[size_t(objs_[size_t(id)].rt_index)] != id) continue;
            out.push_back(reference(id).substr(prefix));
        }
    }
    if (sorted) std::sort(out.begin() + long(first), out.end());
}

void IedModel::collect_obj(const LnData &L, int32_t i, size_t base, AI_OBJ_ID id, bool fixed,
                           std::vector<Primitive> &out) const {
    const RUNTIME_TYPE *rt = L.type->rt.data();
    const RUNTIME_TYPE &r = rt[i];
    if (r.el_tag == RT_PRIMITIVE) {
        AI_VAL_TYPE vt = AI_VAL_TYPE(r.u.p.pad);
        out.push_back(
            Primitive{id, vt, int32_t(stored_size(vt)), L.values.get() + base + size_t(r.mvluTypeInfo.offSet), &r});
    } else if (r.el_tag == RT_STR_START) {
        AI_OBJ_ID c = id + 1;
        for (const RUNTIME_TYPE *cr = &r + 1; cr < &r + r.offset_to_last; cr = next_elem(cr)) {
            const int32_t ci = int32_t(cr - rt);
            collect_obj(L, ci, base, fixed ? id : c, fixed, out);
            c += AI_OBJ_ID(L.span[ci]);
        }
    } else if (r.el_tag == RT_ARR_START) {
        // Without element objects the array's contents are reported as the array.
        const bool whole = fixed || !L.elements;
        const uint32_t stride = L.type->elems[size_t(i)].stride;
        const AI_OBJ_ID step = AI_OBJ_ID(L.span[i + 1]);
        for (int k = 0; k < r.u.arr.num_elmnts; ++k)
            collect_obj(L, i + 1, base + size_t(k) * stride, whole ? id : id + 1 + k * step, whole, out);
    }
}

void IedModel::collect(AI_OBJ_ID id, std::vector<Primitive> &out) const {
    switch (type(id)) {
    case OBJECT_TYPE_IED:
        for (AI_LD_CTRL *ld : ld_tbl_) collect(ld->cobj.id, out);
        break;
    case OBJECT_TYPE_LD:
        for (AI_LN_CTRL *ln : ld_by_id_.at(id)->ln_tbl) collect(ln->cobj.id, out);
        break;
    case OBJECT_TYPE_DS:
        for (AI_OBJ_ID m : ds_by_id_.at(id)->mb_ids)
            if (m >= 0) collect(m, out);
        break;
    case OBJECT_TYPE_UNKNOWN: break;
    default: {
        const ObjInfo &oi = objs_[size_t(id)];
        collect_obj(*ln_by_id_.at(oi.ln_id), oi.rt_index, oi.base, id, false, out);
    }
    }
}

bool IedModel::primitives(AI_OBJ_ID id, std::vector<Primitive> &out) const {
    if (!valid(id)) return false;
    collect(id, out);
    return true;
}

int IedModel::read(AI_OBJ_ID id, AI_OBJ_VAL *out) const {
    if (!out) return 1;
    *out = AI_OBJ_VAL{id, nullptr, nullptr, 0};
    std::vector<Primitive> prims;
    prims.reserve(kTypicalPrimitives);
    if (!primitives(id, prims)) return 1;
    // One block: identifiers, records, then the values, each value 8-aligned.
    size_t n = prims.size();
    size_t ids_bytes = align_up(n * sizeof(AI_OBJ_ID), 8);
    size_t vals_bytes = align_up(n * sizeof(AI_PRIM_VAL), 8);
    size_t data_bytes = 0;
    for (const Primitive &p : prims) data_bytes += align_up(size_t(p.size), 8);
    auto *block = static_cast<uint8_t *>(std::malloc(ids_bytes + vals_bytes + data_bytes + 8));
    if (!block) return 1;
    auto *ids = reinterpret_cast<AI_OBJ_ID *>(block);
    auto *vals = reinterpret_cast<AI_PRIM_VAL *>(block + ids_bytes);
    uint8_t *data = block + ids_bytes + vals_bytes;
    {
        std::shared_lock<std::shared_mutex> lock(value_mutex_);
        for (size_t k = 0; k < n; ++k) {
            ids[k] = prims[k].id;
            vals[k].type = prims[k].type;
            vals[k].size = prims[k].size;
            vals[k].data = data;
            std::memcpy(data, prims[k].data, size_t(prims[k].size));
            data += align_up(size_t(prims[k].size), 8);
        }
    }
    out->prim_ids = ids;
    out->prim_vals = vals;
    out->prim_num = int32_t(n);
    return 0;
}

void IedModel::release_values(AI_OBJ_VAL *vals) {
    if (!vals) return;
    std::free(vals->prim_ids);
    vals->prim_ids = nullptr;
    vals->prim_vals = nullptr;
    vals->prim_num = 0;
}

int IedModel::write(AI_OBJ_ID prim_id, const void *data, size_t size) {
    if (!data || !valid(prim_id) || objs_[size_t(prim_id)].ln_id < 0) return 1;
    const ObjInfo &oi = objs_[size_t(prim_id)];
    LnData *L = ln_by_id_.at(oi.ln_id);
    const RUNTIME_TYPE &r = L->type->rt[size_t(oi.rt_index)];
    if (r.el_tag != RT_PRIMITIVE || stored_size(AI_VAL_TYPE(r.u.p.pad)) != size) return 1;
    std::unique_lock<std::shared_mutex> lock(value_mutex_);
    std::memcpy(L->values.get() + oi.base + r.mvluTypeInfo.offSet, data, size);
    return 0;
}

int IedModel::write_text(AI_OBJ_ID prim_id, std::string_view text) {
    if (!valid(prim_id) || objs_[size_t(prim_id)].ln_id < 0) return 1;
    const ObjInfo &oi = objs_[size_t(prim_id)];
    const RUNTIME_TYPE &r = ln_by_id_.at(oi.ln_id)->type->rt[size_t(oi.rt_index)];
    if (r.el_tag != RT_PRIMITIVE) return 1;
    AI_VAL_TYPE vt = AI_VAL_TYPE(r.u.p.pad);
    uint8_t buf[AI_SIZE_UNISTRING255];
    if (text_to_value(vt, text, buf) != 0) return 1;
    return write(prim_id, buf, stored_size(vt));
}

int IedModel::read_text(AI_OBJ_ID prim_id, std::string &out) const {
    if (!valid(prim_id) || objs_[size_t(prim_id)].ln_id < 0) return 1;
    const ObjInfo &oi = objs_[size_t(prim_id)];
    const LnData *L = ln_by_id_.at(oi.ln_id);
    const RUNTIME_TYPE &r = L->type->rt[size_t(oi.rt_index)];
    if (r.el_tag != RT_PRIMITIVE) return 1;
    char text[AI_SIZE_UNISTRING255 + 8];
    std::shared_lock<std::shared_mutex> lock(value_mutex_);
    if (value_to_text(AI_VAL_TYPE(r.u.p.pad), L->values.get() + oi.base + r.mvluTypeInfo.offSet, text, sizeof text) !=
        0)
        return 1;
    out = text;
    return 0;
}

}  // namespace zv::model
