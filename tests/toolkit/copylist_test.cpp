// setup.inf, the copy list and the copy: where files land, which names are refused, what the
// report and the screen show.
#include "toolkit_fixture.h"

namespace toolkittest {
namespace {

constexpr const char* kTarget = "C:\\WINNT\\SYSTEM32\\";
constexpr const char* kDrivers = "C:\\WINNT\\SYSTEM32\\DRIVERS\\";

class CopyTest : public ToolkitTest {
  protected:
    // setup.inf with these two sections, and each listed file on the disk with its name as text.
    void Disk(std::initializer_list<const char*> library,
              std::initializer_list<const char*> system) {
        std::string inf = "; driver files\n[Library Files]\n";
        for (const char* name : library) {
            inf += std::string(name) + "\n";
        }
        inf += "\n[System Files]   ; kernel driver\n";
        for (const char* name : system) {
            inf += std::string("  ") + name + "  ; driver\r\n";
        }
        image.File("A:\\SETUP.INF", inf);
        for (auto list : {library, system}) {
            for (const char* name : list) {
                std::string file(name);
                if (file.find_first_of("\\/:") == std::string::npos &&
                    file.find("..") == std::string::npos) {
                    image.File(std::string("A:\\") + file, "contents of " + file);
                }
            }
        }
    }
    // What BuildCopyList asks of the toolkit.
    void QueueDriverFiles() {
        ASSERT_TRUE(FOpenInf("A:\\setup.inf", 1, 0));
        ResetCopyList();
        ASSERT_TRUE(FAddSectionFilesToCopyList("Library Files", "A:\\", kTarget));
        ASSERT_TRUE(FAddSectionFilesToCopyList("System Files", "A:\\", kDrivers));
    }
    nlohmann::json Copied() { return Report()["files_copied"]; }
};

TEST_F(CopyTest, FilesLandInTargetAndDriversWhichIsCreated) {
    Disk({"TONEBAY.DLL", "MIX.EXE"}, {"TONEBAY.SYS"});
    Start();
    QueueDriverFiles();
    ASSERT_FALSE(image.Exists("C:\\WINNT\\system32\\DRIVERS"));

    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), 0) << console.str();

    EXPECT_EQ(image.Read("C:\\WINNT\\system32\\TONEBAY.DLL"), "contents of TONEBAY.DLL");
    EXPECT_EQ(image.Read("C:\\WINNT\\system32\\MIX.EXE"), "contents of MIX.EXE");
    EXPECT_EQ(image.Read("C:\\WINNT\\system32\\DRIVERS\\TONEBAY.SYS"), "contents of TONEBAY.SYS");
    EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\TONEBAY.SYS"));
    nlohmann::json expected =
        nlohmann::json::array({"C:\\WINNT\\SYSTEM32\\TONEBAY.DLL", "C:\\WINNT\\SYSTEM32\\MIX.EXE",
                               "C:\\WINNT\\SYSTEM32\\DRIVERS\\TONEBAY.SYS"});
    EXPECT_EQ(Copied(), expected);
}

TEST_F(CopyTest, NestedMissingTargetFoldersAreCreated) {
    Disk({"A.DLL"}, {});
    Start();
    ASSERT_TRUE(FOpenInf("A:\\SETUP.INF", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Library Files", "A:\\", "D:\\NEW\\ONE\\TWO"));
    image.Folder("D:\\");
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), 0) << console.str();
    EXPECT_EQ(image.Read("D:\\NEW\\ONE\\TWO\\A.DLL"), "contents of A.DLL");
}

TEST_F(CopyTest, CopiedListIsEmptied) {
    Disk({"A.DLL"}, {});
    Start();
    ASSERT_TRUE(FOpenInf("A:\\SETUP.INF", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("library files", "A:\\", kTarget));
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), 0);
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), 0);
    EXPECT_EQ(Copied().size(), 1u);
}

// A section setup.inf does not have fails the call and says so; one that is there but empty
// queues nothing. Lines end at CR LF, LF or a lone CR.
TEST_F(CopyTest, SectionMustBeInSetupInf) {
    struct Row {
        std::string inf;
        BOOL found;
        size_t queued;
    };
    const Row rows[] = {
        {"[Library Files]\nA.DLL\n", TRUE, 1},
        {"[Library Files]\rA.DLL\rB.DLL", TRUE, 2},
        {"[Library Files]\r\n; none yet\r\n[System Files]\r\nA.DLL\r\n", TRUE, 0},
        {"", FALSE, 0},
        {"[Other]\nA.DLL\n", FALSE, 0},
        {std::string("[Library\0Files]\nA.DLL\n", 22), FALSE, 0},
        {std::string("\xFF\xFE[\0L\0]\0", 8), FALSE, 0}, // UTF-16: no section the toolkit reads
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.inf));
        image.File("A:\\SETUP.INF", row.inf);
        image.File("A:\\A.DLL", "a");
        image.File("A:\\B.DLL", "b");
        Start();
        ASSERT_TRUE(FOpenInf("A:\\SETUP.INF", 1, 0));
        EXPECT_EQ(FAddSectionFilesToCopyList("Library Files", "A:\\", kTarget), row.found);
        EXPECT_EQ(toolkit::Core().copyList.size(), row.queued);
        EXPECT_EQ(console.str().find("A:\\SETUP.INF has no section [Library Files]") !=
                      std::string::npos,
                  !row.found)
            << console.str();
        console.str("");
    }
}

