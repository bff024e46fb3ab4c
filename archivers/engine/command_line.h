#pragma once
// The main operation's command line: [command] {-switch} archive [destination] {pattern}.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dexalo::archivers {

struct CommandLine {
    std::vector<std::wstring> switches;  // accepted and otherwise ignored: we always extract
    std::wstring archive;
    std::wstring destination;            // trailing separators removed; "." when none was given
    std::vector<std::wstring> patterns;  // extract only the entries matching one of them
};

// Blanks separate words; double quotes group a word and are dropped. A leading "x" is the
// extract command. After the archive, an unquoted remainder that ends in a backslash is
// one destination even when it holds blanks (the form `x "a.yz1" D:\My Files\\`).
// nullopt when no archive is named or the command is not extraction.
std::optional<CommandLine> ParseCommandLine(std::wstring_view line);

} // namespace dexalo::archivers
