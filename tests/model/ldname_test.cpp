// Edition 2 functional logical device names (LDevice ldName): the MMS domain
// and the first part of every reference, data set member and control block
// reference; FCDAs still name the LDevice by its inst.
#include <gtest/gtest.h>

#include "model/ied_model.h"

using namespace zv::model;
namespace scl = zv::scl;

namespace {

const char *kScl = R"(<?xml version="1.0"?>
<SCL version="2007" revision="B">
<IED name="D1"><AccessPoint name="S1"><Server>
<LDevice inst="PROT" ldName="Feeder7_Protection">
<LN0 lnClass="LLN0" inst="" lnType="LLN0_T">
  <DataSet name="ds"><FCDA ldInst="PROT" lnClass="GGIO" lnInst="1" doName="Ind" fc="ST"/>
                     <FCDA ldInst="MEAS" lnClass="GGIO" lnInst="1" doName="Ind" fc="ST"/></DataSet>
  <ReportControl name="rcb" datSet="ds" rptID="" indexed="false"/>
</LN0><LN lnClass="GGIO" inst="1" lnType="GGIO_T"/></LDevice>
<LDevice inst="MEAS"><LN0 lnClass="LLN0" inst="" lnType="LLN0_T"/><LN lnClass="GGIO" inst="1" lnType="GGIO_T"/></LDevice>
<LDevice inst="X" ldName="Feeder7_Protection"><LN0 lnClass="LLN0" inst="" lnType="LLN0_T"/></LDevice>
<LDevice inst="Y" ldName="bad name"><LN0 lnClass="LLN0" inst="" lnType="LLN0_T"/></LDevice>
</Server></AccessPoint></IED>
<DataTypeTemplates>
<LNodeType id="LLN0_T" lnClass="LLN0"><DO name="Beh" type="SPS_T"/></LNodeType>
<LNodeType id="GGIO_T" lnClass="GGIO"><DO name="Ind" type="SPS_T"/></LNodeType>
<DOType id="SPS_T" cdc="SPS"><DA name="stVal" fc="ST" bType="BOOLEAN"/></DOType>
</DataTypeTemplates>
</SCL>
)";

TEST(FunctionalLdName, IsTheDomainOfEveryReference) {
    scl::Diagnostics diag(true);
    auto doc = std::make_shared<scl::Document>();
    ASSERT_TRUE(scl::parse_text(kScl, "ldname.scd", *doc, diag));
    auto m = IedModel::build(doc, doc->ieds[0], diag);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->ctrl()->num_ld, 2);
    EXPECT_STREQ(m->ctrl()->ld_tbl[0]->cobj.name, "Feeder7_Protection");
    EXPECT_STREQ(m->ctrl()->ld_tbl[1]->cobj.name, "D1MEAS");  // no ldName: IED name + inst
    const AI_OBJ_ID st = m->find("Feeder7_Protection/GGIO1$ST$Ind$stVal");
    ASSERT_GE(st, 0);
    EXPECT_EQ(m->reference(st), "Feeder7_Protection/GGIO1$ST$Ind$stVal");
    EXPECT_LT(m->find("D1PROT/GGIO1$ST$Ind$stVal"), 0);
    const AI_DS_CTRL *ds = m->data_set(m->find("Feeder7_Protection/LLN0$ds"));
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(ds->mb_num, 2);
    EXPECT_EQ(m->reference(ds->mb_ids[0]), "Feeder7_Protection/GGIO1$ST$Ind");
    EXPECT_EQ(m->reference(ds->mb_ids[1]), "D1MEAS/GGIO1$ST$Ind");
    std::string text;
    ASSERT_EQ(m->read_text(m->find("Feeder7_Protection/LLN0$RP$rcb$DatSet"), text), 0);
    EXPECT_EQ(text, "Feeder7_Protection/LLN0$ds");
    ASSERT_EQ(m->read_text(m->find("Feeder7_Protection/LLN0$RP$rcb$RptID"), text), 0);
    EXPECT_EQ(text, "Feeder7_Protection/LLN0$RP$rcb");
    // A second LDevice of the same name, and a name that is no MMS identifier, are skipped.
    EXPECT_TRUE(diag.mentions("logical device name 'Feeder7_Protection' given twice"));
    EXPECT_TRUE(diag.mentions("'bad name' is not a valid name"));
}

}  // namespace
