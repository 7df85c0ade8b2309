// The stack's diagnostics: every reason the stack has for a failure, one line
// each, to standard error (unless ZORVAN_QUIET is set) and, once enabled, to
// a daily file "zorvan<yyyy-mm-dd>.log" in a folder (the library enables it
// in the working directory when it starts). Any thread.
#pragma once

#include <string>

namespace zv::log {

void line(const std::string &text);

// Lines from now on also go to the day's file in `dir` (empty: stop).
void to_daily_file(const std::string &dir);

// Path of today's file ("" when none is enabled).
std::string daily_file_path();

}  // namespace zv::log
