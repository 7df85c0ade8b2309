// Station file, SCL files and the models of the configured servers.
#include "model/station.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include <unistd.h>

namespace zv::model {

namespace {

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool parse_int(const std::string &s, long lo, long hi, int32_t &out) {
    if (s.empty() || s.size() > 11) return false;
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < lo || v > hi) return false;
    out = int32_t(v);
    return true;
}

AI_IED_CFG default_cfg() {
    AI_IED_CFG c{};
    c.max_dyn_ds_num = 0;
    c.auto_acssoc_time = 30;
    c.keep_con_A = 1;
    c.keep_con_B = 1;
    c.chnlA_NO = 1;
    c.chnlB_NO = 2;
    return c;
}

// Station keys that override the device's addressing, and this client's.
bool iso_key(const std::string &key, const std::string &val, IsoAddress &called, IsoAddress &calling,
             std::string &why) {
    const bool local = key.compare(0, 6, "local_") == 0;
    IsoAddress &dst = local ? calling : called;
    const std::string k = local ? key.substr(6) : key;
    if (k == "tsel" || k == "ssel" || k == "psel") {
        std::vector<uint8_t> sel;
        const size_t max = k == "tsel" ? kMaxTselOctets : k == "ssel" ? kMaxSselOctets : kMaxPselOctets;
        if (!parse_selector(val, max, sel, why)) return false;
        (k == "tsel" ? dst.tsel : k == "ssel" ? dst.ssel : dst.psel) = std::move(sel);
        return true;
    }
    if (k == "ap_title") {
        std::vector<uint32_t> arcs;
        if (!parse_ap_title(val, arcs, why)) return false;
        dst.ap_title = std::move(arcs);
        return true;
    }
    int64_t v = 0;
    if (!parse_iso_integer(val, v, why)) return false;
    dst.ae_qualifier = v;
    return true;
}

// SHA-256 fingerprint of a device certificate: 32 hex octets, colons (or
// blanks) between octets allowed, as openssl x509 -fingerprint prints it.
constexpr size_t kFingerprintOctets = 32;
bool parse_fingerprint(const std::string &text, std::vector<uint8_t> &out) {
    std::vector<uint8_t> v;
    int high = -1;
    for (char c : text) {
        if ((c == ':' || c == ' ') && high < 0) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = d;
            continue;
        }
        if (v.size() == kFingerprintOctets) return false;
        v.push_back(uint8_t(high << 4 | d));
        high = -1;
    }
    if (high >= 0 || v.size() != kFingerprintOctets) return false;
    out = std::move(v);
    return true;
}

// The TLS settings of one section once it is read whole (keys come in any
// order): complete, consistent and readable files; a bare host only with TLS.
bool check_tls(ServerEntry &e, const std::string &path, scl::Diagnostics &diag) {
    TlsSettings &t = e.tls;
    const bool any = !t.ca.empty() || !t.cert.empty() || !t.key.empty() || !t.fingerprint.empty();
    auto fail = [&](int line, const std::string &why) {
        diag.error(path, line, why);
        return false;
    };
    if (!t.on && any) return fail(e.tls_line, "TLS keys of IED '" + e.name + "' without 'tls = 1'");
    if (t.on && t.ca.empty())
        return fail(e.tls_line,
                    "'tls = 1' of IED '" + e.name + "' needs 'tls_ca', the CA certificates that verify the device");
    if (t.cert.empty() != t.key.empty())
        return fail(e.tls_line, "'tls_cert' and 'tls_key' of IED '" + e.name + "' go together");
    for (const std::string *f : {&t.ca, &t.cert, &t.key})
        if (!f->empty() && ::access(f->c_str(), R_OK) != 0)
            return fail(e.tls_line,
                        "TLS file '" + *f + "' of IED '" + e.name + "' cannot be read: " + std::strerror(errno));
    if (!t.on) {
        if (e.a_given && e.a.port == 0)
            return fail(e.a_line,
                        "addr_a '" + e.a.host + "' is not host:port (only with tls = 1 may the port be left out)");
        if (e.b_given && e.b.port == 0)
            return fail(e.b_line,
                        "addr_b '" + e.b.host + "' is not host:port (only with tls = 1 may the port be left out)");
    }
    return true;
}

