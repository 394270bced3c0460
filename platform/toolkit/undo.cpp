// The undo record: what a run changed on the machine, one entry a line in SNDUNDO.LOG in the
// system directory, each written and flushed before the change it records, so that a run that
// dies can be undone up to where it got. SETUP.EXE /remove undoes it, last entry first.
//
//   SNDSTF undo record, version 1
//   key      HKEY_LOCAL_MACHINE\SOFTWARE\...\Drivers32            a key that setup created
//   value    KEY  NAME  BEFORE  AFTER                             BEFORE: "-" (absent) or
//                                                                  "TYPE:hex,hex,...", AFTER too
//   file     C:\WINNT\system32\TONEBAY.DLL  -                     a new file
//   file     C:\WINNT\system32\TONEBAY.DLL  C:\...\SNDUN001.BAK   a file replaced, kept aside
//   device   ROOT\MODEM\0000                                       a device the installer made
//   classkey {4D36E96D-E325-11CE-BFC1-08002BE10318}\0000           its class subkey (informative)
//   group    Mixer                                                 a program group
//   item     Mixer  Mixer                                          an item of a group
//
// Fields are separated by a tab; a tab, a line end or '%' inside a field is written %XX.
#include "toolkit/core.h"

#include <toolkit.h>

#include <setupapi.h>

#include <cstdio>
#include <map>

namespace toolkit {
namespace {

constexpr std::string_view kRecordName = "SNDUNDO.LOG";
constexpr std::string_view kHeaderPrefix = "SNDSTF undo record, version ";
constexpr int kRecordVersion = 1;

struct UndoState {
    bool armed = false;   // this run records what it changes
    bool removal = false; // this run is /remove
    HANDLE file = INVALID_HANDLE_VALUE;
    std::map<HKEY, std::string> keys; // the full path of each key setup's code holds open
};

UndoState g_undo;

std::string SystemDirectory() {
    char dir[MAX_PATH];
    UINT count = GetSystemDirectoryA(dir, sizeof dir);
    if (count == 0 || count >= sizeof dir) {
        return {};
    }
    return std::string(dir, count);
}

std::string WindowsDirectory() {
    char dir[MAX_PATH];
    UINT count = GetWindowsDirectoryA(dir, sizeof dir);
    if (count == 0 || count >= sizeof dir) {
        return {};
    }
    return std::string(dir, count);
}

std::string RecordPath() {
    std::string dir = SystemDirectory();
    return dir.empty() ? dir : WithBackslash(dir) + std::string(kRecordName);
}

std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || HexDigit(text[i + 1]) < 0 || HexDigit(text[i + 2]) < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
        i += 2;
    }
    return out;
}

// A value's type and bytes, or its absence.
struct ValueData {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

std::string FormatData(const ValueData& data) {
    if (!data.present) {
        return "-";
    }
    std::string out = std::to_string(data.type) + ":";
    for (size_t i = 0; i < data.bytes.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? ",%02x" : "%02x", data.bytes[i]);
        out += hex;
    }
    return out;
}

std::optional<ValueData> ParseData(std::string_view text) {
    ValueData data;
    if (text == "-") {
        return data;
    }
    size_t colon = text.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon > 10) {
        return std::nullopt;
    }
    unsigned long long type = 0;
    for (char c : text.substr(0, colon)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        type = type * 10 + static_cast<unsigned>(c - '0');
    }
    if (type > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    data.present = true;
    data.type = static_cast<DWORD>(type);
    std::string_view hex = text.substr(colon + 1);
    for (size_t i = 0; i < hex.size(); i += 3) {
        if (i + 2 > hex.size() || HexDigit(hex[i]) < 0 || HexDigit(hex[i + 1]) < 0 ||
            (i + 2 < hex.size() && hex[i + 2] != ',')) {
            return std::nullopt;
        }
        data.bytes.push_back(static_cast<BYTE>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1])));
    }
    return data;
}

