// The modem device installation: the modem is installed through the Windows device installer
// from its INF file, quietly and without copying files, with the driver of that INF file.
#include "modem/modem.h"

#include <setupapi.h>

GUID guidModemClass;
CHAR szModemClassName[CB_INF_TEXT];
CHAR szModemDriverKey[CB_INF_TEXT];

// The records are handed over with these sizes; the code uses sizeof, these pin the 32-bit
// layout that Windows NT's device installer expects.
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_A) == 296, "SP_DEVINSTALL_PARAMS_A");
static_assert(sizeof(SP_DRVINFO_DATA_V1_A) == 780, "SP_DRVINFO_DATA_V1_A");
static_assert(sizeof(SP_DRVINSTALL_PARAMS) == 20, "SP_DRVINSTALL_PARAMS");
#endif

// What the installer is asked for besides the defaults: the OEM driver from the modem INF, no
// questions, no files (setup copied them), and the hardware ID always written.
#define DI_FLAGS_MODEM (DI_SHOWOEM | DI_PROPERTIES_CHANGE | DI_QUIETINSTALL | DI_NOFILECOPY)

// The device installer lives in "SETUPAPI.DLL", which Windows NT 3.51 may lack: setup loads it
// only for this step, and its absence is a failed installation like any other. It is loaded
// from the system directory by its full path: a bare name is looked for in the program's folder
// and the current directory first, where anyone may have put a file of that name.
#define SZ_SETUPAPI "SETUPAPI.DLL"
#define C_SETUPAPI_REQUIRED 12
#define C_SETUPAPI_ENTRIES 13

// Looked up in this order; the first twelve must be there.
static LPCSTR const rgszSetupApiEntry[C_SETUPAPI_ENTRIES] = {
    "SetupDiGetINFClassA",
    "SetupDiCreateDeviceInfoList",
    "SetupDiCreateDeviceInfoA",
    "SetupDiSelectOEMDrv",
    "SetupDiRegisterDeviceInfo",
    "SetupDiGetDeviceInstallParamsA",
    "SetupDiSetDeviceInstallParamsA",
    "SetupDiGetSelectedDriverA",
    "SetupDiGetDriverInstallParamsA",
    "SetupDiSetDriverInstallParamsA",
    "SetupDiCallClassInstaller",
    "SetupDiDestroyDeviceInfoList",
    "SetupDiGetDeviceRegistryPropertyA",
};

// Meaningful only while the library is held, during FInstallModemDevice.
static FARPROC rgpfnSetupApi[C_SETUPAPI_ENTRIES];

typedef BOOL(WINAPI* PFN_GET_INF_CLASS)(PCSTR, LPGUID, PSTR, DWORD, PDWORD);
typedef HDEVINFO(WINAPI* PFN_CREATE_LIST)(const GUID*, HWND);
typedef BOOL(WINAPI* PFN_CREATE_INFO)(HDEVINFO, PCSTR, const GUID*, PCSTR, HWND, DWORD,
                                      PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* PFN_SELECT_OEM_DRV)(HWND, HDEVINFO, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* PFN_REGISTER)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PSP_DETSIG_CMPPROC, PVOID,
                                   PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* PFN_DEVICE_PARAMS)(HDEVINFO, PSP_DEVINFO_DATA, PSP_DEVINSTALL_PARAMS_A);
typedef BOOL(WINAPI* PFN_SELECTED_DRIVER)(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_A);
typedef BOOL(WINAPI* PFN_DRIVER_PARAMS)(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_A,
                                        PSP_DRVINSTALL_PARAMS);
typedef BOOL(WINAPI* PFN_CALL_CLASS_INSTALLER)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* PFN_DESTROY_LIST)(HDEVINFO);
typedef BOOL(WINAPI* PFN_REGISTRY_PROPERTY)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD,
                                            PDWORD);

// An entry point as the function it is (through void (*)(void), which stands for any function).
#define SETUPAPI_FN(i, type) ((type)(void (*)(void))rgpfnSetupApi[i])
#define PfnGetINFClass SETUPAPI_FN(0, PFN_GET_INF_CLASS)
#define PfnCreateDeviceInfoList SETUPAPI_FN(1, PFN_CREATE_LIST)
#define PfnCreateDeviceInfo SETUPAPI_FN(2, PFN_CREATE_INFO)
#define PfnSelectOEMDrv SETUPAPI_FN(3, PFN_SELECT_OEM_DRV)
#define PfnRegisterDeviceInfo SETUPAPI_FN(4, PFN_REGISTER)
#define PfnGetDeviceInstallParams SETUPAPI_FN(5, PFN_DEVICE_PARAMS)
#define PfnSetDeviceInstallParams SETUPAPI_FN(6, PFN_DEVICE_PARAMS)
#define PfnGetSelectedDriver SETUPAPI_FN(7, PFN_SELECTED_DRIVER)
#define PfnGetDriverInstallParams SETUPAPI_FN(8, PFN_DRIVER_PARAMS)
#define PfnSetDriverInstallParams SETUPAPI_FN(9, PFN_DRIVER_PARAMS)
#define PfnCallClassInstaller SETUPAPI_FN(10, PFN_CALL_CLASS_INSTALLER)
#define PfnDestroyDeviceInfoList SETUPAPI_FN(11, PFN_DESTROY_LIST)
#define PfnGetDeviceRegistryProperty SETUPAPI_FN(12, PFN_REGISTRY_PROPERTY)

