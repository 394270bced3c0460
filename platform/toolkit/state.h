// The toolkit's one state behind its C interface: symbols, setup.inf, the copy list, the dialogs
// that are up, the unattended answers, the program groups made.
#pragma once

#include "toolkit/ini.h"

#include <windows.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace toolkit {

// An answers file may also answer Windows' own "Install From Disk" prompt, which the device
// installer raises for the modem, by the folder to search (or CANCEL).
constexpr UINT kInstallFromDiskAnswerId = 9000;
// Setup reads the event of every dialog it answers into 15 bytes, its terminator included.
constexpr size_t kEventLimit = 15;

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
    HWND window = nullptr; // a modeless dialog's window, where the UI has one
};

// A word of the answers file and the line it stands on.
struct Answer {
    std::string word;
    int line;
};

struct ProgramItem {
    std::string name;
    std::string command;
    std::string shortcut; // where the UI put it; empty when it keeps no file
};

struct ProgramGroup {
    std::string name;
    std::string folder;
    std::optional<std::string> show; // the last show command
    std::vector<ProgramItem> items;
};

struct State {
    HWND hwndFrame = nullptr;
    bool installUp = false;
    std::map<std::string, std::string, NameLess> symbols;
    std::optional<IniSections> inf;
    std::string infPath; // the full path setup.inf was opened by
    std::vector<CopyEntry> copyList;
    std::vector<Billboard> billboards;
    POINT gaugePos{};
    std::vector<ShownDialog> dialogs; // the dialogs that are up, the last shown at the back
    bool unattended = false;
    std::map<UINT, std::vector<Answer>> answers; // the words still to be taken
    std::string answersMisfit;       // a line that fits no dialog: the next dialog fails with it
    bool windowsDirUnusable = false; // an unattended run met the Windows-directory dialog
    UINT cursorsGiven = 0;
    std::vector<HCURSOR> cursors; // those given out, in order
    std::vector<ProgramGroup> groups;
};

// The toolkit's one state, and a fresh start of it (InitializeFrame).
State& Core();
void ResetCore();

} // namespace toolkit
