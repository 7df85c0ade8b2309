// Runs a helper program the way its parent does: inherited descriptors at
// fixed numbers, command line of decimal numbers, stdout captured. Every
// descriptor the test opens is close-on-exec, so the child sees only the ones
// handed to it.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace helpers_test {

using Bytes = std::vector<std::uint8_t>;
constexpr int kWaitMs = 5000;  // generous bound for anything that must happen
constexpr int kQuietMs = 80;   // how long "nothing happens" is watched

// Owns a descriptor.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd &&o) noexcept : fd(std::exchange(o.fd, -1)) {}
    Fd &operator=(Fd &&o) noexcept { reset(std::exchange(o.fd, -1)); return *this; }
    ~Fd() { reset(); }
    void reset(int f = -1) { if (fd >= 0) ::close(fd); fd = f; }
    int get() const { return fd; }
};

inline std::pair<Fd, Fd> makePipe()
{
    int p[2];
    EXPECT_EQ(::pipe2(p, O_CLOEXEC), 0);
    return {Fd(p[0]), Fd(p[1])};
}

struct Child {
    pid_t pid = -1;
    Fd out;  // the child's standard output

    // Starts path with args; each (source, target) pair appears in the child
    // as descriptor target. Targets must not collide with sources.
    void start(const std::string &path, const std::vector<std::string> &args,
               const std::vector<std::pair<int, int>> &fds, int fdLimit = 0)
    {
        auto [outR, outW] = makePipe();
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(path.c_str()));
        for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::signal(SIGPIPE, SIG_DFL);
            if (fdLimit > 0) {
                rlimit rl{rlim_t(fdLimit), rlim_t(fdLimit)};
                ::setrlimit(RLIMIT_NOFILE, &rl);
            }
            ::dup2(outW.get(), 1);
            for (auto [src, dst] : fds) ::dup2(src, dst);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
        out = std::move(outR);
    }

    // Waits for the exit status (or -signal); kills the child after timeoutMs.
    int wait(int timeoutMs = kWaitMs)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                pid = -1;
                ADD_FAILURE() << "child did not exit in time";
                return -1000;
            }
            ::usleep(2000);
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    ~Child()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

inline bool readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

// Reads exactly n bytes; fewer when end of file or the time-out comes first.
inline Bytes readBytes(int fd, size_t n, int timeoutMs = kWaitMs)
{
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

inline Bytes readToEnd(int fd, int timeoutMs = kWaitMs)
{
    Bytes all;
    std::uint8_t buf[65536];
    while (readable(fd, timeoutMs)) {
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r <= 0) break;
        all.insert(all.end(), buf, buf + r);
    }
    return all;
}

inline std::string readText(int fd)
{
    Bytes b = readToEnd(fd);
    return std::string(b.begin(), b.end());
}

inline void sendAll(int fd, const std::uint8_t *data, size_t n)
{
    while (n > 0) {
        ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
        if (w <= 0) return;
        data += w;
        n -= size_t(w);
    }
}

}  // namespace helpers_test
