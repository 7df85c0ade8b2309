// Stored values of the model <-> MMS Data (the IEC 61850-8-1 clause 8 mapping
// of the basic types), for both ends of an association: the client stack
// keeps what devices send and encodes its writes, iedsim encodes reads and
// reports and keeps what clients write.
//
// Include as "model/mms_values.h" (target zv_model_mms).
#pragma once

#include "mms/pdu.h"  // Data, DataAccessError
#include "model/ied_model.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace zv::model {

// Where a value to be stored comes from; the two ends check it differently.
enum class ValueSource {
    // A device's value, kept by the client: any string type takes a visible
    // or an MMS string, lengths up to what the stored form holds, a bit string
    // may be empty, and the Data's primitives are taken depth first in the
    // object's component order, whatever their nesting.
    Device,
    // A client's write, checked by the server against the declared type: the
    // type's own string kind (an MMS string type also takes a visible string),
    // the declared lengths (characters of strings and octet strings, 24-bit
    // integers), at least one bit, and the exact shape of structures and arrays.
    Write,
};

// Data of one stored primitive value.
mms::Data primitive_data(AI_VAL_TYPE type, const uint8_t *stored);

// Stored form of one primitive value into out (stored_size(type) bytes).
// `el_len` is the runtime element length (characters of strings, 3 for
// 24-bit integers); only Write uses it. Returns 0 or a DataAccessError:
// kTypeInconsistent when the Data kind (or a bit count) does not fit the type,
// kObjectValueInvalid when it fits but is out of range, too long, holds a NUL
// in a string or has fewer bytes than its bit count; kTypeUnsupported for
// types without a stored form. Nothing is written on failure.
int32_t stored_from_data(AI_VAL_TYPE type, int16_t el_len, const mms::Data &d, uint8_t *out, ValueSource from);

// The element after `r` in a runtime type table (past the end of a structure
// or an array).
const RUNTIME_TYPE *next_element(const RUNTIME_TYPE *r);

// Stored form of the next primitive, in component order, which must be of
// `type`; null when there is none (or it does not fit).
using NextStored = std::function<const uint8_t *(AI_VAL_TYPE type)>;

// Data of the element at `r` (a primitive, a structure up to its end, an array
// of one element type) from its primitives. False when `next` fails or the
// nesting is deeper than mms::kMaxDataDepth.
bool element_data(const RUNTIME_TYPE *r, const NextStored &next, mms::Data &out);

// Data of a whole object below an LN from the model's values (the caller holds
// value_mutex(), shared). False for objects without a runtime type.
bool object_data(const IedModel &m, AI_OBJ_ID id, mms::Data &out);

// Stores a value over object `id` (a primitive, a structure or an array).
// Every primitive is converted before anything is stored, then all of them
// under one exclusive value_mutex() (the caller holds none). Returns 0 or a
// DataAccessError: kObjectNonExistent for an object without primitives,
// kTypeInconsistent when the Data's shape does not match, else the first
// failure of stored_from_data.
int32_t store_object(IedModel &m, AI_OBJ_ID id, const mms::Data &d, ValueSource from);

// A value converted for the primitives of one object, not stored yet.
struct PreparedValue {
    std::vector<Primitive> prims;
    std::vector<uint8_t> bytes;  // the stored forms side by side, in prims order
};
// The conversion half of store_object: the same checks and results, with
// nothing stored. Lets a caller check several values before it stores any.
int32_t prepare_object(const IedModel &m, AI_OBJ_ID id, const mms::Data &d, ValueSource from, PreparedValue &out);
// Stores prepared values, all of them under one exclusive value_mutex() (the
// caller holds none).
void store_prepared(IedModel &m, const PreparedValue *values, size_t n);

// Stores a device's value over object `id` by the device's own description
// of its type (GetVariableAccessAttributes): structure components are
// matched by name, so a component the device lacks stays as it is and one the
// model lacks is ignored; array elements go by position. A component whose
// kind differs on the two sides is left alone too. Everything converted is
// stored under one exclusive value_mutex() (the caller holds none). Returns 0
// or a DataAccessError: kObjectNonExistent for an object without a runtime
// type, kTypeInconsistent when the Data does not have the described shape,
// else the first failure of stored_from_data other than a kind mismatch.
int32_t store_described(IedModel &m, AI_OBJ_ID id, const mms::TypeDescription &type, const mms::Data &d);

}  // namespace zv::model
