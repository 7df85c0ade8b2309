// Station configuration: the station file, the SCL files it names, and the
// model of every configured server. The format of the station file is
// described at the top of station/station.ini.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "model/ied_model.h"
#include "scl/scl.h"
#include "zorvan/ai_types.h"

namespace zv::model {

constexpr size_t kMaxStationFileBytes = 1u << 20;  // a station file is a few kB
constexpr size_t kMaxStationLine = 1024;
constexpr int kMaxServers = 1024;
constexpr uint16_t kDefaultMmsPort = 102;   // ISO-TSAP over TCP (RFC 1006)
constexpr uint16_t kDefaultTlsPort = 3782;  // ISO-TSAP over TLS (IEC 62351-3, iso-tsap-s)

// Bounds of ISO addressing values, those of the protocol layers that carry
// them: TSAP (as the stack's COTP bounds it), SSEL (ISO 8327-1), PSEL (as
// the stack's presentation layer bounds it); the password as the AARQ
// decoder bounds it.
constexpr size_t kMaxTselOctets = 32;
constexpr size_t kMaxSselOctets = 16;
constexpr size_t kMaxPselOctets = 16;
constexpr size_t kMaxApTitleArcs = 32;
constexpr size_t kMaxPasswordLength = 256;

// ISO addressing of one end of an association (IEC 61850-8-1 over the OSI
// upper layers). An unset field keeps the stack's default; an empty
// selector leaves it out of the PDU.
struct IsoAddress {
    std::optional<std::vector<uint8_t>> tsel, ssel, psel;
    std::optional<std::vector<uint32_t>> ap_title;  // object identifier arcs
    std::optional<int64_t> ae_qualifier, ap_invoke, ae_invoke;
};

// Parsers of the addressing values, as the station file and SCL write them;
// false with a reason that does not repeat the text.
// Selector: hex octets ("0001", "00000001"), 1..max_octets, or "none".
bool parse_selector(const std::string &text, size_t max_octets, std::vector<uint8_t> &out, std::string &why);
// AP title: an object identifier, dotted ("1.1.1.999.1") or with commas as
// SCL writes it ("1,1,1,999,1").
bool parse_ap_title(const std::string &text, std::vector<uint32_t> &out, std::string &why);
// AE qualifier and invocation identifiers: a decimal integer (32 bits).
bool parse_iso_integer(const std::string &text, int64_t &out, std::string &why);

struct NetAddress {
    std::string host;   // empty: none
    uint16_t port = 0;  // 0 in a station entry: not given (the default of the transport)
    bool present() const { return !host.empty(); }
};

// Where a server's model comes from (station key `model`).
enum class ModelSource {
    Scl,     // the SCL files
    Device,  // the device itself, browsed at its first association
    Check,   // the SCL files, compared with the device at each association
};
const char *model_source_name(ModelSource s);

// TLS under TPKT (IEC 62351-3/-4) to one device: its certificate is
// verified against `ca` (chain, validity) and, when given, must have the
// pinned SHA-256 fingerprint; this client presents `cert`/`key` when given.
// Paths are resolved from the station file's folder. The key's contents
// never reach a log.
struct TlsSettings {
    bool on = false;
    std::string ca, cert, key;         // PEM files
    std::vector<uint8_t> fingerprint;  // empty: no pin
};

// One [ied NAME] section of the station file.
struct ServerEntry {
    std::string name;
    int line = 0;
    NetAddress a, b;
    bool a_given = false, b_given = false, b_none = false;
    AI_IED_CFG cfg{};
    IsoAddress called, calling;           // station keys (tsel, ..., local_tsel, ...)
    std::optional<std::string> password;  // ACSE password authentication
    ModelSource source = ModelSource::Scl;
    TlsSettings tls;
    int a_line = 0, b_line = 0, tls_line = 0;  // where addr_a, addr_b, the first tls* key stand
};

// The station file as read.
struct StationFile {
    std::string path;                    // as given
    std::string dir;                     // its folder, for relative SCL paths
    std::vector<std::string> scl_files;  // resolved paths
    std::vector<int> scl_lines;
    std::vector<ServerEntry> servers;  // empty: every IED with a server in the SCL files
};

// Reads a station file; false with an error diagnostic (file, line, reason).
bool read_station_file(const std::string &path, StationFile &out, scl::Diagnostics &diag);

// Parses "host:port"; false if malformed. With `port_optional` a bare host
// is taken too (port 0: the transport's default).
bool parse_address(const std::string &text, NetAddress &out, bool port_optional = false);

// The model of a server. Readers on any thread take the current one; the
// network thread may install another once (a device's own model arriving).
// A replaced model is kept until the process ends, because application
// threads may still read through pointers they took before.
class ModelSlot {
public:
    ModelSlot &operator=(std::unique_ptr<IedModel> m);
    IedModel *get() const { return current_.load(std::memory_order_acquire); }
    IedModel *operator->() const { return get(); }
    IedModel &operator*() const { return *get(); }
    explicit operator bool() const { return get() != nullptr; }

private:
    std::atomic<IedModel *> current_{nullptr};
    std::mutex mutex_;
    std::vector<std::unique_ptr<IedModel>> owned_;  // guarded by mutex_; the current one is last
};

// A configured server with its model.
struct Server {
    std::string name;
    NetAddress a, b;                      // b.present() false: no B network
    AI_IED_CFG cfg{};                     // cfg.l links the configurations of the station
    IsoAddress called_a, called_b;        // the device per network: SCL Address, then station keys
    IsoAddress calling;                   // this client: station keys
    std::optional<std::string> password;  // never written to a log
    ModelSource source = ModelSource::Scl;
    TlsSettings tls;  // tls.on: both networks run TLS
    // Device: an empty model (the IED without LDs) until the device's own
    // arrives; then that one.
    ModelSlot model;
};

// The model of an IED that has not described itself yet: the IED without
// logical devices.
std::unique_ptr<IedModel> empty_model(const std::string &ied_name);

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
