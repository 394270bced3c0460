// KERNEL32 string calls on zero-terminated strings of the machine's ANSI code page.
#include "winemu/machine/dbcs.h"
#include "winemu/machine.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Windows compares strings by sort weight, not by byte: punctuation before digits before
// letters, letters without regard to case first, then a lower-case letter before its upper
// case. Characters outside ASCII keep their code order after the letters.
struct Unit {
    unsigned weight; // the primary weight
    bool upper;      // an upper-case ASCII letter
};

Unit UnitAt(UINT codePage, std::string_view text, size_t i, size_t& bytes) {
    bytes = winemu::CharBytes(codePage, text, i);
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (bytes == 2)
        return {(3u << 16) | (static_cast<unsigned>(c) << 8) |
                    static_cast<unsigned char>(text[i + 1]),
                false};
    unsigned kind = 0;
    if (c >= 0x80)
        kind = 3;
    else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        kind = 2;
    else if (c >= '0' && c <= '9')
        kind = 1;
    return {(kind << 16) | winemu::FoldCase(c), c >= 'A' && c <= 'Z'};
}

INT Compare(LPCSTR a, LPCSTR b, bool caseMatters) {
    if (!a || !b)
        return a ? 1 : b ? -1 : 0;
    UINT codePage = winemu::Current().Config().codePage;
    std::string_view left(a);
    std::string_view right(b);
    INT caseOrder = 0; // the first difference in case alone, when nothing else differs
    size_t i = 0;
    size_t j = 0;
    while (i < left.size() && j < right.size()) {
        size_t leftBytes = 0;
        size_t rightBytes = 0;
        Unit x = UnitAt(codePage, left, i, leftBytes);
        Unit y = UnitAt(codePage, right, j, rightBytes);
        if (x.weight != y.weight)
            return x.weight < y.weight ? -1 : 1;
        if (caseOrder == 0 && x.upper != y.upper)
            caseOrder = x.upper ? 1 : -1;
        i += leftBytes;
        j += rightBytes;
    }
    if (i < left.size() || j < right.size())
        return i < left.size() ? 1 : -1;
    return caseMatters ? caseOrder : 0;
}

} // namespace

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
    if (!lpString1 || !lpString2)
        return nullptr;
    std::memmove(lpString1, lpString2, std::strlen(lpString2) + 1);
    return lpString1;
}

LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, INT iMaxLength) {
    if (!lpString1 || !lpString2)
        return nullptr;
    if (iMaxLength <= 0)
        return lpString1; // no room even for the terminator: nothing is written
    size_t count = 0;
    while (count + 1 < static_cast<size_t>(iMaxLength) && lpString2[count] != '\0')
        ++count;
    std::memmove(lpString1, lpString2, count);
    lpString1[count] = '\0';
    return lpString1;
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
    if (!lpString1 || !lpString2)
        return nullptr;
    std::memmove(lpString1 + std::strlen(lpString1), lpString2, std::strlen(lpString2) + 1);
    return lpString1;
}

INT WINAPI lstrlenA(LPCSTR lpString) {
    return lpString ? static_cast<INT>(std::strlen(lpString)) : 0;
}

INT WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
    return Compare(lpString1, lpString2, true);
}

INT WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    return Compare(lpString1, lpString2, false);
}
