// The setup frame and install engine: start-up with the command line (unattended answers), the
// frame bitmap, the wait cursor, message boxes and the end of both.
#include "toolkit/answers.h"
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
    std::string answersName;
    if (!toolkit::LoadAnswers(options, outside, answersName)) {
        StartUpBox("Setup cannot read its answers file " + answersName + ".");
        return false;
    }
    toolkit::CurrentRecorder().Started();
    state.hwndFrame = toolkit::CurrentUi().OpenFrame();
    return state.hwndFrame != nullptr;
}

} // namespace

HWND WINAPI InitializeFrame(LPSTR szCmdLine) {
    return toolkit::Exported<HWND>(
        "InitializeFrame", {toolkit::Text(szCmdLine)}, nullptr,
        [&](const toolkit::Call& call) -> HWND {
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
            if (call.Fails({cmdLine})) {
                return nullptr;
            }
            if (!StartUp(cmdLine, options, outside)) {
                toolkit::ResetCore();
                return nullptr;
            }
            return toolkit::Core().hwndFrame;
        });
}

HWND WINAPI HwndFrame(void) {
    return toolkit::Exported<HWND>("HwndFrame", {}, nullptr,
                                   [&]() -> HWND { return toolkit::Core().hwndFrame; });
}

HINSTANCE WINAPI HinstFrame(void) {
    return toolkit::Exported<HINSTANCE>("HinstFrame", {}, nullptr, [&]() -> HINSTANCE {
        return toolkit::Core().hwndFrame ? toolkit::CurrentUi().FrameInstance() : nullptr;
    });
}

BOOL WINAPI FInitializeInstall(HINSTANCE hinst, HWND hwndFrame) {
    return toolkit::Exported<BOOL>(
        "FInitializeInstall", {toolkit::InstanceArg(hinst), toolkit::WindowArg(hwndFrame)}, FALSE,
        [&](const toolkit::Call& call) -> BOOL {
            if (call.Fails()) {
                return FALSE;
            }
            toolkit::State& state = toolkit::Core();
            if (!state.hwndFrame || hinst != toolkit::CurrentUi().FrameInstance() ||
                hwndFrame != state.hwndFrame) {
                return FALSE;
            }
            state.installUp = true;
            return TRUE;
        });
}

BOOL WINAPI FSetBitmap(LPCSTR szDll, UINT idBitmap) {
    return toolkit::Exported<BOOL>(
        "FSetBitmap", {toolkit::Text(szDll), static_cast<long long>(idBitmap)}, FALSE,
        [&](const toolkit::Call& call) -> BOOL {
            std::string_view dll = szDll ? szDll : "";
            if (call.Fails({dll, std::to_string(idBitmap)})) {
                return FALSE;
            }
            return toolkit::Core().hwndFrame && toolkit::NameEquals(dll, qvxcui::kLibraryName) &&
                   qvxcui::HasBitmap(idBitmap) && toolkit::CurrentUi().SetBitmap(idBitmap);
        });
}

void WINAPI TerminateFrame(void) {
    toolkit::Exported("TerminateFrame", {}, [&] {
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
    });
}

void WINAPI TerminateInstall(void) {
    toolkit::Exported("TerminateInstall", {}, [&] {
        toolkit::State& state = toolkit::Core();
        state.inf.reset();
        state.copyList.clear();
        state.billboards.clear();
        state.installUp = false;
    });
}

void WINAPI DoMsgBox(LPCSTR szText, LPCSTR szCaption, UINT uStyle) {
    toolkit::Exported(
        "DoMsgBox",
        {toolkit::Text(szText), toolkit::Text(szCaption), static_cast<long long>(uStyle)}, [&] {
            std::string_view text = szText ? szText : "";
            std::string_view caption = szCaption ? szCaption : "";
            toolkit::CurrentRecorder().MessageBoxShown(text, caption, uStyle);
            toolkit::LogMessageBox(text, caption, uStyle);
            toolkit::CurrentUi().ShowMessageBox(text, caption, uStyle);
        });
}

HCURSOR WINAPI HShowWaitCursor(void) {
    return toolkit::Exported<HCURSOR>("HShowWaitCursor", {}, nullptr, [&]() -> HCURSOR {
        toolkit::State& state = toolkit::Core();
        ++state.cursorsGiven;
        HCURSOR cursor = toolkit::CurrentUi().WaitCursor();
        state.cursors.push_back(cursor);
        return cursor;
    });
}

// Any cursor handle the toolkit gave out may be put back, in any order.
BOOL WINAPI FRestoreCursor(HCURSOR hcurPrev) {
    return toolkit::Exported<BOOL>("FRestoreCursor", {toolkit::CursorArg(hcurPrev)}, FALSE,
                                   [&](const toolkit::Call& call) -> BOOL {
                                       if (call.Fails()) {
                                           return FALSE;
                                       }
                                       return toolkit::CurrentUi().RestoreCursor(hcurPrev);
                                   });
}
