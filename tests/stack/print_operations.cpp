// Prints the name of every stack operation, one per line, for the export check.
#include <cstdio>

#include "zorvan/zorvan_api.h"

int main() {
#define ZV_PRINT(name) std::puts(#name);
    ZORVAN_OPERATIONS(ZV_PRINT)
#undef ZV_PRINT
    return 0;
}
