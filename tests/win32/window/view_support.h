#pragma once
// A Form1View over stand-in libraries, associations and settings storage, for the Wine tests
// and the screenshot.
#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes.h"
#include "win32/form_view.h"
#include "win32/startup_win32.h"

namespace dexalo::test {

class MemoryStorage : public SettingsStorage {
public:
    std::map<std::wstring, std::string> files;
    int writes = 0;
    bool fail = false;
    std::optional<std::string> ReadAll(const std::wstring& path) override {
        auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second;
    }
    bool WriteAll(const std::wstring& path, const std::string& bytes) override {
        ++writes;
        if (fail) return false;
        files[path] = bytes;
        return true;
    }
};

struct ViewRig {
    Log log;
    ModuleState state{.DestFolder = L"C:\\windows\\", .OptionFlags = 0};
    FakeLibraries libraries;
    FakeAssociations associations{log};
    MemoryStorage storage;
    win32::AnsiCodePage codec;
    std::vector<std::wstring> extracted;
    std::unique_ptr<win32::Form1View> view;

    ViewRig() {
        libraries.versions = {139, 5, std::nullopt, 1000, -1, 200, 0, 3, 12, 1};
    }
    win32::Form1View& Open() {
        view = std::make_unique<win32::Form1View>(
            state, libraries, [this](const std::wstring& p) { extracted.push_back(p); },
            ProgramLocation{L"C:\\Dexalo", L"Dexalo"}, associations, storage, codec);
        view->Load();
        Pump();
        return *view;
    }
    // Runs what is queued; a quit request left by the end of the program is taken away.
    void Pump() {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quitPosted = true;
                continue;
            }
            if (view) {
                view->ProcessMessage(message);
            } else {
                ::DispatchMessageW(&message);
            }
        }
    }
    ~ViewRig() {
        view.reset();
        Pump();
    }
    bool quitPosted = false;
};

} // namespace dexalo::test
