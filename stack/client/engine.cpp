#include "engine.h"

#include "base/log.h"

#include "callbacks.h"
#include "tls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace zv::client {

namespace {

// Reconnection back-off: first retry soon, then doubling up to the bound.
constexpr int kFirstBackoffMs = 250;
constexpr int kMaxBackoffMs = 8000;
// TCP connect plus association, and release, must finish in this time.
constexpr int kConnectTimeoutMs = 5000;
constexpr int kReleaseTimeoutMs = 2000;
// A channel that received nothing for this long is probed with Identify;
// no answer within the same time is a dead peer.
constexpr int kIdleProbeMs = 10000;
// Proposed in the MMS initiate (ISO 9506-2 8.2.1).
constexpr int32_t kLocalDetail = 65000;
constexpr int16_t kOutstanding = 10;
constexpr size_t kRecvChunk = 65536;
constexpr size_t kMaxTlsRecord = 16384;  // plaintext of one record (RFC 8446 5.1)
// Every channel and request deadline is looked at this often (and at once
// when something asks for it).
constexpr int kWalkMs = 50;
// A worker held this long in one application callback while it owned the
// network hands the network to the other worker.
constexpr auto kStandbyPeriod = std::chrono::milliseconds(100);

// A guest's owner_ and deliverer_ (the workers are 0 and 1).
constexpr int kGuest = 2;
// How often a standing-by worker looks at a network a guest runs or left.
constexpr auto kGuestStandbyPeriod = std::chrono::milliseconds(10);

// The engine whose worker this thread is, if any.
thread_local const Engine *t_worker_of = nullptr;
// This thread is waiting in wait_completion (callbacks it runs must not wait).
thread_local bool t_guest = false;

// The calling thread's count of requests, made at its first request.
const std::shared_ptr<Waiter> &this_thread_waiter() {
    thread_local std::shared_ptr<Waiter> w = std::make_shared<Waiter>();
    return w;
}

std::string errno_text(const char *call) { return std::string(call) + ": " + std::strerror(errno); }

// The association's addressing: the ISO layer's defaults, then what the
// station gives for this server (the device on this network, this client,
// the password).
iso::ClientConfig iso_config(const model::Server &srv, AC_CHANNEL which) {
    iso::ClientConfig cfg;
    auto apply = [](const model::IsoAddress &a, iso::Selectors &sel, iso::AeTitle &title) {
        if (a.tsel) sel.tsap = *a.tsel;
        if (a.ssel) sel.ssel = *a.ssel;
        if (a.psel) sel.psel = *a.psel;
        if (a.ap_title) title.apTitle = ber::Oid{*a.ap_title};
        if (a.ae_qualifier) title.aeQualifier = *a.ae_qualifier;
        if (a.ap_invoke) title.apInvocationId = *a.ap_invoke;
        if (a.ae_invoke) title.aeInvocationId = *a.ae_invoke;
    };
    apply(which == AC_CHANNEL_B ? srv.called_b : srv.called_a, cfg.remote, cfg.called);
    apply(srv.calling, cfg.local, cfg.calling);
    cfg.password = srv.password;
    return cfg;
}

}  // namespace

int64_t mono_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void log_line(const std::string &text) { zv::log::line(text); }

std::string ServerCtx::label() const {
    return "server " + std::to_string(index) + " (" +
           (server && server->model ? server->model->name() : std::string("?")) + ")";
}

void copy_name(char *dst, size_t cap, const std::string &src) {
    if (cap == 0) return;
    const size_t n = std::min(src.size(), cap - 1);
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// ---- jobs -------------------------------------------------------------------

Job::~Job() = default;

bool Job::send(JobCtx &c, mms::ConfirmedRequestService svc) {
    pending_invoke = c.engine.send_request(c.channel, this, std::move(svc));
    if (pending_invoke == 0) {
        finish(c, 1);
        return false;
    }
    return true;
}

void Job::finish(JobCtx &c, int result) {
    if (finished) return;
    ctrl.result = result;
    c.engine.job_finished(c.server, this);
}

// ---- engine -----------------------------------------------------------------

Engine::Engine(model::Station *st) : station_(st) {
    for (int i = 0; i < st->server_count(); ++i) {
        auto s = std::make_unique<ServerCtx>();
        s->index = i;
        s->server = st->server(i);
        s->ch[0].srv = s->ch[1].srv = i;
        s->ch[0].which = AC_CHANNEL_A;
        s->ch[1].which = AC_CHANNEL_B;
        s->ch[0].addr = s->server->a;
        s->ch[1].addr = s->server->b;
        servers_.push_back(std::move(s));
    }
}

Engine::~Engine() = default;

bool Engine::start() {
    wake_fd_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_fd_) {
        log_line(errno_text("eventfd"));
        return false;
    }
    for (int i = 0; i < 2; ++i) workers_[i] = std::thread([this, i] { work(i); });
    return true;
}

bool Engine::on_worker_thread() const { return t_worker_of == this; }

// Fails what is pending, releases the channels (bounded) and ends both
// workers. From a callback (a worker): the other worker shuts the network
// down, this one is left to finish the callbacks still queued (they run
// after the calling callback returns) and then ends on its own.
void Engine::stop() {
    quiet_ = true;
    {
        std::lock_guard<std::mutex> lock(sub_mutex_);
        stopping_ = true;
    }
    wake();
    {
        // A standing-by worker checks stopping_ under mu_ before it waits.
        std::lock_guard<std::mutex> lock(mu_);
    }
    standby_cv_.notify_all();
    guest_cv_.notify_all();
    const std::thread::id self = std::this_thread::get_id();
    for (std::thread &w : workers_) {
        if (!w.joinable()) continue;
        if (w.get_id() == self)
            w.detach();
        else
            w.join();
    }
}

void Engine::wake() {
    // Pairs with net_pass: it sets polling_ before it looks at attention_,
    // so either it sees the request or we see it polling.
    attention_.store(true);
    if (!polling_.load()) return;
    const uint64_t one = 1;
    if (wake_fd_) (void)!::write(wake_fd_.get(), &one, sizeof one);
}

