// File services of the client stack against iedsim's file store.
#include "sim.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <dirent.h>
#include <set>
#include <random>

using namespace zvt;

namespace {

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return f ? s.str() : std::string("<missing>");
}
bool exists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> g_names;
void dir_done(AC_REQ_CTRL *c) {
    g_names.clear();
    for (int i = 0; i < c->u.getfavCtrl.file_num; ++i) g_names.push_back(c->u.getfavCtrl.file_attrs[i].file_name);
    Done::get().add(c, c->u.getfavCtrl.file_name);
}

class FilesTest : public OneDevice, public ::testing::Test {
protected:
    void SetUp() override {
        make_dir("f");
        // 25 recordings (50 files) listed 7 entries per answer: many pages.
        connect_device("CMIED", {"--recordings", "25", "--dir-page", "7"});
        Done::get().clear();
    }
    int wait_result() {
        if (!eventually([] { return Done::get().size() == 1; }, 60000)) return -2;
        return Done::get().results[0].second;
    }
};

TEST_F(FilesTest, DirectoryFollowsMoreFollowsOverManyAnswers) {
    AC_GETFAV_REQ_INFO r{"COMTRADE", dir_done};
    ASSERT_EQ(ac_get_file_attr(0, &r, 30, nullptr), 0);
    ASSERT_EQ(wait_result(), 0);
    size_t on_disk = 0;
    if (DIR *d = ::opendir((files + "/COMTRADE").c_str())) {
        while (dirent *e = ::readdir(d)) on_disk += e->d_name[0] != '.';
        ::closedir(d);
    }
    EXPECT_EQ(on_disk, 50u);
    EXPECT_EQ(g_names.size(), on_disk);
    std::set<std::string> unique(g_names.begin(), g_names.end());
    EXPECT_EQ(unique.size(), g_names.size());
    EXPECT_EQ(Done::get().notes[0], "COMTRADE");
}

// Regression: an empty directory name was refused at the call, so the file
// dialog's empty path never listed anything.
TEST_F(FilesTest, EmptyDirectoryNameListsTheWholeStore) {
    std::ofstream(files + "/top.txt") << "x";
    AC_GETFAV_REQ_INFO r{"", dir_done};
    ASSERT_EQ(ac_get_file_attr(0, &r, 30, nullptr), 0);
    ASSERT_EQ(wait_result(), 0);
    EXPECT_EQ(g_names.size(), 51u);
    EXPECT_EQ(std::count(g_names.begin(), g_names.end(), "top.txt"), 1);
    EXPECT_EQ(std::count_if(g_names.begin(), g_names.end(),
                            [](const std::string &n) { return n.rfind("COMTRADE/CMIED_", 0) == 0; }),
              50);
    EXPECT_EQ(Done::get().notes[0], "");
}

TEST_F(FilesTest, GetOfAMultiMegabyteFileIsByteIdentical) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 rng(7);
    for (char &c : big) c = char(rng());
    std::ofstream(files + "/big.bin", std::ios::binary) << big;
    const std::string dest = dir + "/big.out";
    AC_GETF_REQ_INFO r{"big.bin", dest.c_str(), done_plain};
    ASSERT_EQ(ac_get_file(0, &r, 300, nullptr), 0);
    ASSERT_EQ(wait_result(), 0);
    EXPECT_TRUE(slurp(dest) == big);
    EXPECT_FALSE(exists(dest + ".part"));
}

TEST_F(FilesTest, FailedGetLeavesNoLocalFile) {
    const std::string dest = dir + "/none.out";
    AC_GETF_REQ_INFO r{"no-such-file.dat", dest.c_str(), done_plain};
    ASSERT_EQ(ac_get_file(0, &r, 30, nullptr), 0);
    EXPECT_EQ(wait_result(), 1);
    EXPECT_FALSE(exists(dest));
    EXPECT_FALSE(exists(dest + ".part"));
}

TEST_F(FilesTest, SetFileIsPulledByTheServerThenDeleted) {
    std::string body(200 * 1024, 'x');
    for (size_t i = 0; i < body.size(); ++i) body[i] = char('a' + i % 26);
    const std::string local = dir + "/up.cfg";
    std::ofstream(local, std::ios::binary) << body;
    AC_SETF_REQ_INFO s{local.c_str(), "up.cfg", done_plain};
    ASSERT_EQ(ac_set_file(0, &s, 300, nullptr), 0);
    ASSERT_EQ(wait_result(), 0);
    EXPECT_TRUE(slurp(files + "/up.cfg") == body);

    Done::get().clear();
    AC_DELF_REQ_INFO d{"up.cfg", done_plain};
    ASSERT_EQ(ac_delete_file(0, &d, 30, nullptr), 0);
    ASSERT_EQ(wait_result(), 0);
    EXPECT_FALSE(exists(files + "/up.cfg"));
}

TEST_F(FilesTest, OverLongOrMissingNamesAreRefusedAtTheCall) {
    const std::string longname(AC_FILE_NAME_LEN, 'n');
    AC_GETFAV_REQ_INFO a{longname.c_str(), dir_done};
    EXPECT_EQ(ac_get_file_attr(0, &a, 30, nullptr), 1);
    AC_GETF_REQ_INFO g{"x", nullptr, done_plain};
    EXPECT_EQ(ac_get_file(0, &g, 30, nullptr), 1);
    AC_DELF_REQ_INFO d{"", done_plain};
    EXPECT_EQ(ac_delete_file(0, &d, 30, nullptr), 1);
}

