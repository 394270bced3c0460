// Setup flow: the main sequence, dialog events and termination, the file copy and program group,
// and the registry entry-point check. State that several files share is declared here.
#pragma once

#include <windows.h>

#include <toolkit.h>

// Main sequence.
extern CHAR szSourceDir[256];  // the start directory, ending in a backslash
extern CHAR szCopySrcDir[256]; // "STF_SRCDIR": where the driver files are copied from
extern CHAR szTargetDir[256];  // the Windows directory + "SYSTEM32\"
extern HWND hwndFrameMain;     // the setup frame, once the toolkit is up
extern INT fRestart;           // set by the finish dialog

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
HWND HwndStartSetup(LPSTR szCmdLine);
LPSTR SzJoin2(LPCSTR sz1, LPCSTR sz2);
void AddTrailingBackslash(LPSTR szDir);
void CheckExistingDevices(void);
void DoWelcome(void);
void DoWindowsDirError(void);
void ConfigureInstall(void);
void DoFinish(void);
BOOL FRestartWindows(void);

// Dialog events and termination.
extern INT fFatal;       // the fatal latch
extern INT fTerminating; // set once termination has begun; with the latch set a failure goes on

void PumpMessages(void);
LPSTR SzShowDialog(LPCSTR szDll, UINT idDlg, LPCSTR szProc, LPARAM lParam1, LPARAM lParam2,
                   LPSTR szEvent, INT cbLimit);
LPSTR SzReadSymbol(LPCSTR szSymbol, LPSTR szBuf, INT cbLimit);
WORD WEventCode(LPCSTR szEvent);
void KillDialogs(INT n);
void KillAllDialogs(void);
void ConfirmQuit(void);
[[noreturn]] void AbortSetup(void);
void TerminateSetup(void);

// File copy, billboard and program group.
LPSTR SzJoin3(LPCSTR sz1, LPCSTR sz2, LPCSTR sz3);
void BuildCopyList(void);
void CopyDriverFiles(void);
BOOL FCopyResultFatal(INT grc); // whether a copy result ends setup
void CreateMixerGroup(void);
void AddSectionFilesToCopyList(LPCSTR szSection, LPCSTR szSrc, LPCSTR szDest);
void AddToBillboardList(LPCSTR szDll, UINT idDlg, LPCSTR szProc, LONG lTicks);
void CreateProgManGroup(LPCSTR szGroup, LPCSTR szPath, INT cmo);
void ShowProgManGroup(LPCSTR szGroup, INT nCmd, INT cmo);
void CreateProgManItem(LPCSTR szGroup, LPCSTR szItem, LPCSTR szCmd, LPCSTR szExtra, INT cmo);
void RestoreCursor(HCURSOR hcur);

// Removal (/remove): never returns.
[[noreturn]] void RemoveDriver(void);

// Registry entry-point loader.
extern HMODULE hmodRegistry; // "ADVAPI32.DLL" while it is held
BOOL FLoadRegistryEntryPoints(void);
void ReleaseRegistryEntryPoints(void);
