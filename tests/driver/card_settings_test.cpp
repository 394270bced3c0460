// The card settings: the card section name of a product number, where the card data file is
// looked for, and the MIDI mapper default read from it.
#include "driver/driver.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;

constexpr const char* kParametersKey = "HKLM\\" SZ_DRIVER_PARAMETERS_KEY;
constexpr const char* kSystemDir = "C:\\WINNT\\system32";
constexpr const char* kSystemCardFile = "C:\\WINNT\\system32\\QVHWCTL.DAT";

// ---------------------------------------------------------------------------------------------
// Card section names

TEST(FFormatCardSection, NamesAndBounds) {
    struct Row {
        DWORD product;
        UINT cbSection;
        BOOL ok;
        const char* name;
    };
    const Row rows[] = {
        {7, CB_CARD_SECTION, TRUE, "Card07"},
        {12, CB_CARD_SECTION, TRUE, "Card12"},
        {100, CB_CARD_SECTION, TRUE, "Card100"},
        {0, CB_CARD_SECTION, TRUE, "Card00"},
        {99999, CB_CARD_SECTION, TRUE, "Card99999"},   // exactly fills 10 bytes
        {100000, CB_CARD_SECTION, FALSE, ""},          // one digit too many
        {0xFFFFFFFF, CB_CARD_SECTION, TRUE, "Card-1"}, // a signed number
        {0x80000000, 32, TRUE, "Card-2147483648"},
        {7, 7, TRUE, "Card07"}, // exact fit
        {7, 6, FALSE, ""},      // one byte too small
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.product) + " in " + std::to_string(row.cbSection));
        char buffer[40];
        std::memset(buffer, '#', sizeof(buffer));

        EXPECT_EQ(FFormatCardSection(buffer, row.cbSection, row.product), row.ok);
        EXPECT_STREQ(buffer, row.name);
        for (size_t i = row.cbSection; i < sizeof(buffer); ++i)
            ASSERT_EQ(buffer[i], '#') << "byte " << i << " written past the buffer";
    }
}

// ---------------------------------------------------------------------------------------------
// Where the card data file is looked for

struct PathMachine {
    TestImage image;
    std::unique_ptr<ActiveMachine> active;
    PathMachine() {
        image.Folder(kSystemDir).Folder("C:\\DISK");
        active = std::make_unique<ActiveMachine>(image);
        M().CurrentDirectory() = "C:\\DISK";
    }
    winemu::Machine& M() { return active->M(); }

    // The path built into a junk-filled buffer; bytes past cbPath must stay untouched.
    std::string Build(UINT cbPath, BOOL fSystemFirst) {
        char buffer[400];
        std::memset(buffer, '#', sizeof(buffer));
        BuildCardDataPath(buffer, cbPath, fSystemFirst);
        for (size_t i = cbPath; i < sizeof(buffer); ++i)
            EXPECT_EQ(buffer[i], '#') << "byte " << i << " written past the buffer";
        return std::string(buffer, strnlen(buffer, cbPath));
    }
};

TEST(BuildCardDataPath, EachReaderTakesItsOwnOrder) {
    PathMachine machine;
    EXPECT_EQ(machine.Build(300, TRUE), "C:\\WINNT\\system32\\QVHWCTL.DAT");
    EXPECT_EQ(machine.Build(260, TRUE), "C:\\WINNT\\system32\\QVHWCTL.DAT");
    EXPECT_EQ(machine.Build(100, FALSE), "C:\\DISK\\QVHWCTL.DAT");
}

