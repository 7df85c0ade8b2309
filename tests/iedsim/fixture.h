// Runs an iedsim Server in-process (on its own thread) from the sample
// station, on free loopback ports, with a fresh file store; talks to its
// control channel over the socket like an outside test would.
#pragma once

#include "server.h"
#include "zvt/files.h"
#include "zvt/iedsim_client.h"
#include "zvt/iedsim_process.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace zv::iedsim::test {

using zvt::ControlLine;

class SimServer {
public:
    // `tweak` adjusts the configuration before the server is created.
    template <class F>
    explicit SimServer(F tweak, const std::string& ied = "CMIED") {
        dir = tmp.path();
        Config cfg;
        cfg.scl = std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd";
        cfg.ied = ied;
        Endpoint a{"127.0.0.1", 0}, b{"127.0.0.2", 0};
        cfg.listen = {a, b};
        cfg.files = dir;
        cfg.control = "127.0.0.1:0";
        cfg.simPeriodMs = 0;  // values move only when a test says so
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
    }
    uint16_t port(size_t net = 0) const { return server->port(net); }
    std::string host(size_t net = 0) const { return net == 0 ? "127.0.0.1" : "127.0.0.2"; }
    std::string ask(const std::string& line) { return control->ask(line); }

    zvt::TempDir tmp{"iedsim"};
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
    for (auto& r : w->results)
        s += (s.empty() ? "" : ",") + (r.success ? std::string("ok") : std::to_string(r.failure));
    return s;
}

}  // namespace zv::iedsim::test
