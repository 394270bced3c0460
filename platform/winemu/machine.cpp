// The machine: booting an image folder, the active machine, running a process, saving the
// registry and writing the report.
#include "winemu/machine.h"

#include "winemu/dbcs.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>

namespace winemu {

namespace {

Machine* g_current = nullptr;

// Swallows whatever is written: the console of a machine nobody watches.
class NullBuffer : public std::streambuf {
  protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
};

std::string Trim(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return std::string(s.substr(b, e - b));
}

std::string ReadWholeFile(const std::filesystem::path& file, const std::string& name) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw BootError(name, 0, "cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw BootError(name, 0, "cannot be read");
    return text.str();
}

UINT ParseUnsigned(const std::string& value, const std::string& file, int line) {
    if (value.empty())
        throw BootError(file, line, "a number is expected");
    char* end = nullptr;
    unsigned long n = std::strtoul(value.c_str(), &end, 0);
    if (*end != '\0' || n > 0xFFFFFFFFul)
        throw BootError(file, line, "'" + value + "' is not a number");
    return static_cast<UINT>(n);
}

// machine.ini: [Machine], [Devices] and [Faults]; every key optional.
void ApplyMachineIni(const std::string& text, MachineConfig& config, Faults& faults) {
    const std::string file = "machine.ini";
    std::istringstream in(text);
    std::string raw;
    std::string section;
    int line = 0;
    while (std::getline(in, raw)) {
        ++line;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        std::string l = raw;
        size_t comment = l.find(';');
        if (comment != std::string::npos)
            l.erase(comment);
        l = Trim(l);
        if (l.empty())
            continue;
        if (l.front() == '[') {
            if (l.back() != ']')
                throw BootError(file, line, "a section name must end with ']'");
            section = Trim(l.substr(1, l.size() - 2));
            if (!NameEquals(section, "Machine") && !NameEquals(section, "Devices") &&
                !NameEquals(section, "Faults"))
                throw BootError(file, line, "unknown section [" + section + "]");
            continue;
        }
        size_t eq = l.find('=');
        if (eq == std::string::npos || section.empty())
            throw BootError(file, line, "a line must be key=value inside a section");
        std::string key = Trim(l.substr(0, eq));
        std::string value = Trim(l.substr(eq + 1));
        if (NameEquals(section, "Machine")) {
            if (NameEquals(key, "Version")) {
                size_t dot = value.find('.');
                if (dot == std::string::npos)
                    throw BootError(file, line, "Version must be major.minor");
                config.majorVersion = ParseUnsigned(value.substr(0, dot), file, line);
                config.minorVersion = ParseUnsigned(value.substr(dot + 1), file, line);
                if (config.majorVersion == 3 && config.minorVersion == 51)
                    config.buildNumber = 1057;
                else if (config.majorVersion == 4)
                    config.buildNumber = 1381;
                else
                    config.buildNumber = 0;
            } else if (NameEquals(key, "WindowsDirectory")) {
                if (value.size() < 3 || value[1] != ':' || value[2] != '\\')
                    throw BootError(file, line, "WindowsDirectory must be a full path");
                config.windowsDirectory = value;
            } else if (NameEquals(key, "CurrentDirectory")) {
                if (value.size() < 3 || value[1] != ':' || value[2] != '\\')
                    throw BootError(file, line, "CurrentDirectory must be a full path");
                config.currentDirectory = value;
            } else if (NameEquals(key, "CodePage")) {
                config.codePage = ParseUnsigned(value, file, line);
                if (config.codePage != 1252 && config.codePage != 932)
                    throw BootError(file, line, "CodePage must be 1252 or 932");
            } else {
                throw BootError(file, line, "unknown key " + key);
            }
        } else if (NameEquals(section, "Devices")) {
            UINT n = ParseUnsigned(value, file, line);
            if (NameEquals(key, "WaveOut"))
                config.waveOutDevs = n;
            else if (NameEquals(key, "WaveIn"))
                config.waveInDevs = n;
            else if (NameEquals(key, "MidiOut"))
                config.midiOutDevs = n;
            else if (NameEquals(key, "MidiIn"))
                config.midiInDevs = n;
            else
                throw BootError(file, line, "unknown device " + key);
        } else {
            if (value.empty())
                throw BootError(file, line, "a fault needs a text, * or #N");
            if (value[0] == '#') {
                char* end = nullptr;
                long n = std::strtol(value.c_str() + 1, &end, 10);
                if (*end != '\0' || n <= 0)
                    throw BootError(file, line, "#N needs a call number from 1");
            }
            faults.Add(key, value);
        }
    }
    // Only now is the code page known, which decides whether a last 0x5C is a separator.
    TrimTrailingSeparators(config.codePage, config.windowsDirectory);
    TrimTrailingSeparators(config.codePage, config.currentDirectory);
}

nlohmann::json EmptyReport() {
    return nlohmann::json{{"exit_code", nullptr},
                          {"dialogs", nlohmann::json::array()},
                          {"message_boxes", nlohmann::json::array()},
                          {"restart_requested", false},
                          {"files_copied", nlohmann::json::array()},
                          {"open_handles", nlohmann::json::array()},
                          {"driver_messages", nlohmann::json::array()},
                          {"program_groups", nlohmann::json::array()}};
}

// Writes a file beside its final place, then renames it over, so a reader never sees half.
void WriteAtomically(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::path temp = file;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out)
            throw std::runtime_error("cannot write " + temp.string());
    }
    std::filesystem::rename(temp, file);
}

} // namespace

