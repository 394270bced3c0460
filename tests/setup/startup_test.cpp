// Start-up and the end of a run, one operation at a time on a machine in this process: the
// source directory from the current directory, the failed start of the toolkit, the registry
// entry-point check, and the restart of Windows with each of its calls failing.
#include "setup/setup.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;
using winemu::HandleKind;

// Module-level state lives for the whole test program: every test starts from a fresh run.
class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fFatal = 0;
        fTerminating = 0;
        fRestart = 0;
        hmodRegistry = NULL;
        hwndFrameMain = NULL;
        szSourceDir[0] = '\0';
    }
};

struct SourceDirRow {
    UINT codePage;
    std::string sCurrentDir;
    std::string sSourceDir;
};

TEST_F(StartupTest, SourceDirectoryIsTheCurrentDirectoryWithOneTrailingBackslash) {
    const std::string sDeep254 = "C:\\" + std::string(251, 'd'); // 254 characters
    const std::string sDeep255 = "C:\\" + std::string(252, 'd');
    const SourceDirRow rows[] = {
        {1252, "D:\\", "D:\\"},
        {1252, "D:\\SETUP", "D:\\SETUP\\"},
        {1252, "A:\\DISK1\\NT", "A:\\DISK1\\NT\\"},
        {932, "A:\\SETUP", "A:\\SETUP\\"},
        // The longest that fits: 254 characters and the backslash fill the 256 bytes.
        {1252, sDeep254, sDeep254 + "\\"},
        // Too long for the read: setup.inf is then looked for at the root of the current drive.
        {1252, sDeep255, "\\"},
        {1252, "C:\\" + std::string(300, 'd'), "\\"},
    };
    for (const SourceDirRow& row : rows) {
        SCOPED_TRACE(row.sCurrentDir);
        TestImage image;
        image.Ini("[Machine]\nCodePage=" + std::to_string(row.codePage) + "\n");
        ActiveMachine machine(image);
        machine->CurrentDirectory() = row.sCurrentDir;
        szSourceDir[0] = '\0';

        HWND hwnd = HwndStartSetup((LPSTR) "");
        EXPECT_GT((LONG_PTR)hwnd, 0);
        EXPECT_EQ(hwnd, hwndFrameMain);
        EXPECT_EQ(std::string(szSourceDir), row.sSourceDir);
        // The error mode is given back as it was.
        EXPECT_EQ(machine->ErrorMode(), 0u);
    }
}

// The last character is double-byte; its second byte 0x5C is no backslash, so one is added.
TEST_F(StartupTest, SourceDirectoryEndingInADoubleByteCharacterGetsABackslash) {
    TestImage image;
    image.Ini("[Machine]\nCodePage=932\n");
    ActiveMachine machine(image);
    machine->CurrentDirectory() = "A:\\\x83\x5C";

    EXPECT_GT((LONG_PTR)HwndStartSetup((LPSTR) ""), 0);
    EXPECT_EQ(std::string(szSourceDir), "A:\\\x83\x5C\\");
}

TEST_F(StartupTest, AFailedToolkitStartReturnsZeroAndStoresNoFrame) {
    for (const char* szApi : {"InitializeFrame", "FInitializeInstall"}) {
        SCOPED_TRACE(szApi);
        TestImage image;
        ActiveMachine machine(image);
        machine->Fault().Add(szApi, "*");
        hwndFrameMain = NULL;
        fTerminating = 0;

        EXPECT_EQ(HwndStartSetup((LPSTR) ""), (HWND)NULL);
        EXPECT_EQ(hwndFrameMain, (HWND)NULL);
        // Termination ran: the toolkit's frame is down.
        EXPECT_EQ(HwndFrame(), (HWND)NULL);
        EXPECT_EQ(fTerminating, 1);
    }
}

TEST_F(StartupTest, RegistryEntryPointsLoadAndReleaseOnce) {
    TestImage image;
    ActiveMachine machine(image);

    // A release with nothing held does nothing.
    ReleaseRegistryEntryPoints();
    EXPECT_EQ(machine->Objects().CountOpen(HandleKind::Module), 0u);

    ASSERT_TRUE(FLoadRegistryEntryPoints());
    EXPECT_NE(hmodRegistry, (HMODULE)NULL);
    EXPECT_EQ(machine->Objects().CountOpen(HandleKind::Module), 1u);
    EXPECT_EQ(machine->Fault().Calls("LoadLibraryA"), 1);
    EXPECT_EQ(machine->Fault().Calls("GetProcAddress"), 12);

    ReleaseRegistryEntryPoints();
    EXPECT_EQ(hmodRegistry, (HMODULE)NULL);
    EXPECT_EQ(machine->Objects().CountOpen(HandleKind::Module), 0u);
    ReleaseRegistryEntryPoints();
    EXPECT_EQ(machine->Objects().CountOpen(HandleKind::Module), 0u);
}

struct LoaderRow {
    const char* szApi;
    const char* szSpec;
    BOOL fLoaded;
    int cLookups; // GetProcAddress calls made
};

