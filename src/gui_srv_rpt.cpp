// Report control blocks of this client: the receive checker that keeps them
// enabled, the enable and read-back requests, and the channel state slots.
//
// rptlst entries are "srv_id_objid_buffered_state"; every read or rewrite of
// the list happens under rptlst_mutex, and no stack request is made while it
// is held (completion functions take it on the stack's threads).
#include <QDebug>
#include <QIcon>
#include <QMutexLocker>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gui_srv.h"
#include "zv_ops.h"

int check_receive_pass_us = 20000;

namespace {

struct RptEntry {
    int srv_id = 0;
    int objid = 0;
    int flag = 0;
    QString state;
};

RptEntry parseEntry(const QString &entry) {
    const QStringList f = entry.split('_');
    RptEntry e;
    e.srv_id = f.value(0).toInt();
    e.objid = f.value(1).toInt();
    e.flag = f.value(2).toInt();
    e.state = f.value(3);
    return e;
}

QString makeEntry(int srv_id, int objid, int flag, const QString &state) {
    return QString::number(srv_id) + "_" + QString::number(objid) + "_" + QString::number(flag) + "_" + state;
}

// Rewrites field 3 of every entry of block `objid` of server `srv_id`.
void setBlockState(int srv_id, int objid, const QString &state) {
    QMutexLocker lock(&rptlst_mutex);
    for (int i = 0; i < rptlst.size(); ++i) {
        const RptEntry e = parseEntry(rptlst.at(i));
        if (e.srv_id == srv_id && e.objid == objid) rptlst[i] = makeEntry(e.srv_id, e.objid, e.flag, state);
    }
}

// Position `pos` as it stands now, or false when the list is shorter.
bool entryAt(int pos, RptEntry *e, QString *raw = nullptr) {
    QMutexLocker lock(&rptlst_mutex);
    if (pos >= rptlst.size()) return false;
    *e = parseEntry(rptlst.at(pos));
    if (raw) *raw = rptlst.at(pos);
    return true;
}

// The entries of one server, copied so that requests go out without the lock.
QVector<RptEntry> entriesOf(int srv_id) {
    QVector<RptEntry> out;
    QMutexLocker lock(&rptlst_mutex);
    for (const QString &s : rptlst) {
        const RptEntry e = parseEntry(s);
        if (e.srv_id == srv_id) out.append(e);
    }
    return out;
}

int passPeriodUs() {
    const char *env = std::getenv("TARNMON_CHECK_PASS_US");
    if (env != nullptr) {
        const int v = std::atoi(env);
        if (v > 0) return v;
    }
    return check_receive_pass_us;
}

}  // namespace

void *check_receive(void *) {
    int rptcount = 0;
    const int pass_us = passPeriodUs();
    while (doIt) {
        CHNL_STATE a = CHNL_STATE_UNCONNECTED;
        CHNL_STATE b = CHNL_STATE_UNCONNECTED;
        AC_CHANNEL active = AC_CHANNEL_UNKNOWN;
        if (ac_srv_state_handle_ad) ac_srv_state_handle_ad();
        if (ai_comm_serve_ad) ai_comm_serve_ad();

        // The length is read again for every position: entries appended while
        // the checker runs are taken in the same pass.
        for (int pos = 0;; ++pos) {
            RptEntry e;
            QString raw;
            if (!entryAt(pos, &e, &raw)) break;
            if (ac_get_srvm_chnlState_ad) ac_get_srvm_chnlState_ad(e.srv_id, &a, &b, &active);
            if (ac_set_srvm_chnlKeepCon_ad) ac_set_srvm_chnlKeepCon_ad(e.srv_id, 1, AC_CHANNEL_A);
            if (a == CHNL_STATE_CONNECTED) {
                if (rptcount == 2000 && e.state.contains("false")) rpt_enable(pos, e.srv_id, e.objid, e.flag);
                if (rptcount == 1500) getRcbValues(e.srv_id, e.objid, e.flag);
            } else if (e.state.contains("true")) {
                QMutexLocker lock(&rptlst_mutex);
                if (pos < rptlst.size()) {
                    const RptEntry now = parseEntry(rptlst.at(pos));
                    if (now.state.contains("true")) rptlst[pos] = makeEntry(now.srv_id, now.objid, now.flag, "false");
                }
            }
            if (rptcount == 1000) qDebug().noquote() << raw;
        }
        rptcount = rptcount == 2000 ? 0 : rptcount + 1;
        usleep(static_cast<useconds_t>(pass_us));
    }
    return nullptr;
}

void rpt_enable(int, int srv_id, int objid, int flag) {
    if (ac_get_srvm_ied_ad == nullptr || ai_read_obj_primVals_ad == nullptr) return;
    AI_IED_CTRL *model = ac_get_srvm_ied_ad(srv_id);
    AI_OBJ_VAL values;
    std::memset(&values, 0, sizeof values);
    if (ai_read_obj_primVals_ad(objid, model, &values) != 0) return;
    // OptFlds is component 4 of a buffered and 5 of an unbuffered block; a
    // block read with fewer components gets no request.
    const int comp = flag != 0 ? 4 : 5;
    if (values.prim_num > comp && values.prim_vals != nullptr && values.prim_vals[comp].data != nullptr &&
        values.prim_vals[comp].size >= 4) {
        quint16 optflds;
        std::memcpy(&optflds, static_cast<const char *>(values.prim_vals[comp].data) + 2, sizeof optflds);
        AC_ENAREPORT_INFO req;
        std::memset(&req, 0, sizeof req);
        req.rcb_id = objid;
        req.OptFlds = optflds;
        req.TrgOps = 0x4C;
        req.IntgPd = 300000;
        req.rptEna = 1;
        req.u_rpt_done = _demo_parse_enaRpt_done;
        AC_REQ_CTRL *reqctl = nullptr;
        if (ac_rpt_enable_ad) ac_rpt_enable_ad(srv_id, &req, 30, &reqctl);
    }
    if (ai_cleanup_objVals_ad) ai_cleanup_objVals_ad(&values);
}

