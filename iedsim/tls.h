// TLS of iedsim's listeners (IEC 62351-3): the device's certificate and key,
// and, with --tls-ca, the CAs whose client certificates it demands.
#pragma once

#include "config.h"

#include "tls/stream.h"

#include <string>

namespace zv::iedsim {

// The server context of `cfg` (cfg.tlsCert set). Null with a reason that
// names the file at fault.
tls::Context serverContext(const Config& cfg, std::string& why);

}  // namespace zv::iedsim
