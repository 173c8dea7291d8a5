#include <algorithm>

#include "platform/text.h"
#include "webview/web_browser.h"

namespace kvn {

namespace {
char16_t lowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

// The text starts with the prefix, ASCII letters compared in any case.
bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lowerAscii(text[i]) != prefix[i]) return false;
    return true;
}

// Blanks (the space and the other Unicode spaces and line separators) and
// control characters (U+0000 to U+001F, DEL, U+0080 to U+009F).
bool isBlankOrControl(char16_t c) {
    if (c <= 0x20 || (c >= 0x7F && c <= 0xA0)) return true;
    if (c >= 0x2000 && c <= 0x200A) return true;
    switch (c) {
        case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
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

bool isHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// A port: decimal, 0 to 65535; empty stands for the scheme's own.
bool isPort(std::u16string_view text) {
    unsigned long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + static_cast<unsigned long>(c - u'0');
        if (value > 65535) return false;
    }
    return true;
}

// Dotted IPv4: four decimal parts of 0 to 255, without leading zeros.
bool isIpv4(std::u16string_view text) {
    int parts = 0;
    for (std::size_t start = 0;; ++parts) {
        const std::size_t dot = text.find(u'.', start);
        const std::u16string_view part = text.substr(start, dot == std::u16string_view::npos ? text.npos : dot - start);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == u'0')) return false;
        int value = 0;
        for (char16_t c : part) {
            if (c < u'0' || c > u'9') return false;
            value = value * 10 + (c - u'0');
        }
        if (value > 255) return false;
        if (dot == std::u16string_view::npos) return parts == 3;
        start = dot + 1;
    }
}

// Groups of one to four hex digits separated by ":", the last one possibly
// a dotted IPv4 address (two groups); counted into groups. Empty is none.
bool ipv6Groups(std::u16string_view text, bool lastMayBeIpv4, int& groups) {
    groups = 0;
    if (text.empty()) return true;
    for (std::size_t start = 0;;) {
        const std::size_t colon = text.find(u':', start);
        const std::u16string_view group =
            text.substr(start, colon == std::u16string_view::npos ? text.npos : colon - start);
        if (colon == std::u16string_view::npos && lastMayBeIpv4 && group.find(u'.') != group.npos) {
            groups += 2;
            return isIpv4(group);
        }
        if (group.empty() || group.size() > 4) return false;
        for (char16_t c : group)
            if (!isHex(c)) return false;
        ++groups;
        if (colon == std::u16string_view::npos) return true;
        start = colon + 1;
    }
}

// An IPv6 address: eight groups, or fewer with one "::" for the zeros.
bool isIpv6(std::u16string_view text) {
    const std::size_t gap = text.find(u"::");
    int head = 0, tail = 0;
    if (gap == std::u16string_view::npos) return ipv6Groups(text, true, head) && head == 8;
    if (text.find(u"::", gap + 1) != std::u16string_view::npos) return false;
    return ipv6Groups(text.substr(0, gap), false, head) && ipv6Groups(text.substr(gap + 2), true, tail) &&
           head + tail <= 7;
}

// A host name: letters, digits, "-", ".", "_", "~", %-escapes and characters
// beyond ASCII (international names). Other ASCII punctuation, which no
// host name holds, is refused: URL readers disagree on where such a host
// ends.
bool isHostName(std::u16string_view text) {
    if (text.empty()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0x80 || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
            c == u'-' || c == u'.' || c == u'_' || c == u'~')
            continue;
        if (c == u'%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            i += 2;
            continue;
        }
        return false;
    }
    return true;
}

// The host of an authority ("user:pass@host:port"): a host name or an IPv6
// literal in brackets; a port, when there is one, is a port number.
bool hasHost(std::u16string_view authority) {
    const std::size_t at = authority.rfind(u'@');
    std::u16string_view hostPort = at == std::u16string_view::npos ? authority : authority.substr(at + 1);
    std::u16string_view port;
    if (!hostPort.empty() && hostPort.front() == u'[') {
        const std::size_t close = hostPort.find(u']');
        if (close == std::u16string_view::npos || !isIpv6(hostPort.substr(1, close - 1))) return false;
        const std::u16string_view after = hostPort.substr(close + 1);
        if (!after.empty() && after.front() != u':') return false;
        if (!after.empty()) port = after.substr(1);
    } else {
        const std::size_t colon = hostPort.find(u':');
        if (!isHostName(hostPort.substr(0, colon))) return false;
        if (colon != std::u16string_view::npos) port = hostPort.substr(colon + 1);
    }
    return isPort(port);
}
}  // namespace

