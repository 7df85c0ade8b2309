// The recording window, through its widgets: channel boxes, the curves and
// step traces drawn, the trigger, the cursor table after a click on the
// chart, zoom and pan by buttons, wheel and drag, the header texts, and a
// broken recording that leaves a message.
#include <gtest/gtest.h>

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <cmath>

#include "dialog_wave.h"
#include "view_support.h"
#include "zvt/wiring.h"

namespace {

QValueAxis *timeAxis(QChartView *v) {
    for (QAbstractAxis *a : v->chart()->axes(Qt::Horizontal))
        if (auto *x = qobject_cast<QValueAxis *>(a)) return x;
    return nullptr;
}

// Visible series named `name` with points, and their points in all.
int parts(QChartView *v, const QString &name, int *points = nullptr) {
    int n = 0;
    if (points) *points = 0;
    for (QAbstractSeries *s : v->chart()->series()) {
        auto *l = qobject_cast<QLineSeries *>(s);
        if (l && l->name() == name && l->isVisible() && l->count() > 0) {
            ++n;
            if (points) *points += l->count();
        }
    }
    return n;
}

class WaveWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        cfg = viewtest::writeSample(dir.path());
        win.resize(1280, 800);
        win.show();
        ASSERT_TRUE(win.openFile(cfg)) << win.errorText().toStdString();
        ASSERT_TRUE(viewtest::waitFor([&] { return analog()->chart()->plotArea().width() > 100; }));
        win.setRange(win.rangeStart(), win.rangeEnd());  // drawn for the laid-out width
    }
    QChartView *analog() { return win.findChild<QChartView *>(QStringLiteral("view_analog")); }
    QChartView *digital() { return win.findChild<QChartView *>(QStringLiteral("view_digital")); }
    QTreeWidget *tree() { return win.findChild<QTreeWidget *>(QStringLiteral("tree_channels")); }
    QTableWidget *cursor() { return win.findChild<QTableWidget *>(QStringLiteral("table_cursor")); }
    void trigger(const char *action) { win.findChild<QAction *>(QLatin1String(action))->trigger(); }
    // The viewport point of `ms` (from the trigger) in the middle of the plot.
    QPoint pointAt(QChartView *v, double ms) {
        QValueAxis *x = timeAxis(v);
        const QRectF area = v->chart()->plotArea();
        const double px = area.left() + (ms - x->min()) / (x->max() - x->min()) * area.width();
        return v->mapFromScene(v->chart()->mapToScene(QPointF(px, area.center().y())));
    }
    QString cell(int row, int col) { return cursor()->item(row, col) ? cursor()->item(row, col)->text() : QString(); }

    QTemporaryDir dir;
    QString cfg;
    dialog_wave win;
};

TEST_F(WaveWindow, OffersABoxPerChannelAndDrawsTheCheckedOnes) {
    ASSERT_EQ(tree()->topLevelItemCount(), 2);
    ASSERT_EQ(tree()->topLevelItem(0)->childCount(), 3);
    ASSERT_EQ(tree()->topLevelItem(1)->childCount(), 1);
    EXPECT_EQ(tree()->topLevelItem(0)->child(2)->text(0), QStringLiteral("3 UA [kV]"));
    EXPECT_EQ(tree()->topLevelItem(1)->child(0)->checkState(0), Qt::Checked);  // TRIP changes, so it is shown
    EXPECT_EQ(parts(analog(), QStringLiteral("IA (A)")), 1);
    // UA misses samples 51..60: two runs, the gap left empty.
    int points = 0;
    EXPECT_EQ(parts(analog(), QStringLiteral("UA (kV)"), &points), 2);
    EXPECT_EQ(points, 90);
    // The trace of TRIP: low, one step up at the trigger (0 ms), high to the end.
    QLineSeries *trip = nullptr;
    for (QAbstractSeries *s : digital()->chart()->series()) {
        auto *l = qobject_cast<QLineSeries *>(s);
        if (l && l->isVisible() && l->count() == 4) trip = l;
    }
    ASSERT_NE(trip, nullptr);
    EXPECT_NEAR(trip->at(0).x(), -40, 1e-9);
    EXPECT_NEAR(trip->at(1).x(), 0, 1e-9);
    EXPECT_NEAR(trip->at(2).x(), 0, 1e-9);
    EXPECT_NEAR(trip->at(3).x(), 59, 1e-9);
    EXPECT_DOUBLE_EQ(trip->at(2).y() - trip->at(1).y(), 1);
}

