#include "install/shortcuts.h"

#include "launcher/launcher_dlg.h"
#include "platform/fixed_text.h"
#include "platform/text.h"

namespace kvn {

namespace {

// The folder part of a path (before its last separator of either kind).
WString FolderOf(const WString& path) {
    const auto at = path.find_last_of(u"/\\");
    return at == WString::npos ? WString() : path.substr(0, at);
}

// Writes one start-menu link. It starts the launcher in the program's own
// folder, as the desktop link does, so that the launcher finds its skin and
// login.ini there. False when an old link is in the way and cannot be
// removed: the remaining links are then not made.
bool WriteStartMenuLink(Platform& platform, const WString& linkPath, const WString& target,
                        const WString& iconPath, const WString& arguments) {
    if (platform.files.exists(linkPath) && !platform.files.deleteFile(linkPath)) return false;
    auto link = platform.shell.createShellLink();
    if (!link) return true;
    link->setPath(target);
    link->setIconLocation(iconPath, 0);
    link->setWorkingDirectory(FolderOf(target));
    link->setArguments(arguments);
    link->save(linkPath);
    return true;
}

}  // namespace

void CreateStartMenuShortcuts(CLauncherDlg& dlg) {
    Platform& platform = dlg.platform();
    const auto programs = platform.shell.specialFolderPath(SpecialFolder::Programs);
    if (!programs) return;
    const WString folder = *programs + u"/" + u"Korvane";
    platform.files.createDirectory(folder);
    const WString target = dlg.m_szInstallDir.str() + u"/" + u"Login.exe";
    if (!WriteStartMenuLink(platform, folder + u"/" + u"Korvane.lnk", target, target, u""))
        return;
    WriteStartMenuLink(platform, folder + u"/" + u"卸载游戏.lnk", target, target, u"-Uninstall");
}

void CreateShellLinkFile(Platform& platform, WString linkPath, WString target, WString iconPath,
                         WString arguments) {
    WriteStartMenuLink(platform, linkPath, target, iconPath, arguments);
}

void CreateDesktopShortcut(Platform& platform, WString installDir) {
    FixedText<255> target;
    if (!target.assign(formatS(u"%s/Login.exe", {installDir}))) return;
    auto link = platform.shell.createShellLink();
    if (!link) return;
    link->setPath(target.str());
    link->setWorkingDirectory(installDir);
    const auto desktop = platform.shell.specialFolderPath(SpecialFolder::Desktop);
    if (!desktop) return;
    FixedText<260> linkPath;
    if (!linkPath.assign(formatS(u"%s/Korvane.lnk", {*desktop}))) return;
    platform.files.deleteFile(linkPath.str());
    link->save(linkPath.str());
}

}  // namespace kvn
