// A generated station for the benchmarks: many IEDs built from the sample
// station's types, each with one data set and one indexed BRCB per kind of LN.
#pragma once

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace zvbench {

inline std::string sample_templates() {
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
inline const LnKind kKinds[] = {
    {"STMP", "STMP_T", {"Tmp", "TmpAlm"}},
    {"SIMG", "SIMG_T", {"Pres", "Den", "Tmp", "InsAlm"}},
    {"SPDC", "SPDC_T", {"AcuPaDsch", "PaDschAlm", "OpCnt"}},
    {"MMET", "MMET_T", {"EnvTmp", "EnvHum", "EnvPres", "WnSpd"}},
    {"ZSAR", "ZSAR_T", {"LeakA", "StrkCnt", "LstStrkTm"}},
    {"MMXU", "MMXU_T", {"TotW", "TotVAr", "Hz", "A", "PhV"}},
    {"XCBR", "XCBR_T", {"Pos", "OpCnt"}},
};

inline std::string generate(int ieds, int lns) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCL>\n<Communication><SubNetwork name=\"A\">\n";
    for (int i = 0; i < ieds; ++i)
        s += "<ConnectedAP iedName=\"IED" + std::to_string(i) +
             "\" apName=\"S1\"><Address><P type=\"IP\">127.0.0.1</P>"
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
                     std::to_string(l + 1) + "\" doName=\"" + kKinds[k].dos[0] + "\" fc=\"" + (k == 6 ? "ST" : "MX") +
                     "\"/>";
            s += "</DataSet>\n<ReportControl name=\"brcb" + std::string(kKinds[k].cls) + "\" rptID=\"" + n + ds +
                 "\" datSet=\"" + ds +
                 "\" buffered=\"true\" confRev=\"1\"><TrgOps dchg=\"true\"/>"
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

}  // namespace zvbench
