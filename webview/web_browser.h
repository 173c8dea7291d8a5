// The embedded web view of the launcher window: plain look, outside links
// to the default browser, and the hand-off of a completed login to the game
// client.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace kvn {

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

    // External-link rule.
    void onTranslateUrl(const WString& url) override;
    // Login hand-off; false when the view is not to follow the address.
    bool onBeforeNavigate2(const WString& url) override;

private:
    Platform& m_platform;
    WebView* m_pView = nullptr;
    BrowserStartGate m_startGate;
    BrowserStartGate* m_pStartGate = &m_startGate;
};

}  // namespace kvn
