// Model values as MMS carries them, client side: the conversions shared with
// iedsim (model/mms_values.h) with the checks for values devices send, and
// the building of write Data from the C operations' primitive values.
#pragma once

#include "mms/pdu.h"
#include "model/ied_model.h"
#include "model/mms_values.h"

#include <cstdint>
#include <string>

namespace zv::client {

// Data of one stored primitive value.
using model::primitive_data;

// Writes a value the device sent over object `id` of the model: the Data's
// primitives, depth first, onto the object's primitives in component order.
// Every primitive is converted before anything is stored, under one
// exclusive lock. 0, or a DataAccessError.
inline int32_t store_object(model::IedModel &m, AI_OBJ_ID id, const mms::Data &d) {
    return model::store_object(m, id, d, model::ValueSource::Device);
}

// Builds the Data of object `id` from primitive values in component order
// (type, size and count must match the model's). False otherwise.
bool object_data(const model::IedModel &m, AI_OBJ_ID id, const AI_PRIM_VAL *vals, int32_t n, mms::Data &out);

// "LD/LN$FC$DO" -> domain-specific name {LD, LN$FC$DO}; false without a '/'.
bool object_name(const std::string &ref, mms::ObjectName &out);

// The variable of a reference: its name, or for an array element
// ("...$Arr(3)", "...$Arr(3)$mag$f") the array's name with alternate access.
// False without a '/' or with a malformed index.
bool variable_of(const std::string &ref, mms::VariableRef &out);

}  // namespace zv::client
