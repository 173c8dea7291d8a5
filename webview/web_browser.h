// The embedded web view of the launcher window: plain look, outside links
// to the default browser, and the hand-off of a completed login to the game
// client.
#pragma once

#include "platform/platform.h"

namespace kvn {

class CWebBrowser : public WebViewEvents {
public:
    explicit CWebBrowser(Platform& platform) : m_platform(platform) {}

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
    // Login hand-off.
    void onBeforeNavigate2(const WString& url) override;

private:
    Platform& m_platform;
    WebView* m_pView = nullptr;
};

// Addresses that contain this marker stay in the view.
inline constexpr char16_t kStayInViewMarker[] = u"kvnin";

}  // namespace kvn
