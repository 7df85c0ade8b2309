// The object model of the sample station: order, references, descriptions,
// control blocks, data set member resolution, values and their guard.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "model/ied_model.h"
#include "model/values.h"

using namespace zv::model;
namespace scl = zv::scl;

namespace {

const std::string kScd = std::string(ZV_SAMPLE_STATION) + "/sample.scd";

struct Sample {
    scl::Diagnostics diag{true};
    std::unique_ptr<IedModel> cm, bay;
    Sample() {
        cm = IedModel::load(kScd, "CMIED", diag);
        bay = IedModel::load(kScd, "BAYIED", diag);
    }
};

Sample &sample() {
    static Sample s;
    return s;
}

std::vector<std::string> names(const IedModel &m, const AI_OBJ_ID *ids, int32_t n) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < n; ++i) out.push_back(m.name(ids[i]));
    return out;
}

std::vector<std::string> child_names(const IedModel &m, const std::string &ref) {
    const AI_OBJ_ID *ids;
    int32_t n;
    AI_OBJ_ID id = m.find(ref);
    EXPECT_GE(id, 0) << ref;
    EXPECT_TRUE(m.children(id, ids, n)) << ref;
    return names(m, ids, n);
}

std::string text_of(IedModel &m, const std::string &ref) {
    std::string t;
    EXPECT_EQ(m.read_text(m.find(ref), t), 0) << ref;
    return t;
}

using Names = std::vector<std::string>;

TEST(SampleStation, LoadsWithoutAnyDiagnostic) {
    Sample &s = sample();
    ASSERT_TRUE(s.cm);
    ASSERT_TRUE(s.bay);
    for (const scl::Diag &d : s.diag.items()) ADD_FAILURE() << d.file << ":" << d.line << ": " << d.reason;
}

TEST(ModelOrder, ServerDirectoryListsLogicalDevicesInFileOrder) {
    IedModel &m = *sample().bay;
    EXPECT_EQ(m.type(0), OBJECT_TYPE_IED);
    EXPECT_EQ(m.ctrl()->cobj.id, 0);
    const AI_OBJ_ID *ids;
    int32_t n;
    ASSERT_TRUE(m.children(0, ids, n));
    EXPECT_EQ(names(m, ids, n), (Names{"BAYIEDCTRL", "BAYIEDMEAS"}));
    EXPECT_EQ(m.ctrl()->num_ld, 2);
    EXPECT_EQ(m.ctrl()->ld_tbl[1]->cobj.id, ids[1]);
}

TEST(ModelOrder, LogicalNodesComeLln0FirstThenInFileOrder) {
    EXPECT_EQ(child_names(*sample().cm, "CMIEDMON"), (Names{"LLN0", "LPHD1", "STMP1", "STMP2", "STMP3", "SIMG1",
                                                            "SPDC1", "MMET1", "ZSAR1", "InsGGIO1", "ShthGGIO1"}));
}

TEST(ModelOrder, FunctionalConstraintsFollowTheMmsOrder) {
    EXPECT_EQ(child_names(*sample().bay, "BAYIEDCTRL/LLN0"),
              (Names{"ST", "CF", "DC", "SP", "RP", "LG", "BR", "GO", "EX"}));
    EXPECT_EQ(child_names(*sample().bay, "BAYIEDMEAS/MMXU1"), (Names{"MX", "ST", "CF", "DC"}));
    EXPECT_EQ(child_names(*sample().bay, "BAYIEDCTRL/XCBR1"), (Names{"ST", "CO", "CF", "DC"}));
}

