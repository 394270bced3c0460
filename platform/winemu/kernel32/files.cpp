// KERNEL32 directory and file calls over the machine's drives: the current, Windows and system
// directories, copying a file, making a folder, reading a file's attributes, and files opened
// by handle for reading or writing.
#include "winemu/machine.h"
#include "winemu/machine/dbcs.h"
#include "winemu/machine/export.h"
#include "winemu/restart.h"

#include <cstring>
#include <fstream>
#include <memory>
#include <string_view>
#include <system_error>

namespace {

namespace fs = std::filesystem;

using winemu::Arg;
using winemu::Fail;

// The directory calls' contract: the length in characters without the terminator when the text
// fits, else the size needed including the terminator, with the buffer left alone.
UINT CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
    if (buffer && text.size() < size) {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<UINT>(text.size());
    }
    return static_cast<UINT>(text.size() + 1);
}

// Characters that Windows refuses in a file or folder name.
bool HasInvalidName(UINT codePage, std::string_view full) {
    for (size_t i = 3; i < full.size();) {
        size_t n = winemu::CharBytes(codePage, full, i);
        unsigned char c = static_cast<unsigned char>(full[i]);
        if (n == 1 && (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr))
            return true;
        i += n;
    }
    return false;
}

// A path argument resolved to the host file behind it, or the error that Windows gives for it.
struct Resolved {
    std::string full;
    fs::path host;
    DWORD error = ERROR_SUCCESS;
};

Resolved Resolve(LPCSTR path) {
    Resolved result;
    winemu::Machine& machine = winemu::Current();
    if (!path) {
        result.error = ERROR_INVALID_PARAMETER;
        return result;
    }
    result.full = machine.FullPath(path);
    if (result.full.empty()) {
        result.error = ERROR_PATH_NOT_FOUND;
        return result;
    }
    if (HasInvalidName(machine.Config().codePage, result.full)) {
        result.error = ERROR_INVALID_NAME;
        return result;
    }
    std::optional<fs::path> host = machine.HostPath(result.full);
    if (!host) {
        result.error = ERROR_PATH_NOT_FOUND; // a drive this machine does not have
        return result;
    }
    result.host = *host;
    return result;
}

