#pragma once
// Where each entry of one archive is written. Windows compares names without regard to case,
// and WindowsName makes some different names equal: entries that would land on one file are
// kept apart by a number, so that none is lost.
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "engine/names/entry_path.h"

namespace dexalo::archivers {

// "movie.mp4" becomes "movie (2).mp4"; a folder, or a name without an extension, gets the
// number at its end.
std::wstring Numbered(const std::wstring& name, unsigned n, bool folder = false);

// Fed the stored paths of one archive in archive order, gives each entry its written path.
// Entries stored under exactly the same path get the same one (a tar records an update so);
// a later entry whose written path another one already holds, in any case, gets " (2)",
// " (3)"... before its extension, a folder after its name. Folders equal but for case are one
// folder, spelt as first written.
class WrittenNames {
public:
    // `stored` with '/' or '\' separators, a folder ending in one. nullopt when the path is
    // refused (see StoredComponents); empty for "./", the destination itself.
    std::optional<Components> Next(std::wstring_view stored);
    // What the listing shows for Next's answer: the written path with '/' separators, a folder
    // ending in '/'; a refused path, or the destination itself, as stored.
    static std::wstring Shown(const std::optional<Components>& written, std::wstring_view stored);
    // Next and Shown together, for a listing.
    std::wstring NextShown(std::wstring_view stored) { return Shown(Next(stored), stored); }
    // Where the file stored as `stored` went (a hard link names it); a path no entry had yet,
    // its SafeComponents.
    std::optional<Components> WrittenAs(std::wstring_view stored) const;

private:
    struct Holder {
        std::wstring name;  // as written
        bool folder = false;
    };
    std::map<std::wstring, Components> folders_, files_;  // by stored path
    std::map<std::wstring, Holder> taken_;                // by written path in upper case
};

} // namespace dexalo::archivers
