// The value table: one fill per kind of clicked tree item, and the read,
// write and directory services of the context menu.
#include <QVector>

#include <cstring>

#include "DataDeal.h"
#include "gui_srv.h"
#include "zv_ops.h"

namespace {

// Working buffers: names 65, references 130, value texts 513, type texts 21.
constexpr int kTypeTextLen = 21;

QString idRef(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    char ref[AI_OBJ_REF_LEN] = {0};
    if (ai_obj_id_to_ref_ad == nullptr || ai_obj_id_to_ref_ad(ied, id, ref) != 0) return QString();
    ref[AI_OBJ_REF_LEN - 1] = '\0';
    return QString::fromUtf8(ref);
}

QString idName(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    char name[AI_OBJ_NAME_LEN] = {0};
    if (ai_obj_id_to_name_ad == nullptr || ai_obj_id_to_name_ad(ied, id, name) != 0) return QString();
    name[AI_OBJ_NAME_LEN - 1] = '\0';
    return QString::fromUtf8(name);
}

QString desc(AI_IED_CTRL *ied, AI_OBJ_ID id, const char *sub) {
    if (ai_get_obj_desc_ad == nullptr) return QString();
    const char *d = ai_get_obj_desc_ad(ied, id, sub);
    return d ? QString::fromUtf8(d) : QString();
}

QString typeText(AI_VAL_TYPE type) {
    // The stack writes at most AI_VALUE_TEXT_LEN bytes; the shown part is the
    // first 20 characters.
    char text[AI_VALUE_TEXT_LEN] = {0};
    if (ai_type_to_str_ad == nullptr) return QString();
    ai_type_to_str_ad(type, text);
    text[kTypeTextLen - 1] = '\0';
    return QString::fromUtf8(text);
}

// The value's text; `ok` tells whether the conversion returned 0.
QString valueText(const AI_PRIM_VAL &v, bool *ok) {
    char text[AI_VALUE_TEXT_LEN] = {0};
    *ok = false;
    if (ai_prim_value_to_str_ad == nullptr) return QString();
    *ok = ai_prim_value_to_str_ad(v.type, v.data, text) == 0;
    text[AI_VALUE_TEXT_LEN - 1] = '\0';
    return QString::fromUtf8(text);
}

bool directory(AI_IED_CTRL *ied, AI_OBJ_ID id, QVector<AI_OBJ_ID> &out, ST_INT *count = nullptr) {
    out.clear();
    AI_OBJ_ID *ids = nullptr;
    ST_INT num = 0;
    const bool ok = ai_get_obj_dir_ad && ai_get_obj_dir_ad(ied, id, 0, &ids, &num) == 0;
    if (count) *count = num;
    if (ok && num > 0 && ids) out = QVector<AI_OBJ_ID>(ids, ids + num);
    return ok;
}

bool readValues(AI_IED_CTRL *ied, AI_OBJ_ID id, AI_OBJ_VAL *val) {
    std::memset(val, 0, sizeof *val);
    return ai_read_obj_primVals_ad && ai_read_obj_primVals_ad(id, ied, val) == 0;
}

void cleanup(AI_OBJ_VAL *val) {
    if (ai_cleanup_objVals_ad) ai_cleanup_objVals_ad(val);
}

AI_OBJ_IDCTRL *idCtrl(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    return ai_get_obj_id_ctrl_ad ? ai_get_obj_id_ctrl_ad(ied, id) : nullptr;
}

AI_IED_CTRL *iedOf(int srv_id) { return ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(srv_id) : nullptr; }

}  // namespace

void gui_srv::tb_recreatecolumn() {
    tbmodel->clear();
    const char *headers[] = {QT_TR_NOOP("ID"), QT_TR_NOOP("路径"), QT_TR_NOOP("名称"), QT_TR_NOOP("描述")};
    const int widths[] = {50, 400, 150, 250};
    for (int c = 0; c < 4; ++c) {
        tbmodel->setHorizontalHeaderItem(c, new QStandardItem(tr(headers[c])));
        ui.tableView->setColumnWidth(c, widths[c]);
    }
}

void gui_srv::tb_recreatecolumn_data() {
    tbmodel->clear();
    const char *headers[] = {QT_TR_NOOP("ID"),   QT_TR_NOOP("路径"), QT_TR_NOOP("名称"),
                             QT_TR_NOOP("类型"), QT_TR_NOOP("数值"), QT_TR_NOOP("描述")};
    const int widths[] = {50, 400, 150, 80, 80, 250};
    for (int c = 0; c < 6; ++c) {
        tbmodel->setHorizontalHeaderItem(c, new QStandardItem(tr(headers[c])));
        ui.tableView->setColumnWidth(c, widths[c]);
    }
}

