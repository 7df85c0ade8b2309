// Control block layouts follow the edition and the report settings the SCL
// declares: the names, order and types a device of that kind serves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/ied_model.h"

using namespace zv::model;
namespace scl = zv::scl;

namespace {

using Names = std::vector<std::string>;

std::string scl_text(const std::string &root_attrs, const std::string &services) {
    return R"(<?xml version="1.0"?>
<SCL )" + root_attrs +
           R"(>
<IED name="D1">)" +
           services + R"(<AccessPoint name="S1"><Server><LDevice inst="LD0">
<LN0 lnClass="LLN0" inst="" lnType="LLN0_T">
  <DataSet name="ds"><FCDA ldInst="LD0" lnClass="LLN0" doName="Beh" fc="ST"/></DataSet>
  <ReportControl name="br" datSet="ds" buffered="true" indexed="false"/>
  <ReportControl name="rp" datSet="ds" indexed="false"/>
  <LogControl name="lg" datSet="ds" logName="L"/>
  <GSEControl name="go" datSet="ds" appID="G"/>
  <SettingControl numOfSGs="2" actSG="1"/>
</LN0></LDevice></Server></AccessPoint></IED>
<DataTypeTemplates>
<LNodeType id="LLN0_T" lnClass="LLN0"><DO name="Beh" type="ENS_T"/></LNodeType>
<DOType id="ENS_T" cdc="ENS"><DA name="stVal" fc="ST" bType="INT8"/></DOType>
</DataTypeTemplates>
</SCL>
)";
}

struct Built {
    scl::Diagnostics diag{true};
    std::shared_ptr<scl::Document> doc = std::make_shared<scl::Document>();
    std::unique_ptr<IedModel> model;
};

std::unique_ptr<Built> build(const std::string &text) {
    auto b = std::make_unique<Built>();
    if (scl::parse_text(text, "layout.scd", *b->doc, b->diag) && !b->doc->ieds.empty())
        b->model = IedModel::build(b->doc, b->doc->ieds[0], b->diag);
    return b;
}

Names children(const IedModel &m, const std::string &ref) {
    Names out;
    const AI_OBJ_ID *ids = nullptr;
    int32_t n = 0;
    if (m.children(m.find(ref), ids, n))
        for (int32_t i = 0; i < n; ++i) out.push_back(m.name(ids[i]));
    return out;
}

const Names kBrcb13 = {"RptID",  "RptEna", "DatSet", "ConfRev",  "OptFlds", "BufTm",      "SqNum",
                       "TrgOps", "IntgPd", "GI",     "PurgeBuf", "EntryID", "TimeofEntry"};
const Names kUrcb11 = {"RptID", "RptEna", "Resv",   "DatSet", "ConfRev", "OptFlds",
                       "BufTm", "SqNum",  "TrgOps", "IntgPd", "GI"};

Names plus(Names n, const Names &more) {
    n.insert(n.end(), more.begin(), more.end());
    return n;
}

struct LayoutRow {
    const char *name;
    std::string root, services;
    Names brcb, urcb;
    AI_VAL_TYPE ref_type;
};
std::ostream &operator<<(std::ostream &os, const LayoutRow &r) { return os << r.name; }

class Layouts : public ::testing::TestWithParam<LayoutRow> {};

