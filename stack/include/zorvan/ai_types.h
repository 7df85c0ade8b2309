/*
 * Scalar types, enumerations, value records and object model records shared
 * between the zorvan IEC 61850 client stack (libzorvan_ld.so) and its users.
 *
 * The layout is a binary contract of the 32-bit little-endian platform the
 * station computer runs on (pointers and int are 4 bytes, natural alignment).
 * Every offset and size is checked at compile time when pointers are 4 bytes;
 * on 64-bit hosts the same declarations simply take their natural layout.
 *
 * Plain C so that C and C++ callers see one set of declarations.
 */
#ifndef ZORVAN_AI_TYPES_H
#define ZORVAN_AI_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- scalar types ------------------------------------------------------ */
typedef int32_t  ST_INT;
typedef int32_t  ST_RET;
typedef int32_t  ST_INT32;
typedef int16_t  ST_INT16;
typedef int8_t   ST_INT8;
typedef uint32_t ST_UINT32;
typedef uint16_t ST_UINT16;
typedef uint8_t  ST_UINT8;
typedef uint8_t  ST_UCHAR;
typedef uint8_t  ST_BOOLEAN;
typedef char     ST_CHAR;
typedef float    ST_FLOAT;
typedef double   ST_DOUBLE;

typedef ST_INT32 AI_OBJ_ID;            /* -1: no object */
#define AI_OBJ_ID_NONE ((AI_OBJ_ID)-1)

#define AI_OBJ_REF_LEN 130             /* bytes, NUL included */
typedef char AI_OBJ_REF[AI_OBJ_REF_LEN];

#define AI_OBJ_NAME_LEN 65             /* bytes of names and descriptions, NUL included */

typedef ST_INT32 AI_FCO_SUBTYPE;
typedef ST_UCHAR EntryID_TDEF[8];
typedef ST_UCHAR CODE_ENUM_TDEF;
typedef void    *ST_RTREF;
typedef ST_UINT32 ST_THREAD_HANDLE;
typedef ST_UINT32 ST_THREAD_ID;

/* ---- enumerations (32 bits each) ---------------------------------------- */
typedef enum {
    AC_CHANNEL_A = 0,
    AC_CHANNEL_B = 1,
    AC_CHANNEL_UNKNOWN = 2
} AC_CHANNEL;

typedef enum {
    CHNL_STATE_UNCONNECTED = 0,
    CHNL_STATE_CONNECTING = 1,
    CHNL_STATE_CONNECTED = 2
} CHNL_STATE;

typedef enum {
    OBJECT_TYPE_UNKNOWN = 0,
    OBJECT_TYPE_IED = 1,
    OBJECT_TYPE_LD = 2,
    OBJECT_TYPE_LN = 3,
    OBJECT_TYPE_DS = 4,
    OBJECT_TYPE_FCN = 5,
    OBJECT_TYPE_FCD = 6,
    OBJECT_TYPE_FCDA = 7,
    OBJECT_TYPE_CB = 8
} AI_OBJ_TYPE;

typedef enum {
    RPT_REASON_UNKNOWN = 0,
    RPT_REASON_DCHG = 1,
    RPT_REASON_QCHG = 2,
    RPT_REASON_DUPD = 3,
    RPT_REASON_INTGPD = 4,
    RPT_REASON_GI = 5
} AC_REPORT_REASON;

