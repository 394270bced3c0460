// Installable drivers (WINMM): OpenDriver, SendDriverMessage, CloseDriver and DefDriverProc.
// In the host build a driver file is a driver description: INI text whose [Driver] section holds
// the answers to the driver messages and whose [Parameters] section holds the numbers the driver
// stores under its service key, through the registry functions, when it is installed or
// configured. Opening and closing send the messages Windows sends around them.
#include "winemu/machine.h"
#include "winemu/profile.h"

#include <mmsystem.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// What an open driver knows of itself: its file, its answers and its parameters.
struct DriverInstance {
    std::string fileName;    // "TONEBAY.DLL", as it was asked for
    std::string serviceName; // "TONEBAY": the file's base name
    LRESULT loadAnswer = 1;  // 0 refuses the load: OpenDriver fails
    LRESULT openAnswer = 1;  // 0 refuses the open: OpenDriver fails
    LRESULT installAnswer = DRVCNF_OK;
    LRESULT queryConfigureAnswer = 0;
    LRESULT configureAnswer = DRVCNF_OK;
    std::vector<std::pair<std::string, DWORD>> parameters; // in file order
};

std::string Trim(std::string_view text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first])))
        ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1])))
        --last;
    return std::string(text.substr(first, last - first));
}

// Reads a driver description. False when the text has no [Driver] section.
bool ParseDescription(const std::string& text, DriverInstance& driver) {
    std::istringstream in(text);
    std::string line;
    std::string section;
    bool hasDriverSection = false;
    while (std::getline(in, line)) {
        std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == ';')
            continue;
        if (trimmed[0] == '[') {
            size_t close = trimmed.find(']');
            section = Trim(std::string_view(trimmed).substr(
                1, close == std::string::npos ? std::string::npos : close - 1));
            if (winemu::NameEquals(section, "Driver"))
                hasDriverSection = true;
            continue;
        }
        size_t equals = trimmed.find('=');
        if (equals == std::string::npos)
            continue;
        std::string key = Trim(std::string_view(trimmed).substr(0, equals));
        std::string value = Trim(std::string_view(trimmed).substr(equals + 1));
        if (key.empty())
            continue;
        if (winemu::NameEquals(section, "Driver")) {
            LRESULT answer = static_cast<LRESULT>(static_cast<LONG>(winemu::ProfileNumber(value)));
            if (winemu::NameEquals(key, "Load"))
                driver.loadAnswer = answer;
            else if (winemu::NameEquals(key, "Open"))
                driver.openAnswer = answer;
            else if (winemu::NameEquals(key, "Install"))
                driver.installAnswer = answer;
            else if (winemu::NameEquals(key, "QueryConfigure"))
                driver.queryConfigureAnswer = answer;
            else if (winemu::NameEquals(key, "Configure"))
                driver.configureAnswer = answer;
        } else if (winemu::NameEquals(section, "Parameters")) {
            DWORD number = winemu::ProfileNumber(value);
            bool replaced = false;
            for (auto& [name, existing] : driver.parameters) {
                if (winemu::NameEquals(name, key)) {
                    existing = number;
                    replaced = true;
                }
            }
            if (!replaced)
                driver.parameters.emplace_back(key, number);
        }
    }
    return hasDriverSection;
}

// Driver names are plain file names; a character outside ASCII cannot name a file in an image.
std::string ToAnsi(LPCWSTR text) {
    std::string result;
    for (; *text != 0; ++text)
        result.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return result;
}

bool HasDirectory(std::string_view name) {
    return name.find_first_of("\\/:") != std::string_view::npos;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '\\')
        return directory + name;
    return directory + "\\" + name;
}

// The driver file, found as LoadLibrary finds a DLL named without a directory: the program's own
// folder (the directory it was started from), the current directory, the system directory, then
// the Windows directory. A driver beside SETUP.EXE on the install disk thus opens.
std::optional<std::filesystem::path> FindDriverFile(winemu::Machine& machine,
                                                    const std::string& name) {
    std::vector<std::string> candidates;
    if (HasDirectory(name)) {
        candidates.push_back(machine.FullPath(name));
    } else {
        candidates.push_back(JoinPath(machine.Config().currentDirectory, name));
        candidates.push_back(JoinPath(machine.CurrentDirectory(), name));
        candidates.push_back(JoinPath(machine.SystemDirectory(), name));
        candidates.push_back(JoinPath(machine.Config().windowsDirectory, name));
    }
    for (const std::string& candidate : candidates) {
        if (candidate.empty())
            continue;
        std::optional<std::filesystem::path> host = machine.HostPath(candidate);
        std::error_code error;
        if (host && std::filesystem::is_regular_file(*host, error))
            return host;
    }
    return std::nullopt;
}

