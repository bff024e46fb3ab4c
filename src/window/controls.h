#pragma once
// Form1's controls as plain data: what each one is, where it sits, and its design state.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dexalo {

enum class ControlArray { Frame1, Command1, Check1, Label1, Drive1, Dir1 };

// A control addressed the way the window's code addresses it: array name and index
// (the single controls Drive1 and Dir1 use index 0).
struct ControlId {
    ControlArray array;
    int index = 0;
    friend bool operator==(const ControlId&, const ControlId&) = default;
};

inline constexpr ControlId kDrive1{ControlArray::Drive1, 0};
inline constexpr ControlId kDir1{ControlArray::Dir1, 0};
inline constexpr ControlId Check1(int i) { return {ControlArray::Check1, i}; }
inline constexpr ControlId Command1(int i) { return {ControlArray::Command1, i}; }
inline constexpr ControlId Frame1(int i) { return {ControlArray::Frame1, i}; }
inline constexpr ControlId Label1(int i) { return {ControlArray::Label1, i}; }

inline constexpr int kFrameCount = 3;
inline constexpr int kCommandCount = 7;
inline constexpr int kCheckCount = 13;
inline constexpr int kLabelCount = 10;

enum class ControlKind { GroupFrame, PushButton, CheckBox, Label, DriveList, FolderList };

// Colours in COLORREF layout (0x00BBGGRR); nullopt = the system colour for the control's kind.
using Color = std::optional<std::uint32_t>;
inline constexpr std::uint32_t kLightGrey = 0xC0C0C0; // RGB 192, 192, 192
inline constexpr std::uint32_t kMidGrey = 0x808080;   // RGB 128, 128, 128
inline constexpr std::uint32_t kWhite = 0xFFFFFF;
inline constexpr std::uint32_t kBlack = 0x000000;

// Sizes and positions are in twips, relative to the client area of the container.
struct ControlState {
    ControlId id{ControlArray::Frame1, 0};
    ControlKind kind = ControlKind::Label;
    std::wstring caption;
    int value = 0; // check boxes: 0 unticked, 1 ticked
    bool enabled = true;
    Color foreColor;
    Color backColor;
    int left = 0, top = 0, width = 0, height = 0;
    std::optional<ControlId> container; // nullopt = the window itself
    int tabIndex = 0;
    bool acceptsDrops = true;
    bool focusable = true; // frames and labels never take focus
};

// The window's own fixed properties.
inline constexpr const wchar_t* kFormCaption = L"Dexalo Version.2.66 by.Vanto";
inline constexpr int kFormClientWidth = 5925;  // twips
inline constexpr int kFormClientHeight = 5325; // twips
inline constexpr std::uint32_t kFormBackColor = kLightGrey;
inline constexpr int kTwipsPerInch = 1440;

// Every control in its design state: frames, buttons, check boxes, labels, Drive1, Dir1.
std::vector<ControlState> DesignControls();

// A control's left and top in the window's client area, adding up its containers.
struct TwipPoint {
    int x = 0, y = 0;
};
TwipPoint AbsolutePosition(const std::vector<ControlState>& controls, const ControlState& control);

} // namespace dexalo
