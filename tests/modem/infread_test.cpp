// The modem INF reading: the first entry's value, the model section, the description key and
// the hardware ID, with every text held within its buffer.
#include "modem_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using modemtest::ModemMachine;

// A section list as the profile reader delivers it: zero-terminated entries, then an empty one.
struct SectionList {
    char bytes[CB_SECTION_LIST];
    explicit SectionList(std::initializer_list<std::string> entries) {
        std::memset(bytes, 0, sizeof bytes);
        size_t at = 0;
        for (const std::string& e : entries) {
            std::memcpy(bytes + at, e.c_str(), e.size() + 1);
            at += e.size() + 1;
        }
    }
};

TEST(FGetFirstEntryValue, Values) {
    struct Row {
        std::string entry;
        BOOL result;
        std::string value; // what the destination holds after the call
    };
    const Row rows[] = {
        {"Mfg=Models", TRUE, "Models"},
        {"%Mfg%=   Models", TRUE, "Models"},  // spaces after "=" skipped
        {"%Mfg%=Models  ", TRUE, "Models  "}, // trailing spaces kept
        {"A=B=C", TRUE, "B=C"},               // only the first "=" counts
        {"A=\tB", TRUE, "\tB"},               // only spaces are skipped
        {"A=", TRUE, ""},
        {"A=" + std::string(98, 'v'), TRUE, std::string(98, 'v')},   // 98 characters fit
        {"A=" + std::string(99, 'v'), FALSE, std::string(99, 'v')},  // 99 do not
        {"A=" + std::string(300, 'v'), FALSE, std::string(99, 'v')}, // cut, never past
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry.substr(0, 20) + " (" + std::to_string(row.entry.size()) + ")");
        SectionList list({row.entry, "Second=Other"});
        char dest[CB_INF_TEXT + 20];
        std::memset(dest, '#', sizeof dest);
        EXPECT_EQ(FGetFirstEntryValue(dest, list.bytes), row.result);
        EXPECT_EQ(std::string(dest), row.value);
        for (size_t i = CB_INF_TEXT; i < sizeof dest; ++i)
            ASSERT_EQ(dest[i], '#') << "byte " << i << " written past the destination";
    }
}

TEST(FGetFirstEntryValue, NoEqualsCopiesNothing) {
    for (const char* entry : {"NoEquals", ""}) {
        SectionList list({entry, "Second=Other"});
        char dest[CB_INF_TEXT];
        std::memset(dest, '#', sizeof dest);
        EXPECT_TRUE(FGetFirstEntryValue(dest, list.bytes));
        EXPECT_EQ(dest[0], '#');
    }
}

TEST(FGetFirstEntryValue, NeverLooksPastTheList) {
    // A list without any zero: the scan stops at its last byte.
    char bytes[CB_SECTION_LIST + 1];
    std::memset(bytes, 'x', sizeof bytes);
    bytes[CB_SECTION_LIST] = '=';
    char dest[CB_INF_TEXT];
    std::memset(dest, '#', sizeof dest);
    EXPECT_TRUE(FGetFirstEntryValue(dest, bytes));
    EXPECT_EQ(dest[0], '#');
}

// A modem INF with the given first manufacturer and model entries.
std::string Inf(const std::string& manufacturerLine, const std::string& modelLine,
                const std::string& strings = "Modem1=\"Modem One\"\n") {
    return "[Manufacturer]\n" + manufacturerLine + "\n[Models]\n" + modelLine +
           "\nSecond = Inst2, SECOND_ID\n[Strings]\n" + strings;
}

struct InfCase {
    const char* what;
    std::string inf;
    BOOL result;
    std::string description;
    std::string hardwareId;
};

void Check(const InfCase& c) {
    SCOPED_TRACE(c.what);
    ModemMachine machine(12, 2, nullptr, c.inf.c_str());
    machine.Boot();
    std::strcpy(szModemInfPath, "C:\\WINNT\\system32\\QVMODEM.INF");
    std::strcpy(szHardwareId, "EARLIER");
    EXPECT_EQ(FReadModemInf(), c.result);
    EXPECT_EQ(std::string(szDeviceDescription), c.description);
    EXPECT_EQ(std::string(szHardwareId), c.hardwareId);
}

