// The desktop link and the start-menu folder with its two links.
#pragma once

#include "platform/platform.h"

namespace kvn {

class CLauncherDlg;

void CreateStartMenuShortcuts(CLauncherDlg& dlg);
void CreateShellLinkFile(Platform& platform, WString linkPath, WString target, WString iconPath,
                         WString arguments);
void CreateDesktopShortcut(Platform& platform, WString installDir);

}  // namespace kvn
