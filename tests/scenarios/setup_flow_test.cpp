// Whole setups on the sample machine images and variations of them: the order of dialogs, what
// is copied where, and every way a run can end and the exit code each gives (0 on every path of
// an interactive run).
#include "support/test_machine.h"

#include "setup/setup.h"

#include <toolkit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using testsupport::BoxTexts;
using testsupport::ChildResult;
using testsupport::DialogIds;
using testsupport::ExitCode;
using testsupport::Faults;
using testsupport::FromSample;
using testsupport::RunSetup;
using testsupport::TestImage;
using testsupport::UseAnswers;

std::vector<std::string> FilesCopied(const nlohmann::json& report) {
    std::vector<std::string> files;
    for (const auto& file : report.value("files_copied", nlohmann::json::array())) {
        files.push_back(file.get<std::string>());
    }
    return files;
}

const std::vector<std::string> kNt40Files = {
    "C:\\WINNT\\SYSTEM32\\TONEBAY.DLL", "C:\\WINNT\\SYSTEM32\\QVHWCTL.DAT",
    "C:\\WINNT\\SYSTEM32\\MIX.EXE", "C:\\WINNT\\SYSTEM32\\DRIVERS\\TONEBAY.SYS"};

// The dialogs of a complete run.
const std::vector<int> kCompleteRun = {5100, 100, 5000, 700};

// One toolkit call as the report's trace holds it.
nlohmann::json Call(const char* szName, nlohmann::json args = nlohmann::json::array()) {
    return {{"call", szName}, {"args", std::move(args)}};
}

// What setup asks of the toolkit to show a dialog and read how it was left.
void AddShowDialog(nlohmann::json& calls, int id, const char* szProc, int cbEvent) {
    calls.push_back(Call("HwndFrame"));
    calls.push_back(Call("FDoDialogExt", {"frame", "qvxcui.dll", id, szProc, "qvxcui.dll", 0, 0}));
    calls.push_back(Call("CbGetSymbolValue", {"DLGEVENT", "buffer", cbEvent}));
}

// Every toolkit call of a complete run on a machine whose Windows directory is C:\WINNT and
// whose card data file asks for the Mixer group, with the arguments setup must pass.
nlohmann::json CompleteRunCalls(const std::string& sCmd) {
    const std::string sTarget = "C:\\WINNT\\SYSTEM32\\";
    nlohmann::json calls = nlohmann::json::array();
    calls.push_back(Call("InitializeFrame", {sCmd}));
    calls.push_back(Call("HwndFrame"));
    calls.push_back(Call("HinstFrame"));
    calls.push_back(Call("FInitializeInstall", {"instance", "frame"}));
    calls.push_back(Call("FSetBitmap", {"qvxcui.dll", 1}));
    calls.push_back(Call("HwndFrame"));
    calls.push_back(Call("FOpenInf", {"A:\\setup.inf", 1, 0}));
    AddShowDialog(calls, 5100, "FModelessDlgProc", 16);
    calls.push_back(Call("CbGetSymbolValue", {"STF_SRCDIR", "buffer", 255}));
    calls.push_back(Call("FKillNDialogs", {-1}));
    AddShowDialog(calls, 100, "FInfoDlgProc", 15);
    calls.push_back(Call("FKillNDialogs", {1}));
    calls.push_back(Call("HShowWaitCursor"));
    calls.push_back(Call("ResetCopyList"));
    calls.push_back(Call("FAddSectionFilesToCopyList", {"Library Files", "A:\\", sTarget}));
    calls.push_back(
        Call("FAddSectionFilesToCopyList", {"System Files", "A:\\", sTarget + "DRIVERS\\"}));
    calls.push_back(Call("FAddToBillboardList", {"qvxcui.dll", 5000, "FModelessDlgProc", 5}));
    calls.push_back(Call("ProSetPos", {155, 130}));
    calls.push_back(Call("FRestoreCursor", {"cursor"}));
    calls.push_back(Call("HinstFrame"));
    calls.push_back(Call("GrcCopyFilesInCopyList", {"instance"}));
    calls.push_back(Call("HwndFrame")); // the modem step's owner window
    calls.push_back(Call("HShowWaitCursor"));
    calls.push_back(Call("FCreateProgManGroup", {"Mixer", "", 1}));
    calls.push_back(Call("FShowProgManGroup", {"Mixer", "2", 1}));
    calls.push_back(
        Call("FCreateProgManItem", {"Mixer", "Mixer Control Panel", sTarget + "mix.exe", 1024}));
    calls.push_back(Call("FRestoreCursor", {"cursor"}));
    calls.push_back(Call("FKillNDialogs", {1}));
    AddShowDialog(calls, 700, "FInfoDlgProc", 15);
    calls.push_back(Call("FKillNDialogs", {1}));
    calls.push_back(Call("FKillNDialogs", {-1}));
    calls.push_back(Call("TerminateFrame"));
    calls.push_back(Call("TerminateInstall"));
    return calls;
}

