#include "files.h"

#include "base/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

namespace zv::iedsim {

namespace {

constexpr int kMaxDepth = 8;  // folder nesting walked by a full listing

bool mkdirs(const std::string& path) {
    std::string cur;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        if (next == std::string::npos) next = path.size();
        cur = path.substr(0, next);
        if (!cur.empty() && ::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
        pos = next + 1;
    }
    return true;
}

void walk(const std::string& root, const std::string& rel, int depth, std::vector<FileEntry>& out) {
    if (depth > kMaxDepth) return;
    const std::string dir = rel.empty() ? root : root + "/" + rel;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == ".." || n.empty() || n[0] == '.') continue;
        const std::string r = rel.empty() ? n : rel + "/" + n;
        struct stat st;
        if (::stat((root + "/" + r).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            walk(root, r, depth + 1, out);
        else if (S_ISREG(st.st_mode) && r.size() <= kMaxFileName)
            out.push_back(FileEntry{r, uint64_t(st.st_size), int64_t(st.st_mtime), uint32_t(st.st_mtim.tv_nsec)});
    }
    ::closedir(d);
}

std::string twoDigits(int v) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

}  // namespace

std::string generalizedTime(int64_t secs) {
    time_t t = time_t(secs);
    tm u;
    gmtime_r(&t, &u);
    char b[80];
    std::snprintf(b, sizeof b, "%04d%02d%02d%02d%02d%02d.000Z", u.tm_year + 1900, u.tm_mon + 1, u.tm_mday, u.tm_hour,
                  u.tm_min, u.tm_sec);
    return b;
}

bool parseFileTimes(const std::string& text, FileTimes& out) {
    static const std::pair<const char*, FileTimes::Form> kForms[] = {
        {"millis", FileTimes::Millis}, {"fraction", FileTimes::Fraction}, {"zulu", FileTimes::Zulu},
        {"offset", FileTimes::Offset}, {"nozone", FileTimes::NoZone},     {"none", FileTimes::None}};
    for (const auto& [name, form] : kForms) {
        if (text == name) {
            out = FileTimes{form, 8 * 60};
            return true;
        }
    }
    // offset+HHMM / offset-HHMM
    if (text.size() != 11 || text.compare(0, 6, "offset") != 0 || (text[6] != '+' && text[6] != '-')) return false;
    for (size_t i = 7; i < 11; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    const int h = (text[7] - '0') * 10 + (text[8] - '0'), m = (text[9] - '0') * 10 + (text[10] - '0');
    if (h > 23 || m > 59) return false;
    out = FileTimes{FileTimes::Offset, (text[6] == '-' ? -1 : 1) * (h * 60 + m)};
    return true;
}

std::optional<std::string> fileTimeText(const FileEntry& e, const FileTimes& how) {
    if (how.form == FileTimes::None) return std::nullopt;
    if (how.form == FileTimes::Millis) return generalizedTime(e.mtime);
    const int offset = how.form == FileTimes::Offset ? how.offsetMinutes : 0;
    time_t t = time_t(e.mtime + int64_t(offset) * 60);
    tm u;
    gmtime_r(&t, &u);
    char b[80];
    int n = std::snprintf(b, sizeof b, "%04d%02d%02d%02d%02d%02d", u.tm_year + 1900, u.tm_mon + 1, u.tm_mday, u.tm_hour,
                          u.tm_min, u.tm_sec);
    switch (how.form) {
    case FileTimes::Fraction:
        std::snprintf(b + n, sizeof b - size_t(n), ".%03uZ", unsigned(e.mtimeNs / 1000000));
        break;
    case FileTimes::Zulu: std::snprintf(b + n, sizeof b - size_t(n), "Z"); break;
    case FileTimes::Offset:
        std::snprintf(b + n, sizeof b - size_t(n), "%c%02d%02d", offset < 0 ? '-' : '+', std::abs(offset) / 60,
                      std::abs(offset) % 60);
        break;
    default: break;
    }
    return std::string(b);
}

bool FileStore::open(const std::string& root, std::string& why) {
    std::string r = root.empty() ? "." : root;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    if (!mkdirs(r)) {
        why = "cannot create file store '" + r + "': " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::stat(r.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = "file store '" + r + "' is not a folder";
        return false;
    }
    root_ = r;
    return true;
}

std::optional<std::string> FileStore::relativePath(const std::vector<std::string>& name) {
    std::string joined;
    for (const std::string& part : name) {
        if (!joined.empty() && joined.back() != '/' && !part.empty() && part.front() != '/') joined += '/';
        joined += part;
    }
    while (!joined.empty() && joined.front() == '/') joined.erase(joined.begin());
    while (!joined.empty() && joined.back() == '/') joined.pop_back();
    if (joined.empty() || joined.size() > kMaxFileName) return std::nullopt;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t slash = joined.find('/', start);
        if (slash == std::string::npos) slash = joined.size();
        const std::string comp = joined.substr(start, slash - start);
        if (comp.empty() || comp == "." || comp == "..") return std::nullopt;
        start = slash + 1;
    }
    for (unsigned char c : joined)
        if (c < 0x20 || c == 0x7F || c == '\\') return std::nullopt;
    return joined;
}

bool FileStore::stat(const std::string& rel, FileEntry& out) const {
    struct stat st;
    if (::stat(fullPath(rel).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    out = FileEntry{rel, uint64_t(st.st_size), int64_t(st.st_mtime), uint32_t(st.st_mtim.tv_nsec)};
    return true;
}

bool FileStore::list(const std::string& what, std::vector<FileEntry>& out) const {
    std::string s = what;
    while (!s.empty() && s.back() == '/') s.pop_back();
    std::string prefix = s;  // listed names keep the form the client used
    while (!s.empty() && s.front() == '/') s.erase(s.begin());
    if (s.empty()) {
        walk(root_, "", 0, out);
        std::sort(out.begin(), out.end(), [](const FileEntry& a, const FileEntry& b) { return a.name < b.name; });
        return true;
    }
    auto rel = relativePath({s.find_first_of("*?") == std::string::npos ? s : std::string("x")});
    const size_t lastSlash = s.rfind('/');
    const std::string last = lastSlash == std::string::npos ? s : s.substr(lastSlash + 1);
    if (last.find_first_of("*?") != std::string::npos) {
        const std::string folder = lastSlash == std::string::npos ? std::string() : s.substr(0, lastSlash);
        if (!folder.empty() && !relativePath({folder})) return false;
        const std::string shown = prefix.substr(0, prefix.size() - last.size());
        DIR* d = ::opendir((folder.empty() ? root_ : fullPath(folder)).c_str());
        if (!d) return false;
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.' || fnmatch(last.c_str(), e->d_name, 0) != 0) continue;
            FileEntry fe;
            if (!stat(folder.empty() ? e->d_name : folder + "/" + e->d_name, fe)) continue;
            fe.name = shown + e->d_name;
            if (fe.name.size() <= kMaxFileName) out.push_back(fe);
        }
        ::closedir(d);
        std::sort(out.begin(), out.end(), [](const FileEntry& a, const FileEntry& b) { return a.name < b.name; });
        return true;
    }
    if (!rel) return false;
    struct stat st;
    if (::stat(fullPath(*rel).c_str(), &st) != 0) return false;
    if (S_ISREG(st.st_mode)) {
        out.push_back(FileEntry{prefix, uint64_t(st.st_size), int64_t(st.st_mtime)});
        return true;
    }
    if (!S_ISDIR(st.st_mode)) return false;
    DIR* d = ::opendir(fullPath(*rel).c_str());
    if (!d) return false;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        FileEntry fe;
        if (!stat(*rel + "/" + e->d_name, fe)) continue;
        fe.name = prefix + "/" + e->d_name;
        if (fe.name.size() <= kMaxFileName) out.push_back(fe);
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(), [](const FileEntry& a, const FileEntry& b) { return a.name < b.name; });
    return true;
}

bool FileStore::remove(const std::string& rel) const {
    FileEntry fe;
    if (!stat(rel, fe)) {
        errno = ENOENT;
        return false;
    }
    return ::unlink(fullPath(rel).c_str()) == 0;
}

bool FileStore::write(const std::string& rel, const std::vector<uint8_t>& data, std::string& why) const {
    const size_t slash = rel.rfind('/');
    if (slash != std::string::npos && !mkdirs(fullPath(rel.substr(0, slash)))) {
        why = std::string("cannot create folder: ") + std::strerror(errno);
        return false;
    }
    const std::string tmp = fullPath(rel) + ".part";
    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd) {
        why = "cannot create '" + rel + "': " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = "cannot write '" + rel + "': " + std::strerror(errno);
            fd.reset();
            ::unlink(tmp.c_str());
            return false;
        }
        done += size_t(n);
    }
    fd.reset();
    if (::rename(tmp.c_str(), fullPath(rel).c_str()) != 0) {
        why = "cannot rename to '" + rel + "': " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool parseRecordParts(const std::string& text, std::vector<std::string>& parts, std::string& why) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string part = text.substr(start, comma - start);
        std::string lower = part;
        for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        const bool oneCase = part == lower || std::all_of(part.begin(), part.end(), [](char ch) {
                                 return std::isupper(static_cast<unsigned char>(ch)) != 0;
                             });
        if ((lower != "cfg" && lower != "dat" && lower != "hdr" && lower != "inf") || !oneCase) {
            why = "'" + part + "' is not cfg, dat, hdr or inf (in lower or upper case)";
            return false;
        }
        for (const std::string& had : out) {
            if (strcasecmp(had.c_str(), part.c_str()) == 0) {
                why = "'" + part + "' is named twice";
                return false;
            }
        }
        out.push_back(part);
        start = comma + 1;
    }
    if (std::none_of(out.begin(), out.end(), [](const std::string& p) { return strcasecmp(p.c_str(), "dat") == 0; })) {
        why = "a recording needs its dat file";
        return false;
    }
    parts = std::move(out);
    return true;
}

