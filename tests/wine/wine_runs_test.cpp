// End-to-end runs under 64-bit Wine: the sample machines are staged into a Wine prefix, the win64
// SETUP.EXE runs on them unattended, and what it writes is held against the host build's run of the
// same image. Wine is the reference for the emulated machine: a difference that is Wine's is named
// below with its reason and printed; any other difference fails.
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path kSourceDir = SOUNDSETUP_SOURCE_DIR;
const fs::path kWin64Dir = SOUNDSETUP_WIN64_DIR;
const fs::path kWineCache = SOUNDSETUP_WINE_CACHE;
const fs::path kWine64 = "/usr/lib/wine/wine64";

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
    {"C:\\windows\\inf\\", "",
     "Wine's device installer keeps a copy of the modem INF, and its compiled .pnf, in "
     "C:\\windows\\inf"},
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const NamedDifference* FindNamedDifference(const std::string& path, const std::string& value) {
    for (const NamedDifference& named : kNamedDifferences) {
        if (Lower(path).find(Lower(named.path)) != std::string::npos &&
            (named.value[0] == '\0' || Lower(value) == Lower(named.value)))
            return &named;
    }
    return nullptr;
}

// Wine names its user after the Linux user running it.
std::string WineUser() {
    const passwd* entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : "";
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Why the Wine runs cannot happen on this machine; "" when they can.
std::string MissingForWine(const std::vector<std::string>& win64Files) {
    if (!fs::exists(kWine64))
        return "wine64 is not installed (" + kWine64.string() + ")";
    if (Shell("command -v Xvfb >/dev/null 2>&1") != 0)
        return "Xvfb is not installed";
    for (const std::string& name : win64Files) {
        if (!fs::exists(kWin64Dir / name))
            return kWin64Dir.string() + "/" + name +
                   " is missing: build it with cmake --workflow --preset win64";
    }
    return "";
}

// ---------------------------------------------------------------------------------------------
// Registry text

// A value as setup left it: its key's path, its name, its type and bytes.
struct Written {
    std::string key;
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

void CollectWritten(const winemu::RegKey& after, const winemu::Registry& before,
                    std::vector<Written>& written, std::vector<std::string>& createdKeys) {
    const std::string path = after.Path();
    const winemu::RegKey* old = before.Find(path);
    if (old == nullptr)
        createdKeys.push_back(path);
    for (const winemu::RegValue& value : after.values) {
        const winemu::RegValue* was = old == nullptr ? nullptr : old->FindValue(value.name);
        if (was == nullptr || was->type != value.type || was->data != value.data)
            written.push_back({path, value.name, value.type, value.data});
    }
    for (const auto& [name, subkey] : after.subkeys) {
        if (!subkey->deleted)
            CollectWritten(*subkey, before, written, createdKeys);
    }
}

std::string Describe(DWORD type, const std::vector<BYTE>& data) {
    std::ostringstream text;
    text << "type " << type << ", " << data.size() << " bytes:";
    for (BYTE b : data) {
        char hexByte[4];
        std::snprintf(hexByte, sizeof(hexByte), " %02x", b);
        text << hexByte;
    }
    return text.str();
}

// The keys to read back from Wine: every key setup wrote to, less those below another one.
std::vector<std::string> KeysToExport(const std::vector<Written>& written,
                                      const std::vector<std::string>& createdKeys) {
    std::set<std::string> keys(createdKeys.begin(), createdKeys.end());
    for (const Written& value : written)
        keys.insert(value.key);
    std::vector<std::string> top;
    for (const std::string& key : keys) {
        bool below = std::any_of(keys.begin(), keys.end(), [&](const std::string& other) {
            return other != key && Lower(key).rfind(Lower(other) + "\\", 0) == 0;
        });
        if (!below)
            top.push_back(key);
    }
    return top;
}

// ---------------------------------------------------------------------------------------------
// The two runs

struct Sample {
    const char* machine;     // folder of machines/
    const char* wineVersion; // HKCU\Software\Wine "Version"
    bool installsModem;      // needs the test SETUPAPI.DLL beside SETUP.EXE
};

std::string IniValue(const fs::path& file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (Lower(line).rfind(Lower(key) + "=", 0) == 0) {
            std::string value = line.substr(key.size() + 1);
            while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
                value.pop_back();
            return value;
        }
    }
    return "";
}

// The image's registry for Wine: all of it but the Windows version key, which Wine keeps itself
// (the version is set through Wine's own setting instead).
std::string StagedRegistry(const fs::path& regFile) {
    std::istringstream in(testsupport::ReadHostFile(regFile));
    std::ostringstream out;
    std::string line;
    bool skip = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[')
            skip = Lower(line) == Lower("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows "
                                        "NT\\CurrentVersion]");
        if (!skip || line[0] == '[')
            out << line << "\n";
    }
    return out.str();
}

struct HostRun {
    int exitCode = -1;
    winemu::Registry before;
    winemu::Registry after;
    nlohmann::json report;
};

HostRun RunOnHost(const fs::path& image, const fs::path& work) {
    const fs::path copy = work / "host";
    fs::remove_all(copy);
    fs::copy(image, copy, fs::copy_options::recursive);
    HostRun run;
    run.before = winemu::Registry::FromRegText(testsupport::ReadHostFile(copy / "registry.reg"),
                                               "registry.reg");
    run.exitCode = Shell(Quote(SOUNDSETUP_SETUP_EXE) + " --machine " + Quote(copy.string()) +
                         " --report " + Quote((work / "host.json").string()) +
                         " -- '/answers:A:\\ANSWERS.INI' >/dev/null 2>&1 </dev/null");
    run.after = winemu::Registry::FromRegText(testsupport::ReadHostFile(copy / "registry.reg"),
                                              "registry.reg");
    run.report =
        nlohmann::json::parse(testsupport::ReadHostFile(work / "host.json"), nullptr, false);
    return run;
}

struct WineRun {
    int exitCode = -1;
    winemu::Registry registry;
    std::set<std::string> filesAdded; // lower-case Windows paths on C:
    std::string output;
};

std::set<std::string> ReadLines(const fs::path& file) {
    std::ifstream in(file);
    std::set<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.insert(line);
    return lines;
}

WineRun RunUnderWine(const Sample& sample, const fs::path& work,
                     const std::vector<std::string>& keys) {
    const fs::path image = kSourceDir / "machines" / sample.machine;
    const fs::path stage = work / "wine-stage";
    fs::create_directories(stage / "A");
    fs::copy(image / "drives" / "A", stage / "A",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    // The real programs replace the host's stand-ins; the driver reads the very description the
    // host's emulated driver reads, as its settings file.
    fs::copy_file(stage / "A" / "TONEBAY.DLL", stage / "A" / "TONEBAY.INI",
                  fs::copy_options::overwrite_existing);
    for (const char* name : {"SETUP.EXE", "qvxcui.dll", "TONEBAY.DLL"})
        fs::copy_file(kWin64Dir / name, stage / "A" / name, fs::copy_options::overwrite_existing);
    // Wine's SETUPAPI stops the process in calls the modem installation makes: the test one
    // beside SETUP.EXE, loaded before Wine's, carries them.
    if (sample.installsModem)
        fs::copy_file(kWin64Dir / "wine" / "SETUPAPI.DLL", stage / "A" / "SETUPAPI.DLL",
                      fs::copy_options::overwrite_existing);
    std::ofstream(stage / "import.reg") << StagedRegistry(image / "registry.reg");

    std::string command = Quote((kSourceDir / "tests" / "wine" / "wine-run").string()) +
                          " --cache " + Quote(kWineCache.string()) + " --work " +
                          Quote((work / "wine").string()) + " --drive-a " +
                          Quote((stage / "A").string()) + " --version " + sample.wineVersion +
                          " --import " + Quote((stage / "import.reg").string());
    if (sample.installsModem)
        command += " --overrides setupapi=n,b";
    command += " --regdump " + Quote((kWin64Dir / "wine" / "regdump.exe").string());
    for (const std::string& key : keys)
        command += " --dump " + Quote(key);
    command += " -- 'A:\\SETUP.EXE' '/answers:A:\\ANSWERS.INI'";
    WineRun run;
    if (Shell(command + " >" + Quote((work / "wine-run.log").string()) + " 2>&1") != 0) {
        run.output = testsupport::ReadHostFile(work / "wine-run.log");
        return run;
    }
    run.exitCode = std::atoi(testsupport::ReadHostFile(work / "wine" / "exit_code").c_str());
    run.output = testsupport::ReadHostFile(work / "wine" / "stderr");

    run.registry = winemu::Registry::FromRegText(
        testsupport::ReadHostFile(work / "wine" / "registry.reg"), "Wine's registry.reg");

    std::set<std::string> before = ReadLines(work / "wine" / "files.before");
    for (const std::string& file : ReadLines(work / "wine" / "files.after")) {
        if (before.count(file) == 0) {
            std::string path = "C:" + file.substr(1); // "./windows/x" -> "C:/windows/x"
            std::replace(path.begin(), path.end(), '/', '\\');
            run.filesAdded.insert(Lower(path));
        }
    }
    return run;
}

class WineRuns : public testing::TestWithParam<Sample> {};

// Setup under Wine writes what it writes on the emulated machine, byte for byte, and copies the
// same files; every difference is one named above.
TEST_P(WineRuns, WriteWhatTheHostRunWrites) {
    const Sample& sample = GetParam();
    std::string missing =
        MissingForWine({"SETUP.EXE", "qvxcui.dll", "TONEBAY.DLL", "wine/regdump.exe",
                        sample.installsModem ? "wine/SETUPAPI.DLL" : "SETUP.EXE"});
    if (!missing.empty())
        GTEST_SKIP() << "no run under Wine: " << missing;

    testsupport::TestImage scratch;
    const fs::path image = kSourceDir / "machines" / sample.machine;
    HostRun host = RunOnHost(image, scratch.Dir());
    ASSERT_EQ(host.exitCode, 0);
    std::vector<Written> written;
    std::vector<std::string> createdKeys;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        CollectWritten(*host.after.Root(root), host.before, written, createdKeys);
    ASSERT_FALSE(written.empty()) << "the host run wrote nothing to compare";

    WineRun wine = RunUnderWine(sample, scratch.Dir(), KeysToExport(written, createdKeys));
    ASSERT_EQ(wine.exitCode, host.exitCode) << wine.output;

    // Where a file the host run made lies under Wine.
    std::string windowsDirectory = IniValue(image / "machine.ini", "WindowsDirectory");
    if (windowsDirectory.empty())
        windowsDirectory = "C:\\WINNT";
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

    for (const Written& value : written) {
        const winemu::RegValue* got = wine.registry.Value(value.key, value.name);
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
    // A key that setup made holds nothing more under Wine.
    for (const std::string& key : createdKeys) {
        const winemu::RegKey* wineKey = wine.registry.Find(key);
        if (wineKey == nullptr)
            continue; // reported above with its values
        for (const winemu::RegValue& value : wineKey->values) {
            if (host.after.Value(key, value.name) == nullptr &&
                FindNamedDifference(key, value.name) == nullptr)
                ADD_FAILURE() << key << " \"" << value.name
                              << "\" only under Wine: " << Describe(value.type, value.data);
        }
    }

    // The files copied and the program items made, and nothing more.
    std::set<std::string> hostFiles;
    for (const auto& file : host.report["files_copied"])
        hostFiles.insert(underWine(file.get<std::string>()));
    for (const auto& group : host.report["program_groups"]) {
        for (const auto& item : group["items"])
            hostFiles.insert(underWine(item["shortcut"].get<std::string>()));
    }
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

INSTANTIATE_TEST_SUITE_P(Samples, WineRuns,
                         testing::Values(Sample{"nt40", "nt40", false},
                                         Sample{"nt351", "nt351", false},
                                         Sample{"nt40-modem", "nt40", true}),
                         [](const testing::TestParamInfo<Sample>& info) {
                             std::string name = info.param.machine;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
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
                       Quote((kWin64Dir / "wine" / "profile_probe.exe").string()) +
                       " 'A:\\PROBE.INI' Probe >/dev/null 2>&1");
    ASSERT_EQ(status, 0);
    // The console writes each line end as CR LF.
    std::string wine = testsupport::ReadHostFile(work / "stdout");
    wine.erase(std::remove(wine.begin(), wine.end(), '\r'), wine.end());
    EXPECT_EQ(wine, host);
}

} // namespace
