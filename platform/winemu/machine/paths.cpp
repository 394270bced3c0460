// Where a Windows path lies: full paths against the process's current directory, and the host
// file behind a path on one of the machine's drives (drives/<LETTER>/... in the image).
#include "winemu/machine/dbcs.h"
#include "winemu/machine.h"

#include <cctype>
#include <system_error>

namespace winemu {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDriveLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// Splits at separators that are characters of their own (not the second byte of a double-byte
// character), dropping "." and empty parts and applying "..", never above the root.
void AddComponents(UINT codePage, std::string_view text, std::vector<std::string>& parts) {
    std::string part;
    auto flush = [&]() {
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (size_t i = 0; i < text.size();) {
        size_t n = CharBytes(codePage, text, i);
        if (n == 1 && IsSeparator(text[i]))
            flush();
        else
            part.append(text.substr(i, n));
        i += n;
    }
    flush();
}

// The entry of folder whose name matches name without regard to case; the exact name first.
std::optional<std::filesystem::path> FindEntry(UINT codePage, const std::filesystem::path& folder,
                                               const std::string& name) {
    std::error_code ec;
    std::filesystem::path exact = folder / name;
    if (std::filesystem::exists(std::filesystem::symlink_status(exact, ec)))
        return exact;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (NameEqualsIn(codePage, entry.path().filename().string(), name))
            return entry.path();
    }
    return std::nullopt;
}

} // namespace

std::string Machine::SystemDirectory() const {
    std::string dir = config_.windowsDirectory;
    if (dir.empty() || !IsSeparator(dir.back()))
        dir += '\\';
    return dir + "system32";
}

std::string Machine::FullPath(std::string_view winPath) const {
    if (winPath.empty())
        return "";
    const UINT codePage = config_.codePage;
    const std::string& cwd = currentDirectory_;
    const bool cwdHasDrive = cwd.size() >= 2 && IsDriveLetter(cwd[0]) && cwd[1] == ':';

    char drive = 0;
    std::vector<std::string> parts;
    std::string_view rest = winPath;
    if (winPath.size() >= 2 && IsDriveLetter(winPath[0]) && winPath[1] == ':') {
        drive = static_cast<char>(std::toupper(static_cast<unsigned char>(winPath[0])));
        rest = winPath.substr(2);
        // "C:x" is relative to the current directory when that is on C:, else to C:'s root.
        bool sameDrive = cwdHasDrive && std::toupper(static_cast<unsigned char>(cwd[0])) == drive;
        if ((rest.empty() || !IsSeparator(rest[0])) && sameDrive)
            AddComponents(codePage, std::string_view(cwd).substr(2), parts);
    } else {
        // "\\\\server\\share" and device paths name no drive of this machine.
        if (winPath.size() >= 2 && IsSeparator(winPath[0]) && IsSeparator(winPath[1]))
            return "";
        if (!cwdHasDrive)
            return "";
        drive = static_cast<char>(std::toupper(static_cast<unsigned char>(cwd[0])));
        if (!IsSeparator(winPath[0]))
            AddComponents(codePage, std::string_view(cwd).substr(2), parts);
    }
    AddComponents(codePage, rest, parts);

    std::string full{drive, ':', '\\'};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            full += '\\';
        full += parts[i];
    }
    return full;
}

std::optional<std::filesystem::path> Machine::HostPath(std::string_view winPath) const {
    std::string full = FullPath(winPath);
    if (full.empty())
        return std::nullopt;
    const UINT codePage = config_.codePage;
    std::error_code ec;
    std::filesystem::path drives = dir_ / "drives";
    if (!std::filesystem::is_directory(drives, ec))
        return std::nullopt;
    std::optional<std::filesystem::path> host = FindEntry(codePage, drives, full.substr(0, 1));
    if (!host || !std::filesystem::is_directory(*host, ec))
        return std::nullopt;

    std::vector<std::string> parts;
    AddComponents(codePage, std::string_view(full).substr(2), parts);
    std::filesystem::path path = *host;
    for (const std::string& part : parts) {
        std::optional<std::filesystem::path> found;
        if (std::filesystem::is_directory(path, ec))
            found = FindEntry(codePage, path, part);
        path = found ? *found : path / part;
    }
    return path;
}

} // namespace winemu
