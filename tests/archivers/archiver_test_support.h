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

// A committed archive under tests/data/archives, for what no tool here writes: stored RAR 4
// and CAB with code-page names, tars with unsafe paths and links.
fs::path Fixture(const std::string& name);

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
