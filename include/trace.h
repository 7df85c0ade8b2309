// Trace output of the station computer. tarnmon prints its trace lines;
// tarnview, built with TARNVIEW defined, is the same program without them.
#pragma once

#include <QDebug>
#include <cstdio>

#ifdef TARNVIEW
#define TM_TRACE_PRINTF(...) \
    do {                     \
    } while (0)
#define TM_TRACE_DEBUG() \
    if (true) {          \
    } else               \
        qDebug()
#else
#define TM_TRACE_PRINTF(...) std::printf(__VA_ARGS__)
#define TM_TRACE_DEBUG() qDebug()
#endif
