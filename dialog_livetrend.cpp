#include "dialog_livetrend.h"

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "zv_ops.h"

namespace {

template <class T>
bool take(const AI_PRIM_VAL &p, double *out) {
    if (p.size != ST_INT32(sizeof(T))) return false;
    T v;
    std::memcpy(&v, p.data, sizeof v);
    *out = double(v);
    return true;
}

QString refOf(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    char ref[AI_OBJ_REF_LEN] = {0};
    if (ai_obj_id_to_ref_ad == nullptr || ai_obj_id_to_ref_ad(ied, id, ref) != 0) return QString::number(id);
    ref[AI_OBJ_REF_LEN - 1] = '\0';
    return QString::fromUtf8(ref);
}

// Reads one attribute from the model: true with its number.
bool readNumber(int srv_id, AI_OBJ_ID id, double *out, bool *numeric) {
    *numeric = false;
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(srv_id) : nullptr;
    if (ied == nullptr || ai_read_obj_primVals_ad == nullptr) return false;
    AI_OBJ_VAL val;
    std::memset(&val, 0, sizeof val);
    if (ai_read_obj_primVals_ad(id, ied, &val) != 0) return false;
    *numeric = zv_numeric_value(val, out);
    if (ai_cleanup_objVals_ad) ai_cleanup_objVals_ad(&val);
    return *numeric;
}

}  // namespace

bool zv_numeric_value(const AI_OBJ_VAL &val, double *out) {
    if (val.prim_num != 1 || val.prim_vals == nullptr || val.prim_vals[0].data == nullptr) return false;
    const AI_PRIM_VAL &p = val.prim_vals[0];
    bool ok = false;
    switch (p.type) {
    case VAL_TYPE_INT8: ok = take<ST_INT8>(p, out); break;
    case VAL_TYPE_INT16: ok = take<ST_INT16>(p, out); break;
    case VAL_TYPE_INT32: ok = take<ST_INT32>(p, out); break;
    case VAL_TYPE_INT128: ok = take<std::int64_t>(p, out); break;
    case VAL_TYPE_INT8U: ok = take<ST_UINT8>(p, out); break;
    case VAL_TYPE_INT16U: ok = take<ST_UINT16>(p, out); break;
    case VAL_TYPE_INT32U: ok = take<ST_UINT32>(p, out); break;
    case VAL_TYPE_FLOAT32: ok = take<float>(p, out); break;
    case VAL_TYPE_FLOAT64: ok = take<double>(p, out); break;
    default: break;
    }
    return ok && std::isfinite(*out);
}

dialog_livetrend::dialog_livetrend(QWidget *parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    ui.splitter->setStretchFactor(0, 0);
    ui.splitter->setStretchFactor(1, 1);
    ui.splitter->setSizes({320, 680});
    ui.table_attrs->setColumnWidth(0, 220);
    m_chart = new QChart();
    m_chart->legend()->setAlignment(Qt::AlignTop);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_x = new QDateTimeAxis();
    m_x->setFormat(QStringLiteral("HH:mm:ss"));
    m_x->setTitleText(tr("时间"));
    m_y = new QValueAxis();
    m_chart->addAxis(m_x, Qt::AlignBottom);
    m_chart->addAxis(m_y, Qt::AlignLeft);
    ui.view_trend->setChart(m_chart);
    ui.view_trend->setRenderHint(QPainter::Antialiasing, true);
    connect(ui.btn_remove, &QPushButton::clicked, this, &dialog_livetrend::removeSelected);
    connect(ui.btn_clear, &QPushButton::clicked, this, &dialog_livetrend::clearAll);
    connect(&m_timer, &QTimer::timeout, this, &dialog_livetrend::sample);
    m_timer.setInterval(1000);
}

dialog_livetrend::~dialog_livetrend() = default;

qint64 dialog_livetrend::spanMs() const {
    static const int kMinutes[] = {1, 5, 10, 30};
    const int i = std::clamp(ui.combo_span->currentIndex(), 0, 3);
    return qint64(kMinutes[i]) * 60000;
}

bool dialog_livetrend::addAttribute(int srv_id, AI_OBJ_ID obj_id, QString *why) {
    for (const Item &it : m_items)
        if (it.srv_id == srv_id && it.obj_id == obj_id) return true;
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(srv_id) : nullptr;
    const QString ref = refOf(ied, obj_id);
    double v;
    bool numeric;
    if (!readNumber(srv_id, obj_id, &v, &numeric)) {
        if (why) *why = QStringLiteral("%1 不是数值属性").arg(ref);
        return false;
    }
    if (int(m_items.size()) >= kMaxAttributes) {
        if (why) *why = QStringLiteral("实时趋势最多显示 %1 个属性").arg(kMaxAttributes);
        return false;
    }
    auto *s = new QLineSeries();
    s->setName(ref.mid(ref.indexOf(QLatin1Char('/')) + 1));
    m_chart->addSeries(s);
    s->attachAxis(m_x);
    s->attachAxis(m_y);
    m_items.push_back({srv_id, obj_id, ref, s});
    const int row = ui.table_attrs->rowCount();
    ui.table_attrs->insertRow(row);
    ui.table_attrs->setItem(row, 0, new QTableWidgetItem(ref));
    ui.table_attrs->setItem(row, 1, new QTableWidgetItem());
    sample();
    if (!m_timer.isActive()) m_timer.start();
    return true;
}

void dialog_livetrend::sample() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 oldest = now - spanMs();
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::size_t k = 0; k < m_items.size(); ++k) {
        Item &it = m_items[k];
        double v;
        bool numeric;
        QTableWidgetItem *cell = ui.table_attrs->item(int(k), 1);
        if (readNumber(it.srv_id, it.obj_id, &v, &numeric)) {
            it.series->append(double(now), v);
            cell->setText(QString::number(v, 'g', 7));
        } else {
            cell->setText(tr("读取失败"));
        }
        int drop = 0;
        while (drop < it.series->count() && it.series->at(drop).x() < double(oldest)) ++drop;
        if (drop > 0) it.series->removePoints(0, drop);
        for (int i = 0; i < it.series->count(); ++i) {
            lo = std::min(lo, it.series->at(i).y());
            hi = std::max(hi, it.series->at(i).y());
        }
    }
    m_x->setRange(QDateTime::fromMSecsSinceEpoch(oldest), QDateTime::fromMSecsSinceEpoch(now));
    if (lo <= hi) {
        const double pad = hi > lo ? (hi - lo) * 0.1 : std::max(1.0, std::fabs(hi) * 0.1);
        m_y->setRange(lo - pad, hi + pad);
    }
}

void dialog_livetrend::removeSelected() {
    const int row = ui.table_attrs->currentRow();
    if (row < 0 || row >= int(m_items.size())) return;
    m_chart->removeSeries(m_items[std::size_t(row)].series);
    delete m_items[std::size_t(row)].series;
    m_items.erase(m_items.begin() + row);
    ui.table_attrs->removeRow(row);
    if (m_items.empty()) m_timer.stop();
}

void dialog_livetrend::clearAll() {
    while (!m_items.empty()) {
        ui.table_attrs->setCurrentCell(0, 0);
        removeSelected();
    }
}
