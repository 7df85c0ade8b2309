// Recorder file collection with real parts only: iedsim processes serving
// COMTRADE files, a database of the test's own on the private MariaDB, a
// private FTP server (pyftpdlib), the real stack library and main window.
//
// Most tests stop the archiving worker's thread after start-up and drive its
// operations themselves, so that every step can be checked; the end-to-end
// test lets the worker run on short cycles.
#include <sys/stat.h>
#include <utime.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlQuery>
#include <QTextStream>
#include <QThread>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "ConnectionPool.h"
#include "DataDeal.h"
#include "zvt/archive.h"
#include "zvt/ftpd.h"
#include "devicefilename.h"
#include "gui_srv.h"
#include "zvt/iedsim.h"
#include "zvt/qt_wait.h"
#include "zv_ops.h"

namespace {

constexpr qint64 T0 = 1750000000;  // a time of the recordings

QString timeText(qint64 secs) { return QDateTime::fromSecsSinceEpoch(secs).toString("yyyy-MM-dd HH:mm:ss"); }

// Collection passes and FTP transfers take long on a loaded machine.
bool waitFor(const std::function<bool()> &cond, int ms = 60000) { return zvt::waitFor(cond, ms); }

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A file named by bytes, which a QString cannot always carry.
QByteArray readBytes(const QByteArray &path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return in ? QByteArray::fromStdString(all.str()) : QByteArray("<missing>");
}
void putBytes(const QByteArray &path, const QByteArray &data) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << data.toStdString();
    ASSERT_TRUE(out.good()) << path.toStdString();
}

// Writes a file with the given modification time.
void putFile(const QString &path, const QByteArray &data, qint64 mtime) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
    f.close();
    utimbuf times{static_cast<time_t>(mtime), static_cast<time_t>(mtime)};
    ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &times), 0);
}

using zvt::Ftpd;

class Recorder : public ::testing::Test {
protected:
    // iedsim options of both devices.
    virtual std::vector<std::string> simOptions() const { return {}; }
    void SetUp() override {
        db = std::make_unique<archtest::OwnDatabase>(archtest::dbNameForCurrentTest());
        ASSERT_TRUE(db->ok()) << db->error().toStdString();
        dir = db->path();
        ftpd = std::make_unique<Ftpd>(dir + "/ftp");
        ASSERT_TRUE(ftpd->start()) << ftpd->error().toStdString();
        {
            QSettings ini(dir + "/syscfg.ini", QSettings::IniFormat);
            ini.setValue("mysqlcfg/remotefilepath", "/COMTRADE");
            ini.setValue("mysqlcfg/comtradfilepath", "/comtrade/");
            ini.setValue("mysqlcfg/comtradftpip", "127.0.0.1");
            ini.setValue("mysqlcfg/comtradftpport", ftpd->port());
            ini.setValue("mysqlcfg/comtradftpuid", ftpd->value("FTP_USER"));
            ini.setValue("mysqlcfg/comtradftppsw", ftpd->value("FTP_PASS"));
        }
        QDir(dir).mkpath("cm/COMTRADE");
        QDir(dir).mkpath("bay/COMTRADE");
        cm = std::make_unique<zvt::Sim>("CMIED", 0, 0, (dir + "/cm").toStdString(), simOptions());
        bay = std::make_unique<zvt::Sim>("BAYIED", 0, 0, (dir + "/bay").toStdString(), simOptions());
        QFile ini(dir + "/station.ini");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        QTextStream out(&ini);
        out << "[station]\nscl = " << ZV_SAMPLE_STATION_DIR << "/sample.scd\n";
        for (auto [name, sim] : {std::pair<const char *, zvt::Sim *>{"CMIED", cm.get()}, {"BAYIED", bay.get()}})
            out << "\n[ied " << name << "]\naddr_a = 127.0.0.1:" << sim->port_a
                << "\naddr_b = 127.0.0.2:" << sim->port_b << "\nchnlA_NO = 1\nchnlB_NO = 2\n";
        ini.close();
        qputenv("ZORVAN_STATION", (dir + "/station.ini").toUtf8());
    }

    void TearDown() override {
        delete win;  // stops the worker and the stack
        w = nullptr;
        cm.reset();
        bay.reset();
        ftpd.reset();
        db.reset();
    }

    // The main window on the station. With `worker` false the archiving
    // worker's thread is stopped once it has started up, and the test calls
    // its operations itself, without the pauses.
    void startWindow(bool worker) {
        if (!worker) {
            qputenv("TARNMON_ARCHIVE_CYCLE_S", "100000");
            qputenv("TARNMON_COLLECT_EVERY_S", "100000");
        }
        win = new gui_srv();
        w = win;
        if (!worker) {
            datedeal->stop();
            ASSERT_TRUE(datedeal->wait(60000));
            datedeal->isloop = true;
            datedeal->loadSettings();
            datedeal->setRecorderPauses(0, 0);
        }
        ASSERT_TRUE(waitFor([] { return connected(0) && connected(1); }));
    }

    static bool connected(int srv) {
        CHNL_STATE a = CHNL_STATE_UNCONNECTED, b = CHNL_STATE_UNCONNECTED;
        AC_CHANNEL active = AC_CHANNEL_UNKNOWN;
        ac_get_srvm_chnlState_ad(srv, &a, &b, &active);
        return a == CHNL_STATE_CONNECTED || b == CHNL_STATE_CONNECTED;
    }

    // One listing of server `srv`, handled.
    void list(int srv) {
        const int before = datedeal->listingsParsed();
        datedeal->getfilelist(srv, datedeal->localfilepath, datedeal->remotefilepath);
        ASSERT_TRUE(waitFor([&] { return datedeal->listingsParsed() > before; })) << "no listing of server " << srv;
        settled();
    }

