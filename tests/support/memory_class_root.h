#pragma once
// A class root held in memory, where a key with sub-keys cannot be deleted by itself.
#include <map>
#include <string>
#include <vector>

#include "shell/class_root.h"

namespace dexalo {

class MemoryClassRoot final : public ClassRoot {
public:
    std::wstring ReadValue(const std::wstring& subKey, const std::wstring& valueName) override {
        return keys_.count(subKey) && keys_[subKey].count(valueName) ? keys_[subKey][valueName] : L"";
    }
    bool WriteString(const std::wstring& subKey, const std::wstring& valueName, const std::wstring& data) override {
        for (std::size_t at = subKey.find(L'\\'); at != std::wstring::npos; at = subKey.find(L'\\', at + 1))
            keys_[subKey.substr(0, at)];
        keys_[subKey][valueName] = data;
        return true;
    }
    bool HasSubKeys(const std::wstring& subKey) override {
        const auto it = keys_.upper_bound(subKey + L"\\");
        return it != keys_.end() && it->first.starts_with(subKey + L"\\");
    }
    bool DeleteValue(const std::wstring& subKey, const std::wstring& valueName) override {
        if (keys_.count(subKey)) keys_[subKey].erase(valueName);
        return true;
    }
    bool DeleteKey(const std::wstring& subKey) override { return !HasSubKeys(subKey) && (keys_.erase(subKey), true); }
    bool DeleteTree(const std::wstring& subKey) override {
        std::erase_if(keys_, [&](const auto& k) { return k.first == subKey || k.first.starts_with(subKey + L"\\"); });
        return true;
    }
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
    int notices = 0;

private:
    std::map<std::wstring, std::map<std::wstring, std::wstring>> keys_;
};

} // namespace dexalo
