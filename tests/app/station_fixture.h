// A working directory holding the stack library and the sample station, as
// tarnmon finds them in the field: libzorvan_ld.so by bare name, station.ini.
#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMutexLocker>
#include <QTimer>
#include <QFile>
#include <QTextStream>

#include "gui_srv.h"
#include "testdir.h"
#include "zv_ops.h"

class StationDir {
public:
    // chnlA_NO of every server; the sample station uses 1.
    explicit StationDir(int chnlA_NO = 1) {
        QFile::copy(QStringLiteral(ZV_LIB_PATH), m_dir.file("libzorvan_ld.so"));
        QFile::copy(QStringLiteral(ZV_SAMPLE_STATION "/sample.scd"), m_dir.file("sample.scd"));
        QFile in(QStringLiteral(ZV_SAMPLE_STATION "/station.ini"));
        in.open(QIODevice::ReadOnly);
        QString text = QString::fromUtf8(in.readAll());
        text.replace(QStringLiteral("chnlA_NO = 1"), QStringLiteral("chnlA_NO = %1").arg(chnlA_NO));
        QFile out(m_dir.file("station.ini"));
        out.open(QIODevice::WriteOnly);
        out.write(text.toUtf8());
        qunsetenv("ZORVAN_STATION");
    }
    QString path() const { return m_dir.path(); }

private:
    ScopedWorkDir m_dir;
};

// rptlst and doIt belong to the process, as in the field where one window
// lives as long as the process: the list only grows, and doIt once cleared
// stays so. A test that starts another window in the same process starts it
// from an empty list and with a checker that runs.
inline void freshWindowState() {
    doIt = true;
    QMutexLocker lock(&rptlst_mutex);
    rptlst.clear();
}

// Ends the receive checker now, as the window's destructor does (which then
// has no thread left to close). Offline, the checker turns every "true" entry
// back to "false" on its next pass; a test that looks at what the channel
// slots alone do to the list stops it first.
inline void stopChecker() {
    doIt = false;
    if (gs_close_thread_ad && gs_client_thread_handle != 0) gs_close_thread_ad(gs_client_thread_handle);
    gs_client_thread_handle = 0;
}

inline void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// Opens the context menu on an item, closes it at once, and reports which
// entries were enabled.
inline QStringList menuFor(gui_srv *win, QStandardItem *item) {
    QTimer::singleShot(0, win->tmenu, [win] { win->tmenu->close(); });
    win->ui.treeView->scrollTo(item->index());
    win->ui.treeView->customContextMenuRequested(win->ui.treeView->visualRect(item->index()).center());
    QStringList enabled;
    for (QAction *a : win->tmenu->actions())
        if (!a->isSeparator() && a->isEnabled()) enabled << a->text();
    return enabled;
}
