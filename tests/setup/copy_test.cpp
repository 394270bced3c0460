// The copy list with its billboard, the copy, and the Mixer program group, on a machine in this
// process; a failed toolkit call ends the process (seen here as the process end it throws).
#include "setup/setup.h"
#include "support/test_machine.h"
#include "toolkit/core.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;
using testsupport::UseAnswers;

const char kSetupInf[] = "[Library Files]\nTONEBAY.DLL\nQVHWCTL.DAT\nMIX.EXE\n\n"
                         "[System Files]\nTONEBAY.SYS\n";

std::vector<int> DialogIds(const nlohmann::json& report) {
    std::vector<int> ids;
    if (report.contains("dialogs")) {
        for (const auto& dialog : report["dialogs"]) {
            ids.push_back(dialog["id"].get<int>());
        }
    }
    return ids;
}

// An install disk in A:, a Windows NT 4.0 system directory, the toolkit up with setup.inf open
// and the directories fixed the way start-up fixes them.
class CopyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fFatal = 0;
        fTerminating = 0;
        image_.File("A:\\SETUP.INF", kSetupInf)
            .File("A:\\TONEBAY.DLL", "driver")
            .File("A:\\QVHWCTL.DAT", "[Mixer Group]\nCreate=1\n")
            .File("A:\\MIX.EXE", "mixer")
            .File("A:\\TONEBAY.SYS", "kernel driver")
            .Folder("C:\\WINNT\\system32\\drivers");
    }

    void Start(const std::string& sAnswers = "") {
        std::string sCmd = UseAnswers(image_, sAnswers);
        machine_.emplace(image_);
        ASSERT_NE(InitializeFrame(sCmd.data()), (HWND)NULL);
        ASSERT_TRUE(FInitializeInstall(HinstFrame(), HwndFrame()));
        ASSERT_TRUE(FOpenInf("A:\\setup.inf", 1, 0));
        lstrcpyA(szCopySrcDir, "A:\\");
        lstrcpyA(szTargetDir, "C:\\WINNT\\SYSTEM32\\");
    }

    winemu::Machine& M() { return machine_->M(); }

    TestImage image_;
    std::optional<ActiveMachine> machine_;
};

TEST_F(CopyTest, LibraryFilesThenSystemFilesAreQueuedWithTheBillboard) {
    Start();
    BuildCopyList();

    const auto& copyList = toolkit::Core().copyList;
    ASSERT_EQ(copyList.size(), 4u);
    const char* rgszFile[] = {"TONEBAY.DLL", "QVHWCTL.DAT", "MIX.EXE", "TONEBAY.SYS"};
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(copyList[i].file, rgszFile[i]);
        EXPECT_EQ(copyList[i].from, "A:\\");
        EXPECT_EQ(copyList[i].to,
                  i < 3 ? "C:\\WINNT\\SYSTEM32\\" : "C:\\WINNT\\SYSTEM32\\DRIVERS\\");
    }
    const auto& billboards = toolkit::Core().billboards;
    ASSERT_EQ(billboards.size(), 1u);
    EXPECT_EQ(billboards[0].id, 5000u);
    EXPECT_EQ(billboards[0].procedure, "FModelessDlgProc");
    EXPECT_EQ(billboards[0].ticks, 5);
    EXPECT_EQ(toolkit::Core().gaugePos.x, 155);
    EXPECT_EQ(toolkit::Core().gaugePos.y, 130);
    EXPECT_EQ(toolkit::Core().cursorsGiven, 1u);
}

TEST_F(CopyTest, TheQueuedFilesAreCopiedAndSetupGoesOn) {
    Start();
    BuildCopyList();
    CopyDriverFiles();

    EXPECT_EQ(fFatal, 0);
    EXPECT_EQ(DialogIds(M().Report()), std::vector<int>{5000});
    EXPECT_EQ(M().Report()["files_copied"].size(), 4u);
    EXPECT_EQ(image_.Read("C:\\WINNT\\SYSTEM32\\MIX.EXE"), "mixer");
    EXPECT_EQ(image_.Read("C:\\WINNT\\SYSTEM32\\DRIVERS\\TONEBAY.SYS"), "kernel driver");
}

TEST_F(CopyTest, AFailedCopyTakesTheFatalPath) {
    image_.File("A:\\SETUP.INF", std::string(kSetupInf) + "MISSING.SYS\n");
    Start();
    BuildCopyList();

    EXPECT_THROW(CopyDriverFiles(), winemu::ProcessExit);
    EXPECT_EQ(fFatal, 1);
    EXPECT_EQ(DialogIds(M().Report()).back(), 400);
}

