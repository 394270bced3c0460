// Paths on the machine's drives and the KERNEL32 directory and file calls: full paths, the host
// file behind a Windows path, the directory buffers' size contract, copying, folders, attributes
// and injected faults.
#include "support/test_machine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

using testsupport::ActiveMachine;
using testsupport::TestImage;

namespace {

constexpr char kJunk = '\x5A';

// A machine whose current directory is C:\WINNT\system32, with a few folders and files.
struct PathsFixture : ::testing::Test {
    PathsFixture() {
        image.Ini("[Machine]\nWindowsDirectory=C:\\WINNT\nCurrentDirectory=C:\\WINNT\\system32\n");
        image.Folder("C:\\WINNT\\System32\\Drivers");
        image.File("A:\\TONEBAY.DLL", "driver bytes");
        image.File("A:\\Disk1\\Readme.Txt", "read me");
        image.File("C:\\WINNT\\System32\\Old.Dll", "old");
        machine = std::make_unique<ActiveMachine>(image);
    }
    winemu::Machine& M() { return machine->M(); }
    DWORD LastError() { return M().LastError(); }

    TestImage image;
    std::unique_ptr<ActiveMachine> machine;
};

std::string Filled(size_t size) {
    return std::string(size, kJunk);
}

} // namespace

TEST_F(PathsFixture, FullPathResolvesAgainstTheCurrentDirectory) {
    struct Row {
        const char* path;
        const char* full;
    };
    const Row rows[] = {
        {"x.ini", "C:\\WINNT\\system32\\x.ini"},
        {".\\x.ini", "C:\\WINNT\\system32\\x.ini"},
        {"..\\x.ini", "C:\\WINNT\\x.ini"},
        {"..\\..\\..\\..\\x.ini", "C:\\x.ini"},
        {"\\x.ini", "C:\\x.ini"},
        {"/a/b/../c", "C:\\a\\c"},
        {"C:x.ini", "C:\\WINNT\\system32\\x.ini"},
        {"A:x.ini", "A:\\x.ini"},
        {"a:\\Disk1\\\\sub\\", "A:\\Disk1\\sub"},
        {"c:\\", "C:\\"},
        {"C:", "C:\\WINNT\\system32"},
        {"\\\\server\\share\\x", ""},
        {"", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(M().FullPath(row.path), row.full) << "path " << row.path;
}

TEST_F(PathsFixture, HostPathMatchesExistingNamesWithoutCase) {
    const auto system = image.Dir() / "drives" / "C" / "WINNT" / "System32";
    EXPECT_EQ(M().HostPath("c:\\winnt\\SYSTEM32\\old.dll"), system / "Old.Dll");
    EXPECT_EQ(M().HostPath("DRIVERS"), system / "Drivers");
    // Names that do not exist yet are taken as given.
    EXPECT_EQ(M().HostPath("C:\\winnt\\New\\File.Ini"),
              image.Dir() / "drives/C/WINNT/New/File.Ini");
    EXPECT_EQ(M().HostPath("a:\\"), image.Dir() / "drives" / "A");
    // A drive without a folder is not on this machine; a UNC path is on no drive.
    EXPECT_EQ(M().HostPath("Q:\\x"), std::nullopt);
    EXPECT_EQ(M().HostPath("\\\\server\\share"), std::nullopt);
}

TEST_F(PathsFixture, DoubleBytePathKeepsATrailBackslashInItsName) {
    M().Config().codePage = 932;
    // 0x95 0x5C is one character; its second byte is no separator.
    EXPECT_EQ(M().FullPath("C:\\\x95\x5C\\x"), "C:\\\x95\x5C\\x");
    M().Config().codePage = 1252;
    EXPECT_EQ(M().FullPath("C:\\\x95\x5C\\x"), "C:\\\x95\\x");
}

TEST_F(PathsFixture, SystemDirectoryIsTheWindowsDirectoryPlusSystem32) {
    EXPECT_EQ(M().SystemDirectory(), "C:\\WINNT\\system32");
    M().Config().windowsDirectory = "D:\\";
    EXPECT_EQ(M().SystemDirectory(), "D:\\system32");
}

// Each directory call: the exact fit returns the length, one byte less returns the size needed
// with the terminator and leaves the buffer alone.
TEST_F(PathsFixture, DirectoryCallsKeepTheBufferSizeContract) {
    struct Row {
        const char* name;
        std::function<UINT(LPSTR, UINT)> call;
        std::string expected;
    };
    const Row rows[] = {
        {"GetCurrentDirectoryA", [](LPSTR b, UINT n) { return GetCurrentDirectoryA(n, b); },
         "C:\\WINNT\\system32"},
        {"GetWindowsDirectoryA", [](LPSTR b, UINT n) { return GetWindowsDirectoryA(b, n); },
         "C:\\WINNT"},
        {"GetSystemDirectoryA", [](LPSTR b, UINT n) { return GetSystemDirectoryA(b, n); },
         "C:\\WINNT\\system32"},
        {"GetFullPathNameA",
         [](LPSTR b, UINT n) { return GetFullPathNameA("..\\Media", n, b, nullptr); },
         "C:\\WINNT\\Media"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const UINT length = static_cast<UINT>(row.expected.size());
        std::string buffer = Filled(300);
        EXPECT_EQ(row.call(buffer.data(), 300), length);
        EXPECT_EQ(std::string(buffer.c_str()), row.expected);
        EXPECT_EQ(buffer[length + 1], kJunk);

        buffer = Filled(300);
        EXPECT_EQ(row.call(buffer.data(), length + 1), length);
        EXPECT_EQ(std::string(buffer.c_str()), row.expected);

        buffer = Filled(300);
        EXPECT_EQ(row.call(buffer.data(), length), length + 1);
        EXPECT_EQ(buffer, Filled(300));
        EXPECT_EQ(row.call(nullptr, 0), length + 1);
    }
}

TEST_F(PathsFixture, CurrentDirectoryOfARootKeepsItsBackslash) {
    ASSERT_TRUE(SetCurrentDirectoryA("a:\\"));
    char buffer[8];
    std::memset(buffer, kJunk, sizeof buffer);
    EXPECT_EQ(GetCurrentDirectoryA(4, buffer), 3u);
    EXPECT_STREQ(buffer, "A:\\");
    EXPECT_EQ(GetCurrentDirectoryA(3, buffer), 4u);
}

TEST_F(PathsFixture, SetCurrentDirectoryStoresTheFullPath) {
    ASSERT_TRUE(SetCurrentDirectoryA("drivers\\"));
    EXPECT_EQ(M().CurrentDirectory(), "C:\\WINNT\\system32\\drivers");
    ASSERT_TRUE(SetCurrentDirectoryA("..\\.."));
    EXPECT_EQ(M().CurrentDirectory(), "C:\\WINNT");
    ASSERT_TRUE(SetCurrentDirectoryA("A:/disk1"));
    EXPECT_EQ(M().CurrentDirectory(), "A:\\disk1");
}

TEST_F(PathsFixture, SetCurrentDirectoryRefusesWhatIsNoFolder) {
    struct Row {
        const char* path;
        DWORD error;
    };
    const Row rows[] = {
        {"C:\\WINNT\\Missing", ERROR_FILE_NOT_FOUND},
        {"C:\\Missing\\Deeper", ERROR_PATH_NOT_FOUND},
        {"Q:\\", ERROR_PATH_NOT_FOUND},
        {"A:\\TONEBAY.DLL", ERROR_DIRECTORY},
        {"C:\\WINNT\\a|b", ERROR_INVALID_NAME},
    };
    for (const Row& row : rows) {
        M().LastError() = 0;
        EXPECT_FALSE(SetCurrentDirectoryA(row.path)) << row.path;
        EXPECT_EQ(LastError(), row.error) << row.path;
        EXPECT_EQ(M().CurrentDirectory(), "C:\\WINNT\\system32");
    }
}

TEST_F(PathsFixture, CopyFileCopiesTheBytes) {
    ASSERT_TRUE(CopyFileA("A:\\tonebay.dll", "TONEBAY.DLL", TRUE));
    EXPECT_EQ(image.Read("C:\\WINNT\\System32\\TONEBAY.DLL"), "driver bytes");
    EXPECT_EQ(image.Read("A:\\TONEBAY.DLL"), "driver bytes");
}

TEST_F(PathsFixture, CopyFileOverExistingFileHonoursFailIfExists) {
    M().LastError() = 0;
    EXPECT_FALSE(CopyFileA("A:\\TONEBAY.DLL", "C:\\WINNT\\SYSTEM32\\OLD.DLL", TRUE));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(image.Read("C:\\WINNT\\System32\\Old.Dll"), "old");

    ASSERT_TRUE(CopyFileA("A:\\TONEBAY.DLL", "C:\\WINNT\\SYSTEM32\\OLD.DLL", FALSE));
    // The existing file is replaced under its own name, not joined by a second one.
    const auto folder = image.Dir() / "drives/C/WINNT/System32";
    EXPECT_EQ(image.Read("C:\\WINNT\\System32\\Old.Dll"), "driver bytes");
    EXPECT_FALSE(std::filesystem::exists(folder / "OLD.DLL"));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++entries;
    EXPECT_EQ(entries, 2u); // Drivers and Old.Dll: no temporary file left behind
}

TEST_F(PathsFixture, CopyFileFailures) {
    struct Row {
        const char* from;
        const char* to;
        DWORD error;
    };
    const Row rows[] = {
        {"A:\\MISSING.DLL", "C:\\x.dll", ERROR_FILE_NOT_FOUND},
        {"A:\\NoFolder\\MISSING.DLL", "C:\\x.dll", ERROR_PATH_NOT_FOUND},
        {"A:\\TONEBAY.DLL", "C:\\NoFolder\\x.dll", ERROR_PATH_NOT_FOUND},
        {"A:\\TONEBAY.DLL", "Q:\\x.dll", ERROR_PATH_NOT_FOUND},
        {"A:\\TONEBAY.DLL", "a:\\tonebay.DLL", ERROR_SHARING_VIOLATION},
        {"A:\\Disk1", "C:\\x.dll", ERROR_ACCESS_DENIED},
    };
    for (const Row& row : rows) {
        M().LastError() = 0;
        EXPECT_FALSE(CopyFileA(row.from, row.to, FALSE)) << row.from << " -> " << row.to;
        EXPECT_EQ(LastError(), row.error) << row.from << " -> " << row.to;
    }
    EXPECT_FALSE(image.Exists("C:\\x.dll"));
    EXPECT_EQ(image.Read("A:\\TONEBAY.DLL"), "driver bytes");
}

// Files by handle: written from empty, read back byte for byte, replaced by a rename, and every
// handle closed exactly once.
TEST_F(PathsFixture, FilesByHandleWriteReadAndMove) {
    const std::string bytes("link\0data\xFF", 10);
    HANDLE out = CreateFileA("New.Lnk", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD count = 99;
    EXPECT_TRUE(WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr));
    EXPECT_EQ(count, bytes.size());
    EXPECT_EQ(M().Objects().Leaks(), std::vector<std::string>{"file C:\\WINNT\\system32\\New.Lnk"});
    EXPECT_TRUE(CloseHandle(out));
    EXPECT_FALSE(CloseHandle(out));
    EXPECT_EQ(image.Read("C:\\WINNT\\System32\\New.Lnk"), bytes);

    HANDLE in = CreateFileA("C:\\WINNT\\SYSTEM32\\NEW.LNK", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(in, nullptr), bytes.size());
    std::string buffer = Filled(20);
    EXPECT_TRUE(ReadFile(in, buffer.data(), 20, &count, nullptr));
    EXPECT_EQ(buffer, bytes + Filled(10));
    EXPECT_TRUE(ReadFile(in, buffer.data(), 20, &count, nullptr)); // the end reads 0 bytes
    EXPECT_EQ(count, 0u);
    M().LastError() = 0;
    EXPECT_FALSE(WriteFile(in, "x", 1, &count, nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(in));
    EXPECT_TRUE(M().Objects().Leaks().empty());

    struct Row {
        const char* path;
        DWORD disposition;
        DWORD error;
    };
    const Row rows[] = {
        {"Missing.Lnk", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"C:\\NoFolder\\x.lnk", CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"Old.Dll", CREATE_NEW, ERROR_FILE_EXISTS},
        {"Drivers", OPEN_EXISTING, ERROR_ACCESS_DENIED},
    };
    for (const Row& row : rows) {
        M().LastError() = 0;
        EXPECT_EQ(CreateFileA(row.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, row.disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr),
                  INVALID_HANDLE_VALUE)
            << row.path;
        EXPECT_EQ(LastError(), row.error) << row.path;
    }
    EXPECT_EQ(image.Read("C:\\WINNT\\System32\\Old.Dll"), "old");

    M().LastError() = 0;
    EXPECT_FALSE(MoveFileExA("New.Lnk", "Old.Dll", 0));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExA("New.Lnk", "Old.Dll", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(image.Read("C:\\WINNT\\System32\\Old.Dll"), bytes);
    EXPECT_FALSE(image.Exists("C:\\WINNT\\System32\\New.Lnk"));
    EXPECT_TRUE(DeleteFileA("Old.Dll"));
    EXPECT_FALSE(image.Exists("C:\\WINNT\\System32\\Old.Dll"));
}

TEST_F(PathsFixture, CreateDirectoryMakesOneLevel) {
    ASSERT_TRUE(CreateDirectoryA("C:\\WINNT\\Media", nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(image.Dir() / "drives/C/WINNT/Media"));

    M().LastError() = 0;
    EXPECT_FALSE(CreateDirectoryA("c:\\winnt\\MEDIA", nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("A:\\TONEBAY.DLL", nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("C:\\One\\Two", nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(image.Exists("C:\\One"));
}

TEST_F(PathsFixture, FileAttributes) {
    struct Row {
        const char* path;
        DWORD attributes;
        DWORD error;
    };
    const Row rows[] = {
        {"C:\\WINNT\\SYSTEM32", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"C:\\", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"old.dll", FILE_ATTRIBUTE_ARCHIVE, 0},
        {"C:\\WINNT\\missing.dll", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {"C:\\Missing\\x.dll", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"Q:\\x.dll", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"C:\\*.dll", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
    };
    for (const Row& row : rows) {
        M().LastError() = 0;
        EXPECT_EQ(GetFileAttributesA(row.path), row.attributes) << row.path;
        EXPECT_EQ(LastError(), row.error) << row.path;
    }
}

// Read-only holds whoever runs the machine (root too); a copy keeps its source's attribute.
TEST_F(PathsFixture, ReadOnlyFilesAreNotWritten) {
    ASSERT_TRUE(SetFileAttributesA("Old.Dll", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CopyFileA("Old.Dll", "Copy.Dll", FALSE));
    for (const char* name : {"Old.Dll", "Copy.Dll"}) {
        EXPECT_EQ(GetFileAttributesA(name), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
        EXPECT_FALSE(CopyFileA("A:\\TONEBAY.DLL", name, FALSE));
        EXPECT_EQ(CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_FALSE(MoveFileExA("A:\\TONEBAY.DLL", name, MOVEFILE_REPLACE_EXISTING));
        EXPECT_FALSE(DeleteFileA(name));
        EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(image.Read(std::string("C:\\WINNT\\System32\\") + name), "old");
    }
    ASSERT_TRUE(SetFileAttributesA("Copy.Dll", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(CopyFileA("A:\\TONEBAY.DLL", "Copy.Dll", FALSE));
}

TEST_F(PathsFixture, FaultedCallsFailWithAccessDenied) {
    M().Fault().Add("GetCurrentDirectoryA", "*");
    M().Fault().Add("GetWindowsDirectoryA", "*");
    M().Fault().Add("GetSystemDirectoryA", "#2");
    M().Fault().Add("SetCurrentDirectoryA", "drivers");
    M().Fault().Add("CopyFileA", "tonebay");
    M().Fault().Add("CreateDirectoryA", "media");
    M().Fault().Add("GetFileAttributesA", "old.dll");
    char buffer[MAX_PATH];

    M().LastError() = 0;
    EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buffer), 0u);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    M().LastError() = 0;
    EXPECT_EQ(GetWindowsDirectoryA(buffer, MAX_PATH), 0u);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(GetSystemDirectoryA(buffer, MAX_PATH), 0u);
    M().LastError() = 0;
    EXPECT_EQ(GetSystemDirectoryA(buffer, MAX_PATH), 0u);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(GetSystemDirectoryA(buffer, MAX_PATH), 0u);

    M().LastError() = 0;
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\WINNT\\SYSTEM32\\DRIVERS"));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(M().CurrentDirectory(), "C:\\WINNT\\system32");
    M().LastError() = 0;
    EXPECT_FALSE(CopyFileA("A:\\TONEBAY.DLL", "C:\\x.dll", FALSE));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(image.Exists("C:\\x.dll"));
    EXPECT_TRUE(CopyFileA("A:\\Disk1\\Readme.txt", "C:\\readme.txt", FALSE));
    M().LastError() = 0;
    EXPECT_FALSE(CreateDirectoryA("C:\\Media", nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(image.Exists("C:\\Media"));
    M().LastError() = 0;
    EXPECT_EQ(GetFileAttributesA("OLD.DLL"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Each call is counted once.
    EXPECT_EQ(M().Fault().Calls("GetSystemDirectoryA"), 3);
    EXPECT_EQ(M().Fault().Calls("CopyFileA"), 2);
}
