#include "FtpCLient.h"

#include <QDebug>
#include <QFile>
#include <QMetaObject>
#include <QSaveFile>
#include <QStringList>
#include <QUrl>

#include <curl/curl.h>

#include <mutex>
#include <system_error>
#include <thread>

namespace {

// A server that stops answering must not keep a transfer thread (and the
// caller waiting for its outcome) alive for ever.
constexpr long kConnectTimeoutSecs = 30;
constexpr long kResponseTimeoutSecs = 60;
constexpr long kStallTimeoutSecs = 60;  // less than 1 byte/s for this long

// Everything a transfer thread needs, copied so that it shares nothing with
// the client's thread while it runs.
struct Job {
    bool put = false;
    QString host;
    int port = -1;
    QString user;
    QString password;
    QString local;
    QString remote;
};

void initCurlOnce() {
    // curl_global_init is not safe to race with other libcurl calls; do it
    // once, before the first transfer thread exists.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ftp://host:port/path. libcurl reads a path relative to the login folder;
// an absolute remote path keeps its leading "/" as %2F (RFC 1738 3.2.2), so
// the server sees the path as given either way. Each folder name is
// percent-encoded so that spaces, '#', '?' or non-ASCII names survive.
bool buildUrl(const Job &job, QByteArray *url, QString *why) {
    if (job.host.isEmpty()) {
        *why = QStringLiteral("no FTP server address set");
        return false;
    }
    if (job.port != -1 && (job.port < 1 || job.port > 65535)) {
        *why = QStringLiteral("invalid FTP port %1").arg(job.port);
        return false;
    }
    QUrl base;
    base.setScheme(QStringLiteral("ftp"));
    base.setHost(job.host);
    if (job.port != -1) base.setPort(job.port);
    if (!base.isValid()) {
        *why = QStringLiteral("invalid FTP server address %1").arg(job.host);
        return false;
    }
    QString path = job.remote;
    QByteArray encoded;
    if (path.startsWith(QLatin1Char('/'))) {
        encoded = "%2F";
        while (path.startsWith(QLatin1Char('/'))) path.remove(0, 1);
    }
    const QStringList parts = path.split(QLatin1Char('/'));
    for (int i = 0; i < parts.size(); ++i) {
        if (i) encoded += '/';
        encoded += QUrl::toPercentEncoding(parts.at(i));
    }
    *url = base.toEncoded() + '/' + encoded;
    return true;
}

struct Io {
    QFile *in = nullptr;
    QSaveFile *out = nullptr;
    const std::atomic<bool> *abort = nullptr;
};

size_t readLocal(char *buffer, size_t size, size_t nitems, void *userdata) {
    auto *io = static_cast<Io *>(userdata);
    const qint64 n = io->in->read(buffer, qint64(size * nitems));
    if (n < 0) return CURL_READFUNC_ABORT;
    return size_t(n);
}

size_t writeLocal(char *data, size_t size, size_t nmemb, void *userdata) {
    auto *io = static_cast<Io *>(userdata);
    const qint64 want = qint64(size * nmemb);
    // A short count makes libcurl stop with CURLE_WRITE_ERROR.
    return io->out->write(data, want) == want ? size_t(want) : 0;
}

int progress(void *userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto *io = static_cast<Io *>(userdata);
    return io->abort->load() ? 1 : 0;
}

FtpReply fail(const Job &job, int code, const QString &why) {
    FtpReply r;
    r.local = job.local;
    r.remote = job.remote;
    r.error = code;
    r.errorText = why;
    return r;
}

// Runs one whole transfer on the calling thread.
FtpReply runTransfer(const Job &job, const std::atomic<bool> &abort) {
    FtpReply reply;
    reply.local = job.local;
    reply.remote = job.remote;

    QByteArray url;
    QString why;
    if (!buildUrl(job, &url, &why)) return fail(job, CURLE_URL_MALFORMAT, why);

    Io io;
    io.abort = &abort;
    QFile in(job.local);
    QSaveFile out(job.local);
    if (job.put) {
        // Nothing is sent for a local file that cannot be read: an empty upload
        // would overwrite the remote file and look like a success.
        if (!in.open(QIODevice::ReadOnly))
            return fail(job, CURLE_READ_ERROR,
                        QStringLiteral("cannot read local file %1: %2").arg(job.local, in.errorString()));
        io.in = &in;
    } else {
        // The download goes to a temporary file beside the target, which
        // replaces the target only once the server delivered everything.
        if (!out.open(QIODevice::WriteOnly))
            return fail(job, CURLE_WRITE_ERROR,
                        QStringLiteral("cannot write local file %1: %2").arg(job.local, out.errorString()));
        io.out = &out;
    }

    CURL *curl = curl_easy_init();
    if (!curl) {
        if (io.out) out.cancelWriting();
        return fail(job, CURLE_FAILED_INIT, QStringLiteral("libcurl handle could not be created"));
    }
    char errbuf[CURL_ERROR_SIZE] = {0};
    const QByteArray user = job.user.toUtf8();
    const QByteArray password = job.password.toUtf8();

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
#endif
    if (!job.user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // several transfer threads
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSecs);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseTimeoutSecs);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallTimeoutSecs);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &io);
    if (job.put) {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, readLocal);
        curl_easy_setopt(curl, CURLOPT_READDATA, &io);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(in.size()));
        curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_RETRY));
    } else {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeLocal);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &io);
    }

    // For FTP, CURLE_OK means the server answered the end of the data
    // transfer with a positive completion reply (226/250).
    CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);

    if (rc == CURLE_OK && io.out && !out.commit()) {
        rc = CURLE_WRITE_ERROR;
        qstrncpy(errbuf,
                 qPrintable(QStringLiteral("cannot replace local file %1: %2").arg(job.local, out.errorString())),
                 sizeof errbuf);
    } else if (rc != CURLE_OK && io.out) {
        out.cancelWriting();
    }
    if (rc != CURLE_OK) {
        reply.error = rc;
        reply.errorText = errbuf[0] ? QString::fromUtf8(errbuf) : QString::fromUtf8(curl_easy_strerror(rc));
    }
    return reply;
}

}  // namespace