// Each line keeps its number in the file, whatever ends it; comments, blanks, headers and the
// lines of a repeated section count too.
TEST(IniReader, LinesKeepTheirNumbers) {
    toolkit::IniSections ini =
        toolkit::ParseIni("; top\r\n[A]\rx=1\n\n  y = 2 ; note\r\n[a]\nz\n[B]\r\nw");
    ASSERT_EQ(ini["A"].size(), 2u);
    EXPECT_EQ(ini["A"][0].text, "x=1");
    EXPECT_EQ(ini["A"][0].number, 3);
    EXPECT_EQ(ini["A"][1].text, "y = 2");
    EXPECT_EQ(ini["A"][1].number, 5);
    ASSERT_EQ(ini["B"].size(), 1u);
    EXPECT_EQ(ini["B"][0].number, 9);
}

TEST_F(CopyTest, ResetEmptiesTheList) {
    Disk({"A.DLL"}, {});
    Start();
    ASSERT_TRUE(FOpenInf("A:\\SETUP.INF", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Library Files", "A:\\", kTarget));
    ResetCopyList();
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), 0);
    EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\A.DLL"));
}

TEST_F(CopyTest, InfMustExistAndBeOpenBeforeQueueing) {
    Start();
    EXPECT_FALSE(FAddSectionFilesToCopyList("Library Files", "A:\\", kTarget));
    EXPECT_FALSE(FOpenInf("A:\\setup.inf", 1, 0));
    EXPECT_FALSE(FOpenInf("", 1, 0));
    EXPECT_FALSE(FOpenInf(nullptr, 1, 0));
    image.Folder("A:\\SETUP.INF\\");
    EXPECT_FALSE(FOpenInf("A:\\setup.inf", 1, 0)); // a folder is no INF
    // The toolkit reads through the platform's file functions, so their faults reach it.
    std::filesystem::remove_all(image.Dir() / "drives/A/SETUP.INF");
    image.File("A:\\SETUP.INF", "[Library Files]\nTONEBAY.DLL\n");
    M().Fault().Add("CreateFileA", "setup.inf");
    EXPECT_FALSE(FOpenInf("A:\\setup.inf", 1, 0));
    M().Fault().Clear();
    EXPECT_TRUE(FOpenInf("A:\\setup.inf", 1, 0));
    // Beyond what the toolkit reads: the notes name the file and the reason.
    image.File("A:\\SETUP.INF", "[Library Files]\n" + std::string(1024 * 1024, ';'));
    EXPECT_FALSE(FOpenInf("A:\\setup.inf", 1, 0));
    EXPECT_NE(console.str().find("Setup cannot read A:\\setup.inf: it is larger than 1048576"),
              std::string::npos)
        << console.str();
}

TEST_F(CopyTest, CommentsAndBlanksAreNoFileNames) {
    image.File("A:\\SETUP.INF", "[Library Files]\n; all of it a comment\n\n   \nA.DLL ; trailing\n"
                                "[Other]\nB.DLL\n");
    image.File("A:\\A.DLL", "a");
    image.File("A:\\B.DLL", "b");
    Start();
    ASSERT_TRUE(FOpenInf("A:\\SETUP.INF", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Library Files", "A:\\", kTarget));
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), 0) << console.str();
    EXPECT_EQ(Copied(), nlohmann::json::array({"C:\\WINNT\\SYSTEM32\\A.DLL"}));
}

TEST_F(CopyTest, NamesThatLeaveTheirDirectoryAreRefusedBeforeAnythingIsCopied) {
    const char* refused[] = {
        "..\\EVIL.DLL", "SUB\\EVIL.DLL", "SUB/EVIL.DLL", "C:EVIL.DLL", "C:\\EVIL.DLL", "..",
        "EVIL..DLL",    "COM1",          "nul.txt",      "Lpt9.DAT",   "CON",          "AUX.INF"};
    for (const char* name : refused) {
        SCOPED_TRACE(name);
        Disk({"GOOD.DLL"}, {name});
        image.Folder("A:\\SUB");
        image.File("A:\\SUB\\EVIL.DLL", "evil");
        image.File("A:\\EVIL.DLL", "evil");
        image.File("A:\\EVIL..DLL", "evil");
        Start();
        QueueDriverFiles();

        INT grc = GrcCopyFilesInCopyList(HinstFrame());
        EXPECT_GT(grc, 0);
        EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\GOOD.DLL"));
        EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\EVIL.DLL"));
        EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\SUB"));
        EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\DRIVERS"));
        EXPECT_FALSE(image.Exists("C:\\EVIL.DLL"));
        EXPECT_FALSE(image.Exists("C:\\WINNT\\EVIL.DLL"));
        EXPECT_EQ(Copied(), nlohmann::json::array());
        EXPECT_NE(console.str().find(std::string("will not copy \"") + name), std::string::npos);
        console.str("");
        active.reset();
    }
}

