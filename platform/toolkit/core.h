// The toolkit's state behind its C interface: symbols, setup.inf, the copy list, the dialogs that
// are up, the unattended answers. No screen code here: what the user sees goes through Ui, so the
// terminal of the host build and a window UI can sit on the same core.
#pragma once

#include "qvxcui/qvxcui.h"
#include "winemu/machine.h"

#include <windows.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

// What the user sees and answers.
class Ui {
  public:
    virtual ~Ui() = default;
    // A modal dialog: the index of the button pressed, or nullopt when no answer can come (end
    // of input), which the core takes as the dialog's cancel button.
    virtual std::optional<size_t> AskDialog(const qvxcui::DialogTemplate& dialog) = 0;
    // A modal dialog of an unattended run, shown with the word that answered it.
    virtual void ShowAnswered(const qvxcui::DialogTemplate& dialog, std::string_view word) = 0;
    // A modeless dialog comes up (the opening dialog, the billboard).
    virtual void ShowModeless(const qvxcui::DialogTemplate& dialog) = 0;
    // The copy gauge: done of total files, the one just copied.
    virtual void Progress(size_t done, size_t total, std::string_view file) = 0;
    virtual void MessageBox(std::string_view text, std::string_view caption, UINT style) = 0;
};

// The host build's terminal, on the machine console and input.
Ui& TerminalUi();

// INI text as the toolkit reads it (setup.inf, answers files): section name to its lines, each
// trimmed, ';' comments and empty lines dropped; the first section of a name wins.
using IniSections = std::map<std::string, std::vector<std::string>, winemu::NameLess>;
std::optional<IniSections> ReadIniFile(const std::filesystem::path& hostFile);

struct CopyEntry {
    std::string file; // the name as setup.inf lists it
    std::string from; // directory, ending in a backslash
    std::string to;   // directory, ending in a backslash
};

struct Billboard {
    UINT id;
    std::string procedure;
    LONG ticks;
};

struct ShownDialog {
    UINT id;
    std::string procedure;
};

struct State {
    HWND hwndFrame = nullptr;
    bool installUp = false;
    std::map<std::string, std::string, winemu::NameLess> symbols;
    std::optional<IniSections> inf;
    std::vector<CopyEntry> copyList;
    std::vector<Billboard> billboards;
    POINT gaugePos{};
    std::vector<ShownDialog> dialogs; // the dialogs that are up, the last shown at the back
    bool unattended = false;
    std::map<UINT, std::vector<std::string>> answers; // the words still to be taken
    UINT cursorsGiven = 0;
};

// The toolkit's one state, and a fresh start of it (InitializeFrame).
State& Core();
void ResetCore();

// The UI the toolkit talks to; the terminal unless a test puts another in place.
Ui& CurrentUi();
void SetUi(Ui* ui);

// Helpers shared by the toolkit's files.
std::string WithBackslash(std::string dir);
// A name that stays inside its directory: no separator, no drive, no "..", not empty.
bool IsPlainFileName(std::string_view name);
// Every folder of a full directory path ("C:\\A\\B", no trailing backslash) exists afterwards,
// made through the platform's file functions; 0, or the Win32 error that stopped it.
INT EnsureDirectory(const std::string& fullDir);
// ANSI text as the report's JSON (UTF-8) holds it: bytes from 0x80 up stand for the code points
// of the same value, so any text, however odd, can be recorded.
std::string ReportText(std::string_view ansi);
// The JSON array under key in the machine's report, made when missing.
nlohmann::json& ReportArray(const char* key);

} // namespace toolkit
