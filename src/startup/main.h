#pragma once
// The entry routine: settings first, then either command-line extraction or the window.
#include <string>
#include <string_view>
#include <vector>

#include "startup/module.h"
#include "startup/settings.h"

namespace dexalo {

class StartupHost {
public:
    virtual ~StartupHost() = default;
    virtual ProgramLocation Program() = 0;
    // The process's command line after the program's own name.
    virtual std::wstring ArgumentText() = 0;
    // Exact test for an existing file (no wildcards): lets an unquoted path with blanks through whole.
    virtual bool IsExistingFile(const std::wstring& path) = 0;
    virtual void ExtractFile(const std::wstring& path) = 0; // EXTRACT_FILE
    virtual void LoadWindow() = 0;                          // Form1
};

enum class RunMode { CommandLine, Window };

// Cuts the argument text into paths. Blanks separate; a double quotation mark groups
// blanks into a piece and is dropped. Two blanks in a row still give an empty piece.
std::vector<std::wstring> SplitArguments(std::wstring_view text);

// Command line mode returns after the last piece; the caller then ends the process.
RunMode Main(ModuleState& state, StartupHost& host, SettingsStorage& storage, const AnsiCodec& codec);

} // namespace dexalo
