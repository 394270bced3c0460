// Dialogs of the dialog library: shown, answered (by the user, or from the answers file of an
// unattended run) and kept on the stack of dialogs that are up until setup removes them.
#include "toolkit/core.h"

#include <toolkit.h>

namespace {

// The word of an unattended run for this showing: the next unused one, else the default button
// (line 0).
toolkit::Answer UnattendedAnswer(const qvxcui::DialogTemplate& dialog) {
    toolkit::State& state = toolkit::Core();
    toolkit::Answer answer{dialog.buttons[dialog.defaultButton].event, 0};
    auto found = state.answers.find(dialog.id);
    if (found != state.answers.end() && !found->second.empty()) {
        answer = std::move(found->second.front());
        found->second.erase(found->second.begin());
    }
    return answer;
}

bool CarriedByButton(const qvxcui::DialogTemplate& dialog, std::string_view word) {
    for (const qvxcui::Button& button : dialog.buttons) {
        if (word == button.event) {
            return true;
        }
    }
    return false;
}

// The event code setup reads from a word: its first two bytes, each taken as signed.
int EventCode(std::string_view word) {
    int code = word.empty() ? 0 : static_cast<signed char>(word[0]);
    return code == 0 || word.size() < 2 ? code : code + static_cast<signed char>(word[1]);
}

// What a dialog's end tells of the run's outcome.
void Judge(UINT id, std::string_view event) {
    if (id == IDD_FATAL || id == IDD_NOT_REGISTERED || id == IDD_DEVICES) {
        toolkit::Fail(SETUP_EXIT_FAILED);
    } else if (id == IDD_QUIT && EventCode(event) == EventCode(qvxcui::kEventExit)) {
        toolkit::Cancelled();
    }
}

} // namespace

BOOL WINAPI FDoDialogExt(HWND hwndParent, LPCSTR szDll, UINT idDlg, LPCSTR szDlgProc,
                         LPCSTR szHelpDll, LPARAM lParam1, LPARAM lParam2) TOOLKIT_TRY {
    toolkit::CallScope call("FDoDialogExt",
                            {toolkit::WindowArg(hwndParent), toolkit::Text(szDll),
                             static_cast<long long>(idDlg), toolkit::Text(szDlgProc),
                             toolkit::Text(szHelpDll), static_cast<long long>(lParam1),
                             static_cast<long long>(lParam2)});
    std::string_view procName = szDlgProc ? szDlgProc : "";
    toolkit::Recorder& recorder = toolkit::CurrentRecorder();
    if (recorder.Fails("FDoDialogExt", {std::to_string(idDlg), procName})) {
        return FALSE;
    }
    const qvxcui::DialogTemplate* dialog = qvxcui::FindDialog(idDlg);
    if (!szDll || !toolkit::NameEquals(szDll, qvxcui::kLibraryName) || !dialog ||
        !qvxcui::FindProcedure(procName) || procName != dialog->procedure) {
        return FALSE;
    }
    // A modal dialog without buttons could never be left; the table has none, but stay safe.
    if (!dialog->modeless && dialog->buttons.empty()) {
        return FALSE;
    }

    toolkit::State& state = toolkit::Core();
    // Answers that fit no dialog stop the run at its first dialog, through setup's failure path.
    if (!state.answersMisfit.empty() && idDlg != IDD_FATAL) {
        toolkit::Log(state.answersMisfit);
        state.answersMisfit.clear();
        toolkit::Fail(SETUP_EXIT_FAILED);
        return FALSE;
    }
    state.dialogs.push_back({idDlg, std::string(procName), nullptr});
    recorder.DialogShowing(idDlg);

    toolkit::Ui& ui = toolkit::CurrentUi();
    BOOL ok = FALSE;
    if (dialog->modeless) {
        ok = ui.OpenModeless(*dialog, state.dialogs.back().window);
    } else if (state.unattended) {
        toolkit::Answer answer = UnattendedAnswer(*dialog);
        std::string where =
            answer.line ? "answers line " + std::to_string(answer.line) : "default button";
        // Without the Windows directory the files would land wherever the drive's root is: an
        // unattended run does not guess it. It leaves, and the quit is confirmed, whatever the
        // answers say, so that setup's own loop ends the run before anything is copied.
        if (idDlg == IDD_WINDOWS_DIR && !state.windowsDirUnusable) {
            state.windowsDirUnusable = true;
            toolkit::Log("the Windows directory cannot be used, and an unattended run does not "
                         "guess one");
            toolkit::Fail(SETUP_EXIT_FAILED);
        }
        if (state.windowsDirUnusable && (idDlg == IDD_WINDOWS_DIR || idDlg == IDD_QUIT)) {
            answer = {qvxcui::kEventExit, 0};
            where = "the Windows directory cannot be used";
        }
        ok = ui.RunModal(*dialog, &answer.word);
        if (!ok) {
            toolkit::Log("dialog " + std::to_string(idDlg) + " refused \"" + answer.word + "\" (" +
                         where + ")");
            toolkit::Fail(SETUP_EXIT_FAILED);
        } else {
            toolkit::Log(
                "dialog " + std::to_string(idDlg) + " answered \"" + answer.word + "\" (" + where +
                (CarriedByButton(*dialog, answer.word) ? "" : "; no button carries it") + ")");
        }
    } else {
        ok = ui.RunModal(*dialog, nullptr);
    }
    if (dialog->modeless) {
        toolkit::Log("dialog " + std::to_string(idDlg) + (ok ? " shown" : " could not be shown"));
    }

    std::string event = ok ? state.symbols["DLGEVENT"] : std::string();
    Judge(idDlg, event);
    recorder.DialogDone(idDlg, procName, event);
    return ok;
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<BOOL>("FDoDialogExt", error, FALSE);
}

// n dialogs from the last shown backwards; a negative n removes all of them. Removing more
// dialogs than are up removes those there are.
BOOL WINAPI FKillNDialogs(INT n) TOOLKIT_TRY {
    toolkit::CallScope call("FKillNDialogs", {static_cast<long long>(n)});
    if (toolkit::CurrentRecorder().Fails("FKillNDialogs", {std::to_string(n)})) {
        return FALSE;
    }
    auto& dialogs = toolkit::Core().dialogs;
    size_t keep = 0;
    if (n >= 0 && static_cast<size_t>(n) < dialogs.size()) {
        keep = dialogs.size() - static_cast<size_t>(n);
    }
    toolkit::Ui& ui = toolkit::CurrentUi();
    while (dialogs.size() > keep) {
        if (dialogs.back().window) {
            ui.CloseModeless(dialogs.back().window);
        }
        dialogs.pop_back();
    }
    return TRUE;
}
TOOLKIT_CATCH(const std::exception& error) {
    return toolkit::CallFailed<BOOL>("FKillNDialogs", error, FALSE);
}