typedef enum {
    IEC61850_OP_UNKNOWN = 0,
    IEC61850_OP_ASSOC = 1,
    IEC61850_OP_RELEASE = 2,
    IEC61850_OP_ABORT = 3,
    IEC61850_OP_GETSRVDIR = 4,
    IEC61850_OP_GETLDDIR = 5,
    IEC61850_OP_GETLNDIR = 6,
    IEC61850_OP_GETDODEF = 7,
    IEC61850_OP_READ = 8,
    IEC61850_OP_WRITE = 9,
    IEC61850_OP_GETSGV = 10,
    IEC61850_OP_SETSGV = 11,
    IEC61850_OP_SELVAL = 12,
    IEC61850_OP_SELECT = 13,
    IEC61850_OP_CANCEL = 14,
    IEC61850_OP_OPER = 15,
    IEC61850_OP_CRTDS = 16,
    IEC61850_OP_DELDS = 17,
    IEC61850_OP_GETDSDIR = 18,
    IEC61850_OP_GETDSVAL = 19,
    IEC61850_OP_SETDSVAL = 20,
    IEC61850_OP_GETFAV = 21,
    IEC61850_OP_GETFILE = 22,
    IEC61850_OP_SETFILE = 23,
    IEC61850_OP_DELFILE = 24,
    IEC61850_OP_QUERYLOGBT = 25,
    IEC61850_OP_QUERYLOGA = 26,
    IEC61850_OP_RPTENA = 27
} IEC61850_OP;

typedef enum {
    VAL_TYPE_UNKNOWN = 0,
    VAL_TYPE_BOOLEAN = 1,
    VAL_TYPE_INT8 = 2,
    VAL_TYPE_INT16 = 3,
    VAL_TYPE_INT32 = 4,
    VAL_TYPE_INT128 = 5,
    VAL_TYPE_INT8U = 6,
    VAL_TYPE_INT16U = 7,
    VAL_TYPE_INT32U = 8,
    VAL_TYPE_FLOAT32 = 9,
    VAL_TYPE_FLOAT64 = 10,
    VAL_TYPE_CODEDENUM = 11,
    VAL_TYPE_TCMD = 12,
    VAL_TYPE_OSTRING8 = 13,
    VAL_TYPE_OSTRING64 = 14,
    VAL_TYPE_VSTRING64 = 15,
    VAL_TYPE_VSTRING65 = 16,
    VAL_TYPE_VSTRING129 = 17,
    VAL_TYPE_VSTRING255 = 18,
    VAL_TYPE_UNISTRING255 = 19,
    VAL_TYPE_QUALITY = 20,
    VAL_TYPE_TIMESTAMP = 21,
    VAL_TYPE_ENTRYTIME = 22,
    VAL_TYPE_OPTFLDS = 23,
    VAL_TYPE_TRGC = 24,
    VAL_TYPE_CHECK = 25,
    VAL_TYPE_ENTRYID = 26,
    VAL_TYPE_STRUCT = 27
} AI_VAL_TYPE;

/* ---- value records ------------------------------------------------------ */

/* One primitive value; `data` points to `size` bytes in the stack's stored
 * form for `type` (see zorvan/ai_values.h for the forms). */
typedef struct ai_prim_val {
    AI_VAL_TYPE type;
    ST_INT32 size;
    void *data;
} AI_PRIM_VAL;

/* All primitive components of one object, in component order. */
typedef struct ai_obj_val {
    AI_OBJ_ID obj_id;
    AI_OBJ_ID *prim_ids;
    AI_PRIM_VAL *prim_vals;
    ST_INT32 prim_num;
} AI_OBJ_VAL;

typedef struct timestamp_tdef {
    ST_UINT32 secs;       /* seconds of the Unix epoch, UTC */
    ST_UINT32 fraction;   /* fraction of the second, 24 significant bits (IEC 61850-8-1) */
    ST_UINT32 qflags;     /* time quality octet */
} TimeStamp_TDEF;

typedef struct entrytime_tdef {
    ST_INT32 btime6_ms;   /* milliseconds of the day */
    ST_INT32 btime6_days; /* days since 1984-01-01 */
} EntryTime_TDEF;

typedef struct octet_string64_tdef {
    ST_INT16 len_1;
    ST_UCHAR data_1[64];
} OCTET_STRING64_TDEF;

typedef struct check_tdef {
    ST_INT16 len_1;
    ST_UCHAR data_1[1];
} Check_TDEF;

/* ---- object model records ------------------------------------------------ */

