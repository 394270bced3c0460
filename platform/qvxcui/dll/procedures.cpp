// The dialog procedures that qvxcui.dll exports. Each reports how the user left its dialog by
// putting the button's word into the symbol "DLGEVENT" through the toolkit that SETUP.EXE
// exports, then ends the dialog; everything else is left to the dialog manager.
#include "qvxcui/resource.h"

#include <windows.h>

namespace {

using SetSymbolValue = BOOL(WINAPI*)(LPCSTR, LPCSTR);

BOOL Report(LPCSTR szWord) {
    SetSymbolValue set = reinterpret_cast<SetSymbolValue>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), "FSetSymbolValue")));
    return set != nullptr && set("DLGEVENT", szWord);
}

// The word of a button; null for a control that is no button of the library.
LPCSTR WordOf(HWND hwnd, UINT id) {
    switch (id) {
    case IDC_CONTINUE:
        return SZ_EVENT_CONTINUE;
    case IDC_CANCEL:
        return SZ_EVENT_CANCEL;
    case IDC_EXIT:
        return SZ_EVENT_EXIT;
    case IDC_RESTART:
        return SZ_EVENT_RESTART;
    case IDCANCEL:
        // Escape or the close box: leave the way the dialog offers, never by going on where
        // quitting is offered, and never by restarting Windows.
        return GetDlgItem(hwnd, IDC_EXIT) ? SZ_EVENT_EXIT : SZ_EVENT_CONTINUE;
    default:
        return nullptr;
    }
}

INT_PTR ModalProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND: {
        LPCSTR szWord = WordOf(hwnd, LOWORD(wParam));
        if (szWord == nullptr || HIWORD(wParam) != BN_CLICKED) {
            return FALSE;
        }
        EndDialog(hwnd, Report(szWord) ? IDOK : IDABORT);
        return TRUE;
    }
    case QVX_ANSWER:
        // A word no button carries: reported as it stands.
        EndDialog(hwnd, Report(reinterpret_cast<LPCSTR>(lParam)) ? IDOK : IDABORT);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

extern "C" {

INT_PTR CALLBACK FInfoDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return ModalProc(hwnd, msg, wParam, lParam);
}

INT_PTR CALLBACK FInfo0DlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return ModalProc(hwnd, msg, wParam, lParam);
}

INT_PTR CALLBACK FQuitDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return ModalProc(hwnd, msg, wParam, lParam);
}

// A modeless dialog has no buttons and stays up until setup removes it: it reports no event.
INT_PTR CALLBACK FModelessDlgProc(HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
        Report("");
        return TRUE;
    }
    return FALSE;
}

} // extern "C"
