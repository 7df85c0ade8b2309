// Controls (IEC 61850-7-2 clause 20, mapped by IEC 61850-8-1 clause 20):
// every controllable data object of the model (an LN$CO$DO with an Oper),
// run by the control model its CF$ctlModel holds at the time of each request.
//
//   status-only ........ every request refused (AddCause Not-supported)
//   direct-normal ...... Oper
//   sbo-normal ......... read of SBO selects (the answer is the object's
//                        reference, or an empty string when refused), Oper, Cancel
//   direct-enhanced .... Oper, then a CommandTermination
//   sbo-enhanced ....... SBOw selects with the value, Oper (same ctlVal,
//                        ctlNum and origin), Cancel; CommandTermination
//
// A refused Oper, SBOw or Cancel is a write failure preceded by an
// InformationReport of LastApplError (vmd-specific variable):
//   LastApplError { CntrlObj VisString129 (LD/LN$CO$DO$Oper|SBOw|Cancel),
//                   Error Enum, Origin { orCat, orIdent }, ctlNum INT8U, AddCause Enum }
// CommandTermination (8-1 20.x), after the Oper's write response:
//   positive  InformationReport { LD/LN$CO$DO$Oper } = the Oper value
//   negative  InformationReport { LastApplError, LD/LN$CO$DO$Oper }
// A taken Oper changes the status (ST stVal, or MX mxVal of an APC; a Dbpos
// follows a BOOLEAN ctlVal: true on, false off), with the origin, ctlNum and
// time stamp, after the execution time (--ctl-exec-ms) or at operTm.
#pragma once

#include "log.h"
#include "reports.h"

#include "model/ied_model.h"
#include "mms/pdu.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zv::iedsim {

// IEC 61850-7-2 AddCause values used by the simulator.
enum AddCause : int32_t {
    kCauseUnknown = 0,
    kCauseNotSupported = 1,
    kCauseInvalidPosition = 4,
    kCauseBlockedByMode = 8,
    kCauseCommandAlreadyInExecution = 12,
    kCauseAbortionByCancel = 15,
    kCauseTimeLimitOver = 16,
    kCauseObjectNotSelected = 18,
    kCauseObjectAlreadySelected = 19,
    kCauseInconsistentParameters = 26,
    kCauseLockedByOtherClient = 27
};
// IEC 61850-7-2 AddCause by name ("Blocked-by-Mode", case ignored) or number
// 0..27; -1 otherwise.
int32_t addCauseFromText(const std::string& text);

class ControlEngine {
public:
    ControlEngine(model::IedModel& m, Log& log, ReportSink& sink, uint32_t execMs);
    ~ControlEngine();

    size_t count() const { return ctls_.size(); }
    // True for Oper, SBOw, Cancel and SBO of a controllable object (and
    // anything below them).
    bool owns(AI_OBJ_ID id) const;
    // A client's write of Oper, SBOw or Cancel: 0 or the DataAccessError of
    // the refusal (its LastApplError has been sent to the connection then).
    int32_t write(int conn, AI_OBJ_ID id, const mms::Data& value);
    // A client's read of an object owns() is true for: SBO selects
    // (sbo-with-normal-security); the others read as they are stored.
    bool read(int conn, AI_OBJ_ID id, mms::Data& out);
    // Due executions, command terminations and select time-outs.
    void tick();
    // Milliseconds until the next timer (-1: none).
    int64_t nextDeadlineMs() const;
    // Selections and pending operations of a closed connection end.
    void connectionClosed(int conn);

    // Control channel "ctlnext REF WHAT": the next Oper of the object
    // (LD/LN$CO$DO, or the data object under another FC) ends as WHAT says:
    // "ok", "silent" (taken, nothing happens and no termination follows), or
    // an AddCause (enhanced security: a negative termination; normal: the
    // Oper is refused with it). False with a reason.
    bool setNext(const std::string& ref, const std::string& what, std::string& why);
    // Control channel "ctl REF": "model=4 selected=3 operated=2 refused=1
    // selects=2 pending=0".
    bool describe(const std::string& ref, std::string& out) const;

    struct Ctl;

private:
    Ctl* find(AI_OBJ_ID id) const;
    Ctl* findRef(const std::string& ref) const;
    int32_t refuse(int conn, Ctl& c, const char* what, int32_t cause, const mms::Data& value, int32_t error);
    void sendLastApplError(int conn, Ctl& c, const char* what, int32_t cause, const mms::Data& value);
    void terminate(Ctl& c, bool positive, int32_t cause);
    void execute(Ctl& c);
    int32_t ctlModel(const Ctl& c) const;
    bool blocked(const Ctl& c) const;
    int64_t now() const;

    model::IedModel& m_;
    Log& log_;
    ReportSink& sink_;
    uint32_t execMs_;
    std::vector<std::unique_ptr<Ctl>> ctls_;
};

}  // namespace zv::iedsim
