#include "win32/shell/registry_class_root.h"

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "common/win32/ansi_text.h"
#include "common/win32/handles.h"
#include "win32/shell/registry_read.h"
#include "win32/shell/shell_notify.h"

namespace dexalo::win32 {
namespace {

// Text for the A functions. nullopt when it holds a NUL (the call would see a shorter name)
// or a character the ANSI code page cannot carry (the call would name another key or path).
std::optional<std::string> ToAnsi(std::wstring_view text) {
    if (text.find(L'\0') != std::wstring_view::npos) return std::nullopt;
    return ExactAnsi(text);
}

RegistryStatus StatusOf(LSTATUS status) {
    switch (status) {
    case ERROR_SUCCESS: return RegistryStatus::Ok;
    case ERROR_FILE_NOT_FOUND: return RegistryStatus::NotFound;
    case ERROR_ACCESS_DENIED: return RegistryStatus::Denied;
    default: return RegistryStatus::Failed;
    }
}

RegistryChange Change(LSTATUS status) { return {StatusOf(status)}; }

} // namespace

RegistryClassRoot::RegistryClassRoot(Scope scope)
    : base_(scope == Scope::Classes ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER),
      prefix_(scope == Scope::Classes ? "" : "Software\\Classes\\") {}

std::optional<std::string> RegistryClassRoot::Key(const std::wstring& subKey) const {
    auto key = ToAnsi(subKey);
    if (key) key->insert(0, prefix_);
    return key;
}

bool RegistryClassRoot::Carries(std::wstring_view text) { return ToAnsi(text).has_value(); }

UniqueRegKey RegistryClassRoot::OpenForRemoval(const std::string& key, RegistryStatus& status) {
    UniqueRegKey opened;
    const LSTATUS opening = ::RegOpenKeyExA(base_, key.c_str(), 0, KEY_ALL_ACCESS, opened.put());
    status = opening == ERROR_FILE_NOT_FOUND ? RegistryStatus::Ok : StatusOf(opening);
    if (opening != ERROR_SUCCESS) opened.reset();
    return opened;
}

std::optional<std::vector<std::wstring>> RegistryClassRoot::ValueNames(const std::wstring& subKey) {
    const auto key = Key(subKey);
    UniqueRegKey opened;
    if (!key || ::RegOpenKeyExA(base_, key->c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return std::nullopt;
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        char name[16384]; // the registry's longest value name, and its terminating zero
        DWORD length = sizeof name;
        const LSTATUS status =
            ::RegEnumValueA(opened.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return names;
        if (status != ERROR_SUCCESS) return std::nullopt;
        names.push_back(WideFromAnsi(std::string_view(name, length)));
    }
}

RegistryText RegistryClassRoot::ReadValue(const std::wstring& subKey, const std::wstring& valueName) {
    const auto key = Key(subKey);
    const auto name = ToAnsi(valueName);
    if (!key || !name) return {{}, RegistryStatus::Failed};

    // Read access only: a user who may not write the class root still sees what is there.
    UniqueRegKey opened;
    LSTATUS status = ::RegOpenKeyExA(base_, key->c_str(), 0, KEY_READ, opened.put());
    if (status != ERROR_SUCCESS) return {{}, StatusOf(status)};

    std::array<BYTE, kReadBufferSize> buffer;
    std::string bytes = ReadValueBytes(opened.get(), name->c_str(), buffer, &status);
    if (status != ERROR_SUCCESS) return {{}, StatusOf(status)};
    return {WideFromAnsi(bytes), RegistryStatus::Ok};
}

RegistryChange RegistryClassRoot::WriteString(const std::wstring& subKey, const std::wstring& valueName,
                                              const std::wstring& data) {
    const auto key = Key(subKey);
    const auto name = ToAnsi(valueName);
    const auto bytes = ToAnsi(data);
    if (!key || !name || !bytes) return {RegistryStatus::Failed};

    char noClass[] = "";
    SECURITY_ATTRIBUTES security{}; // length 0, no descriptor, not inherited: default security
    UniqueRegKey created;
    DWORD disposition = 0;
    const RegistryChange creation = Change(::RegCreateKeyExA(base_, key->c_str(), 0, noClass, REG_OPTION_NON_VOLATILE,
                                                             KEY_ALL_ACCESS, &security, created.put(), &disposition));
    if (!creation) return creation;
    // The converted text and its terminating zero.
    return Change(::RegSetValueExA(created.get(), name->c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(bytes->c_str()), static_cast<DWORD>(bytes->size() + 1)));
}

bool RegistryClassRoot::HasSubKeys(const std::wstring& subKey) {
    const auto key = Key(subKey);
    if (!key) return true;
    UniqueRegKey opened;
    const LSTATUS status = ::RegOpenKeyExA(base_, key->c_str(), 0, KEY_READ, opened.put());
    if (status == ERROR_FILE_NOT_FOUND) return false;
    DWORD subKeys = 0;
    if (status != ERROR_SUCCESS ||
        ::RegQueryInfoKeyA(opened.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return true; // unknown: the caller then takes the careful way
    }
    return subKeys != 0;
}

RegistryChange RegistryClassRoot::DeleteValue(const std::wstring& subKey, const std::wstring& valueName) {
    const auto key = Key(subKey);
    const auto name = ToAnsi(valueName);
    if (!key || !name) return {RegistryStatus::Failed};
    RegistryStatus opening{};
    const UniqueRegKey opened = OpenForRemoval(*key, opening);
    if (!opened) return {opening};
    const LSTATUS status = ::RegDeleteValueA(opened.get(), name->c_str());
    return Change(status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status);
}

RegistryChange RegistryClassRoot::DeleteKey(const std::wstring& subKey) {
    const auto key = Key(subKey);
    if (!key || subKey.empty()) return {RegistryStatus::Failed}; // never the class root itself
    RegistryStatus opening{};
    const UniqueRegKey opened = OpenForRemoval(*key, opening);
    if (!opened) return {opening};
    // The empty name deletes the opened key itself; the platform refuses while it has sub-keys.
    return Change(::RegDeleteKeyA(opened.get(), ""));
}

RegistryChange RegistryClassRoot::DeleteTree(const std::wstring& subKey) {
    const auto key = Key(subKey);
    if (!key || subKey.empty()) return {RegistryStatus::Failed};
    RegistryStatus opening{};
    const UniqueRegKey opened = OpenForRemoval(*key, opening);
    if (!opened) return {opening};
    // Everything below the key, then the key itself.
    const RegistryChange below = Change(::RegDeleteTreeA(opened.get(), nullptr));
    if (!below) return below;
    return Change(::RegDeleteKeyA(opened.get(), ""));
}

void RegistryClassRoot::NotifyAssociationsChanged() { NotifyShellAssociationsChanged(); }

} // namespace dexalo::win32
