// The machine core: booting images, faults, handles, the process end, messages, the restart
// privilege and the device counts.
#include "support/test_machine.h"
#include "winemu/restart.h"

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using testsupport::ActiveMachine;
using testsupport::TestImage;
using winemu::HandleKind;

TEST(MachineBoot, EmptyImageTakesTheDefaults) {
    TestImage image;
    auto m = image.Boot();
    EXPECT_EQ(m->Config().majorVersion, 4u);
    EXPECT_EQ(m->Config().minorVersion, 0u);
    EXPECT_EQ(m->Config().windowsDirectory, "C:\\WINNT");
    EXPECT_EQ(m->CurrentDirectory(), "A:\\");
    EXPECT_EQ(m->Config().codePage, 1252u);
    EXPECT_EQ(m->Config().waveOutDevs, 0u);
    EXPECT_EQ(m->Report()["exit_code"], nullptr);
}

TEST(MachineBoot, ReadsEveryKeyOfMachineIni) {
    TestImage image;
    // A byte-order mark, every kind of line end, and numbers that are decimal however written.
    image.Ini("\xEF\xBB\xBF[Machine]\r\nVersion=3.51\rWindowsDirectory=D:\\NT351\\\n"
              "CurrentDirectory=B:\\DISK1\r"
              "CodePage=932 ; Japanese\n[Devices]\nWaveOut=1\nWaveIn=2\nMidiOut=010\nMidiIn=08\n"
              "[Faults]\nRegSetValueExA=CurrentInstrument\nWM_QUIT=100\nRegCloseKey=#2147483647\n");
    auto m = image.Boot();
    EXPECT_EQ(m->Config().majorVersion, 3u);
    EXPECT_EQ(m->Config().minorVersion, 51u);
    EXPECT_EQ(m->Config().windowsDirectory, "D:\\NT351");
    EXPECT_EQ(m->CurrentDirectory(), "B:\\DISK1");
    EXPECT_EQ(m->Config().codePage, 932u);
    EXPECT_EQ(m->Config().waveOutDevs, 1u);
    EXPECT_EQ(m->Config().waveInDevs, 2u);
    EXPECT_EQ(m->Config().midiOutDevs, 10u);
    EXPECT_EQ(m->Config().midiInDevs, 8u);
    EXPECT_TRUE(m->Fault().Check("RegSetValueExA", {"HKLM\\X", "CurrentInstrument"}));
    EXPECT_FALSE(m->Fault().Check("RegSetValueExA", {"HKLM\\X", "Other"}));
}

TEST(MachineBoot, RefusesABadLineNamingFileAndLine) {
    struct Row {
        const char* ini;
        int line;
    } rows[] = {
        {"[Machine]\nVersion=4\n", 2},
        {"[Machine]\nCodePage=850\n", 2},
        {"; fine\n[Machine\n", 2},
        {"[Devices]\nWaveOut=many\n", 2},
        {"[Machine]\nVersion=4.0\n[Sound]\n", 3},
        {"Version=4.0\n", 1},
        {"[Faults]\nRegOpenKeyExA=#0\n", 2},
        {"[Machine]\nWindowsDirectory=WINNT\n", 2},
        {"[Machine]\rVersion=4\r", 2},
        {"[Devices]\nWaveOut=0x10\n", 2},
        {"[Devices]\nWaveOut=-1\n", 2},
        {"[Devices]\nWaveOut=4294967296\n", 2},
        {"[Faults]\nRegFrobKeyA=*\n", 2},
        {"[Faults]\nRegOpenKeyExA=#2147483648\n", 2},
        {"[Faults]\nRegOpenKeyExA=#99999999999999999999\n", 2},
    };
    for (const Row& row : rows) {
        TestImage image;
        image.Ini(row.ini);
        const std::string before = testsupport::ReadHostFile(image.Dir() / "machine.ini");
        try {
            image.Boot();
            ADD_FAILURE() << "booted: " << row.ini;
        } catch (const winemu::BootError& e) {
            EXPECT_EQ(e.file(), "machine.ini") << row.ini;
            EXPECT_EQ(e.line(), row.line) << row.ini;
        }
        EXPECT_EQ(testsupport::ReadHostFile(image.Dir() / "machine.ini"), before);
    }
}

