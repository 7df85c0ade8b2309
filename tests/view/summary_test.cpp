// tarnwave --summary on recordings written here: the printed figures worked
// out by hand, in every character set; reading errors on standard error.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <map>

#include "view_support.h"

namespace {

std::string le16(int v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string le32(std::uint32_t v) {
    return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}
std::string f32(float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    return le32(v);
}

// Station 北京变电站 and device 录波器1 in GB18030; one analog channel of
// secondary values (0.1 V a step, ratio 1100/1) and two digital channels.
std::string gbConfig() {
    return "\xB1\xB1\xBE\xA9\xB1\xE4\xB5\xE7\xD5\xBE,\xC2\xBC\xB2\xA8\xC6\xF7"
           "1,1999\r\n3,1A,2D\r\n"
           "1,Ua,A,,V,0.1,0,0,-32767,32767,1100,1,S\r\n1,D1,,,0\r\n2,D2,,,0\r\n50\r\n1\r\n2000,4\r\n"
           "31/12/2023,23:59:59.999000\r\n01/01/2024,00:00:00.000500\r\nBINARY\r\n1\r\n";
}
// raw 1000, -1000, missing, 500 -> secondary 100, -100, -, 50 V -> primary 110000, -110000, -, 55000
// D1 0,1,0,1 (3 transitions), D2 0 throughout.
std::string gbData() {
    const int raw[] = {1000, -1000, 0x8000, 500};
    std::string d;
    for (int i = 0; i < 4; ++i)
        d += le32(std::uint32_t(i + 1)) + le32(std::uint32_t(i * 500)) + le16(raw[i]) + le16(i % 2);
    return d;
}

// Zürich Süd in Latin-1, 2013, FLOAT32, timed by its time stamps (×0.5).
std::string latinCff() {
    const std::string dat = le32(1) + le32(0) + f32(1.25f) + le32(2) + le32(1000) + f32(-2.5f) + le32(3) + le32(3000) +
                            f32(std::nanf(""));
    return "--- file type: CFG ---\r\nZ\xFCrich S\xFC"
           "d,Bay 4,2013\r\n1,1A,0D\r\n1,I,,,A,1,0,0,-1e6,1e6,1,1,P\r\n50\r\n0\r\n0,3\r\n"
           "15/06/2024,08:30:00.000000\r\n15/06/2024,08:30:00.001000\r\nFLOAT32\r\n0.5\r\n+2,+2\r\n0,0\r\n"
           "--- file type: DAT FLOAT32: " +
           std::to_string(dat.size()) + " ---\r\n" + dat;
}

struct SummaryRow {
    const char *name;
    std::map<QString, std::string> files;
    const char *open;
    QStringList options;
    int exitCode;
    const char *out;  // standard output (exit 0) or standard error
};

class Summary : public ::testing::TestWithParam<SummaryRow> {};

TEST_P(Summary, PrintsTheFiguresOfTheRecording) {
    const SummaryRow &row = GetParam();
    QTemporaryDir dir;
    for (const auto &[name, bytes] : row.files) ASSERT_TRUE(viewtest::writeFile(dir.filePath(name), bytes));
    QProcess p;
    p.start(QStringLiteral(ZV_TARNWAVE_EXE), QStringList{QStringLiteral("--summary")} + row.options +
                                                 QStringList{dir.filePath(QLatin1String(row.open))});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), row.exitCode) << p.readAllStandardError().toStdString();
    const QByteArray out = row.exitCode == 0 ? p.readAllStandardOutput() : p.readAllStandardError();
    EXPECT_EQ(out.toStdString(), row.out);
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, Summary,
    ::testing::Values(SummaryRow{"Ascii1999",
                                 {{"sample.cfg", viewtest::sampleConfig()}, {"sample.dat", viewtest::sampleData()}},
                                 "sample.cfg",
                                 {},
                                 0,
                                 "station: Sample station\n"
                                 "device: REC1\n"
                                 "revision: 1999\n"
                                 "encoding: UTF-8\n"
                                 "format: ASCII\n"
                                 "channels: 4 (3 analog, 1 digital)\n"
                                 "samples: 100\n"
                                 "line frequency: 50 Hz\n"
                                 "sampling: 1000 Hz to sample 100\n"
                                 "start: 2024-05-03 12:00:00.000000\n"
                                 "trigger: 2024-05-03 12:00:00.040000 (+40 ms)\n"
                                 // 0.5·i for i = 0..99: rms = 0.5·sqrt(328350/100) = 28.65092
                                 "analog 1: IA [A] min 0 max 49.5 rms 28.65092\n"
                                 "analog 2: IB [A] min -49.5 max 0 rms 28.65092\n"
                                 "analog 3: UA [kV] min 10 max 10 rms 10 (10 missing)\n"
                                 "digital 1: TRIP transitions 1\n"},
                      SummaryRow{"Gb18030Binary",
                                 {{"gb.CFG", gbConfig()}, {"gb.DAT", gbData()}},
                                 "gb.DAT",
                                 {},
                                 0,
                                 "station: 北京变电站\n"
                                 "device: 录波器1\n"
                                 "revision: 1999\n"
                                 "encoding: GB18030\n"
                                 "format: BINARY\n"
                                 "channels: 3 (1 analog, 2 digital)\n"
                                 "samples: 4\n"
                                 "line frequency: 50 Hz\n"
                                 "sampling: 2000 Hz to sample 4\n"
                                 "start: 2023-12-31 23:59:59.999000\n"
                                 // across midnight and the year: 1 ms + 0.5 ms
                                 "trigger: 2024-01-01 00:00:00.000500 (+1.5 ms)\n"
                                 // sqrt((2·110000² + 55000²)/3) = 95262.79
                                 "analog 1: Ua [V] min -110000 max 110000 rms 95262.79 (1 missing)\n"
                                 "digital 1: D1 transitions 3\n"
                                 "digital 2: D2 transitions 0\n"},
                      SummaryRow{"Latin1Float32Combined",
                                 {{"rec.cff", latinCff()}},
                                 "rec.cff",
                                 {QStringLiteral("--encoding"), QStringLiteral("latin-1")},
                                 0,
                                 "station: Zürich Süd\n"
                                 "device: Bay 4\n"
                                 "revision: 2013\n"
                                 "encoding: Latin-1\n"
                                 "format: FLOAT32\n"
                                 "channels: 1 (1 analog, 0 digital)\n"
                                 "samples: 3\n"
                                 "line frequency: 50 Hz\n"
                                 "sampling: time stamps, timemult 0.5\n"
                                 "start: 2024-06-15 08:30:00.000000\n"
                                 "trigger: 2024-06-15 08:30:00.001000 (+1 ms)\n"
                                 // sqrt((1.25² + 2.5²)/2) = 1.976424
                                 "analog 1: I [A] min -2.5 max 1.25 rms 1.976424 (1 missing)\n"},
                      SummaryRow{"TruncatedData",
                                 {{"sample.cfg", viewtest::sampleConfig()},
                                  {"sample.dat",
                                   viewtest::sampleData().substr(0, viewtest::sampleData().rfind("100,"))}},
                                 "sample.dat",
                                 {},
                                 1,
                                 "tarnwave: sample.dat sample 100: the data end after sample 99 of 100\n"},
                      SummaryRow{"NoConfiguration",
                                 {{"lone.dat", viewtest::sampleData()}},
                                 "lone.dat",
                                 {},
                                 1,
                                 "tarnwave: lone.cfg: configuration file not found\n"},
                      SummaryRow{"BrokenChannelLine",
                                 {{"bad.cfg", "S,R,1999\r\n1,1A,0D\r\n1,IA,A,,A,x,0,0,0,0,1,1,P\r\n"}, {"bad.dat", ""}},
                                 "bad.cfg",
                                 {},
                                 1,
                                 "tarnwave: bad.cfg line 3: a \"x\" is not a number\n"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
