/* What the statically linked C++ runtime asks of its C library beyond what crtdll.dll exports.
   The product links against crtdll.dll, the C library every Windows NT since 3.1 ships, because
   msvcrt.dll came only with NT 4.0. libstdc++ refers to the POSIX names close and read, and to
   rand_s, for std::random_device, which setup never uses. */
#include <io.h>

int close(int fd) {
    return _close(fd);
}

int read(int fd, void* buffer, unsigned int count) {
    return _read(fd, buffer, count);
}

/* No system random source in crtdll.dll: the call fails with EINVAL, as rand_s does. */
static int __cdecl NoRandS(unsigned int* value) {
    (void)value;
    return 22;
}

/* libstdc++ calls rand_s through an import pointer, as if it came from a DLL. */
int(__cdecl* _imp__rand_s)(unsigned int*) = NoRandS;
