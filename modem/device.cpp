// The modem device installation: the modem is installed through the Windows device installer
// from its INF file, quietly and without copying files, with the driver of that INF file.
#include "modem/modem.h"

#include <setupapi.h>

GUID guidModemClass;
CHAR szModemClassName[CB_INF_TEXT];

// What the installer is asked for besides the defaults: the OEM driver from the modem INF, no
// questions, no files (setup copied them), and the hardware ID always written.
#define DI_FLAGS_MODEM (DI_SHOWOEM | DI_PROPERTIES_CHANGE | DI_QUIETINSTALL | DI_NOFILECOPY)

// Runs the installation steps on the open list; FALSE at the first step that fails.
static BOOL FInstallIntoList(HDEVINFO hDevInfo, HWND hwnd) {
    SP_DEVINFO_DATA devInfoData = {};
    SP_DEVINFO_DATA dupDevInfoData = {}; // a duplicate the installer may report; not read
    SP_DEVINSTALL_PARAMS_A devInstallParams = {};
    SP_DRVINFO_DATA_A drvInfoData = {};
    SP_DRVINSTALL_PARAMS drvInstallParams = {};

    devInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!SetupDiCreateDeviceInfoA(hDevInfo, szHardwareId, &guidModemClass, szDeviceDescription,
                                  hwnd, DICD_GENERATE_ID, &devInfoData))
        return FALSE;
    if (!SetupDiSelectOEMDrv(hwnd, hDevInfo, &devInfoData))
        return FALSE;
    if (!SetupDiRegisterDeviceInfo(hDevInfo, &devInfoData, SPRDI_FIND_DUPS, NULL, NULL,
                                   &dupDevInfoData))
        return FALSE;

    devInstallParams.cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
    if (!SetupDiGetDeviceInstallParamsA(hDevInfo, &devInfoData, &devInstallParams))
        return FALSE;
    devInstallParams.hwndParent = hwnd;
    devInstallParams.Flags |= DI_FLAGS_MODEM;
    devInstallParams.FlagsEx |= DI_FLAGSEX_ALWAYSWRITEIDS;
    if (!SetupDiSetDeviceInstallParamsA(hDevInfo, &devInfoData, &devInstallParams))
        return FALSE;

    // The driver record of the first version: the fields read here are all it needs.
    drvInfoData.cbSize = sizeof(SP_DRVINFO_DATA_V1_A);
    if (!SetupDiGetSelectedDriverA(hDevInfo, &devInfoData, &drvInfoData))
        return FALSE;
    drvInfoData.DriverType = SPDIT_CLASSDRIVER;
    drvInstallParams.cbSize = sizeof(SP_DRVINSTALL_PARAMS);
    if (!SetupDiGetDriverInstallParamsA(hDevInfo, &devInfoData, &drvInfoData, &drvInstallParams))
        return FALSE;
    // The best rank, and a driver from an INF file of the older kind.
    drvInstallParams.Rank = 0;
    drvInstallParams.Flags |= DNF_LEGACYINF;
    if (!SetupDiSetDriverInstallParamsA(hDevInfo, &devInfoData, &drvInfoData, &drvInstallParams))
        return FALSE;

    return SetupDiCallClassInstaller(DIF_INSTALLDEVICE, hDevInfo, &devInfoData);
}

BOOL FInstallModemDevice(HWND hwnd) {
    HDEVINFO hDevInfo = INVALID_HANDLE_VALUE;
    DWORD cbRequired = 0;
    BOOL fResult;

    if (!SetupDiGetINFClassA(szModemInfPath, &guidModemClass, szModemClassName, CB_INF_TEXT,
                             &cbRequired))
        return FALSE;
    hDevInfo = SetupDiCreateDeviceInfoList(&guidModemClass, hwnd);
    if (hDevInfo == INVALID_HANDLE_VALUE)
        return FALSE;
    fResult = FInstallIntoList(hDevInfo, hwnd);
    // Whatever the steps did, the list goes here and only here.
    SetupDiDestroyDeviceInfoList(hDevInfo);
    return fResult;
}
