#pragma once
// The class root HKEY_CLASSES_ROOT through the single-byte registry functions: names and data
// travel in the ANSI code page. Reads use read access only and a 517-byte buffer
// (registry_read.h); a value too long for it reads as "".

#include "shell/class_root.h"

namespace dexalo::win32 {

class RegistryClassRoot final : public ClassRoot {
public:
    std::wstring ReadValue(const std::wstring& subKey, const std::wstring& valueName) override;
    bool WriteString(const std::wstring& subKey, const std::wstring& valueName,
                     const std::wstring& data) override;
    bool HasSubKeys(const std::wstring& subKey) override;
    bool DeleteValue(const std::wstring& subKey, const std::wstring& valueName) override;
    bool DeleteKey(const std::wstring& subKey) override;
    bool DeleteTree(const std::wstring& subKey) override;
    void NotifyAssociationsChanged() override;
};

} // namespace dexalo::win32
