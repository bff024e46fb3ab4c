// The single-folder check against a library that lists whatever the input says and
// fails calls where the input says. Whatever happens, the check answers direct or
// sub-folder, closes what it opened, never asks for the next entry once the library
// has said there is none, and leaves one-entry archives alone.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "extract/archiver_library.h"
#include "extract/recognition.h"
#include "extract/single_folder.h"

namespace {

using namespace dexalo;

constexpr ArchiveType kTypes[] = {ArchiveType::LZH, ArchiveType::ZIP, ArchiveType::CAB, ArchiveType::TAR,
                                  ArchiveType::ARJ, ArchiveType::YZ1, ArchiveType::RAR, ArchiveType::BGA};
constexpr std::int32_t kFindError = 0x8070;
constexpr WindowHandle kWindow = 0x51;

// '*' matches any run, '?' one character; an empty wildcard (TAR) and "*.*" match everything.
bool Matches(std::wstring_view pattern, std::wstring_view text) {
    if (pattern.empty() || pattern == L"*.*") return true;
    std::size_t p = 0, t = 0, star = std::wstring_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == text[t])) {
            ++p, ++t;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            star = p++, mark = t;
        } else if (star != std::wstring_view::npos) {
            p = star + 1, t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

// What the input makes one call do: answer normally, fail, or say there is no more.
enum class Twist { None, Error, NoMore };

// Exports the input takes away: such a call can never be made, from the first to the last.
enum Export : unsigned { kOpen = 1, kFindFirst = 2, kFindNext = 4, kClose = 8 };

// DEXALO_FUZZ_TRACE=1 prints every call when a reproducer is run by hand.
const bool kTrace = std::getenv("DEXALO_FUZZ_TRACE") != nullptr;

void Trace(const char* call, ArchiveHandle handle, const std::optional<std::int32_t>& result,
           const std::wstring& path = {}) {
    if (!kTrace) return;
    std::string shown;
    for (const wchar_t c : path) {
        if (c >= 0x20 && c < 0x7F) {
            shown.push_back(static_cast<char>(c));
        } else {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned>(c));
            shown += escaped;
        }
    }
    if (result) {
        std::fprintf(stderr, "%s(%#lx) -> %d  record=\"%s\"\n", call, static_cast<unsigned long>(handle), *result,
                     shown.c_str());
    } else {
        std::fprintf(stderr, "%s(%#lx) -> cannot call  record=\"%s\"\n", call, static_cast<unsigned long>(handle),
                     shown.c_str());
    }
}

class ScriptedLibrary : public ArchiverLibraries {
public:
    ScriptedLibrary(Library lib, std::wstring path, std::vector<std::wstring> listing, std::vector<Twist> twists,
                    unsigned missing, bool errorAtEnd, bool filter)
        : lib_(lib), path_(std::move(path)), listing_(std::move(listing)), twists_(std::move(twists)),
          missing_(missing), errorAtEnd_(errorAtEnd), filter_(filter) {}

    std::optional<std::int32_t> GetVersion(Library) override { return Unexpected("GetVersion"); }
    std::optional<std::int32_t> GetFileCount(Library, const std::wstring&) override {
        return Unexpected("GetFileCount");
    }
    std::optional<std::int32_t> CheckArchive(Library, const std::wstring&, std::int32_t) override {
        return Unexpected("CheckArchive");
    }
    std::optional<std::int32_t> Run(Library, WindowHandle, const std::wstring&) override { return Unexpected("Run"); }
    std::optional<std::int32_t> JackCombine(const std::wstring&, const std::wstring&) override {
        return Unexpected("JackCombine");
    }

    std::optional<ArchiveHandle> OpenArchive(Library lib, WindowHandle window, const std::wstring& path,
                                             std::uint32_t mode) override {
        Enter(lib);
        FUZZ_CHECK(window == kWindow && path == path_ && mode == 512, "open with the owner window, path and mode 512");
        std::optional<ArchiveHandle> handle;
        if (!(missing_ & kOpen)) {
            handle = NextTwist() == Twist::None ? nextHandle_++ : 0; // 0: the library could not open it
            if (*handle) handles_[*handle] = Cursor{};
        }
        if (kTrace) {
            if (handle) std::fprintf(stderr, "open -> %#lx\n", static_cast<unsigned long>(*handle));
            else std::fprintf(stderr, "open -> cannot call\n");
        }
        return handle;
    }

    std::optional<std::int32_t> FindFirst(Library lib, ArchiveHandle handle, const std::wstring& wildcard,
                                          EntryRecord& record) override {
        Enter(lib);
        Cursor* cursor = Live(handle);
        std::optional<std::int32_t> result;
        if (!(missing_ & kFindFirst)) {
            result = kFindError;
            if (cursor) {
                *cursor = Cursor{};
                cursor->wildcard = wildcard;
                result = Deliver(*cursor, NextTwist(), record);
                cursor->started = *result != kFindError;
            }
        }
        Trace("find-first", handle, result, record.path);
        return result;
    }