TEST_P(Layouts, ReportBlocksHaveTheComponentsTheSclDeclares) {
    const LayoutRow &r = GetParam();
    auto b = build(scl_text(r.root, r.services));
    ASSERT_TRUE(b->model);
    const IedModel &m = *b->model;
    EXPECT_EQ(children(m, "D1LD0/LLN0$BR$br"), r.brcb);
    EXPECT_EQ(children(m, "D1LD0/LLN0$RP$rp"), r.urcb);
    for (const char *ref : {"D1LD0/LLN0$BR$br$RptID", "D1LD0/LLN0$BR$br$DatSet", "D1LD0/LLN0$RP$rp$RptID",
                            "D1LD0/LLN0$LG$lg$LogRef", "D1LD0/LLN0$LG$lg$DatSet"}) {
        const RUNTIME_TYPE *rt = nullptr;
        int32_t n = 0;
        ASSERT_TRUE(m.type_of(m.find(ref), rt, n)) << ref;
        EXPECT_EQ(AI_VAL_TYPE(rt->u.p.pad), r.ref_type) << ref;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Layouts,
    ::testing::Values(LayoutRow{"Edition1", "", "", kBrcb13, kUrcb11, VAL_TYPE_VSTRING65},
                      LayoutRow{"Edition1Of2003", R"(version="2003")",
                                R"(<Services><ReportSettings owner="true" resvTms="true"/></Services>)", kBrcb13,
                                kUrcb11, VAL_TYPE_VSTRING65},
                      LayoutRow{"Edition2WithoutSettings", R"(version="2007" revision="B")", "", kBrcb13, kUrcb11,
                                VAL_TYPE_VSTRING129},
                      LayoutRow{"Edition2Owner", R"(version="2007")",
                                R"(<Services><ReportSettings owner="true"/></Services>)", plus(kBrcb13, {"Owner"}),
                                plus(kUrcb11, {"Owner"}), VAL_TYPE_VSTRING129},
                      LayoutRow{"Edition2ResvTms", R"(version="2007")",
                                R"(<Services><ReportSettings resvTms="true"/></Services>)", plus(kBrcb13, {"ResvTms"}),
                                kUrcb11, VAL_TYPE_VSTRING129},
                      LayoutRow{"Edition2Both", R"(version="2007")",
                                R"(<Services><ReportSettings resvTms="true" owner="true" optFields="Dyn"/></Services>)",
                                plus(kBrcb13, {"ResvTms", "Owner"}), plus(kUrcb11, {"Owner"}), VAL_TYPE_VSTRING129}),
    [](const auto &i) { return std::string(i.param.name); });

TEST(Layouts, OtherControlBlocksByEdition) {
    auto ed1 = build(scl_text("", ""));
    auto ed2 = build(scl_text(R"(version="2007")", ""));
    ASSERT_TRUE(ed1->model && ed2->model);
    const Names lcb = {"LogEna",  "LogRef",  "DatSet", "OldEntrTm", "NewEntrTm",
                       "OldEntr", "NewEntr", "TrgOps", "IntgPd"};
    EXPECT_EQ(children(*ed1->model, "D1LD0/LLN0$LG$lg"), lcb);
    EXPECT_EQ(children(*ed2->model, "D1LD0/LLN0$LG$lg"), lcb);
    const Names gocb = {"GoEna", "GoID", "DatSet", "ConfRev", "NdsCom", "DstAddress"};
    EXPECT_EQ(children(*ed1->model, "D1LD0/LLN0$GO$go"), gocb);
    EXPECT_EQ(children(*ed2->model, "D1LD0/LLN0$GO$go"), plus(gocb, {"MinTime", "MaxTime", "FixedOffs"}));
    const Names sgcb = {"NumOfSG", "ActSG", "EditSG", "CnfEdit", "LActTm"};
    EXPECT_EQ(children(*ed1->model, "D1LD0/LLN0$SP$SGCB"), sgcb);
    EXPECT_EQ(children(*ed2->model, "D1LD0/LLN0$SP$SGCB"), plus(sgcb, {"ResvTms"}));
    EXPECT_EQ(children(*ed2->model, "D1LD0/LLN0$GO$go$DstAddress"), (Names{"Addr", "PRIORITY", "VID", "APPID"}));
}

TEST(Layouts, ReportSettingsAreRead) {
    auto b = build(scl_text(R"(version="2007")",
                            R"(<Services><ReportSettings optFields="Dyn" bufTime="Conf" intgPd="Dyn"/></Services>)"));
    ASSERT_TRUE(b->model);
    const scl::ReportSettings &rs = b->model->scl_ied().services.report;
    EXPECT_TRUE(rs.present);
    EXPECT_EQ(rs.opt_fields, scl::SettingMode::Dyn);
    EXPECT_EQ(rs.buf_time, scl::SettingMode::Conf);
    EXPECT_EQ(rs.intg_pd, scl::SettingMode::Dyn);
    EXPECT_EQ(rs.trg_ops, scl::SettingMode::Fix);  // the schema's default when not given
    auto none = build(scl_text(R"(version="2007")", ""));
    EXPECT_FALSE(none->model->scl_ied().services.report.present);
    auto bad = build(scl_text(R"(version="2007")", R"(<Services><ReportSettings trgOps="Sometimes"/></Services>)"));
    EXPECT_TRUE(bad->diag.mentions("trgOps='Sometimes'"));
}

}  // namespace
