// Finding an existing install folder and placing the launcher's files in a
// new one.
#pragma once

#include "platform/platform.h"

namespace kvn {

class CLauncherDlg;

// The plug-in's registry key under HKEY_CURRENT_USER.
inline constexpr char16_t kPluginKey[] = u"SOFTWARE\\MozillaPlugins\\korvane.net/KVNWebPlayer";

bool FindInstallDir(CLauncherDlg& dlg);
bool IsClientInstalled(CLauncherDlg& dlg);
void PlaceLauncherFiles(CLauncherDlg& dlg);
void CopyFileToDir(Platform& platform, const WString& sourceFile, const WString& targetDir);
bool GetFileNamePart(const WString& path, WString& name);
// The folder part of a plug-in path: the text before the first "Bin", else
// before the first "bin", else the whole text.
WString CutBeforeBin(const WString& pluginPath);

}  // namespace kvn
