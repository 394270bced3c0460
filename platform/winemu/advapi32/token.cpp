// ADVAPI32 token calls, which a restart of Windows needs: the process's token, the shutdown
// privilege and its enabling.
#include "winemu/machine.h"
#include "winemu/machine/export.h"

#include <memory>

using winemu::Current;

namespace {

constexpr DWORD kShutdownPrivilegeLuid = 19;

struct Token {
    DWORD access;
};

} // namespace

extern "C" {

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (winemu::Faulted("OpenProcessToken", ERROR_ACCESS_DENIED))
        return FALSE;
    // Only the process's own token opens here.
    winemu::Machine& m = Current();
    if (TokenHandle == NULL || ProcessHandle != (HANDLE)(LONG_PTR)-1)
        return winemu::Fail(ERROR_ACCESS_DENIED);
    ULONG_PTR h = m.Objects().Open(winemu::HandleKind::Token, "process token",
                                   std::make_shared<Token>(Token{DesiredAccess}));
    *TokenHandle = (HANDLE)h;
    m.Report()["token_access"] = DesiredAccess;
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
    if (winemu::Faulted("LookupPrivilegeValueA", ERROR_ACCESS_DENIED, winemu::Arg(lpName)))
        return FALSE;
    if ((lpSystemName && *lpSystemName) || lpName == NULL ||
        !winemu::NameEquals(lpName, SE_SHUTDOWN_NAME))
        return winemu::Fail(ERROR_NO_SUCH_PRIVILEGE);
    lpLuid->LowPart = kShutdownPrivilegeLuid;
    lpLuid->HighPart = 0;
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                  PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                  PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
    (void)BufferLength;
    (void)PreviousState;
    (void)ReturnLength;
    if (winemu::Faulted("AdjustTokenPrivileges", ERROR_ACCESS_DENIED))
        return FALSE;
    winemu::Machine& m = Current();
    auto token = m.Objects().GetAs<Token>((ULONG_PTR)TokenHandle, winemu::HandleKind::Token);
    if (!token)
        return winemu::Fail(ERROR_INVALID_HANDLE);
    if (!(token->access & TOKEN_ADJUST_PRIVILEGES))
        return winemu::Fail(ERROR_ACCESS_DENIED);
    if (DisableAllPrivileges) {
        m.ShutdownPrivilegeEnabled() = false;
        m.LastError() = ERROR_SUCCESS;
        return TRUE;
    }
    if (NewState == NULL)
        return winemu::Fail(ERROR_INVALID_PARAMETER);
    // Windows succeeds even when a privilege is not held, and says so through the last error.
    DWORD lastError = ERROR_SUCCESS;
    for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& p = NewState->Privileges[i];
        m.Report()["privilege_adjustments"].push_back(
            {{"luid", p.Luid.LowPart}, {"attributes", p.Attributes}});
        if (p.Luid.LowPart == kShutdownPrivilegeLuid && p.Luid.HighPart == 0)
            m.ShutdownPrivilegeEnabled() = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
        else
            lastError = ERROR_NOT_ALL_ASSIGNED;
    }
    m.LastError() = lastError;
    return TRUE;
}

} // extern "C"
