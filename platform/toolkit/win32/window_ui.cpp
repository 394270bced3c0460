// The Windows builds' screen: the setup frame with the dialog library's bitmap, dialogs created
// from the library's resources with its own procedures, the billboard's progress bar, message
// boxes, the wait cursor, and program groups made by Program Manager over DDE. Everything runs
// on setup's one thread; setup's message pump dispatches the frame's and the dialogs' messages.
// Windows calls the procedures here: no C++ exception may leave one.
#include "qvxcui/resource.h"
#include "toolkit/core.h"
#include "toolkit/win32/setup_res.h"
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
// The wait cursor is out (HShowWaitCursor, or the copy's billboard): the frame keeps it up.
UINT g_busy = 0;
// An unattended run answers every message box of setup's thread: the toolkit's and setup's own.
HHOOK g_answerHook = nullptr;
HMODULE g_library = nullptr; // qvxcui.dll, whose dialogs are answered through WM_ENTERIDLE

// The copy gauge takes 16-bit positions (PBM_SETRANGE; Windows NT 3.51 and the first NT 4.0
// have no PBM_SETRANGE32): a longer copy list is scaled to this.
constexpr size_t kGaugeMost = 0xFFFF;

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
    // The procedure takes the word only from this thread, which it names.
    SendMessageA(dialog, QVX_ANSWER, GetCurrentThreadId(), reinterpret_cast<LPARAM>(word.c_str()));
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

LRESULT FrameMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
        PaintFrame(hwnd);
        return 0;
    case WM_SETCURSOR:
        if (g_busy > 0 && LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            return TRUE;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
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

LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        return FrameMessage(hwnd, msg, wParam, lParam);
    } catch (...) {
        PostQuitMessage(0); // setup leaves through its failure path
        return 0;
    }
}

// A message box of this thread comes up: its default button is pressed by a message that waits
// in its queue. The library's dialogs are answered through the frame instead.
LRESULT CALLBACK AnswerHook(int code, WPARAM wParam, LPARAM lParam) {
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
    return CallNextHookEx(g_answerHook, code, wParam, lParam);
}

HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr; // a client only: nothing to answer, nothing that can throw
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

// The shell's windows of a program group: top-level windows of other programs titled with the
// group's name, or a path ending in it (Explorer's folder windows, Wine's too).
struct GroupWindows {
    std::string group;
    int count = 0;
};

BOOL CALLBACK CountGroupWindow(HWND hwnd, LPARAM lParam) {
    auto* windows = reinterpret_cast<GroupWindows*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    char title[MAX_PATH] = "";
    if (process != GetCurrentProcessId() && IsWindowVisible(hwnd) &&
        GetWindowTextA(hwnd, title, sizeof title) > 0) {
        std::string_view text(title);
        std::string_view group(windows->group);
        bool named = NameEquals(text, group) ||
                     (text.size() > group.size() && text[text.size() - group.size() - 1] == '\\' &&
                      NameEquals(text.substr(text.size() - group.size()), group));
        windows->count += named ? 1 : 0;
    }
    return TRUE;
}