bool is_iso_key(const std::string &key) {
    static const char *const kKeys[] = {"tsel", "ssel", "psel", "ap_title", "ae_qualifier"};
    const std::string k = key.compare(0, 6, "local_") == 0 ? key.substr(6) : key;
    for (const char *n : kKeys)
        if (k == n) return true;
    return false;
}

// The OSI parameters of an SCL Address; false with a diagnostic at the P.
bool scl_iso(const scl::Address &a, const std::string &file, IsoAddress &out, scl::Diagnostics &diag) {
    std::string why;
    auto sel = [&](const scl::AddressParam &p, const char *type, size_t max, std::optional<std::vector<uint8_t>> &dst) {
        if (!p.given()) return true;
        std::vector<uint8_t> v;
        if (!parse_selector(trim(p.text), max, v, why)) {
            diag.error(file, p.line, std::string(type) + " of " + a.access_point + ": " + why);
            return false;
        }
        dst = std::move(v);
        return true;
    };
    auto integer = [&](const scl::AddressParam &p, const char *type, std::optional<int64_t> &dst) {
        if (!p.given()) return true;
        int64_t v = 0;
        if (!parse_iso_integer(trim(p.text), v, why)) {
            diag.error(file, p.line, std::string(type) + " of " + a.access_point + ": " + why);
            return false;
        }
        dst = v;
        return true;
    };
    if (!sel(a.osi_tsel, "OSI-TSEL", kMaxTselOctets, out.tsel) ||
        !sel(a.osi_ssel, "OSI-SSEL", kMaxSselOctets, out.ssel) ||
        !sel(a.osi_psel, "OSI-PSEL", kMaxPselOctets, out.psel))
        return false;
    if (a.osi_ap_title.given()) {
        std::vector<uint32_t> arcs;
        if (!parse_ap_title(trim(a.osi_ap_title.text), arcs, why)) {
            diag.error(file, a.osi_ap_title.line, "OSI-AP-Title of " + a.access_point + ": " + why);
            return false;
        }
        out.ap_title = std::move(arcs);
    }
    return integer(a.osi_ae_qualifier, "OSI-AE-Qualifier", out.ae_qualifier) &&
           integer(a.osi_ap_invoke, "OSI-AP-Invoke", out.ap_invoke) &&
           integer(a.osi_ae_invoke, "OSI-AE-Invoke", out.ae_invoke);
}

// Station keys win over the SCL.
void overlay(IsoAddress &dst, const IsoAddress &keys) {
    if (keys.tsel) dst.tsel = keys.tsel;
    if (keys.ssel) dst.ssel = keys.ssel;
    if (keys.psel) dst.psel = keys.psel;
    if (keys.ap_title) dst.ap_title = keys.ap_title;
    if (keys.ae_qualifier) dst.ae_qualifier = keys.ae_qualifier;
}

}  // namespace

bool parse_selector(const std::string &text, size_t max_octets, std::vector<uint8_t> &out, std::string &why) {
    out.clear();
    if (text == "none") return true;
    if (text.empty() || text.size() % 2 != 0 || text.size() > 2 * max_octets) {
        why = "a selector is 1 to " + std::to_string(max_octets) + " octets as an even number of hex digits, or none";
        return false;
    }
    for (size_t i = 0; i < text.size(); i += 2) {
        int v = 0;
        for (size_t k = i; k < i + 2; ++k) {
            const char c = text[k];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0) {
                why = "a selector is hex digits (0-9, A-F), found another character at position " +
                      std::to_string(k + 1);
                return false;
            }
            v = v * 16 + d;
        }
        out.push_back(uint8_t(v));
    }
    return true;
}

