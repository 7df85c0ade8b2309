// Report control blocks (IEC 61850-7-2 clause 17, mapped by IEC 61850-8-1
// clause 17): every BRCB and URCB instance of the model, their attribute
// rules, change detection over the data sets, and the InformationReports.
//
// Report (8-1 17.2.3, variableListName vmd-specific "RPT"), fields in order,
// the bracketed ones when the OptFlds bit is set:
//   RptID, OptFlds, [SqNum], [TimeOfEntry], [DatSet], [BufOvfl], [EntryID],
//   [ConfRev], [SubSeqNum, MoreSegmentsFollow], Inclusion, [data-reference...],
//   value..., [ReasonCode...]
#pragma once

#include "device.h"
#include "log.h"
#include "model/ied_model.h"
#include "mms/pdu.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zv::iedsim {

// OptFlds and TrgOps/ReasonCode bit numbers (bit 0 = first bit on the wire).
enum OptBit {
    kOptSeqNum = 1,
    kOptTimeStamp = 2,
    kOptReason = 3,
    kOptDataSet = 4,
    kOptDataRef = 5,
    kOptBufOvfl = 6,
    kOptEntryId = 7,
    kOptConfRev = 8,
    kOptSegmentation = 9
};
enum TrgBit { kTrgDchg = 1, kTrgQchg = 2, kTrgDupd = 3, kTrgIntegrity = 4, kTrgGi = 5 };

constexpr size_t kMaxBufferedEntries = 1000;    // per BRCB; the oldest goes first (BufOvfl)
constexpr size_t kUrcbBacklogLimit = 4u << 20;  // unbuffered reports are dropped beyond this queue
constexpr size_t kBrcbBacklogLimit = 1u << 20;  // buffered entries wait while the queue is longer
constexpr int kNoOwner = -1;                    // Rcb::owner: nobody holds the block
constexpr int kOtherClient = -2;                // Rcb::owner: a client that is not connected here
constexpr int kLocalConfig = -3;                // writeAttr: the device's own configuration

// What the engine needs from the connections.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual bool connected(int conn) const = 0;
    virtual size_t maxPdu(int conn) const = 0;
    virtual size_t backlog(int conn) const = 0;
    virtual void sendReport(int conn, const std::vector<uint8_t>& pdu) = 0;
    virtual std::vector<uint8_t> peerAddress(int conn) const = 0;  // 4 octets for Owner
};

class ReportEngine {
public:
    ReportEngine(model::IedModel& m, Log& log, ReportSink& sink, const DeviceProfile& device = DeviceProfile{});
    ~ReportEngine();

    int64_t now() const;  // ms since the epoch (tests may override through setClock)
    void setClock(int64_t (*clock)()) { clock_ = clock; }

    // Looks for value changes since the last scan and reports them.
    void scan();
    // Runs due timers (buffer time, integrity) and sends waiting entries.
    void tick();
    // Milliseconds until the next timer (-1: none).
    int64_t nextDeadlineMs() const;

    // True when the object is (inside) a report control block.
    bool owns(AI_OBJ_ID id) const;
    // Writes an RCB attribute for a connection; 0 or a DataAccessError.
    int32_t write(int conn, AI_OBJ_ID id, const mms::Data& value);
    // Changes an RCB attribute as the device's own configuration does (the
    // control channel): no client's reservation or enable stands in the way.
    int32_t configure(AI_OBJ_ID id, const mms::Data& value);
    void connectionClosed(int conn);
    // Marks a block as held by a client that is not connected here: a URCB
    // reserved, a BRCB enabled. False for an unknown reference.
    bool holdForOtherClient(const std::string& ref);

    size_t rcbCount() const;

    // What clients asked of one block, for the control channel's "rcb": reads
    // of the whole block (a client reading it before it changes it) and writes
    // of RptEna and GI with the value true, whether they were taken or not.
    struct Counts {
        bool ena = false;
        int owner = -1;
        uint64_t reads = 0, enaWrites = 0, giWrites = 0;
    };
    bool counts(AI_OBJ_ID id, Counts& out) const;
    // Called for every read of a variable; counts the reads of whole blocks.
    void noteRead(AI_OBJ_ID id);
    uint64_t reportsSent() const { return reportsSent_; }
    // Called by scan() with every data set whose members changed and their
    // reasons (TrgBit masks per member, 0: unchanged): the logs record them.
    void onDataSetChange(std::function<void(AI_OBJ_ID, const std::vector<uint8_t>&)> fn) { dsChanged_ = std::move(fn); }
    uint64_t reportsDropped() const { return reportsDropped_; }
    // The way of every buffered entry, one line each (--entry-log):
    // "MS gen REF ID" (into the buffer), "MS sent REF ID CONN", "MS ovfl REF ID"
    // (pushed out of a full buffer), "MS purge REF ID" (PurgeBuf, or a
    // DatSet/TrgOps change); MS the time in ms since the epoch, ID 16 hex digits.
    void onEntry(std::function<void(const std::string&)> fn) { entryLog_ = std::move(fn); }
    // Sends the client holding block `id` one malformed report: "" when sent,
    // else why not. Kinds (kMalformKinds): wrong-type (a value of another
    // type than its member's), header-type (OptFlds not a bit string),
    // truncated (the PDU cut in half), oversized (over the negotiated PDU
    // size), unknown-rptid, inclusion (a value fewer than the inclusion
    // names), entryid-back (the EntryID of the last entry sent, again).
    std::string malform(AI_OBJ_ID id, const std::string& kind);
    static const char* const kMalformKinds[];

    struct Rcb;
    struct DsWatch;

private:
    void deliver(Rcb& r, std::vector<uint8_t> reasons);
    void flushPending(Rcb& r);
    void sendEntries(Rcb& r);
    void sendOne(Rcb& r, const struct Entry& e);
    void sync(Rcb& r);
    void addEvent(Rcb& r, size_t member, uint8_t reasons);
    int32_t writeAttr(int conn, Rcb& r, const std::string& attr, const mms::Data& v, bool local = false);
    void noteEntry(const char* what, const Rcb& r, uint64_t id, const std::string& more = std::string());
    void purge(Rcb& r);

    model::IedModel& m_;
    Log& log_;
    ReportSink& sink_;
    DeviceProfile device_;
    int64_t (*clock_)() = nullptr;
    std::vector<std::unique_ptr<Rcb>> rcbs_;
    std::vector<std::unique_ptr<DsWatch>> watches_;
    uint64_t nextEntryId_ = 1;
    uint64_t reportsSent_ = 0;
    uint64_t reportsDropped_ = 0;
    std::function<void(AI_OBJ_ID, const std::vector<uint8_t>&)> dsChanged_;
    std::function<void(const std::string&)> entryLog_;
};

}  // namespace zv::iedsim
