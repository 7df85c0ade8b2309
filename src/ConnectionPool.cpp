#include "ConnectionPool.h"

#include <QDebug>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QSqlError>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <cstdio>

QMutex ConnectionPool::mutex;
QWaitCondition ConnectionPool::waitConnection;
QAtomicPointer<ConnectionPool> ConnectionPool::instance;

namespace {

// Highest TCP port number; a configured port outside 0..kMaxPort is refused
// when a connection is made rather than silently wrapped by the client library.
constexpr int kMaxPort = 65535;

// Options of every pool connection.  An idle pooled connection can be dropped
// by the server (wait_timeout) while the pool still takes it for open; the
// client then reconnects on the next statement instead of failing for the
// rest of the run.  The connect timeout bounds how long a borrower (and every
// other borrower, waiting on the pool's lock) can hang on a dead host.
// syscfg.ini holds a few dozen short lines; a file beyond this size is not a
// settings file and is not read (QSettings would load all of it).
constexpr qint64 kMaxSettingsFileSize = 1024 * 1024;

const char* const kConnectOptions = "MYSQL_OPT_RECONNECT=1;MYSQL_OPT_CONNECT_TIMEOUT=10";

// A text entry with no fallback.  QSettings turns a value containing commas
// into a list; such a value (a password "a,b", say) is joined back.
QString readText(const QSettings& settings, const char* key) {
    const QVariant value = settings.value(QLatin1String(key));
    if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

// A number entry: a decimal integer that fits into 32 bits, otherwise 0.
int readNumber(const QSettings& settings, const char* key) {
    bool ok = false;
    const int number = readText(settings, key).trimmed().toInt(&ok, 10);
    return ok ? number : 0;
}

}  // namespace

ConnectionPool::ConnectionPool() {
    databaseType = QStringLiteral("QMYSQL");
    testOnBorrow = false;
    testOnBorrowSql = QStringLiteral("SELECT 1");
    maxWaitTime = 1000;
    waitInterval = 200;
    maxConnectionCount = 5;

    const QString fileName = QStringLiteral("syscfg.ini");
    const qint64 fileSize = QFileInfo(fileName).size();
    const bool tooLarge = fileSize > kMaxSettingsFileSize;
    if (tooLarge)
        qWarning("syscfg.ini: %lld bytes exceed the limit of %lld, settings not read", static_cast<long long>(fileSize),
                 static_cast<long long>(kMaxSettingsFileSize));
    // An empty path gives QSettings nothing to read: every key absent.
    const QSettings settings(tooLarge ? QString() : fileName, QSettings::IniFormat);

    hostName = readText(settings, "mysqlcfg/hostname");
    databaseName = readText(settings, "mysqlcfg/dbname");
    username = readText(settings, "mysqlcfg/usrname");
    password = readText(settings, "mysqlcfg/psw");
#ifndef TARNVIEW
    std::printf("DB Parameter: %s/%s@%s %s\n", username.toUtf8().constData(), password.toUtf8().constData(),
                hostName.toUtf8().constData(), databaseName.toUtf8().constData());
    std::fflush(stdout);
#endif
    port = readNumber(settings, "mysqlcfg/port");
    localfilepath = readText(settings, "mysqlcfg/localfilepath");
    remotefilepath = readText(settings, "mysqlcfg/remotefilepath");
    comtradftpip = readText(settings, "mysqlcfg/comtradftpip");
    comtradftpuid = readText(settings, "mysqlcfg/comtradftpuid");
    comtradftppsw = readText(settings, "mysqlcfg/comtradftppsw");
    comtradfilepath = readText(settings, "mysqlcfg/comtradfilepath");
    comtradftpport = readNumber(settings, "mysqlcfg/comtradftpport");
    // Absent from the files of stations older than the companions: they are
    // collected unless switched off.
    const QString companions = readText(settings, "mysqlcfg/comtradcompanions").trimmed();
    bool companionsOk = false;
    comtradcompanions = companions.isEmpty() ? 1 : companions.toInt(&companionsOk, 10);
    if (!companions.isEmpty() && !companionsOk) {
        qWarning("syscfg.ini: comtradcompanions=%s is not a number, companion files are collected",
                 companions.toUtf8().constData());
        comtradcompanions = 1;
    }
    tempmeasureinterval = readNumber(settings, "mysqlcfg/tempmeasureinterval");
    sf6interval = readNumber(settings, "mysqlcfg/sf6interval");
    pdinterval = readNumber(settings, "mysqlcfg/pdinterval");
    microweatherinterval = readNumber(settings, "mysqlcfg/microweatherinterval");
    ironcoreinterval = readNumber(settings, "mysqlcfg/ironcoreinterval");
    moainterval = readNumber(settings, "mysqlcfg/moainterval");
    yspinterval = readNumber(settings, "mysqlcfg/yspinterval");
    yspinterval1 = readNumber(settings, "mysqlcfg/yspinterval1");
    yspinterval2 = readNumber(settings, "mysqlcfg/yspinterval2");
    jyinterval = readNumber(settings, "mysqlcfg/jyinterval");
    scurinterval = readNumber(settings, "mysqlcfg/scurinterval");
    dlginterval = readNumber(settings, "mysqlcfg/dlginterval");
    jdwinterval = readNumber(settings, "mysqlcfg/jdwinterval");
}

ConnectionPool::~ConnectionPool() {
    // Every name this pool registered, lent, returned or failed: a later pool
    // (read from a changed file) must not find a connection with old settings.
    const QStringList names = registered.keys();
    for (const QString& name : names) unregister(name);
}

void ConnectionPool::unregister(const QString& connectionName) {
    // Closed here, while the pool still holds the only handle it knows of:
    // Qt does not close a connection that it removes while a borrower still
    // keeps a copy, and the client connection would stay open for ever.
    QSqlDatabase connection = registered.take(connectionName).connection;
    connection.close();
    connection = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

ConnectionPool& ConnectionPool::getInstance() {
    ConnectionPool* pool = instance.loadAcquire();
    if (pool == nullptr) {
        QMutexLocker locker(&mutex);
        pool = instance.loadRelaxed();
        if (pool == nullptr) {
            pool = new ConnectionPool;
            instance.storeRelease(pool);
        }
    }
    return *pool;
}

void ConnectionPool::release() {
    QMutexLocker locker(&mutex);
    delete instance.loadRelaxed();
    instance.storeRelease(nullptr);
}

QSqlDatabase ConnectionPool::openConnection() {
    ConnectionPool& pool = getInstance();
    QThread* const self = QThread::currentThread();
    QMutexLocker locker(&mutex);

    int count = pool.unusedConnectionNames.size() + pool.usedConnectionNames.size();

    // All names lent: wait for one to come back, at most maxWaitTime.
    for (int waited = 0;
         waited < pool.maxWaitTime && pool.unusedConnectionNames.isEmpty() && count == pool.maxConnectionCount;
         waited += pool.waitInterval) {
        waitConnection.wait(&mutex, pool.waitInterval);
        count = pool.unusedConnectionNames.size() + pool.usedConnectionNames.size();
    }

    // A returned name whose connection this thread opened is reused as it is.
    // Before taking over another thread's name (and so making a new
    // connection for it), a fresh name is made while there is room.
    QString connectionName;
    bool reused = false;
    for (qsizetype i = 0; i < pool.unusedConnectionNames.size(); ++i) {
        if (pool.registered.value(pool.unusedConnectionNames.at(i)).thread == self) {
            connectionName = pool.unusedConnectionNames.takeAt(i);
            reused = true;
            break;
        }
    }
    if (!reused) {
        if (count < pool.maxConnectionCount) {
            connectionName = QStringLiteral("Connection-%1").arg(count + 1);
        } else if (!pool.unusedConnectionNames.isEmpty()) {
            connectionName = pool.unusedConnectionNames.dequeue();
            reused = true;
        } else {
            qDebug() << "Cannot create more connections.";
            return QSqlDatabase();
        }
    }

    QSqlDatabase db = pool.createConnection(connectionName);
    if (db.isOpen()) {
        pool.usedConnectionNames.enqueue(connectionName);
    } else if (reused) {
        // The name stays the pool's: dropping it would let a later borrower
        // make a new name equal to one still queued.
        pool.unusedConnectionNames.prepend(connectionName);
    }
    return db;
}

void ConnectionPool::closeConnection(QSqlDatabase connection) {
    const QString connectionName = connection.connectionName();
    ConnectionPool& pool = getInstance();
    QMutexLocker locker(&mutex);
    if (pool.usedConnectionNames.contains(connectionName)) {
        pool.usedConnectionNames.removeOne(connectionName);
        pool.unusedConnectionNames.enqueue(connectionName);
        waitConnection.wakeOne();
    }
}

QSqlDatabase ConnectionPool::createConnection(const QString& connectionName) {
    qDebug() << "Test connection on borrow, execute:" << testOnBorrowSql << ", for" << connectionName;

    QThread* const self = QThread::currentThread();
    const auto known = registered.constFind(connectionName);
    if (known != registered.constEnd() && known->thread == self) {
        QSqlDatabase db = known->connection;
        if (!db.isOpen() && !db.open()) return QSqlDatabase();
        return db;
    }
    // Qt lets only the opening thread use a connection: close the other
    // thread's one (it was given back, nobody uses it) and open our own.
    if (known != registered.constEnd())
        unregister(connectionName);
    else if (QSqlDatabase::contains(connectionName))
        QSqlDatabase::removeDatabase(connectionName);

    if (port < 0 || port > kMaxPort) {
        qDebug() << "Open datatabase error:" << QStringLiteral("port %1 out of range 0..%2").arg(port).arg(kMaxPort);
        return QSqlDatabase();
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(databaseType, connectionName);
    registered.insert(connectionName, Registered{self, db});
    db.setHostName(hostName);
    db.setDatabaseName(databaseName);
    db.setUserName(username);
    db.setPassword(password);
    db.setPort(port);
    db.setConnectOptions(QString::fromLatin1(kConnectOptions));
    if (!db.open()) {
        qDebug() << "Open datatabase error:" << db.lastError().text();
        return QSqlDatabase();
    }
    return db;
}

QString ConnectionPool::getlfp() { return getInstance().localfilepath; }
QString ConnectionPool::getrfp() { return getInstance().remotefilepath; }
QString ConnectionPool::getcomtradftpip() { return getInstance().comtradftpip; }
QString ConnectionPool::getcomtradftpuid() { return getInstance().comtradftpuid; }
QString ConnectionPool::getcomtradftppsw() { return getInstance().comtradftppsw; }
QString ConnectionPool::getcomtradfilepath() { return getInstance().comtradfilepath; }
int ConnectionPool::getcomtradftpport() { return getInstance().comtradftpport; }
int ConnectionPool::getcomtradcompanions() { return getInstance().comtradcompanions; }
int ConnectionPool::gettempmeasureinterval() { return getInstance().tempmeasureinterval; }
int ConnectionPool::getsf6interval() { return getInstance().sf6interval; }
int ConnectionPool::getpdinterval() { return getInstance().pdinterval; }
int ConnectionPool::getmicroweatherinterval() { return getInstance().microweatherinterval; }
int ConnectionPool::getironcoreinterval() { return getInstance().ironcoreinterval; }
int ConnectionPool::getmoainterval() { return getInstance().moainterval; }
int ConnectionPool::getyspinterval() { return getInstance().yspinterval; }
int ConnectionPool::getyspinterval1() { return getInstance().yspinterval1; }
int ConnectionPool::getyspinterval2() { return getInstance().yspinterval2; }
int ConnectionPool::getjyinterval() { return getInstance().jyinterval; }
int ConnectionPool::getscurinterval() { return getInstance().scurinterval; }
int ConnectionPool::getdlginterval() { return getInstance().dlginterval; }
int ConnectionPool::getjdwinterval() { return getInstance().jdwinterval; }
