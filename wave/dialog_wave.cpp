#include "dialog_wave.h"

#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>

#include <atomic>
#include <cmath>

#include "ui_dialog_wave.h"

namespace ct = zv::comtrade;

ct::Encoding dialog_wave::encoding = ct::Encoding::Auto;

namespace {

// Channels drawn when a recording opens; the others wait for their box.
constexpr int kInitialAnalog = 24;
constexpr int kInitialDigital = 32;

const QColor kColours[] = {QColor(0xd6, 0x9e, 0x00), QColor(0x00, 0x90, 0x3c), QColor(0xc0, 0x10, 0x10),
                           QColor(0x1f, 0x5f, 0xc0), QColor(0x80, 0x30, 0xa0), QColor(0x00, 0x80, 0x90),
                           QColor(0x90, 0x50, 0x10), QColor(0x50, 0x50, 0x50)};

QString text(const std::string &s) { return QString::fromStdString(s); }

QString number(double v) { return QString::number(v, 'g', 7); }

}  // namespace

dialog_wave::dialog_wave(QWidget *parent) : QMainWindow(parent), ui(new Ui::dialog_wave) {
    ui->setupUi(this);
    // The form connects nothing by name (connectslotsbyname="false"): each
    // action's handler is connected here, checked by the compiler.
    connect(ui->action_open, &QAction::triggered, this, &dialog_wave::on_action_open_triggered);
    connect(ui->action_zoomin, &QAction::triggered, this, &dialog_wave::on_action_zoomin_triggered);
    connect(ui->action_zoomout, &QAction::triggered, this, &dialog_wave::on_action_zoomout_triggered);
    connect(ui->action_reset, &QAction::triggered, this, &dialog_wave::on_action_reset_triggered);
    connect(ui->action_left, &QAction::triggered, this, &dialog_wave::on_action_left_triggered);
    connect(ui->action_right, &QAction::triggered, this, &dialog_wave::on_action_right_triggered);
    ui->splitter->setStretchFactor(0, 0);
    ui->splitter->setStretchFactor(1, 1);
    ui->splitter->setSizes({300, 980});
    ui->splitter_charts->setStretchFactor(0, 3);
    ui->splitter_charts->setStretchFactor(1, 1);
    ui->label_error->hide();

    m_analog = new QChart();
    m_digital = new QChart();
    for (QChart *c : {m_analog, m_digital}) {
        c->setMargins(QMargins(4, 4, 4, 4));
        c->legend()->setAlignment(Qt::AlignTop);
    }
    m_digital->legend()->hide();
    ui->view_analog->setChart(m_analog);
    ui->view_digital->setChart(m_digital);
    for (QChartView *v : {ui->view_analog, ui->view_digital}) {
        v->setRenderHint(QPainter::Antialiasing, false);
        v->viewport()->installEventFilter(this);
        v->viewport()->setMouseTracking(true);
    }
    connect(ui->tree_channels, &QTreeWidget::itemChanged, this, &dialog_wave::channelToggled);
    statusBar()->showMessage(tr("滚轮缩放，拖动平移，单击放置光标"));
}

dialog_wave::~dialog_wave() { delete ui; }

QString dialog_wave::errorText() const { return ui->label_error->text(); }

void dialog_wave::showError(const QString &text) {
    ui->label_error->setText(text);
    ui->label_error->setVisible(!text.isEmpty());
}

bool dialog_wave::openFile(const QString &path) {
    auto rec = std::make_shared<ct::Recording>();
    ct::Error err;
    bool ok = false;
    std::atomic<std::uint64_t> done{0}, total{0};
    std::atomic<bool> cancel{false};
    const std::string name = QFile::encodeName(path).toStdString();
    // Reading runs on a thread of its own; this one keeps the window alive
    // and shows the progress.
    QThread *reader = QThread::create([&] {
        ct::LoadOptions opt;
        opt.encoding = encoding;
        opt.progress = [&](std::uint64_t d, std::uint64_t t) {
            done = d;
            total = t;
            return !cancel.load();
        };
        ok = ct::load(name, *rec, err, opt);
    });
    QProgressDialog progress(tr("正在读取录波文件 %1 …").arg(QFileInfo(path).fileName()), tr("取消"), 0, 1000, this);
    progress.setWindowTitle(tr("录波分析"));
    progress.setMinimumDuration(400);
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoReset(false);
    connect(&progress, &QProgressDialog::canceled, this, [&] { cancel = true; });
    QTimer tick;
    tick.setInterval(100);
    connect(&tick, &QTimer::timeout, this, [&] {
        const std::uint64_t t = total.load();
        progress.setValue(t ? int(done.load() * 1000 / t) : 0);
    });
    QEventLoop loop;
    connect(reader, &QThread::finished, &loop, &QEventLoop::quit);
    reader->start();
    tick.start();
    loop.exec();
    reader->wait();
    delete reader;
    tick.stop();
    progress.reset();
    if (!ok) {
        showError(tr("无法读取录波文件：%1").arg(text(err.text())));
        return false;
    }
    showError(QString());
    setWindowTitle(tr("录波分析 - %1").arg(QFileInfo(path).fileName()));
    showRecording(rec);
    return true;
}