typedef struct dbl_lnk {
    struct dbl_lnk *next;
    struct dbl_lnk *prev;
} DBL_LNK;

typedef struct ai_common_obj {
    char name[AI_OBJ_NAME_LEN];
    char desc[AI_OBJ_NAME_LEN];
    AI_OBJ_TYPE type;
    ST_INT32 id;
    struct ai_common_obj *parent;   /* null for the server */
} AI_COMMON_OBJ;

struct ai_ld_ctrl;
struct ai_ln_ctrl;
struct ai_ds_ctrl;
struct ai_obj_idctrl;
struct runtime_type;
struct runtime_ctrl;

typedef struct ai_ied_ctrl {
    AI_COMMON_OBJ cobj;
    ST_INT32 max_num_ld;
    ST_INT32 num_ld;
    struct ai_ld_ctrl **ld_tbl;
    ST_INT32 max_aa_ds;
    ST_INT32 num_aa_ds;
    struct ai_ds_ctrl **aa_ds_tbl;
    ST_INT32 obj_num;
    ST_INT32 max_dyn_num;
    struct ai_obj_idctrl *id_ctrl;   /* indexed by object identifier */
} AI_IED_CTRL;

typedef struct ai_ld_ctrl {
    AI_COMMON_OBJ cobj;
    ST_INT32 max_num_ds;
    ST_INT32 num_ds;
    struct ai_ds_ctrl **ds_tbl;
    ST_INT32 max_num_ln;
    ST_INT32 num_ln;
    struct ai_ln_ctrl **ln_tbl;
} AI_LD_CTRL;

typedef struct ai_do_desc {
    char do_name[AI_OBJ_NAME_LEN];
    char desc[AI_OBJ_NAME_LEN];
} AI_DO_DESC;

typedef struct ai_ln_ctrl {
    AI_COMMON_OBJ cobj;
    ST_INT32 type_id;        /* for mvl_type_ctrl_find */
    void *data;              /* stack data of the node */
    ST_INT32 sub_obj_num;
    ST_INT32 *sub_ids;
    ST_INT32 do_desc_num;
    AI_DO_DESC *do_descs;
} AI_LN_CTRL;

typedef struct ai_ds_ctrl {
    AI_COMMON_OBJ cobj;
    ST_INT32 mb_num;
    ST_INT32 *mb_ids;
    AI_OBJ_REF *mb_refs;
    ST_UCHAR deletable;
} AI_DS_CTRL;

typedef struct ai_fco_idctrl {
    AI_FCO_SUBTYPE type;
    struct runtime_type *rt;
    AI_LN_CTRL *ln;
} AI_FCO_IDCTRL;

typedef struct ai_ds_idctrl {
    AI_DS_CTRL *ds;
} AI_DS_IDCTRL;

typedef struct ai_ld_idctrl {
    AI_LD_CTRL *ld;
} AI_LD_IDCTRL;

typedef struct ai_ln_idctrl {
    AI_FCO_SUBTYPE type;
    AI_LN_CTRL *ln;
} AI_LN_IDCTRL;

typedef struct ai_ied_idctrl {
    AI_IED_CTRL *ied;
} AI_IED_IDCTRL;

typedef struct ai_obj_idctrl {
    AI_OBJ_TYPE obj_type;          /* selects the member of u */
    union {
        AI_FCO_IDCTRL fco_idctrl;  /* FCN, FCD, FCDA, CB */
        AI_DS_IDCTRL ds_idctrl;
        AI_LD_IDCTRL ld_idctrl;
        AI_LN_IDCTRL ln_idctrl;
        AI_IED_IDCTRL ied_idctrl;
    } u;
    void *user_info;
} AI_OBJ_IDCTRL;

