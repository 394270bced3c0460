// The toolkit's state, the INI reader it shares between setup.inf and answers files, the call
// trace, and small helpers of its files; files are reached through the Win32 file functions only.
#include "toolkit/core.h"

#include <algorithm>

namespace toolkit {
namespace {

State g_state;
Ui* g_ui = nullptr;
int g_callDepth = 0;

constexpr DWORD kMaxInfBytes = 1024 * 1024; // far above any setup.inf or answers file
constexpr std::string_view kLineBlanks = " \t\r\n";

char Fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

bool NameEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Fold(x) == Fold(y); });
}

bool NameLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(Fold(x)) < static_cast<unsigned char>(Fold(y));
    });
}

State& Core() {
    return g_state;
}

void ResetCore() {
    g_state = State{};
}

Ui& CurrentUi() {
    return g_ui ? *g_ui : DefaultUi();
}

void SetUi(Ui* ui) {
    g_ui = ui;
}

// The recorder's defaults: nothing fails, nothing is recorded.
bool Recorder::Fails(std::string_view, std::initializer_list<std::string_view>) {
    return false;
}
void Recorder::Note(std::string_view) {}
std::optional<Recorder::Answers> Recorder::OutsideAnswers() {
    return std::nullopt;
}
void Recorder::RunBegun() {}
void Recorder::Started() {}
void Recorder::Called(std::string_view, const std::vector<CallArg>&) {}
void Recorder::DialogShowing(UINT) {}
void Recorder::DialogDone(UINT, std::string_view, std::string_view) {}
void Recorder::MessageBoxShown(std::string_view, std::string_view, UINT) {}
void Recorder::FileCopied(std::string_view) {}
void Recorder::GroupsChanged(const std::vector<ProgramGroup>&) {}

CallArg Text(LPCSTR sz) {
    if (!sz) {
        return std::monostate{};
    }
    return std::string(sz);
}

CallArg WindowArg(HWND hwnd) {
    if (hwnd && hwnd == g_state.hwndFrame) {
        return Handle{"frame"};
    }
    return static_cast<long long>(reinterpret_cast<ULONG_PTR>(hwnd));
}

CallArg InstanceArg(HINSTANCE hinst) {
    if (hinst && g_state.hwndFrame && hinst == CurrentUi().FrameInstance()) {
        return Handle{"instance"};
    }
    return static_cast<long long>(reinterpret_cast<ULONG_PTR>(hinst));
}

CallArg CursorArg(HCURSOR hcur) {
    const std::vector<HCURSOR>& given = g_state.cursors;
    if (hcur && std::find(given.begin(), given.end(), hcur) != given.end()) {
        return Handle{"cursor"};
    }
    return static_cast<long long>(reinterpret_cast<ULONG_PTR>(hcur));
}

CallScope::CallScope(std::string_view call, std::initializer_list<CallArg> args) {
    if (g_callDepth++ == 0) {
        CurrentRecorder().Called(call, std::vector<CallArg>(args));
    }
}

CallScope::~CallScope() {
    --g_callDepth;
}

CallArg BufferArg(const void* buffer) {
    if (!buffer) {
        return std::monostate{};
    }
    return Handle{"buffer"};
}

std::string_view TakeLine(std::string_view& text) {
    size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end != std::string_view::npos && text[end] == '\r' && next < text.size() &&
        text[next] == '\n') {
        ++next;
    }
    text.remove_prefix(next);
    return line;
}