void dialog_wave::showRecording(std::shared_ptr<const ct::Recording> recording) {
    m_rec = std::move(recording);
    const ct::Recording &r = *m_rec;
    const ct::Config &c = r.cfg;
    QString sampling;
    if (c.timestampsOnly()) {
        sampling = tr("按时标");
    } else {
        QStringList parts;
        for (const ct::RateSection &s : c.rates) parts << tr("%1 Hz 至第 %2 点").arg(number(s.rate)).arg(s.endSample);
        sampling = parts.join(QStringLiteral("，"));
    }
    ui->label_info->setText(
        tr("厂站：%1　装置：%2　版本：%3　格式：%4　模拟量：%5　开关量：%6　采样：%7　起始：%8　触发：%9")
            .arg(text(c.station), text(c.device))
            .arg(int(c.revision))
            .arg(QLatin1String(ct::formatName(c.format)))
            .arg(c.analog.size())
            .arg(c.digital.size())
            .arg(sampling, text(c.start.text()), text(c.trigger.text())));
    ui->text_hdr->setPlainText(text(r.header).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    ui->text_inf->setPlainText(text(r.info).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    ui->tabs->setTabEnabled(ui->tabs->indexOf(ui->tab_hdr), !r.header.empty());
    ui->tabs->setTabEnabled(ui->tabs->indexOf(ui->tab_inf), !r.info.empty());

    // The channel boxes.
    m_building = true;
    ui->tree_channels->clear();
    auto *analog = new QTreeWidgetItem(ui->tree_channels, {tr("模拟量 (%1)").arg(c.analog.size())});
    auto *digital = new QTreeWidgetItem(ui->tree_channels, {tr("开关量 (%1)").arg(c.digital.size())});
    for (std::size_t ch = 0; ch < c.analog.size(); ++ch) {
        const ct::AnalogChannel &a = c.analog[ch];
        auto *item = new QTreeWidgetItem(analog,
                                         {QStringLiteral("%1 %2 [%3]").arg(ch + 1).arg(text(a.id), text(a.unit))});
        item->setData(0, Qt::UserRole, int(ch));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, int(ch) < kInitialAnalog ? Qt::Checked : Qt::Unchecked);
        item->setForeground(0, kColours[ch % std::size(kColours)]);
    }
    int shown = 0;
    for (std::size_t ch = 0; ch < c.digital.size(); ++ch) {
        auto *item = new QTreeWidgetItem(digital, {QStringLiteral("%1 %2").arg(ch + 1).arg(text(c.digital[ch].id))});
        item->setData(0, Qt::UserRole, int(c.analog.size() + ch));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        bool changes = false;  // shown at first when it changes at all
        for (std::size_t i = 1; i < r.samples() && !changes && shown < kInitialDigital; ++i)
            changes = r.digital(ch, i) != r.digital(ch, i - 1);
        const bool show = changes && shown < kInitialDigital;
        shown += show;
        item->setCheckState(0, show ? Qt::Checked : Qt::Unchecked);
    }
    analog->setExpanded(true);
    digital->setExpanded(true);
    m_building = false;

    buildCharts();
    m_cursor = std::max(0.0, std::min(r.triggerOffset(), r.duration()));
    on_action_reset_triggered();
    updateCursorTable();
}

void dialog_wave::buildCharts() {
    const ct::Recording &r = *m_rec;
    for (QChart *c : {m_analog, m_digital}) {
        c->removeAllSeries();
        for (QAbstractAxis *a : c->axes()) {
            c->removeAxis(a);
            delete a;
        }
    }
    m_unitAxes.clear();
    m_traces.assign(r.cfg.analog.size(), Trace());
    m_steps.assign(r.cfg.digital.size(), nullptr);

    m_axisTime = new QValueAxis();
    m_axisTime->setTitleText(tr("时间 (ms，相对触发)"));
    m_axisTime->setLabelFormat(QStringLiteral("%.1f"));
    m_analog->addAxis(m_axisTime, Qt::AlignBottom);
    m_axisTimeDigital = new QValueAxis();
    m_axisTimeDigital->setLabelFormat(QStringLiteral("%.1f"));
    m_digital->addAxis(m_axisTimeDigital, Qt::AlignBottom);
    m_axisDigital = new QCategoryAxis();
    m_axisDigital->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    m_digital->addAxis(m_axisDigital, Qt::AlignLeft);

    // One value axis per unit, over the range of its channels (primary values).
    std::map<QString, std::pair<double, double>> ranges;
    for (std::size_t ch = 0; ch < r.cfg.analog.size(); ++ch) {
        const ct::AnalogStats s = ct::analogStats(r, ch);
        const QString unit = text(r.cfg.analog[ch].unit);
        auto it = ranges.find(unit);
        if (s.present == 0) {
            if (it == ranges.end()) ranges[unit] = {-1, 1};
            continue;
        }
        if (it == ranges.end())
            ranges[unit] = {s.min, s.max};
        else
            it->second = {std::min(it->second.first, s.min), std::max(it->second.second, s.max)};
    }
    int side = 0;
    for (const auto &[unit, range] : ranges) {
        auto *axis = new QValueAxis();
        double lo = range.first, hi = range.second;
        const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::fabs(hi) * 0.1);
        axis->setRange(lo - pad, hi + pad);
        axis->applyNiceNumbers();
        axis->setTitleText(unit.isEmpty() ? tr("(无单位)") : unit);
        axis->setLabelFormat(QStringLiteral("%.4g"));
        m_analog->addAxis(axis, side++ % 2 ? Qt::AlignRight : Qt::AlignLeft);
        m_unitAxes[unit] = axis;
    }
    for (std::size_t ch = 0; ch < r.cfg.analog.size(); ++ch) {
        m_traces[ch].axis = m_unitAxes[text(r.cfg.analog[ch].unit)];
        m_traces[ch].colour = int(ch % std::size(kColours));
    }
    auto marker = [&](QChart *chart, QValueAxis *x, QAbstractAxis *y, const QPen &pen) {
        auto *s = new QLineSeries();
        s->setPen(pen);
        chart->addSeries(s);
        s->attachAxis(x);
        if (y) s->attachAxis(y);
        for (QLegendMarker *m : chart->legend()->markers(s)) m->setVisible(false);
        return s;
    };
    QAbstractAxis *firstUnit = m_unitAxes.empty() ? nullptr : m_unitAxes.begin()->second;
    if (!firstUnit) {  // no analog channel: the markers still need a value axis
        auto *axis = new QValueAxis();
        axis->setRange(-1, 1);
        m_analog->addAxis(axis, Qt::AlignLeft);
        firstUnit = axis;
    }
    const QPen trigger(QColor(0xd0, 0, 0), 1.5, Qt::DashLine);
    const QPen cursor(QColor(0x20, 0x20, 0x20), 1, Qt::SolidLine);
    m_triggerA = marker(m_analog, m_axisTime, firstUnit, trigger);
    m_triggerA->setName(tr("触发"));
    m_cursorA = marker(m_analog, m_axisTime, firstUnit, cursor);
    m_triggerD = marker(m_digital, m_axisTimeDigital, m_axisDigital, trigger);
    m_cursorD = marker(m_digital, m_axisTimeDigital, m_axisDigital, cursor);
}

