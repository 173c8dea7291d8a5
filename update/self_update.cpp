#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "app/config.h"
#include "launcher/launcher_dlg.h"
#include "platform/crypto.h"
#include "platform/text.h"
#include "update/client_version.h"
#include "update/complete_files.h"
#include "update/download.h"

namespace kvn {

namespace {

constexpr int kAttempts = 10;
constexpr char16_t kSection[] = u"VersionInfo";
constexpr char16_t kDigestKey[] = u"LoginExeSha256";
// Sizes are 32-bit throughout the download; nothing larger is read.
constexpr std::size_t kLargestFile = 0x7fffffff;

using Digest = Sha256Digest;

// The optional digest of the new launcher in the version record.
struct ExpectedDigest {
    enum class State { Absent, Valid, Malformed } state = State::Absent;
    Digest bytes{};
};

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Exactly 64 hexadecimal digits, either case; nothing else.
std::optional<Digest> ParseDigest(const WString& text) {
    if (text.size() != 64) return std::nullopt;
    Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}

ExpectedDigest ReadExpectedDigest(ProfileFiles& profiles, const WString& recordPath) {
    ExpectedDigest expected;
    // Room for far more than a digest, so that a long wrong value is seen
    // as wrong rather than as missing.
    const auto text = profiles.getString(kSection, kDigestKey, recordPath, 1024);
    if (text) {
        const auto digest = ParseDigest(*text);
        expected.state = digest ? ExpectedDigest::State::Valid : ExpectedDigest::State::Malformed;
        if (digest) expected.bytes = *digest;
        return expected;
    }
    // No text: either the key is absent or its value does not fit. A present
    // key reads the same number whatever the default; an absent one reads
    // back each default.
    const bool absent = profiles.getInt(kSection, kDigestKey, -1, recordPath) == -1 &&
                        profiles.getInt(kSection, kDigestKey, -2, recordPath) == -2;
    if (!absent) expected.state = ExpectedDigest::State::Malformed;
    return expected;
}

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
    // Up to ten immediate attempts. Each one downloads beside the file
    // ("<name>.new"), and only a download that passes every check takes the
    // file's place: with a build key, a valid signature from "<path>.sig";
    // then what `accept` asks of the content. Whatever fails is removed, so
    // the file stays as it was.
    auto fetch = [&](std::u16string_view serverPath, const WString& localPath,
                     const std::function<bool(std::string_view)>& accept = nullptr) {
        const WString url = m_config.download + WString(serverPath);
        const WString newPath = localPath + u".new";
        const WString signaturePath = localPath + u".sig";
        auto passes = [&] {
            const auto data = p.files.readFile(newPath, kLargestFile);
            if (!data) return false;
            if (!m_config.updateKey.empty()) {
                const bool fetched =
                    DownloadFile(p, m_installTask, url + u".sig", signaturePath, false);
                const auto signature =
                    fetched ? p.files.readFile(signaturePath, kEd25519SignatureSize) : std::nullopt;
                p.files.deleteFile(signaturePath);
                if (!signature || !VerifyFileSignature(m_config.updateKey, *data, *signature))
                    return false;
            }
            return !accept || accept(*data);
        };
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            if (DownloadFile(p, m_installTask, url, newPath, false) && passes() &&
                p.files.replaceFile(newPath, localPath))
                return true;
            p.files.deleteFile(newPath);
        }
        return false;
    };
    auto readNumber = [&](const WString& path, const char16_t* key) {
        return p.profiles.getInt(kSection, key, 0, path);
    };

    const WString versionPath = dir + u"/LoginExeVersionInfo.ini";
    const int oldBackground = readNumber(versionPath, u"DlgBackVersionNumber");
    const int oldLauncher = readNumber(versionPath, u"LoginExeVersionNumber");

    if (!fetch(u"/download/LoginExeVersionInfo.ini", versionPath))
        say(u"文件LoginExeVersionInfo.ini下载失败，请稍后重试！");

    const int newBackground = readNumber(versionPath, u"DlgBackVersionNumber");
    const WString bitmapPath = dir + u"/LauncherDlg.bmp";
    // A local bitmap that is cut or too small counts as missing: it is never
    // applied, so it is fetched again rather than kept for good.
    const auto localBitmap = p.files.readFile(bitmapPath, kMaxBitmapFileBytes);
    if (!localBitmap || !IsUsableBackground(*localBitmap) || oldBackground < newBackground) {
        // Only a whole bitmap at least the window's size: a smaller one
        // would shrink the window out of reach on every start.
        if (!fetch(u"/download/LauncherDlg.bmp", bitmapPath, IsUsableBackground))
            say(u"文件LauncherDlg.bmp下载失败，请稍后重试！");
    }

    const int newLauncher = readNumber(versionPath, u"LoginExeVersionNumber");
    if (oldLauncher < newLauncher) {
        const WString stagedPath = dir + u"/TmpLogin.exe";
        const ExpectedDigest expected = ReadExpectedDigest(p.profiles, versionPath);
        // Only a whole program of this launcher's own kind is handed over,
        // and, when the record names a digest, only one that matches it.
        auto accept = [&](std::string_view data) {
            return IsCompleteProgram(data, kLauncherProgramKind) &&
                   (expected.state != ExpectedDigest::State::Valid ||
                    Sha256(data) == expected.bytes);
        };
        // A record whose digest is unreadable cannot vouch for any file:
        // nothing is fetched and this launcher stays.
        const bool staged = expected.state != ExpectedDigest::State::Malformed &&
                            fetch(u"/download/Login.exe", stagedPath, accept);
        // Without a complete, verified new launcher there is nothing to hand
        // over: carry on with this one.
        if (staged) {
            ProcessStart start;
            // The program is named apart from its command line so that a
            // folder with blanks cannot start another program.
            start.application = dir + u"/update.exe";
            start.commandLine = formatS(u"%s/update.exe", {dir});
            start.workingDirectory = dir;
            start.hidden = true;
            p.processes.start(start);  // handles closed at once, not waited for
            p.processes.exitProcess(0);
        }
        say(u"文件“Login.exe”下载失败，请稍后重试！");
    }

    const int required = readNumber(versionPath, u"VersionNumber");
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
