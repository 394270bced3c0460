// Unattended runs in the Windows builds. A shown dialog of the library is answered when its owner,
// the frame, hears that it waits for input; in a silent run dialogs are answered before the
// dialog manager shows them. One hook on setup's thread sees every dialog as it is initialised:
// Windows NT 3.51 calls hooks only before a window procedure, so the dialog's own procedure is
// wrapped for its WM_INITDIALOG, and the dialog is looked at once it has set itself up. It logs
// setup's own message boxes and answers the device installer's "Install From Disk" prompt; a
// modal dialog that ends before its message queue first runs empty is never shown. Another hook
// presses every message box's default button. No answer carries a pointer in a message: any
// program on the desktop can post one.
#include "toolkit/win32/unattended.h"

#include "qvxcui/resource.h"
#include "toolkit/answers.h"
#include "qvxcui/host/dialog_table.h"

namespace toolkit {
namespace {

HHOOK g_hook = nullptr;
const std::string* g_word = nullptr;     // the answer for the dialog coming up, unseen
const std::string* g_idleWord = nullptr; // the answer for the shown dialog, once it waits
bool g_toolkitBox = false;               // the next message box is the toolkit's, logged already
int g_ownDialogs = 0;                    // the toolkit is creating a dialog of the library
HHOOK g_boxHook = nullptr;               // presses every message box's default button
HMODULE g_library = nullptr;             // qvxcui.dll, whose dialogs are answered with words

constexpr const char* kAnswered = "QvxAnswered";             // a message box, pressed once
constexpr const char* kPromptAnswered = "QvxPromptAnswered"; // the prompt, given its folder
constexpr const char* kOwnProcedure = "QvxOwnProcedure"; // while the dialog's WM_INITDIALOG runs

// The button of the dialog that carries the word, or null when it has none.
HWND ButtonCarrying(HWND dialog, const std::string& word, int& id) {
    for (const qvxcui::ButtonWord& button : qvxcui::kButtonWords) {
        HWND control = GetDlgItem(dialog, static_cast<int>(button.idControl));
        if (control && word == button.event) {
            id = static_cast<int>(button.idControl);
            return control;
        }
    }
    return nullptr;
}

// The button that carries the word is pressed by its WM_COMMAND, which needs no active window
// (NT 3.51 has no BM_CLICK). A word no button carries waits in the symbol the procedure reads
// (QVX_ANSWER_SYMBOL) and the message only says so. Posted, it is the first message the dialog's
// own loop finds.
void GiveAnswer(HWND dialog, const std::string& word, bool post) {
    int id = 0;
    UINT msg = QVX_ANSWER;
    WPARAM wParam = GetCurrentThreadId();
    LPARAM lParam = 0;
    if (HWND control = ButtonCarrying(dialog, word, id)) {
        msg = WM_COMMAND;
        wParam = MAKEWPARAM(id, BN_CLICKED);
        lParam = reinterpret_cast<LPARAM>(control);
    } else {
        Core().symbols[QVX_ANSWER_SYMBOL] = word;
    }
    if (post) {
        PostMessageA(dialog, msg, wParam, lParam);
    } else {
        SendMessageA(dialog, msg, wParam, lParam);
    }
}

// The field of the device installer's prompt that takes a folder (an edit field, or the combo
// box that holds one); null for every other dialog.
HWND FolderField(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = "";
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Edit") == 0 || lstrcmpiA(className, "ComboBox") == 0) {
            return child;
        }
    }
    return nullptr;
}

bool IsOwnedByAnsweredPrompt(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    return owner && GetPropA(owner, kPromptAnswered);
}

// A message box of this thread comes up: its default button is pressed by a message that waits
// in its queue. The library's dialogs are answered with their words instead, and the device
// installer's prompt with its folder, never with the folder it suggests.
LRESULT CALLBACK MessageBoxHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_DESTROYWND) {
        RemovePropA(reinterpret_cast<HWND>(wParam), kAnswered);
        RemovePropA(reinterpret_cast<HWND>(wParam), kPromptAnswered);
    } else if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[16] = "";
        GetClassNameA(box, className, sizeof className);
        HINSTANCE owner = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(box, GWLP_HINSTANCE));
        if (FolderField(box) && GetPropA(box, kPromptAnswered)) {
            // The prompt given its folder is up again: asked once, it is cancelled now.
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        } else if (lstrcmpA(className, "#32770") == 0 && (!g_library || owner != g_library) &&
                   !FolderField(box) && !GetPropA(box, kAnswered)) {
            SetPropA(box, kAnswered, box); // once, however often it is activated
            LRESULT id = SendMessageA(box, DM_GETDEFID, 0, 0);
            WORD button = HIWORD(id) == DC_HASDEFID ? LOWORD(id) : IDCANCEL;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(g_boxHook, code, wParam, lParam);
}

