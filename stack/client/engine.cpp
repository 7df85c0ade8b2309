#include "engine.h"

#include "base/log.h"

#include "../lib/callbacks.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

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
    return "server " + std::to_string(index) + " (" + (server && server->model ? server->model->name() : std::string("?")) +
           ")";
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

Engine::~Engine() {
    if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool Engine::start() {
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) {
        log_line(errno_text("eventfd"));
        return false;
    }
    cb_ = std::thread([this] { cb_loop(); });
    cb_id_ = cb_.get_id();
    net_ = std::thread([this] { net_loop(); });
    return true;
}

void Engine::stop() {
    quiet_ = true;
    {
        std::lock_guard<std::mutex> lock(sub_mutex_);
        stopping_ = true;
    }
    wake();
    if (net_.joinable()) net_.join();
    finish_all();   // the network thread is gone: what it left is ours now
    {
        std::lock_guard<std::mutex> lock(cb_mutex_);
        cb_done_ = true;
    }
    cb_cv_.notify_all();
    if (cb_.joinable()) {
        if (cb_.get_id() == std::this_thread::get_id()) cb_.detach();   // stopped from a callback
        else cb_.join();
    }
}

void Engine::wake() {
    const uint64_t one = 1;
    if (wake_fd_ >= 0) (void)!::write(wake_fd_, &one, sizeof one);
}

int Engine::submit(int srv, std::unique_ptr<Job> job, int timeout_s, AC_REQ_CTRL **out) {
    if (server(srv) == nullptr) return 1;
    if (timeout_s <= 0) timeout_s = kDefaultTimeoutS;
    job->ctrl.srv_id = srv;
    job->ctrl.timeout = timeout_s;
    job->ctrl.chnl = AC_CHANNEL_UNKNOWN;
    job->ctrl.result = 1;
    job->deadline = mono_ms() + int64_t(timeout_s) * 1000;
    AC_REQ_CTRL *ctrl = &job->ctrl;
    {
        // Under the lock that stop() takes to set stopping_: a request is
        // either refused here or answered by stop().
        std::lock_guard<std::mutex> lock(sub_mutex_);
        if (stopping_) return 1;
        submissions_.emplace_back(srv, std::move(job));
    }
    if (out) *out = ctrl;
    wake();
    return 0;
}

void Engine::post(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(cb_mutex_);
        CallbackItem it;
        it.fn = std::move(fn);
        cb_queue_.push_back(std::move(it));
    }
    cb_cv_.notify_one();
}

// Callback thread. A channel event that finds no application function
// registered yet (the application registers after it asked for the channels,
// and a loopback connection is quicker) is kept as the channel's state and
// handed over once the function is there; a connection that came and went
// meanwhile is not reported at all.
void Engine::channel_event(int srv, AC_CHANNEL ch, bool up) {
    const auto key = std::make_pair(srv, int(ch));
    U_CHNL_FUN f = up ? zv::app_callbacks().connected.load() : zv::app_callbacks().disconnected.load();
    auto it = deferred_.find(key);
    if (f == nullptr || it != deferred_.end()) {
        if (it != deferred_.end() && it->second != up) deferred_.erase(it);
        else deferred_[key] = up;
        deliver_deferred();
        return;
    }
    f(srv, ch);
}

