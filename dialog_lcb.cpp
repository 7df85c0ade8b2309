#include "dialog_lcb.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <cstring>

#include "gui_srv.h"
#include "ied_objects.h"
#include "zv_ops.h"

void (*dialog_lcb::box_hook)(const QString &title, const QString &text) = nullptr;

namespace {

constexpr qint64 kDays1970To1984 = 5113;
constexpr qint64 kMsPerDay = 86400000;

template <typename F>
void onGuiThread(F f) {
    QCoreApplication *app = QCoreApplication::instance();
    if (app != nullptr) QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
}

AI_OBJ_ID parentOf(AI_IED_CTRL *model, AI_OBJ_ID id) {
    return ai_find_obj_parent_ad != nullptr && model != nullptr ? ai_find_obj_parent_ad(model, id) : -1;
}

void post(AI_OBJ_ID lcb, dialog_lcb::Step step, bool ok) {
    onGuiThread([lcb, step, ok] {
        if (dlg_lcb != nullptr) dlg_lcb->Done(lcb, step, ok);
    });
}

QString nameOf(AI_IED_CTRL *model, AI_OBJ_ID id) {
    char buf[AI_OBJ_NAME_LEN] = {};
    if (ai_obj_id_to_name_ad != nullptr) ai_obj_id_to_name_ad(model, id, buf);
    return QString::fromLatin1(buf, int(qstrnlen(buf, sizeof buf)));
}

// ReasonCode bits (IEC 61850-8-1, as TrgOps): 1 dchg, 2 qchg, 3 dupd, 4 integrity, 5 gi.
QString reasonText(const QString &bits) {
    static const char *const kNames[] = {nullptr, "dchg", "qchg", "dupd", "integrity", "gi"};
    QStringList out;
    for (int i = 1; i < bits.size() && i < int(std::size(kNames)); ++i)
        if (bits[i] == QLatin1Char('1')) out << QLatin1String(kNames[i]);
    return out.join(QLatin1Char('|'));
}

}  // namespace

dialog_lcb::dialog_lcb() : QDialog(nullptr) {
    widget.setupUi(this);
    // The form connects nothing by name (connectslotsbyname="false"): each
    // button's handler is connected here, checked by the compiler.
    connect(widget.pushButton, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_clicked);
    connect(widget.pushButton_2, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_2_clicked);
    connect(widget.pushButton_3, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_3_clicked);
    connect(widget.pushButton_4, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_4_clicked);
    connect(widget.pushButton_5, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_5_clicked);
    connect(widget.pushButton_6, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_6_clicked);
    connect(widget.pushButton_7, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_7_clicked);
    connect(widget.pushButton_8, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_8_clicked);
    connect(widget.pushButton_9, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_9_clicked);
    connect(widget.pushButton_10, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_10_clicked);
    connect(widget.pushButton_11, &QAbstractButton::clicked, this, &dialog_lcb::on_pushButton_11_clicked);
    widget.comboBox->addItem(QStringLiteral("false"));
    widget.comboBox->addItem(QStringLiteral("true"));
    tbmodel = new QStandardItemModel(this);
    tbmodel->setColumnCount(5);
    tbmodel->setHorizontalHeaderItem(ColEntry, new QStandardItem(QStringLiteral("EntryID")));
    tbmodel->setHorizontalHeaderItem(ColTime, new QStandardItem(tr("时间")));
    tbmodel->setHorizontalHeaderItem(ColRef, new QStandardItem(tr("参引")));
    tbmodel->setHorizontalHeaderItem(ColValue, new QStandardItem(tr("数值")));
    tbmodel->setHorizontalHeaderItem(ColReason, new QStandardItem(tr("原因")));
    widget.tableView->setModel(tbmodel);
    widget.tableView->verticalHeader()->hide();
    widget.tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    widget.tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    widget.tableView->setTextElideMode(Qt::ElideMiddle);
    connect(widget.tableView, &QTableView::clicked, this, &dialog_lcb::entryClicked);
}

dialog_lcb::~dialog_lcb() {
    if (dlg_lcb == this) dlg_lcb = nullptr;
}

void dialog_lcb::box(const QString &title, const QString &text) {
    if (box_hook != nullptr) {
        box_hook(title, text);
        return;
    }
    QMessageBox::warning(nullptr, title, text, QMessageBox::Ok);
}

