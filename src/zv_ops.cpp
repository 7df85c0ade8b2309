#include "zv_ops.h"

#include "dlunix.h"

#define ZV_DEFINE_OP(name) decltype(&::name) name##_ad = nullptr;
ZORVAN_OPERATIONS(ZV_DEFINE_OP)
#undef ZV_DEFINE_OP

void zv_lookup_operations(void *handle) {
#define ZV_LOOKUP_OP(name) name##_ad = reinterpret_cast<decltype(&::name)>(get_fun_ad(handle, #name));
    ZORVAN_OPERATIONS(ZV_LOOKUP_OP)
#undef ZV_LOOKUP_OP
}
