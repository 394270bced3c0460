// Dialogs and their events, the message pump, the quit confirmation, the one fatal-error path and
// the orderly end of the toolkit.
#include <windows.h>

#include <toolkit.h>

#include "setup/setup.h"

#define SZ_DIALOG_LIBRARY "qvxcui.dll"

INT fFatal;
// Set when termination begins, cleared when the fatal path takes over from a termination that a
// failure broke off: with the latch set it means the fatal path's own termination is running.
INT fTerminating;

// The first failure, even one during the orderly end, takes the fatal-error path. Once that path
// is ending the toolkit, a further failure must not start the ending again: termination then goes
// on with its next step.
static void Fail(void) {
    if (!(fFatal && fTerminating)) {
        AbortSetup();
    }
}

void PumpMessages(void) {
    MSG msg;

    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Someone asked the whole session to end: leave the way every failure does.
            Fail();
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

LPSTR SzReadSymbol(LPCSTR szSymbol, LPSTR szBuf, INT cbLimit) {
    if (szSymbol == NULL || szSymbol[0] == '\0') {
        AbortSetup();
    }
    if (CbGetSymbolValue(szSymbol, szBuf, cbLimit) >= cbLimit) {
        DoMsgBox("Buffer Overflow", "MS-Setup Error", MB_ICONHAND);
        AbortSetup();
    }
    return szBuf;
}

LPSTR SzShowDialog(LPCSTR szDll, UINT idDlg, LPCSTR szProc, LPARAM lParam1, LPARAM lParam2,
                   LPSTR szEvent, INT cbLimit) {
    if (!FDoDialogExt(HwndFrame(), szDll, idDlg, szProc, szDll, lParam1, lParam2)) {
        AbortSetup();
    }
    PumpMessages();

    // An empty event must read as code 0, not as what the buffer held before.
    for (INT ib = 0; ib < cbLimit; ib++) {
        szEvent[ib] = '\0';
    }
    return SzReadSymbol("DLGEVENT", szEvent, cbLimit);
}

WORD WEventCode(LPCSTR szEvent) {
    // The dialog library's words are told apart by their first two bytes, each taken as signed.
    // Nothing is read past the terminator: an empty event has the code 0.
    SHORT s0 = (SHORT)(signed char)szEvent[0];
    SHORT s1 = s0 == 0 ? 0 : (SHORT)(signed char)szEvent[1];
    return (WORD)(s0 + s1);
}

void KillDialogs(INT n) {
    if (!FKillNDialogs(n)) {
        Fail();
    }
    PumpMessages();
}

void KillAllDialogs(void) {
    KillDialogs(-1);
}

void ConfirmQuit(void) {
    CHAR szEvent[16];

    for (;;) {
        SzShowDialog(SZ_DIALOG_LIBRARY, 200, "FQuitDlgProc", 0, 0, szEvent, 15);
        WORD wCode = WEventCode(szEvent);
        if (wCode == EVENT_CANCEL || wCode == EVENT_CONTINUE) {
            KillDialogs(1);
            return;
        }
        if (wCode == EVENT_EXIT) {
            TerminateSetup();
            ExitProcess(UExitCode());
        }
    }
}

void AbortSetup(void) {
    CHAR szEvent[16];
    // Entered from inside a termination that this path already began: the process ends
    // without starting that termination over.
    BOOL fInsideTermination = fFatal && fTerminating;

    // Once the path has been entered, a failure inside it goes straight to the end.
    if (!fFatal) {
        fFatal = 1;
        // An orderly termination that this failure broke off is not this path's own: a failure
        // from here on must still reach this path's termination.
        fTerminating = 0;
        KillAllDialogs();
        for (;;) {
            SzShowDialog(SZ_DIALOG_LIBRARY, 400, "FInfo0DlgProc", 0, 0, szEvent, 15);
            WORD wCode = WEventCode(szEvent);
            if (wCode == EVENT_CANCEL || wCode == EVENT_CONTINUE) {
                break;
            }
        }
        KillDialogs(1);
    }
    // A termination that a failure broke off is run again from its start.
    if (!fInsideTermination) {
        TerminateSetup();
    }
    ExitProcess(UExitCode());
}

void TerminateSetup(void) {
    fTerminating = 1;
    KillAllDialogs();
    TerminateFrame();
    TerminateInstall();
    ReleaseRegistryEntryPoints();
}
