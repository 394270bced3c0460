// The modem's serial port: the modem class entries are tied to the modem port, and that port
// gets its line settings and a subkey of the serial driver's parameters.
#include "modem/modem.h"

#define CCH_SUBKEY_NAME 50      // characters, terminator included, as enumeration is given them
#define CB_VALUE_TEXT 50        // bytes of a "DosDevices" or "AttachedTo" value read
#define CCH_PREFIX 6            // characters of the last subkey name kept for a new port subkey
#define NUMBER_LIMIT 2147483647 // a port subkey number read is held within this, either sign

// The standard PC port of each number: COM1 to COM4.
static const DWORD rgdwInterrupt[4] = {4, 3, 4, 3};
static const DWORD rgdwPortAddress[4] = {0x3F8, 0x2F8, 0x3E8, 0x2E8};

// Reads a REG_SZ-like value into szValue (CB_VALUE_TEXT bytes of data and a terminator of our
// own, so that data without one still ends). The registry's answer is returned.
static LONG LReadValueText(HKEY hkey, LPCSTR szName, LPSTR szValue) {
    DWORD cb = CB_VALUE_TEXT; // bytes
    LONG lError = RegQueryValueExA(hkey, szName, NULL, NULL, (LPBYTE)szValue, &cb);

    szValue[lError == ERROR_SUCCESS && cb <= CB_VALUE_TEXT ? cb : 0] = '\0';
    return lError;
}

// Whether the modem class subkey describes a modem that was already tied to another port before
// this installation. The modem just installed always takes the modem port, even when its INF
// file preset another one.
static BOOL FAttachedElsewhere(HKEY hkeyModem, LPCSTR szSubkey) {
    CHAR szAttachedTo[CB_VALUE_TEXT + 1];
    CHAR szDriverKey[sizeof(SZ_MODEM_CLASS_GUID) + CCH_SUBKEY_NAME]; // "{GUID}\subkey"
    LONG lError;

    lstrcpyA(szDriverKey, SZ_MODEM_CLASS_GUID "\\");
    lstrcatA(szDriverKey, szSubkey);
    if (lstrcmpiA(szDriverKey, szModemDriverKey) == 0)
        return FALSE;
    lError = LReadValueText(hkeyModem, "AttachedTo", szAttachedTo);
    // A value too long to read names no port of ours either.
    if (lError == ERROR_MORE_DATA)
        return TRUE;
    return lError == ERROR_SUCCESS && szAttachedTo[0] != '\0' &&
           lstrcmpiA(szAttachedTo, szModemPortName) != 0;
}

BOOL FSetModemAttachedTo(void) {
    HKEY hkeyClass = NULL;
    HKEY hkeyModem = NULL;
    CHAR szSubkey[CCH_SUBKEY_NAME];
    DWORD cchSubkey;
    FILETIME ftLastWrite;
    DWORD iSubkey;
    BOOL fAttached = FALSE; // at least one modem now names the port
    BOOL fResult = FALSE;
    LONG lError;

    lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SZ_MODEM_CLASS_KEY, 0, KEY_ALL_ACCESS, &hkeyClass);
    if (lError != ERROR_SUCCESS)
        return FALSE;
    for (iSubkey = 0;; iSubkey++) {
        cchSubkey = CCH_SUBKEY_NAME;
        lError =
            RegEnumKeyExA(hkeyClass, iSubkey, szSubkey, &cchSubkey, NULL, NULL, NULL, &ftLastWrite);
        // The end of the subkeys (or a name too long to enumerate) ends the walk.
        if (lError != ERROR_SUCCESS) {
            fResult = fAttached;
            break;
        }
        lError = RegOpenKeyExA(hkeyClass, szSubkey, 0, KEY_ALL_ACCESS, &hkeyModem);
        if (lError != ERROR_SUCCESS) {
            // A modem that cannot be opened ends the walk; it succeeded only if it wrote.
            fResult = fAttached;
            break;
        }
        // A modem installed on another port keeps that port.
        if (!FAttachedElsewhere(hkeyModem, szSubkey)) {
            lError = RegSetValueExA(hkeyModem, "AttachedTo", 0, REG_SZ,
                                    (const BYTE*)szModemPortName, CB_MODEM_PORT_NAME);
            if (lError != ERROR_SUCCESS)
                break;
            fAttached = TRUE;
        }
        RegCloseKey(hkeyModem);
        hkeyModem = NULL;
    }
    if (hkeyModem != NULL)
        RegCloseKey(hkeyModem);
    RegCloseKey(hkeyClass);
    return fResult;
}

