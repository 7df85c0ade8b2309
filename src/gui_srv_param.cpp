// Import of the data set members' references into rptparamindex, and clearing them.
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>

#include <cstdio>

#include "ConnectionPool.h"
#include "DataDeal.h"
#include "gui_srv.h"
#include "zv_ops.h"

namespace {

// Borrows a connection and says whether it is usable. When it is not, a
// second try tells nothing more; its connection is given back at once.
QSqlDatabase openParamConnection(gui_srv *win) {
    QSqlDatabase db = ConnectionPool::openConnection();
    if (db.isValid() && db.isOpen()) {
        win->out_put("connected!");
    } else {
        QSqlDatabase retry = ConnectionPool::openConnection();
        if (retry.isValid()) ConnectionPool::closeConnection(retry);
        win->out_put("disconnected");
    }
    return db;
}

QByteArray objectReference(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    if (ai_obj_id_to_ref_ad == nullptr) return {};
    char ref[AI_OBJ_REF_LEN] = {};
    if (ai_obj_id_to_ref_ad(ied, id, ref) != 0) return {};
    ref[AI_OBJ_REF_LEN - 1] = '\0';
    return QByteArray(ref);
}

// Appends the value leaves of one data set: a member of one primitive as it
// is, else each of its primitives except qualities and time stamps.
void collectDataSet(AI_IED_CTRL *ied, AI_DS_CTRL *ds, QVariantList *objidlst, QVariantList *reflst) {
    if (ds->mb_ids == nullptr) return;
    for (int i = 0; i < ds->mb_num; ++i) {
        AI_OBJ_ID obj = 0;
        if (!dd_resolve_member(ied, ds->mb_ids[i], &obj)) continue;
        const QByteArray ref = objectReference(ied, obj);
        AI_OBJ_VAL val{};
        if (ai_read_obj_primVals_ad == nullptr || ai_read_obj_primVals_ad(obj, ied, &val) != 0) continue;
        if (val.prim_num == 1) {
            // A reference the stack cannot give is left out rather than stored empty.
            if (!ref.isEmpty()) {
                objidlst->append(obj);
                reflst->append(QString::fromUtf8(ref));
            }
        } else if (val.prim_ids != nullptr && val.prim_vals != nullptr) {
            for (int k = 0; k < val.prim_num; ++k) {
                const AI_VAL_TYPE type = val.prim_vals[k].type;
                if (type == VAL_TYPE_QUALITY || type == VAL_TYPE_TIMESTAMP) continue;
                const QByteArray prim_ref = objectReference(ied, val.prim_ids[k]);
                if (prim_ref.isEmpty()) continue;
                objidlst->append(val.prim_ids[k]);
                reflst->append(QString::fromUtf8(prim_ref));
            }
        }
        if (ai_cleanup_objVals_ad) ai_cleanup_objVals_ad(&val);
    }
}

}  // namespace

void gui_srv::on_action_paramtodb_triggered() {
    QSqlDatabase db = openParamConnection(this);
    QSqlQuery query(db);
    QVariantList objidlst;
    QVariantList reflst;

    // Servers, their logical devices, and below those the logical nodes and
    // data sets: only the data sets are read.
    QStandardItem *root = model->invisibleRootItem();
    for (int s = 0; s < root->rowCount(); ++s) {
        QStandardItem *srv = root->child(s);
        if (srv == nullptr) continue;
        for (int l = 0; l < srv->rowCount(); ++l) {
            QStandardItem *ld = srv->child(l);
            if (ld == nullptr) continue;
            for (int n = 0; n < ld->rowCount(); ++n) {
                QStandardItem *item = ld->child(n);
                if (item == nullptr) continue;
                const int srv_id = item->data(ROLE_SRV_ID).toInt();
                const AI_OBJ_ID id = item->data(ROLE_OBJ_ID).toInt();
                AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(srv_id) : nullptr;
                if (ied == nullptr) {
                    ConnectionPool::closeConnection(db);
                    return;
                }
                AI_OBJ_IDCTRL *ctrl = ai_get_obj_id_ctrl_ad ? ai_get_obj_id_ctrl_ad(ied, id) : nullptr;
                if (ctrl == nullptr || ctrl->obj_type != OBJECT_TYPE_DS || ctrl->u.ds_idctrl.ds == nullptr) continue;
                collectDataSet(ied, ctrl->u.ds_idctrl.ds, &objidlst, &reflst);
            }
        }
    }

    query.prepare(QStringLiteral(
        "insert into rptparamindex(objid,paramindex) values(?,?) on duplicate key update objid=values(objid)"));
    query.addBindValue(objidlst, QSql::In);
    query.addBindValue(reflst, QSql::In);
    if (!query.execBatch(QSqlQuery::ValuesAsRows)) {
        const QByteArray error = query.lastError().text().toUtf8();
        out_put("61850参引入库失败!");
        out_put(error.constData());
        std::printf("on_action_paramtodb_triggered: --> %s\n", error.constData());
    } else {
        out_put("61850参引入库成功!");
    }
    ConnectionPool::closeConnection(db);
}

void gui_srv::on_action_clearparam_triggered() {
    QSqlDatabase db = openParamConnection(this);
    QSqlQuery query(db);
    const char sql[] = "delete from  rptparamindex";
    qDebug("Clear Parameter: %s", sql);
    std::printf("Clear Parameter: %s\n", sql);
    if (!query.exec(QString::fromLatin1(sql))) {
        out_put("清除61850参引失败!");
        out_put(db.lastError().text().toUtf8().constData());
    } else {
        out_put("清除61850参引成功!");
    }
    query.clear();
    ConnectionPool::closeConnection(db);
}