TEST_F(CopyTest, MissingSourceFailsAndCopiesNothing) {
    Disk({"GOOD.DLL"}, {"TONEBAY.SYS"});
    std::filesystem::remove(image.HostPath("A:\\TONEBAY.SYS"));
    Start();
    QueueDriverFiles();
    EXPECT_GT(GrcCopyFilesInCopyList(HinstFrame()), 0);
    EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\GOOD.DLL"));
    EXPECT_EQ(Copied(), nlohmann::json::array());
    EXPECT_NE(console.str().find("TONEBAY.SYS"), std::string::npos);
}

TEST_F(CopyTest, FailedPlatformCopyStopsWithPositiveCode) {
    Disk({"A.DLL", "B.DLL"}, {});
    Start();
    QueueDriverFiles();
    M().Fault().Add("CopyFileA", "B.DLL");
    EXPECT_GT(GrcCopyFilesInCopyList(HinstFrame()), 0);
    // Nothing already copied is undone; the report says what is there.
    EXPECT_TRUE(image.Exists("C:\\WINNT\\system32\\A.DLL"));
    EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\B.DLL"));
    EXPECT_EQ(Copied(), nlohmann::json::array({"C:\\WINNT\\SYSTEM32\\A.DLL"}));
}

TEST_F(CopyTest, CopyFaultFailsWithPositiveCodeAndCopiesNothing) {
    Disk({"A.DLL"}, {});
    Start();
    QueueDriverFiles();
    M().Fault().Add("GrcCopyFilesInCopyList", "*");
    EXPECT_GT(GrcCopyFilesInCopyList(HinstFrame()), 0);
    EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\A.DLL"));
}

TEST_F(CopyTest, QueueingCallsFailUnderTheirFaults) {
    Disk({"A.DLL"}, {});
    Start();
    M().Fault().Add("FOpenInf", "setup.inf");
    EXPECT_FALSE(FOpenInf("A:\\SETUP.INF", 1, 0));
    M().Fault().Clear();
    ASSERT_TRUE(FOpenInf("A:\\SETUP.INF", 1, 0));
    M().Fault().Add("FAddSectionFilesToCopyList", "System Files");
    M().Fault().Add("FAddToBillboardList", "5000");
    EXPECT_TRUE(FAddSectionFilesToCopyList("Library Files", "A:\\", kTarget));
    EXPECT_FALSE(FAddSectionFilesToCopyList("System Files", "A:\\", kDrivers));
    EXPECT_FALSE(FAddToBillboardList("qvxcui.dll", 5000, "FModelessDlgProc", 5));
}

TEST_F(CopyTest, BillboardIsShownWithTheGaugeDuringTheCopy) {
    Disk({"A.DLL", "B.DLL"}, {"C.SYS"});
    Start();
    QueueDriverFiles();
    EXPECT_FALSE(FAddToBillboardList("qvxcui.dll", 5000, "FInfoDlgProc", 5));
    EXPECT_FALSE(FAddToBillboardList("qvxcui.dll", 5001, "FModelessDlgProc", 5));
    EXPECT_FALSE(FAddToBillboardList("other.dll", 5000, "FModelessDlgProc", 5));
    EXPECT_FALSE(FAddToBillboardList("qvxcui.dll", 100, "FInfoDlgProc", 5)); // not modeless
    ASSERT_TRUE(FAddToBillboardList("qvxcui.dll", 5000, "FModelessDlgProc", 5));
    ProSetPos(155, 130);
    EXPECT_EQ(Report()["dialogs"], nlohmann::json::array());

    ASSERT_EQ(GrcCopyFilesInCopyList(HinstFrame()), 0);

    nlohmann::json expected =
        nlohmann::json::array({{{"id", 5000}, {"procedure", "FModelessDlgProc"}, {"event", ""}}});
    EXPECT_EQ(Report()["dialogs"], expected);
    std::string screen = console.str();
    const qvxcui::DialogTemplate* billboard = qvxcui::FindDialog(5000);
    ASSERT_NE(billboard, nullptr);
    size_t title = screen.find(billboard->title);
    size_t third = screen.find("] 33% C:\\WINNT\\SYSTEM32\\A.DLL");
    size_t twoThirds = screen.find("] 66% C:\\WINNT\\SYSTEM32\\B.DLL");
    size_t done = screen.find("] 100% C:\\WINNT\\SYSTEM32\\DRIVERS\\C.SYS");
    ASSERT_NE(title, std::string::npos) << screen;
    ASSERT_NE(third, std::string::npos) << screen;
    ASSERT_NE(twoThirds, std::string::npos) << screen;
    ASSERT_NE(done, std::string::npos) << screen;
    EXPECT_LT(title, third);
    EXPECT_LT(third, twoThirds);
    EXPECT_LT(twoThirds, done);
}

} // namespace
} // namespace toolkittest
