// iedsim's descriptors (listeners, connections and the files they have open,
// control clients, the wake-up pipe) are closed when their owner goes, while
// it serves and when it ends. The server runs in this process, so its
// descriptors are counted in /proc/self/fd.
#include "fixture.h"

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>

namespace zv::iedsim::test {
namespace {

size_t openDescriptors() {
    DIR* d = ::opendir("/proc/self/fd");
    if (!d) return 0;
    size_t n = 0;
    while (const dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    return n - 1;  // the listing's own
}

// True once `pred` holds; false when it still does not after `ms`.
template <class Pred>
bool waitUntil(Pred pred, int ms = 5000) {
    const int64_t end = monoMs() + ms;
    for (;;) {
        if (pred()) return true;
        if (monoMs() >= end) return false;
        pollfd none{-1, 0, 0};
        ::poll(&none, 0, 10);
    }
}

std::string firstRecording(TestClient& client) {
    auto* d = responseOf<mms::FileDirectoryResponse>(
        client.call(mms::FileDirectoryRequest{mms::FileName{"COMTRADE/*.dat"}, {}}));
    return d && !d->entries.empty() ? d->entries[0].name[0] : std::string();
}

TEST(Descriptors, EveryDescriptorIsClosedWithItsOwnerWhileServingAndAtTheEnd) {
    const size_t before = openDescriptors();
    auto sim = std::make_unique<SimServer>([](Config& c) { c.initialRecordings = 1; });
    ASSERT_TRUE(sim->server);
    ASSERT_EQ(sim->ask("ping"), "OK pong");  // the fixture's control line is taken
    const size_t serving = openDescriptors();

    // A client that goes away with two files open, one that closes its file.
    {
        TestClient a, b;
        ASSERT_TRUE(a.associate(sim->host(0), sim->port(0)));
        ASSERT_TRUE(b.associate(sim->host(1), sim->port(1)));
        const std::string name = firstRecording(a);
        ASSERT_FALSE(name.empty());
        for (int k = 0; k < 2; ++k)
            ASSERT_NE(responseOf<mms::FileOpenResponse>(a.call(mms::FileOpenRequest{{name}, 0})), nullptr);
        auto* o = responseOf<mms::FileOpenResponse>(b.call(mms::FileOpenRequest{{name}, 0}));
        ASSERT_NE(o, nullptr);
        ASSERT_NE(responseOf<mms::FileCloseResponse>(b.call(mms::FileCloseRequest{o->frsmId})), nullptr);
    }
    // Control clients beyond the 16 taken are turned away.
    {
        std::vector<std::unique_ptr<ControlLine>> lines;
        for (int k = 0; k < 20; ++k) lines.push_back(std::make_unique<ControlLine>(sim->server->controlAddress()));
        int answered = 0, closed = 0;
        for (auto& l : lines) {
            const std::string a = l->ask("ping");
            answered += a == "OK pong";
            closed += a == "<closed>";
        }
        EXPECT_EQ(answered, 15);  // the fixture's own line is the 16th
        EXPECT_EQ(closed, 5);
    }
    // A listener closed and opened again.
    EXPECT_EQ(sim->ask("refuse A"), "OK");
    EXPECT_EQ(sim->ask("accept A"), "OK");
    {
        TestClient again;
        EXPECT_TRUE(again.associate(sim->host(0), sim->port(0)));
    }
    EXPECT_TRUE(waitUntil([&] { return openDescriptors() == serving; }))
        << openDescriptors() << " descriptors open, " << serving << " while serving before the clients came";

    // Stopped with a connection that still has a file open.
    auto last = std::make_unique<TestClient>();
    ASSERT_TRUE(last->associate(sim->host(0), sim->port(0)));
    ASSERT_NE(responseOf<mms::FileOpenResponse>(last->call(mms::FileOpenRequest{{firstRecording(*last)}, 0})), nullptr);
    sim.reset();
    last.reset();
    EXPECT_EQ(openDescriptors(), before);
}

TEST(Descriptors, PortFileThatCannotBeWrittenStopsTheStart) {
    const zvt::TempDir tmp("portfile");
    const std::string dir = tmp.path();
    ASSERT_EQ(::mkdir((dir + "/ports").c_str(), 0755), 0);  // a folder where the file should go
    Config cfg;
    cfg.scl = std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd";
    cfg.ied = "CMIED";
    cfg.listen = {Endpoint{"127.0.0.1", 0}};
    cfg.files = dir + "/files";
    cfg.logFile = dir + "/log";
    cfg.portFile = dir + "/ports";
    const size_t before = openDescriptors();
    std::string why;
    EXPECT_EQ(Server::create(cfg, why), nullptr);
    EXPECT_NE(why.find("cannot write port file '" + cfg.portFile + "'"), std::string::npos) << why;
    EXPECT_NE(::access((cfg.portFile + ".tmp").c_str(), F_OK), 0);  // nothing half-written stays
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace zv::iedsim::test