BootError::BootError(std::string file, int line, const std::string& message)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                         message),
      file_(std::move(file)), line_(line) {}

bool NameEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool NameLess::operator()(std::string_view a, std::string_view b) const {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int ca = std::toupper(static_cast<unsigned char>(a[i]));
        int cb = std::toupper(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb;
    }
    return a.size() < b.size();
}

Machine::Machine(std::filesystem::path dir, MachineConfig config)
    : dir_(std::move(dir)), config_(std::move(config)), report_(EmptyReport()),
      currentDirectory_(config_.currentDirectory) {}

Machine::~Machine() {
    if (g_current == this)
        g_current = nullptr;
}

std::unique_ptr<Machine> Machine::Boot(const std::filesystem::path& dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        throw BootError(dir.string(), 0, "is not a machine image folder");
    MachineConfig config;
    Faults faults;
    std::filesystem::path ini = dir / "machine.ini";
    if (std::filesystem::exists(ini, ec))
        ApplyMachineIni(ReadWholeFile(ini, "machine.ini"), config, faults);
    auto machine = std::make_unique<Machine>(dir, config);
    machine->faults_ = std::move(faults);
    std::filesystem::path reg = dir / "registry.reg";
    if (std::filesystem::exists(reg, ec))
        machine->registry_ =
            Registry::FromRegText(ReadWholeFile(reg, "registry.reg"), "registry.reg");
    return machine;
}

std::ostream& Machine::Console() {
    static NullBuffer nullBuffer;
    static std::ostream nullStream(&nullBuffer);
    return console_ ? *console_ : nullStream;
}

UINT Machine::Run(const std::function<void()>& fn) {
    Machine* previous = g_current;
    g_current = this;
    UINT code = 0;
    try {
        fn();
    } catch (const ProcessExit& exit) {
        code = exit.code;
    }
    report_["exit_code"] = code;
    report_["restart_requested"] = restartRequested_;
    report_["open_handles"] = handles_.Leaks();
    report_["api_calls"] = nlohmann::json::object();
    for (const auto& [api, count] : faults_.AllCalls())
        report_["api_calls"][api] = count;
    g_current = previous;
    return code;
}

void Machine::SaveRegistry() const {
    WriteAtomically(dir_ / "registry.reg", registry_.ToRegText());
}

void Machine::WriteReport(const std::filesystem::path& file) const {
    WriteAtomically(file, report_.dump(2) + "\n");
}

Machine& Current() {
    if (!g_current) {
        std::fputs("winemu: a Win32 function was called with no machine booted\n", stderr);
        std::abort();
    }
    return *g_current;
}

bool HasCurrent() {
    return g_current != nullptr;
}

void Activate(Machine* machine) {
    g_current = machine;
}

void OnDialogShown(UINT dialogId) {
    Machine& m = Current();
    std::string id = std::to_string(dialogId);
    if (m.Fault().Check("WM_QUIT", {id})) {
        MSG msg{};
        msg.message = WM_QUIT;
        m.Messages().push_back(msg);
    }
}

} // namespace winemu
