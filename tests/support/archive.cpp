#include "zvt/archive.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextEdit>
#include <QRegularExpression>
#include <QUuid>

#include <gtest/gtest.h>

#include "dlunix.h"
#include "gui_srv.h"
#include "zv_ops.h"
#include "zvt/qt_main.h"

namespace archtest {

OwnDatabase::OwnDatabase(const QString &name) : m_previous(QDir::currentPath()), m_name(name) {
    QDir::setCurrent(m_dir.path());
    m_ok = dbtest::createOwnDatabase(name, m_dir.path(), &m_error);
    // The value columns the tests write, whatever the shipped schema holds.
    if (m_ok)
        m_ok = rootSql(QStringLiteral(
                           "alter table data_etp_h add column if not exists tmp double null;"
                           "alter table data_sf6_h add column if not exists pres double null,"
                           " add column if not exists den double null, add column if not exists tmp double null,"
                           " add column if not exists mst double null;"
                           "alter table data_pd_h add column if not exists apppadsch double null,"
                           " add column if not exists padschalm double null;"
                           "alter table data_moa_h add column if not exists totlcur double null,"
                           " add column if not exists lastligtm datetime null;"
                           "alter table data_epa_h add column if not exists oiltmp double null,"
                           " add column if not exists flatgas double null, add column if not exists h2 double null;"
                           "alter table data_scur_h add column if not exists corecur double null;"),
                       &m_error);
}

OwnDatabase::~OwnDatabase() {
    if (!m_connection.isEmpty()) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
    QDir::setCurrent(m_previous);
}

QSqlDatabase OwnDatabase::connection() {
    if (m_connection.isEmpty()) {
        m_connection = QStringLiteral("archtest-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        QSettings ini(m_dir.filePath(QStringLiteral("syscfg.ini")), QSettings::IniFormat);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), m_connection);
        db.setHostName(ini.value(QStringLiteral("mysqlcfg/hostname")).toString());
        db.setDatabaseName(ini.value(QStringLiteral("mysqlcfg/dbname")).toString());
        db.setUserName(ini.value(QStringLiteral("mysqlcfg/usrname")).toString());
        db.setPassword(ini.value(QStringLiteral("mysqlcfg/psw")).toString());
        db.setPort(ini.value(QStringLiteral("mysqlcfg/port")).toInt());
        if (!db.open()) m_error = db.lastError().text();
    }
    return QSqlDatabase::database(m_connection, false);
}

bool OwnDatabase::rootSql(const QString &sql, QString *error) {
    QString dummy;
    return dbtest::runRootSql(m_name, sql, error ? error : &dummy);
}

QStringList OwnDatabase::rows(const QString &sql) {
    QStringList out;
    QSqlQuery query(connection());
    if (!query.exec(sql)) {
        out << QStringLiteral("ERROR: ") + query.lastError().text();
        return out;
    }
    while (query.next()) {
        QStringList cols;
        for (int c = 0; c < query.record().count(); ++c) {
            const QVariant v = query.value(c);
            if (v.isNull())
                cols << QStringLiteral("NULL");
            else if (v.metaType().id() == QMetaType::QDateTime)
                cols << v.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            else
                cols << v.toString();
        }
        out << cols.join(QLatin1Char('|'));
    }
    return out;
}

namespace {
bool g_environment_open = false;
}

void unloadStation() {
    if (g_environment_open && ai_uninit_envir_ad) ai_uninit_envir_ad();
    g_environment_open = false;
}

bool loadStation(QString *error) {
    static int state = 0;  // 0 not tried, 1 loaded, 2 failed
    static QString reason;
    if (state == 0) {
        state = 2;
        qputenv("ZORVAN_STATION", QByteArray(ARCHIVE_TEST_DATA "/station.ini"));
        if (open_zorvan_dl() == nullptr) {
            reason = QStringLiteral("libzorvan_ld.so not loaded");
        } else {
            zv_lookup_operations(dp);
            if (ai_init_envir_ad == nullptr || ai_init_envir_ad(nullptr) != 0) {
                reason = QStringLiteral("ai_init_envir failed");
            } else {
                g_environment_open = true;
                zvt::atTestExit(unloadStation);
                if (ac_init_srvm_ad == nullptr || ac_init_srvm_ad() != 0)
                    reason = QStringLiteral("ac_init_srvm failed");
                else if (ac_get_srvm_num_ad == nullptr || ac_get_srvm_num_ad() != 2 || ac_get_srvm_ied_ad(0) == nullptr)
                    reason = QStringLiteral("the test station has no models");
                else
                    state = 1;
            }
        }
    }
    if (error) *error = reason;
    return state == 1;
}

QString dbNameForCurrentTest() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    QString name = QStringLiteral("arch_%1_%2")
                       .arg(QString::fromLatin1(info->test_suite_name()), QString::fromLatin1(info->name()));
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]")), QStringLiteral("_"));
    if (name.size() <= 64) return name;
    // Long names stay apart through a digest of the whole name.
    const QByteArray digest = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Md5).toHex().left(12);
    return name.left(51) + QLatin1Char('_') + QString::fromLatin1(digest);
}

QDateTime local(const QString &text) { return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss")); }

gui_srv *makeWindow() {
    qputenv("ZORVAN_STATION", QByteArray(ARCHIVE_TEST_DATA "/station.ini"));
    auto *win = new gui_srv();
    w = win;
    settle();
    return win;
}

QStringList paneLines(gui_srv *win) {
    settle();
    return win->ui.textEdit->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace archtest
