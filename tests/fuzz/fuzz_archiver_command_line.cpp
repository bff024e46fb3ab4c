// The main operation's command line, as our archiver libraries parse it. Any text: what
// the parser accepts names an archive and a destination, and the command lines that
// Dexalo builds come back as exactly the archive and destination they were built from,
// so entries (each checked on its own by the engine) land under the folder Dexalo chose.
#include <cstdint>

#include "engine/pipeline/command_line.h"
#include "extract/command_line.h"
#include "fuzz_support.h"

using dexalo::ArchiveType;
using dexalo::fuzz::Check;
using dexalo::archivers::ParseCommandLine;

// The folder as the library is to use it: without trailing separators, but a root stays one.
std::wstring Trimmed(std::wstring folder) {
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/') && !(folder.size() == 3 && folder[1] == L':'))
        folder.pop_back();
    return folder.empty() ? L"." : folder;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (!(data[0] & 1)) {
        // Any text. A one-letter command other than extraction is refused outright.
        const std::wstring line = dexalo::fuzz::Widen({reinterpret_cast<const char*>(data) + 1, size - 1});
        const auto parsed = ParseCommandLine(line);
        const std::size_t begin = line.find_first_not_of(L' ');
        const std::wstring first = begin == std::wstring::npos ? L"" : line.substr(begin, line.find(L' ', begin) - begin);
        if (first.empty() || (first.size() == 1 && first[0] > L' ' && first.find_first_of(L"\"-xXeE") != 0))
            Check(!parsed, "a blank line or a command other than extraction is refused");
        Check(!parsed || (!parsed->archive.empty() && (parsed->archive + parsed->destination).find(L'"') == std::wstring::npos &&
                           !parsed->destination.empty() && parsed->destination == Trimmed(parsed->destination)),
              "an accepted line names an archive and a destination without quotation marks or a trailing separator");
        return 0;
    }

    // Dexalo's own lines, in every form it builds, over paths without control characters
    // and quotation marks, as Windows allows them.
    static constexpr ArchiveType kTypes[] = {ArchiveType::LZH, ArchiveType::ZIP, ArchiveType::CAB, ArchiveType::TAR,
                                             ArchiveType::ARJ, ArchiveType::YZ1, ArchiveType::RAR, ArchiveType::BGA};
    static constexpr wchar_t kAlphabet[] = {L'a', L' ', L'\\', L'/', L'-', L'.', L':', L'C',
                                            L'x', L'*', L'e', L'\u00E9', L'\\', L' ', L'-', L'b'};
    FuzzedDataProvider input(data + 1, size - 1);
    const ArchiveType type = input.PickValueInArray(kTypes);
    const auto placement = input.ConsumeBool() ? dexalo::Placement::Direct : dexalo::Placement::SubFolder;
    const bool raw = input.ConsumeBool();
    std::wstring archive = dexalo::fuzz::ConsumeText(input, kAlphabet, 48, raw);
    std::wstring destination = dexalo::fuzz::ConsumeText(input, kAlphabet, 48, raw);
    for (std::wstring* path : {&archive, &destination})
        for (wchar_t& c : *path) c = c < L' ' || c == L'"' || (c >= 0x7F && c < 0xA0) ? L'_' : c;
    // The root ends in a backslash, or is empty for an archive named without a folder.
    if (!destination.empty() && !destination.ends_with(L'\\')) destination += L'\\';
    // EXTRACT_FILE refuses an empty name; no folder Dexalo extracts into starts with a blank,
    // which YZ1's unquoted form could not carry.
    const bool unquoted = type == ArchiveType::YZ1 && placement == dexalo::Placement::Direct;
    if (archive.empty() || (unquoted && destination.starts_with(L' '))) return 0;

    const auto parsed = ParseCommandLine(dexalo::BuildCommandLine(type, archive, destination, placement));
    Check(parsed && parsed->archive == archive && parsed->destination == Trimmed(destination) &&
              parsed->patterns.empty(),
          "Dexalo's own line gives back the archive and destination it chose, every entry");
    return 0;
}