void Engine::deliver_deferred() {
    for (auto it = deferred_.begin(); it != deferred_.end();) {
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

void Engine::cb_loop() {
    for (;;) {
        CallbackItem it;
        {
            std::unique_lock<std::mutex> lock(cb_mutex_);
            if (deferred_.empty()) {
                cb_cv_.wait(lock, [&] { return !cb_queue_.empty() || cb_done_; });
            } else if (!cb_cv_.wait_for(lock, std::chrono::milliseconds(50),
                                        [&] { return !cb_queue_.empty() || cb_done_; })) {
                lock.unlock();
                if (!quiet_) deliver_deferred();
                continue;
            }
            if (cb_queue_.empty()) return;
            it = std::move(cb_queue_.front());
            cb_queue_.pop_front();
        }
        if (it.job) {
            if (it.job->ctrl.u_ac_req_done) it.job->ctrl.u_ac_req_done(&it.job->ctrl);
            it.job->release();
        } else if (it.fn) {
            it.fn();
        }
    }
}

void Engine::job_finished(ServerCtx &s, Job *job) {
    job->finished = true;
    if (Channel *ch = job->channel) {
        if (job->pending_invoke) ch->inflight.erase(job->pending_invoke);
        ch->running.remove(job);
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
    {
        std::lock_guard<std::mutex> lock(cb_mutex_);
        CallbackItem it;
        it.job = std::move(owned);
        cb_queue_.push_back(std::move(it));
    }
    cb_cv_.notify_one();
}

bool Engine::send_pdu(Channel &ch, const mms::Pdu &pdu) {
    if (!ch.assoc) return false;
    const std::vector<uint8_t> b = mms::encode(pdu);
    if (b.size() > ch.max_pdu) {
        log_line("PDU of " + std::to_string(b.size()) + " octets exceeds the negotiated size " + std::to_string(ch.max_pdu));
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
    ch.inflight[id] = job;
    return id;
}

void Engine::flush(Channel &ch) {
    while (ch.fd >= 0 && ch.assoc && ch.assoc->hasOutput()) {
        const iso::ByteView out = ch.assoc->output();
        const ssize_t n = ::send(ch.fd, out.data, out.size, MSG_NOSIGNAL);
        if (n > 0) {
            ch.assoc->consumeOutput(size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;   // POLLOUT later
        ch.last_error = errno_text("send");
        return;   // the read side reports the loss
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
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ch.last_error = errno_text("socket");
        return;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        ch.last_error = errno_text("connect");
        ::close(fd);
        return;
    }
    ch.fd = fd;
    ch.phase = Phase::TcpConnecting;
    ch.phase_deadline = now + kConnectTimeoutMs;
    ch.state = CHNL_STATE_CONNECTING;
}

void Engine::on_writable(ServerCtx &s, Channel &ch) {
    if (ch.phase == Phase::TcpConnecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(ch.fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            ch.last_error = std::string("connect: ") + std::strerror(err);
            close_channel(s, ch, true);
            return;
        }
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
        for (size_t b : {mms::svc::kGetNameList, mms::svc::kIdentify, mms::svc::kRead, mms::svc::kWrite,
                         mms::svc::kGetVariableAccessAttributes, mms::svc::kGetNamedVariableListAttributes,
                         mms::svc::kObtainFile, mms::svc::kFileOpen, mms::svc::kFileRead, mms::svc::kFileClose,
                         mms::svc::kFileDelete, mms::svc::kFileDirectory, mms::svc::kInformationReport,
                         mms::svc::kConclude})
            ir.servicesSupported.set(b);
        const std::vector<uint8_t> b = mms::encode(mms::Pdu(ir));
        if (auto st = ch.assoc->connect(iso::ByteView(b.data(), b.size())); !st.ok()) {
            refused(s, ch, "association with " + s.server->name + " cannot start: " + st.error().reason);
            return;
        }
        ch.phase = Phase::Associating;
    }
    flush(ch);
}

void Engine::on_readable(ServerCtx &s, Channel &ch) {
    uint8_t buf[kRecvChunk];
    for (int rounds = 0; rounds < 16 && ch.fd >= 0; ++rounds) {
        const ssize_t n = ::recv(ch.fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {
            ch.last_error = n == 0 ? "connection closed by the peer" : errno_text("recv");
            std::vector<iso::Event> ev = ch.assoc ? ch.assoc->onTransportClosed() : std::vector<iso::Event>{};
            if (ch.phase == Phase::Up || ch.phase == Phase::Concluding || ch.phase == Phase::Releasing)
                lose(s, ch, ch.last_error);
            else if (ch.phase == Phase::Associating)
                refused(s, ch, "association with " + s.server->name + " failed: " + ch.last_error +
                                   " before the association was confirmed");
            else
                close_channel(s, ch, true);
            return;
        }
        ch.last_rx = mono_ms();
        if (!ch.assoc) continue;
        std::vector<iso::Event> ev = ch.assoc->onBytes(iso::ByteView(buf, size_t(n)));
        on_events(s, ch, ev);
        if (ch.fd >= 0) flush(ch);
        if (static_cast<size_t>(n) < sizeof buf) return;
    }
}

void Engine::on_events(ServerCtx &s, Channel &ch, std::vector<iso::Event> &events) {
    for (iso::Event &e : events) {
        if (ch.fd < 0) return;
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
    ch.max_pdu = size_t(r->localDetail && *r->localDetail >= 256 ? std::min(*r->localDetail, kLocalDetail) : kLocalDetail);
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
    ch.local_ip.clear();
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(ch.fd, reinterpret_cast<sockaddr *>(&local), &len) == 0 && local.sin_family == AF_INET) {
        const auto *b = reinterpret_cast<const uint8_t *>(&local.sin_addr.s_addr);
        ch.local_ip.assign(b, b + 4);
    }
    const int srv = s.index;
    const AC_CHANNEL which = ch.which;
    if (!quiet_) post([this, srv, which] { channel_event(srv, which, true); });
}

void Engine::fail_running(ServerCtx &s, Channel &ch) {
    while (!ch.running.empty()) {
        Job *j = ch.running.front();
        JobCtx c{*this, s, ch, *s.server->model};
        j->ctrl.result = 1;
        job_finished(s, j);   // removes it from running
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
    if (ch.fd >= 0) {
        if (ch.assoc) flush(ch);
        ::close(ch.fd);
    }
    ch.fd = -1;
    ch.assoc.reset();
    fail_running(s, ch);
    ch.phase = Phase::Idle;
    ch.state = CHNL_STATE_UNCONNECTED;
    ch.probe_invoke = 0;
    ch.types.clear();
    ch.reserved.clear();
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
    case Phase::Associating:
        if (!keep) close_channel(s, ch, false);
        else if (now >= ch.phase_deadline && ch.phase == Phase::Associating)
            refused(s, ch, "association with " + s.server->name + " failed: no answer within " +
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
    auto pdu = mms::decode(ber::ByteView(bytes.data(), bytes.size()));
    if (!pdu) {
        log_line(s.label() + ": undecodable MMS PDU: " + pdu.error().text());
        mms::RejectPdu rj;
        rj.reasonKind = 5;   // pdu-error
        rj.code = 1;         // invalid-pdu
        send_pdu(ch, mms::Pdu(rj));
        return;
    }
    mms::Pdu &p = *pdu;
    uint32_t invoke = 0;
    bool answer = false;
    if (auto *r = std::get_if<mms::ConfirmedResponse>(&p)) invoke = r->invokeId, answer = true;
    else if (auto *e = std::get_if<mms::ConfirmedError>(&p)) invoke = e->invokeId, answer = true;
    else if (auto *j = std::get_if<mms::RejectPdu>(&p)) {
        if (j->invokeId) invoke = *j->invokeId, answer = true;
        else log_line(s.label() + " rejected a PDU of ours: " + mms::rejectText(*j));
    }
    if (answer) {
        if (invoke == ch.probe_invoke && invoke != 0) {
            ch.probe_invoke = 0;
            ch.inflight.erase(invoke);
            return;
        }
        auto it = ch.inflight.find(invoke);
        if (it == ch.inflight.end() || it->second == nullptr) return;   // late answer of a finished job
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
        ce.error.code = 6;   // file-access-denied: we only serve a file we offered
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

void Engine::net_loop() {
    std::vector<pollfd> fds;
    std::vector<Channel *> chans;
    std::vector<ServerCtx *> owners;
    int64_t stop_deadline = 0;
    for (;;) {
        const int64_t now = mono_ms();
        drain_submissions();
        if (stopping_ && stop_deadline == 0) {
            stop_deadline = now + kReleaseTimeoutMs + 500;
            finish_all();
        }
        bool busy = false;
        for (auto &sp : servers_) {
            ServerCtx &s = *sp;
            for (Channel &ch : s.ch) {
                service_channel(s, ch, now);
                busy = busy || ch.phase != Phase::Idle;
            }
            check_timeouts(s, now);
            schedule(s, now);
        }
        if (stopping_ && (!busy || now >= stop_deadline)) break;

        fds.clear();
        chans.clear();
        owners.clear();
        fds.push_back(pollfd{wake_fd_, POLLIN, 0});
        chans.push_back(nullptr);
        owners.push_back(nullptr);
        for (auto &sp : servers_)
            for (Channel &ch : sp->ch) {
                if (ch.fd < 0) continue;
                short ev = POLLIN;
                if (ch.phase == Phase::TcpConnecting || (ch.assoc && ch.assoc->hasOutput())) ev |= POLLOUT;
                fds.push_back(pollfd{ch.fd, ev, 0});
                chans.push_back(&ch);
                owners.push_back(sp.get());
            }
        const int n = ::poll(fds.data(), fds.size(), 50);
        if (n < 0 && errno != EINTR) {
            log_line(errno_text("poll"));
            continue;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t v;
            (void)!::read(wake_fd_, &v, sizeof v);
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            Channel &ch = *chans[i];
            ServerCtx &s = *owners[i];
            if (ch.fd != fds[i].fd) continue;
            const short re = fds[i].revents;
            if (re == 0) continue;
            if (ch.phase == Phase::TcpConnecting) {
                if (re & (POLLOUT | POLLERR | POLLHUP)) on_writable(s, ch);
                continue;
            }
            if (re & POLLOUT) flush(ch);
            if (re & (POLLIN | POLLERR | POLLHUP)) on_readable(s, ch);
        }
    }
    for (auto &sp : servers_)
        for (Channel &ch : sp->ch)
            if (ch.fd >= 0) {
                if (ch.assoc) ch.assoc->abort();
                close_channel(*sp, ch, false);
            }
    finish_all();
}

// ---- process-wide client ----------------------------------------------------------

namespace {

std::mutex g_mutex;
std::shared_ptr<Engine> g_engine;   // guarded by g_mutex

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
    // Stopped from a completion or callback: that thread still runs on the
    // engine after this returns, so the engine is kept for the process.
    if (e->on_callback_thread()) {
        static std::mutex m;
        static std::vector<std::shared_ptr<Engine>> kept;
        std::lock_guard<std::mutex> lock(m);
        kept.push_back(std::move(e));
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
        *active = sa == CHNL_STATE_CONNECTED ? AC_CHANNEL_A : sb == CHNL_STATE_CONNECTED ? AC_CHANNEL_B : AC_CHANNEL_UNKNOWN;
    return s ? 0 : 1;
}

std::shared_ptr<Engine> current_engine() { return engine(); }

}  // namespace zv::client
