// tarnmon as a process: SIGTERM and SIGINT end it as its exit action does
// (the device sees the association concluded and released), and trace lines
// reach standard output line by line, so a killed process loses none.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "zvt/iedsim.h"

namespace {

std::string text_of(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

class TarnmonProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid()) << dir.errorString().toStdString();
        ASSERT_TRUE(QDir(dir.path()).mkpath("files"));
        sim = std::make_unique<zvt::Sim>("CMIED", 0, 0, dir.filePath("files").toStdString());
        ASSERT_NE(sim->control_port, 0);
        // Beside its working files, as the program is installed in the field.
        QFile lib(QStringLiteral(ZV_LIB_PATH));
        ASSERT_TRUE(lib.copy(dir.filePath("libzorvan_ld.so"))) << lib.errorString().toStdString();
        QFile ini(dir.filePath("station.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly)) << ini.errorString().toStdString();
        ini.write("[station]\nscl = " ZV_SAMPLE_STATION "/sample.scd\n[ied CMIED]\naddr_a = 127.0.0.1:" +
                  QByteArray::number(sim->port_a) + "\naddr_b = 127.0.0.2:" + QByteArray::number(sim->port_b) + "\n");
    }
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // Starts tarnmon headless in the test's folder, standard output to a file.
    void start() {
        const std::string out = dir.filePath("stdout.txt").toStdString();
        const std::string cwd = dir.path().toStdString();
        pid = ::fork();
        if (pid == 0) {
            ::chdir(cwd.c_str());
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("TARNMON_CHECK_PASS_US", "1000", 1);
            ::unsetenv("ZORVAN_STATION");
            ::execl(ZV_TARNMON_EXE, ZV_TARNMON_EXE, (char *)nullptr);
            ::_exit(127);
        }
    }
    // Exit status once the process has ended (-1: not within `ms`).
    int waitExit(int ms) {
        int st = 0;
        const bool ended = zvt::eventually([&] { return ::waitpid(pid, &st, WNOHANG) == pid; }, ms);
        if (!ended) return -1;
        pid = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    bool enabled() { return sim->ask("rcb CMIEDMON/LLN0$BR$brcbTemp01").rfind("OK ena=1", 0) == 0; }

    QTemporaryDir dir;
    std::unique_ptr<zvt::Sim> sim;
    pid_t pid = -1;
};

struct Stop {
    const char *name;
    int sig;
};
void PrintTo(const Stop &s, std::ostream *os) { *os << s.name; }
class OrderlyEnd : public TarnmonProcess, public ::testing::WithParamInterface<Stop> {};

TEST_P(OrderlyEnd, ClosesAsTheExitActionDoes) {
    start();
    ASSERT_TRUE(zvt::eventually([&] { return enabled(); }, 30000)) << text_of(dir.filePath("stdout.txt"));
    ::kill(pid, GetParam().sig);
    EXPECT_EQ(waitExit(30000), 0) << text_of(dir.filePath("stdout.txt"));
    const std::string log = text_of(dir.filePath("CMIED_sim.log"));
    EXPECT_NE(log.find("concluded"), std::string::npos) << log;
    EXPECT_NE(log.find("released by the client"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Signal, OrderlyEnd, ::testing::Values(Stop{"Term", SIGTERM}, Stop{"Int", SIGINT}),
                         [](const auto &i) { return std::string(i.param.name); });

// Written to a file, standard output is not flushed at exit of a killed
// process: only line buffering keeps what was printed.
TEST_F(TarnmonProcess, TraceLinesSurviveAKill) {
    start();
    ASSERT_TRUE(zvt::eventually([&] { return enabled(); }, 30000)) << text_of(dir.filePath("stdout.txt"));
    ::kill(pid, SIGKILL);
    waitExit(10000);
    const std::string out = text_of(dir.filePath("stdout.txt"));
    // Either channel may have come up first; its line is what must be there.
    EXPECT_NE(out.find("srv_id=0  chnl= "), std::string::npos) << out;
}

}  // namespace
