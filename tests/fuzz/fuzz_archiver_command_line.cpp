// The main operation's command line, as our archiver libraries parse it. Any text: what
// the parser accepts names an archive and a destination, and the command lines that
// Dexalo builds come back as exactly the archive and destination they were built from,
// so entries (each checked on its own by the engine) land under the folder Dexalo chose.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "check.h"
#include "engine/command_line.h"
#include "extract/command_line.h"
#include "latin1.h"

namespace {

using dexalo::ArchiveType;
using dexalo::Placement;
using dexalo::archivers::CommandLine;
using dexalo::archivers::ParseCommandLine;

constexpr ArchiveType kTypes[] = {ArchiveType::LZH, ArchiveType::ZIP, ArchiveType::CAB, ArchiveType::TAR,
                                  ArchiveType::ARJ, ArchiveType::YZ1, ArchiveType::RAR, ArchiveType::BGA};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Folder as the library is to use it: without trailing separators, but a root stays one.
std::wstring Trimmed(std::wstring folder) {
    while (folder.size() > 1 && IsSeparator(folder.back()) && !(folder.size() == 3 && folder[1] == L':'))
        folder.pop_back();
    return folder.empty() ? L"." : folder;
}

void CheckAccepted(const CommandLine& parsed) {
    FUZZ_CHECK(!parsed.archive.empty(), "an accepted line names an archive");
    FUZZ_CHECK(!parsed.destination.empty(), "an accepted line has a destination");
    FUZZ_CHECK(parsed.archive.find(L'"') == std::wstring::npos &&
                   parsed.destination.find(L'"') == std::wstring::npos,
               "quotation marks are never part of a path");
    FUZZ_CHECK(parsed.destination == Trimmed(parsed.destination), "the destination has no trailing separator");
}

// Any text. A one-letter command other than extraction is refused outright.
void FuzzAnyText(const std::wstring& line) {
    const std::optional<CommandLine> parsed = ParseCommandLine(line);
    const std::size_t begin = line.find_first_not_of(L' ');
    if (begin != std::wstring::npos) {
        const std::wstring first = line.substr(begin, line.find(L' ', begin) - begin);
        const bool oneLetter = first.size() == 1 && first[0] > L' ' && first[0] != L'"' && first[0] != L'-';
        if (oneLetter && first != L"x" && first != L"X" && first != L"e" && first != L"E")
            FUZZ_CHECK(!parsed, "a command other than extraction is refused");
    } else {
        FUZZ_CHECK(!parsed, "a blank line is refused");
    }
    if (parsed) CheckAccepted(*parsed);
}

// Paths as Windows allows them: no control characters and no quotation marks.
std::wstring ConsumePath(FuzzedDataProvider& input, bool raw) {
    static constexpr wchar_t kAlphabet[] = {L'a', L' ', L'\\', L'/', L'-', L'.', L':', L'C',
                                            L'x', L'*', L'e', L'\u00E9', L'\\', L' ', L'-', L'b'};
    std::wstring path;
    for (const char c : input.ConsumeRandomLengthString(48)) {
        const auto b = static_cast<unsigned char>(c);
        const wchar_t w = raw ? static_cast<wchar_t>(b) : kAlphabet[b % 16];
        path.push_back(w < L' ' || w == L'"' || (w >= 0x7F && w < 0xA0) ? L'_' : w);
    }
    return path;
}

// Dexalo's own lines: option text, archive path and destination, in every form it builds.
void FuzzDexaloLine(FuzzedDataProvider& input) {
    const ArchiveType type = input.PickValueInArray(kTypes);
    const Placement placement = input.ConsumeBool() ? Placement::Direct : Placement::SubFolder;
    const bool raw = input.ConsumeBool();
    const std::wstring archive = ConsumePath(input, raw);
    // The destination root ends in a backslash, or is empty for an archive named without a folder.
    std::wstring destination = ConsumePath(input, raw);
    if (!destination.empty() && destination.back() != L'\\') destination += L'\\';
    if (archive.empty()) return; // never passed on: EXTRACT_FILE refuses an empty name
    // YZ1's unquoted form cannot carry blanks at the start of the destination; no folder
    // Dexalo extracts into starts with one.
    const bool unquoted = type == ArchiveType::YZ1 && placement == Placement::Direct;
    if (unquoted && destination.starts_with(L' ')) return;

    const std::wstring line = dexalo::BuildCommandLine(type, archive, destination, placement);
    const std::optional<CommandLine> parsed = ParseCommandLine(line);
    FUZZ_CHECK(parsed, "Dexalo's own command line is accepted");
    CheckAccepted(*parsed);
    FUZZ_CHECK(parsed->archive == archive, "the archive is the one Dexalo named");
    FUZZ_CHECK(parsed->destination == Trimmed(destination), "the destination is the one Dexalo chose");
    FUZZ_CHECK(parsed->patterns.empty(), "Dexalo's lines extract every entry");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1) {
        FuzzedDataProvider input(data + 1, size - 1);
        FuzzDexaloLine(input);
    } else {
        FuzzAnyText(dexalo::fuzz::Widen({reinterpret_cast<const char*>(data) + 1, size - 1}));
    }
    return 0;
}
