#include "dialog_ctrl.h"

#include <QCoreApplication>
#include <QDoubleValidator>
#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>
#include <cstring>

#include "gui_srv.h"
#include "ied_objects.h"
#include "zv_ops.h"

bool (*dialog_ctrl::confirm_hook)(const QString &title, const QString &text) = nullptr;

namespace {

// IEC 61850-7-3 ctlModel.
enum CtlModel { kStatusOnly = 0, kDirectNormal = 1, kSboNormal = 2, kDirectEnhanced = 3, kSboEnhanced = 4 };
// The originator of this station computer's commands (IEC 61850-7-3 orCat
// station-control).
constexpr ST_INT8 kOrCatStation = 2;
const char kOrIdent[] = "tarnmon";

template <typename F>
void onGuiThread(F f) {
    QCoreApplication *app = QCoreApplication::instance();
    if (app != nullptr) QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
}

QString modelName(int m) {
    switch (m) {
    case kStatusOnly: return QCoreApplication::translate("dialog_ctrl", "仅状态");
    case kDirectNormal: return QCoreApplication::translate("dialog_ctrl", "常规直控");
    case kSboNormal: return QCoreApplication::translate("dialog_ctrl", "常规选控");
    case kDirectEnhanced: return QCoreApplication::translate("dialog_ctrl", "增强直控");
    case kSboEnhanced: return QCoreApplication::translate("dialog_ctrl", "增强选控");
    default: return QCoreApplication::translate("dialog_ctrl", "未知模型%1").arg(m);
    }
}

// Name of a primitive and of its parent in the model.
void names(AI_IED_CTRL *model, AI_OBJ_ID id, QByteArray *name, QByteArray *parent) {
    char buf[AI_OBJ_NAME_LEN] = {};
    if (ai_obj_id_to_name_ad != nullptr) ai_obj_id_to_name_ad(model, id, buf);
    *name = QByteArray(buf, int(qstrnlen(buf, sizeof buf)));
    std::memset(buf, 0, sizeof buf);
    const AI_OBJ_ID p = ai_find_obj_parent_ad != nullptr ? ai_find_obj_parent_ad(model, id) : -1;
    if (p >= 0 && ai_obj_id_to_name_ad != nullptr) ai_obj_id_to_name_ad(model, p, buf);
    *parent = QByteArray(buf, int(qstrnlen(buf, sizeof buf)));
}

// Stores the parts of a control value into a Cancel's primitives by name.
void fillCancel(AI_IED_CTRL *model, AI_OBJ_VAL *v, const AC_CTRL_VALUE &c) {
    for (int k = 0; k < v->prim_num; ++k) {
        AI_PRIM_VAL &p = v->prim_vals[k];
        if (p.data == nullptr) continue;
        QByteArray name, parent;
        names(model, v->prim_ids[k], &name, &parent);
        auto put = [&](const void *src, size_t n) {
            if (size_t(p.size) == n) std::memcpy(p.data, src, n);
        };
        if (parent == "ctlVal" && name == "f")
            put(&c.val.setMag.fVal, 4);
        else if (parent == "ctlVal" && name == "i")
            put(&c.val.setMag.iVal, 4);
        else if (name == "ctlVal" && p.type == VAL_TYPE_BOOLEAN)
            put(&c.val.bVal, 1);
        else if (name == "ctlVal" && p.type == VAL_TYPE_INT8)
            put(&c.val.iVal8, 1);
        else if (name == "ctlVal" && p.type == VAL_TYPE_INT8U)
            put(&c.val.iUVal8, 1);
        else if (name == "ctlVal" && p.type == VAL_TYPE_INT32)
            put(&c.val.iVal32, 4);
        else if (name == "ctlVal" && (p.type == VAL_TYPE_CODEDENUM || p.type == VAL_TYPE_TCMD) && p.size >= 3)
            static_cast<uint8_t *>(p.data)[2] = uint8_t(c.val.cdVal << 6);
        else if (name == "operTm")
            put(&c.operTm, sizeof c.operTm);
        else if (name == "orCat")
            put(&c.origin.orCat, 1);
        else if (name == "orIdent")
            put(&c.origin.orIdent, sizeof c.origin.orIdent);
        else if (name == "ctlNum")
            put(&c.ctlNum, 1);
        else if (name == "Test")
            put(&c.Test, 1);
        else if (name == "T" && p.type == VAL_TYPE_TIMESTAMP && get_system_curtime_ad != nullptr) {
            TimeStamp_TDEF now;
            get_system_curtime_ad(&now);
            put(&now, sizeof now);
        }
    }
}

}  // namespace

