// Channels A and B of the servers, and the stack's service passes.
#include "export.h"

#ifdef ZV_HAVE_zv_client
#include "client/client.h"
#endif

#ifdef ZV_HAVE_zv_client
ZV_EXPORT ST_UCHAR ac_set_srvm_chnlKeepCon(ST_INT srv, ST_UCHAR keep, AC_CHANNEL ch) {
    return zv::client::set_keep(srv, keep != 0, ch);
}
ZV_EXPORT ST_UCHAR ac_get_srvm_chnlKeepCon(ST_INT srv, AC_CHANNEL ch) { return zv::client::get_keep(srv, ch); }
ZV_EXPORT ST_RET ac_get_srvm_chnlState(ST_INT srv, CHNL_STATE *a, CHNL_STATE *b, AC_CHANNEL *active) {
    return zv::client::get_state(srv, a, b, active);
}
#else
ZV_EXPORT ST_UCHAR ac_set_srvm_chnlKeepCon(ST_INT, ST_UCHAR, AC_CHANNEL) { return 1; }
ZV_EXPORT ST_UCHAR ac_get_srvm_chnlKeepCon(ST_INT, AC_CHANNEL) { return 0; }
ZV_EXPORT ST_RET ac_get_srvm_chnlState(ST_INT, CHNL_STATE *a, CHNL_STATE *b, AC_CHANNEL *active) {
    if (a) *a = CHNL_STATE_UNCONNECTED;
    if (b) *b = CHNL_STATE_UNCONNECTED;
    if (active) *active = AC_CHANNEL_UNKNOWN;
    return 1;
}
#endif

// The stack's own threads do the network work and run the callbacks; these
// passes of the application's checker have nothing left to do.
ZV_EXPORT void ai_comm_serve(void) {}
ZV_EXPORT void ac_srv_state_handle(void) {}
