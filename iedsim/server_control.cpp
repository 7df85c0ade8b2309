#include "server_private.h"

#include "model/mms_values.h"
#include "model/values.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <sstream>

namespace zv::iedsim {

namespace {

constexpr size_t kMaxControlLine = 4096;  // bytes of one control command
constexpr size_t kMaxControlClients = 16;

}  // namespace

// ---- control channel ---------------------------------------------------------------------

void Server::acceptControl() {
    for (;;) {
        UniqueFd fd(::accept4(controlFd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) return;
        if (ctls_.size() >= kMaxControlClients) continue;  // turned away: closed here
        auto k = std::make_unique<Ctl>();
        k->fd = std::move(fd);
        ctls_.push_back(std::move(k));
    }
}

void Server::readControl(Ctl& k) {
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(k.fd.get(), buf, sizeof buf, 0);
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
            if (!model_->type_of(rid, rt, num) || rt->el_tag != RT_PRIMITIVE)
                return "ERR '" + ref + "' is not a primitive attribute";
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
                if (p.type == VAL_TYPE_BOOLEAN)
                    p.data[0] = p.data[0] ? 0 : 1;
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
            nt.fd.reset();
            nt.refusing = true;
            log_.line(std::string("network ") + char('A' + net) + " refuses new connections");
            return "OK";
        }
        if (!nt.fd) {
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
        if (cmd == "ctl")
            return controls_->describe(ref, text) ? "OK " + text : "ERR no controllable object '" + ref + "'";
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
            for (const char* const* k = ReportEngine::kMalformKinds; *k; ++k)
                kinds += std::string(kinds.empty() ? "" : "|") + *k;
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
