#pragma once
// A class root held in memory, where a key with sub-keys cannot be deleted by itself, and
// writes can be refused as for a user without rights.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/class_root.h"

namespace dexalo {

class MemoryClassRoot final : public ClassRoot {
public:
    RegistryText ReadValue(const std::wstring& subKey, const std::wstring& valueName) override {
        if (!keys_.count(subKey) || !keys_[subKey].count(valueName)) return {L"", RegistryStatus::NotFound};
        return {keys_[subKey][valueName], RegistryStatus::Ok};
    }
    RegistryChange WriteString(const std::wstring& subKey, const std::wstring& valueName, const std::wstring& data) override {
        if (!Writable(subKey)) return Refusal();
        for (std::size_t at = subKey.find(L'\\'); at != std::wstring::npos; at = subKey.find(L'\\', at + 1))
            keys_[subKey.substr(0, at)];
        keys_[subKey][valueName] = data;
        return {};
    }
    bool HasSubKeys(const std::wstring& subKey) override {
        const auto it = keys_.upper_bound(subKey + L"\\");
        return it != keys_.end() && it->first.starts_with(subKey + L"\\");
    }
    RegistryChange DeleteValue(const std::wstring& subKey, const std::wstring& valueName) override {
        if (!keys_.count(subKey)) return {};
        if (!Writable(subKey)) return Refusal();
        keys_[subKey].erase(valueName);
        return {};
    }
    RegistryChange DeleteKey(const std::wstring& subKey) override {
        if (!Writable(subKey)) return Refusal();
        if (HasSubKeys(subKey)) return {RegistryStatus::Failed};
        keys_.erase(subKey);
        return {};
    }
    RegistryChange DeleteTree(const std::wstring& subKey) override {
        if (!Writable(subKey)) return Refusal();
        std::erase_if(keys_, [&](const auto& k) { return k.first == subKey || k.first.starts_with(subKey + L"\\"); });
        return {};
    }
    std::optional<std::vector<std::wstring>> ValueNames(const std::wstring& subKey) override {
        if (!keys_.count(subKey)) return std::nullopt;
        std::vector<std::wstring> names;
        for (const auto& [name, data] : keys_[subKey]) names.push_back(name);
        return names;
    }
    bool Carries(std::wstring_view text) override { return text.find_first_of(refused) == std::wstring_view::npos; }
    void NotifyAssociationsChanged() override { ++notices; }

    // Every key as "key", every value as "key|name=data", in order.
    std::vector<std::wstring> Rows() const {
        std::vector<std::wstring> rows;
        for (const auto& [key, values] : keys_) {
            if (values.empty()) rows.push_back(key);
            for (const auto& [name, data] : values) rows.push_back(key + L"|" + name + L"=" + data);
        }
        return rows;
    }
    bool readOnly = false;               // reads work, writes and removals fail
    std::vector<std::wstring> failUnder; // writes and removals at or below these keys fail
    std::wstring refused;                // text with any of these is neither carried nor written
    int notices = 0;

private:
    // A read-only root is a user without rights.
    RegistryChange Refusal() const { return {readOnly ? RegistryStatus::Denied : RegistryStatus::Failed}; }
    bool Writable(const std::wstring& subKey) const {
        if (readOnly || subKey.empty()) return false;
        for (const auto& f : failUnder)
            if ((subKey + L"\\").starts_with(f + L"\\")) return false;
        return true;
    }
    std::map<std::wstring, std::map<std::wstring, std::wstring>> keys_;
};

} // namespace dexalo
