// KERNEL32 process calls: last error, process end, version, error mode, and the closing of the
// handles that CloseHandle closes (tokens and files).
#include "winemu/machine.h"
#include "winemu/machine/export.h"

#include <chrono>
#include <ctime>

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

// The host's own clock, as the machine has no other.
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
    lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(ms.count());
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    winemu::Machine& m = Current();
    if (!m.Objects().Close((ULONG_PTR)hObject, winemu::HandleKind::Token) &&
        !m.Objects().Close((ULONG_PTR)hObject, winemu::HandleKind::File))
        return winemu::Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

UINT WINAPI SetErrorMode(UINT uMode) {
    UINT previous = Current().ErrorMode();
    Current().ErrorMode() = uMode;
    return previous;
}

} // extern "C"
