// registry.reg: the REGEDIT4 text of a machine's registry, written and read back with no loss,
// and refused with the file and line named when a line is malformed.
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using winemu::Registry;
using winemu::RegKey;

std::vector<BYTE> Bytes(std::string_view s) {
    return std::vector<BYTE>(s.begin(), s.end());
}

// Two trees hold the same keys, spelled alike, with the same values in the same order.
void ExpectSameKey(const RegKey& a, const RegKey& b) {
    SCOPED_TRACE(a.Path());
    EXPECT_EQ(a.name, b.name);
    ASSERT_EQ(a.values.size(), b.values.size());
    for (size_t i = 0; i < a.values.size(); ++i) {
        SCOPED_TRACE(a.values[i].name);
        EXPECT_EQ(a.values[i].name, b.values[i].name);
        EXPECT_EQ(a.values[i].type, b.values[i].type);
        EXPECT_EQ(a.values[i].data, b.values[i].data);
    }
    ASSERT_EQ(a.subkeys.size(), b.subkeys.size());
    for (auto ia = a.subkeys.begin(), ib = b.subkeys.begin(); ia != a.subkeys.end(); ++ia, ++ib)
        ExpectSameKey(*ia->second, *ib->second);
}

void ExpectSameRegistry(const Registry& a, const Registry& b) {
    ExpectSameKey(*a.Root(HKEY_LOCAL_MACHINE), *b.Root(HKEY_LOCAL_MACHINE));
    ExpectSameKey(*a.Root(HKEY_CURRENT_USER), *b.Root(HKEY_CURRENT_USER));
}

TEST(RegFile, WritesSortedSectionsParentsFirstEveryKeyAndEveryForm) {
    Registry r;
    r.Create("HKCU\\Software\\Midi");
    r.SetString("HKLM\\SOFTWARE\\tone", "Name", "a \"quoted\" \\path\\");
    r.SetDword("HKLM\\SOFTWARE\\Tone", "Big", 0xFFFFFFFF);
    r.Set("HKLM\\SOFTWARE\\Tone", "NoZero", REG_SZ, Bytes("COM2"));
    r.Set("HKLM\\SOFTWARE\\Tone", "", REG_SZ, Bytes(std::string("d\0", 2)));
    r.Set("HKLM\\SOFTWARE\\Tone", "Bin", REG_BINARY, {0x01, 0xAB});
    r.Set("HKLM\\SOFTWARE\\Tone", "Multi", REG_MULTI_SZ, Bytes(std::string("a\0\0", 3)));
    r.Set("HKLM\\SOFTWARE\\Tone", "Odd", 0x12345678, {});
    r.Create("HKLM\\SOFTWARE\\Empty");
    r.SetDword("HKLM\\SYSTEM\\Setup", "Short", 42);
    r.SetString("HKU\\.DEFAULT\\Modems", "Added", "yes");

    const std::string text = r.ToRegText();
    EXPECT_EQ("REGEDIT4\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tone]\n"
              "\"Name\"=\"a \\\"quoted\\\" \\\\path\\\\\"\n"
              "\"Big\"=dword:ffffffff\n"
              "\"NoZero\"=hex(1):43,4f,4d,32\n"
              "@=\"d\"\n"
              "\"Bin\"=hex:01,ab\n"
              "\"Multi\"=hex(7):61,00,00\n"
              "\"Odd\"=hex(12345678):\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\Setup]\n"
              "\"Short\"=dword:0000002a\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Midi]\n"
              "\n"
              "[HKEY_USERS\\.DEFAULT]\n"
              "\n"
              "[HKEY_USERS\\.DEFAULT\\Modems]\n"
              "\"Added\"=\"yes\"\n"
              "\n",
              text);
    EXPECT_EQ(text, Registry::FromRegText(text, "registry.reg").ToRegText());
}

