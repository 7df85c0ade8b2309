// The application-wide message handler: every diagnostic message of every
// thread becomes one line of the daily log file debugYYYY-MM-DD.log in the
// current working directory.
#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

void outputMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// The clock the handler reads; tests replace it to cross midnight. Null
// restores the system clock.
using LogClock = QDateTime (*)();
void setLogClock(LogClock clock);
