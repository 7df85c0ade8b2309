// Inside the client: the network thread's records and the request jobs.
// Everything here is touched by the network thread only, except what is
// marked atomic or "guarded by".
#pragma once

#include "client.h"
#include "iso/association.h"
#include "mms/pdu.h"
#include "model/station.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zv::client {

int64_t mono_ms();
// Diagnostics of the stack (standard error, one line each).
void log_line(const std::string &text);

struct Channel;
struct ServerCtx;
class Engine;

// What a job may do while it runs on the network thread.
struct JobCtx {
    Engine &engine;
    ServerCtx &server;
    Channel &channel;
    model::IedModel &model;
};

// One asynchronous request: copies of the caller's record, the request
// control handed to the completion, and a small state machine that sends one
// confirmed request at a time.
class Job {
public:
    virtual ~Job();
    AC_REQ_CTRL ctrl{};
    AC_CHANNEL forced = AC_CHANNEL_UNKNOWN;
    int64_t deadline = 0;        // mono ms
    bool finished = false;
    Channel *channel = nullptr;  // while running
    uint32_t pending_invoke = 0; // 0: nothing in flight

    // First step, on the channel chosen for the job.
    virtual void start(JobCtx &c) = 0;
    // The answer to the confirmed request in flight (response, error or reject).
    virtual void on_answer(JobCtx &c, const mms::Pdu &pdu) = 0;
    // A confirmed request of the server (ObtainFile pulls); true if answered.
    virtual bool on_server_request(JobCtx &, const mms::ConfirmedRequest &) { return false; }
    // An InformationReport that may belong to the job (LastApplError, command
    // terminations); true if taken. The job may finish only when it takes it.
    virtual bool on_information(JobCtx &, const mms::InformationReport &) { return false; }
    // Last chance to tidy up on the network thread when the job ends (files).
    virtual void on_end() {}
    // Frees what the request control points to, after the completion ran.
    virtual void release() {}

protected:
    // Sends one confirmed request for this job; false if it could not go out.
    bool send(JobCtx &c, mms::ConfirmedRequestService svc);
    void finish(JobCtx &c, int result);
};

enum class Phase { Idle, TcpConnecting, Associating, Up, Concluding, Releasing };

struct Channel {
    int srv = 0;
    AC_CHANNEL which = AC_CHANNEL_A;
    model::NetAddress addr;
    std::atomic<bool> keep{false};
    std::atomic<int> state{CHNL_STATE_UNCONNECTED};

    Phase phase = Phase::Idle;
    int fd = -1;
    std::unique_ptr<iso::ClientAssociation> assoc;
    int64_t next_attempt = 0;     // mono ms of the next connect attempt
    int backoff_ms = 0;
    int64_t phase_deadline = 0;   // connecting / releasing give up at this time
    uint32_t next_invoke = 1;
    std::map<uint32_t, Job *> inflight;   // invoke id -> job (null: our probe)
    std::list<Job *> running;             // jobs started on this channel
    int max_outstanding = 1;
    size_t max_pdu = 65000;
    int64_t last_rx = 0;
    uint32_t probe_invoke = 0;
    int64_t probe_deadline = 0;
    bool up_reported = false;
    std::string last_error;
    // Per association (cleared when it ends): the device's own types of the
    // objects holding control blocks, from GetVariableAccessAttributes (null:
    // the device did not say; the model's layout is used), the URCBs this
    // association reserved, and our address as the device sees it (Owner).
    std::map<AI_OBJ_ID, std::shared_ptr<const mms::TypeDescription>> types;
    std::set<AI_OBJ_ID> reserved;
    std::vector<uint8_t> local_ip;
    std::string last_refusal;   // the association failure last logged; cleared when up
};

// Buffered report control blocks: where to resume, and entries already seen.
struct RcbTrack {
    std::vector<uint8_t> last_entry;         // empty: none received yet
    std::deque<std::vector<uint8_t>> seen;   // recent EntryIDs, for duplicates
};

