#include "archiver_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>

#include "engine/api.h"
#include "engine/platform_posix.h"
#include "engine/scan.h"

namespace dexalo::archivers::testing {

ScratchDir::ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("dexalo-archivers-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void Shell(const fs::path& dir, const std::string& command) {
    const std::string line = "cd '" + dir.string() + "' && (" + command + ") >/dev/null 2>&1";
    ASSERT_EQ(std::system(line.c_str()), 0) << command;
}

void WriteText(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    if (!fs::exists(root)) return tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(root).generic_string();
        if (it->is_symlink()) {
            tree[rel] = "-> " + fs::read_symlink(it->path()).string();
            it.disable_recursion_pending();
        } else if (it->is_directory()) {
            tree[rel + "/"] = "";
        } else {
            tree[rel] = ReadText(it->path());
        }
    }
    return tree;
}

int Count(Family family, const fs::path& archive) { return GetFileCount(family, archive.c_str()); }

std::vector<std::string> List(Family family, const fs::path& archive, const std::string& wildcard) {
    std::vector<std::string> names;
    const std::uintptr_t handle = OpenArchive(family, archive.c_str(), 512);
    EntryRecord record{};
    for (int r = FindFirst(family, handle, wildcard.c_str(), &record); r == 0; r = FindNext(family, handle, &record))
        names.emplace_back(record.path);
    CloseArchive(family, handle);
    return names;
}

int Extract(Family family, const fs::path& archive, const fs::path& destination) {
    const std::string line = "x \"" + archive.string() + "\" \"" + destination.string() + "/\"";
    char out[1] = {0};
    return Run(family, line.c_str(), out, 0);
}

fs::path Fixture(const std::string& name) { return fs::path(DEXALO_TEST_DATA_DIR) / "archives" / name; }

JapaneseCodePages::JapaneseCodePages() {
    platform::UseCodePages("CP932", "CP932");
    ForgetScans();
}

JapaneseCodePages::~JapaneseCodePages() {
    platform::UseCodePages({}, {});
    ForgetScans();
}

void PatchZipHeaders(std::string& zip, const std::string& name, std::size_t at, std::uint32_t value) {
    const std::string bytes{static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                            static_cast<char>(value >> 24)};
    int patched = 0;
    // Local headers carry the CRC at 14 and the name at 30, central ones at 16 and 46.
    for (const auto& [signature, crc, nameAt] : {std::tuple<std::string, std::size_t, std::size_t>{"PK\x03\x04", 14, 30},
                                                {"PK\x01\x02", 16, 46}}) {
        for (std::size_t p = zip.find(signature); p != std::string::npos; p = zip.find(signature, p + 4)) {
            if (zip.compare(p + nameAt, name.size(), name) != 0) continue;
            zip.replace(p + crc + at, 4, bytes);
            ++patched;
        }
    }
    ASSERT_EQ(patched, 2) << name;
}

} // namespace dexalo::archivers::testing
