// The registry of the emulated machine: a tree of keys under HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER, with names compared without regard to case and kept as first written.
#include "winemu/machine/registry.h"

#include "winemu/machine/dbcs.h"

#include <stdexcept>

namespace winemu {

namespace {

// Splits a key path at its backslashes; empty parts (a trailing backslash) are dropped.
std::vector<std::string_view> SplitPath(UINT codePage, std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = FindSeparator(codePage, path, start);
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Names hash as they compare: ASCII letters without regard to case.
size_t NameHash(std::string_view name) {
    uint64_t h = 14695981039346656037ull;
    for (char c : name) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b >= 'a' && b <= 'z')
            b = static_cast<unsigned char>(b - 'a' + 'A');
        h = (h ^ b) * 1099511628211ull;
    }
    return static_cast<size_t>(h ^ (h >> 29));
}

// Keys of up to this many values are searched in order; an index would cost more than it saves.
constexpr size_t kLinearValues = 16;

void CollectSubtree(RegKey& key, std::vector<RegKey*>& keys) {
    keys.push_back(&key);
    for (auto& [name, child] : key.subkeys)
        CollectSubtree(*child, keys);
}

} // namespace

RegValues& RegValues::operator=(const RegValues& other) {
    if (this != &other) {
        items_ = other.items_;
        Rebuild();
    }
    return *this;
}

void RegValues::push_back(RegValue value) {
    items_.push_back(std::move(value));
    if (items_.size() <= kLinearValues)
        return;
    // Kept at most half full, so that a search ends soon at an empty slot.
    if (items_.size() * 2 > slots_.size())
        Rebuild();
    else
        Insert(static_cast<uint32_t>(items_.size() - 1));
}

RegValues::iterator RegValues::erase(iterator first, iterator last) {
    if (first == last)
        return last; // nothing to take out: the index stands
    iterator next = items_.erase(first, last);
    size_t at = static_cast<size_t>(next - items_.begin());
    Rebuild();
    return items_.begin() + static_cast<std::ptrdiff_t>(at);
}

void RegValues::clear() {
    items_.clear();
    slots_.clear();
}

void RegValues::Rebuild() {
    slots_.clear();
    if (items_.size() <= kLinearValues)
        return;
    size_t capacity = 16;
    while (capacity < items_.size() * 2)
        capacity *= 2;
    slots_.assign(capacity, 0);
    for (size_t i = 0; i < items_.size(); ++i)
        Insert(static_cast<uint32_t>(i));
}

void RegValues::Insert(uint32_t index) {
    size_t mask = slots_.size() - 1;
    for (size_t slot = NameHash(items_[index].name) & mask;; slot = (slot + 1) & mask) {
        if (slots_[slot] == 0) {
            slots_[slot] = index + 1;
            return;
        }
    }
}

RegValue* RegValues::Find(std::string_view name) {
    return const_cast<RegValue*>(std::as_const(*this).Find(name));
}

const RegValue* RegValues::Find(std::string_view name) const {
    if (slots_.empty()) {
        for (const RegValue& value : items_) {
            if (NameEquals(value.name, name))
                return &value;
        }
        return nullptr;
    }
    size_t mask = slots_.size() - 1;
    for (size_t slot = NameHash(name) & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
        const RegValue& value = items_[slots_[slot] - 1];
        if (NameEquals(value.name, name))
            return &value;
    }
    return nullptr;
}

RegValue* RegKey::FindValue(std::string_view valueName) {
    return values.Find(valueName);
}

const RegValue* RegKey::FindValue(std::string_view valueName) const {
    return values.Find(valueName);
}

RegKey* RegKey::FindSubkey(std::string_view subkeyName) const {
    auto it = subkeys.find(subkeyName);
    return it == subkeys.end() ? nullptr : it->second.get();
}

// A deleted key keeps its full path as its name instead of a pointer to the parent.
void DetachDeletedKey(RegKey& key) {
    std::vector<RegKey*> keys;
    CollectSubtree(key, keys);
    std::vector<std::string> paths;
    for (RegKey* k : keys)
        paths.push_back(k->Path());
    for (size_t i = 0; i < keys.size(); ++i) {
        keys[i]->deleted = true;
        keys[i]->name = std::move(paths[i]);
        keys[i]->parent = nullptr;
    }
}

std::string RegKey::Path() const {
    std::string path = name;
    for (const RegKey* up = parent; up != nullptr; up = up->parent)
        path = up->name + "\\" + path;
    return path;
}

