// Test rig of the client tests: the stack started on a station file naming
// iedsim processes (zvt/iedsim.h), its callbacks recorded, and requests
// waited for with a generous bound.
#pragma once

#include "zorvan/zorvan_api.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zvt/files.h"
#include "zvt/iedsim.h"
#include "zvt/wait.h"

namespace zvt {

// Standard error of this process into a file while it lives, with the
// stack's diagnostics switched on (the test environment quiets them).
class StackLog {
public:
    explicit StackLog(const std::string &path) : path_(path) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        ::close(fd);
        const char *q = std::getenv("ZORVAN_QUIET");
        quiet_ = q != nullptr;
        ::unsetenv("ZORVAN_QUIET");
    }
    ~StackLog() {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        if (quiet_) ::setenv("ZORVAN_QUIET", "1", 1);
    }
    std::string text() const { return file_text(path_); }

private:
    std::string path_;
    int saved_ = -1;
    bool quiet_ = false;
};

// Everything the stack called back, in order.
struct Events {
    std::mutex m;
    std::vector<std::string> channel;  // "up 0 A", "down 0 B"
    struct Report {
        std::string rpt_id;
        int srv;
        std::vector<std::string> values;  // first primitive of each member, as text
        std::vector<int> reasons;
        std::vector<AI_OBJ_ID> ids;
        size_t completions_before = 0;
        size_t submitted_before = 0;
    };
    std::vector<Report> reports;
    std::vector<std::thread::id> threads;

    static Events &get() {
        static Events e;
        return e;
    }
    void clear() {
        std::lock_guard<std::mutex> l(m);
        channel.clear();
        reports.clear();
    }
    size_t count(const std::string &what) {
        std::lock_guard<std::mutex> l(m);
        size_t n = 0;
        for (auto &c : channel) n += c == what;
        return n;
    }
    std::vector<std::string> channels() {
        std::lock_guard<std::mutex> l(m);
        return channel;
    }
    size_t report_count() {
        std::lock_guard<std::mutex> l(m);
        return reports.size();
    }
};

inline void on_up(ST_INT srv, AC_CHANNEL ch) {
    std::lock_guard<std::mutex> l(Events::get().m);
    Events::get().channel.push_back("up " + std::to_string(srv) + " " + char('A' + int(ch)));
}
inline void on_down(ST_INT srv, AC_CHANNEL ch) {
    std::lock_guard<std::mutex> l(Events::get().m);
    Events::get().channel.push_back("down " + std::to_string(srv) + " " + char('A' + int(ch)));
}
size_t completions_seen();
inline std::atomic<size_t> g_submitted{0};  // requests a flooding test has queued
inline std::string prim_text(const AI_PRIM_VAL &p) {
    char text[AI_VALUE_TEXT_LEN] = {};
    if (ai_prim_value_to_str(p.type, p.data, text) != 0) return "?";
    return text;
}
inline void on_report(ST_UCHAR *rpt_id, ST_INT n, AI_OBJ_VAL *vals, ST_BOOLEAN *, AC_REPORT_REASON *reasons,
                      ST_INT srv) {
    Events::Report r;
    r.rpt_id = reinterpret_cast<const char *>(rpt_id);
    r.srv = srv;
    for (int k = 0; k < n; ++k) {
        r.values.push_back(vals[k].prim_num > 0 ? prim_text(vals[k].prim_vals[0]) : "");
        r.reasons.push_back(reasons ? int(reasons[k]) : -1);
        r.ids.push_back(vals[k].obj_id);
    }
    r.submitted_before = g_submitted.load();
    r.completions_before = completions_seen();
    std::lock_guard<std::mutex> l(Events::get().m);
    Events::get().reports.push_back(std::move(r));
}

// The stack started on a station file for the given servers.
class Stack {
public:
    struct Srv {
        std::string ied;
        uint16_t a, b;
        std::string keys = {};  // more lines of the [ied] section ("password = x\n")
    };
    Stack(const std::string &dir, const std::vector<Srv> &servers,
          const std::string &scl = std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd") {
        path = dir + "/station.ini";
        std::ofstream f(path);
        f << "[station]\nscl = " << scl << "\n";
        for (auto &s : servers)
            f << "[ied " << s.ied << "]\naddr_a = 127.0.0.1:" << s.a << "\naddr_b = 127.0.0.2:" << s.b << "\n"
              << s.keys;
        f.close();
        Events::get().clear();
        u_chnl_connect_app(on_up);
        u_chnl_disconnect_app(on_down);
        u_ai_c_rpt_app(on_report);
        ok = ai_init_envir(path.c_str()) == 0 && ac_init_srvm() == 0;
    }
    ~Stack() { ai_uninit_envir(); }
    AI_IED_CTRL *model(int srv = 0) { return ac_get_srvm_ied(srv); }
    AI_OBJ_ID id(const std::string &ref, int srv = 0) { return ai_obj_ref_to_id(model(srv), ref.c_str()); }
    // Text of the first primitive of an object in the model.
    std::string value(const std::string &ref, int srv = 0) {
        AI_OBJ_VAL v{};
        if (ai_read_obj_primVals(id(ref, srv), model(srv), &v) != 0 || v.prim_num < 1) return "<none>";
        std::string t = prim_text(v.prim_vals[0]);
        ai_cleanup_objVals(&v);
        return t;
    }
    bool ok = false;
    std::string path;
};

