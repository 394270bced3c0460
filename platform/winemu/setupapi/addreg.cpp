// AddReg and DelReg for the emulated device installer: the registry lines of an INF install
// section, written through the registry functions as Windows writes them.
#include "winemu/machine.h"
#include "winemu/setupapi/internal.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winemu::setupapi {

namespace {

// AddReg flags.
constexpr DWORD FLG_ADDREG_BINVALUETYPE = 0x00000001;
constexpr DWORD FLG_ADDREG_NOCLOBBER = 0x00000002;
constexpr DWORD FLG_ADDREG_DELVAL = 0x00000004;
constexpr DWORD FLG_ADDREG_APPEND = 0x00000008;
constexpr DWORD FLG_ADDREG_KEYONLY = 0x00000010;
constexpr DWORD FLG_ADDREG_OVERWRITEONLY = 0x00000020;
constexpr DWORD FLG_ADDREG_TYPE_MULTI_SZ = 0x00010000;
constexpr DWORD FLG_ADDREG_TYPE_EXPAND_SZ = 0x00020000;

std::optional<DWORD> ParseNumber(std::string_view text) {
    std::string t = Trim(text);
    if (t.empty())
        return std::nullopt;
    char* end = nullptr;
    unsigned long v = std::strtoul(t.c_str(), &end, 0);
    if (end == t.c_str())
        return std::nullopt;
    return static_cast<DWORD>(v);
}

// The key a registry line's root names; "" for a root that the INF syntax does not have.
// HKEY_CLASSES_ROOT is the machine's classes key, as on Windows NT 4.0.
std::string RootPath(std::string_view root, const std::string& hkrPath) {
    if (NameEquals(root, "HKR"))
        return hkrPath;
    if (NameEquals(root, "HKLM"))
        return "HKEY_LOCAL_MACHINE";
    if (NameEquals(root, "HKCU"))
        return "HKEY_CURRENT_USER";
    if (NameEquals(root, "HKCR"))
        return "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
    if (NameEquals(root, "HKU"))
        return "HKEY_USERS";
    return "";
}

// The fields of a registry line, with a key (which such lines rarely have) as the first, each
// with its %strkey% tokens replaced: Windows substitutes every field, flags and root included.
std::vector<std::string> RegLineFields(const InfFile& inf, const InfLine& line) {
    std::vector<std::string> f;
    if (!line.key.empty())
        f.push_back(inf.Subst(line.key));
    for (const std::string& field : line.fields)
        f.push_back(inf.Subst(field));
    return f;
}

// The key path of a registry line's root and subkey; "" for an empty line or an unknown root.
std::string LineKeyPath(const std::vector<std::string>& f, const std::string& hkrPath) {
    if (f.empty())
        return "";
    std::string root = RootPath(Trim(f[0]), hkrPath);
    if (root.empty())
        return "";
    std::string subkey = f.size() > 1 ? f[1] : "";
    return subkey.empty() ? root : root + "\\" + subkey;
}

// The key of a full path, created where missing, through the registry functions: what an INF
// writes meets the limits on names and depth that every program's writes meet.
LONG CreateKeyByPath(const std::string& keyPath, HKEY& key) {
    size_t slash = keyPath.find('\\');
    std::string rootName = keyPath.substr(0, slash);
    HKEY root = NameEquals(rootName, "HKEY_LOCAL_MACHINE")  ? HKEY_LOCAL_MACHINE
                : NameEquals(rootName, "HKEY_CURRENT_USER") ? HKEY_CURRENT_USER
                                                            : HKEY_USERS;
    std::string subkey = slash == std::string::npos ? "" : keyPath.substr(slash + 1);
    return RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                           nullptr);
}

void DeleteValue(winemu::Registry& reg, const std::string& keyPath, const std::string& name) {
    if (auto* key = reg.Find(keyPath)) {
        auto& values = key->values;
        values.erase(
            std::remove_if(values.begin(), values.end(),
                           [&](const winemu::RegValue& v) { return NameEquals(v.name, name); }),
            values.end());
    }
}

} // namespace

// One DelReg line: root, subkey[, value name]. Without a value name the key goes with
// everything below it.
void ApplyDelRegLine(const InfFile& inf, const InfLine& line, const std::string& hkrPath) {
    std::vector<std::string> f = RegLineFields(inf, line);
    std::string keyPath = LineKeyPath(f, hkrPath);
    if (keyPath.empty())
        return;
    winemu::Registry& reg = Current().Reg();
    if (f.size() > 2)
        DeleteValue(reg, keyPath, f[2]);
    else if (keyPath != hkrPath && f.size() > 1 && !Trim(f[1]).empty())
        reg.Delete(keyPath);
}

