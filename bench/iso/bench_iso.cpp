// How fast MMS PDUs cross the ISO layers once associated: wrap on one side,
// unwrap on the other, no sockets.
#include "iso/association.h"

#include <benchmark/benchmark.h>

namespace {

using namespace zv::iso;

struct Pair {
    ClientAssociation client{ClientConfig{}};
    ServerAssociation server{ServerConfig{}};
    Pair() {
        const Bytes init = {0xa8, 0x00};
        (void)client.connect(init);
        (void)server.onBytes(client.takeOutput());
        (void)client.onBytes(server.takeOutput());
        (void)server.onBytes(client.takeOutput());
        (void)server.accept(init);
        (void)client.onBytes(server.takeOutput());
    }
};

// Server -> client data PDUs of the given size (reports, read responses).
void BM_DataServerToClient(benchmark::State& state) {
    Pair p;
    Bytes pdu(static_cast<std::size_t>(state.range(0)), 0x5a);
    pdu[0] = 0xa1;
    std::size_t events = 0;
    for (auto _ : state) {
        (void)p.server.sendData(pdu);
        auto ev = p.client.onBytes(p.server.takeOutput());
        events += ev.size();
        benchmark::DoNotOptimize(ev.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
    state.counters["events"] = benchmark::Counter(double(events), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_DataServerToClient)->Arg(64)->Arg(1024)->Arg(8000)->Arg(65536);

// Decoding the reference-sized AARQ (server side of an association).
void BM_AssociateServerSide(benchmark::State& state) {
    const Bytes init(40, 0x01);
    ClientAssociation c{ClientConfig{}};
    (void)c.connect(init);
    const Bytes cr = c.takeOutput();
    ServerAssociation s0{ServerConfig{}};
    (void)c.onBytes([&] {
        (void)s0.onBytes(cr);
        return s0.takeOutput();
    }());
    const Bytes cn = c.takeOutput();
    for (auto _ : state) {
        ServerAssociation s{ServerConfig{}};
        (void)s.onBytes(cr);
        auto ev = s.onBytes(cn);
        (void)s.accept(init);
        benchmark::DoNotOptimize(s.takeOutput());
        benchmark::DoNotOptimize(ev.data());
    }
}
BENCHMARK(BM_AssociateServerSide);

}  // namespace
