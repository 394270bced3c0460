// Dialogs: answers from a file and from the terminal, the stack of dialogs that are up, the
// WM_QUIT fault and the report.
#include "toolkit_fixture.h"

#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>

namespace toolkittest {
namespace {

class DialogTest : public ToolkitTest {
  protected:
    size_t DialogsUp() { return toolkit::Core().dialogs.size(); }
};

TEST_F(DialogTest, AnswersAreTakenInOrderThenDefaultContinue) {
    std::string cmd = testsupport::UseAnswers(image, "100=CANCEL, EXIT ,CONTINUE\n"
                                                     "200=CONTINUE ; go back once\n");
    Start("/q " + cmd);
    EXPECT_EQ(ShowAndRead(100, "FInfoDlgProc"), "CANCEL");
    EXPECT_EQ(ShowAndRead(200, "FQuitDlgProc"), "CONTINUE");
    EXPECT_EQ(ShowAndRead(100, "FInfoDlgProc"), "EXIT");
    EXPECT_EQ(ShowAndRead(200, "FQuitDlgProc"), "CONTINUE"); // used up: the default
    EXPECT_EQ(ShowAndRead(100, "FInfoDlgProc"), "CONTINUE");
    EXPECT_EQ(ShowAndRead(100, "FInfoDlgProc"), "CONTINUE");       // used up: the default
    EXPECT_EQ(ShowAndRead(700, "FInfoDlgProc"), "CONTINUE");       // no line: the default
    EXPECT_EQ(console.str().find("Choose 1-"), std::string::npos); // nobody was asked
    EXPECT_NE(console.str().find("answered: Cancel"), std::string::npos);

    nlohmann::json events = nlohmann::json::array();
    for (const nlohmann::json& shown : Report()["dialogs"]) {
        events.push_back(std::to_string(shown["id"].get<int>()) + " " +
                         shown["event"].get<std::string>());
    }
    nlohmann::json expected = {"100 CANCEL",   "200 CONTINUE", "100 EXIT",    "200 CONTINUE",
                               "100 CONTINUE", "100 CONTINUE", "700 CONTINUE"};
    EXPECT_EQ(events, expected);
}

TEST_F(DialogTest, OddAnswersArePassedAsTheyStand) {
    std::string longest(14, 'X'); // what setup's event buffer holds
    std::string cmd =
        testsupport::UseAnswers(image, "100=," + longest + ",\x80\x42,BB\n700=\n200=RESTART\n");
    Start(cmd);
    EXPECT_EQ(ShowAndRead(100, "FInfoDlgProc"), "");
    char buf[16];
    ASSERT_TRUE(Show(100, "FInfoDlgProc"));
    EXPECT_EQ(CbGetSymbolValue("DLGEVENT", buf, sizeof buf), 14);
    EXPECT_EQ(ShowAndRead(100, "FInfoDlgProc"), "\x80\x42");
    EXPECT_EQ(ShowAndRead(100, "FInfoDlgProc"), "BB");
    EXPECT_EQ(ShowAndRead(700, "FInfoDlgProc"), "");
    EXPECT_EQ(ShowAndRead(200, "FQuitDlgProc"), "RESTART"); // not a button of 200: as it stands
    // The report holds odd bytes as text it can write.
    EXPECT_NO_THROW((void)Report().dump());
}

TEST_F(DialogTest, RunnersAnswersFileIsUsedWithoutTheOption) {
    std::filesystem::path hostFile = image.Dir() / "answers-on-host.ini";
    std::ofstream(hostFile) << "[Answers]\n700=RESTART\n";
    BootOnly();
    M().AnswersFile() = hostFile;
    char cmd[] = "";
    ASSERT_NE(InitializeFrame(cmd), nullptr);
    EXPECT_EQ(ShowAndRead(700, "FInfoDlgProc"), "RESTART");
    EXPECT_EQ(ShowAndRead(700, "FInfoDlgProc"), "CONTINUE");
}

TEST_F(DialogTest, OptionIsReadFromTheMachinesDisk) {
    // Lines that end in a lone CR, as Windows reads them.
    image.File("A:\\ANS\\MY ANSWERS.INI", "[answers]\r100=EXIT\r700=RESTART");
    Start("/ANSWERS:\"A:\\ans\\my answers.ini\"");
    EXPECT_EQ(ShowAndRead(100, "FInfoDlgProc"), "EXIT");
    EXPECT_EQ(ShowAndRead(700, "FInfoDlgProc"), "RESTART");
}

TEST_F(DialogTest, MissingAnswersFileStopsStartUpWithAMessage) {
    BootOnly();
    char cmd[] = "/answers:A:\\NOWHERE.INI";
    EXPECT_EQ(InitializeFrame(cmd), nullptr);
    EXPECT_EQ(HwndFrame(), nullptr);
    EXPECT_NE(console.str().find("A:\\NOWHERE.INI"), std::string::npos);
}

struct OptionRow {
    const char* cmdLine;
    const char* log; // null: no /log:
    bool noRestart;
    bool silent;
};

// The options of an unattended run: any case, '-' for '/', quotes around blanks; a word that
// only begins like an option is none.
TEST_F(DialogTest, RunOptionsAreTakenWordByWord) {
    const OptionRow rows[] = {
        {"/answers:A:\\X.INI /log:C:\\S.LOG /norestart /silent", "C:\\S.LOG", true, true},
        {"-LOG:\"C:\\my logs\\s.log\" -NoRestart -SILENT", "C:\\my logs\\s.log", true, true},
        {"/silently /norestarts /logs:x /log /log= silent", nullptr, false, false},
        {"/log:", "", false, false}, // named, but empty: a log that cannot be opened
    };
    for (const OptionRow& row : rows) {
        SCOPED_TRACE(row.cmdLine);
        toolkit::RunOptions options = toolkit::ParseRunOptions(row.cmdLine);
        EXPECT_EQ(options.log.has_value(), row.log != nullptr);
        EXPECT_EQ(options.log.value_or(""), row.log ? row.log : "");
        EXPECT_EQ(options.noRestart, row.noRestart);
        EXPECT_EQ(options.silent, row.silent);
    }
}

// Without answers a person is at the screen: the run keeps no log, may restart, and ends with 0
// whatever happened.
TEST_F(DialogTest, AnInteractiveRunTakesNoneOfTheUnattendedOptions) {
    Start("/log:C:\\S.LOG /norestart /silent");
    EXPECT_FALSE(toolkit::Silent());
    EXPECT_TRUE(FRestartAllowed());
    std::istringstream input("");
    M().SetInput(&input);
    EXPECT_EQ(ShowAndRead(400, "FInfo0DlgProc"), "CONTINUE");
    EXPECT_NE(console.str().find(qvxcui::FindDialog(400)->title), std::string::npos);
    EXPECT_EQ(UExitCode(), 0u);
    EXPECT_FALSE(image.Exists("C:\\S.LOG"));
}

TEST_F(DialogTest, TerminalChoiceIsReadFromInput) {
    Start();
    std::istringstream input("3\n9\nrestart now\n\n");
    M().SetInput(&input);
    EXPECT_EQ(ShowAndRead(100, "FInfoDlgProc"), "EXIT");
    EXPECT_EQ(ShowAndRead(700, "FInfoDlgProc"), "RESTART");    // "9" asked again, then a label
    EXPECT_EQ(ShowAndRead(6400, "FInfo0DlgProc"), "CONTINUE"); // Enter: the default button
    std::string screen = console.str();
    EXPECT_NE(screen.find(qvxcui::FindDialog(100)->title), std::string::npos);
    EXPECT_NE(screen.find("[3] Exit"), std::string::npos);
    EXPECT_NE(screen.find("[1] Restart now"), std::string::npos);
    EXPECT_NE(screen.find("Please type a number from 1 to 2."), std::string::npos);
}

TEST_F(DialogTest, EndOfInputAnswersTheCancelButton) {
    const std::pair<UINT, const char*> cases[] = {
        {100, "EXIT"},     {200, "EXIT"},     {6400, "EXIT"},    {700, "CONTINUE"},
        {400, "CONTINUE"}, {600, "CONTINUE"}, {900, "CONTINUE"},
    };
    Start();
    std::istringstream empty("");
    for (std::istream* in :
         {static_cast<std::istream*>(nullptr), static_cast<std::istream*>(&empty)}) {
        M().SetInput(in);
        for (auto [id, expected] : cases) {
            SCOPED_TRACE(id);
            const qvxcui::DialogTemplate* dialog = qvxcui::FindDialog(id);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(ShowAndRead(id, dialog->procedure), expected);
        }
    }
}

// Windows' own prompts (the device installer's "Install From Disk") are answered where setup's
// dialogs are: from the answers file, else by the user, whose end of input cancels.
TEST_F(DialogTest, WindowsPromptsAreAnsweredLikeDialogs) {
    const winemu::SystemPrompt prompt{winemu::kInstallFromDiskPrompt, "Install From Disk",
                                      "Copy from:", "C:\\WINNT\\system32"};
    std::string cmd = testsupport::UseAnswers(image, "9000=D:\\OEM,CANCEL,\n");
    Start(cmd);
    ASSERT_TRUE(M().Answerer());
    EXPECT_EQ(M().Answerer()(prompt), "D:\\OEM");
    EXPECT_EQ(M().Answerer()(prompt), std::nullopt);
    EXPECT_EQ(M().Answerer()(prompt), "C:\\WINNT\\system32"); // an empty word takes OK
    EXPECT_EQ(M().Answerer()(prompt), "C:\\WINNT\\system32"); // so do none

    Start();
    std::istringstream input("  E:\\DRIVERS \n\n");
    M().SetInput(&input);
    EXPECT_EQ(M().Answerer()(prompt), "E:\\DRIVERS");
    EXPECT_EQ(M().Answerer()(prompt), "C:\\WINNT\\system32");
    EXPECT_EQ(M().Answerer()(prompt), std::nullopt);
    EXPECT_NE(console.str().find("Install From Disk"), std::string::npos);
}

TEST_F(DialogTest, ModelessDialogReturnsAtOnceWithNoEvent) {
    Start();
    std::istringstream input("2\n");
    M().SetInput(&input);
    ASSERT_TRUE(FSetSymbolValue("DLGEVENT", "CONTINUE"));
    EXPECT_EQ(ShowAndRead(5100, "FModelessDlgProc"), "");
    std::string line;
    ASSERT_TRUE(std::getline(input, line)); // the input was not touched
    EXPECT_EQ(line, "2");
    EXPECT_EQ(DialogsUp(), 1u);
}

// The terminal with windows for modeless dialogs, as the Windows builds have them: each window
// opened gets its own handle, and the handles closed are kept in order.
class WindowedUi : public toolkit::Ui {
  public:
    HWND OpenFrame() override { return Base().OpenFrame(); }
    HINSTANCE FrameInstance() override { return Base().FrameInstance(); }
    void CloseFrame() override { Base().CloseFrame(); }
    bool SetBitmap(UINT id) override { return Base().SetBitmap(id); }
    BOOL RunModal(const qvxcui::DialogTemplate& d, const std::string* answer) override {
        return Base().RunModal(d, answer);
    }
    BOOL OpenModeless(const qvxcui::DialogTemplate& d, HWND& window) override {
        BOOL ok = Base().OpenModeless(d, window);
        window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(d.id));
        return ok;
    }
    void CloseModeless(HWND window) override {
        closed.push_back(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(window)));
    }
    void Progress(size_t done, size_t total, std::string_view file) override {
        if (closed.empty() || closed.back() != 5000) {
            progressWhileUp.push_back(done);
        }
        Base().Progress(done, total, file);
    }
    void ShowMessageBox(std::string_view t, std::string_view c, UINT s) override {
        Base().ShowMessageBox(t, c, s);
    }
    HCURSOR WaitCursor() override { return Base().WaitCursor(); }
    BOOL RestoreCursor(HCURSOR h) override { return Base().RestoreCursor(h); }
    bool MakeGroup(std::string_view g, std::string& f) override { return Base().MakeGroup(g, f); }
    bool ShowGroup(std::string_view g, std::string_view c, std::string& f) override {
        return Base().ShowGroup(g, c, f);
    }
    bool AddItem(std::string_view g, std::string_view i, std::string_view c, std::string& f,
                 std::string& s) override {
        return Base().AddItem(g, i, c, f, s);
    }

