// SETUPAPI's class installer functions: the default class installer's DIF_INSTALLDEVICE (the
// driver key, the install section's registry lines, the instance key), DIF_REGISTERDEVICE and
// DIF_REMOVE.
#include "winemu/setupapi/devinst.h"

#include "winemu/machine.h"
#include "winemu/setupapi/internal.h"

#include <setupapi.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace winemu::setupapi;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

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
    return Succeed();
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
    return Succeed();
}

} // namespace

namespace winemu::setupapi {

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

} // namespace winemu::setupapi

extern "C" {

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    if (Refused({"SetupDiCallClassInstaller", "function=" + std::to_string(InstallFunction)},
                ERROR_ACCESS_DENIED, std::to_string(InstallFunction)))
        return FALSE;
    auto list = ListOf(DeviceInfoSet);
    if (!list)
        return Fail(ERROR_INVALID_HANDLE);
    std::shared_ptr<Element> e;
    switch (InstallFunction) {
    case DIF_INSTALLDEVICE:
    case DIF_REGISTERDEVICE:
    case DIF_REMOVE:
        e = ElementOf(*list, DeviceInfoData);
        if (!e)
            return FALSE;
        if (InstallFunction == DIF_INSTALLDEVICE)
            return InstallDevice(*list, *e);
        return InstallFunction == DIF_REGISTERDEVICE ? RegisterElement(*e) : RemoveDevice(*e);
    case DIF_DESTROYPRIVATEDATA:
        return Succeed();
    default:
        return Fail(ERROR_DI_DO_DEFAULT);
    }
}

} // extern "C"