TEST(BuildCardDataPath, FailedDirectoryCallsFallBack) {
    struct Row {
        const char* name;
        bool systemFails;
        bool currentFails;
        BOOL fSystemFirst;
        const char* path;
    };
    const Row rows[] = {
        {"system fails, system first", true, false, TRUE, "C:\\DISK\\QVHWCTL.DAT"},
        {"current fails, current first", false, true, FALSE, "C:\\WINNT\\system32\\QVHWCTL.DAT"},
        {"both fail, system first", true, true, TRUE, "A:\\QVHWCTL.DAT"},
        {"both fail, current first", true, true, FALSE, "A:\\QVHWCTL.DAT"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PathMachine machine;
        if (row.systemFails)
            machine.M().Fault().Add("GetSystemDirectoryA", "*");
        if (row.currentFails)
            machine.M().Fault().Add("GetCurrentDirectoryA", "*");
        EXPECT_EQ(machine.Build(300, row.fSystemFirst), row.path);
    }
}

TEST(BuildCardDataPath, DirectoryThatLeavesNoRoomIsPassedOver) {
    // "\QVHWCTL.DAT" and the terminator take 13 bytes: in 100 bytes a directory of 87
    // characters fits exactly, one of 88 does not.
    const std::string fits = "C:\\" + std::string(84, 'D');
    const std::string tooLong = "C:\\" + std::string(85, 'D');
    {
        PathMachine machine;
        machine.M().CurrentDirectory() = fits;
        EXPECT_EQ(machine.Build(100, FALSE), fits + "\\QVHWCTL.DAT");
    }
    {
        PathMachine machine;
        machine.M().CurrentDirectory() = tooLong;
        EXPECT_EQ(machine.Build(100, FALSE), "C:\\WINNT\\system32\\QVHWCTL.DAT");
    }
    {
        PathMachine machine;
        machine.M().CurrentDirectory() = tooLong;
        machine.M().Config().windowsDirectory = "C:\\" + std::string(80, 'W');
        EXPECT_EQ(machine.Build(100, FALSE), "A:\\QVHWCTL.DAT");
    }
    {
        // A system directory longer than the buffer: the call answers the size it needs.
        PathMachine machine;
        machine.M().Config().windowsDirectory = "C:\\" + std::string(290, 'W');
        EXPECT_EQ(machine.Build(300, TRUE), "C:\\DISK\\QVHWCTL.DAT");
    }
}

TEST(BuildCardDataPath, BufferTooSmallForAnyPathGivesAnEmptyPath) {
    PathMachine machine;
    machine.M().Fault().Add("GetSystemDirectoryA", "*");
    machine.M().Fault().Add("GetCurrentDirectoryA", "*");
    EXPECT_EQ(machine.Build(15, TRUE), "A:\\QVHWCTL.DAT"); // exact fit
    EXPECT_EQ(machine.Build(14, TRUE), "");
}

// ---------------------------------------------------------------------------------------------
// FReadCardSettings

// A machine after the driver's installation: its parameters key, and the card data file in the
// system directory, which setup has made current.
struct CardMachine {
    TestImage image;
    std::unique_ptr<ActiveMachine> active;

    explicit CardMachine(const std::string& cardData) {
        image.Folder(kSystemDir);
        if (!cardData.empty())
            image.File(kSystemCardFile, cardData);
        active = std::make_unique<ActiveMachine>(image);
        M().CurrentDirectory() = kSystemDir;
    }
    winemu::Machine& M() { return active->M(); }
};

const char* const kCardData = "[Card07]\nMidiMapperDefault=70\n"
                              "[Card7]\nMidiMapperDefault=71\n"
                              "[Card12]\nMidiMapperDefault=12\n"
                              "[Card100]\nMidiMapperDefault=100\n"
                              "[Card08]\nMidiMapperDefault=0\n"
                              "[Card09]\nMidiMapperDefault=5\n"
                              "[Card10]\nModem=0\n";

TEST(FReadCardSettings, ReadsTheMidiMapperDefaultOfTheProductsSection) {
    struct Row {
        DWORD product;
        INT midiMapperDefault;
    };
    const Row rows[] = {
        {7, 70},    // Card07, not Card7
        {12, 12},   // Card12
        {100, 100}, // Card100
        {8, 0},     // the MIDI output port
        {9, 5},     // any nonzero number: the FM synthesizer
        {10, 1},    // the section has no such key
        {11, 1},    // no such section
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.product);
        CardMachine machine(kCardData);
        machine.M().Reg().SetDword(kParametersKey, "CurrentProduct", row.product);
        fMidiMapperDefault = -1;

        EXPECT_EQ(FReadCardSettings(), TRUE);
        EXPECT_EQ(fMidiMapperDefault, row.midiMapperDefault);
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

TEST(FReadCardSettings, MissingCardDataFileGivesTheFmSynthesizer) {
    CardMachine machine("");
    machine.M().Reg().SetDword(kParametersKey, "CurrentProduct", 8);
    fMidiMapperDefault = 0;

    EXPECT_EQ(FReadCardSettings(), TRUE);
    EXPECT_EQ(fMidiMapperDefault, 1);
}

TEST(FReadCardSettings, WithoutSystemDirectoryReadsTheCurrentDirectorysFile) {
    CardMachine machine("[Card08]\nMidiMapperDefault=9\n");
    machine.image.File("C:\\DISK\\QVHWCTL.DAT", "[Card08]\nMidiMapperDefault=0\n");
    machine.M().CurrentDirectory() = "C:\\DISK";
    machine.M().Reg().SetDword(kParametersKey, "CurrentProduct", 8);
    machine.M().Fault().Add("GetSystemDirectoryA", "*");
    fMidiMapperDefault = 1;

    EXPECT_EQ(FReadCardSettings(), TRUE);
    EXPECT_EQ(fMidiMapperDefault, 0);
}

TEST(FReadCardSettings, UnreadableProductNumberFailsAndLeavesTheFlag) {
    struct Row {
        const char* name;
        void (*prepare)(winemu::Machine&);
    };
    const Row rows[] = {
        {"no parameters key", [](winemu::Machine&) {}},
        {"no CurrentProduct",
         [](winemu::Machine& m) { m.Reg().SetDword(kParametersKey, "COMOption", 2); }},
        {"CurrentProduct longer than 4 bytes",
         [](winemu::Machine& m) {
             m.Reg().Set(kParametersKey, "CurrentProduct", REG_BINARY, {8, 0, 0, 0, 0, 0, 0, 0});
         }},
        {"key cannot be opened",
         [](winemu::Machine& m) {
             m.Reg().SetDword(kParametersKey, "CurrentProduct", 8);
             m.Fault().Add("RegOpenKeyExA", "TONEBAY");
         }},
        {"value cannot be read",
         [](winemu::Machine& m) {
             m.Reg().SetDword(kParametersKey, "CurrentProduct", 8);
             m.Fault().Add("RegQueryValueExA", "CurrentProduct");
         }},
        {"product number too long for a section name",
         [](winemu::Machine& m) { m.Reg().SetDword(kParametersKey, "CurrentProduct", 123456); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CardMachine machine("[Card08]\nMidiMapperDefault=0\n[Card123456]\nMidiMapperDefault=0\n");
        row.prepare(machine.M());
        fMidiMapperDefault = 3;

        EXPECT_EQ(FReadCardSettings(), FALSE);
        EXPECT_EQ(fMidiMapperDefault, 3);
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

TEST(FReadCardSettings, TheValuesTypeIsIgnored) {
    CardMachine machine(kCardData);
    machine.M().Reg().Set(kParametersKey, "CurrentProduct", REG_BINARY, {12, 0, 0, 0});
    fMidiMapperDefault = -1;

    EXPECT_EQ(FReadCardSettings(), TRUE);
    EXPECT_EQ(fMidiMapperDefault, 12);
}

} // namespace
