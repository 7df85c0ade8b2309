// Looking at collected data: recordings (a local COMTRADE file, or one of
// the recordings in comtradrd), archived values as trends, and a live trend
// of numeric attributes chosen in the value table.
#include <QFileDialog>
#include <QMenu>

#include <cstring>

#include "dialog_livetrend.h"
#include "dialog_recordings.h"
#include "dialog_trend.h"
#include "dialog_wave.h"
#include "gui_srv.h"
#include "zv_ops.h"

void gui_srv::on_action_wave_triggered() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("打开录波文件"), QString(), tr("COMTRADE 录波 (*.cfg *.CFG *.dat *.DAT *.cff *.CFF);;所有文件 (*)"));
    if (path.isEmpty()) return;
    auto *wave = new dialog_wave();
    wave->setAttribute(Qt::WA_DeleteOnClose);
    wave->show();
    wave->openFile(path);
}

void gui_srv::on_action_recordings_triggered() {
    if (m_recordings == nullptr)
        m_recordings = new dialog_recordings(this);
    else
        m_recordings->refresh();
    m_recordings->show();
    m_recordings->raise();
}

void gui_srv::on_action_trend_triggered() {
    auto *trend = new dialog_trend(this);
    trend->setAttribute(Qt::WA_DeleteOnClose);
    trend->show();
}

dialog_livetrend *gui_srv::livetrend() {
    if (m_livetrend == nullptr) m_livetrend = new dialog_livetrend(this);
    return m_livetrend;
}

void gui_srv::on_action_livetrend_triggered() {
    livetrend()->show();
    livetrend()->raise();
}

void gui_srv::ShowTableMenu(const QPoint &pos) {
    const QModelIndex index = ui.tableView->indexAt(pos);
    if (!index.isValid()) return;
    bool ok = false;
    const AI_OBJ_ID id = tbmodel->index(index.row(), 0).data().toString().toInt(&ok);
    if (!ok) return;
    QMenu menu;
    QAction *add = menu.addAction(tr("加入实时趋势"));
    // Only a single number can be drawn.
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(tb_srv_id) : nullptr;
    AI_OBJ_VAL val;
    std::memset(&val, 0, sizeof val);
    double v;
    bool numeric = false;
    if (ied && ai_read_obj_primVals_ad && ai_read_obj_primVals_ad(id, ied, &val) == 0) {
        numeric = zv_numeric_value(val, &v);
        if (ai_cleanup_objVals_ad) ai_cleanup_objVals_ad(&val);
    }
    add->setEnabled(numeric);
    if (menu.exec(ui.tableView->viewport()->mapToGlobal(pos)) != add) return;
    QString why;
    if (!livetrend()->addAttribute(tb_srv_id, id, &why)) {
        out_put(why);
        return;
    }
    livetrend()->show();
    livetrend()->raise();
}
