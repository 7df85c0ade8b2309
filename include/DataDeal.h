// The archiving worker: once a minute it archives the mapped values held in
// the IED models, and every five minutes it collects recorder files.
#pragma once

#include <QDateTime>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class DataDeal : public QThread {
public:
    DataDeal();
    ~DataDeal() override;

    // Asks the loop to end and wakes it from its sleep (any thread).
    void stop();
    // Seconds between cycles; 60 unless a test or the demo shortens it.
    void setCycleSeconds(int seconds) { m_cycle_seconds = seconds; }

    std::atomic<bool> isloop{true};
    QDateTime lstRptEnaCKTime;
    QString localfilepath;
    QString remotefilepath;
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
    // Sleeps up to `seconds`, returning early when stop() is called.
    void sleepCycle(int seconds);

    std::atomic<int> m_cycle_seconds{60};
    QMutex m_sleep_mutex;
    QWaitCondition m_sleep_wake;  // signalled by stop()
};
