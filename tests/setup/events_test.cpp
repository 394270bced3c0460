// Dialogs and the ways out: the dialog loops by event code on a machine in this process, and the
// paths that end the process (quit, the fatal-error path, termination) in a child process.
#include "setup/setup.h"
#include "support/test_machine.h"
#include "toolkit/core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::ActiveMachine;
using testsupport::ChildResult;
using testsupport::RunInChild;
using testsupport::TestImage;
using testsupport::UseAnswers;

// The ids of the dialogs in a report, in the order they were shown.
std::vector<int> DialogIds(const nlohmann::json& report) {
    std::vector<int> ids;
    if (report.contains("dialogs")) {
        for (const auto& dialog : report["dialogs"]) {
            ids.push_back(dialog["id"].get<int>());
        }
    }
    return ids;
}

std::vector<std::string> BoxTexts(const nlohmann::json& report) {
    std::vector<std::string> texts;
    if (report.contains("message_boxes")) {
        for (const auto& box : report["message_boxes"]) {
            texts.push_back(box["text"].get<std::string>());
        }
    }
    return texts;
}

// The toolkit up as start-up leaves it, answering from the given answers.
void StartToolkit(const std::string& sCmdLine) {
    std::string sCmd = sCmdLine;
    ASSERT_NE(InitializeFrame(sCmd.data()), (HWND)NULL);
    ASSERT_TRUE(FInitializeInstall(HinstFrame(), HwndFrame()));
}

// A marker in the report that the code after a call was reached.
void Reached(const char* szWhat) {
    MessageBoxA(NULL, szWhat, "reached", 0);
}

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fFatal = 0;
        fTerminating = 0;
        fRestart = 0;
    }
};

TEST_F(DialogTest, TheEventBufferIsClearedBeforeEachRead) {
    TestImage image;
    std::string sCmd = UseAnswers(image, "100=,I,CONTINUE\n");
    ActiveMachine machine(image);
    StartToolkit(sCmd);

    CHAR szEvent[16];
    std::memset(szEvent, 'I', sizeof(szEvent));
    EXPECT_EQ(SzShowDialog("qvxcui.dll", 100, "FInfoDlgProc", 0, 0, szEvent, 15), szEvent);
    EXPECT_EQ(WEventCode(szEvent), 0); // not 73 + 73 from what the buffer held
    for (int ib = 0; ib < 15; ib++) {
        EXPECT_EQ(szEvent[ib], '\0') << "byte " << ib;
    }
    EXPECT_EQ(szEvent[15], 'I'); // beyond the limit nothing is touched

    std::memset(szEvent, 'I', sizeof(szEvent));
    SzShowDialog("qvxcui.dll", 100, "FInfoDlgProc", 0, 0, szEvent, 15);
    EXPECT_STREQ(szEvent, "I");
    EXPECT_EQ(WEventCode(szEvent), 'I');

    SzShowDialog("qvxcui.dll", 100, "FInfoDlgProc", 0, 0, szEvent, 15);
    EXPECT_STREQ(szEvent, "CONTINUE");
    EXPECT_EQ(WEventCode(szEvent), 146);
}

struct LoopRow {
    std::string sAnswers;
    std::vector<int> ids; // dialogs shown
};

TEST_F(DialogTest, WelcomeRepeatsUntilContinueAndAsksBeforeQuitting) {
    const LoopRow rows[] = {
        {"100=CONTINUE\n", {100}},
        {"100=RESTART,CONTINUE\n", {100, 100}},
        {"100=,CONTINUE\n", {100, 100}},
        {"100=\xC3\xA9,CONTINUE\n", {100, 100}},
        {"100=\x80\x12,CONTINUE\n", {100, 100}},
        {"100=II,CONTINUE\n", {100}}, // any word whose first two bytes give 146
        {"100=CANCEL,CONTINUE\n200=CONTINUE\n", {100, 200, 100}},
        {"100=BB,CONTINUE\n200=CONTINUE\n", {100, 200, 100}},
        {"100=EXIT,CONTINUE\n200=CANCEL\n", {100, 200, 100}},
        // Any other code in the quit confirmation shows it again on top of the earlier one.
        {"100=CANCEL,CONTINUE\n200=RESTART,,CONTINUE\n", {100, 200, 200, 200, 100}},
        // A word one below the limit of 15 is accepted.
        {"100=CONTINUE______\n", {100}},
    };
    for (const LoopRow& row : rows) {
        SCOPED_TRACE(row.sAnswers);
        TestImage image;
        std::string sCmd = UseAnswers(image, row.sAnswers);
        ActiveMachine machine(image);
        StartToolkit(sCmd);

        DoWelcome();
        EXPECT_EQ(DialogIds(machine->Report()), row.ids);
        EXPECT_TRUE(toolkit::Core().dialogs.empty());
        EXPECT_EQ(fFatal, 0);
    }
}