TEST_F(WaveWindow, MarksTheTriggerInBothCharts) {
    for (QChartView *v : {analog(), digital()}) {
        bool found = false;
        for (QAbstractSeries *s : v->chart()->series()) {
            auto *l = qobject_cast<QLineSeries *>(s);
            if (l && l->count() == 2 && std::fabs(l->at(0).x()) < 1e-9 && std::fabs(l->at(1).x()) < 1e-9 &&
                l->pen().color() == QColor(0xd0, 0, 0))
                found = true;
        }
        EXPECT_TRUE(found) << v->objectName().toStdString();
    }
}

struct CursorRow {
    const char *name;
    double ms;  // from the trigger
    const char *time, *sample, *ia, *ib, *ua, *trip;
};

class WaveCursor : public WaveWindow, public ::testing::WithParamInterface<CursorRow> {};

TEST_P(WaveCursor, AClickReadsTheTimeAndEveryValue) {
    const CursorRow &row = GetParam();
    QTest::mouseClick(analog()->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(analog(), row.ms));
    EXPECT_EQ(cell(0, 1), QLatin1String(row.time));
    EXPECT_TRUE(cell(0, 2).contains(QString::fromUtf8(row.sample))) << cell(0, 2).toStdString();
    EXPECT_EQ(cell(1, 1), QLatin1String(row.ia));
    EXPECT_EQ(cell(2, 1), QLatin1String(row.ib));
    EXPECT_EQ(cell(3, 1), QString::fromUtf8(row.ua));
    EXPECT_EQ(cell(4, 1), QLatin1String(row.trip));
    EXPECT_EQ(cell(3, 2), QStringLiteral("kV"));
}

