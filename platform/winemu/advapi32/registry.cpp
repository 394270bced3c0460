// ADVAPI32 registry functions on the emulated machine's registry, with Windows NT's return codes,
// byte and character counts and access checks. They return their error and leave GetLastError.
#include "winemu/machine.h"
#include "winemu/machine/dbcs.h"
#include "winemu/machine/export.h"
#include "winemu/machine/registry.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

using winemu::Current;
using winemu::HandleKind;
using winemu::RegKey;
using winemu::RegValue;

namespace {

// What a registry key handle holds: the key (kept alive when it is deleted) and the rights the
// handle was opened with.
struct OpenKey {
    std::shared_ptr<RegKey> key;
    REGSAM access;
};

struct KeyRef {
    std::shared_ptr<RegKey> key;
    REGSAM access = 0;
    bool predefined = false;
};

constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kGenericExecute = 0x20000000;
constexpr DWORD kGenericAll = 0x10000000;

const char* const kPredefinedNames[] = {
    "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

// The predefined keys are the handle values 0x80000000 to 0x80000006, sign-extended.
const char* PredefinedName(HKEY hKey) {
    ULONG_PTR value = reinterpret_cast<ULONG_PTR>(hKey);
    ULONG_PTR first = reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT);
    if (value < first || value - first >= std::size(kPredefinedNames))
        return nullptr;
    return kPredefinedNames[value - first];
}

// The rights a handle gets: generic rights and MAXIMUM_ALLOWED mapped to the key rights (the
// emulated user may do everything).
REGSAM GrantedAccess(REGSAM desired) {
    REGSAM granted = desired & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll |
                                 static_cast<DWORD>(MAXIMUM_ALLOWED));
    if (desired & kGenericRead)
        granted |= KEY_READ;
    if (desired & kGenericWrite)
        granted |= KEY_WRITE;
    if (desired & kGenericExecute)
        granted |= KEY_EXECUTE;
    if (desired & (kGenericAll | static_cast<DWORD>(MAXIMUM_ALLOWED)))
        granted |= KEY_ALL_ACCESS;
    return granted;
}

// HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS or an open key handle; nothing else.
std::optional<KeyRef> Resolve(HKEY hKey) {
    winemu::Machine& m = Current();
    if (std::shared_ptr<RegKey> root = m.Reg().Root(hKey))
        return KeyRef{root, KEY_ALL_ACCESS, true};
    if (PredefinedName(hKey) != nullptr)
        return std::nullopt;
    auto open =
        m.Objects().GetAs<OpenKey>(reinterpret_cast<ULONG_PTR>(hKey), HandleKind::RegistryKey);
    if (!open)
        return std::nullopt;
    return KeyRef{open->key, open->access, false};
}

// The full path that a call names, for fault matching: the handle's key and the subkey.
std::string CallPath(HKEY hKey, LPCSTR lpSubKey) {
    std::string path;
    if (std::optional<KeyRef> ref = Resolve(hKey))
        path = ref->key->Path();
    else if (const char* name = PredefinedName(hKey))
        path = name;
    if (lpSubKey != nullptr && *lpSubKey != '\0')
        path += "\\" + std::string(lpSubKey);
    return path;
}

// A registry call's fault check: the key's path, and the value's name where the call has one.
bool KeyFaulted(const char* api, HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName) {
    std::string path = CallPath(hKey, lpSubKey);
    if (lpValueName != nullptr)
        return winemu::Faulted(api, winemu::kLastErrorKept, path, lpValueName);
    return winemu::Faulted(api, winemu::kLastErrorKept, path);
}

HKEY OpenHandle(const std::shared_ptr<RegKey>& key, REGSAM desired) {
    auto object = std::make_shared<OpenKey>(OpenKey{key, GrantedAccess(desired)});
    ULONG_PTR handle =
        Current().Objects().Open(HandleKind::RegistryKey, "registry key " + key->Path(), object);
    return reinterpret_cast<HKEY>(handle);
}

// Levels of keys between a key and its root.
size_t Depth(const RegKey& key) {
    size_t depth = 0;
    for (const RegKey* up = key.parent; up != nullptr; up = up->parent)
        ++depth;
    return depth;
}

// The key names of a subkey path, empty ones (doubled or trailing backslashes) left out.
std::vector<std::string_view> KeyNames(std::string_view subKey, UINT codePage) {
    std::vector<std::string_view> names;
    size_t start = 0;
    while (start < subKey.size()) {
        size_t end = winemu::FindSeparator(codePage, subKey, start);
        std::string_view part = subKey.substr(start, end - start);
        start = end + 1;
        if (!part.empty())
            names.push_back(part);
    }
    return names;
}

