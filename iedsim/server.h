// The IED simulator: one IED of an SCL file served over MMS on one listener
// per network, a control channel for tests, moving values, report control
// blocks and a file store. Everything runs on the thread that calls run();
// requestStop() may be called from any thread (and from a signal handler
// through stopFd()).
//
// Control channel: one command per line, one answer line each, "OK ..." or
// "ERR reason" (see iedsim/README.md for the commands).
//
// Written in three parts (server_private.h holds what they share):
// server_loop.cpp (start-up, listeners, the poll loop, each connection's I/O,
// timers), server_services.cpp (the MMS services), server_control.cpp (the
// control channel).
#pragma once

#include "config.h"
#include "controls.h"
#include "files.h"
#include "journal.h"
#include "log.h"
#include "reports.h"
#include "settings.h"
#include "simulate.h"

#include "tls/stream.h"

#include "base/unique_fd.h"

#include "iso/association.h"
#include "model/ied_model.h"
#include "mms/pdu.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zv::iedsim {

class Server : public ReportSink {
public:
    // Loads the model, opens the file store and binds every listener (and the
    // control channel). Null with a reason on failure.
    static std::unique_ptr<Server> create(const Config& cfg, std::string& why);
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Serves until requestStop() or the "stop" command; returns 0.
    int run();
    void requestStop();
    // Write end of the wake-up pipe: one byte written there stops run().
    int stopFd() const { return wake_[1].get(); }

    size_t networkCount() const { return nets_.size(); }
    uint16_t port(size_t network) const { return nets_.at(network).port; }
    // "HOST:PORT" or "unix:PATH"; empty without a control channel.
    const std::string& controlAddress() const { return controlAddr_; }
    // Lines "A 127.0.0.1:PORT", ..., "CONTROL ..." as printed at start.
    std::string endpointsText() const;

    // A control command executed directly (same answers as the channel).
    std::string command(const std::string& line);

    model::IedModel& model() { return *model_; }
    const ReportEngine& reports() const { return *reports_; }

    // ReportSink
    bool connected(int conn) const override;
    size_t maxPdu(int conn) const override;
    size_t backlog(int conn) const override;
    void sendReport(int conn, const std::vector<uint8_t>& pdu) override;
    std::vector<uint8_t> peerAddress(int conn) const override;

    struct Conn;
    struct Ctl;

private:
    Server() = default;
    struct Net {
        Endpoint ep;
        UniqueFd fd;  // the listening socket; none while refusing
        uint16_t port = 0;
        bool refusing = false;
    };

    bool bindNet(Net& n, std::string& why);
    bool openControl(std::string& why);
    void acceptOn(size_t net);
    void acceptControl();
    void readConn(Conn& c);
    ssize_t receive(Conn& c, uint8_t* buf, size_t cap);
    void flushConn(Conn& c);
    void closeConn(Conn& c, const std::string& why);
    void reap();
    void handleEvents(Conn& c, std::vector<iso::Event>& events);
    bool admitAssociation(Conn& c);
    void onAssociate(Conn& c, const iso::Bytes& mms);
    void onMms(Conn& c, const iso::Bytes& mms);
    void sendPdu(Conn& c, const mms::Pdu& pdu);
    void answer(Conn& c, const mms::ConfirmedRequest& req);
    void onClientResponse(Conn& c, const mms::Pdu& pdu);
    void obtainFailed(Conn& c, int32_t fileCode, const std::string& why);
    void readControl(Ctl& k);
    int64_t nowMs() const;
    void record();

    // Services; each returns the PDU to send.
    mms::Pdu getNameList(Conn& c, uint32_t id, const mms::GetNameListRequest& r);
    mms::Pdu read(Conn& c, uint32_t id, const mms::ReadRequest& r);
    mms::Pdu write(Conn& c, uint32_t id, const mms::WriteRequest& r);
    mms::Pdu getVarAttr(Conn& c, uint32_t id, const mms::GetVariableAccessAttributesRequest& r);
    mms::Pdu getNvlAttr(Conn& c, uint32_t id, const mms::GetNamedVariableListAttributesRequest& r);
    mms::Pdu fileDirectory(Conn& c, uint32_t id, const mms::FileDirectoryRequest& r);
    mms::Pdu fileOpen(Conn& c, uint32_t id, const mms::FileOpenRequest& r);
    mms::Pdu fileRead(Conn& c, uint32_t id, const mms::FileReadRequest& r);
    mms::Pdu fileClose(Conn& c, uint32_t id, const mms::FileCloseRequest& r);
    mms::Pdu fileDelete(Conn& c, uint32_t id, const mms::FileDeleteRequest& r);
    bool startObtain(Conn& c, uint32_t id, const mms::ObtainFileRequest& r, mms::Pdu& error);
    AI_OBJ_ID resolve(const mms::ObjectName& n) const;
    int32_t writeVariable(Conn& c, AI_OBJ_ID id, const mms::Data& d);

    Config cfg_;
    Log log_;
    FILE* entryLog_ = nullptr;  // --entry-log, line-buffered
    std::unique_ptr<model::IedModel> model_;
    std::unique_ptr<ReportEngine> reports_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<ControlEngine> controls_;
    std::unique_ptr<SettingGroups> settings_;
    std::unique_ptr<LogEngine> logs_;
    FileStore store_;
    std::vector<Net> nets_;
    tls::Context tls_;  // set: every listener serves TLS
    UniqueFd controlFd_;
    std::string controlAddr_;
    std::string controlPath_;  // unix socket to remove at the end
    UniqueFd wake_[2];         // read end, write end
    std::atomic<bool> stop_{false};
    std::map<int, std::unique_ptr<Conn>> conns_;
    std::vector<std::unique_ptr<Ctl>> ctls_;
    int nextConnId_ = 1;
    uint64_t recordings_ = 0;
    std::vector<std::string> lastRecording_;  // names written by the latest record()
    int64_t nextSim_ = 0, nextRecord_ = 0;
};

}  // namespace zv::iedsim
