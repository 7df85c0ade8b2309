// Primitive values in their stored forms (zorvan/ai_values.h) and their text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zorvan/ai_types.h"
#include "zorvan/ai_values.h"

namespace zv::model {

// Stored size of a value of the type in bytes; 0 for STRUCT and unknown types.
size_t stored_size(AI_VAL_TYPE type);

// Alignment the stored form needs (1, 2, 4 or 8).
size_t stored_align(AI_VAL_TYPE type);

// Bit-string types: the usual number of bits and the capacity; 0 otherwise.
int bitstring_bits(AI_VAL_TYPE type);
int bitstring_capacity(AI_VAL_TYPE type);

// Name of the type ("BOOLEAN", "FLOAT32", ...); null for values outside the enumeration.
const char *type_name(AI_VAL_TYPE type);

// Text of a stored value into out[cap]; 0 on success. Fails on unknown types,
// STRUCT, a stored form that is not valid (a string without its NUL, a bit
// count beyond the capacity) or a buffer too small.
int value_to_text(AI_VAL_TYPE type, const void *data, char *out, size_t cap);

// Stored value of a text; writes exactly stored_size(type) bytes to out, or
// nothing on failure (non-zero).
int text_to_value(AI_VAL_TYPE type, std::string_view text, void *out);

// Time stamps: text "YYYY-MM-DDTHH:MM:SS.nnnnnnnnnZ[ q=0xQQ]" <-> values.
// Parsing also takes a space for 'T', fewer fraction digits or none, and no 'Z'.
int utc_to_text(uint32_t secs, uint32_t fraction, uint32_t qflags, char *out, size_t cap);
int text_to_utc(std::string_view text, uint32_t &secs, uint32_t &fraction, uint32_t &qflags);

// The present time as a time stamp (24-bit fraction, quality 0x0A: 10 bits accurate).
void current_time(TimeStamp_TDEF &ts);

// Value of an SCL <Val> text for a primitive (the same as text_to_value, but
// also SCL's forms: "0"/"1" booleans, blank-padded text). 0 on success.
int scl_text_to_value(AI_VAL_TYPE type, std::string_view text, void *out);

}  // namespace zv::model
