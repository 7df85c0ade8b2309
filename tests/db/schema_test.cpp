// db/schema.sql and db/sample-mapping.sql as loaded into the fixture's
// server: the columns and unique keys the program's statements rely on, and a
// sample mapping that points at real columns and data set members. The
// statements themselves run from the program's own code against the same
// server in tests/archive (measurement rows, the mapping, the reference
// import) and tests/recorder (comtradrd).

#include "ConnectionPool.h"
#include "zvt/db.h"

#include <QDateTime>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QVariantList>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

using dbtest::WorkDir;

namespace {

const QStringList kMeasurementTables = {"data_etp_h",          "data_epa_h", "data_sf6_h",  "data_moa_h", "data_pd_h",
                                        "data_microclimate_h", "data_eia_h", "data_scur_h", "data_dlg_h", "data_jdw_h"};

class SchemaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QTemporaryDir out;
        if (!dbtest::createOwnDatabase(kDatabase, out.path(), &setupError)) return;
        QFile file(out.filePath("syscfg.ini"));
        if (file.open(QIODevice::ReadOnly)) syscfg = QString::fromUtf8(file.readAll());
    }

    // Every test starts from empty tables and the sample mapping.
    void SetUp() override {
        ASSERT_FALSE(syscfg.isEmpty()) << "no test database: " << setupError.toStdString();
        work.write("syscfg.ini", syscfg);
        ConnectionPool::release();
        db = ConnectionPool::openConnection();
        ASSERT_TRUE(db.isOpen()) << db.lastError().text().toStdString();
        for (const QString& table : kMeasurementTables + QStringList{"rptparamindex", "comtradrd"})
            exec("delete from " + table);
        QFile mapping(QStringLiteral(ZV_SOURCE_ROOT "/db/sample-mapping.sql"));
        ASSERT_TRUE(mapping.open(QIODevice::ReadOnly));
        QString error;
        ASSERT_TRUE(dbtest::runRootSql(kDatabase, QString::fromUtf8(mapping.readAll()), &error)) << error.toStdString();
    }

    void TearDown() override {
        ConnectionPool::closeConnection(db);
        db = QSqlDatabase();
        ConnectionPool::release();
    }

    // Runs a statement with positional values; fails the test on error.
    QSqlQuery exec(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery query(db);
        EXPECT_TRUE(query.prepare(sql)) << query.lastError().text().toStdString();
        for (const QVariant& value : values) query.addBindValue(value);
        EXPECT_TRUE(query.exec()) << sql.toStdString() << ": " << query.lastError().text().toStdString();
        return query;
    }

    QVariant scalar(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery query = exec(sql, values);
        return query.next() ? query.value(0) : QVariant();
    }

    // Columns of each unique index of `table`, as "a,b".
    QStringList uniqueKeys(const QString& table) {
        QSqlQuery query = exec("select index_name, group_concat(column_name order by seq_in_index) "
                               "from information_schema.statistics where table_schema=database() "
                               "and table_name=? and non_unique=0 and index_name<>'PRIMARY' "
                               "group by index_name",
                               {table});
        QStringList keys;
        while (query.next()) keys << query.value(1).toString();
        return keys;
    }

    QString columnType(const QString& table, const QString& column) {
        return scalar("select data_type from information_schema.columns where table_schema=database() "
                      "and table_name=? and column_name=?",
                      {table, column})
            .toString();
    }

    static constexpr const char* kDatabase = "tarnmon_schema";
    static QString syscfg;
    static QString setupError;
    WorkDir work;
    QSqlDatabase db;
};

QString SchemaTest::syscfg;
QString SchemaTest::setupError;

}  // namespace

