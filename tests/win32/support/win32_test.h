#pragma once
// Shared by the Windows tests: sandboxes and files, the test-double libraries and the
// message-box watcher.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace dexalo::test {

inline std::string Encode(const std::wstring& text, UINT codePage) {
    std::string out(text.size() * 4, '\0');
    out.resize(static_cast<size_t>(WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                                       out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}
inline std::string Cp932(const std::wstring& text) { return Encode(text, 932); }
inline std::string Utf8(const std::wstring& text) { return Encode(text, CP_UTF8); }

// A folder of the build, from its Unix path (Wine maps the root to Z:); ends in a backslash.
inline std::wstring BuildFolder(const std::string& unixPath) {
    std::wstring path(unixPath.size(), L'\0');
    path.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, unixPath.data(), static_cast<int>(unixPath.size()),
                                                        path.data(), static_cast<int>(path.size()))));
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return L"Z:" + path + L"\\";
}
inline std::wstring DoublesFolder() { return BuildFolder(DEXALO_TEST_DOUBLES_DIR); }
inline std::wstring ToolsFolder() { return BuildFolder(DEXALO_TEST_TOOLS_DIR); }
inline std::wstring ProgramBinFolder() { return BuildFolder(DEXALO_TEST_BIN_DIR); }

// A fresh, empty folder under the current one; ends in a backslash.
inline std::wstring MakeSandbox(const std::wstring& name) {
    const std::wstring path = std::filesystem::current_path().wstring() + L"\\sandbox\\" + name + L"\\";
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    std::filesystem::create_directories(path);
    return path;
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

inline std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Lines without CR LF; only those holding `containing` when it is given.
inline std::vector<std::string> ReadLines(const std::wstring& path, const std::string& containing = {}) {
    std::vector<std::string> lines;
    std::istringstream in(ReadBytes(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find(containing) != std::string::npos) lines.push_back(line);
    }
    return lines;
}

// The test-double libraries (tests/win32/extract/double_archiver.cpp), which log their calls
// to calls.log beside themselves.
inline void CopyDoubles(const std::wstring& folder) {
    for (const auto& dll : std::filesystem::directory_iterator(DoublesFolder()))
        if (dll.path().extension() == L".dll") std::filesystem::copy_file(dll, folder + dll.path().filename().wstring());
}

// A started process's handle, or null.
inline HANDLE Start(const std::wstring& exe, std::wstring line, const wchar_t* current = nullptr) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, current, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// The message-box watcher (watcher.exe) for as long as the object lives: it reads every box
// as "title<TAB>text<TAB>icon=0|1" and presses OK.
class Watcher {
public:
    explicit Watcher(const std::wstring& folder) : log_(folder + L"messages.log"), stop_(folder + L"watcher.stop") {
        DeleteFileW(stop_.c_str());
        DeleteFileW(log_.c_str());
        const std::wstring exe = ToolsFolder() + L"watcher.exe";
        process_ = Start(exe, L"\"" + exe + L"\" \"" + log_ + L"\" \"" + stop_ + L"\"");
        EXPECT_NE(process_, nullptr) << "the watcher did not start";
    }
    ~Watcher() { Stop(); }

    // Lets the watcher make its last sweep and end; then the log is complete.
    std::vector<std::string> Stop() {
        if (process_) {
            WriteBytes(stop_, "");
            WaitForSingleObject(process_, 30000);
            CloseHandle(process_);
            process_ = nullptr;
        }
        return ReadLines(log_);
    }

private:
    std::wstring log_, stop_;
    HANDLE process_ = nullptr;
};

} // namespace dexalo::test
