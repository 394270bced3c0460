// Handle tracking and fault injection.
#include "winemu/machine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace winemu {

ULONG_PTR Handles::Open(HandleKind kind, std::string description, std::shared_ptr<void> object) {
    ULONG_PTR handle = next_;
    next_ += 4;
    open_.emplace(handle, Entry{kind, std::move(description), std::move(object)});
    return handle;
}

std::shared_ptr<void> Handles::Get(ULONG_PTR handle, HandleKind kind) const {
    auto it = open_.find(handle);
    if (it == open_.end() || it->second.kind != kind)
        return nullptr;
    return it->second.object;
}

bool Handles::Close(ULONG_PTR handle, HandleKind kind) {
    auto it = open_.find(handle);
    if (it == open_.end() || it->second.kind != kind)
        return false;
    open_.erase(it);
    return true;
}

std::vector<std::string> Handles::Leaks() const {
    std::vector<std::string> leaks;
    for (const auto& [handle, entry] : open_) {
        if (entry.kind == HandleKind::RegistryKey || entry.kind == HandleKind::Driver ||
            entry.kind == HandleKind::DeviceInfoList || entry.kind == HandleKind::File)
            leaks.push_back(entry.description);
    }
    return leaks;
}

size_t Handles::CountOpen(HandleKind kind) const {
    return static_cast<size_t>(std::count_if(
        open_.begin(), open_.end(), [kind](const auto& e) { return e.second.kind == kind; }));
}

namespace {

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
    if (needle.size() > haystack.size())
        return false;
    for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (NameEquals(haystack.substr(i, needle.size()), needle))
            return true;
    }
    return false;
}

} // namespace

void Faults::Add(std::string api, std::string rule) {
    Fault fault;
    fault.api = std::move(api);
    if (rule.size() > 1 && rule[0] == '#' && AllDigits(std::string_view(rule).substr(1)))
        fault.nth = std::atoi(rule.c_str() + 1);
    else
        fault.text = std::move(rule);
    faults_.push_back(std::move(fault));
}

void Faults::Clear() {
    faults_.clear();
    calls_.clear();
}

bool Faults::Check(std::string_view api, std::initializer_list<std::string_view> args) {
    int call = ++calls_[std::string(api)];
    for (const Fault& fault : faults_) {
        if (!NameEquals(fault.api, api))
            continue;
        if (fault.nth > 0) {
            if (fault.nth == call)
                return true;
            continue;
        }
        if (fault.text == "*")
            return true;
        for (std::string_view arg : args) {
            bool hit = AllDigits(fault.text) && AllDigits(arg) ? fault.text == arg
                                                               : ContainsNoCase(arg, fault.text);
            if (hit)
                return true;
        }
    }
    return false;
}

int Faults::Calls(std::string_view api) const {
    auto it = calls_.find(std::string(api));
    return it == calls_.end() ? 0 : it->second;
}

} // namespace winemu
