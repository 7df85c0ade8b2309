// Waiting on conditions in Qt tests: the event loop runs between polls, so
// queued signals, posted calls and deferred deletes happen as in the program.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <functional>

#include "zvt/wait.h"

namespace zvt {

// Lets queued signals, posted calls and deferred deletes run.
inline void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// Runs the event loop until `cond` holds or `ms` passed, polling every
// `poll_ms`; true when it held.
inline bool waitFor(const std::function<bool()> &cond, int ms = 30000, int poll_ms = 5) {
    const int64_t end = now_ms() + ms;
    while (now_ms() < end) {
        settle();
        if (cond()) return true;
        QThread::msleep(static_cast<unsigned long>(poll_ms));
    }
    settle();
    return cond();
}

// Lets the event loop run for `ms` (for "nothing more happens" checks).
inline void idle(int ms) {
    const int64_t end = now_ms() + ms;
    while (now_ms() < end) {
        settle();
        QThread::msleep(5);
    }
}

}  // namespace zvt
