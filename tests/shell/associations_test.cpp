#include "shell/associations.h"

#include <gtest/gtest.h>

#include "memory_class_root.h"

namespace dexalo {
using Rows = std::vector<std::wstring>;
const ProgramLocation kProgram{L"C:\\Program Files\\Dexalo", L"Dexalo"};
const std::wstring kCommandKey = L"LzhFile\\Shell\\Dexaloで解凍\\command";

std::array<int, 10> Only(int i) {
    std::array<int, 10> values{};
    values[i] = 1;
    return values;
}

TEST(Associations, RegistrationWritesTheseRowsAndTheTestAcceptsEarlierForms) {
    MemoryClassRoot root;
    Associations assoc(root, kProgram);
    EXPECT_TRUE(assoc.Apply(Only(0), {}));
    EXPECT_EQ(root.Rows(), (Rows{
        L".lha|=LzhFile", L".lha|Content Type=application/x-lzh-compressed",
        L".lzh|=LzhFile", L".lzh|Content Type=application/x-lzh-compressed",
        L".lzs|=LzhFile", L".lzs|Content Type=application/x-lzh-compressed",
        L"LzhFile|=LZH File",
        L"LzhFile\\DefaultIcon|=C:\\Program Files\\Dexalo\\設定フォルダ\\LZH.ico,0",
        L"LzhFile\\Shell|=Dexaloで解凍",
        L"LzhFile\\Shell\\Dexaloで解凍",
        kCommandKey + L"|=\"C:\\Program Files\\Dexalo\\Dexalo.exe\" \"%1\""}));
    EXPECT_EQ(root.notices, 1);
    EXPECT_TRUE(assoc.IsAssociated(0));
    // Earlier versions wrote the command without quotes or ".exe"; otherwise whole texts count.
    root.WriteString(kCommandKey, L"", L"C:\\Program Files\\Dexalo\\Dexalo %1");
    EXPECT_TRUE(assoc.IsAssociated(0));
    root.WriteString(L".lzh", L"", L"lzhfile");
    EXPECT_FALSE(assoc.IsAssociated(0));
    // At a drive root the separator is not doubled.
    Associations(root, {L"E:\\", L"Dexalo"}).Register(0);
    EXPECT_EQ(root.ReadValue(kCommandKey, L""), L"\"E:\\Dexalo.exe\" \"%1\"");
}

// Only what still names our class goes; extension keys holding others' sub-keys lose only
// our two values. A box that was not associated at start and is unticked stays as it is.
TEST(Associations, RemovalTakesOnlyWhatIsStillOurs) {
    MemoryClassRoot root;
    Associations assoc(root, kProgram);
    for (int i : {0, 1, 2, 3}) assoc.Register(i);
    root.WriteString(L".zip\\OpenWithProgids", L"CompressedFolder", L"");
    root.WriteString(L".lzh", L"", L"WinLha.Archive");
    EXPECT_TRUE(assoc.Apply({}, {1, 1, 1, 0}));
    EXPECT_TRUE(assoc.IsAssociated(3));
    EXPECT_TRUE(assoc.Remove(3));
    EXPECT_EQ(root.Rows(), (Rows{L".lzh|=WinLha.Archive", L".lzh|Content Type=application/x-lzh-compressed",
                                 L".zip", L".zip\\OpenWithProgids|CompressedFolder="}));
}

} // namespace dexalo