void dialog_lcb::SetIds(int srv, int obj) {
    srv_id = srv;
    obj_id = obj;
    AI_IED_CTRL *model = iedobj::model(srv_id);
    lcb_id = iedobj::lcbOf(model, obj);
    tbmodel->removeRows(0, tbmodel->rowCount());
    for (QLineEdit *e : findChildren<QLineEdit *>()) e->clear();
    if (lcb_id < 0) return;
    setWindowTitle(tr("LCB服务") + QStringLiteral(" - ") + QString::fromLatin1(iedobj::ref(model, lcb_id)));
    // Edition 2 blocks have no OptFlds.
    const bool opt = attrId("OptFlds") >= 0;
    widget.pushButton_5->setEnabled(opt);
    widget.lineEdit_4->setEnabled(opt);
    showBlock();
    on_pushButton_7_clicked();
}

AI_OBJ_ID dialog_lcb::attrId(const char *name) const {
    AI_IED_CTRL *model = iedobj::model(srv_id);
    return lcb_id < 0 ? -1 : iedobj::id(model, iedobj::ref(model, lcb_id) + "$" + name);
}

QString dialog_lcb::attrText(const char *name) const {
    const AI_OBJ_ID id = attrId(name);
    AI_OBJ_VAL v;
    std::memset(&v, 0, sizeof v);
    if (id < 0 || ai_read_obj_primVals_ad == nullptr || ai_read_obj_primVals_ad(id, iedobj::model(srv_id), &v) != 0)
        return {};
    const QString t = v.prim_num == 1 ? iedobj::text(v.prim_vals[0]) : QString();
    ai_cleanup_objVals_ad(&v);
    return t;
}

void dialog_lcb::showBlock() {
    const QString ena = attrText("LogEna");
    if (ena == QLatin1String("true"))
        widget.comboBox->setCurrentIndex(1);
    else if (ena == QLatin1String("false"))
        widget.comboBox->setCurrentIndex(0);
    widget.lineEdit->setText(attrText("IntgPd"));
    widget.lineEdit_2->setText(attrText("DatSet"));
    widget.lineEdit_3->setText(attrText("TrgOps"));
    widget.lineEdit_4->setText(attrText("OptFlds"));
    widget.lineEdit_5->setText(attrText("LogRef"));
    showStatus();
}

void dialog_lcb::showStatus() {
    widget.lineEdit_6->setText(attrText("OldEntrTm"));
    widget.lineEdit_7->setText(attrText("OldEntr"));
    widget.lineEdit_8->setText(attrText("NewEntrTm"));
    widget.lineEdit_9->setText(attrText("NewEntr"));
}

// ---- block -------------------------------------------------------------------------

void dialog_lcb::on_pushButton_7_clicked() {
    if (lcb_id < 0 || ac_read_obj_value_ad == nullptr) return;
    AI_OBJ_ID id = lcb_id;
    AC_READ_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.obj_ids = &id;
    r.num_obj = 1;
    r.u_read_done = read_done;
    if (ac_read_obj_value_ad(srv_id, &r, 15, nullptr) != 0) box(QStringLiteral("warning"), tr("读日志控制块失败"));
}

void dialog_lcb::on_pushButton_9_clicked() {
    if (lcb_id < 0 || ac_read_obj_value_ad == nullptr) return;
    AI_OBJ_ID ids[4] = {attrId("OldEntrTm"), attrId("OldEntr"), attrId("NewEntrTm"), attrId("NewEntr")};
    for (AI_OBJ_ID id : ids)
        if (id < 0) return box(QStringLiteral("warning"), tr("读日志状态失败"));
    AC_READ_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.obj_ids = ids;
    r.num_obj = 4;
    r.u_read_done = status_done;
    if (ac_read_obj_value_ad(srv_id, &r, 15, nullptr) != 0) box(QStringLiteral("warning"), tr("读日志状态失败"));
}