double dialog_wave::toAxis(double t) const { return m_rec ? (t - m_rec->triggerOffset()) * 1000.0 : t * 1000.0; }

double dialog_wave::fromAxis(double x) const { return m_rec ? x / 1000.0 + m_rec->triggerOffset() : x / 1000.0; }

void dialog_wave::setRange(double t0, double t1) {
    if (!m_rec) return;
    const double whole0 = std::min(0.0, m_rec->triggerOffset());
    const double whole1 = std::max(m_rec->duration(), m_rec->triggerOffset());
    const double span = std::max(whole1 - whole0, 1e-6);
    double w = std::max(t1 - t0, span * 1e-7);
    w = std::min(w, span);
    if (t0 < whole0) t0 = whole0;
    if (t0 + w > whole1) t0 = whole1 - w;
    m_t0 = t0;
    m_t1 = t0 + w;
    // Ticks on round numbers of milliseconds, about eight across.
    const double raw = (m_t1 - m_t0) * 1000.0 / 8;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double step = raw / mag < 2 ? 2 * mag : raw / mag < 5 ? 5 * mag : 10 * mag;
    const int decimals = std::max(0, int(-std::floor(std::log10(step))));
    for (QValueAxis *a : {m_axisTime, m_axisTimeDigital}) {
        // The interval first: the new range with the old interval could ask
        // for millions of ticks.
        a->setTickType(QValueAxis::TicksDynamic);
        a->setTickAnchor(0);
        a->setTickInterval(std::max(step, a->tickInterval()));
        a->setRange(toAxis(m_t0), toAxis(m_t1));
        a->setTickInterval(step);
        a->setLabelFormat(QStringLiteral("%.") + QString::number(std::min(decimals, 6)) + QStringLiteral("f"));
    }
    redraw();
}

