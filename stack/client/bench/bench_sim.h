// What the client benchmarks share: a clock, the generated station (the
// sample SCL with CMIED copied once per server) and iedsim processes on
// loopback ports of their own choosing (zvt/iedsim_process.h of
// tests/support).
#pragma once

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include <thread>

#include "zvt/iedsim_process.h"

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

// iedsim serving `ied` of `scl` on loopback ports of its own choosing;
// `extra`: more iedsim options (TLS).
struct Sim : zvt::IedsimProcess {
    bool start(const std::string &files, const std::string &scl, const std::string &ied,
               const std::vector<std::string> &extra = {}) {
        std::vector<std::string> args = {"--scl",        scl,           "--ied",     ied,
                                         "--listen",     "127.0.0.1:0", "--listen",  "127.0.0.2:0",
                                         "--files",      files,         "--control", "127.0.0.1:0",
                                         "--sim-period", "0",           "--log",     "/dev/null"};
        args.insert(args.end(), extra.begin(), extra.end());
        return IedsimProcess::start(ZV_IEDSIM_EXE, args);
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
