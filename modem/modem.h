// Modem installation: the modem check, the modem INF reading, the device installation, and the
// modem's serial port.
#pragma once

#include <windows.h>

#include <toolkit.h>

#define CB_MODEM_PORT_NAME 5      // bytes: "COM1".."COM4" and the terminator
#define CB_MODEM_INF_NAME 20      // bytes, as the card data file's read gets them
#define CCH_MODEM_INF_NAME_MAX 15 // characters: longer INF names are refused
#define CB_MODEM_INF_PATH 300     // bytes
#define CB_INF_TEXT 100           // bytes of each text taken from the modem INF file
#define CB_SECTION_LIST 1000      // bytes of a section read from the modem INF file

extern CHAR szModemPortName[CB_MODEM_PORT_NAME]; // "COM1".."COM4" once the modem check succeeded
extern CHAR szModemInfName[CB_MODEM_INF_NAME];   // the modem INF file name from the card data file
extern CHAR szModemInfPath[CB_MODEM_INF_PATH];   // directory, "\", modem INF name
extern CHAR szDeviceDescription[CB_INF_TEXT];
extern CHAR szHardwareId[CB_INF_TEXT];
extern GUID guidModemClass;
extern CHAR szModemClassName[CB_INF_TEXT];
extern CHAR szModemDriverKey[CB_INF_TEXT]; // "{class GUID}\0000": the modem just installed, or ""

// The messages of the modem installation, caption "Modem Installation".
#define SZ_MODEM_CAPTION "Modem Installation"
#define SZ_MODEM_FILE_ERROR "File error! Modem can't be installed."
#define SZ_MODEM_NOT_INSTALLED                                                                     \
    "Modem isn't installed correctly. You may install Modem by Control Panel."

// The registry keys of the modem's port, under HKEY_LOCAL_MACHINE.
#define SZ_MODEM_CLASS_GUID "{4D36E96D-E325-11CE-BFC1-08002BE10318}"
#define SZ_MODEM_CLASS_KEY "SYSTEM\\CurrentControlSet\\Control\\Class\\" SZ_MODEM_CLASS_GUID "\\"
#define SZ_PORTS_KEY "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports\\"
#define SZ_SERIAL_PARAMETERS_KEY "SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters\\"

BOOL FInstallModem(HWND hwnd);
BOOL FCheckModem(void);
BOOL FReadModemInf(void);
BOOL FGetFirstEntryValue(LPSTR szDest, LPCSTR szSectionList);
BOOL FInstallModemDevice(HWND hwnd);
BOOL FSetModemAttachedTo(void);
BOOL FConfigureSerialPort(void);