TEST(ModelOrder, DataObjectsAndAttributesFollowTheirTypes) {
    EXPECT_EQ(child_names(*sample().cm, "CMIEDMON/SIMG1$MX"), (Names{"Pres", "Den", "Tmp"}));
    EXPECT_EQ(child_names(*sample().cm, "CMIEDMON/ZSAR1$MX$LeakA"), (Names{"mag", "q", "t"}));
    EXPECT_EQ(child_names(*sample().bay, "BAYIEDMEAS/MMXU1$MX$A"), (Names{"phsA", "phsB", "phsC"}));
    EXPECT_EQ(child_names(*sample().bay, "BAYIEDMEAS/MMXU1$MX$A$phsB$cVal$ang"), (Names{"f"}));
    EXPECT_EQ(child_names(*sample().bay, "BAYIEDCTRL/XCBR1$ST$Pos"), (Names{"origin", "stVal", "q", "t"}));
}

TEST(ModelOrder, DataSetsOfALogicalDeviceComeSeparately) {
    IedModel &m = *sample().cm;
    const AI_OBJ_ID *ids;
    int32_t n;
    ASSERT_TRUE(m.data_sets(m.find("CMIEDMON"), ids, n));
    EXPECT_EQ(names(m, ids, n), (Names{"dsTemp", "dsSF6", "dsPD", "dsMet", "dsArr", "dsIns", "dsShth", "dsAlarm"}));
    for (int32_t i = 0; i < n; ++i) EXPECT_EQ(m.type(ids[i]), OBJECT_TYPE_DS);
    EXPECT_EQ(m.ds_count(), 8);
}

TEST(ModelOrder, LeavesDataSetsAndUnknownIdsHaveNoDirectory) {
    IedModel &m = *sample().cm;
    const AI_OBJ_ID *ids = reinterpret_cast<const AI_OBJ_ID *>(1);
    int32_t n = 5;
    EXPECT_FALSE(m.children(m.find("CMIEDMON/ZSAR1$MX$LeakA$mag$f"), ids, n));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(ids, nullptr);
    EXPECT_FALSE(m.children(m.find("CMIEDMON/LLN0$dsTemp"), ids, n));
    EXPECT_FALSE(m.children(-1, ids, n));
    EXPECT_FALSE(m.children(m.object_count(), ids, n));
    EXPECT_FALSE(m.data_sets(m.find("CMIEDMON/LLN0"), ids, n));
}

TEST(ModelOrder, IdentifiersFollowTheTreeDepthFirst) {
    // Every object's parent has a smaller identifier, and children are listed
    // in increasing identifier order.
    for (IedModel *m : {sample().cm.get(), sample().bay.get()}) {
        for (AI_OBJ_ID id = 1; id < m->object_count(); ++id) {
            ASSERT_LT(m->parent(id), id);
            const AI_OBJ_ID *ids;
            int32_t n;
            if (!m->children(id, ids, n)) continue;
            for (int32_t i = 0; i < n; ++i) {
                ASSERT_EQ(m->parent(ids[i]), id);
                if (i) {
                    ASSERT_LT(ids[i - 1], ids[i]);
                }
            }
        }
    }
}

TEST(References, EveryObjectRoundTripsThroughItsReference) {
    for (IedModel *m : {sample().cm.get(), sample().bay.get()}) {
        for (AI_OBJ_ID id = 0; id < m->object_count(); ++id) {
            std::string ref = m->reference(id);
            ASSERT_LE(ref.size(), 129u);
            ASSERT_EQ(m->find(ref), id) << ref;
            char buf[AI_OBJ_REF_LEN];
            ASSERT_TRUE(m->reference(id, buf, sizeof buf));
            ASSERT_EQ(ref, buf);
        }
    }
}

TEST(References, UseTheMmsForm) {
    IedModel &m = *sample().cm;
    AI_OBJ_ID f = m.find("CMIEDMON/ZSAR1$MX$LeakA$mag$f");
    ASSERT_GE(f, 0);
    EXPECT_EQ(m.type(f), OBJECT_TYPE_FCDA);
    EXPECT_EQ(m.type(m.parent(f)), OBJECT_TYPE_FCDA);
    EXPECT_EQ(m.type(m.find("CMIEDMON/ZSAR1$MX$LeakA")), OBJECT_TYPE_FCD);
    EXPECT_EQ(m.type(m.find("CMIEDMON/ZSAR1$MX")), OBJECT_TYPE_FCN);
    EXPECT_EQ(m.type(m.find("CMIEDMON/ZSAR1")), OBJECT_TYPE_LN);
    EXPECT_EQ(m.type(m.find("CMIEDMON/LLN0$dsArr")), OBJECT_TYPE_DS);
    EXPECT_EQ(m.find("CMIED"), 0);
}

