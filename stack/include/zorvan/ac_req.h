/*
 * Request records passed to the stack's asynchronous services, the request
 * control handed to completion functions, and the callback shapes.
 *
 * Request records (*_REQ_INFO) belong to the caller and may live on its stack
 * frame: the stack copies what it needs before the request call returns.
 * The request control (AC_REQ_CTRL) belongs to the stack; a completion
 * function reads it only while it runs.
 */
#ifndef ZORVAN_AC_REQ_H
#define ZORVAN_AC_REQ_H

#include "ai_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct ac_req_ctrl;
/* Completion function of an asynchronous request. */
typedef void (*U_AC_REQ_DONE)(struct ac_req_ctrl *req_ctrl);

/* ---- request records (caller-owned) --------------------------------------- */
typedef struct ac_read_req_info {
    AI_OBJ_ID *obj_ids;
    ST_INT32 num_obj;
    U_AC_REQ_DONE u_read_done;
} AC_READ_REQ_INFO;

typedef struct ac_write_req_info {
    AI_OBJ_VAL *obj_vals;
    ST_INT32 num_obj;
    U_AC_REQ_DONE u_write_done;
} AC_WRITE_REQ_INFO;

typedef struct ac_enareport_info {
    AI_OBJ_ID rcb_id;
    ST_INT32 OptFlds;    /* optional fields bit string as a number */
    ST_INT32 TrgOps;     /* trigger options bit string as a number */
    ST_INT32 IntgPd;     /* milliseconds */
    ST_UCHAR rptEna;     /* 1 = enable, 0 = disable */
    U_AC_REQ_DONE u_rpt_done;
} AC_ENAREPORT_INFO;

typedef struct ac_ctrl_value {
    union {
        ST_UCHAR bVal;
        ST_INT32 iVal32;
        ST_INT8 iVal8;
        CODE_ENUM_TDEF cdVal;
        ST_UINT8 iUVal8;
        struct { ST_INT32 iVal; ST_FLOAT fVal; } setMag;
    } val;
    struct {
        ST_INT8 orCat;
        OCTET_STRING64_TDEF orIdent;
    } origin;
    ST_UCHAR ctlNum;
    TimeStamp_TDEF operTm;
    TimeStamp_TDEF T;
    Check_TDEF check;
    ST_UCHAR Test;
} AC_CTRL_VALUE;

/* Control request: ctrl_obj is the controllable data object under CO
 * (LD/LN$CO$DO); ctrl_val.val holds ctlVal in the member of its type
 * (BOOLEAN bVal, INT32 iVal32, INT8 and enumerations iVal8, INT8U iUVal8,
 * Dbpos/Tcmd cdVal 0..3, AnalogueValue setMag). operTm all zero: none;
 * T all zero: the time of sending. The completion's u.ctrlCtrl.result is the
 * device's AddCause (IEC 61850-7-2) when a control failed with one, -1 when
 * it failed without (time-out, refusal without LastApplError). */
typedef struct ac_ctrl_req_info {
    AI_OBJ_ID ctrl_obj;
    AC_CTRL_VALUE ctrl_val;
    U_AC_REQ_DONE u_ctrl_done;
} AC_CTRL_REQ_INFO;

/* Log query (IEC 61850-7-2 QueryLogByTime / QueryLogAfter) of the log of a
 * log control block. By time: entries from start_time to stop_time (all zero:
 * from the oldest / up to the newest). After: the entries after the one
 * with startEntryID and start_time. The completion's u.qlogCtrl lists one
 * AC_QLOGENTRY_CTRL per logged value (entries holding several values give
 * several, with the same EntryID): obj_ref the object of the value (-1 when
 * the model has none), obj_vals[0] its value, obj_vals[1] when the device
 * gave one its ReasonCode (one VAL_TYPE_TRGC primitive, obj_id -1), obj_num
 * 1 or 2, result 0 or 1 when the value did not fit the model. */
typedef struct ac_qlog_req_info {
    AI_OBJ_ID lcb_id;
    EntryTime_TDEF start_time;
    EntryTime_TDEF stop_time;
    EntryID_TDEF startEntryID;
    U_AC_REQ_DONE u_qlog_done;
} AC_QLOG_REQ_INFO;

