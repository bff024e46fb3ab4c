// dexalo.exe run whole on several files: the libraries only the test doubles stand for (ISH's
// two-argument call, JAK's join), both messages, the real lz32, and the folder windows. Then
// the libraries' exports as a 32-bit caller sees them: plain names, __stdcall.
#include <gtest/gtest.h>

#include <algorithm>

#include "win32_test.h"

#if defined(__i386__)
// A caller that gets the convention wrong usually survives inside a frame-pointer function,
// so the callee's pops are measured directly.
extern "C" int PoppedBytes(FARPROC function, int argumentCount);
// Pushes argumentCount zeros, calls, and answers how many bytes the callee took off again.
asm(R"(
    .text
    .globl _PoppedBytes
_PoppedBytes:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    movl %esp, %ebx
    movl 12(%ebp), %ecx
1:  testl %ecx, %ecx
    jz 2f
    pushl $0
    decl %ecx
    jmp 1b
2:  call *8(%ebp)
    movl %esp, %eax
    subl %ebx, %eax
    movl 12(%ebp), %ecx
    leal (%eax,%ecx,4), %eax
    movl %ebx, %esp
    popl %ebx
    popl %ebp
    ret
)");
#endif

namespace dexalo::test {
namespace {

TEST(WholeRun, EveryKindOfFileNextToTheArchiveAndOpenAfterwards) {
    const Installation in = Install(L"run");
    const std::wstring prog = in.folder + L"\\", arc = in.root + L"書庫\\";
    CreateDirectoryW(arc.c_str(), nullptr);
    WriteBytes(in.Settings(), SettingsBytes(3, in.root));
    const std::pair<const wchar_t*, std::string> archives[] = {
        {L"a.lzh", "Unlha.count=2\nUnlha.entry=foo/a.txt\nUnlha.entry=foo/b.txt\n"},
        {L"b.zip", "UnZip.count=2\nUnZip.entry=a.txt\nUnZip.entry=b.txt\nUnZip.run=0x8001\n"},
        {L"mail.ish", "Ish.check=1\n"},
        {L"big.001", "Jack.check=1\n"}};
    for (const auto& [name, behaviour] : archives) {
        WriteBytes(arc + name, "archive bytes");
        WriteBytes(arc + name + L".dbl", behaviour);
    }
    WriteBytes(arc + L"plain.txt", "just text, no archive");
    const std::wstring data = BuildFolder(DEXALO_TEST_DATA_DIR); // sample.tx_ is sample.txt, LZ-compressed
    WriteBytes(arc + L"SETUP.EX_", ReadBytes(data + L"sample.tx_"));

    std::wstring arguments;
    for (const wchar_t* f : {L"a.lzh", L"b.zip", L"missing.lzh", L"plain.txt", L"mail.ish", L"SETUP.EX_", L"big.001"})
        arguments += (arguments.empty() ? L"" : L" ") + arc + f;
    ProgramRun run(in, arguments, prog);
    run.WaitForEnd(120000);
    EXPECT_EQ(run.Messages(), (std::vector<std::string>{"エラー発生\t解凍不可能なファイルです｡\ticon=1",
                                                        "Dexalo\t解凍可能なファイルではありません。\ticon=1"}));

    const std::string a = Cp932(arc);
    std::vector<std::string> operations = ReadLines(in.Calls(), ".Run(");
    for (const auto& c : ReadLines(in.Calls(), ".Combine(")) operations.push_back(c);
    EXPECT_EQ(operations, (std::vector<std::string>{"Unlha.Run(0,x -a1 -gq1 -m1 \"" + a + "a.lzh\" \"" + a + "\",0)",
                                                    "UnZip.Run(0,-u -qq \"" + a + "b.zip\" \"" + a + "b\\\",0)",
                                                    "Ish.Run(0," + a + "mail.ish /f=" + a + "mail\\)",
                                                    "Jack.Combine(" + a + "big.001," + a + ")"}));
    EXPECT_EQ(ReadBytes(arc + L"SETUP.EX#"), ReadBytes(data + L"sample.txt"));
    EXPECT_EQ(GetFileAttributesW((arc + L"plain.tx#").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW((arc + L"mail").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

    // The stand-in explorer runs detached: wait for the four starts.
    for (int i = 0; i < 100 && ReadLines(prog + L"explorer.log").size() < 4; ++i) Sleep(100);
    Sleep(300);
    std::vector<std::string> shown = ReadLines(prog + L"explorer.log");
    std::sort(shown.begin(), shown.end());
    const std::string folder = "explorer /n," + Utf8(arc);
    EXPECT_EQ(shown, (std::vector<std::string>{folder + "\tshow=1", folder + "\tshow=1", folder + "\tshow=1",
                                               folder + "mail\tshow=1"}));
}

#if defined(__i386__)
TEST(CallingConvention, OurLibrariesAndTheDoublesPopTheirArguments) {
    // Calls that take nothing but zeros safely: no path, no handle.
    const std::pair<const char*, int> calls[] = {
        {"GetFileCount", 1}, {"OpenArchive", 3}, {"FindFirst", 3}, {"FindNext", 2}, {"CloseArchive", 1}};
    const std::pair<std::wstring, std::string> libraries[] = {
        {ProgramBinFolder() + L"unzip32.dll", "UnZip"}, {ProgramBinFolder() + L"tar32.dll", "Tar"},
        {DoublesFolder() + L"unlha32.dll", "Unlha"}};
    for (const auto& [file, prefix] : libraries) {
        const HMODULE module = LoadLibraryW(file.c_str());
        ASSERT_NE(module, nullptr) << Utf8(file);
        for (const auto& [name, count] : calls) {
            const FARPROC function = GetProcAddress(module, (prefix + name).c_str());
            ASSERT_NE(function, nullptr) << prefix << name << " is not exported under its plain name";
            EXPECT_EQ(PoppedBytes(function, count), 4 * count) << prefix << name << " is not __stdcall";
        }
    }
}
#endif

} // namespace
} // namespace dexalo::test