TEST(RegFile, OddDataRoundTrips) {
    struct Row {
        const char* name;
        DWORD type;
        std::string bytes;
    };
    const Row rows[] = {
        {"plain", REG_SZ, std::string("COM2\0", 5)},
        {"no terminator", REG_SZ, "COM2"},
        {"embedded zero", REG_SZ, std::string("a\0b\0", 4)},
        {"two zeros", REG_SZ, std::string("ab\0\0", 4)},
        {"junk after zero", REG_SZ, std::string("ab\0XY", 5)},
        {"empty REG_SZ", REG_SZ, ""},
        {"only a zero", REG_SZ, std::string("\0", 1)},
        {"line end inside", REG_SZ, std::string("two\r\nlines\0", 11)},
        {"escapes \\ \" in name", REG_SZ, std::string("C:\\\"x\"\\\0", 8)},
        {"name\nwith a line end", REG_SZ, std::string("x\0", 2)},
        {"", REG_SZ, std::string("default\0", 8)},
        {"big dword", REG_DWORD, std::string("\xff\xff\xff\xff", 4)},
        {"zero dword", REG_DWORD, std::string("\0\0\0\0", 4)},
        {"short dword", REG_DWORD, std::string("\x01\x02\x03", 3)},
        {"long dword", REG_DWORD, std::string("\x01\x02\x03\x04\x05", 5)},
        {"binary", REG_BINARY, std::string("\x00\x7f\x80\xff", 4)},
        {"empty binary", REG_BINARY, ""},
        {"long binary", REG_BINARY, std::string(200, '\x5a')},
        {"big-endian dword", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x2a", 4)},
        {"none", REG_NONE, "x"},
        {"odd type", 0xFFFFFFFF, "\x01"},
        {"high bytes \x82\xa0", REG_SZ, std::string("\x82\xa0\x5c\0", 4)},
    };
    Registry original;
    for (const Row& row : rows)
        original.Set("HKLM\\SOFTWARE\\Odd", row.name, row.type, Bytes(row.bytes));
    original.Create("HKLM\\SOFTWARE\\Odd\\Empty\\Deeper\\Still empty");
    original.Create("HKLM\\SOFTWARE\\Key [with] brackets]");
    original.Create("HKCU\\Software\\\"quoted\" key");
    // Windows' limits, reached exactly.
    std::string deepest = "HKLM";
    for (size_t i = 0; i < winemu::kMaxKeyDepth; ++i)
        deepest += "\\D";
    original.Create(deepest);
    original.Create("HKLM\\SOFTWARE\\" + std::string(winemu::kMaxKeyNameChars, 'k'));
    original.SetDword("HKLM\\SOFTWARE", std::string(winemu::kMaxValueNameChars, 'v'), 1);
    original.SetDword("HKCU", "on the root", 1);

    std::string text = original.ToRegText();
    Registry read = Registry::FromRegText(text, "registry.reg");
    ExpectSameRegistry(original, read);
    EXPECT_EQ(text, read.ToRegText());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const winemu::RegValue* value = read.Value("HKLM\\SOFTWARE\\Odd", row.name);
        ASSERT_NE(nullptr, value);
        EXPECT_EQ(row.type, value->type);
        EXPECT_EQ(Bytes(row.bytes), value->data);
    }
}

TEST(RegFile, LongHexValuesContinueOnIndentedLines) {
    Registry r;
    r.Set("HKLM\\SOFTWARE", "Long", REG_BINARY, std::vector<BYTE>(100, 0xab));
    std::string text = r.ToRegText();
    std::istringstream lines(text);
    std::string line;
    int continued = 0;
    while (std::getline(lines, line)) {
        EXPECT_LE(line.size(), 80u) << line;
        if (!line.empty() && line.back() == '\\') {
            ++continued;
            EXPECT_EQ(',', line[line.size() - 2]);
        }
    }
    EXPECT_GE(continued, 3);
    EXPECT_NE(std::string::npos, text.find(",\\\n  ab,"));
}

