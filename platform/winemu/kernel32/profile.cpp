// KERNEL32 profile (INI) reading over files on the machine's drives, the way Windows reads them:
// sections and keys without regard to case, the first match wins, blanks around keys and values
// dropped, ';' lines are comments, and the double-zero lists of the enumeration forms.
// GetPrivateProfileSectionA delivers a line as "key=value" with the blanks around "=" and at the
// ends dropped, as Windows and Wine deliver it: "  %A,B% = Inst, ID7 " reads "%A,B%=Inst, ID7".
#include "winemu/machine.h"
#include "winemu/machine/codepage.h"
#include "winemu/machine/dbcs.h"
#include "winemu/machine/export.h"
#include "winemu/kernel32/profile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct IniEntry {
    std::string key;
    std::optional<std::string> value; // none for a line without '='
};

struct IniSection {
    std::string name;
    std::vector<IniEntry> entries;
};

using IniFile = std::vector<IniSection>;

using winemu::Arg;

// White space as the profile reader sees it, with the DOS end-of-file mark and the zero byte
// that a file written with its C terminator ends in: neither makes a line of its own.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == '\x1a' || c == '\0';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

IniFile Parse(std::string_view text) {
    IniFile file;
    IniSection* section = nullptr; // lines before the first section belong to none
    while (!text.empty()) {
        // A line ends at CR LF, LF, or a lone CR.
        size_t end = text.find_first_of("\r\n");
        std::string_view line = Trim(text.substr(0, end));
        size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end != std::string_view::npos && text[end] == '\r' && next < text.size() &&
            text[next] == '\n')
            ++next;
        text.remove_prefix(next);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            size_t close = line.rfind(']');
            if (close != std::string_view::npos && close > 0) {
                file.push_back({std::string(line.substr(1, close - 1)), {}});
                section = &file.back();
                continue;
            }
        }
        if (!section)
            continue;
        IniEntry entry;
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            entry.key = std::string(line);
        } else {
            entry.key = std::string(Trim(line.substr(0, equals)));
            entry.value = std::string(Trim(line.substr(equals + 1)));
        }
        section->entries.push_back(std::move(entry));
    }
    return file;
}

bool HasPathPart(UINT codePage, std::string_view name) {
    if (name.size() >= 2 && name[1] == ':')
        return true;
    for (size_t i = 0; i < name.size();) {
        size_t n = winemu::CharBytes(codePage, name, i);
        if (n == 1 && (name[i] == '\\' || name[i] == '/'))
            return true;
        i += n;
    }
    return false;
}

