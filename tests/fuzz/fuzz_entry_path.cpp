// Stored entry paths and link targets from an archive: any text. Whatever the engine's
// check lets through, joined to the destination the way Windows reads paths, stays inside
// the destination, and keeps every name of the stored path (nothing dropped but "." and
// empty names, nothing invented).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "engine/entry_path.h"
#include "windows_path.h"

namespace {

using dexalo::archivers::Components;

// Mostly names from characters that matter to paths, sometimes any Latin-1 text
// (which holds the superscript digits that Windows reads as port numbers).
std::wstring ConsumePath(FuzzedDataProvider& input, bool raw) {
    static constexpr wchar_t kAlphabet[] = {L'a', L'.', L'/', L'\\', L' ', L':', L'C', L'o', L'n',
                                            L'1', L'$', L'*', L'\u00B9', L'N', L'u', L'l'};
    std::wstring path;
    for (const char c : input.ConsumeRandomLengthString(64)) {
        const auto b = static_cast<unsigned char>(c);
        path.push_back(raw ? static_cast<wchar_t>(b) : kAlphabet[b % 16]);
    }
    return path;
}

std::vector<std::wstring> Names(std::wstring_view path) {
    std::vector<std::wstring> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'/' && path[i] != L'\\') continue;
        const std::wstring_view part = path.substr(start, i - start);
        if (!part.empty() && part != L".") names.emplace_back(part);
        start = i + 1;
    }
    return names;
}

std::wstring Joined(const Components& names, std::size_t count) {
    std::wstring path;
    for (std::size_t i = 0; i < count; ++i) path += (i ? L"\\" : L"") + names[i];
    return path;
}

bool Absolute(std::wstring_view path) {
    return !path.empty() && (path[0] == L'/' || path[0] == L'\\' || (path.size() >= 2 && path[1] == L':'));
}

void CheckNames(const Components& names) {
    for (const auto& name : names) FUZZ_CHECK(!dexalo::fuzz::WhyNameLeaves(name), "every name let through stays in its folder");
}

const std::wstring kDestination = L"C:\\Users\\me\\Desktop\\out";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool raw = input.ConsumeBool();
    const std::wstring stored = ConsumePath(input, raw);
    const std::wstring target = ConsumePath(input, raw);

    const std::optional<Components> names = dexalo::archivers::SafeComponents(stored);
    if (names) {
        FUZZ_CHECK(!Absolute(stored), "rooted, drive and UNC paths are refused");
        FUZZ_CHECK(*names == Names(stored), "the names are the stored path's own");
        CheckNames(*names);
        if (!names->empty()) {
            FUZZ_CHECK(dexalo::fuzz::StaysBelow(kDestination, Joined(*names, names->size())),
                       "an entry lands inside the destination");
        }
    } else {
        // Plain relative names of letters and digits are always let through.
        bool plain = !stored.empty() && stored.front() != L'/' && stored.back() != L'/';
        for (std::size_t i = 0; plain && i < stored.size(); ++i) {
            const wchar_t c = stored[i];
            plain = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
                    (c == L'/' && stored[i - 1] != L'/');
        }
        for (const auto& name : Names(stored)) plain = plain && !dexalo::fuzz::NamesDevice(name);
        FUZZ_CHECK(!plain, "a plain relative path is accepted");
    }

    if (!names || names->empty()) return 0;
    // A link stored at `names` pointing at `target`: where it leads must be inside the
    // destination (the destination itself included) and be what the engine says.
    const std::optional<Components> leads = dexalo::archivers::SafeLinkTarget(*names, target);
    if (!leads) return 0;
    FUZZ_CHECK(!Absolute(target), "absolute link targets are refused");
    CheckNames(*leads);
    std::wstring from = kDestination;
    if (names->size() > 1) from += L"\\" + Joined(*names, names->size() - 1);
    const auto resolved = dexalo::fuzz::Resolve(from + L"\\" + target);
    const auto root = dexalo::fuzz::Resolve(kDestination);
    FUZZ_CHECK(resolved && root && resolved->size() >= root->size(), "a link target stays inside the destination");
    std::vector<std::wstring> expected(*root);
    for (const auto& name : *leads) expected.push_back(dexalo::fuzz::Folded(dexalo::fuzz::TrimDotsAndBlanks(name)));
    FUZZ_CHECK(*resolved == expected, "a link leads where the engine says");
    return 0;
}