void dialog_lcb::writeAttr(const char *name, const QString &text) {
    if (lcb_id < 0) return;
    const AI_OBJ_ID id = attrId(name);
    AI_OBJ_VAL v;
    std::memset(&v, 0, sizeof v);
    if (id < 0 || ai_read_obj_primVals_ad == nullptr || ac_write_obj_value_ad == nullptr ||
        ai_read_obj_primVals_ad(id, iedobj::model(srv_id), &v) != 0)
        return box(QStringLiteral("warning"), tr("%1 写入失败").arg(QLatin1String(name)));
    if (v.prim_num != 1 ||
        ai_prim_str_to_value_ad(v.prim_vals[0].type, text.trimmed().toUtf8().constData(), v.prim_vals[0].data) != 0) {
        ai_cleanup_objVals_ad(&v);
        return box(QStringLiteral("warning"), tr("%1 的数值 %2 无效").arg(QLatin1String(name), text));
    }
    AC_WRITE_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.obj_vals = &v;
    r.num_obj = 1;
    r.u_write_done = attr_done;
    const bool queued = ac_write_obj_value_ad(srv_id, &r, 15, nullptr) == 0;
    ai_cleanup_objVals_ad(&v);
    if (!queued) box(QStringLiteral("warning"), tr("%1 写入失败").arg(QLatin1String(name)));
}

void dialog_lcb::on_pushButton_clicked() { writeAttr("LogEna", widget.comboBox->currentText()); }
void dialog_lcb::on_pushButton_2_clicked() { writeAttr("IntgPd", widget.lineEdit->text()); }
void dialog_lcb::on_pushButton_3_clicked() { writeAttr("DatSet", widget.lineEdit_2->text()); }
void dialog_lcb::on_pushButton_4_clicked() { writeAttr("TrgOps", widget.lineEdit_3->text()); }
void dialog_lcb::on_pushButton_5_clicked() { writeAttr("OptFlds", widget.lineEdit_4->text()); }
void dialog_lcb::on_pushButton_6_clicked() { writeAttr("LogRef", widget.lineEdit_5->text()); }

void dialog_lcb::on_pushButton_8_clicked() {
    AI_IED_CTRL *model = iedobj::model(srv_id);
    AI_OBJ_VAL v;
    std::memset(&v, 0, sizeof v);
    if (lcb_id < 0 || ai_read_obj_primVals_ad == nullptr || ac_write_obj_value_ad == nullptr ||
        ai_read_obj_primVals_ad(lcb_id, model, &v) != 0)
        return;
    const QPair<const char *, QString> edits[] = {{"LogEna", widget.comboBox->currentText()},
                                                  {"IntgPd", widget.lineEdit->text()},
                                                  {"DatSet", widget.lineEdit_2->text()},
                                                  {"TrgOps", widget.lineEdit_3->text()},
                                                  {"OptFlds", widget.lineEdit_4->text()},
                                                  {"LogRef", widget.lineEdit_5->text()}};
    for (int k = 0; k < v.prim_num; ++k) {
        const QString name = nameOf(model, v.prim_ids[k]);
        for (const auto &e : edits) {
            if (name != QLatin1String(e.first)) continue;
            if (ai_prim_str_to_value_ad(v.prim_vals[k].type, e.second.trimmed().toUtf8().constData(),
                                        v.prim_vals[k].data) != 0) {
                ai_cleanup_objVals_ad(&v);
                return box(QStringLiteral("warning"), tr("%1 的数值 %2 无效").arg(name, e.second));
            }
        }
    }
    // The stack writes the block one attribute at a time, only what differs
    // from the values last read, LogEna last.
    AC_WRITE_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.obj_vals = &v;
    r.num_obj = 1;
    r.u_write_done = block_done;
    const bool queued = ac_write_obj_value_ad(srv_id, &r, 30, nullptr) == 0;
    ai_cleanup_objVals_ad(&v);
    if (!queued) box(QStringLiteral("warning"), tr("设置日志控制块失败"));
}

void dialog_lcb::Done(AI_OBJ_ID lcb, Step step, bool ok) {
    if (lcb != lcb_id || lcb < 0) return;
    switch (step) {
    case Step::ReadBlock:
        if (!ok) return box(QStringLiteral("warning"), tr("读日志控制块失败"));
        showBlock();
        if (w != nullptr) w->out_put(QStringLiteral("读日志控制块成功"));
        return;
    case Step::ReadStatus:
        if (!ok) return box(QStringLiteral("warning"), tr("读日志状态失败"));
        showStatus();
        return;
    case Step::WriteAttr:
        box(QStringLiteral("warning"), ok ? tr("写入成功") : tr("写入失败"));
        if (ok) on_pushButton_7_clicked();
        return;
    case Step::WriteBlock:
        box(QStringLiteral("warning"), ok ? tr("设置日志控制块成功") : tr("设置日志控制块失败"));
        on_pushButton_7_clicked();
        return;
    }
}

