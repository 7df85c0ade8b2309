/*
 * Stored forms of primitive values (AI_PRIM_VAL.data) and their text forms
 * (ai_prim_value_to_str / ai_prim_str_to_value).
 *
 * Every value of a type has the same size, given below; AI_PRIM_VAL.size
 * always equals it. Multi-byte numbers are in host byte order. ai_prim_str_to_value
 * writes exactly that many bytes; ai_prim_value_to_str writes at most
 * AI_VALUE_TEXT_LEN bytes (NUL included). Text is UTF-8.
 *
 *  type              size  stored form                                   text form
 *  ----------------  ----  --------------------------------------------  ---------------------------------
 *  BOOLEAN              1  0 or 1                                         "true" / "false" (also accepts
 *                                                                         TRUE, FALSE, 1, 0)
 *  INT8, INT16, INT32 1/2/4 signed integer                                decimal
 *  INT128               8  signed 64-bit integer (SCL INT64 and INT128)   decimal
 *  INT8U/INT16U/INT32U 1/2/4 unsigned integer                             decimal
 *  FLOAT32, FLOAT64   4/8  IEEE 754 float / double                        shortest decimal that reads back
 *                                                                         to the same value; nan, inf, -inf
 *  CODEDENUM, TCMD      3  bit string: ZV_BITSTRING_TDEF with 1 octet     bits as '0'/'1', bit 0 first
 *                          (2 bits; Dbpos 00 intermediate, 01 off,        ("10" = on)
 *                          10 on, 11 bad)
 *  QUALITY              4  bit string, 2 octets (13 bits)                 13 characters '0'/'1'
 *  OPTFLDS              4  bit string, 2 octets (10 bits)                 bits, bit 0 first
 *  TRGC                 3  bit string, 1 octet (6 bits)                   bits, bit 0 first
 *  CHECK                4  Check_TDEF (2 bits)                            bits
 *  OSTRING8            10  ZV_OSTRING8_TDEF: int16 length, 8 octets       hex digits, two per octet
 *  OSTRING64           66  OCTET_STRING64_TDEF                            hex digits
 *  ENTRYID              8  EntryID_TDEF, 8 octets                         16 hex digits
 *  VSTRING64           65  text of at most 64 bytes, NUL-terminated       the text
 *  VSTRING65           66  at most 65 bytes, NUL-terminated               the text
 *  VSTRING129         130  at most 129 bytes, NUL-terminated              the text
 *  VSTRING255         256  at most 255 bytes, NUL-terminated              the text
 *  UNISTRING255       513  UTF-8, at most 255 characters and 512 bytes,   the text
 *                          NUL-terminated
 *  TIMESTAMP           12  TimeStamp_TDEF (secs of the Unix epoch, 24-bit "YYYY-MM-DDTHH:MM:SS.nnnnnnnnnZ",
 *                          fraction of the second, time quality octet)    then " q=0xQQ" when the quality
 *                                                                         is not 0 (UTC; the nanoseconds
 *                                                                         read back to the same fraction)
 *  ENTRYTIME            8  EntryTime_TDEF (ms of the day, days since      "YYYY-MM-DDTHH:MM:SS.mmmZ"
 *                          1984-01-01)
 *  STRUCT               -  no stored form (structures are read as their primitives)
 *
 * Bit strings (ZV_BITSTRING_TDEF): a signed 16-bit number of bits, then the
 * octets as they travel in MMS: bit 0 is the most significant bit of the first
 * octet. So for OPTFLDS bytes 2 and 3 read as an unsigned 16-bit little-endian
 * number give (first octet) + 256 * (second octet); for TRGC byte 2 is the
 * single octet. ai_prim_str_to_value takes as many bits as the text has
 * characters (at least 1, at most the type's capacity: 16 for QUALITY and
 * OPTFLDS, 8 for TRGC, 2 for CODEDENUM, TCMD and CHECK... see AI_BITS_* below).
 *
 * Text to value fails (result non-zero, output untouched) on text that does not
 * fit the type: out of range, too long, not a number, trailing characters.
 */
#ifndef ZORVAN_AI_VALUES_H
#define ZORVAN_AI_VALUES_H

#include "ai_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zv_bitstring1_tdef { ST_INT16 num_bits; ST_UCHAR bits[1]; } ZV_BITSTRING1_TDEF; /* 3 bytes + pad */
typedef struct zv_bitstring2_tdef { ST_INT16 num_bits; ST_UCHAR bits[2]; } ZV_BITSTRING2_TDEF; /* 4 bytes */
typedef struct zv_ostring8_tdef { ST_INT16 len; ST_UCHAR data[8]; } ZV_OSTRING8_TDEF;           /* 10 bytes */

/* Stored size of each type in bytes (0: none). */
#define AI_SIZE_BOOLEAN 1
#define AI_SIZE_INT8 1
#define AI_SIZE_INT16 2
#define AI_SIZE_INT32 4
#define AI_SIZE_INT128 8
#define AI_SIZE_INT8U 1
#define AI_SIZE_INT16U 2
#define AI_SIZE_INT32U 4
#define AI_SIZE_FLOAT32 4
#define AI_SIZE_FLOAT64 8
#define AI_SIZE_CODEDENUM 3
#define AI_SIZE_TCMD 3
#define AI_SIZE_OSTRING8 10
#define AI_SIZE_OSTRING64 66
#define AI_SIZE_VSTRING64 65
#define AI_SIZE_VSTRING65 66
#define AI_SIZE_VSTRING129 130
#define AI_SIZE_VSTRING255 256
#define AI_SIZE_UNISTRING255 513
#define AI_SIZE_QUALITY 4
#define AI_SIZE_TIMESTAMP 12
#define AI_SIZE_ENTRYTIME 8
#define AI_SIZE_OPTFLDS 4
#define AI_SIZE_TRGC 3
#define AI_SIZE_CHECK 4
#define AI_SIZE_ENTRYID 8

/* Capacity in bits of the bit-string types, and the usual number of bits. */
#define AI_BITS_CAP_CODEDENUM 8
#define AI_BITS_CAP_TCMD 8
#define AI_BITS_CAP_QUALITY 16
#define AI_BITS_CAP_OPTFLDS 16
#define AI_BITS_CAP_TRGC 8
#define AI_BITS_CAP_CHECK 8
#define AI_BITS_CODEDENUM 2
#define AI_BITS_TCMD 2
#define AI_BITS_QUALITY 13
#define AI_BITS_OPTFLDS 10
#define AI_BITS_TRGC 6
#define AI_BITS_CHECK 2

/* Length of an UNISTRING255 in characters. */
#define AI_UNISTRING_MAX_CHARS 255

#ifdef __cplusplus
}
#endif

#endif /* ZORVAN_AI_VALUES_H */
