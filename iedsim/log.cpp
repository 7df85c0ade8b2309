#include "log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace zv::iedsim {

Log::~Log() {
    if (own_ && f_) std::fclose(f_);
}

bool Log::open(const std::string& path, std::string& why) {
    if (path.empty()) return true;
    FILE* f = std::fopen(path.c_str(), "a");
    if (!f) {
        why = "cannot open log file '" + path + "': " + std::strerror(errno);
        return false;
    }
    f_ = f;
    own_ = true;
    return true;
}

void Log::line(const std::string& text) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t;
    gmtime_r(&ts.tv_sec, &t);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec, int(ts.tv_nsec / 1000000));
    std::fprintf(f_, "%s %s\n", stamp, text.c_str());
    std::fflush(f_);
}

}  // namespace zv::iedsim
