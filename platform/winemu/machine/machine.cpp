// The machine: booting an image folder, the active machine, running a process, saving the
// registry and writing the report.
#include "winemu/machine.h"

#include "winemu/machine/dbcs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <system_error>
#include <unistd.h>

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
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec))
        throw BootError(name, 0, "is a folder, not a file");
    // Read straight into one string of the file's size.
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in)
        throw BootError(name, 0, "cannot be read");
    std::string text(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!in || in.gcount() != static_cast<std::streamsize>(text.size()))
        throw BootError(name, 0, "cannot be read");
    return text;
}

// A decimal number up to max: "010" is ten; no sign, no base prefix.
uint64_t ParseDecimal(std::string_view value, uint64_t max, const std::string& file, int line) {
    if (value.empty())
        throw BootError(file, line, "a number is expected");
    uint64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            throw BootError(file, line, "'" + std::string(value) + "' is not a decimal number");
        n = n * 10 + static_cast<uint64_t>(c - '0');
        if (n > max)
            throw BootError(file, line, "'" + std::string(value) + "' is too large");
    }
    return n;
}

// registry.reg read a line at a time: a large registry is never held twice.
Registry ReadRegistryFile(const std::filesystem::path& file, UINT codePage) {
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec))
        throw BootError("registry.reg", 0, "is a folder, not a file");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw BootError("registry.reg", 0, "cannot be read");
    return Registry::FromRegStream(in, "registry.reg", codePage);
}

UINT ParseUnsigned(const std::string& value, const std::string& file, int line) {
    return static_cast<UINT>(ParseDecimal(value, 0xFFFFFFFFu, file, line));
}

// The calls that can be made to fail: those the machine and the toolkit check, and WM_QUIT.
constexpr std::string_view kFaultableApis[] = {
    "AdjustTokenPrivileges",
    "CloseDriver",
    "CopyFileA",
    "CreateDirectoryA",
    "CreateFileA",
    "DeleteFileA",
    "ExitWindowsEx",
    "FAddSectionFilesToCopyList",
    "FAddToBillboardList",
    "FCreateProgManGroup",
    "FCreateProgManItem",
    "FDoDialogExt",
    "FInitializeInstall",
    "FKillNDialogs",
    "FOpenInf",
    "FRestoreCursor",
    "FSetBitmap",
    "FSetSymbolValue",
    "FShowProgManGroup",
    "GetCurrentDirectoryA",
    "GetFileAttributesA",
    "GetModuleFileNameA",
    "GetPrivateProfileIntA",
    "GetPrivateProfileSectionA",
    "GetPrivateProfileStringA",
    "GetProcAddress",
    "GetSystemDirectoryA",
    "GetWindowsDirectoryA",
    "GrcCopyFilesInCopyList",
    "GrcUndoInstall",
    "InitializeFrame",
    "LoadLibraryA",
    "LookupPrivilegeValueA",
    "MessageBoxA",
    "midiInGetNumDevs",
    "midiOutGetNumDevs",
    "MoveFileExA",
    "OpenDriver",
    "OpenProcessToken",
    "RegCloseKey",
    "RegCreateKeyA",
    "RegCreateKeyExA",
    "RegDeleteKeyA",
    "RegDeleteValueA",
    "RegEnumKeyA",
    "RegEnumKeyExA",
    "RegOpenKeyA",
    "RegOpenKeyExA",
    "RegQueryInfoKeyA",
    "RegQueryValueA",
    "RegQueryValueExA",
    "RegSetValueA",
    "RegSetValueExA",
    "RemoveDirectoryA",
    "SendDriverMessage",
    "SetCurrentDirectoryA",
    "SetFileAttributesA",
    "SetupDiCallClassInstaller",
    "SetupDiCreateDeviceInfoA",
    "SetupDiCreateDeviceInfoList",
    "SetupDiDestroyDeviceInfoList",
    "SetupDiGetDeviceInstallParamsA",
    "SetupDiGetDeviceInstanceIdA",
    "SetupDiGetDeviceRegistryPropertyA",
    "SetupDiGetDriverInstallParamsA",
    "SetupDiGetINFClassA",
    "SetupDiGetSelectedDriverA",
    "SetupDiOpenDeviceInfoA",
    "SetupDiRegisterDeviceInfo",
    "SetupDiSelectOEMDrv",
    "SetupDiSetDeviceInstallParamsA",
    "SetupDiSetDriverInstallParamsA",
    "SetWindowTextA",
    "waveInGetNumDevs",
    "waveOutGetNumDevs",
    "WM_QUIT",
    "WriteFile",
};

