#include "dialog_sg.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <cstring>
#include <vector>

#include "gui_srv.h"
#include "ied_objects.h"
#include "zv_ops.h"

void (*dialog_sg::box_hook)(const QString &title, const QString &text) = nullptr;

namespace {

constexpr int ROLE_PRIM_ID = Qt::UserRole + 1;  // value column: the primitive's object
constexpr int ROLE_READ = Qt::UserRole + 2;     // value column: the text as read

template <typename F>
void onGuiThread(F f) {
    QCoreApplication *app = QCoreApplication::instance();
    if (app != nullptr) QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
}

void post(AC_REQ_CTRL *req_ctrl, dialog_sg::Step step) {
    if (req_ctrl == nullptr) return;
    const int srv = req_ctrl->srv_id;
    const bool ok = req_ctrl->result == 0;
    onGuiThread([srv, step, ok] {
        if (dlg_sg != nullptr) dlg_sg->Done(srv, step, ok);
    });
}

void pane(const QString &text) {
    if (w != nullptr) w->out_put(text);
}

}  // namespace

dialog_sg::dialog_sg() : QDialog(nullptr) {
    widget.setupUi(this);
    // The form connects nothing by name (connectslotsbyname="false"): each
    // button's handler is connected here, checked by the compiler.
    connect(widget.pB_ReadSGBlock, &QAbstractButton::clicked, this, &dialog_sg::on_pB_ReadSGBlock_clicked);
    connect(widget.pB_CHGACTSGNo, &QAbstractButton::clicked, this, &dialog_sg::on_pB_CHGACTSGNo_clicked);
    connect(widget.pB_CHGEDITSGNo, &QAbstractButton::clicked, this, &dialog_sg::on_pB_CHGEDITSGNo_clicked);
    connect(widget.pB_ReadSG, &QAbstractButton::clicked, this, &dialog_sg::on_pB_ReadSG_clicked);
    connect(widget.pB_WriteSG, &QAbstractButton::clicked, this, &dialog_sg::on_pB_WriteSG_clicked);
    tbmodel = new QStandardItemModel(this);
    tbmodel->setColumnCount(3);
    tbmodel->setHorizontalHeaderItem(ColRef, new QStandardItem(tr("参引")));
    tbmodel->setHorizontalHeaderItem(ColValue, new QStandardItem(tr("数值")));
    tbmodel->setHorizontalHeaderItem(ColDesc, new QStandardItem(tr("描述")));
    widget.tV_SG->setModel(tbmodel);
    widget.tV_SG->verticalHeader()->hide();
    widget.tV_SG->setColumnWidth(ColRef, 300);
    widget.tV_SG->setColumnWidth(ColValue, 100);
    widget.tV_SG->horizontalHeader()->setStretchLastSection(true);
    widget.tV_SG->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                  QAbstractItemView::AnyKeyPressed);
}

dialog_sg::~dialog_sg() {
    if (dlg_sg == this) dlg_sg = nullptr;
}

void dialog_sg::box(const QString &title, const QString &text) {
    if (box_hook != nullptr) {
        box_hook(title, text);
        return;
    }
    QMessageBox::warning(nullptr, title, text, QMessageBox::Ok);
}

void dialog_sg::SetIds(int srv, int obj) {
    srv_id = srv;
    obj_id = obj;
    AI_IED_CTRL *model = iedobj::model(srv_id);
    AI_OBJ_ID ld = obj;
    while (ld >= 0 && iedobj::type(model, ld) != OBJECT_TYPE_LD)
        ld = ai_find_obj_parent_ad != nullptr ? ai_find_obj_parent_ad(model, ld) : -1;
    sgcb_id = iedobj::sgcbOf(model, ld);
    tbmodel->removeRows(0, tbmodel->rowCount());
    editing_shown = false;
    widget.cB_OPSGNo->clear();
    for (QLineEdit *e : {widget.lE_SGNum, widget.lE_ACTSGNo, widget.lE_EDITSGNo}) e->clear();
    if (sgcb_id < 0) return;
    setWindowTitle(tr("定值服务") + QStringLiteral(" - ") + QString::fromLatin1(iedobj::ref(model, ld)));
    showBlock();
    on_pB_ReadSGBlock_clicked();
}

