#include "window/controls.h"

#include <algorithm>

namespace dexalo {

namespace {

ControlState Make(ControlId id, ControlKind kind, std::wstring caption, std::optional<ControlId> container,
                  int left, int top, int width, int height, int tab) {
    ControlState c;
    c.id = id;
    c.kind = kind;
    c.caption = std::move(caption);
    c.container = container;
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
    c.tabIndex = tab;
    c.focusable = kind != ControlKind::GroupFrame && kind != ControlKind::Label;
    return c;
}

} // namespace

std::vector<ControlState> DesignControls() {
    using K = ControlKind;
    const std::optional<ControlId> window;
    const ControlId options = Frame1(2), versions = Frame1(0), types = Frame1(1);
    std::vector<ControlState> c;

    c.push_back(Make(kDrive1, K::DriveList, L"", window, 120, 120, 2535, 300, 5));
    c.push_back(Make(kDir1, K::FolderList, L"", window, 120, 480, 2535, 1980, 9));
    c.back().backColor = kWhite;

    c.push_back(Make(Frame1(0), K::GroupFrame, L"各DLLのバージョン情報", window, 2880, 120, 2895, 2655, 10));
    c.push_back(Make(Frame1(1), K::GroupFrame, L"ファイルの関連付け", window, 0, 4200, 5895, 1095, 20));
    c.push_back(Make(Frame1(2), K::GroupFrame, L"解凍先の設定", window, 120, 2520, 2535, 1575, 6));

    c.push_back(Make(Command1(0), K::PushButton, L"ﾃﾞｽｸﾄｯﾌﾟ", options, 120, 240, 1095, 270, 32));
    c.push_back(Make(Command1(1), K::PushButton, L"My Documents", options, 1200, 240, 1095, 530, 30));
    c.push_back(Make(Command1(2), K::PushButton, L"TEMP", options, 120, 500, 1095, 270, 31));
    c.push_back(Make(Command1(3), K::PushButton, L"OK(適用+終了)", window, 2880, 3240, 1455, 375, 4));
    c.push_back(Make(Command1(4), K::PushButton, L"キャンセル(終了)", window, 2880, 3720, 1455, 375, 3));
    c.push_back(Make(Command1(5), K::PushButton, L"適用(設定保存)", window, 4440, 3240, 1335, 375, 2));
    c.push_back(Make(Command1(6), K::PushButton, L"設定初期化", window, 4440, 3720, 1335, 375, 1));

    struct Box {
        const wchar_t* caption;
        int left, top, width, tab;
    };
    static const Box kTypeBoxes[10] = {
        {L"LZH( .lzh等)", 120, 360, 1215, 23},  {L"ZIP( .zip)", 1320, 360, 1035, 24},
        {L"CAB( .cab)", 2280, 360, 1215, 25},   {L"TAR( .tar等)", 3480, 360, 1275, 26},
        {L"ARJ( .arj)", 4800, 360, 1060, 28},   {L"ISH( .ish)", 120, 720, 1095, 29},
        {L"RAR( .rar)", 1200, 720, 1095, 27},   {L"BGA( .gza等)", 2280, 720, 1335, 22},
        {L"YZ1( .yz1)", 3600, 720, 1060, 21},   {L"JAK( .jak)", 4800, 720, 1060, 34},
    };
    for (int i = 0; i < 10; ++i) {
        const Box& b = kTypeBoxes[i];
        c.push_back(Make(Check1(i), K::CheckBox, b.caption, types, b.left, b.top, b.width, 255, b.tab));
    }
    c.push_back(Make(Check1(10), K::CheckBox, L"書庫と同じ場所に解凍", options, 120, 840, 2055, 240, 8));
    c.back().backColor = kLightGrey;
    c.push_back(Make(Check1(11), K::CheckBox, L"解凍後に解凍先を開く", options, 120, 1200, 2055, 255, 7));
    c.push_back(Make(Check1(12), K::CheckBox, L"ウィンドウを常に最前面にする", window, 3000, 2880, 2565, 300, 0));

    static const int kLabelTabs[10] = {19, 18, 16, 17, 15, 14, 13, 12, 11, 33};
    for (int k = 0; k < 10; ++k) {
        c.push_back(Make(Label1(k), K::Label, L"", versions, 240, 240 + 240 * k, 2415, 195, kLabelTabs[k]));
    }
    auto& label0 = *std::find_if(c.begin(), c.end(), [](const ControlState& s) { return s.id == Label1(0); });
    label0.backColor = kLightGrey;
    label0.foreColor = kBlack;

    // Check1(9) takes drops like its neighbours: a drop anywhere on the window extracts.
    return c;
}

TwipPoint AbsolutePosition(const std::vector<ControlState>& controls, const ControlState& control) {
    TwipPoint p{control.left, control.top};
    std::optional<ControlId> up = control.container;
    while (up) {
        auto it = std::find_if(controls.begin(), controls.end(), [&](const ControlState& s) { return s.id == *up; });
        if (it == controls.end()) {
            break;
        }
        p.x += it->left;
        p.y += it->top;
        up = it->container;
    }
    return p;
}

} // namespace dexalo
