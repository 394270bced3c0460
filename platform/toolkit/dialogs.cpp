// Dialogs of the dialog library: shown, answered (by the user, or from the answers file of an
// unattended run) and kept on the stack of dialogs that are up until setup removes them.
#include "toolkit/core.h"

#include <toolkit.h>

namespace {

// The word the dialog reports: the next unused word of an unattended run, else the default
// button; asked on the screen otherwise, where no answer at all means the cancel button.
std::string ChooseEvent(const qvxcui::DialogTemplate& dialog) {
    toolkit::State& state = toolkit::Core();
    if (state.unattended) {
        std::string word = dialog.buttons[dialog.defaultButton].event;
        auto found = state.answers.find(dialog.id);
        if (found != state.answers.end() && !found->second.empty()) {
            word = std::move(found->second.front());
            found->second.erase(found->second.begin());
        }
        toolkit::CurrentUi().ShowAnswered(dialog, word);
        return word;
    }
    std::optional<size_t> pressed = toolkit::CurrentUi().AskDialog(dialog);
    size_t index = pressed && *pressed < dialog.buttons.size() ? *pressed : dialog.cancelButton;
    return dialog.buttons[index].event;
}

} // namespace

BOOL WINAPI FDoDialogExt(HWND, LPCSTR szDll, UINT idDlg, LPCSTR szDlgProc, LPCSTR, LPARAM, LPARAM) {
    std::string_view procName = szDlgProc ? szDlgProc : "";
    if (winemu::Current().Fault().Check("FDoDialogExt", {std::to_string(idDlg), procName})) {
        return FALSE;
    }
    const qvxcui::DialogTemplate* dialog = qvxcui::FindDialog(idDlg);
    qvxcui::DialogProc proc = qvxcui::FindProcedure(procName);
    if (!szDll || !winemu::NameEquals(szDll, qvxcui::kLibraryName) || !dialog || !proc ||
        procName != dialog->procedure) {
        return FALSE;
    }
    // A modal dialog without buttons could never be left; the table has none, but stay safe.
    if (!dialog->modeless && dialog->buttons.empty()) {
        return FALSE;
    }

    toolkit::State& state = toolkit::Core();
    state.dialogs.push_back({idDlg, std::string(procName)});
    winemu::OnDialogShown(idDlg);

    BOOL ok = FALSE;
    if (dialog->modeless) {
        toolkit::CurrentUi().ShowModeless(*dialog);
        ok = proc(idDlg, "");
    } else {
        std::string word = ChooseEvent(*dialog);
        ok = proc(idDlg, word.c_str());
    }

    auto& event = state.symbols["DLGEVENT"];
    toolkit::ReportArray("dialogs").push_back(
        {{"id", idDlg},
         {"procedure", toolkit::ReportText(procName)},
         {"event", toolkit::ReportText(ok ? event : std::string())}});
    return ok;
}

// n dialogs from the last shown backwards; a negative n removes all of them. Removing more
// dialogs than are up removes those there are.
BOOL WINAPI FKillNDialogs(INT n) {
    if (winemu::Current().Fault().Check("FKillNDialogs", {std::to_string(n)})) {
        return FALSE;
    }
    auto& dialogs = toolkit::Core().dialogs;
    if (n < 0 || static_cast<size_t>(n) >= dialogs.size()) {
        dialogs.clear();
    } else {
        dialogs.resize(dialogs.size() - static_cast<size_t>(n));
    }
    return TRUE;
}