    // Every fetch asked for has ended and its row is written.
    void settled() {
        ASSERT_TRUE(waitFor([] { return datedeal->recorderSettled(); }))
            << datedeal->recorderFiles().join(' ').toStdString();
    }

    // Hands the fetched files to the FTP transfer and waits until none is
    // under way.
    void upload() {
        datedeal->PutFileToFtp();
        ASSERT_TRUE(waitFor([] { return !datedeal->recorderFiles().join(' ').contains(",uploading,"); }))
            << datedeal->recorderFiles().join(' ').toStdString();
    }

    QStringList lists(QStringList DataDeal::*member) {
        QMutexLocker lock(&datedeal->filelst_mutex);
        return datedeal->*member;
    }

    QStringList rows() {
        return db->rows("select filename,srvid,filepreno,filetime,isupload from comtradrd order by filename");
    }

    QString onFtp(const QString &name) const { return ftpd->root() + "/comtrade/" + name; }
    QString served(const char *ied, const QString &name) const { return dir + "/" + ied + "/COMTRADE/" + name; }

    std::unique_ptr<archtest::OwnDatabase> db;
    QString dir;
    std::unique_ptr<Ftpd> ftpd;
    std::unique_ptr<zvt::Sim> cm, bay;
    gui_srv *win = nullptr;
};

TEST_F(Recorder, SeriesIsFetchedOnceAndItsTimeRemembered) {
    putFile(served("cm", "rec_1.dat"), "first recording\n", T0 + 100);
    putFile(served("cm", "rec_2.dat"), "second recording\n", T0 + 200);
    putFile(served("cm", "rec_2.cfg"), "config\n", T0 + 200);
    startWindow(false);

    list(0);
    EXPECT_EQ(readFile(dir + "/rec_1.dat"), "first recording\n");
    EXPECT_EQ(readFile(dir + "/rec_2.dat"), "second recording\n");
    EXPECT_EQ(readFile(dir + "/rec_2.cfg"), "config\n");  // its companion, with no row
    EXPECT_EQ(lists(&DataDeal::filelst), QStringList({"0,rec," + timeText(T0 + 200)}));
    EXPECT_EQ(lists(&DataDeal::downfilelst), QStringList({"0,rec_1.dat", "0,rec_2.dat", "0,rec_2.cfg"}));
    EXPECT_EQ(lists(&DataDeal::srvdownstatelst), QStringList({"0_true"}));
    EXPECT_EQ(rows(), QStringList({"rec_1.dat|0|rec|" + timeText(T0 + 100) + "|1",
                                   "rec_2.dat|0|rec|" + timeText(T0 + 200) + "|1"}));

    // The same listing again fetches nothing.
    QFile::remove(dir + "/rec_1.dat");
    QFile::remove(dir + "/rec_2.dat");
    list(0);
    EXPECT_FALSE(QFile::exists(dir + "/rec_1.dat"));
    EXPECT_FALSE(QFile::exists(dir + "/rec_2.dat"));
    EXPECT_EQ(lists(&DataDeal::downfilelst).size(), 3);

    // A new recording of the series is fetched; it alone.
    putFile(served("cm", "rec_3.dat"), "third\n", T0 + 300);
    list(0);
    EXPECT_EQ(readFile(dir + "/rec_3.dat"), "third\n");
    EXPECT_FALSE(QFile::exists(dir + "/rec_1.dat"));
    EXPECT_EQ(lists(&DataDeal::filelst), QStringList({"0,rec," + timeText(T0 + 300)}));
    EXPECT_EQ(rows().size(), 3);
}

TEST_F(Recorder, OnlyDataFilesOfTheListedFolderAreFetched) {
    putFile(served("cm", "rec_3.cfg"), "cfg", T0);
    putFile(served("cm", "rec_3.txt"), "txt", T0);
    putFile(served("cm", "rec_3.Dat"), "mixed case", T0);
    putFile(served("cm", "sub/rec_3.dat"), "deeper", T0);
    putFile(dir + "/cm/outside_3.dat", "other folder", T0);
    putFile(served("cm", "REC_3.DAT"), "upper case", T0);
    putFile(served("cm", "single.dat"), "no underscore", T0 + 5);
    putFile(served("cm", "a_b_7.dat"), "two underscores", T0 + 7);
    startWindow(false);

    list(0);
    QStringList fetched = QDir(dir).entryList({"*.dat", "*.DAT", "*.Dat", "*.cfg", "*.txt"}, QDir::Files);
    fetched.sort();
    EXPECT_EQ(fetched, QStringList({"REC_3.DAT", "a_b_7.dat", "single.dat"}));
    EXPECT_EQ(readFile(dir + "/REC_3.DAT"), "upper case");
    QStringList series = lists(&DataDeal::filelst);
    series.sort();
    EXPECT_EQ(series,
              QStringList({"0,REC," + timeText(T0), "0,a_b," + timeText(T0 + 7), "0,single.dat," + timeText(T0 + 5)}));
}

