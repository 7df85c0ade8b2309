// Generates a station of many IEDs (default 50, each of about 5,000 objects)
// from the sample station's types, then loads the station file and builds
// every model the way ac_init_srvm does. Prints seconds and peak memory.
//
//   model_load_bench [ieds] [lns-per-ied]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "model/station.h"
#include "station_gen.h"

namespace {

long peak_rss_kb() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char **argv) {
    int ieds = argc > 1 ? std::atoi(argv[1]) : 50;
    int lns = argc > 2 ? std::atoi(argv[2]) : 94;
    char dir[] = "/tmp/zv_model_bench_XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string scd = std::string(dir) + "/big.scd", ini = std::string(dir) + "/station.ini";
    {
        std::string text = zvbench::generate(ieds, lns);
        std::ofstream(scd) << text;
        std::ofstream(ini) << "[station]\nscl = big.scd\n";
        std::printf("generated %d IEDs x %d LNs: %.1f MB of SCL\n", ieds, lns, text.size() / 1e6);
    }
    long rss_before = peak_rss_kb();
    auto t0 = std::chrono::steady_clock::now();
    zv::model::StationFile sf;
    zv::scl::Diagnostics diag(true);
    if (!zv::model::read_station_file(ini, sf, diag)) return 1;
    auto st = zv::model::Station::load(sf, diag);
    auto t1 = std::chrono::steady_clock::now();
    if (!st) {
        for (auto &d : diag.items()) std::fprintf(stderr, "%s:%d: %s\n", d.file.c_str(), d.line, d.reason.c_str());
        return 1;
    }
    long objects = 0;
    for (int i = 0; i < st->server_count(); ++i) objects += st->server(i)->model->object_count();
    std::printf("servers %d, objects %ld (%.0f per IED), diagnostics %zu\n", st->server_count(), objects,
                double(objects) / st->server_count(), diag.items().size());
    std::printf("load and build: %.3f s\n", std::chrono::duration<double>(t1 - t0).count());
    std::printf("peak RSS: %.1f MB (%.1f MB before loading)\n", peak_rss_kb() / 1024.0, rss_before / 1024.0);
    std::remove(scd.c_str());
    std::remove(ini.c_str());
    rmdir(dir);
    return 0;
}
