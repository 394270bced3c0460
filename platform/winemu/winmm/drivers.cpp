// Installable drivers (WINMM): OpenDriver, SendDriverMessage, CloseDriver and DefDriverProc.
// A driver is a DLL loaded as LoadLibraryA loads one, whose DriverProc takes the messages;
// opening and closing send the messages Windows sends around them. Every call and message goes
// into the run report with its answer.
#include "winemu/machine.h"
#include "winemu/machine/export.h"
#include "winemu/kernel32/modules.h"

#include <mmsystem.h>

#include <memory>
#include <string>
#include <utility>

namespace {

using DriverEntry = LRESULT(CALLBACK*)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

// An open driver: its module, its entry point and the identifier its DRV_OPEN answered.
struct DriverInstance {
    std::string fileName; // "TONEBAY.DLL", as it was asked for
    HMODULE module = nullptr;
    DriverEntry driverProc = nullptr;
    DWORD_PTR driverId = 0;
    HDRVR hdrvr = nullptr;
};

// Driver names are plain file names; a character outside ASCII cannot name a file in an image.
std::string ToAnsi(LPCWSTR text) {
    std::string result;
    for (; *text != 0; ++text)
        result.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return result;
}

std::string BaseName(const std::string& name) {
    size_t slash = name.find_last_of("\\/:");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string MessageName(UINT message) {
    switch (message) {
    case DRV_LOAD:
        return "DRV_LOAD";
    case DRV_ENABLE:
        return "DRV_ENABLE";
    case DRV_OPEN:
        return "DRV_OPEN";
    case DRV_CLOSE:
        return "DRV_CLOSE";
    case DRV_DISABLE:
        return "DRV_DISABLE";
    case DRV_FREE:
        return "DRV_FREE";
    case DRV_CONFIGURE:
        return "DRV_CONFIGURE";
    case DRV_QUERYCONFIGURE:
        return "DRV_QUERYCONFIGURE";
    case DRV_INSTALL:
        return "DRV_INSTALL";
    case DRV_REMOVE:
        return "DRV_REMOVE";
    default:
        return std::to_string(message);
    }
}

// A message in the report with both its parameters. The configuration record that DRV_INSTALL
// and DRV_CONFIGURE carry in lParam2 is shown as the driver would see it.
void Record(winemu::Machine& machine, const DriverInstance& driver, UINT message, LRESULT answer,
            LPARAM lParam1, LPARAM lParam2, bool failed) {
    nlohmann::json entry = {{"driver", driver.fileName},
                            {"message", MessageName(message)},
                            {"answer", static_cast<long long>(answer)},
                            {"lparam1", static_cast<long long>(lParam1)}};
    if (message == DRV_INSTALL || message == DRV_CONFIGURE) {
        if (lParam2 != 0) {
            const auto* info = reinterpret_cast<const DRVCONFIGINFO*>(lParam2);
            entry["config"] = {{"size", info->dwDCISize},
                               {"section_null", info->lpszDCISectionName == nullptr},
                               {"alias_null", info->lpszDCIAliasName == nullptr}};
        } else {
            entry["config"] = nullptr;
        }
    } else {
        entry["lparam2"] = static_cast<long long>(lParam2);
    }
    if (failed)
        entry["failed"] = true;
    machine.Report()["driver_messages"].push_back(std::move(entry));
}

// The driver's answer to a message, in the report.
LRESULT Dispatch(winemu::Machine& machine, const DriverInstance& driver, UINT message,
                 LPARAM lParam1, LPARAM lParam2) {
    LRESULT answer = driver.driverProc(driver.driverId, driver.hdrvr, message, lParam1, lParam2);
    Record(machine, driver, message, answer, lParam1, lParam2, false);
    return answer;
}

// An OpenDriver or CloseDriver call in the report, before the messages it sends; its index.
size_t RecordCall(winemu::Machine& machine, nlohmann::json call) {
    nlohmann::json& messages = machine.Report()["driver_messages"];
    messages.push_back(std::move(call));
    return messages.size() - 1;
}

// The file that a driver name opens. Without a section, Windows NT first takes the name as a
// value of the Drivers32 key ("wave" = "mmdrv.dll") and opens the file it names.
std::string DriverFileName(winemu::Machine& machine, const std::string& name, bool sectionGiven) {
    if (!sectionGiven) {
        std::optional<std::string> mapped = machine.Reg().GetString(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", name);
        if (mapped && !mapped->empty())
            return *mapped;
    }
    return name;
}

std::shared_ptr<DriverInstance> FindOpen(winemu::Machine& machine, HDRVR hDriver) {
    return machine.Objects().GetAs<DriverInstance>(reinterpret_cast<ULONG_PTR>(hDriver),
                                                   winemu::HandleKind::Driver);
}

} // namespace

extern "C" {

HDRVR WINAPI OpenDriver(LPCWSTR szDriverName, LPCWSTR szSectionName, LPARAM lParam2) {
    winemu::Machine& machine = winemu::Current();
    if (szDriverName == nullptr) {
        machine.LastError() = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const std::string name = ToAnsi(szDriverName);
    const size_t call = RecordCall(
        machine, {{"call", "OpenDriver"},
                  {"driver", name},
                  {"section", szSectionName ? nlohmann::json(ToAnsi(szSectionName)) : nullptr},
                  {"lparam2", static_cast<long long>(lParam2)},
                  {"opened", false}});
    if (winemu::Faulted("OpenDriver", ERROR_FILE_NOT_FOUND, name))
        return nullptr;
    const std::string fileName = DriverFileName(machine, name, szSectionName != nullptr);
    auto driver = std::make_shared<DriverInstance>();
    driver->fileName = BaseName(fileName);
    DWORD error = ERROR_SUCCESS;
    driver->module = winemu::LoadModule(fileName, error);
    if (driver->module == nullptr) {
        machine.LastError() = error;
        return nullptr;
    }
    driver->driverProc = reinterpret_cast<DriverEntry>(
        reinterpret_cast<void (*)(void)>(winemu::ModuleExport(driver->module, "DriverProc")));
    if (driver->driverProc == nullptr) {
        winemu::FreeModule(driver->module);
        machine.LastError() = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    // Loaded and enabled once, then opened with the caller's parameter; a refusal of the load
    // or of the open leaves no driver open. Later messages carry the identifier that DRV_OPEN
    // answered.
    if (Dispatch(machine, *driver, DRV_LOAD, 0, 0) == 0) {
        winemu::FreeModule(driver->module);
        machine.LastError() = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    Dispatch(machine, *driver, DRV_ENABLE, 0, 0);
    const LRESULT driverId = Dispatch(machine, *driver, DRV_OPEN, 0, lParam2);
    if (driverId == 0) {
        Dispatch(machine, *driver, DRV_DISABLE, 0, 0);
        Dispatch(machine, *driver, DRV_FREE, 0, 0);
        winemu::FreeModule(driver->module);
        machine.LastError() = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    const std::string description = "driver " + driver->fileName;
    ULONG_PTR handle = machine.Objects().Open(winemu::HandleKind::Driver, description, driver);
    driver->driverId = static_cast<DWORD_PTR>(driverId);
    driver->hdrvr = reinterpret_cast<HDRVR>(handle);
    machine.Report()["driver_messages"][call]["opened"] = true;
    return driver->hdrvr;
}

LRESULT WINAPI SendDriverMessage(HDRVR hDriver, UINT message, LPARAM lParam1, LPARAM lParam2) {
    winemu::Machine& machine = winemu::Current();
    std::shared_ptr<DriverInstance> driver = FindOpen(machine, hDriver);
    if (!driver)
        return 0;
    if (winemu::Faulted("SendDriverMessage", winemu::kLastErrorKept, driver->fileName,
                        MessageName(message))) {
        Record(machine, *driver, message, 0, lParam1, lParam2, true);
        return 0;
    }
    return Dispatch(machine, *driver, message, lParam1, lParam2);
}

LRESULT WINAPI CloseDriver(HDRVR hDriver, LPARAM lParam1, LPARAM lParam2) {
    winemu::Machine& machine = winemu::Current();
    std::shared_ptr<DriverInstance> driver = FindOpen(machine, hDriver);
    if (!driver)
        return 0;
    RecordCall(machine, {{"call", "CloseDriver"},
                         {"driver", driver->fileName},
                         {"lparam1", static_cast<long long>(lParam1)},
                         {"lparam2", static_cast<long long>(lParam2)}});
    if (winemu::Faulted("CloseDriver", winemu::kLastErrorKept, driver->fileName))
        return 0;
    // Closed with the caller's parameters, then disabled and unloaded.
    Dispatch(machine, *driver, DRV_CLOSE, lParam1, lParam2);
    Dispatch(machine, *driver, DRV_DISABLE, 0, 0);
    Dispatch(machine, *driver, DRV_FREE, 0, 0);
    winemu::FreeModule(driver->module);
    machine.Objects().Close(reinterpret_cast<ULONG_PTR>(hDriver), winemu::HandleKind::Driver);
    return 1;
}

LRESULT WINAPI DefDriverProc(DWORD_PTR dwDriverIdentifier, HDRVR hdrvr, UINT uMsg, LPARAM lParam1,
                             LPARAM lParam2) {
    (void)dwDriverIdentifier;
    (void)hdrvr;
    (void)lParam1;
    (void)lParam2;
    switch (uMsg) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_OPEN:
    case DRV_CLOSE:
        return 1;
    case DRV_QUERYCONFIGURE:
        return 0;
    case DRV_INSTALL:
    case DRV_REMOVE:
        return DRVCNF_OK;
    default:
        return 0;
    }
}

} // extern "C"
