// Finding an existing install folder and placing the launcher's files in a
// new one.
#pragma once

#include "platform/platform.h"

namespace kvn {

class CLauncherDlg;

// The plug-in's registry key under HKEY_CURRENT_USER.
inline constexpr char16_t kPluginKey[] = u"SOFTWARE\\MozillaPlugins\\korvane.net/KVNWebPlayer";

// A first installation in progress leaves this file in its install folder,
// from the moment the folder is made until the plug-in is registered; the
// next start finds it and finishes the installation in that same folder.
inline constexpr char16_t kUnfinishedMarkName[] = u"install.unfinished";
// Only one launcher unpacks and registers at a time: one closed during its
// installation may still be finishing it in the background.
inline constexpr char16_t kInstallLockName[] = u"KVNLancherInstall";

bool IsInstallUnfinished(Platform& platform, const WString& folder);
void MarkInstallUnfinished(Platform& platform, const WString& folder);
void MarkInstallFinished(Platform& platform, const WString& folder);

bool FindInstallDir(CLauncherDlg& dlg);
bool IsClientInstalled(CLauncherDlg& dlg);
void PlaceLauncherFiles(CLauncherDlg& dlg);
void CopyFileToDir(Platform& platform, const WString& sourceFile, const WString& targetDir);
bool GetFileNamePart(const WString& path, WString& name);
// The folder part of a plug-in path: the text before the first "Bin", else
// before the first "bin", else the whole text.
WString CutBeforeBin(const WString& pluginPath);

}  // namespace kvn
