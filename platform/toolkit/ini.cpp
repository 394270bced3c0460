// The INI reader the toolkit shares between setup.inf and answers files, and names compared as
// Windows compares them; files are reached through the Win32 file functions only.
#include "toolkit/ini.h"

#include <algorithm>

namespace toolkit {
namespace {

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
    std::vector<IniLine>* current = nullptr; // lines go nowhere before the first section
    bool skipping = false;                   // a repeated section: the first one wins
    for (int number = 1; !text.empty(); ++number) {
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
            current->push_back({std::string(line), number});
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

} // namespace toolkit
