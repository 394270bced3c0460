// Program groups of the host build: folders of the all-users Start Menu "Programs" folder, each
// item a shell link (.lnk) to its program, written through the platform's file functions.
#include "toolkit/host/shortcuts.h"
#include "toolkit/core.h"

#include <algorithm>
#include <array>

namespace toolkit::host {
namespace {

constexpr std::string_view kProgramsFolder = "Profiles\\All Users\\Start Menu\\Programs";

// Shell link format: header size, class id 00021401-0000-0000-C000-000000000046, flags.
constexpr DWORD kLinkHeaderSize = 0x4C;
constexpr std::array<BYTE, 16> kShellLinkClsid{0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr DWORD kHasLinkInfo = 0x00000002;
constexpr DWORD kHasWorkingDir = 0x00000010;
constexpr DWORD kHasArguments = 0x00000020;
constexpr DWORD kVolumeIdAndLocalBasePath = 0x00000001;
constexpr DWORD kLinkInfoHeaderSize = 0x1C;
constexpr DWORD kDriveFixed = 3;
constexpr size_t kMaxLinkString = 0xFFFF; // string data counts are 16-bit

std::string GroupFolder(std::string_view group) {
    char windows[MAX_PATH];
    UINT count = GetWindowsDirectoryA(windows, sizeof windows);
    if (count == 0 || count >= sizeof windows) {
        return {};
    }
    return toolkit::WithBackslash(std::string(windows, count)) + std::string(kProgramsFolder) +
           "\\" + std::string(group);
}

bool IsFolder(const std::string& winPath) {
    DWORD attributes = GetFileAttributesA(winPath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A command line split into the program (quotes dropped) and its arguments.
std::pair<std::string, std::string> SplitCommand(std::string_view cmd) {
    cmd = toolkit::TrimBlanks(cmd);
    size_t end = 0;
    std::string program;
    if (!cmd.empty() && cmd.front() == '"') {
        size_t close = cmd.find('"', 1);
        program = std::string(cmd.substr(1, close == std::string_view::npos ? close : close - 1));
        end = close == std::string_view::npos ? cmd.size() : close + 1;
    } else {
        end = std::min(cmd.find_first_of(" \t"), cmd.size());
        program = std::string(cmd.substr(0, end));
    }
    return {program, std::string(toolkit::TrimBlanks(cmd.substr(end)))};
}

class LinkWriter {
  public:
    void U16(WORD value) {
        bytes_.push_back(static_cast<BYTE>(value));
        bytes_.push_back(static_cast<BYTE>(value >> 8));
    }
    void U32(DWORD value) {
        U16(static_cast<WORD>(value));
        U16(static_cast<WORD>(value >> 16));
    }
    void Bytes(std::string_view text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
    void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    // A counted string of the string data (ANSI, no terminator).
    void Counted(std::string_view text) {
        U16(static_cast<WORD>(text.size()));
        Bytes(text);
    }
    std::vector<BYTE>& Data() { return bytes_; }

  private:
    std::vector<BYTE> bytes_;
};

// A shell link to target, started in its own folder, with the arguments given.
std::vector<BYTE> BuildShellLink(const std::string& target, const std::string& arguments) {
    size_t lastSlash = target.find_last_of('\\');
    std::string workingDir =
        lastSlash == std::string::npos ? std::string() : target.substr(0, lastSlash);
    if (workingDir.size() == 2 && workingDir[1] == ':') {
        workingDir += '\\'; // the root of a drive keeps its backslash
    }
    DWORD flags = kHasLinkInfo;
    if (!workingDir.empty()) {
        flags |= kHasWorkingDir;
    }
    if (!arguments.empty()) {
        flags |= kHasArguments;
    }
    DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        attributes = 0; // the program need not be there yet
    }

    LinkWriter link;
    link.U32(kLinkHeaderSize);
    link.Bytes(std::string_view(reinterpret_cast<const char*>(kShellLinkClsid.data()),
                                kShellLinkClsid.size()));
    link.U32(flags);
    link.U32(attributes);
    link.Zeros(24); // creation, access and write times
    link.U32(0);    // file size
    link.U32(0);    // icon index
    link.U32(SW_SHOWNORMAL);
    link.U16(0);           // hot key
    link.Zeros(2 + 4 + 4); // reserved

    // LinkInfo: a volume (fixed drive, no label) and the target's local base path.
    constexpr DWORD volumeIdSize = 16 + 1;
    DWORD localBasePathOffset = kLinkInfoHeaderSize + volumeIdSize;
    DWORD suffixOffset = localBasePathOffset + static_cast<DWORD>(target.size()) + 1;
    link.U32(suffixOffset + 1); // LinkInfo size
    link.U32(kLinkInfoHeaderSize);
    link.U32(kVolumeIdAndLocalBasePath);
    link.U32(kLinkInfoHeaderSize); // volume id offset
    link.U32(localBasePathOffset);
    link.U32(0); // no network path
    link.U32(suffixOffset);
    link.U32(volumeIdSize);
    link.U32(kDriveFixed);
    link.U32(0);    // serial number
    link.U32(0x10); // volume label offset
    link.Zeros(1);  // empty label
    link.Bytes(target);
    link.Zeros(1);
    link.Zeros(1); // empty common path suffix

    if (!workingDir.empty()) {
        link.Counted(workingDir);
    }
    if (!arguments.empty()) {
        link.Counted(arguments);
    }
    link.U32(0); // no extra data blocks
    return std::move(link.Data());
}

} // namespace

bool MakeGroupFolder(std::string_view group, std::string& folder) {
    folder = GroupFolder(group);
    return !folder.empty() && toolkit::EnsureDirectory(folder) == 0;
}

bool FindGroupFolder(std::string_view group, std::string& folder) {
    folder = GroupFolder(group);
    return !folder.empty() && IsFolder(folder);
}

bool WriteShortcut(std::string_view group, std::string_view item, std::string_view command,
                   std::string& folder, std::string& shortcut) {
    if (!FindGroupFolder(group, folder)) {
        return false; // items go into a group made before
    }
    auto [program, arguments] = SplitCommand(command);
    std::string target = toolkit::FullPath(program);
    if (target.empty() || target.size() >= MAX_PATH || arguments.size() > kMaxLinkString) {
        return false;
    }
    shortcut = folder + "\\" + std::string(item) + ".lnk";
    return toolkit::WriteWholeFile(shortcut, BuildShellLink(target, arguments));
}

bool DeleteShortcut(std::string_view group, std::string_view item) {
    std::string folder = GroupFolder(group);
    if (folder.empty()) {
        return false;
    }
    std::string shortcut = folder + "\\" + std::string(item) + ".lnk";
    return DeleteFileA(shortcut.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
           GetLastError() == ERROR_PATH_NOT_FOUND;
}

// The group's folder goes when empty, and with it each folder above it up to the Windows
// directory that nothing else uses; a group still holding items of others stays.
bool DeleteGroupFolder(std::string_view group) {
    std::string folder = GroupFolder(group);
    if (folder.empty()) {
        return false;
    }
    if (!IsFolder(folder)) {
        return true;
    }
    if (!RemoveDirectoryA(folder.c_str())) {
        return GetLastError() == ERROR_DIR_NOT_EMPTY;
    }
    std::string windows =
        folder.substr(0, folder.size() - group.size() - kProgramsFolder.size() - 2);
    for (size_t slash = folder.find_last_of('\\');
         slash != std::string::npos && slash > windows.size(); slash = folder.find_last_of('\\')) {
        folder.resize(slash);
        if (!RemoveDirectoryA(folder.c_str())) {
            break;
        }
    }
    return true;
}

} // namespace toolkit::host