bool parse_ap_title(const std::string &text, std::vector<uint32_t> &out, std::string &why) {
    out.clear();
    const char sep = text.find(',') != std::string::npos ? ',' : '.';
    size_t pos = 0;
    while (true) {
        const size_t end = std::min(text.find(sep, pos), text.size());
        const std::string arc = text.substr(pos, end - pos);
        if (arc.empty() || arc.size() > 10 || arc.find_first_not_of("0123456789") != std::string::npos) {
            why = "an AP title is an object identifier of numbers separated by '.' (or ',' as in SCL)";
            return false;
        }
        const unsigned long long v = std::strtoull(arc.c_str(), nullptr, 10);
        if (v > 0xFFFFFFFFull) {
            why = "an AP title arc exceeds 32 bits";
            return false;
        }
        if (out.size() == kMaxApTitleArcs) {
            why = "an AP title has at most " + std::to_string(kMaxApTitleArcs) + " arcs";
            return false;
        }
        out.push_back(uint32_t(v));
        if (end == text.size()) break;
        pos = end + 1;
    }
    // X.690 8.19.4: the first two arcs share one subidentifier.
    if (out.size() < 2 || out[0] > 2 || (out[0] < 2 && out[1] > 39) || (out[0] == 2 && out[1] > 0xFFFFFFFFu - 80)) {
        why = "an AP title needs at least two arcs, the first 0..2 and the second below 40 unless the first is 2";
        return false;
    }
    return true;
}

bool parse_iso_integer(const std::string &text, int64_t &out, std::string &why) {
    int32_t v = 0;
    if (!parse_int(text, INT32_MIN, INT32_MAX, v)) {
        why = "not a decimal integer of 32 bits";
        return false;
    }
    out = v;
    return true;
}

bool parse_address(const std::string &text, NetAddress &out, bool port_optional) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos && port_optional && !text.empty()) colon = text.size();
    if (colon == std::string::npos || colon == 0 || (colon + 1 >= text.size() && colon != text.size())) return false;
    std::string host = text.substr(0, colon);
    if (host.size() > 255) return false;
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_')) return false;
    int32_t port = 0;
    if (colon < text.size() && !parse_int(text.substr(colon + 1), 1, 65535, port)) return false;
    out.host = host;
    out.port = uint16_t(port);
    return true;
}

