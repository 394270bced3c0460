// Installable drivers (WINMM): OpenDriver, SendDriverMessage, CloseDriver and DefDriverProc.
// In the host build a driver file is a driver description: INI text whose [Driver] section holds
// the answers to the installation messages and whose [Parameters] section holds the numbers the
// driver stores under its service key when it is installed or configured.
#include "winemu/machine.h"

#include <mmsystem.h>

#include <cctype>
#include <cstdlib>
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

// A number as the profile functions read one: leading decimal digits (or 0x and hex digits),
// an optional sign; anything else reads as 0.
long long ParseNumber(const std::string& text) {
    const char* p = text.c_str();
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    long long value = 0;
    for (; *p != '\0'; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(*p)))
            digit = std::tolower(static_cast<unsigned char>(*p)) - 'a' + 10;
        else
            break;
        value = value * base + digit;
        if (value > 0xFFFFFFFFLL)
            value = 0xFFFFFFFFLL;
    }
    return negative ? -value : value;
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
            LRESULT answer = static_cast<LRESULT>(static_cast<LONG>(ParseNumber(value)));
            if (winemu::NameEquals(key, "Install"))
                driver.installAnswer = answer;
            else if (winemu::NameEquals(key, "QueryConfigure"))
                driver.queryConfigureAnswer = answer;
            else if (winemu::NameEquals(key, "Configure"))
                driver.configureAnswer = answer;
        } else if (winemu::NameEquals(section, "Parameters")) {
            DWORD number = static_cast<DWORD>(ParseNumber(value));
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

// The driver file, found as Windows finds a DLL named without a directory when setup loads it:
// the current directory, the system directory, then the Windows directory.
std::optional<std::filesystem::path> FindDriverFile(winemu::Machine& machine,
                                                    const std::string& name) {
    std::vector<std::string> candidates;
    if (HasDirectory(name)) {
        candidates.push_back(machine.FullPath(name));
    } else {
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

// What the driver stores on installation: its parameters under its service key.
void WriteParameters(winemu::Machine& machine, const DriverInstance& driver) {
    if (driver.parameters.empty())
        return;
    const std::string key = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" +
                            driver.serviceName + "\\Parameters\\Device0";
    machine.Reg().Create(key);
    for (const auto& [name, value] : driver.parameters)
        machine.Reg().SetDword(key, name, value);
}

void Record(winemu::Machine& machine, const DriverInstance& driver, UINT message, LRESULT answer,
            LPARAM lParam1, LPARAM lParam2, bool failed) {
    nlohmann::json entry = {{"driver", driver.fileName},
                            {"message", MessageName(message)},
                            {"answer", static_cast<long long>(answer)}};
    if (message == DRV_INSTALL || message == DRV_CONFIGURE) {
        entry["lparam1"] = static_cast<long long>(lParam1);
        // The configuration record, as the driver would see it.
        if (lParam2 != 0) {
            const auto* info = reinterpret_cast<const DRVCONFIGINFO*>(lParam2);
            entry["config"] = {{"size", info->dwDCISize},
                               {"section_null", info->lpszDCISectionName == nullptr},
                               {"alias_null", info->lpszDCIAliasName == nullptr}};
        } else {
            entry["config"] = nullptr;
        }
    }
    if (failed)
        entry["failed"] = true;
    machine.Report()["driver_messages"].push_back(std::move(entry));
}

std::shared_ptr<DriverInstance> FindOpen(winemu::Machine& machine, HDRVR hDriver) {
    return machine.Objects().GetAs<DriverInstance>(reinterpret_cast<ULONG_PTR>(hDriver),
                                                   winemu::HandleKind::Driver);
}

} // namespace

extern "C" {

HDRVR WINAPI OpenDriver(LPCWSTR szDriverName, LPCWSTR szSectionName, LPARAM lParam2) {
    (void)szSectionName;
    (void)lParam2;
    winemu::Machine& machine = winemu::Current();
    if (szDriverName == nullptr) {
        machine.LastError() = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const std::string name = ToAnsi(szDriverName);
    if (machine.Fault().Check("OpenDriver", {name})) {
        machine.LastError() = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    std::optional<std::filesystem::path> file = FindDriverFile(machine, name);
    if (!file) {
        machine.LastError() = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    std::ifstream in(*file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    auto driver = std::make_shared<DriverInstance>();
    driver->fileName = BaseName(name);
    driver->serviceName = WithoutExtension(driver->fileName);
    if (!in || !ParseDescription(text.str(), *driver)) {
        machine.LastError() = ERROR_BAD_FORMAT;
        return nullptr;
    }
    const std::string description = "driver " + driver->fileName;
    ULONG_PTR handle = machine.Objects().Open(winemu::HandleKind::Driver, description, driver);
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
    LRESULT answer;
    switch (message) {
    case DRV_INSTALL:
        answer = driver->installAnswer;
        break;
    case DRV_QUERYCONFIGURE:
        answer = driver->queryConfigureAnswer;
        break;
    case DRV_CONFIGURE:
        answer = driver->configureAnswer;
        break;
    default:
        answer = DefDriverProc(0, hDriver, message, lParam1, lParam2);
        break;
    }
    // A driver that accepted its installation or configuration has stored its settings; one
    // that cancelled has not.
    if ((message == DRV_INSTALL || message == DRV_CONFIGURE) && answer != DRVCNF_CANCEL)
        WriteParameters(machine, *driver);
    Record(machine, *driver, message, answer, lParam1, lParam2, false);
    return answer;
}

LRESULT WINAPI CloseDriver(HDRVR hDriver, LPARAM lParam1, LPARAM lParam2) {
    (void)lParam1;
    (void)lParam2;
    winemu::Machine& machine = winemu::Current();
    std::shared_ptr<DriverInstance> driver = FindOpen(machine, hDriver);
    if (!driver)
        return 0;
    if (machine.Fault().Check("CloseDriver", {driver->fileName}))
        return 0;
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