// A signed decimal number as the start of szText reads: spaces skipped, an optional sign, then
// digits up to the first other character; no digit reads as 0. Held within NUMBER_LIMIT.
static LONG LReadNumber(LPCSTR szText) {
    LONG lValue = 0;
    BOOL fNegative = FALSE;

    while (*szText == ' ' || (*szText >= '\t' && *szText <= '\r'))
        szText++;
    if (*szText == '+' || *szText == '-')
        fNegative = *szText++ == '-';
    while (*szText >= '0' && *szText <= '9') {
        LONG lDigit = *szText - '0';
        lValue = lValue > (NUMBER_LIMIT - lDigit) / 10 ? NUMBER_LIMIT : lValue * 10 + lDigit;
        szText++;
    }
    return fNegative ? -lValue : lValue;
}

// Whether a subkey of that name exists, whatever access it would grant: only "not found" means
// that the name is free.
static BOOL FSubkeyExists(HKEY hkeySerial, LPCSTR szName) {
    HKEY hkeyExisting = NULL;
    LONG lError = RegOpenKeyExA(hkeySerial, szName, 0, KEY_QUERY_VALUE, &hkeyExisting);

    if (lError == ERROR_SUCCESS)
        RegCloseKey(hkeyExisting);
    return lError != ERROR_FILE_NOT_FOUND;
}

// The name of a new port subkey after the last one: its first six characters (all of a shorter
// name) and one more than the number that follows them (0 when none does). A name that already
// exists belongs to another port, so the number is counted up until the name is free. Of
// cSubkeys + 1 names at least one is free, so that many tries end the count; at the largest
// number the name is taken as it is.
static void BuildPortSubkeyName(HKEY hkeySerial, LPCSTR szLast, DWORD cSubkeys, LPSTR szName) {
    CHAR szPrefix[CCH_PREFIX + 1];
    LONG lNumber = 0;
    DWORD cTries = 0;

    lstrcpynA(szPrefix, szLast, CCH_PREFIX + 1);
    if (lstrlenA(szLast) > CCH_PREFIX)
        lNumber = LReadNumber(szLast + CCH_PREFIX);
    do {
        if (lNumber < NUMBER_LIMIT)
            lNumber++;
        // Six characters and a number of at most ten digits with its sign fit.
        wsprintfA(szName, "%s%d", szPrefix, (INT)lNumber);
    } while (lNumber < NUMBER_LIMIT && ++cTries <= cSubkeys && FSubkeyExists(hkeySerial, szName));
}

// DOS device names are compared byte for byte: "com3" is not the port COM3.
static BOOL FSameBytes(LPCSTR sz1, LPCSTR sz2) {
    while (*sz1 != '\0' && *sz1 == *sz2) {
        sz1++;
        sz2++;
    }
    return *sz1 == *sz2;
}

static BOOL FSetPortValues(HKEY hkeyPort, INT iPort) {
    DWORD dwFifo = 1;

    return RegSetValueExA(hkeyPort, "DosDevices", 0, REG_SZ, (const BYTE*)szModemPortName,
                          CB_MODEM_PORT_NAME) == ERROR_SUCCESS &&
           RegSetValueExA(hkeyPort, "ForceFifoEnable", 0, REG_DWORD, (const BYTE*)&dwFifo,
                          sizeof(DWORD)) == ERROR_SUCCESS &&
           RegSetValueExA(hkeyPort, "Interrupt", 0, REG_DWORD, (const BYTE*)&rgdwInterrupt[iPort],
                          sizeof(DWORD)) == ERROR_SUCCESS &&
           RegSetValueExA(hkeyPort, "PortAddress", 0, REG_DWORD,
                          (const BYTE*)&rgdwPortAddress[iPort], sizeof(DWORD)) == ERROR_SUCCESS;
}

