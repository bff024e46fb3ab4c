#pragma once
// A class root held in memory: key and value names ignore letter case as in the registry,
// a key with sub-keys cannot be deleted by itself, and writes can be made to fail.
#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "shell/class_root.h"

namespace dexalo {

class MemoryClassRoot final : public ClassRoot {
public:
    std::wstring ReadValue(const std::wstring& subKey, const std::wstring& valueName) override {
        return Value(subKey, valueName).value_or(L"");
    }
    bool WriteString(const std::wstring& subKey, const std::wstring& valueName, const std::wstring& data) override {
        if (!Writable(subKey, false)) return false;
        Seed(subKey, valueName, data);
        return true;
    }
    bool HasSubKeys(const std::wstring& subKey) override {
        const auto it = keys_.upper_bound(Fold(subKey) + L"\\");
        return it != keys_.end() && it->first.starts_with(Fold(subKey) + L"\\");
    }
    bool DeleteValue(const std::wstring& subKey, const std::wstring& valueName) override {
        if (!HasKey(subKey)) return true;
        if (!Writable(subKey, false)) return false;
        keys_[Fold(subKey)].erase(Fold(valueName));
        return true;
    }
    bool DeleteKey(const std::wstring& subKey) override {
        if (subKey.empty() || !HasKey(subKey)) return !subKey.empty();
        if (!Writable(subKey, false) || HasSubKeys(subKey)) return false;
        keys_.erase(Fold(subKey));
        return true;
    }
    bool DeleteTree(const std::wstring& subKey) override {
        if (subKey.empty() || !Writable(subKey, true)) return false;
        std::erase_if(keys_, [&](const auto& k) { return k.first == Fold(subKey) || k.first.starts_with(Fold(subKey) + L"\\"); });
        return true;
    }
    std::optional<std::vector<std::wstring>> ValueNames(const std::wstring& subKey) override {
        const auto key = keys_.find(Fold(subKey));
        if (key == keys_.end()) return std::nullopt;
        std::vector<std::wstring> names;
        for (const auto& [folded, value] : key->second) names.push_back(value.first);
        return names;
    }
    bool Carries(std::wstring_view text) override { return text.find_first_of(refused) == std::wstring_view::npos; }
    bool LastFailureWasDenied() const override { return readOnly; }  // a read-only root is a user without rights
    void NotifyAssociationsChanged() override { ++notices; }

    // Set up and inspect, without failures.
    void Seed(const std::wstring& subKey, const std::wstring& valueName, const std::wstring& data) {
        SeedKey(subKey);
        keys_[Fold(subKey)][Fold(valueName)] = {valueName, data};
    }
    void SeedKey(const std::wstring& subKey) {
        for (std::size_t at = 0; at != std::wstring::npos; at = subKey.find(L'\\', at + 1))
            keys_[Fold(subKey.substr(0, at))];
        keys_[Fold(subKey)];
        keys_.erase(L"");
    }
    std::optional<std::wstring> Value(const std::wstring& subKey, const std::wstring& valueName) const {
        const auto key = keys_.find(Fold(subKey));
        if (key == keys_.end()) return std::nullopt;
        const auto value = key->second.find(Fold(valueName));
        if (value == key->second.end()) return std::nullopt;
        return value->second.second;
    }
    bool HasKey(const std::wstring& subKey) const { return keys_.count(Fold(subKey)) > 0; }
    std::size_t KeyCount() const { return keys_.size(); }

    bool readOnly = false;               // reads work, writes and removals fail
    std::vector<std::wstring> failUnder; // writes and removals at or below these keys fail
    std::wstring refused;                // text with any of these is neither carried nor written
    int notices = 0;

private:
    static std::wstring Fold(std::wstring s) {
        for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
        return s;
    }
    bool Writable(const std::wstring& subKey, bool wholeTree) const {
        if (readOnly || subKey.empty() || subKey.find(L"\\\\") != std::wstring::npos) return false;
        const std::wstring key = Fold(subKey) + L"\\";
        for (const auto& f : failUnder) {
            const std::wstring failing = Fold(f) + L"\\";
            if (key.starts_with(failing) || (wholeTree && failing.starts_with(key))) return false;
        }
        return true;
    }

    // folded key -> folded value name -> (the name as written, data)
    std::map<std::wstring, std::map<std::wstring, std::pair<std::wstring, std::wstring>>> keys_;
};

} // namespace dexalo
