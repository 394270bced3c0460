// A DLL's entry point: the static constructors when it is loaded, its DllMain, and the exit list
// (atexit and the static destructors) when it is unloaded or the process ends.
#include <windows.h>

#include "start.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        win32crt::RunConstructors();
    }
    BOOL ok = DllMain(instance, reason, reserved);
    // A DllMain that refuses the attach is called again with DLL_PROCESS_DETACH.
    if (reason == DLL_PROCESS_DETACH) {
        win32crt::RunExitList();
    }
    return ok;
}
