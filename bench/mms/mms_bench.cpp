// Encode/decode throughput of a typical buffered report: RptID, OptFlds,
// SeqNum, TimeOfEntry, DatSet, BufOvfl, EntryID, ConfRev, inclusion bit
// string, 10 members {mag {f}, q, t} and their reasons for inclusion.
// bytes_per_second is MB/s of PDU bytes, items_per_second PDUs/s.
#include "mms/pdu.h"

#include <benchmark/benchmark.h>

using namespace zv::mms;

namespace {

Pdu typicalReport() {
    InformationReport r;
    r.access = VariableAccess::named(ObjectName::vmd("RPT"));
    auto add = [&](Data d) { r.results.push_back(AccessResult::ok(std::move(d))); };
    add(Data::visibleString("IED1MEAS/LLN0$BR$brcbMeasurements01"));
    add(Data::bitString(BitString::fromText("0111111110")));          // OptFlds
    add(Data::unsignedInt(4711));                                     // SeqNum
    add(Data::binaryTime(BinaryTime{26388144, 15681}));               // TimeOfEntry
    add(Data::visibleString("IED1MEAS/LLN0$Measurements"));           // DatSet
    add(Data::boolean(false));                                        // BufOvfl
    add(Data::octetString({0, 0, 1, 0xa2, 0x4f, 0x5f, 0x7e, 0xb0}));  // EntryID
    add(Data::unsignedInt(1));                                        // ConfRev
    BitString inclusion(10);
    for (std::size_t i = 0; i < 10; ++i) inclusion.set(i);
    add(Data::bitString(inclusion));
    for (int i = 0; i < 10; ++i) {
        add(Data::structure({Data::structure({Data::float32(230.5f + static_cast<float>(i))}),
                             Data::bitString(BitString(13)),
                             Data::utcTime(UtcTime{1796627988u + static_cast<uint32_t>(i), 0x400000, 0x0a})}));
    }
    for (int i = 0; i < 10; ++i) add(Data::bitString(BitString::fromText("010000")));  // data-change
    return r;
}

void BM_EncodeInformationReport(benchmark::State& state) {
    const Pdu pdu = typicalReport();
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto out = encode(pdu);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["pdu_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeInformationReport);

// The same with the output buffer kept from one PDU to the next.
void BM_EncodeInformationReportReusedBuffer(benchmark::State& state) {
    const Pdu pdu = typicalReport();
    std::vector<uint8_t> buf;
    std::size_t bytes = 0;
    for (auto _ : state) {
        zv::ber::Writer w(std::move(buf));
        encode(w, pdu);
        bytes = w.size();
        buf = w.take();
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_EncodeInformationReportReusedBuffer);

void BM_DecodeInformationReport(benchmark::State& state) {
    const auto bytes = encode(typicalReport());
    for (auto _ : state) {
        auto pdu = decode(bytes);
        if (!pdu) {
            state.SkipWithError(pdu.error().text().c_str());
            break;
        }
        benchmark::DoNotOptimize(&*pdu);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["pdu_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_DecodeInformationReport);

}  // namespace

BENCHMARK_MAIN();
