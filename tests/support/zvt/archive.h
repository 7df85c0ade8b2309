// Helpers of the archiving tests: a database of the test's own on the
// fixture's MariaDB server, the stack library with the test station, and the
// main window's message pane.
#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <ostream>

#include "zvt/db.h"  // the fixture's server; readable QString values in test failures
#include "zvt/qt_wait.h"

class gui_srv;

namespace archtest {

// A fresh working directory holding syscfg.ini for database `name`, which is
// (re)created with the schema and the sample mapping. The directory is the
// process's working directory while the object lives.
class OwnDatabase {
public:
    explicit OwnDatabase(const QString &name);
    ~OwnDatabase();
    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    QString path() const { return m_dir.path(); }
    // A connection of the calling thread of our own, outside the pool.
    QSqlDatabase connection();
    // Runs statements as the server's root on this database.
    bool rootSql(const QString &sql, QString *error = nullptr);
    // Rows of `sql` on our connection, each as its columns joined by "|".
    QStringList rows(const QString &sql);

private:
    QTemporaryDir m_dir;
    QString m_previous;
    QString m_name;
    QString m_connection;
    bool m_ok = false;
    QString m_error;
};

// A database name of the running test (letters, digits, "_").
QString dbNameForCurrentTest();

// Loads libzorvan_ld.so (beside the test program's run path) with the test
// station of tests/archive/data, once per process. False when it cannot.
bool loadStation(QString *error);
// Closes the stack's environment if loadStation opened it (end of the run).
void unloadStation();

// Local date-time of a text "yyyy-MM-dd hh:mm:ss".
QDateTime local(const QString &text);

// The main window, as the program builds it; lines of its message pane.
gui_srv *makeWindow();
QStringList paneLines(gui_srv *win);
using zvt::settle;

}  // namespace archtest
