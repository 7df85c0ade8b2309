// wave_bench [MiB] [binary|ascii]
//
// Writes a recording of about MiB megabytes (default 100) into a temporary
// folder: 32 analog channels (a 50 Hz wave with a fault, a missing stretch
// in one channel) and 32 digital channels at 10 kHz, BINARY (default) or
// ASCII. Then measures, in this order, and prints:
//   - the recording window (offscreen, shown and painted empty first):
//     seconds from openFile() to the end of the first paint of the whole
//     recording, then to redraw a zoom to 20 ms and back to everything;
//   - the peak resident memory above the empty window against the file
//     size (the target: below twice the file size);
//   - the reader alone: seconds to load, bytes it holds, MB/s.
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "comtrade/comtrade.h"
#include "dialog_wave.h"

namespace ct = zv::comtrade;

namespace {

constexpr int kAnalog = 32, kDigital = 32, kRate = 10000;

long residentPeakKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kib;
}

long residentNowKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kib;
}

void put16(std::string& b, int v) { b += char(v & 0xFF), b += char((v >> 8) & 0xFF); }
void put32(std::string& b, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b += char((v >> (8 * k)) & 0xFF);
}

// Writes base.cfg and base.dat; returns the size of the data file.
long long writeRecording(const std::string& base, long long bytes, bool ascii) {
    const long long record = ascii ? 8 + kAnalog * 6 + kDigital * 2 : 8 + kAnalog * 2 + kDigital / 8;
    const long long samples = bytes / record;
    std::string cfg = "Bench station,REC 100,1999\r\n" + std::to_string(kAnalog + kDigital) + "," +
                      std::to_string(kAnalog) + "A," + std::to_string(kDigital) + "D\r\n";
    for (int a = 0; a < kAnalog; ++a)
        cfg += std::to_string(a + 1) + ",I" + std::to_string(a + 1) + ",A,,A,0.01,0,0,-32767,32767,600,1,P\r\n";
    for (int d = 0; d < kDigital; ++d) cfg += std::to_string(d + 1) + ",D" + std::to_string(d + 1) + ",,,0\r\n";
    cfg += "50\r\n1\r\n" + std::to_string(kRate) + "," + std::to_string(samples) + "\r\n";
    cfg += "07/12/2026,10:00:00.000000\r\n07/12/2026,10:00:01.000000\r\n";
    cfg += std::string(ascii ? "ASCII" : "BINARY") + "\r\n1\r\n";
    FILE* c = std::fopen((base + ".cfg").c_str(), "wb");
    std::fwrite(cfg.data(), 1, cfg.size(), c);
    std::fclose(c);
    FILE* f = std::fopen((base + ".dat").c_str(), "wb");
    std::string buf;
    for (long long i = 0; i < samples; ++i) {
        const double t = double(i) / kRate;
        const double amp = t >= 1.0 && t < 1.1 ? 3000 : 800;
        if (ascii) {
            buf += std::to_string(i + 1) + "," + std::to_string(i * 100);
            for (int a = 0; a < kAnalog; ++a) {
                const bool gap = a == 0 && i >= 20000 && i < 21000;
                buf += "," + (gap ? std::string("99999")
                                  : std::to_string(int(std::lround(amp * std::sin(2 * M_PI * 50 * t + a)))));
            }
            for (int d = 0; d < kDigital; ++d) buf += (t >= 1.0 + d * 0.01) ? ",1" : ",0";
            buf += "\r\n";
        } else {
            put32(buf, std::uint32_t(i + 1));
            put32(buf, std::uint32_t(i * 100));
            for (int a = 0; a < kAnalog; ++a) {
                const bool gap = a == 0 && i >= 20000 && i < 21000;
                put16(buf, gap ? 0x8000 : int(std::lround(amp * std::sin(2 * M_PI * 50 * t + a))));
            }
            for (int w = 0; w < kDigital / 16; ++w) {
                int word = 0;
                for (int k = 0; k < 16; ++k) word |= (t >= 1.0 + (w * 16 + k) * 0.01) << k;
                put16(buf, word);
            }
        }
        if (buf.size() > (1u << 20)) {
            std::fwrite(buf.data(), 1, buf.size(), f);
            buf.clear();
        }
    }
    std::fwrite(buf.data(), 1, buf.size(), f);
    const long long size = std::ftell(f);
    std::fclose(f);
    return size;
}

}  // namespace

int main(int argc, char** argv) {
    const long long mib = argc > 1 ? std::atoll(argv[1]) : 100;
    const bool ascii = argc > 2 && std::string(argv[2]) == "ascii";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    char dir[] = "/tmp/wave-bench.XXXXXX";
    if (!mkdtemp(dir)) return 2;
    const std::string base = std::string(dir) + "/big";
    std::printf("writing a %lld MiB %s recording (%d analog, %d digital, %d Hz)...\n", mib, ascii ? "ASCII" : "BINARY",
                kAnalog, kDigital, kRate);
    std::fflush(stdout);
    const long long size = writeRecording(base, mib << 20, ascii);

    QApplication app(argc, argv);
    int status = 0;
    long baseline = 0, peak = 0;
    {
        // The window as tarnwave shows it: up and painted, then the file opened.
        dialog_wave win;
        win.resize(1600, 1000);
        win.show();
        QCoreApplication::processEvents();
        win.grab();
        baseline = residentNowKiB();
        QElapsedTimer t;
        t.start();
        if (!win.openFile(QString::fromStdString(base + ".cfg"))) {
            std::fprintf(stderr, "window: %s\n", win.errorText().toStdString().c_str());
            return 1;
        }
        const double loaded = t.nsecsElapsed() * 1e-9;
        const QPixmap first = win.grab();  // the first paint
        const double painted = t.nsecsElapsed() * 1e-9;
        std::printf("data file           %.1f MB, %zu samples, %.1f s of recording\n", size / 1e6,
                    win.recording()->samples(), win.recording()->duration());
        std::printf("window load         %.3f s (read, channel ranges, traces built)\n", loaded);
        std::printf("first paint         %.3f s after openFile (%dx%d)\n", painted, first.width(), first.height());
        t.restart();
        win.setRange(1.0, 1.02);
        win.grab();
        std::printf("zoom to 20 ms       %.3f s to redraw and paint\n", t.nsecsElapsed() * 1e-9);
        t.restart();
        win.setRange(0, win.recording()->duration());
        win.grab();
        std::printf("back to everything  %.3f s to redraw and paint\n", t.nsecsElapsed() * 1e-9);
        peak = residentPeakKiB();
    }
    {
        QElapsedTimer t;
        t.start();
        ct::Recording r;
        ct::Error err;
        if (!ct::load(base + ".cfg", r, err)) {
            std::fprintf(stderr, "load failed: %s\n", err.text().c_str());
            status = 1;
        }
        const double s = t.nsecsElapsed() * 1e-9;
        std::printf("reader alone        %.3f s (%.0f MB/s), holds %.1f MB (%.2f x file)\n", s, size / 1e6 / s,
                    r.bytes() / 1e6, double(r.bytes()) / double(size));
    }
    std::printf("peak resident       %.1f MB; above the shown empty window (%.1f MB): %.1f MB = %.2f x file\n",
                peak * 1024 / 1e6, baseline * 1024 / 1e6, (peak - baseline) * 1024 / 1e6,
                (peak - baseline) * 1024.0 / double(size));
    std::remove((base + ".cfg").c_str());
    std::remove((base + ".dat").c_str());
    rmdir(dir);
    return status;
}
