// Process-wide pointers to the stack operations, one per operation, named
// after it plus _ad. A pointer that stayed null means the operation is not
// available and every call site skips it.
#pragma once

#include "zorvan/zorvan_api.h"

#define ZV_DECLARE_OP(name) extern decltype(&::name) name##_ad;
ZORVAN_OPERATIONS(ZV_DECLARE_OP)
#undef ZV_DECLARE_OP

// Looks every operation up in `handle` (null handle: all pointers become null).
void zv_lookup_operations(void *handle);
