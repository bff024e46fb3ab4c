#include "archiver_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

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

namespace {

std::uint32_t Crc32(const std::string& data) {
    return static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

void Put16(std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A RAR 4 block: the CRC covers everything after itself.
std::string RarBlock(std::string body) {
    std::string block;
    Put16(block, Crc32(body) & 0xFFFF);
    return block + body;
}

} // namespace

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

std::string MakeTar(const std::vector<TarMember>& members) {
    std::string tar;
    for (const auto& m : members) {
        char header[512] = {};
        std::strncpy(header, m.name.c_str(), 100);
        std::snprintf(header + 100, 8, "%07o", m.type == '5' ? 0755 : 0644);
        std::snprintf(header + 108, 8, "%07o", 0);
        std::snprintf(header + 116, 8, "%07o", 0);
        std::snprintf(header + 124, 12, "%011o", static_cast<unsigned>(m.type == '0' ? m.data.size() : 0));
        std::snprintf(header + 136, 12, "%011o", 1600000000u);
        std::memset(header + 148, ' ', 8);
        header[156] = m.type;
        std::strncpy(header + 157, m.link.c_str(), 100);
        std::memcpy(header + 257, "ustar", 6);
        std::memcpy(header + 263, "00", 2);
        unsigned sum = 0;
        for (unsigned char c : header) sum += c;
        std::snprintf(header + 148, 8, "%06o", sum);
        tar.append(header, 512);
        if (m.type == '0') {
            tar += m.data;
            tar.append((512 - m.data.size() % 512) % 512, '\0');
        }
    }
    tar.append(1024, '\0');
    return tar;
}

std::string MakeStoredRar4(const std::vector<RarMember>& members) {
    std::string rar("Rar!\x1A\x07\x00", 7);
    std::string mainHeader;
    mainHeader += '\x73';
    Put16(mainHeader, 0);
    Put16(mainHeader, 13);
    Put16(mainHeader, 0);
    Put32(mainHeader, 0);
    rar += RarBlock(mainHeader);
    for (const auto& m : members) {
        std::string h;
        h += '\x74';
        Put16(h, 0x8000 | (m.folder ? 0x00E0 : 0) | (m.utf8Name ? 0x0200 : 0));
        Put16(h, static_cast<unsigned>(32 + m.name.size()));
        Put32(h, static_cast<std::uint32_t>(m.data.size()));   // packed size
        Put32(h, static_cast<std::uint32_t>(m.data.size()));   // unpacked size
        h += '\x02';                                             // written on Windows
        Put32(h, Crc32(m.data));
        Put32(h, (44u << 25) | (6u << 21) | (15u << 16) | (12u << 11));  // 2024-06-15 12:00:00
        h += static_cast<char>(20);                              // version to extract
        h += '\x30';                                             // stored
        Put16(h, static_cast<unsigned>(m.name.size()));
        Put32(h, m.folder ? 0x10 : 0x20);
        h += m.name;
        rar += RarBlock(h) + m.data;
    }
    std::string end;
    end += '\x7B';
    Put16(end, 0x4000);
    Put16(end, 7);
    rar += RarBlock(end);
    return rar;
}

std::string MakeStoredCab(const std::vector<CabMember>& members) {
    std::string files, data;
    std::uint32_t offset = 0;
    for (const auto& m : members) {
        Put32(files, static_cast<std::uint32_t>(m.data.size()));
        Put32(files, offset);
        Put16(files, 0);                                // folder 0
        Put16(files, (44u << 9) | (6u << 5) | 15u);     // 2024-06-15
        Put16(files, 12u << 11);                        // 12:00:00
        Put16(files, 0x20 | (m.utf8Name ? 0x80 : 0));  // archive bit, UTF-8 name
        files += m.name;
        files += '\0';
        data += m.data;
        offset += static_cast<std::uint32_t>(m.data.size());
    }
    std::string blocks;
    std::uint16_t count = 0;
    for (std::size_t at = 0; at < data.size() || count == 0; at += 32768, ++count) {
        const std::string chunk = data.substr(std::min(at, data.size()), 32768);
        Put32(blocks, 0);  // no checksum
        Put16(blocks, static_cast<unsigned>(chunk.size()));
        Put16(blocks, static_cast<unsigned>(chunk.size()));
        blocks += chunk;
    }
    constexpr std::uint32_t kHeader = 36, kFolder = 8;
    std::string cab = "MSCF";
    Put32(cab, 0);
    Put32(cab, static_cast<std::uint32_t>(kHeader + kFolder + files.size() + blocks.size()));
    Put32(cab, 0);
    Put32(cab, kHeader + kFolder);  // first file entry
    Put32(cab, 0);
    cab += '\x03';
    cab += '\x01';
    Put16(cab, 1);
    Put16(cab, static_cast<unsigned>(members.size()));
    Put16(cab, 0);
    Put16(cab, 0);
    Put16(cab, 0);
    Put32(cab, static_cast<std::uint32_t>(kHeader + kFolder + files.size()));  // first data block
    Put16(cab, count);
    Put16(cab, 0);  // stored
    return cab + files + blocks;
}

JapaneseCodePages::JapaneseCodePages() {
    platform::UseCodePages("CP932", "CP932");
    ForgetScans();
}

JapaneseCodePages::~JapaneseCodePages() {
    platform::UseCodePages({}, {});
    ForgetScans();
}

void PatchZipHeaders(std::string& zip, const std::string& name, std::size_t at, std::uint32_t value) {
    std::string bytes;
    Put32(bytes, value);
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
