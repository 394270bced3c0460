// The emulated Windows NT machine: a machine image folder booted into memory, the process state
// that the Win32 stand-in acts on, fault injection, handle tracking and the run report.
// Used by the Win32 stand-in, the toolkit, the runner and the tests; never by the system itself.
#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>

#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <cstdint>
#include <vector>

namespace winemu {

// Thrown by ExitProcess: the end of the emulated process, caught by Machine::Run.
struct ProcessExit {
    UINT code;
};

// A machine image that cannot be booted, with the file and line at fault (line 0: the whole file).
class BootError : public std::runtime_error {
  public:
    BootError(std::string file, int line, const std::string& message);
    const std::string& file() const { return file_; }
    int line() const { return line_; }

  private:
    std::string file_;
    int line_;
};

// Windows compares names (keys, sections, files) without regard to ASCII case.
bool NameEquals(std::string_view a, std::string_view b);
struct NameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// ---------------------------------------------------------------------------------------------
// Registry

struct RegValue {
    std::string name; // "" is the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data; // exactly the bytes and count written
};

// The values of a key in the order first written. A key with more than a few values also keeps a
// hash index of their names, so that a key of tens of thousands of values loads in linear time.
class RegValues {
  public:
    using iterator = std::vector<RegValue>::iterator;
    using const_iterator = std::vector<RegValue>::const_iterator;

    RegValues() = default;
    RegValues(const RegValues& other) : items_(other.items_) { Rebuild(); }
    RegValues& operator=(const RegValues& other);
    RegValues(RegValues&&) = default;
    RegValues& operator=(RegValues&&) = default;

    iterator begin() { return items_.begin(); }
    iterator end() { return items_.end(); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    RegValue& operator[](size_t i) { return items_[i]; }
    const RegValue& operator[](size_t i) const { return items_[i]; }
    RegValue& back() { return items_.back(); }
    const RegValue& back() const { return items_.back(); }
    RegValue& front() { return items_.front(); }
    const RegValue& front() const { return items_.front(); }

    void push_back(RegValue value);
    template <class... Args> RegValue& emplace_back(Args&&... args) {
        push_back(RegValue{std::forward<Args>(args)...});
        return items_.back();
    }
    void resize(size_t count) {
        items_.resize(count);
        Rebuild();
    }
    // Renames through iterators are not seen until an erase or clear rebuilds the index.
    iterator erase(iterator first, iterator last);
    iterator erase(iterator at) { return erase(at, at + 1); }
    void clear();
    // Gives back the room that growing by one value at a time left over.
    void shrink_to_fit() { items_.shrink_to_fit(); }

    RegValue* Find(std::string_view name);
    const RegValue* Find(std::string_view name) const;

  private:
    void Rebuild();
    void Insert(uint32_t index);
    std::vector<RegValue> items_;
    std::vector<uint32_t> slots_; // open addressing: 0 is empty, else index + 1
};

struct RegKey {
    std::string name; // case preserved
    RegKey* parent = nullptr;
    RegValues values;                                                 // in the order first written
    std::map<std::string, std::shared_ptr<RegKey>, NameLess> subkeys; // enumeration order
    bool deleted = false;

    RegValue* FindValue(std::string_view valueName);
    const RegValue* FindValue(std::string_view valueName) const;
    RegKey* FindSubkey(std::string_view subkeyName) const;
    std::string Path() const; // "HKEY_LOCAL_MACHINE\\SOFTWARE\\..."
};

// Windows' limits on a registry: characters in a key name and in a value name, and levels of
// keys below a root.
constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;
constexpr size_t kMaxKeyDepth = 512;

class Registry {
  public:
    Registry();

    // HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_USERS; null for any other value.
    std::shared_ptr<RegKey> Root(HKEY predefined) const;

