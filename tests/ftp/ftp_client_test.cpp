// FtpCLient against a real FTP server: the "ftpd" fixture (scripts/ftpd.sh),
// whose settings arrive in the file named by ZV_FTPD_ENV_FILE.

#include "FtpCLient.h"
#include "zvt/ftpd.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

constexpr int kWaitMs = 30000;  // generous: a failure here means "never answered"

struct Server {
    QString host, user, password, root;
    int port = 0;
};

const Server &server() {
    static const Server s = [] {
        Server r;
        const QHash<QString, QString> kv = zvt::shared_ftpd();
        r.host = kv.value("FTP_HOST");
        r.port = kv.value("FTP_PORT").toInt();
        r.user = kv.value("FTP_USER");
        r.password = kv.value("FTP_PASS");
        r.root = kv.value("FTP_ROOT");
        return r;
    }();
    return s;
}

// Debug lines of the process, to look for the client's "Error: " lines.
QMutex g_logMutex;
QStringList g_log;

void captureLog(QtMsgType, const QMessageLogContext &, const QString &msg) {
    QMutexLocker lock(&g_logMutex);
    g_log << msg;
}

QString logText() {
    QMutexLocker lock(&g_logMutex);
    return g_log.join('\n');
}

int errorLines() {
    QMutexLocker lock(&g_logMutex);
    int n = 0;
    for (const QString &l : g_log)
        if (l.startsWith(QLatin1String("Error: "))) ++n;
    return n;
}

QByteArray randomBytes(int size, quint32 seed) {
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (int i = 0; i < size; ++i) b[i] = char(gen.bounded(256));
    return b;
}

bool writeFile(const QString &path, const QByteArray &data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The remote path as a file below the served folder.
QString onServer(const QString &remote) {
    QString rel = remote;
    while (rel.startsWith('/')) rel.remove(0, 1);
    return server().root + '/' + rel;
}

// Runs the event loop until the spy saw `count` signals or the wait is over.
bool waitFor(QSignalSpy &spy, int count) {
    QDeadlineTimer deadline(kWaitMs);
    while (spy.count() < count && !deadline.hasExpired()) spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
    return spy.count() >= count;
}

// Lets late (duplicate) completions arrive, if there were any.
void drainEvents() {
    QDeadlineTimer deadline(300);
    while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// A loopback port where nothing listens: bound but never listening, so a
// connection is refused and nobody else can take the port meanwhile.
class DeadPort {
public:
    DeadPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr *>(&a), len) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~DeadPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

class FtpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(server().root.isEmpty()) << "no ftpd fixture: ZV_FTPD_ENV_FILE unset or unreadable";
        ASSERT_TRUE(local.isValid());
        client = std::make_unique<FtpCLient>();
        client->FtpSetHostPort(server().host, server().port);
        client->FtpSetUserInfor(server().user, server().password);
        QMutexLocker lock(&g_logMutex);
        g_log.clear();
    }

    QString path(const QString &name) const { return local.filePath(name); }

    QTemporaryDir local;
    std::unique_ptr<FtpCLient> client;
};

TEST_F(FtpClientTest, FlagsAreOneAfterConstruction) {
    FtpCLient fresh;
    EXPECT_EQ(fresh.FtpPutState(), 1);
    EXPECT_EQ(fresh.FtpGetState(), 1);
}

struct PutCase {
    const char *name;
    const char *remote;
    int size;
};

void PrintTo(const PutCase &c, std::ostream *os) { *os << c.name; }

class PutStoresFile : public FtpClientTest, public ::testing::WithParamInterface<PutCase> {};

TEST_P(PutStoresFile, ByteIdenticalOnServerAndReportedOnce) {
    const PutCase &c = GetParam();
    const QString src = path("src.dat");
    const QByteArray data = randomBytes(c.size, 7);
    ASSERT_TRUE(writeFile(src, data));
    // Whatever an earlier run against the same server left there goes first,
    // so that the folders really are new.
    const QString remote = QString::fromUtf8(c.remote);
    const QString top = remote.section('/', 0, 0, QString::SectionSkipEmpty);
    if (remote.contains('/')) {
        ASSERT_TRUE(QDir(onServer(top)).removeRecursively());
    }
    QFile::remove(onServer(remote));
    QSignalSpy done(client.get(), &FtpCLient::putFinished);

    client->FtpPut(src, remote);

    ASSERT_TRUE(waitFor(done, 1));
    drainEvents();
    ASSERT_EQ(done.count(), 1);
    EXPECT_EQ(done.at(0).at(0).toString(), src);
    EXPECT_EQ(done.at(0).at(1).toString(), QString::fromUtf8(c.remote));
    EXPECT_TRUE(done.at(0).at(2).toBool());
    EXPECT_EQ(client->FtpPutState(), 1);
    EXPECT_EQ(errorLines(), 0) << logText().toStdString();
    const QByteArray stored = readFile(onServer(QString::fromUtf8(c.remote)));
    EXPECT_EQ(stored.size(), data.size());
    EXPECT_TRUE(stored == data);
}

