/*
 * The operations exported by libzorvan_ld.so.
 *
 * The library exports exactly these C functions and nothing else.
 * Applications do not link against the library: they load it with dlopen and
 * look each operation up by name (ZORVAN_OPERATIONS lists the names in lookup
 * order); the prototypes below give the pointer types through decltype.
 *
 * Conventions: integer results are 0 on success and non-zero on failure.
 * The four-argument requests (srv, request record, time-out in seconds,
 * optional out-pointer for the request control) return 0 when the request was
 * queued; the outcome then arrives exactly once through the record's
 * completion function, on a stack thread (or on a thread waiting in
 * ac_wait_completion), never inside the request call.
 */
#ifndef ZORVAN_API_H
#define ZORVAN_API_H

#include "ai_types.h"
#include "ac_req.h"

#ifdef __cplusplus
extern "C" {
#endif

/* environment */
ST_RET ai_init_envir(const char *cfg);
ST_RET ac_init_srvm(void);
void ai_comm_serve(void);
void ac_srv_state_handle(void);
ST_RET gs_start_thread(GS_THREAD_FUN fn, void *arg, ST_THREAD_HANDLE *handle, ST_THREAD_ID *id);
ST_RET gs_close_thread(ST_THREAD_HANDLE handle);
ST_RET ai_uninit_envir(void);

/* servers */
ST_INT ac_get_srvm_num(void);
char *ac_get_srvm_name(ST_INT srv);
AI_IED_CTRL *ac_get_srvm_ied(ST_INT srv);
ST_INT ac_get_srvm_srvId(const char *name);
ST_UCHAR ac_set_srvm_chnlKeepCon(ST_INT srv, ST_UCHAR keep, AC_CHANNEL chnl);
ST_UCHAR ac_get_srvm_chnlKeepCon(ST_INT srv, AC_CHANNEL chnl);
ST_RET ac_get_srvm_chnlState(ST_INT srv, CHNL_STATE *state_a, CHNL_STATE *state_b, AC_CHANNEL *active);
AI_IED_CFG *ai_get_ied_config(const char *ied_name);

/* model */
AI_OBJ_ID ai_obj_ref_to_id(AI_IED_CTRL *model, const char *ref);
ST_RET ai_obj_id_to_ref(AI_IED_CTRL *model, AI_OBJ_ID id, char *ref_out /* AI_OBJ_REF_LEN */);
ST_RET ai_obj_id_to_name(AI_IED_CTRL *model, AI_OBJ_ID id, char *name_out /* AI_OBJ_NAME_LEN */);
ST_RET ai_get_obj_dir(AI_IED_CTRL *model, AI_OBJ_ID id, ST_UCHAR selector, AI_OBJ_ID **ids_out, ST_INT *num_out);
AI_OBJ_IDCTRL *ai_get_obj_id_ctrl(AI_IED_CTRL *model, AI_OBJ_ID id);
char *ai_get_obj_desc(AI_IED_CTRL *model, ST_INT id, const char *sub_name);
AI_OBJ_TYPE ai_get_obj_type(AI_IED_CTRL *model, AI_OBJ_ID id);
AI_OBJ_ID ai_find_obj_parent(AI_IED_CTRL *model, AI_OBJ_ID id);
ST_INT ai_get_ld_num(AI_IED_CTRL *model);
ST_INT ai_get_ln_num(AI_IED_CTRL *model);
ST_INT ai_get_ds_num(AI_IED_CTRL *model);
ST_INT ai_get_ied_obj_num(AI_IED_CTRL *model);
MVL_TYPE_CTRL *mvl_type_ctrl_find(ST_INT type_id);

/* values */
ST_RET ai_read_obj_primVals(AI_OBJ_ID id, AI_IED_CTRL *model, AI_OBJ_VAL *vals_out);
void ai_cleanup_objVals(AI_OBJ_VAL *vals);
ST_RET ai_prim_value_to_str(AI_VAL_TYPE type, void *data, char *text_out /* AI_VALUE_TEXT_LEN */);
ST_RET ai_prim_str_to_value(AI_VAL_TYPE type, const char *text, void *data_out);
ST_RET ai_type_to_str(AI_VAL_TYPE type, char *text_out);
ST_RET UtcStringToVals(const char *text, ST_UINT32 *secs, ST_UINT32 *fraction, ST_UINT32 *qflags);
ST_RET UtcValsToString(char *text_out, ST_UINT32 secs, ST_UINT32 fraction, ST_UINT32 qflags);
ST_RET _convert_str_to_val_timestamp(const char *text, TimeStamp_TDEF *ts_out);
void get_system_curtime(TimeStamp_TDEF *ts_out);

/* services */
ST_RET ac_read_obj_value(ST_INT srv, AC_READ_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
ST_RET ac_read_obj_value_chnl(ST_INT srv, AC_READ_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out,
                              AC_CHANNEL chnl);
ST_RET ac_write_obj_value(ST_INT srv, AC_WRITE_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
ST_RET ac_rpt_enable(ST_INT srv, AC_ENAREPORT_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
ST_RET ac_rpt_enable_chnl(ST_INT srv, AC_ENAREPORT_INFO *req, ST_INT timeout, AC_CHANNEL chnl,
                          AC_REQ_CTRL **reqctl_out);
ST_RET ac_operate(ST_INT srv, AC_CTRL_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
ST_RET ac_select_with_val(ST_INT srv, AC_CTRL_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
ST_RET ac_get_file_attr(ST_INT srv, AC_GETFAV_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
ST_RET ac_get_file(ST_INT srv, AC_GETF_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
ST_RET ac_set_file(ST_INT srv, AC_SETF_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
ST_RET ac_delete_file(ST_INT srv, AC_DELF_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
void ac_destroy_reqCtrl(AC_REQ_CTRL *req_ctrl);
/* Log queries through MMS ReadJournal (IEC 61850-8-1 17.3.3); op
 * IEC61850_OP_QUERYLOGBT and IEC61850_OP_QUERYLOGA. */
ST_RET ac_query_log_by_time(ST_INT srv, AC_QLOG_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
ST_RET ac_query_log_after(ST_INT srv, AC_QLOG_REQ_INFO *req, ST_INT timeout, AC_REQ_CTRL **reqctl_out);
/* Waits until the completions of every request the calling thread submitted
 * have run, at most timeout_ms milliseconds; 0 when none is left (at once if
 * none was pending), non-zero on time-out. While the thread waits it does the stack's network work itself when that
 * is free: the completions due meanwhile (its own and others', reports and
 * channel callbacks too, in their order) may run on it. Not from inside a
 * completion or callback (returns non-zero at once). */
ST_RET ac_wait_completion(ST_INT timeout_ms);

/* callbacks and logging */
ST_RET u_ai_c_rpt_app(U_AI_C_RPT_FUN fn);
ST_RET u_chnl_connect_app(U_CHNL_FUN fn);
ST_RET u_chnl_disconnect_app(U_CHNL_FUN fn);
ST_RET u_srv_refreshed_app(U_SRV_REFRESHED_FUN fn);
void user_log_put(const char *text);

/* Size of the text buffers that ai_prim_value_to_str and ai_type_to_str fill,
 * NUL included; callers pass at least this much. */
#define AI_VALUE_TEXT_LEN 513

#ifdef __cplusplus
}
#endif

/* Every exported operation, in the order the application looks them up. */
#define ZORVAN_OPERATIONS(X) \
    X(ai_init_envir) X(ac_init_srvm) X(ai_comm_serve) X(gs_start_thread) X(ac_get_srvm_num) \
    X(ac_get_srvm_name) X(ac_srv_state_handle) X(ac_get_srvm_ied) X(ac_get_srvm_srvId) \
    X(ai_obj_ref_to_id) X(ai_read_obj_primVals) X(ai_cleanup_objVals) X(get_system_curtime) \
    X(ai_get_obj_dir) X(ai_obj_id_to_name) X(ac_operate) X(ac_rpt_enable_chnl) X(ac_select_with_val) \
    X(ac_read_obj_value_chnl) X(ac_read_obj_value) X(ai_obj_id_to_ref) X(ai_prim_value_to_str) \
    X(u_ai_c_rpt_app) X(u_chnl_connect_app) X(u_chnl_disconnect_app) X(u_srv_refreshed_app) \
    X(ac_set_srvm_chnlKeepCon) X(ai_get_obj_id_ctrl) X(ai_get_obj_desc) X(ai_get_ld_num) \
    X(ai_get_ln_num) X(ai_get_ds_num) X(ai_get_ied_obj_num) X(ai_get_obj_type) X(ai_find_obj_parent) \
    X(ai_type_to_str) X(mvl_type_ctrl_find) X(user_log_put) X(gs_close_thread) X(ai_uninit_envir) \
    X(ac_get_srvm_chnlKeepCon) X(ac_write_obj_value) X(ai_prim_str_to_value) X(ac_rpt_enable) \
    X(ac_get_file_attr) X(_convert_str_to_val_timestamp) X(UtcStringToVals) X(ac_get_srvm_chnlState) \
    X(ai_get_ied_config) X(ac_destroy_reqCtrl) X(UtcValsToString) X(ac_delete_file) X(ac_get_file) \
    X(ac_set_file) X(ac_query_log_by_time) X(ac_query_log_after) X(ac_wait_completion)

#endif /* ZORVAN_API_H */
