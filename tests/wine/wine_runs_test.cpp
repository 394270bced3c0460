// End-to-end runs of the product under 32-bit Wine: each machine below (a sample image, or one
// changed as a real machine can be: other answers, driver settings, registry content, a damaged
// install disk) is staged into a Wine prefix, the i686 SETUP.EXE runs on it unattended, and what
// it writes is held against the host build's run of the same image. Wine is the reference for the
// emulated machine: a difference that is Wine's is named below with its reason and printed; any
// other difference, a crash or a call into a function Wine lacks fails.
#include "support/test_machine.h"
#include "wine/deploy_checks.h"
#include "wine/wine_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace winetest {
namespace {

// Differences that are Wine's, not setup's, each with its reason. Where the host run puts a file
// under `host` (a path prefix; %WINDIR% is the image's Windows directory), the Wine run puts it
// under `wine` (%USER% is the Wine user, named after the Linux one). Longer prefixes first.
struct NamedPlace {
    const char* host;
    const char* wine;
    const char* reason;
};

const NamedPlace kNamedPlaces[] = {
    {"%WINDIR%\\Profiles\\All Users\\Start Menu\\Programs\\",
     "C:\\users\\%USER%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\",
     "Wine's PROGMAN DDE makes every program group, common or not, in the user's own Programs "
     "folder"},
    {"%WINDIR%\\", "C:\\windows\\", "the Windows directory of every Wine prefix is C:\\windows"},
};

// Keys, values and files that Wine writes otherwise, or not at all. A key or file matches when its
// path contains `path` (case-insensitive); a value also when its name is `value` ("" matches any).
struct NamedDifference {
    const char* path;
    const char* value;
    const char* reason;
};

const char kNoDriverDescription[] =
    "Wine's device installer leaves the driver's description out of the modem's driver key";
const char kMoreDeviceEntries[] =
    "Wine's device installer also records the class name and the configuration flags in the "
    "device's key; the emulated one does not";
const NamedDifference kNamedDifferences[] = {
    {"\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\", "DriverDesc",
     kNoDriverDescription},
    {"\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\", "ProviderName",
     kNoDriverDescription},
    {"\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\", "Manufacturer",
     kNoDriverDescription},
    {"\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\", "MatchingDeviceId",
     kNoDriverDescription},
    {"\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\", "Mfg",
     "Wine's device installer does not record the manufacturer in the device's key"},
    {"\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\", "Class", kMoreDeviceEntries},
    {"\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\", "ConfigFlags", kMoreDeviceEntries},
    {"\\Enum\\ROOT\\QVMDM_0001\\0000\\Device Parameters", "",
     "Wine's device installer makes a Device Parameters key for every device it registers"},
    {"C:\\windows\\inf\\", "",
     "Wine's device installer keeps a copy of the modem INF, and its compiled .pnf, in "
     "C:\\windows\\inf"},
};

const NamedDifference* FindNamedDifference(const std::string& path, const std::string& value) {
    for (const NamedDifference& named : kNamedDifferences) {
        if (Lower(path).find(Lower(named.path)) != std::string::npos &&
            (named.value[0] == '\0' || Lower(value) == Lower(named.value)))
            return &named;
    }
    return nullptr;
}

const char kUserMidiMap[] =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Multimedia\\MIDIMap";

const char kComplete[] = "5100 100 5000 700";
// The modem's device installer asks for the disk ("Install From Disk", 9000) in both runs (Wine's
// SetupDiSelectOEMDrv is only a stub: the test SETUPAPI's prompt is a real dialog).
const char kModemComplete[] = "5100 100 5000 9000 700";
const char kModemFailed[] = "5100 100 5000 9000 700 box:Modem isn't installed correctly. You may "
                            "install Modem by Control Panel.";
// A folder without the modem INF: the device installer refuses it and asks again.
const char kNoModemFolder[] = "[Answers]\n700=RESTART\n9000=A:\\NOWHERE\n";
const char kRestart[] = "[Answers]\n100=CONTINUE\n700=RESTART\n";
const char kDeploy[] = "/log:C:\\SETUP.LOG /norestart /silent";
const char kGarbledModemInf[] = "[Manufacturer]\nMfg="
                                "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"
                                "MMMMMMMMMMMMMMMMMMMMMMMMMMMMM"
                                "MMMM\n";

const Scenario kScenarios[] = {
    {"nt40", "nt40", nullptr, nullptr, "", nullptr, nullptr, kComplete, 0},
    {"nt351", "nt351", nullptr, nullptr, "", nullptr, nullptr, kComplete, 0},
    {"nt40modem", "nt40-modem", nullptr, nullptr, "", nullptr, nullptr, kModemComplete, 0},
    // A sound device is already there (a wave device under Wine): refused, nothing copied.
    {"nt40wave", "nt40-wave", nullptr, nullptr, "", nullptr, nullptr, "5100 600", 1603},
    {"QuitFromWelcome", "nt40", "[Answers]\n100=CANCEL\n200=EXIT\n", nullptr, "", nullptr, nullptr,
     "5100 100 200", 1602},
    {"QuitDeclined", "nt40", "[Answers]\n100=EXIT,CONTINUE\n200=CONTINUE\n", nullptr, "", nullptr,
     nullptr, "5100 100 200 100 5000 700", 0},
    {"RestartAsked", "nt351", "[Answers]\n700=RESTART\n", nullptr, "", nullptr, nullptr, kComplete,
     1641},
    {"DriverCancelsInstall", "nt40", nullptr,
     "[Driver]\nInstall=0\n[Parameters]\nCurrentProduct=7\n", "", nullptr, nullptr, "5100 100 5000",
     1603},
    {"DriverCancelsConfigure", "nt40", nullptr,
     "[Driver]\nInstall=2\nQueryConfigure=1\nConfigure=0\n[Parameters]\nCurrentProduct=7\n", "",
     nullptr, nullptr, "5100 100 5000", 1603},
    {"DriverConfigured", "nt351", nullptr,
     "[Driver]\nInstall=2\nQueryConfigure=1\nConfigure=1\n[Parameters]\nCurrentProduct=8\n", "",
     nullptr, nullptr, kComplete, 0},
    // The card data file has no section for the model: the FM synthesizer is the instrument.
    {"UnknownModel", "nt40", nullptr, "[Driver]\nInstall=1\n[Parameters]\nCurrentProduct=9\n", "",
     nullptr, nullptr, kComplete, 0},
    // No per-user MIDI mapper key: the registration fails and dialog 900 ends setup.
    {"RegistrationFails", "nt40", nullptr, nullptr,
     "[-HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Multimedia\\MIDIMap]\n",
     nullptr, nullptr, "5100 100 5000 900", 1603},
    // A machine that had a sound driver before: its lists, mapping and MIDI resources stay or are
    // overwritten as on Windows.
    {"ExistingResources", "nt40", nullptr, nullptr,
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]\n"
     "\"wave\"=\"SNDBLAST.DRV,with,more,text\"\n\"midi\"=dword:00000007\n\n"
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Midimap]\n"
     "\"Mapping Name\"=\"Old Map\"\n\n"
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\MediaResources\\MIDI\\"
     "TONEBAY.DLL<0000>]\n\"Active\"=\"1\"\n\"FriendlyName\"=\"Old FM\"\n",
     nullptr, nullptr, kComplete, 0},
    // The machine has no serial ports: the modem's message box, then setup goes on.
    {"NoSerialPorts", "nt40-modem", nullptr, nullptr,
     "[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters]\n", nullptr,
     nullptr,
     "5100 100 5000 9000 700 box:Please add COM2 by \"Ports\" in \"Control Panel\" after setup.",
     0},
    // Damaged install disks: a file that setup.inf lists, or setup.inf itself, is missing; the
    // modem INF is garbled.
    {"NoSetupInf", "nt40", nullptr, nullptr, "", "SETUP.INF", nullptr, "400", 1603},
    {"NoDriverFile", "nt40", nullptr, nullptr, "", "TONEBAY.SYS", nullptr, "5100 100 400", 1603},
    {"NoCardData", "nt40", nullptr, nullptr, "", "QVHWCTL.DAT", nullptr, "5100 100 400", 1603},
    {"NoModemInf", "nt40-modem", nullptr, nullptr, "", "QVMODEM.INF", nullptr, "5100 100 400",
     1603},
    {"GarbledModemInf", "nt40-modem", nullptr, nullptr, "", "QVMODEM.INF", kGarbledModemInf,
     "5100 100 5000 700 box:File error! Modem can't be installed.", 0},
    // An administrator's runs: logged, silent, never restarting; finished, quit, and an answers
    // line that fits no dialog.
    {"nt40Deployed", "nt40", kRestart, nullptr, "", nullptr, nullptr, kComplete, 3010, kDeploy},
    {"nt40modemDeployed", "nt40-modem", kRestart, nullptr, "", nullptr, nullptr, kModemComplete,
     3010, kDeploy},
    {"DeploymentQuit", "nt40", "[Answers]\n100=CANCEL\n200=EXIT\n", nullptr, "", nullptr, nullptr,
     "5100 100 200", 1602, kDeploy},
    {"DeploymentAnswersFitNoDialog", "nt40", "[Answers]\n100=CONTINUE\n123=CONTINUE\n", nullptr, "",
     nullptr, nullptr, "400", 1603, kDeploy},
    // The "Install From Disk" prompt given its folder by the answers, shown or not, or cancelled.
    {"ModemFolderRefused", "nt40-modem", kNoModemFolder, nullptr, "", nullptr, nullptr,
     kModemFailed, 3010, "/log:C:\\SETUP.LOG /norestart"},
    {"ModemFolderRefusedDeployed", "nt40-modem", kNoModemFolder, nullptr, "", nullptr, nullptr,
     kModemFailed, 3010, kDeploy},
    // A file named SETUPAPI.DLL beside SETUP.EXE is not the device installer: the system's is.
    {"SetupApiOnTheDisk", "nt40-modem", nullptr, nullptr, "", "SETUPAPI.DLL", "not a DLL",
     kModemComplete, 0},
    {"ModemPromptCancelled", "nt40-modem", "[Answers]\n9000=CANCEL\n", nullptr, "", nullptr,
     nullptr, kModemFailed, 0, kDeploy},
    // Nothing serves PROGMAN (a job run as a service, a logon script ahead of the shell): the
    // program group fails after everything else is installed.
    {"NoShell", "nt40", nullptr, nullptr, "", nullptr, nullptr, "5100 100 5000 400", 1603, "",
     true},
    // Installed, then removed: the machine as it was before, less what Wine keeps of its own.
    {"RemovedAfterInstall", "nt40-modem", "[Answers]\n100=CONTINUE\n700=CONTINUE\n800=REMOVE\n",
     nullptr, "", nullptr, nullptr, "800", 0, "", false, "/remove"},
};

// Every key setup may write, read back from Wine even where the host run wrote nothing.
const char* const kSetupKeys[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Midimap",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\MediaResources\\MIDI",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
    "{4D36E96D-E325-11CE-BFC1-08002BE10318}",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TONEBAY",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters",
    kUserMidiMap,
};

class WineRuns : public testing::TestWithParam<Scenario> {};

// Setup under Wine writes what it writes on the emulated machine, byte for byte, copies the same
// files and ends with the same exit code; every difference is one named above.
TEST_P(WineRuns, WriteWhatTheHostRunWrites) {
    const Scenario& row = GetParam();
    std::string missing =
        MissingForWine({"SETUP.EXE", "SNDSTF.DLL", "qvxcui.dll", "TONEBAY.DLL", "wine/regdump.exe",
                        "wine/exitcode.exe", "wine/SETUPAPI.DLL"});
    if (!missing.empty())
        GTEST_SKIP() << "no run under Wine: " << missing;

    testsupport::TestImage scratch;
    const fs::path image = StageImage(row, scratch.Dir());
    HostRun host = RunOnHost(row, image, scratch.Dir());
    ASSERT_EQ(host.exitCode, static_cast<long long>(row.exitCode));
    ASSERT_EQ(host.status, static_cast<int>(row.exitCode & 0xFF)) << "the host run was not saved";
    std::string dialogs;
    for (const auto& dialog : host.report["dialogs"])
        dialogs += (dialogs.empty() ? "" : " ") + std::to_string(dialog["id"].get<int>());
    for (const auto& box : host.report["message_boxes"])
        dialogs += " box:" + box["text"].get<std::string>();
    ASSERT_EQ(dialogs, row.hostPath) << "the host run does not take the row's path";
    std::vector<Written> written;
    std::vector<std::string> createdKeys;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        CollectWritten(*host.after.Root(root), host.before, written, createdKeys);

    std::vector<std::string> keys = KeysToExport(written, createdKeys);
    keys.insert(keys.end(), std::begin(kSetupKeys), std::end(kSetupKeys));
    WineRun wine = RunUnderWine(row, image, scratch.Dir(), keys);
    std::cout << "[ TIME    ] " << row.name << " under 32-bit Wine: " << wine.programSeconds
              << " s (the whole run " << wine.seconds << " s)\n";
    EXPECT_FALSE(WineAborted(wine.output)) << wine.output;
    ASSERT_EQ(wine.exitCode, host.exitCode) << wine.output;

    // A silent run shows no window of its own and leaves nothing on the screen (the shell opens a
    // window for each new program group, which setup closes); any other shows its windows. The
    // log tells the host run's events, in its order, and ends with the exit code.
    const bool silent = std::string(row.options).find("/silent") != std::string::npos;
    if (silent) {
        std::istringstream shown(wine.windows);
        for (std::string window; std::getline(shown, window);)
            EXPECT_NE(window.find("class \"explorer.exe\""), std::string::npos)
                << "a silent run put a window on the screen: " << window;
        EXPECT_EQ(wine.windowsLeft, "") << "left on the screen after a silent run";
    } else {
        EXPECT_FALSE(wine.windows.empty()) << "no window put on the screen";
    }
    std::string windowsDirectory = IniValue(image / "machine.ini", "WindowsDirectory");
    if (windowsDirectory.empty())
        windowsDirectory = "C:\\WINNT";
    if (!LogName(row).empty()) {
        std::vector<std::string> events = deploychecks::LogEvents(wine.log);
        ASSERT_FALSE(events.empty()) << "no log under Wine";
        EXPECT_EQ(events.back().rfind("end: exit code " + std::to_string(row.exitCode) + " (", 0),
                  0u)
            << events.back();
        EXPECT_EQ(deploychecks::CompareLogs(host.log, windowsDirectory, wine.log, "C:\\windows"),
                  "");
    }

    // Where a file the host run made lies under Wine.
    std::set<std::string> placesUsed;
    auto underWine = [&](std::string path) {
        for (const NamedPlace& place : kNamedPlaces) {
            std::string prefix = place.host;
            if (prefix.rfind("%WINDIR%", 0) == 0)
                prefix = windowsDirectory + prefix.substr(8);
            if (Lower(path).rfind(Lower(prefix), 0) == 0) {
                placesUsed.insert(place.reason);
                std::string wine = place.wine;
                size_t user = wine.find("%USER%");
                if (user != std::string::npos)
                    wine.replace(user, 6, WineUser());
                return Lower(wine + path.substr(prefix.size()));
            }
        }
        return Lower(path);
    };

    // Each value the host run wrote, as Wine holds it after its run.
    std::set<std::string> hostWritten;
    for (const Written& value : written) {
        hostWritten.insert(Lower(value.key) + "\n" + Lower(value.name));
        const winemu::RegValue* got = wine.after.Value(value.key, value.name);
        std::string hostText = Describe(value.type, value.data);
        std::string wineText = got == nullptr ? "missing" : Describe(got->type, got->data);
        if (hostText == wineText)
            continue;
        if (const NamedDifference* named = FindNamedDifference(value.key, value.name)) {
            std::cout << "[ WINE'S  ] " << value.key << " \"" << value.name
                      << "\": " << named->reason << "\n";
            continue;
        }
        ADD_FAILURE() << value.key << " \"" << value.name << "\"\n  host: " << hostText
                      << "\n  wine: " << wineText;
    }
    for (const std::string& key : createdKeys) {
        if (wine.after.Find(key) == nullptr && FindNamedDifference(key, "") == nullptr)
            ADD_FAILURE() << key << " was not made under Wine";
    }
    // And nothing more: what the Wine run wrote that the host run did not.
    std::vector<Written> wineWritten;
    std::vector<std::string> wineCreated;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        CollectWritten(*wine.after.Root(root), wine.before, wineWritten, wineCreated);
    for (const Written& value : wineWritten) {
        if (hostWritten.count(Lower(value.key) + "\n" + Lower(value.name)) != 0 ||
            FindNamedDifference(value.key, value.name) != nullptr)
            continue;
        ADD_FAILURE() << value.key << " \"" << value.name
                      << "\" only under Wine: " << Describe(value.type, value.data);
    }
    for (const std::string& key : wineCreated) {
        if (host.after.Find(key) == nullptr && FindNamedDifference(key, "") == nullptr)
            ADD_FAILURE() << key << " made only under Wine";
    }

    // The files copied and the program items made, and nothing more.
    std::set<std::string> hostFiles;
    for (const auto& file : host.report["files_copied"])
        hostFiles.insert(underWine(file.get<std::string>()));
    for (const auto& group : host.report["program_groups"]) {
        for (const auto& item : group["items"])
            hostFiles.insert(underWine(item["shortcut"].get<std::string>()));
    }
    if (!LogName(row).empty())
        hostFiles.insert(Lower("C:\\" + LogName(row)));
    // The undo record, which a run keeps from its first change, the copy.
    if (!host.report["files_copied"].empty())
        hostFiles.insert(underWine(windowsDirectory + "\\system32\\SNDUNDO.LOG"));
    for (const std::string& file : hostFiles)
        EXPECT_EQ(wine.filesAdded.count(file), 1u) << file << " was not made under Wine";
    for (const std::string& file : wine.filesAdded) {
        if (hostFiles.count(file) != 0)
            continue;
        if (const NamedDifference* named = FindNamedDifference(file, ""))
            std::cout << "[ WINE'S  ] " << file << ": " << named->reason << "\n";
        else
            ADD_FAILURE() << file << " was made only under Wine";
    }
    for (const std::string& reason : placesUsed)
        std::cout << "[ WINE'S  ] " << reason << "\n";
}

INSTANTIATE_TEST_SUITE_P(Machines, WineRuns, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& info) {
                             return std::string(info.param.name);
                         });

