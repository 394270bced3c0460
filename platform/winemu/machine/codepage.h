// The machine's code pages beyond character stepping: the text of a file as the ANSI code page
// holds it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace winemu {

// An INI or INF file's bytes as text of the ANSI code page, as Windows NT reads such files: one
// that starts with a Unicode byte order mark (UTF-16 little- or big-endian) is converted, a
// character the code page lacks becoming '?'; a UTF-8 byte order mark is dropped; any other
// file is taken as it stands.
std::string AnsiText(UINT codePage, std::string_view bytes);

} // namespace winemu