int Engine::submit(int srv, std::unique_ptr<Job> job, int timeout_s, AC_REQ_CTRL **out) {
    if (server(srv) == nullptr) return 1;
    if (timeout_s <= 0) timeout_s = kDefaultTimeoutS;
    job->ctrl.srv_id = srv;
    job->ctrl.timeout = timeout_s;
    job->ctrl.chnl = AC_CHANNEL_UNKNOWN;
    job->ctrl.result = 1;
    const int64_t now = mono_ms();
    job->deadline = now + int64_t(timeout_s) * 1000;
    if (t_worker_of != this) job->waiter = this_thread_waiter();
    AC_REQ_CTRL *ctrl = &job->ctrl;
    // The network side free (its owner in poll() or in a callback): start
    // the job here, so the request leaves without a thread hop.
    std::unique_lock<std::mutex> net(mu_, std::try_to_lock);
    std::vector<std::pair<int, std::unique_ptr<Job>>> earlier;
    {
        // Under the lock that stop() takes to set stopping_: a request is
        // either refused here or answered by stop().
        std::lock_guard<std::mutex> lock(sub_mutex_);
        if (stopping_) return 1;
        if (job->waiter) ++job->waiter->outstanding;  // before any worker can end it
        if (!net.owns_lock())
            submissions_.emplace_back(srv, std::move(job));
        else if (!submissions_.empty())
            earlier.swap(submissions_);
    }
    if (out) *out = ctrl;
    if (!net.owns_lock()) {
        wake();
        return 0;
    }
    // Requests queued before this one go first; only their servers and this
    // one have new work (the owner schedules the others at its next pass).
    bool owner_needed = false;
    auto start_waiting = [&](ServerCtx &s) {
        schedule(s, now);
        for (Channel &ch : s.ch) owner_needed = owner_needed || (ch.assoc && ch.assoc->hasOutput());  // POLLOUT
    };
    for (auto &p : earlier) servers_[size_t(p.first)]->waiting.push_back(std::move(p.second));
    for (auto &p : earlier) start_waiting(*servers_[size_t(p.first)]);
    servers_[size_t(srv)]->waiting.push_back(std::move(job));
    start_waiting(*servers_[size_t(srv)]);
    // A job that ended at once has its completion queued: the owner delivers it.
    owner_needed = owner_needed || (!cbq_.empty() && deliverer_ < 0);
    net.unlock();
    if (owner_needed) wake();
    return 0;
}

// Network side, mu_ held.
void Engine::post(std::function<void()> fn) {
    CallbackItem it;
    it.fn = std::move(fn);
    cbq_.push_back(std::move(it));
}

// Delivering worker. A channel event that finds no application function
// registered yet (the application registers after it asked for the channels,
// and a loopback connection is quicker) is kept as the channel's state and
// handed over once the function is there; a connection that came and went
// meanwhile is not reported at all.
void Engine::channel_event(int srv, AC_CHANNEL ch, bool up) {
    const auto key = std::make_pair(srv, int(ch));
    U_CHNL_FUN f = up ? zv::app_callbacks().connected.load() : zv::app_callbacks().disconnected.load();
    auto it = deferred_.find(key);
    if (f == nullptr || it != deferred_.end()) {
        if (it != deferred_.end() && it->second != up)
            deferred_.erase(it);
        else
            deferred_[key] = up;
        deliver_deferred();
        retry_deferred_ = !deferred_.empty();  // tried again at the owner's next walk
        return;
    }
    f(srv, ch);
}

// Key of a refreshed event in deferred_ (beside channels A and B).
constexpr int kRefreshedKey = 2;

void Engine::refreshed_event(int srv) {
    deferred_[std::make_pair(srv, kRefreshedKey)] = true;
    deliver_deferred();
}

void Engine::deliver_deferred() {
    for (auto it = deferred_.begin(); it != deferred_.end();) {
        if (it->first.second == kRefreshedKey) {
            U_SRV_REFRESHED_FUN r = zv::app_callbacks().refreshed.load();
            if (r == nullptr) {
                ++it;
                continue;
            }
            const int srv = it->first.first;
            it = deferred_.erase(it);
            r(srv);
            continue;
        }
        U_CHNL_FUN f = it->second ? zv::app_callbacks().connected.load() : zv::app_callbacks().disconnected.load();
        if (f == nullptr) {
            ++it;
            continue;
        }
        const auto key = it->first;
        const bool up = it->second;
        it = deferred_.erase(it);
        f(key.first, AC_CHANNEL(key.second));
        (void)up;
    }
}

void Engine::work(int me) {
    t_worker_of = this;
    std::unique_lock<std::mutex> lk(mu_);
    uint64_t watched = ~uint64_t(0);  // the owner's callback seen running at our last look
    for (;;) {
        if (!cbq_.empty() && deliverer_ < 0) {
            deliver(lk, me);
            continue;
        }
        if (net_done_) break;  // what is still queued, the delivering worker runs
        // A guest waits (and is not held in its own callbacks): the network
        // is its to run.
        const bool guest_turn = guests_ > 0 && !stopping_ && deliverer_ != kGuest;
        if (owner_ == me && guest_turn) {
            owner_ = -1;
            guest_cv_.notify_all();
        }
        if (owner_ < 0 && !guest_turn) owner_ = me;
        if (owner_ == me) {
            net_pass(lk);
            continue;
        }
        // Standing by. The owner held in application code since our last
        // look (or asked to stop from there): the network is ours now.
        const bool held = deliverer_ >= 0 && deliverer_ == owner_;
        if (held && (stopping_ || delivered_ == watched)) {
            owner_ = me;
            watched = ~uint64_t(0);
            continue;
        }
        watched = held ? delivered_ : ~uint64_t(0);
        standby_cv_.wait_for(lk, owner_ < 0 || owner_ == kGuest ? kGuestStandbyPeriod : kStandbyPeriod);
    }
}

