// Setting groups (IEC 61850-7-2 clause 16): the SGCB of a logical device
// and NumOfSG groups of the device's settings, the attributes of its LNs under
// FC SE (the edit buffer); FC SG shows the active group, read only.
//
//   write ActSG  = n   SelectActiveSG: SG takes group n, LActTm is stamped
//   write EditSG = n   SelectEditSG: SE takes group n for the writing
//                      association, which then holds it (0 gives it back)
//   write SE values    SetEditSGValue, by the association holding the edit
//   write CnfEdit=true ConfirmEditSGValues: group EditSG takes the SE values
//                      (SG too when it is the active group)
// Refusals are write failures: object-value-invalid for a group outside
// 1..NumOfSG, temporarily-unavailable while another association edits or
// when nothing is being edited, object-access-denied for SG, NumOfSG, LActTm.
//
// The groups start from the configured values: group 1 as the SCL gives
// them, group k a number times k (other types as configured), so that every
// group reads differently.
#pragma once

#include "log.h"

#include "model/ied_model.h"
#include "mms/pdu.h"

#include <memory>
#include <string>
#include <vector>

namespace zv::iedsim {

class SettingGroups {
public:
    SettingGroups(model::IedModel& m, Log& log);
    ~SettingGroups();

    size_t count() const { return sgcbs_.size(); }
    // True for SGCB attributes and the SE and SG settings of an LD with an SGCB.
    bool owns(AI_OBJ_ID id) const;
    // A client's write: 0 or a DataAccessError.
    int32_t write(int conn, AI_OBJ_ID id, const mms::Data& value);
    // An editing association that goes away leaves the edit group unconfirmed.
    void connectionClosed(int conn);

    struct Sgcb;

private:
    Sgcb* sgcbOf(AI_OBJ_ID id, int& fc) const;
    void load(Sgcb& s, size_t group, bool toSe, bool toSg);
    void setByte(AI_OBJ_ID attr, uint8_t v);

    model::IedModel& m_;
    Log& log_;
    std::vector<std::unique_ptr<Sgcb>> sgcbs_;
};

}  // namespace zv::iedsim
