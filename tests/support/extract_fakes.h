#pragma once
// Recording stand-ins for the libraries and the platform, driven by small archive models.
// Wildcards are matched by our own archiver engine's rule, as the libraries we ship do.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/wildcard.h"
#include "extract/archiver_library.h"
#include "extract/extract_platform.h"
#include "extract/extraction.h"

namespace dexalo::test {

inline const wchar_t* LibName(Library lib) {
    static const wchar_t* const names[] = {L"Unlha", L"UnZip", L"Cab", L"Tar", L"Unarj",
                                           L"Ish",   L"Unrar", L"Bga", L"Yz1", L"Jack"};
    return names[static_cast<int>(lib)];
}

// What one open or find call does instead of its normal answer: fail, or say "no more".
enum class Twist { None, Error, NoMore };
inline constexpr std::int32_t kFindError = 0x8070;

struct FakeArchive {
    std::optional<std::int32_t> count;         // GetFileCount answer
    std::optional<std::int32_t> check;         // IshCheckArchive / JackCheckArchive answer
    std::vector<std::wstring> entries;         // listing, in order
    std::optional<std::int32_t> runResult = 0; // main operation / JackCombine
    std::int32_t endResult = -1;               // a find past the last entry
    std::map<std::wstring, std::int32_t> firstResultFor; // forces find-first's answer for a wildcard
    bool ignoresWildcard = false;
    std::vector<Twist> twists;                 // open, find-first and find-next calls, in turn
};

class FakeLibraries : public ArchiverLibraries {
public:
    std::vector<std::wstring> log;
    std::set<Library> missing;
    std::set<std::pair<Library, std::wstring>> missingExports;
    std::map<std::pair<Library, std::wstring>, FakeArchive> archives;
    std::array<std::optional<std::int32_t>, kLibraryCount> versions{};
    bool findNextAfterEnd = false;
    std::vector<std::wstring> misuse;   // calls on archives not open
    std::size_t callLimit = SIZE_MAX;   // a caller beyond it is looping: the call throws

    FakeArchive& Add(Library lib, const std::wstring& path) { return archives[{lib, path}]; }

    std::optional<std::int32_t> GetVersion(Library lib) override {
        if (!Available(lib, L"GetVersion")) return std::nullopt;
        return versions[static_cast<int>(lib)];
    }
    std::optional<std::int32_t> GetFileCount(Library lib, const std::wstring& path) override {
        Log(lib, L"GetFileCount(" + path + L")");
        if (!Available(lib, L"GetFileCount")) return std::nullopt;
        const FakeArchive* a = Find(lib, path);
        return a && a->count ? *a->count : 0;
    }
    std::optional<std::int32_t> CheckArchive(Library lib, const std::wstring& path, std::int32_t mode) override {
        Log(lib, L"CheckArchive(" + path + L"," + std::to_wstring(mode) + L")");
        if (!Available(lib, L"CheckArchive")) return std::nullopt;
        const FakeArchive* a = Find(lib, path);
        return a && a->check ? *a->check : 0;
    }
    std::optional<ArchiveHandle> OpenArchive(Library lib, WindowHandle window, const std::wstring& path,
                                             std::uint32_t mode) override {
        Log(lib, L"OpenArchive(" + std::to_wstring(window) + L"," + path + L"," + std::to_wstring(mode) + L")");
        if (!Available(lib, L"OpenArchive")) return std::nullopt;
        const FakeArchive* a = Find(lib, path);
        if (!a || NextTwist(*a) == Twist::Error) return 0;
        cursors_[++lastHandle_] = Cursor{a, {}, 0, false};
        return lastHandle_;
    }
    std::optional<std::int32_t> FindFirst(Library lib, ArchiveHandle handle, const std::wstring& wildcard,
                                          EntryRecord& record) override {
        Log(lib, L"FindFirst(" + wildcard + L")");
        if (!Available(lib, L"FindFirst")) return std::nullopt;
        Cursor* c = Live(handle);
        if (!c) return kFindError;
        c->matches.clear();
        for (const auto& e : c->archive->entries)
            if (c->archive->ignoresWildcard || archivers::MatchesWildcard(wildcard, e)) c->matches.push_back(e);
        c->next = 0;
        c->ended = false;
        if (auto f = c->archive->firstResultFor.find(wildcard); f != c->archive->firstResultFor.end()) {
            if (!c->matches.empty()) record.path = c->matches[0]; // as a careless library might
            c->next = 1;
            c->ended = f->second == -1;
            return f->second;
        }
        return Deliver(*c, record);
    }
    std::optional<std::int32_t> FindNext(Library lib, ArchiveHandle handle, EntryRecord& record) override {
        Log(lib, L"FindNext");
        if (!Available(lib, L"FindNext")) return std::nullopt;
        Cursor* c = Live(handle);
        if (!c) return kFindError;
        if (c->ended) findNextAfterEnd = true;
        return Deliver(*c, record);
    }
    std::optional<std::int32_t> CloseArchive(Library lib, ArchiveHandle handle) override {
        Log(lib, L"CloseArchive");
        if (cursors_.erase(handle) == 0 && handle != 0) misuse.push_back(L"closed an archive not open");
        if (!Available(lib, L"CloseArchive")) return std::nullopt;
        return 0;
    }
    std::optional<std::int32_t> Run(Library lib, WindowHandle window, const std::wstring& commandLine) override {
        Log(lib, L"Run(" + std::to_wstring(window) + L"," + commandLine + L")");
        if (!Available(lib, L"Run")) return std::nullopt;
        for (const auto& [key, a] : archives)
            if (key.first == lib && commandLine.find(key.second) != std::wstring::npos) return a.runResult;
        return 0;
    }
    std::optional<std::int32_t> JackCombine(const std::wstring& path, const std::wstring& folder) override {
        Log(Library::Jack, L"JackCombine(" + path + L"," + folder + L")");
        if (!Available(Library::Jack, L"JackCombine")) return std::nullopt;
        const FakeArchive* a = Find(Library::Jack, path);
        return a ? a->runResult : std::optional<std::int32_t>(0);
    }

