// Station file, SCL files and the models of the configured servers.
#include "model/station.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

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

}  // namespace

bool parse_address(const std::string &text, NetAddress &out) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
    std::string host = text.substr(0, colon);
    if (host.size() > 255) return false;
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_')) return false;
    int32_t port = 0;
    if (!parse_int(text.substr(colon + 1), 1, 65535, port)) return false;
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
                    diag.error(path, no, "IED name '" + name.substr(0, 80) + "' is not a valid name of 1 to 64 characters");
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
            ok = parse_address(val, e.a);
            e.a_given = ok;
            if (!ok) diag.error(path, no, "addr_a '" + val.substr(0, 80) + "' is not host:port");
        } else if (key == "addr_b") {
            if (val == "none") {
                e.b_none = true;
            } else {
                ok = parse_address(val, e.b);
                e.b_given = ok;
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
        } else {
            diag.error(path, no, "unknown key '" + key + "' for IED '" + e.name + "'");
            ok = false;
        }
        if (!ok) return false;
    }
    if (out.scl_files.empty()) {
        diag.error(path, no, "no SCL file named ([station] scl = FILE)");
        return false;
    }
    return true;
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
        if (e.a_given) {
            srv->a = e.a;
        } else if (scl_addr && !scl_addr->empty()) {
            srv->a = NetAddress{(*scl_addr)[0].ip, kDefaultMmsPort};
        } else {
            diag.error(sf.path, e.line, "IED '" + e.name + "' has no network A address (addr_a, or the SCL Communication section)");
            return nullptr;
        }
        if (e.b_given)
            srv->b = e.b;
        else if (!e.b_none && scl_addr && scl_addr->size() > 1)
            srv->b = NetAddress{(*scl_addr)[1].ip, kDefaultMmsPort};
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
    std::unique_ptr<StationFile> file;                 // guarded by mutex
    std::vector<std::unique_ptr<Station>> stations;    // guarded by mutex; kept until exit
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
