// Runs the rest of its command line as a program, waits for it to end and prints its exit code,
// all 32 bits of it, on standard output. Wine hands only the low byte of a program's exit code to
// the host, so a crash (0xC0000005) or a call into an unimplemented function (0x80000100) would
// read there as a small number or as 0.
#include <windows.h>

#include <cstdio>

int main() {
    // The command line less this program's own name, quoted or not, and the blanks after it.
    const char* pch = GetCommandLineA();
    if (*pch == '"') {
        for (++pch; *pch != '\0' && *pch != '"'; ++pch) {
        }
        if (*pch == '"')
            ++pch;
    } else {
        while (*pch != '\0' && *pch != ' ' && *pch != '\t')
            ++pch;
    }
    while (*pch == ' ' || *pch == '\t')
        ++pch;
    if (*pch == '\0') {
        std::fprintf(stderr, "usage: exitcode PROGRAM [ARGS...]\n");
        return 2;
    }

    char szCommand[32768];
    if (std::snprintf(szCommand, sizeof(szCommand), "%s", pch) >=
        static_cast<int>(sizeof(szCommand))) {
        std::fprintf(stderr, "exitcode: command line too long\n");
        return 2;
    }
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, szCommand, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        std::fprintf(stderr, "exitcode: cannot start %s (error %lu)\n", szCommand,
                     static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    DWORD dwExitCode = 0;
    BOOL fWaited = WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                   GetExitCodeProcess(pi.hProcess, &dwExitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (!fWaited) {
        std::fprintf(stderr, "exitcode: lost the program (error %lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    std::printf("%lu\n", static_cast<unsigned long>(dwExitCode));
    return 0;
}
