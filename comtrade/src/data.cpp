// The data file (.dat), the combined file (.cff), and loading a recording
// from disk or memory.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "comtrade/comtrade.h"
#include "internal.h"

namespace zv::comtrade {

using namespace detail;

namespace {

constexpr std::size_t kChunk = 1u << 20;            // bytes read at a time
constexpr std::uint64_t kProgressEvery = 1u << 20;  // bytes between progress calls
constexpr std::int32_t kMissing32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int16_t kMissing16 = std::numeric_limits<std::int16_t>::min();

// Bytes of a data file: in memory or a range of an open file.
class Source {
public:
    virtual ~Source() = default;
    virtual std::size_t read(char* buf, std::size_t n) = 0;  // 0 at the end; sets failed() on an I/O error
    std::uint64_t size() const { return size_; }
    bool failed() const { return failed_; }

protected:
    std::uint64_t size_ = 0;
    bool failed_ = false;
};

class MemorySource : public Source {
public:
    explicit MemorySource(std::string_view b) : b_(b) { size_ = b.size(); }
    std::size_t read(char* buf, std::size_t n) override {
        n = std::min(n, b_.size() - pos_);
        std::memcpy(buf, b_.data() + pos_, n);
        pos_ += n;
        return n;
    }

private:
    std::string_view b_;
    std::size_t pos_ = 0;
};

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class FileSource : public Source {
public:
    FileSource(std::FILE* f, std::uint64_t offset, std::uint64_t length) : f_(f) {
        size_ = length;
        if (fseeko(f_, off_t(offset), SEEK_SET) != 0) failed_ = true;
    }
    std::size_t read(char* buf, std::size_t n) override {
        n = std::size_t(std::min<std::uint64_t>(n, size_ - pos_));
        if (n == 0 || failed_) return 0;
        const std::size_t got = std::fread(buf, 1, n, f_);
        if (got < n) failed_ = true;  // the file shrank, or an I/O error
        pos_ += got;
        return got;
    }

private:
    std::FILE* f_;
    std::uint64_t pos_ = 0;
};

std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t le16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

std::size_t valueWidth(DataFormat f) {
    switch (f) {
    case DataFormat::Binary: return 2;
    case DataFormat::Binary32:
    case DataFormat::Float32: return 4;
    case DataFormat::Ascii: break;
    }
    return 0;
}

}  // namespace

// ---- Column ---------------------------------------------------------------

std::size_t Column::size() const {
    switch (kind_) {
    case Kind::I16: return i16_.size();
    case Kind::I32: return i32_.size();
    case Kind::F32: return f32_.size();
    case Kind::F64: return f64_.size();
    }
    return 0;
}

bool Column::missing(std::size_t i) const {
    switch (kind_) {
    case Kind::I16: return i16_[i] == kMissing16;
    case Kind::I32: return i32_[i] == kMissing32;
    case Kind::F32: return std::isnan(f32_[i]);
    case Kind::F64: return std::isnan(f64_[i]);
    }
    return true;
}

double Column::raw(std::size_t i) const {
    if (missing(i)) return std::nan("");
    switch (kind_) {
    case Kind::I16: return i16_[i];
    case Kind::I32: return i32_[i];
    case Kind::F32: return f32_[i];
    case Kind::F64: return f64_[i];
    }
    return std::nan("");
}

void Column::reserve(std::size_t n) {
    switch (kind_) {
    case Kind::I16: i16_.reserve(n); break;
    case Kind::I32: i32_.reserve(n); break;
    case Kind::F32: f32_.reserve(n); break;
    case Kind::F64: f64_.reserve(n); break;
    }
}

void Column::push(double v) {
    if (kind_ == Kind::I32) {
        // Whole numbers that fit stay 32-bit; the first other value widens
        // the column (the missing code stays NaN).
        if (std::isnan(v)) {
            i32_.push_back(kMissing32);
            return;
        }
        if (v == std::floor(v) && v > double(kMissing32) && v <= double(std::numeric_limits<std::int32_t>::max())) {
            i32_.push_back(std::int32_t(v));
            return;
        }
        f64_.reserve(i32_.capacity());
        for (std::int32_t x : i32_) f64_.push_back(x == kMissing32 ? std::nan("") : double(x));
        std::vector<std::int32_t>().swap(i32_);
        kind_ = Kind::F64;
    }
    f64_.push_back(v);
}

namespace {

template <class T, class Missing>
void extremesOf(const std::vector<T>& v, std::size_t from, std::size_t to, Missing missing, std::size_t& lo,
                std::size_t& hi, bool& gap) {
    lo = hi = to;
    gap = false;
    T min{}, max{};
    for (std::size_t i = from; i < to; ++i) {
        const T x = v[i];
        if (missing(x)) {
            gap = true;
            continue;
        }
        if (lo == to) {
            lo = hi = i;
            min = max = x;
            continue;
        }
        if (x < min) min = x, lo = i;
        if (x > max) max = x, hi = i;
    }
}

}  // namespace

void Column::extremes(std::size_t from, std::size_t to, std::size_t& lo, std::size_t& hi, bool& gap) const {
    switch (kind_) {
    case Kind::I16:
        extremesOf(
            i16_, from, to, [](std::int16_t x) { return x == kMissing16; }, lo, hi, gap);
        break;
    case Kind::I32:
        extremesOf(
            i32_, from, to, [](std::int32_t x) { return x == kMissing32; }, lo, hi, gap);
        break;
    case Kind::F32:
        extremesOf(
            f32_, from, to, [](float x) { return std::isnan(x); }, lo, hi, gap);
        break;
    case Kind::F64:
        extremesOf(
            f64_, from, to, [](double x) { return std::isnan(x); }, lo, hi, gap);
        break;
    }
}

std::size_t Column::bytes() const {
    return i16_.capacity() * 2 + i32_.capacity() * 4 + f32_.capacity() * 4 + f64_.capacity() * 8;
}

// ---- Recording --------------------------------------------------------------

double Recording::time(std::size_t i) const {
    if (cfg.timestampsOnly()) return double(timestamps_[i]) * cfg.timemult * cfg.timestampUnit();
    const std::size_t k = std::size_t(std::upper_bound(sectionFirst_.begin(), sectionFirst_.end(), std::int64_t(i)) -
                                      sectionFirst_.begin()) -
                          1;
    return sectionStart_[k] + double(std::int64_t(i) - sectionFirst_[k]) / cfg.rates[k].rate;
}

double Recording::rateAt(std::size_t i) const {
    if (cfg.timestampsOnly()) return 0;
    const std::size_t k = std::size_t(std::upper_bound(sectionFirst_.begin(), sectionFirst_.end(), std::int64_t(i)) -
                                      sectionFirst_.begin()) -
                          1;
    return cfg.rates[k].rate;
}

std::size_t Recording::indexAt(double t) const {
    const std::size_t n = samples();
    if (n == 0 || std::isnan(t)) return n;
    if (t <= time(0)) return 0;
    if (cfg.timestampsOnly()) {
        std::size_t lo = 0, hi = n;  // first with time >= t
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (time(mid) < t)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    std::size_t k = std::size_t(std::upper_bound(sectionStart_.begin(), sectionStart_.end(), t) -
                                sectionStart_.begin()) -
                    1;
    const double steps = std::ceil((t - sectionStart_[k]) * cfg.rates[k].rate - 1e-9);
    const double i = double(sectionFirst_[k]) + std::max(0.0, steps);
    // The estimate is exact but for rounding; the walk below settles it.
    std::size_t idx = i >= double(n) ? n - 1 : std::size_t(i);
    while (idx > 0 && time(idx - 1) >= t) --idx;
    while (idx < n && time(idx) < t) ++idx;
    return idx;
}

std::size_t Recording::bytes() const {
    std::size_t b = timestamps_.capacity() * 8 + words_.capacity() * 2;
    for (const Column& c : columns_) b += c.bytes();
    return b;
}

// ---- the data reader --------------------------------------------------------

class DataReader {
public:
    DataReader(Recording& r, const std::string& file, const LoadOptions& opt, Error& err)
        : r_(r), c_(r.cfg), file_(file), opt_(opt), err_(err) {}

    bool read(Source& src) {
        const std::size_t na = c_.analog.size();
        r_.wordsPerSample_ = (c_.digital.size() + 15) / 16;
        Column::Kind kind = Column::Kind::I32;
        if (c_.format == DataFormat::Binary) kind = Column::Kind::I16;
        if (c_.format == DataFormat::Float32) kind = Column::Kind::F32;
        r_.columns_.assign(na, Column(kind));
        r_.timestamps_.clear();
        r_.words_.clear();
        const bool ok = c_.format == DataFormat::Ascii ? readAscii(src) : readBinary(src);
        if (!ok) return false;
        if (src.failed()) return failAt(0, 0, "read error or file changed while reading");
        const std::int64_t n = std::int64_t(r_.samples());
        if (c_.totalSamples >= 0 && n < c_.totalSamples)
            return failAt(0, n + 1,
                          "the data end after sample " + std::to_string(n) + " of " + std::to_string(c_.totalSamples));
        if (c_.timestampsOnly()) {
            for (std::size_t i = 0; i < r_.samples(); ++i) {
                if (r_.timestamps_[i] < 0)
                    return failAt(0, std::int64_t(i) + 1, "time stamp missing in a recording timed by its time stamps");
                if (i > 0 && r_.timestamps_[i] < r_.timestamps_[i - 1])
                    return failAt(0, std::int64_t(i) + 1,
                                  "time stamp " + std::to_string(r_.timestamps_[i]) +
                                      " is before the previous sample's");
            }
        } else {
            // Each rate section starts one period of its own rate after the
            // last sample of the section before.
            r_.sectionStart_.clear();
            r_.sectionFirst_.clear();
            double t = 0;
            std::int64_t first = 0;
            for (std::size_t k = 0; k < c_.rates.size(); ++k) {
                if (k > 0) t += 1.0 / c_.rates[k].rate;
                r_.sectionStart_.push_back(t);
                r_.sectionFirst_.push_back(first);
                const std::int64_t count = c_.rates[k].endSample - first;
                t += double(count - 1) / c_.rates[k].rate;
                first = c_.rates[k].endSample;
            }
        }
        // Times that leave the range of a double (a tiny rate, a huge timemult) are no axis.
        if (n > 0 && !std::isfinite(r_.time(std::size_t(n - 1))))
            return failAt(0, n, "the sampling rates or time stamps put this sample beyond any time");
        return true;
    }

private:
    bool failAt(std::size_t line, std::int64_t sample, std::string reason) {
        err_.file = file_;
        err_.line = line;
        err_.sample = sample;
        err_.reason = std::move(reason);
        return false;
    }
    bool progress(std::uint64_t done, std::uint64_t total) {
        if (!opt_.progress || done < nextProgress_) return true;
        nextProgress_ = done + kProgressEvery;
        if (!opt_.progress(done, total)) return failAt(0, 0, "cancelled");
        return true;
    }
    // Room for the samples the configuration announces, no more than the
    // data can hold (`perSample`: the fewest bytes one sample takes).
    void reserve(std::uint64_t bytes, std::uint64_t perSample) {
        std::uint64_t n = bytes / std::max<std::uint64_t>(perSample, 1);
        if (c_.totalSamples >= 0) n = std::min<std::uint64_t>(n, std::uint64_t(c_.totalSamples));
        r_.timestamps_.reserve(std::size_t(n));
        r_.words_.reserve(std::size_t(n) * r_.wordsPerSample_);
        for (Column& col : r_.columns_) col.reserve(std::size_t(n));
    }

    bool readBinary(Source& src) {
        const std::size_t na = c_.analog.size();
        const std::size_t w = valueWidth(c_.format);
        const std::uint64_t record = 8 + std::uint64_t(na) * w + 2 * std::uint64_t(r_.wordsPerSample_);
        const std::uint64_t size = src.size();
        const std::uint64_t whole = size / record;
        if (c_.totalSamples >= 0 && whole > std::uint64_t(c_.totalSamples))
            return failAt(0, c_.totalSamples + 1,
                          "the data hold " + std::to_string(whole) + " samples, the configuration " +
                              std::to_string(c_.totalSamples));
        if (size % record != 0)
            return failAt(0, std::int64_t(whole) + 1,
                          "the data end inside this sample (" + std::to_string(size % record) + " of " +
                              std::to_string(record) + " bytes)");
        reserve(size, record);
        // A chunk holds whole records (at least one, however long).
        const std::size_t perChunk = std::size_t(std::max<std::uint64_t>(1, kChunk / record));
        std::vector<unsigned char> buf(std::size_t(perChunk * record));
        std::uint64_t done = 0;
        std::int64_t sample = 0;
        while (done < size) {
            const std::size_t want = std::size_t(std::min<std::uint64_t>(buf.size(), size - done));
            std::size_t got = 0;
            while (got < want) {
                const std::size_t n = src.read(reinterpret_cast<char*>(buf.data()) + got, want - got);
                if (n == 0) break;
                got += n;
            }
            if (got < want)
                return failAt(0, sample + std::int64_t(got / record) + 1,
                              "the data file ends early (read error or file shortened)");
            for (std::size_t off = 0; off < got; off += std::size_t(record)) {
                ++sample;
                const unsigned char* p = buf.data() + off;
                const std::uint32_t ts = le32(p + 4);
                r_.timestamps_.push_back(ts == 0xFFFFFFFFu ? -1 : std::int64_t(ts));
                p += 8;
                for (std::size_t ch = 0; ch < na; ++ch, p += w) {
                    switch (c_.format) {
                    case DataFormat::Binary: r_.columns_[ch].pushI16(std::int16_t(le16(p))); break;
                    case DataFormat::Binary32: r_.columns_[ch].pushI32(std::int32_t(le32(p))); break;
                    case DataFormat::Float32: {
                        const std::uint32_t bits = le32(p);
                        float f;
                        std::memcpy(&f, &bits, 4);
                        if (std::isinf(f))
                            return failAt(0, sample, "channel " + std::to_string(ch + 1) + " holds an infinite value");
                        r_.columns_[ch].pushF32(f);
                        break;
                    }
                    case DataFormat::Ascii: break;
                    }
                }
                for (std::size_t k = 0; k < r_.wordsPerSample_; ++k, p += 2) r_.words_.push_back(le16(p));
            }
            done += got;
            if (!progress(done, size)) return false;
        }
        return true;
    }

    bool readAscii(Source& src) {
        const std::size_t na = c_.analog.size(), nd = c_.digital.size();
        const std::size_t fields = 2 + na + nd;
        // The longest line we take: every field a long number.
        const std::size_t maxLine = fields * 48 + 64;
        reserve(src.size(), fields);
        std::string pending;  // a line not yet complete
        std::vector<char> buf(kChunk);
        std::uint64_t done = 0;
        std::size_t line = 0, blankSince = 0;
        bool ended = false;  // the end-of-file character was seen
        std::vector<std::string_view> f;
        f.reserve(fields + 1);
        auto handle = [&](std::string_view l) -> bool {
            ++line;
            const std::string_view t = trim(l);
            if (t.empty() || ended) {
                if (!t.empty()) return failAt(line, 0, "data after the end-of-file character");
                if (!blankSince) blankSince = line;
                return true;
            }
            if (t == "\x1A") {
                ended = true;
                return true;
            }
            if (blankSince) return failAt(blankSince, 0, "empty line between samples");
            const std::int64_t sample = std::int64_t(r_.samples()) + 1;
            if (c_.totalSamples >= 0 && sample > c_.totalSamples)
                return failAt(line, 0,
                              "sample " + std::to_string(sample) + " beyond the configuration's " +
                                  std::to_string(c_.totalSamples));
            f.clear();
            std::size_t start = 0;
            for (;;) {
                const std::size_t comma = t.find(',', start);
                f.push_back(
                    trim(t.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
                if (comma == std::string_view::npos || f.size() > fields) break;
                start = comma + 1;
            }
            if (f.size() == fields + 1 && f.back().empty()) f.pop_back();  // a trailing comma
            if (f.size() != fields)
                return failAt(line, 0,
                              "sample " + std::to_string(sample) + ": expected " + std::to_string(fields) +
                                  " fields, found " + (f.size() > fields ? "more" : std::to_string(f.size())));
            std::int64_t n, ts = -1;
            if (!toInt(f[0], n)) return failAt(line, 0, "sample number " + quoted(f[0]) + " is not an integer");
            if (!f[1].empty() && (!toInt(f[1], ts) || ts < 0))
                return failAt(line, 0,
                              "sample " + std::to_string(sample) + ": time stamp " + quoted(f[1]) +
                                  " is not a whole number");
            r_.timestamps_.push_back(ts);
            for (std::size_t ch = 0; ch < na; ++ch) {
                const std::string_view v = f[2 + ch];
                double x = std::nan("");
                if (!v.empty() && v != "99999" && !toDouble(v, x))
                    return failAt(line, 0,
                                  "sample " + std::to_string(sample) + ": analog channel " + std::to_string(ch + 1) +
                                      " value " + quoted(v) + " is not a number");
                r_.columns_[ch].push(x);
            }
            const std::size_t base = r_.words_.size();
            r_.words_.resize(base + r_.wordsPerSample_, 0);
            for (std::size_t ch = 0; ch < nd; ++ch) {
                const std::string_view v = f[2 + na + ch];
                if (v != "0" && v != "1")
                    return failAt(line, 0,
                                  "sample " + std::to_string(sample) + ": digital channel " + std::to_string(ch + 1) +
                                      " value " + quoted(v) + " is neither 0 nor 1");
                if (v == "1") r_.words_[base + ch / 16] |= std::uint16_t(1u << (ch % 16));
            }
            return true;
        };
        for (;;) {
            const std::size_t got = src.read(buf.data(), buf.size());
            if (got == 0) break;
            done += got;
            std::size_t start = 0;
            for (;;) {
                const char* nl = static_cast<const char*>(std::memchr(buf.data() + start, '\n', got - start));
                if (!nl) break;
                const std::size_t end = std::size_t(nl - buf.data());
                bool ok;
                if (pending.empty()) {
                    ok = handle(std::string_view(buf.data() + start, end - start));
                } else {
                    pending.append(buf.data() + start, end - start);
                    ok = handle(pending);
                    pending.clear();
                }
                if (!ok) return false;
                start = end + 1;
            }
            pending.append(buf.data() + start, got - start);
            if (pending.size() > maxLine)
                return failAt(line + 1, 0, "line longer than " + std::to_string(maxLine) + " bytes");
            if (!progress(done, src.size())) return false;
        }
        if (!pending.empty() && !handle(pending)) return false;
        return true;
    }

    Recording& r_;
    const Config& c_;
    const std::string file_;
    const LoadOptions& opt_;
    Error& err_;
    std::uint64_t nextProgress_ = 0;
};

// ---- the combined file ------------------------------------------------------

namespace {

struct CffParts {
    std::string_view cfg, inf, hdr;
    std::size_t cfgLine = 1;      // first line of the configuration in the file
    std::uint64_t datOffset = 0;  // first byte of the data
    std::int64_t datBytes = -1;   // as the section header gives it; -1: to the end
    DataFormat datFormat = DataFormat::Ascii;
};

enum class Scan { Done, NeedMore, Failed };

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
    return u;
}

// Sections of a .cff ("--- file type: CFG ---", INF, HDR, then
// "--- file type: DAT ASCII[: bytes] ---" or BINARY, BINARY32, FLOAT32,
// C37.111-2013 clause 9) in the first bytes of the file. `complete`: `head`
// is the whole file.
Scan scanCff(std::string_view head, bool complete, const std::string& file, CffParts& parts, Error& err) {
    std::size_t pos = 0, line = 0;
    std::string current;  // section being read
    std::size_t sectionStart = 0;
    auto close = [&](std::size_t end) {
        const std::string_view body = head.substr(sectionStart, end - sectionStart);
        if (current == "CFG")
            parts.cfg = body;
        else if (current == "INF")
            parts.inf = body;
        else if (current == "HDR")
            parts.hdr = body;
    };
    auto fail = [&](std::string reason) {
        err = Error{file, line, 0, std::move(reason)};
        return Scan::Failed;
    };
    while (pos < head.size()) {
        const std::size_t nl = head.find('\n', pos);
        if (nl == std::string_view::npos && !complete) return Scan::NeedMore;
        const std::size_t end = nl == std::string_view::npos ? head.size() : nl;
        ++line;
        if (end - pos > kMaxConfigLine && current != "HDR" && current != "INF")
            return fail("line longer than " + std::to_string(kMaxConfigLine) + " bytes");
        const std::string_view l = trim(head.substr(pos, end - pos));
        const std::string u = l.size() < 128 ? upper(l) : std::string();
        if (u.rfind("---", 0) == 0 && u.find("FILE TYPE:") != std::string::npos) {
            if (!current.empty()) close(pos);
            std::string_view rest = trim(std::string_view(u).substr(u.find("FILE TYPE:") + 10));
            while (!rest.empty() && rest.back() == '-') rest.remove_suffix(1);
            rest = trim(rest);
            const std::string_view type = rest.substr(0, std::min(rest.find(' '), rest.find(':')));
            if (type == "CFG" || type == "INF" || type == "HDR") {
                if ((type == "CFG" && !parts.cfg.empty()) || (type == "INF" && !parts.inf.empty()) ||
                    (type == "HDR" && !parts.hdr.empty()))
                    return fail(std::string(type) + " section twice");
                current = std::string(type);
                sectionStart = end + 1;
                if (type == "CFG") parts.cfgLine = line + 1;
            } else if (type == "DAT") {
                std::string_view fmt = trim(rest.substr(3));
                std::string_view count;
                const std::size_t colon = fmt.find(':');
                if (colon != std::string_view::npos) {
                    count = trim(fmt.substr(colon + 1));
                    fmt = trim(fmt.substr(0, colon));
                }
                if (fmt == "ASCII")
                    parts.datFormat = DataFormat::Ascii;
                else if (fmt == "BINARY")
                    parts.datFormat = DataFormat::Binary;
                else if (fmt == "BINARY32")
                    parts.datFormat = DataFormat::Binary32;
                else if (fmt == "FLOAT32")
                    parts.datFormat = DataFormat::Float32;
                else
                    return fail("DAT section of unknown type " + quoted(fmt));
                if (!count.empty()) {
                    std::int64_t n;
                    if (!toInt(count, n) || n < 0)
                        return fail("DAT section size " + quoted(count) + " is not a byte count");
                    parts.datBytes = n;
                }
                if (parts.cfg.empty()) return fail("DAT section before the CFG section");
                parts.datOffset = nl == std::string_view::npos ? head.size() : nl + 1;
                return Scan::Done;
            } else {
                return fail("unknown section " + quoted(type));
            }
        } else if (current.empty() && !l.empty()) {
            return fail("not a combined COMTRADE file: no \"--- file type: CFG ---\" line before this one");
        }
        pos = end + 1;
        if (head.size() - sectionStart > kMaxTextBytes)
            return fail("text section larger than " + std::to_string(kMaxTextBytes >> 20) + " MiB");
    }
    if (!complete) return Scan::NeedMore;
    ++line;
    return fail("no DAT section");
}

bool withText(std::string_view bytes, Encoding e, std::string& out) {
    std::string why;
    if (bytes.empty()) return true;
    return decodeText(bytes, e, out, nullptr, &why) || decodeText(bytes, Encoding::Auto, out, nullptr, &why);
}

bool readCff(std::string_view head, std::FILE* f, std::uint64_t fileSize, const std::string& file, Recording& out,
             Error& err, const LoadOptions& opt) {
    CffParts parts;
    if (scanCff(head, true, file, parts, err) != Scan::Done) return false;
    Recording r;
    if (!parseConfig(parts.cfg, opt.encoding, file, r.cfg, err)) {
        if (err.line > 0) err.line += parts.cfgLine - 1;  // a line of the .cff
        return false;
    }
    if (r.cfg.format != parts.datFormat)
        return (err = Error{file, 0, 0,
                            std::string("the DAT section is ") + formatName(parts.datFormat) +
                                ", the configuration says " + formatName(r.cfg.format)}),
               false;
    withText(parts.hdr, r.cfg.encoding, r.header);
    withText(parts.inf, r.cfg.encoding, r.info);
    std::uint64_t length = fileSize - parts.datOffset;
    if (parts.datBytes >= 0) {
        if (std::uint64_t(parts.datBytes) > length)
            return (err = Error{file, 0, 0,
                                "the DAT section should hold " + std::to_string(parts.datBytes) +
                                    " bytes, the file has " + std::to_string(length) + " after its header"}),
                   false;
        // Bytes after the data section: only line ends and blanks.
        if (f == nullptr && head.substr(std::size_t(parts.datOffset + std::uint64_t(parts.datBytes)))
                                    .find_first_not_of(" \t\r\n\x1A") != std::string_view::npos)
            return (err = Error{file, 0, 0,
                                "data after the DAT section's " + std::to_string(parts.datBytes) + " bytes"}),
                   false;
        length = std::uint64_t(parts.datBytes);
    }
    DataReader reader(r, file, opt, err);
    if (f) {
        FileSource src(f, parts.datOffset, length);
        if (!reader.read(src)) return false;
    } else {
        MemorySource src(head.substr(std::size_t(parts.datOffset), std::size_t(length)));
        if (!reader.read(src)) return false;
    }
    out = std::move(r);
    return true;
}

std::string extensionOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return upper(path.substr(dot + 1));
}

// The companion with extension `ext` (either letter case) of a recording.
std::string companion(const std::string& base, const char* ext) {
    const std::string lower = std::string(ext), up = upper(ext);
    for (const std::string& e : {lower, up}) {
        const std::string p = base + "." + e;
        if (std::FILE* f = std::fopen(p.c_str(), "rb")) {
            std::fclose(f);
            return p;
        }
    }
    return {};
}

std::string baseName(const std::string& p) {
    const std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Reads a whole text file of at most kMaxTextBytes.
bool readText(const std::string& path, std::string& out, Error& err) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return (err = Error{baseName(path), 0, 0, std::string("cannot open: ") + std::strerror(errno)}), false;
    out.clear();
    char buf[65536];
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
        out.append(buf, n);
        if (out.size() > kMaxTextBytes)
            return (err = Error{baseName(path), 0, 0, "larger than " + std::to_string(kMaxTextBytes >> 20) + " MiB"}),
                   false;
        if (n < sizeof buf) break;
    }
    if (std::ferror(f.get())) return (err = Error{baseName(path), 0, 0, "read error"}), false;
    return true;
}

}  // namespace

bool parse(std::string_view cfg, std::string_view dat, Recording& out, Error& err, const LoadOptions& options) {
    Recording r;
    if (!parseConfig(cfg, options.encoding, "cfg", r.cfg, err)) return false;
    MemorySource src(dat);
    DataReader reader(r, "dat", options, err);
    if (!reader.read(src)) return false;
    out = std::move(r);
    return true;
}

bool parseCff(std::string_view cff, Recording& out, Error& err, const LoadOptions& options) {
    return readCff(cff, nullptr, cff.size(), "cff", out, err, options);
}

bool load(const std::string& path, Recording& out, Error& err, const LoadOptions& options) {
    const std::string ext = extensionOf(path);
    const std::string base = ext.empty() ? path : path.substr(0, path.size() - ext.size() - 1);
    if (ext == "CFF") {
        File f(std::fopen(path.c_str(), "rb"));
        if (!f) return (err = Error{baseName(path), 0, 0, std::string("cannot open: ") + std::strerror(errno)}), false;
        if (fseeko(f.get(), 0, SEEK_END) != 0) return (err = Error{baseName(path), 0, 0, "cannot seek"}), false;
        const std::uint64_t size = std::uint64_t(ftello(f.get()));
        std::rewind(f.get());
        // Read the text sections up to the DAT header; the data stay on disk.
        std::string head;
        CffParts parts;
        Error scanErr;
        char buf[65536];
        for (;;) {
            const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
            head.append(buf, n);
            const bool complete = n < sizeof buf;
            const Scan s = scanCff(head, complete, baseName(path), parts, scanErr);
            if (s == Scan::Failed) return (err = scanErr), false;
            if (s == Scan::Done) break;
            if (head.size() > kMaxTextBytes + kMaxConfigLine)
                return (err = Error{baseName(path), 0, 0,
                                    "no DAT section in the first " + std::to_string(kMaxTextBytes >> 20) + " MiB"}),
                       false;
        }
        if (!readCff(std::string_view(head).substr(0, std::size_t(parts.datOffset)), f.get(), size, baseName(path), out,
                     err, options))
            return false;
        out.path = path;
        return true;
    }
    if (ext != "CFG" && ext != "DAT")
        return (err = Error{baseName(path), 0, 0, "not a COMTRADE file name (.cfg, .dat or .cff)"}), false;
    const std::string cfgPath = ext == "CFG" ? path : companion(base, "cfg");
    const std::string datPath = ext == "DAT" ? path : companion(base, "dat");
    if (cfgPath.empty()) return (err = Error{baseName(base) + ".cfg", 0, 0, "configuration file not found"}), false;
    if (datPath.empty()) return (err = Error{baseName(base) + ".dat", 0, 0, "data file not found"}), false;
    Recording r;
    std::string text;
    if (!readText(cfgPath, text, err)) return false;
    if (!parseConfig(text, options.encoding, baseName(cfgPath), r.cfg, err)) return false;
    for (auto [ext2, dest] : {std::pair<const char*, std::string*>{"hdr", &r.header}, {"inf", &r.info}}) {
        const std::string p = companion(base, ext2);
        if (p.empty()) continue;
        if (!readText(p, text, err)) return false;
        withText(text, r.cfg.encoding, *dest);
    }
    File f(std::fopen(datPath.c_str(), "rb"));
    if (!f) return (err = Error{baseName(datPath), 0, 0, std::string("cannot open: ") + std::strerror(errno)}), false;
    if (fseeko(f.get(), 0, SEEK_END) != 0) return (err = Error{baseName(datPath), 0, 0, "cannot seek"}), false;
    const std::uint64_t size = std::uint64_t(ftello(f.get()));
    FileSource src(f.get(), 0, size);
    DataReader reader(r, baseName(datPath), options, err);
    if (!reader.read(src)) return false;
    r.path = path;
    out = std::move(r);
    return true;
}

// ---- figures ------------------------------------------------------------------

AnalogStats analogStats(const Recording& r, std::size_t ch) {
    AnalogStats s;
    double sum2 = 0;
    for (std::size_t i = 0; i < r.samples(); ++i) {
        if (r.missing(ch, i)) continue;
        const double v = r.primary(ch, i);
        if (s.present == 0) s.min = s.max = v;
        s.min = std::min(s.min, v);
        s.max = std::max(s.max, v);
        sum2 += v * v;
        ++s.present;
    }
    if (s.present) s.rms = std::sqrt(sum2 / double(s.present));
    return s;
}

std::size_t transitions(const Recording& r, std::size_t ch) {
    std::size_t n = 0;
    for (std::size_t i = 1; i < r.samples(); ++i)
        if (r.digital(ch, i) != r.digital(ch, i - 1)) ++n;
    return n;
}

std::vector<Point> envelope(const Recording& r, std::size_t ch, double t0, double t1, std::size_t buckets) {
    std::vector<Point> out;
    const std::size_t n = r.samples();
    if (n == 0 || !(t1 > t0) || buckets == 0) return out;
    std::size_t i0 = r.indexAt(t0);
    if (i0 > 0) --i0;  // one point before the range, so the line enters it
    std::size_t i1 = r.indexAt(t1);
    while (i1 < n && !(r.time(i1) > t1)) ++i1;
    if (i1 < n) ++i1;  // and one after
    const std::size_t count = i1 - i0;
    if (count <= 2 * buckets) {
        out.reserve(count);
        for (std::size_t i = i0; i < i1; ++i)
            out.push_back({r.time(i), r.missing(ch, i) ? std::nan("") : r.primary(ch, i)});
        return out;
    }
    out.reserve(3 * buckets + 2);
    const double per = double(count) / double(buckets);
    for (std::size_t b = 0; b < buckets; ++b) {
        const std::size_t from = i0 + std::size_t(double(b) * per);
        const std::size_t to = std::min(i1, i0 + std::size_t(double(b + 1) * per));
        if (from >= to) continue;
        std::size_t lo, hi;
        bool gap;
        r.column(ch).extremes(from, to, lo, hi, gap);
        if (gap) out.push_back({r.time(from), std::nan("")});
        if (lo == to) continue;
        // The raw minimum is the primary minimum unless a is negative: order by time.
        const std::size_t a = std::min(lo, hi), z = std::max(lo, hi);
        out.push_back({r.time(a), r.primary(ch, a)});
        if (z != a) out.push_back({r.time(z), r.primary(ch, z)});
    }
    return out;
}

}  // namespace zv::comtrade
