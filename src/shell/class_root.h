#pragma once
// The registry's class root as the association code sees it. On Windows this is
// HKEY_CLASSES_ROOT; the native tests use MemoryClassRoot.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dexalo {

// How a call on the class root ended.
enum class RegistryStatus { Ok, NotFound, Denied, Failed };

// What a read found: the text, or why there is none.
struct RegistryText {
    std::wstring text;  // "" unless status is Ok
    RegistryStatus status = RegistryStatus::Ok;
    bool operator==(std::wstring_view other) const { return text == other; }
};

// How a write or removal ended: true when done.
struct RegistryChange {
    RegistryStatus status = RegistryStatus::Ok;
    explicit operator bool() const { return status == RegistryStatus::Ok; }
};

class ClassRoot {
public:
    virtual ~ClassRoot() = default;

    // The value valueName ("" = the key's default value) of subKey, opened for reading only.
    // A missing key or value (NotFound), or one that cannot be read, yields "".
    virtual RegistryText ReadValue(const std::wstring& subKey, const std::wstring& valueName) = 0;

    // Creates subKey and any missing keys above it, then sets valueName to the string data.
    // Not done when the key could not be created or the value not set: Denied when this user
    // may not change the key (a standard user, or an administrator without elevation, at the
    // machine-wide classes).
    virtual RegistryChange WriteString(const std::wstring& subKey, const std::wstring& valueName,
                                       const std::wstring& data) = 0;

    // True when subKey has at least one sub-key, or when that cannot be found out;
    // false when it has none or does not exist.
    virtual bool HasSubKeys(const std::wstring& subKey) = 0;

    // The three removals are done when the thing is gone afterwards (a missing one counts).
    virtual RegistryChange DeleteValue(const std::wstring& subKey, const std::wstring& valueName) = 0;
    // The key itself only: fails, as the platform does, while it still has sub-keys.
    virtual RegistryChange DeleteKey(const std::wstring& subKey) = 0;
    // The key with everything below it.
    virtual RegistryChange DeleteTree(const std::wstring& subKey) = 0;

    // The names of subKey's values ("" for the default value); nullopt when the key is missing
    // or cannot be read.
    virtual std::optional<std::vector<std::wstring>> ValueNames(const std::wstring& subKey) = 0;

    // False when text cannot pass through this root unchanged (on Windows: a character the
    // ANSI code page cannot carry).
    virtual bool Carries(std::wstring_view text) = 0;

    // Tells the shell that file associations changed, so it refreshes icons and verbs.
    virtual void NotifyAssociationsChanged() = 0;
};

} // namespace dexalo
