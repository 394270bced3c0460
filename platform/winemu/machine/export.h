// What every emulated export starts with: its call counted against the machine's [Faults], and
// when that fails it, the last error it leaves, so that each call writes only what is its own.
#pragma once

#include "winemu/machine.h"

#include <windows.h>

#include <string_view>

namespace winemu {

// The registry calls return their error and leave the last error as it was.
constexpr DWORD kLastErrorKept = 0xFFFFFFFF;

// Counts this call of api against the machine's faults, with the string arguments a [Faults]
// line matches; true when the call must fail, with error then set as the last error.
template <class... Args> bool Faulted(std::string_view api, DWORD error, const Args&... args) {
    Machine& m = Current();
    if (!m.Fault().Check(api, {std::string_view(args)...}))
        return false;
    if (error != kLastErrorKept)
        m.LastError() = error;
    return true;
}

// Sets the last error of a call that fails: `return Fail(ERROR_INVALID_HANDLE);`.
inline BOOL Fail(DWORD error) {
    Current().LastError() = error;
    return FALSE;
}

// The end of a call that says its success in the last error, as the device installer's do.
inline BOOL Succeed() {
    Current().LastError() = ERROR_SUCCESS;
    return TRUE;
}

// A string argument as a fault line matches it: a null one as the empty text.
inline std::string_view Arg(LPCSTR text) {
    return text ? std::string_view(text) : std::string_view();
}

} // namespace winemu