Registry::Registry()
    : hklm_(std::make_shared<RegKey>()), hkcu_(std::make_shared<RegKey>()),
      hku_(std::make_shared<RegKey>()) {
    hklm_->name = "HKEY_LOCAL_MACHINE";
    hkcu_->name = "HKEY_CURRENT_USER";
    hku_->name = "HKEY_USERS";
}

std::shared_ptr<RegKey> Registry::Root(HKEY predefined) const {
    if (predefined == HKEY_LOCAL_MACHINE)
        return hklm_;
    if (predefined == HKEY_CURRENT_USER)
        return hkcu_;
    if (predefined == HKEY_USERS)
        return hku_;
    return nullptr;
}

namespace {

// The root named by the first part of a path, or null.
HKEY RootByName(std::string_view rootName) {
    if (NameEquals(rootName, "HKEY_LOCAL_MACHINE") || NameEquals(rootName, "HKLM"))
        return HKEY_LOCAL_MACHINE;
    if (NameEquals(rootName, "HKEY_CURRENT_USER") || NameEquals(rootName, "HKCU"))
        return HKEY_CURRENT_USER;
    if (NameEquals(rootName, "HKEY_USERS") || NameEquals(rootName, "HKU"))
        return HKEY_USERS;
    return nullptr;
}

} // namespace

RegKey* Registry::Find(std::string_view path) const {
    std::vector<std::string_view> parts = SplitPath(codePage_, path);
    if (parts.empty())
        return nullptr;
    RegKey* key = Root(RootByName(parts[0])).get();
    for (size_t i = 1; key != nullptr && i < parts.size(); ++i)
        key = key->FindSubkey(parts[i]);
    return key;
}

RegKey& Registry::Create(std::string_view path) {
    std::vector<std::string_view> parts = SplitPath(codePage_, path);
    RegKey* key = parts.empty() ? nullptr : Root(RootByName(parts[0])).get();
    if (key == nullptr)
        throw std::invalid_argument("registry path without a known root: " + std::string(path));
    for (size_t i = 1; i < parts.size(); ++i) {
        RegKey* next = key->FindSubkey(parts[i]);
        if (next == nullptr) {
            auto child = std::make_shared<RegKey>();
            child->name = std::string(parts[i]);
            child->parent = key;
            next = child.get();
            key->subkeys.emplace(child->name, std::move(child));
        }
        key = next;
    }
    return *key;
}

bool Registry::Delete(std::string_view path) {
    RegKey* key = Find(path);
    if (key == nullptr || key->parent == nullptr)
        return false; // missing, or a root, which cannot go
    RegKey* parent = key->parent;
    auto it = parent->subkeys.find(key->name);
    // The handles still holding the key see it as deleted; the tree no longer has it.
    std::shared_ptr<RegKey> keep = it->second;
    parent->subkeys.erase(it);
    DetachDeletedKey(*keep);
    return true;
}

const RegValue* Registry::Value(std::string_view keyPath, std::string_view valueName) const {
    const RegKey* key = Find(keyPath);
    return key == nullptr ? nullptr : key->FindValue(valueName);
}

void Registry::Set(std::string_view keyPath, std::string_view valueName, DWORD type,
                   std::vector<BYTE> data) {
    RegKey& key = Create(keyPath);
    RegValue* value = key.FindValue(valueName);
    if (value == nullptr) {
        key.values.push_back(RegValue{std::string(valueName), type, std::move(data)});
        return;
    }
    value->type = type;
    value->data = std::move(data);
}

void Registry::SetString(std::string_view keyPath, std::string_view valueName,
                         std::string_view text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    Set(keyPath, valueName, REG_SZ, std::move(data));
}

void Registry::SetDword(std::string_view keyPath, std::string_view valueName, DWORD value) {
    std::vector<BYTE> data{static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    Set(keyPath, valueName, REG_DWORD, std::move(data));
}

std::optional<std::string> Registry::GetString(std::string_view keyPath,
                                               std::string_view valueName) const {
    const RegValue* value = Value(keyPath, valueName);
    if (value == nullptr || value->type != REG_SZ)
        return std::nullopt;
    std::string text(value->data.begin(), value->data.end());
    size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

std::optional<DWORD> Registry::GetDword(std::string_view keyPath,
                                        std::string_view valueName) const {
    const RegValue* value = Value(keyPath, valueName);
    if (value == nullptr || value->type != REG_DWORD || value->data.size() != 4)
        return std::nullopt;
    const std::vector<BYTE>& d = value->data;
    return static_cast<DWORD>(d[0]) | static_cast<DWORD>(d[1]) << 8 |
           static_cast<DWORD>(d[2]) << 16 | static_cast<DWORD>(d[3]) << 24;
}

} // namespace winemu