bool FileStore::addRecording(const std::string& recordDir, const std::string& ied, const std::string& series,
                             int64_t epochMs, uint64_t seq, std::vector<std::string>& names, std::string& why,
                             const std::vector<std::string>& parts) const {
    const std::string folder = recordDir.empty() ? std::string() : recordDir + "/";
    // A recording at the same millisecond as an existing one moves on by one.
    std::string base;
    for (int attempt = 0; attempt < 1000; ++attempt, ++epochMs) {
        time_t secs = time_t(epochMs / 1000);
        tm u;
        gmtime_r(&secs, &u);
        char stamp[80];
        std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d%03d", u.tm_year + 1900, u.tm_mon + 1, u.tm_mday,
                      u.tm_hour, u.tm_min, u.tm_sec, int(epochMs % 1000));
        base = folder + series + "_" + stamp;
        FileEntry fe;
        if (std::none_of(parts.begin(), parts.end(), [&](const std::string& p) { return stat(base + "." + p, fe); }))
            break;
    }
    const time_t secs = time_t(epochMs / 1000);
    // COMTRADE 1999 times: "dd/mm/yyyy,hh:mm:ss.ssssss"; the first sample is
    // 20 ms (80 samples) before the trigger.
    auto comtradeTime = [&](int64_t ms) {
        const time_t s = time_t(ms / 1000);
        tm u;
        gmtime_r(&s, &u);
        char b[96];
        std::snprintf(b, sizeof b, "%s/%s/%04d,%s:%s:%02d.%06d", twoDigits(u.tm_mday).c_str(),
                      twoDigits(u.tm_mon + 1).c_str(), u.tm_year + 1900, twoDigits(u.tm_hour).c_str(),
                      twoDigits(u.tm_min).c_str(), u.tm_sec, int(ms % 1000) * 1000);
        return std::string(b);
    };
    // 50 Hz, 4 kHz sampling, 0.05 s: 200 samples; trigger at 20 ms.
    constexpr int kRate = 4000, kSamples = 200;
    std::string cfg = ied + "," + std::to_string(seq) + ",1999\r\n";
    cfg += "4,3A,1D\r\n";
    cfg += "1,IA,A,,A,0.01,0,0,-32767,32767,600,1,P\r\n";
    cfg += "2,IB,B,,A,0.01,0,0,-32767,32767,600,1,P\r\n";
    cfg += "3,UA,A,,kV,0.01,0,0,-32767,32767,110,0.1,P\r\n";
    cfg += "1,TRIP,,,0\r\n";
    cfg += "50\r\n1\r\n" + std::to_string(kRate) + "," + std::to_string(kSamples) + "\r\n";
    cfg += comtradeTime(epochMs - 20) + "\r\n" + comtradeTime(epochMs) + "\r\n";
    cfg += "ASCII\r\n1\r\n";
    std::string dat;
    const double amp = 800.0 + double(seq % 7) * 150.0;
    for (int i = 0; i < kSamples; ++i) {
        const double t = double(i) / kRate;
        const double fault = i >= 80 ? 3.0 : 1.0;
        const int ia = int(std::lround(amp * fault * std::sin(2 * M_PI * 50 * t)));
        const int ib = int(std::lround(amp * std::sin(2 * M_PI * 50 * t - 2 * M_PI / 3)));
        const int ua = int(std::lround(9000.0 * std::sin(2 * M_PI * 50 * t + 0.3)));
        char line[96];
        std::snprintf(line, sizeof line, "%d,%d,%d,%d,%d,%d\r\n", i + 1, i * 1000000 / kRate, ia, ib, ua,
                      i >= 80 ? 1 : 0);
        dat += line;
    }
    // The header and information files are free text (IEEE C37.111-1999
    // clauses 5 and 8); devices write a line or two about the event.
    const std::string hdr = "Disturbance recording " + std::to_string(seq) + " of " + ied + ", triggered " +
                            comtradeTime(epochMs) + " UTC\r\n";
    const std::string inf = "[Public Record_Information]\r\nSource=" + ied +
                            "\r\nRecord_Information=" + std::to_string(seq) + "\r\n";
    names.clear();
    for (const std::string& part : parts) {
        const char kind = char(std::tolower(static_cast<unsigned char>(part[0])));
        const std::string& body = kind == 'c' ? cfg : kind == 'd' ? dat : kind == 'h' ? hdr : inf;
        const std::string name = base + "." + part;
        if (!write(name, std::vector<uint8_t>(body.begin(), body.end()), why)) return false;
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = secs;
        times[0].tv_nsec = times[1].tv_nsec = long(epochMs % 1000) * 1000000L;
        ::utimensat(AT_FDCWD, fullPath(name).c_str(), times, 0);
        names.push_back(name);
    }
    return true;
}

}  // namespace zv::iedsim
