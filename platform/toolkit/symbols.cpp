// The symbol table: named strings through which the toolkit and the dialogs report to setup.
#include "toolkit/core.h"

#include <toolkit.h>

#include <algorithm>
#include <cstring>

// The value's full length in bytes (without the terminator) is returned even when the buffer
// holds less: the caller tells an overflow from a count that reaches its buffer size.
INT WINAPI CbGetSymbolValue(LPCSTR szSymbol, LPSTR szBuf, INT cbBuf) {
    return toolkit::Exported<INT>(
        "CbGetSymbolValue",
        {toolkit::Text(szSymbol), toolkit::BufferArg(szBuf), static_cast<long long>(cbBuf)}, 0,
        [&]() -> INT {
            std::string_view value = ""; // never a null pointer, even for a missing symbol
            if (szSymbol) {
                auto& symbols = toolkit::Core().symbols;
                auto it = symbols.find(std::string_view(szSymbol));
                if (it != symbols.end()) {
                    value = it->second;
                }
            }
            if (szBuf && cbBuf > 0) {
                size_t cb = std::min(value.size(), static_cast<size_t>(cbBuf) - 1);
                // The caller gets it cut, and tells the user no more than that.
                if (cb < value.size()) {
                    toolkit::Log("symbol " + std::string(szSymbol) + " holds " +
                                 std::to_string(value.size()) + " characters, more than " +
                                 std::to_string(cbBuf - 1) + ": " + std::string(value));
                }
                std::memcpy(szBuf, value.data(), cb);
                szBuf[cb] = '\0';
            }
            return static_cast<INT>(std::min<size_t>(value.size(), 0x7FFFFFFF));
        });
}

BOOL WINAPI FSetSymbolValue(LPCSTR szSymbol, LPCSTR szValue) {
    return toolkit::Exported<BOOL>("FSetSymbolValue",
                                   {toolkit::Text(szSymbol), toolkit::Text(szValue)}, FALSE,
                                   [&](const toolkit::Call& call) -> BOOL {
                                       if (call.Fails({szSymbol ? szSymbol : ""})) {
                                           return FALSE;
                                       }
                                       if (!szSymbol || !*szSymbol) {
                                           return FALSE;
                                       }
                                       toolkit::Core().symbols[szSymbol] = szValue ? szValue : "";
                                       return TRUE;
                                   });
}
