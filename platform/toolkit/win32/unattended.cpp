// Unattended runs in the Windows builds. A shown dialog of the library is answered when its owner,
// the frame, hears that it waits for input; in a silent run dialogs are answered before the
// dialog manager shows them. One hook on setup's thread sees every dialog as it is initialised,
// and logs setup's own message boxes; a modal dialog that ends before its message queue first
// runs empty is never shown. Another presses every message box's default button.
#include "toolkit/win32/unattended.h"

#include "qvxcui/resource.h"
#include "toolkit/dialog_table.h"

namespace toolkit {
namespace {

HHOOK g_hook = nullptr;
const std::string* g_word = nullptr;     // the answer for the dialog coming up, unseen
const std::string* g_idleWord = nullptr; // the answer for the shown dialog, once it waits
bool g_toolkitBox = false;               // the next message box is the toolkit's, logged already
int g_ownDialogs = 0;                    // the toolkit is creating a dialog of the library
HHOOK g_boxHook = nullptr;               // presses every message box's default button
HMODULE g_library = nullptr;             // qvxcui.dll, whose dialogs are answered with words

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

// The press of the button that carries the word, or the word itself for the procedure; posted,
// so that it is the first message the dialog's own loop finds.
void PostAnswer(HWND dialog, const std::string& word) {
    int id = 0;
    if (HWND control = ButtonCarrying(dialog, word, id)) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(control));
        return;
    }
    PostMessageA(dialog, QVX_ANSWER, GetCurrentThreadId(), reinterpret_cast<LPARAM>(word.c_str()));
}

// Presses the button whose word is the answer; a word no button carries goes to the procedure.
void SendAnswer(HWND dialog, const std::string& word) {
    int id = 0;
    if (HWND control = ButtonCarrying(dialog, word, id)) {
        SendMessageA(control, BM_CLICK, 0, 0);
        return;
    }
    // The procedure takes the word only from this thread, which it names.
    SendMessageA(dialog, QVX_ANSWER, GetCurrentThreadId(), reinterpret_cast<LPARAM>(word.c_str()));
}

// A message box of this thread comes up: its default button is pressed by a message that waits
// in its queue. The library's dialogs are answered with their words instead.
LRESULT CALLBACK MessageBoxHook(int code, WPARAM wParam, LPARAM lParam) {
    constexpr const char* kAnswered = "QvxAnswered";
    if (code == HCBT_DESTROYWND) {
        RemovePropA(reinterpret_cast<HWND>(wParam), kAnswered);
    } else if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[16] = "";
        GetClassNameA(box, className, sizeof className);
        HINSTANCE owner = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(box, GWLP_HINSTANCE));
        if (lstrcmpA(className, "#32770") == 0 && (!g_library || owner != g_library) &&
            !GetPropA(box, kAnswered)) {
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

// A message box of setup's own: logged with its default button, and in a silent run taken away
// before it is shown.
void SeenBox(HWND box) {
    char caption[256] = "";
    GetWindowTextA(box, caption, sizeof caption);
    std::string text;
    EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));
    LRESULT defId = SendMessageA(box, DM_GETDEFID, 0, 0);
    int button = HIWORD(defId) == DC_HASDEFID ? LOWORD(defId)
                 : GetDlgItem(box, IDOK)      ? IDOK
                                              : IDCANCEL;
    // The style is not to be had from the box; what the log needs is its default answer.
    UINT style = button == IDCANCEL ? MB_OKCANCEL | MB_DEFBUTTON2 : MB_OK;
    LogMessageBox(text, caption, style);
    if (Silent()) {
        // The system's box template is visible: it would be shown even if it ended now. Gone
        // before it is shown, it answers nothing, and setup reads no answer of its boxes.
        EndDialog(box, button);
        DestroyWindow(box);
    }
}

LRESULT CALLBACK InitDialogHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_INITDIALOG) {
        if (g_word) {
            const std::string* word = g_word;
            g_word = nullptr;
            PostAnswer(message->hwnd, *word);
        } else if (g_toolkitBox) {
            g_toolkitBox = false;
        } else if (g_ownDialogs == 0) {
            SeenBox(message->hwnd);
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

void WatchDialogs() {
    if (!g_hook && Unattended()) {
        g_hook =
            SetWindowsHookExA(WH_CALLWNDPROCRET, InitDialogHook, nullptr, GetCurrentThreadId());
    }
}

void ToolkitBoxComing() {
    g_toolkitBox = g_hook != nullptr;
}

void AnswerMessageBoxes() {
    if (!g_boxHook) {
        g_boxHook = SetWindowsHookExA(WH_CBT, MessageBoxHook, nullptr, GetCurrentThreadId());
    }
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
    return result;
}

void AnswerIdleDialog(HWND dialog) {
    if (const std::string* word = g_idleWord) {
        g_idleWord = nullptr;
        SendAnswer(dialog, *word);
    }
}

INT_PTR DialogBoxUnseen(HMODULE library, UINT id, HWND owner, DLGPROC proc,
                        const std::string& word) {
    g_word = &word;
    INT_PTR result = DialogBoxParamA(library, MAKEINTRESOURCEA(id), owner, proc, 0);
    g_word = nullptr;
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
