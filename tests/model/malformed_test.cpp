// Bad SCL and station files: refused or skipped with file, line and reason,
// never a crash; plus a short fuzz of the reader and builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <unistd.h>

#include "model/ied_model.h"
#include "model/station.h"

using namespace zv::model;
namespace scl = zv::scl;

namespace {

const std::string kDir = ZV_SAMPLE_STATION;

std::string read_file(const std::string &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A small valid SCL; the pieces can be replaced per case.
struct SclParts {
    std::string ied_name = "T1";
    std::string ld_inst = "LD0";
    std::string lns = R"(<LN0 lnClass="LLN0" inst="" lnType="LLN0_T">
  <DataSet name="ds1"><FCDA ldInst="LD0" lnClass="GGIO" lnInst="1" doName="Ind" fc="ST"/></DataSet>
  <ReportControl name="rcb" datSet="ds1" rptID="r"><RptEnabled max="2"/></ReportControl>
</LN0>
<LN lnClass="GGIO" inst="1" lnType="GGIO_T"/>)";
    std::string templates = R"(<LNodeType id="LLN0_T" lnClass="LLN0"><DO name="Beh" type="ENS_T"/></LNodeType>
<LNodeType id="GGIO_T" lnClass="GGIO"><DO name="Ind" type="SPS_T"/><DO name="Beh" type="ENS_T"/></LNodeType>
<DOType id="SPS_T" cdc="SPS"><DA name="stVal" fc="ST" bType="BOOLEAN"/><DA name="q" fc="ST" bType="Quality"/></DOType>
<DOType id="ENS_T" cdc="ENS"><DA name="stVal" fc="ST" bType="Enum" type="BehE"/></DOType>
<EnumType id="BehE"><EnumVal ord="1">on</EnumVal><EnumVal ord="5">off</EnumVal></EnumType>)";
    bool with_templates = true;
    std::string text() const {
        std::string s = "<?xml version=\"1.0\"?>\n<SCL>\n<IED name=\"" + ied_name +
                        "\"><AccessPoint name=\"S1\"><Server>\n<LDevice inst=\"" + ld_inst + "\">\n" + lns +
                        "\n</LDevice></Server></AccessPoint></IED>\n";
        if (with_templates) s += "<DataTypeTemplates>\n" + templates + "\n</DataTypeTemplates>\n";
        return s + "</SCL>\n";
    }
};

struct Built {
    scl::Diagnostics diag{true};
    std::shared_ptr<scl::Document> doc = std::make_shared<scl::Document>();
    bool parsed = false;
    std::unique_ptr<IedModel> model;
};

std::unique_ptr<Built> build(const std::string &text) {
    auto b = std::make_unique<Built>();
    b->parsed = scl::parse_text(text, "case.scd", *b->doc, b->diag);
    if (b->parsed && !b->doc->ieds.empty()) b->model = IedModel::build(b->doc, b->doc->ieds[0], b->diag);
    return b;
}

int line_of(const std::string &text, const std::string &marker) {
    size_t p = text.find(marker);
    return p == std::string::npos ? -1 : 1 + int(std::count(text.begin(), text.begin() + long(p), '\n'));
}

TEST(MalformedScl, ValidBaseCaseBuildsCleanly) {
    auto b = build(SclParts().text());
    ASSERT_TRUE(b->parsed);
    ASSERT_TRUE(b->model);
    EXPECT_TRUE(b->diag.items().empty());
    EXPECT_GE(b->model->find("T1LD0/LLN0$RP$rcb02"), 0);
}

struct SclCase {
    const char *name;
    std::function<void(SclParts &)> change;
    bool fatal;          // the file is refused as a whole
    const char *reason;  // text the diagnostic contains
    const char *marker;  // text on the line the diagnostic names (null: not checked)
    const char *absent;  // reference that must not be in the model (null: none)
};

std::ostream &operator<<(std::ostream &os, const SclCase &c) { return os << c.name; }

class MalformedSclCase : public ::testing::TestWithParam<SclCase> {};