void dialog_wave::redraw() {
    if (!m_rec) return;
    const int buckets = std::max(100, int(m_analog->plotArea().width()));
    for (std::size_t ch = 0; ch < m_traces.size(); ++ch) drawAnalog(ch, buckets);
    drawDigital();
    placeMarkers();
}

void dialog_wave::drawAnalog(std::size_t ch, int buckets) {
    Trace &tr_ = m_traces[ch];
    const QTreeWidgetItem *item = ui->tree_channels->topLevelItem(0)->child(int(ch));
    const bool shown = item && item->checkState(0) == Qt::Checked;
    std::vector<QList<QPointF>> runs;
    if (shown) {
        runs.emplace_back();
        for (const ct::Point &p : ct::envelope(*m_rec, ch, m_t0, m_t1, std::size_t(buckets))) {
            if (std::isnan(p.v)) {
                if (!runs.back().isEmpty()) runs.emplace_back();
                continue;
            }
            runs.back().append(QPointF(toAxis(p.t), p.v));
        }
        if (runs.back().isEmpty() && runs.size() > 1) runs.pop_back();
    }
    // Gaps split a channel into runs, each its own series of the same colour.
    const QString name = text(m_rec->cfg.analog[ch].id) + QStringLiteral(" (") + text(m_rec->cfg.analog[ch].unit) + ')';
    while (tr_.parts.size() < runs.size()) {
        auto *s = new QLineSeries();
        s->setPen(QPen(kColours[tr_.colour], 1.2));
        s->setName(name);
        m_analog->addSeries(s);
        s->attachAxis(m_axisTime);
        s->attachAxis(tr_.axis);
        if (!tr_.parts.empty())
            for (QLegendMarker *m : m_analog->legend()->markers(s)) m->setVisible(false);
        tr_.parts.push_back(s);
    }
    for (std::size_t k = 0; k < tr_.parts.size(); ++k) {
        if (k < runs.size()) {
            tr_.parts[k]->replace(runs[k]);
            tr_.parts[k]->setVisible(true);
        } else {
            tr_.parts[k]->clear();
            tr_.parts[k]->setVisible(false);
        }
    }
}