    int OpenHandles() const { return static_cast<int>(cursors_.size()); }

private:
    struct Cursor {
        const FakeArchive* archive;
        std::vector<std::wstring> matches;
        std::size_t next;
        bool ended;
    };

    void Log(Library lib, const std::wstring& what) {
        log.push_back(std::wstring(LibName(lib)) + L"." + what);
        if (log.size() > callLimit) throw std::length_error("no end to the library calls");
    }
    bool Available(Library lib, const std::wstring& fn) const {
        return !missing.count(lib) && !missingExports.count({lib, fn});
    }
    const FakeArchive* Find(Library lib, const std::wstring& path) const {
        auto it = archives.find({lib, path});
        return it == archives.end() ? nullptr : &it->second;
    }
    Cursor* Live(ArchiveHandle handle) {
        auto it = cursors_.find(handle);
        if (it != cursors_.end()) return &it->second;
        if (handle != 0) misuse.push_back(L"listed an archive not open");
        return nullptr;
    }
    Twist NextTwist(const FakeArchive& a) { return turn_ < a.twists.size() ? a.twists[turn_++] : Twist::None; }
    std::int32_t Deliver(Cursor& c, EntryRecord& record) {
        const Twist twist = NextTwist(*c.archive);
        if (twist == Twist::Error) return kFindError;
        if (twist == Twist::None && c.next < c.matches.size()) {
            record.path = c.matches[c.next++];
            return 0;
        }
        const std::int32_t end = twist == Twist::NoMore ? -1 : c.archive->endResult;
        if (end == -1) c.ended = true;
        return end;
    }

    std::map<ArchiveHandle, Cursor> cursors_;
    ArchiveHandle lastHandle_ = 0x100;
    std::size_t turn_ = 0;
};

// A file system of whole paths; hidden entries stand for folders and system files.
class FakeFiles : public ExtractFiles {
public:
    struct File {
        std::string bytes;
        bool lookupHidden = false;
    };
    std::map<std::wstring, File> files;
    std::vector<std::wstring> madeFolders, removed;

    void Put(const std::wstring& path, std::string bytes = "data") { files[path] = File{std::move(bytes), false}; }