bool Engine::wait_completion(int timeout_ms) {
    if (t_worker_of == this || t_guest) return false;  // from a callback: it would wait for itself
    const std::shared_ptr<Waiter> keep = this_thread_waiter();
    Waiter &w = *keep;
    const int64_t deadline = mono_ms() + std::max(0, timeout_ms);
    t_guest = true;
    std::unique_lock<std::mutex> lk(mu_);
    ++guests_;
    bool got = false;
    for (;;) {
        if (w.outstanding.load() == 0) {
            got = true;
            break;
        }
        if (!cbq_.empty() && deliverer_ < 0) {
            deliver(lk, kGuest);
            continue;
        }
        const int64_t now = mono_ms();
        if (now >= deadline || (net_done_ && cbq_.empty() && deliverer_ < 0)) break;
        if (owner_ < 0 && !stopping_ && !net_done_) {
            owner_ = kGuest;
            guest_ = &w;
        }
        if (owner_ == kGuest && guest_ == &w) {
            net_pass(lk, deadline);
            continue;
        }
        // A worker runs the network: it hands it over at its next pass.
        if (owner_ >= 0 && owner_ != kGuest) wake();
        w.sleeping = true;
        guest_cv_.wait_until(lk, std::chrono::steady_clock::now() +
                                     std::chrono::milliseconds(std::min<int64_t>(kWalkMs, deadline - now)));
        w.sleeping = false;
    }
    if (owner_ == kGuest && guest_ == &w) {
        // Left free: a worker takes it at its next look, another guest now.
        owner_ = -1;
        guest_ = nullptr;
        if (guests_ > 1) guest_cv_.notify_all();
    }
    --guests_;
    lk.unlock();
    t_guest = false;
    return got;
}

// Runs the queued application code in order, without mu_, until the queue
// is empty (what the callbacks queue meanwhile included).
void Engine::deliver(std::unique_lock<std::mutex> &lk, int me) {
    deliverer_ = me;
    while (!cbq_.empty()) {
        CallbackItem it = std::move(cbq_.front());
        cbq_.pop_front();
        ++delivered_;
        lk.unlock();
        std::shared_ptr<Waiter> waiter;
        if (it.job) {
            if (it.job->ctrl.u_ac_req_done) it.job->ctrl.u_ac_req_done(&it.job->ctrl);
            it.job->release();
            waiter = std::move(it.job->waiter);
        } else if (it.fn) {
            it.fn();
        }
        it = CallbackItem{};
        lk.lock();
        if (waiter && --waiter->outstanding == 0) {
            if (waiter->sleeping) guest_cv_.notify_all();
            { std::lock_guard<std::mutex> w(waiter->m); }
            waiter->none_left.notify_all();
        }
    }
    deliverer_ = -1;
}

void Engine::job_finished(ServerCtx &s, Job *job) {
    job->finished = true;
    if (Channel *ch = job->channel) {
        if (job->pending_invoke) ch->drop_inflight(job->pending_invoke);
        auto r = std::find(ch->running.begin(), ch->running.end(), job);
        if (r != ch->running.end()) ch->running.erase(r);
        job->ctrl.chnl = ch->which;
    }
    job->pending_invoke = 0;
    job->on_end();
    std::unique_ptr<Job> owned;
    for (auto it = s.active.begin(); it != s.active.end(); ++it)
        if (it->get() == job) {
            owned = std::move(*it);
            s.active.erase(it);
            break;
        }
    if (!owned) {
        for (auto it = s.waiting.begin(); it != s.waiting.end(); ++it)
            if (it->get() == job) {
                owned = std::move(*it);
                s.waiting.erase(it);
                break;
            }
    }
    if (!owned) return;
    CallbackItem it;
    it.job = std::move(owned);
    cbq_.push_back(std::move(it));
}

bool Engine::send_pdu(Channel &ch, const mms::Pdu &pdu) {
    if (!ch.assoc) return false;
    // Encoded into the storage of the previous PDU (the association copies
    // it into its output as it frames it).
    ber::Writer w(std::move(pdu_buf_));
    mms::encode(w, pdu);
    pdu_buf_ = w.take();
    const std::vector<uint8_t> &b = pdu_buf_;
    if (b.size() > ch.max_pdu) {
        log_line("PDU of " + std::to_string(b.size()) + " octets exceeds the negotiated size " +
                 std::to_string(ch.max_pdu));
        return false;
    }
    if (!ch.assoc->sendData(iso::ByteView(b.data(), b.size()))) return false;
    flush(ch);
    return true;
}

uint32_t Engine::send_request(Channel &ch, Job *job, mms::ConfirmedRequestService svc) {
    if (ch.phase != Phase::Up) return 0;
    uint32_t id = ch.next_invoke++;
    if (ch.next_invoke == 0 || ch.next_invoke > 0x7FFFFFFF) ch.next_invoke = 1;
    if (!send_pdu(ch, mms::Pdu(mms::ConfirmedRequest{id, std::move(svc)}))) return 0;
    ch.inflight.emplace_back(id, job);
    return id;
}

