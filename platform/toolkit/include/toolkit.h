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

// Dialogs. The dialog procedure reports how the user left through the symbol "DLGEVENT".
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

#ifdef __cplusplus
}
#endif
