// What the device installer's calls share: the device information lists and their elements,
// the driver selected for an element, and the checks that begin each call.
#pragma once

#include "winemu/machine.h"
#include "winemu/machine/export.h"
#include "winemu/setupapi_trace.h"

#include <windows.h>

#include <setupapi.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winemu::setupapi {

// The machine's own calls that every part of the device installer makes.
using winemu::Current;
using winemu::Fail;
using winemu::NameEquals;
using winemu::Succeed;

inline constexpr const char* kClassRoot =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\";
inline constexpr const char* kEnumRoot = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";

// A SetupDi call as the trace records it: its name, and the flags or function it was given.
struct TracedCall {
    TracedCall(const char* name, std::string given = {}) : api(name), given(std::move(given)) {}
    std::string_view api;
    std::string given; // "flags=0x1"
};

// The start of every SetupDi call: the call in the trace, then its fault check, which fails it
// with error as the last error.
template <class... Args> bool Refused(const TracedCall& call, DWORD error, const Args&... args) {
    CurrentTrace().calls.push_back(call.given.empty() ? std::string(call.api)
                                                      : std::string(call.api) + " " + call.given);
    return winemu::Faulted(call.api, error, args...);
}

// The folder of the INF file whose class was last asked for, on the machine that asked: the
// one the device is installed from, which the "Install From Disk" prompt suggests.
struct LastInf {
    const Machine* machine = nullptr;
    std::string folder;
};

LastInf& LastInfFolder();

// GUIDs in registry form: {4D36E96D-E325-11CE-BFC1-08002BE10318}
std::string GuidText(const GUID& g);
std::optional<GUID> ParseGuid(std::string_view text);
bool GuidEquals(const GUID& a, const GUID& b);

struct Driver {
    std::string infPath; // the INF file's full Windows path
    std::string section; // the install section named by the model line
    std::string matchId; // the ID of the model line that matched
    std::string description;
    std::string manufacturer;
    std::string provider;
    ULONG_PTR id = 0; // what the driver record's Reserved carries
    DWORD rank = 0;
    DWORD flags = 0;
    DWORD_PTR privateData = 0;
};

struct Element {
    ULONG_PTR id = 0; // what SP_DEVINFO_DATA.Reserved carries
    DWORD devInst = 0;
    std::string deviceName; // the hardware ID the element was created from
    std::string instanceId; // ROOT\NAME\0000
    std::string description;
    GUID classGuid{};
    SP_DEVINSTALL_PARAMS_A params{};
    std::optional<Driver> selected;
    bool registered = false;
    bool installed = false;
    std::string driverKey; // "{GUID}\\0000" once installed
};

struct DeviceList {
    bool hasClass = false;
    GUID classGuid{};
    HWND parent = nullptr;
    SP_DEVINSTALL_PARAMS_A params{};
    std::vector<std::shared_ptr<Element>> elements;
};

// A new identifier for an element or a selected driver, never given before in the process.
ULONG_PTR NextId();
SP_DEVINSTALL_PARAMS_A FreshParams();
std::shared_ptr<DeviceList> ListOf(HDEVINFO set);
// The element a caller's record names; ERROR_INVALID_PARAMETER as Windows when it names none.
std::shared_ptr<Element> ElementOf(DeviceList& list, PSP_DEVINFO_DATA data);
// The element that a call's list and record name: ERROR_INVALID_HANDLE for no list.
std::shared_ptr<Element> ElementIn(HDEVINFO set, PSP_DEVINFO_DATA data);
void FillDevInfoData(const Element& e, PSP_DEVINFO_DATA data);
// Text into a fixed field of a record, cut to fit with its terminating zero.
void CopyText(CHAR* dest, size_t size, const std::string& text);

// The start of a get or set call of install parameters: its prologue, then the list it names
// and the parameters' record checked; null (with the error set) when any is not right.
template <class Params>
std::shared_ptr<DeviceList> ParamsListOf(const char* api, HDEVINFO set, const Params* params) {
    if (Refused(api, ERROR_ACCESS_DENIED))
        return nullptr;
    std::shared_ptr<DeviceList> list = ListOf(set);
    if (!list) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!params) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (params->cbSize != sizeof(Params)) {
        Fail(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    return list;
}

// Writes an element's instance key, once: the device then exists for the device manager.
BOOL RegisterElement(Element& e);

} // namespace winemu::setupapi
