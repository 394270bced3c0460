// The toolkit's state, the call trace, and small helpers of its files; files are reached through
// the Win32 file functions only.
#include "toolkit/core.h"

#include <algorithm>

namespace toolkit {
namespace {

State g_state;
Ui* g_ui = nullptr;
int g_callDepth = 0;

} // namespace

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
