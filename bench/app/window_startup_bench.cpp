// Start-up of the main window on a generated station (default 50 IEDs of
// about 5,000 objects): time until the constructor has built the tree, peak
// memory, and the fill time of the largest value table (every data set and
// logical device of the first server is clicked; the slowest fill counts).
//
//   window_startup_bench [ieds] [lns-per-ied]      (runs offscreen)
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "gui_srv.h"
#include "station_gen.h"

namespace {
double peakMb() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int ieds = argc > 1 ? std::atoi(argv[1]) : 50;
    const int lns = argc > 2 ? std::atoi(argv[2]) : 94;
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QFile::copy(QStringLiteral(ZV_LIB_PATH), dir.filePath("libzorvan_ld.so"));
    {
        QFile scd(dir.filePath("big.scd"));
        scd.open(QIODevice::WriteOnly);
        scd.write(QByteArray::fromStdString(zvbench::generate(ieds, lns)));
        QFile ini(dir.filePath("station.ini"));
        ini.open(QIODevice::WriteOnly);
        // No device answers: every address is refused at once.
        ini.write("[station]\nscl = big.scd\n");
    }
    qunsetenv("ZORVAN_STATION");
    const double before = peakMb();
    QElapsedTimer t;
    t.start();
    auto *win = new gui_srv();
    w = win;
    const double startup = t.elapsed() / 1000.0;
    long items = 0;
    std::function<void(QStandardItem *)> count = [&](QStandardItem *it) {
        for (int r = 0; r < it->rowCount(); ++r)
            if (QStandardItem *c = it->child(r)) {
                ++items;
                count(c);
            }
    };
    count(win->model->invisibleRootItem());
    std::printf("%d IEDs x %d LNs: window built in %.2f s, %ld tree items, peak RSS %.0f MB (%.0f MB before)\n", ieds,
                lns, startup, items, peakMb(), before);

    // Fill every child of the first logical device of server 0 and the device itself.
    QStandardItem *ld = win->model->item(0) ? win->model->item(0)->child(0) : nullptr;
    double slowest = 0;
    int rows = 0;
    QString what;
    if (ld) {
        QList<QStandardItem *> targets{ld};
        for (int r = 0; r < ld->rowCount(); ++r) targets << ld->child(r);
        for (QStandardItem *it : targets) {
            if (!it) continue;
            t.restart();
            win->ui.treeView->clicked(it->index());
            const double s = t.nsecsElapsed() / 1e9;
            if (s > slowest) {
                slowest = s;
                rows = win->tbmodel->rowCount();
                what = it->text();
            }
        }
    }
    std::printf("largest table fill: %.3f s (%d rows, %s)\n", slowest, rows, qPrintable(what));
    delete win;
    return 0;
}
