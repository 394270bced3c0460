// SETUPAPI's device information and installation: INF class lookup, device lists and elements,
// driver selection from a folder's INF files, registration and DIF_INSTALLDEVICE.
#include "winemu/machine.h"
#include "winemu/setupapi/internal.h"
#include "winemu/setupapi_trace.h"

#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

// The folder of the INF file whose class was last asked for, on the machine that asked: the
// one the device is installed from, which the "Install From Disk" prompt suggests.
struct LastInf {
    const Machine* machine = nullptr;
    std::string folder;
};

LastInf& LastInfFolder() {
    static LastInf last;
    return last;
}

void ResetTrace() {
    CurrentTrace() = Trace{};
    LastInfFolder() = LastInf{};
}

} // namespace winemu::setupapi

namespace {

using winemu::Current;
using winemu::NameEquals;
using winemu::setupapi::ApplyAddRegLine;
using winemu::setupapi::ApplyDelRegLine;
using winemu::setupapi::CurrentTrace;
using winemu::setupapi::InfFile;
using winemu::setupapi::InfLine;
using winemu::setupapi::LoadInf;
using winemu::setupapi::StringBytes;

constexpr const char* kClassRoot =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr const char* kEnumRoot = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";

// Windows sets these once it has built a class driver list for an element.
constexpr DWORD DI_DIDCLASS = 0x00000020;
constexpr DWORD DI_FLAGSEX_DIDINFOLIST = 0x00000010;

// Records a call in the trace, in the order made.
void Called(std::string entry) {
    CurrentTrace().calls.push_back(std::move(entry));
}

std::string Hex(DWORD value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%lX", static_cast<unsigned long>(value));
    return buf;
}

BOOL Fail(DWORD error) {
    Current().LastError() = error;
    return FALSE;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// ---------------------------------------------------------------------------------------------
// GUIDs in registry form: {4D36E96D-E325-11CE-BFC1-08002BE10318}

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

// ---------------------------------------------------------------------------------------------
// Device information lists and their elements.

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

// The element a caller's record names; ERROR_INVALID_PARAMETER as Windows when it names none.
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

void FillDevInfoData(const Element& e, PSP_DEVINFO_DATA data) {
    data->ClassGuid = e.classGuid;
    data->DevInst = e.devInst;
    data->Reserved = e.id;
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

// Drivers of an INF file for a device name, best (lowest) rank of each model line.
void CollectDrivers(const InfFile& inf, const GUID& classGuid, std::string_view deviceName,
                    std::vector<Driver>& out) {
    auto guidText = inf.Value("Version", "ClassGUID");
    if (!guidText)
        return;
    auto guid = ParseGuid(*guidText);
    if (!guid || !GuidEquals(*guid, classGuid))
        return;
    const auto* mfgs = inf.Section("Manufacturer");
    if (!mfgs)
        return;
    std::string provider = inf.Value("Version", "Provider").value_or("");
    for (const InfLine& mfg : *mfgs) {
        if (mfg.fields.empty() || mfg.fields[0].empty())
            continue;
        std::string modelsName = inf.Subst(mfg.fields[0]);
        const auto* models = inf.Section(modelsName);
        if (!models)
            continue;
        for (const InfLine& model : *models) {
            if (model.fields.size() < 2)
                continue;
            for (size_t i = 1; i < model.fields.size(); ++i) {
                std::string id = inf.Subst(model.fields[i]);
                if (id.empty() || !NameEquals(id, deviceName))
                    continue;
                Driver d;
                d.infPath = inf.winPath;
                d.section = inf.Subst(model.fields[0]);
                d.matchId = id;
                d.description = inf.Subst(model.key);
                d.manufacturer = inf.Subst(mfg.key);
                d.provider = provider;
                d.rank = i == 1 ? 0 : static_cast<DWORD>(0x1000 + i - 2);
                out.push_back(std::move(d));
                break;
            }
        }
    }
}

void CopyText(CHAR* dest, size_t size, const std::string& text);

// "Install From Disk": the user names the folder of the manufacturer's INF, suggested as the
// folder of the INF whose class was asked for (else the current directory). The element's driver
// path becomes that folder, as Windows sets it. False when the user cancels or the folder does
// not fit a driver path.
bool AskForOemDisk(Element& e) {
    winemu::Machine& m = Current();
    const winemu::setupapi::LastInf& last = winemu::setupapi::LastInfFolder();
    winemu::SystemPrompt prompt{
        winemu::kInstallFromDiskPrompt, "Install From Disk",
        "Insert the manufacturer's installation disk into the drive selected, and then click "
        "OK. Copy manufacturer's files from:",
        last.machine == &m && !last.folder.empty() ? last.folder : m.CurrentDirectory()};
    std::optional<std::string> folder =
        m.Answerer() ? m.Answerer()(prompt) : std::optional<std::string>(prompt.suggestion);
    m.Report()["dialogs"].push_back({{"id", prompt.id},
                                     {"procedure", "SetupDiSelectOEMDrv"},
                                     {"event", folder ? winemu::ReportText(*folder) : "CANCEL"}});
    if (!folder || folder->size() >= sizeof e.params.DriverPath)
        return false;
    CopyText(e.params.DriverPath, sizeof e.params.DriverPath, *folder);
    return true;
}

// The directory the device installer looks in for OEM drivers: the element's driver path.
std::string OemDirectory(const Element& e) {
    return Current().FullPath(e.params.DriverPath);
}

std::vector<std::string> InfFilesIn(const std::string& winDir) {
    std::vector<std::string> names;
    auto host = Current().HostPath(winDir);
    std::error_code ec;
    if (!host || !std::filesystem::is_directory(*host, ec))
        return names;
    for (const auto& entry : std::filesystem::directory_iterator(*host, ec)) {
        std::string name = entry.path().filename().string();
        if (entry.is_regular_file(ec) && name.size() > 4 &&
            NameEquals(std::string_view(name).substr(name.size() - 4), ".inf"))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), winemu::NameLess{});
    std::string dir = winDir;
    if (!dir.empty() && dir.back() != '\\')
        dir += '\\';
    for (auto& n : names)
        n = dir + n;
    return names;
}

// ---------------------------------------------------------------------------------------------
// The default class installer's DIF_INSTALLDEVICE.

// The install section as Windows NT on x86 picks it: the ".NTx86" decorated one, else the ".NT"
// one, else the section as named.
std::string InstallSectionOf(const InfFile& inf, const std::string& section) {
    for (const char* decoration : {".NTx86", ".NT"}) {
        if (inf.Section(section + decoration))
            return section + decoration;
    }
    return section;
}

std::string FileNameOf(std::string_view path) {
    size_t slash = path.find_last_of("\\:");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

BOOL InstallDevice(DeviceList& list, Element& e) {
    (void)list;
    if (!e.selected)
        return Fail(ERROR_NO_DRIVER_SELECTED);
    if (!e.registered)
        return Fail(ERROR_NO_SUCH_DEVINST);
    auto inf = LoadInf(e.selected->infPath);
    if (!inf)
        return Fail(ERROR_FILE_NOT_FOUND);
    std::string section = InstallSectionOf(*inf, e.selected->section);
    if (!inf->Section(section))
        return Fail(ERROR_SECTION_NOT_FOUND);

    winemu::Registry& reg = Current().Reg();
    std::string classKey = std::string(kClassRoot) + GuidText(e.classGuid);
    if (!reg.Find(classKey)) {
        reg.Create(classKey);
        if (auto name = inf->Value("Version", "Class")) {
            reg.SetString(classKey, "", *name);
            reg.SetString(classKey, "Class", *name);
        }
    }
    // The driver key: the first free four-digit number under the class key.
    std::string driverKeyName;
    for (int n = 0; n < 10000; ++n) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d", n);
        if (!reg.Find(classKey + "\\" + buf)) {
            driverKeyName = buf;
            break;
        }
    }
    if (driverKeyName.empty())
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::string driverKey = classKey + "\\" + driverKeyName;
    reg.Create(driverKey);
    reg.SetString(driverKey, "DriverDesc", e.selected->description);
    if (!e.selected->provider.empty())
        reg.SetString(driverKey, "ProviderName", e.selected->provider);
    if (!e.selected->manufacturer.empty())
        reg.SetString(driverKey, "Manufacturer", e.selected->manufacturer);
    reg.SetString(driverKey, "InfPath", FileNameOf(e.selected->infPath));
    reg.SetString(driverKey, "InfSection", section);
    reg.SetString(driverKey, "MatchingDeviceId", Lower(e.selected->matchId));

    // Deletions first, then additions, as Windows runs an install section's registry lines.
    for (const char* directive : {"DelReg", "AddReg"}) {
        bool add = NameEquals(directive, "AddReg");
        for (const InfLine& line : *inf->Section(section)) {
            if (!NameEquals(line.key, directive))
                continue;
            for (const auto& name : line.fields) {
                const auto* regLines = inf->Section(inf->Subst(name));
                for (size_t i = 0; regLines && i < regLines->size(); ++i) {
                    if (!add) {
                        ApplyDelRegLine(*inf, (*regLines)[i], driverKey);
                        continue;
                    }
                    LONG result = ApplyAddRegLine(*inf, (*regLines)[i], driverKey);
                    if (result != ERROR_SUCCESS)
                        return Fail(static_cast<DWORD>(result));
                }
            }
        }
    }
    // CopyFiles lines would copy the driver's files; this installer copies none, which is
    // what DI_NOFILECOPY asks for and all that a modem (a registry-only device) needs.

    std::string enumKey = std::string(kEnumRoot) + e.instanceId;
    reg.Create(enumKey);
    reg.SetString(enumKey, "Driver", GuidText(e.classGuid) + "\\" + driverKeyName);
    reg.SetString(enumKey, "DeviceDesc", e.selected->description);
    if (!e.selected->manufacturer.empty())
        reg.SetString(enumKey, "Mfg", e.selected->manufacturer);
    if (e.params.FlagsEx & DI_FLAGSEX_ALWAYSWRITEIDS) {
        std::vector<BYTE> ids = StringBytes(e.deviceName);
        ids.push_back(0);
        reg.Set(enumKey, "HardwareID", REG_MULTI_SZ, std::move(ids));
    }
    e.installed = true;
    e.driverKey = GuidText(e.classGuid) + "\\" + driverKeyName;
    CurrentTrace().installedClassKeys.push_back(driverKey);
    CurrentTrace().installedInstances.push_back(e.instanceId);
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL RegisterElement(Element& e) {
    if (e.registered)
        return TRUE;
    winemu::Registry& reg = Current().Reg();
    std::string enumKey = std::string(kEnumRoot) + e.instanceId;
    reg.Create(enumKey);
    reg.SetString(enumKey, "ClassGUID", GuidText(e.classGuid));
    if (!e.description.empty())
        reg.SetString(enumKey, "DeviceDesc", e.description);
    e.registered = true;
    return TRUE;
}

// The device's instance key and its driver key go; the instance's ROOT\<name> key goes with
// its last instance, as the installer made it with the first.
BOOL RemoveDevice(Element& e) {
    winemu::Registry& reg = Current().Reg();
    std::string enumKey = std::string(kEnumRoot) + e.instanceId;
    if (!reg.Find(enumKey))
        return Fail(ERROR_NO_SUCH_DEVINST);
    std::optional<std::string> driver = reg.GetString(enumKey, "Driver");
    if (driver && !driver->empty())
        reg.Delete(std::string(kClassRoot) + *driver);
    reg.Delete(enumKey);
    std::string parent = enumKey.substr(0, enumKey.find_last_of('\\'));
    if (winemu::RegKey* key = reg.Find(parent); key && key->subkeys.empty() && key->values.empty())
        reg.Delete(parent);
    e.installed = false;
    e.registered = false;
    e.driverKey.clear();
    CurrentTrace().removedInstances.push_back(e.instanceId);
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

// Driver record sizes that the driver calls accept: the first version and the current one.
bool DriverRecordSizeOk(DWORD cb) {
    return cb == sizeof(SP_DRVINFO_DATA_V1_A) || cb == sizeof(SP_DRVINFO_DATA_V2_A);
}

// The selected driver that a caller's driver record names, with the last error set if none.
Driver* DriverOf(Element& e, PSP_DRVINFO_DATA_A data) {
    if (!data) {
        Current().LastError() = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    if (!DriverRecordSizeOk(data->cbSize)) {
        Current().LastError() = ERROR_INVALID_USER_BUFFER;
        return nullptr;
    }
    if (!e.selected || data->Reserved != e.selected->id ||
        (data->DriverType != SPDIT_CLASSDRIVER && data->DriverType != SPDIT_COMPATDRIVER)) {
        Current().LastError() = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    return &*e.selected;
}

// The install parameters that a get or set call reads or replaces: the element's, or the list's
// own when no element is named. Null (with the error set) when the call's records are not right.
SP_DEVINSTALL_PARAMS_A* DeviceParamsOf(HDEVINFO set, PSP_DEVINFO_DATA data,
                                       PSP_DEVINSTALL_PARAMS_A params) {
    auto list = ListOf(set);
    if (!list) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!params) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        Fail(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    if (!data)
        return &list->params;
    auto e = ElementOf(*list, data);
    return e ? &e->params : nullptr;
}

// The driver whose install parameters a get or set call reads or replaces; null (with the error
// set) when the call's records are not right.
Driver* DriverParamsOf(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_A driver,
                       PSP_DRVINSTALL_PARAMS params) {
    auto list = ListOf(set);
    if (!list) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!params) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (params->cbSize != sizeof(SP_DRVINSTALL_PARAMS)) {
        Fail(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    auto e = ElementOf(*list, data);
    return e ? DriverOf(*e, driver) : nullptr;
}

void CopyText(CHAR* dest, size_t size, const std::string& text) {
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(dest, text.data(), n);
    dest[n] = 0;
}

} // namespace

extern "C" {

BOOL WINAPI SetupDiGetINFClassA(PCSTR InfName, LPGUID ClassGuid, PSTR ClassName,
                                DWORD ClassNameSize, PDWORD RequiredSize) {
    Called("SetupDiGetINFClassA");
    if (Current().Fault().Check("SetupDiGetINFClassA", {InfName ? InfName : ""}))
        return Fail(ERROR_ACCESS_DENIED);
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
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent) {
    Called("SetupDiCreateDeviceInfoList");
    if (Current().Fault().Check("SetupDiCreateDeviceInfoList",
                                {ClassGuid ? GuidText(*ClassGuid) : std::string()})) {
        Current().LastError() = ERROR_NOT_ENOUGH_MEMORY;
        return INVALID_HANDLE_VALUE;
    }
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
    Called("SetupDiDestroyDeviceInfoList");
    if (Current().Fault().Check("SetupDiDestroyDeviceInfoList"))
        return Fail(ERROR_ACCESS_DENIED);
    if (!Current().Objects().Close(reinterpret_cast<ULONG_PTR>(DeviceInfoSet),
                                   winemu::HandleKind::DeviceInfoList))
        return Fail(ERROR_INVALID_HANDLE);
    CurrentTrace().listsDestroyed++;
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceName,
                                     const GUID* ClassGuid, PCSTR DeviceDescription,
                                     HWND hwndParent, DWORD CreationFlags,
                                     PSP_DEVINFO_DATA DeviceInfoData) {
    Called("SetupDiCreateDeviceInfoA flags=" + Hex(CreationFlags));
    (void)hwndParent;
    if (Current().Fault().Check(
            "SetupDiCreateDeviceInfoA",
            {DeviceName ? DeviceName : "", DeviceDescription ? DeviceDescription : ""}))
        return Fail(ERROR_ACCESS_DENIED);
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
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiSelectOEMDrv(HWND hwndParent, HDEVINFO DeviceInfoSet,
                                PSP_DEVINFO_DATA DeviceInfoData) {
    Called("SetupDiSelectOEMDrv");
    (void)hwndParent;
    if (Current().Fault().Check("SetupDiSelectOEMDrv"))
        return Fail(ERROR_ACCESS_DENIED);
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    auto e = ElementOf(*list, DeviceInfoData);
    if (!e)
        return FALSE;
    // Without a driver path in the install parameters Windows asks for the manufacturer's disk,
    // in a dialog over the caller's window.
    if (!e->params.DriverPath[0] && !AskForOemDisk(*e))
        return Fail(ERROR_CANCELLED);

    std::vector<Driver> drivers;
    for (const std::string& file : InfFilesIn(OemDirectory(*e))) {
        if (auto inf = LoadInf(file))
            CollectDrivers(*inf, e->classGuid, e->deviceName, drivers);
    }
    e->params.Flags |= DI_DIDCLASS;
    e->params.FlagsEx |= DI_FLAGSEX_DIDINFOLIST;
    if (drivers.empty())
        return Fail(ERROR_NO_DRIVER_SELECTED);
    auto best = std::min_element(drivers.begin(), drivers.end(),
                                 [](const Driver& a, const Driver& b) { return a.rank < b.rank; });
    e->selected = *best;
    e->selected->id = NextId();
    e->selected->flags |= CurrentTrace().extraDriverFlags;
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiRegisterDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                      DWORD Flags, PSP_DETSIG_CMPPROC CompareProc,
                                      PVOID CompareContext, PSP_DEVINFO_DATA DupDeviceInfoData) {
    Called("SetupDiRegisterDeviceInfo flags=" + Hex(Flags));
    // With no compare function and no resources, no duplicate is ever found, so the
    // duplicate's record is never written (nor its size looked at).
    (void)CompareProc;
    (void)CompareContext;
    (void)DupDeviceInfoData;
    if (Current().Fault().Check("SetupDiRegisterDeviceInfo"))
        return Fail(ERROR_ACCESS_DENIED);
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    if (Flags & ~(DWORD)SPRDI_FIND_DUPS)
        return Fail(ERROR_INVALID_FLAGS);
    auto e = ElementOf(*list, DeviceInfoData);
    if (!e)
        return FALSE;
    RegisterElement(*e);
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
    Called("SetupDiGetDeviceInstallParamsA");
    if (Current().Fault().Check("SetupDiGetDeviceInstallParamsA"))
        return Fail(ERROR_ACCESS_DENIED);
    SP_DEVINSTALL_PARAMS_A* source =
        DeviceParamsOf(DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
    if (!source)
        return FALSE;
    *DeviceInstallParams = *source;
    DeviceInstallParams->cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
    CurrentTrace().deviceParamsRead.push_back(*DeviceInstallParams);
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiSetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
    Called("SetupDiSetDeviceInstallParamsA");
    if (Current().Fault().Check("SetupDiSetDeviceInstallParamsA"))
        return Fail(ERROR_ACCESS_DENIED);
    SP_DEVINSTALL_PARAMS_A* target =
        DeviceParamsOf(DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
    if (!target)
        return FALSE;
    // A driver path must be a terminated text.
    if (!std::memchr(DeviceInstallParams->DriverPath, 0, sizeof DeviceInstallParams->DriverPath))
        return Fail(ERROR_INVALID_PARAMETER);
    *target = *DeviceInstallParams;
    CurrentTrace().deviceParamsWritten.push_back(*DeviceInstallParams);
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiGetSelectedDriverA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                      PSP_DRVINFO_DATA_A DriverInfoData) {
    Called("SetupDiGetSelectedDriverA");
    if (Current().Fault().Check("SetupDiGetSelectedDriverA"))
        return Fail(ERROR_ACCESS_DENIED);
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    if (!DriverInfoData)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!DriverRecordSizeOk(DriverInfoData->cbSize))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (!DeviceInfoData)
        return Fail(ERROR_NO_DRIVER_SELECTED); // the list itself never has one here
    auto e = ElementOf(*list, DeviceInfoData);
    if (!e)
        return FALSE;
    if (!e->selected)
        return Fail(ERROR_NO_DRIVER_SELECTED);
    const Driver& d = *e->selected;
    // Only the bytes of the record version the caller announced are written.
    DriverInfoData->DriverType = SPDIT_CLASSDRIVER;
    DriverInfoData->Reserved = d.id;
    CopyText(DriverInfoData->Description, LINE_LEN, d.description);
    CopyText(DriverInfoData->MfgName, LINE_LEN, d.manufacturer);
    CopyText(DriverInfoData->ProviderName, LINE_LEN, d.provider);
    if (DriverInfoData->cbSize == sizeof(SP_DRVINFO_DATA_V2_A)) {
        DriverInfoData->DriverDate = FILETIME{};
        DriverInfoData->DriverVersion = 0;
    }
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiGetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams) {
    Called("SetupDiGetDriverInstallParamsA");
    if (Current().Fault().Check("SetupDiGetDriverInstallParamsA"))
        return Fail(ERROR_ACCESS_DENIED);
    Driver* d = DriverParamsOf(DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInstallParams);
    if (!d)
        return FALSE;
    DriverInstallParams->Rank = d->rank;
    DriverInstallParams->Flags = d->flags;
    DriverInstallParams->PrivateData = d->privateData;
    DriverInstallParams->Reserved = 0;
    CurrentTrace().driverParamsRead.push_back(*DriverInstallParams);
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiSetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams) {
    Called("SetupDiSetDriverInstallParamsA");
    if (Current().Fault().Check("SetupDiSetDriverInstallParamsA"))
        return Fail(ERROR_ACCESS_DENIED);
    Driver* d = DriverParamsOf(DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInstallParams);
    if (!d)
        return FALSE;
    d->rank = DriverInstallParams->Rank;
    d->flags = DriverInstallParams->Flags;
    d->privateData = DriverInstallParams->PrivateData;
    CurrentTrace().driverParamsWritten.push_back(*DriverInstallParams);
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    Called("SetupDiCallClassInstaller function=" + std::to_string(InstallFunction));
    if (Current().Fault().Check("SetupDiCallClassInstaller", {std::to_string(InstallFunction)}))
        return Fail(ERROR_ACCESS_DENIED);
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    switch (InstallFunction) {
    case DIF_INSTALLDEVICE: {
        auto e = ElementOf(*list, DeviceInfoData);
        if (!e)
            return FALSE;
        return InstallDevice(*list, *e);
    }
    case DIF_REGISTERDEVICE: {
        auto e = ElementOf(*list, DeviceInfoData);
        if (!e)
            return FALSE;
        return RegisterElement(*e);
    }
    case DIF_REMOVE: {
        auto e = ElementOf(*list, DeviceInfoData);
        if (!e)
            return FALSE;
        return RemoveDevice(*e);
    }
    case DIF_DESTROYPRIVATEDATA:
        Current().LastError() = ERROR_SUCCESS;
        return TRUE;
    default:
        return Fail(ERROR_DI_DO_DEFAULT);
    }
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
    Called("SetupDiGetDeviceRegistryPropertyA property=" + std::to_string(Property));
    if (Current().Fault().Check("SetupDiGetDeviceRegistryPropertyA", {std::to_string(Property)}))
        return Fail(ERROR_ACCESS_DENIED);
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    auto e = ElementOf(*list, DeviceInfoData);
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
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
    Called("SetupDiGetDeviceInstanceIdA");
    if (Current().Fault().Check("SetupDiGetDeviceInstanceIdA"))
        return Fail(ERROR_ACCESS_DENIED);
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    auto e = ElementOf(*list, DeviceInfoData);
    if (!e)
        return FALSE;
    DWORD cb = static_cast<DWORD>(e->instanceId.size() + 1);
    if (RequiredSize)
        *RequiredSize = cb;
    if (!DeviceInstanceId || DeviceInstanceIdSize < cb)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(DeviceInstanceId, e->instanceId.c_str(), cb);
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

// A device that the machine has (its instance key exists) joins the list, once.
BOOL WINAPI SetupDiOpenDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND hwndParent,
                                   DWORD OpenFlags, PSP_DEVINFO_DATA DeviceInfoData) {
    Called("SetupDiOpenDeviceInfoA");
    (void)hwndParent;
    (void)OpenFlags;
    if (Current().Fault().Check("SetupDiOpenDeviceInfoA",
                                {DeviceInstanceId ? DeviceInstanceId : ""}))
        return Fail(ERROR_ACCESS_DENIED);
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
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

} // extern "C"