TEST(References, UnknownOrMalformedReferencesGiveMinusOne) {
    IedModel &m = *sample().cm;
    for (const std::string &ref :
         {std::string(), std::string("NOPE/LLN0"), std::string("CMIEDMON/NOPE"), std::string("CMIEDMON/LLN0$XX"),
          std::string("CMIEDMON/ZSAR1$MX$LeakA$mag$f$x"), std::string("CMIEDMON/LLN0$$ST"), std::string("CMIEDMON/"),
          std::string("/LLN0"), std::string("CMIEDMON/LLN0$dsTemp$x"), std::string("CMIEDMON/ZSAR1$dsTemp"),
          "CMIEDMON/" + std::string(200, 'A')})
        EXPECT_EQ(m.find(ref), -1) << ref;
}

TEST(References, BufferTooSmallIsRefused) {
    IedModel &m = *sample().cm;
    char buf[8];
    EXPECT_FALSE(m.reference(m.find("CMIEDMON/ZSAR1$MX$LeakA$mag$f"), buf, sizeof buf));
}

TEST(ControlBlocks, IndexedInstancesOneToFour) {
    IedModel &m = *sample().cm;
    Names br = child_names(m, "CMIEDMON/LLN0$BR");
    ASSERT_EQ(br.size(), 28u);
    EXPECT_EQ(Names(br.begin(), br.begin() + 4), (Names{"brcbTemp01", "brcbTemp02", "brcbTemp03", "brcbTemp04"}));
    EXPECT_EQ(child_names(m, "CMIEDMON/LLN0$RP"), (Names{"urcbAlarm01", "urcbAlarm02", "urcbAlarm03", "urcbAlarm04"}));
    for (const std::string &n : br) EXPECT_EQ(m.type(m.find("CMIEDMON/LLN0$BR$" + n)), OBJECT_TYPE_CB);
}

TEST(ControlBlocks, ReportBlocksHaveTheMmsComponentOrder) {
    EXPECT_EQ(child_names(*sample().cm, "CMIEDMON/LLN0$BR$brcbSF603"),
              (Names{"RptID", "RptEna", "DatSet", "ConfRev", "OptFlds", "BufTm", "SqNum", "TrgOps", "IntgPd", "GI",
                     "PurgeBuf", "EntryID", "TimeofEntry", "ResvTms", "Owner"}));
    EXPECT_EQ(child_names(*sample().cm, "CMIEDMON/LLN0$RP$urcbAlarm02"),
              (Names{"RptID", "RptEna", "Resv", "DatSet", "ConfRev", "OptFlds", "BufTm", "SqNum", "TrgOps", "IntgPd",
                     "GI", "Owner"}));
}

// The report dialog reads RptEna at primitive 1 and OptFlds at 4 (BRCB) or 5 (URCB).
TEST(ControlBlocks, PrimitivePositionsTheApplicationReads) {
    IedModel &m = *sample().cm;
    AI_OBJ_VAL v;
    ASSERT_EQ(m.read(m.find("CMIEDMON/LLN0$BR$brcbTemp01"), &v), 0);
    ASSERT_GE(v.prim_num, 13);
    EXPECT_EQ(v.prim_vals[1].type, VAL_TYPE_BOOLEAN);
    EXPECT_EQ(v.prim_vals[4].type, VAL_TYPE_OPTFLDS);
    EXPECT_EQ(v.prim_vals[0].type, VAL_TYPE_VSTRING129);
    EXPECT_STREQ(static_cast<const char *>(v.prim_vals[0].data), "CMIED_Temp");
    EXPECT_STREQ(static_cast<const char *>(v.prim_vals[2].data), "CMIEDMON/LLN0$dsTemp");
    IedModel::release_values(&v);
    ASSERT_EQ(m.read(m.find("CMIEDMON/LLN0$RP$urcbAlarm04"), &v), 0);
    EXPECT_EQ(v.prim_vals[1].type, VAL_TYPE_BOOLEAN);
    EXPECT_EQ(v.prim_vals[2].type, VAL_TYPE_BOOLEAN);
    EXPECT_EQ(v.prim_vals[5].type, VAL_TYPE_OPTFLDS);
    IedModel::release_values(&v);
}

