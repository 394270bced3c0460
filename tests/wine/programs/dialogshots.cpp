// Takes pictures of setup's dialogs for tools/screenshots (never on the install disk). Starts the
// program after "--", and for each step waits for the dialog of that id to show, copies the X
// server's frame buffer file (Xvfb -fbdir) to OUTDIR\NAME.xwd with the dialog's place on the
// screen in OUTDIR\NAME.rect, and then presses the step's button as a user would.
//   dialogshots OUTDIR FRAMEBUFFER NAME:ID:BUTTON... [-- PROGRAM ARGS...]
// BUTTON is a control id; "copy=FILE" waits until FILE is being copied and holds setup still while
// the picture is taken; "template" shows the dialog from qvxcui.dll's resources itself, for
// a dialog that no run under Wine can bring up.
#include <windows.h>

#include "../../../platform/qvxcui/resource.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const DWORD kWaitMs = 60000;

const char* SzTitle(int id) {
    switch (id) {
    case IDD_WELCOME:
        return SZ_TITLE_100;
    case IDD_QUIT:
        return SZ_TITLE_200;
    case IDD_FATAL:
        return SZ_TITLE_400;
    case IDD_DEVICES:
        return SZ_TITLE_600;
    case IDD_FINISH:
        return SZ_TITLE_700;
    case IDD_NOT_REGISTERED:
        return SZ_TITLE_900;
    case IDD_COPYING:
        return SZ_TITLE_5000;
    case IDD_WINDOWS_DIR:
        return SZ_TITLE_6400;
    default:
        return nullptr;
    }
}

HWND HwndWaitFor(const char* szTitle) {
    for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
        HWND hwnd = FindWindowA("#32770", szTitle);
        if (hwnd != nullptr && IsWindowVisible(hwnd))
            return hwnd;
        Sleep(20);
    }
    return nullptr;
}

bool FShoot(const std::string& outDir, const char* szFrameBuffer, const std::string& name,
            HWND hwnd) {
    if (name == "_") // a step that only presses its button
        return true;
    Sleep(300); // the last drawing reaches the X server
    RECT rc;
    if (!GetWindowRect(hwnd, &rc))
        return false;
    if (!CopyFileA(szFrameBuffer, (outDir + "\\" + name + ".xwd").c_str(), FALSE))
        return false;
    FILE* file = std::fopen((outDir + "\\" + name + ".rect").c_str(), "w");
    if (file == nullptr)
        return false;
    std::fprintf(file, "%ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left,
                 rc.bottom - rc.top);
    return std::fclose(file) == 0;
}

// A copy under way: the file being copied has appeared in its target folder, so the gauge shows
// the files before it. Setup does not answer messages while it copies; its thread is held still
// while the picture is taken.
HANDLE HthreadHoldDuringCopy(HWND hwnd, const std::string& target) {
    for (DWORD waited = 0; waited < kWaitMs; waited += 5) {
        if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
            HANDLE hthread =
                OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(hwnd, nullptr));
            if (hthread != nullptr)
                SuspendThread(hthread);
            return hthread;
        }
        Sleep(5);
    }
    return nullptr;
}

INT_PTR CALLBACK TemplateDlgProc(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: dialogshots OUTDIR FRAMEBUFFER NAME:ID:BUTTON... [-- "
                             "PROGRAM ARGS...]\n");
        return 2;
    }
    const std::string outDir = argv[1];
    const char* szFrameBuffer = argv[2];
    int iProgram = argc;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            iProgram = i + 1;
            break;
        }
    }
    // The pointer out of the pictures: in the corner of the screen.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
    PROCESS_INFORMATION pi = {};
    if (iProgram < argc) {
        std::string command;
        for (int i = iProgram; i < argc; ++i)
            command += std::string(i == iProgram ? "" : " ") + "\"" + argv[i] + "\"";
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &pi)) {
            std::fprintf(stderr, "dialogshots: cannot start %s\n", command.c_str());
            return 1;
        }
    }

    int result = 0;
    for (int i = 3; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        std::string step = argv[i];
        size_t first = step.find(':');
        size_t second = first == std::string::npos ? first : step.find(':', first + 1);
        if (second == std::string::npos) {
            std::fprintf(stderr, "dialogshots: %s is not NAME:ID:BUTTON\n", argv[i]);
            return 2;
        }
        const std::string name = step.substr(0, first);
        const int id = std::atoi(step.substr(first + 1, second - first - 1).c_str());
        const std::string button = step.substr(second + 1);
        const char* szTitle = SzTitle(id);
        if (szTitle == nullptr) {
            std::fprintf(stderr, "dialogshots: no dialog %d\n", id);
            return 2;
        }

        if (button == "template") {
            HMODULE hmod = LoadLibraryExA("qvxcui.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
            HWND hwnd = hmod == nullptr ? nullptr
                                        : CreateDialogParamA(hmod, MAKEINTRESOURCEA(id), nullptr,
                                                             TemplateDlgProc, 0);
            if (hwnd == nullptr) {
                std::fprintf(stderr, "dialogshots: cannot show dialog %d\n", id);
                result = 1;
                continue;
            }
            ShowWindow(hwnd, SW_SHOW);
            for (int pump = 0; pump < 20; ++pump) {
                MSG msg;
                while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageA(&msg);
                Sleep(20);
            }
            if (!FShoot(outDir, szFrameBuffer, name, hwnd))
                result = 1;
            DestroyWindow(hwnd);
            continue;
        }

        HWND hwnd = HwndWaitFor(szTitle);
        if (hwnd == nullptr) {
            std::fprintf(stderr, "dialogshots: dialog %d (%s) did not show\n", id, szTitle);
            result = 1;
            break;
        }
        if (button.rfind("copy=", 0) == 0) {
            HANDLE hthread = HthreadHoldDuringCopy(hwnd, button.substr(5));
            if (hthread == nullptr || !FShoot(outDir, szFrameBuffer, name, hwnd))
                result = 1;
            if (hthread != nullptr) {
                ResumeThread(hthread);
                CloseHandle(hthread);
            }
            continue;
        }
        if (!FShoot(outDir, szFrameBuffer, name, hwnd))
            result = 1;
        const int idButton = std::atoi(button.c_str());
        if (idButton != 0)
            PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(idButton, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(hwnd, idButton)));
        // The dialog goes before the next step looks for one of the same title.
        for (DWORD waited = 0; IsWindow(hwnd) && IsWindowVisible(hwnd) && waited < kWaitMs;
             waited += 20)
            Sleep(20);
    }

    if (pi.hProcess != nullptr) {
        if (WaitForSingleObject(pi.hProcess, kWaitMs) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "dialogshots: the program did not end\n");
            TerminateProcess(pi.hProcess, 1);
            result = 1;
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    return result;
}
