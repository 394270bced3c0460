// The system DLLs a program may load itself (ADVAPI32, SETUPAPI, KERNEL32, USER32) and the entry
// points that GetProcAddress finds in them: the emulated functions themselves.
#include "winemu/machine.h"

#include <setupapi.h>

#include <cstring>

using winemu::Current;
using winemu::HandleKind;
using winemu::NameEquals;

namespace {

struct Export {
    const char* name;
    FARPROC address;
};

// Through void(*)(void), the type that stands for "any function" without a cast warning.
template <class F> FARPROC Address(F* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

const Export kAdvapi32Exports[] = {
    {"AdjustTokenPrivileges", Address(&AdjustTokenPrivileges)},
    {"LookupPrivilegeValueA", Address(&LookupPrivilegeValueA)},
    {"OpenProcessToken", Address(&OpenProcessToken)},
    {"RegCloseKey", Address(&RegCloseKey)},
    {"RegCreateKeyA", Address(&RegCreateKeyA)},
    {"RegCreateKeyExA", Address(&RegCreateKeyExA)},
    {"RegDeleteKeyA", Address(&RegDeleteKeyA)},
    {"RegEnumKeyA", Address(&RegEnumKeyA)},
    {"RegEnumKeyExA", Address(&RegEnumKeyExA)},
    {"RegOpenKeyA", Address(&RegOpenKeyA)},
    {"RegOpenKeyExA", Address(&RegOpenKeyExA)},
    {"RegQueryInfoKeyA", Address(&RegQueryInfoKeyA)},
    {"RegQueryValueA", Address(&RegQueryValueA)},
    {"RegQueryValueExA", Address(&RegQueryValueExA)},
    {"RegSetValueA", Address(&RegSetValueA)},
    {"RegSetValueExA", Address(&RegSetValueExA)},
};

// The device installer, which setup loads only for the modem (Windows NT 3.51 may lack it).
const Export kSetupapiExports[] = {
    {"SetupDiCallClassInstaller", Address(&SetupDiCallClassInstaller)},
    {"SetupDiCreateDeviceInfoA", Address(&SetupDiCreateDeviceInfoA)},
    {"SetupDiCreateDeviceInfoList", Address(&SetupDiCreateDeviceInfoList)},
    {"SetupDiDestroyDeviceInfoList", Address(&SetupDiDestroyDeviceInfoList)},
    {"SetupDiGetDeviceInstallParamsA", Address(&SetupDiGetDeviceInstallParamsA)},
    {"SetupDiGetDeviceRegistryPropertyA", Address(&SetupDiGetDeviceRegistryPropertyA)},
    {"SetupDiGetDriverInstallParamsA", Address(&SetupDiGetDriverInstallParamsA)},
    {"SetupDiGetINFClassA", Address(&SetupDiGetINFClassA)},
    {"SetupDiGetSelectedDriverA", Address(&SetupDiGetSelectedDriverA)},
    {"SetupDiRegisterDeviceInfo", Address(&SetupDiRegisterDeviceInfo)},
    {"SetupDiSelectOEMDrv", Address(&SetupDiSelectOEMDrv)},
    {"SetupDiSetDeviceInstallParamsA", Address(&SetupDiSetDeviceInstallParamsA)},
    {"SetupDiSetDriverInstallParamsA", Address(&SetupDiSetDriverInstallParamsA)},
};

struct Library {
    const char* name;
    const Export* exports;
    size_t exportCount;
};

// KERNEL32 and USER32 load, so that a program can check for them, but export nothing here.
const Library kLibraries[] = {
    {"ADVAPI32.DLL", kAdvapi32Exports, std::size(kAdvapi32Exports)},
    {"SETUPAPI.DLL", kSetupapiExports, std::size(kSetupapiExports)},
    {"KERNEL32.DLL", nullptr, 0},
    {"USER32.DLL", nullptr, 0},
};

// The library a LoadLibraryA name means: the file name alone, or with the system directory in
// front; ".DLL" is implied when the name has no extension (a trailing dot means none).
const Library* FindLibrary(std::string_view fileName) {
    std::string name(fileName);
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
        std::string dir = name.substr(0, slash);
        if (!NameEquals(dir, Current().SystemDirectory()))
            return nullptr;
        name.erase(0, slash + 1);
    }
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    else if (name.find('.') == std::string::npos)
        name += ".DLL";
    for (const Library& library : kLibraries) {
        if (NameEquals(name, library.name))
            return &library;
    }
    return nullptr;
}

} // namespace

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    std::string_view name = lpLibFileName ? lpLibFileName : "";
    winemu::Machine& m = Current();
    if (m.Fault().Check("LoadLibraryA", {name})) {
        m.LastError() = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    if (lpLibFileName == nullptr) {
        m.LastError() = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const Library* library = FindLibrary(name);
    if (library == nullptr) {
        m.LastError() = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    // The object is the library's table entry, which lives as long as the program.
    std::shared_ptr<void> object(const_cast<Library*>(library), [](void*) {});
    ULONG_PTR handle =
        m.Objects().Open(HandleKind::Module, std::string("module ") + library->name, object);
    return reinterpret_cast<HMODULE>(handle);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    winemu::Machine& m = Current();
    // An ordinal (a number below 0x10000 in place of the name) finds nothing here.
    bool byName = reinterpret_cast<ULONG_PTR>(lpProcName) > 0xFFFF;
    std::string_view name = byName ? lpProcName : "";
    if (m.Fault().Check("GetProcAddress", {name})) {
        m.LastError() = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    auto library =
        m.Objects().GetAs<Library>(reinterpret_cast<ULONG_PTR>(hModule), HandleKind::Module);
    if (!library) {
        m.LastError() = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    // Export names match exactly, case included.
    for (size_t i = 0; byName && i < library->exportCount; ++i) {
        if (name == library->exports[i].name)
            return library->exports[i].address;
    }
    m.LastError() = ERROR_PROC_NOT_FOUND;
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    winemu::Machine& m = Current();
    if (!m.Objects().Close(reinterpret_cast<ULONG_PTR>(hLibModule), HandleKind::Module)) {
        m.LastError() = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
