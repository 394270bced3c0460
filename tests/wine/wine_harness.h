// The harness of the runs under Wine: a sample machine staged as a row says, setup run on it
// by the host's runner and under Wine (wine-run), and what each run wrote read back.
#pragma once

#include "support/test_machine.h"

#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace winetest {

namespace fs = std::filesystem;

inline const fs::path kSourceDir = SOUNDSETUP_SOURCE_DIR;
inline const fs::path kWin32Dir = SOUNDSETUP_WIN32_DIR;
inline const fs::path kWineCache = SOUNDSETUP_WINE_CACHE;

std::string Lower(std::string text);

// Wine names its user after the Linux user running it.
std::string WineUser();

std::string Quote(const std::string& text);
int Shell(const std::string& command);

// Why the Wine runs cannot happen on this machine; "" when they can.
std::string MissingForWine(const std::vector<std::string>& win32Files);

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
                    std::vector<Written>& written, std::vector<std::string>& createdKeys);
std::string Describe(DWORD type, const std::vector<BYTE>& data);

// The keys to read back from Wine: every key setup wrote to, less those below another one.
std::vector<std::string> KeysToExport(const std::vector<Written>& written,
                                      const std::vector<std::string>& createdKeys);

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

void PrintTo(const Scenario& row, std::ostream* out);

std::string IniValue(const fs::path& file, const std::string& key);

// The image of a row: the sample copied to DIR and changed as the row says.
fs::path StageImage(const Scenario& row, const fs::path& dir);

// ---------------------------------------------------------------------------------------------
// The two runs

// The file name of the row's log on C: ("" when it keeps none).
std::string LogName(const Scenario& row);

struct HostRun {
    int status = -1;         // the runner's: the low byte of the exit code once all is saved
    long long exitCode = -1; // setup's, whole, from the report
    winemu::Registry before;
    winemu::Registry after;
    nlohmann::json report;
    std::string log;
};

HostRun RunOnHost(const Scenario& row, const fs::path& image, const fs::path& work);

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

WineRun RunUnderWine(const Scenario& row, const fs::path& image, const fs::path& work,
                     const std::vector<std::string>& keys);

// What Wine says when a program ends in a fault or in a function it does not carry out.
bool WineAborted(const std::string& output);

} // namespace winetest
