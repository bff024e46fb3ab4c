// The libraries' exports as a 32-bit caller sees them: plain names, __stdcall.
#include <gtest/gtest.h>

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

#if defined(__i386__)
TEST(CallingConvention, OurLibrariesPopTheirArguments) {
    // Calls that take nothing but zeros safely: no path, no handle.
    const std::pair<const char*, int> calls[] = {
        {"GetFileCount", 1}, {"OpenArchive", 3}, {"FindFirst", 3}, {"FindNext", 2}, {"CloseArchive", 1}};
    const std::pair<std::wstring, std::string> libraries[] = {
        {ProgramBinFolder() + L"unzip32.dll", "UnZip"}, {ProgramBinFolder() + L"tar32.dll", "Tar"}};
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
#else
TEST(CallingConvention, OurLibrariesPopTheirArguments) {
    GTEST_SKIP() << "only 32-bit callers have calling conventions to mix up";
}
#endif

} // namespace
} // namespace dexalo::test
