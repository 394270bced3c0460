// Program groups: the Start Menu folder, the shell link's bytes, and the report.
#include "toolkit_fixture.h"

#include <cstring>

namespace toolkittest {
namespace {

constexpr const char* kPrograms = "C:\\WINNT\\Profiles\\All Users\\Start Menu\\Programs";
constexpr const char* kMixerCommand = "C:\\WINNT\\SYSTEM32\\mix.exe";

DWORD U32(const std::string& data, size_t at) {
    DWORD value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value |= static_cast<DWORD>(static_cast<unsigned char>(data.at(at + i))) << (8 * i);
    }
    return value;
}

WORD U16(const std::string& data, size_t at) {
    return static_cast<WORD>(static_cast<unsigned char>(data.at(at)) |
                             static_cast<unsigned char>(data.at(at + 1)) << 8);
}

// What a reader of shell links finds in one.
struct ParsedLink {
    DWORD flags = 0;
    std::string localBasePath;
    std::vector<std::string> strings; // the string data, in order
    size_t end = 0;                   // where the terminal block ends
};

ParsedLink ParseLink(const std::string& data) {
    ParsedLink link;
    link.flags = U32(data, 0x14);
    size_t at = U32(data, 0); // header size
    if (link.flags & 0x1) {
        at += 2 + U16(data, at); // an item id list, which we never write
    }
    if (link.flags & 0x2) {
        size_t info = at;
        size_t baseOffset = U32(data, info + 0x10);
        link.localBasePath = std::string(data.c_str() + info + baseOffset);
        at += U32(data, info);
    }
    for (DWORD flag : {0x4u, 0x8u, 0x10u, 0x20u, 0x40u}) {
        if (link.flags & flag) {
            WORD count = U16(data, at);
            link.strings.push_back(data.substr(at + 2, count));
            at += 2 + count;
        }
    }
    EXPECT_EQ(U32(data, at), 0u) << "terminal block";
    link.end = at + 4;
    return link;
}

class ProgManTest : public ToolkitTest {
  protected:
    // What CreateMixerGroup asks of the toolkit.
    void MakeMixerGroup(const char* item = "Mixer Control Panel", const char* cmd = kMixerCommand) {
        ASSERT_TRUE(FCreateProgManGroup("Mixer", "", 1));
        ASSERT_TRUE(FShowProgManGroup("Mixer", "2", 1));
        ASSERT_TRUE(FCreateProgManItem("Mixer", item, cmd, 1024));
    }
};

TEST_F(ProgManTest, MixerItemIsAShellLinkToItsProgram) {
    Start();
    MakeMixerGroup();
    std::string shortcut = std::string(kPrograms) + "\\Mixer\\Mixer Control Panel.lnk";
    ASSERT_TRUE(image.Exists(shortcut));
    std::string data = image.Read(shortcut);

    const unsigned char header[] = {0x4C, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    ASSERT_GE(data.size(), 0x4Cu);
    EXPECT_EQ(std::memcmp(data.data(), header, sizeof header), 0);
    ParsedLink link = ParseLink(data);
    EXPECT_TRUE(link.flags & 0x02);  // HasLinkInfo
    EXPECT_FALSE(link.flags & 0x80); // not Unicode: ANSI strings
    EXPECT_FALSE(link.flags & 0x20); // no arguments
    EXPECT_EQ(link.localBasePath, kMixerCommand);
    EXPECT_EQ(link.strings, std::vector<std::string>{"C:\\WINNT\\SYSTEM32"}); // working dir
    EXPECT_EQ(U32(data, 0x3C), static_cast<DWORD>(SW_SHOWNORMAL));
    EXPECT_EQ(link.end, data.size());

    nlohmann::json expected =
        nlohmann::json::array({{{"name", "Mixer"},
                                {"folder", std::string(kPrograms) + "\\Mixer"},
                                {"show", "2"},
                                {"items",
                                 {{{"name", "Mixer Control Panel"},
                                   {"command", kMixerCommand},
                                   {"shortcut", shortcut}}}}}});
    EXPECT_EQ(Report()["program_groups"], expected);
}

TEST_F(ProgManTest, ArgumentsAndExtraText) {
    Start();
    MakeMixerGroup("Mixer Control Panel,mix.ico,0", "\"C:\\Program Files\\mix.exe\"  /s /x ");
    std::string shortcut = std::string(kPrograms) + "\\Mixer\\Mixer Control Panel.lnk";
    ParsedLink link = ParseLink(image.Read(shortcut));
    EXPECT_TRUE(link.flags & 0x20); // HasArguments
    EXPECT_EQ(link.localBasePath, "C:\\Program Files\\mix.exe");
    EXPECT_EQ(link.strings, (std::vector<std::string>{"C:\\Program Files", "/s /x"}));
    EXPECT_EQ(Report()["program_groups"][0]["items"][0]["name"], "Mixer Control Panel");
}

TEST_F(ProgManTest, MakingAgainKeepsOneRecordAndReplacesTheShortcut) {
    Start();
    MakeMixerGroup();
    MakeMixerGroup("Mixer Control Panel", "C:\\WINNT\\SYSTEM32\\mix.exe /big");
    ASSERT_EQ(Report()["program_groups"].size(), 1u);
    ASSERT_EQ(Report()["program_groups"][0]["items"].size(), 1u);
    EXPECT_EQ(Report()["program_groups"][0]["items"][0]["command"],
              "C:\\WINNT\\SYSTEM32\\mix.exe /big");
    std::string shortcut = std::string(kPrograms) + "\\Mixer\\Mixer Control Panel.lnk";
    EXPECT_EQ(ParseLink(image.Read(shortcut)).strings.back(), "/big");
}

TEST_F(ProgManTest, GroupsAndItemsOutsideTheStartMenuAreRefused) {
    Start();
    const char* badGroups[] = {"..", "..\\..\\Evil", "A\\B", "A/B", "C:Evil", "", "Who?"};
    for (const char* group : badGroups) {
        SCOPED_TRACE(group);
        EXPECT_FALSE(FCreateProgManGroup(group, "", 1));
        EXPECT_FALSE(FShowProgManGroup(group, "2", 1));
        EXPECT_FALSE(FCreateProgManItem(group, "Item", kMixerCommand, 1024));
    }
    EXPECT_FALSE(image.Exists("C:\\WINNT\\Profiles"));
    ASSERT_TRUE(FCreateProgManGroup("Mixer", "", 1));
    const char* badItems[] = {"..\\Evil", "Sub\\Item", "", ",extra only"};
    for (const char* item : badItems) {
        SCOPED_TRACE(item);
        EXPECT_FALSE(FCreateProgManItem("Mixer", item, kMixerCommand, 1024));
    }
    EXPECT_FALSE(FCreateProgManItem("Mixer", "Item", "", 1024));
    EXPECT_FALSE(image.Exists(std::string(kPrograms) + "\\Evil.lnk"));
    EXPECT_FALSE(image.Exists(std::string(kPrograms) + "\\Mixer\\Sub"));
    EXPECT_EQ(Report()["program_groups"][0]["items"], nlohmann::json::array());
}

TEST_F(ProgManTest, GroupMustExistBeforeItIsShownOrFilled) {
    Start();
    EXPECT_FALSE(FShowProgManGroup("Mixer", "2", 1));
    EXPECT_FALSE(FCreateProgManItem("Mixer", "Mixer Control Panel", kMixerCommand, 1024));
    EXPECT_FALSE(image.Exists(std::string(kPrograms) + "\\Mixer"));
    EXPECT_EQ(Report()["program_groups"], nlohmann::json::array());
}

TEST_F(ProgManTest, GroupCallsFailUnderTheirFaults) {
    Start();
    M().Fault().Add("FCreateProgManGroup", "Mixer");
    EXPECT_FALSE(FCreateProgManGroup("Mixer", "", 1));
    EXPECT_FALSE(image.Exists(std::string(kPrograms) + "\\Mixer"));
    M().Fault().Clear();
    ASSERT_TRUE(FCreateProgManGroup("Mixer", "", 1));
    M().Fault().Add("FShowProgManGroup", "Mixer");
    M().Fault().Add("FCreateProgManItem", "mix.exe");
    EXPECT_FALSE(FShowProgManGroup("Mixer", "2", 1));
    EXPECT_FALSE(FCreateProgManItem("Mixer", "Mixer Control Panel", kMixerCommand, 1024));
    EXPECT_FALSE(image.Exists(std::string(kPrograms) + "\\Mixer\\Mixer Control Panel.lnk"));
    // A shortcut that cannot be put in place leaves neither it nor its temporary file.
    M().Fault().Clear();
    M().Fault().Add("MoveFileExA", "Mixer Control Panel");
    EXPECT_FALSE(FCreateProgManItem("Mixer", "Mixer Control Panel", kMixerCommand, 1024));
    EXPECT_FALSE(image.Exists(std::string(kPrograms) + "\\Mixer\\Mixer Control Panel.lnk"));
    EXPECT_FALSE(image.Exists(std::string(kPrograms) + "\\Mixer\\Mixer Control Panel.lnk.tmp"));
}

} // namespace
} // namespace toolkittest
