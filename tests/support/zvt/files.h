// Temporary folders and whole files as text.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zvt {

// A new folder below the test framework's temporary folder ("" when it
// cannot be made).
inline std::string temp_dir(const std::string &tag) {
    std::string t = ::testing::TempDir() + "zvclient_" + tag + "_XXXXXX";
    std::vector<char> b(t.begin(), t.end());
    b.push_back('\0');
    const char *d = ::mkdtemp(b.data());
    return d ? d : "";
}

// The whole file ("" when it cannot be read).
inline std::string file_text(const std::string &path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// How often `what` stands in `text` (overlapping matches counted).
inline size_t count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

}  // namespace zvt