// Explorer opens the group's folder window a moment after it has carried out the command, in
// front of setup. Setup waits for it (messages sent to its windows are still answered) and
// takes the front back, so that its next dialog is not hidden. Program Manager shows the group
// inside its own window: nothing comes, and the wait ends after a few seconds.
void TakeFrontBackFromShell(HWND frame, std::string_view group) {
    constexpr DWORD kLongestMs = 3000; // the shell is slow to start a folder window
    constexpr DWORD kSettledMs = 300;  // no further window of the group comes
    DWORD start = GetTickCount();
    DWORD lastNew = start;
    GroupWindows windows{std::string(group)};
    int seen = 0;
    while (GetTickCount() - start < kLongestMs) {
        windows.count = 0;
        EnumWindows(CountGroupWindow, reinterpret_cast<LPARAM>(&windows));
        if (windows.count > seen) {
            seen = windows.count;
            lastNew = GetTickCount();
        } else if (seen > 0 && GetTickCount() - lastNew >= kSettledMs) {
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_SENDMESSAGE);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // answers what was sent, takes nothing
    }
    SetForegroundWindow(frame);
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
        frameClass.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_SETUP));
        if (!frameClass.hIcon) {
            frameClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
        }
        frameClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        frameClass.lpszClassName = kFrameClass;
        RegisterClassA(&frameClass); // a second frame finds the class registered
        // The frame covers the work area, as setup frames do, and comes up the way the program
        // was started (minimized from a shortcut that says so).
        RECT area;
        if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) { // NT 3.51 has no work area
            SetRect(&area, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        }
        frame_ = CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPEDWINDOW, area.left, area.top,
                                 area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                 instance_, nullptr);
        if (frame_ && !Silent()) {
            STARTUPINFOA start{};
            start.cb = sizeof start;
            GetStartupInfoA(&start);
            ShowWindow(frame_,
                       (start.dwFlags & STARTF_USESHOWWINDOW) ? start.wShowWindow : SW_SHOWNORMAL);
            UpdateWindow(frame_);
        }
        return frame_;
    }

    void AnswerEveryMessageBox() override {
        if (!g_answerHook) {
            g_answerHook = SetWindowsHookExA(WH_CBT, AnswerHook, nullptr, GetCurrentThreadId());
        }
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
            g_library = nullptr;
        }
        g_busy = 0;
    }

    bool SetBitmap(UINT idBitmap) override {
        if (!Library()) {
            return false;
        }
        HBITMAP bitmap = LoadBitmapA(library_, MAKEINTRESOURCEA(idBitmap));
        if (!bitmap) {
            LibraryFault("it has no bitmap " + std::to_string(idBitmap));
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
        if (result == -1) {
            LibraryFault("it has no dialog " + std::to_string(dialog.id));
        }
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
            LibraryFault("it has no dialog " + std::to_string(dialog.id));
            return FALSE;
        }
        if (!Silent()) {
            ShowWindow(window, SW_SHOWNORMAL);
            UpdateWindow(window);
        }
        if (HWND gauge = GetDlgItem(window, IDC_GAUGE)) {
            if (!gauge_) {
                ++g_busy; // the copy runs while the gauge is up
            }
            gauge_ = gauge;
        }
        return TRUE;
    }

    void CloseModeless(HWND window) override {
        if (gauge_ && GetParent(gauge_) == window) {
            gauge_ = nullptr;
            g_busy -= g_busy > 0 ? 1 : 0;
        }
        DestroyWindow(window);
    }

    void Progress(size_t done, size_t total, std::string_view) override {
        if (!gauge_) {
            return;
        }
        // An empty list is a full gauge; a long one is scaled to the 16-bit range.
        size_t most = total == 0 ? 1 : (total < kGaugeMost ? total : kGaugeMost);
        size_t at = total == 0
                        ? 1
                        : static_cast<size_t>(static_cast<unsigned long long>(done) * most / total);
        SendMessageA(gauge_, PBM_SETRANGE, 0, MAKELPARAM(0, most));
        SendMessageA(gauge_, PBM_SETPOS, static_cast<WPARAM>(at), 0);
        UpdateWindow(GetParent(gauge_));
    }

    void ShowMessageBox(std::string_view text, std::string_view caption, UINT style) override {
        if (Silent()) {
            return; // answered with its default button, as the log says
        }
        std::string body(text);
        std::string title(caption);
        // An unattended run's hook presses the box's default button; the log has it already.
        ToolkitBoxComing();
        ::MessageBoxA(frame_, body.c_str(), title.c_str(), style);
    }

    HCURSOR WaitCursor() override {
        ++g_busy;
        return SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    }

    BOOL RestoreCursor(HCURSOR cursor) override {
        g_busy -= g_busy > 0 ? 1 : 0;
        if (g_busy == 0) {
            SetCursor(cursor);
        }
        return TRUE;
    }

    bool MakeGroup(std::string_view group, std::string& folder) override {
        folder.clear(); // Program Manager decides where its groups live
        // A common group (flag 1), seen by every user of the machine, as on the host build.
        return ProgmanExecute("[CreateGroup(" + DdeArgument(group) + ",1)]");
    }

    bool ShowGroup(std::string_view group, std::string_view command, std::string& folder) override {
        folder.clear();
        if (Silent()) {
            return true; // the group is made all the same; a silent run opens no window of it
        }
        if (!ProgmanExecute("[ShowGroup(" + DdeArgument(group) + "," + std::string(command) +
                            ",1)]")) {
            return false;
        }
        TakeFrontBackFromShell(frame_, group);
        return true;
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
            std::string name(qvxcui::kLibraryName);
            // A damaged file is reported here, not in a system box nobody answers.
            UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
            library_ = LoadLibraryA(name.c_str());
            DWORD error = GetLastError();
            SetErrorMode(mode);
            g_library = library_;
            if (!library_) {
                LibraryFault(error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND
                                 ? std::string("the file cannot be found")
                                 : "the file is damaged (error " + std::to_string(error) + ")");
            }
        }
        return library_;
    }

    // The procedure the library exports under the dialog's name, as setup named it.
    DLGPROC Procedure(const qvxcui::DialogTemplate& dialog) {
        if (!Library()) {
            return nullptr;
        }
        DLGPROC proc = reinterpret_cast<DLGPROC>(
            reinterpret_cast<void*>(GetProcAddress(library_, dialog.procedure)));
        if (!proc) {
            LibraryFault("it has no procedure " + std::string(dialog.procedure));
        }
        return proc;
    }

    // Without its dialog library setup cannot show even its error dialog: a plain message box
    // says why, once, before setup leaves through its failure path.
    void LibraryFault(const std::string& why) {
        if (libraryFaultShown_) {
            return;
        }
        libraryFaultShown_ = true;
        std::string text = "Setup cannot use its dialog library " +
                           std::string(qvxcui::kLibraryName) + ": " + why +
                           ".\n\nCopy the files of the setup disk again, then run Setup again.";
        ::MessageBoxA(frame_, text.c_str(), "Setup", MB_ICONHAND | MB_OK);
    }

    HINSTANCE instance_ = nullptr;
    HWND frame_ = nullptr;
    HMODULE library_ = nullptr;
    HWND gauge_ = nullptr;
    bool libraryFaultShown_ = false;
};

} // namespace

Ui& DefaultUi() {
    static WindowScreen screen;
    return screen;
}

} // namespace toolkit
