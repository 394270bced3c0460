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
#include "toolkit/undo_record.h"

#include "toolkit/core.h"

#include <toolkit.h>

#include <cstdio>
#include <map>

namespace toolkit {

constexpr std::string_view kRecordName = "SNDUNDO.LOG";

UndoState g_undo;

static std::string SystemDirectory() {
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

static std::string Escape(std::string_view text) {
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

static int HexDigit(char c) {
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
static bool OpenRecord() {
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

static const char* RootName(HKEY key) {
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
static std::vector<std::string> SplitKey(std::string_view subkey) {
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