void Engine::flush(Channel &ch) {
    while (ch.fd && ch.assoc && ch.assoc->hasOutput()) {
        const iso::ByteView out = ch.assoc->output();
        if (ch.tls) {
            size_t put = 0;
            const tls::Io r = ch.tls->write(out.data, out.size, put);
            if (r == tls::Io::Done) {
                ch.assoc->consumeOutput(put);
                continue;
            }
            // WantWrite: POLLOUT later; WantRead: after the next read.
            if (r == tls::Io::Failed || r == tls::Io::Closed) ch.last_error = ch.tls->error();
            return;  // the read side reports a loss
        }
        const ssize_t n = ::send(ch.fd.get(), out.data, out.size, MSG_NOSIGNAL);
        if (n > 0) {
            ch.assoc->consumeOutput(size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // POLLOUT later
        ch.last_error = errno_text("send");
        return;  // the read side reports the loss
    }
}

// ---- channel state machine -----------------------------------------------------

void Engine::connect(ServerCtx &s, Channel &ch, int64_t now) {
    (void)s;
    ch.next_attempt = now + (ch.backoff_ms ? ch.backoff_ms : kFirstBackoffMs);
    ch.backoff_ms = std::min(kMaxBackoffMs, ch.backoff_ms ? ch.backoff_ms * 2 : kFirstBackoffMs);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(ch.addr.port);
    if (::inet_pton(AF_INET, ch.addr.host == "localhost" ? "127.0.0.1" : ch.addr.host.c_str(), &sa.sin_addr) != 1) {
        ch.last_error = "address '" + ch.addr.host + "' is not a dotted IPv4 address";
        return;
    }
    UniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int fd = sock.get();
    if (!sock) {
        ch.last_error = errno_text("socket");
        return;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        ch.last_error = errno_text("connect");
        return;
    }
    ch.fd = std::move(sock);
    fds_dirty_ = true;
    ch.phase = Phase::TcpConnecting;
    ch.phase_deadline = now + kConnectTimeoutMs;
    ch.state = CHNL_STATE_CONNECTING;
}

void Engine::on_writable(ServerCtx &s, Channel &ch) {
    if (ch.phase == Phase::TcpConnecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(ch.fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            ch.last_error = std::string("connect: ") + std::strerror(err);
            close_channel(s, ch, true);
            return;
        }
        if (s.server->tls.on) {
            start_tls(s, ch);
            return;
        }
        start_association(s, ch);
        return;
    }
    flush(ch);
}

// TLS under TPKT (IEC 62351-3): the handshake runs before the first COTP
// PDU, driven by the poll events the session asks for.
void Engine::start_tls(ServerCtx &s, Channel &ch) {
    std::string why;
    if (!s.tls_ctx) s.tls_ctx = client_context(s.server->tls, s.label(), why);
    if (!s.tls_ctx) {
        refused(s, ch, "TLS to " + s.server->name + " cannot start: " + why);
        return;
    }
    ch.tls = std::make_unique<tls::Stream>(s.tls_ctx.get(), ch.fd.get(), true);
    if (!ch.tls->ok()) {
        refused(s, ch, "TLS to " + s.server->name + " cannot start: " + ch.tls->error());
        return;
    }
    ch.tls->pin(s.server->tls.fingerprint);
    ch.phase = Phase::TlsHandshake;
    drive_handshake(s, ch);
}

void Engine::drive_handshake(ServerCtx &s, Channel &ch) {
    switch (ch.tls->handshake()) {
    case tls::Io::Done: start_association(s, ch); break;
    case tls::Io::WantRead:
    case tls::Io::WantWrite: break;  // the poll set follows wants_write()
    case tls::Io::Closed:
    case tls::Io::Failed:
        // The next attempt reads the CA, certificate and key files again,
        // so a certificate renewed on disk is taken without a restart.
        s.tls_ctx.reset();
        refused(s, ch, "TLS handshake with " + s.server->name + " failed: " + ch.tls->error());
        break;
    }
}

// The ISO association on a connected transport (TCP, or TLS once up).
void Engine::start_association(ServerCtx &s, Channel &ch) {
    iso::ClientConfig cfg = iso_config(*s.server, ch.which);
    cfg.localReference = uint16_t(1 + s.index * 2 + int(ch.which));
    ch.assoc = std::make_unique<iso::ClientAssociation>(cfg);
    mms::InitiateRequest ir;
    ir.localDetail = kLocalDetail;
    ir.maxOutstandingCalling = kOutstanding;
    ir.maxOutstandingCalled = kOutstanding;
    ir.nestingLevel = 10;
    for (size_t b : {mms::cbb::kStr1, mms::cbb::kStr2, mms::cbb::kVnam, mms::cbb::kValt, mms::cbb::kVlis})
        ir.parameterCbb.set(b);
    for (size_t b :
         {mms::svc::kGetNameList, mms::svc::kIdentify, mms::svc::kRead, mms::svc::kWrite,
          mms::svc::kGetVariableAccessAttributes, mms::svc::kGetNamedVariableListAttributes, mms::svc::kObtainFile,
          mms::svc::kFileOpen, mms::svc::kFileRead, mms::svc::kFileClose, mms::svc::kFileDelete,
          mms::svc::kFileDirectory, mms::svc::kInformationReport, mms::svc::kConclude})
        ir.servicesSupported.set(b);
    const std::vector<uint8_t> b = mms::encode(mms::Pdu(ir));
    if (auto st = ch.assoc->connect(iso::ByteView(b.data(), b.size())); !st.ok()) {
        refused(s, ch, "association with " + s.server->name + " cannot start: " + st.error().reason);
        return;
    }
    ch.phase = Phase::Associating;
    flush(ch);
}

void Engine::on_readable(ServerCtx &s, Channel &ch) {
    uint8_t buf[kRecvChunk];
    for (int rounds = 0; rounds < 16 && ch.fd; ++rounds) {
        std::string why;
        const ssize_t n = receive(ch, buf, sizeof buf, why);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {
            ch.last_error = why;
            std::vector<iso::Event> ev = ch.assoc ? ch.assoc->onTransportClosed() : std::vector<iso::Event>{};
            if (ch.phase == Phase::Up || ch.phase == Phase::Concluding || ch.phase == Phase::Releasing)
                lose(s, ch, ch.last_error);
            else if (ch.phase == Phase::Associating)
                refused(s, ch,
                        "association with " + s.server->name + " failed: " + ch.last_error +
                            " before the association was confirmed");
            else
                close_channel(s, ch, true);
            return;
        }
        ch.last_rx = mono_ms();
        if (!ch.assoc) continue;
        std::vector<iso::Event> ev = ch.assoc->onBytes(iso::ByteView(buf, size_t(n)));
        on_events(s, ch, ev);
        if (ch.fd) flush(ch);
        // A short read emptied the socket (poll is level-triggered: more
        // brings us back). TLS hands over one record per read: less than a
        // full record with nothing left in the session is such a short read.
        if (ch.tls ? !ch.tls->pending() && static_cast<size_t>(n) < kMaxTlsRecord : static_cast<size_t>(n) < sizeof buf)
            return;
    }
}

// Bytes from the channel's transport: > 0 bytes; -1 with errno EAGAIN (or
// EINTR) when nothing is there now; 0 or -1 otherwise with `why`.
ssize_t Engine::receive(Channel &ch, uint8_t *buf, size_t cap, std::string &why) {
    if (!ch.tls) {
        const ssize_t n = ::recv(ch.fd.get(), buf, cap, 0);
        if (n == 0)
            why = "connection closed by the peer";
        else if (n < 0)
            why = errno_text("recv");
        return n;
    }
    size_t got = 0;
    switch (ch.tls->read(buf, cap, got)) {
    case tls::Io::Done: return ssize_t(got);
    case tls::Io::WantRead:
    case tls::Io::WantWrite: errno = EAGAIN; return -1;  // WantWrite: POLLOUT brings us back
    case tls::Io::Closed: why = ch.tls->error(); return 0;
    case tls::Io::Failed:
        why = "TLS: " + ch.tls->error();
        errno = EPROTO;
        return -1;
    }
    return -1;
}

void Engine::on_events(ServerCtx &s, Channel &ch, std::vector<iso::Event> &events) {
    for (iso::Event &e : events) {
        if (!ch.fd) return;
        switch (e.kind) {
        case iso::EventKind::AssociateConfirm: went_up(s, ch, e.data); break;
        case iso::EventKind::Data: on_mms(s, ch, e.data); break;
        case iso::EventKind::ReleaseConfirm:
        case iso::EventKind::ReleaseRefused: close_channel(s, ch, false); break;
        case iso::EventKind::AssociateRefused:
            refused(s, ch, "association refused by " + s.server->name + ": " + e.reason);
            break;
        case iso::EventKind::Aborted:
        case iso::EventKind::ProtocolError:
            ch.last_error = std::string(iso::eventKindName(e.kind)) + ": " + e.reason;
            if (ch.phase == Phase::Up || ch.phase == Phase::Concluding || ch.phase == Phase::Releasing)
                lose(s, ch, ch.last_error);
            else
                refused(s, ch, "association with " + s.server->name + " failed: " + e.reason);
            break;
        default: break;
        }
    }
}

void Engine::went_up(ServerCtx &s, Channel &ch, const iso::Bytes &bytes) {
    auto pdu = mms::decode(ber::ByteView(bytes.data(), bytes.size()));
    const mms::InitiateResponse *r = pdu ? std::get_if<mms::InitiateResponse>(&*pdu) : nullptr;
    if (r == nullptr) {
        ch.last_error = "no MMS initiate response in the association answer";
        ch.assoc->abort();
        flush(ch);
        close_channel(s, ch, true);
        return;
    }
    ch.max_outstanding = std::max<int>(1, std::min<int>(r->maxOutstandingCalling, kOutstanding));
    ch.max_pdu = size_t(r->localDetail && *r->localDetail >= 256 ? std::min(*r->localDetail, kLocalDetail)
                                                                 : kLocalDetail);
    ch.phase = Phase::Up;
    ch.state = CHNL_STATE_CONNECTED;
    ch.backoff_ms = 0;
    ch.last_refusal.clear();
    ch.next_invoke = 1;
    ch.last_rx = mono_ms();
    ch.probe_invoke = 0;
    ch.up_reported = true;
    ch.types.clear();
    ch.reserved.clear();
    ch.refused_settings.clear();
    ch.local_ip.clear();
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(ch.fd.get(), reinterpret_cast<sockaddr *>(&local), &len) == 0 && local.sin_family == AF_INET) {
        const auto *b = reinterpret_cast<const uint8_t *>(&local.sin_addr.s_addr);
        ch.local_ip.assign(b, b + 4);
    }
    const int srv = s.index;
    const AC_CHANNEL which = ch.which;
    if (!quiet_) post([this, srv, which] { channel_event(srv, which, true); });
    start_browse(*this, s, ch);
}

void Engine::fail_running(ServerCtx &s, Channel &ch) {
    while (!ch.running.empty()) {
        Job *j = ch.running.front();
        JobCtx c{*this, s, ch, *s.server->model};
        j->ctrl.result = 1;
        job_finished(s, j);  // removes it from running
        (void)c;
    }
    ch.inflight.clear();
}

// The association did not come up (refused, or failed on the way): say why,
// once while the reason stays the same (a device that keeps refusing is not
// logged at every retry), and retry with the back-off of a lost connection.
void Engine::refused(ServerCtx &s, Channel &ch, const std::string &why) {
    ch.last_error = why;
    if (why != ch.last_refusal) {
        ch.last_refusal = why;
        log_line(why + " (channel " + char('A' + int(ch.which)) + ", " + ch.addr.host + ":" +
                 std::to_string(ch.addr.port) + ")");
    }
    close_channel(s, ch, true);
}

// The association is gone (peer, error or dead): report the loss once.
void Engine::lose(ServerCtx &s, Channel &ch, const std::string &why) {
    log_line(s.label() + " channel " + char('A' + int(ch.which)) + " lost: " + why);
    close_channel(s, ch, true);
}

void Engine::close_channel(ServerCtx &s, Channel &ch, bool retry) {
    // A channel that does not come up says why, once per distinct reason
    // (it keeps retrying at growing intervals).
    if (retry && !ch.up_reported && !ch.last_error.empty() && ch.last_error != ch.last_refusal) {
        log_line(s.label() + " channel " + char('A' + int(ch.which)) + " to " + ch.addr.host + ":" +
                 std::to_string(ch.addr.port) + " not connected: " + ch.last_error);
        ch.last_refusal = ch.last_error;
    }
    if (ch.fd) {
        if (ch.assoc) flush(ch);
        if (ch.tls) ch.tls->shutdown();  // close_notify (RFC 8446 6.1), not waited for
        ch.tls.reset();
        ch.fd.reset();
        fds_dirty_ = true;
    }
    ch.tls.reset();
    ch.assoc.reset();
    fail_running(s, ch);
    ch.phase = Phase::Idle;
    ch.state = CHNL_STATE_UNCONNECTED;
    ch.probe_invoke = 0;
    ch.types.clear();
    ch.reserved.clear();
    ch.refused_settings.clear();
    for (auto it = s.enabled.begin(); it != s.enabled.end();)
        it = it->first.first == int(ch.which) ? s.enabled.erase(it) : std::next(it);
    if (!retry) ch.backoff_ms = 0;
    if (ch.next_attempt < mono_ms()) ch.next_attempt = mono_ms() + (retry ? kFirstBackoffMs : 0);
    if (ch.up_reported) {
        ch.up_reported = false;
        const int srv = s.index;
        const AC_CHANNEL which = ch.which;
        if (!quiet_) post([this, srv, which] { channel_event(srv, which, false); });
    }
}

// Orderly end: MMS Conclude, then ACSE release (ISO 9506-2 8.4; 8-1 10.3).
void Engine::begin_release(ServerCtx &s, Channel &ch) {
    fail_running(s, ch);
    ch.phase = Phase::Concluding;
    ch.phase_deadline = mono_ms() + kReleaseTimeoutMs;
    ch.state = CHNL_STATE_CONNECTED;
    if (!send_pdu(ch, mms::Pdu(mms::ConcludeRequest{}))) close_channel(s, ch, false);
}

void Engine::service_channel(ServerCtx &s, Channel &ch, int64_t now) {
    const bool keep = ch.keep.load() && !stopping_ && ch.addr.present();
    switch (ch.phase) {
    case Phase::Idle:
        if (keep && now >= ch.next_attempt) connect(s, ch, now);
        break;
    case Phase::TcpConnecting:
    case Phase::TlsHandshake:
    case Phase::Associating:
        if (!keep)
            close_channel(s, ch, false);
        else if (now >= ch.phase_deadline && ch.phase == Phase::TlsHandshake)
            refused(s, ch,
                    "TLS handshake with " + s.server->name + " failed: no answer within " +
                        std::to_string(kConnectTimeoutMs) + " ms");
        else if (now >= ch.phase_deadline && ch.phase == Phase::Associating)
            refused(s, ch,
                    "association with " + s.server->name + " failed: no answer within " +
                        std::to_string(kConnectTimeoutMs) + " ms");
        else if (now >= ch.phase_deadline) {
            ch.last_error = "no association within " + std::to_string(kConnectTimeoutMs) + " ms";
            close_channel(s, ch, true);
        }
        break;
    case Phase::Up:
        if (!keep) {
            begin_release(s, ch);
            break;
        }
        if (ch.probe_invoke == 0 && now - ch.last_rx > kIdleProbeMs && ch.inflight.empty()) {
            ch.probe_invoke = send_request(ch, nullptr, mms::IdentifyRequest{});
            ch.probe_deadline = now + kIdleProbeMs;
        } else if (ch.probe_invoke != 0 && now > ch.probe_deadline) {
            lose(s, ch, "no answer to Identify within " + std::to_string(kIdleProbeMs) + " ms");
        }
        break;
    case Phase::Concluding:
    case Phase::Releasing:
        if (now >= ch.phase_deadline) {
            if (ch.assoc) ch.assoc->abort();
            close_channel(s, ch, false);
        }
        break;
    }
}

void Engine::on_mms(ServerCtx &s, Channel &ch, const iso::Bytes &bytes) {
    // ISO 9506-2 8.2.1: neither side sends more than the negotiated size.
    const bool oversized = bytes.size() > ch.max_pdu;
    auto pdu = mms::decode(ber::ByteView(bytes.data(), oversized ? 0 : bytes.size()));
    if (!pdu || oversized) {
        if (oversized)
            log_line(s.label() + ": MMS PDU of " + std::to_string(bytes.size()) +
                     " octets refused: over the negotiated size " + std::to_string(ch.max_pdu));
        else
            log_line(s.label() + ": undecodable MMS PDU: " + pdu.error().text());
        mms::RejectPdu rj;
        rj.reasonKind = 5;  // pdu-error
        rj.code = 1;        // invalid-pdu
        send_pdu(ch, mms::Pdu(rj));
        return;
    }
    mms::Pdu &p = *pdu;
    uint32_t invoke = 0;
    bool answer = false;
    if (auto *r = std::get_if<mms::ConfirmedResponse>(&p))
        invoke = r->invokeId, answer = true;
    else if (auto *e = std::get_if<mms::ConfirmedError>(&p))
        invoke = e->invokeId, answer = true;
    else if (auto *j = std::get_if<mms::RejectPdu>(&p)) {
        if (j->invokeId)
            invoke = *j->invokeId, answer = true;
        else
            log_line(s.label() + " rejected a PDU of ours: " + mms::rejectText(*j));
    }
    if (answer) {
        if (invoke == ch.probe_invoke && invoke != 0) {
            ch.probe_invoke = 0;
            ch.drop_inflight(invoke);
            return;
        }
        auto it = ch.find_inflight(invoke);
        if (it == ch.inflight.end() || it->second == nullptr) return;  // late answer of a finished job
        Job *job = it->second;
        ch.inflight.erase(it);
        job->pending_invoke = 0;
        JobCtx c{*this, s, ch, *s.server->model};
        job->on_answer(c, p);
        return;
    }
    if (auto *rep = std::get_if<mms::InformationReport>(&p)) {
        for (Job *j : ch.running) {
            JobCtx c{*this, s, ch, *s.server->model};
            if (j->on_information(c, *rep)) return;
        }
        on_report(s, ch, *rep);
        return;
    }
    if (auto *req = std::get_if<mms::ConfirmedRequest>(&p)) {
        for (Job *j : ch.running) {
            JobCtx c{*this, s, ch, *s.server->model};
            if (j->on_server_request(c, *req)) return;
        }
        mms::ConfirmedError ce;
        ce.invokeId = req->invokeId;
        ce.error.errorClass = mms::kFile;
        ce.error.code = 6;  // file-access-denied: we only serve a file we offered
        send_pdu(ch, mms::Pdu(ce));
        return;
    }
    if (std::holds_alternative<mms::ConcludeResponse>(p) || std::holds_alternative<mms::ConcludeError>(p)) {
        if (ch.phase == Phase::Concluding) {
            ch.phase = Phase::Releasing;
            if (!ch.assoc->release()) close_channel(s, ch, false);
            flush(ch);
        }
        return;
    }
    if (std::holds_alternative<mms::ConcludeRequest>(p)) {
        send_pdu(ch, mms::Pdu(mms::ConcludeResponse{}));
        return;
    }
}

void Engine::schedule(ServerCtx &s, int64_t now) {
    (void)now;
    while (!s.waiting.empty()) {
        Job *j = s.waiting.front().get();
        Channel *ch = nullptr;
        if (j->forced == AC_CHANNEL_A || j->forced == AC_CHANNEL_B) {
            ch = &s.ch[int(j->forced)];
            if (ch->phase != Phase::Up) ch = nullptr;
        } else {
            ch = s.ch[0].phase == Phase::Up ? &s.ch[0] : s.ch[1].phase == Phase::Up ? &s.ch[1] : nullptr;
        }
        if (ch == nullptr || int(ch->running.size()) >= ch->max_outstanding) return;
        std::unique_ptr<Job> owned = std::move(s.waiting.front());
        s.waiting.pop_front();
        j->channel = ch;
        j->ctrl.chnl = ch->which;
        ch->running.push_back(j);
        s.active.push_back(std::move(owned));
        JobCtx c{*this, s, *ch, *s.server->model};
        j->start(c);
    }
}

void Engine::check_timeouts(ServerCtx &s, int64_t now) {
    for (;;) {
        Job *late = nullptr;
        for (auto &j : s.waiting)
            if (now >= j->deadline) late = j.get();
        for (auto &j : s.active)
            if (now >= j->deadline) late = j.get();
        if (!late) return;
        Channel *ch = late->channel;
        const bool was_waiting_answer = ch && late->pending_invoke != 0;
        late->ctrl.result = 1;
        job_finished(s, late);
        // An answer that never came: the peer is taken for dead.
        if (was_waiting_answer && ch->phase == Phase::Up) lose(s, *ch, "request timed out without an answer");
    }
}

void Engine::drain_submissions() {
    std::vector<std::pair<int, std::unique_ptr<Job>>> subs;
    {
        std::lock_guard<std::mutex> lock(sub_mutex_);
        subs.swap(submissions_);
    }
    for (auto &p : subs) servers_[size_t(p.first)]->waiting.push_back(std::move(p.second));
}

void Engine::finish_all() {
    drain_submissions();
    for (auto &sp : servers_) {
        ServerCtx &s = *sp;
        while (!s.waiting.empty()) job_finished(s, s.waiting.front().get());
        while (!s.active.empty()) job_finished(s, s.active.front().get());
    }
}

// The owner's pass, mu_ held: what was asked for or is due, then poll()
// (mu_ released) and the events. Returns early when callbacks wait.
void Engine::net_pass(std::unique_lock<std::mutex> &lk, int64_t until) {
    int64_t now = mono_ms();
    const bool asked = attention_.exchange(false);
    if (asked) drain_submissions();
    if (stopping_ && stop_deadline_ == 0) {
        stop_deadline_ = now + kReleaseTimeoutMs + 500;
        finish_all();
    }
    const bool due = stopping_ || now >= next_walk_;
    if (asked || due) {
        bool busy = false;
        for (auto &sp : servers_) {
            ServerCtx &s = *sp;
            for (Channel &ch : s.ch) {
                service_channel(s, ch, now);
                busy = busy || ch.phase != Phase::Idle;
            }
            if (due) check_timeouts(s, now);
        }
        if (due) next_walk_ = now + kWalkMs;
        if (stopping_ && (!busy || now >= stop_deadline_)) {
            shut_down();
            return;
        }
        if (!quiet_ && retry_deferred_.exchange(false))
            post([this] {
                if (!quiet_) deliver_deferred();
                retry_deferred_ = !deferred_.empty();
            });
    }
    for (auto &sp : servers_) schedule(*sp, now);
    if (!cbq_.empty() && deliverer_ < 0) return;  // the application's turn first

    refresh_poll_set();
    int timeout = int(std::max<int64_t>(0, std::min<int64_t>({kWalkMs, next_walk_ - now, until - now})));
    polling_.store(true);
    if (attention_.load()) {  // asked meanwhile (see wake()): look at the sockets without waiting
        polling_.store(false);
        timeout = 0;
    }
    lk.unlock();
    const int n = ::poll(fds_.data(), fds_.size(), timeout);
    const int poll_errno = errno;
    lk.lock();
    polling_.store(false);
    if (n < 0 && poll_errno != EINTR) log_line(std::string("poll: ") + std::strerror(poll_errno));
    if (n <= 0) return;
    if (fds_[0].revents & POLLIN) {
        uint64_t v;
        (void)!::read(wake_fd_.get(), &v, sizeof v);
    }
    for (size_t i = 1; i < fds_.size(); ++i) {
        Channel &ch = *fd_chans_[i];
        ServerCtx &s = *fd_owners_[i];
        if (ch.fd.get() != fds_[i].fd) continue;
        const short re = fds_[i].revents;
        if (re == 0) continue;
        if (ch.phase == Phase::TcpConnecting) {
            if (re & (POLLOUT | POLLERR | POLLHUP)) on_writable(s, ch);
            continue;
        }
        if (ch.phase == Phase::TlsHandshake) {
            drive_handshake(s, ch);
            continue;
        }
        if (re & POLLOUT) flush(ch);
        // A TLS read may have stopped on a full socket (a post-handshake
        // message to answer): it goes on when the socket drains.
        if ((re & (POLLIN | POLLERR | POLLHUP)) || (ch.tls && (re & POLLOUT))) on_readable(s, ch);
    }
}

// The sockets as they are: the set rebuilt when one opened or closed, the
// events (POLLOUT while output waits) refreshed in place.
void Engine::refresh_poll_set() {
    if (fds_dirty_) {
        fds_.assign(1, pollfd{wake_fd_.get(), POLLIN, 0});
        fd_chans_.assign(1, nullptr);
        fd_owners_.assign(1, nullptr);
        for (auto &sp : servers_)
            for (Channel &ch : sp->ch) {
                if (!ch.fd) continue;
                fds_.push_back(pollfd{ch.fd.get(), POLLIN, 0});
                fd_chans_.push_back(&ch);
                fd_owners_.push_back(sp.get());
            }
        fds_dirty_ = false;
    }
    fds_[0].revents = 0;
    for (size_t i = 1; i < fds_.size(); ++i) {
        const Channel &ch = *fd_chans_[i];
        short ev = POLLIN;
        if (ch.phase == Phase::TcpConnecting || (ch.assoc && ch.assoc->hasOutput()) ||
            (ch.tls && ch.tls->wants_write()))
            ev |= POLLOUT;
        fds_[i].events = ev;
        fds_[i].revents = 0;
    }
}

// End of the stop: every socket closed, every request answered.
void Engine::shut_down() {
    for (auto &sp : servers_)
        for (Channel &ch : sp->ch)
            if (ch.fd) {
                if (ch.assoc) ch.assoc->abort();
                close_channel(*sp, ch, false);
            }
    finish_all();
    net_done_ = true;
    owner_ = -1;
    standby_cv_.notify_all();
    guest_cv_.notify_all();
}

// ---- process-wide client ----------------------------------------------------------

namespace {

std::mutex g_mutex;
std::shared_ptr<Engine> g_engine;  // guarded by g_mutex

std::shared_ptr<Engine> engine() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_engine;
}

Channel *channel_of(Engine &e, int srv, AC_CHANNEL ch) {
    ServerCtx *s = e.server(srv);
    if (!s || (ch != AC_CHANNEL_A && ch != AC_CHANNEL_B)) return nullptr;
    return &s->ch[int(ch)];
}

}  // namespace

