#include "zvt/db.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtGlobal>

namespace dbtest {

namespace {

QMutex logMutex;
QStringList logLines;  // guarded by logMutex
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
    QMutexLocker locker(&logMutex);
    logLines.append(text);
}

bool runScript(const QStringList& arguments, const QByteArray& input, QString* error) {
    const QString script = qEnvironmentVariable("TARNMON_MARIADB_SH");
    if (fixtureDir().isEmpty() || script.isEmpty()) {
        *error = QStringLiteral("TARNMON_DB_DIR / TARNMON_MARIADB_SH not set: run through ctest "
                                "(fixture mariadb)");
        return false;
    }
    QProcess process;
    process.start(QStringLiteral("bash"), QStringList{script} + arguments);
    if (!process.waitForStarted(10000)) {
        *error = QStringLiteral("cannot start bash");
        return false;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QString::fromUtf8(process.readAllStandardError());
        return false;
    }
    return true;
}

}  // namespace

QString fixtureDir() { return qEnvironmentVariable("TARNMON_DB_DIR"); }

bool createOwnDatabase(const QString& name, const QString& outDir, QString* error) {
    return runScript({QStringLiteral("createdb"), fixtureDir(), name, outDir}, {}, error);
}

bool runRootSql(const QString& name, const QString& sql, QString* error) {
    return runScript({QStringLiteral("sql"), fixtureDir(), name}, sql.toUtf8(), error);
}

WorkDir::WorkDir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }

WorkDir::~WorkDir() { QDir::setCurrent(previous); }

void WorkDir::write(const QString& fileName, const QString& text) const {
    QFile file(dir.filePath(fileName));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text.toUtf8());
}

LogCapture::LogCapture() {
    QMutexLocker locker(&logMutex);
    logLines.clear();
    previousHandler = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture() { qInstallMessageHandler(previousHandler); }

QStringList LogCapture::lines() const {
    QMutexLocker locker(&logMutex);
    return logLines;
}

int LogCapture::count(const QString& fragment) const {
    QMutexLocker locker(&logMutex);
    int n = 0;
    for (const QString& line : logLines) n += line.contains(fragment) ? 1 : 0;
    return n;
}

}  // namespace dbtest
