// The profile functions' reading of a number, shared with the other readers of INI-style text on
// the emulated machine (the driver descriptions), so that both read a value alike.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace winemu {

// As GetPrivateProfileIntA reads a value's text: leading blanks, a sign, "0x", "0o" or "0b" to
// choose the base (else decimal), digits up to the first that is not one; modulo 2^32.
UINT ProfileNumber(std::string_view text);

// An INI or INF file's bytes as text of the ANSI code page, as Windows NT reads such files: one
// that starts with a Unicode byte order mark (UTF-16 little- or big-endian) is converted, a
// character the code page lacks becoming '?'; a UTF-8 byte order mark is dropped; any other
// file is taken as it stands.
std::string AnsiText(UINT codePage, std::string_view bytes);

} // namespace winemu
