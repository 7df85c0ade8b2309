#include "dialog_trend.h"

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <QPointer>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "ConnectionPool.h"

namespace {

// Measurement tables are data_<name>_h; columns and tables must be plain
// lower-case identifiers before they go into a statement (quoted even then).
const QRegularExpression kTableName(QStringLiteral("^data_[a-z0-9_]{1,56}_h$"));
const QRegularExpression kColumnName(QStringLiteral("^[a-z][a-z0-9_]{0,63}$"));
// Columns of every measurement table that are not values.
const QStringList kKeyColumns = {QStringLiteral("id"), QStringLiteral("eqmid"), QStringLiteral("d_time"),
                                 QStringLiteral("isupload")};

QString quoted(const QString &identifier) { return QLatin1Char('`') + identifier + QLatin1Char('`'); }

bool numericType(const QString &sqlType) {
    const QString t = sqlType.toLower();
    for (const char *k : {"double", "float", "real", "decimal", "int"})
        if (t.startsWith(QLatin1String(k)) || t.contains(QLatin1String(k))) return !t.contains(QLatin1String("point"));
    return false;
}

// A pooled connection of the calling thread, given back when it goes.
class Borrowed {
public:
    Borrowed() : db(ConnectionPool::openConnection()) {
        if (db.isValid() && !db.isOpen()) db.open();
    }
    ~Borrowed() {
        if (db.isValid()) ConnectionPool::closeConnection(std::exchange(db, QSqlDatabase()));
    }
    bool ok() const { return db.isValid() && db.isOpen(); }
    QSqlDatabase db;
};

}  // namespace

dialog_trend::dialog_trend(QWidget *parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    ui.splitter->setStretchFactor(0, 0);
    ui.splitter->setStretchFactor(1, 1);
    ui.splitter->setSizes({180, 900});
    ui.progress->setRange(0, 0);
    ui.progress->hide();
    const QDateTime now = QDateTime::currentDateTime();
    ui.time_to->setDateTime(now);
    ui.time_from->setDateTime(now.addDays(-1));
    m_chart = new QChart();
    m_chart->legend()->setAlignment(Qt::AlignTop);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    ui.view_trend->setChart(m_chart);
    ui.view_trend->setRenderHint(QPainter::Antialiasing, true);
    connect(ui.combo_table, qOverload<int>(&QComboBox::currentIndexChanged), this, &dialog_trend::tableChosen);
    connect(ui.btn_query, &QPushButton::clicked, this, &dialog_trend::query);
    reloadTables();
}

dialog_trend::~dialog_trend() = default;

void dialog_trend::setStatus(const QString &text) { ui.label_status->setText(text); }

void dialog_trend::reloadTables() {
    ui.combo_table->blockSignals(true);
    ui.combo_table->clear();
    ui.combo_table->blockSignals(false);
    Borrowed c;
    if (!c.ok()) {
        setStatus(tr("数据库不可用"));
        return;
    }
    QSqlQuery q(c.db);
    if (!q.exec(QStringLiteral("SHOW TABLES"))) {
        setStatus(tr("读取数据表失败：%1").arg(q.lastError().text()));
        return;
    }
    QStringList tables;
    while (q.next()) {
        const QString name = q.value(0).toString();
        if (kTableName.match(name).hasMatch()) tables << name;
    }
    q.finish();
    tables.sort();
    ui.combo_table->addItems(tables);
    if (tables.isEmpty()) setStatus(tr("数据库中没有测量数据表"));
}

