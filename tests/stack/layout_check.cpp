/* Compiled with -m32 by ctest: the headers' static_asserts check every offset
 * and size of the interface records when pointers are 4 bytes. */
#include "zorvan/zorvan_api.h"

#if UINTPTR_MAX != 0xFFFFFFFFu
#error "layout_check must be compiled for a 32-bit target"
#endif

#ifdef ZV_BREAK_LAYOUT
ZV_SIZE(AC_REQ_CTRL, 556);
#endif

int zv_layout_check_anchor;