typedef struct ac_getfav_req_info {
    const char *file_name;       /* directory or file to list */
    U_AC_REQ_DONE u_getf_done;
} AC_GETFAV_REQ_INFO;

typedef struct ac_getf_req_info {
    const char *src_fname;       /* file on the server */
    const char *dest_fname;      /* local file */
    U_AC_REQ_DONE u_getf_done;
} AC_GETF_REQ_INFO;

typedef struct ac_setf_req_info {
    const char *src_fname;       /* local file */
    const char *dest_fname;      /* file on the server */
    U_AC_REQ_DONE u_setf_done;
} AC_SETF_REQ_INFO;

typedef struct ac_delf_req_info {
    const char *file_name;       /* file on the server */
    U_AC_REQ_DONE u_getf_done;
} AC_DELF_REQ_INFO;

/* ---- request control members ------------------------------------------------ */
#define AC_FILE_NAME_LEN 256     /* bytes of file name fields, NUL included */

typedef struct ac_assoc_req_ctrl {
    ST_INT32 sock;
    void *net_info;
} AC_ASSOC_REQ_CTRL;

typedef struct ac_read_req_ctrl {
    AI_OBJ_ID *obj_ids;
    AI_OBJ_TYPE obj_type;
    ST_INT32 num_obj;
    AI_OBJ_VAL *obj_vals;        /* num_obj entries */
    ST_INT32 *results;           /* per object, 0 = success */
} AC_READ_REQ_CTRL;

typedef struct ac_write_req_ctrl {
    AI_OBJ_VAL *obj_vals;
    ST_INT32 num_obj;
    ST_INT32 *results;
} AC_WRITE_REQ_CTRL;

typedef struct ac_giedd_req_ctrl {
    char **names;
    ST_INT32 num;
} AC_GIEDD_REQ_CTRL;

typedef struct ac_gldd_req_ctrl {
    char ld_name[AI_OBJ_NAME_LEN];
    AI_OBJ_TYPE obj_type;
    char **names;
    ST_INT32 num;
    ST_UCHAR morefollow;
} AC_GLDD_REQ_CTRL;

typedef struct ac_gobjdef_req_ctrl {
    AI_OBJ_REF obj_ref;
    char *tdl;
} AC_GOBJDEF_REQ_CTRL;

typedef struct ac_gdsd_req_ctrl {
    AI_OBJ_REF ds_ref;
    AI_OBJ_REF *mb_refs;
    ST_INT32 mb_num;
    ST_UCHAR deletable;
} AC_GDSD_REQ_CTRL;

typedef struct object_name {
    ST_INT32 object_tag;
    char *obj_name;
    char *domain_id;
} OBJECT_NAME;

typedef struct ac_creds_req_ctrl {
    AI_OBJ_REF ds_ref;
    ST_INT32 *mb_ids;
    OBJECT_NAME ds_name;
    OBJECT_NAME *mb_names;
    ST_INT32 num_var;
    ST_INT32 ds_id;
} AC_CREDS_REQ_CTRL;

typedef struct ac_delds_req_ctrl {
    ST_INT32 ds_id;
} AC_DELDS_REQ_CTRL;

typedef struct ac_getdsv_req_ctrl {
    ST_INT32 ds_id;
    ST_INT32 num;
    AI_OBJ_VAL *obj_vals;
} AC_GETDSV_REQ_CTRL;

typedef struct ac_gsgv_req_ctrl {
    ST_INT32 sgcb_id;
    ST_INT32 group;
    ST_UCHAR isSe;
    ST_INT32 sg_num;
    AI_OBJ_VAL *sg_vals;
    ST_INT32 counter;
} AC_GSGV_REQ_CTRL;

typedef struct ac_ssgv_req_ctrl {
    ST_INT32 sgcb_id;
    ST_INT32 group;
    ST_INT32 sg_num;
    AI_OBJ_VAL *sg_vals;
    ST_INT32 counter;
    ST_UCHAR write_cnf;
} AC_SSGV_REQ_CTRL;

typedef struct ac_ctrl_req_ctrl {
    AI_OBJ_ID ctrl_obj;
    AC_CTRL_VALUE ctrl_val;
    ST_INT32 result;
} AC_CTRL_REQ_CTRL;

