// A small blocking MMS client for the iedsim tests: a TCP socket on
// loopback, zv::iso::ClientAssociation and the zv_mms codec. It answers the
// server's FileOpen/FileRead/FileClose requests (ObtainFile) from files it
// holds in memory, and keeps the InformationReports that arrive.
#pragma once

#include "iso/association.h"
#include "mms/pdu.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zv::iedsim::test {

inline int64_t monoMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class TestClient {
public:
    explicit TestClient(int32_t localDetail = 65000) { init_.localDetail = localDetail; }
    ~TestClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    // TCP connect only.
    bool open(const std::string& host, uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, host.c_str(), &a.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
            return false;
        }
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return true;
    }

    // TCP connect plus association; true once the initiate response arrived.
    bool associate(const std::string& host, uint16_t port, int timeoutMs = 5000) {
        if (!open(host, port)) return false;
        init_.servicesSupported.set(mms::svc::kFileOpen);
        init_.servicesSupported.set(mms::svc::kFileRead);
        init_.servicesSupported.set(mms::svc::kFileClose);
        for (size_t b : {mms::cbb::kStr1, mms::cbb::kStr2, mms::cbb::kVnam, mms::cbb::kValt, mms::cbb::kVlis})
            init_.parameterCbb.set(b);
        std::vector<uint8_t> req = mms::encode(mms::Pdu(init_));
        if (!assoc_.connect(iso::ByteView(req.data(), req.size()))) return false;
        const int64_t end = monoMs() + timeoutMs;
        while (!confirmed_ && !closed_ && monoMs() < end) pumpOnce(50);
        return confirmed_;
    }

    const mms::InitiateResponse& initiateResponse() const { return initResp_; }
    bool closed() const { return closed_; }
    iso::ClientAssociation& association() { return assoc_; }

    // Sends a confirmed request and waits for its answer (response, error or reject).
    // The answer stays valid until the next call.
    const std::optional<mms::Pdu>& call(mms::ConfirmedRequestService service, int timeoutMs = 5000) {
        const uint32_t id = nextId_++;
        last_.reset();
        if (sendPdu(mms::Pdu(mms::ConfirmedRequest{id, std::move(service)}))) last_ = await(id, timeoutMs);
        return last_;
    }
    // Sends raw MMS bytes (for malformed requests) and waits for invoke id `id` or any reject.
    const std::optional<mms::Pdu>& callRaw(const std::vector<uint8_t>& bytes, uint32_t id, int timeoutMs = 5000) {
        last_.reset();
        if (assoc_.sendData(iso::ByteView(bytes.data(), bytes.size()))) {
            flush();
            last_ = await(id, timeoutMs, true);
        }
        return last_;
    }
    bool sendPdu(const mms::Pdu& pdu) {
        std::vector<uint8_t> b = mms::encode(pdu);
        if (!assoc_.sendData(iso::ByteView(b.data(), b.size()))) return false;
        flush();
        return true;
    }

    std::optional<mms::InformationReport> waitReport(int timeoutMs = 3000) {
        const int64_t end = monoMs() + timeoutMs;
        while (reports.empty() && !closed_ && monoMs() < end) pumpOnce(int(std::max<int64_t>(1, end - monoMs())));
        if (reports.empty()) return std::nullopt;
        mms::InformationReport r = std::move(reports.front());
        reports.pop_front();
        return r;
    }
    // Collects whatever arrives for a while.
    void idle(int ms) {
        const int64_t end = monoMs() + ms;
        while (!closed_ && monoMs() < end) pumpOnce(int(std::max<int64_t>(1, end - monoMs())));
    }

    bool conclude() {
        sendPdu(mms::Pdu(mms::ConcludeRequest{}));
        const int64_t end = monoMs() + 3000;
        while (!concluded_ && !closed_ && monoMs() < end) pumpOnce(50);
        return concluded_;
    }
    bool release() {
        if (!assoc_.release()) return false;
        flush();
        const int64_t end = monoMs() + 3000;
        while (!closed_ && monoMs() < end) pumpOnce(50);
        return released_;
    }
    // Waits until the server closes the connection.
    bool waitClosed(int timeoutMs = 3000) {
        const int64_t end = monoMs() + timeoutMs;
        while (!closed_ && monoMs() < end) pumpOnce(50);
        return closed_;
    }

    std::deque<mms::InformationReport> reports;
    std::map<std::string, std::vector<uint8_t>> files;  // served to the server's FileOpen
    std::vector<std::string> served;                    // requests the server made, in order
    size_t readChunk = 100;                             // bytes per FileRead answer
    bool refuseFileOpen = false;
    size_t reportCount = 0;  // every report ever received
    bool keepReports = true;