// The profile file as text of the ANSI code page; none when it is missing or unreadable.
// A bare file name is looked for in the Windows directory, as Windows does.
std::optional<IniFile> Load(LPCSTR fileName) {
    winemu::Machine& machine = winemu::Current();
    std::string name = fileName ? fileName : "win.ini";
    if (name.empty())
        return std::nullopt;
    if (!HasPathPart(machine.Config().codePage, name))
        name = machine.Config().windowsDirectory + "\\" + name;
    std::optional<fs::path> host = machine.HostPath(name);
    std::error_code ec;
    if (!host || !fs::is_regular_file(*host, ec))
        return std::nullopt;
    std::ifstream in(*host, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(winemu::AnsiText(machine.Config().codePage, text));
}

const IniSection* FindSection(const std::optional<IniFile>& file, std::string_view name) {
    if (!file)
        return nullptr;
    UINT codePage = winemu::Current().Config().codePage;
    for (const IniSection& section : *file) {
        if (!section.name.empty() && winemu::NameEqualsIn(codePage, section.name, name))
            return &section;
    }
    return nullptr;
}

// The value of the first such key in the first such section; none when either is missing or
// the key's line has no '='.
std::optional<std::string> FindValue(const std::optional<IniFile>& file, std::string_view section,
                                     std::string_view key) {
    const IniSection* found = FindSection(file, Trim(section));
    if (!found)
        return std::nullopt;
    UINT codePage = winemu::Current().Config().codePage;
    for (const IniEntry& entry : found->entries) {
        if (winemu::NameEqualsIn(codePage, entry.key, Trim(key)))
            return entry.value;
    }
    return std::nullopt;
}

// A value in matching quotes is delivered without them.
std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// A string cut to the buffer: at most size-1 characters and the terminator; returns the count.
DWORD PutString(std::string_view text, LPSTR buffer, DWORD size) {
    if (!buffer || size == 0)
        return 0;
    size_t count = std::min<size_t>(text.size(), size - 1);
    if (count > 0)
        std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

// A double-zero list cut to the buffer as Windows cuts it: when the strings do not fit with room
// to spare, the last one that starts is cut, the list still ends in two zeros, and the result is
// size-2. Otherwise the result counts every string's terminator but not the list's last zero.
DWORD PutList(const std::vector<std::string>& strings, LPSTR buffer, DWORD size) {
    if (!buffer || size == 0)
        return 0;
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    size_t left = size;
    size_t pos = 0;
    for (const std::string& text : strings) {
        if (left <= 2)
            break;
        size_t count = std::min(text.size(), left - 2);
        std::memcpy(buffer + pos, text.data(), count);
        buffer[pos + count] = '\0';
        pos += count + 1;
        left -= count + 1;
        if (left < 2)
            break;
    }
    buffer[pos] = '\0';
    if (pos == 0)
        buffer[1] = '\0';
    return left <= 1 ? size - 2 : static_cast<DWORD>(pos);
}

std::vector<std::string> SectionNames(const std::optional<IniFile>& file) {
    std::vector<std::string> names;
    if (file) {
        for (const IniSection& section : *file) {
            if (!section.name.empty())
                names.push_back(section.name);
        }
    }
    return names;
}

// Key names of a section: lines without '=' and empty names are not keys.
std::vector<std::string> KeyNames(const IniSection* section) {
    std::vector<std::string> names;
    if (section) {
        for (const IniEntry& entry : section->entries) {
            if (entry.value && !entry.key.empty())
                names.push_back(entry.key);
        }
    }
    return names;
}

// Every line of a section as the profile reader holds it: "key=value", or the line as it stands.
std::vector<std::string> SectionLines(const IniSection* section) {
    std::vector<std::string> lines;
    if (section) {
        for (const IniEntry& entry : section->entries)
            lines.push_back(entry.value ? entry.key + "=" + *entry.value : entry.key);
    }
    return lines;
}

std::string_view TrimTrailingSpaces(std::string_view text) {
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

} // namespace

namespace winemu {

UINT ProfileNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        char prefix = text[i + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10)
            i += 2;
    }
    UINT result = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit = 99;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'z')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'Z')
            digit = static_cast<unsigned>(c - 'A' + 10);
        if (digit >= base)
            break;
        result = result * base + digit;
    }
    return negative ? 0u - result : result;
}

} // namespace winemu

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault,
                                  LPCSTR lpFileName) {
    winemu::Machine& machine = winemu::Current();
    if (winemu::Faulted("GetPrivateProfileIntA", winemu::kLastErrorKept, Arg(lpAppName),
                        Arg(lpKeyName), Arg(lpFileName)))
        return static_cast<UINT>(nDefault);
    if (!lpAppName || !lpKeyName)
        return static_cast<UINT>(nDefault);
    std::optional<std::string> value = FindValue(Load(lpFileName), lpAppName, lpKeyName);
    if (!value)
        return static_cast<UINT>(nDefault);
    machine.LastError() = ERROR_SUCCESS;
    std::string_view text = Unquote(*value);
    if (text.empty())
        return static_cast<UINT>(nDefault);

    return winemu::ProfileNumber(text);
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    winemu::Machine& machine = winemu::Current();
    // A faulted read finds no file: the default comes back.
    bool faulted = winemu::Faulted("GetPrivateProfileStringA", winemu::kLastErrorKept,
                                   Arg(lpAppName), Arg(lpKeyName), Arg(lpFileName));
    if (!lpReturnedString || nSize == 0)
        return 0;
    std::optional<IniFile> file = faulted ? std::nullopt : Load(lpFileName);
    std::string_view fallback = Unquote(TrimTrailingSpaces(Arg(lpDefault)));

    if (!lpAppName)
        return PutList(SectionNames(file), lpReturnedString, nSize);
    if (!lpKeyName) {
        std::vector<std::string> keys = KeyNames(FindSection(file, Trim(lpAppName)));
        if (!keys.empty())
            return PutList(keys, lpReturnedString, nSize);
        // No keys: the default, still ended as a list when there is room.
        DWORD count = PutString(fallback, lpReturnedString, nSize);
        if (count + 1 < nSize)
            lpReturnedString[count + 1] = '\0';
        return count;
    }
    std::optional<std::string> value = FindValue(file, lpAppName, lpKeyName);
    if (value)
        machine.LastError() = ERROR_SUCCESS;
    return PutString(value ? Unquote(*value) : fallback, lpReturnedString, nSize);
}

DWORD WINAPI GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize,
                                       LPCSTR lpFileName) {
    winemu::Machine& machine = winemu::Current();
    bool faulted = winemu::Faulted("GetPrivateProfileSectionA", winemu::kLastErrorKept,
                                   Arg(lpAppName), Arg(lpFileName));
    if (!lpAppName || !lpReturnedString) {
        machine.LastError() = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::optional<IniFile> file = faulted ? std::nullopt : Load(lpFileName);
    const IniSection* section = FindSection(file, lpAppName);
    if (section)
        machine.LastError() = ERROR_SUCCESS;
    return PutList(SectionLines(section), lpReturnedString, nSize);
}