void dialog_wave::drawDigital() {
    const ct::Recording &r = *m_rec;
    const QTreeWidgetItem *group = ui->tree_channels->topLevelItem(1);
    std::vector<std::size_t> rows;
    for (std::size_t ch = 0; ch < r.cfg.digital.size(); ++ch)
        if (group->child(int(ch))->checkState(0) == Qt::Checked) rows.push_back(ch);
    // Category labels: channel k of n at baseline (n-1-k)·1.5, high at +1.
    for (const QString &l : m_axisDigital->categoriesLabels()) m_axisDigital->remove(l);
    const double n = double(rows.size());
    m_axisDigital->setRange(-0.5, std::max(1.0, n * 1.5));
    const std::size_t first = r.indexAt(m_t0) > 0 ? r.indexAt(m_t0) - 1 : 0;
    const std::size_t last = std::min(r.samples(), r.indexAt(m_t1) + 1);
    const int buckets = std::max(100, int(m_digital->plotArea().width()));
    std::vector<bool> drawn(r.cfg.digital.size(), false);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::size_t ch = rows[k];
        drawn[ch] = true;
        const double base = (n - 1 - double(k)) * 1.5;
        m_axisDigital->append(text(r.cfg.digital[ch].id), base + 0.5);
        QLineSeries *&s = m_steps[ch];
        if (!s) {
            s = new QLineSeries();
            s->setPen(QPen(kColours[(ch + 3) % std::size(kColours)], 1.5));
            m_digital->addSeries(s);
            s->attachAxis(m_axisTimeDigital);
            s->attachAxis(m_axisDigital);
        }
        QList<QPointF> pts;
        if (first < last) {
            auto y = [&](bool v) { return base + (v ? 1.0 : 0.0); };
            // Per pixel column of samples: a step where the state changes
            // once, a bar from low to high where it changes more often.
            const double per = std::max(1.0, double(last - first) / double(buckets));
            bool v = r.digital(ch, first);
            pts.append(QPointF(toAxis(r.time(first)), y(v)));
            for (std::size_t from = first + 1; from < last;) {
                const std::size_t to = std::min(last,
                                                std::max(from + 1, first + std::size_t(double(from - first) + per)));
                std::size_t changes = 0, at = from;
                for (std::size_t i = from; i < to; ++i)
                    if (r.digital(ch, i) != r.digital(ch, i - 1)) {
                        if (changes++ == 0) at = i;
                    }
                if (changes == 1) {
                    const double t = toAxis(r.time(at));
                    pts.append(QPointF(t, y(v)));
                    v = !v;
                    pts.append(QPointF(t, y(v)));
                } else if (changes > 1) {
                    const double t = toAxis(r.time(at));
                    pts.append(QPointF(t, y(v)));
                    pts.append(QPointF(t, y(!v)));
                    v = r.digital(ch, to - 1);
                    pts.append(QPointF(t, y(v)));
                }
                from = to;
            }
            pts.append(QPointF(toAxis(r.time(last - 1)), y(v)));
        }
        s->replace(pts);
        s->setVisible(true);
    }
    for (std::size_t ch = 0; ch < m_steps.size(); ++ch)
        if (m_steps[ch] && !drawn[ch]) {
            m_steps[ch]->clear();
            m_steps[ch]->setVisible(false);
        }
}

void dialog_wave::placeMarkers() {
    auto vertical = [](QLineSeries *s, double x, double lo, double hi) {
        s->replace(QList<QPointF>{QPointF(x, lo), QPointF(x, hi)});
    };
    QValueAxis *y = nullptr;
    for (QAbstractAxis *a : m_triggerA->attachedAxes())
        if (a != m_axisTime) y = qobject_cast<QValueAxis *>(a);
    const double lo = y ? y->min() : -1, hi = y ? y->max() : 1;
    vertical(m_triggerA, toAxis(m_rec->triggerOffset()), lo, hi);
    vertical(m_cursorA, toAxis(m_cursor), lo, hi);
    vertical(m_triggerD, toAxis(m_rec->triggerOffset()), m_axisDigital->min(), m_axisDigital->max());
    vertical(m_cursorD, toAxis(m_cursor), m_axisDigital->min(), m_axisDigital->max());
}

void dialog_wave::setCursorTime(double t) {
    if (!m_rec || m_rec->samples() == 0) return;
    // The cursor sits on the sample nearest to t.
    std::size_t i = m_rec->indexAt(t);
    if (i >= m_rec->samples()) i = m_rec->samples() - 1;
    if (i > 0 && std::fabs(m_rec->time(i - 1) - t) <= std::fabs(m_rec->time(i) - t)) --i;
    m_cursor = m_rec->time(i);
    placeMarkers();
    updateCursorTable();
}

void dialog_wave::updateCursorTable() {
    QTableWidget *t = ui->table_cursor;
    if (!m_rec) return;
    const ct::Recording &r = *m_rec;
    const std::size_t na = r.cfg.analog.size(), nd = r.cfg.digital.size();
    t->setRowCount(int(1 + na + nd));
    auto set = [&](int row, int col, const QString &s) {
        QTableWidgetItem *item = t->item(row, col);
        if (!item) t->setItem(row, col, item = new QTableWidgetItem());
        item->setText(s);
    };
    if (r.samples() == 0) return;
    std::size_t i = r.indexAt(m_cursor);
    if (i >= r.samples()) i = r.samples() - 1;
    set(0, 0, tr("时间"));
    set(0, 1, QString::number(toAxis(r.time(i)), 'f', 3));
    set(0, 2, tr("ms (第 %1 点)").arg(i + 1));
    for (std::size_t ch = 0; ch < na; ++ch) {
        set(int(1 + ch), 0, text(r.cfg.analog[ch].id));
        set(int(1 + ch), 1, r.missing(ch, i) ? tr("缺失") : number(r.primary(ch, i)));
        set(int(1 + ch), 2, text(r.cfg.analog[ch].unit));
    }
    for (std::size_t ch = 0; ch < nd; ++ch) {
        set(int(1 + na + ch), 0, text(r.cfg.digital[ch].id));
        set(int(1 + na + ch), 1, r.digital(ch, i) ? QStringLiteral("1") : QStringLiteral("0"));
        set(int(1 + na + ch), 2, QString());
    }
    const std::int64_t ns = r.cfg.start.nanos + std::int64_t(std::llround(r.time(i) * 1e9));
    ct::DateTime at = r.cfg.start;
    at.days += ns / 86400000000000LL;
    at.nanos = ns % 86400000000000LL;
    statusBar()->showMessage(tr("光标：%1 ms（%2）").arg(QString::number(toAxis(r.time(i)), 'f', 3), text(at.text())));
}

