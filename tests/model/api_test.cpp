// The model, value and server operations of libzorvan_ld.so, loaded with
// dlopen and looked up by name as the application does.
#include <dlfcn.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include <strings.h>

#include <cstdlib>
#include <functional>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "zorvan/zorvan_api.h"

namespace {

struct Ops {
#define ZV_DECLARE(name) decltype(&::name) name = nullptr;
    ZORVAN_OPERATIONS(ZV_DECLARE)
#undef ZV_DECLARE
};

const Ops &ops() {
    static Ops o = [] {
        Ops r;
        void *h = dlopen(ZV_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            ADD_FAILURE() << dlerror();
            return r;
        }
#define ZV_LOOKUP(name) r.name = reinterpret_cast<decltype(r.name)>(dlsym(h, #name));
        ZORVAN_OPERATIONS(ZV_LOOKUP)
#undef ZV_LOOKUP
        return r;
    }();
    return o;
}

// A station file of our own (other ports, as the demo and tests write it).
// One per process: ctest runs these tests in parallel processes, and one
// rewriting a shared file while another loads it failed the suite's set-up.
std::string write_station(const std::string &name, const std::string &body) {
    std::string path = ::testing::TempDir() + "/zv_api_" + name + "_" + std::to_string(getpid()) + ".ini";
    std::ofstream(path) << body;
    return path;
}

const std::string kGoodStation = "[station]\nscl = " + std::string(ZV_SAMPLE_STATION) +
                                 "/sample.scd\n[ied CMIED]\naddr_a = 127.0.0.1:20102\n"
                                 "[ied BAYIED]\naddr_a = 127.0.0.1:20103\nchnlA_NO = 3\n";

class StackApi : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const Ops &o = ops();
        ASSERT_NE(o.ai_init_envir, nullptr);
        setenv("ZORVAN_STATION", write_station("good", kGoodStation).c_str(), 1);
        ASSERT_EQ(o.ai_init_envir(nullptr), 0);
        ASSERT_EQ(o.ac_init_srvm(), 0);
    }
    // As the application does on shutdown: ends the stack's threads before exit.
    static void TearDownTestSuite() {
        if (ops().ai_uninit_envir) ops().ai_uninit_envir();
    }
    const Ops &o = ops();
    AI_IED_CTRL *cm() { return o.ac_get_srvm_ied(0); }
    AI_IED_CTRL *bay() { return o.ac_get_srvm_ied(1); }
};

TEST_F(StackApi, ServersComeFromTheStationFileNamedByTheEnvironment) {
    ASSERT_EQ(o.ac_get_srvm_num(), 2);
    EXPECT_STREQ(o.ac_get_srvm_name(0), "CMIED");
    EXPECT_STREQ(o.ac_get_srvm_name(1), "BAYIED");
    EXPECT_EQ(o.ac_get_srvm_name(2), nullptr);
    EXPECT_EQ(o.ac_get_srvm_name(-1), nullptr);
    EXPECT_EQ(o.ac_get_srvm_ied(2), nullptr);
    EXPECT_EQ(o.ac_get_srvm_srvId("BAYIED"), 1);
    EXPECT_EQ(o.ac_get_srvm_srvId("NOPE"), -1);
    EXPECT_EQ(o.ac_get_srvm_srvId(nullptr), -1);
    AI_IED_CFG *cfg = o.ai_get_ied_config("BAYIED");
    ASSERT_NE(cfg, nullptr);
    EXPECT_EQ(cfg->chnlA_NO, 3);
    EXPECT_STREQ(cfg->ied_name, "BAYIED");
    EXPECT_EQ(o.ai_get_ied_config("GHOST"), nullptr);
    EXPECT_EQ(o.ai_get_ied_config(nullptr), nullptr);
    EXPECT_STREQ(cm()->cobj.name, "CMIED");
}

TEST_F(StackApi, SecondInitKeepsTheLoadedStation) {
    AI_IED_CTRL *before = cm();
    EXPECT_EQ(o.ac_init_srvm(), 0);
    EXPECT_EQ(cm(), before);
}

