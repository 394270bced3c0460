// The setup frame and install engine: start-up with the command line (unattended answers), the
// frame bitmap, the wait cursor, message boxes and the end of both.
#include "toolkit/core.h"

#include <toolkit.h>

#include <string>

namespace {

// A start-up failure of an unattended run is said the way every message of such a run is.
void StartUpBox(const std::string& text) {
    toolkit::CurrentRecorder().MessageBoxShown(text, "Setup", MB_ICONHAND);
    toolkit::LogMessageBox(text, "Setup", MB_ICONHAND);
    toolkit::CurrentUi().ShowMessageBox(text, "Setup", MB_ICONHAND);
}

// "[Answers]" lines "<dialog id>=WORD,WORD,...": the words, one per showing of that dialog, each
// with its line. A line that names no dialog of the library, or a word longer than setup reads, is
// kept as the run's misfit.
bool LoadAnswers(const std::optional<std::string>& text, std::string_view shownName) {
    if (!text) {
        toolkit::Log("the answers file " + std::string(shownName) + " cannot be read");
        StartUpBox("Setup cannot read its answers file " + std::string(shownName) + ".");
        toolkit::Fail(SETUP_EXIT_ANSWERS_UNREADABLE);
        return false;
    }
    toolkit::State& state = toolkit::Core();
    state.unattended = true;
    std::string_view rest = *text;
    bool inAnswers = false;
    bool seenAnswers = false; // the first [Answers] section wins, as in every INI file
    for (int number = 1; !rest.empty(); ++number) {
        std::string line(toolkit::TrimBlanks(toolkit::TakeLine(rest)));
        line = toolkit::TrimBlanks(line.substr(0, line.find(';')));
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[') {
            size_t close = line.find(']');
            std::string name(toolkit::TrimBlanks(
                line.substr(1, close == std::string::npos ? close : close - 1)));
            inAnswers = !seenAnswers && toolkit::NameEquals(name, "Answers");
            seenAnswers = seenAnswers || inAnswers;
            continue;
        }
        if (!inAnswers) {
            continue;
        }
        size_t equals = line.find('=');
        std::string key(toolkit::TrimBlanks(std::string_view(line).substr(0, equals)));
        bool numeric = !key.empty() && key.size() <= 9 &&
                       key.find_first_not_of("0123456789") == std::string::npos;
        UINT id = numeric ? static_cast<UINT>(std::stoul(key)) : 0;
        bool known = qvxcui::FindDialog(id) || id == toolkit::kInstallFromDiskAnswerId;
        if (equals == std::string::npos || !numeric || !known) {
            if (state.answersMisfit.empty()) {
                state.answersMisfit = "answers file " + std::string(shownName) + " line " +
                                      std::to_string(number) + ": \"" + line +
                                      "\" names no dialog of setup";
            }
            continue;
        }
        std::vector<toolkit::Answer>& words = state.answers[id];
        std::string_view value = std::string_view(line).substr(equals + 1);
        while (true) {
            size_t comma = value.find(',');
            std::string word(toolkit::TrimBlanks(value.substr(0, comma)));
            // Setup reads a dialog's event into a buffer of its own: a longer word could only
            // end the run at that dialog, after the steps before it have changed the machine.
            if (id != toolkit::kInstallFromDiskAnswerId && word.size() >= toolkit::kEventLimit &&
                state.answersMisfit.empty()) {
                state.answersMisfit =
                    "answers file " + std::string(shownName) + " line " + std::to_string(number) +
                    ": \"" + word + "\" is longer than dialog " + std::to_string(id) + " takes (" +
                    std::to_string(toolkit::kEventLimit - 1) + " characters)";
            }
            words.push_back({std::move(word), number});
            if (comma == std::string_view::npos) {
                break;
            }
            value = value.substr(comma + 1);
        }
    }
    return true;
}

// The directory the program started from, ending in a backslash.
std::string StartDirectory() {
    std::string directory(MAX_PATH, '\0');
    DWORD count = GetCurrentDirectoryA(static_cast<DWORD>(directory.size()), directory.data());
    if (count >= directory.size()) {
        directory.resize(count); // count is the size needed, terminator included
        count = GetCurrentDirectoryA(count, directory.data());
        if (count >= directory.size()) {
            count = 0;
        }
    }
    directory.resize(count);
    return toolkit::WithBackslash(directory);
}

bool StartUp(std::string_view cmdLine, const toolkit::RunOptions& options,
             const std::optional<toolkit::Recorder::Answers>& outside) {
    toolkit::State& state = toolkit::Core();
    state.symbols["STF_SRCDIR"] = StartDirectory();
    state.symbols["DLGEVENT"] = "";
    state.unattended = options.answers || outside; // even a failed start answers its own box

    if (state.unattended) {
        // Nobody is at the screen, even when the answers or the log cannot be read.
        toolkit::CurrentUi().AnswerEveryMessageBox();
    }
    if (!toolkit::OpenLog(cmdLine)) {
        // Said the way every message of an unattended run is, and nothing is changed.
        StartUpBox("Setup cannot open its log " + *options.log + ".");
        return false;
    }
    if (options.answers) {
        std::string full = toolkit::FullPath(*options.answers);
        std::optional<std::string> text;
        if (!full.empty()) {
            text = toolkit::ReadWholeFile(full);
        }
        if (!LoadAnswers(text, *options.answers)) {
            return false;
        }
    } else if (outside) {
        if (!LoadAnswers(outside->text, outside->name)) {
            return false;
        }
    }
    toolkit::CurrentRecorder().Started();
    state.hwndFrame = toolkit::CurrentUi().OpenFrame();
    return state.hwndFrame != nullptr;
}

} // namespace

