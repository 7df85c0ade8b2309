// Pictures for the README: the recording window on a recording that iedsim
// (the sample station's CMIED) wrote. They go to $TARNMON_SCREENSHOT_DIR
// when it is set (screenshots.sh, under Xvfb), else to a temporary folder.
#include <gtest/gtest.h>

#include <QtCharts/QChart>
#include <QtCharts/QChartView>

#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>

#include "dialog_wave.h"
#include "zvt/iedsim.h"
#include "view_support.h"

namespace {

QString shotPath(const char *name) {
    static QTemporaryDir fallback;
    const QString dir = qEnvironmentVariable("TARNMON_SCREENSHOT_DIR");
    return QDir(dir.isEmpty() ? fallback.path() : dir).filePath(QLatin1String(name));
}

TEST(Screenshot, RecordingOfTheSampleStation) {
    QTemporaryDir root;
    const QString files = root.filePath(QStringLiteral("files"));
    QDir().mkpath(files);
    zvt::Sim sim("CMIED", 0, 0, files.toStdString(), {"--recordings", "1", "--seed", "4"});
    ASSERT_NE(sim.control_port, 0);
    QStringList cfgs;
    ASSERT_TRUE(viewtest::waitFor([&] {
        cfgs = QDir(files + QStringLiteral("/COMTRADE")).entryList({QStringLiteral("*.cfg")}, QDir::Files);
        return !cfgs.isEmpty();
    }));
    dialog_wave win;
    win.resize(1280, 800);
    win.show();
    ASSERT_TRUE(win.openFile(files + QStringLiteral("/COMTRADE/") + cfgs.first())) << win.errorText().toStdString();
    auto *view = win.findChild<QChartView *>(QStringLiteral("view_analog"));
    ASSERT_TRUE(viewtest::waitFor([&] { return view->chart()->plotArea().width() > 100; }));
    win.setRange(win.rangeStart(), win.rangeEnd());
    win.setCursorTime(win.recording()->triggerOffset() + 0.0125);  // a peak of the fault current
    viewtest::waitFor([] { return false; }, 300);                  // painted
    const QPixmap shot = win.grab();
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(shotPath("tarnwave.png"), "PNG")) << shotPath("tarnwave.png").toStdString();
}

}  // namespace
