// Unattended runs in the Windows builds: the library's dialogs answered with the run's words (as
// soon as a dialog waits for input, or unseen in a silent run), setup's own message boxes written
// to the log, and every message box answered with its default button.
#pragma once

#include "toolkit/core.h"

namespace toolkit {

// From the start of an unattended run to the end of the process: every dialog that comes up is
// seen as it is initialised. A message box that is not the toolkit's is logged, and in a silent
// run answered with its default button before it is shown. False when the watch cannot be set.
bool WatchDialogs();
// The toolkit's own message box comes next: it is logged already.
void ToolkitBoxComing();
// From now on every message box of setup's thread is answered with its default button; the
// dialogs of the library named by SetDialogLibrary are answered with their words instead, and
// the system raises no box of its own. False when the boxes cannot be answered.
bool AnswerMessageBoxes();
// The dialog library loaded (or null once it is freed).
void SetDialogLibrary(HMODULE library);

// For as long as it lives the toolkit is bringing up a dialog of the library, not a message box.
class OwnDialog {
  public:
    OwnDialog();
    ~OwnDialog();
    OwnDialog(const OwnDialog&) = delete;
    OwnDialog& operator=(const OwnDialog&) = delete;
};

// A modal dialog of the library, shown; given an answer, it is answered with it as soon as it
// waits for input (the dialog manager tells the frame so, with WM_ENTERIDLE, which the watch of
// WatchDialogs sees on its way).
INT_PTR DialogBoxAnswered(HMODULE library, UINT id, HWND owner, DLGPROC proc,
                          const std::string* answer);
// A modal dialog of the library answered with word before it is ever shown.
INT_PTR DialogBoxUnseen(HMODULE library, UINT id, HWND owner, DLGPROC proc,
                        const std::string& word);
// A modeless dialog of the library created hidden; null when it cannot be.
HWND CreateDialogUnseen(HMODULE library, UINT id, HWND owner, DLGPROC proc);

} // namespace toolkit
