// Command line of iedsim and the loopback-only address rule.
#pragma once

#include "device.h"
#include "files.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv::iedsim {

struct Endpoint {
    std::string host;   // dotted IPv4 in 127.0.0.0/8
    uint16_t port = 0;  // 0: the system picks one
    std::string text() const { return host + ":" + std::to_string(port); }
};

struct Config {
    std::string scl;
    std::string ied;
    std::vector<Endpoint> listen;        // network A, B, ... in this order
    std::string files = ".";             // root of the served file store
    std::string recordDir = "COMTRADE";  // recordings go here, below `files`
    std::string control;                 // "unix:/path", "HOST:PORT" or empty
    std::string portFile;                // written once every listener is bound
    std::string logFile;                 // empty: standard error
    std::string entryLog;                // every buffered entry's way, one line each (empty: none)
    uint64_t seed = 1;
    uint32_t simPeriodMs = 1000;  // 0: values only change on command
    uint32_t recordEverySec = 0;  // 0: only on command
    uint32_t initialRecordings = 0;
    uint32_t pduSize = 65000;                               // largest MMS PDU we send or accept
    uint32_t dirPage = 0;                                   // most entries per FileDirectory answer (0: as many as fit)
    FileTimes fileTimes;                                    // how file times are written
    bool gb18030Names = false;                              // recordings named in GB18030 (<IED>故障录波_<time>)
    std::vector<std::string> recordParts = {"cfg", "dat"};  // files of a recording (parseRecordParts)
    uint32_t journalPage = 0;                               // most entries per ReadJournal answer (0: as many as fit)
    uint32_t ctlExecMs = 50;  // from a taken Oper to its execution (and command termination)
    bool verbose = false;     // log every request and report
    DeviceProfile device;     // the kind of device played
    // The device's ISO addressing and authentication: a connect that names
    // other selectors, AP title or AE qualifier, or lacks the password, is
    // refused. Unset: anything is taken.
    std::optional<std::vector<uint8_t>> tsel, ssel, psel;
    std::optional<std::vector<uint32_t>> apTitle;
    std::optional<int64_t> aeQualifier;
    std::optional<std::string> password;  // never logged
    // TLS under TPKT on every listener (IEC 62351-3): this device's
    // certificate and key (PEM); with tlsCa a client must present a
    // certificate issued by one of those CAs. tlsVersion 0: TLS 1.2 and 1.3.
    std::string tlsCert, tlsKey, tlsCa;
    int tlsVersion = 0;  // 0, or 12 / 13: only that version
};

// Parses "HOST:PORT" with HOST "localhost" or a dotted IPv4 address of
// 127.0.0.0/8. False with a reason otherwise (other addresses are refused).
bool parseEndpoint(const std::string& text, Endpoint& out, std::string& why);

// Parses the command line; false with a message (usage errors, refused
// addresses). `help` is set for --help.
bool parseArgs(const std::vector<std::string>& args, Config& cfg, std::string& why, bool& help);

const char* usageText();

}  // namespace zv::iedsim