typedef struct ai_ied_cfg {
    DBL_LNK l;
    char ied_name[AI_OBJ_NAME_LEN];
    ST_INT32 max_dyn_ds_num;
    ST_INT32 auto_acssoc_time;
    ST_UCHAR sg_variable_list;
    ST_UCHAR ied_create_dir;
    ST_UCHAR keep_con_A;
    ST_UCHAR keep_con_B;
    ST_UCHAR many_inst;
    ST_INT32 chnlA_NO;
    ST_INT32 chnlB_NO;
} AI_IED_CFG;

typedef struct mvlu_type_info {
    ST_INT16 sortedNum;
    ST_INT32 offSet;
    ST_INT16 rdIndFunIndex;
    ST_INT16 wrIndFunIndex;
    ST_RTREF ref;
} MVLU_TYPE_INFO;

typedef struct runtime_type {
    ST_UCHAR el_tag;         /* RT_* below */
    ST_INT16 el_size;
    ST_INT32 offset_to_last;
    union {
        struct { ST_INT16 el_len; ST_INT16 pad; } p;
        struct { ST_INT16 num_rt_blks; ST_INT16 pad; } str;
        struct { ST_INT16 num_elmnts; ST_INT16 num_rt_blks; } arr;
    } u;
    const char *comp_name_ptr;
    MVLU_TYPE_INFO mvluTypeInfo;
} RUNTIME_TYPE;

typedef struct runtime_ctrl {
    RUNTIME_TYPE *rt_first;
    ST_INT32 rt_num;
} RUNTIME_CTRL;

typedef struct mvl_type_ctrl {
    RUNTIME_CTRL *rt_ctrl;
    ST_INT32 num_rt;
    RUNTIME_TYPE *rt;
    ST_INT32 data_size;
    char type_name[AI_OBJ_NAME_LEN];
} MVL_TYPE_CTRL;

/* Element tags of RUNTIME_TYPE.el_tag. */
#define RT_ARR_START   1
#define RT_STR_START   2
#define RT_STR_END     3
#define RT_ARR_END     4
#define RT_PRIMITIVE   5   /* the primitive's AI_VAL_TYPE is in u.p.pad */

/* ---- 32-bit layout contract ----------------------------------------------- */
#if defined(__cplusplus)
#define ZV_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define ZV_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
#define ZV_OFF(T, f, o) ZV_STATIC_ASSERT(offsetof(T, f) == (o), #T "." #f " at " #o)
#define ZV_SIZE(T, s)   ZV_STATIC_ASSERT(sizeof(T) == (s), "sizeof " #T " == " #s)
ZV_SIZE(AI_OBJ_REF, 130);
ZV_SIZE(AI_OBJ_VAL, 16);
ZV_OFF(AI_OBJ_VAL, obj_id, 0); ZV_OFF(AI_OBJ_VAL, prim_ids, 4);
ZV_OFF(AI_OBJ_VAL, prim_vals, 8); ZV_OFF(AI_OBJ_VAL, prim_num, 12);
ZV_SIZE(AI_PRIM_VAL, 12);
ZV_OFF(AI_PRIM_VAL, type, 0); ZV_OFF(AI_PRIM_VAL, size, 4); ZV_OFF(AI_PRIM_VAL, data, 8);
ZV_SIZE(TimeStamp_TDEF, 12);
ZV_OFF(TimeStamp_TDEF, secs, 0); ZV_OFF(TimeStamp_TDEF, fraction, 4); ZV_OFF(TimeStamp_TDEF, qflags, 8);
ZV_SIZE(EntryTime_TDEF, 8);
ZV_OFF(EntryTime_TDEF, btime6_ms, 0); ZV_OFF(EntryTime_TDEF, btime6_days, 4);
ZV_SIZE(OCTET_STRING64_TDEF, 66);
ZV_OFF(OCTET_STRING64_TDEF, len_1, 0); ZV_OFF(OCTET_STRING64_TDEF, data_1, 2);
ZV_SIZE(Check_TDEF, 4);
ZV_OFF(Check_TDEF, len_1, 0); ZV_OFF(Check_TDEF, data_1, 2);
ZV_SIZE(EntryID_TDEF, 8);
ZV_SIZE(AC_CHANNEL, 4); ZV_SIZE(CHNL_STATE, 4); ZV_SIZE(AI_OBJ_TYPE, 4);
ZV_SIZE(AC_REPORT_REASON, 4); ZV_SIZE(IEC61850_OP, 4); ZV_SIZE(AI_VAL_TYPE, 4);

