// The iedsim process of a test: one IED of the sample station served on
// loopback (network A on 127.0.0.1, B on 127.0.0.2), started on free ports,
// and its control line. A target that uses it defines ZV_IEDSIM_EXE and
// ZV_SAMPLE_STATION_DIR.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zvt/iedsim_process.h"

namespace zvt {

// One iedsim process serving an IED of the sample station.
class Sim : public IedsimProcess {
public:
    Sim(const std::string &ied, uint16_t port_a, uint16_t port_b, const std::string &files,
        std::vector<std::string> extra = {}) {
        start(ied, port_a, port_b, files, std::move(extra));
    }

    void start(const std::string &ied, uint16_t pa, uint16_t pb, const std::string &files,
               std::vector<std::string> extra) {
        ied_ = ied, files_ = files, extra_ = extra;
        std::vector<std::string> args = {"--scl",        std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd",
                                         "--ied",        ied,
                                         "--listen",     "127.0.0.1:" + std::to_string(pa),
                                         "--listen",     "127.0.0.2:" + std::to_string(pb),
                                         "--files",      files,
                                         "--control",    "127.0.0.1:0",
                                         "--sim-period", "0",
                                         "--log",        files + "/../" + ied + "_sim.log"};
        for (auto &e : extra) args.push_back(e);
        ASSERT_TRUE(IedsimProcess::start(ZV_IEDSIM_EXE, args)) << "iedsim did not start: " << output();
    }
    // Again on the ports it had.
    void restart() { start(ied_, port_a, port_b, files_, extra_); }

private:
    std::string ied_, files_;
    std::vector<std::string> extra_;
};

}  // namespace zvt
