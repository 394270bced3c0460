// The modem installation sequence: whether the board model carries a modem and on which COM
// port, the modem INF path, and the steps that install the modem, each failure told to the user.
#include "modem/modem.h"

#include <toolkit.h>

#include "driver/driver.h"

CHAR szModemPortName[CB_MODEM_PORT_NAME] = "COM";
CHAR szModemInfName[CB_MODEM_INF_NAME];
CHAR szModemInfPath[CB_MODEM_INF_PATH];

#define CB_CARD_DATA_PATH 100 // bytes, terminator included
#define CB_SERIAL_MESSAGE 100 // bytes: the serial-port message with the port's name

// Room that the directory of the modem INF path must leave: "\", the longest accepted INF name
// and the terminator.
#define CCH_MODEM_INF_TAIL (1 + CCH_MODEM_INF_NAME_MAX + 1)

// One directory source for the modem INF path: the current or the system directory. Zero when
// the call fails or the directory leaves no room for the INF name (the call then answers the
// size it needs, or a size that is too long).
static UINT CchModemInfDirectory(BOOL fSystem) {
    UINT cch = fSystem ? GetSystemDirectoryA(szModemInfPath, CB_MODEM_INF_PATH)
                       : GetCurrentDirectoryA(CB_MODEM_INF_PATH, szModemInfPath);

    if (cch == 0 || cch + CCH_MODEM_INF_TAIL > CB_MODEM_INF_PATH)
        return 0;
    return cch;
}

// The directory of the modem INF file, with its backslash: the current directory (the system
// directory in an ordinary run), else the system directory, else the installation disk.
static void BuildModemInfDirectory(void) {
    if (CchModemInfDirectory(FALSE) == 0 && CchModemInfDirectory(TRUE) == 0)
        lstrcpynA(szModemInfPath, "A:", CB_MODEM_INF_PATH);
    lstrcatA(szModemInfPath, "\\");
}

static void ShowModemMessage(LPCSTR szText) {
    MessageBoxA(NULL, szText, SZ_MODEM_CAPTION, MB_ICONHAND);
}

BOOL FInstallModem(HWND hwnd) {
    CHAR szSerialMessage[CB_SERIAL_MESSAGE];

    BuildModemInfDirectory();
    // A model without a modem, or one whose modem cannot be placed, passes without a word.
    if (!LLogSetupEvent(SETUP_LOG_MODEM, "modem on the model's COM port", FCheckModem()))
        return FALSE;
    // The directory left room for the longest accepted name.
    lstrcatA(szModemInfPath, szModemInfName);

    if (!LLogSetupEvent(SETUP_LOG_MODEM, "read the modem INF", FReadModemInf())) {
        ShowModemMessage(SZ_MODEM_FILE_ERROR);
        return FALSE;
    }
    if (!LLogSetupEvent(SETUP_LOG_MODEM, "install the modem device", FInstallModemDevice(hwnd))) {
        ShowModemMessage(SZ_MODEM_NOT_INSTALLED);
        return FALSE;
    }
    if (!LLogSetupEvent(SETUP_LOG_MODEM, "attach the modem to its port", FSetModemAttachedTo())) {
        ShowModemMessage(SZ_MODEM_NOT_INSTALLED);
        return FALSE;
    }
    if (!LLogSetupEvent(SETUP_LOG_MODEM, "configure the serial port", FConfigureSerialPort())) {
        // The port name has at most four characters, so the text fits.
        wsprintfA(szSerialMessage, "Please add %s by \"Ports\" in \"Control Panel\" after setup.",
                  szModemPortName);
        ShowModemMessage(szSerialMessage);
        return FALSE;
    }
    return TRUE;
}

// Reads a 32-bit value of the driver parameters key, opened for this one read.
static BOOL FReadDriverParameter(LPCSTR szValue, DWORD* pdw) {
    HKEY hkey = NULL;
    DWORD cb = sizeof(DWORD); // bytes; longer data answers ERROR_MORE_DATA
    LONG lError;

    lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SZ_DRIVER_PARAMETERS_KEY, 0, KEY_READ, &hkey);
    if (lError != ERROR_SUCCESS)
        return FALSE;
    lError = RegQueryValueExA(hkey, szValue, NULL, NULL, (LPBYTE)pdw, &cb);
    RegCloseKey(hkey);
    return lError == ERROR_SUCCESS;
}

BOOL FCheckModem(void) {
    CHAR szCardDataPath[CB_CARD_DATA_PATH];
    CHAR szCardSection[CB_CARD_SECTION];
    DWORD dwProduct = 0;
    DWORD dwComOption = 0;
    UINT uModem;
    DWORD cchInfName;

    BuildCardDataPath(szCardDataPath, CB_CARD_DATA_PATH, FALSE);
    if (!FReadDriverParameter("CurrentProduct", &dwProduct))
        return FALSE;
    // A product number too long for a card section name describes no known model.
    if (!FFormatCardSection(szCardSection, CB_CARD_SECTION, dwProduct))
        return FALSE;

    // 0 and 100 (the default of a missing key) both say the model carries no modem.
    uModem = GetPrivateProfileIntA(szCardSection, "Modem", 100, szCardDataPath);
    if (uModem == 0 || uModem == 100)
        return FALSE;

    // The INF name in characters, terminator not counted; the read cuts it to 19.
    cchInfName = GetPrivateProfileStringA("InfFile.Cards", szCardSection, "0", szModemInfName,
                                          CB_MODEM_INF_NAME, szCardDataPath);
    if (cchInfName > CCH_MODEM_INF_NAME_MAX)
        return FALSE;

    if (!FReadDriverParameter("COMOption", &dwComOption))
        return FALSE;
    if (dwComOption < 1 || dwComOption > 4)
        return FALSE;
    szModemPortName[3] = (CHAR)('0' + dwComOption);
    szModemPortName[4] = '\0';
    return TRUE;
}
