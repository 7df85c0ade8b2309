// The configuration file (.cfg): IEEE C37.111-1991 clause 5, -1999 clause 6,
// -2013 clause 7.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "comtrade/comtrade.h"
#include "internal.h"

namespace zv::comtrade {

namespace detail {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        out.push_back(
            trim(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return out;
}

bool toInt(std::string_view s, std::int64_t& v) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool toDouble(std::string_view s, double& v) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s.substr(0, 40)) out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    if (s.size() > 40) out += "...";
    return out + "\"";
}

}  // namespace detail

using namespace detail;

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + std::int64_t(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int(std::int64_t(yoe) + era * 400 + (m <= 2));
}

// The lines of a text, read one after the other without a table of them
// (a text of nothing but line ends must not cost more than itself).
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {
        // Trailing blank lines and the end-of-file character some writers add.
        while (!text_.empty() && std::strchr(" \t\r\n\x1A", text_.back()) != nullptr) text_.remove_suffix(1);
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    std::size_t number() const { return read_ + 1; }  // of the next line
    std::string_view peek() const { return text_.substr(pos_, lineEnd() - pos_); }
    std::string_view next() {
        const std::size_t end = lineEnd();
        const std::string_view l = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        ++read_;
        return l;
    }
    std::size_t left() const {
        return atEnd() ? 0 : std::size_t(std::count(text_.begin() + std::ptrdiff_t(pos_), text_.end(), '\n')) + 1;
    }
    std::size_t count() const { return read_ + left(); }

private:
    std::size_t lineEnd() const {
        const std::size_t nl = text_.find('\n', pos_);
        return nl == std::string_view::npos ? text_.size() : nl;
    }
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t read_ = 0;
};

struct Parser {
    const std::string& file;
    Error& err;
    Lines lines;
    std::size_t lineNo = 0;

    bool fail(std::string reason) {
        err.file = file;
        err.line = lineNo;
        err.sample = 0;
        err.reason = std::move(reason);
        return false;
    }
    // The next line split into fields; fails at the end of the text.
    bool fields(const char* what, std::vector<std::string_view>& out) {
        if (lines.atEnd()) {
            lineNo = lines.count() + 1;
            return fail(std::string("the file ends where ") + what + " should be");
        }
        lineNo = lines.number();
        const std::string_view l = lines.next();
        if (l.size() > kMaxConfigLine) return fail("line longer than " + std::to_string(kMaxConfigLine) + " bytes");
        if (trim(l).empty()) return fail(std::string("empty line where ") + what + " should be");
        out = split(l);
        return true;
    }
    bool number(std::string_view field, const char* what, double& v) {
        if (!toDouble(field, v)) return fail(std::string(what) + " " + quoted(field) + " is not a number");
        return true;
    }
    bool integer(std::string_view field, const char* what, std::int64_t& v) {
        if (!toInt(field, v)) return fail(std::string(what) + " " + quoted(field) + " is not an integer");
        return true;
    }