// The value as it is now, read through the registry functions.
std::optional<ValueData> ReadValue(HKEY key, LPCSTR name) {
    ValueData data;
    DWORD type = 0;
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND) {
        return data;
    }
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) {
        return std::nullopt;
    }
    data.bytes.resize(size);
    result = RegQueryValueExA(key, name, nullptr, &type,
                              data.bytes.empty() ? nullptr : &data.bytes[0], &size);
    if (result != ERROR_SUCCESS) {
        return std::nullopt;
    }
    data.bytes.resize(size);
    data.present = true;
    data.type = type;
    return data;
}

// ---------------------------------------------------------------------------------------------
// Writing the record.

// Opens the record at the run's first change: a fresh one gets its first line, an existing one
// of this version is appended to, any other is left alone and the change is not made.
bool OpenRecord() {
    if (g_undo.file != INVALID_HANDLE_VALUE) {
        return true;
    }
    std::string path = RecordPath();
    if (path.empty()) {
        return false;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        CurrentRecorder().Note("Setup cannot write its undo record " + path + ".\n");
        return false;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    bool ok = size != INVALID_FILE_SIZE && high == 0;
    if (ok && size > 0) {
        std::string expected = std::string(kHeaderPrefix) + std::to_string(kRecordVersion) + "\r\n";
        std::string head(expected.size(), '\0');
        DWORD read = 0;
        ok = ReadFile(file, &head[0], static_cast<DWORD>(head.size()), &read, nullptr) &&
             read == head.size() && head == expected;
        if (!ok) {
            CurrentRecorder().Note("Setup will not add to the undo record " + path +
                                   ": it is not one this setup wrote.\n");
        }
    }
    if (ok && SetFilePointer(file, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        ok = false;
    }
    g_undo.file = file;
    if (ok && size == 0) {
        std::string header = std::string(kHeaderPrefix) + std::to_string(kRecordVersion) + "\r\n";
        DWORD written = 0;
        ok = WriteFile(file, header.data(), static_cast<DWORD>(header.size()), &written, nullptr) &&
             written == header.size();
    }
    if (!ok) {
        CloseHandle(file);
        g_undo.file = INVALID_HANDLE_VALUE;
    }
    return ok;
}

// One entry, on the disk before the change it records. False: the change must not be made.
bool Append(std::initializer_list<std::string_view> fields) {
    if (!OpenRecord()) {
        return false;
    }
    std::string line;
    for (std::string_view field : fields) {
        line += (line.empty() ? "" : "\t") + Escape(field);
    }
    line += "\r\n";
    DWORD written = 0;
    if (!WriteFile(g_undo.file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size() || !FlushFileBuffers(g_undo.file)) {
        CurrentRecorder().Note("Setup cannot write its undo record; the change is not made.\n");
        return false;
    }
    return true;
}

const char* RootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) {
        return "HKEY_LOCAL_MACHINE";
    }
    if (key == HKEY_CURRENT_USER) {
        return "HKEY_CURRENT_USER";
    }
    return nullptr;
}

// The full path of an open key that setup's code got through the record; "" when unknown.
std::string KeyPath(HKEY key) {
    if (const char* root = RootName(key)) {
        return root;
    }
    auto found = g_undo.keys.find(key);
    return found == g_undo.keys.end() ? std::string() : found->second;
}

// The subkey's names without empty ones ("A\\B\\" is A, B).
std::vector<std::string> SplitKey(std::string_view subkey) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= subkey.size()) {
        size_t end = subkey.find('\\', start);
        if (end == std::string_view::npos) {
            end = subkey.size();
        }
        if (end > start) {
            names.emplace_back(subkey.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

std::string JoinKey(const std::string& parent, std::string_view subkey) {
    std::string path = parent;
    for (const std::string& name : SplitKey(subkey)) {
        path += "\\" + name;
    }
    return path;
}

// Splits "HKEY_LOCAL_MACHINE\\A\\B" into its root and "A\\B".
bool OpenPath(const std::string& path, HKEY& root, std::string& subkey) {
    size_t slash = path.find('\\');
    std::string rootName = path.substr(0, slash);
    if (NameEquals(rootName, "HKEY_LOCAL_MACHINE")) {
        root = HKEY_LOCAL_MACHINE;
    } else if (NameEquals(rootName, "HKEY_CURRENT_USER")) {
        root = HKEY_CURRENT_USER;
    } else {
        return false;
    }
    subkey = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    return true;
}

// The keys that a create would make: each missing one from the first below what exists.
bool RecordMissingKeys(HKEY parent, const std::string& parentPath, LPCSTR subkey) {
    std::string relative;
    bool missing = false;
    for (const std::string& name : SplitKey(subkey ? subkey : "")) {
        relative += (relative.empty() ? "" : "\\") + name;
        if (!missing) {
            HKEY probe = nullptr;
            LONG result = RegOpenKeyExA(parent, relative.c_str(), 0, KEY_READ, &probe);
            if (result == ERROR_SUCCESS) {
                RegCloseKey(probe);
                continue;
            }
            if (result != ERROR_FILE_NOT_FOUND) {
                return true; // the create will fail the same way, or find it: nothing to record
            }
            missing = true;
        }
        if (!Append({"key", JoinKey(parentPath, relative)})) {
            return false;
        }
    }
    return true;
}

} // namespace

void BeginUndoRecord(bool removal) {
    if (g_undo.file != INVALID_HANDLE_VALUE) {
        CloseHandle(g_undo.file);
    }
    g_undo = UndoState{};
    g_undo.removal = removal;
    g_undo.armed = !removal;
}

void EndUndoRecord() {
    if (g_undo.file != INVALID_HANDLE_VALUE) {
        CloseHandle(g_undo.file);
        g_undo.file = INVALID_HANDLE_VALUE;
    }
    g_undo.armed = false;
}

INT RecordCopy(const std::string& target) {
    if (!g_undo.armed) {
        return 0;
    }
    DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Only a file that is surely not there is recorded as new: undoing deletes it.
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            CurrentRecorder().Note("Setup cannot tell whether " + target + " is there.\n");
            return error ? static_cast<INT>(error) : ERROR_ACCESS_DENIED;
        }
        return Append({"file", target, "-"}) ? 0 : ERROR_WRITE_FAULT;
    }
    // The file it replaces is kept aside under a name of its own in the system directory.
    std::string dir = SystemDirectory();
    if (dir.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    for (int n = 1; n < 1000; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "SNDUN%03d.BAK", n);
        std::string backup = WithBackslash(dir) + name;
        if (GetFileAttributesA(backup.c_str()) != INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        if (!Append({"file", target, backup})) {
            return ERROR_WRITE_FAULT;
        }
        if (!CopyFileA(target.c_str(), backup.c_str(), TRUE)) {
            CurrentRecorder().Note("Setup cannot keep " + target + " aside as " + backup + ".\n");
            DWORD error = GetLastError();
            return error ? static_cast<INT>(error) : ERROR_WRITE_FAULT;
        }
        return 0;
    }
    return ERROR_FILE_EXISTS;
}

bool RecordGroup(std::string_view group) {
    return !g_undo.armed || Append({"group", group});
}

bool RecordItem(std::string_view group, std::string_view item) {
    return !g_undo.armed || Append({"item", group, item});
}

} // namespace toolkit

