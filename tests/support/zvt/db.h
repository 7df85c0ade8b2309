// Helpers of the database tests: the fixture's server, a working directory
// of the test's own (the pool reads ./syscfg.ini) and captured debug lines.
#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace dbtest {

// Folder of the running fixture server ($TARNMON_DB_DIR), or empty.
QString fixtureDir();

// (Re)creates database `name` on the fixture server with the schema and the
// sample mapping and writes `outDir`/syscfg.ini for it.  False with `error`
// set when the server is missing or the script fails.
bool createOwnDatabase(const QString& name, const QString& outDir, QString* error);

// Runs `sql` as the server's root on database `name`; false on failure.
bool runRootSql(const QString& name, const QString& sql, QString* error);

// A fresh temporary directory made the process's working directory for the
// object's lifetime.
class WorkDir {
public:
    WorkDir();
    ~WorkDir();
    QString path() const { return dir.path(); }
    void write(const QString& fileName, const QString& text) const;

private:
    QTemporaryDir dir;
    QString previous;
};

// Collects every Qt debug/warning line while it exists.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    int count(const QString& fragment) const;
};

}  // namespace dbtest