TEST_F(Recorder, RememberedTimesComeFromTheDatabasePerServerAndSeries) {
    // Server 11 has a newer "rec" series than anything server 1 lists; an
    // entry of server 11 must count neither as server 1's time nor state.
    QSqlQuery insert(db->connection());
    ASSERT_TRUE(insert.exec("insert into comtradrd(filename,srvid,filepreno,filetime,isupload) values"
                            "('rec_4.dat',0,'rec','" +
                            timeText(T0 + 10) +
                            "',1),"
                            "('far_1.dat',11,'rec','" +
                            timeText(T0 + 900) +
                            "',1),"
                            "('older_1.dat',0,'rec','" +
                            timeText(T0) + "',1)"));
    putFile(served("cm", "rec_3.dat"), "older", T0 + 9);
    putFile(served("cm", "rec_4.dat"), "fetched before", T0 + 10);
    // Regression: a recording in the same second as the series' newest one
    // was never fetched.
    putFile(served("cm", "rec_5.dat"), "same second", T0 + 10);
    putFile(served("cm", "rec_6.dat"), "a second newer", T0 + 11);
    putFile(served("bay", "rec_1.dat"), "server one", T0 + 100);
    startWindow(false);
    datedeal->GetFileLstFromDB();  // again: merging, never twice
    QStringList known = lists(&DataDeal::filelst);
    known.sort();
    EXPECT_EQ(known, QStringList({"0,rec," + timeText(T0 + 10), "11,rec," + timeText(T0 + 900)}));
    {
        QMutexLocker lock(&datedeal->filelst_mutex);
        datedeal->srvdownstatelst << "11_true";
    }

    list(0);
    EXPECT_FALSE(QFile::exists(dir + "/rec_3.dat"));
    EXPECT_FALSE(QFile::exists(dir + "/rec_4.dat"));
    EXPECT_EQ(readFile(dir + "/rec_5.dat"), "same second");
    EXPECT_EQ(readFile(dir + "/rec_6.dat"), "a second newer");

    list(1);
    EXPECT_EQ(readFile(dir + "/rec_1.dat"), "server one");
    QStringList states = lists(&DataDeal::srvdownstatelst);
    states.sort();
    EXPECT_EQ(states, QStringList({"0_true", "11_true", "1_true"}));
    known = lists(&DataDeal::filelst);
    known.sort();
    EXPECT_EQ(known, QStringList({"0,rec," + timeText(T0 + 11), "1,rec," + timeText(T0 + 100),
                                  "11,rec," + timeText(T0 + 900)}));
}

TEST_F(Recorder, FailedFetchIsAskedAgainAndHoldsItsSeriesBack) {
    putFile(served("cm", "rec_2.dat"), "two", T0 + 2);
    startWindow(false);

    // A listing naming a file the device no longer has (removed between its
    // listing and the fetch): the fetch fails, nothing of it is uploaded,
    // and the series' time stays before it although a newer file arrived.
    std::vector<AC_FILE_ATTR> attrs(2);
    qstrcpy(attrs[0].file_name, "/COMTRADE/rec_1.dat");
    attrs[0].last_modified.secs = T0 + 1;
    qstrcpy(attrs[1].file_name, "/COMTRADE/rec_2.dat");
    attrs[1].last_modified.secs = T0 + 2;
    AC_GETFAV_REQ_CTRL listing{};
    listing.file_num = 2;
    listing.file_attrs = attrs.data();
    datedeal->FileListParse(0, &listing);
    settled();
    EXPECT_EQ(readFile(dir + "/rec_2.dat"), "two");
    EXPECT_FALSE(QFile::exists(dir + "/rec_1.dat"));
    EXPECT_TRUE(lists(&DataDeal::filelst).isEmpty());
    EXPECT_TRUE(rows().isEmpty());
    upload();
    EXPECT_EQ(readFile(onFtp("rec_2.dat")), "two");
    EXPECT_FALSE(QFile::exists(onFtp("rec_1.dat")));
    EXPECT_EQ(lists(&DataDeal::downfilelst), QStringList({"0,rec_1.dat"}));

    // The device has it again: the next collection fetches it, not rec_2.
    putFile(served("cm", "rec_1.dat"), "one", T0 + 1);
    QFile::remove(dir + "/rec_2.dat");
    list(0);
    EXPECT_EQ(readFile(dir + "/rec_1.dat"), "one");
    EXPECT_FALSE(QFile::exists(dir + "/rec_2.dat"));
    EXPECT_EQ(lists(&DataDeal::filelst), QStringList({"0,rec," + timeText(T0 + 2)}));
    EXPECT_EQ(rows().size(), 2);
    upload();
    EXPECT_EQ(readFile(onFtp("rec_1.dat")), "one");
    EXPECT_EQ(ftpd->stored("rec_2.dat"), 1);
    EXPECT_TRUE(lists(&DataDeal::downfilelst).isEmpty());

    // A failed file that the device stops listing is given up and no longer
    // holds its series back.
    qstrcpy(attrs[0].file_name, "/COMTRADE/rec_8.dat");
    attrs[0].last_modified.secs = T0 + 8;
    putFile(served("cm", "rec_9.dat"), "nine", T0 + 9);
    qstrcpy(attrs[1].file_name, "/COMTRADE/rec_9.dat");
    attrs[1].last_modified.secs = T0 + 9;
    datedeal->FileListParse(0, &listing);
    settled();
    EXPECT_EQ(lists(&DataDeal::filelst), QStringList({"0,rec," + timeText(T0 + 2)}));
    list(0);
    EXPECT_EQ(lists(&DataDeal::filelst), QStringList({"0,rec," + timeText(T0 + 9)}));
    EXPECT_EQ(lists(&DataDeal::downfilelst), QStringList({"0,rec_9.dat"}));
}