// The rig of most client tests: one iedsim process in a folder of the
// test's own and the stack on it. Members go in reverse order: the stack
// first, then iedsim, then the folder.
class OneDevice {
protected:
    // The folder, with `files` for iedsim below it.
    void make_dir(const std::string &tag) {
        dir = TempDir(tag);
        files = dir.sub("files");
    }
    // iedsim serving `ied` (more options in `extra`) and the stack on it.
    void start_device(const std::string &ied, std::vector<std::string> extra = {},
                      const std::string &scl = std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd") {
        if (dir.empty()) make_dir("dev");
        sim = std::make_unique<Sim>(ied, 0, 0, files, std::move(extra));
        stack = std::make_unique<Stack>(dir, std::vector<Stack::Srv>{{ied, sim->port_a, sim->port_b}}, scl);
        ASSERT_TRUE(stack->ok);
    }
    // The same with channel A kept connected, once it is up.
    void connect_device(const std::string &ied, std::vector<std::string> extra = {},
                        const std::string &scl = std::string(ZV_SAMPLE_STATION_DIR) + "/sample.scd") {
        ASSERT_NO_FATAL_FAILURE(start_device(ied, std::move(extra), scl));
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        ASSERT_TRUE(eventually([] { return Events::get().count("up 0 A") >= 1; }));
    }

    TempDir dir;
    std::string files;
    std::unique_ptr<Sim> sim;
    std::unique_ptr<Stack> stack;
};

// Outcome of requests: completion records keyed by the request's user tag.
struct Done {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::pair<int, int>> results;  // (op, result)
    std::vector<std::string> notes;
    std::vector<std::thread::id> threads;
    static Done &get() {
        static Done d;
        return d;
    }
    void clear() {
        std::lock_guard<std::mutex> l(m);
        results.clear();
        notes.clear();
        threads.clear();
    }
    size_t size() {
        std::lock_guard<std::mutex> l(m);
        return results.size();
    }
    void add(AC_REQ_CTRL *c, std::string note = {}) {
        std::lock_guard<std::mutex> l(m);
        results.emplace_back(int(c->op), c->result);
        notes.push_back(std::move(note));
        threads.push_back(std::this_thread::get_id());
        cv.notify_all();
    }
};

// The values of object `id` that data-change reports carried, in order.
inline std::vector<std::string> changed_values(AI_OBJ_ID id) {
    std::vector<std::string> vals;
    std::lock_guard<std::mutex> l(Events::get().m);
    for (auto &r : Events::get().reports)
        for (size_t k = 0; k < r.ids.size(); ++k)
            if (r.ids[k] == id && r.reasons[k] == RPT_REASON_DCHG) vals.push_back(r.values[k]);
    return vals;
}

// Waits for the report of value `n` of object `id`, then checks that the
// values 1 .. n came each once, in order (nothing lost or repeated).
inline void expect_each_value_once(AI_OBJ_ID id, int n) {
    ASSERT_TRUE(eventually([&] {
        auto v = changed_values(id);
        return !v.empty() && v.back() == std::to_string(n);
    }));
    std::vector<std::string> want;
    for (int v = 1; v <= n; ++v) want.push_back(std::to_string(v));
    EXPECT_EQ(changed_values(id), want);
}

inline void done_plain(AC_REQ_CTRL *c) { Done::get().add(c); }
inline size_t completions_seen() { return Done::get().size(); }

// Reads one object on the active channel and waits for the completion.
inline int read_and_wait(AI_OBJ_ID id, int timeout = 15, int srv = 0) {
    Done::get().clear();
    AI_OBJ_ID ids[1] = {id};
    AC_READ_REQ_INFO r{ids, 1, done_plain};
    if (ac_read_obj_value(srv, &r, timeout, nullptr) != 0) return -1;
    if (!eventually([] { return Done::get().size() == 1; }, (timeout + 10) * 1000)) return -2;
    return Done::get().results[0].second;
}

}  // namespace zvt
