// The two dialog templates as data, for backends that have no resource
// compiler. The Windows resource script (Login.rc) states the same.
#pragma once

#include <array>
#include <string_view>

#include "res/resource.h"

namespace kvn::res {

enum class ControlKind { PushButton, AutoCheckBox, ProgressBar, Edit };

struct TemplateControl {
    int id;
    ControlKind kind;
    std::u16string_view text;
    int x, y, width, height;  // dialog units
};

struct DialogTemplate {
    int id;
    std::u16string_view caption;
    int width, height;  // dialog units
    bool captionBar;    // title bar and system menu
};

inline constexpr DialogTemplate kLauncherTemplate{IDD_LAUNCHER_DIALOG, u"", 604, 360, false};
inline constexpr std::array<TemplateControl, 11> kLauncherControls{{
    {IDC_BTN_MINIMIZE, ControlKind::PushButton, u"", 0, 0, 15, 14},
    {IDC_BTN_CLOSE, ControlKind::PushButton, u"", 20, 0, 15, 14},
    {IDC_BTN_VIDEO, ControlKind::PushButton, u"", 40, 0, 60, 14},
    {IDC_BTN_VIDEO_SAVE, ControlKind::PushButton, u"", 100, 0, 60, 14},
    {IDC_BTN_VIDEO_CLOSE, ControlKind::PushButton, u"", 160, 0, 60, 14},
    {IDC_CHK_LEVEL0, ControlKind::AutoCheckBox, u"", 0, 20, 40, 40},
    {IDC_CHK_LEVEL1, ControlKind::AutoCheckBox, u"", 40, 20, 40, 40},
    {IDC_CHK_LEVEL2, ControlKind::AutoCheckBox, u"", 80, 20, 40, 40},
    {IDC_CHK_LEVEL3, ControlKind::AutoCheckBox, u"", 120, 20, 40, 40},
    {IDC_CHK_LEVEL4, ControlKind::AutoCheckBox, u"", 160, 20, 40, 40},
    {IDC_PROGRESS, ControlKind::ProgressBar, u"", 0, 340, 600, 8},
}};

inline constexpr DialogTemplate kUninstallTemplate{IDD_UNINSTALL_DIALOG, u"卸载程序", 316, 158, true};
inline constexpr std::array<TemplateControl, 2> kUninstallControls{{
    {IDCANCEL, ControlKind::PushButton, u"取消", 127, 125, 67, 19},
    {IDC_UNINSTALL_LOG, ControlKind::Edit, u"", 7, 7, 302, 112},
}};

// Pixel sizes of the bitmap resources (width, height).
struct BitmapSize {
    int id, width, height;
};
inline constexpr std::array<BitmapSize, 12> kBitmapSizes{{
    {IDB_CLOSE_IN, 25, 26},        {IDB_CLOSE_OUT, 25, 26},
    {IDB_MINIMIZE_IN, 25, 26},     {IDB_MINIMIZE_OUT, 25, 26},
    {IDB_VIDEO_CLOSE_OUT, 106, 27}, {IDB_VIDEO_CLOSE_IN, 106, 27},
    {IDB_VIDEO_OUT, 103, 23},      {IDB_VIDEO_IN, 103, 23},
    {IDB_LEVEL_IN, 172, 172},      {IDB_LEVEL_OUT, 172, 172},
    {IDB_VIDEO_SAVE_OUT, 106, 27}, {IDB_VIDEO_SAVE_IN, 106, 27},
}};

}  // namespace kvn::res
