// Setup's own changes on their way through the undo record: its registry writes, and the device
// installer's calls that make the modem, each entry written before the change is made.
#include "toolkit/undo_record.h"

#include "toolkit/core.h"

#include <toolkit.h>

#include <setupapi.h>

// ---------------------------------------------------------------------------------------------
// Setup's registry calls on their way through the record.

namespace {

// Keeps the path of a key setup opened, so that its values can be recorded.
void NoteOpenedKey(HKEY parentKey, LPCSTR lpSubKey, HKEY opened) {
    toolkit::Guarded("RegOpenKeyExA", toolkit::Nothing{}, [&] {
        std::string parent = toolkit::KeyPath(parentKey);
        if (!parent.empty()) {
            toolkit::g_undo.keys[opened] = toolkit::JoinKey(parent, lpSubKey ? lpSubKey : "");
        }
        return toolkit::Nothing{};
    });
}

// An entry of the device installer's, appended; false when it is not in the record.
bool AppendNoted(std::string_view kind, std::string_view text) {
    return toolkit::Guarded("the undo record", false, [&] {
        return toolkit::Append({kind, text});
    });
}

} // namespace

LONG WINAPI StfRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult) {
    LONG result = RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (result == ERROR_SUCCESS && phkResult) {
        NoteOpenedKey(hKey, lpSubKey, *phkResult);
    }
    return result;
}

LONG WINAPI StfRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    return toolkit::Guarded<LONG>("RegCreateKeyExA", ERROR_NOT_ENOUGH_MEMORY, [&]() -> LONG {
        std::string parent = toolkit::KeyPath(hKey);
        if (toolkit::g_undo.armed && !parent.empty() &&
            !toolkit::RecordMissingKeys(hKey, parent, lpSubKey)) {
            return ERROR_WRITE_FAULT;
        }
        LONG result = RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                      lpSecurityAttributes, phkResult, lpdwDisposition);
        if (result == ERROR_SUCCESS && phkResult && !parent.empty()) {
            toolkit::g_undo.keys[*phkResult] = toolkit::JoinKey(parent, lpSubKey ? lpSubKey : "");
        }
        return result;
    });
}

LONG WINAPI StfRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    return toolkit::Guarded<LONG>("RegSetValueExA", ERROR_NOT_ENOUGH_MEMORY, [&]() -> LONG {
        if (toolkit::g_undo.armed) {
            std::string path = toolkit::KeyPath(hKey);
            if (path.empty()) {
                toolkit::CurrentRecorder().Note("Setup cannot record a value of a key it did not "
                                                "open through the record.\n");
                return ERROR_INVALID_HANDLE;
            }
            std::optional<toolkit::ValueData> before = toolkit::ReadValue(hKey, lpValueName);
            if (!before) {
                return ERROR_ACCESS_DENIED; // what is there cannot be kept: it is not overwritten
            }
            toolkit::ValueData after;
            after.present = true;
            after.type = dwType;
            if (lpData) {
                after.bytes.assign(lpData, lpData + cbData);
            }
            if (!toolkit::Append({"value", path, lpValueName ? lpValueName : "",
                                  toolkit::FormatData(*before), toolkit::FormatData(after)})) {
                return ERROR_WRITE_FAULT;
            }
        }
        return RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
    });
}

LONG WINAPI StfRegCloseKey(HKEY hKey) {
    toolkit::g_undo.keys.erase(hKey);
    return RegCloseKey(hKey);
}

// ---------------------------------------------------------------------------------------------
// The device installer's calls that make the modem, on their way through the record.

namespace {

template <class F> FARPROC AsProc(F function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

// The installer's own entry points, from the module setup looked them up in.
toolkit::PfnRegister g_pfnRegister = nullptr;
toolkit::PfnClassInstaller g_pfnClassInstaller = nullptr;
toolkit::PfnInstanceId g_pfnInstanceId = nullptr;
toolkit::PfnProperty g_pfnProperty = nullptr;

// The instance is named in the record before it is registered, so a run that dies after leaves
// it removable; an instance that cannot be named is not registered.
BOOL WINAPI RecordedRegisterDeviceInfo(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD flags,
                                       PSP_DETSIG_CMPPROC compare, PVOID context,
                                       PSP_DEVINFO_DATA dup) {
    if (toolkit::g_undo.armed) {
        char id[MAX_PATH];
        if (!g_pfnInstanceId || !g_pfnInstanceId(set, data, id, sizeof id, nullptr)) {
            return FALSE;
        }
        if (!AppendNoted("device", id)) {
            SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
    }
    return g_pfnRegister(set, data, flags, compare, context, dup);
}

BOOL WINAPI RecordedCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data) {
    BOOL ok = g_pfnClassInstaller(function, set, data);
    if (ok && function == DIF_INSTALLDEVICE && toolkit::g_undo.armed && g_pfnProperty) {
        char key[MAX_PATH] = {};
        DWORD type = 0;
        if (g_pfnProperty(set, data, SPDRP_DRIVER, &type, reinterpret_cast<PBYTE>(key),
                          sizeof key - 1, nullptr) &&
            type == REG_SZ) {
            AppendNoted("classkey", key); // the device's removal takes it with it
        }
    }
    return ok;
}

} // namespace

FARPROC WINAPI StfGetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    FARPROC proc = GetProcAddress(hModule, lpProcName);
    if (proc == nullptr || reinterpret_cast<ULONG_PTR>(lpProcName) <= 0xFFFF) {
        return proc;
    }
    std::string_view name = lpProcName;
    if (name == "SetupDiRegisterDeviceInfo") {
        g_pfnRegister = toolkit::As<toolkit::PfnRegister>(proc);
        g_pfnInstanceId = toolkit::As<toolkit::PfnInstanceId>(
            GetProcAddress(hModule, "SetupDiGetDeviceInstanceIdA"));
        return AsProc(&RecordedRegisterDeviceInfo);
    }
    if (name == "SetupDiCallClassInstaller") {
        g_pfnClassInstaller = toolkit::As<toolkit::PfnClassInstaller>(proc);
        g_pfnProperty = toolkit::As<toolkit::PfnProperty>(
            GetProcAddress(hModule, "SetupDiGetDeviceRegistryPropertyA"));
        return AsProc(&RecordedCallClassInstaller);
    }
    return proc;
}
