// Makes the sound driver known to the Windows NT multimedia system: the driver lists, and the MIDI
// mapper's default instrument (a mapping name on Windows NT 3.x, media resources and the current
// user's instrument on Windows NT 4.0).
#include "driver/driver.h"

#define SZ_VERSION_KEY "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
#define SZ_MIDI_RESOURCES_KEY "SYSTEM\\CurrentControlSet\\Control\\MediaResources\\MIDI\\"
#define SZ_MIDIMAP_USER_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Multimedia\\MIDIMap\\"

#define SZ_TONEBAY "TONEBAY.DLL"
#define SZ_MMDRV "MMDRV.DLL"
#define SZ_FM_SYNTH "FM Synth"
#define SZ_MIDI_OUT "Midi Out"

#define I_LAST_RESOURCE 100 // resource subkeys 0000 to 0100 are visited at most
#define CB_INSTRUMENT 20    // bytes of "CurrentInstrument", whatever the name's length

typedef struct tagDRIVERVALUE {
    LPCSTR szName;
    LPCSTR szData;
} DRIVERVALUE;

typedef struct tagDRIVERLIST {
    LPCSTR szSubkey;
    const DRIVERVALUE* rgValue;
    UINT cValue;
} DRIVERLIST;

// One driver's MIDI devices under the media resource key.
typedef struct tagMIDIRESOURCE {
    LPCSTR szPattern;       // subkey name with the device index
    DWORD dwPhysDevIdOther; // "PhysDevID" of a device that is not the driver's last
    DWORD dwPhysDevIdLast;  // "PhysDevID" of the driver's last device
    LPCSTR szDescription;   // "Description" and "FriendlyName" of the last device
} MIDIRESOURCE;

static const DRIVERVALUE rgDrivers32[] = {
    {"mixer", SZ_TONEBAY}, {"aux", SZ_TONEBAY},  {"aux1", SZ_MMDRV},  {"MIDI", SZ_TONEBAY},
    {"MIDI1", SZ_MMDRV},   {"wave", SZ_TONEBAY}, {"wave1", SZ_MMDRV},
};
static const DRIVERVALUE rgUserInstallable[] = {{"wave", SZ_TONEBAY}, {"wave1", SZ_MMDRV}};
static const DRIVERVALUE rgRelatedDesc[] = {{"wave", ""}, {"wave1", ""}};
static const DRIVERVALUE rgDriversDesc[] = {
    {SZ_TONEBAY, "16-bit Audio Driver"},
    {SZ_MMDRV, "Low level Wave, MIDI and AUX support"},
};

#define C_ELEMENTS(rg) (sizeof(rg) / sizeof((rg)[0]))

static const DRIVERLIST rgDriverList[] = {
    {"Drivers32\\", rgDrivers32, C_ELEMENTS(rgDrivers32)},
    {"userinstallable.drivers\\", rgUserInstallable, C_ELEMENTS(rgUserInstallable)},
    {"related.desc\\", rgRelatedDesc, C_ELEMENTS(rgRelatedDesc)},
    {"drivers.desc\\", rgDriversDesc, C_ELEMENTS(rgDriversDesc)},
};

static const MIDIRESOURCE resMmdrv = {SZ_MMDRV "<%04d>", 0, 1, SZ_MIDI_OUT};
static const MIDIRESOURCE resTonebay = {SZ_TONEBAY "<%04d>", 1, 0, SZ_FM_SYNTH};

static LONG LCreateKey(HKEY hkeyParent, LPCSTR szSubkey, PHKEY phkey) {
    return RegCreateKeyExA(hkeyParent, szSubkey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           NULL, phkey, NULL);
}

// A string value with its terminating zero counted.
static LONG LSetString(HKEY hkey, LPCSTR szName, LPCSTR szData) {
    return RegSetValueExA(hkey, szName, 0, REG_SZ, (const BYTE*)szData,
                          (DWORD)lstrlenA(szData) + 1);
}

static LONG LSetDword(HKEY hkey, LPCSTR szName, DWORD dwData) {
    return RegSetValueExA(hkey, szName, 0, REG_DWORD, (const BYTE*)&dwData, sizeof(dwData));
}

// Writes one driver list subkey. FALSE when the subkey cannot be created; a failed write only
// clears *pfResult.
static BOOL FWriteDriverList(HKEY hkeyVersion, const DRIVERLIST* plist, BOOL* pfResult) {
    HKEY hkeyList = NULL;
    UINT iValue;

    if (LCreateKey(hkeyVersion, plist->szSubkey, &hkeyList) != ERROR_SUCCESS)
        return FALSE;
    for (iValue = 0; iValue < plist->cValue; iValue++) {
        if (LSetString(hkeyList, plist->rgValue[iValue].szName, plist->rgValue[iValue].szData) !=
            ERROR_SUCCESS)
            *pfResult = FALSE;
    }
    RegCloseKey(hkeyList);
    return TRUE;
}

// The media resource subkey name of a driver's device; the index never exceeds
// I_LAST_RESOURCE, so the name fits the caller's buffer.
static void FormatResourceName(LPSTR szName, const MIDIRESOURCE* pres, INT iIndex) {
    wsprintfA(szName, pres->szPattern, iIndex);
}

