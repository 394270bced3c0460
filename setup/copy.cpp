// The driver files on the toolkit's copy list with the billboard, the copy itself, and the
// "Mixer" program group; each toolkit call that must not fail is made through a guarded wrapper.
#include <windows.h>

#include <toolkit.h>

#include "driver/driver.h"
#include "setup/setup.h"

// The result of SzJoin3; apart from SzJoin2's, so that the two results can be used together.
static CHAR szJoin3Buf[512];

LPSTR SzJoin3(LPCSTR sz1, LPCSTR sz2, LPCSTR sz3) {
    LPCSTR rgsz[2] = {sz2, sz3};

    lstrcpynA(szJoin3Buf, sz1, sizeof(szJoin3Buf));
    for (INT i = 0; i < 2; i++) {
        INT ich = lstrlenA(szJoin3Buf);
        if (ich < (INT)sizeof(szJoin3Buf) - 1) {
            lstrcpynA(szJoin3Buf + ich, rgsz[i], (INT)sizeof(szJoin3Buf) - ich);
        }
    }
    return szJoin3Buf;
}

void AddSectionFilesToCopyList(LPCSTR szSection, LPCSTR szSrc, LPCSTR szDest) {
    if (!FAddSectionFilesToCopyList(szSection, szSrc, szDest)) {
        AbortSetup();
    }
}

void AddToBillboardList(LPCSTR szDll, UINT idDlg, LPCSTR szProc, LONG lTicks) {
    if (!FAddToBillboardList(szDll, idDlg, szProc, lTicks)) {
        AbortSetup();
    }
}

void CreateProgManGroup(LPCSTR szGroup, LPCSTR szPath, INT cmo) {
    if (!FCreateProgManGroup(szGroup, szPath, cmo)) {
        AbortSetup();
    }
}

void ShowProgManGroup(LPCSTR szGroup, INT nCmd, INT cmo) {
    CHAR szCmd[256];

    wsprintfA(szCmd, "%d", nCmd); // at most 11 characters
    if (!FShowProgManGroup(szGroup, szCmd, cmo)) {
        AbortSetup();
    }
}

void CreateProgManItem(LPCSTR szGroup, LPCSTR szItem, LPCSTR szCmd, LPCSTR szExtra, INT cmo) {
    if (szExtra != NULL && szExtra[0] != '\0') {
        szItem = SzJoin3(szItem, ",", szExtra);
    }
    if (!FCreateProgManItem(szGroup, szItem, szCmd, cmo)) {
        AbortSetup();
    }
}

void RestoreCursor(HCURSOR hcur) {
    if (!FRestoreCursor(hcur)) {
        AbortSetup();
    }
}

void BuildCopyList(void) {
    HCURSOR hcur = HShowWaitCursor();

    ResetCopyList();
    AddSectionFilesToCopyList("Library Files", szCopySrcDir, szTargetDir);
    AddSectionFilesToCopyList("System Files", szCopySrcDir, SzJoin2(szTargetDir, "DRIVERS\\"));
    AddToBillboardList("qvxcui.dll", 5000, "FModelessDlgProc", 5);
    ProSetPos(155, 130);
    RestoreCursor(hcur);
}

BOOL FCopyResultFatal(INT grc) {
    // The toolkit reports a failed copy with a positive code; 0 and below mean it went through.
    return grc > 0;
}

void CopyDriverFiles(void) {
    if (FCopyResultFatal(GrcCopyFilesInCopyList(HinstFrame()))) {
        AbortSetup();
    }
}

void CreateMixerGroup(void) {
    CHAR szPath[300];

    BuildCardDataPath(szPath, sizeof(szPath), TRUE);
    if (GetPrivateProfileIntA("Mixer Group", "Create", 0, szPath) != 1) {
        return;
    }

    HCURSOR hcur = HShowWaitCursor();
    CreateProgManGroup("Mixer", "", 1);
    ShowProgManGroup("Mixer", 2, 1);
    CreateProgManItem("Mixer", "Mixer Control Panel", SzJoin2(szTargetDir, "mix.exe"), "", 1024);
    RestoreCursor(hcur);
}
