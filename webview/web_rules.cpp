#include "app/config.h"
#include "platform/fixed_text.h"
#include "platform/text.h"
#include "webview/web_browser.h"

namespace kvn {

namespace {
constexpr char16_t kUserMarker[] = u"?user=";
constexpr std::size_t kMaxLoginBytes = 255;  // 256-byte buffer with its terminator

char16_t lowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

// The text starts with the prefix, ASCII letters compared in any case.
bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lowerAscii(text[i]) != prefix[i]) return false;
    return true;
}

// Blanks (the space and the other Unicode spaces, zero-width ones and the
// byte-order mark included) and control characters (C0, DEL, C1).
bool isBlankOrControl(char16_t c) {
    if (c <= 0x20 || (c >= 0x7F && c <= 0xA0)) return true;
    if (c >= 0x2000 && c <= 0x200B) return true;
    switch (c) {
        case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000: case 0xFEFF:
            return true;
        default:
            return false;
    }
}

// No blank, no control character and no lone surrogate.
bool isCleanText(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (isBlankOrControl(c)) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

bool allDigits(std::u16string_view text) {
    for (char16_t c : text)
        if (c < u'0' || c > u'9') return false;
    return true;
}

// The host of an authority ("user:pass@host:port"): not empty; a port, when
// there is one, is decimal; an IPv6 literal stands in brackets.
bool hasHost(std::u16string_view authority) {
    const std::size_t at = authority.rfind(u'@');
    std::u16string_view hostPort = at == std::u16string_view::npos ? authority : authority.substr(at + 1);
    std::u16string_view port;
    if (!hostPort.empty() && hostPort.front() == u'[') {
        const std::size_t close = hostPort.find(u']');
        if (close == std::u16string_view::npos || close == 1) return false;
        const std::u16string_view after = hostPort.substr(close + 1);
        if (!after.empty() && after.front() != u':') return false;
        if (!after.empty()) port = after.substr(1);
    } else {
        const std::size_t colon = hostPort.find(u':');
        if (colon == 0 || hostPort.empty()) return false;
        if (colon != std::u16string_view::npos) port = hostPort.substr(colon + 1);
    }
    return allDigits(port);
}
}  // namespace

bool IsWebAddress(std::u16string_view url) {
    std::size_t rest;
    if (startsWithNoCase(url, u"http://")) rest = 7;
    else if (startsWithNoCase(url, u"https://")) rest = 8;
    else return false;
    if (!isCleanText(url)) return false;
    // The authority ends where the path, query or fragment begins; browsers
    // read a backslash there as a slash.
    const std::u16string_view after = url.substr(rest);
    return hasHost(after.substr(0, after.find_first_of(u"/?#\\")));
}

bool OpensInDefaultBrowser(std::u16string_view url) {
    if (url.empty()) return false;
    if (contains(url, kUserMarker)) return false;
    if (contains(url, u"micro")) return false;
    if (contains(url, kStayInViewMarker)) return false;
    return IsWebAddress(url);
}

bool MayShowInView(std::u16string_view url) {
    for (std::u16string_view scheme : {u"http:", u"https:", u"about:", u"javascript:"})
        if (startsWithNoCase(url, scheme)) return true;
    return false;
}

bool BrowserStartGate::admit(std::uint64_t nowMs) {
    if (m_nLastStartMs && nowMs - *m_nLastStartMs < kIntervalMs) return false;
    m_nLastStartMs = nowMs;
    return true;
}

// Ordinary web links leave the view for the user's default browser; the
// site's own pages, marked addresses and the login result stay. Anything
// that is not a web address opens nothing outside the launcher, and a page
// cannot start the browser more than once a second.
void CWebBrowser::onTranslateUrl(const WString& url) {
    if (!OpensInDefaultBrowser(url)) return;
    if (!m_pStartGate->admit(m_platform.system.monotonicMs())) return;
    m_platform.shell.openInDefaultBrowser(url);
}

// A navigation carrying "?user=" ends the login: the text after the marker
// goes to kvnlogin.dat in the client's folder, the client is started and the
// launcher ends. A text that does not fit the hand-off buffers is refused
// whole rather than cut, and the launcher stays open.
// The view follows web pages only (see MayShowInView).
bool CWebBrowser::onBeforeNavigate2(const WString& url) {
    if (!contains(url, kUserMarker)) return MayShowInView(url);

    FixedText<256> address;
    if (!address.assign(url)) {
        AfxMessageBox(m_platform, u"kvnlogin.dat 写入失败");
        return MayShowInView(url);
    }
    const std::size_t at = address.str().find(kUserMarker);
    const WString login = untilZero(address.str().substr(at + 6));

    const std::optional<Bytes> narrow = m_platform.system.toAnsi(login);
    if (!narrow || narrow->size() > kMaxLoginBytes) {
        AfxMessageBox(m_platform, u"kvnlogin.dat 写入失败");
        return MayShowInView(url);
    }

    if (!m_platform.files.writeFile(m_strClientDir + u"/kvnlogin.dat", *narrow,
                                    FileAccess::OwnerOnly)) {
        AfxMessageBox(m_platform, u"kvnlogin.dat 写入失败");
        return MayShowInView(url);
    }
    m_platform.system.sleep(1);

    ProcessStart start;
    start.application = m_strClientDir + u"/Launcher.exe";
    start.workingDirectory = m_strClientDir;
    if (!m_platform.processes.start(start)) {
        AfxMessageBox(m_platform, u"Launcher.exe 启动失败");
        return MayShowInView(url);
    }
    m_platform.processes.exitProcess(0);
    return false;  // not reached: the launcher has ended
}

}  // namespace kvn