TEST_P(MalformedSclCase, IsReportedWithFileLineAndReason) {
    const SclCase &c = GetParam();
    SclParts p;
    c.change(p);
    std::string text = p.text();
    auto b = build(text);
    EXPECT_EQ(b->parsed, !c.fatal);
    ASSERT_TRUE(b->diag.mentions(c.reason)) << "diagnostics:\n"
                                            << [&] {
                                                   std::string s;
                                                   for (auto &d : b->diag.items())
                                                       s += "  " + std::to_string(d.line) + ": " + d.reason + "\n";
                                                   return s;
                                               }();
    for (const scl::Diag &d : b->diag.items()) EXPECT_EQ(d.file, "case.scd");
    if (c.marker) {
        int want = line_of(text, c.marker);
        bool found = false;
        for (const scl::Diag &d : b->diag.items())
            if (d.reason.find(c.reason) != std::string::npos) found = found || d.line == want;
        EXPECT_TRUE(found) << "expected line " << want;
    }
    if (c.absent) {
        ASSERT_TRUE(b->model);
        EXPECT_EQ(b->model->find(c.absent), -1);
    }
    // Whatever was built is consistent.
    if (b->model) {
        for (AI_OBJ_ID id = 0; id < b->model->object_count(); ++id) {
            ASSERT_EQ(b->model->find(b->model->reference(id)), id);
        }
    }
}