struct GuardRow {
    const char* szApi;
    const char* szSpec;
};

TEST_F(CopyTest, EachGuardedCallOfTheCopyListTakesTheFatalPath) {
    const GuardRow rows[] = {
        {"FAddSectionFilesToCopyList", "Library Files"},
        {"FAddSectionFilesToCopyList", "System Files"},
        {"FAddToBillboardList", "*"},
        {"FRestoreCursor", "*"},
    };
    for (const GuardRow& row : rows) {
        SCOPED_TRACE(std::string(row.szApi) + "=" + row.szSpec);
        fFatal = 0;
        fTerminating = 0;
        Start();
        M().Fault().Add(row.szApi, row.szSpec);

        EXPECT_THROW(BuildCopyList(), winemu::ProcessExit);
        EXPECT_EQ(fFatal, 1);
        EXPECT_EQ(DialogIds(M().Report()), std::vector<int>{400});
        machine_.reset();
    }
}

TEST_F(CopyTest, ProgramGroupWrappersPassTheirTextsOn) {
    Start();
    CreateProgManGroup("Tools", "", 1);
    ShowProgManGroup("Tools", -1, 1);
    CreateProgManItem("Tools", "Panel", "C:\\WINNT\\SYSTEM32\\mix.exe", NULL, 1024);
    CreateProgManItem("Tools", "Other", "C:\\WINNT\\SYSTEM32\\mix.exe", "", 1024);

    const auto& groups = M().Report()["program_groups"];
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]["show"], "-1");
    ASSERT_EQ(groups[0]["items"].size(), 2u);
    EXPECT_EQ(groups[0]["items"][0]["name"], "Panel");
    EXPECT_EQ(groups[0]["items"][1]["name"], "Other");

    // With an extra string the item text carries it after a comma.
    M().Fault().Add("FCreateProgManItem", "Panel,x");
    CreateProgManItem("Tools", "Panel", "C:\\WINNT\\SYSTEM32\\mix.exe", "", 1024);
    EXPECT_EQ(fFatal, 0);
    EXPECT_THROW(CreateProgManItem("Tools", "Panel", "C:\\WINNT\\SYSTEM32\\mix.exe", "x", 1024),
                 winemu::ProcessExit);
    EXPECT_EQ(fFatal, 1);
}

struct MixerRow {
    std::optional<std::string> sCardData; // QVHWCTL.DAT in the system directory; none: no file
    bool fGroup;
};

TEST_F(CopyTest, TheMixerGroupIsMadeOnlyWhenTheCardDataFileSaysCreate1) {
    const MixerRow rows[] = {
        {"[Mixer Group]\nCreate=1\n", true},
        {"[Mixer Group]\nCreate=2\n", false},
        {"[Mixer Group]\nCreate=0\n", false},
        {"[Mixer Group]\nCreate=-1\n", false},
        {"[Mixer Group]\nOther=1\n", false},
        {"[Card07]\nModem=0\n", false},
        {std::nullopt, false},
    };
    for (const MixerRow& row : rows) {
        SCOPED_TRACE(row.sCardData ? *row.sCardData : "no card data file");
        TestImage image;
        image.Folder("C:\\WINNT\\system32").Folder("A:\\");
        if (row.sCardData) {
            image.File("C:\\WINNT\\system32\\QVHWCTL.DAT", *row.sCardData);
        }
        ActiveMachine machine(image);
        std::string sCmd;
        ASSERT_NE(InitializeFrame(sCmd.data()), (HWND)NULL);
        ASSERT_TRUE(FInitializeInstall(HinstFrame(), HwndFrame()));
        machine->CurrentDirectory() = "C:\\WINNT\\system32";
        lstrcpyA(szTargetDir, "C:\\WINNT\\SYSTEM32\\");

        CreateMixerGroup();
        const auto& groups = machine->Report()["program_groups"];
        if (!row.fGroup) {
            EXPECT_TRUE(groups.empty());
            // Not even the cursor is touched.
            EXPECT_EQ(toolkit::Core().cursorsGiven, 0u);
            continue;
        }
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0]["name"], "Mixer");
        EXPECT_EQ(groups[0]["show"], "2");
        ASSERT_EQ(groups[0]["items"].size(), 1u);
        EXPECT_EQ(groups[0]["items"][0]["name"], "Mixer Control Panel");
        EXPECT_EQ(groups[0]["items"][0]["command"], "C:\\WINNT\\SYSTEM32\\mix.exe");
        EXPECT_EQ(toolkit::Core().cursorsGiven, 1u);
    }
}

} // namespace
