#pragma once
// Win32 side of start-up: where the program lives, its argument text, the settings bytes.
#include <windows.h>

#include <string>
#include <string_view>

#include "common/win32/module_path.h"
#include "startup/module.h"
#include "startup/settings.h"

namespace dexalo::win32 {

class AnsiCodePage : public AnsiCodec {
public:
    std::string ToAnsi(std::wstring_view text) const override;
    std::wstring FromAnsi(std::string_view bytes) const override;
    bool Holds(std::wstring_view text) const override;
};

class FileSettingsStorage : public SettingsStorage {
public:
    std::optional<std::string> ReadAll(const std::wstring& path) override;
    bool WriteAll(const std::wstring& path, const std::string& bytes) override;
};

// Folder (no trailing backslash except at a drive root) and name without extension.
ProgramLocation LocationFromPath(const std::wstring& modulePath);
// The command line after the program's own name and the blanks that follow it.
std::wstring ArgumentTextFrom(std::wstring_view commandLine);

} // namespace dexalo::win32