    std::optional<std::int32_t> FindNext(Library lib, ArchiveHandle handle, EntryRecord& record) override {
        Enter(lib);
        Cursor* cursor = Live(handle);
        if (cursor) FUZZ_CHECK(!cursor->ended, "no find-next after the library said there are no more entries");
        std::optional<std::int32_t> result;
        if (!(missing_ & kFindNext)) {
            // Without a successful find-first there is nothing to go on from.
            result = cursor && cursor->started ? Deliver(*cursor, NextTwist(), record) : kFindError;
        }
        Trace("find-next", handle, result, record.path);
        return result;
    }

    std::optional<std::int32_t> CloseArchive(Library lib, ArchiveHandle handle) override {
        Enter(lib);
        FUZZ_CHECK(!closed_.count(handle), "an archive is closed once");
        const bool open = handles_.erase(handle) == 1;
        // Closing the 0 of a failed open is harmless; any other unknown handle is not.
        FUZZ_CHECK(open || handle == 0, "only opened archives are closed");
        if (open) closed_.insert(handle);
        std::optional<std::int32_t> result;
        if (!(missing_ & kClose)) result = open ? 0 : kFindError;
        Trace("close", handle, result);
        return result;
    }

    int calls = 0;
    long long callLimit = 0;
    bool AllClosed() const { return handles_.empty(); }

private:
    struct Cursor {
        bool started = false;
        bool ended = false;
        std::wstring wildcard;
        std::size_t next = 0;
    };

    std::optional<std::int32_t> Unexpected(const char* name) {
        FUZZ_CHECK(false, name);
        return std::nullopt;
    }

    void Enter(Library lib) {
        FUZZ_CHECK(lib == lib_, "only the type's own library is called");
        // A runaway loop shows up as far more calls than the listing and the twists explain.
        ++calls;
        FUZZ_CHECK(calls <= callLimit, "the check ends");
    }

    Twist NextTwist() { return turn_ < twists_.size() ? twists_[turn_++] : Twist::None; }

    Cursor* Live(ArchiveHandle handle) {
        FUZZ_CHECK(!closed_.count(handle), "no call on a closed archive");
        const auto it = handles_.find(handle);
        return it == handles_.end() ? nullptr : &it->second;
    }

    // A found entry fills the record; anything else leaves it as it was.
    std::int32_t Deliver(Cursor& cursor, Twist twist, EntryRecord& record) {
        if (twist == Twist::Error) return kFindError;
        if (twist == Twist::None) {
            while (cursor.next < listing_.size()) {
                const std::wstring& entry = listing_[cursor.next++];
                if (!filter_ || Matches(cursor.wildcard, entry)) {
                    record.path = entry;
                    return 0;
                }
            }
            if (errorAtEnd_) return kFindError;
        }
        cursor.ended = true;
        return -1;
    }

    Library lib_;
    std::wstring path_;
    std::vector<std::wstring> listing_;
    std::vector<Twist> twists_;
    std::size_t turn_ = 0;
    unsigned missing_;
    bool errorAtEnd_;
    bool filter_;
    ArchiveHandle nextHandle_ = 0x1000;
    std::map<ArchiveHandle, Cursor> handles_;
    std::set<ArchiveHandle> closed_;
};

// Entry names: mostly from a small alphabet that makes shared folders likely, or raw.
std::wstring ConsumeEntry(FuzzedDataProvider& input, bool raw) {
    static constexpr wchar_t kAlphabet[] = {L'a', L'b', L'/', L'\\', L'.', L'A', L'*', L'\u8868'};
    const std::string bytes = input.ConsumeRandomLengthString(24);
    std::wstring entry;
    for (const char c : bytes) {
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
    const auto exports = input.ConsumeIntegral<std::uint8_t>();
    const unsigned missing = exports >= 0xF0 ? exports & 0xFu : 0u;

    std::vector<Twist> twists(input.ConsumeIntegralInRange<std::size_t>(0, 16));
    for (Twist& twist : twists) {
        // Mostly plain calls, so that failures land deep in the listing too.
        const auto pick = input.ConsumeIntegral<std::uint8_t>();
        twist = pick < 160 ? Twist::None : static_cast<Twist>(1 + pick % 2);
    }
    std::vector<std::wstring> listing;
    while (input.remaining_bytes() > 0 && listing.size() < 64) listing.push_back(ConsumeEntry(input, raw));

    const Library lib = LibraryOf(type);
    const std::wstring path = L"C:\\Arc\\a.arc";
    ScriptedLibrary library(lib, path, listing, twists, missing, errorAtEnd, filter);
    library.callLimit = 2 * static_cast<long long>(listing.size() + twists.size()) + 16 +
                        (errorAtEnd && n > 0 ? n : 0);

    EntryRecord record; // zero-filled once per extraction, as extraction does
    const Placement placement = CheckSingleFolder(library, type, path, n, kWindow, record);
    if (kTrace) std::fprintf(stderr, "answer: %s\n", placement == Placement::Direct ? "direct" : "sub-folder");
    FUZZ_CHECK(placement == Placement::Direct || placement == Placement::SubFolder, "direct or sub-folder");
    FUZZ_CHECK(library.AllClosed(), "every opened archive is closed");
    if (n == 1) FUZZ_CHECK(library.calls == 0 && placement == Placement::Direct, "one entry: direct, no call");
    return 0;
}
