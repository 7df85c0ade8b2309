// COMTRADE reader: IEEE C37.111-1991, -1999 and -2013 (IEC 60255-24:2013).
//
// Reads a recording from its configuration (.cfg) and data (.dat) files, or
// from the single combined file (.cff) of the 2013 revision, with the
// optional header (.hdr) and information (.inf) texts. No Qt; no exceptions
// escape (a failure is a `false` with an Error naming the file and the line
// or sample where the input went wrong).
//
// Configuration file, one record per line (fields separated by commas):
//   station_name,rec_dev_id[,rev_year]            rev_year absent: 1991
//   TT,##A,##D
//   An,ch_id,ph,ccbm,uu,a,b,skew,min,max,primary,secondary,PS   (1991: up to max)
//   Dn,ch_id,ph,ccbm,y                                           (1991: Dn,ch_id,y)
//   lf
//   nrates                                        0: time stamps only
//   samp,endsamp                                  once per rate (once if nrates is 0)
//   dd/mm/yyyy,hh:mm:ss.ssssss                    first sample (1991: mm/dd/yy)
//   dd/mm/yyyy,hh:mm:ss.ssssss                    trigger
//   ft                                            ASCII | BINARY | BINARY32 | FLOAT32
//   timemult                                      1999 and 2013
//   time_code,local_code                          2013
//   tmq_code,leapsec                              2013
//
// Data record (one per sample):
//   ASCII   n,timestamp,A1..Ak,D1..Dm (text line; missing analog value 99999
//           or an empty field, missing time stamp an empty field)
//   binary  n:u32 timestamp:u32 A1..Ak D-words, little endian; analog values
//           i16 (BINARY, missing 0x8000), i32 (BINARY32, missing 0x80000000)
//           or IEEE float (FLOAT32, missing NaN); digital channels packed 16
//           a word, channel 1 in bit 0 of the first word; missing time stamp
//           0xFFFFFFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::comtrade {

// Limits; each names where it comes from.
constexpr std::size_t kMaxChannels = 999999;           // ##A/##D: at most six digits (C37.111-2013 clause 7.4.2)
constexpr std::size_t kMaxRates = 999;                 // nrates: at most three digits (clause 7.4.5)
constexpr std::size_t kMaxTextBytes = 64u << 20;       // .cfg/.hdr/.inf/.cff text sections we accept
constexpr std::size_t kMaxConfigLine = 64u << 10;      // one configuration line
constexpr std::int64_t kMaxSampleNumber = 9999999999;  // endsamp: at most ten digits (clause 7.4.5)

enum class Revision { R1991 = 1991, R1999 = 1999, R2013 = 2013 };
enum class DataFormat { Ascii, Binary, Binary32, Float32 };
// Character set of the text files. Auto: a UTF-8 byte order mark or valid
// UTF-8 is UTF-8; otherwise GB18030 when the bytes read as Chinese text in it,
// else Latin-1.
enum class Encoding { Auto, Utf8, Latin1, Gb18030 };

const char* formatName(DataFormat f);
const char* encodingName(Encoding e);

// Where reading stopped: the file ("x.cfg", "x.dat", "x.cff"), a line (1-based)
// or a sample (1-based), and why.
struct Error {
    std::string file;
    std::size_t line = 0;
    std::int64_t sample = 0;
    std::string reason;
    std::string text() const;  // "x.cfg line 5: ..." / "x.dat sample 17: ..."
};

// A date and time of the recording as the configuration gives it (no zone
// conversion). `digits` is the number of fraction digits written (6 or 9).
struct DateTime {
    std::int64_t days = 0;   // since 1970-01-01
    std::int64_t nanos = 0;  // of the day
    int digits = 6;
    std::string text() const;                            // "2024-05-03 12:00:00.020000"
    double secondsSince(const DateTime& earlier) const;  // this - earlier
};

struct AnalogChannel {
    int number = 0;  // An
    std::string id, phase, circuit, unit;
    double a = 1, b = 0, skew = 0, min = 0, max = 0;
    double primary = 1, secondary = 1;
    char ps = 'P';  // 'P': a·x+b is a primary value; 'S': a secondary one
    // The value a·x+b of a raw sample on the primary (or secondary) side.
    double toPrimary(double raw) const;
    double toSecondary(double raw) const;  // NaN when the ratio is undefined
};

struct DigitalChannel {
    int number = 0;  // Dn
    std::string id, phase, circuit;
    int normal = 0;  // y
};

struct RateSection {
    double rate = 0;             // samples per second; 0: time stamps give the time
    std::int64_t endSample = 0;  // last sample (1-based) at this rate
};

struct Config {
    std::string station, device;  // UTF-8
    Revision revision = Revision::R1999;
    Encoding encoding = Encoding::Utf8;  // what the text was read as
    std::vector<AnalogChannel> analog;
    std::vector<DigitalChannel> digital;
    double lineFrequency = 0;
    std::vector<RateSection> rates;  // empty: nrates 0
    std::int64_t totalSamples = -1;  // -1: nrates 0 without a sample count (the data decide)
    DateTime start, trigger;
    DataFormat format = DataFormat::Ascii;
    double timemult = 1;
    std::string timeCode, localCode;  // 2013, as written
    std::string tmqCode;              // 2013, as written
    int leapSeconds = 0;
    // True when the time stamps, not the sampling rates, give the time axis.
    bool timestampsOnly() const;
    // Seconds per time stamp unit before timemult: 1e-6, or 1e-9 when the
    // configuration's times carry nanoseconds (C37.111-2013 clause 7.4.6).
    double timestampUnit() const;
};

