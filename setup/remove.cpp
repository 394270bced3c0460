// SETUP.EXE /remove: the confirmation, the driver's own removal, then the undoing of what setup
// installed, from the toolkit's undo record, or, for an install that kept none, by the names
// that setup is known to write for this driver alone.
#include <windows.h>
#include <mmsystem.h>

#include <toolkit.h>

#include "driver/driver.h"
#include "modem/modem.h"
#include "setup/setup.h"

#include <setupapi.h>

#define SZ_DIALOG_LIBRARY "qvxcui.dll"
#define SZ_REMOVE_CAPTION "Remove the Sound Board Driver"
#define SZ_NOT_INSTALLED                                                                           \
    "The sound board driver is not installed on this computer. Nothing was removed."

#define SZ_VERSION_KEY "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
#define SZ_MIDI_RESOURCES_KEY "SYSTEM\\CurrentControlSet\\Control\\MediaResources\\MIDI\\"
#define SZ_MIDIMAP_USER_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Multimedia\\MIDIMap\\"
#define SZ_TONEBAY "TONEBAY.DLL"
#define CB_VALUE_TEXT 64
#define I_LAST_RESOURCE 100

// The driver list entries that may name the driver, list by list.
static LPCSTR const rgszDrivers32Names[] = {"mixer",  "aux",  "MIDI",  "wave",
                                            "mixer1", "aux1", "MIDI1", "wave1"};
static LPCSTR const rgszUserInstallableNames[] = {"wave", "wave1"};

// The driver's files, in the system directory and in its DRIVERS subdirectory.
static LPCSTR const rgszSystemFiles[] = {SZ_TONEBAY, "QVHWCTL.DAT", "MIX.EXE",
                                         "DRIVERS\\TONEBAY.SYS"};

#define C_ELEMENTS(rg) (sizeof(rg) / sizeof((rg)[0]))

#define C_MODEM_INSTANCES 10 // root instances of the board's modem looked for, by name

typedef HDEVINFO(WINAPI* PFN_CREATE_LIST)(const GUID*, HWND);
typedef BOOL(WINAPI* PFN_OPEN_INFO)(HDEVINFO, PCSTR, HWND, DWORD, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* PFN_CALL_CLASS_INSTALLER)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* PFN_DESTROY_LIST)(HDEVINFO);
#define PFN_OF(type, hmod, name) ((type)(void (*)(void))GetProcAddress(hmod, name))

// By name, the model's modem is known by the hardware ID of its INF file, read as at its
// installation and before the driver's settings, which name the model, are gone.
static BOOL fModemKnown;

// Whether the value is a text that begins with szPrefix, compared without regard to case.
static BOOL FValueStartsWith(HKEY hkey, LPCSTR szName, LPCSTR szPrefix) {
    CHAR szValue[CB_VALUE_TEXT + 1];
    DWORD cb = CB_VALUE_TEXT;
    DWORD dwType = 0;
    INT cchPrefix = lstrlenA(szPrefix);

    if (RegQueryValueExA(hkey, szName, NULL, &dwType, (LPBYTE)szValue, &cb) != ERROR_SUCCESS ||
        dwType != REG_SZ || cb > CB_VALUE_TEXT)
        return FALSE;
    szValue[cb] = '\0';
    if (lstrlenA(szValue) < cchPrefix)
        return FALSE;
    szValue[cchPrefix] = '\0';
    return lstrcmpiA(szValue, szPrefix) == 0;
}

// Deletes each named value of the list whose text is the driver's name; another driver's
// entries stay. *pcFound counts those deleted; FALSE when one could not be.
static BOOL FDeleteListValues(LPCSTR szList, LPCSTR const* rgszName, UINT cName, BOOL fByName,
                              INT* pcFound) {
    CHAR szKey[128];
    HKEY hkey = NULL;
    BOOL fOk = TRUE;
    UINT i;

    lstrcpyA(szKey, SZ_VERSION_KEY);
    lstrcatA(szKey, szList);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, KEY_ALL_ACCESS, &hkey) != ERROR_SUCCESS)
        return TRUE;
    for (i = 0; i < cName; i++) {
        LONG lError = ERROR_FILE_NOT_FOUND;
        if (fByName)
            lError = RegDeleteValueA(hkey, rgszName[i]);
        else if (FValueStartsWith(hkey, rgszName[i], SZ_TONEBAY))
            lError = RegDeleteValueA(hkey, rgszName[i]);
        if (lError == ERROR_SUCCESS)
            (*pcFound)++;
        else if (lError != ERROR_FILE_NOT_FOUND)
            fOk = FALSE;
    }
    RegCloseKey(hkey);
    return fOk;
}

