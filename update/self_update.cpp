#include <climits>
#include <cstdint>
#include <functional>
#include <future>
#include <optional>

#include "app/config.h"
#include "launcher/launcher_dlg.h"
#include "platform/crypto.h"
#include "platform/text.h"
#include "update/client_version.h"
#include "update/complete_files.h"
#include "update/download.h"
#include "update/update_rules.h"

namespace kvn {

namespace {

constexpr int kAttempts = 10;
constexpr char16_t kSection[] = u"VersionInfo";
constexpr char16_t kLauncherNumber[] = u"LoginExeVersionNumber";
constexpr char16_t kBackgroundNumber[] = u"DlgBackVersionNumber";

VersionRecord ReadRecord(FileSystem& files, const WString& path) {
    const auto bytes = files.readFile(path, kMaxRecordBytes);
    return bytes ? ParseVersionRecord(*bytes) : VersionRecord{};
}

}  // namespace

// Brings the version record, the window background and the launcher itself
// up to date from the download server, then checks the client's version.
//
// The stored record says what is in place. A fetched record stays pending
// beside it ("<record>.new") until the end, and is then committed with each
// number whose file did not arrive set back to the stored value: a
// background that could not be fetched, or a launcher that was not handed
// over, is tried again by the next start.
bool CLauncherDlg::CheckLauncherUpdate() {
    Platform& p = m_platform;
    const WString dir = m_szInstallDir.str();
    const WString appName = AppName(p.system);
    const bool signedBuild = !m_config.updateKeys.empty();
    auto say = [&](const WString& text) {
        p.ui.messageBox(dialog(), text, appName, MsgButtons::Ok, MsgIcon::None);
    };

    const WString versionPath = dir + u"/LoginExeVersionInfo.ini";
    const WString pendingPath = versionPath + u".new";
    const WString bitmapPath = dir + u"/LauncherDlg.bmp";
    const WString stagedPath = dir + u"/TmpLogin.exe";

    // What a start that was cut short left behind never stays: partial and
    // unverified downloads, signatures.
    for (const WString& file : {versionPath, bitmapPath, stagedPath})
        for (const char16_t* suffix : {u".new", u".new.part", u".sig", u".sig.part"})
            p.files.deleteFile(file + suffix);

    VersionRecord stored = ReadRecord(p.files, versionPath);
    // TmpLogin.exe is gone once update.exe has put it in place. Still there,
    // the last hand-over did not finish (killed, or update.exe failed): it is
    // removed, and the stored launcher number is set below the one it
    // claimed, so that the next start fetches and hands over the launcher
    // again. This start goes on with this launcher, so that an update.exe
    // that always fails cannot keep the player out.
    bool handOverUnfinished = false;
    if (p.files.find(stagedPath) != EntryKind::None && p.files.deleteFile(stagedPath)) {
        handOverUnfinished = true;
        if (stored.launcher > INT_MIN &&
            p.profiles.writeString(kSection, kLauncherNumber, decimal(stored.launcher - 1L),
                                   versionPath))
            stored.launcher -= 1;
    }

    // Up to ten immediate attempts. Each one downloads beside the file
    // ("<name>.new"), never more than the file's ceiling, and only a
    // download that passes every check counts: with a build key, a valid
    // signature from "<path>.sig" by one of the keys; then what `accept` asks
    // of the content. A placed file then takes the file's place. Whatever
    // fails is removed, so the file stays as it was.
    auto fetch = [&](std::u16string_view serverPath, const WString& localPath,
                     DownloadCeiling ceiling, const std::function<bool(std::string_view)>& accept,
                     bool place) {
        const WString url = m_config.download + WString(serverPath);
        const WString newPath = localPath + u".new";
        const WString signaturePath = localPath + u".sig";
        auto passes = [&](bool signatureFetched) {
            const auto data = p.files.readFile(newPath, ceiling.maxBytes);
            if (!data) return false;
            if (signedBuild) {
                const auto signature = signatureFetched
                                           ? p.files.readFile(signaturePath, kSignatureBytes)
                                           : std::nullopt;
                if (!signature || !VerifyWithAnyKey(m_config.updateKeys, *data, *signature))
                    return false;
            }
            return accept(*data);
        };
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            // With a build key the signature comes at the same time as the
            // file, on a thread of its own: one round trip, not two. The
            // thread ends (the future waits for it) before this attempt's
            // paths go out of scope, also when the file's download throws.
            std::future<bool> signature;
            if (signedBuild)
                signature = std::async(std::launch::async, [&] {
                    return DownloadFile(p, m_installTask, url + u".sig", signaturePath, false,
                                        DownloadCeiling{kSignatureBytes, true});
                });
            const bool fetched = DownloadFile(p, m_installTask, url, newPath, false, ceiling);
            const bool signatureFetched = signature.valid() && signature.get();
            const bool good = fetched && passes(signatureFetched) &&
                              (!place || p.files.replaceFile(newPath, localPath));
            if (signedBuild) p.files.deleteFile(signaturePath);
            if (good) return true;
            p.files.deleteFile(newPath);
        }
        return false;
    };

