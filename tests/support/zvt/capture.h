// A live capture on the loopback interface with tshark, for the tests that
// check that our frames decode without malformed frames or expert errors.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "zvt/child.h"
#include "zvt/files.h"
#include "zvt/pcap.h"
#include "zvt/wait.h"

namespace zvt {

// tshark capturing the TCP ports given into DIR/NAME.pcapng until stop().
class Capture {
public:
    Capture(const std::string &dir, const std::string &name, const std::vector<uint16_t> &ports)
        : pcap_(dir + "/" + name + ".pcapng"), log_(dir + "/" + name + ".tshark.log") {
        std::string filter;
        if (!ports.empty()) probe_port_ = ports.front();
        for (uint16_t p : ports) {
            filter += (filter.empty() ? "" : " or ") + std::string("tcp port ") + std::to_string(p);
            decode += " -d tcp.port==" + std::to_string(p) + ",tpkt";
        }
        const std::string tshark = run("command -v tshark | tr -d '\\n'");
        Child::Options o;
        o.output = log_;
        o.stop_signal = SIGINT;
        started = !tshark.empty() && child_.start(tshark, {"-i", "lo", "-f", filter, "-w", pcap_}, o) &&
                  eventually([&] { return file_text(log_).find("Capture started") != std::string::npos; }, 15000);
        if (!started) child_.stop(SIGKILL);
    }
    ~Capture() { stop(); }

    // Runs `probe` (some traffic on a captured port) until the capture file
    // grows: tshark announces itself a little before packets reach it.
    bool sees(const std::function<void()> &probe) {
        const off_t empty = size();
        return started && eventually(
                              [&] {
                                  probe();
                                  return eventually([&] { return size() > empty; }, 100);
                              },
                              10000);
    }

    // Ends the capture once it holds every frame sent so far (a probe
    // connection on the first port, sent after them, is in the file).
    void stop() {
        if (!child_.running()) return;
        if (started && probe_port_ != 0) captured_up_to_now(pcap_, probe_port_);
        child_.stop(SIGINT);
    }

    // tshark's reading of the capture (stop() first) with `options` (a time
    // without a zone is local time to tshark: UTC, as the stack takes it).
    std::string decoded(const std::string &options = std::string()) const {
        return run("TZ=UTC tshark -r '" + pcap_ + "'" + decode + " " + options + " 2>&1");
    }
    // tshark's expert errors of the capture ("" when there are none).
    std::string expert_errors() const {
        const std::string e = decoded("-q -z expert,error");
        return e.find("Errors (") == std::string::npos ? std::string() : e;
    }
    const std::string &file() const { return pcap_; }
    const std::string &log() const { return log_; }

    bool started = false;
    std::string decode;  // how tshark takes the ports apart ("-d tcp.port==N,tpkt" for each)

private:
    off_t size() const {
        struct stat st {};
        return ::stat(pcap_.c_str(), &st) == 0 ? st.st_size : 0;
    }

    std::string pcap_, log_;
    uint16_t probe_port_ = 0;
    Child child_;
};

}  // namespace zvt