typedef struct file_read_idfp {
    ST_INT32 frsmid;
    void *fp;                    /* FILE* of the transfer */
} FILE_READ_IDFP;

typedef struct ac_getf_req_ctrl {
    char src_fname[AC_FILE_NAME_LEN];
    char dest_fname[AC_FILE_NAME_LEN];
    FILE_READ_IDFP *hp;
} AC_GETF_REQ_CTRL;

typedef struct ac_setf_req_ctrl {
    char src_fname[AC_FILE_NAME_LEN];
    char dest_fname[AC_FILE_NAME_LEN];
} AC_SETF_REQ_CTRL;

typedef struct ac_delf_req_ctrl {
    char file_name[AC_FILE_NAME_LEN];
} AC_DELF_REQ_CTRL;

typedef struct ac_file_attr {
    char file_name[AC_FILE_NAME_LEN];   /* as the device listed it (its character set), NUL-terminated */
    ST_INT32 file_size;
    TimeStamp_TDEF last_modified;       /* secs 0: the device gave no usable time */
} AC_FILE_ATTR;

typedef struct ac_getfav_req_ctrl {
    char file_name[AC_FILE_NAME_LEN];
    ST_INT32 file_num;
    AC_FILE_ATTR *file_attrs;
} AC_GETFAV_REQ_CTRL;

typedef struct ac_qlogentry_ctrl {
    EntryID_TDEF EntryID;
    EntryTime_TDEF TimeOfEntry;
    AI_OBJ_VAL *obj_vals;
    ST_INT32 obj_ref;
    ST_INT32 obj_num;
    ST_INT32 result;
} AC_QLOGENTRY_CTRL;

typedef struct ac_qlog_ctrl {
    ST_INT32 dom_id;
    EntryTime_TDEF start_time;
    EntryTime_TDEF stop_time;
    EntryID_TDEF startEntryID;
    ST_INT32 entry_num;
    AC_QLOGENTRY_CTRL *entry_info;
    ST_INT32 result;
} AC_QLOG_CTRL;

typedef struct ac_enareport_ctrl {
    AI_OBJ_ID rcb_id;
    ST_INT32 OptFlds;
    ST_INT32 TrgOps;
    ST_INT32 IntgPd;
    ST_UCHAR rptEna;
    void *attr_info;
} AC_ENAREPORT_CTRL;

/* The request control handed to every completion function. */
typedef struct ac_req_ctrl {
    DBL_LNK l;                   /* stack's list of pending requests */
    ST_INT32 srv_id;
    IEC61850_OP op;
    union {                      /* member in use follows op */
        AC_ASSOC_REQ_CTRL assoCtrl;
        AC_READ_REQ_CTRL rdCtrl;
        AC_WRITE_REQ_CTRL wrCtrl;
        AC_GIEDD_REQ_CTRL gieddCtrl;
        AC_GLDD_REQ_CTRL glddCtrl;
        AC_GOBJDEF_REQ_CTRL gobjdefCtrl;
        AC_GDSD_REQ_CTRL gdsdCtrl;
        AC_CREDS_REQ_CTRL credsCtrl;
        AC_DELDS_REQ_CTRL deldsCtrl;
        AC_GETDSV_REQ_CTRL getdsvCtrl;
        AC_GSGV_REQ_CTRL getsgvCtrl;
        AC_SSGV_REQ_CTRL setsgvCtrl;
        AC_CTRL_REQ_CTRL ctrlCtrl;
        AC_GETF_REQ_CTRL getfCtrl;
        AC_SETF_REQ_CTRL setfCtrl;
        AC_DELF_REQ_CTRL delfCtrl;
        AC_GETFAV_REQ_CTRL getfavCtrl;
        AC_QLOG_CTRL qlogCtrl;
        AC_ENAREPORT_CTRL enaRptCtrl;
    } u;
    ST_INT32 result;             /* 0 = success, anything else = failure */
    ST_DOUBLE timeout;           /* seconds */
    U_AC_REQ_DONE u_ac_req_done;
    void *sg_info;
    void *user_info;
    AC_CHANNEL chnl;             /* channel the request used */
} AC_REQ_CTRL;