    // The record. With a build key it must not be expired by the player's
    // clock, nor lower any number of the stored one; such a record counts as
    // a failed download, as a bad signature does.
    const std::int64_t now = p.system.utcSeconds();
    VersionRecord fresh = stored;
    const bool recordFetched = fetch(
        u"/download/LoginExeVersionInfo.ini", versionPath, DownloadCeiling{kMaxRecordBytes, false},
        [&](std::string_view data) {
            fresh = ParseVersionRecord(data);
            return CheckRecord(fresh, stored, signedBuild, now) == RecordFault::None;
        },
        false);
    if (!recordFetched) {
        fresh = stored;
        say(u"文件LoginExeVersionInfo.ini下载失败，请稍后重试！");
    }

    // Writes the pending record over the stored one, with the numbers whose
    // file is not in place set back to the stored values.
    bool backgroundInPlace = true, launcherHandedOver = false;
    // A record that would change no number is not written: the stored one
    // stays byte for byte.
    bool committed = false;
    auto commit = [&] {
        if (!recordFetched || committed) return;
        committed = true;
        const bool keepBackground = !backgroundInPlace && stored.background < fresh.background;
        const bool keepLauncher = !launcherHandedOver && stored.launcher < fresh.launcher;
        const int background = keepBackground ? stored.background : fresh.background;
        const int launcher = keepLauncher ? stored.launcher : fresh.launcher;
        bool ok = background != stored.background || launcher != stored.launcher ||
                  fresh.required != stored.required;
        if (ok && keepBackground)
            ok = p.profiles.writeString(kSection, kBackgroundNumber, decimal(background), pendingPath);
        if (ok && keepLauncher)
            ok = p.profiles.writeString(kSection, kLauncherNumber, decimal(launcher), pendingPath);
        if (!ok || !p.files.replaceFile(pendingPath, versionPath)) p.files.deleteFile(pendingPath);
    };

    const bool backgroundRises = stored.background < fresh.background;
    bool backgroundWanted = backgroundRises;
    {
        // A local bitmap that is cut or too small counts as missing: it is
        // never applied, so it is fetched again rather than kept for good.
        const auto localBitmap = p.files.readFile(bitmapPath, kMaxBitmapFileBytes);
        backgroundWanted = backgroundWanted || !localBitmap || !IsUsableBackground(*localBitmap);
    }
    if (backgroundWanted) {
        // Only a whole bitmap at least the window's size: a smaller one
        // would shrink the window out of reach on every start.
        const FileDemand demand = BackgroundDemand(fresh, signedBuild, backgroundRises);
        backgroundInPlace =
            demand.fault == FileFault::None &&
            fetch(u"/download/LauncherDlg.bmp", bitmapPath,
                  DownloadCeiling{demand.ceiling, demand.exactSize},
                  [&](std::string_view data) {
                      return CheckBackgroundFile(data, demand) == FileFault::None;
                  },
                  true);
        if (!backgroundInPlace) say(u"文件LauncherDlg.bmp下载失败，请稍后重试！");
    }

    if (stored.launcher < fresh.launcher && !handOverUnfinished) {
        // Only a whole program of this launcher's own kind, of the size and
        // digest the record names; with a build key the record must name
        // the digest. A record that cannot vouch for any file fetches
        // nothing, and this launcher stays.
        const FileDemand demand = LauncherDemand(fresh, signedBuild);
        const bool staged =
            demand.fault == FileFault::None &&
            fetch(u"/download/Login.exe", stagedPath,
                  DownloadCeiling{demand.ceiling, demand.exactSize},
                  [&](std::string_view data) {
                      return CheckLauncherFile(data, demand) == FileFault::None;
                  },
                  true);
        if (staged) {
            ProcessStart start;
            // The program is named apart from its command line so that a
            // folder with blanks cannot start another program.
            start.application = dir + u"/update.exe";
            start.commandLine = formatS(u"%s/update.exe", {dir});
            start.workingDirectory = dir;
            start.hidden = true;
            if (p.processes.start(start)) {  // handles closed at once, not waited for
                launcherHandedOver = true;
                commit();
                p.processes.exitProcess(0);
            }
            // Nothing was handed over: carry on with this launcher and try
            // again on the next start.
            p.files.deleteFile(stagedPath);
        }
        commit();
        say(u"文件“Login.exe”下载失败，请稍后重试！");
    }
    commit();

    const int required = fresh.required;
    const auto head = p.files.readFileHead(dir + u"/kvnversion.ini", 255);
    if (!head) return false;
    const auto installed = ClientVersionFromHead(*head);
    if (!installed || *installed >= required) return false;

    m_wndWaitingPage.ShowWindow(true);
    m_wndWaitingPage.Navigate(SitePage(u"/micro/waiting.php"));
    m_wndLoginPage.ShowWindow(false);
    m_bWaitingPage = 1;
    say(u"检测到你的游戏版本长时间未更新，为确保游戏能够正常运行，请先手动卸载程序");
    m_dlgUninstall.DoModal(dialog());
    return true;
}

}  // namespace kvn
