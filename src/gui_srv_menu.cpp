// The context menu of the object tree and the services it dispatches.
#include <QMenu>

#include "dialog_ctrl.h"
#include "dialog_lcb.h"
#include "dialog_rcb.h"
#include "dialog_sg.h"
#include "gui_srv.h"
#include "ied_objects.h"
#include "zv_ops.h"

void gui_srv::ShowContextMenu(const QPoint &pos) {
    const QModelIndex index = ui.treeView->indexAt(pos);
    if (!index.isValid()) return;
    const int srv_id = index.data(ROLE_SRV_ID).toInt();

    CHNL_STATE a = CHNL_STATE_UNCONNECTED;
    CHNL_STATE b = CHNL_STATE_UNCONNECTED;
    AC_CHANNEL active = AC_CHANNEL_UNKNOWN;
    if (ac_get_srvm_chnlState_ad) ac_get_srvm_chnlState_ad(srv_id, &a, &b, &active);
    setconnA(a == CHNL_STATE_CONNECTED);
    setconnB(b == CHNL_STATE_CONNECTED);

    const QVariant obj = index.data(ROLE_OBJ_ID);
    const AI_OBJ_ID obj_id = obj.isValid() ? obj.toInt() : 0;
    srv_id_s = srv_id;
    obj_id_s = obj_id;

    AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(srv_id) : nullptr;
    const AI_OBJ_IDCTRL *ctrl = ai_get_obj_id_ctrl_ad ? ai_get_obj_id_ctrl_ad(ied, obj_id) : nullptr;
    // An object without an id control gets a menu with every entry disabled.
    const AI_OBJ_TYPE type = ctrl ? ctrl->obj_type : OBJECT_TYPE_UNKNOWN;

    QStringList list;
    switch (type) {
    case OBJECT_TYPE_IED: list << "conn" << "directory"; break;
    case OBJECT_TYPE_LD:
        list << "fixedValue" << "directory";
        if (iedobj::lcbOf(ied, obj_id) >= 0) list << "log";
        break;
    case OBJECT_TYPE_LN: list << "read" << "write" << "directory"; break;
    case OBJECT_TYPE_DS: list << "read" << "directory"; break;
    case OBJECT_TYPE_FCN: {
        list << "read" << "write" << "directory";
        const QString text = model->itemFromIndex(index) ? model->itemFromIndex(index)->text().toLower() : QString();
        if (text == QLatin1String("rp") || text == QLatin1String("br")) list << "report";
        if (text == QLatin1String("lg") && iedobj::lcbOf(ied, obj_id) >= 0) list << "log";
        break;
    }
    case OBJECT_TYPE_FCD:
        list << "read" << "write" << "directory";
        if (iedobj::controlObject(ied, obj_id) >= 0) list << "control";
        break;
    case OBJECT_TYPE_FCDA: list << "read" << "write" << "directory"; break;
    case OBJECT_TYPE_CB:
        list << "read" << "write" << "directory";
        if (iedobj::lcbOf(ied, obj_id) >= 0) list << "log";
        break;
    default: break;
    }
    SetControlState(list);
    tmenu->exec(ui.treeView->viewport()->mapToGlobal(pos));
}

void gui_srv::SetControlState(const QStringList &controllst) {
    for (QAction *a : {act_connA, act_connB, act_control, act_directory, act_fixedValue, act_log, act_read, act_write,
                       act_report})
        a->setEnabled(false);
    for (const QString &s : controllst) {
        if (s == QLatin1String("report")) {
            act_report->setEnabled(true);
        } else if (s == QLatin1String("conn")) {
            act_connA->setEnabled(true);
            act_connB->setEnabled(true);
        } else if (s == QLatin1String("control")) {
            act_control->setEnabled(true);
        } else if (s == QLatin1String("directory")) {
            act_directory->setEnabled(true);
        } else if (s == QLatin1String("log")) {
            act_log->setEnabled(true);
        } else if (s == QLatin1String("read")) {
            act_read->setEnabled(true);
        } else if (s == QLatin1String("write")) {
            act_write->setEnabled(true);
        } else if (s == QLatin1String("fixedValue")) {
            act_fixedValue->setEnabled(true);
        }
    }
}

void gui_srv::setconnA(bool connected) { act_connA->setText(connected ? tr("断开A网") : tr("连接A网")); }

void gui_srv::setconnB(bool connected) { act_connB->setText(connected ? tr("断开B网") : tr("连接B网")); }

void gui_srv::act_report_clicked() {
    dlg_rcb->SetIds(srv_id_s, obj_id_s);
    dlg_rcb->setWindowModality(Qt::ApplicationModal);
    dlg_rcb->show();
    w->out_put("tBtn_read");
}

// The log, control and setting group dialogs: one of each at a time, made on
// first use and gone when closed.
void gui_srv::act_log_clicked() {
    if (dlg_lcb == nullptr) {
        dlg_lcb = new dialog_lcb();
        dlg_lcb->setAttribute(Qt::WA_DeleteOnClose);
    }
    dlg_lcb->SetIds(srv_id_s, obj_id_s);
    dlg_lcb->setWindowModality(Qt::ApplicationModal);
    dlg_lcb->show();
    w->out_put("tBtn_read");
}

void gui_srv::act_control_clicked() {
    if (dlg_ctrl == nullptr) {
        dlg_ctrl = new dialog_ctrl();
        dlg_ctrl->setAttribute(Qt::WA_DeleteOnClose);
    }
    dlg_ctrl->SetIds(srv_id_s, obj_id_s);
    dlg_ctrl->InitCtrlInfo();
    dlg_ctrl->setWindowModality(Qt::ApplicationModal);
    dlg_ctrl->show();
    w->out_put("tBtn_read");
}

void gui_srv::act_fixedValue_clicked() {
    AI_IED_CTRL *ied = iedobj::model(srv_id_s);
    if (iedobj::sgcbOf(ied, obj_id_s) < 0) {
        w->out_put(tr("%1 没有定值控制块").arg(QString::fromLatin1(iedobj::ref(ied, obj_id_s))));
        return;
    }
    if (dlg_sg == nullptr) {
        dlg_sg = new dialog_sg();
        dlg_sg->setAttribute(Qt::WA_DeleteOnClose);
    }
    dlg_sg->SetIds(srv_id_s, obj_id_s);
    dlg_sg->setWindowModality(Qt::ApplicationModal);
    dlg_sg->show();
}

namespace {
void toggleKeep(int srv_id, AC_CHANNEL chnl) {
    if (ac_get_srvm_chnlKeepCon_ad == nullptr || ac_set_srvm_chnlKeepCon_ad == nullptr) return;
    const bool keeping = ac_get_srvm_chnlKeepCon_ad(srv_id, chnl) != 0;
    ac_set_srvm_chnlKeepCon_ad(srv_id, keeping ? 0 : 1, chnl);
}
}  // namespace

void gui_srv::act_connA_clicked() { toggleKeep(srv_id_s, AC_CHANNEL_A); }

void gui_srv::act_connB_clicked() { toggleKeep(srv_id_s, AC_CHANNEL_B); }