// The tree build: LDs, LNs, FCs, everything below, data sets after the LNs;
// report control blocks of this client end in the chnlA_NO instance.
TEST_F(StackApi, TreeWalkFindsEveryObjectAndTheClientsReportBlocks) {
    for (int srv = 0; srv < 2; ++srv) {
        AI_IED_CTRL *ied = o.ac_get_srvm_ied(srv);
        int seen = 1;  // the IED
        std::vector<std::string> rcbs;
        AI_IED_CFG *cfg = o.ai_get_ied_config(o.ac_get_srvm_name(srv));
        char inst[8];
        std::snprintf(inst, sizeof inst, cfg->chnlA_NO > 9 ? "%d" : "0%d", cfg->chnlA_NO);
        std::function<void(AI_OBJ_ID, const char *)> walk = [&](AI_OBJ_ID id, const char *parent_name) {
            AI_OBJ_ID *ids;
            ST_INT n;
            if (o.ai_get_obj_dir(ied, id, 0, &ids, &n) != 0) return;
            for (int i = 0; i < n; ++i) {
                char name[AI_OBJ_NAME_LEN];
                ASSERT_EQ(o.ai_obj_id_to_name(ied, ids[i], name), 0);
                ++seen;
                size_t len = std::strlen(name);
                if ((strcasecmp(parent_name, "RP") == 0 || strcasecmp(parent_name, "BR") == 0) && len >= 2 &&
                    std::strstr(name + len - 2, inst))
                    rcbs.push_back(name);
                walk(ids[i], name);
            }
        };
        walk(ied->cobj.id, "");
        AI_OBJ_ID *lds;
        ST_INT nld;
        ASSERT_EQ(o.ai_get_obj_dir(ied, 0, 0, &lds, &nld), 0);
        for (int i = 0; i < nld; ++i) {
            AI_OBJ_ID *dss;
            ST_INT nds;
            ASSERT_EQ(o.ai_get_obj_dir(ied, lds[i], 1, &dss, &nds), 0);
            seen += nds;
        }
        EXPECT_EQ(seen, o.ai_get_ied_obj_num(ied));
        if (srv == 0) {
            EXPECT_EQ(rcbs.size(), 8u);  // seven BRCBs and one URCB, instance 01
        } else {
            EXPECT_EQ(rcbs, (std::vector<std::string>{"urcbStatus03", "brcbStatus03", "urcbMeas03", "brcbMeas03"}));
        }
    }
}

