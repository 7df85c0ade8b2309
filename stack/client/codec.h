// Model values as MMS carries them, client side (IEC 61850-8-1 clause 8):
// Data returned by a device -> stored forms of the model, and stored forms
// -> Data for writes.
#pragma once

#include "mms/pdu.h"
#include "model/ied_model.h"

#include <cstdint>
#include <vector>

namespace zv::client {

// Data of one stored primitive value.
mms::Data primitive_data(AI_VAL_TYPE type, const uint8_t *stored);

// Stored form of a received value into out (stored_size(type) bytes).
// 0, or a DataAccessError (kTypeInconsistent: wrong Data kind,
// kObjectValueInvalid: right kind but does not fit).
int32_t stored_from_data(AI_VAL_TYPE type, const mms::Data &d, uint8_t *out);

// Writes a value the device sent over object `id` of the model: the Data's
// primitives, depth first, onto the object's primitives in component order.
// Every primitive is converted before anything is stored, under one
// exclusive lock. 0, or a DataAccessError.
int32_t store_object(model::IedModel &m, AI_OBJ_ID id, const mms::Data &d);

// Builds the Data of object `id` from primitive values in component order
// (type, size and count must match the model's). False otherwise.
bool object_data(const model::IedModel &m, AI_OBJ_ID id, const AI_PRIM_VAL *vals, int32_t n, mms::Data &out);

// "LD/LN$FC$DO" -> domain-specific name {LD, LN$FC$DO}; false without a '/'.
bool object_name(const std::string &ref, mms::ObjectName &out);

}  // namespace zv::client