/* ---- functions the application hands to the stack ------------------------------ */
typedef void (*U_AI_C_RPT_FUN)(ST_UCHAR *RptID, ST_INT obj_num, AI_OBJ_VAL *obj_val,
                               ST_BOOLEAN *val_chgs, AC_REPORT_REASON *reasons, ST_INT srv_id);
typedef void (*U_CHNL_FUN)(ST_INT srv_id, AC_CHANNEL chnl);
typedef void (*U_SRV_REFRESHED_FUN)(ST_INT srv_id);
typedef void *(*GS_THREAD_FUN)(void *arg);

/* ---- 32-bit layout contract ----------------------------------------------------- */
#if UINTPTR_MAX == 0xFFFFFFFFu
ZV_SIZE(AC_READ_REQ_INFO, 12);
ZV_OFF(AC_READ_REQ_INFO, obj_ids, 0); ZV_OFF(AC_READ_REQ_INFO, num_obj, 4); ZV_OFF(AC_READ_REQ_INFO, u_read_done, 8);
ZV_SIZE(AC_WRITE_REQ_INFO, 12);
ZV_OFF(AC_WRITE_REQ_INFO, obj_vals, 0); ZV_OFF(AC_WRITE_REQ_INFO, num_obj, 4); ZV_OFF(AC_WRITE_REQ_INFO, u_write_done, 8);
ZV_SIZE(AC_ENAREPORT_INFO, 24);
ZV_OFF(AC_ENAREPORT_INFO, rcb_id, 0); ZV_OFF(AC_ENAREPORT_INFO, OptFlds, 4); ZV_OFF(AC_ENAREPORT_INFO, TrgOps, 8);
ZV_OFF(AC_ENAREPORT_INFO, IntgPd, 12); ZV_OFF(AC_ENAREPORT_INFO, rptEna, 16); ZV_OFF(AC_ENAREPORT_INFO, u_rpt_done, 20);
ZV_SIZE(AC_CTRL_VALUE, 112);
ZV_OFF(AC_CTRL_VALUE, val, 0); ZV_OFF(AC_CTRL_VALUE, val.setMag.iVal, 0); ZV_OFF(AC_CTRL_VALUE, val.setMag.fVal, 4);
ZV_OFF(AC_CTRL_VALUE, origin, 8); ZV_OFF(AC_CTRL_VALUE, origin.orCat, 8); ZV_OFF(AC_CTRL_VALUE, origin.orIdent, 10);
ZV_OFF(AC_CTRL_VALUE, ctlNum, 76); ZV_OFF(AC_CTRL_VALUE, operTm, 80); ZV_OFF(AC_CTRL_VALUE, T, 92);
ZV_OFF(AC_CTRL_VALUE, check, 104); ZV_OFF(AC_CTRL_VALUE, Test, 108);
ZV_SIZE(AC_CTRL_REQ_INFO, 120);
ZV_OFF(AC_CTRL_REQ_INFO, ctrl_obj, 0); ZV_OFF(AC_CTRL_REQ_INFO, ctrl_val, 4); ZV_OFF(AC_CTRL_REQ_INFO, u_ctrl_done, 116);
ZV_SIZE(AC_QLOG_REQ_INFO, 32);
ZV_OFF(AC_QLOG_REQ_INFO, lcb_id, 0); ZV_OFF(AC_QLOG_REQ_INFO, start_time, 4); ZV_OFF(AC_QLOG_REQ_INFO, stop_time, 12);
ZV_OFF(AC_QLOG_REQ_INFO, startEntryID, 20); ZV_OFF(AC_QLOG_REQ_INFO, u_qlog_done, 28);
ZV_SIZE(AC_GETFAV_REQ_INFO, 8);
ZV_OFF(AC_GETFAV_REQ_INFO, file_name, 0); ZV_OFF(AC_GETFAV_REQ_INFO, u_getf_done, 4);
ZV_SIZE(AC_GETF_REQ_INFO, 12);
ZV_OFF(AC_GETF_REQ_INFO, src_fname, 0); ZV_OFF(AC_GETF_REQ_INFO, dest_fname, 4); ZV_OFF(AC_GETF_REQ_INFO, u_getf_done, 8);
ZV_SIZE(AC_SETF_REQ_INFO, 12);
ZV_OFF(AC_SETF_REQ_INFO, src_fname, 0); ZV_OFF(AC_SETF_REQ_INFO, dest_fname, 4); ZV_OFF(AC_SETF_REQ_INFO, u_setf_done, 8);
ZV_SIZE(AC_DELF_REQ_INFO, 8);
ZV_OFF(AC_DELF_REQ_INFO, file_name, 0); ZV_OFF(AC_DELF_REQ_INFO, u_getf_done, 4);

