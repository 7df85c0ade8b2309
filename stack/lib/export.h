// Marks the operations that libzorvan_ld.so exports; the version script
// zorvan_ld.map keeps every other symbol local.
#pragma once
#include "zorvan/zorvan_api.h"

#define ZV_EXPORT extern "C" __attribute__((visibility("default")))
