// The Windows images' own runtime, held against the host's C library and 64-bit arithmetic.
#include "runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

int Format(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = win32crt::FormatV(buffer, size, format, args);
    va_end(args);
    return length;
}

template <typename... Args> void Both(const char* format, Args... args) {
    char ours[128], theirs[128];
    int length = Format(ours, sizeof ours, format, args...);
    EXPECT_EQ(length, std::snprintf(theirs, sizeof theirs, format, args...)) << format;
    EXPECT_STREQ(ours, theirs) << format;
}

TEST(Format, WritesWhatTheCLibraryWrites) {
    Both("%d|%i|%u|%5d|%-5d|%05d|%+d|% d|%+ d", -7, 42, 7u, -42, 42, -42, 42, 42, 0);
    Both("%x|%X|%#x|%#X|%#08x|%#x|%o|%#o|%#.0o|%.0d|", 255u, 0xABCu, 255u, 1u, 255u, 0u, 8u, 8u, 0u,
         0);
    Both("%.3d|%8.3d|%-8.3d|%08.3d|%.3u", 7, -7, 7, 7, 12345u);
    Both("%s|%.2s|%5s|%-5s|%.0s|%c%%%c", "abc", "abc", "ab", "ab", "abc", 'x', 'y');
    Both("%lld|%llu|%zu|%hhd|%hhu|%hd|%ld|%lu|%jd|%td", LLONG_MIN, ULLONG_MAX, size_t{12}, 300, 511,
         70000, LONG_MIN, ULONG_MAX, intmax_t{-9}, ptrdiff_t{-3});
    Both("%*d|%-*d|%*d|%.*d|%.*s|", 6, 1, 6, 2, -6, 3, -1, 4, 2, "xyz");
    Both("SYSTEM\\%s\\Parameters %u.%u", "TONEBAY", 4u, 0u);
}

TEST(Format, CutsTheTextAndCountsAllOfIt) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Format(buffer, 4, "%s", "abcdef"), 6);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], '#'); // nothing written past the size given
    EXPECT_EQ(Format(buffer, 0, "%d", 12345), 5);
    EXPECT_EQ(buffer[0], 'a');
    EXPECT_EQ(Format(buffer, 1, "%d", 1), 1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(Format(buffer, 3, "%.5s", "ab\0cd"), 2); // never past the text's end
    EXPECT_STREQ(buffer, "ab");
    // Refused, with an empty text: what this formatter does not know, and a format cut short.
    for (const char* refused : {"a%fb", "a%nb", "a%lsb", "a%lcb", "a%pb", "a%", "%99999999999d"}) {
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(Format(buffer, sizeof buffer, refused, 1.0), -1) << refused;
        EXPECT_STREQ(buffer, "") << refused;
    }
}

TEST(Divide, AgreesWithTheProcessorsOwnDivision) {
    const uint64_t kTop = UINT64_MAX;
    const uint64_t rows[][2] = {{0, 1},
                                {1, 1},
                                {kTop, 1},
                                {kTop, kTop},
                                {kTop - 1, kTop},
                                {kTop, 0x8000000000000001},
                                {uint64_t{1} << 63, 3},
                                {0xFFFFFFFF, 0x10000},
                                {0x100000000, 0xFFFFFFFF},
                                {12345678901234567, 1000},
                                {5, 7},
                                {kTop, 10}};
    for (const auto& row : rows) {
        uint64_t rest = 0;
        EXPECT_EQ(win32crt::DivideUnsigned(row[0], row[1], &rest), row[0] / row[1]) << row[0];
        EXPECT_EQ(rest, row[0] % row[1]) << row[0] << " % " << row[1];
        for (int64_t sign : {1, -1}) {
            int64_t dividend = static_cast<int64_t>(row[0] >> 1) * sign;
            int64_t divisor = static_cast<int64_t>(row[1]) * -sign;
            if (divisor == 0 || (dividend == INT64_MIN && divisor == -1)) {
                continue;
            }
            int64_t signedRest = 0;
            EXPECT_EQ(win32crt::DivideSigned(dividend, divisor, &signedRest), dividend / divisor);
            EXPECT_EQ(signedRest, dividend % divisor) << dividend << " % " << divisor;
        }
    }
}