struct FtpCLient::Transfer {
    bool put = false;
    std::thread thread;
    FtpReply reply;  // written by the thread before it posts its completion
};

FtpCLient::FtpCLient(QObject *parent) : QObject(parent), fileputstate(1), filegetstate(1) { initCurlOnce(); }

FtpCLient::~FtpCLient() {
    m_abort.store(true);
    for (auto &entry : m_transfers)
        if (entry.second->thread.joinable()) entry.second->thread.join();
    // Their queued completions die with this object; answer them here so that
    // nobody waits for a transfer that will never report.
    while (!m_transfers.empty()) transferDone(m_transfers.begin()->first);
}

void FtpCLient::FtpSetHostPort(QString str, int port) {
    m_host = str;
    m_port = port;
}

void FtpCLient::FtpSetUserInfor(QString user, QString pwd) {
    m_user = user;
    m_password = pwd;
}

void FtpCLient::FtpGet(QString sor, QString dev) {
    filegetstate.store(1);
    start(false, dev, sor);
}

void FtpCLient::FtpPut(QString source, QString dev) {
    fileputstate.store(1);
    start(true, source, dev);
}

int FtpCLient::FtpPutState() const { return fileputstate.load(); }

int FtpCLient::FtpGetState() const { return filegetstate.load(); }

void FtpCLient::start(bool put, const QString &local, const QString &remote) {
    Job job;
    job.put = put;
    job.host = m_host;
    job.port = m_port;
    job.user = m_user;
    job.password = m_password;
    job.local = local;
    job.remote = remote;

    const quint64 id = m_nextId++;
    auto transfer = std::make_unique<Transfer>();
    transfer->put = put;
    Transfer *t = transfer.get();
    m_transfers.emplace(id, std::move(transfer));
    try {
        t->thread = std::thread([this, t, id, job] {
            t->reply = runTransfer(job, m_abort);
            QMetaObject::invokeMethod(
                this, [this, id] { transferDone(id); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error &e) {
        t->reply = fail(job, CURLE_FAILED_INIT,
                        QStringLiteral("no thread for the transfer: %1").arg(QString::fromLocal8Bit(e.what())));
        QMetaObject::invokeMethod(
            this, [this, id] { transferDone(id); }, Qt::QueuedConnection);
    }
}

void FtpCLient::transferDone(quint64 id) {
    auto it = m_transfers.find(id);
    if (it == m_transfers.end()) return;
    std::unique_ptr<Transfer> t = std::move(it->second);
    m_transfers.erase(it);
    if (t->thread.joinable()) t->thread.join();  // it has posted; ends at once
    if (t->reply.error != 0) loadError(t->reply.error);
    if (t->put)
        finished_put(t->reply);
    else
        finished_get(t->reply);
}

void FtpCLient::finished_get(const FtpReply &reply) {
    if (reply.error != 0) {
        qDebug().noquote() << QStringLiteral("Error: %1 %2 (get %3 -> %4)")
                                  .arg(reply.error)
                                  .arg(reply.errorText, reply.remote, reply.local);
        filegetstate.store(0);
    }
    emit getFinished(reply.remote, reply.local, reply.error == 0);
}

void FtpCLient::finished_put(const FtpReply &reply) {
    if (reply.error != 0) {
        qDebug().noquote() << QStringLiteral("Error: %1 %2 (put %3 -> %4)")
                                  .arg(reply.error)
                                  .arg(reply.errorText, reply.local, reply.remote);
        fileputstate.store(0);
    }
    emit putFinished(reply.local, reply.remote, reply.error == 0);
}

void FtpCLient::loadError(int code) {
    fileputstate.store(0);
    filegetstate.store(0);
    qDebug().noquote() << QStringLiteral("Error: %1").arg(code);
}