// The driver's MIDI devices under the media resources, and the user's instrument that names one.
static BOOL FDeleteMidiEntries(INT* pcFound) {
    HKEY hkey = NULL;
    CHAR szSubkey[32];
    BOOL fOk = TRUE;
    INT iIndex;

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SZ_MIDI_RESOURCES_KEY, 0, KEY_ALL_ACCESS, &hkey) ==
        ERROR_SUCCESS) {
        for (iIndex = 0; iIndex <= I_LAST_RESOURCE; iIndex++) {
            LONG lError;
            wsprintfA(szSubkey, SZ_TONEBAY "<%04d>", iIndex);
            lError = RegDeleteKeyA(hkey, szSubkey);
            if (lError == ERROR_FILE_NOT_FOUND)
                break;
            if (lError != ERROR_SUCCESS)
                fOk = FALSE;
            else
                (*pcFound)++;
        }
        RegCloseKey(hkey);
    }
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SZ_MIDIMAP_USER_KEY, 0, KEY_ALL_ACCESS, &hkey) ==
        ERROR_SUCCESS) {
        if (FValueStartsWith(hkey, "CurrentInstrument", SZ_TONEBAY "<")) {
            if (RegDeleteValueA(hkey, "CurrentInstrument") == ERROR_SUCCESS)
                (*pcFound)++;
            else
                fOk = FALSE;
        }
        RegCloseKey(hkey);
    }
    return fOk;
}

// The driver's files; one in use goes at the next restart (*pfRestart).
static BOOL FDeleteDriverFiles(BOOL fProbe, INT* pcFound, BOOL* pfRestart) {
    CHAR szSystemDir[MAX_PATH];
    CHAR szFile[MAX_PATH + 32];
    BOOL fOk = TRUE;
    UINT cch = GetSystemDirectoryA(szSystemDir, MAX_PATH);
    UINT i;

    if (cch == 0 || cch >= MAX_PATH)
        return FALSE;
    for (i = 0; i < C_ELEMENTS(rgszSystemFiles); i++) {
        lstrcpyA(szFile, szSystemDir);
        lstrcatA(szFile, "\\");
        lstrcatA(szFile, rgszSystemFiles[i]);
        if (GetFileAttributesA(szFile) == INVALID_FILE_ATTRIBUTES)
            continue;
        (*pcFound)++;
        if (fProbe)
            continue;
        if (DeleteFileA(szFile))
            continue;
        if (MoveFileExA(szFile, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
            *pfRestart = TRUE;
        else
            fOk = FALSE;
    }
    return fOk;
}

static void NoteModemByName(void) {
    CHAR szSystemDir[MAX_PATH];
    UINT cch = GetSystemDirectoryA(szSystemDir, MAX_PATH);

    fModemKnown = FALSE;
    if (cch == 0 || cch + 1 + CCH_MODEM_INF_NAME_MAX + 1 > CB_MODEM_INF_PATH || !FCheckModem())
        return;
    lstrcpyA(szModemInfPath, szSystemDir);
    lstrcatA(szModemInfPath, "\\");
    lstrcatA(szModemInfPath, szModemInfName);
    fModemKnown = FReadModemInf();
}

// The board's modems through the device installer: root devices named after its hardware ID.
// Another modem, of another ID, is never looked at. No device installer: no modem to remove.
static BOOL FRemoveModemsByName(INT* pcFound) {
    CHAR szInstance[CB_INF_TEXT + 16];
    SP_DEVINFO_DATA devInfoData;
    HMODULE hmod;
    HDEVINFO hDevInfo;
    BOOL fOk = TRUE;
    INT i;

    if (!fModemKnown || (hmod = LoadLibraryA("SETUPAPI.DLL")) == NULL)
        return TRUE;
    PFN_CREATE_LIST pfnCreate = PFN_OF(PFN_CREATE_LIST, hmod, "SetupDiCreateDeviceInfoList");
    PFN_OPEN_INFO pfnOpen = PFN_OF(PFN_OPEN_INFO, hmod, "SetupDiOpenDeviceInfoA");
    PFN_CALL_CLASS_INSTALLER pfnCall =
        PFN_OF(PFN_CALL_CLASS_INSTALLER, hmod, "SetupDiCallClassInstaller");
    PFN_DESTROY_LIST pfnDestroy = PFN_OF(PFN_DESTROY_LIST, hmod, "SetupDiDestroyDeviceInfoList");
    if (pfnCreate == NULL || pfnOpen == NULL || pfnCall == NULL || pfnDestroy == NULL) {
        FreeLibrary(hmod);
        return FALSE;
    }
    hDevInfo = pfnCreate(NULL, NULL);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        FreeLibrary(hmod);
        return FALSE;
    }
    for (i = 0; i < C_MODEM_INSTANCES; i++) {
        wsprintfA(szInstance, "ROOT\\%s\\%04d", szHardwareId, i);
        devInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
        if (!pfnOpen(hDevInfo, szInstance, NULL, 0, &devInfoData))
            continue;
        if (pfnCall(DIF_REMOVE, hDevInfo, &devInfoData))
            (*pcFound)++;
        else
            fOk = FALSE;
    }
    pfnDestroy(hDevInfo);
    FreeLibrary(hmod);
    return fOk;
}

// Whether anything of the driver is there to remove, by its names.
static BOOL FInstalledByName(void) {
    INT cFound = 0;
    BOOL fRestart = FALSE;
    HKEY hkey = NULL;

    FDeleteDriverFiles(TRUE, &cFound, &fRestart);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SZ_VERSION_KEY "Drivers32", 0, KEY_READ, &hkey) ==
        ERROR_SUCCESS) {
        UINT i;
        for (i = 0; i < C_ELEMENTS(rgszDrivers32Names); i++) {
            if (FValueStartsWith(hkey, rgszDrivers32Names[i], SZ_TONEBAY))
                cFound++;
        }
        RegCloseKey(hkey);
    }
    return cFound > 0;
}

