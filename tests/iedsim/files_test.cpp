// The file store and the MMS file services of iedsim: names, listings with
// continue-after, reading, deleting, recordings and ObtainFile.
#include "fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

namespace zv::iedsim::test {
namespace {

struct NameRow {
    const char* name;
    std::vector<std::string> parts;
    std::optional<std::string> expected;
};
class FileNames : public ::testing::TestWithParam<NameRow> {};

TEST_P(FileNames, RelativePathAcceptsPlainNamesAndRefusesEscapes) {
    EXPECT_EQ(FileStore::relativePath(GetParam().parts), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Rows, FileNames,
                         ::testing::Values(NameRow{"Bare", {"a.cfg"}, "a.cfg"},
                                           NameRow{"Folder", {"COMTRADE/a.dat"}, "COMTRADE/a.dat"},
                                           NameRow{"LeadingSlash", {"/COMTRADE/a.dat"}, "COMTRADE/a.dat"},
                                           NameRow{"TwoParts", {"COMTRADE", "a.dat"}, "COMTRADE/a.dat"},
                                           NameRow{"Parent", {"../etc/passwd"}, std::nullopt},
                                           NameRow{"ParentInside", {"COMTRADE/../../x"}, std::nullopt},
                                           NameRow{"Dot", {"./a"}, std::nullopt}, NameRow{"Empty", {""}, std::nullopt},
                                           NameRow{"OnlySlash", {"/"}, std::nullopt},
                                           NameRow{"DoubleSlash", {"a//b"}, std::nullopt},
                                           NameRow{"ControlCharacter", {"a\nb"}, std::nullopt},
                                           NameRow{"Longest", {std::string(255, 'n')}, std::string(255, 'n')},
                                           NameRow{"TooLong", {std::string(256, 'n')}, std::nullopt}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(Recordings, ARecordingIsAComtradePairNamedByDeviceAndTime) {
    const zvt::TempDir dir("rec");
    FileStore fs;
    std::string why;
    ASSERT_TRUE(fs.open(dir, why)) << why;
    std::vector<std::string> names;
    // 2026-12-07 08:15:00.123 UTC
    ASSERT_TRUE(fs.addRecording("COMTRADE", "CMIED", "CMIED", 1796631300123LL, 1, names, why)) << why;
    EXPECT_EQ(names, (std::vector<std::string>{"COMTRADE/CMIED_20261207081500123.cfg",
                                               "COMTRADE/CMIED_20261207081500123.dat"}));
    const std::string cfg = zvt::file_text(dir + "/" + names[0]);
    EXPECT_EQ(cfg.rfind("CMIED,1,1999\r\n4,3A,1D\r\n", 0), 0u) << cfg;
    EXPECT_NE(cfg.find("07/12/2026,08:15:00.103000\r\n07/12/2026,08:15:00.123000\r\nASCII\r\n"), std::string::npos)
        << cfg;
    const std::string dat = zvt::file_text(dir + "/" + names[1]);
    EXPECT_EQ(std::count(dat.begin(), dat.end(), '\n'), 200);
    EXPECT_EQ(dat.rfind("1,0,", 0), 0u);
    FileEntry fe;
    ASSERT_TRUE(fs.stat(names[1], fe));
    EXPECT_EQ(fe.mtime, 1796631300);
    // A second recording in the same millisecond gets the next one.
    ASSERT_TRUE(fs.addRecording("COMTRADE", "CMIED", "CMIED", 1796631300123LL, 2, names, why));
    EXPECT_EQ(names[0], "COMTRADE/CMIED_20261207081500124.cfg");
}

struct PartsRow {
    const char* name;
    const char* text;
    std::vector<std::string> parts;  // empty: refused
};
class RecordParts : public ::testing::TestWithParam<PartsRow> {};

// A recording of the parts asked for writes exactly those files, the
// extensions as given; lists without the data file, with a part twice or
// with unknown parts are refused.
TEST_P(RecordParts, WritesTheFilesNamedAndRefusesOthers) {
    std::vector<std::string> parts;
    std::string why;
    const bool ok = parseRecordParts(GetParam().text, parts, why);
    ASSERT_EQ(ok, !GetParam().parts.empty()) << why;
    if (!ok) {
        EXPECT_FALSE(why.empty());
        return;
    }
    EXPECT_EQ(parts, GetParam().parts);
    const zvt::TempDir dir("parts");
    FileStore fs;
    ASSERT_TRUE(fs.open(dir, why)) << why;
    std::vector<std::string> names;
    ASSERT_TRUE(fs.addRecording("COMTRADE", "CMIED", "CMIED", 1796631300123LL, 1, names, why, parts)) << why;
    std::vector<FileEntry> listed;
    ASSERT_TRUE(fs.list("COMTRADE", listed));
    ASSERT_EQ(names.size(), parts.size());
    ASSERT_EQ(listed.size(), parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(names[i], "COMTRADE/CMIED_20261207081500123." + parts[i]);
        EXPECT_FALSE(zvt::file_text(dir + "/" + names[i]).empty()) << names[i];
    }
}
INSTANTIATE_TEST_SUITE_P(Rows, RecordParts,
                         ::testing::Values(PartsRow{"Pair", "cfg,dat", {"cfg", "dat"}},
                                           PartsRow{"WithHeaderUpperCase", "DAT,CFG,HDR", {"DAT", "CFG", "HDR"}},
                                           PartsRow{"WithoutConfiguration", "dat,hdr,inf", {"dat", "hdr", "inf"}},
                                           PartsRow{"DataAlone", "dat", {"dat"}}, PartsRow{"NoData", "cfg,hdr", {}},
                                           PartsRow{"Twice", "dat,cfg,CFG", {}}, PartsRow{"Unknown", "dat,txt", {}},
                                           PartsRow{"MixedCase", "dat,Cfg", {}}, PartsRow{"EmptyPart", "dat,", {}}),
                         [](const auto& i) { return std::string(i.param.name); });

class Files : public ::testing::Test {
protected:
    SimServer sim{[](Config& c) { c.initialRecordings = 2; }};
    TestClient client;
    void SetUp() override { ASSERT_TRUE(client.associate(sim.host(), sim.port())); }
    std::vector<mms::DirectoryEntry> list(std::optional<std::string> folder, bool* more = nullptr,
                                          std::optional<std::string> after = std::nullopt) {
        mms::FileDirectoryRequest r;
        if (folder) r.fileSpec = mms::FileName{*folder};
        if (after) r.continueAfter = mms::FileName{*after};
        auto* d = responseOf<mms::FileDirectoryResponse>(client.call(r));
        if (!d) return {};
        if (more) *more = d->moreFollows;
        return d->entries;
    }
};

TEST_F(Files, DirectoryListsRecordingsWithSizesAndTimes) {
    auto all = list(std::nullopt);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].name[0].rfind("COMTRADE/CMIED_", 0), 0u);
    EXPECT_EQ(all[0].name[0].substr(all[0].name[0].size() - 4), ".cfg");
    for (auto& e : all) {
        EXPECT_GT(e.attributes.sizeOfFile, 0u);
        ASSERT_TRUE(e.attributes.lastModified);
        EXPECT_EQ(e.attributes.lastModified->size(), 19u);  // YYYYMMDDhhmmss.000Z
    }
    // The folder as the recorder asks for it: names keep that form.
    auto slash = list(std::string("/COMTRADE"));
    ASSERT_EQ(slash.size(), 4u);
    EXPECT_EQ(slash[0].name[0].rfind("/COMTRADE/CMIED_", 0), 0u);
    auto pattern = list(std::string("COMTRADE/*.dat"));
    ASSERT_EQ(pattern.size(), 2u);
    EXPECT_EQ(pattern[1].name[0].substr(pattern[1].name[0].size() - 4), ".dat");
}

TEST_F(Files, DirectoryOfAMissingFolderIsFileNonExistent) {
    auto* e = errorOf(client.call(mms::FileDirectoryRequest{mms::FileName{"NOPE"}, std::nullopt}));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->error.errorClass, mms::kFile);
    EXPECT_EQ(e->error.code, 7);
}

TEST(FilesPaged, ContinueAfterWalksAPagedDirectory) {
    SimServer sim([](Config& c) {
        c.initialRecordings = 3;
        c.dirPage = 2;
    });
    TestClient client;
    ASSERT_TRUE(client.associate(sim.host(), sim.port()));
    std::vector<std::string> names;
    std::optional<mms::FileName> after;
    for (int k = 0; k < 10; ++k) {
        auto* d = responseOf<mms::FileDirectoryResponse>(client.call(mms::FileDirectoryRequest{std::nullopt, after}));
        ASSERT_NE(d, nullptr);
        ASSERT_LE(d->entries.size(), 2u);
        for (auto& e : d->entries) names.push_back(e.name[0]);
        if (!d->moreFollows) break;
        after = d->entries.back().name;
    }
    ASSERT_EQ(names.size(), 6u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 6u);
}

TEST(FilesSmallPdu, FileReadReturnsTheFileInPiecesUntilMoreFollowsIsFalse) {
    SimServer sim([](Config& c) { c.initialRecordings = 1; });
    TestClient client(512);
    ASSERT_TRUE(client.associate(sim.host(), sim.port()));
    auto* dir = responseOf<mms::FileDirectoryResponse>(
        client.call(mms::FileDirectoryRequest{mms::FileName{"COMTRADE/*.dat"}, {}}));
    ASSERT_NE(dir, nullptr);
    ASSERT_EQ(dir->entries.size(), 1u);
    const std::string name = dir->entries[0].name[0];
    auto* open = responseOf<mms::FileOpenResponse>(client.call(mms::FileOpenRequest{{name}, 0}));
    ASSERT_NE(open, nullptr);
    const int32_t frsm = open->frsmId;
    const uint32_t size = open->attributes.sizeOfFile;
    std::string got;
    int reads = 0;
    for (; reads < 1000; ++reads) {
        auto* r = responseOf<mms::FileReadResponse>(client.call(mms::FileReadRequest{frsm}));
        ASSERT_NE(r, nullptr);
        got.append(r->data.begin(), r->data.end());
        if (!r->moreFollows) break;
    }
    EXPECT_GT(reads, 5);
    EXPECT_EQ(got.size(), size);
    EXPECT_EQ(got, zvt::file_text(sim.dir + "/" + name));
    EXPECT_NE(responseOf<mms::FileCloseResponse>(client.call(mms::FileCloseRequest{frsm})), nullptr);
    auto* e = errorOf(client.call(mms::FileReadRequest{frsm}));  // closed
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->error.errorClass, mms::kFile);
}

// ---- devices' file times and character sets ----------------------------------------

struct TimeRow {
    const char* name;
    const char* option;  // --file-times
    const char* suffix;  // what follows YYYYMMDDhhmmss ("" also for none)
    bool present;
};
class FileTimeForms : public ::testing::TestWithParam<TimeRow> {};

TEST_P(FileTimeForms, DirectoryAndOpenWriteTheModificationTimeInTheDevicesForm) {
    const TimeRow& r = GetParam();
    FileTimes how;
    ASSERT_TRUE(parseFileTimes(r.option, how));
    SimServer sim([&](Config& c) { c.fileTimes = how; });
    // 2026-12-07 12:34:56.789 UTC
    const std::string path = sim.dir + "/COMTRADE/rec_1.dat";
    ::mkdir((sim.dir + "/COMTRADE").c_str(), 0755);
    std::ofstream(path) << "x";
    const timespec t[2] = {{1796646896, 789000000}, {1796646896, 789000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
    TestClient client;
    ASSERT_TRUE(client.associate(sim.host(), sim.port()));

    auto* d = responseOf<mms::FileDirectoryResponse>(
        client.call(mms::FileDirectoryRequest{mms::FileName{"COMTRADE"}, {}}));
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->entries.size(), 1u);
    const mms::DirectoryEntry entry = d->entries[0];  // the next call replaces the answer
    auto* o = responseOf<mms::FileOpenResponse>(client.call(mms::FileOpenRequest{entry.name, 0}));
    ASSERT_NE(o, nullptr);
    for (const auto& listed : {entry.attributes.lastModified, o->attributes.lastModified}) {
        ASSERT_EQ(listed.has_value(), r.present);
        if (!r.present) continue;
        const std::string digits = std::string(r.option).rfind("offset", 0) == 0 ? "" : "20261207123456";
        EXPECT_EQ(listed->substr(14), r.suffix) << *listed;
        if (!digits.empty()) {
            EXPECT_EQ(listed->substr(0, 14), digits);
        }
        auto back = mms::decodeGeneralizedTime(*listed);
        ASSERT_TRUE(back.ok()) << back.error().reason;
        EXPECT_EQ(back->seconds, 1796646896) << *listed;
    }
}
INSTANTIATE_TEST_SUITE_P(Rows, FileTimeForms,
                         ::testing::Values(TimeRow{"Millis", "millis", ".000Z", true},
                                           TimeRow{"Fraction", "fraction", ".789Z", true},
                                           TimeRow{"Zulu", "zulu", "Z", true},
                                           TimeRow{"OffsetEast", "offset", "+0800", true},
                                           TimeRow{"OffsetWestHalfHour", "offset-0130", "-0130", true},
                                           TimeRow{"NoZone", "nozone", "", true}, TimeRow{"None", "none", "", false}),
                         [](const auto& i) { return std::string(i.param.name); });

struct OpenRow {
    const char* name;
    std::string file;
    uint32_t position;
    int32_t code;
};
class FileOpenErrors : public Files, public ::testing::WithParamInterface<OpenRow> {};

TEST_P(FileOpenErrors, FileOpenRefusesWithTheFileErrorCode) {
    auto* e = errorOf(client.call(mms::FileOpenRequest{{GetParam().file}, GetParam().position}));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->error.errorClass, mms::kFile);
    EXPECT_EQ(e->error.code, GetParam().code);
}
INSTANTIATE_TEST_SUITE_P(Rows, FileOpenErrors,
                         ::testing::Values(OpenRow{"Missing", "COMTRADE/none.dat", 0, 7},
                                           OpenRow{"Escape", "../x", 0, 3}, OpenRow{"Folder", "COMTRADE", 0, 7}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(Files, FileDeleteRemovesAFileButNotAnOpenOne) {
    auto all = list(std::nullopt);
    ASSERT_EQ(all.size(), 4u);
    auto* open = responseOf<mms::FileOpenResponse>(client.call(mms::FileOpenRequest{all[0].name, 0}));
    ASSERT_NE(open, nullptr);
    auto* busy = errorOf(client.call(mms::FileDeleteRequest{all[0].name}));
    ASSERT_NE(busy, nullptr);
    EXPECT_EQ(busy->error.code, 2);  // file-busy
    EXPECT_NE(responseOf<mms::FileDeleteResponse>(client.call(mms::FileDeleteRequest{all[1].name})), nullptr);
    EXPECT_EQ(list(std::nullopt).size(), 3u);
    auto* gone = errorOf(client.call(mms::FileDeleteRequest{all[1].name}));
    ASSERT_NE(gone, nullptr);
    EXPECT_EQ(gone->error.code, 7);
}

TEST_F(Files, RecordCommandAddsARecordingToTheListing) {
    const std::string ans = sim.ask("record");
    ASSERT_EQ(ans.rfind("OK COMTRADE/CMIED_", 0), 0u) << ans;
    EXPECT_EQ(list(std::string("COMTRADE")).size(), 6u);
}

TEST_F(Files, ObtainFilePullsTheFileFromTheClient) {
    std::vector<uint8_t> body(1000);
    for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i * 7);
    client.files["upload.bin"] = body;
    client.readChunk = 300;
    auto& p = client.call(mms::ObtainFileRequest{{"upload.bin"}, {"in/upload.bin"}});
    ASSERT_NE(responseOf<mms::ObtainFileResponse>(p), nullptr);
    EXPECT_EQ(client.served,
              (std::vector<std::string>{"open upload.bin", "read 7", "read 7", "read 7", "read 7", "close 7"}));
    const std::string stored = zvt::file_text(sim.dir + "/in/upload.bin");
    EXPECT_EQ(std::vector<uint8_t>(stored.begin(), stored.end()), body);
    // The destination exists now.
    auto* dup = errorOf(client.call(mms::ObtainFileRequest{{"upload.bin"}, {"in/upload.bin"}}));
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(dup->error.code, 8);  // duplicate-filename
}

TEST_F(Files, ObtainFileReportsTheClientsRefusal) {
    auto* e = errorOf(client.call(mms::ObtainFileRequest{{"absent.txt"}, {"absent.txt"}}));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->error.errorClass, mms::kFile);
    EXPECT_EQ(e->error.code, 7);
    EXPECT_NE(::access((sim.dir + "/absent.txt").c_str(), F_OK), 0);
    auto* bad = errorOf(client.call(mms::ObtainFileRequest{{"x"}, {"../escape"}}));
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->error.code, 3);
}

}  // namespace
}  // namespace zv::iedsim::test
