// KERNEL32 string calls and USER32's wsprintfA, on zero-terminated strings of the machine's ANSI
// code page.
#include "winemu/machine/dbcs.h"
#include "winemu/machine.h"

#include <algorithm>
#include <cstdarg>
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

// wsprintfA's output limit: 1024 characters with the terminator.
constexpr size_t kFormatLimit = 1024;

struct Conversion {
    bool left = false;
    bool prefix = false;
    bool zero = false;
    size_t width = 0;
    size_t precision = 0;
    bool hasPrecision = false;
    char size = 0; // 'l', 'h' or none
    char type = 0;
};

// Parses "[-][#][0][width][.precision][l|h]type" after the '%'; returns the characters read.
size_t ParseConversion(const char* p, Conversion& conv) {
    const char* start = p;
    if (*p == '-') {
        conv.left = true;
        ++p;
    }
    if (*p == '#') {
        conv.prefix = true;
        ++p;
    }
    if (*p == '0') {
        conv.zero = true;
        ++p;
    }
    while (*p >= '0' && *p <= '9') {
        conv.width = std::min(conv.width * 10 + static_cast<size_t>(*p - '0'), kFormatLimit);
        ++p;
    }
    if (*p == '.') {
        conv.hasPrecision = true;
        ++p;
        while (*p >= '0' && *p <= '9') {
            conv.precision =
                std::min(conv.precision * 10 + static_cast<size_t>(*p - '0'), kFormatLimit);
            ++p;
        }
    }
    if (*p == 'l' || *p == 'h')
        conv.size = *p++;
    conv.type = *p;
    return static_cast<size_t>(p - start);
}

void Pad(std::string& out, size_t count, char c) {
    out.append(count, c);
}

// One number: the sign, then zeros up to the precision (or the width with '0'), then digits;
// '#' puts "0x" before hexadecimal digits.
void FormatNumber(std::string& out, const Conversion& conv, int raw) {
    std::string digits;
    bool negative = false;
    unsigned value = static_cast<unsigned>(raw);
    if (conv.size == 'h')
        value = conv.type == 'd' || conv.type == 'i'
                    ? static_cast<unsigned>(static_cast<int>(static_cast<short>(value)))
                    : static_cast<unsigned short>(value);
    if ((conv.type == 'd' || conv.type == 'i') && static_cast<int>(value) < 0) {
        negative = true;
        value = 0u - value;
    }
    unsigned base = (conv.type == 'x' || conv.type == 'X') ? 16 : 10;
    const char* symbols = conv.type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits.insert(digits.begin(), symbols[value % base]);
        value /= base;
    } while (value != 0);

    size_t length = digits.size() + (negative ? 1 : 0);
    size_t precision = std::max(conv.precision, length);
    bool zeroPad = conv.zero && !conv.left;
    if (zeroPad && conv.width > precision)
        precision = conv.width;
    // As Windows pads it, the width does not count the "0x".
    std::string prefix = (conv.prefix && base == 16) ? (conv.type == 'X' ? "0X" : "0x") : "";
    size_t shown = precision;
    if (!conv.left && conv.width > shown)
        Pad(out, conv.width - shown, ' ');
    out += prefix;
    if (negative)
        out += '-';
    Pad(out, precision - length, '0');
    out += digits;
    if (conv.left && conv.width > shown)
        Pad(out, conv.width - shown, ' ');
}

void FormatText(std::string& out, const Conversion& conv, std::string_view text) {
    if (!conv.left && conv.width > text.size())
        Pad(out, conv.width - text.size(), ' ');
    out += text;
    if (conv.left && conv.width > text.size())
        Pad(out, conv.width - text.size(), ' ');
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

INT WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    if (!lpOut || !lpFmt)
        return 0;
    std::string out;
    va_list args;
    va_start(args, lpFmt);
    for (const char* p = lpFmt; *p != '\0' && out.size() < kFormatLimit; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == '%') {
            out += '%';
            continue;
        }
        Conversion conv;
        p += ParseConversion(p, conv);
        switch (conv.type) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
            FormatNumber(out, conv, va_arg(args, int));
            break;
        case 'c': {
            char c = static_cast<char>(va_arg(args, int));
            FormatText(out, conv, std::string_view(&c, 1));
            break;
        }
        case 's': {
            const char* text = va_arg(args, const char*);
            if (!text)
                text = "(null)";
            size_t length = 0;
            while ((!conv.hasPrecision || length < conv.precision) && text[length] != '\0')
                ++length;
            FormatText(out, conv, std::string_view(text, std::min(length, kFormatLimit)));
            break;
        }
        case '\0':
            --p; // a '%' at the end of the format: nothing to print
            break;
        default:
            out += conv.type; // an unknown type prints as itself
            break;
        }
    }
    va_end(args);
    size_t count = std::min(out.size(), kFormatLimit - 1);
    std::memcpy(lpOut, out.data(), count);
    lpOut[count] = '\0';
    return static_cast<INT>(count);
}