namespace {

// The value type of AddReg flags: the named combinations, else the type in the high word.
DWORD RegTypeOf(DWORD flags) {
    switch (flags & (0xFFFF0000 | FLG_ADDREG_BINVALUETYPE)) {
    case 0:
        return REG_SZ;
    case FLG_ADDREG_TYPE_MULTI_SZ:
        return REG_MULTI_SZ;
    case FLG_ADDREG_TYPE_EXPAND_SZ:
        return REG_EXPAND_SZ;
    case FLG_ADDREG_BINVALUETYPE:
        return REG_BINARY;
    case FLG_ADDREG_TYPE_MULTI_SZ | FLG_ADDREG_BINVALUETYPE:
        return REG_DWORD;
    case FLG_ADDREG_TYPE_EXPAND_SZ | FLG_ADDREG_BINVALUETYPE:
        return REG_NONE;
    default:
        return flags >> 16;
    }
}

// The data of an AddReg line's values (the fields after the flags) for its type.
std::vector<BYTE> AddRegData(const winemu::Registry& reg, const std::string& keyPath,
                             const std::string& name, DWORD flags,
                             const std::vector<std::string>& values) {
    DWORD type = RegTypeOf(flags);
    std::vector<BYTE> data;
    if (flags & FLG_ADDREG_BINVALUETYPE) {
        if (type == REG_DWORD && values.size() <= 1) {
            DWORD v = values.empty() ? 0 : ParseNumber(values[0]).value_or(0);
            for (int i = 0; i < 4; ++i)
                data.push_back(static_cast<BYTE>(v >> (8 * i)));
        } else {
            for (const auto& v : values)
                data.push_back(
                    static_cast<BYTE>(std::strtoul(Trim(v).c_str(), nullptr, 16) & 0xFF));
        }
    } else if (type == REG_MULTI_SZ) {
        const winemu::RegValue* old = reg.Value(keyPath, name);
        if ((flags & FLG_ADDREG_APPEND) && old) {
            data = old->data;
            while (!data.empty() && data.back() == 0)
                data.pop_back();
            if (!data.empty())
                data.push_back(0);
        }
        for (const auto& v : values) {
            auto s = StringBytes(v);
            data.insert(data.end(), s.begin(), s.end());
        }
        data.push_back(0);
    } else {
        data = StringBytes(values.empty() ? "" : values[0]);
    }
    return data;
}

} // namespace

// One AddReg line: root, subkey, value name, flags, value... Keys and values are written through
// the registry functions; their error ends the install, as it ends Windows' own.
LONG ApplyAddRegLine(const InfFile& inf, const InfLine& line, const std::string& hkrPath) {
    std::vector<std::string> f = RegLineFields(inf, line);
    std::string keyPath = LineKeyPath(f, hkrPath);
    if (keyPath.empty())
        return ERROR_SUCCESS;
    winemu::Registry& reg = Current().Reg();
    std::string name = f.size() > 2 ? f[2] : "";
    DWORD flags = f.size() > 3 ? ParseNumber(f[3]).value_or(0) : 0;
    if (f.size() > 2 && (flags & FLG_ADDREG_DELVAL)) {
        DeleteValue(reg, keyPath, name);
        return ERROR_SUCCESS;
    }
    HKEY key = nullptr;
    LONG result = CreateKeyByPath(keyPath, key);
    if (result != ERROR_SUCCESS)
        return result;
    bool exists = reg.Value(keyPath, name) != nullptr;
    bool write = f.size() > 2 && !(flags & FLG_ADDREG_KEYONLY) &&
                 !((flags & FLG_ADDREG_NOCLOBBER) && exists) &&
                 !((flags & FLG_ADDREG_OVERWRITEONLY) && !exists);
    if (write) {
        std::vector<std::string> values(f.begin() + std::min<size_t>(4, f.size()), f.end());
        std::vector<BYTE> data = AddRegData(reg, keyPath, name, flags, values);
        DWORD cb = static_cast<DWORD>(data.size());
        data.push_back(0); // the byte after the count, which a string's writer may look at
        result = RegSetValueExA(key, name.c_str(), 0, RegTypeOf(flags), data.data(), cb);
    }
    RegCloseKey(key);
    return result;
}

std::vector<BYTE> StringBytes(std::string_view s) {
    std::vector<BYTE> data(s.begin(), s.end());
    data.push_back(0);
    return data;
}

} // namespace winemu::setupapi