void gui_srv::treeViewclicked(QModelIndex qmindex) {
    if (!qmindex.isValid()) return;
    const int srv_id = qmindex.data(ROLE_SRV_ID).toInt();
    tb_srv_id = srv_id;
    AI_IED_CTRL *ied = iedOf(srv_id);
    const QVariant obj = qmindex.data(ROLE_OBJ_ID);
    if (!obj.isValid()) {
        LoadLD(srv_id, 0);
        return;
    }
    const AI_OBJ_ID obj_id = obj.toInt();
    const AI_OBJ_TYPE type = ai_get_obj_type_ad ? ai_get_obj_type_ad(ied, obj_id) : OBJECT_TYPE_UNKNOWN;
    switch (type) {
    case OBJECT_TYPE_LD: LoadLN(srv_id, obj_id); break;
    case OBJECT_TYPE_LN: LoadFC(srv_id, obj_id); break;
    case OBJECT_TYPE_DS: LoadDS(srv_id, obj_id); break;
    case OBJECT_TYPE_FCN: LoadVA(srv_id, obj_id); break;
    case OBJECT_TYPE_FCD:
    case OBJECT_TYPE_FCDA:
    case OBJECT_TYPE_CB: LoadSubVA(srv_id, obj_id); break;
    default: break;
    }
}

void gui_srv::LoadLD(int srv_id, AI_OBJ_ID) {
    tb_recreatecolumn();
    AI_IED_CTRL *ied = iedOf(srv_id);
    if (ied == nullptr) return;
    ui.tableView->setColumnWidth(0, 300);
    int row = 0;
    if (ied->ld_tbl != nullptr) {
        for (int i = 0; i < ied->num_ld; ++i, ++row) {
            const AI_LD_CTRL *ld = ied->ld_tbl[i];
            if (ld == nullptr) continue;
            const AI_OBJ_ID id = ld->cobj.id;
            tbmodel->setItem(row, 0, new QStandardItem(QString::number(id)));
            tbmodel->setItem(row, 1, new QStandardItem(idRef(ied, id)));
            tbmodel->setItem(row, 2,
                             new QStandardItem(
                                 QString::fromUtf8(ld->cobj.name, qstrnlen(ld->cobj.name, AI_OBJ_NAME_LEN))));
            tbmodel->setItem(row, 3, new QStandardItem(desc(ied, id, nullptr)));
        }
    }
    const char *srv_name = ac_get_srvm_name_ad ? ac_get_srvm_name_ad(srv_id) : nullptr;
    const struct {
        QString text;
        int count;
        bool has_count;
    } stats[] = {
        {QString(), 0, false},
        {tr("%1内对象数目统计").arg(QString::fromUtf8(srv_name ? srv_name : "")), 0, false},
        {tr("LD对象数："), ai_get_ld_num_ad ? ai_get_ld_num_ad(ied) : 0, true},
        {tr("LN对象数："), ai_get_ln_num_ad ? ai_get_ln_num_ad(ied) : 0, true},
        {tr("DS对象数："), ai_get_ds_num_ad ? ai_get_ds_num_ad(ied) : 0, true},
        {tr("VMD内对象总数："), ai_get_ied_obj_num_ad ? ai_get_ied_obj_num_ad(ied) : 0, true},
    };
    for (const auto &s : stats) {
        tbmodel->setItem(row, 0, new QStandardItem(s.text));
        if (s.has_count) tbmodel->setItem(row, 1, new QStandardItem(QString::number(s.count)));
        ++row;
    }
}

void gui_srv::LoadLN(int srv_id, AI_OBJ_ID obj_id) {
    tb_recreatecolumn();
    AI_IED_CTRL *ied = iedOf(srv_id);
    if (ied == nullptr) return;
    AI_OBJ_IDCTRL *ctrl = idCtrl(ied, obj_id);
    if (ctrl == nullptr || ctrl->u.ld_idctrl.ld == nullptr) return;
    const AI_LD_CTRL *ld = ctrl->u.ld_idctrl.ld;
    if (ld->ln_tbl == nullptr) return;
    for (int i = 0; i < ld->num_ln; ++i) {
        const AI_LN_CTRL *ln = ld->ln_tbl[i];
        if (ln == nullptr) continue;
        const AI_OBJ_ID id = ln->cobj.id;
        tbmodel->setItem(i, 0, new QStandardItem(QString::number(id)));
        tbmodel->setItem(i, 1, new QStandardItem(idRef(ied, id)));
        tbmodel->setItem(i, 2,
                         new QStandardItem(QString::fromUtf8(ln->cobj.name, qstrnlen(ln->cobj.name, AI_OBJ_NAME_LEN))));
        tbmodel->setItem(i, 3, new QStandardItem(desc(ied, id, nullptr)));
    }
}