    std::vector<UINT> closed;
    std::vector<size_t> progressWhileUp;

  private:
    static toolkit::Ui& Base() { return toolkit::DefaultUi(); }
};

// A modeless dialog's window goes with its dialog, the billboard's with the copy, and whatever
// is still up with the frame; none is closed twice.
TEST_F(DialogTest, ModelessWindowsCloseWithTheirDialogsTheCopyAndTheFrame) {
    image.File("A:\\SETUP.INF", "[Library Files]\nTONEBAY.DLL\n");
    image.File("A:\\TONEBAY.DLL", "driver");
    WindowedUi ui;
    toolkit::SetUi(&ui);
    Start(testsupport::UseAnswers(image, ""));
    ASSERT_TRUE(Show(5100, "FModelessDlgProc"));
    ASSERT_TRUE(Show(100, "FInfoDlgProc"));
    EXPECT_TRUE(FKillNDialogs(1));
    EXPECT_TRUE(ui.closed.empty()); // the welcome dialog had no window left open
    EXPECT_TRUE(FKillNDialogs(-1));
    EXPECT_EQ(ui.closed, std::vector<UINT>{5100});

    ASSERT_TRUE(FOpenInf("A:\\setup.inf", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Library Files", "A:\\", "C:\\WINNT\\SYSTEM32\\"));
    ASSERT_TRUE(FAddToBillboardList("qvxcui.dll", 5000, "FModelessDlgProc", 5));
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), 0) << console.str();
    EXPECT_EQ(ui.closed, (std::vector<UINT>{5100, 5000}));
    EXPECT_EQ(ui.progressWhileUp, (std::vector<size_t>{0, 1}));

    ASSERT_TRUE(Show(5100, "FModelessDlgProc"));
    TerminateFrame();
    EXPECT_EQ(ui.closed, (std::vector<UINT>{5100, 5000, 5100}));
    EXPECT_TRUE(FKillNDialogs(-1));
    EXPECT_EQ(ui.closed.size(), 3u);
}

