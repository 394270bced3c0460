// SETUPAPI.DLL for the runs under Wine only (never shipped): Wine's SETUPAPI stops the process in
// SetupDiSelectOEMDrv and the driver-install-params calls. This DLL, put beside SETUP.EXE, takes
// their place on a route that Wine does carry out, and hands every other call to Wine's own.
#define _SETUPAPI_
#include <windows.h>
#include <setupapi.h>

#include <cstring>

namespace {

// Wine's SETUPAPI, loaded by its full path so that it is not this DLL again.
HMODULE HmodReal() {
    static HMODULE hmod = [] {
        char szPath[MAX_PATH];
        UINT cch = GetSystemDirectoryA(szPath, sizeof(szPath));
        if (cch == 0 || cch + sizeof("\\setupapi.dll") > sizeof(szPath))
            return static_cast<HMODULE>(nullptr);
        std::strcat(szPath, "\\setupapi.dll");
        return LoadLibraryA(szPath);
    }();
    return hmod;
}

template <class Fn> Fn* Real(const char* szName) {
    HMODULE hmod = HmodReal();
    FARPROC proc = hmod == nullptr ? nullptr : GetProcAddress(hmod, szName);
    return reinterpret_cast<Fn*>(reinterpret_cast<void*>(proc));
}

// The INF file that the program last asked the class of: the one it installs from.
char g_szInfPath[MAX_PATH];

// The driver install parameters as the program last set them (one device is installed a run).
SP_DRVINSTALL_PARAMS g_drvInstallParams = {sizeof(SP_DRVINSTALL_PARAMS), 0, 0, 0, 0};

BOOL FCheckDrvParams(PSP_DRVINFO_DATA_A pDrvInfo, PSP_DRVINSTALL_PARAMS pParams) {
    if (pDrvInfo == nullptr || pParams == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pParams->cbSize != sizeof(SP_DRVINSTALL_PARAMS)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    return TRUE;
}

} // namespace

extern "C" {

BOOL WINAPI SetupDiGetINFClassA(PCSTR InfName, LPGUID ClassGuid, PSTR ClassName,
                                DWORD ClassNameSize, PDWORD RequiredSize) {
    if (InfName != nullptr && std::strlen(InfName) < sizeof(g_szInfPath))
        std::strcpy(g_szInfPath, InfName);
    return Real<decltype(SetupDiGetINFClassA)>("SetupDiGetINFClassA")(InfName, ClassGuid, ClassName,
                                                                      ClassNameSize, RequiredSize);
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent) {
    return Real<decltype(SetupDiCreateDeviceInfoList)>("SetupDiCreateDeviceInfoList")(ClassGuid,
                                                                                      hwndParent);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    return Real<decltype(SetupDiDestroyDeviceInfoList)>("SetupDiDestroyDeviceInfoList")(
        DeviceInfoSet);
}

BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceName,
                                     const GUID* ClassGuid, PCSTR DeviceDescription,
                                     HWND hwndParent, DWORD CreationFlags,
                                     PSP_DEVINFO_DATA DeviceInfoData) {
    return Real<decltype(SetupDiCreateDeviceInfoA)>("SetupDiCreateDeviceInfoA")(
        DeviceInfoSet, DeviceName, ClassGuid, DeviceDescription, hwndParent, CreationFlags,
        DeviceInfoData);
}

BOOL WINAPI SetupDiRegisterDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                      DWORD Flags, PSP_DETSIG_CMPPROC CompareProc,
                                      PVOID CompareContext, PSP_DEVINFO_DATA DupDeviceInfoData) {
    return Real<decltype(SetupDiRegisterDeviceInfo)>("SetupDiRegisterDeviceInfo")(
        DeviceInfoSet, DeviceInfoData, Flags, CompareProc, CompareContext, DupDeviceInfoData);
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
    return Real<decltype(SetupDiGetDeviceInstallParamsA)>("SetupDiGetDeviceInstallParamsA")(
        DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
}

BOOL WINAPI SetupDiSetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
    return Real<decltype(SetupDiSetDeviceInstallParamsA)>("SetupDiSetDeviceInstallParamsA")(
        DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
}

BOOL WINAPI SetupDiGetSelectedDriverA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                      PSP_DRVINFO_DATA_A DriverInfoData) {
    return Real<decltype(SetupDiGetSelectedDriverA)>("SetupDiGetSelectedDriverA")(
        DeviceInfoSet, DeviceInfoData, DriverInfoData);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
    return Real<decltype(SetupDiGetDeviceRegistryPropertyA)>("SetupDiGetDeviceRegistryPropertyA")(
        DeviceInfoSet, DeviceInfoData, Property, PropertyRegDataType, PropertyBuffer,
        PropertyBufferSize, RequiredSize);
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    return Real<decltype(SetupDiCallClassInstaller)>("SetupDiCallClassInstaller")(
        InstallFunction, DeviceInfoSet, DeviceInfoData);
}