TEST(SetupFlow, FreshNt40InstallsEverythingAndRestarts) {
    TestImage image;
    FromSample(image, "nt40");
    std::string sCmd = UseAnswers(image, "100=CONTINUE\n700=RESTART\n");

    ChildResult result = RunSetup(image, sCmd);
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_RESTARTING) << result.output;
    EXPECT_EQ(DialogIds(result.report), kCompleteRun);
    EXPECT_EQ(FilesCopied(result.report), kNt40Files);
    EXPECT_TRUE(result.report["restart_requested"].get<bool>());
    EXPECT_TRUE(result.report["open_handles"].empty());
    EXPECT_TRUE(BoxTexts(result.report).empty());
    // The frame's title (its bitmap is checked by the toolkit, which refuses another one).
    EXPECT_EQ(result.report["window_title"], "16-bit Sound Board NT Driver Setup");
    EXPECT_EQ(image.Read("C:\\WINNT\\system32\\drivers\\TONEBAY.SYS"),
              image.Read("A:\\TONEBAY.SYS"));
    EXPECT_EQ(image.Read("C:\\WINNT\\system32\\MIX.EXE"), image.Read("A:\\MIX.EXE"));
    // The sample's card data file asks for the Mixer group.
    ASSERT_EQ(result.report["program_groups"].size(), 1u);
    EXPECT_EQ(result.report["program_groups"][0]["name"], "Mixer");
    EXPECT_EQ(result.report["program_groups"][0]["items"][0]["command"],
              "C:\\WINNT\\SYSTEM32\\mix.exe");
    // The driver was registered.
    EXPECT_EQ(result.after->Reg().GetString(
                  "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", "wave"),
              "TONEBAY.DLL");
    // Every toolkit call, in order, with every argument; the dialog procedures' own calls are
    // the toolkit's work and not in it.
    EXPECT_EQ(result.report["toolkit_calls"], CompleteRunCalls(sCmd));
}

TEST(SetupFlow, TheSampleAnswersRunToTheEndWithoutARestart) {
    TestImage image;
    FromSample(image, "nt40");

    ChildResult result = RunSetup(image, "/answers:A:\\ANSWERS.INI");
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_INSTALLED) << result.output;
    EXPECT_EQ(DialogIds(result.report), kCompleteRun);
    EXPECT_EQ(FilesCopied(result.report), kNt40Files);
    EXPECT_FALSE(result.report["restart_requested"].get<bool>());
}

TEST(SetupFlow, AMachineWithAWaveDeviceIsRefusedAndLeftUnchanged) {
    TestImage image;
    FromSample(image, "nt40-wave");
    std::string sCmd = UseAnswers(image, "100=CONTINUE\n700=RESTART\n");
    std::string sRegistryBefore = image.Boot()->Reg().ToRegText();

    ChildResult result = RunSetup(image, sCmd);
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_FAILED) << result.output;
    EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 600}));
    EXPECT_TRUE(FilesCopied(result.report).empty());
    EXPECT_FALSE(result.report["restart_requested"].get<bool>());
    EXPECT_TRUE(result.report["open_handles"].empty());
    EXPECT_EQ(result.after->Reg().ToRegText(), sRegistryBefore);
    EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\TONEBAY.DLL"));

    // A failed removal in the termination after the refusal is the run's first failure.
    result = RunSetup(image, sCmd, {{"FKillNDialogs", "#3"}});
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_FAILED) << result.output;
    EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 600, 400}));
}