ZV_SIZE(AC_REQ_CTRL, 560);
ZV_OFF(AC_REQ_CTRL, l, 0); ZV_OFF(AC_REQ_CTRL, srv_id, 8); ZV_OFF(AC_REQ_CTRL, op, 12); ZV_OFF(AC_REQ_CTRL, u, 16);
ZV_OFF(AC_REQ_CTRL, result, 532); ZV_OFF(AC_REQ_CTRL, timeout, 536); ZV_OFF(AC_REQ_CTRL, u_ac_req_done, 544);
ZV_OFF(AC_REQ_CTRL, sg_info, 548); ZV_OFF(AC_REQ_CTRL, user_info, 552); ZV_OFF(AC_REQ_CTRL, chnl, 556);
ZV_STATIC_ASSERT(sizeof(((AC_REQ_CTRL *)0)->u) == 516, "ac_req_ctrl union is 516 bytes");
ZV_SIZE(AC_ASSOC_REQ_CTRL, 8); ZV_OFF(AC_ASSOC_REQ_CTRL, net_info, 4);
ZV_SIZE(AC_READ_REQ_CTRL, 20);
ZV_OFF(AC_READ_REQ_CTRL, obj_ids, 0); ZV_OFF(AC_READ_REQ_CTRL, obj_type, 4); ZV_OFF(AC_READ_REQ_CTRL, num_obj, 8);
ZV_OFF(AC_READ_REQ_CTRL, obj_vals, 12); ZV_OFF(AC_READ_REQ_CTRL, results, 16);
ZV_SIZE(AC_WRITE_REQ_CTRL, 12);
ZV_OFF(AC_WRITE_REQ_CTRL, obj_vals, 0); ZV_OFF(AC_WRITE_REQ_CTRL, num_obj, 4); ZV_OFF(AC_WRITE_REQ_CTRL, results, 8);
ZV_SIZE(AC_GIEDD_REQ_CTRL, 8); ZV_OFF(AC_GIEDD_REQ_CTRL, num, 4);
ZV_SIZE(AC_GLDD_REQ_CTRL, 84);
ZV_OFF(AC_GLDD_REQ_CTRL, obj_type, 68); ZV_OFF(AC_GLDD_REQ_CTRL, names, 72); ZV_OFF(AC_GLDD_REQ_CTRL, num, 76);
ZV_OFF(AC_GLDD_REQ_CTRL, morefollow, 80);
ZV_SIZE(AC_GOBJDEF_REQ_CTRL, 136); ZV_OFF(AC_GOBJDEF_REQ_CTRL, tdl, 132);
ZV_SIZE(AC_GDSD_REQ_CTRL, 144);
ZV_OFF(AC_GDSD_REQ_CTRL, mb_refs, 132); ZV_OFF(AC_GDSD_REQ_CTRL, mb_num, 136); ZV_OFF(AC_GDSD_REQ_CTRL, deletable, 140);
ZV_SIZE(OBJECT_NAME, 12);
ZV_OFF(OBJECT_NAME, obj_name, 4); ZV_OFF(OBJECT_NAME, domain_id, 8);
ZV_SIZE(AC_CREDS_REQ_CTRL, 160);
ZV_OFF(AC_CREDS_REQ_CTRL, mb_ids, 132); ZV_OFF(AC_CREDS_REQ_CTRL, ds_name, 136); ZV_OFF(AC_CREDS_REQ_CTRL, mb_names, 148);
ZV_OFF(AC_CREDS_REQ_CTRL, num_var, 152); ZV_OFF(AC_CREDS_REQ_CTRL, ds_id, 156);
ZV_SIZE(AC_DELDS_REQ_CTRL, 4);
ZV_SIZE(AC_GETDSV_REQ_CTRL, 12);
ZV_OFF(AC_GETDSV_REQ_CTRL, num, 4); ZV_OFF(AC_GETDSV_REQ_CTRL, obj_vals, 8);
ZV_SIZE(AC_GSGV_REQ_CTRL, 24);
ZV_OFF(AC_GSGV_REQ_CTRL, group, 4); ZV_OFF(AC_GSGV_REQ_CTRL, isSe, 8); ZV_OFF(AC_GSGV_REQ_CTRL, sg_num, 12);
ZV_OFF(AC_GSGV_REQ_CTRL, sg_vals, 16); ZV_OFF(AC_GSGV_REQ_CTRL, counter, 20);
ZV_SIZE(AC_SSGV_REQ_CTRL, 24);
ZV_OFF(AC_SSGV_REQ_CTRL, group, 4); ZV_OFF(AC_SSGV_REQ_CTRL, sg_num, 8); ZV_OFF(AC_SSGV_REQ_CTRL, sg_vals, 12);
ZV_OFF(AC_SSGV_REQ_CTRL, counter, 16); ZV_OFF(AC_SSGV_REQ_CTRL, write_cnf, 20);
ZV_SIZE(AC_CTRL_REQ_CTRL, 120);
ZV_OFF(AC_CTRL_REQ_CTRL, ctrl_val, 4); ZV_OFF(AC_CTRL_REQ_CTRL, result, 116);
ZV_SIZE(FILE_READ_IDFP, 8); ZV_OFF(FILE_READ_IDFP, fp, 4);
ZV_SIZE(AC_GETF_REQ_CTRL, 516);
ZV_OFF(AC_GETF_REQ_CTRL, dest_fname, 256); ZV_OFF(AC_GETF_REQ_CTRL, hp, 512);
ZV_SIZE(AC_SETF_REQ_CTRL, 512); ZV_OFF(AC_SETF_REQ_CTRL, dest_fname, 256);
ZV_SIZE(AC_DELF_REQ_CTRL, 256);
ZV_SIZE(AC_FILE_ATTR, 272);
ZV_OFF(AC_FILE_ATTR, file_size, 256); ZV_OFF(AC_FILE_ATTR, last_modified, 260);
ZV_SIZE(AC_GETFAV_REQ_CTRL, 264);
ZV_OFF(AC_GETFAV_REQ_CTRL, file_num, 256); ZV_OFF(AC_GETFAV_REQ_CTRL, file_attrs, 260);
ZV_SIZE(AC_QLOGENTRY_CTRL, 32);
ZV_OFF(AC_QLOGENTRY_CTRL, TimeOfEntry, 8); ZV_OFF(AC_QLOGENTRY_CTRL, obj_vals, 16); ZV_OFF(AC_QLOGENTRY_CTRL, obj_ref, 20);
ZV_OFF(AC_QLOGENTRY_CTRL, obj_num, 24); ZV_OFF(AC_QLOGENTRY_CTRL, result, 28);
ZV_SIZE(AC_QLOG_CTRL, 40);
ZV_OFF(AC_QLOG_CTRL, start_time, 4); ZV_OFF(AC_QLOG_CTRL, stop_time, 12); ZV_OFF(AC_QLOG_CTRL, startEntryID, 20);
ZV_OFF(AC_QLOG_CTRL, entry_num, 28); ZV_OFF(AC_QLOG_CTRL, entry_info, 32); ZV_OFF(AC_QLOG_CTRL, result, 36);
ZV_SIZE(AC_ENAREPORT_CTRL, 24);
ZV_OFF(AC_ENAREPORT_CTRL, OptFlds, 4); ZV_OFF(AC_ENAREPORT_CTRL, TrgOps, 8); ZV_OFF(AC_ENAREPORT_CTRL, IntgPd, 12);
ZV_OFF(AC_ENAREPORT_CTRL, rptEna, 16); ZV_OFF(AC_ENAREPORT_CTRL, attr_info, 20);
ZV_SIZE(DBL_LNK, 8);
#endif /* 32-bit */

#ifdef __cplusplus
}
#endif

#endif /* ZORVAN_AC_REQ_H */
