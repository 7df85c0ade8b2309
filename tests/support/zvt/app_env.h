// Set-up of the application's window tests (dialogs, views, languages): the
// stack library loaded by path, the sample station's model, the main
// window's message pane and the boxes the dialogs would have shown. A target
// that uses it links tarnmon_core and defines ZV_LIB_PATH and
// ZV_SAMPLE_STATION.
#pragma once

#include <dlfcn.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextEdit>
#include <vector>

#include "dlunix.h"
#include "gui_srv.h"
#include "zv_ops.h"
#include "zvt/qt_main.h"
#include "zvt/qt_wait.h"

namespace dlgtest {

using zvt::settle;

struct Box {
    QString title;
    QString text;
    bool operator==(const Box &o) const { return title == o.title && text == o.text; }
};

inline std::vector<Box> &boxes() {
    static std::vector<Box> b;
    return b;
}

inline void recordBox(const QString &title, const QString &text) { boxes().push_back({title, text}); }

inline std::ostream &operator<<(std::ostream &os, const Box &b) {
    return os << "[" << b.title.toStdString() << "] " << b.text.toStdString();
}

// Loads libzorvan_ld.so by path and looks its operations up, as the
// application does once it has loaded the library.
inline bool loadStack() {
    static void *handle = dlopen(ZV_LIB_PATH, RTLD_LAZY);
    if (handle == nullptr) return false;
    dp = handle;
    zv_lookup_operations(handle);
    return true;
}

// Loads the model of the sample station (server 0 CMIED, server 1 BAYIED)
// through a station file of our own: the sample SCL, addresses nobody
// listens on, and no channel kept connected.
inline void unloadSampleStation();

inline int &stationState() {
    static int loaded = -1;  // -1 not tried, 0 failed, 1 loaded
    // Whoever loads it, the stack's threads end before the program does.
    static const bool ended_at_exit = (zvt::atTestExit([] { unloadSampleStation(); }), true);
    (void)ended_at_exit;
    return loaded;
}

inline bool loadSampleStation() {
    int &loaded = stationState();
    if (loaded >= 0) return loaded == 1;
    loaded = 0;
    if (!loadStack() || ai_init_envir_ad == nullptr || ac_init_srvm_ad == nullptr) return false;
    static QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("station.ini"));
    QFile f(ini);
    if (!f.open(QIODevice::WriteOnly)) return false;
    QByteArray text = "[station]\nscl = " + QByteArray(ZV_SAMPLE_STATION) + "/sample.scd\n";
    for (const char *ied : {"CMIED", "BAYIED"}) {
        text += QByteArray("[ied ") + ied + "]\naddr_a = 127.0.0.1:9\naddr_b = none\nkeep_con_A = 0\nkeep_con_B = 0\n";
    }
    f.write(text);
    f.close();
    qputenv("ZORVAN_STATION", ini.toLocal8Bit());
    if (ai_init_envir_ad(nullptr) != 0 || ac_init_srvm_ad() != 0) return false;
    loaded = 1;
    return true;
}

// Ends the stack's environment, as the application does at shutdown, so that
// its threads are gone before the process exits.
inline void unloadSampleStation() {
    if (stationState() == 1 && ai_uninit_envir_ad != nullptr) ai_uninit_envir_ad();
    stationState() = -1;
}

// The main window in a fresh working directory without the library, so that
// it starts with nothing but its message pane. Create it before loadStack().
class MainWindowPane {
public:
    MainWindowPane() : m_old(QDir::currentPath()) {
        QDir::setCurrent(m_dir.path());
        m_win = new gui_srv();
        w = m_win;
        settle();
        m_start = all().size();
    }
    ~MainWindowPane() {
        delete m_win;
        w = nullptr;
        QDir::setCurrent(m_old);
    }
    // Lines written since the window came up or since mark().
    QStringList lines() const { return all().mid(m_start); }
    void mark() { m_start = all().size(); }

private:
    QStringList all() const { return m_win->ui.textEdit->toPlainText().split('\n', Qt::SkipEmptyParts); }

    QTemporaryDir m_dir;
    QString m_old;
    gui_srv *m_win = nullptr;
    int m_start = 0;
};

}  // namespace dlgtest
