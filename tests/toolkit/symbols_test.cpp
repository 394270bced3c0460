// The symbol table's length contract, STF_SRCDIR, and the frame's start-up and cursor calls.
#include "toolkit_fixture.h"

#include <cstring>

namespace toolkittest {
namespace {

constexpr char kJunk = '\x7E';

class SymbolTest : public ToolkitTest {};

struct CopyCase {
    const char* value;
    INT cbBuf;
    INT expectedCount;
    const char* expectedText; // what the buffer holds; null: left untouched
};

TEST_F(SymbolTest, CountIsFullLengthAndBufferIsCutAndTerminated) {
    Start();
    const CopyCase cases[] = {
        {"ABCDE", 16, 5, "ABCDE"}, // roomy
        {"ABCDE", 6, 5, "ABCDE"},  // exact fit
        {"ABCDE", 5, 5, "ABCD"},   // one too small
        {"ABCDE", 1, 5, ""},       // room for the terminator only
        {"ABCDE", 0, 5, nullptr},  // no room: nothing written
        {"ABCDE", -3, 5, nullptr}, // a negative size writes nothing either
        {"", 4, 0, ""},            // an empty value
        {"0123456789ABCDE", 15, 15, "0123456789ABCD"},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(std::string(c.value) + " into " + std::to_string(c.cbBuf));
        ASSERT_TRUE(FSetSymbolValue("SYM", c.value));
        char buf[32];
        std::memset(buf, kJunk, sizeof buf);
        EXPECT_EQ(CbGetSymbolValue("SYM", buf, c.cbBuf), c.expectedCount);
        size_t written = 0;
        if (c.expectedText) {
            written = std::strlen(c.expectedText) + 1;
            EXPECT_STREQ(buf, c.expectedText);
        }
        for (size_t i = written; i < sizeof buf; ++i) {
            ASSERT_EQ(buf[i], kJunk) << "byte " << i << " written";
        }
    }
}

TEST_F(SymbolTest, MissingSymbolIsEmptyWithCountZero) {
    Start();
    char buf[8];
    std::memset(buf, kJunk, sizeof buf);
    EXPECT_EQ(CbGetSymbolValue("NO_SUCH_SYMBOL", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(buf[1], kJunk);
    EXPECT_EQ(CbGetSymbolValue(nullptr, buf, sizeof buf), 0);
    EXPECT_EQ(CbGetSymbolValue("NO_SUCH_SYMBOL", nullptr, 8), 0);
}

TEST_F(SymbolTest, SetReplacesAndRefusesNoName) {
    Start();
    EXPECT_TRUE(FSetSymbolValue("DLGEVENT", "CANCEL"));
    EXPECT_TRUE(FSetSymbolValue("DLGEVENT", "EXIT"));
    EXPECT_EQ(Symbol("DLGEVENT"), "EXIT");
    EXPECT_TRUE(FSetSymbolValue("DLGEVENT", nullptr));
    EXPECT_EQ(Symbol("DLGEVENT"), "");
    EXPECT_FALSE(FSetSymbolValue("", "X"));
    EXPECT_FALSE(FSetSymbolValue(nullptr, "X"));
}

TEST_F(SymbolTest, SetFailsUnderItsFault) {
    Start();
    M().Fault().Add("FSetSymbolValue", "DLGEVENT");
    EXPECT_FALSE(FSetSymbolValue("DLGEVENT", "CONTINUE"));
    EXPECT_TRUE(FSetSymbolValue("OTHER", "CONTINUE"));
    EXPECT_EQ(Symbol("DLGEVENT"), "");
}

struct SrcDirCase {
    const char* currentDirectory;
    const char* folder; // made on the image so the machine can start there
    const char* expected;
};

TEST_F(SymbolTest, SourceDirectoryIsStartDirectoryWithOneTrailingBackslash) {
    const SrcDirCase cases[] = {
        {"A:\\", "A:\\", "A:\\"},
        {"A:\\DISK1", "A:\\DISK1", "A:\\DISK1\\"},
        {"D:\\SETUP\\NT", "D:\\SETUP\\NT", "D:\\SETUP\\NT\\"},
    };
    for (const SrcDirCase& c : cases) {
        SCOPED_TRACE(c.currentDirectory);
        image.Ini(std::string("[Machine]\nCurrentDirectory=") + c.currentDirectory + "\n");
        image.Folder(c.folder);
        Start();
        EXPECT_EQ(Symbol("STF_SRCDIR"), c.expected);
        active.reset();
    }
}

TEST_F(SymbolTest, SourceDirectoryEndingInDoubleByteCharacterGetsItsBackslash) {
    // Under code page 932, 0x83 0x5C is one character whose second byte looks like a backslash.
    image.Ini("[Machine]\nCodePage=932\n");
    BootOnly();
    M().CurrentDirectory() = "A:\\\x83\x5C";
    char cmd[] = "";
    ASSERT_NE(InitializeFrame(cmd), nullptr);
    EXPECT_EQ(Symbol("STF_SRCDIR"), "A:\\\x83\x5C\\");
}

TEST_F(SymbolTest, StartingAgainForgetsEarlierSymbols) {
    Start();
    ASSERT_TRUE(FSetSymbolValue("DLGEVENT", "EXIT"));
    Start();
    EXPECT_EQ(Symbol("DLGEVENT"), "");
}

TEST_F(SymbolTest, FrameComesUpWithInstanceAndInstallEngine) {
    Start("");
    HWND hwnd = HwndFrame();
    HINSTANCE hinst = HinstFrame();
    EXPECT_GT(reinterpret_cast<LONG_PTR>(hwnd), 0);
    EXPECT_NE(hinst, nullptr);
    EXPECT_TRUE(FInitializeInstall(hinst, hwnd));
    EXPECT_FALSE(FInitializeInstall(hinst, nullptr));
    EXPECT_TRUE(FSetBitmap("qvxcui.dll", 1));
    EXPECT_TRUE(FSetBitmap("QVXCUI.DLL", 1));
    EXPECT_FALSE(FSetBitmap("qvxcui.dll", 2));
    EXPECT_FALSE(FSetBitmap("other.dll", 1));
    TerminateFrame();
    TerminateInstall();
    EXPECT_EQ(HwndFrame(), nullptr);
    EXPECT_FALSE(FSetBitmap("qvxcui.dll", 1));
}

TEST_F(SymbolTest, FrameFailsUnderItsFault) {
    BootOnly();
    M().Fault().Add("InitializeFrame", "*");
    char cmd[] = "";
    EXPECT_EQ(InitializeFrame(cmd), nullptr);
    EXPECT_EQ(HwndFrame(), nullptr);
}

TEST_F(SymbolTest, InstallEngineAndBitmapFailUnderTheirFaults) {
    Start();
    M().Fault().Add("FInitializeInstall", "*");
    M().Fault().Add("FSetBitmap", "qvxcui");
    EXPECT_FALSE(FInitializeInstall(HinstFrame(), HwndFrame()));
    EXPECT_FALSE(FSetBitmap("qvxcui.dll", 1));
}

TEST_F(SymbolTest, WaitCursorCanBeRestored) {
    Start();
    HCURSOR first = HShowWaitCursor();
    HCURSOR second = HShowWaitCursor();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(FRestoreCursor(second));
    EXPECT_TRUE(FRestoreCursor(first));
    EXPECT_FALSE(FRestoreCursor(nullptr));
    EXPECT_FALSE(FRestoreCursor(reinterpret_cast<HCURSOR>(static_cast<ULONG_PTR>(0x1234))));
    // The fault counts every call: the second one from here fails.
    M().Fault().Add("FRestoreCursor",
                    "#" + std::to_string(M().Fault().Calls("FRestoreCursor") + 2));
    EXPECT_TRUE(FRestoreCursor(first));
    EXPECT_FALSE(FRestoreCursor(first));
}

TEST_F(SymbolTest, MessageBoxIsRecordedAndShown) {
    Start();
    DoMsgBox("Buffer Overflow", "MS-Setup Error", MB_ICONHAND);
    nlohmann::json expected = nlohmann::json::array(
        {{{"text", "Buffer Overflow"}, {"caption", "MS-Setup Error"}, {"style", 16}}});
    EXPECT_EQ(Report()["message_boxes"], expected);
    EXPECT_NE(console.str().find("MS-Setup Error"), std::string::npos);
    EXPECT_NE(console.str().find("Buffer Overflow"), std::string::npos);
}

} // namespace
} // namespace toolkittest
