// Stored entry paths and link targets from an archive: any text. Whatever the engine lets
// through, joined to the destination the way Windows reads paths, stays inside the destination
// under names Windows keeps as they are; each stored name keeps its place (nothing dropped but
// "." and empty names), and a name Windows could hold as stored is written so. Two entries land
// on one file only when they were stored under the same path.
#include <cstdint>
#include <optional>
#include <regex>
#include <vector>

#include "engine/names/written_names.h"
#include "fuzz_support.h"

using dexalo::fuzz::Check;

using dexalo::archivers::Components;
using Names = std::vector<std::wstring>;

// How Windows reads a name: trailing dots and blanks dropped, letter case ignored.
std::wstring Trimmed(std::wstring name) {
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
    return name;
}
std::wstring Folded(std::wstring name) {
    for (wchar_t& c : name) c = c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c;
    return Trimmed(name);
}

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (and superscript digits), CONIN$, CONOUT$, CLOCK$:
// Windows opens the device whatever folder or extension goes with it.
bool NamesDevice(const std::wstring& name) {
    static const std::wregex device(L"con|prn|aux|nul|conin\\$|conout\\$|clock\\$|(com|lpt)[0-9\u00B9\u00B2\u00B3]",
                                    std::regex::icase);
    return std::regex_match(Trimmed(name.substr(0, name.find_first_of(L".:"))), device);
}

// The names between separators, without empty ones and ".".
Names Split(const std::wstring& path) {
    Names names(1);
    for (const wchar_t c : path + L'/') {
        if (c != L'/' && c != L'\\') { names.back().push_back(c); continue; }
        if (names.back().empty() || names.back() == L".") names.back().clear();
        else names.emplace_back();
    }
    names.pop_back();
    return names;
}

// The names of a path after Windows resolves it; nullopt when ".." climbs above its start.
// ("..." and ".. " count as a climb, to be safe.)
std::optional<Names> Resolve(const std::wstring& path) {
    Names names;
    for (const auto& part : Split(path)) {
        if (!Trimmed(part).empty()) names.push_back(Folded(part));
        else if (names.empty()) return std::nullopt;
        else names.pop_back();
    }
    return names;
}

// What Windows would write exactly as stored, into its folder, without meaning a device.
bool Kept(const std::wstring& name) {
    return name.find_first_of(L"/\\:<>\"|?*") == std::wstring::npos && Trimmed(name) == name && !name.empty() &&
           !NamesDevice(name) && std::none_of(name.begin(), name.end(), [](wchar_t c) { return c < 0x20; });
}

void CheckNames(const Components& names) {
    for (const auto& name : names) Check(Kept(name), "every name written is one Windows keeps as it is");
}

std::wstring Joined(const Components& names, std::size_t count) {
    std::wstring path = L"C:\\Users\\me\\out";
    for (std::size_t i = 0; i < count; ++i) path += L"\\" + names[i];
    return path;
}

bool Absolute(const std::wstring& path) { return std::regex_search(path, std::wregex(L"^([/\\\\]|[\\s\\S]:)")); }


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr wchar_t kAlphabet[] = {L'a', L'.', L'/', L'\\', L' ', L':', L'C', L'o', L'n',
                                            L'1', L'$', L'*', L'\u00B9', L'N', L'u', L'l'};
    FuzzedDataProvider input(data, size);
    const bool raw = input.ConsumeBool();
    const std::wstring stored = dexalo::fuzz::ConsumeText(input, kAlphabet, 64, raw);
    const std::wstring target = dexalo::fuzz::ConsumeText(input, kAlphabet, 64, raw);
    const Names root = *Resolve(Joined({}, 0));

    const std::optional<Components> names = dexalo::archivers::SafeComponents(stored);
    const Names parts = Split(stored);
    const bool climbs = std::regex_search(L"/" + stored + L"/", std::wregex(L"[/\\\\]\\.\\.[/\\\\]"));
    Check(!names == (stored.empty() || Absolute(stored) || climbs), "only a path that leaves the destination is refused");
    if (!names) return 0;
    Check(names->size() == parts.size(), "every stored name keeps its place");
    for (std::size_t i = 0; i < parts.size(); ++i)
        Check(!Kept(parts[i]) || (*names)[i] == parts[i], "a name Windows keeps is written as stored");
    CheckNames(*names);

    // The two texts as two files of one archive: one file only when stored alike.
    dexalo::archivers::WrittenNames written;
    const auto first = written.Next(stored), second = written.Next(target);
    const auto file = [](const std::wstring& path) { return !path.empty() && path.back() != L'/' && path.back() != L'\\'; };
    if (second && !first->empty() && !second->empty() && file(stored) && file(target)) {
        Names a, b;
        for (const auto& name : *first) a.push_back(Folded(name));
        for (const auto& name : *second) b.push_back(Folded(name));
        Check((a == b) == (parts == Split(target)), "files stored apart are written apart");
    }
    if (names->empty()) return 0;

    // A link stored at `names` pointing at `target` leads inside the destination (itself
    // included), to where the engine says.
    const std::optional<Components> leads = dexalo::archivers::SafeLinkTarget(*names, target);
    if (!leads) return 0;
    Check(!Absolute(target), "absolute link targets are refused");
    CheckNames(*leads);
    Names expected = root;
    for (const auto& name : *leads) expected.push_back(Folded(name));
    Check(Resolve(Joined(*names, names->size() - 1) + L"\\" + dexalo::archivers::WindowsLinkText(target)) == expected,
          "a link leads where the engine says");
    return 0;
}