TEST(MachineBoot, RefusesAMalformedRegistryLineNamingFileAndLine) {
    TestImage image;
    image.Registry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"a\"=dword:zz\n");
    const std::string before = testsupport::ReadHostFile(image.Dir() / "registry.reg");
    try {
        image.Boot();
        ADD_FAILURE() << "a malformed registry booted";
    } catch (const winemu::BootError& e) {
        EXPECT_EQ(e.file(), "registry.reg");
        EXPECT_EQ(e.line(), 4);
    }
    EXPECT_EQ(testsupport::ReadHostFile(image.Dir() / "registry.reg"), before);
}

TEST(MachineBoot, ANonFolderIsRefused) {
    EXPECT_THROW(winemu::Machine::Boot("/nonexistent/soundsetup/image"), winemu::BootError);
    for (const char* name : {"machine.ini", "registry.reg"}) {
        TestImage image;
        std::filesystem::create_directory(image.Dir() / name);
        try {
            image.Boot();
            ADD_FAILURE() << "booted with a folder for " << name;
        } catch (const winemu::BootError& e) {
            EXPECT_EQ(e.file(), name);
            EXPECT_NE(std::string(e.what()).find("folder"), std::string::npos) << e.what();
        }
    }
}

TEST(Faults, TextStarAndNthCall) {
    winemu::Faults f;
    f.Add("RegOpenKeyExA", "mediaresources");
    f.Add("FDoDialogExt", "100");
    f.Add("CopyFileA", "*");
    f.Add("RegCloseKey", "#2");
    EXPECT_TRUE(f.Check("regopenkeyexa", {"HKLM\\SYSTEM\\Control\\MediaResources\\MIDI"}));
    EXPECT_FALSE(f.Check("RegOpenKeyExA", {"HKLM\\SOFTWARE"}));
    // A dialog id matches only exactly: 100 is not 5100.
    EXPECT_TRUE(f.Check("FDoDialogExt", {"100", "FInfoDlgProc"}));
    EXPECT_FALSE(f.Check("FDoDialogExt", {"5100", "FModelessDlgProc"}));
    EXPECT_TRUE(f.Check("CopyFileA", {}));
    EXPECT_FALSE(f.Check("RegCloseKey"));
    EXPECT_TRUE(f.Check("RegCloseKey"));
    EXPECT_FALSE(f.Check("RegCloseKey"));
    EXPECT_EQ(f.Calls("RegCloseKey"), 3);
    EXPECT_EQ(f.Calls("RegOpenKeyExA"), 2);
    EXPECT_EQ(f.Calls("Never"), 0);
    f.Clear();
    EXPECT_TRUE(f.Empty());
    EXPECT_FALSE(f.Check("CopyFileA"));
}

TEST(Handles, OpenGetCloseAndLeaks) {
    winemu::Handles h;
    auto key = h.Open(HandleKind::RegistryKey, "registry key HKEY_LOCAL_MACHINE\\X",
                      std::make_shared<int>(7));
    auto mod = h.Open(HandleKind::Module, "module ADVAPI32.DLL", nullptr);
    auto drv = h.Open(HandleKind::Driver, "driver TONEBAY.DLL", std::make_shared<int>(1));
    EXPECT_NE(key, 0u);
    EXPECT_NE(key, mod);
    EXPECT_EQ(*h.GetAs<int>(key, HandleKind::RegistryKey), 7);
    EXPECT_EQ(h.Get(key, HandleKind::Driver), nullptr);
    // Modules are not reported as leaks: only keys, drivers and device lists.
    EXPECT_EQ(h.Leaks(), (std::vector<std::string>{"registry key HKEY_LOCAL_MACHINE\\X",
                                                   "driver TONEBAY.DLL"}));
    EXPECT_FALSE(h.Close(key, HandleKind::Driver));
    EXPECT_TRUE(h.Close(key, HandleKind::RegistryKey));
    EXPECT_FALSE(h.Close(key, HandleKind::RegistryKey));
    EXPECT_TRUE(h.Close(drv, HandleKind::Driver));
    EXPECT_TRUE(h.Leaks().empty());
    EXPECT_EQ(h.CountOpen(HandleKind::Module), 1u);
}