TEST_F(Recorder, UploadsWaitForTheFtpServer) {
    for (int i = 1; i <= 3; ++i)
        putFile(served("cm", QString("rec_%1.dat").arg(i)), QByteArray(1000 * i, char('a' + i)), T0 + i);
    startWindow(false);
    list(0);
    const int port = ftpd->port();

    ftpd->stop();
    upload();
    EXPECT_EQ(lists(&DataDeal::downfilelst).size(), 3);
    EXPECT_TRUE(datedeal->recorderFiles().filter(",fetched,").size() == 3)
        << datedeal->recorderFiles().join(' ').toStdString();
    EXPECT_EQ(win->ftpcli.FtpPutState(), 0);
    // While the server stays away, a pass tries one file, not every one.
    datedeal->PutFileToFtp();
    EXPECT_EQ(datedeal->recorderFiles().filter(",uploading,").size(), 1);
    upload();

    // A row written after the failed uploads carries the failed put state.
    putFile(served("cm", "rec_4.dat"), "four", T0 + 4);
    list(0);
    EXPECT_TRUE(rows().contains("rec_4.dat|0|rec|" + timeText(T0 + 4) + "|0")) << rows().join(' ').toStdString();

    // Back: the first pass probes with one file, the next sends the rest.
    ASSERT_TRUE(ftpd->start(port)) << ftpd->error().toStdString();
    upload();
    EXPECT_EQ(lists(&DataDeal::downfilelst).size(), 3);
    upload();
    EXPECT_TRUE(lists(&DataDeal::downfilelst).isEmpty());
    for (int i = 1; i <= 3; ++i) {
        const QString name = QString("rec_%1.dat").arg(i);
        EXPECT_EQ(readFile(onFtp(name)), QByteArray(1000 * i, char('a' + i))) << name.toStdString();
        EXPECT_EQ(ftpd->stored(name), 1) << name.toStdString();
    }
    EXPECT_EQ(readFile(onFtp("rec_4.dat")), "four");
    EXPECT_EQ(rows().size(), 4);
}

TEST_F(Recorder, FilesWaitingForTheFtpServerSurviveARestart) {
    putFile(served("cm", "rec_1.dat"), "one", T0 + 1);
    putFile(served("cm", "rec_2.dat"), "two", T0 + 2);
    startWindow(false);
    list(0);
    const int port = ftpd->port();
    ftpd->stop();
    upload();
    EXPECT_EQ(readFile(dir + "/" + DataDeal::kUploadQueueFile),
              QString("0,%1,rec_1.dat\n0,%2,rec_2.dat\n").arg(T0 + 1).arg(T0 + 2).toUtf8());

    // The program starts again: the comtradrd rows say both are fetched, the
    // queue file that they still wait for the FTP server.
    DataDeal *before = datedeal;
    DataDeal again;
    datedeal = &again;
    again.loadSettings();
    again.setRecorderPauses(0, 0);
    again.GetFileLstFromDB();
    again.loadUploadQueue();
    EXPECT_EQ(lists(&DataDeal::downfilelst), QStringList({"0,rec_1.dat", "0,rec_2.dat"}));
    list(0);  // nothing to fetch
    EXPECT_EQ(lists(&DataDeal::downfilelst).size(), 2);
    ASSERT_TRUE(ftpd->start(port)) << ftpd->error().toStdString();
    upload();
    const QStringList left = lists(&DataDeal::downfilelst);
    const QByteArray queue = readFile(dir + "/" + DataDeal::kUploadQueueFile);
    datedeal = before;
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
    EXPECT_EQ(queue, "");
    EXPECT_EQ(readFile(onFtp("rec_1.dat")), "one");
    EXPECT_EQ(readFile(onFtp("rec_2.dat")), "two");
    EXPECT_EQ(rows().size(), 2);
}

TEST_F(Recorder, DatabaseDownAtStartFetchesAgainAndUpdatesTheRows) {
    QSqlQuery insert(db->connection());
    ASSERT_TRUE(insert.exec("insert into comtradrd(filename,srvid,filepreno,filetime,isupload) values"
                            "('rec_1.dat',0,'rec','" +
                            timeText(T0 + 1) + "',0)"));
    putFile(served("cm", "rec_1.dat"), "one", T0 + 1);
    putFile(served("cm", "rec_2.dat"), "two", T0 + 2);
    const QString name = archtest::dbNameForCurrentTest();
    const QString users = "'tarnmon'@'127.0.0.1', 'tarnmon'@'localhost'";
    ASSERT_TRUE(db->rootSql("revoke all privileges on `" + name + "`.* from " + users));
    startWindow(false);
    EXPECT_TRUE(lists(&DataDeal::filelst).isEmpty());
    ASSERT_TRUE(db->rootSql("grant all privileges on `" + name + "`.* to " + users));

    list(0);
    EXPECT_EQ(readFile(dir + "/rec_1.dat"), "one");
    EXPECT_EQ(rows(), QStringList({"rec_1.dat|0|rec|" + timeText(T0 + 1) + "|1",
                                   "rec_2.dat|0|rec|" + timeText(T0 + 2) + "|1"}));
    upload();
    EXPECT_EQ(readFile(onFtp("rec_1.dat")), "one");
    EXPECT_EQ(readFile(onFtp("rec_2.dat")), "two");
}

TEST_F(Recorder, NewRecordingsReachTheFtpServerOnce) {
    qputenv("TARNMON_ARCHIVE_CYCLE_S", "1");
    qputenv("TARNMON_COLLECT_EVERY_S", "1");
    startWindow(true);
    datedeal->setRecorderPauses(100, 100);

    auto recordOn = [](zvt::Sim &sim) {
        const std::string answer = sim.ask("record");
        EXPECT_EQ(answer.rfind("OK ", 0), 0u) << answer;
        // "OK COMTRADE/X.cfg COMTRADE/X.dat": the data file's bare name.
        const QString dat = QString::fromStdString(answer).section(' ', 2, 2);
        return dat.mid(dat.lastIndexOf('/') + 1);
    };
    // The data file and its configuration file.
    auto allOnFtp = [&](const QStringList &names) {
        return waitFor(
            [&] {
                for (const QString &n : names)
                    if (!QFile::exists(onFtp(n)) || !QFile::exists(onFtp(n.chopped(4) + ".cfg"))) return false;
                return lists(&DataDeal::downfilelst).isEmpty();
            },
            120000);
    };
    QStringList names = {recordOn(*cm), recordOn(*bay)};
    for (const QString &n : names) ASSERT_TRUE(n.endsWith(".dat")) << n.toStdString();
    ASSERT_TRUE(allOnFtp(names)) << datedeal->recorderFiles().join(' ').toStdString();
    // Most likely in the same second as the ones collected.
    names << recordOn(*cm) << recordOn(*bay);
    ASSERT_TRUE(allOnFtp(names)) << datedeal->recorderFiles().join(' ').toStdString();
    for (int i = 0; i < names.size(); ++i) {
        const char *ied = (i == 1 || i == 3) ? "bay" : "cm";
        EXPECT_EQ(readFile(onFtp(names[i])), readFile(served(ied, names[i]))) << names[i].toStdString();
        EXPECT_FALSE(readFile(onFtp(names[i])).isEmpty());
        EXPECT_EQ(ftpd->stored(names[i]), 1) << names[i].toStdString();
        const QString cfg = names[i].chopped(4) + ".cfg";
        EXPECT_EQ(readFile(onFtp(cfg)), readFile(served(ied, cfg))) << cfg.toStdString();
        EXPECT_EQ(ftpd->stored(cfg), 1) << cfg.toStdString();
        EXPECT_EQ(db->rows("select srvid from comtradrd where filename='" + names[i] + "'"),
                  QStringList({(i == 1 || i == 3) ? "1" : "0"}));
    }
    EXPECT_EQ(rows().size(), 4);
}

