#include "shell/associations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "memory_class_root.h"
#include "shell/registry.h"

namespace dexalo {
namespace {

using ::testing::ElementsAre;
using Op = MemoryClassRoot::Op;

const ProgramLocation kProgram{L"C:\\Program Files\\Dexalo", L"Dexalo"};
const std::wstring kCommand = L"LzhFile\\Shell\\Dexaloで解凍\\command";

std::array<int, 10> Checks(std::initializer_list<int> checked) {
    std::array<int, 10> values{};
    for (int i : checked) values[i] = 1;
    return values;
}
constexpr std::array<std::int32_t, 10> kNoneAssociated{};

std::vector<std::wstring> WrittenKeys(const MemoryClassRoot& root) {
    std::vector<std::wstring> keys;
    for (const auto& w : root.Accesses(Op::Write)) keys.push_back(w.subKey + L"|" + w.valueName);
    return keys;
}

class AssociationsTest : public ::testing::Test {
protected:
    MemoryClassRoot root;
    Associations assoc{root, kProgram};
};

TEST_F(AssociationsTest, RegisteringLzhWritesTenValuesInOrder) {
    EXPECT_TRUE(assoc.Register(0));
    const auto writes = root.Accesses(Op::Write);
    const std::wstring icon = L"C:\\Program Files\\Dexalo\\設定フォルダ\\LZH.ico,0";
    const std::wstring command = L"\"C:\\Program Files\\Dexalo\\Dexalo.exe\" \"%1\"";
    const std::wstring ct = L"application/x-lzh-compressed";
    EXPECT_THAT(writes, ElementsAre(
        MemoryClassRoot::Access{Op::Write, L".lzh", L"", L"LzhFile", true},
        MemoryClassRoot::Access{Op::Write, L".lzh", L"Content Type", ct, true},
        MemoryClassRoot::Access{Op::Write, L".lzs", L"", L"LzhFile", true},
        MemoryClassRoot::Access{Op::Write, L".lzs", L"Content Type", ct, true},
        MemoryClassRoot::Access{Op::Write, L".lha", L"", L"LzhFile", true},
        MemoryClassRoot::Access{Op::Write, L".lha", L"Content Type", ct, true},
        MemoryClassRoot::Access{Op::Write, L"LzhFile", L"", L"LZH File", true},
        MemoryClassRoot::Access{Op::Write, L"LzhFile\\DefaultIcon", L"", icon, true},
        MemoryClassRoot::Access{Op::Write, L"LzhFile\\Shell", L"", L"Dexaloで解凍", true},
        MemoryClassRoot::Access{Op::Write, kCommand, L"", command, true}));
    EXPECT_EQ(root.Accesses(Op::Read).size(), 3u); // only each extension's ProgID, to keep another's
}

TEST_F(AssociationsTest, ApplyingAllTenMakesEightyWritesRowByRow) {
    EXPECT_TRUE(assoc.Apply(Checks({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), kNoneAssociated));
    EXPECT_EQ(root.Accesses(Op::Write).size(), 80u);
    EXPECT_EQ(root.NotifyCount(), 1);

    // Row by row: extension pairs, then the class key and its three sub-keys, in table order.
    std::vector<std::wstring> expected;
    const std::array<int, 10> counts = {10, 8, 6, 18, 6, 6, 6, 8, 6, 6};
    for (int i = 0; i < 10; ++i) {
        const auto& type = kAssociationTable[i];
        ASSERT_EQ(static_cast<int>(type.extensions.size()) * 2 + 4, counts[i]) << i;
        const std::wstring id(type.ProgID);
        for (auto ext : type.extensions) {
            expected.push_back(std::wstring(ext) + L"|");
            expected.push_back(std::wstring(ext) + L"|Content Type");
        }
        expected.push_back(id + L"|");
        expected.push_back(id + L"\\DefaultIcon|");
        expected.push_back(id + L"\\Shell|");
        expected.push_back(id + L"\\Shell\\Dexaloで解凍\\command|");
    }
    EXPECT_EQ(WrittenKeys(root), expected);

    Associations fresh(root, kProgram);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(fresh.IsAssociated(i)) << i;
    EXPECT_EQ(root.Value(L".bz2", L""), L"TarFile");
    EXPECT_EQ(root.Value(L"YZ1File\\DefaultIcon", L""), L"C:\\Program Files\\Dexalo\\設定フォルダ\\YZ1.ico,0");
}

TEST_F(AssociationsTest, TestAlwaysReadsAllFourInOrder) {
    const std::vector<std::wstring> expected = {L".zip", L"ZipFile\\DefaultIcon", L"ZipFile\\Shell",
                                                L"ZipFile\\Shell\\Dexaloで解凍\\command"};
    auto readKeys = [&] {
        std::vector<std::wstring> keys;
        for (const auto& r : root.Accesses(Op::Read)) {
            EXPECT_EQ(r.valueName, L"");
            keys.push_back(r.subKey);
        }
        root.ClearLog();
        return keys;
    };
    EXPECT_FALSE(assoc.IsAssociated(1)); // empty root: the first read already fails
    EXPECT_EQ(readKeys(), expected);
    assoc.Register(1);
    root.Seed(L".zip", L"", L"SomeoneElse");
    root.ClearLog();
    EXPECT_FALSE(assoc.IsAssociated(1));
    EXPECT_TRUE(root.Accesses(Op::Write).empty());
    EXPECT_EQ(readKeys(), expected);
    EXPECT_FALSE(assoc.IsAssociated(10));
    EXPECT_FALSE(assoc.IsAssociated(-1));
    EXPECT_TRUE(root.Log().empty());
}

TEST_F(AssociationsTest, TestComparesWholeTextsExactly) {
    assoc.Register(4);
    ASSERT_TRUE(assoc.IsAssociated(4));
    // Each of the four values, spoiled in a way a sloppy comparison would let through.
    const std::vector<std::pair<std::wstring, std::wstring>> spoilers = {
        {L".arj", L"arjfile"},
        {L".arj", L"ArjFile "},
        {L"ArjFile\\DefaultIcon", L"C:\\Program Files\\Dexalo\\設定フォルダ\\ARJ.ico"},
        {L"ArjFile\\Shell", L"open"},
        {L"ArjFile\\Shell\\Dexaloで解凍\\command", L"\"C:\\Program Files\\Dexalo\\Dexalo.exe\" %1"},
        {L"ArjFile\\Shell\\Dexaloで解凍\\command", L"C:\\Program Files\\Dexalo\\Dexalo.exe %1"},
        {L"ArjFile\\Shell\\Dexaloで解凍\\command", L"c:\\program files\\dexalo\\dexalo %1"},
        {L"ArjFile\\Shell\\Dexaloで解凍\\command", L""},
    };
    for (const auto& [key, value] : spoilers) {
        const auto saved = root.Value(key, L"");
        root.Seed(key, L"", value);
        EXPECT_FALSE(assoc.IsAssociated(4)) << key << L" = " << value;
        root.Seed(key, L"", *saved);
    }
    EXPECT_TRUE(assoc.IsAssociated(4));
}

TEST_F(AssociationsTest, WhatEarlierVersionsWroteStillCountsAsOurs) {
    assoc.Register(0);
    root.Seed(kCommand, L"", L"C:\\Program Files\\Dexalo\\Dexalo %1"); // unquoted
    EXPECT_TRUE(assoc.IsAssociated(0));
    EXPECT_EQ(assoc.LegacyCommandValue(), L"C:\\Program Files\\Dexalo\\Dexalo %1");

    // At a drive root we join without doubling the separator; earlier versions doubled it.
    Associations atRoot(root, {L"E:\\", L"Dexalo"});
    EXPECT_EQ(atRoot.CommandValue(), L"\"E:\\Dexalo.exe\" \"%1\"");
    EXPECT_EQ(atRoot.IconValue(9), L"E:\\設定フォルダ\\JAK.ico,0");
    atRoot.Register(9);
    EXPECT_TRUE(atRoot.IsAssociated(9));
    root.Seed(L"JakFile\\DefaultIcon", L"", L"E:\\\\設定フォルダ\\JAK.ico,0");
    root.Seed(L"JakFile\\Shell\\Dexaloで解凍\\command", L"", L"E:\\\\Dexalo %1");
    EXPECT_TRUE(atRoot.IsAssociated(9));
}

TEST_F(AssociationsTest, MovedOrRenamedProgramNoLongerMatchesUntilRegisteredAgain) {
    assoc.Register(2);
    Associations moved(root, {L"D:\\Tools", L"Dexalo"});
    Associations renamed(root, {L"C:\\Program Files\\Dexalo", L"Dexalo2"});
    EXPECT_FALSE(moved.IsAssociated(2));
    EXPECT_FALSE(renamed.IsAssociated(2));

    EXPECT_TRUE(moved.Apply(Checks({2}), kNoneAssociated));
    EXPECT_TRUE(moved.IsAssociated(2));
    EXPECT_FALSE(assoc.IsAssociated(2));
    EXPECT_EQ(root.Value(L"CabFile\\Shell\\Dexaloで解凍\\command", L""), L"\"D:\\Tools\\Dexalo.exe\" \"%1\"");
    EXPECT_EQ(root.Value(L"CabFile\\DefaultIcon", L""), L"D:\\Tools\\設定フォルダ\\CAB.ico,0");
}

TEST_F(AssociationsTest, ExtensionsTakenByAnotherProgIdAreNotOursToRemove) {
    assoc.Register(0);
    root.Seed(L".lha", L"", L"Other.lha");
    EXPECT_TRUE(assoc.IsAssociated(0));
    root.Seed(L".lzh", L"", L"WinLha.Archive");
    root.Seed(L".lzh", L"Content Type", L"application/lha");
    EXPECT_FALSE(assoc.IsAssociated(0));

    // Even if the window had found it associated, removal only takes what still names LzhFile.
    EXPECT_TRUE(assoc.Apply(Checks({}), {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(root.Value(L".lzh", L""), L"WinLha.Archive");
    EXPECT_EQ(root.Value(L".lzh", L"Content Type"), L"application/lha");
    EXPECT_EQ(root.Value(L".lha", L""), L"Other.lha");
    EXPECT_FALSE(root.HasKey(L".lzs"));
    EXPECT_FALSE(root.HasKey(L"LzhFile"));
    EXPECT_EQ(root.NotifyCount(), 1);
}

TEST_F(AssociationsTest, RemovalFollowsTheListAndTakesTheWholeClassTree) {
    assoc.Register(1);
    root.ClearLog();
    EXPECT_TRUE(assoc.Remove(1));
    std::vector<std::wstring> removed;
    for (const auto& a : root.Log())
        if (a.op == Op::DeleteKey || a.op == Op::DeleteTree) removed.push_back(a.subKey);
    EXPECT_THAT(removed, ElementsAre(L".jar", L".zip", L"ZipFile"));
    EXPECT_EQ(root.Accesses(Op::DeleteTree).size(), 1u); // the class key, with its sub-keys
    EXPECT_EQ(root.KeyCount(), 0u);
}

TEST_F(AssociationsTest, ExtensionWithOthersSubKeysLosesOnlyOurTwoValues) {
    root.Seed(L".zip", L"PerceivedType", L"compressed");
    root.SeedKey(L".zip\\ShellNew");
    root.Seed(L".zip\\OpenWithProgids", L"CompressedFolder", L"");
    root.SeedKey(L".cab\\PersistentHandler");
    assoc.Register(1);
    assoc.Register(2);
    root.Seed(L".cab", L"Content Type", L"application/vnd.ms-cab-compressed"); // changed by another

    EXPECT_TRUE(assoc.Apply(Checks({}), {0, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(root.Value(L".zip", L""), std::nullopt);
    EXPECT_EQ(root.Value(L".zip", L"Content Type"), std::nullopt);
    EXPECT_EQ(root.Value(L".zip", L"PerceivedType"), L"compressed");
    EXPECT_TRUE(root.HasKey(L".zip\\ShellNew"));
    EXPECT_EQ(root.Value(L".zip\\OpenWithProgids", L"CompressedFolder"), L"");
    EXPECT_EQ(root.Value(L".cab", L""), std::nullopt);
    EXPECT_EQ(root.Value(L".cab", L"Content Type"), L"application/vnd.ms-cab-compressed");
    EXPECT_FALSE(root.HasKey(L".jar"));
    EXPECT_FALSE(root.HasKey(L"ZipFile"));
}

TEST_F(AssociationsTest, ApplyDispatchesOnlyOnCheckedOneOrFormerlyAssociated) {
    assoc.Register(3);
    assoc.Register(5);
    root.ClearLog();

    // Nothing checked, nothing associated at start: no access at all, no shell notice.
    EXPECT_TRUE(assoc.Apply({2, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kNoneAssociated));
    EXPECT_TRUE(root.Log().empty());
    EXPECT_EQ(root.NotifyCount(), 0);

    // A greyed box (2) is not checked: TAR was associated, so it goes; ISH was not, so it stays.
    EXPECT_TRUE(assoc.Apply({0, 0, 0, 2, 0, 2, 0, 0, 0, 0}, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(root.Accesses(Op::Write).empty());
    EXPECT_FALSE(root.HasKey(L"TarFile"));
    EXPECT_FALSE(root.HasKey(L".gz"));
    EXPECT_TRUE(assoc.IsAssociated(5));
    EXPECT_EQ(root.NotifyCount(), 1);
}

TEST_F(AssociationsTest, AssocStateKeepsItsStartValueAcrossApplies) {
    // Not associated at start: checked and applied, then unchecked and applied, stays registered.
    const std::array<std::int32_t, 10> atStart{};
    assoc.Apply(Checks({7}), atStart);
    assoc.Apply(Checks({}), atStart);
    EXPECT_TRUE(assoc.IsAssociated(7));

    // Associated at start: removed, registered again, removed again.
    const std::array<std::int32_t, 10> wasAssociated = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0};
    assoc.Apply(Checks({}), wasAssociated);
    EXPECT_FALSE(root.HasKey(L"BgaFile"));
    assoc.Apply(Checks({7}), wasAssociated);
    EXPECT_TRUE(assoc.IsAssociated(7));
    assoc.Apply(Checks({}), wasAssociated);
    EXPECT_EQ(root.KeyCount(), 0u);
}

TEST_F(AssociationsTest, ReadOnlyRootStillShowsTheTrueStateAndReportsFailures) {
    assoc.Register(6);
    root.ClearLog();
    root.SetReadOnly(true);
    EXPECT_TRUE(assoc.IsAssociated(6));

    EXPECT_FALSE(assoc.Apply(Checks({0}), kNoneAssociated));
    EXPECT_EQ(root.Accesses(Op::Write).size(), 10u); // every write is still attempted
    EXPECT_FALSE(root.HasKey(L".lzh"));

    EXPECT_FALSE(assoc.Apply(Checks({}), {0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_TRUE(assoc.IsAssociated(6));
}

TEST_F(AssociationsTest, OneFailingKeyFailsTheApplyButTheRestIsWritten) {
    root.FailWritesUnder(L"ZipFile\\Shell");
    EXPECT_FALSE(assoc.Apply(Checks({0, 1, 2}), kNoneAssociated));
    EXPECT_EQ(root.Accesses(Op::Write).size(), 24u);
    EXPECT_TRUE(assoc.IsAssociated(0));
    EXPECT_FALSE(assoc.IsAssociated(1));
    EXPECT_TRUE(assoc.IsAssociated(2));
    EXPECT_EQ(root.Value(L"ZipFile\\DefaultIcon", L"").has_value(), true);

    // The class tree holding the failing key cannot go either.
    EXPECT_FALSE(assoc.Remove(1));
    EXPECT_TRUE(root.HasKey(L"ZipFile"));
}

TEST(RegistryRoutines, ReadDefaultValueAndWriteNamedValues) {
    MemoryClassRoot root;
    EXPECT_EQ(Vanto_GETREG(root, L".lzh"), L"");
    EXPECT_TRUE(Vanto_SEBU(root, L".lzh", L"Content Type", L"application/x-lzh-compressed"));
    EXPECT_EQ(Vanto_GETREG(root, L".lzh"), L""); // only a named value so far
    EXPECT_TRUE(Vanto_SEBU(root, L".lzh", L"", L"LzhFile"));
    EXPECT_EQ(Vanto_GETREG(root, L".LZH"), L"LzhFile"); // key names ignore letter case
    EXPECT_TRUE(Vanto_SEBU(root, kCommand, L"", L"x"));
    EXPECT_TRUE(root.HasKey(L"LzhFile\\Shell"));
    EXPECT_EQ(Vanto_GETREG(root, L"lzhfile\\shell\\Dexaloで解凍\\COMMAND"), L"x");
    root.SetReadOnly(true);
    EXPECT_FALSE(Vanto_SEBU(root, L".lzh", L"", L"Other"));
    EXPECT_EQ(Vanto_GETREG(root, L".lzh"), L"LzhFile");
}

TEST(MemoryClassRoot, DeletingBehavesLikeThePlatform) {
    MemoryClassRoot root;
    root.Seed(L"A\\B", L"v", L"1");
    EXPECT_FALSE(root.DeleteKey(L"A")); // still has a sub-key
    EXPECT_TRUE(root.HasSubKeys(L"a"));
    EXPECT_FALSE(root.HasSubKeys(L"A\\B"));
    EXPECT_FALSE(root.HasSubKeys(L"Missing"));
    EXPECT_TRUE(root.DeleteValue(L"A\\B", L"V"));
    EXPECT_TRUE(root.DeleteValue(L"Missing", L"v")); // nothing to remove counts as removed
    EXPECT_TRUE(root.DeleteKey(L"A\\B"));
    EXPECT_TRUE(root.DeleteKey(L"A"));
    EXPECT_TRUE(root.DeleteKey(L"A"));
    EXPECT_FALSE(root.DeleteTree(L""));
    EXPECT_FALSE(root.WriteString(L"A\\\\B", L"", L"x"));
    EXPECT_EQ(root.KeyCount(), 0u);
}

} // namespace
} // namespace dexalo
