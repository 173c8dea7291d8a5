#include "webview/web_browser.h"

#include "app/config.h"
#include "platform/fixed_text.h"
#include "platform/text.h"

namespace kvn {

namespace {
constexpr std::size_t kMaxLoginBytes = 255;  // 256-byte buffer with its terminator
}  // namespace

void CWebBrowser::Create(Dialog& dialog, int id, const Rect& rect) {
    m_pView = dialog.createWebView(id, rect, *this);
}

void CWebBrowser::Navigate(const WString& url) {
    if (m_pView) m_pView->navigate(url);
}

void CWebBrowser::ShowWindow(bool visible) {
    if (m_pView) m_pView->show(visible);
}

bool CWebBrowser::IsWindowVisible() const { return m_pView && m_pView->isVisible(); }

// Ordinary web links leave the view for the user's default browser; the
// site's own pages, marked addresses and the login result stay. Anything
// that is not a web address opens nothing outside the launcher; only the
// player's own click or key opens anything, and the browser starts at most
// once a second.
OutsideLink CWebBrowser::DecideOutsideLink(const WebNavigation& navigation) {
    if (!OpensInDefaultBrowser(navigation.url))
        return IsWebAddress(navigation.url) ? OutsideLink::StaysInView : OutsideLink::NotWebAddress;
    if (!navigation.userGesture) return OutsideLink::NotByPlayer;
    if (!m_pStartGate->admit(m_platform.system.monotonicMs())) return OutsideLink::TooSoon;
    return OutsideLink::Sent;
}

void CWebBrowser::onTranslateUrl(const WebNavigation& navigation) {
    const OutsideLink decision = DecideOutsideLink(navigation);
    // A link that belongs to the default browser is never followed in the
    // view, whether the browser started or not: the login page stays.
    if (!navigation.newWindow && decision != OutsideLink::StaysInView && decision != OutsideLink::NotWebAddress)
        m_strLeavingLink = navigation.url;
    if (decision == OutsideLink::Sent) m_platform.shell.openInDefaultBrowser(navigation.url);
}

// Only the page the launcher opened can end a login: a navigation of this
// view's top frame to an address of the login page's own origin, asked for
// by a document of that origin (or by the launcher) where the engine says
// who asked. Frames in the page (an advert, a widget) cannot, neither in
// themselves nor by navigating the page, and other sites cannot.
bool CWebBrowser::MayHandOffLogin(const WebNavigation& navigation) const {
    if (navigation.frame == WebNavigation::Frame::Inner) return false;
    const std::optional<WString> home = WebOrigin(m_strLoginPage);
    if (!home || WebOrigin(navigation.url) != home) return false;
    // Who asked is judged when the hand-off is due: WebKit writes
    // Sec-Fetch-Site into the request only once it is sent.
    if (navigation.frame == WebNavigation::Frame::NotYetKnown || !navigation.requester) return true;
    // Sec-Fetch-Site where the engine sends it (secure and loopback sites);
    // else the Referer, which a page may leave out but never forge.
    const WebNavigation::Requester& requester = *navigation.requester;
    if (!requester.fetchSite.empty()) return requester.fetchSite == u"same-origin" || requester.fetchSite == u"none";
    return !requester.referrer.empty() && WebOrigin(requester.referrer) == home;
}

// The view follows web pages only (see MayShowInView), and not a link that
// belongs to the default browser. A navigation carrying "?user="
// ends the login when this view's page made it; any other is cancelled.
bool CWebBrowser::onBeforeNavigate2(const WebNavigation& navigation) {
    const WString& url = navigation.url;
    if (m_strLeavingLink) {
        const bool leaving = SameAddress(*m_strLeavingLink, url);
        m_strLeavingLink.reset();
        if (leaving) return false;
    }
    if (!contains(url, kLoginMarker)) return MayShowInView(url);
    if (!MayHandOffLogin(navigation)) return false;
    // Followed until the backend can say which frame it is.
    if (navigation.frame == WebNavigation::Frame::NotYetKnown) return true;
    HandOffLogin(url);
    return MayShowInView(url);
}

// The text after "?user=" goes to kvnlogin.dat in the client's folder, the
// client is started and the launcher ends. A text that does not fit the
// hand-off buffers is refused whole rather than cut, and the launcher stays
// open.
void CWebBrowser::HandOffLogin(const WString& url) {
    FixedText<256> address;
    if (!address.assign(url)) {
        AfxMessageBox(m_platform, u"kvnlogin.dat 写入失败");
        return;
    }
    const std::size_t at = address.str().find(kLoginMarker);
    const WString login = untilZero(address.str().substr(at + 6));

    const std::optional<Bytes> narrow = m_platform.system.toAnsi(login);
    if (!narrow || narrow->size() > kMaxLoginBytes) {
        AfxMessageBox(m_platform, u"kvnlogin.dat 写入失败");
        return;
    }

    if (!m_platform.files.writeFile(m_strClientDir + u"/kvnlogin.dat", *narrow, FileAccess::OwnerOnly)) {
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
