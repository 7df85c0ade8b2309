// Asynchronous client services.
#include "export.h"

ZV_EXPORT ST_RET ac_read_obj_value(ST_INT, AC_READ_REQ_INFO *, ST_INT, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT ST_RET ac_read_obj_value_chnl(ST_INT, AC_READ_REQ_INFO *, ST_INT, AC_REQ_CTRL **, AC_CHANNEL) { return 1; }
ZV_EXPORT ST_RET ac_write_obj_value(ST_INT, AC_WRITE_REQ_INFO *, ST_INT, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT ST_RET ac_rpt_enable(ST_INT, AC_ENAREPORT_INFO *, ST_INT, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT ST_RET ac_rpt_enable_chnl(ST_INT, AC_ENAREPORT_INFO *, ST_INT, AC_CHANNEL, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT ST_RET ac_operate(ST_INT, AC_CTRL_REQ_INFO *, ST_INT, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT ST_RET ac_select_with_val(ST_INT, AC_CTRL_REQ_INFO *, ST_INT, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT ST_RET ac_get_file_attr(ST_INT, AC_GETFAV_REQ_INFO *, ST_INT, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT ST_RET ac_get_file(ST_INT, AC_GETF_REQ_INFO *, ST_INT, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT ST_RET ac_set_file(ST_INT, AC_SETF_REQ_INFO *, ST_INT, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT ST_RET ac_delete_file(ST_INT, AC_DELF_REQ_INFO *, ST_INT, AC_REQ_CTRL **) { return 1; }
ZV_EXPORT void ac_destroy_reqCtrl(AC_REQ_CTRL *) {}
