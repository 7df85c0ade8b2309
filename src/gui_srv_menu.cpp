// The context menu of the object tree and the services it dispatches.
#include <QDebug>
#include <QFileDialog>
#include <QMenu>

#include "model/device_doc.h"
#include "scl/scl_writer.h"

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
    case OBJECT_TYPE_IED:
        list << "conn"
             << "directory"
             << "exportScl";
        break;
    case OBJECT_TYPE_LD:
        list << "fixedValue"
             << "directory";
        if (iedobj::lcbOf(ied, obj_id) >= 0) list << "log";
        break;
    case OBJECT_TYPE_LN:
        list << "read"
             << "write"
             << "directory";
        break;
    case OBJECT_TYPE_DS:
        list << "read"
             << "directory";
        break;
    case OBJECT_TYPE_FCN: {
        list << "read"
             << "write"
             << "directory";
        const QString text = model->itemFromIndex(index) ? model->itemFromIndex(index)->text().toLower() : QString();
        if (text == QLatin1String("rp") || text == QLatin1String("br")) list << "report";
        if (text == QLatin1String("lg") && iedobj::lcbOf(ied, obj_id) >= 0) list << "log";
        break;
    }
    case OBJECT_TYPE_FCD:
        list << "read"
             << "write"
             << "directory";
        if (iedobj::controlObject(ied, obj_id) >= 0) list << "control";
        break;
    case OBJECT_TYPE_FCDA:
        list << "read"
             << "write"
             << "directory";
        break;
    case OBJECT_TYPE_CB:
        list << "read"
             << "write"
             << "directory";
        if (iedobj::lcbOf(ied, obj_id) >= 0) list << "log";
        break;
    default: break;
    }
    SetControlState(list);
    tmenu->exec(ui.treeView->viewport()->mapToGlobal(pos));
}

void gui_srv::SetControlState(const QStringList &controllst) {
    for (QAction *a : {act_connA, act_connB, act_control, act_directory, act_fixedValue, act_log, act_read, act_write,
                       act_report, act_exportScl})
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
        } else if (s == QLatin1String("exportScl")) {
            act_exportScl->setEnabled(true);
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
        w->out_put(QStringLiteral("%1 没有定值控制块").arg(QString::fromLatin1(iedobj::ref(ied, obj_id_s))));
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

void gui_srv::act_exportScl_clicked() {
    const int srv_id = srv_id_s;
    const char *name = ac_get_srvm_name_ad ? ac_get_srvm_name_ad(srv_id) : nullptr;
    const QString srv = name ? QString::fromUtf8(name) : QString::number(srv_id);
    const QString path = QFileDialog::getSaveFileName(this, tr("导出SCL模型"), srv + QStringLiteral(".icd"),
                                                      tr("SCL文件 (*.icd *.cid *.scd)"));
    if (path.isEmpty()) return;
    QString why;
    if (ExportServerScl(srv_id, path, &why))
        out_put(QStringLiteral("服务器%1的模型已导出为SCL文件：%2").arg(srv, path));
    else
        out_put(QStringLiteral("服务器%1的模型导出失败：%2").arg(srv, why));
}

bool gui_srv::ExportServerScl(int srv_id, const QString &path, QString *why) {
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(srv_id) : nullptr;
    if (ied == nullptr || ied->num_ld == 0) {
        if (why) *why = QStringLiteral("没有模型（装置的模型在首次连接后取得）");
        return false;
    }
    const zv::model::RecordOps ops{mvl_type_ctrl_find_ad, ai_read_obj_primVals_ad, ai_cleanup_objVals_ad,
                                   ai_obj_id_to_ref_ad};
    zv::model::DeviceDesc desc;
    std::string reason;
    if (!zv::model::from_records(ied, ops, desc, reason)) {
        if (why) *why = QString::fromStdString(reason);
        return false;
    }
    zv::scl::Diagnostics diag(true);
    zv::model::CbLayouts layouts;
    auto doc = zv::model::to_document(desc, path.toStdString(), layouts, diag);
    for (const zv::scl::Diag &d : diag.items())
        qWarning().noquote() << "SCL export:" << QString::fromStdString(d.reason);
    if (!zv::scl::write_icd_file(*doc, doc->ieds.front(), path.toStdString(), reason)) {
        if (why) *why = QString::fromStdString(reason);
        return false;
    }
    return true;
}