INSTANTIATE_TEST_SUITE_P(FtpClient, PutStoresFile,
                         ::testing::Values(PutCase{"IntoLoginFolder", "put_root.dat", 1000},
                                           PutCase{"EmptyLocalFile", "put_empty.dat", 0},
                                           PutCase{"MultiMegabyteFile", "put_big/big.dat", 6 * 1024 * 1024 + 17},
                                           PutCase{"IntoFoldersNotYetOnServer", "put_new/a/b/c/rec_1.dat", 4096},
                                           PutCase{"AbsoluteRemotePath", "/put_abs/d/rec_2.dat", 3000},
                                           PutCase{"NamesNeedingEscapes", "put esc/录波 #1?;x.dat", 500}),
                         [](const ::testing::TestParamInfo<PutCase> &info) { return std::string(info.param.name); });

TEST_F(FtpClientTest, PutReplacesExistingRemoteFile) {
    ASSERT_TRUE(writeFile(onServer("put_replace/x.dat"), QByteArray(5000, 'o')));
    ASSERT_TRUE(writeFile(path("x.dat"), "new"));
    QSignalSpy done(client.get(), &FtpCLient::putFinished);
    client->FtpPut(path("x.dat"), "put_replace/x.dat");
    ASSERT_TRUE(waitFor(done, 1));
    EXPECT_TRUE(done.at(0).at(2).toBool());
    EXPECT_EQ(readFile(onServer("put_replace/x.dat")), QByteArray("new"));
}

enum class Fault { MissingLocalFile, WrongPassword, ServerDown, NoServerSet };

struct FailCase {
    const char *name;
    Fault fault;
};

void PrintTo(const FailCase &c, std::ostream *os) { *os << c.name; }

class FailedPut : public FtpClientTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(FailedPut, SetsFlagZeroLogsErrorAndLeavesRemoteFileAlone) {
    const FailCase &c = GetParam();
    const QString remote = QStringLiteral("fail_%1/target.dat").arg(c.name);
    ASSERT_TRUE(writeFile(onServer(remote), "old content"));
    QString src = path("upload.dat");
    DeadPort dead;
    switch (c.fault) {
    case Fault::MissingLocalFile: src = path("no_such_file.dat"); break;
    case Fault::WrongPassword: client->FtpSetUserInfor(server().user, "wrong"); break;
    case Fault::ServerDown:
        ASSERT_NE(dead.port(), 0);
        client->FtpSetHostPort("127.0.0.1", dead.port());
        break;
    case Fault::NoServerSet: client = std::make_unique<FtpCLient>(); break;
    }
    if (c.fault != Fault::MissingLocalFile) {
        ASSERT_TRUE(writeFile(src, "would be new"));
    }
    QSignalSpy done(client.get(), &FtpCLient::putFinished);

    client->FtpPut(src, remote);

    ASSERT_TRUE(waitFor(done, 1));
    drainEvents();
    ASSERT_EQ(done.count(), 1);
    EXPECT_FALSE(done.at(0).at(2).toBool());
    EXPECT_EQ(client->FtpPutState(), 0);
    EXPECT_GE(errorLines(), 1) << logText().toStdString();
    // A missing local file must not turn into an empty remote file.
    EXPECT_EQ(readFile(onServer(remote)), QByteArray("old content"));
}

INSTANTIATE_TEST_SUITE_P(FtpClient, FailedPut,
                         ::testing::Values(FailCase{"MissingLocalFile", Fault::MissingLocalFile},
                                           FailCase{"WrongPassword", Fault::WrongPassword},
                                           FailCase{"ServerDown", Fault::ServerDown},
                                           FailCase{"NoServerSet", Fault::NoServerSet}),
                         [](const ::testing::TestParamInfo<FailCase> &info) { return std::string(info.param.name); });

