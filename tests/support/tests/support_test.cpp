// The support library's own pieces that every test area leans on: a child's
// exit status as the tests read it, descriptors handed on at fixed numbers,
// a runaway child killed at the bound, temporary folders that go with their
// owner.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "zvt/child.h"
#include "zvt/files.h"

namespace {

struct ExitRow {
    const char *name;
    const char *script;  // for sh -c
    int wait_ms;
    int want;  // exit status, -signal, -1000: killed at the bound
};
void PrintTo(const ExitRow &r, std::ostream *os) { *os << r.name; }

class ChildExit : public ::testing::TestWithParam<ExitRow> {};

TEST_P(ChildExit, WaitGivesTheStatusTheSignalOrKillsAtTheBound) {
    zvt::Child c;
    ASSERT_TRUE(c.start("/bin/sh", {"-c", GetParam().script}));
    EXPECT_EQ(c.wait(GetParam().wait_ms), GetParam().want);
    EXPECT_FALSE(c.running());
}
INSTANTIATE_TEST_SUITE_P(Rows, ChildExit,
                         ::testing::Values(ExitRow{"Clean", "exit 0", 5000, 0}, ExitRow{"Status", "exit 3", 5000, 3},
                                           ExitRow{"Signal", "kill -TERM $$", 5000, -SIGTERM},
                                           ExitRow{"Runaway", "exec sleep 30", 200, -1000},
                                           ExitRow{"NoProgram", "exec /nonexistent/program", 5000, 127}),
                         [](const auto &i) { return std::string(i.param.name); });

TEST(Child, HandsDescriptorsOnAtTheirNumbersAndTakesItsOutput) {
    auto [r, w] = zvt::make_pipe();
    ASSERT_TRUE(r.valid());
    zvt::Child c;
    zvt::ChildOptions o;
    o.fds = {{w.get(), 5}};
    ASSERT_TRUE(c.start("/bin/sh", {"-c", "echo on-five >&5; echo on-out"}, o));
    w.reset();
    EXPECT_EQ(zvt::read_until(
                  r.get(), [](const std::string &t) { return t.size() >= 8; }, 5000),
              "on-five\n");
    EXPECT_EQ(zvt::read_until(
                  c.out().get(), [](const std::string &t) { return t.size() >= 7; }, 5000),
              "on-out\n");
    EXPECT_EQ(c.wait(), 0);
}

TEST(TempDir, GoesWithItsOwnerAndMovesWithIt) {
    std::string path;
    {
        zvt::TempDir outer;
        {
            zvt::TempDir d("support");
            path = d.path();
            ASSERT_FALSE(path.empty());
            std::ofstream(d.sub("a/b") + "/f") << "x";
            outer = std::move(d);
            EXPECT_TRUE(d.empty());
        }
        EXPECT_EQ(zvt::file_text(outer + "/a/b/f"), "x") << "moved, not removed";
    }
    struct stat st {};
    EXPECT_NE(::stat(path.c_str(), &st), 0) << path << " is still there";
}

}  // namespace
