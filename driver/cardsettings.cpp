// The board model's settings: the product number the driver keeps in its parameters key, the
// card section of the card data file that describes that model, and where that file lies.
#include "driver/driver.h"

INT fMidiMapperDefault = 1;

// "\" and the file name, in characters, without the terminator.
#define CCH_CARD_DATA_TAIL (1 + (sizeof(SZ_CARD_DATA_FILE) - 1))

BOOL FFormatCardSection(LPSTR szSection, UINT cbSection, DWORD dwProduct) {
    CHAR szName[32]; // "Card" and any signed 32-bit number fit with room to spare
    BOOL fResult = FALSE;

    wsprintfA(szName, "Card%02d", (INT)dwProduct);
    if ((UINT)lstrlenA(szName) < cbSection) {
        lstrcpynA(szSection, szName, (INT)cbSection);
        fResult = TRUE;
    } else if (cbSection > 0) {
        szSection[0] = '\0';
    }
    return fResult;
}

// One directory source: the system or the current directory, written into szPath. Zero when the
// call fails or when the directory leaves no room for "\QVHWCTL.DAT" and the terminator.
static UINT CchDirectory(LPSTR szPath, UINT cbPath, BOOL fSystem) {
    UINT cch = fSystem ? GetSystemDirectoryA(szPath, cbPath) : GetCurrentDirectoryA(cbPath, szPath);

    // A call whose buffer was too small answers the size it needs, which fails this test too.
    if (cch == 0 || cch + CCH_CARD_DATA_TAIL + 1 > cbPath)
        return 0;
    return cch;
}

void BuildCardDataPath(LPSTR szPath, UINT cbPath, BOOL fSystemFirst) {
    if (cbPath == 0)
        return;
    if (CchDirectory(szPath, cbPath, fSystemFirst) == 0 &&
        CchDirectory(szPath, cbPath, !fSystemFirst) == 0) {
        // Neither directory: the installation disk in the first floppy drive.
        lstrcpynA(szPath, "A:", (INT)cbPath);
    }
    if ((UINT)lstrlenA(szPath) + CCH_CARD_DATA_TAIL + 1 > cbPath) {
        // Not even "A:\QVHWCTL.DAT" fits: no path rather than a cut one.
        szPath[0] = '\0';
        return;
    }
    lstrcatA(szPath, "\\");
    lstrcatA(szPath, SZ_CARD_DATA_FILE);
}

BOOL FReadCardSettings(void) {
    HKEY hkeyParameters = NULL;
    DWORD dwProduct = 0;
    DWORD cbProduct = sizeof(dwProduct);
    CHAR szSection[CB_CARD_SECTION];
    CHAR szPath[MAX_PATH];
    LONG lError;

    lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SZ_DRIVER_PARAMETERS_KEY, 0, KEY_QUERY_VALUE,
                           &hkeyParameters);
    if (lError != ERROR_SUCCESS)
        return FALSE;
    // Four bytes of data whatever the value's type; longer data answers ERROR_MORE_DATA.
    lError = RegQueryValueExA(hkeyParameters, "CurrentProduct", NULL, NULL, (LPBYTE)&dwProduct,
                              &cbProduct);
    RegCloseKey(hkeyParameters);
    if (lError != ERROR_SUCCESS)
        return FALSE;

    // A product number too long for a card section name is as unreadable as a missing one.
    if (!FFormatCardSection(szSection, sizeof(szSection), dwProduct))
        return FALSE;
    BuildCardDataPath(szPath, sizeof(szPath), TRUE);
    fMidiMapperDefault = (INT)GetPrivateProfileIntA(szSection, "MidiMapperDefault", 1, szPath);
    return TRUE;
}