// Only a person at the screen answers it (buttons 1 Continue, 2 Exit; Enter takes Continue, and
// Go back in the quit confirmation): an unattended run never goes on past it.
TEST_F(DialogTest, WindowsDirectoryDialogGoesOnWithCancelOrContinue) {
    const LoopRow rows[] = {
        {"\n", {6400}},
        {"Continue\n", {6400}},
        {"x\n1\n", {6400}}, // not a button: asked again
        {"2\n\n1\n", {6400, 200, 6400}},
        {"Exit\nGo back\n\n", {6400, 200, 6400}},
    };
    for (const LoopRow& row : rows) {
        SCOPED_TRACE(row.sAnswers);
        TestImage image;
        ActiveMachine machine(image);
        std::istringstream input(row.sAnswers);
        machine->SetInput(&input);
        StartToolkit("");

        DoWindowsDirError();
        EXPECT_EQ(DialogIds(machine->Report()), row.ids);
        EXPECT_TRUE(toolkit::Core().dialogs.empty());
    }
}

TEST_F(DialogTest, ConfirmedQuitTerminatesAndEndsTheProcess) {
    TestImage image;
    std::string sCmd = UseAnswers(image, "100=CANCEL\n200=EXIT\n");
    ChildResult result = RunInChild(image, [&] {
        StartToolkit(sCmd);
        DoWelcome();
        Reached("after welcome");
    });
    EXPECT_EQ(result.report["exit_code"], SETUP_EXIT_CANCELLED);
    EXPECT_EQ(DialogIds(result.report), (std::vector<int>{100, 200}));
    EXPECT_TRUE(BoxTexts(result.report).empty());
}

TEST_F(DialogTest, QuitFromTheWindowsDirectoryDialogEndsTheProcess) {
    TestImage image;
    std::string sCmd = UseAnswers(image, "6400=EXIT\n200=RESTART,EXIT\n");
    ChildResult result = RunInChild(image, [&] {
        StartToolkit(sCmd);
        DoWindowsDirError();
        Reached("after the Windows directory dialog");
    });
    // Unattended: left with Exit, whatever the answers say, and failed.
    EXPECT_EQ(result.report["exit_code"], SETUP_EXIT_FAILED);
    EXPECT_EQ(DialogIds(result.report), (std::vector<int>{6400, 200}));
    EXPECT_TRUE(BoxTexts(result.report).empty());
}

struct SymbolRow {
    INT cbLimit;
    size_t cchValue;
    BOOL fOverflow;
};

// A count that reaches the limit is an overflow; one below it is read.
TEST_F(DialogTest, SymbolValuesAtTheirLimitEndInBufferOverflow) {
    const SymbolRow rows[] = {{15, 14, FALSE},   {15, 15, TRUE},   {16, 15, FALSE}, {16, 16, TRUE},
                              {255, 254, FALSE}, {255, 255, TRUE}, {15, 40, TRUE},  {15, 0, FALSE}};
    for (const SymbolRow& row : rows) {
        SCOPED_TRACE("limit " + std::to_string(row.cbLimit) + ", " + std::to_string(row.cchValue) +
                     " characters");
        TestImage image;
        std::string sValue(row.cchValue, 'v');
        ChildResult result = RunInChild(image, [&] {
            StartToolkit("");
            FSetSymbolValue("SOME_SYMBOL", sValue.c_str());
            CHAR szBuf[300];
            SzReadSymbol("SOME_SYMBOL", szBuf, row.cbLimit);
            Reached(szBuf);
        });
        EXPECT_EQ(result.exitCode, 0);
        if (row.fOverflow) {
            ASSERT_EQ(BoxTexts(result.report), std::vector<std::string>{"Buffer Overflow"});
            EXPECT_EQ(result.report["message_boxes"][0]["caption"], "MS-Setup Error");
            EXPECT_EQ(result.report["message_boxes"][0]["style"], 16);
            EXPECT_EQ(DialogIds(result.report), std::vector<int>{400});
        } else {
            EXPECT_EQ(BoxTexts(result.report), std::vector<std::string>{sValue});
            EXPECT_TRUE(DialogIds(result.report).empty());
        }
    }
}

