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
    bool UpdateInsertTable(QString tbname, QString colname, QDateTime dtime, float dvalue, int eqmid,
                           QSqlDatabase db);
    // The same with the value at full precision: a lastligtm value (a Unix
    // time) keeps its whole seconds; other columns take the value as float.
    bool UpdateInsertTable(QString tbname, QString colname, QDateTime dtime, double dvalue, int eqmid,
                           QSqlDatabase db);

    // Recorder files: history from comtradrd, collection from the IEDs, and
    // upload of fetched files. Built separately; empty here.
    void GetFileLstFromDB();
    void GetSrvFile();
    void PutFileToFtp();

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
        std::vector<AI_OBJ_ID> ds_ids;  // the data set list it was built from
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
    DeviceIndex *deviceIndex(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, int srv_id,
                             const std::vector<AI_OBJ_ID> &ds_ids);
    bool buildDeviceIndex(AI_IED_CTRL *ied, const std::vector<AI_OBJ_ID> &ds_ids, DeviceIndex *index);
    bool insertRow(const QString &tbname, const QString &colname, const QDateTime &dtime, double dvalue,
                   int eqmid, QSqlDatabase &db);
    void report(const QString &text);

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
