// TLS of the client's associations (IEC 62351-3/-4): the context of one
// server from its station keys. The sessions themselves are tls::Stream.
#pragma once

#include "model/station.h"
#include "tls/stream.h"

#include <string>

namespace zv::client {

// Environment variable naming a key-log file (NSS format) for captures in
// tests. Unset, which is the default, no secret leaves the process.
constexpr const char *kKeyLogVariable = "ZORVAN_TLS_KEYLOG";

// A context that verifies the device against `t.ca` (chain and validity),
// presents `t.cert`/`t.key` when given, and logs the session keys only when
// kKeyLogVariable names a file. Null with a reason naming the file at fault
// (never the key's contents). `label` names the server in the log.
tls::Context client_context(const model::TlsSettings &t, const std::string &label, std::string &why);

}  // namespace zv::client
