// Modem installation: the modem check, the modem INF reading, the device installation, and the
// modem's serial port.
#pragma once

#include <windows.h>

extern CHAR szModemPortName[5];  // "COM1".."COM4" once the modem check succeeded
extern CHAR szModemInfName[20];  // the modem INF file name from the card data file
extern CHAR szModemInfPath[300]; // directory, "\", modem INF name
extern CHAR szDeviceDescription[100];
extern CHAR szHardwareId[100];
extern GUID guidModemClass;
extern CHAR szModemClassName[100];

BOOL FInstallModem(HWND hwnd);
BOOL FCheckModem(void);
BOOL FReadModemInf(void);
BOOL FGetFirstEntryValue(LPSTR szDest, LPCSTR szSectionList);
BOOL FInstallModemDevice(HWND hwnd);
BOOL FSetModemAttachedTo(void);
BOOL FConfigureSerialPort(void);