    bool dateTime(Revision rev, const char* what, DateTime& out) {
        std::vector<std::string_view> f;
        if (!fields(what, f)) return false;
        if (f.size() != 2)
            return fail(std::string(what) + ": expected date,time, found " + std::to_string(f.size()) + " fields");
        // Date: dd/mm/yyyy (1999, 2013) or mm/dd/yy (1991).
        std::int64_t p[3];
        std::string_view d = f[0];
        std::size_t yearDigits = 0;
        for (int k = 0; k < 3; ++k) {
            const std::size_t slash = d.find('/');
            const std::string_view part = k < 2 ? d.substr(0, slash) : d;
            if ((k < 2 && slash == std::string_view::npos) || !toInt(part, p[k]) || p[k] < 0)
                return fail(std::string(what) + ": date " + quoted(f[0]) + " is not dd/mm/yyyy");
            if (k == 2) yearDigits = trim(part).size();
            if (k < 2) d.remove_prefix(slash + 1);
        }
        std::int64_t day = p[0], month = p[1], year = p[2];
        if (rev == Revision::R1991) {
            std::swap(day, month);
            if (month > 12 && day <= 12) std::swap(day, month);  // a 1991 writer that wrote dd/mm
        }
        if (yearDigits <= 2) year += year >= 70 ? 1900 : 2000;
        static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || year < 1900 || year > 9999)
            return fail(std::string(what) + ": date " + quoted(f[0]) + " does not exist");
        // Time: hh:mm:ss[.fraction]
        std::string_view t = f[1];
        std::int64_t hh, mm;
        const std::size_t c1 = t.find(':');
        const std::size_t c2 = c1 == std::string_view::npos ? c1 : t.find(':', c1 + 1);
        if (c2 == std::string_view::npos || !toInt(t.substr(0, c1), hh) || !toInt(t.substr(c1 + 1, c2 - c1 - 1), mm))
            return fail(std::string(what) + ": time " + quoted(f[1]) + " is not hh:mm:ss.ssssss");
        std::string_view sec = t.substr(c2 + 1);
        const std::size_t dot = sec.find('.');
        std::int64_t ss, frac = 0;
        int digits = 0;
        if (!toInt(sec.substr(0, dot), ss))
            return fail(std::string(what) + ": time " + quoted(f[1]) + " is not hh:mm:ss.ssssss");
        if (dot != std::string_view::npos) {
            const std::string_view fr = sec.substr(dot + 1);
            if (fr.size() > 9 || (!fr.empty() && (!toInt(fr, frac) || fr.front() == '-' || fr.front() == '+')))
                return fail(std::string(what) + ": fraction of " + quoted(f[1]) + " is not up to nine digits");
            digits = int(fr.size());
            for (std::size_t k = fr.size(); k < 9; ++k) frac *= 10;
        }
        if (hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 60)  // 60: a leap second
            return fail(std::string(what) + ": time " + quoted(f[1]) + " does not exist");
        out.days = daysFromCivil(year, unsigned(month), unsigned(day));
        out.nanos = ((hh * 60 + mm) * 60 + ss) * 1000000000LL + frac;
        out.digits = digits > 6 ? 9 : 6;
        return true;
    }

    bool run(Config& c) {
        std::vector<std::string_view> f;
        // Station, device, revision.
        if (!fields("station_name,rec_dev_id,rev_year", f)) return false;
        if (f.size() < 2 || f.size() > 3) return fail("expected station_name,rec_dev_id,rev_year");
        c.station.assign(f[0]);
        c.device.assign(f[1]);
        c.revision = Revision::R1991;
        if (f.size() == 3 && !f[2].empty()) {
            std::int64_t y;
            if (!integer(f[2], "rev_year", y)) return false;
            if (y == 1991)
                c.revision = Revision::R1991;
            else if (y == 1999)
                c.revision = Revision::R1999;
            else if (y == 2013)
                c.revision = Revision::R2013;
            else
                return fail("revision year " + std::to_string(y) + " is none of 1991, 1999, 2013");
        }
        // Channel counts: TT,##A,##D.
        if (!fields("TT,##A,##D", f)) return false;
        if (f.size() != 3) return fail("expected TT,##A,##D");
        std::int64_t tt, na, nd;
        auto counted = [&](std::string_view s, char letter, std::int64_t& v) {
            if (s.empty() || (s.back() != letter && s.back() != letter + ('a' - 'A')) ||
                !toInt(s.substr(0, s.size() - 1), v) || v < 0 || v > std::int64_t(kMaxChannels))
                return fail(std::string("channel count ") + quoted(s) +
                            " is not a number of at most six digits followed by " + letter);
            return true;
        };
        if (!integer(f[0], "TT", tt) || !counted(f[1], 'A', na) || !counted(f[2], 'D', nd)) return false;
        if (tt != na + nd)
            return fail("TT " + std::to_string(tt) + " is not " + std::to_string(na) + "A + " + std::to_string(nd) +
                        "D");
        // Every channel has a line: the counts cannot exceed the lines that are left.
        if (std::size_t(tt) > lines.left()) {
            lineNo = lines.count() + 1;
            return fail("the file ends before the " + std::to_string(tt) + " channel lines");
        }
        c.analog.reserve(std::size_t(na));
        c.digital.reserve(std::size_t(nd));
        const bool old = c.revision == Revision::R1991;
        for (std::int64_t i = 0; i < na; ++i) {
            if (!fields("an analog channel", f)) return false;
            const std::size_t want = old ? 10 : 13;
            if (f.size() != want && !(old && f.size() == 13))
                return fail("analog channel: expected " + std::to_string(want) + " fields, found " +
                            std::to_string(f.size()));
            AnalogChannel a;
            std::int64_t n;
            if (!integer(f[0], "An", n)) return false;
            a.number = int(n);
            a.id.assign(f[1]);
            a.phase.assign(f[2]);
            a.circuit.assign(f[3]);
            a.unit.assign(f[4]);
            if (!number(f[5], "a", a.a) || !number(f[6], "b", a.b)) return false;
            if (!f[7].empty() && !number(f[7], "skew", a.skew)) return false;
            if (!number(f[8], "min", a.min) || !number(f[9], "max", a.max)) return false;
            if (f.size() == 13) {
                if (!number(f[10], "primary", a.primary) || !number(f[11], "secondary", a.secondary)) return false;
                if (f[12].size() != 1 || (f[12][0] != 'P' && f[12][0] != 'p' && f[12][0] != 'S' && f[12][0] != 's'))
                    return fail("PS " + quoted(f[12]) + " is neither P nor S");
                a.ps = char(f[12][0] & ~0x20);
                // Secondary values become primary through the ratio: it must exist.
                if (a.ps == 'S' && (a.primary == 0 || a.secondary == 0))
                    return fail("channel " + std::to_string(a.number) + " gives secondary values with primary " +
                                std::string(f[10]) + " and secondary " + std::string(f[11]));
            }
            c.analog.push_back(std::move(a));
        }
        for (std::int64_t i = 0; i < nd; ++i) {
            if (!fields("a digital channel", f)) return false;
            DigitalChannel d;
            std::int64_t n, y;
            if (f.size() == 5) {
                d.phase.assign(f[2]);
                d.circuit.assign(f[3]);
            } else if (!(old && f.size() == 3)) {
                return fail("digital channel: expected " + std::string(old ? "3 or 5" : "5") + " fields, found " +
                            std::to_string(f.size()));
            }
            if (!integer(f[0], "Dn", n) || !integer(f.back(), "normal state", y)) return false;
            if (y != 0 && y != 1) return fail("normal state " + std::to_string(y) + " is neither 0 nor 1");
            d.number = int(n);
            d.id.assign(f[1]);
            d.normal = int(y);
            c.digital.push_back(std::move(d));
        }
        // Line frequency.
        if (!fields("the line frequency", f)) return false;
        if (f.size() != 1)
            return fail("expected the line frequency alone, found " + std::to_string(f.size()) + " fields");
        if (!number(f[0], "line frequency", c.lineFrequency)) return false;
        // Sampling rates.
        if (!fields("nrates", f)) return false;
        std::int64_t nrates;
        if (f.size() != 1) return fail("expected nrates alone, found " + std::to_string(f.size()) + " fields");
        if (!integer(f[0], "nrates", nrates)) return false;
        if (nrates < 0 || nrates > std::int64_t(kMaxRates))
            return fail("nrates " + std::to_string(nrates) + " is not 0 to 999");
        c.totalSamples = -1;
        const bool noRateLine = nrates == 0 && !lines.atEnd() && lines.peek().find('/') != std::string_view::npos;
        const std::int64_t rateLines = nrates == 0 ? (noRateLine ? 0 : 1) : nrates;
        std::int64_t previousEnd = 0;
        bool zeroRate = false;
        for (std::int64_t i = 0; i < rateLines; ++i) {
            if (!fields("samp,endsamp", f)) return false;
            if (f.size() != 2) return fail("expected samp,endsamp");
            RateSection s;
            if (!number(f[0], "samp", s.rate) || !integer(f[1], "endsamp", s.endSample)) return false;
            if (s.rate < 0) return fail("sampling rate " + std::string(f[0]) + " is negative");
            if (s.endSample <= previousEnd || s.endSample > kMaxSampleNumber)
                return fail("endsamp " + std::to_string(s.endSample) + " does not follow " +
                            std::to_string(previousEnd));
            if (nrates == 0 && s.rate != 0) return fail("nrates 0 with a sampling rate of " + std::string(f[0]));
            if (i > 0 && (s.rate == 0) != zeroRate) return fail("sampling rate 0 mixed with non-zero rates");
            zeroRate = s.rate == 0;
            previousEnd = s.endSample;
            c.totalSamples = s.endSample;
            if (s.rate > 0) c.rates.push_back(s);
        }
        // Times of the first sample and of the trigger.
        if (!dateTime(c.revision, "first sample time", c.start) || !dateTime(c.revision, "trigger time", c.trigger))
            return false;
        // Data file type.
        if (!fields("the data file type", f)) return false;
        std::string ft(f[0]);
        for (char& ch : ft) ch = char(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
        if (f.size() != 1) return fail("expected the data file type alone");
        if (ft == "ASCII")
            c.format = DataFormat::Ascii;
        else if (ft == "BINARY")
            c.format = DataFormat::Binary;
        else if (ft == "BINARY32" && !old)
            c.format = DataFormat::Binary32;
        else if (ft == "FLOAT32" && !old)
            c.format = DataFormat::Float32;
        else
            return fail("data file type " + quoted(f[0]) + " is not one of ASCII, BINARY, BINARY32, FLOAT32");
        if ((c.format == DataFormat::Binary32 || c.format == DataFormat::Float32) && c.revision != Revision::R2013)
            return fail(std::string(formatName(c.format)) + " data needs revision 2013");
        // timemult (1999 on; a writer that left it out means 1).
        c.timemult = 1;
        if (!old && !lines.atEnd()) {
            if (!fields("timemult", f)) return false;
            if (f.size() != 1) return fail("expected timemult alone, found " + std::to_string(f.size()) + " fields");
            if (!number(f[0], "timemult", c.timemult)) return false;
            if (!(c.timemult > 0)) return fail("timemult " + std::string(f[0]) + " is not positive");
        }
        if (c.revision == Revision::R2013) {
            if (!lines.atEnd()) {
                if (!fields("time_code,local_code", f)) return false;
                if (f.size() != 2) return fail("expected time_code,local_code");
                c.timeCode.assign(f[0]);
                c.localCode.assign(f[1]);
            }
            if (!lines.atEnd()) {
                if (!fields("tmq_code,leapsec", f)) return false;
                if (f.size() != 2) return fail("expected tmq_code,leapsec");
                c.tmqCode.assign(f[0]);
                std::int64_t ls;
                if (!integer(f[1], "leapsec", ls)) return false;
                if (ls < 0 || ls > 3) return fail("leapsec " + std::to_string(ls) + " is not 0 to 3");
                c.leapSeconds = int(ls);
            }
        }
        if (!lines.atEnd()) {
            lineNo = lines.number();
            return fail("unexpected line after the configuration: " + quoted(lines.peek()));
        }
        return true;
    }
};

}  // namespace