TEST(ControlBlocks, SettingsFromTheScl) {
    IedModel &m = *sample().cm;
    EXPECT_EQ(text_of(m, "CMIEDMON/LLN0$BR$brcbTemp02$ConfRev"), "1");
    EXPECT_EQ(text_of(m, "CMIEDMON/LLN0$BR$brcbTemp02$IntgPd"), "60000");
    EXPECT_EQ(text_of(m, "CMIEDMON/LLN0$BR$brcbTemp02$BufTm"), "100");
    // seqNum, timeStamp, reasonCode, dataSet, entryID, configRef
    EXPECT_EQ(text_of(m, "CMIEDMON/LLN0$BR$brcbTemp02$OptFlds"), "0111100110");
    // dchg, qchg, integrity, gi
    EXPECT_EQ(text_of(m, "CMIEDMON/LLN0$BR$brcbTemp02$TrgOps"), "011011");
    EXPECT_EQ(text_of(m, "CMIEDMON/LLN0$BR$brcbTemp02$RptEna"), "false");
    IedModel &b = *sample().bay;
    EXPECT_EQ(text_of(b, "BAYIEDCTRL/LLN0$SP$SGCB$NumOfSG"), "4");
    EXPECT_EQ(text_of(b, "BAYIEDCTRL/LLN0$LG$lcbStatus$DatSet"), "BAYIEDCTRL/LLN0$dsStatus");
    EXPECT_EQ(text_of(b, "BAYIEDCTRL/LLN0$GO$gcbStatus$GoID"), "BAYIED_GOOSE1");
    EXPECT_EQ(child_names(b, "BAYIEDCTRL/LLN0$GO$gcbStatus$DstAddress"), (Names{"Addr", "PRIORITY", "VID", "APPID"}));
}

// Data set member -> id control -> runtime element -> index in the LN type ->
// sub_ids: the way the application finds each member's object.
TEST(DataSets, EveryMemberResolvesThroughTheRuntimeTables) {
    int members = 0;
    for (IedModel *m : {sample().cm.get(), sample().bay.get()}) {
        for (AI_OBJ_ID id = 0; id < m->object_count(); ++id) {
            if (m->type(id) != OBJECT_TYPE_DS) continue;
            AI_OBJ_IDCTRL *ic = m->id_ctrl(id);
            ASSERT_EQ(ic->obj_type, OBJECT_TYPE_DS);
            AI_DS_CTRL *ds = ic->u.ds_idctrl.ds;
            ASSERT_GT(ds->mb_num, 0);
            for (int k = 0; k < ds->mb_num; ++k) {
                AI_OBJ_IDCTRL *mc = m->id_ctrl(ds->mb_ids[k]);
                ASSERT_NE(mc, nullptr) << ds->mb_refs[k];
                AI_LN_CTRL *ln = mc->u.fco_idctrl.ln;
                MVL_TYPE_CTRL *t = find_type(ln->type_id);
                ASSERT_NE(t, nullptr);
                ptrdiff_t pos = mc->u.fco_idctrl.rt - t->rt;
                ASSERT_GE(pos, 0);
                ASSERT_LT(pos, t->num_rt);
                ASSERT_LT(pos, ln->sub_obj_num);
                AI_OBJ_ID obj = ln->sub_ids[pos];
                EXPECT_EQ(obj, ds->mb_ids[k]);
                EXPECT_EQ(m->reference(obj), std::string(ds->mb_refs[k]));
                ++members;
            }
        }
    }
    EXPECT_EQ(members, 35);
}

