// Devices that describe their own model (station key model = device or
// check), against iedsim over loopback through the exported operations; the
// SCL export of what the application sees, read back.
#include "sim.h"

#include "model/device_doc.h"
#include "model/ied_model.h"
#include "scl/scl_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

using namespace zvt;

namespace {

std::atomic<int> g_refreshed[4];
void on_refreshed(ST_INT srv) {
    if (srv >= 0 && srv < 4) ++g_refreshed[srv];
}

std::string slurp(const std::string &path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The stack started in `dir` (its daily log lands there) on a station text.
class StationRun {
public:
    StationRun(const std::string &dir, const std::string &text) : dir_(dir) {
        const std::string path = dir + "/station.ini";
        std::ofstream(path) << text;
        for (auto &r : g_refreshed) r = 0;
        Events::get().clear();
        u_chnl_connect_app(on_up);
        u_chnl_disconnect_app(on_down);
        u_srv_refreshed_app(on_refreshed);
        old_ = ::getcwd(buf_, sizeof buf_) ? std::string(buf_) : std::string(".");
        ok = ::chdir(dir.c_str()) == 0 && ai_init_envir(path.c_str()) == 0 && ac_init_srvm() == 0;
    }
    ~StationRun() {
        ai_uninit_envir();
        (void)!::chdir(old_.c_str());
    }
    // The stack's log of today, as far as written.
    std::string log() const { return run("cat '" + dir_ + "'/zorvan*.log 2>/dev/null"); }
    bool ok = false;

private:
    std::string dir_, old_;
    char buf_[4096];
};

// The same of a model built in this process (not the library's).
std::string kind_of(AI_OBJ_TYPE t) {
    return t == OBJECT_TYPE_CB ? "cb" : t == OBJECT_TYPE_DS ? "ds" : t == OBJECT_TYPE_LN ? "ln" : "obj";
}
// What a model holds, through the exported operations: every object's
// reference with its type (primitives: their value type, the two-bit
// strings as one), data set members, control block settings.
std::map<std::string, std::string> objects_of(AI_IED_CTRL *ied) {
    std::map<std::string, std::string> out;
    const int n = ai_get_ied_obj_num(ied);
    for (AI_OBJ_ID id = 0; id < n; ++id) {
        char ref[AI_OBJ_REF_LEN] = {};
        if (ai_obj_id_to_ref(ied, id, ref) != 0) continue;
        const AI_OBJ_TYPE t = ai_get_obj_type(ied, id);
        std::string what = kind_of(t);
        AI_OBJ_VAL v{};
        if (t != OBJECT_TYPE_IED && t != OBJECT_TYPE_LD && t != OBJECT_TYPE_LN &&
            ai_read_obj_primVals(id, ied, &v) == 0) {
            for (int k = 0; k < v.prim_num; ++k) {
                const int vt = v.prim_vals[k].type;
                const bool two_bits = vt == VAL_TYPE_CODEDENUM || vt == VAL_TYPE_TCMD || vt == VAL_TYPE_CHECK;
                what += " " + std::to_string(two_bits ? int(VAL_TYPE_CODEDENUM) : vt);
            }
            ai_cleanup_objVals(&v);
        }
        if (t == OBJECT_TYPE_DS) {
            const AI_DS_CTRL *ds = ied->id_ctrl[id].u.ds_idctrl.ds;
            for (int k = 0; k < ds->mb_num; ++k) what += std::string(" ") + ds->mb_refs[k];
        }
        out[ref] = what;
    }
    return out;
}

std::map<std::string, std::string> objects_of(const zv::model::IedModel &m) {
    std::map<std::string, std::string> out;
    for (AI_OBJ_ID id = 0; id < m.object_count(); ++id) {
        const AI_OBJ_TYPE t = m.type(id);
        std::string what = kind_of(t);
        if (t != OBJECT_TYPE_IED && t != OBJECT_TYPE_LD && t != OBJECT_TYPE_LN) {
            std::vector<zv::model::Primitive> prims;
            m.primitives(id, prims);
            for (const auto &p : prims) {
                const int vt = p.type;
                const bool two_bits = vt == VAL_TYPE_CODEDENUM || vt == VAL_TYPE_TCMD || vt == VAL_TYPE_CHECK;
                what += " " + std::to_string(two_bits ? int(VAL_TYPE_CODEDENUM) : vt);
            }
        }
        if (const AI_DS_CTRL *ds = m.data_set(id))
            for (int k = 0; k < ds->mb_num; ++k) what += std::string(" ") + ds->mb_refs[k];
        out[m.reference(id)] = what;
    }
    return out;
}
std::string settings_of(const zv::model::IedModel &m, const std::string &ref) {
    const AI_OBJ_ID id = m.find(ref);
    AI_OBJ_VAL v{};
    if (id < 0 || m.read(id, &v) != 0) return "<none>";
    std::string s;
    for (int k = 0; k < v.prim_num; ++k) s += prim_text(v.prim_vals[k]) + "|";
    zv::model::IedModel::release_values(&v);
    return s;
}

// Object references whose kind differs or which one side lacks.
std::vector<std::string> differences(const std::map<std::string, std::string> &a,
                                     const std::map<std::string, std::string> &b) {
    std::vector<std::string> d;
    for (const auto &x : a) {
        auto it = b.find(x.first);
        if (it == b.end())
            d.push_back("only in the first: " + x.first);
        else if (it->second != x.second)
            d.push_back(x.first + ": " + x.second + " / " + it->second);
    }
    for (const auto &x : b)
        if (!a.count(x.first)) d.push_back("only in the second: " + x.first);
    return d;
}

std::string settings_of(AI_IED_CTRL *ied, const std::string &ref) {
    const AI_OBJ_ID id = ai_obj_ref_to_id(ied, ref.c_str());
    AI_OBJ_VAL v{};
    if (id < 0 || ai_read_obj_primVals(id, ied, &v) != 0) return "<none>";
    std::string s;
    for (int k = 0; k < v.prim_num; ++k) s += prim_text(v.prim_vals[k]) + "|";
    ai_cleanup_objVals(&v);
    return s;
}

// The model of an IED as the SCL describes it (iedsim's own), through the
// same exported record operations.
std::unique_ptr<zv::model::IedModel> scl_model(const std::string &file, const std::string &ied) {
    zv::scl::Diagnostics quiet(true);
    return zv::model::IedModel::load(file, ied, quiet);
}

class DeviceModel : public ::testing::TestWithParam<const char *> {};

// A device with no SCL at hand: the tree (every reference and type), data
// sets and control blocks come from the device itself at its first association.
TEST_P(DeviceModel, ArrivesAtFirstAssociationAsTheDeviceHasIt) {
    const std::string ied = GetParam();
    const TempDir dir("dev" + ied);
    ::mkdir((dir + "/f").c_str(), 0755);
    Sim sim(ied, 0, 0, dir + "/f");
    StationRun st(dir, "[ied " + ied + "]\nmodel = device\naddr_a = 127.0.0.1:" + std::to_string(sim.port_a) +
                           "\naddr_b = 127.0.0.2:" + std::to_string(sim.port_b) + "\n");
    ASSERT_TRUE(st.ok);
    AI_IED_CTRL *before = ac_get_srvm_ied(0);
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(ai_get_ld_num(before), 0);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return g_refreshed[0] == 1; }, 30000)) << st.log();
    AI_IED_CTRL *now = ac_get_srvm_ied(0);
    ASSERT_NE(now, before);
    // The empty model stays readable for whoever still holds it.
    EXPECT_EQ(ai_get_ld_num(before), 0);
    EXPECT_GT(ai_get_ld_num(now), 0);

    auto sclm = scl_model(std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd", ied);
    ASSERT_TRUE(sclm);
    EXPECT_EQ(differences(objects_of(*sclm), objects_of(now)), std::vector<std::string>{});
    // Control block settings as the device holds them.
    const std::string blk = ied == std::string("CMIED") ? "CMIEDMON/LLN0$BR$brcbTemp03"
                                                        : "BAYIEDCTRL/LLN0$RP$urcbStatus02";
    EXPECT_EQ(settings_of(now, blk), settings_of(*sclm, blk));

    // Reads and reports work on the new model.
    EXPECT_EQ(read_and_wait(ai_obj_ref_to_id(now, (ied == std::string("CMIED") ? "CMIEDMON/STMP1$MX$Tmp"
                                                                               : "BAYIEDCTRL/XCBR1$ST$Pos"))),
              0);
    // Reconnecting does not browse again.
    ac_set_srvm_chnlKeepCon(0, 0, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return Events::get().count("down 0 A") == 1; }));
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") == 2; }));
    EXPECT_EQ(read_and_wait(ai_obj_ref_to_id(now, blk.c_str())), 0);
    EXPECT_EQ(g_refreshed[0], 1);
    EXPECT_EQ(ac_get_srvm_ied(0), now);
}

