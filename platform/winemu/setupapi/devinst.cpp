// SETUPAPI's device information: INF class lookup, device lists and their elements, their
// install parameters, registration and the properties of an installed device.
#include "winemu/setupapi/devinst.h"

#include "winemu/machine.h"
#include "winemu/setupapi/internal.h"

#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winemu::setupapi {

Trace& CurrentTrace() {
    static Trace trace;
    return trace;
}

LastInf& LastInfFolder() {
    static LastInf last;
    return last;
}

void ResetTrace() {
    CurrentTrace() = Trace{};
    LastInfFolder() = LastInf{};
}

std::string GuidText(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::optional<GUID> ParseGuid(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return std::nullopt;
    static const int kDash[] = {9, 14, 19, 24};
    for (int i = 1; i < 37; ++i) {
        bool dash = std::find(std::begin(kDash), std::end(kDash), i) != std::end(kDash);
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return std::nullopt;
    }
    auto hex = [&](size_t pos, size_t len) {
        return std::stoul(std::string(text.substr(pos, len)), nullptr, 16);
    };
    GUID g{};
    g.Data1 = static_cast<DWORD>(hex(1, 8));
    g.Data2 = static_cast<WORD>(hex(10, 4));
    g.Data3 = static_cast<WORD>(hex(15, 4));
    g.Data4[0] = static_cast<BYTE>(hex(20, 2));
    g.Data4[1] = static_cast<BYTE>(hex(22, 2));
    for (int i = 0; i < 6; ++i)
        g.Data4[2 + i] = static_cast<BYTE>(hex(25 + 2 * i, 2));
    return g;
}

bool GuidEquals(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

ULONG_PTR NextId() {
    static ULONG_PTR next = 0x100;
    return ++next;
}

SP_DEVINSTALL_PARAMS_A FreshParams() {
    SP_DEVINSTALL_PARAMS_A p{};
    p.cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
    return p;
}

std::shared_ptr<DeviceList> ListOf(HDEVINFO set) {
    return Current().Objects().GetAs<DeviceList>(reinterpret_cast<ULONG_PTR>(set),
                                                 winemu::HandleKind::DeviceInfoList);
}

std::shared_ptr<Element> ElementOf(DeviceList& list, PSP_DEVINFO_DATA data) {
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        Current().LastError() = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    for (auto& e : list.elements) {
        if (e->id == data->Reserved)
            return e;
    }
    Current().LastError() = ERROR_INVALID_PARAMETER;
    return nullptr;
}

std::shared_ptr<Element> ElementIn(HDEVINFO set, PSP_DEVINFO_DATA data) {
    std::shared_ptr<DeviceList> list = ListOf(set);
    if (!list) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return ElementOf(*list, data);
}

void FillDevInfoData(const Element& e, PSP_DEVINFO_DATA data) {
    data->ClassGuid = e.classGuid;
    data->DevInst = e.devInst;
    data->Reserved = e.id;
}

void CopyText(CHAR* dest, size_t size, const std::string& text) {
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(dest, text.data(), n);
    dest[n] = 0;
}

} // namespace winemu::setupapi

namespace {

using namespace winemu::setupapi;

std::string Hex(DWORD value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%lX", static_cast<unsigned long>(value));
    return buf;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool ValidInstanceName(std::string_view name) {
    if (name.empty())
        return false;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == ',' || c == '\\')
            return false;
    }
    return true;
}

bool InstanceTaken(std::string_view instanceId) {
    if (Current().Reg().Find(std::string(kEnumRoot) + std::string(instanceId)))
        return true;
    return false;
}

// The install parameters that a get call reads or a set call replaces: the element's, or the
// list's own when no element is named. The two calls check alike and copy the other way round.
BOOL CopyDeviceParams(bool get, HDEVINFO set, PSP_DEVINFO_DATA data,
                      PSP_DEVINSTALL_PARAMS_A params) {
    std::shared_ptr<DeviceList> list = ParamsListOf(
        get ? "SetupDiGetDeviceInstallParamsA" : "SetupDiSetDeviceInstallParamsA", set, params);
    if (!list)
        return FALSE;
    SP_DEVINSTALL_PARAMS_A* own = &list->params;
    if (data) {
        std::shared_ptr<Element> e = ElementOf(*list, data);
        if (!e)
            return FALSE;
        own = &e->params;
    }
    if (get) {
        *params = *own;
        params->cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
        CurrentTrace().deviceParamsRead.push_back(*params);
        return Succeed();
    }
    // A driver path must be a terminated text.
    if (!std::memchr(params->DriverPath, 0, sizeof params->DriverPath))
        return Fail(ERROR_INVALID_PARAMETER);
    *own = *params;
    CurrentTrace().deviceParamsWritten.push_back(*params);
    return Succeed();
}

} // namespace

