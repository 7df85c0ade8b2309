#include "config.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace zv::iedsim {

namespace {

bool parseUnsigned(const std::string& s, uint64_t max, uint64_t& out) {
    if (s.empty() || s.size() > 20) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    errno = 0;
    unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    if (errno || v > max) return false;
    out = v;
    return true;
}

// Hex octets as SCL writes selectors ("0001"): 1..max octets.
bool parseHex(const std::string& s, size_t max, std::vector<uint8_t>& out) {
    if (s.empty() || s.size() % 2 || s.size() > 2 * max) return false;
    out.clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        char* end = nullptr;
        const std::string two = s.substr(i, 2);
        const unsigned long v = std::strtoul(two.c_str(), &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(two[0]))) return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

// Dotted object identifier: two arcs or more, the first 0..2, the second
// below 40 under 0 and 1 (X.690 8.19.4), each of 32 bits.
bool parseOid(const std::string& s, std::vector<uint32_t>& out) {
    out.clear();
    size_t pos = 0;
    while (pos <= s.size()) {
        const size_t dot = std::min(s.find('.', pos), s.size());
        uint64_t arc = 0;
        if (!parseUnsigned(s.substr(pos, dot - pos), UINT32_MAX, arc) || out.size() == 32) return false;
        out.push_back(static_cast<uint32_t>(arc));
        pos = dot + 1;
    }
    return out.size() >= 2 && out[0] <= 2 && (out[0] == 2 || out[1] < 40) && out[1] <= UINT32_MAX - 80;
}

}  // namespace

bool parseEndpoint(const std::string& text, Endpoint& out, std::string& why) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        why = "address '" + text + "' is not HOST:PORT";
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host == "localhost") host = "127.0.0.1";
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) != 1) {
        why = "address '" + host + "' is not a dotted IPv4 address";
        return false;
    }
    if ((ntohl(a.s_addr) >> 24) != 127) {
        why = "address '" + host + "' is not a loopback address (only 127.0.0.0/8 may be used)";
        return false;
    }
    uint64_t port = 0;
    if (!parseUnsigned(text.substr(colon + 1), 65535, port)) {
        why = "port '" + text.substr(colon + 1) + "' is not a number 0..65535";
        return false;
    }
    out.host = host;
    out.port = uint16_t(port);
    return true;
}

const char* usageText() {
    return "usage: iedsim --scl FILE --ied NAME --listen HOST:PORT [--listen HOST:PORT ...]\n"
           "              [--files DIR] [--record-dir SUB] [--control unix:PATH|HOST:PORT]\n"
           "              [--port-file FILE] [--seed N] [--sim-period MS] [--record-every S]\n"
           "              [--recordings N] [--pdu-size N] [--dir-page N] [--log FILE] [--verbose]\n"
           "              [--entry-log FILE]\n"
           "              [--file-times millis|fraction|zulu|offset[+-HHMM]|nozone|none] [--gb18030-names]\n"
           "              [--record-parts cfg,dat,hdr,inf] [--journal-page N] [--ctl-exec-ms MS]\n"
           "              [--profile scl|ed1|ed2|ed2-owner|ed2-resvtms|ed2-full|fixed] [--edition 1|2]\n"
           "              [--owner yes|no] [--resv-tms yes|no] [--fixed-report-settings] [--refuse-gi]\n"
           "              [--held LD/LN$FC$RCB ...]\n"
           "              [--tsel HEX] [--ssel HEX] [--psel HEX] [--ap-title OID] [--ae-qualifier N]\n"
           "              [--password TEXT]\n"
           "              [--tls-cert FILE --tls-key FILE [--tls-ca FILE] [--tls-version 1.2|1.3]]\n"
           "Serves one IED of an SCL file over MMS (ISO 9506 / IEC 61850-8-1) on loopback.\n"
           "Listeners are networks A, B, ... in the order given; port 0 picks a free port.\n";
}

