#include "memory_class_root.h"

#include <algorithm>
#include <map>

namespace dexalo {
namespace {

wchar_t Fold(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](wchar_t x, wchar_t y) { return Fold(x) < Fold(y); });
    }
};

bool SameName(const std::wstring& a, const std::wstring& b) {
    return !NoCaseLess{}(a, b) && !NoCaseLess{}(b, a);
}

// "a\b\c" -> {"a", "b", "c"}; "" -> {}; nullopt when a part is empty ("a\\b", "\a").
std::optional<std::vector<std::wstring>> SplitPath(const std::wstring& path) {
    std::vector<std::wstring> parts;
    if (path.empty()) return parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(L'\\', start);
        std::wstring part = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (part.empty()) return std::nullopt;
        parts.push_back(std::move(part));
        if (end == std::wstring::npos) return parts;
        start = end + 1;
    }
}

// True when the path a lies at or below the path b.
bool AtOrBelow(const std::vector<std::wstring>& a, const std::vector<std::wstring>& b) {
    if (a.size() < b.size()) return false;
    return std::equal(b.begin(), b.end(), a.begin(), SameName);
}

} // namespace

struct MemoryClassRoot::Key {
    std::map<std::wstring, std::wstring, NoCaseLess> values;
    std::map<std::wstring, std::unique_ptr<Key>, NoCaseLess> subKeys;

    Key* Find(const std::vector<std::wstring>& parts) {
        Key* key = this;
        for (const auto& part : parts) {
            auto it = key->subKeys.find(part);
            if (it == key->subKeys.end()) return nullptr;
            key = it->second.get();
        }
        return key;
    }
    Key* Create(const std::vector<std::wstring>& parts) {
        Key* key = this;
        for (const auto& part : parts) {
            auto& child = key->subKeys[part];
            if (!child) child = std::make_unique<Key>();
            key = child.get();
        }
        return key;
    }
    std::size_t Count() const {
        std::size_t n = subKeys.size();
        for (const auto& [name, child] : subKeys) n += child->Count();
        return n;
    }
};

MemoryClassRoot::MemoryClassRoot() : root_(std::make_unique<Key>()) {}
MemoryClassRoot::~MemoryClassRoot() = default;

bool MemoryClassRoot::Record(Op op, const std::wstring& subKey, const std::wstring& valueName,
                             const std::wstring& data, bool ok) {
    log_.push_back({op, subKey, valueName, data, ok});
    return ok;
}

bool MemoryClassRoot::Writable(const std::wstring& subKey, bool wholeTree) const {
    if (readOnly_) return false;
    const auto parts = SplitPath(subKey);
    if (!parts) return false;
    for (const auto& failing : failing_) {
        const auto failParts = SplitPath(failing);
        if (!failParts) continue;
        if (AtOrBelow(*parts, *failParts) || (wholeTree && AtOrBelow(*failParts, *parts))) return false;
    }
    return true;
}

std::wstring MemoryClassRoot::ReadValue(const std::wstring& subKey, const std::wstring& valueName) {
    const auto value = Value(subKey, valueName);
    Record(Op::Read, subKey, valueName, {}, value.has_value());
    return value.value_or(std::wstring());
}

bool MemoryClassRoot::WriteString(const std::wstring& subKey, const std::wstring& valueName,
                                  const std::wstring& data) {
    const bool ok = Writable(subKey, false) && Carries(subKey) && Carries(valueName) && Carries(data);
    if (ok) Seed(subKey, valueName, data);
    return Record(Op::Write, subKey, valueName, data, ok);
}

bool MemoryClassRoot::HasSubKeys(const std::wstring& subKey) {
    const auto parts = SplitPath(subKey);
    const Key* key = parts ? root_->Find(*parts) : nullptr;
    const bool has = key && !key->subKeys.empty();
    Record(Op::HasSubKeys, subKey, {}, {}, true);
    return has;
}

std::optional<std::vector<std::wstring>> MemoryClassRoot::ValueNames(const std::wstring& subKey) {
    const auto parts = SplitPath(subKey);
    const Key* key = parts ? root_->Find(*parts) : nullptr;
    if (!key) return std::nullopt;
    std::vector<std::wstring> names;
    for (const auto& [name, data] : key->values) names.push_back(name);
    return names;
}

bool MemoryClassRoot::DeleteValue(const std::wstring& subKey, const std::wstring& valueName) {
    const auto parts = SplitPath(subKey);
    Key* key = parts ? root_->Find(*parts) : nullptr;
    if (!key) return Record(Op::DeleteValue, subKey, valueName, {}, true);
    const bool ok = Writable(subKey, false);
    if (ok) key->values.erase(valueName);
    return Record(Op::DeleteValue, subKey, valueName, {}, ok);
}

bool MemoryClassRoot::RemoveKey(Op op, const std::wstring& subKey) {
    const auto parts = SplitPath(subKey);
    if (!parts || parts->empty()) return Record(op, subKey, {}, {}, false); // never the root itself
    Key* parent = root_->Find({parts->begin(), parts->end() - 1});
    if (!parent) return Record(op, subKey, {}, {}, true);
    const auto it = parent->subKeys.find(parts->back());
    if (it == parent->subKeys.end()) return Record(op, subKey, {}, {}, true);
    const bool wholeTree = op == Op::DeleteTree;
    // Like the platform: a key that still has sub-keys cannot be deleted by itself.
    const bool ok = Writable(subKey, wholeTree) && (wholeTree || it->second->subKeys.empty());
    if (ok) parent->subKeys.erase(it);
    return Record(op, subKey, {}, {}, ok);
}

bool MemoryClassRoot::DeleteKey(const std::wstring& subKey) { return RemoveKey(Op::DeleteKey, subKey); }

bool MemoryClassRoot::DeleteTree(const std::wstring& subKey) { return RemoveKey(Op::DeleteTree, subKey); }

void MemoryClassRoot::Seed(const std::wstring& subKey, const std::wstring& valueName,
                           const std::wstring& data) {
    const auto parts = SplitPath(subKey);
    if (!parts) return;
    root_->Create(*parts)->values[valueName] = data;
}

void MemoryClassRoot::SeedKey(const std::wstring& subKey) {
    if (const auto parts = SplitPath(subKey)) root_->Create(*parts);
}

std::optional<std::wstring> MemoryClassRoot::Value(const std::wstring& subKey,
                                                   const std::wstring& valueName) const {
    const auto parts = SplitPath(subKey);
    const Key* key = parts ? root_->Find(*parts) : nullptr;
    if (!key) return std::nullopt;
    const auto it = key->values.find(valueName);
    if (it == key->values.end()) return std::nullopt;
    return it->second;
}

bool MemoryClassRoot::HasKey(const std::wstring& subKey) const {
    const auto parts = SplitPath(subKey);
    return parts && root_->Find(*parts) != nullptr;
}

std::size_t MemoryClassRoot::KeyCount() const { return root_->Count(); }

std::vector<MemoryClassRoot::Access> MemoryClassRoot::Accesses(Op op) const {
    std::vector<Access> result;
    std::copy_if(log_.begin(), log_.end(), std::back_inserter(result),
                 [op](const Access& a) { return a.op == op; });
    return result;
}

} // namespace dexalo