// GetPrivateProfileSectionA reads a section as Windows does: the emulated machine and Wine give
// the same characters and the same count for the same file.
TEST(WineProfile, SectionReadsAsOnWindows) {
    std::string missing = MissingForWine({"wine/profile_probe.exe"});
    if (!missing.empty())
        GTEST_SKIP() << "no run under Wine: " << missing;
    const std::string ini = "[Probe]\n"
                            "  Key  =  Value  \n" // spaces around the name, the '=' and the value
                            "\tTab\t=\tv2\t\n"    // tabs likewise
                            "NoEquals\n"          // a line without '='
                            "; comment\n"         // a comment
                            "=Nameless\n"         // an empty name
                            "Empty=\n"            // an empty value
                            "[Next]\n"
                            "Other=1\n";
    testsupport::TestImage image;
    image.Ini("[Machine]\nVersion=4.0\n").File("A:\\PROBE.INI", ini);

    char buffer[4096];
    DWORD count;
    {
        testsupport::ActiveMachine machine(image);
        count = GetPrivateProfileSectionA("Probe", buffer, sizeof(buffer), "A:\\PROBE.INI");
    }
    std::string host;
    for (DWORD i = 0; i < count + 1 && i < sizeof(buffer); ++i)
        host += buffer[i] == '\0' ? std::string("\\0") : std::string(1, buffer[i]);
    host += "\n" + std::to_string(count) + "\n";

    const fs::path work = image.Dir() / "wine";
    int status = Shell(Quote((kSourceDir / "tests" / "wine" / "wine-run").string()) + " --cache " +
                       Quote(kWineCache.string()) + " --work " + Quote(work.string()) +
                       " --drive-a " + Quote((image.Dir() / "drives" / "A").string()) + " -- " +
                       Quote((kWin32Dir / "wine" / "profile_probe.exe").string()) +
                       " 'A:\\PROBE.INI' Probe >/dev/null 2>&1");
    ASSERT_EQ(status, 0);
    // The console writes each line end as CR LF.
    std::string wine = testsupport::ReadHostFile(work / "stdout");
    wine.erase(std::remove(wine.begin(), wine.end(), '\r'), wine.end());
    EXPECT_EQ(wine, host);
}

} // namespace
} // namespace winetest
