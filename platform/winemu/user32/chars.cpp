// USER32 character stepping and OEM-to-ANSI conversion in the machine's code page: 1252 (single
// byte, OEM code page 437) or 932 (double byte, OEM and ANSI the same).
#include "winemu/machine.h"
#include "winemu/machine/dbcs.h"

#include <cstring>
#include <string_view>

namespace {

// OEM code page 437 bytes 0x80-0xFF as code page 1252 holds them. A character that 1252 lacks
// takes Windows' nearest fit: box drawing becomes '+', '-' or a broken bar, Greek letters their
// Latin look-alikes.
constexpr unsigned char kOem437ToAnsi1252[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x50, 0x83,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0xAC, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0x2B, 0x2B, 0xA6, 0xA6, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
    0x2B, 0x2D, 0x2D, 0x2B, 0x2D, 0x2B, 0xA6, 0xA6, 0x2B, 0x2B, 0x2D, 0x2D, 0xA6, 0x2D, 0x2B, 0x2D,
    0x2D, 0x2D, 0x2D, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0xA6, 0x5F, 0xA6, 0xA6, 0xAF,
    0x61, 0xDF, 0x47, 0x70, 0x53, 0x73, 0xB5, 0x74, 0x46, 0x54, 0x4F, 0x64, 0x38, 0x66, 0x65, 0x6E,
    0x3D, 0xB1, 0x3D, 0x3D, 0x28, 0x29, 0xF7, 0x98, 0xB0, 0xB7, 0xB7, 0x76, 0x6E, 0xB2, 0xA6, 0xA0,
};

UINT CodePage() {
    return winemu::Current().Config().codePage;
}

} // namespace

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
    if (!lpsz)
        return nullptr;
    if (*lpsz == '\0')
        return const_cast<LPSTR>(lpsz); // the terminator is the end: stay there
    std::string_view rest(lpsz, lpsz[1] == '\0' ? 1 : 2);
    return const_cast<LPSTR>(lpsz + winemu::CharBytes(CodePage(), rest, 0));
}

LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
    if (!lpszStart || !lpszCurrent || lpszCurrent <= lpszStart)
        return const_cast<LPSTR>(lpszStart);
    if (CodePage() != 932)
        return const_cast<LPSTR>(lpszCurrent - 1);
    // A byte alone cannot tell a trail byte from a character (a trail byte can be '\\'), so step
    // forward from the start to the last character that begins before the current one.
    LPCSTR p = lpszStart;
    while (*p != '\0') {
        LPCSTR next = CharNextA(p);
        if (next >= lpszCurrent)
            break;
        p = next;
    }
    return const_cast<LPSTR>(p);
}

BOOL WINAPI OemToCharA(LPCSTR pSrc, LPSTR pDst) {
    if (!pSrc || !pDst)
        return FALSE;
    if (CodePage() == 932) {
        if (pSrc != pDst)
            std::memmove(pDst, pSrc, std::strlen(pSrc) + 1);
        return TRUE;
    }
    // Byte by byte from the front, so that the source and the destination may be one buffer.
    size_t i = 0;
    for (; pSrc[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(pSrc[i]);
        pDst[i] = static_cast<char>(c < 0x80 ? c : kOem437ToAnsi1252[c - 0x80]);
    }
    pDst[i] = '\0';
    return TRUE;
}
