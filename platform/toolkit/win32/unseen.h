// Unattended runs in the Windows builds: dialogs answered unseen (/silent) and setup's own
// message boxes written to the log.
#pragma once

#include "toolkit/core.h"

namespace toolkit {

// From the start of an unattended run to the end of the process: every dialog that comes up is
// seen as it is initialised. A message box that is not the toolkit's is logged, and in a silent
// run answered with its default button before it is shown.
void WatchDialogs();
// The toolkit's own message box comes next: it is logged already.
void ToolkitBoxComing();

// For as long as it lives the toolkit is bringing up a dialog of the library, not a message box.
class OwnDialog {
  public:
    OwnDialog();
    ~OwnDialog();
    OwnDialog(const OwnDialog&) = delete;
    OwnDialog& operator=(const OwnDialog&) = delete;
};

// A modal dialog of the library answered with word before it is ever shown.
INT_PTR DialogBoxUnseen(HMODULE library, UINT id, HWND owner, DLGPROC proc,
                        const std::string& word);
// A modeless dialog of the library created hidden; null when it cannot be.
HWND CreateDialogUnseen(HMODULE library, UINT id, HWND owner, DLGPROC proc);

} // namespace toolkit
