// tarnmon_screenshot OUT.png [SECONDS [SETTLE]]
//
// Starts the main window as tarnmon does (in the current directory: station
// file, stack library), waits until every server of the station is connected
// on network A and its report control blocks are enabled, lets reports move
// the values for SETTLE seconds (default 5), opens the tree down to the first
// data set of the first logical device and to that set's first member, clicks
// the data set so that the
// value table shows its members and values, and saves a picture of the
// window. Exit status 0 when the picture was written; 1 when the station did
// not come up within SECONDS (default 120; the picture is written anyway, to
// show what went wrong); 2 on a usage or write error.
//
// scripts/screenshot.sh runs it under Xvfb against two iedsim processes.
#include <QApplication>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>

#include "gui_srv.h"
#include "outputmessage.h"
#include "uilanguage.h"
#include "zv_ops.h"

namespace {

bool stationUp(gui_srv *win) {
    if (ac_get_srvm_chnlState_ad == nullptr || win->model->rowCount() == 0) return false;
    for (int s = 0; s < win->model->rowCount(); ++s) {
        CHNL_STATE a = CHNL_STATE_UNCONNECTED, b = CHNL_STATE_UNCONNECTED;
        AC_CHANNEL active = AC_CHANNEL_UNKNOWN;
        ac_get_srvm_chnlState_ad(s, &a, &b, &active);
        if (a != CHNL_STATE_CONNECTED) return false;
    }
    QMutexLocker lock(&rptlst_mutex);
    for (const QString &e : rptlst)
        if (!e.endsWith(QLatin1String("_true"))) return false;
    return true;
}

// The first data set below the first logical device of the first server; its
// logical device and server are expanded.
QStandardItem *firstDataSet(gui_srv *win) {
    QStandardItem *srv = win->model->item(0, 0);
    QStandardItem *ld = srv ? srv->child(0, 0) : nullptr;
    if (ld == nullptr) return nullptr;
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(0) : nullptr;
    for (int r = 0; r < ld->rowCount(); ++r) {
        QStandardItem *item = ld->child(r, 0);
        if (item && ied && ai_get_obj_type_ad &&
            ai_get_obj_type_ad(ied, item->data(ROLE_OBJ_ID).toInt()) == OBJECT_TYPE_DS)
            return item;
    }
    return nullptr;
}

// The items from the logical device down to the first member of data set
// `ds` (its logical node, functional constraint, data object).
QList<QStandardItem *> pathToFirstMember(QStandardItem *ds) {
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(0) : nullptr;
    AI_OBJ_IDCTRL *ctrl = ied && ai_get_obj_id_ctrl_ad ? ai_get_obj_id_ctrl_ad(ied, ds->data(ROLE_OBJ_ID).toInt())
                                                       : nullptr;
    if (ctrl == nullptr || ctrl->u.ds_idctrl.ds == nullptr || ctrl->u.ds_idctrl.ds->mb_num < 1 ||
        !ai_find_obj_parent_ad)
        return {};
    QList<AI_OBJ_ID> chain;
    for (AI_OBJ_ID id = ctrl->u.ds_idctrl.ds->mb_ids[0]; id > 0 && ai_get_obj_type_ad(ied, id) != OBJECT_TYPE_LD;
         id = ai_find_obj_parent_ad(ied, id))
        chain.prepend(id);
    QList<QStandardItem *> items;
    QStandardItem *at = ds->parent();
    for (AI_OBJ_ID id : chain) {
        QStandardItem *next = nullptr;
        for (int r = 0; r < at->rowCount() && next == nullptr; ++r)
            if (at->child(r, 0) && at->child(r, 0)->data(ROLE_OBJ_ID).toInt() == id) next = at->child(r, 0);
        if (next == nullptr) break;
        items << next;
        at = next;
    }
    return items;
}

}  // namespace

int main(int argc, char *argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.png [SECONDS [SETTLE]]\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 120;
    // Once the station is up, a few seconds for reports to move the values.
    const int settle_ms = argc > 3 ? std::atoi(argv[3]) * 1000 : 5000;

    QApplication app(argc, argv);
    uilang::apply(uilang::requested());  // TARNMON_LANG or syscfg.ini, as tarnmon
    qInstallMessageHandler(outputMessage);
    auto *win = new gui_srv(nullptr, Qt::WindowFlags());
    w = win;
    set_callback_function();
    const QSize screen = QGuiApplication::primaryScreen()->availableSize();
    win->resize(screen);
    win->move(0, 0);
    win->show();

    int status = 1;
    auto shoot = [&] {
        if (QStandardItem *ds = firstDataSet(win)) {
            win->ui.treeView->expand(ds->parent()->parent()->index());
            win->ui.treeView->expand(ds->parent()->index());
            // The tree also opens down to the data set's first member, so that
            // it shows a logical node with its functional constraints.
            for (QStandardItem *item : pathToFirstMember(ds)) win->ui.treeView->expand(item->index());
            win->ui.treeView->setCurrentIndex(ds->index());
            win->ui.treeView->scrollTo(ds->index(), QAbstractItemView::PositionAtCenter);
            emit win->ui.treeView->clicked(ds->index());
        }
        // Let the queued messages reach the pane and the views paint.
        QTimer::singleShot(1000, &app, [&] {
            if (!win->grab().save(out, "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", argv[1]);
                status = 2;
            }
            app.quit();
        });
    };
    QTimer poll;
    QElapsedTimer since;
    since.start();
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        const bool up = stationUp(win);
        if (!up && since.elapsed() < seconds * 1000LL) return;
        poll.stop();
        if (up) {
            status = 0;
            QTimer::singleShot(settle_ms, &app, shoot);
        } else {
            std::fprintf(stderr, "the station did not come up within %d s\n", seconds);
            shoot();
        }
    });
    poll.start(200);
    app.exec();
    const int result = status;
    delete win;
    return result;
}
