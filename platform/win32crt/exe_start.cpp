// SETUP.EXE's entry point: the static constructors, WinMain, then the exit list. Every end of
// setup goes through ExitProcess; so does a return from WinMain.
#include <windows.h>

#include "runtime.h"
#include "start.h"

extern "C" void WinMainCRTStartup(void) {
    win32crt::RunConstructors();
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    LPSTR arguments = const_cast<LPSTR>(win32crt::CommandTail(GetCommandLineA()));
    int code = WinMain(GetModuleHandleA(nullptr), nullptr, arguments, show);
    win32crt::RunExitList();
    ExitProcess(static_cast<UINT>(code));
}
