// The main sequence: start-up, the directories that every step works with, the fixed order of
// dialogs and installation steps, the finish dialog and the restart of Windows.
#include <windows.h>
#include <mmsystem.h>

#include <toolkit.h>

#include "driver/driver.h"
#include "modem/modem.h"
#include "setup/setup.h"

#define SZ_DIALOG_LIBRARY "qvxcui.dll"
#define SZ_FRAME_TITLE "16-bit Sound Board NT Driver Setup"

CHAR szSourceDir[256];
CHAR szCopySrcDir[256];
CHAR szTargetDir[256];
HWND hwndFrameMain;
INT fRestart;

// The result of SzJoin2; every call overwrites it.
static CHAR szJoinBuf[512];

// The longest Windows directory that still leaves room in the target directory for a backslash,
// "SYSTEM32\" and the terminator (256 - 1 - 9 - 1).
#define CCH_WINDOWS_DIR_MAX 245

// Copies sz into szBuf at ich, cut to the buffer's size (cbBuf bytes, terminator included).
static void AppendBounded(LPSTR szBuf, INT cbBuf, LPCSTR sz) {
    INT ich = lstrlenA(szBuf);

    if (ich < cbBuf - 1) {
        lstrcpynA(szBuf + ich, sz, cbBuf - ich);
    }
}

LPSTR SzJoin2(LPCSTR sz1, LPCSTR sz2) {
    lstrcpynA(szJoinBuf, sz1, sizeof(szJoinBuf));
    AppendBounded(szJoinBuf, sizeof(szJoinBuf), sz2);
    return szJoinBuf;
}

void AddTrailingBackslash(LPSTR szDir) {
    LPSTR pchLast = NULL;
    LPSTR pch = szDir;

    while (*pch != '\0') {
        pchLast = pch;
        pch = CharNextA(pch);
    }
    // A double-byte character whose trail byte is 0x5C is no backslash.
    if (pchLast != NULL && pch - pchLast == 1 && *pchLast == '\\') {
        return;
    }
    pch[0] = '\\';
    pch[1] = '\0';
}

HWND HwndStartSetup(LPSTR szCmdLine) {
    HWND hwnd = InitializeFrame(szCmdLine);
    if ((LONG_PTR)hwnd == -1) {
        return hwnd;
    }
    if (hwnd == NULL) {
        TerminateSetup();
        return NULL;
    }

    HWND hwndFrame = HwndFrame();
    HINSTANCE hinst = HinstFrame();
    if (!FInitializeInstall(hinst, hwndFrame)) {
        TerminateSetup();
        return NULL;
    }
    hwndFrameMain = hwnd;

    // The start directory may be a floppy or a CD: no "insert disk" box while it is read.
    UINT uModePrev = SetErrorMode(SEM_FAILCRITICALERRORS);
    DWORD cch = GetCurrentDirectoryA(255, szSourceDir);
    SetErrorMode(uModePrev);
    if (cch == 0 || cch >= 255) {
        // Too long for the buffer (254 characters at most): setup.inf is then looked for in the
        // root of the current drive.
        szSourceDir[0] = '\0';
    }
    OemToCharA(szSourceDir, szSourceDir);

    INT cchDir = lstrlenA(szSourceDir);
    LPSTR pchEnd = szSourceDir + cchDir;
    LPSTR pchLast = CharPrevA(szSourceDir, pchEnd);
    if (*pchLast != '\\') {
        pchEnd[0] = '\\';
        pchEnd[1] = '\0';
    }
    return hwndFrameMain;
}

void CheckExistingDevices(void) {
    // The board's driver cannot share the machine with another sound driver.
    if (waveOutGetNumDevs() == 0 && waveInGetNumDevs() == 0 && midiOutGetNumDevs() == 0 &&
        midiInGetNumDevs() == 0) {
        return;
    }

    CHAR szEvent[16];
    KillAllDialogs();
    SzShowDialog(SZ_DIALOG_LIBRARY, 600, "FInfoDlgProc", 0, 0, szEvent, 15);
    KillDialogs(1);
    ReleaseRegistryEntryPoints();
    TerminateSetup();
    ExitProcess(UExitCode());
}

void DoWelcome(void) {
    CHAR szEvent[16];

    for (;;) {
        KillAllDialogs();
        SzShowDialog(SZ_DIALOG_LIBRARY, 100, "FInfoDlgProc", 0, 0, szEvent, 15);
        WORD wCode = WEventCode(szEvent);
        if (wCode == EVENT_CONTINUE) {
            KillDialogs(1);
            return;
        }
        if (wCode == EVENT_CANCEL || wCode == EVENT_EXIT) {
            ConfirmQuit();
        }
    }
}

void DoWindowsDirError(void) {
    CHAR szEvent[16];

    for (;;) {
        KillAllDialogs();
        SzShowDialog(SZ_DIALOG_LIBRARY, 6400, "FInfo0DlgProc", 0, 0, szEvent, 15);
        WORD wCode = WEventCode(szEvent);
        if (wCode == EVENT_CANCEL || wCode == EVENT_CONTINUE) {
            KillDialogs(1);
            return;
        }
        if (wCode == EVENT_EXIT) {
            ConfirmQuit();
        }
    }
}

