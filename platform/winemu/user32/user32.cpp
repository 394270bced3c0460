// USER32 windows and messages, and the ADVAPI32 token calls that a restart needs.
#include "winemu/machine.h"

#include <ostream>
#include <string>

using winemu::Current;

namespace {

constexpr DWORD kShutdownPrivilegeLuid = 19;

struct Token {
    DWORD access;
};

std::string Text(LPCSTR s) {
    return s ? std::string(s) : std::string();
}

// A message box as the terminal shows it: caption bar, text, the OK button.
void DrawBox(std::ostream& out, const std::string& caption, const std::string& text) {
    out << "\n+-- " << caption << " --\n| " << text << "\n|                [ OK ]\n+--\n";
}

} // namespace

extern "C" {

INT WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    (void)hWnd;
    winemu::Machine& m = Current();
    if (m.Fault().Check("MessageBoxA", {Text(lpText), Text(lpCaption)}))
        return 0;
    std::string caption = lpCaption ? lpCaption : "Error";
    m.Report()["message_boxes"].push_back(
        {{"text", Text(lpText)}, {"caption", caption}, {"style", uType}});
    if (!(m.MessageBoxWatch() && m.MessageBoxWatch()(Text(lpText), caption, uType)))
        DrawBox(m.Console(), caption, Text(lpText));
    return IDOK;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    winemu::Machine& m = Current();
    if (hWnd == NULL || m.Fault().Check("SetWindowTextA", {Text(lpString)})) {
        m.LastError() = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    m.Report()["window_title"] = Text(lpString);
    return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
    (void)hWnd;
    auto& queue = Current().Messages();
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        bool inRange = (wMsgFilterMin == 0 && wMsgFilterMax == 0) ||
                       (it->message >= wMsgFilterMin && it->message <= wMsgFilterMax);
        if (!inRange)
            continue;
        *lpMsg = *it;
        if (wRemoveMsg & PM_REMOVE)
            queue.erase(it);
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    (void)lpMsg;
    return FALSE;
}

// The emulated machine has no window procedures: a dispatched message is consumed.
LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    (void)lpMsg;
    return 0;
}

void WINAPI PostQuitMessage(INT nExitCode) {
    MSG msg{};
    msg.message = WM_QUIT;
    msg.wParam = static_cast<WPARAM>(nExitCode);
    Current().Messages().push_back(msg);
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    winemu::Machine& m = Current();
    if (m.Fault().Check("OpenProcessToken") || TokenHandle == NULL ||
        ProcessHandle != (HANDLE)(LONG_PTR)-1) {
        m.LastError() = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    ULONG_PTR h = m.Objects().Open(winemu::HandleKind::Token, "process token",
                                   std::make_shared<Token>(Token{DesiredAccess}));
    *TokenHandle = (HANDLE)h;
    m.Report()["token_access"] = DesiredAccess;
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
    winemu::Machine& m = Current();
    if (m.Fault().Check("LookupPrivilegeValueA", {Text(lpName)})) {
        m.LastError() = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if ((lpSystemName && *lpSystemName) || lpName == NULL ||
        !winemu::NameEquals(lpName, SE_SHUTDOWN_NAME)) {
        m.LastError() = ERROR_NO_SUCH_PRIVILEGE;
        return FALSE;
    }
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
    winemu::Machine& m = Current();
    if (m.Fault().Check("AdjustTokenPrivileges")) {
        m.LastError() = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    auto token = m.Objects().GetAs<Token>((ULONG_PTR)TokenHandle, winemu::HandleKind::Token);
    if (!token) {
        m.LastError() = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (!(token->access & TOKEN_ADJUST_PRIVILEGES)) {
        m.LastError() = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (DisableAllPrivileges) {
        m.ShutdownPrivilegeEnabled() = false;
        m.LastError() = ERROR_SUCCESS;
        return TRUE;
    }
    if (NewState == NULL) {
        m.LastError() = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
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

BOOL WINAPI CloseHandle(HANDLE hObject) {
    winemu::Machine& m = Current();
    if (!m.Objects().Close((ULONG_PTR)hObject, winemu::HandleKind::Token) &&
        !m.Objects().Close((ULONG_PTR)hObject, winemu::HandleKind::File)) {
        m.LastError() = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason) {
    (void)dwReason;
    winemu::Machine& m = Current();
    if (m.Fault().Check("ExitWindowsEx")) {
        m.LastError() = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (!m.ShutdownPrivilegeEnabled()) {
        m.LastError() = ERROR_PRIVILEGE_NOT_HELD;
        return FALSE;
    }
    m.Report()["exit_windows_flags"] = uFlags;
    if (uFlags & EWX_REBOOT)
        m.RestartRequested() = true;
    return TRUE;
}

} // extern "C"