    // Paths start with a root name ("HKEY_LOCAL_MACHINE", "HKLM", "HKEY_CURRENT_USER", "HKCU",
    // "HKEY_USERS", "HKU");
    // a trailing backslash is accepted.
    RegKey* Find(std::string_view path) const;
    RegKey& Create(std::string_view path);
    bool Delete(std::string_view path); // the key and everything below it

    const RegValue* Value(std::string_view keyPath, std::string_view valueName) const;
    void Set(std::string_view keyPath, std::string_view valueName, DWORD type,
             std::vector<BYTE> data);
    void SetString(std::string_view keyPath, std::string_view valueName, std::string_view text);
    void SetDword(std::string_view keyPath, std::string_view valueName, DWORD value);
    // A REG_SZ read as text up to its first zero; nullopt when missing or of another type.
    std::optional<std::string> GetString(std::string_view keyPath,
                                         std::string_view valueName) const;
    // A REG_DWORD of exactly four bytes; nullopt otherwise.
    std::optional<DWORD> GetDword(std::string_view keyPath, std::string_view valueName) const;

    // REGEDIT4 text of both roots, read and written back with no loss. Key paths split at
    // backslashes that are characters of their own in the code page (932: not a trail byte).
    std::string ToRegText() const;
    // The same text handed out in pieces of some kilobytes, so that a large registry is saved
    // without a second copy of it in memory.
    void WriteRegText(const std::function<void(std::string_view)>& sink) const;
    static Registry FromRegText(std::string_view text, const std::string& fileName,
                                UINT codePage = 1252);
    // The same read from a file a line at a time.
    static Registry FromRegStream(std::istream& in, const std::string& fileName,
                                  UINT codePage = 1252);

    UINT CodePage() const { return codePage_; }
    void SetCodePage(UINT codePage) { codePage_ = codePage; }

  private:
    std::shared_ptr<RegKey> hklm_;
    std::shared_ptr<RegKey> hkcu_;
    std::shared_ptr<RegKey> hku_; // other users' hives, e.g. .DEFAULT; written only when used
    UINT codePage_ = 1252;
};

// ---------------------------------------------------------------------------------------------
// Handles: every object the process opens, so that those left open can be reported at its end.

enum class HandleKind { RegistryKey, Driver, DeviceInfoList, Module, Token, File };

class Handles {
  public:
    // A new handle value (never 0, never reused, never a predefined registry key).
    ULONG_PTR Open(HandleKind kind, std::string description, std::shared_ptr<void> object);
    // The object behind an open handle of this kind; null when the handle is not such a one.
    std::shared_ptr<void> Get(ULONG_PTR handle, HandleKind kind) const;
    template <class T> std::shared_ptr<T> GetAs(ULONG_PTR handle, HandleKind kind) const {
        return std::static_pointer_cast<T>(Get(handle, kind));
    }
    // False when the handle is not open as this kind.
    bool Close(ULONG_PTR handle, HandleKind kind);
    // Registry keys, drivers, device lists and files still open: "registry key HKEY_...\\...".
    std::vector<std::string> Leaks() const;
    size_t CountOpen(HandleKind kind) const;

  private:
    struct Entry {
        HandleKind kind;
        std::string description;
        std::shared_ptr<void> object;
    };
    std::map<ULONG_PTR, Entry> open_;
    ULONG_PTR next_ = 0x1000;
};

// ---------------------------------------------------------------------------------------------
// Faults: the [Faults] section of machine.ini, or the same through Add.
//   API=text : every call fails whose string arguments contain text (case-insensitive); an
//              all-digit text matches an all-digit argument (a dialog id) only exactly
//   API=*    : every call fails
//   API=#N   : only the Nth call of API fails (1-based)

// Whether machine.ini's [Faults] may name this call: one the machine or the toolkit checks.
bool IsFaultableApi(std::string_view api);

class Faults {
  public:
    void Add(std::string api, std::string rule);
    void Clear();
    // Counts this call of api and says whether it must fail. Call exactly once per API call.
    bool Check(std::string_view api, std::initializer_list<std::string_view> args = {});
    // How many times api was called (checked) so far.
    int Calls(std::string_view api) const;
    // Every API checked so far with its count of calls (for the report).
    const std::map<std::string, int, NameLess>& AllCalls() const { return calls_; }
    bool Empty() const { return faults_.empty(); }