// ---- devices without times, with GB18030 names ----------------------------------------

// A new worker on the same working directory and database, as after a
// restart of the program; it stays the worker until the object goes.
class Restarted {
public:
    Restarted() : m_before(datedeal) {
        datedeal = &m_again;
        m_again.loadSettings();
        m_again.setRecorderPauses(0, 0);
        m_again.GetFileLstFromDB();
        m_again.loadUploadQueue();
    }
    ~Restarted() { datedeal = m_before; }

private:
    DataDeal *m_before;
    DataDeal m_again;
};

struct Device {
    const char *name;
    std::vector<std::string> options;
    bool timed;
};
void PrintTo(const Device &d, std::ostream *os) { *os << d.name; }

class RecorderOfDevice : public Recorder, public ::testing::WithParamInterface<Device> {
protected:
    std::vector<std::string> simOptions() const override { return GetParam().options; }

    // A recording made now; the name of its data file as the device lists it
    // (the device's bytes) and as it is stored here (UTF-8), and the same of
    // its companion files.
    struct Made {
        QByteArray listed;
        QString local;
        const char *ied;
        std::vector<std::pair<QByteArray, QString>> companions;
    };
    Made record(zvt::Sim &sim, const char *ied) {
        const std::string answer = sim.ask("record");
        EXPECT_EQ(answer.rfind("OK ", 0), 0u) << answer;
        // "OK COMTRADE/X.cfg COMTRADE/X.dat ...", the files the device wrote
        Made made{{}, {}, ied, {}};
        for (const QByteArray &name : QByteArray::fromStdString(answer).split(' ').mid(1)) {
            const QByteArray bare = name.mid(name.lastIndexOf('/') + 1);
            QString local;
            EXPECT_TRUE(devfile::decode(bare, &local)) << answer;
            if (bare.toLower().endsWith(".dat")) {
                made.listed = bare;
                made.local = local;
            } else {
                made.companions.push_back({bare, local});
            }
        }
        EXPECT_FALSE(made.listed.isEmpty()) << answer;
        return made;
    }
    // A collection of both servers and the uploads of what it fetched.
    void collect() {
        list(0);
        list(1);
        upload();
        upload();
    }
    QByteArray onDevice(const Made &m, const QByteArray &listed) const {
        return readBytes(QFile::encodeName(dir) + "/" + m.ied + "/COMTRADE/" + listed);
    }
    // Each recording is on the FTP server once, byte for byte the device's
    // file, and has its row; so are its companions, without rows; no local
    // copy is left from a later fetch.
    void expectCollectedOnce(const std::vector<Made> &made) {
        for (const Made &m : made) {
            SCOPED_TRACE(m.local.toStdString());
            const QByteArray on_device = onDevice(m, m.listed);
            EXPECT_GT(on_device.size(), 1000);
            EXPECT_EQ(readFile(onFtp(m.local)), on_device);
            EXPECT_EQ(ftpd->stored(m.local), 1);
            EXPECT_EQ(db->rows("select srvid from comtradrd where filename='" + m.local + "'"),
                      QStringList({QString::number(m.ied == std::string("bay") ? 1 : 0)}));
            for (const auto &[listed, local] : m.companions) {
                EXPECT_FALSE(onDevice(m, listed).isEmpty()) << local.toStdString();
                EXPECT_EQ(readFile(onFtp(local)), onDevice(m, listed)) << local.toStdString();
                EXPECT_EQ(ftpd->stored(local), 1) << local.toStdString();
            }
        }
        EXPECT_EQ(rows().size(), static_cast<int>(made.size())) << rows().join(' ').toStdString();
        EXPECT_TRUE(lists(&DataDeal::downfilelst).isEmpty());
    }
    // Removes the local copies, so that a second fetch would show.
    void clearLocal(const std::vector<Made> &made) {
        for (const Made &m : made) {
            QFile::remove(dir + "/" + m.local);
            for (const auto &c : m.companions) QFile::remove(dir + "/" + c.second);
        }
    }
    void expectNoLocalCopy(const std::vector<Made> &made) {
        for (const Made &m : made) {
            EXPECT_FALSE(QFile::exists(dir + "/" + m.local)) << m.local.toStdString();
            for (const auto &c : m.companions)
                EXPECT_FALSE(QFile::exists(dir + "/" + c.second)) << c.second.toStdString();
        }
    }
};

