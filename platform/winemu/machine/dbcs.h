// Character stepping in the machine's ANSI code page, shared by the path, profile, string and
// code-page functions: under code page 932 a lead byte and the byte after it are one character,
// and that second byte may look like '\\', '|' or a letter.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace winemu {

inline bool IsLeadByte(UINT codePage, unsigned char byte) {
    return codePage == 932 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

// Bytes taken by the character at text[i] (1 or 2; 1 for a lead byte at the end of the text).
inline size_t CharBytes(UINT codePage, std::string_view text, size_t i) {
    if (IsLeadByte(codePage, static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
        text[i + 1] != '\0')
        return 2;
    return 1;
}

inline unsigned char FoldCase(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// Names as Windows compares them: ASCII letters without regard to case, double-byte characters
// exactly (their second byte is not a letter even when it looks like one).
inline bool NameEqualsIn(UINT codePage, std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size();) {
        size_t n = CharBytes(codePage, a, i);
        if (n == 2) {
            if (a.substr(i, 2) != b.substr(i, 2))
                return false;
        } else if (FoldCase(static_cast<unsigned char>(a[i])) !=
                   FoldCase(static_cast<unsigned char>(b[i]))) {
            return false;
        }
        i += n;
    }
    return true;
}

// Where the next backslash at or after from lies (text.size() when there is none); from must
// start a character. A 0x5C that is the second byte of a double-byte character is no separator.
inline size_t FindSeparator(UINT codePage, std::string_view text, size_t from) {
    if (codePage != 932) {
        size_t at = text.find('\\', from);
        return at == std::string_view::npos ? text.size() : at;
    }
    size_t i = from;
    while (i < text.size() && text[i] != '\\')
        i += CharBytes(codePage, text, i);
    return std::min(i, text.size());
}

// Characters in text (a double-byte character counts one).
inline size_t CharCount(UINT codePage, std::string_view text) {
    if (codePage != 932)
        return text.size();
    size_t count = 0;
    for (size_t i = 0; i < text.size(); i += CharBytes(codePage, text, i))
        ++count;
    return count;
}

// Drops the separators that end a folder path ("C:\\WINNT\\" -> "C:\\WINNT") but keeps a root's
// ("C:\\"); a 0x5C that is the second byte of a double-byte character is no separator.
inline void TrimTrailingSeparators(UINT codePage, std::string& path) {
    for (;;) {
        size_t last = std::string::npos;
        for (size_t i = 0; i < path.size(); i += CharBytes(codePage, path, i))
            last = i;
        if (last == std::string::npos || path.size() <= 3 || last != path.size() - 1 ||
            (path[last] != '\\' && path[last] != '/'))
            return;
        path.pop_back();
    }
}

} // namespace winemu
