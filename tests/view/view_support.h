// Shared pieces of the recording and trend window tests: waiting on a
// condition while the event loop runs, and a recording written here whose
// every value is known.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <functional>
#include <string>

#include "zvt/qt_wait.h"

namespace viewtest {

using zvt::waitFor;

inline bool writeFile(const QString &path, const std::string &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
}

// "Sample station", device REC1, COMTRADE 1999 ASCII, 100 samples at 1000 Hz
// from 03/05/2024 12:00:00, trigger 40 ms later (sample 41):
//   IA  A   a=0.5          raw i   -> 0.5·i         (i = 0..99)
//   IB  A   a=0.5          raw -i  -> -0.5·i
//   UA  kV  a=0.01         raw 1000 -> 10, missing (99999) at i = 50..59
//   TRIP                   0 before sample 41, 1 from it on
// with a header and an information file.
inline std::string sampleConfig() {
    return "Sample station,REC1,1999\r\n4,3A,1D\r\n"
           "1,IA,A,,A,0.5,0,0,-32767,32767,600,1,P\r\n"
           "2,IB,B,,A,0.5,0,0,-32767,32767,600,1,P\r\n"
           "3,UA,A,,kV,0.01,0,0,-99998,99998,110,0.1,P\r\n"
           "1,TRIP,,,0\r\n50\r\n1\r\n1000,100\r\n"
           "03/05/2024,12:00:00.000000\r\n03/05/2024,12:00:00.040000\r\nASCII\r\n1\r\n";
}

inline std::string sampleData() {
    std::string d;
    for (int i = 0; i < 100; ++i) {
        d += std::to_string(i + 1) + "," + std::to_string(i * 1000) + "," + std::to_string(i) + "," +
             std::to_string(-i) + "," + (i >= 50 && i < 60 ? std::string("99999") : std::string("1000")) + "," +
             (i >= 40 ? "1" : "0") + "\r\n";
    }
    return d;
}

// Writes the sample recording as DIR/BASE.cfg, .dat, .hdr, .inf; the .cfg path.
inline QString writeSample(const QString &dir, const QString &base = QStringLiteral("sample")) {
    const QString p = QDir(dir).filePath(base);
    writeFile(p + ".cfg", sampleConfig());
    writeFile(p + ".dat", sampleData());
    writeFile(p + ".hdr", "Line 1 trip, phase A to earth\r\n");
    writeFile(p + ".inf", "[Public Record_Information]\r\nSource=test\r\n");
    return p + ".cfg";
}

}  // namespace viewtest
