// The installer toolkit's C interface: the setup frame, dialogs, symbols, setup.inf, the copy list,
// the billboard and program groups. Strings are ANSI; an F-call returns 0 on failure.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Frame and install engine.
HWND WINAPI InitializeFrame(LPSTR szCmdLine);
HWND WINAPI HwndFrame(void);
HINSTANCE WINAPI HinstFrame(void);
BOOL WINAPI FInitializeInstall(HINSTANCE hinst, HWND hwndFrame);
BOOL WINAPI FSetBitmap(LPCSTR szDll, UINT idBitmap);
void WINAPI TerminateFrame(void);
void WINAPI TerminateInstall(void);

// setup.inf.
BOOL WINAPI FOpenInf(LPCSTR szFile, BOOL fCheck, BOOL fCheckSyms);

// Dialogs. The dialog procedure reports how the user left through the symbol "DLGEVENT": a word
// of the dialog library (CONTINUE, CANCEL, EXIT, RESTART), which setup tells apart by its event
// code, the sum of the word's first two bytes, each taken as signed.
#define EVENT_CANCEL 132   // "CANCEL": 'C' + 'A'
#define EVENT_CONTINUE 146 // "CONTINUE": 'C' + 'O'
#define EVENT_RESTART 151  // "RESTART": 'R' + 'E'
#define EVENT_EXIT 157     // "EXIT": 'E' + 'X'
BOOL WINAPI FDoDialogExt(HWND hwndParent, LPCSTR szDll, UINT idDlg, LPCSTR szDlgProc,
                         LPCSTR szHelpDll, LPARAM lParam1, LPARAM lParam2);
BOOL WINAPI FKillNDialogs(INT n);

// Symbols. CbGetSymbolValue returns the value's full length, even when it was cut to cbBuf - 1.
INT WINAPI CbGetSymbolValue(LPCSTR szSymbol, LPSTR szBuf, INT cbBuf);
BOOL WINAPI FSetSymbolValue(LPCSTR szSymbol, LPCSTR szValue);

void WINAPI DoMsgBox(LPCSTR szText, LPCSTR szCaption, UINT uStyle);

// Cursor.
HCURSOR WINAPI HShowWaitCursor(void);
BOOL WINAPI FRestoreCursor(HCURSOR hcurPrev);

// Copy list, billboard, progress gauge. GrcCopyFilesInCopyList returns 0 on success, a positive
// error code on failure.
void WINAPI ResetCopyList(void);
BOOL WINAPI FAddSectionFilesToCopyList(LPCSTR szSection, LPCSTR szSrc, LPCSTR szDest);
BOOL WINAPI FAddToBillboardList(LPCSTR szDll, UINT idDlg, LPCSTR szProc, LONG lTicks);
void WINAPI ProSetPos(INT x, INT y);
INT WINAPI GrcCopyFilesInCopyList(HINSTANCE hinst);

// Program groups.
BOOL WINAPI FCreateProgManGroup(LPCSTR szGroup, LPCSTR szPath, INT cmo);
BOOL WINAPI FShowProgManGroup(LPCSTR szGroup, LPCSTR szCommand, INT cmo);
BOOL WINAPI FCreateProgManItem(LPCSTR szGroup, LPCSTR szItem, LPCSTR szCmd, INT cmo);

// Unattended runs (/answers:PATH): the log (/log:PATH), the restart (/norestart) and the
// process's exit code. The steps that only setup sees report themselves through LLogSetupEvent.
#define SETUP_LOG_HANDSHAKE 1    // szText: the driver; lResult: its answer, 0 when it refused
#define SETUP_LOG_REGISTRATION 2 // lResult: nonzero when the driver was registered
#define SETUP_LOG_MODEM 3        // szText: the step; lResult: nonzero when it succeeded
#define SETUP_LOG_RESTART 4      // lResult: 0 not asked for, 1 asked for but not begun, 2 begun
#define SETUP_LOG_REMOVAL 5      // szText: how; lResult: the removal's result (UNDO_...)

// Exit codes of an unattended run; an interactive run exits with 0 on every path.
#define SETUP_EXIT_INSTALLED 0
#define SETUP_EXIT_CANCELLED 1602          // the answers ended setup
#define SETUP_EXIT_FAILED 1603             // a fatal error; setup refused or could not finish
#define SETUP_EXIT_ANSWERS_UNREADABLE 1619 // the answers file could not be read
#define SETUP_EXIT_NOT_INSTALLED 1605      // /remove: the driver is not installed
#define SETUP_EXIT_LOG_UNUSABLE 1622       // the log file could not be opened
#define SETUP_EXIT_RESTARTING 1641         // installed, and the restart of Windows has begun
#define SETUP_EXIT_RESTART_NEEDED 3010     // installed; Windows must be restarted

// Writes the event to the log and keeps what it tells of the run's outcome; returns lResult, so
// that a step's call can stand inside it.
LONG WINAPI LLogSetupEvent(UINT uEvent, LPCSTR szText, LONG lResult);
// Whether setup may restart Windows: not in an unattended run given /norestart.
BOOL WINAPI FRestartAllowed(void);
// The code the process ends with; writes the end to the log and closes it.
UINT WINAPI UExitCode(void);

// The undo record: every run that changes the machine keeps, in the system directory, what it
// changed, each entry on disk before its change. SETUP.EXE /remove undoes it.
#define UNDO_DONE 0      // removed
#define UNDO_RESTART 1   // removed; some files go at the next restart
#define UNDO_NO_RECORD 2 // there is no record
#define UNDO_REFUSED 3   // the record cannot be used; nothing was changed
#define UNDO_PARTIAL 4   // removal failed part way; the record keeps what is left
#define UNDO_DECLINED 5  // the user chose not to remove

// Whether the command line asks for the removal (/remove).
BOOL WINAPI FRemoveRequested(void);
// UNDO_DONE when a record is there that can be undone, else UNDO_NO_RECORD or UNDO_REFUSED with
// why in szWhy (cbWhy bytes).
INT WINAPI GrcCheckUndoRecord(LPSTR szWhy, INT cbWhy);
// Undoes the record, last entry first; the log says what was undone.
INT WINAPI GrcUndoInstall(void);

// Setup's own registry writes and device installation, seen by the undo record on their way.
LONG WINAPI StfRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult);
LONG WINAPI StfRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition);
LONG WINAPI StfRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData);
LONG WINAPI StfRegCloseKey(HKEY hKey);
FARPROC WINAPI StfGetProcAddress(HMODULE hModule, LPCSTR lpProcName);

#ifdef __cplusplus
}
#endif

// Setup's code (built with SNDSTF_RECORD_CHANGES) makes these calls through the record.
#ifdef SNDSTF_RECORD_CHANGES
#define RegOpenKeyExA StfRegOpenKeyExA
#define RegCreateKeyExA StfRegCreateKeyExA
#define RegSetValueExA StfRegSetValueExA
#define RegCloseKey StfRegCloseKey
#define GetProcAddress StfGetProcAddress
#endif
