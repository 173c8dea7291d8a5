// The external-link rule: which addresses a page may send to the system's
// shell. Properties:
// - any text: an address that leaves is an absolute http or https address
//   (scheme in any case) with a host, as GLib's URI parser reads it, holds
//   no blank, control character or broken UTF-16, and none of the markers
//   that keep an address in the view;
// - an address put together from a scheme, a separator, a host, a port and
//   a tail leaves exactly when all of those hold.
#include <glib.h>

#include <array>
#include <cctype>
#include <optional>

#include "fuzz/fuzz_support.h"
#include "webview/web_browser.h"

namespace {

using kvn::WString;

// Blanks and control characters as GLib's Unicode tables know them.
bool CleanText(const WString& text) {
    if (text.find(u'\0') != WString::npos) return false;  // GLib's conversion would stop there
    gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(text.data()),
                                  static_cast<glong>(text.size()), nullptr, nullptr, nullptr);
    if (!utf8) return false;  // broken UTF-16
    bool clean = true;
    for (const gchar* p = utf8; clean && *p; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (g_unichar_isspace(c) || g_unichar_iscntrl(c) || g_unichar_type(c) == G_UNICODE_SPACE_SEPARATOR)
            clean = false;
    }
    g_free(utf8);
    return clean;
}

bool HasMarker(const WString& url) {
    return kvn::contains(url, u"?user=") || kvn::contains(url, u"micro") ||
           kvn::contains(url, kvn::kStayInViewMarker);
}

// The host GLib's URI parser finds; nullopt when it refuses the address.
std::optional<std::string> GlibHost(const std::string& url, GUriFlags flags) {
    gchar* host = nullptr;
    if (!g_uri_split(url.c_str(), GUriFlags(flags | G_URI_FLAGS_ENCODED | G_URI_FLAGS_NON_DNS), nullptr,
                     nullptr, &host, nullptr, nullptr, nullptr, nullptr, nullptr))
        return std::nullopt;
    std::string out = host ? host : "";
    g_free(host);
    return out;
}

void CheckLeaving(const WString& url) {
    if (!kvn::OpensInDefaultBrowser(url)) return;
    KVN_PROPERTY(kvn::IsWebAddress(url));
    KVN_PROPERTY(!url.empty() && !HasMarker(url));
    KVN_PROPERTY(CleanText(url));
    const std::string utf8 = kvn::toUtf8(url);
    const char* scheme = g_uri_peek_scheme(utf8.c_str());  // lower case
    KVN_PROPERTY(scheme && (g_str_equal(scheme, "http") || g_str_equal(scheme, "https")));
    // GLib reads the host strictly, or, where strict reading fails on a
    // %-escape a browser would take, with its relaxed rules.
    KVN_PROPERTY(GlibHost(utf8, G_URI_FLAGS_NONE).value_or(GlibHost(utf8, G_URI_FLAGS_PARSE_RELAXED).value_or("")) != "");
}

WString Utf16(std::string_view bytes) {
    WString out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    static constexpr std::array<const char16_t*, 12> kSchemes = {
        u"http", u"https", u"file", u"ms-msdt", u"search-ms", u"javascript",
        u"data", u"smb", u"ftp", u"httpx", u"kvnx", u""};
    static constexpr std::array<const char16_t*, 6> kSeparators = {u"://", u":", u":/", u":\\\\", u"//", u":///"};
    WString scheme = kSchemes[in.ConsumeIntegralInRange<std::size_t>(0, kSchemes.size() - 1)];
    const bool web = scheme == u"http" || scheme == u"https";
    const std::uint16_t caseBits = in.ConsumeIntegral<std::uint16_t>();
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (caseBits >> i & 1 && scheme[i] >= u'a' && scheme[i] <= u'z') scheme[i] = char16_t(scheme[i] - 32);
    const WString separator = kSeparators[in.ConsumeIntegralInRange<std::size_t>(0, kSeparators.size() - 1)];
    const WString user = in.ConsumeBool() ? kvn::fromUtf8(in.ConsumeRandomLengthString(8)) + u"@" : WString();
    const WString host = kvn::fromUtf8(in.ConsumeRandomLengthString(16));
    const WString port = in.ConsumeBool() ? u":" + kvn::decimal(in.ConsumeIntegral<std::uint16_t>()) : WString();
    const std::string tailBytes = in.ConsumeRandomLengthString(64);
    const WString tail = in.ConsumeBool() ? Utf16(tailBytes) : kvn::fromUtf8(tailBytes);
    const WString rest = Utf16(in.ConsumeRemainingBytesAsString());

    CheckLeaving(rest);
    CheckLeaving(kvn::fromUtf8(std::string(reinterpret_cast<const char*>(data), size)));

    // The parts as a page would put them together; the pieces that would
    // change where the host ends are left out of the user part.
    const auto delimits = [](const WString& s, std::u16string_view set) {
        return s.find_first_of(set) != WString::npos;
    };
    // Host names hold letters, digits, "-._~" and characters beyond ASCII.
    for (char16_t c : host)
        if (c < 0x80 && !std::isalnum(c) && c != u'-' && c != u'.' && c != u'_' && c != u'~') return 0;
    if (delimits(user.substr(0, user.size() - (user.empty() ? 0 : 1)), u"/?#\\@")) return 0;
    const WString url = scheme + separator + user + host + port + u"/" + tail;
    CheckLeaving(url);
    // Another separator whose empty neighbours made "://" after all.
    if (separator != u"://" && url.compare(scheme.size(), 3, u"://") == 0) return 0;
    const bool expected = web && separator == u"://" && !host.empty() && CleanText(url) && !HasMarker(url);
    KVN_PROPERTY(kvn::OpensInDefaultBrowser(url) == expected);
    return 0;
}
