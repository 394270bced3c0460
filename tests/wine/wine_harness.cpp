// The harness of the runs under Wine (wine_harness.h): staging, the two runs, reading back.
#include "wine/wine_harness.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace winetest {
namespace {

const fs::path kWine = "/usr/lib/wine/wine"; // Debian's 32-bit loader (wine32:i386)
const fs::path kWineSetupApi = "/usr/lib/i386-linux-gnu/wine/i386-windows/setupapi.dll";

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

// Setup's command line, less the program, as shell words.
std::string SetupArguments(const Scenario& row) {
    std::string arguments = "'/answers:A:\\ANSWERS.INI'";
    std::istringstream options(row.options);
    for (std::string option; options >> option;)
        arguments += " " + Quote(option);
    return arguments;
}

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

} // namespace

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

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

void PrintTo(const Scenario& row, std::ostream* out) {
    *out << row.name;
}

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

std::string LogName(const Scenario& row) {
    const std::string options = row.options, flag = "/log:C:\\";
    size_t at = options.find(flag);
    if (at == std::string::npos)
        return "";
    at += flag.size();
    return options.substr(at, options.find(' ', at) - at);
}

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

bool WineAborted(const std::string& output) {
    for (const char* sign :
         {"Unhandled exception", "Unimplemented function", "starting debugger", "page fault"}) {
        if (output.find(sign) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace winetest
