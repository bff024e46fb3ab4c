#pragma once
// Recording stand-ins for the libraries and the platform, driven by small archive models.
// Wildcards are matched by our own archiver engine's rule, as the libraries we ship do.
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/wildcard.h"
#include "extract/archiver_library.h"
#include "extract/extract_platform.h"
#include "extract/extraction.h"

namespace dexalo::test {

// What one open or find call does instead of its normal answer. NoMore says -1 yet leaves
// the next entry in the record, as a careless library might.
enum class Twist { None, Error, NoMore };
inline constexpr std::int32_t kFindError = 0x8070;

struct FakeArchive {
    std::int32_t count = 0;                    // GetFileCount, or 1 from CheckArchive when set
    bool byCheck = false;                      // ISH and JAK answer CheckArchive instead
    std::vector<std::wstring> entries{};
    std::optional<std::int32_t> runResult = 0; // main operation / JackCombine
    std::int32_t endResult = -1;               // a find past the last entry
    bool ignoresWildcard = false;
    std::vector<Twist> twists{};               // open, find-first and find-next calls, in turn
    std::int32_t checkAnswer = 1;              // CheckArchive's answer when byCheck
};

// One archive per library, whatever path it is asked about, and one open at a time.
class FakeLibraries : public ArchiverLibraries {
public:
    std::vector<std::wstring> log;      // the calls, without the library
    std::set<Library> called;
    std::set<std::pair<Library, std::wstring>> missingExports;
    std::map<Library, FakeArchive> archives;
    std::array<std::optional<std::int32_t>, kLibraryCount> versions{};
    bool open = false, findNextAfterEnd = false, misuse = false;
    std::size_t callLimit = SIZE_MAX;   // a caller beyond it is looping: the call throws

    std::optional<std::int32_t> GetVersion(Library lib) override { return versions[static_cast<int>(lib)]; }
    std::optional<std::int32_t> GetFileCount(Library lib, const std::wstring&) override {
        return Call(lib, L"GetFileCount", L"") ? std::optional(archives[lib].byCheck ? 0 : archives[lib].count) : std::nullopt;
    }
    std::optional<std::int32_t> CheckArchive(Library lib, const std::wstring&, std::int32_t) override {
        return Call(lib, L"CheckArchive", L"") ? std::optional(archives[lib].byCheck ? archives[lib].checkAnswer : 0)
                                              : std::nullopt;
    }
    std::optional<ArchiveHandle> OpenArchive(Library lib, WindowHandle window, const std::wstring& path,
                                             std::uint32_t mode) override {
        if (!Call(lib, L"OpenArchive", std::to_wstring(window) + L"," + path + L"," + std::to_wstring(mode)))
            return std::nullopt;
        misuse |= open;
        if (NextTwist(lib) == Twist::Error) return 0;
        open = true;
        return kHandle;
    }
    std::optional<std::int32_t> FindFirst(Library lib, ArchiveHandle handle, const std::wstring& wildcard,
                                          EntryRecord& record) override {
        if (!Call(lib, L"FindFirst", wildcard)) return std::nullopt;
        if (!Live(handle)) return kFindError;
        matches_.clear();
        for (const auto& e : archives[lib].entries)
            if (archives[lib].ignoresWildcard || archivers::MatchesWildcard(wildcard, e)) matches_.push_back(e);
        next_ = 0;
        ended_ = false;
        return Deliver(lib, record);
    }
    std::optional<std::int32_t> FindNext(Library lib, ArchiveHandle handle, EntryRecord& record) override {
        if (!Call(lib, L"FindNext", L"")) return std::nullopt;
        if (!Live(handle)) return kFindError;
        findNextAfterEnd |= ended_;
        return Deliver(lib, record);
    }
    std::optional<std::int32_t> CloseArchive(Library lib, ArchiveHandle handle) override {
        if (Live(handle)) open = false;
        return Call(lib, L"CloseArchive", L"") ? std::optional<std::int32_t>(0) : std::nullopt;
    }
    std::optional<std::int32_t> Run(Library lib, WindowHandle window, const std::wstring& commandLine) override {
        if (!Call(lib, L"Run", std::to_wstring(window) + L"," + commandLine)) return std::nullopt;
        return archives[lib].runResult;
    }
    std::optional<std::int32_t> JackCombine(const std::wstring& path, const std::wstring& folder) override {
        if (!Call(Library::Jack, L"JackCombine", path + L"," + folder)) return std::nullopt;
        return archives[Library::Jack].runResult;
    }

private:
    static constexpr ArchiveHandle kHandle = 0x101;

