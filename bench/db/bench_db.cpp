// Borrowing from ConnectionPool against a private MariaDB: a borrow, a
// "SELECT 1" and a return per iteration, the connection reused by its
// thread; the same from 3 threads at once (GUI, worker and completion
// thread of the program); and borrowing when every name belongs to another
// thread, so that each borrow makes a new connection.
//
// Needs mariadb-server; starts its own server with scripts/mariadb.sh in a
// folder of the build tree and stops it at the end.
#include "ConnectionPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <thread>
#include <utility>

namespace {

bool script(const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("bash"), QStringList{QStringLiteral(TARNMON_MARIADB_SH)} + arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void borrowQueryReturn(benchmark::State& state) {
    for (auto _ : state) {
        QSqlDatabase db = ConnectionPool::openConnection();
        if (!db.isOpen()) {
            state.SkipWithError("no connection");
            break;
        }
        {
            QSqlQuery query(db);
            benchmark::DoNotOptimize(query.exec(QStringLiteral("SELECT 1")));
        }
        ConnectionPool::closeConnection(std::exchange(db, QSqlDatabase()));
    }
}
BENCHMARK(borrowQueryReturn)->Threads(1)->Threads(3)->UseRealTime();

// Five names lent once by other threads: each borrow here takes one over
// and logs in anew.
void borrowTakenOverName(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        ConnectionPool::release();
        for (int i = 0; i < 5; ++i)
            std::thread([] { ConnectionPool::closeConnection(ConnectionPool::openConnection()); }).join();
        state.ResumeTiming();
        QSqlDatabase db = ConnectionPool::openConnection();
        benchmark::DoNotOptimize(db.isOpen());
        ConnectionPool::closeConnection(std::exchange(db, QSqlDatabase()));
    }
}
BENCHMARK(borrowTakenOverName)->Iterations(50)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    benchmark::Initialize(&argc, argv);
    const QString dir = QStringLiteral(BENCH_DB_DIR);
    if (!script({QStringLiteral("start"), dir})) {
        std::fprintf(stderr, "bench_db: cannot start the private MariaDB in %s\n", qPrintable(dir));
        return 1;
    }
    QTemporaryDir work;
    QFile::copy(dir + QStringLiteral("/syscfg.ini"), work.filePath(QStringLiteral("syscfg.ini")));
    QDir::setCurrent(work.path());
    benchmark::RunSpecifiedBenchmarks();
    ConnectionPool::release();
    script({QStringLiteral("stop"), dir});
    return 0;
}
