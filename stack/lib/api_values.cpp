// Values: reading the model's values and converting them to and from text.
#include <cstring>

#include "export.h"
#include "model/ied_model.h"
#include "model/values.h"

namespace zm = zv::model;

ZV_EXPORT ST_RET ai_read_obj_primVals(AI_OBJ_ID id, AI_IED_CTRL *model, AI_OBJ_VAL *vals) {
    if (!vals) return 1;
    *vals = AI_OBJ_VAL{id, nullptr, nullptr, 0};
    zm::IedModel *m = zm::IedModel::from_ctrl(model);
    if (!m) return 1;
    return m->read(id, vals) == 0 ? 0 : 1;
}

ZV_EXPORT void ai_cleanup_objVals(AI_OBJ_VAL *vals) { zm::IedModel::release_values(vals); }

ZV_EXPORT ST_RET ai_prim_value_to_str(AI_VAL_TYPE type, void *data, char *text_out) {
    if (!text_out) return 1;
    if (zm::value_to_text(type, data, text_out, AI_VALUE_TEXT_LEN) != 0) {
        text_out[0] = '\0';
        return 1;
    }
    return 0;
}

ZV_EXPORT ST_RET ai_prim_str_to_value(AI_VAL_TYPE type, const char *text, void *data_out) {
    if (!text || !data_out) return 1;
    // Bounded look at the caller's text: nothing valid is longer than a value text.
    size_t len = strnlen(text, AI_VALUE_TEXT_LEN + 1);
    if (len > AI_VALUE_TEXT_LEN) return 1;
    return zm::text_to_value(type, std::string_view(text, len), data_out) == 0 ? 0 : 1;
}

// The application's type column holds 21 bytes; every name is shorter.
ZV_EXPORT ST_RET ai_type_to_str(AI_VAL_TYPE type, char *text_out) {
    if (!text_out) return 1;
    const char *n = zm::type_name(type);
    if (!n) {
        text_out[0] = '\0';
        return 1;
    }
    std::strcpy(text_out, n);
    return 0;
}

ZV_EXPORT ST_RET UtcStringToVals(const char *text, ST_UINT32 *secs, ST_UINT32 *fraction, ST_UINT32 *qflags) {
    if (!text) return 1;
    size_t len = strnlen(text, AI_VALUE_TEXT_LEN + 1);
    if (len > AI_VALUE_TEXT_LEN) return 1;
    uint32_t s, f, q;
    if (zm::text_to_utc(std::string_view(text, len), s, f, q) != 0) return 1;
    if (secs) *secs = s;
    if (fraction) *fraction = f;
    if (qflags) *qflags = q;
    return 0;
}

// text_out holds at least 64 bytes.
ZV_EXPORT ST_RET UtcValsToString(char *text_out, ST_UINT32 secs, ST_UINT32 fraction, ST_UINT32 qflags) {
    return zm::utc_to_text(secs, fraction, qflags, text_out, 64) == 0 ? 0 : 1;
}

ZV_EXPORT ST_RET _convert_str_to_val_timestamp(const char *text, TimeStamp_TDEF *ts) {
    if (!ts) return 1;
    return UtcStringToVals(text, &ts->secs, &ts->fraction, &ts->qflags);
}

ZV_EXPORT void get_system_curtime(TimeStamp_TDEF *ts) {
    if (ts) zm::current_time(*ts);
}