void dialog_wave::channelToggled(QTreeWidgetItem *item, int) {
    if (m_building || !m_rec || !item->parent()) return;
    redraw();
}

void dialog_wave::zoomAround(double t, double factor) {
    const double w = (m_t1 - m_t0) * factor;
    const double frac = m_t1 > m_t0 ? (t - m_t0) / (m_t1 - m_t0) : 0.5;
    setRange(t - frac * w, t - frac * w + w);
}

void dialog_wave::on_action_zoomin_triggered() { zoomAround((m_t0 + m_t1) / 2, 0.5); }
void dialog_wave::on_action_zoomout_triggered() { zoomAround((m_t0 + m_t1) / 2, 2.0); }
void dialog_wave::on_action_left_triggered() { setRange(m_t0 - (m_t1 - m_t0) * 0.25, m_t1 - (m_t1 - m_t0) * 0.25); }
void dialog_wave::on_action_right_triggered() { setRange(m_t0 + (m_t1 - m_t0) * 0.25, m_t1 + (m_t1 - m_t0) * 0.25); }

void dialog_wave::on_action_reset_triggered() {
    if (!m_rec) return;
    setRange(std::min(0.0, m_rec->triggerOffset()), std::max(m_rec->duration(), m_rec->triggerOffset()));
}

void dialog_wave::on_action_open_triggered() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("打开录波文件"), QString(), tr("COMTRADE 录波 (*.cfg *.CFG *.dat *.DAT *.cff *.CFF);;所有文件 (*)"));
    if (!path.isEmpty()) openFile(path);
}

double dialog_wave::timeAtPixel(QChartView *view, const QPoint &pos) const {
    QChart *chart = view->chart();
    const QPointF scene = view->mapToScene(pos);
    const QPointF local = chart->mapFromScene(scene);
    const QRectF area = chart->plotArea();
    const double f = area.width() > 0 ? (local.x() - area.left()) / area.width() : 0;
    return m_t0 + f * (m_t1 - m_t0);
}

bool dialog_wave::eventFilter(QObject *watched, QEvent *event) {
    QChartView *view = watched == ui->view_analog->viewport()    ? ui->view_analog
                       : watched == ui->view_digital->viewport() ? ui->view_digital
                                                                 : nullptr;
    if (!view || !m_rec) return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        auto *e = static_cast<QWheelEvent *>(event);
        const int steps = e->angleDelta().y() / 120;
        if (steps != 0) zoomAround(timeAtPixel(view, e->position().toPoint()), std::pow(0.8, steps));
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(event);
        if (e->button() != Qt::LeftButton) break;
        m_dragging = true;
        m_dragFrom = e->pos();
        m_dragT0 = m_t0;
        m_dragT1 = m_t1;
        return true;
    }
    case QEvent::MouseMove: {
        auto *e = static_cast<QMouseEvent *>(event);
        if (!m_dragging || (e->pos() - m_dragFrom).manhattanLength() < 4) break;
        const double area = view->chart()->plotArea().width();
        if (area <= 0) break;
        const double dt = double(e->pos().x() - m_dragFrom.x()) / area * (m_dragT1 - m_dragT0);
        setRange(m_dragT0 - dt, m_dragT1 - dt);
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *e = static_cast<QMouseEvent *>(event);
        if (!m_dragging || e->button() != Qt::LeftButton) break;
        m_dragging = false;
        if ((e->pos() - m_dragFrom).manhattanLength() < 4) setCursorTime(timeAtPixel(view, e->pos()));
        return true;
    }
    default: break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void dialog_wave::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    // The number of points drawn follows the width of the plot.
    if (m_rec) QTimer::singleShot(0, this, [this] { redraw(); });
}
