// Finding an existing install folder and placing the launcher's files in a
// new one.
#pragma once

#include "platform/platform.h"

namespace kvn {

class CLauncherDlg;

// The plug-in's registry key under HKEY_CURRENT_USER.
inline constexpr char16_t kPluginKey[] = u"SOFTWARE\\MozillaPlugins\\korvane.net/KVNWebPlayer";

// A first installation in progress leaves this file in its install folder,
// from the moment the folder is made until the plug-in's registration has
// run; the next start finds it and finishes the installation in that same
// folder. Empty while the client is being placed and unpacked; it reads
// "unpacked" once 7-Zip has unpacked the client, so that a start after a
// cut between the two steps only registers.
inline constexpr char16_t kUnfinishedMarkName[] = u"install.unfinished";
inline constexpr char kUnpackedMark[] = "unpacked";
// Only one launcher unpacks and registers at a time: one closed during its
// installation may still be finishing it in the background.
inline constexpr char16_t kInstallLockName[] = u"KVNLancherInstall";

bool IsInstallUnfinished(Platform& platform, const WString& folder);
// True when the folder's installation was cut short after the client had
// been unpacked in full (and the client is still there): only the
// registration is missing.
bool IsClientUnpacked(Platform& platform, const WString& folder);
// Starts the mark of an installation (an empty mark file).
void MarkInstallUnfinished(Platform& platform, const WString& folder);
void MarkInstallUnpacked(Platform& platform, const WString& folder);
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