// ---- queries -----------------------------------------------------------------------

// A UTC time as the example gives it ("1984-01-01T00:00:00.000000000"); an
// empty text is no bound (all zero).
bool dialog_lcb::entryTime(const QString &text, EntryTime_TDEF *out) const {
    *out = EntryTime_TDEF{0, 0};
    if (text.trimmed().isEmpty()) return true;
    ST_UINT32 secs = 0, fraction = 0, q = 0;
    if (UtcStringToVals_ad == nullptr ||
        UtcStringToVals_ad(text.trimmed().toLatin1().constData(), &secs, &fraction, &q) != 0)
        return false;
    // The fraction is 24 bits of a second; to the nearest millisecond.
    const qint64 ms = qint64(secs) * 1000 + ((qint64(fraction) * 1000 + (1 << 23)) >> 24);
    const qint64 days = ms / kMsPerDay - kDays1970To1984;
    if (days < 0 || days > 0xFFFF) return false;
    out->btime6_days = ST_INT32(days);
    out->btime6_ms = ST_INT32(ms % kMsPerDay);
    return true;
}

void dialog_lcb::query(bool after) {
    if (lcb_id < 0) return;
    AC_QLOG_REQ_INFO q;
    std::memset(&q, 0, sizeof q);
    q.lcb_id = lcb_id;
    q.u_qlog_done = query_done;
    if (!entryTime(widget.lineEdit_10->text(), &q.start_time) ||
        (!after && !entryTime(widget.lineEdit_11->text(), &q.stop_time)))
        return box(QStringLiteral("warning"), tr("时间格式错误,示例:1984-01-01T00:00:00.000000000"));
    if (after && (ai_prim_str_to_value_ad == nullptr ||
                  ai_prim_str_to_value_ad(VAL_TYPE_ENTRYID, widget.lineEdit_12->text().trimmed().toLatin1().constData(),
                                          q.startEntryID) != 0))
        return box(QStringLiteral("warning"), tr("StartEntry 应为16位十六进制数"));
    auto *op = after ? ac_query_log_after_ad : ac_query_log_by_time_ad;
    if (op == nullptr || op(srv_id, &q, 30, nullptr) != 0) box(QStringLiteral("warning"), tr("查询日志失败"));
}

void dialog_lcb::on_pushButton_10_clicked() { query(false); }
void dialog_lcb::on_pushButton_11_clicked() { query(true); }

void dialog_lcb::ShowEntries(AI_OBJ_ID lcb, bool ok, const QVector<Entry> &entries) {
    if (lcb != lcb_id || lcb < 0) return;
    tbmodel->removeRows(0, tbmodel->rowCount());
    // References within the block's own LD are shown without it; the whole
    // reference and value are the cells' tool tips.
    const QByteArray ref = iedobj::ref(iedobj::model(srv_id), lcb_id);
    const QString ld = QString::fromLatin1(ref.left(ref.indexOf('/') + 1));
    for (const Entry &e : entries) {
        QList<QStandardItem *> row;
        const QString shown_ref = e.ref.startsWith(ld) ? e.ref.mid(ld.size()) : e.ref;
        for (const QString &t : {e.entry_id, e.time, shown_ref, e.value, e.reason}) row << new QStandardItem(t);
        row[ColRef]->setToolTip(e.ref);
        row[ColValue]->setToolTip(e.full_value);
        tbmodel->appendRow(row);
    }
    widget.tableView->resizeColumnsToContents();
    if (!ok) box(QStringLiteral("warning"), entries.isEmpty() ? tr("查询日志失败") : tr("查询日志未完整完成"));
    if (w != nullptr) w->out_put(QStringLiteral("查询日志完成,共%1条").arg(entries.size()));
}

