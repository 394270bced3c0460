// The undo record's parts that its files share (undo_record.cpp writes it, undo_calls.cpp records
// setup's own changes on their way, undo.cpp reads and undoes it): the record's state and the
// form of its entries.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

inline constexpr std::string_view kHeaderPrefix = "SNDSTF undo record, version ";
inline constexpr int kRecordVersion = 1;

struct UndoState {
    bool armed = false;   // this run records what it changes
    bool removal = false; // this run is /remove
    HANDLE file = INVALID_HANDLE_VALUE;
    std::map<HKEY, std::string> keys; // the full path of each key setup's code holds open
};
extern UndoState g_undo;

std::string WindowsDirectory();
// The record's file, in the system directory; "" when that cannot be had.
std::string RecordPath();
// A field as written (%XX for a tab, a line end or '%'), read back; nullopt when malformed.
std::optional<std::string> Unescape(std::string_view text);

// A value's type and bytes, or its absence.
struct ValueData {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> bytes;
};
std::string FormatData(const ValueData& data);
std::optional<ValueData> ParseData(std::string_view text);
// The value as it is now, read through the registry functions.
std::optional<ValueData> ReadValue(HKEY key, LPCSTR name);

// One entry, on the disk before the change it records. False: the change must not be made.
bool Append(std::initializer_list<std::string_view> fields);
// The full path of an open key that setup's code got through the record; "" when unknown.
std::string KeyPath(HKEY key);
std::string JoinKey(const std::string& parent, std::string_view subkey);
// Splits "HKEY_LOCAL_MACHINE\\A\\B" into its root and "A\\B".
bool OpenPath(const std::string& path, HKEY& root, std::string& subkey);
// The keys that a create would make: each missing one from the first below what exists.
bool RecordMissingKeys(HKEY parent, const std::string& parentPath, LPCSTR subkey);

// The device installer's entry points, as the record and the removal look them up.
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

} // namespace toolkit
