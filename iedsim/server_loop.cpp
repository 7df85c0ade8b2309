#include "server_private.h"

#include "codec.h"
#include "tls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zv::iedsim {

namespace {

constexpr size_t kMaxQueuedOutput = 8u << 20;  // per association, before we stop reading its requests

std::string errnoText(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

}  // namespace

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
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        why = errnoText("pipe2");
        return nullptr;
    }
    s->wake_[0].reset(wake[0]);
    s->wake_[1].reset(wake[1]);
    if (!cfg.tlsCert.empty() && !(s->tls_ = serverContext(cfg, why))) return nullptr;
    s->sim_ = std::make_unique<Simulator>(*s->model_, cfg.seed);
    s->reports_ = std::make_unique<ReportEngine>(*s->model_, s->log_, *s, cfg.device);
    if (!cfg.entryLog.empty()) {
        s->entryLog_ = std::fopen(cfg.entryLog.c_str(), "ae");
        if (!s->entryLog_) {
            why = "cannot open entry log '" + cfg.entryLog + "': " + std::strerror(errno);
            return nullptr;
        }
        std::setvbuf(s->entryLog_, nullptr, _IOLBF, 0);  // a killed simulator loses no line
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
        s->nets_.push_back(std::move(n));
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
        // Whoever waits for the port file takes it as the sign that we serve:
        // it is there whole, or we do not start.
        const bool written = std::fputs(s->endpointsText().c_str(), f) >= 0;
        if (std::fclose(f) != 0 || !written || std::rename(tmp.c_str(), cfg.portFile.c_str()) != 0) {
            why = "cannot write port file '" + cfg.portFile + "': " + std::strerror(errno);
            std::remove(tmp.c_str());
            return nullptr;
        }
    }
    s->log_.line("serving IED " + cfg.ied + " of " + cfg.scl + ": " + std::to_string(s->model_->object_count()) +
                 " objects, " + std::to_string(s->reports_->rcbCount()) + " report control blocks, " +
                 std::to_string(s->sim_->analogueCount()) + " analogue and " + std::to_string(s->sim_->statusCount()) +
                 " status values simulated, " + std::to_string(s->controls_->count()) + " controllable objects, " +
                 std::to_string(s->settings_->count()) + " setting group and " + std::to_string(s->logs_->lcbCount()) +
                 " log control blocks; device: " + device);
    return s;
}

// The descriptors (connections, their open files, control clients,
// listeners, the wake-up pipe) close with their owners.
Server::~Server() {
    if (!controlPath_.empty()) ::unlink(controlPath_.c_str());
    if (entryLog_) std::fclose(entryLog_);
}

