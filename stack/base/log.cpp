#include "base/log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include <sys/time.h>

namespace zv::log {

namespace {

std::mutex g_mutex;
std::string g_dir;       // guarded by g_mutex
bool g_enabled = false;  // guarded by g_mutex

std::string day_file(const std::string &dir, const std::tm &t) {
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &t);
    return (dir.empty() ? std::string(".") : dir) + "/zorvan" + day + ".log";
}

}  // namespace

void line(const std::string &text) {
    if (std::getenv("ZORVAN_QUIET") == nullptr) std::fprintf(stderr, "zorvan: %s\n", text.c_str());
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    std::tm t{};
    const time_t secs = tv.tv_sec;
    ::localtime_r(&secs, &t);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &t);
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_enabled) return;
    // Opened and closed per line: the file survives a crash, and a new day
    // starts a new file.
    FILE *f = std::fopen(day_file(g_dir, t).c_str(), "a");
    if (f == nullptr) return;
    std::fprintf(f, "%s.%03d %s\n", stamp, int(tv.tv_usec / 1000), text.c_str());
    std::fclose(f);
}

void to_daily_file(const std::string &dir) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_dir = dir;
    g_enabled = !dir.empty();
}

std::string daily_file_path() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_enabled) return std::string();
    const time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    return day_file(g_dir, t);
}

}  // namespace zv::log
