// Runs an iedsim Server in-process (on its own thread) from the sample
// station, on free loopback ports, with a fresh file store; talks to its
// control channel over the socket like an outside test would.
#pragma once

#include "server.h"
#include "test_client.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cstdlib>
#include <thread>

namespace zv::iedsim::test {

inline std::string tempDir(const std::string& tag) {
    std::string tmpl = ::testing::TempDir() + "iedsim_" + tag + "_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const char* d = ::mkdtemp(buf.data());
    return d ? std::string(d) : std::string();
}

inline void removeTree(const std::string& dir) {
    if (dir.size() > 8) std::system(("rm -rf '" + dir + "'").c_str());
}

// One line to the control channel, one answer back.
class ControlLine {
public:
    explicit ControlLine(const std::string& addr) {
        const size_t colon = addr.rfind(':');
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(std::stoi(addr.substr(colon + 1))));
        inet_pton(AF_INET, addr.substr(0, colon).c_str(), &a.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ControlLine() {
        if (fd_ >= 0) ::close(fd_);
    }
    std::string ask(const std::string& line, int timeoutMs = 5000) {
        if (fd_ < 0) return "<no control connection>";
        const std::string out = line + "\n";
        if (::send(fd_, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size())) return "<send failed>";
        const int64_t end = monoMs() + timeoutMs;
        while (monoMs() < end) {
            size_t nl = in_.find('\n');
            if (nl != std::string::npos) {
                std::string ans = in_.substr(0, nl);
                in_.erase(0, nl + 1);
                return ans;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buf[4096];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return "<closed>";
            in_.append(buf, size_t(n));
        }
        return "<timeout>";
    }
    // Sends bytes as they are (for over-long lines).
    void raw(const std::string& bytes) { (void)!::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

private:
    int fd_ = -1;
    std::string in_;
};

class SimServer {
public:
    // `tweak` adjusts the configuration before the server is created.
    template <class F>
    explicit SimServer(F tweak, const std::string& ied = "CMIED") {
        dir = tempDir("files");
        Config cfg;
        cfg.scl = std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd";
        cfg.ied = ied;
        Endpoint a{"127.0.0.1", 0}, b{"127.0.0.2", 0};
        cfg.listen = {a, b};
        cfg.files = dir;
        cfg.control = "127.0.0.1:0";
        cfg.simPeriodMs = 0;   // values move only when a test says so
        cfg.logFile = dir + "/../" + dir.substr(dir.rfind('/') + 1) + ".log";
        tweak(cfg);
        std::string why;
        server = Server::create(cfg, why);
        if (!server) {
            ADD_FAILURE() << why;
            return;
        }
        thread = std::thread([this] { server->run(); });
        control = std::make_unique<ControlLine>(server->controlAddress());
    }
    SimServer() : SimServer([](Config&) {}) {}
    ~SimServer() {
        control.reset();
        if (server) {
            server->requestStop();
            thread.join();
        }
        server.reset();
        removeTree(dir);
    }
    uint16_t port(size_t net = 0) const { return server->port(net); }
    std::string host(size_t net = 0) const { return net == 0 ? "127.0.0.1" : "127.0.0.2"; }
    std::string ask(const std::string& line) { return control->ask(line); }

    std::string dir;
    std::unique_ptr<Server> server;
    std::thread thread;
    std::unique_ptr<ControlLine> control;
};

// Helpers for building requests.
inline mms::ObjectName dom(const std::string& item, const std::string& domain = "CMIEDMON") {
    return mms::ObjectName::dom(domain, item);
}
inline mms::ReadRequest readOf(std::vector<std::string> items, const std::string& domain = "CMIEDMON") {
    std::vector<mms::VariableRef> v;
    for (auto& i : items) v.push_back(mms::VariableRef{dom(i, domain), {}});
    return mms::ReadRequest{false, mms::VariableAccess::list(std::move(v))};
}
inline mms::WriteRequest writeOf(const std::vector<std::pair<std::string, mms::Data>>& items,
                                 const std::string& domain = "CMIEDMON") {
    mms::WriteRequest w;
    std::vector<mms::VariableRef> v;
    for (auto& i : items) {
        v.push_back(mms::VariableRef{dom(i.first, domain), {}});
        w.data.push_back(i.second);
    }
    w.access = mms::VariableAccess::list(std::move(v));
    return w;
}
template <class T>
const T* responseOf(const std::optional<mms::Pdu>& p) {
    if (!p) return nullptr;
    auto* r = std::get_if<mms::ConfirmedResponse>(&*p);
    return r ? std::get_if<T>(&r->service) : nullptr;
}
inline const mms::ConfirmedError* errorOf(const std::optional<mms::Pdu>& p) {
    return p ? std::get_if<mms::ConfirmedError>(&*p) : nullptr;
}
// Write results as text: "ok" or the DataAccessError number, comma separated.
inline std::string writeResults(const std::optional<mms::Pdu>& p) {
    auto* w = responseOf<mms::WriteResponse>(p);
    if (!w) return "<no write response>";
    std::string s;
    for (auto& r : w->results) s += (s.empty() ? "" : ",") + (r.success ? std::string("ok") : std::to_string(r.failure));
    return s;
}

}  // namespace zv::iedsim::test