TEST(FReadModemInf, Examples) {
    const std::string long120(120, 'd');
    const InfCase cases[] = {
        {"the sample entry", Inf("%Mfg% = Models", "%Modem1% = ModemInstall, MDMID01"), TRUE,
         "Modem One", "MDMID01"},
        {"plain manufacturer entry", Inf("Mfg=Models", "%Modem1%=Inst,  MDMID01"), TRUE,
         "Modem One", "MDMID01"},
        {"compatible IDs follow", Inf("Mfg=Models", "%Modem1% = ModemInstall, MDMID01, COMPAT1"),
         TRUE, "Modem One", "MDMID01, COMPAT1"},
        // The first comma of the entry decides, even inside the key. The profile reader
        // delivers the line as Windows and Wine 8 do (measured under Wine): the blanks around
        // "=" dropped, "%A,B%=Inst, ID7". So the hardware ID is "B%=Inst, ID7", not the
        // "B% = Inst, ID7" that the line as written would give.
        {"comma inside the key", Inf("Mfg=Models", "%A,B% = Inst, ID7", "A,B=\"AB modem\"\n"), TRUE,
         "AB modem", "B%=Inst, ID7"},
        // The key is the rest of the entry, "Modem=Inst, ID7", which [Strings] does not hold.
        {"single percent", Inf("Mfg=Models", "%Modem = Inst, ID7", "Modem=Inst, ID7\n"), TRUE, "",
         "ID7"},
        {"120-character description",
         Inf("Mfg=Models", "%Modem1% = Inst, ID7", "Modem1=" + long120 + "\n"), TRUE,
         long120.substr(0, 99), "ID7"},
        {"no comma keeps the hardware ID", Inf("Mfg=Models", "%Modem1% = Inst"), TRUE, "Modem One",
         "EARLIER"},
        {"missing model section", "[Manufacturer]\nMfg=Nowhere\n", TRUE, "", "EARLIER"},
        {"missing manufacturer section", "[Models]\n%Modem1% = Inst, ID7\n", TRUE, "", "EARLIER"},
        {"98-character model section",
         "[Manufacturer]\nMfg=" + std::string(98, 'M') + "\n[" + std::string(98, 'M') +
             "]\n%Modem1% = Inst, ID98\n[Strings]\nModem1=Long\n",
         TRUE, "Long", "ID98"},
        {"99-character model section", "[Manufacturer]\nMfg=" + std::string(99, 'M') + "\n", FALSE,
         "", "EARLIER"},
    };
    for (const InfCase& c : cases)
        Check(c);
}

TEST(FReadModemInf, MissingFileReadsNothingAndSucceeds) {
    ModemMachine machine(12, 2, nullptr, nullptr);
    machine.Boot();
    std::strcpy(szModemInfPath, "C:\\WINNT\\system32\\QVMODEM.INF");
    std::strcpy(szHardwareId, "EARLIER");
    EXPECT_TRUE(FReadModemInf());
    EXPECT_STREQ(szDeviceDescription, "");
    EXPECT_STREQ(szHardwareId, "EARLIER");
}

// A second reading in the same process takes nothing from the first: a manufacturer entry
// without "=" names no model section and no description key.
TEST(FReadModemInf, ASecondReadingStartsAfresh) {
    ModemMachine machine(12, 2, nullptr, Inf("Mfg=Models", "%Modem1% = Inst, ID7").c_str());
    machine.image.File("C:\\WINNT\\system32\\SECOND.INF", Inf("Models", "%Modem1% = Inst, ID8"));
    machine.Boot();
    std::strcpy(szModemInfPath, "C:\\WINNT\\system32\\QVMODEM.INF");
    BOOL fFirst = FReadModemInf();
    std::string sFirst = szDeviceDescription;
    std::strcpy(szModemInfPath, "C:\\WINNT\\system32\\SECOND.INF");
    BOOL fSecond = FReadModemInf();

    EXPECT_TRUE(fFirst);
    EXPECT_EQ(sFirst, "Modem One");
    EXPECT_TRUE(fSecond);
    EXPECT_STREQ(szDeviceDescription, "");
    EXPECT_STREQ(szHardwareId, "ID7");
}

TEST(FReadModemInf, OverlongKeyAndHardwareIdAreCut) {
    const std::string key(150, 'k');
    const std::string id(150, 'i');
    ModemMachine machine(12, 2, nullptr,
                         ("[Manufacturer]\nMfg=Models\n[Models]\n%" + key + "% = Inst, " + id +
                          "\n[Strings]\n" + key.substr(0, 99) + "=Cut key\n")
                             .c_str());
    machine.Boot();
    std::strcpy(szModemInfPath, "C:\\WINNT\\system32\\QVMODEM.INF");
    EXPECT_TRUE(FReadModemInf());
    EXPECT_EQ(std::string(szHardwareId), id.substr(0, 99));
    EXPECT_STREQ(szDeviceDescription, "Cut key");
}

} // namespace