struct EndingRow {
    const char* szName;
    std::string sAnswers;
    Faults faults;
    std::vector<int> ids;
    std::vector<std::string> boxes;
    bool fCopied;
    UINT uExit = SETUP_EXIT_FAILED;
    std::string sOptions = ""; // after the answers on the command line
};

// Every way an unattended run ends before the finish dialog, and its exit code.
TEST(SetupFlow, EarlyEndings) {
    const std::vector<std::string> kNoBoxes;
    const EndingRow rows[] = {
        {"toolkit frame fails",
         "",
         {{"InitializeFrame", "*"}},
         {},
         {"Cannot initialize setup!"},
         false},
        {"install engine fails",
         "",
         {{"FInitializeInstall", "*"}},
         {},
         {"Cannot initialize setup!"},
         false},
        {"no registry library",
         "",
         {{"LoadLibraryA", "ADVAPI32"}},
         {},
         {"Cannot initialize registry!"},
         false},
        {"registry library without RegDeleteKeyA",
         "",
         {{"GetProcAddress", "RegDeleteKeyA"}},
         {},
         {"Cannot initialize registry!"},
         false},
        {"frame bitmap fails", "", {{"FSetBitmap", "*"}}, {400}, kNoBoxes, false},
        {"setup.inf cannot be opened", "", {{"FOpenInf", "*"}}, {400}, kNoBoxes, false},
        {"opening dialog fails", "", {{"FDoDialogExt", "5100"}}, {400}, kNoBoxes, false},
        {"welcome dialog fails", "", {{"FDoDialogExt", "100"}}, {5100, 400}, kNoBoxes, false},
        {"first removal fails", "", {{"FKillNDialogs", "#1"}}, {5100, 400}, kNoBoxes, false},
        {"every removal fails", "", {{"FKillNDialogs", "*"}}, {5100}, kNoBoxes, false},
        {"WM_QUIT under the welcome dialog",
         "",
         {{"WM_QUIT", "100"}},
         {5100, 100, 400},
         kNoBoxes,
         false},
        {"WM_QUIT under the opening dialog",
         "",
         {{"WM_QUIT", "5100"}},
         {5100, 400},
         kNoBoxes,
         false},
        {"fatal dialog fails too",
         "",
         {{"FOpenInf", "*"}, {"FDoDialogExt", "400"}},
         {},
         kNoBoxes,
         false},
        {"user quits",
         "100=CANCEL\n200=EXIT\n",
         {},
         {5100, 100, 200},
         kNoBoxes,
         false,
         SETUP_EXIT_CANCELLED},
        {"user quits with Exit",
         "100=EXIT\n200=EXIT\n",
         {},
         {5100, 100, 200},
         kNoBoxes,
         false,
         SETUP_EXIT_CANCELLED},
        // Answers that fit no dialog stop the run at its first dialog, before anything is done.
        {"answers name no dialog of setup",
         "100=CONTINUE\n123=CONTINUE\n",
         {},
         {400},
         kNoBoxes,
         false},
        {"answers line without a dialog id", "CONTINUE\n", {}, {400}, kNoBoxes, false},
        {"answer the welcome dialog refuses",
         "100=BOGUS\n",
         {{"FSetSymbolValue", "#2"}},
         {5100, 100, 400},
         kNoBoxes,
         false},
        {"answers file cannot be read",
         "",
         {{"CreateFileA", "ANSWERS.INI"}},
         {},
         {"Setup cannot read its answers file A:\\ANSWERS.INI.", "Cannot initialize setup!"},
         false,
         SETUP_EXIT_ANSWERS_UNREADABLE},
        {"log cannot be opened",
         "",
         {},
         {},
         {"Setup cannot open its log Q:\\SETUP.LOG.", "Cannot initialize setup!"},
         false,
         SETUP_EXIT_LOG_UNUSABLE,
         " /log:Q:\\SETUP.LOG"},
        {"log refused by the file system",
         "",
         {{"CreateFileA", "SETUP.LOG"}},
         {},
         {"Setup cannot open its log C:\\SETUP.LOG.", "Cannot initialize setup!"},
         false,
         SETUP_EXIT_LOG_UNUSABLE,
         " /log:C:\\SETUP.LOG /silent"},
        // Refused at start-up, before the steps ahead of its dialog change anything.
        {"welcome event one too long", "100=CONTINUE_______\n", {}, {400}, kNoBoxes, false},
        {"finish event too long", "700=CONTINUExxxxxxxx\n", {}, {400}, kNoBoxes, false},
        {"queueing fails",
         "",
         {{"FAddSectionFilesToCopyList", "System Files"}},
         {5100, 100, 400},
         kNoBoxes,
         false},
        {"billboard fails", "", {{"FAddToBillboardList", "*"}}, {5100, 100, 400}, kNoBoxes, false},
        {"copy fails", "", {{"GrcCopyFilesInCopyList", "*"}}, {5100, 100, 400}, kNoBoxes, false},
        {"Mixer group fails",
         "",
         {{"FCreateProgManGroup", "Mixer"}},
         {5100, 100, 5000, 400},
         kNoBoxes,
         true},
        {"finish dialog fails",
         "",
         {{"FDoDialogExt", "700"}},
         {5100, 100, 5000, 400},
         kNoBoxes,
         true},
        // The first failure during the orderly end is fatal like any other: no restart follows.
        {"restart asked, then termination's removal fails",
         "700=RESTART\n",
         {{"FKillNDialogs", "#5"}},
         {5100, 100, 5000, 700, 400},
         kNoBoxes,
         true},
    };
    for (const EndingRow& row : rows) {
        SCOPED_TRACE(row.szName);
        TestImage image;
        FromSample(image, "nt40");
        std::string sCmd = UseAnswers(image, row.sAnswers) + row.sOptions;
        std::string sRegistryBefore = image.Boot()->Reg().ToRegText();

        ChildResult result = RunSetup(image, sCmd, row.faults);
        ASSERT_EQ(ExitCode(result), row.uExit) << result.output;
        EXPECT_EQ(DialogIds(result.report), row.ids);
        EXPECT_EQ(BoxTexts(result.report), row.boxes);
        EXPECT_EQ(FilesCopied(result.report).empty(), !row.fCopied);
        EXPECT_FALSE(result.report["restart_requested"].get<bool>());
        EXPECT_TRUE(result.report["open_handles"].empty());
        if (!row.fCopied) {
            EXPECT_EQ(result.after->Reg().ToRegText(), sRegistryBefore);
        }
        // Nothing runs after a failed start-up's box.
        if (!row.boxes.empty() && row.boxes.back() == "Cannot initialize setup!") {
            EXPECT_FALSE(result.report["api_calls"].contains("LoadLibraryA"));
            EXPECT_FALSE(result.report["api_calls"].contains("FSetBitmap"));
        }
    }
}

