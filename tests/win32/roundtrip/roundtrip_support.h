#pragma once
// Shared by the round-trip tests: message boxes answered and recorded, the class root's
// association keys, and an installed copy of the program with the test-double libraries.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sandbox.h"

namespace dexalo::test {

// Answers with OK every message box that the given process shows, keeping title and text.
class BoxSweeper {
public:
    explicit BoxSweeper(DWORD process) : process_(process), thread_([this] { Sweep(); }) {}
    BoxSweeper(const BoxSweeper&) = delete;
    BoxSweeper& operator=(const BoxSweeper&) = delete;
    ~BoxSweeper() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::wstring> Seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    struct Found {
        DWORD process;
        std::vector<HWND> boxes;
    };
    static BOOL CALLBACK Visit(HWND window, LPARAM param) {
        auto* found = reinterpret_cast<Found*>(param);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        wchar_t cls[16]{};
        ::GetClassNameW(window, cls, 16);
        if (owner == found->process && std::wstring(cls) == L"#32770" && ::IsWindowVisible(window))
            found->boxes.push_back(window);
        return TRUE;
    }
    void Sweep() {
        std::vector<HWND> answered;
        while (!stop_) {
            Found found{process_, {}};
            ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&found));
            for (HWND box : found.boxes) {
                if (std::find(answered.begin(), answered.end(), box) != answered.end()) continue;
                wchar_t title[256]{}, text[1024]{};
                ::GetWindowTextW(box, title, 256);
                ::GetDlgItemTextW(box, 0xFFFF, text, 1024);
                {
                    std::lock_guard lock(mutex_);
                    seen_.push_back(std::wstring(title) + L"\t" + text);
                }
                answered.push_back(box);
                ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    }
    DWORD process_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::wstring> seen_;
    std::thread thread_;
};

// One row of the association table, as a user of the shell sees it.
struct TypeRow {
    const wchar_t* caption;
    const wchar_t* progId;
    std::vector<const wchar_t*> extensions;
    const wchar_t* contentType;
    const wchar_t* icon;
};
inline const TypeRow kTypes[10] = {
    {L"LZH( .lzh等)", L"LzhFile", {L".lzh", L".lzs", L".lha"}, L"application/x-lzh-compressed", L"LZH.ico"},
    {L"ZIP( .zip)", L"ZipFile", {L".zip", L".jar"}, L"application/x-zip-compressed", L"ZIP.ico"},
    {L"CAB( .cab)", L"CabFile", {L".cab"}, L"application/x-cab-compressed", L"CAB.ico"},
    {L"TAR( .tar等)",
     L"TarFile",
     {L".tar", L".tgz", L".tbz", L".bz2", L".z", L".taz", L".gz"},
     L"application/x-tar",
     L"TAR.ico"},
    {L"ARJ( .arj)", L"ArjFile", {L".arj"}, L"application/x-arj-compressed", L"ARJ.ico"},
    {L"ISH( .ish)", L"IshFile", {L".ish"}, L"application/x-ish", L"ISH.ico"},
    {L"RAR( .rar)", L"RarFile", {L".rar"}, L"application/x-rar-compressed", L"RAR.ico"},
    {L"BGA( .gza等)", L"BgaFile", {L".gza", L".bza"}, L"application/x-bga", L"BGA.ico"},
    {L"YZ1( .yz1)", L"Yz1File", {L".yz1"}, L"application/x-yz1", L"YZ1.ico"},
    {L"JAK( .jak)", L"JakFile", {L".jak"}, L"application/x-jak", L"JAK.ico"},
};

// An extension no program of the prefix uses, standing for an unrelated program's key.
inline constexpr const wchar_t* kUnrelatedExtension = L".dxrtother";

// The value under HKEY_CLASSES_ROOT, read as the shell reads it; nullopt when key or value is missing.
inline std::optional<std::wstring> ClassValue(const std::wstring& key, const std::wstring& name = L"") {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, size = 0;
    std::optional<std::wstring> value;
    if (::RegQueryValueExW(opened, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (::RegQueryValueExW(opened, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) ==
            ERROR_SUCCESS) {
            text.resize(size / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0') text.pop_back();
            value = text;
        }
    }
    ::RegCloseKey(opened);
    return value;
}

inline bool ClassKeyExists(const std::wstring& key) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    ::RegCloseKey(opened);
    return true;
}

inline bool SetClassValue(const std::wstring& key, const std::wstring& name, const std::wstring& data) {
    HKEY created = nullptr;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                          nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result = ::RegSetValueExW(created, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(created);
    return result == ERROR_SUCCESS;
}

// The prefix belongs to the tests: every key of the table goes, whoever wrote it.
inline void ForgetAssociations() {
    for (const TypeRow& row : kTypes) {
        for (const wchar_t* extension : row.extensions) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, extension);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, row.progId);
    }
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kUnrelatedExtension);
}

// A Windows path from the Unix path the build folder hands over.
inline std::wstring FromUnixPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

inline std::wstring ProgramBinFolder() {
    wchar_t bin[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"DEXALO_BIN_DIR", bin, MAX_PATH) > 0) return FromUnixPath(bin) + L"\\";
    return ExeFolder() + L"..\\..\\..\\bin\\";
}

// dexalo.exe installed in "<root><program folder>\" with its settings folder, the icons and
// the ten test-double libraries; their calls go to calls.log there.
struct Installation {
    std::wstring root;   // the sandbox, ends in a backslash
    std::wstring folder; // the program folder, no trailing backslash
    std::wstring exe;
    std::wstring Settings() const { return folder + L"\\設定フォルダ\\設定.ini"; }
    std::wstring Calls() const { return folder + L"\\calls.log"; }
};

inline Installation Install(const std::wstring& sandbox, const std::wstring& programFolder = L"Dexalo Prog") {
    Installation in;
    in.root = MakeSandbox(sandbox);
    in.folder = in.root + programFolder;
    in.exe = in.folder + L"\\dexalo.exe";
    const std::wstring bin = ProgramBinFolder();
    std::filesystem::create_directories(in.folder + L"\\設定フォルダ");
    if (!::CopyFileW((bin + L"dexalo.exe").c_str(), in.exe.c_str(), FALSE)) {
        ADD_FAILURE() << "missing " << Utf8(bin) << "dexalo.exe";
    }
    for (const TypeRow& row : kTypes)
        ::CopyFileW((bin + L"設定フォルダ\\" + row.icon).c_str(), (in.folder + L"\\設定フォルダ\\" + row.icon).c_str(),
                    FALSE);
    for (const auto& d : kDoubles) {
        if (!CopyDouble(d.file, in.folder + L"\\")) ADD_FAILURE() << "missing double " << Utf8(d.file);
    }
    return in;
}

// The settings file as the program writes it: flags, the quoted folder, CR LF, CP932.
inline std::string SettingsBytes(int flags, const std::wstring& dest) {
    return std::to_string(flags) + "\r\n\"" + Cp932(dest) + "\"\r\n";
}

} // namespace dexalo::test