HWND WINAPI InitializeFrame(LPSTR szCmdLine) TOOLKIT_TRY {
    toolkit::CallScope call("InitializeFrame", {toolkit::Text(szCmdLine)});
    std::string_view cmdLine = szCmdLine ? szCmdLine : "";
    toolkit::ResetCore(); // a frame that fails to come up leaves nothing of an earlier one
    toolkit::RunOptions options = toolkit::ParseRunOptions(cmdLine);
    std::optional<toolkit::Recorder::Answers> outside;
    if (!options.answers) {
        outside = toolkit::CurrentRecorder().OutsideAnswers();
    }
    toolkit::BeginRecord(options, options.answers || outside);
    toolkit::BeginUndoRecord(options.remove);
    toolkit::CurrentRecorder().RunBegun();
    toolkit::CurrentUi().RunBegun();
    if (toolkit::CurrentRecorder().Fails("InitializeFrame", {cmdLine})) {
        return nullptr;
    }
    if (!StartUp(cmdLine, options, outside)) {
        toolkit::ResetCore();
        return nullptr;
    }
    return toolkit::Core().hwndFrame;
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<HWND>("InitializeFrame", error, nullptr);
}

HWND WINAPI HwndFrame(void) TOOLKIT_TRY {
    toolkit::CallScope call("HwndFrame", {});
    return toolkit::Core().hwndFrame;
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<HWND>("HwndFrame", error, nullptr);
}

HINSTANCE WINAPI HinstFrame(void) TOOLKIT_TRY {
    toolkit::CallScope call("HinstFrame", {});
    return toolkit::Core().hwndFrame ? toolkit::CurrentUi().FrameInstance() : nullptr;
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<HINSTANCE>("HinstFrame", error, nullptr);
}

BOOL WINAPI FInitializeInstall(HINSTANCE hinst, HWND hwndFrame) TOOLKIT_TRY {
    toolkit::CallScope call("FInitializeInstall",
                            {toolkit::InstanceArg(hinst), toolkit::WindowArg(hwndFrame)});
    if (toolkit::CurrentRecorder().Fails("FInitializeInstall", {})) {
        return FALSE;
    }
    toolkit::State& state = toolkit::Core();
    if (!state.hwndFrame || hinst != toolkit::CurrentUi().FrameInstance() ||
        hwndFrame != state.hwndFrame) {
        return FALSE;
    }
    state.installUp = true;
    return TRUE;
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<BOOL>("FInitializeInstall", error, FALSE);
}

