// The Windows images' own runtime: what the compiler and the C++ library expect beyond the Win32
// calls and crtdll.dll, written here so that every instruction in the images is one a 486 runs.
// The pieces below do not depend on Windows; the host tests build them too.
#pragma once

#include <bits/stl_tree.h>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace win32crt {

// vsnprintf as C99 has it: at most size - 1 characters and a terminating zero (nothing when size
// is 0), and the length the whole text would have. Conversions: d i u o x X c s p %, the flags
// - 0 + space #, a width and a precision (digits or *), the lengths hh h l ll z j t. Anything else
// (floating point, %n, wide text) is refused: -1, and an empty text when there is room for one.
int FormatV(char* buffer, size_t size, const char* format, va_list args);

// 64-bit division on 32-bit operations only (the i486 has no 64-bit divide). A divisor of 0
// gives a quotient of all ones and the dividend as remainder; callers never divide by 0.
uint64_t DivideUnsigned(uint64_t dividend, uint64_t divisor, uint64_t* remainder);
int64_t DivideSigned(int64_t dividend, int64_t divisor, int64_t* remainder);

// The balancing of std::map and std::set: the red-black tree of the C++ library's node layout
// (header: parent the root, left the leftmost node, right the rightmost; an empty tree's header
// points to itself on both sides).
using TreeNode = std::_Rb_tree_node_base;
TreeNode* TreeNext(TreeNode* node);
TreeNode* TreePrevious(TreeNode* node);
// Links node below parent (on its left when left is true) and restores the balance.
void TreeInsert(bool left, TreeNode* node, TreeNode* parent, TreeNode& header);
// Unlinks node and restores the balance; returns it for the caller to free.
TreeNode* TreeErase(TreeNode* node, TreeNode& header);

// The arguments after the program's name in a command line, as WinMain receives them: the name
// ends at the first blank outside double quotes, and the blanks after it are skipped.
const char* CommandTail(const char* line);

// Windows only: ends the process with a message box naming what went wrong.
[[noreturn]] void Fatal(const char* what);

} // namespace win32crt