INSTANTIATE_TEST_SUITE_P(SampleIeds, DeviceModel, ::testing::Values("CMIED", "BAYIED"));

// The sample SCD with CMIED's dsTemp one member short and brcbTemp at ConfRev 7.
std::string changed_scd(const std::string &dir) {
    std::string t = slurp(std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd");
    const size_t ds = t.find("<DataSet name=\"dsTemp\"");
    const size_t first = t.find("<FCDA", ds);
    const size_t end = t.find("/>", first) + 2;
    t.erase(first, end - first);
    const std::string rc = "name=\"brcbTemp\" rptID=\"CMIED_Temp\" datSet=\"dsTemp\" confRev=\"1\"";
    const size_t r = t.find(rc);
    t.replace(r, rc.size(), "name=\"brcbTemp\" rptID=\"CMIED_Temp\" datSet=\"dsTemp\" confRev=\"7\"");
    const std::string path = dir + "/changed.scd";
    std::ofstream(path) << t;
    return path;
}

struct CheckRow {
    const char *name;
    bool changed;
    std::vector<std::string> lines;  // expected in the log
};

class CheckAgainstScl : public ::testing::TestWithParam<CheckRow> {};

TEST_P(CheckAgainstScl, EveryDifferenceIsOneLogLineAndTheSummaryCountsThem) {
    const CheckRow &row = GetParam();
    const TempDir dir(std::string("check") + row.name);
    ::mkdir((dir + "/f").c_str(), 0755);
    std::vector<std::string> extra;
    if (row.changed) extra = {"--scl", changed_scd(dir)};
    Sim sim("CMIED", 0, 0, dir + "/f", extra);
    StationRun st(dir, "[station]\nscl = " + std::string(ZV_SAMPLE_STATION_DIR) +
                           "/sample.scd\n[ied CMIED]\n"
                           "model = check\naddr_a = 127.0.0.1:" +
                           std::to_string(sim.port_a) + "\naddr_b = none\n");
    ASSERT_TRUE(st.ok);
    AI_IED_CTRL *ied = ac_get_srvm_ied(0);
    EXPECT_EQ(ai_get_obj_desc(ied, 0, "?check"), nullptr);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return g_refreshed[0] == 1; }, 30000)) << st.log();
    EXPECT_EQ(ac_get_srvm_ied(0), ied);  // the SCL model stays
    const char *summary = ai_get_obj_desc(ied, 0, "?check");
    ASSERT_NE(summary, nullptr);
    const std::string log = st.log();
    size_t lines = 0;
    for (size_t p = log.find("check CMIED: "); p != std::string::npos; p = log.find("check CMIED: ", p + 1)) ++lines;
    EXPECT_EQ(lines, row.lines.size()) << log;
    for (const std::string &l : row.lines) EXPECT_NE(log.find(l), std::string::npos) << l << "\n" << log;
    if (row.lines.empty())
        EXPECT_STREQ(summary, "CMIED: the device agrees with its SCL");
    else
        EXPECT_EQ(std::string(summary).find("CMIED: " + std::to_string(row.lines.size()) + " differences"), 0u)
            << summary;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CheckAgainstScl,
    ::testing::Values(CheckRow{"Same", false, {}},
                      CheckRow{"ChangedDataSetAndConfRev",
                               true,
                               {"check CMIED: data set CMIEDMON/LLN0$dsTemp has other members: 3 members in the SCL, 2 "
                                "on the device",
                                "check CMIED: control block CMIEDMON/LLN0$BR$brcbTemp01 has ConfRev 7 on the device, 1 "
                                "in the SCL",
                                "check CMIED: control block CMIEDMON/LLN0$BR$brcbTemp02 has ConfRev 7",
                                "check CMIED: control block CMIEDMON/LLN0$BR$brcbTemp03 has ConfRev 7",
                                "check CMIED: control block CMIEDMON/LLN0$BR$brcbTemp04 has ConfRev 7"}}),
    [](const ::testing::TestParamInfo<CheckRow> &i) { return std::string(i.param.name); });

