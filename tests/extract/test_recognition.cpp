#include <gtest/gtest.h>

#include "extract/recognition.h"
#include "extract_fakes.h"

namespace dexalo::test {
namespace {

const std::wstring kPath = L"C:\\Arc\\data.lzh";

// Each library accepting alone: its type, its count, and nobody below it is asked, so the
// number of calls is its place in the fixed order.
TEST(Recognition, FirstAcceptingProbeEndsTheSearch) {
    const struct {
        ArchiveType type;
        bool check;
        std::size_t calls;
    } steps[] = {{ArchiveType::LZH, false, 1}, {ArchiveType::ZIP, false, 2}, {ArchiveType::CAB, false, 3},
                 {ArchiveType::TAR, false, 4}, {ArchiveType::BGA, false, 5}, {ArchiveType::ISH, true, 6},
                 {ArchiveType::RAR, false, 7}, {ArchiveType::YZ1, false, 8}, {ArchiveType::ARJ, false, 9},
                 {ArchiveType::JAK, true, 10}};
    for (const auto& step : steps) {
        FakeLibraries libs;
        FakeArchive& a = libs.Add(LibraryOf(step.type), kPath);
        if (step.check) a.check = 1;
        else a.count = 7;
        const Recognition r = Recognise(libs, kPath);
        EXPECT_EQ(r.type, step.type) << static_cast<int>(step.type);
        EXPECT_EQ(r.entryCount, step.check ? 0 : 7);
        EXPECT_EQ(libs.log.size(), step.calls);
        EXPECT_TRUE(!step.check || libs.log.back().ends_with(L"(C:\\Arc\\data.lzh,0)")) << libs.log.back();
    }
}

TEST(Recognition, NegativeAnswersAndMissingCallsAreRejections) {
    FakeLibraries libs;
    libs.Add(Library::Unlha, kPath).count = -1;          // the libraries' error value
    libs.missing.insert(Library::UnZip);                 // not installed
    libs.missingExports.insert({Library::Cab, L"GetFileCount"});
    libs.Add(Library::Ish, kPath).check = 2;             // only exactly 1 accepts
    libs.Add(Library::Jack, kPath).check = -1;
    EXPECT_EQ(Recognise(libs, kPath).type, ArchiveType::LZ);
    EXPECT_EQ(libs.log.size(), 10u);

    libs.Add(Library::Yz1, kPath).count = 3;
    const Recognition r = Recognise(libs, kPath);
    EXPECT_EQ(r.type, ArchiveType::YZ1);
    EXPECT_EQ(r.entryCount, 3);

    for (int i = 0; i < kLibraryCount; ++i) libs.missing.insert(static_cast<Library>(i));
    EXPECT_EQ(Recognise(libs, kPath).type, ArchiveType::LZ);
}

} // namespace
} // namespace dexalo::test
