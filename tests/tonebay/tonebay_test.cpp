// The sample sound driver as the emulated machine loads it: its answers and the parameters it
// stores, read from TONEBAY.INI beside the DLL, whatever the settings file holds.
#include "support/test_machine.h"

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;

const WCHAR kTonebay[] = {'T', 'O', 'N', 'E', 'B', 'A', 'Y', '.', 'D', 'L', 'L', 0};
const char kParameters[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\TONEBAY\\Parameters\\Device0";
const char kDisk[] = "A:\\DISK1"; // setup is started from a subfolder of the install disk

// The parameters key as "name=value ...", in the order written; "-" when there is no key.
std::string Stored(winemu::Machine& m) {
    const winemu::RegKey* key = m.Reg().Find(kParameters);
    if (key == nullptr)
        return "-";
    std::string text;
    for (const winemu::RegValue& value : key->values) {
        DWORD number = 0;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << value.name;
        EXPECT_EQ(value.data.size(), sizeof(number)) << value.name;
        std::memcpy(&number, value.data.data(), std::min(value.data.size(), sizeof(number)));
        text += (text.empty() ? "" : " ") + value.name + "=" + std::to_string(number);
    }
    return text;
}

TEST(TonebayDriver, SettingsTable) {
    struct Row {
        const char* name;
        const char* folder; // where TONEBAY.DLL lies
        const char* ini;    // TONEBAY.INI beside it; null: none
        const char* faultApi;
        const char* faultText;
        LRESULT install, query, configure;
        const char* installed;  // the parameters key after DRV_INSTALL ("-": none)
        const char* configured; // the same after DRV_CONFIGURE, the key removed in between
    };
    const char* kBoth = "CurrentProduct=12 COMOption=3";
    const std::string sample =
        "[Driver]\nInstall=2\nQueryConfigure=1\n[Parameters]\nCurrentProduct=12\nCOMOption=3\n";
    const Row rows[] = {
        {"no settings file", kDisk, nullptr, nullptr, nullptr, 1, 0, 1, "-", "-"},
        {"empty [Driver]", kDisk, "[Driver]\n", nullptr, nullptr, 1, 0, 1, "-", "-"},
        {"sample", kDisk, sample.c_str(), nullptr, nullptr, 2, 1, 1, kBoth, kBoth},
        {"signed", kDisk,
         "[Driver]\nInstall=-1\nQueryConfigure=+1\nConfigure=-0\n[Parameters]\nA=-1\nB=+5\n",
         nullptr, nullptr, -1, 1, 0, "A=4294967295 B=5", "-"},
        {"hex", kDisk,
         "[Driver]\nInstall=0x2\nQueryConfigure=0x1\n[Parameters]\nCurrentProduct=0xC\n"
         "COMOption=0XfF\nBig=0x123456789\n",
         nullptr, nullptr, 2, 1, 1, "CurrentProduct=12 COMOption=255 Big=4294967295",
         "CurrentProduct=12 COMOption=255 Big=4294967295"},
        {"leading zeros are decimal", kDisk,
         "[Driver]\nInstall=0002\n[Parameters]\nCurrentProduct=012\nCOMOption=0x0003\n", nullptr,
         nullptr, 2, 0, 1, kBoth, kBoth},
        {"spaces and comments", kDisk,
         "; settings\n[Driver]  ; answers\n  Install = 2   ; restart\nQueryConfigure=1;yes\n"
         "[Parameters]  ; values\n; Old=5\n  CurrentProduct = 12 ; Card12\nCOMOption=\t3\nno "
         "equals\n",
         nullptr, nullptr, 2, 1, 1, kBoth, kBoth},
        {"missing keys and no digits", kDisk,
         "[Driver]\nInstall=two\n[Parameters]\nCOMOption=\nCurrentProduct=x7\n", nullptr, nullptr,
         0, 0, 1, "-", "COMOption=0 CurrentProduct=0"},
        {"repeated name", kDisk, "[Parameters]\nCOMOption=1\ncomoption=2\n", nullptr, nullptr, 1, 0,
         1, "COMOption=2", "COMOption=2"},
        {"at the disk's root", "A:\\", sample.c_str(), nullptr, nullptr, 2, 1, 1, kBoth, kBoth},
        {"found in system32, settings only on the disk", "C:\\WINNT\\system32", nullptr, nullptr,
         nullptr, 1, 0, 1, "-", "-"},
        {"a value cannot be written", kDisk, sample.c_str(), "RegSetValueExA", "COMOption", 0, 1, 0,
         "CurrentProduct=12", "CurrentProduct=12"},
        {"the key cannot be created", kDisk, sample.c_str(), "RegCreateKeyExA", "TONEBAY", 0, 1, 0,
         "-", "-"},
        {"own file name unknown", kDisk, sample.c_str(), "GetModuleFileNameA", "TONEBAY", 0, 0, 0,
         "-", "-"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image;
        // Settings at the disk's root and in the program's folder that are not beside the DLL.
        const char* decoy = "[Driver]\nInstall=9\nQueryConfigure=9\n[Parameters]\nDecoy=1\n";
        std::string folder = row.folder;
        if (folder.back() != '\\')
            folder += '\\';
        image.File("A:\\TONEBAY.INI", decoy).Folder(kDisk).Folder("C:\\WINNT\\system32");
        if (folder != std::string(kDisk) + "\\")
            image.File(std::string(kDisk) + "\\TONEBAY.INI", decoy);
        image.File(folder + "TONEBAY.DLL", "driver");
        if (row.ini != nullptr)
            image.File(folder + "TONEBAY.INI", row.ini);
        ActiveMachine machine(image);
        // Setup runs from the disk: the row's folder when it is there.
        machine.M().Config().currentDirectory = row.folder[0] == 'A' ? row.folder : kDisk;
        machine.M().CurrentDirectory() = "C:\\";

        HDRVR hdrvr = OpenDriver(kTonebay, nullptr, 0);
        ASSERT_NE(hdrvr, nullptr);
        if (row.faultApi != nullptr)
            machine.M().Fault().Add(row.faultApi, row.faultText);
        DRVCONFIGINFO dci = {sizeof(DRVCONFIGINFO), nullptr, nullptr};
        const LPARAM config = reinterpret_cast<LPARAM>(&dci);
        EXPECT_EQ(SendDriverMessage(hdrvr, DRV_INSTALL, 0, config), row.install);
        EXPECT_EQ(Stored(machine.M()), row.installed);
        machine.M().Reg().Delete(kParameters);
        EXPECT_EQ(SendDriverMessage(hdrvr, DRV_QUERYCONFIGURE, 0, 0), row.query);
        EXPECT_EQ(SendDriverMessage(hdrvr, DRV_CONFIGURE, 0, config), row.configure);
        EXPECT_EQ(Stored(machine.M()), row.configured);
        EXPECT_EQ(CloseDriver(hdrvr, 0, 0), 1);
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

// Opening and closing are answered 1 (or as [Driver] says); the rest as DefDriverProc answers.
TEST(TonebayDriver, OtherMessagesAreDefDriverProcs) {
    TestImage image;
    image.File("A:\\TONEBAY.DLL", "driver").File("A:\\TONEBAY.INI", "[Driver]\nInstall=0\n");
    ActiveMachine machine(image);
    HDRVR hdrvr = OpenDriver(kTonebay, nullptr, 0);
    ASSERT_NE(hdrvr, nullptr);
    const UINT messages[] = {DRV_LOAD,    DRV_ENABLE, DRV_OPEN,   DRV_CLOSE,
                             DRV_DISABLE, DRV_FREE,   DRV_REMOVE, 0x4000};
    for (UINT message : messages) {
        SCOPED_TRACE(message);
        EXPECT_EQ(SendDriverMessage(hdrvr, message, 0, 0), DefDriverProc(0, hdrvr, message, 0, 0));
    }
    EXPECT_EQ(CloseDriver(hdrvr, 0, 0), 1);
}

} // namespace
