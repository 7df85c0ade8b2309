#include "tls.h"

#include <openssl/ssl.h>

namespace zv::iedsim {

tls::Context serverContext(const Config& cfg, std::string& why) {
    const int version = cfg.tlsVersion == 12 ? TLS1_2_VERSION : cfg.tlsVersion == 13 ? TLS1_3_VERSION : 0;
    tls::Context ctx = tls::new_context(false, version, why);
    if (!ctx) return nullptr;
    if (!tls::load_identity(ctx.get(), cfg.tlsCert, cfg.tlsKey, why)) return nullptr;
    if (!cfg.tlsCa.empty()) {
        // IEC 62351-4: both ends authenticate. A client without a
        // certificate of these CAs is refused during the handshake.
        if (!tls::load_trust(ctx.get(), cfg.tlsCa, why)) return nullptr;
        STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(cfg.tlsCa.c_str());
        if (names) SSL_CTX_set_client_CA_list(ctx.get(), names);
        tls::require_peer_certificate(ctx.get(), true);
    }
    return ctx;
}

}  // namespace zv::iedsim