  private:
    struct Fault {
        std::string api;
        std::string text; // substring, or "*"
        int nth = 0;      // > 0: only that call
    };
    std::vector<Fault> faults_;
    std::map<std::string, int, NameLess> calls_;
};

// ---------------------------------------------------------------------------------------------
// The machine.

// A question that a dialog of Windows itself puts to the user, such as the device installer's
// "Install From Disk": its id in the report and in an answers file, what it says, and the text
// its OK button gives when the user changes nothing.
struct SystemPrompt {
    UINT id;
    std::string title;
    std::string text;
    std::string suggestion;
};

// The device installer's "Install From Disk" prompt: the folder that holds the driver's INF.
constexpr UINT kInstallFromDiskPrompt = 9000;

// Who answers those prompts: the text given, or nullopt when the user cancels.
using PromptAnswerer = std::function<std::optional<std::string>(const SystemPrompt&)>;

struct MachineConfig {
    DWORD majorVersion = 4;
    DWORD minorVersion = 0;
    DWORD buildNumber = 1381;
    std::string windowsDirectory = "C:\\WINNT";
    std::string currentDirectory = "A:\\";
    UINT codePage = 1252; // 1252 or 932
    UINT waveOutDevs = 0;
    UINT waveInDevs = 0;
    UINT midiOutDevs = 0;
    UINT midiInDevs = 0;
    // What the last restart found in Drivers32 ([DevicesFound]), on top of the image's own.
    UINT foundWaveOutDevs = 0;
    UINT foundWaveInDevs = 0;
    UINT foundMidiOutDevs = 0;
    UINT foundMidiInDevs = 0;
};

class Machine {
  public:
    // A machine on the image folder dir, with an empty registry and the given configuration.
    explicit Machine(std::filesystem::path dir, MachineConfig config = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Boots the image in dir: machine.ini (optional), registry.reg (optional), drives/.
    // Throws BootError naming the file and line at fault; the image is not touched.
    static std::unique_ptr<Machine> Boot(const std::filesystem::path& dir);

    const std::filesystem::path& Dir() const { return dir_; }
    MachineConfig& Config() { return config_; }
    // The registry splits key paths as the machine's code page says.
    Registry& Reg() {
        registry_.SetCodePage(config_.codePage);
        return registry_;
    }
    Faults& Fault() { return faults_; }
    Handles& Objects() { return handles_; }
    nlohmann::json& Report() { return report_; }
    std::deque<MSG>& Messages() { return messages_; }

    // Process state.
    std::string& CurrentDirectory() { return currentDirectory_; } // absolute, "C:\\X" or "C:\\"
    DWORD& LastError() { return lastError_; }
    UINT& ErrorMode() { return errorMode_; }
    bool& RestartRequested() { return restartRequested_; }
    bool& ShutdownPrivilegeEnabled() { return shutdownPrivilegeEnabled_; }

    // The system directory: the Windows directory + "\\system32".
    std::string SystemDirectory() const;

    // The absolute Windows path of a path relative to the current directory ("x.ini",
    // "\\x.ini", "C:x.ini", "C:\\a\\..\\b"); "" when it names no drive.
    std::string FullPath(std::string_view winPath) const;
    // Where a Windows path lies in the image: drives/<LETTER>/..., each existing component
    // matched without regard to case, the rest as given. nullopt when it is on no drive.
    std::optional<std::filesystem::path> HostPath(std::string_view winPath) const;

    // Where message boxes and the terminal UI print (a null stream unless set), and where the
    // terminal UI reads answers (none unless set: every dialog then takes its end-of-input answer).
    std::ostream& Console();
    void SetConsole(std::ostream* out) { console_ = out; }
    std::istream* Input() { return input_; }
    void SetInput(std::istream* in) { input_ = in; }

    // Told of each message box before it is drawn (the toolkit's log); true when it answered the
    // box unseen, so that nothing is drawn.
    using BoxWatch = std::function<bool(std::string_view text, std::string_view caption, UINT)>;
    BoxWatch& MessageBoxWatch() { return boxWatch_; }
    // Answers the prompts of Windows' own dialogs; without one (nobody at the screen) the
    // suggestion is taken as it stands.
    PromptAnswerer& Answerer() { return answerer_; }

    // The answers file given to the runner (host path), for the toolkit's unattended mode.
    std::optional<std::filesystem::path>& AnswersFile() { return answersFile_; }

    // Runs fn as the process: ExitProcess ends it; returning from fn ends it with 0. Records the
    // exit code and the handles left open in the report, and returns the exit code.
    UINT Run(const std::function<void()>& fn);

    // Writes registry.reg back when the run changed it: a temporary file beside it, flushed to
    // the disk, then renamed over, so that a power cut leaves the old file or the new one.
    // Returns false when there was nothing to write; throws std::runtime_error when it fails,
    // leaving the old file and no temporary one.
    bool SaveRegistry() const;
    void WriteReport(const std::filesystem::path& file) const;

  private:
    std::filesystem::path dir_;
    MachineConfig config_;
    Registry registry_;
    Faults faults_;
    Handles handles_;
    nlohmann::json report_;
    std::deque<MSG> messages_;
    std::string currentDirectory_;
    DWORD lastError_ = 0;
    UINT errorMode_ = 0;
    bool restartRequested_ = false;
    bool shutdownPrivilegeEnabled_ = false;
    std::ostream* console_ = nullptr;
    std::istream* input_ = nullptr;
    std::optional<std::filesystem::path> answersFile_;
    BoxWatch boxWatch_;
    PromptAnswerer answerer_;
    // Digest of the registry as registry.reg holds it (booted or last saved), in written form.
    mutable std::optional<size_t> savedRegistry_;
};

// machine.ini's text applied to a configuration and faults; throws BootError with the line.
void ReadMachineIni(std::string_view text, MachineConfig& config, Faults& faults);

// Writes a file of the image whole: beside it, flushed, then renamed over, so that a power cut
// leaves the old file or the new one. Throws std::runtime_error, leaving the old file.
void WriteFileAtomically(const std::filesystem::path& file, std::string_view text);

// A digest of a text given in pieces of any size: the same text gives the same digest however
// it is cut.
class TextDigest {
  public:
    void Add(std::string_view text);
    size_t Value();

  private:
    static constexpr size_t kBlock = 64 * 1024;
    void Fold();
    std::string block_;
    size_t value_ = 0;
    size_t length_ = 0;
};

// A digest of the registry's written form, to tell whether a run changed it.
size_t RegistryDigest(const Registry& registry);

// The machine that the Win32 functions act on. Current() aborts when none is active.
Machine& Current();
bool HasCurrent();
void Activate(Machine* machine);

// Activates a machine for the length of a scope (tests).
class ScopedMachine {
  public:
    explicit ScopedMachine(Machine& machine) { Activate(&machine); }
    ~ScopedMachine() { Activate(nullptr); }
    ScopedMachine(const ScopedMachine&) = delete;
    ScopedMachine& operator=(const ScopedMachine&) = delete;
};

// The toolkit tells the machine which dialog it shows, so that a WM_QUIT fault can fire.
void OnDialogShown(UINT dialogId);

// ANSI text as the report's JSON (UTF-8) holds it: bytes from 0x80 up stand for the code points
// of the same value, so any text, however odd, can be recorded.
std::string ReportText(std::string_view ansi);

} // namespace winemu
