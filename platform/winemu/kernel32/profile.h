// The profile functions' reading of a number, shared with the other readers of INI-style text on
// the emulated machine (the driver descriptions), so that both read a value alike.
#pragma once

#include <windows.h>

#include <string_view>

namespace winemu {

// As GetPrivateProfileIntA reads a value's text: leading blanks, a sign, "0x", "0o" or "0b" to
// choose the base (else decimal), digits up to the first that is not one; modulo 2^32.
UINT ProfileNumber(std::string_view text);

} // namespace winemu