// The lines of a text file: each ends at CR LF, LF or a lone CR.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

} // namespace

bool IsFaultableApi(std::string_view api) {
    return std::any_of(std::begin(kFaultableApis), std::end(kFaultableApis),
                       [api](std::string_view known) { return NameEquals(known, api); });
}

// machine.ini: [Machine], [Devices] and [Faults]; every key optional.
void ReadMachineIni(std::string_view text, MachineConfig& config, Faults& faults) {
    const std::string file = "machine.ini";
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::string section;
    int line = 0;
    for (std::string_view raw : SplitLines(text)) {
        ++line;
        std::string l(raw);
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
                !NameEquals(section, "DevicesFound") && !NameEquals(section, "Faults"))
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
        } else if (NameEquals(section, "Devices") || NameEquals(section, "DevicesFound")) {
            // The image's own devices, or those its last restart found.
            bool found = NameEquals(section, "DevicesFound");
            UINT n = ParseUnsigned(value, file, line);
            if (NameEquals(key, "WaveOut"))
                (found ? config.foundWaveOutDevs : config.waveOutDevs) = n;
            else if (NameEquals(key, "WaveIn"))
                (found ? config.foundWaveInDevs : config.waveInDevs) = n;
            else if (NameEquals(key, "MidiOut"))
                (found ? config.foundMidiOutDevs : config.midiOutDevs) = n;
            else if (NameEquals(key, "MidiIn"))
                (found ? config.foundMidiInDevs : config.midiInDevs) = n;
            else
                throw BootError(file, line, "unknown device " + key);
        } else {
            if (value.empty())
                throw BootError(file, line, "a fault needs a text, * or #N");
            if (!IsFaultableApi(key))
                throw BootError(file, line, "no call named " + key + " can be made to fail");
            if (value[0] == '#') {
                bool digits =
                    value.size() > 1 && std::all_of(value.begin() + 1, value.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; });
                uint64_t n = digits ? ParseDecimal(std::string_view(value).substr(1),
                                                   uint64_t{1} << 32, file, line)
                                    : 0;
                if (n < 1 || n > 0x7FFFFFFF)
                    throw BootError(file, line, "#N needs a call number from 1 to 2147483647");
            }
            faults.Add(key, value);
        }
    }
    // Only now is the code page known, which decides whether a last 0x5C is a separator.
    TrimTrailingSeparators(config.codePage, config.windowsDirectory);
    TrimTrailingSeparators(config.codePage, config.currentDirectory);
}