TEST(RegFile, ReadsWhatRegeditWritesAndHandEdits) {
    const std::string text = "REGEDIT4\r\n"
                             "\r\n"
                             "; a comment\r\n"
                             "   ; an indented comment\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tone\\]\r\n"
                             "\"Port\"=\"COM2\"\r\n"
                             "\"Number\"=dword:2A\r\n"
                             "  \"Spaced\" = \"x\"  \r\n"
                             "\"Hex\"=hex:01,\\\r\n"
                             "      02,FF,\\\r\n"
                             "\t03\r\n"
                             "\r\n"
                             "[hkey_current_user\\Software]\r\n"
                             "@=\"last line without an end\"";
    Registry r = Registry::FromRegText(text, "registry.reg");
    EXPECT_EQ("COM2", r.GetString("HKLM\\SOFTWARE\\Tone", "Port"));
    EXPECT_EQ(42u, r.GetDword("HKLM\\SOFTWARE\\Tone", "Number"));
    EXPECT_EQ("x", r.GetString("HKLM\\SOFTWARE\\Tone", "Spaced"));
    ASSERT_NE(nullptr, r.Value("HKLM\\SOFTWARE\\Tone", "Hex"));
    EXPECT_EQ((std::vector<BYTE>{0x01, 0x02, 0xff, 0x03}),
              r.Value("HKLM\\SOFTWARE\\Tone", "Hex")->data);
    EXPECT_EQ("last line without an end", r.GetString("HKCU\\Software", ""));
    EXPECT_EQ("HKEY_CURRENT_USER\\Software", r.Find("HKCU\\Software")->Path());
}

// Under code page 932 a double-byte character whose second byte is 0x5C stays in its name, in
// key paths and in quoted names and data, and is written back as it was read.
TEST(RegFile, DoubleByteCharactersEndingIn5CStayWhole) {
    const std::string hyo = "\x95\x5c"; // one character
    const std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\" +
                             hyo + "]\n\"" + hyo + "\"=\"" + hyo + "\"\n\n" +
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\" + hyo + "\\" + hyo + "X]\n\n";
    Registry r = Registry::FromRegText(text, "registry.reg", 932);
    ASSERT_EQ(1u, r.Find("HKLM\\SOFTWARE")->subkeys.size());
    const RegKey* key = r.Find("HKLM\\SOFTWARE\\" + hyo);
    ASSERT_NE(nullptr, key);
    EXPECT_EQ(hyo, key->name);
    EXPECT_EQ(hyo, r.GetString("HKLM\\SOFTWARE\\" + hyo, hyo));
    ASSERT_EQ(1u, key->subkeys.size());
    EXPECT_EQ(hyo + "X", key->subkeys.begin()->second->name);
    EXPECT_EQ(text, r.ToRegText());

    // A lead byte standing alone before a quote or a backslash cannot be quoted: it goes as hex.
    for (std::string lone : {"\x95\"", "\x95\\", "x\x95"}) {
        r.Set("HKLM\\SOFTWARE", "lone", REG_SZ, Bytes(lone + '\0'));
        Registry back = Registry::FromRegText(r.ToRegText(), "registry.reg", 932);
        ASSERT_NE(nullptr, back.Value("HKLM\\SOFTWARE", "lone")) << lone;
        EXPECT_EQ(Bytes(lone + '\0'), back.Value("HKLM\\SOFTWARE", "lone")->data) << lone;
    }
}

