// The application's callbacks, as registered through the u_* operations.
#pragma once
#include <atomic>
#include "zorvan/ac_req.h"

namespace zv {

struct AppCallbacks {
    std::atomic<U_AI_C_RPT_FUN> report{nullptr};
    std::atomic<U_CHNL_FUN> connected{nullptr};
    std::atomic<U_CHNL_FUN> disconnected{nullptr};
    std::atomic<U_SRV_REFRESHED_FUN> refreshed{nullptr};
};

// Process-wide registry; the pointers may be read from any stack thread.
AppCallbacks &app_callbacks();

}  // namespace zv
