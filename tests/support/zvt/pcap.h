// Live captures on the loopback interface (tshark -i lo -w FILE): knowing
// when the file holds what was sent, so that a test stops the capture on a
// condition rather than after a pause.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "zvt/wait.h"

namespace zvt {

// Waits until the capture file `pcap` of a capture on lo filtering "tcp port
// `port`" holds every frame sent before the call: a probe connection to that
// port (refused or accepted) comes after them on lo, so once its SYN is in
// the file (its TCP header's port pair in the bytes), so are they. dumpcap
// writes its file in bursts; the stop (SIGINT) writes the rest. False when
// the probe never arrived.
inline bool captured_up_to_now(const std::string &pcap, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&from), &len);
    // Source and destination port, as they open the TCP header.
    const char ports[4] = {char(ntohs(from.sin_port) >> 8), char(ntohs(from.sin_port) & 0xff), char(port >> 8),
                           char(port & 0xff)};
    const std::string header(ports, sizeof ports);
    const bool arrived = eventually(
        [&] {
            std::ifstream f(pcap, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            return bytes.find(header) != std::string::npos;
        },
        10000);
    ::close(fd);
    return arrived;
}

}  // namespace zvt
