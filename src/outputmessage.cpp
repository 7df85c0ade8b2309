#include "outputmessage.h"

#include <QFile>
#include <QMutex>
#include <QTextStream>

#include <atomic>

namespace {

std::atomic<LogClock> g_clock{nullptr};

QDateTime now() {
    LogClock clock = g_clock.load();
    return clock ? clock() : QDateTime::currentDateTime();
}

}  // namespace

void setLogClock(LogClock clock) { g_clock.store(clock); }

void outputMessage(QtMsgType type, const QMessageLogContext &, const QString &msg) {
    // Created on first use, thread-safe; not recursive: nothing in here may log.
    static QMutex mutex;
    QMutexLocker locker(&mutex);

    QString text;
    switch (type) {
    case QtDebugMsg: text = QStringLiteral("Debug:"); break;
    case QtWarningMsg: text = QStringLiteral("Warning:"); break;
    case QtCriticalMsg: text = QStringLiteral("Critical:"); break;
    case QtFatalMsg: text = QStringLiteral("Fatal:"); break;
    default: break;
    }
    const QDateTime t = now();
    const QString day = t.toString(QStringLiteral("yyyy-MM-dd"));
    const QString stamp = t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QString line = QStringLiteral("%1 %2 %3").arg(text, msg, QStringLiteral("(%1)").arg(stamp));

    // Opened and closed per line so the log survives a crash; a file that
    // cannot be opened loses the line silently.
    QFile file(QStringLiteral("debug") + day + QStringLiteral(".log"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    QTextStream out(&file);
    out << line << "\r\n";
    out.flush();
    file.close();
}