namespace {

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

// A file written under a temporary name beside its final place, flushed to the disk and renamed
// over, then the folder flushed: a reader or a power cut sees the old file or the new one. On any
// failure the temporary file is removed and the old file stays.
class AtomicFile {
  public:
    explicit AtomicFile(std::filesystem::path file) : file_(std::move(file)), temp_(file_) {
        temp_ += ".tmp";
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0)
            Fail("cannot create");
    }
    ~AtomicFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!done_) {
            std::error_code ec;
            std::filesystem::remove(temp_, ec);
        }
    }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void Write(std::string_view text) {
        while (!text.empty()) {
            ssize_t n = ::write(fd_, text.data(), text.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                Fail("cannot write");
            text.remove_prefix(static_cast<size_t>(n));
        }
    }

    // Leaves the old file as it is.
    void Discard() {
        ::close(fd_);
        fd_ = -1;
    }

    void Commit() {
        if (::fsync(fd_) != 0)
            Fail("cannot write");
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            Fail("cannot write");
        if (std::rename(temp_.c_str(), file_.c_str()) != 0)
            Fail("cannot rename over " + file_.string() + " from");
        done_ = true;
        // The rename itself reaches the disk only with its folder.
        std::filesystem::path folder = file_.parent_path();
        int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error(what + " " + temp_.string() + ": " + std::strerror(errno));
    }

    std::filesystem::path file_;
    std::filesystem::path temp_;
    int fd_ = -1;
    bool done_ = false;
};

} // namespace

BootError::BootError(std::string file, int line, const std::string& message)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                         message),
      file_(std::move(file)), line_(line) {}

namespace {

// ASCII letters only: Windows folds no other byte of an ANSI name.
inline unsigned char Upper(char c) {
    unsigned char b = static_cast<unsigned char>(c);
    return b >= 'a' && b <= 'z' ? static_cast<unsigned char>(b - 'a' + 'A') : b;
}

} // namespace

bool NameEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && Upper(a[i]) != Upper(b[i]))
            return false;
    }
    return true;
}

bool NameLess::operator()(std::string_view a, std::string_view b) const {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = Upper(a[i]);
        unsigned char cb = Upper(b[i]);
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
        ReadMachineIni(ReadWholeFile(ini, "machine.ini"), config, faults);
    auto machine = std::make_unique<Machine>(dir, config);
    machine->faults_ = std::move(faults);
    std::filesystem::path reg = dir / "registry.reg";
    if (std::filesystem::exists(reg, ec))
        machine->registry_ = ReadRegistryFile(reg, config.codePage);
    machine->registry_.SetCodePage(config.codePage);
    machine->savedRegistry_ = RegistryDigest(machine->registry_);
    // A run killed while saving left its temporary file; the registry.reg beside it is whole.
    std::filesystem::remove(dir / "registry.reg.tmp", ec);
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

bool Machine::SaveRegistry() const {
    // One pass writes the text and its digest; the same digest as before leaves the old file.
    AtomicFile file(dir_ / "registry.reg");
    TextDigest digest;
    registry_.WriteRegText([&](std::string_view piece) {
        digest.Add(piece);
        file.Write(piece);
    });
    if (savedRegistry_ == digest.Value()) {
        file.Discard();
        return false;
    }
    file.Commit();
    savedRegistry_ = digest.Value();
    return true;
}

void Machine::WriteReport(const std::filesystem::path& file) const {
    AtomicFile out(file);
    out.Write(report_.dump(2) + "\n");
    out.Commit();
}

void WriteFileAtomically(const std::filesystem::path& file, std::string_view text) {
    AtomicFile out(file);
    out.Write(text);
    out.Commit();
}

void TextDigest::Add(std::string_view text) {
    while (!text.empty()) {
        size_t n = std::min(text.size(), kBlock - block_.size());
        block_.append(text.substr(0, n));
        text.remove_prefix(n);
        if (block_.size() == kBlock)
            Fold();
    }
}

size_t TextDigest::Value() {
    Fold();
    return value_ ^ length_;
}

void TextDigest::Fold() {
    if (block_.empty())
        return;
    value_ = (value_ ^ std::hash<std::string_view>{}(block_)) * 0x100000001b3ull;
    length_ += block_.size();
    block_.clear();
}

size_t RegistryDigest(const Registry& registry) {
    TextDigest digest;
    registry.WriteRegText([&digest](std::string_view piece) { digest.Add(piece); });
    return digest.Value();
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

std::string ReportText(std::string_view ansi) {
    std::string utf8;
    utf8.reserve(ansi.size());
    for (char c : ansi) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

} // namespace winemu