const char* formatName(DataFormat f) {
    switch (f) {
    case DataFormat::Ascii: return "ASCII";
    case DataFormat::Binary: return "BINARY";
    case DataFormat::Binary32: return "BINARY32";
    case DataFormat::Float32: return "FLOAT32";
    }
    return "?";
}

std::string Error::text() const {
    std::string s = file;
    if (line > 0)
        s += " line " + std::to_string(line);
    else if (sample > 0)
        s += " sample " + std::to_string(sample);
    return s + ": " + reason;
}

std::string DateTime::text() const {
    int y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    const std::int64_t secs = nanos / 1000000000LL;
    const std::int64_t frac = nanos % 1000000000LL;
    char buf[64];
    if (digits > 6)
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d.%09lld", y, m, d, int(secs / 3600),
                      int(secs / 60 % 60), int(secs % 60), static_cast<long long>(frac));
    else
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d.%06lld", y, m, d, int(secs / 3600),
                      int(secs / 60 % 60), int(secs % 60), static_cast<long long>(frac / 1000));
    return buf;
}

double DateTime::secondsSince(const DateTime& earlier) const {
    return double(days - earlier.days) * 86400.0 + double(nanos - earlier.nanos) * 1e-9;
}

double AnalogChannel::toPrimary(double raw) const {
    const double v = a * raw + b;
    return ps == 'S' ? v * primary / secondary : v;
}

