// Loading of the stack library libzorvan_ld.so and lookup of its operations.
#pragma once

// Loads "libzorvan_ld.so" by bare name with lazy binding, retrying once.
// Returns the handle (also stored in dp) or null after printing the loader's error.
void *open_zorvan_dl();

// Address of the symbol `name` in the library `handle`, or null.
void *get_fun_ad(void *handle, const char *name);

// The loaded stack library, null until open_zorvan_dl succeeded. Never unloaded.
extern void *dp;
