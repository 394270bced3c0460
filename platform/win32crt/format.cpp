// snprintf and vsnprintf for the Windows images. mingw-w64's C++ headers send both to
// __mingw_vsnprintf, whose library version comes with a floating-point formatter built for a
// newer processor; crtdll.dll's own _vsnprintf neither terminates a cut text nor knows %zu or
// %lld. This one knows what the images format: numbers and text.
#include "runtime.h"

#include <climits>

namespace win32crt {

namespace {

// Counts every character the text would have; keeps what fits, with room left for the zero.
struct Output {
    char* buffer;
    size_t size;
    size_t length;

    void Put(char ch) {
        if (length + 1 < size) {
            buffer[length] = ch;
        }
        ++length;
    }
    void Repeat(char ch, int count) {
        for (; count > 0; --count) {
            Put(ch);
        }
    }
};

enum class Length { kInt, kChar, kShort, kLong, kLongLong, kSize, kMax, kPtrdiff };

// A count written in the format ("%08d"): digits, capped well below any overflow.
bool ReadCount(const char*& pch, int& count) {
    count = 0;
    while (*pch >= '0' && *pch <= '9') {
        if (count > 9999999) {
            return false;
        }
        count = count * 10 + (*pch++ - '0');
    }
    return true;
}

int64_t SignedArgument(Length length, va_list& args) {
    switch (length) {
    case Length::kChar:
        return static_cast<signed char>(va_arg(args, int));
    case Length::kShort:
        return static_cast<short>(va_arg(args, int));
    case Length::kLong:
        return va_arg(args, long);
    case Length::kLongLong:
        return va_arg(args, long long);
    case Length::kMax:
        return va_arg(args, intmax_t);
    case Length::kSize:
    case Length::kPtrdiff:
        return va_arg(args, ptrdiff_t);
    case Length::kInt:
        break;
    }
    return va_arg(args, int);
}

uint64_t UnsignedArgument(Length length, va_list& args) {
    switch (length) {
    case Length::kChar:
        return static_cast<unsigned char>(va_arg(args, unsigned int));
    case Length::kShort:
        return static_cast<unsigned short>(va_arg(args, unsigned int));
    case Length::kLong:
        return va_arg(args, unsigned long);
    case Length::kLongLong:
        return va_arg(args, unsigned long long);
    case Length::kMax:
        return va_arg(args, uintmax_t);
    case Length::kSize:
    case Length::kPtrdiff:
        return va_arg(args, size_t);
    case Length::kInt:
        break;
    }
    return va_arg(args, unsigned int);
}

struct Directive {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;
};

void PutNumber(Output& out, const Directive& directive, char conversion, uint64_t magnitude,
               bool negative) {
    char digits[24];
    int count = 0;
    const char* alphabet = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    unsigned base = conversion == 'o' ? 8 : (conversion == 'x' || conversion == 'X') ? 16 : 10;
    for (uint64_t rest = magnitude; rest != 0;) {
        uint64_t digit = 0;
        rest = DivideUnsigned(rest, base, &digit);
        digits[count++] = alphabet[digit];
    }
    int precision = directive.precision < 0 ? 1 : directive.precision;
    if (conversion == 'o' && directive.alternate && precision <= count) {
        precision = count + 1; // the octal form starts with a 0
    }
    int zeros = precision > count ? precision - count : 0;
    char prefix[3] = {};
    int prefixLength = 0;
    if (negative) {
        prefix[prefixLength++] = '-';
    } else if ((conversion == 'd' || conversion == 'i') && (directive.plus || directive.space)) {
        prefix[prefixLength++] = directive.plus ? '+' : ' ';
    } else if (directive.alternate && magnitude != 0 && base == 16) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = conversion;
    }
    int body = prefixLength + zeros + count;
    int padding = directive.width > body ? directive.width - body : 0;
    if (directive.zero && !directive.left && directive.precision < 0) {
        zeros += padding;
        padding = 0;
    }
    if (!directive.left) {
        out.Repeat(' ', padding);
    }
    for (int i = 0; i < prefixLength; ++i) {
        out.Put(prefix[i]);
    }
    out.Repeat('0', zeros);
    while (count > 0) {
        out.Put(digits[--count]);
    }
    if (directive.left) {
        out.Repeat(' ', padding);
    }
}

void PutText(Output& out, const Directive& directive, const char* text, int length) {
    int padding = directive.width > length ? directive.width - length : 0;
    if (!directive.left) {
        out.Repeat(' ', padding);
    }
    for (int i = 0; i < length; ++i) {
        out.Put(text[i]);
    }
    if (directive.left) {
        out.Repeat(' ', padding);
    }
}

// One conversion, pch on the character after '%'; false when it is one this formatter refuses.
bool Convert(Output& out, const char*& pch, va_list& args) {
    Directive directive;
    for (;; ++pch) {
        if (*pch == '-') {
            directive.left = true;
        } else if (*pch == '0') {
            directive.zero = true;
        } else if (*pch == '+') {
            directive.plus = true;
        } else if (*pch == ' ') {
            directive.space = true;
        } else if (*pch == '#') {
            directive.alternate = true;
        } else {
            break;
        }
    }
    if (*pch == '*') {
        ++pch;
        directive.width = va_arg(args, int);
        if (directive.width < 0) {
            directive.left = true;
            directive.width = directive.width == INT_MIN ? INT_MAX : -directive.width;
        }
    } else if (!ReadCount(pch, directive.width)) {
        return false;
    }
    if (*pch == '.') {
        ++pch;
        if (*pch == '*') {
            ++pch;
            directive.precision = va_arg(args, int);
            if (directive.precision < 0) {
                directive.precision = -1; // as if none were given
            }
        } else if (!ReadCount(pch, directive.precision)) {
            return false;
        }
    }
    Length length = Length::kInt;
    if (pch[0] == 'h') {
        length = pch[1] == 'h' ? Length::kChar : Length::kShort;
        pch += pch[1] == 'h' ? 2 : 1;
    } else if (pch[0] == 'l') {
        length = pch[1] == 'l' ? Length::kLongLong : Length::kLong;
        pch += pch[1] == 'l' ? 2 : 1;
    } else if (*pch == 'z' || *pch == 'j' || *pch == 't') {
        length = *pch == 'z' ? Length::kSize : *pch == 'j' ? Length::kMax : Length::kPtrdiff;
        ++pch;
    }
    char conversion = *pch++;
    switch (conversion) {
    case 'd':
    case 'i': {
        int64_t value = SignedArgument(length, args);
        // The magnitude of the most negative value as well: negated in unsigned arithmetic.
        uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : value;
        PutNumber(out, directive, conversion, magnitude, value < 0);
        return true;
    }
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        PutNumber(out, directive, conversion, UnsignedArgument(length, args), false);
        return true;
    case 'c': {
        if (length != Length::kInt) {
            return false; // a wide character
        }
        char ch = static_cast<char>(va_arg(args, int));
        PutText(out, directive, &ch, 1);
        return true;
    }
    case 's': {
        if (length != Length::kInt) {
            return false; // wide text
        }
        const char* text = va_arg(args, const char*);
        if (text == nullptr) {
            text = "(null)";
        }
        int cch = 0; // never read past the precision: the text need not end within it
        while ((directive.precision < 0 || cch < directive.precision) && text[cch] != '\0' &&
               cch < INT_MAX) {
            ++cch;
        }
        PutText(out, directive, text, cch);
        return true;
    }
    case '%':
        out.Put('%');
        return true;
    default:
        return false;
    }
}

} // namespace

int FormatV(char* buffer, size_t size, const char* format, va_list args) {
    Output out{buffer, size, 0};
    va_list rest;
    va_copy(rest, args);
    bool refused = false;
    for (const char* pch = format; !refused && *pch != '\0';) {
        if (*pch != '%') {
            out.Put(*pch++);
            continue;
        }
        ++pch;
        refused = !Convert(out, pch, rest);
    }
    va_end(rest);
    if (refused || out.length > static_cast<size_t>(INT_MAX)) {
        if (size > 0) {
            buffer[0] = '\0';
        }
        return -1;
    }
    if (size > 0) {
        buffer[out.length < size ? out.length : size - 1] = '\0';
    }
    return static_cast<int>(out.length);
}

} // namespace win32crt

#if defined(_WIN32)
// The name mingw-w64's snprintf and vsnprintf call in C++.
extern "C" int __cdecl __mingw_vsnprintf(char* buffer, size_t size, const char* format,
                                         va_list args) {
    return win32crt::FormatV(buffer, size, format, args);
}
#endif
