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
// one destination even when it holds blanks (the form `x "a.yz1" D:\My Files\\`). A line
// without quotes that holds " /f=" names the archive before it and the destination after it
// (the form `C:\Arc\mail.ish /f=C:\Arc\mail\`).
// nullopt when no archive is named or the command is not extraction.
std::optional<CommandLine> ParseCommandLine(std::wstring_view line);

// A destination folder as given: trailing separators removed (a root such as "C:\\" stays),
// "." when empty.
std::wstring FolderArgument(std::wstring folder);

} // namespace dexalo::archivers
