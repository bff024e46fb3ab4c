#pragma once
// The two registry routines of the settings window, over the class root.
#include <string>

#include "shell/class_root.h"

namespace dexalo {

// The default value of SubKey, or "" when the key or value is missing.
std::wstring Vanto_GETREG(ClassRoot& root, const std::wstring& SubKey);

// Creates SubKey if needed and sets its value KeyName ("" = default value) to DataValue.
// Not done when the write could not be made, and then why.
RegistryChange Vanto_SEBU(ClassRoot& root, const std::wstring& SubKey, const std::wstring& KeyName,
                          const std::wstring& DataValue);

} // namespace dexalo
