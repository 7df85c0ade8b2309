// One mapping pass of the archiving worker over 10,000 mapped rows on a
// station of 50 IEDs (generated SCL, real stack library, private MariaDB):
// the whole pass with its inserts, and the value search on its own, indexed
// and as a full walk of every data set.
//
// Needs mariadb-server; starts its own server with scripts/mariadb.sh in a
// folder of the build tree and stops it at the end.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <vector>

#include "DataDeal.h"
#include "dlunix.h"
#include "zv_ops.h"

namespace {

constexpr int kIeds = 50;
constexpr int kLnsPerIed = 20;
constexpr int kDosPerLn = 10;  // 50 * 20 * 10 = 10,000 mapped values
constexpr int kDataSetsPerIed = 10;

QString iedName(int i) { return QStringLiteral("IED%1").arg(i + 1, 2, 10, QLatin1Char('0')); }
QString reference(int ied, int ln, int d) {
    return QStringLiteral("%1MON/GGIO%2$MX$AnIn%3$mag$f").arg(iedName(ied)).arg(ln + 1).arg(d + 1);
}

// An SCD of kIeds IEDs, each with one logical device of kLnsPerIed nodes of
// kDosPerLn measured values (value and time stamp set), spread over
// kDataSetsPerIed data sets of whole data objects.
QByteArray makeScd() {
    QString x;
    x += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCL xmlns=\"http://www.iec.ch/61850/2003/SCL\" "
         "version=\"2007\" revision=\"B\">\n<Header id=\"bench\"/>\n";
    for (int i = 0; i < kIeds; ++i) {
        x += QStringLiteral("<IED name=\"%1\"><AccessPoint name=\"S1\"><Server><Authentication none=\"true\"/>"
                            "<LDevice inst=\"MON\"><LN0 lnClass=\"LLN0\" inst=\"\" lnType=\"LLN0_T\">\n")
                 .arg(iedName(i));
        const int per_ds = kLnsPerIed * kDosPerLn / kDataSetsPerIed;
        for (int s = 0; s < kDataSetsPerIed; ++s) {
            x += QStringLiteral("<DataSet name=\"ds%1\">").arg(s + 1);
            for (int m = s * per_ds; m < (s + 1) * per_ds; ++m)
                x += QStringLiteral("<FCDA ldInst=\"MON\" lnClass=\"GGIO\" lnInst=\"%1\" doName=\"AnIn%2\" fc=\"MX\"/>")
                         .arg(m / kDosPerLn + 1)
                         .arg(m % kDosPerLn + 1);
            x += "</DataSet>\n";
        }
        x += "</LN0>\n";
        for (int l = 0; l < kLnsPerIed; ++l) {
            x += QStringLiteral("<LN lnClass=\"GGIO\" inst=\"%1\" lnType=\"GGIO_T\">").arg(l + 1);
            for (int d = 0; d < kDosPerLn; ++d)
                x += QStringLiteral("<DOI name=\"AnIn%1\"><SDI name=\"mag\"><DAI name=\"f\"><Val>%2</Val></DAI></SDI>"
                                    "<DAI name=\"t\"><Val>2026-12-07T02:00:00.000Z</Val></DAI></DOI>")
                         .arg(d + 1)
                         .arg(i * 1000 + l * 10 + d);
            x += "</LN>\n";
        }
        x += "</LDevice></Server></AccessPoint></IED>\n";
    }
    x += "<DataTypeTemplates><LNodeType id=\"LLN0_T\" lnClass=\"LLN0\"><DO name=\"Health\" type=\"INS_T\"/>"
         "</LNodeType><LNodeType id=\"GGIO_T\" lnClass=\"GGIO\">";
    for (int d = 0; d < kDosPerLn; ++d) x += QStringLiteral("<DO name=\"AnIn%1\" type=\"MV_T\"/>").arg(d + 1);
    x += "</LNodeType><DOType id=\"INS_T\" cdc=\"INS\"><DA name=\"stVal\" fc=\"ST\" bType=\"INT32\"/>"
         "<DA name=\"q\" fc=\"ST\" bType=\"Quality\"/><DA name=\"t\" fc=\"ST\" bType=\"Timestamp\"/></DOType>"
         "<DOType id=\"MV_T\" cdc=\"MV\"><DA name=\"mag\" fc=\"MX\" bType=\"Struct\" type=\"AnalogueValue\"/>"
         "<DA name=\"q\" fc=\"MX\" bType=\"Quality\"/><DA name=\"t\" fc=\"MX\" bType=\"Timestamp\"/></DOType>"
         "<DAType id=\"AnalogueValue\"><BDA name=\"f\" bType=\"FLOAT32\"/></DAType></DataTypeTemplates></SCL>\n";
    return x.toUtf8();
}

QByteArray makeStation() {
    QString x = "[station]\nscl = bench.scd\n";
    for (int i = 0; i < kIeds; ++i)
        x += QStringLiteral("\n[ied %1]\naddr_a = 127.0.0.1:1\naddr_b = none\nkeep_con_A = 0\nkeep_con_B = 0\n")
                 .arg(iedName(i));
    return x.toUtf8();
}

bool writeFile(const QString &path, const QByteArray &data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QString g_server_dir;
QSqlDatabase g_db;

bool script(const QStringList &args, const QByteArray &input = {}) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("bash"), QStringList{QStringLiteral(TARNMON_MARIADB_SH)} + args);
    p.write(input);
    p.closeWriteChannel();
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool setUp(QTemporaryDir &work) {
    if (!writeFile(work.filePath("bench.scd"), makeScd()) || !writeFile(work.filePath("station.ini"), makeStation()))
        return false;
    qputenv("ZORVAN_STATION", work.filePath("station.ini").toUtf8());
    if (open_zorvan_dl() == nullptr) return false;
    zv_lookup_operations(dp);
    if (ai_init_envir_ad(nullptr) != 0 || ac_init_srvm_ad() != 0 || ac_get_srvm_num_ad() != kIeds) {
        std::fprintf(stderr, "bench_archive: the station did not load\n");
        return false;
    }
    g_server_dir = QStringLiteral(BENCH_DB_DIR);
    if (!script({QStringLiteral("start"), g_server_dir})) return false;
    QSettings ini(g_server_dir + "/syscfg.ini", QSettings::IniFormat);
    g_db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("bench"));
    g_db.setHostName(ini.value("mysqlcfg/hostname").toString());
    g_db.setDatabaseName(ini.value("mysqlcfg/dbname").toString());
    g_db.setUserName(ini.value("mysqlcfg/usrname").toString());
    g_db.setPassword(ini.value("mysqlcfg/psw").toString());
    g_db.setPort(ini.value("mysqlcfg/port").toInt());
    if (!g_db.open()) {
        std::fprintf(stderr, "bench_archive: %s\n", qPrintable(g_db.lastError().text()));
        return false;
    }
    QSqlQuery q(g_db);
    q.exec(QStringLiteral("delete from rptparamindex"));
    g_db.transaction();
    q.prepare(QStringLiteral("insert into rptparamindex(paramindex,eqmid,tablename,colname) values(?,?,?,?)"));
    int eqmid = 0;
    for (int i = 0; i < kIeds; ++i)
        for (int l = 0; l < kLnsPerIed; ++l)
            for (int d = 0; d < kDosPerLn; ++d) {
                q.addBindValue(reference(i, l, d));
                q.addBindValue(++eqmid);
                q.addBindValue(QStringLiteral("data_etp_h"));
                q.addBindValue(QStringLiteral("tmp"));
                if (!q.exec()) return false;
            }
    g_db.commit();
    return true;
}

