// SETUPAPI's driver selection: the drivers of the INF files in an element's driver folder (asked
// for with "Install From Disk" when the element has none), the selected driver's record and its
// install parameters.
#include "winemu/setupapi/devinst.h"

#include "winemu/machine.h"
#include "winemu/setupapi/internal.h"

#include <setupapi.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace winemu::setupapi;

// Windows sets these once it has built a class driver list for an element.
constexpr DWORD DI_DIDCLASS = 0x00000020;
constexpr DWORD DI_FLAGSEX_DIDINFOLIST = 0x00000010;

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

// "Install From Disk": the user names the folder of the manufacturer's INF, suggested as the
// folder of the INF whose class was asked for (else the current directory). The element's driver
// path becomes that folder, as Windows sets it. False when the user cancels or the folder does
// not fit a driver path.
bool AskForOemDisk(Element& e) {
    winemu::Machine& m = Current();
    const LastInf& last = LastInfFolder();
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

// The install parameters of the driver that a get call reads or a set call replaces. The two
// calls check alike and copy the other way round.
BOOL CopyDriverParams(bool get, HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_A driver,
                      PSP_DRVINSTALL_PARAMS params) {
    std::shared_ptr<DeviceList> list = ParamsListOf(
        get ? "SetupDiGetDriverInstallParamsA" : "SetupDiSetDriverInstallParamsA", set, params);
    if (!list)
        return FALSE;
    std::shared_ptr<Element> e = ElementOf(*list, data);
    Driver* d = e ? DriverOf(*e, driver) : nullptr;
    if (!d)
        return FALSE;
    if (get) {
        params->Rank = d->rank;
        params->Flags = d->flags;
        params->PrivateData = d->privateData;
        params->Reserved = 0;
        CurrentTrace().driverParamsRead.push_back(*params);
    } else {
        d->rank = params->Rank;
        d->flags = params->Flags;
        d->privateData = params->PrivateData;
        CurrentTrace().driverParamsWritten.push_back(*params);
    }
    return Succeed();
}

} // namespace

extern "C" {

BOOL WINAPI SetupDiSelectOEMDrv(HWND hwndParent, HDEVINFO DeviceInfoSet,
                                PSP_DEVINFO_DATA DeviceInfoData) {
    (void)hwndParent;
    if (Refused("SetupDiSelectOEMDrv", ERROR_ACCESS_DENIED))
        return FALSE;
    auto e = ElementIn(DeviceInfoSet, DeviceInfoData);
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
    return Succeed();
}

BOOL WINAPI SetupDiGetSelectedDriverA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                      PSP_DRVINFO_DATA_A DriverInfoData) {
    if (Refused("SetupDiGetSelectedDriverA", ERROR_ACCESS_DENIED))
        return FALSE;
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
    return Succeed();
}

BOOL WINAPI SetupDiGetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams) {
    return CopyDriverParams(true, DeviceInfoSet, DeviceInfoData, DriverInfoData,
                            DriverInstallParams);
}

BOOL WINAPI SetupDiSetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams) {
    return CopyDriverParams(false, DeviceInfoSet, DeviceInfoData, DriverInfoData,
                            DriverInstallParams);
}

} // extern "C"
