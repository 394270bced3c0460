// The setup frame and install engine: start-up with the command line (unattended answers), the
// frame bitmap, the wait cursor, message boxes and the end of both.
#include "toolkit/core.h"

#include <toolkit.h>

#include <cctype>
#include <string>

namespace {

// Handle values of the frame; any value above 0 tells setup that start-up succeeded.
HWND const kFrameWindow = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x00010010));
HINSTANCE const kFrameInstance = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x00400000));
constexpr ULONG_PTR kCursorBase = 0x00020000;

// The command line split into words; double quotes group blanks and are dropped.
std::vector<std::string> SplitCommandLine(std::string_view cmdLine) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (char c : cmdLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

// The Windows path of "/answers:PATH" ("-answers:" too, any case); nullopt when not given.
std::optional<std::string> AnswersOption(std::string_view cmdLine) {
    constexpr std::string_view option = "answers:";
    for (const std::string& word : SplitCommandLine(cmdLine)) {
        if (word.size() > option.size() && (word[0] == '/' || word[0] == '-') &&
            winemu::NameEquals(std::string_view(word).substr(1, option.size()), option)) {
            return word.substr(1 + option.size());
        }
    }
    return std::nullopt;
}

std::string TrimBlanks(std::string_view text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// "[Answers]" lines "<dialog id>=WORD,WORD,...": the words, one per showing of that dialog.
bool LoadAnswers(const std::filesystem::path& hostFile, std::string_view shownName) {
    std::ostream& console = winemu::Current().Console();
    std::optional<toolkit::IniSections> ini = toolkit::ReadIniFile(hostFile);
    if (!ini) {
        console << "Setup cannot read the answers file " << shownName << ".\n";
        return false;
    }
    toolkit::State& state = toolkit::Core();
    state.unattended = true;
    auto section = ini->find("Answers");
    if (section == ini->end()) {
        return true; // every dialog takes its default button
    }
    for (const std::string& line : section->second) {
        size_t equals = line.find('=');
        std::string key = TrimBlanks(std::string_view(line).substr(0, equals));
        bool numeric = !key.empty() && key.size() <= 9 &&
                       key.find_first_not_of("0123456789") == std::string::npos;
        if (equals == std::string::npos || !numeric) {
            console << "Answers file " << shownName << ": line \"" << line
                    << "\" is not <dialog id>=<words>; it is ignored.\n";
            continue;
        }
        std::vector<std::string>& words = state.answers[static_cast<UINT>(std::stoul(key))];
        std::string_view rest = std::string_view(line).substr(equals + 1);
        while (true) {
            size_t comma = rest.find(',');
            words.push_back(TrimBlanks(rest.substr(0, comma)));
            if (comma == std::string_view::npos) {
                break;
            }
            rest = rest.substr(comma + 1);
        }
    }
    return true;
}

} // namespace

HWND WINAPI InitializeFrame(LPSTR szCmdLine) {
    std::string_view cmdLine = szCmdLine ? szCmdLine : "";
    winemu::Machine& machine = winemu::Current();
    toolkit::ResetCore(); // a frame that fails to come up leaves nothing of an earlier one
    if (machine.Fault().Check("InitializeFrame", {cmdLine})) {
        return nullptr;
    }
    toolkit::State& state = toolkit::Core();
    state.symbols["STF_SRCDIR"] = toolkit::WithBackslash(machine.CurrentDirectory());
    state.symbols["DLGEVENT"] = "";

    std::optional<std::string> answers = AnswersOption(cmdLine);
    if (answers) {
        std::string full = machine.FullPath(*answers);
        std::optional<std::filesystem::path> host;
        if (!full.empty()) {
            host = machine.HostPath(full);
        }
        if (!host || !LoadAnswers(*host, *answers)) {
            if (!host) {
                machine.Console() << "Setup cannot read the answers file " << *answers << ".\n";
            }
            toolkit::ResetCore();
            return nullptr;
        }
    } else if (machine.AnswersFile()) {
        if (!LoadAnswers(*machine.AnswersFile(), machine.AnswersFile()->string())) {
            toolkit::ResetCore();
            return nullptr;
        }
    }

    for (const char* key : {"dialogs", "message_boxes", "files_copied", "program_groups"}) {
        toolkit::ReportArray(key);
    }
    state.hwndFrame = kFrameWindow;
    return state.hwndFrame;
}

HWND WINAPI HwndFrame(void) {
    return toolkit::Core().hwndFrame;
}

HINSTANCE WINAPI HinstFrame(void) {
    return toolkit::Core().hwndFrame ? kFrameInstance : nullptr;
}

BOOL WINAPI FInitializeInstall(HINSTANCE hinst, HWND hwndFrame) {
    if (winemu::Current().Fault().Check("FInitializeInstall")) {
        return FALSE;
    }
    toolkit::State& state = toolkit::Core();
    if (!state.hwndFrame || hinst != kFrameInstance || hwndFrame != state.hwndFrame) {
        return FALSE;
    }
    state.installUp = true;
    return TRUE;
}

BOOL WINAPI FSetBitmap(LPCSTR szDll, UINT idBitmap) {
    std::string_view dll = szDll ? szDll : "";
    if (winemu::Current().Fault().Check("FSetBitmap", {dll, std::to_string(idBitmap)})) {
        return FALSE;
    }
    return toolkit::Core().hwndFrame && winemu::NameEquals(dll, qvxcui::kLibraryName) &&
           qvxcui::HasBitmap(idBitmap);
}

void WINAPI TerminateFrame(void) {
    toolkit::State& state = toolkit::Core();
    state.dialogs.clear();
    state.hwndFrame = nullptr;
}

void WINAPI TerminateInstall(void) {
    toolkit::State& state = toolkit::Core();
    state.inf.reset();
    state.copyList.clear();
    state.billboards.clear();
    state.installUp = false;
}

void WINAPI DoMsgBox(LPCSTR szText, LPCSTR szCaption, UINT uStyle) {
    std::string_view text = szText ? szText : "";
    std::string_view caption = szCaption ? szCaption : "";
    toolkit::ReportArray("message_boxes")
        .push_back({{"text", toolkit::ReportText(text)},
                    {"caption", toolkit::ReportText(caption)},
                    {"style", uStyle}});
    toolkit::CurrentUi().MessageBox(text, caption, uStyle);
}

HCURSOR WINAPI HShowWaitCursor(void) {
    UINT& given = toolkit::Core().cursorsGiven;
    ++given;
    return reinterpret_cast<HCURSOR>(kCursorBase + given);
}

// Any cursor handle the toolkit gave out may be put back, in any order.
BOOL WINAPI FRestoreCursor(HCURSOR hcurPrev) {
    if (winemu::Current().Fault().Check("FRestoreCursor")) {
        return FALSE;
    }
    ULONG_PTR value = reinterpret_cast<ULONG_PTR>(hcurPrev);
    return value > kCursorBase && value <= kCursorBase + toolkit::Core().cursorsGiven;
}
