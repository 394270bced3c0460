// Loading the system DLLs and finding their entry points, as a program that checks for the
// registry services before it starts does.
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

class ModulesTest : public ::testing::Test {
  protected:
    ModulesTest() : machine_(image_.Dir()), active_(machine_) {}

    testsupport::TestImage image_;
    winemu::Machine machine_;
    winemu::ScopedMachine active_;
};

// The registry entry points a program may look up, with the functions they must lead to.
template <class F> FARPROC Proc(F* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

TEST_F(ModulesTest, LoadLibraryNamesTable) {
    struct Row {
        const char* name;
        bool loads;
    };
    // ".DLL" is implied only without an extension; a trailing dot means a file without one.
    const std::string system32 = machine_.SystemDirectory() + "\\advapi32.dll";
    const Row rows[] = {
        {"ADVAPI32.DLL", true},   {"advapi32.dll", true},
        {"advapi32", true},       {"AdvApi32.", false},
        {system32.c_str(), true}, {"KERNEL32.DLL", true},
        {"user32", true},         {"ADVAPI32.EXE", false},
        {"ADVAPI", false},        {"A:\\ADVAPI32.DLL", false},
        {"TONEBAY.DLL", false},   {"", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        machine_.LastError() = 0xDEAD;
        HMODULE module = LoadLibraryA(row.name);
        if (!row.loads) {
            EXPECT_EQ(NULL, module);
            EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), machine_.LastError());
            continue;
        }
        ASSERT_NE(nullptr, module);
        EXPECT_EQ(1u, machine_.Objects().CountOpen(winemu::HandleKind::Module));
        EXPECT_TRUE(machine_.Objects().Leaks().empty()); // a held module is no leak
        auto held =
            machine_.Objects().Get(reinterpret_cast<ULONG_PTR>(module), winemu::HandleKind::Module);
        EXPECT_NE(nullptr, held);
        EXPECT_TRUE(FreeLibrary(module));
        EXPECT_EQ(0u, machine_.Objects().CountOpen(winemu::HandleKind::Module));
    }
}

TEST_F(ModulesTest, EachLoadIsItsOwnHandle) {
    HMODULE first = LoadLibraryA("ADVAPI32.DLL");
    HMODULE second = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(first, second);
    EXPECT_EQ(2u, machine_.Objects().CountOpen(winemu::HandleKind::Module));
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_NE(nullptr, GetProcAddress(second, "RegCloseKey")); // the other load stays usable
    EXPECT_TRUE(FreeLibrary(second));
}

// A TONEBAY.DLL file where LoadLibraryA looks loads as the built driver, from that file.
TEST_F(ModulesTest, ADriverFileLoadsAsTheBuiltDriver) {
    image_.File("A:\\TONEBAY.DLL", "driver");
    HMODULE module = LoadLibraryA("TONEBAY"); // ".DLL" implied
    ASSERT_NE(nullptr, module);
    EXPECT_NE(nullptr, GetProcAddress(module, "DriverProc"));
    char path[MAX_PATH];
    EXPECT_EQ(14u, GetModuleFileNameA(module, path, sizeof(path)));
    EXPECT_STREQ("A:\\TONEBAY.DLL", path);
    char cut[5]; // a name that does not fit is cut and ended
    EXPECT_EQ(5u, GetModuleFileNameA(module, cut, sizeof(cut)));
    EXPECT_STREQ("A:\\T", cut);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(0u, GetModuleFileNameA(module, path, sizeof(path)));
}

TEST_F(ModulesTest, RegistryExportsAreTheEmulatedFunctions) {
    struct Row {
        const char* name;
        FARPROC function;
    };
    const Row rows[] = {
        {"RegCloseKey", Proc(&RegCloseKey)},
        {"RegCreateKeyA", Proc(&RegCreateKeyA)},
        {"RegDeleteKeyA", Proc(&RegDeleteKeyA)},
        {"RegOpenKeyA", Proc(&RegOpenKeyA)},
        {"RegQueryValueA", Proc(&RegQueryValueA)},
        {"RegSetValueA", Proc(&RegSetValueA)},
        {"RegCreateKeyExA", Proc(&RegCreateKeyExA)},
        {"RegOpenKeyExA", Proc(&RegOpenKeyExA)},
        {"RegQueryValueExA", Proc(&RegQueryValueExA)},
        {"RegSetValueExA", Proc(&RegSetValueExA)},
        {"RegEnumKeyA", Proc(&RegEnumKeyA)},
        {"RegEnumKeyExA", Proc(&RegEnumKeyExA)},
        {"RegQueryInfoKeyA", Proc(&RegQueryInfoKeyA)},
        {"OpenProcessToken", Proc(&OpenProcessToken)},
        {"LookupPrivilegeValueA", Proc(&LookupPrivilegeValueA)},
        {"AdjustTokenPrivileges", Proc(&AdjustTokenPrivileges)},
    };
    HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(nullptr, advapi);
    for (const Row& row : rows)
        EXPECT_EQ(row.function, GetProcAddress(advapi, row.name)) << row.name;

    // Called through the address found, the function works on the machine's registry.
    using RegCreateKeyProc = LONG(WINAPI*)(HKEY, LPCSTR, PHKEY);
    auto create = reinterpret_cast<RegCreateKeyProc>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(advapi, "RegCreateKeyA")));
    HKEY key = NULL;
    EXPECT_EQ(ERROR_SUCCESS, create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Loaded", &key));
    EXPECT_NE(nullptr, machine_.Reg().Find("HKLM\\SOFTWARE\\Loaded"));
    RegCloseKey(key);
    FreeLibrary(advapi);
}

