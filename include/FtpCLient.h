#ifndef FTPCLIENT_H
#define FTPCLIENT_H

// Whole-file transfers between the local disk and one FTP server.
//
// The client belongs to the thread that created it (the GUI thread); its
// operations are called there and return at once. Every transfer runs on a
// thread of its own with its own libcurl handle and its own local file, so
// transfers may overlap. The outcome comes back to the client's thread, where
// finished_get / finished_put (and loadError on failure) handle it exactly
// once and getFinished / putFinished tell whoever listens.

#include <QObject>
#include <QString>

#include <atomic>
#include <map>
#include <memory>

// What one finished transfer reports to the client's thread.
struct FtpReply {
    QString local;      // local file name as given
    QString remote;     // remote path as given
    int error = 0;      // libcurl result; 0 = the server confirmed the transfer
    QString errorText;  // readable reason when error != 0
};

class FtpCLient : public QObject {
    Q_OBJECT

public:
    // Both flags start at 1; no server is set yet.
    explicit FtpCLient(QObject *parent = nullptr);
    // Aborts transfers still running, waits for their threads and reports each
    // of them (getFinished / putFinished) before the client goes away.
    ~FtpCLient() override;

    // Server host name or address and TCP port used by later transfers.
    void FtpSetHostPort(QString str, int port);
    // Account used by later transfers.
    void FtpSetUserInfor(QString user, QString pwd);

    // Starts downloading the remote path `sor` into the local file `dev`.
    // The local file is replaced only when the download completed; a failed
    // download leaves it as it was.
    void FtpGet(QString sor, QString dev);
    // Starts uploading the local file `source` to the remote path `dev`,
    // creating missing remote folders. A local file that cannot be read is not
    // uploaded; the transfer fails.
    void FtpPut(QString source, QString dev);

    // 1 = no upload failed since the last upload started, 0 = one failed.
    // Safe to call from any thread.
    int FtpPutState() const;
    // Same for downloads.
    int FtpGetState() const;

signals:
    // One download ended; ok = the server delivered the whole file and it is in
    // the local file.
    void getFinished(QString remote, QString local, bool ok);
    // One upload ended; ok = the server confirmed that it stored the file.
    void putFinished(QString local, QString remote, bool ok);

private slots:
    void finished_get(const FtpReply &reply);
    void finished_put(const FtpReply &reply);
    void loadError(int code);

private:
    struct Transfer;

    void start(bool put, const QString &local, const QString &remote);
    void transferDone(quint64 id);

    // Server settings; read on the client's thread when a transfer starts.
    QString m_host;
    int m_port = -1;
    QString m_user;
    QString m_password;

    std::atomic<int> fileputstate;
    std::atomic<int> filegetstate;

    // Transfers under way, by id; touched on the client's thread only.
    std::map<quint64, std::unique_ptr<Transfer>> m_transfers;
    quint64 m_nextId = 1;
    // Set by the destructor so that running transfers give up at once.
    std::atomic<bool> m_abort{false};
};

#endif  // FTPCLIENT_H