TEST_F(StartupTest, RegistryLoaderFailsOnlyForTheLibraryOrARequiredEntryPoint) {
    const LoaderRow rows[] = {
        {"LoadLibraryA", "ADVAPI32", FALSE, 0},
        // All six required ones are looked up before any is judged; the rest are not looked up.
        {"GetProcAddress", "RegDeleteKeyA", FALSE, 6},
        {"GetProcAddress", "RegCloseKey", FALSE, 6},
        {"GetProcAddress", "RegSetValueA", FALSE, 6},
        {"GetProcAddress", "RegQueryInfoKeyA", TRUE, 12},
        {"GetProcAddress", "RegEnumKeyA", TRUE, 12},
        {"GetProcAddress", "RegCreateKeyExA", TRUE, 12},
    };
    for (const LoaderRow& row : rows) {
        SCOPED_TRACE(std::string(row.szApi) + "=" + row.szSpec);
        TestImage image;
        ActiveMachine machine(image);
        hmodRegistry = NULL;
        machine->Fault().Add(row.szApi, row.szSpec);

        EXPECT_EQ(!!FLoadRegistryEntryPoints(), !!row.fLoaded);
        EXPECT_EQ(hmodRegistry != NULL, !!row.fLoaded);
        EXPECT_EQ(machine->Objects().CountOpen(HandleKind::Module), row.fLoaded ? 1u : 0u);
        EXPECT_EQ(machine->Fault().Calls("GetProcAddress"), row.cLookups);
        ReleaseRegistryEntryPoints();
        EXPECT_EQ(machine->Objects().CountOpen(HandleKind::Module), 0u);
    }
}

struct DeviceRow {
    const char* szDevice;
    int cAsked; // device counts asked, in the order wave out, wave in, MIDI out, MIDI in
};

// Any wave or MIDI device refuses setup; the counts after the first one found are not asked.
TEST_F(StartupTest, AnyWaveOrMidiDeviceRefusesSetup) {
    const char* rgszCount[] = {"waveOutGetNumDevs", "waveInGetNumDevs", "midiOutGetNumDevs",
                               "midiInGetNumDevs"};
    const DeviceRow rows[] = {
        {"WaveOut", 1}, {"WaveIn", 2}, {"MidiOut", 3}, {"MidiIn", 4}, {nullptr, 4}};
    for (const DeviceRow& row : rows) {
        SCOPED_TRACE(row.szDevice ? row.szDevice : "no device");
        TestImage image;
        image.Ini(std::string("[Machine]\nVersion=4.0\n[Devices]\n") +
                  (row.szDevice ? std::string(row.szDevice) + "=1\n" : ""));
        ActiveMachine machine(image);
        std::string sCmd;
        ASSERT_NE(InitializeFrame(sCmd.data()), (HWND)NULL);
        ASSERT_TRUE(FLoadRegistryEntryPoints());
        fTerminating = 0;

        if (row.szDevice) {
            EXPECT_THROW(CheckExistingDevices(), winemu::ProcessExit);
            ASSERT_EQ(machine->Report()["dialogs"].size(), 1u);
            EXPECT_EQ(machine->Report()["dialogs"][0]["id"], 600);
            EXPECT_EQ(hmodRegistry, (HMODULE)NULL);
            EXPECT_EQ(HwndFrame(), (HWND)NULL);
        } else {
            CheckExistingDevices();
            EXPECT_TRUE(machine->Report()["dialogs"].empty());
        }
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(machine->Fault().Calls(rgszCount[i]), i < row.cAsked ? 1 : 0) << rgszCount[i];
        }
        ReleaseRegistryEntryPoints();
    }
}

struct RestartRow {
    const char* szFailing; // nullptr: nothing fails
    BOOL fRestarted;
    int cAdjust; // AdjustTokenPrivileges calls
    int cExit;   // ExitWindowsEx calls
};

TEST_F(StartupTest, RestartNeedsTheTokenThePrivilegeAndWindowsToAgree) {
    const RestartRow rows[] = {
        {nullptr, TRUE, 1, 1},
        {"OpenProcessToken", FALSE, 0, 0},
        // Without the privilege's identifier nothing is adjusted.
        {"LookupPrivilegeValueA", FALSE, 0, 0},
        {"AdjustTokenPrivileges", FALSE, 1, 0},
        {"ExitWindowsEx", FALSE, 1, 1},
    };
    for (const RestartRow& row : rows) {
        SCOPED_TRACE(row.szFailing ? row.szFailing : "nothing fails");
        TestImage image;
        ActiveMachine machine(image);
        if (row.szFailing) {
            machine->Fault().Add(row.szFailing, "*");
        }

        EXPECT_EQ(!!FRestartWindows(), !!row.fRestarted);
        EXPECT_EQ(machine->RestartRequested(), !!row.fRestarted);
        EXPECT_EQ(machine->Fault().Calls("AdjustTokenPrivileges"), row.cAdjust);
        EXPECT_EQ(machine->Fault().Calls("ExitWindowsEx"), row.cExit);
        EXPECT_EQ(machine->Objects().CountOpen(HandleKind::Token), 0u);
    }
}

TEST_F(StartupTest, RestartAsksForTheRightAccessAndAForcedReboot) {
    TestImage image;
    ActiveMachine machine(image);
    ASSERT_TRUE(FRestartWindows());
    EXPECT_EQ(machine->Report()["token_access"], 0x28);
    EXPECT_EQ(machine->Report()["exit_windows_flags"], 6);
}

} // namespace