// A screen that runs out of memory: each toolkit call fails with its failure result and says
// why, and no exception reaches setup's code.
class ThrowingUi : public WindowedUi {
  public:
    bool SetBitmap(UINT) override { throw std::bad_alloc(); }
    BOOL RunModal(const qvxcui::DialogTemplate&, const std::string*) override {
        throw std::bad_alloc();
    }
    BOOL OpenModeless(const qvxcui::DialogTemplate&, HWND&) override { throw std::bad_alloc(); }
    HCURSOR WaitCursor() override { throw std::length_error("cursor"); }
    bool MakeGroup(std::string_view, std::string&) override { throw std::bad_alloc(); }
};

TEST_F(DialogTest, ExceptionsFailTheCallInsteadOfLeavingIt) {
    image.File("A:\\SETUP.INF", "[Library Files]\nTONEBAY.DLL\n");
    image.File("A:\\TONEBAY.DLL", "driver");
    ThrowingUi ui;
    toolkit::SetUi(&ui);
    Start(testsupport::UseAnswers(image, ""));
    EXPECT_FALSE(FSetBitmap("qvxcui.dll", 1));
    EXPECT_FALSE(Show(100, "FInfoDlgProc"));
    EXPECT_FALSE(Show(5100, "FModelessDlgProc"));
    EXPECT_EQ(HShowWaitCursor(), nullptr);
    EXPECT_FALSE(FCreateProgManGroup("Mixer", "", 1));
    ASSERT_TRUE(FOpenInf("A:\\setup.inf", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Library Files", "A:\\", "C:\\WINNT\\SYSTEM32\\"));
    ASSERT_TRUE(FAddToBillboardList("qvxcui.dll", 5000, "FModelessDlgProc", 5));
    EXPECT_GT(GrcCopyFilesInCopyList(HinstFrame()), 0);
    EXPECT_NE(console.str().find("FDoDialogExt failed"), std::string::npos) << console.str();
    EXPECT_NE(console.str().find("HShowWaitCursor failed: cursor"), std::string::npos);
}

TEST_F(DialogTest, StackRemovesLastShownOrAll) {
    Start(testsupport::UseAnswers(image, ""));
    ASSERT_TRUE(Show(5100, "FModelessDlgProc"));
    ASSERT_TRUE(Show(100, "FInfoDlgProc"));
    ASSERT_TRUE(Show(200, "FQuitDlgProc"));
    ASSERT_TRUE(Show(200, "FQuitDlgProc"));
    EXPECT_TRUE(FKillNDialogs(1));
    ASSERT_EQ(DialogsUp(), 3u);
    EXPECT_EQ(toolkit::Core().dialogs.back().id, 200u);
    EXPECT_TRUE(FKillNDialogs(1));
    EXPECT_EQ(toolkit::Core().dialogs.back().id, 100u);
    EXPECT_TRUE(FKillNDialogs(-1)); // the modeless opening dialog goes too
    EXPECT_EQ(DialogsUp(), 0u);
    EXPECT_TRUE(FKillNDialogs(1)); // nothing up: nothing to do
    EXPECT_TRUE(FKillNDialogs(-1));

    ASSERT_TRUE(Show(100, "FInfoDlgProc"));
    ASSERT_TRUE(Show(700, "FInfoDlgProc"));
    EXPECT_TRUE(FKillNDialogs(5)); // more than are up
    EXPECT_EQ(DialogsUp(), 0u);

    ASSERT_TRUE(Show(100, "FInfoDlgProc"));
    TerminateFrame();
    EXPECT_EQ(DialogsUp(), 0u);
}

TEST_F(DialogTest, QuitMessageIsPostedWhenItsDialogShows) {
    Start(testsupport::UseAnswers(image, ""));
    M().Fault().Add("WM_QUIT", "100");
    ASSERT_TRUE(Show(5100, "FModelessDlgProc"));
    ASSERT_TRUE(Show(200, "FQuitDlgProc"));
    EXPECT_TRUE(M().Messages().empty());
    ASSERT_TRUE(Show(100, "FInfoDlgProc"));
    ASSERT_EQ(M().Messages().size(), 1u);
    EXPECT_EQ(M().Messages().front().message, static_cast<UINT>(WM_QUIT));
}

TEST_F(DialogTest, DialogCallsFailUnderTheirFaults) {
    Start(testsupport::UseAnswers(image, ""));
    M().Fault().Add("FDoDialogExt", "100");
    EXPECT_FALSE(Show(100, "FInfoDlgProc"));
    EXPECT_TRUE(Show(200, "FQuitDlgProc"));
    EXPECT_TRUE(Show(700, "FInfoDlgProc"));
    M().Fault().Add("FKillNDialogs", "*");
    EXPECT_FALSE(FKillNDialogs(1));
    EXPECT_EQ(DialogsUp(), 2u);
    M().Fault().Clear();

    // The procedure cannot report its event: the dialog fails.
    M().Fault().Add("FSetSymbolValue", "DLGEVENT");
    EXPECT_FALSE(Show(600, "FInfoDlgProc"));
    M().Fault().Clear();

    nlohmann::json ids = nlohmann::json::array();
    for (const nlohmann::json& shown : Report()["dialogs"]) {
        ids.push_back(shown["id"]);
    }
    EXPECT_EQ(ids, nlohmann::json::array({200, 700, 600}));
    EXPECT_EQ(Report()["dialogs"].back()["event"], "");
}

} // namespace
} // namespace toolkittest
