// SCL features an independent reading of the same files showed the model
// lacked (tests/model/features.scd): setting group views, sampled value
// control blocks, arrays of data objects and attributes with their elements
// as objects (instance values and data set members by ix), PhyComAddr and
// SvOptFlds, unnamed access points, empty values.
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

std::string with(std::string text, const std::string &from, const std::string &to) {
    size_t p = text.find(from);
    EXPECT_NE(p, std::string::npos) << from;
    if (p != std::string::npos) text.replace(p, from.size(), to);
    return text;
}

// The feature file, with another SCL header (edition) when asked.
std::string scl_text(const std::string &root_attrs = R"(version="2007" revision="B")") {
    static const std::string base = [] {
        std::ifstream in(ZV_FEATURES_SCD, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }();
    return with(base, R"(<SCL version="2007" revision="B">)", "<SCL " + root_attrs + ">");
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

Built &features() {
    static std::unique_ptr<Built> b = build(scl_text());
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

// Empty <Val>s (template and instance) configure nothing and say nothing.
TEST(SclFeatures, TheFeatureFileBuildsWithoutDiagnostics) {
    Built &b = features();
    ASSERT_TRUE(b.model) << b.diagnostics();
    EXPECT_TRUE(b.diag.items().empty()) << b.diagnostics();
    for (AI_OBJ_ID id = 0; id < b.model->object_count(); ++id)
        ASSERT_EQ(b.model->find(b.model->reference(id)), id) << b.model->reference(id);
}

struct RefRow {
    const char *ref;
    AI_OBJ_TYPE obj;
    int tag;           // RT_PRIMITIVE, RT_STR_START or RT_ARR_START
    AI_VAL_TYPE type;  // primitives: the type and the value's text
    const char *text;
};
std::ostream &operator<<(std::ostream &os, const RefRow &r) { return os << r.ref; }

class FeatureRefs : public ::testing::TestWithParam<RefRow> {};

TEST_P(FeatureRefs, ResolveWithTheirKindTypeAndValue) {
    const RefRow &r = GetParam();
    IedModel &m = *features().model;
    const AI_OBJ_ID id = m.find(r.ref);
    ASSERT_GE(id, 0);
    EXPECT_EQ(m.reference(id), r.ref);
    EXPECT_EQ(m.type(id), r.obj);
    const RUNTIME_TYPE *rt = nullptr;
    int32_t n = 0;
    ASSERT_TRUE(m.type_of(id, rt, n));
    EXPECT_EQ(rt->el_tag, r.tag);
    if (r.tag != RT_PRIMITIVE) return;
    EXPECT_EQ(AI_VAL_TYPE(rt->u.p.pad), r.type);
    std::string t;
    ASSERT_EQ(m.read_text(id, t), 0);
    EXPECT_EQ(t, r.text);
}

constexpr int P = RT_PRIMITIVE, S = RT_STR_START, A = RT_ARR_START;
constexpr AI_OBJ_TYPE FCD = OBJECT_TYPE_FCD, FCDA = OBJECT_TYPE_FCDA;

INSTANTIATE_TEST_SUITE_P(Rows, FeatureRefs,
                         ::testing::Values(
                             // An SE setting also under SG, with the instance value.
                             RefRow{"F1LD0/MHAI1$SE$Set$setMag$f", FCDA, P, VAL_TYPE_FLOAT32, "2.5"},
                             RefRow{"F1LD0/MHAI1$SG$Set$setMag$f", FCDA, P, VAL_TYPE_FLOAT32, "2.5"},
                             RefRow{"F1LD0/LLN0$MS$msv", OBJECT_TYPE_CB, S, VAL_TYPE_UNKNOWN, ""},
                             RefRow{"F1LD0/LLN0$MS$msv$MsvID", FCDA, P, VAL_TYPE_VSTRING129, "SV01"},
                             RefRow{"F1LD0/LLN0$MS$msv$SmpRate", FCDA, P, VAL_TYPE_INT16U, "80"},
                             RefRow{"F1LD0/LLN0$MS$msv$OptFlds", FCDA, P, VAL_TYPE_OPTFLDS, "10101"},
                             RefRow{"F1LD0/LLN0$MS$msv$SmpMod", FCDA, P, VAL_TYPE_INT8, "1"},
                             RefRow{"F1LD0/LLN0$MS$msv$noASDU", FCDA, P, VAL_TYPE_INT16U, "2"},
                             RefRow{"F1LD0/LLN0$US$usv$UsvID", FCDA, P, VAL_TYPE_VSTRING129, "SV02"},
                             // An SDO with count: an array of data objects; template value in each
                             // element, the ix instance value in its own.
                             RefRow{"F1LD0/MHAI1$MX$Harm$phsAHar", FCD, A, VAL_TYPE_UNKNOWN, ""},
                             RefRow{"F1LD0/MHAI1$MX$Harm$phsAHar(0)", FCD, S, VAL_TYPE_UNKNOWN, ""},
                             RefRow{"F1LD0/MHAI1$MX$Harm$phsAHar(0)$cVal$mag$f", FCDA, P, VAL_TYPE_FLOAT32, "1.5"},
                             RefRow{"F1LD0/MHAI1$MX$Harm$phsAHar(2)$cVal$mag$f", FCDA, P, VAL_TYPE_FLOAT32, "42.25"},
                             // A DA with count likewise.
                             RefRow{"F1LD0/MHAI1$SP$Arr$vals(0)", FCDA, P, VAL_TYPE_INT32, "7"},
                             RefRow{"F1LD0/MHAI1$SP$Arr$vals(1)", FCDA, P, VAL_TYPE_INT32, "-9"},
                             RefRow{"F1LD0/MHAI1$SP$Arr$stamps(0)", FCDA, P, VAL_TYPE_TIMESTAMP,
                                    "1970-01-01T00:00:00.000000000Z"},
                             // PhyComAddr and SvOptFlds as bTypes.
                             RefRow{"F1LD0/MHAI1$CF$Dst$addr$Addr", FCDA, P, VAL_TYPE_OSTRING8, ""},
                             RefRow{"F1LD0/MHAI1$CF$Dst$opts", FCDA, P, VAL_TYPE_OPTFLDS, "00000"}));

TEST(SclFeatures, SettingGroupViewsFollowTheFcOrderAndKeepTheirOwnStorage) {
    auto b = build(scl_text());
    IedModel &m = *b->model;
    EXPECT_EQ(children(m, "F1LD0/MHAI1"), (Names{"MX", "CF", "DC", "SP", "SG", "SE"}));
    EXPECT_EQ(children(m, "F1LD0/MHAI1$SG$Set"), (Names{"setMag", "actOnly"}));
    EXPECT_EQ(children(m, "F1LD0/MHAI1$SE$Set"), (Names{"setMag"}));
    ASSERT_EQ(m.write_text(m.find("F1LD0/MHAI1$SE$Set$setMag$f"), "9"), 0);
    std::string sg;
    ASSERT_EQ(m.read_text(m.find("F1LD0/MHAI1$SG$Set$setMag$f"), sg), 0);
    EXPECT_EQ(sg, "2.5");
}

// Edition 1 has neither SmpMod nor noASDU; the unicast block has Resv.
TEST(SclFeatures, SampledValueBlocksHaveTheComponentsOfTheirEdition) {
    auto ed1 = build(scl_text(""));
    ASSERT_TRUE(ed1->model) << ed1->diagnostics();
    EXPECT_EQ(children(*ed1->model, "F1LD0/LLN0$US$usv"),
              (Names{"SvEna", "Resv", "UsvID", "DatSet", "ConfRev", "SmpRate", "OptFlds", "DstAddress"}));
    EXPECT_EQ(children(*features().model, "F1LD0/LLN0$MS$msv"),
              (Names{"SvEna", "MsvID", "DatSet", "ConfRev", "SmpRate", "OptFlds", "SmpMod", "DstAddress", "noASDU"}));
}

// ---- array elements as objects ---------------------------------------------------

TEST(ArrayElements, AreChildrenOfTheirArrayWithOneSpellingAndNoMmsName) {
    IedModel &m = *features().model;
    EXPECT_EQ(children(m, "F1LD0/MHAI1$MX$Harm$phsAHar"), (Names{"phsAHar(0)", "phsAHar(1)", "phsAHar(2)"}));
    EXPECT_EQ(children(m, "F1LD0/MHAI1$MX$Harm$phsAHar(1)"), (Names{"cVal", "q", "t"}));
    EXPECT_STREQ(m.desc(m.find("F1LD0/MHAI1$SP$Arr$stamps(0)")), "first");
    std::vector<std::string> names;
    m.variable_names(m.find("F1LD0"), names, false);
    for (const std::string &n : names) EXPECT_EQ(n.find('('), std::string::npos) << n;
    EXPECT_NE(std::find(names.begin(), names.end(), "MHAI1$MX$Harm$phsAHar"), names.end());
    for (const char *ref : {"F1LD0/MHAI1$SP$Arr$vals(4)", "F1LD0/MHAI1$SP$Arr$vals(01)", "F1LD0/MHAI1$SP$Arr$vals(-1)",
                            "F1LD0/MHAI1$SP$Arr$vals()", "F1LD0/MHAI1$SP$Arr$(1)", "F1LD0/MHAI1$MX$Harm(0)",
                            "F1LD0/MHAI1$SP$Arr$vals(1)(0)", "F1LD0/MHAI1$SP$Arr$vals$vals(1)"})
        EXPECT_EQ(m.find(ref), -1) << ref;
}

TEST(ArrayElements, ValuesLieInTheirOwnElementAndDataSetMembersNameThemByIx) {
    auto b = build(scl_text());
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
    const AI_DS_CTRL *ds = m.data_set(m.find("F1LD0/LLN0$dsHarm"));
    ASSERT_NE(ds, nullptr);
    const Names refs = {"F1LD0/MHAI1$MX$Harm$phsAHar(1)", "F1LD0/MHAI1$MX$Harm$phsAHar(2)$cVal$mag$f",
                        "F1LD0/MHAI1$SP$Arr$vals(3)", "F1LD0/MHAI1$SG$Set$setMag$f"};
    ASSERT_EQ(ds->mb_num, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ds->mb_refs[i], refs[size_t(i)]);
        EXPECT_GE(ds->mb_ids[i], 0);
        EXPECT_EQ(ds->mb_ids[i], m.find(refs[size_t(i)]));
    }
    std::vector<Primitive> prims;
    ASSERT_TRUE(m.primitives(ds->mb_ids[0], prims));
    ASSERT_EQ(prims.size(), 3u);
    EXPECT_EQ(prims[0].id, m.find("F1LD0/MHAI1$MX$Harm$phsAHar(1)$cVal$mag$f"));
}

// ---- diagnostics -----------------------------------------------------------------

struct DiagRow {
    const char *name;
    std::string text;
    const char *reason;           // a diagnostic contains it
    std::string present, absent;  // references the model has and has not (empty: not checked)
};
std::ostream &operator<<(std::ostream &os, const DiagRow &r) { return os << r.name; }

class FeatureDiagnostics : public ::testing::TestWithParam<DiagRow> {};

TEST_P(FeatureDiagnostics, AreReportedAndTheRestLoads) {
    const DiagRow &r = GetParam();
    auto b = build(r.text);
    ASSERT_TRUE(b->model) << b->diagnostics();
    EXPECT_TRUE(b->diag.mentions(r.reason)) << b->diagnostics();
    for (const scl::Diag &d : b->diag.items()) EXPECT_FALSE(d.error) << d.reason;
    if (!r.present.empty()) {
        EXPECT_GE(b->model->find(r.present), 0) << r.present;
    }
    if (!r.absent.empty()) {
        EXPECT_EQ(b->model->find(r.absent), -1) << r.absent;
    }
    for (AI_OBJ_ID id = 0; id < b->model->object_count(); ++id)
        ASSERT_EQ(b->model->find(b->model->reference(id)), id) << b->model->reference(id);
}

const std::string kVals = R"(<DA name="vals" fc="SP" bType="INT32" count="4"><Val>7</Val></DA>)";
// The longest reference of MHAI1 without indexes is 129 characters
// ("$MX$Harm$phsAHar$cVal$mag$f"), with them 132 ("...phsAHar(2)$cVal...").
const std::string kLongLn = "F1" + std::string(49, 'I') + "/" + std::string(45, 'P') + "MHAI1";

INSTANTIATE_TEST_SUITE_P(
    Rows, FeatureDiagnostics,
    ::testing::Values(
        DiagRow{"AccessPointWithoutName", with(scl_text(), R"(<AccessPoint name="S1">)", "<AccessPoint>"),
                "AccessPoint of IED 'F1' has no name", "F1LD0/MHAI1$SP$Arr$vals(1)", ""},
        DiagRow{"IxNoNumber", with(scl_text(), R"(ix="1")", R"(ix="one")"), "ix 'one'", "", ""},
        DiagRow{"FcdaIxOnNoArray",
                with(scl_text(), R"(daName="setMag.f" fc="SG")", R"(daName="setMag.f" fc="SG" ix="0")"),
                "has ix 0 but names no array", "", ""},
        DiagRow{"SdoCountNamingAnAttribute", with(scl_text(), R"(count="3")", R"(count="numHar")"),
                "SDO 'phsAHar' has count 'numHar' that is no number", "F1LD0/MHAI1$CF$Harm$numHar",
                "F1LD0/MHAI1$MX$Harm$phsAHar"},
        // Element objects beyond kMaxLnObjects, element names beyond 64 or
        // references beyond 129 characters: the arrays stay whole.
        DiagRow{
            "ArraysBeyondTheObjectLimit",
            with(with(scl_text(), kVals, R"(<DA name="vals" fc="SP" bType="Struct" type="Row_T" count="1000"/>)"),
                 "<DAType id=\"Vector_T\">",
                 R"(<DAType id="Row_T"><BDA name="c" bType="BOOLEAN" count="200"/></DAType><DAType id="Vector_T">)"),
            "its arrays are kept whole", "F1LD0/MHAI1$SP$Arr$vals", "F1LD0/MHAI1$SP$Arr$vals(0)"},
        DiagRow{"ElementNamesBeyond64Characters",
                with(scl_text(), kVals,
                     R"(<DA name=")" + std::string(61, 's') + R"(" fc="SP" bType="INT8" count="11"/>)"),
                "array element names of 65 characters", "F1LD0/MHAI1$SP$Arr$" + std::string(61, 's'),
                "F1LD0/MHAI1$MX$Harm$phsAHar(0)"},
        DiagRow{"ElementReferencesBeyond129Characters",
                with(with(scl_text(), R"(<LDevice inst="LD0">)", "<LDevice inst=\"" + std::string(49, 'I') + "\">"),
                     R"(inst="1" lnType="MHAI_T")",
                     "prefix=\"" + std::string(45, 'P') + R"(" inst="1" lnType="MHAI_T")"),
                "array element references of 132 characters", kLongLn + "$MX$Harm$phsAHar",
                kLongLn + "$MX$Harm$phsAHar(0)"}),
    [](const auto &i) { return std::string(i.param.name); });

}  // namespace
