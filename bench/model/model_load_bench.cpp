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

namespace {

std::string sample_templates() {
    std::ifstream in(std::string(ZV_SAMPLE_STATION) + "/sample.scd");
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str();
    size_t a = s.find("<DataTypeTemplates>");
    size_t b = s.find("</DataTypeTemplates>");
    return s.substr(a, b - a + std::strlen("</DataTypeTemplates>"));
}

struct LnKind {
    const char *cls, *type, *dos[5];
};
const LnKind kKinds[] = {
    {"STMP", "STMP_T", {"Tmp", "TmpAlm"}},
    {"SIMG", "SIMG_T", {"Pres", "Den", "Tmp", "InsAlm"}},
    {"SPDC", "SPDC_T", {"AcuPaDsch", "PaDschAlm", "OpCnt"}},
    {"MMET", "MMET_T", {"EnvTmp", "EnvHum", "EnvPres", "WnSpd"}},
    {"ZSAR", "ZSAR_T", {"LeakA", "StrkCnt", "LstStrkTm"}},
    {"MMXU", "MMXU_T", {"TotW", "TotVAr", "Hz", "A", "PhV"}},
    {"XCBR", "XCBR_T", {"Pos", "OpCnt"}},
};

std::string generate(int ieds, int lns) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCL>\n<Communication><SubNetwork name=\"A\">\n";
    for (int i = 0; i < ieds; ++i)
        s += "<ConnectedAP iedName=\"IED" + std::to_string(i) + "\" apName=\"S1\"><Address><P type=\"IP\">127.0.0.1</P>"
             "</Address></ConnectedAP>\n";
    s += "</SubNetwork></Communication>\n";
    for (int i = 0; i < ieds; ++i) {
        std::string n = "IED" + std::to_string(i);
        s += "<IED name=\"" + n + "\"><AccessPoint name=\"S1\"><Server><LDevice inst=\"MON\">\n";
        s += "<LN0 lnClass=\"LLN0\" inst=\"\" lnType=\"LLN0_CM\">\n";
        // One data set of whole data objects per kind of LN, each with indexed blocks.
        for (size_t k = 0; k < sizeof kKinds / sizeof kKinds[0]; ++k) {
            std::string ds = std::string("ds") + kKinds[k].cls;
            s += "<DataSet name=\"" + ds + "\">";
            for (int l = int(k); l < lns; l += int(sizeof kKinds / sizeof kKinds[0]))
                s += std::string("<FCDA ldInst=\"MON\" lnClass=\"") + kKinds[k].cls + "\" lnInst=\"" +
                     std::to_string(l + 1) + "\" doName=\"" + kKinds[k].dos[0] + "\" fc=\"" +
                     (k == 6 ? "ST" : "MX") + "\"/>";
            s += "</DataSet>\n<ReportControl name=\"brcb" + std::string(kKinds[k].cls) + "\" rptID=\"" + n + ds +
                 "\" datSet=\"" + ds + "\" buffered=\"true\" confRev=\"1\"><TrgOps dchg=\"true\"/>"
                 "<OptFields seqNum=\"true\"/><RptEnabled max=\"4\"/></ReportControl>\n";
        }
        s += "</LN0>\n";
        for (int l = 0; l < lns; ++l) {
            const LnKind &k = kKinds[size_t(l) % (sizeof kKinds / sizeof kKinds[0])];
            s += std::string("<LN lnClass=\"") + k.cls + "\" inst=\"" + std::to_string(l + 1) + "\" lnType=\"" +
                 k.type + "\" desc=\"LN " + std::to_string(l) + "\">";
            for (const char *d : k.dos)
                if (d) s += std::string("<DOI name=\"") + d + "\" desc=\"" + d + " of " + std::to_string(l) + "\"/>";
            s += "</LN>\n";
        }
        s += "</LDevice></Server></AccessPoint></IED>\n";
    }
    return s + sample_templates() + "\n</SCL>\n";
}

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
        std::string text = generate(ieds, lns);
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
