// The balancing of std::map and std::set for the Windows images. The C++ library keeps it out of
// line, in its prebuilt archive (built for a newer processor); these are the same functions on
// the same node layout: a red-black tree whose header holds the root (parent), the leftmost node
// (left) and the rightmost (right), and is red, which tells it from the root when stepping back
// from the end.
#include "runtime.h"

namespace win32crt {

namespace {

using Node = TreeNode;
constexpr std::_Rb_tree_color kRed = std::_S_red;
constexpr std::_Rb_tree_color kBlack = std::_S_black;

bool IsBlack(const Node* node) {
    return node == nullptr || node->_M_color == kBlack;
}

// node's place in its parent, or the root's place in the header.
Node*& Link(Node* node, Node*& root) {
    if (node == root) {
        return root;
    }
    return node == node->_M_parent->_M_left ? node->_M_parent->_M_left : node->_M_parent->_M_right;
}

// node's right child takes its place; node becomes that child's left child.
void RotateLeft(Node* node, Node*& root) {
    Node* child = node->_M_right;
    node->_M_right = child->_M_left;
    if (child->_M_left != nullptr) {
        child->_M_left->_M_parent = node;
    }
    child->_M_parent = node->_M_parent;
    Link(node, root) = child;
    child->_M_left = node;
    node->_M_parent = child;
}

void RotateRight(Node* node, Node*& root) {
    Node* child = node->_M_left;
    node->_M_left = child->_M_right;
    if (child->_M_right != nullptr) {
        child->_M_right->_M_parent = node;
    }
    child->_M_parent = node->_M_parent;
    Link(node, root) = child;
    child->_M_right = node;
    node->_M_parent = child;
}

Node* Leftmost(Node* node) {
    while (node->_M_left != nullptr) {
        node = node->_M_left;
    }
    return node;
}

Node* Rightmost(Node* node) {
    while (node->_M_right != nullptr) {
        node = node->_M_right;
    }
    return node;
}

// After an erase, the path through node (null for an empty place below parent) is one black node
// short: recolour and rotate upwards until the count is whole again.
void RestoreAfterErase(Node* node, Node* parent, Node*& root) {
    while (node != root && IsBlack(node)) {
        if (node == parent->_M_left) {
            Node* sibling = parent->_M_right;
            if (sibling->_M_color == kRed) {
                sibling->_M_color = kBlack;
                parent->_M_color = kRed;
                RotateLeft(parent, root);
                sibling = parent->_M_right;
            }
            if (IsBlack(sibling->_M_left) && IsBlack(sibling->_M_right)) {
                sibling->_M_color = kRed;
                node = parent;
                parent = parent->_M_parent;
                continue;
            }
            if (IsBlack(sibling->_M_right)) {
                sibling->_M_left->_M_color = kBlack;
                sibling->_M_color = kRed;
                RotateRight(sibling, root);
                sibling = parent->_M_right;
            }
            sibling->_M_color = parent->_M_color;
            parent->_M_color = kBlack;
            sibling->_M_right->_M_color = kBlack;
            RotateLeft(parent, root);
        } else {
            Node* sibling = parent->_M_left;
            if (sibling->_M_color == kRed) {
                sibling->_M_color = kBlack;
                parent->_M_color = kRed;
                RotateRight(parent, root);
                sibling = parent->_M_left;
            }
            if (IsBlack(sibling->_M_left) && IsBlack(sibling->_M_right)) {
                sibling->_M_color = kRed;
                node = parent;
                parent = parent->_M_parent;
                continue;
            }
            if (IsBlack(sibling->_M_left)) {
                sibling->_M_right->_M_color = kBlack;
                sibling->_M_color = kRed;
                RotateLeft(sibling, root);
                sibling = parent->_M_left;
            }
            sibling->_M_color = parent->_M_color;
            parent->_M_color = kBlack;
            sibling->_M_left->_M_color = kBlack;
            RotateRight(parent, root);
        }
        break;
    }
    if (node != nullptr) {
        node->_M_color = kBlack;
    }
}

} // namespace

TreeNode* TreeNext(TreeNode* node) {
    if (node->_M_right != nullptr) {
        return Leftmost(node->_M_right);
    }
    Node* parent = node->_M_parent;
    while (node == parent->_M_right) {
        node = parent;
        parent = parent->_M_parent;
    }
    // Stepping from the rightmost node climbs to the header; when the root is the rightmost node
    // the climb goes one step past it, to the root, and the header is the answer.
    return node->_M_right != parent ? parent : node;
}

TreeNode* TreePrevious(TreeNode* node) {
    if (node->_M_color == kRed && node->_M_parent->_M_parent == node) {
        return node->_M_right; // the header (end): the rightmost node
    }
    if (node->_M_left != nullptr) {
        return Rightmost(node->_M_left);
    }
    Node* parent = node->_M_parent;
    while (node == parent->_M_left) {
        node = parent;
        parent = parent->_M_parent;
    }
    return parent;
}

void TreeInsert(bool left, TreeNode* node, TreeNode* parent, TreeNode& header) {
    Node*& root = header._M_parent;
    node->_M_parent = parent;
    node->_M_left = nullptr;
    node->_M_right = nullptr;
    node->_M_color = kRed;
    if (left) {
        parent->_M_left = node; // the header's left too: then the node is the leftmost
        if (parent == &header) {
            root = node;
            header._M_right = node;
        } else if (parent == header._M_left) {
            header._M_left = node;
        }
    } else {
        parent->_M_right = node;
        if (parent == header._M_right) {
            header._M_right = node;
        }
    }
    // A red node below a red parent: recolour, or rotate, upwards.
    while (node != root && node->_M_parent->_M_color == kRed) {
        Node* up = node->_M_parent;
        Node* grand = up->_M_parent;
        if (up == grand->_M_left) {
            Node* uncle = grand->_M_right;
            if (!IsBlack(uncle)) {
                up->_M_color = kBlack;
                uncle->_M_color = kBlack;
                grand->_M_color = kRed;
                node = grand;
                continue;
            }
            if (node == up->_M_right) {
                node = up;
                RotateLeft(node, root);
                up = node->_M_parent;
            }
            up->_M_color = kBlack;
            grand->_M_color = kRed;
            RotateRight(grand, root);
        } else {
            Node* uncle = grand->_M_left;
            if (!IsBlack(uncle)) {
                up->_M_color = kBlack;
                uncle->_M_color = kBlack;
                grand->_M_color = kRed;
                node = grand;
                continue;
            }
            if (node == up->_M_left) {
                node = up;
                RotateRight(node, root);
                up = node->_M_parent;
            }
            up->_M_color = kBlack;
            grand->_M_color = kRed;
            RotateLeft(grand, root);
        }
    }
    root->_M_color = kBlack;
}

TreeNode* TreeErase(TreeNode* node, TreeNode& header) {
    Node*& root = header._M_parent;
    // The node that leaves its place: node itself when it has at most one child, else its
    // successor, which has no left child and moves into node's place.
    Node* moved = node;
    if (node->_M_left != nullptr && node->_M_right != nullptr) {
        moved = Leftmost(node->_M_right);
    }
    Node* child = moved->_M_left != nullptr ? moved->_M_left : moved->_M_right;
    Node* childParent = moved;
    std::_Rb_tree_color removed = moved->_M_color;
    if (moved != node) {
        node->_M_left->_M_parent = moved;
        moved->_M_left = node->_M_left;
        if (moved != node->_M_right) {
            childParent = moved->_M_parent;
            if (child != nullptr) {
                child->_M_parent = childParent;
            }
            childParent->_M_left = child;
            moved->_M_right = node->_M_right;
            node->_M_right->_M_parent = moved;
        }
        Link(node, root) = moved;
        moved->_M_parent = node->_M_parent;
        moved->_M_color = node->_M_color;
        // Node had two children, so it was neither the leftmost nor the rightmost.
    } else {
        childParent = node->_M_parent;
        if (child != nullptr) {
            child->_M_parent = childParent;
        }
        Link(node, root) = child;
        if (header._M_left == node) {
            header._M_left = node->_M_right == nullptr ? childParent : Leftmost(child);
        }
        if (header._M_right == node) {
            header._M_right = node->_M_left == nullptr ? childParent : Rightmost(child);
        }
    }
    if (removed == kBlack) {
        RestoreAfterErase(child, childParent, root);
    }
    return node;
}

} // namespace win32crt