TEST(DataSets, MembersMayBeObjectsAttributesOrSubObjects) {
    IedModel &m = *sample().cm;
    AI_DS_CTRL *ds = m.data_set(m.find("CMIEDMON/LLN0$dsIns"));
    ASSERT_NE(ds, nullptr);
    EXPECT_STREQ(ds->mb_refs[0], "CMIEDMON/InsGGIO1$MX$DieLoss$mag$f");
    EXPECT_EQ(m.type(ds->mb_ids[0]), OBJECT_TYPE_FCDA);
    EXPECT_EQ(m.type(ds->mb_ids[3]), OBJECT_TYPE_FCD);
    AI_DS_CTRL *meas = sample().bay->data_set(sample().bay->find("BAYIEDMEAS/LLN0$dsMeas"));
    EXPECT_STREQ(meas->mb_refs[4], "BAYIEDMEAS/MMXU1$MX$PhV$phsA");
}

TEST(Descriptions, OfObjectsAndOfNamedElements) {
    IedModel &m = *sample().cm;
    AI_OBJ_ID zsar = m.find("CMIEDMON/ZSAR1");
    EXPECT_STREQ(m.desc(zsar), "A相避雷器");
    EXPECT_STREQ(m.ln_of(zsar)->cobj.desc, "A相避雷器");
    EXPECT_STREQ(m.desc(zsar, "LeakA"), "全电流");
    EXPECT_STREQ(m.desc(zsar, "LeakA$mag$f"), "全电流值");
    EXPECT_STREQ(m.desc(zsar, "LstStrkTm"), "最近雷击时间");
    EXPECT_EQ(m.desc(zsar, "LeakA$q"), nullptr);
    EXPECT_EQ(m.desc(zsar, "Nope"), nullptr);
    EXPECT_EQ(m.desc(zsar, "LeakA$$f"), nullptr);
    // An object without desc is described by its dU.
    EXPECT_STREQ(m.desc(m.find("CMIEDMON/STMP3"), "Tmp"), "环境温度");
    // Relative to a data object, as the value table asks.
    EXPECT_STREQ(sample().bay->desc(sample().bay->find("BAYIEDCTRL/XCBR1$ST$Pos"), "stVal"), "位置");
    EXPECT_STREQ(m.desc(m.find("CMIEDMON/LLN0$dsPD")), "局部放电");
    EXPECT_STREQ(m.desc(m.find("CMIEDMON")), "在线监测");
}

TEST(Descriptions, DataObjectDescriptionsOfTheLogicalNode) {
    AI_LN_CTRL *ln = sample().cm->ln_of(sample().cm->find("CMIEDMON/ZSAR1"));
    ASSERT_EQ(ln->do_desc_num, 3);
    EXPECT_STREQ(ln->do_descs[0].do_name, "LeakA");
    EXPECT_STREQ(ln->do_descs[0].desc, "全电流");
    EXPECT_STREQ(ln->do_descs[2].do_name, "LstStrkTm");
}