extern "C" {

BOOL WINAPI SetupDiGetINFClassA(PCSTR InfName, LPGUID ClassGuid, PSTR ClassName,
                                DWORD ClassNameSize, PDWORD RequiredSize) {
    if (Refused("SetupDiGetINFClassA", ERROR_ACCESS_DENIED, winemu::Arg(InfName)))
        return FALSE;
    if (!InfName || !ClassGuid || !ClassName)
        return Fail(ERROR_INVALID_PARAMETER);
    auto inf = LoadInf(InfName);
    if (!inf)
        return Fail(ERROR_FILE_NOT_FOUND);
    size_t slash = inf->winPath.rfind('\\'); // a full path: "C:\\X.INF" keeps its root's
    winemu::setupapi::LastInfFolder() = {&Current(),
                                         inf->winPath.substr(0, std::max<size_t>(slash, 3))};
    auto signature = inf->Value("Version", "Signature");
    if (!signature ||
        !(NameEquals(*signature, "$Chicago$") || NameEquals(*signature, "$Windows NT$") ||
          NameEquals(*signature, "$Windows 95$")))
        return Fail(ERROR_WRONG_INF_STYLE);
    auto guidText = inf->Value("Version", "ClassGUID");
    auto className = inf->Value("Version", "Class");
    std::optional<GUID> guid;
    if (guidText) {
        guid = ParseGuid(*guidText);
        if (!guid)
            return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!className && guid) {
        // The class name that the registry keeps for that class.
        auto fromReg =
            Current().Reg().GetString(std::string(kClassRoot) + GuidText(*guid), "Class");
        if (fromReg)
            className = *fromReg;
    }
    if (!className && !guid)
        return Fail(ERROR_NO_ASSOCIATED_CLASS);
    if (!guid) {
        // The class GUID of a class known by name: the class key whose "Class" names it.
        if (auto* classes = Current().Reg().Find(kClassRoot)) {
            for (const auto& [name, key] : classes->subkeys) {
                const auto* v = key->FindValue("Class");
                if (v && v->type == REG_SZ &&
                    NameEquals(std::string(reinterpret_cast<const char*>(v->data.data()),
                                           strnlen(reinterpret_cast<const char*>(v->data.data()),
                                                   v->data.size())),
                               *className))
                    guid = ParseGuid(name);
            }
        }
        if (!guid)
            guid = GUID{};
    }
    std::string cls = className.value_or("");
    if (RequiredSize)
        *RequiredSize = static_cast<DWORD>(cls.size() + 1);
    if (ClassNameSize < cls.size() + 1)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    *ClassGuid = *guid;
    std::memcpy(ClassName, cls.c_str(), cls.size() + 1);
    return Succeed();
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent) {
    if (Refused("SetupDiCreateDeviceInfoList", ERROR_NOT_ENOUGH_MEMORY,
                ClassGuid ? GuidText(*ClassGuid) : std::string()))
        return INVALID_HANDLE_VALUE;
    auto list = std::make_shared<DeviceList>();
    if (ClassGuid) {
        list->hasClass = true;
        list->classGuid = *ClassGuid;
    }
    list->parent = hwndParent;
    list->params = FreshParams();
    std::string description =
        "device list " + (ClassGuid ? GuidText(*ClassGuid) : std::string("(no class)"));
    ULONG_PTR handle =
        Current().Objects().Open(winemu::HandleKind::DeviceInfoList, description, std::move(list));
    CurrentTrace().listsCreated++;
    Current().LastError() = ERROR_SUCCESS;
    return reinterpret_cast<HDEVINFO>(handle);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    if (Refused("SetupDiDestroyDeviceInfoList", ERROR_ACCESS_DENIED))
        return FALSE;
    if (!Current().Objects().Close(reinterpret_cast<ULONG_PTR>(DeviceInfoSet),
                                   winemu::HandleKind::DeviceInfoList))
        return Fail(ERROR_INVALID_HANDLE);
    CurrentTrace().listsDestroyed++;
    return Succeed();
}

BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceName,
                                     const GUID* ClassGuid, PCSTR DeviceDescription,
                                     HWND hwndParent, DWORD CreationFlags,
                                     PSP_DEVINFO_DATA DeviceInfoData) {
    (void)hwndParent;
    if (Refused({"SetupDiCreateDeviceInfoA", "flags=" + Hex(CreationFlags)}, ERROR_ACCESS_DENIED,
                winemu::Arg(DeviceName), winemu::Arg(DeviceDescription)))
        return FALSE;
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    if (!DeviceName || !ClassGuid)
        return Fail(ERROR_INVALID_PARAMETER);
    if (CreationFlags & ~(DWORD)(DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS))
        return Fail(ERROR_INVALID_PARAMETER);
    if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (list->hasClass && !GuidEquals(list->classGuid, *ClassGuid))
        return Fail(ERROR_CLASS_MISMATCH);

    std::string instanceId;
    if (CreationFlags & DICD_GENERATE_ID) {
        // A root-enumerated instance: ROOT\<name>\<first free four-digit number>.
        if (!ValidInstanceName(DeviceName))
            return Fail(ERROR_INVALID_DEVINST_NAME);
        std::string base = "ROOT\\" + Upper(DeviceName) + "\\";
        for (int n = 0; n < 10000 && instanceId.empty(); ++n) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%04d", n);
            std::string candidate = base + buf;
            bool inList =
                std::any_of(list->elements.begin(), list->elements.end(),
                            [&](const auto& e) { return NameEquals(e->instanceId, candidate); });
            if (!inList && !InstanceTaken(candidate))
                instanceId = candidate;
        }
        if (instanceId.empty())
            return Fail(ERROR_DEVINST_ALREADY_EXISTS);
    } else {
        instanceId = Upper(DeviceName);
        if (instanceId.find('\\') == std::string::npos)
            return Fail(ERROR_INVALID_DEVINST_NAME);
        if (InstanceTaken(instanceId))
            return Fail(ERROR_DEVINST_ALREADY_EXISTS);
    }

    auto e = std::make_shared<Element>();
    e->id = NextId();
    e->devInst = static_cast<DWORD>(e->id);
    e->deviceName = DeviceName;
    e->instanceId = instanceId;
    e->description = DeviceDescription ? DeviceDescription : "";
    e->classGuid = *ClassGuid;
    e->params = FreshParams();
    list->elements.push_back(e);
    if (DeviceInfoData)
        FillDevInfoData(*e, DeviceInfoData);
    return Succeed();
}