void dialog_trend::tableChosen(int index) {
    ui.list_columns->clear();
    ui.combo_eqmid->clear();
    if (index < 0) return;
    const QString table = ui.combo_table->itemText(index);
    if (!kTableName.match(table).hasMatch()) return;
    Borrowed c;
    if (!c.ok()) {
        setStatus(tr("数据库不可用"));
        return;
    }
    QSqlQuery q(c.db);
    if (q.exec(QStringLiteral("SHOW COLUMNS FROM ") + quoted(table))) {
        while (q.next()) {
            const QString name = q.value(0).toString();
            if (kKeyColumns.contains(name) || !kColumnName.match(name).hasMatch() ||
                !numericType(q.value(1).toString()))
                continue;
            auto *item = new QListWidgetItem(name, ui.list_columns);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Checked);
        }
    }
    q.finish();
    if (q.exec(QStringLiteral("SELECT DISTINCT eqmid FROM ") + quoted(table) +
               QStringLiteral(" ORDER BY eqmid LIMIT 1000"))) {
        while (q.next()) ui.combo_eqmid->addItem(q.value(0).toString());
    } else {
        setStatus(tr("读取设备编号失败：%1").arg(q.lastError().text()));
    }
    q.finish();
}

dialog_trend::Result dialog_trend::readRows(QString table, int eqmid, QStringList columns, QDateTime from,
                                            QDateTime to) {
    Result r;
    Borrowed c;
    if (!c.ok()) {
        r.error = tr("数据库不可用");
        return r;
    }
    QStringList select;
    for (const QString &col : columns) select << quoted(col);
    QSqlQuery q(c.db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
                  "SELECT d_time, %1 FROM %2 WHERE eqmid = ? AND d_time >= ? AND d_time <= ? ORDER BY d_time LIMIT %3")
                  .arg(select.join(QStringLiteral(", ")), quoted(table))
                  .arg(kMaxRows + 1));
    q.addBindValue(eqmid);
    q.addBindValue(from);
    q.addBindValue(to);
    if (!q.exec()) {
        r.error = q.lastError().text();
        return r;
    }
    r.columns.assign(std::size_t(columns.size()), {});
    while (q.next()) {
        if (int(r.times.size()) == kMaxRows) {
            r.truncated = true;
            break;
        }
        const QDateTime t = q.value(0).toDateTime();
        if (!t.isValid()) continue;  // a row without a time cannot be placed
        r.times.push_back(t.toMSecsSinceEpoch());
        for (int k = 0; k < columns.size(); ++k) {
            const QVariant v = q.value(k + 1);
            bool ok = false;
            const double d = v.isNull() ? 0 : v.toDouble(&ok);
            r.columns[std::size_t(k)].push_back(ok && std::isfinite(d) ? d : std::numeric_limits<double>::quiet_NaN());
        }
    }
    q.finish();
    r.ok = true;
    return r;
}