    bool Call(Library lib, const std::wstring& fn, const std::wstring& args) {
        log.push_back(fn + L"(" + args + L")");
        called.insert(lib);
        if (log.size() > callLimit) throw std::length_error("no end to the library calls");
        return !missingExports.count({lib, fn});
    }
    bool Live(ArchiveHandle handle) {
        misuse |= handle != 0 && (handle != kHandle || !open);
        return handle == kHandle && open;
    }
    Twist NextTwist(Library lib) { return turn_ < archives[lib].twists.size() ? archives[lib].twists[turn_++] : Twist::None; }
    std::int32_t Deliver(Library lib, EntryRecord& record) {
        const Twist twist = NextTwist(lib);
        if (twist == Twist::Error) return kFindError;
        if (next_ < matches_.size()) {
            record.path = matches_[next_++];
            if (twist == Twist::None) return 0;
        }
        const std::int32_t end = twist == Twist::NoMore ? -1 : archives[lib].endResult;
        ended_ = end == -1;
        return end;
    }

    std::vector<std::wstring> matches_;
    std::size_t next_ = 0, turn_ = 0;
    bool ended_ = false;
};

// The file system, code page and shell around EXTRACT_FILE, with D:\Out\ as the configured
// destination. Files are whole paths.
// ASCII and Japanese fit the ANSI code page, Hangul does not.
struct Harness : ExtractFiles, AnsiPaths, LzLibrary, ExtractShell {
    ModuleState state{L"D:\\Out\\", 1, 0};
    FakeLibraries libs;
    std::map<std::wstring, std::string> files;
    std::map<std::wstring, std::wstring> shortForms;
    std::vector<std::wstring> madeFolders, started, messages; // messages: owner, title, style, text
    std::vector<std::wstring> removed;
    std::set<std::wstring> missingFolders;  // every other folder exists
    std::int32_t lzCreated = 2, lzCopied = 9; // lz32's answers: output handle, bytes written
    Extraction extraction{state, libs, *this, *this, *this, *this};

    std::optional<std::wstring> LookUpFile(const std::wstring& path) override {
        if (!files.count(path)) return std::nullopt;
        return path.substr(path.rfind(L'\\') + 1); // npos + 1 == 0
    }
    bool MakeFolder(const std::wstring& path) override { return madeFolders.push_back(path), true; }
    std::optional<std::int64_t> FileLength(const std::wstring& path) override { return files[path].size(); }
    bool RemoveFile(const std::wstring& path) override { return removed.push_back(path), true; }
    bool FileExists(const std::wstring& path) override { return files.count(path) > 0; }
    bool FolderExists(const std::wstring& path) override { return !missingFolders.count(path); }
    std::string ReadHead(const std::wstring& path, std::size_t count) override { return files[path].substr(0, count); }
    bool FitsAnsi(const std::wstring& text) override {
        return std::none_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0xAC00 && c <= 0xD7A3; });
    }
    std::optional<std::wstring> ShortForm(const std::wstring& path) override {
        return shortForms.count(path) ? std::optional(shortForms[path]) : std::nullopt;
    }
    std::optional<std::int32_t> LzOpen(const std::wstring&, std::uint16_t style) override {
        return style == kCreate ? lzCreated : 1;
    }
    std::optional<std::int32_t> LzCopy(std::int32_t, std::int32_t) override { return lzCopied; }
    void LzClose(std::int32_t) override {}
    bool StartProgram(const std::wstring& commandLine) override { return started.push_back(commandLine), true; }
    void ShowMessage(WindowHandle owner, const std::wstring& text, const std::wstring& title,
                     std::uint32_t style) override {
        messages.push_back(std::to_wstring(owner) + L" " + title + L" " + std::to_wstring(style) + L" " + text);
    }
};

} // namespace dexalo::test
