// What the Qt test areas' entry point (tests/support/qt_main.cpp) does once
// every test has run: a fixture that leaves something open for the whole
// program (the stack's environment and its threads) registers how to end it,
// so that it ends while the QApplication still exists.
#pragma once

#include <functional>
#include <vector>

namespace zvt {

inline std::vector<std::function<void()>> &atTestExitHooks() {
    static std::vector<std::function<void()>> hooks;
    return hooks;
}

// Runs `hook` after the last test, before the application object goes.
inline void atTestExit(std::function<void()> hook) { atTestExitHooks().push_back(std::move(hook)); }

}  // namespace zvt
