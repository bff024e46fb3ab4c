// Associations as standard users and shared machines have them: machine-wide classes that refuse
// writes, extensions that belong to other programs too, text the registry cannot carry.
#include <gtest/gtest.h>

#include "memory_class_root.h"
#include "shell/associations.h"

namespace dexalo {
namespace {

const ProgramLocation kProgram{L"C:\\Tools\\Dexalo", L"Dexalo"};
const std::array<std::int32_t, 10> kLzhAssociated{1};

TEST(AssociationFallback, RefusedMachineWideTheRowGoesToTheUsersClassesAndRemovalCleansBoth) {
    MemoryClassRoot machine, user;
    Associations assoc(machine, kProgram, &user);
    machine.readOnly = true;
    EXPECT_TRUE(assoc.Apply({1}, {}));
    EXPECT_TRUE(machine.Rows().empty());
    EXPECT_EQ(user.ReadValue(L".lha", L""), L"LzhFile");
    EXPECT_EQ(user.ReadValue(L"LzhFile\\Shell\\Dexaloで解凍\\command", L""), L"\"C:\\Tools\\Dexalo\\Dexalo.exe\" \"%1\"");

    // An administrator registered it machine-wide as well: removal takes ours from both.
    machine.readOnly = false;
    EXPECT_TRUE(assoc.Register(0));
    EXPECT_TRUE(assoc.Apply({}, kLzhAssociated));
    EXPECT_TRUE(machine.Rows().empty());
    EXPECT_TRUE(user.Rows().empty());

    // Any other failure is reported, not moved.
    machine.failUnder.push_back(L"ZipFile");
    EXPECT_FALSE(assoc.Register(1));
    EXPECT_TRUE(user.Rows().empty());
}

TEST(AssociationTakeOver, TheFormerHandlerComesBackAndOthersValuesStay) {
    MemoryClassRoot root;
    Associations assoc(root, kProgram);
    root.WriteString(L".lha", L"", L"Other.lha");
    root.WriteString(L".lha", L"PerceivedType", L"compressed");
    root.WriteString(L"Other.lha", L"", L"Other archive");
    root.WriteString(L".lzs", L"", L"Uninstalled.lzs");
    ASSERT_TRUE(assoc.Register(0));
    ASSERT_TRUE(assoc.Register(0)); // registering again keeps the first handler, not ours
    EXPECT_EQ(root.ReadValue(L".lha", L"Dexalo.PreviousProgID"), L"Other.lha");

    EXPECT_TRUE(assoc.Remove(0));
    EXPECT_EQ(root.ValueNames(L".lha"), (std::vector<std::wstring>{L"", L"PerceivedType"}));
    EXPECT_EQ(root.ReadValue(L".lha", L""), L"Other.lha");
    EXPECT_FALSE(root.ValueNames(L".lzs")); // its handler is gone, so nothing is left to keep
    EXPECT_FALSE(root.ValueNames(L".lzh"));
}

// The uninstaller's sweep: every type whose verb starts this copy goes, even one whose first
// extension another program took since; another copy's rows stay.
TEST(AssociationUninstall, EveryTypeWhoseVerbStartsThisCopyGoes) {
    MemoryClassRoot root;
    Associations assoc(root, kProgram);
    for (int i : {0, 1, 3}) ASSERT_TRUE(assoc.Register(i));
    root.WriteString(L".tar", L"", L"Other.tar");
    Associations(root, {L"D:\\Portable", L"Dexalo"}).Register(2);

    EXPECT_TRUE(RemoveEveryAssociation(assoc));
    EXPECT_EQ(root.notices, 1);
    EXPECT_EQ(root.Rows(), (std::vector<std::wstring>{
        L".cab|=CabFile", L".cab|Content Type=application/x-cab-compressed", L".tar|=Other.tar",
        L".tar|Content Type=application/x-tar", L"CabFile|=CAB File",
        L"CabFile\\DefaultIcon|=D:\\Portable\\設定フォルダ\\CAB.ico,0", L"CabFile\\Shell|=Dexaloで解凍",
        L"CabFile\\Shell\\Dexaloで解凍", L"CabFile\\Shell\\Dexaloで解凍\\command|=\"D:\\Portable\\Dexalo.exe\" \"%1\""}));
}

TEST(AssociationText, ARowTheRegistryCannotCarryWritesNothingAndAShortFolderStandsIn) {
    MemoryClassRoot root;
    root.refused = L"한";
    const ProgramLocation korean{L"C:\\한국\\Dexalo", L"Dexalo"};
    Associations refused(root, korean);
    EXPECT_FALSE(refused.Register(3));
    EXPECT_TRUE(root.Rows().empty());

    const auto shortForm = [](const std::wstring&) { return std::optional<std::wstring>(L"C:\\C0A3~1\\Dexalo"); };
    EXPECT_EQ(RegistrableLocation(korean, root, shortForm).folder, L"C:\\C0A3~1\\Dexalo");
    EXPECT_EQ(RegistrableLocation(kProgram, root, shortForm).folder, kProgram.folder);
}

} // namespace
} // namespace dexalo
