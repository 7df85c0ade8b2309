#include "dlunix.h"

#include <dlfcn.h>

#include <cstdio>

void *dp = nullptr;

void *open_zorvan_dl() {
    // The executables carry "." and their own folder in their run path, so the
    // bare name finds the library in the working directory or beside the program.
    void *handle = dlopen("libzorvan_ld.so", RTLD_LAZY);
    // The working directory by path, for when the run path searched is not
    // the program's own (a sanitizer runtime intercepting dlopen uses its own).
    if (handle == nullptr) handle = dlopen("./libzorvan_ld.so", RTLD_LAZY);
    if (handle == nullptr) {
        const char *err = dlerror();
        std::printf("File: %s Line:%d error:%s\n", __FILE__, __LINE__, err ? err : "unknown");
        std::fflush(stdout);
        return nullptr;
    }
    dp = handle;
    return handle;
}

void *get_fun_ad(void *handle, const char *name) {
    if (handle == nullptr || name == nullptr) return nullptr;
    dlerror();
    return dlsym(handle, name);
}