// The Ports key: the modem port's line settings.
static BOOL FSetPortLineSettings(void) {
    static const CHAR szSettings[] = "57600,n,8,1";
    HKEY hkeyPorts = NULL;
    CHAR szValueName[CB_MODEM_PORT_NAME + 1]; // the port name and ":"
    LONG lError;

    lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SZ_PORTS_KEY, 0, KEY_ALL_ACCESS, &hkeyPorts);
    if (lError != ERROR_SUCCESS)
        return FALSE;
    lstrcpynA(szValueName, szModemPortName, CB_MODEM_PORT_NAME);
    lstrcatA(szValueName, ":");
    lError = RegSetValueExA(hkeyPorts, szValueName, 0, REG_SZ, (const BYTE*)szSettings,
                            sizeof(szSettings));
    RegCloseKey(hkeyPorts);
    return lError == ERROR_SUCCESS;
}

BOOL FConfigureSerialPort(void) {
    HKEY hkeySerial = NULL;
    HKEY hkeyPort = NULL;
    CHAR szSubkey[CCH_SUBKEY_NAME];
    CHAR szDosDevices[CB_VALUE_TEXT + 1];
    DWORD cchSubkey;
    DWORD cSubkeys = 0;
    DWORD iSubkey;
    FILETIME ftLastWrite;
    INT iPort = szModemPortName[3] - '1';
    BOOL fResult = FALSE;
    LONG lError;

    if (iPort < 0 || iPort > 3)
        return FALSE;
    if (!FSetPortLineSettings())
        return FALSE;

    lError =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, SZ_SERIAL_PARAMETERS_KEY, 0, KEY_ALL_ACCESS, &hkeySerial);
    if (lError != ERROR_SUCCESS)
        return FALSE;
    lError = RegQueryInfoKeyA(hkeySerial, NULL, NULL, NULL, &cSubkeys, NULL, NULL, NULL, NULL, NULL,
                              NULL, NULL);
    if (lError != ERROR_SUCCESS)
        goto Done;

    // The port's subkey is the first whose DOS device is the modem port; without one, a new
    // subkey is named after the last.
    lstrcpynA(szSubkey, "Serial1", CCH_SUBKEY_NAME);
    for (iSubkey = 0; iSubkey < cSubkeys; iSubkey++) {
        cchSubkey = CCH_SUBKEY_NAME;
        lError = RegEnumKeyExA(hkeySerial, iSubkey, szSubkey, &cchSubkey, NULL, NULL, NULL,
                               &ftLastWrite);
        if (lError != ERROR_SUCCESS)
            goto Done;
        lError = RegOpenKeyExA(hkeySerial, szSubkey, 0, KEY_ALL_ACCESS, &hkeyPort);
        if (lError != ERROR_SUCCESS)
            goto Done;
        if (LReadValueText(hkeyPort, "DosDevices", szDosDevices) != ERROR_SUCCESS)
            goto Done;
        if (FSameBytes(szDosDevices, szModemPortName))
            break;
        if (iSubkey == cSubkeys - 1)
            BuildPortSubkeyName(hkeySerial, szSubkey, cSubkeys, szSubkey);
        RegCloseKey(hkeyPort);
        hkeyPort = NULL;
    }

    if (hkeyPort == NULL) {
        lError = RegCreateKeyExA(hkeySerial, szSubkey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, NULL, &hkeyPort, NULL);
        if (lError != ERROR_SUCCESS) {
            hkeyPort = NULL;
            goto Done;
        }
    }
    fResult = FSetPortValues(hkeyPort, iPort);

Done:
    if (hkeyPort != NULL)
        RegCloseKey(hkeyPort);
    RegCloseKey(hkeySerial);
    return fResult;
}