int start(model::Station *st) {
    if (!st) return 1;
    // A process that ends without ai_uninit_envir must not destroy a running
    // engine (its threads would still use the callbacks and the station):
    // stop it at exit, before those are destroyed (they exist by now, and
    // atexit handlers run before the statics constructed ahead of them).
    static std::once_flag at_exit;
    std::call_once(at_exit, [] {
        zv::app_callbacks();
        std::atexit([] { stop(); });
    });
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_engine) return 0;
    auto e = std::make_shared<Engine>(st);
    if (!e->start()) return 1;
    g_engine = std::move(e);
    return 0;
}

void stop() {
    std::shared_ptr<Engine> e;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        e.swap(g_engine);
    }
    if (!e) return;
    e->stop();
    // Stopped from a completion or callback: that worker still runs on the
    // engine after this returns, so the engine is kept for the process.
    if (e->on_worker_thread()) {
        // Never destroyed, not even at exit: the detached worker may still
        // be finishing its callbacks then.
        static std::mutex *m = new std::mutex;
        static auto *kept = new std::vector<std::shared_ptr<Engine>>;
        std::lock_guard<std::mutex> lock(*m);
        kept->push_back(std::move(e));
    }
}

bool running() { return engine() != nullptr; }

uint8_t set_keep(int srv, bool keep, AC_CHANNEL ch) {
    auto e = engine();
    Channel *c = e ? channel_of(*e, srv, ch) : nullptr;
    if (!c) return 1;
    if (c->keep.exchange(keep) != keep) e->wake();
    return 0;
}

