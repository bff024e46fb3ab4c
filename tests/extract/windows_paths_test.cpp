// Paths as real machines have them: folders with commas, libraries in old setups' places.
#include <gtest/gtest.h>

#include "extract/command_line.h"
#include "extract/library_folders.h"

namespace dexalo {
namespace {

TEST(ExplorerCommand, OnlyAFolderWithACommaIsQuoted) {
    EXPECT_EQ(ExplorerCommandLine(L"C:\\Out\\a,b\\data"), L"explorer /n,\"C:\\Out\\a,b\\data\"");
    EXPECT_EQ(ExplorerCommandLine(L"D:\\Out\\data"), L"explorer /n,D:\\Out\\data");
    EXPECT_EQ(ExplorerCommandLine(L"C:\\My Files\\"), L"explorer /n,C:\\My Files\\");
}

TEST(LibraryFolders, FixedFoldersThenOnlyAbsolutePathEntries) {
    const std::wstring path = L".;C:\\Tools;;bin;\"C:\\Program Files\\Arc\";\\\\server\\share\\lib;D:rel;\\root;"
                              L"\\\\;C:/Mixed/Slashes";
    EXPECT_EQ(LibraryFolders(L"C:\\Dexalo", L"C:\\Windows\\system32", L"C:\\Windows", path),
              (std::vector<std::wstring>{L"C:\\Dexalo", L"C:\\Windows\\system32", L"C:\\Windows", L"C:\\Tools",
                                         L"C:\\Program Files\\Arc", L"\\\\server\\share\\lib", L"C:/Mixed/Slashes"}));
}

} // namespace
} // namespace dexalo