static INT GrcRemoveByName(void) {
    static LPCSTR const rgszDescName[] = {SZ_TONEBAY};
    INT cFound = 0;
    BOOL fRestart = FALSE;
    BOOL fOk = TRUE;

    fOk &= FDeleteListValues("Drivers32", rgszDrivers32Names, C_ELEMENTS(rgszDrivers32Names), FALSE,
                             &cFound);
    fOk &= FDeleteListValues("userinstallable.drivers", rgszUserInstallableNames,
                             C_ELEMENTS(rgszUserInstallableNames), FALSE, &cFound);
    fOk &= FDeleteListValues("drivers.desc", rgszDescName, 1, TRUE, &cFound);
    fOk &= FDeleteMidiEntries(&cFound);
    fOk &= FRemoveModemsByName(&cFound);
    fOk &= FDeleteDriverFiles(FALSE, &cFound, &fRestart);
    if (!fOk)
        return UNDO_PARTIAL;
    if (cFound == 0)
        return UNDO_NO_RECORD;
    return fRestart ? UNDO_RESTART : UNDO_DONE;
}

static BOOL FDriverFilePresent(void) {
    CHAR szFile[MAX_PATH + 16];
    UINT cch = GetSystemDirectoryA(szFile, MAX_PATH);

    if (cch == 0 || cch >= MAX_PATH)
        return TRUE;
    lstrcatA(szFile, "\\" SZ_TONEBAY);
    return GetFileAttributesA(szFile) != INVALID_FILE_ATTRIBUTES;
}

[[noreturn]] static void EndRemoval(void) {
    ReleaseRegistryEntryPoints();
    TerminateSetup();
    ExitProcess(UExitCode());
}

[[noreturn]] void RemoveDriver(void) {
    CHAR szWhy[512];
    CHAR szEvent[16];
    CHAR szSystemDir[300];
    CHAR szNote[64];
    INT grc = GrcCheckUndoRecord(szWhy, sizeof(szWhy));

    // A record that cannot be trusted changes nothing.
    if (grc == UNDO_REFUSED) {
        DoMsgBox(szWhy, SZ_REMOVE_CAPTION, MB_OK | MB_ICONHAND);
        LLogSetupEvent(SETUP_LOG_REMOVAL, NULL, UNDO_REFUSED);
        EndRemoval();
    }
    BOOL fByName = grc == UNDO_NO_RECORD;
    if (fByName && !FInstalledByName()) {
        DoMsgBox(SZ_NOT_INSTALLED, SZ_REMOVE_CAPTION, MB_OK | MB_ICONINFORMATION);
        LLogSetupEvent(SETUP_LOG_REMOVAL, NULL, UNDO_NO_RECORD);
        EndRemoval();
    }

    KillAllDialogs();
    SzShowDialog(SZ_DIALOG_LIBRARY, 800, "FInfoDlgProc", 0, 0, szEvent, 15);
    KillDialogs(1);
    if (lstrcmpA(szEvent, "REMOVE") != 0) {
        LLogSetupEvent(SETUP_LOG_REMOVAL, NULL, UNDO_DECLINED);
        EndRemoval();
    }

    // The driver is found in the system directory, as at its installation; it takes its own
    // settings away before its file goes.
    UINT cchSystem = GetSystemDirectoryA(szSystemDir, sizeof(szSystemDir));
    if (cchSystem != 0 && cchSystem < sizeof(szSystemDir)) {
        SetCurrentDirectoryA(szSystemDir);
    }
    if (fByName)
        NoteModemByName();
    LONG lAnswer = (LONG)LRemoveDriver();
    wsprintfA(szNote, "driver removal: " SZ_TONEBAY " answered %d", (INT)lAnswer);
    LLogSetupEvent(0, szNote, 0);
    // A driver that is there but kept its settings stops the removal before anything else goes,
    // so that the next removal asks it again.
    if (lAnswer != DRVCNF_OK && FDriverFilePresent()) {
        LLogSetupEvent(SETUP_LOG_REMOVAL, "the driver did not remove its settings", UNDO_PARTIAL);
        EndRemoval();
    }

    grc = fByName ? GrcRemoveByName() : GrcUndoInstall();
    LLogSetupEvent(SETUP_LOG_REMOVAL, fByName ? "by name: no undo record" : "from the undo record",
                   grc);
    EndRemoval();
}