bool IsWebAddress(std::u16string_view url) {
    std::size_t rest;
    if (startsWithNoCase(url, u"http://")) rest = 7;
    else if (startsWithNoCase(url, u"https://")) rest = 8;
    else return false;
    if (!isCleanText(url)) return false;
    // The authority ends where the path, query or fragment begins. A
    // backslash in it is refused: browsers read it as a slash, other URL
    // readers as part of the host, so the two would not agree on the host.
    const std::u16string_view after = url.substr(rest);
    const std::u16string_view authority = after.substr(0, after.find_first_of(u"/?#"));
    return authority.find(u'\\') == std::u16string_view::npos && hasHost(authority);
}

bool OpensInDefaultBrowser(std::u16string_view url) {
    if (url.empty()) return false;
    if (contains(url, kLoginMarker)) return false;
    if (contains(url, u"micro")) return false;
    if (contains(url, kStayInViewMarker)) return false;
    return IsWebAddress(url);
}

bool MayShowInView(std::u16string_view url) {
    for (std::u16string_view scheme : {u"http:", u"https:", u"about:", u"javascript:"})
        if (startsWithNoCase(url, scheme)) return true;
    return false;
}

namespace {
// An address as a browser loads it: without blanks and control characters
// at either end, and without tabs and line breaks anywhere.
WString AsLoaded(std::u16string_view url) {
    std::size_t begin = 0, end = url.size();
    while (begin < end && url[begin] <= 0x20) ++begin;
    while (end > begin && url[end - 1] <= 0x20) --end;
    WString clean;
    for (char16_t c : url.substr(begin, end - begin))
        if (c != u'\t' && c != u'\r' && c != u'\n') clean += c;
    return clean;
}

WString LowerAscii(std::u16string_view text) {
    WString lower(text);
    for (char16_t& c : lower) c = lowerAscii(c);
    return lower;
}
}  // namespace

std::optional<WString> WebOrigin(std::u16string_view url) {
    const WString address = AsLoaded(url);
    if (!IsWebAddress(address)) return std::nullopt;
    const bool https = startsWithNoCase(address, u"https://");
    const std::u16string_view after = std::u16string_view(address).substr(https ? 8 : 7);
    const std::u16string_view authority = after.substr(0, after.find_first_of(u"/?#"));
    const std::size_t at = authority.rfind(u'@');
    const std::u16string_view hostPort = at == std::u16string_view::npos ? authority : authority.substr(at + 1);
    // The port follows the host, which is a name or a bracketed IPv6 address.
    const std::size_t hostEnd = hostPort.front() == u'[' ? hostPort.find(u']') + 1 : hostPort.find(u':');
    const std::u16string_view host = hostPort.substr(0, hostEnd);
    const std::u16string_view port =
        hostEnd < hostPort.size() ? hostPort.substr(hostEnd + 1) : std::u16string_view();
    const int number = port.empty() ? (https ? 443 : 80) : parseDecimal(port);
    return WString(https ? u"https://" : u"http://") + LowerAscii(host) + u":" + decimal(number);
}

bool SameAddress(std::u16string_view a, std::u16string_view b) {
    // Scheme and authority in lower case, and the rest from its "/".
    const auto spelt = [](std::u16string_view url) {
        const std::size_t scheme = url.find(u"://");
        if (scheme == std::u16string_view::npos) return WString(url);
        const std::size_t end = std::min(url.find_first_of(u"/?#", scheme + 3), url.size());
        const std::u16string_view rest = url.substr(end);
        return LowerAscii(url.substr(0, end)) + (rest.empty() || rest.front() != u'/' ? u"/" : u"") + WString(rest);
    };
    return spelt(a) == spelt(b);
}

bool BrowserStartGate::admit(std::uint64_t nowMs) {
    if (m_nLastStartMs && nowMs - *m_nLastStartMs < kIntervalMs) return false;
    m_nLastStartMs = nowMs;
    return true;
}

}  // namespace kvn
