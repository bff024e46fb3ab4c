#pragma once
// The registry's class root as the association code sees it. On Windows this is
// HKEY_CLASSES_ROOT; the native tests use MemoryClassRoot.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dexalo {

class ClassRoot {
public:
    virtual ~ClassRoot() = default;

    // The value valueName ("" = the key's default value) of subKey, opened for reading only.
    // A missing key or value, or one that cannot be read, yields "".
    virtual std::wstring ReadValue(const std::wstring& subKey, const std::wstring& valueName) = 0;

    // Creates subKey and any missing keys above it, then sets valueName to the string data.
    // False when the key could not be created or the value not set.
    virtual bool WriteString(const std::wstring& subKey, const std::wstring& valueName,
                             const std::wstring& data) = 0;

    // True when subKey has at least one sub-key, or when that cannot be found out;
    // false when it has none or does not exist.
    virtual bool HasSubKeys(const std::wstring& subKey) = 0;

    // The three removals report true when the thing is gone afterwards (a missing one counts).
    virtual bool DeleteValue(const std::wstring& subKey, const std::wstring& valueName) = 0;
    // The key itself only: fails, as the platform does, while it still has sub-keys.
    virtual bool DeleteKey(const std::wstring& subKey) = 0;
    // The key with everything below it.
    virtual bool DeleteTree(const std::wstring& subKey) = 0;

    // The names of subKey's values ("" for the default value); nullopt when the key is missing
    // or cannot be read.
    virtual std::optional<std::vector<std::wstring>> ValueNames(const std::wstring& subKey) = 0;

    // False when text cannot pass through this root unchanged (on Windows: a character the
    // ANSI code page cannot carry).
    virtual bool Carries(std::wstring_view text) = 0;

    // After a failed write or removal: true when this user may not change the key (access
    // denied), as a standard user, or an administrator without elevation, at the machine-wide classes.
    virtual bool LastFailureWasDenied() const = 0;

    // Tells the shell that file associations changed, so it refreshes icons and verbs.
    virtual void NotifyAssociationsChanged() = 0;
};

} // namespace dexalo