TEST(Process, ExitProcessEndsTheRunWithItsCode) {
    TestImage image;
    auto m = image.Boot();
    bool after = false;
    UINT code = m->Run([&] {
        ExitProcess(3);
        after = true;
    });
    EXPECT_EQ(code, 3u);
    EXPECT_FALSE(after);
    EXPECT_EQ(m->Report()["exit_code"], 3);
    EXPECT_FALSE(winemu::HasCurrent());
}

TEST(Process, ReturningEndsWithZeroAndReportsOpenHandlesAndCalls) {
    TestImage image;
    auto m = image.Boot();
    UINT code = m->Run([&] {
        m->Objects().Open(HandleKind::DeviceInfoList, "device list {4D36E96D}", nullptr);
        m->Fault().Check("RegOpenKeyExA");
    });
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(m->Report()["open_handles"], nlohmann::json::array({"device list {4D36E96D}"}));
    EXPECT_EQ(m->Report()["api_calls"]["RegOpenKeyExA"], 1);
}

TEST(Process, VersionErrorModeAndLastError) {
    TestImage image;
    image.Ini("[Machine]\nVersion=3.51\n");
    ActiveMachine am(image);
    DWORD v = GetVersion();
    EXPECT_EQ(LOBYTE(v), 3);
    EXPECT_EQ(HIBYTE(v), 51);
    EXPECT_EQ(HIWORD(v), 1057);
    EXPECT_EQ(v & 0x80000000u, 0u); // Windows NT
    EXPECT_EQ(SetErrorMode(SEM_FAILCRITICALERRORS), 0u);
    EXPECT_EQ(SetErrorMode(0), (UINT)SEM_FAILCRITICALERRORS);
    SetLastError(ERROR_MORE_DATA);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    am->Config() = winemu::MachineConfig{};
    EXPECT_EQ(GetVersion(), 0x05650004u);
}

TEST(Process, SaveRegistryReplacesTheFileWhole) {
    TestImage image;
    image.Registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n");
    auto m = image.Boot();
    m->Reg().SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\New", "Name", "value");
    m->SaveRegistry();
    EXPECT_FALSE(std::filesystem::exists(image.Dir() / "registry.reg.tmp"));
    auto again = image.Boot();
    EXPECT_EQ(again->Reg().GetString("HKLM\\SOFTWARE\\New", "Name"), "value");
    EXPECT_NE(again->Reg().Find("HKLM\\SOFTWARE\\Old"), nullptr);
}

TEST(Messages, QuitMessageIsPeekedAndRemoved) {
    TestImage image;
    ActiveMachine am(image);
    MSG msg{};
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    PostQuitMessage(5);
    EXPECT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_FALSE(TranslateMessage(&msg));
    EXPECT_EQ(DispatchMessageA(&msg), 0);
}

TEST(Messages, QuitFaultFiresOnlyForItsDialog) {
    TestImage image;
    image.Ini("[Faults]\nWM_QUIT=100\n");
    ActiveMachine am(image);
    winemu::OnDialogShown(5100);
    EXPECT_TRUE(am->Messages().empty());
    winemu::OnDialogShown(100);
    ASSERT_EQ(am->Messages().size(), 1u);
    EXPECT_EQ(am->Messages().front().message, (UINT)WM_QUIT);
}

