// The table of the dialog library "qvxcui.dll" (platform/qvxcui): the frame bitmap, every dialog
// of setup (title, text, buttons and their words) and, for the host build, which has no DLL to
// load, stand-ins for its exported procedures that report a word through the symbol "DLGEVENT".
// The table is read from the dialog layout (qvxcui/layout.h), from which the build also generates
// the library's resource script; the window build uses its buttons' words too.
#pragma once

#include "qvxcui/button_words.h"
#include "qvxcui/resource.h"

#include <windows.h>

#include <toolkit.h>

#include <span>
#include <string_view>

namespace qvxcui {

// The library's file name, as setup names it.
inline constexpr std::string_view kLibraryName = "qvxcui.dll";

// The frame's bitmap.
inline constexpr UINT kFrameBitmap = IDB_FRAME;
bool HasBitmap(UINT idBitmap);

// Event words the setup acts on.
inline constexpr const char* kEventContinue = SZ_EVENT_CONTINUE;
inline constexpr const char* kEventCancel = SZ_EVENT_CANCEL;
inline constexpr const char* kEventExit = SZ_EVENT_EXIT;
inline constexpr const char* kEventRestart = SZ_EVENT_RESTART;

// The event code setup reads from a word: its first two bytes, each taken as signed, added; an
// empty word is 0, and nothing is read past the terminator.
constexpr int EventCode(std::string_view word) {
    int code = word.empty() ? 0 : static_cast<signed char>(word[0]);
    return code == 0 || word.size() < 2 ? code : code + static_cast<signed char>(word[1]);
}
// Each word has the code toolkit.h names for setup.
static_assert(EventCode(kEventContinue) == EVENT_CONTINUE);
static_assert(EventCode(kEventCancel) == EVENT_CANCEL);
static_assert(EventCode(kEventExit) == EVENT_EXIT);
static_assert(EventCode(kEventRestart) == EVENT_RESTART);

// Control ids of the buttons, one per event word (the same ids in the resource script).
inline constexpr UINT kIdContinue = IDC_CONTINUE;
inline constexpr UINT kIdCancel = IDC_CANCEL;
inline constexpr UINT kIdExit = IDC_EXIT;
inline constexpr UINT kIdRestart = IDC_RESTART;

struct Button {
    UINT idControl;
    const char* label;
    const char* event; // the word the procedure puts into "DLGEVENT"
};

// The host build's stand-in for an exported dialog procedure: called with the event word of the
// button the user pressed (or the word an unattended run supplies); sets "DLGEVENT" through the
// toolkit. False on failure.
using DialogProc = BOOL (*)(UINT idDlg, LPCSTR szEvent);

struct DialogTemplate {
    UINT id;
    const char* procedure; // the procedure's exported name
    bool modeless;         // returns at once and stays up until removed
    const char* title;
    const char* text;
    std::span<const Button> buttons;
    size_t defaultButton; // index into buttons: what Enter, or an unattended run, presses
    size_t cancelButton;  // index into buttons: the way out when no answer can come (end of input)
};

// The dialog with this id, or null when the library has none.
const DialogTemplate* FindDialog(UINT idDlg);
// Every dialog, in id order.
std::span<const DialogTemplate> Dialogs();
// The stand-in of the procedure exported under this name (exact, as GetProcAddress matches),
// or null.
DialogProc FindProcedure(std::string_view name);

} // namespace qvxcui
