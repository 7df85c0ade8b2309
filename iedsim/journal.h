// Logs (IEC 61850-7-2 clause 17.3, mapped by IEC 61850-8-1 17.3.3): every
// log control block of the model writes the changes of its data set into the
// journal its LogRef names (LD/LogName, the MMS journal LogName of domain
// LD), which ReadJournal serves.
//
// LCB rules: LogEna starts true (the SCL default); DatSet, TrgOps, IntgPd
// and LogRef are written while LogEna is false (temporarily-unavailable
// otherwise; DatSet must name a data set: object-value-invalid);
// OldEntrTm, NewEntrTm, OldEntr, NewEntr follow the journal (read only).
//
// One journal entry per logging event: EntryID (8 octets, increasing),
// TimeOfEntry, and for every member logged two Journal-Variables, the
// member's reference (LD/LN$FC$DO...) with its value, then "ReasonCode"
// (bit string, bits as TrgOps: 1 dchg, 2 qchg, 3 dupd, 4 integrity).
// A journal keeps kMaxJournalEntries, the oldest going first.
//
// ReadJournal: rangeStart (time, or an entry itself), entryToStartAfter (the
// entry; one the journal no longer holds starts after its time), rangeStop
// (time, or a number of entries); an answer holds what fits the PDU size and
// at most `page` entries (0: no limit), with moreFollows when more match.
#pragma once

#include "log.h"

#include "model/ied_model.h"
#include "mms/pdu.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zv::iedsim {

constexpr size_t kMaxJournalEntries = 10000;

class LogEngine {
public:
    LogEngine(model::IedModel& m, Log& log, uint32_t page);
    ~LogEngine();

    size_t lcbCount() const { return lcbs_.size(); }
    // True for a log control block and its attributes.
    bool owns(AI_OBJ_ID id) const;
    int32_t write(int conn, AI_OBJ_ID id, const mms::Data& value);
    // Members of data set `ds` changed, with their reasons (TrgOps bits; 0:
    // unchanged), as the report engine found them.
    void dataSetChanged(AI_OBJ_ID ds, const std::vector<uint8_t>& reasons);
    // Integrity logging.
    void tick();
    int64_t nextDeadlineMs() const;
    // The answer to a ReadJournal request.
    mms::Pdu readJournal(uint32_t invokeId, const mms::ReadJournalRequest& r, size_t maxPdu) const;
    // Entries of journal "LD/LogName" (control channel "journal"), -1 for none.
    long entries(const std::string& ref) const;

    struct Lcb;
    struct Journal;

private:
    void logEntry(Lcb& l, const std::vector<uint8_t>& reasons);
    void sync(Lcb& l);
    Journal& journal(const std::string& ref);

    model::IedModel& m_;
    Log& log_;
    uint32_t page_;
    std::vector<std::unique_ptr<Lcb>> lcbs_;
    std::map<std::string, std::unique_ptr<Journal>> journals_;  // by LogRef
    uint64_t nextEntryId_ = 1;
};

}  // namespace zv::iedsim