TEST_F(StackApi, DirectoryRefusalsClearTheOutputs) {
    AI_OBJ_ID *ids = reinterpret_cast<AI_OBJ_ID *>(8);
    ST_INT n = 9;
    AI_OBJ_ID leaf = o.ai_obj_ref_to_id(cm(), "CMIEDMON/ZSAR1$MX$LeakA$mag$f");
    EXPECT_NE(o.ai_get_obj_dir(cm(), leaf, 0, &ids, &n), 0);
    EXPECT_EQ(ids, nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_NE(o.ai_get_obj_dir(cm(), 99999, 0, &ids, &n), 0);
    EXPECT_NE(o.ai_get_obj_dir(cm(), 0, 2, &ids, &n), 0);
    EXPECT_NE(o.ai_get_obj_dir(nullptr, 0, 0, &ids, &n), 0);
}

TEST_F(StackApi, ReferencesNamesTypesAndParents) {
    AI_IED_CTRL *m = bay();
    AI_OBJ_ID id = o.ai_obj_ref_to_id(m, "BAYIEDCTRL/XCBR1$ST$Pos$stVal");
    ASSERT_GT(id, 0);
    char ref[AI_OBJ_REF_LEN];
    ASSERT_EQ(o.ai_obj_id_to_ref(m, id, ref), 0);
    EXPECT_STREQ(ref, "BAYIEDCTRL/XCBR1$ST$Pos$stVal");
    char name[AI_OBJ_NAME_LEN];
    ASSERT_EQ(o.ai_obj_id_to_name(m, id, name), 0);
    EXPECT_STREQ(name, "stVal");
    EXPECT_EQ(o.ai_get_obj_type(m, id), OBJECT_TYPE_FCDA);
    AI_OBJ_ID p = o.ai_find_obj_parent(m, id);
    EXPECT_EQ(o.ai_get_obj_type(m, p), OBJECT_TYPE_FCD);
    EXPECT_EQ(o.ai_find_obj_parent(m, 0), -1);
    EXPECT_EQ(o.ai_get_obj_type(m, 0), OBJECT_TYPE_IED);
    EXPECT_EQ(o.ai_obj_ref_to_id(m, "BAYIEDCTRL/XCBR1$ST$Nope"), -1);
    EXPECT_EQ(o.ai_obj_ref_to_id(m, nullptr), -1);
    EXPECT_NE(o.ai_obj_id_to_ref(m, -1, ref), 0);
    EXPECT_NE(o.ai_obj_id_to_name(m, 1 << 20, name), 0);
    EXPECT_EQ(o.ai_get_obj_type(m, -1), OBJECT_TYPE_UNKNOWN);
    EXPECT_EQ(o.ai_get_ld_num(m), 2);
    EXPECT_EQ(o.ai_get_ln_num(m), 8);
    EXPECT_EQ(o.ai_get_ds_num(m), 3);
}

TEST_F(StackApi, DescriptionsWithAndWithoutSubElement) {
    AI_IED_CTRL *m = cm();
    AI_OBJ_ID ln = o.ai_obj_ref_to_id(m, "CMIEDMON/SIMG1");
    EXPECT_STREQ(o.ai_get_obj_desc(m, ln, nullptr), "GIS气室SF6监测");
    EXPECT_STREQ(o.ai_get_obj_desc(m, ln, "Pres"), "SF6压力");
    EXPECT_EQ(o.ai_get_obj_desc(m, ln, "Pres$q"), nullptr);
    EXPECT_EQ(o.ai_get_obj_desc(m, o.ai_obj_ref_to_id(m, "CMIEDMON/SIMG1$MX"), nullptr), nullptr);
    EXPECT_EQ(o.ai_get_obj_desc(nullptr, ln, nullptr), nullptr);
}

// The member walk of the value table, the parameter import and the archiving
// worker, exactly through the interface records.
TEST_F(StackApi, DataSetMembersResolveAsTheApplicationWalksThem) {
    AI_IED_CTRL *m = cm();
    AI_OBJ_ID ds_id = o.ai_obj_ref_to_id(m, "CMIEDMON/LLN0$dsArr");
    AI_OBJ_IDCTRL *dsc = o.ai_get_obj_id_ctrl(m, ds_id);
    ASSERT_NE(dsc, nullptr);
    ASSERT_EQ(dsc->obj_type, OBJECT_TYPE_DS);
    AI_DS_CTRL *ds = dsc->u.ds_idctrl.ds;
    ASSERT_EQ(ds->mb_num, 3);
    std::vector<std::string> refs;
    for (int i = 0; i < ds->mb_num; ++i) {
        AI_OBJ_IDCTRL *mc = o.ai_get_obj_id_ctrl(m, ds->mb_ids[i]);
        ASSERT_NE(mc, nullptr);
        MVL_TYPE_CTRL *t = o.mvl_type_ctrl_find(mc->u.fco_idctrl.ln->type_id);
        ASSERT_NE(t, nullptr);
        AI_OBJ_ID obj = mc->u.fco_idctrl.ln->sub_ids[mc->u.fco_idctrl.rt - t->rt];
        char ref[AI_OBJ_REF_LEN];
        ASSERT_EQ(o.ai_obj_id_to_ref(m, obj, ref), 0);
        refs.push_back(ref);
    }
    EXPECT_EQ(refs, (std::vector<std::string>{"CMIEDMON/ZSAR1$MX$LeakA", "CMIEDMON/ZSAR1$ST$StrkCnt",
                                              "CMIEDMON/ZSAR1$ST$LstStrkTm"}));
    EXPECT_EQ(o.mvl_type_ctrl_find(-1), nullptr);
}

// The archiving worker finds a value and the time stamp of its data object.
TEST_F(StackApi, ValueAndTimeStampTextsAsTheArchivingWorkerReadsThem) {
    AI_IED_CTRL *m = cm();
    AI_OBJ_VAL v;
    ASSERT_EQ(o.ai_read_obj_primVals(o.ai_obj_ref_to_id(m, "CMIEDMON/ZSAR1$ST$LstStrkTm"), m, &v), 0);
    ASSERT_EQ(v.prim_num, 3);
    char text[AI_VALUE_TEXT_LEN];
    ASSERT_EQ(o.ai_prim_value_to_str(v.prim_vals[0].type, v.prim_vals[0].data, text), 0);
    ST_UINT32 secs = 0, frac = 1, q = 1;
    ASSERT_EQ(o.UtcStringToVals(text, &secs, &frac, &q), 0);
    EXPECT_EQ(secs, 1780317000u);  // 2026-06-01T12:30:00Z
    EXPECT_EQ(frac, 0u);
    char type[21];
    ASSERT_EQ(o.ai_type_to_str(v.prim_vals[0].type, type), 0);
    EXPECT_STREQ(type, "TIMESTAMP");
    o.ai_cleanup_objVals(&v);
    EXPECT_EQ(v.prim_vals, nullptr);
    o.ai_cleanup_objVals(&v);  // a second release is harmless
    o.ai_cleanup_objVals(nullptr);
}

// The report dialog converts its edits with ai_prim_str_to_value into the
// element's own data, and the enable path reads OptFlds bytes 2 and 3.
TEST_F(StackApi, ReportBlockEditsConvertIntoTheReadValue) {
    AI_IED_CTRL *m = cm();
    AI_OBJ_VAL v;
    ASSERT_EQ(o.ai_read_obj_primVals(o.ai_obj_ref_to_id(m, "CMIEDMON/LLN0$BR$brcbPD02"), m, &v), 0);
    ASSERT_EQ(o.ai_prim_str_to_value(v.prim_vals[1].type, "true", v.prim_vals[1].data), 0);
    ASSERT_EQ(o.ai_prim_str_to_value(v.prim_vals[0].type, "CMIED_PD", v.prim_vals[0].data), 0);
    EXPECT_NE(o.ai_prim_str_to_value(v.prim_vals[0].type, std::string(130, 'r').c_str(), v.prim_vals[0].data), 0);
    char text[AI_VALUE_TEXT_LEN];
    ASSERT_EQ(o.ai_prim_value_to_str(v.prim_vals[1].type, v.prim_vals[1].data, text), 0);
    EXPECT_STREQ(text, "true");
    o.ai_cleanup_objVals(&v);
    unsigned char area[4] = {};
    ASSERT_EQ(o.ai_prim_str_to_value(VAL_TYPE_OPTFLDS, "0111100010", area), 0);
    EXPECT_EQ(area[2] | area[3] << 8, 0x8078);
    // The model itself is untouched: reads copy.
    ASSERT_EQ(o.ai_read_obj_primVals(o.ai_obj_ref_to_id(m, "CMIEDMON/LLN0$BR$brcbPD02$RptEna"), m, &v), 0);
    ASSERT_EQ(o.ai_prim_value_to_str(v.prim_vals[0].type, v.prim_vals[0].data, text), 0);
    EXPECT_STREQ(text, "false");
    o.ai_cleanup_objVals(&v);
}

TEST_F(StackApi, TimeHelpersRoundTrip) {
    TimeStamp_TDEF now{};
    o.get_system_curtime(&now);
    EXPECT_GT(now.secs, 1700000000u);
    char text[64];
    ASSERT_EQ(o.UtcValsToString(text, now.secs, now.fraction, now.qflags), 0);
    TimeStamp_TDEF back{};
    ASSERT_EQ(o._convert_str_to_val_timestamp(text, &back), 0);
    EXPECT_EQ(back.secs, now.secs);
    EXPECT_EQ(back.fraction, now.fraction);
    EXPECT_EQ(back.qflags, now.qflags);
    EXPECT_NE(o._convert_str_to_val_timestamp("yesterday", &back), 0);
    EXPECT_NE(o.UtcStringToVals(nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_F(StackApi, NullAndForeignModelsAreRefused) {
    AI_OBJ_VAL v;
    EXPECT_NE(o.ai_read_obj_primVals(0, nullptr, &v), 0);
    EXPECT_EQ(v.prim_num, 0);
    EXPECT_NE(o.ai_read_obj_primVals(0, cm(), nullptr), 0);
    EXPECT_EQ(o.ai_get_obj_id_ctrl(nullptr, 0), nullptr);
    AI_IED_CTRL fake{};
    EXPECT_EQ(o.ai_get_ld_num(&fake), 0);
    EXPECT_EQ(o.ai_obj_ref_to_id(&fake, "X/Y"), -1);
    char buf[AI_VALUE_TEXT_LEN];
    EXPECT_NE(o.ai_prim_value_to_str(VAL_TYPE_STRUCT, buf, buf), 0);
    EXPECT_NE(o.ai_prim_value_to_str(VAL_TYPE_INT8, nullptr, buf), 0);
    EXPECT_NE(o.ai_type_to_str(AI_VAL_TYPE(30), buf), 0);
}

// Runs last in this suite (name order is declaration order): shutdown and restart.
TEST_F(StackApi, UninitLeavesModelsReadableAndABadStationFailsTheNextInit) {
    AI_IED_CTRL *old = cm();
    AI_OBJ_ID id = o.ai_obj_ref_to_id(old, "CMIEDMON/ZSAR1$MX$LeakA$mag$f");
    ASSERT_EQ(o.ai_uninit_envir(), 0);
    EXPECT_EQ(o.ac_get_srvm_num(), 0);
    EXPECT_EQ(o.ac_get_srvm_ied(0), nullptr);
    // A worker still holding the old model can go on reading it.
    AI_OBJ_VAL v;
    ASSERT_EQ(o.ai_read_obj_primVals(id, old, &v), 0);
    o.ai_cleanup_objVals(&v);

    setenv("ZORVAN_STATION", write_station("bad", "[station]\nscl = missing.scd\n").c_str(), 1);
    EXPECT_EQ(o.ai_init_envir(nullptr), 0) << "the station file itself is well-formed";
    EXPECT_NE(o.ac_init_srvm(), 0);
    EXPECT_EQ(o.ac_get_srvm_num(), 0);
    setenv("ZORVAN_STATION", write_station("worse", "[station\n").c_str(), 1);
    EXPECT_NE(o.ai_init_envir(nullptr), 0);
    // Both reasons are in the stack's log of the day, in the working directory.
    char day[16];
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    strftime(day, sizeof day, "%Y-%m-%d", &t);
    std::ifstream log(std::string("zorvan") + day + ".log");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("missing.scd"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("zv_api_worse_" + std::to_string(getpid()) + ".ini:1: error: section header without ']'"),
              std::string::npos)
        << text.str();

    setenv("ZORVAN_STATION", write_station("good", kGoodStation).c_str(), 1);
    ASSERT_EQ(o.ai_init_envir(nullptr), 0);
    ASSERT_EQ(o.ac_init_srvm(), 0);
    EXPECT_EQ(o.ac_get_srvm_num(), 2);
}

// The operations on a model with array elements, setting group views and
// sampled value blocks (tests/model/features.scd), as the application calls them.
class StackApiFeatures : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const Ops &o = ops();
        ASSERT_NE(o.ai_init_envir, nullptr);
        o.ai_uninit_envir();  // another suite of this process may have loaded its station
        setenv("ZORVAN_STATION",
               write_station("features", "[station]\nscl = " + std::string(ZV_FEATURES_SCD) +
                                             "\n[ied F1]\naddr_a = 127.0.0.1:20104\naddr_b = none\n")
                   .c_str(),
               1);
        ASSERT_EQ(o.ai_init_envir(nullptr), 0);
        ASSERT_EQ(o.ac_init_srvm(), 0);
    }
    static void TearDownTestSuite() {
        if (ops().ai_uninit_envir) ops().ai_uninit_envir();
    }
    const Ops &o = ops();
    AI_IED_CTRL *f1() { return o.ac_get_srvm_ied(0); }
};

TEST_F(StackApiFeatures, ArrayElementsAreObjectsOfTheDirectoryWithReferencesNamesAndValues) {
    AI_IED_CTRL *m = f1();
    ASSERT_NE(m, nullptr);
    const AI_OBJ_ID arr = o.ai_obj_ref_to_id(m, "F1LD0/MHAI1$MX$Harm$phsAHar");
    AI_OBJ_ID *ids = nullptr;
    ST_INT n = 0;
    ASSERT_EQ(o.ai_get_obj_dir(m, arr, 0, &ids, &n), 0);
    ASSERT_EQ(n, 3);
    char name[AI_OBJ_NAME_LEN], ref[AI_OBJ_REF_LEN], text[AI_VALUE_TEXT_LEN];
    ASSERT_EQ(o.ai_obj_id_to_name(m, ids[2], name), 0);
    EXPECT_STREQ(name, "phsAHar(2)");
    ASSERT_EQ(o.ai_obj_id_to_ref(m, ids[2], ref), 0);
    EXPECT_STREQ(ref, "F1LD0/MHAI1$MX$Harm$phsAHar(2)");
    EXPECT_EQ(o.ai_obj_ref_to_id(m, ref), ids[2]);
    EXPECT_EQ(o.ai_get_obj_type(m, ids[2]), OBJECT_TYPE_FCD);
    EXPECT_EQ(o.ai_find_obj_parent(m, ids[2]), arr);
    AI_OBJ_VAL v;
    ASSERT_EQ(o.ai_read_obj_primVals(ids[2], m, &v), 0);
    ASSERT_EQ(v.prim_num, 3);
    EXPECT_EQ(v.prim_ids[0], o.ai_obj_ref_to_id(m, "F1LD0/MHAI1$MX$Harm$phsAHar(2)$cVal$mag$f"));
    ASSERT_EQ(o.ai_prim_value_to_str(v.prim_vals[0].type, v.prim_vals[0].data, text), 0);
    EXPECT_STREQ(text, "42.25");
    o.ai_cleanup_objVals(&v);
    ASSERT_EQ(o.ai_read_obj_primVals(o.ai_obj_ref_to_id(m, "F1LD0/MHAI1$SG$Set$setMag$f"), m, &v), 0);
    ASSERT_EQ(o.ai_prim_value_to_str(v.prim_vals[0].type, v.prim_vals[0].data, text), 0);
    EXPECT_STREQ(text, "2.5");
    o.ai_cleanup_objVals(&v);
    EXPECT_EQ(o.ai_get_obj_type(m, o.ai_obj_ref_to_id(m, "F1LD0/LLN0$MS$msv")), OBJECT_TYPE_CB);
}

// A data set member naming an array element: the stack gives it and its
// values; the application's walk through sub_ids (which has no entries inside
// arrays) finds no object for it rather than the whole array.
TEST_F(StackApiFeatures, DataSetMembersNamingArrayElements) {
    AI_IED_CTRL *m = f1();
    AI_DS_CTRL *ds = o.ai_get_obj_id_ctrl(m, o.ai_obj_ref_to_id(m, "F1LD0/LLN0$dsHarm"))->u.ds_idctrl.ds;
    ASSERT_EQ(ds->mb_num, 4);
    EXPECT_EQ(ds->mb_ids[2], o.ai_obj_ref_to_id(m, "F1LD0/MHAI1$SP$Arr$vals(3)"));
    AI_OBJ_VAL v;
    ASSERT_EQ(o.ai_read_obj_primVals(ds->mb_ids[2], m, &v), 0);
    ASSERT_EQ(v.prim_num, 1);
    EXPECT_EQ(*static_cast<int32_t *>(v.prim_vals[0].data), 7);
    o.ai_cleanup_objVals(&v);
    auto walk = [&](AI_OBJ_ID member) {
        const AI_FCO_IDCTRL &f = o.ai_get_obj_id_ctrl(m, member)->u.fco_idctrl;
        return f.ln->sub_ids[f.rt - o.mvl_type_ctrl_find(f.ln->type_id)->rt];
    };
    EXPECT_EQ(walk(ds->mb_ids[2]), -1);
    EXPECT_EQ(walk(ds->mb_ids[3]), ds->mb_ids[3]);
}

}  // namespace