void dialog_lcb::entryClicked(const QModelIndex &index) {
    if (!index.isValid()) return;
    widget.lineEdit_12->setText(tbmodel->item(index.row(), ColEntry)->text());
    widget.lineEdit_10->setText(tbmodel->item(index.row(), ColTime)->text());
}

// ---- completion functions (stack threads) ----------------------------------------

void dialog_lcb::read_done(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr || req_ctrl->u.rdCtrl.num_obj < 1 || req_ctrl->u.rdCtrl.obj_ids == nullptr) return;
    post(req_ctrl->u.rdCtrl.obj_ids[0], Step::ReadBlock, req_ctrl->result == 0);
}

void dialog_lcb::status_done(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr || req_ctrl->u.rdCtrl.num_obj < 1 || req_ctrl->u.rdCtrl.obj_ids == nullptr) return;
    AI_IED_CTRL *model = iedobj::model(req_ctrl->srv_id);
    post(parentOf(model, req_ctrl->u.rdCtrl.obj_ids[0]), Step::ReadStatus, req_ctrl->result == 0);
}

void dialog_lcb::attr_done(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr || req_ctrl->u.wrCtrl.num_obj < 1 || req_ctrl->u.wrCtrl.obj_vals == nullptr) return;
    AI_IED_CTRL *model = iedobj::model(req_ctrl->srv_id);
    post(parentOf(model, req_ctrl->u.wrCtrl.obj_vals[0].obj_id), Step::WriteAttr, req_ctrl->result == 0);
}

void dialog_lcb::block_done(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr || req_ctrl->u.wrCtrl.num_obj < 1 || req_ctrl->u.wrCtrl.obj_vals == nullptr) return;
    post(req_ctrl->u.wrCtrl.obj_vals[0].obj_id, Step::WriteBlock, req_ctrl->result == 0);
}

void dialog_lcb::query_done(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
    const AC_QLOG_CTRL &q = req_ctrl->u.qlogCtrl;
    AI_IED_CTRL *model = iedobj::model(req_ctrl->srv_id);
    QVector<Entry> entries;
    for (int i = 0; i < q.entry_num && q.entry_info != nullptr; ++i) {
        const AC_QLOGENTRY_CTRL &e = q.entry_info[i];
        Entry row;
        AI_PRIM_VAL id{VAL_TYPE_ENTRYID, AI_SIZE_ENTRYID, const_cast<ST_UCHAR *>(e.EntryID)};
        row.entry_id = iedobj::text(id);
        EntryTime_TDEF t = e.TimeOfEntry;
        AI_PRIM_VAL time{VAL_TYPE_ENTRYTIME, AI_SIZE_ENTRYTIME, &t};
        row.time = iedobj::text(time);
        row.ref = e.obj_ref >= 0 ? QString::fromLatin1(iedobj::ref(model, e.obj_ref)) : QStringLiteral("?");
        if (e.obj_num >= 1 && e.obj_vals != nullptr) {
            // The value proper first: a data object's originator, quality and
            // time stamp go to the full text only.
            const AI_OBJ_VAL &v = e.obj_vals[0];
            QStringList all, proper;
            for (int k = 0; k < v.prim_num; ++k) {
                const QString text = iedobj::text(v.prim_vals[k]);
                if (v.prim_num == 1 || v.prim_ids == nullptr) {
                    all << text;
                    proper << text;
                    continue;
                }
                const QString name = nameOf(model, v.prim_ids[k]);
                all << name + "=" + text;
                if (name != QLatin1String("orCat") && name != QLatin1String("orIdent") && name != QLatin1String("q") &&
                    name != QLatin1String("t") && name != QLatin1String("ctlNum"))
                    proper << name + "=" + text;
            }
            row.full_value = all.join(QStringLiteral("; "));
            row.value = proper.isEmpty() ? row.full_value : proper.join(QStringLiteral("; "));
        }
        if (e.obj_num >= 2 && e.obj_vals != nullptr && e.obj_vals[1].prim_num == 1)
            row.reason = reasonText(iedobj::text(e.obj_vals[1].prim_vals[0]));
        entries.push_back(row);
    }
    const AI_OBJ_ID lcb = q.dom_id;
    const bool ok = req_ctrl->result == 0;
    onGuiThread([lcb, ok, entries] {
        if (dlg_lcb != nullptr) dlg_lcb->ShowEntries(lcb, ok, entries);
    });
}