uint8_t get_keep(int srv, AC_CHANNEL ch) {
    auto e = engine();
    Channel *c = e ? channel_of(*e, srv, ch) : nullptr;
    return c && c->keep.load() ? 1 : 0;
}

int get_state(int srv, CHNL_STATE *a, CHNL_STATE *b, AC_CHANNEL *active) {
    auto e = engine();
    ServerCtx *s = e ? e->server(srv) : nullptr;
    const CHNL_STATE sa = s ? CHNL_STATE(s->ch[0].state.load()) : CHNL_STATE_UNCONNECTED;
    const CHNL_STATE sb = s ? CHNL_STATE(s->ch[1].state.load()) : CHNL_STATE_UNCONNECTED;
    if (a) *a = sa;
    if (b) *b = sb;
    if (active)
        *active = sa == CHNL_STATE_CONNECTED   ? AC_CHANNEL_A
                  : sb == CHNL_STATE_CONNECTED ? AC_CHANNEL_B
                                               : AC_CHANNEL_UNKNOWN;
    return s ? 0 : 1;
}

std::shared_ptr<Engine> current_engine() { return engine(); }

int wait_completion(int timeout_ms) {
    auto e = engine();
    // No client (never started, or stopped, perhaps by the completion that
    // was waited for): stopping ran every pending completion.
    if (!e) {
        Waiter &w = *this_thread_waiter();
        std::unique_lock<std::mutex> lk(w.m);
        return w.none_left.wait_for(lk, std::chrono::milliseconds(std::max(0, timeout_ms)),
                                    [&] { return w.outstanding.load() == 0; })
                   ? 0
                   : 1;
    }
    return e->wait_completion(timeout_ms) ? 0 : 1;
}

}  // namespace zv::client