TEST(Messages, MessageBoxIsRecordedAndDrawn) {
    TestImage image;
    ActiveMachine am(image);
    std::ostringstream console;
    am->SetConsole(&console);
    EXPECT_EQ(MessageBoxA(NULL, "Cannot initialize setup!", "Error", MB_ICONHAND), IDOK);
    const auto& boxes = am->Report()["message_boxes"];
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]["text"], "Cannot initialize setup!");
    EXPECT_EQ(boxes[0]["caption"], "Error");
    EXPECT_EQ(boxes[0]["style"], 16);
    EXPECT_NE(console.str().find("Cannot initialize setup!"), std::string::npos);
}

namespace {

// The restart as a setup program asks for it; returns ExitWindowsEx's result.
BOOL AskForRestart() {
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return FALSE;
    TOKEN_PRIVILEGES tp{};
    if (!LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid))
        return FALSE;
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!AdjustTokenPrivileges(token, FALSE, &tp, 0, NULL, NULL))
        return FALSE;
    return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
}

} // namespace

TEST(Restart, TheWholeSequenceRecordsARestart) {
    TestImage image;
    ActiveMachine am(image);
    EXPECT_TRUE(AskForRestart());
    EXPECT_TRUE(am->RestartRequested());
    EXPECT_EQ(am->Report()["exit_windows_flags"], 6);
    EXPECT_EQ(am->Report()["token_access"], 0x28);
}

TEST(Restart, EachStepCanFail) {
    for (const char* api :
         {"OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges", "ExitWindowsEx"}) {
        TestImage image;
        ActiveMachine am(image);
        am->Fault().Add(api, "*");
        EXPECT_FALSE(AskForRestart()) << api;
        EXPECT_FALSE(am->RestartRequested()) << api;
    }
}

TEST(Restart, WithoutThePrivilegeWindowsRefuses) {
    TestImage image;
    ActiveMachine am(image);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PRIVILEGE_NOT_HELD);

    // An unset LUID is not the shutdown privilege: Windows says so but succeeds.
    HANDLE token = NULL;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, NULL, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ALL_ASSIGNED);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_FALSE(CloseHandle(token));
}

TEST(Restart, ATokenWithoutAdjustAccessCannotEnable) {
    TestImage image;
    ActiveMachine am(image);
    HANDLE token = NULL;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES tp{};
    ASSERT_TRUE(LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid));
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &tp, 0, NULL, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    LUID luid{};
    EXPECT_FALSE(LookupPrivilegeValueA(NULL, "SeNoSuchPrivilege", &luid));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_SUCH_PRIVILEGE);
}

TEST(Devices, CountsComeFromTheImage) {
    TestImage image;
    image.Ini("[Devices]\nWaveOut=2\nMidiIn=1\n");
    ActiveMachine am(image);
    EXPECT_EQ(waveOutGetNumDevs(), 2u);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(midiOutGetNumDevs(), 0u);
    EXPECT_EQ(midiInGetNumDevs(), 1u);
}

TEST(Window, TitleIsRecorded) {
    TestImage image;
    ActiveMachine am(image);
    EXPECT_FALSE(SetWindowTextA(NULL, "x"));
    EXPECT_TRUE(SetWindowTextA((HWND)(ULONG_PTR)0x10, "16-bit Sound Board NT Driver Setup"));
    EXPECT_EQ(am->Report()["window_title"], "16-bit Sound Board NT Driver Setup");
}

TEST(MachineBoot, ADoubleByteLastCharacterKeepsItsSecondByte) {
    TestImage image;
    image.Ini("[Machine]\nCurrentDirectory=A:\\DISK\x83\\\nWindowsDirectory=C:\\WINNT\\\\\n"
              "CodePage=932\n");
    auto m = image.Boot();
    // Under code page 932, 0x83 0x5C is one character: its 0x5C is no separator.
    EXPECT_EQ(m->CurrentDirectory(), "A:\\DISK\x83\\");
    EXPECT_EQ(m->Config().windowsDirectory, "C:\\WINNT");

    TestImage western;
    western.Ini("[Machine]\nCurrentDirectory=A:\\DISK\x83\\\n");
    EXPECT_EQ(western.Boot()->CurrentDirectory(), "A:\\DISK\x83");
}

