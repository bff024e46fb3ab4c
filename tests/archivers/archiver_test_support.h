#pragma once
// Shared helpers of the engine tests: scratch folders, archive tools, and the library calls.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/family.h"

namespace dexalo::archivers::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / fs::path(name); }

private:
    fs::path path_;
};

// Runs a shell command in `dir`; fails the test when it exits non-zero.
void Shell(const fs::path& dir, const std::string& command);
void WriteText(const fs::path& file, const std::string& text);
std::string ReadText(const fs::path& file);

// Every file and folder under `root`, relative with '/' (folders end in '/'), sorted,
// mapped to the file's contents ("" for folders, "-> target" for links).
std::map<std::string, std::string> Tree(const fs::path& root);

// The library calls, as the front end makes them.
int Count(Family family, const fs::path& archive);
std::vector<std::string> List(Family family, const fs::path& archive, const std::string& wildcard);
int Extract(Family family, const fs::path& archive, const fs::path& destination);

// A ustar archive with the given members, for paths no tar tool will write.
struct TarMember {
    TarMember(std::string n, char t, std::string d, std::string l = {})
        : name(std::move(n)), type(t), data(std::move(d)), link(std::move(l)) {}
    std::string name;
    char type;  // '0' file, '5' folder, '2' symlink, '1' hard link
    std::string data;
    std::string link;
};
std::string MakeTar(const std::vector<TarMember>& members);

// A RAR 4 archive with stored members (no tool here writes RAR). Names use '\'.
struct RarMember {
    std::string name;
    bool folder = false;
    std::string data;
    bool utf8Name = false;  // sets the Unicode flag with a UTF-8 name, as RAR allows
};
std::string MakeStoredRar4(const std::vector<RarMember>& members);

// A CAB archive with one uncompressed folder (gcab always sets the UTF-8 name flag; this
// writer sets it only when asked). Names use '\'.
struct CabMember {
    std::string name;
    std::string data;
    bool utf8Name = false;
};
std::string MakeStoredCab(const std::vector<CabMember>& members);

// The engine sees the code pages of a Japanese Windows (ANSI and OEM 932) while alive.
class JapaneseCodePages {
public:
    JapaneseCodePages();
    ~JapaneseCodePages();
    JapaneseCodePages(const JapaneseCodePages&) = delete;
    JapaneseCodePages& operator=(const JapaneseCodePages&) = delete;
};

// Changes the 32-bit value at `at` in both the local and the central header of `name`
// in a ZIP archive (offsets counted from the CRC field: 0 CRC, 4 packed, 8 original size).
void PatchZipHeaders(std::string& zip, const std::string& name, std::size_t at, std::uint32_t value);

} // namespace dexalo::archivers::testing