    std::optional<std::wstring> LookUpFile(const std::wstring& path) override {
        const std::size_t cut = path.rfind(L'\\') + 1; // npos + 1 == 0
        if (cut == path.size()) return std::nullopt;
        for (const auto& [full, file] : files)
            if (!file.lookupHidden && full.rfind(L'\\') + 1 == cut && full.compare(0, cut, path, 0, cut) == 0 &&
                archivers::MatchesWildcard(path.substr(cut), full.substr(cut)))
                return full.substr(cut);
        return std::nullopt;
    }
    bool MakeFolder(const std::wstring& path) override {
        madeFolders.push_back(path);
        return true;
    }
    std::optional<std::int64_t> FileLength(const std::wstring& path) override {
        auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return static_cast<std::int64_t>(it->second.bytes.size());
    }
    bool RemoveFile(const std::wstring& path) override {
        removed.push_back(path);
        return files.erase(path) > 0;
    }
    bool FileExists(const std::wstring& path) override { return files.count(path) > 0; }
    std::string ReadHead(const std::wstring& path, std::size_t count) override {
        auto it = files.find(path);
        return it == files.end() ? std::string() : it->second.bytes.substr(0, count);
    }
};

// ASCII and Japanese fit the ANSI code page; Hangul does not.
class FakeAnsi : public AnsiPaths {
public:
    std::map<std::wstring, std::wstring> shortForms;
    bool FitsAnsi(const std::wstring& text) override {
        for (wchar_t c : text)
            if (c >= 0xAC00 && c <= 0xD7A3) return false;
        return true;
    }
    std::optional<std::wstring> ShortForm(const std::wstring& path) override {
        auto it = shortForms.find(path);
        if (it == shortForms.end()) return std::nullopt;
        return it->second;
    }
};

// Expands "SZDD" sources into expandedSize bytes and copies anything else, like lz32.
class FakeLz : public LzLibrary {
public:
    explicit FakeLz(FakeFiles& files) : files_(files) {}
    std::size_t expandedSize = 100;
    bool available = true;
    std::set<std::wstring> unopenable;

    std::optional<std::int32_t> LzOpen(const std::wstring& name, std::uint16_t style) override {
        if (!available) return std::nullopt;
        if (unopenable.count(name)) return -2;
        if (style == kCreate) files_.Put(name, "");
        else if (!files_.files.count(name)) return -2;
        handles_.push_back(name);
        return static_cast<std::int32_t>(handles_.size() - 1);
    }
    std::optional<std::int32_t> LzCopy(std::int32_t source, std::int32_t target) override {
        if (!available) return std::nullopt;
        const std::string in = files_.files[handles_.at(source)].bytes;
        const std::string out = in.rfind("SZDD", 0) == 0 ? std::string(expandedSize, 'x') : in;
        files_.files[handles_.at(target)].bytes = out;
        return static_cast<std::int32_t>(out.size());
    }
    void LzClose(std::int32_t handle) override { closed.push_back(handles_.at(handle)); }
    std::vector<std::wstring> closed;

private:
    FakeFiles& files_;
    std::vector<std::wstring> handles_;
};

class FakeShell : public ExtractShell {
public:
    struct Message {
        WindowHandle owner;
        std::wstring text, title;
        std::uint32_t style;
    };
    std::vector<std::wstring> started;
    std::vector<Message> messages;

    bool StartProgram(const std::wstring& commandLine) override {
        started.push_back(commandLine);
        return true;
    }
    void ShowMessage(WindowHandle owner, const std::wstring& text, const std::wstring& title,
                     std::uint32_t style) override {
        messages.push_back({owner, text, title, style});
    }
};

// Everything EXTRACT_FILE touches, with D:\Out\ as the configured destination.
struct Harness {
    ModuleState state{L"D:\\Out\\", 1, 0};
    FakeLibraries libs;
    FakeFiles files;
    FakeAnsi ansi;
    FakeLz lz{files};
    FakeShell shell;
    Extraction extraction{state, libs, files, ansi, lz, shell};

    void Extract(const std::wstring& path) { extraction.EXTRACT_FILE(path); }

    // The last main-operation or join call, without the library's name.
    std::wstring LastRun() const {
        for (auto it = libs.log.rbegin(); it != libs.log.rend(); ++it)
            if (it->find(L".Run(") != std::wstring::npos || it->find(L".JackCombine(") != std::wstring::npos)
                return it->substr(it->find(L'.') + 1);
        return {};
    }
};

} // namespace dexalo::test
