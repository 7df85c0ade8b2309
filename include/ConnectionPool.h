#ifndef CONNECTIONPOOL_H
#define CONNECTIONPOOL_H

// Process-wide settings from syscfg.ini and the pool of MySQL connections.
//
// The settings are read once, from "syscfg.ini" in the working directory,
// when the pool is first used; an absent file or key gives an empty text or 0.
// Connections are borrowed with openConnection() and given back with
// closeConnection(); at most maxConnectionCount names ("Connection-1" ...)
// exist at once.  A connection is only ever used by the thread that opened
// it: a returned name is lent again preferably to the thread that opened it,
// and a name taken over by another thread gets a fresh connection of that
// thread.

#include <QAtomicPointer>
#include <QHash>
#include <QMutex>
#include <QQueue>
#include <QSqlDatabase>
#include <QString>
#include <QWaitCondition>

class QThread;

class ConnectionPool {
public:
    // Destroys the pool and removes its connections from Qt's registry; the
    // next use builds a new pool and reads syscfg.ini again.
    static void release();
    // Lends an open connection, or an invalid QSqlDatabase when none could
    // be had (server unreachable, or all connections lent for about 1 s).
    static QSqlDatabase openConnection();
    // Gives a lent connection back (it stays open).  Anything the pool did
    // not lend, or a connection returned twice, is ignored.  Finish queries
    // on it first and do not use it afterwards: another thread may be given
    // the name at once (closeConnection(std::exchange(db, QSqlDatabase()))
    // keeps no copy behind).
    static void closeConnection(QSqlDatabase connection);
    // The one pool, built (and syscfg.ini read) on first use.
    static ConnectionPool& getInstance();

    // Settings of [mysqlcfg] in syscfg.ini.
    static QString getlfp();  // localfilepath
    static QString getrfp();  // remotefilepath
    static QString getcomtradftpip();
    static QString getcomtradftpuid();
    static QString getcomtradftppsw();
    static QString getcomtradfilepath();
    static int getcomtradftpport();
    // comtradcompanions: 0 when the recorder collection leaves the companion
    // files (.cfg, .hdr, .inf) of the data files on the devices; 1 (also
    // when the key is absent or empty) when it fetches and uploads them.
    static int getcomtradcompanions();
    static int gettempmeasureinterval();
    static int getsf6interval();
    static int getpdinterval();
    static int getmicroweatherinterval();
    static int getironcoreinterval();
    static int getmoainterval();
    static int getyspinterval();
    static int getyspinterval1();
    static int getyspinterval2();
    static int getjyinterval();
    static int getscurinterval();
    static int getdlginterval();
    static int getjdwinterval();

    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

private:
    ConnectionPool();
    ~ConnectionPool();

    // Opens (or reopens) the connection registered under connectionName for
    // the calling thread.  Called with mutex held.
    QSqlDatabase createConnection(const QString& connectionName);
    // Closes the connection of a registered name and removes it from Qt's
    // registry.  Called with mutex held (or from the destructor).
    void unregister(const QString& connectionName);

    QQueue<QString> usedConnectionNames;    // guarded by mutex
    QQueue<QString> unusedConnectionNames;  // guarded by mutex

    QString hostName;
    QString databaseName;
    QString username;
    QString password;
    QString databaseType;
    int port;

    QString localfilepath;
    QString remotefilepath;
    QString comtradftpip;
    QString comtradftpuid;
    QString comtradftppsw;
    QString comtradfilepath;
    int comtradftpport;
    int comtradcompanions;
    int tempmeasureinterval;
    int sf6interval;
    int pdinterval;
    int microweatherinterval;
    int ironcoreinterval;
    int moainterval;
    int yspinterval;
    int yspinterval1;
    int yspinterval2;
    int jyinterval;
    int scurinterval;
    int dlginterval;
    int jdwinterval;

    bool testOnBorrow;
    QString testOnBorrowSql;

    int maxWaitTime;
    int waitInterval;
    int maxConnectionCount;

    // Every name this pool registered in Qt's registry, lent or not, with
    // the thread that opened its connection.  The pool keeps its own handle
    // so that it can close a connection it takes away from a thread.
    struct Registered {
        QThread* thread = nullptr;
        QSqlDatabase connection;
    };
    QHash<QString, Registered> registered;  // guarded by mutex

    static QMutex mutex;
    static QWaitCondition waitConnection;
    static QAtomicPointer<ConnectionPool> instance;
};

#endif  // CONNECTIONPOOL_H
