// iedsim: serves one IED of an SCL file over MMS on loopback (see README.md).
#include "server.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_stopFd = -1;

void onSignal(int) {
    const char b = 1;
    if (g_stopFd >= 0) (void)!::write(g_stopFd, &b, 1);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    zv::iedsim::Config cfg;
    std::string why;
    bool help = false;
    if (!zv::iedsim::parseArgs(args, cfg, why, help)) {
        std::fprintf(stderr, "iedsim: %s\n%s", why.c_str(), zv::iedsim::usageText());
        return 2;
    }
    if (help) {
        std::fputs(zv::iedsim::usageText(), stdout);
        return 0;
    }
    std::unique_ptr<zv::iedsim::Server> server = zv::iedsim::Server::create(cfg, why);
    if (!server) {
        std::fprintf(stderr, "iedsim: %s\n", why.c_str());
        return 1;
    }
    g_stopFd = server->stopFd();
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::fputs(server->endpointsText().c_str(), stdout);
    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    const int rc = server->run();
    g_stopFd = -1;
    return rc;
}