AI_OBJ_ID dialog_sg::attrId(const char *name) const {
    AI_IED_CTRL *model = iedobj::model(srv_id);
    return sgcb_id < 0 ? -1 : iedobj::id(model, iedobj::ref(model, sgcb_id) + "$" + name);
}

int dialog_sg::attr(const char *name) const {
    const AI_OBJ_ID id = attrId(name);
    AI_OBJ_VAL v;
    std::memset(&v, 0, sizeof v);
    if (id < 0 || ai_read_obj_primVals_ad == nullptr || ai_read_obj_primVals_ad(id, iedobj::model(srv_id), &v) != 0)
        return -1;
    bool ok = false;
    const int n = v.prim_num == 1 ? iedobj::text(v.prim_vals[0]).toInt(&ok) : -1;
    ai_cleanup_objVals_ad(&v);
    return ok ? n : -1;
}

void dialog_sg::showBlock() {
    const int num = attr("NumOfSG"), act = attr("ActSG"), edit = attr("EditSG");
    widget.lE_SGNum->setText(num < 0 ? QString() : QString::number(num));
    widget.lE_ACTSGNo->setText(act < 0 ? QString() : QString::number(act));
    widget.lE_EDITSGNo->setText(edit < 0 ? QString() : QString::number(edit));
    if (num > 0 && widget.cB_OPSGNo->count() != num) {
        widget.cB_OPSGNo->clear();
        for (int g = 1; g <= num; ++g) widget.cB_OPSGNo->addItem(QString::number(g));
        if (act >= 1 && act <= num) widget.cB_OPSGNo->setCurrentIndex(act - 1);
    }
}

void dialog_sg::on_pB_ReadSGBlock_clicked() {
    if (sgcb_id < 0 || ac_read_obj_value_ad == nullptr) return;
    AI_OBJ_ID id = sgcb_id;
    AC_READ_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.obj_ids = &id;
    r.num_obj = 1;
    r.u_read_done = block_done;
    if (ac_read_obj_value_ad(srv_id, &r, 15, nullptr) != 0) box(QStringLiteral("warning"), tr("读定值控制块失败"));
}

bool dialog_sg::writeAttr(const char *name, const QByteArray &text, Step step) {
    const AI_OBJ_ID id = attrId(name);
    AI_OBJ_VAL v;
    std::memset(&v, 0, sizeof v);
    if (id < 0 || ai_read_obj_primVals_ad == nullptr || ac_write_obj_value_ad == nullptr ||
        ai_read_obj_primVals_ad(id, iedobj::model(srv_id), &v) != 0)
        return false;
    bool queued = false;
    if (v.prim_num == 1 && ai_prim_str_to_value_ad(v.prim_vals[0].type, text.constData(), v.prim_vals[0].data) == 0) {
        AC_WRITE_REQ_INFO r;
        std::memset(&r, 0, sizeof r);
        r.obj_vals = &v;
        r.num_obj = 1;
        r.u_write_done = step == Step::Active ? active_done : step == Step::Edit ? edit_done : confirm_done;
        queued = ac_write_obj_value_ad(srv_id, &r, 15, nullptr) == 0;
    }
    ai_cleanup_objVals_ad(&v);
    return queued;
}

void dialog_sg::on_pB_CHGACTSGNo_clicked() {
    if (sgcb_id < 0 || widget.cB_OPSGNo->currentIndex() < 0) return;
    if (!writeAttr("ActSG", widget.cB_OPSGNo->currentText().toLatin1(), Step::Active))
        box(QStringLiteral("warning"), tr("切换激活区失败"));
}

void dialog_sg::on_pB_CHGEDITSGNo_clicked() {
    if (sgcb_id < 0 || widget.cB_OPSGNo->currentIndex() < 0) return;
    if (!writeAttr("EditSG", widget.cB_OPSGNo->currentText().toLatin1(), Step::Edit))
        box(QStringLiteral("warning"), tr("切换编辑区失败"));
}

