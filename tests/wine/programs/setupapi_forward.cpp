// SETUPAPI.DLL for the runs under Wine only (never shipped): Wine's SETUPAPI stops the process in
// SetupDiSelectOEMDrv and the driver-install-params calls. This DLL, put in the system directory
// in place of Wine's (for SETUP.EXE only), takes their place on a route that Wine does carry out,
// and hands every other call to Wine's own. Its SetupDiSelectOEMDrv asks for the disk in a real
// dialog, as Windows does.
#define _SETUPAPI_
#include <windows.h>
#include <setupapi.h>

#include <cstring>

namespace {

// Wine's SETUPAPI, which the run puts beside this DLL under another name (this DLL takes its
// place in the system directory, where setup loads it from).
HMODULE HmodReal() {
    static HMODULE hmod = [] {
        char szPath[MAX_PATH];
        UINT cch = GetSystemDirectoryA(szPath, sizeof(szPath));
        if (cch == 0 || cch + sizeof("\\winesetupapi.dll") > sizeof(szPath))
            return static_cast<HMODULE>(nullptr);
        std::strcat(szPath, "\\winesetupapi.dll");
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

GUID g_classGuid; // the class of that INF file

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

// ---------------------------------------------------------------------------------------------
// "Install From Disk": a modal dialog over the caller's window, the folder to copy from in an
// edit field (suggested: the folder of the INF whose class was asked for), OK and Cancel. A folder
// that holds no INF file of the device's class is refused in a message box over the dialog, which
// then asks again.

constexpr WORD kIdPrompt = 100; // setupapi_forward.rc
constexpr WORD kIdFolder = 1001;

// The INF file of the folder whose class is the device's; false when there is none.
bool FFindClassInf(const char* szFolder, char* szInf, size_t cbInf) {
    char szPattern[MAX_PATH];
    size_t cch = std::strlen(szFolder);
    const char* szSep = cch > 0 && szFolder[cch - 1] == '\\' ? "" : "\\";
    if (cch + 8 >= sizeof(szPattern))
        return false;
    std::strcpy(szPattern, szFolder);
    std::strcat(szPattern, szSep);
    std::strcat(szPattern, "*.inf");
    WIN32_FIND_DATAA find;
    HANDLE hFind = FindFirstFileA(szPattern, &find);
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    bool fFound = false;
    do {
        if (cch + std::strlen(szSep) + std::strlen(find.cFileName) >= cbInf)
            continue;
        std::strcpy(szInf, szFolder);
        std::strcat(szInf, szSep);
        std::strcat(szInf, find.cFileName);
        GUID guid;
        char szClass[64];
        fFound = Real<decltype(SetupDiGetINFClassA)>("SetupDiGetINFClassA")(
                     szInf, &guid, szClass, sizeof(szClass), nullptr) &&
                 IsEqualGUID(guid, g_classGuid);
    } while (!fFound && FindNextFileA(hFind, &find));
    FindClose(hFind);
    return fFound;
}

struct Prompt {
    char szFolder[MAX_PATH];
    char szInf[MAX_PATH];
};

INT_PTR CALLBACK PromptProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Prompt* pPrompt = reinterpret_cast<Prompt*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        SetDlgItemTextA(hwnd, kIdFolder, reinterpret_cast<Prompt*>(lParam)->szFolder);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(hwnd, IDCANCEL);
            return TRUE;
        }
        if (LOWORD(wParam) != IDOK)
            return FALSE;
        GetDlgItemTextA(hwnd, kIdFolder, pPrompt->szFolder, sizeof(pPrompt->szFolder));
        if (!FFindClassInf(pPrompt->szFolder, pPrompt->szInf, sizeof(pPrompt->szInf))) {
            MessageBoxA(hwnd, "This folder holds no information about the device.",
                        "Install From Disk", MB_OK | MB_ICONEXCLAMATION);
            return TRUE;
        }
        EndDialog(hwnd, IDOK);
        return TRUE;
    default:
        return FALSE;
    }
}

// The folder the user gives, or false when the prompt is cancelled.
bool FAskForDisk(HWND hwndParent, Prompt& prompt) {
    std::strcpy(prompt.szFolder, g_szInfPath);
    char* pchSlash = std::strrchr(prompt.szFolder, '\\');
    if (pchSlash != nullptr)
        pchSlash[pchSlash == prompt.szFolder + 2 ? 1 : 0] = '\0'; // "A:\" keeps its backslash
    HMODULE hmodSelf = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&PromptProc), &hmodSelf);
    return DialogBoxParamA(hmodSelf, MAKEINTRESOURCEA(kIdPrompt), hwndParent, PromptProc,
                           reinterpret_cast<LPARAM>(&prompt)) == IDOK;
}

} // namespace

extern "C" {

BOOL WINAPI SetupDiGetINFClassA(PCSTR InfName, LPGUID ClassGuid, PSTR ClassName,
                                DWORD ClassNameSize, PDWORD RequiredSize) {
    if (InfName != nullptr && std::strlen(InfName) < sizeof(g_szInfPath))
        std::strcpy(g_szInfPath, InfName);
    BOOL fOk = Real<decltype(SetupDiGetINFClassA)>("SetupDiGetINFClassA")(
        InfName, ClassGuid, ClassName, ClassNameSize, RequiredSize);
    if (fOk && ClassGuid != nullptr)
        g_classGuid = *ClassGuid;
    return fOk;
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

// Selects the driver of the disk the user names: the device's hardware ID is the middle part of
// its instance ID (ROOT\QVMDM_0001\0000), the driver search is pointed at the folder's INF file
// of the device's class, and the best compatible driver is taken, as Wine can.
BOOL WINAPI SetupDiSelectOEMDrv(HWND hwndParent, HDEVINFO DeviceInfoSet,
                                PSP_DEVINFO_DATA DeviceInfoData) {
    Prompt prompt = {};
    if (!FAskForDisk(hwndParent, prompt)) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
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
    std::strcpy(params.DriverPath, prompt.szInf);
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