dialog_ctrl::dialog_ctrl(QWidget *parent) : QDialog(parent) {
    widget.setupUi(this);
    // The form connects nothing by name (connectslotsbyname="false"): each
    // button's handler is connected here, checked by the compiler.
    connect(widget.pB_sel, &QAbstractButton::clicked, this, &dialog_ctrl::on_pB_sel_clicked);
    connect(widget.pB_selv, &QAbstractButton::clicked, this, &dialog_ctrl::on_pB_selv_clicked);
    connect(widget.pB_op, &QAbstractButton::clicked, this, &dialog_ctrl::on_pB_op_clicked);
    connect(widget.pB_revoke, &QAbstractButton::clicked, this, &dialog_ctrl::on_pB_revoke_clicked);
    connect(widget.pB_quit, &QAbstractButton::clicked, this, &dialog_ctrl::on_pB_quit_clicked);
}

dialog_ctrl::~dialog_ctrl() {
    if (dlg_ctrl == this) dlg_ctrl = nullptr;
}

void dialog_ctrl::SetIds(int srv, int obj) {
    srv_id = srv;
    obj_id = obj;
}

bool dialog_ctrl::confirm(const QString &title, const QString &text) {
    if (confirm_hook != nullptr) return confirm_hook(title, text);
    return QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

void dialog_ctrl::InitCtrlInfo() {
    for (QPushButton *b : {widget.pB_sel, widget.pB_selv, widget.pB_op, widget.pB_revoke}) b->setEnabled(false);
    widget.cB_ctrl->clear();
    widget.cB_ctrl->setEditable(false);
    widget.lE_ts->clear();
    widget.lE_ms->clear();
    widget.lb_opt->clear();
    widget.lb_opinfo->clear();
    co_id = ctl_model_id = status_id = sbo_id = sbow_id = cancel_id = -1;
    ctlval_type = VAL_TYPE_UNKNOWN;
    has_oper_tm = false;

    AI_IED_CTRL *model = iedobj::model(srv_id);
    co_id = iedobj::controlObject(model, obj_id);
    if (co_id < 0) {
        showState(tr("控制"), tr("不可控对象"));
        return;
    }
    co_ref = iedobj::ref(model, co_id);
    setWindowTitle(tr("控制") + QStringLiteral(" - ") + QString::fromLatin1(co_ref));
    const QByteArray ln = co_ref.left(co_ref.indexOf('$'));
    const QByteArray dobj = co_ref.mid(co_ref.lastIndexOf('$') + 1);
    sbo_id = iedobj::id(model, co_ref + "$SBO");
    sbow_id = iedobj::id(model, co_ref + "$SBOw");
    cancel_id = iedobj::id(model, co_ref + "$Cancel");
    ctl_model_id = iedobj::id(model, ln + "$CF$" + dobj + "$ctlModel");
    status_id = iedobj::id(model, ln + "$ST$" + dobj + "$stVal");
    if (status_id < 0) status_id = iedobj::id(model, ln + "$MX$" + dobj + "$mxVal$f");

    // The control model as the model has it until the device's answer.
    ctlModel_val = kDirectNormal;
    AI_OBJ_VAL v;
    std::memset(&v, 0, sizeof v);
    if (ctl_model_id >= 0 && ai_read_obj_primVals_ad != nullptr &&
        ai_read_obj_primVals_ad(ctl_model_id, model, &v) == 0) {
        if (v.prim_num == 1 && v.prim_vals[0].type == VAL_TYPE_INT8)
            ctlModel_val = *static_cast<ST_INT8 *>(v.prim_vals[0].data);
        ai_cleanup_objVals_ad(&v);
    }

    // The ctlVal type and operTm, from the Oper's primitives.
    std::memset(&v, 0, sizeof v);
    if (ai_read_obj_primVals_ad != nullptr &&
        ai_read_obj_primVals_ad(iedobj::id(model, co_ref + "$Oper"), model, &v) == 0) {
        for (int k = 0; k < v.prim_num; ++k) {
            QByteArray name, parent;
            names(model, v.prim_ids[k], &name, &parent);
            if (name == "ctlVal") ctlval_type = v.prim_vals[k].type;
            if (parent == "ctlVal" && name == "f") ctlval_type = VAL_TYPE_STRUCT;
            if (name == "operTm") has_oper_tm = true;
        }
        ai_cleanup_objVals_ad(&v);
    }
    QString now;
    std::memset(&v, 0, sizeof v);
    if (status_id >= 0 && ai_read_obj_primVals_ad != nullptr && ai_read_obj_primVals_ad(status_id, model, &v) == 0) {
        if (v.prim_num == 1) now = iedobj::text(v.prim_vals[0]);
        ai_cleanup_objVals_ad(&v);
    }
    switch (ctlval_type) {
    case VAL_TYPE_BOOLEAN:
        widget.cB_ctrl->addItem(tr("分 (false)"), 0);
        widget.cB_ctrl->addItem(tr("合 (true)"), 1);
        // The value that changes something comes first: the opposite of now.
        widget.cB_ctrl->setCurrentIndex(now == QLatin1String("false") || now == QLatin1String("01") ? 1 : 0);
        break;
    case VAL_TYPE_CODEDENUM:
    case VAL_TYPE_TCMD:
        widget.cB_ctrl->addItem(tr("停止"), 0);
        widget.cB_ctrl->addItem(tr("降"), 1);
        widget.cB_ctrl->addItem(tr("升"), 2);
        break;
    case VAL_TYPE_INT8:
    case VAL_TYPE_INT8U:
    case VAL_TYPE_INT32:
    case VAL_TYPE_STRUCT: {
        widget.cB_ctrl->setEditable(true);
        widget.cB_ctrl->addItem(now.isEmpty() ? QStringLiteral("0") : now);
        QLineEdit *e = widget.cB_ctrl->lineEdit();
        if (ctlval_type == VAL_TYPE_STRUCT)
            e->setValidator(new QDoubleValidator(widget.cB_ctrl));
        else if (ctlval_type == VAL_TYPE_INT8)
            e->setValidator(new QIntValidator(-128, 127, widget.cB_ctrl));
        else if (ctlval_type == VAL_TYPE_INT8U)
            e->setValidator(new QIntValidator(0, 255, widget.cB_ctrl));
        else
            e->setValidator(new QIntValidator(widget.cB_ctrl));
        break;
    }
    default: showState(tr("控制值"), tr("类型不支持")); break;
    }
    if (co_id >= 0 && widget.lb_opinfo->text().isEmpty()) showState(tr("控制模型"), modelName(ctlModel_val));
    enableButtons();
    // The device's own control model decides (it may differ from the SCL's).
    if (ctl_model_id >= 0 && ac_read_obj_value_ad != nullptr) {
        AI_OBJ_ID id = ctl_model_id;
        AC_READ_REQ_INFO r;
        std::memset(&r, 0, sizeof r);
        r.obj_ids = &id;
        r.num_obj = 1;
        r.u_read_done = model_done;
        ac_read_obj_value_ad(srv_id, &r, 15, nullptr);
    }
}

void dialog_ctrl::enableButtons() {
    const bool usable = co_id >= 0 && widget.cB_ctrl->count() > 0;
    const int m = ctlModel_val;
    const bool controllable = usable && m >= kDirectNormal && m <= kSboEnhanced;
    widget.pB_sel->setEnabled(controllable && m == kSboNormal && sbo_id >= 0);
    widget.pB_selv->setEnabled(controllable && m == kSboEnhanced && sbow_id >= 0);
    widget.pB_op->setEnabled(controllable);
    // Cancel ends a selection, or a time activated operation before its time.
    widget.pB_revoke->setEnabled(controllable && cancel_id >= 0 &&
                                 (m == kSboNormal || m == kSboEnhanced || has_oper_tm));
    widget.lE_ts->setEnabled(controllable && has_oper_tm);
    widget.lE_ms->setEnabled(controllable && has_oper_tm);
}

void dialog_ctrl::ShowModel(AI_OBJ_ID attr, int model) {
    if (attr != ctl_model_id || attr < 0) return;
    ctlModel_val = model;
    if (widget.lb_opt->text() == tr("控制模型") + ":") showState(tr("控制模型"), modelName(model));
    enableButtons();
}

QString dialog_ctrl::valueText() const { return widget.cB_ctrl->currentText(); }

bool dialog_ctrl::controlValue(AC_CTRL_VALUE *v, QString *why) {
    std::memset(v, 0, sizeof *v);
    bool ok = true;
    const QString text = widget.cB_ctrl->currentText().trimmed();
    switch (ctlval_type) {
    case VAL_TYPE_BOOLEAN: v->val.bVal = ST_UCHAR(widget.cB_ctrl->currentData().toInt()); break;
    case VAL_TYPE_CODEDENUM:
    case VAL_TYPE_TCMD: v->val.cdVal = CODE_ENUM_TDEF(widget.cB_ctrl->currentData().toInt()); break;
    case VAL_TYPE_INT8: {
        const int i = text.toInt(&ok);
        ok = ok && i >= -128 && i <= 127;
        v->val.iVal8 = ST_INT8(i);
        break;
    }
    case VAL_TYPE_INT8U: {
        const int i = text.toInt(&ok);
        ok = ok && i >= 0 && i <= 255;
        v->val.iUVal8 = ST_UINT8(i);
        break;
    }
    case VAL_TYPE_INT32: v->val.iVal32 = text.toInt(&ok); break;
    case VAL_TYPE_STRUCT: v->val.setMag.fVal = text.toFloat(&ok); break;
    default: ok = false; break;
    }
    if (!ok) {
        *why = tr("操作值无效");
        return false;
    }
    v->origin.orCat = kOrCatStation;
    v->origin.orIdent.len_1 = ST_INT16(sizeof kOrIdent - 1);
    std::memcpy(v->origin.orIdent.data_1, kOrIdent, sizeof kOrIdent - 1);
    v->ctlNum = ctl_num;
    v->check.len_1 = AI_BITS_CHECK;
    if (has_oper_tm && (!widget.lE_ts->text().trimmed().isEmpty() || !widget.lE_ms->text().trimmed().isEmpty())) {
        bool ok_s = true, ok_ms = true;
        const QString s = widget.lE_ts->text().trimmed(), ms = widget.lE_ms->text().trimmed();
        const qint64 secs = s.isEmpty() ? 0 : s.toLongLong(&ok_s);
        const qint64 msecs = ms.isEmpty() ? 0 : ms.toLongLong(&ok_ms);
        // At most a day ahead; the operation runs at now + the delay.
        if (!ok_s || !ok_ms || secs < 0 || msecs < 0 || secs * 1000 + msecs > 86400000LL) {
            *why = tr("延时时间无效");
            return false;
        }
        const qint64 delay = secs * 1000 + msecs;
        if (delay > 0 && get_system_curtime_ad != nullptr) {
            TimeStamp_TDEF now;
            get_system_curtime_ad(&now);
            // The fraction is 24 bits of a second.
            const quint64 frac_ms = (quint64(now.fraction) * 1000 + (1 << 23)) >> 24;
            const quint64 at = quint64(now.secs) * 1000 + frac_ms + quint64(delay);
            v->operTm.secs = ST_UINT32(at / 1000);
            v->operTm.fraction = ST_UINT32(((at % 1000) << 24) / 1000);
            v->operTm.qflags = now.qflags;
        }
    }
    return true;
}

void dialog_ctrl::control(bool select) {
    AC_CTRL_VALUE v;
    QString why;
    if (!controlValue(&v, &why)) {
        showState(select ? tr("带值选择") : tr("操作"), tr("失败:") + why);
        return;
    }
    AC_CTRL_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.ctrl_obj = co_id;
    r.ctrl_val = v;
    r.u_ctrl_done = ctrl_done;
    sent_ctl_num = ctl_num;
    // An operation at operTm completes (with enhanced security) once it ran:
    // the time-out runs from then.
    ST_INT timeout = 30;
    if (v.operTm.secs != 0 && get_system_curtime_ad != nullptr) {
        TimeStamp_TDEF now;
        get_system_curtime_ad(&now);
        if (v.operTm.secs > now.secs) timeout += ST_INT(v.operTm.secs - now.secs);
    }
    const ST_RET queued = select ? (ac_select_with_val_ad ? ac_select_with_val_ad(srv_id, &r, timeout, nullptr) : 1)
                                 : (ac_operate_ad ? ac_operate_ad(srv_id, &r, timeout, nullptr) : 1);
    showState(select ? tr("带值选择") : tr("操作"), queued == 0 ? tr("执行中...") : tr("失败:") + tr("请求未能发出"));
}

void dialog_ctrl::on_pB_sel_clicked() {
    if (sbo_id < 0 || ac_read_obj_value_ad == nullptr) return;
    AI_OBJ_ID id = sbo_id;
    AC_READ_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.obj_ids = &id;
    r.num_obj = 1;
    r.u_read_done = sbo_done;
    sent_ctl_num = ctl_num;
    const bool queued = ac_read_obj_value_ad(srv_id, &r, 30, nullptr) == 0;
    showState(tr("选择"), queued ? tr("执行中...") : tr("失败:") + tr("请求未能发出"));
}

void dialog_ctrl::on_pB_selv_clicked() { control(true); }

void dialog_ctrl::on_pB_op_clicked() {
    const char *ied = ac_get_srvm_name_ad != nullptr ? ac_get_srvm_name_ad(srv_id) : nullptr;
    const QString text = tr("确认对装置 %1 的 %2 执行操作?\n操作值: %3")
                             .arg(QString::fromUtf8(ied != nullptr ? ied : "?"), QString::fromLatin1(co_ref),
                                  valueText());
    if (!confirm(tr("确认操作"), text)) {
        showState(tr("操作"), tr("已取消"));
        return;
    }
    control(false);
}

void dialog_ctrl::on_pB_revoke_clicked() {
    AI_IED_CTRL *model = iedobj::model(srv_id);
    AC_CTRL_VALUE c;
    QString why;
    if (cancel_id < 0 || ai_read_obj_primVals_ad == nullptr || ac_write_obj_value_ad == nullptr) return;
    if (!controlValue(&c, &why)) {
        showState(tr("撤销"), tr("失败:") + why);
        return;
    }
    // The Cancel names the select or operation it ends: its ctlNum.
    c.ctlNum = sent_ctl_num;
    AI_OBJ_VAL v;
    std::memset(&v, 0, sizeof v);
    if (ai_read_obj_primVals_ad(cancel_id, model, &v) != 0) return;
    fillCancel(model, &v, c);
    AC_WRITE_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.obj_vals = &v;
    r.num_obj = 1;
    r.u_write_done = cancel_done;
    const bool queued = ac_write_obj_value_ad(srv_id, &r, 30, nullptr) == 0;
    ai_cleanup_objVals_ad(&v);
    showState(tr("撤销"), queued ? tr("执行中...") : tr("失败:") + tr("请求未能发出"));
}

void dialog_ctrl::on_pB_quit_clicked() { close(); }

void dialog_ctrl::showState(const QString &op, const QString &outcome) {
    widget.lb_opt->setText(op + ":");
    widget.lb_opinfo->setText(outcome);
    widget.lb_opinfo->setToolTip(outcome);
}

void dialog_ctrl::ShowOutcome(AI_OBJ_ID subject, Kind kind, bool ok, int cause) {
    if (subject < 0 || (subject != co_id && subject != sbo_id && subject != cancel_id)) return;
    // The form shows the outcome in the interface language, the message pane
    // in the source texts.
    const char *op = nullptr;
    const char *refused = QT_TR_NOOP("装置拒绝");
    bool cause_given = false;
    switch (kind) {
    case Kind::Select: op = QT_TR_NOOP("选择"); break;
    case Kind::SelectWithValue:
        op = QT_TR_NOOP("带值选择");
        cause_given = true;
        break;
    case Kind::Operate:
        op = QT_TR_NOOP("操作");
        cause_given = true;
        ++ctl_num;  // the next select/operate pair
        break;
    case Kind::Cancel: op = QT_TR_NOOP("撤销"); break;
    }
    const char *success = QT_TR_NOOP("成功"), *failure = QT_TR_NOOP("失败:");
    const QString why = cause_given ? iedobj::addCauseText(cause) : tr(refused);
    const QString why_src = cause_given ? iedobj::addCauseText(cause, false) : QString::fromUtf8(refused);
    showState(tr(op), ok ? tr(success) : tr(failure) + why);
    const QString outcome = ok ? QString::fromUtf8(success) : QString::fromUtf8(failure) + why_src;
    if (w != nullptr) w->out_put(QString::fromLatin1(co_ref) + " " + QString::fromUtf8(op) + " " + outcome);
}

// ---- completion functions (stack threads) ----------------------------------------

void dialog_ctrl::ctrl_done(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
    const AI_OBJ_ID co = req_ctrl->u.ctrlCtrl.ctrl_obj;
    const Kind kind = req_ctrl->op == IEC61850_OP_SELVAL ? Kind::SelectWithValue : Kind::Operate;
    const bool ok = req_ctrl->result == 0;
    const int cause = req_ctrl->u.ctrlCtrl.result;
    onGuiThread([co, kind, ok, cause] {
        if (dlg_ctrl != nullptr) dlg_ctrl->ShowOutcome(co, kind, ok, cause);
    });
}

void dialog_ctrl::sbo_done(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr || req_ctrl->u.rdCtrl.num_obj < 1 || req_ctrl->u.rdCtrl.obj_ids == nullptr) return;
    const AI_OBJ_ID sbo = req_ctrl->u.rdCtrl.obj_ids[0];
    // IEC 61850-8-1: the select answers the object's reference, or an empty string.
    bool ok = false;
    if (req_ctrl->result == 0 && req_ctrl->u.rdCtrl.obj_vals != nullptr) {
        const AI_OBJ_VAL &v = req_ctrl->u.rdCtrl.obj_vals[0];
        ok = v.prim_num == 1 && !iedobj::text(v.prim_vals[0]).isEmpty();
    }
    onGuiThread([sbo, ok] {
        if (dlg_ctrl != nullptr) dlg_ctrl->ShowOutcome(sbo, Kind::Select, ok, -1);
    });
}

