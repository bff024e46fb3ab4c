// A new file that a virus scanner or an indexer holds for a moment is still put in place.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/platform/platform.h"

namespace dexalo::archivers::platform {
namespace {

// Holds path open without delete sharing, as scanners do, for ms milliseconds.
std::thread Hold(const Path& path, DWORD ms) {
    const HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE);
    return std::thread([held, ms] { ::Sleep(ms); ::CloseHandle(held); });
}

TEST(HeldFile, ARenameRefusedForAMomentIsTriedAgainButNotForever) {
    const Path dir = std::filesystem::temp_directory_path() / "dexalo-held-file";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "new.tmp") << "new";
    std::ofstream(dir / "again.tmp") << "again";
    std::ofstream(dir / "file.txt") << "older";

    std::thread brief = Hold(dir / "new.tmp", 300), longer = Hold(dir / "again.tmp", 2500);
    EXPECT_TRUE(RenameOver(dir / "new.tmp", dir / "file.txt"));
    EXPECT_EQ(std::filesystem::file_size(dir / "file.txt"), 3u);
    EXPECT_FALSE(RenameOver(dir / "again.tmp", dir / "file.txt"));
    brief.join();
    longer.join();
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace dexalo::archivers::platform