const SclCase kSclCases[] = {
    {"NotWellFormedXml", [](SclParts &p) { p.lns += "<LN"; }, true, "not well-formed", nullptr, nullptr},
    {"NoTemplates", [](SclParts &p) { p.with_templates = false; }, true, "no DataTypeTemplates", nullptr, nullptr},
    {"DuplicateIedName",
     [](SclParts &p) {
         p.lns += "</LDevice></Server></AccessPoint></IED><IED name=\"T1\"><AccessPoint name=\"S1\"><Server><LDevice "
                  "inst=\"X\">";
     },
     true, "duplicate IED name", nullptr, nullptr},
    {"UnknownLnType", [](SclParts &p) { p.lns += "\n<LN lnClass=\"GGIO\" inst=\"2\" lnType=\"Missing\"/>"; }, false,
     "unknown lnType", "lnType=\"Missing\"", "T1LD0/GGIO2"},
    {"UnknownDoType",
     [](SclParts &p) {
         p.templates += "\n<LNodeType id=\"X\" lnClass=\"GGIO\"/>";
         p.templates.replace(p.templates.find("<DO name=\"Ind\" type=\"SPS_T\"/>"), 30,
                             "<DO name=\"Ind\" type=\"NoSuch\"/>");
     },
     false, "unknown DOType", "type=\"NoSuch\"", "T1LD0/GGIO1$ST$Ind"},
    {"UnknownDaType",
     [](SclParts &p) {
         p.templates.replace(p.templates.find("bType=\"Quality\""), 15, "bType=\"Struct\" type=\"Nope\"");
     },
     false, "unknown DAType", "type=\"Nope\"", "T1LD0/GGIO1$ST$Ind$q"},
    {"UnknownEnumType",
     [](SclParts &p) { p.templates.replace(p.templates.find("type=\"BehE\""), 11, "type=\"Gone\""); }, false,
     "unknown EnumType", "type=\"Gone\"", "T1LD0/GGIO1$ST$Beh$stVal"},
    {"UnsupportedBasicType",
     [](SclParts &p) { p.templates.replace(p.templates.find("bType=\"Quality\""), 15, "bType=\"Float128\""); }, false,
     "unsupported bType", "Float128", "T1LD0/GGIO1$ST$Ind$q"},
    {"RecursiveDaType",
     [](SclParts &p) {
         p.templates += "\n<DAType id=\"Loop\"><BDA name=\"x\" bType=\"Struct\" type=\"Loop\"/><BDA name=\"v\" "
                        "bType=\"INT8\"/></DAType>";
         p.templates.replace(p.templates.find("bType=\"Quality\""), 15, "bType=\"Struct\" type=\"Loop\"");
     },
     false, "refers back", "<BDA name=\"x\"", "T1LD0/GGIO1$ST$Ind$q$x"},
    {"DanglingFcda", [](SclParts &p) { p.lns.replace(p.lns.find("doName=\"Ind\""), 12, "doName=\"Nix\""); }, false,
     "names no object", "doName=\"Nix\"", nullptr},
    {"FcdaWithoutFc", [](SclParts &p) { p.lns.replace(p.lns.find(" fc=\"ST\""), 8, ""); }, false, "lacks", nullptr,
     nullptr},
    {"DuplicateLnName",
     [](SclParts &p) { p.lns += "\n<LN lnClass=\"GGIO\" inst=\"1\" lnType=\"GGIO_T\" desc=\"dup\"/>"; }, false,
     "duplicate LN", "desc=\"dup\"", nullptr},
    {"DuplicateDataObjectInType",
     [](SclParts &p) {
         size_t at = p.templates.find("</LNodeType>\n<DOType");
         p.templates.insert(at, "<DO name=\"Ind\" type=\"ENS_T\"/>");
     },
     false, "duplicate DO", nullptr, nullptr},
    {"DuplicateDataSet",
     [](SclParts &p) { p.lns.replace(p.lns.find("<ReportControl"), 0, "<DataSet name=\"ds1\" desc=\"again\"/>\n"); },
     false, "duplicate DataSet", "desc=\"again\"", nullptr},
    {"NameOver64Characters",
     [](SclParts &p) {
         p.lns += "\n<LN prefix=\"" + std::string(70, 'P') + "\" lnClass=\"GGIO\" inst=\"3\" lnType=\"GGIO_T\"/>";
     },
     false, "longer than 64", "PPPP", nullptr},
    {"ReferenceOver129Characters",
     [](SclParts &p) {
         p.ld_inst = std::string(60, 'L');
         p.lns += "\n<LN prefix=\"" + std::string(50, 'Q') + "\" lnClass=\"GGIO\" inst=\"4\" lnType=\"GGIO_T\"/>";
     },
     false, "over 129", "QQQQ", nullptr},
    {"NameWithDollar",
     [](SclParts &p) { p.lns += "\n<LN prefix=\"a$b\" lnClass=\"GGIO\" inst=\"5\" lnType=\"GGIO_T\"/>"; }, false,
     "not a valid name", "a$b", nullptr},
    {"EnumValueNotInType",
     [](SclParts &p) {
         p.lns += "\n<LN lnClass=\"GGIO\" inst=\"6\" lnType=\"GGIO_T\"><DOI name=\"Beh\"><DAI "
                  "name=\"stVal\"><Val>sideways</Val></DAI></DOI></LN>";
     },
     false, "not in EnumType", "sideways", nullptr},
    {"ValueDoesNotFitType",
     [](SclParts &p) {
         p.lns += "\n<LN lnClass=\"GGIO\" inst=\"7\" lnType=\"GGIO_T\"><DOI name=\"Ind\"><DAI "
                  "name=\"stVal\"><Val>maybe</Val></DAI></DOI></LN>";
     },
     false, "does not fit", "maybe", nullptr},
    {"InstancePathNotInType",
     [](SclParts &p) {
         p.lns += "\n<LN lnClass=\"GGIO\" inst=\"8\" lnType=\"GGIO_T\"><DOI name=\"Ghost\" desc=\"g\"/></LN>";
     },
     false, "not in its type", "Ghost", nullptr},
    {"RptEnabledMaxOutOfRange", [](SclParts &p) { p.lns.replace(p.lns.find("max=\"2\""), 7, "max=\"100\""); }, false,
     "outside 1..99", "max=\"100\"", "T1LD0/LLN0$RP$rcb01"},
    {"TypesThatExpandExponentially",
     [](SclParts &p) {
         // Ten levels of a structure holding ten of the next: 10^10 leaves.
         for (int l = 0; l < 10; ++l) {
             p.templates += "\n<DAType id=\"E" + std::to_string(l) + "\">";
             for (int k = 0; k < 10; ++k)
                 p.templates += "<BDA name=\"b" + std::to_string(k) + "\" bType=\"" +
                                (l < 9 ? "Struct\" type=\"E" + std::to_string(l + 1) : std::string("INT8")) + "\"/>";
             p.templates += "</DAType>";
         }
         p.templates.replace(p.templates.find("bType=\"Quality\""), 15, "bType=\"Struct\" type=\"E0\"");
     },
     false, "expands beyond", nullptr, "T1LD0/GGIO1"},
    {"ArrayOfArraysTooManyBytes",
     [](SclParts &p) {
         p.templates += "\n<DAType id=\"Big\"><BDA name=\"v\" bType=\"Unicode255\" count=\"1000\"/></DAType>";
         p.templates.replace(p.templates.find("bType=\"Quality\""), 15, "bType=\"Struct\" type=\"Big\" count=\"1000\"");
     },
     false, "expands beyond", nullptr, "T1LD0/GGIO1"},
    {"ArrayCountTooLarge",
     [](SclParts &p) {
         p.templates.replace(p.templates.find("bType=\"Quality\""), 15, "bType=\"INT8\" count=\"100000\"");
     },
     false, "count", "count=\"100000\"", "T1LD0/GGIO1$ST$Ind$q"},
};