bool parseArgs(const std::vector<std::string>& args, Config& cfg, std::string& why, bool& help) {
    help = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
            return true;
        }
        if (a == "--verbose") {
            cfg.verbose = true;
            continue;
        }
        if (a == "--fixed-report-settings") {
            cfg.device.fixedSettings = true;
            continue;
        }
        if (a == "--refuse-gi") {
            cfg.device.refuseGi = true;
            continue;
        }
        if (a == "--gb18030-names") {
            cfg.gb18030Names = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            why = "option '" + a + "' needs a value (or is unknown)";
            return false;
        }
        const std::string& v = args[++i];
        uint64_t n = 0;
        auto number = [&](uint64_t max, auto& field) {
            if (!parseUnsigned(v, max, n)) {
                why = "option " + a + ": '" + v + "' is not a number 0.." + std::to_string(max);
                return false;
            }
            field = static_cast<std::remove_reference_t<decltype(field)>>(n);
            return true;
        };
        if (a == "--scl")
            cfg.scl = v;
        else if (a == "--ied")
            cfg.ied = v;
        else if (a == "--listen") {
            Endpoint e;
            if (!parseEndpoint(v, e, why)) return false;
            cfg.listen.push_back(e);
        } else if (a == "--files")
            cfg.files = v;
        else if (a == "--record-dir")
            cfg.recordDir = v;
        else if (a == "--control") {
            if (v.rfind("unix:", 0) != 0) {
                Endpoint e;
                if (!parseEndpoint(v, e, why)) return false;
            } else if (v.size() <= 5 || v.size() > 100) {
                why = "control socket path '" + v + "' is empty or too long";
                return false;
            }
            cfg.control = v;
        } else if (a == "--port-file")
            cfg.portFile = v;
        else if (a == "--log")
            cfg.logFile = v;
        else if (a == "--entry-log")
            cfg.entryLog = v;
        else if (a == "--seed") {
            if (!number(UINT64_MAX, cfg.seed)) return false;
        } else if (a == "--sim-period") {
            if (!number(3600000, cfg.simPeriodMs)) return false;
        } else if (a == "--record-every") {
            if (!number(86400, cfg.recordEverySec)) return false;
        } else if (a == "--recordings") {
            if (!number(1000, cfg.initialRecordings)) return false;
        } else if (a == "--pdu-size") {
            if (!number(1000000, cfg.pduSize)) return false;
            if (cfg.pduSize < 256) {
                why = "--pdu-size must be at least 256";
                return false;
            }
        } else if (a == "--dir-page") {
            if (!number(100000, cfg.dirPage)) return false;
        } else if (a == "--file-times") {
            if (!parseFileTimes(v, cfg.fileTimes)) {
                why = "option --file-times: '" + v +
                      "' is not millis, fraction, zulu, offset, offset+HHMM, "
                      "offset-HHMM, nozone or none";
                return false;
            }
        } else if (a == "--record-parts") {
            if (!parseRecordParts(v, cfg.recordParts, why)) {
                why = "option --record-parts: " + why;
                return false;
            }
        } else if (a == "--journal-page") {
            if (!number(100000, cfg.journalPage)) return false;
        } else if (a == "--ctl-exec-ms") {
            if (!number(600000, cfg.ctlExecMs)) return false;
        } else if (a == "--profile") {
            // A preset keeps the refusals given before it.
            const bool fixed = cfg.device.fixedSettings, gi = cfg.device.refuseGi;
            std::vector<std::string> held = cfg.device.held;
            if (!applyProfile(v, cfg.device)) {
                why = "unknown profile '" + v + "'";
                return false;
            }
            cfg.device.fixedSettings = cfg.device.fixedSettings || fixed;
            cfg.device.refuseGi = gi;
            cfg.device.held = held;
        } else if (a == "--edition") {
            if (v != "1" && v != "2") {
                why = "--edition must be 1 or 2";
                return false;
            }
            cfg.device.edition = v == "1" ? 1 : 2;
        } else if (a == "--owner" || a == "--resv-tms") {
            if (v != "yes" && v != "no") {
                why = "option " + a + " takes yes or no";
                return false;
            }
            (a == "--owner" ? cfg.device.owner : cfg.device.resvTms) = v == "yes";
        } else if (a == "--held") {
            if (v.empty() || v.size() > 129 || v.find('/') == std::string::npos) {
                why = "--held needs a control block reference LD/LN$FC$name";
                return false;
            }
            cfg.device.held.push_back(v);
        } else if (a == "--tsel" || a == "--ssel" || a == "--psel") {
            // Bounds of the layers: TSAP 32 octets as COTP here takes it,
            // SSEL 16 (ISO 8327-1), PSEL 16.
            std::vector<uint8_t> sel;
            if (!parseHex(v, a == "--tsel" ? 32 : 16, sel)) {
                why = "option " + a + ": '" + v + "' is not 1 to " + (a == "--tsel" ? "32" : "16") +
                      " octets of hex digits";
                return false;
            }
            (a == "--tsel" ? cfg.tsel : a == "--ssel" ? cfg.ssel : cfg.psel) = sel;
        } else if (a == "--ap-title") {
            std::vector<uint32_t> arcs;
            if (!parseOid(v, arcs)) {
                why = "option --ap-title: '" + v + "' is not an object identifier such as 1.1.1.999.1";
                return false;
            }
            cfg.apTitle = arcs;
        } else if (a == "--ae-qualifier") {
            char* end = nullptr;
            errno = 0;
            const long long q = std::strtoll(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || errno || q < INT32_MIN || q > INT32_MAX) {
                why = "option --ae-qualifier: '" + v + "' is not a 32-bit integer";
                return false;
            }
            cfg.aeQualifier = q;
        } else if (a == "--password") {
            // Not repeated in any message.
            if (v.empty() || v.size() > 256) {
                why = "option --password: the password must be 1 to 256 characters";
                return false;
            }
            cfg.password = v;
        } else if (a == "--tls-cert" || a == "--tls-key" || a == "--tls-ca") {
            (a == "--tls-cert" ? cfg.tlsCert : a == "--tls-key" ? cfg.tlsKey : cfg.tlsCa) = v;
        } else if (a == "--tls-version") {
            if (v != "1.2" && v != "1.3") {
                why = "option --tls-version: '" + v + "' is not 1.2 or 1.3";
                return false;
            }
            cfg.tlsVersion = v == "1.2" ? 12 : 13;
        } else {
            why = "unknown option '" + a + "'";
            return false;
        }
    }
    if (cfg.scl.empty() || cfg.ied.empty()) {
        why = "--scl and --ied are required";
        return false;
    }
    if (cfg.listen.empty()) {
        why = "at least one --listen HOST:PORT is required";
        return false;
    }
    if (cfg.listen.size() > 26) {
        why = "at most 26 networks (A..Z)";
        return false;
    }
    if (cfg.tlsCert.empty() != cfg.tlsKey.empty() || (cfg.tlsCert.empty() && (!cfg.tlsCa.empty() || cfg.tlsVersion))) {
        why = "TLS needs both --tls-cert and --tls-key (--tls-ca and --tls-version only with them)";
        return false;
    }
    if (cfg.recordDir.find("..") != std::string::npos || (!cfg.recordDir.empty() && cfg.recordDir[0] == '/')) {
        why = "--record-dir must be a relative folder below --files";
        return false;
    }
    return true;
}

}  // namespace zv::iedsim