std::string BaseName(const std::string& name) {
    size_t slash = name.find_last_of("\\/:");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string WithoutExtension(const std::string& fileName) {
    size_t dot = fileName.find_last_of('.');
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
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

// What the driver stores on installation: its parameters under its service key, written through
// the registry functions as the real driver writes them, so that the machine's faults reach them.
void WriteParameters(const DriverInstance& driver) {
    if (driver.parameters.empty())
        return;
    const std::string key =
        "SYSTEM\\CurrentControlSet\\Services\\" + driver.serviceName + "\\Parameters\\Device0";
    HKEY hkey = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &hkey, nullptr) != ERROR_SUCCESS)
        return;
    for (const auto& [name, value] : driver.parameters) {
        if (RegSetValueExA(hkey, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof(DWORD)) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(hkey);
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

// The driver's answer to a message, and what it does on it.
LRESULT Dispatch(winemu::Machine& machine, const DriverInstance& driver, UINT message,
                 LPARAM lParam1, LPARAM lParam2) {
    LRESULT answer;
    switch (message) {
    case DRV_LOAD:
        answer = driver.loadAnswer;
        break;
    case DRV_OPEN:
        answer = driver.openAnswer;
        break;
    case DRV_INSTALL:
        answer = driver.installAnswer;
        break;
    case DRV_QUERYCONFIGURE:
        answer = driver.queryConfigureAnswer;
        break;
    case DRV_CONFIGURE:
        answer = driver.configureAnswer;
        break;
    default:
        answer = DefDriverProc(0, nullptr, message, lParam1, lParam2);
        break;
    }
    // A driver that accepted its installation or configuration has stored its settings; one
    // that cancelled has not.
    if ((message == DRV_INSTALL || message == DRV_CONFIGURE) && answer != DRVCNF_CANCEL)
        WriteParameters(driver);
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
    if (machine.Fault().Check("OpenDriver", {name})) {
        machine.LastError() = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    const std::string fileName = DriverFileName(machine, name, szSectionName != nullptr);
    std::optional<std::filesystem::path> file = FindDriverFile(machine, fileName);
    if (!file) {
        machine.LastError() = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    std::ifstream in(*file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    auto driver = std::make_shared<DriverInstance>();
    driver->fileName = BaseName(fileName);
    driver->serviceName = WithoutExtension(driver->fileName);
    if (!in || !ParseDescription(text.str(), *driver)) {
        machine.LastError() = ERROR_BAD_FORMAT;
        return nullptr;
    }
    // Loaded and enabled once, then opened with the caller's parameter; a refusal of the load
    // or of the open leaves no driver open.
    if (Dispatch(machine, *driver, DRV_LOAD, 0, 0) == 0) {
        machine.LastError() = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    Dispatch(machine, *driver, DRV_ENABLE, 0, 0);
    if (Dispatch(machine, *driver, DRV_OPEN, 0, lParam2) == 0) {
        Dispatch(machine, *driver, DRV_DISABLE, 0, 0);
        Dispatch(machine, *driver, DRV_FREE, 0, 0);
        machine.LastError() = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    const std::string description = "driver " + driver->fileName;
    ULONG_PTR handle = machine.Objects().Open(winemu::HandleKind::Driver, description, driver);
    machine.Report()["driver_messages"][call]["opened"] = true;
    return reinterpret_cast<HDRVR>(handle);
}

LRESULT WINAPI SendDriverMessage(HDRVR hDriver, UINT message, LPARAM lParam1, LPARAM lParam2) {
    winemu::Machine& machine = winemu::Current();
    std::shared_ptr<DriverInstance> driver = FindOpen(machine, hDriver);
    if (!driver)
        return 0;
    if (machine.Fault().Check("SendDriverMessage", {driver->fileName, MessageName(message)})) {
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
    if (machine.Fault().Check("CloseDriver", {driver->fileName}))
        return 0;
    // Closed with the caller's parameters, then disabled and unloaded.
    Dispatch(machine, *driver, DRV_CLOSE, lParam1, lParam2);
    Dispatch(machine, *driver, DRV_DISABLE, 0, 0);
    Dispatch(machine, *driver, DRV_FREE, 0, 0);
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
