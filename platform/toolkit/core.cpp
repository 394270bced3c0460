// The toolkit's state, the INI reader it shares between setup.inf and answers files, and small
// helpers of its files.
#include "toolkit/core.h"

#include <fstream>

namespace toolkit {
namespace {

State g_state;
Ui* g_ui = nullptr;

std::string_view Trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

} // namespace

State& Core() {
    return g_state;
}

void ResetCore() {
    g_state = State{};
}

Ui& CurrentUi() {
    return g_ui ? *g_ui : TerminalUi();
}

void SetUi(Ui* ui) {
    g_ui = ui;
}

std::optional<IniSections> ReadIniFile(const std::filesystem::path& hostFile) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(hostFile, ec)) {
        return std::nullopt;
    }
    std::ifstream in(hostFile, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    IniSections sections;
    std::vector<std::string>* current = nullptr; // lines go nowhere before the first section
    bool skipping = false;                       // a repeated section: the first one wins
    std::string line;
    while (std::getline(in, line)) {
        std::string_view text = line;
        size_t comment = text.find(';');
        if (comment != std::string_view::npos) {
            text = text.substr(0, comment);
        }
        text = Trim(text);
        if (text.empty()) {
            continue;
        }
        if (text.front() == '[') {
            size_t close = text.find(']');
            std::string name(Trim(text.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
            auto [it, added] = sections.try_emplace(name);
            current = &it->second;
            skipping = !added;
            continue;
        }
        if (current && !skipping) {
            current->emplace_back(text);
        }
    }
    return sections;
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

bool IsPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name.find("..") != std::string_view::npos) {
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

std::string ReportText(std::string_view ansi) {
    std::string utf8;
    utf8.reserve(ansi.size());
    for (char c : ansi) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

// Every folder of a full directory path ("C:\\A\\B", no trailing backslash) exists afterwards;
// 0, or the error that stopped it.
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

nlohmann::json& ReportArray(const char* key) {
    nlohmann::json& report = winemu::Current().Report();
    if (!report.is_object()) {
        report = nlohmann::json::object();
    }
    nlohmann::json& array = report[key];
    if (!array.is_array()) {
        array = nlohmann::json::array();
    }
    return array;
}

} // namespace toolkit
