// The program run whole on several files: test-double libraries, the stand-in explorer
// and the message-box watcher.
#include <gtest/gtest.h>

#include <algorithm>

#include "win32_test.h"

namespace dexalo::test {
namespace {

class WholeRun : public ::testing::Test {
protected:
    void SetUp() override {
        in = Install(L"run-" + TestName());
        prog = in.folder + L"\\";
        arc = in.root + L"arc\\";
        out = in.root + L"out\\";
        CreateDirectoryW(arc.c_str(), nullptr);
        CreateDirectoryW(out.c_str(), nullptr);
    }

    void Archive(const std::wstring& name, const std::string& behaviour) {
        WriteBytes(arc + name, "archive bytes");
        WriteBytes(arc + name + L".dbl", behaviour);
    }

    // Runs the program with the argument text, answering its message boxes.
    void Run(const std::wstring& arguments) {
        ProgramRun run(in, arguments, prog);
        run.WaitForEnd(120000);
        messages = run.Messages();
    }

    // The stand-in explorer runs detached: wait until count starts are logged.
    std::vector<std::string> ExplorerStarts(size_t count) {
        for (int i = 0; i < 100 && ReadLines(prog + L"explorer.log").size() < count; ++i) Sleep(100);
        Sleep(300);
        std::vector<std::string> lines = ReadLines(prog + L"explorer.log");
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    std::vector<std::string> Calls(const char* containing) { return ReadLines(in.Calls(), containing); }

    Installation in;
    std::wstring prog, arc, out;
    std::vector<std::string> messages;
};

TEST_F(WholeRun, NextToTheArchiveAndOpenAfterwards) {
    WriteBytes(in.Settings(), SettingsBytes(3, out));
    Archive(L"a.lzh", "Unlha.count=2\nUnlha.entry=foo/a.txt\nUnlha.entry=foo/b.txt\n");
    Archive(L"b.zip", "UnZip.count=2\nUnZip.entry=a.txt\nUnZip.entry=b.txt\nUnZip.run=0x8001\n");
    Archive(L"mail.ish", "Ish.check=1\n");
    Archive(L"pics.yz1", "Yz1.count=1\n");
    Archive(L"big.001", "Jack.check=1\n");
    WriteBytes(arc + L"plain.txt", "just text, no archive");
    const std::string lzText(5000, 'z');
    WriteBytes(arc + L"SETUP.EX_", SzddCompress(lzText));

    const std::wstring files[] = {L"a.lzh", L"b.zip", L"missing.lzh", L"plain.txt", L"mail.ish",
                                  L"pics.yz1", L"SETUP.EX_", L"big.001"};
    std::wstring arguments;
    for (const auto& f : files) arguments += (arguments.empty() ? L"" : L" ") + arc + f;
    Run(arguments);

    const std::string a = Cp932(arc);
    const auto calls = ReadLines(in.Calls());
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 6),
              (std::vector<std::string>{"Unlha.GetFileCount(" + a + "a.lzh)", "Unlha.OpenArchive(0," + a + "a.lzh,512)",
                                        "Unlha.FindFirst(*)", "Unlha.FindNext()", "Unlha.FindNext()",
                                        "Unlha.CloseArchive()"}));
    std::vector<std::string> operations = Calls(".Run(");
    for (const auto& c : Calls(".Combine(")) operations.push_back(c);
    EXPECT_EQ(operations, (std::vector<std::string>{
                              "Unlha.Run(0,x -a1 -gq1 -m1 \"" + a + "a.lzh\" \"" + a + "\",0)",
                              "UnZip.Run(0,-u -qq \"" + a + "b.zip\" \"" + a + "b\\\",0)",
                              "Ish.Run(0," + a + "mail.ish /f=" + a + "mail\\)",
                              "Yz1.Run(0,x \"" + a + "pics.yz1\" " + a + "\\,0)",
                              "Jack.Combine(" + a + "big.001," + a + ")",
                          }));
    EXPECT_EQ(messages, (std::vector<std::string>{"エラー発生\t解凍不可能なファイルです｡\ticon=1",
                                                  "Dexalo\t解凍可能なファイルではありません。\ticon=1"}));

    const std::string shown = "explorer /n," + Utf8(arc);
    EXPECT_EQ(ExplorerStarts(5), (std::vector<std::string>{shown + "\tshow=1", shown + "\tshow=1", shown + "\tshow=1",
                                                           shown + "\tshow=1", shown + "mail\tshow=1"}));
    EXPECT_EQ(GetFileAttributesW((arc + L"mail").c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
    EXPECT_EQ(ReadBytes(arc + L"SETUP.EX#"), lzText);
    EXPECT_EQ(GetFileAttributesW((arc + L"plain.tx#").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadBytes(arc + L"plain.txt"), "just text, no archive");
}

TEST_F(WholeRun, IntoTheDestFolderWithoutOpening) {
    WriteBytes(in.Settings(), SettingsBytes(0, out));
    Archive(L"a.lzh", "Unlha.count=2\nUnlha.entry=a.txt\nUnlha.entry=b.txt\n");
    Archive(L"c.rar", "Unrar.count=2\nUnrar.entry=top\\a\nUnrar.entry=top\\b\n");
    Archive(L"d.gza", "Bga.count=2\nBga.entry=top\\a\nBga.entry=top\\b\n");
    WriteBytes(arc + L"SETUP.EX_", SzddCompress(std::string(3000, 'q')));
    Run(arc + L"a.lzh " + arc + L"c.rar " + arc + L"d.gza " + arc + L"SETUP.EX_");

    const std::string a = Cp932(arc), o = Cp932(out);
    EXPECT_EQ(Calls(".Run("), (std::vector<std::string>{
                                  "Unlha.Run(0,x -a1 -gq1 -m1 \"" + a + "a.lzh\" \"" + o + "a\\\",0)",
                                  "Unrar.Run(0,x -u \"" + a + "c.rar\" \"" + o + "\",0)",
                                  "Bga.Run(0,x -n \"" + a + "d.gza\" \"" + o + "d\\\",0)",
                              }));
    EXPECT_EQ(Calls("Unrar.FindFirst"), (std::vector<std::string>{"Unrar.FindFirst(*.*)", "Unrar.FindFirst(*)"}));
    EXPECT_EQ(Calls("Bga.FindFirst"), (std::vector<std::string>{"Bga.FindFirst(*)", "Bga.FindFirst(top*)"}));
    EXPECT_EQ(ReadBytes(out + L"SETUP.EX#"), std::string(3000, 'q'));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(ExplorerStarts(0).empty());
}

TEST_F(WholeRun, MissingLibrariesEndInTheLzStep) {
    WriteBytes(in.Settings(), SettingsBytes(1, out));
    for (const wchar_t* dll : {L"unlha32.dll", L"Jack32.dll"}) DeleteFileW((prog + dll).c_str());
    Archive(L"a.lzh", "Unlha.count=2\nUnlha.entry=a\nUnlha.entry=b\nJack.check=1\n");
    Run(arc + L"a.lzh");
    EXPECT_TRUE(Calls(".Run(").empty());
    EXPECT_EQ(Calls("Unlha").size(), 0u);
    EXPECT_EQ(messages, (std::vector<std::string>{"Dexalo\t解凍可能なファイルではありません。\ticon=1"}));
}

} // namespace
} // namespace dexalo::test
