#include "shell/registry.h"

namespace dexalo {

std::wstring Vanto_GETREG(ClassRoot& root, const std::wstring& SubKey) {
    return root.ReadValue(SubKey, L"").text;
}

RegistryChange Vanto_SEBU(ClassRoot& root, const std::wstring& SubKey, const std::wstring& KeyName,
                          const std::wstring& DataValue) {
    return root.WriteString(SubKey, KeyName, DataValue);
}

} // namespace dexalo