// ---- devices' file times and names ----------------------------------------------------

struct DeviceRow {
    const char *name;
    std::vector<std::string> options;  // iedsim's
    uint32_t secs;                     // of COMTRADE/rec_1.dat as listed
    uint32_t fraction;
};
void PrintTo(const DeviceRow &r, std::ostream *os) { *os << r.name; }

std::vector<AC_FILE_ATTR> g_attrs;
void attrs_done(AC_REQ_CTRL *c) {
    g_attrs.assign(c->u.getfavCtrl.file_attrs, c->u.getfavCtrl.file_attrs + c->u.getfavCtrl.file_num);
    Done::get().add(c);
}

class DeviceFiles : public OneDevice, public ::testing::TestWithParam<DeviceRow> {
protected:
    void SetUp() override {
        make_dir("dev");
        dir.sub("files/COMTRADE");
        // 2026-12-07 12:34:56.789 UTC; and a name no device may list.
        for (const char *n : {"/COMTRADE/rec_1.dat", "/COMTRADE/ctl\x01_2.dat"}) {
            std::ofstream(files + n) << "samples of " << n;
            const timespec t[2] = {{1796646896, 789000000}, {1796646896, 789000000}};
            ASSERT_EQ(::utimensat(AT_FDCWD, (files + n).c_str(), t, 0), 0);
        }
        std::vector<std::string> options = GetParam().options;
        options.insert(options.end(), {"--recordings", "1"});
        connect_device("CMIED", options);
        Done::get().clear();
    }
    int wait_result() {
        if (!eventually([] { return Done::get().size() == 1; }, 60000)) return -2;
        const int r = Done::get().results[0].second;
        Done::get().clear();
        return r;
    }
};

TEST_P(DeviceFiles, ListingGivesEachTimeFormAndNamesAsTheDeviceWroteThemAndFetchesByThoseBytes) {
    AC_GETFAV_REQ_INFO r{"COMTRADE", attrs_done};
    ASSERT_EQ(ac_get_file_attr(0, &r, 30, nullptr), 0);
    ASSERT_EQ(wait_result(), 0);
    std::vector<std::string> names;
    for (const AC_FILE_ATTR &a : g_attrs) names.push_back(a.file_name);
    // The recording (.cfg, .dat) and rec_1.dat; the name with a control
    // character is left out.
    ASSERT_EQ(names.size(), 3u) << ::testing::PrintToString(names);
    const auto rec = std::find(names.begin(), names.end(), "COMTRADE/rec_1.dat");
    ASSERT_NE(rec, names.end());
    const AC_FILE_ATTR &a = g_attrs[size_t(rec - names.begin())];
    EXPECT_EQ(a.last_modified.secs, GetParam().secs);
    EXPECT_EQ(a.last_modified.fraction, GetParam().fraction);

    // The recording is fetched and deleted by its listed bytes, whatever
    // they are; the local copy gets a name of the test's choosing.
    const std::string listed = names[0].find(".dat") != std::string::npos ? names[0] : names[1];
    const std::string tag = "\xB9\xCA\xD5\xCF\xC2\xBC\xB2\xA8";
    const bool gb = std::find(GetParam().options.begin(), GetParam().options.end(), "--gb18030-names") !=
                    GetParam().options.end();
    EXPECT_EQ(listed.find("COMTRADE/CMIED" + (gb ? tag : std::string()) + "_"), 0u) << listed;
    const std::string local = dir + "/CMIED故障录波.dat";
    AC_GETF_REQ_INFO g{listed.c_str(), local.c_str(), done_plain};
    ASSERT_EQ(ac_get_file(0, &g, 60, nullptr), 0);
    ASSERT_EQ(wait_result(), 0);
    EXPECT_EQ(slurp(local), slurp(files + "/" + listed));
    EXPECT_GT(slurp(local).size(), 1000u);
    AC_DELF_REQ_INFO d{listed.c_str(), done_plain};
    ASSERT_EQ(ac_delete_file(0, &d, 30, nullptr), 0);
    ASSERT_EQ(wait_result(), 0);
    EXPECT_FALSE(exists(files + "/" + listed));
}

// 789 ms as the 24-bit fraction of IEC 61850-8-1: 0.789 * 2^24.
constexpr uint32_t kMs789 = 13237223;
INSTANTIATE_TEST_SUITE_P(
    Devices, DeviceFiles,
    ::testing::Values(DeviceRow{"Millis", {}, 1796646896, 0},
                      DeviceRow{"Fraction", {"--file-times", "fraction"}, 1796646896, kMs789},
                      DeviceRow{"Zulu", {"--file-times", "zulu"}, 1796646896, 0},
                      DeviceRow{"OffsetEast", {"--file-times", "offset"}, 1796646896, 0},
                      DeviceRow{"OffsetWestHalfHour", {"--file-times", "offset-0130"}, 1796646896, 0},
                      DeviceRow{"NoZone", {"--file-times", "nozone"}, 1796646896, 0},
                      DeviceRow{"NoTimes", {"--file-times", "none"}, 0, 0},
                      DeviceRow{"Gb18030Names", {"--gb18030-names", "--file-times", "fraction"}, 1796646896, kMs789},
                      DeviceRow{"Gb18030NamesNoTimes", {"--gb18030-names", "--file-times", "none"}, 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
