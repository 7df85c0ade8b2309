// Inside the client: the network side's records and the request jobs.
// Everything here is touched only with the engine's network lock held (see
// Engine), except what is marked atomic or "guarded by".
#pragma once

#include "base/unique_fd.h"
#include "client.h"
#include "iso/association.h"
#include "mms/pdu.h"
#include "model/station.h"
#include "tls/stream.h"

#include <poll.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
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

// A thread's requests, for wait_completion: counted up when the thread's
// request is queued (by that thread only), down under the network lock once
// its completion has run.
struct Waiter {
    std::atomic<int64_t> outstanding{0};
    bool sleeping = false;  // guarded by the network lock: waiting on guest_cv_
    // Notified when `outstanding` comes to 0, for a wait that finds no
    // engine any more (stopped by a completion still running elsewhere).
    std::mutex m;
    std::condition_variable none_left;
};

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
    int64_t deadline = 0;  // mono ms
    bool finished = false;
    Channel *channel = nullptr;      // while running
    uint32_t pending_invoke = 0;     // 0: nothing in flight
    std::shared_ptr<Waiter> waiter;  // the submitting thread's (not a worker's)

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

// TlsHandshake only for a server with TLS (between the TCP connect and the
// association).
enum class Phase { Idle, TcpConnecting, TlsHandshake, Associating, Up, Concluding, Releasing };

struct Channel {
    int srv = 0;
    AC_CHANNEL which = AC_CHANNEL_A;
    model::NetAddress addr;
    std::atomic<bool> keep{false};
    std::atomic<int> state{CHNL_STATE_UNCONNECTED};

    Phase phase = Phase::Idle;
    UniqueFd fd;
    std::unique_ptr<tls::Stream> tls;  // TLS session on fd (servers with TLS), before assoc
    std::unique_ptr<iso::ClientAssociation> assoc;
    int64_t next_attempt = 0;  // mono ms of the next connect attempt
    int backoff_ms = 0;
    int64_t phase_deadline = 0;  // connecting / releasing give up at this time
    uint32_t next_invoke = 1;
    // Confirmed requests in flight: invoke id -> job (null: our probe). At
    // most max_outstanding and the probe, so a short list searched in
    // place; like `running`, it keeps its storage from one request to the
    // next.
    std::vector<std::pair<uint32_t, Job *>> inflight;
    std::vector<Job *> running;  // jobs started on this channel, in start order
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
    // Report settings (OptFlds, TrgOps, IntgPd) a block's device refused to
    // take: not asked for again on this association, so that enabling a
    // block we hold already does not turn it off and on for nothing.
    std::map<AI_OBJ_ID, std::set<std::string>> refused_settings;
    std::vector<uint8_t> local_ip;
    std::string last_refusal;  // the association failure last logged; cleared when up

    // The entry of invoke id `id` in `inflight`, or inflight.end().
    std::vector<std::pair<uint32_t, Job *>>::iterator find_inflight(uint32_t id) {
        auto it = inflight.begin();
        while (it != inflight.end() && it->first != id) ++it;
        return it;
    }
    void drop_inflight(uint32_t id) {
        auto it = find_inflight(id);
        if (it != inflight.end()) inflight.erase(it);
    }
};

// Buffered report control blocks: where to resume, and entries already seen.
struct RcbTrack {
    std::vector<uint8_t> last_entry;  // empty: none received yet
    // Recent EntryIDs delivered (a ring, see reports.cpp), for repeats.
    std::vector<std::array<uint8_t, 9>> seen;
    size_t seen_next = 0;
    // A segmented entry under way: its EntryID and the SubSeqNum expected next.
    std::vector<uint8_t> partial;
    uint64_t next_segment = 0;
};

// Refused reports of a server: lines logged in the current window, and those
// only counted once the window had its share (reports.cpp).
struct RefusedReports {
    int64_t window_start = 0;
    int logged = 0;
    uint64_t unlogged = 0;
};

struct ServerCtx {
    int index = 0;
    model::Server *server = nullptr;
    Channel ch[2];
    std::deque<std::unique_ptr<Job>> waiting;  // not started yet
    std::vector<std::unique_ptr<Job>> active;  // started, not finished
    // Report blocks this client enabled: (channel, RptID) -> block.
    std::map<std::pair<int, std::string>, AI_OBJ_ID> enabled;
    std::map<AI_OBJ_ID, RcbTrack> tracks;
    RefusedReports refused_reports;
    // Control blocks whose layout on the device differs from the SCL's,
    // already reported once.
    std::set<AI_OBJ_ID> layout_warned;
    // The device's own description (model = device or check): taken once
    // for device, at each association for check; one browse at a time.
    bool described = false;
    bool describing = false;
    // TLS context of both channels (server->tls.on), made at the first
    // connect; made again after it failed (a file may have been mended).
    tls::Context tls_ctx;
    // "server 0 (CMIED)" for log lines.
    std::string label() const;
};

// Application code to run: a completion, or a channel/report callback.
struct CallbackItem {
    std::unique_ptr<Job> job;  // a completion, or
    std::function<void()> fn;  // a channel/report callback
};

