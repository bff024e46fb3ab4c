#include "startup/main.h"

#include "startup/guarded.h"

namespace dexalo {

std::vector<std::wstring> SplitArguments(std::wstring_view text) {
    std::vector<std::wstring> pieces(1);
    bool quoted = false;
    for (const wchar_t c : text) {
        if (c == L'"') {
            quoted = !quoted;
        } else if (c == L' ' && !quoted) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(c);
        }
    }
    return pieces;
}

RunMode Main(ModuleState& state, StartupHost& host, SettingsStorage& storage, const AnsiCodec& codec) {
    ReadSettings(state, host.Program(), storage, codec);

    const std::wstring text = host.ArgumentText();
    if (text.empty()) {
        host.LoadWindow();
        return RunMode::Window;
    }

    // The shell verb passes a document path unquoted; a path with blanks that names a
    // file is one piece, not several failing ones.
    const bool hasBlank = text.find(L' ') != std::wstring::npos;
    const bool hasWildcard = text.find_first_of(L"*?") != std::wstring::npos;
    const bool wholeIsFile = hasBlank && !hasWildcard && host.IsExistingFile(text);
    const std::vector<std::wstring> pieces = wholeIsFile ? std::vector<std::wstring>{text} : SplitArguments(text);

    for (const auto& piece : pieces) {
        Guarded([&] { host.ExtractFile(piece); }); // a piece that fails is skipped
    }
    return RunMode::CommandLine;
}

} // namespace dexalo