TEST(RegFile, MalformedLinesNameTheFileAndLine) {
    struct Row {
        const char* what;
        std::string text;
        int line;
    };
    std::string tooDeep = "REGEDIT4\n[HKEY_LOCAL_MACHINE";
    for (size_t i = 0; i <= winemu::kMaxKeyDepth; ++i)
        tooDeep += "\\D";
    const Row rows[] = {
        {"key path too deep", tooDeep + "]\n", 2},
        {"key name too long",
         "REGEDIT4\n[HKEY_LOCAL_MACHINE\\" + std::string(winemu::kMaxKeyNameChars + 1, 'k') + "]\n",
         2},
        {"value name too long",
         "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"" +
             std::string(winemu::kMaxValueNameChars + 1, 'v') + "\"=dword:1\n",
         3},
        {"no header", "[HKEY_LOCAL_MACHINE\\A]\n", 1},
        {"other header", "Windows Registry Editor Version 5.00\n", 1},
        {"no closing bracket", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n", 3},
        {"unknown root", "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.txt]\n", 3},
        {"empty key name", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2},
        {"value before any key", "REGEDIT4\n\n\"Orphan\"=\"x\"\n", 3},
        {"bad hex", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,zz\n", 3},
        {"hex byte too long", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:100\n", 3},
        {"empty hex byte", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,,02\n", 3},
        {"bad hex on a continuation", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n  0g\n",
         4},
        {"continuation past the end", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n", 3},
        {"bad type", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(zz):01\n", 3},
        {"bad dword", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:123456789\n", 3},
        {"empty dword", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:\n", 3},
        {"bad escape", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"C:\\WINNT\"\n", 3},
        {"missing quote in data", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"open\n", 3},
        {"missing quote in name", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"open=1\n", 3},
        {"text after the string", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"x\" y\n", 3},
        {"no equals sign", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n@\"x\"\n", 3},
        {"unknown data", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=-\n", 3},
        {"neither key nor value", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nv=1\n", 3},
        {"CRLF lines counted", "REGEDIT4\r\n\r\n; c\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:0x\r\n",
         5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        try {
            Registry::FromRegText(row.text, "registry.reg");
            ADD_FAILURE() << "accepted";
        } catch (const winemu::BootError& e) {
            EXPECT_EQ("registry.reg", e.file());
            EXPECT_EQ(row.line, e.line());
        }
    }
}

TEST(RegFile, MachineBootsTheImageRegistryAndSavesItBackUnchanged) {
    Registry r;
    r.Set("HKLM\\SYSTEM\\CurrentControlSet\\Services\\TONEBAY\\Parameters\\Device0",
          "CurrentProduct", REG_DWORD, {7, 0, 0, 0});
    r.Set("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", "COM2:", REG_SZ,
          Bytes("57600,n,8,1"));
    r.Create("HKCU\\Software\\Microsoft\\Multimedia\\MIDIMap");
    const std::string text = r.ToRegText();

    testsupport::TestImage image;
    image.Registry(text);
    // A temporary file left by a killed run goes at the next boot; registry.reg is whole.
    std::ofstream(image.Dir() / "registry.reg.tmp") << "REGEDIT4\n[half";
    std::unique_ptr<winemu::Machine> machine = image.Boot();
    EXPECT_FALSE(std::filesystem::exists(image.Dir() / "registry.reg.tmp"));
    ExpectSameRegistry(r, machine->Reg());
    // Nothing changed: the file is not written again.
    std::filesystem::remove(image.Dir() / "registry.reg");
    EXPECT_FALSE(machine->SaveRegistry());
    EXPECT_FALSE(std::filesystem::exists(image.Dir() / "registry.reg"));
    machine->Reg().Create("HKCU\\Software\\New");
    EXPECT_TRUE(machine->SaveRegistry());
    machine->Reg().Delete("HKCU\\Software\\New");
    EXPECT_TRUE(machine->SaveRegistry());
    EXPECT_EQ(text, testsupport::ReadHostFile(image.Dir() / "registry.reg"));

    testsupport::TestImage broken;
    broken.Registry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"v\"=dword:xyz\n");
    try {
        broken.Boot();
        ADD_FAILURE() << "booted";
    } catch (const winemu::BootError& e) {
        EXPECT_EQ("registry.reg", e.file());
        EXPECT_EQ(4, e.line());
    }
}

} // namespace