BOOL CALLBACK CollectText(HWND child, LPARAM lParam) {
    char className[16];
    char text[1024];
    if (GetClassNameA(child, className, sizeof className) && lstrcmpiA(className, "Static") == 0 &&
        GetWindowTextA(child, text, sizeof text) > 0) {
        std::string& all = *reinterpret_cast<std::string*>(lParam);
        all += all.empty() ? "" : " ";
        all += text;
    }
    return TRUE;
}

// The default button of a message box.
int DefaultButton(HWND box) {
    LRESULT defId = SendMessageA(box, DM_GETDEFID, 0, 0);
    return HIWORD(defId) == DC_HASDEFID ? LOWORD(defId) : GetDlgItem(box, IDOK) ? IDOK : IDCANCEL;
}

// In a silent run a message box is taken away before it is shown. The system's box template is
// visible: it would be shown even if it ended now. Gone before it is shown, it answers nothing,
// and setup reads no answer of its boxes.
void TakeAwayUnseen(HWND box) {
    if (Silent()) {
        EndDialog(box, DefaultButton(box));
        DestroyWindow(box);
    }
}

// A message box of setup's own: logged with its default button.
void SeenBox(HWND box) {
    char caption[256] = "";
    GetWindowTextA(box, caption, sizeof caption);
    std::string text;
    EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));
    // The style is not to be had from the box; what the log needs is its default answer.
    UINT style = DefaultButton(box) == IDCANCEL ? MB_OKCANCEL | MB_DEFBUTTON2 : MB_OK;
    LogMessageBox(text, caption, style);
    TakeAwayUnseen(box);
}

// The device installer's "Install From Disk" prompt: the folder of the run's next word for it is
// typed into its field and OK pressed; CANCEL cancels it; no word leaves the folder it suggests.
// The prompt stays unseen, since the press waits in its queue.
void AnswerPrompt(HWND prompt, HWND field) {
    std::string word = TakePromptAnswer(kInstallFromDiskAnswerId);
    SetPropA(prompt, kPromptAnswered, prompt);
    if (NameEquals(word, "CANCEL")) {
        PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
    }
    if (!word.empty()) {
        SetWindowTextA(field, word.c_str());
    }
    PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// What a dialog of setup's thread is, once it has set itself up.
void Initialised(HWND dialog) {
    if (g_word) {
        const std::string* word = g_word;
        g_word = nullptr;
        GiveAnswer(dialog, *word, true);
        return;
    }
    if (g_toolkitBox || g_ownDialogs != 0) {
        g_toolkitBox = false; // the toolkit's box is logged already; its dialogs are answered
        return;
    }
    if (IsOwnedByAnsweredPrompt(dialog)) {
        // The device installer refused the folder it was given and says so over its prompt, which
        // would then ask again: the prompt is cancelled, and the modem is not installed.
        PostMessageA(GetWindow(dialog, GW_OWNER), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        TakeAwayUnseen(dialog);
    } else if (HWND field = FolderField(dialog)) {
        AnswerPrompt(dialog, field);
    } else {
        SeenBox(dialog);
    }
}

// The shown dialog of DialogBoxAnswered waits for input: it is answered now.
void AnswerIdleDialog(HWND dialog) {
    if (const std::string* word = g_idleWord) {
        g_idleWord = nullptr;
        GiveAnswer(dialog, *word, false);
    }
}

// The dialog's own procedure, in place again for good, answers WM_INITDIALOG; then the dialog is
// looked at.
INT_PTR CALLBACK AfterInitDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto own = reinterpret_cast<WNDPROC>(GetPropA(dialog, kOwnProcedure));
    RemovePropA(dialog, kOwnProcedure);
    if (!own) {
        return FALSE;
    }
    SetWindowLongPtrA(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(own));
    INT_PTR result = CallWindowProcA(own, dialog, msg, wParam, lParam);
    if (msg == WM_INITDIALOG && IsWindow(dialog)) {
        Initialised(dialog);
    }
    return result;
}

LRESULT CALLBACK InitDialogHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_ENTERIDLE &&
        message->wParam == MSGF_DIALOGBOX && message->hwnd == Core().hwndFrame) {
        // The modal dialog over the frame is up and waits for input: it is answered now.
        AnswerIdleDialog(reinterpret_cast<HWND>(message->lParam));
    } else if (code == HC_ACTION && message->message == WM_INITDIALOG) {
        LONG_PTR own = GetWindowLongPtrA(message->hwnd, DWLP_DLGPROC);
        if (own && SetPropA(message->hwnd, kOwnProcedure, reinterpret_cast<HANDLE>(own))) {
            SetWindowLongPtrA(message->hwnd, DWLP_DLGPROC,
                              reinterpret_cast<LONG_PTR>(AfterInitDialog));
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

// A copy of the library's dialog template without WS_VISIBLE: created, but not shown.
std::vector<BYTE> HiddenTemplate(HMODULE library, UINT id) {
    HRSRC resource = FindResourceA(library, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)); // RT_DIALOG
    HGLOBAL loaded = resource ? LoadResource(library, resource) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD size = resource ? SizeofResource(library, resource) : 0;
    if (!data || size < 16) {
        return {};
    }
    std::vector<BYTE> copy(data, data + size);
    // DLGTEMPLATEEX starts with version 1 and 0xFFFF, and keeps its style at byte 12.
    bool extended = copy[0] == 1 && copy[1] == 0 && copy[2] == 0xFF && copy[3] == 0xFF;
    DWORD* style = reinterpret_cast<DWORD*>(copy.data() + (extended ? 12 : 0));
    *style &= ~static_cast<DWORD>(WS_VISIBLE);
    return copy;
}

} // namespace