void _demo_parse_enaRpt_done(AC_REQ_CTRL *ac_reqCtrl) {
    if (ac_reqCtrl == nullptr) return;
    const int objid = ac_reqCtrl->u.enaRptCtrl.rcb_id;
    const int srv_id = ac_reqCtrl->srv_id;
    const bool ok = ac_reqCtrl->result == 0;
    qDebug().noquote() << "报告控制块" << srv_id << objid << (ok ? "使能成功!!!" : "使能失败!!!");
    setBlockState(srv_id, objid, ok ? "true" : "false");
}

void getRcbValues(int srv_id, int objid, int flag) {
    if (objid == -1 || ac_read_obj_value_ad == nullptr) return;
    AI_OBJ_ID ids[1] = {objid};
    AC_READ_REQ_INFO info;
    info.obj_ids = ids;
    info.num_obj = 1;
    info.u_read_done = flag != 0 ? getbrcb_req_done : geturcb_req_done;
    ac_read_obj_value_ad(srv_id, &info, 15, nullptr);
}

namespace {
void rcbReadDone(AC_REQ_CTRL *req_ctrl, const char *failure) {
    if (req_ctrl == nullptr || req_ctrl->u.rdCtrl.obj_ids == nullptr || req_ctrl->u.rdCtrl.num_obj < 1) return;
    const AI_OBJ_ID id = req_ctrl->u.rdCtrl.obj_ids[0];
    if (req_ctrl->result != 0) {
        qDebug() << failure;
        return;
    }
    GetRcbEnaValue(req_ctrl->srv_id, id);
}
}  // namespace

void getbrcb_req_done(AC_REQ_CTRL *req_ctrl) { rcbReadDone(req_ctrl, "a_ai_get_rcb_values failure!!!"); }

void geturcb_req_done(AC_REQ_CTRL *req_ctrl) { rcbReadDone(req_ctrl, "a_ai_get_urcb_values failure!!!"); }

void GetRcbEnaValue(int srv_id, int id) {
    if (ac_get_srvm_ied_ad == nullptr || ai_read_obj_primVals_ad == nullptr) return;
    AI_IED_CTRL *model = ac_get_srvm_ied_ad(srv_id);
    if (model == nullptr) return;
    AI_OBJ_VAL values;
    std::memset(&values, 0, sizeof values);
    if (ai_read_obj_primVals_ad(id, model, &values) != 0) return;
    // RptEna is component 1 of both kinds of block.
    if (values.prim_num > 1 && values.prim_vals != nullptr && ai_prim_value_to_str_ad != nullptr) {
        char text[513];
        std::memset(text, 0, sizeof text);
        ai_prim_value_to_str_ad(values.prim_vals[1].type, values.prim_vals[1].data, text);
        text[512] = '\0';
        setBlockState(srv_id, values.obj_id, QString::fromUtf8(text).left(5));
    }
    if (ai_cleanup_objVals_ad) ai_cleanup_objVals_ad(&values);
}

void enableBlocksOf(int srv_id) {
    for (const RptEntry &e : entriesOf(srv_id)) rpt_enable(0, e.srv_id, e.objid, e.flag);
}

void forgetBlocksOf(int srv_id) {
    QMutexLocker lock(&rptlst_mutex);
    for (int i = rptlst.size() - 1; i >= 0; --i)
        if (parseEntry(rptlst.at(i)).srv_id == srv_id) rptlst.removeAt(i);
}

void gui_srv::t_connectedToChnl(ST_INT srv_id, AC_CHANNEL chnl) {
    if (QStandardItem *item = model->item(srv_id, 0)) item->setIcon(QIcon(":/gui_srv/ResourceFiles/srv1.gif"));
    std::snprintf(log_str, sizeof log_str, "connected to srv:%d, chnl:%d", srv_id, static_cast<int>(chnl));
    // Every block of the server is enabled again, whatever its state says.
    for (const RptEntry &e : entriesOf(srv_id)) rpt_enable(0, e.srv_id, e.objid, e.flag);
    out_put(log_str);
}

void gui_srv::t_disconnectedToChnl(ST_INT srv_id, AC_CHANNEL chnl) {
    if (QStandardItem *item = model->item(srv_id, 0)) item->setIcon(QIcon(":/gui_srv/ResourceFiles/srv.bmp"));
    std::snprintf(log_str, sizeof log_str, "disconnected to srv:%d, chnl:%d", srv_id, static_cast<int>(chnl));
    {
        QMutexLocker lock(&rptlst_mutex);
        for (int i = 0; i < rptlst.size(); ++i) {
            const RptEntry e = parseEntry(rptlst.at(i));
            if (e.srv_id == srv_id && e.state.contains("true"))
                rptlst[i] = makeEntry(e.srv_id, e.objid, e.flag, "false");
        }
    }
    out_put(log_str);
}