// Resolves the entry points; FALSE when a required one is missing.
static BOOL FResolveSetupApi(HMODULE hmodSetupApi) {
    for (INT i = 0; i < C_SETUPAPI_ENTRIES; i++) {
        rgpfnSetupApi[i] = GetProcAddress(hmodSetupApi, rgszSetupApiEntry[i]);
        if (rgpfnSetupApi[i] == NULL && i < C_SETUPAPI_REQUIRED)
            return FALSE;
    }
    return TRUE;
}

// Notes which class subkey the installer gave the modem, so that the port goes to it whatever
// its INF file preset. Not knowing it is no failure of the installation.
static void NoteModemDriverKey(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData) {
    DWORD dwType = 0;

    szModemDriverKey[0] = '\0';
    if (rgpfnSetupApi[12] == NULL)
        return;
    if (!PfnGetDeviceRegistryProperty(hDevInfo, pDevInfoData, SPDRP_DRIVER, &dwType,
                                      (PBYTE)szModemDriverKey, CB_INF_TEXT - 1, NULL) ||
        dwType != REG_SZ) {
        szModemDriverKey[0] = '\0';
    }
    szModemDriverKey[CB_INF_TEXT - 1] = '\0';
}

// Runs the installation steps on the open list; FALSE at the first step that fails.
static BOOL FInstallIntoList(HDEVINFO hDevInfo, HWND hwnd) {
    SP_DEVINFO_DATA devInfoData = {};
    SP_DEVINFO_DATA dupDevInfoData = {}; // a duplicate the installer may report; not read
    SP_DEVINSTALL_PARAMS_A devInstallParams = {};
    SP_DRVINFO_DATA_A drvInfoData = {};
    SP_DRVINSTALL_PARAMS drvInstallParams = {};

    devInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!PfnCreateDeviceInfo(hDevInfo, szHardwareId, &guidModemClass, szDeviceDescription, hwnd,
                             DICD_GENERATE_ID, &devInfoData))
        return FALSE;
    if (!PfnSelectOEMDrv(hwnd, hDevInfo, &devInfoData))
        return FALSE;
    if (!PfnRegisterDeviceInfo(hDevInfo, &devInfoData, SPRDI_FIND_DUPS, NULL, NULL,
                               &dupDevInfoData))
        return FALSE;

    devInstallParams.cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
    if (!PfnGetDeviceInstallParams(hDevInfo, &devInfoData, &devInstallParams))
        return FALSE;
    devInstallParams.hwndParent = hwnd;
    devInstallParams.Flags |= DI_FLAGS_MODEM;
    devInstallParams.FlagsEx |= DI_FLAGSEX_ALWAYSWRITEIDS;
    if (!PfnSetDeviceInstallParams(hDevInfo, &devInfoData, &devInstallParams))
        return FALSE;

    // The driver record of the first version: the fields read here are all it needs.
    drvInfoData.cbSize = sizeof(SP_DRVINFO_DATA_V1_A);
    if (!PfnGetSelectedDriver(hDevInfo, &devInfoData, &drvInfoData))
        return FALSE;
    drvInfoData.DriverType = SPDIT_CLASSDRIVER;
    drvInstallParams.cbSize = sizeof(SP_DRVINSTALL_PARAMS);
    if (!PfnGetDriverInstallParams(hDevInfo, &devInfoData, &drvInfoData, &drvInstallParams))
        return FALSE;
    // The best rank, and a driver from an INF file of the older kind.
    drvInstallParams.Rank = 0;
    drvInstallParams.Flags |= DNF_LEGACYINF;
    if (!PfnSetDriverInstallParams(hDevInfo, &devInfoData, &drvInfoData, &drvInstallParams))
        return FALSE;

    if (!PfnCallClassInstaller(DIF_INSTALLDEVICE, hDevInfo, &devInfoData))
        return FALSE;
    NoteModemDriverKey(hDevInfo, &devInfoData);
    return TRUE;
}

static HMODULE HmodLoadSetupApi(void) {
    CHAR szPath[MAX_PATH];
    UINT cch = GetSystemDirectoryA(szPath, MAX_PATH);

    if (cch == 0 || cch + 1 + sizeof(SZ_SETUPAPI) > MAX_PATH)
        return NULL;
    lstrcatA(szPath, "\\" SZ_SETUPAPI);
    return LoadLibraryA(szPath);
}

BOOL FInstallModemDevice(HWND hwnd) {
    HMODULE hmodSetupApi = NULL;
    HDEVINFO hDevInfo = INVALID_HANDLE_VALUE;
    DWORD cbRequired = 0;
    BOOL fResult = FALSE;

    szModemDriverKey[0] = '\0';
    hmodSetupApi = HmodLoadSetupApi();
    if (hmodSetupApi == NULL)
        return FALSE;
    if (!FResolveSetupApi(hmodSetupApi))
        goto Done;
    if (!PfnGetINFClass(szModemInfPath, &guidModemClass, szModemClassName, CB_INF_TEXT,
                        &cbRequired))
        goto Done;
    hDevInfo = PfnCreateDeviceInfoList(&guidModemClass, hwnd);
    if (hDevInfo == INVALID_HANDLE_VALUE)
        goto Done;
    fResult = FInstallIntoList(hDevInfo, hwnd);
    // Whatever the steps did, the list goes here and only here.
    PfnDestroyDeviceInfoList(hDevInfo);

Done:
    FreeLibrary(hmodSetupApi);
    return fResult;
}