TEST(Values, InitialValuesComeFromTemplatesAndInstances) {
    IedModel &m = *sample().cm;
    EXPECT_EQ(text_of(m, "CMIEDMON/ZSAR1$ST$StrkCnt$stVal"), "3");
    EXPECT_EQ(text_of(m, "CMIEDMON/ZSAR1$ST$LstStrkTm$stVal"), "2026-06-01T12:30:00.000000000Z");
    EXPECT_EQ(text_of(m, "CMIEDMON/ZSAR1$MX$LeakA$mag$f"), "0.35");
    EXPECT_EQ(text_of(m, "CMIEDMON/ZSAR1$CF$LeakA$units$multiplier"), "-3");
    EXPECT_EQ(text_of(m, "CMIEDMON/ZSAR1$CF$LeakA$units$SIUnit"), "5");
    EXPECT_EQ(text_of(m, "CMIEDMON/ZSAR1$CF$LeakA$db"), "1000");
    EXPECT_EQ(text_of(m, "CMIEDMON/LLN0$ST$Mod$stVal"), "1");
    EXPECT_EQ(text_of(m, "CMIEDMON/LLN0$EX$NamPlt$ldNs"), "IEC 61850-7-4:2007");
    EXPECT_EQ(text_of(m, "CMIEDMON/STMP3$DC$Tmp$dU"), "环境温度");
    EXPECT_EQ(text_of(m, "CMIEDMON/STMP1$MX$Tmp$q"), "0000000000000");
    IedModel &b = *sample().bay;
    EXPECT_EQ(text_of(b, "BAYIEDCTRL/XCBR1$ST$Pos$stVal"), "01");
    EXPECT_EQ(text_of(b, "BAYIEDCTRL/CSWI1$CF$Pos$ctlModel"), "4");
    EXPECT_EQ(text_of(b, "BAYIEDMEAS/MMXU1$MX$Hz$mag$f"), "50");
}

TEST(Values, ReadGivesPrimitivesInComponentOrderWithTheirIds) {
    IedModel &m = *sample().cm;
    AI_OBJ_ID leak = m.find("CMIEDMON/ZSAR1$MX$LeakA");
    AI_OBJ_VAL v;
    ASSERT_EQ(m.read(leak, &v), 0);
    EXPECT_EQ(v.obj_id, leak);
    ASSERT_EQ(v.prim_num, 3);
    EXPECT_EQ(v.prim_ids[0], m.find("CMIEDMON/ZSAR1$MX$LeakA$mag$f"));
    EXPECT_EQ(v.prim_ids[1], m.find("CMIEDMON/ZSAR1$MX$LeakA$q"));
    EXPECT_EQ(v.prim_ids[2], m.find("CMIEDMON/ZSAR1$MX$LeakA$t"));
    EXPECT_EQ(v.prim_vals[0].type, VAL_TYPE_FLOAT32);
    EXPECT_EQ(v.prim_vals[1].type, VAL_TYPE_QUALITY);
    EXPECT_EQ(v.prim_vals[2].type, VAL_TYPE_TIMESTAMP);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(size_t(v.prim_vals[i].size), stored_size(v.prim_vals[i].type));
    float f;
    std::memcpy(&f, v.prim_vals[0].data, 4);
    EXPECT_FLOAT_EQ(f, 0.35f);
    IedModel::release_values(&v);
    EXPECT_EQ(v.prim_ids, nullptr);
    EXPECT_EQ(v.prim_num, 0);
}

TEST(Values, ReadOfADataSetConcatenatesItsMembers) {
    IedModel &m = *sample().cm;
    AI_OBJ_VAL v;
    ASSERT_EQ(m.read(m.find("CMIEDMON/LLN0$dsTemp"), &v), 0);
    EXPECT_EQ(v.prim_num, 9);  // three MX parts of three MVs: mag.f, q, t
    IedModel::release_values(&v);
    EXPECT_NE(m.read(-1, &v), 0);
    EXPECT_NE(m.read(m.object_count(), &v), 0);
}

TEST(Values, WritesAreCheckedAgainstTheType) {
    IedModel &m = *sample().bay;
    AI_OBJ_ID f = m.find("BAYIEDMEAS/MMXU1$MX$TotW$mag$f");
    EXPECT_EQ(m.write_text(f, "123.5"), 0);
    EXPECT_EQ(text_of(m, "BAYIEDMEAS/MMXU1$MX$TotW$mag$f"), "123.5");
    EXPECT_NE(m.write_text(f, "x"), 0);
    double d = 1;
    EXPECT_NE(m.write(f, &d, sizeof d), 0) << "size must match the stored form";
    EXPECT_NE(m.write_text(m.find("BAYIEDMEAS/MMXU1$MX$TotW$mag"), "1"), 0) << "not a primitive";
}