private:
    std::optional<mms::Pdu> await(uint32_t id, int timeoutMs, bool anyReject = false) {
        const int64_t end = monoMs() + timeoutMs;
        while (!closed_ && monoMs() < end) {
            for (auto it = answers_.begin(); it != answers_.end(); ++it) {
                if (matches(*it, id, anyReject)) {
                    mms::Pdu p = std::move(*it);
                    answers_.erase(it);
                    return p;
                }
            }
            pumpOnce(20);
        }
        for (auto it = answers_.begin(); it != answers_.end(); ++it)
            if (matches(*it, id, anyReject)) {
                mms::Pdu p = std::move(*it);
                answers_.erase(it);
                return p;
            }
        return std::nullopt;
    }
    static bool matches(const mms::Pdu& p, uint32_t id, bool anyReject) {
        if (auto* r = std::get_if<mms::ConfirmedResponse>(&p)) return r->invokeId == id;
        if (auto* e = std::get_if<mms::ConfirmedError>(&p)) return e->invokeId == id;
        if (auto* j = std::get_if<mms::RejectPdu>(&p)) return anyReject || j->invokeId == id;
        return false;
    }

    void flush() {
        while (fd_ >= 0 && assoc_.hasOutput()) {
            iso::ByteView out = assoc_.output();
            ssize_t n = ::send(fd_, out.data, out.size, MSG_NOSIGNAL);
            if (n <= 0) {
                closed_ = true;
                return;
            }
            assoc_.consumeOutput(size_t(n));
        }
        if (assoc_.wantsClose() && fd_ >= 0) {
            closed_ = true;
        }
    }

    void pumpOnce(int timeoutMs) {
        flush();
        if (fd_ < 0 || closed_) return;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return;
        uint8_t buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        std::vector<iso::Event> ev = n > 0 ? assoc_.onBytes(iso::ByteView(buf, size_t(n))) : assoc_.onTransportClosed();
        if (n <= 0) closed_ = true;
        for (iso::Event& e : ev) handle(e);
        flush();
    }

    void handle(iso::Event& e) {
        switch (e.kind) {
        case iso::EventKind::AssociateConfirm: {
            auto p = mms::decode(ber::ByteView(e.data.data(), e.data.size()));
            if (p && std::holds_alternative<mms::InitiateResponse>(*p)) {
                initResp_ = std::get<mms::InitiateResponse>(*p);
                confirmed_ = true;
            }
            break;
        }
        case iso::EventKind::Data: {
            auto p = mms::decode(ber::ByteView(e.data.data(), e.data.size()));
            if (!p) break;
            if (auto* rep = std::get_if<mms::InformationReport>(&*p)) {
                ++reportCount;
                if (keepReports) reports.push_back(std::move(*rep));
            } else if (auto* req = std::get_if<mms::ConfirmedRequest>(&*p)) {
                serve(*req);
            } else if (std::holds_alternative<mms::ConcludeResponse>(*p)) {
                concluded_ = true;
            } else {
                answers_.push_back(std::move(*p));
            }
            break;
        }
        case iso::EventKind::ReleaseConfirm: released_ = true; break;
        case iso::EventKind::AssociateRefused:
        case iso::EventKind::Aborted:
        case iso::EventKind::ProtocolError: closed_ = true; break;
        default: break;
        }
    }

    // The client side of ObtainFile.
    void serve(const mms::ConfirmedRequest& req) {
        auto error = [&](int32_t code) {
            mms::ConfirmedError e;
            e.invokeId = req.invokeId;
            e.error.errorClass = mms::kFile;
            e.error.code = code;
            sendPdu(mms::Pdu(e));
        };
        if (auto* o = std::get_if<mms::FileOpenRequest>(&req.service)) {
            served.push_back("open " + (o->name.empty() ? std::string() : o->name[0]));
            auto it = files.find(o->name.empty() ? std::string() : o->name[0]);
            if (refuseFileOpen || it == files.end()) return error(7);
            openName_ = it->first;
            pos_ = 0;
            mms::FileOpenResponse r;
            r.frsmId = 7;
            r.attributes.sizeOfFile = uint32_t(it->second.size());
            r.attributes.lastModified = "20261207080000.000Z";
            sendPdu(mms::Pdu(mms::ConfirmedResponse{req.invokeId, r}));
        } else if (auto* rd = std::get_if<mms::FileReadRequest>(&req.service)) {
            served.push_back("read " + std::to_string(rd->frsmId));
            const std::vector<uint8_t>& data = files[openName_];
            mms::FileReadResponse r;
            const size_t n = std::min(readChunk, data.size() - pos_);
            r.data.assign(data.begin() + long(pos_), data.begin() + long(pos_ + n));
            pos_ += n;
            r.moreFollows = pos_ < data.size();
            sendPdu(mms::Pdu(mms::ConfirmedResponse{req.invokeId, r}));
        } else if (auto* c = std::get_if<mms::FileCloseRequest>(&req.service)) {
            served.push_back("close " + std::to_string(c->frsmId));
            sendPdu(mms::Pdu(mms::ConfirmedResponse{req.invokeId, mms::FileCloseResponse{}}));
        } else {
            mms::RejectPdu rj;
            rj.invokeId = req.invokeId;
            rj.reasonKind = 1;
            rj.code = 1;
            sendPdu(mms::Pdu(rj));
        }
    }

    int fd_ = -1;
    iso::ClientAssociation assoc_{iso::ClientConfig{}};
    mms::InitiateRequest init_;
    mms::InitiateResponse initResp_;
    bool confirmed_ = false, concluded_ = false, released_ = false, closed_ = false;
    uint32_t nextId_ = 1;
    std::vector<mms::Pdu> answers_;
    std::optional<mms::Pdu> last_;
    std::string openName_;
    size_t pos_ = 0;
};

}  // namespace zv::iedsim::test
