// The FTP server of the tests (scripts/ftpd.sh: pyftpdlib on loopback) seen
// from a test: the build tree's shared server (ctest fixture "ftpd") or a
// private one that the test stops and starts again. Qt Core; a target that
// starts its own defines ZV_FTPD_SH.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace zvt {

// The KEY=VALUE lines of a server's settings file (FTP_HOST, FTP_PORT,
// FTP_USER, FTP_PASS, FTP_ROOT); empty when it cannot be read.
inline QHash<QString, QString> ftpd_env(const QString &path) {
    QHash<QString, QString> env;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return env;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0) env.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return env;
}

// The settings of the ctest fixture "ftpd" (the file ZV_FTPD_ENV_FILE names).
inline QHash<QString, QString> shared_ftpd() { return ftpd_env(QString::fromLocal8Bit(qgetenv("ZV_FTPD_ENV_FILE"))); }

#ifdef ZV_FTPD_SH
// A private FTP server serving DIR/root, with its settings and log in DIR.
class Ftpd {
public:
    explicit Ftpd(const QString &dir) : m_dir(dir) {}
    ~Ftpd() { stop(); }
    // Starts it on `port` (0: a free one); false with error() when it did not.
    bool start(int port = 0) {
        QProcess p;
        p.start("bash", {ZV_FTPD_SH, "start", m_dir, QString::number(port)});
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            m_error = QString::fromUtf8(p.readAllStandardError());
            return false;
        }
        m_env = ftpd_env(m_dir + "/ftpd.env");
        if (m_env.isEmpty()) {
            m_error = "no settings in " + m_dir + "/ftpd.env";
            return false;
        }
        m_running = true;
        return true;
    }
    void stop() {
        if (!m_running) return;
        QProcess p;
        p.start("bash", {ZV_FTPD_SH, "stop", m_dir});
        p.waitForFinished(60000);
        m_running = false;
    }
    QString value(const QString &key) const { return m_env.value(key); }
    int port() const { return value("FTP_PORT").toInt(); }
    QString root() const { return value("FTP_ROOT"); }
    QString error() const { return m_error; }
    // Completed uploads of `name` in the server's log.
    int stored(const QString &name) const {
        QFile f(m_dir + "/ftpd.log");
        const QString log = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        int n = 0;
        for (const QString &line : log.split('\n'))
            if (line.contains(" STOR ") && line.contains("/" + name + " completed=1")) ++n;
        return n;
    }

private:
    QString m_dir;
    QHash<QString, QString> m_env;
    bool m_running = false;
    QString m_error;
};
#endif

}  // namespace zvt
