// The archiving worker: once a minute it archives the mapped values held in
// the IED models, and every five minutes it collects recorder files.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QSqlDatabase>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "zorvan/zorvan_api.h"

// Data set member resolution: the object a data set member names, found
// through the member's runtime type element in its logical node's type table
// and the node's sub-object ids. False when the member cannot be resolved.
bool dd_resolve_member(AI_IED_CTRL *ied, AI_OBJ_ID member, AI_OBJ_ID *obj);

// True when `name` may be pasted into SQL as a quoted table or column name:
// 1 to 64 letters, digits and underscores.
bool dd_plain_identifier(const QString &name);

class DataDeal : public QThread {
public:
    DataDeal();
    ~DataDeal() override;

    // Asks the loop to end and wakes it from its sleep (any thread). The
    // mapping pass stops after the row it is working on.
    void stop();
    // Seconds between cycles; 60 unless a test or the demo shortens it. The
    // environment variable TARNMON_ARCHIVE_CYCLE_S, when positive, overrides
    // it at the start of run().
    void setCycleSeconds(int seconds) { m_cycle_seconds = seconds; }
    int cycleSeconds() const { return m_cycle_seconds; }

    // Archives one mapping row: finds the reference and its time stamp in the
    // data sets of the matching server's model and writes the value.
    void GetLD(QString rptparamindex, QString tbname, QString colname, int eqmid, QSqlDatabase db);
    // Value text of `paramindex` in the data sets of one logical device, or "".
    QString GetDS(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, int srv_id, QString paramindex);
    // Value text of `paramindex` among the members of one data set, or "".
    QString LoadDS(int srv_id, AI_OBJ_ID ob_id, QString paramindex);
    // Writes one value into the row of its time slot; false when the insert
    // failed (the database's error text goes to the message pane) or the
    // names are not plain identifiers.
    bool UpdateInsertTable(QString tbname, QString colname, QDateTime dtime, float dvalue, int eqmid, QSqlDatabase db);
    // The same with the value at full precision: a lastligtm value (a Unix
    // time) keeps its whole seconds; other columns take the value as float.
    bool UpdateInsertTable(QString tbname, QString colname, QDateTime dtime, double dvalue, int eqmid, QSqlDatabase db);

    // ---- Recorder files (DataDeal_files.cpp) ----
    // Every collection lists one directory of each IED, fetches the data
    // files (.dat/.DAT) of every series (name up to its last "_") newer than
    // the series' remembered time into the working directory, and queues
    // them for the FTP server. Each file is tracked on its own: it is
    // uploaded only once its fetch completed, a failed fetch is asked again
    // at the next collection, a series' remembered time (in memory and in
    // comtradrd) only moves past files that were fetched, and a file leaves
    // the upload queue only when the FTP server confirmed it.
    // A file listed without a time, or at its series' remembered time, is
    // judged by name instead: fetched unless it was fetched already (known
    // in memory, or a comtradrd row of that server has its name). Names are
    // the device's bytes; the local name is their UTF-8 or GB18030 reading
    // when that is a safe file name (devfile::localName), else the file is
    // left on the device with one log line.
    // A recording's companion files (same base name, .cfg, .hdr, .inf in the
    // case the device lists them) are fetched once its data file is, kept
    // and uploaded beside it; they get no comtradrd row and never hold a
    // series back. A companion whose fetch failed is asked again at the next
    // collection while the device lists it; a data file fetched without a
    // configuration file in its listing has that file fetched once the
    // device lists it (with companions then listed that were not fetched).
    // Both are kept in kCompanionFile across restarts. The syscfg.ini key
    // comtradcompanions = 0 switches companions off.

    // Newest recorded time per server and series from comtradrd (at start).
    // Merges into what is remembered already; never moves a time back.
    void GetFileLstFromDB();
    // Asks every server that has a model for its listing of remotefilepath.
    void GetSrvFile();
    // Asks server `srv_id` for the listing of `remotefilepath` (shorter than
    // 256 bytes); `localfilepath` is not used.
    void getfilelist(int srv_id, QString localfilepath, QString remotefilepath);
    // Selects the files of one listing to fetch and asks for them (stack
    // completion thread).
    void FileListParse(int srv_id, AC_GETFAV_REQ_CTRL *getfav);
    // Asks server `srv_id` for the file `filename` as the device listed it;
    // the copy goes to the working directory under the part of the name
    // after its last "/". False when the request could not be sent.
    bool fileupload(int srv_id, QString localfilepath, char *filename);
    // Records one fetched file in comtradrd (insert or update by name);
    // false when the database could not be reached or refused the row.
    bool UpdateInsertFile(QString filename, int srvid, QString filepreno, QDateTime filetime, int isup);
    // Hands every fetched file waiting in the queue to the FTP transfer,
    // oldest first, pausing between files.
    void PutFileToFtp();

