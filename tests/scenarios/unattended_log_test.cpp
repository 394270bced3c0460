// The log of an unattended run, as an administrator reads it: every step of a deployment in
// order, and what went wrong in a run that failed.
#include "support/test_machine.h"
#include "wine/deploy_checks.h"

#include <toolkit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testsupport::ChildResult;
using testsupport::ExitCode;
using testsupport::Faults;
using testsupport::FromSample;
using testsupport::RunSetup;
using testsupport::TestImage;
using testsupport::UseAnswers;

// An administrator's run: /silent shows nothing, /norestart keeps Windows up and says so with
// 3010, and the log, appended to what an earlier run left, tells every step in order.
TEST(SetupFlow, ADeploymentRunLogsEveryStepAndLeavesTheRestartToTheAdministrator) {
    TestImage image;
    FromSample(image, "nt40-modem");
    const std::string sEarlier = "2026-01-02 03:04:05 end: exit code 0 (installed)\r\n";
    image.File("C:\\LOGS\\SETUP.LOG", sEarlier);
    std::string sCmd = UseAnswers(image, "100=CONTINUE\n700=RESTART\n") +
                       " /log:C:\\LOGS\\SETUP.LOG /norestart /silent";

    ChildResult result = RunSetup(image, sCmd);
    ASSERT_EQ(ExitCode(result), SETUP_EXIT_RESTART_NEEDED) << result.output;
    EXPECT_FALSE(result.report["restart_requested"].get<bool>());
    EXPECT_EQ(result.output, ""); // nothing was shown
    EXPECT_TRUE(result.report["open_handles"].empty());

    std::vector<std::string> expected = {
        "end: exit code 0 (installed)",
        "start: setup 1.0 on Windows NT 4.0 (build 1381); command line: " + sCmd,
        "dialog 5100 shown", "dialog 100 answered \"CONTINUE\" (answers line 2)",
        "dialog 5000 shown"};
    const char* files[] = {"TONEBAY.DLL", "QVHWCTL.DAT", "QVMODEM.INF", "MIX.EXE",
                           "DRIVERS\\TONEBAY.SYS"};
    for (size_t i = 0; i < 5; ++i) {
        std::string sName = files[i];
        std::string sSource = "A:\\" + sName.substr(sName.find('\\') + 1);
        expected.push_back("copied C:\\WINNT\\SYSTEM32\\" + sName + " (" +
                           std::to_string(image.Read(sSource).size()) + " bytes)");
        expected.push_back("progress " + std::to_string((i + 1) * 20) + "%");
    }
    for (const char* szEvent :
         {"driver handshake: TONEBAY.DLL installed (1)", "multimedia registration: done",
          "modem: modem on the model's COM port: yes", "modem: read the modem INF: yes",
          "modem: install the modem device: yes", "modem: attach the modem to its port: yes",
          "modem: configure the serial port: yes", "program group \"Mixer\" created",
          "program item \"Mixer Control Panel\" added to \"Mixer\": "
          "C:\\WINNT\\SYSTEM32\\mix.exe",
          "dialog 700 answered \"RESTART\" (answers line 3)",
          "restart: asked for, not begun (/norestart)",
          "end: exit code 3010 (installed, Windows must be restarted)"}) {
        expected.push_back(szEvent);
    }
    std::string sLog = image.Read("C:\\LOGS\\SETUP.LOG");
    EXPECT_EQ(sLog.substr(0, sEarlier.size()), sEarlier);
    EXPECT_EQ(deploychecks::LogEvents(sLog), expected);
}

// The log names what went wrong: an answers line that fits no dialog, a word a dialog refused,
// a message box and its answer, the file that could not be read.
TEST(SetupFlow, TheLogOfAFailedRunNamesWhatWentWrong) {
    struct Row {
        const char* szAnswers;
        Faults faults;
        std::string sEvent; // one of the log's events
        UINT uExit;
    };
    const Row rows[] = {
        {"100=CONTINUE\n; a comment\n123=CONTINUE\n",
         {},
         "answers file A:\\ANSWERS.INI line 4: \"123=CONTINUE\" names no dialog of setup",
         SETUP_EXIT_FAILED},
        {"100=BOGUS\n",
         {{"FSetSymbolValue", "#2"}},
         "dialog 100 refused \"BOGUS\" (answers line 2)",
         SETUP_EXIT_FAILED},
        {"700=CONTINUE_______\n",
         {},
         "answers file A:\\ANSWERS.INI line 2: \"CONTINUE_______\" is longer than dialog 700 "
         "takes (14 characters)",
         SETUP_EXIT_FAILED},
        {"", {{"GetFileAttributesA", "SYS"}}, "Setup cannot find the file A:\\TONEBAY.SYS.", 1603},
        // Written before Windows is asked to restart; its refusal follows.
        {"700=RESTART\n",
         {{"ExitWindowsEx", "*"}},
         "end: exit code 1641 (installed, Windows is "
         "restarting)",
         SETUP_EXIT_RESTART_NEEDED},
        {"",
         {{"CreateFileA", "ANSWERS"}},
         "the answers file A:\\ANSWERS.INI cannot be read",
         SETUP_EXIT_ANSWERS_UNREADABLE},
        {"",
         {{"GetProcAddress", "RegSetValueA"}},
         "message box \"Error\": Cannot initialize registry! -> OK",
         SETUP_EXIT_FAILED},
        {"100=CANCEL\n200=EXIT\n",
         {},
         "end: exit code 1602 (ended by the answers)",
         SETUP_EXIT_CANCELLED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sEvent);
        TestImage image;
        FromSample(image, "nt40");
        std::string sCmd = UseAnswers(image, row.szAnswers) + " /log:C:\\SETUP.LOG";

        ChildResult result = RunSetup(image, sCmd, row.faults);
        EXPECT_EQ(ExitCode(result), row.uExit) << result.output;
        std::vector<std::string> events = deploychecks::LogEvents(image.Read("C:\\SETUP.LOG"));
        EXPECT_NE(std::find(events.begin(), events.end(), row.sEvent), events.end())
            << ::testing::PrintToString(events);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back(), "end: exit code " + std::to_string(row.uExit) + " (" +
                                     events.back().substr(events.back().find('(') + 1));
    }
}

} // namespace