// Parses a configuration text (already in bytes as read). `file` names it in
// errors.
bool parseConfig(std::string_view bytes, Encoding encoding, const std::string& file, Config& out, Error& err);

// Decodes text in `encoding` (Auto: detects) to UTF-8; `used` receives the
// encoding chosen. False when the bytes are not valid in the encoding asked for.
bool decodeText(std::string_view bytes, Encoding encoding, std::string& out, Encoding* used, std::string* why);

// Raw samples of one analog channel, in the width the data file gives them.
class Column {
public:
    enum class Kind { I16, I32, F32, F64 };
    explicit Column(Kind k = Kind::I32) : kind_(k) {}
    Kind kind() const { return kind_; }
    std::size_t size() const;
    bool missing(std::size_t i) const;
    double raw(std::size_t i) const;  // NaN when missing
    void reserve(std::size_t n);
    void push(double v);  // I32/F64 (ASCII): widens to F64 when needed
    void pushI16(std::int16_t v) { i16_.push_back(v); }
    void pushI32(std::int32_t v) { i32_.push_back(v); }
    void pushF32(float v) { f32_.push_back(v); }
    std::size_t bytes() const;
    // Over samples [from, to): the index of the smallest and of the largest
    // present raw value (`to` when none) and whether a sample is missing.
    void extremes(std::size_t from, std::size_t to, std::size_t& lo, std::size_t& hi, bool& gap) const;

private:
    Kind kind_;
    std::vector<std::int16_t> i16_;
    std::vector<std::int32_t> i32_;
    std::vector<float> f32_;
    std::vector<double> f64_;
};

struct LoadOptions {
    Encoding encoding = Encoding::Auto;
    // Called now and then with the bytes read so far and the total; returning
    // false cancels the load (the error then says so).
    std::function<bool(std::uint64_t done, std::uint64_t total)> progress;
};

class Recording {
public:
    Config cfg;
    std::string header;  // .hdr text (UTF-8), empty when absent
    std::string info;    // .inf text (UTF-8), empty when absent
    std::string path;    // what was opened

    std::size_t samples() const { return timestamps_.size(); }
    // Seconds from the first sample (the configuration's start time).
    double time(std::size_t i) const;
    double triggerOffset() const { return cfg.trigger.secondsSince(cfg.start); }
    double duration() const { return samples() ? time(samples() - 1) : 0.0; }
    bool timestampMissing(std::size_t i) const { return timestamps_[i] < 0; }
    std::int64_t timestamp(std::size_t i) const { return timestamps_[i]; }
    // Sampling rate of sample i (0 in a recording with time stamps only).
    double rateAt(std::size_t i) const;

    const Column& column(std::size_t ch) const { return columns_[ch]; }
    bool missing(std::size_t ch, std::size_t i) const { return columns_[ch].missing(i); }
    double primary(std::size_t ch, std::size_t i) const { return cfg.analog[ch].toPrimary(columns_[ch].raw(i)); }
    double secondary(std::size_t ch, std::size_t i) const { return cfg.analog[ch].toSecondary(columns_[ch].raw(i)); }
    bool digital(std::size_t ch, std::size_t i) const {
        return (words_[i * wordsPerSample_ + ch / 16] >> (ch % 16)) & 1u;
    }
    // First sample at or after `t` seconds (samples() when none).
    std::size_t indexAt(double t) const;
    // Bytes held by the samples.
    std::size_t bytes() const;

private:
    friend class DataReader;
    std::vector<std::int64_t> timestamps_;  // -1: missing
    std::vector<Column> columns_;
    std::vector<std::uint16_t> words_;  // digital status words, wordsPerSample_ per sample
    std::size_t wordsPerSample_ = 0;
    std::vector<double> sectionStart_;        // time of each rate section's first sample
    std::vector<std::int64_t> sectionFirst_;  // its index (0-based)
};

// Reads a recording from a .cfg, .dat or .cff path (companions are found by
// the base name, in either letter case).
bool load(const std::string& path, Recording& out, Error& err, const LoadOptions& options = {});
// Reads a recording from bytes in memory (the fuzz entry and tests).
bool parse(std::string_view cfg, std::string_view dat, Recording& out, Error& err, const LoadOptions& options = {});
bool parseCff(std::string_view cff, Recording& out, Error& err, const LoadOptions& options = {});

// Per analog channel, over its present samples, in primary values.
struct AnalogStats {
    double min = 0, max = 0, rms = 0;
    std::size_t present = 0;
};
AnalogStats analogStats(const Recording& r, std::size_t ch);
// Changes of state of a digital channel from one sample to the next.
std::size_t transitions(const Recording& r, std::size_t ch);

// Points of a channel between times t0 and t1 reduced to at most about
// 2·buckets points (the first, the minimum and the maximum of each bucket,
// in time order), for drawing; missing samples give a NaN point (a gap).
struct Point {
    double t, v;
};
std::vector<Point> envelope(const Recording& r, std::size_t ch, double t0, double t1, std::size_t buckets);

}  // namespace zv::comtrade
