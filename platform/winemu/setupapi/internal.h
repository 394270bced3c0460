// What the device installer, the INF reader and the AddReg/DelReg code share: the parsed INF
// file and the calls each part makes into another.
#pragma once

#include "winemu/machine.h"

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winemu::setupapi {

// Text without the spaces, tabs and carriage returns around it.
std::string Trim(std::string_view s);

// INF files: sections of lines, each an optional key and comma-separated fields, with
// quoting, ";" comments, "\" continuation and %strkey% substitution from [Strings].

struct InfLine {
    std::string key;                 // raw, before substitution; "" when the line has no "="
    std::vector<std::string> fields; // raw, quotes removed
};

struct InfFile {
    std::string winPath;
    std::map<std::string, std::vector<InfLine>, winemu::NameLess> sections;

    const std::vector<InfLine>* Section(std::string_view name) const {
        auto it = sections.find(name);
        return it == sections.end() ? nullptr : &it->second;
    }

    // A [Version]-style single value: the first field of the line whose key is name.
    std::optional<std::string> Value(std::string_view section, std::string_view name) const {
        const auto* lines = Section(section);
        if (!lines)
            return std::nullopt;
        for (const InfLine& line : *lines) {
            if (NameEquals(Trim(line.key), name))
                return Subst(line.fields.empty() ? std::string() : line.fields[0]);
        }
        return std::nullopt;
    }

    // %key% becomes the [Strings] value; %% becomes %; an unknown key stays as written.
    std::string Subst(std::string_view text) const {
        std::string out;
        size_t i = 0;
        while (i < text.size()) {
            if (text[i] != '%') {
                out += text[i++];
                continue;
            }
            size_t close = text.find('%', i + 1);
            if (close == std::string_view::npos) {
                out += text.substr(i);
                break;
            }
            std::string_view key = text.substr(i + 1, close - i - 1);
            if (key.empty())
                out += '%';
            else if (auto value = StringValue(key))
                out += *value;
            else
                out += text.substr(i, close - i + 1);
            i = close + 1;
        }
        return out;
    }

    std::optional<std::string> StringValue(std::string_view key) const {
        const auto* lines = Section("Strings");
        if (!lines)
            return std::nullopt;
        for (const InfLine& line : *lines) {
            if (NameEquals(Trim(line.key), key))
                return line.fields.empty() ? std::string() : line.fields[0];
        }
        return std::nullopt;
    }
};

// The INF file at a Windows path, parsed; nullopt when it cannot be read.
std::optional<InfFile> LoadInf(std::string_view winPath);

// A string value's bytes, with the terminating zero.
std::vector<BYTE> StringBytes(std::string_view s);

// One line of a DelReg or AddReg section, applied with HKR standing for hkrPath. AddReg returns
// the registry error that ends the install, ERROR_SUCCESS otherwise.
void ApplyDelRegLine(const InfFile& inf, const InfLine& line, const std::string& hkrPath);
LONG ApplyAddRegLine(const InfFile& inf, const InfLine& line, const std::string& hkrPath);

} // namespace winemu::setupapi
