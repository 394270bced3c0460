// What the C++ library does instead of throwing, in the Windows images, which are built without
// exceptions: allocation that fails and the library's own checks (a string past its largest
// size, an index out of range) end the process with a message box saying so. Setup's toolkit
// would have failed the call; a fault this deep leaves nothing worth going on with.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "runtime.h"

namespace {

// The exit code of an end that is no path of setup's: the one the C library's abort gives.
constexpr UINT kFatalExitCode = 3;

[[noreturn]] void OutOfMemory() {
    win32crt::Fatal("it has run out of memory");
}

int Format(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = win32crt::FormatV(buffer, size, format, args);
    va_end(args);
    return length;
}

} // namespace

namespace win32crt {

void Fatal(const char* what) {
    char text[512];
    if (Format(text, sizeof(text), "Setup cannot go on: %s.", what) < 0) {
        text[0] = '\0';
    }
    // System-modal with the stop icon: the one box Windows shows even short of memory.
    MessageBoxA(nullptr, text, "Setup", MB_OK | MB_ICONHAND | MB_SYSTEMMODAL);
    ExitProcess(kFatalExitCode);
}

} // namespace win32crt

// Allocation: the C library's heap; a request it cannot meet ends the process.
void* operator new(size_t size) {
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        OutOfMemory();
    }
    return block;
}

void* operator new[](size_t size) {
    return operator new(size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete[](void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, size_t) noexcept {
    std::free(block);
}

void operator delete[](void* block, size_t) noexcept {
    std::free(block);
}

namespace std {

void __throw_bad_alloc() {
    OutOfMemory();
}

void __throw_bad_array_new_length() {
    OutOfMemory();
}

void __throw_logic_error(const char* what) {
    win32crt::Fatal(what);
}

void __throw_invalid_argument(const char* what) {
    win32crt::Fatal(what);
}

void __throw_length_error(const char* what) {
    win32crt::Fatal(what);
}

void __throw_out_of_range(const char* what) {
    win32crt::Fatal(what);
}

void __throw_out_of_range_fmt(const char* format, ...) {
    char what[256];
    va_list args;
    va_start(args, format);
    if (win32crt::FormatV(what, sizeof(what), format, args) < 0) {
        what[0] = '\0';
    }
    va_end(args);
    win32crt::Fatal(what);
}

void __throw_bad_function_call() {
    win32crt::Fatal("a call through an empty function object");
}

} // namespace std

extern "C" {

void __cxa_pure_virtual() {
    win32crt::Fatal("a call of a pure virtual function");
}

void __cxa_deleted_virtual() {
    win32crt::Fatal("a call of a deleted virtual function");
}

} // extern "C"

// What the library's headers call where a check fails and nothing may be thrown.
extern "C" void abort(void) {
    win32crt::Fatal("an internal check failed");
}
