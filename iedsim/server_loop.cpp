#include "server.h"

#include "codec.h"
#include "tls.h"
#include "model/values.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <shared_mutex>
#include <sstream>

namespace zv::iedsim {

using mms::Data;
using mms::Pdu;

namespace {

constexpr size_t kMaxOpenFiles = 8;          // FRSMs per association
constexpr size_t kMaxControlLine = 4096;     // bytes of one control command
constexpr size_t kMaxControlClients = 16;
constexpr int64_t kObtainTimeoutMs = 30000;  // the client answers each step within this
constexpr size_t kPduOverhead = 48;
constexpr size_t kMaxQueuedOutput = 8u << 20;  // per association, before we stop reading its requests          // room for the envelope of a response around its list

Pdu confirmedError(uint32_t id, uint8_t cls, int32_t code) {
    mms::ConfirmedError e;
    e.invokeId = id;
    e.error.errorClass = cls;
    e.error.code = code;
    return Pdu(e);
}

// ISO 9506-2 error codes used here.
constexpr int32_t kDefObjectUndefined = 1;
constexpr int32_t kServiceObjectStateConflict = 2;
constexpr int32_t kServicePduSize = 3;
constexpr int32_t kResourceCapabilityUnavailable = 4;
constexpr int32_t kFileOther = 0, kFileBusy = 2, kFileNameSyntax = 3, kFilePositionInvalid = 5,
                  kFileAccessDenied = 6, kFileNonExistent = 7, kFileDuplicate = 8;

std::string errnoText(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

// The invoke id of a confirmed-RequestPDU that did not decode, if readable.
std::optional<uint32_t> invokeIdOf(const iso::Bytes& pdu) {
    ber::Reader top(ber::ByteView(pdu.data(), pdu.size()));
    auto t = top.read();
    if (!t || t->tag != ber::ctxC(0)) return std::nullopt;
    auto in = top.enter(*t);
    if (!in) return std::nullopt;
    auto id = in->readIntegerAs<uint32_t>(ber::tags::kInteger);
    if (!id) return std::nullopt;
    return *id;
}

std::string joinName(const mms::FileName& n) {
    std::string s;
    for (const std::string& p : n) {
        if (!s.empty() && s.back() != '/' && !p.empty() && p.front() != '/') s += '/';
        s += p;
    }
    return s;
}

size_t berSize(size_t len) { return 1 + (len < 128 ? 1 : len < 256 ? 2 : 3) + len; }

}  // namespace

struct Server::Conn {
    int id = 0;
    int fd = -1;
    size_t net = 0;
    std::string peer;
    std::vector<uint8_t> peerIp;
    std::unique_ptr<tls::Stream> tls;   // with --tls-cert: the session on fd
    std::unique_ptr<iso::ServerAssociation> assoc;
    bool associated = false;
    bool dead = false;
    size_t maxPdu = 65000;
    struct Frsm {
        std::string rel;
        int fd = -1;
        uint64_t size = 0, read = 0;   // octets of the file, octets handed out
    };
    std::map<int32_t, Frsm> files;
    int32_t nextFrsm = 1;
    uint32_t nextInvoke = 1;
    struct Obtain {
        uint32_t clientInvoke = 0;
        mms::FileName source;
        std::string dest;
        uint32_t pending = 0;
        int32_t frsm = -1;
        bool closing = false;
        std::vector<uint8_t> data;
        int64_t due = 0;
    };
    std::unique_ptr<Obtain> obtain;
};

struct Server::Ctl {
    int fd = -1;
    std::string in;
    std::string out;
    bool discarding = false;
    bool closeAfter = false;
};

// ---- start-up and listeners -------------------------------------------------

std::unique_ptr<Server> Server::create(const Config& cfg, std::string& why) {
    std::unique_ptr<Server> s(new Server());
    s->cfg_ = cfg;
    if (!s->log_.open(cfg.logFile, why)) return nullptr;
    s->log_.setVerbose(cfg.verbose);
    scl::Diagnostics diag(true);
    auto doc = std::make_shared<scl::Document>();
    std::string device;
    if (scl::parse_file(cfg.scl, *doc, diag)) {
        const scl::Ied* ied = nullptr;
        for (const scl::Ied& i : doc->ieds)
            if (i.name == cfg.ied) ied = &i;
        if (ied == nullptr) {
            diag.error(cfg.scl, 0, "no IED named '" + cfg.ied + "'");
        } else {
            const model::CbLayouts layouts = deviceLayouts(cfg.device, *doc, *ied);
            device = describe(cfg.device, *doc, *ied);
            s->model_ = model::IedModel::build(doc, *ied, diag, &layouts);
        }
    }
    for (const scl::Diag& d : diag.items())
        s->log_.line(d.file + ":" + std::to_string(d.line) + ": " + (d.error ? "error: " : "warning: ") + d.reason);
    if (!s->model_ || diag.has_errors()) {
        why = "cannot build IED '" + cfg.ied + "' from '" + cfg.scl + "'";
        for (const scl::Diag& d : diag.items())
            if (d.error) why += "; " + d.file + ":" + std::to_string(d.line) + ": " + d.reason;
        return nullptr;
    }
    if (!s->store_.open(cfg.files, why)) return nullptr;
    if (::pipe2(s->wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        why = errnoText("pipe2");
        return nullptr;
    }
    if (!cfg.tlsCert.empty() && !(s->tls_ = serverContext(cfg, why))) return nullptr;
    s->sim_ = std::make_unique<Simulator>(*s->model_, cfg.seed);
    s->reports_ = std::make_unique<ReportEngine>(*s->model_, s->log_, *s, cfg.device);
    if (!cfg.entryLog.empty()) {
        s->entryLog_ = std::fopen(cfg.entryLog.c_str(), "ae");
        if (!s->entryLog_) {
            why = "cannot open entry log '" + cfg.entryLog + "': " + std::strerror(errno);
            return nullptr;
        }
        std::setvbuf(s->entryLog_, nullptr, _IOLBF, 0);   // a killed simulator loses no line
        std::fprintf(s->entryLog_, "%lld start %d\n", static_cast<long long>(s->reports_->now()), int(::getpid()));
        s->reports_->onEntry([f = s->entryLog_](const std::string& line) { std::fprintf(f, "%s\n", line.c_str()); });
    }
    s->controls_ = std::make_unique<ControlEngine>(*s->model_, s->log_, *s, cfg.ctlExecMs);
    s->settings_ = std::make_unique<SettingGroups>(*s->model_, s->log_);
    s->logs_ = std::make_unique<LogEngine>(*s->model_, s->log_, cfg.journalPage);
    s->reports_->onDataSetChange([logs = s->logs_.get()](AI_OBJ_ID ds, const std::vector<uint8_t>& reasons) {
        logs->dataSetChanged(ds, reasons);
    });
    for (const std::string& h : cfg.device.held)
        if (!s->reports_->holdForOtherClient(h)) {
            why = "--held " + h + ": no report control block of that reference";
            return nullptr;
        }
    for (const Endpoint& ep : cfg.listen) {
        Net n;
        n.ep = ep;
        if (!s->bindNet(n, why)) return nullptr;
        s->nets_.push_back(n);
    }
    if (!cfg.control.empty() && !s->openControl(why)) return nullptr;
    for (uint32_t k = 0; k < cfg.initialRecordings; ++k) s->record();
    if (!cfg.portFile.empty()) {
        const std::string tmp = cfg.portFile + ".tmp";
        FILE* f = std::fopen(tmp.c_str(), "w");
        if (!f) {
            why = "cannot write port file '" + cfg.portFile + "': " + std::strerror(errno);
            return nullptr;
        }
        std::fputs(s->endpointsText().c_str(), f);
        std::fclose(f);
        std::rename(tmp.c_str(), cfg.portFile.c_str());
    }
    s->log_.line("serving IED " + cfg.ied + " of " + cfg.scl + ": " + std::to_string(s->model_->object_count()) +
                 " objects, " + std::to_string(s->reports_->rcbCount()) + " report control blocks, " +
                 std::to_string(s->sim_->analogueCount()) + " analogue and " +
                 std::to_string(s->sim_->statusCount()) + " status values simulated, " +
                 std::to_string(s->controls_->count()) + " controllable objects, " +
                 std::to_string(s->settings_->count()) + " setting group and " + std::to_string(s->logs_->lcbCount()) +
                 " log control blocks; device: " + device);
    return s;
}

Server::~Server() {
    for (auto& c : conns_) {
        for (auto& f : c.second->files) ::close(f.second.fd);
        if (c.second->fd >= 0) ::close(c.second->fd);
    }
    for (auto& k : ctls_) ::close(k->fd);
    for (Net& n : nets_)
        if (n.fd >= 0) ::close(n.fd);
    if (controlFd_ >= 0) ::close(controlFd_);
    if (!controlPath_.empty()) ::unlink(controlPath_.c_str());
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
    if (entryLog_) std::fclose(entryLog_);
}

bool Server::bindNet(Net& n, std::string& why) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        why = errnoText("socket");
        return false;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(n.port ? n.port : n.ep.port);
    inet_pton(AF_INET, n.ep.host.c_str(), &a.sin_addr);
    if ((ntohl(a.sin_addr.s_addr) >> 24) != 127) {   // parseEndpoint checked; never bind anything else
        ::close(fd);
        why = "refusing to bind non-loopback address " + n.ep.host;
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        why = "cannot listen on " + n.ep.host + ":" + std::to_string(ntohs(a.sin_port)) + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    n.port = ntohs(a.sin_port);
    n.fd = fd;
    return true;
}

bool Server::openControl(std::string& why) {
    const std::string& c = cfg_.control;
    if (c.rfind("unix:", 0) == 0) {
        const std::string path = c.substr(5);
        sockaddr_un a{};
        if (path.size() >= sizeof a.sun_path) {
            why = "control socket path too long";
            return false;
        }
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
        ::unlink(path.c_str());
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
            why = "cannot listen on control socket " + path + ": " + std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return false;
        }
        controlFd_ = fd;
        controlPath_ = path;
        controlAddr_ = c;
        return true;
    }
    Endpoint ep;
    if (!parseEndpoint(c, ep, why)) return false;
    Net n;
    n.ep = ep;
    if (!bindNet(n, why)) return false;
    controlFd_ = n.fd;
    controlAddr_ = ep.host + ":" + std::to_string(n.port);
    return true;
}

std::string Server::endpointsText() const {
    std::string out;
    for (size_t i = 0; i < nets_.size(); ++i)
        out += std::string(1, char('A' + i)) + " " + nets_[i].ep.host + ":" + std::to_string(nets_[i].port) + "\n";
    if (!controlAddr_.empty()) out += "CONTROL " + controlAddr_ + "\n";
    return out;
}

void Server::requestStop() {
    stop_ = true;
    const char b = 1;
    if (wake_[1] >= 0) (void)!::write(wake_[1], &b, 1);
}

int64_t Server::nowMs() const {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Server::record() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    std::vector<std::string> names;
    std::string why;
    const std::string series = cfg_.gb18030Names ? cfg_.ied + kGb18030RecordingTag : cfg_.ied;
    if (store_.addRecording(cfg_.recordDir, cfg_.ied, series, int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000,
                            ++recordings_, names, why, cfg_.recordParts)) {
        std::string list;
        for (const std::string& n : names) list += (list.empty() ? "" : " ") + n;
        log_.line("recording " + list + " written");
        lastRecording_ = names;
    } else {
        log_.line("recording failed: " + why);
    }
}

// ---- the loop -------------------------------------------------------------------

int Server::run() {
    const int64_t start = nowMs();
    nextSim_ = cfg_.simPeriodMs ? start + cfg_.simPeriodMs : -1;
    nextRecord_ = cfg_.recordEverySec ? start + int64_t(cfg_.recordEverySec) * 1000 : -1;
    log_.line("ready: " + [&] {
        std::string s = endpointsText();
        std::replace(s.begin(), s.end(), '\n', ' ');
        return s;
    }());
    std::vector<pollfd> fds;
    enum Kind { kWake, kNet, kControl, kCtl, kConn };
    std::vector<std::pair<Kind, long>> what;
    while (!stop_) {
        fds.clear();
        what.clear();
        fds.push_back(pollfd{wake_[0], POLLIN, 0});
        what.emplace_back(kWake, 0);
        for (size_t i = 0; i < nets_.size(); ++i)
            if (nets_[i].fd >= 0) {
                fds.push_back(pollfd{nets_[i].fd, POLLIN, 0});
                what.emplace_back(kNet, long(i));
            }
        if (controlFd_ >= 0) {
            fds.push_back(pollfd{controlFd_, POLLIN, 0});
            what.emplace_back(kControl, 0);
        }
        for (size_t i = 0; i < ctls_.size(); ++i) {
            fds.push_back(pollfd{ctls_[i]->fd, short(POLLIN | (ctls_[i]->out.empty() ? 0 : POLLOUT)), 0});
            what.emplace_back(kCtl, long(i));
        }
        for (auto& c : conns_) {
            // A client that does not read its answers is not read from either.
            const size_t queued = c.second->assoc->output().size;
            const short in = queued < kMaxQueuedOutput ? POLLIN : 0;
            const bool tlsWaits = c.second->tls && c.second->tls->wants_write();
            fds.push_back(pollfd{c.second->fd, short(in | (queued || tlsWaits ? POLLOUT : 0)), 0});
            what.emplace_back(kConn, c.first);
        }
        const int64_t now = nowMs();
        int64_t timeout = 1000;
        if (nextSim_ >= 0) timeout = std::min(timeout, std::max<int64_t>(0, nextSim_ - now));
        if (nextRecord_ >= 0) timeout = std::min(timeout, std::max<int64_t>(0, nextRecord_ - now));
        const int64_t rd = reports_->nextDeadlineMs();
        if (rd >= 0) timeout = std::min(timeout, rd);
        for (const int64_t due : {controls_->nextDeadlineMs(), logs_->nextDeadlineMs()})
            if (due >= 0) timeout = std::min(timeout, due);
        int n = ::poll(fds.data(), fds.size(), int(timeout));
        if (n < 0 && errno != EINTR) {
            log_.line(errnoText("poll"));
            break;
        }
        for (size_t i = 0; n > 0 && i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            switch (what[i].first) {
            case kWake: {
                char buf[64];
                while (::read(wake_[0], buf, sizeof buf) > 0) {
                }
                stop_ = true;
                break;
            }
            case kNet: acceptOn(size_t(what[i].second)); break;
            case kControl: acceptControl(); break;
            case kCtl: {
                Ctl& k = *ctls_[size_t(what[i].second)];
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) readControl(k);
                if (!k.out.empty() && k.fd >= 0) {
                    ssize_t w = ::send(k.fd, k.out.data(), k.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (w > 0) k.out.erase(0, size_t(w));
                    else if (w < 0 && errno != EAGAIN && errno != EINTR) k.closeAfter = true, k.out.clear();
                }
                break;
            }
            case kConn: {
                auto it = conns_.find(int(what[i].second));
                if (it == conns_.end()) break;
                Conn& c = *it->second;
                // TLS: a handshake or read that stopped on a full socket goes on when it drains.
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) || (c.tls && (fds[i].revents & POLLOUT))) readConn(c);
                if (!c.dead) flushConn(c);
                break;
            }
            }
        }
        const int64_t t = nowMs();
        if (nextSim_ >= 0 && t >= nextSim_) {
            sim_->step();
            nextSim_ = t + cfg_.simPeriodMs;
        }
        if (nextRecord_ >= 0 && t >= nextRecord_) {
            record();
            nextRecord_ = t + int64_t(cfg_.recordEverySec) * 1000;
        }
        for (auto& c : conns_)
            if (c.second->obtain && t >= c.second->obtain->due)
                obtainFailed(*c.second, kFileOther, "the client did not answer in time");
        controls_->tick();
        logs_->tick();
        reports_->scan();
        reports_->tick();
        for (auto& c : conns_)
            if (!c.second->dead) flushConn(*c.second);
        for (auto& k : ctls_)
            if (!k->out.empty()) {
                ssize_t w = ::send(k->fd, k->out.data(), k->out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (w > 0) k->out.erase(0, size_t(w));
            }
        reap();
    }
    // Answer a pending "stop" before leaving.
    for (auto& k : ctls_)
        if (!k->out.empty()) (void)!::send(k->fd, k->out.data(), k->out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    for (auto& c : conns_) {
        c.second->assoc->abort();
        flushConn(*c.second);
    }
    log_.line("stopped");
    return 0;
}

void Server::reap() {
    for (auto it = conns_.begin(); it != conns_.end();) {
        Conn& c = *it->second;
        if (!c.dead && c.assoc->wantsClose() && !c.assoc->hasOutput()) closeConn(c, "association closed");
        if (c.dead) {
            reports_->connectionClosed(c.id);
            controls_->connectionClosed(c.id);
            settings_->connectionClosed(c.id);
            for (auto& f : c.files) ::close(f.second.fd);
            if (c.fd >= 0) ::close(c.fd);
            it = conns_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = ctls_.begin(); it != ctls_.end();) {
        if ((*it)->closeAfter && (*it)->out.empty()) {
            ::close((*it)->fd);
            it = ctls_.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::acceptOn(size_t net) {
    Net& n = nets_[net];
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = ::accept4(n.fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EINTR) log_.line(errnoText("accept"));
            return;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Conn>();
        c->id = nextConnId_++;
        c->fd = fd;
        c->net = net;
        char host[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
        c->peer = std::string(host) + ":" + std::to_string(ntohs(peer.sin_port));
        const uint8_t* ip = reinterpret_cast<const uint8_t*>(&peer.sin_addr);
        c->peerIp.assign(ip, ip + 4);
        iso::ServerConfig sc;
        sc.maxTsdu = std::max<size_t>(cfg_.pduSize + 1024, 70000);
        // The device's own selectors: it answers with them and refuses others.
        if (cfg_.tsel) sc.local.tsap = *(sc.calledTsap = cfg_.tsel);
        if (cfg_.ssel) sc.local.ssel = *(sc.calledSsel = cfg_.ssel);
        if (cfg_.psel) sc.local.psel = *(sc.calledPsel = cfg_.psel);
        if (cfg_.apTitle) sc.responding.apTitle = ber::Oid{*cfg_.apTitle};
        if (cfg_.aeQualifier) sc.responding.aeQualifier = cfg_.aeQualifier;
        c->assoc = std::make_unique<iso::ServerAssociation>(sc);
        log_.line("connection " + std::to_string(c->id) + " on network " + char('A' + net) + " from " + c->peer);
        if (tls_) {
            c->tls = std::make_unique<tls::Stream>(tls_.get(), fd, false);
            if (!c->tls->ok()) closeConn(*c, c->tls->error());
        }
        conns_[c->id] = std::move(c);
    }
}

void Server::closeConn(Conn& c, const std::string& why) {
    if (c.dead) return;
    c.dead = true;
    if (c.tls) c.tls->shutdown();   // close_notify, not waited for
    log_.line("connection " + std::to_string(c.id) + " closed: " + why);
}

// TLS: the handshake first, then records through the session. An error
// closes the connection with OpenSSL's reason (no certificate, unknown CA...).
ssize_t Server::receive(Conn& c, uint8_t* buf, size_t cap) {
    if (!c.tls) return ::recv(c.fd, buf, cap, 0);
    if (!c.tls->established()) {
        switch (c.tls->handshake()) {
        case tls::Io::Done: {
            const std::string peer = c.tls->peer_subject();
            log_.line("connection " + std::to_string(c.id) + ": " + c.tls->describe() +
                      (peer.empty() ? std::string(", no client certificate") : ", client certificate " + peer));
            break;
        }
        case tls::Io::WantRead:
        case tls::Io::WantWrite: errno = EAGAIN; return -1;
        default:
            closeConn(c, "TLS handshake failed: " + c.tls->error());
            errno = EAGAIN;
            return -1;
        }
    }
    size_t got = 0;
    switch (c.tls->read(buf, cap, got)) {
    case tls::Io::Done: return ssize_t(got);
    case tls::Io::WantRead:
    case tls::Io::WantWrite: errno = EAGAIN; return -1;
    case tls::Io::Closed: return 0;
    case tls::Io::Failed: closeConn(c, "TLS: " + c.tls->error()); errno = EAGAIN; return -1;
    }
    return -1;
}

void Server::readConn(Conn& c) {
    uint8_t buf[16384];   // one TLS record's plaintext at most: nothing stays inside the session
    for (int rounds = 0; rounds < 16 && !c.dead; ++rounds) {
        ssize_t n = receive(c, buf, sizeof buf);
        if (n > 0) {
            std::vector<iso::Event> ev = c.assoc->onBytes(iso::ByteView(buf, size_t(n)));
            handleEvents(c, ev);
            continue;
        }
        if (n == 0) {
            std::vector<iso::Event> ev = c.assoc->onTransportClosed();
            handleEvents(c, ev);
            closeConn(c, "peer closed the connection");
            return;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        if (errno == EINTR) continue;
        closeConn(c, errnoText("recv"));
        return;
    }
}

void Server::flushConn(Conn& c) {
    while (!c.dead && c.assoc->hasOutput()) {
        iso::ByteView out = c.assoc->output();
        if (c.tls) {
            if (!c.tls->established()) return;
            size_t put = 0;
            const tls::Io r = c.tls->write(out.data, out.size, put);
            if (r == tls::Io::Done) {
                c.assoc->consumeOutput(put);
                continue;
            }
            if (r == tls::Io::Failed || r == tls::Io::Closed) closeConn(c, "TLS: " + c.tls->error());
            return;
        }
        ssize_t n = ::send(c.fd, out.data, out.size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.assoc->consumeOutput(size_t(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n < 0 && errno == EINTR) continue;
        closeConn(c, errnoText("send"));
        return;
    }
}

void Server::handleEvents(Conn& c, std::vector<iso::Event>& events) {
    for (iso::Event& e : events) {
        switch (e.kind) {
        case iso::EventKind::AssociateIndication: onAssociate(c, e.data); break;
        case iso::EventKind::Data: onMms(c, e.data); break;
        case iso::EventKind::ReleaseIndication:
            log_.line("connection " + std::to_string(c.id) + " released by the client");
            break;
        case iso::EventKind::Aborted:
            log_.line("connection " + std::to_string(c.id) + " aborted: " + e.reason);
            break;
        case iso::EventKind::ProtocolError:
            log_.line("connection " + std::to_string(c.id) + " protocol error: " + e.reason);
            break;
        case iso::EventKind::ConnectRefused:
            log_.line("connection " + std::to_string(c.id) + " refused: " + e.reason);
            break;
        default: break;
        }
    }
}

// ---- association and MMS dispatch -----------------------------------------------

// ISO 8650-1: the called AE title and the authentication are the ACSE's to
// judge; a refusal is an AARE rejected-permanent with the diagnostic.
bool Server::admitAssociation(Conn& c) {
    const iso::AssociateRequest& rq = c.assoc->request();
    auto refuse = [&](int64_t diagnostic, const std::string& why) {
        log_.line("connection " + std::to_string(c.id) + ": association refused, " + why);
        (void)c.assoc->refuse(diagnostic, iso::kRejectedPermanent);
        return false;
    };
    if (cfg_.apTitle && (!rq.called.apTitle || rq.called.apTitle->arcs != *cfg_.apTitle))
        return refuse(iso::kDiagCalledApTitleNotRecognized,
                      "called AP title " + (rq.called.apTitle ? rq.called.apTitle->text() : std::string("absent")) +
                          " is not " + ber::Oid{*cfg_.apTitle}.text() + " (called-AP-title-not-recognized)");
    if (cfg_.aeQualifier && rq.called.aeQualifier != cfg_.aeQualifier)
        return refuse(iso::kDiagCalledAeQualifierNotRecognized,
                      "called AE qualifier " +
                          (rq.called.aeQualifier ? std::to_string(*rq.called.aeQualifier) : std::string("absent")) +
                          " is not " + std::to_string(*cfg_.aeQualifier) + " (called-AE-qualifier-not-recognized)");
    if (!cfg_.password) return true;
    if (!rq.password) return refuse(iso::kDiagAuthenticationFailure, "no password given (authentication-failure)");
    if (rq.mechanism && *rq.mechanism != iso::passwordMechanism())
        return refuse(iso::kDiagAuthenticationMechanismNotRecognized,
                      "authentication mechanism " + rq.mechanism->text() +
                          " is not 2.2.3.1 (authentication-mechanism-name-not-recognized)");
    if (*rq.password != *cfg_.password)
        return refuse(iso::kDiagAuthenticationFailure, "wrong password (authentication-failure)");
    return true;
}

void Server::onAssociate(Conn& c, const iso::Bytes& bytes) {
    if (!admitAssociation(c)) return;
    auto pdu = mms::decode(ber::ByteView(bytes.data(), bytes.size()));
    if (!pdu || !std::holds_alternative<mms::InitiateRequest>(*pdu)) {
        log_.line("connection " + std::to_string(c.id) + ": association refused, no MMS initiate request (" +
                  (pdu ? mms::describe(*pdu) : pdu.error().text()) + ")");
        mms::InitiateError ie;
        ie.error.errorClass = mms::kInitiate;
        ie.error.code = 0;
        std::vector<uint8_t> err = mms::encode(Pdu(ie));
        (void)c.assoc->refuse(iso::kDiagNoReason, iso::kRejectedPermanent, iso::ByteView(err.data(), err.size()));
        return;
    }
    const mms::InitiateRequest& req = std::get<mms::InitiateRequest>(*pdu);
    mms::InitiateResponse resp;
    const int32_t ours = int32_t(cfg_.pduSize);
    resp.localDetail = req.localDetail && *req.localDetail > 0 ? std::min(*req.localDetail, ours) : ours;
    resp.maxOutstandingCalling = int16_t(std::clamp<int>(req.maxOutstandingCalling, 1, 10));
    resp.maxOutstandingCalled = int16_t(std::clamp<int>(req.maxOutstandingCalled, 1, 10));
    resp.nestingLevel = req.nestingLevel ? std::optional<int8_t>(std::min<int8_t>(*req.nestingLevel, 10)) : std::nullopt;
    resp.version = 1;
    for (size_t b : {mms::cbb::kStr1, mms::cbb::kStr2, mms::cbb::kVnam, mms::cbb::kValt, mms::cbb::kVlis})
        resp.parameterCbb.set(b);
    for (size_t b : {mms::svc::kGetNameList, mms::svc::kIdentify, mms::svc::kRead, mms::svc::kWrite,
                     mms::svc::kGetVariableAccessAttributes, mms::svc::kGetNamedVariableListAttributes,
                     mms::svc::kObtainFile, mms::svc::kFileOpen, mms::svc::kFileRead, mms::svc::kFileClose,
                     mms::svc::kFileDelete, mms::svc::kFileDirectory, mms::svc::kInformationReport,
                     mms::svc::kConclude, mms::svc::kReadJournal})
        resp.servicesSupported.set(b);
    std::vector<uint8_t> bytesOut = mms::encode(Pdu(resp));
    if (!c.assoc->accept(iso::ByteView(bytesOut.data(), bytesOut.size()))) {
        log_.line("connection " + std::to_string(c.id) + ": cannot accept the association");
        return;
    }
    c.associated = true;
    c.maxPdu = size_t(*resp.localDetail);
    log_.line("connection " + std::to_string(c.id) + " associated, max PDU " + std::to_string(c.maxPdu));
}

void Server::sendPdu(Conn& c, const Pdu& pdu) {
    std::vector<uint8_t> b = mms::encode(pdu);
    if (!c.assoc->sendData(iso::ByteView(b.data(), b.size())))
        log_.line("connection " + std::to_string(c.id) + ": cannot send " + mms::describe(pdu));
}

void Server::onMms(Conn& c, const iso::Bytes& bytes) {
    auto pdu = mms::decode(ber::ByteView(bytes.data(), bytes.size()));
    if (!pdu) {
        mms::RejectPdu rj;
        rj.invokeId = invokeIdOf(bytes);
        if (rj.invokeId) {
            rj.reasonKind = 1;   // confirmed-requestPDU
            rj.code = 4;         // invalid-argument
        } else {
            rj.reasonKind = 5;   // pdu-error
            rj.code = 1;         // invalid-pdu
        }
        log_.line("connection " + std::to_string(c.id) + ": rejected a PDU that does not decode: " + pdu.error().text());
        sendPdu(c, Pdu(rj));
        return;
    }
    if (auto* req = std::get_if<mms::ConfirmedRequest>(&*pdu)) {
        answer(c, *req);
        return;
    }
    if (std::holds_alternative<mms::ConcludeRequest>(*pdu)) {
        if (c.obtain) {
            mms::ConcludeError ce;
            ce.error.errorClass = mms::kConclude;
            ce.error.code = 1;   // further-communication-required
            sendPdu(c, Pdu(ce));
            return;
        }
        log_.line("connection " + std::to_string(c.id) + " concluded");
        sendPdu(c, Pdu(mms::ConcludeResponse{}));
        return;
    }
    if (std::holds_alternative<mms::ConfirmedResponse>(*pdu) || std::holds_alternative<mms::ConfirmedError>(*pdu) ||
        std::holds_alternative<mms::RejectPdu>(*pdu)) {
        onClientResponse(c, *pdu);
        return;
    }
    mms::RejectPdu rj;
    rj.reasonKind = std::holds_alternative<mms::InformationReport>(*pdu) ? 4 : 5;   // unconfirmedPDU / pdu-error
    rj.code = rj.reasonKind == 4 ? 1 : 0;   // unrecognized-service / unknown-pdu-type
    log_.line("connection " + std::to_string(c.id) + ": rejected " + mms::describe(*pdu));
    sendPdu(c, Pdu(rj));
}

void Server::answer(Conn& c, const mms::ConfirmedRequest& req) {
    const uint32_t id = req.invokeId;
    log_.debug("connection " + std::to_string(c.id) + ": " + mms::describe(Pdu(req)) + " #" + std::to_string(id));
    Pdu out;
    struct Visitor {
        Server& s;
        Conn& c;
        uint32_t id;
        Pdu& out;
        bool& later;
        void operator()(const mms::IdentifyRequest&) {
            out = Pdu(mms::ConfirmedResponse{id, mms::IdentifyResponse{"tarnmon", "iedsim " + s.cfg_.ied, "1.0"}});
        }
        void operator()(const mms::GetNameListRequest& r) { out = s.getNameList(c, id, r); }
        void operator()(const mms::ReadRequest& r) { out = s.read(c, id, r); }
        void operator()(const mms::WriteRequest& r) { out = s.write(c, id, r); }
        void operator()(const mms::GetVariableAccessAttributesRequest& r) { out = s.getVarAttr(c, id, r); }
        void operator()(const mms::GetNamedVariableListAttributesRequest& r) { out = s.getNvlAttr(c, id, r); }
        void operator()(const mms::FileDirectoryRequest& r) { out = s.fileDirectory(c, id, r); }
        void operator()(const mms::FileOpenRequest& r) { out = s.fileOpen(c, id, r); }
        void operator()(const mms::FileReadRequest& r) { out = s.fileRead(c, id, r); }
        void operator()(const mms::FileCloseRequest& r) { out = s.fileClose(c, id, r); }
        void operator()(const mms::FileDeleteRequest& r) { out = s.fileDelete(c, id, r); }
        void operator()(const mms::ObtainFileRequest& r) { later = s.startObtain(c, id, r, out); }
        void operator()(const mms::ReadJournalRequest& r) { out = s.logs_->readJournal(id, r, c.maxPdu); }
        void operator()(const mms::OtherService& o) {
            mms::RejectPdu rj;
            rj.invokeId = id;
            rj.reasonKind = 1;   // confirmed-requestPDU
            rj.code = 1;         // unrecognized-service
            s.log_.line("connection " + std::to_string(c.id) + ": service [" + std::to_string(o.tag) +
                        "] not supported, rejected");
            out = Pdu(rj);
        }
    };
    bool later = false;
    std::visit(Visitor{*this, c, id, out, later}, req.service);
    if (later) return;
    std::vector<uint8_t> b = mms::encode(out);
    if (b.size() > c.maxPdu) {
        log_.line("connection " + std::to_string(c.id) + ": answer to #" + std::to_string(id) + " needs " +
                  std::to_string(b.size()) + " octets, over the PDU size " + std::to_string(c.maxPdu));
        b = mms::encode(confirmedError(id, mms::kService, kServicePduSize));
    }
    if (auto* e = std::get_if<mms::ConfirmedError>(&out))
        log_.line("connection " + std::to_string(c.id) + ": " + mms::describe(Pdu(req)) + " #" + std::to_string(id) +
                  " refused with error class " + std::to_string(e->error.errorClass) + " code " +
                  std::to_string(e->error.code));
    if (!c.assoc->sendData(iso::ByteView(b.data(), b.size())))
        log_.line("connection " + std::to_string(c.id) + ": cannot send the answer to #" + std::to_string(id));
}

AI_OBJ_ID Server::resolve(const mms::ObjectName& n) const {
    if (n.scope != mms::ObjectName::Scope::Domain) return -1;
    if (n.domain.find('/') != std::string::npos || n.item.find('/') != std::string::npos) return -1;
    // Array elements ("Arr(3)") are no MMS names: they are reached by alternate access.
    if (n.item.find('(') != std::string::npos) return -1;
    AI_OBJ_ID id = model_->find(n.domain + "/" + n.item);
    if (id < 0) return -1;
    const AI_OBJ_TYPE t = model_->type(id);
    if (t == OBJECT_TYPE_DS || t == OBJECT_TYPE_LD || t == OBJECT_TYPE_IED) return -1;
    return id;
}

// ---- browsing -------------------------------------------------------------------

Pdu Server::getNameList(Conn& c, uint32_t id, const mms::GetNameListRequest& r) {
    std::vector<std::string> names;
    const bool domainScope = r.scope == mms::ObjectName::Scope::Domain;
    AI_OBJ_ID ld = -1;
    if (domainScope) {
        ld = model_->find(r.domain);
        if (ld < 0 || model_->type(ld) != OBJECT_TYPE_LD) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
    }
    if (r.objectClass == mms::kDomain && r.scope == mms::ObjectName::Scope::Vmd) {
        const AI_OBJ_ID* kids = nullptr;
        int32_t n = 0;
        model_->children(0, kids, n);
        for (int32_t k = 0; k < n; ++k) names.push_back(model_->name(kids[k]));
        std::sort(names.begin(), names.end());
    } else if (r.objectClass == mms::kNamedVariable && domainScope) {
        model_->variable_names(ld, names, true);
    } else if (r.objectClass == mms::kNamedVariableList && domainScope) {
        const AI_OBJ_ID* ds = nullptr;
        int32_t n = 0;
        model_->data_sets(ld, ds, n);
        for (int32_t k = 0; k < n; ++k) {
            std::string ref = model_->reference(ds[k]);
            names.push_back(ref.substr(ref.find('/') + 1));
        }
        std::sort(names.begin(), names.end());
    }
    // Other classes and scopes: this server has no such objects (empty list).
    auto from = names.begin();
    if (r.continueAfter) from = std::upper_bound(names.begin(), names.end(), *r.continueAfter);
    mms::GetNameListResponse resp;
    resp.moreFollows = false;
    size_t used = kPduOverhead;
    for (auto it = from; it != names.end(); ++it) {
        used += berSize(it->size());
        if (used > c.maxPdu) {
            resp.moreFollows = true;
            break;
        }
        resp.identifiers.push_back(*it);
    }
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

Pdu Server::getVarAttr(Conn&, uint32_t id, const mms::GetVariableAccessAttributesRequest& r) {
    const AI_OBJ_ID obj = resolve(r.name);
    const RUNTIME_TYPE* first = nullptr;
    int32_t num = 0;
    if (obj < 0 || !model_->type_of(obj, first, num)) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
    mms::GetVariableAccessAttributesResponse resp;
    resp.mmsDeletable = false;
    resp.type = typeDescription(first);
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

Pdu Server::getNvlAttr(Conn&, uint32_t id, const mms::GetNamedVariableListAttributesRequest& r) {
    if (r.name.scope != mms::ObjectName::Scope::Domain) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
    const AI_OBJ_ID ds = model_->find(r.name.domain + "/" + r.name.item);
    const AI_DS_CTRL* d = ds >= 0 ? model_->data_set(ds) : nullptr;
    if (!d) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
    mms::GetNamedVariableListAttributesResponse resp;
    resp.mmsDeletable = d->deletable != 0;
    for (int32_t k = 0; k < d->mb_num; ++k) {
        const std::string ref = d->mb_refs[k];
        const size_t slash = ref.find('/');
        mms::VariableRef v;
        if (!variableOf(ref, v))   // array elements travel as the array with an index
            v.name = mms::ObjectName::dom(ref.substr(0, slash), slash == std::string::npos ? "" : ref.substr(slash + 1));
        resp.variables.push_back(std::move(v));
    }
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

// ---- read and write ----------------------------------------------------------------

Pdu Server::read(Conn& c, uint32_t id, const mms::ReadRequest& r) {
    mms::ReadResponse resp;
    std::shared_lock<std::shared_mutex> lock(model_->value_mutex());
    if (r.access.isListName) {
        const mms::ObjectName& n = r.access.listName;
        const AI_OBJ_ID ds = n.scope == mms::ObjectName::Scope::Domain ? model_->find(n.domain + "/" + n.item) : -1;
        const AI_DS_CTRL* d = ds >= 0 ? model_->data_set(ds) : nullptr;
        if (!d) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
        for (int32_t k = 0; k < d->mb_num; ++k) {
            Data v;
            if (d->mb_ids[k] >= 0 && model::object_data(*model_, d->mb_ids[k], v))
                resp.results.push_back(mms::AccessResult::ok(std::move(v)));
            else
                resp.results.push_back(mms::AccessResult::fail(mms::kObjectNonExistent));
        }
    } else {
        for (const mms::VariableRef& v : r.access.variables) {
            const AI_OBJ_ID obj = resolve(v.name);
            Data whole;
            if (obj >= 0 && v.alternateAccess.empty() && controls_->owns(obj)) {
                // SBO is a select (it takes the value lock itself).
                lock.unlock();
                const bool ok = controls_->read(c.id, obj, whole);
                lock.lock();
                resp.results.push_back(ok ? mms::AccessResult::ok(std::move(whole))
                                          : mms::AccessResult::fail(mms::kObjectNonExistent));
                continue;
            }
            if (obj < 0 || !model::object_data(*model_, obj, whole)) {
                resp.results.push_back(mms::AccessResult::fail(mms::kObjectNonExistent));
                continue;
            }
            if (v.alternateAccess.empty()) {
                reports_->noteRead(obj);
                resp.results.push_back(mms::AccessResult::ok(std::move(whole)));
                continue;
            }
            const RUNTIME_TYPE* first = nullptr;
            int32_t num = 0;
            model_->type_of(obj, first, num);
            Data part;
            int32_t e = selectAlternate(first, whole, v.alternateAccess, part);
            resp.results.push_back(e ? mms::AccessResult::fail(e) : mms::AccessResult::ok(std::move(part)));
        }
    }
    if (r.specWithResult) resp.access = r.access;
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

int32_t Server::writeVariable(Conn& c, AI_OBJ_ID obj, const Data& d) {
    if (reports_->owns(obj)) return reports_->write(c.id, obj, d);
    if (controls_->owns(obj)) return controls_->write(c.id, obj, d);
    if (settings_->owns(obj)) return settings_->write(c.id, obj, d);
    if (logs_->owns(obj)) return logs_->write(c.id, obj, d);
    const int fc = model_->fc(obj);
    const AI_OBJ_TYPE t = model_->type(obj);
    // Process values are the device's own (IEC 61850-8-1: MX, ST read only),
    // so are the active setting group's (SG; settings are edited under SE);
    // whole LNs and FC groups are not written at once.
    if (t == OBJECT_TYPE_LN || t == OBJECT_TYPE_FCN || t == OBJECT_TYPE_CB) return mms::kObjectAccessDenied;
    if (fc == model::FC_MX || fc == model::FC_ST || fc == model::FC_CO || fc == model::FC_BR || fc == model::FC_RP ||
        fc == model::FC_LG || fc == model::FC_GO || fc == model::FC_MS || fc == model::FC_SG)
        return mms::kObjectAccessDenied;
    return model::store_object(*model_, obj, d, model::ValueSource::Write);
}

Pdu Server::write(Conn& c, uint32_t id, const mms::WriteRequest& r) {
    mms::WriteResponse resp;
    std::vector<AI_OBJ_ID> targets;
    if (r.access.isListName) {
        const mms::ObjectName& n = r.access.listName;
        const AI_OBJ_ID ds = n.scope == mms::ObjectName::Scope::Domain ? model_->find(n.domain + "/" + n.item) : -1;
        const AI_DS_CTRL* d = ds >= 0 ? model_->data_set(ds) : nullptr;
        if (!d) return confirmedError(id, mms::kDefinition, kDefObjectUndefined);
        targets.assign(d->mb_ids, d->mb_ids + d->mb_num);
    } else {
        for (const mms::VariableRef& v : r.access.variables)
            targets.push_back(v.alternateAccess.empty() ? resolve(v.name) : -2);
    }
    if (targets.size() != r.data.size()) {
        mms::RejectPdu rj;
        rj.invokeId = id;
        rj.reasonKind = 1;
        rj.code = 4;   // invalid-argument: as many values as variables
        return Pdu(rj);
    }
    for (size_t k = 0; k < targets.size(); ++k) {
        int32_t e = targets[k] == -2 ? mms::kObjectAccessUnsupported
                    : targets[k] < 0 ? mms::kObjectNonExistent
                                     : writeVariable(c, targets[k], r.data[k]);
        if (e) {
            resp.results.push_back(mms::WriteResult{false, e});
            log_.line("connection " + std::to_string(c.id) + ": write of " +
                      (targets[k] >= 0 ? model_->reference(targets[k]) : std::string("an unknown variable")) +
                      " refused (DataAccessError " + std::to_string(e) + ")");
        } else {
            resp.results.push_back(mms::WriteResult{true, 0});
            log_.debug("connection " + std::to_string(c.id) + ": wrote " + model_->reference(targets[k]));
        }
        reports_->scan();   // a written value may be a data set member
    }
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

// ---- files -------------------------------------------------------------------------

Pdu Server::fileDirectory(Conn& c, uint32_t id, const mms::FileDirectoryRequest& r) {
    std::vector<FileEntry> all;
    const std::string what = r.fileSpec ? joinName(*r.fileSpec) : std::string();
    if (!store_.list(what, all)) return confirmedError(id, mms::kFile, kFileNonExistent);
    mms::FileDirectoryResponse resp;
    const std::string after = r.continueAfter ? joinName(*r.continueAfter) : std::string();
    size_t used = kPduOverhead;
    for (const FileEntry& e : all) {
        if (r.continueAfter && e.name <= after) continue;
        used += e.name.size() + 40;
        if (used > c.maxPdu || (cfg_.dirPage && resp.entries.size() >= cfg_.dirPage)) {
            resp.moreFollows = true;
            break;
        }
        mms::DirectoryEntry d;
        d.name = {e.name};
        d.attributes.sizeOfFile = uint32_t(std::min<uint64_t>(e.size, UINT32_MAX));
        d.attributes.lastModified = fileTimeText(e, cfg_.fileTimes);
        resp.entries.push_back(std::move(d));
    }
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

Pdu Server::fileOpen(Conn& c, uint32_t id, const mms::FileOpenRequest& r) {
    auto rel = FileStore::relativePath(r.name);
    if (!rel) return confirmedError(id, mms::kFile, kFileNameSyntax);
    FileEntry fe;
    if (!store_.stat(*rel, fe)) return confirmedError(id, mms::kFile, kFileNonExistent);
    if (c.files.size() >= kMaxOpenFiles) return confirmedError(id, mms::kResource, kResourceCapabilityUnavailable);
    if (r.initialPosition > fe.size) return confirmedError(id, mms::kFile, kFilePositionInvalid);
    int fd = ::open(store_.fullPath(*rel).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return confirmedError(id, mms::kFile, kFileAccessDenied);
    if (r.initialPosition && ::lseek(fd, off_t(r.initialPosition), SEEK_SET) < 0) {
        ::close(fd);
        return confirmedError(id, mms::kFile, kFilePositionInvalid);
    }
    const int32_t frsm = c.nextFrsm++;
    c.files[frsm] = Conn::Frsm{*rel, fd, fe.size, r.initialPosition};
    log_.line("connection " + std::to_string(c.id) + ": file " + *rel + " opened (FRSM " + std::to_string(frsm) + ")");
    mms::FileOpenResponse resp;
    resp.frsmId = frsm;
    resp.attributes.sizeOfFile = uint32_t(std::min<uint64_t>(fe.size, UINT32_MAX));
    resp.attributes.lastModified = fileTimeText(fe, cfg_.fileTimes);
    return Pdu(mms::ConfirmedResponse{id, resp});
}

Pdu Server::fileRead(Conn& c, uint32_t id, const mms::FileReadRequest& r) {
    auto it = c.files.find(r.frsmId);
    if (it == c.files.end()) return confirmedError(id, mms::kFile, kFileOther);
    const size_t chunk = c.maxPdu > kPduOverhead + 16 ? c.maxPdu - kPduOverhead : 16;
    mms::FileReadResponse resp;
    resp.data.resize(chunk);
    ssize_t n;
    do n = ::read(it->second.fd, resp.data.data(), chunk);
    while (n < 0 && errno == EINTR);
    if (n < 0) return confirmedError(id, mms::kFile, kFileAccessDenied);
    resp.data.resize(size_t(n));
    it->second.read += uint64_t(n);
    // More follows unless this read reached the end of the file.
    struct stat st;
    const off_t pos = ::lseek(it->second.fd, 0, SEEK_CUR);
    resp.moreFollows = ::fstat(it->second.fd, &st) == 0 && pos < st.st_size && n > 0;
    return Pdu(mms::ConfirmedResponse{id, std::move(resp)});
}

Pdu Server::fileClose(Conn& c, uint32_t id, const mms::FileCloseRequest& r) {
    auto it = c.files.find(r.frsmId);
    if (it == c.files.end()) return confirmedError(id, mms::kFile, kFileOther);
    log_.line("connection " + std::to_string(c.id) + ": file " + it->second.rel + " closed (" +
              std::to_string(it->second.read) + " of " + std::to_string(it->second.size) + " octets read)");
    ::close(it->second.fd);
    c.files.erase(it);
    return Pdu(mms::ConfirmedResponse{id, mms::FileCloseResponse{}});
}

Pdu Server::fileDelete(Conn& c, uint32_t id, const mms::FileDeleteRequest& r) {
    auto rel = FileStore::relativePath(r.name);
    if (!rel) return confirmedError(id, mms::kFile, kFileNameSyntax);
    for (auto& other : conns_)
        for (auto& f : other.second->files)
            if (f.second.rel == *rel) return confirmedError(id, mms::kFile, kFileBusy);
    if (!store_.remove(*rel))
        return confirmedError(id, mms::kFile, errno == ENOENT ? kFileNonExistent : kFileAccessDenied);
    log_.line("connection " + std::to_string(c.id) + ": file " + *rel + " deleted");
    return Pdu(mms::ConfirmedResponse{id, mms::FileDeleteResponse{}});
}

// ObtainFile (ISO 9506-2 clause 11.2.3 as IEC 61850-8-1 SetFile uses it): we
// read the source file from the client with our own FileOpen, FileRead and
// FileClose requests, then store it and answer the client's request.
bool Server::startObtain(Conn& c, uint32_t id, const mms::ObtainFileRequest& r, Pdu& error) {
    auto dest = FileStore::relativePath(r.destination);
    FileEntry fe;
    if (c.obtain) error = confirmedError(id, mms::kService, kServiceObjectStateConflict);
    else if (!dest || r.source.empty()) error = confirmedError(id, mms::kFile, kFileNameSyntax);
    else if (store_.stat(*dest, fe)) error = confirmedError(id, mms::kFile, kFileDuplicate);
    else {
        c.obtain = std::make_unique<Conn::Obtain>();
        c.obtain->clientInvoke = id;
        c.obtain->source = r.source;
        c.obtain->dest = *dest;
        c.obtain->pending = c.nextInvoke++;
        c.obtain->due = nowMs() + kObtainTimeoutMs;
        log_.line("connection " + std::to_string(c.id) + ": obtaining " + joinName(r.source) + " from the client as " +
                  *dest);
        sendPdu(c, Pdu(mms::ConfirmedRequest{c.obtain->pending, mms::FileOpenRequest{r.source, 0}}));
        return true;
    }
    return false;
}

void Server::obtainFailed(Conn& c, int32_t fileCode, const std::string& why) {
    if (!c.obtain) return;
    log_.line("connection " + std::to_string(c.id) + ": obtaining " + c.obtain->dest + " failed: " + why);
    sendPdu(c, confirmedError(c.obtain->clientInvoke, mms::kFile, fileCode));
    c.obtain.reset();
}

void Server::onClientResponse(Conn& c, const Pdu& pdu) {
    Conn::Obtain* o = c.obtain.get();
    uint32_t invoke = 0;
    if (auto* r = std::get_if<mms::ConfirmedResponse>(&pdu)) invoke = r->invokeId;
    else if (auto* e = std::get_if<mms::ConfirmedError>(&pdu)) invoke = e->invokeId;
    else if (auto* j = std::get_if<mms::RejectPdu>(&pdu)) invoke = j->invokeId.value_or(0);
    if (!o || invoke != o->pending) {
        log_.line("connection " + std::to_string(c.id) + ": unexpected " + mms::describe(pdu) + " ignored");
        return;
    }
    if (auto* e = std::get_if<mms::ConfirmedError>(&pdu)) {
        if (o->closing) {   // the file was read completely; a failed close does not spoil it
        } else {
            obtainFailed(c, e->error.errorClass == mms::kFile ? e->error.code : kFileAccessDenied,
                         "the client answered with error class " + std::to_string(e->error.errorClass));
            return;
        }
    } else if (std::holds_alternative<mms::RejectPdu>(pdu)) {
        obtainFailed(c, kFileAccessDenied, "the client rejected our request");
        return;
    }
    o->due = nowMs() + kObtainTimeoutMs;
    const auto* resp = std::get_if<mms::ConfirmedResponse>(&pdu);
    if (resp && std::holds_alternative<mms::FileOpenResponse>(resp->service)) {
        const auto& fo = std::get<mms::FileOpenResponse>(resp->service);
        if (fo.attributes.sizeOfFile > kMaxObtainedFile) {
            obtainFailed(c, kFileAccessDenied, "file of " + std::to_string(fo.attributes.sizeOfFile) + " octets is too large");
            return;
        }
        o->frsm = fo.frsmId;
        o->pending = c.nextInvoke++;
        sendPdu(c, Pdu(mms::ConfirmedRequest{o->pending, mms::FileReadRequest{o->frsm}}));
        return;
    }
    if (resp && std::holds_alternative<mms::FileReadResponse>(resp->service)) {
        const auto& fr = std::get<mms::FileReadResponse>(resp->service);
        if (o->data.size() + fr.data.size() > kMaxObtainedFile) {
            obtainFailed(c, kFileAccessDenied, "file larger than " + std::to_string(kMaxObtainedFile) + " octets");
            return;
        }
        o->data.insert(o->data.end(), fr.data.begin(), fr.data.end());
        o->pending = c.nextInvoke++;
        if (fr.moreFollows) {
            sendPdu(c, Pdu(mms::ConfirmedRequest{o->pending, mms::FileReadRequest{o->frsm}}));
        } else {
            o->closing = true;
            sendPdu(c, Pdu(mms::ConfirmedRequest{o->pending, mms::FileCloseRequest{o->frsm}}));
        }
        return;
    }
    if (o->closing) {
        std::string why;
        FileEntry fe;
        if (store_.stat(o->dest, fe)) {
            obtainFailed(c, kFileDuplicate, "the destination appeared meanwhile");
            return;
        }
        if (!store_.write(o->dest, o->data, why)) {
            obtainFailed(c, kFileAccessDenied, why);
            return;
        }
        log_.line("connection " + std::to_string(c.id) + ": obtained " + o->dest + " (" + std::to_string(o->data.size()) +
                  " octets)");
        sendPdu(c, Pdu(mms::ConfirmedResponse{o->clientInvoke, mms::ObtainFileResponse{}}));
        c.obtain.reset();
        return;
    }
    obtainFailed(c, kFileOther, "the client answered with " + mms::describe(pdu));
}

// ---- ReportSink ------------------------------------------------------------------------

bool Server::connected(int conn) const {
    auto it = conns_.find(conn);
    return it != conns_.end() && !it->second->dead && it->second->associated &&
           it->second->assoc->state() == iso::AssociationState::Associated;
}

size_t Server::maxPdu(int conn) const {
    auto it = conns_.find(conn);
    return it == conns_.end() ? cfg_.pduSize : it->second->maxPdu;
}

size_t Server::backlog(int conn) const {
    auto it = conns_.find(conn);
    return it == conns_.end() ? 0 : it->second->assoc->output().size;
}

void Server::sendReport(int conn, const std::vector<uint8_t>& pdu) {
    auto it = conns_.find(conn);
    if (it == conns_.end()) return;
    (void)it->second->assoc->sendData(iso::ByteView(pdu.data(), pdu.size()));
}

std::vector<uint8_t> Server::peerAddress(int conn) const {
    auto it = conns_.find(conn);
    return it == conns_.end() ? std::vector<uint8_t>() : it->second->peerIp;
}

// ---- control channel ---------------------------------------------------------------------

void Server::acceptControl() {
    for (;;) {
        int fd = ::accept4(controlFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        if (ctls_.size() >= kMaxControlClients) {
            ::close(fd);
            continue;
        }
        auto k = std::make_unique<Ctl>();
        k->fd = fd;
        ctls_.push_back(std::move(k));
    }
}

void Server::readControl(Ctl& k) {
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(k.fd, buf, sizeof buf, 0);
        if (n == 0) {
            k.closeAfter = true;
            return;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) k.closeAfter = true;
            break;
        }
        k.in.append(buf, size_t(n));
    }
    size_t nl;
    while ((nl = k.in.find('\n')) != std::string::npos) {
        std::string line = k.in.substr(0, nl);
        k.in.erase(0, nl + 1);
        if (k.discarding) {
            k.discarding = false;
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > kMaxControlLine) {
            k.out += "ERR line longer than " + std::to_string(kMaxControlLine) + " bytes\n";
            continue;
        }
        k.out += command(line) + "\n";
    }
    if (k.in.size() > kMaxControlLine) {
        k.in.clear();
        k.discarding = true;
        k.out += "ERR line longer than " + std::to_string(kMaxControlLine) + " bytes\n";
    }
}

std::string Server::command(const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    auto netIndex = [&](const std::string& name, size_t& out) {
        if (name.size() != 1) return false;
        const char ch = char(std::toupper(static_cast<unsigned char>(name[0])));
        if (ch < 'A' || size_t(ch - 'A') >= nets_.size()) return false;
        out = size_t(ch - 'A');
        return true;
    };
    if (cmd.empty()) return "ERR empty command";
    if (cmd == "ping") return "OK pong";
    if (cmd == "stop") {
        log_.line("stop requested through the control channel");
        requestStop();
        return "OK stopping";
    }
    if (cmd == "set") {
        std::string ref, value;
        in >> ref;
        std::getline(in, value);
        while (!value.empty() && value.front() == ' ') value.erase(value.begin());
        if (ref.empty()) return "ERR usage: set REF VALUE";
        std::string why;
        const AI_OBJ_ID rid = model_->find(ref);
        if (rid >= 0 && reports_->owns(rid)) {
            // A report control block's setting changes in the block itself.
            const RUNTIME_TYPE* rt = nullptr;
            int32_t num = 0;
            uint8_t buf[AI_SIZE_UNISTRING255] = {};
            if (!model_->type_of(rid, rt, num) || rt->el_tag != RT_PRIMITIVE) return "ERR '" + ref + "' is not a primitive attribute";
            const AI_VAL_TYPE vt = AI_VAL_TYPE(rt->u.p.pad);
            if (model::text_to_value(vt, value, buf) != 0) return "ERR '" + value + "' is no value of that type";
            const int32_t e = reports_->configure(rid, model::primitive_data(vt, buf));
            if (e == 0) {
                log_.line("control: " + ref + " set to " + value);
                return "OK";
            }
            // Not a setting (GI, PurgeBuf, ...): the value alone changes,
            // until the block writes its own again.
            if (e != mms::kObjectAccessDenied) return "ERR " + ref + " not changed: " + mms::dataAccessErrorName(e);
        }
        if (!sim_->set(ref, value, why)) return "ERR " + why;
        log_.line("control: " + ref + " set to " + value);
        reports_->scan();
        return "OK";
    }
    if (cmd == "get") {
        std::string ref, text;
        in >> ref;
        const AI_OBJ_ID id = model_->find(ref);
        if (id < 0) return "ERR no object '" + ref + "'";
        if (model_->read_text(id, text) != 0) return "ERR '" + ref + "' is not a primitive attribute";
        return "OK " + text;
    }
    if (cmd == "step") {
        unsigned long n = 1;
        std::string arg;
        if (in >> arg) {
            if (arg.empty() || arg.size() > 6 || arg.find_first_not_of("0123456789") != std::string::npos)
                return "ERR usage: step [N] (N up to 999999)";
            n = std::stoul(arg);
        }
        for (unsigned long k = 0; k < n; ++k) {
            sim_->step();
            reports_->scan();
        }
        return "OK";
    }
    if (cmd == "burst") {
        std::string ref, arg;
        in >> ref >> arg;
        const AI_OBJ_ID id = model_->find(ref);
        std::vector<model::Primitive> prims;
        if (id < 0 || !model_->primitives(id, prims) || prims.size() != 1)
            return "ERR usage: burst REF N (REF a primitive attribute)";
        if (arg.empty() || arg.size() > 7 || arg.find_first_not_of("0123456789") != std::string::npos)
            return "ERR usage: burst REF N (N up to 9999999)";
        const unsigned long n = std::stoul(arg);
        const model::Primitive p = prims[0];
        if (p.type != VAL_TYPE_BOOLEAN && p.type != VAL_TYPE_INT32 && p.type != VAL_TYPE_FLOAT32)
            return "ERR burst needs a BOOLEAN, INT32 or FLOAT32 attribute";
        for (unsigned long k = 0; k < n; ++k) {
            {
                std::unique_lock<std::shared_mutex> lock(model_->value_mutex());
                if (p.type == VAL_TYPE_BOOLEAN) p.data[0] = p.data[0] ? 0 : 1;
                else if (p.type == VAL_TYPE_INT32) {
                    int32_t v;
                    std::memcpy(&v, p.data, 4);
                    v = v == INT32_MAX ? 0 : v + 1;
                    std::memcpy(p.data, &v, 4);
                } else {
                    float f;
                    std::memcpy(&f, p.data, 4);
                    f += 1.0f;
                    std::memcpy(p.data, &f, 4);
                }
            }
            reports_->scan();
            reports_->tick();
            for (auto& c : conns_)
                if (!c.second->dead) flushConn(*c.second);
        }
        return "OK " + std::to_string(n);
    }
    if (cmd == "record") {
        const uint64_t before = recordings_;
        lastRecording_.clear();
        record();
        if (recordings_ == before || lastRecording_.empty()) return "ERR recording failed";
        std::string answer = "OK";
        for (const std::string& n : lastRecording_) answer += " " + n;
        return answer;
    }
    if (cmd == "drop" || cmd == "refuse" || cmd == "accept" || cmd == "conns") {
        std::string name;
        in >> name;
        size_t net = 0;
        if (!netIndex(name, net)) return "ERR unknown network '" + name + "' (A.." + char('A' + nets_.size() - 1) + ")";
        if (cmd == "conns") {
            size_t n = 0;
            for (auto& c : conns_) n += c.second->net == net && !c.second->dead;
            return "OK " + std::to_string(n);
        }
        if (cmd == "drop") {
            size_t n = 0;
            for (auto& c : conns_)
                if (c.second->net == net && !c.second->dead) {
                    closeConn(*c.second, "dropped by control command");
                    ++n;
                }
            return "OK " + std::to_string(n);
        }
        Net& nt = nets_[net];
        if (cmd == "refuse") {
            if (nt.fd >= 0) ::close(nt.fd);
            nt.fd = -1;
            nt.refusing = true;
            log_.line(std::string("network ") + char('A' + net) + " refuses new connections");
            return "OK";
        }
        if (nt.fd < 0) {
            std::string why;
            if (!bindNet(nt, why)) return "ERR " + why;
        }
        nt.refusing = false;
        log_.line(std::string("network ") + char('A' + net) + " accepts new connections");
        return "OK";
    }
    if (cmd == "rcb") {
        std::string ref;
        in >> ref;
        if (ref.empty()) return "ERR usage: rcb REF";
        const AI_OBJ_ID id = model_->find(ref);
        ReportEngine::Counts n;
        if (id < 0 || !reports_->counts(id, n)) return "ERR no report control block '" + ref + "'";
        return "OK ena=" + std::to_string(int(n.ena)) + " owner=" + std::to_string(n.owner) +
               " reads=" + std::to_string(n.reads) + " ena-writes=" + std::to_string(n.enaWrites) +
               " gi-writes=" + std::to_string(n.giWrites);
    }
    if (cmd == "ctlnext" || cmd == "ctl") {
        std::string ref, what, text;
        in >> ref >> what;
        if (cmd == "ctl") return controls_->describe(ref, text) ? "OK " + text : "ERR no controllable object '" + ref + "'";
        if (ref.empty() || what.empty()) return "ERR usage: ctlnext REF ok|silent|ADDCAUSE";
        if (!controls_->setNext(ref, what, text)) return "ERR " + text;
        log_.line("control: next operation of " + ref + ": " + what);
        return "OK";
    }
    if (cmd == "malform") {
        std::string ref, kind;
        in >> ref >> kind;
        if (ref.empty() || kind.empty()) {
            std::string kinds;
            for (const char* const* k = ReportEngine::kMalformKinds; *k; ++k) kinds += std::string(kinds.empty() ? "" : "|") + *k;
            return "ERR usage: malform REF " + kinds;
        }
        const AI_OBJ_ID id = model_->find(ref);
        if (id < 0) return "ERR no report control block '" + ref + "'";
        const std::string why = reports_->malform(id, kind);
        if (!why.empty()) return "ERR " + why;
        for (auto& c : conns_)
            if (!c.second->dead) flushConn(*c.second);
        return "OK";
    }
    if (cmd == "journal") {
        std::string ref;
        in >> ref;
        const long n = logs_->entries(ref);
        return n < 0 ? "ERR no journal '" + ref + "'" : "OK " + std::to_string(n);
    }
    if (cmd == "status") {
        std::string s = "OK ied=" + cfg_.ied;
        for (size_t i = 0; i < nets_.size(); ++i) {
            size_t n = 0;
            for (auto& c : conns_) n += c.second->net == i && !c.second->dead;
            s += std::string(" ") + char('A' + i) + "=" + std::to_string(n) + (nets_[i].refusing ? "/refusing" : "");
        }
        s += " reports=" + std::to_string(reports_->reportsSent());
        return s;
    }
    return "ERR unknown command '" + cmd + "'";
}

}  // namespace zv::iedsim
