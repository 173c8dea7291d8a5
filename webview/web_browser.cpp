#include "webview/web_browser.h"

namespace kvn {

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

}  // namespace kvn
