// Waiting on conditions: a test polls what it expects, never sleeps a fixed
// time; the bound only catches hangs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace zvt {

// Milliseconds of the monotonic clock.
inline int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Polls `cond` until it holds or `ms` passed; true when it held.
inline bool eventually(const std::function<bool()> &cond, int ms = 20000) {
    const int64_t end = now_ms() + ms;
    while (now_ms() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
}

// Polls `cond` for `ms`; true when it held every time. For "nothing more
// happens" checks: the window is what the test observes.
inline bool stays(const std::function<bool()> &cond, int ms) {
    const int64_t end = now_ms() + ms;
    while (now_ms() < end) {
        if (!cond()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
}

}  // namespace zvt
