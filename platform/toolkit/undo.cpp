// The undo record read back and undone, last entry first: SETUP.EXE /remove.
#include "toolkit/undo_record.h"

#include "toolkit/core.h"

#include <toolkit.h>

#include <setupapi.h>

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

INT WINAPI GrcCheckUndoRecord(LPSTR szWhy, INT cbWhy) {
    return toolkit::Exported<INT>("GrcCheckUndoRecord",
                                  {toolkit::BufferArg(szWhy), static_cast<long long>(cbWhy)},
                                  UNDO_REFUSED, [&]() -> INT {
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
                                          why = "Setup will not use its undo record " +
                                                toolkit::RecordPath() + ": " + why +
                                                ". Nothing was changed.";
                                          toolkit::Log("removal refused: " + why);
                                      }
                                      if (szWhy && cbWhy > 0) {
                                          lstrcpynA(szWhy, why.c_str(), cbWhy);
                                      }
                                      return result;
                                  });
}

// Last entry first; at the first that fails the undo stops, and the record keeps that entry and
// every one before it, so a second removal goes on from there.
INT WINAPI GrcUndoInstall(void) {
    return toolkit::Exported<INT>(
        "GrcUndoInstall", {}, UNDO_PARTIAL, [&](const toolkit::Call& call) -> INT {
            if (call.Fails()) {
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
            std::string rest = std::string(toolkit::kHeaderPrefix) +
                               std::to_string(toolkit::kRecordVersion) + "\r\n";
            for (size_t i = 0; i < kept; ++i) {
                rest += parsed.entries[i].line + "\r\n";
            }
            if (!toolkit::WriteWholeFile(path, std::vector<BYTE>(rest.begin(), rest.end()))) {
                toolkit::Log("undo: cannot write what is left to the undo record " + path);
            }
            toolkit::Log("undo: stopped; " + std::to_string(kept) + " of " +
                         std::to_string(parsed.entries.size()) + " entries are left to undo");
            return UNDO_PARTIAL;
        });
}