// The media resources do not count towards the result: their writes are not checked.
static void WriteResourceValues(HKEY hkey, const MIDIRESOURCE* pres, BOOL fLast) {
    LSetDword(hkey, "PhysDevID", fLast ? pres->dwPhysDevIdLast : pres->dwPhysDevIdOther);
    LSetDword(hkey, "Active", fLast ? 1 : 0);
    if (fLast) {
        LSetString(hkey, "Description", pres->szDescription);
        LSetString(hkey, "FriendlyName", pres->szDescription);
    }
}

// Marks each device in the run of the driver's subkeys that starts at index 0 as inactive, then
// the run's highest one as the driver's active device. Returns that device's index (0 when the
// run reaches past the highest index visited).
static INT IEnumerateResources(HKEY hkeyResources, const MIDIRESOURCE* pres) {
    CHAR szSubkey[32];
    INT iIndex;
    INT iLast = 0;

    for (iIndex = 0; iIndex <= I_LAST_RESOURCE; iIndex++) {
        HKEY hkey = NULL;
        BOOL fLast = FALSE;
        LONG lError;

        FormatResourceName(szSubkey, pres, iIndex);
        lError = RegOpenKeyExA(hkeyResources, szSubkey, 0, KEY_ALL_ACCESS, &hkey);
        if (lError != ERROR_SUCCESS) {
            if (iIndex == 0) {
                // A fresh system has no device of the driver yet.
                lError = LCreateKey(hkeyResources, szSubkey, &hkey);
            } else {
                // The run ended at the previous index: that device is the last one.
                iIndex--;
                fLast = TRUE;
                iLast = iIndex;
                FormatResourceName(szSubkey, pres, iIndex);
                lError = RegOpenKeyExA(hkeyResources, szSubkey, 0, KEY_ALL_ACCESS, &hkey);
            }
        }
        if (lError == ERROR_SUCCESS) {
            WriteResourceValues(hkey, pres, fLast);
            RegCloseKey(hkey);
        }
        if (fLast)
            break;
    }
    return iLast;
}

// Windows NT 4.0: the media resources of both drivers, then the current user's instrument.
// FALSE when the instrument could not be stored.
static BOOL FRegisterMidiResources(void) {
    HKEY hkeyResources = NULL;
    HKEY hkeyMidiMap = NULL;
    INT iLastMmdrv = 0;
    INT iLastTonebay = 0;
    CHAR szName[32];
    BYTE rgbInstrument[CB_INSTRUMENT];
    UINT ib;
    BOOL fResult = TRUE;

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SZ_MIDI_RESOURCES_KEY, 0, KEY_ALL_ACCESS,
                      &hkeyResources) == ERROR_SUCCESS) {
        iLastMmdrv = IEnumerateResources(hkeyResources, &resMmdrv);
        iLastTonebay = IEnumerateResources(hkeyResources, &resTonebay);
    } else {
        hkeyResources = NULL;
    }

    // The name, its terminating zero, and zeros up to the value's fixed size.
    if (fMidiMapperDefault)
        FormatResourceName(szName, &resTonebay, iLastTonebay);
    else
        FormatResourceName(szName, &resMmdrv, iLastMmdrv);
    for (ib = 0; ib < sizeof(rgbInstrument); ib++)
        rgbInstrument[ib] = 0;
    lstrcpynA((LPSTR)rgbInstrument, szName, sizeof(rgbInstrument));

    // The user's MIDI mapper settings belong to Windows: they are used, never created.
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SZ_MIDIMAP_USER_KEY, 0, KEY_ALL_ACCESS, &hkeyMidiMap) !=
        ERROR_SUCCESS) {
        fResult = FALSE;
    } else {
        if (RegSetValueExA(hkeyMidiMap, "CurrentInstrument", 0, REG_SZ, rgbInstrument,
                           sizeof(rgbInstrument)) != ERROR_SUCCESS)
            fResult = FALSE;
        RegCloseKey(hkeyMidiMap);
    }

    if (hkeyResources != NULL)
        RegCloseKey(hkeyResources);
    return fResult;
}

BOOL FRegisterMultimediaDriver(void) {
    HKEY hkeyVersion = NULL;
    HKEY hkeyMidimap = NULL;
    UINT iList;
    BOOL fResult = TRUE;

    if (LCreateKey(HKEY_LOCAL_MACHINE, SZ_VERSION_KEY, &hkeyVersion) != ERROR_SUCCESS)
        return FALSE;

    // A driver list that cannot be created ends the registration; a value that cannot be
    // written only makes it fail once everything else has been written.
    for (iList = 0; iList < C_ELEMENTS(rgDriverList); iList++) {
        if (!FWriteDriverList(hkeyVersion, &rgDriverList[iList], &fResult)) {
            fResult = FALSE;
            goto Done;
        }
    }

    if (LCreateKey(hkeyVersion, "Midimap", &hkeyMidimap) != ERROR_SUCCESS) {
        hkeyMidimap = NULL;
        fResult = FALSE;
        goto Done;
    }

    switch (LOBYTE(GetVersion())) {
    case 3:
        if (LSetString(hkeyMidimap, "Mapping Name",
                       fMidiMapperDefault ? SZ_FM_SYNTH : SZ_MIDI_OUT) != ERROR_SUCCESS)
            fResult = FALSE;
        break;
    case 4:
        if (!FRegisterMidiResources())
            fResult = FALSE;
        break;
    default:
        // Other versions: the driver lists and the empty "Midimap" key only.
        break;
    }

Done:
    if (hkeyMidimap != NULL)
        RegCloseKey(hkeyMidimap);
    RegCloseKey(hkeyVersion);
    return fResult;
}
