// iedsim as a process of a test or benchmark: started with its arguments,
// its ports taken from the lines it prints before READY, its control line,
// stopped (SIGTERM) when it goes. No test framework inside, so the
// benchmarks use it too; zvt/iedsim.h serves one IED of the sample station.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "zvt/child.h"

namespace zvt {

// A connection to iedsim's control channel ("host:port"): one line out, one
// answer line back.
class ControlLine {
public:
    explicit ControlLine(const std::string &addr) {
        const size_t colon = addr.rfind(':');
        if (colon == std::string::npos) return;
        fd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(std::stoi(addr.substr(colon + 1))));
        ::inet_pton(AF_INET, addr.substr(0, colon).c_str(), &a.sin_addr);
        if (::connect(fd_.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) fd_.reset();
    }
    bool connected() const { return fd_.valid(); }

    // The answer to `line`, or "<no control connection>", "<send failed>",
    // "<closed>", "<timeout>".
    std::string ask(const std::string &line, int ms = 5000) {
        if (!fd_) return "<no control connection>";
        const std::string out = line + "\n";
        if (::send(fd_.get(), out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size())) return "<send failed>";
        return answer(ms);
    }
    // The next answer line (of a command sent with raw()).
    std::string answer(int ms = 5000) {
        const int64_t end = now_ms() + ms;
        while (now_ms() < end) {
            const size_t nl = in_.find('\n');
            if (nl != std::string::npos) {
                std::string answer = in_.substr(0, nl);
                in_.erase(0, nl + 1);
                return answer;
            }
            if (!readable(fd_.get(), 50)) continue;
            char buf[4096];
            const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
            if (n <= 0) return "<closed>";
            in_.append(buf, size_t(n));
        }
        return "<timeout>";
    }
    // Sends bytes as they are (for over-long lines).
    void raw(const std::string &bytes) { (void)!::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL); }

private:
    Fd fd_;
    std::string in_;
};

class IedsimProcess {
public:
    // Starts `exe` with `args` and waits (20 s at most) for its READY line;
    // false, with what it printed in output(), when it did not come.
    bool start(const std::string &exe, const std::vector<std::string> &args) {
        exe_ = exe, args_ = args;
        port_a = port_b = control_port = 0;
        Child::Options o;
        o.stop_signal = SIGTERM;
        if (!child_.start(exe, args, o)) {
            output_ = "fork failed";
            return false;
        }
        output_ = read_until(
            child_.out().get(), [](const std::string &t) { return t.find("READY") != std::string::npos; }, 20000);
        child_.out().reset();
        std::istringstream in(output_);
        std::string tag, addr;
        while (in >> tag && tag != "READY") {
            if (!(in >> addr)) break;
            const size_t colon = addr.rfind(':');
            const uint16_t port = colon == std::string::npos ? 0 : uint16_t(std::atoi(addr.c_str() + colon + 1));
            if (tag == "A")
                port_a = port;
            else if (tag == "B")
                port_b = port;
            else if (tag == "CONTROL")
                control_port = port;
        }
        return output_.find("READY") != std::string::npos && port_a != 0;
    }
    // The same program and arguments again.
    bool restart() { return start(exe_, args_); }

    // Sends `sig` and reaps the process.
    void kill(int sig) {
        child_.stop(sig);
        control_port = 0;
    }
    // Freezes or thaws the process: its sockets stay open but nothing answers.
    void freeze(bool on) { child_.signal(on ? SIGSTOP : SIGCONT); }

    // One control command on a connection of its own, one answer line
    // ("<no control>" when no connection could be made).
    std::string ask(const std::string &line, int ms = 10000) const {
        ControlLine c("127.0.0.1:" + std::to_string(control_port));
        if (!c.connected()) return "<no control>";
        return c.ask(line, ms);
    }

    const std::string &output() const { return output_; }
    pid_t pid() const { return child_.pid(); }

    uint16_t port_a = 0, port_b = 0, control_port = 0;

private:
    Child child_;
    std::string exe_, output_;
    std::vector<std::string> args_;
};

}  // namespace zvt
