// Server management: the configured servers and their channels.
#include "export.h"

ZV_EXPORT ST_INT ac_get_srvm_num(void) { return 0; }
ZV_EXPORT char *ac_get_srvm_name(ST_INT) { return nullptr; }
ZV_EXPORT AI_IED_CTRL *ac_get_srvm_ied(ST_INT) { return nullptr; }
ZV_EXPORT ST_INT ac_get_srvm_srvId(const char *) { return -1; }
ZV_EXPORT ST_UCHAR ac_set_srvm_chnlKeepCon(ST_INT, ST_UCHAR, AC_CHANNEL) { return 0; }
ZV_EXPORT ST_UCHAR ac_get_srvm_chnlKeepCon(ST_INT, AC_CHANNEL) { return 0; }
ZV_EXPORT ST_RET ac_get_srvm_chnlState(ST_INT, CHNL_STATE *a, CHNL_STATE *b, AC_CHANNEL *active) {
    if (a) *a = CHNL_STATE_UNCONNECTED;
    if (b) *b = CHNL_STATE_UNCONNECTED;
    if (active) *active = AC_CHANNEL_UNKNOWN;
    return 1;
}
ZV_EXPORT AI_IED_CFG *ai_get_ied_config(const char *) { return nullptr; }