TEST(CommandTail, IsWhatFollowsTheProgramsName) {
    const char* rows[][2] = {
        {"SETUP.EXE /x", "/x"}, {"\"C:\\Program Files\\SETUP.EXE\"  /a b", "/a b"},
        {"SETUP.EXE", ""},      {"", ""},
        {"a\"b c\"d\t e", "e"}, {"\"no closing quote /x", ""}};
    for (const auto& row : rows) {
        EXPECT_STREQ(win32crt::CommandTail(row[0]), row[1]) << row[0];
    }
}

struct Node {
    win32crt::TreeNode base;
    int key;
};

int Key(const win32crt::TreeNode* node) {
    return reinterpret_cast<const Node*>(node)->key;
}

// The black height of a subtree; fails the test where the red-black rules or a link are broken.
int BlackHeight(const win32crt::TreeNode* node, const win32crt::TreeNode* parent) {
    if (node == nullptr) {
        return 1;
    }
    EXPECT_EQ(node->_M_parent, parent);
    for (const win32crt::TreeNode* child : {node->_M_left, node->_M_right}) {
        EXPECT_FALSE(node->_M_color == std::_S_red && child && child->_M_color == std::_S_red);
    }
    int left = BlackHeight(node->_M_left, node);
    EXPECT_EQ(left, BlackHeight(node->_M_right, node));
    return left + (node->_M_color == std::_S_black ? 1 : 0);
}

void ExpectTree(win32crt::TreeNode& header, std::vector<int> keys) {
    std::sort(keys.begin(), keys.end());
    std::vector<int> forward, backward;
    for (auto* node = header._M_left; node != &header; node = win32crt::TreeNext(node)) {
        forward.push_back(Key(node));
    }
    for (auto* node = &header; header._M_parent != nullptr && node != header._M_left;) {
        node = win32crt::TreePrevious(node); // from the end: the rightmost node first
        backward.insert(backward.begin(), Key(node));
    }
    EXPECT_EQ(forward, keys);
    EXPECT_EQ(backward, keys);
    if (header._M_parent != nullptr) {
        EXPECT_EQ(header._M_parent->_M_color, std::_S_black);
        BlackHeight(header._M_parent, &header);
    } else {
        EXPECT_TRUE(header._M_left == &header && header._M_right == &header);
    }
}

TEST(Tree, StaysBalancedThroughInsertsAndErases) {
    std::mt19937 random(486);
    std::vector<Node> nodes(300);
    std::vector<int> keys;
    win32crt::TreeNode header{};
    header._M_color = std::_S_red;
    header._M_left = header._M_right = &header;
    for (size_t i = 0; i < nodes.size(); ++i) {
        nodes[i].key = static_cast<int>(random() % 1000); // repeats go to the right, as multimap's
        win32crt::TreeNode* parent = &header;
        for (auto* at = header._M_parent; at != nullptr;) {
            parent = at;
            at = nodes[i].key < Key(at) ? at->_M_left : at->_M_right;
        }
        bool left = parent == &header || nodes[i].key < Key(parent);
        win32crt::TreeInsert(left, &nodes[i].base, parent, header);
        keys.push_back(nodes[i].key);
        ExpectTree(header, keys);
    }
    // Erased: the leftmost and the rightmost node, then the rest in a random order.
    std::vector<win32crt::TreeNode*> order{header._M_left, header._M_right};
    for (Node& node : nodes) {
        if (&node.base != order[0] && &node.base != order[1]) {
            order.push_back(&node.base);
        }
    }
    std::shuffle(order.begin() + 2, order.end(), random);
    for (win32crt::TreeNode* node : order) {
        EXPECT_EQ(win32crt::TreeErase(node, header), node);
        keys.erase(std::find(keys.begin(), keys.end(), Key(node)));
        ExpectTree(header, keys);
    }
    ASSERT_FALSE(HasFailure());
}

} // namespace
