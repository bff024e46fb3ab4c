#pragma once
// The settings file: program folder + "\設定フォルダ\設定.ini", two CR LF lines in the ANSI code page.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "startup/module.h"

namespace dexalo {

// Conversion between the program's wide text and the system's ANSI code page.
class AnsiCodec {
public:
    virtual ~AnsiCodec() = default;
    virtual std::string ToAnsi(std::wstring_view text) const = 0;
    virtual std::wstring FromAnsi(std::string_view bytes) const = 0;
    // False when some character has no form in the code page and would be written as another.
    virtual bool Holds(std::wstring_view text) const = 0;
};

// Whole-file byte access for the settings file.
class SettingsStorage {
public:
    virtual ~SettingsStorage() = default;
    // nullopt when the file cannot be opened or read.
    virtual std::optional<std::string> ReadAll(const std::wstring& path) = 0;
    // Replaces the file whole, or leaves any old one as it was and returns false.
    virtual bool WriteAll(const std::wstring& path, const std::string& bytes) = 0;
};

std::wstring SettingsFolderPath(const ProgramLocation& program); // ...\設定フォルダ
std::wstring SettingsFilePath(const ProgramLocation& program);   // ...\設定フォルダ\設定.ini

struct Settings {
    std::int32_t OptionFlags = 1;
    std::wstring DestFolder;
};

// Parses the file's bytes; nullopt on every failure that falls back to the defaults.
std::optional<Settings> ParseSettings(std::string_view bytes, const AnsiCodec& codec);
std::string FormatSettings(const Settings& settings, const AnsiCodec& codec);
Settings DefaultSettings(const ProgramLocation& program);

// Reads the file into state.DestFolder / state.OptionFlags, or sets both defaults.
void ReadSettings(ModuleState& state, const ProgramLocation& program, SettingsStorage& storage,
                  const AnsiCodec& codec);
// Writes both values as they stand; false when the file could not be created, or when the
// folder has characters the code page cannot hold (the file would name another folder).
bool WriteSettings(const ModuleState& state, const ProgramLocation& program, SettingsStorage& storage,
                   const AnsiCodec& codec);

} // namespace dexalo