// Readers never see a half-written value while a writer updates it.
TEST(Values, ConcurrentReadersSeeWholeValues) {
    IedModel &m = *sample().cm;
    AI_OBJ_ID target = m.find("CMIEDMON/LLN0$BR$brcbMet03$DatSet");
    const std::string a(120, 'a'), b(120, 'b');
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) m.write_text(target, (i & 1) ? a : b);
        stop = true;
    });
    std::vector<std::thread> readers;
    std::atomic<int> torn{0};
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&] {
            while (!stop) {
                AI_OBJ_VAL v;
                if (m.read(m.find("CMIEDMON/LLN0$BR$brcbMet03"), &v) != 0) continue;
                std::string s = static_cast<const char *>(v.prim_vals[2].data);
                if (s != a && s != b && s != "CMIEDMON/LLN0$dsMet") ++torn;
                IedModel::release_values(&v);
            }
        });
    writer.join();
    for (auto &t : readers) t.join();
    EXPECT_EQ(torn, 0);
}

TEST(Types, LogicalNodesOfOneTypeShareTheirRuntimeTable) {
    IedModel &m = *sample().cm;
    AI_LN_CTRL *s1 = m.ln_of(m.find("CMIEDMON/STMP1"));
    AI_LN_CTRL *s2 = m.ln_of(m.find("CMIEDMON/STMP2"));
    EXPECT_EQ(s1->type_id, s2->type_id);
    MVL_TYPE_CTRL *t = find_type(s1->type_id);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->type_name, "STMP_T");
    EXPECT_EQ(t->num_rt, s1->sub_obj_num);
    EXPECT_EQ(t->rt_ctrl->rt_first, t->rt);
    EXPECT_GT(t->data_size, 0);
    EXPECT_EQ(t->rt[0].el_tag, RT_STR_START);
    EXPECT_EQ(t->rt[0].offset_to_last, t->num_rt - 1);
    EXPECT_EQ(s1->sub_ids[0], s1->cobj.id);
    EXPECT_EQ(find_type(-5), nullptr);
}

TEST(Types, PrimitiveElementsCarryTheirValueType) {
    IedModel &m = *sample().cm;
    const RUNTIME_TYPE *rt;
    int32_t n;
    ASSERT_TRUE(m.type_of(m.find("CMIEDMON/ZSAR1$MX$LeakA"), rt, n));
    ASSERT_EQ(n, 7);  // { mag { f } q t }
    EXPECT_EQ(rt[0].el_tag, RT_STR_START);
    EXPECT_STREQ(rt[2].comp_name_ptr, "f");
    EXPECT_EQ(rt[2].el_tag, RT_PRIMITIVE);
    EXPECT_EQ(rt[2].u.p.pad, VAL_TYPE_FLOAT32);
    EXPECT_EQ(rt[6].el_tag, RT_STR_END);
    const ElemInfo *ei = m.elem_info(m.find("CMIEDMON/LLN0$ST$Mod$stVal"));
    ASSERT_NE(ei, nullptr);
    EXPECT_TRUE(ei->is_enum);
}

TEST(MmsNames, DomainVariablesInModelAndSortedOrder) {
    IedModel &m = *sample().bay;
    std::vector<std::string> v;
    m.variable_names(m.find("BAYIEDMEAS"), v, false);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0], "LLN0");
    EXPECT_EQ(v[1], "LLN0$ST");
    std::vector<std::string> s;
    m.variable_names(m.find("BAYIEDMEAS"), s, true);
    EXPECT_EQ(s.size(), v.size());
    EXPECT_TRUE(std::is_sorted(s.begin(), s.end()));
    EXPECT_NE(std::find(s.begin(), s.end(), "LLN0$BR$brcbMeas01$RptID"), s.end());
    EXPECT_NE(std::find(s.begin(), s.end(), "MMXU1$MX$A$phsA$cVal$mag$f"), s.end());
}

}  // namespace
