// End-to-end runs of the product under 32-bit Wine: each machine below (a sample image, or one
// changed as a real machine can be: other answers, driver settings, registry content, a damaged
// install disk) is staged into a Wine prefix, the i686 SETUP.EXE runs on it unattended, and what
// it writes is held against the host build's run of the same image. Wine is the reference for the
// emulated machine: a difference that is Wine's is named below with its reason and printed; any
// other difference, a crash or a call into a function Wine lacks fails.
#include "support/test_machine.h"
#include "wine/deploy_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <chrono>
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
const fs::path kWin32Dir = SOUNDSETUP_WIN32_DIR;
const fs::path kWineCache = SOUNDSETUP_WINE_CACHE;
const fs::path kWine = "/usr/lib/wine/wine"; // Debian's 32-bit loader (wine32:i386)
const fs::path kWineSetupApi = "/usr/lib/i386-linux-gnu/wine/i386-windows/setupapi.dll";

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
std::string MissingForWine(const std::vector<std::string>& win32Files) {
    if (!fs::exists(kWine))
        return "32-bit Wine is not installed (" + kWine.string() + "; tools/deps installs wine32)";
    // The loader is itself a 32-bit program: a kernel without 32-bit support cannot start it.
    if (Shell(Quote(kWine.string()) + " --version >/dev/null 2>&1") != 0)
        return "this kernel cannot run 32-bit programs (" + kWine.string() + " does not start)";
    if (Shell("command -v Xvfb >/dev/null 2>&1") != 0)
        return "Xvfb is not installed";
    if (Shell("command -v xev >/dev/null 2>&1 && command -v xprop >/dev/null 2>&1") != 0)
        return "xev and xprop are not installed (x11-utils)";
    for (const std::string& name : win32Files) {
        if (!fs::exists(kWin32Dir / name))
            return kWin32Dir.string() + "/" + name +
                   " is missing: build it with cmake --workflow --preset win32";
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
// The machines

// A sample machine, changed where a row says so. Both runs get the same changed image.
struct Scenario {
    const char* name;         // the test's name
    const char* machine;      // folder of machines/
    const char* answers;      // ANSWERS.INI on the disk; nullptr: the image's own
    const char* driver;       // the sound driver's settings; nullptr: the image's own
    const char* registry;     // REGEDIT4 lines for the image's registry; "[-KEY]" removes a key
    const char* diskFile;     // a file of the install disk that is damaged; nullptr: none
    const char* diskText;     // what it holds then; nullptr: it is missing
    const char* hostPath;     // the dialogs and message boxes of the host run: what the row is for
    unsigned exitCode;        // of both runs, whole
    const char* options = ""; // more of the command line: "/log:C:\\NAME" (the log both runs
                              // keep and are compared by), /norestart, /silent (nothing shown)
    bool noShell = false;     // no Program Manager or Explorer serves PROGMAN (the host's
                              // program groups fail)
    const char* again = nullptr; // more of the command line of a second run on the machine the
                                 // first left ("/remove"); the row then tells of the second
};

void PrintTo(const Scenario& row, std::ostream* out) {
    *out << row.name;
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

// The row's registry lines applied to a registry: removals, then the keys and values.
void ApplyRegistryLines(winemu::Registry& registry, const std::string& lines) {
    std::istringstream in(lines);
    std::string line, kept = "REGEDIT4\n\n";
    while (std::getline(in, line)) {
        if (line.rfind("[-", 0) == 0)
            registry.Delete(line.substr(2, line.size() - 3));
        else
            kept += line + "\n";
    }
    winemu::Registry added = winemu::Registry::FromRegText(kept, "the row's registry lines");
    std::function<void(const winemu::RegKey&)> merge = [&](const winemu::RegKey& key) {
        if (key.parent != nullptr)
            registry.Create(key.Path());
        for (const winemu::RegValue& value : key.values)
            registry.Set(key.Path(), value.name, value.type, value.data);
        for (const auto& [name, subkey] : key.subkeys)
            merge(*subkey);
    };
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        merge(*added.Root(root));
}

// The image of a row: the sample copied to DIR and changed as the row says.
fs::path StageImage(const Scenario& row, const fs::path& dir) {
    const fs::path image = dir / "image";
    fs::copy(kSourceDir / "machines" / row.machine, image, fs::copy_options::recursive);
    const fs::path driveA = image / "drives" / "A";
    if (row.answers != nullptr)
        std::ofstream(driveA / "ANSWERS.INI", std::ios::binary) << row.answers;
    if (row.driver != nullptr)
        std::ofstream(driveA / "TONEBAY.INI", std::ios::binary) << row.driver;
    if (row.diskFile != nullptr && row.diskText == nullptr)
        fs::remove(driveA / row.diskFile);
    else if (row.diskFile != nullptr)
        std::ofstream(driveA / row.diskFile, std::ios::binary) << row.diskText;
    if (row.noShell)
        std::ofstream(image / "machine.ini", std::ios::app)
            << "\n[Faults]\nFCreateProgManGroup=*\n";
    if (row.registry[0] != '\0') {
        winemu::Registry registry = winemu::Registry::FromRegText(
            testsupport::ReadHostFile(image / "registry.reg"), "registry.reg");
        ApplyRegistryLines(registry, row.registry);
        std::ofstream(image / "registry.reg", std::ios::binary) << registry.ToRegText();
    }
    return image;
}

// The image's registry for Wine: all of it but the Windows version key, which Wine keeps itself
// (the version is set through Wine's own setting instead), and the keys the row removes, which a
// Wine prefix may have of its own.
std::string StagedRegistry(const fs::path& regFile, const std::string& rowLines) {
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
    std::istringstream removals(rowLines);
    while (std::getline(removals, line)) {
        if (line.rfind("[-", 0) == 0)
            out << "\n" << line << "\n";
    }
    return out.str();
}

// ---------------------------------------------------------------------------------------------
// The two runs

// Setup's command line, less the program, as shell words.
std::string SetupArguments(const Scenario& row) {
    std::string arguments = "'/answers:A:\\ANSWERS.INI'";
    std::istringstream options(row.options);
    for (std::string option; options >> option;)
        arguments += " " + Quote(option);
    return arguments;
}

// The file name of the row's log on C: ("" when it keeps none).
std::string LogName(const Scenario& row) {
    const std::string options = row.options, flag = "/log:C:\\";
    size_t at = options.find(flag);
    if (at == std::string::npos)
        return "";
    at += flag.size();
    return options.substr(at, options.find(' ', at) - at);
}

struct HostRun {
    int status = -1;         // the runner's: the low byte of the exit code once all is saved
    long long exitCode = -1; // setup's, whole, from the report
    winemu::Registry before;
    winemu::Registry after;
    nlohmann::json report;
    std::string log;
};

HostRun RunOnHost(const Scenario& row, const fs::path& image, const fs::path& work) {
    const fs::path copy = work / "host";
    fs::remove_all(copy);
    fs::copy(image, copy, fs::copy_options::recursive);
    HostRun run;
    run.before = winemu::Registry::FromRegText(testsupport::ReadHostFile(copy / "registry.reg"),
                                               "registry.reg");
    auto runSetup = [&](const std::string& more) {
        return Shell(Quote(SOUNDSETUP_SETUP_EXE) + " --machine " + Quote(copy.string()) +
                     " --report " + Quote((work / "host.json").string()) + " -- " +
                     SetupArguments(row) + more + " >/dev/null 2>&1 </dev/null");
    };
    run.status = runSetup("");
    if (row.again)
        run.status = runSetup(std::string(" ") + row.again);
    run.after = winemu::Registry::FromRegText(testsupport::ReadHostFile(copy / "registry.reg"),
                                              "registry.reg");
    run.report =
        nlohmann::json::parse(testsupport::ReadHostFile(work / "host.json"), nullptr, false);
    if (run.report.is_object() && run.report["exit_code"].is_number())
        run.exitCode = run.report["exit_code"].get<long long>();
    if (!LogName(row).empty())
        run.log = testsupport::ReadHostFile(copy / "drives" / "C" / LogName(row));
    return run;
}

struct WineRun {
    long long exitCode = -1;          // the program's whole exit code; -1 when it was lost
    winemu::Registry before;          // the keys read back before the run
    winemu::Registry after;           // and after it
    std::set<std::string> filesAdded; // lower-case Windows paths on C:
    std::string output;
    double seconds = 0;        // the whole run: prefix, registry, setup, reading back
    double programSeconds = 0; // setup alone
    std::string windows;       // each window put on the screen, a line each, with its program
    std::string windowsLeft;   // those still on the screen at the end
    std::string log;
};

std::set<std::string> ReadLines(const fs::path& file) {
    std::ifstream in(file);
    std::set<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.insert(line);
    return lines;
}

bool AnyDevice(const fs::path& machineIni) {
    for (const char* key : {"WaveOut", "WaveIn", "MidiOut", "MidiIn"}) {
        if (std::atoi(IniValue(machineIni, key).c_str()) != 0)
            return true;
    }
    return false;
}

WineRun RunUnderWine(const Scenario& row, const fs::path& image, const fs::path& work,
                     const std::vector<std::string>& keys) {
    const fs::path stage = work / "wine-stage";
    fs::create_directories(stage / "A");
    fs::copy(image / "drives" / "A", stage / "A",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    // The real programs replace the host's stand-ins; the driver reads the same TONEBAY.INI
    // beside itself in both runs.
    for (const char* name : {"SETUP.EXE", "SNDSTF.DLL", "qvxcui.dll", "TONEBAY.DLL"})
        fs::copy_file(kWin32Dir / name, stage / "A" / name, fs::copy_options::overwrite_existing);
    // Wine's SETUPAPI stops the process in calls the modem installation makes: the test one
    // carries them. Setup loads it from the system directory, where it takes the place of Wine's
    // for SETUP.EXE alone (Wine's goes beside it under another name, for it to call).
    const bool modemDisk =
        fs::exists(kSourceDir / "machines" / row.machine / "drives" / "A" / "QVMODEM.INF");
    if (modemDisk) {
        fs::create_directories(stage / "system32");
        fs::copy_file(kWin32Dir / "wine" / "SETUPAPI.DLL", stage / "system32" / "setupapi.dll");
        fs::copy_file(kWineSetupApi, stage / "system32" / "winesetupapi.dll");
    }
    std::ofstream(stage / "import.reg", std::ios::binary)
        << StagedRegistry(image / "registry.reg", row.registry)
        << (modemDisk
                ? "\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\SETUP.EXE\\DllOverrides]\n"
                  "\"setupapi\"=\"native\"\n"
                : "");
    const std::string version =
        IniValue(image / "machine.ini", "Version") == "3.51" ? "nt351" : "nt40";

    std::string command = Quote((kSourceDir / "tests" / "wine" / "wine-run").string()) +
                          " --cache " + Quote(kWineCache.string()) + " --work " +
                          Quote((work / "wine").string()) + " --drive-a " +
                          Quote((stage / "A").string()) + " --version " + version + " --import " +
                          Quote((stage / "import.reg").string()) + " --exitcode " +
                          Quote((kWin32Dir / "wine" / "exitcode.exe").string());
    if (AnyDevice(image / "machine.ini"))
        command += " --sound";
    if (modemDisk)
        command += " --system32 " + Quote((stage / "system32").string());
    command += " --regdump " + Quote((kWin32Dir / "wine" / "regdump.exe").string());
    for (const std::string& key : keys)
        command += " --dump " + Quote(key);
    if (row.again) {
        std::istringstream words(SetupArguments(row) + " " + row.again);
        for (std::string word; words >> word;)
            command += " --again " + word; // each already quoted where it must be
    }
    command += std::string(row.noShell ? " --no-shell" : "") + " --windows -- 'A:\\SETUP.EXE' " +
               SetupArguments(row);
    WineRun run;
    auto start = std::chrono::steady_clock::now();
    int status = Shell(command + " >" + Quote((work / "wine-run.log").string()) + " 2>&1");
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
        run.output = testsupport::ReadHostFile(work / "wine-run.log");
        return run;
    }
    std::string code = testsupport::ReadHostFile(work / "wine" / "exit_code");
    if (!code.empty() && std::isdigit(static_cast<unsigned char>(code[0])))
        run.exitCode = std::atoll(code.c_str());
    run.output = testsupport::ReadHostFile(work / "wine" / "stderr");
    run.programSeconds =
        std::atof(testsupport::ReadHostFile(work / "wine" / "program_ms").c_str()) / 1000;
    run.windows = testsupport::ReadHostFile(work / "wine" / "windows");
    run.windowsLeft = testsupport::ReadHostFile(work / "wine" / "windows-left");
    if (!LogName(row).empty())
        run.log = testsupport::ReadHostFile(work / "wine" / "prefix" / "drive_c" / LogName(row));

    run.before = winemu::Registry::FromRegText(
        testsupport::ReadHostFile(work / "wine" / "registry.before"), "Wine's registry.before");
    run.after = winemu::Registry::FromRegText(
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

// What Wine says when a program ends in a fault or in a function it does not carry out.
bool WineAborted(const std::string& output) {
    for (const char* sign :
         {"Unhandled exception", "Unimplemented function", "starting debugger", "page fault"}) {
        if (output.find(sign) != std::string::npos)
            return true;
    }
    return false;
}

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
