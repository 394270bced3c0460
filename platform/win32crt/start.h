// What the entry points of the Windows images share (exit_list.cpp).
#pragma once

namespace win32crt {

// The static constructors, in the order the compiler expects: the constructor table backwards.
void RunConstructors();
// The functions given to atexit, the last first, then the destructor table; afterwards the list
// is empty, so a DLL loaded again starts afresh.
void RunExitList();

} // namespace win32crt
