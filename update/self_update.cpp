#include "app/config.h"
#include "launcher/launcher_dlg.h"
#include "platform/text.h"
#include "update/download.h"

namespace kvn {

namespace {
constexpr int kAttempts = 10;
}  // namespace

// Brings the version record, the window background and the launcher itself
// up to date from the download server, then checks the client's version.
bool CLauncherDlg::CheckLauncherUpdate() {
    Platform& p = m_platform;
    const WString dir = m_szInstallDir.str();
    const WString appName = AppName(p.system);
    auto say = [&](const WString& text) {
        p.ui.messageBox(dialog(), text, appName, MsgButtons::Ok, MsgIcon::None);
    };
    auto fetch = [&](std::u16string_view serverPath, const WString& localPath) {
        const WString url = m_config.download + WString(serverPath);
        for (int attempt = 0; attempt < kAttempts; ++attempt)
            if (DownloadFile(p, m_installTask, url, localPath, false)) return true;
        return false;
    };
    auto readNumber = [&](const WString& path, const char16_t* key) {
        return p.profiles.getInt(u"VersionInfo", key, 0, path);
    };

    const WString versionPath = dir + u"/LoginExeVersionInfo.ini";
    const int oldBackground = readNumber(versionPath, u"DlgBackVersionNumber");
    const int oldLauncher = readNumber(versionPath, u"LoginExeVersionNumber");

    if (!fetch(u"/download/LoginExeVersionInfo.ini", versionPath))
        say(u"文件LoginExeVersionInfo.ini下载失败，请稍后重试！");

    const int newBackground = readNumber(versionPath, u"DlgBackVersionNumber");
    const WString bitmapPath = dir + u"/LauncherDlg.bmp";
    if (!p.files.exists(bitmapPath) || oldBackground < newBackground) {
        if (!fetch(u"/download/LauncherDlg.bmp", bitmapPath))
            say(u"文件LauncherDlg.bmp下载失败，请稍后重试！");
    }

    const int newLauncher = readNumber(versionPath, u"LoginExeVersionNumber");
    if (oldLauncher < newLauncher) {
        // Without a complete new launcher there is nothing to hand over:
        // carry on with this one.
        if (fetch(u"/download/Login.exe", dir + u"/TmpLogin.exe")) {
            ProcessStart start;
            start.commandLine = formatS(u"%s/update.exe", {dir});
            start.workingDirectory = dir;
            start.hidden = true;
            p.processes.start(start);
            p.processes.exitProcess(0);
        }
        say(u"文件“Login.exe”下载失败，请稍后重试！");
    }

    const int required = readNumber(versionPath, u"VersionNumber");
    const auto head = p.files.readFileHead(dir + u"/kvnversion.ini", 255);
    if (!head) return false;
    const std::string_view text(head->data(), head->find('\0') == Bytes::npos
                                                  ? head->size()
                                                  : head->find('\0'));
    constexpr std::string_view kMarker = "version:";
    const auto at = text.find(kMarker);
    if (at == std::string_view::npos) return false;
    const int installed = parseDecimal(text.substr(at + kMarker.size()));
    if (installed >= required) return false;

    m_wndWaitingPage.ShowWindow(true);
    m_wndWaitingPage.Navigate(SitePage(u"/micro/waiting.php"));
    m_wndLoginPage.ShowWindow(false);
    m_bWaitingPage = 1;
    say(u"检测到你的游戏版本长时间未更新，为确保游戏能够正常运行，请先手动卸载程序");
    m_dlgUninstall.DoModal(dialog());
    return true;
}

}  // namespace kvn