TEST(SetupFlow, StartupBoxesHaveNoOwnerAndTheErrorStyle) {
    TestImage image;
    FromSample(image, "nt40");
    ChildResult result = RunSetup(image, "", {{"GetProcAddress", "RegSetValueA"}});
    ASSERT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.report["message_boxes"].size(), 1u);
    EXPECT_EQ(result.report["message_boxes"][0]["caption"], "Error");
    EXPECT_EQ(result.report["message_boxes"][0]["style"], 16);
    EXPECT_TRUE(DialogIds(result.report).empty());
}

TEST(SetupFlow, QuitConfirmationAnsweredWithOtherCodesComesBackUntilGoBack) {
    TestImage image;
    FromSample(image, "nt40");
    std::string sCmd = UseAnswers(
        image, "100=CANCEL,\xC3\xA9,,RESTART,CONTINUE\n200=RESTART,,CONTINUE\n700=RESTART\n");

    ChildResult result = RunSetup(image, sCmd);
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_RESTARTING) << result.output;
    EXPECT_EQ(DialogIds(result.report),
              (std::vector<int>{5100, 100, 200, 200, 200, 100, 100, 100, 100, 5000, 700}));
    EXPECT_EQ(FilesCopied(result.report), kNt40Files);
    EXPECT_TRUE(result.report["restart_requested"].get<bool>());
}