bool IsDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// Windows tells a missing file in an existing folder from a missing folder.
DWORD MissingError(const fs::path& host) {
    return IsDirectory(host.parent_path()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// The image keeps a file's read-only attribute as its host file's lack of write permission. The
// machine judges it itself, as Windows does, so that the host user (root writes anything) does
// not change what a program on the machine may do.
bool IsReadOnly(const fs::path& host) {
    std::error_code ec;
    fs::file_status status = fs::status(host, ec);
    return fs::is_regular_file(status) &&
           (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

void SetReadOnly(const fs::path& host, bool readOnly, std::error_code& ec) {
    constexpr fs::perms kWrite = fs::perms::owner_write | fs::perms::group_write;
    constexpr fs::perms kAnyWrite = kWrite | fs::perms::others_write;
    fs::permissions(host, readOnly ? kAnyWrite : kWrite,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add, ec);
}

// A call's result from its error: TRUE, or FALSE with the error as the last error.
BOOL Finish(DWORD error) {
    if (error == ERROR_SUCCESS)
        return TRUE;
    Fail(error);
    return FALSE;
}

// The one path of a call, after its fault check: a fault fails it with ERROR_ACCESS_DENIED.
Resolved ResolveChecked(std::string_view api, LPCSTR path) {
    if (winemu::Faulted(api, winemu::kLastErrorKept, Arg(path))) {
        Resolved refused;
        refused.error = ERROR_ACCESS_DENIED;
        return refused;
    }
    return Resolve(path);
}

// The same, for a call on a file or folder that must exist.
Resolved ResolveExisting(std::string_view api, LPCSTR path) {
    Resolved target = ResolveChecked(api, path);
    if (target.error == ERROR_SUCCESS && !Exists(target.host))
        target.error = MissingError(target.host);
    return target;
}

// A folder, or a read-only file: what Windows neither deletes nor moves a file over.
bool Protected(const fs::path& host) {
    return IsDirectory(host) || IsReadOnly(host);
}

DWORD SetCurrentDirectoryError(LPCSTR path) {
    Resolved target = ResolveExisting("SetCurrentDirectoryA", path);
    if (target.error != ERROR_SUCCESS)
        return target.error;
    if (!IsDirectory(target.host))
        return ERROR_DIRECTORY;
    winemu::Current().CurrentDirectory() = target.full;
    return ERROR_SUCCESS;
}

// The two paths of a copy or a move, resolved; the first error, the source's first.
DWORD ResolveExistingSource(LPCSTR from, LPCSTR to, Resolved& source, Resolved& target) {
    source = Resolve(from);
    if (source.error != ERROR_SUCCESS)
        return source.error;
    target = Resolve(to);
    if (target.error != ERROR_SUCCESS)
        return target.error;
    return Exists(source.host) ? ERROR_SUCCESS : MissingError(source.host);
}

DWORD CopyFileError(LPCSTR from, LPCSTR to, BOOL failIfExists) {
    if (winemu::Faulted("CopyFileA", winemu::kLastErrorKept, Arg(from), Arg(to)))
        return ERROR_ACCESS_DENIED;
    Resolved source;
    Resolved target;
    if (DWORD error = ResolveExistingSource(from, to, source, target); error != ERROR_SUCCESS)
        return error;
    if (IsDirectory(source.host) || IsDirectory(target.host))
        return ERROR_ACCESS_DENIED;
    if (!IsDirectory(target.host.parent_path()))
        return ERROR_PATH_NOT_FOUND;
    std::error_code ec;
    if (Exists(target.host)) {
        if (fs::equivalent(source.host, target.host, ec))
            return ERROR_SHARING_VIOLATION; // a file cannot be copied onto itself
        if (failIfExists)
            return ERROR_FILE_EXISTS;
        if (IsReadOnly(target.host))
            return ERROR_ACCESS_DENIED;
    }
    // Copy beside the target and rename over it, so that a failed copy leaves the old file whole.
    // The copy takes the source's attributes, as Windows' does: a file from a CD stays read-only.
    fs::path temporary = target.host;
    temporary += ".copy~";
    fs::copy_file(source.host, temporary, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        SetReadOnly(temporary, IsReadOnly(source.host), ec);
    if (!ec)
        fs::rename(temporary, target.host, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

DWORD CreateDirectoryError(LPCSTR path) {
    Resolved target = ResolveChecked("CreateDirectoryA", path);
    if (target.error != ERROR_SUCCESS)
        return target.error;
    if (Exists(target.host))
        return ERROR_ALREADY_EXISTS;
    if (!IsDirectory(target.host.parent_path()))
        return ERROR_PATH_NOT_FOUND; // one level at a time, as Windows makes folders
    std::error_code ec;
    if (!fs::create_directory(target.host, ec))
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

DWORD FileAttributes(LPCSTR path, DWORD& attributes) {
    Resolved target = ResolveChecked("GetFileAttributesA", path);
    if (target.error != ERROR_SUCCESS)
        return target.error;
    std::error_code ec;
    fs::file_status status = fs::status(target.host, ec);
    if (!fs::exists(status))
        return MissingError(target.host);
    if (fs::is_directory(status)) {
        attributes = FILE_ATTRIBUTE_DIRECTORY;
    } else {
        attributes = FILE_ATTRIBUTE_ARCHIVE;
        if ((status.permissions() & fs::perms::owner_write) == fs::perms::none)
            attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return ERROR_SUCCESS;
}

// Only the read-only attribute is kept; the others a file always reads with (archive) or never
// has, and a folder keeps none.
DWORD SetAttributesError(LPCSTR path, DWORD attributes) {
    Resolved target = ResolveExisting("SetFileAttributesA", path);
    if (target.error != ERROR_SUCCESS)
        return target.error;
    if (IsDirectory(target.host))
        return ERROR_SUCCESS;
    std::error_code ec;
    SetReadOnly(target.host, (attributes & FILE_ATTRIBUTE_READONLY) != 0, ec);
    return ec ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

// A file opened by handle: its stream, read from the start or written from empty.
struct OpenFile {
    std::fstream stream;
    bool writable = false;
};

DWORD OpenFileError(LPCSTR path, DWORD access, DWORD disposition, std::shared_ptr<OpenFile>& file,
                    std::string& full) {
    Resolved target = ResolveChecked("CreateFileA", path);
    if (target.error != ERROR_SUCCESS)
        return target.error;
    if (IsDirectory(target.host))
        return ERROR_ACCESS_DENIED;
    bool exists = Exists(target.host);
    if (exists && IsReadOnly(target.host) &&
        ((access & GENERIC_WRITE) || disposition == CREATE_ALWAYS))
        return ERROR_ACCESS_DENIED;
    file = std::make_shared<OpenFile>();
    std::ios::openmode mode = std::ios::binary;
    switch (disposition) {
    case OPEN_EXISTING:
        if (!exists)
            return MissingError(target.host);
        mode |= std::ios::in;
        if (access & GENERIC_WRITE)
            mode |= std::ios::out;
        break;
    case OPEN_ALWAYS:
        if (exists) {
            mode |= std::ios::in;
            if (access & GENERIC_WRITE)
                mode |= std::ios::out;
            break;
        }
        if (!IsDirectory(target.host.parent_path()))
            return ERROR_PATH_NOT_FOUND;
        mode |= std::ios::in | std::ios::out | std::ios::trunc;
        break;
    case CREATE_NEW:
    case CREATE_ALWAYS:
        if (exists && disposition == CREATE_NEW)
            return ERROR_FILE_EXISTS;
        if (!IsDirectory(target.host.parent_path()))
            return ERROR_PATH_NOT_FOUND;
        mode |= std::ios::in | std::ios::out | std::ios::trunc;
        break;
    default:
        return ERROR_INVALID_PARAMETER; // the toolkit and setup open no other way
    }
    file->stream.open(target.host, mode);
    if (!file->stream.is_open())
        return ERROR_ACCESS_DENIED;
    file->writable = (access & GENERIC_WRITE) != 0;
    full = target.full;
    return ERROR_SUCCESS;
}

std::shared_ptr<OpenFile> FileOf(HANDLE handle) {
    return winemu::Current().Objects().GetAs<OpenFile>(reinterpret_cast<ULONG_PTR>(handle),
                                                       winemu::HandleKind::File);
}

// The file of a read or a write, whose count of bytes stays 0 until it is done; null (with the
// last error) when the handle is no open file. Every transfer here is done when the call returns,
// so an OVERLAPPED is never looked at.
std::shared_ptr<OpenFile> TransferFile(HANDLE handle, LPDWORD count, LPOVERLAPPED overlapped) {
    (void)overlapped;
    if (count)
        *count = 0;
    std::shared_ptr<OpenFile> file = FileOf(handle);
    if (!file)
        Fail(ERROR_INVALID_HANDLE);
    return file;
}

// A move left for the next start: only recorded now, where the Session Manager finds it (the
// process is an administrator's, whom Windows lets write there). No target deletes the source.
DWORD DelayedMoveError(LPCSTR from, LPCSTR to, DWORD flags) {
    if (flags & MOVEFILE_COPY_ALLOWED)
        return ERROR_INVALID_PARAMETER;
    Resolved source = Resolve(from);
    if (source.error != ERROR_SUCCESS)
        return source.error;
    Resolved target;
    if (to != nullptr && *to != '\0') {
        target = Resolve(to);
        if (target.error != ERROR_SUCCESS)
            return target.error;
    }
    winemu::QueueMoveAtRestart(winemu::Current(), source.full, target.full, flags);
    return ERROR_SUCCESS;
}

DWORD MoveFileError(LPCSTR from, LPCSTR to, DWORD flags) {
    if (winemu::Faulted("MoveFileExA", winemu::kLastErrorKept, Arg(from), Arg(to)))
        return ERROR_ACCESS_DENIED;
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT)
        return DelayedMoveError(from, to, flags);
    Resolved source;
    Resolved target;
    if (DWORD error = ResolveExistingSource(from, to, source, target); error != ERROR_SUCCESS)
        return error;
    if (Exists(target.host) && !(flags & MOVEFILE_REPLACE_EXISTING))
        return ERROR_ALREADY_EXISTS;
    if (Protected(target.host))
        return ERROR_ACCESS_DENIED;
    std::error_code ec;
    fs::rename(source.host, target.host, ec);
    return ec ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

} // namespace

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    winemu::Machine& machine = winemu::Current();
    if (winemu::Faulted("GetCurrentDirectoryA", ERROR_ACCESS_DENIED))
        return 0;
    // A root keeps its backslash ("C:\\"), any other folder has none ("C:\\WINNT").
    std::string cwd = machine.CurrentDirectory();
    winemu::TrimTrailingSeparators(machine.Config().codePage, cwd);
    return CopyOut(cwd, lpBuffer, nBufferLength);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    return Finish(SetCurrentDirectoryError(lpPathName));
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    winemu::Machine& machine = winemu::Current();
    if (winemu::Faulted("GetWindowsDirectoryA", ERROR_ACCESS_DENIED))
        return 0;
    return CopyOut(machine.Config().windowsDirectory, lpBuffer, uSize);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    winemu::Machine& machine = winemu::Current();
    if (winemu::Faulted("GetSystemDirectoryA", ERROR_ACCESS_DENIED))
        return 0;
    return CopyOut(machine.SystemDirectory(), lpBuffer, uSize);
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    return Finish(CopyFileError(lpExistingFileName, lpNewFileName, bFailIfExists));
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    (void)lpSecurityAttributes;
    return Finish(CreateDirectoryError(lpPathName));
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    DWORD error = FileAttributes(lpFileName, attributes);
    if (error != ERROR_SUCCESS) {
        Fail(error);
        attributes = INVALID_FILE_ATTRIBUTES;
    }
    return attributes;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    return Finish(SetAttributesError(lpFileName, dwFileAttributes));
}

// The length without the terminator when the full path fits, else the size needed with it.
DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                              LPSTR* lpFilePart) {
    winemu::Machine& machine = winemu::Current();
    std::string full = lpFileName ? machine.FullPath(lpFileName) : std::string();
    if (full.empty()) {
        Fail(lpFileName ? ERROR_INVALID_NAME : ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD count = CopyOut(full, lpBuffer, nBufferLength);
    if (lpFilePart && count == full.size()) {
        size_t slash = full.find_last_of('\\');
        *lpFilePart = slash + 1 < full.size() ? lpBuffer + slash + 1 : nullptr;
    }
    return count;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    (void)dwShareMode;
    (void)lpSecurityAttributes;
    (void)dwFlagsAndAttributes;
    (void)hTemplateFile;
    std::shared_ptr<OpenFile> file;
    std::string full;
    DWORD error = OpenFileError(lpFileName, dwDesiredAccess, dwCreationDisposition, file, full);
    if (error != ERROR_SUCCESS) {
        Fail(error);
        return INVALID_HANDLE_VALUE;
    }
    ULONG_PTR handle =
        winemu::Current().Objects().Open(winemu::HandleKind::File, "file " + full, file);
    return reinterpret_cast<HANDLE>(handle);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    std::shared_ptr<OpenFile> file = TransferFile(hFile, lpNumberOfBytesRead, lpOverlapped);
    if (!file)
        return FALSE;
    if (!lpBuffer && nNumberOfBytesToRead)
        return Finish(ERROR_NOACCESS);
    file->stream.read(static_cast<char*>(lpBuffer), nNumberOfBytesToRead);
    DWORD read = static_cast<DWORD>(file->stream.gcount());
    file->stream.clear(); // the end of the file is a read of 0 bytes, not an error
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = read;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    std::shared_ptr<OpenFile> file = TransferFile(hFile, lpNumberOfBytesWritten, lpOverlapped);
    if (!file)
        return FALSE;
    if (!file->writable)
        return Finish(ERROR_ACCESS_DENIED);
    if (winemu::Faulted("WriteFile", ERROR_WRITE_FAULT))
        return FALSE;
    file->stream.write(static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite);
    if (!file->stream.flush()) {
        file->stream.clear();
        return Finish(ERROR_WRITE_FAULT);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    std::shared_ptr<OpenFile> file = FileOf(hFile);
    if (!file) {
        Fail(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    std::streampos here = file->stream.tellg();
    file->stream.seekg(0, std::ios::end);
    std::streamoff size = file->stream.tellg();
    file->stream.seekg(here);
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
    return static_cast<DWORD>(size);
}

// Moves the one position that reads and writes share; only distances below 4 GB.
DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    std::shared_ptr<OpenFile> file = FileOf(hFile);
    if (!file) {
        Fail(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    if ((lpDistanceToMoveHigh && *lpDistanceToMoveHigh != 0 && *lpDistanceToMoveHigh != -1) ||
        dwMoveMethod > FILE_END) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    static constexpr std::ios::seekdir kFrom[] = {std::ios::beg, std::ios::cur, std::ios::end};
    file->stream.clear();
    file->stream.seekg(lDistanceToMove, kFrom[dwMoveMethod]);
    std::streamoff here = file->stream.tellg();
    if (!file->stream || here < 0) {
        file->stream.clear();
        Fail(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    file->stream.seekp(here);
    if (lpDistanceToMoveHigh)
        *lpDistanceToMoveHigh = 0;
    winemu::Current().LastError() = NO_ERROR;
    return static_cast<DWORD>(here);
}

// Every write already reaches the host file; flushing asks the host to keep it.
BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    std::shared_ptr<OpenFile> file = FileOf(hFile);
    if (!file)
        return Finish(ERROR_INVALID_HANDLE);
    if (!file->writable)
        return Finish(ERROR_ACCESS_DENIED);
    return Finish(file->stream.flush() ? ERROR_SUCCESS : ERROR_WRITE_FAULT);
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    Resolved target = ResolveExisting("DeleteFileA", lpFileName);
    if (target.error != ERROR_SUCCESS)
        return Finish(target.error);
    if (Protected(target.host))
        return Finish(ERROR_ACCESS_DENIED);
    std::error_code ec;
    fs::remove(target.host, ec);
    return Finish(ec ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    return Finish(MoveFileError(lpExistingFileName, lpNewFileName, dwFlags));
}

// Only an empty folder goes, as on Windows; a file is no folder.
BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    Resolved target = ResolveExisting("RemoveDirectoryA", lpPathName);
    if (target.error != ERROR_SUCCESS)
        return Finish(target.error);
    if (!IsDirectory(target.host))
        return Finish(ERROR_DIRECTORY);
    std::error_code ec;
    if (!fs::is_empty(target.host, ec) || ec)
        return Finish(ERROR_DIR_NOT_EMPTY);
    fs::remove(target.host, ec);
    return Finish(ec ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
}
