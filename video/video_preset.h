// Video settings: the first quality preset chosen from the graphics card's
// OpenGL renderer name, and the file the game client reads the level from.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace kvn {

class CLauncherDlg;

// The file's section and keys.
inline constexpr char16_t kVideoSection[] = u"GameVideoSetting";
inline constexpr char16_t kVideoValueKey[] = u"SettingValue";
inline constexpr char16_t kVideoUpdateKey[] = u"SettingUpdate";
// Level used when the file or the key is missing.
inline constexpr int kDefaultVideoLevel = 2;
inline constexpr int kHighestVideoLevel = 4;

// The renderer name of a temporary OpenGL context made on the window; empty
// when there is no window or no context can be made.
Bytes GetGpuRenderer(Dialog* window);

// Level 0 to 3 from the renderer name (case-sensitive tests on the name).
int QualityLevelFromRenderer(std::string_view renderer);

// Writes the first preset into the install folder when the file is not
// there yet; an existing file is never changed.
void InitVideoPreset(CLauncherDlg& dlg);

}  // namespace kvn