TEST(SetupFlow, RestartFailuresStillEndNormally) {
    for (const char* szApi :
         {"OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges", "ExitWindowsEx"}) {
        SCOPED_TRACE(szApi);
        TestImage image;
        FromSample(image, "nt40");
        std::string sCmd = UseAnswers(image, "700=RESTART\n");

        ChildResult result = RunSetup(image, sCmd, {{szApi, "*"}});
        ASSERT_EQ(ExitCode(result), SETUP_EXIT_RESTART_NEEDED) << result.output;
        EXPECT_EQ(DialogIds(result.report), kCompleteRun);
        EXPECT_FALSE(result.report["restart_requested"].get<bool>());
        EXPECT_TRUE(BoxTexts(result.report).empty());
        EXPECT_EQ(FilesCopied(result.report), kNt40Files);
    }
}

// Going on past the Windows-directory dialog copies into "\SYSTEM32\" of the drive that is
// current at the copy (the install disk). The driver still opens from beside SETUP.EXE, where
// Windows looks first, so the run goes on to its end.
TEST(SetupFlow, UnreadableWindowsDirectoryCopiesToTheRootOfTheCurrentDrive) {
    TestImage image;
    FromSample(image, "nt40");
    auto enterEverywhere = [] { // the person at the screen takes each default button
        std::istringstream enter(std::string(8, '\n'));
        winemu::Current().SetInput(&enter);
        WinMain((HINSTANCE)(ULONG_PTR)0x400000, NULL, std::string().data(), SW_SHOWNORMAL);
    };
    ChildResult result =
        testsupport::RunInChild(image, enterEverywhere, {{"GetWindowsDirectoryA", "*"}});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 6400, 100, 5000, 700}));
    EXPECT_EQ(
        FilesCopied(result.report),
        (std::vector<std::string>{"A:\\SYSTEM32\\TONEBAY.DLL", "A:\\SYSTEM32\\QVHWCTL.DAT",
                                  "A:\\SYSTEM32\\MIX.EXE", "A:\\SYSTEM32\\DRIVERS\\TONEBAY.SYS"}));
    EXPECT_TRUE(BoxTexts(result.report).empty());
    EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\TONEBAY.DLL"));
}

// The configure step makes the system directory current, so the modem check reads the card data
// file there, not the install disk's (which here says that the model has no modem).
TEST(SetupFlow, TheModemCheckReadsTheSystemDirectorysCardData) {
    TestImage image;
    FromSample(image, "nt40-modem");
    std::string sCardData = image.Read("A:\\QVHWCTL.DAT");
    image.File("C:\\WINNT\\system32\\QVHWCTL.DAT", sCardData);
    sCardData.replace(sCardData.find("Modem=1"), 7, "Modem=0");
    image.File("A:\\QVHWCTL.DAT", sCardData);
    // The disk's own copy is not copied over the system directory's.
    std::string sSetupInf = image.Read("A:\\SETUP.INF");
    sSetupInf.erase(sSetupInf.find("QVHWCTL.DAT"), 12);
    image.File("A:\\SETUP.INF", sSetupInf);
    std::string sCmd = UseAnswers(image, "");

    ChildResult result = RunSetup(image, sCmd);
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_INSTALLED) << result.output;
    // The device installer's "Install From Disk" comes up before the finish.
    EXPECT_EQ(DialogIds(result.report),
              (std::vector<int>{5100, 100, 5000, winemu::kInstallFromDiskPrompt, 700}));
    EXPECT_TRUE(BoxTexts(result.report).empty());
    EXPECT_EQ(result.after->Reg().GetString(
                  "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", "COM2:"),
              "57600,n,8,1");
}

// An unattended run does not guess the Windows directory: whatever the answers, it quits.
TEST(SetupFlow, UnreadableWindowsDirectoryEndsAnUnattendedRun) {
    TestImage image;
    FromSample(image, "nt40");
    std::string sCmd = UseAnswers(image, "6400=CONTINUE\n");

    ChildResult result = RunSetup(image, sCmd, {{"GetWindowsDirectoryA", "*"}});
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_FAILED) << result.output;
    EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 6400, 200}));
    EXPECT_TRUE(FilesCopied(result.report).empty());
}

struct WindowsDirRow {
    std::string sWindowsDir;
    bool fRefused;
    std::string sTarget; // where TONEBAY.DLL lands
    UINT uExit;
};

