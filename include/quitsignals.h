// SIGTERM and SIGINT end the program as its exit action does: the window
// closes, the channels are concluded and released, the workers stop.
#pragma once

class QWidget;

// Routes SIGTERM and SIGINT to closing `window` (from the event loop, not
// from the signal handler). Call once, after the window exists.
void quitOnSignals(QWidget *window);
