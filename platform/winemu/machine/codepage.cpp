// The machine's code pages: text of a file in another encoding as the ANSI code page holds it.
#include "winemu/machine/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace winemu {

namespace {

// UTF-16LE bytes as the ANSI code page holds them; a character it lacks becomes '?', as
// WideCharToMultiByte gives it.
std::string Utf16ToAnsi(UINT codePage, std::string_view utf16) {
    std::string out;
    iconv_t cd = iconv_open(codePage == 932 ? "CP932" : "CP1252", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return out;
    std::string in(utf16.substr(0, utf16.size() & ~size_t{1}));
    char* from = in.data();
    size_t left = in.size();
    char buffer[256];
    while (left > 0) {
        char* to = buffer;
        size_t room = sizeof buffer;
        size_t done = iconv(cd, &from, &left, &to, &room);
        out.append(buffer, static_cast<size_t>(to - buffer));
        if (done != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // A character the code page lacks, or half of a surrogate pair: one '?' for it.
        out += '?';
        bool pair = left >= 4 && (static_cast<unsigned char>(from[1]) & 0xFC) == 0xD8 &&
                    (static_cast<unsigned char>(from[3]) & 0xFC) == 0xDC;
        size_t skip = std::min(left, size_t{pair ? 4u : 2u});
        from += skip;
        left -= skip;
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string AnsiText(UINT codePage, std::string_view bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        return Utf16ToAnsi(codePage, bytes.substr(2));
    if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
        std::string swapped(bytes.substr(2));
        for (size_t i = 0; i + 1 < swapped.size(); i += 2)
            std::swap(swapped[i], swapped[i + 1]);
        return Utf16ToAnsi(codePage, swapped);
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return std::string(bytes.substr(3));
    return std::string(bytes);
}

} // namespace winemu
