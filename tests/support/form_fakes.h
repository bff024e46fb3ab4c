#pragma once
// Recording stand-ins for everything Form1 reaches outside itself.
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

using Log = std::vector<std::wstring>;

class FakeAssociations : public AssociationService {
public:
    explicit FakeAssociations(Log& log) : log_(log) {}
    std::set<int> associated;
    std::vector<int> tested;
    bool applies = true;
    bool IsAssociated(int typeIndex) override { return tested.push_back(typeIndex), associated.contains(typeIndex); }
    bool Apply(const std::array<int, 10>&, const std::array<std::int32_t, 10>&) override {
        return log_.push_back(L"apply"), applies;
    }

private:
    Log& log_;
};

// A form on a machine whose drives all answer, with the folders C:\, C:\Work and D:\Data (the
// desktop and TEMP), and every library present at version 1.00.
struct Rig : FormPlatform, ShellFolders, SettingsWriter {
    Log log;
    ModuleState state{.DestFolder = L"C:\\Work\\", .OptionFlags = 0};
    FakeLibraries libraries;
    FakeAssociations associations{log};
    std::optional<Form1> form;
    bool saves = true;
    std::map<std::wstring, std::uint32_t> driveErrors; // by the probed text

    Rig() { libraries.versions.fill(100); }
    Form1& Load() {
        form.emplace(Form1Services{state, libraries, associations, *this, *this, *this, [](const std::wstring&) {}});
        form->Form_Load();
        return *form;
    }

    void SetWindowPos(WindowHandle window, std::intptr_t insertAfter) override {
        log.push_back(L"pos " + std::to_wstring(window) + L" " + std::to_wstring(insertAfter));
    }
    std::uint32_t ProbeDrive(const std::wstring& drive) override { return driveErrors[drive]; }
    std::optional<std::wstring> ResolveFolder(const std::wstring& path) override {
        std::wstring upper;
        for (wchar_t c : path) upper.push_back(static_cast<wchar_t>(std::towupper(c)));
        if (upper == L"C:" || upper == L"C:\\") return L"C:\\";
        if (upper == L"D:" || upper.starts_with(L"D:\\DATA")) return L"D:\\Data";
        if (upper.starts_with(L"C:\\WORK")) return L"C:\\Work";
        return std::nullopt;
    }
    std::wstring CurrentFolder() override { return L"C:\\"; }
    std::wstring TempPath() override { return L"D:\\Data\\"; }
    wchar_t DecimalSeparator() override { return L'.'; }
    void MessageBox(const std::wstring& text, const std::wstring&, std::uint32_t) override { log.push_back(text); }
    void ShowForm() override {}
    WindowHandle FormHandle() override { return 0x1234; }
    void EndProgram() override { log.push_back(L"end"); }
    // Only the desktop folder (16) is known; each list handed out must be freed.
    std::int32_t GetSpecialFolderLocation(WindowHandle, int folder, ItemIdList& list) override {
        return folder == 16 ? (list = 16, 0) : -1;
    }
    bool GetPathFromIDList(ItemIdList, std::wstring& path) override { return path = L"D:\\Data", true; }
    void Free(ItemIdList list) override { log.push_back(L"free " + std::to_wstring(list)); }
    bool Write(const ModuleState& s) override { return log.push_back(L"save " + std::to_wstring(s.OptionFlags)), saves; }
};

} // namespace dexalo::test
