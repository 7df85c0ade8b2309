// SCL features an independent reading of the same files showed the model
// lacked: setting group views, sampled value control blocks, arrays of data
// objects and attributes with their elements as objects (instance values by
// ix, data set members by ix), PhyComAddr and SvOptFlds, unnamed access
// points, empty values. Each row names a reference and what it must be.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model/ied_model.h"
#include "model/values.h"

using namespace zv::model;
namespace scl = zv::scl;

namespace {

using Names = std::vector<std::string>;

const std::string kFeatures = ZV_FEATURES_SCD;

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string with(std::string text, const std::string &from, const std::string &to) {
    size_t p = text.find(from);
    EXPECT_NE(p, std::string::npos) << from;
    if (p != std::string::npos) text.replace(p, from.size(), to);
    return text;
}

// The feature file with another SCL header and AccessPoint attributes.
std::string scl_text(const std::string &root_attrs, const std::string &ap_attrs = R"(name="S1")") {
    static const std::string base = read_file(kFeatures);
    return with(with(base, R"(<SCL version="2007" revision="B">)", "<SCL " + root_attrs + ">"),
                R"(<AccessPoint name="S1">)", "<AccessPoint " + ap_attrs + ">");
}

struct Built {
    scl::Diagnostics diag{true};
    std::shared_ptr<scl::Document> doc = std::make_shared<scl::Document>();
    std::unique_ptr<IedModel> model;
    std::string diagnostics() const {
        std::string s;
        for (const scl::Diag &d : diag.items()) s += "  " + std::to_string(d.line) + ": " + d.reason + "\n";
        return s;
    }
};

std::unique_ptr<Built> build(const std::string &text) {
    auto b = std::make_unique<Built>();
    if (scl::parse_text(text, "features.scd", *b->doc, b->diag) && !b->doc->ieds.empty())
        b->model = IedModel::build(b->doc, b->doc->ieds[0], b->diag);
    return b;
}

Built &edition2() {
    static std::unique_ptr<Built> b = build(scl_text(R"(version="2007" revision="B")"));
    return *b;
}

Names children(const IedModel &m, const std::string &ref) {
    Names out;
    const AI_OBJ_ID *ids = nullptr;
    int32_t n = 0;
    if (m.children(m.find(ref), ids, n))
        for (int32_t i = 0; i < n; ++i) out.push_back(m.name(ids[i]));
    return out;
}

TEST(SclFeatures, TheFeatureFileBuildsWithoutDiagnostics) {
    Built &b = edition2();
    ASSERT_TRUE(b.model) << b.diagnostics();
    EXPECT_TRUE(b.diag.items().empty()) << b.diagnostics();  // empty <Val>s included
}

// ---- references, object kinds, types and values -----------------------------------

struct RefRow {
    const char *name;
    const char *ref;
    AI_OBJ_TYPE obj;
    int tag;           // RT_PRIMITIVE, RT_STR_START or RT_ARR_START
    AI_VAL_TYPE type;  // primitives
    const char *text;  // primitives: the value's text (null: not checked)
};
std::ostream &operator<<(std::ostream &os, const RefRow &r) { return os << r.name; }

class FeatureRefs : public ::testing::TestWithParam<RefRow> {};

TEST_P(FeatureRefs, ResolveWithTheirKindTypeAndValue) {
    const RefRow &r = GetParam();
    ASSERT_TRUE(edition2().model);
    IedModel &m = *edition2().model;
    const AI_OBJ_ID id = m.find(r.ref);
    ASSERT_GE(id, 0) << r.ref;
    EXPECT_EQ(m.reference(id), r.ref);
    EXPECT_EQ(m.type(id), r.obj);
    const RUNTIME_TYPE *rt = nullptr;
    int32_t n = 0;
    ASSERT_TRUE(m.type_of(id, rt, n));
    EXPECT_EQ(rt->el_tag, r.tag);
    if (r.tag != RT_PRIMITIVE) return;
    EXPECT_EQ(AI_VAL_TYPE(rt->u.p.pad), r.type);
    if (r.text) {
        std::string t;
        ASSERT_EQ(m.read_text(id, t), 0);
        EXPECT_EQ(t, r.text);
    }
}

constexpr int P = RT_PRIMITIVE, S = RT_STR_START, A = RT_ARR_START;
constexpr AI_OBJ_TYPE FCD = OBJECT_TYPE_FCD, FCDA = OBJECT_TYPE_FCDA, CB = OBJECT_TYPE_CB;
constexpr AI_VAL_TYPE NONE = VAL_TYPE_UNKNOWN;

INSTANTIATE_TEST_SUITE_P(
    Rows, FeatureRefs,
    ::testing::Values(
        // Setting groups: the SE attribute also under SG, with the instance value.
        RefRow{"SeSetting", "F1LD0/MHAI1$SE$Set$setMag$f", FCDA, P, VAL_TYPE_FLOAT32, "2.5"},
        RefRow{"SgViewOfSeSetting", "F1LD0/MHAI1$SG$Set$setMag$f", FCDA, P, VAL_TYPE_FLOAT32, "2.5"},
        RefRow{"SgOwnAttribute", "F1LD0/MHAI1$SG$Set$actOnly", FCDA, P, VAL_TYPE_INT32, "0"},
        // Sampled value control blocks.
        RefRow{"Msvcb", "F1LD0/LLN0$MS$msv", CB, S, NONE, ""},
        RefRow{"MsvID", "F1LD0/LLN0$MS$msv$MsvID", FCDA, P, VAL_TYPE_VSTRING129, "SV01"},
        RefRow{"MsvDatSet", "F1LD0/LLN0$MS$msv$DatSet", FCDA, P, VAL_TYPE_VSTRING129, "F1LD0/LLN0$dsHarm"},
        RefRow{"MsvConfRev", "F1LD0/LLN0$MS$msv$ConfRev", FCDA, P, VAL_TYPE_INT32U, "4"},
        RefRow{"MsvSmpRate", "F1LD0/LLN0$MS$msv$SmpRate", FCDA, P, VAL_TYPE_INT16U, "80"},
        RefRow{"MsvOptFlds", "F1LD0/LLN0$MS$msv$OptFlds", FCDA, P, VAL_TYPE_OPTFLDS, "10101"},
        RefRow{"MsvSmpMod", "F1LD0/LLN0$MS$msv$SmpMod", FCDA, P, VAL_TYPE_INT8, "1"},
        RefRow{"MsvNoAsdu", "F1LD0/LLN0$MS$msv$noASDU", FCDA, P, VAL_TYPE_INT16U, "2"},
        RefRow{"MsvDstAddr", "F1LD0/LLN0$MS$msv$DstAddress$APPID", FCDA, P, VAL_TYPE_INT16U, "0"},
        RefRow{"Usvcb", "F1LD0/LLN0$US$usv", CB, S, NONE, ""},
        RefRow{"UsvID", "F1LD0/LLN0$US$usv$UsvID", FCDA, P, VAL_TYPE_VSTRING129, "SV02"},
        RefRow{"UsvSmpRate", "F1LD0/LLN0$US$usv$SmpRate", FCDA, P, VAL_TYPE_INT16U, "4000"},
        RefRow{"UsvResv", "F1LD0/LLN0$US$usv$Resv", FCDA, P, VAL_TYPE_BOOLEAN, "false"},
        RefRow{"UsvOptFldsNoneSet", "F1LD0/LLN0$US$usv$OptFlds", FCDA, P, VAL_TYPE_OPTFLDS, "00000"},
        // An SDO with count: an array of data objects, elements addressable.
        RefRow{"SdoArray", "F1LD0/MHAI1$MX$Harm$phsAHar", FCD, A, NONE, ""},
        RefRow{"SdoElement", "F1LD0/MHAI1$MX$Harm$phsAHar(0)", FCD, S, NONE, ""},
        RefRow{"SdoElementTemplateValue", "F1LD0/MHAI1$MX$Harm$phsAHar(0)$cVal$mag$f", FCDA, P, VAL_TYPE_FLOAT32, "1.5"},
        RefRow{"SdoElementByIx", "F1LD0/MHAI1$MX$Harm$phsAHar(2)$cVal$mag$f", FCDA, P, VAL_TYPE_FLOAT32, "42.25"},
        RefRow{"SdoElementQuality", "F1LD0/MHAI1$MX$Harm$phsAHar(1)$q", FCDA, P, VAL_TYPE_QUALITY, "0000000000000"},
        RefRow{"SdoSibling", "F1LD0/MHAI1$CF$Harm$numHar", FCDA, P, VAL_TYPE_INT16U, "3"},
        // A DA with count: elements addressable, template default in each, ix value in its own.
        RefRow{"DaArray", "F1LD0/MHAI1$SP$Arr$vals", FCDA, A, NONE, ""},
        RefRow{"DaElementDefault", "F1LD0/MHAI1$SP$Arr$vals(0)", FCDA, P, VAL_TYPE_INT32, "7"},
        RefRow{"DaElementByIx", "F1LD0/MHAI1$SP$Arr$vals(1)", FCDA, P, VAL_TYPE_INT32, "-9"},
        RefRow{"DaLastElement", "F1LD0/MHAI1$SP$Arr$vals(3)", FCDA, P, VAL_TYPE_INT32, "7"},
        RefRow{"TimestampArrayElement", "F1LD0/MHAI1$SP$Arr$stamps(1)", FCDA, P, VAL_TYPE_TIMESTAMP,
               "1970-01-01T00:00:00.000000000Z"},
        // PhyComAddr and SvOptFlds as bTypes.
        RefRow{"PhyComAddr", "F1LD0/MHAI1$CF$Dst$addr", FCDA, S, NONE, ""},
        RefRow{"PhyComAddrAddr", "F1LD0/MHAI1$CF$Dst$addr$Addr", FCDA, P, VAL_TYPE_OSTRING8, ""},
        RefRow{"PhyComAddrPriority", "F1LD0/MHAI1$CF$Dst$addr$PRIORITY", FCDA, P, VAL_TYPE_INT8U, "0"},
        RefRow{"PhyComAddrVid", "F1LD0/MHAI1$CF$Dst$addr$VID", FCDA, P, VAL_TYPE_INT16U, "0"},
        RefRow{"SvOptFlds", "F1LD0/MHAI1$CF$Dst$opts", FCDA, P, VAL_TYPE_OPTFLDS, "00000"}),
    [](const auto &i) { return std::string(i.param.name); });

TEST(SclFeatures, SettingGroupViewsFollowTheFcOrderAndKeepTheirOwnStorage) {
    IedModel &m = *edition2().model;
    EXPECT_EQ(children(m, "F1LD0/MHAI1"), (Names{"MX", "CF", "DC", "SP", "SG", "SE"}));
    EXPECT_EQ(children(m, "F1LD0/MHAI1$SG$Set"), (Names{"setMag", "actOnly"}));
    EXPECT_EQ(children(m, "F1LD0/MHAI1$SE$Set"), (Names{"setMag"}));
    // Editing SE does not change the active group's value.
    auto b = build(scl_text(R"(version="2007")"));
    ASSERT_EQ(b->model->write_text(b->model->find("F1LD0/MHAI1$SE$Set$setMag$f"), "9"), 0);
    std::string sg;
    ASSERT_EQ(b->model->read_text(b->model->find("F1LD0/MHAI1$SG$Set$setMag$f"), sg), 0);
    EXPECT_EQ(sg, "2.5");
}

TEST(SclFeatures, SampledValueBlocksHaveTheComponentsOfTheirEdition) {
    auto ed1 = build(scl_text(""));
    ASSERT_TRUE(ed1->model) << ed1->diagnostics();
    const Names ms1 = {"SvEna", "MsvID", "DatSet", "ConfRev", "SmpRate", "OptFlds", "DstAddress"};
    const Names us1 = {"SvEna", "Resv", "UsvID", "DatSet", "ConfRev", "SmpRate", "OptFlds", "DstAddress"};
    EXPECT_EQ(children(*ed1->model, "F1LD0/LLN0$MS$msv"), ms1);
    EXPECT_EQ(children(*ed1->model, "F1LD0/LLN0$US$usv"), us1);
    IedModel &m2 = *edition2().model;
    EXPECT_EQ(children(m2, "F1LD0/LLN0$MS$msv"),
              (Names{"SvEna", "MsvID", "DatSet", "ConfRev", "SmpRate", "OptFlds", "SmpMod", "DstAddress", "noASDU"}));
    EXPECT_EQ(children(m2, "F1LD0/LLN0$US$usv"), (Names{"SvEna", "Resv", "UsvID", "DatSet", "ConfRev", "SmpRate",
                                                         "OptFlds", "SmpMod", "DstAddress", "noASDU"}));
    EXPECT_EQ(children(m2, "F1LD0/LLN0$MS$msv$DstAddress"), (Names{"Addr", "PRIORITY", "VID", "APPID"}));
    const RUNTIME_TYPE *rt = nullptr;
    int32_t n = 0;
    ASSERT_TRUE(ed1->model->type_of(ed1->model->find("F1LD0/LLN0$MS$msv$MsvID"), rt, n));
    EXPECT_EQ(AI_VAL_TYPE(rt->u.p.pad), VAL_TYPE_VSTRING65);
    ASSERT_TRUE(m2.type_of(m2.find("F1LD0/LLN0$MS$msv$OptFlds"), rt, n));
    EXPECT_EQ(rt->u.p.el_len, 5);
}

// ---- array elements as objects ---------------------------------------------------

TEST(ArrayElements, AreTheChildrenOfTheirArrayAndNotNamedVariables) {
    IedModel &m = *edition2().model;
    EXPECT_EQ(children(m, "F1LD0/MHAI1$MX$Harm$phsAHar"), (Names{"phsAHar(0)", "phsAHar(1)", "phsAHar(2)"}));
    EXPECT_EQ(children(m, "F1LD0/MHAI1$MX$Harm$phsAHar(1)"), (Names{"cVal", "q", "t"}));
    EXPECT_EQ(children(m, "F1LD0/MHAI1$SP$Arr$vals").size(), 4u);
    EXPECT_EQ(m.parent(m.find("F1LD0/MHAI1$SP$Arr$vals(2)")), m.find("F1LD0/MHAI1$SP$Arr$vals"));
    std::vector<std::string> names;
    m.variable_names(m.find("F1LD0"), names, false);
    for (const std::string &n : names) EXPECT_EQ(n.find('('), std::string::npos) << n;
    EXPECT_NE(std::find(names.begin(), names.end(), "MHAI1$MX$Harm$phsAHar"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "MHAI1$SP$Arr$vals"), names.end());
    // Every object, elements included, round-trips through its reference.
    for (AI_OBJ_ID id = 0; id < m.object_count(); ++id) ASSERT_EQ(m.find(m.reference(id)), id) << m.reference(id);
}

TEST(ArrayElements, MalformedIndexesNameNothing) {
    IedModel &m = *edition2().model;
    for (const char *ref : {"F1LD0/MHAI1$SP$Arr$vals(4)", "F1LD0/MHAI1$SP$Arr$vals(01)", "F1LD0/MHAI1$SP$Arr$vals(-1)",
                            "F1LD0/MHAI1$SP$Arr$vals()", "F1LD0/MHAI1$SP$Arr$vals(1", "F1LD0/MHAI1$SP$Arr$(1)",
                            "F1LD0/MHAI1$CF$Dst$addr(0)", "F1LD0/MHAI1$MX$Harm(0)", "F1LD0/MHAI1$SP$Arr$vals(1)(0)",
                            "F1LD0/MHAI1$SP$Arr$vals$vals(1)", "F1LD0/MHAI1$SP$Arr$vals(99999)"})
        EXPECT_EQ(m.find(ref), -1) << ref;
}

TEST(ArrayElements, PrimitivesAndReadsOfElementsSeeOnlyTheirOwnValues) {
    auto b = build(scl_text(R"(version="2007")"));
    IedModel &m = *b->model;
    const AI_OBJ_ID arr = m.find("F1LD0/MHAI1$SP$Arr$vals");
    ASSERT_EQ(m.write_text(m.find("F1LD0/MHAI1$SP$Arr$vals(2)"), "123"), 0);
    AI_OBJ_VAL v;
    ASSERT_EQ(m.read(arr, &v), 0);
    ASSERT_EQ(v.prim_num, 4);
    const char *want[] = {"7", "-9", "123", "7"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(v.prim_ids[i], m.element(arr, uint32_t(i)));
        char text[64];
        ASSERT_EQ(value_to_text(v.prim_vals[i].type, v.prim_vals[i].data, text, sizeof text), 0);
        EXPECT_STREQ(text, want[i]);
    }
    IedModel::release_values(&v);
    // An element of an array of data objects: its primitives, with their own ids.
    const AI_OBJ_ID el = m.find("F1LD0/MHAI1$MX$Harm$phsAHar(2)");
    std::vector<Primitive> prims;
    ASSERT_TRUE(m.primitives(el, prims));
    ASSERT_EQ(prims.size(), 3u);
    EXPECT_EQ(prims[0].id, m.find("F1LD0/MHAI1$MX$Harm$phsAHar(2)$cVal$mag$f"));
    EXPECT_EQ(prims[1].id, m.find("F1LD0/MHAI1$MX$Harm$phsAHar(2)$q"));
    float f = 0;
    std::memcpy(&f, prims[0].data, 4);
    EXPECT_EQ(f, 42.25f);
}

TEST(ArrayElements, DataSetMembersNameElementsByIx) {
    IedModel &m = *edition2().model;
    const AI_DS_CTRL *ds = m.data_set(m.find("F1LD0/LLN0$dsHarm"));
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(ds->mb_num, 4);
    const char *refs[] = {"F1LD0/MHAI1$MX$Harm$phsAHar(1)", "F1LD0/MHAI1$MX$Harm$phsAHar(2)$cVal$mag$f",
                          "F1LD0/MHAI1$SP$Arr$vals(3)", "F1LD0/MHAI1$SG$Set$setMag$f"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(ds->mb_refs[i], refs[i]);
        EXPECT_EQ(ds->mb_ids[i], m.find(refs[i])) << refs[i];
        EXPECT_GE(ds->mb_ids[i], 0) << refs[i];
    }
    std::vector<Primitive> prims;
    ASSERT_TRUE(m.primitives(m.find("F1LD0/LLN0$dsHarm"), prims));
    EXPECT_EQ(prims.size(), 3u + 1 + 1 + 1);
}

// ---- diagnostics -----------------------------------------------------------------

struct DiagRow {
    const char *name;
    std::string text;
    const char *reason;   // a diagnostic contains it
    std::string present;  // a reference the model still has (empty: none checked)
    std::string absent;   // a reference it does not have (empty: none checked)
};
std::ostream &operator<<(std::ostream &os, const DiagRow &r) { return os << r.name; }

class FeatureDiagnostics : public ::testing::TestWithParam<DiagRow> {};

TEST_P(FeatureDiagnostics, AreReportedAndTheRestLoads) {
    const DiagRow &r = GetParam();
    auto b = build(r.text);
    ASSERT_TRUE(b->model) << b->diagnostics();
    EXPECT_TRUE(b->diag.mentions(r.reason)) << b->diagnostics();
    for (const scl::Diag &d : b->diag.items()) {
        EXPECT_FALSE(d.error) << d.reason;
        EXPECT_GT(d.line, 0) << d.reason;
    }
    if (!r.present.empty()) {
        EXPECT_GE(b->model->find(r.present), 0) << r.present;
    }
    if (!r.absent.empty()) {
        EXPECT_EQ(b->model->find(r.absent), -1) << r.absent;
    }
    for (AI_OBJ_ID id = 0; id < b->model->object_count(); ++id)
        ASSERT_EQ(b->model->find(b->model->reference(id)), id) << b->model->reference(id);
}

const std::string kEd2 = R"(version="2007")";

// Nested counts whose product is beyond kMaxLnObjects, yet within the value limit.
std::string huge_arrays() {
    std::string t = scl_text(kEd2);
    t = with(t, R"(<DA name="vals" fc="SP" bType="INT32" count="4"><Val>7</Val></DA>)",
             R"(<DA name="vals" fc="SP" bType="Struct" type="Row_T" count="1000"/>)");
    return with(t, "<DAType id=\"Vector_T\">",
                R"(<DAType id="Row_T"><BDA name="c" bType="BOOLEAN" count="200"/></DAType><DAType id="Vector_T">)");
}

// The longest reference of MHAI1 without indexes is 129 characters
// ("$MX$Harm$phsAHar$cVal$mag$f"), with them 132 ("...phsAHar(2)$cVal...").
const std::string kLongInst = std::string(49, 'I');
const std::string kLongLn = "F1" + kLongInst + "/" + std::string(45, 'P') + "MHAI1";
std::string long_names() {
    std::string t = with(scl_text(kEd2), R"(<LDevice inst="LD0">)", "<LDevice inst=\"" + kLongInst + "\">");
    return with(t, R"(inst="1" lnType="MHAI_T")", "prefix=\"" + std::string(45, 'P') + R"(" inst="1" lnType="MHAI_T")");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FeatureDiagnostics,
    ::testing::Values(
        DiagRow{"AccessPointWithoutName", scl_text(kEd2, ""), "AccessPoint of IED 'F1' has no name",
                "F1LD0/MHAI1$SP$Arr$vals(1)", ""},
        DiagRow{"IxNoNumber", with(scl_text(kEd2), R"(ix="1")", R"(ix="one")"), "ix 'one'", "F1LD0/LLN0$dsHarm", ""},
        DiagRow{"InstanceIxBeyondTheArray", with(scl_text(kEd2), R"(<DAI name="vals" ix="1">)", R"(<DAI name="vals" ix="9">)"),
                "'Arr$vals(9)' of LN 'MHAI1' is not in its type", "F1LD0/MHAI1$SP$Arr$vals(3)", ""},
        DiagRow{"IxOnAnAttributeThatIsNoArray",
                with(scl_text(kEd2), R"(doName="Set" daName="setMag.f" fc="SG"/>)", R"(doName="Set" daName="setMag.f" fc="SG" ix="0"/>)"),
                "has ix 0 but names no array", "F1LD0/LLN0$dsHarm", ""},
        DiagRow{"FcdaIxBeyondTheArray", with(scl_text(kEd2), R"(fc="SP" ix="3")", R"(fc="SP" ix="4")"),
                "'F1LD0/MHAI1$SP$Arr$vals(4)' names no object", "F1LD0/LLN0$dsHarm", ""},
        DiagRow{"SdoCountNamingAnAttribute", with(scl_text(kEd2), R"(count="3")", R"(count="numHar")"),
                "SDO 'phsAHar' has count 'numHar' that is no number", "F1LD0/MHAI1$CF$Harm$numHar",
                "F1LD0/MHAI1$MX$Harm$phsAHar"},
        DiagRow{"SdoCountTooLarge", with(scl_text(kEd2), R"(count="3")", R"(count="5000")"), "count 5000 exceeds 1024",
                "", "F1LD0/MHAI1$MX$Harm$phsAHar"},
        DiagRow{"SmpRateBeyondInt16u", with(scl_text(kEd2), R"(smpRate="80")", R"(smpRate="70000")"),
                "smpRate 70000 of 'msv' does not fit INT16U", "F1LD0/LLN0$MS$msv$SmpRate", ""},
        DiagRow{"UnknownSmpMod", with(scl_text(kEd2), R"(smpMod="SmpPerSec")", R"(smpMod="Often")"), "smpMod 'Often'",
                "F1LD0/LLN0$MS$msv$SmpMod", ""},
        DiagRow{"ArraysBeyondTheObjectLimitStayWhole", huge_arrays(), "its arrays are kept whole",
                "F1LD0/MHAI1$SP$Arr$vals", "F1LD0/MHAI1$SP$Arr$vals(0)"},
        DiagRow{"ElementNamesBeyond64Characters",
                with(scl_text(kEd2), R"(<DA name="stamps" fc="SP" bType="Timestamp" count="2"/>)",
                     R"(<DA name=")" + std::string(61, 's') + R"(" fc="SP" bType="Timestamp" count="11"/>)"),
                "array element names of 65 characters", "F1LD0/MHAI1$SP$Arr$" + std::string(61, 's'),
                "F1LD0/MHAI1$SP$Arr$vals(0)"},
        DiagRow{"ElementReferencesBeyond129Characters", long_names(), "array element references of 132 characters",
                kLongLn + "$MX$Harm$phsAHar", kLongLn + "$MX$Harm$phsAHar(0)"}),
    [](const auto &i) { return std::string(i.param.name); });

TEST(SclFeatures, EmptyValuesConfigureNothingAndSayNothing) {
    // Instances too: <Val/> on a DAI (with and without desc).
    std::string t = with(scl_text(kEd2), R"(<DOI name="Set">)",
                         R"(<DOI name="Arr"><DAI name="stamps" ix="0" desc="first"><Val/></DAI></DOI><DOI name="Set">)");
    t = with(t, "</LN>", R"(<DOI name="Harm"><DAI name="numHar"><Val></Val></DAI></DOI></LN>)");
    auto b = build(t);
    ASSERT_TRUE(b->model);
    EXPECT_TRUE(b->diag.items().empty()) << b->diagnostics();
    std::string ts;
    ASSERT_EQ(b->model->read_text(b->model->find("F1LD0/MHAI1$SP$Arr$stamps(0)"), ts), 0);
    EXPECT_EQ(ts, "1970-01-01T00:00:00.000000000Z");
    EXPECT_STREQ(b->model->desc(b->model->find("F1LD0/MHAI1$SP$Arr$stamps(0)")), "first");
}

}  // namespace
