// The object model of each server.
#include "export.h"

ZV_EXPORT AI_OBJ_ID ai_obj_ref_to_id(AI_IED_CTRL *, const char *) { return -1; }
ZV_EXPORT ST_RET ai_obj_id_to_ref(AI_IED_CTRL *, AI_OBJ_ID, char *) { return 1; }
ZV_EXPORT ST_RET ai_obj_id_to_name(AI_IED_CTRL *, AI_OBJ_ID, char *) { return 1; }
ZV_EXPORT ST_RET ai_get_obj_dir(AI_IED_CTRL *, AI_OBJ_ID, ST_UCHAR, AI_OBJ_ID **ids, ST_INT *num) {
    if (ids) *ids = nullptr;
    if (num) *num = 0;
    return 1;
}
ZV_EXPORT AI_OBJ_IDCTRL *ai_get_obj_id_ctrl(AI_IED_CTRL *, AI_OBJ_ID) { return nullptr; }
ZV_EXPORT char *ai_get_obj_desc(AI_IED_CTRL *, ST_INT, const char *) { return nullptr; }
ZV_EXPORT AI_OBJ_TYPE ai_get_obj_type(AI_IED_CTRL *, AI_OBJ_ID) { return OBJECT_TYPE_UNKNOWN; }
ZV_EXPORT AI_OBJ_ID ai_find_obj_parent(AI_IED_CTRL *, AI_OBJ_ID) { return -1; }
ZV_EXPORT ST_INT ai_get_ld_num(AI_IED_CTRL *) { return 0; }
ZV_EXPORT ST_INT ai_get_ln_num(AI_IED_CTRL *) { return 0; }
ZV_EXPORT ST_INT ai_get_ds_num(AI_IED_CTRL *) { return 0; }
ZV_EXPORT ST_INT ai_get_ied_obj_num(AI_IED_CTRL *) { return 0; }
ZV_EXPORT MVL_TYPE_CTRL *mvl_type_ctrl_find(ST_INT) { return nullptr; }
