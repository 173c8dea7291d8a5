#include "app/config.h"
#include "platform/fixed_text.h"
#include "platform/text.h"
#include "webview/web_browser.h"

namespace kvn {

namespace {
constexpr char16_t kUserMarker[] = u"?user=";
constexpr std::size_t kMaxLoginBytes = 255;  // 256-byte buffer with its terminator
}  // namespace

// Ordinary web links leave the view for the user's default browser; the
// site's own pages, marked addresses and the login result stay.
void CWebBrowser::onTranslateUrl(const WString& url) {
    if (url.empty()) return;
    if (contains(url, kUserMarker)) return;
    if (contains(url, u"micro")) return;
    if (contains(url, kStayInViewMarker)) return;
    if (!contains(url, u"http")) return;
    m_platform.shell.openInDefaultBrowser(url);
}

// A navigation carrying "?user=" ends the login: the text after the marker
// goes to kvnlogin.dat in the client's folder, the client is started and the
// launcher ends. A text that does not fit the hand-off buffers is refused
// whole rather than cut, and the launcher stays open.
void CWebBrowser::onBeforeNavigate2(const WString& url) {
    if (!contains(url, kUserMarker)) return;

    FixedText<256> address;
    if (!address.assign(url)) {
        AfxMessageBox(m_platform, u"kvnlogin.dat 写入失败");
        return;
    }
    const std::size_t at = address.str().find(kUserMarker);
    const WString login = untilZero(address.str().substr(at + 6));

    const std::optional<Bytes> narrow = m_platform.system.toAnsi(login);
    if (!narrow || narrow->size() > kMaxLoginBytes) {
        AfxMessageBox(m_platform, u"kvnlogin.dat 写入失败");
        return;
    }

    if (!m_platform.files.writeFile(m_strClientDir + u"/kvnlogin.dat", *narrow,
                                    FileAccess::OwnerOnly)) {
        AfxMessageBox(m_platform, u"kvnlogin.dat 写入失败");
        return;
    }
    m_platform.system.sleep(1);

    ProcessStart start;
    start.application = m_strClientDir + u"/Launcher.exe";
    start.workingDirectory = m_strClientDir;
    if (!m_platform.processes.start(start)) {
        AfxMessageBox(m_platform, u"Launcher.exe 启动失败");
        return;
    }
    m_platform.processes.exitProcess(0);
}

}  // namespace kvn
