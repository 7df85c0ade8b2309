#include "DataDeal.h"

#include <QDebug>

DataDeal::DataDeal() = default;

DataDeal::~DataDeal() = default;

void DataDeal::stop() {
    QMutexLocker lock(&m_sleep_mutex);
    isloop = false;
    m_sleep_wake.wakeAll();
}

void DataDeal::sleepCycle(int seconds) {
    QMutexLocker lock(&m_sleep_mutex);
    if (!isloop) return;
    m_sleep_wake.wait(&m_sleep_mutex, static_cast<unsigned long>(seconds) * 1000UL);
}

void DataDeal::run() {
    qDebug() << "DataDealisRun";
    lstRptEnaCKTime = QDateTime::currentDateTime();
    while (isloop) {
        qDebug() << "DataDealisRunning";
        sleepCycle(m_cycle_seconds);
    }
}
