// Time-stamped log lines to a file or standard error.
#pragma once

#include <cstdio>
#include <string>

namespace zv::iedsim {

class Log {
public:
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    // Empty path: standard error. False with errno text when the file cannot be opened.
    bool open(const std::string& path, std::string& why);
    void line(const std::string& text);
    void setVerbose(bool v) { verbose_ = v; }
    bool verbose() const { return verbose_; }
    void debug(const std::string& text) {
        if (verbose_) line(text);
    }

private:
    FILE* f_ = stderr;
    bool own_ = false;
    bool verbose_ = false;
};

}  // namespace zv::iedsim
