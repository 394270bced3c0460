// The dialog procedures that qvxcui.dll exports. Each reports how the user left its dialog by
// putting the button's word into the symbol "DLGEVENT" through the toolkit DLL, then ends the
// dialog; everything else is left to the dialog manager.
#include "qvxcui/button_words.h"
#include "qvxcui/resource.h"

#include <toolkit.h>
#include <windows.h>

#include <string>

namespace {

BOOL Report(LPCSTR szWord) {
    return FSetSymbolValue("DLGEVENT", szWord);
}

// What Escape and the close box answer: never a restart, never going on past a question.
enum class Escape {
    kLeave, // the way out the dialog offers (Exit, which asks before quitting), else its one button
    kGoBack, // the quit confirmation: back to setup, since quitting is the step that loses work
};

// The word of a button; null for a control that is no button of the library.
LPCSTR WordOf(HWND hwnd, UINT id, Escape escape) {
    if (id == IDCANCEL && GetDlgItem(hwnd, IDC_REMOVE)) {
        return SZ_EVENT_CANCEL; // the removal's confirmation: Escape removes nothing
    }
    if (id == IDCANCEL) {
        return escape == Escape::kLeave && GetDlgItem(hwnd, IDC_EXIT) ? SZ_EVENT_EXIT
                                                                      : SZ_EVENT_CONTINUE;
    }
    return qvxcui::WordOf(id);
}

// Windows NT 3.51 ignores DS_CENTER: the dialog is centred on the setup frame here, or on the
// work area when the frame is minimized, and kept on the screen.
void CentreOnOwner(HWND hwnd) {
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT work = {};
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) && !IsRectEmpty(&work)) {
        area = work; // else the screen: NT 3.51 has no work area
    }
    RECT around = area;
    HWND owner = GetWindow(hwnd, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &around);
    }
    RECT self;
    GetWindowRect(hwnd, &self);
    LONG width = self.right - self.left;
    LONG height = self.bottom - self.top;
    LONG left = around.left + (around.right - around.left - width) / 2;
    LONG top = around.top + (around.bottom - around.top - height) / 2;
    left = left + width > area.right ? area.right - width : left;
    top = top + height > area.bottom ? area.bottom - height : top;
    left = left < area.left ? area.left : left;
    top = top < area.top ? area.top : top;
    SetWindowPos(hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The dialog comes up centred, in front of whatever another program opened meanwhile (Program
// Manager's group window), with the focus on its default button, so that Enter takes the safe
// answer. A dialog over a hidden frame (a silent run) is never shown: it takes the front from
// nobody. FALSE: the focus is set here.
BOOL InitModal(HWND hwnd) {
    CentreOnOwner(hwnd);
    HWND owner = GetWindow(hwnd, GW_OWNER);
    if (owner && IsWindowVisible(owner)) {
        SetForegroundWindow(hwnd);
    }
    LRESULT defId = SendMessageA(hwnd, DM_GETDEFID, 0, 0);
    HWND button = HIWORD(defId) == DC_HASDEFID ? GetDlgItem(hwnd, LOWORD(defId)) : nullptr;
    if (!button) {
        return TRUE; // the dialog manager's choice: the first control
    }
    SetFocus(button);
    return FALSE;
}

INT_PTR ModalProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, Escape escape) {
    switch (msg) {
    case WM_INITDIALOG:
        return InitModal(hwnd);
    case WM_COMMAND: {
        LPCSTR szWord = WordOf(hwnd, LOWORD(wParam), escape);
        if (szWord == nullptr || HIWORD(wParam) != BN_CLICKED) {
            return FALSE;
        }
        EndDialog(hwnd, Report(szWord) ? IDOK : IDABORT);
        return TRUE;
    }
    case QVX_ANSWER: {
        // A word no button carries, waiting in the toolkit, reported as it stands; only setup's
        // own thread says so. Without a waiting word the message is no answer.
        INT cb = CbGetSymbolValue(QVX_ANSWER_SYMBOL, nullptr, 0);
        if (InSendMessage() || wParam != GetCurrentThreadId() || lParam != 0 || cb <= 0) {
            return FALSE;
        }
        std::string word(static_cast<size_t>(cb) + 1, '\0');
        CbGetSymbolValue(QVX_ANSWER_SYMBOL, word.data(), cb + 1);
        word.resize(static_cast<size_t>(cb));
        FSetSymbolValue(QVX_ANSWER_SYMBOL, ""); // taken once
        EndDialog(hwnd, Report(word.c_str()) ? IDOK : IDABORT);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// No C++ exception may unwind into the dialog manager: the library is built without exceptions,
// and its runtime ends the process where the C++ library would throw.
INT_PTR Guarded(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, Escape escape) {
    return ModalProc(hwnd, msg, wParam, lParam, escape);
}

} // namespace

extern "C" {

INT_PTR CALLBACK FInfoDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return Guarded(hwnd, msg, wParam, lParam, Escape::kLeave);
}

INT_PTR CALLBACK FInfo0DlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return Guarded(hwnd, msg, wParam, lParam, Escape::kLeave);
}

INT_PTR CALLBACK FQuitDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return Guarded(hwnd, msg, wParam, lParam, Escape::kGoBack);
}

// A modeless dialog has no buttons and stays up until setup removes it: it reports no event.
// It is up while setup works, so the pointer over it is the wait cursor.
INT_PTR CALLBACK FModelessDlgProc(HWND hwnd, UINT msg, WPARAM, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        CentreOnOwner(hwnd);
        Report("");
        return TRUE;
    case WM_SETCURSOR:
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
    default:
        return FALSE;
    }
}

} // extern "C"
