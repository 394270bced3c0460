// KERNEL32 process calls: last error, process end, version, error mode.
#include "winemu/machine.h"

using winemu::Current;

extern "C" {

DWORD WINAPI GetLastError(void) {
    return Current().LastError();
}

void WINAPI SetLastError(DWORD dwErrCode) {
    Current().LastError() = dwErrCode;
}

// The process ends by unwinding to whoever runs it (the runner or a test), never by exit().
void WINAPI ExitProcess(UINT uExitCode) {
    throw winemu::ProcessExit{uExitCode};
}

HANDLE WINAPI GetCurrentProcess(void) {
    return (HANDLE)(LONG_PTR)-1;
}

// Low byte the major version, next byte the minor, high word the build (top bit clear on NT).
DWORD WINAPI GetVersion(void) {
    const winemu::MachineConfig& c = Current().Config();
    return (c.majorVersion & 0xFF) | ((c.minorVersion & 0xFF) << 8) |
           ((c.buildNumber & 0x7FFF) << 16);
}

UINT WINAPI SetErrorMode(UINT uMode) {
    UINT previous = Current().ErrorMode();
    Current().ErrorMode() = uMode;
    return previous;
}

} // extern "C"