// ---------------------------------------------------------------------------------------------
// Setup's registry calls on their way through the record.

namespace {

// Keeps the path of a key setup opened, so that its values can be recorded.
void NoteOpenedKey(HKEY parentKey, LPCSTR lpSubKey, HKEY opened) TOOLKIT_TRY {
    std::string parent = toolkit::KeyPath(parentKey);
    if (!parent.empty()) {
        toolkit::g_undo.keys[opened] = toolkit::JoinKey(parent, lpSubKey ? lpSubKey : "");
    }
}
TOOLKIT_CATCH(const std::exception& error) {
    toolkit::NoteCallFailed(error, "RegOpenKeyExA");
}

// An entry of the device installer's, appended; false when it is not in the record.
bool AppendNoted(std::string_view kind, std::string_view text) TOOLKIT_TRY {
    return toolkit::Append({kind, text});
}
TOOLKIT_CATCH(const std::exception& error) {
    toolkit::NoteCallFailed(error, "the undo record");
    return false;
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
                               LPDWORD lpdwDisposition) TOOLKIT_TRY {
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
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<LONG>("RegCreateKeyExA", error, ERROR_NOT_ENOUGH_MEMORY);
}

LONG WINAPI StfRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) TOOLKIT_TRY {
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
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<LONG>("RegSetValueExA", error, ERROR_NOT_ENOUGH_MEMORY);
}

