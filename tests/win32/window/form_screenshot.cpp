// Opens Form1 over stand-in libraries and keeps it on screen for a screenshot: writes its
// window rectangle to "form1.ready" in the current folder, then waits for "form1.done".
#include <chrono>
#include <filesystem>
#include <fstream>

#include "view_support.h"

// With "next-to-archive" the pickers start disabled (OptionFlags 3).
int wmain(int argc, wchar_t** argv) {
    using namespace dexalo;
    test::ViewRig rig;
    rig.state.OptionFlags = argc > 1 && std::wstring(argv[1]) == L"next-to-archive" ? 3 : 2;
    rig.associations.associated = {0, 1, 3, 7};
    win32::Form1View& view = rig.Open();
    RECT r;
    ::GetWindowRect(view.Window(), &r);
    RECT client;
    ::GetClientRect(view.Window(), &client);
    POINT origin{0, 0};
    ::ClientToScreen(view.Window(), &origin);
    {
        std::ofstream ready("form1.ready.tmp");
        ready << r.left << ' ' << r.top << ' ' << (r.right - r.left) << ' ' << (r.bottom - r.top) << ' ' << origin.x
              << ' ' << origin.y << ' ' << client.right << ' ' << client.bottom << '\n';
    }
    std::filesystem::rename("form1.ready.tmp", "form1.ready");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists("form1.done") && std::chrono::steady_clock::now() < until) {
        rig.Pump();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return 0;
}