void gui_srv::LoadFC(int srv_id, AI_OBJ_ID obj_id) {
    tb_recreatecolumn();
    AI_IED_CTRL *ied = iedOf(srv_id);
    if (ied == nullptr) return;
    AI_OBJ_IDCTRL *ctrl = idCtrl(ied, obj_id);
    if (ctrl == nullptr || ctrl->u.ln_idctrl.ln == nullptr) return;
    QVector<AI_OBJ_ID> ids;
    if (!directory(ied, ctrl->u.ln_idctrl.ln->cobj.id, ids)) return;
    for (int i = 0; i < ids.size(); ++i) {
        tbmodel->setItem(i, 0, new QStandardItem(QString::number(ids[i])));
        tbmodel->setItem(i, 1, new QStandardItem(idRef(ied, ids[i])));
        tbmodel->setItem(i, 2, new QStandardItem(idName(ied, ids[i])));
        tbmodel->setItem(i, 3, new QStandardItem(desc(ied, ids[i], nullptr)));
    }
}

void gui_srv::LoadVA(int srv_id, AI_OBJ_ID obj_id) {
    tb_recreatecolumn();
    AI_IED_CTRL *ied = iedOf(srv_id);
    if (ied == nullptr) return;
    if (idCtrl(ied, obj_id) == nullptr) return;
    QVector<AI_OBJ_ID> ids;
    if (!directory(ied, obj_id, ids)) return;
    for (int i = 0; i < ids.size(); ++i) {
        const QString name = idName(ied, ids[i]);
        tbmodel->setItem(i, 0, new QStandardItem(QString::number(ids[i])));
        tbmodel->setItem(i, 1, new QStandardItem(idRef(ied, ids[i])));
        tbmodel->setItem(i, 2, new QStandardItem(name));
        // The description of a data object lives with its logical node.
        const AI_OBJ_ID ln = ai_find_obj_parent_ad ? ai_find_obj_parent_ad(ied, ai_find_obj_parent_ad(ied, ids[i]))
                                                   : AI_OBJ_ID_NONE;
        tbmodel->setItem(i, 3, new QStandardItem(desc(ied, ln, name.toUtf8().constData())));
    }
}

void gui_srv::LoadSubVA(int srv_id, AI_OBJ_ID obj_id) {
    tb_recreatecolumn_data();
    AI_IED_CTRL *ied = iedOf(srv_id);
    if (ied == nullptr) return;
    if (idCtrl(ied, obj_id) == nullptr) return;
    QVector<AI_OBJ_ID> ids;
    ST_INT count = 0;
    const bool ok = directory(ied, obj_id, ids, &count);
    const QString self = idName(ied, obj_id);
    auto fillValue = [&](int row, const AI_OBJ_VAL &val) {
        if (val.prim_num != 1 || val.prim_vals == nullptr) return;
        const AI_PRIM_VAL &p = val.prim_vals[0];
        tbmodel->setItem(row, 3, new QStandardItem(typeText(p.type)));
        bool converted;
        const QString text = valueText(p, &converted);
        if (converted || p.type == VAL_TYPE_UNISTRING255) tbmodel->setItem(row, 4, new QStandardItem(text));
    };
    if (!ok) {
        if (count != 0) return;
        // A leaf: one row for the object itself.
        tbmodel->setItem(0, 0, new QStandardItem(QString::number(obj_id)));
        tbmodel->setItem(0, 1, new QStandardItem(idRef(ied, obj_id)));
        tbmodel->setItem(0, 2, new QStandardItem(self));
        AI_OBJ_VAL val;
        if (!readValues(ied, obj_id, &val)) return;
        fillValue(0, val);
        cleanup(&val);
        return;
    }
    for (int i = 0; i < ids.size(); ++i) {
        const QString name = idName(ied, ids[i]);
        tbmodel->setItem(i, 0, new QStandardItem(QString::number(ids[i])));
        tbmodel->setItem(i, 1, new QStandardItem(idRef(ied, ids[i])));
        tbmodel->setItem(i, 2, new QStandardItem(name));
        AI_OBJ_ID p = ids[i];
        for (int up = 0; up < 3 && ai_find_obj_parent_ad; ++up) p = ai_find_obj_parent_ad(ied, p);
        const QString key = self + "$" + name;
        tbmodel->setItem(i, 5, new QStandardItem(desc(ied, p, key.toUtf8().constData())));
        AI_OBJ_VAL val;
        if (!readValues(ied, ids[i], &val)) continue;
        fillValue(i, val);
        cleanup(&val);
    }
}