ZV_SIZE(AI_COMMON_OBJ, 144);
ZV_OFF(AI_COMMON_OBJ, name, 0); ZV_OFF(AI_COMMON_OBJ, desc, 65); ZV_OFF(AI_COMMON_OBJ, type, 132);
ZV_OFF(AI_COMMON_OBJ, id, 136); ZV_OFF(AI_COMMON_OBJ, parent, 140);
ZV_SIZE(AI_IED_CTRL, 180);
ZV_OFF(AI_IED_CTRL, cobj, 0); ZV_OFF(AI_IED_CTRL, max_num_ld, 144); ZV_OFF(AI_IED_CTRL, num_ld, 148);
ZV_OFF(AI_IED_CTRL, ld_tbl, 152); ZV_OFF(AI_IED_CTRL, max_aa_ds, 156); ZV_OFF(AI_IED_CTRL, num_aa_ds, 160);
ZV_OFF(AI_IED_CTRL, aa_ds_tbl, 164); ZV_OFF(AI_IED_CTRL, obj_num, 168); ZV_OFF(AI_IED_CTRL, max_dyn_num, 172);
ZV_OFF(AI_IED_CTRL, id_ctrl, 176);
ZV_SIZE(AI_LD_CTRL, 168);
ZV_OFF(AI_LD_CTRL, max_num_ds, 144); ZV_OFF(AI_LD_CTRL, num_ds, 148); ZV_OFF(AI_LD_CTRL, ds_tbl, 152);
ZV_OFF(AI_LD_CTRL, max_num_ln, 156); ZV_OFF(AI_LD_CTRL, num_ln, 160); ZV_OFF(AI_LD_CTRL, ln_tbl, 164);
ZV_SIZE(AI_LN_CTRL, 168);
ZV_OFF(AI_LN_CTRL, type_id, 144); ZV_OFF(AI_LN_CTRL, data, 148); ZV_OFF(AI_LN_CTRL, sub_obj_num, 152);
ZV_OFF(AI_LN_CTRL, sub_ids, 156); ZV_OFF(AI_LN_CTRL, do_desc_num, 160); ZV_OFF(AI_LN_CTRL, do_descs, 164);
ZV_SIZE(AI_DS_CTRL, 160);
ZV_OFF(AI_DS_CTRL, mb_num, 144); ZV_OFF(AI_DS_CTRL, mb_ids, 148); ZV_OFF(AI_DS_CTRL, mb_refs, 152);
ZV_OFF(AI_DS_CTRL, deletable, 156);
ZV_SIZE(AI_DO_DESC, 130);
ZV_OFF(AI_DO_DESC, do_name, 0); ZV_OFF(AI_DO_DESC, desc, 65);
ZV_SIZE(AI_OBJ_IDCTRL, 20);
ZV_OFF(AI_OBJ_IDCTRL, obj_type, 0); ZV_OFF(AI_OBJ_IDCTRL, u, 4); ZV_OFF(AI_OBJ_IDCTRL, user_info, 16);
ZV_OFF(AI_OBJ_IDCTRL, u.fco_idctrl, 4); ZV_OFF(AI_OBJ_IDCTRL, u.ds_idctrl, 4); ZV_OFF(AI_OBJ_IDCTRL, u.ld_idctrl, 4);
ZV_OFF(AI_OBJ_IDCTRL, u.ln_idctrl, 4); ZV_OFF(AI_OBJ_IDCTRL, u.ied_idctrl, 4);
ZV_SIZE(AI_FCO_IDCTRL, 12);
ZV_OFF(AI_FCO_IDCTRL, type, 0); ZV_OFF(AI_FCO_IDCTRL, rt, 4); ZV_OFF(AI_FCO_IDCTRL, ln, 8);
ZV_SIZE(AI_DS_IDCTRL, 4); ZV_SIZE(AI_LD_IDCTRL, 4); ZV_SIZE(AI_IED_IDCTRL, 4);
ZV_SIZE(AI_LN_IDCTRL, 8); ZV_OFF(AI_LN_IDCTRL, type, 0); ZV_OFF(AI_LN_IDCTRL, ln, 4);
ZV_SIZE(AI_IED_CFG, 100);
ZV_OFF(AI_IED_CFG, l, 0); ZV_OFF(AI_IED_CFG, ied_name, 8); ZV_OFF(AI_IED_CFG, max_dyn_ds_num, 76);
ZV_OFF(AI_IED_CFG, auto_acssoc_time, 80); ZV_OFF(AI_IED_CFG, sg_variable_list, 84);
ZV_OFF(AI_IED_CFG, ied_create_dir, 85); ZV_OFF(AI_IED_CFG, keep_con_A, 86); ZV_OFF(AI_IED_CFG, keep_con_B, 87);
ZV_OFF(AI_IED_CFG, many_inst, 88); ZV_OFF(AI_IED_CFG, chnlA_NO, 92); ZV_OFF(AI_IED_CFG, chnlB_NO, 96);
ZV_SIZE(MVL_TYPE_CTRL, 84);
ZV_OFF(MVL_TYPE_CTRL, rt_ctrl, 0); ZV_OFF(MVL_TYPE_CTRL, num_rt, 4); ZV_OFF(MVL_TYPE_CTRL, rt, 8);
ZV_OFF(MVL_TYPE_CTRL, data_size, 12); ZV_OFF(MVL_TYPE_CTRL, type_name, 16);
ZV_SIZE(RUNTIME_CTRL, 8);
ZV_OFF(RUNTIME_CTRL, rt_first, 0); ZV_OFF(RUNTIME_CTRL, rt_num, 4);
ZV_SIZE(RUNTIME_TYPE, 32);
ZV_OFF(RUNTIME_TYPE, el_tag, 0); ZV_OFF(RUNTIME_TYPE, el_size, 2); ZV_OFF(RUNTIME_TYPE, offset_to_last, 4);
ZV_OFF(RUNTIME_TYPE, u, 8); ZV_OFF(RUNTIME_TYPE, u.p.el_len, 8); ZV_OFF(RUNTIME_TYPE, u.p.pad, 10);
ZV_OFF(RUNTIME_TYPE, u.str.num_rt_blks, 8); ZV_OFF(RUNTIME_TYPE, u.arr.num_elmnts, 8);
ZV_OFF(RUNTIME_TYPE, u.arr.num_rt_blks, 10);
ZV_OFF(RUNTIME_TYPE, comp_name_ptr, 12); ZV_OFF(RUNTIME_TYPE, mvluTypeInfo, 16);
ZV_SIZE(MVLU_TYPE_INFO, 16);
ZV_OFF(MVLU_TYPE_INFO, sortedNum, 0); ZV_OFF(MVLU_TYPE_INFO, offSet, 4);
ZV_OFF(MVLU_TYPE_INFO, rdIndFunIndex, 8); ZV_OFF(MVLU_TYPE_INFO, wrIndFunIndex, 10); ZV_OFF(MVLU_TYPE_INFO, ref, 12);
ZV_SIZE(DBL_LNK, 8); ZV_OFF(DBL_LNK, next, 0); ZV_OFF(DBL_LNK, prev, 4);
ZV_SIZE(ST_THREAD_HANDLE, 4); ZV_SIZE(ST_THREAD_ID, 4); ZV_SIZE(ST_RTREF, 4);
#endif /* 32-bit */

#ifdef __cplusplus
}
#endif

#endif /* ZORVAN_AI_TYPES_H */