// SE (edit group) or SG (active group) of every LN of the SGCB's LD.
QVector<AI_OBJ_ID> dialog_sg::settingNodes(bool edit) const {
    QVector<AI_OBJ_ID> out;
    AI_IED_CTRL *model = iedobj::model(srv_id);
    const QByteArray ref = iedobj::ref(model, sgcb_id);
    const AI_OBJ_ID ld = iedobj::id(model, ref.left(ref.indexOf('/')));
    AI_OBJ_ID *lns = nullptr;
    ST_INT n = 0;
    if (ld < 0 || ai_get_obj_dir_ad == nullptr || ai_get_obj_dir_ad(model, ld, 0, &lns, &n) != 0 || lns == nullptr)
        return out;
    for (int i = 0; i < n; ++i) {
        if (iedobj::type(model, lns[i]) != OBJECT_TYPE_LN) continue;
        const AI_OBJ_ID node = iedobj::id(model, iedobj::ref(model, lns[i]) + (edit ? "$SE" : "$SG"));
        if (node >= 0) out.push_back(node);
    }
    return out;
}

void dialog_sg::readSettings(bool edit) {
    QVector<AI_OBJ_ID> nodes = settingNodes(edit);
    if (nodes.isEmpty()) {
        box(QStringLiteral("warning"), tr("该逻辑设备没有定值"));
        return;
    }
    reading_edit = edit;
    AC_READ_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.obj_ids = nodes.data();
    r.num_obj = ST_INT32(nodes.size());
    r.u_read_done = settings_done;
    if (ac_read_obj_value_ad == nullptr || ac_read_obj_value_ad(srv_id, &r, 15, nullptr) != 0)
        box(QStringLiteral("warning"), tr("读定值失败"));
}

void dialog_sg::on_pB_ReadSG_clicked() {
    if (sgcb_id < 0 || widget.cB_OPSGNo->currentIndex() < 0) return;
    const int g = widget.cB_OPSGNo->currentText().toInt();
    const int edit = attr("EditSG"), act = attr("ActSG");
    // IEC 61850-7-2: the settings of the edit group (SE) and of the active group (SG) are readable.
    if (g == edit && edit > 0)
        readSettings(true);
    else if (g == act)
        readSettings(false);
    else
        box(QStringLiteral("warning"), tr("定值组%1既不是激活区也不是编辑区,请先切换编辑区").arg(g));
}

void dialog_sg::showSettings() {
    AI_IED_CTRL *model = iedobj::model(srv_id);
    tbmodel->removeRows(0, tbmodel->rowCount());
    editing_shown = reading_edit;
    for (AI_OBJ_ID node : settingNodes(editing_shown)) {
        AI_OBJ_VAL v;
        std::memset(&v, 0, sizeof v);
        if (ai_read_obj_primVals_ad == nullptr || ai_read_obj_primVals_ad(node, model, &v) != 0) continue;
        for (int k = 0; k < v.prim_num; ++k) {
            auto *ref = new QStandardItem(QString::fromLatin1(iedobj::ref(model, v.prim_ids[k])));
            ref->setEditable(false);
            const QString text = iedobj::text(v.prim_vals[k]);
            auto *value = new QStandardItem(text);
            value->setData(v.prim_ids[k], ROLE_PRIM_ID);
            value->setData(text, ROLE_READ);
            value->setEditable(editing_shown);
            auto *desc = new QStandardItem(iedobj::description(model, v.prim_ids[k]));
            desc->setEditable(false);
            tbmodel->appendRow({ref, value, desc});
        }
        ai_cleanup_objVals_ad(&v);
    }
}

