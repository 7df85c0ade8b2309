// Station configuration: the station file, the SCL files it names, and the
// model of every configured server. The format of the station file is
// described at the top of station/station.ini.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/ied_model.h"
#include "scl/scl.h"
#include "zorvan/ai_types.h"

namespace zv::model {

constexpr size_t kMaxStationFileBytes = 1u << 20;  // a station file is a few kB
constexpr size_t kMaxStationLine = 1024;
constexpr int kMaxServers = 1024;
constexpr uint16_t kDefaultMmsPort = 102;          // ISO-TSAP over TCP (RFC 1006)

struct NetAddress {
    std::string host;  // empty: none
    uint16_t port = 0;
    bool present() const { return !host.empty(); }
};

// One [ied NAME] section of the station file.
struct ServerEntry {
    std::string name;
    int line = 0;
    NetAddress a, b;
    bool a_given = false, b_given = false, b_none = false;
    AI_IED_CFG cfg{};
};

// The station file as read.
struct StationFile {
    std::string path;                 // as given
    std::string dir;                  // its folder, for relative SCL paths
    std::vector<std::string> scl_files;  // resolved paths
    std::vector<int> scl_lines;
    std::vector<ServerEntry> servers;   // empty: every IED with a server in the SCL files
};

// Reads a station file; false with an error diagnostic (file, line, reason).
bool read_station_file(const std::string &path, StationFile &out, scl::Diagnostics &diag);

// Parses "host:port"; false if malformed.
bool parse_address(const std::string &text, NetAddress &out);

// A configured server with its model.
struct Server {
    std::string name;
    NetAddress a, b;        // b.present() false: no B network
    AI_IED_CFG cfg{};       // cfg.l links the configurations of the station
    std::unique_ptr<IedModel> model;
};

class Station {
public:
    // Loads the SCL files of the station file and builds every server's model.
    // Null on failure (reasons in diag).
    static std::unique_ptr<Station> load(const StationFile &sf, scl::Diagnostics &diag);

    int server_count() const { return int(servers_.size()); }
    Server *server(int i) { return i >= 0 && i < server_count() ? servers_[size_t(i)].get() : nullptr; }
    int find(const std::string &name) const;  // -1 if none
    AI_IED_CFG *config(const std::string &name);

private:
    std::vector<std::unique_ptr<Server>> servers_;
};

// ---- the process-wide station of libzorvan_ld.so -------------------------

// Station file path: `given` if not null, else $ZORVAN_STATION, else ./station.ini.
std::string station_path(const char *given);
// Reads the station file (ai_init_envir). 0 on success.
int env_init(const char *given);
// Loads SCL and models (ac_init_srvm); reads the station file first if env_init
// was not called. 0 on success; a second call keeps the loaded station.
int env_load_servers();
// Marks the environment closed (ai_uninit_envir). Models stay valid until the
// process ends or a new station replaces them, because application threads may
// still read them after shutdown has begun.
int env_uninit();
// The current station, or null.
Station *env_station();

}  // namespace zv::model
