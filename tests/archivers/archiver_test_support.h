#pragma once
// Shared helpers of the engine tests: scratch folders, archive tools, and the library calls.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/pipeline/api.h"
#include "common/archiver_contract.h"
#include "engine/pipeline/extract.h"
#include "engine/input/own_reader.h"

namespace dexalo::archivers::testing {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

// A fresh folder under the system's temporary folder, removed with everything in it.
struct ScratchDir {
    ScratchDir() {
        std::string name = (fs::temp_directory_path() / "dexalo-XXXXXX").string();
        path = ::mkdtemp(name.data());
    }
    ~ScratchDir() { fs::remove_all(path); }
    fs::path operator/(const std::string& name) const { return path / name; }
    fs::path path;
};

// Runs a shell command in `dir`; fails the test when it exits non-zero.
inline void Shell(const fs::path& dir, const std::string& command) {
    ASSERT_EQ(std::system(("cd '" + dir.string() + "' && (" + command + ") >/dev/null 2>&1").c_str()), 0) << command;
}
inline void WriteText(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}
inline std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every file and folder under `root`, relative with '/' (folders end in '/'), mapped to the
// file's contents ("" for folders, "-> target" for links).
inline Files Tree(const fs::path& root) {
    Files tree;
    if (!fs::exists(root)) return tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(root).generic_string();
        if (it->is_symlink()) {
            tree[rel] = "-> " + fs::read_symlink(it->path()).string();
            it.disable_recursion_pending();
        } else {
            tree[rel + (it->is_directory() ? "/" : "")] = it->is_directory() ? "" : ReadText(it->path());
        }
    }
    return tree;
}

// The library calls, as the front end makes them.
inline int Count(Family family, const fs::path& archive) { return GetFileCount(family, archive.c_str()); }
inline Names List(Family family, const fs::path& archive, const std::string& wildcard) {
    Names names;
    const std::uintptr_t handle = OpenArchive(family, archive.c_str(), 512);
    EntryRecord record{};
    for (int r = FindFirst(family, handle, wildcard.c_str(), &record); r == 0; r = FindNext(family, handle, &record))
        names.emplace_back(record.path);
    CloseArchive(family, handle);
    return names;
}
inline int Extract(Family family, const fs::path& archive, const fs::path& destination, UserInterface* user = nullptr) {
    const std::string line = "x \"" + archive.string() + "\" \"" + destination.string() + "/\"";
    return Run(family, line.c_str(), nullptr, 0, user);
}

// A stand-in for the libraries' windows, answering as scripted: cancel, passwords, the report.
struct ScriptedUser final : UserInterface {
    std::vector<std::optional<std::wstring>> answers;  // given in turn to the password questions
    std::vector<bool> questions;                       // `wrong` of each question asked
    std::wstring cancelIn;                             // cancels after this entry's first block
    unsigned blocksSeen = 0;
    std::vector<ExtractResult> reports;
    std::uint64_t furthest = 0, total = 0;             // bytes of the archive read, and all of them

    void Progress(const std::wstring&, const std::wstring& entry, std::uint64_t at, std::uint64_t all) override {
        blocksSeen += !cancelIn.empty() && entry == cancelIn;
        furthest = std::max(furthest, at);
        total = all;
    }
    bool Cancelled() override { return blocksSeen >= 2; }  // its start, then one block
    std::optional<std::wstring> Passphrase(const std::wstring&, bool wrong) override {
        questions.push_back(wrong);
        return questions.size() <= answers.size() ? answers[questions.size() - 1] : std::nullopt;
    }
    void Report(const std::wstring&, const ExtractResult& result) override { reports.push_back(result); }
};

// A committed archive, for what no tool here writes: stored RAR 4 and CAB with code-page
// names, encrypted RAR, tars with unsafe paths and links.
inline fs::path Fixture(const std::string& name) { return fs::path(DEXALO_TEST_DATA_DIR) / "archives" / name; }

// ---- archives built byte by byte for our own readers

// `bytes` with two bits of one byte flipped.
inline std::string Flip(std::string bytes, std::size_t at) { return bytes.at(at) = static_cast<char>(bytes[at] ^ 0x11), bytes; }

// 2021-03-04 05:06:08 as MS-DOS keeps it (local time, the date in the high word), and in
// seconds since 1970.
constexpr std::uint32_t kDosTime = (2021 - 1980) << 25 | 3 << 21 | 4 << 16 | 5 << 11 | 6 << 5 | 8 / 2;
inline std::int64_t DosTimeSeconds() {
    std::tm tm{8, 6, 5, 4, 3 - 1, 2021 - 1900, 0, 0, -1, 0, nullptr};
    return std::mktime(&tm);
}

// Noise, and words with numbers among them: literals and matches near and far for the coders.
inline std::string Noise(std::size_t size, unsigned seed = 1) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return bytes;
}
inline std::string Prose(std::size_t size) {
    static const char* const kWords[] = {"archive ", "header ", "window ", "Huffman ", "\n", "0x5C ", "table ", "member "};
    std::string text;
    for (std::uint32_t x = 12345; text.size() < size;) {
        x = x * 1103515245u + 12345u;
        text += kWords[x >> 16 & 7] + ((x >> 20 & 15) == 0 ? std::to_string(x) : "");
    }
    return text.substr(0, size);
}

// What one of our own readers makes of `bytes`, every entry read (at most `blocks` blocks of
// each: the rest is left to Next to pass over).
struct OwnListing {
    // Each entry's name, '/' for a folder, '*' read-only, '+' a UTF-8 name, '!' damaged data,
    // '?' unsupported; then how the listing ended, or why it did not open.
    std::string summary;
    Names data, unsupported;  // each entry's data; the reasons given, in order
    std::vector<std::int64_t> mtimes;
    std::size_t largestBlock = 0;
};
template <class Reader>
OwnListing ReadOwn(const std::string& bytes, int blocks = 1 << 30) {
    static const char* const kEnds[] = {"Ok", "End", "NotOurs", "Damaged", "Unsupported"};
    own::MemoryInput input(bytes.data(), bytes.size());
    Reader reader(input);
    OwnListing r;
    own::Entry e;
    own::Status s = reader.Open();
    while (s == own::Status::Ok && r.data.size() < 50 && (s = reader.Next(e)) == own::Status::Ok) {
        std::string& data = r.data.emplace_back();
        const std::uint8_t* block = nullptr;
        std::size_t n = 0;
        own::Status read = own::Status::Ok;
        int b = 0;
        for (; b < blocks && (read = reader.Read(block, n)) == own::Status::Ok && n > 0; ++b)
            data.append(reinterpret_cast<const char*>(block), n), r.largestBlock = std::max(r.largestBlock, n);
        // Nothing comes with a failure, and the block that would complete the data is withheld.
        EXPECT_TRUE(b == blocks ? data.size() <= e.size : read == own::Status::Ok ? data.size() == e.size
                                                        : n == 0 && (data.empty() || data.size() < e.size)) << e.name;
        r.summary += e.name + (e.directory ? "/" : "") + (e.readOnly ? "*" : "") + (e.utf8 ? "+" : "") +
                     (read == own::Status::Damaged ? "!" : read == own::Status::Unsupported ? "?" : "") + " ";
        if (e.unsupported) r.unsupported.emplace_back(e.unsupported);
        r.mtimes.push_back(e.mtime);
    }
    return r.summary += kEnds[static_cast<int>(s)], r;
}

} // namespace dexalo::archivers::testing
