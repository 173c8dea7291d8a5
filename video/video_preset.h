// The first video-quality preset, written from the graphics card's name.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace kvn {

class CLauncherDlg;

void InitVideoPreset(CLauncherDlg& dlg);
int QualityLevelFromRenderer(std::string_view renderer);

}  // namespace kvn
