// The Windows builds' screen: the setup frame with the dialog library's bitmap, dialogs created
// from the library's resources with its own procedures, the billboard's progress bar, message
// boxes, the wait cursor, and program groups made by Program Manager over DDE. Everything runs
// on setup's one thread; setup's message pump dispatches the frame's and the dialogs' messages.
#include "qvxcui/resource.h"
#include "toolkit/core.h"
#include "toolkit/win32/unseen.h"

#include <commctrl.h>
#include <ddeml.h>

namespace toolkit {
namespace {

constexpr const char* kFrameClass = "QvxSetupFrame";
constexpr DWORD kDdeTimeoutMs = 30000;

// The frame keeps what the window procedure needs: its bitmap and an unattended answer waiting
// for the dialog that is coming up.
HBITMAP g_bitmap = nullptr;
const std::string* g_pendingAnswer = nullptr;
bool g_pressDefault = false; // an unattended run's message box is coming up

// Presses the button whose word is the answer; a word no button carries goes to the procedure.
void Answer(HWND dialog, const std::string& word) {
    static constexpr struct {
        int id;
        const char* word;
    } kButtons[] = {{IDC_CONTINUE, SZ_EVENT_CONTINUE},
                    {IDC_CANCEL, SZ_EVENT_CANCEL},
                    {IDC_EXIT, SZ_EVENT_EXIT},
                    {IDC_RESTART, SZ_EVENT_RESTART}};
    for (const auto& button : kButtons) {
        HWND control = GetDlgItem(dialog, button.id);
        if (control && word == button.word) {
            SendMessageA(control, BM_CLICK, 0, 0);
            return;
        }
    }
    SendMessageA(dialog, QVX_ANSWER, 0, reinterpret_cast<LPARAM>(word.c_str()));
}

void PaintFrame(HWND hwnd) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    RECT area;
    GetClientRect(hwnd, &area);
    HBRUSH ground = CreateSolidBrush(RGB(0, 0, 128));
    FillRect(dc, &area, ground);
    DeleteObject(ground);
    if (g_bitmap) {
        BITMAP info;
        GetObjectA(g_bitmap, sizeof info, &info);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, g_bitmap);
        BitBlt(dc, 16, 16, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    EndPaint(hwnd, &paint);
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
        PaintFrame(hwnd);
        return 0;
    case WM_ENTERIDLE:
        // The modal dialog is up and waits for input: an unattended run answers it now.
        if (wParam == MSGF_DIALOGBOX && g_pendingAnswer) {
            const std::string* word = g_pendingAnswer;
            g_pendingAnswer = nullptr;
            Answer(reinterpret_cast<HWND>(lParam), *word);
        }
        return 0;
    case WM_CLOSE:
        // Closing the frame asks the session to end; setup leaves through its failure path.
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

// A message box sends its owner no idle message: it is answered as it becomes active, by a
// press of its default button that waits in its queue.
LRESULT CALLBACK PressDefaultHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && g_pressDefault) {
        g_pressDefault = false;
        HWND box = reinterpret_cast<HWND>(wParam);
        LRESULT id = SendMessageA(box, DM_GETDEFID, 0, 0);
        WORD button = HIWORD(id) == DC_HASDEFID ? LOWORD(id) : IDCANCEL;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
}

// One Program Manager command, e.g. "[CreateGroup(Mixer,1)]"; true when it was carried out.
bool ProgmanExecute(const std::string& command) {
    DWORD instance = 0;
    if (DdeInitializeA(&instance, DdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        return false;
    }
    bool ok = false;
    HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    HCONV conversation = service ? DdeConnect(instance, service, service, nullptr) : nullptr;
    if (conversation) {
        std::string data = command;
        HDDEDATA result = DdeClientTransaction(reinterpret_cast<LPBYTE>(data.data()),
                                               static_cast<DWORD>(data.size() + 1), conversation,
                                               nullptr, 0, XTYP_EXECUTE, kDdeTimeoutMs, nullptr);
        ok = result != nullptr;
        DdeDisconnect(conversation);
    }
    if (service) {
        DdeFreeStringHandle(instance, service);
    }
    DdeUninitialize(instance);
    return ok;
}

// An argument of a Program Manager command: quoted unless it carries quotes of its own.
std::string DdeArgument(std::string_view text) {
    if (text.find('"') != std::string_view::npos) {
        return std::string(text);
    }
    return "\"" + std::string(text) + "\"";
}

class WindowScreen : public Ui {
  public:
    void RunBegun() override { WatchDialogs(); }

    HWND OpenFrame() override {
        instance_ = GetModuleHandleA(nullptr);
        // The first COMCTL32 of Windows NT 4.0 has no InitCommonControlsEx; this call
        // registers the progress bar there and everywhere since.
        InitCommonControls();
        WNDCLASSA frameClass{};
        frameClass.lpfnWndProc = FrameProc;
        frameClass.hInstance = instance_;
        frameClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        frameClass.lpszClassName = kFrameClass;
        RegisterClassA(&frameClass); // a second frame finds the class registered
        frame_ = CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance_, nullptr);
        if (frame_ && !Silent()) {
            ShowWindow(frame_, SW_SHOWNORMAL);
            UpdateWindow(frame_);
        }
        return frame_;
    }

    HINSTANCE FrameInstance() override { return instance_; }

    void CloseFrame() override {
        if (frame_) {
            DestroyWindow(frame_);
            frame_ = nullptr;
        }
        if (g_bitmap) {
            DeleteObject(g_bitmap);
            g_bitmap = nullptr;
        }
        if (library_) {
            FreeLibrary(library_);
            library_ = nullptr;
        }
    }

    bool SetBitmap(UINT idBitmap) override {
        if (!Library()) {
            return false;
        }
        HBITMAP bitmap = LoadBitmapA(library_, MAKEINTRESOURCEA(idBitmap));
        if (!bitmap) {
            return false;
        }
        if (g_bitmap) {
            DeleteObject(g_bitmap);
        }
        g_bitmap = bitmap;
        InvalidateRect(frame_, nullptr, TRUE);
        return true;
    }

    BOOL RunModal(const qvxcui::DialogTemplate& dialog, const std::string* answer) override {
        DLGPROC proc = Procedure(dialog);
        if (!proc) {
            return FALSE;
        }
        if (answer && Silent()) {
            return DialogBoxUnseen(library_, dialog.id, frame_, proc, *answer) == IDOK;
        }
        OwnDialog own;
        g_pendingAnswer = answer;
        INT_PTR result = DialogBoxParamA(library_, MAKEINTRESOURCEA(dialog.id), frame_, proc, 0);
        g_pendingAnswer = nullptr;
        return result == IDOK;
    }

    BOOL OpenModeless(const qvxcui::DialogTemplate& dialog, HWND& window) override {
        window = nullptr;
        DLGPROC proc = Procedure(dialog);
        if (!proc) {
            return FALSE;
        }
        if (Silent()) {
            window = CreateDialogUnseen(library_, dialog.id, frame_, proc);
        } else {
            OwnDialog own;
            window = CreateDialogParamA(library_, MAKEINTRESOURCEA(dialog.id), frame_, proc, 0);
        }
        if (!window) {
            return FALSE;
        }
        if (!Silent()) {
            ShowWindow(window, SW_SHOWNORMAL);
            UpdateWindow(window);
        }
        if (HWND gauge = GetDlgItem(window, IDC_GAUGE)) {
            gauge_ = gauge;
        }
        return TRUE;
    }

    void CloseModeless(HWND window) override {
        if (gauge_ && GetParent(gauge_) == window) {
            gauge_ = nullptr;
        }
        DestroyWindow(window);
    }

    void Progress(size_t done, size_t total, std::string_view) override {
        if (!gauge_) {
            return;
        }
        SendMessageA(gauge_, PBM_SETRANGE32, 0, static_cast<LPARAM>(total ? total : 1));
        SendMessageA(gauge_, PBM_SETPOS, static_cast<WPARAM>(total ? done : 1), 0);
        UpdateWindow(GetParent(gauge_));
    }

    void ShowMessageBox(std::string_view text, std::string_view caption, UINT style) override {
        if (Silent()) {
            return; // answered with its default button, as the log says
        }
        std::string body(text);
        std::string title(caption);
        // An unattended run must not wait for a person: the box is shown and its default
        // button pressed.
        HHOOK hook = nullptr;
        if (Core().unattended) {
            hook = SetWindowsHookExA(WH_CBT, PressDefaultHook, nullptr, GetCurrentThreadId());
            g_pressDefault = hook != nullptr;
        }
        ToolkitBoxComing();
        ::MessageBoxA(frame_, body.c_str(), title.c_str(), style);
        g_pressDefault = false;
        if (hook) {
            UnhookWindowsHookEx(hook);
        }
    }

    HCURSOR WaitCursor() override { return SetCursor(LoadCursorA(nullptr, IDC_WAIT)); }

    BOOL RestoreCursor(HCURSOR cursor) override {
        SetCursor(cursor);
        return TRUE;
    }

    bool MakeGroup(std::string_view group, std::string& folder) override {
        folder.clear(); // Program Manager decides where its groups live
        // A common group (flag 1), seen by every user of the machine, as on the host build.
        return ProgmanExecute("[CreateGroup(" + DdeArgument(group) + ",1)]");
    }

    bool ShowGroup(std::string_view group, std::string_view command, std::string& folder) override {
        folder.clear();
        return ProgmanExecute("[ShowGroup(" + DdeArgument(group) + "," + std::string(command) +
                              ",1)]");
    }

    bool AddItem(std::string_view, std::string_view item, std::string_view command,
                 std::string& folder, std::string& shortcut) override {
        folder.clear();
        shortcut.clear();
        // Program Manager adds the item to the group made or shown last.
        return ProgmanExecute("[AddItem(" + DdeArgument(command) + "," + DdeArgument(item) + ")]");
    }

  private:
    HMODULE Library() {
        if (!library_) {
            library_ = LoadLibraryA(std::string(qvxcui::kLibraryName).c_str());
        }
        return library_;
    }

    // The procedure the library exports under the dialog's name, as setup named it.
    DLGPROC Procedure(const qvxcui::DialogTemplate& dialog) {
        if (!Library()) {
            return nullptr;
        }
        return reinterpret_cast<DLGPROC>(
            reinterpret_cast<void*>(GetProcAddress(library_, dialog.procedure)));
    }

    HINSTANCE instance_ = nullptr;
    HWND frame_ = nullptr;
    HMODULE library_ = nullptr;
    HWND gauge_ = nullptr;
};

} // namespace

Ui& DefaultUi() {
    static WindowScreen screen;
    return screen;
}

} // namespace toolkit
