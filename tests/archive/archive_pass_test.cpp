// The mapping pass against the stack's real model of the test station
// (tests/archive/data) and a real MariaDB: what is found, with which time,
// and what is left out.
#include <QSqlQuery>

#include <gtest/gtest.h>

#include "DataDeal.h"
#include "zvt/archive.h"
#include "zv_ops.h"

using archtest::local;

namespace {

class ArchivePass : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(archtest::loadStation(&error)) << error.toStdString();
        db = std::make_unique<archtest::OwnDatabase>(archtest::dbNameForCurrentTest());
        ASSERT_TRUE(db->ok()) << db->error().toStdString();
        ASSERT_TRUE(db->connection().isOpen()) << db->error().toStdString();
        QSqlQuery q(db->connection());
        ASSERT_TRUE(q.exec(QStringLiteral("delete from rptparamindex")));
        dd.tempmeasureinterval = 30;
        dd.sf6interval = 15;
    }
    void map(const QString &ref, const QVariant &eqmid, const QString &table, const QString &col) {
        QSqlQuery q(db->connection());
        q.prepare(QStringLiteral("insert into rptparamindex(paramindex,eqmid,tablename,colname) values(?,?,?,?)"));
        q.addBindValue(ref);
        q.addBindValue(eqmid);
        q.addBindValue(table);
        q.addBindValue(col);
        ASSERT_TRUE(q.exec()) << ref.toStdString();
    }
    std::unique_ptr<archtest::OwnDatabase> db;
    DataDeal dd;
};

TEST_F(ArchivePass, WritesEachFoundValueIntoTheSlotOfItsOwnTimeStamp) {
    // Station times are UTC in the SCL; the tests run at +08:00.
    map("CMMON/STMP1$MX$Tmp$mag$f", 1, "data_etp_h", "tmp");    // whole data object member, 12.5 at 10:07:30
    map("CMMON/SIMG1$MX$Pres$mag$f", 2, "data_sf6_h", "pres");  // single attribute member, 0.625 at 10:16:00
    map("CMMON/STMP1$ST$Alm$stVal", 2, "data_sf6_h", "den");    // true
    map("CMMON/STMP2$ST$Alm$stVal", 2, "data_sf6_h", "tmp");    // false
    map("CMMON/STMP1$ST$Txt$stVal", 2, "data_sf6_h", "mst");    // "abc", no number
    EXPECT_EQ(dd.archivePass(db->connection()), 5);
    // A value that has not changed is written into the same row again.
    EXPECT_EQ(dd.archivePass(db->connection()), 5);
    EXPECT_EQ(db->rows("select eqmid,d_time,tmp from data_etp_h order by eqmid,d_time"),
              QStringList({"1|2026-12-07 10:00:00|12.5"}));
    EXPECT_EQ(db->rows("select eqmid,d_time,pres,den,tmp,mst from data_sf6_h order by eqmid,d_time"),
              QStringList({"2|2026-12-07 10:00:00|NULL|1|0|0", "2|2026-12-07 10:15:00|0.625|NULL|NULL|NULL"}));
}

TEST_F(ArchivePass, LeavesOutValuesWithoutAUsableTimeStamp) {
    map("CMMON/SIMG1$MX$Den$mag$f", 3, "data_sf6_h", "den");  // its t is in no data set
    map("CMMON/STMP2$MX$Tmp$mag$f", 4, "data_etp_h", "tmp");  // its t is the epoch
    map("CMMON/STMP9$MX$Tmp$mag$f", 4, "data_etp_h", "tmp");  // no such node
    map("CMMON", 4, "data_etp_h", "tmp");                     // no "/"
    map("CMMON/STMP1$MX", 4, "data_etp_h", "tmp");            // too short for a time stamp
    EXPECT_EQ(dd.archivePass(db->connection()), 5);
    EXPECT_EQ(db->rows("select count(*) from data_sf6_h"), QStringList({"0"}));
    EXPECT_EQ(db->rows("select count(*) from data_etp_h"), QStringList({"0"}));
}

TEST_F(ArchivePass, ReadsOnlyRowsWithEquipmentTableAndColumn) {
    map("CMMON/STMP1$MX$Tmp$mag$f", 0, "data_etp_h", "tmp");
    map("CMMON/STMP1$ST$Alm$stVal", QVariant(), "data_etp_h", "tmp");
    map("CMMON/STMP2$ST$Alm$stVal", 1, "", "tmp");
    map("CMMON/STMP1$ST$Txt$stVal", 1, "data_etp_h", QString());
    EXPECT_EQ(dd.archivePass(db->connection()), 0);
    EXPECT_EQ(db->rows("select count(*) from data_etp_h"), QStringList({"0"}));
}

TEST_F(ArchivePass, ServerWithTheLongestContainedNameOwnsTheDevice) {
    // "CM" is contained in "CM2MON" too; the value exists only in server CM2.
    map("CM2MON/STMP1$MX$Tmp$mag$f", 5, "data_etp_h", "tmp");
    EXPECT_EQ(dd.archivePass(db->connection()), 1);
    EXPECT_EQ(db->rows("select eqmid,d_time,tmp from data_etp_h"), QStringList({"5|2026-12-07 10:30:00|77.5"}));
}

TEST_F(ArchivePass, RowWithAnUnsafeNameIsSkippedAndTheOthersArchived) {
    map("CMMON/STMP1$MX$Tmp$mag$f", 1, "data_etp_h;drop table data_etp_h", "tmp");
    map("CM2MON/STMP1$MX$Tmp$mag$f", 5, "data_etp_h", "tmp");
    EXPECT_EQ(dd.archivePass(db->connection()), 2);
    EXPECT_EQ(db->rows("select eqmid,tmp from data_etp_h"), QStringList({"5|77.5"}));
}

// Every reference of the model, its time stamp, and some that do not exist.
QStringList allReferences(AI_IED_CTRL *ied) {
    QStringList refs;
    const int n = ai_get_ied_obj_num_ad(ied);
    for (int id = 0; id < n; ++id) {
        char ref[AI_OBJ_REF_LEN] = {};
        if (ai_obj_id_to_ref_ad(ied, id, ref) != 0) continue;
        const QString r = QString::fromUtf8(ref);
        refs << r << r + "$t" << r + "$nothing";
    }
    return refs;
}

TEST_F(ArchivePass, IndexedSearchFindsWhatTheFullWalkFinds) {
    DataDeal walk;
    walk.setSearchIndexed(false);
    int found = 0;
    for (int srv = 0; srv < ac_get_srvm_num_ad(); ++srv) {
        AI_IED_CTRL *ied = ac_get_srvm_ied_ad(srv);
        AI_OBJ_ID *lds = nullptr;
        ST_INT num = 0;
        ASSERT_EQ(ai_get_obj_dir_ad(ied, ied->cobj.id, 0, &lds, &num), 0);
        const std::vector<AI_OBJ_ID> devices(lds, lds + num);
        const QStringList refs = allReferences(ied);
        for (AI_OBJ_ID ld : devices) {
            for (const QString &ref : refs) {
                const QString expected = walk.GetDS(ied, ld, srv, ref);
                EXPECT_EQ(dd.GetDS(ied, ld, srv, ref), expected) << ref.toStdString();
                found += expected.isEmpty() ? 0 : 1;
            }
        }
    }
    // The walk finds the leaves of the data sets (and their time stamps).
    EXPECT_GE(found, 12);
}

}  // namespace
