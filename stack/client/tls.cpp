#include "tls.h"

#include "engine.h"

#include <cstdlib>

namespace zv::client {

tls::Context client_context(const model::TlsSettings &t, const std::string &label, std::string &why) {
    tls::Context ctx = tls::new_context(true, 0, why);
    if (!ctx) return nullptr;
    if (!tls::load_trust(ctx.get(), t.ca, why)) return nullptr;
    if (!t.cert.empty() && !tls::load_identity(ctx.get(), t.cert, t.key, why)) return nullptr;
    tls::require_peer_certificate(ctx.get(), true);
    if (const char *path = std::getenv(kKeyLogVariable); path && *path) {
        std::string kwhy;
        if (tls::enable_key_log(ctx.get(), path, kwhy))
            log_line(label + ": TLS session keys are written to " + path + " (" + kKeyLogVariable +
                     "; for captures in tests only)");
        else
            log_line(label + ": " + kwhy);
    }
    return ctx;
}

}  // namespace zv::client