TEST_F(FtpClientTest, GetReplacesLocalFileWithRemoteContent) {
    const QByteArray data = randomBytes(2 * 1024 * 1024 + 5, 11);
    ASSERT_TRUE(writeFile(onServer("get/rec_1.dat"), data));
    ASSERT_TRUE(writeFile(onServer("get/short.txt"), "short"));
    // An older, longer local file must not leave its tail behind.
    ASSERT_TRUE(writeFile(path("short.txt"), QByteArray(10000, 'x')));
    QSignalSpy done(client.get(), &FtpCLient::getFinished);

    client->FtpGet("get/rec_1.dat", path("rec_1.dat"));
    client->FtpGet("/get/short.txt", path("short.txt"));

    ASSERT_TRUE(waitFor(done, 2));
    drainEvents();
    ASSERT_EQ(done.count(), 2);
    for (const auto &args : done) EXPECT_TRUE(args.at(2).toBool()) << args.at(0).toString().toStdString();
    EXPECT_EQ(client->FtpGetState(), 1);
    EXPECT_TRUE(readFile(path("rec_1.dat")) == data);
    EXPECT_EQ(readFile(path("short.txt")), QByteArray("short"));
}

TEST_F(FtpClientTest, FailedGetKeepsLocalFileAsItWas) {
    ASSERT_TRUE(writeFile(path("precious.dat"), "keep me"));
    QSignalSpy done(client.get(), &FtpCLient::getFinished);

    client->FtpGet("get_missing/nothing.dat", path("precious.dat"));
    client->FtpGet("get_missing/nothing.dat", path("absent.dat"));

    ASSERT_TRUE(waitFor(done, 2));
    drainEvents();
    ASSERT_EQ(done.count(), 2);
    EXPECT_FALSE(done.at(0).at(2).toBool());
    EXPECT_FALSE(done.at(1).at(2).toBool());
    EXPECT_EQ(client->FtpGetState(), 0);
    EXPECT_GE(errorLines(), 1);
    EXPECT_EQ(readFile(path("precious.dat")), QByteArray("keep me"));
    EXPECT_FALSE(QFile::exists(path("absent.dat")));
    // No temporary file is left beside the targets.
    EXPECT_EQ(QDir(local.path()).entryList(QDir::Files), QStringList{"precious.dat"});
}

TEST_F(FtpClientTest, OverlappingTransfersEachUseTheirOwnFileAndAreHandledOnce) {
    const QByteArray a = randomBytes(1500 * 1024, 1), b = randomBytes(900 * 1024, 2);
    const QByteArray c = randomBytes(1200 * 1024, 3), d = randomBytes(700 * 1024, 4);
    ASSERT_TRUE(writeFile(path("a.dat"), a));
    ASSERT_TRUE(writeFile(path("b.dat"), b));
    ASSERT_TRUE(writeFile(onServer("overlap/c.dat"), c));
    ASSERT_TRUE(writeFile(onServer("overlap/d.dat"), d));
    QSignalSpy puts(client.get(), &FtpCLient::putFinished);
    QSignalSpy gets(client.get(), &FtpCLient::getFinished);

    client->FtpPut(path("a.dat"), "overlap/up/a.dat");
    client->FtpPut(path("b.dat"), "overlap/up/b.dat");
    client->FtpGet("overlap/c.dat", path("c.dat"));
    client->FtpGet("overlap/d.dat", path("d.dat"));

    ASSERT_TRUE(waitFor(puts, 2));
    ASSERT_TRUE(waitFor(gets, 2));
    drainEvents();
    EXPECT_EQ(puts.count(), 2);
    EXPECT_EQ(gets.count(), 2);
    QStringList reported;
    for (const auto &args : puts) {
        EXPECT_TRUE(args.at(2).toBool());
        reported << args.at(1).toString();
    }
    reported.sort();
    EXPECT_EQ(reported, (QStringList{"overlap/up/a.dat", "overlap/up/b.dat"}));
    EXPECT_TRUE(readFile(onServer("overlap/up/a.dat")) == a);
    EXPECT_TRUE(readFile(onServer("overlap/up/b.dat")) == b);
    EXPECT_TRUE(readFile(path("c.dat")) == c);
    EXPECT_TRUE(readFile(path("d.dat")) == d);
    EXPECT_EQ(client->FtpPutState(), 1);
    EXPECT_EQ(client->FtpGetState(), 1);
}

