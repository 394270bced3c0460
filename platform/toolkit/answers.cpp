// The answer path, in one place: the answers of an unattended run loaded from its file (on the
// toolkit's INI reader, ini.cpp, each word keeping its line), the dialogs of the dialog library
// shown and answered (by the user, or with the next word) and kept on the stack of dialogs that
// are up until setup removes them, and the rule of how the run's ending gives its exit code.
//
// An answer's way to its dialog procedure and back (its words were read at InitializeFrame:
// the answers file -> ini.cpp -> here), in the host build:
//   answers.cpp (FDoDialogExt: the word for this showing) -> host/terminal_ui.cpp (the button
//   pressed) -> qvxcui/host/dialog_table.cpp (the procedure's stand-in) -> symbols.cpp
//   ("DLGEVENT"); the calls return to FDoDialogExt, which reads the event and judges the ending
//   here, and setup reads it through CbGetSymbolValue.
// In the Windows builds:
//   answers.cpp -> win32/window_ui.cpp (the dialog created from qvxcui.dll) -> win32/unattended.cpp
//   (the button pressed, or the word left in QVX_ANSWER_SYMBOL) -> qvxcui/procedures.cpp (the
//   procedure) -> symbols.cpp ("DLGEVENT", through SNDSTF.DLL's export), and back the same way.
#include "toolkit/answers.h"

#include "toolkit/core.h"

#include <toolkit.h>

