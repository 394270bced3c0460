// The system DLLs a program may load itself (ADVAPI32, SETUPAPI, KERNEL32, USER32) and the entry
// points that GetProcAddress finds in them: the emulated functions themselves. The sample sound
// driver TONEBAY.DLL is built into the machine as well (platform/tonebay): a file of that name,
// found where LoadLibraryA looks, stands for the built driver, which then runs as loaded from it.
#include "winemu/kernel32/modules.h"
#include "winemu/kernel32/tonebay.h"
#include "winemu/machine.h"
#include "winemu/machine/export.h"

#include <mmsystem.h>
#include <setupapi.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

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
    {"RegDeleteValueA", Address(&RegDeleteValueA)},
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
    {"SetupDiGetDeviceInstanceIdA", Address(&SetupDiGetDeviceInstanceIdA)},
    {"SetupDiGetINFClassA", Address(&SetupDiGetINFClassA)},
    {"SetupDiGetSelectedDriverA", Address(&SetupDiGetSelectedDriverA)},
    {"SetupDiRegisterDeviceInfo", Address(&SetupDiRegisterDeviceInfo)},
    {"SetupDiOpenDeviceInfoA", Address(&SetupDiOpenDeviceInfoA)},
    {"SetupDiSelectOEMDrv", Address(&SetupDiSelectOEMDrv)},
    {"SetupDiSetDeviceInstallParamsA", Address(&SetupDiSetDeviceInstallParamsA)},
    {"SetupDiSetDriverInstallParamsA", Address(&SetupDiSetDriverInstallParamsA)},
};

const Export kTonebayExports[] = {
    {"DriverProc", Address(&TonebayDriverProc)},
};

using DllEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

struct Library {
    const char* name;
    const Export* exports;
    size_t exportCount;
    DllEntry dllMain = nullptr; // null: none to call
};

// KERNEL32 and USER32 load, so that a program can check for them, but export nothing here.
const Library kLibraries[] = {
    {"ADVAPI32.DLL", kAdvapi32Exports, std::size(kAdvapi32Exports)},
    {"SETUPAPI.DLL", kSetupapiExports, std::size(kSetupapiExports)},
    {"KERNEL32.DLL", nullptr, 0},
    {"USER32.DLL", nullptr, 0},
};

// DLLs that are files on the machine's drives: loaded only where such a file is found.
const Library kFileLibraries[] = {
    {"TONEBAY.DLL", kTonebayExports, std::size(kTonebayExports), &TonebayDllMain},
};

// A loaded module: its table entry and the file it was loaded from. A file DLL is loaded once
// per process, as Windows does: later loads share its handle and count it.
struct LoadedModule {
    const Library* library;
    std::string path;
    int loads = 1;
};

// The loaded file DLLs by table entry; an entry of another (or an ended) machine is not found in
// the current machine's handles.
std::map<const Library*, std::pair<ULONG_PTR, std::weak_ptr<LoadedModule>>> g_fileModules;

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '\\')
        return directory + name;
    return directory + "\\" + name;
}

// A file found as LoadLibraryA finds a DLL named without a directory: the program's own folder
// (the directory it was started from), the current directory, the system directory, then the
// Windows directory. Its Windows path, or nullopt.
std::optional<std::string> SearchFile(winemu::Machine& m, const std::string& name) {
    std::vector<std::string> candidates;
    if (name.find_first_of("\\/:") != std::string::npos) {
        candidates.push_back(m.FullPath(name));
    } else {
        candidates.push_back(JoinPath(m.Config().currentDirectory, name));
        candidates.push_back(JoinPath(m.CurrentDirectory(), name));
        candidates.push_back(JoinPath(m.SystemDirectory(), name));
        candidates.push_back(JoinPath(m.Config().windowsDirectory, name));
    }
    for (const std::string& candidate : candidates) {
        if (candidate.empty())
            continue;
        std::optional<std::filesystem::path> host = m.HostPath(candidate);
        std::error_code error;
        if (host && std::filesystem::is_regular_file(*host, error))
            return candidate;
    }
    return std::nullopt;
}

