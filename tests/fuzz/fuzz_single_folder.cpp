// The single-folder check against a library that lists whatever the input says and fails
// calls where the input says. Whatever happens, the check answers direct or sub-folder,
// calls only the type's own library, closes what it opened and nothing else, never asks
// for the next entry once the library has said there is none, and leaves one-entry
// archives alone.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.h"
#include "extract/single_folder.h"
#include "extract_fakes.h"

namespace {

using namespace dexalo;

constexpr ArchiveType kTypes[] = {ArchiveType::LZH, ArchiveType::ZIP, ArchiveType::CAB, ArchiveType::TAR,
                                  ArchiveType::ARJ, ArchiveType::YZ1, ArchiveType::RAR, ArchiveType::BGA};

// Entry names: mostly from a small alphabet that makes shared folders likely, or raw.
std::wstring ConsumeEntry(FuzzedDataProvider& input, bool raw) {
    static constexpr wchar_t kAlphabet[] = {L'a', L'b', L'/', L'\\', L'.', L'A', L'*', L'\u8868'};
    std::wstring entry;
    for (const char c : input.ConsumeRandomLengthString(24)) {
        const auto b = static_cast<unsigned char>(c);
        entry.push_back(raw ? static_cast<wchar_t>(b) : kAlphabet[b % 8]);
    }
    return entry;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const ArchiveType type = input.PickValueInArray(kTypes);
    const bool errorAtEnd = input.ConsumeBool();
    // A library that never reports the end can keep a loop bounded only by the count going.
    std::int32_t n = input.ConsumeBool() ? input.ConsumeIntegral<std::int32_t>()
                                         : input.ConsumeIntegralInRange<std::int32_t>(-2, 40);
    if (errorAtEnd && n > 1000) n = 1000;
    const bool filter = input.ConsumeBool();
    const bool raw = input.ConsumeBool();
    // Exports the input takes away: such a call can never be made, from the first to the last.
    const auto exports = input.ConsumeIntegral<std::uint8_t>();
    const unsigned missing = exports >= 0xF0 ? exports & 0xFu : 0u;

    const Library lib = LibraryOf(type);
    const std::wstring path = L"C:\\Arc\\a.arc";
    test::FakeLibraries libs;
    test::FakeArchive& archive = libs.Add(lib, path);
    archive.endResult = errorAtEnd ? test::kFindError : -1;
    archive.ignoresWildcard = !filter;
    const wchar_t* const exportNames[] = {L"OpenArchive", L"FindFirst", L"FindNext", L"CloseArchive"};
    for (int bit = 0; bit < 4; ++bit)
        if (missing & (1u << bit)) libs.missingExports.insert({lib, exportNames[bit]});
    archive.twists.resize(input.ConsumeIntegralInRange<std::size_t>(0, 16));
    for (test::Twist& twist : archive.twists) {
        // Mostly plain calls, so that failures land deep in the listing too.
        const auto pick = input.ConsumeIntegral<std::uint8_t>();
        twist = pick < 160 ? test::Twist::None : static_cast<test::Twist>(1 + pick % 2);
    }
    while (input.remaining_bytes() > 0 && archive.entries.size() < 64)
        archive.entries.push_back(ConsumeEntry(input, raw));
    // A runaway loop shows up as far more calls than the listing and the twists explain.
    libs.callLimit = 2 * (archive.entries.size() + archive.twists.size()) + 16 +
                     (errorAtEnd && n > 0 ? static_cast<std::size_t>(n) : 0);

    EntryRecord record; // zero-filled once per extraction, as extraction does
    Placement placement = Placement::Direct;
    bool ended = true;
    try {
        placement = CheckSingleFolder(libs, type, path, n, 0x51, record);
    } catch (const std::length_error&) {
        ended = false;
    }
    FUZZ_CHECK(ended, "the check ends");
    FUZZ_CHECK(placement == Placement::Direct || placement == Placement::SubFolder, "direct or sub-folder");
    const std::wstring own = std::wstring(test::LibName(lib)) + L".";
    for (const auto& call : libs.log) {
        FUZZ_CHECK(call.starts_with(own), "only the type's own library is called");
        if (call.starts_with(own + L"OpenArchive("))
            FUZZ_CHECK(call == own + L"OpenArchive(81," + path + L",512)", "open with the owner window, path and mode 512");
        else
            FUZZ_CHECK(call.starts_with(own + L"Find") || call == own + L"CloseArchive", "only listing calls are made");
    }
    FUZZ_CHECK(libs.misuse.empty(), "no call on an archive that is not open");
    FUZZ_CHECK(!libs.findNextAfterEnd, "no find-next after the library said there are no more entries");
    FUZZ_CHECK(libs.OpenHandles() == 0, "every opened archive is closed");
    if (n == 1) FUZZ_CHECK(libs.log.empty() && placement == Placement::Direct, "one entry: direct, no call");
    return 0;
}
