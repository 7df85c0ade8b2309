// The object tree: servers, logical devices, logical nodes, functional
// constraints, data objects and attributes to any depth, and data sets.
#include <QHash>
#include <QIcon>
#include <QMutexLocker>
#include <QVector>

#include "gui_srv.h"
#include "zv_ops.h"

namespace {

// One shared icon per resource: a station has hundreds of thousands of items.
const QIcon &iconFor(const char *path) {
    static QHash<const char *, QIcon> icons;
    auto it = icons.find(path);
    if (it == icons.end()) it = icons.insert(path, QIcon(QString::fromLatin1(path)));
    return *it;
}

QStandardItem *newTreeItem(const char *name, const char *icon, int srv_id, AI_OBJ_ID id) {
    auto *item = new QStandardItem(QString::fromUtf8(name));
    item->setEditable(false);
    item->setIcon(iconFor(icon));
    item->setData(srv_id, ROLE_SRV_ID);
    item->setData(id, ROLE_OBJ_ID);
    return item;
}

// The children of `id` (selector 0) or the data sets of a logical device
// (selector 1), copied out of the stack's array; false when the object has
// no directory.
bool directory(AI_IED_CTRL *ied, AI_OBJ_ID id, ST_UCHAR selector, QVector<AI_OBJ_ID> &out) {
    out.clear();
    if (ai_get_obj_dir_ad == nullptr) return false;
    AI_OBJ_ID *ids = nullptr;
    ST_INT num = 0;
    if (ai_get_obj_dir_ad(ied, id, selector, &ids, &num) != 0) return false;
    if (num > 0 && ids != nullptr) out = QVector<AI_OBJ_ID>(ids, ids + num);
    return true;
}

bool nameOf(AI_IED_CTRL *ied, AI_OBJ_ID id, char (&name)[AI_OBJ_NAME_LEN]) {
    name[0] = '\0';
    if (ai_obj_id_to_name_ad == nullptr) return false;
    if (ai_obj_id_to_name_ad(ied, id, name) != 0) return false;
    name[AI_OBJ_NAME_LEN - 1] = '\0';
    return true;
}

}  // namespace

void gui_srv::InsertLD(int srv_id, QStandardItem *item_srv) {
    if (ac_get_srvm_ied_ad == nullptr) return;
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad(srv_id);
    if (ied == nullptr) return;
    QVector<AI_OBJ_ID> ids;
    if (!directory(ied, ied->cobj.id, 0, ids)) return;
    for (int i = 0; i < ids.size(); ++i) {
        char name[AI_OBJ_NAME_LEN];
        const AI_OBJ_ID id = ids[i];
        if (!nameOf(ied, id, name)) continue;
        QStandardItem *item = newTreeItem(name, ":/gui_srv/ResourceFiles/ld.bmp", srv_id, id);
        item_srv->setChild(i, 0, item);
        InsertLN(ied, id, item, srv_id);
        InsertDS(ied, id, item, srv_id);
    }
}

void gui_srv::InsertLN(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, QStandardItem *item_ld_name, int srv_id) {
    QVector<AI_OBJ_ID> ids;
    if (!directory(ied, dom_id, 0, ids)) return;
    for (int i = 0; i < ids.size(); ++i) {
        char name[AI_OBJ_NAME_LEN];
        const AI_OBJ_ID id = ids[i];
        if (!nameOf(ied, id, name)) continue;
        QStandardItem *item = newTreeItem(name, ":/gui_srv/ResourceFiles/ln.bmp", srv_id, id);
        item_ld_name->setChild(i, 0, item);
        InsertFC(ied, id, item, srv_id);
    }
}

void gui_srv::InsertFC(AI_IED_CTRL *ied, AI_OBJ_ID ln_id, QStandardItem *item_ln_name, int srv_id) {
    QVector<AI_OBJ_ID> ids;
    if (!directory(ied, ln_id, 0, ids)) return;
    for (int i = 0; i < ids.size(); ++i) {
        char name[AI_OBJ_NAME_LEN];
        const AI_OBJ_ID id = ids[i];
        if (!nameOf(ied, id, name)) continue;
        QStandardItem *item = newTreeItem(name, ":/gui_srv/ResourceFiles/fc.bmp", srv_id, id);
        item_ln_name->setChild(i, 0, item);
        InsertVA(ied, id, item, srv_id);
    }
}