TEST_F(FtpClientTest, PutFlagStaysZeroAfterEitherOfTwoUploadsFailsUntilNextUploadStarts) {
    ASSERT_TRUE(writeFile(path("good.dat"), randomBytes(300 * 1024, 5)));
    QSignalSpy done(client.get(), &FtpCLient::putFinished);

    client->FtpPut(path("good.dat"), "flag/good.dat");
    client->FtpPut(path("missing.dat"), "flag/missing.dat");

    ASSERT_TRUE(waitFor(done, 2));
    drainEvents();
    ASSERT_EQ(done.count(), 2);
    EXPECT_EQ(client->FtpPutState(), 0);
    EXPECT_TRUE(QFile::exists(onServer("flag/good.dat")));
    EXPECT_FALSE(QFile::exists(onServer("flag/missing.dat")));

    client->FtpPut(path("good.dat"), "flag/again.dat");
    EXPECT_EQ(client->FtpPutState(), 1);
    ASSERT_TRUE(waitFor(done, 3));
    EXPECT_TRUE(done.at(2).at(2).toBool());
    EXPECT_EQ(client->FtpPutState(), 1);
}

TEST_F(FtpClientTest, EventLoopKeepsRunningDuringMultiMegabyteTransfers) {
    ASSERT_TRUE(writeFile(path("big.dat"), randomBytes(24 * 1024 * 1024, 9)));
    int ticks = 0;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    QSignalSpy puts(client.get(), &FtpCLient::putFinished);
    QSignalSpy gets(client.get(), &FtpCLient::getFinished);

    client->FtpPut(path("big.dat"), "slow/big.dat");
    EXPECT_EQ(puts.count(), 0) << "the upload finished inside FtpPut";
    ASSERT_TRUE(waitFor(puts, 1));
    const int ticksDuringPut = ticks;
    ASSERT_TRUE(puts.at(0).at(2).toBool());

    client->FtpGet("slow/big.dat", path("back.dat"));
    EXPECT_EQ(gets.count(), 0) << "the download finished inside FtpGet";
    ASSERT_TRUE(waitFor(gets, 1));
    ASSERT_TRUE(gets.at(0).at(2).toBool());

    EXPECT_GE(ticksDuringPut, 2);
    EXPECT_GE(ticks - ticksDuringPut, 2);
    EXPECT_TRUE(readFile(path("back.dat")) == readFile(path("big.dat")));
}

TEST_F(FtpClientTest, DestroyingClientAnswersEveryTransferStillRunning) {
    ASSERT_TRUE(writeFile(path("big.dat"), randomBytes(16 * 1024 * 1024, 13)));
    ASSERT_TRUE(writeFile(onServer("destroy/src.dat"), randomBytes(16 * 1024 * 1024, 14)));
    int puts = 0, gets = 0;
    bool getOk = false;
    QObject::connect(client.get(), &FtpCLient::putFinished, [&puts](QString, QString, bool) { ++puts; });
    QObject::connect(client.get(), &FtpCLient::getFinished, [&](QString, QString, bool ok) {
        ++gets;
        getOk = ok;
    });

    client->FtpPut(path("big.dat"), "destroy/big.dat");
    client->FtpGet("destroy/src.dat", path("got.dat"));
    client.reset();

    EXPECT_EQ(puts, 1);
    EXPECT_EQ(gets, 1);
    // An aborted download leaves no partial local file.
    EXPECT_EQ(QFile::exists(path("got.dat")), getOk);
    drainEvents();
}

TEST_F(FtpClientTest, DestroyingClientAbortsTransferToSilentServer) {
    // Accepts connections (through the backlog) but never sends the greeting.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&a), len), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len), 0);
    client->FtpSetHostPort("127.0.0.1", ntohs(a.sin_port));
    ASSERT_TRUE(writeFile(path("x.dat"), "x"));
    int answers = 0;
    bool ok = true;
    QObject::connect(client.get(), &FtpCLient::putFinished, [&](QString, QString, bool r) {
        ++answers;
        ok = r;
    });

    client->FtpPut(path("x.dat"), "silent/x.dat");
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    client.reset();  // must not wait for the server's response time-out

    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(ok);
    ::close(fd);
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(captureLog);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
