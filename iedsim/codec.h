// Model values and types as MMS sees them (IEC 61850-8-1 clause 8 mapping):
// runtime type tables -> TypeDescription, stored values <-> Data.
#pragma once

#include "model/ied_model.h"
#include "mms/pdu.h"

#include <cstdint>
#include <vector>

namespace zv::iedsim {

// TypeDescription of the element at `rt` (a primitive, a structure up to its
// end, or an array of one element type).
mms::TypeDescription typeDescription(const RUNTIME_TYPE* rt);

// Data of one stored primitive value.
mms::Data primitiveData(AI_VAL_TYPE type, const uint8_t* stored);

// Stored form of a written value. Returns 0 or a DataAccessError:
// kTypeInconsistent when the Data kind does not fit the type,
// kObjectValueInvalid when it fits but is out of range or too long.
// `el_len` is the runtime element length (characters of strings).
int32_t storedFromData(AI_VAL_TYPE type, int16_t el_len, const mms::Data& d, uint8_t* out);

// Data of a whole object (caller holds the model's value lock, shared).
// Objects below an LN only; false otherwise.
bool objectData(const model::IedModel& m, AI_OBJ_ID id, mms::Data& out);

// Walks alternate access (component names, indexes, index ranges) over an
// element and its Data. Returns 0, or a DataAccessError when the selection
// names nothing (kObjectNonExistent / kObjectAccessUnsupported).
int32_t selectAlternate(const RUNTIME_TYPE* rt, const mms::Data& whole, const mms::AlternateAccess& aa,
                        mms::Data& out);

// Writes a Data value over an object (primitive or structure). Every
// primitive is checked before anything is stored. Caller holds no lock.
int32_t writeObject(model::IedModel& m, AI_OBJ_ID id, const mms::Data& d);

}  // namespace zv::iedsim
