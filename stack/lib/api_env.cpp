// Environment, threads, callback registration and logging.
#include "base/log.h"

#include <pthread.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "client/callbacks.h"
#include "client/client.h"
#include "export.h"
#include "model/station.h"

namespace zv {

namespace {

// Threads started for the application, by the handle gs_start_thread gave out.
struct ThreadTable {
    std::mutex mutex;
    std::map<ST_THREAD_HANDLE, pthread_t> threads;  // guarded by mutex
    ST_THREAD_HANDLE next = 1;                      // guarded by mutex
};

ThreadTable &thread_table() {
    static ThreadTable t;
    return t;
}

}  // namespace
}  // namespace zv

// Reads the station file: `cfg` if given, else $ZORVAN_STATION, else ./station.ini.
// The stack's diagnostics go to the day's zorvan<date>.log in the working
// directory from here on, beside standard error.
ZV_EXPORT ST_RET ai_init_envir(const char *cfg) {
    zv::log::to_daily_file(".");
    return zv::model::env_init(cfg) == 0 ? 0 : 1;
}
// Loads the SCL files and builds the model of every configured server, then
// starts the client's threads for them (no channel connects until asked).
ZV_EXPORT ST_RET ac_init_srvm(void) {
    if (zv::model::env_load_servers() != 0) return 1;
    if (zv::client::start(zv::model::env_station()) != 0) return 1;
    return 0;
}
// Releases the channels and ends the client's threads (pending requests
// complete with a failure), then closes the environment. Server models stay
// readable after this: the archiving worker may still be reading them while
// the application shuts down.
ZV_EXPORT ST_RET ai_uninit_envir(void) {
    zv::client::stop();
    return zv::model::env_uninit() == 0 ? 0 : 1;
}

ZV_EXPORT ST_RET gs_start_thread(GS_THREAD_FUN fn, void *arg, ST_THREAD_HANDLE *handle, ST_THREAD_ID *id) {
    if (fn == nullptr) return 1;
    pthread_t t;
    if (pthread_create(&t, nullptr, fn, arg) != 0) return 1;
    auto &tt = zv::thread_table();
    std::lock_guard<std::mutex> lock(tt.mutex);
    ST_THREAD_HANDLE h = tt.next++;
    tt.threads[h] = t;
    if (handle) *handle = h;
    if (id) *id = h;
    return 0;
}

// Waits for the thread to end; its function must be on its way out.
ZV_EXPORT ST_RET gs_close_thread(ST_THREAD_HANDLE handle) {
    pthread_t t;
    {
        auto &tt = zv::thread_table();
        std::lock_guard<std::mutex> lock(tt.mutex);
        auto it = tt.threads.find(handle);
        if (it == tt.threads.end()) return 1;
        t = it->second;
        tt.threads.erase(it);
    }
    if (pthread_equal(t, pthread_self())) return pthread_detach(t) == 0 ? 0 : 1;
    return pthread_join(t, nullptr) == 0 ? 0 : 1;
}

ZV_EXPORT ST_RET u_ai_c_rpt_app(U_AI_C_RPT_FUN fn) {
    zv::app_callbacks().report = fn;
    return 0;
}
ZV_EXPORT ST_RET u_chnl_connect_app(U_CHNL_FUN fn) {
    zv::app_callbacks().connected = fn;
    return 0;
}
ZV_EXPORT ST_RET u_chnl_disconnect_app(U_CHNL_FUN fn) {
    zv::app_callbacks().disconnected = fn;
    return 0;
}
ZV_EXPORT ST_RET u_srv_refreshed_app(U_SRV_REFRESHED_FUN fn) {
    zv::app_callbacks().refreshed = fn;
    return 0;
}

ZV_EXPORT void user_log_put(const char *text) {
    if (text) std::fprintf(stderr, "zorvan: %s\n", text);
}