IniSections ParseIni(std::string_view text) {
    IniSections sections;
    std::vector<std::string>* current = nullptr; // lines go nowhere before the first section
    bool skipping = false;                       // a repeated section: the first one wins
    while (!text.empty()) {
        std::string_view line = TakeLine(text);
        size_t comment = line.find(';');
        if (comment != std::string_view::npos) {
            line = line.substr(0, comment);
        }
        line = TrimBlanks(line, kLineBlanks);
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[') {
            size_t close = line.find(']');
            std::string name(
                TrimBlanks(line.substr(1, close == std::string_view::npos ? std::string_view::npos
                                                                          : close - 1),
                           kLineBlanks));
            auto [it, added] = sections.try_emplace(name);
            current = &it->second;
            skipping = !added;
            continue;
        }
        if (current && !skipping) {
            current->emplace_back(line);
        }
    }
    return sections;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* why) {
    std::string reason;
    std::optional<std::string> text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = "it cannot be opened (error " + std::to_string(GetLastError()) + ")";
    } else {
        DWORD high = 0;
        SetLastError(NO_ERROR); // a size of 0xFFFFFFFF is told from a failure by the error
        DWORD size = GetFileSize(file, &high);
        if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
            reason = "its size cannot be read (error " + std::to_string(GetLastError()) + ")";
        } else if (high != 0 || size > kMaxInfBytes) {
            reason = "it is larger than " + std::to_string(kMaxInfBytes) +
                     " bytes, the most Setup reads";
        } else {
            std::string data(size, '\0');
            DWORD read = 0;
            if (size == 0 || (ReadFile(file, data.data(), size, &read, nullptr) && read == size)) {
                text = std::move(data);
            } else {
                reason = "it cannot be read (error " + std::to_string(GetLastError()) + ")";
            }
        }
        CloseHandle(file);
    }
    if (why) {
        *why = reason;
    }
    return text;
}

std::optional<IniSections> ReadIniFile(const std::string& path, std::string* why) {
    std::optional<std::string> text = ReadWholeFile(path, why);
    if (!text) {
        return std::nullopt;
    }
    return ParseIni(*text);
}

std::string_view TrimBlanks(std::string_view text, std::string_view blanks) {
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string WithBackslash(std::string dir) {
    if (dir.empty()) {
        return dir;
    }
    // Step by characters: under a double-byte code page a trail byte may equal '\\'.
    const char* last = CharPrevA(dir.c_str(), dir.c_str() + dir.size());
    bool endsInBackslash = (last + 1 == dir.c_str() + dir.size()) && *last == '\\';
    if (!endsInBackslash && dir.back() != '/') {
        dir += '\\';
    }
    return dir;
}

// Windows opens a device for these names in any folder, whatever extension follows them.
static bool IsDeviceName(std::string_view name) {
    std::string_view base = TrimBlanks(name.substr(0, name.find('.')), " ");
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
        if (NameEquals(base, device)) {
            return true;
        }
    }
    return base.size() == 4 &&
           (NameEquals(base.substr(0, 3), "COM") || NameEquals(base.substr(0, 3), "LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

bool IsPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name.find("..") != std::string_view::npos ||
        IsDeviceName(name)) {
        return false;
    }
    std::string text(name);
    for (const char* p = text.c_str(); *p; p = CharNextA(p)) {
        const char* next = CharNextA(p);
        if (next - p > 1) {
            continue; // a double-byte character is never a separator
        }
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 ||
            std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

std::string FullPath(std::string_view path) {
    std::string text(path);
    char buffer[MAX_PATH];
    DWORD count = GetFullPathNameA(text.c_str(), sizeof buffer, buffer, nullptr);
    if (count == 0) {
        return {};
    }
    if (count < sizeof buffer) {
        return std::string(buffer, count);
    }
    std::string longer(count, '\0'); // count includes the terminator here
    DWORD again = GetFullPathNameA(text.c_str(), count, longer.data(), nullptr);
    if (again == 0 || again >= count) {
        return {};
    }
    longer.resize(again);
    return longer;
}

INT EnsureDirectory(const std::string& fullDir) {
    // Walk the path by characters so a double-byte trail byte is never taken for a separator;
    // the drive root ("C:\\") is never created.
    std::vector<size_t> ends;
    const char* start = fullDir.c_str();
    for (const char* p = start; *p; p = CharNextA(p)) {
        if (*p == '\\' && p - start > 2) {
            ends.push_back(static_cast<size_t>(p - start));
        }
    }
    ends.push_back(fullDir.size());
    for (size_t end : ends) {
        std::string folder = fullDir.substr(0, end);
        DWORD attributes = GetFileAttributesA(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryA(folder.c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                DWORD error = GetLastError();
                return error ? static_cast<INT>(error) : ERROR_PATH_NOT_FOUND;
            }
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return ERROR_PATH_NOT_FOUND; // a file stands where the folder belongs
        }
    }
    return 0;
}

bool WriteWholeFile(const std::string& path, const std::vector<BYTE>& data) {
    std::string temporary = path + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = data.empty() ||
              (WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
               written == data.size());
    CloseHandle(file);
    if (ok) {
        ok = MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    if (!ok) {
        DeleteFileA(temporary.c_str());
    }
    return ok;
}

} // namespace toolkit