void dialog_sg::on_pB_WriteSG_clicked() {
    if (sgcb_id < 0) return;
    if (!editing_shown) {
        box(QStringLiteral("warning"), tr("请先切换编辑区并读出编辑区定值"));
        return;
    }
    AI_IED_CTRL *model = iedobj::model(srv_id);
    std::vector<AI_OBJ_VAL> vals;
    auto release = [&] {
        for (AI_OBJ_VAL &v : vals) ai_cleanup_objVals_ad(&v);
    };
    for (int r = 0; r < tbmodel->rowCount(); ++r) {
        QStandardItem *item = tbmodel->item(r, ColValue);
        if (item->text() == item->data(ROLE_READ).toString()) continue;
        AI_OBJ_VAL v;
        std::memset(&v, 0, sizeof v);
        const AI_OBJ_ID id = item->data(ROLE_PRIM_ID).toInt();
        if (ai_read_obj_primVals_ad(id, model, &v) != 0) continue;
        vals.push_back(v);
        if (v.prim_num != 1 ||
            ai_prim_str_to_value_ad(v.prim_vals[0].type, item->text().toUtf8().constData(), v.prim_vals[0].data) != 0) {
            box(QStringLiteral("warning"), tr("%1 的数值 %2 无效").arg(tbmodel->item(r, ColRef)->text(), item->text()));
            release();
            return;
        }
    }
    if (vals.empty()) {  // nothing changed: only the confirmation
        if (!writeAttr("CnfEdit", "true", Step::Confirm)) box(QStringLiteral("warning"), tr("定值确认失败"));
        return;
    }
    AC_WRITE_REQ_INFO r;
    std::memset(&r, 0, sizeof r);
    r.obj_vals = vals.data();
    r.num_obj = ST_INT32(vals.size());
    r.u_write_done = write_done;
    const bool queued = ac_write_obj_value_ad != nullptr && ac_write_obj_value_ad(srv_id, &r, 30, nullptr) == 0;
    release();
    if (!queued) box(QStringLiteral("warning"), tr("写定值失败"));
}

void dialog_sg::Done(int srv, Step step, bool ok) {
    if (srv != srv_id || sgcb_id < 0) return;
    switch (step) {
    case Step::ReadBlock:
        if (!ok) return box(QStringLiteral("warning"), tr("读定值控制块失败"));
        showBlock();
        return;
    case Step::ReadSettings:
        if (!ok) return box(QStringLiteral("warning"), tr("读定值失败"));
        showSettings();
        pane(QStringLiteral("读定值成功"));
        return;
    case Step::Active:
        if (!ok) return box(QStringLiteral("warning"), tr("切换激活区失败"));
        pane(QStringLiteral("切换激活区成功"));
        on_pB_ReadSGBlock_clicked();
        if (!editing_shown && tbmodel->rowCount() > 0) readSettings(false);
        return;
    case Step::Edit:
        if (!ok) return box(QStringLiteral("warning"), tr("切换编辑区失败"));
        pane(QStringLiteral("切换编辑区成功"));
        on_pB_ReadSGBlock_clicked();
        readSettings(true);
        return;
    case Step::Write:
        if (!ok) return box(QStringLiteral("warning"), tr("写定值失败"));
        if (!writeAttr("CnfEdit", "true", Step::Confirm)) box(QStringLiteral("warning"), tr("定值确认失败"));
        return;
    case Step::Confirm:
        if (!ok) return box(QStringLiteral("warning"), tr("定值确认失败"));
        box(QStringLiteral("warning"), tr("定值写入并确认成功"));
        readSettings(true);
        return;
    }
}

// ---- completion functions (stack threads) ----------------------------------------

void dialog_sg::block_done(AC_REQ_CTRL *req_ctrl) { post(req_ctrl, Step::ReadBlock); }
void dialog_sg::settings_done(AC_REQ_CTRL *req_ctrl) { post(req_ctrl, Step::ReadSettings); }
void dialog_sg::active_done(AC_REQ_CTRL *req_ctrl) { post(req_ctrl, Step::Active); }
void dialog_sg::edit_done(AC_REQ_CTRL *req_ctrl) { post(req_ctrl, Step::Edit); }
void dialog_sg::write_done(AC_REQ_CTRL *req_ctrl) { post(req_ctrl, Step::Write); }
void dialog_sg::confirm_done(AC_REQ_CTRL *req_ctrl) { post(req_ctrl, Step::Confirm); }
