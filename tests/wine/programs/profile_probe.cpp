// Asks the real profile functions how they read a section, so that the emulated machine's answer
// can be held against Windows' (Wine's). Reads PATH's section SECTION with
// GetPrivateProfileSectionA and writes the returned characters to standard output, each zero as
// "\0", then the count it returned on a line of its own.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: profile_probe PATH SECTION\n");
        return 2;
    }
    char rgchSection[4096];
    DWORD cch = GetPrivateProfileSectionA(argv[2], rgchSection, sizeof(rgchSection), argv[1]);
    // Two zeros end the list; print through the second of them.
    for (DWORD ich = 0; ich < cch + 1 && ich < sizeof(rgchSection); ++ich) {
        if (rgchSection[ich] == '\0')
            std::fputs("\\0", stdout);
        else
            std::fputc(rgchSection[ich], stdout);
    }
    std::printf("\n%lu\n", static_cast<unsigned long>(cch));
    return 0;
}