void gui_srv::InsertVA(AI_IED_CTRL *ied, AI_OBJ_ID fc_id, QStandardItem *item_fc_name, int srv_id) {
    const AI_IED_CFG *cfg = nullptr;
    if (ai_get_ied_config_ad && ac_get_srvm_name_ad) {
        const char *srv_name = ac_get_srvm_name_ad(srv_id);
        if (srv_name) cfg = ai_get_ied_config_ad(srv_name);
    }
    QVector<AI_OBJ_ID> children;
    if (!directory(ied, fc_id, 0, children)) return;
    const QString parent = item_fc_name->text().toLower();
    for (int i = 0; i < children.size(); ++i) {
        char name[AI_OBJ_NAME_LEN];
        const AI_OBJ_ID id = children[i];
        if (!nameOf(ied, id, name)) continue;
        QStandardItem *item = newTreeItem(name, ":/gui_srv/ResourceFiles/va.bmp", srv_id, id);
        item_fc_name->setChild(i, 0, item);

        // Report control blocks of this client: the block's instance (the last
        // two characters of its name) is the server's channel A number. Without
        // a configuration record nothing is registered.
        if (cfg != nullptr && (parent == QLatin1String("rp") || parent == QLatin1String("br"))) {
            const int no = cfg->chnlA_NO;
            const QString inst = no > 9 ? QString::asprintf("%d", no) : QString::asprintf("0%d", no);
            const QString nm = QString::fromUtf8(name);
            if (nm.right(2).contains(inst)) {
                const QString entry = QString::number(srv_id) + "_" + QString::number(id) +
                                      (parent == QLatin1String("rp") ? "_0" : "_1") + "_false";
                QMutexLocker lock(&rptlst_mutex);
                rptlst.append(entry);
            }
        }

        QVector<AI_OBJ_ID> sub;
        if (directory(ied, id, 0, sub)) InsertVA(ied, id, item, srv_id);
    }
}

void gui_srv::InsertDS(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, QStandardItem *item_ld_name, int srv_id) {
    const int base = item_ld_name->rowCount();
    QVector<AI_OBJ_ID> ids;
    if (!directory(ied, dom_id, 1, ids)) return;
    for (int i = 0; i < ids.size(); ++i) {
        char name[AI_OBJ_NAME_LEN];
        const AI_OBJ_ID id = ids[i];
        if (!nameOf(ied, id, name)) continue;
        item_ld_name->setChild(base + i, 0, newTreeItem(name, ":/gui_srv/ResourceFiles/ds.bmp", srv_id, id));
    }
}

void gui_srv::RefillServer(int srv_id) {
    QStandardItem *item = model->item(srv_id, 0);
    if (item == nullptr || ac_get_srvm_ied_ad == nullptr) return;
    forgetBlocksOf(srv_id);
    item->removeRows(0, item->rowCount());
    m_tree_ied[srv_id] = ac_get_srvm_ied_ad(srv_id);
    InsertLD(srv_id, item);
}

void gui_srv::t_srvRefreshed(ST_INT srv_id) {
    if (ac_get_srvm_ied_ad == nullptr) return;
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad(srv_id);
    const char *name = ac_get_srvm_name_ad ? ac_get_srvm_name_ad(srv_id) : nullptr;
    const QString srv = name ? QString::fromUtf8(name) : QString::number(srv_id);
    if (ied != nullptr && m_tree_ied.value(srv_id) == ied) {
        // The same model: the device was checked against its SCL.
        const char *summary = ai_get_obj_desc_ad ? ai_get_obj_desc_ad(ied, 0, "?check") : nullptr;
        if (summary != nullptr) out_put(QStringLiteral("装置模型与SCL核对：%1").arg(QString::fromUtf8(summary)));
        return;
    }
    RefillServer(srv_id);
    out_put(QStringLiteral("已从装置取得服务器%1的模型").arg(srv));
    // Registered now, enabled now: the channel is up (the browse ran on it).
    CHNL_STATE a = CHNL_STATE_UNCONNECTED, b = CHNL_STATE_UNCONNECTED;
    AC_CHANNEL active = AC_CHANNEL_UNKNOWN;
    if (ac_get_srvm_chnlState_ad) ac_get_srvm_chnlState_ad(srv_id, &a, &b, &active);
    if (a == CHNL_STATE_CONNECTED) enableBlocksOf(srv_id);
}
