// Runs a helper program the way its parent does: inherited descriptors at
// fixed numbers, command line of decimal numbers, stdout captured. Every
// descriptor the test opens is close-on-exec, so the child sees only the ones
// handed to it.
#pragma once

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "zvt/child.h"

namespace helpers_test {

using Bytes = std::vector<std::uint8_t>;
constexpr int kWaitMs = 5000;  // generous bound for anything that must happen
constexpr int kQuietMs = 80;   // how long "nothing happens" is watched

using Fd = zv::UniqueFd;
using zvt::readable;

inline std::pair<Fd, Fd> makePipe() {
    auto p = zvt::make_pipe();
    EXPECT_TRUE(p.first.valid()) << "pipe2: " << std::strerror(errno);
    return p;
}

// A helper started with inherited descriptors at fixed numbers: each
// (source, target) pair appears in the child as descriptor target.
struct Child : zvt::Child {
    void start(const std::string &path, const std::vector<std::string> &args,
               const std::vector<std::pair<int, int>> &fds, int fdLimit = 0) {
        Options o;
        o.fds = fds;
        o.fd_limit = fdLimit;
        ASSERT_TRUE(zvt::Child::start(path, args, o)) << "fork: " << std::strerror(errno);
    }
};

// Reads exactly n bytes; fewer when end of file or the time-out comes first.
inline Bytes readBytes(int fd, size_t n, int timeoutMs = kWaitMs) {
    Bytes b(n);
    size_t got = 0;
    while (got < n && readable(fd, timeoutMs)) {
        ssize_t r = ::read(fd, b.data() + got, n - got);
        if (r <= 0) break;
        got += size_t(r);
    }
    b.resize(got);
    return b;
}

inline Bytes readToEnd(int fd, int timeoutMs = kWaitMs) {
    Bytes all;
    std::uint8_t buf[65536];
    while (readable(fd, timeoutMs)) {
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r <= 0) break;
        all.insert(all.end(), buf, buf + r);
    }
    return all;
}

inline std::string readText(int fd) {
    Bytes b = readToEnd(fd);
    return std::string(b.begin(), b.end());
}

inline void sendAll(int fd, const std::uint8_t *data, size_t n) {
    while (n > 0) {
        ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
        if (w <= 0) return;
        data += w;
        n -= size_t(w);
    }
}

}  // namespace helpers_test