BOOL WINAPI SetupDiRegisterDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                      DWORD Flags, PSP_DETSIG_CMPPROC CompareProc,
                                      PVOID CompareContext, PSP_DEVINFO_DATA DupDeviceInfoData) {
    // With no compare function and no resources, no duplicate is ever found, so the
    // duplicate's record is never written (nor its size looked at).
    (void)CompareProc;
    (void)CompareContext;
    (void)DupDeviceInfoData;
    if (Refused({"SetupDiRegisterDeviceInfo", "flags=" + Hex(Flags)}, ERROR_ACCESS_DENIED))
        return FALSE;
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    if (Flags & ~(DWORD)SPRDI_FIND_DUPS)
        return Fail(ERROR_INVALID_FLAGS);
    auto e = ElementOf(*list, DeviceInfoData);
    if (!e)
        return FALSE;
    RegisterElement(*e);
    return Succeed();
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
    return CopyDeviceParams(true, DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
}

BOOL WINAPI SetupDiSetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
    return CopyDeviceParams(false, DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
    if (Refused({"SetupDiGetDeviceRegistryPropertyA", "property=" + std::to_string(Property)},
                ERROR_ACCESS_DENIED, std::to_string(Property)))
        return FALSE;
    auto e = ElementIn(DeviceInfoSet, DeviceInfoData);
    if (!e)
        return FALSE;
    // Only the driver key is kept here, and only once the device is installed.
    if (Property != SPDRP_DRIVER || e->driverKey.empty())
        return Fail(ERROR_INVALID_DATA);
    DWORD cb = static_cast<DWORD>(e->driverKey.size() + 1); // bytes, the zero included
    if (RequiredSize)
        *RequiredSize = cb;
    if (PropertyRegDataType)
        *PropertyRegDataType = REG_SZ;
    if (!PropertyBuffer || PropertyBufferSize < cb)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(PropertyBuffer, e->driverKey.c_str(), cb);
    return Succeed();
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
    if (Refused("SetupDiGetDeviceInstanceIdA", ERROR_ACCESS_DENIED))
        return FALSE;
    auto e = ElementIn(DeviceInfoSet, DeviceInfoData);
    if (!e)
        return FALSE;
    DWORD cb = static_cast<DWORD>(e->instanceId.size() + 1);
    if (RequiredSize)
        *RequiredSize = cb;
    if (!DeviceInstanceId || DeviceInstanceIdSize < cb)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(DeviceInstanceId, e->instanceId.c_str(), cb);
    return Succeed();
}

// A device that the machine has (its instance key exists) joins the list, once.
BOOL WINAPI SetupDiOpenDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND hwndParent,
                                   DWORD OpenFlags, PSP_DEVINFO_DATA DeviceInfoData) {
    (void)hwndParent;
    (void)OpenFlags;
    if (Refused("SetupDiOpenDeviceInfoA", ERROR_ACCESS_DENIED, winemu::Arg(DeviceInstanceId)))
        return FALSE;
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    if (!DeviceInstanceId || (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)))
        return Fail(ERROR_INVALID_PARAMETER);
    winemu::Registry& reg = Current().Reg();
    std::string enumKey = std::string(kEnumRoot) + DeviceInstanceId;
    if (!reg.Find(enumKey))
        return Fail(ERROR_NO_SUCH_DEVINST);
    std::optional<GUID> guid;
    if (auto text = reg.GetString(enumKey, "ClassGUID"))
        guid = ParseGuid(*text);
    if (list->hasClass && (!guid || !GuidEquals(*guid, list->classGuid)))
        return Fail(ERROR_CLASS_MISMATCH);
    std::shared_ptr<Element> found;
    for (auto& e : list->elements) {
        if (NameEquals(e->instanceId, DeviceInstanceId))
            found = e;
    }
    if (!found) {
        found = std::make_shared<Element>();
        found->id = NextId();
        found->devInst = static_cast<DWORD>(found->id);
        found->instanceId = reg.Find(enumKey)->Path().substr(std::string(kEnumRoot).size());
        found->classGuid = guid.value_or(GUID{});
        found->params = FreshParams();
        found->registered = true;
        if (auto driver = reg.GetString(enumKey, "Driver")) {
            found->driverKey = *driver;
            found->installed = true;
        }
        list->elements.push_back(found);
    }
    if (DeviceInfoData)
        FillDevInfoData(*found, DeviceInfoData);
    return Succeed();
}

} // extern "C"
