// The arguments WinMain receives: the process's command line less the program's name.
#include "runtime.h"

namespace win32crt {

const char* CommandTail(const char* line) {
    // The name ends at the first blank outside quotes: "C:\Program Files\SETUP.EXE" /x.
    bool quoted = false;
    while (*line != '\0' && (quoted || static_cast<unsigned char>(*line) > ' ')) {
        if (*line == '"') {
            quoted = !quoted;
        }
        ++line;
    }
    while (*line != '\0' && static_cast<unsigned char>(*line) <= ' ') {
        ++line;
    }
    return line;
}

} // namespace win32crt
