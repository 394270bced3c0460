// Names and INI text as the toolkit reads them (setup.inf, answers files): compared as Windows
// compares them, read through the platform's file functions, each line keeping its number.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

// Windows compares names (sections, symbols, files) without regard to ASCII case.
bool NameEquals(std::string_view a, std::string_view b);
struct NameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// The text without the blanks at either end (spaces and tabs unless told).
std::string_view TrimBlanks(std::string_view text, std::string_view blanks = " \t");

// A line of an INI section: its text, trimmed, and its number in the file (from 1).
struct IniLine {
    std::string text;
    int number;
};
// INI text: section name to its lines, ';' comments and empty lines dropped; the first section
// of a name wins.
using IniSections = std::map<std::string, std::vector<IniLine>, NameLess>;
IniSections ParseIni(std::string_view text);
// The next line of an INI text, taken off its front: a line ends at CR LF, LF or a lone CR, as
// Windows reads INI files.
std::string_view TakeLine(std::string_view& text);
// A whole file read through the platform's file functions; nullopt when it cannot be read, with
// the reason in why ("it is larger than ...") when asked for.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string* why = nullptr);
std::optional<IniSections> ReadIniFile(const std::string& path, std::string* why = nullptr);

} // namespace toolkit