void dialog_ctrl::cancel_done(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr || req_ctrl->u.wrCtrl.num_obj < 1 || req_ctrl->u.wrCtrl.obj_vals == nullptr) return;
    const AI_OBJ_ID cancel = req_ctrl->u.wrCtrl.obj_vals[0].obj_id;
    const bool ok = req_ctrl->result == 0;
    onGuiThread([cancel, ok] {
        if (dlg_ctrl != nullptr) dlg_ctrl->ShowOutcome(cancel, Kind::Cancel, ok, -1);
    });
}

void dialog_ctrl::model_done(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr || req_ctrl->result != 0 || req_ctrl->u.rdCtrl.num_obj < 1 ||
        req_ctrl->u.rdCtrl.obj_vals == nullptr)
        return;
    const AI_OBJ_VAL &v = req_ctrl->u.rdCtrl.obj_vals[0];
    if (v.prim_num != 1 || v.prim_vals[0].type != VAL_TYPE_INT8 || v.prim_vals[0].data == nullptr) return;
    const int model = *static_cast<const ST_INT8 *>(v.prim_vals[0].data);
    const AI_OBJ_ID attr = req_ctrl->u.rdCtrl.obj_ids[0];
    onGuiThread([attr, model] {
        if (dlg_ctrl != nullptr) dlg_ctrl->ShowModel(attr, model);
    });
}
