// Entry point of the station computer.
#include <QApplication>
#include <QDir>
#include <QScreen>

#include <cstdio>

#include "gui_srv.h"
#include "outputmessage.h"
#include "quitsignals.h"
#include "trace.h"
#include "uilanguage.h"

int main(int argc, char *argv[]) {
    // Trace lines go out whole as they are written: a killed process loses none.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    TM_TRACE_PRINTF("APP DIR PATH: %s\n",
                    QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath().toLocal8Bit().constData());
    TM_TRACE_PRINTF("CUR DIR PATH: %s\n", QDir::currentPath().toLocal8Bit().constData());
    std::fflush(stdout);

    QApplication a(argc, argv);
    // From here on every diagnostic message goes to the daily log file.
    qInstallMessageHandler(outputMessage);
    // Qt 6 reads sources, byte strings and the locale as UTF-8 already.
    uilang::apply(uilang::requested());

    gui_srv *win = new gui_srv(nullptr, Qt::WindowFlags());
    w = win;
    win->setAttribute(Qt::WA_DeleteOnClose);
    win->setWindowFlags(win->windowFlags() & ~Qt::WindowMaximizeButtonHint);
    // The callbacks reach the window through w, so they are registered only now.
    set_callback_function();
    // --fullscreen: the window takes the whole screen by itself. Without a
    // window manager (a kiosk, Xvfb) nobody maximizes a window, and it would
    // stay at its form size in a corner.
    bool fullscreen = false;
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--fullscreen") == 0) fullscreen = true;
    if (fullscreen) {
        win->setGeometry(win->screen()->geometry());
        win->showFullScreen();
    } else {
        win->showMaximized();
    }
    quitOnSignals(win);
    QObject::connect(&a, &QApplication::lastWindowClosed, &a, &QApplication::quit);
    QObject::connect(win, &QObject::destroyed, &a, &QApplication::quit);
    return a.exec();
}
