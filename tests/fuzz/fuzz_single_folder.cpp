// The single-folder check against a library that lists whatever the input says and fails
// calls where the input says. Whatever happens, the check ends, calls only the type's own
// library, opens with the owner window, closes what it opened and nothing else, never asks
// for the next entry once the library has said there is none, and leaves one-entry
// archives alone.
#include <cstdint>

#include "extract/single_folder.h"
#include "extract_fakes.h"
#include "fuzz_support.h"

using namespace dexalo;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr ArchiveType kTypes[] = {ArchiveType::LZH, ArchiveType::ZIP, ArchiveType::CAB, ArchiveType::TAR,
                                             ArchiveType::ARJ, ArchiveType::YZ1, ArchiveType::RAR, ArchiveType::BGA};
    static constexpr wchar_t kAlphabet[] = {L'a', L'b', L'/', L'\\', L'.', L'A', L'*', L'\u8868'};
    FuzzedDataProvider input(data, size);
    const ArchiveType type = input.PickValueInArray(kTypes);
    const bool errorAtEnd = input.ConsumeBool();
    // A library that never reports the end can keep a loop bounded only by the count going.
    std::int32_t n = input.ConsumeBool() ? input.ConsumeIntegral<std::int32_t>()
                                         : input.ConsumeIntegralInRange<std::int32_t>(-2, 40);
    if (errorAtEnd && n > 1000) n = 1000;
    const Library lib = LibraryOf(type);
    test::FakeLibraries libs;
    test::FakeArchive& archive = libs.archives[lib];
    archive.endResult = errorAtEnd ? test::kFindError : -1;
    archive.ignoresWildcard = input.ConsumeBool();
    const bool raw = input.ConsumeBool();
    // Exports the input takes away, now and then: such a call can never be made.
    const auto missing = input.ConsumeIntegral<std::uint8_t>();
    const wchar_t* const exportNames[] = {L"OpenArchive", L"FindFirst", L"FindNext", L"CloseArchive"};
    for (int bit = 0; bit < 4; ++bit)
        if (missing >= 0xF0 && ((missing >> bit) & 1)) libs.missingExports.insert({lib, exportNames[bit]});
    archive.twists.resize(input.ConsumeIntegralInRange<std::size_t>(0, 16));
    for (test::Twist& twist : archive.twists) {
        // Mostly plain calls, so that failures land deep in the listing too.
        const auto pick = input.ConsumeIntegral<std::uint8_t>();
        twist = pick < 160 ? test::Twist::None : static_cast<test::Twist>(1 + pick % 2);
    }
    while (input.remaining_bytes() > 0 && archive.entries.size() < 64)
        archive.entries.push_back(fuzz::ConsumeText(input, kAlphabet, 24, raw));
    // A runaway loop shows up as far more calls than the listing and the twists explain.
    libs.callLimit = 2 * (archive.entries.size() + archive.twists.size()) + 16 +
                     (errorAtEnd && n > 0 ? static_cast<std::size_t>(n) : 0);

    EntryRecord record; // zero-filled once per extraction, as extraction does
    Placement placement = Placement::SubFolder;
    try {
        placement = CheckSingleFolder(libs, type, L"C:\\Arc\\a.arc", n, 0x51, record);
    } catch (const std::length_error&) {
        Check(false, "the check ends");
    }
    Check(libs.called.empty() || libs.called == std::set<Library>{lib}, "only the type's own library is called");
    for (const auto& call : libs.log)
        Check(call.starts_with(L"Find") || call == L"CloseArchive()" || call == L"OpenArchive(81,C:\\Arc\\a.arc,512)",
                   "only listing calls, opened with the owner window, path and mode 512");
    Check(!libs.misuse, "no call on an archive that is not open");
    Check(!libs.findNextAfterEnd, "no find-next after the library said there are no more entries");
    Check(!libs.open, "every opened archive is closed");
    if (n == 1) Check(libs.log.empty() && placement == Placement::Direct, "one entry: direct, no call");
    return 0;
}