// The Windows directory gets one backslash and "SYSTEM32\"; one too long to leave room for
// them is refused like an unreadable one.
TEST(SetupFlow, TargetDirectoryFromTheWindowsDirectory) {
    const std::string sLong242 = "C:\\" + std::string(242, 'w'); // 245 characters
    const std::string sLong243 = "C:\\" + std::string(243, 'w'); // 246 characters
    const WindowsDirRow rows[] = {
        {"D:\\WINNT", false, "D:\\WINNT\\SYSTEM32\\TONEBAY.DLL", SETUP_EXIT_INSTALLED},
        {"D:\\", false, "D:\\SYSTEM32\\TONEBAY.DLL", SETUP_EXIT_INSTALLED},
        // The Mixer item's command line is then too long: the fatal path.
        {sLong242, false, sLong242 + "\\SYSTEM32\\TONEBAY.DLL", SETUP_EXIT_FAILED},
        {sLong243, true, "", SETUP_EXIT_FAILED},
    };
    for (const WindowsDirRow& row : rows) {
        SCOPED_TRACE(row.sWindowsDir.substr(0, 12) + " (" + std::to_string(row.sWindowsDir.size()) +
                     " characters)");
        TestImage image;
        FromSample(image, "nt40");
        image.Ini("[Machine]\nVersion=4.0\nWindowsDirectory=" + row.sWindowsDir + "\n");
        image.Folder(row.sWindowsDir + "\\system32\\drivers");
        std::string sCmd = UseAnswers(image, "6400=CONTINUE\n");

        ChildResult result = RunSetup(image, sCmd);
        ASSERT_EQ(ExitCode(result), row.uExit) << result.output;
        std::vector<int> ids = DialogIds(result.report);
        EXPECT_EQ(ids.size() > 1 && ids[1] == 6400, row.fRefused);
        std::vector<std::string> files = FilesCopied(result.report);
        ASSERT_EQ(files.empty(), row.sTarget.empty());
        EXPECT_TRUE(files.empty() || (files[0] == row.sTarget && image.Exists(row.sTarget)));
    }
}

struct SourceDirRow {
    std::string sCurrentDir;
    std::vector<int> ids;
    std::vector<std::string> boxes;
};

// setup.inf is opened from the start directory; the driver files come from "STF_SRCDIR".
TEST(SetupFlow, SourceDirectoryFromTheStartDirectory) {
    const std::string sDeep = "A:\\" + std::string(252, 's'); // 255 characters
    const SourceDirRow rows[] = {
        {"D:\\", kCompleteRun, {}},
        {"D:\\SETUP", kCompleteRun, {}},
        // Too long: setup.inf comes from the root of the drive, and "STF_SRCDIR" overflows.
        {sDeep, {5100, 400}, {"Buffer Overflow"}},
        // The longest start directory: setup.inf is found, but "STF_SRCDIR" with its backslash
        // takes 255 characters, one too many.
        {sDeep.substr(0, 254), {5100, 400}, {"Buffer Overflow"}},
    };
    for (const SourceDirRow& row : rows) {
        SCOPED_TRACE(row.sCurrentDir.substr(0, 12));
        TestImage image;
        FromSample(image, "nt40");
        std::string sDisk =
            row.sCurrentDir.back() == '\\' ? row.sCurrentDir : row.sCurrentDir + "\\";
        for (const char* szFile :
             {"SETUP.INF", "TONEBAY.DLL", "TONEBAY.SYS", "MIX.EXE", "QVHWCTL.DAT"}) {
            image.File(sDisk + szFile, image.Read(std::string("A:\\") + szFile));
        }
        image.Ini("[Machine]\nVersion=4.0\nCurrentDirectory=" + row.sCurrentDir + "\n");
        std::string sCmd = UseAnswers(image, "") + " /log:C:\\SETUP.LOG";

        ChildResult result = RunSetup(image, sCmd);
        ASSERT_EQ(ExitCode(result),
                  row.ids == kCompleteRun ? SETUP_EXIT_INSTALLED : SETUP_EXIT_FAILED)
            << result.output;
        EXPECT_EQ(DialogIds(result.report), row.ids);
        EXPECT_EQ(BoxTexts(result.report), row.boxes);
        // The box says only "Buffer Overflow"; the log names the directory.
        EXPECT_EQ(image.Read("C:\\SETUP.LOG").find(": " + sDisk + "\r\n") != std::string::npos,
                  !row.boxes.empty());
    }
}

