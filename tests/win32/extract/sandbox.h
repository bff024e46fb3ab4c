#pragma once
// Folders, files and logs for the Windows extraction tests.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace dexalo::test {

inline std::wstring ExeFolder() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.rfind(L'\\') + 1);
}

// A fresh, empty folder under the test's own folder; ends in a backslash.
inline std::wstring MakeSandbox(const std::wstring& name) {
    const std::wstring path = ExeFolder() + L"sandbox\\" + name + L"\\";
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    std::filesystem::create_directories(path);
    return path;
}

// The running test's name, for its sandbox (test names are ASCII).
inline std::wstring TestName() {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return std::wstring(name.begin(), name.end());
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

inline std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadBytes(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

inline std::string Encode(const std::wstring& text, UINT codePage) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}
inline std::string Cp932(const std::wstring& text) { return Encode(text, 932); }
inline std::string Utf8(const std::wstring& text) { return Encode(text, CP_UTF8); }

// The LZ file format lz32 expands: "SZDD" header, then LZSS over a 4096-byte window that
// starts filled with blanks and is written from position 4096 - 16. Each flag byte covers
// eight items, low bit first: 1 = a literal byte, 0 = a two-byte (position, length - 3) pair.
inline std::string SzddCompress(const std::string& data) {
    std::string out("SZDD\x88\xF0\x27\x33\x41", 9);
    out.push_back('\0');
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((data.size() >> shift) & 0xFF));

    constexpr size_t kWindow = 4096, kMin = 3, kMax = 18, kStart = kWindow - 16;
    std::string flagsAndItems;
    size_t flagAt = 0;
    int items = 8;
    for (size_t i = 0; i < data.size();) {
        if (items == 8) {
            flagAt = out.size();
            out.push_back('\0');
            items = 0;
        }
        // Longest earlier match within reach; the decoder copies byte by byte, so overlaps work.
        size_t bestLength = 0, bestFrom = 0;
        const size_t reach = kWindow - kMax;
        for (size_t from = i > reach ? i - reach : 0; from < i; ++from) {
            size_t length = 0;
            while (length < kMax && i + length < data.size() && data[from + length] == data[i + length]) ++length;
            if (length > bestLength) bestLength = length, bestFrom = from;
        }
        if (bestLength >= kMin) {
            const size_t position = (kStart + bestFrom) % kWindow;
            out.push_back(static_cast<char>(position & 0xFF));
            out.push_back(static_cast<char>(((position >> 4) & 0xF0) | (bestLength - kMin)));
            i += bestLength;
        } else {
            out[flagAt] = static_cast<char>(out[flagAt] | (1 << items));
            out.push_back(data[i]);
            ++i;
        }
        ++items;
    }
    return out;
}

// Builds the ten test-double libraries' names and kinds.
struct DoubleLibrary {
    const wchar_t* file;
};
inline const DoubleLibrary kDoubles[] = {{L"unlha32.dll"}, {L"unzip32.dll"}, {L"cab32.dll"}, {L"tar32.dll"},
                                         {L"unarj32j.dll"}, {L"Ish32.dll"},  {L"unrar32.dll"}, {L"bga32.dll"},
                                         {L"Yz1.dll"},      {L"Jack32.dll"}};

inline bool CopyDouble(const std::wstring& file, const std::wstring& folder, const std::wstring& as = {}) {
    return CopyFileW((ExeFolder() + L"doubles\\" + file).c_str(), (folder + (as.empty() ? file : as)).c_str(), FALSE);
}

} // namespace dexalo::test

namespace dexalo::test {

// The message-box watcher, for as long as the object lives.
class Watcher {
public:
    explicit Watcher(const std::wstring& folder) : log_(folder + L"messages.log"), stop_(folder + L"watcher.stop") {
        DeleteFileW(stop_.c_str());
        std::wstring line = L"\"" + ExeFolder() + L"tools\\watcher.exe\" \"" + log_ + L"\" \"" + stop_ + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            process_ = process.hProcess;
            CloseHandle(process.hThread);
        }
    }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;
    ~Watcher() { Stop(); }

    bool running() const { return process_ != nullptr; }
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
