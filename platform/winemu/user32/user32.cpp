// USER32 message boxes, window titles, the message queue and the restart of Windows.
#include "winemu/machine.h"
#include "winemu/machine/export.h"

#include <ostream>
#include <string>

using winemu::Current;

namespace {

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
    if (winemu::Faulted("MessageBoxA", winemu::kLastErrorKept, winemu::Arg(lpText),
                        winemu::Arg(lpCaption)))
        return 0;
    winemu::Machine& m = Current();
    std::string caption = lpCaption ? lpCaption : "Error";
    m.Report()["message_boxes"].push_back(
        {{"text", Text(lpText)}, {"caption", caption}, {"style", uType}});
    if (!(m.MessageBoxWatch() && m.MessageBoxWatch()(Text(lpText), caption, uType)))
        DrawBox(m.Console(), caption, Text(lpText));
    return IDOK;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    // A call without a window is refused before its fault check counts it.
    if (hWnd == NULL)
        return winemu::Fail(ERROR_INVALID_HANDLE);
    if (winemu::Faulted("SetWindowTextA", ERROR_INVALID_HANDLE, winemu::Arg(lpString)))
        return FALSE;
    winemu::Machine& m = Current();
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

BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason) {
    (void)dwReason;
    if (winemu::Faulted("ExitWindowsEx", ERROR_ACCESS_DENIED))
        return FALSE;
    winemu::Machine& m = Current();
    if (!m.ShutdownPrivilegeEnabled())
        return winemu::Fail(ERROR_PRIVILEGE_NOT_HELD);
    m.Report()["exit_windows_flags"] = uFlags;
    if (uFlags & EWX_REBOOT)
        m.RestartRequested() = true;
    return TRUE;
}

} // extern "C"