// The export the application makes (through the exported record operations)
// read back gives the same model: references, types, data sets, control
// blocks and their settings.
TEST(DeviceExport, DeviceModelWrittenAsIcdReadsBackTheSame) {
    const TempDir dir("export");
    ::mkdir((dir + "/f").c_str(), 0755);
    Sim sim("CMIED", 0, 0, dir + "/f");
    StationRun st(dir, "[ied CMIED]\nmodel = device\naddr_a = 127.0.0.1:" + std::to_string(sim.port_a) + "\n");
    ASSERT_TRUE(st.ok);
    ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
    ASSERT_TRUE(eventually([] { return g_refreshed[0] == 1; }, 30000)) << st.log();
    AI_IED_CTRL *ied = ac_get_srvm_ied(0);
    const zv::model::RecordOps ops{mvl_type_ctrl_find, ai_read_obj_primVals, ai_cleanup_objVals, ai_obj_id_to_ref};
    zv::model::DeviceDesc desc;
    std::string why;
    ASSERT_TRUE(zv::model::from_records(ied, ops, desc, why)) << why;
    zv::scl::Diagnostics diag(true);
    zv::model::CbLayouts layouts;
    auto doc = zv::model::to_document(desc, "export", layouts, diag);
    const std::string icd = dir + "/CMIED.icd";
    ASSERT_TRUE(zv::scl::write_icd_file(*doc, doc->ieds.front(), icd, why)) << why;
    auto back = zv::model::IedModel::load(icd, "CMIED", diag);
    ASSERT_TRUE(back) << slurp(icd);
    EXPECT_EQ(differences(objects_of(ied), objects_of(*back)), std::vector<std::string>{});
    for (const char *cb :
         {"CMIEDMON/LLN0$BR$brcbTemp01", "CMIEDMON/LLN0$BR$brcbTemp04", "CMIEDMON/LLN0$RP$urcbAlarm02"})
        EXPECT_EQ(settings_of(*back, cb).substr(0, 60), settings_of(ied, cb).substr(0, 60)) << cb;
}

}  // namespace
