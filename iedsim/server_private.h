// The parts of the IED simulator's Server shared by its three source files:
// server_loop.cpp (start-up, listeners, the poll loop, each connection's I/O,
// timers), server_services.cpp (the MMS services) and server_control.cpp (the
// control channel). Private to iedsim_core.
#pragma once

#include "server.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zv::iedsim {

// ISO 9506-2 error codes used here.
constexpr int32_t kDefObjectUndefined = 1;
constexpr int32_t kServiceObjectStateConflict = 2;
constexpr int32_t kServicePduSize = 3;
constexpr int32_t kResourceCapabilityUnavailable = 4;
constexpr int32_t kFileOther = 0, kFileBusy = 2, kFileNameSyntax = 3, kFilePositionInvalid = 5, kFileAccessDenied = 6,
                  kFileNonExistent = 7, kFileDuplicate = 8;

struct Server::Conn {
    int id = 0;
    UniqueFd fd;
    size_t net = 0;
    std::string peer;
    std::vector<uint8_t> peerIp;
    std::unique_ptr<tls::Stream> tls;  // with --tls-cert: the session on fd
    std::unique_ptr<iso::ServerAssociation> assoc;
    bool associated = false;
    bool dead = false;
    size_t maxPdu = 65000;
    struct Frsm {
        std::string rel;
        UniqueFd fd;
        uint64_t size = 0, read = 0;  // octets of the file, octets handed out
    };
    std::map<int32_t, Frsm> files;
    int32_t nextFrsm = 1;
    uint32_t nextInvoke = 1;
    struct Obtain {
        uint32_t clientInvoke = 0;
        mms::FileName source;
        std::string dest;
        uint32_t pending = 0;
        int32_t frsm = -1;
        bool closing = false;
        std::vector<uint8_t> data;
        int64_t due = 0;
    };
    std::unique_ptr<Obtain> obtain;
};

struct Server::Ctl {
    UniqueFd fd;
    std::string in;
    std::string out;
    bool discarding = false;
    bool closeAfter = false;
};

}  // namespace zv::iedsim
