#include "ied_objects.h"

#include <QCoreApplication>
#include <cstring>

#include "zv_ops.h"

namespace iedobj {

AI_IED_CTRL *model(int srv_id) { return ac_get_srvm_ied_ad != nullptr ? ac_get_srvm_ied_ad(srv_id) : nullptr; }

QByteArray ref(AI_IED_CTRL *model, AI_OBJ_ID id) {
    char buf[AI_OBJ_REF_LEN];
    std::memset(buf, 0, sizeof buf);
    if (model == nullptr || ai_obj_id_to_ref_ad == nullptr || ai_obj_id_to_ref_ad(model, id, buf) != 0) return {};
    buf[AI_OBJ_REF_LEN - 1] = '\0';
    return QByteArray(buf);
}

AI_OBJ_ID id(AI_IED_CTRL *model, const QByteArray &ref) {
    if (model == nullptr || ai_obj_ref_to_id_ad == nullptr || ref.isEmpty() || ref.size() >= AI_OBJ_REF_LEN) return -1;
    return ai_obj_ref_to_id_ad(model, ref.constData());
}

AI_OBJ_TYPE type(AI_IED_CTRL *model, AI_OBJ_ID id) {
    const AI_OBJ_IDCTRL *c = model != nullptr && ai_get_obj_id_ctrl_ad != nullptr ? ai_get_obj_id_ctrl_ad(model, id)
                                                                                  : nullptr;
    return c != nullptr ? c->obj_type : OBJECT_TYPE_UNKNOWN;
}

AI_OBJ_ID controlObject(AI_IED_CTRL *model, AI_OBJ_ID obj) {
    if (type(model, obj) != OBJECT_TYPE_FCD) return -1;
    // LD/LN$FC$DO: a data object right below its functional constraint.
    const QByteArray r = ref(model, obj);
    const QList<QByteArray> parts = r.split('$');
    if (parts.size() != 3) return -1;
    const QByteArray co = parts[0] + "$CO$" + parts[2];
    return id(model, co + "$Oper") >= 0 ? id(model, co) : -1;
}

AI_OBJ_ID sgcbOf(AI_IED_CTRL *model, AI_OBJ_ID ld) {
    if (type(model, ld) != OBJECT_TYPE_LD) return -1;
    return id(model, ref(model, ld) + "/LLN0$SP$SGCB");
}

namespace {
AI_OBJ_ID firstChild(AI_IED_CTRL *model, AI_OBJ_ID obj) {
    AI_OBJ_ID *kids = nullptr;
    ST_INT n = 0;
    if (obj < 0 || ai_get_obj_dir_ad == nullptr || ai_get_obj_dir_ad(model, obj, 0, &kids, &n) != 0 ||
        kids == nullptr || n < 1)
        return -1;
    return kids[0];
}
}  // namespace

AI_OBJ_ID lcbOf(AI_IED_CTRL *model, AI_OBJ_ID obj) {
    switch (type(model, obj)) {
    case OBJECT_TYPE_CB: return ref(model, obj).contains("$LG$") ? obj : -1;
    case OBJECT_TYPE_FCN: return ref(model, obj).endsWith("$LG") ? firstChild(model, obj) : -1;
    case OBJECT_TYPE_LD: return firstChild(model, id(model, ref(model, obj) + "/LLN0$LG"));
    default: return -1;
    }
}

QString text(const AI_PRIM_VAL &value) {
    char buf[AI_VALUE_TEXT_LEN];
    std::memset(buf, 0, sizeof buf);
    if (value.data == nullptr || ai_prim_value_to_str_ad == nullptr ||
        ai_prim_value_to_str_ad(value.type, value.data, buf) != 0)
        return {};
    buf[AI_VALUE_TEXT_LEN - 1] = '\0';
    return QString::fromUtf8(buf);
}

QString description(AI_IED_CTRL *model, AI_OBJ_ID obj) {
    if (model == nullptr || ai_get_obj_desc_ad == nullptr) return {};
    for (AI_OBJ_ID cur = obj; cur >= 0; cur = ai_find_obj_parent_ad ? ai_find_obj_parent_ad(model, cur) : -1) {
        const AI_OBJ_TYPE t = type(model, cur);
        if (t != OBJECT_TYPE_FCD && t != OBJECT_TYPE_FCDA) break;
        const char *d = ai_get_obj_desc_ad(model, cur, nullptr);
        if (d != nullptr && *d != '\0') return QString::fromUtf8(d);
    }
    return {};
}

QString addCauseText(int cause, bool translated) {
    static const char *const kCauses[] = {
        QT_TRANSLATE_NOOP("iedobj", "未知原因"),       QT_TRANSLATE_NOOP("iedobj", "不支持"),
        QT_TRANSLATE_NOOP("iedobj", "切换层级闭锁"),   QT_TRANSLATE_NOOP("iedobj", "选择失败"),
        QT_TRANSLATE_NOOP("iedobj", "位置无效"),       QT_TRANSLATE_NOOP("iedobj", "已在目标位置"),
        QT_TRANSLATE_NOOP("iedobj", "执行中参数改变"), QT_TRANSLATE_NOOP("iedobj", "步位越限"),
        QT_TRANSLATE_NOOP("iedobj", "模式闭锁"),       QT_TRANSLATE_NOOP("iedobj", "过程闭锁"),
        QT_TRANSLATE_NOOP("iedobj", "联锁闭锁"),       QT_TRANSLATE_NOOP("iedobj", "同期闭锁"),
        QT_TRANSLATE_NOOP("iedobj", "命令正在执行"),   QT_TRANSLATE_NOOP("iedobj", "健康状态闭锁"),
        QT_TRANSLATE_NOOP("iedobj", "多选一控制"),     QT_TRANSLATE_NOOP("iedobj", "被撤销中止"),
        QT_TRANSLATE_NOOP("iedobj", "执行超时"),       QT_TRANSLATE_NOOP("iedobj", "跳闸中止"),
        QT_TRANSLATE_NOOP("iedobj", "对象未选择"),     QT_TRANSLATE_NOOP("iedobj", "对象已被选择"),
        QT_TRANSLATE_NOOP("iedobj", "无操作权限"),     QT_TRANSLATE_NOOP("iedobj", "越限结束"),
        QT_TRANSLATE_NOOP("iedobj", "偏差中止"),       QT_TRANSLATE_NOOP("iedobj", "通信中断中止"),
        QT_TRANSLATE_NOOP("iedobj", "命令闭锁"),       QT_TRANSLATE_NOOP("iedobj", "无"),
        QT_TRANSLATE_NOOP("iedobj", "参数不一致"),     QT_TRANSLATE_NOOP("iedobj", "被他方锁定")};
    const auto text = [translated](const char *source) {
        return translated ? QCoreApplication::translate("iedobj", source) : QString::fromUtf8(source);
    };
    if (cause < 0) return text(QT_TRANSLATE_NOOP("iedobj", "装置未给出原因"));
    if (cause >= int(std::size(kCauses))) return text(QT_TRANSLATE_NOOP("iedobj", "原因%1")).arg(cause);
    return text(kCauses[cause]);
}

}  // namespace iedobj