LONG WINAPI StfRegCloseKey(HKEY hKey) {
    toolkit::g_undo.keys.erase(hKey);
    return RegCloseKey(hKey);
}

// ---------------------------------------------------------------------------------------------
// The device installer's calls that make the modem, on their way through the record.

namespace {

using PfnRegister = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PSP_DETSIG_CMPPROC, PVOID,
                                  PSP_DEVINFO_DATA);
using PfnClassInstaller = BOOL(WINAPI*)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA);
using PfnInstanceId = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, PSTR, DWORD, PDWORD);
using PfnProperty = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
using PfnCreateList = HDEVINFO(WINAPI*)(const GUID*, HWND);
using PfnOpenInfo = BOOL(WINAPI*)(HDEVINFO, PCSTR, HWND, DWORD, PSP_DEVINFO_DATA);
using PfnDestroyList = BOOL(WINAPI*)(HDEVINFO);

template <class F> F As(FARPROC proc) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(proc));
}
template <class F> FARPROC AsProc(F function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

// The installer's own entry points, from the module setup looked them up in.
PfnRegister g_pfnRegister = nullptr;
PfnClassInstaller g_pfnClassInstaller = nullptr;
PfnInstanceId g_pfnInstanceId = nullptr;
PfnProperty g_pfnProperty = nullptr;

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
        g_pfnRegister = As<PfnRegister>(proc);
        g_pfnInstanceId = As<PfnInstanceId>(GetProcAddress(hModule, "SetupDiGetDeviceInstanceIdA"));
        return AsProc(&RecordedRegisterDeviceInfo);
    }
    if (name == "SetupDiCallClassInstaller") {
        g_pfnClassInstaller = As<PfnClassInstaller>(proc);
        g_pfnProperty =
            As<PfnProperty>(GetProcAddress(hModule, "SetupDiGetDeviceRegistryPropertyA"));
        return AsProc(&RecordedCallClassInstaller);
    }
    return proc;
}

// ---------------------------------------------------------------------------------------------
// Reading and undoing the record.