void configure(DataDeal &dd) { dd.tempmeasureinterval = 30; }

// The whole pass: read the mapping, find every value and its time, write it.
void BM_MappingPass(benchmark::State &state) {
    DataDeal dd;
    configure(dd);
    dd.archivePass(g_db);  // builds the index, as the first cycle does
    int rows = 0;
    for (auto _ : state) rows = dd.archivePass(g_db);
    state.counters["rows"] = rows;
    state.counters["rows_written_per_s"] = benchmark::Counter(double(rows) * double(state.iterations()),
                                                              benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MappingPass)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

// The search alone, as GetLD makes it for one row: value and time stamp in
// every logical device of the server. range(0) rows per iteration.
void search(benchmark::State &state, bool indexed) {
    DataDeal dd;
    dd.setSearchIndexed(indexed);
    const int rows = int(state.range(0));
    std::vector<std::pair<int, QString>> refs;
    // Every IED in turn, and within each its data objects in a scattered
    // order, so that a short run meets members at every position of the
    // data sets (the walk is quick for the first member of the first set).
    constexpr int kPerIed = kLnsPerIed * kDosPerLn;
    for (int r = 0; r < rows; ++r) {
        const int i = r % kIeds;
        const int m = (r / kIeds + i * 13) % kPerIed;
        refs.emplace_back(i, reference(i, m / kDosPerLn, m % kDosPerLn));
    }
    size_t found = 0;
    for (auto _ : state) {
        for (const auto &[srv, ref] : refs) {
            AI_IED_CTRL *ied = ac_get_srvm_ied_ad(srv);
            AI_OBJ_ID *lds = nullptr;
            ST_INT num = 0;
            ai_get_obj_dir_ad(ied, ied->cobj.id, 0, &lds, &num);
            const std::vector<AI_OBJ_ID> devices(lds, lds + num);
            const QString timeref = ref.section('$', 0, 2) + "$t";
            for (AI_OBJ_ID ld : devices) {
                found += dd.GetDS(ied, ld, srv, ref).isEmpty() ? 0 : 1;
                found += dd.GetDS(ied, ld, srv, timeref).isEmpty() ? 0 : 1;
            }
        }
    }
    if (found != size_t(2 * rows) * state.iterations()) state.SkipWithError("a value was not found");
    state.counters["rows_per_s"] = benchmark::Counter(double(rows) * double(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}
void BM_SearchIndexed(benchmark::State &state) { search(state, true); }
void BM_SearchFullWalk(benchmark::State &state) { search(state, false); }
BENCHMARK(BM_SearchIndexed)->Arg(10000)->Unit(benchmark::kSecond)->UseRealTime();
// The walk reads every member of every data set for each row; 100 rows
// give its rate without waiting for minutes.
BENCHMARK(BM_SearchFullWalk)->Arg(100)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    // Trace lines of every row would measure the terminal.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::FILE *quiet = std::freopen("/dev/null", "w", stdout);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir work;
    const bool ready = setUp(work);
    std::fflush(stdout);
    // Results go to standard error from here on, traces to nowhere.
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    int rc = 1;
    if (ready) {
        benchmark::RunSpecifiedBenchmarks(&reporter);
        rc = 0;
    } else {
        std::fprintf(stderr, "bench_archive: set-up failed\n");
    }
    g_db.close();
    // The stack's threads end with its environment.
    if (ai_uninit_envir_ad) ai_uninit_envir_ad();
    if (!g_server_dir.isEmpty()) script({QStringLiteral("stop"), g_server_dir});
    (void)quiet;
    return rc;
}
