// A live capture on the loopback interface with tshark, for the tests that
// check that our frames decode without malformed frames or expert errors.
#pragma once

#include "sim.h"
#include "zvt/pcap.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace zvt {

inline std::string run(const std::string &cmd) {
    std::string out;
    if (FILE *p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// tshark capturing the TCP ports given into DIR/NAME.pcapng until stop().
class Capture {
public:
    Capture(const std::string &dir, const std::string &name, const std::vector<uint16_t> &ports)
        : pcap_(dir + "/" + name + ".pcapng"), log_(dir + "/" + name + ".tshark.log") {
        std::string filter;
        if (!ports.empty()) probe_port_ = ports.front();
        for (uint16_t p : ports) {
            filter += (filter.empty() ? "" : " or ") + std::string("tcp port ") + std::to_string(p);
            decode_ += " -d tcp.port==" + std::to_string(p) + ",tpkt";
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 2);
            ::dup2(fd, 1);
            ::execlp("tshark", "tshark", "-i", "lo", "-f", filter.c_str(), "-w", pcap_.c_str(), (char *)nullptr);
            ::_exit(127);
        }
        started = eventually([&] { return file_text(log_).find("Capture started") != std::string::npos; }, 15000);
        if (!started) stop();
    }
    ~Capture() { stop(); }
    // Ends the capture once the frames sent so far are in it.
    void stop() {
        if (pid_ <= 0) return;
        if (started) captured_up_to_now(pcap_, probe_port_);
        ::kill(pid_, started ? SIGINT : SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // tshark's summary of the capture (stop() first), with `options`.
    std::string decoded(const std::string &options = std::string()) const {
        return run("tshark -r '" + pcap_ + "'" + decode_ + " " + options + " 2>&1");
    }
    // tshark's expert errors of the capture ("" when there are none).
    std::string expert_errors() const {
        const std::string e = run("tshark -r '" + pcap_ + "'" + decode_ + " -q -z expert,error 2>&1");
        return e.find("Errors (") == std::string::npos ? std::string() : e;
    }

    bool started = false;

private:
    std::string pcap_, log_, decode_;
    uint16_t probe_port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace zvt
