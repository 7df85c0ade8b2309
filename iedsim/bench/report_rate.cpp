// Reports per second from iedsim to one client on loopback: the control
// channel's "burst" changes a data set member N times, each change makes one
// report (buffer time 0), and the client counts them as they arrive.
#include "server.h"
#include "zvt/files.h"
#include "zvt/iedsim_client.h"
#include "zvt/iedsim_process.h"

#include <benchmark/benchmark.h>

#include <thread>

namespace zv::iedsim {
namespace {

class Rig {
public:
    explicit Rig(const std::string& rcb, size_t clientPdu = 65000) : client(int32_t(clientPdu)) {
        Config cfg;
        cfg.scl = std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd";
        cfg.ied = "CMIED";
        cfg.listen = {Endpoint{"127.0.0.1", 0}};
        cfg.control = "127.0.0.1:0";
        cfg.simPeriodMs = 0;
        cfg.files = tmp.path();
        cfg.logFile = tmp + "/iedsim.log";
        std::string why;
        server = Server::create(cfg, why);
        if (!server) {
            std::fprintf(stderr, "iedsim bench: %s\n", why.c_str());
            std::abort();
        }
        thread = std::thread([this] { server->run(); });
        client.keepReports = false;
        if (!client.associate("127.0.0.1", server->port(0))) std::abort();
        mms::WriteRequest w;
        auto item = [&](const std::string& a, mms::Data d) {
            w.access.variables.push_back(mms::VariableRef{mms::ObjectName::dom("CMIEDMON", rcb + "$" + a), {}});
            w.data.push_back(std::move(d));
        };
        item("BufTm", mms::Data::unsignedInt(0));
        item("TrgOps", mms::Data::bitString(mms::BitString::fromText("011001")));
        item("RptEna", mms::Data::boolean(true));
        client.call(w);
        control = std::make_unique<zvt::ControlLine>(server->controlAddress());
        if (!control->connected()) std::abort();
    }
    ~Rig() {
        control.reset();
        server->requestStop();
        thread.join();
    }
    // Asks for n changes and waits until n more reports arrived.
    void burst(const std::string& ref, size_t n) {
        const size_t target = client.reportCount + n;
        control->raw("burst " + ref + " " + std::to_string(n) + "\n");
        const int64_t end = test::monoMs() + 60000;
        while (client.reportCount < target && test::monoMs() < end) client.idle(1);
        control->answer();  // "OK n"
    }

    zvt::TempDir tmp{"iedsim_bench"};
    std::unique_ptr<Server> server;
    std::thread thread;
    test::TestClient client;
    std::unique_ptr<zvt::ControlLine> control;
};

void run(benchmark::State& state, const char* rcb, const char* ref, size_t pdu) {
    Rig rig(rcb, pdu);
    const size_t n = size_t(state.range(0));
    for (auto _ : state) rig.burst(ref, n);
    state.counters["reports/s"] = benchmark::Counter(double(state.iterations() * n), benchmark::Counter::kIsRate);
    state.counters["sent"] = double(rig.server->reports().reportsSent());
    state.counters["dropped"] = double(rig.server->reports().reportsDropped());
}

// Unbuffered block, dsAlarm (4 status members), one member per report.
void BM_UnbufferedStatusReports(benchmark::State& s) {
    run(s, "LLN0$RP$urcbAlarm01", "CMIEDMON/STMP1$ST$TmpAlm$stVal", 65000);
}
// Buffered block with EntryID, dsTemp (3 measured values).
void BM_BufferedMeasuredValueReports(benchmark::State& s) {
    run(s, "LLN0$BR$brcbTemp01", "CMIEDMON/STMP1$MX$Tmp$mag$f", 65000);
}
BENCHMARK(BM_UnbufferedStatusReports)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BufferedMeasuredValueReports)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zv::iedsim

BENCHMARK_MAIN();