bool read_station_file(const std::string &path, StationFile &out, scl::Diagnostics &diag) {
    out = StationFile();
    out.path = path;
    size_t slash = path.rfind('/');
    out.dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        diag.error(path, 0, std::string("cannot open station file: ") + std::strerror(errno));
        return false;
    }
    std::string line;
    int no = 0;
    size_t total = 0;
    enum { None, StationSec, IedSec } section = None;
    bool saw_station = false;
    std::set<std::string> keys;  // keys of the current [ied] section
    std::set<std::string> names;
    while (std::getline(in, line)) {
        ++no;
        total += line.size() + 1;
        if (total > kMaxStationFileBytes) {
            diag.error(path, no, "station file larger than 1 MiB");
            return false;
        }
        if (line.size() > kMaxStationLine) {
            diag.error(path, no, "line longer than " + std::to_string(kMaxStationLine) + " characters");
            return false;
        }
        // Comments: whole lines, or after whitespace at the end of a line.
        std::string t = trim(line);
        if (t.empty() || t[0] == '#' || t[0] == ';') continue;
        for (size_t i = 1; i < t.size(); ++i)
            if ((t[i] == '#' || t[i] == ';') && (t[i - 1] == ' ' || t[i - 1] == '\t')) {
                t = trim(t.substr(0, i));
                break;
            }
        if (t[0] == '[') {
            if (t.back() != ']') {
                diag.error(path, no, "section header without ']'");
                return false;
            }
            std::string sec = trim(t.substr(1, t.size() - 2));
            if (sec == "station") {
                if (saw_station) {
                    diag.error(path, no, "second [station] section");
                    return false;
                }
                saw_station = true;
                section = StationSec;
            } else if (sec.compare(0, 4, "ied ") == 0) {
                std::string name = trim(sec.substr(4));
                if (!scl::valid_name(name)) {
                    diag.error(path, no,
                               "IED name '" + name.substr(0, 80) + "' is not a valid name of 1 to 64 characters");
                    return false;
                }
                if (!names.insert(name).second) {
                    diag.error(path, no, "second section for IED '" + name + "'");
                    return false;
                }
                if (int(out.servers.size()) >= kMaxServers) {
                    diag.error(path, no, "more than " + std::to_string(kMaxServers) + " IEDs");
                    return false;
                }
                ServerEntry e;
                e.name = name;
                e.line = no;
                e.cfg = default_cfg();
                copy_field(e.cfg.ied_name, AI_OBJ_NAME_LEN, name);
                out.servers.push_back(e);
                keys.clear();
                section = IedSec;
            } else {
                diag.error(path, no, "unknown section [" + sec.substr(0, 80) + "]");
                return false;
            }
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos) {
            diag.error(path, no, "expected 'key = value'");
            return false;
        }
        std::string key = trim(t.substr(0, eq));
        std::string val = trim(t.substr(eq + 1));
        if (section == None) {
            diag.error(path, no, "'" + key + "' outside a section");
            return false;
        }
        if (section == StationSec) {
            if (key != "scl") {
                diag.error(path, no, "unknown key '" + key + "' in [station]");
                return false;
            }
            if (val.empty()) {
                diag.error(path, no, "empty SCL file name");
                return false;
            }
            out.scl_files.push_back(val[0] == '/' ? val : out.dir + "/" + val);
            out.scl_lines.push_back(no);
            continue;
        }
        ServerEntry &e = out.servers.back();
        if (!keys.insert(key).second) {
            diag.error(path, no, "key '" + key + "' given twice for IED '" + e.name + "'");
            return false;
        }
        auto int_key = [&](long lo, long hi, int32_t &dst) {
            if (!parse_int(val, lo, hi, dst)) {
                diag.error(path, no,
                           "'" + key + "' must be a number from " + std::to_string(lo) + " to " + std::to_string(hi));
                return false;
            }
            return true;
        };
        auto flag_key = [&](ST_UCHAR &dst) {
            int32_t v = 0;
            if (!int_key(0, 1, v)) return false;
            dst = ST_UCHAR(v);
            return true;
        };
        bool ok = true;
        if (key == "addr_a") {
            ok = parse_address(val, e.a, true);  // a bare host is checked against tls at the end
            e.a_given = ok;
            e.a_line = no;
            if (!ok) diag.error(path, no, "addr_a '" + val.substr(0, 80) + "' is not host:port");
        } else if (key == "addr_b") {
            if (val == "none") {
                e.b_none = true;
            } else {
                ok = parse_address(val, e.b, true);
                e.b_given = ok;
                e.b_line = no;
                if (!ok) diag.error(path, no, "addr_b '" + val.substr(0, 80) + "' is not host:port or none");
            }
        } else if (key == "chnlA_NO") {
            ok = int_key(0, 99, e.cfg.chnlA_NO);
        } else if (key == "chnlB_NO") {
            ok = int_key(0, 99, e.cfg.chnlB_NO);
        } else if (key == "keep_con_A") {
            ok = flag_key(e.cfg.keep_con_A);
        } else if (key == "keep_con_B") {
            ok = flag_key(e.cfg.keep_con_B);
        } else if (key == "max_dyn_ds_num") {
            ok = int_key(0, 1000, e.cfg.max_dyn_ds_num);
        } else if (key == "auto_assoc_time") {
            ok = int_key(0, 86400, e.cfg.auto_acssoc_time);
        } else if (key == "sg_variable_list") {
            ok = flag_key(e.cfg.sg_variable_list);
        } else if (key == "ied_create_dir") {
            ok = flag_key(e.cfg.ied_create_dir);
        } else if (key == "many_inst") {
            ok = flag_key(e.cfg.many_inst);
        } else if (is_iso_key(key)) {
            std::string why;
            ok = iso_key(key, val, e.called, e.calling, why);
            if (!ok) diag.error(path, no, "'" + key + "' of IED '" + e.name + "': " + why);
        } else if (key == "model") {
            ok = val == "scl" || val == "device" || val == "check";
            if (ok)
                e.source = val == "device"  ? ModelSource::Device
                           : val == "check" ? ModelSource::Check
                                            : ModelSource::Scl;
            else
                diag.error(path, no, "'model' of IED '" + e.name + "' must be scl, device or check");
        } else if (key == "password") {
            // ISO 8650-1 charstring (GraphicString): no control characters.
            // The value never goes into a diagnostic.
            ok = !val.empty() && val.size() <= kMaxPasswordLength;
            for (char c : val) ok = ok && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
            if (ok)
                e.password = val;
            else
                diag.error(path, no,
                           "'password' of IED '" + e.name + "' must be 1 to " + std::to_string(kMaxPasswordLength) +
                               " characters without control characters");
        } else if (key == "tls" || key == "tls_ca" || key == "tls_cert" || key == "tls_key" ||
                   key == "tls_peer_fingerprint") {
            if (e.tls_line == 0) e.tls_line = no;
            if (key == "tls") {
                ST_UCHAR on = 0;
                ok = flag_key(on);
                e.tls.on = on != 0;
            } else if (key == "tls_peer_fingerprint") {
                ok = parse_fingerprint(val, e.tls.fingerprint);
                if (!ok)
                    diag.error(path, no,
                               "'tls_peer_fingerprint' of IED '" + e.name +
                                   "' must be the 32 octets of a SHA-256 fingerprint in hex, colons allowed");
            } else if (val.empty()) {
                diag.error(path, no, "'" + key + "' of IED '" + e.name + "' names no file");
                ok = false;
            } else {
                // The key file's name may be logged, never what it holds.
                (key == "tls_ca"     ? e.tls.ca
                 : key == "tls_cert" ? e.tls.cert
                                     : e.tls.key) = val[0] == '/' ? val : out.dir + "/" + val;
            }
        } else {
            diag.error(path, no, "unknown key '" + key + "' for IED '" + e.name + "'");
            ok = false;
        }
        if (!ok) return false;
    }
    for (ServerEntry &e : out.servers)
        if (!check_tls(e, path, diag)) return false;
    // A station whose IEDs all describe themselves needs no SCL.
    bool all_device = !out.servers.empty();
    for (const ServerEntry &e : out.servers) all_device = all_device && e.source == ModelSource::Device;
    if (out.scl_files.empty() && !all_device) {
        diag.error(path, no, "no SCL file named ([station] scl = FILE)");
        return false;
    }
    return true;
}

