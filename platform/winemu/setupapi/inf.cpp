// The INF reader of the emulated device installer: sections of lines, keys and fields, as the
// device installer and the AddReg/DelReg code read them.
#include "winemu/machine.h"
#include "winemu/machine/codepage.h"
#include "winemu/setupapi/internal.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace winemu::setupapi {

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return std::string(s.substr(b, e - b));
}

namespace {

// Splits the text after "=" (or a whole line) into fields: commas outside quotes separate,
// white space around a field goes, "" inside quotes is one quote.
std::vector<std::string> SplitFields(std::string_view text) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    bool sawQuote = false;
    std::string pendingSpace;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
            sawQuote = true;
            field += pendingSpace;
            pendingSpace.clear();
        } else if (c == ',') {
            fields.push_back(sawQuote ? field : Trim(field));
            field.clear();
            pendingSpace.clear();
            sawQuote = false;
        } else if (c == ' ' || c == '\t') {
            if (!field.empty())
                pendingSpace += c;
        } else {
            field += pendingSpace;
            pendingSpace.clear();
            field += c;
        }
    }
    fields.push_back(sawQuote ? field : Trim(field));
    return fields;
}

} // namespace

std::optional<InfFile> LoadInf(std::string_view winPath) {
    winemu::Machine& m = Current();
    std::string full = m.FullPath(winPath);
    if (full.empty())
        return std::nullopt;
    auto host = m.HostPath(full);
    std::error_code ec;
    if (!host || !std::filesystem::is_regular_file(*host, ec))
        return std::nullopt;
    std::ifstream in(*host, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = winemu::AnsiText(m.Config().codePage, ss.str());

    InfFile inf;
    inf.winPath = full;
    std::vector<InfLine>* current = nullptr;
    std::string logical;
    std::istringstream lines(text);
    std::string raw;
    while (std::getline(lines, raw)) {
        // Cut the comment (a ";" outside quotes) and join continued lines.
        bool quoted = false;
        size_t cut = raw.size();
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '"')
                quoted = !quoted;
            else if (raw[i] == ';' && !quoted) {
                cut = i;
                break;
            }
        }
        std::string part = Trim(std::string_view(raw).substr(0, cut));
        if (!part.empty() && part.back() == '\\') {
            part.pop_back();
            logical += part;
            continue;
        }
        logical += part;
        std::string line = Trim(logical);
        logical.clear();
        if (line.empty())
            continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            std::string name =
                Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            current = &inf.sections[name];
            continue;
        }
        if (!current)
            continue;
        InfLine entry;
        // A line has a key only when its first unquoted "=" comes before any comma: in
        // "HKR, Settings, Timer,, S7=<#>" the "=" belongs to the value.
        quoted = false;
        size_t eq = std::string::npos;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else if (line[i] == ',' && !quoted)
                break;
            else if (line[i] == '=' && !quoted) {
                eq = i;
                break;
            }
        }
        if (eq != std::string::npos) {
            entry.key = Trim(std::string_view(line).substr(0, eq));
            entry.fields = SplitFields(std::string_view(line).substr(eq + 1));
        } else {
            entry.fields = SplitFields(line);
        }
        current->push_back(std::move(entry));
    }
    return inf;
}

} // namespace winemu::setupapi
