// Values: reading the model's values and converting them to and from text.
#include "export.h"

ZV_EXPORT ST_RET ai_read_obj_primVals(AI_OBJ_ID, AI_IED_CTRL *, AI_OBJ_VAL *vals) {
    if (vals) *vals = AI_OBJ_VAL{-1, nullptr, nullptr, 0};
    return 1;
}
ZV_EXPORT void ai_cleanup_objVals(AI_OBJ_VAL *) {}
ZV_EXPORT ST_RET ai_prim_value_to_str(AI_VAL_TYPE, void *, char *) { return 1; }
ZV_EXPORT ST_RET ai_prim_str_to_value(AI_VAL_TYPE, const char *, void *) { return 1; }
ZV_EXPORT ST_RET ai_type_to_str(AI_VAL_TYPE, char *) { return 1; }
ZV_EXPORT ST_RET UtcStringToVals(const char *, ST_UINT32 *, ST_UINT32 *, ST_UINT32 *) { return 1; }
ZV_EXPORT ST_RET UtcValsToString(char *, ST_UINT32, ST_UINT32, ST_UINT32) { return 1; }
ZV_EXPORT ST_RET _convert_str_to_val_timestamp(const char *, TimeStamp_TDEF *) { return 1; }
ZV_EXPORT void get_system_curtime(TimeStamp_TDEF *ts) {
    if (ts) *ts = TimeStamp_TDEF{0, 0, 0};
}
