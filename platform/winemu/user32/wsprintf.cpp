// USER32's wsprintfA: the conversions of Windows' own formatter, into at most 1024 characters.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>

namespace {

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