    // Fetched files not yet confirmed by the FTP server are kept in this file
    // of the working directory, so that a restart uploads them too.
    static constexpr const char *kUploadQueueFile = "ftpqueue.lst";
    // Companion fetches still due (failed ones, and configuration files not
    // listed yet) are kept in this file of the working directory.
    static constexpr const char *kCompanionFile = "companions.lst";
    // Takes the files of the upload queue file back into the queue, and the
    // companion fetches of kCompanionFile (worker start); entries whose file
    // is gone or malformed are left out.
    void loadUploadQueue();

    // A fetch asked for by FileListParse ended (stack completion thread).
    void fileFetched(int srv_id, const QByteArray &listed_name, bool ok);
    // An upload handed over by PutFileToFtp ended (the FTP client's thread).
    void fileUploaded(const QString &local, const QString &remote, bool ok);
    // Pauses of the collection: after each server's listing request (2 s)
    // and after each file handed to the FTP transfer (5 s).
    void setRecorderPauses(int listing_ms, int upload_ms) {
        m_listing_pause_ms = listing_ms;
        m_upload_pause_ms = upload_ms;
    }
    // Seconds between collections: 300 unless TARNMON_COLLECT_EVERY_S
    // (positive) says otherwise at the start of run().
    void setCollectSeconds(int seconds) { m_collect_seconds = seconds; }
    // Recorder files known to the worker, one line each (for the tests and
    // the log): "srv,name,state,time".
    QStringList recorderFiles();
    // True when no fetch is under way and every due comtradrd row has been
    // written (or failed).
    bool recorderSettled();
    // Listings handled by FileListParse so far.
    int listingsParsed() const { return m_listings; }

    // One mapping pass over rptparamindex on `db` (the body of a cycle);
    // returns the number of rows handled.
    int archivePass(QSqlDatabase db);
    // Slot length in seconds for a value of `tbname`.`colname`; a setting of
    // 0 or less gives the 30-minute slot (warned about once per setting).
    qint64 slotSeconds(const QString &tbname, const QString &colname);
    // True when a recorder-file collection is due at `now` (more than 300 s
    // since the last one, or the clock went back).
    bool collectionDue(const QDateTime &now) const;
    // Copies the archiving settings from the connection pool.
    void loadSettings();

    // Whether the value search uses the per-device reference index (default)
    // or walks every data set for every row. Both give the same results.
    void setSearchIndexed(bool on) { m_indexed = on; }
    // Forgets the reference index (it is rebuilt on demand).
    void clearSearchIndex();

    std::atomic<bool> isloop{true};
    QDateTime lstRptEnaCKTime;
    QString localfilepath;
    QString remotefilepath;
    QMutex filelst_mutex;  // guards filelst, downfilelst, srvdownstatelst
    QStringList filelst;
    QStringList downfilelst;
    QStringList srvdownstatelst;
    QString comtradfilepath;
    std::atomic<bool> comtradcompanions{true};  // fetch and upload companion files (syscfg.ini)
    int tempmeasureinterval = 0;
    int sf6interval = 0;
    int pdinterval = 0;
    int microweatherinterval = 0;
    int ironcoreinterval = 0;
    int moainterval = 0;
    int yspinterval = 0;
    int yspinterval1 = 0;
    int yspinterval2 = 0;
    int jyinterval = 0;
    int scurinterval = 0;
    int dlginterval = 0;
    int jdwinterval = 0;

protected:
    void run() override;

private:
    // One place of a reference in a logical device's data sets: the object a
    // member resolves to and, for a member of several primitives, the
    // position of the primitive whose reference it is (-1: the member itself).
    struct Candidate {
        AI_OBJ_ID ds;
        AI_OBJ_ID obj;
        int prim;
        AI_OBJ_ID prim_id;
    };
    struct DeviceIndex {
        std::vector<AI_OBJ_ID> ds_ids;                                 // the data set list it was built from
        std::unordered_map<std::string, std::vector<Candidate>> refs;  // in search order
    };
    struct ServerIndex {
        AI_IED_CTRL *ied = nullptr;
        std::unordered_map<AI_OBJ_ID, std::unique_ptr<DeviceIndex>> devices;
    };

    // Sleeps up to `seconds`, returning early when stop() is called.
    void sleepCycle(int seconds);
    // Server whose name is the longest one contained in `ld`, or -1.
    int findServer(const QString &ld, QString *matched);
    // Indexed GetDS: same result as walking the data sets.
    QString findIndexed(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, int srv_id, const QString &paramindex);
    DeviceIndex *deviceIndex(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, int srv_id, const std::vector<AI_OBJ_ID> &ds_ids);
    bool buildDeviceIndex(AI_IED_CTRL *ied, const std::vector<AI_OBJ_ID> &ds_ids, DeviceIndex *index);
    bool insertRow(const QString &tbname, const QString &colname, const QDateTime &dtime, double dvalue, int eqmid,
                   QSqlDatabase &db);
    void report(const QString &text);