const char *model_source_name(ModelSource s) {
    switch (s) {
    case ModelSource::Scl: return "scl";
    case ModelSource::Device: return "device";
    case ModelSource::Check: return "check";
    }
    return "?";
}

ModelSlot &ModelSlot::operator=(std::unique_ptr<IedModel> m) {
    std::lock_guard<std::mutex> lock(mutex_);
    IedModel *p = m.get();
    if (p) owned_.push_back(std::move(m));
    current_.store(p, std::memory_order_release);
    return *this;
}

std::unique_ptr<IedModel> empty_model(const std::string &ied_name) {
    auto doc = std::make_shared<scl::Document>();
    doc->file = "(device " + ied_name + ")";
    doc->has_templates = true;
    scl::Ied ied;
    ied.name = ied_name;
    ied.has_server = true;
    doc->ieds.push_back(std::move(ied));
    scl::Diagnostics quiet(true);  // "no logical device" is what is meant here
    return IedModel::build(doc, doc->ieds.front(), quiet);
}

std::unique_ptr<Station> Station::load(const StationFile &sf, scl::Diagnostics &diag) {
    std::vector<std::shared_ptr<scl::Document>> docs;
    struct Found {
        std::shared_ptr<scl::Document> doc;
        const scl::Ied *ied;
    };
    std::map<std::string, Found> by_name;
    std::vector<std::string> order;
    for (size_t i = 0; i < sf.scl_files.size(); ++i) {
        auto doc = std::make_shared<scl::Document>();
        if (!scl::parse_file(sf.scl_files[i], *doc, diag)) {
            diag.error(sf.path, sf.scl_lines[i], "SCL file '" + sf.scl_files[i] + "' cannot be used");
            return nullptr;
        }
        for (const scl::Ied &ied : doc->ieds) {
            if (by_name.count(ied.name)) {
                diag.error(doc->file, ied.line, "IED '" + ied.name + "' is defined in two SCL files");
                return nullptr;
            }
            by_name[ied.name] = Found{doc, &ied};
            if (ied.has_server) order.push_back(ied.name);
        }
        docs.push_back(doc);
    }
    std::vector<ServerEntry> entries = sf.servers;
    if (entries.empty()) {
        for (const std::string &n : order) {
            ServerEntry e;
            e.name = n;
            e.cfg = default_cfg();
            copy_field(e.cfg.ied_name, AI_OBJ_NAME_LEN, n);
            entries.push_back(e);
        }
    }
    if (entries.empty()) {
        diag.error(sf.path, 0, "the station has no IED with a server");
        return nullptr;
    }
    auto st = std::unique_ptr<Station>(new Station());
    for (const ServerEntry &e : entries) {
        if (e.source == ModelSource::Device) {
            // No SCL: the device says what it holds at its first association.
            if (!e.a_given) {
                diag.error(sf.path, e.line, "IED '" + e.name + "' (model = device) needs addr_a");
                return nullptr;
            }
            auto srv = std::make_unique<Server>();
            srv->name = e.name;
            srv->cfg = e.cfg;
            srv->a = e.a;
            if (e.b_given) srv->b = e.b;
            // Without a port of its own: 102, or 3782 for TLS (IEC 62351-3).
            for (NetAddress *n : {&srv->a, &srv->b})
                if (n->present() && n->port == 0) n->port = e.tls.on ? kDefaultTlsPort : kDefaultMmsPort;
            overlay(srv->called_a, e.called);
            overlay(srv->called_b, e.called);
            srv->calling = e.calling;
            srv->password = e.password;
            srv->source = e.source;
            srv->tls = e.tls;
            srv->model = empty_model(e.name);
            if (!srv->model) {
                diag.error(sf.path, e.line, "no model could be built for IED '" + e.name + "'");
                return nullptr;
            }
            st->servers_.push_back(std::move(srv));
            continue;
        }
        auto it = by_name.find(e.name);
        if (it == by_name.end()) {
            diag.error(sf.path, e.line, "IED '" + e.name + "' is not in the SCL files");
            return nullptr;
        }
        const scl::Ied &ied = *it->second.ied;
        if (!ied.has_server) {
            diag.error(sf.path, e.line, "IED '" + e.name + "' has no server access point");
            return nullptr;
        }
        auto srv = std::make_unique<Server>();
        srv->name = e.name;
        srv->cfg = e.cfg;
        const std::vector<scl::Address> *scl_addr = nullptr;
        auto ad = it->second.doc->addresses.find(e.name);
        if (ad != it->second.doc->addresses.end()) scl_addr = &ad->second;
        // Without a port of its own an address takes the transport's: 102,
        // or 3782 for TLS (IEC 62351-3).
        const uint16_t default_port = e.tls.on ? kDefaultTlsPort : kDefaultMmsPort;
        if (e.a_given) {
            srv->a = e.a;
            if (srv->a.port == 0) srv->a.port = default_port;
        } else if (scl_addr && !scl_addr->empty()) {
            srv->a = NetAddress{(*scl_addr)[0].ip, default_port};
        } else {
            diag.error(sf.path, e.line,
                       "IED '" + e.name + "' has no network A address (addr_a, or the SCL Communication section)");
            return nullptr;
        }
        if (e.b_given) {
            srv->b = e.b;
            if (srv->b.port == 0) srv->b.port = default_port;
        } else if (!e.b_none && scl_addr && scl_addr->size() > 1) {
            srv->b = NetAddress{(*scl_addr)[1].ip, default_port};
        }
        // Each network reaches the access point of its own SCL Address; B
        // without one of its own shares A's.
        if (scl_addr && !scl_addr->empty()) {
            const std::string &file = it->second.doc->file;
            if (!scl_iso((*scl_addr)[0], file, srv->called_a, diag)) return nullptr;
            if (scl_addr->size() > 1) {
                if (!scl_iso((*scl_addr)[1], file, srv->called_b, diag)) return nullptr;
            } else {
                srv->called_b = srv->called_a;
            }
        }
        overlay(srv->called_a, e.called);
        overlay(srv->called_b, e.called);
        srv->calling = e.calling;
        srv->password = e.password;
        srv->source = e.source;
        srv->tls = e.tls;
        srv->model = IedModel::build(it->second.doc, ied, diag);
        if (!srv->model) {
            diag.error(sf.path, e.line, "no model could be built for IED '" + e.name + "'");
            return nullptr;
        }
        st->servers_.push_back(std::move(srv));
    }
    // Link the configurations in server order (the list is the stack's).
    for (size_t i = 0; i < st->servers_.size(); ++i) {
        DBL_LNK &l = st->servers_[i]->cfg.l;
        l.prev = i > 0 ? &st->servers_[i - 1]->cfg.l : nullptr;
        l.next = i + 1 < st->servers_.size() ? &st->servers_[i + 1]->cfg.l : nullptr;
    }
    return st;
}