BOOL WINAPI FSetBitmap(LPCSTR szDll, UINT idBitmap) TOOLKIT_TRY {
    toolkit::CallScope call("FSetBitmap", {toolkit::Text(szDll), static_cast<long long>(idBitmap)});
    std::string_view dll = szDll ? szDll : "";
    if (toolkit::CurrentRecorder().Fails("FSetBitmap", {dll, std::to_string(idBitmap)})) {
        return FALSE;
    }
    return toolkit::Core().hwndFrame && toolkit::NameEquals(dll, qvxcui::kLibraryName) &&
           qvxcui::HasBitmap(idBitmap) && toolkit::CurrentUi().SetBitmap(idBitmap);
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<BOOL>("FSetBitmap", error, FALSE);
}

void WINAPI TerminateFrame(void) TOOLKIT_TRY {
    toolkit::CallScope call("TerminateFrame", {});
    toolkit::State& state = toolkit::Core();
    toolkit::Ui& ui = toolkit::CurrentUi();
    for (const toolkit::ShownDialog& dialog : state.dialogs) {
        if (dialog.window) {
            ui.CloseModeless(dialog.window);
        }
    }
    state.dialogs.clear();
    if (state.hwndFrame) {
        ui.CloseFrame();
    }
    state.hwndFrame = nullptr;
}
TOOLKIT_CATCH(const std::exception& error) {
    toolkit::NoteCallFailed(error, "TerminateFrame");
}

void WINAPI TerminateInstall(void) TOOLKIT_TRY {
    toolkit::CallScope call("TerminateInstall", {});
    toolkit::State& state = toolkit::Core();
    state.inf.reset();
    state.copyList.clear();
    state.billboards.clear();
    state.installUp = false;
}
TOOLKIT_CATCH(const std::exception& error) {
    toolkit::NoteCallFailed(error, "TerminateInstall");
}

void WINAPI DoMsgBox(LPCSTR szText, LPCSTR szCaption, UINT uStyle) TOOLKIT_TRY {
    toolkit::CallScope call("DoMsgBox", {toolkit::Text(szText), toolkit::Text(szCaption),
                                         static_cast<long long>(uStyle)});
    std::string_view text = szText ? szText : "";
    std::string_view caption = szCaption ? szCaption : "";
    toolkit::CurrentRecorder().MessageBoxShown(text, caption, uStyle);
    toolkit::LogMessageBox(text, caption, uStyle);
    toolkit::CurrentUi().ShowMessageBox(text, caption, uStyle);
}
TOOLKIT_CATCH(const std::exception& error) {
    toolkit::NoteCallFailed(error, "DoMsgBox");
}

HCURSOR WINAPI HShowWaitCursor(void) TOOLKIT_TRY {
    toolkit::CallScope call("HShowWaitCursor", {});
    toolkit::State& state = toolkit::Core();
    ++state.cursorsGiven;
    HCURSOR cursor = toolkit::CurrentUi().WaitCursor();
    state.cursors.push_back(cursor);
    return cursor;
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<HCURSOR>("HShowWaitCursor", error, nullptr);
}

// Any cursor handle the toolkit gave out may be put back, in any order.
BOOL WINAPI FRestoreCursor(HCURSOR hcurPrev) TOOLKIT_TRY {
    toolkit::CallScope call("FRestoreCursor", {toolkit::CursorArg(hcurPrev)});
    if (toolkit::CurrentRecorder().Fails("FRestoreCursor", {})) {
        return FALSE;
    }
    return toolkit::CurrentUi().RestoreCursor(hcurPrev);
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<BOOL>("FRestoreCursor", error, FALSE);
}
