// The screen: what the user sees and answers (the terminal in the host build, windows in the
// Windows builds); a test may put another in place.
#pragma once

#include "qvxcui/host/dialog_table.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace toolkit {

// What the user sees and answers.
class Ui {
  public:
    virtual ~Ui() = default;
    // A run begins: its options are known, nothing is shown yet.
    virtual void RunBegun() {}
    // The frame: its window (never null when it came up) and the instance setup is given.
    virtual HWND OpenFrame() = 0;
    virtual HINSTANCE FrameInstance() = 0;
    // An unattended run: from now on every message box of setup's thread, the toolkit's and
    // setup's own, takes its default button.
    virtual void AnswerEveryMessageBox() {}
    virtual void CloseFrame() = 0;
    virtual bool SetBitmap(UINT idBitmap) = 0;
    // A modal dialog whose procedure puts the user's word into "DLGEVENT". answer is the word of
    // an unattended run, or null when the user answers. FALSE when it could not be shown.
    virtual BOOL RunModal(const qvxcui::DialogTemplate& dialog, const std::string* answer) = 0;
    // A modeless dialog comes up and stays until closed; window is what CloseModeless takes.
    virtual BOOL OpenModeless(const qvxcui::DialogTemplate& dialog, HWND& window) = 0;
    virtual void CloseModeless(HWND window) = 0;
    // The copy gauge: done of total files, the one just copied.
    virtual void Progress(size_t done, size_t total, std::string_view file) = 0;
    virtual void ShowMessageBox(std::string_view text, std::string_view caption, UINT style) = 0;
    virtual HCURSOR WaitCursor() = 0;
    virtual BOOL RestoreCursor(HCURSOR cursor) = 0;
    // Program groups, made where the user finds them. folder and shortcut say where, if anywhere.
    virtual bool MakeGroup(std::string_view group, std::string& folder) = 0;
    virtual bool ShowGroup(std::string_view group, std::string_view command,
                           std::string& folder) = 0;
    virtual bool AddItem(std::string_view group, std::string_view item, std::string_view command,
                         std::string& folder, std::string& shortcut) = 0;
    // The removal of what AddItem and MakeGroup made; true when it is gone (or was not there).
    virtual bool RemoveItem(std::string_view group, std::string_view item) {
        (void)group;
        (void)item;
        return false;
    }
    virtual bool RemoveGroup(std::string_view group) {
        (void)group;
        return false;
    }
};

// The build's screen, and the one in use (a test's, when it put one in place).
Ui& CurrentUi();
void SetUi(Ui* ui);
Ui& DefaultUi();

} // namespace toolkit