TEST_P(RecorderOfDevice, RecordingsAreCollectedOnceEachAcrossPassesAndARestart) {
    startWindow(false);
    std::vector<Made> made = {record(*cm, "cm"), record(*cm, "cm"), record(*bay, "bay")};
    collect();
    expectCollectedOnce(made);
    clearLocal(made);

    // Recordings made since (within the same second, as like as not) are
    // collected, the others not again.
    const std::vector<Made> later = {record(*cm, "cm"), record(*bay, "bay")};
    collect();
    made.insert(made.end(), later.begin(), later.end());
    expectCollectedOnce(made);
    expectNoLocalCopy({made.begin(), made.begin() + 3});
    clearLocal(made);
    collect();
    expectNoLocalCopy(made);

    {
        Restarted restarted;
        collect();
        expectNoLocalCopy(made);
        made.push_back(record(*cm, "cm"));
        collect();
        expectCollectedOnce(made);
    }

    // The rows name the files and series as decoded; a file without a time
    // has the time 0 (1970-01-01 in local time).
    const QStringList all = rows();
    for (const Made &m : made) {
        const QString series = m.local.left(m.local.lastIndexOf('_'));
        const QStringList row = all.filter(m.local + "|");
        ASSERT_EQ(row.size(), 1) << all.join(' ').toStdString();
        EXPECT_TRUE(row[0].startsWith(m.local + "|" + (m.ied == std::string("bay") ? "1|" : "0|") + series + "|"));
        EXPECT_EQ(row[0].contains("|" + timeText(0) + "|"), !GetParam().timed) << row[0].toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, RecorderOfDevice,
    ::testing::Values(Device{"Times", {}, true}, Device{"NoTimes", {"--file-times", "none"}, false},
                      Device{"OffsetTimes", {"--file-times", "offset-0130"}, true},
                      Device{"Gb18030Names", {"--gb18030-names", "--file-times", "fraction"}, true},
                      Device{"Gb18030NamesNoTimes", {"--gb18030-names", "--file-times", "none"}, false},
                      Device{"UpperCaseWithHeader", {"--record-parts", "DAT,CFG,HDR"}, true},
                      Device{"NoConfigurationFile", {"--record-parts", "dat,hdr,inf", "--file-times", "none"}, false}),
    [](const auto &info) { return std::string(info.param.name); });

// A file without a time whose fetch failed is fetched once the device has it
// again, after a restart too, although later ones were fetched before it (a
// series' newest name would have passed it).
TEST_F(Recorder, FileWithoutATimeIsFetchedAfterAFailureAndARestart) {
    putFile(served("cm", "rec_2.dat"), "two", T0 + 2);
    putFile(served("cm", "rec_3.dat"), "three", T0 + 3);
    startWindow(false);
    std::vector<AC_FILE_ATTR> attrs(3);
    for (int i = 0; i < 3; ++i) {
        qstrcpy(attrs[i].file_name, QByteArray("/COMTRADE/rec_" + QByteArray::number(i + 1) + ".dat").constData());
        attrs[i].last_modified.secs = 0;
    }
    AC_GETFAV_REQ_CTRL listing{};
    listing.file_num = 3;
    listing.file_attrs = attrs.data();
    datedeal->FileListParse(0, &listing);  // rec_1 is not there yet
    settled();
    upload();
    EXPECT_EQ(readFile(onFtp("rec_2.dat")), "two");
    EXPECT_EQ(readFile(onFtp("rec_3.dat")), "three");
    EXPECT_FALSE(QFile::exists(dir + "/rec_1.dat"));
    EXPECT_EQ(rows(), QStringList({"rec_2.dat|0|rec|" + timeText(0) + "|1", "rec_3.dat|0|rec|" + timeText(0) + "|1"}));
    EXPECT_TRUE(lists(&DataDeal::filelst).isEmpty());  // no time to remember

    putFile(served("cm", "rec_1.dat"), "one", T0 + 1);
    QFile::remove(dir + "/rec_2.dat");
    QFile::remove(dir + "/rec_3.dat");
    {
        Restarted restarted;
        datedeal->FileListParse(0, &listing);
        settled();
        upload();
        EXPECT_TRUE(lists(&DataDeal::filelst).isEmpty());
    }
    EXPECT_EQ(readFile(onFtp("rec_1.dat")), "one");
    EXPECT_FALSE(QFile::exists(dir + "/rec_2.dat"));
    EXPECT_FALSE(QFile::exists(dir + "/rec_3.dat"));
    for (const char *name : {"rec_1.dat", "rec_2.dat", "rec_3.dat"}) EXPECT_EQ(ftpd->stored(name), 1) << name;
    EXPECT_EQ(rows().size(), 3);
}

// Names without a safe local name stay on the device, and the others of the
// listing are fetched as usual.
TEST_F(Recorder, NamesWithoutASafeLocalNameAreLeftOnTheDevice) {
    putBytes(QFile::encodeName(served("cm", "")) + "\xFF\xFE_1.dat", "not a character set");
    putFile(served("cm", "back\\slash_1.dat"), "backslash", T0 + 1);
    putFile(served("cm", QString::fromUtf8("bidi\u202Etad.exe_1.dat")), "bidi override", T0 + 1);
    putFile(served("cm", "rec_1.dat"), "plain", T0 + 1);
    startWindow(false);
    list(0);
    list(0);
    upload();
    EXPECT_EQ(readFile(onFtp("rec_1.dat")), "plain");
    QStringList local = QDir(dir).entryList({"*.dat"}, QDir::Files);
    EXPECT_EQ(local, QStringList({"rec_1.dat"}));
    EXPECT_EQ(rows().size(), 1);
}

// While comtradrd cannot be written or asked, a fetched file's row waits and
// is written at the next collection, and a file without a time waits to be
// fetched until comtradrd can say it was not fetched already.
TEST_F(Recorder, RowsAndQuestionsWaitUntilTheTableIsBack) {
    putFile(served("cm", "rec_1.dat"), "timed", T0 + 1);
    putFile(served("cm", "u_1.dat"), "untimed", T0 + 1);
    startWindow(false);
    const QString table = "`" + archtest::dbNameForCurrentTest() + "`.comtradrd";
    ASSERT_TRUE(db->rootSql("rename table " + table + " to " + table + "_away"));
    std::vector<AC_FILE_ATTR> attrs(2);
    qstrcpy(attrs[0].file_name, "/COMTRADE/rec_1.dat");
    attrs[0].last_modified.secs = T0 + 1;
    qstrcpy(attrs[1].file_name, "/COMTRADE/u_1.dat");
    AC_GETFAV_REQ_CTRL listing{};
    listing.file_num = 2;
    listing.file_attrs = attrs.data();
    datedeal->FileListParse(0, &listing);
    settled();
    EXPECT_EQ(readFile(dir + "/rec_1.dat"), "timed");
    EXPECT_FALSE(QFile::exists(dir + "/u_1.dat"));

    ASSERT_TRUE(db->rootSql("rename table " + table + "_away to " + table));
    EXPECT_TRUE(rows().isEmpty());
    datedeal->FileListParse(0, &listing);
    settled();
    EXPECT_EQ(readFile(dir + "/u_1.dat"), "untimed");
    EXPECT_EQ(rows(), QStringList({"rec_1.dat|0|rec|" + timeText(T0 + 1) + "|1", "u_1.dat|0|u|" + timeText(0) + "|1"}));
    upload();
    EXPECT_EQ(ftpd->stored("rec_1.dat"), 1);
    EXPECT_EQ(ftpd->stored("u_1.dat"), 1);
}

// ---- companion files ------------------------------------------------------------------

// The files of the working directory with these extensions, sorted.
QStringList localFiles(const QString &dir) {
    QStringList names = QDir(dir).entryList({"*.dat", "*.DAT", "*.Dat", "*.cfg", "*.CFG", "*.hdr", "*.HDR", "*.inf",
                                             "*.INF", "*.txt"},
                                            QDir::Files);
    names.sort();
    return names;
}

TEST_F(Recorder, CompanionsFollowTheirDataFileOnceInTheCaseTheDeviceListsThem) {
    const std::vector<std::pair<QString, QByteArray>> files = {
        {"rec_1.dat", "data one"},        {"rec_1.cfg", "cfg one"},        {"rec_1.hdr", "hdr one"},
        {"rec_1.inf", "inf one"},         {"rec_2.DAT", "DATA TWO"},       {"rec_2.CFG", "CFG TWO"},
        {"rec_3.DAT", "data three"},      {"rec_3.cfg", "cfg three"},      {"rec_4.cfg", "no data"},
        {"rec_5.Dat", "not data"},        {"rec_5.cfg", "cfg of no data"}, {"rec_7.dat", "data seven"},
        {"rec_7.txt", "not a companion"}, {"sub/rec_8.dat", "deeper"},     {"sub/rec_8.cfg", "deeper"}};
    for (const auto &[name, data] : files) putFile(served("cm", name), data, T0 + 10);
    putFile(served("cm", "rec_9.dat"), "data nine", T0 + 5);
    putFile(served("cm", "rec_9.cfg"), "cfg nine, older than its data", T0 + 1);
    startWindow(false);

    list(0);
    const QStringList collected = {"rec_1.cfg", "rec_1.dat", "rec_1.hdr", "rec_1.inf", "rec_2.CFG", "rec_2.DAT",
                                   "rec_3.DAT", "rec_3.cfg", "rec_7.dat", "rec_9.cfg", "rec_9.dat"};
    EXPECT_EQ(localFiles(dir), collected);
    upload();
    upload();
    EXPECT_TRUE(lists(&DataDeal::downfilelst).isEmpty()) << lists(&DataDeal::downfilelst).join(' ').toStdString();
    for (const QString &name : collected) {
        EXPECT_EQ(readFile(onFtp(name)), readFile(served("cm", name))) << name.toStdString();
        EXPECT_EQ(ftpd->stored(name), 1) << name.toStdString();
    }
    // Rows for the data files only; the series' time is the data files'.
    QStringList names = db->rows("select filename from comtradrd");
    names.sort();
    EXPECT_EQ(names, QStringList({"rec_1.dat", "rec_2.DAT", "rec_3.DAT", "rec_7.dat", "rec_9.dat"}));
    EXPECT_EQ(lists(&DataDeal::filelst), QStringList({"0,rec," + timeText(T0 + 10)}));

    // Further collections, and one after a restart, fetch none of them again.
    for (const QString &name : collected) QFile::remove(dir + "/" + name);
    list(0);
    {
        Restarted restarted;
        list(0);
        upload();
    }
    EXPECT_EQ(localFiles(dir), QStringList());
    for (const QString &name : collected) EXPECT_EQ(ftpd->stored(name), 1) << name.toStdString();
    EXPECT_EQ(rows().size(), 5);
}

// A companion whose fetch fails is asked again at the next collection, also
// after a restart, without its data file; meanwhile the series goes on.
TEST_F(Recorder, FailedCompanionIsAskedAgainWithoutHoldingItsSeriesBack) {
    putFile(served("cm", "rec_1.dat"), "one", T0 + 1);
    putFile(served("cm", "rec_2.dat"), "two", T0 + 2);
    putFile(served("cm", "rec_2.cfg"), "cfg two", T0 + 2);
    startWindow(false);
    // The listing names rec_1.cfg, which is gone when it is asked for.
    std::vector<AC_FILE_ATTR> attrs(4);
    const char *names[] = {"/COMTRADE/rec_1.dat", "/COMTRADE/rec_1.cfg", "/COMTRADE/rec_2.dat", "/COMTRADE/rec_2.cfg"};
    for (int i = 0; i < 4; ++i) {
        qstrcpy(attrs[i].file_name, names[i]);
        attrs[i].last_modified.secs = T0 + 1 + i / 2;
    }
    AC_GETFAV_REQ_CTRL listing{};
    listing.file_num = 4;
    listing.file_attrs = attrs.data();
    datedeal->FileListParse(0, &listing);
    settled();
    upload();
    upload();
    EXPECT_EQ(localFiles(dir), QStringList({"rec_1.dat", "rec_2.cfg", "rec_2.dat"}));
    EXPECT_EQ(lists(&DataDeal::filelst), QStringList({"0,rec," + timeText(T0 + 2)}));
    EXPECT_EQ(rows().size(), 2);
    EXPECT_EQ(lists(&DataDeal::downfilelst), QStringList({"0,rec_1.cfg"}));
    EXPECT_TRUE(datedeal->recorderFiles().contains(QString("0,rec_1.cfg,fetch-failed,%1").arg(T0 + 1)))
        << datedeal->recorderFiles().join(' ').toStdString();
    for (const char *name : {"rec_1.dat", "rec_2.dat", "rec_2.cfg"}) EXPECT_EQ(ftpd->stored(name), 1) << name;

    // The device has it again; the program starts anew and collects.
    putFile(served("cm", "rec_1.cfg"), "cfg one", T0 + 1);
    QFile::remove(dir + "/rec_1.dat");
    Restarted restarted;
    EXPECT_EQ(lists(&DataDeal::downfilelst), QStringList({"0,rec_1.cfg"}));
    list(0);
    upload();
    EXPECT_TRUE(lists(&DataDeal::downfilelst).isEmpty());
    EXPECT_EQ(localFiles(dir), QStringList({"rec_1.cfg", "rec_2.cfg", "rec_2.dat"}));
    EXPECT_EQ(readFile(onFtp("rec_1.cfg")), "cfg one");
    for (const char *name : {"rec_1.dat", "rec_1.cfg", "rec_2.dat", "rec_2.cfg"})
        EXPECT_EQ(ftpd->stored(name), 1) << name;
    EXPECT_EQ(rows().size(), 2);

    // A failed companion the device stops listing is given up.
    qstrcpy(attrs[0].file_name, "/COMTRADE/rec_3.dat");
    qstrcpy(attrs[1].file_name, "/COMTRADE/rec_3.cfg");
    attrs[0].last_modified.secs = attrs[1].last_modified.secs = T0 + 3;
    putFile(served("cm", "rec_3.dat"), "three", T0 + 3);
    listing.file_num = 2;
    datedeal->FileListParse(0, &listing);
    settled();
    EXPECT_EQ(lists(&DataDeal::downfilelst), QStringList({"0,rec_3.dat", "0,rec_3.cfg"}));
    EXPECT_NE(readFile(dir + "/" + DataDeal::kCompanionFile), "");
    list(0);
    EXPECT_EQ(lists(&DataDeal::downfilelst), QStringList({"0,rec_3.dat"}));
    EXPECT_EQ(readFile(dir + "/" + DataDeal::kCompanionFile), "");
}

// A data file listed without its configuration file is collected; the
// configuration file (and what else is listed then) follows once the device
// lists it, across a restart, and nothing twice.
TEST_F(Recorder, ConfigurationFileListedLaterIsFetchedThen) {
    putFile(served("cm", "rec_1.dat"), "one", T0 + 1);
    putFile(served("cm", "rec_1.hdr"), "hdr one", T0 + 1);
    startWindow(false);
    list(0);
    upload();
    upload();
    EXPECT_EQ(lists(&DataDeal::filelst), QStringList({"0,rec," + timeText(T0 + 1)}));
    EXPECT_EQ(rows().size(), 1);
    list(0);  // still without it
    EXPECT_EQ(localFiles(dir), QStringList({"rec_1.dat", "rec_1.hdr"}));

    putFile(served("cm", "rec_1.cfg"), "cfg one", T0 + 1);
    putFile(served("cm", "rec_1.inf"), "inf one", T0 + 1);
    QFile::remove(dir + "/rec_1.dat");
    QFile::remove(dir + "/rec_1.hdr");
    {
        Restarted restarted;
        list(0);
        upload();
        list(0);
        upload();
    }
    EXPECT_EQ(localFiles(dir), QStringList({"rec_1.cfg", "rec_1.inf"}));
    for (const char *name : {"rec_1.dat", "rec_1.hdr", "rec_1.cfg", "rec_1.inf"}) {
        EXPECT_EQ(ftpd->stored(name), 1) << name;
        EXPECT_EQ(readFile(onFtp(name)), readFile(served("cm", name))) << name;
    }
    EXPECT_EQ(readFile(dir + "/" + DataDeal::kCompanionFile), "");
    EXPECT_EQ(rows().size(), 1);
}

TEST_F(Recorder, CompanionsSwitchedOffStayOnTheDevice) {
    QSettings(dir + "/syscfg.ini", QSettings::IniFormat).setValue("mysqlcfg/comtradcompanions", 0);
    ConnectionPool::release();  // read the file again
    putFile(served("cm", "rec_1.dat"), "one", T0 + 1);
    putFile(served("cm", "rec_1.cfg"), "cfg one", T0 + 1);
    startWindow(false);
    list(0);
    upload();
    list(0);
    EXPECT_EQ(localFiles(dir), QStringList({"rec_1.dat"}));
    EXPECT_EQ(ftpd->stored("rec_1.dat"), 1);
    EXPECT_FALSE(QFile::exists(onFtp("rec_1.cfg")));
    EXPECT_FALSE(QFile::exists(dir + "/" + DataDeal::kCompanionFile));
}

}  // namespace
