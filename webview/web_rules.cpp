#include "webview/web_browser.h"

namespace kvn {

// Placeholder until the login hand-off lands: navigations proceed.
void CWebBrowser::onTranslateUrl(const WString& /*url*/) {}
void CWebBrowser::onBeforeNavigate2(const WString& /*url*/) {}

}  // namespace kvn