TEST_F(DialogTest, AMissingSymbolNameTakesTheFatalPathWithoutAMessage) {
    for (LPCSTR szName : {(LPCSTR)NULL, ""}) {
        SCOPED_TRACE(szName ? "empty name" : "null name");
        TestImage image;
        ChildResult result = RunInChild(image, [&] {
            StartToolkit("");
            CHAR szBuf[16];
            SzReadSymbol(szName, szBuf, 15);
            Reached("after the read");
        });
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(BoxTexts(result.report).empty());
        EXPECT_EQ(DialogIds(result.report), std::vector<int>{400});
    }
}

struct FatalRow {
    std::string sAnswers;
    testsupport::Faults faults;
    std::vector<int> ids;
};

// The fatal-error dialog closes only with 132 or 146; a failure while it is being shown, or a
// WM_QUIT while it is up, goes straight to termination.
TEST_F(DialogTest, FatalPathShowsItsDialogOnceAndEnds) {
    const FatalRow rows[] = {
        {"", {}, {400}},
        {"400=CANCEL\n", {}, {400}},
        {"400=RESTART,EXIT,,\xC3\xA9,CONTINUE\n", {}, {400, 400, 400, 400, 400}},
        {"", {{"FDoDialogExt", "400"}}, {}},
        {"400=RESTART,CONTINUE\n", {{"FDoDialogExt", "#2"}}, {400}},
        {"400=RESTART,RESTART\n", {{"WM_QUIT", "400"}}, {400}},
        {"", {{"FKillNDialogs", "#1"}}, {}},
        {"", {{"FKillNDialogs", "#2"}}, {400}},
        {"", {{"FKillNDialogs", "*"}}, {}},
    };
    for (const FatalRow& row : rows) {
        SCOPED_TRACE(row.sAnswers +
                     (row.faults.empty() ? "" : row.faults[0].first + "=" + row.faults[0].second));
        TestImage image;
        std::string sCmd = UseAnswers(image, row.sAnswers);
        ChildResult result = RunInChild(
            image,
            [&] {
                StartToolkit(sCmd);
                AbortSetup();
            },
            row.faults);
        EXPECT_EQ(result.report["exit_code"], SETUP_EXIT_FAILED);
        EXPECT_EQ(DialogIds(result.report), row.ids);
    }
}

// Every failed removal of dialogs still ends in a finished termination, with no second fatal
// dialog and no endless re-entry. In this process, so that the state left behind can be seen.
TEST_F(DialogTest, TerminationEndsWhenDialogsCannotBeRemoved) {
    TestImage image;
    std::string sCmd = UseAnswers(image, "100=CONTINUE\n");
    ActiveMachine machine(image);
    StartToolkit(sCmd);
    ASSERT_TRUE(FLoadRegistryEntryPoints());
    CHAR szEvent[16];
    SzShowDialog("qvxcui.dll", 100, "FInfoDlgProc", 0, 0, szEvent, 15);
    machine->Fault().Add("FKillNDialogs", "*");

    EXPECT_THROW(KillDialogs(1), winemu::ProcessExit);
    // The removal, the fatal path's removal, and termination's removal; then termination went
    // on: the frame and the install engine are down and the registry module is released.
    EXPECT_EQ(machine->Fault().Calls("FKillNDialogs"), 3);
    EXPECT_EQ(DialogIds(machine->Report()), std::vector<int>{100});
    EXPECT_EQ(HwndFrame(), (HWND)NULL);
    EXPECT_FALSE(toolkit::Core().installUp);
    EXPECT_EQ(hmodRegistry, (HMODULE)NULL);
    EXPECT_EQ(machine->Objects().CountOpen(winemu::HandleKind::Module), 0u);
    EXPECT_EQ(fFatal, 1);
}

TEST_F(DialogTest, AFailedDialogCallTakesTheFatalPath) {
    TestImage image;
    ChildResult result = RunInChild(image,
                                    [&] {
                                        StartToolkit("");
                                        DoFinish();
                                        Reached("after finish");
                                    },
                                    {{"FDoDialogExt", "700"}});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(DialogIds(result.report), std::vector<int>{400});
    EXPECT_TRUE(BoxTexts(result.report).empty());
}

} // namespace
