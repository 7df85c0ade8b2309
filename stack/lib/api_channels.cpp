// Channels A and B of the servers, and the stack's service passes.
#include "client/client.h"
#include "export.h"

ZV_EXPORT ST_UCHAR ac_set_srvm_chnlKeepCon(ST_INT srv, ST_UCHAR keep, AC_CHANNEL ch) {
    return zv::client::set_keep(srv, keep != 0, ch);
}
ZV_EXPORT ST_UCHAR ac_get_srvm_chnlKeepCon(ST_INT srv, AC_CHANNEL ch) { return zv::client::get_keep(srv, ch); }
ZV_EXPORT ST_RET ac_get_srvm_chnlState(ST_INT srv, CHNL_STATE *a, CHNL_STATE *b, AC_CHANNEL *active) {
    return zv::client::get_state(srv, a, b, active);
}

// The stack's own threads do the network work and run the callbacks; these
// passes of the application's checker have nothing left to do.
ZV_EXPORT void ai_comm_serve(void) {}
ZV_EXPORT void ac_srv_state_handle(void) {}