void gui_srv::LoadDS(int srv_id, AI_OBJ_ID ds_id) {
    tb_recreatecolumn_data();
    if (ds_id == 0) return;
    AI_IED_CTRL *ied = iedOf(srv_id);
    if (ied == nullptr) return;
    AI_OBJ_IDCTRL *ctrl = idCtrl(ied, ds_id);
    if (ctrl == nullptr || ctrl->u.ds_idctrl.ds == nullptr) return;
    const AI_DS_CTRL *ds = ctrl->u.ds_idctrl.ds;
    if (ds->mb_ids == nullptr) return;
    int row = 0;
    for (int m = 0; m < ds->mb_num; ++m) {
        AI_OBJ_ID obj;
        if (!dd_resolve_member(ied, ds->mb_ids[m], &obj)) continue;
        tbmodel->setItem(row, 0, new QStandardItem(QString::number(obj)));
        tbmodel->setItem(row, 1, new QStandardItem(idRef(ied, obj)));
        tbmodel->setItem(row, 2, new QStandardItem(idName(ied, obj)));
        AI_OBJ_VAL val;
        if (!readValues(ied, obj, &val)) {
            ++row;
            continue;
        }
        bool converted;
        if (val.prim_num == 1 && val.prim_vals) {
            tbmodel->setItem(row, 3, new QStandardItem(typeText(val.prim_vals[0].type)));
            tbmodel->setItem(row, 4, new QStandardItem(valueText(val.prim_vals[0], &converted)));
        } else {
            tbmodel->setItem(row, 3, new QStandardItem(QStringLiteral("complex")));
            for (int j = 0; j < val.prim_num && val.prim_vals && val.prim_ids; ++j) {
                ++row;
                const AI_OBJ_ID pid = val.prim_ids[j];
                tbmodel->setItem(row, 0, new QStandardItem(QString::number(pid)));
                tbmodel->setItem(row, 1, new QStandardItem(idRef(ied, pid)));
                tbmodel->setItem(row, 2, new QStandardItem(idName(ied, pid)));
                tbmodel->setItem(row, 3, new QStandardItem(typeText(val.prim_vals[j].type)));
                tbmodel->setItem(row, 4, new QStandardItem(valueText(val.prim_vals[j], &converted)));
            }
        }
        cleanup(&val);
        ++row;
    }
}

namespace {
void gui_on_read_req(AC_REQ_CTRL *req_ctrl) { w->_on_read_req(req_ctrl); }
}  // namespace

void gui_srv::act_read_clicked() {
    if (ac_read_obj_value_ad == nullptr) return;
    AI_OBJ_ID ids[1] = {obj_id_s};
    AC_READ_REQ_INFO info;
    info.obj_ids = ids;
    info.num_obj = 1;
    info.u_read_done = gui_on_read_req;
    if (ac_read_obj_value_ad(srv_id_s, &info, 15, nullptr) == 0) w->out_put("读服务加入队列成功");
}

void gui_srv::_on_read_req(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
    AI_IED_CTRL *ied = iedOf(req_ctrl->srv_id);
    // Any non-zero result is a failure, not only 1.
    if (req_ctrl->result != 0) {
        w->out_put("读服务返回失败！");
        return;
    }
    const AC_READ_REQ_CTRL &rd = req_ctrl->u.rdCtrl;
    if (rd.obj_ids == nullptr || rd.obj_vals == nullptr || rd.results == nullptr) return;
    for (int i = 0; i < rd.num_obj; ++i) {
        if (rd.results[i] != 0) {
            w->out_put(QString::fromUtf8("读服务返回失败！ref = %1").arg(idRef(ied, rd.obj_ids[i])));
            continue;
        }
        const AI_OBJ_VAL &v = rd.obj_vals[i];
        for (int j = 0; j < v.prim_num && v.prim_vals && v.prim_ids; ++j) {
            const AI_PRIM_VAL &p = v.prim_vals[j];
            bool converted;
            const QString value = valueText(p, &converted);
            // One line per primitive, at most 641 bytes as the pane has always shown.
            QByteArray line = (idRef(ied, v.prim_ids[j]) + ", val = " + value + ", type = " + typeText(p.type) +
                               QString::fromUtf8(", len = %1！").arg(p.size))
                                  .toUtf8();
            if (line.size() > 641) line.truncate(641);
            w->out_put(QString::fromUtf8(line));
        }
    }
}

void gui_srv::act_write_clicked() { w->out_put("tBtn_read"); }

void gui_srv::act_directory_clicked() {}

void gui_srv::_on_dir_req(AC_REQ_CTRL *) {}