namespace toolkit {
namespace {

struct Entry {
    std::string kind;
    std::vector<std::string> fields; // after the kind, unescaped
    std::string line;                // as written, to keep it when it is not undone
};

struct Parsed {
    std::vector<Entry> entries;
    std::string why; // empty when the record is usable
};

// A file the record may touch: one inside the Windows directory, named by a full path.
bool InsideWindows(const std::string& path, const std::string& windows) {
    std::string prefix = WithBackslash(windows);
    return !windows.empty() && path.size() > prefix.size() &&
           NameEquals(std::string_view(path).substr(0, prefix.size()), prefix) &&
           path.find("\\..") == std::string::npos && path.find("..\\") == std::string::npos;
}

bool ValidKeyPath(const std::string& path) {
    HKEY root = nullptr;
    std::string subkey;
    return OpenPath(path, root, subkey) && !subkey.empty();
}

Parsed ParseRecord(const std::string& text) {
    Parsed parsed;
    std::string_view rest = text;
    std::string_view header = TakeLine(rest);
    if (header.substr(0, kHeaderPrefix.size()) != kHeaderPrefix) {
        parsed.why = "it is not an undo record of this setup";
        return parsed;
    }
    std::string_view version = header.substr(kHeaderPrefix.size());
    if (version.empty() || version.size() > 6 ||
        version.find_first_not_of("0123456789") != std::string_view::npos) {
        parsed.why = "its first line is damaged";
        return parsed;
    }
    int versionNumber = 0;
    for (char c : version) {
        versionNumber = versionNumber * 10 + (c - '0'); // at most six digits, checked above
    }
    if (versionNumber > kRecordVersion) {
        parsed.why = "it was written by a newer setup (version " + std::string(version) + ")";
        return parsed;
    }
    if (text.empty() || text.back() != '\n') {
        parsed.why = "it is cut short (its last line is incomplete)";
        return parsed;
    }
    std::string windows = WindowsDirectory();
    int number = 1;
    while (!rest.empty()) {
        std::string_view line = TakeLine(rest);
        ++number;
        if (line.empty()) {
            continue;
        }
        Entry entry;
        entry.line = std::string(line);
        std::vector<std::string> fields;
        size_t start = 0;
        bool ok = true;
        while (start <= line.size()) {
            size_t tab = line.find('\t', start);
            if (tab == std::string_view::npos) {
                tab = line.size();
            }
            std::optional<std::string> field = Unescape(line.substr(start, tab - start));
            ok = ok && field.has_value();
            fields.push_back(field.value_or(""));
            start = tab + 1;
        }
        entry.kind = fields[0];
        entry.fields.assign(fields.begin() + 1, fields.end());
        const std::vector<std::string>& f = entry.fields;
        if (ok) {
            if (entry.kind == "key") {
                ok = f.size() == 1 && ValidKeyPath(f[0]);
            } else if (entry.kind == "value") {
                ok = f.size() == 4 && ValidKeyPath(f[0]) && ParseData(f[2]) && ParseData(f[3]) &&
                     ParseData(f[3])->present;
            } else if (entry.kind == "file") {
                ok = f.size() == 2;
                if (ok && (!InsideWindows(f[0], windows) ||
                           (f[1] != "-" && !InsideWindows(f[1], windows)))) {
                    parsed.why = "line " + std::to_string(number) + " names a file outside the " +
                                 "Windows directory";
                    return parsed;
                }
            } else if (entry.kind == "device" || entry.kind == "classkey" ||
                       entry.kind == "group") {
                ok = f.size() == 1 && !f[0].empty();
            } else if (entry.kind == "item") {
                ok = f.size() == 2 && IsPlainFileName(f[0]) && IsPlainFileName(f[1]);
            } else {
                ok = false;
            }
            if (ok && entry.kind == "group") {
                ok = IsPlainFileName(f[0]);
            }
        }
        if (!ok) {
            parsed.why = "line " + std::to_string(number) + " is damaged";
            return parsed;
        }
        parsed.entries.push_back(std::move(entry));
    }
    return parsed;
}

enum class Outcome { Done, Restart, Failed };

bool SameData(const ValueData& now, const ValueData& wrote) {
    if (!now.present || now.type != wrote.type) {
        return false;
    }
    if (now.bytes == wrote.bytes) {
        return true;
    }
    // A string written without its terminator is kept with one.
    bool text = wrote.type == REG_SZ || wrote.type == REG_EXPAND_SZ || wrote.type == REG_MULTI_SZ;
    std::vector<BYTE> terminated = wrote.bytes;
    terminated.push_back(0);
    return text && now.bytes == terminated;
}

Outcome UndoValue(const Entry& e) {
    const std::string& path = e.fields[0];
    const std::string& name = e.fields[1];
    ValueData before = *ParseData(e.fields[2]);
    ValueData wrote = *ParseData(e.fields[3]);
    HKEY root = nullptr;
    std::string subkey;
    OpenPath(path, root, subkey);
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (result == ERROR_FILE_NOT_FOUND) {
        Log("undo: " + path + " is gone; nothing to put back for \"" + name + "\"");
        return Outcome::Done;
    }
    if (result != ERROR_SUCCESS) {
        Log("undo: cannot open " + path + " (error " + std::to_string(result) + ")");
        return Outcome::Failed;
    }
    Outcome outcome = Outcome::Done;
    std::optional<ValueData> now = ReadValue(key, name.c_str());
    if (!now) {
        Log("undo: cannot read \"" + name + "\" in " + path);
        outcome = Outcome::Failed;
    } else if (!SameData(*now, wrote)) {
        Log("undo: left alone \"" + name + "\" in " + path +
            ": it was changed after setup wrote it");
    } else if (!before.present) {
        result = RegDeleteValueA(key, name.c_str());
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
            Log("undo: cannot delete \"" + name + "\" in " + path);
            outcome = Outcome::Failed;
        } else {
            Log("undo: deleted \"" + name + "\" in " + path);
        }
    } else {
        result = RegSetValueExA(key, name.c_str(), 0, before.type,
                                before.bytes.empty() ? nullptr : &before.bytes[0],
                                static_cast<DWORD>(before.bytes.size()));
        if (result != ERROR_SUCCESS) {
            Log("undo: cannot put back \"" + name + "\" in " + path);
            outcome = Outcome::Failed;
        } else {
            Log("undo: put back \"" + name + "\" in " + path);
        }
    }
    RegCloseKey(key);
    return outcome;
}

Outcome UndoKey(const Entry& e) {
    const std::string& path = e.fields[0];
    HKEY root = nullptr;
    std::string subkey;
    OpenPath(path, root, subkey);
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key);
    if (result == ERROR_FILE_NOT_FOUND) {
        return Outcome::Done;
    }
    if (result != ERROR_SUCCESS) {
        Log("undo: cannot open " + path);
        return Outcome::Failed;
    }
    DWORD subkeys = 0;
    DWORD values = 0;
    result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        Log("undo: cannot read " + path);
        return Outcome::Failed;
    }
    if (subkeys != 0 || values != 0) {
        Log("undo: left alone " + path + ": it holds entries that setup did not make");
        return Outcome::Done;
    }
    result = RegDeleteKeyA(root, subkey.c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        Log("undo: cannot delete " + path);
        return Outcome::Failed;
    }
    Log("undo: deleted " + path);
    return Outcome::Done;
}

