// Sample PDUs of every kind the MMS codec models, shared by the round-trip
// tests and the tshark cross-check.
#pragma once

#include "mms/pdu.h"

#include <functional>
#include <vector>

namespace zv::test {

struct PduRow {
    const char* name;
    std::function<mms::Pdu()> make;
};

const std::vector<PduRow>& pduSamples();

// Pieces of the samples that tests inspect field by field.
mms::VariableAccess twoVariables();
mms::ServiceError fileError();
mms::TypeDescription measurementType();
mms::Pdu confirmedRequest(mms::ConfirmedRequestService s);    // invoke id 0x12345
mms::Pdu confirmedResponse(mms::ConfirmedResponseService s);  // invoke id 0xFFFFFFFF

}  // namespace zv::test
