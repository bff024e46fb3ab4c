#pragma once
// The class root HKEY_CLASSES_ROOT through the single-byte registry functions: names and data
// travel in the ANSI code page. Reads use read access only and a 517-byte buffer
// (registry_read.h); a value too long for it reads as "".

#include <windows.h>

#include <string>

#include "shell/class_root.h"
#include "common/win32/handles.h"

namespace dexalo::win32 {

class RegistryClassRoot final : public ClassRoot {
public:
    enum class Scope {
        Classes,     // HKEY_CLASSES_ROOT: the machine-wide classes, merged with the user's
        UserClasses, // HKEY_CURRENT_USER\Software\Classes, which a standard user may write
    };
    explicit RegistryClassRoot(Scope scope = Scope::Classes);

    RegistryText ReadValue(const std::wstring& subKey, const std::wstring& valueName) override;
    RegistryChange WriteString(const std::wstring& subKey, const std::wstring& valueName,
                               const std::wstring& data) override;
    bool HasSubKeys(const std::wstring& subKey) override;
    RegistryChange DeleteValue(const std::wstring& subKey, const std::wstring& valueName) override;
    RegistryChange DeleteKey(const std::wstring& subKey) override;
    RegistryChange DeleteTree(const std::wstring& subKey) override;
    std::optional<std::vector<std::wstring>> ValueNames(const std::wstring& subKey) override;
    bool Carries(std::wstring_view text) override;
    void NotifyAssociationsChanged() override;

private:
    // The full key name below base_, in the ANSI code page; nullopt when it cannot be carried.
    std::optional<std::string> Key(const std::wstring& subKey) const;
    // Opens key for removal; status Ok with no key when it does not exist (it counts as removed).
    UniqueRegKey OpenForRemoval(const std::string& key, RegistryStatus& status);

    HKEY base_;
    std::string prefix_;
};

} // namespace dexalo::win32
