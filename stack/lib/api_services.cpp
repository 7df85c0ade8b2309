// Asynchronous client services.
#include "client/client.h"
#include "export.h"

namespace zc = zv::client;

ZV_EXPORT ST_RET ac_read_obj_value(ST_INT srv, AC_READ_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::read(srv, info, timeout, out, AC_CHANNEL_UNKNOWN);
}
ZV_EXPORT ST_RET ac_read_obj_value_chnl(ST_INT srv, AC_READ_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out,
                                        AC_CHANNEL ch) {
    return zc::read(srv, info, timeout, out, ch);
}
ZV_EXPORT ST_RET ac_write_obj_value(ST_INT srv, AC_WRITE_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::write(srv, info, timeout, out, AC_CHANNEL_UNKNOWN);
}
ZV_EXPORT ST_RET ac_rpt_enable(ST_INT srv, AC_ENAREPORT_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::rpt_enable(srv, info, timeout, out, AC_CHANNEL_UNKNOWN);
}
ZV_EXPORT ST_RET ac_rpt_enable_chnl(ST_INT srv, AC_ENAREPORT_INFO *info, ST_INT timeout, AC_CHANNEL ch,
                                    AC_REQ_CTRL **out) {
    return zc::rpt_enable(srv, info, timeout, out, ch);
}
ZV_EXPORT ST_RET ac_operate(ST_INT srv, AC_CTRL_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::control(srv, info, timeout, out, IEC61850_OP_OPER);
}
ZV_EXPORT ST_RET ac_select_with_val(ST_INT srv, AC_CTRL_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::control(srv, info, timeout, out, IEC61850_OP_SELVAL);
}
ZV_EXPORT ST_RET ac_get_file_attr(ST_INT srv, AC_GETFAV_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::file_dir(srv, info, timeout, out);
}
ZV_EXPORT ST_RET ac_get_file(ST_INT srv, AC_GETF_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::file_get(srv, info, timeout, out);
}
ZV_EXPORT ST_RET ac_set_file(ST_INT srv, AC_SETF_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::file_set(srv, info, timeout, out);
}
ZV_EXPORT ST_RET ac_delete_file(ST_INT srv, AC_DELF_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::file_delete(srv, info, timeout, out);
}
ZV_EXPORT ST_RET ac_query_log_by_time(ST_INT srv, AC_QLOG_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::query_log(srv, info, timeout, out, IEC61850_OP_QUERYLOGBT);
}
ZV_EXPORT ST_RET ac_query_log_after(ST_INT srv, AC_QLOG_REQ_INFO *info, ST_INT timeout, AC_REQ_CTRL **out) {
    return zc::query_log(srv, info, timeout, out, IEC61850_OP_QUERYLOGA);
}

ZV_EXPORT ST_RET ac_wait_completion(ST_INT timeout_ms) { return zc::wait_completion(timeout_ms); }

// Request controls belong to the stack and end after their completion.
ZV_EXPORT void ac_destroy_reqCtrl(AC_REQ_CTRL *) {}