INSTANTIATE_TEST_SUITE_P(Cases, MalformedSclCase, ::testing::ValuesIn(kSclCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MalformedScl, DanglingMemberKeepsItsPlaceInTheDataSet) {
    SclParts p;
    p.lns.replace(p.lns.find("</DataSet>"), 0,
                  "<FCDA ldInst=\"LD0\" lnClass=\"GGIO\" lnInst=\"9\" doName=\"Ind\" fc=\"ST\"/>"
                  "<FCDA ldInst=\"LD0\" lnClass=\"GGIO\" lnInst=\"1\" doName=\"Ind\" daName=\"q\" fc=\"ST\"/>");
    auto b = build(p.text());
    ASSERT_TRUE(b->model);
    AI_DS_CTRL *ds = b->model->data_set(b->model->find("T1LD0/LLN0$ds1"));
    ASSERT_EQ(ds->mb_num, 3);
    EXPECT_GE(ds->mb_ids[0], 0);
    EXPECT_EQ(ds->mb_ids[1], -1);
    EXPECT_STREQ(ds->mb_refs[1], "T1LD0/GGIO9$ST$Ind");
    EXPECT_EQ(b->model->id_ctrl(ds->mb_ids[1]), nullptr);
    EXPECT_EQ(ds->mb_ids[2], b->model->find("T1LD0/GGIO1$ST$Ind$q"));
}

TEST(MalformedScl, ArraysAreReadAsAllTheirElements) {
    SclParts p;
    p.templates.replace(p.templates.find("bType=\"Quality\""), 15, "bType=\"INT16\" count=\"3\"");
    auto b = build(p.text());
    ASSERT_TRUE(b->model);
    AI_OBJ_ID arr = b->model->find("T1LD0/GGIO1$ST$Ind$q");
    ASSERT_GE(arr, 0);
    AI_OBJ_VAL v;
    ASSERT_EQ(b->model->read(b->model->find("T1LD0/GGIO1$ST$Ind"), &v), 0);
    ASSERT_EQ(v.prim_num, 4);
    for (int i = 1; i < 4; ++i) {
        // Each element is an object of its own, "...$q(0)" to "...$q(2)".
        EXPECT_EQ(v.prim_ids[i], b->model->element(arr, uint32_t(i - 1)));
        EXPECT_EQ(b->model->reference(v.prim_ids[i]), "T1LD0/GGIO1$ST$Ind$q(" + std::to_string(i - 1) + ")");
        EXPECT_EQ(v.prim_vals[i].type, VAL_TYPE_INT16);
    }
    IedModel::release_values(&v);
}

// ---- station file ---------------------------------------------------------------

struct StationCase {
    const char *name;
    std::string text;
    const char *reason;
    int line;  // expected line of the diagnostic (0: not checked)
};

std::ostream &operator<<(std::ostream &os, const StationCase &c) { return os << c.name; }

class MalformedStation : public ::testing::TestWithParam<StationCase> {};

std::string temp_path(const std::string &name) {
    return ::testing::TempDir() + "/zv_model_" + name + "_" + std::to_string(getpid()) + ".ini";
}

TEST_P(MalformedStation, IsRefusedWithLineAndReason) {
    const StationCase &c = GetParam();
    std::string path = temp_path(c.name);
    std::ofstream(path) << c.text;
    StationFile sf;
    scl::Diagnostics diag(true);
    bool ok = read_station_file(path, sf, diag);
    if (ok) ok = Station::load(sf, diag) != nullptr;
    EXPECT_FALSE(ok);
    ASSERT_TRUE(diag.mentions(c.reason)) << (diag.items().empty() ? "" : diag.items().back().reason);
    if (c.line) {
        bool at_line = false;
        for (const scl::Diag &d : diag.items()) at_line = at_line || (d.line == c.line && d.file == path);
        EXPECT_TRUE(at_line);
    }
    // A password never shows in a diagnostic.
    for (size_t at = c.text.find("password = "); at != std::string::npos; at = c.text.find("password = ", at + 1)) {
        const std::string pw = c.text.substr(at + 11, c.text.find('\n', at) - at - 11);
        EXPECT_FALSE(diag.mentions(pw.substr(0, 8))) << c.name;
    }
    std::remove(path.c_str());
}

const std::string kScl = "scl = " + kDir + "/sample.scd\n";

const StationCase kStationCases[] = {
    {"NoScl", "[station]\n", "no SCL file", 0},
    {"MissingSclFile", "[station]\nscl = /nonexistent/x.scd\n", "cannot be used", 2},
    {"UnknownSection", "[station]\n" + kScl + "[server X]\n", "unknown section", 3},
    {"UnknownKey", "[station]\n" + kScl + "[ied CMIED]\nport = 5\n", "unknown key 'port'", 4},
    {"KeyOutsideSection", "scl = a.scd\n", "outside a section", 1},
    {"NoEquals", "[station]\n" + kScl + "[ied CMIED]\naddr_a\n", "key = value", 4},
    {"AddressWithoutPort", "[station]\n" + kScl + "[ied CMIED]\naddr_a = 127.0.0.1\n", "not host:port", 4},
    {"PortOutOfRange", "[station]\n" + kScl + "[ied CMIED]\naddr_a = 127.0.0.1:70000\n", "not host:port", 4},
    {"InstanceNumberTooLarge", "[station]\n" + kScl + "[ied CMIED]\nchnlA_NO = 100\n", "chnlA_NO", 4},
    {"FlagNotZeroOrOne", "[station]\n" + kScl + "[ied CMIED]\nkeep_con_A = 2\n", "keep_con_A", 4},
    {"KeyTwice", "[station]\n" + kScl + "[ied CMIED]\nchnlA_NO = 1\nchnlA_NO = 2\n", "given twice", 5},
    {"IedTwice", "[station]\n" + kScl + "[ied CMIED]\n[ied CMIED]\n", "second section", 4},
    {"IedNotInScl", "[station]\n" + kScl + "\n[ied GHOST]\n", "not in the SCL", 4},
    {"IedNameTooLong", "[station]\n" + kScl + "[ied " + std::string(65, 'I') + "]\n", "not a valid name", 3},
    {"LineTooLong", "[station]\n# " + std::string(2000, 'x') + "\n", "longer than 1024", 2},
    {"TselOddDigits", "[station]\n" + kScl + "[ied CMIED]\ntsel = 001\n",
     "'tsel' of IED 'CMIED': a selector is 1 to 32", 4},
    {"SselNotHex", "[station]\n" + kScl + "[ied CMIED]\nssel = 00G1\n", "hex digits", 4},
    {"PselBeyond16Octets", "[station]\n" + kScl + "[ied CMIED]\npsel = " + std::string(34, '0') + "\n",
     "1 to 16 octets", 4},
    {"LocalSselEmpty", "[station]\n" + kScl + "[ied CMIED]\nlocal_ssel =\n", "'local_ssel'", 4},
    {"ApTitleFirstArcThree", "[station]\n" + kScl + "[ied CMIED]\nap_title = 3.1.2\n", "the first 0..2", 4},
    {"ApTitleSecondArc40", "[station]\n" + kScl + "[ied CMIED]\nap_title = 1.40.2\n", "below 40", 4},
    {"ApTitleOneArc", "[station]\n" + kScl + "[ied CMIED]\nap_title = 1\n", "at least two arcs", 4},
    {"LocalApTitleEmptyArc", "[station]\n" + kScl + "[ied CMIED]\nlocal_ap_title = 1..2\n", "object identifier", 4},
    {"ApTitleArcBeyond32Bits", "[station]\n" + kScl + "[ied CMIED]\nap_title = 1.1.4294967296\n", "exceeds 32 bits", 4},
    {"ApTitleTooManyArcs",
     "[station]\n" + kScl + "[ied CMIED]\nap_title = 1.1" +
         [] {
             std::string t;
             for (int i = 0; i < 31; ++i) t += ".1";
             return t;
         }() +
         "\n",
     "at most 32 arcs", 4},
    {"AeQualifierNotANumber", "[station]\n" + kScl + "[ied CMIED]\nae_qualifier = twelve\n", "decimal integer", 4},
    {"LocalAeQualifierBeyond32Bits", "[station]\n" + kScl + "[ied CMIED]\nlocal_ae_qualifier = 4294967296\n",
     "'local_ae_qualifier'", 4},
    {"PasswordEmpty", "[station]\n" + kScl + "[ied CMIED]\npassword =\n", "must be 1 to 256 characters", 4},
    {"PasswordTooLong", "[station]\n" + kScl + "[ied CMIED]\npassword = " + std::string(257, 'k') + "\n",
     "must be 1 to 256 characters", 4},
    {"PasswordWithControlCharacter", "[station]\n" + kScl + "[ied CMIED]\npassword = Tab\tInside\n",
     "without control characters", 4},
    {"PasswordTwice", "[station]\n" + kScl + "[ied CMIED]\npassword = Alpha9\npassword = Beta9\n", "given twice", 5},
    // TLS keys: checked once the section is read, at the first TLS key's line.
    {"TlsKeysWithoutTls", "[station]\n" + kScl + "[ied CMIED]\ntls_ca = sample.scd\n", "without 'tls = 1'", 4},
    {"TlsWithoutCa", "[station]\n" + kScl + "[ied CMIED]\nchnlA_NO = 1\ntls = 1\n", "needs 'tls_ca'", 5},
    {"TlsCertWithoutKey", "[station]\n" + kScl + "[ied CMIED]\ntls = 1\ntls_ca = sample.scd\ntls_cert = sample.scd\n",
     "go together", 4},
    {"TlsCaUnreadable", "[station]\n" + kScl + "[ied CMIED]\ntls = 1\ntls_ca = /nonexistent/ca.pem\n",
     "TLS file '/nonexistent/ca.pem' of IED 'CMIED' cannot be read", 4},
    {"TlsFlagNotZeroOrOne", "[station]\n" + kScl + "[ied CMIED]\ntls = yes\n", "'tls' must be a number from 0 to 1", 4},
    {"FingerprintOneOctetShort",
     "[station]\n" + kScl + "[ied CMIED]\ntls_peer_fingerprint = " + std::string(62, 'a') + "\n",
     "32 octets of a SHA-256 fingerprint", 4},
    {"FingerprintOneOctetLong",
     "[station]\n" + kScl + "[ied CMIED]\ntls_peer_fingerprint = " + std::string(66, 'a') + "\n",
     "32 octets of a SHA-256 fingerprint", 4},
    {"FingerprintNotHex", "[station]\n" + kScl + "[ied CMIED]\ntls_peer_fingerprint = " + std::string(62, 'a') + "zz\n",
     "32 octets of a SHA-256 fingerprint", 4},
    {"FingerprintColonInsideOctet",
     "[station]\n" + kScl + "[ied CMIED]\ntls_peer_fingerprint = a:a" + std::string(62, 'a') + "\n",
     "32 octets of a SHA-256 fingerprint", 4},
    {"BareHostWithoutTls", "[station]\n" + kScl + "[ied CMIED]\naddr_b = 127.0.0.2\ntls = 0\n",
     "addr_b '127.0.0.2' is not host:port", 4},
    {"NoFile", "", "no SCL file", 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, MalformedStation, ::testing::ValuesIn(kStationCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(StationFile, WithoutIedSectionsEveryServerIedIsTakenWithSclAddresses) {
    std::string path = temp_path("defaults");
    std::ofstream(path) << "[station]\n" << kScl;
    StationFile sf;
    scl::Diagnostics diag(true);
    ASSERT_TRUE(read_station_file(path, sf, diag));
    auto st = Station::load(sf, diag);
    ASSERT_TRUE(st);
    ASSERT_EQ(st->server_count(), 2);
    EXPECT_EQ(st->server(0)->name, "CMIED");
    EXPECT_EQ(st->server(0)->a.host, "127.0.0.1");
    EXPECT_EQ(st->server(0)->a.port, 102);
    EXPECT_EQ(st->server(0)->b.host, "127.0.0.2");
    EXPECT_EQ(st->server(1)->cfg.chnlA_NO, 1);
    EXPECT_STREQ(st->server(1)->cfg.ied_name, "BAYIED");
    std::remove(path.c_str());
}

// IEC 62351-3: TLS runs on port 3782 unless an address names another; file
// names are taken from the station file's folder; a fingerprint is read as
// openssl prints it (colons) or plain.
TEST(StationFile, TlsKeysGivePathsPinAndTheTlsPort) {
    const std::string path = temp_path("tls");
    const std::string dir = path.substr(0, path.rfind('/'));
    const std::string pem = dir + "/zv_model_tls.pem";  // only read when connecting
    std::ofstream(pem) << "-\n";
    std::ofstream(path)
        << "[station]\n"
        << kScl
        << "[ied CMIED]\naddr_a = 127.0.0.1\naddr_b = 127.0.0.2:9999\ntls = 1\ntls_ca = zv_model_tls.pem\n"
           "tls_cert = "
        << pem << "\ntls_key = zv_model_tls.pem\ntls_peer_fingerprint = "
        << "00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF\n"
        << "[ied BAYIED]\ntls = 1\ntls_ca = " << pem << "\ntls_peer_fingerprint = " << std::string(64, 'f') << "\n";
    StationFile sf;
    scl::Diagnostics diag(true);
    const bool read = read_station_file(path, sf, diag);
    ASSERT_TRUE(read) << (diag.items().empty() ? "" : diag.items().back().reason);
    auto st = Station::load(sf, diag);
    std::remove(path.c_str());
    std::remove(pem.c_str());
    ASSERT_TRUE(st);
    const Server &cm = *st->server(0);
    EXPECT_TRUE(cm.tls.on);
    EXPECT_EQ(cm.a.port, kDefaultTlsPort);
    EXPECT_EQ(cm.b.port, 9999);
    EXPECT_EQ(cm.tls.ca, dir + "/zv_model_tls.pem");
    EXPECT_EQ(cm.tls.cert, pem);
    EXPECT_EQ(cm.tls.key, dir + "/zv_model_tls.pem");
    ASSERT_EQ(cm.tls.fingerprint.size(), 32u);
    EXPECT_EQ(cm.tls.fingerprint[10], 0xAA);
    EXPECT_EQ(cm.tls.fingerprint[31], 0xFF);
    const Server &bay = *st->server(1);  // addresses from the SCL, on the TLS port
    EXPECT_EQ(bay.a.host, "127.0.0.1");
    EXPECT_EQ(bay.a.port, kDefaultTlsPort);
    EXPECT_EQ(bay.b.port, kDefaultTlsPort);
    EXPECT_TRUE(bay.tls.cert.empty());
    EXPECT_EQ(bay.tls.fingerprint, std::vector<uint8_t>(32, 0xFF));
}

TEST(StationFile, ExplicitSectionsChooseOrderAddressesAndSettings) {
    std::string path = temp_path("explicit");
    std::ofstream(path) << "# comment\n[station]\n"
                        << kScl
                        << "[ied BAYIED]   ; the bay first\naddr_a = localhost:20103\naddr_b = none\nchnlA_NO = 12\n"
                           "keep_con_B = 0\nauto_assoc_time = 5\n";
    StationFile sf;
    scl::Diagnostics diag(true);
    ASSERT_TRUE(read_station_file(path, sf, diag));
    auto st = Station::load(sf, diag);
    ASSERT_TRUE(st);
    ASSERT_EQ(st->server_count(), 1);
    Server *s = st->server(0);
    EXPECT_EQ(s->name, "BAYIED");
    EXPECT_EQ(s->a.host, "localhost");
    EXPECT_EQ(s->a.port, 20103);
    EXPECT_FALSE(s->b.present());
    EXPECT_EQ(s->cfg.chnlA_NO, 12);
    EXPECT_EQ(s->cfg.keep_con_B, 0);
    EXPECT_EQ(s->cfg.auto_acssoc_time, 5);
    EXPECT_EQ(st->config("BAYIED"), &s->cfg);
    EXPECT_EQ(st->config("CMIED"), nullptr);
    std::remove(path.c_str());
}

// The sample SCD with OSI parameters in CMIED's Address on each network.
std::string scd_with_osi(const std::string &net_a_osi, const std::string &net_b_osi) {
    std::string text = read_file(kDir + "/sample.scd");
    const std::string a = "<ConnectedAP iedName=\"CMIED\" apName=\"S1\">\n        <Address>";
    const std::string b = "<ConnectedAP iedName=\"CMIED\" apName=\"S2\">\n        <Address>";
    EXPECT_NE(text.find(a), std::string::npos);
    EXPECT_NE(text.find(b), std::string::npos);
    text.insert(text.find(a) + a.size(), net_a_osi);
    text.insert(text.find(b) + b.size(), net_b_osi);
    return text;
}

TEST(StationFile, IsoAddressingComesFromSclPerNetworkAndStationKeysOverrideIt) {
    const std::string scd = ::testing::TempDir() + "/zv_model_osi_" + std::to_string(getpid()) + ".scd";
    std::ofstream(scd) << scd_with_osi(
        "<P type=\"OSI-AP-Title\">1,3,9999,33</P><P type=\"OSI-AE-Qualifier\">33</P>"
        "<P type=\"OSI-PSEL\">00000001</P><P type=\"OSI-SSEL\">0001</P><P type=\"OSI-TSEL\">0001</P>"
        "<P type=\"OSI-AP-Invoke\">4</P><P type=\"OSI-AE-Invoke\">5</P>",
        "<P type=\"OSI-PSEL\">0000000B</P>");
    const std::string path = temp_path("osi");
    std::ofstream(path) << "[station]\nscl = " << scd
                        << "\n[ied CMIED]\nssel = 00ab\nlocal_tsel = none\nlocal_ap_title = 1.3.9999.1\n"
                           "local_ae_qualifier = -7\npassword = top secret!\n[ied BAYIED]\n";
    StationFile sf;
    scl::Diagnostics diag(true);
    ASSERT_TRUE(read_station_file(path, sf, diag));
    auto st = Station::load(sf, diag);
    ASSERT_TRUE(st) << (diag.items().empty() ? "" : diag.items().back().reason);
    const Server &cm = *st->server(0);
    using Octets = std::vector<uint8_t>;
    EXPECT_EQ(cm.called_a.ap_title, (std::vector<uint32_t>{1, 3, 9999, 33}));
    EXPECT_EQ(cm.called_a.ae_qualifier, 33);
    EXPECT_EQ(cm.called_a.ap_invoke, 4);
    EXPECT_EQ(cm.called_a.ae_invoke, 5);
    EXPECT_EQ(cm.called_a.tsel, (Octets{0x00, 0x01}));
    EXPECT_EQ(cm.called_a.psel, (Octets{0, 0, 0, 1}));
    EXPECT_EQ(cm.called_a.ssel, (Octets{0x00, 0xab}));     // the station key wins
    EXPECT_EQ(cm.called_b.psel, (Octets{0, 0, 0, 0x0b}));  // B's own Address
    EXPECT_FALSE(cm.called_b.ap_title);
    EXPECT_EQ(cm.called_b.ssel, (Octets{0x00, 0xab}));
    EXPECT_EQ(cm.calling.tsel, Octets{});  // none: left out
    EXPECT_EQ(cm.calling.ap_title, (std::vector<uint32_t>{1, 3, 9999, 1}));
    EXPECT_EQ(cm.calling.ae_qualifier, -7);
    EXPECT_EQ(cm.password, std::optional<std::string>("top secret!"));
    const Server &bay = *st->server(1);  // nothing given: every default stays
    EXPECT_FALSE(bay.called_a.tsel || bay.called_a.ssel || bay.called_a.psel || bay.called_a.ap_title ||
                 bay.called_a.ae_qualifier || bay.calling.ap_title || bay.password);
    std::remove(path.c_str());
    std::remove(scd.c_str());
}

TEST(StationFile, MalformedSclOsiParameterFailsAtItsLine) {
    const std::string scd = ::testing::TempDir() + "/zv_model_osi_bad_" + std::to_string(getpid()) + ".scd";
    const std::string text = scd_with_osi("<P type=\"OSI-PSEL\">0000G001</P>", "");
    std::ofstream(scd) << text;
    const std::string path = temp_path("osi_bad");
    std::ofstream(path) << "[station]\nscl = " << scd << "\n";
    StationFile sf;
    scl::Diagnostics diag(true);
    ASSERT_TRUE(read_station_file(path, sf, diag));
    EXPECT_FALSE(Station::load(sf, diag));
    ASSERT_FALSE(diag.items().empty());
    const scl::Diag &d = diag.items().back();
    EXPECT_EQ(d.file, scd);
    EXPECT_EQ(d.line, 1 + int(std::count(text.begin(), text.begin() + long(text.find("OSI-PSEL")), '\n')));
    EXPECT_NE(d.reason.find("OSI-PSEL of S1: a selector is hex digits"), std::string::npos) << d.reason;
    std::remove(path.c_str());
    std::remove(scd.c_str());
}

TEST(StationFile, TheSampleStationFileLoads) {
    StationFile sf;
    scl::Diagnostics diag(true);
    ASSERT_TRUE(read_station_file(kDir + "/station.ini", sf, diag));
    auto st = Station::load(sf, diag);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->server(0)->a.port, 10102);
    EXPECT_EQ(st->server(1)->b.host, "127.0.0.2");
    EXPECT_EQ(st->server(0)->cfg.l.next, &st->server(1)->cfg.l);
    EXPECT_EQ(st->server(1)->cfg.l.prev, &st->server(0)->cfg.l);
}

// ---- fuzz ---------------------------------------------------------------------

// Random damage to the sample SCD: the reader and builder refuse or skip, and
// whatever model comes out is consistent. Deterministic seed, a few hundred cases.
TEST(SclFuzz, DamagedFilesNeverCrashTheReaderOrBuilder) {
    const std::string base = read_file(kDir + "/sample.scd");
    ASSERT_FALSE(base.empty());
    std::mt19937 rng(61850);
    static const std::string longw(80, 'W');
    const char *junk[] = {
        "<",          ">", "\"", "&amp;", "$", "/", "\xff", "<DOI name=\"x\">", "</LN>", "count=\"7\"", "type=\"MV_T\"",
        longw.c_str()};
    for (int iter = 0; iter < 150; ++iter) {
        std::string t = base;
        int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t pos = rng() % t.size();
            switch (rng() % 4) {
            case 0: t[pos] = char(rng() % 256); break;
            case 1: t.erase(pos, rng() % 200); break;
            case 2: t.insert(pos, t.substr(rng() % t.size(), rng() % 300)); break;
            default: t.insert(pos, junk[rng() % (sizeof junk / sizeof junk[0])]); break;
            }
        }
        scl::Diagnostics diag(true);
        auto doc = std::make_shared<scl::Document>();
        if (!scl::parse_text(t, "fuzz.scd", *doc, diag)) {
            ASSERT_TRUE(diag.has_errors());
            continue;
        }
        for (const scl::Ied &ied : doc->ieds) {
            auto m = IedModel::build(doc, ied, diag);
            if (!m) continue;
            for (AI_OBJ_ID id = 0; id < m->object_count(); ++id) {
                std::string ref = m->reference(id);
                ASSERT_LE(ref.size(), 129u);
                ASSERT_EQ(m->find(ref), id) << ref;
            }
            AI_OBJ_VAL v;
            ASSERT_EQ(m->read(0, &v), 0);
            IedModel::release_values(&v);
        }
    }
}

}  // namespace
