#include "shell/associations.h"

#include <gtest/gtest.h>

#include "memory_class_root.h"
#include "shell/registry.h"

namespace dexalo {
namespace {

const ProgramLocation kProgram{L"C:\\Program Files\\Dexalo", L"Dexalo"};
const std::wstring kCommandKey = L"LzhFile\\Shell\\Dexaloで解凍\\command";
const std::wstring kCommand = L"\"C:\\Program Files\\Dexalo\\Dexalo.exe\" \"%1\"";

std::array<int, 10> Checks(std::initializer_list<int> checked) {
    std::array<int, 10> values{};
    for (int i : checked) values[i] = 1;
    return values;
}
std::array<std::int32_t, 10> Was(std::initializer_list<int> associated) {
    std::array<std::int32_t, 10> values{};
    for (int i : associated) values[i] = 1;
    return values;
}

class AssociationsTest : public ::testing::Test {
protected:
    MemoryClassRoot root;
    Associations assoc{root, kProgram};
};

TEST_F(AssociationsTest, RegistrationWritesTheseValues) {
    EXPECT_TRUE(assoc.Apply(Checks({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), Was({})));
    const struct {
        const wchar_t* key;
        const wchar_t* name;
        std::wstring value;
    } rows[] = {
        {L".lzh", L"", L"LzhFile"},
        {L".lzh", L"Content Type", L"application/x-lzh-compressed"},
        {L".lzs", L"", L"LzhFile"},
        {L".lha", L"", L"LzhFile"},
        {L"LzhFile", L"", L"LZH File"},
        {L"LzhFile\\DefaultIcon", L"", L"C:\\Program Files\\Dexalo\\設定フォルダ\\LZH.ico,0"},
        {L"LzhFile\\Shell", L"", L"Dexaloで解凍"},
        {kCommandKey.c_str(), L"", kCommand},
        {L".jar", L"", L"ZipFile"},
        {L".bz2", L"", L"TarFile"},
        {L"YZ1File\\DefaultIcon", L"", L"C:\\Program Files\\Dexalo\\設定フォルダ\\YZ1.ico,0"},
        {L"JakFile\\Shell\\Dexaloで解凍\\command", L"", kCommand},
    };
    for (const auto& row : rows) EXPECT_EQ(root.Value(row.key, row.name), row.value) << row.key;
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(assoc.IsAssociated(i)) << i;
    EXPECT_EQ(root.notices, 1);
    EXPECT_FALSE(assoc.IsAssociated(10));
    EXPECT_FALSE(assoc.IsAssociated(-1));
}

TEST_F(AssociationsTest, TheTestComparesWholeTextsAndAcceptsWhatEarlierVersionsWrote) {
    assoc.Register(4);
    // Each of the four values, spoiled in a way a sloppy comparison would let through.
    const std::pair<std::wstring, std::wstring> spoilers[] = {
        {L".arj", L"arjfile"},
        {L".arj", L"ArjFile "},
        {L"ArjFile\\DefaultIcon", L"C:\\Program Files\\Dexalo\\設定フォルダ\\ARJ.ico"},
        {L"ArjFile\\Shell", L"open"},
        {L"ArjFile\\Shell\\Dexaloで解凍\\command", L"\"C:\\Program Files\\Dexalo\\Dexalo.exe\" %1"},
        {L"ArjFile\\Shell\\Dexaloで解凍\\command", L"c:\\program files\\dexalo\\dexalo %1"},
        {L"ArjFile\\Shell\\Dexaloで解凍\\command", L""},
    };
    for (const auto& [key, value] : spoilers) {
        const auto saved = root.Value(key, L"");
        root.Seed(key, L"", value);
        EXPECT_FALSE(assoc.IsAssociated(4)) << key << L" = " << value;
        root.Seed(key, L"", *saved);
    }
    root.Seed(L"ArjFile\\Shell\\Dexaloで解凍\\command", L"", L"C:\\Program Files\\Dexalo\\Dexalo %1");
    EXPECT_TRUE(assoc.IsAssociated(4));

    // At a drive root we join without doubling the separator; earlier versions doubled it.
    Associations atRoot(root, {L"E:\\", L"Dexalo"});
    atRoot.Register(9);
    EXPECT_EQ(root.Value(L"JakFile\\Shell\\Dexaloで解凍\\command", L""), L"\"E:\\Dexalo.exe\" \"%1\"");
    EXPECT_EQ(root.Value(L"JakFile\\DefaultIcon", L""), L"E:\\設定フォルダ\\JAK.ico,0");
    EXPECT_TRUE(atRoot.IsAssociated(9));
    root.Seed(L"JakFile\\DefaultIcon", L"", L"E:\\\\設定フォルダ\\JAK.ico,0");
    root.Seed(L"JakFile\\Shell\\Dexaloで解凍\\command", L"", L"E:\\\\Dexalo %1");
    EXPECT_TRUE(atRoot.IsAssociated(9));

    // A moved or renamed program no longer matches until registered again.
    Associations moved(root, {L"D:\\Tools", L"Dexalo"});
    EXPECT_FALSE(moved.IsAssociated(4));
    EXPECT_FALSE(Associations(root, {L"C:\\Program Files\\Dexalo", L"Dexalo2"}).IsAssociated(4));
    EXPECT_TRUE(moved.Apply(Checks({4}), Was({})));
    EXPECT_TRUE(moved.IsAssociated(4));
    EXPECT_FALSE(assoc.IsAssociated(4));
}

TEST_F(AssociationsTest, RemovalTakesOnlyWhatIsStillOurs) {
    root.Seed(L".zip", L"PerceivedType", L"compressed");
    root.Seed(L".zip\\OpenWithProgids", L"CompressedFolder", L"");
    root.SeedKey(L".cab\\PersistentHandler");
    for (int i : {0, 1, 2}) assoc.Register(i);
    root.Seed(L".lzh", L"", L"WinLha.Archive"); // taken by another program since
    root.Seed(L".lzh", L"Content Type", L"application/lha");
    root.Seed(L".cab", L"Content Type", L"application/vnd.ms-cab-compressed");
    EXPECT_FALSE(assoc.IsAssociated(0));

    // Even when the window had found LZH associated, removal only takes what names LzhFile.
    EXPECT_TRUE(assoc.Apply(Checks({}), Was({0, 1, 2})));
    EXPECT_EQ(root.Value(L".lzh", L""), L"WinLha.Archive");
    EXPECT_EQ(root.Value(L".lzh", L"Content Type"), L"application/lha");
    EXPECT_FALSE(root.HasKey(L".lzs"));
    EXPECT_FALSE(root.HasKey(L"LzhFile"));
    EXPECT_FALSE(root.HasKey(L"ZipFile")); // the class key goes with its sub-keys
    EXPECT_FALSE(root.HasKey(L".jar"));
    // Extension keys holding others' values or sub-keys lose only our two values.
    EXPECT_EQ(root.Value(L".zip", L""), std::nullopt);
    EXPECT_EQ(root.Value(L".zip", L"Content Type"), std::nullopt);
    EXPECT_EQ(root.Value(L".zip", L"PerceivedType"), L"compressed");
    EXPECT_EQ(root.Value(L".zip\\OpenWithProgids", L"CompressedFolder"), L"");
    EXPECT_EQ(root.Value(L".cab", L""), std::nullopt);
    EXPECT_EQ(root.Value(L".cab", L"Content Type"), L"application/vnd.ms-cab-compressed");
    EXPECT_TRUE(root.HasKey(L".cab\\PersistentHandler"));
    EXPECT_EQ(root.notices, 1);
}

TEST_F(AssociationsTest, ApplyActsOnCheckedOneOrWhatWasAssociatedAtStart) {
    assoc.Register(3);
    assoc.Register(5);
    const std::size_t keys = root.KeyCount();
    // Nothing checked, nothing associated at start: nothing touched, no notice.
    EXPECT_TRUE(assoc.Apply({2, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Was({})));
    EXPECT_EQ(root.KeyCount(), keys);
    EXPECT_EQ(root.notices, 0);
    // A greyed box (2) is not checked: TAR was associated, so it goes; ISH was not, so it stays.
    EXPECT_TRUE(assoc.Apply({0, 0, 0, 2, 0, 2, 0, 0, 0, 0}, Was({3})));
    EXPECT_FALSE(root.HasKey(L"TarFile"));
    EXPECT_FALSE(root.HasKey(L".gz"));
    EXPECT_TRUE(assoc.IsAssociated(5));
    EXPECT_EQ(root.notices, 1);

    // AssocState keeps its start value: not associated at start, unticking leaves it registered.
    assoc.Apply(Checks({7}), Was({}));
    assoc.Apply(Checks({}), Was({}));
    EXPECT_TRUE(assoc.IsAssociated(7));
    assoc.Apply(Checks({}), Was({7}));
    EXPECT_FALSE(root.HasKey(L"BgaFile"));
}

TEST_F(AssociationsTest, FailedWritesFailTheApplyButTheRestRuns) {
    root.failUnder.push_back(L"ZipFile\\Shell");
    EXPECT_FALSE(assoc.Apply(Checks({0, 1, 2}), Was({})));
    EXPECT_TRUE(assoc.IsAssociated(0));
    EXPECT_FALSE(assoc.IsAssociated(1));
    EXPECT_TRUE(assoc.IsAssociated(2));
    EXPECT_FALSE(assoc.Remove(1)); // the class tree holding the failing key cannot go either
    EXPECT_TRUE(root.HasKey(L"ZipFile"));

    root.readOnly = true; // still shows the true state
    EXPECT_FALSE(assoc.Apply(Checks({3}), Was({})));
    EXPECT_FALSE(root.HasKey(L".tar"));
    EXPECT_FALSE(assoc.Apply(Checks({}), Was({2})));
    EXPECT_TRUE(assoc.IsAssociated(2));
}

TEST(RegistryRoutines, ReadDefaultValueAndWriteNamedValues) {
    MemoryClassRoot root;
    EXPECT_EQ(Vanto_GETREG(root, L".lzh"), L"");
    EXPECT_TRUE(Vanto_SEBU(root, L".lzh", L"Content Type", L"application/x-lzh-compressed"));
    EXPECT_EQ(Vanto_GETREG(root, L".lzh"), L""); // only a named value so far
    EXPECT_TRUE(Vanto_SEBU(root, kCommandKey, L"", L"x"));
    EXPECT_TRUE(root.HasKey(L"LzhFile\\Shell"));
    EXPECT_EQ(Vanto_GETREG(root, L"lzhfile\\shell\\Dexaloで解凍\\COMMAND"), L"x");
    root.readOnly = true;
    EXPECT_FALSE(Vanto_SEBU(root, L".lzh", L"", L"Other"));
}

} // namespace
} // namespace dexalo