int Station::find(const std::string &name) const {
    for (size_t i = 0; i < servers_.size(); ++i)
        if (servers_[i]->name == name) return int(i);
    return -1;
}

AI_IED_CFG *Station::config(const std::string &name) {
    int i = find(name);
    return i < 0 ? nullptr : &servers_[size_t(i)]->cfg;
}

// ---- process-wide environment ------------------------------------------------

namespace {

struct Env {
    std::mutex mutex;
    std::unique_ptr<StationFile> file;               // guarded by mutex
    std::vector<std::unique_ptr<Station>> stations;  // guarded by mutex; kept until exit
    std::atomic<Station *> current{nullptr};
};

Env &env() {
    static Env e;
    return e;
}

int init_locked(Env &e, const char *given) {
    auto sf = std::make_unique<StationFile>();
    scl::Diagnostics diag;
    if (!read_station_file(station_path(given), *sf, diag)) return 1;
    e.file = std::move(sf);
    return 0;
}

}  // namespace

std::string station_path(const char *given) {
    if (given && *given) return given;
    const char *envp = std::getenv("ZORVAN_STATION");
    if (envp && *envp) return envp;
    return "station.ini";
}

int env_init(const char *given) {
    Env &e = env();
    std::lock_guard<std::mutex> lock(e.mutex);
    return init_locked(e, given);
}

int env_load_servers() {
    Env &e = env();
    std::lock_guard<std::mutex> lock(e.mutex);
    if (e.current.load()) return 0;
    if (!e.file && init_locked(e, nullptr) != 0) return 1;
    scl::Diagnostics diag;
    std::unique_ptr<Station> st = Station::load(*e.file, diag);
    if (!st) return 1;
    e.current.store(st.get());
    e.stations.push_back(std::move(st));
    return 0;
}

int env_uninit() {
    Env &e = env();
    std::lock_guard<std::mutex> lock(e.mutex);
    e.file.reset();
    e.current.store(nullptr);
    return 0;
}

Station *env_station() { return env().current.load(); }

}  // namespace zv::model
