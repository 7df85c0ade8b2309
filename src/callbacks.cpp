// Adapters through which the stack's callbacks reach the main window.
#include <cstdio>

#include "gui_srv.h"
#include "trace.h"
#include "zv_ops.h"

void gui_on_connectedToChnl(ST_INT srv_id, AC_CHANNEL chnl) {
    TM_TRACE_PRINTF("srv_id=%i  chnl= %i\n", srv_id, static_cast<int>(chnl));
    w->_on_connectedToChnl(srv_id, chnl);
}

void gui_on_disconnectedToChnl(ST_INT srv_id, AC_CHANNEL chnl) {
    TM_TRACE_PRINTF("gui_on_disconnectedToChnl....\n");
    w->_on_disconnectedToChnl(srv_id, chnl);
}

void gui_on_srvRefreshed(ST_INT srv_id) { w->_on_srvRefreshed(srv_id); }

void gui_on_recv_report(ST_UCHAR *RptID, ST_INT obj_num, AI_OBJ_VAL *obj_val, ST_BOOLEAN *val_chgs,
                        AC_REPORT_REASON *reasons, ST_INT srv_id) {
    w->_on_recv_report(RptID, obj_num, obj_val, val_chgs, reasons, srv_id);
}

void set_callback_function() {
    if (u_ai_c_rpt_app_ad) u_ai_c_rpt_app_ad(gui_on_recv_report);
    if (u_chnl_connect_app_ad) u_chnl_connect_app_ad(gui_on_connectedToChnl);
    if (u_chnl_disconnect_app_ad) u_chnl_disconnect_app_ad(gui_on_disconnectedToChnl);
    if (u_srv_refreshed_app_ad) u_srv_refreshed_app_ad(gui_on_srvRefreshed);
}

void gui_srv::_on_srvRefreshed(ST_INT srv_id) { emit s_srvRefreshed(srv_id); }

void gui_srv::_on_connectedToChnl(ST_INT srv_id, AC_CHANNEL chnl) { emit s_connectedToChnl(srv_id, chnl); }

void gui_srv::_on_disconnectedToChnl(ST_INT srv_id, AC_CHANNEL chnl) { emit s_disconnectedToChnl(srv_id, chnl); }

void gui_srv::_on_recv_report(ST_UCHAR *RptID, ST_INT, AI_OBJ_VAL *, ST_BOOLEAN *, AC_REPORT_REASON *, ST_INT srv_id) {
    // The identifier is at most 65 bytes in its stored form; never read past that.
    const char *id = reinterpret_cast<const char *>(RptID);
    const QString rpt = id ? QString::fromUtf8(id, static_cast<int>(qstrnlen(id, AI_OBJ_NAME_LEN))) : QString();
    qDebug().noquote() << "Receive Report RptID: " << srv_id << "_" << rpt;
}