// A file that cannot go now (a loaded driver) goes at the next restart.
Outcome UndoFile(const Entry& e) {
    const std::string& target = e.fields[0];
    const std::string& backup = e.fields[1];
    if (backup != "-") {
        if (GetFileAttributesA(backup.c_str()) == INVALID_FILE_ATTRIBUTES) {
            // The run ended before it replaced the file: the one there is the one it had.
            return Outcome::Done;
        }
        if (MoveFileExA(backup.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            Log("undo: put back " + target);
            return Outcome::Done;
        }
        if (MoveFileExA(backup.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
            Log("undo: " + target + " is in use; it is put back at the next restart");
            return Outcome::Restart;
        }
        Log("undo: cannot put back " + target);
        return Outcome::Failed;
    }
    if (DeleteFileA(target.c_str())) {
        Log("undo: deleted " + target);
        return Outcome::Done;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return Outcome::Done;
    }
    if ((error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
        MoveFileExA(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        Log("undo: " + target + " is in use; it is deleted at the next restart");
        return Outcome::Restart;
    }
    Log("undo: cannot delete " + target + " (error " + std::to_string(error) + ")");
    return Outcome::Failed;
}

// A key and everything below it, deepest first.
LONG DeleteTree(HKEY parent, const std::string& subkey) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(parent, subkey.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS) {
        return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
    }
    for (;;) {
        char name[256];
        DWORD size = sizeof name;
        result = RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            break;
        }
        result = DeleteTree(key, name);
        if (result != ERROR_SUCCESS) {
            break;
        }
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS && result != ERROR_NO_MORE_ITEMS) {
        return result;
    }
    return RegDeleteKeyA(parent, subkey.c_str());
}

// The device goes through the device installer, as the control panel removes one.
Outcome UndoDevice(const Entry& e) {
    const std::string& id = e.fields[0];
    HMODULE setupapi = LoadLibraryA("SETUPAPI.DLL");
    if (setupapi == nullptr) {
        Log("undo: cannot load the device installer to remove " + id);
        return Outcome::Failed;
    }
    auto createList = As<PfnCreateList>(GetProcAddress(setupapi, "SetupDiCreateDeviceInfoList"));
    auto openInfo = As<PfnOpenInfo>(GetProcAddress(setupapi, "SetupDiOpenDeviceInfoA"));
    auto classInstaller =
        As<PfnClassInstaller>(GetProcAddress(setupapi, "SetupDiCallClassInstaller"));
    auto destroyList = As<PfnDestroyList>(GetProcAddress(setupapi, "SetupDiDestroyDeviceInfoList"));
    auto property = As<PfnProperty>(GetProcAddress(setupapi, "SetupDiGetDeviceRegistryPropertyA"));
    Outcome outcome = Outcome::Failed;
    if (createList && openInfo && classInstaller && destroyList) {
        HDEVINFO set = createList(nullptr, nullptr);
        if (set != INVALID_HANDLE_VALUE) {
            SP_DEVINFO_DATA data{};
            data.cbSize = sizeof data;
            if (!openInfo(set, id.c_str(), nullptr, 0, &data)) {
                if (GetLastError() == static_cast<DWORD>(ERROR_NO_SUCH_DEVINST)) {
                    outcome = Outcome::Done; // gone already
                }
            } else {
                char driver[MAX_PATH] = {};
                DWORD type = 0;
                if (!property ||
                    !property(set, &data, SPDRP_DRIVER, &type, reinterpret_cast<PBYTE>(driver),
                              sizeof driver - 1, nullptr)) {
                    driver[0] = '\0';
                }
                if (classInstaller(DIF_REMOVE, set, &data)) {
                    Log("undo: removed the device " + id);
                    outcome = Outcome::Done;
                    // The driver key goes with the device, as Windows removes one; an installer
                    // that left it behind has it taken here.
                    std::string classKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
                    if (driver[0] != '\0' &&
                        DeleteTree(HKEY_LOCAL_MACHINE, classKey + driver) != ERROR_SUCCESS) {
                        Log("undo: cannot delete the device's driver key " + classKey + driver);
                        outcome = Outcome::Failed;
                    }
                }
            }
            destroyList(set);
        }
    }
    if (outcome == Outcome::Failed) {
        Log("undo: cannot remove the device " + id);
    }
    FreeLibrary(setupapi);
    return outcome;
}

Outcome UndoEntry(const Entry& e) {
    if (e.kind == "value") {
        return UndoValue(e);
    }
    if (e.kind == "key") {
        return UndoKey(e);
    }
    if (e.kind == "file") {
        return UndoFile(e);
    }
    if (e.kind == "device") {
        return UndoDevice(e);
    }
    if (e.kind == "item") {
        if (!CurrentUi().RemoveItem(e.fields[0], e.fields[1])) {
            Log("undo: cannot delete the program item \"" + e.fields[1] + "\"");
            return Outcome::Failed;
        }
        Log("undo: deleted the program item \"" + e.fields[1] + "\"");
        return Outcome::Done;
    }
    if (e.kind == "group") {
        if (!CurrentUi().RemoveGroup(e.fields[0])) {
            Log("undo: cannot delete the program group \"" + e.fields[0] + "\"");
            return Outcome::Failed;
        }
        Log("undo: deleted the program group \"" + e.fields[0] + "\"");
        return Outcome::Done;
    }
    return Outcome::Done; // classkey: it goes with its device
}

// nullopt with why empty: there is no record. A record that may be there but cannot be looked
// at is no reason to remove by name.
std::optional<std::string> ReadRecord(std::string* why) {
    std::string path = RecordPath();
    if (path.empty()) {
        *why = "the system directory cannot be read";
        return std::nullopt;
    }
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            *why = "it cannot be looked at (error " + std::to_string(error) + ")";
        }
        return std::nullopt;
    }
    std::optional<std::string> text = ReadWholeFile(path, why);
    if (!text && why->empty()) {
        *why = "it cannot be read";
    }
    return text;
}

} // namespace
} // namespace toolkit

