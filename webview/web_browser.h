// The embedded web view of the launcher window: plain look, outside links
// to the default browser, and the hand-off of a completed login to the game
// client.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace kvn {

// A navigation to an address that contains this marker ends the login: the
// text after it is the login handed to the game client.
inline constexpr char16_t kLoginMarker[] = u"?user=";

// Addresses that contain this marker stay in the view.
inline constexpr char16_t kStayInViewMarker[] = u"kvnin";

// An absolute web address: "http://" or "https://" (the scheme in any
// letter case), a host that is not empty, and no blank, control character
// or broken UTF-16 anywhere. Only such an address is ever handed to the
// system's shell, which would otherwise run whatever is registered for a
// scheme or file type (a program on a share, a troubleshooter, a search).
bool IsWebAddress(std::u16string_view url);

// The external-link rule: the address goes to the default browser. A web
// address, not the login result, not one of the site's own pages and not
// marked to stay in the view (each marker case-sensitive, anywhere).
bool OpensInDefaultBrowser(std::u16string_view url);

// Whether the view itself may follow a navigation: web pages and the
// page's own blank documents and scripts. Any other scheme is refused, so
// that the browser control never hands an address to a program of the
// system's (an external protocol handler) on its own.
bool MayShowInView(std::u16string_view url);

// The origin of a web address: scheme and host in lower case and the port
// as a number ("http://www.korvane.net:80"), as browsers compare them.
// Blanks and control characters around the address, and tabs and line
// breaks in it, are dropped first, as a browser drops them when it loads
// one. nullopt for anything but a web address.
std::optional<WString> WebOrigin(std::u16string_view url);

// Two addresses of one page as a browser control may spell them: scheme and
// host in any letter case, an empty path the same as "/".
bool SameAddress(std::u16string_view a, std::u16string_view b);

// At most one start of the default browser a second, however many requests
// a page makes: requests within the second after a start are dropped.
class BrowserStartGate {
public:
    static constexpr std::uint64_t kIntervalMs = 1000;
    // True when a start may happen at this time of the monotonic clock; it
    // then counts as the last start.
    bool admit(std::uint64_t nowMs);

private:
    std::optional<std::uint64_t> m_nLastStartMs;
};

// What became of an address a page was about to open.
enum class OutsideLink {
    StaysInView,    // not meant for the default browser (the site's pages, marked, the login result)
    NotWebAddress,  // refused: not an absolute web address with a host
    NotByPlayer,    // refused: a script or a timer asked, not the player
    TooSoon,        // refused: the default browser started less than a second ago
    Sent,           // handed to the default browser
};

class CWebBrowser : public WebViewEvents {
public:
    explicit CWebBrowser(Platform& platform) : m_platform(platform) {}
    // A view that shares the other's limit on outside starts, so that the
    // launcher as a whole starts the browser at most once a second.
    CWebBrowser(Platform& platform, CWebBrowser& sharesStartsWith)
        : m_platform(platform), m_pStartGate(sharesStartsWith.m_pStartGate) {}
    CWebBrowser(const CWebBrowser&) = delete;
    CWebBrowser& operator=(const CWebBrowser&) = delete;

    // Creates the view as a visible child of the dialog.
    void Create(Dialog& dialog, int id, const Rect& rect);
    void Navigate(const WString& url);
    void ShowWindow(bool visible);
    bool IsWindowVisible() const;
    WebView* view() const { return m_pView; }

    // Folder of the installed game client; set by the owner.
    WString m_strClientDir;
    // The login page the owner opens in this view. Only a navigation of
    // this view's own page (its top frame) to an address of the same origin
    // hands a login off; empty (the waiting page's view): none does.
    WString m_strLoginPage;

    // External-link rule.
    void onTranslateUrl(const WebNavigation& navigation) override;
    // Login hand-off; false when the view is not to follow the address.
    bool onBeforeNavigate2(const WebNavigation& navigation) override;

private:
    // The one place that decides whether an address a page is about to open
    // goes to the default browser; a start it admits counts as made.
    OutsideLink DecideOutsideLink(const WebNavigation& navigation);
    // Whether this navigation may hand a login off.
    bool MayHandOffLogin(const WebNavigation& navigation) const;
    // Writes kvnlogin.dat and starts the client, which ends the launcher;
    // returns only when the hand-off failed (the player has been told).
    void HandOffLogin(const WString& url);

    Platform& m_platform;
    WebView* m_pView = nullptr;
    BrowserStartGate m_startGate;
    BrowserStartGate* m_pStartGate = &m_startGate;
    // The link a page is about to follow when it belongs to the default
    // browser: the view does not follow it, whether or not the browser was
    // started. Used up by the next navigation.
    std::optional<WString> m_strLeavingLink;
};

}  // namespace kvn