HMODULE LoadFileModule(winemu::Machine& m, const std::string& name, DWORD& error) {
    std::optional<std::string> path = SearchFile(m, name);
    if (!path) {
        error = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    const std::string fileName = path->substr(path->find_last_of('\\') + 1);
    const Library* library = nullptr;
    for (const Library& candidate : kFileLibraries) {
        if (NameEquals(fileName, candidate.name))
            library = &candidate;
    }
    if (library == nullptr) {
        error = ERROR_BAD_FORMAT;
        return nullptr;
    }
    auto loaded = g_fileModules.find(library);
    if (loaded != g_fileModules.end()) {
        auto [handle, weak] = loaded->second;
        std::shared_ptr<LoadedModule> module = weak.lock();
        if (module && m.Objects().Get(handle, HandleKind::Module) == module) {
            ++module->loads;
            return reinterpret_cast<HMODULE>(handle);
        }
    }
    auto module = std::make_shared<LoadedModule>(LoadedModule{library, *path});
    ULONG_PTR handle = m.Objects().Open(HandleKind::Module, "module " + *path, module);
    HMODULE hmodule = reinterpret_cast<HMODULE>(handle);
    if (library->dllMain != nullptr &&
        !library->dllMain(reinterpret_cast<HINSTANCE>(hmodule), DLL_PROCESS_ATTACH, nullptr)) {
        m.Objects().Close(handle, HandleKind::Module);
        error = ERROR_DLL_INIT_FAILED;
        return nullptr;
    }
    g_fileModules[library] = {handle, module};
    return hmodule;
}

std::shared_ptr<LoadedModule> FindModule(winemu::Machine& m, HMODULE hModule) {
    return m.Objects().GetAs<LoadedModule>(reinterpret_cast<ULONG_PTR>(hModule),
                                           HandleKind::Module);
}

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

namespace winemu {

HMODULE LoadModule(std::string_view name, DWORD& error) {
    winemu::Machine& m = Current();
    const Library* library = FindLibrary(name);
    if (library == nullptr) {
        std::string fileName(name);
        size_t slash = fileName.find_last_of("\\/:");
        if (!fileName.empty() && fileName.back() == '.')
            fileName.pop_back();
        else if (fileName.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos)
            fileName += ".DLL";
        return LoadFileModule(m, fileName, error);
    }
    // Each load of a system DLL is its own handle; the object is the library's table entry,
    // which lives as long as the program.
    auto module = std::make_shared<LoadedModule>(
        LoadedModule{library, JoinPath(m.SystemDirectory(), library->name)});
    ULONG_PTR handle =
        m.Objects().Open(HandleKind::Module, std::string("module ") + library->name, module);
    return reinterpret_cast<HMODULE>(handle);
}

FARPROC ModuleExport(HMODULE module, std::string_view name) {
    std::shared_ptr<LoadedModule> loaded = FindModule(Current(), module);
    if (!loaded)
        return nullptr;
    // Export names match exactly, case included.
    for (size_t i = 0; i < loaded->library->exportCount; ++i) {
        if (name == loaded->library->exports[i].name)
            return loaded->library->exports[i].address;
    }
    return nullptr;
}

bool FreeModule(HMODULE module) {
    winemu::Machine& m = Current();
    std::shared_ptr<LoadedModule> loaded = FindModule(m, module);
    if (!loaded)
        return false;
    if (--loaded->loads > 0)
        return true;
    if (loaded->library->dllMain != nullptr)
        loaded->library->dllMain(reinterpret_cast<HINSTANCE>(module), DLL_PROCESS_DETACH, nullptr);
    return m.Objects().Close(reinterpret_cast<ULONG_PTR>(module), HandleKind::Module);
}

} // namespace winemu

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    std::string_view name = lpLibFileName ? lpLibFileName : "";
    if (winemu::Faulted("LoadLibraryA", ERROR_MOD_NOT_FOUND, name))
        return nullptr;
    winemu::Machine& m = Current();
    if (lpLibFileName == nullptr) {
        m.LastError() = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    DWORD error = ERROR_SUCCESS;
    HMODULE module = winemu::LoadModule(name, error);
    if (module == nullptr)
        m.LastError() = error;
    return module;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    winemu::Machine& m = Current();
    // An ordinal (a number below 0x10000 in place of the name) finds nothing here.
    bool byName = reinterpret_cast<ULONG_PTR>(lpProcName) > 0xFFFF;
    std::string_view name = byName ? lpProcName : "";
    if (winemu::Faulted("GetProcAddress", ERROR_PROC_NOT_FOUND, name))
        return nullptr;
    if (!FindModule(m, hModule)) {
        m.LastError() = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    FARPROC address = byName ? winemu::ModuleExport(hModule, name) : nullptr;
    if (address == nullptr)
        m.LastError() = ERROR_PROC_NOT_FOUND;
    return address;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (!winemu::FreeModule(hLibModule)) {
        Current().LastError() = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

// The module's file as it was loaded; a null module is the program, SETUP.EXE in the folder it
// was started from. A name that does not fit is cut to the buffer and its size returned.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    winemu::Machine& m = Current();
    std::shared_ptr<LoadedModule> loaded = hModule ? FindModule(m, hModule) : nullptr;
    const std::string path = hModule == nullptr ? JoinPath(m.Config().currentDirectory, "SETUP.EXE")
                             : loaded           ? loaded->path
                                                : std::string();
    if (winemu::Faulted("GetModuleFileNameA", ERROR_MOD_NOT_FOUND, path) || path.empty()) {
        m.LastError() = ERROR_MOD_NOT_FOUND;
        return 0;
    }
    if (lpFilename == nullptr || nSize == 0) {
        m.LastError() = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (path.size() < nSize) {
        std::memcpy(lpFilename, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    m.LastError() = ERROR_INSUFFICIENT_BUFFER;
    return nSize;
}

// Thread notifications are not sent here: nothing to turn off.
BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule) {
    if (!FindModule(Current(), hLibModule)) {
        Current().LastError() = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