void dialog_trend::query() {
    if (m_busy) return;
    const QString table = ui.combo_table->currentText();
    bool ok = false;
    const int eqmid = ui.combo_eqmid->currentText().toInt(&ok);
    QStringList columns;
    for (int i = 0; i < ui.list_columns->count(); ++i)
        if (ui.list_columns->item(i)->checkState() == Qt::Checked) columns << ui.list_columns->item(i)->text();
    if (!kTableName.match(table).hasMatch() || !ok || columns.isEmpty()) {
        setStatus(tr("请选择数据表、设备编号和至少一个数据列"));
        emit queryFinished(false);
        return;
    }
    const QDateTime from = ui.time_from->dateTime(), to = ui.time_to->dateTime();
    m_busy = true;
    ui.btn_query->setEnabled(false);
    ui.progress->show();
    setStatus(tr("正在读取 %1 …").arg(table));
    QPointer<dialog_trend> self(this);
    QThread *worker = QThread::create([self, table, eqmid, columns, from, to] {
        Result r = readRows(table, eqmid, columns, from, to);
        // The window may be gone by now; the result then goes nowhere.
        QMetaObject::invokeMethod(
            qApp,
            [self, table, columns, r = std::move(r)] {
                if (self) self->showResult(table, columns, r);
            },
            Qt::QueuedConnection);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void dialog_trend::showResult(const QString &table, const QStringList &columns, const Result &r) {
    m_busy = false;
    ui.btn_query->setEnabled(true);
    ui.progress->hide();
    if (!r.ok) {
        setStatus(tr("查询失败：%1").arg(r.error));
        emit queryFinished(false);
        return;
    }
    m_chart->removeAllSeries();
    for (QAbstractAxis *a : m_chart->axes()) {
        m_chart->removeAxis(a);
        delete a;
    }
    m_chart->setTitle(tr("%1 设备 %2").arg(table, ui.combo_eqmid->currentText()));
    auto *x = new QDateTimeAxis();
    x->setFormat(QStringLiteral("MM-dd HH:mm"));
    x->setTitleText(tr("时间"));
    auto *y = new QValueAxis();
    m_chart->addAxis(x, Qt::AlignBottom);
    m_chart->addAxis(y, Qt::AlignLeft);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    const std::size_t n = r.times.size();
    // Rows the worker did not write (it was stopped, the device silent) are a
    // gap too: a step more than three times the usual one between rows.
    std::vector<bool> gapBefore(n, false);
    if (n > 2) {
        std::vector<qint64> steps;
        steps.reserve(n - 1);
        for (std::size_t i = 1; i < n; ++i) steps.push_back(r.times[i] - r.times[i - 1]);
        std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
        const qint64 usual = steps[steps.size() / 2];
        for (std::size_t i = 1; i < n; ++i)
            if (usual > 0 && r.times[i] - r.times[i - 1] > 3 * usual) gapBefore[i] = true;
    }
    // Rows are reduced to each span's minimum and maximum when there are
    // more than the chart can show; NULL values split a line.
    const std::size_t per = n > std::size_t(kMaxPoints) ? (n + kMaxPoints / 2 - 1) / (kMaxPoints / 2) : 1;
    for (int k = 0; k < columns.size(); ++k) {
        const std::vector<double> &v = r.columns[std::size_t(k)];
        std::vector<QList<QPointF>> runs(1);
        for (std::size_t from = 0; from < n; from += per) {
            const std::size_t to = std::min(n, from + per);
            std::size_t a = to, b = to;
            bool gap = false;
            for (std::size_t i = from; i < to; ++i) {
                if (gapBefore[i]) gap = true;
                if (std::isnan(v[i])) {
                    gap = true;
                    continue;
                }
                if (a == to || v[i] < v[a]) a = i;
                if (b == to || v[i] > v[b]) b = i;
            }
            if (gap && !runs.back().isEmpty()) runs.emplace_back();
            if (a == to) continue;
            for (std::size_t i : {std::min(a, b), std::max(a, b)}) {
                if (!runs.back().isEmpty() && runs.back().back().x() == double(r.times[i])) continue;
                runs.back().append(QPointF(double(r.times[i]), v[i]));
                lo = std::min(lo, v[i]);
                hi = std::max(hi, v[i]);
            }
        }
        if (runs.back().isEmpty() && runs.size() > 1) runs.pop_back();
        QColor colour;
        for (std::size_t part = 0; part < runs.size(); ++part) {
            auto *s = new QLineSeries();
            s->setName(columns[k]);
            s->replace(runs[part]);
            if (runs[part].size() == 1) s->setPointsVisible(true);  // a lone value between gaps
            m_chart->addSeries(s);
            s->attachAxis(x);
            s->attachAxis(y);
            if (part == 0)
                colour = s->color();
            else {
                s->setColor(colour);
                for (QLegendMarker *m : m_chart->legend()->markers(s)) m->setVisible(false);
            }
        }
    }
    // The time axis spans what was asked for, so that its ticks fall on round times.
    x->setRange(ui.time_from->dateTime(), std::max(ui.time_to->dateTime(), ui.time_from->dateTime().addSecs(60)));
    if (lo <= hi) {
        const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::fabs(hi) * 0.1);
        y->setRange(lo - pad, hi + pad);
        y->applyNiceNumbers();
    }
    if (n == 0)
        setStatus(tr("所选时间内没有数据"));
    else if (r.truncated)
        setStatus(tr("只显示前 %1 行，请缩短时间范围").arg(kMaxRows));
    else
        setStatus(tr("%1 行").arg(n));
    emit queryFinished(true);
}
