// fdnotify driven as its parent drives it: a watched pipe, a notice pipe and
// an acknowledgement pipe handed down at fixed descriptor numbers.
#include "child_process.h"

#include <sys/resource.h>

#include <chrono>
#include <thread>

using namespace helpers_test;

namespace {

const std::string kFdnotify = FDNOTIFY_PATH;
constexpr int kWatchedFd = 200, kNoticeFd = 201, kAckFd = 202;
const Bytes kNotice(11, 0);

class Fdnotify : public ::testing::Test {
protected:
    Fd watchedWrite;  // the data source whose readability is watched
    Fd notices;       // read end of the notice pipe
    Fd acks;          // write end of the acknowledgement pipe
    Child child;

    void start(int watchedNumber = kWatchedFd, int fdLimit = 0) {
        auto [wr, ww] = makePipe();
        auto [nr, nw] = makePipe();
        auto [ar, aw] = makePipe();
        child.start(kFdnotify, {std::to_string(watchedNumber), std::to_string(kNoticeFd), std::to_string(kAckFd)},
                    {{wr.get(), watchedNumber}, {nw.get(), kNoticeFd}, {ar.get(), kAckFd}}, fdLimit);
        watchedWrite = std::move(ww);
        notices = std::move(nr);
        acks = std::move(aw);
    }

    void feed(const char *text) { ASSERT_GT(::write(watchedWrite.get(), text, std::strlen(text)), 0); }
    void acknowledge() { ASSERT_EQ(::write(acks.get(), "k", 1), 1); }
    void expectOneNotice() { EXPECT_EQ(readBytes(notices.get(), 11), kNotice); }
    void expectQuiet() { EXPECT_FALSE(readable(notices.get(), kQuietMs)) << "unexpected notice"; }
};

}  // namespace

struct ArgCountCase {
    const char *name;
    std::vector<std::string> args;
};

void PrintTo(const ArgCountCase &c, std::ostream *os) { *os << c.name; }

class FdnotifyCommandLine : public ::testing::TestWithParam<ArgCountCase> {};

TEST_P(FdnotifyCommandLine, WrongArgumentCountIsRefusedWithStatus99) {
    Child child;
    child.start(kFdnotify, GetParam().args, {});
    EXPECT_EQ(readText(child.out().get()), kFdnotify + ": FATAL ERROR: number of arguments (" +
                                               std::to_string(GetParam().args.size()) + ") incorrect.\n");
    EXPECT_EQ(child.wait(), 99);
}

INSTANTIATE_TEST_SUITE_P(, FdnotifyCommandLine,
                         ::testing::Values(ArgCountCase{"None", {}}, ArgCountCase{"Two", {"0", "1"}},
                                           ArgCountCase{"Four", {"0", "1", "2", "3"}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Fdnotify, OneNoticeWithoutAcknowledgementHoweverMuchDataArrives) {
    start();
    expectQuiet();  // nothing to read yet
    // Data arriving at twenty separate moments, 2 ms apart: the spacing is
    // the input under test, not a wait for something.
    constexpr auto kApart = std::chrono::milliseconds(2);
    for (int i = 0; i < 20; ++i) {
        feed("data");
        std::this_thread::sleep_for(kApart);
    }
    expectOneNotice();
    expectQuiet();
}

TEST_F(Fdnotify, EachAcknowledgementLetsExactlyOneMoreNoticeThrough) {
    start();
    feed("x");
    expectOneNotice();
    for (int i = 0; i < 3; ++i) {
        acknowledge();
        expectOneNotice();
        expectQuiet();
    }
}

TEST_F(Fdnotify, EndOfFileCountsAsReadable) {
    start();
    watchedWrite.reset();
    expectOneNotice();
    acknowledge();
    expectOneNotice();
}

TEST_F(Fdnotify, InterruptSignalIsIgnored) {
    start();
    feed("x");
    expectOneNotice();  // past start-up now
    ::kill(child.pid(), SIGINT);
    acknowledge();
    expectOneNotice();
}

// Decision: the parent closing the acknowledgement side ends the watcher
// cleanly instead of leaving it notifying without pause.
TEST_F(Fdnotify, ClosedAcknowledgementSideEndsWatcherWithStatus0) {
    start();
    feed("x");
    expectOneNotice();
    acks.reset();
    EXPECT_EQ(child.wait(), 0);
}

// Decision: an unopened watched descriptor ends the watcher instead of
// spinning on a wait that fails at once.
TEST_F(Fdnotify, UnopenedWatchedDescriptorEndsWatcherWithStatus1) {
    Child c;
    auto [nr, nw] = makePipe();
    c.start(kFdnotify, {"250", std::to_string(kNoticeFd), "0"}, {{nw.get(), kNoticeFd}});
    nw.reset();
    EXPECT_EQ(c.wait(), 1);
    EXPECT_TRUE(readToEnd(nr.get()).empty());
}

// Decision: descriptors beyond select()'s 1024 limit are watched like any other.
TEST_F(Fdnotify, WatchesDescriptorAbove1024) {
    rlimit rl{};
    ::getrlimit(RLIMIT_NOFILE, &rl);
    ASSERT_TRUE(rl.rlim_max == RLIM_INFINITY || rl.rlim_max >= 2048)
        << "descriptor limit " << rl.rlim_max << " too low for descriptor 1500";
    start(1500, 2048);
    expectQuiet();
    feed("x");
    expectOneNotice();
    acknowledge();
    expectOneNotice();
}