BOOL WINAPI FRemoveRequested(void) {
    return toolkit::g_undo.removal;
}

INT WINAPI GrcCheckUndoRecord(LPSTR szWhy, INT cbWhy) TOOLKIT_TRY {
    toolkit::CallScope call("GrcCheckUndoRecord",
                            {toolkit::BufferArg(szWhy), static_cast<long long>(cbWhy)});
    std::string why;
    std::optional<std::string> text = toolkit::ReadRecord(&why);
    INT result = UNDO_DONE;
    if (!text) {
        result = why.empty() ? UNDO_NO_RECORD : UNDO_REFUSED;
    } else {
        why = toolkit::ParseRecord(*text).why;
        result = why.empty() ? UNDO_DONE : UNDO_REFUSED;
    }
    if (result == UNDO_REFUSED) {
        why = "Setup will not use its undo record " + toolkit::RecordPath() + ": " + why +
              ". Nothing was changed.";
        toolkit::Log("removal refused: " + why);
    }
    if (szWhy && cbWhy > 0) {
        lstrcpynA(szWhy, why.c_str(), cbWhy);
    }
    return result;
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<INT>("GrcCheckUndoRecord", error, UNDO_REFUSED);
}

// Last entry first; at the first that fails the undo stops, and the record keeps that entry and
// every one before it, so a second removal goes on from there.
INT WINAPI GrcUndoInstall(void) TOOLKIT_TRY {
    toolkit::CallScope call("GrcUndoInstall", {});
    if (toolkit::CurrentRecorder().Fails("GrcUndoInstall", {})) {
        return UNDO_PARTIAL;
    }
    std::string why;
    std::optional<std::string> text = toolkit::ReadRecord(&why);
    if (!text) {
        return why.empty() ? UNDO_NO_RECORD : UNDO_REFUSED;
    }
    toolkit::Parsed parsed = toolkit::ParseRecord(*text);
    if (!parsed.why.empty()) {
        return UNDO_REFUSED;
    }
    bool restart = false;
    size_t kept = 0; // entries [0, kept) stay in the record
    for (size_t i = parsed.entries.size(); i-- > 0;) {
        toolkit::Outcome outcome = toolkit::UndoEntry(parsed.entries[i]);
        if (outcome == toolkit::Outcome::Failed) {
            kept = i + 1;
            break;
        }
        restart = restart || outcome == toolkit::Outcome::Restart;
    }
    std::string path = toolkit::RecordPath();
    if (kept == 0) {
        if (!DeleteFileA(path.c_str())) {
            toolkit::Log("undo: cannot delete the undo record " + path);
            return UNDO_PARTIAL;
        }
        return restart ? UNDO_RESTART : UNDO_DONE;
    }
    std::string rest =
        std::string(toolkit::kHeaderPrefix) + std::to_string(toolkit::kRecordVersion) + "\r\n";
    for (size_t i = 0; i < kept; ++i) {
        rest += parsed.entries[i].line + "\r\n";
    }
    if (!toolkit::WriteWholeFile(path, std::vector<BYTE>(rest.begin(), rest.end()))) {
        toolkit::Log("undo: cannot write what is left to the undo record " + path);
    }
    toolkit::Log("undo: stopped; " + std::to_string(kept) + " of " +
                 std::to_string(parsed.entries.size()) + " entries are left to undo");
    return UNDO_PARTIAL;
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<INT>("GrcUndoInstall", error, UNDO_PARTIAL);
}
