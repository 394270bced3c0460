// Static construction and destruction for each image: the linker's constructor and destructor
// tables, and atexit, where the compiler registers each static object's destructor. Every image
// keeps its own list, so a DLL's destructors run when that DLL is unloaded.
#include "start.h"

extern "C" {

// Laid out by the linker: -1, the entries, 0.
extern void (*__CTOR_LIST__[])(void);
extern void (*__DTOR_LIST__[])(void);

} // extern "C"

namespace {

// More than the images register (each static object with a destructor takes one entry).
constexpr int kMaxExitFunctions = 256;
void (*g_rgExitFunctions[kMaxExitFunctions])(void);
int g_cExitFunctions = 0;

} // namespace

extern "C" int atexit(void (*function)(void)) {
    if (g_cExitFunctions == kMaxExitFunctions) {
        return -1;
    }
    g_rgExitFunctions[g_cExitFunctions++] = function;
    return 0;
}

namespace win32crt {

void RunConstructors() {
    int count = 0;
    while (__CTOR_LIST__[count + 1] != nullptr) {
        ++count;
    }
    for (; count > 0; --count) {
        __CTOR_LIST__[count]();
    }
}

void RunExitList() {
    while (g_cExitFunctions > 0) {
        g_rgExitFunctions[--g_cExitFunctions]();
    }
    for (int i = 1; __DTOR_LIST__[i] != nullptr; ++i) {
        __DTOR_LIST__[i]();
    }
}

} // namespace win32crt
