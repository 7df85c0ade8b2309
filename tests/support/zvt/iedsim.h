// The iedsim process of a test: one IED of the sample station served on
// loopback (network A on 127.0.0.1, B on 127.0.0.2), started on free ports,
// and its control line. A target that uses it defines ZV_IEDSIM_EXE and
// ZV_SAMPLE_STATION_DIR.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "zvt/wait.h"

namespace zvt {

// One iedsim process serving an IED of the sample station.
class Sim {
public:
    Sim(const std::string &ied, uint16_t port_a, uint16_t port_b, const std::string &files,
        std::vector<std::string> extra = {}) {
        start(ied, port_a, port_b, files, std::move(extra));
    }
    ~Sim() { kill(SIGTERM); }

    void start(const std::string &ied, uint16_t pa, uint16_t pb, const std::string &files, std::vector<std::string> extra) {
        ied_ = ied, files_ = files, extra_ = extra;
        int out[2];
        if (::pipe(out) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return;
        }
        std::vector<std::string> args = {ZV_IEDSIM_EXE, "--scl", std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd",
                                         "--ied", ied, "--listen", "127.0.0.1:" + std::to_string(pa),
                                         "--listen", "127.0.0.2:" + std::to_string(pb), "--files", files,
                                         "--control", "127.0.0.1:0", "--sim-period", "0",
                                         "--log", files + "/../" + ied + "_sim.log"};
        for (auto &e : extra) args.push_back(e);
        // Built before the fork: the child of a process with threads may only
        // make async-signal-safe calls (an allocation can wait for ever on a
        // lock another thread held at the fork).
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string text;
        char buf[512];
        const int64_t end = now_ms() + 20000;
        while (text.find("READY") == std::string::npos && now_ms() < end) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, size_t(n));
        }
        ::close(out[0]);
        std::istringstream in(text);
        std::string tag, addr;
        while (in >> tag) {
            if (tag == "READY") break;
            in >> addr;
            const uint16_t port = uint16_t(std::stoi(addr.substr(addr.rfind(':') + 1)));
            if (tag == "A") port_a = port;
            else if (tag == "B") port_b = port;
            else if (tag == "CONTROL") control_port = port;
        }
        ASSERT_NE(control_port, 0) << "iedsim did not start: " << text;
    }
    void restart() { start(ied_, port_a, port_b, files_, extra_); }

    void kill(int sig) {
        if (pid_ > 0) {
            ::kill(pid_, sig);
            int st;
            ::waitpid(pid_, &st, 0);
        }
        pid_ = -1;
        control_port = 0;
    }

    // Freezes or thaws the process: its sockets stay open but nothing answers.
    void freeze(bool on) {
        if (pid_ > 0) ::kill(pid_, on ? SIGSTOP : SIGCONT);
    }

    // One control command, one answer line.
    std::string ask(const std::string &line) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(control_port);
        ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd);
            return "<no control>";
        }
        const std::string out = line + "\n";
        (void)!::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        std::string in;
        char buf[1024];
        const int64_t end = now_ms() + 10000;
        while (in.find('\n') == std::string::npos && now_ms() < end) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            in.append(buf, size_t(n));
        }
        ::close(fd);
        return in.substr(0, in.find('\n'));
    }

    uint16_t port_a = 0, port_b = 0, control_port = 0;

private:
    pid_t pid_ = -1;
    std::string ied_, files_;
    std::vector<std::string> extra_;
};

}  // namespace zvt