#if defined(_WIN32)
// The names the library's map and set call.
namespace std {

_Rb_tree_node_base* _Rb_tree_increment(_Rb_tree_node_base* node) noexcept {
    return win32crt::TreeNext(node);
}

const _Rb_tree_node_base* _Rb_tree_increment(const _Rb_tree_node_base* node) noexcept {
    return win32crt::TreeNext(const_cast<_Rb_tree_node_base*>(node));
}

_Rb_tree_node_base* _Rb_tree_decrement(_Rb_tree_node_base* node) noexcept {
    return win32crt::TreePrevious(node);
}

const _Rb_tree_node_base* _Rb_tree_decrement(const _Rb_tree_node_base* node) noexcept {
    return win32crt::TreePrevious(const_cast<_Rb_tree_node_base*>(node));
}

void _Rb_tree_insert_and_rebalance(const bool left, _Rb_tree_node_base* node,
                                   _Rb_tree_node_base* parent,
                                   _Rb_tree_node_base& header) noexcept {
    win32crt::TreeInsert(left, node, parent, header);
}

_Rb_tree_node_base* _Rb_tree_rebalance_for_erase(_Rb_tree_node_base* const node,
                                                 _Rb_tree_node_base& header) noexcept {
    return win32crt::TreeErase(node, header);
}

} // namespace std
#endif
