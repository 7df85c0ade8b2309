// Temporary folders and whole files as text. No test framework inside, so
// the benchmarks use it too.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace zvt {

// A new folder below the temporary folder (TEST_TMPDIR, TMPDIR or /tmp, as
// the test framework takes it; "" when it cannot be made).
inline std::string temp_dir(const std::string &tag) {
    const char *root = std::getenv("TEST_TMPDIR");
    if (!root || !*root) root = std::getenv("TMPDIR");
    std::string t = root && *root ? root : "/tmp";
    if (t.back() != '/') t += '/';
    t += "zvtest_" + tag + "_XXXXXX";
    std::vector<char> b(t.begin(), t.end());
    b.push_back('\0');
    const char *d = ::mkdtemp(b.data());
    return d ? d : "";
}

// A new folder of the test's own, removed with everything in it when the
// object goes. Stands for its path ("" when it could not be made).
class TempDir {
public:
    TempDir() = default;
    explicit TempDir(const std::string &tag) : path_(temp_dir(tag)) {}
    TempDir(TempDir &&o) noexcept : path_(std::exchange(o.path_, std::string())) {}
    TempDir &operator=(TempDir &&o) noexcept {
        if (this != &o) {
            remove();
            path_ = std::exchange(o.path_, std::string());
        }
        return *this;
    }
    ~TempDir() { remove(); }

    const std::string &path() const { return path_; }
    operator const std::string &() const { return path_; }
    const char *c_str() const { return path_.c_str(); }
    bool empty() const { return path_.empty(); }
    std::string operator+(const std::string &s) const { return path_ + s; }
    friend std::string operator+(const std::string &s, const TempDir &d) { return s + d.path_; }
    friend std::string operator+(const char *s, const TempDir &d) { return s + d.path_; }
    friend std::ostream &operator<<(std::ostream &o, const TempDir &d) { return o << d.path_; }

    // A folder below it, made now; its path.
    std::string sub(const std::string &name) const {
        std::error_code ec;
        std::filesystem::create_directories(path_ + "/" + name, ec);
        return path_ + "/" + name;
    }
    void remove() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
        path_.clear();
    }

private:
    std::string path_;
};

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