TEST_F(SchemaTest, EveryTableHasTheColumnsAndUniqueKeysTheStatementsRelyOn) {
    EXPECT_EQ(uniqueKeys("rptparamindex"), QStringList{"paramindex"});
    for (const char* column : {"objid", "eqmid"}) EXPECT_EQ(columnType("rptparamindex", column), "int") << column;
    for (const char* column : {"paramindex", "tablename", "colname"})
        EXPECT_EQ(columnType("rptparamindex", column), "varchar") << column;

    EXPECT_EQ(uniqueKeys("comtradrd"), QStringList{"filename"});
    EXPECT_EQ(columnType("comtradrd", "filetime"), "datetime");
    EXPECT_EQ(columnType("comtradrd", "srvid"), "int");
    EXPECT_EQ(columnType("comtradrd", "isupload"), "int");

    for (const QString& table : kMeasurementTables) {
        EXPECT_EQ(uniqueKeys(table), QStringList{"eqmid,d_time"}) << table.toStdString();
        EXPECT_EQ(columnType(table, "eqmid"), "int") << table.toStdString();
        EXPECT_EQ(columnType(table, "d_time"), "datetime") << table.toStdString();
        const int values = scalar("select count(*) from information_schema.columns where "
                                  "table_schema=database() and table_name=? and data_type='double'",
                                  {table})
                               .toInt();
        EXPECT_GT(values, 0) << table.toStdString() << " has no value column";
    }
    EXPECT_EQ(columnType("data_pd_h", "isupload"), "int");
    EXPECT_EQ(columnType("data_pd_h", "padschalm"), "double");
    EXPECT_EQ(columnType("data_moa_h", "lastligtm"), "datetime");
}

TEST_F(SchemaTest, SampleMappingPointsAtExistingValueColumnsWithWellFormedReferences) {
    // LDname/LNname$FC$DO$DA...: the archiving worker needs at least three
    // "$" parts after the "/" to find the time stamp beside the value.
    const QRegularExpression reference(R"(^[A-Za-z0-9_]{1,64}/[A-Za-z0-9_]{1,32}(\$[A-Za-z0-9_]{1,32}){3,}$)");
    // The rows the archiving reads: equipment, table and column all given.
    QSqlQuery rows(db);
    ASSERT_TRUE(rows.exec("select paramindex,eqmid,tablename,colname from rptparamindex where eqmid<>0 "
                          "and tablename<>'' and colname<>''"))
        << rows.lastError().text().toStdString();
    int count = 0;
    while (rows.next()) {
        ++count;
        const QString ref = rows.value(0).toString();
        const QString table = rows.value(2).toString();
        const QString column = rows.value(3).toString();
        EXPECT_TRUE(reference.match(ref).hasMatch()) << ref.toStdString();
        EXPECT_LT(ref.toUtf8().size(), 130) << ref.toStdString();
        EXPECT_TRUE(kMeasurementTables.contains(table)) << table.toStdString();
        const QString type = columnType(table, column);
        EXPECT_EQ(type, column == "lastligtm" ? "datetime" : "double")
            << table.toStdString() << "." << column.toStdString();
    }
    EXPECT_GT(count, 0) << "the sample mapping maps nothing";
}

namespace {

// "LDname/LNname$FC$DO[$DA]" of every data set member of an SCL file.
QSet<QString> dataSetMembers(const QString& path) {
    QSet<QString> members;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return members;
    QXmlStreamReader xml(&file);
    QString ied;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement()) continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == u"IED") {
            ied = a.value("name").toString();
        } else if (xml.name() == u"FCDA") {
            auto text = [&a](const char* name) { return a.value(QLatin1String(name)).toString(); };
            QString ref = ied + text("ldInst") + "/" + text("prefix") + text("lnClass") + text("lnInst") + "$" +
                          text("fc") + "$" + text("doName");
            if (!text("daName").isEmpty()) ref += "$" + text("daName");
            members.insert(ref.replace('.', '$'));
        }
    }
    return members;
}

}  // namespace

TEST_F(SchemaTest, SampleMappingNamesOnlyMembersOfTheSampleStationsDataSets) {
    const QSet<QString> members = dataSetMembers(QStringLiteral(ZV_SOURCE_ROOT "/station/sample.scd"));
    ASSERT_FALSE(members.isEmpty());
    QSqlQuery rows = exec("select paramindex from rptparamindex");
    int count = 0;
    while (rows.next()) {
        ++count;
        const QString ref = rows.value(0).toString();
        bool found = false;
        for (const QString& member : members) found = found || ref == member || ref.startsWith(member + "$");
        EXPECT_TRUE(found) << ref.toStdString() << " is in no data set of the sample station";
    }
    EXPECT_GT(count, 0);
}
