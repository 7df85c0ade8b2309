// The reader on recordings written here, byte by byte, for every data
// format, revision, rate layout and character set; the expected values are
// worked out by hand in the comments.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "comtrade/comtrade.h"
#include "zvt/files.h"

namespace ct = zv::comtrade;

namespace {

// Little-endian record writer for the binary formats.
struct Bin {
    std::string b;
    void u16(std::uint16_t v) { b += char(v & 0xFF), b += char(v >> 8); }
    void u32(std::uint32_t v) {
        for (int k = 0; k < 4; ++k) b += char((v >> (8 * k)) & 0xFF);
    }
    void f32(float f) {
        std::uint32_t v;
        std::memcpy(&v, &f, 4);
        u32(v);
    }
};

// Two analog channels and three digital ones, five samples at 1000 Hz:
//   IA: a=0.5 b=1, primary values (P)       raw 10, -4, missing, 6, 0  -> 6, -1, gap, 4, 1
//   UB: a=2 b=0, secondary values, 600/1 (S) raw 1, 2, 3, -1, 0         -> 1200, 2400, 3600, -1200, 0
//   D1 0,1,1,0,0 (2 transitions)  D2 1,1,1,1,1 (0)  D3 0,1,0,1,0 (4)
const std::int32_t kIA[] = {10, -4, 0 /*missing*/, 6, 0};
const std::int32_t kUB[] = {1, 2, 3, -1, 0};
const int kD[3][5] = {{0, 1, 1, 0, 0}, {1, 1, 1, 1, 1}, {0, 1, 0, 1, 0}};

std::string config(const char* rev, const char* format, const char* rates = "1\r\n1000,5\r\n") {
    std::string c = std::string("North,REC 7") + (rev[0] ? std::string(",") + rev : std::string()) + "\r\n";
    c += "5,2A,3D\r\n";
    if (std::string(rev).empty()) {  // 1991: no factors, digital Dn,ch_id,y
        c += "1,IA,A,L1,A,0.5,1,0,-32767,32767\r\n2,UB,B,L1,kV,2,0,0,-32767,32767\r\n";
        c += "1,D1,0\r\n2,D2,1\r\n3,D3,0\r\n";
    } else {
        c += "1,IA,A,L1,A,0.5,1,0,-32767,32767,1,1,P\r\n2,UB,B,L1,kV,2,0,0,-32767,32767,600,1,S\r\n";
        c += "1,D1,,,0\r\n2,D2,,,1\r\n3,D3,,,0\r\n";
    }
    c += "50\r\n";
    c += rates;
    if (std::string(rev).empty())
        c += "05/03/24,12:00:00.000000\r\n05/03/24,12:00:00.002500\r\n";  // mm/dd/yy
    else
        c += "03/05/2024,12:00:00.000000\r\n03/05/2024,12:00:00.002500\r\n";
    c += std::string(format) + "\r\n";
    if (!std::string(rev).empty()) c += "1\r\n";
    if (std::string(rev) == "2013") c += "+8h00,+8h00\r\nF,0\r\n";
    return c;
}

std::string data(ct::DataFormat f, bool timestamps = true) {
    if (f == ct::DataFormat::Ascii) {
        std::string d;
        for (int i = 0; i < 5; ++i) {
            d += std::to_string(i + 1) + "," + (timestamps ? std::to_string(i * 1000) : std::string()) + ",";
            d += (i == 2 ? std::string("99999") : std::to_string(kIA[i])) + "," + std::to_string(kUB[i]);
            for (int k = 0; k < 3; ++k) d += "," + std::to_string(kD[k][i]);
            d += "\r\n";
        }
        return d;
    }
    Bin b;
    for (int i = 0; i < 5; ++i) {
        b.u32(std::uint32_t(i + 1));
        b.u32(timestamps ? std::uint32_t(i * 1000) : 0xFFFFFFFFu);
        for (int ch = 0; ch < 2; ++ch) {
            const std::int32_t v = ch == 0 ? kIA[i] : kUB[i];
            const bool gap = ch == 0 && i == 2;
            if (f == ct::DataFormat::Binary) b.u16(gap ? 0x8000 : std::uint16_t(std::int16_t(v)));
            if (f == ct::DataFormat::Binary32) b.u32(gap ? 0x80000000u : std::uint32_t(v));
            if (f == ct::DataFormat::Float32) b.f32(gap ? std::nanf("") : float(v));
        }
        b.u16(std::uint16_t(kD[0][i] | kD[1][i] << 1 | kD[2][i] << 2));
    }
    return b.b;
}

void expectTheRecording(const ct::Recording& r) {
    ASSERT_EQ(r.samples(), 5u);
    EXPECT_EQ(r.cfg.station, "North");
    EXPECT_EQ(r.cfg.device, "REC 7");
    ASSERT_EQ(r.cfg.analog.size(), 2u);
    ASSERT_EQ(r.cfg.digital.size(), 3u);
    const double ia[] = {6, -1, NAN, 4, 1};
    for (int i = 0; i < 5; ++i) {
        if (std::isnan(ia[i])) {
            EXPECT_TRUE(r.missing(0, 2));
            EXPECT_TRUE(std::isnan(r.primary(0, 2)));
        } else {
            EXPECT_DOUBLE_EQ(r.primary(0, std::size_t(i)), ia[i]) << "IA sample " << i + 1;
        }
        EXPECT_DOUBLE_EQ(r.time(std::size_t(i)), i * 0.001);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(r.digital(std::size_t(k), std::size_t(i)), kD[k][i] == 1) << "D" << k + 1 << " " << i;
    }
    EXPECT_DOUBLE_EQ(r.triggerOffset(), 0.0025);
    EXPECT_EQ(ct::transitions(r, 0), 2u);
    EXPECT_EQ(ct::transitions(r, 1), 0u);
    EXPECT_EQ(ct::transitions(r, 2), 4u);
    // IA over its four present samples 6, -1, 4, 1: rms = sqrt((36+1+16+1)/4) = sqrt(13.5).
    const ct::AnalogStats s = ct::analogStats(r, 0);
    EXPECT_EQ(s.present, 4u);
    EXPECT_DOUBLE_EQ(s.min, -1);
    EXPECT_DOUBLE_EQ(s.max, 6);
    EXPECT_DOUBLE_EQ(s.rms, std::sqrt(13.5));
}

struct FormatRow {
    const char* name;
    const char* revision;  // "" for 1991
    ct::DataFormat format;
};

class EveryFormat : public ::testing::TestWithParam<FormatRow> {};

TEST_P(EveryFormat, ReadsValuesGapsTimesAndDigitalsFromCfgAndDat) {
    const FormatRow& row = GetParam();
    ct::Recording r;
    ct::Error err;
    ASSERT_TRUE(ct::parse(config(row.revision, ct::formatName(row.format)), data(row.format), r, err)) << err.text();
    expectTheRecording(r);
    EXPECT_EQ(r.cfg.format, row.format);
    if (row.revision[0]) {
        // UB gives secondary values: 2·raw kV on the secondary side, ×600 on the primary.
        const double ub[] = {1200, 2400, 3600, -1200, 0};
        for (int i = 0; i < 5; ++i) {
            EXPECT_DOUBLE_EQ(r.primary(1, std::size_t(i)), ub[i]);
            EXPECT_DOUBLE_EQ(r.secondary(1, std::size_t(i)), ub[i] / 600);
        }
    } else {
        EXPECT_EQ(r.cfg.revision, ct::Revision::R1991);
        EXPECT_DOUBLE_EQ(r.primary(1, 1), 4);  // 1991: no factors, a·x+b as is
    }
}

TEST_P(EveryFormat, ReadsTheSameFromACombinedFile) {
    const FormatRow& row = GetParam();
    const std::string dat = data(row.format);
    std::string cff = "--- file type: CFG ---\r\n" + config("2013", ct::formatName(row.format));
    cff += "--- file type: INF ---\r\n[Public Record_Information]\r\n";
    cff += "--- file type: HDR ---\r\nLine 3 fault, zone 1\r\n";
    cff += std::string("--- file type: DAT ") + ct::formatName(row.format) + ": " + std::to_string(dat.size()) +
           " ---\r\n" + dat;
    ct::Recording r;
    ct::Error err;
    ASSERT_TRUE(ct::parseCff(cff, r, err)) << err.text();
    expectTheRecording(r);
    EXPECT_EQ(r.header, "Line 3 fault, zone 1\r\n");
    EXPECT_EQ(r.info, "[Public Record_Information]\r\n");
    EXPECT_EQ(r.cfg.timeCode, "+8h00");
    EXPECT_EQ(r.cfg.tmqCode, "F");
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat,
                         ::testing::Values(FormatRow{"Ascii1991", "", ct::DataFormat::Ascii},
                                           FormatRow{"Binary1991", "", ct::DataFormat::Binary},
                                           FormatRow{"Ascii1999", "1999", ct::DataFormat::Ascii},
                                           FormatRow{"Binary1999", "1999", ct::DataFormat::Binary},
                                           FormatRow{"Ascii2013", "2013", ct::DataFormat::Ascii},
                                           FormatRow{"Binary2013", "2013", ct::DataFormat::Binary},
                                           FormatRow{"Binary32_2013", "2013", ct::DataFormat::Binary32},
                                           FormatRow{"Float32_2013", "2013", ct::DataFormat::Float32}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- time axes ----------------------------------------------------------------

struct RateRow {
    const char* name;
    const char* rates;  // nrates line and samp,endsamp lines
    const char* timemult;
    bool timestamps;  // the data carry time stamps
    double times[5];  // expected seconds from the first sample
    double rate3;     // rate of the third sample
};

class RateLayouts : public ::testing::TestWithParam<RateRow> {};

TEST_P(RateLayouts, GiveTheTimeOfEverySample) {
    const RateRow& row = GetParam();
    std::string cfg = config("1999", "BINARY", row.rates);
    cfg.replace(cfg.rfind("\r\n1\r\n"), 5, std::string("\r\n") + row.timemult + "\r\n");
    ct::Recording r;
    ct::Error err;
    ASSERT_TRUE(ct::parse(cfg, data(ct::DataFormat::Binary, row.timestamps), r, err)) << err.text();
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(r.time(std::size_t(i)), row.times[i], 1e-12) << "sample " << i + 1;
    EXPECT_DOUBLE_EQ(r.rateAt(2), row.rate3);
    // indexAt finds each sample by its own time and the next one just after it.
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(r.indexAt(r.time(i)), i);
        EXPECT_EQ(r.indexAt(r.time(i) + 1e-7), i + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, RateLayouts,
    ::testing::Values(
        // Time stamps 0, 1000, ... are ignored when a rate is given.
        RateRow{"OneRate", "1\r\n1000,5\r\n", "1", true, {0, 0.001, 0.002, 0.003, 0.004}, 1000},
        // 2 samples at 1000 Hz, then 3 at 250 Hz: each new section one of its own periods on.
        RateRow{"TwoRates", "2\r\n1000,2\r\n250,5\r\n", "1", false, {0, 0.001, 0.005, 0.009, 0.013}, 250},
        // nrates 0: time stamps (µs) × timemult 2.5.
        RateRow{"TimestampsOnly", "0\r\n0,5\r\n", "2.5", true, {0, 0.0025, 0.005, 0.0075, 0.01}, 0},
        // nrates 1 with samp 0 means the same.
        RateRow{"SampZero", "1\r\n0,5\r\n", "1", true, {0, 0.001, 0.002, 0.003, 0.004}, 0},
        // nrates 0 without a samp line: the data give the count.
        RateRow{"NoRateLine", "0\r\n", "1", true, {0, 0.001, 0.002, 0.003, 0.004}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TimeStamps, NanosecondTimesMakeTheTimeStampUnitANanosecond) {
    std::string cfg = config("2013", "ASCII", "0\r\n0,5\r\n");
    for (const char* t : {"12:00:00.000000\r\n", "12:00:00.002500\r\n"}) {
        const std::size_t at = cfg.find(t);
        cfg.replace(at, std::strlen(t), std::string(t).substr(0, 15) + "000\r\n");
    }
    ct::Recording r;
    ct::Error err;
    ASSERT_TRUE(ct::parse(cfg, data(ct::DataFormat::Ascii), r, err)) << err.text();
    EXPECT_DOUBLE_EQ(r.cfg.timestampUnit(), 1e-9);
    EXPECT_NEAR(r.time(4), 4000e-9, 1e-15);
    EXPECT_EQ(r.cfg.start.text(), "2024-05-03 12:00:00.000000000");
    EXPECT_EQ(r.cfg.trigger.text(), "2024-05-03 12:00:00.002500000");
}

TEST(TimeStamps, TriggerOnTheNextDayCountsTheWholeDay) {
    std::string cfg = config("1999", "ASCII");
    cfg.replace(cfg.find("03/05/2024,12:00:00.002500"), 26, "04/05/2024,00:00:01.500000");
    ct::Recording r;
    ct::Error err;
    ASSERT_TRUE(ct::parse(cfg, data(ct::DataFormat::Ascii), r, err)) << err.text();
    EXPECT_DOUBLE_EQ(r.triggerOffset(), 12 * 3600 + 1.5);  // from 12:00:00 to 00:00:01.5 next day
}

// ---- character sets -------------------------------------------------------------

struct TextRow {
    const char* name;
    std::string station;  // bytes as written in the file
    ct::Encoding asked;
    ct::Encoding used;
    const char* utf8;  // what the reader must give
};

class CharacterSets : public ::testing::TestWithParam<TextRow> {};

TEST_P(CharacterSets, StationNameReadsAsUtf8) {
    const TextRow& row = GetParam();
    std::string cfg = config("2013", "ASCII");
    cfg.replace(0, 5, row.station);
    ct::Recording r;
    ct::Error err;
    ct::LoadOptions opt;
    opt.encoding = row.asked;
    ASSERT_TRUE(ct::parse(cfg, data(ct::DataFormat::Ascii), r, err, opt)) << err.text();
    EXPECT_EQ(r.cfg.station, row.utf8);
    EXPECT_EQ(r.cfg.encoding, row.used);
}

INSTANTIATE_TEST_SUITE_P(
    Text, CharacterSets,
    ::testing::Values(TextRow{"Utf8", "\xE5\x8C\x97\xE7\xAB\x99", ct::Encoding::Auto, ct::Encoding::Utf8, "北站"},
                      TextRow{"Utf8WithByteOrderMark", "\xEF\xBB\xBF\xE5\x8C\x97\xE7\xAB\x99", ct::Encoding::Auto,
                              ct::Encoding::Utf8, "北站"},
                      // "北京变电站" in GB18030 (GB2312 range): B1B1 BEA9 B1E4 B5E7 D5BE.
                      TextRow{"Gb18030", "\xB1\xB1\xBE\xA9\xB1\xE4\xB5\xE7\xD5\xBE", ct::Encoding::Auto,
                              ct::Encoding::Gb18030, "北京变电站"},
                      // A four-byte GB18030 sequence: 0x81308130 is U+0080.
                      TextRow{"Gb18030FourBytes", "\xB1\xB1\x81\x30\x81\x30", ct::Encoding::Gb18030,
                              ct::Encoding::Gb18030, "北\xC2\x80"},
                      // "Müller Süd" in Latin-1: FC after M pairs with 'l' only as a rare GBK code, not GB2312.
                      TextRow{"Latin1",
                              "M\xFCller S\xFC"
                              "d",
                              ct::Encoding::Auto, ct::Encoding::Latin1, "Müller Süd"},
                      TextRow{"Latin1Asked", "\xB1\xB1", ct::Encoding::Latin1, ct::Encoding::Latin1, "±±"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CharacterSets, TextThatIsNotTheAskedCharacterSetIsAnError) {
    std::string cfg = config("2013", "ASCII");
    cfg.replace(0, 5, "M\xFCller");
    ct::Recording r;
    ct::Error err;
    ct::LoadOptions opt;
    opt.encoding = ct::Encoding::Utf8;
    EXPECT_FALSE(ct::parse(cfg, data(ct::DataFormat::Ascii), r, err, opt));
    EXPECT_NE(err.text().find("UTF-8"), std::string::npos) << err.text();
}

// ---- malformed and truncated input ------------------------------------------------

struct BadRow {
    const char* name;
    std::string from, to;  // replace `from` by `to` in the 1999 ASCII configuration (or the data: from starts with '#')
    const char* expected;  // in Error::text()
};

class Malformed : public ::testing::TestWithParam<BadRow> {};

TEST_P(Malformed, FailsWithTheLineOrSampleAndTheReason) {
    const BadRow& row = GetParam();
    std::string cfg = config("1999", "ASCII");
    std::string dat = data(ct::DataFormat::Ascii);
    std::string& target = row.from[0] == '#' ? dat : cfg;
    const std::string from = row.from[0] == '#' ? row.from.substr(1) : row.from;
    const std::size_t at = target.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    target.replace(at, from.size(), row.to);
    ct::Recording r;
    ct::Error err;
    EXPECT_FALSE(ct::parse(cfg, dat, r, err));
    EXPECT_NE(err.text().find(row.expected), std::string::npos) << err.text();
}

INSTANTIATE_TEST_SUITE_P(
    Bad, Malformed,
    ::testing::Values(
        BadRow{"UnknownRevision", ",1999\r\n", ",2005\r\n", "cfg line 1: revision year 2005"},
        BadRow{"CountsDoNotAdd", "5,2A,3D", "6,2A,3D", "cfg line 2: TT 6 is not 2A + 3D"},
        BadRow{"CountWithoutLetter", "5,2A,3D", "5,2,3D", "cfg line 2: channel count \"2\""},
        BadRow{"MoreChannelsThanLines", "5,2A,3D", "999999,999996A,3D",
               "the file ends before the 999999 channel lines"},
        BadRow{"AnalogFieldMissing", "2,UB,B,L1,kV,2,0,0,-32767,32767,600,1,S", "2,UB,B,L1,kV,2,0,0,-32767,32767,600,1",
               "cfg line 4: analog channel: expected 13 fields, found 12"},
        BadRow{"ScaleNotANumber", "1,IA,A,L1,A,0.5,", "1,IA,A,L1,A,0.5x,", "cfg line 3: a \"0.5x\" is not a number"},
        BadRow{"SecondaryWithoutRatio", "600,1,S", "0,1,S", "cfg line 4: channel 2 gives secondary values"},
        BadRow{"BadPsFlag", "1,1,P", "1,1,Q", "cfg line 3: PS \"Q\""},
        BadRow{"DigitalNormalState", "2,D2,,,1", "2,D2,,,2", "cfg line 6: normal state 2"},
        BadRow{"TooManyRates", "\r\n1\r\n1000,5", "\r\n1000\r\n1000,5", "cfg line 9: nrates 1000"},
        BadRow{"EndSampleGoesBack", "\r\n1\r\n1000,5", "\r\n2\r\n1000,5\r\n1000,4",
               "cfg line 11: endsamp 4 does not follow 5"},
        BadRow{"DayThatDoesNotExist", "03/05/2024,12:00:00.000000", "31/04/2024,12:00:00.000000",
               "cfg line 11: first sample time"},
        BadRow{"HourOutOfRange", "12:00:00.002500", "24:00:00.002500", "cfg line 12: trigger time: time"},
        BadRow{"UnknownFormat", "ASCII", "EBCDIC", "cfg line 13: data file type \"EBCDIC\""},
        BadRow{"Binary32In1999", "ASCII", "BINARY32", "BINARY32 data needs revision 2013"},
        BadRow{"TimemultZero", "ASCII\r\n1\r\n", "ASCII\r\n0\r\n", "cfg line 14: timemult 0"},
        BadRow{"DateWhereRateShouldBe", "50\r\n1\r\n1000,5\r\n", "50\r\n1\r\n",
               "cfg line 10: samp \"03/05/2024\" is not a number"},
        BadRow{"EmptyLine", "50\r\n", "\r\n50\r\n", "cfg line 8: empty line"},
        BadRow{"DataFieldMissing", "#3,2000,99999,3,1,1,0", "3,2000,99999,3,1,1",
               "dat line 3: sample 3: expected 7 fields, found 6"},
        BadRow{"DataValueNotANumber", "#4,3000,6,", "4,3000,6x,",
               "dat line 4: sample 4: analog channel 1 value \"6x\""},
        BadRow{"DigitalNotZeroOrOne", "#5,4000,0,0,0,1,0", "5,4000,0,0,0,1,7",
               "dat line 5: sample 5: digital channel 3 value \"7\""},
        BadRow{"TimeStampNotANumber", "#2,1000,", "2,1e3,", "dat line 2: sample 2: time stamp \"1e3\""},
        BadRow{"TooFewSamples", "#5,4000,0,0,0,1,0\r\n", "", "dat sample 5: the data end after sample 4 of 5"},
        BadRow{"TooManySamples", "#5,4000,0,0,0,1,0\r\n", "5,4000,0,0,0,1,0\r\n6,5000,0,0,0,1,0\r\n",
               "dat line 6: sample 6 beyond the configuration's 5"},
        BadRow{"BlankLineBetweenSamples", "#\r\n3,", "\r\n\r\n3,", "dat line 3: empty line between samples"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Malformed, TimeStampsGoingBackInARecordingTimedByThemFail) {
    std::string dat = data(ct::DataFormat::Ascii);
    dat.replace(dat.find("5,4000"), 6, "5,2500");
    ct::Recording r;
    ct::Error err;
    EXPECT_FALSE(ct::parse(config("1999", "ASCII", "0\r\n0,5\r\n"), dat, r, err));
    EXPECT_EQ(err.text(), "dat sample 5: time stamp 2500 is before the previous sample's");
}

TEST(Malformed, MissingTimeStampInARecordingTimedByThemFails) {
    ct::Recording r;
    ct::Error err;
    EXPECT_FALSE(ct::parse(config("1999", "BINARY", "0\r\n0,5\r\n"), data(ct::DataFormat::Binary, false), r, err));
    EXPECT_EQ(err.text(), "dat sample 1: time stamp missing in a recording timed by its time stamps");
}

// Every shorter length of a binary data file is an error that names the
// sample it ends in; none reads, and none crashes.
TEST(Truncated, EveryCutOfABinaryDataFileNamesTheSample) {
    for (ct::DataFormat f : {ct::DataFormat::Binary, ct::DataFormat::Binary32, ct::DataFormat::Float32}) {
        const std::string dat = data(f);
        const std::size_t record = dat.size() / 5;
        for (std::size_t len = 0; len < dat.size(); ++len) {
            ct::Recording r;
            ct::Error err;
            ASSERT_FALSE(ct::parse(config("2013", ct::formatName(f)), dat.substr(0, len), r, err)) << len;
            const std::int64_t sample = std::int64_t(len / record) + 1;
            EXPECT_EQ(err.sample, sample) << ct::formatName(f) << " cut at " << len << ": " << err.text();
        }
    }
}

// Every shorter configuration fails at a line (or at the data, when only
// optional trailing lines are cut); none reads silently as something else.
TEST(Truncated, EveryCutOfAConfigurationFailsOrDropsOnlyOptionalLines) {
    const std::string cfg = config("2013", "ASCII");
    const std::string dat = data(ct::DataFormat::Ascii);
    const std::size_t optional = cfg.find("ASCII\r\n") + 5;  // timemult and the 2013 lines may be left out
    for (std::size_t len = 0; len < cfg.size(); ++len) {
        ct::Recording r;
        ct::Error err;
        const bool ok = ct::parse(cfg.substr(0, len), dat, r, err);
        if (len >= optional && ok) continue;
        if (ok)
            ADD_FAILURE() << "configuration cut at " << len << " read";
        else
            EXPECT_FALSE(err.reason.empty());
    }
}

TEST(Truncated, CombinedFileWithAShortDataSectionFails) {
    const std::string dat = data(ct::DataFormat::Binary);
    const std::string cff = "--- file type: CFG ---\n" + config("2013", "BINARY") +
                            "--- file type: DAT BINARY: " + std::to_string(dat.size()) + " ---\n" +
                            dat.substr(0, dat.size() - 3);
    ct::Recording r;
    ct::Error err;
    EXPECT_FALSE(ct::parseCff(cff, r, err));
    EXPECT_NE(err.text().find("should hold 70 bytes, the file has 67"), std::string::npos) << err.text();
}

TEST(Combined, SectionTypeThatContradictsTheConfigurationFails) {
    const std::string cff = "--- file type: CFG ---\n" + config("2013", "ASCII") + "--- file type: DAT BINARY ---\n" +
                            data(ct::DataFormat::Ascii);
    ct::Recording r;
    ct::Error err;
    EXPECT_FALSE(ct::parseCff(cff, r, err));
    EXPECT_EQ(err.text(), "cff: the DAT section is BINARY, the configuration says ASCII");
}

// ---- files on disk ----------------------------------------------------------------

class OnDisk : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.empty()) << "no temporary folder"; }
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
    }
    zvt::TempDir dir{"comtrade"};
};

TEST_F(OnDisk, OpensByEitherFileWithCompanionsInUpperCaseAndReadsTheHeader) {
    write("FAULT1.CFG", config("1999", "BINARY"));
    write("FAULT1.DAT", data(ct::DataFormat::Binary));
    write("FAULT1.HDR", "Relay trip \xB1\xB1\xBE\xA9");  // GB18030 like the configuration would be
    for (const char* name : {"FAULT1.CFG", "FAULT1.DAT"}) {
        ct::Recording r;
        ct::Error err;
        ASSERT_TRUE(ct::load(dir + "/" + name, r, err)) << err.text();
        expectTheRecording(r);
        EXPECT_EQ(r.header, "Relay trip 北京");
    }
}

TEST_F(OnDisk, ReportsProgressAndCanBeCancelled) {
    // 200000 samples of ASCII (2.8 MB): more than one progress step.
    std::string cfg = config("1999", "ASCII", "1\r\n1000,200000\r\n");
    std::string dat;
    for (int i = 0; i < 200000; ++i) dat += std::to_string(i + 1) + ",0,1,2,0,1,0\n";
    write("big.cfg", cfg);
    write("big.dat", dat);
    ct::Recording r;
    ct::Error err;
    std::vector<std::uint64_t> seen;
    ct::LoadOptions opt;
    opt.progress = [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, dat.size());
        seen.push_back(done);
        return true;
    };
    ASSERT_TRUE(ct::load(dir + "/big.cfg", r, err, opt)) << err.text();
    EXPECT_EQ(r.samples(), 200000u);
    EXPECT_GE(seen.size(), 2u);
    opt.progress = [](std::uint64_t, std::uint64_t) { return false; };
    EXPECT_FALSE(ct::load(dir + "/big.cfg", r, err, opt));
    EXPECT_EQ(err.reason, "cancelled");
}

TEST_F(OnDisk, CombinedFileReadsItsDataFromTheFile) {
    const std::string dat = data(ct::DataFormat::Float32);
    write("rec.cff", "--- file type: CFG ---\n" + config("2013", "FLOAT32") +
                         "--- file type: DAT FLOAT32: " + std::to_string(dat.size()) + " ---\n" + dat);
    ct::Recording r;
    ct::Error err;
    ASSERT_TRUE(ct::load(dir + "/rec.cff", r, err)) << err.text();
    expectTheRecording(r);
}

TEST_F(OnDisk, MissingConfigurationIsNamed) {
    write("lone.dat", data(ct::DataFormat::Binary));
    ct::Recording r;
    ct::Error err;
    EXPECT_FALSE(ct::load(dir + "/lone.dat", r, err));
    EXPECT_EQ(err.text(), "lone.cfg: configuration file not found");
}

// ---- drawing ----------------------------------------------------------------------

TEST(Envelope, KeepsEveryExtremeAndGapWhileReducingThePoints) {
    // 10000 samples of a ramp with one spike at 5000 and a gap at 7000.
    std::string cfg = config("1999", "BINARY", "1\r\n1000,10000\r\n");
    Bin b;
    for (int i = 0; i < 10000; ++i) {
        b.u32(std::uint32_t(i + 1));
        b.u32(0);
        b.u16(i == 7000 ? 0x8000 : std::uint16_t(i == 5000 ? 30000 : i % 100));
        b.u16(0);
        b.u16(0);
    }
    ct::Recording r;
    ct::Error err;
    ASSERT_TRUE(ct::parse(cfg, b.b, r, err)) << err.text();
    const auto pts = ct::envelope(r, 0, 0, r.duration(), 100);
    EXPECT_LE(pts.size(), 3u * 100 + 2);
    double top = -1e9;
    bool gap = false;
    for (const auto& p : pts) {
        if (std::isnan(p.v))
            gap = true;
        else
            top = std::max(top, p.v);
    }
    EXPECT_DOUBLE_EQ(top, 30000 * 0.5 + 1);  // the spike, through a·x+b
    EXPECT_TRUE(gap);
    for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_LE(pts[i - 1].t, pts[i].t);
}

}  // namespace
