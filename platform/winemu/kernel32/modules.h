// Loading modules as LoadLibraryA does, for the machine's own callers: OpenDriver loads a driver
// through these, so that a program's faults on LoadLibraryA and GetProcAddress do not reach it.
#pragma once

#include <windows.h>

#include <string_view>

namespace winemu {

// Loads the module a name means: a system DLL, or a driver DLL found as a file in the
// LoadLibraryA search order. Null with the error (ERROR_MOD_NOT_FOUND, ERROR_BAD_FORMAT for a
// file that is no module the machine knows, ERROR_DLL_INIT_FAILED) otherwise.
HMODULE LoadModule(std::string_view name, DWORD& error);
// An export of a loaded module by name; null when it has none.
FARPROC ModuleExport(HMODULE module, std::string_view name);
// False when the handle is no loaded module.
bool FreeModule(HMODULE module);

} // namespace winemu