void ConfigureInstall(void) {
    CHAR szSystemDir[300];
    CHAR szEvent[16];

    CopyDriverFiles();

    // The driver and the modem find the card data file and the modem INF in the system directory.
    // A count at or above the buffer size means the name did not fit and was not written.
    UINT cchSystem = GetSystemDirectoryA(szSystemDir, sizeof(szSystemDir));
    if (cchSystem != 0 && cchSystem < sizeof(szSystemDir)) {
        SetCurrentDirectoryA(szSystemDir);
    }

    if (LLogSetupEvent(SETUP_LOG_HANDSHAKE, "TONEBAY.DLL", (LONG)LInstallDriver()) == 0) {
        // The driver refused to install; it has told the user why, if at all.
        ReleaseRegistryEntryPoints();
        TerminateSetup();
        ExitProcess(UExitCode());
    }

    if (!FReadCardSettings()) {
        fMidiMapperDefault = 1;
    }

    if (!LLogSetupEvent(SETUP_LOG_REGISTRATION, NULL, FRegisterMultimediaDriver())) {
        SzShowDialog(SZ_DIALOG_LIBRARY, 900, "FInfoDlgProc", 0, 0, szEvent, 15);
        ReleaseRegistryEntryPoints();
        TerminateSetup();
        ExitProcess(UExitCode());
    }

    // A modem that failed to install has reported itself; the sound driver is still usable.
    FInstallModem(HwndFrame());

    CreateMixerGroup();
    KillDialogs(1);
}

void DoFinish(void) {
    CHAR szEvent[16];

    SzShowDialog(SZ_DIALOG_LIBRARY, 700, "FInfoDlgProc", 0, 0, szEvent, 15);
    if (WEventCode(szEvent) == EVENT_RESTART) {
        fRestart = 1;
    }
    KillDialogs(1);
}

BOOL FRestartWindows(void) {
    BOOL fOk = FALSE;
    HANDLE hToken = NULL;
    TOKEN_PRIVILEGES tp;

    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken)) {
        return FALSE;
    }
    // Without the privilege's identifier there is nothing to enable: no restart.
    if (!LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid)) {
        goto done;
    }
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!AdjustTokenPrivileges(hToken, FALSE, &tp, 0, NULL, NULL)) {
        goto done;
    }
    fOk = ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);

done:
    CloseHandle(hToken);
    return fOk;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd) {
    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;
    CHAR szEvent[16];

    HWND hwnd = HwndStartSetup(lpCmdLine);
    if ((LONG_PTR)hwnd <= 0) {
        MessageBoxA(NULL, "Cannot initialize setup!", "Error", MB_ICONHAND);
        ExitProcess(UExitCode());
    }

    if (!FLoadRegistryEntryPoints()) {
        MessageBoxA(NULL, "Cannot initialize registry!", "Error", MB_ICONHAND);
        TerminateSetup();
        ExitProcess(UExitCode());
    }

    if (!FSetBitmap(SZ_DIALOG_LIBRARY, 1)) {
        AbortSetup();
    }
    SetWindowTextA(HwndFrame(), SZ_FRAME_TITLE);
    if (FRemoveRequested()) {
        RemoveDriver();
    }
    if (!FOpenInf(SzJoin2(szSourceDir, "setup.inf"), 1, 0)) {
        AbortSetup();
    }

    // Modeless: it stays up until the next removal of all dialogs.
    SzShowDialog(SZ_DIALOG_LIBRARY, 5100, "FModelessDlgProc", 0, 0, szEvent, 16);

    UINT cchWindows = GetWindowsDirectoryA(szTargetDir, 255);
    if (cchWindows == 0 || cchWindows > CCH_WINDOWS_DIR_MAX) {
        // Unreadable, or too long to hold "SYSTEM32\" after it: the user decides whether to go on.
        szTargetDir[0] = '\0';
        DoWindowsDirError();
    }
    AddTrailingBackslash(szTargetDir);
    lstrcpynA(szTargetDir, SzJoin2(szTargetDir, "SYSTEM32\\"), sizeof(szTargetDir));

    SzReadSymbol("STF_SRCDIR", szCopySrcDir, 255);

    CheckExistingDevices();
    DoWelcome();
    BuildCopyList();
    ConfigureInstall();
    ReleaseRegistryEntryPoints();
    DoFinish();
    TerminateSetup();

    // An administrator's /norestart keeps the restart for a time of their choosing.
    BOOL fRestarted = FALSE;
    if (fRestart && FRestartAllowed()) {
        fRestarted = FRestartWindows();
    }
    LLogSetupEvent(SETUP_LOG_RESTART, NULL, fRestart + fRestarted);
    ExitProcess(UExitCode());
}