namespace toolkit {
namespace {

// "[Answers]" lines "<dialog id>=WORD,WORD,...": the words, one per showing of that dialog, each
// with its line. A line that names no dialog of the library, or a word longer than setup reads, is
// kept as the run's misfit.
void KeepAnswers(const IniSections& sections, std::string_view shownName) {
    State& state = Core();
    state.unattended = true;
    auto section = sections.find("Answers");
    if (section == sections.end()) {
        return;
    }
    for (const IniLine& entry : section->second) {
        const std::string& line = entry.text;
        size_t equals = line.find('=');
        std::string key(TrimBlanks(std::string_view(line).substr(0, equals)));
        bool numeric = !key.empty() && key.size() <= 9 &&
                       key.find_first_not_of("0123456789") == std::string::npos;
        UINT id = numeric ? static_cast<UINT>(std::stoul(key)) : 0;
        bool known = qvxcui::FindDialog(id) || id == kInstallFromDiskAnswerId;
        if (equals == std::string::npos || !numeric || !known) {
            if (state.answersMisfit.empty()) {
                state.answersMisfit = "answers file " + std::string(shownName) + " line " +
                                      std::to_string(entry.number) + ": \"" + line +
                                      "\" names no dialog of setup";
            }
            continue;
        }
        std::vector<Answer>& words = state.answers[id];
        std::string_view value = std::string_view(line).substr(equals + 1);
        while (true) {
            size_t comma = value.find(',');
            std::string word(TrimBlanks(value.substr(0, comma)));
            // Setup reads a dialog's event into a buffer of its own: a longer word could only
            // end the run at that dialog, after the steps before it have changed the machine.
            if (id != kInstallFromDiskAnswerId && word.size() >= kEventLimit &&
                state.answersMisfit.empty()) {
                state.answersMisfit = "answers file " + std::string(shownName) + " line " +
                                      std::to_string(entry.number) + ": \"" + word +
                                      "\" is longer than dialog " + std::to_string(id) +
                                      " takes (" + std::to_string(kEventLimit - 1) + " characters)";
            }
            words.push_back({std::move(word), entry.number});
            if (comma == std::string_view::npos) {
                break;
            }
            value = value.substr(comma + 1);
        }
    }
}

// The next word for this dialog, taken; "" and line 0 when none is left.
Answer TakeWord(UINT id) {
    State& state = Core();
    Answer answer{"", 0};
    auto found = state.answers.find(id);
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

// A modal dialog of an unattended run, answered with the word for this showing: the next unused
// one, else the default button's.
BOOL AnswerModal(const qvxcui::DialogTemplate& dialog) {
    State& state = Core();
    UINT idDlg = dialog.id;
    Answer answer = TakeWord(idDlg);
    if (!answer.line) {
        answer.word = dialog.buttons[dialog.defaultButton].event;
    }
    std::string where =
        answer.line ? "answers line " + std::to_string(answer.line) : "default button";
    // Without the Windows directory the files would land wherever the drive's root is: an
    // unattended run does not guess it. It leaves, and the quit is confirmed, whatever the
    // answers say, so that setup's own loop ends the run before anything is copied.
    if (idDlg == IDD_WINDOWS_DIR && !state.windowsDirUnusable) {
        state.windowsDirUnusable = true;
        Log("the Windows directory cannot be used, and an unattended run does not guess one");
        Fail(SETUP_EXIT_FAILED);
    }
    if (state.windowsDirUnusable && (idDlg == IDD_WINDOWS_DIR || idDlg == IDD_QUIT)) {
        answer = {qvxcui::kEventExit, 0};
        where = "the Windows directory cannot be used";
    }
    BOOL ok = CurrentUi().RunModal(dialog, &answer.word);
    if (!ok) {
        Log("dialog " + std::to_string(idDlg) + " refused \"" + answer.word + "\" (" + where + ")");
        Fail(SETUP_EXIT_FAILED);
    } else {
        Log("dialog " + std::to_string(idDlg) + " answered \"" + answer.word + "\" (" + where +
            (CarriedByButton(dialog, answer.word) ? "" : "; no button carries it") + ")");
    }
    return ok;
}

// THE rule of an unattended run's exit code. The first of these that holds gives it:
//   1. a failure: the first one's code. Every dialog of kDialogEndings that ends with its event
//      (any event, where the row says so) is one; so is every step that fails elsewhere (Fail,
//      with the code of its own: 1603, 1605, 1619, 1622).
//   2. the answers ended setup: the quit confirmed (EXIT at dialog 200), or the removal declined:
//      1602.
//   3. the restart decision: not asked for 0 (also: removed), Windows restarting 1641, asked for
//      but not begun 3010 (removed, Windows must be restarted); none reached: the run did not
//      finish, 1603.
// An interactive run ends with 0 on every path.
struct DialogEnding {
    UINT idDlg;
    bool anyEvent;
    int eventCode; // the event code that ends it so, unless any event does
    UINT exitCode;
};
constexpr DialogEnding kDialogEndings[] = {
    {IDD_FATAL, true, 0, SETUP_EXIT_FAILED},
    {IDD_DEVICES, true, 0, SETUP_EXIT_FAILED},
    {IDD_NOT_REGISTERED, true, 0, SETUP_EXIT_FAILED},
    {IDD_QUIT, false, EVENT_EXIT, SETUP_EXIT_CANCELLED},
};

void DialogEnded(UINT idDlg, std::string_view event) {
    for (const DialogEnding& ending : kDialogEndings) {
        if (ending.idDlg == idDlg &&
            (ending.anyEvent || qvxcui::EventCode(event) == ending.eventCode)) {
            if (ending.exitCode == SETUP_EXIT_CANCELLED) {
                Cancelled();
            } else {
                Fail(ending.exitCode);
            }
            return;
        }
    }
}

} // namespace

UINT RunExitCode(UINT failure, bool cancelled, LONG restart) {
    if (failure != 0) {
        return failure;
    }
    if (cancelled) {
        return SETUP_EXIT_CANCELLED;
    }
    if (restart == 0) {
        return SETUP_EXIT_INSTALLED;
    }
    if (restart == 2) {
        return SETUP_EXIT_RESTARTING;
    }
    return restart > 0 ? SETUP_EXIT_RESTART_NEEDED : SETUP_EXIT_FAILED;
}

void RemovalEnded(LONG result) {
    switch (result) {
    case UNDO_DONE:
    case UNDO_RESTART:
        Removed(result == UNDO_RESTART ? 1 : 0);
        break;
    case UNDO_NO_RECORD:
        Fail(SETUP_EXIT_NOT_INSTALLED);
        break;
    case UNDO_DECLINED:
        Cancelled();
        break;
    default: // refused, or failed part way
        Fail(SETUP_EXIT_FAILED);
        break;
    }
}

bool LoadAnswers(const RunOptions& options, const std::optional<Recorder::Answers>& outside,
                 std::string& shownName) {
    std::optional<IniSections> sections;
    if (options.answers) {
        shownName = *options.answers;
        std::string full = FullPath(*options.answers);
        if (!full.empty()) {
            sections = ReadIniFile(full);
        }
    } else if (outside) {
        shownName = outside->name;
        if (outside->text) {
            sections = ParseIni(*outside->text);
        }
    } else {
        return true; // the user answers
    }
    if (!sections) {
        Log("the answers file " + shownName + " cannot be read");
        Fail(SETUP_EXIT_ANSWERS_UNREADABLE);
        return false;
    }
    KeepAnswers(*sections, shownName);
    return true;
}

std::string TakePromptAnswer(UINT id) {
    return TakeWord(id).word;
}

} // namespace toolkit

BOOL WINAPI FDoDialogExt(HWND hwndParent, LPCSTR szDll, UINT idDlg, LPCSTR szDlgProc,
                         LPCSTR szHelpDll, LPARAM lParam1, LPARAM lParam2) {
    return toolkit::Exported<BOOL>(
        "FDoDialogExt",
        {toolkit::WindowArg(hwndParent), toolkit::Text(szDll), static_cast<long long>(idDlg),
         toolkit::Text(szDlgProc), toolkit::Text(szHelpDll), static_cast<long long>(lParam1),
         static_cast<long long>(lParam2)},
        FALSE, [&](const toolkit::Call& call) -> BOOL {
            std::string_view procName = szDlgProc ? szDlgProc : "";
            if (call.Fails({std::to_string(idDlg), procName})) {
                return FALSE;
            }
            const qvxcui::DialogTemplate* dialog = qvxcui::FindDialog(idDlg);
            if (!szDll || !toolkit::NameEquals(szDll, qvxcui::kLibraryName) || !dialog ||
                !qvxcui::FindProcedure(procName) || procName != dialog->procedure) {
                return FALSE;
            }
            // A modal dialog without buttons could never be left; the table has none, but stay
            // safe.
            if (!dialog->modeless && dialog->buttons.empty()) {
                return FALSE;
            }

            toolkit::State& state = toolkit::Core();
            // Answers that fit no dialog stop the run at its first dialog, through setup's
            // failure path.
            if (!state.answersMisfit.empty() && idDlg != IDD_FATAL) {
                toolkit::Log(state.answersMisfit);
                state.answersMisfit.clear();
                toolkit::Fail(SETUP_EXIT_FAILED);
                return FALSE;
            }
            state.dialogs.push_back({idDlg, std::string(procName), nullptr});
            toolkit::Recorder& recorder = toolkit::CurrentRecorder();
            recorder.DialogShowing(idDlg);

            toolkit::Ui& ui = toolkit::CurrentUi();
            BOOL ok = FALSE;
            if (dialog->modeless) {
                ok = ui.OpenModeless(*dialog, state.dialogs.back().window);
                toolkit::Log("dialog " + std::to_string(idDlg) +
                             (ok ? " shown" : " could not be shown"));
            } else if (state.unattended) {
                ok = toolkit::AnswerModal(*dialog);
            } else {
                ok = ui.RunModal(*dialog, nullptr);
            }

            std::string event = ok ? state.symbols["DLGEVENT"] : std::string();
            toolkit::DialogEnded(idDlg, event);
            recorder.DialogDone(idDlg, procName, event);
            return ok;
        });
}

// n dialogs from the last shown backwards; a negative n removes all of them. Removing more
// dialogs than are up removes those there are.
BOOL WINAPI FKillNDialogs(INT n) {
    return toolkit::Exported<BOOL>("FKillNDialogs", {static_cast<long long>(n)}, FALSE,
                                   [&](const toolkit::Call& call) {
                                       if (call.Fails({std::to_string(n)})) {
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
                                   });
}
