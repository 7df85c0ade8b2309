// The disturbance recording window: analog channels as curves (one value
// axis per unit), digital channels as step traces, the trigger marked, a
// cursor that reads the time and every channel's value, zoom and pan over
// time, the channels chosen by check boxes, and the header and information
// texts. Used by tarnmon (file menu, recordings of comtradrd) and by the
// program tarnwave.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <map>
#include <memory>
#include <vector>

#include "comtrade/comtrade.h"

namespace Ui {
class dialog_wave;
}
class QChart;
class QLineSeries;
class QValueAxis;
class QCategoryAxis;
class QTreeWidgetItem;
class QChartView;

class dialog_wave : public QMainWindow {
    Q_OBJECT

public:
    explicit dialog_wave(QWidget *parent = nullptr);
    ~dialog_wave() override;

    // Reads a recording (.cfg, .dat or .cff) in the background, with a
    // progress dialog that can cancel; then shows it. On failure the window
    // says why (errorText()) and keeps what it showed before.
    bool openFile(const QString &path);
    // Shows a recording that has been read.
    void showRecording(std::shared_ptr<const zv::comtrade::Recording> recording);
    const zv::comtrade::Recording *recording() const { return m_rec.get(); }
    QString errorText() const;

    // The time range shown and the cursor, in seconds from the first sample.
    double rangeStart() const { return m_t0; }
    double rangeEnd() const { return m_t1; }
    void setRange(double t0, double t1);
    void setCursorTime(double t);
    double cursorTime() const { return m_cursor; }

    // Character set used to read the configuration (tarnwave --encoding).
    static zv::comtrade::Encoding encoding;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void on_action_open_triggered();
    void on_action_zoomin_triggered();
    void on_action_zoomout_triggered();
    void on_action_reset_triggered();
    void on_action_left_triggered();
    void on_action_right_triggered();
    void channelToggled(QTreeWidgetItem *item, int column);

private:
    struct Trace {
        std::vector<QLineSeries *> parts;  // one per run between gaps; parts[0] carries the legend
        QValueAxis *axis = nullptr;
        int colour = 0;
    };
    void showError(const QString &text);
    void buildCharts();
    void redraw();
    void drawAnalog(std::size_t ch, int buckets);
    void drawDigital();
    void placeMarkers();
    void updateCursorTable();
    void zoomAround(double t, double factor);
    double timeAtPixel(QChartView *view, const QPoint &pos) const;
    double toAxis(double t) const;  // seconds from the first sample -> ms from the trigger
    double fromAxis(double x) const;

    Ui::dialog_wave *ui;
    std::shared_ptr<const zv::comtrade::Recording> m_rec;
    QChart *m_analog = nullptr;
    QChart *m_digital = nullptr;
    QValueAxis *m_axisTime = nullptr;
    QValueAxis *m_axisTimeDigital = nullptr;
    QCategoryAxis *m_axisDigital = nullptr;
    std::map<QString, QValueAxis *> m_unitAxes;
    std::vector<Trace> m_traces;         // per analog channel
    std::vector<QLineSeries *> m_steps;  // per digital channel (null when not drawn)
    QLineSeries *m_cursorA = nullptr, *m_cursorD = nullptr, *m_triggerA = nullptr, *m_triggerD = nullptr;
    double m_t0 = 0, m_t1 = 1, m_cursor = 0;
    bool m_dragging = false;
    QPoint m_dragFrom;
    double m_dragT0 = 0, m_dragT1 = 0;
    bool m_building = false;
};
