// The object model of each server: directories, names, references, descriptions.
#include <cstring>

#include "client/client.h"
#include "export.h"
#include "model/ied_model.h"

using zv::model::IedModel;

ZV_EXPORT AI_OBJ_ID ai_obj_ref_to_id(AI_IED_CTRL *model, const char *ref) {
    IedModel *m = IedModel::from_ctrl(model);
    if (!m || !ref) return -1;
    return m->find(ref);
}

ZV_EXPORT ST_RET ai_obj_id_to_ref(AI_IED_CTRL *model, AI_OBJ_ID id, char *ref_out) {
    IedModel *m = IedModel::from_ctrl(model);
    if (!m || !ref_out) return 1;
    return m->reference(id, ref_out, AI_OBJ_REF_LEN) ? 0 : 1;
}

ZV_EXPORT ST_RET ai_obj_id_to_name(AI_IED_CTRL *model, AI_OBJ_ID id, char *name_out) {
    IedModel *m = IedModel::from_ctrl(model);
    if (!m || !name_out) return 1;
    const char *n = m->name(id);
    if (!n || std::strlen(n) >= AI_OBJ_NAME_LEN) return 1;
    std::strcpy(name_out, n);
    return 0;
}

ZV_EXPORT ST_RET ai_get_obj_dir(AI_IED_CTRL *model, AI_OBJ_ID id, ST_UCHAR selector, AI_OBJ_ID **ids, ST_INT *num) {
    if (ids) *ids = nullptr;
    if (num) *num = 0;
    IedModel *m = IedModel::from_ctrl(model);
    if (!m || !ids || !num) return 1;
    const AI_OBJ_ID *list = nullptr;
    int32_t n = 0;
    bool ok = selector == 0 ? m->children(id, list, n) : selector == 1 ? m->data_sets(id, list, n) : false;
    if (!ok) return 1;
    *ids = const_cast<AI_OBJ_ID *>(list);
    *num = n;
    return 0;
}

ZV_EXPORT AI_OBJ_IDCTRL *ai_get_obj_id_ctrl(AI_IED_CTRL *model, AI_OBJ_ID id) {
    IedModel *m = IedModel::from_ctrl(model);
    return m ? m->id_ctrl(id) : nullptr;
}

ZV_EXPORT char *ai_get_obj_desc(AI_IED_CTRL *model, ST_INT id, const char *sub_name) {
    IedModel *m = IedModel::from_ctrl(model);
    if (!m) return nullptr;
    if (id == 0 && sub_name && std::strcmp(sub_name, zv::client::kCheckSummaryName) == 0)
        return const_cast<char *>(zv::client::check_summary(m));
    const char *d = sub_name ? m->desc(id, sub_name) : m->desc(id);
    return const_cast<char *>(d);
}

ZV_EXPORT AI_OBJ_TYPE ai_get_obj_type(AI_IED_CTRL *model, AI_OBJ_ID id) {
    IedModel *m = IedModel::from_ctrl(model);
    return m ? m->type(id) : OBJECT_TYPE_UNKNOWN;
}

ZV_EXPORT AI_OBJ_ID ai_find_obj_parent(AI_IED_CTRL *model, AI_OBJ_ID id) {
    IedModel *m = IedModel::from_ctrl(model);
    return m ? m->parent(id) : -1;
}

ZV_EXPORT ST_INT ai_get_ld_num(AI_IED_CTRL *model) {
    IedModel *m = IedModel::from_ctrl(model);
    return m ? m->ctrl()->num_ld : 0;
}

ZV_EXPORT ST_INT ai_get_ln_num(AI_IED_CTRL *model) {
    IedModel *m = IedModel::from_ctrl(model);
    return m ? m->ln_count() : 0;
}

ZV_EXPORT ST_INT ai_get_ds_num(AI_IED_CTRL *model) {
    IedModel *m = IedModel::from_ctrl(model);
    return m ? m->ds_count() : 0;
}

ZV_EXPORT ST_INT ai_get_ied_obj_num(AI_IED_CTRL *model) {
    IedModel *m = IedModel::from_ctrl(model);
    return m ? m->object_count() : 0;
}

ZV_EXPORT MVL_TYPE_CTRL *mvl_type_ctrl_find(ST_INT type_id) { return zv::model::find_type(type_id); }
