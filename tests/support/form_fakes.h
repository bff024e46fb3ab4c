#pragma once
// Recording stand-ins for everything Form1 reaches outside itself.
#include <algorithm>
#include <array>
#include <cwctype>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "extract_fakes.h"
#include "window/form1.h"

namespace dexalo::test {

// One shared log, so the order across all fakes can be checked.
using Log = std::vector<std::wstring>;
struct Logging {
    explicit Logging(Log& log) : log_(log) {}
    Log& log_;
};

inline std::wstring Upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

// Folders are kept in upper case for lookup, with their shown spelling as the value.
class FakePlatform : public FormPlatform, Logging {
public:
    using Logging::Logging;

    std::map<std::wstring, std::wstring> folders;     // UPPER -> spelling
    std::map<wchar_t, std::wstring> currentFolder;    // 'C' -> "C:\Users"
    std::map<wchar_t, std::uint32_t> probeOutcome;    // 'Q' -> 3; absent = 0
    std::wstring processFolder = L"C:\\Program Files\\Dexalo";
    std::wstring tempPath = L"C:\\Temp\\";
    wchar_t separator = L'.';
    WindowHandle handle = 0x1234;
    ModuleState* state = nullptr; // to see MainWindowHandle at the moment of ShowForm
    std::vector<std::intptr_t> windowPos;
    std::vector<std::wstring> messages;

    void AddFolder(const std::wstring& path) { folders[Upper(path)] = path; }

    void SetWindowPos(WindowHandle window, std::intptr_t insertAfter) override {
        windowPos.push_back(insertAfter);
        log_.push_back(L"pos " + std::to_wstring(window) + L" " + std::to_wstring(insertAfter));
    }
    std::uint32_t ProbeDrive(const std::wstring& drive) override {
        log_.push_back(L"probe " + drive);
        auto it = probeOutcome.find(static_cast<wchar_t>(std::towupper(drive[0])));
        return it == probeOutcome.end() ? 0 : it->second;
    }
    std::optional<std::wstring> ResolveFolder(const std::wstring& path) override {
        if (path.size() == 2 && path[1] == L':') {
            auto it = currentFolder.find(static_cast<wchar_t>(std::towupper(path[0])));
            if (it == currentFolder.end()) return std::nullopt;
            return it->second;
        }
        std::wstring p = path;
        if (p.size() > 3 && p.back() == L'\\') p.pop_back();
        auto it = folders.find(Upper(p));
        if (it == folders.end()) return std::nullopt;
        return it->second;
    }
    std::wstring CurrentFolder() override { return processFolder; }
    std::wstring TempPath() override { return tempPath; }
    wchar_t DecimalSeparator() override { return separator; }
    void MessageBox(const std::wstring& text, const std::wstring& title, std::uint32_t style) override {
        messages.push_back(text);
        log_.push_back(L"msg " + title + L" " + std::to_wstring(style) + L" " + text);
    }
    void ShowForm() override {
        log_.push_back(L"show handle=" + std::to_wstring(state ? state->MainWindowHandle : 99));
    }
    WindowHandle FormHandle() override { return handle; }
    void EndProgram() override { log_.push_back(L"end"); }

};

class FakeShellFolders : public ShellFolders, Logging {
public:
    using Logging::Logging;
    std::map<int, std::wstring> paths; // folder number -> path; absent = the location call fails
    bool pathCallFails = false;

    std::int32_t GetSpecialFolderLocation(WindowHandle owner, int folder, ItemIdList& list) override {
        log_.push_back(L"location " + std::to_wstring(owner) + L" " + std::to_wstring(folder));
        if (!paths.contains(folder)) return static_cast<std::int32_t>(0x80004005);
        list = 100 + static_cast<ItemIdList>(folder);
        return 0;
    }
    bool GetPathFromIDList(ItemIdList list, std::wstring& path) override {
        log_.push_back(L"path " + std::to_wstring(list));
        if (pathCallFails) return false;
        path = paths.at(static_cast<int>(list - 100));
        return true;
    }
    void Free(ItemIdList list) override { log_.push_back(L"free " + std::to_wstring(list)); }

};

class FakeAssociations : public AssociationService, Logging {
public:
    using Logging::Logging;
    std::set<int> associated;
    bool applyResult = true;
    std::vector<int> tested;
    std::array<int, 10> lastValues{};
    std::array<std::int32_t, 10> lastState{};

    bool IsAssociated(int typeIndex) override {
        tested.push_back(typeIndex);
        return associated.contains(typeIndex);
    }
    bool Apply(const std::array<int, 10>& values, const std::array<std::int32_t, 10>& state) override {
        lastValues = values;
        lastState = state;
        log_.push_back(L"apply");
        return applyResult;
    }

};

class FakeSettings : public SettingsWriter, Logging {
public:
    using Logging::Logging;
    bool result = true;
    bool Write(const ModuleState& state) override {
        log_.push_back(L"save " + std::to_wstring(state.OptionFlags) + L" " + state.DestFolder);
        return result;
    }

};

// A machine with drives C and D, and a form built over it.
struct Rig {
    Log log;
    ModuleState state{.DestFolder = L"C:\\Users\\me\\Desktop\\", .OptionFlags = 0};
    FakeLibraries libraries;
    FakePlatform platform{log};
    FakeShellFolders shell{log};
    FakeAssociations associations{log};
    FakeSettings settings{log};
    std::vector<std::wstring> extracted;

    Rig() {
        platform.state = &state;
        for (const wchar_t* f : {L"C:\\", L"C:\\Program Files", L"C:\\Program Files\\Dexalo", L"C:\\Users",
                                 L"C:\\Users\\me", L"C:\\Users\\me\\Desktop", L"C:\\Users\\me\\Documents",
                                 L"C:\\Temp", L"D:\\", L"D:\\Work", L"D:\\Data"}) {
            platform.AddFolder(f);
        }
        platform.currentFolder[L'C'] = L"C:\\Program Files\\Dexalo";
        platform.currentFolder[L'D'] = L"D:\\Data";
        shell.paths[kCsidlDesktopDirectory] = L"C:\\Users\\me\\Desktop";
        shell.paths[kCsidlPersonal] = L"C:\\Users\\me\\Documents";
        libraries.versions.fill(100);
    }

    Form1& form() {
        if (!form_) {
            form_.emplace(Form1Services{state, libraries, associations, settings, platform, shell,
                                        [this](const std::wstring& p) { extracted.push_back(p); }});
        }
        return *form_;
    }
    Form1& loaded() {
        form().Form_Load();
        log.clear();
        platform.messages.clear();
        platform.windowPos.clear();
        return *form_;
    }

private:
    std::optional<Form1> form_;
};

} // namespace dexalo::test
