#include "install/install_dir.h"

#include "launcher/launcher_dlg.h"
#include "platform/text.h"

namespace kvn {

WString CutBeforeBin(const WString& pluginPath) {
    auto at = pluginPath.find(u"Bin");
    if (at == WString::npos) at = pluginPath.find(u"bin");
    return at == WString::npos ? pluginPath : pluginPath.substr(0, at);
}

namespace {
WString MarkPath(const WString& folder) { return folder + u"\\" + kUnfinishedMarkName; }
}  // namespace

bool IsInstallUnfinished(Platform& platform, const WString& folder) {
    return !folder.empty() && platform.files.find(MarkPath(folder)) == FileSystem::Kind::File;
}

bool IsClientUnpacked(Platform& platform, const WString& folder) {
    if (!IsInstallUnfinished(platform, folder)) return false;
    // A mark cut by a power cut reads as anything else: all is done again.
    const auto mark = platform.files.readFileHead(MarkPath(folder), sizeof kUnpackedMark);
    return mark && *mark == kUnpackedMark && platform.files.exists(folder + u"/Launcher.exe");
}

void MarkInstallUnfinished(Platform& platform, const WString& folder) {
    platform.files.writeFile(MarkPath(folder), {});
}

void MarkInstallUnpacked(Platform& platform, const WString& folder) {
    platform.files.writeFile(MarkPath(folder), kUnpackedMark);
}

void MarkInstallFinished(Platform& platform, const WString& folder) {
    platform.files.deleteFile(MarkPath(folder));
}

bool FindInstallDir(CLauncherDlg& dlg) {
    Platform& p = dlg.platform();
    // The value is read into the 255-unit buffer at its real size; a value
    // that does not fit counts as absent.
    if (const auto path = p.registry.readUserString(kPluginKey, u"Path", 255 * 2)) {
        if (dlg.m_szInstallDir.assign(*path)) {
            dlg.m_szInstallDir.assign(CutBeforeBin(*path));
            return true;
        }
    }
    // A current folder longer than the buffer is treated as absent, never cut.
    const WString current = p.system.currentDirectory();
    if (current.size() <= FixedText<256>::kCapacity && p.files.exists(current + u"/Launcher.exe")) {
        dlg.m_szInstallDir.assign(current);
        return true;
    }
    return false;
}

bool IsClientInstalled(CLauncherDlg& dlg) {
    return dlg.platform().files.exists(dlg.m_szInstallDir.str() + u"/Launcher.exe");
}

bool GetFileNamePart(const WString& path, WString& name) {
    std::size_t at = path.find(u'\\');
    if (at == WString::npos) return true;
    for (;;) {
        std::size_t next = path.find(u'\\', at + 1);
        if (next == WString::npos) next = path.find(u'/', at + 1);
        if (next == WString::npos) break;
        at = next;
    }
    name = path.substr(at + 1);
    return true;
}

void CopyFileToDir(Platform& platform, const WString& sourceFile, const WString& targetDir) {
    platform.files.createDirectory(targetDir);
    WString name;
    GetFileNamePart(sourceFile, name);
    platform.files.copyFile(sourceFile, formatS(u"%s/%s", {targetDir, name}));
}

void PlaceLauncherFiles(CLauncherDlg& dlg) {
    Platform& p = dlg.platform();
    WString own = p.system.moduleFileName();
    if (own.size() > 255) own.resize(255);
    const auto slash = own.rfind(u'\\');
    if (slash != WString::npos) own.resize(slash);
    if (own == dlg.m_szInstallDir.str()) return;

    static constexpr const char16_t* kFiles[] = {
        u"%s\\Login.exe",      u"%s\\login.ini",    u"%s\\LauncherDlg.bmp",
        u"%s\\Uninstall.list", u"%s\\LoginExeVersionInfo.ini",
        u"%s\\KVNClient.7z",   u"%s\\7zr.exe",
    };
    for (const char16_t* pattern : kFiles)
        CopyFileToDir(p, formatS(pattern, {own}), dlg.m_szInstallDir.str());
    for (const WString& name : p.system.packageFiles())
        CopyFileToDir(p, own + u"\\" + name, dlg.m_szInstallDir.str());
}

}  // namespace kvn