// Two worker threads share the work. At any time one of them runs the
// network (owner_): poll() over the sockets and the wake-up eventfd, the
// channel state machines, the request jobs, the reports. Application code
// (completions, channel and report callbacks) runs on one worker at a time
// (deliverer_), in the order the network side queued it, with no stack lock
// held: normally the owner itself, right after the events that produced it,
// so a request costs one wake-up of the owner (its answer) and one of the
// application. The other worker stands by; it takes the network over when the
// owner has been held in application code for a whole standby period (or
// stop() was called from there), so a slow callback does not stall the
// sockets.
//
// An application thread that waits for its own request (wait_completion)
// is a guest: while it waits and the network is free, it runs the network
// itself (poll(), the answers, the queued application code in order) and the
// workers stand by, so the answer wakes the thread that waits for it and no
// other. A worker that owns the network hands it over at its next pass; when
// the guest leaves, the network stays free until a worker's next look (a few
// milliseconds), so a caller that reads again at once takes it back without
// waking anyone.
//
// The network side (servers_, their channels and jobs, the poll set, the
// callback queue) is guarded by mu_. The owner holds it except while in
// poll() and while it runs application code; a thread that finds it free
// (submit) starts its request itself and sends it, without waking anyone.
class Engine {
public:
    explicit Engine(model::Station *st);
    ~Engine();
    bool start();
    void stop();

    // True on the engine's workers (where application callbacks run).
    bool on_worker_thread() const;
    int server_count() const { return int(servers_.size()); }
    ServerCtx *server(int i) { return i >= 0 && i < server_count() ? servers_[size_t(i)].get() : nullptr; }
    model::Station *station() const { return station_; }

    // Any thread: hands a job to the network side (sent at once when the
    // network side is free).
    int submit(int srv, std::unique_ptr<Job> job, int timeout_s, AC_REQ_CTRL **out);
    // Any thread: asks the owner for a pass (keep flags changed); writes the
    // eventfd only when the owner sleeps in poll().
    void wake();
    // An application thread (not from a callback): waits until the
    // completions of every request it submitted have run, or `timeout_ms`
    // passed; true when none is left. Meanwhile the thread runs the network itself when it is
    // free (see Engine), so the answer wakes the thread that waits for it.
    bool wait_completion(int timeout_ms);

    // Network side (mu_ held).
    bool send_pdu(Channel &ch, const mms::Pdu &pdu);
    uint32_t send_request(Channel &ch, Job *job, mms::ConfirmedRequestService svc);
    void job_finished(ServerCtx &s, Job *job);
    void post(std::function<void()> fn);
    void lose(ServerCtx &s, Channel &ch, const std::string &why);
    void refused(ServerCtx &s, Channel &ch, const std::string &why);
    // Callback thread: tells the application that server `srv`'s model (or
    // its check) is new; kept until the application's function is there.
    void refreshed_event(int srv);

private:
    void work(int me);
    void net_pass(std::unique_lock<std::mutex> &lk, int64_t until = INT64_MAX);
    void deliver(std::unique_lock<std::mutex> &lk, int me);
    void refresh_poll_set();
    void shut_down();
    void drain_submissions();
    void service_channel(ServerCtx &s, Channel &ch, int64_t now);
    void connect(ServerCtx &s, Channel &ch, int64_t now);
    void on_writable(ServerCtx &s, Channel &ch);
    void start_tls(ServerCtx &s, Channel &ch);
    void drive_handshake(ServerCtx &s, Channel &ch);
    void start_association(ServerCtx &s, Channel &ch);
    ssize_t receive(Channel &ch, uint8_t *buf, size_t cap, std::string &why);
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
    UniqueFd wake_fd_;
    std::atomic<bool> stopping_{false};
    std::thread workers_[2];

    std::mutex sub_mutex_;
    std::vector<std::pair<int, std::unique_ptr<Job>>> submissions_;  // guarded by sub_mutex_

    std::mutex mu_;                       // the network side, see above
    std::condition_variable standby_cv_;  // the standing-by worker waits here
    std::condition_variable guest_cv_;    // waiting application threads (guests) wait here
    int owner_ = -1;                      // guarded by mu_: worker (or kGuest) running the network
    int deliverer_ = -1;                  // guarded by mu_: worker (or kGuest) running application code
    int guests_ = 0;                      // guarded by mu_: threads in wait_completion
    const Waiter *guest_ = nullptr;       // guarded by mu_: the guest that owns the network
    uint64_t delivered_ = 0;              // guarded by mu_: callbacks started so far
    std::deque<CallbackItem> cbq_;        // guarded by mu_
    bool net_done_ = false;               // guarded by mu_: stopped, sockets closed
    std::atomic<bool> polling_{false};    // the owner is in (or entering) poll()
    std::atomic<bool> attention_{false};  // work for the owner's next pass
    // The owner's poll set, rebuilt only when a socket opened or closed
    // (guarded by mu_; entry 0 is the eventfd).
    std::vector<pollfd> fds_;
    std::vector<Channel *> fd_chans_;
    std::vector<ServerCtx *> fd_owners_;
    bool fds_dirty_ = true;
    std::vector<uint8_t> pdu_buf_;  // guarded by mu_: send_pdu's encoding
    int64_t next_walk_ = 0;         // guarded by mu_: next look at every channel and deadline
    int64_t stop_deadline_ = 0;     // guarded by mu_

    std::atomic<bool> quiet_{false};  // no channel callbacks once stopping
    // Channel events waiting for the application's function: (srv, channel)
    // -> connected. Touched only by the delivering worker.
    std::map<std::pair<int, int>, bool> deferred_;
    std::atomic<bool> retry_deferred_{false};  // a retry of deferred_ is queued or due
    friend class Job;
};

// Network thread, when a channel's association is up: starts the browse of
// a server whose model comes from the device (browse.cpp).
void start_browse(Engine &e, ServerCtx &s, Channel &ch);

// The running engine, or null.
std::shared_ptr<Engine> current_engine();

// Fixed-size text field from a string, cut to fit, NUL-terminated.
void copy_name(char *dst, size_t cap, const std::string &src);

}  // namespace zv::client