TEST(SetupFlow, ADriverThatRefusesToInstallEndsSetupSilently) {
    TestImage image;
    FromSample(image, "nt40");
    image.File("A:\\TONEBAY.INI", "[Driver]\nInstall=0\n[Parameters]\nCurrentProduct=7\n");
    std::string sCmd = UseAnswers(image, "700=RESTART\n");

    ChildResult result = RunSetup(image, sCmd);
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_FAILED) << result.output;
    EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 100, 5000}));
    EXPECT_TRUE(BoxTexts(result.report).empty());
    EXPECT_FALSE(result.report["restart_requested"].get<bool>());
    // What was copied stays.
    EXPECT_EQ(FilesCopied(result.report), kNt40Files);
    EXPECT_TRUE(image.Exists("C:\\WINNT\\system32\\TONEBAY.DLL"));
    EXPECT_TRUE(result.report["open_handles"].empty());
}

TEST(SetupFlow, AFailedRegistrationShowsItsDialogAndEnds) {
    TestImage image;
    FromSample(image, "nt40");
    // No per-user MIDI mapper key: the current instrument cannot be written.
    {
        auto machine = image.Boot();
        machine->Reg().Delete(
            "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Multimedia\\MIDIMap");
        image.Registry(machine->Reg().ToRegText());
    }
    std::string sCmd = UseAnswers(image, "700=RESTART\n");

    ChildResult result = RunSetup(image, sCmd);
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_FAILED) << result.output;
    EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 100, 5000, 900}));
    EXPECT_TRUE(BoxTexts(result.report).empty());
    EXPECT_FALSE(result.report["restart_requested"].get<bool>());
    EXPECT_TRUE(result.report["program_groups"].empty());
    // Nothing already done is undone.
    EXPECT_EQ(FilesCopied(result.report), kNt40Files);
    EXPECT_EQ(result.after->Reg().GetString(
                  "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", "wave"),
              "TONEBAY.DLL");
    EXPECT_TRUE(result.report["open_handles"].empty());
}

struct InstrumentRow {
    const char* szDriver; // TONEBAY.DLL on the install disk
    const char* szInstrument;
};

// Without a product number the card settings cannot be read and the FM synthesizer is taken.
TEST(SetupFlow, UnreadableCardSettingsFallBackToTheFmSynthesizer) {
    const InstrumentRow rows[] = {
        {"[Driver]\nInstall=1\n[Parameters]\nCurrentProduct=8\n", "MMDRV.DLL<0000>"},
        {"[Driver]\nInstall=1\n[Parameters]\nCurrentProduct=7\n", "TONEBAY.DLL<0000>"},
        {"[Driver]\nInstall=1\n", "TONEBAY.DLL<0000>"},
    };
    for (const InstrumentRow& row : rows) {
        SCOPED_TRACE(row.szDriver);
        TestImage image;
        FromSample(image, "nt40");
        image.File("A:\\TONEBAY.INI", row.szDriver);

        ChildResult result = RunSetup(image, "/answers:A:\\ANSWERS.INI");
        ASSERT_EQ(ExitCode(result), SETUP_EXIT_INSTALLED) << result.output;
        EXPECT_EQ(DialogIds(result.report), kCompleteRun);
        EXPECT_EQ(result.after->Reg().GetString(
                      "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Multimedia\\MIDIMap",
                      "CurrentInstrument"),
                  row.szInstrument);
    }
}

// A modem that cannot be installed reports itself; the sound driver is still finished.
TEST(SetupFlow, AFailedModemDoesNotStopSetup) {
    TestImage image;
    FromSample(image, "nt40");
    // Product 12 carries a modem on COM1, but its INF file is not on the disk.
    image.File("A:\\TONEBAY.INI",
               "[Driver]\nInstall=1\n[Parameters]\nCurrentProduct=12\nCOMOption=1\n");
    std::string sCmd = UseAnswers(image, "700=RESTART\n");

    ChildResult result = RunSetup(image, sCmd);
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_RESTARTING) << result.output;
    EXPECT_EQ(DialogIds(result.report), kCompleteRun);
    EXPECT_TRUE(result.report["restart_requested"].get<bool>());
    EXPECT_EQ(FilesCopied(result.report), kNt40Files);
}

} // namespace