struct ServerCtx {
    int index = 0;
    model::Server *server = nullptr;
    Channel ch[2];
    std::deque<std::unique_ptr<Job>> waiting;   // not started yet
    std::vector<std::unique_ptr<Job>> active;   // started, not finished
    // Report blocks this client enabled: (channel, RptID) -> block.
    std::map<std::pair<int, std::string>, AI_OBJ_ID> enabled;
    std::map<AI_OBJ_ID, RcbTrack> tracks;
    // Control blocks whose layout on the device differs from the SCL's,
    // already reported once.
    std::set<AI_OBJ_ID> layout_warned;
    // "server 0 (CMIED)" for log lines.
    std::string label() const;
};

// Work for the callback thread.
struct CallbackItem {
    std::unique_ptr<Job> job;          // a completion, or
    std::function<void()> fn;          // a channel/report callback
};

class Engine {
public:
    explicit Engine(model::Station *st);
    ~Engine();
    bool start();
    void stop();

    bool on_callback_thread() const { return cb_id_ == std::this_thread::get_id(); }
    int server_count() const { return int(servers_.size()); }
    ServerCtx *server(int i) { return i >= 0 && i < server_count() ? servers_[size_t(i)].get() : nullptr; }
    model::Station *station() const { return station_; }

    // Any thread: hands a job to the network thread.
    int submit(int srv, std::unique_ptr<Job> job, int timeout_s, AC_REQ_CTRL **out);
    // Any thread: wakes the network thread (keep flags changed).
    void wake();

    // Network thread.
    bool send_pdu(Channel &ch, const mms::Pdu &pdu);
    uint32_t send_request(Channel &ch, Job *job, mms::ConfirmedRequestService svc);
    void job_finished(ServerCtx &s, Job *job);
    void post(std::function<void()> fn);
    void lose(ServerCtx &s, Channel &ch, const std::string &why);
    void refused(ServerCtx &s, Channel &ch, const std::string &why);

private:
    void net_loop();
    void cb_loop();
    void drain_submissions();
    void service_channel(ServerCtx &s, Channel &ch, int64_t now);
    void connect(ServerCtx &s, Channel &ch, int64_t now);
    void on_writable(ServerCtx &s, Channel &ch);
    void on_readable(ServerCtx &s, Channel &ch);
    void on_events(ServerCtx &s, Channel &ch, std::vector<iso::Event> &events);
    void on_mms(ServerCtx &s, Channel &ch, const iso::Bytes &bytes);
    void went_up(ServerCtx &s, Channel &ch, const iso::Bytes &initiateResponse);
    void close_channel(ServerCtx &s, Channel &ch, bool retry);
    void begin_release(ServerCtx &s, Channel &ch);
    void schedule(ServerCtx &s, int64_t now);
    void check_timeouts(ServerCtx &s, int64_t now);
    void fail_running(ServerCtx &s, Channel &ch);
    void flush(Channel &ch);
    void finish_all();
    void on_report(ServerCtx &s, Channel &ch, const mms::InformationReport &rep);
    void channel_event(int srv, AC_CHANNEL ch, bool up);
    void deliver_deferred();

    model::Station *station_;
    std::vector<std::unique_ptr<ServerCtx>> servers_;
    int wake_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread net_;
    std::thread cb_;
    std::thread::id cb_id_;

    std::mutex sub_mutex_;
    std::vector<std::pair<int, std::unique_ptr<Job>>> submissions_;   // guarded by sub_mutex_

    std::mutex cb_mutex_;
    std::condition_variable cb_cv_;
    std::deque<CallbackItem> cb_queue_;   // guarded by cb_mutex_
    bool cb_done_ = false;                // guarded by cb_mutex_
    std::atomic<bool> quiet_{false};      // no channel callbacks once stopping
    // Channel events waiting for the application's function: (srv, channel)
    // -> connected. Callback thread only.
    std::map<std::pair<int, int>, bool> deferred_;
    friend class Job;
};

// The running engine, or null.
std::shared_ptr<Engine> current_engine();

// Fixed-size text field from a string, cut to fit, NUL-terminated.
void copy_name(char *dst, size_t cap, const std::string &src);

}  // namespace zv::client