INSTANTIATE_TEST_SUITE_P(Cursor, WaveCursor,
                         ::testing::Values(
                             // 20 ms after the start is sample 21 (i = 20): IA 10, IB -10, UA 10, TRIP 0.
                             CursorRow{"BeforeTheTrigger", -20, "-20.000", "第 21 点", "10", "-10", "10", "0"},
                             // The trigger itself, sample 41 (i = 40).
                             CursorRow{"AtTheTrigger", 0, "0.000", "第 41 点", "20", "-20", "10", "1"},
                             // 15 ms after: i = 55, inside UA's gap.
                             CursorRow{"InAGap", 15, "15.000", "第 56 点", "27.5", "-27.5", "缺失", "1"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(WaveWindow, UncheckingABoxTakesItsTraceAway) {
    QTreeWidgetItem *ia = tree()->topLevelItem(0)->child(0);
    ia->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(parts(analog(), QStringLiteral("IA (A)")), 0);
    ia->setCheckState(0, Qt::Checked);
    EXPECT_EQ(parts(analog(), QStringLiteral("IA (A)")), 1);
}

TEST_F(WaveWindow, ZoomAndPanMoveTheTimeRange) {
    trigger("action_reset");
    EXPECT_DOUBLE_EQ(win.rangeStart(), 0);
    EXPECT_DOUBLE_EQ(win.rangeEnd(), 0.099);
    trigger("action_zoomin");  // half the width around the middle
    EXPECT_NEAR(win.rangeEnd() - win.rangeStart(), 0.0495, 1e-12);
    EXPECT_NEAR(win.rangeStart(), 0.02475, 1e-12);
    trigger("action_left");  // a quarter of the width earlier
    EXPECT_NEAR(win.rangeStart(), 0.02475 - 0.012375, 1e-12);
    trigger("action_zoomout");
    trigger("action_zoomout");  // never wider than the recording
    EXPECT_DOUBLE_EQ(win.rangeStart(), 0);
    EXPECT_DOUBLE_EQ(win.rangeEnd(), 0.099);
    EXPECT_NEAR(timeAxis(analog())->min(), -40, 1e-9);
    EXPECT_NEAR(timeAxis(digital())->max(), 59, 1e-9);

    // The wheel zooms around the time under the mouse: that time stays put.
    const QPoint at = pointAt(analog(), 0);
    QWheelEvent wheel(at, analog()->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(analog()->viewport(), &wheel);
    EXPECT_NEAR(win.rangeEnd() - win.rangeStart(), 0.099 * 0.8, 1e-9);
    const double before = win.rangeStart();
    EXPECT_NEAR((0.04 - before) / (win.rangeEnd() - before), 0.04 / 0.099, 0.02);

    // Dragging to the left shows later times.
    const QPoint from = pointAt(analog(), 0), to = from - QPoint(200, 0);
    QTest::mousePress(analog()->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, to, analog()->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(analog()->viewport(), &move);
    QTest::mouseRelease(analog()->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_GT(win.rangeStart(), before);
}

TEST_F(WaveWindow, ShowsTheHeaderAndInformationTexts) {
    EXPECT_EQ(win.findChild<QPlainTextEdit *>(QStringLiteral("text_hdr"))->toPlainText(),
              QStringLiteral("Line 1 trip, phase A to earth\n"));
    EXPECT_TRUE(win.findChild<QPlainTextEdit *>(QStringLiteral("text_inf"))
                    ->toPlainText()
                    .contains(QStringLiteral("Source=test")));
    const QString info = win.findChild<QLabel *>(QStringLiteral("label_info"))->text();
    EXPECT_TRUE(info.contains(QStringLiteral("Sample station"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QStringLiteral("1000 Hz"))) << info.toStdString();
}

TEST_F(WaveWindow, ABrokenRecordingLeavesAMessageAndTheOldOneShown) {
    const QString bad = QDir(dir.path()).filePath(QStringLiteral("bad"));
    std::string dat = viewtest::sampleData();
    dat.resize(dat.size() / 2);  // cut in the middle of a sample line
    viewtest::writeFile(bad + ".cfg", viewtest::sampleConfig());
    viewtest::writeFile(bad + ".dat", dat);
    EXPECT_FALSE(win.openFile(bad + ".cfg"));
    EXPECT_TRUE(win.errorText().contains(QStringLiteral("bad.dat"))) << win.errorText().toStdString();
    EXPECT_TRUE(win.errorText().contains(QStringLiteral("sample"))) << win.errorText().toStdString();
    ASSERT_NE(win.recording(), nullptr);
    EXPECT_EQ(win.recording()->samples(), 100u);
}

// A long recording is drawn with about as many points as the plot has pixels.
// Each tool bar action runs its handler once: connected by type, not also
// by name.
TEST(WaveWindowWiring, EveryActionHandlerIsConnectedOnceByType) {
    dialog_wave win;
    EXPECT_EQ(zvt::miswiredHandlers(&win), QStringList());
}

TEST(WaveWindowLarge, DrawsAboutTwoPointsPerPixel) {
    QTemporaryDir dir;
    std::string cfg = viewtest::sampleConfig();
    cfg.replace(cfg.find("1000,100\r\n"), 10, "1000,300000\r\n");
    std::string dat;
    dat.reserve(300000 * 24);
    for (int i = 0; i < 300000; ++i)
        dat += std::to_string(i + 1) + ",," + std::to_string(i % 1000) + ",0,1000," + (i >= 40 ? "1" : "0") + "\n";
    const QString base = QDir(dir.path()).filePath(QStringLiteral("long"));
    viewtest::writeFile(base + ".cfg", cfg);
    viewtest::writeFile(base + ".dat", dat);
    dialog_wave win;
    win.resize(1280, 800);
    win.show();
    ASSERT_TRUE(win.openFile(base + ".cfg")) << win.errorText().toStdString();
    auto *view = win.findChild<QChartView *>(QStringLiteral("view_analog"));
    ASSERT_TRUE(viewtest::waitFor([&] { return view->chart()->plotArea().width() > 100; }));
    win.setRange(win.rangeStart(), win.rangeEnd());
    int points = 0;
    ASSERT_EQ(parts(view, QStringLiteral("IA (A)"), &points), 1);
    const int width = int(view->chart()->plotArea().width());
    EXPECT_LE(points, 2 * width + 2);
    EXPECT_GE(points, width);
    // Zoomed to 50 samples, every one of them is drawn.
    win.setRange(1.0, 1.049);
    ASSERT_EQ(parts(view, QStringLiteral("IA (A)"), &points), 1);
    EXPECT_EQ(points, 50 + 2);  // and one beyond each end
}

}  // namespace