// A delayed move is only recorded, in NT's form and order; a restart carries the moves out in that
// order and forgets them.
TEST(Restart, PendingMovesAreRecordedThenCarriedOutInOrderOnce) {
    TestImage image;
    image.Ini("[Machine]\nCurrentDirectory=C:\\WINNT\\system32\n");
    for (std::string name : {"X.DLL", "Gone.Dll", "B.DLL", "Keep.Dll"})
        image.File("C:\\WINNT\\system32\\" + name, name);
    ActiveMachine am(image);
    const DWORD kDelay = MOVEFILE_DELAY_UNTIL_REBOOT;
    EXPECT_TRUE(MoveFileExA("X.DLL", "Y.DLL", kDelay));
    EXPECT_TRUE(MoveFileExA("Y.DLL", "C:\\WINNT\\Z.DLL", kDelay | MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(MoveFileExA("Gone.Dll", NULL, kDelay));
    EXPECT_TRUE(MoveFileExA("B.DLL", "Keep.Dll", kDelay)); // may not replace: left undone
    const std::string s = "\\??\\C:\\WINNT\\system32\\";
    const std::string nt = s + "X.DLL" + '\0' + s + "Y.DLL" + '\0' + s + "Y.DLL" + '\0' +
                           "!\\??\\C:\\WINNT\\Z.DLL" + '\0' + s + "Gone.Dll" + '\0' + '\0' + s +
                           "B.DLL" + '\0' + s + "Keep.Dll" + '\0' + '\0';
    const winemu::RegValue* pending =
        am->Reg().Value(winemu::kSessionManagerKey, winemu::kPendingMovesValue);
    EXPECT_EQ(pending ? std::string(pending->data.begin(), pending->data.end()) : "", nt);
    EXPECT_EQ(winemu::RestartMachine(am.M()).movesFailed, 1);
    EXPECT_EQ(image.Read("C:\\WINNT\\Z.DLL"), "X.DLL");
    EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\Gone.Dll"));
    EXPECT_EQ(image.Read("C:\\WINNT\\system32\\Keep.Dll"), "Keep.Dll");
    EXPECT_EQ(am->Reg().Value(winemu::kSessionManagerKey, winemu::kPendingMovesValue), nullptr);
}

// A wave entry whose driver loads gives a wave out and a wave in, a MIDI entry a MIDI out; the
// mappers and the rest none. Each restart counts afresh into [DevicesFound].
TEST(Restart, DevicesComeFromTheDriversThatLoadAndAreCountedAfresh) {
    TestImage image;
    image.Ini("[DevicesFound]\r\nWaveOut=7\r\n[Faults]\r\nGetPrivateProfileIntA=*\r\n");
    image.File("C:\\WINNT\\system32\\TONEBAY.DLL", "");
    image.Registry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]\n"
        "\"wave\"=\"TONEBAY.DLL\"\n\"wave1\"=\"mmdrv.dll\"\n\"Midi2\"=\"tonebay.dll\"\n"
        "\"midi1\"=\"KERNEL32.DLL\"\n\"wavemapper\"=\"TONEBAY.DLL\"\n\"aux\"=\"x.dll\"\n");
    for (UINT wave : {1u, 0u}) {
        auto m = image.Boot();
        winemu::RestartResult found = winemu::RestartMachine(*m);
        EXPECT_EQ((std::vector<UINT>{found.waveOut, found.waveIn, found.midiOut, found.midiIn}),
                  (std::vector<UINT>{wave, wave, wave, 0}));
        winemu::SaveDevicesFound(*m);
        std::filesystem::remove(image.HostPath("C:\\WINNT\\system32\\TONEBAY.DLL")); // gone
    }
    EXPECT_EQ(testsupport::ReadHostFile(image.Dir() / "machine.ini"),
              "[Faults]\r\nGetPrivateProfileIntA=*\r\n\r\n[DevicesFound]\r\n"
              "WaveOut=0\r\nWaveIn=0\r\nMidiOut=0\r\nMidiIn=0\r\n");
}