    // One recorder file seen in a listing, from its fetch request until the
    // series' remembered time has passed it and the FTP server has it.
    struct RecorderFile {
        enum State { Fetching, FetchFailed, Fetched, Uploading, Uploaded };
        int srv = 0;
        QByteArray listed;  // as the device listed it; asked for unchanged
        QString local;      // name in the working directory and on the FTP server
        QString prefix;     // series
        qint64 time = 0;    // seconds since the epoch
        State state = Fetching;
        bool recorded = false;   // comtradrd has its row
        bool seen = true;        // in the server's latest listing
        bool companion = false;  // a companion file: no row, no series
        // Data file being fetched: the companions listed with it (listed
        // name, time), asked for once it is here.
        std::vector<std::pair<QByteArray, qint64>> companions;
    };
    // A data file fetched while its listing held no configuration file.
    struct Wanted {
        int srv = 0;
        QByteArray listed;  // the data file as the device listed it
        QString local;
        qint64 time = 0;
        QSet<QByteArray> asked;  // companions asked for already (listed names)
    };
    // A fetched file whose comtradrd row is due.
    struct RowToWrite {
        QString name;
        int srv;
        QString prefix;
        QDateTime time;
    };
    // One data file of a listing, named as the device and as the disk know it.
    struct ListedFile {
        QByteArray listed;
        QString local;
        QString prefix;
        qint64 time;      // 0: listed without a time
        QString key;      // of m_files
        QByteArray base;  // the name in its folder without its extension
    };
    enum class Choice { Skip, Fetch, AskDatabase };
    // What a listing's file needs. `found`: the names comtradrd has for the
    // server among those asked (nullptr before asking; `asked_ok` false when
    // the database could not answer). filelst_mutex held.
    Choice chooseLocked(int srv, const ListedFile &file, const QSet<QString> *found, bool asked_ok);
    // The names of `names` that comtradrd has for server `srv`; false when
    // the database could not be asked. Not under filelst_mutex.
    bool fetchedAlready(int srv, const QStringList &names, QSet<QString> *found);
    static QString seriesKey(int srv, const QString &prefix);
    // Remembered time of a series, or -1. filelst_mutex held.
    qint64 rememberedLocked(int srv, const QString &prefix) const;
    void rememberLocked(int srv, const QString &prefix, qint64 secs);
    void setServerStateLocked(int srv, bool fetched);
    // Moves the series' remembered time past the files fetched before its
    // oldest file not fetched yet, returns the rows now due and forgets files
    // that are behind the time and on the FTP server. filelst_mutex held.
    void advanceSeriesLocked(int srv, QString prefix, std::vector<RowToWrite> *rows);
    // Writes the rows, and those that failed before; a row that fails again
    // is kept for the next call.
    void writeRows(std::vector<RowToWrite> rows);
    // Rewrites the upload queue file from the files fetched and not yet on
    // the FTP server, and kCompanionFile. filelst_mutex held.
    void saveUploadQueueLocked();
    // Queues companion `listed` of server `srv` for a fetch (state Fetching),
    // or for the next collection when another server's file of that local
    // name waits for the FTP server. False when nothing is to be asked now.
    // filelst_mutex held.
    bool queueCompanionLocked(int srv, const QByteArray &listed, qint64 time);
    void loadCompanions();
    bool sleepMs(int ms);

    std::map<QString, RecorderFile> m_files;  // by server "," listed name; filelst_mutex
    QHash<QString, qint64> m_remembered;      // by server "," prefix; filelst_mutex
    // Per server, listed names fetched already that their time cannot tell
    // (none, or their series' time), and names left on the device (logged
    // once); both only as long as the device lists them. filelst_mutex
    QHash<int, QSet<QByteArray>> m_done;
    QHash<int, QSet<QByteArray>> m_refused;
    QHash<QString, Wanted> m_wanted;      // by server "," listed data name; filelst_mutex
    std::vector<RowToWrite> m_unwritten;  // rows the database refused; filelst_mutex
    std::atomic<int> m_listing_pause_ms{2000};
    std::atomic<int> m_upload_pause_ms{5000};
    std::atomic<int> m_collect_seconds{300};
    std::atomic<int> m_listings{0};
    std::atomic<int> m_rows_pending{0};        // rows collected, not yet written
    std::atomic<bool> m_upload_failed{false};  // an upload failed since the last pass

    std::atomic<int> m_cycle_seconds{60};
    QMutex m_sleep_mutex;
    QWaitCondition m_sleep_wake;  // signalled by stop()
    bool m_indexed = true;
    // Worker thread only (or the caller of the public operations when the
    // thread does not run).
    std::unordered_map<int, ServerIndex> m_index;
    QSet<QString> m_warned_intervals;
    QSet<QString> m_refused_rows;
};