bool WatchDialogs() {
    if (!g_hook && Unattended()) {
        g_hook = SetWindowsHookExA(WH_CALLWNDPROC, InitDialogHook, nullptr, GetCurrentThreadId());
        return g_hook != nullptr;
    }
    return true;
}

void ToolkitBoxComing() {
    g_toolkitBox = g_hook != nullptr;
}

bool AnswerMessageBoxes() {
    // Nobody is at the screen to answer the system's own boxes (no disk in the drive, a
    // write-protected disk): the call that would raise one fails instead.
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (!g_boxHook) {
        g_boxHook = SetWindowsHookExA(WH_CBT, MessageBoxHook, nullptr, GetCurrentThreadId());
    }
    return g_boxHook != nullptr;
}

void SetDialogLibrary(HMODULE library) {
    g_library = library;
}

OwnDialog::OwnDialog() {
    ++g_ownDialogs;
}

OwnDialog::~OwnDialog() {
    --g_ownDialogs;
}

INT_PTR DialogBoxAnswered(HMODULE library, UINT id, HWND owner, DLGPROC proc,
                          const std::string* answer) {
    OwnDialog own;
    g_idleWord = answer;
    INT_PTR result = DialogBoxParamA(library, MAKEINTRESOURCEA(id), owner, proc, 0);
    g_idleWord = nullptr;
    Core().symbols.erase(QVX_ANSWER_SYMBOL); // a word no procedure took is no answer later
    return result;
}

INT_PTR DialogBoxUnseen(HMODULE library, UINT id, HWND owner, DLGPROC proc,
                        const std::string& word) {
    g_word = &word;
    INT_PTR result = DialogBoxParamA(library, MAKEINTRESOURCEA(id), owner, proc, 0);
    g_word = nullptr;
    Core().symbols.erase(QVX_ANSWER_SYMBOL);
    return result;
}

HWND CreateDialogUnseen(HMODULE library, UINT id, HWND owner, DLGPROC proc) {
    std::vector<BYTE> hidden = HiddenTemplate(library, id);
    if (hidden.empty()) {
        return nullptr;
    }
    OwnDialog own;
    return CreateDialogIndirectParamA(library, reinterpret_cast<LPCDLGTEMPLATEA>(hidden.data()),
                                      owner, proc, 0);
}

} // namespace toolkit