double AnalogChannel::toSecondary(double raw) const {
    const double v = a * raw + b;
    if (ps == 'S') return v;
    if (primary == 0) return std::nan("");
    return v * secondary / primary;
}

bool Config::timestampsOnly() const { return rates.empty(); }

double Config::timestampUnit() const { return start.digits > 6 ? 1e-9 : 1e-6; }

bool parseConfig(std::string_view bytes, Encoding encoding, const std::string& file, Config& out, Error& err) {
    if (bytes.size() > kMaxTextBytes) {
        err = Error{file, 0, 0, "configuration larger than " + std::to_string(kMaxTextBytes >> 20) + " MiB"};
        return false;
    }
    std::string text, why;
    Encoding used;
    if (!decodeText(bytes, encoding, text, &used, &why)) {
        err = Error{file, 0, 0, std::string("cannot read as ") + encodingName(used) + ": " + why};
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        const std::size_t at = text.find('\0');
        err = Error{file, std::size_t(std::count(text.begin(), text.begin() + std::ptrdiff_t(at), '\n')) + 1, 0,
                    "a NUL byte in a text file"};
        return false;
    }
    Config c;
    c.encoding = used;
    Parser p{file, err, Lines(text)};
    if (!p.run(c)) return false;
    out = std::move(c);
    return true;
}

}  // namespace zv::comtrade