// Selects the driver that the INF file offers for the device: the device's hardware ID is the
// middle part of its instance ID (ROOT\QVMDM_0001\0000), the driver search is pointed at that one
// INF, and the best compatible driver is taken, as Wine can.
BOOL WINAPI SetupDiSelectOEMDrv(HWND hwndParent, HDEVINFO DeviceInfoSet,
                                PSP_DEVINFO_DATA DeviceInfoData) {
    (void)hwndParent;
    char szInstanceId[MAX_PATH];
    if (!Real<decltype(SetupDiGetDeviceInstanceIdA)>("SetupDiGetDeviceInstanceIdA")(
            DeviceInfoSet, DeviceInfoData, szInstanceId, sizeof(szInstanceId), nullptr))
        return FALSE;
    char* pchFirst = std::strchr(szInstanceId, '\\');
    char* pchLast = std::strrchr(szInstanceId, '\\');
    if (pchFirst == nullptr || pchLast == pchFirst) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    // A REG_MULTI_SZ of one ID: the ID, its zero and the closing zero.
    char rgchHardwareId[MAX_PATH + 1] = {};
    std::memcpy(rgchHardwareId, pchFirst + 1, pchLast - pchFirst - 1);
    DWORD cbHardwareId = static_cast<DWORD>(pchLast - pchFirst - 1) + 2;
    if (!Real<decltype(SetupDiSetDeviceRegistryPropertyA)>("SetupDiSetDeviceRegistryPropertyA")(
            DeviceInfoSet, DeviceInfoData, SPDRP_HARDWAREID,
            reinterpret_cast<const BYTE*>(rgchHardwareId), cbHardwareId))
        return FALSE;

    SP_DEVINSTALL_PARAMS_A params = {};
    params.cbSize = sizeof(params);
    if (!SetupDiGetDeviceInstallParamsA(DeviceInfoSet, DeviceInfoData, &params))
        return FALSE;
    std::strcpy(params.DriverPath, g_szInfPath);
    params.Flags |= DI_ENUMSINGLEINF;
    if (!SetupDiSetDeviceInstallParamsA(DeviceInfoSet, DeviceInfoData, &params))
        return FALSE;
    if (!Real<decltype(SetupDiBuildDriverInfoList)>("SetupDiBuildDriverInfoList")(
            DeviceInfoSet, DeviceInfoData, SPDIT_COMPATDRIVER))
        return FALSE;
    return Real<decltype(SetupDiSelectBestCompatDrv)>("SetupDiSelectBestCompatDrv")(DeviceInfoSet,
                                                                                    DeviceInfoData);
}

// Wine's installer does not use the driver install parameters; they are kept as set.
BOOL WINAPI SetupDiGetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams) {
    (void)DeviceInfoSet;
    (void)DeviceInfoData;
    if (!FCheckDrvParams(DriverInfoData, DriverInstallParams))
        return FALSE;
    *DriverInstallParams = g_drvInstallParams;
    return TRUE;
}

BOOL WINAPI SetupDiSetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams) {
    (void)DeviceInfoSet;
    (void)DeviceInfoData;
    if (!FCheckDrvParams(DriverInfoData, DriverInstallParams))
        return FALSE;
    g_drvInstallParams = *DriverInstallParams;
    return TRUE;
}

// The undo record names the instance; the removal opens it again and removes it.
BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
    return Real<decltype(SetupDiGetDeviceInstanceIdA)>("SetupDiGetDeviceInstanceIdA")(
        DeviceInfoSet, DeviceInfoData, DeviceInstanceId, DeviceInstanceIdSize, RequiredSize);
}

BOOL WINAPI SetupDiOpenDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND hwndParent,
                                   DWORD OpenFlags, PSP_DEVINFO_DATA DeviceInfoData) {
    return Real<decltype(SetupDiOpenDeviceInfoA)>("SetupDiOpenDeviceInfoA")(
        DeviceInfoSet, DeviceInstanceId, hwndParent, OpenFlags, DeviceInfoData);
}

} // extern "C"
