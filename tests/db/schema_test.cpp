// db/schema.sql and db/sample-mapping.sql as loaded into the fixture's
// server, exercised with the statements the program sends.

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

const QStringList kMeasurementTables = {
    "data_etp_h", "data_epa_h", "data_sf6_h", "data_moa_h", "data_pd_h",
    "data_microclimate_h", "data_eia_h", "data_scur_h", "data_dlg_h", "data_jdw_h"};

// The measurement update's statements.
QString slotInsert(const QString& table, const QString& column)
{
    return "insert into " + table + "(" + column + ",d_time,eqmid) values(?,?,?)on duplicate key update "
           + column + "=values(" + column + ")";
}

QString alarmInsert(const QString& table, const QString& column)
{
    return "insert into " + table + "(" + column
           + ",d_time,eqmid,isupload) values(?,?,?,0)on duplicate key update " + column + "=values("
           + column + ")";
}

const char* const kImport =
    "insert into rptparamindex(objid,paramindex) values(?,?) on duplicate key update objid=values(objid)";
const char* const kArchivingSelect =
    "select paramindex,eqmid,tablename,colname from rptparamindex where eqmid<>0 and eqmid<>'' and "
    "eqmid is not NULL and tablename<>'' and tablename is not NULL and colname<>'' and colname is not NULL";
const char* const kRecordFile =
    "insert into comtradrd(filename,srvid,filepreno,filetime,isupload) values(?,?,?,?,?)on duplicate key "
    "update srvid=values(srvid),filepreno=values(filepreno),filetime=values(filetime),isupload=values(isupload)";

class SchemaTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        QTemporaryDir out;
        if (!dbtest::createOwnDatabase(kDatabase, out.path(), &setupError))
            return;
        QFile file(out.filePath("syscfg.ini"));
        if (file.open(QIODevice::ReadOnly))
            syscfg = QString::fromUtf8(file.readAll());
    }

    // Every test starts from empty tables and the sample mapping.
    void SetUp() override
    {
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
        ASSERT_TRUE(dbtest::runRootSql(kDatabase, QString::fromUtf8(mapping.readAll()), &error))
            << error.toStdString();
    }

    void TearDown() override
    {
        ConnectionPool::closeConnection(db);
        db = QSqlDatabase();
        ConnectionPool::release();
    }

    // Runs a statement with positional values; fails the test on error.
    QSqlQuery exec(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery query(db);
        EXPECT_TRUE(query.prepare(sql)) << query.lastError().text().toStdString();
        for (const QVariant& value : values)
            query.addBindValue(value);
        EXPECT_TRUE(query.exec()) << sql.toStdString() << ": " << query.lastError().text().toStdString();
        return query;
    }

    QVariant scalar(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery query = exec(sql, values);
        return query.next() ? query.value(0) : QVariant();
    }

    // Columns of each unique index of `table`, as "a,b".
    QStringList uniqueKeys(const QString& table)
    {
        QSqlQuery query = exec("select index_name, group_concat(column_name order by seq_in_index) "
                               "from information_schema.statistics where table_schema=database() "
                               "and table_name=? and non_unique=0 and index_name<>'PRIMARY' "
                               "group by index_name",
                               {table});
        QStringList keys;
        while (query.next())
            keys << query.value(1).toString();
        return keys;
    }

    QString columnType(const QString& table, const QString& column)
    {
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

TEST_F(SchemaTest, EveryTableHasTheColumnsAndUniqueKeysTheStatementsRelyOn)
{
    EXPECT_EQ(uniqueKeys("rptparamindex"), QStringList{"paramindex"});
    for (const char* column : {"objid", "eqmid"})
        EXPECT_EQ(columnType("rptparamindex", column), "int") << column;
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

TEST_F(SchemaTest, ValuesOfOneSlotFillOneRowAndARepeatedColumnIsOverwritten)
{
    const QDateTime slot(QDate(2026, 3, 1), QTime(10, 0));
    exec(slotInsert("data_sf6_h", "pres"), {0.61, slot, 7});
    exec(slotInsert("data_sf6_h", "den"), {0.55, slot, 7});
    exec(slotInsert("data_sf6_h", "pres"), {0.62, slot, 7});
    exec(slotInsert("data_sf6_h", "pres"), {0.70, slot.addSecs(900), 7});
    exec(slotInsert("data_sf6_h", "pres"), {0.80, slot, 8});

    EXPECT_EQ(scalar("select count(*) from data_sf6_h").toInt(), 3);
    QSqlQuery row = exec("select pres, den, tmp from data_sf6_h where eqmid=7 and d_time=?", {slot});
    ASSERT_TRUE(row.next());
    EXPECT_DOUBLE_EQ(row.value(0).toDouble(), 0.62);
    EXPECT_DOUBLE_EQ(row.value(1).toDouble(), 0.55);
    EXPECT_TRUE(row.value(2).isNull());
}

TEST_F(SchemaTest, PdAlarmRowIsMarkedNotUploadedAndOrdinaryRowsKeepTheDefault)
{
    const QDateTime slot(QDate(2026, 3, 1), QTime(10, 0));
    const QDateTime alarm(QDate(2026, 3, 1), QTime(10, 7, 31));
    exec(slotInsert("data_pd_h", "acupadsch"), {120.0, slot, 3});
    exec(alarmInsert("data_pd_h", "padschalm"), {2.0, alarm, 3});

    // The update looks for the newest row after the slot start (the alarm row).
    EXPECT_EQ(scalar(" select max(d_time) d_time from  data_pd_h where eqmid=? and d_time>?", {3, slot})
                  .toDateTime(),
              alarm);
    exec(slotInsert("data_pd_h", "opcnt"), {40.0, alarm, 3});

    EXPECT_EQ(scalar("select isupload from data_pd_h where d_time=?", {alarm}).toInt(), 0);
    EXPECT_EQ(scalar("select opcnt from data_pd_h where d_time=?", {alarm}).toDouble(), 40.0);
    EXPECT_EQ(scalar("select isupload from data_pd_h where d_time=?", {slot}).toInt(), 1);
}

TEST_F(SchemaTest, LastLightningTimeIsStoredAsDateTime)
{
    const QDateTime slot(QDate(2026, 3, 1), QTime(10, 0));
    const QDateTime strike = QDateTime::fromSecsSinceEpoch(1772350000);
    exec(slotInsert("data_moa_h", "lastligtm"), {strike, slot, 5});
    EXPECT_EQ(scalar("select lastligtm from data_moa_h where eqmid=5").toDateTime(), strike);
}

TEST_F(SchemaTest, ReimportRefreshesObjidAndKeepsTheEquipmentMapping)
{
    exec("delete from  rptparamindex");
    QSqlQuery import(db);
    ASSERT_TRUE(import.prepare(kImport));
    import.addBindValue(QVariantList{11, 12}, QSql::In);
    import.addBindValue(QVariantList{"IED1MON/SIMG1$MX$Pres$mag$f", "IED1MON/SIMG1$MX$Den$mag$f"}, QSql::In);
    ASSERT_TRUE(import.execBatch(QSqlQuery::ValuesAsRows)) << import.lastError().text().toStdString();
    exec("update rptparamindex set eqmid=7, tablename='data_sf6_h', colname='pres' where objid=11");

    QSqlQuery again(db);
    ASSERT_TRUE(again.prepare(kImport));
    again.addBindValue(QVariantList{21, 22, 22}, QSql::In);
    again.addBindValue(QVariantList{"IED1MON/SIMG1$MX$Pres$mag$f", "IED1MON/SIMG1$MX$Den$mag$f",
                                    "IED1MON/SIMG1$MX$Den$mag$f"},
                       QSql::In);
    ASSERT_TRUE(again.execBatch(QSqlQuery::ValuesAsRows)) << again.lastError().text().toStdString();

    EXPECT_EQ(scalar("select count(*) from rptparamindex").toInt(), 2);
    QSqlQuery row = exec("select objid, eqmid, tablename, colname from rptparamindex where paramindex=?",
                         {"IED1MON/SIMG1$MX$Pres$mag$f"});
    ASSERT_TRUE(row.next());
    EXPECT_EQ(row.value(0).toInt(), 21);
    EXPECT_EQ(row.value(1).toInt(), 7);
    EXPECT_EQ(row.value(2).toString(), "data_sf6_h");
    EXPECT_EQ(row.value(3).toString(), "pres");
}

TEST_F(SchemaTest, ArchivingReadsOnlyRowsWithEquipmentTableAndColumn)
{
    exec("delete from  rptparamindex");
    exec("insert into rptparamindex(objid,paramindex,eqmid,tablename,colname) values"
         "(1,'LD/LN$MX$A$mag$f',7,'data_sf6_h','pres'),"
         "(2,'LD/LN$MX$B$mag$f',0,'data_sf6_h','pres'),"
         "(3,'LD/LN$MX$C$mag$f',NULL,'data_sf6_h','pres'),"
         "(4,'LD/LN$MX$D$mag$f',7,'','pres'),"
         "(5,'LD/LN$MX$E$mag$f',7,NULL,'pres'),"
         "(6,'LD/LN$MX$F$mag$f',7,'data_sf6_h',''),"
         "(7,'LD/LN$MX$G$mag$f',7,'data_sf6_h',NULL),"
         "(8,'LD/LN$MX$H$mag$f',NULL,NULL,NULL)");
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(kArchivingSelect)) << query.lastError().text().toStdString();
    QStringList read;
    while (query.next())
        read << query.value(0).toString();
    EXPECT_EQ(read, QStringList{"LD/LN$MX$A$mag$f"});
}

TEST_F(SchemaTest, RecordingAKnownFileUpdatesItsRowInsteadOfAddingOne)
{
    const QDateTime t1(QDate(2026, 3, 1), QTime(9, 0));
    const QDateTime t2(QDate(2026, 3, 1), QTime(9, 30));
    exec(kRecordFile, {"rec_1.dat", 0, "rec", t1, 0});
    exec(kRecordFile, {"rec_2.dat", 0, "rec", t2, 1});
    exec(kRecordFile, {"rec_1.dat", 1, "rec", t2, 1});

    EXPECT_EQ(scalar("select count(*) from comtradrd").toInt(), 2);
    QSqlQuery row = exec("select srvid, filetime, isupload from comtradrd where filename='rec_1.dat'");
    ASSERT_TRUE(row.next());
    EXPECT_EQ(row.value(0).toInt(), 1);
    EXPECT_EQ(row.value(1).toDateTime(), t2);
    EXPECT_EQ(row.value(2).toInt(), 1);

    QSqlQuery history(db);
    ASSERT_TRUE(history.exec("select max(filetime) filetime ,srvid,filepreno from comtradrd GROUP BY srvid,filepreno"));
    int series = 0;
    while (history.next())
        ++series;
    EXPECT_EQ(series, 2);
}

TEST_F(SchemaTest, SampleMappingPointsAtExistingValueColumnsWithWellFormedReferences)
{
    // LDname/LNname$FC$DO$DA...: the archiving worker needs at least three
    // "$" parts after the "/" to find the time stamp beside the value.
    const QRegularExpression reference(R"(^[A-Za-z0-9_]{1,64}/[A-Za-z0-9_]{1,32}(\$[A-Za-z0-9_]{1,32}){3,}$)");
    QSqlQuery rows(db);
    ASSERT_TRUE(rows.exec(kArchivingSelect)) << rows.lastError().text().toStdString();
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
QSet<QString> dataSetMembers(const QString& path)
{
    QSet<QString> members;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return members;
    QXmlStreamReader xml(&file);
    QString ied;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == u"IED") {
            ied = a.value("name").toString();
        } else if (xml.name() == u"FCDA") {
            auto text = [&a](const char* name) { return a.value(QLatin1String(name)).toString(); };
            QString ref = ied + text("ldInst") + "/" + text("prefix") + text("lnClass") + text("lnInst")
                          + "$" + text("fc") + "$" + text("doName");
            if (!text("daName").isEmpty())
                ref += "$" + text("daName");
            members.insert(ref.replace('.', '$'));
        }
    }
    return members;
}

}  // namespace

TEST_F(SchemaTest, SampleMappingNamesOnlyMembersOfTheSampleStationsDataSets)
{
    const QSet<QString> members = dataSetMembers(QStringLiteral(ZV_SOURCE_ROOT "/station/sample.scd"));
    ASSERT_FALSE(members.isEmpty());
    QSqlQuery rows = exec("select paramindex from rptparamindex");
    int count = 0;
    while (rows.next()) {
        ++count;
        const QString ref = rows.value(0).toString();
        bool found = false;
        for (const QString& member : members)
            found = found || ref == member || ref.startsWith(member + "$");
        EXPECT_TRUE(found) << ref.toStdString() << " is in no data set of the sample station";
    }
    EXPECT_GT(count, 0);
}