bool Server::bindNet(Net& n, std::string& why) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        why = errnoText("socket");
        return false;
    }
    int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(n.port ? n.port : n.ep.port);
    inet_pton(AF_INET, n.ep.host.c_str(), &a.sin_addr);
    if ((ntohl(a.sin_addr.s_addr) >> 24) != 127) {  // parseEndpoint checked; never bind anything else
        why = "refusing to bind non-loopback address " + n.ep.host;
        return false;
    }
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd.get(), 16) != 0) {
        why = "cannot listen on " + n.ep.host + ":" + std::to_string(ntohs(a.sin_port)) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len);
    n.port = ntohs(a.sin_port);
    n.fd = std::move(fd);
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
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
        ::unlink(path.c_str());
        if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd.get(), 4) != 0) {
            why = "cannot listen on control socket " + path + ": " + std::strerror(errno);
            return false;
        }
        controlFd_ = std::move(fd);
        controlPath_ = path;
        controlAddr_ = c;
        return true;
    }
    Endpoint ep;
    if (!parseEndpoint(c, ep, why)) return false;
    Net n;
    n.ep = ep;
    if (!bindNet(n, why)) return false;
    controlFd_ = std::move(n.fd);
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
    if (wake_[1]) (void)!::write(wake_[1].get(), &b, 1);
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
        fds.push_back(pollfd{wake_[0].get(), POLLIN, 0});
        what.emplace_back(kWake, 0);
        for (size_t i = 0; i < nets_.size(); ++i)
            if (nets_[i].fd) {
                fds.push_back(pollfd{nets_[i].fd.get(), POLLIN, 0});
                what.emplace_back(kNet, long(i));
            }
        if (controlFd_) {
            fds.push_back(pollfd{controlFd_.get(), POLLIN, 0});
            what.emplace_back(kControl, 0);
        }
        for (size_t i = 0; i < ctls_.size(); ++i) {
            fds.push_back(pollfd{ctls_[i]->fd.get(), short(POLLIN | (ctls_[i]->out.empty() ? 0 : POLLOUT)), 0});
            what.emplace_back(kCtl, long(i));
        }
        for (auto& c : conns_) {
            // A client that does not read its answers is not read from either.
            const size_t queued = c.second->assoc->output().size;
            const short in = queued < kMaxQueuedOutput ? POLLIN : 0;
            const bool tlsWaits = c.second->tls && c.second->tls->wants_write();
            fds.push_back(pollfd{c.second->fd.get(), short(in | (queued || tlsWaits ? POLLOUT : 0)), 0});
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
                while (::read(wake_[0].get(), buf, sizeof buf) > 0) {
                }
                stop_ = true;
                break;
            }
            case kNet: acceptOn(size_t(what[i].second)); break;
            case kControl: acceptControl(); break;
            case kCtl: {
                Ctl& k = *ctls_[size_t(what[i].second)];
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) readControl(k);
                if (!k.out.empty() && k.fd) {
                    ssize_t w = ::send(k.fd.get(), k.out.data(), k.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (w > 0)
                        k.out.erase(0, size_t(w));
                    else if (w < 0 && errno != EAGAIN && errno != EINTR)
                        k.closeAfter = true, k.out.clear();
                }
                break;
            }
            case kConn: {
                auto it = conns_.find(int(what[i].second));
                if (it == conns_.end()) break;
                Conn& c = *it->second;
                // TLS: a handshake or read that stopped on a full socket goes on when it drains.
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) || (c.tls && (fds[i].revents & POLLOUT)))
                    readConn(c);
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
                ssize_t w = ::send(k->fd.get(), k->out.data(), k->out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (w > 0) k->out.erase(0, size_t(w));
            }
        reap();
    }
    // Answer a pending "stop" before leaving.
    for (auto& k : ctls_)
        if (!k->out.empty()) (void)!::send(k->fd.get(), k->out.data(), k->out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
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
            it = conns_.erase(it);  // closes the connection and its open files
        } else {
            ++it;
        }
    }
    for (auto it = ctls_.begin(); it != ctls_.end();) {
        if ((*it)->closeAfter && (*it)->out.empty()) {
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
        UniqueFd fd(::accept4(n.fd.get(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) {
            if (errno != EAGAIN && errno != EINTR) log_.line(errnoText("accept"));
            return;
        }
        int one = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Conn>();
        c->id = nextConnId_++;
        c->fd = std::move(fd);
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
            c->tls = std::make_unique<tls::Stream>(tls_.get(), c->fd.get(), false);
            if (!c->tls->ok()) closeConn(*c, c->tls->error());
        }
        conns_[c->id] = std::move(c);
    }
}

void Server::closeConn(Conn& c, const std::string& why) {
    if (c.dead) return;
    c.dead = true;
    if (c.tls) c.tls->shutdown();  // close_notify, not waited for
    log_.line("connection " + std::to_string(c.id) + " closed: " + why);
}

// TLS: the handshake first, then records through the session. An error
// closes the connection with OpenSSL's reason (no certificate, unknown CA...).
ssize_t Server::receive(Conn& c, uint8_t* buf, size_t cap) {
    if (!c.tls) return ::recv(c.fd.get(), buf, cap, 0);
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
    case tls::Io::Failed:
        closeConn(c, "TLS: " + c.tls->error());
        errno = EAGAIN;
        return -1;
    }
    return -1;
}

void Server::readConn(Conn& c) {
    uint8_t buf[16384];  // one TLS record's plaintext at most: nothing stays inside the session
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
        ssize_t n = ::send(c.fd.get(), out.data, out.size, MSG_NOSIGNAL | MSG_DONTWAIT);
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
        case iso::EventKind::Aborted: log_.line("connection " + std::to_string(c.id) + " aborted: " + e.reason); break;
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

}  // namespace zv::iedsim