TEST_F(ModulesTest, UnknownEntryPoints) {
    HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    struct Row {
        HMODULE module;
        const char* name;
    };
    const Row rows[] = {
        {advapi, "RegOpenKeyW"},     {advapi, "regopenkeya"}, // export names keep their case
        {advapi, "RegDeleteValueW"}, {advapi, ""},
        {kernel, "RegOpenKeyA"},
    };
    for (const Row& row : rows) {
        machine_.LastError() = 0;
        EXPECT_EQ(NULL, GetProcAddress(row.module, row.name)) << row.name;
        EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), machine_.LastError()) << row.name;
    }
    // An ordinal names nothing here.
    EXPECT_EQ(NULL, GetProcAddress(advapi, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(1))));
    FreeLibrary(kernel);
    FreeLibrary(advapi);
}

TEST_F(ModulesTest, FreeLibraryTwiceAndStaleHandles) {
    HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(nullptr, advapi);
    EXPECT_TRUE(FreeLibrary(advapi));
    machine_.LastError() = 0;
    EXPECT_FALSE(FreeLibrary(advapi));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), machine_.LastError());
    EXPECT_EQ(NULL, GetProcAddress(advapi, "RegCloseKey"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), machine_.LastError());
    EXPECT_FALSE(FreeLibrary(NULL));

    // A registry key handle is no module.
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &key));
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(key)));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(ModulesTest, FaultsLeaveOutALibraryOrAnExport) {
    machine_.Fault().Add("GetProcAddress", "RegDeleteKeyA");
    machine_.Fault().Add("LoadLibraryA", "user32");
    HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(nullptr, advapi);
    machine_.LastError() = 0;
    EXPECT_EQ(NULL, GetProcAddress(advapi, "RegDeleteKeyA"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), machine_.LastError());
    EXPECT_EQ(NULL, GetProcAddress(advapi, "RegDeleteKeyA")); // every time
    EXPECT_NE(nullptr, GetProcAddress(advapi, "RegCloseKey"));
    EXPECT_EQ(3, machine_.Fault().Calls("GetProcAddress"));

    machine_.LastError() = 0;
    EXPECT_EQ(NULL, LoadLibraryA("USER32.DLL"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), machine_.LastError());
    EXPECT_EQ(1u, machine_.Objects().CountOpen(winemu::HandleKind::Module));

    machine_.Fault().Clear();
    machine_.Fault().Add("GetProcAddress", "#2");
    EXPECT_NE(nullptr, GetProcAddress(advapi, "RegCloseKey"));
    EXPECT_EQ(NULL, GetProcAddress(advapi, "RegCloseKey"));
    EXPECT_NE(nullptr, GetProcAddress(advapi, "RegCloseKey"));
    FreeLibrary(advapi);
}

// What GetProcAddress finds in a system DLL is what the headers declare for it: setupapi.h, and
// the groups of windows.h headed "// ADVAPI32: ..."; each table entry names the function it is.
// The headers and the tables are read as text.
TEST_F(ModulesTest, ExportTablesMatchTheHeaders) {
    const std::filesystem::path root =
        std::filesystem::path(SOUNDSETUP_SOURCE_DIR) / "platform" / "winemu";
    const std::regex group("^// ([A-Z0-9]+): ");
    const std::regex function("WINAPIV? (\\w+)\\(");
    std::map<std::string, std::set<std::string>> declared;
    for (std::string header : {"windows.h", "mmsystem.h", "setupapi.h"}) {
        std::string dll = header == "setupapi.h"   ? "SETUPAPI"
                          : header == "mmsystem.h" ? "WINMM"
                                                   : "";
        std::ifstream in(root / "include" / header);
        std::smatch m;
        for (std::string line; std::getline(in, line);) {
            if (std::regex_search(line, m, group))
                dll = m[1];
            else if (std::regex_search(line, m, function))
                declared[dll].insert(m[1]);
        }
    }
    const std::regex table("^const Export k(\\w+)Exports\\[\\] = \\{");
    const std::regex entry("\\{\"(\\w+)\", Address\\(&(\\w+)\\)\\}");
    std::map<std::string, std::set<std::string>> exported;
    std::ifstream in(root / "kernel32" / "modules.cpp");
    std::string dll;
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_search(line, m, table)) {
            dll = m[1];
            for (char& c : dll)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else if (std::regex_search(line, m, entry)) {
            // The built-in driver's entry points carry its name in front.
            EXPECT_EQ((dll == "TONEBAY" ? "Tonebay" : "") + m[1].str(), m[2].str());
            exported[dll].insert(m[1]);
        }
    }
    for (const char* name : {"ADVAPI32", "SETUPAPI"}) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(exported[name].empty());
        EXPECT_EQ(declared[name], exported[name]);
        HMODULE module = LoadLibraryA(name);
        for (const std::string& symbol : declared[name])
            EXPECT_NE(nullptr, GetProcAddress(module, symbol.c_str())) << symbol;
        EXPECT_TRUE(FreeLibrary(module));
    }
}

} // namespace