// Windows' limits on a subkey path below from: no name over 255 characters, no key over 512
// levels deep. Checked before anything is made, so that a refused path leaves no key behind and
// nothing is written that the next boot would refuse.
LONG CheckLimits(const RegKey& from, const std::vector<std::string_view>& names, UINT codePage) {
    if (Depth(from) + names.size() > winemu::kMaxKeyDepth)
        return ERROR_INVALID_PARAMETER;
    for (std::string_view name : names) {
        if (winemu::CharCount(codePage, name) > winemu::kMaxKeyNameChars)
            return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

// Follows a subkey path below from, creating the missing keys when asked. A leading backslash
// is refused as Windows NT does; a trailing one is accepted.
LONG Walk(const std::shared_ptr<RegKey>& from, std::string_view subKey, bool create,
          std::shared_ptr<RegKey>& found, bool& created) {
    created = false;
    if (!subKey.empty() && subKey.front() == '\\')
        return ERROR_BAD_PATHNAME;
    std::shared_ptr<RegKey> key = from;
    const UINT codePage = Current().Config().codePage; // a 0x5C trail byte is no separator
    const std::vector<std::string_view> names = KeyNames(subKey, codePage);
    if (LONG limits = CheckLimits(*from, names, codePage); limits != ERROR_SUCCESS)
        return limits;
    for (std::string_view part : names) {
        auto it = key->subkeys.find(part);
        if (it != key->subkeys.end()) {
            key = it->second;
            continue;
        }
        if (!create)
            return ERROR_FILE_NOT_FOUND;
        auto child = std::make_shared<RegKey>();
        child->name = std::string(part);
        child->parent = key.get();
        key->subkeys.emplace(child->name, child);
        key = std::move(child);
        created = true;
    }
    found = std::move(key);
    return ERROR_SUCCESS;
}

// The handle's key, when the handle is usable and holds all the rights in needed.
LONG UsableKey(HKEY hKey, REGSAM needed, KeyRef& ref) {
    std::optional<KeyRef> resolved = Resolve(hKey);
    if (!resolved)
        return ERROR_INVALID_HANDLE;
    if (resolved->key->deleted)
        return ERROR_KEY_DELETED;
    if ((resolved->access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    ref = *resolved;
    return ERROR_SUCCESS;
}

// The key that the old value calls work on: the handle's own, which needs the rights in needed,
// or the subkey named below it, made when create is set.
LONG ValueKey(HKEY hKey, LPCSTR lpSubKey, REGSAM needed, bool create,
              std::shared_ptr<RegKey>& key) {
    bool ownKey = lpSubKey == nullptr || *lpSubKey == '\0';
    KeyRef ref;
    LONG result = UsableKey(hKey, ownKey ? needed : 0, ref);
    if (result != ERROR_SUCCESS || ownKey) {
        key = ref.key;
        return result;
    }
    bool created = false;
    return Walk(ref.key, lpSubKey, create, key, created);
}

// What the old open and create calls answer before they look at a subkey: a null result is
// refused, and without a subkey they hand back the very handle they were given. Nothing when
// the subkey is still to be opened or made.
std::optional<LONG> OldCallWithoutSubkey(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (phkResult == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (lpSubKey == nullptr || *lpSubKey == '\0') {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    return std::nullopt;
}

FILETIME Now() {
    // FILETIME counts 100-nanosecond steps from 1601-01-01.
    constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;
    auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    uint64_t ticks = static_cast<uint64_t>(
                         std::chrono::duration_cast<std::chrono::microseconds>(since1970).count()) *
                         10 +
                     kUnixEpochAsFiletime;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

LONG OpenKeyImpl(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, PHKEY phkResult) {
    if (phkResult == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::optional<KeyRef> ref = Resolve(hKey);
    if (!ref)
        return ERROR_INVALID_HANDLE;
    *phkResult = nullptr;
    if (ref->key->deleted)
        return ERROR_KEY_DELETED;
    if (lpSubKey == nullptr || *lpSubKey == '\0') {
        // A predefined key answers for itself; any other key gets a second handle.
        *phkResult = ref->predefined ? hKey : OpenHandle(ref->key, samDesired);
        return ERROR_SUCCESS;
    }
    std::shared_ptr<RegKey> key;
    bool created = false;
    LONG result = Walk(ref->key, lpSubKey, false, key, created);
    if (result == ERROR_SUCCESS)
        *phkResult = OpenHandle(key, samDesired);
    return result;
}

// Windows lets a key be created below any open handle, whatever rights that handle has.
LONG CreateKeyImpl(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, PHKEY phkResult,
                   LPDWORD lpdwDisposition) {
    std::optional<KeyRef> ref = Resolve(hKey);
    if (!ref)
        return ERROR_INVALID_HANDLE;
    *phkResult = nullptr;
    if (ref->key->deleted)
        return ERROR_KEY_DELETED;
    std::shared_ptr<RegKey> key;
    bool created = false;
    LONG result = Walk(ref->key, lpSubKey ? lpSubKey : "", true, key, created);
    if (result != ERROR_SUCCESS)
        return result;
    bool sameKey = key == ref->key;
    *phkResult = sameKey && ref->predefined ? hKey : OpenHandle(key, samDesired);
    if (lpdwDisposition != nullptr)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

// The string types, whose terminating zero Windows NT looks after.
bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The data of a value into a caller's buffer of *lpcbData bytes.
LONG QueryValueImpl(const RegKey& key, LPCSTR lpValueName, LPDWORD lpType, LPBYTE lpData,
                    LPDWORD lpcbData) {
    const RegValue* value = key.FindValue(lpValueName ? lpValueName : "");
    if (value == nullptr) {
        if (lpcbData != nullptr && lpData == nullptr)
            *lpcbData = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    if (lpType != nullptr)
        *lpType = value->type;
    DWORD size = static_cast<DWORD>(value->data.size());
    if (lpData != nullptr) {
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::copy(value->data.begin(), value->data.end(), lpData);
        // A string stored without its terminating zero gets one where the buffer has room; the
        // count stays that of the data.
        if (IsStringType(value->type) && size > 0 && lpData[size - 1] != 0 && *lpcbData > size)
            lpData[size] = 0;
    }
    if (lpcbData != nullptr)
        *lpcbData = size;
    return ERROR_SUCCESS;
}

void SetValueImpl(RegKey& key, LPCSTR lpValueName, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    std::string_view name = lpValueName ? lpValueName : "";
    std::vector<BYTE> data(lpData, lpData + (lpData ? cbData : 0));
    if (RegValue* value = key.FindValue(name)) {
        value->type = dwType;
        value->data = std::move(data);
        return;
    }
    key.values.push_back(RegValue{std::string(name), dwType, std::move(data)});
}

// The subkey at dwIndex in enumeration order; *lpcchName is in characters, the terminating zero
// included on input and left out on output.
LONG EnumKeyImpl(const RegKey& key, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPSTR lpClass,
                 LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (dwIndex >= key.subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    auto it = std::next(key.subkeys.begin(), static_cast<std::ptrdiff_t>(dwIndex));
    const std::string& name = it->second->name;
    if (name.size() >= *lpcchName)
        return ERROR_MORE_DATA;
    if (lpClass != nullptr && (lpcchClass == nullptr || *lpcchClass < 1))
        return ERROR_MORE_DATA; // no room for the (empty) class name
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass != nullptr)
        lpClass[0] = '\0';
    if (lpcchClass != nullptr)
        *lpcchClass = 0;
    if (lpftLastWriteTime != nullptr)
        *lpftLastWriteTime = Now();
    return ERROR_SUCCESS;
}

} // namespace

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
    (void)ulOptions;
    if (KeyFaulted("RegOpenKeyExA", hKey, lpSubKey, nullptr))
        return ERROR_ACCESS_DENIED;
    return OpenKeyImpl(hKey, lpSubKey, samDesired, phkResult);
}

LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (KeyFaulted("RegOpenKeyA", hKey, lpSubKey, nullptr))
        return ERROR_ACCESS_DENIED;
    if (std::optional<LONG> answer = OldCallWithoutSubkey(hKey, lpSubKey, phkResult))
        return *answer;
    return OpenKeyImpl(hKey, lpSubKey, KEY_ALL_ACCESS, phkResult);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                            DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
    (void)Reserved;
    (void)lpClass;
    (void)dwOptions;
    (void)lpSecurityAttributes;
    if (KeyFaulted("RegCreateKeyExA", hKey, lpSubKey, nullptr))
        return ERROR_ACCESS_DENIED;
    if (phkResult == nullptr)
        return ERROR_BADKEY;
    return CreateKeyImpl(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
}

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (KeyFaulted("RegCreateKeyA", hKey, lpSubKey, nullptr))
        return ERROR_ACCESS_DENIED;
    if (std::optional<LONG> answer = OldCallWithoutSubkey(hKey, lpSubKey, phkResult))
        return *answer;
    return CreateKeyImpl(hKey, lpSubKey, KEY_ALL_ACCESS, phkResult, nullptr);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    if (KeyFaulted("RegCloseKey", hKey, nullptr, nullptr))
        return ERROR_ACCESS_DENIED;
    if (PredefinedName(hKey) != nullptr)
        return ERROR_SUCCESS;
    bool closed =
        Current().Objects().Close(reinterpret_cast<ULONG_PTR>(hKey), HandleKind::RegistryKey);
    return closed ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
    if (KeyFaulted("RegQueryValueExA", hKey, nullptr, lpValueName))
        return ERROR_ACCESS_DENIED;
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
        return ERROR_INVALID_PARAMETER;
    KeyRef ref;
    LONG result = UsableKey(hKey, KEY_QUERY_VALUE, ref);
    if (result != ERROR_SUCCESS)
        return result;
    return QueryValueImpl(*ref.key, lpValueName, lpType, lpData, lpcbData);
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) {
    (void)Reserved;
    if (KeyFaulted("RegSetValueExA", hKey, nullptr, lpValueName))
        return ERROR_ACCESS_DENIED;
    KeyRef ref;
    LONG result = UsableKey(hKey, KEY_SET_VALUE, ref);
    if (result != ERROR_SUCCESS)
        return result;
    if (lpData == nullptr && cbData != 0)
        return ERROR_NOACCESS;
    if (lpValueName != nullptr &&
        winemu::CharCount(Current().Config().codePage, lpValueName) > winemu::kMaxValueNameChars)
        return ERROR_INVALID_PARAMETER;
    // A string whose count left out its terminating zero is stored with it, as Windows NT
    // does: the count grows by one when the byte after it is that zero. Bytes inside the count
    // stay as written.
    if (IsStringType(dwType) && cbData > 0 && lpData[cbData - 1] != 0 && lpData[cbData] == 0)
        ++cbData;
    SetValueImpl(*ref.key, lpValueName, dwType, lpData, cbData);
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
    if (KeyFaulted("RegEnumKeyExA", hKey, nullptr, nullptr))
        return ERROR_ACCESS_DENIED;
    if (lpReserved != nullptr || lpName == nullptr || lpcchName == nullptr)
        return ERROR_INVALID_PARAMETER;
    KeyRef ref;
    LONG result = UsableKey(hKey, KEY_ENUMERATE_SUB_KEYS, ref);
    if (result != ERROR_SUCCESS)
        return result;
    return EnumKeyImpl(*ref.key, dwIndex, lpName, lpcchName, lpClass, lpcchClass,
                       lpftLastWriteTime);
}

LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
    if (KeyFaulted("RegEnumKeyA", hKey, nullptr, nullptr))
        return ERROR_ACCESS_DENIED;
    if (lpName == nullptr)
        return ERROR_INVALID_PARAMETER;
    KeyRef ref;
    LONG result = UsableKey(hKey, KEY_ENUMERATE_SUB_KEYS, ref);
    if (result != ERROR_SUCCESS)
        return result;
    return EnumKeyImpl(*ref.key, dwIndex, lpName, &cchName, nullptr, nullptr, nullptr);
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                             LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                             LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime) {
    if (KeyFaulted("RegQueryInfoKeyA", hKey, nullptr, nullptr))
        return ERROR_ACCESS_DENIED;
    if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr))
        return ERROR_INVALID_PARAMETER;
    KeyRef ref;
    LONG result = UsableKey(hKey, KEY_QUERY_VALUE, ref);
    if (result != ERROR_SUCCESS)
        return result;
    const RegKey& key = *ref.key;
    // Name lengths are in characters without the terminating zero; data lengths in bytes.
    DWORD maxSubkey = 0;
    for (const auto& [name, child] : key.subkeys)
        maxSubkey = std::max(maxSubkey, static_cast<DWORD>(child->name.size()));
    DWORD maxValueName = 0;
    DWORD maxValueData = 0;
    for (const RegValue& value : key.values) {
        maxValueName = std::max(maxValueName, static_cast<DWORD>(value.name.size()));
        maxValueData = std::max(maxValueData, static_cast<DWORD>(value.data.size()));
    }
    if (lpcSubKeys != nullptr)
        *lpcSubKeys = static_cast<DWORD>(key.subkeys.size());
    if (lpcbMaxSubKeyLen != nullptr)
        *lpcbMaxSubKeyLen = maxSubkey;
    if (lpcbMaxClassLen != nullptr)
        *lpcbMaxClassLen = 0;
    if (lpcValues != nullptr)
        *lpcValues = static_cast<DWORD>(key.values.size());
    if (lpcbMaxValueNameLen != nullptr)
        *lpcbMaxValueNameLen = maxValueName;
    if (lpcbMaxValueLen != nullptr)
        *lpcbMaxValueLen = maxValueData;
    if (lpcbSecurityDescriptor != nullptr)
        *lpcbSecurityDescriptor = 0; // keys carry no security descriptor here
    if (lpftLastWriteTime != nullptr)
        *lpftLastWriteTime = Now();
    // Keys have no class: an empty one needs room for its terminating zero.
    if (lpClass != nullptr && *lpcchClass < 1)
        return ERROR_MORE_DATA;
    if (lpClass != nullptr)
        lpClass[0] = '\0';
    if (lpcchClass != nullptr)
        *lpcchClass = 0;
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (KeyFaulted("RegDeleteKeyA", hKey, lpSubKey, nullptr))
        return ERROR_ACCESS_DENIED;
    if (lpSubKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    KeyRef ref;
    LONG result = UsableKey(hKey, 0, ref);
    if (result != ERROR_SUCCESS)
        return result;
    std::shared_ptr<RegKey> key;
    bool created = false;
    result = Walk(ref.key, lpSubKey, false, key, created);
    if (result != ERROR_SUCCESS)
        return result;
    // Windows NT deletes only a key without subkeys, and never a root.
    if (key->parent == nullptr || !key->subkeys.empty())
        return ERROR_ACCESS_DENIED;
    key->parent->subkeys.erase(key->name);
    winemu::DetachDeletedKey(*key);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    if (KeyFaulted("RegDeleteValueA", hKey, nullptr, lpValueName))
        return ERROR_ACCESS_DENIED;
    KeyRef ref;
    LONG result = UsableKey(hKey, KEY_SET_VALUE, ref);
    if (result != ERROR_SUCCESS)
        return result;
    RegValue* value = ref.key->values.Find(lpValueName ? lpValueName : "");
    if (value == nullptr)
        return ERROR_FILE_NOT_FOUND;
    auto at = ref.key->values.begin() + (value - &ref.key->values[0]);
    ref.key->values.erase(at);
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData) {
    if (KeyFaulted("RegQueryValueA", hKey, lpSubKey, nullptr))
        return ERROR_ACCESS_DENIED;
    if (lpData != nullptr && lpcbData == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<RegKey> key;
    LONG result = ValueKey(hKey, lpSubKey, KEY_QUERY_VALUE, false, key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD size = lpcbData != nullptr ? static_cast<DWORD>(std::max<LONG>(*lpcbData, 0)) : 0;
    BYTE* data = reinterpret_cast<BYTE*>(lpData);
    result = QueryValueImpl(*key, nullptr, nullptr, data, lpcbData ? &size : nullptr);
    if (result == ERROR_FILE_NOT_FOUND) {
        // A key without a default value reads as the empty string.
        result = ERROR_SUCCESS;
        if (lpData != nullptr && size < 1)
            result = ERROR_MORE_DATA;
        else if (lpData != nullptr)
            lpData[0] = '\0';
        size = 1;
    }
    if (lpcbData != nullptr)
        *lpcbData = static_cast<LONG>(size);
    return result;
}

LONG WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD cbData) {
    (void)cbData; // Windows counts the text itself
    if (KeyFaulted("RegSetValueA", hKey, lpSubKey, nullptr))
        return ERROR_ACCESS_DENIED;
    if (dwType != REG_SZ || lpData == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<RegKey> key;
    LONG result = ValueKey(hKey, lpSubKey, KEY_SET_VALUE, true, key);
    if (result != ERROR_SUCCESS)
        return result;
    SetValueImpl(*key, nullptr, REG_SZ, reinterpret_cast<const BYTE*>(lpData),
                 static_cast<DWORD>(std::strlen(lpData) + 1));
    return ERROR_SUCCESS;
}

} // extern "C"
