// What the client benchmarks share: a clock, the generated station (the
// sample SCL with CMIED copied once per server) and iedsim processes on
// loopback ports of their own choosing.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include <thread>

namespace zvbench {

inline int64_t now_us() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// The sample SCL with CMIED copied as CMIED01..CMIEDnn (one per server).
inline std::string make_scl(const std::string &dir, int n) {
    std::ifstream in(std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd");
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    const size_t from = text.find("<IED name=\"CMIED\"");
    const size_t to = text.find("</IED>", from) + 6;
    const std::string ied = text.substr(from, to - from);
    std::string copies;
    for (int i = 1; i <= n; ++i) {
        std::string c = ied;
        char name[32];
        std::snprintf(name, sizeof name, "CMIED%02d", i);
        c.replace(0, std::strlen("<IED name=\"CMIED\""), std::string("<IED name=\"") + name + "\"");
        copies += "\n  " + c;
    }
    text.insert(to, copies);
    const std::string path = dir + "/bench.scd";
    std::ofstream(path) << text;
    return path;
}

inline std::string ied_name(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "CMIED%02d", i + 1);
    return name;
}

struct Sim {
    pid_t pid = -1;
    uint16_t a = 0, b = 0, control = 0;
    // `extra`: more iedsim options (TLS).
    bool start(const std::string &files, const std::string &scl, const std::string &ied,
               const std::vector<std::string> &extra = {}) {
        std::vector<std::string> args = {ZV_IEDSIM_EXE, "--scl", scl, "--ied", ied, "--listen", "127.0.0.1:0",
                                         "--listen", "127.0.0.2:0", "--files", files, "--control", "127.0.0.1:0",
                                         "--sim-period", "0", "--log", "/dev/null"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char *> argv;   // built before the fork (no allocation in the child)
        for (auto &x : args) argv.push_back(const_cast<char *>(x.c_str()));
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0) return false;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string text;
        char buf[512];
        while (text.find("READY") == std::string::npos) {
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, size_t(n));
        }
        ::close(out[0]);
        std::istringstream in(text);
        std::string tag, addr;
        while (in >> tag && tag != "READY") {
            in >> addr;
            const uint16_t p = uint16_t(std::stoi(addr.substr(addr.rfind(':') + 1)));
            (tag == "A" ? a : tag == "B" ? b : control) = p;
        }
        return control != 0;
    }
    std::string ask(const std::string &line) const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(control);
        ::inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
            ::close(fd);
            return "";
        }
        const std::string o = line + "\n";
        (void)!::send(fd, o.data(), o.size(), MSG_NOSIGNAL);
        std::string in;
        char buf[256];
        while (in.find('\n') == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            in.append(buf, size_t(n));
        }
        ::close(fd);
        return in;
    }
    ~Sim() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

inline bool wait_for(const std::function<bool()> &c, int ms) {
    const int64_t end = now_us() + int64_t(ms) * 1000;
    while (now_us() < end) {
        if (c()) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return c();
}

}  // namespace zvbench
