// Model types as MMS sees them (IEC 61850-8-1 clause 8 mapping): runtime
// type tables -> TypeDescription, and alternate access over Data. Stored
// values <-> Data are model/mms_values.h, shared with the client stack
// (iedsim checks with ValueSource::Write).
#pragma once

#include "model/ied_model.h"
#include "model/mms_values.h"
#include "mms/pdu.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zv::iedsim {

// TypeDescription of the element at `rt` (a primitive, a structure up to its
// end, or an array of one element type).
mms::TypeDescription typeDescription(const RUNTIME_TYPE* rt);

// Walks alternate access (component names, indexes, index ranges) over an
// element and its Data. Returns 0, or a DataAccessError when the selection
// names nothing (kObjectNonExistent / kObjectAccessUnsupported).
int32_t selectAlternate(const RUNTIME_TYPE* rt, const mms::Data& whole, const mms::AlternateAccess& aa, mms::Data& out);

// The MMS variable of a reference "LD/LN$FC$...": a named variable, or, for an
// array element ("...$Arr(3)", "...$Arr(3)$mag$f"), the array with alternate
// access (the index, then the components below it, one level each). False
// for a reference without '/' or with a malformed index.
bool variableOf(const std::string& ref, mms::VariableRef& out);

}  // namespace zv::iedsim
